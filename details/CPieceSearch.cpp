#include "details/CPieceSearch.h"

#include "details/CAssemblyCheck.h"
#include "details/CInflateProbe.h"
#include "details/COleReassembler.h"
#include "details/CPdfReassembler.h"
#include "details/CZipReassembler.h"
#include "disk/IVolume.h"

#include <QHash>

#include <algorithm>
#include <cstring>
#include <string.h>
#include <limits>

namespace {

// The reach is read in chunks of this size; a signature across two chunks
// is found through the overlap.
constexpr int64_t kChunk = int64_t(1) << 20;
// Longer than the longest signature looked for.
constexpr int64_t kOverlap = 16;

bool isZipFamily(const QString& type)
{
    return type == QLatin1String("ZIP") || type == QLatin1String("DOCX") || type == QLatin1String("XLSX")
        || type == QLatin1String("PPTX");
}

int64_t floorMod(int64_t a, int64_t m)
{
    const int64_t r = a % m;
    return r < 0 ? r + m : r;
}

} // namespace

CPieceSearch::CPieceSearch(IVolume* volume, const Settings& settings, const std::atomic<bool>* cancel)
    : m_volume(volume)
    , m_settings(settings)
    , m_cancel(cancel)
{
    if (settings.cluster > 0)
        setCluster(settings.cluster, settings.clusterOrigin);
}

void CPieceSearch::setCluster(int64_t cluster, int64_t origin)
{
    if (cluster <= 0)
        return;
    m_looseCluster = m_cluster = cluster;
    m_looseOrigin = floorMod(origin, cluster);
}

const CPieceSearch::Settings::Grid* CPieceSearch::gridAt(const Settings& settings, int64_t offset)
{
    for (const Settings::Grid& g : settings.grids) {
        if (g.cluster > 0 && offset >= g.offset && offset - g.offset < g.length)
            return &g;
    }
    return nullptr;
}

int64_t CPieceSearch::inferCluster(const QVector<int64_t>& starts)
{
    constexpr int kFewest = 8;
    constexpr int64_t kDefault = 4096;
    constexpr int64_t kSmallest = 512;
    constexpr int64_t kLargest = 64 * 1024;
    if (starts.size() < kFewest)
        return kDefault;
    for (int64_t c = kLargest; c > kSmallest; c /= 2) {
        QHash<int64_t, int> residues;
        int best = 0;
        for (int64_t s : starts)
            best = std::max(best, ++residues[floorMod(s, c)]);
        if (int64_t(best) * 10 >= int64_t(starts.size()) * 9)
            return c;
    }
    return kSmallest;
}

QVector<CFileNode::Extent> CPieceSearch::merged(QVector<CFileNode::Extent> runs)
{
    std::sort(runs.begin(), runs.end(),
              [](const CFileNode::Extent& a, const CFileNode::Extent& b) { return a.offset < b.offset; });
    QVector<CFileNode::Extent> out;
    for (const CFileNode::Extent& e : runs) {
        if (e.offset < 0 || e.length <= 0)
            continue;
        if (!out.isEmpty() && e.offset <= out.last().offset + out.last().length) {
            CFileNode::Extent& last = out.last();
            last.length = std::max(last.offset + last.length, e.offset + e.length) - last.offset;
        } else {
            out.append(e);
        }
    }
    return out;
}

bool CPieceSearch::overlaps(const QVector<CFileNode::Extent>& runs, int64_t offset, int64_t length)
{
    // The first stretch that ends after `offset`.
    auto it = std::upper_bound(runs.begin(), runs.end(), offset,
                               [](int64_t at, const CFileNode::Extent& e) { return at < e.offset + e.length; });
    return it != runs.end() && it->offset < offset + length;
}

void CPieceSearch::setOwned(QVector<CFileNode::Extent> owned)
{
    m_owned = merged(std::move(owned));
}

void CPieceSearch::setWeak(QVector<CFileNode::Extent> weak)
{
    m_weak = merged(std::move(weak));
}

bool CPieceSearch::owned(int64_t offset, int64_t length) const
{
    return overlaps(m_owned, offset, length);
}

bool CPieceSearch::throughWeak(const QVector<CFileNode::Extent>& pieces) const
{
    // The first piece is the broken document's own stretch.
    for (int i = 1; i < pieces.size(); ++i) {
        if (overlaps(m_weak, pieces[i].offset, pieces[i].length))
            return true;
    }
    return false;
}

bool CPieceSearch::sameBytes(const QVector<CFileNode::Extent>& a, const QVector<CFileNode::Extent>& b) const
{
    constexpr int64_t kChunk = 64 * 1024;
    // Walks both lists of pieces side by side, a chunk at a time.
    int ia = 0;
    int ib = 0;
    int64_t inA = 0;
    int64_t inB = 0;
    std::vector<uint8_t> bufA(kChunk);
    std::vector<uint8_t> bufB(kChunk);
    while (ia < a.size() && ib < b.size()) {
        const int64_t n = std::min({kChunk, a[ia].length - inA, b[ib].length - inB});
        if (!read(a[ia].offset + inA, bufA.data(), n) || !read(b[ib].offset + inB, bufB.data(), n)
            || std::memcmp(bufA.data(), bufB.data(), static_cast<size_t>(n)) != 0)
            return false;
        inA += n;
        inB += n;
        if (inA == a[ia].length) {
            ++ia;
            inA = 0;
        }
        if (inB == b[ib].length) {
            ++ib;
            inB = 0;
        }
    }
    return ia == a.size() && ib == b.size();
}

int CPieceSearch::soleAnswer() const
{
    int sole = -1;
    for (int i = 0; i < m_passed.size(); ++i) {
        if (throughWeak(m_passed[i]))
            continue;
        if (sole >= 0)
            return -1; // two through free clusters: a true second answer
        sole = i;
    }
    if (sole < 0)
        return -1;
    for (int i = 0; i < m_passed.size(); ++i) {
        if (i != sole && !sameBytes(m_passed[i], m_passed[sole]))
            return -1;
    }
    return sole;
}

bool CPieceSearch::onGrid(int64_t offset) const
{
    if (const Settings::Grid* g = gridAt(m_settings, offset))
        return floorMod(offset - g->origin, g->cluster) == 0;
    return floorMod(offset, m_looseCluster) == m_looseOrigin;
}

bool CPieceSearch::read(int64_t offset, void* buffer, int64_t length) const
{
    if (offset < 0 || length < 0 || !m_volume || cancelled())
        return false;
    const IVolume::ReadResult r = m_volume->read(offset, buffer, static_cast<size_t>(length));
    return r.error == 0 && r.bytes == length;
}

void CPieceSearch::indexAnchors(const QVector<int64_t>& starts)
{
    for (std::vector<int64_t>& list : m_anchors)
        list.clear();
    const int64_t volumeLength = m_volume ? m_volume->length() : 0;
    // The reaches, merged.
    QVector<CFileNode::Extent> reach;
    QVector<int64_t> sorted = starts;
    std::sort(sorted.begin(), sorted.end());
    for (int64_t s : sorted) {
        const int64_t from = std::max<int64_t>(0, s - m_settings.distance);
        const int64_t to = std::min(volumeLength, s > volumeLength - m_settings.distance ? volumeLength
                                                                                         : s + m_settings.distance);
        if (from >= to)
            continue;
        if (!reach.isEmpty() && from <= reach.last().offset + reach.last().length)
            reach.last().length = std::max(reach.last().offset + reach.last().length, to) - reach.last().offset;
        else
            reach.append({from, to - from});
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(kChunk + kOverlap));
    for (const CFileNode::Extent& r : reach) {
        for (int64_t at = r.offset; at < r.offset + r.length; at += kChunk) {
            if (cancelled())
                return;
            const int64_t want = std::min<int64_t>(kChunk + kOverlap, r.offset + r.length - at);
            const IVolume::ReadResult got = m_volume->read(at, buffer.data(), static_cast<size_t>(want));
            const uint8_t* p = buffer.data();
            const int64_t n = got.bytes;
            // A signature is recorded in the chunk it starts in.
            // `unless`: a byte that, right before the text, makes it another word.
            const auto note = [&](const char* text, size_t length, Anchor kind, int unless) {
                for (int64_t i = 0; i + int64_t(length) <= n;) {
                    const void* hit = memmem(p + i, static_cast<size_t>(n - i), text, length);
                    if (!hit)
                        break;
                    i = static_cast<const uint8_t*>(hit) - p;
                    if (i >= kChunk)
                        break;
                    if (unless < 0 || i == 0 || p[i - 1] != unless)
                        m_anchors[kind].push_back(at + i);
                    ++i;
                }
            };
            note("PK\x05\x06", 4, ZipEnd, -1);
            note("PK\x03\x04", 4, ZipLocal, -1);
            note("startxref", 9, PdfStartxref, -1);
            note(" obj", 4, PdfObject, -1);
            note("%PDF-", 5, PdfHeader, -1);
            note("xref", 4, PdfXref, 't');
            note("PK\x01\x02", 4, ZipCentral, -1);
            note("R\0o\0o\0t\0 \0E\0n\0t\0r\0y\0", 20, OleRoot, -1);
        }
    }
    for (std::vector<int64_t>& list : m_anchors)
        std::sort(list.begin(), list.end());
}

QVector<int64_t> CPieceSearch::anchors(Anchor kind, int64_t from, int64_t to) const
{
    QVector<int64_t> out;
    const std::vector<int64_t>& list = m_anchors[kind];
    for (auto it = std::lower_bound(list.begin(), list.end(), from); it != list.end() && *it < to; ++it)
        out.append(*it);
    return out;
}

void CPieceSearch::begin(const CFileNode& node)
{
    m_node = node;
    if (const Settings::Grid* g = gridAt(m_settings, node.firstByteOffset())) {
        m_cluster = g->cluster;
        m_regionFrom = g->offset;
        m_regionTo = g->offset + g->length;
    } else {
        m_cluster = m_looseCluster;
        m_regionFrom = 0;
        m_regionTo = std::numeric_limits<int64_t>::max();
    }
    m_offered = 0;
    m_passed.clear();
    m_passedDetails.clear();
}

bool CPieceSearch::admissible(const QVector<CFileNode::Extent>& pieces) const
{
    if (pieces.isEmpty() || pieces.size() > m_settings.maxPieces)
        return false;
    const int64_t start = m_node.firstByteOffset();
    const int64_t volumeLength = m_volume ? m_volume->length() : 0;
    for (int i = 0; i < pieces.size(); ++i) {
        const CFileNode::Extent& p = pieces[i];
        if (p.offset < 0 || p.length <= 0 || p.offset > volumeLength - p.length)
            return false;
        // A file system keeps a file's clusters to itself.
        if (p.offset < m_regionFrom || p.offset + p.length > m_regionTo)
            return false;
        if (p.offset + p.length < start - m_settings.distance || p.offset > start + m_settings.distance)
            return false;
        if (owned(p.offset, p.length))
            return false;
        for (int j = 0; j < i; ++j) {
            const CFileNode::Extent& q = pieces[j];
            if (p.offset < q.offset + q.length && q.offset < p.offset + p.length)
                return false;
        }
    }
    return true;
}

bool CPieceSearch::offer(const QVector<CFileNode::Extent>& pieces)
{
    // Two that pass through free clusters settle it: neither is taken.
    const int free = static_cast<int>(std::count_if(m_passed.begin(), m_passed.end(),
                                                    [this](const QVector<CFileNode::Extent>& p) { return !throughWeak(p); }));
    if (cancelled() || m_offered >= m_settings.maxCandidates || free > 1)
        return false;
    if (!admissible(pieces))
        return true;
    for (const QVector<CFileNode::Extent>& p : m_passed) {
        if (p == pieces)
            return true;
    }
    ++m_offered;
    const CDocumentDetails d = CAssemblyCheck::check(m_volume, m_node.typeName, pieces, m_settings.budget, m_cancel);
    if (d.integrity == CDocumentDetails::IntegrityWhole) {
        m_passed.append(pieces);
        m_passedDetails.append(d);
    }
    return true;
}

CPieceSearch::Outcome CPieceSearch::outcome() const
{
    Outcome o;
    const int sole = m_passed.size() == 1 ? 0 : soleAnswer();
    if (sole >= 0) {
        o.kind = Outcome::Whole;
        o.pieces = m_passed.at(sole);
        o.details = m_passedDetails.at(sole);
    } else if (m_passed.size() > 1) {
        o.kind = Outcome::Ambiguous;
        o.details = m_node.details;
        o.details.integrity = CDocumentDetails::IntegrityDamaged;
        o.details.integrityReason =
            tr("%1; more than one assembly of its pieces passes every check, so none is taken")
                .arg(m_node.details.integrityReason);
    }
    return o;
}

QVector<int64_t> CPieceSearch::continuations(CInflateProbe& probe, int64_t firstLength, int most)
{
    const int64_t start = m_node.firstByteOffset();
    const int64_t volumeLength = m_volume ? m_volume->length() : 0;
    const int64_t from = start - std::min(start, m_settings.distance) / m_cluster * m_cluster;
    const int64_t to = std::min(volumeLength, start + m_settings.distance);
    // Survivors by a digest of their bytes: how many share it, and the first.
    QHash<uint, QPair<int, int64_t>> byContent;
    int distinct = 0;
    std::vector<uint8_t> chunk;
    for (int64_t at = from; at < to; at += kChunk) {
        if (cancelled())
            return {};
        const int64_t length = std::min(kChunk, to - at) / m_cluster * m_cluster;
        if (length <= 0)
            break;
        chunk.resize(static_cast<size_t>(length));
        if (!read(at, chunk.data(), length))
            continue;
        for (int64_t c = 0; c < length; c += m_cluster) {
            if (!admissible({{start, firstLength}, {at + c, m_cluster}}))
                continue;
            if (!probe.accepts(chunk.data() + c, static_cast<size_t>(m_cluster)))
                continue;
            QPair<int, int64_t>& entry = byContent[qHashBits(chunk.data() + c, static_cast<size_t>(m_cluster))];
            if (entry.first++ == 0) {
                entry.second = at + c;
                if (++distinct > 4 * most)
                    return {}; // the stream's bytes say too little to tell clusters apart
            }
        }
    }
    QVector<int64_t> out;
    for (const QPair<int, int64_t>& entry : qAsConst(byContent)) {
        if (entry.first == 1)
            out.append(entry.second);
    }
    if (out.size() > most)
        return {};
    std::sort(out.begin(), out.end());
    return out;
}

QString CPieceSearch::contradictionReason(int64_t start)
{
    return tr("some of its clusters hold a piece of the document at byte %1, which its checks prove whole").arg(start);
}

CPieceSearch::Outcome CPieceSearch::reassemble(const CFileNode& node)
{
    begin(node);
    if (node.firstByteOffset() < 0 || node.hasLayout())
        return outcome();
    const QString type = node.typeName.toUpper();
    if (isZipFamily(type))
        CZipReassembler::search(*this);
    else if (type == QLatin1String("PDF"))
        CPdfReassembler::search(*this);
    else if (type == QLatin1String("DOC") || type == QLatin1String("XLS") || type == QLatin1String("PPT"))
        COleReassembler::search(*this);
    return outcome();
}
