#include "disk/CDiskMappingPointer.h"
#include "disk/CFileVolume.h"
#include "disk/CMemoryVolume.h"
#include "disk/CWindowBuffer.h"

#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every byte of the volume tells where it is, so a window at the wrong
// offset shows at once.
QByteArray patterned(int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 7 + i / 4096) & 0xFF);
    return b;
}

bool windowMatches(const CDiskMappingPointer& r, const QByteArray& volume, qint64 from, qint64 count)
{
    for (qint64 i = 0; i < count; ++i) {
        const qint64 at = from + i;
        const char expected = at < volume.size() ? volume[static_cast<int>(at)] : '\0';
        if (static_cast<char>(r.pointer()[i]) != expected)
            return false;
    }
    return true;
}

// Every read a volume was asked for, in the order they began.
struct ReadLog
{
    std::mutex mutex;
    std::vector<std::pair<qint64, qint64>> reads;

    void attach(CMemoryVolume& volume)
    {
        volume.setReadHook([this](int64_t offset, size_t length) {
            std::lock_guard<std::mutex> lock(mutex);
            reads.emplace_back(offset, static_cast<qint64>(length));
        });
    }
    // Whether the reads, put in order, tile [from, from + length) exactly.
    bool tiles(qint64 from, qint64 length)
    {
        std::vector<std::pair<qint64, qint64>> sorted = reads;
        std::sort(sorted.begin(), sorted.end());
        qint64 at = from;
        for (const auto& r : sorted) {
            if (r.first != at)
                return false;
            at += r.second;
        }
        return at == from + length;
    }
};

// A volume whose every read fails with EIO once `gone` is set, as a disk
// unplugged under a scan.
class FailingAfterHook : public IVolume
{
public:
    FailingAfterHook(CMemoryVolume& base, std::atomic<bool>& gone)
        : m_base(base)
        , m_gone(gone)
    {
    }
    ReadResult read(int64_t offset, void* buffer, size_t length) override
    {
        ReadResult r = m_base.read(offset, buffer, length);
        if (m_gone.load()) {
            r.bytes = 0;
            r.error = EIO;
        }
        return r;
    }
    int64_t length() const override { return m_base.length(); }
    QString name() const override { return m_base.name(); }

private:
    CMemoryVolume& m_base;
    std::atomic<bool>& m_gone;
};

} // namespace

class TestVolumeReader : public QObject
{
    Q_OBJECT

private slots:
    void sequentialWindowsAlternateHalves()
    {
        const quint32 w = 8192;
        const QByteArray bytes = patterned(5 * w + 100);
        CMemoryVolume volume(bytes);
        CDiskMappingPointer r(&volume, 0, w);
        QVERIFY(windowMatches(r, bytes, 0, w));
        r.beginSequential();
        const uint8_t* first = r.pointer();
        r.nextWindow();
        QCOMPARE(r.position(), qint64(w));
        QVERIFY(windowMatches(r, bytes, w, w));
        const uint8_t* second = r.pointer();
        QVERIFY(second != first);
        // The half handed out before stays intact while the next one fills.
        QCOMPARE(first[5], static_cast<uint8_t>(bytes[5]));
        r.nextWindow();
        QVERIFY(windowMatches(r, bytes, 2 * w, w));
        QCOMPARE(r.pointer(), first);
        // The last window runs past the end: the rest reads as zeros.
        r.nextWindow();
        r.nextWindow();
        r.nextWindow();
        QVERIFY(windowMatches(r, bytes, 5 * w, w));
        QCOMPARE(r.unreadableBytes(), qint64(0));
        r.endSequential();
    }

    void unalignedOpeningKeepsPosition()
    {
        const quint32 w = 8192;
        const QByteArray bytes = patterned(4 * w);
        CMemoryVolume volume(bytes);
        CDiskMappingPointer r(&volume, 5000, w);
        QCOMPARE(r.position(), qint64(5000));
        QVERIFY(windowMatches(r, bytes, 5000, w));
        r.beginSequential();
        r.nextWindow();
        QCOMPARE(r.position(), qint64(5000 + w));
        QVERIFY(windowMatches(r, bytes, 5000 + w, w));
    }

    void endAndProgress()
    {
        CMemoryVolume volume(QByteArray(10000, 'x'));
        CDiskMappingPointer atStart(&volume, 0, 4096);
        QCOMPARE(atStart.progress(), qint64(0));
        QVERIFY(!atStart.atEnd());
        CDiskMappingPointer half(&volume, 5000, 4096);
        QCOMPARE(half.progress(), qint64(500));
        CDiskMappingPointer atLength(&volume, 10000, 4096);
        QCOMPARE(atLength.progress(), qint64(1000));
        QVERIFY(!atLength.atEnd());
        CDiskMappingPointer past(&volume, 10001, 4096);
        QVERIFY(past.atEnd());

        CMemoryVolume empty{QByteArray()};
        CDiskMappingPointer none(&empty, 0, 4096);
        QCOMPARE(none.length(), qint64(0));
        QCOMPARE(none.progress(), qint64(0));
        QVERIFY(!none.atEnd());
        QCOMPARE(none.pointer()[0], uint8_t(0));
    }

    void offsetsBeyondFourGiB()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sparse.img"));
        const qint64 marker = (qint64(1) << 32) + 512;
        {
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            QVERIFY(fd >= 0);
            const char text[] = "beyond four gigabytes";
            QCOMPARE(::pwrite(fd, text, sizeof text, marker), ssize_t(sizeof text));
            QCOMPARE(::ftruncate(fd, marker + 65536), 0);
            ::close(fd);
        }
        auto volume = CFileVolume::open(path);
        QVERIFY(volume);
        QCOMPARE(volume->length(), marker + 65536);
        CDiskMappingPointer r(volume.get(), marker, 8192);
        QCOMPARE(r.position(), marker);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.pointer())), QByteArray("beyond four gigabytes"));
    }

    // A lone bad sector costs one failed read in the first pass and the
    // rest of its stretch, never narrowed there: the window holds every byte
    // the read gave and no stale byte of an earlier window; the last pass
    // reads the stretch again and leaves the sector's own 512 bytes, at the
    // cost of one more failed read.
    void loneBadSectorIsSkippedThenNarrowed()
    {
        const quint32 w = 1024 * 1024;
        const QByteArray bytes = patterned(2 * w);
        CMemoryVolume volume(bytes);
        const qint64 badAt = w + 70000;
        volume.failRange(badAt, 10, EIO);
        std::atomic<int> failedReads{0};
        volume.setReadHook([&](int64_t offset, size_t length) {
            if (offset <= badAt && badAt < offset + static_cast<qint64>(length))
                ++failedReads;
        });
        CDiskMappingPointer r(&volume, 0, w);
        r.beginSequential();
        QVERIFY(r.scheduler().streams() > 1);
        // Fill the second half with the first window's bytes first.
        r.nextWindow();
        QCOMPARE(r.lastError(), EIO);
        QVERIFY(!r.deviceLost());
        QVERIFY2(failedReads.load() <= 2, qPrintable(QString::number(failedReads.load())));
        const qint64 sector = badAt / 512 * 512;
        const CUnreadableRanges skipped = r.unreadableRanges();
        // From where the read failed to the end of its stretch of the grid.
        QCOMPARE(skipped.ranges(), QVector<CUnreadableRanges::Range>({{sector, 2 * w - sector}}));
        for (qint64 i = 0; i < w; ++i) {
            const qint64 at = w + i;
            const uint8_t expected = skipped.touches(at, 1) ? 0 : static_cast<uint8_t>(bytes[static_cast<int>(at)]);
            if (r.pointer()[i] != expected)
                QFAIL(qPrintable(QStringLiteral("byte %1 is %2, expected %3").arg(at).arg(r.pointer()[i]).arg(expected)));
        }
        failedReads = 0;
        QByteArray late(bytes.size(), '\0');
        const qint64 recovered = r.lastPass(60000, {}, [&](int64_t offset, const uint8_t* data, int64_t length) {
            std::memcpy(late.data() + offset, data, static_cast<size_t>(length));
        });
        QCOMPARE(r.unreadableRanges().ranges(), QVector<CUnreadableRanges::Range>({{sector, 512}}));
        QCOMPARE(recovered, skipped.totalBytes() - 512);
        QCOMPARE(failedReads.load(), 1);
        for (const CUnreadableRanges::Range& g : skipped.ranges())
            for (qint64 at = g.offset; at < g.end(); ++at)
                if (late[static_cast<int>(at)] != (at >= sector && at < sector + 512 ? '\0' : bytes[static_cast<int>(at)]))
                    QFAIL(qPrintable(QStringLiteral("last pass byte %1").arg(at)));
    }

    // Scattered bad sectors, a bad band and a source cut short: every byte
    // outside the unreadable list is the disk's, every byte inside it a zero;
    // a band costs a few failed reads, not one per 64 KiB; the last pass
    // leaves exactly the failing sectors and hands over what it read. One
    // read in flight: with several, each stream that meets the band first in
    // its own piece narrows it on its own, and how many do depends on the
    // order the threads run in, so the count would not be the reader's alone.
    void failingSectorsAreSkippedThenNarrowed()
    {
        const qint64 piece = 1024 * 1024;
        const qint64 size = 24 * piece;
        const QByteArray bytes = patterned(static_cast<int>(size));
        CMemoryVolume volume(bytes);
        CUnreadableRanges failing; // in sectors
        auto fail = [&](qint64 at, qint64 length) {
            volume.failRange(at, length, EIO);
            failing.add(at / 512 * 512, (at + length + 511) / 512 * 512 - at / 512 * 512);
        };
        fail(piece + 1000, 10);
        fail(piece + 3000, 1);         // a second one close behind
        fail(3 * piece + 65536, 512);  // on a skip's edge
        fail(5 * piece - 100, 200);    // across two pieces
        fail(9 * piece + 512 * 7, 1);
        fail(9 * piece + 200 * 1024, 1);
        fail(12 * piece + 4096, 8 * piece); // a band over several pieces
        volume.cutAt(23 * piece + 4096);
        failing.add(23 * piece + 4096, piece - 4096);

        std::atomic<int> failedReads{0};
        volume.setReadHook([&](int64_t offset, size_t length) {
            if (failing.touches(offset, static_cast<int64_t>(length)) && offset < 23 * piece)
                ++failedReads;
        });
        CReadScheduler reader(&volume, 1, false, static_cast<uint32_t>(piece));
        QByteArray out(bytes.size(), '\x55');
        reader.read(reinterpret_cast<uint8_t*>(out.data()), 0, bytes.size());
        const CUnreadableRanges first = reader.unreadableRanges();
        for (const CUnreadableRanges::Range& r : failing.ranges())
            QCOMPARE(first.within(r.offset, r.length), QVector<CUnreadableRanges::Range>({r}));
        QCOMPARE(reader.unreadableBytes(), first.totalBytes());
        for (qint64 at = 0; at < size; ++at) {
            const char expected = first.touches(at, 1) ? '\0' : bytes[static_cast<int>(at)];
            if (out[static_cast<int>(at)] != expected)
                QFAIL(qPrintable(QStringLiteral("byte %1").arg(at)));
        }
        // 128 failed reads were the cost of the band in 64 KiB retries.
        QVERIFY2(failedReads.load() < 40, qPrintable(QString::number(failedReads.load())));
        QCOMPARE(reader.lastError(), EIO);
        QVERIFY(!reader.deviceLost());

        QByteArray again = out;
        const qint64 recovered = reader.lastPass(60000, {}, [&](int64_t offset, const uint8_t* data, int64_t length) {
            std::memcpy(again.data() + offset, data, static_cast<size_t>(length));
        });
        QCOMPARE(reader.unreadableRanges(), failing);
        QCOMPARE(recovered, first.totalBytes() - failing.totalBytes());
        for (const CUnreadableRanges::Range& r : first.ranges())
            for (qint64 at = r.offset; at < r.end(); ++at)
                if (again[static_cast<int>(at)] != (failing.touches(at, 1) ? '\0' : bytes[static_cast<int>(at)]))
                    QFAIL(qPrintable(QStringLiteral("last pass byte %1").arg(at)));
        for (const auto& s : reader.states())
            QVERIFY(s.second == CReadScheduler::State::Bad);

        // With no time left the list stays as the first reads left it.
        CReadScheduler hurried(&volume, 4, false, static_cast<uint32_t>(piece));
        hurried.read(reinterpret_cast<uint8_t*>(out.data()), 0, bytes.size());
        const CUnreadableRanges before = hurried.unreadableRanges();
        QCOMPARE(hurried.lastPass(0), qint64(0));
        QCOMPARE(hurried.unreadableRanges(), before);
    }

    // A disk that is unplugged mid-scan fails every read with EIO (not
    // ENODEV): after a few failures in a row the reader reads a sector it
    // read before, and that failing too, takes the disk as gone instead of
    // skipping through the rest of it. A bad band does not.
    void everyReadFailingIsADiskGone()
    {
        const quint32 w = 1024 * 1024;
        const QByteArray bytes = patterned(static_cast<int>(64 * w));
        for (const bool vanishes : {true, false}) {
            CMemoryVolume volume(bytes);
            std::atomic<int> reads{0};
            std::atomic<bool> gone{false};
            if (vanishes)
                volume.setReadHook([&](int64_t, size_t) {
                    if (++reads > 6)
                        gone = true;
                });
            else
                volume.failRange(8 * w, 40 * w, EIO);
            FailingAfterHook failing(volume, gone);
            CDiskMappingPointer r(&failing, 0, w);
            r.beginSequential();
            for (int i = 0; i < 64 && !r.deviceLost(); ++i)
                r.nextWindow();
            QCOMPARE(r.deviceLost(), vanishes);
            if (vanishes)
                QVERIFY2(r.scheduler().failedReads() <= 2 * CReadScheduler::kProbeAfterFailures,
                         qPrintable(QString::number(r.scheduler().failedReads())));
            else
                QCOMPARE(r.unreadableBytes(), qint64(40 * w));
        }
    }

    void vanishedDeviceIsReported()
    {
        const quint32 w = 65536;
        CMemoryVolume volume(patterned(4 * w));
        volume.failRange(2 * w, 2 * w, ENODEV);
        CDiskMappingPointer r(&volume, 0, w);
        r.beginSequential();
        r.nextWindow();
        QVERIFY(!r.deviceLost());
        r.nextWindow();
        QVERIFY(r.deviceLost());
        for (quint32 i = 0; i < w; ++i)
            QCOMPARE(r.pointer()[i], uint8_t(0));
    }

    void scheduledReadsTileTheStretchOnce()
    {
        const QByteArray bytes = patterned(3 * 1024 * 1024 + 5000);
        const qint64 from = 70000, length = bytes.size() - from - 3000;
        for (const bool spinning : {false, true}) {
            CMemoryVolume volume(bytes);
            volume.setRotational(spinning);
            ReadLog log;
            log.attach(volume);
            CReadScheduler reader(&volume, 4, volume.rotational(), 256 * 1024);
            QCOMPARE(reader.streams(), spinning ? 1 : 4);
            QByteArray out(static_cast<int>(length), '\x55');
            reader.read(reinterpret_cast<uint8_t*>(out.data()), from, length);
            QCOMPARE(out, bytes.mid(static_cast<int>(from), static_cast<int>(length)));
            // Every byte read once: in pieces on the volume's grid, or on a
            // spinning disk with one read, which only ever moves forward.
            QVERIFY(log.tiles(from, length));
            QCOMPARE(log.reads.size(), size_t(spinning ? 1 : 13));
            QCOMPARE(log.reads.front().second, spinning ? length : qint64(256 * 1024 - from));
            QCOMPARE(reader.unreadableBytes(), qint64(0));
        }

        // The scan's reader chooses the order from the volume.
        CMemoryVolume spinning(bytes);
        spinning.setRotational(true);
        ReadLog log;
        log.attach(spinning);
        CDiskMappingPointer r(&spinning, 0, 512 * 1024);
        r.beginSequential();
        QVERIFY(r.scheduler().ascending());
        while (!r.atEnd())
            r.nextWindow();
        QVERIFY(std::is_sorted(log.reads.begin(), log.reads.end()));
        QVERIFY(log.tiles(0, bytes.size()));
    }

    void failuresInReadsInFlightStayTheirs()
    {
        const qint64 piece = 256 * 1024;
        const QByteArray bytes = patterned(static_cast<int>(8 * piece));
        QByteArray out(bytes.size(), '\x55');
        // A device that goes in one read in flight is remembered, and its
        // lost stretch is counted; what other reads had is kept.
        CMemoryVolume going(bytes);
        going.failRange(4 * piece, 4 * piece, ENODEV);
        CReadScheduler gone(&going, 4, false, static_cast<uint32_t>(piece));
        out.fill('\x55');
        gone.read(reinterpret_cast<uint8_t*>(out.data()), 0, bytes.size());
        QVERIFY(gone.deviceLost());
        QCOMPARE(gone.lastError(), ENODEV);
        QCOMPARE(out.mid(static_cast<int>(4 * piece)), QByteArray(static_cast<int>(4 * piece), '\0'));
        QVERIFY(gone.unreadableBytes() >= 4 * piece);
        for (qint64 at = 0; at < 4 * piece; ++at) {
            const char c = out[static_cast<int>(at)];
            QVERIFY(c == bytes[static_cast<int>(at)] || c == '\0');
        }
    }

    // Stretches read once go around the page cache where none of them is
    // cached: whatever the offset, length and memory alignment, the bytes
    // are those an ordinary read gives, and the read leaves the cache as it
    // was. Checked on a file system of the build tree (direct reads need a
    // real one).
    void readsOnceAroundTheCacheGiveTheSameBytes()
    {
        QTemporaryDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/direct-XXXXXX"));
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("disk.img"));
        const QByteArray bytes = patterned(5 * 1024 * 1024 + 777);
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(bytes), qint64(bytes.size()));
            QVERIFY(f.flush());
            QCOMPARE(::fsync(f.handle()), 0);
        }
        const QByteArray encoded = QFile::encodeName(path);
        const int probe = ::open(encoded.constData(), O_RDONLY | O_DIRECT);
        const bool directWorks = probe >= 0;
        if (probe >= 0)
            ::close(probe);
        const int fd = ::open(encoded.constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        auto evict = [&]() { ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED); };
        auto cachedPages = [&]() {
            void* view = ::mmap(nullptr, static_cast<size_t>(bytes.size()), PROT_READ, MAP_SHARED, fd, 0);
            std::vector<unsigned char> pages(static_cast<size_t>(bytes.size() + 4095) / 4096);
            const bool ok = view != MAP_FAILED && ::mincore(view, static_cast<size_t>(bytes.size()), pages.data()) == 0;
            if (view != MAP_FAILED)
                ::munmap(view, static_cast<size_t>(bytes.size()));
            return ok ? std::count_if(pages.begin(), pages.end(), [](unsigned char p) { return p & 1; }) : -1;
        };

        auto volume = CFileVolume::open(path);
        QVERIFY(volume);
        // Memory on the page grid plus a skew, so that some stretches are
        // aligned as direct reads want and others are not.
        CWindowBuffer memory(3 * 1024 * 1024);
        const qint64 offsets[] = {0, 1, 511, 4096, 4097, 1024 * 1024 + 3, bytes.size() - 9000};
        const qint64 lengths[] = {1, 4095, 8192, 1024 * 1024 + 5, 2 * 1024 * 1024 + 4096};
        for (qint64 offset : offsets) {
            for (qint64 length : lengths) {
                for (qint64 skew : {offset % 4096, qint64(0), qint64(1)}) {
                    evict();
                    uint8_t* out = memory.data() + skew;
                    std::memset(out, 0xEE, static_cast<size_t>(length));
                    const IVolume::ReadResult r = volume->readOnce(offset, out, static_cast<size_t>(length));
                    const qint64 expected = std::min(length, bytes.size() - offset);
                    QCOMPARE(r.error, 0);
                    QCOMPARE(r.bytes, expected);
                    QVERIFY2(std::memcmp(out, bytes.constData() + offset, static_cast<size_t>(expected)) == 0,
                             qPrintable(QStringLiteral("offset %1 length %2 skew %3").arg(offset).arg(length).arg(skew)));
                }
            }
        }
        // A stretch of the middle, cold and aligned, is read from the device
        // and leaves the cache as it was; a cached one is read as before.
        evict();
        const qint64 at = 1024 * 1024;
        QCOMPARE(volume->readOnce(at, memory.data(), 2 * 1024 * 1024).bytes, qint64(2 * 1024 * 1024));
        if (directWorks) {
            QCOMPARE(cachedPages(), qint64(0));
            QVERIFY(!volume->cached(at, 2 * 1024 * 1024));
        }
        QCOMPARE(volume->read(0, memory.data(), 3 * 1024 * 1024).bytes, qint64(3 * 1024 * 1024));
        QVERIFY(volume->cached(at, 2 * 1024 * 1024));
        QCOMPARE(volume->readOnce(at, memory.data(), 2 * 1024 * 1024).bytes, qint64(2 * 1024 * 1024));
        QVERIFY(std::memcmp(memory.data(), bytes.constData() + at, 2 * 1024 * 1024) == 0);
        ::close(fd);
    }

    // A window the cache holds is read in place through a view; when the
    // source is cut short while the view is in use, what is gone reads as
    // zeros and is counted, as an unreadable read is, instead of killing
    // the program with SIGBUS.
    void viewsOfASourceCutShortReadZerosAndCountThem()
    {
        QTemporaryDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/view-XXXXXX"));
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("disk.img"));
        const QByteArray bytes = patterned(4 * 1024 * 1024);
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(bytes), qint64(bytes.size()));
        }
        auto volume = CFileVolume::open(path);
        QVERIFY(volume);
        QVERIFY(volume->read(0, CWindowBuffer(bytes.size()).data(), static_cast<size_t>(bytes.size())).bytes
                == bytes.size()); // in the cache
        {
            // A stretch the cache holds in the main is viewed, the pages it
            // lost read in; one it has lost in the main is read instead.
            const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
            QVERIFY(fd >= 0);
            QCOMPARE(::fsync(fd), 0); // dirty pages are not dropped
            // Three quarters back in the cache, without readahead.
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
            CWindowBuffer some(3 * 1024 * 1024);
            QCOMPARE(::pread(fd, some.data(), some.size(), 0), ssize_t(some.size()));
            if (!volume->cached(bytes.size() - 4096, 4096)) {
                const uint8_t* most = volume->mapView(0, bytes.size());
                QVERIFY(most);
                QVERIFY(std::memcmp(most, bytes.constData(), static_cast<size_t>(bytes.size())) == 0);
                QCOMPARE(volume->releaseView(most, bytes.size()), qint64(0));
            }
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            if (!volume->cached(0, 4096)) // the kernel did drop them
                QVERIFY(!volume->mapView(0, bytes.size()));
            ::close(fd);
            QCOMPARE(volume->read(0, CWindowBuffer(bytes.size()).data(), static_cast<size_t>(bytes.size())).bytes,
                     bytes.size());
        }
        const uint8_t* view = volume->mapView(0, bytes.size());
        if (!view)
            QSKIP("this file system gives no views of its files");
        QVERIFY(std::memcmp(view, bytes.constData(), static_cast<size_t>(bytes.size())) == 0);
        QVERIFY(!volume->mapView(100, 4096)); // off the grid
        // Past the end of the volume a view reads zeros, as reads do, and
        // none of them counts as lost.
        for (const qint64 from : {qint64(4096), qint64(bytes.size()), qint64(bytes.size()) + 8192}) {
            const uint8_t* tail = volume->mapView(from, bytes.size());
            QVERIFY(tail);
            const qint64 inside = std::max<qint64>(0, bytes.size() - from);
            QVERIFY(std::memcmp(tail, bytes.constData() + std::min<qint64>(from, bytes.size()), static_cast<size_t>(inside)) == 0);
            const QByteArray zeros(static_cast<int>(bytes.size() - inside), '\0');
            QVERIFY(std::memcmp(tail + inside, zeros.constData(), static_cast<size_t>(zeros.size())) == 0);
            QCOMPARE(volume->releaseView(tail, bytes.size()), qint64(0));
        }

        QVERIFY(QFile::resize(path, 1024 * 1024));
        QVERIFY(std::memcmp(view, bytes.constData(), 1024 * 1024) == 0);
        bool zeros = true;
        for (qint64 at = 1024 * 1024; at < bytes.size(); at += 512)
            zeros = zeros && view[at] == 0;
        QVERIFY(zeros);
        QCOMPARE(volume->viewLostBytes(view), qint64(3 * 1024 * 1024));
        QCOMPARE(volume->releaseView(view, bytes.size()), qint64(3 * 1024 * 1024));

        // Through the window reader: the cut is counted as unreadable.
        QVERIFY(QFile::resize(path, bytes.size()));
        auto again = CFileVolume::open(path);
        QVERIFY(again);
        CWindowBuffer warm(bytes.size());
        QCOMPARE(again->read(0, warm.data(), static_cast<size_t>(bytes.size())).bytes, qint64(bytes.size()));
        CDiskMappingPointer r(again.get(), 0, 2 * 1024 * 1024);
        QVERIFY(QFile::resize(path, 1024 * 1024));
        QVERIFY(std::memcmp(r.pointer(), bytes.constData(), 1024 * 1024) == 0);
        const QByteArray gone(1024 * 1024, '\0');
        QVERIFY(std::memcmp(r.pointer() + 1024 * 1024, gone.constData(), static_cast<size_t>(gone.size())) == 0);
        QCOMPARE(r.unreadableBytes(), qint64(1024 * 1024));
    }

    void sourcesAreReadOnlyAndOfTheRightKind()
    {
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("disk.img"));
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(12345, 'a'));
        f.close();

        auto volume = CFileVolume::open(image);
        QVERIFY(volume);
        QCOMPARE(volume->accessMode(), O_RDONLY);
        QCOMPARE(volume->length(), qint64(12345));
        QVERIFY(!volume->isBlockDevice());

        CFileVolume::OpenError error;
        QVERIFY(!CFileVolume::open(dir.filePath(QStringLiteral("missing.img")), &error));
        QCOMPARE(error.error, ENOENT);
        QVERIFY(error.reason.contains(QStringLiteral("missing.img")));

        // A FIFO would block a plain open until a writer comes: refused at once.
        const QString fifo = dir.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(!CFileVolume::open(fifo, &error));
        QVERIFY(error.reason.contains(QStringLiteral("neither a block device nor a disk image")));

        QVERIFY(!CFileVolume::open(dir.path(), &error));
        QVERIFY(!CFileVolume::open(QStringLiteral("/dev/null"), &error));

        // UTF-8 names reach the file system unchanged.
        const QString chinese = dir.filePath(QStringLiteral("磁盘镜像.img"));
        QVERIFY(QFile::copy(image, chinese));
        QVERIFY(CFileVolume::open(chinese));
    }
};

QTEST_GUILESS_MAIN(TestVolumeReader)
#include "tst_volume_reader.moc"
