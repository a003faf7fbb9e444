#include "disk/CSystemBusProbe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Outcome = CSystemBusProbe::Outcome;

const char* const kDefaultAddress = "unix:path=/var/run/dbus/system_bus_socket";
// How often the caller's stop is looked at while waiting.
constexpr int kSliceMs = 40;
// A bus message's fixed header: endianness, type, flags, version, body
// length, serial, then the length of the header field array.
constexpr int kFixedHeaderBytes = 16;
constexpr char kMethodCall = 1;
constexpr char kMethodReturn = 2;
constexpr char kError = 3;
constexpr char kProtocolVersion = 1;
// Header field codes.
constexpr char kFieldPath = 1;
constexpr char kFieldInterface = 2;
constexpr char kFieldMember = 3;
constexpr char kFieldDestination = 6;
// An authentication line longer than this is no bus talking.
constexpr int kMaxLineBytes = 512;

class Socket
{
public:
    Socket()
        : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0))
    {
    }
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

void pad(QByteArray* bytes, int alignment)
{
    while (bytes->size() % alignment != 0)
        bytes->append('\0');
}

void appendUint32(QByteArray* bytes, quint32 value)
{
    char raw[4];
    qToLittleEndian(value, raw);
    bytes->append(raw, 4);
}

// org.freedesktop.DBus.Hello, the first call every client makes, in the
// little-endian wire format.
QByteArray helloMessage()
{
    QByteArray fields;
    auto field = [&fields](char code, char type, const QByteArray& value) {
        pad(&fields, 8); // each field is a struct
        fields.append(code);
        fields.append('\1'); // the variant's signature: one type
        fields.append(type);
        fields.append('\0');
        appendUint32(&fields, static_cast<quint32>(value.size()));
        fields.append(value);
        fields.append('\0');
    };
    field(kFieldPath, 'o', QByteArrayLiteral("/org/freedesktop/DBus"));
    field(kFieldDestination, 's', QByteArrayLiteral("org.freedesktop.DBus"));
    field(kFieldInterface, 's', QByteArrayLiteral("org.freedesktop.DBus"));
    field(kFieldMember, 's', QByteArrayLiteral("Hello"));

    QByteArray message;
    message.append('l');
    message.append(kMethodCall);
    message.append('\0');
    message.append(kProtocolVersion);
    appendUint32(&message, 0); // no body
    appendUint32(&message, 1); // serial
    appendUint32(&message, static_cast<quint32>(fields.size()));
    message.append(fields);
    pad(&message, 8); // the header ends on an 8-byte boundary
    return message;
}

class Conversation
{
public:
    Conversation(int fd, int timeoutMs, const std::function<bool()>& stopped)
        : m_fd(fd)
        , m_timeoutMs(timeoutMs)
        , m_stopped(stopped)
    {
        m_clock.start();
    }

    // Waits until the socket is ready for `events`; false with the
    // outcome set when time runs out, the caller stops, or it fails.
    bool waitFor(short events)
    {
        for (;;) {
            if (m_stopped && m_stopped()) {
                m_outcome = Outcome::Stopped;
                return false;
            }
            const qint64 left = m_timeoutMs - m_clock.elapsed();
            if (left <= 0) {
                m_outcome = Outcome::Silent;
                return false;
            }
            struct pollfd p = {m_fd, events, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(std::min<qint64>(left, kSliceMs)));
            if (ready > 0)
                return true; // an error or hang-up shows in the read or write
            if (ready < 0 && errno != EINTR) {
                m_outcome = Outcome::Refused;
                return false;
            }
        }
    }

    bool send(const QByteArray& bytes)
    {
        int sent = 0;
        while (sent < bytes.size()) {
            if (!waitFor(POLLOUT))
                return false;
            const ssize_t n = ::send(m_fd, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent),
                                     MSG_NOSIGNAL);
            if (n > 0)
                sent += static_cast<int>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                m_outcome = Outcome::Refused;
                return false;
            }
        }
        return true;
    }

    // Reads until `done` says the bytes so far are enough, or at most
    // `limit` bytes.
    bool receive(QByteArray* bytes, const std::function<bool(const QByteArray&)>& done, int limit)
    {
        char buffer[256];
        while (!done(*bytes)) {
            if (bytes->size() >= limit) {
                m_outcome = Outcome::Refused;
                return false;
            }
            if (!waitFor(POLLIN))
                return false;
            const size_t room = std::min(sizeof buffer, static_cast<size_t>(limit - bytes->size()));
            const ssize_t n = ::recv(m_fd, buffer, room, 0);
            if (n > 0) {
                bytes->append(buffer, static_cast<int>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                m_outcome = Outcome::Refused;
                return false;
            }
        }
        return true;
    }

    Outcome outcome() const { return m_outcome; }

private:
    int m_fd;
    int m_timeoutMs;
    const std::function<bool()>& m_stopped;
    QElapsedTimer m_clock;
    Outcome m_outcome = Outcome::Refused;
};

} // namespace

QByteArray CSystemBusProbe::address()
{
    const QByteArray set = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    return set.isEmpty() ? QByteArray(kDefaultAddress) : set;
}

QByteArray CSystemBusProbe::socketOf(const QByteArray& address, bool* abstract)
{
    *abstract = false;
    const QByteArray first = address.split(';').value(0);
    if (!first.startsWith("unix:"))
        return QByteArray();
    const QList<QByteArray> pairs = first.mid(5).split(',');
    for (const QByteArray& pair : pairs) {
        const int equals = pair.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = pair.left(equals);
        if (key != "path" && key != "abstract")
            continue;
        *abstract = key == "abstract";
        return QByteArray::fromPercentEncoding(pair.mid(equals + 1));
    }
    return QByteArray();
}

CSystemBusProbe::Outcome CSystemBusProbe::probe(int timeoutMs, const std::function<bool()>& stopped) const
{
    bool abstract = false;
    const QByteArray path = socketOf(address(), &abstract);
    struct sockaddr_un where;
    std::memset(&where, 0, sizeof where);
    where.sun_family = AF_UNIX;
    // An abstract name starts with a NUL byte.
    const int offset = abstract ? 1 : 0;
    if (path.isEmpty() || path.size() + offset >= static_cast<int>(sizeof where.sun_path))
        return Outcome::NotProbed;
    std::memcpy(where.sun_path + offset, path.constData(), static_cast<size_t>(path.size()));
    const socklen_t length = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + offset + path.size()
                                                    + (abstract ? 0 : 1));

    Socket socket;
    if (socket.fd() < 0)
        return Outcome::Unreachable;
    if (::connect(socket.fd(), reinterpret_cast<const struct sockaddr*>(&where), length) != 0
        && errno != EINPROGRESS && errno != EAGAIN)
        return Outcome::Unreachable;

    Conversation talk(socket.fd(), timeoutMs, stopped);
    // The credentials byte, then the EXTERNAL mechanism: our uid in decimal,
    // hex-encoded (the bus checks it against the socket's peer).
    const QByteArray uid = QByteArray::number(static_cast<qulonglong>(::geteuid())).toHex();
    if (!talk.send(QByteArray(1, '\0') + "AUTH EXTERNAL " + uid + "\r\n"))
        return talk.outcome();
    QByteArray line;
    if (!talk.receive(&line, [](const QByteArray& b) { return b.contains("\r\n"); }, kMaxLineBytes))
        return talk.outcome();
    if (!line.startsWith("OK "))
        return Outcome::Refused;
    if (!talk.send(QByteArrayLiteral("BEGIN\r\n") + helloMessage()))
        return talk.outcome();
    QByteArray reply;
    if (!talk.receive(&reply, [](const QByteArray& b) { return b.size() >= kFixedHeaderBytes; }, kFixedHeaderBytes))
        return talk.outcome();
    const bool message = (reply[0] == 'l' || reply[0] == 'B') && (reply[1] == kMethodReturn || reply[1] == kError);
    return message ? Outcome::Answered : Outcome::Refused;
}

QString CSystemBusProbe::outcomeText(Outcome outcome, int timeoutMs)
{
    const QString where = QString::fromLocal8Bit(address());
    switch (outcome) {
    case Outcome::Silent:
        return QCoreApplication::translate("CSystemBusProbe",
                                           "the system bus (%1) accepted the connection but did not answer "
                                           "within %2 s; it may be hung (restarting dbus, or the computer, "
                                           "mends that)")
            .arg(where)
            .arg((timeoutMs + 999) / 1000);
    case Outcome::Refused:
        return QCoreApplication::translate("CSystemBusProbe", "the system bus (%1) refused the connection")
            .arg(where);
    case Outcome::Unreachable:
        return QCoreApplication::translate("CSystemBusProbe", "nothing listens at the system bus address %1")
            .arg(where);
    case Outcome::Stopped:
    case Outcome::Answered:
    case Outcome::NotProbed:
        break;
    }
    return QString();
}
