#pragma once

#include "details/CDetailsBudget.h"

#include <QCoreApplication>

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <QHash>
#include <QStringList>

class CDocumentBytes;
class CDocumentDetails;

// A compound document (DOC, XLS, PPT): its allocation table and directory,
// the title, author, times and page count of its SummaryInformation
// stream, and whether every stream's sector chain lies inside the document
// with the length its directory entry states.
class COleDetailsReader
{
    Q_DECLARE_TR_FUNCTIONS(COleDetailsReader)

public:
    // Fills `details`. True when the integrity could not be judged within
    // `budget`.
    static bool read(CDocumentBytes& bytes, const CDetailsBudget& budget, CDocumentDetails* details);
    // The first `limit` bytes of each of the named streams the document
    // holds whole (one missing or cut short is left out). False with
    // `reason` set when the compound structure itself is broken (empty when
    // the budget ran out).
    static bool readStreams(CDocumentBytes& bytes, const CDetailsBudget& budget, const QStringList& names,
                            int64_t limit, QHash<QString, QByteArray>* streams, QString* reason);
    // The named stream's bytes (up to `limit`), through the document's own
    // tables; empty when it has none or they do not hold.
    static QByteArray streamOf(CDocumentBytes& bytes, const CDetailsBudget& budget, const QString& name,
                               int64_t limit);
    // Whether the workbook's or the presentation's record stream holds
    // together from its first record to its stated end, or a Word
    // document's piece table names text that lies inside its stream and
    // holds no NUL: false with `reason` set when it does not. True for a
    // document of none of these kinds, or a Word stream of a version before
    // Word 97 (no piece table to check it by).
    static bool checkRecords(CDocumentBytes& bytes, const CDetailsBudget& budget, QString* reason);
    // The property set of a SummaryInformation stream (also fuzzed alone).
    static bool readSummary(const QByteArray& stream, CDocumentDetails* details);
};
