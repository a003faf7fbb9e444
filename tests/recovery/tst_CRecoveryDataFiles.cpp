#include "disk/CFileVolume.h"
#include "disk/CMemoryVolume.h"
#include "disk/CWindowBuffer.h"
#include "recovery/CRecoveryDataFiles.h"
#include "recovery/CRecoveryFileName.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CRecoveryControl.h"

#include <QCryptographicHash>
#include <QDir>

#include <algorithm>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
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

constexpr uint32_t kWindow = 4096;

QByteArray patterned(int size, uint32_t seed = 12345)
{
    QByteArray bytes(size, Qt::Uninitialized);
    uint32_t x = seed;
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

// A document of patterned bytes whose check (as if the details pass had
// run) found it whole: what is copied here is never a real document.
CFileNode record(quint64 sector, qint64 size, const QString& typeName = QStringLiteral("PDF"))
{
    CFileNode n(typeName, size, sector, QString(), QString::number(sector), QString(),
                CFileTypeCatalogue::typeCodeByName(typeName), 2, CFileTypeCatalogue::sizeText(size),
                CFileTypeCatalogue::description(typeName));
    n.details.examined = true;
    n.details.integrity = CDocumentDetails::IntegrityWhole;
    return n;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray slice(const QByteArray& volume, const CFileNode& n)
{
    return volume.mid(static_cast<int>(n.startSector * 512), static_cast<int>(n.size));
}

// Everything one run said, in order.
struct Run
{
    QList<int> values;
    QStringList written;
    QStringList leftOut; // "number name: reason"
    int leftOutUnreadable = 0;
    QString failedFile;
    QString failure;
    bool sourceUnreadable = false;
};

Run runToEnd(CRecoveryDataFiles& worker)
{
    Run run;
    QObject context;
    QObject::connect(&worker, &CRecoveryDataFiles::sigRecoveryFinished, &context,
                     [&](int v) { run.values << v; });
    QObject::connect(&worker, &CRecoveryDataFiles::sigFileRecovered, &context,
                     [&](int, const QString& path) { run.written << path; });
    QObject::connect(&worker, &CRecoveryDataFiles::sigFileLeftOut, &context,
                     [&](int number, const QString& name, const QString& reason, bool unreadable) {
                         run.leftOut << QStringLiteral("%1 %2: %3").arg(number).arg(name, reason);
                         run.leftOutUnreadable += unreadable ? 1 : 0;
                     });
    QObject::connect(&worker, &CRecoveryDataFiles::sigRecoveryFailed, &context,
                     [&](const QString& path, const QString& reason, bool unreadable) {
                         run.failedFile = path;
                         run.failure = reason;
                         run.sourceUnreadable = unreadable;
                     });
    worker.start();
    worker.wait();
    QCoreApplication::sendPostedEvents(&worker);
    return run;
}

// Wraps a volume so that a test can hold reads at a gate.
class GatedVolume : public IVolume
{
public:
    explicit GatedVolume(std::shared_ptr<IVolume> inner)
        : m_inner(std::move(inner))
    {
    }
    std::function<void(int64_t, size_t)> hook;
    ReadResult read(int64_t offset, void* buffer, size_t length) override
    {
        if (hook)
            hook(offset, length);
        return m_inner->read(offset, buffer, length);
    }
    int64_t length() const override { return m_inner->length(); }
    QString name() const override { return m_inner->name(); }

private:
    std::shared_ptr<IVolume> m_inner;
};

} // namespace

class TestRecoveryDataFiles : public QObject
{
    Q_OBJECT
private slots:
    void copiesExactBytesAcrossWindowBoundaries();
    void emptyListMakesTheFolderAndCompletes();
    void neverOverwritesAndKeepsEarlierRecoveries();
    void unreadableDocumentsAreLeftOutAndTheRunGoesOn();
    void aViewThatLosesBytesUnderTheWriteIsNotKept();
    void documentsFailingTheirCheckAreLeftOutUnlessAsked();
    void recordsOutsideTheVolumeAreRefused();
    void aListGivenDuringARunWaitsForTheNextStart();
    void stopThenStartAgainRunsToCompletion();
    void aNameTakenWhileWritingIsNotReplaced();
    void recoveryDuringAScanCopiesTheRightBytes();
    void filesGoToTheUserBehindSudo();
    void deletedFilesComeBackFromTheirLayoutUnderTheirNames();
    void hostileNamesStayInsideTheFolder();
    void keptFoldersStayInsideTheOutputFolder();
};

void TestRecoveryDataFiles::copiesExactBytesAcrossWindowBoundaries()
{
    const QByteArray bytes = patterned(256 * 1024);
    auto volume = std::make_shared<CMemoryVolume>(bytes);
    std::mutex mutex;
    QList<QPair<int64_t, size_t>> reads;
    volume->setReadHook([&](int64_t offset, size_t length) {
        std::lock_guard<std::mutex> lock(mutex);
        reads.append({offset, length});
    });

    // 0, W, W + 1 and 2W bytes, a start sector that is not a multiple of 8,
    // several windows with a short tail, and a small document.
    const QList<CFileNode> files = {record(3, 0), record(16, kWindow), record(41, kWindow + 1, "DOCX"),
                                    record(77, 2 * kWindow, "XLS"), record(129, 3 * kWindow + 100, "ZIP"),
                                    record(333, 700, "DOC")};
    QTemporaryDir dir;
    CRecoveryDataFiles worker(nullptr, kWindow);
    worker.setDiskHandle(volume);
    worker.setSavePath(dir.path() + "/out");
    worker.setRecoveryFiles(files);
    const Run run = runToEnd(worker);

    QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
    QCOMPARE(run.values, (QList<int>{1, 2, 3, 4, 5, 6}));
    QCOMPARE(run.written.size(), files.size());
    for (const CFileNode& n : files) {
        const QString path = dir.path() + "/out/" + n.name + "." + n.typeName;
        QCOMPARE(readAll(path), slice(bytes, n));
    }
    QCOMPARE(QFileInfo(dir.path() + "/out/3.PDF").size(), qint64(0));

    // No read reaches further than one window and its 4 KiB lead, and the
    // small document is read with a small window, not a whole W.
    for (const auto& r : reads)
        QVERIFY(r.second <= kWindow + 4096);
    bool smallRead = false;
    for (const auto& r : reads) {
        if (r.first <= 333 * 512 && r.first + int64_t(r.second) >= 333 * 512 + 700) {
            QVERIFY(r.second <= 1024 + 4096);
            smallRead = true;
        }
    }
    QVERIFY(smallRead);
}

void TestRecoveryDataFiles::emptyListMakesTheFolderAndCompletes()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QString::fromUtf8("/恢复/新建");
    CRecoveryDataFiles worker(nullptr, kWindow);
    worker.setDiskHandle(std::make_shared<CMemoryVolume>(QByteArray(4096, 'x')));
    worker.setSavePath(folder);
    worker.setRecoveryFiles({});
    const Run run = runToEnd(worker);
    QCOMPARE(run.values, QList<int>{0});
    QVERIFY(QFileInfo(folder).isDir());

    // A plain file where the folder should be is a failure, not a completion.
    QFile blocker(dir.path() + "/taken");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    worker.setSavePath(dir.path() + "/taken/sub");
    worker.setRecoveryFiles({record(0, 10)});
    const Run refused = runToEnd(worker);
    QVERIFY(refused.values.isEmpty());
    QCOMPARE(refused.failedFile, dir.path() + "/taken");
    QVERIFY(refused.failure.contains("not a folder"));
}

void TestRecoveryDataFiles::neverOverwritesAndKeepsEarlierRecoveries()
{
    const QByteArray bytes = patterned(64 * 1024, 7);
    auto volume = std::make_shared<CMemoryVolume>(bytes);
    QTemporaryDir dir;
    const QString folder = dir.path() + QString::fromUtf8("/恢复");
    QVERIFY(QDir().mkpath(folder));
    {
        QFile mine(folder + "/8.PDF");
        QVERIFY(mine.open(QIODevice::WriteOnly));
        mine.write("the user's own file");
    }

    // Two records with one name, and a name that tries to leave the folder.
    CFileNode escaping = record(20, 100);
    escaping.name = "../../escape";
    const QList<CFileNode> files = {record(8, 5000), record(8, 300), escaping};
    CRecoveryDataFiles worker(nullptr, kWindow);
    worker.setDiskHandle(volume);
    worker.setSavePath(folder);
    worker.setRecoveryFiles(files);
    Run first = runToEnd(worker);
    QVERIFY2(first.failure.isEmpty(), qPrintable(first.failure));
    QCOMPARE(readAll(folder + "/8.PDF"), QByteArray("the user's own file"));
    QCOMPARE(readAll(folder + "/8 (1).PDF"), slice(bytes, files[0]));
    QCOMPARE(readAll(folder + "/8 (2).PDF"), slice(bytes, files[1]));
    QCOMPARE(readAll(folder + "/.._.._escape.PDF"), slice(bytes, escaping));
    QCOMPARE(first.written.first(), folder + "/8 (1).PDF");

    // The same recovery again keeps everything the first one wrote.
    Run second = runToEnd(worker);
    QVERIFY2(second.failure.isEmpty(), qPrintable(second.failure));
    QCOMPARE(second.values.last(), 3);
    QCOMPARE(readAll(folder + "/8 (1).PDF"), slice(bytes, files[0]));
    QCOMPARE(readAll(folder + "/8 (3).PDF"), slice(bytes, files[0]));
    QCOMPARE(readAll(folder + "/8 (4).PDF"), slice(bytes, files[1]));
    QCOMPARE(documentsIn(folder, QDir::Files | QDir::Hidden).size(), 7);
}

void TestRecoveryDataFiles::unreadableDocumentsAreLeftOutAndTheRunGoesOn()
{
    const QByteArray bytes = patterned(64 * 1024, 3);
    auto volume = std::make_shared<CMemoryVolume>(bytes);
    // A bad stretch in the lead of the first document's window (before it,
    // not in it), and two bad sectors inside the second document.
    volume->failRange(8 * 512 + 100, 200, EIO);
    volume->failRange(41 * 512, 1024, EIO);
    QTemporaryDir dir;
    const QList<CFileNode> files = {record(9, 3000), record(40, 6000), record(80, 100)};
    CRecoveryDataFiles worker(nullptr, kWindow);
    worker.setDiskHandle(volume);
    worker.setSavePath(dir.path());
    worker.setRecoveryFiles(files);
    const Run run = runToEnd(worker);

    // Every readable document is written; the other is named, and the run
    // completes.
    QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
    QCOMPARE(readAll(dir.path() + "/9.PDF"), slice(bytes, files[0]));
    QCOMPARE(readAll(dir.path() + "/80.PDF"), slice(bytes, files[2]));
    QCOMPARE(documentsIn(dir.path(), QDir::Files | QDir::Hidden), (QStringList{"80.PDF", "9.PDF"}));
    QCOMPARE(run.leftOut.size(), 1);
    QVERIFY2(run.leftOut[0].startsWith("2 40.PDF: unreadable sectors at byte 20992 of memory"), qPrintable(run.leftOut[0]));
    QCOMPARE(run.leftOutUnreadable, 1);
    QCOMPARE(run.values.last(), 3);
    QCOMPARE(worker.writtenCount(), 2);
    QCOMPARE(worker.leftOutCount(), 1);
    const QByteArray report = readAll(dir.path() + "/report.xml");
    QVERIFY2(report.contains("<tamsel:left_out filename=\"40.PDF\" type=\"PDF\" size=\"6000\" img_offset=\"20480\">"),
             report.constData());
    QVERIFY(report.contains("<tamsel:run img_offset=\"20992\" len=\"512\"/>"));

    // Asked for, it is written with zeros exactly where the disk gave
    // nothing, and the report lists those bytes of the file.
    worker.setSavePath(dir.path() + "/asked");
    worker.setRecoveryFiles({files[1]}, {true});
    const Run asked = runToEnd(worker);
    QVERIFY(asked.leftOut.isEmpty());
    QByteArray expected = slice(bytes, files[1]);
    expected.replace(512, 1024, QByteArray(1024, '\0'));
    QCOMPARE(readAll(dir.path() + "/asked/40.PDF"), expected);
    const QByteArray askedReport = readAll(dir.path() + "/asked/report.xml");
    QVERIFY2(askedReport.contains("<tamsel:unreadable bytes=\"1024\">\n            <tamsel:run file_offset=\"512\" len=\"1024\"/>"),
             askedReport.constData());
    QVERIFY(askedReport.contains("<tamsel:integrity state=\"damaged\">unreadable sectors at bytes 512-1535 of the file"));

    // An image cut after it was opened (and scanned): the bytes that are
    // gone are unreadable, not zeros, and the document is not kept.
    const QString image = dir.path() + "/source.img";
    {
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    std::shared_ptr<IVolume> file(CFileVolume::open(image).release());
    QVERIFY(file);
    QVERIFY(QFile::resize(image, 50 * 512));
    worker.setDiskHandle(file);
    worker.setSavePath(dir.path() + "/cut");
    worker.setRecoveryFiles({record(10, 5000), record(45, 6000)});
    const Run cut = runToEnd(worker);
    QCOMPARE(readAll(dir.path() + "/cut/10.PDF"), bytes.mid(10 * 512, 5000));
    QCOMPARE(cut.leftOut.size(), 1);
    QVERIFY2(cut.leftOut[0].contains("45.PDF: " + image + " ends at byte 25600 now"), qPrintable(cut.leftOut[0]));
    QCOMPARE(documentsIn(dir.path() + "/cut", QDir::Files | QDir::Hidden), QStringList{"10.PDF"});
}

// Bytes a view of the page cache loses after it was made (the image cut
// short, a disk error on a page the cache had dropped) read as zeros: a
// file written from such a view is not the document and is never kept as
// if it were.
void TestRecoveryDataFiles::aViewThatLosesBytesUnderTheWriteIsNotKept()
{
    QTemporaryDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/view-XXXXXX"));
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("disk.img"));
    const QByteArray bytes = patterned(4 * 1024 * 1024, 7);
    constexpr int64_t kCut = 2 * 1024 * 1024;
    constexpr uint32_t kBigWindow = 1024 * 1024;
    const CFileNode document = record(0, 3 * 1024 * 1024);

    // Cuts the image short as soon as a view over the cut is made, so the
    // view is whole when made and loses its tail before it is written.
    class CutUnderView : public IVolume
    {
    public:
        CutUnderView(std::shared_ptr<IVolume> inner, QString path)
            : m_inner(std::move(inner)), m_path(std::move(path)) {}
        bool cut = false;
        ReadResult read(int64_t offset, void* buffer, size_t length) override { return m_inner->read(offset, buffer, length); }
        const uint8_t* mapView(int64_t offset, int64_t length) override
        {
            const uint8_t* view = m_inner->mapView(offset, length);
            if (view && !cut && offset <= kCut && kCut < offset + length)
                cut = QFile::resize(m_path, kCut);
            return view;
        }
        int64_t viewLostBytes(const uint8_t* view) const override { return m_inner->viewLostBytes(view); }
        int64_t releaseView(const uint8_t* view, int64_t length) override { return m_inner->releaseView(view, length); }
        int64_t length() const override { return m_inner->length(); }
        QString name() const override { return m_inner->name(); }

    private:
        std::shared_ptr<IVolume> m_inner;
        QString m_path;
    };
    const auto freshImage = [&]() -> std::shared_ptr<CutUnderView> {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            return nullptr;
        f.close();
        std::shared_ptr<IVolume> inner(CFileVolume::open(path).release());
        if (!inner)
            return nullptr;
        CWindowBuffer warm(static_cast<size_t>(bytes.size()));
        inner->read(0, warm.data(), warm.size()); // in the page cache: viewed
        return std::make_shared<CutUnderView>(inner, path);
    };

    auto volume = freshImage();
    QVERIFY(volume);
    CRecoveryDataFiles worker(nullptr, kBigWindow);
    worker.setDiskHandle(volume);
    worker.setSavePath(dir.filePath("out"));
    worker.setRecoveryFiles({document});
    const Run run = runToEnd(worker);
    if (!volume->cut)
        QSKIP("this file system gives no views of its files");
    QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
    QVERIFY(run.written.isEmpty());
    QCOMPARE(run.leftOut.size(), 1);
    QVERIFY2(run.leftOut[0].contains("ends at byte 2097152 now"), qPrintable(run.leftOut[0]));
    QCOMPARE(documentsIn(dir.filePath("out"), QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(readAll(dir.filePath("out/report.xml")).contains("<tamsel:left_out filename=\"0.PDF\""));

    // Asked for as it is: what the image still has, zeros after, and the
    // report says which bytes.
    volume = freshImage();
    QVERIFY(volume);
    worker.setDiskHandle(volume);
    worker.setSavePath(dir.filePath("asked"));
    worker.setRecoveryFiles({document}, {true});
    const Run asked = runToEnd(worker);
    QVERIFY(volume->cut);
    QCOMPARE(asked.written.size(), 1);
    QCOMPARE(readAll(dir.filePath("asked/0.PDF")), bytes.left(kCut) + QByteArray(1024 * 1024, '\0'));
    const QByteArray report = readAll(dir.filePath("asked/report.xml"));
    QVERIFY2(report.contains("<tamsel:run file_offset=\"2097152\" len=\"1048576\"/>"), report.constData());
    const QByteArray sha = QCryptographicHash::hash(readAll(dir.filePath("asked/0.PDF")), QCryptographicHash::Sha256).toHex();
    QVERIFY(report.contains(sha));
}

// A document whose check finds it damaged is left out unless asked for,
// and one whose check had not run when the recovery started is checked
// before it is written, not taken for whole.
void TestRecoveryDataFiles::documentsFailingTheirCheckAreLeftOutUnlessAsked()
{
    QFile source(QStringLiteral(TAMSEL_TEST_DATA "/pdf_ghostscript.pdf"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray pdf = source.readAll();
    QByteArray bytes = pdf;
    bytes.append(QByteArray(64 * 512 - bytes.size(), 'x'));
    bytes.append(pdf.left(6000)); // its head alone, at sector 64
    bytes.append(QByteArray(8192, 'x'));
    auto volume = std::make_shared<CMemoryVolume>(bytes);
    // Not looked at yet by the details pass.
    CFileNode whole = record(0, pdf.size());
    whole.details = CDocumentDetails();
    CFileNode head = record(64, pdf.size());
    head.details = CDocumentDetails();
    CFileNode known = record(64, pdf.size());
    known.details.examined = true;
    known.details.integrity = CDocumentDetails::IntegrityDamaged;
    known.details.integrityReason = QStringLiteral("no cross-reference table");

    QTemporaryDir dir;
    CRecoveryDataFiles worker(nullptr, kWindow);
    worker.setDiskHandle(volume);
    worker.setSavePath(dir.path());
    worker.setRecoveryFiles({whole, head, known});
    const Run run = runToEnd(worker);
    QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
    QCOMPARE(readAll(dir.path() + "/0.PDF"), pdf);
    QCOMPARE(documentsIn(dir.path(), QDir::Files | QDir::Hidden), QStringList{"0.PDF"});
    QCOMPARE(run.leftOut.size(), 2);
    QVERIFY2(run.leftOut[0].startsWith("2 64.PDF: damaged: "), qPrintable(run.leftOut[0]));
    QCOMPARE(run.leftOut[1], QStringLiteral("3 64.PDF: damaged: no cross-reference table"));
    QCOMPARE(run.leftOutUnreadable, 0);
    QCOMPARE(run.values.last(), 3);
    const QByteArray report = readAll(dir.path() + "/report.xml");
    QVERIFY2(report.contains("<tamsel:integrity state=\"whole\""), report.constData());

    worker.setSavePath(dir.path() + "/asked");
    worker.setRecoveryFiles({head}, {true});
    const Run asked = runToEnd(worker);
    QVERIFY(asked.leftOut.isEmpty());
    QCOMPARE(readAll(dir.path() + "/asked/64.PDF"), bytes.mid(64 * 512, pdf.size()));
    QVERIFY(readAll(dir.path() + "/asked/report.xml").contains("<tamsel:integrity state=\"damaged\""));
}

void TestRecoveryDataFiles::recordsOutsideTheVolumeAreRefused()
{
    auto volume = std::make_shared<CMemoryVolume>(patterned(8192));
    QTemporaryDir dir;
    CRecoveryDataFiles worker(nullptr, kWindow);
    worker.setDiskHandle(volume);
    worker.setSavePath(dir.path());
    const QList<QList<CFileNode>> bad = {{record(10, 4000)}, {record(0, -1)}, {record(quint64(1) << 60, 10)}};
    for (const QList<CFileNode>& list : bad) {
        worker.setRecoveryFiles(list);
        const Run run = runToEnd(worker);
        QVERIFY(!run.failure.isEmpty());
        QVERIFY(run.values.isEmpty());
    }
    QCOMPARE(documentsIn(dir.path(), QDir::Files).size(), 0);
}

void TestRecoveryDataFiles::aListGivenDuringARunWaitsForTheNextStart()
{
    const QByteArray bytes = patterned(64 * 1024, 5);
    auto volume = std::make_shared<CMemoryVolume>(bytes);
    QSemaphore entered;
    QSemaphore release;
    std::atomic<bool> gated{false};
    volume->setReadHook([&](int64_t offset, size_t) {
        if (offset <= 10 * 512 && !gated.exchange(true)) {
            entered.release();
            release.acquire();
        }
    });
    QTemporaryDir dir;
    CRecoveryDataFiles worker(nullptr, kWindow);
    worker.setDiskHandle(volume);
    worker.setSavePath(dir.path() + "/a");
    worker.setRecoveryFiles({record(10, 700), record(20, 700), record(30, 700)});
    QList<int> values;
    connect(&worker, &CRecoveryDataFiles::sigRecoveryFinished, this, [&](int v) { values << v; });
    worker.start();
    QVERIFY(entered.tryAcquire(1, 10000));
    worker.setRecoveryFiles({record(50, 700)});
    worker.setSavePath(dir.path() + "/b");
    release.release();
    worker.wait();
    QCoreApplication::sendPostedEvents(&worker);
    QCOMPARE(values, (QList<int>{1, 2, 3}));
    QCOMPARE(documentsIn(dir.path() + "/a", QDir::Files).size(), 3);

    values.clear();
    worker.start();
    worker.wait();
    QCoreApplication::sendPostedEvents(&worker);
    QCOMPARE(values, QList<int>{1});
    QCOMPARE(readAll(dir.path() + "/b/50.PDF"), bytes.mid(50 * 512, 700));
}

void TestRecoveryDataFiles::stopThenStartAgainRunsToCompletion()
{
    const QByteArray bytes = patterned(64 * 1024, 9);
    auto volume = std::make_shared<CMemoryVolume>(bytes);
    QTemporaryDir dir;
    QSemaphore entered;
    QSemaphore release;
    std::atomic<bool> gated{false};
    std::atomic<bool> heldTooLong{false};
    std::atomic<int> readsAfterStop{0};
    std::atomic<bool> stopped{false};
    QStringList seenWhileWriting;
    volume->setReadHook([&](int64_t offset, size_t) {
        if (stopped)
            ++readsAfterStop;
        if (offset <= 10 * 512 && !gated.exchange(true)) {
            seenWhileWriting = documentsIn(dir.path(), QDir::Files | QDir::Hidden);
            entered.release();
            // Never forever: a start() that waits for this run shows as a
            // gate held to its time limit.
            if (!release.tryAcquire(1, 5000))
                heldTooLong = true;
        }
    });
    // A leftover of a killed run is kept and not taken for ours.
    {
        QFile leftover(dir.path() + "/.20.PDF.partial");
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.write("left by a killed run");
    }
    const QList<CFileNode> files = {record(10, 3 * kWindow), record(20, 700), record(30, 700)};
    CRecoveryDataFiles worker(nullptr, kWindow);
    worker.setDiskHandle(volume);
    worker.setSavePath(dir.path());
    worker.setRecoveryFiles(files);
    QList<int> values;
    QStringList failures;
    connect(&worker, &CRecoveryDataFiles::sigRecoveryFinished, this, [&](int v) { values << v; });
    connect(&worker, &CRecoveryDataFiles::sigRecoveryFailed, this,
            [&](const QString& f, const QString& r) { failures << f + ": " + r; });

    worker.start();
    QVERIFY(entered.tryAcquire(1, 10000));
    // The file being written is hidden and says it is partial.
    QCOMPARE(seenWhileWriting, (QStringList{".10.PDF.partial", ".20.PDF.partial"}));
    // Stopped inside its first file, then started again at once: start()
    // returns while the old run still holds its read.
    stopped = true;
    worker.stopRecovery();
    worker.start();
    QVERIFY(worker.isBusy());
    release.release();
    QTRY_VERIFY_WITH_TIMEOUT(!values.isEmpty() && values.last() == 3, 10000);
    worker.wait();
    QVERIFY(!heldTooLong);

    QVERIFY2(failures.isEmpty(), qPrintable(failures.join('\n')));
    // Nothing of the stopped run is reported; its unfinished file is gone,
    // so the new run's copy takes the plain name.
    QCOMPARE(values, (QList<int>{1, 2, 3}));
    QCOMPARE(readAll(dir.path() + "/10.PDF"), slice(bytes, files[0]));
    QCOMPARE(readAll(dir.path() + "/20.PDF"), slice(bytes, files[1]));
    QCOMPARE(readAll(dir.path() + "/30.PDF"), slice(bytes, files[2]));
    QCOMPARE(documentsIn(dir.path(), QDir::Files | QDir::Hidden),
             (QStringList{".20.PDF.partial", "10.PDF", "20.PDF", "30.PDF"}));
    QCOMPARE(readAll(dir.path() + "/.20.PDF.partial"), QByteArray("left by a killed run"));
    // The stopped run read no further window: three files of the new run
    // take five reads (three windows, two small files).
    QVERIFY2(readsAfterStop <= 5, qPrintable(QString::number(readsAfterStop)));
}

void TestRecoveryDataFiles::aNameTakenWhileWritingIsNotReplaced()
{
    const QByteArray bytes = patterned(64 * 1024, 13);
    auto volume = std::make_shared<CMemoryVolume>(bytes);
    QTemporaryDir dir;
    std::atomic<bool> once{false};
    // Someone makes 30.PDF while ours is being copied.
    volume->setReadHook([&](int64_t offset, size_t) {
        if (offset >= 29 * 512 && !once.exchange(true)) {
            QFile theirs(dir.path() + "/30.PDF");
            if (theirs.open(QIODevice::WriteOnly))
                theirs.write("theirs");
        }
    });
    CRecoveryDataFiles worker(nullptr, kWindow);
    worker.setDiskHandle(volume);
    worker.setSavePath(dir.path());
    worker.setRecoveryFiles({record(30, 2 * kWindow + 5)});
    const Run run = runToEnd(worker);
    QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
    QCOMPARE(run.written, QStringList{dir.path() + "/30 (1).PDF"});
    QCOMPARE(readAll(dir.path() + "/30.PDF"), QByteArray("theirs"));
    QCOMPARE(readAll(dir.path() + "/30 (1).PDF"), bytes.mid(30 * 512, 2 * kWindow + 5));
}

void TestRecoveryDataFiles::recoveryDuringAScanCopiesTheRightBytes()
{
    QTemporaryDir dir;
    const QString image = dir.path() + "/source.img";
    const QByteArray bytes = patterned(4 * 1024 * 1024, 11);
    {
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    std::shared_ptr<IVolume> file(CFileVolume::open(image).release());
    QVERIFY(file);
    auto volume = std::make_shared<GatedVolume>(file);

    // Hold the scan inside its pass while the recovery reads the same
    // descriptor.
    CRecoveryControl scan;
    scan.setWindowSize(64 * 1024);
    QSemaphore entered;
    QSemaphore release;
    std::atomic<bool> gated{false};
    volume->hook = [&](int64_t offset, size_t) {
        if (QThread::currentThread() == &scan && offset >= 1024 * 1024 && !gated.exchange(true)) {
            entered.release();
            release.acquire();
        }
    };
    QVERIFY(scan.beginScan(volume, QString()));
    QVERIFY(entered.tryAcquire(1, 10000));

    const QList<CFileNode> files = {record(7, 100000), record(4097, 300000, "DOCX"), record(100, 1)};
    CRecoveryDataFiles worker(nullptr, 64 * 1024);
    worker.setDiskHandle(volume);
    worker.setSavePath(dir.path() + "/out");
    worker.setRecoveryFiles(files);
    const Run run = runToEnd(worker);
    release.release();
    scan.wait();

    QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
    for (const CFileNode& n : files)
        QCOMPARE(readAll(dir.path() + "/out/" + n.name + "." + n.typeName), slice(bytes, n));
}

void TestRecoveryDataFiles::filesGoToTheUserBehindSudo()
{
    if (::geteuid() != 0)
        QSKIP("handing files to the invoking user needs root");
    QTemporaryDir dir;
    auto volume = std::make_shared<CMemoryVolume>(patterned(8192));
    qputenv("SUDO_UID", "4242");
    qputenv("SUDO_GID", "4243");
    CRecoveryDataFiles worker(nullptr, kWindow);
    worker.setDiskHandle(volume);
    worker.setSavePath(dir.path() + "/new/inner");
    worker.setRecoveryFiles({record(1, 600)});
    const Run run = runToEnd(worker);
    qunsetenv("SUDO_UID");
    qunsetenv("SUDO_GID");
    QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));

    struct stat st;
    for (const QString& path : {dir.path() + "/new", dir.path() + "/new/inner", dir.path() + "/new/inner/1.PDF"}) {
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_uid, uid_t(4242));
        QCOMPARE(st.st_gid, gid_t(4243));
    }
    // A folder that was there before keeps its owner.
    QCOMPARE(::stat(QFile::encodeName(dir.path()).constData(), &st), 0);
    QCOMPARE(st.st_uid, uid_t(0));
}

QTEST_GUILESS_MAIN(TestRecoveryDataFiles)
#include "tst_CRecoveryDataFiles.moc"

namespace {

CFileNode deletedEntry(const QString& originalName, qint64 size, const QVector<CFileNode::Extent>& extents)
{
    CFileNode n = record(extents.isEmpty() ? 0 : quint64(extents.first().offset) / 512, size);
    n.origin = CFileNode::OriginDeletedEntry;
    n.originalName = originalName;
    n.extents = extents;
    return n;
}

} // namespace

void TestRecoveryDataFiles::deletedFilesComeBackFromTheirLayoutUnderTheirNames()
{
    const QByteArray bytes = patterned(128 * 1024, 777);
    auto volume = std::make_shared<CMemoryVolume>(bytes);
    constexpr int64_t kSparse = CFileNode::Extent::kSparse;

    // Three runs out of order on the volume, one of them a hole, each
    // longer than a window; the last cluster's slack past the size is not
    // the file's.
    CFileNode fragmented = deletedEntry(QStringLiteral("毕业论文终稿.docx"), 20000,
                                        {{65536, 6000}, {kSparse, 5000}, {4096, 12288}});
    fragmented.modified = QDateTime(QDate(2021, 3, 14), QTime(15, 9, 26, 500), Qt::UTC);
    const QByteArray fragmentedBytes = bytes.mid(65536, 6000) + QByteArray(5000, '\0') + bytes.mid(4096, 9000);

    CFileNode resident = deletedEntry(QStringLiteral("小.pdf"), 600, {});
    resident.startSector = 99;
    resident.residentData = patterned(600, 4);
    resident.hasResidentData = true;
    resident.modified = QDateTime(QDate(1969, 7, 20), QTime(20, 17, 40, 250), Qt::UTC);

    // Carving found the same document: the entry's layout and name win.
    CFileNode both = fragmented;
    both.origin = CFileNode::OriginBoth;

    QTemporaryDir dir;
    const QString out = dir.path() + "/out";
    CRecoveryDataFiles worker(nullptr, kWindow);
    worker.setDiskHandle(volume);
    worker.setSavePath(out);
    worker.setRecoveryFiles({fragmented, resident, both, record(16, 3000)});
    const Run run = runToEnd(worker);
    QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
    QCOMPARE(run.written, QStringList({out + QString::fromUtf8("/毕业论文终稿.docx"), out + QString::fromUtf8("/小.pdf"),
                                       out + QString::fromUtf8("/毕业论文终稿 (1).docx"), out + "/16.PDF"}));
    QCOMPARE(readAll(run.written[0]), fragmentedBytes);
    QCOMPARE(readAll(run.written[1]), resident.residentData);
    QCOMPARE(readAll(run.written[2]), fragmentedBytes);
    QCOMPARE(readAll(run.written[3]), bytes.mid(16 * 512, 3000));

    // Modification times to the nanosecond field, also before 1970.
    for (const auto& [path, time] : {std::make_pair(run.written[0], fragmented.modified),
                                     std::make_pair(run.written[1], resident.modified)}) {
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        const qint64 ms = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
        QCOMPARE(ms, time.toMSecsSinceEpoch());
    }

    // A run past the end of the volume is refused before anything is made.
    CRecoveryDataFiles refusing(nullptr, kWindow);
    refusing.setDiskHandle(volume);
    refusing.setSavePath(dir.path() + "/bad");
    refusing.setRecoveryFiles({deletedEntry(QStringLiteral("x.pdf"), 8192, {{4096, 4096}, {bytes.size() - 100, 4096}})});
    const Run bad = runToEnd(refusing);
    QVERIFY(bad.failure.contains(QStringLiteral("past the end")));
    QVERIFY(documentsIn(dir.path() + "/bad", QDir::Files).isEmpty());
}

void TestRecoveryDataFiles::hostileNamesStayInsideTheFolder()
{
    const QByteArray bytes = patterned(64 * 1024, 9);
    auto volume = std::make_shared<CMemoryVolume>(bytes);
    QString nul = QStringLiteral("a.pdf");
    nul.insert(1, QChar(0));
    // 300 bytes of UTF-8 in the base, and an emoji (a surrogate pair) at
    // the place where the cut falls.
    const QString longBase = QString(99, QChar(0x6587)) + QString::fromUtf8("\xF0\x9F\x93\x84") + QString(20, QLatin1Char('x'));
    const QStringList hostile = {QStringLiteral("../x.pdf"), QStringLiteral("/etc/passwd"), nul, QStringLiteral(".."),
                                 QStringLiteral("line\nbreak.pdf"), longBase + QStringLiteral(".pdf"),
                                 longBase + QStringLiteral(".pdf")};
    QList<CFileNode> files;
    for (int i = 0; i < hostile.size(); ++i)
        files << deletedEntry(hostile[i], 1000, {{qint64(i + 1) * 4096, 1000}});

    QTemporaryDir dir;
    const QString out = dir.path() + "/out";
    CRecoveryDataFiles worker(nullptr, kWindow);
    worker.setDiskHandle(volume);
    worker.setSavePath(out);
    worker.setRecoveryFiles(files);
    const Run run = runToEnd(worker);
    QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
    QCOMPARE(run.written.size(), hostile.size());
    // Nothing was written anywhere but in the folder itself.
    QCOMPARE(documentsIn(dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"out"});
    QCOMPARE(documentsIn(out, QDir::Files | QDir::Hidden).size(), hostile.size());
    for (int i = 0; i < run.written.size(); ++i) {
        const QString& path = run.written[i];
        QCOMPARE(QFileInfo(path).absolutePath(), out);
        QCOMPARE(readAll(path), bytes.mid((i + 1) * 4096, 1000));
        const QString name = QFileInfo(path).fileName();
        QVERIFY2(QFile::encodeName(name).size() <= 255, qPrintable(name));
        QVERIFY(!name.contains(QChar(0)) && !name.contains(QLatin1Char('\n')));
        QVERIFY(QString::fromUtf8(QFile::encodeName(name)) == name); // no half surrogate pair
    }
    QCOMPARE(QFileInfo(run.written[0]).fileName(), QStringLiteral(".._x.pdf"));
    QCOMPARE(QFileInfo(run.written[3]).fileName(), QStringLiteral("32.PDF")); // ".." is no name
    QVERIFY(QFileInfo(run.written[5]).fileName().endsWith(QStringLiteral(".pdf")));
    QVERIFY(QFileInfo(run.written[6]).fileName().endsWith(QStringLiteral(" (1).pdf")));

    // The spelling for file systems that refuse more, and a tiny limit.
    CFileNode odd = deletedEntry(QStringLiteral("报告: 第1版?.pdf. "), 1, {{4096, 1}});
    odd.name = odd.originalName; // as the NTFS pass fills it
    const CRecoveryFileName naming(odd);
    QCOMPARE(naming.candidate(CRecoveryFileName::Portable), QStringLiteral("报告_ 第1版_.pdf"));
    QCOMPARE(naming.candidate(CRecoveryFileName::SectorName), QStringLiteral("8.PDF"));
    const QString tiny = CRecoveryFileName(odd, 12).candidate(CRecoveryFileName::Portable, 3);
    QCOMPARE(tiny, QStringLiteral("报 (3).pdf")); // 11 bytes: a whole character more would not fit
}

void TestRecoveryDataFiles::keptFoldersStayInsideTheOutputFolder()
{
    const QByteArray bytes = patterned(64 * 1024, 21);
    auto volume = std::make_shared<CMemoryVolume>(bytes);
    const QString longName = QString(120, QChar(0x6587)); // 360 bytes of UTF-8
    struct Case
    {
        QString folder;
        QString name;
        QString expected; // the file's path under the output folder
    };
    const QList<Case> cases = {
        {"/A", "report.pdf", "A/report.pdf"},
        {"/B/2024", "report.pdf", "B/2024/report.pdf"},
        {"/", "report.pdf", "report.pdf"},
        {"/../../..", "up.pdf", "_/_/_/up.pdf"},
        {"/./x/", "dot.pdf", "x/dot.pdf"},
        {"/etc", "passwd", "etc/passwd"},
        {QStringLiteral("/line\nbreak/\x01:*"), "ctl.pdf", "line_break/___/ctl.pdf"},
        {"?/Reports", "lost.pdf", "lost/Reports/lost.pdf"},
        {"?", "orphan.pdf", "lost/orphan.pdf"},
        {"/Linked", "link.pdf", "Linked (1)/link.pdf"}, // a link is never followed
        {"/Taken", "file.pdf", "Taken (1)/file.pdf"},   // nor is a file taken for a folder
        {"/" + longName, "long.pdf", QString()},
    };
    QList<CFileNode> files;
    for (int i = 0; i < cases.size(); ++i) {
        CFileNode n = deletedEntry(cases[i].name, 1000, {{qint64(i + 1) * 4096, 1000}});
        n.folder = cases[i].folder;
        files << n;
    }
    files << record(13 * 8, 1000); // only carving knows it

    QTemporaryDir dir;
    const QString out = dir.path() + "/out";
    const QString outside = dir.path() + "/outside";
    QVERIFY(QDir().mkpath(out) && QDir().mkpath(outside));
    QVERIFY(QFile::link(outside, out + "/Linked"));
    {
        QFile taken(out + "/Taken");
        QVERIFY(taken.open(QIODevice::WriteOnly));
    }
    CRecoveryDataFiles worker(nullptr, kWindow);
    worker.setDiskHandle(volume);
    worker.setSavePath(out);
    worker.setRecoveryFiles(files);
    worker.setKeepFolders(true);
    const Run run = runToEnd(worker);
    QVERIFY2(run.failure.isEmpty(), qPrintable(run.failedFile + ": " + run.failure));
    QCOMPARE(run.written.size(), files.size());
    QVERIFY(QDir(outside).isEmpty());
    const QString realOut = QFileInfo(out).canonicalFilePath();
    for (int i = 0; i < run.written.size(); ++i) {
        const QString real = QFileInfo(run.written[i]).canonicalFilePath();
        QVERIFY2(real.startsWith(realOut + "/"), qPrintable(real));
        QCOMPARE(readAll(run.written[i]), i < cases.size() ? bytes.mid((i + 1) * 4096, 1000) : bytes.mid(13 * 4096, 1000));
        const QString relative = QDir(out).relativeFilePath(run.written[i]);
        if (i < cases.size() && !cases[i].expected.isEmpty())
            QCOMPARE(relative, cases[i].expected);
    }
    // A name too long for a folder is cut to what the file system takes.
    const QString cut = QFileInfo(run.written[cases.size() - 1]).absolutePath();
    QVERIFY(QFile::encodeName(QFileInfo(cut).fileName()).size() <= 255);
    QCOMPARE(QFileInfo(cut).absolutePath(), out);
    QCOMPARE(QDir(out).relativeFilePath(run.written.last()), QStringLiteral("lost/104.PDF"));

    // The report gives each file's path on the source and where it went.
    const QByteArray report = readAll(out + "/report.xml");
    QVERIFY(report.contains("<filename>/B/2024/report.pdf</filename>"));
    QVERIFY(report.contains("<tamsel:written>B/2024/report.pdf</tamsel:written>"));
    QVERIFY(report.contains("<filename>?/Reports/lost.pdf</filename>"));
    QVERIFY(report.contains("<filename>lost/104.PDF</filename>"));
}
