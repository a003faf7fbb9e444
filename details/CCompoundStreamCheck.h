#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <cstdint>

// What the contents of a compound document's streams say of their bytes,
// beyond the tables and chains that place them: a workbook's records from
// its first to its end, its cells in the order of their rows and its shared
// strings adding up; a presentation's records; a summary property set.
// Bytes of the right kind from the wrong place (another piece of the same
// document, another copy, zeros) break one of them unless they fall wholly
// inside bytes nothing checks. Each fault check gives an empty string when
// the stream holds together and otherwise why not.
class CCompoundStreamCheck
{
    Q_DECLARE_TR_FUNCTIONS(CCompoundStreamCheck)

public:
    static QString workbookFault(const QByteArray& book);
    static QString presentationFault(const QByteArray& show);
    static bool propertySetHolds(const QByteArray& stream);

    // Whether a workbook record header (u16 type, u16 length) is one a
    // writer puts there: a type, and at most 8224 bytes of data.
    static bool isBiffRecord(uint16_t type, uint16_t length);
    // Whether a workbook record is a cell (its data begins with its row).
    static bool isBiffCell(uint16_t type);
};
