#pragma once

#include <QByteArray>
#include <QString>

class CDocumentBytes;

// The first text of the binary Office documents, read from the streams of
// their compound file (details/COleDetailsReader): Word's text through the
// piece table, a workbook's shared strings, a presentation's text atoms.
// Untidied and unbounded by characters (CPreviewText tidies and cuts);
// every structure bounds-checked.
class COfficeText
{
public:
    static QString wordText(CDocumentBytes& bytes);
    static QString workbookText(CDocumentBytes& bytes);
    static QString presentationText(CDocumentBytes& bytes);

    // The same from the streams themselves (also fuzzed alone).
    static QString wordText(const QByteArray& wordDocument, const QByteArray& table0, const QByteArray& table1);
    static QString workbookText(const QByteArray& workbook);
    static QString presentationText(const QByteArray& stream);
};
