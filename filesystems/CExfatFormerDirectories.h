#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>

class IVolume;

// The folders an exFAT volume had before it was formatted. A format writes
// a new root, bitmap and FAT and leaves the cluster heap as it was: the old
// folders' clusters still hold their entry sets, in what the new bitmap
// calls free space. exFAT keeps no link from a folder to its parent, so a
// folder is named only where the entry of its parent that points at it was
// found too; the old root itself is gone (the new one took its cluster), so
// every path found this way starts with "?".
//
// search() reads the heap's free clusters, in windows, up to a byte budget,
// and hands each free cluster to the caller (which knows entry sets); the
// caller tells it the sub-folder entries it met with addFolder(), and asks
// folderOf() for the path of the folder a cluster belongs to.
class CExfatFormerDirectories
{
public:
    // Free space read at most: the old folders lie among the old files,
    // which filled the heap from its start.
    static constexpr int64_t kMaxSearchBytes = int64_t(4) << 30;
    static constexpr int64_t kWindowBytes = 1024 * 1024;
    static constexpr int kMaxDepth = 64;
    static constexpr int kMaxFolders = 1000000;

    struct Heap
    {
        int64_t offset = 0; // bytes from the volume's start to cluster 2
        uint64_t clusterBytes = 0;
        uint32_t clusterCount = 0;
    };

    // Reads the free clusters of `heap` in ascending order and calls `visit`
    // with each: its number, its bytes and those of the rest of the window
    // after it (`length` bytes in all, at least the cluster's), so that an
    // entry set that crosses into the next cluster can be read whole.
    // Returns the bytes read.
    static int64_t search(IVolume* volume, const Heap& heap, const std::function<bool(uint32_t cluster)>& clusterFree,
                          const std::function<bool()>& stopRequested,
                          const std::function<void(uint32_t cluster, const uint8_t* bytes, size_t length)>& visit,
                          int64_t maxBytes = kMaxSearchBytes);

    // A folder entry found in cluster `in`: the folder `name` holds
    // `clusters` clusters from `first` (one when its chain is not known).
    void addFolder(uint32_t in, const QString& name, uint32_t first, uint64_t clusters);
    // The path of the folder that cluster `cluster` belongs to: "?" and the
    // names of the folders above it as far as their entries were found.
    QString folderOf(uint32_t cluster) const;

private:
    struct Folder
    {
        uint32_t parentCluster = 0;
        QString name;
    };
    // Each cluster of a found folder, to the entry that names that folder.
    QHash<uint32_t, Folder> m_folders;
};
