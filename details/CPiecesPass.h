#pragma once

#include "details/CPieceSearch.h"
#include "scan/CDocumentDetails.h"
#include "scan/CFileNode.h"

#include <QHash>
#include <QVector>

#include <atomic>

class IVolume;

// The search for broken documents' pieces over one scan's documents, once
// all of them were read: the stretches of the whole ones are off limits,
// the reach of the broken ones is read once for the anchors, and each
// broken one is searched in turn.
class CPiecesPass
{
public:
    struct Found
    {
        quint64 ticket = 0;
        CFileNode node;
        CPieceSearch::Outcome outcome;
        // What its search took.
        double seconds = 0;
        // A document no listing had: its first piece did not carve (it ran
        // into other bytes the carving took for its own). `node` is all of
        // it, pieces and details included; `ticket` is 0.
        bool newDocument = false;
    };

    // What one document's read found (a later read of the same ticket
    // replaces it). Only carved documents of a type whose pieces can be
    // searched for, and whose structure broke, are searched.
    void note(quint64 ticket, const CFileNode& node, const CDocumentDetails& details);
    static bool searchable(const QString& typeName);
    // Whether a whole document of this type was proved by its content
    // (checksums, offsets of every object), not by its tables alone: a
    // compound document's stream sectors carry no check, so a stretch
    // carved across a piece boundary can pass. Only such documents' bytes
    // are off limits to the search; a compound document that holds a
    // piece of an archive proved whole comes back damaged.
    static bool provenByContent(const QString& typeName);
    bool hasBroken() const { return !m_broken.isEmpty(); }

    // Searches every broken document; only those with an outcome (whole, or
    // two assemblies passing, or a compound document contradicted) come back. Then the local headers on the grid
    // in the reach that start no listed document and lie in no whole one are
    // searched
    // as documents of their own; those found whole come back as new. `indexSeconds` gets the time spent
    // reading the reach for anchors.
    QVector<Found> run(IVolume* volume, const CPieceSearch::Settings& settings, const std::atomic<bool>* cancel,
                       double* indexSeconds = nullptr) const;

private:
    QHash<quint64, QVector<CFileNode::Extent>> m_wholeRuns;
    QHash<quint64, QVector<CFileNode::Extent>> m_weakRuns;
    // Every listed document's stretch (its first byte is no new start).
    QHash<quint64, QVector<CFileNode::Extent>> m_listedRuns;
    QHash<quint64, CFileNode> m_broken;
};
