#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

class IVolume;

// Reads the clusters a file system marks free, in ascending order and in
// windows of about 1 MiB (a window all in use is not read; one the page
// cache holds is looked at in place, IVolume::mapView), and hands each to
// the caller: what the searches for a formatted volume's old folders
// look through. Bounded by a byte budget and by the caller's stop.
class CFreeClusterSweep
{
public:
    // Free space read at most: the old folders lie among the old files,
    // which filled the volume from its start.
    static constexpr int64_t kMaxBytes = int64_t(4) << 30;
    static constexpr int64_t kWindowBytes = 8 * 1024 * 1024;
    // The grid views of the page cache are made on.
    static constexpr int64_t kPageBytes = 4096;
    // Clusters larger than this are not swept (no file system makes them).
    static constexpr uint64_t kMaxClusterBytes = uint64_t(64) << 20;

    // The clusters: numbered from 2, the first at `offset` bytes from the
    // volume's start, `count` of them.
    struct Heap
    {
        int64_t offset = 0;
        uint64_t clusterBytes = 0;
        uint32_t count = 0;
    };

    // Calls `visit` with each free cluster: its number, its bytes and those
    // of the rest of the window after it (`length` bytes in all, at least
    // the cluster's), so that a structure that crosses into the next
    // cluster can be read whole. Returns the bytes read.
    static int64_t sweep(IVolume* volume, const Heap& heap, const std::function<bool(uint32_t cluster)>& clusterFree,
                         const std::function<bool()>& stopRequested,
                         const std::function<void(uint32_t cluster, const uint8_t* bytes, size_t length)>& visit,
                         int64_t maxBytes = kMaxBytes);
};
