#pragma once

#include <cstddef>
#include <cstdint>

// Which of our document types a file's first bytes say it is, whatever the
// file is called: a deleted "backup.bak" that begins like a DOCX is a DOCX.
//
// The three signatures at the first byte decide the family ("%PDF", a ZIP
// local header, a compound document header). Within a family the bytes
// given are searched for what names the kind: a ZIP member under "word/",
// "xl/" or "ppt/"; a compound document stream named "WordDocument",
// "Workbook"/"Book" or "PowerPoint Document". Without such a name the
// family's plain type stays (ZIP, DOC), as the carving pass reports it
// before it has read further. No I/O: the caller hands over what it read
// (the first 64 KiB are plenty; one 512-byte sector decides the family).
class CDocumentSignature
{
public:
    static constexpr size_t kUsefulPrefix = 64 * 1024;

    // A type code of CFileTypeCatalogue, or NotWanted (100).
    static int typeCodeOf(const uint8_t* bytes, size_t length);

    // The type of a file whose name says `byName` and whose first bytes say
    // `byContent` (either may be NotWanted). The bytes decide where they are
    // of another family than the name (a DOCX behind the short name
    // "REPORT~1.DOC", whose extension lost its fourth letter), or where the
    // name gives only the family's plain type (ZIP, DOC) and the bytes a
    // kind; otherwise the name, which knows the kind better than a prefix.
    static int typeOfNamedFile(int byName, int byContent);
    // Whether more than the first sector (which tells the family) can change
    // what typeOfNamedFile answers: whether the kind within the family is
    // still open.
    static bool kindMatters(int byName, int familyByContent);
};
