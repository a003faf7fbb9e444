#include "disk/CUnreadableRanges.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <limits>

int CUnreadableRanges::firstEndingAfter(int64_t offset) const
{
    const auto it = std::upper_bound(m_ranges.cbegin(), m_ranges.cend(), offset,
                                     [](int64_t value, const Range& r) { return value < r.end(); });
    return static_cast<int>(it - m_ranges.cbegin());
}

void CUnreadableRanges::add(int64_t offset, int64_t length)
{
    if (length <= 0 || offset < 0)
        return;
    if (offset > std::numeric_limits<int64_t>::max() - length)
        length = std::numeric_limits<int64_t>::max() - offset;
    int64_t start = offset;
    int64_t end = offset + length;
    // Ranges that end at or after `start` and begin at or before `end`
    // touch the new one and are merged into it.
    int first = static_cast<int>(std::lower_bound(m_ranges.cbegin(), m_ranges.cend(), start,
                                                  [](const Range& r, int64_t value) { return r.end() < value; })
                                 - m_ranges.cbegin());
    int last = first;
    while (last < m_ranges.size() && m_ranges[last].offset <= end) {
        start = std::min(start, m_ranges[last].offset);
        end = std::max(end, m_ranges[last].end());
        ++last;
    }
    m_ranges.remove(first, last - first);
    m_ranges.insert(first, Range{start, end - start});
}

void CUnreadableRanges::remove(int64_t offset, int64_t length)
{
    if (length <= 0 || offset < 0)
        return;
    const int64_t end = offset > std::numeric_limits<int64_t>::max() - length ? std::numeric_limits<int64_t>::max()
                                                                               : offset + length;
    int i = firstEndingAfter(offset);
    // Each turn drops a range or cuts the last one touched: bounded.
    while (i < m_ranges.size() && m_ranges[i].offset < end) {
        const Range r = m_ranges[i];
        QVector<Range> left;
        if (r.offset < offset)
            left.append(Range{r.offset, offset - r.offset});
        if (r.end() > end)
            left.append(Range{end, r.end() - end});
        m_ranges.remove(i);
        for (int k = 0; k < left.size(); ++k)
            m_ranges.insert(i + k, left[k]);
        i += left.size();
    }
}

void CUnreadableRanges::add(const CUnreadableRanges& other)
{
    for (const Range& r : other.m_ranges)
        add(r.offset, r.length);
}

int64_t CUnreadableRanges::totalBytes() const
{
    int64_t total = 0;
    for (const Range& r : m_ranges)
        total += r.length; // disjoint and inside int64_t, so no overflow
    return total;
}

bool CUnreadableRanges::touches(int64_t offset, int64_t length) const
{
    if (length <= 0)
        return false;
    const int i = firstEndingAfter(offset);
    return i < m_ranges.size() && m_ranges[i].offset - offset < length;
}

QVector<CUnreadableRanges::Range> CUnreadableRanges::within(int64_t offset, int64_t length) const
{
    QVector<Range> out;
    if (length <= 0 || offset < 0)
        return out;
    const int64_t end = offset > std::numeric_limits<int64_t>::max() - length ? std::numeric_limits<int64_t>::max()
                                                                               : offset + length;
    for (int i = firstEndingAfter(offset); i < m_ranges.size() && m_ranges[i].offset < end; ++i) {
        const int64_t from = std::max(offset, m_ranges[i].offset);
        const int64_t to = std::min(end, m_ranges[i].end());
        out.append(Range{from, to - from});
    }
    return out;
}

QString CUnreadableRanges::text(int limit) const
{
    QStringList parts;
    for (int i = 0; i < m_ranges.size() && i < limit; ++i)
        parts << QStringLiteral("%1-%2").arg(m_ranges[i].offset).arg(m_ranges[i].end() - 1);
    if (m_ranges.size() > limit)
        parts << QStringLiteral("...");
    return parts.join(QStringLiteral(", "));
}
