#pragma once

#include "disk/CFileVolume.h"
#include "scan/CNotifyFileNode.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class CFat32Scanner;
class CNtfsScanner;
class CSignatureCarver;
class IVolume;

// The scan worker: runs one whole scan of a volume on its own thread.
//
// First the file-system pass reports the documents that live files still
// own; then the raw pass reads the volume window by window (double
// buffered) and hands each window to the carving pass on a carving thread
// while the next one is read. Everything found goes out through relay().
//
// A scan ends in exactly one of four ways: notifyProcess(1000, 1000) after
// the last window, scanThreadFinish() after a stop, notifyScanFailed() when
// the pass could not go on (a device that went away, an internal error), or
// notifyOpenFailed() when the source could not be opened at all (then no
// thread runs). Callers that need to know the worker is done wait for
// QThread::finished, which comes after the last signal.
class CRecoveryControl : public QThread
{
    Q_OBJECT
public:
    explicit CRecoveryControl(QObject* parent = nullptr);
    ~CRecoveryControl() override;

    // Opens `devicePath` read-only and starts the scan. Returns false when
    // it cannot be opened (notifyOpenFailed follows, queued) or when a scan
    // already runs.
    bool beginScan(const QString& devicePath, const QString& fileSystem);
    // Same, on a volume the caller opened (an image probed first, a memory
    // volume in tests).
    bool beginScan(std::shared_ptr<IVolume> volume, const QString& fileSystem);

    void stopScan();
    bool isScanning() const { return m_running.load(); }

    // The open volume; it stays open after the scan for recovery.
    std::shared_ptr<IVolume> diskHandle() const { return m_volume; }
    CNotifyFileNode* relay() { return &m_relay; }
    QString fileSystem() const { return m_fileSystem; }

    // Window size of the raw pass; tests use small windows.
    void setWindowSize(uint32_t bytes) { m_windowSize = bytes; }
    uint32_t windowSize() const { return m_windowSize; }

    // Why the last beginScan() could not open its source (the cause the
    // window words; its English reason is what notifyOpenFailed carries).
    const CFileVolume::OpenError& openError() const { return m_openError; }

    // Bytes inside the volume that could not be read (zero-filled instead),
    // known once the worker has finished.
    int64_t unreadableBytes() const { return m_unreadable.load(); }

signals:
    void notifyProcess(long long total, long long current);
    void scanThreadFinish();
    void notifyOpenFailed(QString reason);
    void notifyScanFailed(QString reason);

protected:
    void run() override;

private:
    void runFileSystemPass();
    void failOpen(const QString& reason);

    CNotifyFileNode m_relay;
    std::unique_ptr<CSignatureCarver> m_carver;
    std::atomic<bool> m_running{true};
    // The file-system scanners, kept until the worker goes. Stored and
    // reached only under m_passMutex, and stored before the active-pass
    // marker is set, so stopScan() always finds the one that runs.
    std::unique_ptr<CNtfsScanner> m_ntfsScanner;
    std::unique_ptr<CFat32Scanner> m_fat32Scanner;
    std::shared_ptr<IVolume> m_volume;
    QString m_fileSystem;
    CFileVolume::OpenError m_openError;
    // -1 none, 1 NTFS, 2 FAT32. Written by the worker, read by stopScan()
    // on the interface thread; the scanners themselves are reached under
    // m_passMutex so that a stop can never miss the one that runs.
    std::atomic<int> m_activePass{-1};
    std::mutex m_passMutex;
    std::atomic<int64_t> m_unreadable{0};
    uint32_t m_windowSize;
};
