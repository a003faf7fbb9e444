#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// Tells whether writing into a folder may overwrite the volume being
// recovered, so that a recovery never destroys the data it is saving.
//
// The output folder is followed down to everything it is built on: its file
// system's device; for btrfs every device of the file system (found by its
// UUID in /sys/fs/btrfs, since each subvolume has a device number of its own
// that no table lists); for an overlay every layer folder (upper, work and
// lower: the kernel may copy up into the upper one, and all are walked on
// in turn); for FUSE and the like what /proc/self/mountinfo names as the
// mount's source (a block device, or for ntfs-3g on an image the image file
// itself). Then through /sys/dev/block/MAJ:MIN the disk holding a
// partition, the slaves of an LVM, LUKS or md device, and the backing file
// of a loop device; a backing or source file leads on to the device that
// holds it, recursively.
//
// Whatever step cannot be resolved (a device number no table lists, a mount
// whose source is neither a device nor a file, a layer folder that cannot
// be looked up) leaves the answer Unknown, never Different: a wrong
// "different" lets a recovery overwrite what it saves.
//
// A block device source overlaps when the output is built on it, when it is
// built on the output's device (scanning /dev/sdb while writing to
// /dev/sdb1; LVM on the scanned partition), or when the output is built on a
// file that backs the source (a loop device of an image, written through a
// FUSE mount of that image). Two partitions of one disk do not overlap.
//
// An image file source overlaps only when the output is built on the image
// itself: a loop device of it, a FUSE or loop mount of it, anything stacked
// on those. Files written beside an image cannot change its bytes, so the
// file system that merely holds it is a different volume.
class CSameVolumeCheck
{
public:
    enum class Verdict { Different, Same, Unknown };

    struct Result
    {
        Verdict verdict = Verdict::Unknown;
        // English words for the message: why the answer is what it is.
        QString detail;
    };

    static constexpr int kMaxDevices = 64;

    CSameVolumeCheck();

    // Test aids: another sysfs root and a fixed mountinfo text.
    void setSysRoot(const QString& root) { m_sysRoot = root; }
    void setMountInfo(const QByteArray& text) { m_mountInfo = text; m_fixedMountInfo = true; }

    Result check(const QString& source, const QString& outputFolder) const;
    // The same, for an output folder already resolved by outputDevice().
    Result checkDevices(const QString& source, const QString& outputDevice, bool outputNotOnDisk) const;

    // The block device ("MAJ:MIN") of the file system holding `folder` (or
    // its nearest existing parent). Empty when there is none; `notOnDisk`
    // is then true for file systems that live on no local disk (tmpfs,
    // network shares).
    QString outputDevice(const QString& folder, bool* notOnDisk) const;

    // The device of a mount (the field of mountinfo) and what it is mounted
    // from: "MAJ:MIN" of a block device, or empty. Public for tests.
    QString deviceOfMount(const QString& mountDevice, bool* notOnDisk) const;

    // `device` and every device it is built on. `complete` is false when a
    // device could not be looked up in sysfs.
    QSet<QString> underlying(const QString& device, bool* complete) const;

    // The backing file of a loop device, empty for anything else.
    QString loopBackingFile(const QString& device) const;

    // Everything the file system on `device` ("MAJ:MIN", anonymous numbers
    // included) is built on: devices, and the files ("DEV:INO") behind loop
    // devices and FUSE mounts, with a path for each file.
    struct Stack
    {
        QSet<QString> devices;
        // The block devices a write may reach anywhere on: those a file
        // system, a file or a mapping spreads over. The disk reached from a
        // partition is in `devices` only: a write lands inside the
        // partition, never on its sister partitions.
        QSet<QString> spread;
        QHash<QString, QString> files; // "DEV:INO" -> path
        bool complete = true;          // every step could be looked up
        bool notOnDisk = false;        // a file system on no local disk
    };
    Stack stackUnder(const QString& device) const;
    // The same, for the file system holding `path` (which exists).
    Stack stackUnderPath(const QString& path) const;

    // The devices of the btrfs file system holding `path`, as "MAJ:MIN";
    // empty when it is not btrfs or they cannot be read.
    QStringList btrfsDevices(const QString& path, bool* isBtrfs) const;

    // The kernel name of a device (sdb1), or the number when unknown.
    QString deviceName(const QString& device) const;

private:
    struct MountSource
    {
        QString device;     // "MAJ:MIN" of a block device
        QString file;       // a regular file (FUSE on an image)
        QString type;       // the file system's type
        QString mountPoint;
        QStringList layers; // an overlay's upper, work and lower folders
        bool found = false;
        bool notOnDisk = false;
    };
    MountSource mountSource(const QString& mountDevice) const;

    // One step of the walk down: a device number or a path on a file
    // system, and whether a write may reach anywhere on it.
    struct Step
    {
        QString device;
        QString path;
        bool spread = true;
        bool top = false; // the output's own file system
    };
    void walk(Stack* stack, QList<Step> queue) const;
    Result verdict(const QString& source, const Stack& below) const;
    QByteArray mountInfo() const;
    QString sysDeviceDir(const QString& device) const;

    QString m_sysRoot;
    QByteArray m_mountInfo;
    bool m_fixedMountInfo = false;
};
