#include "disk/CFileVolume.h"

#include "disk/CMappedViews.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

CFileVolume::SourceKind kindOf(const QByteArray& encoded)
{
    struct stat st;
    if (::stat(encoded.constData(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? CFileVolume::SourceKind::Missing
                                                   : CFileVolume::SourceKind::Unknown;
    if (S_ISREG(st.st_mode))
        return CFileVolume::SourceKind::RegularFile;
    if (S_ISBLK(st.st_mode))
        return CFileVolume::SourceKind::BlockDevice;
    return CFileVolume::SourceKind::Other;
}

QString describeOpenFailure(const QString& path, int error, CFileVolume::SourceKind kind, bool privileged)
{
    const QString cause = QString::fromLocal8Bit(std::strerror(error));
    switch (error) {
    case EACCES:
    case EPERM:
        // Group membership and sudo are the answer for a raw disk only: an
        // image file needs its own permissions, and root was refused anyway.
        if (privileged)
            return QStringLiteral("cannot open %1: %2, although running as root. The system refuses access "
                                  "(a locked device, or one a container does not expose).")
                .arg(path, cause);
        if (kind == CFileVolume::SourceKind::RegularFile)
            return QStringLiteral("cannot read the image file %1: %2. Make it readable for this user "
                                  "(its owner can run chmod a+r on it).")
                .arg(path, cause);
        return QStringLiteral("cannot open %1: %2. Raw access to a disk needs administrator rights: "
                              "run with sudo, or add yourself to the 'disk' group.")
            .arg(path, cause);
    case ENOENT:
        return QStringLiteral("cannot open %1: %2. Check the device or image path.").arg(path, cause);
    case ENOMEDIUM:
        return QStringLiteral("cannot open %1: %2. Insert the medium and try again.").arg(path, cause);
    default:
        return QStringLiteral("cannot open %1: %2.").arg(path, cause);
    }
}

// Fills `failure`, when the caller asked for it, for a source that cannot
// be used: `reason` given, or worded from the errno and what the path is.
std::unique_ptr<CFileVolume> refuse(CFileVolume::OpenError* failure, const QString& path, int error,
                                    QString reason = QString())
{
    if (failure) {
        const QByteArray encoded = QFile::encodeName(path);
        failure->error = error;
        failure->kind = encoded.isEmpty() ? CFileVolume::SourceKind::Missing : kindOf(encoded);
        failure->privileged = ::geteuid() == 0;
        failure->reason = reason.isEmpty() ? describeOpenFailure(path, error, failure->kind, failure->privileged)
                                           : reason;
    }
    return nullptr;
}

} // namespace

std::unique_ptr<CFileVolume> CFileVolume::open(const QString& path, OpenError* failure)
{
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.isEmpty())
        return refuse(failure, path, ENOENT, QStringLiteral("no source given."));

    // O_NONBLOCK so that a FIFO opens at once and is then refused in adopt()
    // instead of hanging until a writer appears. Never O_EXCL: it fails on a
    // partition that is mounted.
    const int fd = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return refuse(failure, path, errno);
    return adopt(fd, path, failure);
}

bool CFileVolume::refusedForRights(const OpenError& failure)
{
    return failure.error == EACCES || failure.error == EPERM;
}

std::unique_ptr<CFileVolume> CFileVolume::adopt(int fd, const QString& path, OpenError* failure)
{
    auto fail = [&](int error, const QString& reason = QString()) {
        if (fd >= 0)
            ::close(fd);
        return refuse(failure, path, error, reason);
    };
    if (fd < 0)
        return fail(EBADF);

    struct stat st;
    if (::fstat(fd, &st) != 0)
        return fail(errno);

    const bool block = S_ISBLK(st.st_mode);
    if (!block && !S_ISREG(st.st_mode))
        return fail(0, QStringLiteral("cannot scan %1: it is neither a block device nor a disk image file.")
                           .arg(path));

    // The promise that the source is never written rests on this descriptor:
    // refuse to go on with anything but a read-only one.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) != O_RDONLY)
        return fail(EACCES, QStringLiteral("cannot open %1 read-only.").arg(path));
    // Reads of regular files and block devices never block anyway; drop the
    // flag so that no read ever returns EAGAIN.
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    int64_t length = 0;
    if (block) {
        uint64_t bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0)
            length = static_cast<int64_t>(bytes);
    } else {
        length = static_cast<int64_t>(st.st_size);
    }

    // A device is asked about itself; an image about the disk its file
    // system lies on.
    const bool rotational = diskRotational(block ? st.st_rdev : st.st_dev);
    return std::unique_ptr<CFileVolume>(new CFileVolume(fd, path, length, block, rotational));
}

CFileVolume::CFileVolume(int fd, const QString& path, int64_t length, bool blockDevice, bool rotational)
    : m_fd(fd)
    , m_path(path)
    , m_length(length)
    , m_blockDevice(blockDevice)
    , m_rotational(rotational)
{
    int logical = 0;
    if (blockDevice && ::ioctl(fd, BLKSSZGET, &logical) == 0 && logical >= 512 && logical <= 65536
        && (logical & (logical - 1)) == 0)
        m_sectorSize = logical;
    // Through /proc, so that it is the very file already open, whatever has
    // happened to the path since; opened read-only like the first.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
    const int direct = ::open(self.constData(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (direct >= 0) {
        struct stat a;
        struct stat b;
        if (::fstat(m_fd, &a) == 0 && ::fstat(direct, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino
            && a.st_rdev == b.st_rdev && (::fcntl(direct, F_GETFL) & O_ACCMODE) == O_RDONLY)
            m_directFd = direct;
        else
            ::close(direct);
    }
}

bool CFileVolume::diskRotational(dev_t device)
{
    const QString node = QStringLiteral("/sys/dev/block/%1:%2/").arg(major(device)).arg(minor(device));
    // A partition has no queue of its own: its disk is the folder above.
    for (const QString& queue : {node + QStringLiteral("queue/rotational"), node + QStringLiteral("../queue/rotational")}) {
        QFile file(queue);
        if (file.open(QIODevice::ReadOnly))
            return file.read(4).trimmed() == "1";
    }
    return false;
}

void CFileVolume::adviseSequential()
{
    // Doubles the kernel's readahead on this descriptor; a hint only.
    ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

void CFileVolume::adviseWillNeed(int64_t offset, int64_t length)
{
    if (offset >= 0 && length > 0)
        ::posix_fadvise(m_fd, static_cast<off_t>(offset), static_cast<off_t>(length), POSIX_FADV_WILLNEED);
}

CFileVolume::~CFileVolume()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_directFd >= 0)
        ::close(m_directFd);
}

int CFileVolume::accessMode() const
{
    const int flags = ::fcntl(m_fd, F_GETFL);
    return flags < 0 ? -1 : (flags & O_ACCMODE);
}

namespace {

// Positioned reads until `length` bytes are in, the end of the file, or an
// error. With a `grid` (direct reads), a read that ends off the grid is the
// end of the file, and the rest is left to the caller.
// The length the source has now (it may have become shorter since it was
// opened); -1 when it cannot be told.
int64_t currentLength(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return -1;
    if (S_ISBLK(st.st_mode)) {
        uint64_t bytes = 0;
        return ::ioctl(fd, BLKGETSIZE64, &bytes) == 0 ? static_cast<int64_t>(bytes) : -1;
    }
    return static_cast<int64_t>(st.st_size);
}

IVolume::ReadResult readFully(int fd, int64_t offset, uint8_t* out, size_t length, size_t grid = 0)
{
    IVolume::ReadResult result;
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n > 0) {
            done += static_cast<size_t>(n);
            if (grid != 0 && done % grid != 0)
                break;
            if (done < length) {
                // A file or a device reads short only at its end or where
                // the device failed a request: asked again, a failing disk
                // spends its retries on that request a second time.
                const int64_t now = currentLength(fd);
                if (now < 0 || offset + static_cast<int64_t>(done) < now) {
                    result.error = EIO;
                    break;
                }
            }
            continue;
        }
        if (n == 0)
            break; // end of the volume
        if (errno == EINTR)
            continue;
        result.error = errno;
        break;
    }
    result.bytes = static_cast<int64_t>(done);
    return result;
}

} // namespace

IVolume::ReadResult CFileVolume::read(int64_t offset, void* buffer, size_t length)
{
    if (offset < 0) {
        ReadResult result;
        result.error = EINVAL;
        return result;
    }
    return readFully(m_fd, offset, static_cast<uint8_t*>(buffer), length);
}

bool CFileVolume::cached(int64_t offset, int64_t length) const
{
    return heldShare(offset, length, true) >= 1.0;
}

double CFileVolume::heldShare(int64_t offset, int64_t length, bool stopAtMiss) const
{
    static const int64_t page = ::sysconf(_SC_PAGESIZE);
    if (offset < 0 || length <= 0)
        return 0.0;
    const int64_t start = offset - offset % page;
    const size_t span = static_cast<size_t>(offset + length - start);
    const int64_t pages = (static_cast<int64_t>(span) + page - 1) / page;
    // A read-only view that is never touched: mincore() only looks up
    // which of its pages the cache holds.
    void* view = ::mmap(nullptr, span, PROT_READ, MAP_SHARED, m_fd, static_cast<off_t>(start));
    if (view == MAP_FAILED)
        return 1.0; // cannot tell: the ordinary read is always right
    constexpr int64_t kSamples = 64;
    const int64_t stride = std::max<int64_t>(1, pages / kSamples);
    int64_t looked = 0;
    int64_t held = 0;
    unsigned char state = 0;
    for (int64_t i = 0;; i += stride) {
        i = std::min(i, pages - 1); // the last page is always looked at
        auto* at = static_cast<uint8_t*>(view) + i * page;
        const bool in = ::mincore(at, static_cast<size_t>(page), &state) == 0 && (state & 1) != 0;
        ++looked;
        held += in ? 1 : 0;
        if ((!in && stopAtMiss) || i == pages - 1)
            break;
    }
    ::munmap(view, span);
    return static_cast<double>(held) / static_cast<double>(looked);
}

IVolume::ReadResult CFileVolume::readOnce(int64_t offset, void* buffer, size_t length)
{
    auto* out = static_cast<uint8_t*>(buffer);
    constexpr int64_t grid = static_cast<int64_t>(kDirectAlign);
    // Direct reads put block n of the file at memory on the grid: the
    // buffer must lie on the grid as the stretch does. A stretch the cache
    // holds whole is copied from there; one it holds in part is read from
    // the device whole, since an ordinary read of the missing part would set
    // the kernel's readahead going over the rest.
    if (offset < 0 || length == 0 || m_directFd < 0 || m_directRefused.load()
        || (reinterpret_cast<uintptr_t>(out) - static_cast<uintptr_t>(offset)) % kDirectAlign != 0
        || cached(offset, static_cast<int64_t>(length)))
        return read(offset, buffer, length);

    const int64_t end = offset + static_cast<int64_t>(length);
    const int64_t alignedStart = (offset + grid - 1) / grid * grid;
    const int64_t alignedEnd = end / grid * grid;
    std::unique_ptr<uint8_t, decltype(&std::free)> block(
        static_cast<uint8_t*>(std::aligned_alloc(kDirectAlign, kDirectAlign)), &std::free);
    if (!block)
        return read(offset, buffer, length);

    ReadResult result;
    // Bytes [from, to) of the stretch through the block of the file that
    // holds them (the partial blocks at either end).
    auto throughBlock = [&](int64_t from, int64_t to) {
        const int64_t blockStart = from - from % grid;
        const ReadResult r = readFully(m_directFd, blockStart, block.get(), kDirectAlign, kDirectAlign);
        const int64_t have = std::max<int64_t>(0, std::min<int64_t>(to, blockStart + r.bytes) - from);
        std::memcpy(out + (from - offset), block.get() + (from - blockStart), static_cast<size_t>(have));
        result.bytes += have;
        result.error = have < to - from ? r.error : 0;
        return have == to - from;
    };
    bool whole = true;
    if (offset < alignedStart)
        whole = throughBlock(offset, std::min(end, alignedStart));
    if (whole && alignedStart < alignedEnd) {
        const ReadResult r = readFully(m_directFd, alignedStart, out + (alignedStart - offset),
                                       static_cast<size_t>(alignedEnd - alignedStart), kDirectAlign);
        result.bytes += r.bytes;
        result.error = r.error;
        whole = r.bytes == alignedEnd - alignedStart;
    }
    if (whole && alignedEnd < end && alignedEnd >= alignedStart)
        whole = throughBlock(alignedEnd, end);
    if (result.error == EINVAL) {
        // This source does not take direct reads after all (a file system
        // that accepted the flag at open): ordinary reads from now on. The
        // descriptor stays open until the end, so that no read in flight
        // on another thread ever meets its number reused.
        m_directRefused = true;
        return read(offset, buffer, length);
    }
    return result;
}

IVolume::ReadResult CFileVolume::readExact(int64_t offset, void* buffer, size_t length)
{
    const size_t sector = static_cast<size_t>(m_sectorSize);
    if (offset < 0 || length == 0 || m_directFd < 0 || offset % m_sectorSize != 0 || length % sector != 0)
        return read(offset, buffer, length);
    // Direct reads want memory on the grid as well: a buffer of our own.
    const size_t span = (length + kDirectAlign - 1) / kDirectAlign * kDirectAlign;
    std::unique_ptr<uint8_t, decltype(&std::free)> aligned(
        static_cast<uint8_t*>(std::aligned_alloc(kDirectAlign, span)), &std::free);
    if (!aligned)
        return read(offset, buffer, length);
    ReadResult r = readFully(m_directFd, offset, aligned.get(), length, sector);
    if (r.error == EINVAL && r.bytes == 0)
        return read(offset, buffer, length); // a grid finer than this source takes
    std::memcpy(buffer, aligned.get(), static_cast<size_t>(std::max<int64_t>(0, r.bytes)));
    return r;
}

const uint8_t* CFileVolume::mapView(int64_t offset, int64_t length)
{
    static const int64_t page = ::sysconf(_SC_PAGESIZE);
    if (offset < 0 || length <= 0 || offset % page != 0)
        return nullptr;
    const int64_t inside = std::max<int64_t>(0, std::min(length, m_length - offset));
    // A stretch the cache holds in the main is viewed too: the pages it has
    // lost (the kernel reclaims pages not touched for a while) are read in
    // when the view is made, as an ordinary read would read them, instead
    // of the whole stretch going to the device.
    if (inside > 0 && heldShare(offset, inside, false) < kViewedShare)
        return nullptr;
    // An image cut since it was opened is read, so that what is gone is
    // told as a read tells it.
    struct stat st;
    if (inside > 0 && !m_blockDevice && (::fstat(m_fd, &st) != 0 || st.st_size < offset + inside))
        return nullptr;
    // The whole span first, as anonymous memory that is only ever read:
    // zeros, with no page of its own. The volume's part is then mapped over
    // its start (the bytes of its last page past the end read as zeros too).
    void* view = ::mmap(nullptr, static_cast<size_t>(length), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                        -1, 0);
    if (view == MAP_FAILED)
        return nullptr;
    // Reading a page of it maps the shared zero page; the huge zero page
    // spares the faults of 4 KiB ones (a whole window past the end, else,
    // costs a carving pass 8,192 of them).
    const int64_t zerosFrom = (inside + page - 1) / page * page;
    if (zerosFrom < length)
        ::madvise(static_cast<uint8_t*>(view) + zerosFrom, static_cast<size_t>(length - zerosFrom), MADV_HUGEPAGE);
    if (inside == 0)
        return static_cast<const uint8_t*>(view);
    void* onVolume = ::mmap(view, static_cast<size_t>(inside), PROT_READ, MAP_SHARED | MAP_FIXED | MAP_POPULATE, m_fd,
                            static_cast<off_t>(offset));
    if (onVolume == MAP_FAILED
        || !CMappedViews::add(static_cast<const uint8_t*>(view), static_cast<size_t>(inside))) {
        ::munmap(view, static_cast<size_t>(length));
        return nullptr;
    }
    return static_cast<const uint8_t*>(view);
}

int64_t CFileVolume::viewLostBytes(const uint8_t* view) const
{
    return CMappedViews::lost(view);
}

int64_t CFileVolume::releaseView(const uint8_t* view, int64_t length)
{
    if (!view || length <= 0)
        return 0;
    const int64_t lost = CMappedViews::remove(view);
    ::munmap(const_cast<uint8_t*>(view), static_cast<size_t>(length));
    return lost;
}
