#pragma once

#include "filesystems/CExfatScanner.h"

#include <cstdint>
#include <functional>
#include <vector>

class IVolume;

// The allocation bitmap of an exFAT volume: where its bytes lie (from the
// root directory's bitmap entry, along its FAT chain, or in one piece from
// its first cluster where the chain breaks, as formatters lay it out) and
// which clusters it marks in use, read a 64 KiB block at a time as asked.
class CExfatBitmap
{
public:
    using Run = CExfatScanner::BitmapRun;
    // A cluster's FAT entry; false when it cannot be read.
    using FatEntry = std::function<bool(uint32_t cluster, uint32_t& value)>;

    static constexpr int64_t kBlockBytes = 64 * 1024;

    // Forgets everything; the volume and geometry of the next scan.
    void reset(IVolume* volume, const CExfatScanner::Geometry& geometry);
    // Takes the first bitmap entry among the root directory's `bytes`
    // (once; later calls keep what was found).
    void locate(const std::vector<uint8_t>& bytes, const FatEntry& fatEntry);

    bool found() const { return !m_runs.empty(); }
    const std::vector<Run>& runs() const { return m_runs; }
    // Whether the bitmap marks `cluster` in use; false (free) when there is
    // no bitmap or its byte cannot be read.
    bool inUse(uint32_t cluster);

private:
    IVolume* m_volume = nullptr;
    CExfatScanner::Geometry m_geometry;
    std::vector<Run> m_runs;
    int64_t m_bytes = 0;
    std::vector<uint8_t> m_block;
    int64_t m_blockIndex = -1;
};
