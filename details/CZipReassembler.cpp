#include "details/CZipReassembler.h"

#include "analysers/CZipFileAnalyser.h"
#include "details/CAssemblyCheck.h"
#include "details/CInflateProbe.h"
#include "details/CPieceSearch.h"
#include "details/CZipDetailsReader.h"
#include "disk/IVolume.h"
#include "disk/LittleEndian.h"
#include "scan/CDocumentBytes.h"
#include "scan/CFileTypeCatalogue.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using Extent = CFileNode::Extent;
using Member = CZipDetailsReader::Member;
using Directory = CZipDetailsReader::Directory;

constexpr int kEndSize = 22;
constexpr int kEndCount = 10;
constexpr int kEndDirectorySize = 12;
constexpr int kEndDirectoryOffset = 16;
constexpr int kEndCommentLength = 20;
constexpr int kLocalSize = 30;
constexpr int kLocalFlags = 6;
constexpr int kLocalCrc = 14;
constexpr int kLocalNameLength = 26;
constexpr int kLocalExtraLength = 28;
constexpr uint32_t kLocalSignature = 0x04034b50;
// Member names longer than this are not matched (none of a document's are).
constexpr int kMaxNameRead = 512;
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint32_t kZip64Marker = 0xFFFFFFFFu;
constexpr uint16_t kZip64Count = 0xFFFF;

// One member as the search sees it: where its header lies in the archive,
// and what its header must say.
struct Entry
{
    int64_t offset = 0;
    QByteArray name;
    uint32_t crc = 0;
    bool descriptor = false;
    // Up to the next member's header, or to the central directory.
    int64_t spanEnd = 0;
    int memberIndex = 0;
};

class ZipSearch
{
public:
    explicit ZipSearch(CPieceSearch& s)
        : m_s(s)
        , m_start(s.node().firstByteOffset())
        , m_cluster(s.cluster())
    {
    }

    void run();

private:
    // The length of the member's local header at `position` of the volume
    // when one is there that says what the directory says of it, else 0.
    int64_t headerAt(int64_t position, const Entry& e) const;
    bool tryEnd(int64_t endPosition);
    // m_entries from m_dir: false when it is another archive's directory.
    bool takeDirectory();
    // The directory begins in a middle piece: found by its first entry's
    // header in reach, where it falls on the grid.
    void tryDirectoryInMiddle(int64_t endOffset);
    void tryAssemblies();
    // Boundaries between pieces on the grid in [low, high] (archive offsets).
    QVector<int64_t> boundaries(int64_t low, int64_t high) const;
    // Whether each member whose data one of `cuts` splits checks out.
    bool splitMembersCheck(const QVector<Extent>& pieces, const QVector<int64_t>& cuts);
    bool offer(const QVector<Extent>& pieces, const QVector<int64_t>& cuts);
    // A middle piece that holds no header: the member the first piece ends
    // in is inflated to its cut, and every cluster in reach is tried as
    // what follows it.
    void probeMiddle(const QVector<int64_t>& first, int64_t low1, int64_t high1, int64_t lowK, int64_t highK);

    int64_t ceilC(int64_t x) const { return (x + m_cluster - 1) / m_cluster * m_cluster; }
    int64_t floorC(int64_t x) const { return x / m_cluster * m_cluster; }

    CPieceSearch& m_s;
    const int64_t m_start;
    const int64_t m_cluster;
    QByteArray m_firstName;

    // The end record tried now.
    int64_t m_shift = 0; // volume position of archive offset x in the last piece: x + m_shift
    int64_t m_length = 0;
    int64_t m_directoryOffset = 0;
    Directory m_dir;
    QVector<Entry> m_entries;
    bool m_stop = false;
};

int64_t ZipSearch::headerAt(int64_t position, const Entry& e) const
{
    // The header and the name the directory expects, in one read.
    uint8_t h[kLocalSize + kMaxNameRead];
    const int want = kLocalSize + static_cast<int>(std::min<int64_t>(e.name.size(), kMaxNameRead));
    if (e.name.size() > kMaxNameRead || !m_s.read(position, h, want) || le::u32(h) != kLocalSignature)
        return 0;
    const int nameLength = le::u16(h + kLocalNameLength);
    if (nameLength != e.name.size())
        return 0;
    if (!e.descriptor && !(le::u16(h + kLocalFlags) & kFlagDescriptor) && le::u32(h + kLocalCrc) != e.crc)
        return 0;
    if (std::memcmp(h + kLocalSize, e.name.constData(), static_cast<size_t>(nameLength)) != 0)
        return 0;
    return kLocalSize + nameLength + le::u16(h + kLocalExtraLength);
}

void ZipSearch::run()
{
    uint8_t h[kLocalSize];
    if (m_start < 0 || !m_s.read(m_start, h, kLocalSize) || le::u32(h) != kLocalSignature)
        return;
    m_firstName.resize(le::u16(h + kLocalNameLength));
    if (!m_s.read(m_start + kLocalSize, m_firstName.data(), m_firstName.size()))
        return;
    const int64_t reach = m_s.settings().distance;
    for (int64_t end : m_s.anchors(CPieceSearch::ZipEnd, m_start - reach, m_start + reach)) {
        if (m_stop || m_s.cancelled())
            return;
        tryEnd(end);
    }
}

bool ZipSearch::takeDirectory()
{
    m_entries.clear();
    for (int i = 0; i < m_dir.members.size(); ++i) {
        const Member& m = m_dir.members[i];
        if (m.localOffset >= uint64_t(m_directoryOffset))
            return false;
        Entry en;
        en.offset = static_cast<int64_t>(m.localOffset);
        en.name = m.name.toUtf8();
        en.crc = m.crc;
        en.descriptor = (m.flags & kFlagDescriptor) != 0;
        en.memberIndex = i;
        m_entries.append(en);
    }
    std::sort(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) { return a.offset < b.offset; });
    for (int i = 0; i < m_entries.size(); ++i)
        m_entries[i].spanEnd = i + 1 < m_entries.size() ? m_entries[i + 1].offset : m_directoryOffset;
    // Another archive's end, unless its first member is this one's.
    return !m_entries.isEmpty() && m_entries.first().offset == 0 && m_entries.first().name == m_firstName;
}

void ZipSearch::tryDirectoryInMiddle(int64_t endOffset)
{
    if (m_s.settings().maxPieces < 3)
        return;
    const int64_t reach = m_s.settings().distance;
    const int64_t residue = m_directoryOffset % m_cluster;
    for (int64_t c : m_s.anchors(CPieceSearch::ZipCentral, m_start - reach, m_start + reach)) {
        if (m_stop || m_s.cancelled())
            return;
        const int64_t middle = c - m_directoryOffset;
        if (((c - m_start) % m_cluster + m_cluster) % m_cluster != residue || middle == m_start || middle == m_shift)
            continue;
        for (int64_t p2 : boundaries(m_directoryOffset + 1, endOffset)) {
            const QVector<Extent> tail{{Extent::kSparse, m_directoryOffset},
                                       {c, p2 - m_directoryOffset},
                                       {m_shift + p2, m_length - p2}};
            const CFileNode tailNode = CAssemblyCheck::nodeOf(m_s.node().typeName, tail);
            CDocumentBytes bytes(m_s.volume(), tailNode, m_s.settings().budget.readBytes);
            QString reason;
            m_dir = Directory();
            if (!CZipDetailsReader::readDirectory(bytes, m_s.settings().budget, &m_dir, &reason) || m_dir.base != 0
                || m_dir.end != m_length || !takeDirectory())
                continue;
            // The first piece holds a prefix of the headers, the middle one
            // the rest (one cut by the first boundary in neither).
            const int n = m_entries.size();
            QVector<int64_t> first(n, 0);
            int f = 0;
            while (f < n && (first[f] = headerAt(m_start + m_entries[f].offset, m_entries[f])) > 0)
                ++f;
            if (f == 0)
                continue;
            int a = n;
            while (a > f && headerAt(middle + m_entries[a - 1].offset, m_entries[a - 1]) > 0)
                --a;
            const int64_t low = std::max(m_entries[f - 1].offset + first[f - 1],
                                         a > 0 ? m_entries[a - 1].offset + 1 : int64_t(0));
            const int64_t high1 = f < n ? m_entries[f].offset + kLocalSize + m_entries[f].name.size() - 1
                                        : m_directoryOffset;
            const int64_t highM = a < n ? m_entries[a].offset : m_directoryOffset;
            for (int64_t p1 : boundaries(low, std::min(high1, highM))) {
                if (p1 < p2
                    && !offer({{m_start, p1}, {middle + p1, p2 - p1}, {m_shift + p2, m_length - p2}}, {p1, p2}))
                    return;
            }
        }
    }
}

bool ZipSearch::tryEnd(int64_t endPosition)
{
    uint8_t e[kEndSize];
    if (!m_s.read(endPosition, e, kEndSize))
        return false;
    const uint32_t directorySize = le::u32(e + kEndDirectorySize);
    const uint32_t directoryOffset = le::u32(e + kEndDirectoryOffset);
    if (le::u16(e + kEndCount) == kZip64Count || directorySize == kZip64Marker || directoryOffset == kZip64Marker)
        return false; // an archive past 4 GiB is not searched for
    const int64_t endOffset = int64_t(directoryOffset) + directorySize;
    m_shift = endPosition - endOffset;
    m_length = endOffset + kEndSize + le::u16(e + kEndCommentLength);
    m_directoryOffset = directoryOffset;
    // The document itself, in one stretch (the plain check judged that),
    // or an end record off the grid for this document.
    if (m_shift == m_start || (m_shift - m_start) % m_cluster != 0)
        return false;

    // The directory and end record read where the last piece puts them,
    // behind zeros standing for the pieces before it.
    const QVector<Extent> tail{{Extent::kSparse, m_directoryOffset},
                               {m_shift + m_directoryOffset, m_length - m_directoryOffset}};
    const CFileNode tailNode = CAssemblyCheck::nodeOf(m_s.node().typeName, tail);
    CDocumentBytes bytes(m_s.volume(), tailNode, m_s.settings().budget.readBytes);
    QString reason;
    m_dir = Directory();
    if (!CZipDetailsReader::readDirectory(bytes, m_s.settings().budget, &m_dir, &reason) || m_dir.base != 0
        || m_dir.end != m_length || m_dir.members.isEmpty()) {
        // The directory may begin in the first piece: then the boundary
        // lies inside it, and only the whole assembly can tell.
        // Or in a middle piece.
        if (!reason.isEmpty() || m_dir.members.isEmpty()) {
            for (int64_t p : boundaries(m_directoryOffset + 1, endOffset)) {
                if (!m_s.admissible({{m_start, p}, {m_shift + p, m_length - p}}))
                    continue;
                if (!m_s.offer({{m_start, p}, {m_shift + p, m_length - p}})) {
                    m_stop = true;
                    break;
                }
            }
            if (!m_stop)
                tryDirectoryInMiddle(endOffset);
        }
        return false;
    }

    if (!takeDirectory())
        return false;
    tryAssemblies();
    return true;
}

QVector<int64_t> ZipSearch::boundaries(int64_t low, int64_t high) const
{
    QVector<int64_t> out;
    low = std::max(ceilC(low), m_cluster);
    high = std::min(high, m_length - 1);
    for (int64_t p = low; p <= high && out.size() < m_s.settings().maxCandidates; p += m_cluster)
        out.append(p);
    return out;
}

void ZipSearch::tryAssemblies()
{
    const int n = m_entries.size();
    // Members whose headers lie where the first piece puts them: a prefix.
    QVector<int64_t> first(n, 0), last(n, 0);
    int f = 0;
    while (f < n && (first[f] = headerAt(m_start + m_entries[f].offset, m_entries[f])) > 0)
        ++f;
    if (f == 0)
        return;
    // Members whose headers lie where the last piece puts them: a suffix.
    int g = n;
    while (g > 0 && (last[g - 1] = headerAt(m_shift + m_entries[g - 1].offset, m_entries[g - 1])) > 0)
        --g;
    if (g == 0)
        return; // a whole copy of the archive elsewhere
    const auto offsetOf = [this, n](int i) { return i < n ? m_entries[i].offset : m_directoryOffset; };
    // Where a header that a piece does not hold whole may end at the latest.
    const auto cutBefore = [this, n](int i) {
        return i < n ? m_entries[i].offset + kLocalSize + m_entries[i].name.size() - 1 : m_directoryOffset;
    };
    // A boundary lies after the last header the piece before it holds, and
    // at or before the first header the piece after it holds; a header cut
    // by the boundary is held by neither.
    const int64_t low1 = m_entries[f - 1].offset + first[f - 1];
    const int64_t high1 = cutBefore(f);
    const int64_t lowK = m_entries[g - 1].offset + 1;
    const int64_t highK = offsetOf(g);

    if (f >= g - 1) {
        const int passed = m_s.passed();
        for (int64_t p : boundaries(std::max(low1, lowK), std::min(high1, highK))) {
            if (!offer({{m_start, p}, {m_shift + p, m_length - p}}, {p}))
                return;
        }
        if (m_s.passed() == passed && m_s.settings().maxPieces >= 3)
            probeMiddle(first, low1, high1, lowK, highK);
    }
    if (f >= g || m_s.settings().maxPieces < 3)
        return;
    // A middle piece: where a header that neither piece holds lies in reach.
    QHash<QByteArray, int> byName;
    // Where on the grid those headers fall: one found elsewhere in reach
    // is of no use unless it falls there too.
    QSet<int64_t> residues;
    for (int i = f; i < g; ++i) {
        byName.insert(m_entries[i].name, i);
        residues.insert(m_entries[i].offset % m_cluster);
    }
    QSet<int64_t> tried;
    const int64_t reach = m_s.settings().distance;
    for (int64_t h : m_s.anchors(CPieceSearch::ZipLocal, m_start - reach, m_start + reach)) {
        if (m_stop || m_s.cancelled())
            return;
        if (!residues.contains(((h - m_start) % m_cluster + m_cluster) % m_cluster))
            continue;
        uint8_t header[kLocalSize];
        if (!m_s.read(h, header, kLocalSize))
            continue;
        QByteArray name(le::u16(header + kLocalNameLength), '\0');
        if (!m_s.read(h + kLocalSize, name.data(), name.size()))
            continue;
        const int i = byName.value(name, -1);
        if (i < 0)
            continue;
        const int64_t middle = h - m_entries[i].offset;
        if (middle == m_start || middle == m_shift || (middle - m_start) % m_cluster != 0 || tried.contains(middle))
            continue;
        tried.insert(middle);
        QVector<int64_t> mid(n, 0);
        if ((mid[i] = headerAt(middle + m_entries[i].offset, m_entries[i])) == 0)
            continue;
        int a = i;
        while (a > f && (mid[a - 1] = headerAt(middle + m_entries[a - 1].offset, m_entries[a - 1])) > 0)
            --a;
        int b = i + 1;
        while (b < g && (mid[b] = headerAt(middle + m_entries[b].offset, m_entries[b])) > 0)
            ++b;
        const QVector<int64_t> cuts1 =
            boundaries(std::max(low1, a > f ? m_entries[a - 1].offset + 1 : 0), std::min(high1, m_entries[a].offset));
        const QVector<int64_t> cuts2 =
            boundaries(std::max(lowK, m_entries[b - 1].offset + mid[b - 1]), std::min(highK, cutBefore(b)));
        for (int64_t p1 : cuts1) {
            for (int64_t p2 : cuts2) {
                if (p2 <= p1)
                    continue;
                if (!offer({{m_start, p1}, {middle + p1, p2 - p1}, {m_shift + p2, m_length - p2}}, {p1, p2}))
                    return;
            }
        }
    }
}

void ZipSearch::probeMiddle(const QVector<int64_t>& first, int64_t low1, int64_t high1, int64_t lowK, int64_t highK)
{
    // A member's compressed data larger than this is not inflated again for
    // every cut tried.
    constexpr int64_t kMaxPrefix = int64_t(16) << 20;
    constexpr int kMaxSurvivors = 8;
    CInflateProbe probe;
    for (int64_t p1 : boundaries(low1, std::min(high1, highK - m_cluster))) {
        if (m_stop || m_s.cancelled())
            return;
        // The member whose data the cut splits, its header in the first piece.
        int s = -1;
        for (int i = 0; i < m_entries.size(); ++i) {
            if (m_entries[i].offset < p1 && p1 < m_entries[i].spanEnd)
                s = i;
        }
        if (s < 0 || first[s] == 0 || m_dir.members[m_entries[s].memberIndex].method != kMethodDeflated)
            continue;
        const int64_t data = m_entries[s].offset + first[s];
        if (data >= p1 || p1 - data > kMaxPrefix)
            continue;
        QByteArray prefix(static_cast<int>(p1 - data), '\0');
        if (!m_s.read(m_start + data, prefix.data(), prefix.size())
            || !probe.start(reinterpret_cast<const uint8_t*>(prefix.constData()), static_cast<size_t>(prefix.size())))
            continue;
        const QVector<int64_t> survivors = m_s.continuations(probe, p1, kMaxSurvivors);
        for (int64_t m : survivors) {
            for (int64_t p2 : boundaries(std::max(lowK, p1 + m_cluster), highK)) {
                if (!offer({{m_start, p1}, {m, p2 - p1}, {m_shift + p2, m_length - p2}}, {p1, p2}))
                    return;
            }
        }
    }
}

bool ZipSearch::splitMembersCheck(const QVector<Extent>& pieces, const QVector<int64_t>& cuts)
{
    const CFileNode node = CAssemblyCheck::nodeOf(m_s.node().typeName, pieces);
    CDocumentBytes bytes(m_s.volume(), node, m_s.settings().budget.readBytes);
    int64_t inflateLeft = m_s.settings().budget.inflatedBytes;
    std::vector<uint8_t> buffer;
    for (const Entry& e : m_entries) {
        bool split = false;
        for (int64_t cut : cuts)
            split = split || (e.offset < cut && cut < e.spanEnd);
        if (!split)
            continue;
        QString reason;
        const CZipDetailsReader::MemberCheck r =
            CZipDetailsReader::checkMember(bytes, m_dir, m_dir.members[e.memberIndex], &inflateLeft, &buffer, &reason);
        if (r == CZipDetailsReader::MemberCheck::Damaged)
            return false;
    }
    return true;
}

bool ZipSearch::offer(const QVector<Extent>& pieces, const QVector<int64_t>& cuts)
{
    if (!m_s.admissible(pieces))
        return true;
    if (!splitMembersCheck(pieces, cuts))
        return !m_s.cancelled();
    if (!m_s.offer(pieces))
        m_stop = true;
    return !m_stop;
}

} // namespace

void CZipReassembler::search(CPieceSearch& search)
{
    ZipSearch(search).run();
}

QString CZipReassembler::typeOf(CPieceSearch& search, const QVector<Extent>& pieces)
{
    const CFileNode node = CAssemblyCheck::nodeOf(QStringLiteral("ZIP"), pieces);
    CDocumentBytes bytes(search.volume(), node, search.settings().budget.readBytes);
    Directory dir;
    QString reason;
    int code = 0;
    if (CZipDetailsReader::readDirectory(bytes, search.settings().budget, &dir, &reason)) {
        for (const Member& m : dir.members) {
            const QByteArray name = m.name.toUtf8();
            code = CZipFileAnalyser::typeCodeOfMember(name.constData(), static_cast<size_t>(name.size()));
            if (code != 0)
                break;
        }
    }
    return code != 0 ? CFileTypeCatalogue::typeName(code) : QStringLiteral("ZIP");
}
