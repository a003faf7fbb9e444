#pragma once

#include <QByteArray>
#include <QString>

class CDocumentBytes;

// The words of a ZIP archive's preview: an OOXML package's first text
// (document.xml's runs, a workbook's shared strings and first sheet's inline
// strings, the slides' text in slide order) or its thumbnail, and a plain
// archive's member list. The central directory and the inflating are
// details/CZipDetailsReader's.
class CPackageText
{
public:
    // `type` is "DOCX", "XLSX" or "PPTX".
    static QString packageText(const QString& type, CDocumentBytes& bytes);
    // docProps/thumbnail.png or .jpeg (their bytes as stored), else empty.
    static QByteArray thumbnail(CDocumentBytes& bytes);
    // One line a member: its size and its name.
    static QString memberList(CDocumentBytes& bytes);

    // The text of an OOXML part: the content of every <t> element (any
    // prefix), a line end after each paragraph, shared string and row, a tab
    // for each <tab/>; entities decoded. At most `maxChars` (also fuzzed
    // alone).
    static QString xmlText(const QByteArray& xml, int maxChars);
};
