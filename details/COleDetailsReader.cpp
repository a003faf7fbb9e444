#include "details/COleDetailsReader.h"

#include "details/CCompoundStreamCheck.h"
#include "details/CWordDocumentCheck.h"

#include "disk/LittleEndian.h"
#include "scan/CDocumentBytes.h"
#include "scan/CDocumentDetails.h"

#include <QCoreApplication>
#include <QHash>
#include <QTextCodec>
#include <QVector>

#include <algorithm>

namespace {

using namespace le;

constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr int kHeaderSize = 512;
constexpr int kSectorShiftAt = 0x1E;
constexpr int kMiniShiftAt = 0x20;
constexpr int kFatCountAt = 0x2C;
constexpr int kFirstDirectoryAt = 0x30;
constexpr int kMiniCutoffAt = 0x38;
constexpr int kFirstMiniFatAt = 0x3C;
constexpr int kFirstDifatAt = 0x44;
constexpr int kHeaderDifatAt = 0x4C;
constexpr int kHeaderDifatCount = 109;
constexpr int kEntrySize = 128;
constexpr int kEntryNameLengthAt = 0x40;
constexpr int kEntryTypeAt = 0x42;
constexpr int kEntryColorAt = 0x43;
constexpr int kEntryLeftAt = 0x44;
constexpr int kEntryRightAt = 0x48;
constexpr int kEntryChildAt = 0x4C;
constexpr int kEntryNameBytes = 64;
constexpr uint8_t kTypeUnused = 0;
constexpr uint8_t kTypeStorage = 1;
constexpr uint8_t kBlack = 1;
constexpr uint32_t kNoEntry = 0xFFFFFFFFu;
constexpr int kEntryStartAt = 0x74;
constexpr int kEntrySizeAt = 0x78;
constexpr uint8_t kTypeStream = 2;
constexpr uint8_t kTypeRoot = 5;
constexpr uint32_t kMaxRegular = 0xFFFFFFFA;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
// A SummaryInformation stream is a few hundred bytes.
constexpr int64_t kMaxSummary = 256 * 1024;
// The part of a workbook stream read for its sheet list (the list comes
// early in the globals, before the shared strings).
constexpr int64_t kMaxWorkbookGlobals = 64 * 1024;
// The part of a presentation's stream read for its slide list (the document
// container comes first in it).
constexpr int64_t kMaxPresentationStart = 256 * 1024;

// Property identifiers and types of the summary property set.
constexpr uint32_t kPidCodePage = 1;
constexpr uint32_t kPidTitle = 2;
constexpr uint32_t kPidAuthor = 4;
constexpr uint32_t kPidCreated = 12;
constexpr uint32_t kPidSaved = 13;
constexpr uint32_t kPidPages = 14;
constexpr uint32_t kVtI2 = 2;
constexpr uint32_t kVtI4 = 3;
constexpr uint32_t kVtLpstr = 0x1E;
constexpr uint32_t kVtLpwstr = 0x1F;
constexpr uint32_t kVtFiletime = 0x40;
constexpr int kMaxPropertyText = 64 * 1024;

class Compound
{
public:
    Compound(CDocumentBytes& bytes, const CDetailsBudget& budget)
        : m_bytes(bytes)
        , m_items(budget.items)
    {
    }

    // Reads header, allocation tables and directory. False with `reason`
    // empty when the budget ran out.
    bool open(QString* reason);
    bool checkStreams(QString* reason);
    // The named stream (up to `limit` bytes; only its first `limit` bytes
    // when `prefix`, else nothing when it is longer).
    QByteArray stream(const QString& name, int64_t limit, bool prefix = false);
    // Where the named stream's blocks lie, in stream order (see
    // COleDetailsReader::streamLayout).
    QVector<int64_t> layout(const QString& name, int* unit, int64_t* size);
    bool outOfBudget() const { return m_outOfBudget || m_bytes.budgetSpent(); }

private:
    struct Entry
    {
        QString name;
        uint8_t type = 0;
        uint32_t start = 0;
        uint64_t size = 0;
        // Whether the entry's own fields are ones a writer puts there; and
        // the entries it names in the directory's tree.
        bool wellFormed = true;
        uint32_t links[3] = {kNoEntry, kNoEntry, kNoEntry};
    };
    enum class Walk { Ok, Outside, Loop, Short, Budget };

    int64_t sectorPos(uint32_t s) const { return (static_cast<int64_t>(s) + 1) << m_shift; }
    bool insideDocument(uint32_t s) const { return sectorPos(s) + m_sectorSize <= m_bytes.size(); }
    // Follows a chain through `table` from `start`; every link checked.
    Walk walk(const QVector<uint32_t>& table, uint32_t start, bool mini, QVector<uint32_t>* out);
    bool spend()
    {
        if (--m_items < 0)
            m_outOfBudget = true;
        return !m_outOfBudget;
    }
    QByteArray streamBytes(const Entry& e, int64_t limit, bool prefix);
    // The document offset of each block of the entry's stream, and the
    // block size; false when its chain does not hold.
    bool positions(const Entry& e, QVector<int64_t>* out, int* unit);

    CDocumentBytes& m_bytes;
    int64_t m_items;
    bool m_outOfBudget = false;
    int m_shift = 9;
    int m_sectorSize = 512;
    int m_miniShift = 6;
    uint32_t m_cutoff = 4096;
    QVector<uint32_t> m_fat;
    QVector<uint32_t> m_miniFat;
    QVector<Entry> m_entries;
    QVector<uint32_t> m_miniStream; // the root's chain
    uint64_t m_miniStreamSize = 0;
};

Compound::Walk Compound::walk(const QVector<uint32_t>& table, uint32_t start, bool mini, QVector<uint32_t>* out)
{
    out->clear();
    // A chain longer than the table has entries must loop.
    uint32_t s = start;
    while (s != kEndOfChain) {
        if (!spend())
            return Walk::Budget;
        if (s > kMaxRegular || s >= static_cast<uint32_t>(table.size()))
            return Walk::Outside;
        if (mini) {
            if ((static_cast<uint64_t>(s) + 1) << m_miniShift > m_miniStreamSize)
                return Walk::Outside;
        } else if (!insideDocument(s)) {
            return Walk::Outside;
        }
        out->append(s);
        if (out->size() > table.size())
            return Walk::Loop;
        s = table.at(static_cast<int>(s));
    }
    return Walk::Ok;
}

bool Compound::open(QString* reason)
{
    uint8_t h[kHeaderSize];
    if (!m_bytes.read(0, h, kHeaderSize) || !std::equal(kSignature, kSignature + 8, h)) {
        *reason = COleDetailsReader::tr("the compound document's header is missing");
        return false;
    }
    m_shift = u16(h + kSectorShiftAt);
    m_miniShift = u16(h + kMiniShiftAt);
    if ((m_shift != 9 && m_shift != 12) || m_miniShift != 6) {
        *reason = COleDetailsReader::tr("the compound document's header is damaged");
        return false;
    }
    m_sectorSize = 1 << m_shift;
    m_cutoff = u32(h + kMiniCutoffAt);
    const int64_t sectorsInDocument = m_bytes.size() >> m_shift;
    const uint32_t fatCount = u32(h + kFatCountAt);
    if (fatCount == 0 || fatCount > sectorsInDocument) {
        *reason = COleDetailsReader::tr("the compound document's allocation table is larger than the document");
        return false;
    }
    // Where the allocation table's sectors are: the header's list, then the
    // DIFAT chain.
    QVector<uint32_t> fatSectors;
    for (int i = 0; i < kHeaderDifatCount && fatSectors.size() < static_cast<int>(fatCount); ++i)
        fatSectors.append(u32(h + kHeaderDifatAt + 4 * i));
    uint32_t difat = u32(h + kFirstDifatAt);
    QVector<uint8_t> sector(m_sectorSize);
    int difatSteps = 0;
    while (fatSectors.size() < static_cast<int>(fatCount)) {
        if (difat > kMaxRegular || !insideDocument(difat) || ++difatSteps > sectorsInDocument) {
            *reason = COleDetailsReader::tr("the compound document's allocation table list runs past the end of the document");
            return false;
        }
        if (!m_bytes.read(sectorPos(difat), sector.data(), m_sectorSize))
            return false;
        const int perSector = m_sectorSize / 4 - 1;
        for (int i = 0; i < perSector && fatSectors.size() < static_cast<int>(fatCount); ++i)
            fatSectors.append(u32(sector.data() + 4 * i));
        difat = u32(sector.data() + 4 * perSector);
    }
    for (uint32_t fs : fatSectors) {
        if (!spend())
            return false;
        if (fs > kMaxRegular || !insideDocument(fs)) {
            *reason = COleDetailsReader::tr("the compound document's allocation table lies past the end of the document");
            return false;
        }
        if (!m_bytes.read(sectorPos(fs), sector.data(), m_sectorSize))
            return false;
        for (int i = 0; i < m_sectorSize / 4; ++i)
            m_fat.append(u32(sector.data() + 4 * i));
    }

    QVector<uint32_t> chain;
    switch (walk(m_fat, u32(h + kFirstDirectoryAt), false, &chain)) {
    case Walk::Ok:
        break;
    case Walk::Budget:
        return false;
    case Walk::Loop:
        *reason = COleDetailsReader::tr("the compound document's directory chain loops");
        return false;
    default:
        *reason = COleDetailsReader::tr("the compound document's directory runs past the end of the document");
        return false;
    }
    for (uint32_t s : chain) {
        if (!m_bytes.read(sectorPos(s), sector.data(), m_sectorSize))
            return false;
        for (int at = 0; at + kEntrySize <= m_sectorSize; at += kEntrySize) {
            if (!spend())
                return false;
            const uint8_t* e = sector.data() + at;
            Entry entry;
            entry.type = e[kEntryTypeAt];
            const int nameBytes = std::min<int>(u16(e + kEntryNameLengthAt), 64);
            const int chars = std::max(0, nameBytes / 2 - 1);
            for (int c = 0; c < chars; ++c)
                entry.name.append(QChar(u16(e + 2 * c)));
            entry.start = u32(e + kEntryStartAt);
            entry.size = m_shift == 9 ? u32(e + kEntrySizeAt) : u64(e + kEntrySizeAt);
            if (entry.type != kTypeUnused) {
                const int declared = u16(e + kEntryNameLengthAt);
                entry.wellFormed = (entry.type == kTypeStorage || entry.type == kTypeStream || entry.type == kTypeRoot)
                    && declared >= 2 && declared <= kEntryNameBytes && declared % 2 == 0
                    && u16(e + declared - 2) == 0 && e[kEntryColorAt] <= kBlack;
                entry.links[0] = u32(e + kEntryLeftAt);
                entry.links[1] = u32(e + kEntryRightAt);
                entry.links[2] = u32(e + kEntryChildAt);
            } else {
                entry.wellFormed = true;
            }
            m_entries.append(entry);
        }
    }
    if (m_entries.isEmpty() || m_entries.first().type != kTypeRoot) {
        *reason = COleDetailsReader::tr("the compound document's directory has no root entry");
        return false;
    }
    // Every entry in use says what a writer says, and names only entries in
    // use: a directory sector that holds other bytes (a document in pieces
    // carved as one stretch, a sector overwritten) fails this, zeros too.
    for (int i = 0; i < m_entries.size(); ++i) {
        const Entry& entry = m_entries[i];
        bool good = entry.wellFormed;
        for (uint32_t link : entry.links) {
            good = good
                && (link == kNoEntry
                    || (link < static_cast<uint32_t>(m_entries.size()) && m_entries[int(link)].type != kTypeUnused));
        }
        if (!good) {
            *reason = COleDetailsReader::tr("the compound document's directory entry %1 is damaged").arg(i);
            return false;
        }
    }

    // The mini stream (in the root's chain) and its table.
    const Entry& root = m_entries.first();
    m_miniStreamSize = root.size;
    if (root.size > 0) {
        const Walk w = walk(m_fat, root.start, false, &m_miniStream);
        if (w == Walk::Budget)
            return false;
        if (w != Walk::Ok || (static_cast<uint64_t>(m_miniStream.size()) << m_shift) < root.size) {
            *reason = COleDetailsReader::tr("the compound document's small-stream container runs past the end of the document");
            return false;
        }
    }
    const Walk w = walk(m_fat, u32(h + kFirstMiniFatAt), false, &chain);
    if (w == Walk::Budget)
        return false;
    if (w != Walk::Ok) {
        *reason = COleDetailsReader::tr("the compound document's small-block table runs past the end of the document");
        return false;
    }
    for (uint32_t s : chain) {
        if (!m_bytes.read(sectorPos(s), sector.data(), m_sectorSize))
            return false;
        for (int i = 0; i < m_sectorSize / 4; ++i)
            m_miniFat.append(u32(sector.data() + 4 * i));
    }
    return true;
}

bool Compound::checkStreams(QString* reason)
{
    QVector<uint32_t> chain;
    for (const Entry& e : m_entries) {
        if (e.type != kTypeStream)
            continue;
        const bool mini = e.size < m_cutoff;
        if (e.size == 0)
            continue;
        const Walk w = walk(mini ? m_miniFat : m_fat, e.start, mini, &chain);
        if (w == Walk::Budget)
            return false;
        if (w == Walk::Loop) {
            *reason = COleDetailsReader::tr("stream %1's sector chain loops").arg(e.name);
            return false;
        }
        if (w == Walk::Outside) {
            *reason = COleDetailsReader::tr("stream %1 runs past the end of the document").arg(e.name);
            return false;
        }
        const uint64_t have = static_cast<uint64_t>(chain.size()) << (mini ? m_miniShift : m_shift);
        if (have < e.size) {
            *reason = COleDetailsReader::tr("stream %1 is shorter than its stated length (%2 of %3 bytes)")
                          .arg(e.name)
                          .arg(have)
                          .arg(e.size);
            return false;
        }
    }
    return true;
}

bool Compound::positions(const Entry& e, QVector<int64_t>* out, int* unit)
{
    out->clear();
    const bool mini = e.size < m_cutoff;
    *unit = mini ? (1 << m_miniShift) : m_sectorSize;
    QVector<uint32_t> chain;
    if (walk(mini ? m_miniFat : m_fat, e.start, mini, &chain) != Walk::Ok)
        return false;
    out->reserve(chain.size());
    for (uint32_t s : chain) {
        if (!mini) {
            out->append(sectorPos(s));
            continue;
        }
        // Mini sector s lives at byte s*64 of the mini stream.
        const int64_t inStream = static_cast<int64_t>(s) << m_miniShift;
        const int64_t index = inStream >> m_shift;
        if (index >= m_miniStream.size())
            return false;
        out->append(sectorPos(m_miniStream.at(static_cast<int>(index))) + (inStream & (m_sectorSize - 1)));
    }
    return true;
}

QByteArray Compound::streamBytes(const Entry& e, int64_t limit, bool prefix)
{
    if (e.size > static_cast<uint64_t>(limit) && !prefix)
        return QByteArray();
    const uint64_t wanted = std::min<uint64_t>(e.size, static_cast<uint64_t>(limit));
    QVector<int64_t> at;
    int unit = 0;
    if (!positions(e, &at, &unit))
        return QByteArray();
    QByteArray out;
    for (int64_t pos : at) {
        if (static_cast<uint64_t>(out.size()) >= wanted)
            break;
        const QByteArray piece = m_bytes.bytes(pos, unit);
        if (piece.size() != unit)
            return QByteArray();
        out += piece;
    }
    out.truncate(static_cast<int>(std::min<uint64_t>(wanted, static_cast<uint64_t>(out.size()))));
    return out;
}

QVector<int64_t> Compound::layout(const QString& name, int* unit, int64_t* size)
{
    QVector<int64_t> at;
    for (const Entry& e : m_entries) {
        if (e.type == kTypeStream && e.name == name) {
            *size = static_cast<int64_t>(std::min<uint64_t>(e.size, INT64_MAX));
            if (!positions(e, &at, unit))
                at.clear();
            break;
        }
    }
    return at;
}

QByteArray Compound::stream(const QString& name, int64_t limit, bool prefix)
{
    for (const Entry& e : m_entries) {
        if (e.type == kTypeStream && e.name == name)
            return streamBytes(e, limit, prefix);
    }
    return QByteArray();
}

// The first section of a property set stream: its offset, and the count
// of its properties; false when the stream is no property set.
bool firstSection(const uint8_t* p, size_t n, uint32_t* section, uint32_t* count)
{
    constexpr size_t kSetCountAt = 24;
    constexpr size_t kFirstSectionOffsetAt = 44;
    if (!fits(n, 0, 48) || u16(p) != 0xFFFE || u32(p + kSetCountAt) == 0)
        return false;
    *section = u32(p + kFirstSectionOffsetAt);
    if (!fits(n, *section, 8))
        return false;
    *count = u32(p + *section + 4);
    return *count <= (n - *section) / 8;
}

// PIDDSI_SLIDECOUNT of a DocumentSummaryInformation stream, or -1.
int slideCount(const QByteArray& stream)
{
    constexpr uint32_t kPidSlides = 7;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(stream.constData());
    const size_t n = static_cast<size_t>(stream.size());
    uint32_t section = 0;
    uint32_t count = 0;
    if (!firstSection(p, n, &section, &count))
        return -1;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = section + 8 + static_cast<size_t>(i) * 8;
        if (!fits(n, entry, 8) || u32(p + entry) != kPidSlides)
            continue;
        const uint32_t offset = u32(p + entry + 4);
        if (offset > n - section || !fits(n, section + offset, 8) || u32(p + section + offset) != kVtI4)
            return -1;
        const int32_t slides = static_cast<int32_t>(u32(p + section + offset + 4));
        return slides > 0 ? slides : -1;
    }
    return -1;
}

// The sheets a workbook's globals substream lists (BoundSheet8 records of
// worksheets and chart sheets, which follow each other), or -1. Only the
// records up to the end of that run are needed, not the shared strings
// after them.
int sheetCount(const QByteArray& workbook)
{
    constexpr uint16_t kRecordBof = 0x0809;
    constexpr uint16_t kRecordEof = 0x000A;
    constexpr uint16_t kRecordBoundSheet = 0x0085;
    constexpr int kSheetTypeAt = 5; // in the record's data: lbPlyPos (4), hsState (1), dt (1)
    constexpr uint8_t kWorksheet = 0;
    constexpr uint8_t kChart = 2;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(workbook.constData());
    const size_t n = static_cast<size_t>(workbook.size());
    if (!fits(n, 0, 4) || u16(p) != kRecordBof)
        return -1;
    int sheets = 0;
    bool inRun = false;
    // Each step moves on by at least the 4-byte record header.
    for (size_t at = 0; fits(n, at, 4);) {
        const uint16_t type = u16(p + at);
        const size_t length = u16(p + at + 2);
        if (type == kRecordBoundSheet) {
            inRun = true;
            if (length > kSheetTypeAt && fits(n, at + 4, length)) {
                const uint8_t kind = p[at + 4 + kSheetTypeAt];
                sheets += kind == kWorksheet || kind == kChart ? 1 : 0;
            }
        } else if (inRun || type == kRecordEof) {
            return sheets > 0 ? sheets : -1;
        }
        at += 4 + length;
    }
    return -1;
}

// The slides a presentation's document container lists (the
// SlidePersistAtom records of its slide list), or -1 when the container is
// not within `stream`.
int slideList(const QByteArray& stream)
{
    constexpr uint16_t kDocument = 0x03E8;
    constexpr uint16_t kSlideList = 0x0FF0;
    constexpr uint16_t kSlidePersist = 0x03F3;
    constexpr uint16_t kContainer = 0xF;
    constexpr size_t kHeader = 8;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(stream.constData());
    const size_t n = static_cast<size_t>(stream.size());
    // Records inside [from, to): (version, instance, type, data start, data end).
    struct Record
    {
        uint16_t version, instance, type;
        size_t data, end;
    };
    const auto at = [&](size_t pos, size_t to, Record* r) {
        if (!fits(to, pos, kHeader))
            return false;
        const uint16_t head = u16(p + pos);
        r->version = head & 0xF;
        r->instance = head >> 4;
        r->type = u16(p + pos + 2);
        r->data = pos + kHeader;
        r->end = r->data + std::min<size_t>(u32(p + pos + 4), to - r->data);
        return true;
    };
    // Every step moves on by at least a header.
    Record top;
    for (size_t pos = 0; at(pos, n, &top); pos = top.end) {
        if (top.type != kDocument || top.version != kContainer)
            continue;
        Record child;
        for (size_t c = top.data; at(c, top.end, &child); c = child.end) {
            if (child.type != kSlideList || child.version != kContainer || child.instance != 0)
                continue;
            int slides = 0;
            Record atom;
            for (size_t a = child.data; at(a, child.end, &atom); a = atom.end)
                slides += atom.type == kSlidePersist ? 1 : 0;
            return slides;
        }
        return -1;
    }
    return -1;
}

QTextCodec* lookUpCodec(int codePage)
{
    if (codePage == 65001)
        return QTextCodec::codecForName("UTF-8");
    if (codePage <= 0)
        return QTextCodec::codecForName("windows-1252");
    QTextCodec* codec = QTextCodec::codecForName("windows-" + QByteArray::number(codePage));
    if (!codec)
        codec = QTextCodec::codecForName("CP" + QByteArray::number(codePage));
    return codec ? codec : QTextCodec::codecForName("windows-1252");
}

// Looking a codec up by name walks every name ICU knows; documents use a
// handful of code pages, so each is looked up once per thread.
QTextCodec* codecFor(int codePage)
{
    thread_local QHash<int, QTextCodec*> known;
    const auto it = known.constFind(codePage);
    if (it != known.constEnd())
        return *it;
    QTextCodec* codec = lookUpCodec(codePage);
    if (known.size() < 64)
        known.insert(codePage, codec);
    return codec;
}

QDateTime fromFiletime(uint64_t ticks)
{
    // 100 ns units since 1601-01-01 UTC; 0 (and absurd values) mean none.
    constexpr int64_t kEpochShiftMs = 11644473600000LL;
    if (ticks == 0 || ticks > 0x0FFFFFFFFFFFFFFFULL)
        return QDateTime();
    const int64_t ms = static_cast<int64_t>(ticks / 10000) - kEpochShiftMs;
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

} // namespace

bool COleDetailsReader::readSummary(const QByteArray& stream, CDocumentDetails* d)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(stream.constData());
    const size_t n = static_cast<size_t>(stream.size());
    constexpr size_t kSetCountAt = 24;
    constexpr size_t kFirstSectionOffsetAt = 44;
    if (!fits(n, 0, 48) || u16(p) != 0xFFFE || u32(p + kSetCountAt) == 0)
        return false;
    const uint32_t section = u32(p + kFirstSectionOffsetAt);
    if (!fits(n, section, 8))
        return false;
    const uint32_t count = u32(p + section + 4);
    if (count > (n - section) / 8)
        return false;
    int codePage = 0;
    struct Property
    {
        uint32_t id;
        size_t at;
    };
    QVector<Property> properties;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = section + 8 + static_cast<size_t>(i) * 8;
        if (!fits(n, entry, 8))
            return false;
        const uint32_t offset = u32(p + entry + 4);
        if (offset > n - section)
            continue;
        const size_t at = section + offset;
        const uint32_t id = u32(p + entry);
        if (id == kPidCodePage && fits(n, at, 6) && u32(p + at) == kVtI2)
            codePage = u16(p + at + 4);
        properties.append({id, at});
    }
    bool any = false;
    for (const Property& prop : properties) {
        if (!fits(n, prop.at, 8))
            continue;
        const uint32_t type = u32(p + prop.at);
        if (prop.id == kPidTitle || prop.id == kPidAuthor) {
            QString text;
            const uint32_t length = u32(p + prop.at + 4);
            if (type == kVtLpstr && length <= kMaxPropertyText && fits(n, prop.at + 8, length)) {
                const char* s = reinterpret_cast<const char*>(p + prop.at + 8);
                if (codePage == 1200) {
                    for (uint32_t c = 0; c + 1 < length; c += 2)
                        text.append(QChar(u16(p + prop.at + 8 + c)));
                } else {
                    text = codecFor(codePage)->toUnicode(s, static_cast<int>(length));
                }
            } else if (type == kVtLpwstr && length <= kMaxPropertyText / 2 && fits(n, prop.at + 8, 2 * size_t(length))) {
                for (uint32_t c = 0; c < length; ++c)
                    text.append(QChar(u16(p + prop.at + 8 + 2 * c)));
            }
            const int nul = text.indexOf(QChar(0));
            if (nul >= 0)
                text.truncate(nul);
            text = text.trimmed();
            QString& field = prop.id == kPidTitle ? d->title : d->author;
            if (!text.isEmpty() && field.isEmpty()) {
                field = text;
                any = true;
            }
        } else if ((prop.id == kPidCreated || prop.id == kPidSaved) && type == kVtFiletime && fits(n, prop.at + 4, 8)) {
            const QDateTime time = fromFiletime(u64(p + prop.at + 4));
            if (time.isValid()) {
                (prop.id == kPidCreated ? d->created : d->modified) = time;
                any = true;
            }
        } else if (prop.id == kPidPages && type == kVtI4) {
            const int32_t pages = static_cast<int32_t>(u32(p + prop.at + 4));
            if (pages > 0) {
                d->pages = pages;
                any = true;
            }
        }
    }
    return any;
}

QByteArray COleDetailsReader::streamOf(CDocumentBytes& bytes, const CDetailsBudget& budget, const QString& name,
                                       int64_t limit)
{
    Compound doc(bytes, budget);
    QString reason;
    if (!doc.open(&reason))
        return QByteArray();
    return doc.stream(name, limit);
}

namespace {

// The same, read through the document's tables; streams past `limit` are
// not checked.
QString wordTextFault(Compound& doc, int64_t limit)
{
    const QByteArray word = doc.stream(QStringLiteral("WordDocument"), limit);
    if (word.isEmpty())
        return QString();
    // Without its information block nothing else of the stream can be
    // checked: a carved stretch whose second cluster holds other bytes
    // where the block was would pass on its tables alone.
    if (!CWordDocumentCheck::hasFib(word))
        return COleDetailsReader::tr("the Word document's stream does not begin with its information block");
    return CWordDocumentCheck::textFault(word, doc.stream(QStringLiteral("0Table"), limit),
                                         doc.stream(QStringLiteral("1Table"), limit));
}

// Everything a Word document's streams say of their bytes, for an assembly
// of pieces: the information block and the text, as for any document, and
// the formatting pages.
QString wordFault(Compound& doc, int64_t limit)
{
    const QByteArray word = doc.stream(QStringLiteral("WordDocument"), limit);
    if (word.isEmpty())
        return QString();
    QString fault = wordTextFault(doc, limit);
    if (!fault.isEmpty())
        return fault;
    const QByteArray table0 = doc.stream(QStringLiteral("0Table"), limit);
    const QByteArray table1 = doc.stream(QStringLiteral("1Table"), limit);
    return CWordDocumentCheck::formattingFault(word, table0, table1);
}

} // namespace

bool COleDetailsReader::checkRecords(CDocumentBytes& bytes, const CDetailsBudget& budget, QString* reason)
{
    Compound doc(bytes, budget);
    QString ignored;
    if (!doc.open(&ignored))
        return true; // the structure's own check says why
    const int64_t limit = std::min<int64_t>(budget.readBytes, INT32_MAX / 2);
    for (const QString& name :
         {QStringLiteral("\x05SummaryInformation"), QStringLiteral("\x05DocumentSummaryInformation")}) {
        const QByteArray set = doc.stream(name, limit);
        if (!set.isEmpty() && !CCompoundStreamCheck::propertySetHolds(set)) {
            *reason = tr("the property set %1 is damaged").arg(name.mid(1));
            return false;
        }
    }
    QByteArray book = doc.stream(QStringLiteral("Workbook"), limit);
    if (book.isEmpty())
        book = doc.stream(QStringLiteral("Book"), limit);
    if (!book.isEmpty())
        *reason = CCompoundStreamCheck::workbookFault(book);
    else if (const QByteArray show = doc.stream(QStringLiteral("PowerPoint Document"), limit); !show.isEmpty())
        *reason = CCompoundStreamCheck::presentationFault(show);
    else
        *reason = wordFault(doc, limit);
    return reason->isEmpty();
}

bool COleDetailsReader::read(CDocumentBytes& bytes, const CDetailsBudget& budget, CDocumentDetails* d)
{
    Compound doc(bytes, budget);
    QString reason;
    // A step that failed: for want of budget the document is not checked
    // (and may be looked at again with more), else it is damaged.
    auto failed = [&]() {
        if (reason.isEmpty() || doc.outOfBudget()) {
            d->integrity = CDocumentDetails::IntegrityUnchecked;
            d->integrityReason = COleDetailsReader::tr("too large to check within the budget");
            return true;
        }
        d->integrity = CDocumentDetails::IntegrityDamaged;
        d->integrityReason = reason;
        return false;
    };
    if (!doc.open(&reason))
        return failed();
    if (readSummary(doc.stream(QStringLiteral("\x05SummaryInformation"), kMaxSummary), d))
        d->found = true;
    // Where the summary gives no page count: a workbook's sheets, or a
    // presentation's slides as its document summary states them.
    if (d->pages < 0) {
        const QByteArray workbook = doc.stream(QStringLiteral("Workbook"), kMaxWorkbookGlobals, true);
        if (!workbook.isEmpty()) {
            d->pages = sheetCount(workbook);
        } else {
            d->pages = slideCount(doc.stream(QStringLiteral("\x05DocumentSummaryInformation"), kMaxSummary));
            if (d->pages < 0)
                d->pages = slideList(doc.stream(QStringLiteral("PowerPoint Document"), kMaxPresentationStart, true));
        }
        if (d->pages >= 0)
            d->found = true;
    }
    if (!doc.checkStreams(&reason))
        return failed();
    // The chains say nothing of the sectors' bytes; a Word document's text
    // does, and a carved stretch whose tables all lay in its first cluster
    // is told from the document by it alone.
    reason = wordTextFault(doc, std::min<int64_t>(budget.readBytes, INT32_MAX / 2));
    if (!reason.isEmpty()) {
        d->integrity = CDocumentDetails::IntegrityDamaged;
        d->integrityReason = reason;
        return false;
    }
    d->integrity = CDocumentDetails::IntegrityWhole;
    d->integrityReason.clear();
    return false;
}

QVector<int64_t> COleDetailsReader::streamLayout(CDocumentBytes& bytes, const CDetailsBudget& budget,
                                                const QString& name, int* blockSize, int64_t* streamSize)
{
    Compound doc(bytes, budget);
    QString reason;
    if (!doc.open(&reason))
        return {};
    return doc.layout(name, blockSize, streamSize);
}

bool COleDetailsReader::readStreams(CDocumentBytes& bytes, const CDetailsBudget& budget, const QStringList& names,
                                    int64_t limit, QHash<QString, QByteArray>* streams, QString* reason)
{
    Compound doc(bytes, budget);
    if (!doc.open(reason))
        return false;
    for (const QString& name : names) {
        const QByteArray stream = doc.stream(name, limit, true);
        if (!stream.isEmpty())
            streams->insert(name, stream);
    }
    return true;
}
