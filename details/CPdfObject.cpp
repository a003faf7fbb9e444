#include "details/CPdfObject.h"

#include <QString>

#include <cstdlib>

namespace {

// PDFDocEncoding is Latin-1 but for the spacing accents at 0x18-0x1F, the
// typographic marks, ligatures and East-European letters at 0x80-0x9E and
// the euro sign at 0xA0; the codes it leaves undefined (control codes,
// 0x7F, 0x9F, 0xAD) become U+FFFD rather than invisible characters.
QChar pdfDocEncodingChar(uint8_t c)
{
    static constexpr char16_t kAccents[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
    static constexpr char16_t kHigh[32] = {
        0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
        0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141,
        0x0152, 0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0xFFFD};
    if (c >= 0x18 && c <= 0x1F)
        return QChar(static_cast<ushort>(kAccents[c - 0x18]));
    if (c >= 0x80 && c <= 0x9F)
        return QChar(static_cast<ushort>(kHigh[c - 0x80]));
    if (c == 0xA0)
        return QChar(static_cast<ushort>(0x20AC));
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F || c == 0xAD)
        return QChar(QChar::ReplacementCharacter);
    return QChar(static_cast<ushort>(c));
}

constexpr int kMaxDepth = 32;

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool isDelimiter(char c)
{
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/'
        || c == '%';
}

bool isRegular(char c)
{
    return !isSpace(c) && !isDelimiter(c);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

const CPdfObject& nullObject()
{
    static const CPdfObject none;
    return none;
}

// A non-negative integer token at *at (no sign, no point), moving past it.
bool plainInteger(const char* d, int n, int at, int* end, int64_t* value)
{
    int i = at;
    int64_t v = 0;
    while (i < n && d[i] >= '0' && d[i] <= '9' && i - at < 12)
        v = v * 10 + (d[i++] - '0');
    if (i == at || (i < n && isRegular(d[i])))
        return false;
    *end = i;
    *value = v;
    return true;
}

} // namespace

const CPdfObject& CPdfObject::get(const char* key) const
{
    for (const auto& e : entries) {
        if (e.first == key)
            return e.second;
    }
    return nullObject();
}

void CPdfObject::skipSpace(const char* d, int n, int* at)
{
    while (*at < n) {
        if (isSpace(d[*at])) {
            ++*at;
        } else if (d[*at] == '%') {
            while (*at < n && d[*at] != '\n' && d[*at] != '\r')
                ++*at;
        } else {
            break;
        }
    }
}

bool CPdfObject::parse(const char* data, int length, int* at, CPdfObject* out, int64_t* budget)
{
    return parseValue(data, length, at, out, budget, 0);
}

bool CPdfObject::parseValue(const char* d, int n, int* at, CPdfObject* out, int64_t* budget, int depth)
{
    if (--*budget < 0 || depth > kMaxDepth)
        return false;
    skipSpace(d, n, at);
    if (*at >= n)
        return false;
    *out = CPdfObject();
    const char c = d[*at];
    if (c == '/') {
        int i = *at + 1;
        while (i < n && isRegular(d[i]))
            ++i;
        out->type = Name;
        out->text = QByteArray(d + *at + 1, i - *at - 1);
        *at = i;
        return true;
    }
    if (c == '(') {
        // Balanced parentheses; escapes and octal codes decoded.
        int level = 1;
        int i = *at + 1;
        QByteArray s;
        while (i < n) {
            const char ch = d[i++];
            if (ch == '\\') {
                if (i >= n)
                    return false;
                const char e = d[i++];
                switch (e) {
                case 'n': s += '\n'; break;
                case 'r': s += '\r'; break;
                case 't': s += '\t'; break;
                case 'b': s += '\b'; break;
                case 'f': s += '\f'; break;
                case '\r':
                    if (i < n && d[i] == '\n')
                        ++i;
                    break;
                case '\n':
                    break;
                default:
                    if (e >= '0' && e <= '7') {
                        int v = e - '0';
                        for (int k = 0; k < 2 && i < n && d[i] >= '0' && d[i] <= '7'; ++k)
                            v = v * 8 + (d[i++] - '0');
                        s += static_cast<char>(v & 0xFF);
                    } else {
                        s += e;
                    }
                }
                continue;
            }
            if (ch == '(')
                ++level;
            else if (ch == ')' && --level == 0)
                break;
            s += ch;
        }
        if (level != 0)
            return false; // a string that never ends
        out->type = String;
        out->text = s;
        *at = i;
        return true;
    }
    if (c == '<' && *at + 1 < n && d[*at + 1] == '<') {
        *at += 2;
        out->type = Dictionary;
        for (;;) {
            skipSpace(d, n, at);
            if (*at + 1 < n && d[*at] == '>' && d[*at + 1] == '>') {
                *at += 2;
                return true;
            }
            CPdfObject key;
            if (!parseValue(d, n, at, &key, budget, depth + 1) || key.type != Name)
                return false;
            CPdfObject value;
            if (!parseValue(d, n, at, &value, budget, depth + 1))
                return false;
            out->entries.append(qMakePair(key.text, value));
        }
    }
    if (c == '<') {
        int i = *at + 1;
        QByteArray s;
        int high = -1;
        while (i < n && d[i] != '>') {
            const int v = hexValue(d[i++]);
            if (v < 0)
                continue; // white space inside
            if (high < 0) {
                high = v;
            } else {
                s += static_cast<char>(high * 16 + v);
                high = -1;
            }
        }
        if (i >= n)
            return false;
        if (high >= 0)
            s += static_cast<char>(high * 16);
        out->type = String;
        out->text = s;
        *at = i + 1;
        return true;
    }
    if (c == '[') {
        ++*at;
        out->type = Array;
        for (;;) {
            skipSpace(d, n, at);
            if (*at < n && d[*at] == ']') {
                ++*at;
                return true;
            }
            CPdfObject item;
            if (!parseValue(d, n, at, &item, budget, depth + 1))
                return false;
            out->items.append(item);
        }
    }
    if (c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9')) {
        // "N G R" is a reference; any other number stands alone.
        int end = 0;
        int64_t object = 0;
        if (plainInteger(d, n, *at, &end, &object)) {
            int j = end;
            skipSpace(d, n, &j);
            int end2 = 0;
            int64_t gen = 0;
            if (plainInteger(d, n, j, &end2, &gen)) {
                int k = end2;
                skipSpace(d, n, &k);
                if (k < n && d[k] == 'R' && (k + 1 >= n || !isRegular(d[k + 1])) && object <= INT32_MAX
                    && gen <= 65535) {
                    out->type = Reference;
                    out->objectNumber = static_cast<int>(object);
                    out->generation = static_cast<int>(gen);
                    *at = k + 1;
                    return true;
                }
            }
        }
        int i = *at;
        while (i < n && isRegular(d[i]) && i - *at < 40)
            ++i;
        out->type = Number;
        out->number = std::strtod(QByteArray(d + *at, i - *at).constData(), nullptr);
        *at = i;
        return true;
    }
    if (isRegular(c)) {
        int i = *at;
        while (i < n && isRegular(d[i]))
            ++i;
        out->text = QByteArray(d + *at, i - *at);
        *at = i;
        if (out->text == "true" || out->text == "false") {
            out->type = Bool;
            out->number = out->text == "true";
        } else if (out->text == "null") {
            out->type = Null;
        } else {
            out->type = Keyword;
        }
        return true;
    }
    return false;
}

QString CPdfObject::textOf(const QByteArray& b)
{
    if (b.size() >= 2 && static_cast<uint8_t>(b[0]) == 0xFE && static_cast<uint8_t>(b[1]) == 0xFF) {
        QString s;
        for (int i = 2; i + 1 < b.size(); i += 2)
            s.append(QChar(static_cast<ushort>((static_cast<uint8_t>(b[i]) << 8) | static_cast<uint8_t>(b[i + 1]))));
        return s;
    }
    if (b.size() >= 3 && static_cast<uint8_t>(b[0]) == 0xEF && static_cast<uint8_t>(b[1]) == 0xBB
        && static_cast<uint8_t>(b[2]) == 0xBF)
        return QString::fromUtf8(b.mid(3));
    QString s;
    s.reserve(b.size());
    for (char c : b)
        s.append(pdfDocEncodingChar(static_cast<uint8_t>(c)));
    return s;
}
