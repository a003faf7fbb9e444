#include "details/COleReassembler.h"

#include "details/CPieceSearch.h"
#include "disk/LittleEndian.h"

#include <QVector>

#include <algorithm>
#include <cstring>

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
constexpr uint32_t kLowestSpecial = 0xFFFFFFFAu;
// No document of ours has more sectors than this (2 GiB of 512-byte ones).
constexpr uint32_t kMostSectors = 1u << 22;

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
    int64_t lastUsedSector(int64_t shift) const;
    bool tableSector(int64_t position, std::vector<uint8_t>* sector) const;

    CPieceSearch& m_s;
    const int64_t m_start;
    const int64_t m_cluster;
    uint8_t m_header[kHeaderSize] = {};
    int m_sectorSize = 512;
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

int64_t OleSearch::lastUsedSector(int64_t shift) const
{
    const uint32_t count = std::min<uint32_t>(le::u32(m_header + kFatCountAt), kFatListLength);
    int64_t last = -1;
    std::vector<uint8_t> sector;
    for (uint32_t k = 0; k < count; ++k) {
        const uint32_t s = le::u32(m_header + kFatListAt + 4 * k);
        if (s >= kMostSectors)
            return -1;
        const int64_t at = (int64_t(s) + 1) * m_sectorSize;
        if (!tableSector(m_start + at, &sector) && !tableSector(shift + at, &sector))
            return -1;
        for (int i = 0; i + 4 <= m_sectorSize; i += 4) {
            if (le::u32(sector.data() + i) != kFree)
                last = int64_t(k) * (m_sectorSize / 4) + i / 4;
        }
    }
    return last;
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
    const int64_t directoryAt = (int64_t(directory) + 1) * m_sectorSize;
    const int64_t reach = m_s.settings().distance;
    for (int64_t root : m_s.anchors(CPieceSearch::OleRoot, m_start - reach, m_start + reach)) {
        if (m_s.cancelled())
            return;
        const int64_t shiftK = root - directoryAt;
        if (shiftK == m_start || ((shiftK - m_start) % m_cluster + m_cluster) % m_cluster != 0)
            continue;
        const int64_t last = lastUsedSector(shiftK);
        if (last < 0)
            continue;
        const int64_t length = (last + 2) * m_sectorSize;
        if (length <= directoryAt)
            continue;
        for (int64_t p = m_cluster; p <= directoryAt && p < length; p += m_cluster) {
            const QVector<Extent> pieces{{m_start, p}, {shiftK + p, length - p}};
            if (m_s.admissible(pieces) && !m_s.offer(pieces))
                return;
        }
    }
}

} // namespace

void COleReassembler::search(CPieceSearch& search)
{
    OleSearch(search).run();
}
