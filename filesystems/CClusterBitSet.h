#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// One bit per cluster of a volume, for walks that must not visit a cluster
// twice. The bits are kept in pages made on first touch, so a walk that
// touches a few directories of a huge volume holds a few pages, and the
// worst case (every cluster of the largest FAT32 volume, 2^28) is 32 MiB,
// never more: the set cannot grow past its volume, whatever the table says.
class CClusterBitSet
{
public:
    // Clusters 0 to `clusters` - 1.
    explicit CClusterBitSet(uint64_t clusters = 0);

    void reset(uint64_t clusters);
    // Sets the bit; false when it was already set or lies outside the set.
    bool insert(uint64_t cluster);
    bool contains(uint64_t cluster) const;

private:
    static constexpr uint64_t kBitsPerPage = uint64_t(1) << 19; // 64 KiB pages
    uint64_t m_clusters = 0;
    std::vector<std::unique_ptr<uint64_t[]>> m_pages;
};
