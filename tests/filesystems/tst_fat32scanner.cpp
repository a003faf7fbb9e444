#include "FatImageBuilder.h"

#include "disk/CMemoryVolume.h"
#include "filesystems/CFat32Scanner.h"
#include "scan/CFileNode.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <QtTest>

#include <algorithm>
#include <functional>

namespace {

using Finding = QPair<long long, int>;

QList<Finding> scanImage(const QByteArray& image, std::function<void(CFat32Scanner&)> onFinding = {})
{
    CMemoryVolume volume(image);
    CNotifyFileNode relay;
    CFat32Scanner scanner(&volume, &relay);
    QList<Finding> found;
    QObject::connect(&relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem),
                     [&](long long sector, int code) {
                         found.append({sector, code});
                         if (onFinding)
                             onFinding(scanner);
                     });
    scanner.scan();
    return found;
}

QList<CFileNode> deletedRecords(const QByteArray& image)
{
    CMemoryVolume volume(image);
    CNotifyFileNode relay;
    CFat32Scanner scanner(&volume, &relay);
    QList<CFileNode> found;
    QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem),
                     [&](const CFileNode& n) { found.append(n); });
    scanner.scan();
    return found;
}

// Marks the short entry `index` of `dir`, and the `pieces` long-name entries
// before it, deleted.
void markDeleted(FatBuilder& f, uint32_t dir, int index, int pieces = 0)
{
    for (int k = index - pieces; k <= index; ++k)
        f.image[int(f.clusterOffset(dir) + k * 32)] = char(0xE5);
}

void setSize(FatBuilder& f, uint32_t dir, int index, uint32_t size)
{
    put32(f.image, f.clusterOffset(dir) + index * 32 + 28, size);
}

} // namespace

class TestFat32Scanner : public QObject
{
    Q_OBJECT
private slots:
    void rootEntriesAndNames();
    void treeIsWalkedLevelByLevel();
    void rootCountsHiddenEntriesAndEndsOnGarbage();
    void scatteredDirectoryClustersAreAllRead();
    void damagedChainsAndCyclesEndTheWalk();
    void geometry();
    void stopDuringTheWalkEmitsNothingMore();
    void deletedEntriesNamesAndData();
    void deletedDirectoriesAndHostileEntries();
    void deletedLongNamesAcrossClustersAndTypesFromBytes();
};

void TestFat32Scanner::rootEntriesAndNames()
{
    FatBuilder f;
    f.start();
    f.entry(2, 0, "TAMSEL     ", 0x08, 0); // volume label
    f.entry(2, 1, "REPORT  PDF", 0x20, 100);
    f.entry(2, 2, "READONLYPDF", 0x21, 101);                       // any attribute bits but 0x08/0x10
    f.entry(2, 3, "SYSTEM  PDF", 0x06, 111);                       // hidden + system, archive cleared
    f.entry(2, 20, "\xE5OST    DOC", 0x20, 102);
    f.longEntry(2, 4, "Budget.xlsx", "BUDGET~1XLS", 103);         // entries 4-5
    f.entry(2, 6, "BUDGET~2XLS", 0x20, 104);                       // no long name
    const int s = f.longName(2, 7, "Sheet.xlsx", 0x11);            // wrong checksum
    f.entry(2, s, "SHEET~1 XLS", 0x20, 105);
    f.longEntry(2, s + 1, "book.odt", "BOOK    ODT", 106);
    f.entry(2, s + 3, "LETTER  DOT", 0x20, 107);
    f.entry(2, s + 4, "NOTES   PDF", 0x20, 108, 0x18);              // lower-case flags
    f.entry(2, s + 5, "EMPTY   PDF", 0x20, 0);                      // no cluster
    f.entry(2, s + 6, "FAR     PDF", 0x20, 90000);                  // past the volume
    f.longEntry(2, s + 7, QStringLiteral("Jahresbericht für 2026.docx"), "JAHRES~1DOC", 109);
    f.entry(2, s + 11, "NOTES   TXT", 0x20, 110);

    const QList<Finding> expected = {
        {2816, 5},                    // 32 + 2 x 1000 + 98 x 8
        {f.sectorOf(101), 5},
        {f.sectorOf(103), 8},         // the long name decides: XLSX
        {f.sectorOf(104), 3},         // short name only: XLS
        {f.sectorOf(105), 3},         // long name of another entry: ignored
        {f.sectorOf(106), 100},       // a ZIP under another name
        {f.sectorOf(107), 100},       // a compound document template
        {f.sectorOf(108), 5},
        {f.sectorOf(109), 6},
        {f.sectorOf(111), 5},
    };
    QList<Finding> found = scanImage(f.image);
    std::sort(found.begin(), found.end());
    QCOMPARE(found, expected);
}

void TestFat32Scanner::treeIsWalkedLevelByLevel()
{
    FatBuilder f;
    f.start();
    for (uint32_t c : {10u, 11u, 12u, 13u})
        f.setFat(c, 0x0FFFFFFF);
    f.entry(2, 0, "A          ", 0x10, 10);
    f.entry(2, 1, "TOP     PDF", 0x20, 100);
    f.entry(2, 2, "HIDDEN     ", 0x17, 13); // hidden, system, read-only: entered all the same
    f.entry(2, 3, "LABEL      ", 0x18, 14); // a label with the directory bit: not entered
    f.entry(10, 0, ".          ", 0x10, 10);
    f.entry(10, 1, "..         ", 0x10, 0);
    f.entry(10, 2, "B          ", 0x10, 11);
    f.entry(10, 3, "ONE     DOC", 0x20, 101);
    f.entry(11, 0, ".          ", 0x10, 11);
    f.entry(11, 1, "..         ", 0x10, 10);
    f.entry(11, 2, "C          ", 0x10, 12);
    f.entry(12, 0, ".          ", 0x10, 12);
    f.entry(12, 1, "..         ", 0x10, 11);
    f.longEntry(12, 2, "deep.pptx", "DEEP    PPT", 102);
    f.entry(13, 0, "SECRET  PDF", 0x20, 103);
    f.setFat(14, 0x0FFFFFFF);
    f.entry(14, 0, "LABELLEDPDF", 0x20, 104);

    const QList<Finding> expected = {
        {f.sectorOf(100), 5}, {f.sectorOf(101), 2}, {f.sectorOf(103), 5}, {f.sectorOf(102), 7}};
    QCOMPARE(scanImage(f.image), expected);
}

void TestFat32Scanner::rootCountsHiddenEntriesAndEndsOnGarbage()
{
    FatBuilder f;
    f.start();
    // The root spans clusters 2 and 3. A hidden entry is a file like any
    // other; a name no formatter writes ends the root's cluster (2 only).
    f.setFat(2, 3);
    f.setFat(3, 0x0FFFFFFF);
    f.setFat(20, 0x0FFFFFFF);
    f.entry(2, 0, "SUB        ", 0x10, 20);
    f.entry(2, 1, "HIDDEN  PDF", 0x02, 99);
    f.entry(2, 2, "AFTER   PDF", 0x20, 100);
    f.entry(2, 3, "?BAD    SYS", 0x20, 0);
    f.entry(2, 4, "LOST    PDF", 0x20, 105);
    f.entry(3, 0, "NEXT    PDF", 0x20, 101);
    f.entry(20, 0, "HIDDEN  SYS", 0x02, 0);
    f.entry(20, 1, "AFTER   PDF", 0x20, 102);
    const QList<Finding> expected = {
        {f.sectorOf(99), 5}, {f.sectorOf(100), 5}, {f.sectorOf(101), 5}, {f.sectorOf(102), 5}};
    QCOMPARE(scanImage(f.image), expected);
}

void TestFat32Scanner::scatteredDirectoryClustersAreAllRead()
{
    FatBuilder f;
    f.start();
    f.entry(2, 0, "SUB        ", 0x10, 50);
    f.setFat(50, 80);
    f.setFat(80, 0xF0000000 | 60); // reserved upper bits are ignored
    f.setFat(60, 0x0FFFFFF8);       // any of the end values ends the chain
    f.entry(50, 0, "FIRST   PDF", 0x20, 100);
    f.entry(80, 0, "SECOND  PDF", 0x20, 101);
    f.entry(80, 1, QByteArray(11, '\0').constData(), 0, 0); // end of entries in this cluster...
    f.entry(80, 2, "STALE   PDF", 0x20, 104);
    f.entry(60, 0, "THIRD   PDF", 0x20, 102);    // ... the next cluster is still read
    const QList<Finding> expected = {{f.sectorOf(100), 5}, {f.sectorOf(101), 5}, {f.sectorOf(102), 5}};
    QCOMPARE(scanImage(f.image), expected);
}

void TestFat32Scanner::damagedChainsAndCyclesEndTheWalk()
{
    // Each of these chains ends after the clusters listed before the fault.
    struct Case
    {
        const char* what;
        uint32_t nextOf51;
    };
    const Case cases[] = {
        {"loop", 50},
        {"self", 51},
        {"free", 0},
        {"bad", 0x0FFFFFF7},
        {"past the volume", 5000},
        {"past the FAT", 0x0FFFFFF0},
    };
    for (const Case& c : cases) {
        FatBuilder f;
        f.start();
        f.entry(2, 0, "SUB        ", 0x10, 50);
        f.setFat(50, 51);
        f.setFat(51, c.nextOf51);
        f.entry(50, 0, "ONE     PDF", 0x20, 100);
        f.entry(51, 0, "TWO     PDF", 0x20, 101);
        const QList<Finding> expected = {{f.sectorOf(100), 5}, {f.sectorOf(101), 5}};
        QVERIFY2(scanImage(f.image) == expected, c.what);
    }

    // A directory that contains itself, and one that leads back to the
    // root: each is read once.
    FatBuilder f;
    f.start();
    f.setFat(30, 0x0FFFFFFF);
    f.setFat(31, 0x0FFFFFFF);
    f.entry(2, 0, "LOOP       ", 0x10, 30);
    f.entry(30, 0, "SELF       ", 0x10, 30);
    f.entry(30, 1, "BACK       ", 0x10, 2);
    f.entry(30, 2, "DOWN       ", 0x10, 31);
    f.entry(30, 3, "IN      XLS", 0x20, 100);
    f.entry(31, 0, "UP         ", 0x10, 30);
    f.entry(31, 1, "ROOT       ", 0x10, 2);
    f.entry(31, 2, "DEEPER  PPT", 0x20, 101);
    const QList<Finding> expected = {{f.sectorOf(100), 3}, {f.sectorOf(101), 4}};
    QCOMPARE(scanImage(f.image), expected);

    // Two directories whose chains merge: the shared cluster is read once.
    FatBuilder m;
    m.start();
    m.entry(2, 0, "ONE        ", 0x10, 40);
    m.entry(2, 1, "TWO        ", 0x10, 41);
    m.setFat(40, 42);
    m.setFat(41, 42);
    m.setFat(42, 0x0FFFFFFF);
    m.entry(42, 0, "SHARED  PDF", 0x20, 100);
    const QList<Finding> once = {{m.sectorOf(100), 5}};
    QCOMPARE(scanImage(m.image), once);
}

void TestFat32Scanner::geometry()
{
    // 4096-byte sectors: the start is still counted in 512-byte sectors.
    FatBuilder big;
    big.bytesPerSector = 4096;
    big.sectorsPerCluster = 1;
    big.sectorsPerFat = 4;
    big.reserved = 8;
    big.start();
    big.entry(2, 0, "REPORT  PDF", 0x20, 100);
    QCOMPARE(big.sectorOf(100), (8 + 2 * 4 + 98) * 8LL);
    QCOMPARE(scanImage(big.image), QList<Finding>({{big.sectorOf(100), 5}}));

    // One FAT: the data area starts right after it.
    FatBuilder one;
    one.fats = 1;
    one.start();
    one.entry(2, 0, "REPORT  PDF", 0x20, 100);
    QCOMPARE(scanImage(one.image), QList<Finding>({{32 + 1000 + 98 * 8, 5}}));

    // Zero or absurd geometry ends the pass at once.
    const struct
    {
        int offset;
        int width;
        uint32_t value;
    } absurd[] = {
        {0x0B, 2, 0}, {0x0B, 2, 100}, {0x0B, 2, 8192}, {0x0D, 1, 0}, {0x0D, 1, 3}, {0x0E, 2, 0},
        {0x10, 1, 0}, {0x24, 4, 0}, {0x2C, 4, 0}, {0x2C, 4, 1}, {0x2C, 4, 100000}, {0x20, 4, 0},
        {0x24, 4, 0xFFFFFFFF},
    };
    for (const auto& a : absurd) {
        FatBuilder f;
        f.start();
        f.entry(2, 0, "REPORT  PDF", 0x20, 100);
        for (int i = 0; i < a.width; ++i)
            f.image[a.offset + i] = char((a.value >> (8 * i)) & 0xFF);
        QVERIFY2(scanImage(f.image).isEmpty(), qPrintable(QString::number(a.offset, 16)));
    }
}

void TestFat32Scanner::stopDuringTheWalkEmitsNothingMore()
{
    FatBuilder f;
    f.start();
    for (int i = 0; i < 20; ++i)
        f.entry(2, i, "REPORT  PDF", 0x20, 100 + i);
    QCOMPARE(scanImage(f.image, [](CFat32Scanner& s) { s.stop(); }).size(), 1);

    CMemoryVolume volume(f.image);
    CNotifyFileNode relay;
    std::atomic<bool> running{true};
    CFat32Scanner scanner(&volume, &relay, &running);
    int count = 0;
    QObject::connect(&relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem), [&](long long, int) {
        ++count;
        running = false;
    });
    scanner.scan();
    QCOMPARE(count, 1);
}

void TestFat32Scanner::deletedEntriesNamesAndData()
{
    FatBuilder f;
    f.start();
    const int64_t c = 4096;
    // 0: a long name restored (its short name began with "R").
    int s0 = f.longName(2, 0, QStringLiteral("Rapport final été.docx"),
                        CFat32Scanner::shortNameChecksum(reinterpret_cast<const uint8_t*>("RAPPOR~1DOC")));
    f.entry(2, s0, "RAPPOR~1DOC", 0x20, 100);
    setSize(f, 2, s0, uint32_t(2 * c + 10));
    markDeleted(f, 2, s0, s0);
    f.setFat(101, 0x0FFFFFFF); // a live file took cluster 101: the data skips it
    // A long name whose checksum belongs to another short name: not taken.
    int s1 = f.longName(2, s0 + 1, QStringLiteral("wrong.pdf"), 0x42);
    f.entry(2, s1, "ANOTHER PDF", 0x20, 110);
    markDeleted(f, 2, s1, s1 - s0 - 1);
    // An overwritten one: its start cluster is in use, and one of three.
    f.entry(2, s1 + 1, "TAKEN   XLS", 0x20, 120);
    setSize(f, 2, s1 + 1, uint32_t(3 * c));
    markDeleted(f, 2, s1 + 1);
    f.setFat(120, 0x0FFFFFFF);
    // A file of no wanted name whose bytes are a PDF, and one that is not.
    f.entry(2, s1 + 2, "BACKUP  BAK", 0x20, 130);
    f.image.replace(int(f.clusterOffset(130)), 8, "%PDF-1.7");
    markDeleted(f, 2, s1 + 2);
    f.entry(2, s1 + 3, "NOTES   TXT", 0x20, 131);
    markDeleted(f, 2, s1 + 3);
    // Larger than what is left of the volume: not whole.
    f.entry(2, s1 + 4, "HUGE    PDF", 0x20, f.clusters);
    setSize(f, 2, s1 + 4, uint32_t(10 * c));
    markDeleted(f, 2, s1 + 4);
    // Empty, and a start past the volume: nothing to list.
    f.entry(2, s1 + 5, "EMPTY   PDF", 0x20, 140);
    setSize(f, 2, s1 + 5, 0);
    markDeleted(f, 2, s1 + 5);
    f.entry(2, s1 + 6, "FAR     PDF", 0x20, 900000);
    markDeleted(f, 2, s1 + 6);
    // A live file is no deleted record.
    f.entry(2, s1 + 7, "LIVE    PDF", 0x20, 150);

    const QList<CFileNode> found = deletedRecords(f.image);
    QCOMPARE(found.size(), 5);
    const CFileNode& rapport = found[0];
    QCOMPARE(rapport.originalName, QStringLiteral("Rapport final été.docx"));
    QCOMPARE(rapport.folder, QStringLiteral("/"));
    QCOMPARE(rapport.typeCode, int(CFileTypeCatalogue::Docx));
    QCOMPARE(rapport.origin, int(CFileNode::OriginDeletedEntry));
    QCOMPARE(rapport.size, 2 * c + 10);
    QCOMPARE(qint64(rapport.startSector), f.sectorOf(100));
    QCOMPARE(rapport.extents.size(), 2);
    QCOMPARE(rapport.extents[0].offset, f.clusterOffset(100));
    QCOMPARE(rapport.extents[0].length, c);
    QCOMPARE(rapport.extents[1].offset, f.clusterOffset(102));
    QCOMPARE(rapport.extents[1].length, c + 10);
    QCOMPARE(rapport.overwritten, 0.0);
    QVERIFY(!rapport.incomplete);
    QVERIFY(!rapport.modified.isValid()); // no date was written

    QCOMPARE(found[1].originalName, QStringLiteral("_NOTHER.PDF"));
    QCOMPARE(found[2].originalName, QStringLiteral("_AKEN.XLS"));
    QCOMPARE(found[2].overwritten, 1.0 / 3);
    QCOMPARE(found[2].extents.size(), 1);
    QCOMPARE(found[2].extents[0].length, 3 * c);
    QCOMPARE(found[3].originalName, QStringLiteral("_ACKUP.BAK"));
    QCOMPARE(found[3].typeCode, int(CFileTypeCatalogue::Pdf));
    QCOMPARE(found[4].originalName, QStringLiteral("_UGE.PDF"));
    QVERIFY(found[4].incomplete);
    QCOMPARE(found[4].extents[0].length, 2 * c); // the last two clusters
}

void TestFat32Scanner::deletedDirectoriesAndHostileEntries()
{
    FatBuilder f;
    f.start();
    // A deleted folder over two free clusters, holding a deleted sub-folder
    // and documents; one deleted folder whose cluster is in use again, and
    // one whose cluster holds other data.
    f.entry(2, 0, "OLD        ", 0x10, 40);
    markDeleted(f, 2, 0);
    f.entry(40, 0, ".          ", 0x10, 40);
    f.entry(40, 1, "..         ", 0x10, 0);
    for (int k = 2; k < 128; ++k)
        f.entry(40, k, "\xE5ILLER  TXT", 0x20, 0);
    f.entry(41, 0, "\xE5NNER      ", 0x10, 60);
    f.entry(41, 1, "REPORT  PDF", 0x20, 50); // not marked, yet deleted with its folder
    f.entry(60, 0, ".          ", 0x10, 60);
    f.entry(60, 1, "..         ", 0x10, 40);
    f.entry(60, 2, "\xE5" "EEP    DOC", 0x20, 70);
    f.entry(2, 1, "REUSED     ", 0x10, 80);
    markDeleted(f, 2, 1);
    f.setFat(80, 0x0FFFFFFF);
    f.entry(80, 0, ".          ", 0x10, 80);
    f.entry(80, 1, "..         ", 0x10, 0);
    f.entry(80, 2, "\xE5HOST   PDF", 0x20, 90);
    f.entry(2, 2, "NOISE      ", 0x10, 85);
    markDeleted(f, 2, 2);
    f.image.replace(int(f.clusterOffset(85)), 8, "%PDF-1.4");

    QList<CFileNode> found = deletedRecords(f.image);
    QCOMPARE(found.size(), 2);
    QCOMPARE(found[0].folder + '/' + found[0].originalName, QStringLiteral("/_LD/REPORT.PDF"));
    QCOMPARE(found[1].folder + '/' + found[1].originalName, QStringLiteral("/_LD/_NNER/_EEP.DOC"));

    // Every entry of a full root claims the whole volume, and the FAT has
    // every other cluster in use: the walks are paid from one budget and
    // the scan ends, with no file claiming to be whole that is not.
    FatBuilder h;
    h.clusters = 4000;
    h.start();
    for (uint32_t n = 3; n < h.clusters + 2; n += 2)
        h.setFat(n, 0x0FFFFFFF);
    h.setFat(2, 0x0FFFFFFF);
    for (int k = 0; k < 128; ++k) {
        h.entry(2, k, "\xE5IG     PDF", 0x20, 4);
        setSize(h, 2, k, 0xFFFFFFFF);
    }
    found = deletedRecords(h.image);
    QCOMPARE(found.size(), 128);
    for (const CFileNode& n : found)
        QVERIFY(n.incomplete);

    // An image cut short of what its boot sector claims: a deleted file
    // that ran past the cut keeps what is on the image, says it is cut
    // short and is as long as its extents; one that began past the cut is
    // not listed (its clusters are not on the image).
    FatBuilder c;
    c.start();
    c.entry(2, 0, "\xE5UT     PDF", 0x20, 100);
    setSize(c, 2, 0, 20 * 4096);
    c.entry(2, 1, "\xE5" "AST    PDF", 0x20, 250);
    setSize(c, 2, 1, 4096);
    c.image.replace(int(c.clusterOffset(100)), 8, "%PDF-1.4");
    const int64_t cut = c.clusterOffset(105) + 1000;
    c.image.truncate(int(cut));
    found = deletedRecords(c.image);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].originalName, QStringLiteral("_UT.PDF"));
    QVERIFY(found[0].incomplete);
    QCOMPARE(found[0].extents.size(), 1);
    QCOMPARE(found[0].extents[0].offset, c.clusterOffset(100));
    QCOMPARE(found[0].extents[0].length, qint64(5 * 4096));
    QCOMPARE(found[0].size, qint64(5 * 4096));

    // Names are whatever the disk holds: a "/" in a long or a short name,
    // or half of a surrogate pair, never makes a name a path.
    FatBuilder n;
    n.start();
    int s = n.longName(2, 0, QStringLiteral("a/b") + QChar(0xD800) + QStringLiteral(".pdf"),
                       CFat32Scanner::shortNameChecksum(reinterpret_cast<const uint8_t*>("AB~1    PDF")));
    n.entry(2, s, "AB~1    PDF", 0x20, 100);
    markDeleted(n, 2, s, s);
    n.entry(2, s + 1, "\xE5" "/../X  PDF", 0x20, 110);
    found = deletedRecords(n.image);
    QCOMPARE(found.size(), 2);
    QCOMPARE(found[0].originalName, QStringLiteral("a\uFFFDb\uFFFD.pdf"));
    QCOMPARE(found[1].originalName, QStringLiteral("__.._X.PDF"));
}

// Deleted long names whose pieces lie at the end of one root cluster and
// their short entry at the start of the next one of the chain (not the next
// on the volume), after a stale piece of another name; and deleted entries
// whose names and first bytes disagree: the bytes decide across families
// (a DOCX whose 8.3 extension kept only "DOC") and where the name gives a
// family's plain type, the name where it is the more specific.
void TestFat32Scanner::deletedLongNamesAcrossClustersAndTypesFromBytes()
{
    FatBuilder f;
    f.start();
    f.setFat(2, 7);
    f.setFat(7, 0x0FFFFFFF);
    for (int k = 0; k < 126; ++k)
        f.entry(2, k, "\xE5ILLER  TXT", 0x20, 0);
    const auto checksum = [](const char* name11) {
        return CFat32Scanner::shortNameChecksum(reinterpret_cast<const uint8_t*>(name11));
    };
    // A ZIP whose first member is `first` (with `pad` bytes of data), then
    // `second`: the kind may lie past the first sector.
    const auto zipIn = [](FatBuilder& into, uint32_t cluster, const QByteArray& first, int pad,
                          const QByteArray& second) {
        QByteArray b;
        for (const QByteArray& member : {first, second}) {
            if (member.isEmpty())
                continue;
            QByteArray h(30, '\0');
            h.replace(0, 4, "PK\x03\x04");
            put16(h, 26, uint16_t(member.size()));
            b += h + member + QByteArray(member == first ? pad : 0, 'z');
        }
        into.image.replace(int(into.clusterOffset(cluster)), b.size(), b);
    };
    const auto zip = [&](uint32_t cluster, const QByteArray& first, int pad, const QByteArray& second) {
        zipIn(f, cluster, first, pad, second);
    };

    // Two pieces in the last slots of cluster 2, the short entry in slot 0
    // of cluster 7.
    QCOMPARE(f.longName(2, 126, QStringLiteral("Quarterly report.docx"), checksum("QUARTE~1DOC")), 128);
    f.entry(7, 0, "QUARTE~1DOC", 0x20, 100);
    setSize(f, 7, 0, 4096);
    zip(100, "[Content_Types].xml", 1200, "word/document.xml");
    for (int k : {126, 127})
        f.image[int(f.clusterOffset(2) + k * 32)] = char(0xE5);
    markDeleted(f, 7, 0);
    // A stale piece of a name deleted before, then this entry's own piece;
    // its bytes are a plain ZIP, so the name says the kind.
    f.longName(7, 1, QStringLiteral("old.pdf"), 0x11);
    QCOMPARE(f.longName(7, 2, QStringLiteral("Budget.xlsx"), checksum("BUDGET~1XLS")), 3);
    f.entry(7, 3, "BUDGET~1XLS", 0x20, 104);
    zip(104, "mimetype", 10, QByteArray());
    markDeleted(f, 7, 3, 2);
    // Short names only: a PPTX (lower-case flags), a DOCX whose kind lies
    // past the first sector, and a compound document of no telling kind
    // behind an .XLS, which stays one.
    f.entry(7, 4, "SLIDES~1PPT", 0x20, 108, 0x18);
    zip(108, "ppt/presentation.xml", 0, QByteArray());
    markDeleted(f, 7, 4);
    f.entry(7, 5, "MEMO~1  DOC", 0x20, 112);
    setSize(f, 7, 5, 4096);
    zip(112, "[Content_Types].xml", 1200, "word/document.xml");
    markDeleted(f, 7, 5);
    f.entry(7, 6, "TABLE   XLS", 0x20, 116);
    f.image.replace(int(f.clusterOffset(116)), 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    markDeleted(f, 7, 6);

    QStringList seen;
    for (const CFileNode& n : deletedRecords(f.image))
        seen << n.originalName + ' ' + CFileTypeCatalogue::typeName(n.typeCode) + ' ' + n.typeName;
    QCOMPARE(seen, QStringList({"Quarterly report.docx DOCX DOCX", "Budget.xlsx XLSX XLSX", "_lides~1.pptx PPTX PPTX",
                                "_EMO~1.DOCX DOCX DOCX", "_ABLE.XLS XLS XLS"}));

    // Small clusters (FAT12 and FAT16 volumes, FAT32 made with one sector a
    // cluster): the kind lies past the first cluster, but still inside the
    // run the file is read from.
    FatBuilder small;
    small.sectorsPerCluster = 1;
    small.start();
    small.entry(2, 0, "MEMO~1  DOC", 0x20, 10);
    setSize(small, 2, 0, 4096);
    zipIn(small, 10, "[Content_Types].xml", 1200, "word/document.xml");
    markDeleted(small, 2, 0);
    const QList<CFileNode> found = deletedRecords(small.image);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.front().originalName + ' ' + found.front().typeName, QStringLiteral("_EMO~1.DOCX DOCX"));
}

QTEST_APPLESS_MAIN(TestFat32Scanner)
#include "tst_fat32scanner.moc"
