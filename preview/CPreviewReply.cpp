#include "preview/CPreviewReply.h"

#include <QTextCodec>

namespace {

const QByteArray kMagic("TAMSEL-PREVIEW 1\n");
const QByteArray kPngSignature("\x89PNG\r\n\x1a\n", 8);
constexpr int kMaxHeader = 4096;
constexpr int kMaxTitle = 1000;

bool validUtf8(const QByteArray& bytes, QString* text)
{
    QTextCodec* codec = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state;
    *text = codec->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

} // namespace

QByteArray CPreviewReply::encode() const
{
    QByteArray out = kMagic;
    out += kind == Kind::Image ? "kind image\n" : "kind text\n";
    if (pages >= 0)
        out += "pages " + QByteArray::number(pages) + '\n';
    QString oneLine = title.left(kMaxTitle);
    oneLine.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    if (!oneLine.isEmpty())
        out += "title " + oneLine.toUtf8() + '\n';
    out += '\n';
    out += kind == Kind::Image ? png : text.toUtf8();
    return out;
}

bool CPreviewReply::decode(const QByteArray& output, CPreviewReply* reply)
{
    *reply = CPreviewReply();
    if (!output.startsWith(kMagic))
        return false;
    const int headerEnd = output.indexOf("\n\n", kMagic.size() - 1);
    if (headerEnd < 0 || headerEnd > kMaxHeader)
        return false;
    const QList<QByteArray> lines = output.mid(kMagic.size(), headerEnd - kMagic.size() + 1).split('\n');
    Kind kind = Kind::None;
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        const int space = line.indexOf(' ');
        const QByteArray key = line.left(space);
        const QByteArray value = space < 0 ? QByteArray() : line.mid(space + 1);
        if (key == "kind" && value == "image") {
            kind = Kind::Image;
        } else if (key == "kind" && value == "text") {
            kind = Kind::Text;
        } else if (key == "pages") {
            bool ok = false;
            reply->pages = value.toInt(&ok);
            if (!ok || reply->pages < 0)
                return false;
        } else if (key == "title") {
            if (!validUtf8(value, &reply->title) || reply->title.size() > kMaxTitle)
                return false;
        } else {
            return false;
        }
    }
    const QByteArray payload = output.mid(headerEnd + 2);
    if (kind == Kind::Image) {
        if (!payload.startsWith(kPngSignature))
            return false;
        reply->png = payload;
    } else if (kind == Kind::Text) {
        if (!validUtf8(payload, &reply->text) || reply->text.trimmed().isEmpty())
            return false;
    } else {
        return false;
    }
    reply->kind = kind;
    return true;
}
