#include "disk/CDriveHealth.h"

#include "disk/CSystemBusProbe.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <atomic>

// udisks2's answer to GetManagedObjects: a{oa{sa{sv}}}.
using DBusInterfaces = QMap<QString, QVariantMap>;
using DBusObjects = QMap<QDBusObjectPath, DBusInterfaces>;
Q_DECLARE_METATYPE(DBusInterfaces)
Q_DECLARE_METATYPE(DBusObjects)

namespace {

constexpr char kService[] = "org.freedesktop.UDisks2";
constexpr char kRoot[] = "/org/freedesktop/UDisks2";
constexpr char kBlock[] = "org.freedesktop.UDisks2.Block";
constexpr char kAta[] = "org.freedesktop.UDisks2.Drive.Ata";
constexpr char kNvme[] = "org.freedesktop.UDisks2.NVMe.Controller";

using Interfaces = DBusInterfaces;
using Objects = DBusObjects;

// A connection of our own, so that nothing else's use of the system bus
// sees it, closed however the query ends.
class OwnBus
{
public:
    OwnBus()
        : m_name(QStringLiteral("tamsel-health-%1").arg(s_counter.fetch_add(1)))
        , m_bus(QDBusConnection::connectToBus(QDBusConnection::SystemBus, m_name))
    {
    }
    ~OwnBus() { QDBusConnection::disconnectFromBus(m_name); }
    OwnBus(const OwnBus&) = delete;
    OwnBus& operator=(const OwnBus&) = delete;
    QDBusConnection& bus() { return m_bus; }

private:
    static std::atomic<int> s_counter;
    QString m_name;
    QDBusConnection m_bus;
};

std::atomic<int> OwnBus::s_counter{0};

// Block.Device is a NUL-ended byte string.
QString devicePath(const QVariant& value)
{
    QByteArray bytes = value.toByteArray();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QString::fromLocal8Bit(bytes);
}

} // namespace

QHash<QString, CDriveHealth::Health> CDriveHealth::query(int timeoutMs)
{
    QHash<QString, Health> out;
    // The bus library's connect has no deadline: only a bus that has just
    // answered is handed to it.
    const CSystemBusProbe::Outcome reached = CSystemBusProbe().probe(timeoutMs, {});
    if (reached != CSystemBusProbe::Outcome::Answered && reached != CSystemBusProbe::Outcome::NotProbed)
        return out;
    qDBusRegisterMetaType<Interfaces>();
    qDBusRegisterMetaType<Objects>();
    OwnBus connection;
    if (!connection.bus().isConnected())
        return out;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kRoot),
                                                       QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                                       QStringLiteral("GetManagedObjects"));
    const QDBusMessage reply = connection.bus().call(call, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return out;
    const Objects objects = qdbus_cast<Objects>(reply.arguments().first().value<QDBusArgument>());

    // Each drive's health first, then every block device on a drive.
    QHash<QString, Health> drives;
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        Health h;
        const Interfaces& interfaces = it.value();
        if (interfaces.contains(QString::fromLatin1(kAta))) {
            const QVariantMap ata = interfaces.value(QString::fromLatin1(kAta));
            if (ata.value(QStringLiteral("SmartEnabled"), true).toBool() && ata.contains(QStringLiteral("SmartFailing"))) {
                h.known = true;
                h.failing = ata.value(QStringLiteral("SmartFailing")).toBool();
                bool ok = false;
                const qlonglong bad = ata.value(QStringLiteral("SmartNumBadSectors")).toLongLong(&ok);
                h.badSectors = ok ? bad : -1;
            }
        }
        if (interfaces.contains(QString::fromLatin1(kNvme))) {
            const QVariantMap nvme = interfaces.value(QString::fromLatin1(kNvme));
            if (nvme.contains(QStringLiteral("SmartCriticalWarning"))) {
                h.known = true;
                h.warnings = nvme.value(QStringLiteral("SmartCriticalWarning")).toStringList();
                h.failing = h.failing || !h.warnings.isEmpty();
            }
        }
        if (h.known)
            drives.insert(it.key().path(), h);
    }
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const QVariantMap block = it.value().value(QString::fromLatin1(kBlock));
        if (block.isEmpty())
            continue;
        const QString drive = qvariant_cast<QDBusObjectPath>(block.value(QStringLiteral("Drive"))).path();
        const QString path = devicePath(block.value(QStringLiteral("Device")));
        if (!path.isEmpty() && drives.contains(drive))
            out.insert(path, drives.value(drive));
    }
    return out;
}
