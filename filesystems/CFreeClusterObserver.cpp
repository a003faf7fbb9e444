#include "filesystems/CFreeClusterObserver.h"

#include "disk/IVolume.h"

#include <algorithm>

CFreeClusterObserver::CFreeClusterObserver(IVolume* volume, const CFreeClusterSweep::Heap& heap,
                                           std::function<bool(uint32_t)> clusterFree, Visit visit)
    : m_volume(volume)
    , m_heap(heap)
    , m_clusterFree(std::move(clusterFree))
    , m_visit(std::move(visit))
{
}

int64_t CFreeClusterObserver::bytesReadApart() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_readApart;
}

void CFreeClusterObserver::observeWindow(int64_t offset, const uint8_t* bytes, int64_t length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!bytes || length <= 0 || offset < 0 || m_heap.clusterBytes == 0 || m_heap.count == 0 || m_heap.offset < 0
        || m_heap.clusterBytes > CFreeClusterSweep::kMaxClusterBytes)
        return;
    const int64_t clusterBytes = static_cast<int64_t>(m_heap.clusterBytes);
    const uint64_t end = uint64_t(m_heap.count) + 2;
    const int64_t windowEnd = offset + length;
    if (windowEnd <= m_heap.offset)
        return;
    // The clusters the window touches, from the first not yet reached.
    const uint64_t firstTouched = offset <= m_heap.offset ? 2 : 2 + static_cast<uint64_t>((offset - m_heap.offset) / clusterBytes);
    const uint64_t lastTouched = 2 + static_cast<uint64_t>((windowEnd - 1 - m_heap.offset) / clusterBytes);
    const uint64_t from = std::max(firstTouched, m_next);
    const uint64_t to = std::min(end, lastTouched + 1);
    // Each turn moves one cluster on: bounded by the heap.
    for (uint64_t cluster = from; cluster < to; ++cluster) {
        if (!m_clusterFree(static_cast<uint32_t>(cluster)))
            continue;
        const int64_t at = m_heap.offset + static_cast<int64_t>(cluster - 2) * clusterBytes;
        if (at >= offset && at + clusterBytes <= windowEnd) {
            m_visit(static_cast<uint32_t>(cluster), bytes + (at - offset), static_cast<size_t>(windowEnd - at));
            continue;
        }
        // Cut by an edge: read whole on its own.
        m_cluster.resize(static_cast<size_t>(clusterBytes));
        const IVolume::ReadResult r = m_volume ? m_volume->read(at, m_cluster.data(), m_cluster.size())
                                               : IVolume::ReadResult{};
        if (r.bytes > 0)
            m_readApart += r.bytes;
        if (r.bytes == clusterBytes)
            m_visit(static_cast<uint32_t>(cluster), m_cluster.data(), m_cluster.size());
    }
    m_next = std::max(m_next, to);
}
