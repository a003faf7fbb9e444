#include "disk/CSameVolumeCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>

#include <QUuid>

#include <cstring>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// statfs()'s f_type for btrfs.
constexpr unsigned long kBtrfsMagic = 0x9123683E;

QString numberOf(dev_t device)
{
    return QStringLiteral("%1:%2").arg(major(device)).arg(minor(device));
}

QString readFirstLine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readLine(4096)).trimmed();
}

// mountinfo escapes blanks and backslashes as \ooo.
QString unescapeMountField(const QByteArray& field)
{
    QByteArray out;
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = false;
            const int value = digits.toInt(&ok, 8);
            if (ok && digits.size() == 3) {
                out.append(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QFile::decodeName(out);
}

// File systems that live on no local block device.
bool isDisklessFileSystem(const QString& type)
{
    static const QStringList kinds = {
        QStringLiteral("tmpfs"), QStringLiteral("ramfs"), QStringLiteral("devtmpfs"), QStringLiteral("proc"),
        QStringLiteral("sysfs"), QStringLiteral("nfs"),   QStringLiteral("nfs4"),     QStringLiteral("cifs"),
        QStringLiteral("smb3"),  QStringLiteral("smbfs"), QStringLiteral("9p"),       QStringLiteral("virtiofs"),
        QStringLiteral("fuse.sshfs"), QStringLiteral("afs"), QStringLiteral("ceph"),  QStringLiteral("glusterfs"),
    };
    return kinds.contains(type);
}

} // namespace

CSameVolumeCheck::CSameVolumeCheck()
    : m_sysRoot(QStringLiteral("/sys"))
{
}

QByteArray CSameVolumeCheck::mountInfo() const
{
    if (m_fixedMountInfo)
        return m_mountInfo;
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QString CSameVolumeCheck::sysDeviceDir(const QString& device) const
{
    const QString link = m_sysRoot + QStringLiteral("/dev/block/") + device;
    const QString real = QFileInfo(link).canonicalFilePath();
    return real;
}

QString CSameVolumeCheck::deviceName(const QString& device) const
{
    const QString dir = sysDeviceDir(device);
    return dir.isEmpty() ? device : QFileInfo(dir).fileName();
}

QString CSameVolumeCheck::loopBackingFile(const QString& device) const
{
    const QString dir = sysDeviceDir(device);
    if (dir.isEmpty())
        return QString();
    QString file = readFirstLine(dir + QStringLiteral("/loop/backing_file"));
    if (file.endsWith(QLatin1String(" (deleted)")))
        file.chop(10);
    return file;
}

QSet<QString> CSameVolumeCheck::underlying(const QString& device, bool* complete) const
{
    *complete = true;
    QSet<QString> seen;
    QList<QString> queue{device};
    while (!queue.isEmpty() && seen.size() < kMaxDevices) {
        const QString current = queue.takeFirst();
        if (current.isEmpty() || seen.contains(current))
            continue;
        seen.insert(current);
        const QString dir = sysDeviceDir(current);
        if (dir.isEmpty()) {
            *complete = false;
            continue;
        }
        // A partition lies inside the disk whose folder holds it.
        if (QFileInfo::exists(dir + QStringLiteral("/partition")))
            queue.append(readFirstLine(QFileInfo(dir).path() + QStringLiteral("/dev")));
        // LVM, LUKS, md and loop partitions are built on their slaves.
        const QFileInfoList slaves = QDir(dir + QStringLiteral("/slaves"))
                                         .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
        for (const QFileInfo& slave : slaves) {
            const QString number = readFirstLine(slave.canonicalFilePath() + QStringLiteral("/dev"));
            if (number.isEmpty())
                *complete = false;
            else
                queue.append(number);
        }
    }
    if (!queue.isEmpty())
        *complete = false;
    return seen;
}

namespace {

// An overlay's layer folders from its options: upperdir, workdir, and the
// lower layers ("lowerdir=a:b", data-only layers after "::"; newer kernels
// may list "lowerdir+" and "datadir+" one by one). The kernel writes a ','
// or ':' inside a path as \ooo, so splitting comes before unescaping.
QStringList overlayLayers(const QByteArray& options)
{
    QStringList layers;
    const QList<QByteArray> parts = options.split(',');
    for (const QByteArray& part : parts) {
        const int equals = part.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = part.left(equals);
        const QByteArray value = part.mid(equals + 1);
        if (key == "upperdir" || key == "workdir" || key == "lowerdir+" || key == "datadir+") {
            layers.append(unescapeMountField(value));
        } else if (key == "lowerdir") {
            for (const QByteArray& layer : value.split(':'))
                if (!layer.isEmpty())
                    layers.append(unescapeMountField(layer));
        }
    }
    return layers;
}

} // namespace

CSameVolumeCheck::MountSource CSameVolumeCheck::mountSource(const QString& mountDevice) const
{
    MountSource result;
    const QList<QByteArray> lines = mountInfo().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        const int separator = fields.indexOf("-");
        if (separator < 6 || separator + 2 >= fields.size())
            continue;
        if (QString::fromLatin1(fields[2]) != mountDevice)
            continue;
        result.found = true;
        result.type = QString::fromLatin1(fields[separator + 1]);
        result.mountPoint = unescapeMountField(fields[4]);
        if (result.type == QLatin1String("overlay") && separator + 3 < fields.size())
            result.layers = overlayLayers(fields[separator + 3]);
        const QString source = unescapeMountField(fields[separator + 2]);
        if (source.startsWith(QLatin1Char('/'))) {
            struct stat st;
            if (::stat(QFile::encodeName(source).constData(), &st) == 0) {
                if (S_ISBLK(st.st_mode)) {
                    result.device = numberOf(st.st_rdev);
                    return result;
                }
                // ntfs-3g and other FUSE file systems on an image name the
                // image itself.
                if (S_ISREG(st.st_mode)) {
                    result.file = source;
                    return result;
                }
            }
        }
        result.notOnDisk = isDisklessFileSystem(result.type);
        return result;
    }
    return result;
}

QString CSameVolumeCheck::deviceOfMount(const QString& mountDevice, bool* notOnDisk) const
{
    const MountSource source = mountSource(mountDevice);
    *notOnDisk = source.notOnDisk;
    return source.device;
}

QStringList CSameVolumeCheck::btrfsDevices(const QString& path, bool* isBtrfs) const
{
    *isBtrfs = false;
    const QByteArray name = QFile::encodeName(path);
    struct statfs fs;
    if (::statfs(name.constData(), &fs) != 0 || static_cast<unsigned long>(fs.f_type) != kBtrfsMagic)
        return QStringList();
    *isBtrfs = true;
    // O_NONBLOCK: the nearest existing path may be a FIFO.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return QStringList();
    struct btrfs_ioctl_fs_info_args info;
    std::memset(&info, 0, sizeof info);
    const int answer = ::ioctl(fd, BTRFS_IOC_FS_INFO, &info);
    ::close(fd);
    if (answer != 0)
        return QStringList();
    const QUuid uuid = QUuid::fromRfc4122(QByteArray(reinterpret_cast<const char*>(info.fsid), BTRFS_FSID_SIZE));
    const QString folder = m_sysRoot + QStringLiteral("/fs/btrfs/") + uuid.toString(QUuid::WithoutBraces)
                           + QStringLiteral("/devices");
    QStringList devices;
    const QFileInfoList members =
        QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QFileInfo& member : members) {
        const QString number = readFirstLine(member.canonicalFilePath() + QStringLiteral("/dev"));
        if (number.isEmpty())
            return QStringList();
        devices.append(number);
        if (devices.size() >= kMaxDevices)
            break;
    }
    return devices;
}

CSameVolumeCheck::Stack CSameVolumeCheck::stackUnder(const QString& device) const
{
    Stack stack;
    Step first;
    first.device = device;
    first.top = true;
    walk(&stack, {first});
    return stack;
}

CSameVolumeCheck::Stack CSameVolumeCheck::stackUnderPath(const QString& path) const
{
    Stack stack;
    Step first;
    first.path = path;
    first.top = true;
    walk(&stack, {first});
    return stack;
}

void CSameVolumeCheck::walk(Stack* stack, QList<Step> queue) const
{
    int steps = 0;
    auto deviceStep = [](const QString& device, bool spread, bool top = false) {
        Step step;
        step.device = device;
        step.spread = spread;
        step.top = top;
        return step;
    };
    // A file behind a loop device or a FUSE mount: it, then the file
    // system that holds it (a write into the file may land anywhere there).
    auto addFile = [&](const QString& path) {
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
            stack->complete = false;
            return;
        }
        stack->files.insert(QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino), path);
        Step step;
        step.path = path;
        queue.append(step);
    };
    // Each step is bounded, and so is the number of steps: a cycle (a
    // loop device backed by a file on itself) or a huge stack ends here.
    while (!queue.isEmpty() && ++steps <= kMaxDevices * 4) {
        const Step step = queue.takeFirst();
        if (!step.path.isEmpty()) {
            bool isBtrfs = false;
            const QStringList members = btrfsDevices(step.path, &isBtrfs);
            if (isBtrfs) {
                if (members.isEmpty())
                    stack->complete = false;
                for (const QString& member : members)
                    queue.append(deviceStep(member, true));
            }
            struct stat st;
            if (::stat(QFile::encodeName(step.path).constData(), &st) != 0) {
                stack->complete = false;
                continue;
            }
            // On btrfs the number is the subvolume's own, listed nowhere:
            // the members above stand for it.
            if (!isBtrfs)
                queue.append(deviceStep(numberOf(st.st_dev), true, step.top));
            continue;
        }
        const QString current = step.device;
        if (current.isEmpty()) {
            stack->complete = false;
            continue;
        }
        // Seen already, and as widely: nothing new below it.
        if (stack->devices.contains(current)
            && (current.startsWith(QLatin1String("0:")) || !step.spread || stack->spread.contains(current)))
            continue;
        stack->devices.insert(current);
        if (current.startsWith(QLatin1String("0:"))) {
            // An anonymous device (btrfs, overlay, FUSE, tmpfs, network):
            // the mount table says what it is made of.
            const MountSource source = mountSource(current);
            if (!source.found) {
                stack->complete = false;
                continue;
            }
            bool resolved = false;
            if (!source.device.isEmpty()) {
                queue.append(deviceStep(source.device, true));
                resolved = true;
            } else if (!source.file.isEmpty()) {
                addFile(source.file);
                resolved = true;
            }
            if (source.type == QLatin1String("btrfs") && !source.mountPoint.isEmpty()) {
                // The table names one member; the UUID gives them all.
                bool isBtrfs = false;
                const QStringList members = btrfsDevices(source.mountPoint, &isBtrfs);
                for (const QString& member : members)
                    queue.append(deviceStep(member, true));
                resolved = resolved || !members.isEmpty();
            }
            if (source.type == QLatin1String("overlay")) {
                // Every layer counts, and each must be found below the
                // overlay itself (not hidden under it).
                resolved = !source.layers.isEmpty();
                for (const QString& layer : source.layers) {
                    struct stat st;
                    if (!layer.startsWith(QLatin1Char('/'))
                        || ::stat(QFile::encodeName(layer).constData(), &st) != 0
                        || numberOf(st.st_dev) == current) {
                        resolved = false;
                        continue;
                    }
                    Step below;
                    below.path = layer;
                    queue.append(below);
                }
            }
            if (source.notOnDisk) {
                if (step.top)
                    stack->notOnDisk = true;
                resolved = true;
            }
            if (!resolved)
                stack->complete = false;
            continue;
        }
        if (step.spread)
            stack->spread.insert(current);
        const QString dir = sysDeviceDir(current);
        if (dir.isEmpty()) {
            stack->complete = false;
            continue;
        }
        // A partition lies inside the disk whose folder holds it; a write
        // to it stays within its own part of that disk.
        if (QFileInfo::exists(dir + QStringLiteral("/partition")))
            queue.append(deviceStep(readFirstLine(QFileInfo(dir).path() + QStringLiteral("/dev")), false));
        // LVM, LUKS, md and loop partitions are built on their slaves; a
        // mapping may put any of its blocks anywhere on them.
        const QFileInfoList slaves = QDir(dir + QStringLiteral("/slaves"))
                                         .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
        for (const QFileInfo& slave : slaves) {
            const QString number = readFirstLine(slave.canonicalFilePath() + QStringLiteral("/dev"));
            if (number.isEmpty())
                stack->complete = false;
            else
                queue.append(deviceStep(number, step.spread));
        }
        const QString backing = loopBackingFile(current);
        if (!backing.isEmpty())
            addFile(backing);
    }
    if (!queue.isEmpty())
        stack->complete = false;
}

namespace {

// The nearest existing path at or above `folder` (it will be made there),
// with its stat(); empty when nothing is.
QString statNearest(const QString& folder, struct stat* st)
{
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    for (int guard = 0; guard < 4096; ++guard) {
        if (::stat(QFile::encodeName(path).constData(), st) == 0)
            return path;
        if (path == QLatin1String("/"))
            return QString();
        path = QFileInfo(path).path();
    }
    return QString();
}

} // namespace

QString CSameVolumeCheck::outputDevice(const QString& folder, bool* notOnDisk) const
{
    *notOnDisk = false;
    struct stat st;
    if (statNearest(folder, &st).isEmpty())
        return QString();
    if (major(st.st_dev) != 0)
        return numberOf(st.st_dev);
    // btrfs, FUSE (ntfs-3g) and network file systems have anonymous device
    // numbers: the mount table says what they are mounted from.
    return deviceOfMount(numberOf(st.st_dev), notOnDisk);
}

CSameVolumeCheck::Result CSameVolumeCheck::check(const QString& source, const QString& outputFolder) const
{
    struct stat out;
    const QString nearest = statNearest(outputFolder, &out);
    if (nearest.isEmpty()) {
        Result result;
        result.detail = QStringLiteral("the output folder %1 cannot be looked up").arg(outputFolder);
        return result;
    }
    // From the path, not its device number: a btrfs subvolume's number
    // is listed nowhere, its file system's UUID is.
    return verdict(source, stackUnderPath(nearest));
}

CSameVolumeCheck::Result CSameVolumeCheck::checkDevices(const QString& source, const QString& output,
                                                        bool notOnDisk) const
{
    if (output.isEmpty() && notOnDisk) {
        Result result;
        result.verdict = Verdict::Different;
        result.detail = QStringLiteral("the output folder is on no local disk");
        return result;
    }
    Stack below;
    if (output.isEmpty())
        below.complete = false;
    else
        below = stackUnder(output);
    return verdict(source, below);
}

CSameVolumeCheck::Result CSameVolumeCheck::verdict(const QString& source, const Stack& below) const
{
    Result result;
    struct stat st;
    if (::stat(QFile::encodeName(source).constData(), &st) != 0) {
        result.detail = QStringLiteral("the source %1 cannot be looked up").arg(source);
        return result;
    }
    if (below.notOnDisk) {
        result.verdict = Verdict::Different;
        result.detail = QStringLiteral("the output folder is on no local disk");
        return result;
    }
    QStringList spreadNames;
    for (const QString& device : below.spread)
        spreadNames.append(deviceName(device));
    spreadNames.sort();
    const QString outputNames = spreadNames.isEmpty() ? QStringLiteral("no disk found") : spreadNames.join(QLatin1String(", "));
    const QString incomplete =
        QStringLiteral("what the output folder is built on cannot all be looked up (in /proc/self/mountinfo "
                       "and %1)")
            .arg(m_sysRoot);

    if (S_ISREG(st.st_mode)) {
        const QString image = QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino);
        if (below.files.contains(image)) {
            result.verdict = Verdict::Same;
            result.detail = QStringLiteral("the output folder is on a file system built on the image %1 itself "
                                           "(through %2)")
                                .arg(source, below.files.value(image));
            return result;
        }
        if (!below.complete) {
            result.detail = incomplete;
            return result;
        }
        result.verdict = Verdict::Different;
        result.detail = QStringLiteral("nothing under the output folder is built on the image");
        return result;
    }

    if (!S_ISBLK(st.st_mode)) {
        result.detail = QStringLiteral("%1 is neither a block device nor an image file").arg(source);
        return result;
    }
    const QString sourceDevice = numberOf(st.st_rdev);
    bool sourceComplete = false;
    const QSet<QString> belowSource = underlying(sourceDevice, &sourceComplete);
    // The output lies within the source (a partition of the scanned disk,
    // LVM on it), or its writes may land anywhere on something the source
    // is made of (scanning LVM on the partition the output is on).
    QString shared;
    if (below.devices.contains(sourceDevice)) {
        shared = sourceDevice;
    } else {
        for (const QString& device : belowSource)
            if (below.spread.contains(device))
                shared = device;
    }
    if (!shared.isEmpty()) {
        result.verdict = Verdict::Same;
        result.detail = QStringLiteral("the output folder is on %1, which shares its sectors with the source %2")
                            .arg(outputNames, deviceName(sourceDevice));
        return result;
    }
    // Writing into a file that backs the source (a loop device's image)
    // changes the source's bytes, whichever way the file is reached.
    for (const QString& device : belowSource) {
        const QString backing = loopBackingFile(device);
        struct stat file;
        if (backing.isEmpty() || ::stat(QFile::encodeName(backing).constData(), &file) != 0)
            continue;
        if (below.files.contains(QStringLiteral("%1:%2").arg(file.st_dev).arg(file.st_ino))) {
            result.verdict = Verdict::Same;
            result.detail = QStringLiteral("the output folder is built on %1, the image behind the source %2")
                                .arg(backing, deviceName(sourceDevice));
            return result;
        }
    }
    if (!below.complete) {
        result.detail = incomplete;
        return result;
    }
    if (!sourceComplete) {
        result.detail = QStringLiteral("the devices under the source %1 cannot all be looked up in %2")
                            .arg(deviceName(sourceDevice), m_sysRoot);
        return result;
    }
    result.verdict = Verdict::Different;
    result.detail = QStringLiteral("the output folder is on %1, apart from the source %2")
                        .arg(outputNames, deviceName(sourceDevice));
    return result;
}
