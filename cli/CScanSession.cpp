#include "cli/CScanSession.h"

#include "cli/CInterruptWatch.h"
#include "cli/CProgressPrinter.h"
#include "disk/CBootSectorProbe.h"
#include "disk/CFileVolume.h"
#include "results/CCreateTreeNode.h"
#include "scan/CRecoveryControl.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdio>

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
    if (upper == QLatin1String("NTFS") || upper == QLatin1String("FAT32"))
        return upper;
    return QString();
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

    CFileVolume::OpenError error;
    std::unique_ptr<CFileVolume> opened = CFileVolume::open(source, &error);
    if (!opened) {
        m_failure = error.reason;
        return Outcome::OpenFailed;
    }
    m_volume = std::shared_ptr<IVolume>(std::move(opened));

    if (fileSystemOption.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0)
        m_fileSystem = CBootSectorProbe::detect(*m_volume);
    else if (fileSystemOption.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
        m_fileSystem.clear();
    else
        m_fileSystem = fileSystemOption.toUpper();

    CRecoveryControl control;
    // Ctrl-C stops the scan at the end of its window; what was found stays.
    CInterruptWatch interrupt([&control]() {
        control.stopScan();
        std::fputs("\ntamsel-cli: stopping the scan here, press Ctrl-C again to abort.\n", stderr);
        std::fflush(stderr);
    });
    // The same tree builder the window fills, so that both list exactly the
    // same documents, in the same order: live files' documents left out.
    CCreateTreeNode builder;
    QEventLoop loop;
    Outcome outcome = Outcome::Finished;

    connect(control.relay(), qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &builder,
            qOverload<const CFileNode&>(&CCreateTreeNode::reciveFileItem));
    connect(control.relay(), qOverload<long long, int>(&CNotifyFileNode::notifyItem), &builder,
            qOverload<long long, int>(&CCreateTreeNode::reciveFileItem));
    connect(&control, &CRecoveryControl::notifyProcess, this, [progress](long long, long long current) {
        if (progress)
            progress->update(current);
    });
    connect(&control, &CRecoveryControl::notifyOpenFailed, this, [&](const QString& reason) {
        m_failure = reason;
        outcome = Outcome::OpenFailed;
        loop.quit();
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
    if (control.beginScan(m_volume, m_fileSystem))
        loop.exec();
    else if (outcome != Outcome::OpenFailed)
        loop.exec(); // the queued open failure quits it
    control.wait();
    // Deliver whatever the worker posted last before the loop ended.
    QCoreApplication::sendPostedEvents();
    builder.collectAll(m_documents);
    if (progress)
        progress->finish();
    m_unreadable = control.unreadableBytes();
    return outcome;
}
