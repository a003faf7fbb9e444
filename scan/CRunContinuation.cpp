#include "scan/CRunContinuation.h"

#include "details/CAssemblyCheck.h"
#include "disk/IVolume.h"
#include "scan/CFreeSpaceRuns.h"
#include "scan/CNotifyFileNode.h"
#include "scan/CSignatureCarver.h"

#include <algorithm>

namespace {

constexpr int64_t kSector = 512;
// The stream is carved a chunk at a time; after each one the carving
// stops once the document has been settled.
constexpr int64_t kChunk = int64_t(1) << 20;

} // namespace

CRunContinuation::CRunContinuation(IVolume* volume, const CFreeSpaceRuns& runs, const std::atomic<bool>* running)
    : m_volume(volume)
    , m_runs(runs)
    , m_running(running)
{
}

bool CRunContinuation::fallbackOf(const CFileNode& cut, CFileNode& record)
{
    if (cut.size <= 0)
        return false;
    record = cut;
    record.incomplete = false;
    record.extents.clear();
    return true;
}

std::vector<CRunContinuation::Piece> CRunContinuation::piecesFrom(int64_t start, int64_t firstEnd) const
{
    std::vector<Piece> pieces;
    pieces.push_back({start, firstEnd - start});
    int64_t reach = 0;
    CFreeSpaceRuns::Run run;
    int64_t at = firstEnd;
    // Each turn adds a piece past the last one, or ends.
    while (static_cast<int>(pieces.size()) < kMaxPieces && reach < kMaxReach && m_runs.nextUnused(at, run)) {
        if (run.offset < at || run.length <= 0)
            break;
        const int64_t length = std::min(run.length, kMaxReach - reach);
        if (run.offset == pieces.back().offset + pieces.back().length)
            pieces.back().length += length; // no bytes in use between
        else
            pieces.push_back({run.offset, length});
        reach += length;
        at = run.offset + length;
    }
    return pieces;
}

bool CRunContinuation::carveAlong(const std::vector<Piece>& pieces, int64_t startByte, CFileNode& found)
{
    int64_t total = 0;
    for (const Piece& p : pieces)
        total += p.length;
    if (m_buffer.empty())
        m_buffer.resize(static_cast<size_t>(kChunk));

    CSignatureCarver carver;
    carver.setVolumeLength(total);
    bool have = false;
    CNotifyFileNode relay;
    QObject::connect(
        &relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &relay,
        [&](const CFileNode& node) {
            if (node.startSector == 0 && !have) {
                found = node;
                have = true;
            }
        },
        Qt::DirectConnection);

    size_t piece = 0;
    int64_t inPiece = 0;
    int64_t done = 0;
    // Each turn carves one chunk of the stream: bounded by its length.
    while (done < total && !have && !stopped()) {
        const int64_t want = std::min(kChunk, total - done);
        int64_t filled = 0;
        while (filled < want && piece < pieces.size()) {
            const Piece& p = pieces[piece];
            const int64_t n = std::min(want - filled, p.length - inPiece);
            if (m_budget - m_read < n)
                return false;
            const IVolume::ReadResult r = m_volume->read(p.offset + inPiece, m_buffer.data() + filled, static_cast<size_t>(n));
            m_read += n;
            if (r.bytes != n)
                return false; // what cannot be read proves nothing
            filled += n;
            inPiece += n;
            if (inPiece == p.length) {
                ++piece;
                inPiece = 0;
            }
        }
        const int64_t rounded = (filled + kSector - 1) / kSector * kSector;
        std::fill(m_buffer.begin() + filled, m_buffer.begin() + rounded, uint8_t(0));
        carver.carveWindow(&relay, m_buffer.data(), rounded, static_cast<int>(kSector));
        done += filled;
        // The document has been settled (or given up): nothing more to read.
        if (!have && carver.earliestOpenBlock() > 0)
            break;
    }
    if (!have && done >= total)
        carver.finishPass(&relay);
    if (!have || found.size <= pieces.front().length)
        return false; // ended before the cut, or nothing found

    // The stream's bytes back on the volume.
    QVector<CFileNode::Extent> extents;
    int64_t left = found.size;
    for (const Piece& p : pieces) {
        if (left <= 0)
            break;
        const int64_t n = std::min(left, p.length);
        extents.append({p.offset, n});
        left -= n;
    }
    found.extents = extents;
    found.startSector = static_cast<quint64>(startByte / kSector);
    found.name = QString::number(found.startSector);
    found.incomplete = false;
    return true;
}

bool CRunContinuation::resolve(const CFileNode& cut, CFileNode& record)
{
    if (!CSignatureCarver::isCut(cut) || !m_volume)
        return fallbackOf(cut, record);
    const CFileNode::Extent first = cut.extents.front();
    if (first.offset < 0 || first.length <= 0 || first.length > kMaxFirstPiece || m_read >= m_budget || stopped())
        return fallbackOf(cut, record);
    const std::vector<Piece> pieces = piecesFrom(first.offset, first.offset + first.length);
    CFileNode found;
    if (pieces.size() < 2 || !carveAlong(pieces, first.offset, found) || found.extents.size() < 2)
        return fallbackOf(cut, record);
    // The check reads the document again: paid for too.
    if (m_budget - m_read < found.size)
        return fallbackOf(cut, record);
    m_read += found.size;
    if (!CAssemblyCheck::isWhole(m_volume, found.typeName, found.extents) || stopped())
        return fallbackOf(cut, record);
    ++m_continued;
    record = found;
    return true;
}
