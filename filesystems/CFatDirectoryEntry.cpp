#include "filesystems/CFatDirectoryEntry.h"

#include "disk/LittleEndian.h"
#include "scan/CFileTypeCatalogue.h"

#include <QDate>
#include <QTime>

#include <cstring>

namespace {

constexpr size_t kClusterHighField = 20;
constexpr size_t kClusterLowField = 26;
constexpr size_t kCaseFlagsField = 12;
constexpr size_t kModifiedTimeField = 22;
constexpr size_t kModifiedDateField = 24;
constexpr size_t kSizeField = 28;
constexpr uint8_t kLowerCaseBase = 0x08;
constexpr uint8_t kLowerCaseExtension = 0x10;
constexpr uint8_t kEntryKanjiE5 = 0x05;
constexpr uint8_t kAttrLongName = 0x0F; // read-only, hidden, system and label at once
constexpr uint8_t kAttrLongNameMask = 0x3F;
constexpr uint32_t kClusterMask = 0x0FFFFFFF;

constexpr int64_t kReportSectorSize = 512;
constexpr int kRecordKind = 2;

// `name` with its extension replaced by that of `typeCode`, in the old
// one's case ("_OST00~2.DOC" -> "_OST00~2.DOCX", "notes.doc" -> "notes.docx").
QString withExtension(const QString& name, int typeCode)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString old = dot < 0 ? QString() : name.mid(dot + 1);
    const QString extension = CFileTypeCatalogue::typeName(typeCode);
    const bool upper = !old.isEmpty() && old == old.toUpper();
    return (dot < 0 ? name + QLatin1Char('.') : name.left(dot + 1)) + (upper ? extension : extension.toLower());
}

} // namespace

const size_t CFatDirectoryEntry::kLongUnitOffsets[kLongUnitsPerEntry] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

bool CFatDirectoryEntry::isLongNamePiece(const uint8_t* entry)
{
    return (entry[kAttributeField] & kAttrLongNameMask) == kAttrLongName;
}

uint32_t CFatDirectoryEntry::startCluster(const uint8_t* entry)
{
    return ((static_cast<uint32_t>(le::u16(entry + kClusterHighField)) << 16) | le::u16(entry + kClusterLowField))
        & kClusterMask;
}

int64_t CFatDirectoryEntry::size(const uint8_t* entry)
{
    return le::u32(entry + kSizeField);
}

QDateTime CFatDirectoryEntry::modified(const uint8_t* entry)
{
    const uint16_t date = le::u16(entry + kModifiedDateField);
    const uint16_t time = le::u16(entry + kModifiedTimeField);
    const QDate d(1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F);
    const QTime t((time >> 11) & 0x1F, (time >> 5) & 0x3F, (time & 0x1F) * 2);
    if (!d.isValid() || !t.isValid())
        return QDateTime();
    return QDateTime(d, t, Qt::LocalTime);
}

uint8_t CFatDirectoryEntry::shortNameChecksum(const uint8_t* shortName)
{
    uint8_t sum = 0;
    for (size_t i = 0; i < kShortNameLength; ++i)
        sum = static_cast<uint8_t>(((sum & 1u) << 7) + (sum >> 1) + shortName[i]);
    return sum;
}

QString CFatDirectoryEntry::shortNameText(const uint8_t* entry, int firstByte)
{
    auto part = [&](size_t from, size_t length, bool lower) {
        QString text;
        for (size_t i = from; i < from + length; ++i) {
            int byte = entry[i];
            if (i == 0 && firstByte >= 0)
                byte = firstByte;
            else if (i == 0 && byte == kEntryKanjiE5)
                byte = kDeleted;
            text.append(byte >= 0x20 && byte < 0x7F && byte != '/' ? QChar(byte) : QChar('_'));
        }
        while (text.endsWith(' '))
            text.chop(1);
        return lower ? text.toLower() : text;
    };
    const uint8_t flags = entry[kCaseFlagsField];
    const QString base = part(0, 8, flags & kLowerCaseBase);
    const QString extension = part(8, 3, flags & kLowerCaseExtension);
    return extension.isEmpty() ? base : base + '.' + extension;
}

bool CFatDirectoryEntry::plausible(const uint8_t* entry)
{
    const uint8_t first = entry[0];
    const uint8_t attr = entry[kAttributeField];
    if (isLongNamePiece(entry))
        return entry[kLongTypeField] == 0 && le::u16(entry + kLongClusterField) == 0;
    if (attr & 0xC0)
        return false;
    if (first != kDeleted && first != kEntryKanjiE5 && first < 0x20)
        return false;
    for (size_t i = 1; i < kShortNameLength; ++i) {
        if (entry[i] < 0x20)
            return false;
    }
    return true;
}

bool CFatDirectoryEntry::endsRootCluster(uint8_t first)
{
    if (first < 0x20 && first != kEntryKanjiE5)
        return true;
    switch (first) {
    case 0x20: case 0x22: case 0x2A: case 0x2B: case 0x2C: case 0x2F:
    case 0x3B: case 0x3C: case 0x3D: case 0x3E: case 0x3F:
    case 0x5B: case 0x5C: case 0x5D: case 0x7C:
        return true;
    default:
        return false;
    }
}

bool CFatDirectoryEntry::holdsEntries(const uint8_t* e, size_t length)
{
    if (length < kSize || e[0] == kEnd)
        return false; // nothing more of the directory
    for (size_t at = 0; at + kSize <= length; at += kSize) {
        if (e[at] == kEnd)
            break;
        if (!plausible(e + at))
            return false;
    }
    return true;
}

bool CFatDirectoryEntry::holdsCheckedLongName(const uint8_t* e, size_t length)
{
    for (size_t at = kSize; at + kSize <= length; at += kSize) {
        const uint8_t* entry = e + at;
        const uint8_t* piece = entry - kSize;
        if (entry[0] == kEnd)
            return false;
        if (!isLongNamePiece(entry) && isLongNamePiece(piece) && piece[kLongChecksumField] == shortNameChecksum(entry))
            return true;
    }
    return false;
}

bool CFatDirectoryEntry::startsDirectory(const uint8_t* e, size_t length, uint32_t cluster)
{
    if (length < 2 * kSize)
        return false;
    // "." names the directory itself, ".." its parent.
    static const char kDot[] = ".          ";
    static const char kDotDot[] = "..         ";
    return std::memcmp(e, kDot, kShortNameLength) == 0 && (e[kAttributeField] & kAttrDirectory)
        && startCluster(e) == cluster && std::memcmp(e + kSize, kDotDot, kShortNameLength) == 0
        && (e[kSize + kAttributeField] & kAttrDirectory);
}

CFileNode CFatDirectoryEntry::record(const uint8_t* entry, const QString& nameText, const QString& folder, int byName,
                                     int typeCode, int64_t found, const QVector<CFileNode::Extent>& extents)
{
    const QString fileName = byName == CFileTypeCatalogue::NotWanted || typeCode == byName
        ? nameText
        : withExtension(nameText, typeCode);
    const QString typeName = CFileTypeCatalogue::typeName(typeCode);
    CFileNode node(typeName, found, static_cast<quint64>(extents.front().offset / kReportSectorSize), QString(),
                   fileName, QString(), typeCode, kRecordKind, CFileTypeCatalogue::sizeText(found),
                   CFileTypeCatalogue::description(typeName));
    node.origin = CFileNode::OriginDeletedEntry;
    node.originalName = fileName;
    node.folder = folder.isEmpty() ? QStringLiteral("/") : folder;
    node.modified = modified(entry);
    node.extents = extents;
    return node;
}
