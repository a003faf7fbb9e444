#include "scan/CRecoveryControl.h"

#include "disk/CDiskMappingPointer.h"
#include "disk/CFileVolume.h"
#include "disk/IVolume.h"
#include "filesystems/CFat32Scanner.h"
#include "filesystems/CNtfsScanner.h"
#include "scan/CSignatureCarver.h"

#include <QMetaObject>

#include <cstring>
#include <exception>
#include <stdexcept>
#include <thread>

namespace {

constexpr int kSectorSize = 512;
constexpr int kPassNone = -1;
constexpr int kPassNtfs = 1;
constexpr int kPassFat32 = 2;
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
    return QStringLiteral("the source %1 can no longer be read (%2): the device was removed or has failed. "
                          "Reconnect it and scan again.")
        .arg(volume.name(), QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

CRecoveryControl::CRecoveryControl(QObject* parent)
    : QThread(parent)
    , m_windowSize(CDiskMappingPointer::kDefaultWindowSize)
{
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
    CFileVolume::OpenError error;
    std::unique_ptr<CFileVolume> volume = CFileVolume::open(devicePath, &error);
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
    if (!volume) {
        m_openError = CFileVolume::OpenError();
        m_openError.kind = CFileVolume::SourceKind::Missing;
        m_openError.reason = QStringLiteral("no source to scan.");
        failOpen(m_openError.reason);
        return false;
    }
    m_volume = std::move(volume);
    m_running = true;
    start(QThread::InheritPriority);
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

void CRecoveryControl::runFileSystemPass()
{
    // The names are compared exactly: any other spelling gets no pass.
    if (m_fileSystem == QLatin1String("NTFS")) {
        CNtfsScanner* scanner = new CNtfsScanner(m_volume.get(), &m_relay, &m_running);
        {
            std::lock_guard<std::mutex> lock(m_passMutex);
            m_ntfsScanner.reset(scanner);
            m_activePass = kPassNtfs;
        }
        // The scanner also watches m_running, so a stop that came before
        // the marker was set is not lost.
        scanner->scan();
    } else if (m_fileSystem == QLatin1String("FAT32")) {
        CFat32Scanner* scanner = new CFat32Scanner(m_volume.get(), &m_relay, &m_running);
        {
            std::lock_guard<std::mutex> lock(m_passMutex);
            m_fat32Scanner.reset(scanner);
            m_activePass = kPassFat32;
        }
        scanner->scan();
    }
    std::lock_guard<std::mutex> lock(m_passMutex);
    m_activePass = kPassNone;
}

void CRecoveryControl::run()
{
    try {
        runFileSystemPass();
    } catch (const std::exception&) {
        // The live-file list is a filter, not the goal: a pass that could
        // not finish (out of memory on a monstrous directory, say) ends
        // here and the documents are still carved.
        std::lock_guard<std::mutex> lock(m_passMutex);
        m_activePass = kPassNone;
    }
    // A stop during the file-system pass ends the scan there: no raw pass,
    // no progress after it.
    if (!m_running) {
        emit scanThreadFinish();
        return;
    }

    QString failure;
    int64_t unreadable = 0;
    try {
        CDiskMappingPointer reader(m_volume.get(), 0, m_windowSize);
        const uint32_t w = reader.windowSize();
        emit notifyProcess(kProgressTotal, 0);

        m_carver.reset(new CSignatureCarver);
        CSignatureCarver* carver = m_carver.get();
        carver->setVolumeLength(reader.length());
        reader.beginSequential();

        bool stopped = false;
        try {
            while (!reader.atEnd()) {
                if (reader.deviceLost())
                    break;
                emit notifyProcess(kProgressTotal, reader.progress());
                const uint8_t* window = reader.pointer();
                std::exception_ptr carveError;
                {
                    ScopedThread carving([&]() {
                        try {
                            carver->carveWindow(&m_relay, window, w, kSectorSize);
                        } catch (...) {
                            carveError = std::current_exception();
                        }
                    });
                    reader.nextWindow();
                }
                if (carveError)
                    std::rethrow_exception(carveError);
                if (!m_running) {
                    stopped = true;
                    break;
                }
            }
        } catch (const std::exception& e) {
            failure = QStringLiteral("the scan of %1 stopped on an internal error: %2")
                          .arg(m_volume->name(), QString::fromLocal8Bit(e.what()));
        } catch (...) {
            failure = QStringLiteral("the scan of %1 stopped on an internal error.").arg(m_volume->name());
        }
        reader.endSequential();
        unreadable = reader.unreadableBytes();
        m_unreadable = unreadable;

        if (stopped) {
            emit scanThreadFinish();
            return;
        }
        if (failure.isEmpty() && reader.deviceLost())
            failure = lostDeviceReason(*m_volume, reader.lastError());
        if (failure.isEmpty())
            carver->finishPass(&m_relay);
    } catch (const std::exception& e) {
        failure = QStringLiteral("the scan of %1 could not start: %2")
                      .arg(m_volume->name(), QString::fromLocal8Bit(e.what()));
    }

    m_running = false;
    if (!failure.isEmpty()) {
        emit notifyScanFailed(failure);
        return;
    }
    emit notifyProcess(kProgressTotal, kProgressTotal);
}
