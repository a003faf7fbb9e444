#pragma once

#include "details/CDetailsBudget.h"

#include <QCoreApplication>

class CDocumentBytes;
class CDocumentDetails;

// An OOXML package or a plain ZIP archive: its central directory, the
// title, author and times of docProps/core.xml, the page or slide count of
// docProps/app.xml (a workbook's sheets counted from its members), and every
// member's CRC-32 against its inflated bytes.
class CZipDetailsReader
{
    Q_DECLARE_TR_FUNCTIONS(CZipDetailsReader)

public:
    // Fills `details`. True when the integrity could not be judged within
    // `budget` (a larger budget may judge it).
    static bool read(CDocumentBytes& bytes, const CDetailsBudget& budget, CDocumentDetails* details);
};
