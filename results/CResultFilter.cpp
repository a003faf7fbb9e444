#include "results/CResultFilter.h"

#include "scan/CFileNode.h"

#include <QDateTime>

#include <limits>

void CResultFilter::setText(const QString& text)
{
    m_text = text.trimmed();
}

void CResultFilter::setModifiedRange(const QDate& from, const QDate& to)
{
    m_from = from;
    m_to = to;
    // Local midnights: the days the user picked are the days the table's
    // time column shows.
    m_fromMs = from.isValid() ? QDateTime(from, QTime(0, 0)).toMSecsSinceEpoch()
                              : std::numeric_limits<qint64>::min();
    m_toMs = to.isValid() ? QDateTime(to.addDays(1), QTime(0, 0)).toMSecsSinceEpoch()
                          : std::numeric_limits<qint64>::max();
}

void CResultFilter::setSizeRange(qint64 minBytes, qint64 maxBytes)
{
    m_minSize = minBytes < 0 ? -1 : minBytes;
    m_maxSize = maxBytes < 0 ? -1 : maxBytes;
}

int CResultFilter::narrowingCount() const
{
    return (m_from.isValid() || m_to.isValid() ? 1 : 0) + (m_minSize >= 0 || m_maxSize >= 0 ? 1 : 0)
        + (m_wholeOnly ? 1 : 0);
}

bool CResultFilter::isActive() const
{
    return !m_text.isEmpty() || narrowingCount() > 0;
}

bool CResultFilter::matches(const CFileNode& r) const
{
    // Cheapest tests first.
    if (m_minSize >= 0 && r.size < m_minSize)
        return false;
    if (m_maxSize >= 0 && r.size > m_maxSize)
        return false;
    if (m_wholeOnly && (r.isDamaged() || r.details.integrity != CDocumentDetails::IntegrityWhole))
        return false;
    if (m_from.isValid() || m_to.isValid()) {
        const QDateTime modified = r.bestModified();
        if (!modified.isValid())
            return false;
        const qint64 ms = modified.toMSecsSinceEpoch();
        if (ms < m_fromMs || ms >= m_toMs)
            return false;
    }
    if (m_text.isEmpty())
        return true;
    return r.displayName().contains(m_text, Qt::CaseInsensitive)
        || r.details.title.contains(m_text, Qt::CaseInsensitive);
}

bool CResultFilter::operator==(const CResultFilter& other) const
{
    return m_text == other.m_text && m_from == other.m_from && m_to == other.m_to && m_minSize == other.m_minSize
        && m_maxSize == other.m_maxSize && m_wholeOnly == other.m_wholeOnly;
}
