#include "filesystems/CFat32Scanner.h"

#include "disk/IVolume.h"
#include "disk/LittleEndian.h"
#include "filesystems/CFatAllocationMap.h"
#include "filesystems/CFatDeletedLayout.h"
#include "filesystems/CFileNameText.h"
#include "scan/CDocumentSignature.h"
#include "scan/CFileNode.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Boot sector.
constexpr size_t kBootSectorSize = 512;
constexpr size_t kBytesPerSectorField = 0x0B;
constexpr size_t kSectorsPerClusterField = 0x0D;
constexpr size_t kReservedSectorsField = 0x0E;
constexpr size_t kFatCountField = 0x10;
constexpr size_t kTotalSectors16Field = 0x13;
constexpr size_t kTotalSectors32Field = 0x20;
constexpr size_t kSectorsPerFatField = 0x24;
constexpr size_t kRootClusterField = 0x2C;

constexpr uint32_t kMinSectorSize = 512;
constexpr uint32_t kMaxSectorSize = 4096;
constexpr uint32_t kMaxSectorsPerCluster = 128;

// FAT entries.
constexpr uint32_t kFatEntryMask = 0x0FFFFFFF;
constexpr uint32_t kFatFree = 0;
constexpr uint32_t kFatBad = 0x0FFFFFF7;
constexpr uint32_t kFatFirstEnd = 0x0FFFFFF8;
constexpr uint32_t kFirstDataCluster = 2;

// Directory entries.
constexpr size_t kEntrySize = 32;
constexpr size_t kShortNameLength = 11;
constexpr size_t kAttributeField = 11;
constexpr size_t kClusterHighField = 20;
constexpr size_t kClusterLowField = 26;
constexpr size_t kCaseFlagsField = 12;
constexpr size_t kModifiedTimeField = 22;
constexpr size_t kModifiedDateField = 24;
constexpr size_t kSizeField = 28;
constexpr uint8_t kLowerCaseBase = 0x08;
constexpr uint8_t kLowerCaseExtension = 0x10;
constexpr uint8_t kEntryEnd = 0x00;
constexpr uint8_t kEntryDeleted = 0xE5;
constexpr uint8_t kEntryKanjiE5 = 0x05;
constexpr uint8_t kAttrLongName = 0x0F; // read-only, hidden, system and label at once
constexpr uint8_t kAttrLongNameMask = 0x3F;
constexpr uint8_t kAttrVolumeLabel = 0x08;
constexpr uint8_t kAttrDirectory = 0x10;

// Long-name entries.
constexpr size_t kLongOrdinalField = 0;
constexpr size_t kLongTypeField = 12;
constexpr size_t kLongChecksumField = 13;
constexpr size_t kLongClusterField = 26;
constexpr uint8_t kLongLastFlag = 0x40;
constexpr uint8_t kLongOrdinalMask = 0x1F;
constexpr int kLongMaxOrdinal = 20;
constexpr int kLongUnitsPerEntry = 13;
constexpr size_t kLongUnitOffsets[kLongUnitsPerEntry] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

constexpr int64_t kReportSectorSize = 512;
constexpr int kRecordKind = 2;
// A directory holds at most 65536 entries: 2 MiB.
constexpr int64_t kMaxDirectoryBytes = 65536 * 32;
// Enough of a file's first bytes to tell a ZIP's or a compound document's
// kind; one sector tells the family.
constexpr size_t kSignatureSector = 512;
// Clusters the data walks of deleted files may look at in one scan, per
// cluster of the volume and besides: a real volume's deleted files span it
// a few times over at most.
constexpr uint64_t kWalkBudgetPerCluster = 16;
constexpr uint64_t kWalkBudgetBase = uint64_t(1) << 22;


bool isPowerOfTwo(uint64_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

bool isLongNamePiece(uint8_t attribute)
{
    return (attribute & kAttrLongNameMask) == kAttrLongName;
}

// First bytes that end the reading of a root directory cluster: the end
// marker, control bytes and characters no short name may hold.
bool endsRootCluster(uint8_t first)
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

// Characters a short name may hold besides letters and digits.
bool isShortNameSymbol(char16_t c)
{
    switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '(': case ')': case '-': case '@':
    case '^': case '_': case '`': case '{': case '}': case '~':
        return true;
    default:
        return false;
    }
}

// Whether a 32-byte entry is one a directory could hold: a long-name piece
// as the format writes it, or a short entry whose name and attributes are
// possible. Used to tell a deleted directory's clusters from other data.
bool plausibleEntry(const uint8_t* entry)
{
    const uint8_t first = entry[0];
    const uint8_t attribute = entry[kAttributeField];
    if (isLongNamePiece(attribute))
        return entry[kLongTypeField] == 0 && le::u16(entry + kLongClusterField) == 0;
    if (attribute & 0xC0)
        return false;
    if (first != kEntryDeleted && first != kEntryKanjiE5 && first < 0x20)
        return false;
    for (size_t i = 1; i < kShortNameLength; ++i) {
        if (entry[i] < 0x20)
            return false;
    }
    return true;
}

// The short name as "NAME.EXT", with the lower-case flags applied; the
// first byte, when given, replaces the stored one.
QString shortNameText(const uint8_t* entry, int firstByte)
{
    auto part = [&](size_t from, size_t length, bool lower) {
        QString text;
        for (size_t i = from; i < from + length; ++i) {
            int byte = entry[i];
            if (i == 0 && firstByte >= 0)
                byte = firstByte;
            else if (i == 0 && byte == kEntryKanjiE5)
                byte = kEntryDeleted;
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

// A FAT date and time (local time, two-second steps); invalid when the
// fields are not a date.
QDateTime dosTime(uint16_t date, uint16_t time)
{
    const QDate d(1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F);
    const QTime t((time >> 11) & 0x1F, (time >> 5) & 0x3F, (time & 0x1F) * 2);
    if (!d.isValid() || !t.isValid())
        return QDateTime();
    return QDateTime(d, t, Qt::LocalTime);
}

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

// The record of a file known by its directory entry: the name it is shown
// under (a name whose extension says another of our types is given the one
// its bytes say, so that the document is recovered as what it is), its
// folder, time and data. `byName` is the type its extension says.
CFileNode entryRecord(const uint8_t* entry, const QString& nameText, const QString& folder, int byName, int typeCode,
                      int64_t found, const QVector<CFileNode::Extent>& extents)
{
    const QString fileName = byName == CFileTypeCatalogue::NotWanted || typeCode == byName
        ? nameText
        : withExtension(nameText, typeCode);
    const QString typeName = CFileTypeCatalogue::typeName(typeCode);
    CFileNode record(typeName, found, static_cast<quint64>(extents.front().offset / kReportSectorSize), QString(),
                     fileName, QString(), typeCode, kRecordKind, CFileTypeCatalogue::sizeText(found),
                     CFileTypeCatalogue::description(typeName));
    record.origin = CFileNode::OriginDeletedEntry;
    record.originalName = fileName;
    record.folder = folder.isEmpty() ? QStringLiteral("/") : folder;
    record.modified = dosTime(le::u16(entry + kModifiedDateField), le::u16(entry + kModifiedTimeField));
    record.extents = extents;
    return record;
}

// The units of a long name up to its end (a NUL or the 0xFFFF padding),
// made safe (CFileNameText).
QString unitsText(const std::vector<char16_t>& units)
{
    size_t length = 0;
    while (length < units.size() && units[length] != 0 && units[length] != 0xFFFF)
        ++length;
    return CFileNameText::fromUnits(units.data(), length);
}

} // namespace

int64_t CFat32Scanner::Geometry::clusterOffset(uint32_t cluster) const
{
    const uint64_t sector = dataStartSector + static_cast<uint64_t>(cluster - kFirstDataCluster) * sectorsPerCluster;
    return static_cast<int64_t>(sector * bytesPerSector);
}

CFat32Scanner::CFat32Scanner(IVolume* volume, CNotifyFileNode* notifier, const std::atomic<bool>* running)
    : m_volume(volume)
    , m_notifier(notifier)
    , m_running(running)
{
}

CFat32Scanner::~CFat32Scanner() = default;

bool CFat32Scanner::decodeBootSector(const uint8_t* sector, size_t length, Geometry& g)
{
    if (!sector || length < kBootSectorSize)
        return false;
    Geometry d;
    d.bytesPerSector = le::u16(sector + kBytesPerSectorField);
    d.sectorsPerCluster = sector[kSectorsPerClusterField];
    d.reservedSectors = le::u16(sector + kReservedSectorsField);
    d.fatCount = sector[kFatCountField];
    d.sectorsPerFat = le::u32(sector + kSectorsPerFatField);
    d.rootCluster = le::u32(sector + kRootClusterField) & kFatEntryMask;
    d.totalSectors = le::u16(sector + kTotalSectors16Field);
    if (d.totalSectors == 0)
        d.totalSectors = le::u32(sector + kTotalSectors32Field);

    if (!isPowerOfTwo(d.bytesPerSector) || d.bytesPerSector < kMinSectorSize || d.bytesPerSector > kMaxSectorSize)
        return false;
    if (!isPowerOfTwo(d.sectorsPerCluster) || d.sectorsPerCluster > kMaxSectorsPerCluster)
        return false;
    if (d.reservedSectors == 0 || d.fatCount == 0 || d.sectorsPerFat == 0 || d.totalSectors == 0)
        return false;

    // All sums are below 2^16 + 2^8 * 2^32 and 2^32 * 2^12: no overflow.
    d.dataStartSector = d.reservedSectors + static_cast<uint64_t>(d.fatCount) * d.sectorsPerFat;
    if (d.dataStartSector >= d.totalSectors)
        return false;
    const uint64_t clusters = (d.totalSectors - d.dataStartSector) / d.sectorsPerCluster;
    // The FAT must also have an entry for every cluster it is asked about.
    const uint64_t fatEntries = static_cast<uint64_t>(d.sectorsPerFat) * d.bytesPerSector / 4;
    const uint64_t highest = std::min<uint64_t>({clusters + 1, fatEntries - 1, kFatBad - 1});
    if (clusters == 0 || highest < kFirstDataCluster)
        return false;
    d.highestCluster = static_cast<uint32_t>(highest);
    if (d.rootCluster < kFirstDataCluster || d.rootCluster > d.highestCluster)
        return false;
    g = d;
    return true;
}

uint8_t CFat32Scanner::shortNameChecksum(const uint8_t* shortName)
{
    uint8_t sum = 0;
    for (size_t i = 0; i < kShortNameLength; ++i)
        sum = static_cast<uint8_t>(((sum & 1u) << 7) + (sum >> 1) + shortName[i]);
    return sum;
}

bool CFat32Scanner::stopRequested() const
{
    return m_stop.load() || (m_running && !m_running->load());
}

void CFat32Scanner::scan()
{
    m_findings = 0;
    m_deletedFindings = 0;
    m_geometryKnown = false;
    m_failure.clear();
    if (!m_volume || stopRequested())
        return;
    m_volumeLength = m_volume->length();

    uint8_t boot[kBootSectorSize];
    const IVolume::ReadResult bootRead = m_volume->read(0, boot, sizeof boot);
    if (bootRead.bytes < static_cast<int64_t>(sizeof boot)) {
        m_failure = QStringLiteral("the FAT32 boot sector cannot be read.");
        return;
    }
    // Nothing we can trust about this volume: the raw pass still runs, and
    // the worker says why live files' documents are listed too.
    if (!decodeBootSector(boot, sizeof boot, m_geometry)) {
        m_failure = QStringLiteral("the first sector is no FAT32 boot sector that can be decoded.");
        return;
    }
    m_geometryKnown = true;

    // The scanner's own look-ups go through the same cached FAT reads as
    // the map it hands on; it does not own the volume.
    m_fat.reset(new CFatAllocationMap(std::shared_ptr<IVolume>(m_volume, [](IVolume*) {}), m_geometry));
    m_directoryClusters.reset(static_cast<uint64_t>(m_geometry.highestCluster) + 1);
    m_reached = std::make_shared<CClusterBitSet>(static_cast<uint64_t>(m_geometry.highestCluster) + 1);
    m_walkBudget = kWalkBudgetPerCluster * (static_cast<uint64_t>(m_geometry.highestCluster) + 1) + kWalkBudgetBase;
    m_cluster.assign(m_geometry.clusterBytes(), 0);
    m_probe.assign(m_geometry.clusterBytes(), 0);
    m_deletedLayout.reset(new CFatDeletedLayout(*m_fat, m_geometry, lastWholeCluster(), &m_walkBudget));
    m_pendingDeleted.clear();
    queueDirectory(m_geometry.rootCluster, true, false, QString());
    walkDirectories();
    settleDeleted();
    m_deletedLayout.reset();
    // A walk cut short has not met every live file: what it did not reach
    // is not known to be lost.
    if (stopRequested())
        m_reached.reset();
    m_queue.clear();
    m_directoryClusters.reset(0);
    m_fat.reset();
}

std::unique_ptr<IAllocationMap> CFat32Scanner::allocationMap(std::shared_ptr<IVolume> volume) const
{
    if (!volume || !m_geometryKnown)
        return nullptr;
    return std::unique_ptr<IAllocationMap>(new CFatAllocationMap(std::move(volume), m_geometry, m_reached));
}

uint64_t CFat32Scanner::lastWholeCluster() const
{
    // A boot sector may claim more clusters than the volume holds (an
    // image cut short): a file's data is looked for only in clusters that
    // lie wholly on it. 0 when none does.
    const int64_t clusterBytes = m_geometry.clusterBytes();
    const int64_t dataStart = m_geometry.clusterOffset(kFirstDataCluster);
    if (m_volumeLength - dataStart < clusterBytes)
        return 0;
    return std::min<uint64_t>(m_geometry.highestCluster,
                              kFirstDataCluster + (m_volumeLength - dataStart) / clusterBytes - 1);
}

bool CFat32Scanner::clusterInUse(uint32_t cluster) const
{
    return m_fat && m_fat->clusterInUse(cluster);
}

uint32_t CFat32Scanner::startCluster(const uint8_t* entry) const
{
    return ((static_cast<uint32_t>(le::u16(entry + kClusterHighField)) << 16) | le::u16(entry + kClusterLowField))
        & kFatEntryMask;
}

void CFat32Scanner::queueDirectory(uint32_t cluster, bool root, bool deleted, const QString& path)
{
    if (cluster < kFirstDataCluster || cluster > m_geometry.highestCluster)
        return;
    // A live directory reached a second time (a cycle, or two entries
    // naming one cluster) is not read again. A deleted one is claimed when
    // it is read, once its first cluster has been seen to be a directory's.
    if (!deleted && !m_directoryClusters.insert(cluster))
        return;
    if (deleted && m_directoryClusters.contains(cluster))
        return;
    DirectoryNode node;
    node.firstCluster = cluster;
    node.root = root;
    node.deleted = deleted;
    node.path = path;
    m_queue.push_back(std::move(node));
}

void CFat32Scanner::markChain(uint32_t first)
{
    uint32_t cluster = first;
    // No more steps than clusters, and no cluster taken twice.
    for (uint32_t steps = 0; steps <= m_geometry.highestCluster; ++steps) {
        if (cluster < kFirstDataCluster || cluster > m_geometry.highestCluster || !m_reached->insert(cluster))
            return;
        uint32_t next = 0;
        if (!m_fat->entry(cluster, next) || next == kFatFree || next == kFatBad || next >= kFatFirstEnd)
            return;
        cluster = next;
    }
}

std::vector<uint32_t> CFat32Scanner::directoryChain(uint32_t firstCluster)
{
    std::vector<uint32_t> chain{firstCluster};
    uint32_t cluster = firstCluster;
    // Bounded twice over: no cluster is taken twice, and there are no more
    // steps than clusters on the volume.
    for (uint32_t steps = 0; steps < m_geometry.highestCluster; ++steps) {
        uint32_t next = 0;
        if (!m_fat->entry(cluster, next))
            break;
        if (next == kFatFree || next == kFatBad || next >= kFatFirstEnd)
            break;
        if (next < kFirstDataCluster || next > m_geometry.highestCluster)
            break;
        // A loop, or a chain that merges into one read with an earlier
        // directory: the rest was, or will be, read with that one. Stopping
        // here keeps the walks linear in the volume.
        if (!m_directoryClusters.insert(next))
            break;
        chain.push_back(next);
        cluster = next;
    }
    return chain;
}

bool CFat32Scanner::looksLikeDirectory(uint32_t cluster, bool first) const
{
    const IVolume::ReadResult r = m_volume->read(m_geometry.clusterOffset(cluster), m_probe.data(), m_probe.size());
    if (r.bytes < static_cast<int64_t>(m_probe.size()))
        return false;
    const uint8_t* e = m_probe.data();
    if (first) {
        // "." names the directory itself, ".." its parent.
        static const char kDot[] = ".          ";
        static const char kDotDot[] = "..         ";
        return std::memcmp(e, kDot, kShortNameLength) == 0 && (e[kAttributeField] & kAttrDirectory)
            && startCluster(e) == cluster && std::memcmp(e + kEntrySize, kDotDot, kShortNameLength) == 0
            && (e[kEntrySize + kAttributeField] & kAttrDirectory);
    }
    if (e[0] == kEntryEnd)
        return false; // nothing more of the directory
    for (size_t at = 0; at + kEntrySize <= m_probe.size(); at += kEntrySize) {
        if (e[at] == kEntryEnd)
            break;
        if (!plausibleEntry(e + at))
            return false;
    }
    return true;
}

void CFat32Scanner::walkDirectories()
{
    const int64_t clusterBytes = m_geometry.clusterBytes();
    const uint64_t maxDeletedClusters = static_cast<uint64_t>(std::max<int64_t>(1, kMaxDirectoryBytes / clusterBytes));
    while (!m_queue.empty()) {
        if (stopRequested())
            return;
        const DirectoryNode node = std::move(m_queue.front());
        m_queue.pop_front();

        // Long names may run on from one cluster of a directory into the
        // next, never from one directory into another.
        LongName longName;
        DeletedLongName deletedLongName;
        bool stopped = false;
        if (!node.deleted) {
            for (uint32_t cluster : directoryChain(node.firstCluster)) {
                m_reached->insert(cluster);
                if (stopRequested())
                    return;
                readDirectoryCluster(node, cluster, longName, deletedLongName, stopped);
                if (stopped)
                    return;
            }
            continue;
        }

        // A deleted directory: its first cluster must still be free and
        // still hold "." and ".."; then the clusters after it, while they
        // are free and hold entries, up to a directory's largest size.
        uint32_t cluster = node.firstCluster;
        if (clusterInUse(cluster) || m_directoryClusters.contains(cluster) || !looksLikeDirectory(cluster, true))
            continue;
        for (uint64_t taken = 0; taken < maxDeletedClusters; ++taken) {
            if (stopRequested())
                return;
            m_directoryClusters.insert(cluster);
            if (!readDirectoryCluster(node, cluster, longName, deletedLongName, stopped))
                break;
            if (cluster >= m_geometry.highestCluster)
                break;
            ++cluster;
            if (clusterInUse(cluster) || m_directoryClusters.contains(cluster) || !looksLikeDirectory(cluster, false))
                break;
        }
        if (stopped)
            return;
    }
}

bool CFat32Scanner::readDirectoryCluster(const DirectoryNode& node, uint32_t cluster, LongName& longName,
                                         DeletedLongName& deletedLongName, bool& stopped)
{
    const int64_t offset = m_geometry.clusterOffset(cluster);
    if (offset >= m_volumeLength)
        return false;
    const IVolume::ReadResult r = m_volume->read(offset, m_cluster.data(), m_cluster.size());
    const size_t got = r.bytes > 0 ? static_cast<size_t>(r.bytes) : 0;
    // What could not be read holds no entries.
    if (got < m_cluster.size())
        std::memset(m_cluster.data() + got, 0, m_cluster.size() - got);

    for (size_t at = 0; at + kEntrySize <= m_cluster.size(); at += kEntrySize) {
        if (stopRequested()) {
            stopped = true;
            return false;
        }
        const uint8_t* entry = m_cluster.data() + at;
        const uint8_t first = entry[0];
        const uint8_t attribute = entry[kAttributeField];

        if (!node.root && first == kEntryEnd) {
            longName.reset();
            deletedLongName.reset();
            // A live directory's chain says where it goes on; a deleted
            // one ends here.
            return !node.deleted;
        }
        if (first == kEntryDeleted) {
            longName.reset();
            if (isLongNamePiece(attribute)) {
                // At most a long name's worth: older pieces belong to an
                // entry deleted before.
                if (deletedLongName.pieces.size() >= static_cast<size_t>(kLongMaxOrdinal))
                    deletedLongName.pieces.erase(deletedLongName.pieces.begin());
                std::array<uint8_t, kEntrySize> piece;
                std::memcpy(piece.data(), entry, kEntrySize);
                deletedLongName.pieces.push_back(piece);
            } else {
                handleDeletedEntry(node, entry, deletedName(entry, deletedLongName));
                deletedLongName.reset();
            }
            continue;
        }
        deletedLongName.reset();
        if (isLongNamePiece(attribute)) {
            collectLongName(entry, longName);
            continue;
        }
        if (node.root && endsRootCluster(first)) {
            longName.reset();
            return true;
        }
        if (attribute & kAttrVolumeLabel) {
            // A volume label, not a file.
        } else if (node.deleted) {
            // What a deleted directory holds is deleted, marked or not.
            if (first != '.')
                handleDeletedEntry(node, entry, liveName(entry, longName));
        } else if (attribute & kAttrDirectory) {
            if (first != '.')
                queueDirectory(startCluster(entry), false, false, node.path + '/' + liveName(entry, longName).text);
        } else {
            markChain(startCluster(entry));
            if (m_liveFilesLost)
                postLostLiveFile(node, entry, liveName(entry, longName));
            else
                handleFile(entry, longName);
        }
        longName.reset();
    }
    return true;
}

void CFat32Scanner::collectLongName(const uint8_t* entry, LongName& longName) const
{
    const uint8_t ordinalByte = entry[kLongOrdinalField];
    const int ordinal = ordinalByte & kLongOrdinalMask;
    const bool wellFormed = entry[kLongTypeField] == 0 && le::u16(entry + kLongClusterField) == 0 && ordinal >= 1
        && ordinal <= kLongMaxOrdinal;
    if (!wellFormed) {
        longName.reset();
        return;
    }
    if (ordinalByte & kLongLastFlag) {
        // The physically first entry holds the last piece of the name.
        longName.reset();
        longName.units.assign(static_cast<size_t>(ordinal) * kLongUnitsPerEntry, 0);
        longName.checksum = entry[kLongChecksumField];
    } else if (longName.nextOrdinal != ordinal || entry[kLongChecksumField] != longName.checksum) {
        longName.reset();
        return;
    }
    const size_t base = static_cast<size_t>(ordinal - 1) * kLongUnitsPerEntry;
    for (int i = 0; i < kLongUnitsPerEntry; ++i)
        longName.units[base + i] = static_cast<char16_t>(le::u16(entry + kLongUnitOffsets[i]));
    longName.nextOrdinal = ordinal - 1;
}

CFat32Scanner::EntryName CFat32Scanner::liveName(const uint8_t* entry, const LongName& longName) const
{
    EntryName name;
    if (!longName.units.empty() && longName.nextOrdinal == 0 && longName.checksum == shortNameChecksum(entry)) {
        name.text = unitsText(longName.units);
        name.fromLongName = !name.text.isEmpty();
    }
    if (!name.fromLongName)
        name.text = shortNameText(entry, -1);
    return name;
}

CFat32Scanner::EntryName CFat32Scanner::deletedName(const uint8_t* entry, const DeletedLongName& deleted) const
{
    EntryName name;
    // The name is the run of pieces next to the short entry that carry the
    // checksum of the one beside it (0xE5 took their order numbers, so
    // nothing else tells where the name starts). The piece holding the
    // name's end (its NUL) is the name's last piece and lies first; pieces
    // before it, or of another checksum, or malformed, are what is left of
    // a name deleted before.
    size_t count = 0;
    uint8_t checksum = 0;
    if (!deleted.pieces.empty())
        checksum = deleted.pieces.back()[kLongChecksumField];
    while (count < deleted.pieces.size()) {
        const uint8_t* piece = deleted.pieces[deleted.pieces.size() - 1 - count].data();
        if (piece[kLongTypeField] != 0 || le::u16(piece + kLongClusterField) != 0
            || piece[kLongChecksumField] != checksum)
            break;
        ++count;
        bool ends = false;
        for (size_t offset : kLongUnitOffsets)
            ends = ends || le::u16(piece + offset) == 0;
        if (ends)
            break;
    }
    if (count > 0) {
        const size_t skipped = deleted.pieces.size() - count;
        std::vector<char16_t> units(count * kLongUnitsPerEntry, 0);
        for (size_t j = 0; j < count; ++j) {
            const uint8_t* piece = deleted.pieces[skipped + j].data();
            // The pieces lie last first: the one next to the short entry
            // holds the name's start.
            const size_t base = (count - 1 - j) * kLongUnitsPerEntry;
            for (int i = 0; i < kLongUnitsPerEntry; ++i)
                units[base + i] = static_cast<char16_t>(le::u16(piece + kLongUnitOffsets[i]));
        }
        const QString text = unitsText(units);
        if (!text.isEmpty()) {
            // The short name's first byte, as a formatter derives it from
            // the long name: its first character (leading dots and spaces
            // dropped) in upper case, "_" for one a short name cannot hold,
            // or a code-page byte for a character past ASCII.
            int at = 0;
            while (at < text.size() && (text[at] == '.' || text[at] == ' '))
                ++at;
            const char16_t c = at < text.size() ? text[at].unicode() : u'_';
            uint8_t shortName[kShortNameLength];
            std::memcpy(shortName, entry, kShortNameLength);
            auto matches = [&](int byte) {
                shortName[0] = static_cast<uint8_t>(byte);
                return shortNameChecksum(shortName) == checksum;
            };
            bool accepted = matches('_');
            if (!accepted && c < 0x80) {
                const char16_t upper = (c >= 'a' && c <= 'z') ? static_cast<char16_t>(c - 'a' + 'A') : c;
                if ((upper >= 'A' && upper <= 'Z') || (upper >= '0' && upper <= '9') || isShortNameSymbol(upper))
                    accepted = matches(upper);
            } else if (!accepted) {
                for (int byte = 0x80; byte <= 0xFF && !accepted; ++byte)
                    accepted = matches(byte);
            }
            if (accepted) {
                name.text = text;
                name.fromLongName = true;
                return name;
            }
        }
    }
    // The first character is lost: "_" stands for it, as other tools show.
    name.text = shortNameText(entry, '_');
    return name;
}

void CFat32Scanner::handleFile(const uint8_t* entry, const LongName& longName)
{
    const uint32_t cluster = startCluster(entry);
    if (cluster < kFirstDataCluster || cluster > m_geometry.highestCluster)
        return; // an empty file, or a cluster that is not on the volume

    QByteArray name;
    bool dotted = false;
    // A complete run of long-name entries that belongs to this short entry.
    if (!longName.units.empty() && longName.nextOrdinal == 0
        && longName.checksum == shortNameChecksum(entry)) {
        name = unitsText(longName.units).toLocal8Bit();
        dotted = true;
    } else {
        // The short name's extension: the eleven name bytes and a space
        // as fixed-width text.
        name = QByteArray(reinterpret_cast<const char*>(entry), static_cast<int>(kShortNameLength));
        name.append(' ');
    }

    const int typeCode = CFileTypeCatalogue::typeCodeByExtension(name, !dotted);
    if (typeCode == CFileTypeCatalogue::NotWanted && !CFileTypeCatalogue::isContainerExtension(name, !dotted))
        return;

    const int64_t offset = m_geometry.clusterOffset(cluster);
    ++m_findings;
    if (m_notifier)
        m_notifier->postItem(static_cast<long long>(offset / kReportSectorSize), typeCode);
}

void CFat32Scanner::postLostLiveFile(const DirectoryNode& node, const uint8_t* entry, const EntryName& name)
{
    const int64_t size = le::u32(entry + kSizeField);
    const uint32_t start = startCluster(entry);
    if (size == 0 || start < kFirstDataCluster || start > lastWholeCluster())
        return;
    // The chain, as runs of adjacent clusters, until the size is reached;
    // bounded by the clusters on the volume, and ended by anything that is
    // not a next cluster (a file cut short says so).
    const int64_t clusterBytes = m_geometry.clusterBytes();
    QVector<CFileNode::Extent> extents;
    int64_t found = 0;
    uint32_t cluster = start;
    for (uint32_t steps = 0; steps <= m_geometry.highestCluster && found < size; ++steps) {
        if (cluster < kFirstDataCluster || cluster > lastWholeCluster())
            break;
        const int64_t offset = m_geometry.clusterOffset(cluster);
        const int64_t length = std::min(clusterBytes, size - found);
        if (!extents.isEmpty() && extents.back().offset + extents.back().length == offset)
            extents.back().length += length;
        else
            extents.append({offset, length});
        found += length;
        uint32_t next = 0;
        if (!m_fat->entry(cluster, next) || next == kFatFree || next == kFatBad || next >= kFatFirstEnd)
            break;
        cluster = next;
    }
    if (extents.isEmpty())
        return;
    const int byName = CFileTypeCatalogue::typeCodeByExtension(name.text.toUtf8(), false);
    const size_t first = static_cast<size_t>(std::min<int64_t>(
        {size, static_cast<int64_t>(CDocumentSignature::kUsefulPrefix), static_cast<int64_t>(m_probe.size()),
         extents.front().length}));
    const IVolume::ReadResult r = m_volume->read(extents.front().offset, m_probe.data(), first);
    const int byContent = CDocumentSignature::typeCodeOf(m_probe.data(), static_cast<size_t>(std::max<int64_t>(r.bytes, 0)));
    const int typeCode = CDocumentSignature::typeOfNamedFile(byName, byContent);
    if (typeCode == CFileTypeCatalogue::NotWanted)
        return;
    CFileNode record = entryRecord(entry, name.text, node.path, byName, typeCode, found, extents);
    record.incomplete = found < size;
    ++m_findings;
    if (m_notifier)
        m_notifier->postItem(record);
}

void CFat32Scanner::handleDeletedEntry(const DirectoryNode& node, const uint8_t* entry, const EntryName& name)
{
    if (!m_reportDeleted)
        return;
    const uint8_t attribute = entry[kAttributeField];
    if (attribute & kAttrVolumeLabel)
        return;
    if (attribute & kAttrDirectory) {
        queueDirectory(startCluster(entry), false, true, node.path + '/' + name.text);
        return;
    }
    postDeletedFile(node, entry, name);
}

void CFat32Scanner::postDeletedFile(const DirectoryNode& node, const uint8_t* entry, const EntryName& name)
{
    if (!m_reportDeleted)
        return;
    const int64_t size = le::u32(entry + kSizeField);
    const uint32_t start = startCluster(entry);
    const int64_t clusterBytes = m_geometry.clusterBytes();
    const uint64_t last = lastWholeCluster();
    if (size == 0 || start < kFirstDataCluster || start > last)
        return; // no data, or none on this volume

    // Where the data is: the clusters from the start cluster on, skipping
    // those the FAT marks in use, until the size is reached (a file is
    // written into the free clusters after its first; see
    // CFatDeletedLayout). A start cluster in use belongs to another file
    // now: the file is overwritten, and the stretch it would have had from
    // there is what is left of it.
    QVector<CFileNode::Extent> extents;
    double overwritten = 0.0;
    bool incomplete = false;
    const bool startTaken = clusterInUse(start);
    if (startTaken) {
        const int64_t available = static_cast<int64_t>(last - start + 1) * clusterBytes;
        const int64_t length = std::min(size, available);
        incomplete = length < size;
        CFileNode::Extent e;
        e.offset = m_geometry.clusterOffset(start);
        e.length = length;
        extents.append(e);
        // Paid for like the walks; past the budget the share is not
        // counted and the file is taken as wholly overwritten.
        const uint64_t clusters = static_cast<uint64_t>((length + clusterBytes - 1) / clusterBytes);
        if (clusters <= m_walkBudget) {
            m_walkBudget -= clusters;
            overwritten = static_cast<double>(m_fat->bytesInUse(e.offset, e.length)) / static_cast<double>(length);
        } else {
            overwritten = 1.0;
        }
    } else {
        // Every deleted file's claim counts for the walks around them, our
        // documents' or not.
        m_deletedLayout->addClaim(start, size);
        const CFatDeletedLayout::Layout layout = m_deletedLayout->walk(start, size);
        extents = layout.extents;
        incomplete = layout.incomplete;
    }
    if (extents.isEmpty())
        return;
    // What is listed and written is what was found: a file cut short says
    // so (incomplete) and is as long as its extents.
    int64_t found = 0;
    for (const CFileNode::Extent& e : extents)
        found += e.length;

    // Which document: the first bytes and the name's extension together
    // (CDocumentSignature::typeOfNamedFile). A deleted "backup.bak" that is
    // a DOCX is a DOCX, and so is one that only its short name
    // "REPORT~1.DOC" still names. An overwritten start holds another
    // file's bytes: only the name can tell.
    const int byName = CFileTypeCatalogue::typeCodeByExtension(name.text.toUtf8(), false);
    int typeCode = byName;
    if (!startTaken) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(
            {size, static_cast<int64_t>(CDocumentSignature::kUsefulPrefix), static_cast<int64_t>(m_probe.size())}));
        const size_t first = std::min(want, kSignatureSector);
        IVolume::ReadResult r = m_volume->read(extents.front().offset, m_probe.data(), first);
        int byContent = r.bytes == static_cast<int64_t>(first) ? CDocumentSignature::typeCodeOf(m_probe.data(), first)
                                                               : int(CFileTypeCatalogue::NotWanted);
        if (CDocumentSignature::kindMatters(byName, CFileTypeCatalogue::family(byContent)) && want > first) {
            // The family is known; more of the first cluster tells the kind.
            const int byFamily = byContent;
            r = m_volume->read(extents.front().offset, m_probe.data(),
                               static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(want), extents.front().length)));
            // A bad sector further on in the cluster (the read fails as a
            // whole): the first sector's word stands.
            byContent = r.bytes >= static_cast<int64_t>(first)
                ? CDocumentSignature::typeCodeOf(m_probe.data(), static_cast<size_t>(r.bytes))
                : byFamily;
        }
        typeCode = CDocumentSignature::typeOfNamedFile(byName, byContent);
    }
    if (typeCode == CFileTypeCatalogue::NotWanted)
        return;
    CFileNode record = entryRecord(entry, name.text, node.path, byName, typeCode, found, extents);
    record.overwritten = overwritten;
    record.incomplete = incomplete;
    // Posted once every deleted entry's claim is known (settleDeleted()).
    m_pendingDeleted.push_back({std::move(record), start, size, startTaken});
}

void CFat32Scanner::settleDeleted()
{
    if (!m_deletedLayout)
        return;
    m_deletedLayout->sealClaims();
    for (PendingDeleted& p : m_pendingDeleted) {
        // A walk through another deleted file's clusters is put right
        // where the document's bytes prove how.
        if (!p.startTaken && !stopRequested())
            m_deletedLayout->settle(m_volume, p.record, p.start, p.size, m_running);
        ++m_deletedFindings;
        if (m_notifier)
            m_notifier->postItem(p.record);
    }
    m_pendingDeleted.clear();
}
