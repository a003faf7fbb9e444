#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Finds out, within a deadline, whether the system bus answers at all,
// before the bus library is let near it: that library waits without end on
// a bus that accepts a connection and then never speaks (a hung or stopped
// dbus-daemon), and neither a stop nor SIGTERM can end that wait. The probe
// speaks the bus's opening itself (authentication, then Hello) on a
// non-blocking socket, looking every few milliseconds whether the caller
// has given up.
class CSystemBusProbe
{
public:
    enum class Outcome
    {
        Answered,    // the bus authenticated us and answered Hello
        Silent,      // it accepted the connection and did not answer in time
        Refused,     // it rejected us or hung up
        Unreachable, // nothing listens at its address
        Stopped,     // the caller gave up
        NotProbed,   // an address this probe does not speak (tcp, launchd)
    };

    // Where the bus library looks: $DBUS_SYSTEM_BUS_ADDRESS, else the
    // standard socket.
    static QByteArray address();
    // The socket of a "unix:path=..." or "unix:abstract=..." address (the
    // first of a ';' list), percent-escapes undone; `abstract` tells which.
    // Empty for any other transport.
    static QByteArray socketOf(const QByteArray& address, bool* abstract);

    Outcome probe(int timeoutMs, const std::function<bool()>& stopped) const;

    // English words for an outcome other than Answered, for messages.
    static QString outcomeText(Outcome outcome, int timeoutMs);
};
