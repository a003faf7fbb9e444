// Reading a device through udisks2, against a stand-in for udisks2 made
// with python-dbusmock on a private system bus that this test starts.
//
// The suite runs as root, for whom every open succeeds. So that our own
// open fails the way a user's does, the devices are nodes of mode 0000 made
// for two loop devices (one holding documents, one blank), and this process
// gives up the capabilities that override file permissions
// (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH) in its effective set; the command
// line runs under setpriv without them. The mock, started before, keeps
// them and opens the nodes as udisks2 opens a device.

#include "app/CChoiceDiskWnd.h"
#include "app/CMainWindow.h"
#include "app/CParentWindow.h"
#include "app/Orvik.h"
#include "app/CDiskButton.h"
#include "disk/CDriveHealth.h"
#include "disk/CPartitionList.h"
#include "disk/CUDisksOpener.h"
#include "scan/CRecoveryControl.h"

#include "app/AppTestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QLabel>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Answer = CFileVolume::ServiceAnswer;

const char* const kDocuments[] = {"pdf_lo_writer_text.pdf", "docx_python-docx.docx"};
// Where each document starts in the test device, in bytes.
const qint64 kOffsets[] = {64 * 1024, 512 * 1024};
constexpr qint64 kDeviceBytes = 2 * 1024 * 1024;

bool dropPermissionOverride()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        data[cap / 32].effective &= ~(1u << (cap % 32));
    return ::syscall(SYS_capset, &header, data) == 0;
}

bool writeImage(const QString& path, bool withDocuments)
{
    QByteArray bytes(kDeviceBytes, '\0');
    if (withDocuments) {
        for (int i = 0; i < 2; ++i) {
            QFile doc(QStringLiteral(TAMSEL_TEST_DATA "/") + QLatin1String(kDocuments[i]));
            if (!doc.open(QIODevice::ReadOnly))
                return false;
            const QByteArray content = doc.readAll();
            bytes.replace(static_cast<int>(kOffsets[i]), content.size(), content);
        }
    }
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

// A loop device of an image, gone however the test ends: detached while
// this descriptor holds it open, the kernel clears it at the last close,
// which a killed process does too.
class LoopDevice
{
public:
    explicit LoopDevice(const QString& image)
    {
        QProcess losetup;
        losetup.start(QStringLiteral("losetup"), {QStringLiteral("--find"), QStringLiteral("--show"), image});
        if (!losetup.waitForFinished(30000) || losetup.exitCode() != 0)
            return;
        const QString path = QString::fromUtf8(losetup.readAllStandardOutput()).trimmed();
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QProcess::execute(QStringLiteral("losetup"), {QStringLiteral("--detach"), path});
        if (m_fd >= 0)
            m_path = path;
    }
    ~LoopDevice()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    QString path() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};

// A node of mode 0000 for the block device at `device`.
bool makeNode(const QString& path, const QString& device)
{
    struct stat st;
    if (::stat(QFile::encodeName(device).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return false;
    const QByteArray name = QFile::encodeName(path);
    return ::mknod(name.constData(), S_IFBLK, st.st_rdev) == 0 && ::chmod(name.constData(), 0) == 0;
}

// A system bus that takes connections and never says a word: a listening
// socket nobody accepts on, and whatever connects is held, unanswered.
class SilentBus
{
public:
    explicit SilentBus(const QString& path)
        : m_path(path)
        , m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        struct sockaddr_un where = {};
        where.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        if (m_fd < 0 || name.size() >= int(sizeof where.sun_path))
            return;
        std::memcpy(where.sun_path, name.constData(), size_t(name.size()));
        if (::bind(m_fd, reinterpret_cast<struct sockaddr*>(&where), sizeof where) != 0 || ::listen(m_fd, 16) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~SilentBus()
    {
        for (const int fd : m_held)
            ::close(fd);
        if (m_fd >= 0)
            ::close(m_fd);
        QFile::remove(m_path);
    }
    SilentBus(const SilentBus&) = delete;
    SilentBus& operator=(const SilentBus&) = delete;

    bool isListening() const { return m_fd >= 0; }
    QString address() const { return QStringLiteral("unix:path=") + m_path; }
    // Takes a connection waiting within `ms`; false when none came.
    bool takeConnection(int ms)
    {
        struct pollfd p = {m_fd, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1)
            return false;
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return false;
        m_held.append(fd);
        return true;
    }
    int connections() const { return m_held.size(); }

private:
    QString m_path;
    int m_fd;
    QList<int> m_held;
};

// The command line as a user without the rights to read the devices.
QStringList asUser(const QStringList& cliArguments)
{
    QStringList args;
    if (::geteuid() == 0)
        args << QStringLiteral("setpriv") << QStringLiteral("--bounding-set=-dac_override,-dac_read_search")
             << QStringLiteral("--");
    return args << QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli") << cliArguments;
}

} // namespace

class TestUDisksAccess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    // First: a silent bus must be the first this process meets.
    void silentBusEndsTheWait();
    void answers_data();
    void answers();
    void stopEndsTheWait();
    void windowNamesTheRefusal();
    void commandLineScansThroughTheService();
    void failingDrivesAreMarked();

private:
    QString device(const char* name) const { return m_dir.filePath(QLatin1String(name)); }
    bool startBus();
    bool startMock();

    QTemporaryDir m_dir;
    std::unique_ptr<LoopDevice> m_documents;
    std::unique_ptr<LoopDevice> m_blank;
    QProcess m_bus;
    QProcess m_mock;
    QString m_address;
};

bool TestUDisksAccess::startBus()
{
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QStringLiteral(
                   "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n  <type>system</type>\n  <listen>unix:path=%1</listen>\n"
                   "  <auth>EXTERNAL</auth>\n  <policy context=\"default\">\n"
                   "    <allow user=\"*\"/>\n    <allow own=\"*\"/>\n"
                   "    <allow send_destination=\"*\"/>\n    <allow receive_sender=\"*\"/>\n  </policy>\n</busconfig>\n")
                   .arg(m_dir.filePath(QStringLiteral("system_bus_socket")))
                   .toUtf8());
    file.close();
    m_bus.setStandardErrorFile(QProcess::nullDevice());
    // setpriv --pdeathsig: the bus and the mock end with this test even
    // when it dies on a timeout or a sanitizer's abort.
    m_bus.start(QStringLiteral("setpriv"), {QStringLiteral("--pdeathsig"), QStringLiteral("KILL"), QStringLiteral("--"),
                                            QStringLiteral("dbus-daemon"), QStringLiteral("--config-file=") + config,
                                            QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!m_bus.waitForStarted(5000))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (!m_bus.canReadLine() && clock.elapsed() < 10000)
        m_bus.waitForReadyRead(200);
    m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
    return !m_address.isEmpty();
}

bool TestUDisksAccess::startMock()
{
    QJsonArray devices;
    auto add = [&](const char* name, const char* behaviour, const QString& other = QString(),
                   const QJsonObject& drive = QJsonObject()) {
        QJsonObject d{{QStringLiteral("path"), device(name)}, {QStringLiteral("behaviour"), QLatin1String(behaviour)}};
        if (!other.isEmpty())
            d.insert(QStringLiteral("other"), other);
        if (!drive.isEmpty())
            d.insert(QStringLiteral("drive"), drive);
        devices.append(d);
    };
    // Three drives: SMART says failing, SMART says well, an NVMe controller
    // that warns its spare is running out.
    add("granted", "grant", QString(), {{QStringLiteral("ata_failing"), true}, {QStringLiteral("bad_sectors"), 12}});
    add("old", "backup", QString(), {{QStringLiteral("ata_failing"), false}, {QStringLiteral("bad_sectors"), 0}});
    add("dismissed", "dismiss", QString(), {{QStringLiteral("nvme_warnings"), QJsonArray{QStringLiteral("spare")}}});
    add("writable", "writable");
    add("other", "other", device("granted"));
    add("hanging", "hang");
    // "unknown" is a device the mock does not manage.
    const QByteArray parameters = QJsonDocument(QJsonObject{{QStringLiteral("devices"), devices}}).toJson();

    m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_mock.setStandardOutputFile(QProcess::nullDevice());
    m_mock.start(QStringLiteral("setpriv"),
                 {QStringLiteral("--pdeathsig"), QStringLiteral("KILL"), QStringLiteral("--"),
                  QStringLiteral("/usr/bin/python3"), QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                  QStringLiteral("--template"), QStringLiteral(TAMSEL_SOURCE_DIR "/tests/disk/udisks2_mock.py"),
                  QStringLiteral("--parameters"), QString::fromUtf8(parameters)});
    if (!m_mock.waitForStarted(5000))
        return false;
    bool up = false;
    {
        QDBusConnection probe = QDBusConnection::connectToBus(m_address, QStringLiteral("probe"));
        QElapsedTimer clock;
        clock.start();
        while (!up && clock.elapsed() < 20000 && m_mock.state() == QProcess::Running) {
            up = probe.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.UDisks2"));
            if (!up)
                QTest::qWait(100);
        }
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("probe"));
    return up;
}

void TestUDisksAccess::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (::geteuid() != 0)
        QSKIP("needs root: the devices are nodes made for loop devices");
    QVERIFY(writeImage(m_dir.filePath(QStringLiteral("documents.img")), true));
    QVERIFY(writeImage(m_dir.filePath(QStringLiteral("blank.img")), false));
    m_documents.reset(new LoopDevice(m_dir.filePath(QStringLiteral("documents.img"))));
    m_blank.reset(new LoopDevice(m_dir.filePath(QStringLiteral("blank.img"))));
    if (m_documents->path().isEmpty() || m_blank->path().isEmpty())
        QSKIP("no loop device can be made here (a container without loop devices)");
    for (const char* name : {"granted", "old", "dismissed", "writable", "other", "hanging", "unknown"}) {
        const bool withDocuments = qstrcmp(name, "granted") == 0 || qstrcmp(name, "old") == 0;
        if (!makeNode(device(name), (withDocuments ? m_documents : m_blank)->path()))
            QSKIP("device nodes cannot be made here (a file system mounted nodev?)");
    }
    // An image file refused to the user, as a device is.
    QVERIFY(QFile::setPermissions(m_dir.filePath(QStringLiteral("documents.img")), QFileDevice::Permissions()));
    QVERIFY2(startBus(), "dbus-daemon did not start");
    // Read by the bus library when this process first connects.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
    QVERIFY2(startMock(), "the udisks2 mock did not come up");

    if (::geteuid() == 0)
        QVERIFY(dropPermissionOverride());
    const int fd = ::open(QFile::encodeName(device("granted")).constData(), O_RDONLY);
    QCOMPARE(fd, -1);
    QCOMPARE(errno, EACCES);
}

void TestUDisksAccess::cleanupTestCase()
{
    for (QProcess* p : {&m_mock, &m_bus}) {
        p->terminate();
        if (!p->waitForFinished(5000)) {
            p->kill();
            p->waitForFinished();
        }
    }
}

void TestUDisksAccess::answers_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("words");
    const int granted = static_cast<int>(Answer::NotAsked);
    QTest::newRow("granted") << "granted" << granted << QString();
    QTest::newRow("only OpenForBackup") << "old" << granted << QString();
    QTest::newRow("password dialog cancelled") << "dismissed" << int(Answer::Dismissed) << "cancelled";
    QTest::newRow("writable descriptor") << "writable" << int(Answer::UnsafeDescriptor) << "read-only";
    QTest::newRow("another object") << "other" << int(Answer::UnsafeDescriptor) << "read-only";
    QTest::newRow("unknown to udisks2") << "unknown" << int(Answer::UnknownDevice) << "does not manage";
    QTest::newRow("never answers") << "hanging" << int(Answer::TimedOut) << "in time";
}

void TestUDisksAccess::answers()
{
    QFETCH(QString, name);
    QFETCH(int, answer);
    QFETCH(QString, words);
    const QString path = m_dir.filePath(name);

    constexpr int timeoutMs = 600;
    QElapsedTimer clock;
    clock.start();
    CFileVolume::OpenError failure;
    std::unique_ptr<CFileVolume> volume = CUDisksOpener(timeoutMs).open(path, &failure);
    QVERIFY(clock.elapsed() < timeoutMs + 4000);

    if (answer == static_cast<int>(Answer::NotAsked)) {
        QVERIFY2(volume, qPrintable(failure.reason));
        QCOMPARE(volume->accessMode(), O_RDONLY);
        QCOMPARE(volume->length(), kDeviceBytes);
        QCOMPARE(volume->name(), path);
        char head[5] = {};
        QCOMPARE(volume->read(kOffsets[0], head, 4).bytes, int64_t(4));
        QCOMPARE(QByteArray(head), QByteArray("%PDF"));
        return;
    }
    QVERIFY(!volume);
    QCOMPARE(static_cast<int>(failure.service), answer);
    QCOMPARE(failure.error, EACCES);
    QVERIFY2(failure.reason.contains(path) && failure.reason.contains(words), qPrintable(failure.reason));
}

void TestUDisksAccess::stopEndsTheWait()
{
    // The window asks on the scan thread; a stop while the password dialog
    // is up ends the wait at once, without a failure notice.
    CRecoveryControl control;
    control.setServiceTimeout(60000);
    QSignalSpy finished(&control, &CRecoveryControl::scanThreadFinish);
    QSignalSpy failed(&control, &CRecoveryControl::notifyOpenFailed);
    QVERIFY(control.beginScan(device("hanging"), QString()));
    QTest::qWait(300);
    QVERIFY(control.isRunning());
    QElapsedTimer clock;
    clock.start();
    control.stopScan();
    QVERIFY(control.wait(5000));
    QVERIFY(clock.elapsed() < 2000);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(failed.count(), 0);
    QVERIFY(!control.diskHandle());
}

void TestUDisksAccess::windowNamesTheRefusal()
{
    CPartitionList::Probes named = apptest::partitionProbes(1);
    // The tile's device is the refusing stand-in itself.
    const QString path = device("dismissed");
    named.readLsblk = [path]() {
        return QStringLiteral("{\"blockdevices\":[{\"name\":\"sdz1\",\"path\":\"%1\",\"type\":\"part\","
                              "\"size\":2097152,\"fstype\":\"vfat\",\"fsver\":\"FAT32\",\"label\":\"Stick\","
                              "\"mountpoint\":null,\"rm\":true}]}")
            .arg(path)
            .toUtf8();
    };
    CParentWindow window(&named);
    CMainWindow* main = window.mainWindow();
    window.show();
    main->diskPage()->scanPartion(0, 0);
    Orvik* page = main->resultPage();
    QVERIFY(page);
    QTRY_VERIFY_WITH_TIMEOUT(page->failureNotice(), 10000);
    const QString text = page->failureNotice()->message();
    QVERIFY2(text.contains(path) && text.contains(QStringLiteral("授权被取消")), qPrintable(text));
    QVERIFY(page->doneMark()->isVisible());
    page->failureNotice()->confirmButton()->click();
}

void TestUDisksAccess::commandLineScansThroughTheService()
{
    // A user who may not read the device scans it all the same: setpriv
    // takes away the rights that let root read anything.
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_address);
    cli.setProcessEnvironment(env);
    QStringList args = asUser({QStringLiteral("scan"), device("granted"), QStringLiteral("--fs"), QStringLiteral("none"),
                               QStringLiteral("--tsv")});
    cli.start(args.takeFirst(), args);
    QVERIFY(cli.waitForFinished(60000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    QVERIFY2(cli.exitCode() == 0, qPrintable(QString::fromUtf8(cli.readAllStandardError())));
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].split(QLatin1Char('\t')).contains(QStringLiteral("PDF")) &&
                 lines[0].split(QLatin1Char('\t')).contains(QString::number(kOffsets[0] / 512)),
             qPrintable(out));
    QVERIFY2(lines[1].split(QLatin1Char('\t')).contains(QStringLiteral("DOCX")) &&
                 lines[1].split(QLatin1Char('\t')).contains(QString::number(kOffsets[1] / 512)),
             qPrintable(out));

    // An image file: udisks2 opens devices only, so the bus is not even
    // reached (a silent one here, that would hold a connect for ever), and
    // the file's own reason stands (its permissions).
    SilentBus silent(m_dir.filePath(QStringLiteral("silent_for_image")));
    QVERIFY(silent.isListening());
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), silent.address());
    cli.setProcessEnvironment(env);
    const QString image = m_dir.filePath(QStringLiteral("documents.img"));
    args = asUser({QStringLiteral("scan"), image});
    cli.start(args.takeFirst(), args);
    QVERIFY2(cli.waitForFinished(60000), "tamsel-cli waited on the bus for an image file");
    QCOMPARE(cli.exitCode(), 1);
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QVERIFY2(err.contains(image) && !err.contains(QStringLiteral("udisks2")), qPrintable(err));
    QVERIFY(!silent.takeConnection(0));
}

void TestUDisksAccess::silentBusEndsTheWait()
{
    // The bus library keeps the first address it reads for the whole
    // process, so this runs before anything here has reached the mock.
    SilentBus silent(m_dir.filePath(QStringLiteral("silent")));
    QVERIFY(silent.isListening());
    const QByteArray mockBus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", silent.address().toUtf8());
    struct Restore
    {
        QByteArray address;
        ~Restore() { qputenv("DBUS_SYSTEM_BUS_ADDRESS", address); }
    } restore{mockBus};

    // The window's worker: a stop while connecting ends the wait, with no
    // failure notice.
    {
        CRecoveryControl control;
        control.setServiceTimeout(60000);
        QSignalSpy finished(&control, &CRecoveryControl::scanThreadFinish);
        QSignalSpy failed(&control, &CRecoveryControl::notifyOpenFailed);
        QVERIFY(control.beginScan(device("granted"), QString()));
        QVERIFY(silent.takeConnection(20000));
        control.stopScan();
        QVERIFY(control.wait(5000));
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(failed.count(), 0);
    }

    // Alone, the wait ends at the timeout with words that say what is wrong.
    {
        constexpr int timeoutMs = 600;
        QElapsedTimer clock;
        clock.start();
        CFileVolume::OpenError failure;
        QVERIFY(!CUDisksOpener(timeoutMs).open(device("granted"), &failure));
        QVERIFY(clock.elapsed() < timeoutMs + 4000);
        QVERIFY2(failure.reason.contains(QStringLiteral("did not answer")), qPrintable(failure.reason));
    }

    // The command line: SIGTERM ends the wait (its own timeout is far off).
    SilentBus cliBus(m_dir.filePath(QStringLiteral("silent_cli")));
    QVERIFY(cliBus.isListening());
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), cliBus.address());
    cli.setProcessEnvironment(env);
    QStringList args = asUser({QStringLiteral("scan"), device("granted")});
    cli.start(args.takeFirst(), args);
    QVERIFY(cli.waitForStarted(20000) && cli.processId() > 0);
    QVERIFY(cliBus.takeConnection(20000));
    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QVERIFY2(cli.waitForFinished(CUDisksOpener::kConnectTimeoutMs / 2), "SIGTERM did not end the wait");
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 130);
}

// The disk page's tiles from udisks2's health: a drive SMART calls failing
// and an NVMe drive with a critical warning are marked, with the advice to
// image them first; a healthy drive and one udisks2 does not know are not.
void TestUDisksAccess::failingDrivesAreMarked()
{
    const QHash<QString, CDriveHealth::Health> health = CDriveHealth::query(5000);
    QVERIFY(health.value(device("granted")).failing);
    QCOMPARE(health.value(device("granted")).badSectors, qint64(12));
    QVERIFY(health.contains(device("old")));
    QVERIFY(!health.value(device("old")).worrying());
    QCOMPARE(health.value(device("dismissed")).warnings, QStringList{QStringLiteral("spare")});
    QVERIFY(health.value(device("dismissed")).failing);
    QVERIFY(!health.contains(device("unknown")));

    // Through the list the disk page shows.
    QJsonArray lsblk;
    for (const char* name : {"granted", "old", "dismissed", "unknown"})
        lsblk.append(QJsonObject{{QStringLiteral("name"), QLatin1String(name)},
                                 {QStringLiteral("path"), device(name)},
                                 {QStringLiteral("type"), QStringLiteral("part")},
                                 {QStringLiteral("size"), 64LL << 20},
                                 {QStringLiteral("rm"), false}});
    CPartitionList list;
    CPartitionList::Probes probes = CPartitionList::systemProbes();
    const QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("blockdevices"), lsblk}}).toJson();
    probes.readLsblk = [json]() { return json; };
    probes.bootSectorFileSystem = [](const QString&) { return QString(); };
    list.setProbes(probes);
    list.enumerate();
    QCOMPARE(list.count(), 4);
    for (const CPartitionInfo* p : list.partitions()) {
        const bool warns = !p->devicePath.endsWith(QLatin1String("old")) && !p->devicePath.endsWith(QLatin1String("unknown"));
        QCOMPARE(p->healthWarning(), warns);
        CDiskButton tile;
        tile.setPartition(p);
        QCOMPARE(tile.nameToolTip().contains(QLatin1String("tamsel-cli image")), warns);
    }
}

QTEST_MAIN(TestUDisksAccess)
#include "tst_udisks_access.moc"
