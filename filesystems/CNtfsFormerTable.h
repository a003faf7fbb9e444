#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class IVolume;

// The master file table an NTFS volume had before it was formatted. A quick
// format writes a new, small table and marks everything else free, but the
// old table's records mostly stay where they were: the new table starts
// where the old one did (the format puts it at the same cluster for the
// same volume size and cluster size), so the old records past the new
// table's few lie in the clusters right after it, and the ones the old
// table grew into later lie in the zone NTFS keeps free for the table
// behind it.
//
// The search reads that zone, from the live table's first cluster on, and
// looks only into clusters the live volume marks free: at every record
// place (every record size on the cluster grid, every cluster when records
// are larger than clusters) a record that starts with "FILE" and whose
// update sequence holds is taken. Each record is known by the number its
// header states (NTFS 3.1 on), else by its distance from the zone's start,
// which is its number when the old table lay there in one piece. The first
// record found under a number keeps it.
//
// Bounded: the zone is an eighth of the volume at most (NTFS's own
// reservation), the search stops kGapBytes past the last record it found,
// the sweep of the rest reads at most CFreeClusterSweep's budget, at most
// kMaxRecords records are kept, and both stop as soon as asked. Only positioned reads of the volume; nothing
// of a record is kept but its place.
class CNtfsFormerTable
{
public:
    struct Place
    {
        int64_t number = 0;
        int64_t volumeOffset = 0;
    };

    // Free zone searched past the last record found before the search
    // gives up: the old table's later pieces lie near its first.
    static constexpr int64_t kGapBytes = 64 * 1024 * 1024;
    static constexpr size_t kMaxRecords = size_t(1) << 22;
    static constexpr int64_t kWindowBytes = 1024 * 1024;

    // `clusterFree` answers for one cluster of the live volume.
    CNtfsFormerTable(IVolume* volume, uint32_t recordSize, uint32_t clusterBytes,
                     std::function<bool(int64_t cluster)> clusterFree);

    // Searches from byte `zoneStart` (a cluster boundary) to `zoneEnd`;
    // `stopRequested`, when given, ends it early.
    void search(int64_t zoneStart, int64_t zoneEnd, const std::function<bool()>& stopRequested = {});
    // Then, where the zone held old records (so the volume had a table
    // before this one): the free clusters outside what search() read, for
    // the pieces the old table grew into elsewhere once its zone was taken
    // (CFreeClusterSweep, up to its byte budget). Only records that state
    // their number are taken there: a place says nothing of it.
    void sweepRest(const std::function<bool()>& stopRequested = {});

    // The records found, by number.
    const std::vector<Place>& places() const { return m_places; }
    // Where record `number` was found; -1 when it was not.
    int64_t offsetOf(int64_t number) const;
    // Bytes the search read (for the bench).
    int64_t bytesRead() const { return m_bytesRead; }

private:
    // `zoneStart` < 0: outside the zone, where a record must state its
    // number.
    void examine(const uint8_t* bytes, int64_t offset, int64_t zoneStart);
    // Sorts the records by number; the first found under one keeps it.
    void settle();

    IVolume* m_volume;
    uint32_t m_recordSize;
    uint32_t m_clusterBytes;
    std::function<bool(int64_t)> m_clusterFree;
    std::vector<Place> m_places;
    int64_t m_lastFound = -1;
    int64_t m_bytesRead = 0;
    // What search() read: [m_zoneStart, m_searchedEnd).
    int64_t m_zoneStart = 0;
    int64_t m_searchedEnd = 0;
};
