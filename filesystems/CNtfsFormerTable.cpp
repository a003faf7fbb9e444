#include "filesystems/CNtfsFormerTable.h"

#include "disk/IVolume.h"
#include "filesystems/CFreeClusterSweep.h"
#include "filesystems/CMFTRecord.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kSignature[4] = {'F', 'I', 'L', 'E'};

} // namespace

CNtfsFormerTable::CNtfsFormerTable(IVolume* volume, uint32_t recordSize, uint32_t clusterBytes,
                                   std::function<bool(int64_t cluster)> clusterFree)
    : m_volume(volume)
    , m_recordSize(recordSize)
    , m_clusterBytes(clusterBytes)
    , m_clusterFree(std::move(clusterFree))
{
}

void CNtfsFormerTable::search(int64_t zoneStart, int64_t zoneEnd, const std::function<bool()>& stopRequested)
{
    m_places.clear();
    m_lastFound = -1;
    m_bytesRead = 0;
    if (!m_volume || m_recordSize == 0 || m_clusterBytes == 0 || zoneStart < 0 || zoneStart % m_clusterBytes != 0)
        return;
    zoneEnd = std::min(zoneEnd, m_volume->length());
    // Records are found at the record size's steps inside a cluster, or at
    // each cluster's start when a record spans clusters.
    const int64_t step = std::min<int64_t>(m_recordSize, m_clusterBytes);
    // Powers of two: the window holds whole clusters and whole records.
    const int64_t window = std::max<int64_t>({kWindowBytes, m_clusterBytes, m_recordSize});
    std::vector<uint8_t> buffer(static_cast<size_t>(window + m_recordSize));

    for (int64_t at = zoneStart; at < zoneEnd; at += window) {
        if (stopRequested && stopRequested())
            break;
        const int64_t lastSeen = m_lastFound < 0 ? zoneStart : m_lastFound;
        if (at - lastSeen > kGapBytes || m_places.size() >= kMaxRecords)
            break;
        // Free clusters only: what the live volume uses is its own.
        const int64_t end = std::min(zoneEnd, at + window);
        bool anyFree = false;
        for (int64_t c = at / m_clusterBytes; c * m_clusterBytes < end && !anyFree; ++c)
            anyFree = m_clusterFree(c);
        if (!anyFree)
            continue;
        // A record that starts in this window may end in the next.
        const int64_t want = std::min<int64_t>(end - at + m_recordSize, m_volume->length() - at);
        const IVolume::ReadResult r = m_volume->read(at, buffer.data(), static_cast<size_t>(want));
        if (r.bytes <= 0)
            continue;
        m_bytesRead += r.bytes;
        int64_t currentCluster = -1;
        bool currentFree = false;
        for (int64_t offset = at; offset < end && offset - at + m_recordSize <= r.bytes; offset += step) {
            const int64_t cluster = offset / m_clusterBytes;
            if (cluster != currentCluster) {
                currentCluster = cluster;
                currentFree = m_clusterFree(cluster);
            }
            if (currentFree)
                examine(buffer.data() + (offset - at), offset, zoneStart);
            if (m_places.size() >= kMaxRecords)
                break;
        }
    }
    m_zoneStart = zoneStart;
    m_searchedEnd = std::max(zoneStart, std::min(zoneEnd, m_lastFound < 0 ? zoneStart : m_lastFound + kGapBytes));
    settle();
}

void CNtfsFormerTable::sweepRest(const std::function<bool()>& stopRequested)
{
    if (m_places.empty() || !m_volume || m_places.size() >= kMaxRecords)
        return;
    const int64_t clusterBytes = m_clusterBytes;
    const int64_t clusters = m_volume->length() / clusterBytes;
    if (clusters <= 0 || clusters > int64_t(UINT32_MAX) - 2)
        return;
    const int64_t step = std::min<int64_t>(m_recordSize, clusterBytes);
    const int64_t zoneFirst = m_zoneStart / clusterBytes;
    const int64_t zoneEnd = (m_searchedEnd + clusterBytes - 1) / clusterBytes;
    // The sweep numbers clusters from 2: the volume's cluster c is its c + 2.
    CFreeClusterSweep::Heap heap;
    heap.offset = 0;
    heap.clusterBytes = m_clusterBytes;
    heap.count = static_cast<uint32_t>(clusters);
    const size_t before = m_places.size();
    m_bytesRead += CFreeClusterSweep::sweep(
        m_volume, heap,
        [&](uint32_t swept) {
            const int64_t cluster = int64_t(swept) - 2;
            return (cluster < zoneFirst || cluster >= zoneEnd) && m_clusterFree(cluster);
        },
        stopRequested,
        [&](uint32_t swept, const uint8_t* bytes, size_t length) {
            const int64_t offset = (int64_t(swept) - 2) * clusterBytes;
            for (int64_t at = 0; at < clusterBytes && at + m_recordSize <= static_cast<int64_t>(length)
                 && m_places.size() < kMaxRecords;
                 at += step)
                examine(bytes + at, offset + at, -1);
        });
    if (m_places.size() != before)
        settle();
}

void CNtfsFormerTable::settle()
{
    std::stable_sort(m_places.begin(), m_places.end(),
                     [](const Place& a, const Place& b) { return a.number < b.number; });
    // The first found under a number keeps it.
    m_places.erase(std::unique(m_places.begin(), m_places.end(),
                               [](const Place& a, const Place& b) { return a.number == b.number; }),
                   m_places.end());
}

void CNtfsFormerTable::examine(const uint8_t* bytes, int64_t offset, int64_t zoneStart)
{
    if (std::memcmp(bytes, kSignature, sizeof kSignature) != 0)
        return;
    CMFTRecord record;
    if (record.setRecordGeometry(m_recordSize, m_clusterBytes) != CMFTRecord::kStatusOk
        || record.parseRecord(bytes, m_recordSize, true) != CMFTRecord::kStatusOk)
        return;
    int64_t number = record.recordNumber();
    if (number < 0 && zoneStart < 0)
        return;
    if (number < 0)
        number = (offset - zoneStart) / m_recordSize;
    m_places.push_back({number, offset});
    if (zoneStart >= 0)
        m_lastFound = offset;
}

int64_t CNtfsFormerTable::offsetOf(int64_t number) const
{
    const auto it = std::lower_bound(m_places.begin(), m_places.end(), number,
                                     [](const Place& p, int64_t n) { return p.number < n; });
    if (it == m_places.end() || it->number != number)
        return -1;
    return it->volumeOffset;
}
