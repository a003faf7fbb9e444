#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

// Ctrl-C (SIGINT) and SIGTERM for the command line: the first one asks the
// running scan or recovery to stop cleanly (a recovery finishes the file it
// is writing); a second one ends the program at once with status 130, and
// removes the file being written (which is still under its partial name,
// so nothing half-written is ever left looking recovered).
class CInterruptWatch : public QObject
{
    Q_OBJECT
public:
    static void install();
    static bool interrupted();
    // The unfinished file an abort removes; empty for none. Called on the
    // main thread only.
    static void setPartialFile(const QByteArray& path);

    // Calls `onInterrupt` once, on this thread's event loop, as soon as the
    // first signal has come (at once if it already has).
    explicit CInterruptWatch(std::function<void()> onInterrupt, QObject* parent = nullptr);
    ~CInterruptWatch() override;

private:
    void fire();

    std::function<void()> m_onInterrupt;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_fired = false;
};
