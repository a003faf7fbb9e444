#include "disk/CSameVolumeCheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using Verdict = CSameVolumeCheck::Verdict;

void writeText(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

// A block device node with a chosen number; false where nodes cannot be made.
bool makeNode(const QString& path, unsigned maj, unsigned min)
{
    QDir().mkpath(QFileInfo(path).path());
    return ::mknod(QFile::encodeName(path).constData(), S_IFBLK | 0600, makedev(maj, min)) == 0;
}

// sysfs as the kernel lays it out: disk sdb with partitions sdb1 and sdb2;
// a LUKS mapping dm-0 on sdb1 and an LVM volume dm-1 on dm-0; a loop device
// backed by an image, with a partition.
class FakeSys
{
public:
    explicit FakeSys(const QString& root, const QString& image)
        : root(root)
    {
        device("devices/pci0/block/sdb", "8:16");
        device("devices/pci0/block/sdb/sdb1", "8:17", true);
        device("devices/pci0/block/sdb/sdb2", "8:18", true);
        device("devices/virtual/block/dm-0", "253:0");
        slave("devices/virtual/block/dm-0", "sdb1", "devices/pci0/block/sdb/sdb1");
        device("devices/virtual/block/dm-1", "253:1");
        slave("devices/virtual/block/dm-1", "dm-0", "devices/virtual/block/dm-0");
        device("devices/virtual/block/loop0", "7:0");
        writeText(root + "/devices/virtual/block/loop0/loop/backing_file", image.toUtf8() + "\n");
        device("devices/virtual/block/loop0/loop0p1", "259:0", true);
    }

    void device(const QString& dir, const QByteArray& number, bool partition = false)
    {
        writeText(root + "/" + dir + "/dev", number + "\n");
        if (partition)
            writeText(root + "/" + dir + "/partition", "1\n");
        QDir().mkpath(root + "/dev/block");
        QFile::link(root + "/" + dir, root + "/dev/block/" + QString::fromLatin1(number));
    }
    void slave(const QString& dir, const QString& name, const QString& target)
    {
        QDir().mkpath(root + "/" + dir + "/slaves");
        QFile::link(root + "/" + target, root + "/" + dir + "/slaves/" + name);
    }

    QString root;
};

} // namespace

class TestSameVolumeCheck : public QObject
{
    Q_OBJECT
private slots:
    void expandsPartitionsAndStackedDevices();
    void blockSourcesOverlapOnlyAlongTheirStack();
    void imagesOverlapOnlyThroughTheirLoopDevice();
    void mountTableNamesWhatAnonymousDevicesHold();
    void realFoldersAgainstRealSources();
};

void TestSameVolumeCheck::expandsPartitionsAndStackedDevices()
{
    QTemporaryDir dir;
    FakeSys sys(dir.path() + "/sys", dir.path() + "/disk.img");
    CSameVolumeCheck check;
    check.setSysRoot(sys.root);
    bool complete = false;
    QCOMPARE(check.underlying("8:16", &complete), (QSet<QString>{"8:16"}));
    QVERIFY(complete);
    QCOMPARE(check.underlying("8:17", &complete), (QSet<QString>{"8:17", "8:16"}));
    QCOMPARE(check.underlying("253:1", &complete), (QSet<QString>{"253:1", "253:0", "8:17", "8:16"}));
    QVERIFY(complete);
    QCOMPARE(check.underlying("259:0", &complete), (QSet<QString>{"259:0", "7:0"}));
    QCOMPARE(check.loopBackingFile("7:0"), dir.path() + "/disk.img");
    QCOMPARE(check.deviceName("253:0"), QStringLiteral("dm-0"));
    check.underlying("9:9", &complete);
    QVERIFY(!complete);
}

void TestSameVolumeCheck::blockSourcesOverlapOnlyAlongTheirStack()
{
    QTemporaryDir dir;
    FakeSys sys(dir.path() + "/sys", dir.path() + "/disk.img");
    if (!makeNode(dir.path() + "/dev/sdb", 8, 16) || !makeNode(dir.path() + "/dev/sdb1", 8, 17)
        || !makeNode(dir.path() + "/dev/dm-1", 253, 1) || !makeNode(dir.path() + "/dev/odd", 240, 7))
        QSKIP("block device nodes cannot be made here (needs root outside a restricted container)");
    CSameVolumeCheck check;
    check.setSysRoot(sys.root);
    const QString sdb = dir.path() + "/dev/sdb";
    const QString sdb1 = dir.path() + "/dev/sdb1";

    // The whole disk against one of its partitions, both ways round.
    QCOMPARE(check.checkDevices(sdb, "8:17", false).verdict, Verdict::Same);
    QCOMPARE(check.checkDevices(sdb1, "8:16", false).verdict, Verdict::Same);
    // LVM on LUKS on the scanned partition.
    QCOMPARE(check.checkDevices(sdb1, "253:1", false).verdict, Verdict::Same);
    QCOMPARE(check.checkDevices(dir.path() + "/dev/dm-1", "8:17", false).verdict, Verdict::Same);
    // Another partition of the same disk is a different volume.
    QCOMPARE(check.checkDevices(sdb1, "8:18", false).verdict, Verdict::Different);
    // Unknown devices and an unresolved output may be the same.
    QCOMPARE(check.checkDevices(dir.path() + "/dev/odd", "8:18", false).verdict, Verdict::Unknown);
    QCOMPARE(check.checkDevices(sdb1, QString(), false).verdict, Verdict::Unknown);
    // tmpfs or a network share is on no disk.
    QCOMPARE(check.checkDevices(sdb1, QString(), true).verdict, Verdict::Different);
}

void TestSameVolumeCheck::imagesOverlapOnlyThroughTheirLoopDevice()
{
    QTemporaryDir dir;
    const QString image = dir.path() + "/disk.img";
    writeText(image, QByteArray(4096, 0));
    writeText(dir.path() + "/other.img", QByteArray(4096, 0));
    FakeSys sys(dir.path() + "/sys", image);
    CSameVolumeCheck check;
    check.setSysRoot(sys.root);
    QCOMPARE(check.checkDevices(image, "259:0", false).verdict, Verdict::Same);
    QCOMPARE(check.checkDevices(image, "7:0", false).verdict, Verdict::Same);
    QCOMPARE(check.checkDevices(dir.path() + "/other.img", "259:0", false).verdict, Verdict::Different);
    // Beside the image on a disk: its bytes are not touched.
    QCOMPARE(check.checkDevices(image, "8:17", false).verdict, Verdict::Different);
    QCOMPARE(check.checkDevices(image, "9:9", false).verdict, Verdict::Unknown);
}

void TestSameVolumeCheck::mountTableNamesWhatAnonymousDevicesHold()
{
    QTemporaryDir dir;
    const QString node = dir.path() + "/my disk/sdb1";
    const bool haveNode = makeNode(node, 8, 17);
    QByteArray escaped = QFile::encodeName(node);
    escaped.replace(" ", "\\040");
    CSameVolumeCheck check;
    check.setMountInfo("27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                       "40 27 0:45 / /mnt/btr rw,relatime shared:1 - btrfs " + escaped + " rw,subvol=/\n"
                       "41 27 0:46 / /mnt/ram rw - tmpfs tmpfs rw,size=1024k\n"
                       "42 27 0:47 / /mnt/over rw - overlay overlay rw,lowerdir=/a\n"
                       "43 27 0:48 / /mnt/nfs rw - nfs4 server:/export rw\n"
                       "garbage line\n\n");
    bool notOnDisk = true;
    if (haveNode) {
        QCOMPARE(check.deviceOfMount("0:45", &notOnDisk), QStringLiteral("8:17"));
        QVERIFY(!notOnDisk);
    }
    QCOMPARE(check.deviceOfMount("0:46", &notOnDisk), QString());
    QVERIFY(notOnDisk);
    QCOMPARE(check.deviceOfMount("0:48", &notOnDisk), QString());
    QVERIFY(notOnDisk);
    QCOMPARE(check.deviceOfMount("0:47", &notOnDisk), QString());
    QVERIFY(!notOnDisk);
    QCOMPARE(check.deviceOfMount("0:99", &notOnDisk), QString());
    QVERIFY(!notOnDisk);
}

void TestSameVolumeCheck::realFoldersAgainstRealSources()
{
    QTemporaryDir dir;
    const QString image = dir.path() + "/disk.img";
    writeText(image, QByteArray(4096, 0));
    CSameVolumeCheck check;
    // An image stands for its volume: a folder beside it (not yet made) is
    // on the source.
    QCOMPARE(check.check(image, dir.path() + "/out/deeper").verdict, Verdict::Same);

    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(dir.path()).constData(), &st), 0);
    bool notOnDisk = false;
    const QString here = check.outputDevice(dir.path() + "/missing", &notOnDisk);
    if (here.isEmpty() || !QFileInfo::exists("/sys/dev/block/" + here))
        QSKIP("the temporary folder is on no block device known to sysfs here");
    // A node for the very device the folder is on.
    if (!makeNode(dir.path() + "/self", major(st.st_dev), minor(st.st_dev)))
        QSKIP("block device nodes cannot be made here");
    const CSameVolumeCheck::Result same = check.check(dir.path() + "/self", dir.path() + "/out");
    QCOMPARE(same.verdict, Verdict::Same);
    QVERIFY(!same.detail.isEmpty());
}

QTEST_GUILESS_MAIN(TestSameVolumeCheck)
#include "tst_CSameVolumeCheck.moc"
