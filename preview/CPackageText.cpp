#include "preview/CPackageText.h"

#include "details/CDetailsBudget.h"
#include "details/CZipDetailsReader.h"
#include "preview/CPreviewText.h"
#include "scan/CDocumentBytes.h"
#include "scan/CFileTypeCatalogue.h"

#include <QMap>
#include <QRegularExpression>

namespace {

// The most one part may inflate to: a part that says it is larger, or
// inflates past it (a zip bomb), is not shown.
constexpr int64_t kMaxPart = int64_t(16) << 20;
constexpr int kMaxThumbnail = 4 << 20;
constexpr int kMaxListed = 2000;
constexpr int kMaxSlides = 500;

using Directory = CZipDetailsReader::Directory;
using Member = CZipDetailsReader::Member;

bool directoryOf(CDocumentBytes& bytes, Directory* dir)
{
    CDetailsBudget budget;
    budget.readBytes = int64_t(64) << 20;
    QString reason;
    return CZipDetailsReader::readDirectory(bytes, budget, dir, &reason);
}

const Member* find(const Directory& dir, const QString& name)
{
    for (const Member& m : dir.members) {
        if (m.name == name)
            return &m;
    }
    return nullptr;
}

QString partText(CDocumentBytes& bytes, const Directory& dir, const QString& name, int maxChars)
{
    const Member* m = find(dir, name);
    if (!m || maxChars <= 0)
        return QString();
    return CPackageText::xmlText(CZipDetailsReader::memberBytes(bytes, dir, *m, kMaxPart), maxChars);
}

// The local name of the tag at `p` (after '<' or '</'), without its prefix.
QByteArray localName(const char* p, const char* end)
{
    const char* start = p;
    while (p < end && *p != '>' && *p != '/' && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
        ++p;
    QByteArray name(start, static_cast<int>(p - start));
    const int colon = name.lastIndexOf(':');
    return colon >= 0 ? name.mid(colon + 1) : name;
}

void appendDecoded(const char* p, const char* end, QByteArray* out)
{
    while (p < end) {
        if (*p != '&') {
            out->append(*p++);
            continue;
        }
        const char* semi = p;
        while (semi < end && *semi != ';' && semi - p < 12)
            ++semi;
        if (semi >= end || *semi != ';') {
            out->append(*p++);
            continue;
        }
        const QByteArray entity(p + 1, static_cast<int>(semi - p - 1));
        if (entity == "amp")
            out->append('&');
        else if (entity == "lt")
            out->append('<');
        else if (entity == "gt")
            out->append('>');
        else if (entity == "quot")
            out->append('"');
        else if (entity == "apos")
            out->append('\'');
        else if (entity.startsWith('#')) {
            bool ok = false;
            const uint code = entity.startsWith("#x") ? entity.mid(2).toUInt(&ok, 16) : entity.mid(1).toUInt(&ok);
            if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF))
                out->append(QString::fromUcs4(&code, 1).toUtf8());
        }
        p = semi + 1;
    }
}

} // namespace

QString CPackageText::xmlText(const QByteArray& xml, int maxChars)
{
    QByteArray out;
    const char* p = xml.constData();
    const char* end = p + xml.size();
    bool inText = false;
    while (p < end && out.size() < 4 * maxChars) {
        const char* lt = static_cast<const char*>(memchr(p, '<', static_cast<size_t>(end - p)));
        const char* stop = lt ? lt : end;
        if (inText)
            appendDecoded(p, stop, &out);
        if (!lt)
            break;
        const char* gt = static_cast<const char*>(memchr(lt, '>', static_cast<size_t>(end - lt)));
        if (!gt)
            break;
        const bool closing = lt + 1 < gt && lt[1] == '/';
        const bool empty = gt[-1] == '/';
        const QByteArray name = localName(lt + (closing ? 2 : 1), gt);
        if (name == "t")
            inText = !closing && !empty;
        else if (closing && (name == "p" || name == "si" || name == "row"))
            out.append('\n');
        else if (!closing && name == "tab")
            out.append('\t');
        else if (!closing && name == "br")
            out.append('\n');
        p = gt + 1;
    }
    return QString::fromUtf8(out).left(maxChars);
}

QString CPackageText::packageText(const QString& type, CDocumentBytes& bytes)
{
    Directory dir;
    if (!directoryOf(bytes, &dir))
        return QString();
    const int max = CPreviewText::kMaxChars;
    if (type == QLatin1String("DOCX"))
        return partText(bytes, dir, QStringLiteral("word/document.xml"), max);
    if (type == QLatin1String("XLSX")) {
        QString text = partText(bytes, dir, QStringLiteral("xl/sharedStrings.xml"), max);
        return text + partText(bytes, dir, QStringLiteral("xl/worksheets/sheet1.xml"), max - text.size());
    }
    // Slides in their numbers' order (slide10 after slide9).
    static const QRegularExpression slide(QStringLiteral("^ppt/slides/slide(\\d+)\\.xml$"));
    QMap<int, QString> slides;
    for (const Member& m : dir.members) {
        const QRegularExpressionMatch match = slide.match(m.name);
        if (match.hasMatch() && slides.size() < kMaxSlides)
            slides.insert(match.captured(1).toInt(), m.name);
    }
    QString text;
    for (const QString& name : slides) {
        if (text.size() >= max)
            break;
        text += partText(bytes, dir, name, max - text.size()) + QLatin1Char('\n');
    }
    return text;
}

QByteArray CPackageText::thumbnail(CDocumentBytes& bytes)
{
    Directory dir;
    if (!directoryOf(bytes, &dir))
        return QByteArray();
    for (const char* name : {"docProps/thumbnail.png", "docProps/thumbnail.jpeg", "docProps/thumbnail.jpg"}) {
        if (const Member* m = find(dir, QString::fromLatin1(name)))
            return CZipDetailsReader::memberBytes(bytes, dir, *m, kMaxThumbnail);
    }
    return QByteArray();
}

QString CPackageText::memberList(CDocumentBytes& bytes)
{
    Directory dir;
    if (!directoryOf(bytes, &dir))
        return QString();
    QString text;
    int listed = 0;
    for (const Member& m : dir.members) {
        if (listed++ == kMaxListed) {
            text += QStringLiteral("... %1 more\n").arg(dir.members.size() - kMaxListed);
            break;
        }
        QString name = m.name;
        for (QChar& c : name) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                c = QLatin1Char('_');
        }
        text += QStringLiteral("%1  %2\n").arg(static_cast<qulonglong>(m.size), 12).arg(name);
    }
    return text;
}
