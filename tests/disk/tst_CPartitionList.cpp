#include "disk/CPartitionList.h"

#include <QtTest>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int64_t GiB = int64_t(1) << 30;

// A desktop with everything the list must sort out: a partitioned disk with
// an NTFS and an unmounted FAT32 partition, a whole 5 TiB disk without a
// partition table, a USB stick, a CD-ROM, zram, two loop devices, a LUKS
// partition holding LVM, and an md mirror seen under both of its members.
const char* kDesktop = R"({
 "blockdevices": [
  {"name":"sda","path":"/dev/sda","type":"disk","size":128849018880,"fstype":null,"fsver":null,"label":null,"mountpoint":null,"rm":false,
   "children":[
    {"name":"sda1","path":"/dev/sda1","type":"part","size":128849018880,"fstype":"ntfs","fsver":null,"label":"Data","mountpoint":"/mnt/data","rm":false},
    {"name":"sda2","path":"/dev/sda2","type":"part","size":524288000,"fstype":"vfat","fsver":"FAT32","label":null,"mountpoint":null,"rm":false},
    {"name":"sda3","path":"/dev/sda3","type":"part","size":1024,"fstype":null,"fsver":null,"label":null,"mountpoint":null,"rm":false}
   ]},
  {"name":"sdb","path":"/dev/sdb","type":"disk","size":5497558138880,"fstype":"ext4","fsver":"1.0","label":"Archive","mountpoint":"/srv/archive","rm":false},
  {"name":"sdc","path":"/dev/sdc","type":"disk","size":"16008609792","fstype":null,"fsver":null,"label":null,"mountpoint":null,"rm":"1",
   "children":[
    {"name":"sdc1","path":"/dev/sdc1","type":"part","size":"16007561216","fstype":"exfat","fsver":"1.0","label":"STICK","mountpoint":"/media/stick","rm":"1"}
   ]},
  {"name":"sr0","path":"/dev/sr0","type":"rom","size":734003200,"fstype":"iso9660","fsver":null,"label":"CD","mountpoint":null,"rm":true},
  {"name":"zram0","path":"/dev/zram0","type":"disk","size":8589934592,"fstype":null,"fsver":null,"label":null,"mountpoint":"[SWAP]","rm":false},
  {"name":"loop0","path":"/dev/loop0","type":"loop","size":104857600,"fstype":"squashfs","fsver":null,"label":null,"mountpoint":"/snap/core","rm":false},
  {"name":"loop7","path":"/dev/loop7","type":"loop","size":314572800,"fstype":null,"fsver":null,"label":null,"mountpoint":null,"rm":false},
  {"name":"nvme0n1","path":"/dev/nvme0n1","type":"disk","size":512110190592,"fstype":null,"fsver":null,"label":null,"mountpoint":null,"rm":false,
   "children":[
    {"name":"nvme0n1p1","path":"/dev/nvme0n1p1","type":"part","size":536870912,"fstype":"vfat","fsver":"FAT16","label":"EFI","mountpoint":"/boot/efi","rm":false},
    {"name":"nvme0n1p2","path":"/dev/nvme0n1p2","type":"part","size":511571222528,"fstype":"crypto_LUKS","fsver":"2","label":null,"mountpoint":null,"rm":false,
     "children":[
      {"name":"luks-1","path":"/dev/mapper/luks-1","type":"crypt","size":511554445312,"fstype":"LVM2_member","fsver":"LVM2 001","label":null,"mountpoint":null,"rm":false,
       "children":[
        {"name":"vg-root","path":"/dev/mapper/vg-root","type":"lvm","size":107374182400,"fstype":"ext4","fsver":"1.0","label":null,"mountpoint":"/","rm":false}
       ]}
     ]}
   ]},
  {"name":"sdd","path":"/dev/sdd","type":"disk","size":2000398934016,"fstype":"linux_raid_member","fsver":"1.2","label":"m:0","mountpoint":null,"rm":false,
   "children":[{"name":"md0","path":"/dev/md0","type":"raid1","size":2000264691712,"fstype":"xfs","fsver":null,"label":null,"mountpoint":"/home","rm":false}]},
  {"name":"sde","path":"/dev/sde","type":"disk","size":2000398934016,"fstype":"linux_raid_member","fsver":"1.2","label":"m:0","mountpoint":null,"rm":false,
   "children":[{"name":"md0","path":"/dev/md0","type":"raid1","size":2000264691712,"fstype":"xfs","fsver":null,"label":null,"mountpoint":"/home","rm":false}]},
  {"name":"sdf","path":"/dev/sdf","type":"disk","size":0,"fstype":null,"fsver":null,"label":null,"mountpoint":null,"rm":true}
 ]
})";

CPartitionList::Probes fixedProbes(const QByteArray& json, QStringList* probed = nullptr)
{
    CPartitionList::Probes p;
    p.readLsblk = [json]() { return json; };
    p.freeSpace = [](const QString& mount, int64_t* freeBytes) {
        if (mount == QLatin1String("/mnt/data"))
            *freeBytes = GiB * 75 / 2; // 37.5 GiB
        else if (mount == QLatin1String("/srv/archive"))
            *freeBytes = 1000 * GiB;
        else if (mount == QLatin1String("/media/stick"))
            *freeBytes = 100 * 1024 * 1024;
        else
            return false;
        return true;
    };
    p.loopHasBackingFile = [](const QString& name) { return name == QLatin1String("loop0"); };
    p.bootSectorFileSystem = [probed](const QString& path) {
        if (probed)
            probed->append(path);
        return path == QLatin1String("/dev/loop7") ? QStringLiteral("FAT32") : QString();
    };
    return p;
}

QString capture(FILE* stream, char* buffer)
{
    std::fflush(stream);
    return QString::fromUtf8(buffer);
}

} // namespace

class TestPartitionList : public QObject
{
    Q_OBJECT
private slots:
    void listsWhatCanBeScannedInOrder();
    void describesEachVolumeAsATileShowsIt();
    void writesTheDriveTypeTexts();
    void missingOrBrokenLsblkGivesAnEmptyList();
};

void TestPartitionList::listsWhatCanBeScannedInOrder()
{
    QStringList probed;
    CPartitionList list;
    list.setProbes(fixedProbes(kDesktop, &probed));
    list.setDiagnosticStream(nullptr);
    list.enumerate();
    QStringList paths;
    for (const CPartitionInfo* p : list.partitions())
        paths << p->devicePath;
    // A partitioned disk comes whole after everything under it. Not: the
    // 1 KiB extended-partition link, the CD-ROM, zram, an unused loop device,
    // the LUKS and LVM containers, a RAID member, the md array a second time,
    // an empty card reader.
    QCOMPARE(paths, (QStringList{"/dev/sda1", "/dev/sda2", "/dev/sda", "/dev/sdb", "/dev/sdc1", "/dev/sdc",
                                 "/dev/loop0", "/dev/nvme0n1p1", "/dev/mapper/vg-root", "/dev/nvme0n1", "/dev/md0"}));
    // The whole disk is named as such, and the scan reads its table.
    const CPartitionInfo* sda = list.partitions().at(2);
    QCOMPARE(sda->displayName, QStringLiteral("整个磁盘(sda)"));
    QCOMPARE(sda->fileSystem, CPartitionInfo::autoFileSystem());
    QCOMPARE(list.partitions().at(5)->removable, true);
    // Only a device whose type lsblk does not know has its boot sector read.
    QCOMPARE(probed, QStringList());

    // Refilling replaces the list rather than adding to it.
    list.enumerate();
    QCOMPARE(list.count(), paths.size());
}

void TestPartitionList::describesEachVolumeAsATileShowsIt()
{
    const QByteArray json = R"({"blockdevices":[
      {"name":"sda1","path":"/dev/sda1","type":"part","size":128849018880,"fstype":"ntfs","fsver":null,"label":"Data","mountpoint":"/mnt/data","rm":false},
      {"name":"sda2","path":"/dev/sda2","type":"part","size":524288000,"fstype":"vfat","fsver":"FAT32","label":null,"mountpoint":null,"rm":false},
      {"name":"sdb","path":"/dev/sdb","type":"disk","size":5497558138880,"fstype":"ext4","fsver":"1.0","label":"Archive","mountpoint":"/srv/archive","rm":false},
      {"name":"sdc1","type":"part","size":"16007561216","fstype":"exfat","label":"STICK","mountpoint":"/media/stick","rm":"1"},
      {"name":"loop0","path":"/dev/loop0","type":"loop","size":104857600,"fstype":null,"label":null,"mountpoint":null,"rm":false},
      {"name":"nvme0n1p1","path":"/dev/nvme0n1p1","type":"part","size":536870912,"fstype":"vfat","fsver":"FAT16","label":"EFI","mountpoint":"/boot/efi","rm":false}
    ]})";
    QStringList probed;
    CPartitionList::Probes probes = fixedProbes(json, &probed);
    probes.bootSectorFileSystem = [&probed](const QString& path) {
        probed << path;
        return QStringLiteral("FAT32");
    };
    CPartitionList list;
    list.setProbes(probes);
    list.setDiagnosticStream(nullptr);
    list.enumerate();
    const QList<CPartitionInfo*> p = list.partitions();
    QCOMPARE(p.size(), 6);

    // 120 GiB with 37.5 GiB free: 82 GiB used of 120, 68 %.
    QCOMPARE(p[0]->displayName, QStringLiteral("Data(sda1)"));
    QCOMPARE(p[0]->totalText, QStringLiteral("120GB"));
    QCOMPARE(p[0]->freeText, QStringLiteral("37GB"));
    QCOMPARE(p[0]->usedPercent, 68);
    QCOMPARE(p[0]->fileSystem, QStringLiteral("NTFS"));
    QVERIFY(p[0]->freeKnown);
    QVERIFY(!p[0]->removable);

    // Under 1 GiB, no label, not mounted: free space unknown, not "0GB".
    QCOMPARE(p[1]->displayName, QString::fromUtf8("本地磁盘(sda2)"));
    QCOMPARE(p[1]->totalText, QStringLiteral("0GB"));
    QCOMPARE(p[1]->freeText, QString::fromUtf8("未知"));
    QVERIFY(!p[1]->freeKnown);
    QCOMPARE(p[1]->usedPercent, 0);
    QCOMPARE(p[1]->fileSystem, QStringLiteral("FAT32"));

    // Over 4 TiB: 5120 GiB in 64-bit arithmetic.
    QCOMPARE(p[2]->totalText, QStringLiteral("5120GB"));
    QCOMPARE(p[2]->freeText, QStringLiteral("1000GB"));
    QCOMPARE(p[2]->usedPercent, 80);
    QCOMPARE(p[2]->totalBytes, int64_t(5497558138880));
    QCOMPARE(p[2]->fileSystem, QStringLiteral("EXT4"));

    // An older lsblk: numbers as strings, no PATH column.
    QCOMPARE(p[3]->devicePath, QStringLiteral("/dev/sdc1"));
    QVERIFY(p[3]->removable);
    QCOMPARE(p[3]->totalText, QStringLiteral("14GB"));
    QCOMPARE(p[3]->freeText, QStringLiteral("0GB"));
    QCOMPARE(p[3]->usedPercent, 100);
    QCOMPARE(p[3]->fileSystem, QStringLiteral("exFAT"));

    // No type known to lsblk: the boot sector names it.
    QCOMPARE(p[4]->fileSystem, QStringLiteral("FAT32"));
    QCOMPARE(probed, QStringList{"/dev/loop0"});

    QCOMPARE(p[5]->fileSystem, QStringLiteral("FAT16"));
}

void TestPartitionList::writesTheDriveTypeTexts()
{
    char* buffer = nullptr;
    size_t size = 0;
    FILE* stream = ::open_memstream(&buffer, &size);
    QVERIFY(stream);
    {
        CPartitionList list;
        list.setProbes(fixedProbes(kDesktop));
        list.setDiagnosticStream(stream);
        list.enumerate();
    }
    QStringList lines = capture(stream, buffer).split('\n');
    lines.removeAll(QString());
    std::fclose(stream);
    std::free(buffer);
    QCOMPARE(lines.size(), 11);
    const QString fixed = CPartitionList::fixedText();
    const QString removable = CPartitionList::removableText();
    QCOMPARE(lines[0], fixed);
    QCOMPARE(lines[4], removable); // the USB stick's partition
    QCOMPARE(removable, QStringLiteral(
        "The drive is a type that has removable media,for example:a floppy drive or removable hard disk"));
    QCOMPARE(fixed, QStringLiteral("The drive is a type that cannot be removed, for example,a fixed hard drive"));
}

void TestPartitionList::missingOrBrokenLsblkGivesAnEmptyList()
{
    for (const QByteArray& json : {QByteArray(), QByteArray("not json"), QByteArray("{\"blockdevices\": 5}"),
                                   QByteArray("[1,2]"), QByteArray("{\"blockdevices\":[{\"name\":7},null,\"x\"]}")}) {
        CPartitionList list;
        list.setProbes(fixedProbes(json));
        list.setDiagnosticStream(nullptr);
        list.enumerate();
        QCOMPARE(list.count(), 0);
    }
    // A machine without lsblk at all.
    CPartitionList::Probes probes = CPartitionList::systemProbes();
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "/nonexistent");
    const QByteArray out = probes.readLsblk();
    qputenv("PATH", path);
    QVERIFY(out.isEmpty());
}

QTEST_GUILESS_MAIN(TestPartitionList)
#include "tst_CPartitionList.moc"
