#include "filesystems/CAllocationMapSet.h"

#include <algorithm>
#include <limits>

bool CAllocationMapSet::add(int64_t offset, int64_t length, std::shared_ptr<const IAllocationMap> map)
{
    if (!map || offset < 0 || length <= 0 || length > std::numeric_limits<int64_t>::max() - offset)
        return false;
    auto at = std::lower_bound(m_parts.begin(), m_parts.end(), offset,
                               [](const Part& p, int64_t o) { return p.offset < o; });
    if (at != m_parts.end() && at->offset < offset + length)
        return false;
    if (at != m_parts.begin() && std::prev(at)->offset + std::prev(at)->length > offset)
        return false;
    m_parts.insert(at, Part{offset, length, std::move(map)});
    return true;
}

bool CAllocationMapSet::inUse(int64_t offset) const
{
    auto after = std::upper_bound(m_parts.begin(), m_parts.end(), offset,
                                  [](int64_t o, const Part& p) { return o < p.offset; });
    if (after == m_parts.begin())
        return false;
    const Part& part = *std::prev(after);
    return offset - part.offset < part.length && part.map->inUse(offset - part.offset);
}

int64_t CAllocationMapSet::bytesInUse(int64_t offset, int64_t length) const
{
    if (length <= 0)
        return 0;
    const int64_t end = offset > std::numeric_limits<int64_t>::max() - length ? std::numeric_limits<int64_t>::max()
                                                                              : offset + length;
    int64_t total = 0;
    for (const Part& part : m_parts) {
        const int64_t a = std::max(offset, part.offset);
        const int64_t b = std::min(end, part.offset + part.length);
        if (a < b)
            total += part.map->bytesInUse(a - part.offset, b - a);
    }
    return total;
}

bool CAllocationMapSet::orphaned(int64_t offset) const
{
    auto after = std::upper_bound(m_parts.begin(), m_parts.end(), offset,
                                  [](int64_t o, const Part& p) { return o < p.offset; });
    if (after == m_parts.begin())
        return false;
    const Part& part = *std::prev(after);
    return offset - part.offset < part.length && part.map->orphaned(offset - part.offset);
}
