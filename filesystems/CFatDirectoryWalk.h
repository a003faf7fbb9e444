#pragma once

#include "filesystems/CClusterBitSet.h"
#include "filesystems/CFatGeometry.h"
#include "filesystems/CFatLongName.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_map>
#include <vector>

class CFatAllocationMap;
class CFatChains;
class IVolume;

// Walks a FAT volume's directory tree from the root (a chain on FAT32, a
// fixed region on FAT12 and FAT16), breadth first, and
// hands every file entry to a visitor: live files of live directories, and
// deleted files (an entry marked deleted, or anything in a deleted
// directory). Live directories are followed along their chains; the
// clusters of every live chain are marked in CFatChains.
//
// Deleted directories are walked too, as far as their clusters are still
// free and still look like directories; everything in them is deleted.
//
// Every chain and every directory walk is bounded by the volume: chain ends,
// free and bad entries, clusters past the volume, loops and directories
// reached twice all end the walk, and no cluster is read as a directory
// twice (one bit per cluster).
class CFatDirectoryWalk
{
public:
    struct Directory
    {
        uint32_t firstCluster = 0;
        bool root = false;
        // A deleted directory: its clusters follow one another from the
        // first on (the FAT no longer says), and all it holds is deleted.
        bool deleted = false;
        QString path; // "" for the root, "/Docs/Work" below it
    };

    class Visitor
    {
    public:
        virtual ~Visitor() = default;
        // A file of a live directory (every entry that is not a directory,
        // a volume label or a piece of a long name), its chain marked;
        // `names` holds the long-name pieces in front of it.
        virtual void liveFile(const Directory& directory, const uint8_t* entry, const CFatLongName& names) = 0;
        // A deleted file, with the name its entry and pieces give.
        virtual void deletedFile(const Directory& directory, const uint8_t* entry, const CFatLongName::Name& name) = 0;
    };

    CFatDirectoryWalk(IVolume* volume, const CFatGeometry& geometry, const CFatAllocationMap& fat, CFatChains& chains,
                      Visitor& visitor, std::function<bool()> stopRequested);

    // Whether deleted entries are looked at (the default).
    void setFollowDeleted(bool on) { m_followDeleted = on; }

    // A folder of the file system the volume held before it was last
    // formatted: its first cluster (found free and holding "." and ".."),
    // and its parent's first cluster as its ".." says (0: the root).
    struct Former
    {
        uint32_t cluster = 0;
        uint32_t parent = 0;
    };
    // After the live tree, run() walks these as deleted directories: first
    // those whose parent is not among them, under "?" (the old root was
    // overwritten by the new one), so that the folders below them are
    // named by their entries there; then any not reached that way, under
    // "?" too; last the clusters in `continued` (free clusters that hold
    // directory entries but no "." and "..", in ascending order) that no
    // folder's walk reached, their files under "?". Those the live tree's
    // walk read already are left. `next` links a cluster to the one its
    // folder goes on in where that is not the cluster after it
    // (CFatNameSeam): such folders are read on across the gap.
    void setFormerDirectories(std::vector<Former> former, std::vector<uint32_t> continued,
                              std::unordered_map<uint32_t, uint32_t> next)
    {
        m_former = std::move(former);
        m_formerContinued = std::move(continued);
        m_formerNext = std::move(next);
    }

    // Walks the whole tree; returns early when a stop is requested.
    void run();
    // The same in two steps, for former directories that are found only
    // later: walkTree() walks the live tree (and the deleted directories in
    // it) and keeps what it read, so that walkFormerLater(), given the
    // former directories meanwhile, leaves it as run() does. False when a
    // stop was requested.
    bool walkTree();
    void walkFormerLater();

private:
    // Walks the queued directories; false when a stop was requested.
    bool drain();
    void walkFormer();
    // The cluster a deleted directory goes on in after `cluster`, or 0: the
    // one its name seam links it to, else the next one while it is free
    // and holds entries.
    uint32_t deletedNext(uint32_t cluster);
    // Reads a deleted directory from `cluster` on, at most `maxClusters`;
    // false when stopped.
    bool readDeleted(const Directory& node, uint32_t cluster, CFatLongName& names);
    void queueDirectory(uint32_t cluster, bool root, bool deleted, const QString& path);
    // The clusters of a live directory, in chain order.
    std::vector<uint32_t> directoryChain(uint32_t firstCluster);
    // Reads one directory cluster and handles its entries. False when the
    // directory ends in it (an end marker in a deleted directory) or the
    // walk was stopped; `stopped` tells which.
    bool readDirectoryCluster(const Directory& node, uint32_t cluster, CFatLongName& names, bool& stopped);
    // The same for `length` bytes (at most a cluster) from `offset`.
    bool readDirectoryBlock(const Directory& node, int64_t offset, size_t length, CFatLongName& names, bool& stopped);
    // Whether a free cluster holds what a deleted directory's cluster would:
    // the "." and ".." entries first when `first`, plausible entries up to
    // the end marker otherwise.
    bool looksLikeDirectory(uint32_t cluster, bool first);
    void deletedEntry(const Directory& node, const uint8_t* entry, const CFatLongName::Name& name);

    IVolume* m_volume;
    CFatGeometry m_geometry;
    const CFatAllocationMap& m_fat;
    CFatChains& m_chains;
    Visitor& m_visitor;
    std::function<bool()> m_stopRequested;
    bool m_followDeleted = true;
    int64_t m_volumeLength = 0;
    std::deque<Directory> m_queue;
    std::vector<Former> m_former;
    std::vector<uint32_t> m_formerContinued;
    std::unordered_map<uint32_t, uint32_t> m_formerNext;
    // Clusters taken by a directory (queued, or reached by its chain): a
    // tree with cycles or chains that merge is read once.
    CClusterBitSet m_directoryClusters;
    std::vector<uint8_t> m_cluster;
    std::vector<uint8_t> m_probe;
};
