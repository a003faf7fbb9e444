#pragma once

#include "details/CDetailsBudget.h"

#include <QCoreApplication>

#include <QByteArray>
#include <QDateTime>

class CDocumentBytes;
class CDocumentDetails;

// A PDF: its cross-reference sections (tables and streams, followed along
// /Prev), the Info dictionary's /Title, /Author, /CreationDate and /ModDate,
// the XMP packet where Info leaves a gap, the page count of the page tree,
// and whether every in-use object sits where the cross-reference says.
class CPdfDetailsReader
{
    Q_DECLARE_TR_FUNCTIONS(CPdfDetailsReader)

public:
    // Fills `details`. True when the integrity could not be judged within
    // `budget`.
    static bool read(CDocumentBytes& bytes, const CDetailsBudget& budget, CDocumentDetails* details);
    // An Info dictionary's text ("<< /Title (...) ... >>"), also fuzzed alone.
    static bool readInfo(const QByteArray& dictionary, CDocumentDetails* details, int64_t maxItems = 100000);
    // "D:YYYYMMDDHHmmSSOHH'mm'" (any tail may be missing; no zone: local).
    static QDateTime pdfDate(const QByteArray& text);
};
