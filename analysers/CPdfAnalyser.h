#pragma once

#include "analysers/CPdfEndMarkers.h"
#include "analysers/IAnalyser.h"

#include <memory>

// A PDF ends just past the line end of its last "%%EOF". A marker is
// confirmed when the number after the "startxref" before it, counted from
// the PDF's first byte, lands on an "xref" keyword or an object header (a
// cross-reference stream) of this PDF; a PDF ends at its last confirmed
// marker, or at its last marker of any kind when none is confirmed.
//
// The blocks are scanned for markers and headers by CPdfEndMarkers (the
// carving pass runs one for all open PDFs). The places a startxref may
// point at have passed by the time its marker comes, so the analyser keeps
// a bounded list of them: the first ones (a linearized file points back at
// its first-page cross-reference section) and the most recent ones (every
// other writer puts the cross-reference section just before startxref).
//
// Deleted files leave zeros behind their last byte: the analyser finishes
// by itself in a block ending in four zero bytes when its last marker was
// found in that block or the one before and is the one it would end at.
// Otherwise the carving pass finishes it when the document is over (see
// CSignatureCarver): the next document begins, or the volume ends.
//
// A document that begins while the PDF has already seen a marker may be the
// next file or one embedded in an incremental update. The carving pass then
// fences the PDF: its end is held at the marker it had, and only a marker
// confirmed by a cross-reference section after the end of that other
// document moves it on (an update written after the embedded one).
class CPdfAnalyser : public IAnalyser
{
public:
    // `markers`, if given, is scanned by the carving pass over each block
    // before the block is offered to the analyser; otherwise the analyser
    // scans each block itself.
    explicit CPdfAnalyser(const CPdfEndMarkers* markers = nullptr);

    static constexpr int kMarkerLength = CPdfEndMarkers::kMarkerLength;
    // Places remembered where a startxref may point: the first and the
    // most recent of each kind.
    static constexpr int kFirstKept = 16;
    static constexpr int kRecentKept = 48;
    // How long a fenced PDF waits for a confirming marker: past the end of
    // the document that fenced it, and past the fence at all.
    static constexpr int64_t kFenceWaitAfterEnd = 4ll << 20;
    static constexpr int64_t kFenceWaitLimit = 256ll << 20;

    int identify(const uint8_t* firstBlock) override;
    bool consume(const uint8_t* block, int blockSize, int64_t blockIndex, int trailingZeroBytes, int64_t blocksAfter,
                 int64_t offsetInBuffer) override;
    bool structureComplete() const override { return m_length > 0 && m_endConfirmed; }

    // Volume byte offset just past the line end of the marker the PDF would
    // end at now (the last confirmed, else the last one), -1 if none.
    int64_t candidateEnd() const;
    bool hasConfirmedEnd() const { return m_confirmedEnd >= 0; }
    // Ends the document at its candidate end. False (and nothing changes)
    // when there is none.
    bool finishAtCandidate();

    // Another document begins at volume offset `at` while this PDF has a
    // candidate end.
    void fence(int64_t at);
    bool fenced() const { return m_fence >= 0; }
    int64_t fenceStart() const { return m_fence; }
    // The document that fenced this PDF ended at volume offset `end`.
    void fencingDocumentEnded(int64_t end);
    bool fencingDocumentHasEnded() const { return m_fenceDocumentEnd >= 0; }

private:
    struct Kept
    {
        int64_t first[kFirstKept];
        int64_t recent[kRecentKept];
        int firstCount = 0;
        int recentCount = 0;
        int recentNext = 0;
        void add(int64_t at);
        bool contains(int64_t at) const;
    };

    void takeBlockFindings(int64_t blockIndex, int blockSize);
    // Where a marker's startxref lands when that confirms it, else -1.
    int64_t confirmedAt(int64_t startxref, int64_t markerStart) const;
    bool finishAt(int64_t end, bool confirmed);

    std::unique_ptr<CPdfEndMarkers> m_ownMarkers;
    const CPdfEndMarkers* m_markers;
    int m_blockSize = 512;
    Kept m_xrefs;
    Kept m_objects;
    // Volume offsets just past the last marker and the last confirmed one;
    // the block whose scan found the last marker.
    int64_t m_lastEnd = -1;
    int64_t m_confirmedEnd = -1;
    int64_t m_lastEndBlock = -1;
    bool m_endConfirmed = false;
    // The fence: where the other document began, what this PDF's end was
    // then, and where the other document ended (-1 while it is open).
    int64_t m_fence = -1;
    int64_t m_fencedLastEnd = -1;
    int64_t m_fencedConfirmedEnd = -1;
    int64_t m_fenceDocumentEnd = -1;
    // A confirmed marker met while that document was still open, and where
    // its startxref landed.
    int64_t m_pendingEnd = -1;
    int64_t m_pendingTarget = -1;
};
