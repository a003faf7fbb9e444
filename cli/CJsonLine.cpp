#include "cli/CJsonLine.h"

#include <cmath>
#include <cstdio>

void CJsonLine::key(const char* name)
{
    if (m_text.size() > 1)
        m_text += ',';
    m_text += quoted(QString::fromLatin1(name));
    m_text += ':';
}

CJsonLine& CJsonLine::add(const char* name, const QString& text)
{
    key(name);
    m_text += quoted(text);
    return *this;
}

CJsonLine& CJsonLine::add(const char* name, int64_t number)
{
    key(name);
    m_text += QByteArray::number(static_cast<qlonglong>(number));
    return *this;
}

CJsonLine& CJsonLine::addNumber(const char* name, double number)
{
    key(name);
    // JSON has no NaN or infinity.
    m_text += std::isfinite(number) ? QByteArray::number(number, 'g', 6) : QByteArrayLiteral("null");
    return *this;
}

CJsonLine& CJsonLine::addNull(const char* name)
{
    key(name);
    m_text += "null";
    return *this;
}

CJsonLine& CJsonLine::addTextOrNull(const char* name, const QString& text)
{
    return text.isNull() ? addNull(name) : add(name, text);
}

CJsonLine& CJsonLine::addRaw(const char* name, const QByteArray& json)
{
    key(name);
    m_text += json;
    return *this;
}

QByteArray CJsonLine::finish() const
{
    return m_text + "}\n";
}

QByteArray CJsonLine::quoted(const QString& text)
{
    // toUtf8() turns a lone surrogate (a name that was not valid UTF-16)
    // into U+FFFD, so the line stays valid UTF-8.
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20 || u == 0x7f) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}
