#include "preview/CPreviewText.h"

#include "preview/COfficeText.h"
#include "preview/CPackageText.h"

QString CPreviewText::of(const QString& typeName, CDocumentBytes& bytes)
{
    const QString type = typeName.toUpper();
    QString text;
    if (type == QLatin1String("DOC"))
        text = COfficeText::wordText(bytes);
    else if (type == QLatin1String("XLS"))
        text = COfficeText::workbookText(bytes);
    else if (type == QLatin1String("PPT"))
        text = COfficeText::presentationText(bytes);
    else if (type == QLatin1String("DOCX") || type == QLatin1String("XLSX") || type == QLatin1String("PPTX"))
        return tidy(CPackageText::packageText(type, bytes));
    else if (type == QLatin1String("ZIP"))
        return CPackageText::memberList(bytes);
    return tidy(text);
}

QString CPreviewText::tidy(const QString& text)
{
    QString out;
    out.reserve(std::min(text.size(), kMaxChars));
    int blankRun = 0;
    for (int i = 0; i < text.size() && out.size() < kMaxChars; ++i) {
        ushort c = text.at(i).unicode();
        // Word's paragraph, cell and line marks.
        if (c == '\r' || c == 0x07 || c == 0x0b || c == 0x0c)
            c = '\n';
        if (c == '\n') {
            while (out.endsWith(QLatin1Char(' ')) || out.endsWith(QLatin1Char('\t')))
                out.chop(1);
            if (out.isEmpty() || ++blankRun > 1)
                continue;
            out.append(QLatin1Char('\n'));
            continue;
        }
        if ((c < 0x20 && c != '\t') || c == 0x7f || c == 0xfffe || c == 0xffff || c == 0xfeff)
            continue;
        // A lone surrogate would not survive the trip as UTF-8.
        if (QChar::isSurrogate(c)) {
            if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                out.append(text.at(i));
                out.append(text.at(++i));
                blankRun = 0;
            }
            continue;
        }
        blankRun = 0;
        out.append(QChar(c));
    }
    while (out.endsWith(QLatin1Char('\n')) || out.endsWith(QLatin1Char(' ')))
        out.chop(1);
    return out;
}
