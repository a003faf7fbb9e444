#pragma once

#include "disk/CUnreadableRanges.h"
#include "scan/CFileNode.h"

#include <QString>
#include <QVector>

// Which bytes of a found document lie on sectors that could not be read.
// Such a document is not the document the disk once held, whatever its
// format check says of the zeros that stand in for those sectors: it is
// damaged, and the reason says where.
class CUnreadableDocument
{
public:
    // The document's bytes on the source, in file order, up to its size
    // (resident bytes and sparse runs have none on the source).
    static QVector<CFileNode::Extent> sourceRuns(const CFileNode& node);
    // The parts of those that `unreadable` lists, in file order.
    static QVector<CFileNode::Extent> runs(const CFileNode& node, const CUnreadableRanges& unreadable);
    // "unreadable sectors at bytes A to B, ..." (source offsets, the last
    // byte included; the first few places, and how many more).
    static QString reason(const QVector<CFileNode::Extent>& runs);
    // Marks `details` (the node's, or ones about to be given to it) damaged
    // with that reason when any of the node's bytes is unreadable; returns
    // whether it did.
    static bool mark(const CFileNode& node, const CUnreadableRanges& unreadable, CDocumentDetails* details);

    static constexpr int kPlacesNamed = 3;
};
