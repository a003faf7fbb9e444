#include "details/CPdfReassembler.h"

#include "details/CAssemblyCheck.h"
#include "details/CInflateProbe.h"
#include "details/CPdfDetailsReader.h"
#include "details/CPdfObject.h"
#include "details/CPieceSearch.h"
#include "disk/IVolume.h"
#include "scan/CDocumentBytes.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using Extent = CFileNode::Extent;

// How far before its "startxref" a cross-reference section may begin.
constexpr int64_t kMaxSection = int64_t(4) << 20;
constexpr int kStartxrefWindow = 64;
constexpr int kHeaderWindow = 32;
constexpr int kMaxSurvivors = 8;
constexpr int64_t kMaxPrefix = int64_t(16) << 20;

struct Object
{
    int64_t offset = 0;
    int number = 0;
    // "N G obj": how many bytes; the cut that splits it lies before its end.
    int headerLength = 0;
};

class PdfSearch
{
public:
    explicit PdfSearch(CPieceSearch& s)
        : m_s(s)
        , m_start(s.node().firstByteOffset())
        , m_cluster(s.cluster())
    {
    }

    void run();

private:
    // The length of "N G obj" at `position` when object `number` starts
    // there, else 0.
    int headerAt(int64_t position, int number) const;
    void tryStartxref(int64_t at);
    void tryAssemblies();
    void probeMiddle(int64_t low1, int64_t high1, int64_t lowK, int64_t highK);
    QVector<int64_t> boundaries(int64_t low, int64_t high) const;
    bool offer(const QVector<Extent>& pieces);

    int64_t ceilC(int64_t x) const { return (x + m_cluster - 1) / m_cluster * m_cluster; }

    CPieceSearch& m_s;
    const int64_t m_start;
    const int64_t m_cluster;
    int64_t m_shift = 0;
    int64_t m_length = 0;
    int64_t m_section = 0; // the cross-reference section's offset
    QVector<Object> m_objects;
    bool m_stop = false;
};

int PdfSearch::headerAt(int64_t position, int number) const
{
    char w[kHeaderWindow];
    if (!m_s.read(position, w, kHeaderWindow))
        return 0;
    int at = 0;
    CPdfObject num;
    CPdfObject gen;
    CPdfObject keyword;
    int64_t budget = 8;
    if (!CPdfObject::parse(w, kHeaderWindow, &at, &num, &budget) || !num.isInteger() || num.integer() != number
        || !CPdfObject::parse(w, kHeaderWindow, &at, &gen, &budget) || !gen.isInteger()
        || !CPdfObject::parse(w, kHeaderWindow, &at, &keyword, &budget) || keyword.text != "obj")
        return 0;
    // The parse may have read a delimiter after the keyword.
    return std::min(at, kHeaderWindow);
}

void PdfSearch::run()
{
    char head[8];
    if (m_start < 0 || !m_s.read(m_start, head, sizeof head) || std::memcmp(head, "%PDF-", 5) != 0)
        return;
    const int64_t reach = m_s.settings().distance;
    for (int64_t at : m_s.anchors(CPieceSearch::PdfStartxref, m_start - reach, m_start + reach)) {
        if (m_stop || m_s.cancelled())
            return;
        tryStartxref(at);
    }
}

void PdfSearch::tryStartxref(int64_t at)
{
    char w[kStartxrefWindow];
    const int64_t volumeLength = m_s.volume() ? m_s.volume()->length() : 0;
    const int n = static_cast<int>(std::min<int64_t>(kStartxrefWindow, volumeLength - at));
    if (n <= 9 || !m_s.read(at, w, n))
        return;
    const QByteArray text(w, n);
    int i = 9;
    while (i < n && (text[i] == ' ' || text[i] == '\r' || text[i] == '\n'))
        ++i;
    int64_t section = 0;
    int digits = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9' && digits < 18) {
        section = section * 10 + (text[i] - '0');
        ++i;
        ++digits;
    }
    const int eof = text.indexOf("%%EOF", i);
    if (digits == 0 || eof < 0 || !text.mid(i, eof - i).trimmed().isEmpty())
        return;
    int end = eof + 5;
    if (end < n && text[end] == '\r')
        ++end;
    if (end < n && text[end] == '\n')
        ++end;
    const int64_t endPosition = at + end;
    // Where the section may lie: a table's "xref", or an object (a
    // cross-reference stream) before this "startxref", on the grid the
    // document starts on.
    const int64_t phase = ((m_start + section) % m_cluster + m_cluster) % m_cluster;
    const auto onPhase = [this, phase](int64_t v) { return ((v % m_cluster) + m_cluster) % m_cluster == phase; };
    const int64_t lowest = std::max<int64_t>(0, at - kMaxSection);
    QVector<int64_t> places;
    for (int64_t x : m_s.anchors(CPieceSearch::PdfXref, lowest, at)) {
        if (onPhase(x))
            places.append(x);
    }
    // A cross-reference stream is the last object, a little before.
    constexpr int64_t kMaxStreamSection = 64 * 1024;
    for (int64_t keyword : m_s.anchors(CPieceSearch::PdfObject, std::max(lowest, at - kMaxStreamSection), at)) {
        // The header "N G" before " obj" is at most this long.
        constexpr int64_t kLongestNumbers = 20;
        const int64_t v = keyword - ((keyword - phase) % m_cluster + m_cluster) % m_cluster;
        if (keyword - v <= kLongestNumbers && v >= 0)
            places.append(v);
    }
    for (int64_t v : places) {
        if (m_stop)
            return;
        char probe[8];
        if (!m_s.read(v, probe, sizeof probe))
            continue;
        const bool table = std::memcmp(probe, "xref", 4) == 0;
        const bool stream = probe[0] >= '1' && probe[0] <= '9';
        if (!table && !stream)
            continue;
        m_shift = v - section;
        if (m_shift == m_start)
            continue;
        m_section = section;
        m_length = endPosition - m_shift;
        // The section read where the last piece puts it, behind zeros.
        const QVector<Extent> tail{{Extent::kSparse, section}, {v, endPosition - v}};
        const CFileNode tailNode = CAssemblyCheck::nodeOf(QStringLiteral("PDF"), tail);
        CDocumentBytes bytes(m_s.volume(), tailNode, m_s.settings().budget.readBytes);
        QVector<QPair<int64_t, int>> placed;
        QString reason;
        if (!CPdfDetailsReader::placedObjects(bytes, m_s.settings().budget, &placed, &reason) || placed.isEmpty())
            continue;
        m_objects.clear();
        for (const auto& o : placed) {
            if (o.first >= section)
                continue; // the section's own stream object lies in the last piece
            Object ob;
            ob.offset = o.first;
            ob.number = o.second;
            ob.headerLength = QByteArray::number(o.second).size() + 6; // "N 0 obj", the least it can be
            m_objects.append(ob);
        }
        if (!m_objects.isEmpty())
            tryAssemblies();
    }
}

QVector<int64_t> PdfSearch::boundaries(int64_t low, int64_t high) const
{
    QVector<int64_t> out;
    low = std::max(ceilC(low), m_cluster);
    high = std::min(high, m_length - 1);
    for (int64_t p = low; p <= high && out.size() < m_s.settings().maxCandidates; p += m_cluster)
        out.append(p);
    return out;
}

bool PdfSearch::offer(const QVector<Extent>& pieces)
{
    if (!m_s.admissible(pieces))
        return true;
    if (!m_s.offer(pieces))
        m_stop = true;
    return !m_stop;
}

void PdfSearch::tryAssemblies()
{
    const int n = m_objects.size();
    QVector<int> first(n, 0), last(n, 0);
    int f = 0;
    while (f < n && (first[f] = headerAt(m_start + m_objects[f].offset, m_objects[f].number)) > 0)
        ++f;
    if (f == 0)
        return;
    int g = n;
    while (g > 0 && (last[g - 1] = headerAt(m_shift + m_objects[g - 1].offset, m_objects[g - 1].number)) > 0)
        --g;
    const auto offsetOf = [this, n](int i) { return i < n ? m_objects[i].offset : m_section; };
    const auto cutBefore = [this, n](int i) {
        return i < n ? m_objects[i].offset + m_objects[i].headerLength - 1 : m_section;
    };
    const int64_t low1 = m_objects[f - 1].offset + first[f - 1];
    const int64_t high1 = cutBefore(f);
    const int64_t lowK = g > 0 ? m_objects[g - 1].offset + 1 : 0;
    const int64_t highK = offsetOf(g);

    if (f >= g - 1) {
        const int passed = m_s.passed();
        for (int64_t p : boundaries(std::max(low1, lowK), std::min(high1, highK))) {
            if (!offer({{m_start, p}, {m_shift + p, m_length - p}}))
                return;
        }
        if (m_s.passed() == passed && m_s.settings().maxPieces >= 3)
            probeMiddle(low1, high1, lowK, highK);
    }
    if (f >= g || m_s.settings().maxPieces < 3)
        return;
    // A middle piece: an object header in reach that neither piece holds.
    QHash<int, int> byNumber;
    for (int i = f; i < g; ++i)
        byNumber.insert(m_objects[i].number, i);
    QSet<int64_t> tried;
    // Where on the grid the headers of those objects fall: a header found
    // elsewhere is of no use unless it falls there too.
    QSet<int64_t> residues;
    for (int i = f; i < g; ++i)
        residues.insert(m_objects[i].offset % m_cluster);
    const auto residue = [this](int64_t x) { return ((x - m_start) % m_cluster + m_cluster) % m_cluster; };
    const int64_t reach = m_s.settings().distance;
    for (int64_t keyword : m_s.anchors(CPieceSearch::PdfObject, m_start - reach, m_start + reach)) {
        if (m_stop || m_s.cancelled())
            return;
        constexpr int kShortestNumbers = 3; // "N G"
        bool near = false;
        for (int k = kShortestNumbers; k < kHeaderWindow && !near; ++k)
            near = residues.contains(residue(keyword - k));
        if (!near)
            continue;
        // Back over " G" and "N" to the header's first byte.
        char w[kHeaderWindow];
        const int64_t from = std::max<int64_t>(0, keyword - (kHeaderWindow - 1));
        const int length = static_cast<int>(keyword - from);
        if (length <= 0 || !m_s.read(from, w, length))
            continue;
        int i = length;
        const auto skipDigits = [&w, &i]() {
            const int end = i;
            while (i > 0 && w[i - 1] >= '0' && w[i - 1] <= '9')
                --i;
            return end - i;
        };
        if (skipDigits() == 0 || i == 0 || w[i - 1] != ' ')
            continue;
        --i;
        const int numberEnd = i;
        if (skipDigits() == 0)
            continue;
        const int number = QByteArray(w + i, numberEnd - i).toInt();
        const int index = byNumber.value(number, -1);
        if (index < 0)
            continue;
        const int64_t middle = from + i - m_objects[index].offset;
        if (middle == m_start || middle == m_shift || (middle - m_start) % m_cluster != 0 || tried.contains(middle))
            continue;
        tried.insert(middle);
        QVector<int> mid(n, 0);
        if ((mid[index] = headerAt(middle + m_objects[index].offset, number)) == 0)
            continue;
        int a = index;
        while (a > f && (mid[a - 1] = headerAt(middle + m_objects[a - 1].offset, m_objects[a - 1].number)) > 0)
            --a;
        int b = index + 1;
        while (b < g && (mid[b] = headerAt(middle + m_objects[b].offset, m_objects[b].number)) > 0)
            ++b;
        const QVector<int64_t> cuts1 =
            boundaries(std::max(low1, a > f ? m_objects[a - 1].offset + 1 : 0), std::min(high1, m_objects[a].offset));
        const QVector<int64_t> cuts2 =
            boundaries(std::max(lowK, m_objects[b - 1].offset + mid[b - 1]), std::min(highK, cutBefore(b)));
        for (int64_t p1 : cuts1) {
            for (int64_t p2 : cuts2) {
                if (p2 > p1 && !offer({{m_start, p1}, {middle + p1, p2 - p1}, {m_shift + p2, m_length - p2}}))
                    return;
            }
        }
    }
}

void PdfSearch::probeMiddle(int64_t low1, int64_t high1, int64_t lowK, int64_t highK)
{
    CInflateProbe probe;
    for (int64_t p1 : boundaries(low1, std::min(high1, highK - m_cluster))) {
        if (m_stop || m_s.cancelled())
            return;
        // The object the cut splits: its stream must begin in the first piece.
        int s = -1;
        for (int i = 0; i < m_objects.size(); ++i) {
            if (m_objects[i].offset < p1)
                s = i;
        }
        if (s < 0)
            continue;
        QByteArray head(static_cast<int>(std::min<int64_t>(p1 - m_objects[s].offset, 4096)), '\0');
        if (!m_s.read(m_start + m_objects[s].offset, head.data(), head.size()))
            continue;
        const int streamAt = head.indexOf("stream");
        if (streamAt < 0 || !head.left(streamAt).contains("FlateDecode"))
            continue;
        int64_t data = m_objects[s].offset + streamAt + 6;
        if (head.mid(streamAt + 6, 1) == "\r")
            ++data;
        if (data - m_objects[s].offset < head.size() && head[static_cast<int>(data - m_objects[s].offset)] == '\n')
            ++data;
        if (data >= p1 || p1 - data > kMaxPrefix)
            continue;
        QByteArray prefix(static_cast<int>(p1 - data), '\0');
        if (!m_s.read(m_start + data, prefix.data(), prefix.size())
            || !probe.start(reinterpret_cast<const uint8_t*>(prefix.constData()), static_cast<size_t>(prefix.size()),
                            true))
            continue;
        const QVector<int64_t> survivors = m_s.continuations(probe, p1, kMaxSurvivors);
        for (int64_t m : survivors) {
            for (int64_t p2 : boundaries(std::max(lowK, p1 + m_cluster), highK)) {
                if (!offer({{m_start, p1}, {m, p2 - p1}, {m_shift + p2, m_length - p2}}))
                    return;
            }
        }
    }
}

} // namespace

void CPdfReassembler::search(CPieceSearch& search)
{
    PdfSearch(search).run();
}
