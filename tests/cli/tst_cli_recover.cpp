#include "cli/CListCommand.h"
#include "cli/CRecoverCommand.h"
#include "disk/CMemoryVolume.h"
#include "scan/CFileTypeCatalogue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QCryptographicHash>
#include <QXmlStreamReader>

#include <algorithm>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "cli/CliTestSupport.h"

#include <QDirIterator>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>


// The files a recovery wrote, without its report.xml.
static QStringList documentsIn(const QString& path, QDir::Filters filters)
{
    QStringList names = QDir(path).entryList(filters);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const QString& n) { return n.startsWith(QLatin1String("report")) && n.endsWith(QLatin1String(".xml")); }),
                names.end());
    return names;
}

namespace {

using clitest::Run;
using clitest::cli;

// Runs a volume-building script of the repository (a path below it) on
// `image`; the script's error output when it fails, empty when it worked.
QString buildVolume(const char* script, const QString& image, const QStringList& more = {})
{
    QProcess make;
    make.start(QStringLiteral(TAMSEL_SOURCE_DIR "/") + QLatin1String(script), QStringList{image} + more);
    if (!make.waitForFinished(120000))
        return QStringLiteral("%1 did not finish").arg(QLatin1String(script));
    if (make.exitStatus() != QProcess::NormalExit || make.exitCode() != 0)
        return QString::fromUtf8(make.readAllStandardError()) + QStringLiteral(" (%1 failed)").arg(QLatin1String(script));
    return QString();
}

QByteArray corpus(const QString& name)
{
    QFile f(QStringLiteral(TAMSEL_TEST_DATA "/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A document of made-up bytes whose check (as if the details pass had run)
// found it whole.
CFileNode record(quint64 sector, qint64 size, const QString& typeName = QStringLiteral("PDF"))
{
    CFileNode n(typeName, size, sector, QString(), QString::number(sector), QString(),
                CFileTypeCatalogue::typeCodeByName(typeName), 2, CFileTypeCatalogue::sizeText(size),
                CFileTypeCatalogue::description(typeName));
    n.details.examined = true;
    n.details.integrity = CDocumentDetails::IntegrityWhole;
    return n;
}

// stdout and stderr of an in-process command.
class Capture
{
public:
    Capture()
    {
        out = ::open_memstream(&m_outBuffer, &m_outSize);
        err = ::open_memstream(&m_errBuffer, &m_errSize);
    }
    ~Capture()
    {
        std::fclose(out);
        std::fclose(err);
        std::free(m_outBuffer);
        std::free(m_errBuffer);
    }
    QString outText()
    {
        std::fflush(out);
        return QString::fromUtf8(m_outBuffer, static_cast<int>(m_outSize));
    }
    QString errText()
    {
        std::fflush(err);
        return QString::fromUtf8(m_errBuffer, static_cast<int>(m_errSize));
    }
    FILE* out = nullptr;
    FILE* err = nullptr;

private:
    char* m_outBuffer = nullptr;
    size_t m_outSize = 0;
    char* m_errBuffer = nullptr;
    size_t m_errSize = 0;
};

struct Placed
{
    QString file;
    QString type;
    quint64 sector;
};

// A raw volume (no file system) holding corpus documents at known sectors.
QString buildImage(const QString& dir, const QList<Placed>& placed)
{
    const QString path = dir + "/documents.img";
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || !f.resize(8 * 1024 * 1024))
        return QString();
    for (const Placed& p : placed) {
        f.seek(qint64(p.sector) * 512);
        f.write(corpus(p.file));
    }
    return path;
}

} // namespace

class TestCliRecover : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); }
    void optionsAreCheckedBeforeAnythingIsRead();
    void recoversByteIdenticalDocuments();
    void reportStaysXmlWhateverTheTitles();
    void recoversTheDemoImage();
    void recoversDeletedNtfsFilesByNameAndTime();
    void keepFoldersKeepsSameNamedFilesApart();
    void listsAndRecoversDocumentsOfLostChains();
    void unusedSpaceOfAFullVolumeHoldsEveryDeletedDocument();
    void fullDiskExitsOneAndLeavesNoPartialFile();
    void nothingDamagedIsWrittenAsRecovered();
    void recoveryGoesOnPastBadSectors();
    void refusesToWriteOntoTheSource();
    void interruptLeavesOnlyWholeFiles();
    void secondInterruptAbortsAndRemovesTheUnfinishedFile();
    void listsVolumesOneALine();
};

void TestCliRecover::optionsAreCheckedBeforeAnythingIsRead()
{
    const CRecoverCommand::Options o =
        CRecoverCommand::parse({"img", "out", "--type", "pdf,DOCX", "--allow-same-volume", "--fs=none"});
    QVERIFY2(o.error.isEmpty(), qPrintable(o.error));
    QCOMPARE(o.types, (QSet<int>{CFileTypeCatalogue::Pdf, CFileTypeCatalogue::Docx}));
    QVERIFY(o.allowSameVolume);
    QCOMPARE(o.fileSystem, QStringLiteral("none"));
    for (const QStringList& bad : QList<QStringList>{{"img"}, {"img", "out", "more"}, {"img", "out", "--type", "EXE"},
                                                     {"img", "out", "--type"}, {"img", "out", "--type", ","},
                                                     {"img", "out", "--frob"}}) {
        QVERIFY2(!CRecoverCommand::parse(bad).error.isEmpty(), qPrintable(bad.join(' ')));
    }

    QTemporaryDir dir;
    const Run badType = cli({"recover", dir.path() + "/none.img", dir.path() + "/out", "--type", "EXE"});
    QCOMPARE(badType.exitCode, 2);
    QVERIFY(badType.err.contains("EXE"));
    const Run missing = cli({"recover", dir.path() + "/none.img", dir.path() + "/out"});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY(missing.err.contains(dir.path() + "/none.img"));
    QVERIFY(!QFileInfo::exists(dir.path() + "/out"));
    QVERIFY(cli({"--help"}).out.contains("recover SOURCE OUTDIR"));
}

void TestCliRecover::recoversByteIdenticalDocuments()
{
    QTemporaryDir dir;
    const QList<Placed> placed = {{"pdf_lo_writer_text.pdf", "PDF", 2048},
                                  {"docx_lo_short.docx", "DOCX", 4104},
                                  {"xls_small.xls", "XLS", 6000},
                                  {"zip_deflated.zip", "ZIP", 8192}};
    const QString image = buildImage(dir.path(), placed);
    QVERIFY(!image.isEmpty());
    const QByteArray volume = readAll(image);
    const QString out = dir.path() + QString::fromUtf8("/恢复");

    const Run first = cli({"recover", image, out, "--fs", "none"});
    QCOMPARE(first.exitCode, 0);
    QVERIFY2(first.err.contains("Recovered") || first.err.contains("No documents"), qPrintable(first.err));
    const QStringList written = documentsIn(out, QDir::Files);
    QVERIFY2(!written.isEmpty(), qPrintable(first.err));

    // Every file is the volume's bytes from its start sector on, and every
    // placed document is among them.
    for (const QString& name : written) {
        const quint64 sector = name.section('.', 0, 0).toULongLong();
        const QByteArray bytes = readAll(out + "/" + name);
        QCOMPARE(bytes, volume.mid(int(sector * 512), bytes.size()));
    }
    for (const Placed& p : placed) {
        const QString name = QStringLiteral("%1.%2").arg(p.sector).arg(p.type);
        QVERIFY2(written.contains(name), qPrintable(name));
        QVERIFY(first.out.contains(out + "/" + name));
    }

    // report.xml: DFXML listing each written file with its size, its runs
    // on the image, and a SHA-256 that matches the file.
    QFile reportFile(out + "/report.xml");
    QVERIFY(reportFile.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&reportFile);
    const QString dfxml = QStringLiteral("http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML");
    QStringList reported;
    QString file;
    bool sawSource = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("dfxml")) {
            QCOMPARE(xml.namespaceUri().toString(), dfxml);
            QCOMPARE(xml.attributes().value("version").toString(), QStringLiteral("1.2.0"));
        } else if (xml.name() == QLatin1String("image_filename")) {
            QCOMPARE(xml.readElementText(), image);
            sawSource = true;
        } else if (xml.name() == QLatin1String("filename")) {
            file = xml.readElementText();
            reported << file;
        } else if (xml.name() == QLatin1String("filesize")) {
            QCOMPARE(xml.readElementText().toLongLong(), QFileInfo(out + "/" + file).size());
        } else if (xml.name() == QLatin1String("byte_run")) {
            const quint64 sector = file.section('.', 0, 0).toULongLong();
            QCOMPARE(xml.attributes().value("img_offset").toULongLong(), sector * 512);
            QCOMPARE(xml.attributes().value("file_offset").toLongLong(), 0);
        } else if (xml.name() == QLatin1String("hashdigest")) {
            QCOMPARE(xml.attributes().value("type").toString(), QStringLiteral("sha256"));
            QCOMPARE(xml.readElementText().toLatin1(),
                     QCryptographicHash::hash(readAll(out + "/" + file), QCryptographicHash::Sha256).toHex());
        } else if (xml.name() == QLatin1String("integrity")) {
            QCOMPARE(xml.attributes().value("state").toString(), QStringLiteral("whole"));
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(sawSource);
    std::sort(reported.begin(), reported.end());
    QStringList sortedWritten = written;
    std::sort(sortedWritten.begin(), sortedWritten.end());
    QCOMPARE(reported, sortedWritten);

    // Again into the same folder, only PDFs: the first run's files stay.
    const Run second = cli({"recover", image, out, "--fs", "none", "--type", "PDF"});
    QCOMPARE(second.exitCode, 0);
    QCOMPARE(readAll(out + "/2048 (1).PDF"), readAll(out + "/2048.PDF"));
    QCOMPARE(documentsIn(out, QDir::Files).size(), written.size() + 1);
}

void TestCliRecover::reportStaysXmlWhateverTheTitles()
{
    if (QStandardPaths::findExecutable("xmllint").isEmpty())
        QSKIP("xmllint (libxml2-utils) is not installed");
    // The title's nine UTF-16 units rewritten in place (the offsets stay):
    // half a surrogate pair at each end, control codes and U+FFFE.
    QByteArray hostile = corpus("pdf_utf16_title.pdf");
    const QByteArray title = "feff5e745ea662a5544a00200032003000320034";
    QVERIFY(hostile.contains(title));
    hostile.replace(title, "feffd800004100010042001bfffe0044000bdc00");
    QVERIFY(hostile.size() == corpus("pdf_utf16_title.pdf").size());

    // A control code in the image's own path, written as the source's name.
    QTemporaryDir dir;
    const QString image = dir.path() + QString::fromUtf8("/disk\x01.img");
    {
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(4 * 1024 * 1024));
        f.seek(2048 * 512);
        f.write(hostile);
        f.seek(4096 * 512);
        f.write(corpus("pdf_xref_stream.pdf"));
    }
    const QString out = dir.path() + "/out";
    const Run r = cli({"recover", image, out, "--fs", "none"});
    QCOMPARE(r.exitCode, 0);

    QProcess lint;
    lint.start("xmllint", {"--noout", out + "/report.xml"});
    QVERIFY(lint.waitForFinished(60000));
    QVERIFY2(lint.exitCode() == 0, lint.readAllStandardError().constData());

    // What cannot be XML shows as U+FFFD; the file after it is all there.
    QFile reportFile(out + "/report.xml");
    QVERIFY(reportFile.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&reportFile);
    QStringList titles;
    QString source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("title"))
            titles << xml.readElementText();
        else if (xml.name() == QLatin1String("image_filename"))
            source = xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(source, dir.path() + QString::fromUtf8("/disk\xEF\xBF\xBD.img"));
    QCOMPARE(titles, QStringList({QString::fromUtf8("\xEF\xBF\xBD" "A\xEF\xBF\xBD" "B\xEF\xBF\xBD\xEF\xBF\xBD"
                                                    "D\xEF\xBF\xBD\xEF\xBF\xBD"),
                                  QStringLiteral("Quarterly figures")}));
}

void TestCliRecover::recoversTheDemoImage()
{
    if (QStandardPaths::findExecutable("mkfs.fat").isEmpty() && QStandardPaths::findExecutable("mkfs.fat", {"/usr/sbin", "/sbin"}).isEmpty())
        QSKIP("mkfs.fat (dosfstools) is not installed");
    if (QStandardPaths::findExecutable("mcopy").isEmpty())
        QSKIP("mtools is not installed");
    QTemporaryDir dir;
    const QString image = dir.path() + "/demo.img";
    const QString made = buildVolume("scripts/make-demo-image.sh", image);
    QVERIFY2(made.isEmpty(), qPrintable(made));

    const QString out = dir.path() + "/recovered";
    const Run r = cli({"recover", image, out});
    QCOMPARE(r.exitCode, 0);
    const QStringList written = documentsIn(out, QDir::Files);
    QVERIFY2(!written.isEmpty(), qPrintable(r.err));

    // The documents the demo deleted come back byte-identical under the
    // names their deleted directory entries keep (a lower-case 8.3 name
    // loses its first letter; a long name keeps it).
    const QMap<QString, const char*> expected{{"_hesis.pdf", "pdf_ghostscript.pdf"},
                                              {"_ables.doc", "doc_tables.doc"},
                                              {"sheet.xlsx", "xlsx_xlsxwriter.xlsx"},
                                              {"_otes.zip", "zip_deflated.zip"}};
    QCOMPARE(QStringList(written).size(), expected.size());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QVERIFY2(written.contains(it.key()), qPrintable(written.join(' ')));
        QVERIFY2(readAll(out + "/" + it.key()) == corpus(it.value()), it.value());
    }
}

void TestCliRecover::recoversDeletedNtfsFilesByNameAndTime()
{
    if (!QFile::exists("/dev/fuse") || QStandardPaths::findExecutable("ntfs-3g").isEmpty())
        QSKIP("no ntfs-3g mount here: the NTFS test volume cannot be built");
    const bool haveTsk = !QStandardPaths::findExecutable("fls").isEmpty();
    QTemporaryDir dir;
    const QString image = dir.path() + "/deleted.img";
    const QString made = buildVolume("tests/scripts/make-ntfs-deleted-volume.sh", image);
    QVERIFY2(made.isEmpty(), qPrintable(made));

    // What The Sleuth Kit says of each deleted file: its modification time.
    QHash<QString, qint64> tskTimes;
    if (haveTsk) {
        QProcess fls;
        fls.start("fls", {"-r", "-d", "-p", "-m", "/", image});
        QVERIFY(fls.waitForFinished(60000));
        for (const QString& line : QString::fromUtf8(fls.readAllStandardOutput()).split('\n')) {
            const QStringList f = line.split('|');
            if (f.size() >= 11 && f[1].endsWith(" (deleted)") && !f[1].contains("($FILE_NAME)"))
                tskTimes.insert(f[1].section('/', -1).chopped(10), f[8].toLongLong());
        }
    }

    const QString out = dir.path() + "/out";
    const Run r = cli({"recover", image, out, "--allow-same-volume"});
    QCOMPARE(r.exitCode, 3); // victim.docx, below, is left out
    // Whole under their own names, fragmented and found-twice ones included.
    const QList<QPair<QString, QString>> whole = {{"毕业论文终稿.docx", "docx_python-docx.docx"},
                                                  {"résumé.pdf", "pdf_lo_writer_text.pdf"},
                                                  {"backup.bak", "docx_lo_short.docx"},
                                                  {"budget.xls", "xls_3sheets.xls"},
                                                  {"plan.pdf", "pdf_ghostscript.pdf"},
                                                  {"fragmented.ppt", "ppt_2slides.ppt"}};
    for (const auto& [name, original] : whole) {
        QCOMPARE(readAll(out + "/" + name), corpus(original));
        if (!tskTimes.isEmpty()) {
            QVERIFY2(tskTimes.contains(name), qPrintable(name));
            QCOMPARE(QFileInfo(out + "/" + name).lastModified().toSecsSinceEpoch(), tskTimes.value(name));
        }
    }
    QVERIFY(QFile::exists(out + "/便笺.zip")); // the one inside its record
    // The reused one is left out unless asked for.
    QVERIFY(!QFile::exists(out + "/victim.docx"));
    QVERIFY(r.err.contains("--include-damaged"));
    const Run all = cli({"recover", image, dir.path() + "/all", "--allow-same-volume", "--include-damaged"});
    QCOMPARE(all.exitCode, 0);
    QVERIFY(QFile::exists(dir.path() + "/all/victim.docx"));
}

void TestCliRecover::keepFoldersKeepsSameNamedFilesApart()
{
    QTemporaryDir dir;
    const QString image = dir.path() + "/folders.img";
    const QString made = buildVolume("tests/scripts/make-fat32-folders-volume.sh", image);
    QVERIFY2(made.isEmpty(), qPrintable(made));
    const QString out = dir.path() + "/out";
    const Run r = cli({"recover", image, out, "--keep-folders"});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    const QList<QPair<QString, QString>> expected = {{"Team A/report.docx", "docx_python-docx.docx"},
                                                     {"Team B/2024/report.docx", "docx_lo_short.docx"},
                                                     {"meeting notes.pdf", "pdf_lo_writer_text.pdf"},
                                                     {"Team A/meeting notes.pdf", "pdf_pdfunite.pdf"}};
    QStringList written;
    QDirIterator it(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        written << QDir(out).relativeFilePath(it.next());
    written.sort();
    QCOMPARE(written, QStringList({"Team A/meeting notes.pdf", "Team A/report.docx", "Team B/2024/report.docx",
                                   "meeting notes.pdf", "report.xml"}));
    for (const auto& [path, original] : expected) {
        QCOMPARE(readAll(out + "/" + path), corpus(original));
        QVERIFY2(r.out.contains(out + "/" + path + "\n"), qPrintable(r.out));
    }

    // report.xml pairs each original path with where the file went.
    QFile reportFile(out + "/report.xml");
    QVERIFY(reportFile.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&reportFile);
    QStringList pairs;
    QString original;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("filename"))
            original = xml.readElementText();
        else if (xml.name() == QLatin1String("written"))
            pairs << original + " -> " + xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    pairs.sort();
    QCOMPARE(pairs, QStringList({"/Team A/meeting notes.pdf -> Team A/meeting notes.pdf", "/Team A/report.docx -> Team A/report.docx",
                                 "/Team B/2024/report.docx -> Team B/2024/report.docx", "/meeting notes.pdf -> meeting notes.pdf"}));

    // Without the option, the flat folder of before.
    const Run flat = cli({"recover", image, dir.path() + "/flat"});
    QCOMPARE(flat.exitCode, 0);
    QCOMPARE(documentsIn(dir.path() + "/flat", QDir::Files).size(), 4);
    QVERIFY(QFile::exists(dir.path() + "/flat/report (1).docx"));
}

// A document whose clusters stay allocated after its directory entry is
// gone (a lost chain) is lost to its owner: listed, marked as orphaned, and
// recovered whole, whether the FAT is read or not; the live document beside
// it stays out.
void TestCliRecover::listsAndRecoversDocumentsOfLostChains()
{
    if (QStandardPaths::findExecutable("mcopy").isEmpty())
        QSKIP("mtools is not installed");
    QTemporaryDir dir;
    const QString image = dir.path() + "/orphans.img";
    const QString made = buildVolume("tests/scripts/make-fat32-orphan-volume.sh", image);
    QVERIFY2(made.isEmpty(), qPrintable(made));

    const Run scan = cli({"scan", image, "--json"});
    QCOMPARE(scan.exitCode, 0);
    const QStringList lines = scan.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    const QJsonObject o = QJsonDocument::fromJson(lines.first().toUtf8()).object();
    QCOMPARE(o.value("type").toString(), QStringLiteral("PDF"));
    QCOMPARE(qint64(o.value("size").toDouble()), qint64(corpus("pdf_ghostscript.pdf").size()));
    QCOMPARE(o.value("orphaned").toBool(), true);

    // The FAT read, its unused space (where lost chains count as unused)
    // or the whole volume; and no file system read at all.
    const QList<QStringList> modes{{"--fs", "auto"}, {"--fs", "auto", "--whole"}, {"--fs", "none"}};
    for (const QStringList& mode : modes) {
        const QString out = dir.path() + "/out-" + mode.join(QString());
        const Run r = cli(QStringList{"recover", image, out} + mode);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err.contains("Scanning unused space only"), mode.size() == 2 && mode[1] == QLatin1String("auto"));
        const QStringList written = QDir(out).entryList(QDir::Files);
        QSet<QByteArray> recovered;
        for (const QString& name : written)
            recovered.insert(readAll(out + "/" + name));
        QVERIFY2(recovered.contains(corpus("pdf_ghostscript.pdf")), qPrintable(mode.join(' ') + ": " + r.err));
        // Carving everything also finds the live document; the FAT keeps it out.
        QCOMPARE(recovered.contains(corpus("docx_lo_short.docx")), mode.contains(QStringLiteral("none")));
    }
}

// A volume 80 % full of live files with deleted documents in the holes
// between them: the default scan reads about a fifth of it, and finds every
// deleted document by carving as well as by its entry, byte for byte, as
// the whole-volume scan does. Each is one row under its name (its long name
// wherever one was written, even split over two directory clusters; else
// its 8.3 name with the first letter lost, as fls shows it) and of the type
// its extension says, and is recovered under that name.
void TestCliRecover::unusedSpaceOfAFullVolumeHoldsEveryDeletedDocument()
{
    if (QStandardPaths::findExecutable("mcopy").isEmpty())
        QSKIP("mtools is not installed");
    QTemporaryDir dir;
    const QString image = dir.path() + "/full.img";
    const QString made = buildVolume("tests/scripts/make-fat32-full-volume.sh", image);
    QVERIFY2(made.isEmpty(), qPrintable(made));
    QMap<QString, QByteArray> deleted; // name -> content
    for (const QString& line : QString::fromUtf8(readAll(image + ".deleted")).split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split('\t');
        QCOMPARE(fields.size(), 2);
        deleted.insert(fields[0], readAll(fields[1]));
    }
    QVERIFY(deleted.size() >= 15);

    for (const bool whole : {false, true}) {
        const QStringList extra = whole ? QStringList{"--whole"} : QStringList();
        const Run scan = cli(QStringList{"scan", image, "--json"} + extra);
        QCOMPARE(scan.exitCode, 0);
        QSet<qint64> carved, entries;
        QMap<QString, QString> listed; // name -> "TYPE origin"
        for (const QString& line : scan.out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            const QString origin = o.value("origin").toString();
            listed.insert(o.value("name").toString(), o.value("type").toString() + ' ' + origin);
            const qint64 sector = static_cast<qint64>(o.value("sector").toDouble());
            if (origin != QLatin1String("deleted-entry"))
                carved.insert(sector);
            if (origin != QLatin1String("carved"))
                entries.insert(sector);
        }
        QVERIFY(entries.size() >= deleted.size());
        const QRegularExpression plan(QStringLiteral("Scanning unused space only: ([0-9.]+) MB of ([0-9.]+) MB read"));
        const QRegularExpressionMatch m = plan.match(scan.err);
        QCOMPARE(m.hasMatch(), !whole);
        if (!whole) {
            const double share = m.captured(1).toDouble() / m.captured(2).toDouble();
            QVERIFY2(share > 0.15 && share < 0.3, qPrintable(scan.err));
        }

        const QString out = dir.path() + (whole ? "/whole" : "/unused");
        const Run r = cli(QStringList{"recover", image, out} + extra);
        QCOMPARE(r.exitCode, 0);
        QSet<QByteArray> recovered;
        for (const QString& name : documentsIn(out, QDir::Files))
            recovered.insert(readAll(out + "/" + name));
        for (auto it = deleted.cbegin(); it != deleted.cend(); ++it) {
            QVERIFY2(recovered.contains(it.value()), qPrintable(it.key() + (whole ? " (whole)" : " (unused)")));
            const QString name = listed.contains(it.key()) ? it.key() : '_' + it.key().mid(1);
            QCOMPARE(listed.value(name), it.key().section('.', -1).toUpper() + " both");
            QCOMPARE(readAll(out + "/" + name), it.value());
        }
        // Every one of them was read by the carving pass too, not only
        // listed by its entry: documents without entries are found the same
        // way.
        QVERIFY2(carved.contains(entries), qPrintable(scan.out));
    }
}

void TestCliRecover::fullDiskExitsOneAndLeavesNoPartialFile()
{
    QTemporaryDir dir;
    const QString mountPoint = dir.path() + "/small";
    QVERIFY(QDir().mkpath(mountPoint));
    const bool mounted = ::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=1m") == 0;
    struct rlimit saved;
    ::getrlimit(RLIMIT_FSIZE, &saved);
    if (!mounted) {
        // Without the right to mount, a file size limit fails the write the
        // same way (EFBIG instead of ENOSPC).
        struct rlimit limit = saved;
        limit.rlim_cur = 1024 * 1024;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            QSKIP("neither a tmpfs can be mounted nor a file size limit set here");
    }

    const QByteArray bytes(3 * 1024 * 1024, 'd');
    auto volume = std::make_shared<CMemoryVolume>(bytes);
    const QList<CFileNode> files = {record(0, 200 * 1024), record(1000, 1500 * 1024), record(5000, 100)};
    int code = -1;
    QString err;
    {
        Capture capture;
        CRecoverCommand command(capture.out, capture.err);
        code = command.recoverDocuments(volume, mountPoint + "/out", files, 64 * 1024);
        err = capture.errText();
    }
    const QStringList left = documentsIn(mountPoint + "/out", QDir::Files);
    if (mounted)
        ::umount(QFile::encodeName(mountPoint).constData());
    else
        ::setrlimit(RLIMIT_FSIZE, &saved);

    QCOMPARE(code, 1);
    QVERIFY2(err.contains("cannot write " + mountPoint + "/out/1000.PDF"), qPrintable(err));
    QVERIFY2(err.contains(mounted ? "full" : "too large") || err.contains("limit"), qPrintable(err));
    QVERIFY2(err.contains("1 of 3"), qPrintable(err));
    QCOMPARE(left, QStringList{"0.PDF"});
}

// Deleted entries whose clusters hold something else now, though no live
// file uses them: documents overwritten by files that were deleted in turn,
// and a deleted filler whose first cluster now holds a piece of a document
// (typed by that piece). Their checks fail, so they are left out and named,
// and every file written is byte for byte a document of the volume.
void TestCliRecover::nothingDamagedIsWrittenAsRecovered()
{
    QTemporaryDir dir;
    struct Case
    {
        const char* kind;
        QMap<QString, const char*> whole; // written name -> corpus file
        QStringList leftOut;
    };
    const QList<Case> cases = {
        {"overwritten", {{"_lan.pdf", "pdf_lo_writer_text.pdf"}}, {"_hesis.pdf", "notes.docx"}},
        {"filler", {{"_eport.pdf", "pdf_pdfunite.pdf"}}, {"_000.TMP"}},
    };
    for (const Case& c : cases) {
        const QString image = dir.path() + "/" + c.kind + ".img";
        const QString made = buildVolume("tests/scripts/make-fat32-reused-volume.sh", image, {c.kind});
        QVERIFY2(made.isEmpty(), qPrintable(made));
        const QString out = dir.path() + "/" + c.kind;
        const Run r = cli({"recover", image, out});
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(documentsIn(out, QDir::Files | QDir::Hidden), QStringList(c.whole.keys()));
        for (auto it = c.whole.cbegin(); it != c.whole.cend(); ++it)
            QVERIFY2(readAll(out + "/" + it.key()) == corpus(it.value()), it.value());
        for (const QString& name : c.leftOut) {
            QVERIFY2(r.err.contains("left out " + name + ": damaged: "), qPrintable(r.err));
            QVERIFY2(readAll(out + "/report.xml").contains("<tamsel:left_out filename=\"" + name.toUtf8() + "\""),
                     qPrintable(name));
        }
        QVERIFY2(r.err.contains(QStringLiteral("Left out %1 document(s)").arg(c.leftOut.size())), qPrintable(r.err));
        QVERIFY2(r.err.contains("--include-damaged writes them"), qPrintable(r.err));

        // Asked for, they are written as they are.
        const Run all = cli({"recover", image, out + "-all", "--include-damaged"});
        QCOMPARE(all.exitCode, 0);
        QCOMPARE(documentsIn(out + "-all", QDir::Files).size(), c.whole.size() + c.leftOut.size());
    }
}

// A bad sector inside one document: the others are written, that one is
// named in the summary and the exit status says some were left out; with
// --include-damaged it is written with zeros where the disk gave nothing.
void TestCliRecover::recoveryGoesOnPastBadSectors()
{
    const QByteArray bytes(64 * 1024, 'd');
    auto volume = std::make_shared<CMemoryVolume>(bytes);
    volume->failRange(21 * 512, 512, EIO);
    const QList<CFileNode> files = {record(0, 4000), record(20, 3000), record(40, 5000)};
    QTemporaryDir dir;
    for (const bool include : {false, true}) {
        const QString out = dir.path() + (include ? "/all" : "/out");
        int code = -1;
        QString err;
        {
            Capture capture;
            CRecoverCommand command(capture.out, capture.err);
            code = command.recoverDocuments(volume, out, files, 64 * 1024, include);
            err = capture.errText();
        }
        if (!include) {
            QCOMPARE(code, 3);
            QCOMPARE(documentsIn(out, QDir::Files | QDir::Hidden), (QStringList{"0.PDF", "40.PDF"}));
            QVERIFY2(err.contains("[2/3] left out 20.PDF: unreadable sectors at byte 10752 of memory"), qPrintable(err));
            QVERIFY2(err.contains("Recovered 2 document(s)"), qPrintable(err));
            QVERIFY2(err.contains("1 over sectors that cannot be read: 20.PDF"), qPrintable(err));
        } else {
            QCOMPARE(code, 0);
            QByteArray expected(3000, 'd');
            expected.replace(512, 512, QByteArray(512, '\0'));
            QCOMPARE(readAll(out + "/20.PDF"), expected);
        }
    }
}

void TestCliRecover::refusesToWriteOntoTheSource()
{
    QTemporaryDir dir;
    // Beside an image its bytes are safe: no question, no override needed.
    // (Mounts of the image itself are refused: tst_CSameVolumeCheck.)
    const QString image = buildImage(dir.path(), {});
    const Run beside = cli({"recover", image, dir.path() + "/out2", "--fs", "none"});
    QVERIFY2(beside.exitCode == 0, qPrintable(beside.err));
    QVERIFY(QFileInfo(dir.path() + "/out2").isDir());

    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(dir.path()).constData(), &st), 0);
    const QString number = QStringLiteral("%1:%2").arg(major(st.st_dev)).arg(minor(st.st_dev));
    if (major(st.st_dev) == 0 || !QFileInfo::exists("/sys/dev/block/" + number))
        QSKIP("the temporary folder is on no block device known to sysfs here");
    const QString node = dir.path() + "/source-device";
    if (::mknod(QFile::encodeName(node).constData(), S_IFBLK | 0600, st.st_dev) != 0)
        QSKIP("block device nodes cannot be made here");

    // Refused before the scan begins (a scan of the whole disk would time out).
    const Run r = cli({"recover", node, dir.path() + "/out"}, 30000);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains("refusing to recover into " + dir.path() + "/out"), qPrintable(r.err));
    QVERIFY(r.err.contains("another disk"));
    QVERIFY(!QFileInfo::exists(dir.path() + "/out"));
}

void TestCliRecover::interruptLeavesOnlyWholeFiles()
{
    // Six large PDFs, so that Ctrl-C after the first one lands mid-run
    // (made-up ones, which fail their check: written as they are).
    QTemporaryDir dir;
    const QString image = dir.path() + "/big.img";
    const qint64 documentBytes = qint64(24) << 20;
    const qint64 stride = documentBytes + (qint64(1) << 20);
    {
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray pdf("%PDF-1.4\n");
        pdf.append(QByteArray(int(documentBytes) - pdf.size() - 6, 'x'));
        pdf.append("%%EOF\n");
        for (int k = 0; k < 6; ++k) {
            QVERIFY(f.seek(k * stride));
            QCOMPARE(f.write(pdf), qint64(pdf.size()));
        }
        QVERIFY(f.resize(6 * stride));
    }
    const QString out = dir.path() + "/out";
    QProcess p;
    p.start(QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli"),
            {"recover", image, out, "--fs", "none", "--include-damaged"});
    QVERIFY(p.waitForStarted());
    QByteArray err;
    while (!err.contains("[1/6]") && p.state() == QProcess::Running) {
        p.waitForReadyRead(1000);
        err += p.readAllStandardError();
    }
    ::kill(p.processId(), SIGINT);
    QVERIFY(p.waitForFinished(120000));
    err += p.readAllStandardError();
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    // Usually interrupted; a fast disk may finish first. Either way every
    // file in the folder is a whole document.
    QVERIFY2(p.exitCode() == 130 || p.exitCode() == 0, err.constData());
    if (p.exitCode() == 130) {
        QVERIFY(err.contains("interrupted"));
        // Said at once, naming the file that is being finished.
        QVERIFY2(QRegularExpression("finishing \\d+\\.PDF, press Ctrl-C again to abort").match(err).hasMatch(),
                 err.constData());
    }
    const QStringList written = documentsIn(out, QDir::Files);
    QVERIFY(!written.isEmpty());
    QFile volume(image);
    QVERIFY(volume.open(QIODevice::ReadOnly));
    for (const QString& name : written) {
        const QByteArray bytes = readAll(out + "/" + name);
        QCOMPARE(qint64(bytes.size()), documentBytes); // up to the line end after its "%%EOF"
        QVERIFY(volume.seek(qint64(name.section('.', 0, 0).toULongLong()) * 512));
        QVERIFY(bytes == volume.read(bytes.size()));
    }
}

void TestCliRecover::secondInterruptAbortsAndRemovesTheUnfinishedFile()
{
    // Three 40 MiB PDFs (two read windows each, mostly holes in the image;
    // made-up ones, which fail their check: written as they are).
    QTemporaryDir dir;
    const QString image = dir.path() + "/big.img";
    const qint64 documentBytes = qint64(40) << 20;
    const qint64 stride = documentBytes + (qint64(1) << 20);
    {
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        for (int k = 0; k < 3; ++k) {
            QVERIFY(f.seek(k * stride));
            f.write("%PDF-1.4\n");
            QVERIFY(f.seek(k * stride + documentBytes - 6));
            f.write("%%EOF\n");
        }
        QVERIFY(f.resize(3 * stride));
    }
    const QString out = dir.path() + "/out";
    QProcess p;
    p.start(QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli"),
            {"recover", image, out, "--fs", "none", "--include-damaged"});
    QVERIFY(p.waitForStarted());
    const qint64 whole = documentBytes - 1;
    auto entries = [&]() { return QDir(out).entryInfoList(QDir::Files | QDir::Hidden); };

    // Freeze the program while a document is half written.
    QString partial;
    QStringList finished;
    for (int attempt = 0; attempt < 4000 && partial.isEmpty() && p.state() == QProcess::Running; ++attempt) {
        QThread::msleep(2);
        bool writing = false;
        for (const QFileInfo& e : entries())
            writing = writing || (e.fileName().endsWith(".partial") && e.size() > 0 && e.size() < whole);
        if (!writing)
            continue;
        ::kill(p.processId(), SIGSTOP);
        finished.clear();
        for (const QFileInfo& e : entries()) {
            if (e.fileName().endsWith(".partial") && e.size() > 0 && e.size() < whole)
                partial = e.fileName();
            else
                finished << e.fileName();
        }
        if (partial.isEmpty())
            ::kill(p.processId(), SIGCONT);
    }
    QVERIFY2(!partial.isEmpty(), "never caught a document half written");
    // The half-written file has a hidden name that says so; every file
    // under a document's name is whole.
    QVERIFY2(partial.startsWith('.'), qPrintable(partial));
    for (const QString& name : finished)
        QCOMPARE(QFileInfo(out + "/" + name).size(), whole);

    // Two signals while frozen: the second one aborts without finishing.
    ::kill(p.processId(), SIGINT);
    ::kill(p.processId(), SIGTERM);
    ::kill(p.processId(), SIGCONT);
    QVERIFY(p.waitForFinished(60000));
    const QByteArray err = p.readAllStandardError();
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 130);
    QVERIFY2(err.contains("aborted; the unfinished file was removed"), err.constData());
    QStringList left;
    for (const QFileInfo& e : entries()) {
        left << e.fileName();
        QCOMPARE(e.size(), whole);
    }
    QCOMPARE(left, finished);
}

void TestCliRecover::listsVolumesOneALine()
{
    CPartitionList::Probes probes;
    probes.readLsblk = []() {
        return QByteArray(R"({"blockdevices":[
          {"name":"sdb1","path":"/dev/sdb1","type":"part","size":128849018880,"fstype":"ntfs","label":"Data","mountpoint":"/mnt/d","rm":false},
          {"name":"sdc1","path":"/dev/sdc1","type":"part","size":1073741824,"fstype":"vfat","fsver":"FAT32","label":null,"mountpoint":null,"rm":true},
          {"name":"sr0","path":"/dev/sr0","type":"rom","size":734003200,"fstype":"iso9660","rm":true}]})");
    };
    probes.freeSpace = [](const QString&, int64_t* free) {
        *free = int64_t(40) << 30;
        return true;
    };
    Capture capture;
    CListCommand command(capture.out, capture.err);
    command.setProbes(probes);
    QCOMPARE(command.run({}), 0);
    // In English, as everything the CLI writes.
    QCOMPARE(capture.outText(), QString::fromUtf8("Data(sdb1)\t/dev/sdb1\tNTFS\t40GB free of 120GB\t66%\n"
                                                  "Local disk(sdc1)\t/dev/sdc1\tFAT32\tunknown free of 1GB\t0%\n"));
    // The drive types are for a debug log, not for the person reading the list.
    QVERIFY(!capture.errText().contains("The drive is"));
    QVERIFY(!capture.outText().contains("The drive is"));

    const Run real = cli({"list"});
    QCOMPARE(real.exitCode, 0);
    for (const QString& line : real.out.split('\n')) {
        if (!line.isEmpty())
            QCOMPARE(line.count('\t'), 4);
    }
    QVERIFY(!real.out.contains("The drive is"));
    QVERIFY2(!real.out.contains(QString::fromUtf8("可用")) && !real.out.contains(QString::fromUtf8("本地磁盘")),
             qPrintable(real.out));
}

QTEST_GUILESS_MAIN(TestCliRecover)
#include "tst_cli_recover.moc"
