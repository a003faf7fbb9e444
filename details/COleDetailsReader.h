#pragma once

#include "details/CDetailsBudget.h"

#include <QCoreApplication>

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <QHash>
#include <QStringList>
#include <QVector>

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
    // Where the named stream's bytes lie in the document: the offset of
    // each of its blocks in stream order (sectors, or small-stream blocks
    // for a short stream), with the block size and the stream's stated
    // size; empty when it is missing or its chain does not hold.
    static QVector<int64_t> streamLayout(CDocumentBytes& bytes, const CDetailsBudget& budget, const QString& name,
                                         int* blockSize, int64_t* streamSize);
    // Whether the streams' contents hold together: the summary property
    // sets; the workbook's or the presentation's record stream from its
    // first record to its stated end (CCompoundStreamCheck); or a Word document's information
    // block, the text its piece table names (inside its stream, no NUL) and
    // its formatting pages (CWordDocumentCheck). False with `reason` set
    // when they do not. A Word stream of a version before Word 97 is only
    // checked for its information block (no piece table to check it by).
    static bool checkRecords(CDocumentBytes& bytes, const CDetailsBudget& budget, QString* reason);
    // The property set of a SummaryInformation stream (also fuzzed alone).
    static bool readSummary(const QByteArray& stream, CDocumentDetails* details);
};
