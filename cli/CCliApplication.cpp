#include "cli/CCliApplication.h"

#include "cli/CDocumentJson.h"
#include "cli/CImageCommand.h"
#include "cli/CListCommand.h"
#include "cli/CPreviewCommand.h"
#include "cli/CVerifyCommand.h"
#include "cli/CRecoverCommand.h"
#include "cli/CInterruptWatch.h"
#include "cli/CProgressPrinter.h"
#include "cli/CScanSession.h"
#include "disk/IVolume.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CScanJournal.h"

#include <QCoreApplication>
#include <QMap>
#include <QTextStream>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {

void printErr(const QString& text)
{
    std::fputs(text.toUtf8().constData(), stderr);
    std::fflush(stderr);
}

void printOut(const QString& text)
{
    std::fputs(text.toUtf8().constData(), stdout);
}

struct ScanOptions
{
    QString source;
    QString fileSystem = QStringLiteral("auto");
    bool fileSystemGiven = false;
    bool tsv = false;
    bool json = false;
    bool resume = false;
    bool whole = false;
    QString map;
    QString error;
};

ScanOptions parseScanOptions(const QStringList& args)
{
    ScanOptions o;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--tsv")) {
            o.tsv = true;
        } else if (a == QLatin1String("--json")) {
            o.json = true;
        } else if (a == QLatin1String("--resume")) {
            o.resume = true;
        } else if (a == QLatin1String("--whole")) {
            o.whole = true;
        } else if (a == QLatin1String("--map")) {
            if (i + 1 >= args.size()) {
                o.error = QStringLiteral("--map needs a ddrescue map file");
                return o;
            }
            o.map = args[++i];
        } else if (a == QLatin1String("--fs") || a.startsWith(QLatin1String("--fs="))) {
            QString value;
            if (a == QLatin1String("--fs")) {
                if (i + 1 >= args.size()) {
                    o.error = QStringLiteral("--fs needs a value");
                    return o;
                }
                value = args[++i];
            } else {
                value = a.mid(5);
            }
            o.fileSystem = CScanSession::fileSystemOption(value);
            o.fileSystemGiven = true;
            if (o.fileSystem.isEmpty()) {
                o.error = CScanSession::unknownFileSystemText(value);
                return o;
            }
        } else if (a.startsWith(QLatin1String("--"))) {
            o.error = QStringLiteral("unknown option '%1'").arg(a);
            return o;
        } else if (o.source.isEmpty()) {
            o.source = a;
        } else {
            o.error = QStringLiteral("unexpected argument '%1'").arg(a);
            return o;
        }
    }
    if (o.tsv && o.json && o.error.isEmpty())
        o.error = QStringLiteral("--tsv and --json cannot be given together");
    if (o.source.isEmpty() && o.error.isEmpty())
        o.error = QStringLiteral("scan needs a SOURCE (a block device or a disk image)");
    return o;
}

// `rate` in MB/s; negative when nothing was read (a finished saved scan).
QString summaryOf(const CScanSession& session, double seconds, double rate)
{
    QMap<QString, int> perType;
    for (const CFileNode& n : session.documents())
        perType[n.typeName] += 1;
    QStringList parts;
    for (auto it = perType.cbegin(); it != perType.cend(); ++it)
        parts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    QString text = QStringLiteral("%1 lost document(s)").arg(session.documents().size());
    if (!parts.isEmpty())
        text += QStringLiteral(" (%1)").arg(parts.join(QStringLiteral(", ")));
    if (rate < 0)
        text += QStringLiteral(" on %1, %2, listed from the scan saved before (nothing read now).\n")
                    .arg(session.volume() ? session.volume()->name() : QString())
                    .arg(CFileTypeCatalogue::sizeText(session.volumeLength()));
    else
        text += QStringLiteral(" on %1, %2 scanned in %3 s (%4 MB/s).\n")
                    .arg(session.volume() ? session.volume()->name() : QString())
                    .arg(CFileTypeCatalogue::sizeText(session.volumeLength()))
                    .arg(seconds, 0, 'f', 2)
                    .arg(rate, 0, 'f', 1);
    text += session.readPlanLine();
    if (session.detailsSeconds() > 0)
        text += QStringLiteral("Titles, times and integrity read in %1 s more.\n").arg(session.detailsSeconds(), 0, 'f', 2);
    for (const QString& line : session.foundPartitions())
        text += line + QStringLiteral(".\n");
    for (const QString& warning : session.warnings())
        text += QStringLiteral("Warning: %1\n").arg(warning);
    const QString source = session.volume() ? session.volume()->name() : QString();
    if (session.documents().isEmpty()) {
        // An empty list must not read as a failure to look.
        text += QStringLiteral("No lost documents were found.\n");
        if (session.volumeLength() < 512)
            text += QStringLiteral("%1 is smaller than one sector (512 bytes): it does not look like a disk "
                                   "or a disk image.\n")
                        .arg(source);
        else if (session.fileSystem().isEmpty())
            text += QStringLiteral("%1 holds no file system that could be recognised and no document: it does "
                                   "not look like a disk or a disk image.\n")
                        .arg(source);
    } else if (session.fileSystem().isEmpty()) {
        text += QStringLiteral("No NTFS, FAT32, exFAT or ext4 file system was read: documents of live files are "
                               "listed too.\n");
    }
    if (session.fileSystem().contains(QLatin1String("partition")))
        text += QStringLiteral("File systems read: %1.\n").arg(session.fileSystem());
    if (session.fileSystem().contains(QLatin1String("EXT4")))
        text += QStringLiteral("ext4: deleted files can be found by their content only, without their original "
                               "names.\n");
    if (session.unreadableBytes() > 0)
        text += QStringLiteral("Warning: %1 byte(s) could not be read and were taken as zeros (%2 unreadable "
                               "stretch(es)); documents over them are marked damaged. The disk is failing: image it "
                               "first (tamsel-cli image SOURCE OUT.img) and work on the image.\n")
                    .arg(session.unreadableBytes())
                    .arg(session.unreadableRanges().ranges().size());
    return text;
}

// A name as one field of a line: a tab or a line break in a file's name
// must not make a new column or a new line.
QString oneField(QString text)
{
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('_');
    }
    return text;
}

void printDocuments(const QList<CFileNode>& documents, const ScanOptions& options)
{
    if (options.json) {
        QByteArray out;
        for (const CFileNode& n : documents)
            out += CDocumentJson::line(n);
        std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
        return;
    }
    QString out;
    if (options.tsv) {
        for (const CFileNode& n : documents)
            out += QStringLiteral("%1\t%2\t%3\t%4\n")
                       .arg(oneField(n.displayName()), n.typeName)
                       .arg(n.startSector)
                       .arg(n.size);
        printOut(out);
        return;
    }
    int nameWidth = 4;
    for (const CFileNode& n : documents)
        nameWidth = std::max(nameWidth, static_cast<int>(oneField(n.displayName()).size()));
    out += QStringLiteral("%1  %2  %3  %4  %5\n")
               .arg(QStringLiteral("NAME"), -nameWidth)
               .arg(QStringLiteral("TYPE"), -4)
               .arg(QStringLiteral("START SECTOR"), 14)
               .arg(QStringLiteral("BYTES"), 12)
               .arg(QStringLiteral("SIZE"), 11);
    for (const CFileNode& n : documents) {
        out += QStringLiteral("%1  %2  %3  %4  %5\n")
                   .arg(oneField(n.displayName()), -nameWidth)
                   .arg(n.typeName, -4)
                   .arg(n.startSector, 14)
                   .arg(n.size, 12)
                   .arg(n.sizeText, 11);
    }
    printOut(out);
}

} // namespace

QString CCliApplication::usage()
{
    return QStringLiteral(
        "Usage: tamsel-cli COMMAND [OPTIONS]\n"
        "       tamsel-cli --version\n"
        "\n"
        "Finds lost PDF, ZIP, DOC, XLS, PPT, DOCX, XLSX and PPTX documents on a volume\n"
        "(a block device such as /dev/sdb1, a disk image file, or an E01 image with its\n"
        "segments .E02, ...). The volume is only read.\n"
        "\n"
        "Commands:\n"
        "  scan SOURCE [--fs auto|NTFS|FAT32|FAT16|FAT12|exFAT|EXT4|none] [--tsv | --json]\n"
        "       [--resume] [--whole] [--map FILE.map]\n"
        "      Lists the lost documents on SOURCE, one a line. With --fs auto (the default)\n"
        "      the file system is read from the boot sector (on a whole disk, that of each\n"
        "      partition of its MBR or GPT), so that documents that live files still own\n"
        "      are left out, and deleted files are listed by their names. Once a file\n"
        "      system is read, only its unused space is searched (free clusters, lost\n"
        "      chains, whatever lies outside the file systems); --whole searches every byte\n"
        "      and lists the documents inside live files too (never the live files).\n"
        "      --tsv prints NAME<TAB>TYPE<TAB>SECTOR<TAB>BYTES (NAME the original name where\n"
        "      known, else the sector name 2048.PDF). --json prints one JSON object a line\n"
        "      with the keys name, folder, type, sector, size, modified, origin (carved,\n"
        "      deleted-entry or both), extents ([byte offset, length] on SOURCE),\n"
        "      overwritten (0 to 1), incomplete, orphaned, inside_live_file (found inside\n"
        "      a live file: listed with --whole only), and what each document says of itself:\n"
        "      title, author, created, modified, pages, integrity (whole, damaged or\n"
        "      unchecked) and integrity_reason; each document is read for them once the\n"
        "      scan has found it, so --json takes a little longer than the table.\n"
        "      Every scan is saved as it goes (every 30 s and when it stops) under\n"
        "      $XDG_DATA_HOME/tamsel/scans/. --resume goes on from the scan saved for\n"
        "      SOURCE, or lists a finished one again without scanning, always the way it\n"
        "      was made: --fs and --whole left out follow the saved scan, and either given\n"
        "      differently refuses it (exit status 2).\n"
        "      An image made from a failing disk is scanned with its ddrescue map (--map, or\n"
        "      the .map file beside the image): the stretches the map says were not read are\n"
        "      unreadable, and the documents over them are damaged.\n")
        + CRecoverCommand::usage() + CPreviewCommand::usage() + CListCommand::usage() + CImageCommand::usage() + CVerifyCommand::usage()
        + QStringLiteral(
            "\n"
            "Raw access to a disk needs root or membership of the 'disk' group.\n"
            "Ctrl-C stops a scan where it is and a recovery after the file it is writing;\n"
            "a second Ctrl-C aborts at once and removes the unfinished file.\n"
            "Exit status: 0 done; 1 the source could not be read, or (recover) a file could\n"
            "not be written; 2 usage error; 3 (recover) done, but some documents were left\n"
            "out as damaged or unreadable; 130 interrupted (Ctrl-C).\n");
}

int CCliApplication::run(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // A file size limit then fails the write with EFBIG, which recover
    // reports, instead of killing the program mid-file.
    std::signal(SIGXFSZ, SIG_IGN);
    CInterruptWatch::install();
    QStringList args = app.arguments();
    args.removeFirst();
    return execute(args);
}

int CCliApplication::execute(const QStringList& arguments)
{
    if (arguments.isEmpty()) {
        printErr(usage());
        return ExitUsage;
    }
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        printOut(usage());
        return ExitOk;
    }
    if (command == QLatin1String("--version") || command == QLatin1String("-V")
        || command == QLatin1String("version")) {
        printOut(QStringLiteral("tamsel-cli %1\n").arg(CScanJournal::programVersion()));
        return ExitOk;
    }
    if (rest.contains(QStringLiteral("--help"))) {
        printOut(usage());
        return ExitOk;
    }
    if (command == QLatin1String("scan"))
        return scanCommand(rest);
    if (command == QLatin1String("recover"))
        return CRecoverCommand().run(rest);
    if (command == QLatin1String("list"))
        return CListCommand().run(rest);
    if (command == QLatin1String("preview"))
        return CPreviewCommand().run(rest);
    if (command == QLatin1String("image"))
        return CImageCommand().run(rest);
    if (command == QLatin1String("verify"))
        return CVerifyCommand().run(rest);
    printErr(QStringLiteral("tamsel-cli: unknown command '%1'\n\n").arg(command) + usage());
    return ExitUsage;
}

int CCliApplication::scanCommand(const QStringList& arguments)
{
    const ScanOptions options = parseScanOptions(arguments);
    if (!options.error.isEmpty()) {
        printErr(QStringLiteral("tamsel-cli: %1\n\n").arg(options.error) + usage());
        return ExitUsage;
    }

    CProgressPrinter progress;
    CScanSession session;
    session.setResume(options.resume);
    session.setFileSystemGiven(options.fileSystemGiven);
    // Only the JSON lines carry titles, times and integrity: the table and
    // the TSV do not wait for them.
    session.setReadDetails(options.json);
    session.setWholeVolume(options.whole);
    session.setMapFile(options.map);
    const CScanSession::Outcome outcome = session.run(options.source, options.fileSystem, &progress);
    if (outcome == CScanSession::Outcome::OpenFailed) {
        printErr(QStringLiteral("tamsel-cli: %1\n").arg(session.failureReason()));
        return CInterruptWatch::interrupted() ? ExitInterrupted : ExitFailure;
    }
    if (outcome == CScanSession::Outcome::ResumeRefused) {
        printErr(QStringLiteral("tamsel-cli: %1\n").arg(session.failureReason()));
        return ExitUsage;
    }

    printDocuments(session.documents(), options);
    std::fflush(stdout);
    if (CInterruptWatch::interrupted()) {
        printErr(QStringLiteral("tamsel-cli: scan interrupted; the list above covers only the part of %1 read so far.\n")
                     .arg(options.source));
        return ExitInterrupted;
    }
    if (outcome == CScanSession::Outcome::ScanFailed) {
        printErr(QStringLiteral("tamsel-cli: %1\n").arg(session.failureReason()));
        return ExitFailure;
    }
    const double seconds = session.scanSeconds();
    // Reading unused space only, the rate is that of the bytes read; going
    // on from a saved scan, of the part read now (none for a finished one:
    // no rate at all, rather than one of millions of MB/s).
    const int64_t toRead = session.unusedSpaceOnly() ? session.bytesToRead() : session.volumeLength();
    const double read = static_cast<double>(toRead) * session.shareReadThisRun();
    const double rate = read <= 0 && session.resumed() ? -1.0 : seconds > 0 ? read / 1e6 / seconds : 0.0;
    printErr(summaryOf(session, seconds, rate));
    return ExitOk;
}
