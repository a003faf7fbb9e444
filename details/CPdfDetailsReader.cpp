#include "details/CPdfDetailsReader.h"

#include "details/CInflater.h"
#include "details/CPdfObject.h"
#include "details/CXmlMetadata.h"
#include "scan/CDocumentBytes.h"
#include "scan/CDocumentDetails.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

// How much is read at once to parse one object or one trailer.
constexpr int kObjectWindow = 64 * 1024;
constexpr int kTailLength = 2048;
constexpr int kMaxSections = 64;
constexpr int kMaxResolveDepth = 8;
constexpr int kXrefEntryLength = 20;
constexpr int64_t kMaxObjectNumber = 8388607; // the format's own limit
constexpr int64_t kMaxXmp = 1 << 20;

struct XrefEntry
{
    int type = 0;         // 1: at an offset, 2: inside an object stream
    int64_t offset = 0;   // type 1: byte offset; type 2: the stream's object number
    int generation = 0;   // type 1: generation; type 2: index in the stream
};

class Pdf
{
public:
    Pdf(CDocumentBytes& bytes, const CDetailsBudget& budget)
        : m_bytes(bytes)
        , m_items(budget.items)
        , m_inflateLeft(budget.inflatedBytes)
    {
    }

    // Loads every cross-reference section. False with an empty reason when
    // the budget ran out.
    bool load(QString* reason);
    bool checkOffsets(QString* reason);
    // Every stream ends where its /Length says ("endstream" there), and
    // every Flate stream inflates to its end with a good Adler-32.
    bool checkStreams(QString* reason);
    // The objects at an offset, in offset order: (offset, number).
    std::vector<std::pair<int64_t, int>> placedObjects() const;
    void details(CDocumentDetails* d);
    void refill(int64_t items) { m_items = items; }
    bool outOfBudget() const { return m_items < 0 || m_inflateLeft < 0 || m_bytes.budgetSpent(); }

private:
    // Up to `length` bytes at `position`; in place (no copy) when the
    // document is in memory, so valid only while it is.
    QByteArray window(int64_t position, int length)
    {
        const int64_t n = std::min<int64_t>(length, m_bytes.size() - position);
        if (n <= 0)
            return QByteArray();
        if (m_bytes.inMemory()) {
            const uint8_t* p = m_bytes.view(position, n);
            return p ? QByteArray::fromRawData(reinterpret_cast<const char*>(p), static_cast<int>(n)) : QByteArray();
        }
        return m_bytes.bytes(position, n);
    }
    bool loadSection(int64_t position, QString* reason, QList<int64_t>* next);
    bool loadTable(int64_t position, QString* reason, CPdfObject* trailer);
    bool loadStream(const CPdfObject& dict, int64_t dataPos, QString* reason);
    void addEntry(int64_t number, const XrefEntry& e)
    {
        if (number >= 0 && number <= kMaxObjectNumber && !m_xref.contains(static_cast<int>(number)))
            m_xref.insert(static_cast<int>(number), e);
    }
    // Parses "N G obj <value>" at `position`; the stream data's position
    // (or -1) goes to `streamPos`.
    bool objectAt(int64_t position, int number, CPdfObject* out, int64_t* streamPos);
    bool resolve(const CPdfObject& value, CPdfObject* out, int depth = 0);
    bool resolveNumber(int number, CPdfObject* out, int64_t* streamPos, int depth);
    // The decoded data of a stream object.
    bool streamData(const CPdfObject& dict, int64_t dataPos, int64_t maxOutput, QByteArray* out, int depth);

    CDocumentBytes& m_bytes;
    int64_t m_items;
    int64_t m_inflateLeft;
    QHash<int, XrefEntry> m_xref;
    CPdfObject m_trailer;
    bool m_haveTrailer = false;
    // Decoded object streams, by their object number, with their /N and
    // /First.
    QHash<int, QByteArray> m_objectStreams;
    QHash<int, CPdfObject> m_streamHeaders;
};

bool Pdf::load(QString* reason)
{
    const int64_t size = m_bytes.size();
    const int64_t tailStart = std::max<int64_t>(0, size - kTailLength);
    const QByteArray tail = window(tailStart, kTailLength);
    const int mark = tail.lastIndexOf("startxref");
    if (mark < 0) {
        if (!m_bytes.budgetSpent())
            *reason = CPdfDetailsReader::tr("the document has no startxref (its end is missing)");
        return false;
    }
    int at = mark + 9;
    CPdfObject start;
    int64_t parseBudget = 4;
    if (!CPdfObject::parse(tail.constData(), tail.size(), &at, &start, &parseBudget) || !start.isInteger()
        || start.integer() < 0 || start.integer() >= size) {
        *reason = CPdfDetailsReader::tr("startxref points outside the document");
        return false;
    }
    QList<int64_t> pending{start.integer()};
    QSet<int64_t> seen;
    while (!pending.isEmpty()) {
        const int64_t position = pending.takeFirst();
        if (seen.contains(position))
            continue;
        if (seen.size() >= kMaxSections) {
            *reason = CPdfDetailsReader::tr("the document has too many cross-reference sections");
            return false;
        }
        seen.insert(position);
        if (!loadSection(position, reason, &pending))
            return false;
    }
    return true;
}

bool Pdf::loadSection(int64_t position, QString* reason, QList<int64_t>* next)
{
    if (position < 0 || position >= m_bytes.size()) {
        *reason = CPdfDetailsReader::tr("a cross-reference section lies outside the document");
        return false;
    }
    const QByteArray w = window(position, kObjectWindow);
    if (w.isEmpty())
        return false;
    int at = 0;
    CPdfObject::skipSpace(w.constData(), w.size(), &at);
    CPdfObject trailer;
    if (w.mid(at, 4) == "xref") {
        if (!loadTable(position + at + 4, reason, &trailer))
            return false;
    } else {
        int64_t streamPos = -1;
        if (!objectAt(position, -1, &trailer, &streamPos) || trailer.type != CPdfObject::Dictionary
            || trailer.get("Type").text != "XRef" || streamPos < 0) {
            if (!outOfBudget())
                *reason = CPdfDetailsReader::tr("startxref or /Prev points to byte %1, where no cross-reference section is")
                              .arg(position);
            return false;
        }
        if (!loadStream(trailer, streamPos, reason))
            return false;
    }
    if (!m_haveTrailer) {
        m_trailer = trailer;
        m_haveTrailer = true;
    }
    for (const char* key : {"XRefStm", "Prev"}) {
        const CPdfObject& v = trailer.get(key);
        if (v.isInteger())
            next->append(v.integer());
    }
    return true;
}

bool Pdf::loadTable(int64_t position, QString* reason, CPdfObject* trailer)
{
    int64_t cursor = position;
    for (;;) {
        if (--m_items < 0)
            return false;
        const QByteArray w = window(cursor, 256);
        if (w.isEmpty())
            return false;
        int at = 0;
        CPdfObject::skipSpace(w.constData(), w.size(), &at);
        if (w.mid(at, 7) == "trailer") {
            const QByteArray t = window(cursor + at + 7, kObjectWindow);
            int tat = 0;
            if (!CPdfObject::parse(t.constData(), t.size(), &tat, trailer, &m_items)
                || trailer->type != CPdfObject::Dictionary) {
                if (!outOfBudget())
                    *reason = CPdfDetailsReader::tr("the trailer after the cross-reference table cannot be read");
                return false;
            }
            return true;
        }
        CPdfObject first;
        CPdfObject count;
        if (!CPdfObject::parse(w.constData(), w.size(), &at, &first, &m_items)
            || !CPdfObject::parse(w.constData(), w.size(), &at, &count, &m_items) || !first.isInteger()
            || !count.isInteger() || first.integer() < 0 || count.integer() < 0) {
            if (!outOfBudget())
                *reason = CPdfDetailsReader::tr("the cross-reference table at byte %1 cannot be read").arg(position - 4);
            return false;
        }
        // The entries start on the next line.
        while (at < w.size() && (w[at] == ' ' || w[at] == '\r' || w[at] == '\n'))
            ++at;
        const int64_t n = count.integer();
        if (n > m_items) {
            m_items = -1;
            return false;
        }
        m_items -= n;
        const int64_t entriesPos = cursor + at;
        const QByteArray entries = n > 0 ? window(entriesPos, static_cast<int>(n * kXrefEntryLength)) : QByteArray();
        if (entries.size() != n * kXrefEntryLength) {
            if (!outOfBudget())
                *reason = CPdfDetailsReader::tr("the cross-reference table at byte %1 is cut short").arg(position - 4);
            return false;
        }
        for (int64_t k = 0; k < n; ++k) {
            const char* e = entries.constData() + k * kXrefEntryLength;
            const char kind = e[17];
            if (kind != 'n' && kind != 'f') {
                *reason = CPdfDetailsReader::tr("the cross-reference table at byte %1 has a damaged entry").arg(position - 4);
                return false;
            }
            XrefEntry entry;
            entry.type = kind == 'n' ? 1 : 0;
            entry.offset = std::strtoll(QByteArray(e, 10).constData(), nullptr, 10);
            entry.generation = static_cast<int>(std::strtol(QByteArray(e + 11, 5).constData(), nullptr, 10));
            addEntry(first.integer() + k, entry);
        }
        cursor = entriesPos + n * kXrefEntryLength;
    }
}

bool Pdf::loadStream(const CPdfObject& dict, int64_t dataPos, QString* reason)
{
    QByteArray data;
    if (!streamData(dict, dataPos, std::min<int64_t>(m_inflateLeft, int64_t(64) << 20), &data, 0)) {
        if (!outOfBudget())
            *reason = CPdfDetailsReader::tr("the cross-reference stream does not decode");
        return false;
    }
    const CPdfObject& widths = dict.get("W");
    if (widths.type != CPdfObject::Array || widths.items.size() != 3) {
        *reason = CPdfDetailsReader::tr("the cross-reference stream does not decode");
        return false;
    }
    int w[3];
    int rowLength = 0;
    for (int i = 0; i < 3; ++i) {
        w[i] = static_cast<int>(widths.items.at(i).integer());
        if (w[i] < 0 || w[i] > 8) {
            *reason = CPdfDetailsReader::tr("the cross-reference stream does not decode");
            return false;
        }
        rowLength += w[i];
    }
    if (rowLength == 0) {
        *reason = CPdfDetailsReader::tr("the cross-reference stream does not decode");
        return false;
    }
    QList<int64_t> index;
    const CPdfObject& ranges = dict.get("Index");
    if (ranges.type == CPdfObject::Array) {
        for (const CPdfObject& v : ranges.items)
            index.append(v.integer());
    } else {
        index << 0 << dict.get("Size").integer();
    }
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data.constData());
    int64_t row = 0;
    const int64_t rows = data.size() / rowLength;
    for (int r = 0; r + 1 < index.size(); r += 2) {
        const int64_t first = index.at(r);
        const int64_t count = index.at(r + 1);
        if (first < 0 || count < 0)
            break;
        for (int64_t k = 0; k < count && row < rows; ++k, ++row) {
            if (--m_items < 0)
                return false;
            const uint8_t* e = p + row * rowLength;
            uint64_t field[3] = {1, 0, 0}; // a missing type field means 1
            int at = 0;
            for (int f = 0; f < 3; ++f) {
                if (w[f] == 0) {
                    if (f > 0)
                        field[f] = 0;
                    continue;
                }
                field[f] = 0;
                for (int b = 0; b < w[f]; ++b)
                    field[f] = (field[f] << 8) | e[at++];
            }
            XrefEntry entry;
            entry.type = field[0] <= 2 ? static_cast<int>(field[0]) : 0;
            entry.offset = static_cast<int64_t>(std::min<uint64_t>(field[1], INT64_MAX));
            entry.generation = static_cast<int>(std::min<uint64_t>(field[2], 65535));
            addEntry(first + k, entry);
        }
    }
    return true;
}

bool Pdf::objectAt(int64_t position, int number, CPdfObject* out, int64_t* streamPos)
{
    *streamPos = -1;
    const QByteArray w = window(position, kObjectWindow);
    if (w.isEmpty())
        return false;
    int at = 0;
    CPdfObject num;
    CPdfObject gen;
    CPdfObject keyword;
    if (!CPdfObject::parse(w.constData(), w.size(), &at, &num, &m_items) || !num.isInteger()
        || !CPdfObject::parse(w.constData(), w.size(), &at, &gen, &m_items) || !gen.isInteger()
        || !CPdfObject::parse(w.constData(), w.size(), &at, &keyword, &m_items) || keyword.text != "obj")
        return false;
    if (number >= 0 && num.integer() != number)
        return false;
    if (!CPdfObject::parse(w.constData(), w.size(), &at, out, &m_items))
        return false;
    int after = at;
    CPdfObject::skipSpace(w.constData(), w.size(), &after);
    if (w.mid(after, 6) == "stream") {
        after += 6;
        if (after < w.size() && w[after] == '\r')
            ++after;
        if (after < w.size() && w[after] == '\n')
            ++after;
        *streamPos = position + after;
    }
    return true;
}

bool Pdf::resolveNumber(int number, CPdfObject* out, int64_t* streamPos, int depth)
{
    *streamPos = -1;
    if (depth > kMaxResolveDepth)
        return false;
    const auto it = m_xref.constFind(number);
    if (it == m_xref.constEnd())
        return false;
    if (it->type == 1)
        return objectAt(it->offset, number, out, streamPos);
    if (it->type != 2 || it->offset > INT32_MAX)
        return false;
    // Inside an object stream: its header lists "number offset" pairs.
    const int streamNumber = static_cast<int>(it->offset);
    if (!m_objectStreams.contains(streamNumber)) {
        CPdfObject dict;
        int64_t dataPos = -1;
        QByteArray data;
        if (!resolveNumber(streamNumber, &dict, &dataPos, depth + 1) || dataPos < 0
            || !streamData(dict, dataPos, std::min<int64_t>(m_inflateLeft, int64_t(16) << 20), &data, depth + 1))
            return false;
        m_objectStreams.insert(streamNumber, data);
        m_objectStreams[streamNumber].append(' ');
        // The stream's own dictionary rides along for /N and /First.
        CPdfObject header;
        header.type = CPdfObject::Array;
        header.items << dict.get("N") << dict.get("First");
        m_streamHeaders.insert(streamNumber, header);
    }
    const QByteArray& data = m_objectStreams[streamNumber];
    const CPdfObject& header = m_streamHeaders[streamNumber];
    const int64_t count = header.items.value(0).integer();
    const int64_t first = header.items.value(1).integer();
    if (count < 0 || first < 0 || first > data.size())
        return false;
    int at = 0;
    for (int64_t k = 0; k < count; ++k) {
        CPdfObject num;
        CPdfObject offset;
        if (!CPdfObject::parse(data.constData(), static_cast<int>(first), &at, &num, &m_items)
            || !CPdfObject::parse(data.constData(), static_cast<int>(first), &at, &offset, &m_items))
            return false;
        if (num.integer() != number)
            continue;
        const int64_t value = first + std::max<int64_t>(0, offset.integer());
        if (value >= data.size())
            return false;
        int valueAt = static_cast<int>(value);
        return CPdfObject::parse(data.constData(), data.size(), &valueAt, out, &m_items);
    }
    return false;
}

bool Pdf::resolve(const CPdfObject& value, CPdfObject* out, int depth)
{
    if (value.type != CPdfObject::Reference) {
        *out = value;
        return true;
    }
    int64_t streamPos = -1;
    return resolveNumber(value.objectNumber, out, &streamPos, depth);
}

bool Pdf::streamData(const CPdfObject& dict, int64_t dataPos, int64_t maxOutput, QByteArray* out, int depth)
{
    CPdfObject lengthValue;
    if (depth > kMaxResolveDepth || !resolve(dict.get("Length"), &lengthValue, depth + 1) || !lengthValue.isInteger())
        return false;
    const int64_t length = lengthValue.integer();
    if (length < 0 || dataPos > m_bytes.size() || length > m_bytes.size() - dataPos)
        return false;
    CPdfObject filter = dict.get("Filter");
    if (filter.type == CPdfObject::Array && filter.items.size() == 1)
        filter = filter.items.first();
    CPdfObject parms = dict.get("DecodeParms");
    if (parms.type == CPdfObject::Array && parms.items.size() == 1)
        parms = parms.items.first();
    if (filter.type == CPdfObject::Null) {
        if (length > maxOutput)
            return false;
        *out = m_bytes.bytes(dataPos, length);
        return out->size() == length;
    }
    if (filter.type != CPdfObject::Name || filter.text != "FlateDecode")
        return false;
    const CInflater::Result r =
        CInflater::inflateToArray(m_bytes, dataPos, length, CInflater::Format::Zlib, maxOutput, out);
    m_inflateLeft -= out->size();
    if (r == CInflater::Result::OverBudget)
        m_inflateLeft = -1;
    if (r != CInflater::Result::Ok)
        return false;
    // PNG predictors (10..15): one filter byte before each row.
    const int64_t predictor = parms.get("Predictor").integer();
    if (predictor >= 10) {
        const int64_t columns = parms.get("Columns").type == CPdfObject::Null ? 1 : parms.get("Columns").integer();
        if (columns <= 0 || columns > (1 << 20))
            return false;
        const int rowLength = static_cast<int>(columns);
        QByteArray decoded;
        std::vector<uint8_t> previous(static_cast<size_t>(rowLength), 0);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(out->constData());
        for (int at = 0; at + 1 + rowLength <= out->size(); at += 1 + rowLength) {
            const uint8_t type = p[at];
            std::vector<uint8_t> row(p + at + 1, p + at + 1 + rowLength);
            for (int i = 0; i < rowLength; ++i) {
                const int left = i > 0 ? row[static_cast<size_t>(i - 1)] : 0;
                const int up = previous[static_cast<size_t>(i)];
                const int upLeft = i > 0 ? previous[static_cast<size_t>(i - 1)] : 0;
                int add = 0;
                switch (type) {
                case 1: add = left; break;
                case 2: add = up; break;
                case 3: add = (left + up) / 2; break;
                case 4: {
                    const int est = left + up - upLeft;
                    const int pa = std::abs(est - left);
                    const int pb = std::abs(est - up);
                    const int pc = std::abs(est - upLeft);
                    add = pa <= pb && pa <= pc ? left : (pb <= pc ? up : upLeft);
                    break;
                }
                default: break;
                }
                row[static_cast<size_t>(i)] = static_cast<uint8_t>(row[static_cast<size_t>(i)] + add);
            }
            decoded.append(reinterpret_cast<const char*>(row.data()), rowLength);
            previous = row;
        }
        *out = decoded;
    }
    return true;
}

std::vector<std::pair<int64_t, int>> Pdf::placedObjects() const
{
    std::vector<std::pair<int64_t, int>> objects;
    for (auto it = m_xref.constBegin(); it != m_xref.constEnd(); ++it) {
        if (it->type == 1 && !(it->offset == 0 && it.key() == 0))
            objects.emplace_back(it->offset, it.key());
    }
    std::sort(objects.begin(), objects.end());
    return objects;
}

bool Pdf::checkStreams(QString* reason)
{
    constexpr int kEndLength = 9; // "endstream"
    for (const auto& o : placedObjects()) {
        if (--m_items < 0)
            return false;
        CPdfObject dict;
        int64_t data = -1;
        if (!objectAt(o.first, o.second, &dict, &data))
            return false; // checkOffsets says why
        if (data < 0 || dict.type != CPdfObject::Dictionary)
            continue;
        CPdfObject lengthValue;
        int64_t length = -1;
        if (resolve(dict.get("Length"), &lengthValue) && lengthValue.isInteger())
            length = lengthValue.integer();
        if (length < 0 || data > m_bytes.size() || length > m_bytes.size() - data) {
            if (outOfBudget())
                return false;
            *reason = CPdfDetailsReader::tr("the stream of object %1 has no length inside the document").arg(o.second);
            return false;
        }
        const QByteArray end = window(data + length, kEndLength + 2);
        const int at = end.indexOf("endstream");
        if (at < 0 || at > 2 || !end.left(at).trimmed().isEmpty()) {
            *reason = CPdfDetailsReader::tr("the stream of object %1 does not end where its /Length says").arg(o.second);
            return false;
        }
        CPdfObject filter = dict.get("Filter");
        if (filter.type == CPdfObject::Array && !filter.items.isEmpty())
            filter = filter.items.first();
        if (filter.type != CPdfObject::Name || filter.text != "FlateDecode")
            continue;
        int64_t produced = 0;
        const CInflater::Result r = CInflater::inflate(m_bytes, data, length, CInflater::Format::Zlib,
                                                       std::max<int64_t>(0, m_inflateLeft),
                                                       [](const uint8_t*, int) { return true; }, &produced);
        m_inflateLeft -= produced;
        if (r == CInflater::Result::OverBudget || r == CInflater::Result::Unreadable || m_bytes.budgetSpent()) {
            m_inflateLeft = -1;
            return false;
        }
        if (r != CInflater::Result::Ok) {
            *reason = CPdfDetailsReader::tr("the stream of object %1 does not inflate (its data is damaged)").arg(o.second);
            return false;
        }
    }
    return true;
}

bool Pdf::checkOffsets(QString* reason)
{
    // In offset order, so the reads walk the document forwards once.
    std::vector<std::pair<int64_t, int>> objects;
    for (auto it = m_xref.constBegin(); it != m_xref.constEnd(); ++it) {
        if (it->type == 1)
            objects.emplace_back(it->offset, it.key());
    }
    std::sort(objects.begin(), objects.end());
    for (const auto& o : objects) {
        if (--m_items < 0)
            return false;
        if (o.first == 0 && o.second == 0)
            continue;
        if (o.first < 0 || o.first >= m_bytes.size()) {
            *reason = CPdfDetailsReader::tr("object %1 is placed at byte %2, past the end of the document").arg(o.second).arg(o.first);
            return false;
        }
        const QByteArray w = window(o.first, 48);
        if (w.isEmpty())
            return false;
        int at = 0;
        CPdfObject num;
        CPdfObject gen;
        CPdfObject keyword;
        int64_t budget = 8;
        const bool ok = CPdfObject::parse(w.constData(), w.size(), &at, &num, &budget) && num.isInteger()
            && num.integer() == o.second && CPdfObject::parse(w.constData(), w.size(), &at, &gen, &budget)
            && gen.isInteger() && CPdfObject::parse(w.constData(), w.size(), &at, &keyword, &budget)
            && keyword.text == "obj";
        if (!ok) {
            *reason = CPdfDetailsReader::tr("object %1 is not at byte %2 where the cross-reference table puts it").arg(o.second).arg(o.first);
            return false;
        }
    }
    return true;
}

void Pdf::details(CDocumentDetails* d)
{
    CPdfObject info;
    if (resolve(m_trailer.get("Info"), &info) && info.type == CPdfObject::Dictionary) {
        for (const auto& e : info.entries) {
            CPdfObject v;
            if (!resolve(e.second, &v) || v.type != CPdfObject::String)
                continue;
            if (e.first == "Title" && d->title.isEmpty())
                d->title = CPdfObject::textOf(v.text).trimmed();
            else if (e.first == "Author" && d->author.isEmpty())
                d->author = CPdfObject::textOf(v.text).trimmed();
            else if (e.first == "CreationDate")
                d->created = CPdfDetailsReader::pdfDate(v.text);
            else if (e.first == "ModDate")
                d->modified = CPdfDetailsReader::pdfDate(v.text);
        }
    }
    CPdfObject root;
    if (!resolve(m_trailer.get("Root"), &root) || root.type != CPdfObject::Dictionary)
        return;
    CPdfObject pages;
    CPdfObject count;
    if (resolve(root.get("Pages"), &pages) && resolve(pages.get("Count"), &count) && count.isInteger()
        && count.integer() >= 0 && count.integer() <= INT32_MAX)
        d->pages = static_cast<int>(count.integer());
    // XMP fills what Info left out.
    if (!d->title.isEmpty() && !d->author.isEmpty() && d->created.isValid() && d->modified.isValid())
        return;
    const CPdfObject& metadata = root.get("Metadata");
    if (metadata.type != CPdfObject::Reference)
        return;
    CPdfObject dict;
    int64_t dataPos = -1;
    QByteArray xmp;
    if (resolveNumber(metadata.objectNumber, &dict, &dataPos, 0) && dataPos >= 0
        && streamData(dict, dataPos, std::min(kMaxXmp, m_inflateLeft), &xmp, 0))
        CXmlMetadata::read(xmp, d, m_items);
}

bool any(const CDocumentDetails& d)
{
    return !d.title.isEmpty() || !d.author.isEmpty() || d.created.isValid() || d.modified.isValid() || d.pages >= 0;
}

} // namespace

QDateTime CPdfDetailsReader::pdfDate(const QByteArray& raw)
{
    QByteArray t = raw.trimmed();
    if (t.startsWith("D:"))
        t = t.mid(2);
    int fields[6] = {0, 1, 1, 0, 0, 0};
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    int at = 0;
    for (int f = 0; f < 6; ++f) {
        if (at + widths[f] > t.size() || !std::all_of(t.begin() + at, t.begin() + at + widths[f], [](char c) {
                return c >= '0' && c <= '9';
            })) {
            if (f == 0)
                return QDateTime();
            break;
        }
        fields[f] = t.mid(at, widths[f]).toInt();
        at += widths[f];
    }
    const QDate date(fields[0], fields[1], fields[2]);
    const QTime time(fields[3], fields[4], fields[5]);
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    if (at < t.size() && (t[at] == 'Z' || t[at] == '+' || t[at] == '-')) {
        const char sign = t[at];
        int hours = 0;
        int minutes = 0;
        const QByteArray zone = t.mid(at + 1);
        if (zone.size() >= 2)
            hours = zone.left(2).toInt();
        const int quote = zone.indexOf('\'');
        if (quote >= 0 && zone.size() >= quote + 3)
            minutes = zone.mid(quote + 1, 2).toInt();
        if (hours > 23 || minutes > 59)
            return QDateTime();
        const int offset = (sign == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
        return QDateTime(date, time, Qt::OffsetFromUTC, sign == 'Z' ? 0 : offset);
    }
    return QDateTime(date, time, Qt::LocalTime);
}

bool CPdfDetailsReader::readInfo(const QByteArray& text, CDocumentDetails* d, int64_t maxItems)
{
    CPdfObject info;
    int at = 0;
    int64_t budget = maxItems;
    if (!CPdfObject::parse(text.constData(), text.size(), &at, &info, &budget) || info.type != CPdfObject::Dictionary)
        return false;
    for (const auto& e : info.entries) {
        if (e.second.type != CPdfObject::String)
            continue;
        if (e.first == "Title")
            d->title = CPdfObject::textOf(e.second.text).trimmed();
        else if (e.first == "Author")
            d->author = CPdfObject::textOf(e.second.text).trimmed();
        else if (e.first == "CreationDate")
            d->created = pdfDate(e.second.text);
        else if (e.first == "ModDate")
            d->modified = pdfDate(e.second.text);
    }
    return any(*d);
}

bool CPdfDetailsReader::checkStreams(CDocumentBytes& bytes, const CDetailsBudget& budget, QString* reason)
{
    Pdf pdf(bytes, budget);
    return pdf.load(reason) && pdf.checkStreams(reason);
}

bool CPdfDetailsReader::placedObjects(CDocumentBytes& bytes, const CDetailsBudget& budget,
                                      QVector<QPair<int64_t, int>>* objects, QString* reason)
{
    Pdf pdf(bytes, budget);
    if (!pdf.load(reason))
        return false;
    for (const auto& o : pdf.placedObjects())
        objects->append({o.first, o.second});
    return true;
}

bool CPdfDetailsReader::read(CDocumentBytes& bytes, const CDetailsBudget& budget, CDocumentDetails* d)
{
    Pdf pdf(bytes, budget);
    QString reason;
    const bool loaded = pdf.load(&reason);
    if (loaded)
        pdf.details(d);
    d->found = any(*d);
    // The check has a budget of its own, whatever the metadata cost.
    pdf.refill(budget.items);
    if (loaded && pdf.checkOffsets(&reason)) {
        d->integrity = CDocumentDetails::IntegrityWhole;
        d->integrityReason.clear();
        return false;
    }
    if (!reason.isEmpty()) {
        d->integrity = CDocumentDetails::IntegrityDamaged;
        d->integrityReason = reason;
        return false;
    }
    d->integrity = CDocumentDetails::IntegrityUnchecked;
    d->integrityReason = CPdfDetailsReader::tr("too large to check within the budget");
    return true;
}
