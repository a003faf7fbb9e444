#include "filesystems/CNtfsScanner.h"

#include "disk/CDiskMappingPointer.h"
#include "disk/IVolume.h"
#include "disk/LittleEndian.h"
#include "filesystems/CMFTRecord.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

constexpr size_t kBootSectorSize = 512;
constexpr size_t kBytesPerSectorField = 0x0B;
constexpr size_t kSectorsPerClusterField = 0x0D;
constexpr size_t kMftClusterField = 0x30;
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
    if (!m_volume || stopRequested())
        return;
    m_volumeLength = m_volume->length();

    uint8_t boot[kBootSectorSize];
    const IVolume::ReadResult bootRead = m_volume->read(0, boot, sizeof boot);
    if (bootRead.bytes < static_cast<int64_t>(sizeof boot))
        return;
    if (!decodeBootSector(boot, sizeof boot, m_geometry))
        return; // nothing we can trust about this volume: the raw pass still runs

    // Record 0 is the table's own record: its data runs say where the rest
    // of the table lies.
    const int64_t mftOffset = static_cast<int64_t>(m_geometry.mftCluster) * m_geometry.bytesPerCluster;
    if (mftOffset >= m_volumeLength || m_volumeLength - mftOffset < m_geometry.recordSize)
        return;
    std::vector<uint8_t> first(m_geometry.recordSize);
    const IVolume::ReadResult firstRead = m_volume->read(mftOffset, first.data(), first.size());
    if (firstRead.bytes < static_cast<int64_t>(first.size()))
        return;

    CMFTRecord mft;
    if (mft.setRecordGeometry(m_geometry.recordSize, m_geometry.bytesPerCluster) != CMFTRecord::kStatusOk)
        return;
    if (mft.parseRecord(first.data(), static_cast<uint32_t>(first.size()), false) != CMFTRecord::kStatusOk)
        return;
    // Anything else at that place means the boot sector points elsewhere.
    if (mft.name() != QLatin1String(kMftName))
        return;

    // Runs come in ascending order of their start. A damaged record 0 may
    // hold hundreds of runs that each claim the rest of the volume: every
    // byte of the volume is walked at most once, so the pass never reads
    // more than the volume holds.
    const int64_t recordSize = m_geometry.recordSize;
    int64_t walkedEnd = 0;
    for (const auto& run : mft.runMap()) {
        if (stopRequested())
            return;
        const int64_t cluster = run.first;
        if (cluster > std::numeric_limits<int64_t>::max() / m_geometry.bytesPerCluster)
            continue;
        int64_t offset = cluster * m_geometry.bytesPerCluster;
        if (offset >= m_volumeLength)
            continue;
        // A run claiming more than the volume holds is read up to its end.
        const int64_t end = offset + std::min(run.second, m_volumeLength - offset);
        if (end <= walkedEnd)
            continue;
        // Overlapping an earlier run: go on from its first record not yet
        // walked, on this run's own record boundaries.
        if (offset < walkedEnd)
            offset += (walkedEnd - offset + recordSize - 1) / recordSize * recordSize;
        walkedEnd = end;
        if (offset >= end)
            continue;
        if (!walkRun(offset, end - offset))
            return;
    }
}

bool CNtfsScanner::walkRun(int64_t offset, int64_t bytes)
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
        examineRecord(reader.pointer() + inWindow * recordSize);
    }
    reader.endSequential();
    return finished;
}

void CNtfsScanner::examineRecord(const uint8_t* bytes)
{
    CMFTRecord record;
    record.setRecordGeometry(m_geometry.recordSize, m_geometry.bytesPerCluster);
    if (record.parseRecord(bytes, m_geometry.recordSize, false) != CMFTRecord::kStatusOk)
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
