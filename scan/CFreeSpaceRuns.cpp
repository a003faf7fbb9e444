#include "scan/CFreeSpaceRuns.h"

#include "filesystems/IAllocationMap.h"

#include <algorithm>

namespace {

// The first look is small, so that a boundary near the start is found with
// few questions; each stretch that is all alike doubles the next, up to a
// size whose count still costs the map only a few table blocks.
constexpr int64_t kFirstStep = 64 * 1024;
constexpr int64_t kLargestStep = int64_t(64) << 20;

} // namespace

CFreeSpaceRuns::CFreeSpaceRuns(const IAllocationMap& map, int64_t sourceLength, int64_t readThrough)
    : m_map(map)
    , m_length(std::max<int64_t>(sourceLength, 0))
    , m_readThrough(std::max<int64_t>(kUnit, std::min<int64_t>(readThrough, int64_t(1) << 40)))
{
    m_readThrough += (kUnit - m_readThrough % kUnit) % kUnit;
}

bool CFreeSpaceRuns::uniform(int64_t offset, int64_t length, bool used) const
{
    const int64_t inUse = m_map.bytesInUse(offset, length);
    return used ? inUse >= length : inUse == 0;
}

int64_t CFreeSpaceRuns::nextChange(int64_t from, bool used) const
{
    int64_t x = std::max<int64_t>(from, 0);
    int64_t step = kFirstStep;
    // Each turn moves x on by at least kFirstStep or ends: bounded by the
    // source's length.
    while (x < m_length) {
        int64_t length = std::min(step, m_length - x);
        if (uniform(x, length, used)) {
            x += length;
            step = std::min(step * 2, kLargestStep);
            continue;
        }
        // The change lies in [x, x + length): halve towards it.
        while (length > kUnit) {
            int64_t half = (length / 2) / kUnit * kUnit;
            if (half == 0)
                half = kUnit;
            if (uniform(x, half, used)) {
                x += half;
                length -= half;
            } else {
                length = half;
            }
        }
        return x;
    }
    return m_length;
}

bool CFreeSpaceRuns::next(int64_t from, Run& run) const
{
    // The source's end is off the grid when its length is: nothing lies
    // past it, whatever the rounding.
    if (from >= m_length)
        return false;
    from = std::max<int64_t>(from, 0);
    from -= from % kUnit;
    // `from` may lie in a stretch in use that a run reads through (a
    // resumed scan goes on from where it was, wherever that is): such a
    // stretch is shorter than the read-through length, with free bytes
    // before and after it.
    int64_t start = from;
    if (uniform(from, std::min(kUnit, m_length - from), true)) {
        const int64_t usedEnd = nextChange(from, true);
        int64_t lookBack = std::max<int64_t>(0, usedEnd - m_readThrough);
        lookBack -= lookBack % kUnit;
        const bool readThrough = usedEnd < m_length && lookBack < from && !uniform(lookBack, from - lookBack, true);
        if (!readThrough)
            start = usedEnd;
    }
    if (start >= m_length)
        return false;
    int64_t end = start;
    // `end` grows on every turn: a stretch in use is at least one unit.
    for (;;) {
        const int64_t usedAt = nextChange(end, false);
        if (usedAt >= m_length) {
            end = m_length;
            break;
        }
        // A unit only partly in use (a map off the grid) counts as in use.
        const int64_t usedEnd = std::max(nextChange(usedAt, true), std::min(usedAt + kUnit, m_length));
        if (usedEnd >= m_length || usedEnd - usedAt >= m_readThrough) {
            // In use to the end, or long enough to skip.
            end = usedAt;
            break;
        }
        end = usedEnd;
    }
    run.offset = start;
    run.length = end - start;
    return true;
}

bool CFreeSpaceRuns::nextUnused(int64_t from, Run& run) const
{
    // As in next(): nothing lies past an end off the grid.
    if (from >= m_length)
        return false;
    int64_t start = std::max<int64_t>(from, 0);
    start -= start % kUnit;
    // Past units with any byte in use; each turn moves on by a unit at least.
    while (start < m_length && !uniform(start, std::min(kUnit, m_length - start), false))
        start = std::max(start + kUnit, nextChange(start, true));
    if (start >= m_length)
        return false;
    run.offset = start;
    run.length = nextChange(start, false) - start;
    return true;
}

CFreeSpaceRuns::Totals CFreeSpaceRuns::totals(int64_t offset) const
{
    Totals t;
    Run run;
    int64_t at = 0;
    while (at < m_length && next(at, run)) {
        t.bytes += run.length;
        t.before += std::max<int64_t>(0, std::min(run.end(), offset) - run.offset);
        ++t.runs;
        at = run.end();
    }
    return t;
}
