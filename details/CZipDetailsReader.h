#pragma once

#include "details/CDetailsBudget.h"

#include <QCoreApplication>
#include <QString>
#include <QVector>

#include <cstdint>
#include <vector>

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

    // What the central directory says of one member.
    struct Member
    {
        QString name;
        uint16_t flags = 0;
        uint16_t method = 0;
        uint32_t crc = 0;
        uint64_t compressed = 0;
        uint64_t size = 0;
        uint64_t localOffset = 0;
    };

    struct Directory
    {
        int64_t base = 0;  // where the archive's offset 0 lies in the document
        int64_t start = 0; // the central directory's first byte
        // One past the end record and its comment: the archive's last byte.
        int64_t end = 0;
        QVector<Member> members;
    };

    // Finds the end record in the document's last 64 KiB and reads the
    // central directory it points at. False with `reason` set when the
    // structure is broken, with it empty when the budget did not reach.
    static bool readDirectory(CDocumentBytes& bytes, const CDetailsBudget& budget, Directory* dir, QString* reason);

    // The member's bytes, inflated, up to `limit`; empty on any failure.
    static QByteArray memberBytes(CDocumentBytes& bytes, const Directory& dir, const Member& m, int64_t limit);

    enum class MemberCheck
    {
        Good,
        Damaged,   // `reason` says how
        Unchecked, // encrypted, or a method we do not inflate; `reason` says which
        OverBudget,
    };
    // Inflates one member and compares it with its size and CRC-32.
    // `inflateLeft` is charged with what was inflated; `buffer` is scratch
    // for a document that is not in memory.
    static MemberCheck checkMember(CDocumentBytes& bytes, const Directory& dir, const Member& m, int64_t* inflateLeft,
                                   std::vector<uint8_t>* buffer, QString* reason);
};
