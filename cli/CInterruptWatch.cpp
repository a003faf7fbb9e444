#include "cli/CInterruptWatch.h"

#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<int> g_signals{0};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");
static_assert(std::atomic<int>::is_always_lock_free, "the count is kept by a signal handler");
// The classic self-pipe: a handler may only do async-signal-safe things, and
// write() is one; the event loop hears the byte at once.
int g_pipe[2] = {-1, -1};

// The partial file to remove on abort, readable from the handler: two
// fixed buffers, the one in use published by index, so that the handler
// never reads a path while it is being replaced.
constexpr size_t kPathCapacity = 4096;
char g_partial[2][kPathCapacity];
std::atomic<int> g_partialSlot{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the slot is read from a signal handler");

void say(const char* text)
{
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, text, std::strlen(text));
}

void onSignal(int)
{
    if (g_signals.fetch_add(1) >= 1) {
        // The second one: abort now. unlink() and _exit() are
        // async-signal-safe; no destructor of ours runs.
        const int slot = g_partialSlot.load();
        if (slot >= 0 && ::unlink(g_partial[slot]) == 0)
            say("\ntamsel-cli: aborted; the unfinished file was removed.\n");
        else
            say("\ntamsel-cli: aborted.\n");
        ::_exit(130);
    }
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
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool CInterruptWatch::interrupted()
{
    return g_interrupted.load();
}

void CInterruptWatch::setPartialFile(const QByteArray& path)
{
    if (path.isEmpty() || static_cast<size_t>(path.size()) >= kPathCapacity) {
        g_partialSlot.store(-1);
        return;
    }
    const int slot = g_partialSlot.load() == 0 ? 1 : 0;
    std::memcpy(g_partial[slot], path.constData(), static_cast<size_t>(path.size()) + 1);
    g_partialSlot.store(slot);
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
