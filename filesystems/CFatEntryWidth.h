#pragma once

#include <cstdint>

// How wide a FAT's entries are, and what their marks are at that width:
// FAT12 packs two 12-bit entries into three bytes, FAT16 has 16-bit
// entries, FAT32 32-bit ones whose top four bits are reserved. Every entry
// read is given in FAT32's terms (kBad for a bad cluster, kFirstEnd and
// above for an end of chain), so that nothing past the table needs to know
// the width.
class CFatEntryWidth
{
public:
    static constexpr uint32_t kFree = 0;
    static constexpr uint32_t kBad = 0x0FFFFFF7;
    static constexpr uint32_t kFirstEnd = 0x0FFFFFF8;

    explicit CFatEntryWidth(uint32_t bits = 32);

    uint32_t bits() const { return m_bits; }
    // The entries a table of that many bytes holds.
    uint64_t entries(int64_t tableBytes) const;
    // Where the entry of `cluster` begins in the table, and how many bytes
    // from there hold it (FAT12's share their middle byte with a neighbour).
    int64_t byteOffset(uint64_t cluster) const;
    int64_t bytesPerRead() const { return m_bits == 32 ? 4 : 2; }
    // The entry of `cluster` from the bytesPerRead() bytes at its
    // byteOffset(), in FAT32's terms.
    uint32_t decode(const uint8_t* bytes, uint64_t cluster) const;
    // The raw value of a bad cluster at this width; the highest cluster
    // number a volume may have lies below it.
    uint32_t badMark() const;

private:
    uint32_t m_bits;
};
