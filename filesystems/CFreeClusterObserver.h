#pragma once

#include "filesystems/CFreeClusterSweep.h"
#include "scan/IWindowObserver.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class IVolume;

// The free clusters of a volume, met in the windows the carving pass reads
// rather than read a second time by a sweep of their own (CFreeClusterSweep
// hands them over the same way). Windows are given in the volume's
// offsets, in ascending order; each free cluster wholly inside a window is
// visited in place, with the bytes of the window after it; one a window's
// edge cuts is read on its own, once. A cluster is visited at most once,
// whatever the windows overlap. Safe to call from any one thread at a time
// and to ask from another after.
class CFreeClusterObserver : public IWindowObserver
{
public:
    using Visit = std::function<void(uint32_t cluster, const uint8_t* bytes, size_t length)>;

    CFreeClusterObserver(IVolume* volume, const CFreeClusterSweep::Heap& heap,
                         std::function<bool(uint32_t cluster)> clusterFree, Visit visit);

    void observeWindow(int64_t offset, const uint8_t* bytes, int64_t length) override;

    // Bytes read apart from the windows (clusters their edges cut).
    int64_t bytesReadApart() const;

private:
    IVolume* m_volume;
    CFreeClusterSweep::Heap m_heap;
    std::function<bool(uint32_t)> m_clusterFree;
    Visit m_visit;
    mutable std::mutex m_mutex;
    // The first cluster no window has reached yet (clusters count from 2).
    uint64_t m_next = 2;
    int64_t m_readApart = 0;
    std::vector<uint8_t> m_cluster;
};
