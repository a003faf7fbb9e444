#include "disk/CSameVolumeCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

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
        const QString type = QString::fromLatin1(fields[separator + 1]);
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
        result.notOnDisk = isDisklessFileSystem(type);
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

CSameVolumeCheck::Stack CSameVolumeCheck::stackUnder(const QString& device) const
{
    Stack stack;
    QList<QString> queue{device};
    int steps = 0;
    // A file behind a loop device or a FUSE mount: it, then the device
    // that holds it.
    auto addFile = [&](const QString& path) {
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
            stack.complete = false;
            return;
        }
        stack.files.insert(QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino), path);
        queue.append(numberOf(st.st_dev));
    };
    while (!queue.isEmpty() && ++steps <= kMaxDevices) {
        const QString current = queue.takeFirst();
        if (current.isEmpty() || stack.devices.contains(current))
            continue;
        stack.devices.insert(current);
        if (current.startsWith(QLatin1String("0:"))) {
            // An anonymous device (btrfs, FUSE, tmpfs, network): the mount
            // table says what it is made of.
            const MountSource source = mountSource(current);
            if (!source.device.isEmpty())
                queue.append(source.device);
            else if (!source.file.isEmpty())
                addFile(source.file);
            else if (source.notOnDisk && current == device)
                stack.notOnDisk = true;
            continue;
        }
        const QString dir = sysDeviceDir(current);
        if (dir.isEmpty()) {
            stack.complete = false;
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
                stack.complete = false;
            else
                queue.append(number);
        }
        const QString backing = loopBackingFile(current);
        if (!backing.isEmpty())
            addFile(backing);
    }
    if (!queue.isEmpty())
        stack.complete = false;
    return stack;
}

namespace {

// stat() of `folder`, or of its nearest existing parent when it does not
// exist yet (that is where it will be made).
bool statNearest(const QString& folder, struct stat* st)
{
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    for (int guard = 0; guard < 4096; ++guard) {
        if (::stat(QFile::encodeName(path).constData(), st) == 0)
            return true;
        if (path == QLatin1String("/"))
            return false;
        path = QFileInfo(path).path();
    }
    return false;
}

} // namespace

QString CSameVolumeCheck::outputDevice(const QString& folder, bool* notOnDisk) const
{
    *notOnDisk = false;
    struct stat st;
    if (!statNearest(folder, &st))
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
    if (!statNearest(outputFolder, &out)) {
        Result result;
        result.detail = QStringLiteral("the output folder %1 cannot be looked up").arg(outputFolder);
        return result;
    }
    // The folder's own device number, anonymous or not: the walk below
    // reads the mount table where it must.
    return checkDevices(source, numberOf(out.st_dev), false);
}

CSameVolumeCheck::Result CSameVolumeCheck::checkDevices(const QString& source, const QString& output,
                                                        bool notOnDisk) const
{
    Result result;
    struct stat st;
    if (::stat(QFile::encodeName(source).constData(), &st) != 0) {
        result.detail = QStringLiteral("the source %1 cannot be looked up").arg(source);
        return result;
    }
    if (output.isEmpty() && notOnDisk) {
        result.verdict = Verdict::Different;
        result.detail = QStringLiteral("the output folder is on no local disk");
        return result;
    }
    const Stack below = output.isEmpty() ? Stack() : stackUnder(output);
    if (below.notOnDisk) {
        result.verdict = Verdict::Different;
        result.detail = QStringLiteral("the output folder is on no local disk");
        return result;
    }
    // The output's own block device, where there is one.
    QString outputDisk = output;
    if (output.startsWith(QLatin1String("0:"))) {
        bool diskless = false;
        outputDisk = deviceOfMount(output, &diskless);
    }

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
            result.detail = QStringLiteral("the devices under the output folder cannot all be looked up in %1")
                                .arg(m_sysRoot);
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
    if (below.devices.isEmpty() || (outputDisk.isEmpty() && below.files.isEmpty())) {
        result.detail = QStringLiteral("the disk holding the output folder cannot be found");
        return result;
    }
    bool sourceComplete = false;
    const QSet<QString> belowSource = underlying(sourceDevice, &sourceComplete);
    if (below.devices.contains(sourceDevice) || (!outputDisk.isEmpty() && belowSource.contains(outputDisk))) {
        result.verdict = Verdict::Same;
        result.detail = QStringLiteral("the output folder is on %1, which shares its sectors with the source %2")
                            .arg(deviceName(outputDisk.isEmpty() ? output : outputDisk), deviceName(sourceDevice));
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
    if (!below.complete || !sourceComplete) {
        result.detail = QStringLiteral("the devices under %1 or %2 cannot be looked up in %3")
                            .arg(deviceName(outputDisk.isEmpty() ? output : outputDisk), deviceName(sourceDevice),
                                 m_sysRoot);
        return result;
    }
    result.verdict = Verdict::Different;
    result.detail = QStringLiteral("the output folder is on %1, apart from the source %2")
                        .arg(deviceName(outputDisk.isEmpty() ? output : outputDisk), deviceName(sourceDevice));
    return result;
}
