#include "scan/CDocumentSignature.h"

#include "disk/LittleEndian.h"
#include "scan/CFileTypeCatalogue.h"

#include <cstring>

namespace {

constexpr uint32_t kPdfSignature = 0x46445025; // "%PDF"
constexpr uint32_t kZipSignature = 0x04034B50; // "PK" 3 4
constexpr uint8_t kOleSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr size_t kZipNameLengthField = 26;
constexpr size_t kZipNameField = 30;

bool startsWith(const uint8_t* bytes, size_t length, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    return length >= n && std::memcmp(bytes, prefix, n) == 0;
}

int zipKind(const uint8_t* bytes, size_t length)
{
    // Every local header in the bytes given, wherever the members before it
    // ended (a data descriptor hides their sizes, so no walk from one to
    // the next).
    for (size_t at = 0; at + kZipNameField <= length; ++at) {
        if (bytes[at] != 'P' || le::u32(bytes + at) != kZipSignature)
            continue;
        const size_t nameLength = le::u16(bytes + at + kZipNameLengthField);
        if (!le::fits(length, at + kZipNameField, nameLength))
            break;
        const uint8_t* name = bytes + at + kZipNameField;
        if (startsWith(name, nameLength, "word/"))
            return CFileTypeCatalogue::Docx;
        if (startsWith(name, nameLength, "xl/"))
            return CFileTypeCatalogue::Xlsx;
        if (startsWith(name, nameLength, "ppt/"))
            return CFileTypeCatalogue::Pptx;
    }
    return CFileTypeCatalogue::Zip;
}

bool containsUtf16(const uint8_t* bytes, size_t length, const char* ascii)
{
    const size_t n = std::strlen(ascii);
    if (length < 2 * n)
        return false;
    for (size_t at = 0; at + 2 * n <= length; at += 2) {
        size_t i = 0;
        while (i < n && bytes[at + 2 * i] == uint8_t(ascii[i]) && bytes[at + 2 * i + 1] == 0)
            ++i;
        if (i == n)
            return true;
    }
    return false;
}

int oleKind(const uint8_t* bytes, size_t length)
{
    if (containsUtf16(bytes, length, "WordDocument"))
        return CFileTypeCatalogue::Doc;
    if (containsUtf16(bytes, length, "Workbook") || containsUtf16(bytes, length, "Book"))
        return CFileTypeCatalogue::Xls;
    if (containsUtf16(bytes, length, "PowerPoint Document"))
        return CFileTypeCatalogue::Ppt;
    return CFileTypeCatalogue::Doc;
}

} // namespace

int CDocumentSignature::typeCodeOf(const uint8_t* bytes, size_t length)
{
    if (!bytes || length < sizeof kOleSignature)
        return CFileTypeCatalogue::NotWanted;
    if (length > kUsefulPrefix)
        length = kUsefulPrefix;
    const uint32_t first = le::u32(bytes);
    if (first == kPdfSignature)
        return CFileTypeCatalogue::Pdf;
    if (first == kZipSignature)
        return zipKind(bytes, length);
    if (std::memcmp(bytes, kOleSignature, sizeof kOleSignature) == 0)
        return oleKind(bytes, length);
    return CFileTypeCatalogue::NotWanted;
}

int CDocumentSignature::typeOfNamedFile(int byName, int byContent)
{
    if (byContent == CFileTypeCatalogue::NotWanted)
        return byName;
    if (byName == CFileTypeCatalogue::NotWanted)
        return byContent;
    const int family = CFileTypeCatalogue::family(byName);
    if (family != CFileTypeCatalogue::family(byContent) || byName == family)
        return byContent;
    return byName;
}

bool CDocumentSignature::kindMatters(int byName, int familyByContent)
{
    if (familyByContent == CFileTypeCatalogue::NotWanted || familyByContent == CFileTypeCatalogue::Pdf)
        return false;
    const int family = CFileTypeCatalogue::family(byName);
    return byName == CFileTypeCatalogue::NotWanted || family != familyByContent || byName == family;
}
