// The source is never written: its hash is the same after a scan, after a
// recovery, and after a recovery that reads through the scan worker's own
// volume while that scan runs; and every descriptor this process holds on
// the source is read-only.

#include "HardeningSupport.h"

#include "disk/CFileVolume.h"
#include "filesystems/CFat32Scanner.h"
#include "recovery/CRecoveryDataFiles.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"
#include "scan/CRecoveryControl.h"

#include <QDir>
#include <QEventLoop>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <fcntl.h>

using namespace hardening;

namespace {

// Forwards to a file volume, and lets the test hold the scan at a gate.
class GatedVolume : public IVolume
{
public:
    explicit GatedVolume(std::shared_ptr<CFileVolume> inner)
        : m_inner(std::move(inner))
    {
    }
    std::function<void(int64_t)> hook;
    ReadResult read(int64_t offset, void* buffer, size_t length) override
    {
        if (hook)
            hook(offset);
        return m_inner->read(offset, buffer, length);
    }
    int64_t length() const override { return m_inner->length(); }
    QString name() const override { return m_inner->name(); }

private:
    std::shared_ptr<CFileVolume> m_inner;
};

struct Descriptor
{
    int fd;
    int flags;
};

// Every descriptor of this process open on `path`, with its flags as the
// kernel reports them.
QList<Descriptor> descriptorsOn(const QString& path)
{
    QList<Descriptor> found;
    const QString target = QFileInfo(path).canonicalFilePath();
    const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString& fd : fds) {
        if (QFileInfo(QStringLiteral("/proc/self/fd/") + fd).symLinkTarget() != target)
            continue;
        QFile info(QStringLiteral("/proc/self/fdinfo/") + fd);
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : info.readAll().split('\n')) {
            if (line.startsWith("flags:"))
                found.append({fd.toInt(), int(line.mid(6).trimmed().toInt(nullptr, 8))});
        }
    }
    return found;
}

// Made-up bytes, taken as a document whose check found it whole.
CFileNode record(quint64 sector, qint64 size, int typeCode)
{
    const QString typeName = CFileTypeCatalogue::typeName(typeCode);
    CFileNode n(typeName, size, sector, QString(), QStringLiteral("at-%1").arg(sector), QString(), typeCode, 2,
                CFileTypeCatalogue::sizeText(size), CFileTypeCatalogue::description(typeName));
    n.details.examined = true;
    n.details.integrity = CDocumentDetails::IntegrityWhole;
    return n;
}

} // namespace

class TestReadOnlySource : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void scanAndRecoverLeaveTheImageUnchanged();
    void recoveryThroughTheScansVolumeWhileItScans();

private:
    QTemporaryDir m_dir;
    QString m_image;
    QByteArray m_hash;
};

void TestReadOnlySource::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_image = m_dir.filePath("fat32.img");
    const Run made = run("bash", {script("make-fat32-volume.sh"), m_image});
    QVERIFY2(made.exitCode == 0, qPrintable(made.err));
    m_hash = sha256(m_image);
    QCOMPARE(m_hash.size(), 64);
}

void TestReadOnlySource::scanAndRecoverLeaveTheImageUnchanged()
{
    const QDateTime modified = QFileInfo(m_image).lastModified();
    for (const char* fs : {"auto", "none"}) {
        const Run scan = cli({"scan", "--fs", fs, m_image});
        QVERIFY2(scan.exitCode == 0, qPrintable(scan.err));
        QCOMPARE(sha256(m_image), m_hash);
    }
    // The output folder sits beside the image, on the same file system.
    const Run recover = cli({"recover", m_image, m_dir.filePath("out")});
    QVERIFY2(recover.exitCode == 0, qPrintable(recover.err));
    QCOMPARE(sha256(m_image), m_hash);
    QCOMPARE(QFileInfo(m_image).lastModified(), modified);
}

void TestReadOnlySource::recoveryThroughTheScansVolumeWhileItScans()
{
    // What the file-system pass finds live is what gets recovered below.
    std::shared_ptr<CFileVolume> file(CFileVolume::open(m_image));
    QVERIFY(file);
    QList<QPair<long long, int>> live;
    {
        CNotifyFileNode relay;
        QObject::connect(&relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem),
                         [&](long long s, int c) { live.append({s, c}); });
        CFat32Scanner scanner(file.get(), &relay);
        scanner.scan();
    }
    QVERIFY(live.size() >= 5);

    auto volume = std::make_shared<GatedVolume>(file);
    file.reset(); // the worker's volume now holds the only descriptor

    CRecoveryControl scan;
    scan.setWindowSize(1024 * 1024);
    QSemaphore entered;
    QSemaphore release;
    std::atomic<bool> gated{false};
    // Hold the raw pass a few windows in.
    volume->hook = [&](int64_t offset) {
        if (QThread::currentThread() == &scan && offset >= 4 * 1024 * 1024 && !gated.exchange(true)) {
            entered.release();
            release.acquire();
        }
    };
    QVERIFY(scan.beginScan(volume, QStringLiteral("FAT32")));
    QVERIFY(entered.tryAcquire(1, 60000));
    QVERIFY(scan.isScanning());

    QList<CFileNode> files;
    for (const auto& f : live)
        files.append(record(quint64(f.first), 64 * 1024 + 513, f.second == 100 ? CFileTypeCatalogue::Zip : f.second));
    CRecoveryDataFiles recovery(nullptr, 64 * 1024);
    recovery.setDiskHandle(scan.diskHandle());
    recovery.setSavePath(m_dir.filePath("during"));
    QVERIFY(recovery.setRecoveryFiles(files));
    QString failure;
    QObject::connect(&recovery, &CRecoveryDataFiles::sigRecoveryFailed,
                     [&](const QString& path, const QString& reason) { failure = path + ": " + reason; });
    recovery.start();

    // While both read: the scan's descriptors on the image (the ordinary
    // one and, where the file system takes them, one for direct reads), each
    // opened read-only; the recovery opens none of its own.
    const QList<Descriptor> open = descriptorsOn(m_image);
    const bool allReadOnly = std::all_of(open.begin(), open.end(), [](const Descriptor& d) {
        return (d.flags & O_ACCMODE) == O_RDONLY;
    });
    const int count = open.size();
    if (count < 1 || count > 2 || !allReadOnly)
        release.release(); // let the scan end before failing
    QVERIFY(count == 1 || count == 2);
    QVERIFY(allReadOnly);

    recovery.wait();
    QCoreApplication::sendPostedEvents();
    QVERIFY(scan.isScanning()); // the recovery ran inside the scan
    release.release();
    QEventLoop loop;
    QObject::connect(&scan, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    if (!scan.isFinished())
        loop.exec();
    QVERIFY(scan.wait(1000));

    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(recovery.writtenCount(), files.size());
    for (const CFileNode& n : files) {
        const QString out = m_dir.filePath("during/" + n.name + "." + n.typeName);
        QCOMPARE(readFile(out), readFile(m_image, qint64(n.startSector) * 512, n.size));
    }
    QCOMPARE(sha256(m_image), m_hash);
}

QTEST_GUILESS_MAIN(TestReadOnlySource)
#include "tst_readonlysource.moc"
