#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// One JSON object on one line, written key by key in the order given (so
// that the output reads the same on every run). Texts are escaped for JSON
// and written as UTF-8; integers stay integers (no 1e+15 for a byte offset).
//
//   CJsonLine line;
//   line.add("name", name).add("size", size).addNull("modified");
//   out += line.finish();   // {"name":"…","size":4096,"modified":null}\n
class CJsonLine
{
public:
    CJsonLine& add(const char* key, const QString& text);
    CJsonLine& add(const char* key, int64_t number);
    CJsonLine& addNumber(const char* key, double number);
    CJsonLine& addNull(const char* key);
    // A text, or null when `text` is null (unknown, not just empty).
    CJsonLine& addTextOrNull(const char* key, const QString& text);
    // `json` must already be valid JSON (an array built by the caller).
    CJsonLine& addRaw(const char* key, const QByteArray& json);

    // The object with its closing brace and a newline.
    QByteArray finish() const;

    static QByteArray quoted(const QString& text);

private:
    void key(const char* name);

    QByteArray m_text = QByteArrayLiteral("{");
};
