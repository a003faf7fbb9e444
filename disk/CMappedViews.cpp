#include "disk/CMappedViews.h"

#include <atomic>
#include <mutex>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct Slot
{
    std::atomic<uintptr_t> start{0};
    std::atomic<size_t> length{0};
    std::atomic<int64_t> lost{0};
};

Slot g_slots[CMappedViews::kSlots];
struct sigaction g_previous;
std::once_flag g_installed;

constexpr uintptr_t kPage = 4096;

// Only what is safe in a signal handler: atomics and raw system calls.
void onBus(int signal, siginfo_t* info, void* context)
{
    (void)context;
    const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Slot& slot : g_slots) {
        const uintptr_t start = slot.start.load();
        const size_t length = slot.length.load();
        if (start == 0 || address < start || address >= start + length)
            continue;
        const uintptr_t from = address & ~(kPage - 1);
        const uintptr_t end = (start + length + kPage - 1) & ~(kPage - 1);
        const long mapped = syscall(SYS_mmap, from, end - from, PROT_READ, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS,
                                    -1, 0);
        if (mapped == static_cast<long>(from)) {
            slot.lost += static_cast<int64_t>(start + length - from);
            return; // the read is tried again and finds zeros
        }
        break;
    }
    // Not ours, or zeros could not be put there: as before this program
    // took the signal.
    sigaction(signal, &g_previous, nullptr);
}

void install()
{
    struct sigaction action = {};
    action.sa_sigaction = onBus;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &g_previous);
}

Slot* find(const uint8_t* view)
{
    const uintptr_t start = reinterpret_cast<uintptr_t>(view);
    for (Slot& slot : g_slots) {
        if (slot.start.load() == start)
            return &slot;
    }
    return nullptr;
}

} // namespace

bool CMappedViews::add(const uint8_t* view, size_t length)
{
    if (!view || length == 0)
        return false;
    std::call_once(g_installed, install);
    for (Slot& slot : g_slots) {
        uintptr_t expected = 0;
        if (slot.start.compare_exchange_strong(expected, reinterpret_cast<uintptr_t>(view))) {
            slot.lost = 0;
            slot.length = length;
            return true;
        }
    }
    return false;
}

int64_t CMappedViews::lost(const uint8_t* view)
{
    const Slot* slot = find(view);
    return slot ? slot->lost.load() : 0;
}

int64_t CMappedViews::remove(const uint8_t* view)
{
    Slot* slot = find(view);
    if (!slot)
        return 0;
    const int64_t lost = slot->lost.load();
    slot->length = 0;
    slot->start = 0;
    return lost;
}
