#pragma once

#include "filesystems/CExfatScanner.h"

#include <cstddef>
#include <cstdint>

class IVolume;

// The boot region of an exFAT volume: the main boot sector's fields, and
// the region's checksum (its first eleven sectors, the volume flags and
// the in-use share left out, as they change in place), which the twelfth
// sector repeats. The backup region follows the main one.
class CExfatBootRegion
{
public:
    using Geometry = CExfatScanner::Geometry;

    static constexpr int kRegionSectors = CExfatScanner::kBootRegionSectors;

    // The main boot sector's fields; false when they are not exFAT's or are
    // absurd (shifts out of range, areas that overlap or leave the volume).
    static bool decode(const uint8_t* sector, size_t length, Geometry& geometry);
    static uint32_t checksum(const uint8_t* region, size_t sectorBytes);
    // The geometry of the first region, main or backup, whose checksum
    // holds; false when neither does.
    static bool read(IVolume& volume, Geometry& geometry);

private:
    static bool readAt(IVolume& volume, int64_t offset, uint32_t sectorShift, Geometry& geometry);
};
