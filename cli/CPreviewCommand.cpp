#include "cli/CPreviewCommand.h"

#include "cli/CCliApplication.h"
#include "cli/CInterruptWatch.h"
#include "cli/CProgressPrinter.h"
#include "cli/CScanSession.h"
#include "details/CDetailsBudget.h"
#include "details/CDetailsReader.h"
#include "preview/CDocumentPreview.h"
#include "scan/CDocumentBytes.h"

#include <QFile>
#include <QSaveFile>

#include <unistd.h>

CPreviewCommand::CPreviewCommand(FILE* out, FILE* err)
    : m_out(out)
    , m_err(err)
{
}

void CPreviewCommand::printErr(const QString& text) const
{
    std::fputs(text.toUtf8().constData(), m_err);
    std::fflush(m_err);
}

QString CPreviewCommand::usage()
{
    return QStringLiteral(
        "  preview SOURCE SECTOR|NAME [--out FILE] [--hex] [--fs ...] [--whole] [--resume]\n"
        "      Shows one lost document before it is recovered: the one starting at SECTOR\n"
        "      (as scan lists it) or called NAME. Writes what the window's preview shows:\n"
        "      a PNG of a PDF's first page or of an Office document's thumbnail, else the\n"
        "      document's first text (a ZIP's member list) as UTF-8; --hex writes the hex\n"
        "      view of its first 64 KiB instead. Into FILE with --out, else to stdout.\n"
        "      Page count, title and a damaged document's reason go to stderr. The\n"
        "      document is read from SOURCE and parsed only in a sandboxed helper process\n"
        "      (bubblewrap; without it, a reduced sandbox, which it says). --resume takes\n"
        "      the scan saved for SOURCE instead of scanning again. Exit status 1 when\n"
        "      there is no preview.\n");
}

CPreviewCommand::Options CPreviewCommand::parse(const QStringList& args)
{
    Options o;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--hex")) {
            o.hex = true;
        } else if (a == QLatin1String("--whole")) {
            o.whole = true;
        } else if (a == QLatin1String("--resume")) {
            o.resume = true;
        } else if (a == QLatin1String("--out") || a == QLatin1String("--fs")) {
            if (i + 1 >= args.size()) {
                o.error = QStringLiteral("%1 needs a value").arg(a);
                return o;
            }
            const QString value = args[++i];
            if (a == QLatin1String("--out")) {
                o.outFile = value;
            } else {
                o.fileSystem = CScanSession::fileSystemOption(value);
                o.fileSystemGiven = true;
                if (o.fileSystem.isEmpty()) {
                    o.error = CScanSession::unknownFileSystemText(value);
                    return o;
                }
            }
        } else if (a.startsWith(QLatin1String("--"))) {
            o.error = QStringLiteral("unknown option '%1'").arg(a);
            return o;
        } else {
            positional << a;
        }
    }
    if (positional.size() != 2) {
        o.error = QStringLiteral("preview needs a SOURCE and a SECTOR or NAME");
        return o;
    }
    o.source = positional[0];
    o.document = positional[1];
    return o;
}

QList<CFileNode> CPreviewCommand::find(const QList<CFileNode>& documents, const QString& wanted)
{
    QList<CFileNode> found;
    bool isNumber = false;
    const quint64 sector = wanted.toULongLong(&isNumber);
    for (const CFileNode& n : documents) {
        if (isNumber ? n.startSector == sector : (n.displayName() == wanted || n.originalName == wanted))
            found << n;
    }
    if (found.isEmpty() && !isNumber) {
        for (const CFileNode& n : documents) {
            if (n.displayName().compare(wanted, Qt::CaseInsensitive) == 0
                || n.originalName.compare(wanted, Qt::CaseInsensitive) == 0)
                found << n;
        }
    }
    return found;
}

int CPreviewCommand::run(const QStringList& arguments)
{
    const Options options = parse(arguments);
    if (!options.error.isEmpty()) {
        printErr(QStringLiteral("tamsel-cli: %1\n\n").arg(options.error) + CCliApplication::usage());
        return CCliApplication::ExitUsage;
    }
    CProgressPrinter progress(m_err);
    CScanSession session;
    session.setResume(options.resume);
    session.setFileSystemGiven(options.fileSystemGiven);
    session.setWholeVolume(options.whole);
    session.setReadDetails(false);
    const CScanSession::Outcome outcome = session.run(options.source, options.fileSystem, &progress);
    if (outcome == CScanSession::Outcome::ResumeRefused) {
        printErr(QStringLiteral("tamsel-cli: %1\n").arg(session.failureReason()));
        return CCliApplication::ExitUsage;
    }
    if (outcome != CScanSession::Outcome::Finished) {
        printErr(QStringLiteral("tamsel-cli: %1\n").arg(session.failureReason()));
        return CInterruptWatch::interrupted() ? CCliApplication::ExitInterrupted : CCliApplication::ExitFailure;
    }
    const QList<CFileNode> found = find(session.documents(), options.document);
    if (found.isEmpty()) {
        printErr(QStringLiteral("tamsel-cli: no lost document on %1 starts at sector or is called '%2'; "
                                "`tamsel-cli scan %1` lists them.\n")
                     .arg(options.source, options.document));
        return CCliApplication::ExitUsage;
    }
    if (found.size() > 1) {
        QString list;
        for (const CFileNode& n : found)
            list += QStringLiteral("  %1 at sector %2\n").arg(n.displayName()).arg(n.startSector);
        printErr(QStringLiteral("tamsel-cli: %1 documents are called '%2'; give the sector of one:\n%3")
                     .arg(found.size())
                     .arg(options.document, list));
        return CCliApplication::ExitUsage;
    }
    const CFileNode& node = found.first();

    // Whether it is whole, said above what is shown, as the window does.
    {
        CDocumentBytes bytes(session.volume().get(), node, CDetailsBudget().readBytes);
        const CDocumentDetails details = CDetailsReader::read(bytes, node.typeName, CDetailsBudget());
        if (details.integrity == CDocumentDetails::IntegrityDamaged)
            printErr(QStringLiteral("Damaged: %1\n").arg(details.integrityReason));
    }

    QByteArray payload;
    if (options.hex) {
        payload = CDocumentPreview::hexView(CDocumentPreview::firstBytes(session.volume().get(), node)).toUtf8();
        if (payload.isEmpty()) {
            printErr(QStringLiteral("tamsel-cli: the first bytes of %1 could not be read from %2.\n")
                         .arg(node.displayName(), options.source));
            return CCliApplication::ExitFailure;
        }
    } else {
        const CDocumentPreview::Result r = CDocumentPreview().preview(session.volume().get(), node);
        if (r.reducedSandbox)
            printErr(QStringLiteral("Reduced sandbox: bubblewrap is missing or cannot run here, so the preview "
                                    "helper could read the file system (install bubblewrap).\n"));
        if (!r.ok) {
            printErr(QStringLiteral("No preview of %1: %2. --hex shows its first bytes.\n")
                         .arg(node.displayName(), r.failure));
            return CCliApplication::ExitFailure;
        }
        QString about = node.typeName;
        if (r.reply.pages >= 0)
            about += QStringLiteral(", %1 page(s)").arg(r.reply.pages);
        if (!r.reply.title.isEmpty())
            about += QStringLiteral(", title \"%1\"").arg(r.reply.title);
        printErr(about + QLatin1Char('\n'));
        if (r.reply.kind == CPreviewReply::Kind::Image) {
            payload = r.reply.png;
            if (options.outFile.isEmpty() && ::isatty(fileno(m_out))) {
                printErr(QStringLiteral("tamsel-cli: the preview of %1 is an image; give --out FILE.png.\n")
                             .arg(node.displayName()));
                return CCliApplication::ExitUsage;
            }
        } else {
            payload = r.reply.text.toUtf8();
            if (!payload.endsWith('\n'))
                payload += '\n';
        }
    }
    if (options.outFile.isEmpty()) {
        std::fwrite(payload.constData(), 1, static_cast<size_t>(payload.size()), m_out);
        std::fflush(m_out);
        return CCliApplication::ExitOk;
    }
    QSaveFile file(options.outFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(payload) != payload.size() || !file.commit()) {
        printErr(QStringLiteral("tamsel-cli: %1 could not be written: %2\n").arg(options.outFile, file.errorString()));
        return CCliApplication::ExitFailure;
    }
    return CCliApplication::ExitOk;
}
