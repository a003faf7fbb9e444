// Scans, images and scans again a FAT32 volume with deleted documents served
// as a failing disk (tests/disk/failing_disk.py over FUSE): reads of chosen
// sectors fail with EIO after a delay, or every read fails after a number
// of them, as a disk unplugged mid-scan.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "cli/CliTestSupport.h"

#include <set>
#include <unistd.h>

namespace {

using clitest::Run;
using clitest::cli;

constexpr qint64 kSector = 512;

// The harness over one image, mounted for as long as this object lives
// (unmounted however the test ends).
class FailingDisk
{
public:
    ~FailingDisk() { stop(); }

    // Empty when mounted, else why not.
    QString start(const QString& image, const QString& mountPoint, const QStringList& options)
    {
        if (!QFileInfo::exists(QStringLiteral("/dev/fuse")))
            return QStringLiteral("no /dev/fuse here");
        if (QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import fuse")}) != 0)
            return QStringLiteral("python3-fuse is not installed (scripts/install-deps.sh installs it)");
        m_mount = mountPoint;
        QDir().mkpath(m_mount);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        QStringList{QStringLiteral(TAMSEL_SOURCE_DIR "/tests/disk/failing_disk.py"), image, m_mount}
                            + options);
        for (int i = 0; i < 200; ++i) {
            if (QFileInfo::exists(file()))
                return QString();
            if (m_process.state() == QProcess::NotRunning)
                return QStringLiteral("the FUSE harness ended at once (can this machine mount FUSE?)");
            QThread::msleep(50);
        }
        return QStringLiteral("the FUSE harness did not mount within 10 s");
    }
    QString file() const { return m_mount + QStringLiteral("/disk.img"); }
    void stop()
    {
        if (m_mount.isEmpty())
            return;
        QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QStringLiteral("-z"), m_mount});
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_mount});
        }
        m_mount.clear();
    }

private:
    QProcess m_process;
    QString m_mount;
};

QString buildVolume(const QString& image)
{
    QProcess make;
    make.start(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-fat32-deleted-volume.sh"), {image});
    if (!make.waitForFinished(120000) || make.exitCode() != 0)
        return QString::fromUtf8(make.readAllStandardError()) + QStringLiteral(" (the volume script failed)");
    return QString();
}

QList<QJsonObject> documents(const Run& r)
{
    QList<QJsonObject> out;
    for (const QString& line : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out << QJsonDocument::fromJson(line.toUtf8()).object();
    return out;
}

// Bytes the summary says could not be read.
qint64 unreadableInSummary(const Run& r)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Warning: (\\d+) byte\\(s\\) could not be read")).match(r.err);
    return m.hasMatch() ? m.captured(1).toLongLong() : 0;
}

QString sectorList(const std::set<qint64>& sectors)
{
    QStringList parts;
    for (qint64 s : sectors)
        parts << QString::number(s);
    return parts.join(QLatin1Char(','));
}

} // namespace

class TestCliFailingDisk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_image = m_dir.filePath(QStringLiteral("deleted.img"));
        const QString failure = buildVolume(m_image);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        m_clean = cli({QStringLiteral("scan"), m_image, QStringLiteral("--json")});
        QCOMPARE(m_clean.exitCode, 0);
    }

    // Bad sectors in two deleted documents, scattered in free space and a
    // bad band: the scan lists every document, marks exactly the two over
    // bad sectors damaged with their places, counts exactly the failing
    // sectors as unreadable; an image of the failing disk with its map is
    // the volume but for the bad sectors, ddrescue accepts the map, and a
    // scan of the image with it lists what the scan of the disk listed.
    // The first pass skips from a bad sector to the end of its 4 MiB
    // stretch, over the first bytes of the documents after it: they are
    // listed as on the healthy volume (found by carving too) only because
    // what the last pass read is carved then.
    void badSectorsAreNarrowedMarkedAndImaged()
    {
        const QList<QJsonObject> clean = documents(m_clean);
        QList<QJsonObject> deleted;
        for (const QJsonObject& d : clean) {
            if (d.value(QStringLiteral("origin")).toString() != QLatin1String("carved")
                && d.value(QStringLiteral("size")).toVariant().toLongLong() > 8 * kSector)
                deleted << d;
        }
        QVERIFY2(deleted.size() >= 2, qPrintable(m_clean.out));
        std::set<qint64> bad;
        auto firstByte = [](const QJsonObject& d) {
            return d.value(QStringLiteral("extents")).toArray().at(0).toArray().at(0).toVariant().toLongLong();
        };
        const qint64 a = firstByte(deleted[0]) / kSector;
        const qint64 b = firstByte(deleted[1]) / kSector;
        bad.insert(a + 2);
        bad.insert(a + 5);
        bad.insert(b + 3);
        // Free space far behind the documents, and a band of 64 KiB.
        for (int i = 0; i < 12; ++i)
            bad.insert((200LL << 20) / kSector + i * 977);
        for (qint64 s = 0; s < 128; ++s)
            bad.insert((240LL << 20) / kSector + s);
        for (const QJsonObject& d : clean) {
            if (d.value(QStringLiteral("name")) == deleted[0].value(QStringLiteral("name"))
                || d.value(QStringLiteral("name")) == deleted[1].value(QStringLiteral("name")))
                continue;
            for (const QJsonValue& e : d.value(QStringLiteral("extents")).toArray()) {
                const qint64 from = e.toArray().at(0).toVariant().toLongLong() / kSector;
                const qint64 to = (e.toArray().at(0).toVariant().toLongLong() + e.toArray().at(1).toVariant().toLongLong() + kSector - 1) / kSector;
                for (qint64 s : bad)
                    QVERIFY2(s < from || s >= to, "a chosen bad sector lies in another document");
            }
        }

        FailingDisk disk;
        const QString why = disk.start(m_image, m_dir.filePath(QStringLiteral("mnt")),
                                       {QStringLiteral("--bad"), sectorList(bad), QStringLiteral("--delay"), QStringLiteral("2")});
        if (!why.isEmpty())
            QSKIP(qPrintable(why));

        // The first bytes that tell a DOCX from a ZIP lie past a bad sector
        // of the first document: only its family is known there.
        const Run failing = cli({QStringLiteral("scan"), disk.file(), QStringLiteral("--json")});
        QVERIFY2(failing.exitCode == 0, qPrintable(failing.err));
        QCOMPARE(unreadableInSummary(failing), qint64(bad.size()) * kSector);
        const QList<QJsonObject> found = documents(failing);
        QCOMPARE(found.size(), clean.size());
        QMap<QString, QJsonObject> cleanByName;
        for (const QJsonObject& d : clean)
            cleanByName.insert(d.value(QStringLiteral("name")).toString(), d);
        for (const QJsonObject& d : found) {
            QVERIFY2(cleanByName.contains(d.value(QStringLiteral("name")).toString()),
                     qPrintable(d.value(QStringLiteral("name")).toString()));
            const QString reason = d.value(QStringLiteral("integrity_reason")).toString();
            if (d.value(QStringLiteral("name")) == deleted[0].value(QStringLiteral("name"))) {
                QCOMPARE(d.value(QStringLiteral("integrity")).toString(), QStringLiteral("damaged"));
                QCOMPARE(reason, QStringLiteral("unreadable sectors at bytes %1 to %2, bytes %3 to %4")
                                     .arg((a + 2) * kSector)
                                     .arg((a + 3) * kSector - 1)
                                     .arg((a + 5) * kSector)
                                     .arg((a + 6) * kSector - 1));
            } else if (d.value(QStringLiteral("name")) == deleted[1].value(QStringLiteral("name"))) {
                QCOMPARE(d.value(QStringLiteral("integrity")).toString(), QStringLiteral("damaged"));
                QCOMPARE(reason, QStringLiteral("unreadable sectors at bytes %1 to %2")
                                     .arg((b + 3) * kSector)
                                     .arg((b + 4) * kSector - 1));
            } else {
                // Everything else is judged as on the healthy volume.
                QCOMPARE(d, cleanByName.value(d.value(QStringLiteral("name")).toString()));
            }
        }

        // The image, good parts first, with its map beside it.
        const QString copy = m_dir.filePath(QStringLiteral("copy.img"));
        const QString map = m_dir.filePath(QStringLiteral("copy.map"));
        const Run imaged = cli({QStringLiteral("image"), disk.file(), copy});
        QVERIFY2(imaged.exitCode == 0, qPrintable(imaged.err));
        QCOMPARE(QProcess::execute(QStringLiteral("ddrescuelog"), {QStringLiteral("-t"), map}), 0);
        QProcess list;
        list.start(QStringLiteral("ddrescuelog"), {QStringLiteral("-b512"), QStringLiteral("--list-blocks=-"), map});
        QVERIFY(list.waitForFinished(30000));
        std::set<qint64> mapped;
        for (const QByteArray& line : list.readAllStandardOutput().split('\n'))
            if (!line.trimmed().isEmpty())
                mapped.insert(line.trimmed().toLongLong());
        QCOMPARE(sectorList(mapped), sectorList(bad));
        QFile original(m_image);
        QFile copied(copy);
        QVERIFY(original.open(QIODevice::ReadOnly) && copied.open(QIODevice::ReadOnly));
        QCOMPARE(copied.size(), original.size());
        const QByteArray zeros(static_cast<int>(kSector), '\0');
        for (qint64 sector = 0; !original.atEnd(); ++sector) {
            const QByteArray want = original.read(kSector);
            const QByteArray got = copied.read(kSector);
            if (got != (bad.count(sector) ? zeros : want))
                QFAIL(qPrintable(QStringLiteral("sector %1 of the image").arg(sector)));
        }
        disk.stop();

        // The image with its map is the failing disk again.
        const Run fromImage = cli({QStringLiteral("scan"), copy, QStringLiteral("--json")});
        QVERIFY2(fromImage.exitCode == 0, qPrintable(fromImage.err));
        QVERIFY(fromImage.err.contains(map));
        QCOMPARE(fromImage.out, failing.out);
        QCOMPARE(unreadableInSummary(fromImage), qint64(bad.size()) * kSector);

        // Going on from a finished map reads nothing again.
        const Run again = cli({QStringLiteral("image"), m_image, copy});
        QVERIFY2(again.exitCode == 0, qPrintable(again.err));
        QVERIFY(again.err.contains(QLatin1String("going on from the map")));
        // The source itself is never the image.
        const Run onto = cli({QStringLiteral("image"), m_image, m_image, QStringLiteral("--map"), map});
        QCOMPARE(onto.exitCode, 1);
        QVERIFY(onto.err.contains(QLatin1String("must not be the source")));
    }

    // A disk unplugged mid-scan: every read fails from some point on. The
    // scan ends soon with what it found and says what happened, instead of
    // skipping through every remaining stretch. It goes after the FAT pass
    // (a few hundred reads here; its search for old folders reads nothing
    // of its own), about halfway through the raw pass (some 2200 reads).
    void vanishingDiskEndsTheScan()
    {
        FailingDisk disk;
        const QString why = disk.start(m_image, m_dir.filePath(QStringLiteral("gone")),
                                       {QStringLiteral("--fail-after"), QStringLiteral("1000"), QStringLiteral("--delay"),
                                        QStringLiteral("20")});
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        const Run r = cli({QStringLiteral("scan"), disk.file(), QStringLiteral("--tsv")}, 60000);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QLatin1String("can no longer be read")), qPrintable(r.err));
        QVERIFY2(!r.out.isEmpty(), "the documents found before the disk went are listed");
    }

    // A few sectors that take two seconds to read, on a disk that reads
    // everything else at its pace: the progress line (drawn on a terminal
    // only, so the scan runs under script(1)) says that much was read
    // slowly, and nothing is taken as unreadable.
    void slowRegionIsNoted()
    {
        FailingDisk disk;
        const qint64 slow = (200LL << 20) / kSector;
        const QString why = disk.start(m_image, m_dir.filePath(QStringLiteral("slow")),
                                       {QStringLiteral("--slow"), QStringLiteral("%1-%2:2000").arg(slow).arg(slow + 15)});
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        const QString command = QStringLiteral("'" TAMSEL_BIN_DIR "/tamsel-cli' scan '%1' --tsv").arg(disk.file());
        const Run r = clitest::run(QStringLiteral("script"),
                                   {QStringLiteral("-qfec"), command, QStringLiteral("/dev/null")}, 120000);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err + r.out));
        QVERIFY2(QRegularExpression(QStringLiteral(" [0-9.]+ MB slow ")).match(r.out).hasMatch(), qPrintable(r.out));
        QVERIFY2(!r.out.contains(QLatin1String("unreadable")), qPrintable(r.out));
    }

private:
    QTemporaryDir m_dir{QDir::currentPath() + QStringLiteral("/failing-disk-XXXXXX")};
    QString m_image;
    Run m_clean;
};

QTEST_GUILESS_MAIN(TestCliFailingDisk)
#include "tst_cli_failing_disk.moc"
