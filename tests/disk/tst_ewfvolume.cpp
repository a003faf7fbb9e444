// E01 images read through libewf as a volume: the same bytes as the raw
// image they were acquired from, a segment set read as one disk, a corrupt
// chunk read as an error at that chunk and nowhere else, and the scan of an
// image listing what the scan of the raw image lists.
#include "disk/CEwfVolume.h"
#include "disk/CFileVolume.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

namespace {

QString run(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(180000)) {
        p.kill();
        p.waitForFinished();
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput()) + QString::fromUtf8(p.readAllStandardError());
}

QString script(const QString& name)
{
    return QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/") + name;
}

const QString kCli = QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli");

} // namespace

class TestEwfVolume : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsAsTheRawImage_data();
    void readsAsTheRawImage();
    void corruptChunkReadsAsUnreadable();
    void scanOfTheImageListsWhatTheRawScanLists();

private:
    QString acquire(const QString& raw, const QString& target, const QStringList& extra = {});

    QTemporaryDir m_dir;
    QString m_raw;
    QByteArray m_bytes;
};

QString TestEwfVolume::acquire(const QString& raw, const QString& target, const QStringList& extra)
{
    int code = -1;
    const QString out = run("bash", QStringList{script("make-e01-image.sh"), raw, m_dir.filePath(target)} + extra, &code);
    return code == 0 ? m_dir.filePath(target + ".E01") : (qWarning("%s", qPrintable(out)), QString());
}

void TestEwfVolume::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // 3 MiB and two sectors (not a whole number of chunks): random stretches
    // (stored as they are) between zeros and text (deflated).
    QRandomGenerator random(25);
    for (int i = 0; i < 24; ++i) {
        QByteArray piece(65536, '\0');
        if (i % 3 == 0)
            random.fillRange(reinterpret_cast<quint32*>(piece.data()), piece.size() / 4);
        else if (i % 3 == 1)
            piece = QByteArray("Expert Witness test volume. ").repeated(65536 / 28 + 1).left(65536);
        m_bytes += piece;
        m_bytes += QByteArray(65536, char(i));
    }
    m_bytes += QByteArray(1024, 'e');
    m_raw = m_dir.filePath("raw.img");
    QFile f(m_raw);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(m_bytes), qint64(m_bytes.size()));
}

void TestEwfVolume::readsAsTheRawImage_data()
{
    QTest::addColumn<bool>("segments");
    QTest::newRow("one compressed segment") << false;
    QTest::newRow("a set of 1 MiB segments") << true;
}

void TestEwfVolume::readsAsTheRawImage()
{
    QFETCH(bool, segments);
    const QString image = acquire(m_raw, segments ? "set" : "one", segments ? QStringList{"1048576"} : QStringList{});
    QVERIFY(!image.isEmpty());
    QVERIFY(CEwfVolume::isEwfImage(image));
    QVERIFY(!CEwfVolume::isEwfImage(m_raw));

    QString reason;
    std::unique_ptr<CEwfVolume> volume = CEwfVolume::open(image, &reason);
    QVERIFY2(volume, qPrintable(reason));
    QCOMPARE(volume->length(), int64_t(m_bytes.size()));
    QVERIFY(segments ? volume->segmentCount() >= 3 : volume->segmentCount() == 1);
    QCOMPARE(volume->storedMd5(), QString::fromLatin1(QCryptographicHash::hash(m_bytes, QCryptographicHash::Md5).toHex()));
    QCOMPARE(volume->storedSha1(), QString::fromLatin1(QCryptographicHash::hash(m_bytes, QCryptographicHash::Sha1).toHex()));

    // Reads from several threads at once, across chunks and segment ends,
    // give the raw image's bytes; at the end they come short without an
    // error, past it empty.
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t]() {
            QRandomGenerator random(t);
            std::vector<char> buffer(300000);
            for (int i = 0; i < 200; ++i) {
                const int64_t offset = random.bounded(m_bytes.size() + 100);
                const size_t length = 1 + random.bounded(i % 10 == 0 ? 300000 : 5000);
                const IVolume::ReadResult r = volume->read(offset, buffer.data(), length);
                const int64_t expected = std::max<int64_t>(0, std::min<int64_t>(length, m_bytes.size() - offset));
                if (r.error != 0 || r.bytes != expected
                    || (expected > 0 && std::memcmp(buffer.data(), m_bytes.constData() + offset, size_t(expected)) != 0))
                    ++wrong;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    QCOMPARE(wrong.load(), 0);

    const CEwfVolume::Verification v = volume->verify(nullptr, nullptr);
    QCOMPARE(v.computedMd5, volume->storedMd5());
    QVERIFY(v.corrupt.isEmpty());
    int code = -1;
    const QString said = run(kCli, {"verify", image}, &code);
    QCOMPARE(code, 0);
    QVERIFY2(said.contains("Verified"), qPrintable(said));
}

void TestEwfVolume::corruptChunkReadsAsUnreadable()
{
    const QString good = acquire(m_raw, "good");
    QVERIFY(!good.isEmpty());
    const QString bad = m_dir.filePath("bad.E01");
    QFile::remove(bad);
    QVERIFY(QFile::copy(good, bad));
    {
        // A few bytes in the middle of the chunk data.
        QFile f(bad);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(f.size() / 2);
        QByteArray bytes = f.read(16);
        for (char& c : bytes)
            c = char(~c);
        f.seek(f.size() / 2);
        f.write(bytes);
    }
    QString reason;
    std::unique_ptr<CEwfVolume> volume = CEwfVolume::open(bad, &reason);
    QVERIFY2(volume, qPrintable(reason));

    // Read chunk by chunk: the corrupt chunk fails with EIO, every other
    // one is the raw image's.
    int failed = 0;
    std::vector<char> buffer(32768);
    for (int64_t at = 0; at < volume->length(); at += int64_t(buffer.size())) {
        const IVolume::ReadResult r = volume->read(at, buffer.data(), buffer.size());
        const int64_t expected = std::min<int64_t>(int64_t(buffer.size()), m_bytes.size() - at);
        if (r.bytes < expected) {
            QCOMPARE(r.error, EIO);
            ++failed;
        }
        QVERIFY(std::memcmp(buffer.data(), m_bytes.constData() + at, size_t(r.bytes)) == 0);
    }
    QCOMPARE(failed, 1);
    // Again: a chunk known to be corrupt stays unreadable.
    const CEwfVolume::Verification v = volume->verify(nullptr, nullptr);
    QCOMPARE(v.corrupt.ranges().size(), 1);
    QVERIFY(v.computedMd5 != volume->storedMd5());

    int code = -1;
    QString said = run(kCli, {"verify", bad}, &code);
    QCOMPARE(code, 1);
    QVERIFY2(said.contains("Corrupt chunks") && said.contains("MISMATCH"), qPrintable(said));
    // The scan reads past it to the end.
    said = run(kCli, {"scan", bad, "--fs", "none", "--tsv"}, &code);
    QCOMPARE(code, 0);
    QVERIFY2(said.contains("could not be read", Qt::CaseInsensitive) || said.contains("unreadable", Qt::CaseInsensitive),
             qPrintable(said));
}

void TestEwfVolume::scanOfTheImageListsWhatTheRawScanLists()
{
    const QString volume = m_dir.filePath("ntfs.img");
    int code = -1;
    const QString made = run("bash", {script("make-ntfs-deleted-volume.sh"), volume}, &code);
    if (code != 0 && !QFile::exists("/dev/fuse"))
        QSKIP("no /dev/fuse here: the NTFS test volume cannot be built");
    QCOMPARE(code, 0);
    for (const QStringList& extra : {QStringList{}, QStringList{"4194304"}}) {
        const QString image = acquire(volume, extra.isEmpty() ? "ntfs" : "ntfs-set", extra);
        QVERIFY(!image.isEmpty());
        const QString raw = run(kCli, {"scan", volume, "--json"}, &code);
        QCOMPARE(code, 0);
        const QString ewf = run(kCli, {"scan", image, "--json"}, &code);
        QCOMPARE(code, 0);
        auto documents = [](const QString& out) {
            QStringList lines = out.split('\n', Qt::SkipEmptyParts).filter(QRegularExpression("^\\{"));
            lines.sort();
            return lines;
        };
        QVERIFY(documents(raw).size() >= 8);
        QCOMPARE(documents(ewf), documents(raw));
    }
}

QTEST_GUILESS_MAIN(TestEwfVolume)
#include "tst_ewfvolume.moc"
