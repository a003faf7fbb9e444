#include "details/CCompoundStreamCheck.h"

#include "disk/LittleEndian.h"

#include <QPair>
#include <QVector>

#include <algorithm>

using namespace le;

namespace {

// The workbook's shared strings: the SST record's data and its CONTINUE
// records' (`segments`, offset and length each) hold exactly the unique
// strings it counts, each a character count, flags with no reserved bit
// set, its characters (a CONTINUE that splits them begins with new flags)
// and its formatting runs and extension. Bytes of another kind inside a
// long string table (zeros above all) break the count or the flags.
bool sharedStringsHold(const uint8_t* p, const QVector<QPair<int, int>>& segments)
{
    constexpr uint8_t kHighByte = 0x01;
    constexpr uint8_t kExtended = 0x04;
    constexpr uint8_t kRich = 0x08;
    constexpr uint8_t kReserved = 0xF2;
    constexpr uint8_t kContinueReserved = 0xFE;
    int segment = 0;
    int at = segments.first().first;
    int end = at + segments.first().second;
    const auto nextSegment = [&]() {
        if (++segment >= segments.size())
            return false;
        at = segments.at(segment).first;
        end = at + segments.at(segment).second;
        return true;
    };
    // `count` bytes read across segments (into `out` when given).
    const auto take = [&](int64_t count, uint8_t* out) {
        for (int64_t i = 0; i < count; ++i) {
            while (at == end) {
                if (!nextSegment())
                    return false;
            }
            if (out)
                out[i] = p[at];
            ++at;
        }
        return true;
    };
    uint8_t head[8];
    if (!take(8, head))
        return false;
    const uint32_t unique = u32(head + 4);
    for (uint32_t i = 0; i < unique; ++i) {
        uint8_t b[4];
        if (!take(3, b) || (b[2] & kReserved))
            return false;
        int64_t left = u16(b);
        const uint8_t flags = b[2];
        int64_t runs = 0;
        int64_t extension = 0;
        if (flags & kRich) {
            if (!take(2, b))
                return false;
            runs = u16(b);
        }
        if (flags & kExtended) {
            if (!take(4, b))
                return false;
            extension = u32(b);
        }
        // The characters: a CONTINUE that splits them begins with the
        // flags of the rest.
        int width = (flags & kHighByte) ? 2 : 1;
        while (left > 0) {
            if (at == end) {
                if (!nextSegment() || at == end || (p[at] & kContinueReserved))
                    return false;
                width = (p[at] & kHighByte) ? 2 : 1;
                ++at;
            }
            const int64_t here = std::min<int64_t>(left, (end - at) / width);
            if (here == 0)
                return false; // a character split between records
            at += int(here * width);
            left -= here;
        }
        if (!take(4 * runs, nullptr) || !take(extension, nullptr))
            return false;
    }
    return segment == segments.size() - 1 && at == end;
}

} // namespace

// BIFF: u16 type, u16 length, at most 8224 bytes of data, from a BOF record
// to the stream's end (or to padding of zeros after the last record).
QString CCompoundStreamCheck::workbookFault(const QByteArray& book)
{
    constexpr int kBiffHeader = 4;
    constexpr uint16_t kBiffBof = 0x0809;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(book.constData());
    const int n = book.size();
    if (n < kBiffHeader || u16(p) != kBiffBof)
        return CCompoundStreamCheck::tr("the workbook stream does not begin with a record");
    constexpr uint16_t kBiffRow = 0x0208;
    constexpr uint16_t kBiffSst = 0x00FC;
    constexpr uint16_t kBiffContinue = 0x003C;
    const auto zerosFrom = [&](int at) { return std::all_of(p + at, p + n, [](uint8_t b) { return b == 0; }); };
    // The shared strings' record and the continuations right after it.
    QVector<QPair<int, int>> strings;
    bool inStrings = false;
    const auto stringsFault = [&]() {
        return strings.isEmpty() || sharedStringsHold(p, strings)
            ? QString()
            : CCompoundStreamCheck::tr("the workbook's shared strings do not hold");
    };
    // Cells, and row records, come in the order of their rows within a
    // sheet: bytes of the same workbook from another place do not.
    int lastCell = -1;
    int lastRow = -1;
    int at = 0;
    while (at + kBiffHeader <= n) {
        const int type = u16(p + at);
        const int length = u16(p + at + 2);
        if (type == 0 && length == 0 && zerosFrom(at))
            return stringsFault();
        if (!CCompoundStreamCheck::isBiffRecord(type, length) || at + kBiffHeader + length > n)
            return CCompoundStreamCheck::tr("the workbook stream breaks at byte %1").arg(at);
        if (type == kBiffSst && strings.isEmpty()) {
            strings.append({at + kBiffHeader, length});
            inStrings = true;
        } else if (type == kBiffContinue && inStrings) {
            strings.append({at + kBiffHeader, length});
        } else {
            inStrings = false;
        }
        if (type == kBiffBof) {
            lastCell = lastRow = -1;
        } else if (length >= 2 && (CCompoundStreamCheck::isBiffCell(type) || type == kBiffRow)) {
            int& last = type == kBiffRow ? lastRow : lastCell;
            if (u16(p + at + kBiffHeader) < last)
                return CCompoundStreamCheck::tr("the workbook's rows go back at byte %1").arg(at);
            last = u16(p + at + kBiffHeader);
        }
        at += kBiffHeader + length;
    }
    if (at != n && !zerosFrom(at))
        return CCompoundStreamCheck::tr("the workbook stream breaks at byte %1").arg(at);
    return stringsFault();
}

// The presentation's records: u16 version and instance, u16 type, u32
// length, each top-level record inside the stream.
QString CCompoundStreamCheck::presentationFault(const QByteArray& show)
{
    constexpr int kPptHeader = 8;
    constexpr uint16_t kPptFirstType = 0x03E8;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(show.constData());
    const int64_t n = show.size();
    int64_t at = 0;
    while (at + kPptHeader <= n) {
        const int type = u16(p + at + 2);
        const int64_t length = u32(p + at + 4);
        if (type < kPptFirstType || length > n - at - kPptHeader) {
            if (std::all_of(p + at, p + n, [](uint8_t b) { return b == 0; }))
                return QString();
            return CCompoundStreamCheck::tr("the presentation stream breaks at byte %1").arg(at);
        }
        at += kPptHeader + length;
    }
    return QString();
}

// A property set (the summary streams): its header, every section inside
// the stream, and every property's value inside its section with a type a
// writer puts there (the two bytes after the type are zero). A lost piece
// of the stream, replaced by other bytes, breaks one of them unless it lay
// wholly inside one long value.
bool CCompoundStreamCheck::propertySetHolds(const QByteArray& stream)
{
    constexpr size_t kHeader = 28;
    constexpr size_t kSectionCountAt = 24;
    constexpr size_t kSectionEntry = 20;
    constexpr size_t kSectionOffsetInEntry = 16;
    constexpr uint32_t kMostSections = 2;
    constexpr uint32_t kDictionary = 0;
    constexpr uint32_t kVector = 0x1000;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(stream.constData());
    const size_t n = static_cast<size_t>(stream.size());
    if (!fits(n, 0, kHeader) || u16(p) != 0xFFFE || u16(p + 2) > 1)
        return false;
    const uint32_t sections = u32(p + kSectionCountAt);
    if (sections == 0 || sections > kMostSections || !fits(n, kHeader, kSectionEntry * sections))
        return false;
    const auto knownType = [](uint32_t type) {
        const uint32_t base = type & ~kVector;
        return (type & ~(kVector | 0xFFFu)) == 0
            && (base <= 0x08 || (base >= 0x0A && base <= 0x0C) || (base >= 0x10 && base <= 0x17) || base == 0x1E
                || base == 0x1F || (base >= 0x40 && base <= 0x49));
    };
    for (uint32_t k = 0; k < sections; ++k) {
        const size_t at = u32(p + kHeader + kSectionEntry * k + kSectionOffsetInEntry);
        if (!fits(n, at, 8))
            return false;
        const size_t size = u32(p + at);
        const uint32_t count = u32(p + at + 4);
        if (size < 8 || !fits(n, at, size) || count > (size - 8) / 8)
            return false;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* entry = p + at + 8 + 8 * size_t(i);
            const size_t offset = u32(entry + 4);
            if (u32(entry) == kDictionary)
                continue;
            if (!fits(size, offset, 4) || !knownType(u32(p + at + offset)))
                return false;
        }
    }
    return true;
}

bool CCompoundStreamCheck::isBiffCell(uint16_t type)
{
    switch (type) {
    case 0x00FD: // LABELSST
    case 0x0203: // NUMBER
    case 0x027E: // RK
    case 0x00BD: // MULRK
    case 0x00BE: // MULBLANK
    case 0x0201: // BLANK
    case 0x0006: // FORMULA
    case 0x0205: // BOOLERR
    case 0x0204: // LABEL
        return true;
    default:
        return false;
    }
}

bool CCompoundStreamCheck::isBiffRecord(uint16_t type, uint16_t length)
{
    constexpr int kBiffMaxData = 8224;
    return type != 0 && length <= kBiffMaxData;
}
