#pragma once

#include "details/CDetailsBudget.h"

#include <QCoreApplication>
#include "scan/CDocumentDetails.h"

class CDocumentBytes;

// Reads one document's details and judges its integrity, by its type
// ("PDF", "DOC", "DOCX", "ZIP", ...).
class CDetailsReader
{
    Q_DECLARE_TR_FUNCTIONS(CDetailsReader)

public:
    // `needsLargerBudget` (optional) is set when the integrity could not be
    // judged within `budget`.
    static CDocumentDetails read(CDocumentBytes& bytes, const QString& typeName, const CDetailsBudget& budget,
                                 bool* needsLargerBudget = nullptr);
    // The states' short words: "whole", "damaged", "unchecked".
    static QString integrityKey(int integrity);
};
