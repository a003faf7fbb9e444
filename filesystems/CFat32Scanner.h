#pragma once

#include "filesystems/CClusterBitSet.h"
#include "scan/CFileNode.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class CFatAllocationMap;
class CFatDeletedLayout;
class CNotifyFileNode;
class IAllocationMap;
class IVolume;

// The file-system pass of a FAT32 volume: walks the directory tree from the
// root, breadth first, and posts
//  - (start sector, type code) for every live file whose name makes it one
//    of our documents, or a container of one (code 100). The start sector is
//    that of the file's first cluster, in 512-byte units from the start of
//    the volume. Every entry that is not a directory, a volume label or a
//    piece of a long name is a file, whatever its other attribute bits;
//  - a CFileNode (origin OriginDeletedEntry) for every deleted file that is
//    one of our documents by its name or by its first bytes: its name, its
//    folder, its size and modification time, and the byte runs its data is
//    taken from (see postDeletedFile()). Where the first bytes say another
//    of our types than the name's extension (a DOCX known only by its short
//    name "REPORT~1.DOC"), the bytes decide, and the name is given their
//    extension.
//
// The name that decides is the long name when valid long-name entries
// (their checksum matching the short entry) precede the short entry, and the
// short name's three-letter extension otherwise. A deleted entry has lost
// its first byte (0xE5 replaces it) and so have its long-name pieces (their
// order number): the pieces in front of it count when their checksums agree
// with the short name whose first byte is restored from the long name.
//
// Deleted directories are walked too, as far as their clusters are still
// free and still look like directories; everything in them is deleted.
//
// Every chain and every directory walk is bounded by the volume: chain ends,
// free and bad entries, clusters past the volume, loops and directories
// reached twice all end the walk, and no cluster is read as a directory
// twice (one bit per cluster, in pages made as needed).
class CFat32Scanner
{
public:
    struct Geometry
    {
        uint32_t bytesPerSector = 0;
        uint32_t sectorsPerCluster = 0;
        uint32_t reservedSectors = 0;
        uint32_t fatCount = 0;
        uint32_t sectorsPerFat = 0;
        uint32_t rootCluster = 0;
        uint64_t totalSectors = 0;
        // Derived.
        uint64_t dataStartSector = 0;
        uint32_t highestCluster = 0;

        uint32_t clusterBytes() const { return bytesPerSector * sectorsPerCluster; }
        int64_t clusterOffset(uint32_t cluster) const;
    };

    CFat32Scanner(IVolume* volume, CNotifyFileNode* notifier, const std::atomic<bool>* running = nullptr);
    ~CFat32Scanner();

    CFat32Scanner(const CFat32Scanner&) = delete;
    CFat32Scanner& operator=(const CFat32Scanner&) = delete;

    void scan();
    void stop() { m_stop = true; }

    // False when the sector is too short or its geometry is zero or absurd.
    static bool decodeBootSector(const uint8_t* sector, size_t length, Geometry& geometry);

    // The short-name checksum that long-name entries carry.
    static uint8_t shortNameChecksum(const uint8_t* shortName);

    // Whether deleted files are posted (the default); without them the pass
    // only lists live files and leaves the allocation map.
    void setReportDeleted(bool on) { m_reportDeleted = on; }
    // Whether live files are lost too (a volume whose partition entry was
    // deleted): each document is posted as a record with its name, folder
    // and the runs of its chain, as a deleted one is, instead of as a live
    // file's start.
    void setLiveFilesLost(bool on) { m_liveFilesLost = on; }

    // Live documents posted by the last scan.
    int findings() const { return m_findings; }
    // Deleted documents posted by the last scan.
    int deletedFindings() const { return m_deletedFindings; }

    // After scan(): the volume's allocation map (its first FAT), read from
    // `volume` (the volume this scanner was given, shared so that the map
    // may outlive the scanner). Null when the boot sector did not decode.
    // When the directory walk ran to its end, the map knows which clusters
    // a live entry reaches, and tells lost chains apart as orphaned.
    std::unique_ptr<IAllocationMap> allocationMap(std::shared_ptr<IVolume> volume) const;
    // Why the last scan could not read the file system at all (English,
    // for a warning); empty when it could, or when it was stopped.
    QString failure() const { return m_failure; }

private:
    struct DirectoryNode
    {
        uint32_t firstCluster = 0;
        bool root = false;
        // A deleted directory: its clusters follow one another from the
        // first on (the FAT no longer says), and all it holds is deleted.
        bool deleted = false;
        QString path; // "" for the root, "/Docs/Work" below it
    };

    // Long-name entries gathered in front of a short entry.
    struct LongName
    {
        std::vector<char16_t> units;
        int nextOrdinal = 0; // the ordinal the next entry must carry; 0: none pending
        uint8_t checksum = 0;
        void reset()
        {
            units.clear();
            nextOrdinal = 0;
        }
    };

    // Deleted long-name pieces in the order they lie (the last piece of the
    // name first); their order numbers are gone. Copies, not pointers into
    // the cluster buffer: a name may begin at the end of one directory
    // cluster and end in the next one of the chain, read into that buffer.
    struct DeletedLongName
    {
        std::vector<std::array<uint8_t, 32>> pieces;
        void reset() { pieces.clear(); }
    };

    // What one directory entry names.
    struct EntryName
    {
        QString text;      // the long name, or the short one as "NAME.EXT"
        bool fromLongName = false;
    };

    bool stopRequested() const;
    void walkDirectories();
    // The clusters of a live directory, in chain order.
    std::vector<uint32_t> directoryChain(uint32_t firstCluster);
    // Reads one directory cluster and handles its entries. False when the
    // directory ends in it (an end marker in a deleted directory) or the
    // scan was stopped; `stopped` tells which.
    bool readDirectoryCluster(const DirectoryNode& node, uint32_t cluster, LongName& longName,
                              DeletedLongName& deletedLongName, bool& stopped);
    // Whether a free cluster holds what a deleted directory's cluster would:
    // the "." and ".." entries first when `first`, plausible entries up to
    // the end marker otherwise.
    bool looksLikeDirectory(uint32_t cluster, bool first) const;
    void collectLongName(const uint8_t* entry, LongName& longName) const;
    void handleFile(const uint8_t* entry, const LongName& longName);
    // A live file of a lost volume, posted as a record along its chain.
    void postLostLiveFile(const DirectoryNode& node, const uint8_t* entry, const EntryName& name);
    void handleDeletedEntry(const DirectoryNode& node, const uint8_t* entry, const EntryName& name);
    // Finds a deleted file's data and type; the record waits for
    // settleDeleted().
    void postDeletedFile(const DirectoryNode& node, const uint8_t* entry, const EntryName& name);
    // After the walk, when every deleted entry's claim is known: settles
    // each waiting record's layout and posts it.
    void settleDeleted();
    uint64_t lastWholeCluster() const;
    EntryName liveName(const uint8_t* entry, const LongName& longName) const;
    EntryName deletedName(const uint8_t* entry, const DeletedLongName& pieces) const;
    void queueDirectory(uint32_t cluster, bool root, bool deleted, const QString& path);
    uint32_t startCluster(const uint8_t* entry) const;
    bool clusterInUse(uint32_t cluster) const;
    // Marks the chain of a live file from `first` as reached; stops at its
    // end, at anything that is not a next cluster, or at a cluster already
    // reached (a loop, or a chain cross-linked with another).
    void markChain(uint32_t first);

    IVolume* m_volume;
    CNotifyFileNode* m_notifier;
    const std::atomic<bool>* m_running;
    std::atomic<bool> m_stop{false};
    Geometry m_geometry;
    bool m_geometryKnown = false;
    int64_t m_volumeLength = 0;
    std::unique_ptr<CFatAllocationMap> m_fat;
    std::deque<DirectoryNode> m_queue;
    // Clusters taken by a directory (queued, or reached by its chain): a
    // tree with cycles or chains that merge is read once.
    CClusterBitSet m_directoryClusters;
    // Clusters that a live entry's chain reaches (one bit per cluster of
    // the volume: 32 MiB for the largest FAT32 volume); kept for the map
    // when the walk ends, so that lost chains can be told apart.
    std::shared_ptr<CClusterBitSet> m_reached;
    std::vector<uint8_t> m_cluster;
    mutable std::vector<uint8_t> m_probe;
    int m_findings = 0;
    int m_deletedFindings = 0;
    bool m_reportDeleted = true;
    bool m_liveFilesLost = false;
    // Clusters the deleted files' data walks may still look at.
    uint64_t m_walkBudget = 0;
    // The walks, and every deleted file's claim, during a scan.
    std::unique_ptr<CFatDeletedLayout> m_deletedLayout;
    struct PendingDeleted
    {
        CFileNode record;
        uint32_t start = 0;
        int64_t size = 0;
        bool startTaken = false;
    };
    std::vector<PendingDeleted> m_pendingDeleted;
    QString m_failure;
};
