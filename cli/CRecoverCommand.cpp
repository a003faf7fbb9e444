#include "cli/CRecoverCommand.h"

#include "cli/CCliApplication.h"
#include "cli/CProgressPrinter.h"
#include "cli/CInterruptWatch.h"
#include "cli/CScanSession.h"
#include "disk/CSameVolumeCheck.h"
#include "disk/IVolume.h"
#include "recovery/CRecoveryDataFiles.h"
#include "scan/CFileTypeCatalogue.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

namespace {

// Takes the value of an option given as "--name value" or "--name=value".
bool optionValue(const QStringList& args, int* i, const QString& name, QString* value, QString* error)
{
    const QString& a = args[*i];
    if (a == name) {
        if (*i + 1 >= args.size()) {
            *error = QStringLiteral("%1 needs a value").arg(name);
            return true;
        }
        *value = args[++*i];
        return true;
    }
    if (a.startsWith(name + QLatin1Char('='))) {
        *value = a.mid(name.size() + 1);
        return true;
    }
    return false;
}

} // namespace

CRecoverCommand::CRecoverCommand(FILE* out, FILE* err)
    : m_out(out)
    , m_err(err)
{
}

void CRecoverCommand::printErr(const QString& text) const
{
    std::fputs(text.toUtf8().constData(), m_err);
    std::fflush(m_err);
}

QString CRecoverCommand::usage()
{
    return QStringLiteral(
        "  recover SOURCE OUTDIR [--type PDF,DOCX,...]\n"
        "          [--fs auto|NTFS|FAT32|FAT16|FAT12|exFAT|EXT4|none] [--allow-same-volume]\n"
        "          [--include-damaged] [--whole] [--keep-folders] [--resume]\n"
        "      Scans SOURCE as scan does, then writes every lost document it lists (or only\n"
        "      those of the given types) into OUTDIR, which is made if missing. Files are\n"
        "      named by their original names where deleted entries give them (with their\n"
        "      modification times), else by their start sectors (2048.PDF); an existing\n"
        "      file is never overwritten (a taken name gets \" (1)\"); a file is written\n"
        "      under a hidden name ending in .partial and renamed when whole. Refuses an\n"
        "      OUTDIR that may lie on SOURCE, since writing there destroys what is being\n"
        "      recovered, unless --allow-same-volume is given. For an image file that\n"
        "      means an OUTDIR on the image itself (a loop device or FUSE mount of it, or\n"
        "      anything stacked on one); beside the image is fine. Damaged documents\n"
        "      (partly overwritten, their entries cut short, failing their own check, or\n"
        "      over sectors that cannot be read) are left out and named, and the exit\n"
        "      status is then 3, unless --include-damaged is given: they are then written\n"
        "      as they are, with zeros where the disk gives nothing. --keep-folders\n"
        "      writes each deleted file into its original folder, made again under\n"
        "      OUTDIR (folder names made safe the same way; nothing leaves OUTDIR);\n"
        "      documents only carving found, and files whose folder's parent is lost,\n"
        "      go under OUTDIR/lost. --resume takes the scan saved for SOURCE (going on\n"
        "      with it where it was cut short) instead of scanning again, as scan --resume\n"
        "      does.\n");
}

CRecoverCommand::Options CRecoverCommand::parse(const QStringList& args)
{
    Options o;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        QString value;
        if (a == QLatin1String("--allow-same-volume")) {
            o.allowSameVolume = true;
        } else if (a == QLatin1String("--include-damaged")) {
            o.includeDamaged = true;
        } else if (a == QLatin1String("--whole")) {
            o.whole = true;
        } else if (a == QLatin1String("--keep-folders")) {
            o.keepFolders = true;
        } else if (a == QLatin1String("--resume")) {
            o.resume = true;
        } else if (optionValue(args, &i, QStringLiteral("--type"), &value, &o.error)) {
            if (!o.error.isEmpty())
                return o;
            for (const QString& word : value.split(QLatin1Char(','))) {
                const QString name = word.trimmed();
                if (name.isEmpty())
                    continue;
                const int code = CFileTypeCatalogue::typeCodeByName(name);
                if (code == CFileTypeCatalogue::NotWanted) {
                    o.error = QStringLiteral("unknown type '%1' (use PDF, ZIP, DOC, XLS, PPT, DOCX, XLSX, PPTX)")
                                  .arg(name);
                    return o;
                }
                o.types.insert(code);
            }
            if (o.types.isEmpty()) {
                o.error = QStringLiteral("--type needs at least one type");
                return o;
            }
        } else if (optionValue(args, &i, QStringLiteral("--fs"), &value, &o.error)) {
            if (!o.error.isEmpty())
                return o;
            o.fileSystem = CScanSession::fileSystemOption(value);
            o.fileSystemGiven = true;
            if (o.fileSystem.isEmpty()) {
                o.error = CScanSession::unknownFileSystemText(value);
                return o;
            }
        } else if (a.startsWith(QLatin1String("--"))) {
            o.error = QStringLiteral("unknown option '%1'").arg(a);
            return o;
        } else {
            positional << a;
        }
    }
    if (positional.size() != 2) {
        o.error = positional.size() < 2 ? QStringLiteral("recover needs a SOURCE and an OUTDIR")
                                        : QStringLiteral("unexpected argument '%1'").arg(positional.value(2));
        return o;
    }
    o.source = positional[0];
    o.outputFolder = positional[1];
    if (o.outputFolder.isEmpty())
        o.error = QStringLiteral("OUTDIR must not be empty");
    return o;
}

int CRecoverCommand::run(const QStringList& arguments)
{
    const Options options = parse(arguments);
    if (!options.error.isEmpty()) {
        printErr(QStringLiteral("tamsel-cli: %1\n\n").arg(options.error) + CCliApplication::usage());
        return CCliApplication::ExitUsage;
    }

    // Before the scan, so that nobody waits an hour to be told no.
    if (!options.allowSameVolume && QFileInfo::exists(options.source)) {
        const CSameVolumeCheck::Result same = CSameVolumeCheck().check(options.source, options.outputFolder);
        if (same.verdict == CSameVolumeCheck::Verdict::Same) {
            printErr(QStringLiteral("tamsel-cli: refusing to recover into %1: %2. Writing there would overwrite "
                                    "the documents being recovered. Choose a folder on another disk.\n")
                         .arg(options.outputFolder, same.detail));
            return CCliApplication::ExitFailure;
        }
        if (same.verdict == CSameVolumeCheck::Verdict::Unknown) {
            printErr(QStringLiteral("tamsel-cli: refusing to recover into %1: it cannot be told whether it lies on "
                                    "%2 (%3), and writing onto the source would overwrite the documents being "
                                    "recovered. Choose a folder on another disk, or pass --allow-same-volume if "
                                    "you know it is a different one.\n")
                         .arg(options.outputFolder, options.source, same.detail));
            return CCliApplication::ExitFailure;
        }
    }

    CProgressPrinter progress(m_err);
    CScanSession session;
    session.setResume(options.resume);
    session.setFileSystemGiven(options.fileSystemGiven);
    session.setWholeVolume(options.whole);
    const CScanSession::Outcome outcome = session.run(options.source, options.fileSystem, &progress);
    if (outcome == CScanSession::Outcome::ResumeRefused) {
        printErr(QStringLiteral("tamsel-cli: %1\n").arg(session.failureReason()));
        return CCliApplication::ExitUsage;
    }
    if (outcome != CScanSession::Outcome::Finished) {
        printErr(QStringLiteral("tamsel-cli: %1\n").arg(session.failureReason()));
        return CInterruptWatch::interrupted() ? CCliApplication::ExitInterrupted : CCliApplication::ExitFailure;
    }

    if (CInterruptWatch::interrupted()) {
        printErr(QStringLiteral("tamsel-cli: interrupted during the scan of %1; nothing was written.\n")
                     .arg(options.source));
        return CCliApplication::ExitInterrupted;
    }

    // Damaged ones go to the worker too: it leaves them out one by one and
    // says why, as it does for those it finds damaged only while copying.
    QList<CFileNode> chosen;
    int damaged = 0;
    for (const CFileNode& node : session.documents()) {
        if (!options.types.isEmpty() && !options.types.contains(node.typeCode))
            continue;
        damaged += node.isDamaged() ? 1 : 0;
        chosen.append(node);
    }
    QString found =
        QStringLiteral("Found %1 lost document(s) on %2").arg(session.documents().size()).arg(options.source);
    if (!options.types.isEmpty())
        found += QStringLiteral(", %1 of the chosen types").arg(chosen.size());
    found += QStringLiteral(".\n");
    if (damaged > 0)
        found += options.includeDamaged
                     ? QStringLiteral("%1 of them damaged: written as they are (--include-damaged).\n").arg(damaged)
                     : QStringLiteral("%1 of them damaged: left out (--include-damaged writes them too).\n")
                           .arg(damaged);
    found += session.readPlanLine();
    for (const QString& line : session.foundPartitions())
        found += line + QStringLiteral(".\n");
    for (const QString& warning : session.warnings())
        found += QStringLiteral("Warning: %1\n").arg(warning);
    if (session.fileSystem().isEmpty())
        found += QStringLiteral("No NTFS, FAT32, exFAT or ext4 file system was read: documents of live files are "
                                "included.\n");
    if (session.unreadableBytes() > 0)
        found += QStringLiteral("Warning: %1 byte(s) of the source could not be read.\n")
                     .arg(session.unreadableBytes());
    printErr(found);

    return recoverDocuments(session.volume(), options.outputFolder, chosen, CDiskMappingPointer::kDefaultWindowSize,
                            options.includeDamaged, session.unreadableRanges(), options.keepFolders);
}

int CRecoverCommand::recoverDocuments(std::shared_ptr<IVolume> volume, const QString& folder,
                                      const QList<CFileNode>& documents, uint32_t windowSize, bool includeDamaged,
                                      const CUnreadableRanges& knownUnreadable, bool keepFolders)
{
    CRecoveryDataFiles worker(nullptr, windowSize);
    QEventLoop loop;
    const int total = documents.size();
    int64_t bytes = 0;
    bool complete = false;
    QString failedFile;
    QString failure;
    bool sourceUnreadable = false;
    QString current; // the name the file being written will have

    QObject::connect(&worker, &CRecoveryDataFiles::sigFileRecovered, &loop, [&](int number, const QString& path) {
        const CFileNode& node = documents.at(number - 1);
        bytes += node.size;
        printErr(QStringLiteral("[%1/%2] %3 (%4)\n")
                     .arg(number)
                     .arg(total)
                     .arg(path, CFileTypeCatalogue::sizeText(node.size)));
        // stdout carries the written files alone, one a line, for scripts.
        std::fputs((path + QLatin1Char('\n')).toUtf8().constData(), m_out);
        std::fflush(m_out);
    });
    QStringList leftOutDamaged;
    QStringList leftOutUnreadable;
    QObject::connect(&worker, &CRecoveryDataFiles::sigFileLeftOut, &loop,
                     [&](int number, const QString& name, const QString& reason, bool unreadable) {
                         printErr(QStringLiteral("[%1/%2] left out %3: %4\n").arg(number).arg(total).arg(name, reason));
                         (unreadable ? leftOutUnreadable : leftOutDamaged).append(name);
                     });
    QObject::connect(&worker, &CRecoveryDataFiles::sigRecoveryFinished, &loop, [&](int value) {
        if (value == total)
            complete = true;
    });
    QObject::connect(&worker, &CRecoveryDataFiles::sigRecoveryFailed, &loop,
                     [&](const QString& path, const QString& reason, bool unreadable) {
                         failedFile = path;
                         failure = reason;
                         sourceUnreadable = unreadable;
                     });
    QObject::connect(&worker, &CRecoveryDataFiles::sigFileStarted, &loop,
                     [&](int, const QString& partialPath, const QString& finalName) {
                         current = finalName;
                         CInterruptWatch::setPartialFile(QFile::encodeName(partialPath));
                     });
    QObject::connect(&worker, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    // Ctrl-C: the file being written is finished, then the run ends; a
    // second one aborts (CInterruptWatch removes the unfinished file).
    CInterruptWatch interrupt([&]() {
        worker.stopAfterCurrentFile();
        if (!current.isEmpty())
            printErr(QStringLiteral("\ntamsel-cli: finishing %1, press Ctrl-C again to abort.\n").arg(current));
        else
            printErr(QStringLiteral("\ntamsel-cli: stopping, press Ctrl-C again to abort.\n"));
    });

    worker.setDiskHandle(std::move(volume));
    worker.setSavePath(folder);
    worker.setRecoveryFiles(documents, QVector<bool>(documents.size(), includeDamaged));
    worker.setKnownUnreadable(knownUnreadable);
    worker.setKeepFolders(keepFolders);
    worker.start();
    loop.exec();
    worker.wait();
    CInterruptWatch::setPartialFile(QByteArray());
    // What the worker posted just before it ended.
    QCoreApplication::sendPostedEvents(&worker);
    QCoreApplication::sendPostedEvents(&loop);

    const QString where = QDir::cleanPath(QDir(folder).absolutePath());
    if (failure.isEmpty() && !complete && CInterruptWatch::interrupted()) {
        printErr(QStringLiteral("tamsel-cli: interrupted: %1 of %2 document(s) were written into %3, each one "
                                "whole.\n")
                     .arg(worker.writtenCount())
                     .arg(total)
                     .arg(where));
        return CCliApplication::ExitInterrupted;
    }
    if (sourceUnreadable) {
        printErr(QStringLiteral("tamsel-cli: cannot recover %1: %2\n").arg(failedFile, failure));
        printErr(QStringLiteral("%1 of %2 document(s) were written into %3 before the source was lost.\n")
                     .arg(worker.writtenCount())
                     .arg(total)
                     .arg(where));
        return CCliApplication::ExitFailure;
    }
    if (!failure.isEmpty() || !complete) {
        if (failure.isEmpty())
            failure = QStringLiteral("the recovery ended early.");
        printErr(QStringLiteral("tamsel-cli: cannot write %1: %2\n")
                     .arg(failedFile.isEmpty() ? where : failedFile, failure));
        printErr(QStringLiteral("%1 of %2 document(s) were written into %3 before the failure.\n")
                     .arg(worker.writtenCount())
                     .arg(total)
                     .arg(where));
        return CCliApplication::ExitFailure;
    }
    const int leftOut = leftOutDamaged.size() + leftOutUnreadable.size();
    if (total == 0)
        printErr(QStringLiteral("No documents to recover; nothing was written into %1.\n").arg(where));
    else
        printErr(QStringLiteral("Recovered %1 document(s), %2, into %3.\n")
                     .arg(total - leftOut)
                     .arg(CFileTypeCatalogue::sizeText(bytes))
                     .arg(where));
    if (leftOut == 0)
        return CCliApplication::ExitOk;
    // Named again at the end, where a long run's summary is read.
    QString summary = QStringLiteral("Left out %1 document(s) that would not be the documents they were:\n").arg(leftOut);
    if (!leftOutDamaged.isEmpty())
        summary += QStringLiteral("  %1 damaged (partly overwritten, cut short or failing their check): %2\n")
                       .arg(leftOutDamaged.size())
                       .arg(leftOutDamaged.join(QStringLiteral(", ")));
    if (!leftOutUnreadable.isEmpty())
        summary += QStringLiteral("  %1 over sectors that cannot be read: %2\n")
                       .arg(leftOutUnreadable.size())
                       .arg(leftOutUnreadable.join(QStringLiteral(", ")));
    summary += QStringLiteral("report.xml says why for each. --include-damaged writes them as they are, with zeros "
                              "where the disk gives nothing; for a failing disk, image it first with a tool that "
                              "retries bad sectors and recover from the image.\n");
    printErr(summary);
    return CCliApplication::ExitLeftOut;
}
