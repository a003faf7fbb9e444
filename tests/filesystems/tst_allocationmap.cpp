// The allocation maps: what the FAT and $Bitmap say about each cluster, byte
// ranges across partial clusters, tables in several runs, unreadable table
// blocks, maps placed at partition offsets, and many threads asking at once.

#include "FatImageBuilder.h"

#include "disk/CMemoryVolume.h"
#include "filesystems/CAllocationMapSet.h"
#include "filesystems/CFatAllocationMap.h"
#include "filesystems/CNtfsAllocationMap.h"

#include <QtTest>

#include <cerrno>
#include <random>
#include <thread>

class TestAllocationMap : public QObject
{
    Q_OBJECT
private slots:
    void fatEntriesAndByteRanges();
    void ntfsBitmapInRunsOutOfOrder();
    void mapsAtPartitionOffsets();
    void concurrentQuestionsAgree();
};

void TestAllocationMap::fatEntriesAndByteRanges()
{
    FatBuilder f;
    f.start();
    f.setFat(10, 11);
    f.setFat(11, 0x0FFFFFFF);
    f.setFat(13, 0x0FFFFFF7);        // bad: not free either
    f.setFat(14, 0xF0000000);        // reserved upper bits only: free
    f.setFat(f.clusters + 1, 0x0FFFFFFF); // the last cluster
    auto volume = std::make_shared<CMemoryVolume>(f.image);
    CFat32Scanner::Geometry g;
    QVERIFY(CFat32Scanner::decodeBootSector(reinterpret_cast<const uint8_t*>(f.image.constData()), 512, g));
    CFatAllocationMap map(volume, g);

    const int64_t c = 4096;
    QVERIFY(map.inUse(f.clusterOffset(2)));          // the root
    QVERIFY(!map.inUse(f.clusterOffset(3)));
    QVERIFY(map.inUse(f.clusterOffset(10)));
    QVERIFY(map.inUse(f.clusterOffset(11) + c - 1));
    QVERIFY(!map.inUse(f.clusterOffset(12)));
    QVERIFY(map.inUse(f.clusterOffset(13)));
    QVERIFY(!map.inUse(f.clusterOffset(14)));
    QVERIFY(map.inUse(f.clusterOffset(f.clusters + 1)));
    // The boot sector and the FATs are no cluster; nor is anything past the
    // volume or before it.
    QVERIFY(!map.inUse(0));
    QVERIFY(!map.inUse(f.clusterOffset(2) - 1));
    QVERIFY(!map.inUse(f.image.size()));
    QVERIFY(!map.inUse(-1));

    // Ranges: partial clusters at both ends, the whole volume, nothing.
    QCOMPARE(map.bytesInUse(f.clusterOffset(9) + 100, 2 * c), c + 100); // 10 whole, 11's first 100
    QCOMPARE(map.bytesInUse(f.clusterOffset(10) + 100, 50), 50);
    QCOMPARE(map.bytesInUse(f.clusterOffset(11) + 100, c), c - 100);
    QCOMPARE(map.bytesInUse(0, f.image.size()), 5 * c); // root, 10, 11, 13, last
    QCOMPARE(map.bytesInUse(0, std::numeric_limits<int64_t>::max()), 5 * c);
    QCOMPARE(map.bytesInUse(f.clusterOffset(10), 0), 0);
    QCOMPARE(map.bytesInUse(f.clusterOffset(10), -5), 0);

    // A FAT that cannot be read marks nothing in use.
    auto failing = std::make_shared<CMemoryVolume>(f.image);
    failing->failRange(32 * 512, 512, EIO);
    CFatAllocationMap unread(failing, g);
    QVERIFY(!unread.inUse(f.clusterOffset(10)));
    QVERIFY(!unread.inUse(f.clusterOffset(2)));
}

void TestAllocationMap::ntfsBitmapInRunsOutOfOrder()
{
    // A 1 MiB volume of 4 KiB clusters (256 of them) whose $Bitmap (32
    // bytes) is stored as two runs: its second half lies before its first.
    const int64_t c = 4096;
    QByteArray image(1024 * 1024, '\0');
    const int64_t firstHalf = 20 * c;
    const int64_t secondHalf = 10 * c;
    image[int(firstHalf)] = char(0x81);          // clusters 0 and 7
    image[int(firstHalf + 15)] = char(0xFF);     // clusters 120-127
    image[int(secondHalf)] = char(0x02);         // cluster 129
    image[int(secondHalf + 15)] = char(0x80);    // cluster 255
    image[int(secondHalf + 16)] = char(0xFF);    // slack past the real size
    auto volume = std::make_shared<CMemoryVolume>(image);
    CNtfsAllocationMap map(volume, {{firstHalf, 16}, {secondHalf, c}}, 32, c, 256);

    QVERIFY(map.inUse(0));
    QVERIFY(!map.inUse(c));
    QVERIFY(map.inUse(7 * c + 5));
    QVERIFY(map.inUse(129 * c));
    QVERIFY(!map.inUse(128 * c));
    QVERIFY(map.inUse(255 * c + c - 1));
    QVERIFY(!map.inUse(256 * c)); // past the volume
    QCOMPARE(map.bytesInUse(0, image.size()), (2 + 8 + 1 + 1) * c);
    QCOMPARE(map.bytesInUse(119 * c + 1, 10 * c), 8 * c + 1); // 120-127, and 129's first byte
    QCOMPARE(map.bytesInUse(123 * c + 7, 3), 3);

    // A bitmap shorter than the volume: the clusters it does not cover are
    // free; one that claims more clusters than the volume holds is cut.
    CNtfsAllocationMap shortMap(volume, {{firstHalf, 16}}, 16, c, 256);
    QVERIFY(!shortMap.inUse(255 * c));
    QCOMPARE(shortMap.bytesInUse(0, image.size()), 10 * c);
    CNtfsAllocationMap cut(volume, {{firstHalf, 16}, {secondHalf, c}}, 32, c, 128);
    QCOMPARE(cut.bytesInUse(0, image.size()), 10 * c);
}

void TestAllocationMap::mapsAtPartitionOffsets()
{
    // Two FAT32 volumes one after the other on a source, the second at an
    // odd sector (a partition at sector 63 style offset).
    FatBuilder a;
    a.start();
    a.setFat(5, 0x0FFFFFFF);
    FatBuilder b;
    b.start();
    b.setFat(7, 0x0FFFFFFF);
    const int64_t second = a.image.size() + 63 * 512;
    QByteArray source = a.image + QByteArray(63 * 512, '\0') + b.image;
    auto volume = std::make_shared<CMemoryVolume>(source);
    auto view = std::make_shared<CMemoryVolume>(b.image);
    CFat32Scanner::Geometry g;
    QVERIFY(CFat32Scanner::decodeBootSector(reinterpret_cast<const uint8_t*>(a.image.constData()), 512, g));

    CAllocationMapSet set;
    QVERIFY(set.add(0, a.image.size(), std::make_shared<CFatAllocationMap>(volume, g)));
    QVERIFY(set.add(second, b.image.size(), std::make_shared<CFatAllocationMap>(view, g)));
    // One byte has one owner.
    QVERIFY(!set.add(second - 512, 1024, std::make_shared<CFatAllocationMap>(view, g)));
    QVERIFY(!set.add(10, 10, std::make_shared<CFatAllocationMap>(view, g)));

    QVERIFY(set.inUse(a.clusterOffset(5)));
    QVERIFY(!set.inUse(a.clusterOffset(7)));
    QVERIFY(set.inUse(second + b.clusterOffset(7)));
    QVERIFY(!set.inUse(second + b.clusterOffset(5)));
    QVERIFY(!set.inUse(a.image.size() + 512)); // the gap
    QVERIFY(!set.inUse(source.size() + 4096));
    // Root and cluster 5 of the first, root and cluster 7 of the second.
    QCOMPARE(set.bytesInUse(0, source.size()), 4 * 4096);
    QCOMPARE(set.bytesInUse(a.clusterOffset(5) + 4000, second + b.clusterOffset(2) + 10 - a.clusterOffset(5) - 4000),
             96 + 10);
}

void TestAllocationMap::concurrentQuestionsAgree()
{
    // A FAT larger than the cache, every third cluster in use: threads
    // asking at once each see the table as it is.
    FatBuilder f;
    f.sectorsPerFat = 2048; // 1 MiB of FAT, more than the cache holds
    f.sectorsPerCluster = 1;
    f.clusters = 200000;
    f.start();
    for (uint32_t n = 3; n < f.clusters + 2; n += 3)
        f.setFat(n, 0x0FFFFFFF);
    // Only the FATs are held; the data area reads as zeros.
    const int64_t length = f.image.size();
    f.image.truncate(int(f.clusterOffset(2)));
    auto volume = std::make_shared<CMemoryVolume>(f.image, length);
    CFat32Scanner::Geometry g;
    QVERIFY(CFat32Scanner::decodeBootSector(reinterpret_cast<const uint8_t*>(f.image.constData()), 512, g));
    const CFatAllocationMap map(volume, g);

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t]() {
            std::mt19937 rng(t);
            for (int i = 0; i < 20000; ++i) {
                const uint32_t n = 2 + rng() % f.clusters;
                const bool expected = n == 2 || n % 3 == 0;
                if (map.inUse(f.clusterOffset(n) + rng() % 512) != expected)
                    ++wrong;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    QCOMPARE(wrong.load(), 0);
    QCOMPARE(map.bytesInUse(0, length), (1 + (f.clusters + 1) / 3) * 512LL);
}

QTEST_APPLESS_MAIN(TestAllocationMap)
#include "tst_allocationmap.moc"
