#pragma once

#include "analysers/CPdfEndMarkers.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class CFileNode;
class CNotifyFileNode;
class CPdfAnalyser;
class IAnalyser;

// Finds documents in the raw byte stream of a volume, window by window.
//
// The volume is a stream of 512-byte blocks numbered from 0. At every block
// (every sector: clusters need not lie on any coarser grid, and partitions
// may start at sector 63) the pass looks for the signature of a PDF, a ZIP
// archive or a compound document and opens an analyser for each hit; every
// open analyser is offered every following block until it knows where its
// document ends. Windows are handed in volume order; the block counter and
// the open analysers carry over from one window to the next, so a document
// may begin in one window and end in a later one.
//
// A PDF whose end block holds other bytes than zeros after it keeps the
// last "%%EOF" it saw (the last confirmed one, see CPdfAnalyser) as a
// candidate end; it is finished there when the next document opens, when
// the volume ends, or when it would be pushed out of the open list. The
// document that opens may be embedded in an incremental update of the PDF:
// the PDF is then fenced at its candidate, and moves on only to a marker
// confirmed past that document's end; a second document, once the first
// has ended, finishes it.
//
// Documents shorter than kMinimumLength are reported only when their own
// structure shows them whole (IAnalyser::structureComplete()).
class CSignatureCarver
{
public:
    // At most this many documents are followed at once; the oldest is
    // dropped when another one opens.
    static constexpr int kMaxOpenAnalysers = 11;
    // Shorter findings are noise, not documents.
    static constexpr int64_t kMinimumLength = 1024;

    CSignatureCarver();
    ~CSignatureCarver();

    CSignatureCarver(const CSignatureCarver&) = delete;
    CSignatureCarver& operator=(const CSignatureCarver&) = delete;

    // Length of the volume in bytes: a document that would end past it is
    // cut by the end of the device and is not reported. 0: unknown.
    void setVolumeLength(int64_t length) { m_volumeLength = length; }
    int64_t volumeLength() const { return m_volumeLength; }

    // Analyses one window of `windowLength` bytes in blocks of `blockSize`.
    void carveWindow(CNotifyFileNode* relay, const uint8_t* window, int64_t windowLength, int blockSize);

    // Called once after the last window of a pass that ran to the end of the
    // volume (never after a stop): PDFs still open end at their candidate.
    void finishPass(CNotifyFileNode* relay);

    // The stretch being read ends here and the bytes after it are not read
    // (a live file holds them): every open document ends as at the end of
    // the volume, and the next stretch starts with none open
    // (startAtBlock() then says where it begins).
    void endRun(CNotifyFileNode* relay);

    // A pass over unused space has documents that run into bytes not read
    // (the end of a run, bytes in use inside one, or a length past the
    // stretch they lie in) posted as cut instead of dropped, so that the
    // pass can try them on past those bytes. A cut is a carved record
    // marked incomplete whose one extent holds the bytes read of it; its
    // size is that of the record it would have been posted as there (a PDF
    // ending at its candidate), 0 when none. Off by default.
    void setReportCuts(bool on) { m_reportCuts = on; }
    bool reportsCuts() const { return m_reportCuts; }
    static bool isCut(const CFileNode& node);

    // The signature check of one block: opens an analyser when the block
    // starts a document and returns its type code (5, 1 or 2), else 100.
    int detectSignature(const uint8_t* block, int64_t offsetInWindow, uint64_t blockIndex);

    uint64_t blockCounter() const { return m_blockCounter; }
    // A pass that goes on from an earlier scan starts at this block instead
    // of 0 (before the first window, or after endRun()).
    void startAtBlock(uint64_t block) { m_blockCounter = block; }
    // The first block of the oldest document still followed, or the next
    // block when none is: a pass restarted there finds them all again.
    uint64_t earliestOpenBlock() const;
    int openAnalysers() const { return static_cast<int>(m_open.size()); }
    // Whether a new carver started at `block` would be in this one's state
    // there: no document is followed, and no PDF end-marker scan ran on the
    // block before (whose last bytes the next scan would carry over).
    bool idleAt(uint64_t block) const
    {
        return m_open.empty() && m_markers.blockIndex() + 1 != static_cast<int64_t>(block);
    }

private:
    struct Open
    {
        std::unique_ptr<IAnalyser> analyser;
        CPdfAnalyser* pdf; // the same analyser when it is a PDF's
    };

    void open(std::unique_ptr<IAnalyser> analyser, CPdfAnalyser* pdf, uint64_t blockIndex);
    // An analyser said it has finished: report it when it is a document,
    // then delete it. Returns false when it stays open (a type code we do
    // not know).
    bool settle(IAnalyser* analyser);
    // A document begins at volume offset `at`: fences every open PDF that
    // has a candidate end, and finishes those fenced already.
    void fencePdfs(int64_t at);
    // Finishes every open PDF that has a candidate end, oldest first.
    void finishPdfsAtCandidates();
    // Whether a newer open PDF began before the end marker of `pdf`: then
    // that marker is the newer document's, and `pdf` (whose own end was
    // overwritten) would swallow it.
    bool endsOnANewerPdfsMarker(const IAnalyser* pdf) const;
    void remove(IAnalyser* analyser);
    // Posts the document from `startBlock` as cut where the bytes read end
    // (`readEnd`, a volume offset), with the record it would have been
    // (`fallback`, may be null).
    void postCut(int code, uint64_t startBlock, int64_t readEnd, CFileNode* fallback);

    std::vector<Open> m_open; // oldest first
    int m_openPdfs = 0;
    CPdfEndMarkers m_markers;
    // The relay of the window being carved.
    CNotifyFileNode* m_relay = nullptr;
    QString m_typeNames[9];
    uint64_t m_blockCounter = 0;
    int64_t m_volumeLength = 0;
    int m_blockSize = 512;
    bool m_reportCuts = false;
    // Where the bytes read end while endRun() posts cuts; -1 otherwise.
    int64_t m_cutAt = -1;
};
