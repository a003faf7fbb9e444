#include "disk/CUDisksOpener.h"

#include "disk/CSystemBusProbe.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using Answer = CFileVolume::ServiceAnswer;

const char* const kService = "org.freedesktop.UDisks2";
const char* const kManagerPath = "/org/freedesktop/UDisks2/Manager";
const char* const kManagerInterface = "org.freedesktop.UDisks2.Manager";
const char* const kBlockInterface = "org.freedesktop.UDisks2.Block";
const char* const kBlockPathPrefix = "/org/freedesktop/UDisks2/block_devices/";
const char* const kUnknownMethod = "org.freedesktop.DBus.Error.UnknownMethod";
// How often a pending call is looked at while waiting for it.
constexpr unsigned long kPollMs = 40;
// The bus library ends a call at its timeout; this margin only covers a
// reply that never gets processed.
constexpr qint64 kGraceMs = 2000;

// A connection of our own for one request, made and dropped on the thread
// that asks, so nothing is shared with other threads or other requests.
class PrivateBus
{
public:
    PrivateBus()
        : m_name(QStringLiteral("tamsel-udisks-%1").arg(s_counter.fetch_add(1)))
        , m_bus(QDBusConnection::connectToBus(QDBusConnection::SystemBus, m_name))
    {
    }
    ~PrivateBus() { QDBusConnection::disconnectFromBus(m_name); }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    QDBusConnection& bus() { return m_bus; }

private:
    static std::atomic<int> s_counter;
    QString m_name;
    QDBusConnection m_bus;
};

std::atomic<int> PrivateBus::s_counter{0};

struct CallResult
{
    bool ok = false;
    Answer answer = Answer::Failed;
    QString errorName;
    QString detail;
    QDBusMessage reply;
};

Answer classify(const QString& errorName)
{
    if (errorName == QLatin1String("org.freedesktop.UDisks2.Error.NotAuthorizedDismissed"))
        return Answer::Dismissed;
    if (errorName.startsWith(QLatin1String("org.freedesktop.UDisks2.Error.NotAuthorized")))
        return Answer::Refused;
    if (errorName == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        errorName == QLatin1String("org.freedesktop.DBus.Error.Timeout") ||
        errorName == QLatin1String("org.freedesktop.DBus.Error.TimedOut"))
        return Answer::TimedOut;
    if (errorName == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        errorName == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
        errorName == QLatin1String("org.freedesktop.DBus.Error.Disconnected"))
        return Answer::Missing;
    return Answer::Failed;
}

// Sends `message` and waits for the answer, looking every few milliseconds
// whether the caller has given up.
CallResult call(QDBusConnection& bus, const QDBusMessage& message, int timeoutMs,
                const std::function<bool()>& stopped)
{
    CallResult result;
    QDBusPendingCall pending = bus.asyncCall(message, timeoutMs);
    QElapsedTimer clock;
    clock.start();
    while (!pending.isFinished()) {
        if (stopped && stopped()) {
            result.answer = Answer::Stopped;
            return result;
        }
        if (clock.elapsed() > timeoutMs + kGraceMs) {
            result.answer = Answer::TimedOut;
            return result;
        }
        QThread::msleep(kPollMs);
    }
    result.reply = pending.reply();
    if (result.reply.type() == QDBusMessage::ErrorMessage) {
        result.errorName = result.reply.errorName();
        result.detail = result.reply.errorMessage();
        result.answer = classify(result.errorName);
        return result;
    }
    result.ok = true;
    return result;
}

// The object path udisks2 gives a block device: its kernel name with every
// byte outside [A-Za-z0-9_] written as _xx. Used only when the service is
// too old to resolve paths itself.
QString derivedObjectPath(const struct stat& st)
{
    if (!S_ISBLK(st.st_mode))
        return QString();
    const QString link = QStringLiteral("/sys/dev/block/%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    const QByteArray kernelName = QFile::encodeName(QFileInfo(link).canonicalFilePath().section(QLatin1Char('/'), -1));
    if (kernelName.isEmpty())
        return QString();
    QString path = QString::fromLatin1(kBlockPathPrefix);
    for (const char c : kernelName) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (plain)
            path += QLatin1Char(c);
        else
            path += QStringLiteral("_%1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0'));
    }
    return path;
}

bool sameObject(const struct stat& asked, const struct stat& got)
{
    if (S_ISBLK(asked.st_mode))
        return S_ISBLK(got.st_mode) && got.st_rdev == asked.st_rdev;
    return S_ISREG(asked.st_mode) && S_ISREG(got.st_mode) && got.st_dev == asked.st_dev &&
           got.st_ino == asked.st_ino;
}

QString adviceFor(Answer answer)
{
    switch (answer) {
    case Answer::Dismissed:
    case Answer::Refused:
    case Answer::TimedOut:
        return QCoreApplication::translate("CUDisksOpener",
                                           "Scan again and give your password when asked, or run with sudo.");
    case Answer::Stopped:
        return QString();
    default:
        return QCoreApplication::translate("CUDisksOpener",
                                           "Raw access to a disk needs administrator rights: run with sudo, "
                                           "or add yourself to the 'disk' group.");
    }
}

} // namespace

CUDisksOpener::CUDisksOpener(int timeoutMs)
    : m_timeoutMs(timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs)
{
}

QString CUDisksOpener::answerText(CFileVolume::ServiceAnswer answer, const QString& detail)
{
    switch (answer) {
    case Answer::NotAsked:
        return QString();
    case Answer::Missing:
        return QCoreApplication::translate("CUDisksOpener", "no read permission, and the disk service udisks2 "
                                                            "that could grant it is not available");
    case Answer::UnknownDevice:
        return QCoreApplication::translate("CUDisksOpener",
                                           "no read permission, and udisks2 does not manage this device");
    case Answer::Dismissed:
        return QCoreApplication::translate("CUDisksOpener", "the authorisation was cancelled");
    case Answer::Refused:
        return QCoreApplication::translate("CUDisksOpener", "the authorisation was refused");
    case Answer::TimedOut:
        return QCoreApplication::translate("CUDisksOpener", "udisks2 did not answer in time");
    case Answer::Stopped:
        return QCoreApplication::translate("CUDisksOpener", "stopped while waiting for the authorisation");
    case Answer::UnsafeDescriptor:
        return QCoreApplication::translate("CUDisksOpener",
                                           "udisks2 handed back a descriptor that is not this device opened "
                                           "read-only, so it was not used");
    case Answer::Failed:
        break;
    }
    return detail.isEmpty() ? QCoreApplication::translate("CUDisksOpener", "udisks2 failed")
                            : QCoreApplication::translate("CUDisksOpener", "udisks2 failed: %1").arg(detail);
}

std::unique_ptr<CFileVolume> CUDisksOpener::open(const QString& path, CFileVolume::OpenError* failure,
                                                 const std::function<bool()>& stopped) const
{
    const CFileVolume::OpenError refusal = failure ? *failure : CFileVolume::OpenError();
    auto fail = [&](Answer answer, const QString& detail) -> std::unique_ptr<CFileVolume> {
        // udisks2 serves devices only: for an image file it does not know,
        // our own reason (the file's permissions) is the one that helps.
        const bool imageFile = refusal.error != 0 && refusal.kind == CFileVolume::SourceKind::RegularFile;
        if (failure && imageFile && (answer == Answer::Missing || answer == Answer::UnknownDevice))
            return nullptr;
        if (failure) {
            failure->error = EACCES;
            failure->service = answer;
            failure->serviceDetail = detail;
            const QString advice = adviceFor(answer);
            failure->reason = QCoreApplication::translate("CUDisksOpener", "cannot open %1: %2.")
                                  .arg(path, answerText(answer, detail)) +
                              (advice.isEmpty() ? QString() : QLatin1Char(' ') + advice);
        }
        return nullptr;
    };

    // What the path names now: the descriptor must be this very object.
    // udisks2 opens block devices only, so for anything else the bus is
    // not even reached.
    struct stat asked;
    if (::stat(QFile::encodeName(path).constData(), &asked) != 0 || !S_ISBLK(asked.st_mode))
        return fail(Answer::UnknownDevice, QString());

    // The bus library's connect has no deadline and cannot be stopped:
    // only a bus that has just answered is handed to it.
    const int connectTimeoutMs = std::min(m_timeoutMs, kConnectTimeoutMs);
    const CSystemBusProbe::Outcome reached = CSystemBusProbe().probe(connectTimeoutMs, stopped);
    switch (reached) {
    case CSystemBusProbe::Outcome::Answered:
    case CSystemBusProbe::Outcome::NotProbed:
        break;
    case CSystemBusProbe::Outcome::Stopped:
        return fail(Answer::Stopped, QString());
    case CSystemBusProbe::Outcome::Silent:
        return fail(Answer::Failed, CSystemBusProbe::outcomeText(reached, connectTimeoutMs));
    case CSystemBusProbe::Outcome::Refused:
    case CSystemBusProbe::Outcome::Unreachable:
        return fail(Answer::Missing, CSystemBusProbe::outcomeText(reached, connectTimeoutMs));
    }

    PrivateBus connection;
    QDBusConnection& bus = connection.bus();
    if (!bus.isConnected())
        return fail(Answer::Missing, bus.lastError().message());
    if (!(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing))
        return fail(Answer::Failed, QStringLiteral("the system bus cannot pass descriptors"));

    QDBusMessage resolve = QDBusMessage::createMethodCall(QString::fromLatin1(kService),
                                                          QString::fromLatin1(kManagerPath),
                                                          QString::fromLatin1(kManagerInterface),
                                                          QStringLiteral("ResolveDevice"));
    QVariantMap device;
    device.insert(QStringLiteral("path"), path);
    resolve << device << QVariantMap();
    const CallResult resolved = call(bus, resolve, m_timeoutMs, stopped);
    QString object;
    if (resolved.ok) {
        const QList<QDBusObjectPath> objects =
            qdbus_cast<QList<QDBusObjectPath>>(resolved.reply.arguments().value(0));
        if (!objects.isEmpty())
            object = objects.first().path();
    } else if (resolved.errorName == QLatin1String(kUnknownMethod)) {
        object = derivedObjectPath(asked);
    } else {
        return fail(resolved.answer, resolved.detail);
    }
    if (object.isEmpty())
        return fail(Answer::UnknownDevice, QString());

    // Interaction allowed: this is the call on which polkit asks.
    QDBusMessage request = QDBusMessage::createMethodCall(QString::fromLatin1(kService), object,
                                                          QString::fromLatin1(kBlockInterface),
                                                          QStringLiteral("OpenDevice"));
    request << QStringLiteral("r") << QVariantMap();
    request.setInteractiveAuthorizationAllowed(true);
    CallResult opened = call(bus, request, m_timeoutMs, stopped);
    if (!opened.ok && opened.errorName == QLatin1String(kUnknownMethod)) {
        // udisks2 before 2.7.3 knows only the backup flavour, read-only too.
        QDBusMessage backup = QDBusMessage::createMethodCall(QString::fromLatin1(kService), object,
                                                             QString::fromLatin1(kBlockInterface),
                                                             QStringLiteral("OpenForBackup"));
        backup << QVariantMap();
        backup.setInteractiveAuthorizationAllowed(true);
        opened = call(bus, backup, m_timeoutMs, stopped);
    }
    if (!opened.ok)
        return fail(opened.answer, opened.detail);

    const QDBusUnixFileDescriptor handed = opened.reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    if (!handed.isValid())
        return fail(Answer::Failed, QStringLiteral("no descriptor in the answer"));
    // The message owns its copy; ours lives as long as the volume.
    const int fd = ::fcntl(handed.fileDescriptor(), F_DUPFD_CLOEXEC, 3);
    if (fd < 0)
        return fail(Answer::Failed, QString::fromLocal8Bit(std::strerror(errno)));

    struct stat got;
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &got) != 0 || flags < 0 || (flags & O_ACCMODE) != O_RDONLY || !sameObject(asked, got)) {
        ::close(fd);
        return fail(Answer::UnsafeDescriptor, QString());
    }
    CFileVolume::OpenError adoptError;
    std::unique_ptr<CFileVolume> volume = CFileVolume::adopt(fd, path, &adoptError);
    if (!volume)
        return fail(Answer::UnsafeDescriptor, adoptError.reason);
    return volume;
}
