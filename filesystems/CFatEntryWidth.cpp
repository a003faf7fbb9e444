#include "filesystems/CFatEntryWidth.h"

#include "disk/LittleEndian.h"

namespace {

constexpr uint32_t kFat32Mask = 0x0FFFFFFF;
constexpr uint32_t kFat16Bad = 0xFFF7;
constexpr uint32_t kFat12Bad = 0xFF7;
constexpr uint32_t kFat12Mask = 0xFFF;

} // namespace

CFatEntryWidth::CFatEntryWidth(uint32_t bits)
    : m_bits(bits == 12 || bits == 16 ? bits : 32)
{
}

uint64_t CFatEntryWidth::entries(int64_t tableBytes) const
{
    if (tableBytes <= 0)
        return 0;
    // Below 2^63 / 8: no overflow for any table a volume holds.
    return static_cast<uint64_t>(tableBytes) * 8 / m_bits;
}

int64_t CFatEntryWidth::byteOffset(uint64_t cluster) const
{
    if (m_bits == 12)
        return static_cast<int64_t>(cluster + cluster / 2);
    return static_cast<int64_t>(cluster * (m_bits / 8));
}

uint32_t CFatEntryWidth::badMark() const
{
    return m_bits == 12 ? kFat12Bad : m_bits == 16 ? kFat16Bad : kBad;
}

uint32_t CFatEntryWidth::decode(const uint8_t* bytes, uint64_t cluster) const
{
    uint32_t value = 0;
    if (m_bits == 32)
        return le::u32(bytes) & kFat32Mask;
    if (m_bits == 16)
        value = le::u16(bytes);
    else
        value = (cluster & 1) ? le::u16(bytes) >> 4 : le::u16(bytes) & kFat12Mask;
    const uint32_t bad = badMark();
    if (value == bad)
        return kBad;
    if (value > bad)
        return kFirstEnd;
    return value;
}
