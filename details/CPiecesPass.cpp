#include "details/CPiecesPass.h"

#include "details/CZipReassembler.h"
#include "scan/CDocumentBytes.h"
#include "scan/CFileTypeCatalogue.h"

#include <QElapsedTimer>
#include <QSet>

#include <algorithm>
#include <limits>

namespace {

// What the carving pass gives a carved record as its kind.
constexpr int kCarvedKind = 2;

} // namespace

bool CPiecesPass::provenByContent(const QString& typeName)
{
    const QString type = typeName.toUpper();
    return type != QLatin1String("DOC") && type != QLatin1String("XLS") && type != QLatin1String("PPT");
}

bool CPiecesPass::searchable(const QString& typeName)
{
    const QString type = typeName.toUpper();
    return type == QLatin1String("ZIP") || type == QLatin1String("DOCX") || type == QLatin1String("XLSX")
        || type == QLatin1String("PPTX") || type == QLatin1String("PDF") || type == QLatin1String("DOC")
        || type == QLatin1String("XLS") || type == QLatin1String("PPT");
}

void CPiecesPass::note(quint64 ticket, const CFileNode& node, const CDocumentDetails& details)
{
    m_wholeRuns.remove(ticket);
    m_broken.remove(ticket);
    m_listedRuns.insert(ticket, CDocumentBytes::runsOf(node));
    m_weakRuns.remove(ticket);
    if (details.integrity == CDocumentDetails::IntegrityWhole) {
        const QVector<CFileNode::Extent> runs = CDocumentBytes::runsOf(node);
        if (!runs.isEmpty())
            (provenByContent(node.typeName) ? m_wholeRuns : m_weakRuns).insert(ticket, runs);
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
    QVector<CFileNode::Extent> weak;
    for (const QVector<CFileNode::Extent>& runs : m_weakRuns) {
        weak += runs;
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
    search.setWeak(weak);
    if (settings.cluster <= 0) {
        // Inferred from the documents no file system's grid covers: those
        // inside one would only blur the others' grid.
        QVector<int64_t> loose;
        for (int64_t s : qAsConst(allStarts)) {
            if (!CPieceSearch::gridAt(settings, s))
                loose.append(s);
        }
        int64_t origin = starts.first();
        for (int64_t s : qAsConst(starts)) {
            if (!CPieceSearch::gridAt(settings, s)) {
                origin = s;
                break;
            }
        }
        search.setCluster(CPieceSearch::inferCluster(loose), origin);
    }
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
        if (f.outcome.kind == CPieceSearch::Outcome::Whole)
            search.addOwned(f.outcome.pieces);
        if (f.outcome.kind != CPieceSearch::Outcome::NotFound)
            out.append(f);
    }

    // Starts the listing lacks: not a listed document's start, and not in
    // a whole one (a member there). A broken one's stretch may run on into
    // other documents, so a header inside it may start one of them.
    QSet<int64_t> listedStarts;
    for (const QVector<CFileNode::Extent>& runs : m_listedRuns) {
        if (!runs.isEmpty())
            listedStarts.insert(runs.first().offset);
    }
    struct Kind
    {
        CPieceSearch::Anchor anchor;
        const char* type;
    };
    for (const Kind& kind : {Kind{CPieceSearch::ZipLocal, "ZIP"}, Kind{CPieceSearch::PdfHeader, "PDF"}}) {
        const QString type = QLatin1String(kind.type);
        for (int64_t start : search.anchors(kind.anchor, 0, std::numeric_limits<int64_t>::max())) {
            if (cancel && cancel->load(std::memory_order_relaxed))
                break;
            if (!search.onGrid(start) || listedStarts.contains(start) || search.isOwned(start))
                continue;
            clock.restart();
            CFileNode node(type, 0, static_cast<quint64>(start / 512), QString(), QString::number(start / 512),
                           QString(), CFileTypeCatalogue::typeCodeByName(type), kCarvedKind, QString(), QString());
            node.details.examined = true;
            node.details.integrity = CDocumentDetails::IntegrityDamaged;
            const CPieceSearch::Outcome o = search.reassemble(node);
            if (o.kind != CPieceSearch::Outcome::Whole)
                continue;
            search.addOwned(o.pieces);
            Found f;
            f.newDocument = true;
            f.outcome = o;
            f.seconds = clock.nsecsElapsed() / 1e9;
            if (type == QLatin1String("ZIP"))
                node.typeName = CZipReassembler::typeOf(search, o.pieces);
            node.typeCode = CFileTypeCatalogue::typeCodeByName(node.typeName);
            node.typeDescription = CFileTypeCatalogue::description(node.typeName);
            node.extents = o.pieces;
            node.size = 0;
            for (const CFileNode::Extent& e : o.pieces)
                node.size += e.length;
            node.sizeText = CFileTypeCatalogue::sizeText(node.size);
            node.details = o.details;
            f.node = node;
            out.append(f);
        }
    }

    // A compound document whose stretch holds a piece of one proved whole
    // was called whole on its tables alone: those bytes are not its own.
    QVector<Found> contradicted;
    for (auto it = m_weakRuns.constBegin(); it != m_weakRuns.constEnd(); ++it) {
        for (const Found& f : qAsConst(out)) {
            if (f.outcome.kind != CPieceSearch::Outcome::Whole)
                continue;
            bool overlaps = false;
            for (const CFileNode::Extent& a : it.value()) {
                for (const CFileNode::Extent& b : f.outcome.pieces)
                    overlaps = overlaps || (a.offset < b.offset + b.length && b.offset < a.offset + a.length);
            }
            if (!overlaps)
                continue;
            Found c;
            c.ticket = it.key();
            c.outcome.kind = CPieceSearch::Outcome::Contradicted;
            c.outcome.details.examined = true;
            c.outcome.details.integrity = CDocumentDetails::IntegrityDamaged;
            c.outcome.details.integrityReason = CPieceSearch::contradictionReason(f.node.firstByteOffset());
            contradicted.append(c);
            break;
        }
    }
    return out + contradicted;
}
