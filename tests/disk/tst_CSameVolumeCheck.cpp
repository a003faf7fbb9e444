#include "disk/CSameVolumeCheck.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>
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
        // The device that really holds the image, where the walk from
        // its loop device leads.
        struct stat st;
        if (::stat(QFile::encodeName(root).constData(), &st) == 0 && major(st.st_dev) != 0)
            device("devices/virtual/block/host",
                   QStringLiteral("%1:%2").arg(major(st.st_dev)).arg(minor(st.st_dev)).toLatin1());
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

struct Command
{
    int exitCode = -1;
    QString out;
    QString err;
};

Command runCommand(const QString& program, const QStringList& args, int timeoutMs = 60000)
{
    QProcess p;
    p.start(program, args);
    Command c;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return c;
    }
    c.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    c.out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    c.err = QString::fromUtf8(p.readAllStandardError());
    return c;
}

// Loop devices and mounts made by a test, undone in reverse order when it
// ends. Should it be killed instead, the mounts go with its private mount
// namespace (see initTestCase), and a mounted loop device, detached while
// in use, is cleared by the kernel once unmounted.
class Stack
{
public:
    ~Stack()
    {
        for (int i = m_undo.size() - 1; i >= 0; --i)
            runCommand(m_undo[i].first, m_undo[i].second);
    }
    // A new loop device backed by `file`, or empty.
    QString attach(const QString& file)
    {
        const Command c = runCommand("losetup", {"--find", "--show", file});
        if (c.exitCode != 0 || !c.out.startsWith("/dev/loop"))
            return QString();
        m_undo.append({"losetup", {"--detach", c.out}});
        return c.out;
    }
    // mount(8) with `args`, the mount point last.
    bool mount(const QStringList& args)
    {
        QDir().mkpath(args.last());
        if (runCommand("mount", args).exitCode != 0)
            return false;
        m_undo.append({"umount", {"--lazy", args.last()}});
        detachInUse(args);
        return true;
    }
    bool mountNtfs(const QString& source, const QString& folder)
    {
        QDir().mkpath(folder);
        if (runCommand("ntfs-3g", {source, folder}).exitCode != 0)
            return false;
        m_undo.append({"umount", {"--lazy", folder}});
        detachInUse({source});
        return true;
    }

private:
    // A busy loop device is only marked to clear itself at its last close.
    void detachInUse(const QStringList& args)
    {
        for (const QString& arg : args)
            if (arg.startsWith("/dev/loop"))
                runCommand("losetup", {"--detach", arg});
    }

    QList<QPair<QString, QStringList>> m_undo;
};

bool makeImage(const QString& image, int mebibytes, const QString& program, const QStringList& args)
{
    QFile f(image);
    if (!f.open(QIODevice::WriteOnly) || !f.resize(qint64(mebibytes) << 20))
        return false;
    f.close();
    return runCommand(program, args + QStringList{image}).exitCode == 0;
}

bool makeNtfs(const QString& image, int mebibytes)
{
    return makeImage(image, mebibytes, "mkntfs", {"-q", "-F", "-f"});
}

QByteArray digestOf(const QString& path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return f.open(QIODevice::ReadOnly) && hash.addData(&f) ? hash.result() : QByteArray();
}

} // namespace

class TestSameVolumeCheck : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void expandsPartitionsAndStackedDevices();
    void blockSourcesOverlapOnlyAlongTheirStack();
    void imagesOverlapOnlyThroughTheirLoopDevice();
    void mountTableNamesWhatAnonymousDevicesHold();
    void realFoldersAgainstRealSources();
    void realLoopDevicesAndFuseMounts();
    void realOverlayAndBtrfsMounts();
};

void TestSameVolumeCheck::initTestCase()
{
    // Mounts made from here on live in a mount namespace of this process
    // (and of the programs it runs), so that none outlives it. Where that
    // cannot be had, the tests still undo their mounts as they end.
    if (::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0)
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
}

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

    // An anonymous number the mount table does not list, an overlay whose
    // layers are not named or cannot be found, a mount whose source is no
    // path: nothing says the image is not below, so it may be.
    check.setMountInfo("50 27 0:60 / /mnt/a rw - overlay overlay rw,uuid=on\n"
                       "51 27 0:61 / /mnt/b rw - overlay overlay rw,lowerdir=/nonexistent/l,upperdir="
                       + QFile::encodeName(dir.path()) + ",workdir=" + QFile::encodeName(dir.path()) + "\n"
                       "52 27 0:62 / /mnt/c rw - fuse.mystery mystery rw\n");
    for (const char* anonymous : {"0:4000", "0:60", "0:61", "0:62"})
        QVERIFY2(check.checkDevices(image, anonymous, false).verdict == Verdict::Unknown, anonymous);
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
    // Beside an image (in a folder not yet made) its bytes are safe.
    QCOMPARE(check.check(image, dir.path() + "/out/deeper").verdict, Verdict::Different);

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

void TestSameVolumeCheck::realLoopDevicesAndFuseMounts()
{
    if (::geteuid() != 0)
        QSKIP("loop devices and mounts need root");
    if (QStandardPaths::findExecutable("ntfs-3g").isEmpty() || QStandardPaths::findExecutable("mkntfs").isEmpty()
        || !QFileInfo::exists("/dev/fuse"))
        QSKIP("ntfs-3g, mkntfs or /dev/fuse is missing (scripts/install-deps.sh installs ntfs-3g)");
    QTemporaryDir dir;
    const QString d = dir.path();
    Stack stack;
    QVERIFY(makeNtfs(d + "/ntfs.img", 16));
    QVERIFY(QFile::link(d + "/ntfs.img", d + "/link.img"));
    QVERIFY(makeNtfs(d + "/outer.img", 24));
    const QString outerLoop = stack.attach(d + "/outer.img");
    if (outerLoop.isEmpty())
        QSKIP("no loop device can be made here (a container without loop devices)");

    // ntfs-3g on the image file itself; ntfs-3g on a loop device of
    // another image, holding a third image attached and mounted in turn.
    QVERIFY(stack.mountNtfs(d + "/ntfs.img", d + "/fuse"));
    QVERIFY(stack.mountNtfs(outerLoop, d + "/outer"));
    QVERIFY(makeNtfs(d + "/outer/inner.img", 8));
    const QString innerLoop = stack.attach(d + "/outer/inner.img");
    QVERIFY(!innerLoop.isEmpty());
    QVERIFY(stack.mountNtfs(innerLoop, d + "/inner"));

    const CSameVolumeCheck check;
    struct Case
    {
        QString source;
        QString output;
        Verdict verdict;
    };
    const QList<Case> cases = {
        // Beside an image, on the disk that holds it: its bytes are safe.
        {d + "/ntfs.img", d + "/out", Verdict::Different},
        {d + "/outer.img", d + "/out", Verdict::Different},
        // A FUSE mount whose source is the image, by any path to it.
        {d + "/ntfs.img", d + "/fuse/out", Verdict::Same},
        {d + "/link.img", d + "/fuse/out", Verdict::Same},
        {d + "/outer.img", d + "/fuse/out", Verdict::Different},
        // A mount of the image's loop device, and what is stacked on it.
        {d + "/outer.img", d + "/outer/out", Verdict::Same},
        {d + "/outer.img", d + "/inner/out", Verdict::Same},
        {d + "/outer/inner.img", d + "/inner/out", Verdict::Same},
        {d + "/outer/inner.img", d + "/outer/out", Verdict::Different},
        // A loop device backed by a file on the scanned device.
        {outerLoop, d + "/inner/out", Verdict::Same},
        {outerLoop, d + "/outer/out", Verdict::Same},
        {innerLoop, d + "/inner/out", Verdict::Same},
        {outerLoop, d + "/out", Verdict::Different},
    };
    for (const Case& c : cases) {
        const CSameVolumeCheck::Result r = check.check(c.source, c.output);
        QVERIFY2(r.verdict == c.verdict,
                 qPrintable(QStringLiteral("%1 -> %2: %3").arg(c.source, c.output, r.detail)));
    }

    // The command line refuses before anything is written, and recovers
    // beside an image without being told it may.
    const QString cli = QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli");
    const Command refused = runCommand(cli, {"recover", d + "/ntfs.img", d + "/fuse/out"});
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(refused.err.contains("refusing to recover into " + d + "/fuse/out"), qPrintable(refused.err));
    QVERIFY(!QFileInfo::exists(d + "/fuse/out"));
    const Command beside = runCommand(cli, {"recover", d + "/ntfs.img", d + "/out"});
    QVERIFY2(beside.exitCode == 0, qPrintable(beside.err));
}

void TestSameVolumeCheck::realOverlayAndBtrfsMounts()
{
    if (::geteuid() != 0)
        QSKIP("loop devices and mounts need root");
    if (QStandardPaths::findExecutable("mkfs.btrfs").isEmpty() || QStandardPaths::findExecutable("mkfs.ext4").isEmpty())
        QSKIP("mkfs.btrfs or mkfs.ext4 is missing (scripts/install-deps.sh installs btrfs-progs and e2fsprogs)");
    QTemporaryDir dir;
    const QString d = dir.path();
    Stack stack;
    QVERIFY(makeImage(d + "/e.img", 16, "mkfs.ext4", {"-q", "-F"}));
    QVERIFY(makeImage(d + "/b.img", 128, "mkfs.btrfs", {"-q", "-f"}));
    const QString extLoop = stack.attach(d + "/e.img");
    const QString btrfsLoop = stack.attach(d + "/b.img");
    if (extLoop.isEmpty() || btrfsLoop.isEmpty())
        QSKIP("no loop device can be made here (a container without loop devices)");
    QVERIFY(stack.mount({extLoop, d + "/ext"}));
    for (const char* folder : {"/ext/upper", "/ext/work", "/ext/lower", "/lower", "/upper", "/work"})
        QVERIFY(QDir().mkpath(d + folder));
    // The overlay writes into its upper folder on the image; the second
    // one only reads a lower folder there, but every layer counts.
    if (!stack.mount({"-t", "overlay", "overlay", "-o",
                      "lowerdir=" + d + "/lower,upperdir=" + d + "/ext/upper,workdir=" + d + "/ext/work",
                      d + "/merged"})
        || !stack.mount({"-t", "overlay", "overlay", "-o",
                         "lowerdir=" + d + "/ext/lower,upperdir=" + d + "/upper,workdir=" + d + "/work",
                         d + "/merged2"}))
        QSKIP("this kernel cannot mount an overlay");
    if (!stack.mount({"-t", "btrfs", btrfsLoop, d + "/btrfs"}))
        QSKIP("this kernel cannot mount btrfs");
    // A subvolume has a device number of its own that no table lists.
    QVERIFY(runCommand("btrfs", {"subvolume", "create", d + "/btrfs/sub"}).exitCode == 0);

    const CSameVolumeCheck check;
    struct Case
    {
        QString source;
        QString output;
        Verdict verdict;
    };
    const QList<Case> cases = {
        {d + "/e.img", d + "/merged/out", Verdict::Same},
        {d + "/e.img", d + "/merged2/out", Verdict::Same},
        {extLoop, d + "/merged/out", Verdict::Same},
        {d + "/b.img", d + "/btrfs/out", Verdict::Same},
        {d + "/b.img", d + "/btrfs/sub/out", Verdict::Same},
        {btrfsLoop, d + "/btrfs/sub/deeper/out", Verdict::Same},
        {d + "/b.img", d + "/merged/out", Verdict::Different},
        // Unrelated sources onto btrfs: nothing to refuse.
        {d + "/e.img", d + "/btrfs/sub/out", Verdict::Different},
        {extLoop, d + "/btrfs/sub/out", Verdict::Different},
        {extLoop, d + "/btrfs/out", Verdict::Different},
    };
    for (const Case& c : cases) {
        const CSameVolumeCheck::Result r = check.check(c.source, c.output);
        QVERIFY2(r.verdict == c.verdict,
                 qPrintable(QStringLiteral("%1 -> %2: %3").arg(c.source, c.output, r.detail)));
    }

    // The command line refuses before the image is touched, and recovers
    // from an unrelated device onto btrfs without being told it may.
    const QString cli = QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli");
    const QByteArray before = digestOf(d + "/e.img");
    const Command refused = runCommand(cli, {"recover", d + "/e.img", d + "/merged/out"});
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(refused.err.contains("refusing to recover into " + d + "/merged/out"), qPrintable(refused.err));
    QVERIFY(!QFileInfo::exists(d + "/merged/out"));
    QCOMPARE(digestOf(d + "/e.img"), before);
    const Command onBtrfs = runCommand(cli, {"recover", extLoop, d + "/btrfs/sub/out", "--fs", "none"});
    QVERIFY2(onBtrfs.exitCode == 0, qPrintable(onBtrfs.err));
}

QTEST_GUILESS_MAIN(TestSameVolumeCheck)
#include "tst_CSameVolumeCheck.moc"
