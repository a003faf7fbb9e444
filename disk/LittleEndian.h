#pragma once

#include <cstddef>
#include <cstdint>

// Every on-disk field in this program is little-endian, whatever the host.
// Fields are assembled byte by byte: no casts into packed structs, no
// alignment assumptions. The bounded variants return false (and leave the
// output alone) when the field does not lie wholly inside the buffer.
namespace le {

inline uint16_t u16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t u32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8)
        | (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t u64(const uint8_t* p)
{
    return static_cast<uint64_t>(u32(p)) | (static_cast<uint64_t>(u32(p + 4)) << 32);
}

// An unsigned field of 0..8 bytes (NTFS run lists use such widths).
inline uint64_t uN(const uint8_t* p, unsigned width)
{
    uint64_t v = 0;
    for (unsigned i = 0; i < width && i < 8; ++i)
        v |= static_cast<uint64_t>(p[i]) << (8 * i);
    return v;
}

inline bool fits(size_t bufferSize, size_t offset, size_t width)
{
    return offset <= bufferSize && width <= bufferSize - offset;
}

inline bool u16(const uint8_t* buf, size_t size, size_t offset, uint16_t& out)
{
    if (!fits(size, offset, 2))
        return false;
    out = u16(buf + offset);
    return true;
}

inline bool u32(const uint8_t* buf, size_t size, size_t offset, uint32_t& out)
{
    if (!fits(size, offset, 4))
        return false;
    out = u32(buf + offset);
    return true;
}

inline bool u64(const uint8_t* buf, size_t size, size_t offset, uint64_t& out)
{
    if (!fits(size, offset, 8))
        return false;
    out = u64(buf + offset);
    return true;
}

} // namespace le
