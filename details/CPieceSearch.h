#pragma once

#include "details/CDetailsBudget.h"
#include "scan/CDocumentDetails.h"
#include "scan/CFileNode.h"

#include <QCoreApplication>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <limits>
#include <vector>

class CInflateProbe;
class IVolume;

// What the search for a broken document's pieces may use and must respect,
// shared by the formats' searches: the volume and its cluster grid, the
// stretches that whole documents own (no piece of another document lies
// there), how far from the document a piece may lie, and the positions of
// the record signatures found in that reach (read once for all documents).
//
// A search proposes assemblies; offer() proves each over its assembled
// bytes (CAssemblyCheck) and keeps those that pass. Exactly one is the
// document; two that both pass leave it as it was, saying so.
class CPieceSearch
{
    Q_DECLARE_TR_FUNCTIONS(CPieceSearch)

public:
    struct Settings
    {
        // Pieces lie within this many bytes before or after the document's
        // first byte.
        int64_t distance = int64_t(64) << 20;
        int maxPieces = 3;
        // Cluster size and where the clusters begin on the source; 0: from
        // where the documents start. For documents outside every stretch
        // of `grids`.
        int64_t cluster = 0;
        int64_t clusterOrigin = 0;
        // The grids the file systems read say (their boot sectors): a
        // document that starts in `[offset, offset + length)` has its pieces
        // there, on clusters of `cluster` bytes from `origin` (both on the
        // source). A file system's own word beats what the documents'
        // starts suggest: with few documents, or small clusters, those
        // suggest a coarser grid than the real one.
        struct Grid
        {
            int64_t offset = 0;
            int64_t length = 0;
            int64_t cluster = 0;
            int64_t origin = 0;
        };
        QVector<Grid> grids;
        // Assemblies proved per document at most.
        int maxCandidates = 4096;
        CDetailsBudget budget = CDetailsBudget::large();
    };

    // Signatures the formats anchor on, found anywhere in the reach.
    enum Anchor
    {
        ZipEnd = 0,   // "PK\5\6", a ZIP end record
        ZipLocal = 1, // "PK\3\4", a ZIP local header
        PdfStartxref = 2, // "startxref", near a PDF's end
        PdfObject = 3,    // " obj", after an object's number and generation
        PdfHeader = 4,    // "%PDF-", a PDF's first bytes
        PdfXref = 5,      // "xref" (not of "startxref"), a cross-reference table
        ZipCentral = 6,   // "PK\1\2", a ZIP central directory entry
        OleRoot = 7,      // "Root Entry" in UTF-16, a compound document's first directory entry
        AnchorKinds = 8,
    };

    CPieceSearch(IVolume* volume, const Settings& settings, const std::atomic<bool>* cancel = nullptr);

    // Stretches that belong to documents proved whole.
    void setOwned(QVector<CFileNode::Extent> owned);
    // A document found whole meanwhile owns its pieces too.
    void addOwned(const QVector<CFileNode::Extent>& pieces) { setOwned(m_owned + pieces); }
    // Stretches of documents whole by their tables alone (compound ones):
    // not owned, since such a stretch may hold another document's piece;
    // but an assembly through one that gives the same bytes as one through
    // free clusters is no second answer, only a copy of the document.
    void setWeak(QVector<CFileNode::Extent> weak);
    // The grid of documents outside every file system's stretch.
    void setCluster(int64_t cluster, int64_t origin);
    // The file system's grid `offset` lies in, or null.
    static const Settings::Grid* gridAt(const Settings& settings, int64_t offset);
    // The cluster size the documents' first bytes tell: the largest power
    // of two from 512 B to 64 KiB on which nine in ten of them lie at the
    // same place; 4096 when too few documents tell.
    static int64_t inferCluster(const QVector<int64_t>& starts);
    // Reads the reach of every document starting at `starts` once and
    // records where the anchors lie.
    void indexAnchors(const QVector<int64_t>& starts);
    // Anchors of `kind` within [from, to), ascending.
    QVector<int64_t> anchors(Anchor kind, int64_t from, int64_t to) const;

    IVolume* volume() const { return m_volume; }
    const Settings& settings() const { return m_settings; }
    // The cluster size of the document begun.
    int64_t cluster() const { return m_cluster; }
    // Whether `offset` lies on the cluster grid there.
    bool onGrid(int64_t offset) const;
    // Whether a document found whole owns the byte at `offset`.
    bool isOwned(int64_t offset) const { return owned(offset, 1); }
    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }
    // Exactly `length` bytes of the volume at `offset`.
    bool read(int64_t offset, void* buffer, int64_t length) const;

    // One document's search.
    struct Outcome
    {
        enum Kind
        {
            NotFound,
            Whole,     // `pieces` is the document; `details` its proof
            Ambiguous, // two assemblies both passed; `details` says so
            Contradicted, // called whole, but a document proved whole holds some of its bytes
        };
        Kind kind = NotFound;
        QVector<CFileNode::Extent> pieces;
        CDocumentDetails details;
    };
    void begin(const CFileNode& node);
    const CFileNode& node() const { return m_node; }
    // Proves an assembly of the document begun; false once no more may be
    // offered (the candidates are spent or the search was stopped).
    bool offer(const QVector<CFileNode::Extent>& pieces);
    // Whether the pieces may be the document's at all: on the volume,
    // apart from each other and from what whole documents own, within the
    // reach, at most the most pieces.
    bool admissible(const QVector<CFileNode::Extent>& pieces) const;
    Outcome outcome() const;
    // Assemblies that passed so far.
    int passed() const { return m_passed.size(); }

    // The clusters in reach (on the document's grid, apart from the first
    // piece [start, start + firstLength) and from what is owned) whose
    // bytes `probe` accepts as the continuation of the stream it holds.
    // Clusters of the same bytes (zeros, copies) are left out: no proof
    // could tell them apart. Empty when more than `most` remain.
    QVector<int64_t> continuations(CInflateProbe& probe, int64_t firstLength, int most);

    // Why a document is damaged whose bytes hold a piece of the document
    // found whole at `start`.
    static QString contradictionReason(int64_t start);

    // Finds the pieces of one broken document of a type it knows.
    Outcome reassemble(const CFileNode& node);

private:
    bool owned(int64_t offset, int64_t length) const;
    static QVector<CFileNode::Extent> merged(QVector<CFileNode::Extent> runs);
    static bool overlaps(const QVector<CFileNode::Extent>& runs, int64_t offset, int64_t length);
    bool throughWeak(const QVector<CFileNode::Extent>& pieces) const;
    bool sameBytes(const QVector<CFileNode::Extent>& a, const QVector<CFileNode::Extent>& b) const;
    // The one passing assembly through free clusters alone when every other
    // gives the same bytes; -1 when there is none such.
    int soleAnswer() const;

    IVolume* m_volume = nullptr;
    Settings m_settings;
    const std::atomic<bool>* m_cancel = nullptr;
    // The cluster size of the document begun; the grid outside the file
    // systems' stretches.
    int64_t m_cluster = 4096;
    int64_t m_looseCluster = 4096;
    int64_t m_looseOrigin = 0;
    // The stretch the document begun must keep to: its file system's.
    int64_t m_regionFrom = 0;
    int64_t m_regionTo = std::numeric_limits<int64_t>::max();
    QVector<CFileNode::Extent> m_owned;
    QVector<CFileNode::Extent> m_weak;
    std::vector<int64_t> m_anchors[AnchorKinds];

    CFileNode m_node;
    int m_offered = 0;
    QVector<QVector<CFileNode::Extent>> m_passed;
    QVector<CDocumentDetails> m_passedDetails;
};
