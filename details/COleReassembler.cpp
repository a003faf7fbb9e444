#include "details/COleReassembler.h"

#include "details/CAssemblyCheck.h"
#include "details/CCompoundStreamCheck.h"
#include "details/COleDetailsReader.h"
#include "details/CPieceSearch.h"
#include "details/CWordDocumentCheck.h"
#include "disk/IVolume.h"
#include "disk/LittleEndian.h"
#include "scan/CDocumentBytes.h"

#include <QByteArray>
#include <QHash>
#include <QVector>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

using Extent = CFileNode::Extent;

constexpr int kHeaderSize = 512;
constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr int kSectorShiftAt = 0x1E;
constexpr int kFatCountAt = 0x2C;
constexpr int kFirstDirectoryAt = 0x30;
constexpr int kFatListAt = 0x4C;
constexpr int kFatListLength = 109;
constexpr uint32_t kFree = 0xFFFFFFFFu;
// What the allocation table says of its own sectors.
constexpr uint32_t kTableMark = 0xFFFFFFFDu;
// Pairs of cuts around a table sector in a middle piece offered at most.
constexpr int64_t kMostTablePairs = 256;
constexpr uint32_t kLowestSpecial = 0xFFFFFFFAu;
// No document of ours has more sectors than this (2 GiB of 512-byte ones).
constexpr uint32_t kMostSectors = 1u << 22;
// The rest of a document is looked for cluster by cluster only when the
// document is at most this long: each candidate costs a proof of the whole.
constexpr int64_t kMostSearchedWhole = 128 * 1024;
// The reach is read in chunks of this size for that search.
constexpr int64_t kChunk = int64_t(1) << 20;
// Candidates proved in memory per document at most (a proof of a small
// document takes some tens of microseconds).
constexpr int kMostProofsInMemory = 1 << 14;
// A middle piece is looked for only in documents up to this long (the
// first and last pieces are held in memory meanwhile).
constexpr int64_t kMostMiddleSearched = int64_t(16) << 20;
// Landmarks a Word document's middle cluster must hold (a formatting
// page's first offset counts as two: four bytes that must be equal).
constexpr int kFewestLandmarks = 2;
// Clusters in a row looked at for them (text between formatting pages may
// run that long without a paragraph's end the tables at hand place).
constexpr int kMostWordClusters = 16;
// Candidate middles looked at per document at most (clusters in reach
// times cuts times clusters in a row).
constexpr int64_t kMostProbes = int64_t(1) << 24;
// More clusters than this continuing the document after one cut say too
// little to tell them apart.
constexpr int kMostMiddles = 8;
constexpr int kBiffHeader = 4;
// A workbook record is at most 8228 bytes long; its type is below this.
constexpr int64_t kLongestRecord = 8228;
constexpr uint16_t kLastRecordType = 0x2000;
// The record kinds every workbook's sheets are made of (beside those the
// first piece uses): a sheet's head, its rows and cells, strings, the
// window, continuations.
constexpr uint16_t kCommonRecordTypes[] = {
    0x0809, 0x000A, 0x020B, 0x000C, 0x000D, 0x000E, 0x000F, 0x0010, 0x0011, 0x005F, 0x002A, 0x002B, 0x0082, 0x0080,
    0x0225, 0x0081, 0x0014, 0x0015, 0x0083, 0x0084, 0x00A1, 0x0055, 0x007D, 0x0200, 0x0208, 0x00D7, 0x00FD, 0x0203,
    0x027E, 0x00BD, 0x00BE, 0x0201, 0x0006, 0x0207, 0x0205, 0x023E, 0x001D, 0x00E5, 0x003C, 0x00FC, 0x00FF, 0x0204,
    0x001C, 0x005D, 0x01B6, 0x00EC, 0x0041, 0x00A0, 0x001A, 0x001B, 0x0012, 0x0063, 0x00DD, 0x0013, 0x04BC, 0x0221,
    0x0862, 0x0867, 0x0868, 0x0863, 0x0892, 0x0896, 0x089C, 0x088B,
};
// Record headers of the kinds the first piece uses (or the common ones)
// that a middle piece's first clusters must hold, following on from the
// first piece's records.
constexpr int kFewestHeaders = 3;
constexpr uint16_t kBiffBof = 0x0809;
constexpr uint16_t kBiffRow = 0x0208;
// How far a middle's first cell (row record) may be from the first
// piece's last: rows follow each other, row records come in blocks of 32.
constexpr int kMostCellRowStep = 2;
constexpr int kMostRowStep = 33;

class OleSearch
{
public:
    explicit OleSearch(CPieceSearch& s)
        : m_s(s)
        , m_start(s.node().firstByteOffset())
        , m_cluster(s.cluster())
    {
    }

    void run();

private:
    // The last sector the allocation table uses, reading each of its
    // sectors where the first piece or the piece at `shift` puts it (the
    // one whose entries are all ones a table holds); -1 when neither does.
    int64_t lastUsedSector(int64_t shift, int64_t middle = -1) const;
    bool tableSector(int64_t position, std::vector<uint8_t>* sector) const;
    // Two pieces, the second at `shift` (logical byte q at shift + q)
    // holding the directory's first sector.
    bool directoryElsewhere(int64_t shift, int64_t length);
    // Three pieces, the last at `shift` holding the directory, the middle
    // holding a sector of the allocation table that neither of the others
    // holds: that sector's own entry marks it, which places the middle.
    bool tableInMiddle(int64_t shift);
    // Where a middle piece would lie whose table sector at `tableAt` (its
    // own entry at `own`) is found on the grid in reach; false when too
    // many places hold one.
    bool tableMiddles(int64_t tableAt, int own, QVector<int64_t>* middles) const;
    // Two pieces, the first holding the directory: the rest of the
    // document, `length` bytes long, anywhere on the grid in reach.
    void restElsewhere(int64_t length);
    // Three pieces, the last at `shift` holding the directory (`length`
    // bytes in all): the document as far as known, in memory (the first
    // piece's volume bytes up to `tailFrom`, the last piece's from there),
    // false when that cannot be had.
    bool assumed(int64_t shift, int64_t length, QByteArray* document, int64_t* tailFrom) const;
    // What a candidate middle's first `window` bytes say for cut number
    // `cut`: 1 it continues the document there, 0 it does not, -1 more
    // clusters are needed to tell.
    using Probe = std::function<int(int cut, const uint8_t* middle, int64_t window)>;
    // Finds the clusters in reach that `probe` accepts after each of
    // `cuts` (looking at up to `mostClusters` in a row) and offers each
    // running on to every later cut before the last piece.
    bool middles(int64_t shift, int64_t length, int64_t tailFrom, const QVector<int64_t>& cuts, const Probe& probe,
                 int mostClusters);
    // The middle of a workbook: its first clusters continue the workbook's
    // records where the first piece leaves them.
    bool workbookMiddle(int64_t shift, int64_t length);
    // The middle of a Word document: its first cluster holds the paragraph
    // ends and formatting pages that the document's tables place there.
    bool wordMiddle(int64_t shift, int64_t length);
    bool offer(const QVector<Extent>& pieces) { return !m_s.admissible(pieces) || m_s.offer(pieces); }

    CPieceSearch& m_s;
    const int64_t m_start;
    const int64_t m_cluster;
    uint8_t m_header[kHeaderSize] = {};
    int m_sectorSize = 512;
    int64_t m_directoryAt = 0;
    // Middles found per table sector looked for (m_start alone: none).
    QHash<int64_t, QVector<int64_t>> m_tableMiddles;
};

bool OleSearch::tableSector(int64_t position, std::vector<uint8_t>* sector) const
{
    sector->resize(static_cast<size_t>(m_sectorSize));
    if (!m_s.read(position, sector->data(), m_sectorSize))
        return false;
    bool any = false;
    for (int i = 0; i + 4 <= m_sectorSize; i += 4) {
        const uint32_t v = le::u32(sector->data() + i);
        if (v >= kMostSectors && v < kLowestSpecial)
            return false;
        any = any || v != 0;
    }
    return any;
}

int64_t OleSearch::lastUsedSector(int64_t shift, int64_t middle) const
{
    const uint32_t count = std::min<uint32_t>(le::u32(m_header + kFatCountAt), kFatListLength);
    int64_t last = -1;
    std::vector<uint8_t> sector;
    for (uint32_t k = 0; k < count; ++k) {
        const uint32_t s = le::u32(m_header + kFatListAt + 4 * k);
        if (s >= kMostSectors)
            return -1;
        const int64_t at = (int64_t(s) + 1) * m_sectorSize;
        if (!tableSector(m_start + at, &sector) && !tableSector(shift + at, &sector)
            && (middle < 0 || !tableSector(middle + at, &sector)))
            return -1;
        for (int i = 0; i + 4 <= m_sectorSize; i += 4) {
            if (le::u32(sector.data() + i) != kFree)
                last = int64_t(k) * (m_sectorSize / 4) + i / 4;
        }
    }
    return last;
}

bool OleSearch::tableMiddles(int64_t tableAt, int own, QVector<int64_t>* middles) const
{
    const int64_t inCluster = tableAt % m_cluster;
    const int64_t reach = m_s.settings().distance;
    const int64_t from = m_start - std::min(m_start, reach) / m_cluster * m_cluster;
    const int64_t to = std::min(m_s.volume()->length(), m_start + reach);
    std::vector<uint8_t> chunk;
    std::vector<uint8_t> sector;
    for (int64_t at = from; at < to; at += kChunk) {
        const int64_t span = std::min(kChunk, to - at) / m_cluster * m_cluster;
        if (span <= 0 || m_s.cancelled())
            break;
        chunk.resize(static_cast<size_t>(span));
        if (!m_s.read(at, chunk.data(), span))
            continue;
        for (int64_t c = 0; c + inCluster + m_sectorSize <= span; c += m_cluster) {
            const uint8_t* candidate = chunk.data() + c + inCluster;
            if (le::u32(candidate + 4 * own) != kTableMark)
                continue;
            const int64_t middle = at + c + inCluster - tableAt;
            if (middle == m_start || !tableSector(middle + tableAt, &sector))
                continue;
            middles->append(middle);
            if (middles->size() > kMostMiddles) {
                // Too many to tell apart: remembered as none.
                middles->fill(m_start, 1);
                return false;
            }
        }
    }
    if (middles->isEmpty())
        middles->append(m_start); // none: not looked for again
    return true;
}

bool OleSearch::tableInMiddle(int64_t shift)
{
    if (m_s.settings().maxPieces < 3 || m_sectorSize > m_cluster)
        return true;
    const uint32_t count = std::min<uint32_t>(le::u32(m_header + kFatCountAt), kFatListLength);
    const int perSector = m_sectorSize / 4;
    std::vector<uint8_t> sector;
    int64_t tableAt = -1;
    int own = -1;
    for (uint32_t k = 0; k < count && tableAt < 0; ++k) {
        const uint32_t s = le::u32(m_header + kFatListAt + 4 * k);
        if (s >= kMostSectors)
            return true;
        const int64_t at = (int64_t(s) + 1) * m_sectorSize;
        if (tableSector(m_start + at, &sector) || tableSector(shift + at, &sector))
            continue;
        // Its own entry (when it lies in the part of the table it holds)
        // says it is a table sector.
        if (int64_t(s) < int64_t(k) * perSector || int64_t(s) >= int64_t(k + 1) * perSector)
            return true;
        tableAt = at;
        own = int(s - k * uint32_t(perSector));
    }
    const int64_t tailFrom = m_directoryAt / m_cluster * m_cluster;
    if (tableAt < m_cluster || tableAt + m_sectorSize > tailFrom)
        return true;
    // Positions on the grid in reach where that sector would lie in a
    // middle piece, and what lies there (looked for once per sector: every
    // placement of the last piece asks for the same).
    QVector<int64_t>& middles = m_tableMiddles[tableAt];
    if (middles.isEmpty() && !tableMiddles(tableAt, own, &middles))
        return true;
    for (int64_t middle : qAsConst(middles)) {
        if (middle == shift || middle == m_start)
            continue;
        const int64_t last = lastUsedSector(shift, middle);
        const int64_t length = (last + 2) * m_sectorSize;
        if (last < 0 || length <= m_directoryAt)
            continue;
        // Every cut before the table sector, and after it before the
        // directory.
        const int64_t firsts = tableAt / m_cluster;
        const int64_t seconds = (tailFrom - (tableAt + m_sectorSize + m_cluster - 1) / m_cluster * m_cluster) / m_cluster + 1;
        if (firsts * seconds > kMostTablePairs)
            continue;
        for (int64_t p1 = m_cluster; p1 <= tableAt; p1 += m_cluster) {
            for (int64_t p2 = (tableAt + m_sectorSize + m_cluster - 1) / m_cluster * m_cluster; p2 <= tailFrom;
                 p2 += m_cluster) {
                if (!offer({{m_start, p1}, {middle + p1, p2 - p1}, {shift + p2, length - p2}}))
                    return false;
            }
        }
    }
    return true;
}

bool OleSearch::directoryElsewhere(int64_t shift, int64_t length)
{
    for (int64_t p = m_cluster; p <= m_directoryAt && p < length; p += m_cluster) {
        if (!offer({{m_start, p}, {shift + p, length - p}}))
            return false;
    }
    return true;
}

void OleSearch::restElsewhere(int64_t length)
{
    if (length > kMostSearchedWhole)
        return;
    QByteArray document(static_cast<int>(length), '\0');
    // The first piece is at least its first cluster; what follows it on
    // the volume stands in until a candidate replaces it.
    const int64_t have = std::min({length, std::max<int64_t>(m_s.node().size, m_cluster),
                                   m_s.volume()->length() - m_start});
    if (!m_s.read(m_start, document.data(), have))
        return;
    const int64_t reach = m_s.settings().distance;
    const int64_t from = m_start - std::min(m_start, reach) / m_cluster * m_cluster;
    const int64_t to = std::min(m_s.volume()->length(), m_start + reach);
    int proofs = 0;
    std::vector<uint8_t> chunk;
    // The cut lies after the directory's first sector (else its root entry
    // places the rest), on the grid.
    const int64_t firstCut = (m_directoryAt / m_cluster + 1) * m_cluster;
    for (int64_t p = firstCut; p < length; p += m_cluster) {
        const int64_t rest = length - p;
        QVector<int64_t> passed;
        for (int64_t at = from; at < to && passed.size() < 2; at += kChunk) {
            const int64_t span = std::min(kChunk, to - at) / m_cluster * m_cluster;
            if (span <= 0 || m_s.cancelled())
                break;
            chunk.resize(static_cast<size_t>(span));
            if (!m_s.read(at, chunk.data(), span))
                continue;
            for (int64_t c = 0; c < span && passed.size() < 2; c += m_cluster) {
                const int64_t y = at + c;
                if (y == m_start + p || !m_s.admissible({{m_start, p}, {y, rest}}))
                    continue;
                // A cluster of one byte repeated (zeros above all) is no
                // piece of a compound document's streams.
                const uint8_t* first = chunk.data() + c;
                if (std::all_of(first, first + m_cluster, [first](uint8_t b) { return b == first[0]; }))
                    continue;
                if (c + rest <= span) {
                    std::memcpy(document.data() + p, first, static_cast<size_t>(rest));
                } else if (!m_s.read(y, document.data() + p, rest)) {
                    continue;
                }
                if (++proofs > kMostProofsInMemory)
                    return;
                if (CAssemblyCheck::checkBytes(document, m_s.node().typeName, m_s.settings().budget).integrity
                    == CDocumentDetails::IntegrityWhole)
                    passed.append(y);
            }
        }
        // Offered for the proof over the volume; two that pass leave the
        // document as it was.
        for (int64_t y : passed) {
            if (!offer({{m_start, p}, {y, rest}}))
                return;
        }
    }
}

bool OleSearch::assumed(int64_t shift, int64_t length, QByteArray* document, int64_t* tailFrom) const
{
    // The last piece holds at least the cluster of the directory's first
    // sector and everything after it; the table's sectors before that are
    // taken from whichever piece holds one.
    *tailFrom = m_directoryAt / m_cluster * m_cluster;
    if (*tailFrom < 2 * m_cluster || length > kMostMiddleSearched)
        return false;
    *document = QByteArray(static_cast<int>(length), '\0');
    // What follows the first piece on the volume stands in for the rest
    // before the last piece (the volume may end first).
    const int64_t head = std::min(*tailFrom, m_s.volume()->length() - m_start);
    if (head < m_cluster || !m_s.read(m_start, document->data(), head)
        || !m_s.read(shift + *tailFrom, document->data() + *tailFrom, length - *tailFrom))
        return false;
    const uint32_t count = std::min<uint32_t>(le::u32(m_header + kFatCountAt), kFatListLength);
    std::vector<uint8_t> sector;
    for (uint32_t k = 0; k < count; ++k) {
        const int64_t at = (int64_t(le::u32(m_header + kFatListAt + 4 * k)) + 1) * m_sectorSize;
        if (at < *tailFrom && at + m_sectorSize <= length && !tableSector(m_start + at, &sector)
            && tableSector(shift + at, &sector))
            std::memcpy(document->data() + at, sector.data(), static_cast<size_t>(m_sectorSize));
    }
    return true;
}

bool OleSearch::middles(int64_t shift, int64_t length, int64_t tailFrom, const QVector<int64_t>& cuts,
                        const Probe& probe, int mostClusters)
{
    struct Middle
    {
        int64_t p;
        int64_t at;
        int64_t least; // bytes the middle piece holds at least
    };
    QVector<Middle> found;
    const int64_t reach = m_s.settings().distance;
    const int64_t from = m_start - std::min(m_start, reach) / m_cluster * m_cluster;
    const int64_t to = std::min(m_s.volume()->length(), m_start + reach);
    std::vector<uint8_t> chunk;
    std::vector<uint8_t> spill;
    int64_t probes = 0;
    for (int64_t at = from; at < to && !cuts.isEmpty(); at += kChunk) {
        const int64_t span = std::min(kChunk, to - at) / m_cluster * m_cluster;
        if (span <= 0 || m_s.cancelled())
            break;
        chunk.resize(static_cast<size_t>(span));
        if (!m_s.read(at, chunk.data(), span))
            continue;
        for (int64_t c = 0; c < span; c += m_cluster) {
            const int64_t y = at + c;
            for (int i = 0; i < cuts.size(); ++i) {
                const int64_t p = cuts.at(i);
                // The first piece's own continuation, or the last piece's
                // bytes before the cut, make one of the two-piece
                // assemblies, offered already.
                if (y == m_start + p || y == shift + p)
                    continue;
                for (int k = 1; k <= mostClusters && p + k * m_cluster <= tailFrom; ++k) {
                    const int64_t window = k * m_cluster;
                    const uint8_t* middle = chunk.data() + c;
                    if (c + window > span) {
                        spill.resize(static_cast<size_t>(window));
                        if (!m_s.read(y, spill.data(), window))
                            break;
                        middle = spill.data();
                    }
                    // A document with very many cuts in a wide reach: the
                    // search ends rather than take longer than its worth.
                    if (++probes > kMostProbes)
                        return true;
                    const int verdict = probe(i, middle, window);
                    if (verdict < 0)
                        continue;
                    if (verdict > 0 && m_s.admissible({{m_start, p}, {y, window}}))
                        found.append({p, y, window});
                    break;
                }
            }
        }
    }
    // A cut after which many clusters pass says too little to tell them
    // apart: none of them is offered.
    QHash<int64_t, int> perCut;
    for (const Middle& m : qAsConst(found))
        ++perCut[m.p];
    // Each middle runs on to any later cut before the directory.
    for (const Middle& m : qAsConst(found)) {
        if (perCut.value(m.p) > kMostMiddles)
            continue;
        for (int64_t p2 = m.p + m.least; p2 <= tailFrom; p2 += m_cluster) {
            if (!offer({{m_start, m.p}, {m.at, p2 - m.p}, {shift + p2, length - p2}}))
                return false;
        }
    }
    return true;
}

bool OleSearch::workbookMiddle(int64_t shift, int64_t length)
{
    QByteArray document;
    int64_t tailFrom = 0;
    if (m_s.settings().maxPieces < 3 || !assumed(shift, length, &document, &tailFrom))
        return true;
    int unit = 0;
    int64_t size = 0;
    QVector<int64_t> blocks;
    {
        CDocumentBytes bytes(document);
        for (const QString& name : {QStringLiteral("Workbook"), QStringLiteral("Book")}) {
            blocks = COleDetailsReader::streamLayout(bytes, m_s.settings().budget, name, &unit, &size);
            if (!blocks.isEmpty())
                break;
        }
    }
    if (blocks.isEmpty() || unit != m_sectorSize || size < kBiffHeader
        || size > int64_t(blocks.size()) * unit)
        return true;
    const auto logical = [&](int64_t offset) { return blocks.at(int(offset / unit)) + offset % unit; };
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(document.constData());
    // The stream's byte at `offset` when the first piece ends at `p` and
    // `middle` (`span` bytes, if any) follows it: -1 where neither holds it.
    const auto byteAt = [&](int64_t offset, int64_t p, const uint8_t* middle, int64_t span) {
        const int64_t x = logical(offset);
        if (x < p)
            return int(bytes[x]);
        return middle && x < p + span ? int(middle[x - p]) : -1;
    };
    // The rows the records reached so far in the current sheet (cells, and
    // row records): they never go back, and a middle's first ones follow
    // on closely from the first piece's.
    struct Rows
    {
        int cell = -1;
        int row = -1;
        bool firstCell = true;
        bool firstRow = true;
    };
    // The record header at `offset`: 1 and `offset` moved past the record
    // when it is one, 0 when it is not, -1 when its bytes are not at hand.
    // In the middle (`middle` set), also 0 for a row out of order.
    const auto header = [&](int64_t* offset, int64_t p, const uint8_t* middle, int64_t span, Rows* rows) {
        if (*offset + kBiffHeader > size)
            return -1;
        int b[kBiffHeader];
        for (int i = 0; i < kBiffHeader; ++i) {
            b[i] = byteAt(*offset + i, p, middle, span);
            if (b[i] < 0)
                return -1;
        }
        const uint16_t type = uint16_t(b[0] | b[1] << 8);
        const uint16_t length = uint16_t(b[2] | b[3] << 8);
        // Within the middle, the record types a workbook uses: random
        // bytes pass one header in a hundred, not one in eight.
        if (!CCompoundStreamCheck::isBiffRecord(type, length) || (middle && type >= kLastRecordType))
            return 0;
        if (type == kBiffBof) {
            *rows = Rows();
        } else if (length >= 2 && *offset + kBiffHeader + 2 <= size
                   && (CCompoundStreamCheck::isBiffCell(type) || type == kBiffRow)) {
            const int lo = byteAt(*offset + kBiffHeader, p, middle, span);
            const int hi = byteAt(*offset + kBiffHeader + 1, p, middle, span);
            if (lo >= 0 && hi >= 0) {
                const int row = lo | hi << 8;
                const bool cell = type != kBiffRow;
                int& last = cell ? rows->cell : rows->row;
                bool& first = cell ? rows->firstCell : rows->firstRow;
                if (row < last || (middle && first && last >= 0 && row > last + (cell ? kMostCellRowStep : kMostRowStep)))
                    return 0;
                last = row;
                first = first && !middle;
            }
        }
        *offset += kBiffHeader + length;
        return 1;
    };
    if (byteAt(0, tailFrom, nullptr, 0) != (kBiffBof & 0xFF) || byteAt(1, tailFrom, nullptr, 0) != (kBiffBof >> 8))
        return true;
    // Each cut, and the first record header whose bytes the first piece
    // does not hold whole; and the record types the first piece uses.
    QVector<int64_t> cuts;
    QVector<int64_t> records;
    QVector<Rows> rowsAt;
    Rows rows;
    std::vector<bool> known(kLastRecordType, false);
    for (uint16_t type : kCommonRecordTypes)
        known[type] = true;
    int64_t record = 0;
    for (int64_t p = m_cluster; p < tailFrom; p += m_cluster) {
        int step = 1;
        for (int64_t at = record; (step = header(&record, p, nullptr, 0, &rows)) == 1; at = record) {
            const int type = byteAt(at, p, nullptr, 0) | byteAt(at + 1, p, nullptr, 0) << 8;
            if (type < kLastRecordType)
                known[size_t(type)] = true;
        }
        // The records break inside the first piece: no later cut either.
        if (step == 0 || record + kBiffHeader > size)
            break;
        cuts.append(p);
        records.append(record);
        rowsAt.append(rows);
    }
    // The middle's first clusters (more where a long record covers the
    // first) hold record headers that follow on from the first piece's,
    // of the kinds it uses: bytes of another workbook, read from the wrong
    // place, chain a few headers often enough, but rarely of those kinds.
    const auto probe = [&](int i, const uint8_t* middle, int64_t window) {
        int64_t offset = records.at(i);
        Rows following = rowsAt.at(i);
        following.firstCell = following.firstRow = true;
        int seen = 0;
        int step = 1;
        for (int64_t at = offset; (step = header(&offset, cuts.at(i), middle, window, &following)) == 1; at = offset) {
            const int lo = byteAt(at, cuts.at(i), middle, window);
            const int hi = byteAt(at + 1, cuts.at(i), middle, window);
            seen += known[size_t(lo | hi << 8)] ? 1 : 0;
        }
        if (step == 0)
            return 0;
        return seen < kFewestHeaders ? -1 : 1;
    };
    return middles(shift, length, tailFrom, cuts, probe, int(kLongestRecord / m_cluster) + 3);
}

bool OleSearch::wordMiddle(int64_t shift, int64_t length)
{
    QByteArray document;
    int64_t tailFrom = 0;
    if (m_s.settings().maxPieces < 3 || !assumed(shift, length, &document, &tailFrom))
        return true;
    int unit = 0;
    int64_t size = 0;
    QVector<int64_t> blocks;
    QVector<CWordDocumentCheck::Landmark> marks;
    const CDetailsBudget& budget = m_s.settings().budget;
    {
        CDocumentBytes bytes(document);
        blocks = COleDetailsReader::streamLayout(bytes, budget, QStringLiteral("WordDocument"), &unit, &size);
    }
    if (blocks.isEmpty() || unit != m_sectorSize || size > int64_t(blocks.size()) * unit)
        return true;
    // The landmarks read through the first piece's side, and through the
    // last piece's side from the second cluster on (the last piece may
    // begin anywhere before the directory): each formatting page proves
    // itself, so a page read from other bytes gives none.
    QByteArray tailSide = document;
    if (!m_s.read(shift + m_cluster, tailSide.data() + m_cluster, length - m_cluster))
        tailSide.clear();
    const int64_t limit = std::min<int64_t>(budget.readBytes, INT32_MAX / 2);
    const auto wordOf = [&](const QByteArray& side) {
        CDocumentBytes bytes(side);
        return COleDetailsReader::streamOf(bytes, budget, QStringLiteral("WordDocument"), limit);
    };
    // The information block and the tables through the first piece's side
    // (where the block is, and in a writer's usual order the tables).
    CDocumentBytes first(document);
    const QByteArray word = COleDetailsReader::streamOf(first, budget, QStringLiteral("WordDocument"), limit);
    const QByteArray table0 = COleDetailsReader::streamOf(first, budget, QStringLiteral("0Table"), limit);
    const QByteArray table1 = COleDetailsReader::streamOf(first, budget, QStringLiteral("1Table"), limit);
    marks = CWordDocumentCheck::landmarks(word, table0, table1, word);
    if (!tailSide.isEmpty())
        marks += CWordDocumentCheck::landmarks(word, table0, table1, wordOf(tailSide));
    // A middle that holds the head of the stream holds the block's
    // identifier there (the tables are then unknown).
    marks.append(CWordDocumentCheck::identifier());
    // Where each landmark lies in the document, in order.
    struct Placed
    {
        int64_t at;
        CWordDocumentCheck::Landmark mark;
    };
    QVector<Placed> placed;
    for (const CWordDocumentCheck::Landmark& m : qAsConst(marks)) {
        if (m.offset + m.width <= size && (m.offset + m.width - 1) / unit == m.offset / unit)
            placed.append({blocks.at(int(m.offset / unit)) + m.offset % unit, m});
    }
    std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.at < b.at; });
    placed.erase(std::unique(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.at == b.at; }),
                 placed.end());
    // Cuts up to where the first piece's own bytes stop holding what the
    // landmarks say.
    QVector<int64_t> cuts;
    const uint8_t* head = reinterpret_cast<const uint8_t*>(document.constData());
    auto next = placed.cbegin();
    for (int64_t p = m_cluster; p < tailFrom; p += m_cluster) {
        bool holds = true;
        for (; holds && next != placed.cend() && next->at + next->mark.width <= p; ++next)
            holds = next->at < m_cluster || CWordDocumentCheck::holds(next->mark, head + next->at);
        if (!holds)
            break;
        cuts.append(p);
    }
    // The middle's first clusters hold what the landmarks there say: a
    // paragraph's end, a formatting page's first offset, the identifier
    // (as many clusters as it takes to meet enough of them).
    const auto probe = [&](int i, const uint8_t* middle, int64_t window) {
        const int64_t p = cuts.at(i);
        auto it = std::lower_bound(placed.begin(), placed.end(), p,
                                   [](const Placed& a, int64_t at) { return a.at < at; });
        int seen = 0;
        for (; it != placed.end() && it->at + it->mark.width <= p + window; ++it) {
            if (!CWordDocumentCheck::holds(it->mark, middle + (it->at - p)))
                return 0;
            seen += it->mark.weight;
        }
        return seen >= kFewestLandmarks ? 1 : -1;
    };
    return middles(shift, length, tailFrom, cuts, probe, kMostWordClusters);
}

void OleSearch::run()
{
    if (m_start < 0 || !m_s.read(m_start, m_header, kHeaderSize) || std::memcmp(m_header, kSignature, 8) != 0)
        return;
    const int shift = le::u16(m_header + kSectorShiftAt);
    if (shift != 9 && shift != 12)
        return;
    m_sectorSize = 1 << shift;
    const uint32_t directory = le::u32(m_header + kFirstDirectoryAt);
    if (directory >= kMostSectors)
        return;
    m_directoryAt = (int64_t(directory) + 1) * m_sectorSize;
    const int64_t reach = m_s.settings().distance;
    for (int64_t root : m_s.anchors(CPieceSearch::OleRoot, m_start - reach, m_start + reach)) {
        if (m_s.cancelled())
            return;
        const int64_t shiftK = root - m_directoryAt;
        if (shiftK == m_start || ((shiftK - m_start) % m_cluster + m_cluster) % m_cluster != 0)
            continue;
        const int64_t last = lastUsedSector(shiftK);
        if (last < 0) {
            // A table sector in neither piece: perhaps in a middle one.
            if (!tableInMiddle(shiftK))
                return;
            continue;
        }
        const int64_t length = (last + 2) * m_sectorSize;
        if (length <= m_directoryAt)
            continue;
        if (!directoryElsewhere(shiftK, length) || !workbookMiddle(shiftK, length) || !wordMiddle(shiftK, length))
            return;
    }
    if (m_s.passed() > 0)
        return;
    // The directory in the first piece: the allocation table must be there
    // too, for the document's length.
    const int64_t last = lastUsedSector(m_start);
    if (last >= 0 && (last + 2) * m_sectorSize > m_directoryAt)
        restElsewhere((last + 2) * m_sectorSize);
}

} // namespace

void COleReassembler::search(CPieceSearch& search)
{
    OleSearch(search).run();
}
