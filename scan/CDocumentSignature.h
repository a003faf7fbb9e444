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
};
