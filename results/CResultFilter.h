#pragma once

#include <QDate>
#include <QString>

class CFileNode;

// What narrows the result table: a text the name or title holds (any letter
// case), a range of modification dates, a range of sizes, and whether only
// documents checked whole are shown. Every part left at its default lets
// every document through. Plain value: the table model keeps a copy.
class CResultFilter
{
public:
    // Name or title contains `text` (trimmed; empty: any).
    void setText(const QString& text);
    QString text() const { return m_text; }

    // Modified on a day from `from` to `to`, both included, in local time;
    // an invalid date leaves that end open. A document whose time is not
    // known is outside any range that has an end.
    void setModifiedRange(const QDate& from, const QDate& to);
    QDate modifiedFrom() const { return m_from; }
    QDate modifiedTo() const { return m_to; }

    // Sizes in bytes from `minBytes` to `maxBytes`, both included; a
    // negative bound leaves that end open.
    void setSizeRange(qint64 minBytes, qint64 maxBytes);
    qint64 minSize() const { return m_minSize; }
    qint64 maxSize() const { return m_maxSize; }

    // Only documents whose own check passed and whose bytes the file system
    // did not lose: what a recovery writes as it was.
    void setWholeOnly(bool wholeOnly) { m_wholeOnly = wholeOnly; }
    bool wholeOnly() const { return m_wholeOnly; }

    // Whether anything is left out at all.
    bool isActive() const;
    // How many of date range, size range and whole only are set (the text
    // not counted: its box shows it).
    int narrowingCount() const;
    bool matches(const CFileNode& record) const;

    bool operator==(const CResultFilter& other) const;
    bool operator!=(const CResultFilter& other) const { return !(*this == other); }

private:
    QString m_text;
    QDate m_from;
    QDate m_to;
    // The date range as milliseconds since the epoch, worked out once per
    // change: a list of 100,000 documents is matched on every keystroke.
    qint64 m_fromMs = 0;
    qint64 m_toMs = 0; // exclusive: the first moment after m_to
    qint64 m_minSize = -1;
    qint64 m_maxSize = -1;
    bool m_wholeOnly = false;
};
