#pragma once

#include "filesystems/CFatDirectoryWalk.h"
#include "filesystems/CFatGeometry.h"
#include "filesystems/CFatLongName.h"
#include "filesystems/CFreeClusterSweep.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CClusterBitSet;
class CFatAllocationMap;
class CFatDeletedFiles;
class CFatFormerSearch;
class CFreeClusterObserver;
class CNotifyFileNode;
class IAllocationMap;
class IVolume;
class IWindowObserver;

// The file-system pass of a FAT12, FAT16 or FAT32 volume: walks the
// directory tree from the root (CFatDirectoryWalk) and posts
//  - (start sector, type code) for every live file whose name makes it one
//    of our documents, or a container of one (code 100). The start sector is
//    that of the file's first cluster, in 512-byte units from the start of
//    the volume. Every entry that is not a directory, a volume label or a
//    piece of a long name is a file, whatever its other attribute bits;
//  - a CFileNode for every deleted file that is one of our documents by its
//    name or by its first bytes (CFatDeletedFiles).
//
// The name that decides is the long name when valid long-name entries
// (their checksum matching the short entry) precede the short entry, and the
// short name's three-letter extension otherwise (CFatLongName).
//
// The jobs are apart: the boot sector's geometry (CFatGeometry), the table
// and which clusters are in use (CFatAllocationMap), the live chains and
// what they reach (CFatChains), the tree walk, and the deleted files.
class CFat32Scanner : private CFatDirectoryWalk::Visitor
{
public:
    using Geometry = CFatGeometry;

    CFat32Scanner(IVolume* volume, CNotifyFileNode* notifier, const std::atomic<bool>* running = nullptr);
    ~CFat32Scanner() override;

    CFat32Scanner(const CFat32Scanner&) = delete;
    CFat32Scanner& operator=(const CFat32Scanner&) = delete;

    void scan();
    void stop() { m_stop = true; }

    // False when the sector is too short or its geometry is zero or absurd.
    static bool decodeBootSector(const uint8_t* sector, size_t length, Geometry& geometry)
    {
        return CFatGeometry::decode(sector, length, geometry);
    }

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
    // Whether the folders the volume held before it was last formatted are
    // searched for in its free clusters (with deleted files posted, on by
    // default): a free cluster that starts with "." naming itself and ".."
    // is an old folder's first, and it is walked as a deleted directory
    // (CFatDirectoryWalk::setFormerDirectories); one that holds entries all
    // through, a long name among them whose checksum holds, is a later
    // cluster of an old folder.
    void setSearchFormer(bool on) { m_searchFormer = on; }
    // Whether that search waits for the carving pass instead of sweeping
    // the free clusters itself: scan() then leaves formerObserver() to be
    // shown the windows the carving pass reads (every free cluster, so the
    // free space is read once), and finishFormer() walks the old folders
    // found and posts their deleted files. Off by default.
    void setFormerFromWindows(bool on) { m_formerFromWindows = on; }
    // After scan(): what is to be shown the carving pass's windows (in this
    // volume's offsets), null when nothing waits for it.
    IWindowObserver* formerObserver() const;
    // Walks the old folders the windows showed, and posts their deleted
    // files; once only. A stop requested of the scan does not cut it short
    // (it reads only the folders found, and what it posts is kept for a
    // resumed scan), stop() does.
    void finishFormer();

    // The type the volume was taken for ("FAT12", "FAT16" or "FAT32", the
    // default), named when its boot sector fails. The width read is the one
    // the boot sector's geometry gives (CFatGeometry).
    void setExpectedType(const QString& name) { m_expectedType = name; }
    // The type the last scan read; empty when the boot sector did not
    // decode.
    QString type() const { return m_geometryKnown ? m_geometry.typeName() : QString(); }
    // The geometry the last scan read from the boot sector; null when it
    // did not decode.
    const Geometry* geometry() const { return m_geometryKnown ? &m_geometry : nullptr; }

    // Live documents posted by the last scan.
    int findings() const { return m_findings; }
    // Deleted documents posted by the last scan.
    int deletedFindings() const { return m_deletedFindings; }
    // Old folders found in free clusters by the last scan, and the free
    // space read to find them.
    int formerDirectories() const { return m_formerDirectories; }
    int64_t formerBytesRead() const { return m_formerBytes; }

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
    bool stopRequested() const;
    // The first clusters of the old folders in free space; in `continued`
    // the free clusters that hold entries but start no folder, and in
    // `next` where a long name's seam says a folder goes on (CFatNameSeam).
    std::vector<CFatDirectoryWalk::Former> findFormerDirectories(std::vector<uint32_t>& continued,
                                                                 std::unordered_map<uint32_t, uint32_t>& next);
    // The search's free-cluster heap: false when the volume has none.
    bool formerHeap(CFreeClusterSweep::Heap& heap) const;
    void liveFile(const CFatDirectoryWalk::Directory& directory, const uint8_t* entry,
                  const CFatLongName& names) override;
    void deletedFile(const CFatDirectoryWalk::Directory& directory, const uint8_t* entry,
                     const CFatLongName::Name& name) override;
    // A live file, posted by its start sector when its name makes it one
    // of ours.
    void postLiveFile(const uint8_t* entry, const CFatLongName& names);
    // A live file of a lost volume, posted as a record along its chain.
    void postLostLiveFile(const CFatDirectoryWalk::Directory& directory, const uint8_t* entry,
                          const CFatLongName::Name& name);

    IVolume* m_volume;
    CNotifyFileNode* m_notifier;
    const std::atomic<bool>* m_running;
    std::atomic<bool> m_stop{false};
    Geometry m_geometry;
    bool m_geometryKnown = false;
    uint64_t m_lastWholeCluster = 0;
    std::unique_ptr<CFatAllocationMap> m_fat;
    std::unique_ptr<CFatChains> m_chains;
    std::unique_ptr<CFatDeletedFiles> m_deleted;
    // Clusters that a live entry's chain reaches, kept for the map when
    // the walk ran to its end, so that lost chains can be told apart.
    std::shared_ptr<CClusterBitSet> m_reached;
    std::vector<uint8_t> m_probe;
    int m_findings = 0;
    int m_deletedFindings = 0;
    bool m_reportDeleted = true;
    bool m_liveFilesLost = false;
    bool m_searchFormer = true;
    bool m_formerFromWindows = false;
    // Between scan() and finishFormer(): the walk of the live tree, kept for
    // what it read, and the search the carving pass's windows feed.
    std::unique_ptr<CFatDirectoryWalk> m_walk;
    std::unique_ptr<CFatFormerSearch> m_formerSearch;
    std::unique_ptr<CFreeClusterObserver> m_formerObserver;
    bool m_finishing = false;
    int m_formerDirectories = 0;
    int64_t m_formerBytes = 0;
    QString m_failure;
    QString m_expectedType = QStringLiteral("FAT32");
};
