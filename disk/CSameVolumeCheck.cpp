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

bool sameFile(const QString& a, const QString& b)
{
    struct stat sa;
    struct stat sb;
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
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

QString CSameVolumeCheck::deviceOfMount(const QString& mountDevice, bool* notOnDisk) const
{
    *notOnDisk = false;
    const QList<QByteArray> lines = mountInfo().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        const int separator = fields.indexOf("-");
        if (separator < 6 || separator + 2 >= fields.size())
            continue;
        if (QString::fromLatin1(fields[2]) != mountDevice)
            continue;
        const QString type = QString::fromLatin1(fields[separator + 1]);
        const QString source = unescapeMountField(fields[separator + 2]);
        if (source.startsWith(QLatin1Char('/'))) {
            struct stat st;
            if (::stat(QFile::encodeName(source).constData(), &st) == 0 && S_ISBLK(st.st_mode))
                return numberOf(st.st_rdev);
        }
        if (isDisklessFileSystem(type))
            *notOnDisk = true;
        return QString();
    }
    return QString();
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
    // An image file stands for the volume it was taken from, and is treated
    // like one: the file system that holds it counts as the source.
    struct stat image;
    struct stat out;
    if (::stat(QFile::encodeName(source).constData(), &image) == 0 && S_ISREG(image.st_mode)
        && statNearest(outputFolder, &out) && out.st_dev == image.st_dev) {
        Result result;
        result.verdict = Verdict::Same;
        result.detail = QStringLiteral("the output folder is on the file system that holds the image %1").arg(source);
        return result;
    }
    bool notOnDisk = false;
    const QString output = outputDevice(outputFolder, &notOnDisk);
    return checkDevices(source, output, notOnDisk);
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

    if (S_ISREG(st.st_mode)) {
        if (output.isEmpty()) {
            result.verdict = Verdict::Different;
            result.detail = QStringLiteral("the output folder is on no block device");
            return result;
        }
        bool complete = false;
        const QSet<QString> below = underlying(output, &complete);
        for (const QString& device : below) {
            const QString backing = loopBackingFile(device);
            if (!backing.isEmpty() && sameFile(backing, source)) {
                result.verdict = Verdict::Same;
                result.detail = QStringLiteral("the output folder is on %1, a loop device backed by the image %2")
                                    .arg(deviceName(device), source);
                return result;
            }
        }
        if (!complete) {
            result.detail = QStringLiteral("the devices under %1 cannot be looked up in %2")
                                .arg(deviceName(output), m_sysRoot);
            return result;
        }
        result.verdict = Verdict::Different;
        result.detail = QStringLiteral("no loop device under the output folder is backed by the image");
        return result;
    }

    if (!S_ISBLK(st.st_mode)) {
        result.detail = QStringLiteral("%1 is neither a block device nor an image file").arg(source);
        return result;
    }
    const QString sourceDevice = numberOf(st.st_rdev);
    if (output.isEmpty()) {
        result.detail = QStringLiteral("the disk holding the output folder cannot be found");
        return result;
    }
    bool outputComplete = false;
    bool sourceComplete = false;
    const QSet<QString> belowOutput = underlying(output, &outputComplete);
    const QSet<QString> belowSource = underlying(sourceDevice, &sourceComplete);
    if (belowOutput.contains(sourceDevice) || belowSource.contains(output)) {
        result.verdict = Verdict::Same;
        result.detail = QStringLiteral("the output folder is on %1, which shares its sectors with the source %2")
                            .arg(deviceName(output), deviceName(sourceDevice));
        return result;
    }
    if (!outputComplete || !sourceComplete) {
        result.detail = QStringLiteral("the devices under %1 or %2 cannot be looked up in %3")
                            .arg(deviceName(output), deviceName(sourceDevice), m_sysRoot);
        return result;
    }
    result.verdict = Verdict::Different;
    result.detail = QStringLiteral("the output folder is on %1, apart from the source %2")
                        .arg(deviceName(output), deviceName(sourceDevice));
    return result;
}
