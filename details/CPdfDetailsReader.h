#pragma once

#include "details/CDetailsBudget.h"

#include <QCoreApplication>

#include <QByteArray>
#include <QPair>
#include <QVector>
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
    // Every stream ends where its /Length says and every Flate stream
    // inflates with a good Adler-32: the content between the objects that
    // read() places. False with `reason` set when one does not, with it
    // empty when the budget did not reach.
    static bool checkStreams(CDocumentBytes& bytes, const CDetailsBudget& budget, QString* reason);
    // The objects the cross-reference places at a byte offset, in offset
    // order: (offset, object number).
    static bool placedObjects(CDocumentBytes& bytes, const CDetailsBudget& budget,
                              QVector<QPair<int64_t, int>>* objects, QString* reason);
    // An Info dictionary's text ("<< /Title (...) ... >>"), also fuzzed alone.
    static bool readInfo(const QByteArray& dictionary, CDocumentDetails* details, int64_t maxItems = 100000);
    // "D:YYYYMMDDHHmmSSOHH'mm'" (any tail may be missing; no zone: local).
    static QDateTime pdfDate(const QByteArray& text);
};
