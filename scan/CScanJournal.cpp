#include "scan/CScanJournal.h"



#include "disk/CBootSectorProbe.h"
#include "disk/CInvokingUser.h"
#include "disk/CUserFileAccess.h"
#include "disk/IVolume.h"
#include "disk/LittleEndian.h"
#include "scan/CCompressedUnits.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPair>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdlib>
#include <vector>

#ifndef TAMSEL_VERSION
#define TAMSEL_VERSION "0"
#endif

namespace {

// What opens the list of records in a saved scan; nothing before it in the
// file is a record.
const char kRecordsKey[] = ",\"records\":[";

constexpr int kIdentityBytes = 64 * 1024;
constexpr int kBootSector = 512;
constexpr int kNtfsSerialOffset = 0x48;  // 8 bytes
constexpr int kFat32SerialOffset = 0x43; // 4 bytes
constexpr int kFat16SerialOffset = 0x27; // 4 bytes, FAT12 and FAT16
constexpr int64_t kSector = 512;
// JSON numbers are doubles: integers beyond 2^53 would not come back.
constexpr double kLargestExact = 9007199254740992.0;
const char kProgram[] = "tamsel-scan";

QJsonValue number(int64_t value)
{
    return QJsonValue(static_cast<double>(value));
}

// A whole number in [low, high], or false.
bool readInteger(const QJsonValue& value, int64_t low, int64_t high, int64_t* out)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    if (!(d >= static_cast<double>(low) && d <= static_cast<double>(high)) || d > kLargestExact)
        return false;
    const int64_t i = static_cast<int64_t>(d);
    if (static_cast<double>(i) != d)
        return false;
    *out = i;
    return true;
}

QJsonObject nodeObject(const CFileNode& n)
{
    QJsonObject o;
    o[QStringLiteral("type")] = n.typeName;
    o[QStringLiteral("typeCode")] = n.typeCode;
    o[QStringLiteral("kind")] = n.kind;
    o[QStringLiteral("size")] = number(n.size);
    o[QStringLiteral("sector")] = number(static_cast<int64_t>(n.startSector));
    o[QStringLiteral("sizeText")] = n.sizeText;
    o[QStringLiteral("typeDescription")] = n.typeDescription;
    o[QStringLiteral("reserved")] = n.reservedText;
    o[QStringLiteral("name")] = n.name;
    o[QStringLiteral("timeText")] = n.timeText;
    o[QStringLiteral("origin")] = n.origin;
    o[QStringLiteral("originalName")] = n.originalName;
    o[QStringLiteral("folder")] = n.folder;
    o[QStringLiteral("modified")] = n.modified.isValid() ? QJsonValue(number(n.modified.toMSecsSinceEpoch()))
                                                         : QJsonValue(QJsonValue::Null);
    QJsonArray extents;
    for (const CFileNode::Extent& e : n.extents)
        extents.append(QJsonArray{number(e.offset), number(e.length)});
    o[QStringLiteral("extents")] = extents;
    if (n.compressionUnit > 0)
        o[QStringLiteral("compressionUnit")] = number(n.compressionUnit);
    if (n.hasResidentData)
        o[QStringLiteral("resident")] = QString::fromLatin1(n.residentData.toBase64());
    o[QStringLiteral("overwritten")] = n.overwritten;
    o[QStringLiteral("incomplete")] = n.incomplete;
    if (n.undecodable)
        o[QStringLiteral("undecodable")] = true;
    o[QStringLiteral("orphaned")] = n.orphaned;
    if (n.insideLiveFile)
        o[QStringLiteral("insideLiveFile")] = true;
    return o;
}

// Reads one document back, refusing anything a scan of this volume could
// not have posted.
bool readNode(const QJsonObject& o, int64_t volumeSize, CFileNode* n)
{
    int64_t size = 0, sector = 0, typeCode = 0, kind = 0, origin = 0;
    if (!readInteger(o.value(QStringLiteral("size")), 0, volumeSize, &size)
        || !readInteger(o.value(QStringLiteral("sector")), 0, volumeSize / kSector, &sector)
        || !readInteger(o.value(QStringLiteral("typeCode")), 0, 1000, &typeCode)
        || !readInteger(o.value(QStringLiteral("kind")), -1000, 1000, &kind)
        || !readInteger(o.value(QStringLiteral("origin")), CFileNode::OriginCarved, CFileNode::OriginBoth, &origin))
        return false;
    for (const char* key : {"type", "sizeText", "typeDescription", "reserved", "name", "timeText", "originalName", "folder"}) {
        if (!o.value(QLatin1String(key)).isString())
            return false;
    }
    const QJsonValue overwritten = o.value(QStringLiteral("overwritten"));
    if (!overwritten.isDouble() || !(overwritten.toDouble() >= 0.0 && overwritten.toDouble() <= 1.0))
        return false;
    for (const char* key : {"incomplete", "orphaned"}) {
        if (!o.value(QLatin1String(key)).isBool())
            return false;
    }
    // A carved document is one stretch of the volume.
    if (o.value(QStringLiteral("extents")).toArray().isEmpty() && !o.contains(QStringLiteral("resident"))
        && sector * kSector > volumeSize - size)
        return false;

    n->size = size;
    n->startSector = static_cast<quint64>(sector);
    n->typeCode = static_cast<int>(typeCode);
    n->kind = static_cast<int>(kind);
    n->origin = static_cast<int>(origin);
    n->typeName = o.value(QStringLiteral("type")).toString();
    n->sizeText = o.value(QStringLiteral("sizeText")).toString();
    n->typeDescription = o.value(QStringLiteral("typeDescription")).toString();
    n->reservedText = o.value(QStringLiteral("reserved")).toString();
    n->name = o.value(QStringLiteral("name")).toString();
    n->timeText = o.value(QStringLiteral("timeText")).toString();
    n->originalName = o.value(QStringLiteral("originalName")).toString();
    n->folder = o.value(QStringLiteral("folder")).toString();
    n->overwritten = overwritten.toDouble();
    n->incomplete = o.value(QStringLiteral("incomplete")).toBool();
    n->undecodable = o.value(QStringLiteral("undecodable")).toBool();
    n->orphaned = o.value(QStringLiteral("orphaned")).toBool();
    // Absent from scans saved before whole-volume scans listed such documents.
    n->insideLiveFile = o.value(QStringLiteral("insideLiveFile")).toBool();

    const QJsonValue modified = o.value(QStringLiteral("modified"));
    if (!modified.isNull()) {
        int64_t ms = 0;
        if (!readInteger(modified, -static_cast<int64_t>(kLargestExact), static_cast<int64_t>(kLargestExact), &ms))
            return false;
        n->modified = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    }
    const QJsonValue extents = o.value(QStringLiteral("extents"));
    if (!extents.isArray())
        return false;
    for (const QJsonValue& v : extents.toArray()) {
        const QJsonArray pair = v.toArray();
        CFileNode::Extent e;
        if (pair.size() != 2 || !readInteger(pair[0], CFileNode::Extent::kSparse, volumeSize, &e.offset)
            || !readInteger(pair[1], 1, volumeSize, &e.length)
            || (e.offset != CFileNode::Extent::kSparse && e.offset > volumeSize - e.length))
            return false;
        n->extents.append(e);
    }
    if (o.contains(QStringLiteral("compressionUnit"))) {
        // Without it the stored units would be read as the file's bytes.
        int64_t unit = 0;
        if (!readInteger(o.value(QStringLiteral("compressionUnit")), 1, int64_t(1) << 20, &unit)
            || !CCompressedUnits::validUnitBytes(unit))
            return false;
        n->compressionUnit = unit;
    }
    if (o.contains(QStringLiteral("resident"))) {
        const QJsonValue resident = o.value(QStringLiteral("resident"));
        if (!resident.isString())
            return false;
        n->residentData = QByteArray::fromBase64(resident.toString().toLatin1());
        n->hasResidentData = true;
    }
    return true;
}

} // namespace

QString CScanJournal::programVersion()
{
    return QStringLiteral(TAMSEL_VERSION);
}

CScanJournal::Identity CScanJournal::identify(IVolume& volume)
{
    Identity id;
    id.path = volume.name();
    id.size = volume.length();
    QByteArray head(kIdentityBytes, '\0');
    const IVolume::ReadResult r = volume.read(0, head.data(), static_cast<size_t>(head.size()));
    head.truncate(static_cast<int>(std::max<int64_t>(0, r.bytes)));

    // A file system's serial number stays while its files change; raw bytes
    // have nothing better than their own hash.
    if (head.size() >= kBootSector) {
        const auto* boot = reinterpret_cast<const unsigned char*>(head.constData());
        const QString fileSystem = CBootSectorProbe::detect(boot, kBootSector);
        if (fileSystem == QLatin1String("NTFS")) {
            id.key = QStringLiteral("ntfs:%1").arg(le::u64(boot + kNtfsSerialOffset), 16, 16, QLatin1Char('0'));
            return id;
        }
        if (fileSystem == QLatin1String("FAT32")) {
            id.key = QStringLiteral("fat32:%1").arg(le::u32(boot + kFat32SerialOffset), 8, 16, QLatin1Char('0'));
            return id;
        }
        if (fileSystem == QLatin1String("FAT16") || fileSystem == QLatin1String("FAT12")) {
            id.key = QStringLiteral("%1:%2")
                         .arg(fileSystem.toLower())
                         .arg(le::u32(boot + kFat16SerialOffset), 8, 16, QLatin1Char('0'));
            return id;
        }
    }
    id.key = QStringLiteral("sha256:")
        + QString::fromLatin1(QCryptographicHash::hash(head, QCryptographicHash::Sha256).toHex());
    return id;
}

QString CScanJournal::folder()
{
    const QByteArray xdg = qgetenv("XDG_DATA_HOME");
    QString base;
    if (!xdg.isEmpty() && QDir::isAbsolutePath(QFile::decodeName(xdg))) {
        base = QFile::decodeName(xdg);
    } else {
        QString home = CInvokingUser::find().home();
        if (home.isEmpty())
            home = QDir::homePath();
        base = home + QStringLiteral("/.local/share");
    }
    return base + QStringLiteral("/tamsel/scans");
}

QString CScanJournal::fileFor(const Identity& identity, const QString& folder)
{
    const QByteArray key = identity.path.toUtf8() + '\n' + QByteArray::number(static_cast<qlonglong>(identity.size))
        + '\n' + identity.key.toUtf8();
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24);
    return folder + QLatin1Char('/') + QString::fromLatin1(hash) + QStringLiteral(".json");
}

QByteArray CScanJournal::record(const Entry& e)
{
    QJsonObject o = e.live ? QJsonObject{{QStringLiteral("live"), QJsonArray{number(e.liveSector), e.liveType}}}
                           : nodeObject(e.node);
    if (!e.live && e.reassembled)
        o[QStringLiteral("reassembled")] = true;
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool CScanJournal::save(const QString& path, const State& state, QString* error)
{
    std::vector<QByteArray> records;
    records.reserve(state.entries.size());
    for (const Entry& e : state.entries)
        records.push_back(record(e));
    return save(path, state, records, error);
}

bool CScanJournal::save(const QString& path, const State& state, const std::vector<QByteArray>& records,
                        QString* error)
{
    QJsonObject volume;
    volume[QStringLiteral("path")] = state.identity.path;
    volume[QStringLiteral("size")] = number(state.identity.size);
    volume[QStringLiteral("key")] = state.identity.key;

    QJsonObject root;
    root[QStringLiteral("program")] = QLatin1String(kProgram);
    root[QStringLiteral("format")] = kFormat;
    root[QStringLiteral("version")] = programVersion();
    root[QStringLiteral("volume")] = volume;
    root[QStringLiteral("fileSystem")] = state.fileSystem;
    root[QStringLiteral("resumeOffset")] = number(state.resumeOffset);
    root[QStringLiteral("reached")] = number(state.reached);
    root[QStringLiteral("finished")] = state.finished;
    root[QStringLiteral("wholeVolume")] = state.wholeVolume;
    if (state.bytesToRead >= 0) {
        root[QStringLiteral("unusedOnly")] = state.unusedOnly;
        root[QStringLiteral("bytesToRead")] = number(state.bytesToRead);
    }

    // Under sudo or pkexec the folders and the file are made as the user
    // who ran it, in the places that user chose: they end up theirs, and a
    // link there leads nowhere they could not write themselves.
    const CUserFileAccess access(CInvokingUser::find());
    if (!access.ok()) {
        if (error)
            *error = QStringLiteral("cannot write %1 as the user who ran this program through sudo or pkexec.").arg(path);
        return false;
    }
    const QFileInfo info(path);
    QDir dir;
    if (!dir.mkpath(info.absolutePath())) {
        if (error)
            *error = QStringLiteral("cannot create the folder %1.").arg(info.absolutePath());
        return false;
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2.").arg(path, file.errorString());
        return false;
    }
    // The records are written one by one, not gathered into one document
    // first: a scan of a large disk lists tens of thousands of them, and
    // their JSON at once would cost more memory than the whole scan.
    QByteArray head = QJsonDocument(root).toJson(QJsonDocument::Compact);
    head.chop(1); // the closing brace; the records go before it
    head += kRecordsKey; // after the other keys, of which there are always some
    file.write(head);
    bool first = true;
    for (const QByteArray& r : records) {
        if (!first)
            file.write(",", 1);
        first = false;
        file.write(r);
    }
    file.write("]}", 2);
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2.").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool CScanJournal::load(const QString& path, const Identity& expected, State* state, QString* notice, bool records)
{
    auto refuse = [&](const QString& why) {
        if (notice)
            *notice = QStringLiteral("the saved scan %1 is ignored: %2").arg(path, why);
        return false;
    };
    if (notice)
        notice->clear();
    // Read with the rights of the user it is kept for, like it was written.
    const CUserFileAccess access(CInvokingUser::find());
    if (!access.ok())
        return refuse(QStringLiteral("it cannot be read as the user who ran this program through sudo or pkexec."));
    QFile file(path);
    if (!file.exists())
        return false;
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString() + QLatin1Char('.'));

    QByteArray text = file.readAll();
    if (!records) {
        // save() writes the list last: what comes before it is the rest of
        // the object.
        const int list = text.indexOf(kRecordsKey);
        if (list > 0) {
            text.truncate(list);
            text += '}';
        }
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
    if (doc.isNull() || !doc.isObject())
        return refuse(QStringLiteral("it is damaged or cut short (%1).").arg(parseError.errorString()));
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("program")).toString() != QLatin1String(kProgram))
        return refuse(QStringLiteral("it is not a saved scan."));
    if (root.value(QStringLiteral("format")).toInt(-1) != kFormat
        || root.value(QStringLiteral("version")).toString() != programVersion())
        return refuse(QStringLiteral("it was written by another version of this program."));

    const QJsonObject volume = root.value(QStringLiteral("volume")).toObject();
    Identity saved;
    saved.path = volume.value(QStringLiteral("path")).toString();
    saved.key = volume.value(QStringLiteral("key")).toString();
    if (!readInteger(volume.value(QStringLiteral("size")), 0, INT64_MAX, &saved.size) || saved != expected)
        return refuse(QStringLiteral("it was made of another volume, or the volume has changed since."));

    State s;
    s.identity = saved;
    s.fileSystem = root.value(QStringLiteral("fileSystem")).toString();
    const QJsonValue finished = root.value(QStringLiteral("finished"));
    if (!finished.isBool() || !root.value(QStringLiteral("fileSystem")).isString()
        || !readInteger(root.value(QStringLiteral("reached")), 0, saved.size, &s.reached)
        || !readInteger(root.value(QStringLiteral("resumeOffset")), 0, s.reached, &s.resumeOffset)
        || s.resumeOffset % kSector != 0)
        return refuse(QStringLiteral("its position is not a place on this volume."));
    s.finished = finished.toBool();
    // Files from before the setting was kept say nothing of it.
    const QJsonValue whole = root.value(QStringLiteral("wholeVolume"));
    if (!whole.isUndefined()) {
        if (!whole.isBool())
            return refuse(QStringLiteral("it is damaged (a setting out of place)."));
        s.wholeVolume = whole.toBool();
        s.wholeVolumeSaved = true;
    }
    // The read plan, kept since; never more than the volume.
    const QJsonValue unusedOnly = root.value(QStringLiteral("unusedOnly"));
    const QJsonValue toRead = root.value(QStringLiteral("bytesToRead"));
    if (!unusedOnly.isUndefined() || !toRead.isUndefined()) {
        if (!unusedOnly.isBool() || !readInteger(toRead, 0, saved.size, &s.bytesToRead))
            return refuse(QStringLiteral("it is damaged (a setting out of place)."));
        s.unusedOnly = unusedOnly.toBool();
    }

    if (!records) {
        *state = std::move(s);
        return true;
    }
    const QJsonValue recordList = root.value(QStringLiteral("records"));
    if (!recordList.isArray())
        return refuse(QStringLiteral("it is damaged (no records)."));
    const QJsonArray list = recordList.toArray();
    s.entries.reserve(static_cast<size_t>(list.size()));
    // Carved records by start sector and type, for those found in pieces
    // later to take their place.
    QHash<QPair<quint64, int>, size_t> carvedAt;
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        Entry e;
        if (o.contains(QStringLiteral("live"))) {
            const QJsonArray live = o.value(QStringLiteral("live")).toArray();
            int64_t sector = 0, type = 0;
            if (live.size() != 2 || !readInteger(live[0], 0, saved.size / kSector, &sector)
                || !readInteger(live[1], 0, 1000, &type))
                return refuse(QStringLiteral("it is damaged (a record out of place)."));
            e.live = true;
            e.liveSector = sector;
            e.liveType = static_cast<int>(type);
        } else if (!readNode(o, saved.size, &e.node)) {
            return refuse(QStringLiteral("it is damaged (a record out of place)."));
        } else if (e.node.origin == CFileNode::OriginCarved) {
            const QPair<quint64, int> key(e.node.startSector, e.node.typeCode);
            const QJsonValue reassembled = o.value(QStringLiteral("reassembled"));
            if (!reassembled.isUndefined() && !reassembled.isBool())
                return refuse(QStringLiteral("it is damaged (a record out of place)."));
            if (reassembled.toBool()) {
                e.reassembled = true;
                const auto earlier = carvedAt.constFind(key);
                if (earlier != carvedAt.constEnd()) {
                    s.entries[*earlier] = std::move(e);
                    continue;
                }
            }
            carvedAt.insert(key, s.entries.size());
        }
        s.entries.push_back(std::move(e));
    }
    *state = std::move(s);
    return true;
}
