#pragma once

#include "scan/CFileNode.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <unordered_set>
#include <vector>

class CClusterBitSet;
class CExfatBitmap;
class CExfatFormerDirectories;
class CFreeClusterObserver;
class CNotifyFileNode;
class IAllocationMap;
class IVolume;
class IWindowObserver;

// The file-system pass of an exFAT volume. It reads the boot region (its
// checksum checked, the backup region used when the main one fails), then
// walks the directory tree from the root, breadth first, and posts
//  - (start sector, type code) for every live file whose name makes it one
//    of our documents, or a container of one (code 100): the sector of the
//    file's first cluster, in 512-byte units from the start of the volume;
//  - a CFileNode (origin OriginDeletedEntry) for every deleted file (its
//    entry set's in-use bits cleared) that is one of our documents by its
//    name or by its first bytes: name, folder, size, modification time with
//    its offset from UTC, the byte runs of its data, and the share of them
//    that the allocation bitmap now gives to other files.
//
// Where a deleted file's data is: contiguous from its first cluster when
// its stream entry says so (NoFatChain); else its FAT chain when the chain
// still holds (every link inside the volume, as long as the size asks,
// closed by an end mark); else the clusters from the first on, skipping
// those the bitmap marks in use, until the size is reached. Deleted
// directories are walked too, as far as their clusters are still free.
//
// Every cluster that a live entry reaches (the root and every live
// directory, every live file by its size, the allocation bitmap and the
// up-case table) is noted, one bit a cluster; the map handed on tells
// clusters the bitmap marks in use that none of them reaches apart as
// orphaned (a lost chain). A walk that was stopped notes nothing.
//
// Only entry sets whose checksum holds are believed (a deleted set is
// checked with its in-use bits put back). Damage (a set with a wrong
// checksum or count, a directory chain that loops, a directory reached
// twice) skips what is damaged and is told in problems(); a boot region
// that fails on both copies ends the pass with failure(). Every chain and
// walk is bounded by the volume's cluster count and by a budget per scan.
//
// It reads only through positioned reads of the volume. scan() runs on the
// calling thread; stop() may come from any thread, and the scan also ends
// soon after the worker's running flag (when given) turns false.
class CExfatScanner
{
public:
    struct Geometry
    {
        uint32_t sectorShift = 0;  // bytes per sector: 1 << sectorShift
        uint32_t clusterShift = 0; // sectors per cluster: 1 << clusterShift
        uint64_t volumeSectors = 0;
        uint32_t fatOffset = 0;   // sectors
        uint32_t fatLength = 0;   // sectors
        uint32_t heapOffset = 0;  // sectors
        uint32_t clusterCount = 0;
        uint32_t rootCluster = 0;

        uint32_t sectorBytes() const { return 1u << sectorShift; }
        uint64_t clusterBytes() const { return uint64_t(1) << (sectorShift + clusterShift); }
        bool validCluster(uint64_t cluster) const { return cluster >= 2 && cluster < uint64_t(clusterCount) + 2; }
        // Byte offset of a cluster on the volume (the cluster must be valid).
        int64_t clusterOffset(uint64_t cluster) const;
    };

    // Where the allocation bitmap lies on the volume, in bitmap order.
    struct BitmapRun
    {
        int64_t volumeOffset = 0;
        int64_t length = 0;
    };

    static constexpr int kBootRegionSectors = 12;

    CExfatScanner(IVolume* volume, CNotifyFileNode* notifier, const std::atomic<bool>* running = nullptr);
    ~CExfatScanner();

    CExfatScanner(const CExfatScanner&) = delete;
    CExfatScanner& operator=(const CExfatScanner&) = delete;

    void scan();
    void stop() { m_stop = true; }

    // Whether deleted documents are reported too (the default).
    void setReportDeleted(bool on) { m_reportDeleted = on; }
    // Whether live files are lost too (a volume whose partition entry was
    // deleted): each is posted as a record with its name, folder and
    // clusters, as a deleted one is, instead of as a live file's start.
    void setLiveFilesLost(bool on) { m_liveFilesLost = on; }
    // Whether the folders the volume had before it was last formatted are
    // searched for in its free clusters (with deleted documents reported,
    // on by default): each file entry set found there is reported as a
    // deleted one is, its folder named as far as the old folder entries
    // found with it tell (CExfatFormerDirectories).
    void setSearchFormer(bool on) { m_searchFormer = on; }
    // Whether that search waits for the carving pass instead of sweeping
    // the free clusters itself: scan() then leaves formerObserver() to be
    // shown the windows the carving pass reads (every free cluster, so the
    // free space is read once), and finishFormer() posts the files found
    // there, and the deleted files known by their first bytes only, which
    // wait for them. Off by default.
    void setFormerFromWindows(bool on) { m_formerFromWindows = on; }
    // After scan(): what is to be shown the carving pass's windows (in this
    // volume's offsets), null when nothing waits for it.
    IWindowObserver* formerObserver() const;
    // Posts what the windows showed; once only. A stop requested of the
    // scan does not cut it short (what it posts is saved with the scan, and
    // a resumed scan does not search again), stop() does.
    void finishFormer();

    // The main boot sector's fields; false when they are not exFAT's or are
    // absurd (shifts out of range, areas that overlap or leave the volume).
    // CExfatBootRegion reads them, and the checksum below.
    static bool decodeBootSector(const uint8_t* sector, size_t length, Geometry& geometry);
    // The boot region's checksum over its first eleven sectors (the volume
    // flags and the in-use percentage left out, as they change in place).
    static uint32_t bootChecksum(const uint8_t* region, size_t sectorBytes);
    // The checksum of an entry set of `count` 32-byte entries, its own
    // field (bytes 2-3 of the first) left out.
    static uint16_t entrySetChecksum(const uint8_t* entries, size_t count);

    int findings() const { return m_findings; }
    int deletedFindings() const { return m_deletedFindings; }
    // Of those, the ones found in the old folders of a formatted volume,
    // and the free space read to find them.
    int formerFindings() const { return m_formerFindings; }
    int64_t formerBytesRead() const { return m_formerBytes; }
    // Why the last scan could not read the file system at all (English);
    // empty when it could, or when it was stopped.
    QString failure() const { return m_failure; }
    // What was damaged and skipped, one English sentence each.
    QStringList problems() const;

    // After scan(): the geometry, and the runs of the allocation bitmap
    // (empty when no bitmap entry was found).
    const Geometry& geometry() const { return m_geometry; }
    const std::vector<BitmapRun>& bitmapRuns() const;
    // After scan(): the volume's allocation map read from `volume` (the
    // volume this scanner was given, shared so that the map may outlive the
    // scanner); null without a bitmap.
    std::unique_ptr<IAllocationMap> allocationMap(std::shared_ptr<IVolume> volume) const;

private:
    struct Directory
    {
        uint32_t firstCluster = 0;
        uint64_t dataLength = 0; // 0: as long as the chain (the root)
        bool noFatChain = false;
        bool deleted = false;
        QString path; // "" for the root
    };

    // One entry set as it lies in a directory.
    struct EntrySet
    {
        const uint8_t* file = nullptr;
        const uint8_t* stream = nullptr;
        QString name;
        bool deleted = false;
    };

    bool stopRequested() const;
    bool readBootRegion();
    bool fatEntry(uint32_t cluster, uint32_t& value);
    // The clusters of a directory, in order; false when the walk of its
    // chain met damage (what was gathered before it stays).
    bool directoryClusters(const Directory& dir, std::vector<uint32_t>& clusters);
    void walk();
    void readDirectory(const Directory& dir);
    // Reads the set at `index`; returns how many entries it spans (1 when
    // it is not a valid set).
    size_t readEntrySet(const uint8_t* bytes, size_t length, size_t index, bool inDeletedDirectory, EntrySet& set);
    void searchFormerDirectories();
    // A free cluster's entry sets, for the search for old folders.
    void visitFormerCluster(uint32_t cluster, const uint8_t* bytes, size_t length);
    // Posts the files found in old folders, then the deleted files known by
    // their first bytes that wait for them; `before` and `deferredBefore`:
    // the deleted files posted, and those waiting, before the search.
    void postFormer(int before, size_t deferredBefore);
    void handleLive(const Directory& dir, const EntrySet& set);
    void handleDeleted(const Directory& dir, const EntrySet& set);
    // A file's record along its clusters; `live`: its clusters are its own.
    void postRecord(const Directory& dir, const EntrySet& set, bool live);
    void queueDirectory(const Directory& parent, const EntrySet& set, bool deleted);
    // Data runs of a deleted file, in clusters; `overwritten` gets the
    // share in use of those holding its first `validBytes` (the rest read
    // as zeros, whoever owns them now), `incomplete` whether the size could
    // not be reached.
    bool deletedClusters(uint32_t first, uint64_t size, uint64_t validBytes, bool noFatChain,
                         std::vector<std::pair<uint32_t, uint32_t>>& runs, double& overwritten, bool& incomplete);
    bool chainSurvives(uint32_t first, uint64_t clusters, std::vector<std::pair<uint32_t, uint32_t>>& runs);
    // The bitmap's bit of a cluster; false (free) when there is no bitmap
    // or its byte cannot be read.
    bool clusterInUse(uint32_t cluster);
    int typeOfContent(int64_t offset, int64_t length);
    void post(const CFileNode& node);
    // Notes the `bytes` of data from `first` (contiguous, or along the FAT)
    // as reached by a live entry; ends at a cluster reached already.
    void markReached(uint32_t first, uint64_t bytes, bool noFatChain);

    IVolume* m_volume;
    CNotifyFileNode* m_notifier;
    const std::atomic<bool>* m_running;
    std::atomic<bool> m_stop{false};
    bool m_reportDeleted = true;
    bool m_liveFilesLost = false;
    bool m_searchFormer = true;
    int m_formerFindings = 0;
    int64_t m_formerBytes = 0;
    bool m_formerFromWindows = false;
    // The search's finds: the files' entry sets wait until every folder
    // entry is known.
    struct FormerFile
    {
        uint32_t cluster = 0;
        std::vector<uint8_t> set;
        QString name;
    };
    std::vector<FormerFile> m_formerFiles;
    std::unique_ptr<CExfatFormerDirectories> m_formerFolders;
    // Between scan() and finishFormer().
    std::unique_ptr<CFreeClusterObserver> m_formerObserver;
    int m_formerBefore = 0;
    size_t m_formerDeferredBefore = 0;
    int m_formerBadSets = 0;
    bool m_finishing = false;
    Geometry m_geometry;
    int64_t m_volumeLength = 0;
    std::deque<Directory> m_queue;
    // Clusters read as directory clusters: cycles and shared chains are
    // read once.
    std::unordered_set<uint32_t> m_directoryClusters;
    std::unique_ptr<CExfatBitmap> m_bitmap;
    // Clusters live entries reach; null when orphans are not told apart.
    std::shared_ptr<CClusterBitSet> m_reached;
    std::vector<uint8_t> m_fatSector;
    int64_t m_fatSectorOffset = -1;
    // Clusters the deleted files' data walks may still look at.
    uint64_t m_walkBudget = 0;
    // Deleted files known as documents by their first bytes only wait for
    // the end of the walk: one whose start a file of a document's name also
    // claims held that file's bytes (its clusters were reused), not its own.
    std::vector<CFileNode> m_byContent;
    QSet<quint64> m_claimedStarts;
    int m_findings = 0;
    int m_deletedFindings = 0;
    QString m_failure;
    int m_badSets = 0;
    int m_chainLoops = 0;
    int m_directoriesTwice = 0;
    int m_directoriesCut = 0;
};
