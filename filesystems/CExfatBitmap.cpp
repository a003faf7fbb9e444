#include "filesystems/CExfatBitmap.h"

#include "disk/IVolume.h"
#include "disk/LittleEndian.h"

#include <algorithm>
#include <unordered_set>

namespace {

constexpr size_t kEntrySize = 32;
constexpr uint8_t kTypeEnd = 0x00;
constexpr uint8_t kTypeBitmap = 0x81;
// The bitmap entry.
constexpr size_t kBitmapFlagsField = 1;
constexpr size_t kBitmapClusterField = 20;
constexpr size_t kBitmapLengthField = 24;

} // namespace

void CExfatBitmap::reset(IVolume* volume, const CExfatScanner::Geometry& geometry)
{
    m_volume = volume;
    m_geometry = geometry;
    m_runs.clear();
    m_bytes = 0;
    m_block.clear();
    m_blockIndex = -1;
}

void CExfatBitmap::locate(const std::vector<uint8_t>& bytes, const FatEntry& fatEntry)
{
    if (!m_runs.empty())
        return;
    for (size_t at = 0; at + kEntrySize <= bytes.size(); at += kEntrySize) {
        const uint8_t* e = bytes.data() + at;
        if (e[0] == kTypeEnd)
            return;
        // The first bitmap (the second belongs to a second FAT, which
        // TexFAT alone uses).
        if (e[0] != kTypeBitmap || (e[kBitmapFlagsField] & 1) != 0)
            continue;
        const uint32_t first = le::u32(e + kBitmapClusterField);
        const uint64_t needed = (uint64_t(m_geometry.clusterCount) + 7) / 8;
        const uint64_t length = std::min<uint64_t>(le::u64(e + kBitmapLengthField), needed);
        if (!m_geometry.validCluster(first) || length == 0)
            return;
        const uint64_t clusterBytes = m_geometry.clusterBytes();
        const uint64_t clusters = (length + clusterBytes - 1) / clusterBytes;
        // Its chain in the FAT; formatters lay it out in one piece, which is
        // what is taken where the chain breaks.
        uint32_t cluster = first;
        std::vector<uint32_t> chain;
        std::unordered_set<uint32_t> seen;
        while (chain.size() < clusters && m_geometry.validCluster(cluster) && seen.insert(cluster).second) {
            chain.push_back(cluster);
            uint32_t next = 0;
            if (!fatEntry(cluster, next) || !m_geometry.validCluster(next))
                break;
            cluster = next;
        }
        if (chain.size() < clusters) {
            chain.clear();
            for (uint64_t i = 0; i < clusters && m_geometry.validCluster(uint64_t(first) + i); ++i)
                chain.push_back(static_cast<uint32_t>(first + i));
        }
        uint64_t left = length;
        for (uint32_t c : chain) {
            const int64_t take = static_cast<int64_t>(std::min(left, clusterBytes));
            const int64_t offset = m_geometry.clusterOffset(c);
            if (!m_runs.empty() && m_runs.back().volumeOffset + m_runs.back().length == offset)
                m_runs.back().length += take;
            else
                m_runs.push_back({offset, take});
            left -= static_cast<uint64_t>(take);
            m_bytes += take;
        }
        return;
    }
}

bool CExfatBitmap::inUse(uint32_t cluster)
{
    if (!m_volume || m_runs.empty() || !m_geometry.validCluster(cluster))
        return false;
    const int64_t bit = static_cast<int64_t>(cluster) - 2;
    const int64_t byte = bit / 8;
    if (byte >= m_bytes)
        return false;
    const int64_t block = byte / kBlockBytes;
    if (block != m_blockIndex) {
        m_block.assign(static_cast<size_t>(kBlockBytes), 0);
        // Gather the block from the runs that hold it.
        int64_t runStart = 0;
        const int64_t blockStart = block * kBlockBytes;
        const int64_t blockEnd = blockStart + kBlockBytes;
        for (const Run& run : m_runs) {
            const int64_t from = std::max(runStart, blockStart);
            const int64_t to = std::min(runStart + run.length, blockEnd);
            if (from < to)
                m_volume->read(run.volumeOffset + (from - runStart), m_block.data() + (from - blockStart),
                               static_cast<size_t>(to - from));
            runStart += run.length;
            if (runStart >= blockEnd)
                break;
        }
        m_blockIndex = block;
    }
    return (m_block[static_cast<size_t>(byte - block * kBlockBytes)] >> (bit & 7)) & 1;
}
