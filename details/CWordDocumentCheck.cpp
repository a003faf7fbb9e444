#include "details/CWordDocumentCheck.h"

#include "disk/LittleEndian.h"

namespace {

using namespace le;

constexpr uint16_t kWordIdent = 0xA5EC;
constexpr uint16_t kWord6Ident = 0xA5DC;
constexpr int kVersionAt = 0x02;
constexpr uint16_t kWord97 = 0x00C1;
constexpr int kFlagsAt = 0x0A;
constexpr uint16_t kWhichTableFlag = 0x0200;
constexpr int kRgFcLcbCountAt = 0x98; // after the 32-byte base and the two counted arrays
constexpr int kRgFcLcbAt = 0x9A;      // the offset/size pairs into the table stream
constexpr int kClxPair = 33;          // the Clx's place among them
constexpr int kBteChpxPair = 12;      // the character formatting pages' bin table
constexpr int kBtePapxPair = 13;      // the paragraph formatting pages'
constexpr int kPageSize = 512;
constexpr int kCountAt = kPageSize - 1;
constexpr int kMostCharacterRuns = 0x65;
constexpr int kMostParagraphRuns = 0x1D;
constexpr uint32_t kPageNumberMask = 0x3FFFFF;
// Bounds on what the landmarks of one document may cost.
constexpr int kMostLookedUpPieces = 1024;
constexpr int kMostLandmarks = 1 << 16;

int pairAt(int index)
{
    return kRgFcLcbAt + 8 * index;
}

// The table stream the block names, or nothing when the stream is no Word
// 97 or later one or lacks the pair at `index`.
const QByteArray* tableFor(const QByteArray& word, const QByteArray& table0, const QByteArray& table1, int index)
{
    const uint8_t* w = reinterpret_cast<const uint8_t*>(word.constData());
    const size_t wn = static_cast<size_t>(word.size());
    // Word 6 and 95 share the identifier but lay the block out otherwise.
    if (!fits(wn, 0, pairAt(index) + 8) || u16(w) != kWordIdent || u16(w + kVersionAt) < kWord97
        || u16(w + kRgFcLcbCountAt) <= index)
        return nullptr;
    return (u16(w + kFlagsAt) & kWhichTableFlag) ? &table1 : &table0;
}

// Whether a character is one that ends a paragraph: a paragraph mark, a
// table cell's or row's end, a section break.
bool paragraphMark(uint16_t c)
{
    return c == 0x0D || c == 0x07 || c == 0x0C;
}

// Whether the character that ends before stream offset `fc` ends a
// paragraph, as 8-bit or as UTF-16 text.
bool endsParagraph(const uint8_t* w, size_t wn, uint32_t fc)
{
    return (fc >= 1 && fc <= wn && paragraphMark(w[fc - 1])) || (fc >= 2 && fc <= wn && paragraphMark(u16(w + fc - 2)));
}

// The pages one bin table names: each lies inside the stream, counts its
// runs within what a page holds, and lists ascending offsets of which the
// first is the one the bin table gives for the page. A paragraph page's
// runs are paragraphs: each ends where the text has a paragraph's end, so
// foreign bytes in place of the text are seen there too.
QString pagesFault(const QByteArray& word, const QByteArray& table, uint32_t fc, uint32_t lcb, int mostRuns,
                   bool paragraphs)
{
    const uint8_t* w = reinterpret_cast<const uint8_t*>(word.constData());
    const size_t wn = static_cast<size_t>(word.size());
    const uint8_t* t = reinterpret_cast<const uint8_t*>(table.constData());
    const size_t tn = static_cast<size_t>(table.size());
    const QString broken = CWordDocumentCheck::tr("the Word document's formatting pages do not hold");
    if (!fits(tn, fc, lcb) || lcb < 4 || (lcb - 4) % 8 != 0)
        return broken;
    // n+1 offsets into the stream, then n page numbers.
    const size_t pages = (lcb - 4) / 8;
    const uint8_t* fcs = t + fc;
    const uint8_t* numbers = fcs + 4 * (pages + 1);
    for (size_t i = 0; i < pages; ++i) {
        const size_t at = size_t(u32(numbers + 4 * i) & kPageNumberMask) * kPageSize;
        if (!fits(wn, at, kPageSize))
            return broken;
        const uint8_t* page = w + at;
        const int runs = page[kCountAt];
        if (runs < 1 || runs > mostRuns || u32(page) != u32(fcs + 4 * i))
            return CWordDocumentCheck::tr("the Word document's formatting page at byte %1 of its stream is damaged")
                .arg(at);
        for (int r = 0; r < runs; ++r) {
            if (u32(page + 4 * r) >= u32(page + 4 * (r + 1)))
                return CWordDocumentCheck::tr("the Word document's formatting page at byte %1 of its stream is damaged")
                    .arg(at);
            if (paragraphs && !endsParagraph(w, wn, u32(page + 4 * (r + 1))))
                return CWordDocumentCheck::tr("the Word document's paragraph ending at byte %1 of its stream has no mark")
                    .arg(u32(page + 4 * (r + 1)));
        }
    }
    return QString();
}

} // namespace

bool CWordDocumentCheck::hasFib(const QByteArray& word)
{
    const uint8_t* w = reinterpret_cast<const uint8_t*>(word.constData());
    return fits(static_cast<size_t>(word.size()), 0, 2) && (u16(w) == kWordIdent || u16(w) == kWord6Ident);
}

namespace {

struct TextPiece
{
    uint64_t start;  // in the WordDocument stream
    uint64_t length; // in bytes
    bool compressed; // 8-bit text, else UTF-16
};

// The pieces of text the piece table names, or why it does not hold
// (`fault` empty with no pieces when there is nothing to read it by).
QVector<TextPiece> textPieces(const QByteArray& word, const QByteArray& table0, const QByteArray& table1,
                              QString* fault)
{
    constexpr uint8_t kPrcMark = 0x01;
    constexpr uint8_t kPcdtMark = 0x02;
    constexpr int kPcdSize = 8;
    constexpr uint32_t kCompressed = 0x40000000u;
    constexpr int kMaxPrc = 1 << 16;
    fault->clear();
    const QByteArray* chosen = tableFor(word, table0, table1, kClxPair);
    if (!chosen)
        return {};
    const QByteArray& table = *chosen;
    const uint8_t* w = reinterpret_cast<const uint8_t*>(word.constData());
    const uint32_t fcClx = u32(w + pairAt(kClxPair));
    const uint32_t lcbClx = u32(w + pairAt(kClxPair) + 4);
    // No piece table, or a table stream past the read limit: nothing to
    // check the text by (a stream missing from the directory is no proof
    // that bytes are foreign).
    if (lcbClx == 0 || table.isEmpty())
        return {};
    const uint8_t* t = reinterpret_cast<const uint8_t*>(table.constData());
    const size_t tn = static_cast<size_t>(table.size());
    const QString broken = CWordDocumentCheck::tr("the Word document's piece table does not hold");
    if (!fits(tn, fcClx, lcbClx)) {
        *fault = broken;
        return {};
    }
    size_t at = fcClx;
    const size_t end = size_t(fcClx) + lcbClx;
    for (int prc = 0; at < end && t[at] == kPrcMark; ++prc) {
        if (prc >= kMaxPrc || !fits(end, at + 1, 2) || !fits(end, at + 3, u16(t + at + 1))) {
            *fault = broken;
            return {};
        }
        at += 3 + u16(t + at + 1);
    }
    if (!fits(end, at, 5) || t[at] != kPcdtMark) {
        *fault = broken;
        return {};
    }
    const uint32_t lcb = u32(t + at + 1);
    at += 5;
    // n+1 character positions, then n 8-byte piece descriptors.
    if (!fits(end, at, lcb) || lcb < 4 || (lcb - 4) % (4 + kPcdSize) != 0) {
        *fault = broken;
        return {};
    }
    const size_t count = (lcb - 4) / (4 + kPcdSize);
    const uint8_t* cps = t + at;
    const uint8_t* pcds = cps + 4 * (count + 1);
    QVector<TextPiece> out;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t from = u32(cps + 4 * i);
        const uint32_t to = u32(cps + 4 * (i + 1));
        if (to < from) {
            *fault = broken;
            return {};
        }
        const uint32_t fc = u32(pcds + kPcdSize * i + 2);
        const bool compressed = fc & kCompressed;
        out.append({compressed ? (fc & ~kCompressed) / 2 : fc, uint64_t(to - from) * (compressed ? 1 : 2), compressed});
    }
    return out;
}

} // namespace

QString CWordDocumentCheck::textFault(const QByteArray& word, const QByteArray& table0, const QByteArray& table1)
{
    QString fault;
    const QVector<TextPiece> pieces = textPieces(word, table0, table1, &fault);
    if (!fault.isEmpty())
        return fault;
    const uint8_t* w = reinterpret_cast<const uint8_t*>(word.constData());
    const size_t wn = static_cast<size_t>(word.size());
    for (const TextPiece& piece : pieces) {
        if (piece.start > wn || piece.length > wn - piece.start)
            return tr("the Word document's text lies outside its stream");
        const uint8_t* text = w + piece.start;
        const int step = piece.compressed ? 1 : 2;
        for (uint64_t c = 0; c + step <= piece.length; c += step) {
            if ((piece.compressed ? text[c] : u16(text + c)) == 0)
                return tr("the Word document's text breaks at byte %1 of its stream").arg(piece.start + c);
        }
    }
    return QString();
}

QString CWordDocumentCheck::formattingFault(const QByteArray& word, const QByteArray& table0, const QByteArray& table1)
{
    const QByteArray* table = tableFor(word, table0, table1, kBtePapxPair);
    if (!table || table->isEmpty())
        return QString();
    const uint8_t* w = reinterpret_cast<const uint8_t*>(word.constData());
    for (const auto& kind : {std::make_pair(kBteChpxPair, kMostCharacterRuns), std::make_pair(kBtePapxPair, kMostParagraphRuns)}) {
        const uint32_t fc = u32(w + pairAt(kind.first));
        const uint32_t lcb = u32(w + pairAt(kind.first) + 4);
        if (lcb == 0)
            continue;
        const QString fault = pagesFault(word, *table, fc, lcb, kind.second, kind.first == kBtePapxPair);
        if (!fault.isEmpty())
            return fault;
    }
    return QString();
}

QVector<CWordDocumentCheck::Landmark> CWordDocumentCheck::landmarks(const QByteArray& word, const QByteArray& table0,
                                                                   const QByteArray& table1, const QByteArray& pages)
{
    QVector<Landmark> out;
    const QByteArray* table = tableFor(word, table0, table1, kBtePapxPair);
    if (!table || table->isEmpty())
        return out;
    QString fault;
    QVector<TextPiece> pieces = textPieces(word, table0, table1, &fault);
    // Each paragraph end is looked up among the pieces: a table of very
    // many pieces gives none (a writer's has a handful).
    if (pieces.size() > kMostLookedUpPieces)
        pieces.clear();
    const uint8_t* w = reinterpret_cast<const uint8_t*>(word.constData());
    const uint8_t* pw = reinterpret_cast<const uint8_t*>(pages.constData());
    const size_t pn = static_cast<size_t>(pages.size());
    const uint8_t* t = reinterpret_cast<const uint8_t*>(table->constData());
    const size_t tn = static_cast<size_t>(table->size());
    for (const int pair : {kBteChpxPair, kBtePapxPair}) {
        const uint32_t fc = u32(w + pairAt(pair));
        const uint32_t lcb = u32(w + pairAt(pair) + 4);
        if (lcb < 4 || (lcb - 4) % 8 != 0 || !fits(tn, fc, lcb))
            continue;
        const size_t pages = (lcb - 4) / 8;
        const uint8_t* fcs = t + fc;
        const uint8_t* numbers = fcs + 4 * (pages + 1);
        const int mostRuns = pair == kBtePapxPair ? kMostParagraphRuns : kMostCharacterRuns;
        for (size_t i = 0; i < pages && out.size() < kMostLandmarks; ++i) {
            const uint32_t at = (u32(numbers + 4 * i) & kPageNumberMask) * kPageSize;
            const uint32_t first = u32(fcs + 4 * i);
            out.append({Landmark::PageStart, at, 4, first, 2});
            // A paragraph page whose bytes are at hand and hold: the
            // paragraphs it lists end with a mark in the text.
            if (pair != kBtePapxPair || !fits(pn, at, kPageSize))
                continue;
            const uint8_t* page = pw + at;
            const int runs = page[kCountAt];
            bool holds = runs >= 1 && runs <= mostRuns && u32(page) == first;
            for (int r = 0; holds && r < runs; ++r)
                holds = u32(page + 4 * r) < u32(page + 4 * (r + 1));
            for (int r = 1; holds && r <= runs; ++r) {
                const uint32_t end = u32(page + 4 * r);
                for (const TextPiece& piece : pieces) {
                    if (end > piece.start && end <= piece.start + piece.length) {
                        const int width = piece.compressed ? 1 : 2;
                        if (end >= uint32_t(width))
                            out.append({Landmark::ParagraphEnd, end - uint32_t(width), width, 0, 1});
                        break;
                    }
                }
            }
        }
    }
    return out;
}

CWordDocumentCheck::Landmark CWordDocumentCheck::identifier()
{
    return {Landmark::Identifier, 0, 2, kWordIdent, 2};
}

bool CWordDocumentCheck::holds(const Landmark& mark, const uint8_t* at)
{
    if (mark.kind == Landmark::PageStart)
        return u32(at) == mark.value;
    if (mark.kind == Landmark::Identifier)
        return u16(at) == mark.value;
    return paragraphMark(mark.width == 1 ? at[0] : u16(at));
}
