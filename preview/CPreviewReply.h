#pragma once

#include <QByteArray>
#include <QString>

// What the preview helper prints, and how the caller reads it back: a
// short header (kind, page count, title) and the payload, a PNG or UTF-8
// text. The caller trusts none of it: decode() refuses anything but exactly
// this shape, a PNG that does not start as one, or text that is not UTF-8.
class CPreviewReply
{
public:
    enum class Kind { None, Image, Text };

    Kind kind = Kind::None;
    QByteArray png;
    QString text;
    int pages = -1;
    QString title;

    QByteArray encode() const;
    static bool decode(const QByteArray& output, CPreviewReply* reply);
};
