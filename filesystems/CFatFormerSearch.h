#pragma once

#include "filesystems/CFatDirectoryWalk.h"
#include "filesystems/CFatGeometry.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

// What the free clusters of a FAT volume say of the folders it held before
// it was last formatted, one cluster at a time, in ascending order: a
// cluster that starts with "." naming itself and ".." is an old folder's
// first; one that holds entries all through, a long name among them whose
// checksum holds, is a later cluster of one. Whoever reads the clusters
// (the sweep of the free clusters, or the carving pass's windows) hands
// each here; take() gives what CFatDirectoryWalk::setFormerDirectories
// walks.
class CFatFormerSearch
{
public:
    // Old folders kept at most for the walk.
    static constexpr size_t kMaxFolders = 1000000;

    explicit CFatFormerSearch(const CFatGeometry& geometry) : m_geometry(geometry) {}

    // A free cluster's bytes, and those after it (`length` in all, at least
    // the cluster's).
    void visit(uint32_t cluster, const uint8_t* bytes, size_t length);

    // The old folders' first clusters; in `continued` the clusters that
    // hold entries but start no folder, and in `next` where a long name's
    // seam says a folder goes on (CFatNameSeam).
    std::vector<CFatDirectoryWalk::Former> take(std::vector<uint32_t>& continued,
                                               std::unordered_map<uint32_t, uint32_t>& next);

private:
    CFatGeometry m_geometry;
    std::vector<CFatDirectoryWalk::Former> m_former;
    std::vector<uint32_t> m_continued;
    // The seams of long names across clusters that do not follow one
    // another: each key is taken only where one cluster ends and one
    // starts with it.
    std::unordered_map<uint32_t, std::vector<uint32_t>> m_tails;
    std::unordered_map<uint32_t, std::vector<uint32_t>> m_heads;
};
