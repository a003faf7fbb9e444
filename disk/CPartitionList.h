#pragma once

#include "disk/CDriveHealth.h"
#include "disk/CPartitionInfo.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

// The volumes of this machine that can be scanned, in lsblk's order:
// partitions, whole disks (a partitioned one after its partitions, named
// "整个磁盘(sda)" and scanned through its partition table), LVM volumes,
// LUKS mappings and md arrays; not CD-ROMs, RAM disks, zram or unused loop
// devices.
//
// The list comes from lsblk's JSON (it reads the udev database, so labels
// and file-system types are known without root). Everything the list asks
// the system can be replaced, so tests feed fixed answers.
class CPartitionList
{
public:
    static constexpr int kLsblkTimeoutMs = 10000;
    // Smaller devices (an extended partition's 1 KiB link) hold nothing to find.
    static constexpr int64_t kMinimumSize = 4096;

    struct Probes
    {
        // lsblk's JSON output; empty when lsblk is missing or failed.
        std::function<QByteArray()> readLsblk;
        // Free bytes of the file system mounted at a path; false when unknown.
        std::function<bool(const QString& mountPoint, int64_t* freeBytes)> freeSpace;
        // Whether a loop device (kernel name) has a backing file.
        std::function<bool(const QString& kernelName)> loopHasBackingFile;
        // The file system named by a device's boot sector ("" when unknown
        // or unreadable).
        std::function<QString(const QString& devicePath)> bootSectorFileSystem;
        // The health of the drive under a device (udisks2, asked once per
        // listing); false when unknown.
        std::function<bool(const QString& devicePath, CDriveHealth::Health* health)> driveHealth;
    };

    CPartitionList();
    ~CPartitionList();
    CPartitionList(const CPartitionList&) = delete;
    CPartitionList& operator=(const CPartitionList&) = delete;

    // The system's answers: lsblk, statvfs, /sys/block, the boot sector.
    static Probes systemProbes();
    void setProbes(Probes probes) { m_probes = std::move(probes); }

    // Where the drive type texts go. They mean nothing to a user, so by
    // default they go only to the debug log (the "tamsel.partitions" logging
    // category, QT_LOGGING_RULES="tamsel.partitions.debug=true").
    void setDiagnosticStream(FILE* stream) { m_diagnostics = stream; }

    // Fills the list. Refilling drops the earlier descriptions (and with them
    // every pointer handed out before).
    void enumerate();

    // The descriptions, valid as long as the list lives (or until the next
    // enumerate()).
    QList<CPartitionInfo*> partitions() const;
    int count() const { return static_cast<int>(m_partitions.size()); }

    // Describes one lsblk device and appends it; false when it is not a
    // volume to list or cannot be described.
    bool addVolume(const QJsonObject& device, bool parentRemovable);

    // "%dGB" of whole GiB, 64-bit.
    static QString gibText(int64_t bytes);
    // The name the scan driver expects, from lsblk's FSTYPE and FSVER.
    static QString fileSystemName(const QString& fsType, const QString& fsVersion);

    static const char* removableText();
    static const char* fixedText();

private:
    void walk(const QJsonObject& device, bool parentRemovable, int depth);
    // A disk or loop device with partitions under it.
    static bool isPartitionedDisk(const QJsonObject& device);

    Probes m_probes;
    FILE* m_diagnostics = nullptr;
    std::vector<std::unique_ptr<CPartitionInfo>> m_partitions;
};
