#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <vector>

class IVolume;

// Finds file systems on a whole disk that no partition entry names: a
// partition deleted from the table, or every partition of a disk whose
// table is gone. It reads only the stretches the live entries leave
// uncovered (the whole disk when there are none), and only at the places
// partitioning tools start partitions:
//
//   - every 1 MiB boundary (every tool since Windows Vista and parted,
//     fdisk, sgdisk aligns to it);
//   - the old cylinder grid of 255 heads by 63 sectors: sector 63, every
//     cylinder boundary (16065 sectors) and 63 sectors past it, where
//     Windows up to XP put primary and logical partitions.
//
// At each place one read of kProbeBytes covers the boot sector of NTFS, FAT
// and exFAT, their backups at sectors 6 and 12, the ext superblock at byte
// 1024 and the sector before (an NTFS backup at a volume's end), so the
// cost is one small read per MiB of uncovered space plus two per 8 MB
// cylinder: well under one percent of the bytes the carving pass
// reads there anyway, in ascending order. A volume found is stepped over
// whole.
//
// A candidate counts only when its geometry agrees with what lies on the
// disk: NTFS's first MFT record where its boot sector says ("FILE" with a
// matching update sequence); FAT32's first FAT entry repeating the media
// byte and a FAT long enough for its clusters; exFAT's boot region checksum
// and its media entry in FAT[0]; ext's superblock counts and its first group
// descriptor pointing inside the volume. A volume that would reach into a
// live partition is not taken: it is stale (an older layout overwritten by
// the live one), and its structures there now belong to another volume.
//
// When the main boot sector is gone but a backup survives (FAT32 at sector
// 6 of the volume, exFAT's region at sector 12), the volume is found from
// the backup: its start is where the backup says, and `fromBackup` tells
// the caller to read the boot sector from there.
class CLostPartitionSearch
{
public:
    struct Range
    {
        int64_t offset = 0;
        int64_t length = 0;
    };

    struct Found
    {
        QString fileSystem; // "NTFS", "FAT32", "FAT16", "FAT12", "exFAT" or "EXT4", as CBootSectorProbe names them
        int64_t offset = 0; // bytes from the start of the disk
        int64_t length = 0; // cut at the end of the disk
        // Where a good copy of the boot sector lies, relative to `offset`,
        // when the one at the volume's start is damaged; 0 otherwise.
        int64_t bootCopyOffset = 0;
        // How many bytes from there stand for the volume's first ones.
        int64_t bootCopyLength = 0;
    };

    static constexpr int64_t kAlignment = 1024 * 1024;
    static constexpr int64_t kSectorBytes = 512;
    static constexpr int64_t kTrackSectors = 63;
    static constexpr int64_t kCylinderSectors = 255 * 63;
    // One sector before the place and fifteen from it: the backups of FAT32
    // and exFAT included.
    static constexpr int kProbeBytes = 8192;
    // FAT32 keeps a copy of its boot sector here (the BPB's usual value;
    // what a damaged main sector would have said cannot be known).
    static constexpr int64_t kFat32BackupSector = 6;
    static constexpr int64_t kExfatBackupSector = 12;

    // Searches the parts of `volume` outside `live` (the partitions the table
    // names). `running`, when given, ends the search early once false.
    static std::vector<Found> search(IVolume& volume, const std::vector<Range>& live,
                                     const std::atomic<bool>* running = nullptr);

    // Whether a file system whose boot sector (or superblock region) is in
    // `probe` (kProbeBytes read at `offset`) lies at `offset` of `volume`.
    // Exposed for the tests and the fuzz target.
    static bool check(IVolume& volume, int64_t offset, const uint8_t* probe, size_t length, Found& found);

private:
    static bool checkNtfs(IVolume& volume, int64_t offset, const uint8_t* boot, size_t length, Found& found);
    static bool checkFat32(IVolume& volume, int64_t offset, const uint8_t* boot, size_t length, Found& found);
    // FAT12 and FAT16: their FAT holds an entry for every cluster, begins
    // with the media byte and an end of chain, and the volume fits the disk
    // as far as its root directory.
    static bool checkFixedRootFat(IVolume& volume, int64_t offset, const uint8_t* boot, size_t length, Found& found);
    static bool checkExfat(IVolume& volume, int64_t offset, const uint8_t* boot, size_t length, int64_t regionOffset,
                           Found& found);
    static bool checkExt(IVolume& volume, int64_t offset, const uint8_t* probe, size_t length, Found& found);
};
