#include "filesystems/CFat32Scanner.h"

#include "disk/IVolume.h"
#include "disk/LittleEndian.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <QString>

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
constexpr uint8_t kEntryEnd = 0x00;
constexpr uint8_t kEntryDeleted = 0xE5;
constexpr uint8_t kEntryKanjiE5 = 0x05;
constexpr uint8_t kAttrLongName = 0x0F;
constexpr uint8_t kAttrFile = 0x20;      // the archive bit alone
constexpr uint8_t kAttrDirectory = 0x10; // the directory bit alone
constexpr uint8_t kAttrHidden = 0x02;

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

bool isPowerOfTwo(uint64_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

// First bytes that end the reading of a root directory cluster: the end
// marker, control bytes and characters no short name may hold.
bool endsRootCluster(uint8_t first, uint8_t attribute)
{
    if (attribute == kAttrHidden)
        return true;
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
    if (!m_volume || stopRequested())
        return;
    m_volumeLength = m_volume->length();

    uint8_t boot[kBootSectorSize];
    const IVolume::ReadResult bootRead = m_volume->read(0, boot, sizeof boot);
    if (bootRead.bytes < static_cast<int64_t>(sizeof boot))
        return;
    if (!decodeBootSector(boot, sizeof boot, m_geometry))
        return; // nothing we can trust about this volume: the raw pass still runs

    m_fatSector.assign(m_geometry.bytesPerSector, 0);
    m_fatSectorOffset = -1;
    m_cluster.assign(m_geometry.clusterBytes(), 0);
    queueDirectory(m_geometry.rootCluster, true);
    walkDirectories();
    m_queue.clear();
}

void CFat32Scanner::queueDirectory(uint32_t cluster, bool root)
{
    if (cluster < kFirstDataCluster || cluster > m_geometry.highestCluster)
        return;
    // A directory reached a second time (a cycle, or two entries naming one
    // cluster) is not read again.
    if (!m_directoriesSeen.insert(cluster).second)
        return;
    std::unique_ptr<DirectoryNode> node(new DirectoryNode);
    node->firstCluster = cluster;
    node->root = root;
    node->clusterOffsets.push_back(m_geometry.clusterOffset(cluster));
    m_queue.push_back(std::move(node));
}

bool CFat32Scanner::fatEntry(uint32_t cluster, uint32_t& value)
{
    const uint64_t byte = static_cast<uint64_t>(cluster) * 4;
    const uint64_t sectorIndex = byte / m_geometry.bytesPerSector;
    if (sectorIndex >= m_geometry.sectorsPerFat)
        return false;
    const int64_t offset =
        static_cast<int64_t>((m_geometry.reservedSectors + sectorIndex) * m_geometry.bytesPerSector);
    if (offset != m_fatSectorOffset) {
        const IVolume::ReadResult r = m_volume->read(offset, m_fatSector.data(), m_fatSector.size());
        if (r.bytes < static_cast<int64_t>(m_fatSector.size())) {
            m_fatSectorOffset = -1;
            return false;
        }
        m_fatSectorOffset = offset;
    }
    value = le::u32(m_fatSector.data() + byte % m_geometry.bytesPerSector) & kFatEntryMask;
    return true;
}

void CFat32Scanner::readClusterChain(DirectoryNode& node)
{
    node.chainRead = true;
    // Chains that merge: what an earlier directory's chain reached was read
    // with it, and the chain from there on is the same. Stopping here keeps
    // the walks linear in the volume; many directories pointing into one
    // long chain would otherwise each walk it to its end.
    if (m_directoryClusters.count(node.firstCluster))
        return;
    std::unordered_set<uint32_t> seen{node.firstCluster};
    uint32_t cluster = node.firstCluster;
    // Bounded twice over: by the set (no cluster twice) and by the count of
    // clusters on the volume.
    for (uint32_t steps = 0; steps < m_geometry.highestCluster; ++steps) {
        uint32_t next = 0;
        if (!fatEntry(cluster, next))
            return;
        if (next == kFatFree || next == kFatBad || next >= kFatFirstEnd)
            return;
        if (next < kFirstDataCluster || next > m_geometry.highestCluster)
            return;
        if (!seen.insert(next).second)
            return; // a loop
        if (m_directoryClusters.count(next))
            return; // read with an earlier directory
        node.clusterOffsets.push_back(m_geometry.clusterOffset(next));
        cluster = next;
    }
}

void CFat32Scanner::walkDirectories()
{
    while (!m_queue.empty()) {
        if (stopRequested())
            return;
        std::unique_ptr<DirectoryNode> node = std::move(m_queue.front());
        m_queue.pop_front();
        if (!node->chainRead)
            readClusterChain(*node);

        // Long names may run on from one cluster of a directory into the
        // next, never from one directory into another.
        LongName longName;
        for (int64_t offset : node->clusterOffsets) {
            if (stopRequested())
                return;
            if (!readDirectoryCluster(*node, offset, longName))
                return;
        }
    }
}

bool CFat32Scanner::readDirectoryCluster(const DirectoryNode& node, int64_t offset, LongName& longName)
{
    // Each directory cluster is read once, whichever directory reaches it.
    const uint64_t clusterIndex =
        (static_cast<uint64_t>(offset) / m_geometry.bytesPerSector - m_geometry.dataStartSector)
            / m_geometry.sectorsPerCluster
        + kFirstDataCluster;
    if (!m_directoryClusters.insert(static_cast<uint32_t>(clusterIndex)).second)
        return true;
    if (offset >= m_volumeLength)
        return true;

    const IVolume::ReadResult r = m_volume->read(offset, m_cluster.data(), m_cluster.size());
    const size_t got = r.bytes > 0 ? static_cast<size_t>(r.bytes) : 0;
    // What could not be read holds no entries.
    if (got < m_cluster.size())
        std::memset(m_cluster.data() + got, 0, m_cluster.size() - got);

    for (size_t at = 0; at + kEntrySize <= m_cluster.size(); at += kEntrySize) {
        if (stopRequested())
            return false;
        const uint8_t* entry = m_cluster.data() + at;
        const uint8_t first = entry[0];
        const uint8_t attribute = entry[kAttributeField];

        if (!node.root && first == kEntryEnd) {
            longName.reset();
            return true;
        }
        if (first == kEntryDeleted) {
            longName.reset();
            continue;
        }
        if (attribute == kAttrLongName) {
            collectLongName(entry, longName);
            continue;
        }
        if (node.root && endsRootCluster(first, attribute)) {
            longName.reset();
            return true;
        }
        if (attribute == kAttrFile)
            handleFile(entry, longName);
        else if (attribute == kAttrDirectory && first != '.')
            handleDirectory(entry);
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

void CFat32Scanner::handleFile(const uint8_t* entry, const LongName& longName)
{
    const uint32_t cluster =
        ((static_cast<uint32_t>(le::u16(entry + kClusterHighField)) << 16) | le::u16(entry + kClusterLowField))
        & kFatEntryMask;
    if (cluster < kFirstDataCluster || cluster > m_geometry.highestCluster)
        return; // an empty file, or a cluster that is not on the volume

    QByteArray name;
    bool dotted = false;
    // A complete run of long-name entries that belongs to this short entry.
    if (!longName.units.empty() && longName.nextOrdinal == 0
        && longName.checksum == shortNameChecksum(entry)) {
        size_t length = 0;
        while (length < longName.units.size() && longName.units[length] != 0 && longName.units[length] != 0xFFFF)
            ++length;
        name = QString::fromUtf16(longName.units.data(), static_cast<int>(length)).toLocal8Bit();
        dotted = true;
    } else {
        // The short name's extension: the eleven name bytes and the
        // attribute byte (a space for a plain file) as fixed-width text.
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

void CFat32Scanner::handleDirectory(const uint8_t* entry)
{
    const uint32_t cluster =
        ((static_cast<uint32_t>(le::u16(entry + kClusterHighField)) << 16) | le::u16(entry + kClusterLowField))
        & kFatEntryMask;
    queueDirectory(cluster, false);
}
