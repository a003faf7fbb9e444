#include "filesystems/CNtfsScanner.h"

#include "disk/CDiskMappingPointer.h"
#include "disk/IVolume.h"
#include "disk/LittleEndian.h"
#include "filesystems/CMFTRecord.h"
#include "filesystems/CNtfsAllocationMap.h"
#include "filesystems/CNtfsFolderPaths.h"
#include "filesystems/CNtfsFormerTable.h"
#include "scan/CCompressedUnits.h"
#include "scan/CDocumentSignature.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

constexpr size_t kBootSectorSize = 512;
constexpr size_t kBytesPerSectorField = 0x0B;
constexpr size_t kSectorsPerClusterField = 0x0D;
constexpr size_t kMftClusterField = 0x30;
constexpr size_t kMftMirrorClusterField = 0x38;
constexpr size_t kClustersPerRecordField = 0x40;

constexpr uint32_t kMinSectorSize = 512;
constexpr uint32_t kMaxSectorSize = 4096;
// Sectors-per-cluster bytes above this are shift counts: 2^(256 - value).
constexpr uint8_t kLargestDirectSectorsPerCluster = 0x80;
constexpr uint32_t kMaxClusterSize = 2u * 1024 * 1024;
constexpr uint32_t kMinRecordSize = 512;
constexpr uint32_t kMaxRecordSize = 64u * 1024;

constexpr int64_t kReportSectorSize = 512;
const char kMftName[] = "$MFT";

// NTFS keeps an eighth of the volume after its table free for the table to
// grow into: where an old table's later pieces are.
constexpr int64_t kTableZoneShare = 8;
constexpr int64_t kBitmapRecord = 6;
constexpr uint64_t kRecordNumberMask = (uint64_t(1) << 48) - 1;
constexpr int kRecordKind = 2;
// Bytes read to tell a file's type from its content: one cluster decides
// the family, a little more tells DOCX from XLSX or DOC from XLS.
constexpr size_t kFamilyProbe = 4096;
constexpr uint32_t kBitmapBlockSize = 64 * 1024;
// Windows FILETIME (100 ns since 1601) of the Unix epoch.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;
constexpr uint64_t kFileTimeTicksPerMs = 10000;

uint64_t recordNumberOf(uint64_t reference)
{
    return reference & kRecordNumberMask;
}

QDateTime fromFileTime(uint64_t fileTime)
{
    if (fileTime == 0 || fileTime > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return QDateTime();
    const int64_t ms = (static_cast<int64_t>(fileTime) - static_cast<int64_t>(kFileTimeUnixEpoch))
        / static_cast<int64_t>(kFileTimeTicksPerMs);
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

// The file-order runs of a record's unnamed data stream, as byte ranges on
// the volume. Stops at the first sparse run, run outside the volume or gap.
template <typename Run>
std::vector<Run> streamRuns(const CMFTRecord& record, int64_t clusterBytes, int64_t volumeLength)
{
    std::vector<Run> out;
    int64_t fileOffset = 0;
    uint64_t expectedVcn = 0;
    const int64_t volumeClusters = volumeLength / clusterBytes;
    for (const CMFTRecord::DataPiece& piece : record.dataPieces()) {
        if (piece.firstVcn != expectedVcn)
            break;
        for (const CMFTRecord::DataRun& run : piece.runs) {
            if (run.lcn == CMFTRecord::kSparseRun || run.lcn >= volumeClusters)
                return out;
            const int64_t clusters = std::min<int64_t>(static_cast<int64_t>(run.clusters), volumeClusters - run.lcn);
            Run r;
            r.tableOffset = fileOffset;
            r.volumeOffset = run.lcn * clusterBytes;
            r.bytes = clusters * clusterBytes;
            out.push_back(r);
            fileOffset += r.bytes;
            if (clusters != static_cast<int64_t>(run.clusters))
                return out;
        }
        expectedVcn = piece.lastVcn + 1;
        if (!piece.whole)
            break;
    }
    return out;
}

bool isPowerOfTwo(uint64_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

} // namespace

CNtfsScanner::CNtfsScanner(IVolume* volume, CNotifyFileNode* notifier, const std::atomic<bool>* running)
    : m_volume(volume)
    , m_notifier(notifier)
    , m_running(running)
    , m_windowSize(CDiskMappingPointer::kDefaultWindowSize)
    , m_paths([this](int64_t number, CMFTRecord& record) {
        // Names only: the data attributes are stepped over.
        record.setReadUnused(true);
        record.setRecordGeometry(m_geometry.recordSize, m_geometry.bytesPerCluster);
        return readRecord(number, m_recordBuffer)
            && record.parseRecord(m_recordBuffer.data(), m_geometry.recordSize, true) == CMFTRecord::kStatusOk;
    })
{
}

CNtfsScanner::~CNtfsScanner() = default;

bool CNtfsScanner::decodeBootSector(const uint8_t* sector, size_t length, Geometry& geometry)
{
    if (!sector || length < kBootSectorSize)
        return false;

    const uint32_t bytesPerSector = le::u16(sector + kBytesPerSectorField);
    if (!isPowerOfTwo(bytesPerSector) || bytesPerSector < kMinSectorSize || bytesPerSector > kMaxSectorSize)
        return false;

    const uint8_t rawSectorsPerCluster = sector[kSectorsPerClusterField];
    uint64_t sectorsPerCluster = rawSectorsPerCluster;
    if (rawSectorsPerCluster > kLargestDirectSectorsPerCluster) {
        const unsigned shift = 256u - rawSectorsPerCluster;
        if (shift > 31)
            return false;
        sectorsPerCluster = uint64_t(1) << shift;
    }
    if (!isPowerOfTwo(sectorsPerCluster))
        return false;
    const uint64_t clusterBytes = sectorsPerCluster * bytesPerSector;
    if (clusterBytes > kMaxClusterSize)
        return false;

    // Positive: clusters per record; negative: the record is 2^-n bytes.
    const int8_t rawRecord = static_cast<int8_t>(sector[kClustersPerRecordField]);
    uint64_t recordSize = 0;
    if (rawRecord > 0)
        recordSize = static_cast<uint64_t>(rawRecord) * clusterBytes;
    else if (rawRecord < 0 && -rawRecord < 32)
        recordSize = uint64_t(1) << (-rawRecord);
    if (!isPowerOfTwo(recordSize) || recordSize < kMinRecordSize || recordSize > kMaxRecordSize)
        return false;

    const uint64_t mftCluster = le::u64(sector + kMftClusterField);
    if (mftCluster == 0 || mftCluster > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) / clusterBytes)
        return false;

    geometry.bytesPerSector = bytesPerSector;
    geometry.bytesPerCluster = static_cast<uint32_t>(clusterBytes);
    geometry.recordSize = static_cast<uint32_t>(recordSize);
    geometry.mftCluster = mftCluster;
    return true;
}

bool CNtfsScanner::stopRequested() const
{
    return m_stop.load() || (m_running && !m_running->load());
}

void CNtfsScanner::scan()
{
    m_findings = 0;
    m_deletedFindings = 0;
    m_formerFindings = 0;
    m_formerRecords = 0;
    // Nothing of an earlier scan is trusted for the allocation map.
    m_tableRuns.clear();
    m_bitmapState = 0;
    m_bitmapRuns.clear();
    m_bitmapBytes = 0;
    m_failure.clear();
    if (!m_volume || stopRequested())
        return;
    m_volumeLength = m_volume->length();

    uint8_t boot[kBootSectorSize];
    const IVolume::ReadResult bootRead = m_volume->read(0, boot, sizeof boot);
    if (bootRead.bytes < static_cast<int64_t>(sizeof boot)) {
        m_failure = QStringLiteral("the NTFS boot sector cannot be read.");
        return;
    }
    // Nothing we can trust about this volume: the raw pass still runs, and
    // the worker says why live files' documents are listed too.
    if (!decodeBootSector(boot, sizeof boot, m_geometry)) {
        m_failure = QStringLiteral("the first sector is no NTFS boot sector that can be decoded.");
        return;
    }

    // Record 0 is the table's own record: its data runs say where the rest
    // of the table lies. $MFTMirr keeps a copy of the first records for
    // when the table's own start is damaged.
    CMFTRecord mft;
    mft.setReadUnused(true);
    QString why;
    if (!readTableRecord(m_geometry.mftCluster, mft, &why)) {
        const uint64_t mirror = le::u64(boot + kMftMirrorClusterField);
        QString mirrorWhy = QStringLiteral("is not given");
        if (mirror == 0 || !readTableRecord(mirror, mft, &mirrorWhy)) {
            m_failure = QStringLiteral("$MFT record 0 %1, and its copy in $MFTMirr %2.").arg(why, mirrorWhy);
            return;
        }
    }
    m_tableRuns = streamRuns<TableRun>(mft, m_geometry.bytesPerCluster, m_volumeLength);
    m_paths.clear();
    m_deferred.clear();
    m_claimedStarts.clear();
    m_bitmapState = 0;
    m_bitmapBlockStart = -1;

    // The walk goes in volume order. A damaged record 0 may hold hundreds
    // of runs that each claim the rest of the volume: every byte of the
    // volume is walked at most once, so the pass never reads more than the
    // volume holds.
    std::vector<TableRun> byPlace = m_tableRuns;
    std::stable_sort(byPlace.begin(), byPlace.end(),
                     [](const TableRun& a, const TableRun& b) { return a.volumeOffset < b.volumeOffset; });
    const int64_t recordSize = m_geometry.recordSize;
    int64_t walkedEnd = 0;
    for (const TableRun& run : byPlace) {
        if (stopRequested())
            return;
        int64_t offset = run.volumeOffset;
        const int64_t end = offset + run.bytes;
        if (end <= walkedEnd)
            continue;
        // Overlapping an earlier run: go on from its first record not yet
        // walked, on this run's own record boundaries.
        if (offset < walkedEnd)
            offset += (walkedEnd - offset + recordSize - 1) / recordSize * recordSize;
        walkedEnd = end;
        if (offset >= end)
            continue;
        // Records are numbered by their place in the table.
        const int64_t firstNumber = (run.tableOffset + (offset - run.volumeOffset)) / recordSize;
        if (!walkRun(offset, end - offset, firstNumber))
            return;
    }
    postDeferred();
    if (m_reportDeleted && m_searchFormer && !m_liveFilesLost)
        searchFormerTable();
}

void CNtfsScanner::searchFormerTable()
{
    // Without the allocation map nothing tells an old record from a live
    // file's clusters.
    if (stopRequested() || !loadBitmap())
        return;
    const int64_t clusterBytes = m_geometry.bytesPerCluster;
    const int64_t recordSize = m_geometry.recordSize;
    if (m_geometry.mftCluster > static_cast<uint64_t>(m_volumeLength / clusterBytes))
        return;
    const int64_t zoneStart = static_cast<int64_t>(m_geometry.mftCluster) * clusterBytes;
    const int64_t zoneEnd = zoneStart + m_volumeLength / kTableZoneShare;
    CNtfsFormerTable former(m_volume, m_geometry.recordSize, m_geometry.bytesPerCluster,
                            [this](int64_t cluster) { return clustersInUse(cluster, 1) == 0; });
    former.search(zoneStart, zoneEnd, [this] { return stopRequested(); });
    former.sweepRest([this] { return stopRequested(); });
    m_formerRecords = static_cast<int>(former.places().size());
    if (former.places().empty())
        return;

    // Folders are looked up among the old records only: the live table's
    // numbers name other files.
    const int before = m_deletedFindings;
    m_former = &former;
    m_paths.clear();
    std::vector<uint8_t> bytes(static_cast<size_t>(recordSize));
    for (const CNtfsFormerTable::Place& place : former.places()) {
        if (stopRequested())
            break;
        if (m_volume->read(place.volumeOffset, bytes.data(), bytes.size()).bytes != recordSize)
            continue;
        CMFTRecord record;
        record.setReadUnused(true);
        record.setRecordGeometry(m_geometry.recordSize, m_geometry.bytesPerCluster);
        if (record.parseRecord(bytes.data(), m_geometry.recordSize, false) != CMFTRecord::kStatusOk)
            continue;
        if (record.baseReference() != 0)
            continue; // read with its base record
        if (record.isDirectory() || record.hasIndex())
            m_paths.remember(place.number, record);
        else
            examineDeleted(record, place.number, place.volumeOffset);
    }
    postDeferred();
    m_former = nullptr;
    m_paths.clear();
    m_formerFindings = m_deletedFindings - before;
}

bool CNtfsScanner::readTableRecord(uint64_t cluster, CMFTRecord& mft, QString* why)
{
    if (cluster > static_cast<uint64_t>(m_volumeLength) / m_geometry.bytesPerCluster) {
        *why = QStringLiteral("lies past the end of the volume");
        return false;
    }
    const int64_t offset = static_cast<int64_t>(cluster) * m_geometry.bytesPerCluster;
    if (offset >= m_volumeLength || m_volumeLength - offset < m_geometry.recordSize) {
        *why = QStringLiteral("lies past the end of the volume");
        return false;
    }
    std::vector<uint8_t> record(m_geometry.recordSize);
    const IVolume::ReadResult read = m_volume->read(offset, record.data(), record.size());
    if (read.bytes < static_cast<int64_t>(record.size())) {
        *why = QStringLiteral("cannot be read");
        return false;
    }
    if (mft.setRecordGeometry(m_geometry.recordSize, m_geometry.bytesPerCluster) != CMFTRecord::kStatusOk
        || mft.parseRecord(record.data(), static_cast<uint32_t>(record.size()), false) != CMFTRecord::kStatusOk) {
        *why = QStringLiteral("is damaged");
        return false;
    }
    // Anything else at that place means the boot sector points elsewhere.
    if (mft.name() != QLatin1String(kMftName)) {
        *why = QStringLiteral("is not the record of $MFT");
        return false;
    }
    return true;
}

bool CNtfsScanner::walkRun(int64_t offset, int64_t bytes, int64_t firstNumber)
{
    const int64_t recordSize = m_geometry.recordSize;
    // A partial record at the end of a run is not a record.
    const int64_t records = bytes / recordSize;
    if (records <= 0)
        return true;

    // Windows hold whole records and no more than the run needs.
    int64_t window = std::max<int64_t>(m_windowSize, recordSize);
    window -= window % recordSize;
    window = std::min<int64_t>(window, records * recordSize);
    const int64_t perWindow = window / recordSize;

    CDiskMappingPointer reader(m_volume, offset, static_cast<uint32_t>(window));
    reader.beginSequential();
    bool finished = true;
    for (int64_t index = 0; index < records; ++index) {
        const int64_t inWindow = index % perWindow;
        if (index > 0 && inWindow == 0)
            reader.nextWindow();
        if (stopRequested()) {
            finished = false;
            break;
        }
        examineRecord(reader.pointer() + inWindow * recordSize, firstNumber + index, offset + index * recordSize);
    }
    reader.endSequential();
    return finished;
}

void CNtfsScanner::examineRecord(const uint8_t* bytes, int64_t number, int64_t volumeOffset)
{
    CMFTRecord record;
    record.setReadUnused(m_reportDeleted);
    record.setRecordGeometry(m_geometry.recordSize, m_geometry.bytesPerCluster);
    if (record.parseRecord(bytes, m_geometry.recordSize, false) != CMFTRecord::kStatusOk)
        return;
    if (m_reportDeleted) {
        // Folders met on the walk spare a read when their files' paths are
        // put together.
        if ((record.isDirectory() || record.hasIndex()) && record.baseReference() == 0)
            m_paths.remember(number, record);
        if (!record.inUse())
            examineDeleted(record, number, volumeOffset);
        else if (m_liveFilesLost && record.baseReference() == 0 && !record.isDirectory())
            examineDeleted(record, number, volumeOffset);
    }
    if (m_liveFilesLost)
        return;
    if (!record.isLiveFile() || record.firstCluster() <= 0)
        return;

    const QByteArray name = record.nameBytes();
    int typeCode = CFileTypeCatalogue::typeCodeByExtension(name, false);
    if (typeCode == CFileTypeCatalogue::NotWanted && !CFileTypeCatalogue::isContainerExtension(name, false))
        return;

    const int64_t cluster = record.firstCluster();
    if (cluster > (m_volumeLength - 1) / m_geometry.bytesPerCluster)
        return; // a start outside the volume is no place a document could be
    const int64_t startSector = cluster * m_geometry.bytesPerCluster / kReportSectorSize;
    ++m_findings;
    if (m_notifier)
        m_notifier->postItem(static_cast<long long>(startSector), typeCode);
}

bool CNtfsScanner::readRecord(int64_t number, std::vector<uint8_t>& out)
{
    const int64_t recordSize = m_geometry.recordSize;
    if (number < 0 || number > std::numeric_limits<int64_t>::max() / recordSize - 1)
        return false;
    out.assign(static_cast<size_t>(recordSize), 0);
    if (m_former) {
        const int64_t offset = m_former->offsetOf(number);
        return offset >= 0 && m_volume->read(offset, out.data(), out.size()).bytes == recordSize;
    }
    int64_t want = number * recordSize;
    size_t filled = 0;
    // A record may straddle two runs when clusters are smaller than records.
    for (const TableRun& run : m_tableRuns) {
        if (filled == out.size())
            break;
        if (want < run.tableOffset || want >= run.tableOffset + run.bytes)
            continue;
        const int64_t inRun = want - run.tableOffset;
        const int64_t take = std::min<int64_t>(run.bytes - inRun, static_cast<int64_t>(out.size() - filled));
        const IVolume::ReadResult r = m_volume->read(run.volumeOffset + inRun, out.data() + filled, static_cast<size_t>(take));
        if (r.bytes != take)
            return false;
        filled += static_cast<size_t>(take);
        want += take;
    }
    return filled == out.size();
}

void CNtfsScanner::examineDeleted(const CMFTRecord& record, int64_t number, int64_t volumeOffset)
{
    // Extension records belong to their base record; folders and records
    // that never held a file name are not documents.
    if (record.isDirectory() || record.hasIndex() || record.baseReference() != 0 || record.name().isEmpty())
        return;
    const int64_t clusterBytes = m_geometry.bytesPerCluster;

    CFileNode node;
    bool incomplete = false;

    // The pieces of the run list: those in this record, and those that an
    // attribute list places in extension records that still say they
    // belong to this one.
    std::vector<CMFTRecord::DataPiece> pieces = record.dataPieces();
    bool haveSizes = record.hasStreamSizes();
    uint64_t realSize = record.streamRealSize();
    uint64_t initializedSize = record.streamInitializedSize();
    uint64_t unitBytes = record.compressionUnitBytes();
    if (record.hasAttributeList()) {
        if (record.attributeListNonResident())
            incomplete = true; // a list that long is not followed
        QSet<int64_t> visited;
        for (const CMFTRecord::ListEntry& entry : record.attributeList()) {
            const int64_t other = static_cast<int64_t>(recordNumberOf(entry.reference));
            if (other == number || visited.contains(other))
                continue;
            visited.insert(other);
            CMFTRecord extension;
            extension.setReadUnused(true);
            extension.setRecordGeometry(m_geometry.recordSize, m_geometry.bytesPerCluster);
            const bool ours = readRecord(other, m_recordBuffer)
                && extension.parseRecord(m_recordBuffer.data(), m_geometry.recordSize, false) == CMFTRecord::kStatusOk
                && extension.inUse() == ((m_liveFilesLost || m_former) && record.inUse())
                && extension.baseReference() != 0
                && static_cast<int64_t>(recordNumberOf(extension.baseReference())) == number;
            if (!ours) {
                incomplete = true;
                continue;
            }
            for (const CMFTRecord::DataPiece& piece : extension.dataPieces())
                pieces.push_back(piece);
            if (!haveSizes && extension.hasStreamSizes()) {
                haveSizes = true;
                realSize = extension.streamRealSize();
                initializedSize = extension.streamInitializedSize();
                unitBytes = extension.compressionUnitBytes();
            }
        }
    }

    const bool resident = record.hasResidentData() && pieces.empty();
    if (resident) {
        node.residentData = record.residentData();
        node.hasResidentData = true;
        node.size = node.residentData.size();
        node.startSector = static_cast<quint64>(volumeOffset / kReportSectorSize);
    } else {
        if (pieces.empty())
            return; // nothing says where the bytes were
        if (!haveSizes) {
            incomplete = true;
            realSize = std::numeric_limits<int64_t>::max();
            initializedSize = realSize;
        }
        initializedSize = std::min(initializedSize, realSize);
        // A compressed stream is kept as its stored units, whole: the
        // initialized size and the file's length apply to the decompressed
        // bytes, not to where they are stored.
        if (unitBytes != 0 && !CCompressedUnits::validUnitBytes(static_cast<int64_t>(unitBytes))) {
            incomplete = true;
            unitBytes = 0;
        }
        uint64_t limit = realSize;
        if (unitBytes != 0) {
            if (realSize > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) - unitBytes)
                return;
            limit = (realSize + unitBytes - 1) / unitBytes * unitBytes;
            node.compressionUnit = static_cast<qint64>(unitBytes);
        }
        std::stable_sort(pieces.begin(), pieces.end(), [](const CMFTRecord::DataPiece& a, const CMFTRecord::DataPiece& b) {
            return a.firstVcn < b.firstVcn;
        });

        // File order, up to the stated size; bytes past the initialized size
        // read as zeros whatever the clusters hold.
        const int64_t volumeClusters = m_volumeLength / clusterBytes;
        const uint64_t maxClusters = static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / clusterBytes);
        uint64_t expectedVcn = 0;
        uint64_t position = 0;
        bool stopped = false;
        auto add = [&](int64_t offset, int64_t length) {
            if (!node.extents.isEmpty()) {
                CFileNode::Extent& last = node.extents.last();
                const bool joins = offset == CFileNode::Extent::kSparse ? last.offset == CFileNode::Extent::kSparse
                                                                        : last.offset != CFileNode::Extent::kSparse
                                                                              && last.offset + last.length == offset;
                if (joins) {
                    last.length += length;
                    return;
                }
            }
            node.extents.append({offset, length});
        };
        for (const CMFTRecord::DataPiece& piece : pieces) {
            if (stopped || position >= limit)
                break;
            if (piece.firstVcn != expectedVcn) {
                incomplete = true; // a piece lost, or two claiming the same place
                break;
            }
            for (const CMFTRecord::DataRun& run : piece.runs) {
                if (position >= limit)
                    break;
                if (run.clusters > maxClusters
                    || (run.lcn != CMFTRecord::kSparseRun
                        && (run.lcn >= volumeClusters || static_cast<int64_t>(run.clusters) > volumeClusters - run.lcn))) {
                    incomplete = true; // outside the volume: never read there
                    stopped = true;
                    break;
                }
                const int64_t runBytes = static_cast<int64_t>(run.clusters) * clusterBytes;
                int64_t done = 0;
                while (done < runBytes && position < limit) {
                    int64_t take = std::min<int64_t>(runBytes - done, static_cast<int64_t>(limit - position));
                    const bool zeros = run.lcn == CMFTRecord::kSparseRun || (unitBytes == 0 && position >= initializedSize);
                    if (!zeros && unitBytes == 0)
                        take = std::min<int64_t>(take, static_cast<int64_t>(initializedSize - position));
                    add(zeros ? CFileNode::Extent::kSparse : run.lcn * clusterBytes + done, take);
                    done += take;
                    position += static_cast<uint64_t>(take);
                }
            }
            if (!piece.whole) {
                incomplete = true;
                break;
            }
            expectedVcn = piece.lastVcn + 1;
        }
        if (position < limit)
            incomplete = true;
        node.size = static_cast<qint64>(std::min(position, realSize));
        if (node.size == 0)
            return;

        // Runs over one another: the file cannot have been stored so.
        std::vector<std::pair<int64_t, int64_t>> placed;
        for (const CFileNode::Extent& e : node.extents)
            if (e.offset != CFileNode::Extent::kSparse)
                placed.emplace_back(e.offset, e.length);
        std::sort(placed.begin(), placed.end());
        for (size_t i = 1; i < placed.size(); ++i)
            if (placed[i].first < placed[i - 1].first + placed[i - 1].second)
                incomplete = true;

        // The share now in use for something else, by clusters.
        int64_t total = 0;
        int64_t used = 0;
        for (const auto& p : placed) {
            const int64_t first = p.first / clusterBytes;
            const int64_t count = (p.first + p.second + clusterBytes - 1) / clusterBytes - first;
            total += count;
            used += clustersInUse(first, count);
        }
        // A live file's clusters are in use by itself; an old table's files,
        // live or not before the format, own nothing on the volume now.
        node.overwritten = total > 0 && (!record.inUse() || m_former) ? double(used) / double(total) : 0.0;
        const auto firstPlaced = std::find_if(node.extents.begin(), node.extents.end(), [](const CFileNode::Extent& e) {
            return e.offset != CFileNode::Extent::kSparse;
        });
        node.startSector = firstPlaced == node.extents.end()
            ? static_cast<quint64>(volumeOffset / kReportSectorSize)
            : static_cast<quint64>(firstPlaced->offset / kReportSectorSize);
    }
    node.incomplete = incomplete;

    const QString name = record.name();
    int typeCode = CFileTypeCatalogue::typeCodeByExtension(name.toUtf8(), false);
    const bool byName = typeCode != CFileTypeCatalogue::NotWanted;
    if (!byName)
        typeCode = typeOfContent(node);
    if (typeCode == CFileTypeCatalogue::NotWanted)
        return;

    node.origin = CFileNode::OriginDeletedEntry;
    node.originalName = name;
    node.name = name;
    node.folder = m_paths.folderOf(record.parentReference());
    node.modified = fromFileTime(record.modificationTime());
    node.typeCode = typeCode;
    node.kind = kRecordKind;
    node.typeName = CFileTypeCatalogue::typeName(typeCode);
    node.typeDescription = CFileTypeCatalogue::description(node.typeName);
    node.sizeText = CFileTypeCatalogue::sizeText(node.size);
    if (node.compressionUnit > 0 && !node.isDamaged())
        node.undecodable = !unitsDecompress(node);
    if (node.hasResidentData) {
        post(node);
        return;
    }
    if (byName) {
        if (m_claimedStarts.size() < kMaxClaimedStarts)
            m_claimedStarts.insert(node.startSector);
        post(node);
        return;
    }
    if (static_cast<int>(m_deferred.size()) < kMaxDeferred)
        m_deferred.push_back(std::move(node));
    else
        post(node);
}

void CNtfsScanner::post(CFileNode& node)
{
    ++m_deletedFindings;
    if (m_notifier)
        m_notifier->postItem(node);
}

void CNtfsScanner::postDeferred()
{
    for (CFileNode& node : m_deferred)
        if (!m_claimedStarts.contains(node.startSector))
            post(node);
    m_deferred.clear();
    m_claimedStarts.clear();
}

bool CNtfsScanner::unitsDecompress(const CFileNode& node)
{
    CCompressedUnits units(m_volume, node.extents, node.compressionUnit, node.size);
    std::vector<uint8_t> unit(static_cast<size_t>(units.unitBytes()));
    for (int64_t k = 0; k < units.unitCount(); ++k) {
        // A unit the volume cannot give is the read errors' business, not
        // a sign that the unit was overwritten.
        if (units.readUnit(k, unit.data()) == CCompressedUnits::Status::Undecodable)
            return false;
    }
    return true;
}

int CNtfsScanner::typeOfContent(const CFileNode& node)
{
    if (node.hasResidentData)
        return CDocumentSignature::typeCodeOf(reinterpret_cast<const uint8_t*>(node.residentData.constData()),
                                              static_cast<size_t>(node.residentData.size()));
    if (node.extents.isEmpty() || node.extents.first().offset == CFileNode::Extent::kSparse)
        return CFileTypeCatalogue::NotWanted;
    if (node.compressionUnit > 0) {
        // The first unit, decompressed, holds the names that tell the kind.
        CCompressedUnits units(m_volume, node.extents, node.compressionUnit, node.size);
        std::vector<uint8_t> unit(static_cast<size_t>(node.compressionUnit));
        if (units.readUnit(0, unit.data()) != CCompressedUnits::Status::Ok)
            return CFileTypeCatalogue::NotWanted;
        const size_t length = static_cast<size_t>(std::min<int64_t>(node.size, node.compressionUnit));
        return CDocumentSignature::typeCodeOf(unit.data(), length);
    }
    // The first extent only: the names that tell the kind sit near the start.
    const CFileNode::Extent& first = node.extents.first();
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<int64_t>(first.length, kFamilyProbe)));
    IVolume::ReadResult r = m_volume->read(first.offset, bytes.data(), bytes.size());
    int code = CDocumentSignature::typeCodeOf(bytes.data(), static_cast<size_t>(std::max<int64_t>(r.bytes, 0)));
    if (code == CFileTypeCatalogue::NotWanted || code == CFileTypeCatalogue::Pdf
        || first.length <= static_cast<int64_t>(kFamilyProbe))
        return code;
    bytes.resize(static_cast<size_t>(std::min<int64_t>(first.length, CDocumentSignature::kUsefulPrefix)));
    r = m_volume->read(first.offset, bytes.data(), bytes.size());
    return CDocumentSignature::typeCodeOf(bytes.data(), static_cast<size_t>(std::max<int64_t>(r.bytes, 0)));
}

bool CNtfsScanner::loadBitmap()
{
    if (m_bitmapState != 0)
        return m_bitmapState > 0;
    m_bitmapState = -1;
    std::vector<uint8_t> bytes;
    if (!readRecord(kBitmapRecord, bytes))
        return false;
    CMFTRecord record;
    record.setReadUnused(true);
    record.setRecordGeometry(m_geometry.recordSize, m_geometry.bytesPerCluster);
    if (record.parseRecord(bytes.data(), m_geometry.recordSize, false) != CMFTRecord::kStatusOk || !record.inUse())
        return false;
    m_bitmapRuns = streamRuns<TableRun>(record, m_geometry.bytesPerCluster, m_volumeLength);
    if (m_bitmapRuns.empty())
        return false;
    m_bitmapBytes = static_cast<int64_t>(std::min<uint64_t>(record.streamRealSize(), std::numeric_limits<int64_t>::max()));
    m_bitmapState = 1;
    return true;
}

std::unique_ptr<IAllocationMap> CNtfsScanner::allocationMap(std::shared_ptr<IVolume> volume)
{
    // No geometry (a boot sector that did not decode): no table, no bitmap.
    if (!volume || m_geometry.bytesPerCluster == 0 || m_geometry.recordSize == 0 || m_tableRuns.empty())
        return nullptr;
    if (!loadBitmap() || m_bitmapBytes <= 0)
        return nullptr;
    std::vector<CAllocationTableCache::Run> runs;
    for (const TableRun& run : m_bitmapRuns)
        runs.push_back({run.volumeOffset, run.bytes});
    const uint64_t clusters = static_cast<uint64_t>(std::max<int64_t>(volume->length(), 0)) / m_geometry.bytesPerCluster;
    return std::unique_ptr<IAllocationMap>(
        new CNtfsAllocationMap(std::move(volume), runs, m_bitmapBytes, m_geometry.bytesPerCluster, clusters));
}

int64_t CNtfsScanner::clustersInUse(int64_t cluster, int64_t count)
{
    if (count <= 0 || cluster < 0 || !loadBitmap())
        return 0;
    int64_t used = 0;
    // Bounded by the caller: the clusters lie inside the volume.
    for (int64_t c = cluster; c < cluster + count;) {
        const int64_t byte = c / 8;
        const int64_t blockStart = byte - byte % kBitmapBlockSize;
        if (blockStart != m_bitmapBlockStart) {
            m_bitmapBlock.assign(kBitmapBlockSize, 0);
            m_bitmapBlockStart = blockStart;
            // The block, from the bitmap's runs; what no run covers stays 0.
            for (const TableRun& run : m_bitmapRuns) {
                const int64_t from = std::max(run.tableOffset, blockStart);
                const int64_t to = std::min(run.tableOffset + run.bytes, blockStart + int64_t(kBitmapBlockSize));
                if (from < to)
                    m_volume->read(run.volumeOffset + (from - run.tableOffset), m_bitmapBlock.data() + (from - blockStart),
                                   static_cast<size_t>(to - from));
            }
        }
        const uint8_t value = m_bitmapBlock[static_cast<size_t>(byte - blockStart)];
        const int bit = static_cast<int>(c % 8);
        // Whole bytes at a time where the range allows.
        if (bit == 0 && c + 8 <= cluster + count) {
            used += __builtin_popcount(value);
            c += 8;
        } else {
            used += (value >> bit) & 1;
            ++c;
        }
    }
    return used;
}
