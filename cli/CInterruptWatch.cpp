#include "cli/CInterruptWatch.h"

#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");
// The classic self-pipe: a handler may only do async-signal-safe things, and
// write() is one; the event loop hears the byte at once.
int g_pipe[2] = {-1, -1};

void onSignal(int)
{
    g_interrupted.store(true);
    if (g_pipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    }
}

} // namespace

void CInterruptWatch::install()
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_pipe[0] = g_pipe[1] = -1;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // The second signal takes the default action: the program ends.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool CInterruptWatch::interrupted()
{
    return g_interrupted.load();
}

CInterruptWatch::CInterruptWatch(std::function<void()> onInterrupt, QObject* parent)
    : QObject(parent)
    , m_onInterrupt(std::move(onInterrupt))
{
    if (g_pipe[0] >= 0) {
        m_notifier.reset(new QSocketNotifier(g_pipe[0], QSocketNotifier::Read));
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this]() {
            char drain[64];
            while (::read(g_pipe[0], drain, sizeof drain) > 0) {
            }
            fire();
        });
    }
    if (interrupted())
        QTimer::singleShot(0, this, [this]() { fire(); });
}

CInterruptWatch::~CInterruptWatch() = default;

void CInterruptWatch::fire()
{
    if (m_fired || !interrupted())
        return;
    m_fired = true;
    if (m_onInterrupt)
        m_onInterrupt();
}
