#include "cli/CScanSession.h"

#include "disk/CDdrescueMap.h"
#include "disk/CKnownBadVolume.h"
#include "disk/CVolumeImager.h"

#include <QFile>
#include <QFileInfo>

#include "cli/CInterruptWatch.h"
#include "cli/CProgressPrinter.h"
#include "cli/CTextAuthAgent.h"
#include "details/CDetailsWorker.h"
#include "disk/CBootSectorProbe.h"
#include "disk/CEwfVolume.h"
#include "disk/CFileVolume.h"
#include "disk/CUDisksOpener.h"
#include "results/CCreateTreeNode.h"
#include "results/CRelayInbox.h"
#include "scan/CRecoveryControl.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CScanJournal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdio>

namespace {

// A --fs value as the command line spells it; the worker takes "" (the
// command line's "none") and "none" alike.
QString fileSystemWords(const QString& requested)
{
    if (requested.isEmpty() || requested.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("--fs none");
    return QStringLiteral("--fs ") + requested;
}

// How a saved scan was made, in the options that make it.
QString settingsWords(const CScanJournal::State& saved)
{
    QString words = fileSystemWords(saved.fileSystem);
    if (saved.wholeVolumeSaved)
        words += saved.wholeVolume ? QStringLiteral(" --whole") : QStringLiteral(" without --whole");
    return words;
}

} // namespace

CScanSession::CScanSession(QObject* parent)
    : QObject(parent)
{
    registerFileNodeMetaType();
}

CScanSession::~CScanSession() = default;

QString CScanSession::fileSystemOption(const QString& value)
{
    const QString upper = value.toUpper();
    if (upper == QLatin1String("AUTO"))
        return QStringLiteral("auto");
    if (upper == QLatin1String("NONE"))
        return QStringLiteral("none");
    if (upper == QLatin1String("NTFS") || upper == QLatin1String("FAT32") || upper == QLatin1String("FAT16")
        || upper == QLatin1String("FAT12") || upper == QLatin1String("EXT4"))
        return upper;
    if (upper == QLatin1String("EXFAT"))
        return QStringLiteral("exFAT");
    return QString();
}

QString CScanSession::unknownFileSystemText(const QString& value)
{
    return QStringLiteral("unknown file system '%1' (use auto, NTFS, FAT32, FAT16, FAT12, exFAT, EXT4 or none)").arg(value);
}

QString CScanSession::readPlanLine() const
{
    if (!m_unusedOnly)
        return QString();
    return QStringLiteral("Scanning unused space only: %1 of %2 read; --whole scans the whole volume.\n")
        .arg(CFileTypeCatalogue::sizeText(m_bytesToRead), CFileTypeCatalogue::sizeText(volumeLength()));
}

int64_t CScanSession::volumeLength() const
{
    return m_volume ? m_volume->length() : 0;
}

CScanSession::Outcome CScanSession::run(const QString& source, const QString& fileSystemOption,
                                        CProgressPrinter* progress)
{
    m_documents.clear();
    m_failure.clear();

    // An E01 image is read through libewf: the acquired disk, not the
    // segment file's bytes.
    std::shared_ptr<IVolume> ewf;
    if (CEwfVolume::isEwfImage(source)) {
        QString reason;
        std::unique_ptr<CEwfVolume> image = CEwfVolume::open(source, &reason);
        if (!image) {
            m_failure = reason;
            return Outcome::OpenFailed;
        }
        ewf = std::move(image);
    }
    CFileVolume::OpenError error;
    std::unique_ptr<CFileVolume> opened = ewf ? nullptr : CFileVolume::open(source, &error);
    // Without the rights, udisks2 may still grant read access after a
    // password (polkit's agent asks, in the terminal when no desktop does).
    // Only a device: udisks2 opens nothing else, and the bus is not
    // reached for an image. Ctrl-C or SIGTERM ends the wait.
    if (!ewf && !opened && CFileVolume::refusedForRights(error) && error.kind == CFileVolume::SourceKind::BlockDevice) {
        CTextAuthAgent agent;
        opened = CUDisksOpener().open(source, &error, []() { return CInterruptWatch::interrupted(); });
    }
    if (!ewf && !opened) {
        m_failure = error.reason;
        return Outcome::OpenFailed;
    }
    // An E01 image carries its own checksums: no ddrescue map beside it.
    const bool imageFile = !ewf && !opened->isBlockDevice();
    m_volume = ewf ? ewf : std::shared_ptr<IVolume>(std::move(opened));
    // Identified as the image itself, map or not.
    const CScanJournal::Identity identity = CScanJournal::identify(*m_volume);

    m_usedMap.clear();
    QString mapPath = m_mapFile;
    if (mapPath.isEmpty() && imageFile)
        mapPath = CKnownBadVolume::mapBeside(source);
    if (!mapPath.isEmpty()) {
        int64_t unread = 0;
        std::shared_ptr<IVolume> mapped = CKnownBadVolume::withMap(m_volume, mapPath, &m_failure, &unread);
        if (!mapped)
            return Outcome::OpenFailed;
        m_volume = std::move(mapped);
        m_usedMap = mapPath;
        std::fprintf(stderr, "tamsel-cli: reading %s with the map %s: %lld byte(s) it says were not read are "
                             "unreadable.\n",
                     source.toUtf8().constData(), mapPath.toUtf8().constData(), static_cast<long long>(unread));
    }

    // "auto" is the worker's: it reads the boot sector, or the partition
    // table and each partition's boot sector.
    QString requested;
    if (fileSystemOption.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0)
        requested = CRecoveryControl::autoFileSystem();
    else if (fileSystemOption.compare(QLatin1String("none"), Qt::CaseInsensitive) != 0)
        requested = CScanSession::fileSystemOption(fileSystemOption); // the worker's spelling: "exFAT", not "EXFAT"
    m_fileSystem.clear();
    m_warnings.clear();
    m_foundPartitions.clear();

    CRecoveryControl control;
    control.setWholeVolume(m_whole);
    m_unusedOnly = false;
    m_bytesToRead = 0;
    // Every scan is saved as it goes, so that one cut short can go on later.
    const QString sessionFile = CScanJournal::fileFor(identity);
    control.setSessionFile(sessionFile, identity);
    m_resumed = false;
    CScanJournal::State saved;
    QString notice;
    // The saved list itself is read only to go on with it.
    const bool haveSaved = CScanJournal::load(sessionFile, identity, &saved, &notice, m_resume);
    if (!notice.isEmpty())
        std::fprintf(stderr, "tamsel-cli: %s\n", notice.toUtf8().constData());
    if (m_resume && haveSaved) {
        // The saved list and the rest of the scan must be made the same
        // way: a setting asked for that differs is refused, not mixed in.
        QStringList differing;
        if (m_fileSystemGiven
            && fileSystemWords(requested).compare(fileSystemWords(saved.fileSystem), Qt::CaseInsensitive) != 0)
            differing << fileSystemWords(requested);
        if (m_whole && saved.wholeVolumeSaved && !saved.wholeVolume)
            differing << QStringLiteral("--whole");
        if (!differing.isEmpty()) {
            const QString given = differing.join(QLatin1Char(' '));
            m_failure = QStringLiteral("the scan of %1 saved before was made with %2, and --resume goes on with it "
                                       "only the way it was made. Leave out %3 to go on with it, or scan afresh "
                                       "without --resume.")
                            .arg(source, settingsWords(saved), given);
            return Outcome::ResumeRefused;
        }
        m_resumed = true;
        m_fileSystem = saved.fileSystem;
        const QByteArray made = settingsWords(saved).toUtf8();
        if (saved.finished)
            std::fprintf(stderr,
                         "tamsel-cli: listing the finished scan of %s saved before (made with %s), without "
                         "scanning.\n",
                         source.toUtf8().constData(), made.constData());
        else
            std::fprintf(stderr, "tamsel-cli: going on with the scan of %s saved before (made with %s), from byte %lld.\n",
                         source.toUtf8().constData(), made.constData(), static_cast<long long>(saved.resumeOffset));
        control.resumeFrom(std::move(saved));
    } else if (m_resume) {
        std::fprintf(stderr, "tamsel-cli: no saved scan of %s to go on with; scanning it afresh.\n",
                     source.toUtf8().constData());
    } else if (haveSaved && !saved.finished) {
        std::fprintf(stderr, "tamsel-cli: an unfinished scan of %s was saved; --resume goes on from it.\n",
                     source.toUtf8().constData());
    }
    std::fflush(stderr);
    // Ctrl-C stops the scan at the end of its window; what was found stays.
    CInterruptWatch interrupt([&control]() {
        control.stopScan();
        std::fputs("\ntamsel-cli: stopping the scan here, press Ctrl-C again to abort.\n", stderr);
        std::fflush(stderr);
    });
    // The same tree builder the window fills, so that both list exactly the
    // same documents, in the same order: live files' documents left out.
    CCreateTreeNode builder;
    // The details pass reads each document as it is listed, as in the
    // window, at idle priority beside the scan; the listing waits for it.
    CDetailsWorker details;
    if (m_readDetails) {
        details.setVolume(m_volume);
        connect(&builder, &CCreateTreeNode::documentListed, &details, &CDetailsWorker::enqueue);
        connect(&details, &CDetailsWorker::detailsReady, &builder, &CCreateTreeNode::applyDetails);
        connect(&builder, &CCreateTreeNode::documentInPieces, &control, &CRecoveryControl::recordReassembled,
                Qt::DirectConnection);
    }
    QEventLoop loop;
    Outcome outcome = Outcome::Finished;

    CRelayInbox inbox(&builder);
    inbox.attach(control.relay());
    m_firstPermille = -1;
    connect(&control, &CRecoveryControl::notifyProcess, this, [this, progress, &control](long long, long long current) {
        if (m_firstPermille < 0)
            m_firstPermille = current;
        if (progress)
            progress->update(current, control.unreadableBytes(), control.slowBytes());
    });
    connect(&control, &CRecoveryControl::notifyReadPlan, this, [progress](bool, long long bytes) {
        if (progress)
            progress->setTotal(bytes);
    });
    connect(&control, &CRecoveryControl::notifyOpenFailed, this, [&](const QString& reason) {
        m_failure = reason;
        outcome = Outcome::OpenFailed;
        loop.quit();
    });
    connect(&control, &CRecoveryControl::notifyWarning, this,
            [this](int kind, const QString& text) {
                // Said at once: the scan may yet be cut short.
                if (kind == CRecoveryControl::WarningSession) {
                    std::fprintf(stderr, "tamsel-cli: warning: %s\n", text.toUtf8().constData());
                    std::fflush(stderr);
                    return;
                }
                // The summary has its own line for a source without one.
                if (kind != CRecoveryControl::WarningNoFileSystem)
                    m_warnings.append(text);
            });
    connect(&control, &CRecoveryControl::notifyFoundPartition, this,
            [this](const QString& fileSystem, long long sector, long long bytes) {
                // Two decimals below 0.1 GB, so that a small volume does not read as 0.0 GB.
                m_foundPartitions.append(QStringLiteral("Found a deleted %1 partition at sector %2, %3 GB")
                                             .arg(fileSystem)
                                             .arg(sector)
                                             .arg(static_cast<double>(bytes) / 1e9, 0, 'f', bytes < 100000000 ? 2 : 1));
            });
    connect(&control, &CRecoveryControl::notifyScanFailed, this, [&](const QString& reason) {
        m_failure = reason;
        outcome = Outcome::ScanFailed;
    });
    // The end of the thread, not the (1000, 1000) signal, marks the end:
    // the signal comes before run() returns.
    connect(&control, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);

    if (progress)
        progress->start(m_volume->length());
    QElapsedTimer clock;
    clock.start();
    if (control.beginScan(m_volume, requested))
        loop.exec();
    else if (outcome != Outcome::OpenFailed)
        loop.exec(); // the queued open failure quits it
    control.wait();
    // Deliver whatever the worker posted last before the loop ended.
    QCoreApplication::sendPostedEvents();
    inbox.deliverAll();
    m_scanSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    // Documents over sectors that could not be read are damaged, whatever
    // their details say (those still to come included).
    m_unreadableRanges = control.unreadableRanges();
    builder.markUnreadable(m_unreadableRanges);
    if (outcome != Outcome::OpenFailed && m_readDetails) {
        QEventLoop detailsLoop;
        connect(&details, &CDetailsWorker::drained, &detailsLoop, &QEventLoop::quit, Qt::QueuedConnection);
        // The file systems read tell the search for pieces their grids.
        details.setPieceSearch(control.pieceSearch());
        details.finishInput();
        detailsLoop.exec();
        QCoreApplication::sendPostedEvents();
        m_detailsSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9 - m_scanSeconds;
    }
    builder.collectAll(m_documents);
    if (progress)
        progress->finish();
    m_unreadable = control.unreadableBytes();
    m_unusedOnly = control.unusedSpaceOnly();
    m_bytesToRead = control.bytesToRead();
    // A resumed scan ran no file-system pass: it keeps what was saved.
    QStringList read;
    for (const CRecoveryControl::FileSystemPass& pass : control.fileSystemPasses()) {
        if (!pass.read)
            continue;
        if (pass.found)
            read << QStringLiteral("%1 (deleted partition at sector %2)").arg(pass.fileSystem).arg(pass.offset / 512);
        else
            read << (pass.partition == 0 ? pass.fileSystem
                                         : QStringLiteral("%1 (partition %2)").arg(pass.fileSystem).arg(pass.partition));
    }
    if (!m_resumed)
        m_fileSystem = read.join(QStringLiteral(", "));
    return outcome;
}
