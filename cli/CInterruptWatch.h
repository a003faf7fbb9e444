#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

// Ctrl-C (SIGINT) and SIGTERM for the command line: the first one asks the
// running scan or recovery to stop cleanly (a recovery finishes the file it
// is writing, so nothing half-written is left looking recovered); a second
// one ends the program at once.
class CInterruptWatch : public QObject
{
    Q_OBJECT
public:
    static void install();
    static bool interrupted();

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
