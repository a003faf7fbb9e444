#include "scan/CUnreadableDocument.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace {
constexpr int64_t kSectorSize = 512;
}

QVector<CFileNode::Extent> CUnreadableDocument::sourceRuns(const CFileNode& node)
{
    QVector<CFileNode::Extent> out;
    if (node.hasResidentData || node.size <= 0)
        return out;
    if (node.extents.isEmpty()) {
        if (node.startSector <= static_cast<quint64>(std::numeric_limits<int64_t>::max() / kSectorSize))
            out.append({static_cast<int64_t>(node.startSector) * kSectorSize, node.size});
        return out;
    }
    int64_t left = node.size;
    for (const CFileNode::Extent& e : node.extents) {
        if (left <= 0)
            break;
        const int64_t length = std::min(std::max<int64_t>(0, e.length), left);
        if (length > 0 && e.offset >= 0)
            out.append({e.offset, length});
        left -= length;
    }
    return out;
}

QVector<CFileNode::Extent> CUnreadableDocument::runs(const CFileNode& node, const CUnreadableRanges& unreadable)
{
    QVector<CFileNode::Extent> out;
    if (unreadable.isEmpty())
        return out;
    for (const CFileNode::Extent& run : sourceRuns(node)) {
        for (const CUnreadableRanges::Range& r : unreadable.within(run.offset, run.length))
            out.append({r.offset, r.length});
    }
    return out;
}

QString CUnreadableDocument::reason(const QVector<CFileNode::Extent>& runs)
{
    QStringList places;
    for (int i = 0; i < runs.size() && i < kPlacesNamed; ++i)
        places << QCoreApplication::translate("CUnreadableDocument", "bytes %1 to %2")
                      .arg(runs[i].offset)
                      .arg(runs[i].offset + runs[i].length - 1);
    QString text = QCoreApplication::translate("CUnreadableDocument", "unreadable sectors at %1")
                       .arg(places.join(QStringLiteral(", ")));
    if (runs.size() > kPlacesNamed)
        text += QCoreApplication::translate("CUnreadableDocument", " and %1 more places").arg(runs.size() - kPlacesNamed);
    return text;
}

bool CUnreadableDocument::mark(const CFileNode& node, const CUnreadableRanges& unreadable, CDocumentDetails* details)
{
    const QVector<CFileNode::Extent> bad = runs(node, unreadable);
    if (bad.isEmpty() || !details)
        return false;
    details->integrity = CDocumentDetails::IntegrityDamaged;
    details->integrityReason = reason(bad);
    return true;
}
