#include "filesystems/CFreeClusterSweep.h"

#include "disk/IVolume.h"

#include <algorithm>
#include <cerrno>
#include <vector>

int64_t CFreeClusterSweep::sweep(IVolume* volume, const Heap& heap, const std::function<bool(uint32_t cluster)>& clusterFree,
                                 const std::function<bool()>& stopRequested,
                                 const std::function<void(uint32_t, const uint8_t*, size_t)>& visit, int64_t maxBytes)
{
    if (!volume || heap.clusterBytes == 0 || heap.count == 0 || heap.offset < 0
        || heap.clusterBytes > kMaxClusterBytes)
        return 0;
    const int64_t clusterBytes = static_cast<int64_t>(heap.clusterBytes);
    const int64_t perWindow = std::max<int64_t>(1, kWindowBytes / clusterBytes);
    const int64_t volumeLength = volume->length();
    std::vector<uint8_t> window(static_cast<size_t>(perWindow * clusterBytes));
    int64_t read = 0;
    // A disk that fails read after read has gone, or has a bad band: the
    // sweep looks for what is left of old folders, not worth a dying
    // disk's retries on every window.
    constexpr int kMaxFailuresInRow = 8;
    int failuresInRow = 0;
    const uint64_t end = uint64_t(heap.count) + 2;
    for (uint64_t first = 2; first < end && read < maxBytes; first += static_cast<uint64_t>(perWindow)) {
        if (stopRequested && stopRequested())
            break;
        const uint64_t last = std::min<uint64_t>(end, first + static_cast<uint64_t>(perWindow));
        // From the first free cluster of the window on; a window all in use
        // is not read.
        uint64_t from = first;
        while (from < last && !clusterFree(static_cast<uint32_t>(from)))
            ++from;
        if (from == last)
            continue;
        const int64_t offset = heap.offset + static_cast<int64_t>(from - 2) * clusterBytes;
        if (offset >= volumeLength)
            break;
        const int64_t want = std::min<int64_t>(static_cast<int64_t>(last - from) * clusterBytes, volumeLength - offset);
        // What the page cache holds is looked at in place: copying it out
        // was most of the sweep's time.
        const int64_t base = offset - offset % kPageBytes;
        const uint8_t* bytes = volume->mapView(base, want + (offset - base));
        const uint8_t* view = bytes;
        int64_t got = want;
        if (bytes) {
            bytes += offset - base;
        } else {
            const IVolume::ReadResult r = volume->read(offset, window.data(), static_cast<size_t>(want));
            got = r.bytes;
            bytes = window.data();
            if (got <= 0 && (r.error == ENODEV || r.error == ENXIO || (r.error != 0 && ++failuresInRow >= kMaxFailuresInRow)))
                break;
            if (got > 0)
                failuresInRow = 0;
        }
        if (got > 0) {
            read += got;
            const uint64_t whole = static_cast<uint64_t>(got / clusterBytes);
            for (uint64_t k = 0; k < whole; ++k) {
                const uint64_t cluster = from + k;
                if (k > 0 && !clusterFree(static_cast<uint32_t>(cluster)))
                    continue;
                const size_t at = static_cast<size_t>(k * static_cast<uint64_t>(clusterBytes));
                visit(static_cast<uint32_t>(cluster), bytes + at, static_cast<size_t>(got) - at);
            }
        }
        // Pages the view lost read as zeros: nothing a search finds.
        if (view)
            volume->releaseView(view, want + (offset - base));
    }
    return read;
}
