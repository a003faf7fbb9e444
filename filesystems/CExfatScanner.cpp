#include "filesystems/CExfatScanner.h"

#include "disk/IVolume.h"
#include "disk/LittleEndian.h"
#include "filesystems/CBitmapAllocationMap.h"
#include "filesystems/CExfatBitmap.h"
#include "filesystems/CExfatBootRegion.h"
#include "filesystems/CClusterBitSet.h"
#include "filesystems/CExfatFormerDirectories.h"
#include "filesystems/CFreeClusterObserver.h"
#include "filesystems/CFreeClusterSweep.h"
#include "filesystems/CFileNameText.h"
#include "scan/CDocumentSignature.h"
#include "scan/CFileNode.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>

namespace {

// FAT.
constexpr uint32_t kFatEnd = 0xFFFFFFFF;

// Directory entries.
constexpr size_t kEntrySize = 32;
constexpr uint8_t kInUse = 0x80;
constexpr uint8_t kTypeMask = 0x7F;
constexpr uint8_t kTypeEnd = 0x00;
constexpr uint8_t kTypeBitmap = 0x81;
constexpr uint8_t kTypeUpcase = 0x82;
// Up to this many clusters the reached clusters are told apart, in a bit
// set of at most 32 MiB; a volume of more (clusters of 512 bytes on
// terabytes) trusts its bitmap as it is.
constexpr uint64_t kMaxReachedClusters = uint64_t(1) << 28;
constexpr uint8_t kTypeFile = 0x05;   // 0x85 in use
constexpr uint8_t kTypeStream = 0x40; // 0xC0 in use
constexpr uint8_t kTypeName = 0x41;   // 0xC1 in use
constexpr uint8_t kSecondaryCategory = 0x40;
// File entry.
constexpr size_t kSecondaryCountField = 1;
constexpr size_t kSetChecksumField = 2;
constexpr size_t kAttributesField = 4;
constexpr size_t kModifiedField = 12;
constexpr size_t kModified10msField = 21;
constexpr size_t kModifiedOffsetField = 23;
constexpr uint16_t kAttrDirectory = 0x10;
constexpr int kMinSecondaries = 2;
constexpr int kMaxSecondaries = 18;
// Stream extension entry.
constexpr size_t kStreamFlagsField = 1;
constexpr size_t kNameLengthField = 3;
constexpr size_t kValidDataLengthField = 8;
constexpr size_t kFirstClusterField = 20;
constexpr size_t kDataLengthField = 24;
constexpr uint8_t kNoFatChain = 0x02;
// File name entry.
constexpr size_t kNameField = 2;
constexpr int kUnitsPerNameEntry = 15;

constexpr int64_t kReportSectorSize = 512;
constexpr int kRecordKind = 2;
constexpr uint64_t kMaxDirectoryBytes = 256ull * 1024 * 1024; // the format's own limit
constexpr size_t kSignatureSector = 512;
constexpr int kMaxHeldRecords = 100000;

QDateTime exfatTime(uint32_t stamp, uint8_t tenMs, uint8_t utcOffset)
{
    const QDate date(1980 + static_cast<int>(stamp >> 25), static_cast<int>((stamp >> 21) & 0x0F),
                     static_cast<int>((stamp >> 16) & 0x1F));
    const QTime time(static_cast<int>((stamp >> 11) & 0x1F), static_cast<int>((stamp >> 5) & 0x3F),
                     static_cast<int>(stamp & 0x1F) * 2);
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    const int extraMs = tenMs < 200 ? tenMs * 10 : 0;
    if (utcOffset & 0x80) {
        // Seven bits, signed, in quarter hours.
        int quarters = utcOffset & 0x7F;
        if (quarters & 0x40)
            quarters -= 0x80;
        return QDateTime(date, time, Qt::OffsetFromUTC, quarters * 15 * 60).addMSecs(extraMs);
    }
    return QDateTime(date, time, Qt::LocalTime).addMSecs(extraMs);
}

// Whether an entry's type byte is one a directory holds: the end mark, the
// primary and secondary entries the format defines, in use or not.
bool directoryType(uint8_t type)
{
    switch (type & kTypeMask) {
    case kTypeEnd: case 0x01: case 0x02: case 0x03: case kTypeFile: case 0x20: case 0x21: case 0x22:
    case kTypeStream: case kTypeName: case 0x60: case 0x61:
        return true;
    default:
        return false;
    }
}

// Whether a cluster could be a directory's: it starts with an entry (not
// the end mark, after which a directory holds nothing) and its first
// entries' types are all a directory's. Clusters of other data fail on
// their first bytes, so that the search reads little of them.
bool mayHoldEntries(const uint8_t* cluster, size_t bytes)
{
    constexpr size_t kEntriesLooked = 4;
    if (bytes < kEntrySize || cluster[0] == kTypeEnd)
        return false;
    for (size_t k = 0; k < kEntriesLooked && (k + 1) * kEntrySize <= bytes; ++k)
        if (!directoryType(cluster[k * kEntrySize]))
            return false;
    return true;
}

} // namespace

int64_t CExfatScanner::Geometry::clusterOffset(uint64_t cluster) const
{
    return static_cast<int64_t>((uint64_t(heapOffset) << sectorShift) + ((cluster - 2) << (sectorShift + clusterShift)));
}

CExfatScanner::CExfatScanner(IVolume* volume, CNotifyFileNode* notifier, const std::atomic<bool>* running)
    : m_volume(volume)
    , m_notifier(notifier)
    , m_running(running)
    , m_bitmap(new CExfatBitmap)
{
}

CExfatScanner::~CExfatScanner() = default;

const std::vector<CExfatScanner::BitmapRun>& CExfatScanner::bitmapRuns() const
{
    return m_bitmap->runs();
}

bool CExfatScanner::decodeBootSector(const uint8_t* sector, size_t length, Geometry& geometry)
{
    return CExfatBootRegion::decode(sector, length, geometry);
}

uint32_t CExfatScanner::bootChecksum(const uint8_t* region, size_t sectorBytes)
{
    return CExfatBootRegion::checksum(region, sectorBytes);
}

uint16_t CExfatScanner::entrySetChecksum(const uint8_t* entries, size_t count)
{
    uint16_t sum = 0;
    const size_t length = count * kEntrySize;
    for (size_t i = 0; i < length; ++i) {
        if (i == kSetChecksumField || i == kSetChecksumField + 1)
            continue;
        sum = static_cast<uint16_t>(((sum & 1u) ? 0x8000u : 0u) + (sum >> 1) + entries[i]);
    }
    return sum;
}

QStringList CExfatScanner::problems() const
{
    QStringList out;
    if (m_badSets > 0)
        out << QStringLiteral("%1 file entry set(s) with a wrong checksum or count were skipped.").arg(m_badSets);
    if (m_chainLoops > 0)
        out << QStringLiteral("%1 directory cluster chain(s) loop or leave the volume; they were read up to there.")
                   .arg(m_chainLoops);
    if (m_directoriesTwice > 0)
        out << QStringLiteral("%1 directory cluster(s) are reached from more than one place; they were read once.")
                   .arg(m_directoriesTwice);
    if (m_directoriesCut > 0)
        out << QStringLiteral("%1 directory(ies) could not be read whole.").arg(m_directoriesCut);
    return out;
}

bool CExfatScanner::stopRequested() const
{
    // Once the carving pass is over, what its windows showed is posted even
    // when the scan was stopped in it: it is saved with the scan.
    return m_stop.load() || (!m_finishing && m_running && !m_running->load());
}

bool CExfatScanner::readBootRegion()
{
    return CExfatBootRegion::read(*m_volume, m_geometry);
}

void CExfatScanner::scan()
{
    m_findings = 0;
    m_deletedFindings = 0;
    m_formerFindings = 0;
    m_formerBytes = 0;
    m_failure.clear();
    m_badSets = m_chainLoops = m_directoriesTwice = m_directoriesCut = 0;
    m_queue.clear();
    m_byContent.clear();
    m_claimedStarts.clear();
    m_directoryClusters.clear();
    // Nothing of an earlier scan's bitmap is trusted.
    m_bitmap->reset(nullptr, Geometry());
    m_fatSectorOffset = -1;
    if (!m_volume || stopRequested())
        return;
    m_volumeLength = m_volume->length();
    if (!readBootRegion()) {
        if (!stopRequested())
            m_failure = QStringLiteral("the exFAT boot region fails its checksum on both copies.");
        return;
    }
    m_fatSector.assign(m_geometry.sectorBytes(), 0);
    m_bitmap->reset(m_volume, m_geometry);
    m_walkBudget = uint64_t(m_geometry.clusterCount) * 4 + 1024 * 1024;

    m_reached.reset();
    if (m_geometry.clusterCount <= kMaxReachedClusters)
        m_reached = std::make_shared<CClusterBitSet>(uint64_t(m_geometry.clusterCount) + 2);
    Directory root;
    root.firstCluster = m_geometry.rootCluster;
    m_queue.push_back(root);
    walk();
    const int before = m_deletedFindings;
    const size_t deferredBefore = m_byContent.size();
    const bool searchFormer = m_reportDeleted && m_searchFormer && !m_liveFilesLost;
    if (searchFormer && m_formerFromWindows && m_bitmap->found() && !stopRequested()) {
        // The search looks at the carving pass's windows; the rest waits
        // for finishFormer().
        m_formerBefore = before;
        m_formerDeferredBefore = deferredBefore;
        m_formerBadSets = m_badSets;
        m_formerFiles.clear();
        m_formerFolders.reset(new CExfatFormerDirectories);
        CFreeClusterSweep::Heap heap;
        heap.offset = m_geometry.clusterOffset(2);
        heap.clusterBytes = m_geometry.clusterBytes();
        heap.count = m_geometry.clusterCount;
        m_formerObserver.reset(new CFreeClusterObserver(
            m_volume, heap,
            [this](uint32_t cluster) { return m_directoryClusters.count(cluster) == 0 && !clusterInUse(cluster); },
            [this](uint32_t cluster, const uint8_t* bytes, size_t length) {
                visitFormerCluster(cluster, bytes, length);
            }));
        return;
    }
    if (searchFormer)
        searchFormerDirectories();
    postFormer(before, deferredBefore);
}

IWindowObserver* CExfatScanner::formerObserver() const
{
    return m_formerObserver.get();
}

void CExfatScanner::finishFormer()
{
    if (!m_formerObserver)
        return;
    m_formerBytes = m_formerObserver->bytesReadApart();
    m_formerObserver.reset();
    // Sets that fail their checks in free clusters are old data, not
    // damage of this volume.
    m_badSets = m_formerBadSets;
    m_finishing = true;
    postFormer(m_formerBefore, m_formerDeferredBefore);
    m_finishing = false;
}

void CExfatScanner::postFormer(int before, size_t deferredBefore)
{
    if (m_formerFolders) {
        for (const FormerFile& f : m_formerFiles) {
            if (stopRequested())
                break;
            Directory dir;
            dir.deleted = true;
            dir.path = m_formerFolders->folderOf(f.cluster);
            EntrySet set;
            set.file = f.set.data();
            set.stream = f.set.data() + kEntrySize;
            set.name = f.name;
            set.deleted = true;
            postRecord(dir, set, false);
        }
    }
    m_formerFiles.clear();
    m_formerFolders.reset();
    // A walk cut short has not met every live file: what it did not reach
    // is not known to be lost.
    if (stopRequested())
        m_reached.reset();
    int walkedLater = 0; // the live walk's own, posted with the others
    if (!stopRequested())
        for (size_t i = 0; i < m_byContent.size(); ++i)
            if (!m_claimedStarts.contains(m_byContent[i].startSector)) {
                post(m_byContent[i]);
                walkedLater += i < deferredBefore ? 1 : 0;
            }
    m_formerFindings = m_deletedFindings - before - walkedLater;
    m_queue.clear();
    m_directoryClusters.clear();
    m_byContent.clear();
    m_claimedStarts.clear();
}

void CExfatScanner::searchFormerDirectories()
{
    // Without the bitmap nothing tells an old folder from a live file.
    if (!m_bitmap->found() || stopRequested())
        return;
    CFreeClusterSweep::Heap heap;
    heap.offset = m_geometry.clusterOffset(2);
    heap.clusterBytes = m_geometry.clusterBytes();
    heap.count = m_geometry.clusterCount;
    m_formerFiles.clear();
    m_formerFolders.reset(new CExfatFormerDirectories);
    // Sets that fail their checks in free clusters are old data, not
    // damage of this volume.
    const int badSets = m_badSets;
    m_formerBytes = CFreeClusterSweep::sweep(
        m_volume, heap,
        [this](uint32_t cluster) { return m_directoryClusters.count(cluster) == 0 && !clusterInUse(cluster); },
        [this] { return stopRequested(); },
        [this](uint32_t cluster, const uint8_t* bytes, size_t length) { visitFormerCluster(cluster, bytes, length); });
    m_badSets = badSets;
}

void CExfatScanner::visitFormerCluster(uint32_t cluster, const uint8_t* bytes, size_t length)
{
    const uint64_t clusterBytes = m_geometry.clusterBytes();
    const size_t clusterEntries = static_cast<size_t>(clusterBytes / kEntrySize);
    if (!mayHoldEntries(bytes, std::min<size_t>(length, clusterBytes)))
        return;
    const size_t count = length / kEntrySize;
    for (size_t index = 0; index < clusterEntries && index < count;) {
        if ((bytes[index * kEntrySize] & kTypeMask) != kTypeFile) {
            ++index;
            continue;
        }
        EntrySet set;
        index += readEntrySet(bytes, length, index, true, set);
        if (!set.file)
            continue;
        if (le::u16(set.file + kAttributesField) & kAttrDirectory) {
            const uint64_t dataLength = le::u64(set.stream + kDataLengthField);
            const bool contiguous = (set.stream[kStreamFlagsField] & kNoFatChain) != 0;
            m_formerFolders->addFolder(cluster, set.name, le::u32(set.stream + kFirstClusterField),
                                       contiguous ? (dataLength + clusterBytes - 1) / clusterBytes : 1);
        } else if (m_formerFiles.size() < size_t(kMaxHeldRecords)) {
            const size_t entries = size_t(set.file[kSecondaryCountField]) + 1;
            m_formerFiles.push_back({cluster, std::vector<uint8_t>(set.file, set.file + entries * kEntrySize), set.name});
        }
    }
}

bool CExfatScanner::fatEntry(uint32_t cluster, uint32_t& value)
{
    const uint64_t byte = uint64_t(cluster) * 4;
    const uint64_t sectorIndex = byte >> m_geometry.sectorShift;
    if (sectorIndex >= m_geometry.fatLength)
        return false;
    const int64_t offset = static_cast<int64_t>((uint64_t(m_geometry.fatOffset) + sectorIndex) << m_geometry.sectorShift);
    if (offset != m_fatSectorOffset) {
        const IVolume::ReadResult r = m_volume->read(offset, m_fatSector.data(), m_fatSector.size());
        if (r.bytes < static_cast<int64_t>(m_fatSector.size())) {
            m_fatSectorOffset = -1;
            return false;
        }
        m_fatSectorOffset = offset;
    }
    value = le::u32(m_fatSector.data() + (byte & (m_geometry.sectorBytes() - 1)));
    return true;
}

bool CExfatScanner::directoryClusters(const Directory& dir, std::vector<uint32_t>& clusters)
{
    const uint64_t clusterBytes = m_geometry.clusterBytes();
    const uint64_t maxClusters = std::max<uint64_t>(1, kMaxDirectoryBytes / clusterBytes);
    uint64_t wanted = dir.dataLength > 0 ? (dir.dataLength + clusterBytes - 1) / clusterBytes : maxClusters;
    if (wanted > maxClusters) {
        ++m_directoriesCut;
        wanted = maxClusters;
    }
    if (dir.deleted) {
        // Its FAT entries may be gone: the data walk of a deleted file
        // finds where it lay, and a cluster in use now is another file's.
        std::vector<std::pair<uint32_t, uint32_t>> runs;
        double overwritten = 0;
        bool incomplete = false;
        const uint64_t bytes = wanted * clusterBytes;
        if (!deletedClusters(dir.firstCluster, bytes, bytes, dir.noFatChain, runs, overwritten, incomplete))
            return false;
        for (const auto& run : runs)
            for (uint32_t i = 0; i < run.second; ++i) {
                if (clusterInUse(run.first + i))
                    return true;
                clusters.push_back(run.first + i);
            }
        return true;
    }
    if (dir.noFatChain) {
        for (uint64_t i = 0; i < wanted; ++i) {
            const uint64_t c = uint64_t(dir.firstCluster) + i;
            if (!m_geometry.validCluster(c)) {
                ++m_chainLoops;
                return false;
            }
            clusters.push_back(static_cast<uint32_t>(c));
        }
        return true;
    }
    std::unordered_set<uint32_t> seen;
    uint32_t cluster = dir.firstCluster;
    while (clusters.size() < wanted) {
        if (!m_geometry.validCluster(cluster) || !seen.insert(cluster).second) {
            ++m_chainLoops;
            return false;
        }
        clusters.push_back(cluster);
        uint32_t next = 0;
        if (!fatEntry(cluster, next))
            return false;
        if (next == kFatEnd)
            break;
        cluster = next;
    }
    return true;
}

void CExfatScanner::walk()
{
    while (!m_queue.empty()) {
        if (stopRequested())
            return;
        Directory dir = std::move(m_queue.front());
        m_queue.pop_front();
        readDirectory(dir);
    }
}

void CExfatScanner::readDirectory(const Directory& dir)
{
    std::vector<uint32_t> clusters;
    directoryClusters(dir, clusters);
    // A cluster read as a directory before (a loop through a sub-directory,
    // two entries sharing a chain) ends this directory there.
    size_t usable = 0;
    for (; usable < clusters.size(); ++usable) {
        if (!m_directoryClusters.insert(clusters[usable]).second) {
            ++m_directoriesTwice;
            break;
        }
    }
    clusters.resize(usable);
    if (clusters.empty())
        return;

    const uint64_t clusterBytes = m_geometry.clusterBytes();
    std::vector<uint8_t> bytes(clusters.size() * clusterBytes, 0);
    // Neighbouring clusters are read in one go.
    for (size_t i = 0; i < clusters.size();) {
        size_t j = i + 1;
        while (j < clusters.size() && clusters[j] == clusters[j - 1] + 1)
            ++j;
        const int64_t offset = m_geometry.clusterOffset(clusters[i]);
        if (offset < m_volumeLength)
            m_volume->read(offset, bytes.data() + i * clusterBytes, (j - i) * clusterBytes);
        i = j;
        if (stopRequested())
            return;
    }

    if (dir.path.isEmpty() && !dir.deleted) {
        m_bitmap->locate(bytes, [this](uint32_t cluster, uint32_t& value) { return fatEntry(cluster, value); });
        for (uint32_t c : clusters) {
            if (m_reached)
                m_reached->insert(c);
        }
        // The bitmap and the up-case table: the root's critical entries.
        for (size_t at = 0; at + kEntrySize <= bytes.size() && bytes[at] != kTypeEnd; at += kEntrySize) {
            const uint8_t* e = bytes.data() + at;
            if (e[0] == kTypeBitmap || e[0] == kTypeUpcase)
                markReached(le::u32(e + kFirstClusterField), le::u64(e + kDataLengthField), false);
        }
    }

    const size_t count = bytes.size() / kEntrySize;
    for (size_t index = 0; index < count;) {
        if ((index & 1023) == 0 && stopRequested())
            return;
        const uint8_t type = bytes[index * kEntrySize];
        if (type == kTypeEnd)
            break;
        if ((type & kTypeMask) != kTypeFile) {
            ++index;
            continue;
        }
        EntrySet set;
        index += readEntrySet(bytes.data(), bytes.size(), index, dir.deleted, set);
        if (!set.file)
            continue;
        if (set.deleted)
            handleDeleted(dir, set);
        else
            handleLive(dir, set);
    }
}

size_t CExfatScanner::readEntrySet(const uint8_t* bytes, size_t length, size_t index, bool inDeletedDirectory,
                                   EntrySet& set)
{
    const size_t count = length / kEntrySize;
    const uint8_t* file = bytes + index * kEntrySize;
    const uint8_t inUse = file[0] & kInUse;
    // Damage is counted for sets in use; deleted sets are often partly
    // taken by newer ones, which is no damage.
    auto bad = [&]() -> size_t {
        if (inUse)
            ++m_badSets;
        return 1;
    };
    const int secondaries = file[kSecondaryCountField];
    if (secondaries < kMinSecondaries || secondaries > kMaxSecondaries)
        return bad();
    if (index + static_cast<size_t>(secondaries) >= count)
        return bad();
    const uint8_t* stream = file + kEntrySize;
    if ((stream[0] & kInUse) != inUse || (stream[0] & kTypeMask) != kTypeStream)
        return bad();
    const int nameLength = stream[kNameLengthField];
    const int nameEntries = (nameLength + kUnitsPerNameEntry - 1) / kUnitsPerNameEntry;
    if (nameLength == 0 || nameEntries > secondaries - 1)
        return bad();
    for (int k = 2; k <= secondaries; ++k) {
        const uint8_t t = file[k * kEntrySize];
        if ((t & kInUse) != inUse || !(t & kSecondaryCategory))
            return bad();
        if (k <= nameEntries + 1 && (t & kTypeMask) != kTypeName)
            return bad();
    }
    // The checksum was taken with the in-use bits set.
    uint8_t copy[(kMaxSecondaries + 1) * kEntrySize];
    const size_t setEntries = static_cast<size_t>(secondaries) + 1;
    std::memcpy(copy, file, setEntries * kEntrySize);
    for (size_t k = 0; k < setEntries; ++k)
        copy[k * kEntrySize] |= kInUse;
    if (entrySetChecksum(copy, setEntries) != le::u16(file + kSetChecksumField))
        return bad();

    std::vector<char16_t> units;
    units.reserve(static_cast<size_t>(nameLength));
    for (int k = 0; k < nameEntries; ++k) {
        const uint8_t* entry = file + (k + 2) * kEntrySize + kNameField;
        for (int u = 0; u < kUnitsPerNameEntry && static_cast<int>(units.size()) < nameLength; ++u)
            units.push_back(static_cast<char16_t>(le::u16(entry + u * 2)));
    }
    set.file = file;
    set.stream = stream;
    // The format allows neither NUL nor "/" in a name: a damaged or hostile
    // set's name is made safe all the same.
    set.name = CFileNameText::fromUnits(units.data(), units.size());
    set.deleted = !inUse || inDeletedDirectory;
    return setEntries;
}

void CExfatScanner::queueDirectory(const Directory& parent, const EntrySet& set, bool deleted)
{
    Directory dir;
    dir.firstCluster = le::u32(set.stream + kFirstClusterField);
    dir.dataLength = le::u64(set.stream + kDataLengthField);
    dir.noFatChain = (set.stream[kStreamFlagsField] & kNoFatChain) != 0;
    dir.deleted = deleted;
    dir.path = parent.path + QLatin1Char('/') + set.name;
    if (!m_geometry.validCluster(dir.firstCluster) || dir.dataLength == 0)
        return;
    m_queue.push_back(std::move(dir));
}

void CExfatScanner::markReached(uint32_t first, uint64_t bytes, bool noFatChain)
{
    if (!m_reached || bytes == 0)
        return;
    const uint64_t clusterBytes = m_geometry.clusterBytes();
    const uint64_t clusters = std::min<uint64_t>(bytes / clusterBytes + (bytes % clusterBytes != 0 ? 1 : 0),
                                                 m_geometry.clusterCount);
    uint32_t cluster = first;
    // A cluster reached twice (a loop, a chain cross-linked with another)
    // ends the walk: at most one step per cluster of the volume in all.
    for (uint64_t i = 0; i < clusters; ++i) {
        if (!m_geometry.validCluster(cluster) || !m_reached->insert(cluster))
            return;
        if (i + 1 == clusters)
            return;
        if (noFatChain) {
            ++cluster;
            continue;
        }
        uint32_t next = 0;
        if (!fatEntry(cluster, next))
            return;
        cluster = next;
    }
}

void CExfatScanner::handleLive(const Directory& dir, const EntrySet& set)
{
    markReached(le::u32(set.stream + kFirstClusterField), le::u64(set.stream + kDataLengthField),
                (set.stream[kStreamFlagsField] & kNoFatChain) != 0);
    if (le::u16(set.file + kAttributesField) & kAttrDirectory) {
        queueDirectory(dir, set, false);
        return;
    }
    const uint32_t first = le::u32(set.stream + kFirstClusterField);
    if (!m_geometry.validCluster(first) || le::u64(set.stream + kDataLengthField) == 0)
        return; // an empty file, or a cluster that is not on the volume
    if (m_liveFilesLost) {
        postRecord(dir, set, true);
        return;
    }
    const QByteArray name = set.name.toUtf8();
    const int typeCode = CFileTypeCatalogue::typeCodeByExtension(name, false);
    if (typeCode == CFileTypeCatalogue::NotWanted && !CFileTypeCatalogue::isContainerExtension(name, false))
        return;
    ++m_findings;
    if (m_notifier)
        m_notifier->postItem(static_cast<long long>(m_geometry.clusterOffset(first) / kReportSectorSize), typeCode);
}

bool CExfatScanner::clusterInUse(uint32_t cluster)
{
    return m_bitmap->inUse(cluster);
}

bool CExfatScanner::chainSurvives(uint32_t first, uint64_t clusters, std::vector<std::pair<uint32_t, uint32_t>>& runs)
{
    std::vector<std::pair<uint32_t, uint32_t>> found;
    std::unordered_set<uint32_t> seen;
    uint32_t cluster = first;
    for (uint64_t i = 0; i < clusters; ++i) {
        if (m_walkBudget == 0 || !m_geometry.validCluster(cluster) || !seen.insert(cluster).second)
            return false;
        --m_walkBudget;
        if (!found.empty() && found.back().first + found.back().second == cluster)
            ++found.back().second;
        else
            found.push_back({cluster, 1});
        uint32_t next = 0;
        if (!fatEntry(cluster, next))
            return false;
        if (i + 1 == clusters) {
            if (next != kFatEnd)
                return false;
        } else {
            cluster = next;
        }
    }
    runs = std::move(found);
    return true;
}

bool CExfatScanner::deletedClusters(uint32_t first, uint64_t size, uint64_t validBytes, bool noFatChain,
                                    std::vector<std::pair<uint32_t, uint32_t>>& runs, double& overwritten,
                                    bool& incomplete)
{
    const uint64_t clusterBytes = m_geometry.clusterBytes();
    const uint64_t wanted = (size + clusterBytes - 1) / clusterBytes;
    const uint64_t holdingData = (std::min(validBytes, size) + clusterBytes - 1) / clusterBytes;
    if (wanted == 0 || !m_geometry.validCluster(first))
        return false;
    const uint64_t end = uint64_t(m_geometry.clusterCount) + 2;
    overwritten = 0;
    incomplete = false;
    runs.clear();

    bool counted = false;
    if (noFatChain || !chainSurvives(first, wanted, runs)) {
        runs.clear();
        if (noFatChain || clusterInUse(first)) {
            // One piece from the first cluster: what the entry said, or,
            // with the first cluster taken by another file, what is left.
            const uint64_t take = std::min(wanted, end - first);
            runs.push_back({first, static_cast<uint32_t>(take)});
            incomplete = take < wanted;
        } else {
            // Written into the free clusters from the first on: skip those
            // in use now, as they were then.
            uint64_t taken = 0;
            uint64_t cluster = first;
            while (taken < wanted && cluster < end && m_walkBudget > 0) {
                --m_walkBudget;
                if (!clusterInUse(static_cast<uint32_t>(cluster))) {
                    if (!runs.empty() && runs.back().first + runs.back().second == cluster)
                        ++runs.back().second;
                    else
                        runs.push_back({static_cast<uint32_t>(cluster), 1});
                    ++taken;
                }
                ++cluster;
            }
            incomplete = taken < wanted;
            counted = true; // every cluster taken is free
        }
    }
    if (!counted) {
        uint64_t total = 0;
        uint64_t used = 0;
        for (const auto& run : runs)
            for (uint32_t i = 0; i < run.second && total < holdingData; ++i) {
                ++total;
                if (m_walkBudget == 0) {
                    ++used; // past the budget nothing is taken as whole
                    continue;
                }
                --m_walkBudget;
                if (clusterInUse(run.first + i))
                    ++used;
            }
        overwritten = total > 0 ? double(used) / double(total) : 0.0;
    }
    return !runs.empty();
}

int CExfatScanner::typeOfContent(int64_t offset, int64_t length)
{
    // One sector tells the family; the kind needs more of the start.
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<int64_t>(length, int64_t(kSignatureSector))));
    IVolume::ReadResult r = m_volume->read(offset, bytes.data(), bytes.size());
    if (r.bytes < static_cast<int64_t>(bytes.size())
        || CDocumentSignature::typeCodeOf(bytes.data(), bytes.size()) == CFileTypeCatalogue::NotWanted)
        return CFileTypeCatalogue::NotWanted;
    bytes.resize(static_cast<size_t>(std::min<int64_t>(length, int64_t(CDocumentSignature::kUsefulPrefix))));
    r = m_volume->read(offset, bytes.data(), bytes.size());
    return CDocumentSignature::typeCodeOf(bytes.data(), static_cast<size_t>(std::max<int64_t>(r.bytes, 0)));
}

void CExfatScanner::handleDeleted(const Directory& dir, const EntrySet& set)
{
    if (!m_reportDeleted)
        return;
    if (le::u16(set.file + kAttributesField) & kAttrDirectory) {
        queueDirectory(dir, set, true);
        return;
    }
    postRecord(dir, set, false);
}

void CExfatScanner::postRecord(const Directory& dir, const EntrySet& set, bool live)
{
    const uint32_t first = le::u32(set.stream + kFirstClusterField);
    const uint64_t dataLength = le::u64(set.stream + kDataLengthField);
    if (dataLength == 0 || dataLength > uint64_t(INT64_MAX) || !m_geometry.validCluster(first))
        return;
    const int64_t size = static_cast<int64_t>(dataLength);
    // Past ValidDataLength the file reads as zeros, whatever its clusters
    // hold (space allocated ahead, never written): those bytes are a hole,
    // as past an NTFS stream's initialized size, and whether another file
    // took those clusters since does not matter. Nothing valid, nothing to
    // recover.
    const int64_t valid = static_cast<int64_t>(std::min(le::u64(set.stream + kValidDataLengthField), dataLength));
    if (valid == 0)
        return;
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    double overwritten = 0;
    bool incomplete = false;
    const bool noFatChain = (set.stream[kStreamFlagsField] & kNoFatChain) != 0;
    if (!deletedClusters(first, dataLength, static_cast<uint64_t>(valid), noFatChain, runs, overwritten, incomplete))
        return;
    // A live file's clusters are in use by itself.
    if (live)
        overwritten = 0;
    const int64_t clusterBytes = static_cast<int64_t>(m_geometry.clusterBytes());
    QVector<CFileNode::Extent> extents;
    int64_t remaining = valid;
    for (const auto& run : runs) {
        if (remaining <= 0)
            break;
        CFileNode::Extent e;
        e.offset = m_geometry.clusterOffset(run.first);
        e.length = std::min<int64_t>(remaining, int64_t(run.second) * clusterBytes);
        remaining -= e.length;
        extents.append(e);
    }
    if (extents.isEmpty())
        return;
    if (remaining <= 0 && valid < size)
        extents.append({CFileNode::Extent::kSparse, size - valid});

    // The name's extension decides; other names by their first bytes,
    // unless those now belong to another file.
    int typeCode = CFileTypeCatalogue::typeCodeByExtension(set.name.toUtf8(), false);
    const bool byName = typeCode != CFileTypeCatalogue::NotWanted;
    if (!byName && overwritten == 0.0)
        typeCode = typeOfContent(extents.front().offset, extents.front().length);
    if (typeCode == CFileTypeCatalogue::NotWanted)
        return;

    const QString typeName = CFileTypeCatalogue::typeName(typeCode);
    CFileNode record(typeName, size, static_cast<quint64>(extents.front().offset / kReportSectorSize), QString(),
                     set.name, QString(), typeCode, kRecordKind, CFileTypeCatalogue::sizeText(size),
                     CFileTypeCatalogue::description(typeName));
    record.origin = CFileNode::OriginDeletedEntry;
    record.originalName = set.name;
    record.folder = dir.path.isEmpty() ? QStringLiteral("/") : dir.path;
    record.modified = exfatTime(le::u32(set.file + kModifiedField), set.file[kModified10msField],
                                set.file[kModifiedOffsetField]);
    record.extents = extents;
    record.overwritten = overwritten;
    record.incomplete = incomplete;
    if (byName) {
        if (m_claimedStarts.size() < kMaxHeldRecords)
            m_claimedStarts.insert(record.startSector);
        post(record);
    } else if (m_byContent.size() < size_t(kMaxHeldRecords)) {
        m_byContent.push_back(std::move(record));
    } else {
        post(record);
    }
}

void CExfatScanner::post(const CFileNode& node)
{
    ++m_deletedFindings;
    if (m_notifier)
        m_notifier->postItem(node);
}

std::unique_ptr<IAllocationMap> CExfatScanner::allocationMap(std::shared_ptr<IVolume> volume) const
{
    if (!m_bitmap->found() || m_geometry.clusterCount == 0)
        return nullptr;
    std::vector<CAllocationTableCache::Run> runs;
    for (const BitmapRun& r : m_bitmap->runs())
        runs.push_back({r.volumeOffset, r.length});
    CClusterAllocationMap::Layout layout;
    layout.dataStart = static_cast<int64_t>(uint64_t(m_geometry.heapOffset) << m_geometry.sectorShift);
    layout.clusterBytes = static_cast<int64_t>(m_geometry.clusterBytes());
    layout.firstCluster = 2;
    layout.lastCluster = uint64_t(m_geometry.clusterCount) + 1;
    return std::unique_ptr<IAllocationMap>(new CBitmapAllocationMap(std::move(volume), std::move(runs), layout, m_reached));
}
