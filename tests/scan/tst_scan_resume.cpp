#include "analysers/CarvingFixtures.h"
#include "disk/CMemoryVolume.h"
#include "scan/CRecoveryControl.h"
#include "scan/CScanJournal.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <grp.h>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kWindow = 64 * 1024;

// What a scan posted, in order: "sector type size" for documents, "live
// sector type" for live files' notes.
struct Posted
{
    QStringList lines;
    void attach(CRecoveryControl& control)
    {
        QObject::connect(control.relay(), qOverload<CFileNode>(&CNotifyFileNode::notifyItem),
                         [this](const CFileNode& n) {
                             lines << QStringLiteral("%1 %2 %3").arg(n.startSector).arg(n.typeCode).arg(n.size);
                         });
        QObject::connect(control.relay(), qOverload<long long, int>(&CNotifyFileNode::notifyItem),
                         [this](long long s, int t) { lines << QStringLiteral("live %1 %2").arg(s).arg(t); });
    }
};

bool runToEnd(CRecoveryControl& control)
{
    QElapsedTimer timer;
    timer.start();
    while (!control.isFinished() && timer.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!control.wait(1000))
        return false;
    QCoreApplication::processEvents();
    return true;
}

// Every test document, several of them across window edges, between
// stretches of random bytes.
QByteArray documentsVolume()
{
    fixtures::Image image;
    quint32 seed = 7;
    for (int round = 0; round < 2; ++round) {
        for (const fixtures::Golden& g : fixtures::goldenDocuments()) {
            image.place(fixtures::randomBytes(static_cast<int>(1000 + seed % 20000), seed));
            image.place(fixtures::readData(QString::fromLatin1(g.file)).left(static_cast<int>(g.length)));
            seed = seed * 1103515245u + 12345u;
        }
    }
    image.place(fixtures::randomBytes(5000, 99));
    image.padTo(512);
    return image.bytes();
}

CFileNode everyField()
{
    CFileNode n(QStringLiteral("DOCX"), 5477, 96, QString(), QStringLiteral("96.DOCX"), QString(), 6, 2,
                QStringLiteral("5.35 KB"), QStringLiteral("Word"));
    n.origin = CFileNode::OriginDeletedEntry;
    n.originalName = QStringLiteral("毕业论文终稿.docx");
    n.folder = QStringLiteral("?/论文/2024");
    n.modified = QDateTime::fromMSecsSinceEpoch(1714543380123LL, Qt::UTC);
    n.extents = {{49152, 4096}, {CFileNode::Extent::kSparse, 512}, {8192, 869}};
    n.overwritten = 0.25;
    n.incomplete = true;
    n.orphaned = true;
    return n;
}

} // namespace

class TestScanResume : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerFileNodeMetaType(); }

    void killedScanResumesToTheSameList()
    {
        const QByteArray bytes = documentsVolume();
        QTemporaryDir dir;

        // The reference: one scan from start to end.
        Posted whole;
        {
            CMemoryVolume* volume = new CMemoryVolume(bytes);
            std::shared_ptr<IVolume> held(volume);
            CRecoveryControl control;
            control.setWindowSize(kWindow);
            whole.attach(control);
            QVERIFY(control.beginScan(held, QStringLiteral("none")));
            QVERIFY(runToEnd(control));
        }
        QVERIFY(whole.lines.size() >= 2 * int(fixtures::goldenDocuments().size()));

        // The same scan, saving at every window, held by a gate while it
        // reads window 9: the session file is then what a SIGKILL leaves.
        const qint64 gateAt = 9 * qint64(kWindow);
        auto* gated = new CMemoryVolume(bytes);
        std::shared_ptr<IVolume> gatedHeld(gated);
        const CScanJournal::Identity identity = CScanJournal::identify(*gated);
        const QString session = CScanJournal::fileFor(identity, dir.filePath(QStringLiteral("scans")));
        const QString killed = dir.filePath(QStringLiteral("killed.json"));
        std::mutex mutex;
        std::condition_variable cv;
        bool reached = false, open = false;
        gated->setReadHook([&](int64_t offset, size_t) {
            if (offset < gateAt)
                return;
            std::unique_lock<std::mutex> lock(mutex);
            reached = true;
            cv.notify_all();
            cv.wait(lock, [&] { return open; });
        });
        {
            CRecoveryControl control;
            control.setWindowSize(kWindow);
            control.setCheckpointInterval(0);
            control.setSessionFile(session, identity);
            QVERIFY(control.beginScan(gatedHeld, QStringLiteral("none")));
            {
                std::unique_lock<std::mutex> lock(mutex);
                QVERIFY(cv.wait_for(lock, std::chrono::seconds(30), [&] { return reached; }));
                QVERIFY(QFile::copy(session, killed));
                open = true;
                cv.notify_all();
            }
            control.stopScan();
            QVERIFY(runToEnd(control));
            QVERIFY(control.sessionError().isEmpty());
        }

        CScanJournal::State state;
        QString notice;
        QVERIFY(CScanJournal::load(killed, identity, &state, &notice));
        QVERIFY(notice.isEmpty());
        QVERIFY(!state.finished);
        QCOMPARE(state.reached, 8 * qint64(kWindow));
        // A document was open across the edge: the pass goes back to it.
        QVERIFY(state.resumeOffset < state.reached);

        // Resumed: the list at once, then the rest of the pass, which reads
        // nothing before the place it restarts at.
        auto* again = new CMemoryVolume(bytes);
        std::shared_ptr<IVolume> againHeld(again);
        std::atomic<qint64> lowest{INT64_MAX};
        again->setReadHook([&](int64_t offset, size_t) {
            qint64 seen = lowest.load();
            while (offset < seen && !lowest.compare_exchange_weak(seen, offset)) {
            }
        });
        Posted resumed;
        {
            CRecoveryControl control;
            control.setWindowSize(kWindow);
            control.setSessionFile(session, identity);
            control.resumeFrom(state);
            resumed.attach(control);
            QVERIFY(control.beginScan(againHeld, QStringLiteral("none")));
            QVERIFY(runToEnd(control));
        }
        QCOMPARE(resumed.lines, whole.lines);
        QVERIFY(lowest.load() < bytes.size());
        QVERIFY(lowest.load() >= state.resumeOffset - state.resumeOffset % 4096);

        // The finished scan's list opens again without reading the volume.
        CScanJournal::State done;
        QVERIFY2(CScanJournal::load(session, identity, &done, &notice), qPrintable(notice));
        QVERIFY(done.finished);
        lowest = INT64_MAX;
        Posted reopened;
        {
            CRecoveryControl control;
            control.resumeFrom(done);
            reopened.attach(control);
            QVERIFY(control.beginScan(againHeld, QStringLiteral("none")));
            QVERIFY(runToEnd(control));
        }
        QCOMPARE(reopened.lines, whole.lines);
        QCOMPARE(lowest.load(), qint64(INT64_MAX));
    }

    // Reading unused space only, a scan stopped in the middle of its runs
    // goes on from there to the same list: the byte offset saved is a place
    // in the same runs, since the same allocation map gives them again.
    void stoppedUnusedSpaceScanResumesToTheSameList()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("mcopy")).isEmpty())
            QSKIP("mtools is not installed");
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("full.img"));
        QProcess make;
        make.start(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-fat32-full-volume.sh"), {image});
        QVERIFY(make.waitForFinished(120000));
        QVERIFY2(make.exitCode() == 0, make.readAllStandardError().constData());
        QFile file(image);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();

        // The lowest offset past the tables that the carving pass read.
        std::atomic<qint64> lowest{INT64_MAX};
        std::atomic<CRecoveryControl*> carving{nullptr};
        auto scan = [&](CMemoryVolume* volume, Posted& posted, CScanJournal::State* resume,
                        const QString& session = QString()) {
            std::shared_ptr<IVolume> held(volume);
            CRecoveryControl control;
            carving = &control;
            volume->setReadHook([&](int64_t offset, size_t) {
                CRecoveryControl* c = carving.load();
                qint64 seen = lowest.load();
                while (c && c->bytesToRead() > 0 && offset >= (4 << 20) && offset < seen
                       && !lowest.compare_exchange_weak(seen, offset)) {
                }
            });
            control.setWindowSize(kWindow);
            control.setCheckpointInterval(0);
            if (!session.isEmpty())
                control.setSessionFile(session, CScanJournal::identify(*volume));
            if (resume)
                control.resumeFrom(*resume);
            posted.attach(control);
            if (!control.beginScan(held, CRecoveryControl::autoFileSystem()))
                return false;
            const bool ended = runToEnd(control);
            carving = nullptr;
            if (!ended)
                return false;
            return control.unusedSpaceOnly() && control.bytesToRead() < bytes.size() / 3;
        };
        Posted whole;
        QVERIFY(scan(new CMemoryVolume(bytes), whole, nullptr));
        QVERIFY(whole.lines.size() >= 15);

        // Stopped while it reads past the middle of the volume: far into
        // the filled part, between two runs or inside one.
        auto* gated = new CMemoryVolume(bytes);
        const CScanJournal::Identity identity = CScanJournal::identify(*gated);
        const QString session = CScanJournal::fileFor(identity, dir.filePath(QStringLiteral("scans")));
        std::atomic<CRecoveryControl*> running{nullptr};
        std::atomic<bool> stopped{false};
        gated->setReadHook([&](int64_t offset, size_t) {
            // The carving pass's reads only (its plan is known by then).
            CRecoveryControl* control = running.load();
            if (offset >= bytes.size() / 2 && control && control->bytesToRead() > 0 && !stopped.exchange(true))
                control->stopScan();
        });
        Posted first;
        {
            std::shared_ptr<IVolume> held(gated);
            CRecoveryControl control;
            running = &control;
            control.setWindowSize(kWindow);
            control.setCheckpointInterval(0);
            control.setSessionFile(session, identity);
            first.attach(control);
            QVERIFY(control.beginScan(held, CRecoveryControl::autoFileSystem()));
            QVERIFY(runToEnd(control));
            running = nullptr;
        }
        QVERIFY(stopped.load());
        CScanJournal::State state;
        QString notice;
        QVERIFY2(CScanJournal::load(session, identity, &state, &notice), qPrintable(notice));
        QVERIFY(!state.finished);
        QVERIFY(state.reached >= bytes.size() / 2);
        QVERIFY(first.lines.size() < whole.lines.size());

        Posted resumed;
        lowest = INT64_MAX;
        QVERIFY(scan(new CMemoryVolume(bytes), resumed, &state, session));
        QCOMPARE(resumed.lines, whole.lines);
        // It went on from where it stopped, not from the start.
        QVERIFY(lowest.load() < bytes.size());
        QVERIFY(lowest.load() >= state.resumeOffset - state.resumeOffset % 4096);
    }

    // The names a formatted FAT volume's old folders give are found while
    // the carving pass reads the free space and posted after it: a scan
    // stopped early in that pass still posts (and saves) those it met, and
    // its resumed scan lists them once; one killed there saved none, and its
    // resumed scan finds them again.
    void stoppedFormattedScanKeepsTheOldNames()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("mcopy")).isEmpty())
            QSKIP("mtools is not installed");
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("formatted.img"));
        QProcess make;
        make.start(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-formatted-volume.sh"),
                   {QStringLiteral("fat32"), image});
        QVERIFY(make.waitForFinished(120000));
        if (make.exitCode() != 0 && QStandardPaths::findExecutable(QStringLiteral("fls")).isEmpty())
            QSKIP("The Sleuth Kit is not installed");
        QVERIFY2(make.exitCode() == 0, make.readAllStandardError().constData());
        QFile file(image);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();

        // Each document by where it starts and the name it is listed under.
        auto named = [](CRecoveryControl& control, QStringList& lines) {
            QObject::connect(control.relay(), qOverload<CFileNode>(&CNotifyFileNode::notifyItem),
                             [&lines](const CFileNode& n) {
                                 if (n.origin == CFileNode::OriginDeletedEntry)
                                     lines << QStringLiteral("%1 %2/%3").arg(n.startSector).arg(n.folder, n.originalName);
                             });
        };
        QStringList whole;
        {
            std::shared_ptr<IVolume> held(new CMemoryVolume(bytes));
            CRecoveryControl control;
            control.setWindowSize(kWindow);
            named(control, whole);
            QVERIFY(control.beginScan(held, CRecoveryControl::autoFileSystem()));
            QVERIFY(runToEnd(control));
        }
        QVERIFY2(whole.size() >= 10, qPrintable(whole.join(QLatin1Char('\n'))));

        // Stopped at the carving pass's first reads.
        auto* gated = new CMemoryVolume(bytes);
        const CScanJournal::Identity identity = CScanJournal::identify(*gated);
        const QString session = CScanJournal::fileFor(identity, dir.filePath(QStringLiteral("scans")));
        std::atomic<CRecoveryControl*> running{nullptr};
        std::atomic<bool> stopped{false};
        gated->setReadHook([&](int64_t offset, size_t) {
            CRecoveryControl* control = running.load();
            if (offset >= bytes.size() / 4 && control && control->bytesToRead() > 0 && !stopped.exchange(true))
                control->stopScan();
        });
        QStringList first;
        {
            std::shared_ptr<IVolume> held(gated);
            CRecoveryControl control;
            running = &control;
            control.setWindowSize(kWindow);
            control.setCheckpointInterval(0);
            control.setSessionFile(session, identity);
            named(control, first);
            QVERIFY(control.beginScan(held, CRecoveryControl::autoFileSystem()));
            QVERIFY(runToEnd(control));
            running = nullptr;
        }
        QVERIFY(stopped.load());
        QVERIFY2(!first.isEmpty(), "the old names met before the stop are posted");
        CScanJournal::State state;
        QString notice;
        QVERIFY2(CScanJournal::load(session, identity, &state, &notice), qPrintable(notice));
        QVERIFY(!state.finished);

        QStringList resumed;
        {
            std::shared_ptr<IVolume> held(new CMemoryVolume(bytes));
            CRecoveryControl control;
            control.setWindowSize(kWindow);
            control.resumeFrom(state);
            named(control, resumed);
            QVERIFY(control.beginScan(held, CRecoveryControl::autoFileSystem()));
            QVERIFY(runToEnd(control));
        }
        // What the stopped scan found of the old folders comes back with
        // the saved list; nothing found is posted twice.
        for (const QString& line : first)
            QVERIFY2(resumed.contains(line), qPrintable(line));
        QCOMPARE(int(resumed.size()), int(QSet<QString>(resumed.begin(), resumed.end()).size()));

        // A scan killed in the carving pass saved none of them: its resumed
        // scan looks for the old folders again, and lists every name the
        // scan run through lists, once.
        CScanJournal::State killed = state;
        killed.entries.erase(std::remove_if(killed.entries.begin(), killed.entries.end(),
                                            [](const CScanJournal::Entry& e) {
                                                return !e.live && e.node.origin == CFileNode::OriginDeletedEntry
                                                    && e.node.folder.startsWith(QLatin1Char('?'));
                                            }),
                             killed.entries.end());
        QVERIFY(killed.entries.size() < state.entries.size());
        QStringList afterKill;
        {
            std::shared_ptr<IVolume> held(new CMemoryVolume(bytes));
            CRecoveryControl control;
            control.setWindowSize(kWindow);
            control.resumeFrom(killed);
            named(control, afterKill);
            QVERIFY(control.beginScan(held, CRecoveryControl::autoFileSystem()));
            QVERIFY(runToEnd(control));
        }
        for (const QString& line : whole)
            QVERIFY2(afterKill.contains(line), qPrintable(line));
        QCOMPARE(int(afterKill.size()), int(QSet<QString>(afterKill.begin(), afterKill.end()).size()));
    }

    // A resumed scan goes on the way it was made, whatever it is started
    // with: the rest of a scan without a file-system pass, or of a whole
    // volume, read as unused space only would list a mixture.
    void resumedScansGoOnAsTheyWereMade()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("mcopy")).isEmpty())
            QSKIP("mtools is not installed");
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("full.img"));
        QProcess make;
        make.start(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-fat32-full-volume.sh"),
                   {image, QStringLiteral("40"), QStringLiteral(TAMSEL_SOURCE_DIR "/tests/data/pdf_ghostscript.pdf")});
        QVERIFY(make.waitForFinished(120000));
        QVERIFY2(make.exitCode() == 0, make.readAllStandardError().constData());
        QFile file(image);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        auto* probe = new CMemoryVolume(bytes);
        std::shared_ptr<IVolume> probeHeld(probe);
        const CScanJournal::Identity identity = CScanJournal::identify(*probe);

        struct Made
        {
            const char* fileSystem;
            bool whole;
        };
        for (const Made& made : {Made{"none", false}, Made{"auto", true}}) {
            // Nothing carved yet: everything after this follows the state.
            CScanJournal::State state;
            state.identity = identity;
            state.fileSystem = QLatin1String(made.fileSystem);
            state.wholeVolume = made.whole;
            state.wholeVolumeSaved = true;
            const QString session = dir.filePath(QStringLiteral("%1.json").arg(QLatin1String(made.fileSystem)));
            std::shared_ptr<IVolume> held(new CMemoryVolume(bytes));
            CRecoveryControl control;
            control.setWindowSize(kWindow);
            control.setSessionFile(session, identity);
            control.resumeFrom(state);
            control.setWholeVolume(false);
            QVERIFY(control.beginScan(held, CRecoveryControl::autoFileSystem()));
            QVERIFY(runToEnd(control));
            QVERIFY2(!control.unusedSpaceOnly(), made.fileSystem);
            QCOMPARE(control.bytesToRead(), qint64(bytes.size()));
            // And the scan saved says so again, for the next resume.
            CScanJournal::State saved;
            QString notice;
            QVERIFY2(CScanJournal::load(session, identity, &saved, &notice, false), qPrintable(notice));
            QVERIFY(saved.finished);
            QCOMPARE(saved.fileSystem, state.fileSystem);
            QVERIFY(saved.wholeVolumeSaved);
            QCOMPARE(saved.wholeVolume, made.whole);
        }
    }

    void savedFilesAreNeverTrustedBlindly()
    {
        QTemporaryDir dir;
        CMemoryVolume volume(QByteArray(1 << 20, 'x'));
        const CScanJournal::Identity identity = CScanJournal::identify(volume);
        QVERIFY(identity.key.startsWith(QLatin1String("sha256:")));

        CScanJournal::State state;
        state.identity = identity;
        state.fileSystem = QStringLiteral("NTFS");
        state.wholeVolume = true;
        state.resumeOffset = 4096;
        state.reached = 65536;
        state.unusedOnly = true;
        state.bytesToRead = 196608;
        CScanJournal::Entry live;
        live.live = true;
        live.liveSector = 2048;
        live.liveType = 5;
        CScanJournal::Entry doc;
        doc.node = everyField();
        CScanJournal::Entry resident;
        resident.node = everyField();
        resident.node.extents.clear();
        resident.node.residentData = QByteArray("PK\x03\x04 tiny", 9);
        resident.node.hasResidentData = true;
        resident.node.modified = QDateTime();
        state.entries = {live, doc, resident};

        const QString path = dir.filePath(QStringLiteral("s.json"));
        QVERIFY(CScanJournal::save(path, state));
        CScanJournal::State back;
        QString notice;
        QVERIFY(CScanJournal::load(path, identity, &back, &notice));
        QCOMPARE(back.fileSystem, state.fileSystem);
        QVERIFY(back.wholeVolume && back.wholeVolumeSaved);
        QCOMPARE(back.resumeOffset, state.resumeOffset);
        QVERIFY(back.unusedOnly);
        QCOMPARE(back.bytesToRead, state.bytesToRead);
        QCOMPARE(back.entries.size(), size_t(3));
        QVERIFY(back.entries[0].live);
        QCOMPARE(back.entries[0].liveSector, 2048LL);
        const CFileNode& n = back.entries[1].node;
        const CFileNode e = everyField();
        QCOMPARE(n.originalName, e.originalName);
        QCOMPARE(n.folder, e.folder);
        QCOMPARE(n.modified, e.modified);
        QCOMPARE(n.extents, e.extents);
        QCOMPARE(n.overwritten, e.overwritten);
        QVERIFY(n.incomplete && n.orphaned && !n.hasResidentData);
        QCOMPARE(n.origin, int(CFileNode::OriginDeletedEntry));
        QCOMPARE(n.displayName(), e.displayName());
        QCOMPARE(back.entries[2].node.residentData, resident.node.residentData);
        QVERIFY(back.entries[2].node.hasResidentData);
        QVERIFY(!back.entries[2].node.modified.isValid());

        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray good = f.readAll();
        f.close();
        auto refused = [&](const QByteArray& contents, const CScanJournal::Identity& id, const char* why) {
            const QString other = dir.filePath(QStringLiteral("bad.json"));
            QFile out(other);
            if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return false;
            out.write(contents);
            out.close();
            CScanJournal::State s;
            QString n2;
            const bool loaded = CScanJournal::load(other, id, &s, &n2);
            return !loaded && n2.contains(QLatin1String(why));
        };
        QVERIFY(refused(good.left(good.size() / 2), identity, "damaged"));
        QVERIFY(refused(QByteArray("\x00\xff garbage", 10), identity, "damaged"));
        QByteArray otherVersion = good;
        otherVersion.replace("\"version\":\"", "\"version\":\"9");
        QVERIFY(refused(otherVersion, identity, "another version"));
        CScanJournal::Identity moved = identity;
        moved.size += 512;
        QVERIFY(refused(good, moved, "another volume"));
        moved = identity;
        moved.key = QStringLiteral("ntfs:0123456789abcdef");
        QVERIFY(refused(good, moved, "another volume"));
        QByteArray outside = good;
        outside.replace("\"sector\":96", "\"sector\":4096");
        QVERIFY(refused(outside, identity, "out of place"));
        QByteArray badSetting = good;
        badSetting.replace("\"wholeVolume\":true", "\"wholeVolume\":\"yes\"");
        QVERIFY(refused(badSetting, identity, "setting"));
        QByteArray pastTheEnd = good;
        QVERIFY(pastTheEnd.contains("\"bytesToRead\":196608"));
        pastTheEnd.replace("\"bytesToRead\":196608", "\"bytesToRead\":2097152");
        QVERIFY(refused(pastTheEnd, identity, "setting"));
        // A file from before the setting was kept loads, saying it does not
        // know it (the scan resumed from it keeps the setting it is given).
        QByteArray older = good;
        QVERIFY(older.contains(",\"wholeVolume\":true"));
        older.replace(",\"wholeVolume\":true", "");
        {
            const QString oldPath = dir.filePath(QStringLiteral("old.json"));
            QFile out(oldPath);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(older);
            out.close();
            CScanJournal::State s;
            QVERIFY2(CScanJournal::load(oldPath, identity, &s, &notice), qPrintable(notice));
            QVERIFY(!s.wholeVolumeSaved && !s.wholeVolume);
            QCOMPARE(s.entries.size(), size_t(3));
        }
        QByteArray badResume = good;
        badResume.replace("\"resumeOffset\":4096", "\"resumeOffset\":4097");
        QVERIFY(refused(badResume, identity, "position"));

        // No file is no notice.
        QVERIFY(!CScanJournal::load(dir.filePath(QStringLiteral("none.json")), identity, &back, &notice));
        QVERIFY(notice.isEmpty());
    }

    void sessionsGoToTheRealUsersFolder()
    {
        const QByteArray xdg = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", "/srv/data");
        QCOMPARE(CScanJournal::folder(), QStringLiteral("/srv/data/tamsel/scans"));
        qunsetenv("XDG_DATA_HOME");
        if (::geteuid() == 0) {
            // Under sudo the files belong with the user who ran it.
            const passwd* nobody = ::getpwnam("nobody");
            if (nobody) {
                qputenv("SUDO_UID", QByteArray::number(nobody->pw_uid));
                QCOMPARE(CScanJournal::folder(),
                         QFile::decodeName(nobody->pw_dir) + QStringLiteral("/.local/share/tamsel/scans"));
                qunsetenv("SUDO_UID");
            }
        }
        if (!xdg.isEmpty())
            qputenv("XDG_DATA_HOME", xdg);
    }

    // Run as root for a user (sudo's variables), the scan keeps its files
    // in the user's folder as the user would: a link there to a folder of
    // root's is refused, not handed over, and the scan itself still ends.
    void underSudoALinkedDataFolderIsNeverGivenAway()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to act for another user");
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody)
            QSKIP("no user 'nobody'");
        const uid_t uid = nobody->pw_uid;
        const gid_t gid = nobody->pw_gid;

        QTemporaryDir dir;
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
        const QString data = dir.filePath(QStringLiteral("data"));
        const QString roots = dir.filePath(QStringLiteral("roots"));
        QVERIFY(QDir().mkdir(data) && QDir().mkdir(roots));
        QVERIFY(::chown(QFile::encodeName(data).constData(), uid, gid) == 0);
        // Root's, and open to root's group, which the user is not in.
        QVERIFY(::chown(QFile::encodeName(roots).constData(), 0, 0) == 0);
        QVERIFY(::chmod(QFile::encodeName(roots).constData(), 0775) == 0);
        QVERIFY(QFile::link(roots, data + QStringLiteral("/tamsel")));

        // The environment as sudo leaves it (root in root's group), put
        // back however the test ends.
        struct Environment
        {
            QByteArray xdg = qgetenv("XDG_DATA_HOME");
            std::vector<gid_t> groups;
            bool grouped = false;
            Environment()
            {
                const int count = ::getgroups(0, nullptr);
                groups.resize(static_cast<size_t>(std::max(count, 0)));
                if (count >= 0 && ::getgroups(count, groups.data()) == count) {
                    const gid_t root = 0;
                    grouped = ::setgroups(1, &root) == 0;
                }
            }
            ~Environment()
            {
                qputenv("XDG_DATA_HOME", xdg);
                qunsetenv("SUDO_UID");
                qunsetenv("SUDO_GID");
                if (grouped)
                    (void)::setgroups(groups.size(), groups.data());
            }
        } environment;
        QVERIFY(environment.grouped);
        qputenv("XDG_DATA_HOME", QFile::encodeName(data));
        qputenv("SUDO_UID", QByteArray::number(uid));
        qputenv("SUDO_GID", QByteArray::number(gid));

        const QByteArray bytes = documentsVolume();
        auto scan = [&](Posted& posted, QStringList& warnings, QString* error) {
            std::shared_ptr<IVolume> held(new CMemoryVolume(bytes));
            const CScanJournal::Identity identity = CScanJournal::identify(*held);
            CRecoveryControl control;
            control.setWindowSize(kWindow);
            control.setCheckpointInterval(0);
            control.setSessionFile(CScanJournal::fileFor(identity), identity);
            posted.attach(control);
            bool ended = false;
            QObject::connect(&control, &CRecoveryControl::notifyWarning, [&](int kind, const QString& text) {
                if (kind == CRecoveryControl::WarningSession)
                    warnings << text;
            });
            QObject::connect(&control, &CRecoveryControl::notifyProcess,
                             [&](long long total, long long current) { ended = total > 0 && current == total; });
            if (!control.beginScan(held, QStringLiteral("none")) || !runToEnd(control))
                return false;
            *error = control.sessionError();
            return ended;
        };

        Posted refused;
        QStringList warnings;
        QString error;
        QVERIFY(scan(refused, warnings, &error));
        QVERIFY(refused.lines.size() >= 2 * int(fixtures::goldenDocuments().size()));
        QVERIFY(!error.isEmpty());
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings[0].contains(QStringLiteral("cannot be resumed")), qPrintable(warnings[0]));
        struct stat st;
        QCOMPARE(::lstat(QFile::encodeName(roots).constData(), &st), 0);
        QCOMPARE(st.st_uid, uid_t(0));
        QVERIFY(QDir(roots).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());

        // A folder of the user's own: every folder and file made there is
        // theirs, and the scan reads back.
        QVERIFY(QFile::remove(data + QStringLiteral("/tamsel")));
        Posted saved;
        warnings.clear();
        QVERIFY(scan(saved, warnings, &error));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(warnings.isEmpty());
        QCOMPARE(saved.lines, refused.lines);
        const QStringList made = {data + QStringLiteral("/tamsel"), CScanJournal::folder()};
        std::shared_ptr<IVolume> again(new CMemoryVolume(bytes));
        const CScanJournal::Identity identity = CScanJournal::identify(*again);
        for (const QString& path : made + QStringList{CScanJournal::fileFor(identity)}) {
            QCOMPARE(::lstat(QFile::encodeName(path).constData(), &st), 0);
            QVERIFY2(st.st_uid == uid && st.st_gid == gid, qPrintable(path));
        }
        CScanJournal::State state;
        QString notice;
        QVERIFY2(CScanJournal::load(CScanJournal::fileFor(identity), identity, &state, &notice), qPrintable(notice));
        QVERIFY(state.finished);
    }
};

QTEST_GUILESS_MAIN(TestScanResume)
#include "tst_scan_resume.moc"
