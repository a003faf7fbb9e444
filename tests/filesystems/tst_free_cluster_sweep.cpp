// The sweep of free clusters on a disk that stops answering: it gives up
// after a few failed windows instead of spending a failing disk's retries
// on every window of the volume. And the free clusters met in the carving
// pass's windows instead: each once, whole, wherever the windows cut them.
#include "disk/CMemoryVolume.h"
#include "disk/IVolume.h"
#include "filesystems/CFreeClusterObserver.h"
#include "filesystems/CFreeClusterSweep.h"

#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <random>

namespace {

// A volume of `length` bytes whose every read fails with `error`.
class DeadVolume : public IVolume
{
public:
    DeadVolume(int64_t length, int error) : m_length(length), m_error(error) {}
    ReadResult read(int64_t, void*, size_t) override
    {
        ++reads;
        ReadResult r;
        r.error = m_error;
        return r;
    }
    int64_t length() const override { return m_length; }
    QString name() const override { return QStringLiteral("dead"); }
    std::atomic<int> reads{0};

private:
    int64_t m_length;
    int m_error;
};

} // namespace

class TestFreeClusterSweep : public QObject
{
    Q_OBJECT

private slots:
    void failingDiskEndsTheSweep()
    {
        CFreeClusterSweep::Heap heap;
        heap.offset = 1 << 20;
        heap.clusterBytes = 4096;
        heap.count = (1u << 30) / 4096; // 128 windows
        for (const int error : {EIO, ENODEV}) {
            DeadVolume volume(heap.offset + (int64_t(1) << 30), error);
            int visited = 0;
            const int64_t read = CFreeClusterSweep::sweep(
                &volume, heap, [](uint32_t) { return true; }, {}, [&](uint32_t, const uint8_t*, size_t) { ++visited; });
            QCOMPARE(read, int64_t(0));
            QCOMPARE(visited, 0);
            QVERIFY2(volume.reads.load() <= (error == ENODEV ? 1 : 8), qPrintable(QString::number(volume.reads.load())));
        }
    }

    // Windows of every length, some cutting clusters at either edge, some
    // overlapping the one before, some leaving out stretches in use, as
    // the carving pass's pieces do: the observer visits exactly the free
    // clusters the sweep visits, each once and with its own bytes.
    void windowsShowEveryFreeClusterOnce()
    {
        const uint32_t clusterBytes = 2048;
        const uint32_t count = 600;
        const int64_t heapOffset = 3 * 512; // no window grid lines up with it
        QByteArray bytes(static_cast<int>(heapOffset + int64_t(count) * clusterBytes + 700), '\0');
        for (uint32_t c = 2; c < count + 2; ++c) {
            const int64_t at = heapOffset + int64_t(c - 2) * clusterBytes;
            std::memcpy(bytes.data() + at, &c, sizeof c);
            std::memcpy(bytes.data() + at + clusterBytes - sizeof c, &c, sizeof c);
        }
        CMemoryVolume volume(bytes);
        CFreeClusterSweep::Heap heap;
        heap.offset = heapOffset;
        heap.clusterBytes = clusterBytes;
        heap.count = count;
        auto clusterFree = [](uint32_t c) { return c % 7 != 0 && (c < 200 || c > 260); };
        // The cluster's own bytes: its number at both ends.
        auto own = [&](uint32_t c, const uint8_t* b, size_t length) {
            uint32_t head = 0;
            uint32_t tail = 0;
            if (length < clusterBytes)
                return false;
            std::memcpy(&head, b, sizeof head);
            std::memcpy(&tail, b + clusterBytes - sizeof tail, sizeof tail);
            return head == c && tail == c;
        };
        std::map<uint32_t, int> swept;
        CFreeClusterSweep::sweep(&volume, heap, clusterFree, {}, [&](uint32_t c, const uint8_t* b, size_t length) {
            QVERIFY(own(c, b, length));
            ++swept[c];
        });
        QCOMPARE(int(swept.size()), int(count - count / 7 - 61 + 9));

        std::mt19937 random(7);
        for (int round = 0; round < 20; ++round) {
            std::map<uint32_t, int> seen;
            bool whole = true;
            CFreeClusterObserver observer(&volume, heap, clusterFree, [&](uint32_t c, const uint8_t* b, size_t length) {
                whole = whole && own(c, b, length);
                ++seen[c];
            });
            const int64_t end = volume.length();
            int64_t at = 0;
            while (at < end) {
                const int64_t length = std::min<int64_t>(end - at, 1 + random() % (5 * clusterBytes));
                // Skip a stretch of the clusters in use, as a run ends there.
                const int64_t inUse = heapOffset + (200 - 2) * int64_t(clusterBytes);
                if (round % 2 == 0 && at >= inUse && at < inUse + 50 * int64_t(clusterBytes)) {
                    at += clusterBytes;
                    continue;
                }
                observer.observeWindow(at, reinterpret_cast<const uint8_t*>(bytes.constData()) + at, length);
                // Now and then the next window starts a little earlier.
                const int64_t back = random() % 4 == 0 ? std::min<int64_t>(length - 1, random() % 1000) : 0;
                at += length - back;
            }
            QVERIFY(whole);
            QCOMPARE(seen, swept);
        }
    }
};

QTEST_GUILESS_MAIN(TestFreeClusterSweep)
#include "tst_free_cluster_sweep.moc"
