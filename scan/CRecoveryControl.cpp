#include "scan/CRecoveryControl.h"

#include "disk/CBootSectorProbe.h"
#include "disk/CDiskMappingPointer.h"
#include "disk/CErrnoText.h"
#include "disk/CEwfVolume.h"
#include "disk/CFileVolume.h"
#include "disk/CUDisksOpener.h"
#include "disk/CPartitionTable.h"
#include "disk/CVolumeView.h"
#include "disk/CBootCopyView.h"
#include "filesystems/CLostPartitionSearch.h"
#include "disk/IVolume.h"
#include "filesystems/CAllocationMapSet.h"
#include "filesystems/CExfatScanner.h"
#include "filesystems/CExt4Scanner.h"
#include "filesystems/CFat32Scanner.h"
#include "filesystems/CNtfsScanner.h"
#include "scan/CFreeSpaceRuns.h"
#include "scan/CRunContinuation.h"
#include "scan/CSkippedStretchCarver.h"
#include "scan/CSignatureCarver.h"
#include "scan/CWindowCarver.h"
#include "scan/IWindowObserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QMetaObject>

#include <cstring>
#include <exception>
#include <stdexcept>
#include <thread>

namespace {

constexpr int kSectorSize = 512;
// The first cluster of a FAT32 data area and of an exFAT cluster heap.
constexpr uint32_t kFirstFatDataCluster = 2;
constexpr uint64_t kFirstExfatDataCluster = 2;

// Notes the cluster grid of a file system read: `origin` is its first
// cluster's offset within the file system.
void setGrid(CRecoveryControl::FileSystemPass& pass, int64_t cluster, int64_t origin)
{
    if (cluster < kSectorSize || cluster > (int64_t(1) << 26) || origin < 0 || origin >= pass.length)
        return;
    pass.cluster = cluster;
    pass.clusterOrigin = pass.offset + origin;
}
constexpr int kPassNone = -1;
constexpr int kPassNtfs = 1;
constexpr int kPassFat32 = 2;

// One pass reads FAT12, FAT16 and FAT32; its geometry tells the width.
bool isFat(const QString& fileSystem)
{
    return fileSystem == QLatin1String("FAT32") || fileSystem == QLatin1String("FAT16")
        || fileSystem == QLatin1String("FAT12");
}

constexpr long long kProgressTotal = 1000;

// Joins its thread on every path out of a scope, exceptions included.
class ScopedThread
{
public:
    template <typename F>
    explicit ScopedThread(F&& body)
        : m_thread(std::forward<F>(body))
    {
    }
    ~ScopedThread()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    ScopedThread(const ScopedThread&) = delete;
    ScopedThread& operator=(const ScopedThread&) = delete;

private:
    std::thread m_thread;
};

QString lostDeviceReason(const IVolume& volume, int error)
{
    return QCoreApplication::translate("CRecoveryControl", "the source %1 can no longer be read (%2): the device was removed or has failed. "
                          "Reconnect it and scan again.")
        .arg(volume.name(), CErrnoText::text(error));
}

// A document a pass found on its partition, placed on the source.
CFileNode onSource(CFileNode node, int64_t partitionOffset)
{
    node.startSector += static_cast<quint64>(partitionOffset / kSectorSize);
    for (CFileNode::Extent& extent : node.extents) {
        if (extent.offset != CFileNode::Extent::kSparse)
            extent.offset += partitionOffset;
    }
    return node;
}

} // namespace

CRecoveryControl::CRecoveryControl(QObject* parent)
    : QThread(parent)
    , m_allocation(std::make_shared<CAllocationMapSet>())
    , m_serviceTimeoutMs(CUDisksOpener::kDefaultTimeoutMs)
    , m_windowSize(CDiskMappingPointer::kDefaultWindowSize)
{
    // Everything posted is also written down for the session file, on the
    // posting thread, in posting order.
    connect(
        &m_relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &m_relay,
        [this](const CFileNode& node) {
            CScanJournal::Entry e;
            e.node = node;
            recordEntry(std::move(e));
        },
        Qt::DirectConnection);
    connect(
        &m_relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem), &m_relay,
        [this](long long sector, int typeCode) {
            CScanJournal::Entry e;
            e.live = true;
            e.liveSector = sector;
            e.liveType = typeCode;
            recordEntry(std::move(e));
        },
        Qt::DirectConnection);
    // A resumed scan's file-system passes: only documents the saved list
    // lacks go on, live files' notes not at all.
    connect(
        &m_savedRelay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &m_savedRelay,
        [this](const CFileNode& node) {
            if (m_alreadyListed.insert({node.startSector, node.typeCode}).second)
                m_relay.postItem(node);
        },
        Qt::DirectConnection);
    connect(
        &m_carveRelay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &m_carveRelay,
        [this](const CFileNode& node) {
            // A document cut by bytes in use waits for the end of the pass,
            // to be carried on past them.
            if (CSignatureCarver::isCut(node)) {
                std::lock_guard<std::mutex> lock(m_cutsMutex);
                m_cuts.push_back(node);
                return;
            }
            if (m_alreadyCarved.count({node.startSector, node.typeCode}) == 0)
                relayCarved(node);
        },
        Qt::DirectConnection);
    connect(
        &m_carveRelay, qOverload<long long, int>(&CNotifyFileNode::notifyItem), &m_carveRelay,
        [this](long long sector, int typeCode) { m_relay.postItem(sector, typeCode); }, Qt::DirectConnection);
}

void CRecoveryControl::setSessionFile(const QString& path, const CScanJournal::Identity& identity)
{
    m_sessionPath = path;
    m_identity = identity;
}

void CRecoveryControl::resumeFrom(CScanJournal::State state)
{
    m_resume.reset(new CScanJournal::State(std::move(state)));
}

void CRecoveryControl::followResumedScan()
{
    // The rest of a scan read another way would list a mixture: the live
    // files' documents in one part of the volume and not in the other.
    if (!m_resume)
        return;
    m_fileSystem = m_resume->fileSystem;
    if (m_resume->wholeVolumeSaved)
        m_wholeVolume = m_resume->wholeVolume;
}

QString CRecoveryControl::sessionError() const
{
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    return m_sessionError;
}

void CRecoveryControl::recordEntry(CScanJournal::Entry entry)
{
    if (m_sessionPath.isEmpty())
        return;
    // Written down here, on the posting thread while the reads go on, not
    // all at once when the scan is saved.
    QByteArray record = CScanJournal::record(entry);
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    m_records.push_back(std::move(record));
}

void CRecoveryControl::recordReassembled(const CFileNode& node)
{
    CScanJournal::Entry e;
    e.node = node;
    e.reassembled = true;
    recordEntry(std::move(e));
    int64_t resumeOffset = 0;
    int64_t reached = 0;
    bool finished = false;
    {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        // Not saved yet: the next save takes it along.
        if (!m_sessionSaved)
            return;
        resumeOffset = m_savedResumeOffset;
        reached = m_savedReached;
        finished = m_savedFinished;
    }
    saveSession(resumeOffset, reached, finished);
}

void CRecoveryControl::saveSession(int64_t resumeOffset, int64_t reached, bool finished)
{
    if (m_sessionPath.isEmpty())
        return;
    QString error;
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        m_sessionSaved = true;
        m_savedResumeOffset = resumeOffset;
        m_savedReached = reached;
        m_savedFinished = finished;
        CScanJournal::State state;
        state.identity = m_identity;
        state.fileSystem = m_fileSystem;
        state.wholeVolume = m_wholeVolume;
        state.wholeVolumeSaved = true;
        // Every save comes after the read plan was made.
        state.unusedOnly = m_unusedOnly;
        state.bytesToRead = m_bytesToRead;
        // The last window runs past the end of the volume.
        const int64_t length = m_volume ? m_volume->length() : 0;
        reached = std::min(reached, length);
        resumeOffset = std::min(resumeOffset, reached);
        state.resumeOffset = resumeOffset - resumeOffset % kSectorSize;
        state.reached = reached;
        state.finished = finished;
        if (CScanJournal::save(m_sessionPath, state, m_records, &error))
            return;
        first = m_sessionError.isEmpty();
        m_sessionError = error;
    }
    // Said once: a scan of hours tries again at every checkpoint.
    if (first) {
        emit notifyWarning(WarningSession,
                           QStringLiteral("the scan is not being saved, so it cannot be resumed if it is cut short: "
                                          "%1 It goes on; to have it saved, make %2 a folder you may write to.")
                               .arg(error, QFileInfo(m_sessionPath).absolutePath()));
    }
}

CRecoveryControl::~CRecoveryControl()
{
    stopScan();
    wait();
}

bool CRecoveryControl::beginScan(const QString& devicePath, const QString& fileSystem)
{
    if (isRunning())
        return false;
    if (CEwfVolume::isEwfImage(devicePath)) {
        QString reason;
        std::unique_ptr<CEwfVolume> image = CEwfVolume::open(devicePath, &reason);
        if (!image) {
            m_fileSystem = fileSystem;
            m_openError = CFileVolume::OpenError();
            m_openError.reason = reason;
            failOpen(reason);
            return false;
        }
        return beginScan(std::shared_ptr<IVolume>(std::move(image)), fileSystem);
    }
    CFileVolume::OpenError error;
    std::unique_ptr<CFileVolume> volume = CFileVolume::open(devicePath, &error);
    if (!volume && CFileVolume::refusedForRights(error)) {
        // udisks2 may grant it, after a password: asked on the worker so
        // that the window stays alive meanwhile.
        m_fileSystem = fileSystem;
        followResumedScan();
        m_servicePath = devicePath;
        m_openError = error;
        {
            std::lock_guard<std::mutex> lock(m_volumeMutex);
            m_volume.reset();
        }
        m_running = true;
        start(QThread::InheritPriority);
        return true;
    }
    if (!volume) {
        m_fileSystem = fileSystem;
        m_openError = error;
        failOpen(error.reason);
        return false;
    }
    return beginScan(std::shared_ptr<IVolume>(std::move(volume)), fileSystem);
}

bool CRecoveryControl::beginScan(std::shared_ptr<IVolume> volume, const QString& fileSystem)
{
    if (isRunning())
        return false;
    m_fileSystem = fileSystem;
    followResumedScan();
    if (!volume) {
        m_openError = CFileVolume::OpenError();
        m_openError.kind = CFileVolume::SourceKind::Missing;
        m_openError.reason = QCoreApplication::translate("CRecoveryControl", "no source to scan.");
        failOpen(m_openError.reason);
        return false;
    }
    m_openError = CFileVolume::OpenError();
    {
        std::lock_guard<std::mutex> lock(m_volumeMutex);
        m_volume = std::move(volume);
    }
    // A new set, not a cleared one: whoever still holds the last scan's map
    // keeps it whole.
    m_allocation = std::make_shared<CAllocationMapSet>();
    m_carvedInUse = 0;
    m_unreadable = 0;
    m_slow = 0;
    {
        std::lock_guard<std::mutex> lock(m_passesMutex);
        m_unreadableRanges.clear();
    }
    m_unusedOnly = false;
    m_bytesToRead = 0;
    m_running = true;
    start(QThread::InheritPriority);
    return true;
}

std::shared_ptr<IVolume> CRecoveryControl::diskHandle() const
{
    std::lock_guard<std::mutex> lock(m_volumeMutex);
    return m_volume;
}

bool CRecoveryControl::openThroughService()
{
    // m_openError holds the refusal of our own open; udisks2's answer is
    // added to it. It is read on the interface thread only after the
    // queued notifyOpenFailed, so it is complete by then.
    CFileVolume::OpenError error = m_openError;
    std::unique_ptr<CFileVolume> volume =
        CUDisksOpener(m_serviceTimeoutMs).open(m_servicePath, &error, [this]() { return !m_running.load(); });
    if (!volume) {
        m_running = false;
        if (error.service == CFileVolume::ServiceAnswer::Stopped) {
            emit scanThreadFinish();
            return false;
        }
        m_openError = error;
        emit notifyOpenFailed(error.reason);
        return false;
    }
    std::lock_guard<std::mutex> lock(m_volumeMutex);
    m_volume = std::shared_ptr<IVolume>(std::move(volume));
    return true;
}

void CRecoveryControl::failOpen(const QString& reason)
{
    m_running = false;
    // Queued, so that no receiver runs inside beginScan().
    QMetaObject::invokeMethod(
        this, [this, reason]() { emit notifyOpenFailed(reason); }, Qt::QueuedConnection);
}

void CRecoveryControl::stopScan()
{
    {
        std::lock_guard<std::mutex> lock(m_passMutex);
        const int pass = m_activePass.load();
        if (pass == kPassNtfs && m_ntfsScanner)
            m_ntfsScanner->stop();
        else if (pass == kPassFat32 && m_fat32Scanner)
            m_fat32Scanner->stop();
    }
    m_running = false;
}

CUnreadableRanges CRecoveryControl::unreadableRanges() const
{
    std::lock_guard<std::mutex> lock(m_passesMutex);
    return m_unreadableRanges;
}

std::shared_ptr<const IAllocationMap> CRecoveryControl::allocationMap() const
{
    return m_allocation;
}

void CRecoveryControl::relayCarved(const CFileNode& node)
{
    const int64_t offset = static_cast<int64_t>(node.byteOffset());
    if (m_allocation->inUse(offset)) {
        // Reading the whole volume, the documents live files hold inside
        // them (a PDF in a live tar, a DOCX in a virtual disk's image) are
        // what was asked for: listed, marked. A live file itself (a record
        // at its first sector, of its type) is still left out by the tree
        // builder.
        if (m_wholeVolume) {
            CFileNode inside = node;
            inside.insideLiveFile = true;
            m_relay.postItem(inside);
            return;
        }
        ++m_carvedInUse;
        return;
    }
    // Clusters marked in use that no live file reaches: the document there
    // is lost to its owner, and listed as found in such clusters.
    if (m_allocation->orphaned(offset)) {
        CFileNode orphan = node;
        orphan.orphaned = true;
        m_relay.postItem(orphan);
        return;
    }
    m_relay.postItem(node);
}

std::vector<CRecoveryControl::FileSystemPass> CRecoveryControl::planFileSystemPasses()
{
    std::vector<FileSystemPass> passes;
    const int64_t length = m_volume->length();
    // The names are compared exactly: any other spelling gets no pass.
    if (m_fileSystem == QLatin1String("NTFS") || isFat(m_fileSystem) || m_fileSystem == QLatin1String("exFAT")
        || m_fileSystem == QLatin1String("EXT4")) {
        passes.push_back({m_fileSystem, 0, length, 0, false});
        return passes;
    }
    if (m_fileSystem != autoFileSystem())
        return passes;

    const QString whole = CBootSectorProbe::detect(*m_volume);
    if (!whole.isEmpty()) {
        passes.push_back({whole, 0, length, 0, false});
        return passes;
    }
    const CPartitionTable table = CPartitionTable::read(*m_volume);
    for (const QString& problem : table.problems()) {
        emit notifyWarning(WarningPartitionTable,
                           QStringLiteral("the partition table of %1 is damaged: %2 The whole source is still searched.")
                               .arg(m_volume->name(), problem));
    }
    // Entries on the same first sector are one already (the table merges
    // them). An entry that starts inside another partition on a sector
    // that repeats that partition's boot sector starts on its backup copy
    // (FAT32 keeps one at sector 6, exFAT at 12, NTFS at the last): read
    // from there, the file system's offsets would all be off, and what it
    // listed would be the same deleted files again at wrong places. Each
    // first sector is read once; only partitions with the same one are
    // compared.
    const std::vector<CPartitionTable::Partition>& partitions = table.partitions();
    std::vector<QByteArray> boots(partitions.size());
    QHash<QByteArray, std::vector<size_t>> byBoot;
    for (size_t i = 0; i < partitions.size(); ++i) {
        QByteArray sector(kSectorSize, '\0');
        const IVolume::ReadResult r
            = m_volume->read(partitions[i].offset, reinterpret_cast<uint8_t*>(sector.data()), kSectorSize);
        if (r.bytes == kSectorSize) {
            boots[i] = sector;
            byBoot[sector].push_back(i);
        }
    }
    for (size_t i = 0; i < partitions.size(); ++i) {
        const CPartitionTable::Partition& p = partitions[i];
        CVolumeView view(m_volume, p.offset, p.length);
        const QString name = CBootSectorProbe::detect(view);
        if (name.isEmpty())
            continue;
        const CPartitionTable::Partition* copied = nullptr;
        const auto same = byBoot.constFind(boots[i]);
        if (!boots[i].isEmpty() && same != byBoot.constEnd()) {
            for (size_t j : *same) {
                const CPartitionTable::Partition& other = partitions[j];
                if (other.offset < p.offset && p.offset - other.offset < other.length) {
                    copied = &other;
                    break;
                }
            }
        }
        if (copied) {
            emit notifyWarning(WarningPartitionTable,
                               QStringLiteral("the partition table of %1 is damaged: partition %2 starts on the backup "
                                              "copy of the boot sector of partition %3; it was left out. The whole "
                                              "source is still searched.")
                                   .arg(m_volume->name())
                                   .arg(p.number)
                                   .arg(copied->number));
            continue;
        }
        passes.push_back({name, p.offset, p.length, p.number, false});
    }
    // What the table does not cover: a deleted partition's file system
    // still lies there, whole, until something is written over it.
    std::vector<CLostPartitionSearch::Range> live;
    for (const CPartitionTable::Partition& p : partitions)
        live.push_back({p.offset, p.length});
    for (const CLostPartitionSearch::Found& f : CLostPartitionSearch::search(*m_volume, live, &m_running)) {
        FileSystemPass pass{f.fileSystem, f.offset, f.length, 0, false};
        pass.found = true;
        pass.bootCopyOffset = f.bootCopyOffset;
        pass.bootCopyLength = f.bootCopyLength;
        passes.push_back(pass);
        emit notifyFoundPartition(f.fileSystem, f.offset / kSectorSize, f.length);
    }
    if (passes.empty()) {
        emit notifyWarning(WarningNoFileSystem,
                           QStringLiteral("no NTFS, FAT32, exFAT or ext4 file system was found on %1: documents of live files "
                                          "are listed too.")
                               .arg(m_volume->name()));
    }
    return passes;
}

void CRecoveryControl::runFileSystemPasses(bool post)
{
    std::vector<FileSystemPass> passes = planFileSystemPasses();
    for (FileSystemPass& pass : passes) {
        if (!m_running)
            break;
        runFileSystemPass(pass, post);
    }
    std::lock_guard<std::mutex> lock(m_passesMutex);
    m_passes = passes;
}

void CRecoveryControl::runFileSystemPass(FileSystemPass& pass, bool post)
{
    // A partition is read through a view, and what its pass posts is moved
    // onto the source on its way to the relay. A resumed scan has its list
    // already: the pass runs again for the allocation map, and posts
    // nothing but what FAT's and exFAT's search for a formatted volume's old
    // folders finds that the saved list lacks (that search ends after the
    // carving pass, which a scan killed before its end never reached).
    std::shared_ptr<IVolume> volume = m_volume;
    m_passRelays.emplace_back(new CNotifyFileNode);
    CNotifyFileNode& partitionRelay = *m_passRelays.back();
    CNotifyFileNode* relay = post ? &m_relay : nullptr;
    CNotifyFileNode* target = post ? &m_relay : &m_savedRelay;
    CNotifyFileNode* formerRelay = &m_savedRelay;
    if (pass.partition != 0 || pass.offset != 0) {
        volume = std::make_shared<CVolumeView>(m_volume, pass.offset, pass.length);
        if (pass.bootCopyLength > 0)
            volume = std::make_shared<CBootCopyView>(volume, pass.bootCopyOffset, pass.bootCopyLength);
        m_passVolumes.push_back(volume);
        const int64_t offset = pass.offset;
        connect(
            &partitionRelay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &partitionRelay,
            [target, offset](const CFileNode& node) { target->postItem(onSource(node, offset)); }, Qt::DirectConnection);
        // The live files of a deleted partition are lost as much as its
        // deleted ones: they are not filtered out, and carving reads them.
        if (!pass.found)
            connect(
                &partitionRelay, qOverload<long long, int>(&CNotifyFileNode::notifyItem), &partitionRelay,
                [target, offset](long long sector, int typeCode) { target->postItem(sector + offset / kSectorSize, typeCode); },
                Qt::DirectConnection);
        if (post)
            relay = &partitionRelay;
        formerRelay = &partitionRelay;
    }

    QString failure;
    QStringList problems;
    try {
        if (pass.fileSystem == QLatin1String("NTFS")) {
            CNtfsScanner* scanner = new CNtfsScanner(volume.get(), relay, &m_running);
            if (!post)
                scanner->setReportDeleted(false);
            scanner->setLiveFilesLost(pass.found);
            {
                std::lock_guard<std::mutex> lock(m_passMutex);
                m_ntfsScanner.reset(scanner);
                m_activePass = kPassNtfs;
            }
            // The scanner also watches m_running, so a stop that came before
            // the marker was set is not lost.
            scanner->scan();
            failure = scanner->failure();
            if (std::shared_ptr<const IAllocationMap> map = pass.found ? nullptr : scanner->allocationMap(volume))
                m_allocation->add(pass.offset, volume->length(), std::move(map));
            if (failure.isEmpty() && m_running)
                setGrid(pass, scanner->geometry().bytesPerCluster, 0);
        } else if (isFat(pass.fileSystem)) {
            const bool searchAgain = !post && !pass.found;
            CFat32Scanner* scanner = new CFat32Scanner(volume.get(), searchAgain ? formerRelay : relay, &m_running);
            scanner->setExpectedType(pass.fileSystem);
            if (!post && !searchAgain)
                scanner->setReportDeleted(false);
            scanner->setLiveFilesLost(pass.found);
            // The free clusters are read by the carving pass anyway: the
            // search for old folders looks at them there, but for a resumed
            // scan, which reads only some.
            scanner->setFormerFromWindows(post);
            {
                std::lock_guard<std::mutex> lock(m_passMutex);
                if (m_fat32Scanner && m_fat32Scanner->formerObserver())
                    m_waitingFatScanners.push_back(std::move(m_fat32Scanner));
                m_fat32Scanner.reset(scanner);
                m_activePass = kPassFat32;
            }
            scanner->scan();
            failure = scanner->failure();
            if (IWindowObserver* observer = scanner->formerObserver())
                m_formerSearches.push_back({pass.offset, volume->length(), observer, [scanner] { scanner->finishFormer(); }});
            if (std::shared_ptr<const IAllocationMap> map = pass.found ? nullptr : scanner->allocationMap(volume))
                m_allocation->add(pass.offset, volume->length(), std::move(map));
            // Clusters count from the data area, which need not lie on a
            // multiple of their size.
            const CFat32Scanner::Geometry* g = scanner->geometry();
            if (failure.isEmpty() && m_running && g)
                setGrid(pass, g->clusterBytes(), g->clusterOffset(kFirstFatDataCluster));
        } else if (pass.fileSystem == QLatin1String("exFAT")) {
            // These passes stop on m_running alone.
            const bool searchAgain = !post && !pass.found;
            std::unique_ptr<CExfatScanner> owned(new CExfatScanner(volume.get(), searchAgain ? formerRelay : relay, &m_running));
            CExfatScanner& scanner = *owned;
            if (!post && !searchAgain)
                scanner.setReportDeleted(false);
            scanner.setLiveFilesLost(pass.found);
            // As for FAT: the old folders are looked for in the carving
            // pass's windows.
            scanner.setFormerFromWindows(post);
            scanner.scan();
            failure = scanner.failure();
            problems = scanner.problems();
            if (std::shared_ptr<const IAllocationMap> map = pass.found ? nullptr : scanner.allocationMap(volume))
                m_allocation->add(pass.offset, volume->length(), std::move(map));
            if (IWindowObserver* observer = scanner.formerObserver()) {
                CExfatScanner* kept = owned.get();
                m_formerSearches.push_back({pass.offset, volume->length(), observer, [kept] { kept->finishFormer(); }});
                std::lock_guard<std::mutex> lock(m_passMutex);
                m_waitingExfatScanners.push_back(std::move(owned));
            }
            // The cluster heap, wherever it begins.
            const CExfatScanner::Geometry& g = scanner.geometry();
            if (failure.isEmpty() && g.clusterCount > 0)
                setGrid(pass, static_cast<int64_t>(g.clusterBytes()), g.clusterOffset(kFirstExfatDataCluster));
        } else if (pass.fileSystem == QLatin1String("EXT4")) {
            CExt4Scanner scanner(volume.get(), relay, &m_running);
            scanner.scan();
            failure = scanner.failure();
            problems = scanner.problems();
            if (std::shared_ptr<const IAllocationMap> map = pass.found ? nullptr : scanner.allocationMap(volume))
                m_allocation->add(pass.offset, volume->length(), std::move(map));
            // Blocks count from the volume's first byte. A file's blocks
            // are placed one by one even under bigalloc's larger clusters.
            if (failure.isEmpty())
                setGrid(pass, scanner.layout().blockSize, 0);
        }
    } catch (const std::exception& e) {
        // The live-file list is a filter, not the goal: a pass that could
        // not finish (out of memory on a monstrous directory, say) ends
        // here and the documents are still carved.
        failure = QStringLiteral("the pass stopped on an internal error: %1").arg(QString::fromLocal8Bit(e.what()));
    }
    {
        std::lock_guard<std::mutex> lock(m_passMutex);
        m_activePass = kPassNone;
    }
    pass.read = failure.isEmpty();
    const QString where = pass.found
        ? QStringLiteral("the deleted partition of %1 at sector %2").arg(m_volume->name()).arg(pass.offset / kSectorSize)
        : pass.partition == 0
        ? m_volume->name()
        : QStringLiteral("partition %1 of %2 (from byte %3)").arg(pass.partition).arg(m_volume->name()).arg(pass.offset);
    // Damage the pass read past: what it skipped may be listed as lost.
    for (const QString& problem : problems)
        emit notifyWarning(WarningFileSystem,
                           QStringLiteral("the %1 file system of %2 is damaged: %3").arg(pass.fileSystem, where, problem));
    if (!failure.isEmpty()) {
        emit notifyWarning(WarningFileSystem,
                           QStringLiteral("the %1 file system of %2 cannot be read: %3 Documents of its live files "
                                          "are listed too.")
                               .arg(pass.fileSystem, where, failure));
    }
}

void CRecoveryControl::showWindowToFormerSearches(int64_t offset, const uint8_t* bytes, int64_t length)
{
    for (const FormerSearch& search : m_formerSearches) {
        const int64_t from = std::max(offset, search.offset);
        const int64_t to = std::min(offset + length, search.offset + search.length);
        if (from < to)
            search.observer->observeWindow(from - search.offset, bytes + (from - offset), to - from);
    }
}

void CRecoveryControl::finishFormerSearches()
{
    std::vector<FormerSearch> searches;
    searches.swap(m_formerSearches);
    for (const FormerSearch& search : searches)
        search.finish();
}

std::vector<CRecoveryControl::FileSystemPass> CRecoveryControl::fileSystemPasses() const
{
    std::lock_guard<std::mutex> lock(m_passesMutex);
    return m_passes;
}

CPieceSearch::Settings CRecoveryControl::pieceSearch() const
{
    CPieceSearch::Settings settings;
    for (const FileSystemPass& pass : fileSystemPasses()) {
        if (pass.read && pass.cluster > 0)
            settings.grids.append({pass.offset, pass.length, pass.cluster, pass.clusterOrigin});
    }
    return settings;
}

void CRecoveryControl::run()
{
    if (!m_volume && !openThroughService())
        return;
    {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        m_records.clear();
        m_sessionError.clear();
        m_sessionSaved = false;
    }
    {
        std::lock_guard<std::mutex> lock(m_passesMutex);
        m_passes.clear();
        m_formerSearches.clear();
    }
    m_alreadyCarved.clear();
    m_alreadyListed.clear();
    std::unique_ptr<CScanJournal::State> resume = std::move(m_resume);
    int64_t start = 0;
    if (resume) {
        // The list as it was, at once; then only what was still to do.
        for (const CScanJournal::Entry& e : resume->entries) {
            if (e.live) {
                m_relay.postItem(e.liveSector, e.liveType);
            } else {
                if (e.node.origin == CFileNode::OriginCarved)
                    m_alreadyCarved.insert({e.node.startSector, e.node.typeCode});
                else
                    m_alreadyListed.insert({e.node.startSector, e.node.typeCode});
                m_relay.postItem(e.node);
            }
        }
        if (resume->finished) {
            // Opened again, the scan says what it read as it did at its
            // end: the unused space it read, or the whole volume.
            if (resume->bytesToRead >= 0) {
                m_unusedOnly = resume->unusedOnly;
                m_bytesToRead = resume->bytesToRead;
                emit notifyReadPlan(resume->unusedOnly, resume->bytesToRead);
            } else if (resume->wholeVolumeSaved && resume->wholeVolume) {
                m_bytesToRead = m_volume->length();
                emit notifyReadPlan(false, m_volume->length());
            }
            // Saved as it was, should anything found later be added.
            {
                std::lock_guard<std::mutex> lock(m_sessionMutex);
                m_sessionSaved = true;
                m_savedResumeOffset = resume->resumeOffset;
                m_savedReached = resume->reached;
                m_savedFinished = true;
            }
            m_running = false;
            emit notifyProcess(kProgressTotal, kProgressTotal);
            return;
        }
        start = resume->resumeOffset;
    }

    try {
        runFileSystemPasses(!resume);
    } catch (const std::exception&) {
        // Reading the partition table ran out of memory, say: the documents
        // are still carved.
        std::lock_guard<std::mutex> lock(m_passMutex);
        m_activePass = kPassNone;
    }
    // A stop during the file-system pass ends the scan there: no raw pass,
    // no progress after it.
    if (!m_running) {
        emit scanThreadFinish();
        return;
    }

    // Only what no live file holds, once a file system says what that is.
    bool anyRead = false;
    for (const FileSystemPass& pass : fileSystemPasses())
        anyRead = anyRead || pass.read;
    const bool unusedOnly = !m_wholeVolume && anyRead && !m_allocation->empty();
    const int64_t volumeLength = m_volume->length();
    const CFreeSpaceRuns freeRuns(*m_allocation, volumeLength);
    int64_t bytesToRead = std::max<int64_t>(volumeLength, 0);
    int64_t bytesDone = std::min(start, bytesToRead);
    if (unusedOnly) {
        const CFreeSpaceRuns::Totals totals = freeRuns.totals(start);
        bytesToRead = totals.bytes;
        bytesDone = totals.before;
    }
    m_unusedOnly = unusedOnly;
    m_bytesToRead = bytesToRead;
    emit notifyReadPlan(unusedOnly, bytesToRead);
    auto progress = [&]() -> long long {
        return bytesToRead <= 0 ? 0
                                : static_cast<long long>(static_cast<double>(bytesDone) * kProgressTotal
                                                         / static_cast<double>(bytesToRead));
    };

    // The stretch of the source that one window shows. The whole source is
    // read window after window; unused space one run at a time, each run in
    // windows of at most W, the last of a run ending the run.
    struct Piece
    {
        int64_t offset = 0;
        int64_t length = 0;
        int64_t runEnd = 0;
        bool endsRun = false;
    };
    auto roundUp = [](int64_t n) { return n + (kSectorSize - n % kSectorSize) % kSectorSize; };

    QString failure;
    int64_t unreadable = 0;
    try {
        // Reading unused space, the reader opens at the source's end (it
        // reads nothing there) and each piece is asked for where it lies.
        CDiskMappingPointer reader(m_volume.get(), unusedOnly ? volumeLength : start, m_windowSize);
        const uint32_t w = reader.windowSize();
        CFreeSpaceRuns::Run run;
        auto pieceOfRun = [&](int64_t at, const CFreeSpaceRuns::Run& r) {
            Piece p;
            p.offset = at;
            p.length = std::min<int64_t>(w, r.end() - at);
            p.runEnd = r.end();
            p.endsRun = p.offset + p.length >= r.end();
            return p;
        };
        // The piece after `p`, false at the end of the pass.
        auto following = [&](const Piece& p, Piece& next) {
            if (!unusedOnly) {
                next.offset = p.offset + w;
                next.length = w;
                return next.offset <= volumeLength;
            }
            if (!p.endsRun) {
                next = pieceOfRun(p.offset + p.length, run);
                return true;
            }
            if (!freeRuns.next(p.runEnd, run))
                return false;
            next = pieceOfRun(run.offset, run);
            return true;
        };
        Piece piece;
        bool more = true;
        if (unusedOnly) {
            more = freeRuns.next(start, run);
            if (more)
                piece = pieceOfRun(run.offset, run);
        } else {
            piece.offset = start;
            piece.length = w;
        }
        emit notifyProcess(kProgressTotal, progress());

        // Long windows are carved in two halves at once (see CWindowCarver);
        // the carver whose state runs on may change from window to window.
        m_carver.reset(new CWindowCarver);
        auto carver = [this]() -> CSignatureCarver& { return m_carver->carver(); };
        carver().setVolumeLength(reader.length());
        carver().setReportCuts(unusedOnly);
        {
            std::lock_guard<std::mutex> lock(m_cutsMutex);
            m_cuts.clear();
        }
        // The documents that ran into bytes in use: carried on past them
        // where that proves whole (`resolve`), else posted as they would
        // have been without trying.
        auto settleCuts = [&](bool resolve) {
            std::vector<CFileNode> cuts;
            {
                std::lock_guard<std::mutex> lock(m_cutsMutex);
                cuts.swap(m_cuts);
            }
            CRunContinuation continuation(m_volume.get(), freeRuns, &m_running);
            for (const CFileNode& cut : cuts) {
                CFileNode record;
                const bool post = resolve && m_running ? continuation.resolve(cut, record)
                                                       : CRunContinuation::fallbackOf(cut, record);
                if (post)
                    m_carveRelay.postItem(record);
            }
        };
        carver().startAtBlock(static_cast<uint64_t>(start / kSectorSize));
        reader.beginSequential();
        if (more && unusedOnly)
            reader.nextWindowAt(piece.offset, roundUp(piece.length));

        // Between windows nothing is being carved: everything before the
        // reader's position is done, and the open documents began at or
        // after the carver's earliest open block.
        auto checkpoint = [&](bool finished) {
            saveSession(static_cast<int64_t>(carver().earliestOpenBlock()) * kSectorSize, reader.position(), finished);
        };
        // A run is read through short stretches that live files hold, but
        // only what no live file holds is carved: a document that runs into
        // a live file's clusters ends there, as at the end of a run, and is
        // not whole. `window` shows the bytes from `windowStart` on.
        auto carveUnused = [&](CSignatureCarver& c, CNotifyFileNode* relay, int64_t from, int64_t to,
                               const uint8_t* window, int64_t windowStart) {
            CFreeSpaceRuns::Run part;
            // Each turn carves a stretch and moves past it: bounded by `to`.
            for (int64_t at = from; at < to && freeRuns.nextUnused(at, part) && part.offset < to; at = part.end()) {
                const int64_t partStart = std::max(part.offset, from);
                const uint64_t block = static_cast<uint64_t>(partStart / kSectorSize);
                if (block != c.blockCounter()) {
                    // Bytes in use lay between: what is open ends before them.
                    c.endRun(relay);
                    c.startAtBlock(block);
                }
                // A document of this stretch cannot go past its end.
                c.setVolumeLength(part.end());
                const int64_t length = std::min(part.end(), to) - partStart;
                c.carveWindow(relay, window + (partStart - windowStart), roundUp(length), kSectorSize);
            }
        };
        QElapsedTimer sinceSave;
        sinceSave.start();
        bool stopped = false;
        try {
            while (more) {
                if (reader.deviceLost())
                    break;
                if (sinceSave.elapsed() >= m_checkpointMs) {
                    checkpoint(false);
                    sinceSave.restart();
                }
                emit notifyProcess(kProgressTotal, progress());
                const uint8_t* window = reader.pointer();
                Piece next;
                more = following(piece, next);
                std::exception_ptr carveError;
                {
                    ScopedThread carving([&]() {
                        try {
                            // A piece of the whole source is a whole window.
                            const int64_t windowStart = piece.offset;
                            m_carver->carve(&m_carveRelay, piece.offset, piece.offset + piece.length,
                                            [&](CSignatureCarver& c, CNotifyFileNode* relay, int64_t from, int64_t to) {
                                                if (unusedOnly)
                                                    carveUnused(c, relay, from, to, window, windowStart);
                                                else
                                                    c.carveWindow(relay, window + (from - windowStart), to - from,
                                                                  kSectorSize);
                                            });
                            if (unusedOnly && piece.endsRun)
                                carver().endRun(&m_carveRelay);
                        } catch (...) {
                            carveError = std::current_exception();
                        }
                    });
                    if (!unusedOnly)
                        reader.nextWindow();
                    else if (more)
                        reader.nextWindowAt(next.offset, roundUp(next.length));
                    // The window stays until the carving thread is done with
                    // it: the searches for old folders look at it meanwhile,
                    // here, rather than after the carving.
                    if (!m_formerSearches.empty())
                        showWindowToFormerSearches(piece.offset, window,
                                                   std::max<int64_t>(0, std::min(piece.length, volumeLength - piece.offset)));
                }
                if (carveError)
                    std::rethrow_exception(carveError);
                bytesDone = std::min(bytesToRead, bytesDone + std::min<int64_t>(piece.length, volumeLength - piece.offset));
                m_unreadable = reader.unreadableBytes();
                m_slow = reader.scheduler().slowBytes();
                piece = next;
                if (!m_running) {
                    stopped = true;
                    break;
                }
            }
        } catch (const std::exception& e) {
            failure = QCoreApplication::translate("CRecoveryControl", "the scan of %1 stopped on an internal error: %2")
                          .arg(m_volume->name(), QString::fromLocal8Bit(e.what()));
        } catch (...) {
            failure = QCoreApplication::translate("CRecoveryControl", "the scan of %1 stopped on an internal error.").arg(m_volume->name());
        }
        // What the first reads skipped is read again now that everything
        // readable has been read, for as long as the budget allows: the
        // list that remains is the bad sectors themselves.
        CUnreadableRanges readLate;
        if (!stopped && failure.isEmpty() && !reader.deviceLost() && reader.unreadableBytes() > 0)
            reader.lastPass(m_lastPassBudgetMs, [this]() { return m_running.load(); },
                            [&](int64_t offset, const uint8_t*, int64_t length) { readLate.add(offset, length); });
        reader.endSequential();
        // The old folders the windows showed are walked now, a stopped scan's
        // too (what they name is saved with it; a resumed scan does not
        // search again).
        finishFormerSearches();
        unreadable = reader.unreadableBytes();
        m_unreadable = unreadable;
        {
            std::lock_guard<std::mutex> lock(m_passesMutex);
            m_unreadableRanges = reader.unreadableRanges();
        }

        if (stopped) {
            settleCuts(false);
            checkpoint(false);
            emit scanThreadFinish();
            return;
        }
        if (failure.isEmpty() && reader.deviceLost()) {
            failure = lostDeviceReason(*m_volume, reader.lastError());
            settleCuts(false);
            // Once the device is back, the scan goes on from here.
            checkpoint(false);
        }
        if (failure.isEmpty()) {
            carver().finishPass(&m_carveRelay);
            // The carver saw zeros where the first reads skipped: what the
            // last pass read there is carved now.
            if (!readLate.isEmpty() && m_running) {
                CSkippedStretchCarver late(m_volume.get(), unusedOnly ? &freeRuns : nullptr, reader.unreadableRanges());
                late.carve(readLate, &m_carveRelay, &m_running);
            }
            settleCuts(true);
            checkpoint(true);
        }
    } catch (const std::exception& e) {
        failure = QCoreApplication::translate("CRecoveryControl", "the scan of %1 could not start: %2")
                      .arg(m_volume->name(), QString::fromLocal8Bit(e.what()));
    }

    m_running = false;
    if (!failure.isEmpty()) {
        emit notifyScanFailed(failure);
        return;
    }
    emit notifyProcess(kProgressTotal, kProgressTotal);
}
