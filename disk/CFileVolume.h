#pragma once

#include "disk/IVolume.h"

#include <atomic>
#include <memory>
#include <sys/types.h>

// A block device or an image file, opened read-only.
//
// Only block devices and regular files are accepted: a FIFO, a terminal or
// another character device is refused at open time instead of blocking the
// scan forever. The descriptor is opened O_RDONLY, so nothing that holds a
// CFileVolume can write to the source.
class CFileVolume : public IVolume
{
public:
    // What the path was found to be, as far as stat() could tell.
    enum class SourceKind
    {
        Unknown,     // stat() failed for another reason (a folder on the way not searchable)
        Missing,     // no such file or device
        RegularFile, // an image file
        BlockDevice,
        Other,       // a folder, a FIFO, a character device...
    };

    // What the system's disk service (udisks2) answered when it was asked
    // for a device that we may not open ourselves.
    enum class ServiceAnswer
    {
        NotAsked,
        Missing,          // no udisks2 on the system bus
        UnknownDevice,    // udisks2 does not manage this path
        Dismissed,        // the user cancelled the password dialog
        Refused,          // the user may not read the device
        TimedOut,         // no answer in time
        Stopped,          // the scan was stopped while waiting
        UnsafeDescriptor, // the descriptor was writable or another object
        Failed,           // any other error (see serviceDetail)
    };

    // Why a source could not be opened: the cause as codes, which each
    // interface words for itself, and an English sentence for the command line.
    struct OpenError
    {
        int error = 0;      // errno, or 0 when the source was refused by type
        SourceKind kind = SourceKind::Unknown;
        // The process had administrator rights (euid 0) and was refused all
        // the same: a locked device or a container, where sudo changes nothing.
        bool privileged = false;
        QString reason;     // readable English text naming the source and the cause
        ServiceAnswer service = ServiceAnswer::NotAsked;
        QString serviceDetail; // the service's own error text, when it gave one
    };

    // Opens `path` (UTF-8 on this system). Returns null and fills `failure`
    // when the source cannot be used.
    static std::unique_ptr<CFileVolume> open(const QString& path, OpenError* failure = nullptr);

    // Takes `fd` (a descriptor opened elsewhere, e.g. handed over by
    // udisks2) under the same rules as open(): read-only, a block device or a
    // regular file. Closes it and returns null when a rule is broken.
    static std::unique_ptr<CFileVolume> adopt(int fd, const QString& path, OpenError* failure = nullptr);

    // True when a failed open() may succeed through udisks2: the only
    // obstacle was the lack of rights.
    static bool refusedForRights(const OpenError& failure);
    // The grid of direct reads: a page, a multiple of every logical block
    // size in use (512 and 4096 bytes).
    static constexpr size_t kDirectAlign = 4096;

    ~CFileVolume() override;
    CFileVolume(const CFileVolume&) = delete;
    CFileVolume& operator=(const CFileVolume&) = delete;

    ReadResult read(int64_t offset, void* buffer, size_t length) override;
    // Stretches that are not wholly in the page cache are read with
    // O_DIRECT (a second descriptor of the same file, read-only too)
    // straight into the buffer: no copy through the page cache, no
    // readahead, and the device's queue is filled by the request itself.
    // Cached stretches, buffers off the block grid and sources that refuse
    // O_DIRECT are read as read() does.
    ReadResult readOnce(int64_t offset, void* buffer, size_t length) override;
    // Through the O_DIRECT descriptor with a buffer of its own on the grid,
    // so that one bad sector fails one sector's read, not a page's; read()
    // where the source refuses that.
    ReadResult readExact(int64_t offset, void* buffer, size_t length) override;
    int sectorSize() const override { return m_sectorSize; }
    // mincore() on an untouched read-only mapping, for up to 64 pages spread
    // over the stretch and its last page: a look-up per page of a 4 MiB
    // stretch cost a tenth of a warm scan.
    bool cached(int64_t offset, int64_t length) const override;
    // A shared read-only mapping of the stretch, its pages put in place at
    // once (MAP_POPULATE), listed with CMappedViews, for a stretch of which
    // the cache holds at least kViewedShare (the rest is read in as the view
    // is made); past the end of the volume, untouched anonymous memory (the
    // kernel's zero page: nothing is allocated or cleared for it).
    const uint8_t* mapView(int64_t offset, int64_t length) override;
    int64_t viewLostBytes(const uint8_t* view) const override;
    int64_t releaseView(const uint8_t* view, int64_t length) override;
    int64_t length() const override { return m_length; }
    QString name() const override { return m_path; }
    bool rotational() const override { return m_rotational; }
    void adviseSequential() override;
    void adviseWillNeed(int64_t offset, int64_t length) override;

    bool isBlockDevice() const { return m_blockDevice; }
    int descriptor() const { return m_fd; }
    // The access mode the descriptor was opened with (O_RDONLY, always).
    int accessMode() const;

private:
    CFileVolume(int fd, const QString& path, int64_t length, bool blockDevice, bool rotational);

    // Whether the disk under a device number spins (queue/rotational in
    // sysfs, of the whole disk when the number is a partition's).
    static bool diskRotational(dev_t device);
    // The share of the sampled pages of the stretch that the cache holds
    // (the sample of cached(); with `stopAtMiss` the look stops at the first
    // page it lacks, and the share is then below 1).
    double heldShare(int64_t offset, int64_t length, bool stopAtMiss) const;

    // A stretch the cache holds at least this share of is viewed, not read.
    static constexpr double kViewedShare = 0.5;

    int m_fd = -1;
    // The same file opened again with O_DIRECT, or -1 where that is not
    // possible (a descriptor handed over by udisks2, a file system without
    // direct I/O); no longer used after the first EINVAL.
    int m_directFd = -1;
    std::atomic<bool> m_directRefused{false};
    QString m_path;
    int64_t m_length = 0;
    bool m_blockDevice = false;
    bool m_rotational = false;
    int m_sectorSize = 512;
};
