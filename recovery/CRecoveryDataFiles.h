#pragma once

#include "disk/CDiskMappingPointer.h"
#include "disk/CUnreadableRanges.h"
#include "scan/CFileNode.h"

#include <QList>
#include <QString>
#include <QThread>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class CRecoveryCopy;
class IVolume;

// The recovery worker: copies found documents out of a volume into a
// folder, on its own thread.
//
// A carved document is the stretch of the volume from startSector x 512 for
// `size` bytes; a deleted file's document is its extents in order (a sparse
// one is zeros) up to `size`, or its resident bytes. Volume bytes are read
// through reader windows of at most W bytes (positioned reads only, so a
// scan reading the same volume at the same time cannot move our reads).
// It is written under a hidden temporary name that says it is partial
// (".2048.PDF.partial", made with O_EXCL) and only renamed to its final name
// once it is whole: the document's original name, else its sector name
// (name + "." + typeName), made safe (CRecoveryFileName). The rename never
// replaces anything: a name that is taken gets " (1)", " (2)" ... before its
// extension. So a file under a document's name is always a whole document,
// whatever ends the program; a leftover of a killed run is recognisable by
// its name. The file gets the document's modification time where one is
// known (the file system's, else the one the document states).
//
// The folder also gets report.xml (CRecoveryReport) listing every file
// written and every document left out, however the run ends; a report that
// cannot be written when everything else was fails the run
// (sigRecoveryFailed with its path).
//
// Nothing damaged is written as if it were the document. A document is
// left out (sigFileLeftOut, and the run goes on with the next one) when
// its own check says damaged, when it is partly overwritten or its entry
// cut short, or when the source gives no bytes for some of it (bad
// sectors, a source cut short since the scan, a page of a view that failed
// under the write) - unless it is one the caller asked for even so
// (setRecoveryFiles' `writeDamaged`). Those are written as they are, with
// zeros where the source gave nothing, and the report lists the unreadable
// runs. A document whose check has not run yet (the details pass had not
// come to it) is checked here, before anything is written, so that an
// early recovery never takes an unchecked document for whole.
//
// A run ends in exactly one of three ways:
//   - completion: sigRecoveryFinished(N), N the number of documents, after
//     the last one was written (or left out);
//   - failure: sigRecoveryFailed(file, reason, sourceUnreadable); the
//     unfinished file is removed, the files before it stay, no completion
//     follows. `sourceUnreadable` tells a source that is gone (the device
//     was removed; the output is fine) from an output that could not be
//     written;
//   - stop: stopRecovery() ends the run at its next read window and
//     removes the unfinished file; stopAfterCurrentFile() lets the current
//     file finish first. No further signal follows either.
// Before completion, sigRecoveryFinished carries the number of documents
// done so far, written or left out (1 .. N-1), so a value equal to N always
// means completion.
//
// Signals are delivered on the thread this object lives in (the thread that
// created it), and only for the current run: a value queued by a run that
// was stopped never reaches a receiver after the next start. That thread must
// therefore run an event loop.
class CRecoveryDataFiles : public QThread
{
    Q_OBJECT
public:
    static constexpr int kSectorSize = 512;
    // A folder that already holds this many files of one name is not worth
    // searching further for a free one.
    static constexpr int kMaxNameSuffix = 9999;
    // How the name of a file being written ends.
    static constexpr const char* kPartialSuffix = ".partial";

    // `windowSize` is the largest piece read and written at once (W); it is
    // rounded down to a multiple of 512. Tests pass small windows.
    explicit CRecoveryDataFiles(QObject* parent = nullptr,
                                uint32_t windowSize = CDiskMappingPointer::kDefaultWindowSize);
    ~CRecoveryDataFiles() override;

    // The setters only prepare the next run; a run in progress keeps what it
    // started with.
    void setSavePath(const QString& path);
    void setDiskHandle(std::shared_ptr<IVolume> volume);
    // `writeDamaged[i]`: write files[i] even when it is damaged or over
    // unreadable sectors (missing entries: no).
    bool setRecoveryFiles(const QList<CFileNode>& files, const QVector<bool>& writeDamaged = {});
    // Stretches of the volume the scan could not read: documents over them
    // are left out without reading them again (unless asked for), and the
    // report lists them.
    void setKnownUnreadable(const CUnreadableRanges& ranges);
    // Writes each document into its original folder, made again under the
    // save path (CRecoveryFolderPath), instead of all into the save path.
    void setKeepFolders(bool keep);

    // Ends the run at its next read window; the unfinished file is removed.
    // A start that waits for the run to end is dropped too.
    void stopRecovery();
    // Lets the file being copied finish, then ends the run. A start that
    // waits for the run to end is dropped too.
    void stopAfterCurrentFile();

    // Starts a run with what the setters were given. Never blocks: a
    // stopped run that is still ending is left to end, and the new run
    // starts from this object's event loop as soon as it has (signals of
    // the old run are dropped from the moment of this call). Hides
    // QThread::start so that a start is never lost while an earlier run ends.
    void start(QThread::Priority priority = QThread::InheritPriority);
    // A run is going or about to start.
    bool isBusy() const { return isRunning() || m_startQueued.load(); }

    uint32_t windowSize() const { return m_windowSize; }

    // Outcome of the last run, valid once it has finished.
    int writtenCount() const { return m_written.load(); }
    int leftOutCount() const { return m_leftOut.load(); }
    QString failedFile() const;
    QString failureReason() const;

signals:
    // Files written so far (1 .. N-1) after each file, then N once at the end.
    void sigRecoveryFinished(int value);
    // One file written and closed: its 1-based number in the list and the
    // path it was written to (which may carry a " (k)" suffix).
    void sigFileRecovered(int number, QString filePath);
    // Document `number` (1-based) was not written: `name` is the name it
    // would have had, `reason` an English sentence that says why;
    // `unreadable`: the source gave no bytes for some of it (else it is
    // damaged).
    void sigFileLeftOut(int number, QString name, QString reason, bool unreadable);
    // File `number` (1-based) is being written under `partialPath`; it will
    // be named `finalName` (or "name (k).ext") when whole.
    void sigFileStarted(int number, QString partialPath, QString finalName);
    // The run stopped at `filePath` (a file or the output folder) because
    // of `reason`, an English sentence that ends with what to do.
    // `sourceUnreadable`: the source could not be read there; nothing is
    // wrong with the output.
    void sigRecoveryFailed(QString filePath, QString reason, bool sourceUnreadable);

protected:
    void run() override;

private:
    struct Job
    {
        QList<CFileNode> files;
        QVector<bool> writeDamaged;
        CUnreadableRanges knownUnreadable;
        QString savePath;
        std::shared_ptr<IVolume> volume;
        uint64_t generation = 0;
        bool keepFolders = false;
    };

    // Who should own what we create: the user behind sudo or pkexec.
    struct Owner
    {
        bool valid = false;
        unsigned int uid = 0;
        unsigned int gid = 0;
    };

    enum class Outcome { Written, LeftOut, LeftOutUnreadable, Failed, SourceUnreadable, Stopped };

    // What recoverOne wrote, for the report.
    struct Written
    {
        CFileNode node; // with its check, where it ran here
        QByteArray sha256Hex;
        CUnreadableRanges fileUnreadable;   // in the file's offsets
        CUnreadableRanges volumeUnreadable; // met on the volume
    };

    static Owner invokingUser();
    bool makeFolder(const QString& folder, const Owner& owner, QString* failedPath, QString* reason) const;
    // Makes `names` one inside the other under `base` (made already) and
    // sets `folder` to the innermost. A name taken by anything but a folder
    // (a file, or a link, which is never followed) gets " (1)", " (2)" ...
    bool makeSubfolders(const QString& base, const QStringList& names, const Owner& owner, QString* folder,
                        QString* reason) const;
    // The runs of the volume to copy, in order (none for resident bytes),
    // checked against the volume.
    bool planCopy(const CFileNode& node, IVolume* volume, QVector<CFileNode::Extent>* runs, QString* reason) const;
    // A compressed file's units, decompressed, up to its length, written
    // through `copy` (which hashes them).
    Outcome copyCompressed(const CFileNode& node, IVolume* volume, const QVector<CFileNode::Extent>& runs, int fd,
                           bool writeDamaged, CRecoveryCopy* copy, QString* reason) const;
    Outcome recoverOne(const Job& job, int number, const Owner& owner, Written* written, QString* path,
                       QString* reason);
    void post(uint64_t generation, std::function<void()> emitter);
    void fail(uint64_t generation, const QString& path, const QString& reason, bool sourceUnreadable);
    void launch();

    const uint32_t m_windowSize;
    std::atomic<bool> m_running{true};
    std::atomic<bool> m_stopAfterFile{false};
    // A start() came while a stopped run was still ending.
    std::atomic<bool> m_startQueued{false};
    QThread::Priority m_priority = QThread::InheritPriority;
    std::atomic<uint64_t> m_generation{0};
    std::atomic<int> m_written{0};
    std::atomic<int> m_leftOut{0};

    // What the setters were given, for the next start.
    mutable std::mutex m_mutex;
    Job m_pending;
    // What the current run works on; replaced only by start() while no run
    // is active.
    Job m_job;
    QString m_failedFile;
    QString m_failureReason;
};
