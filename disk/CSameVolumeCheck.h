#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

// Tells whether writing into a folder may overwrite the volume being
// recovered, so that a recovery never destroys the data it is saving.
//
// Both sides are resolved to block devices: the source directly (a block
// device) and the output folder through the file system holding it (its
// device number, or for btrfs, FUSE and the like the device named in
// /proc/self/mountinfo). Each device is then expanded through
// /sys/dev/block/MAJ:MIN to everything it is built on: the disk holding a
// partition, the slaves of an LVM, LUKS or md device, recursively. The two
// overlap when one side is built on the other: scanning /dev/sdb while
// writing to /dev/sdb1, or writing into an LVM volume on the scanned
// partition. Two partitions of one disk do not overlap.
//
// An image file stands for the volume it was taken from: the output
// overlaps when it is on the file system that holds the image, or on a file
// system that sits on a loop device backed by the image. (Writing beside an
// image does not change its bytes, but an image is treated like the volume
// it stands for, so that a recovery behaves the same on both; the CLI's
// --allow-same-volume is there for those who know better.)
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

    // The kernel name of a device (sdb1), or the number when unknown.
    QString deviceName(const QString& device) const;

private:
    QByteArray mountInfo() const;
    QString sysDeviceDir(const QString& device) const;

    QString m_sysRoot;
    QByteArray m_mountInfo;
    bool m_fixedMountInfo = false;
};
