#include "disk/CPartitionList.h"

#include <memory>
#include <utility>

#include "disk/CBootSectorProbe.h"
#include "disk/CFileVolume.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <limits>
#include <sys/statvfs.h>

namespace {

// Off unless asked for: what lsblk said about each drive's type.
Q_LOGGING_CATEGORY(partitionLog, "tamsel.partitions", QtInfoMsg)

constexpr int kMaxDepth = 16;
constexpr int kGiBShift = 30;

QString textOf(const QJsonValue& value)
{
    return value.isString() ? value.toString() : QString();
}

// lsblk prints numbers as JSON numbers in newer versions and as strings in
// older ones.
int64_t int64Of(const QJsonValue& value)
{
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (!(d >= 0) || d >= 9.2e18)
            return 0;
        return static_cast<int64_t>(d);
    }
    if (value.isString()) {
        bool ok = false;
        const qlonglong v = value.toString().toLongLong(&ok);
        return ok && v >= 0 ? v : 0;
    }
    return 0;
}

bool boolOf(const QJsonValue& value, bool fallback)
{
    if (value.isBool())
        return value.toBool();
    if (value.isDouble())
        return value.toDouble() != 0;
    if (value.isString()) {
        const QString s = value.toString().trimmed();
        if (s == QLatin1String("1") || s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (s == QLatin1String("0") || s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
    }
    return fallback;
}

bool isListedType(const QString& type)
{
    return type == QLatin1String("part") || type == QLatin1String("disk") || type == QLatin1String("loop")
        || type == QLatin1String("lvm") || type == QLatin1String("crypt") || type == QLatin1String("md")
        || type == QLatin1String("mpath") || type.startsWith(QLatin1String("raid"));
}

// Holders of other volumes: once opened, what they hold is listed instead.
bool isContainerFileSystem(const QString& fsType)
{
    return fsType == QLatin1String("crypto_LUKS") || fsType == QLatin1String("LVM2_member")
        || fsType == QLatin1String("linux_raid_member");
}

QByteArray runLsblk()
{
    QProcess lsblk;
    lsblk.setProcessChannelMode(QProcess::SeparateChannels);
    lsblk.start(QStringLiteral("lsblk"),
                {QStringLiteral("--json"), QStringLiteral("--bytes"), QStringLiteral("--output"),
                 QStringLiteral("NAME,PATH,TYPE,SIZE,FSTYPE,FSVER,LABEL,MOUNTPOINT,RM")});
    if (!lsblk.waitForStarted(CPartitionList::kLsblkTimeoutMs))
        return QByteArray();
    if (!lsblk.waitForFinished(CPartitionList::kLsblkTimeoutMs)) {
        lsblk.kill();
        lsblk.waitForFinished(1000);
        return QByteArray();
    }
    if (lsblk.exitStatus() != QProcess::NormalExit || lsblk.exitCode() != 0)
        return QByteArray();
    return lsblk.readAllStandardOutput();
}

bool statFreeSpace(const QString& mountPoint, int64_t* freeBytes)
{
    struct statvfs st;
    if (::statvfs(QFile::encodeName(mountPoint).constData(), &st) != 0)
        return false;
    const unsigned long long unit = st.f_frsize ? st.f_frsize : st.f_bsize;
    const unsigned long long blocks = st.f_bavail;
    const unsigned long long max = static_cast<unsigned long long>(std::numeric_limits<int64_t>::max());
    *freeBytes = unit != 0 && blocks > max / unit ? std::numeric_limits<int64_t>::max()
                                                  : static_cast<int64_t>(blocks * unit);
    return true;
}

bool sysLoopHasBackingFile(const QString& kernelName)
{
    if (kernelName.contains(QLatin1Char('/')))
        return false;
    QFile file(QStringLiteral("/sys/block/%1/loop/backing_file").arg(kernelName));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return !file.readAll().trimmed().isEmpty();
}

QString probeBootSector(const QString& devicePath)
{
    std::unique_ptr<CFileVolume> volume = CFileVolume::open(devicePath);
    return volume ? CBootSectorProbe::detect(*volume) : QString();
}

} // namespace

CPartitionList::CPartitionList()
    : m_probes(systemProbes())
{
}

CPartitionList::~CPartitionList() = default;

CPartitionList::Probes CPartitionList::systemProbes()
{
    Probes p;
    p.readLsblk = runLsblk;
    p.freeSpace = statFreeSpace;
    p.loopHasBackingFile = sysLoopHasBackingFile;
    p.bootSectorFileSystem = probeBootSector;
    // One question to udisks2 for the whole list, on its first device.
    auto health = std::make_shared<std::pair<bool, QHash<QString, CDriveHealth::Health>>>();
    p.driveHealth = [health](const QString& devicePath, CDriveHealth::Health* out) {
        if (!health->first) {
            health->second = CDriveHealth::query();
            health->first = true;
        }
        const auto it = health->second.constFind(devicePath);
        if (it == health->second.constEnd())
            return false;
        *out = it.value();
        return true;
    };
    return p;
}

const char* CPartitionList::removableText()
{
    return "The drive is a type that has removable media,for example:a floppy drive or removable hard disk";
}

const char* CPartitionList::fixedText()
{
    return "The drive is a type that cannot be removed, for example,a fixed hard drive";
}

QString CPartitionList::gibText(int64_t bytes)
{
    return QStringLiteral("%1GB").arg(bytes > 0 ? bytes >> kGiBShift : 0);
}

QString CPartitionList::fileSystemName(const QString& fsType, const QString& fsVersion)
{
    const QString type = fsType.trimmed();
    if (type.isEmpty())
        return QString();
    if (type == QLatin1String("ntfs") || type == QLatin1String("ntfs3"))
        return QStringLiteral("NTFS");
    if (type == QLatin1String("vfat") || type == QLatin1String("msdos")) {
        // FAT12, FAT16 and FAT32 are named as udisks2 gives their version;
        // one pass reads the three.
        const QString version = fsVersion.trimmed().toUpper();
        return version.startsWith(QLatin1String("FAT")) ? version : QStringLiteral("FAT");
    }
    if (type == QLatin1String("exfat"))
        return QStringLiteral("exFAT");
    return type.toUpper();
}

QList<CPartitionInfo*> CPartitionList::partitions() const
{
    QList<CPartitionInfo*> list;
    list.reserve(static_cast<int>(m_partitions.size()));
    for (const auto& p : m_partitions)
        list.append(p.get());
    return list;
}

void CPartitionList::enumerate()
{
    m_partitions.clear();
    if (!m_probes.readLsblk)
        return;
    const QByteArray json = m_probes.readLsblk();
    if (json.isEmpty())
        return;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return;
    const QJsonArray devices = document.object().value(QStringLiteral("blockdevices")).toArray();
    for (const QJsonValue& device : devices) {
        if (device.isObject())
            walk(device.toObject(), false, 0);
    }
}

void CPartitionList::walk(const QJsonObject& device, bool parentRemovable, int depth)
{
    if (depth > kMaxDepth)
        return;
    // A partitioned disk comes after its partitions: scanning it whole is
    // the choice for lost partitions and unpartitioned space.
    const bool partitioned = isPartitionedDisk(device);
    if (!partitioned)
        addVolume(device, parentRemovable);
    const bool removable = boolOf(device.value(QStringLiteral("rm")), parentRemovable);
    const QJsonArray children = device.value(QStringLiteral("children")).toArray();
    for (const QJsonValue& child : children) {
        if (child.isObject())
            walk(child.toObject(), removable, depth + 1);
    }
    if (partitioned)
        addVolume(device, parentRemovable);
}

bool CPartitionList::isPartitionedDisk(const QJsonObject& device)
{
    const QString type = textOf(device.value(QStringLiteral("type")));
    if (type != QLatin1String("disk") && type != QLatin1String("loop"))
        return false;
    const QJsonArray children = device.value(QStringLiteral("children")).toArray();
    for (const QJsonValue& child : children) {
        if (textOf(child.toObject().value(QStringLiteral("type"))) == QLatin1String("part"))
            return true;
    }
    return false;
}

bool CPartitionList::addVolume(const QJsonObject& device, bool parentRemovable)
{
    static const QRegularExpression ramDisk(QStringLiteral("^z?ram[0-9]+$"));

    const QString name = textOf(device.value(QStringLiteral("name")));
    const QString type = textOf(device.value(QStringLiteral("type")));
    if (name.isEmpty() || !isListedType(type))
        return false;
    if (type == QLatin1String("disk") && ramDisk.match(name).hasMatch())
        return false;
    if (type == QLatin1String("loop") && (!m_probes.loopHasBackingFile || !m_probes.loopHasBackingFile(name)))
        return false;

    const QJsonArray children = device.value(QStringLiteral("children")).toArray();
    const QString fsType = textOf(device.value(QStringLiteral("fstype")));
    const bool wholeDisk = isPartitionedDisk(device);
    if (!children.isEmpty() && !wholeDisk && isContainerFileSystem(fsType))
        return false;

    const int64_t size = int64Of(device.value(QStringLiteral("size")));
    if (size < kMinimumSize)
        return false;

    QString path = textOf(device.value(QStringLiteral("path")));
    if (path.isEmpty())
        path = QStringLiteral("/dev/") + name;
    // An md array or a volume group spanning two disks shows up under each.
    for (const auto& p : m_partitions) {
        if (p->devicePath == path)
            return false;
    }

    auto info = std::make_unique<CPartitionInfo>();
    info->kernelName = name;
    info->deviceType = type;
    info->devicePath = path;
    info->removable = boolOf(device.value(QStringLiteral("rm")), parentRemovable);
    info->label = textOf(device.value(QStringLiteral("label")));
    info->mountPoint = textOf(device.value(QStringLiteral("mountpoint")));
    info->totalBytes = size;

    const char* driveType = info->removable ? removableText() : fixedText();
    if (m_diagnostics) {
        std::fputs(driveType, m_diagnostics);
        std::fputc('\n', m_diagnostics);
        std::fflush(m_diagnostics);
    } else {
        qCDebug(partitionLog, "%s: %s", qPrintable(path), driveType);
    }

    info->fileSystem = fileSystemName(fsType, textOf(device.value(QStringLiteral("fsver"))));
    if (wholeDisk)
        info->fileSystem = CPartitionInfo::autoFileSystem();
    else if (fsType.isEmpty() && m_probes.bootSectorFileSystem)
        info->fileSystem = m_probes.bootSectorFileSystem(path);
    CDriveHealth::Health health;
    if (m_probes.driveHealth && m_probes.driveHealth(path, &health)) {
        info->failing = health.failing;
        info->badSectors = health.badSectors;
    }

    int64_t freeBytes = 0;
    if (info->mountPoint.startsWith(QLatin1Char('/')) && m_probes.freeSpace
        && m_probes.freeSpace(info->mountPoint, &freeBytes)) {
        info->freeKnown = true;
        info->freeBytes = std::min(std::max<int64_t>(freeBytes, 0), size);
    }

    const int64_t totalGiB = size >> kGiBShift;
    info->totalText = gibText(size);
    if (info->freeKnown) {
        const int64_t usedGiB = (size - info->freeBytes) >> kGiBShift;
        info->freeText = gibText(info->freeBytes);
        info->usedPercent = totalGiB > 0 ? static_cast<int>(static_cast<double>(usedGiB) / static_cast<double>(totalGiB) * 100.0) : 0;
        info->usedPercent = std::min(100, std::max(0, info->usedPercent));
    } else {
        // Not "0GB": that would read as a full volume.
        info->freeText = QCoreApplication::translate("CPartitionList", "未知");
        info->usedPercent = 0;
    }

    const QString unlabelled = wholeDisk ? QCoreApplication::translate("CPartitionList", "整个磁盘")
                                         : QCoreApplication::translate("CPartitionList", "本地磁盘");
    info->displayName = (info->label.isEmpty() ? unlabelled : info->label) + QLatin1Char('(') + name + QLatin1Char(')');
    m_partitions.push_back(std::move(info));
    return true;
}
