#pragma once

#include <QByteArray>
#include <QString>

class CDocumentBytes;

// What a document's preview says in words: the first text of a DOC, XLS or
// PPT (COfficeText), of a DOCX, XLSX or PPTX (CPackageText), or a ZIP's
// member list. It parses untrusted bytes, so it runs in the sandboxed
// preview helper, never in the window.
class CPreviewText
{
public:
    // The most text a preview shows.
    static constexpr int kMaxChars = 20000;

    // The text for a document of `typeName` ("DOC", "XLSX", "ZIP" ...);
    // empty when there is none to show.
    static QString of(const QString& typeName, CDocumentBytes& bytes);

    // Text as shown: paragraph and cell marks as line ends, other control
    // characters dropped, runs of blank lines and trailing spaces trimmed,
    // cut at kMaxChars.
    static QString tidy(const QString& text);
};
