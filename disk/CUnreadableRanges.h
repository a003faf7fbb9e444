#pragma once

#include <QMetaType>
#include <QVector>

#include <cstdint>

// Byte ranges of a source that could not be read, kept in ascending order,
// merged where they touch, so that a range is never listed twice however
// often the same bad sectors fail. The scan keeps one for the volume;
// recovery asks which of a document's bytes fall into it, and keeps one per
// document in the document's own byte offsets.
class CUnreadableRanges
{
public:
    struct Range
    {
        int64_t offset = 0;
        int64_t length = 0;
        int64_t end() const { return offset + length; }
        bool operator==(const Range& o) const { return offset == o.offset && length == o.length; }
    };

    // Adds [offset, offset + length); empty or negative stretches are
    // ignored, one that would pass the end of int64_t is cut there.
    void add(int64_t offset, int64_t length);
    void add(const CUnreadableRanges& other);
    // Takes [offset, offset + length) off (read after all), cutting the
    // ranges it overlaps.
    void remove(int64_t offset, int64_t length);
    void clear() { m_ranges.clear(); }

    bool isEmpty() const { return m_ranges.isEmpty(); }
    const QVector<Range>& ranges() const { return m_ranges; }
    // Bytes in all ranges together.
    int64_t totalBytes() const;

    // Whether any byte of [offset, offset + length) is unreadable.
    bool touches(int64_t offset, int64_t length) const;
    // The unreadable parts of [offset, offset + length), in ascending order.
    QVector<Range> within(int64_t offset, int64_t length) const;

    // "1024-1535, 8192-12287" (first and last byte of each range), at most
    // `limit` ranges and "..." after them: for messages.
    QString text(int limit = 4) const;

    bool operator==(const CUnreadableRanges& o) const { return m_ranges == o.m_ranges; }
    bool operator!=(const CUnreadableRanges& o) const { return !(*this == o); }

private:
    // The first range whose end lies past `offset`.
    int firstEndingAfter(int64_t offset) const;

    QVector<Range> m_ranges;
};

Q_DECLARE_METATYPE(CUnreadableRanges)
