#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>

// What the system's disk service (udisks2) knows of each drive's health:
// ATA SMART's overall verdict and its count of bad sectors (reallocated
// and pending), an NVMe controller's critical warnings. A failing disk
// gets worse with every pass over it: the disk page says so on its tiles,
// and suggests imaging it first.
class CDriveHealth
{
public:
    struct Health
    {
        bool known = false;     // udisks2 gave SMART or NVMe health for the drive
        bool failing = false;   // SMART says failing, or the controller raised a critical warning
        int64_t badSectors = -1; // reallocated + pending; -1 unknown
        QStringList warnings;    // the NVMe controller's critical warnings ("spare", "degraded", ...)
        bool worrying() const { return failing || badSectors > 0; }
    };

    // The health of the drive under every block device udisks2 manages,
    // keyed by device path (/dev/sdb and /dev/sdb1 alike). Empty when there
    // is no system bus or no udisks2, or nothing answered in `timeoutMs`.
    static QHash<QString, Health> query(int timeoutMs = kDefaultTimeoutMs);

    static constexpr int kDefaultTimeoutMs = 3000;
};
