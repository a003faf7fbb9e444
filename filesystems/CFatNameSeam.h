#pragma once

#include <cstddef>
#include <cstdint>

// Where a directory runs on from one cluster into another that does not
// follow it on the volume, told by the long name that crosses the seam: a
// cluster that ends in the pieces of a long name without its short entry
// goes on in the cluster that starts with the next piece of that name (or
// with the short entry the pieces' checksum names). The old folders of a
// formatted volume have lost their chains; this is what still links their
// clusters where a name crosses from one into the next.
class CFatNameSeam
{
public:
    struct Key
    {
        bool valid = false;
        uint8_t checksum = 0;
        // The piece the other side of the seam starts with: its order
        // number, 0 for the short entry.
        int ordinal = 0;
        bool operator==(const Key& other) const
        {
            return valid && other.valid && checksum == other.checksum && ordinal == other.ordinal;
        }
    };

    // What the cluster's end needs next: valid when its last entries are
    // live pieces of one name (the cluster is full, without an end marker).
    static Key tail(const uint8_t* cluster, size_t bytes);
    // What the cluster starts with: a live piece of a name that began
    // before it, or a short entry.
    static Key head(const uint8_t* cluster, size_t bytes);
    // One number per key, for a map.
    static uint32_t hash(const Key& key) { return (uint32_t(key.checksum) << 8) | uint32_t(key.ordinal); }
};
