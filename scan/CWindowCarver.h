#pragma once

#include "scan/CSignatureCarver.h"

#include <cstdint>
#include <functional>
#include <memory>

class CNotifyFileNode;

// Carves a window on two threads, with the same outcome as one carver going
// through it from start to end.
//
// The carving pass runs one carver in volume order, since documents may
// cross any boundary. Most of a volume, though, lies between documents,
// where the carver follows nothing: a carver that starts there afresh is in
// the very state the running one would reach. So the second half of a long
// window is carved speculatively by a fresh carver, on its own thread, while
// the running carver does the first half. When the running carver comes to
// the middle following nothing (CSignatureCarver::idleAt()), the fresh one
// takes over: what it found is posted after what the first half found, and
// its state runs on. Otherwise its work is dropped and the running carver
// carves the second half itself, as it always did.
class CWindowCarver
{
public:
    // Carves the bytes [from, to) of the volume with `carver`, posting to
    // `relay`. For the fresh carver of a second half, `from` is where it
    // starts (its block counter is set there already).
    using CarveRange = std::function<void(CSignatureCarver& carver, CNotifyFileNode* relay, int64_t from, int64_t to)>;

    // Windows shorter than this are carved on one thread: the second
    // thread would cost more than it saves.
    static constexpr int64_t kDefaultMinimumSplit = 1024 * 1024;

    CWindowCarver();

    CWindowCarver(const CWindowCarver&) = delete;
    CWindowCarver& operator=(const CWindowCarver&) = delete;

    // The carver whose state runs on from window to window (another object
    // after a window whose second half was taken over).
    CSignatureCarver& carver() { return *m_carver; }

    void setMinimumSplit(int64_t bytes) { m_minimumSplit = bytes; }

    // Carves [from, to) of the volume (offsets on the 512-byte grid).
    // Exceptions of either half reach the caller once both have stopped.
    void carve(CNotifyFileNode* relay, int64_t from, int64_t to, const CarveRange& carveRange);

    // How many windows were split, and how many of those the fresh carver
    // took over (for benchmarks and tests).
    int64_t windowsSplit() const { return m_split; }
    int64_t halvesTakenOver() const { return m_takenOver; }

private:
    std::unique_ptr<CSignatureCarver> m_carver;
    int64_t m_minimumSplit = kDefaultMinimumSplit;
    int64_t m_split = 0;
    int64_t m_takenOver = 0;
};
