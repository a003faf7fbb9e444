#include "details/CPiecesPass.h"

#include "scan/CDocumentBytes.h"

#include <QElapsedTimer>

#include <algorithm>

bool CPiecesPass::searchable(const QString& typeName)
{
    const QString type = typeName.toUpper();
    return type == QLatin1String("ZIP") || type == QLatin1String("DOCX") || type == QLatin1String("XLSX")
        || type == QLatin1String("PPTX");
}

void CPiecesPass::note(quint64 ticket, const CFileNode& node, const CDocumentDetails& details)
{
    m_wholeRuns.remove(ticket);
    m_broken.remove(ticket);
    if (details.integrity == CDocumentDetails::IntegrityWhole) {
        const QVector<CFileNode::Extent> runs = CDocumentBytes::runsOf(node);
        if (!runs.isEmpty())
            m_wholeRuns.insert(ticket, runs);
    } else if (details.integrity == CDocumentDetails::IntegrityDamaged && node.origin == CFileNode::OriginCarved
               && !node.hasLayout() && searchable(node.typeName)) {
        CFileNode broken = node;
        broken.details = details;
        m_broken.insert(ticket, broken);
    }
}

QVector<CPiecesPass::Found> CPiecesPass::run(IVolume* volume, const CPieceSearch::Settings& settings,
                                             const std::atomic<bool>* cancel, double* indexSeconds) const
{
    QVector<Found> out;
    if (!volume || m_broken.isEmpty())
        return out;
    QVector<CFileNode::Extent> owned;
    QVector<int64_t> allStarts;
    for (const QVector<CFileNode::Extent>& runs : m_wholeRuns) {
        owned += runs;
        allStarts.append(runs.first().offset);
    }
    // In ticket order: the order they were listed in.
    QVector<quint64> tickets = m_broken.keys().toVector();
    std::sort(tickets.begin(), tickets.end());
    QVector<int64_t> starts;
    for (quint64 t : tickets)
        starts.append(m_broken.value(t).firstByteOffset());
    allStarts += starts;

    CPieceSearch search(volume, settings, cancel);
    search.setOwned(owned);
    if (settings.cluster <= 0)
        search.setCluster(CPieceSearch::inferCluster(allStarts), starts.first());
    QElapsedTimer clock;
    clock.start();
    search.indexAnchors(starts);
    if (indexSeconds)
        *indexSeconds = clock.nsecsElapsed() / 1e9;
    for (quint64 t : tickets) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            break;
        clock.restart();
        Found f;
        f.ticket = t;
        f.node = m_broken.value(t);
        f.outcome = search.reassemble(f.node);
        f.seconds = clock.nsecsElapsed() / 1e9;
        if (f.outcome.kind != CPieceSearch::Outcome::NotFound)
            out.append(f);
    }
    return out;
}
