#pragma once

#include "disk/CFileVolume.h"
#include "disk/CPartitionInfo.h"
#include "disk/CUnreadableRanges.h"
#include "details/CPieceSearch.h"
#include "scan/CNotifyFileNode.h"
#include "scan/CScanJournal.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

class CAllocationMapSet;
class CExfatScanner;
class CFat32Scanner;
class CNtfsScanner;
class CWindowCarver;
class IAllocationMap;
class IVolume;
class IWindowObserver;

// The scan worker: runs one whole scan of a volume on its own thread.
//
// First the file-system pass reports the documents that live files still
// own and leaves the volume's allocation map behind; then the raw pass
// reads the volume window by window (double buffered) and hands each window
// to the carving pass on a carving thread while the next one is read (in two
// halves at once, see CWindowCarver). Everything found goes out through
// relay(), except carved documents whose first byte lies in a cluster the
// file system marks in use: those belong to a live file, whatever it is
// named.
//
// With a session file set, the worker saves what it has done (every
// checkpoint interval, when stopped and when finished; see CScanJournal),
// and resumeFrom() has the next scan go on from such a state.
//
// With the file system "auto" the worker reads the source itself: a boot
// sector of NTFS or FAT32 at its start, or else a partition table, each of
// whose partitions gets the pass its own boot sector names, run over a view
// of the source at the partition's offset. The space no entry covers (the
// whole disk when there is no table) is searched for the file systems of
// deleted partitions (CLostPartitionSearch); each found gets its pass as a
// partition does, and is announced with notifyFoundPartition(). Everything
// posted is in source coordinates.
//
// When a file system was read, the carving pass reads only the bytes that
// no live file holds (CFreeSpaceRuns over the allocation maps: free and
// orphaned clusters, everything outside the file systems), in ascending
// runs; at the end of each run the open documents end as at the end of the
// volume, since what follows belongs to a live file. setWholeVolume(true),
// or a source where no file system was read, has it read the whole source
// once. Progress counts the bytes to read.
//
// A file-system pass that cannot read its volume, and a damaged partition
// table, are reported through notifyWarning(); the scan goes on.
//
// A scan ends in exactly one of four ways: notifyProcess(1000, 1000) after
// the last window, scanThreadFinish() after a stop, notifyScanFailed() when
// the pass could not go on (a device that went away, an internal error), or
// notifyOpenFailed() when the source could not be opened at all (then no
// pass runs). A device the user may not open is asked of udisks2 on the
// worker thread, since a password dialog may stay up for minutes; a stop
// during that wait ends it with scanThreadFinish(). Callers that need to know the worker is done wait for
// QThread::finished, which comes after the last signal.
class CRecoveryControl : public QThread
{
    Q_OBJECT
public:
    // What notifyWarning() is about.
    enum WarningKind : int
    {
        // A file-system pass could not read its volume: the documents of
        // live files there are listed too.
        WarningFileSystem = 1,
        // The partition table is damaged: some partitions may have had no
        // file-system pass; the whole source is still carved.
        WarningPartitionTable = 2,
        // "auto" found no NTFS or FAT32 file system anywhere on the source.
        WarningNoFileSystem = 3,
        // The session file cannot be written: the scan goes on unsaved.
        WarningSession = 4,
    };

    // One file-system pass of a scan, in source coordinates.
    struct FileSystemPass
    {
        QString fileSystem; // "NTFS" or "FAT32"
        int64_t offset = 0; // bytes from the start of the source
        int64_t length = 0;
        int partition = 0;  // the partition's number in its table; 0: the whole source
        bool read = false;  // whether the pass could read the file system
        // A volume no table entry names, found by searching the disk (a
        // deleted partition); its boot sector may be read from a backup
        // copy this far into it (0: its own).
        bool found = false;
        int64_t bootCopyOffset = 0;
        int64_t bootCopyLength = 0;
        // Where its clusters lie once it was read: their size, and the
        // first one's offset on the source (0: not known).
        int64_t cluster = 0;
        int64_t clusterOrigin = 0;
    };

    explicit CRecoveryControl(QObject* parent = nullptr);
    ~CRecoveryControl() override;

    // The file-system name that has the worker find out for itself.
    static QString autoFileSystem() { return CPartitionInfo::autoFileSystem(); }

    // Opens `devicePath` read-only and starts the scan. Returns false when
    // it cannot be opened (notifyOpenFailed follows, queued) or when a scan
    // already runs. When only rights are lacking it returns true and the
    // worker asks udisks2 first (notifyOpenFailed follows if that fails).
    bool beginScan(const QString& devicePath, const QString& fileSystem);
    // Same, on a volume the caller opened (an image probed first, a memory
    // volume in tests).
    bool beginScan(std::shared_ptr<IVolume> volume, const QString& fileSystem);

    void stopScan();
    bool isScanning() const { return m_running.load(); }

    // The open volume; it stays open after the scan for recovery.
    std::shared_ptr<IVolume> diskHandle() const;

    // How long udisks2 may take to answer (the user typing a password).
    void setServiceTimeout(int milliseconds) { m_serviceTimeoutMs = milliseconds; }
    CNotifyFileNode* relay() { return &m_relay; }
    QString fileSystem() const { return m_fileSystem; }

    // Whether the carving pass reads the whole source even when a file
    // system was read (by default it reads only what no live file holds).
    // Before beginScan().
    void setWholeVolume(bool whole) { m_wholeVolume = whole; }
    bool wholeVolume() const { return m_wholeVolume; }
    // What the raw pass of the last scan reads, known once it has begun
    // (notifyReadPlan): only unused space or the whole source, and how many
    // bytes that is.
    bool unusedSpaceOnly() const { return m_unusedOnly.load(); }
    int64_t bytesToRead() const { return m_bytesToRead.load(); }

    // Window size of the raw pass; tests use small windows.
    void setWindowSize(uint32_t bytes) { m_windowSize = bytes; }
    uint32_t windowSize() const { return m_windowSize; }

    // Why the last beginScan() could not open its source (the cause the
    // window words; its English reason is what notifyOpenFailed carries).
    const CFileVolume::OpenError& openError() const { return m_openError; }

    // Saves the scan's state to `path` during and at the end of the raw
    // pass (an empty path: never). Before beginScan().
    void setSessionFile(const QString& path, const CScanJournal::Identity& identity);
    void setCheckpointInterval(int milliseconds) { m_checkpointMs = milliseconds; }
    // The next scan goes on from `state`: its records are posted at once,
    // the file-system pass runs again for the allocation maps (and posts
    // only what FAT's and exFAT's search for old folders finds that the
    // state lacks: a scan killed in its carving pass had not posted it), and
    // the raw pass restarts at
    // the oldest document that was still being followed (what it finds
    // again there is not posted twice). A finished state only posts.
    // The scan goes on as the state says it was made (its file system and
    // whole-volume settings take the place of those given), so that its
    // list is the one a single scan made that way gives.
    void resumeFrom(CScanJournal::State state);
    // The reason the last save failed ("" when none did).
    QString sessionError() const;
    // A carved document found in pieces once the scan had ended (or one
    // no listing had): written down with its pieces, the saved scan saved
    // again as it was, so that it opens again whole (see CScanJournal).
    void recordReassembled(const CFileNode& node);

    // Bytes inside the volume that could not be read (zero-filled instead),
    // known once the worker has finished.
    // While the scan runs, what could not be read so far.
    int64_t unreadableBytes() const { return m_unreadable.load(); }
    // Where the unreadable bytes lie, in source offsets, known once the
    // worker has finished: the bad sectors, and what the last pass had no
    // time left to narrow.
    CUnreadableRanges unreadableRanges() const;
    // Bytes read far below the disk's pace so far (a slow region).
    int64_t slowBytes() const { return m_slow.load(); }
    // How long the last pass may spend on what the first reads skipped.
    // Before beginScan().
    void setLastPassBudget(int64_t milliseconds) { m_lastPassBudgetMs = milliseconds; }
    static constexpr int64_t kDefaultLastPassBudgetMs = 60 * 1000;

    // Which bytes of the source the file systems mark in use, in source
    // offsets; made by the file-system pass (empty when none ran or none
    // could be read). Set before the raw pass starts and unchanged until the
    // next scan begins, so it may be asked from any thread once the raw pass
    // runs or the scan has ended.
    std::shared_ptr<const IAllocationMap> allocationMap() const;
    // Carved documents left out because they start in a cluster in use.
    int carvedInUse() const { return m_carvedInUse.load(); }

    // The file-system passes of the last scan, known once the worker has
    // finished (or once the raw pass has begun).
    std::vector<FileSystemPass> fileSystemPasses() const;
    // How the search for documents' pieces is to go on this source: on
    // each file system's own cluster grid.
    CPieceSearch::Settings pieceSearch() const;

signals:
    void notifyProcess(long long total, long long current);
    void scanThreadFinish();
    void notifyOpenFailed(QString reason);
    void notifyScanFailed(QString reason);
    // `kind` is a WarningKind; `text` a readable English sentence.
    void notifyWarning(int kind, QString text);
    // A file system no partition entry names was found at `sector` (of 512
    // bytes) and gets its pass: `bytes` long, `fileSystem` as in
    // FileSystemPass.
    void notifyFoundPartition(QString fileSystem, long long sector, long long bytes);
    // The raw pass begins: it reads `bytesToRead` bytes of the source, only
    // its unused space or all of it. A finished scan opened again says what
    // its raw pass read, before its last progress.
    void notifyReadPlan(bool unusedSpaceOnly, long long bytesToRead);

protected:
    void run() override;

private:
    // Which file systems to read where, from the file-system name given
    // (reads the boot sector and the partition table for "auto").
    std::vector<FileSystemPass> planFileSystemPasses();
    // `post`: whether the passes report what they find (not when resuming:
    // they run again only for the allocation maps).
    void runFileSystemPasses(bool post);
    // The one place where a pass runs over its volume.
    void runFileSystemPass(FileSystemPass& pass, bool post);
    void failOpen(const QString& reason);
    // Takes the settings of the state to resume, if any.
    void followResumedScan();
    void recordEntry(CScanJournal::Entry entry);
    // Writes the session file: everything before `reached` carved, the pass
    // to go on from `resumeOffset`.
    void saveSession(int64_t resumeOffset, int64_t reached, bool finished);
    bool openThroughService();
    // On the carving thread: passes a carved document on unless it starts
    // in a cluster in use.
    void relayCarved(const CFileNode& node);

    CNotifyFileNode m_relay;
    std::shared_ptr<CAllocationMapSet> m_allocation;
    std::atomic<int> m_carvedInUse{0};
    std::unique_ptr<CWindowCarver> m_carver;
    std::atomic<bool> m_running{true};
    // The file-system scanners, kept until the worker goes. Stored and
    // reached only under m_passMutex, and stored before the active-pass
    // marker is set, so stopScan() always finds the one that runs.
    std::unique_ptr<CNtfsScanner> m_ntfsScanner;
    std::unique_ptr<CFat32Scanner> m_fat32Scanner;
    std::shared_ptr<IVolume> m_volume;
    // The device to ask udisks2 for when the scan starts without a volume.
    QString m_servicePath;
    int m_serviceTimeoutMs;
    mutable std::mutex m_volumeMutex; // m_volume, which the worker sets after asking udisks2
    QString m_fileSystem;
    CFileVolume::OpenError m_openError;
    // -1 none, 1 NTFS, 2 FAT32. Written by the worker, read by stopScan()
    // on the interface thread; the scanners themselves are reached under
    // m_passMutex so that a stop can never miss the one that runs.
    std::atomic<int> m_activePass{-1};
    std::mutex m_passMutex;
    std::atomic<int64_t> m_unreadable{0};
    std::atomic<int64_t> m_slow{0};
    int64_t m_lastPassBudgetMs = kDefaultLastPassBudgetMs;
    CUnreadableRanges m_unreadableRanges; // under m_passesMutex
    bool m_wholeVolume = false;
    std::atomic<bool> m_unusedOnly{false};
    std::atomic<int64_t> m_bytesToRead{0};
    // The views the passes read through, kept as long as their scanners,
    // and the relays that move a partition's posts onto the source, kept
    // for what a pass posts after the carving pass.
    std::vector<std::shared_ptr<IVolume>> m_passVolumes;
    std::vector<std::unique_ptr<CNotifyFileNode>> m_passRelays;
    // FAT and exFAT passes whose search for a formatted volume's old folders
    // looks at the carving pass's windows (of the pass's volume, `offset`
    // bytes into the source and `length` long) and ends after it. Set and
    // shown the windows by the worker thread.
    struct FormerSearch
    {
        int64_t offset = 0;
        int64_t length = 0;
        IWindowObserver* observer = nullptr;
        std::function<void()> finish;
    };
    std::vector<FormerSearch> m_formerSearches;
    // Such scanners that a later FAT pass took the place of (m_passMutex),
    // and the exFAT ones.
    std::vector<std::unique_ptr<CFat32Scanner>> m_waitingFatScanners;
    std::vector<std::unique_ptr<CExfatScanner>> m_waitingExfatScanners;
    // Shows a window the carving pass read to the searches, and ends them.
    void showWindowToFormerSearches(int64_t offset, const uint8_t* bytes, int64_t length);
    void finishFormerSearches();
    std::vector<FileSystemPass> m_passes;
    mutable std::mutex m_passesMutex;
    uint32_t m_windowSize;

    // The session: where it is saved, and everything posted so far.
    QString m_sessionPath;
    CScanJournal::Identity m_identity;
    int m_checkpointMs = 30000;
    std::unique_ptr<CScanJournal::State> m_resume;
    // Documents the resumed state holds already: (sector, type code), the
    // carved ones and the others.
    std::set<std::pair<quint64, int>> m_alreadyCarved;
    std::set<std::pair<quint64, int>> m_alreadyListed;
    // What a resumed scan's file-system passes post goes through here.
    CNotifyFileNode m_savedRelay;
    // Everything posted so far, as the records of the session file.
    std::vector<QByteArray> m_records;
    mutable std::mutex m_sessionMutex;
    QString m_sessionError;
    // What the last save said of the scan, for saving it again as it was.
    bool m_sessionSaved = false;
    int64_t m_savedResumeOffset = 0;
    int64_t m_savedReached = 0;
    bool m_savedFinished = false;
    // The carving pass posts here; what it finds again after a resume is
    // left out on the way to m_relay.
    CNotifyFileNode m_carveRelay;
    // Carved documents cut by bytes in use, posted from the carving threads
    // and settled at the end of the raw pass.
    std::vector<CFileNode> m_cuts;
    std::mutex m_cutsMutex;
};
