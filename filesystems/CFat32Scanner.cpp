#include "filesystems/CFat32Scanner.h"

#include "disk/IVolume.h"
#include "filesystems/CFatAllocationMap.h"
#include "filesystems/CFatChains.h"
#include "filesystems/CFatDeletedFiles.h"
#include "filesystems/CFatDirectoryEntry.h"
#include "filesystems/CFatFormerSearch.h"
#include "filesystems/CFreeClusterObserver.h"
#include "scan/CDocumentSignature.h"
#include "scan/CFileNode.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <QByteArray>

#include <algorithm>
#include <unordered_map>

namespace {

using Entry = CFatDirectoryEntry;

constexpr size_t kBootSectorSize = 512;
constexpr int64_t kReportSectorSize = 512;

} // namespace

CFat32Scanner::CFat32Scanner(IVolume* volume, CNotifyFileNode* notifier, const std::atomic<bool>* running)
    : m_volume(volume)
    , m_notifier(notifier)
    , m_running(running)
{
}

CFat32Scanner::~CFat32Scanner() = default;

uint8_t CFat32Scanner::shortNameChecksum(const uint8_t* shortName)
{
    return Entry::shortNameChecksum(shortName);
}

bool CFat32Scanner::stopRequested() const
{
    return m_stop.load() || (m_running && !m_running->load());
}

void CFat32Scanner::scan()
{
    m_findings = 0;
    m_deletedFindings = 0;
    m_formerDirectories = 0;
    m_formerBytes = 0;
    m_geometryKnown = false;
    m_failure.clear();
    m_reached.reset();
    m_formerObserver.reset();
    m_formerSearch.reset();
    m_walk.reset();
    if (!m_volume || stopRequested())
        return;

    uint8_t boot[kBootSectorSize];
    const IVolume::ReadResult bootRead = m_volume->read(0, boot, sizeof boot);
    if (bootRead.bytes < static_cast<int64_t>(sizeof boot)) {
        m_failure = QStringLiteral("the %1 boot sector cannot be read.").arg(m_expectedType);
        return;
    }
    // Nothing we can trust about this volume: the raw pass still runs, and
    // the worker says why live files' documents are listed too.
    if (!decodeBootSector(boot, sizeof boot, m_geometry)) {
        m_failure = QStringLiteral("the first sector is no %1 boot sector that can be decoded.").arg(m_expectedType);
        return;
    }
    m_geometryKnown = true;
    m_lastWholeCluster = m_geometry.lastWholeCluster(m_volume->length());

    // The pass's own look-ups go through the same cached FAT reads as the
    // map it hands on; it does not own the volume.
    m_fat.reset(new CFatAllocationMap(std::shared_ptr<IVolume>(m_volume, [](IVolume*) {}), m_geometry));
    m_chains.reset(new CFatChains(*m_fat, m_geometry.highestCluster));
    m_deleted.reset(new CFatDeletedFiles(m_volume, *m_fat, m_geometry, m_lastWholeCluster, m_notifier, m_running));
    m_probe.assign(m_geometry.clusterBytes(), 0);
    {
        // Once the carving pass is over, the old folders it showed are
        // walked even when the scan was stopped in it: only they are read.
        std::unique_ptr<CFatDirectoryWalk> walk(new CFatDirectoryWalk(
            m_volume, m_geometry, *m_fat, *m_chains, *this,
            [this] { return m_finishing ? m_stop.load() : stopRequested(); }));
        walk->setFollowDeleted(m_reportDeleted);
        const bool searchFormer = m_reportDeleted && m_searchFormer && !m_liveFilesLost;
        if (searchFormer && m_formerFromWindows) {
            if (walk->walkTree())
                m_walk = std::move(walk);
            else
                walk->walkFormerLater();
        } else {
            if (searchFormer) {
                std::vector<uint32_t> continued;
                std::unordered_map<uint32_t, uint32_t> next;
                std::vector<CFatDirectoryWalk::Former> former = findFormerDirectories(continued, next);
                walk->setFormerDirectories(std::move(former), std::move(continued), std::move(next));
            }
            walk->run();
        }
    }
    m_deleted->settle([this] { return stopRequested(); });
    m_deletedFindings = m_deleted->posted();
    // A walk cut short has not met every live file: what it did not reach
    // is not known to be lost.
    if (!stopRequested())
        m_reached = m_chains->reached();
    CFreeClusterSweep::Heap heap;
    if (m_walk && formerHeap(heap)) {
        // The old folders' deleted files are laid out among themselves,
        // after those of the live tree.
        m_deleted.reset(new CFatDeletedFiles(m_volume, *m_fat, m_geometry, m_lastWholeCluster, m_notifier, m_running));
        m_formerSearch.reset(new CFatFormerSearch(m_geometry));
        CFatFormerSearch* search = m_formerSearch.get();
        m_formerObserver.reset(new CFreeClusterObserver(
            m_volume, heap, [this](uint32_t cluster) { return !m_fat->clusterInUse(cluster); },
            [search](uint32_t cluster, const uint8_t* bytes, size_t length) { search->visit(cluster, bytes, length); }));
        return;
    }
    m_walk.reset();
    m_deleted.reset();
    m_chains.reset();
    m_fat.reset();
}

IWindowObserver* CFat32Scanner::formerObserver() const
{
    return m_formerObserver.get();
}

void CFat32Scanner::finishFormer()
{
    if (!m_walk || !m_formerSearch)
        return;
    m_finishing = true;
    if (m_formerObserver)
        m_formerBytes = m_formerObserver->bytesReadApart();
    m_formerObserver.reset();
    std::vector<uint32_t> continued;
    std::unordered_map<uint32_t, uint32_t> next;
    std::vector<CFatDirectoryWalk::Former> former = m_formerSearch->take(continued, next);
    m_formerSearch.reset();
    m_formerDirectories = static_cast<int>(former.size());
    m_walk->setFormerDirectories(std::move(former), std::move(continued), std::move(next));
    m_walk->walkFormerLater();
    m_walk.reset();
    m_finishing = false;
    // A stopped scan posts the layouts as walked, at once.
    m_deleted->settle([this] { return stopRequested(); });
    m_deletedFindings += m_deleted->posted();
    m_deleted.reset();
    m_chains.reset();
    m_fat.reset();
}

bool CFat32Scanner::formerHeap(CFreeClusterSweep::Heap& heap) const
{
    const uint64_t last = std::min<uint64_t>(m_lastWholeCluster, m_geometry.highestCluster);
    if (last < CFatGeometry::kFirstDataCluster)
        return false;
    heap.offset = m_geometry.clusterOffset(CFatGeometry::kFirstDataCluster);
    heap.clusterBytes = m_geometry.clusterBytes();
    heap.count = static_cast<uint32_t>(last - CFatGeometry::kFirstDataCluster + 1);
    return true;
}

std::vector<CFatDirectoryWalk::Former> CFat32Scanner::findFormerDirectories(std::vector<uint32_t>& continued,
                                                                           std::unordered_map<uint32_t, uint32_t>& next)
{
    CFreeClusterSweep::Heap heap;
    if (!formerHeap(heap))
        return {};
    CFatFormerSearch search(m_geometry);
    m_formerBytes = CFreeClusterSweep::sweep(
        m_volume, heap, [this](uint32_t cluster) { return !m_fat->clusterInUse(cluster); },
        [this] { return stopRequested(); },
        [&search](uint32_t cluster, const uint8_t* bytes, size_t length) { search.visit(cluster, bytes, length); });
    std::vector<CFatDirectoryWalk::Former> former = search.take(continued, next);
    m_formerDirectories = static_cast<int>(former.size());
    return former;
}

std::unique_ptr<IAllocationMap> CFat32Scanner::allocationMap(std::shared_ptr<IVolume> volume) const
{
    if (!volume || !m_geometryKnown)
        return nullptr;
    return std::unique_ptr<IAllocationMap>(new CFatAllocationMap(std::move(volume), m_geometry, m_reached));
}

void CFat32Scanner::liveFile(const CFatDirectoryWalk::Directory& directory, const uint8_t* entry,
                             const CFatLongName& names)
{
    if (m_liveFilesLost)
        postLostLiveFile(directory, entry, names.liveName(entry));
    else
        postLiveFile(entry, names);
}

void CFat32Scanner::deletedFile(const CFatDirectoryWalk::Directory& directory, const uint8_t* entry,
                                const CFatLongName::Name& name)
{
    if (m_reportDeleted)
        m_deleted->add(directory.path, entry, name.text);
}

void CFat32Scanner::postLiveFile(const uint8_t* entry, const CFatLongName& names)
{
    const uint32_t cluster = m_geometry.startCluster(entry);
    if (cluster < CFatGeometry::kFirstDataCluster || cluster > m_geometry.highestCluster)
        return; // an empty file, or a cluster that is not on the volume

    QByteArray name;
    bool dotted = false;
    // A complete run of long-name entries that belongs to this short entry.
    if (names.liveNameFits(entry)) {
        name = names.liveText().toLocal8Bit();
        dotted = true;
    } else {
        // The short name's extension: the eleven name bytes and a space
        // as fixed-width text.
        name = QByteArray(reinterpret_cast<const char*>(entry), static_cast<int>(Entry::kShortNameLength));
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

void CFat32Scanner::postLostLiveFile(const CFatDirectoryWalk::Directory& directory, const uint8_t* entry,
                                     const CFatLongName::Name& name)
{
    const int64_t size = Entry::size(entry);
    const uint32_t start = m_geometry.startCluster(entry);
    if (size == 0 || start < CFatGeometry::kFirstDataCluster || start > m_lastWholeCluster)
        return;
    int64_t found = 0;
    const QVector<CFileNode::Extent> extents = m_chains->extents(start, size, m_lastWholeCluster, found);
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
    CFileNode record = Entry::record(entry, name.text, directory.path, byName, typeCode, found, extents);
    record.incomplete = found < size;
    ++m_findings;
    if (m_notifier)
        m_notifier->postItem(record);
}
