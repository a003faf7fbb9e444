#include "cli/CDocumentJson.h"
#include "disk/CFileVolume.h"
#include "scan/CFileNode.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CScanJournal.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "cli/CliTestSupport.h"

#include <sys/stat.h>

namespace {

using clitest::Run;
using clitest::cli;

QJsonObject parsedLine(const QByteArray& line)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        qWarning("not a JSON object (%s): %s", qPrintable(error.errorString()), line.constData());
    return doc.object();
}

const QStringList kJsonKeys = {"name", "folder", "type", "sector", "size", "modified", "origin", "extents", "overwritten"};

} // namespace

class TestCliScan : public QObject
{
    Q_OBJECT

private slots:
    void usageAndExitCodes()
    {
        const Run help = cli({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains(QStringLiteral("scan SOURCE")));
        QVERIFY(help.out.contains(QStringLiteral("; 130 interrupted (Ctrl-C).")));

        QCOMPARE(cli({}).exitCode, 2);
        QCOMPARE(cli({QStringLiteral("scan")}).exitCode, 2);
        QCOMPARE(cli({QStringLiteral("frobnicate")}).exitCode, 2);
        const Run version = cli({QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QVERIFY2(QRegularExpression(QStringLiteral("^tamsel-cli \\d+\\.\\d+")).match(version.out).hasMatch(),
                 qPrintable(version.out));
        const Run badFs = cli({QStringLiteral("scan"), QStringLiteral("x.img"), QStringLiteral("--fs"), QStringLiteral("ext9")});
        QCOMPARE(badFs.exitCode, 2);
        QVERIFY(badFs.err.contains(QStringLiteral("Usage")));
    }

    void unreadableSourcesExitOne()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("no-such.img"));
        const Run r = cli({QStringLiteral("scan"), missing});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains(missing));
        QVERIFY(r.out.isEmpty());

        const QString fifo = dir.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(cli({QStringLiteral("scan"), fifo}).exitCode, 1);
    }

    void jsonLinesCarryEveryField()
    {
        // A deleted file with every awkward part: a name with a quote, a
        // backslash, a tab and a name unit that is not valid UTF-16, a hole
        // in its layout, a time east of UTC.
        CFileNode deleted(QStringLiteral("DOCX"), 20000, 128, QString(), QStringLiteral("128"), QString(),
                          CFileTypeCatalogue::typeCodeByName("DOCX"), 2, QString(), QString());
        deleted.origin = CFileNode::OriginDeletedEntry;
        deleted.originalName = QStringLiteral("论文 \"终稿\"\\\t") + QChar(0xD800) + QStringLiteral(".docx");
        deleted.folder = QStringLiteral("?/旧");
        deleted.modified = QDateTime(QDate(2024, 5, 1), QTime(14, 3, 9), Qt::OffsetFromUTC, 8 * 3600);
        deleted.extents = {{65536, 8192}, {CFileNode::Extent::kSparse, 4096}, {5LL << 40, 8192}};
        deleted.overwritten = 0.25;
        const QJsonObject e = parsedLine(CDocumentJson::line(deleted));
        for (const QString& key : kJsonKeys)
            QVERIFY2(e.contains(key), qPrintable(key));
        QVERIFY(e["name"].toString().startsWith(QStringLiteral("论文 \"终稿\"\\\t")));
        QCOMPARE(e["folder"].toString(), QStringLiteral("?/旧"));
        QCOMPARE(e["type"].toString(), QStringLiteral("DOCX"));
        QCOMPARE(e["origin"].toString(), QStringLiteral("deleted-entry"));
        QCOMPARE(QDateTime::fromString(e["modified"].toString(), Qt::ISODate), deleted.modified);
        QVERIFY(e["modified"].toString().contains(QRegularExpression("[+-]\\d\\d:\\d\\d$")));
        QCOMPARE(e["overwritten"].toDouble(), 0.25);
        const QJsonArray runs = e["extents"].toArray();
        QCOMPARE(runs.size(), 3);
        QCOMPARE(runs[1].toArray()[0].type(), QJsonValue::Null);
        QCOMPARE(runs[2].toArray()[0].toDouble(), double(5LL << 40));
        // Integers are written as integers, however large.
        QVERIFY(CDocumentJson::line(deleted).contains("[5497558138880,8192]"));

        CFileNode carved(QStringLiteral("PDF"), 5000, 2048, QString(), QStringLiteral("2048"), QString(),
                         CFileTypeCatalogue::typeCodeByName("PDF"), 2, QString(), QString());
        const QJsonObject c = parsedLine(CDocumentJson::line(carved));
        QCOMPARE(c["name"].toString(), QStringLiteral("2048.PDF"));
        QCOMPARE(c["folder"].type(), QJsonValue::Null);
        QCOMPARE(c["modified"].type(), QJsonValue::Null);
        QCOMPARE(c["origin"].toString(), QStringLiteral("carved"));
        QCOMPARE(c["extents"].toArray(), QJsonArray({QJsonArray({2048 * 512, 5000})}));
        QCOMPARE(c["overwritten"].toDouble(), 0.0);
    }

    void scanPrintsJsonAndTsv()
    {
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("documents.img"));
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(4 * 1024 * 1024));
        QFile pdf(QStringLiteral(TAMSEL_TEST_DATA "/pdf_lo_writer_text.pdf"));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        f.seek(2048 * 512);
        f.write(pdf.readAll());
        f.close();

        const Run json = cli({QStringLiteral("scan"), image, QStringLiteral("--fs"), QStringLiteral("none"),
                              QStringLiteral("--json")});
        QCOMPARE(json.exitCode, 0);
        const QStringList lines = json.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        bool found = false;
        for (const QString& line : lines) {
            const QJsonObject o = parsedLine(line.toUtf8());
            for (const QString& key : kJsonKeys)
                QVERIFY2(o.contains(key), qPrintable(line));
            if (o["sector"].toInt() == 2048) {
                found = true;
                QCOMPARE(o["name"].toString(), QStringLiteral("2048.PDF"));
                QCOMPARE(o["extents"].toArray()[0].toArray()[1].toInt(), o["size"].toInt());
            }
        }
        QVERIFY(found);

        const Run tsv = cli({QStringLiteral("scan"), image, QStringLiteral("--fs"), QStringLiteral("none"),
                             QStringLiteral("--tsv")});
        QCOMPARE(tsv.exitCode, 0);
        QVERIFY(tsv.out.startsWith(QStringLiteral("2048.PDF\tPDF\t2048\t")));
        QCOMPARE(tsv.out.count(QLatin1Char('\n')), lines.size());
        QCOMPARE(cli({QStringLiteral("scan"), image, QStringLiteral("--tsv"), QStringLiteral("--json")}).exitCode, 2);

        // The finished scan was saved: --resume lists it again without
        // scanning; a damaged saved scan is said so and never used.
        const Run again = cli({QStringLiteral("scan"), image, QStringLiteral("--tsv"), QStringLiteral("--resume")});
        QCOMPARE(again.exitCode, 0);
        QCOMPARE(again.out, tsv.out);
        QVERIFY2(again.err.contains(QStringLiteral("listing the finished scan")), qPrintable(again.err));
        // Nothing was read: no rate of the time it took to list.
        QVERIFY2(!again.err.contains(QStringLiteral("MB/s")), qPrintable(again.err));
        QVERIFY2(again.err.contains(QStringLiteral("listed from the scan saved before")), qPrintable(again.err));
        const QString saved = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + QStringLiteral("/tamsel/scans");
        const QStringList files = QDir(saved).entryList({QStringLiteral("*.json")}, QDir::Files);
        QVERIFY(!files.isEmpty());
        for (const QString& name : files) {
            QFile damaged(saved + QLatin1Char('/') + name);
            QVERIFY(damaged.open(QIODevice::ReadWrite));
            QVERIFY(damaged.resize(damaged.size() / 2));
        }
        const Run fresh = cli({QStringLiteral("scan"), image, QStringLiteral("--tsv"), QStringLiteral("--resume")});
        QCOMPARE(fresh.exitCode, 0);
        QCOMPARE(fresh.out, tsv.out);
        QVERIFY2(fresh.err.contains(QStringLiteral("is ignored: it is damaged")), qPrintable(fresh.err));
        QVERIFY(fresh.err.contains(QStringLiteral("scanning it afresh")));
    }

    // --resume goes on the way the saved scan was made: what is left out
    // follows it, and a setting given differently is refused, by name.
    void resumeKeepsHowTheScanWasMade()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("mcopy")).isEmpty())
            QSKIP("mtools is not installed");
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("fat.img"));
        const Run made = clitest::run(QStringLiteral("bash"),
                                      {QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-fat32-volume.sh"), image});
        QVERIFY2(made.exitCode == 0, qPrintable(made.err));

        // Without a file-system pass, live files' documents are listed too.
        const Run live = cli({QStringLiteral("scan"), image, QStringLiteral("--tsv"), QStringLiteral("--fs"),
                              QStringLiteral("none")});
        QCOMPARE(live.exitCode, 0);
        const Run lost = cli({QStringLiteral("scan"), image, QStringLiteral("--tsv")});
        QCOMPARE(lost.exitCode, 0);
        QVERIFY(live.out.count(QLatin1Char('\n')) > lost.out.count(QLatin1Char('\n')));

        // The scan saved is the last one (auto, unused space only): --whole
        // with --resume is refused, and the saved scan stays as it was.
        const std::unique_ptr<CFileVolume> volume = CFileVolume::open(image);
        QVERIFY(volume);
        QFile sessionFile(CScanJournal::fileFor(CScanJournal::identify(*volume)));
        QVERIFY(sessionFile.open(QIODevice::ReadOnly));
        const QByteArray before = sessionFile.readAll();
        sessionFile.close();
        const Run whole = cli({QStringLiteral("scan"), image, QStringLiteral("--resume"), QStringLiteral("--whole")});
        QCOMPARE(whole.exitCode, 2);
        QVERIFY2(whole.err.contains(QStringLiteral("made with --fs auto without --whole"))
                     && whole.err.contains(QStringLiteral("Leave out --whole")),
                 qPrintable(whole.err));
        QVERIFY(whole.out.isEmpty());
        QVERIFY(sessionFile.open(QIODevice::ReadOnly));
        QCOMPARE(sessionFile.readAll(), before);
        sessionFile.close();

        // A scan made with --fs none, cut short before it had carved
        // anything: going on, it still lists what --fs none lists.
        QCOMPARE(cli({QStringLiteral("scan"), image, QStringLiteral("--tsv"), QStringLiteral("--fs"),
                      QStringLiteral("none")})
                     .exitCode,
                 0);
        QVERIFY(sessionFile.open(QIODevice::ReadOnly));
        QByteArray text = sessionFile.readAll();
        sessionFile.close();
        text.replace("\"finished\":true", "\"finished\":false");
        const QRegularExpression position(QStringLiteral("\"(reached|resumeOffset)\":\\d+"));
        QString rewritten = QString::fromUtf8(text).replace(position, QStringLiteral("\"\\1\":0"));
        rewritten.replace(QRegularExpression(QStringLiteral(",\"records\":\\[.*\\]\\}$")),
                          QStringLiteral(",\"records\":[]}"));
        QVERIFY(sessionFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
        sessionFile.write(rewritten.toUtf8());
        sessionFile.close();
        const Run resumed = cli({QStringLiteral("scan"), image, QStringLiteral("--tsv"), QStringLiteral("--resume")});
        QCOMPARE(resumed.exitCode, 0);
        QVERIFY2(resumed.err.contains(QStringLiteral("going on with the scan")), qPrintable(resumed.err));
        QVERIFY2(resumed.err.contains(QStringLiteral("made with --fs none")), qPrintable(resumed.err));
        QCOMPARE(resumed.out, live.out);

        // The file system given differently is refused by name.
        const Run other = cli({QStringLiteral("scan"), image, QStringLiteral("--resume"), QStringLiteral("--fs"),
                               QStringLiteral("fat32")});
        QCOMPARE(other.exitCode, 2);
        QVERIFY2(other.err.contains(QStringLiteral("made with --fs none")) && other.err.contains(QStringLiteral("Leave out --fs FAT32")),
                 qPrintable(other.err));
        // Given the same, it goes on (here: lists the finished scan).
        const Run same = cli({QStringLiteral("scan"), image, QStringLiteral("--tsv"), QStringLiteral("--resume"),
                              QStringLiteral("--fs"), QStringLiteral("none")});
        QCOMPARE(same.exitCode, 0);
        QCOMPARE(same.out, live.out);

        // --fs in any letter case names the pass the worker knows.
        const Run exfat = cli({QStringLiteral("scan"), image, QStringLiteral("--tsv"), QStringLiteral("--fs"),
                               QStringLiteral("exfat")});
        QVERIFY2(exfat.err.contains(QStringLiteral("the exFAT file system of")), qPrintable(exfat.err));
    }

    // A live PDF and a live tar holding a PDF and a DOCX: the unused-space
    // scan lists nothing of them; --whole lists the two inside the tar,
    // marked, and never the live PDF itself.
    void wholeVolumeListsDocumentsInsideLiveFiles()
    {
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("bundle.img"));
        const Run made = clitest::run(QStringLiteral("bash"),
                                      {QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-fat32-container-volume.sh"),
                                       image});
        QVERIFY2(made.exitCode == 0, qPrintable(made.err));

        const Run unused = cli({QStringLiteral("scan"), image, QStringLiteral("--json")});
        QCOMPARE(unused.exitCode, 0);
        QCOMPARE(unused.out.count(QLatin1Char('\n')), 0);

        const Run whole = cli({QStringLiteral("scan"), image, QStringLiteral("--json"), QStringLiteral("--whole")});
        QCOMPARE(whole.exitCode, 0);
        QStringList inside;
        for (const QString& line : whole.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QJsonObject o = parsedLine(line.toUtf8());
            QVERIFY2(o.value(QStringLiteral("inside_live_file")).toBool(), qPrintable(line));
            inside << o.value(QStringLiteral("type")).toString();
        }
        inside.sort();
        QCOMPARE(inside, QStringList({QStringLiteral("DOCX"), QStringLiteral("PDF")}));
    }

    void emptyVolumeScansCleanly()
    {
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("blank.img"));
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(40 * 1024 * 1024));
        f.close();
        const Run r = cli({QStringLiteral("scan"), image, QStringLiteral("--tsv")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.isEmpty());
        QVERIFY(r.err.contains(QStringLiteral("0 lost document")));
        // Nothing found is said in words, and zeros with no file system do
        // not look like a disk.
        QVERIFY(r.err.contains(QStringLiteral("No lost documents were found.")));
        QVERIFY2(r.err.contains(QStringLiteral("does not look like a disk")), qPrintable(r.err));

        // An empty file is a volume of length 0, not an error.
        const QString empty = dir.filePath(QStringLiteral("empty.img"));
        QFile e(empty);
        QVERIFY(e.open(QIODevice::WriteOnly));
        e.close();
        const Run tiny = cli({QStringLiteral("scan"), empty});
        QCOMPARE(tiny.exitCode, 0);
        QVERIFY2(tiny.err.contains(QStringLiteral("smaller than one sector")), qPrintable(tiny.err));
    }
};

QTEST_GUILESS_MAIN(TestCliScan)
#include "tst_cli_scan.moc"
