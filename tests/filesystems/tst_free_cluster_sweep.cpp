// The sweep of free clusters on a disk that stops answering: it gives up
// after a few failed windows instead of spending a failing disk's retries
// on every window of the volume.
#include "disk/IVolume.h"
#include "filesystems/CFreeClusterSweep.h"

#include <QtTest>

#include <atomic>
#include <cerrno>

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
};

QTEST_GUILESS_MAIN(TestFreeClusterSweep)
#include "tst_free_cluster_sweep.moc"
