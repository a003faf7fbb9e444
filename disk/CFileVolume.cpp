#include "disk/CFileVolume.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

} // namespace

std::unique_ptr<CFileVolume> CFileVolume::open(const QString& path, OpenError* failure)
{
    const QByteArray encoded = QFile::encodeName(path);
    auto fail = [&](int error, const QString& reason) -> std::unique_ptr<CFileVolume> {
        if (failure) {
            failure->error = error;
            failure->kind = encoded.isEmpty() ? SourceKind::Missing : kindOf(encoded);
            failure->privileged = ::geteuid() == 0;
            failure->reason = reason;
        }
        return nullptr;
    };
    auto failWith = [&](int error) {
        const SourceKind kind = encoded.isEmpty() ? SourceKind::Missing : kindOf(encoded);
        return fail(error, describeOpenFailure(path, error, kind, ::geteuid() == 0));
    };

    if (encoded.isEmpty())
        return fail(ENOENT, QStringLiteral("no source given."));

    // O_NONBLOCK so that a FIFO opens at once and is then refused in adopt()
    // instead of hanging until a writer appears. Never O_EXCL: it fails on a
    // partition that is mounted.
    const int fd = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return failWith(errno);
    return adopt(fd, path, failure);
}

bool CFileVolume::refusedForRights(const OpenError& failure)
{
    return failure.error == EACCES || failure.error == EPERM;
}

std::unique_ptr<CFileVolume> CFileVolume::adopt(int fd, const QString& path, OpenError* failure)
{
    const QByteArray encoded = QFile::encodeName(path);
    auto fail = [&](int error, const QString& reason) -> std::unique_ptr<CFileVolume> {
        if (fd >= 0)
            ::close(fd);
        if (failure) {
            failure->error = error;
            failure->kind = encoded.isEmpty() ? SourceKind::Missing : kindOf(encoded);
            failure->privileged = ::geteuid() == 0;
            failure->reason = reason;
        }
        return nullptr;
    };
    auto failWith = [&](int error) {
        const SourceKind kind = encoded.isEmpty() ? SourceKind::Missing : kindOf(encoded);
        return fail(error, describeOpenFailure(path, error, kind, ::geteuid() == 0));
    };
    if (fd < 0)
        return failWith(EBADF);

    struct stat st;
    if (::fstat(fd, &st) != 0)
        return failWith(errno);

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
}

int CFileVolume::accessMode() const
{
    const int flags = ::fcntl(m_fd, F_GETFL);
    return flags < 0 ? -1 : (flags & O_ACCMODE);
}

IVolume::ReadResult CFileVolume::read(int64_t offset, void* buffer, size_t length)
{
    ReadResult result;
    if (offset < 0) {
        result.error = EINVAL;
        return result;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_fd, out + done, length - done, static_cast<off_t>(offset + done));
        if (n > 0) {
            done += static_cast<size_t>(n);
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
