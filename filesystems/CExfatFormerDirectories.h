#pragma once

#include <QHash>
#include <QString>

#include <cstdint>

// The folders an exFAT volume had before it was formatted. A format writes
// a new root, bitmap and FAT and leaves the cluster heap as it was: the old
// folders' clusters still hold their entry sets, in what the new bitmap
// calls free space. exFAT keeps no link from a folder to its parent, so a
// folder is named only where the entry of its parent that points at it was
// found too; the old root itself is gone (the new one took its cluster), so
// every path found this way starts with "?".
//
// The caller reads the free clusters (CFreeClusterSweep) and knows entry
// sets; it tells this the sub-folder entries it met with addFolder(), and
// asks folderOf() for the path of the folder a cluster belongs to.
class CExfatFormerDirectories
{
public:
    static constexpr int kMaxDepth = 64;
    static constexpr int kMaxFolders = 1000000;

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
