#pragma once

#include <QString>

#include <cstdint>

// One volume the user can scan, as a disk tile shows it.
class CPartitionInfo
{
public:
    // The file-system name of a whole disk or an image: the scan reads its
    // boot sector, or its partition table and each partition's.
    static QString autoFileSystem() { return QStringLiteral("auto"); }

    // Label, or "本地磁盘", followed by the kernel name in parentheses: Data(sdb1).
    QString displayName;
    // Free space in whole GiB ("37GB"), or "未知" when it is not known (the
    // volume is not mounted).
    QString freeText;
    // Total size in whole GiB ("120GB").
    QString totalText;
    // The /dev path the scan opens: /dev/sdb1, /dev/mapper/vg-home.
    QString devicePath;
    // The name the scan driver expects: "NTFS", "FAT32", or another file
    // system's name in capitals ("EXT4"); autoFileSystem() for a whole
    // partitioned disk or an image; empty when unknown.
    QString fileSystem;
    // Used share in whole percent, 0 to 100 (0 when free space is unknown).
    int usedPercent = 0;

    // What the texts are made from.
    bool freeKnown = false;
    bool removable = false;
    int64_t totalBytes = 0;
    int64_t freeBytes = 0;
    QString kernelName;   // sdb1, vg-home
    QString deviceType;   // lsblk's TYPE: part, disk, lvm, crypt, raid1 ...
    QString label;
    QString mountPoint;
    // What udisks2 says of the drive's health: SMART (or the NVMe
    // controller) reports it failing, and its bad sectors (-1 unknown).
    bool failing = false;
    int64_t badSectors = -1;
    // Whether the tile warns: a drive that reads worse with every pass is
    // imaged first.
    bool healthWarning() const { return failing || badSectors > 0; }
};
