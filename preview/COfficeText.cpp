#include "preview/COfficeText.h"

#include "details/CDetailsBudget.h"
#include "details/COleDetailsReader.h"
#include "disk/LittleEndian.h"
#include "preview/CPreviewText.h"
#include "scan/CDocumentBytes.h"

#include <QHash>
#include <QTextCodec>
#include <QVector>

#include <algorithm>

namespace {

using namespace le;

// The part of each stream read: the first text of a document lies early in
// it, and a hostile one must not cost more.
constexpr int64_t kMaxStream = int64_t(16) << 20;

// Word's file information block.
constexpr uint16_t kWordIdent = 0xA5EC;
constexpr int kFibFlagsAt = 0x0A;
constexpr uint16_t kWhichTableStream = 0x0200;
constexpr int kFibBaseSize = 32;
// Index of ccpText in the block of longs, of fcClx/lcbClx in the block of
// offset-length pairs.
constexpr int kCcpTextIndex = 3;
constexpr int kClxIndex = 33;
constexpr uint8_t kClxPrc = 0x01;
constexpr uint8_t kClxPcdt = 0x02;
constexpr int kPcdSize = 8;
constexpr int kPcdFcAt = 2;
constexpr uint32_t kFcCompressed = 0x40000000;

// Workbook records.
constexpr uint16_t kRecordSst = 0x00FC;
constexpr uint16_t kRecordContinue = 0x003C;
constexpr int kRecordHeader = 4;
constexpr int kSstHeader = 8;
constexpr uint8_t kStrHighByte = 0x01;
constexpr uint8_t kStrExtended = 0x04;
constexpr uint8_t kStrRich = 0x08;

// Presentation records.
constexpr int kPptHeader = 8;
constexpr int kPptContainer = 0xF;
constexpr uint16_t kTextCharsAtom = 0x0FA0;
constexpr uint16_t kTextBytesAtom = 0x0FA8;
// Masters, notes and handouts carry placeholder texts, not the document's.
constexpr uint16_t kMainMaster = 0x03F8;
constexpr uint16_t kNotes = 0x03F0;
constexpr uint16_t kHandout = 0x0FC9;

QString latin1(const char* p, int n)
{
    return QString::fromLatin1(p, n);
}

QString utf16(const char* p, int chars)
{
    QString s;
    s.reserve(chars);
    for (int i = 0; i < chars; ++i)
        s.append(QChar(u16(reinterpret_cast<const uint8_t*>(p) + 2 * i)));
    return s;
}

// The bytes of a record continued over several (an SST and its CONTINUEs):
// a string's characters may break at a piece's end, where the next piece
// starts with a fresh flags byte.
class Pieces
{
public:
    explicit Pieces(QVector<QByteArray> pieces)
        : m_pieces(std::move(pieces))
    {
    }
    bool atEnd()
    {
        skipEmpty();
        return m_piece >= m_pieces.size();
    }
    bool byte(uint8_t* out)
    {
        skipEmpty();
        if (m_piece >= m_pieces.size())
            return false;
        *out = static_cast<uint8_t>(m_pieces[m_piece].at(m_at++));
        return true;
    }
    bool u16(uint16_t* out)
    {
        uint8_t a, b;
        if (!byte(&a) || !byte(&b))
            return false;
        *out = static_cast<uint16_t>(a | (b << 8));
        return true;
    }
    bool u32(uint32_t* out)
    {
        uint16_t a, b;
        if (!u16(&a) || !u16(&b))
            return false;
        *out = a | (uint32_t(b) << 16);
        return true;
    }
    bool skip(uint64_t n)
    {
        while (n > 0) {
            skipEmpty();
            if (m_piece >= m_pieces.size())
                return false;
            const uint64_t here = std::min<uint64_t>(n, uint64_t(m_pieces[m_piece].size() - m_at));
            m_at += static_cast<int>(here);
            n -= here;
        }
        return true;
    }
    // `chars` characters, two bytes each when `wide`; across a piece's end
    // the next piece's first byte says the width from there.
    bool chars(int chars, bool wide, QString* out)
    {
        while (chars > 0) {
            if (m_piece >= m_pieces.size())
                return false;
            if (m_at >= m_pieces[m_piece].size()) {
                ++m_piece;
                m_at = 0;
                uint8_t flags;
                if (!byte(&flags))
                    return false;
                wide = flags & kStrHighByte;
                continue;
            }
            const QByteArray& p = m_pieces[m_piece];
            const int unit = wide ? 2 : 1;
            const int here = std::min(chars, (p.size() - m_at) / unit);
            if (here == 0)
                return false; // half a character at a piece's end
            *out += wide ? utf16(p.constData() + m_at, here) : latin1(p.constData() + m_at, here);
            m_at += here * unit;
            chars -= here;
        }
        return true;
    }

private:
    void skipEmpty()
    {
        while (m_piece < m_pieces.size() && m_at >= m_pieces[m_piece].size()) {
            ++m_piece;
            m_at = 0;
        }
    }
    QVector<QByteArray> m_pieces;
    int m_piece = 0;
    int m_at = 0;
};

QHash<QString, QByteArray> streamsOf(CDocumentBytes& bytes, const QStringList& names)
{
    CDetailsBudget budget;
    budget.readBytes = int64_t(64) << 20;
    QHash<QString, QByteArray> streams;
    QString reason;
    COleDetailsReader::readStreams(bytes, budget, names, kMaxStream, &streams, &reason);
    return streams;
}

} // namespace

QString COfficeText::wordText(CDocumentBytes& bytes)
{
    const QString word = QStringLiteral("WordDocument"), t0 = QStringLiteral("0Table"), t1 = QStringLiteral("1Table");
    const QHash<QString, QByteArray> s = streamsOf(bytes, {word, t0, t1});
    return wordText(s.value(word), s.value(t0), s.value(t1));
}

QString COfficeText::wordText(const QByteArray& wordDocument, const QByteArray& table0, const QByteArray& table1)
{
    const auto* w = reinterpret_cast<const uint8_t*>(wordDocument.constData());
    const int64_t size = wordDocument.size();
    if (size < kFibBaseSize + 2 || u16(w) != kWordIdent)
        return QString();
    const QByteArray& table = (u16(w + kFibFlagsAt) & kWhichTableStream) ? table1 : table0;
    // The block of shorts, the block of longs, then the offset-length pairs;
    // each says its own length.
    int64_t at = kFibBaseSize;
    const int shorts = u16(w + at);
    at += 2 + 2 * int64_t(shorts);
    if (at + 2 > size)
        return QString();
    const int longs = u16(w + at);
    const int64_t longsAt = at + 2;
    at = longsAt + 4 * int64_t(longs);
    if (at + 2 > size || longs <= kCcpTextIndex)
        return QString();
    const uint32_t textChars = u32(w + longsAt + 4 * kCcpTextIndex);
    const int pairs = u16(w + at);
    const int64_t pairsAt = at + 2;
    if (pairs <= kClxIndex || pairsAt + 8 * (kClxIndex + 1) > size)
        return QString();
    const uint32_t clxAt = u32(w + pairsAt + 8 * kClxIndex);
    const uint32_t clxLength = u32(w + pairsAt + 8 * kClxIndex + 4);
    if (clxAt >= uint64_t(table.size()) || clxLength > uint64_t(table.size()) - clxAt)
        return QString();
    const auto* clx = reinterpret_cast<const uint8_t*>(table.constData()) + clxAt;
    // Skip the property runs to the piece table.
    int64_t p = 0;
    while (p < clxLength && clx[p] == kClxPrc) {
        if (p + 3 > clxLength)
            return QString();
        p += 3 + u16(clx + p + 1);
    }
    if (p + 5 > clxLength || clx[p] != kClxPcdt)
        return QString();
    const uint32_t plcLength = u32(clx + p + 1);
    const uint8_t* plc = clx + p + 5;
    if (plcLength > clxLength - (p + 5) || plcLength < 4 + kPcdSize + 4)
        return QString();
    const int pieces = static_cast<int>((plcLength - 4) / (4 + kPcdSize));
    QString text;
    // Only the main document's characters: footnotes, headers and the
    // like follow them.
    uint64_t left = textChars > 0 ? textChars : UINT32_MAX;
    for (int i = 0; i < pieces && left > 0 && text.size() < CPreviewText::kMaxChars; ++i) {
        const uint32_t cpStart = u32(plc + 4 * i);
        const uint32_t cpEnd = u32(plc + 4 * (i + 1));
        if (cpEnd <= cpStart)
            continue;
        const int chars = static_cast<int>(std::min<uint64_t>({uint64_t(cpEnd - cpStart), left,
                                                               uint64_t(CPreviewText::kMaxChars)}));
        left -= uint64_t(chars);
        const uint32_t fc = u32(plc + 4 * (pieces + 1) + kPcdSize * i + kPcdFcAt);
        if (fc & kFcCompressed) {
            const uint64_t from = (fc & ~kFcCompressed) / 2;
            if (from + uint64_t(chars) > uint64_t(size))
                continue;
            static QTextCodec* codec = QTextCodec::codecForName("windows-1252");
            text += codec ? codec->toUnicode(wordDocument.constData() + from, chars)
                          : latin1(wordDocument.constData() + from, chars);
        } else {
            if (uint64_t(fc) + 2 * uint64_t(chars) > uint64_t(size))
                continue;
            text += utf16(wordDocument.constData() + fc, chars);
        }
    }
    // Field codes (between the begin and separator marks) are not text.
    QString shown;
    int depth = 0;
    for (QChar c : text) {
        if (c.unicode() == 0x13) {
            ++depth;
        } else if (c.unicode() == 0x14 || c.unicode() == 0x15) {
            depth = std::max(0, depth - 1);
        } else if (depth == 0) {
            shown.append(c);
        }
    }
    return shown;
}

QString COfficeText::workbookText(CDocumentBytes& bytes)
{
    const QString name = QStringLiteral("Workbook");
    return workbookText(streamsOf(bytes, {name}).value(name));
}

QString COfficeText::workbookText(const QByteArray& workbook)
{
    const auto* b = reinterpret_cast<const uint8_t*>(workbook.constData());
    const int64_t size = workbook.size();
    QVector<QByteArray> pieces;
    for (int64_t at = 0; at + kRecordHeader <= size;) {
        const uint16_t type = u16(b + at);
        const uint16_t length = u16(b + at + 2);
        const int64_t data = at + kRecordHeader;
        if (data + length > size)
            break;
        if (type == kRecordSst || (!pieces.isEmpty() && type == kRecordContinue))
            pieces.append(workbook.mid(static_cast<int>(data), length));
        else if (!pieces.isEmpty())
            break;
        at = data + length;
    }
    if (pieces.isEmpty() || pieces.first().size() < kSstHeader)
        return QString();
    Pieces in(pieces);
    uint32_t total = 0, unique = 0;
    in.u32(&total);
    in.u32(&unique);
    QString text;
    for (uint32_t i = 0; i < unique && text.size() < CPreviewText::kMaxChars && !in.atEnd(); ++i) {
        uint16_t chars;
        uint8_t flags;
        uint16_t runs = 0;
        uint32_t extended = 0;
        if (!in.u16(&chars) || !in.byte(&flags) || ((flags & kStrRich) && !in.u16(&runs))
            || ((flags & kStrExtended) && !in.u32(&extended)))
            break;
        QString s;
        if (!in.chars(chars, flags & kStrHighByte, &s))
            break;
        text += s;
        text += QLatin1Char('\n');
        if (!in.skip(4 * uint64_t(runs) + extended))
            break;
    }
    return text;
}

QString COfficeText::presentationText(CDocumentBytes& bytes)
{
    const QString name = QStringLiteral("PowerPoint Document");
    return presentationText(streamsOf(bytes, {name}).value(name));
}

QString COfficeText::presentationText(const QByteArray& stream)
{
    const auto* b = reinterpret_cast<const uint8_t*>(stream.constData());
    const int64_t size = stream.size();
    QString text;
    // Containers are entered, atoms stepped over: every step moves on by
    // at least a header.
    for (int64_t at = 0; at + kPptHeader <= size && text.size() < CPreviewText::kMaxChars;) {
        const uint16_t versionInstance = u16(b + at);
        const uint16_t type = u16(b + at + 2);
        const uint32_t length = u32(b + at + 4);
        const int64_t data = at + kPptHeader;
        const int64_t end = data + std::min<int64_t>(length, size - data);
        if ((versionInstance & 0xF) == kPptContainer && type != kMainMaster && type != kNotes && type != kHandout) {
            at = data;
            continue;
        }
        if (type == kTextCharsAtom)
            text += utf16(stream.constData() + data, static_cast<int>((end - data) / 2)) + QLatin1Char('\n');
        else if (type == kTextBytesAtom)
            text += latin1(stream.constData() + data, static_cast<int>(end - data)) + QLatin1Char('\n');
        at = end;
    }
    return text;
}
