#include "analysers/CPdfAnalyser.h"

#include "disk/LittleEndian.h"
#include "scan/CFileTypeCatalogue.h"

#include <algorithm>

namespace {
constexpr uint32_t kPdfSignature = 0x46445025; // "%PDF"
} // namespace

void CPdfAnalyser::Kept::add(int64_t at)
{
    if (firstCount < kFirstKept) {
        first[firstCount++] = at;
        return;
    }
    recent[recentNext] = at;
    recentNext = (recentNext + 1) % kRecentKept;
    recentCount = std::min(recentCount + 1, kRecentKept);
}

bool CPdfAnalyser::Kept::contains(int64_t at) const
{
    return std::find(first, first + firstCount, at) != first + firstCount
        || std::find(recent, recent + recentCount, at) != recent + recentCount;
}

CPdfAnalyser::CPdfAnalyser(const CPdfEndMarkers* markers)
    : m_markers(markers)
{
    if (!m_markers) {
        m_ownMarkers.reset(new CPdfEndMarkers);
        m_markers = m_ownMarkers.get();
    }
}

int CPdfAnalyser::identify(const uint8_t* firstBlock)
{
    if (!firstBlock || le::u32(firstBlock) != kPdfSignature)
        return CFileTypeCatalogue::NotWanted;
    m_typeCode = CFileTypeCatalogue::Pdf;
    return m_typeCode;
}

int64_t CPdfAnalyser::confirmedAt(int64_t startxref, int64_t markerStart) const
{
    const int64_t own = m_startBlock * static_cast<int64_t>(m_blockSize);
    if (startxref < 0 || startxref > markerStart - own)
        return -1;
    const int64_t at = own + startxref;
    return m_xrefs.contains(at) || m_objects.contains(at) ? at : -1;
}

void CPdfAnalyser::takeBlockFindings(int64_t blockIndex, int blockSize)
{
    if (m_markers->blockIndex() != blockIndex)
        return;
    const int64_t own = m_startBlock * static_cast<int64_t>(blockSize);
    for (int64_t at : m_markers->xrefs())
        if (at >= own)
            m_xrefs.add(at);
    for (int64_t at : m_markers->objects())
        if (at >= own)
            m_objects.add(at);
    for (const CPdfEndMarkers::Marker& m : m_markers->markers()) {
        if (m.start < own)
            continue; // another file's bytes, before this PDF
        const int64_t target = confirmedAt(m.startxref, m.start);
        const bool confirmed = target >= 0;
        if (m_fence >= 0) {
            // Only an update written after the other document moves the
            // end on. That document may end in this very block, after
            // this PDF has seen it: then the marker waits for its end.
            if (target < m_fence)
                continue;
            if (m_fenceDocumentEnd < 0) {
                m_pendingTarget = target;
                m_pendingEnd = m.end;
                continue;
            }
            if (target < m_fenceDocumentEnd)
                continue;
            m_fence = -1;
        }
        m_lastEnd = m.end;
        m_lastEndBlock = blockIndex;
        if (confirmed)
            m_confirmedEnd = m.end;
    }
}

bool CPdfAnalyser::consume(const uint8_t* block, int blockSize, int64_t blockIndex, int trailingZeroBytes, int64_t,
                           int64_t)
{
    if (!block || blockSize < CPdfEndMarkers::kCarry || blockIndex < m_startBlock)
        return false;
    m_blockSize = blockSize;
    if (m_ownMarkers)
        m_ownMarkers->scan(block, blockSize, blockIndex);
    takeBlockFindings(blockIndex, blockSize);

    if (m_fence >= 0) {
        // Held at the fence: give up waiting for an update after a while.
        const int64_t here = (blockIndex + 1) * static_cast<int64_t>(blockSize);
        const bool waitedAfterEnd = m_fenceDocumentEnd >= 0 && here - m_fenceDocumentEnd > kFenceWaitAfterEnd;
        if (waitedAfterEnd || here - m_fence > kFenceWaitLimit)
            return finishAtCandidate();
        return false;
    }
    // Zeros after the last marker: the file ended there, unless that marker
    // is unconfirmed and an earlier one was.
    if (trailingZeroBytes >= 4 && m_lastEnd >= 0 && m_lastEndBlock >= blockIndex - 1
        && (m_confirmedEnd < 0 || m_confirmedEnd == m_lastEnd))
        return finishAt(m_lastEnd, m_confirmedEnd == m_lastEnd);
    return false;
}

int64_t CPdfAnalyser::candidateEnd() const
{
    if (m_fence >= 0)
        return m_fencedConfirmedEnd >= 0 ? m_fencedConfirmedEnd : m_fencedLastEnd;
    return m_confirmedEnd >= 0 ? m_confirmedEnd : m_lastEnd;
}

bool CPdfAnalyser::finishAtCandidate()
{
    const int64_t end = candidateEnd();
    if (end < 0)
        return false;
    const int64_t confirmed = m_fence >= 0 ? m_fencedConfirmedEnd : m_confirmedEnd;
    return finishAt(end, end == confirmed);
}

bool CPdfAnalyser::finishAt(int64_t end, bool confirmed)
{
    const int64_t length = end - m_startBlock * static_cast<int64_t>(m_blockSize);
    if (length <= 0)
        return false;
    m_length = length;
    m_endConfirmed = confirmed;
    return true;
}

void CPdfAnalyser::fence(int64_t at)
{
    if (m_fence >= 0 || candidateEnd() < 0)
        return;
    m_fence = at;
    m_fencedLastEnd = m_lastEnd;
    m_fencedConfirmedEnd = m_confirmedEnd;
    m_fenceDocumentEnd = -1;
    m_pendingEnd = -1;
}

void CPdfAnalyser::fencingDocumentEnded(int64_t end)
{
    if (m_fence < 0 || m_fenceDocumentEnd >= 0)
        return;
    m_fenceDocumentEnd = end;
    if (m_pendingEnd >= 0 && m_pendingTarget >= end) {
        m_fence = -1;
        m_lastEnd = m_confirmedEnd = m_pendingEnd;
        m_lastEndBlock = -1;
    }
    m_pendingEnd = -1;
}
