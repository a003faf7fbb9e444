#include "analysers/CZipFileAnalyser.h"

#include "disk/LittleEndian.h"
#include "scan/CFileTypeCatalogue.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr uint32_t kLocalHeader = 0x04034B50;
constexpr uint32_t kCentralHeader = 0x02014B50;
constexpr uint32_t kEndOfCentralDirectory = 0x06054B50;
constexpr uint32_t kZip64End = 0x06064B50;
constexpr uint32_t kZip64Locator = 0x07064B50;
constexpr uint32_t kDataDescriptor = 0x08074B50;
constexpr uint32_t kDigitalSignature = 0x05054B50;
constexpr uint32_t kArchiveExtraData = 0x08064B50;

// Local file header
constexpr size_t kLocalFixed = 30;
constexpr size_t kLocalFlags = 6;
constexpr size_t kLocalVersionNeeded = 4;
constexpr size_t kLocalMethod = 8;
constexpr size_t kLocalCompressed = 18;
constexpr size_t kLocalUncompressed = 22;
constexpr size_t kLocalNameLength = 26;
constexpr size_t kLocalExtraLength = 28;
// Central directory header
constexpr size_t kCentralFixed = 46;
constexpr size_t kCentralVersionNeeded = 6;
constexpr size_t kCentralMethod = 10;
constexpr size_t kCentralNameLength = 28;
constexpr size_t kCentralExtraLength = 30;
constexpr size_t kCentralCommentLength = 32;
constexpr size_t kCentralLocalOffset = 42;
// End of central directory
constexpr size_t kEndFixed = 22;
constexpr size_t kEndEntries = 10;
constexpr size_t kEndCentralOffset = 16;
constexpr size_t kEndCommentLength = 20;
// ZIP64 end record: signature, then the size of the rest as u64; the
// central directory's offset is the last of its fixed fields.
constexpr size_t kZip64EndFixed = 12;
constexpr size_t kZip64EndSize = 4;
constexpr size_t kZip64EndRead = 56;
constexpr size_t kZip64EndCentralOffset = 48;
constexpr size_t kZip64LocatorLength = 20;
// Data descriptor: signature, CRC, compressed and uncompressed size
// (32-bit, or 64-bit for a ZIP64 member).
constexpr size_t kDescriptorCompressed = 8;
constexpr uint64_t kDescriptor32 = 16;
constexpr uint64_t kDescriptor64 = 24;
// Digital signature record: signature, u16 size of the data. Archive extra
// data record: signature, u32 length of the data.
constexpr size_t kDigitalSignatureFixed = 6;
constexpr size_t kArchiveExtraDataFixed = 8;
// APK Signing Block, between the last member's data and the central
// directory: u64 size of the rest, ID-value pairs, the size again, magic.
constexpr size_t kApkSizeField = 8;
constexpr size_t kApkTail = 24;
const char kApkMagic[] = "APK Sig Block 42";
constexpr size_t kApkMagicLength = 16;
// Signing blocks are kilobytes; a larger "size" is four bytes of something
// else, not worth skipping that far for.
constexpr uint64_t kMaxApkBlock = 64ull << 20;
constexpr uint16_t kUnknownCount16 = 0xFFFF;

constexpr uint16_t kFlagDataDescriptor = 1u << 3;
constexpr uint16_t kZip64ExtraTag = 0x0001;
constexpr uint32_t kSizeInZip64 = 0xFFFFFFFF;

constexpr uint16_t kMaxMethod = 19;
// Version 6.3 of the format is the latest any writer asks for.
constexpr uint16_t kMaxVersionNeeded = 63;
constexpr uint16_t kMethodPpmd = 98;

// No archive we report is longer than a signed 64-bit length.
constexpr uint64_t kMaxLength = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

struct MemberName
{
    const char* name;
    int typeCode;
};

const MemberName kMemberNames[] = {
    {"word/_rels/document.xml.rels", CFileTypeCatalogue::Docx},
    {"word/theme/theme1.xml", CFileTypeCatalogue::Docx},
    {"xl/_rels/workbook.xml.rels", CFileTypeCatalogue::Xlsx},
    {"xl/worksheets/sheet.xml", CFileTypeCatalogue::Xlsx},
    {"ppt/_rels/presentation.xml.rels", CFileTypeCatalogue::Pptx},
    {"ppt/theme/theme1.xml", CFileTypeCatalogue::Pptx},
};

// Order-independent digest of a set of record offsets: the local headers
// walked and the offsets the central directory names must give the same.
uint64_t offsetDigest(uint64_t offset)
{
    uint64_t z = offset + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool isRecordSignature(uint32_t v)
{
    return v == kLocalHeader || v == kCentralHeader || v == kEndOfCentralDirectory || v == kDataDescriptor;
}

} // namespace

CZipFileAnalyser::CZipFileAnalyser()
{
    collect(Step::Signature, 4, m_header, sizeof m_header);
}

int CZipFileAnalyser::identify(const uint8_t* firstBlock)
{
    if (!firstBlock || le::u32(firstBlock) != kLocalHeader)
        return CFileTypeCatalogue::NotWanted;
    const uint16_t method = le::u16(firstBlock + kLocalMethod);
    if (method > kMaxMethod && method != kMethodPpmd)
        return CFileTypeCatalogue::NotWanted;
    m_typeCode = CFileTypeCatalogue::Zip;
    return m_typeCode;
}

bool CZipFileAnalyser::consume(const uint8_t* block, int blockSize, int64_t blockIndex, int, int64_t, int64_t)
{
    if (m_done || !block || blockSize <= 0 || blockIndex < m_startBlock)
        return m_done;
    const uint64_t base = static_cast<uint64_t>(blockIndex - m_startBlock) * static_cast<uint64_t>(blockSize);
    // Nothing to look at in this block: the usual case while member data
    // passes by.
    if (m_cursor >= base + static_cast<uint64_t>(blockSize))
        return false;
    return processBytes(block, base, static_cast<size_t>(blockSize));
}

void CZipFileAnalyser::collect(Step step, size_t bytes, uint8_t* store, size_t capacity)
{
    m_step = step;
    m_need = bytes;
    m_store = store;
    m_capacity = capacity;
    m_stored = 0;
}

bool CZipFileAnalyser::advanceTo(uint64_t offset)
{
    m_foundInData = false;
    if (offset > kMaxLength)
        return giveUp();
    m_cursor = offset;
    collect(Step::Signature, 4, m_header, sizeof m_header);
    return false;
}

bool CZipFileAnalyser::finish(uint64_t length)
{
    m_done = true;
    m_length = length > kMaxLength ? 0 : static_cast<int64_t>(length);
    return true;
}

bool CZipFileAnalyser::giveUp()
{
    // A length of 0 is never reported; the carving pass deletes us.
    return finish(0);
}

// Feeds the archive bytes [base, base + count). Returns true once the end
// is known.
bool CZipFileAnalyser::processBytes(const uint8_t* bytes, uint64_t base, size_t count)
{
    const uint64_t end = base + count;
    while (!m_done && m_cursor < end) {
        if (m_cursor < base)
            return giveUp(); // bytes we needed have passed; cannot happen when fed every block
        const size_t offset = static_cast<size_t>(m_cursor - base);

        if (m_step == Step::ScanData) {
            scanData(bytes + offset, m_cursor, count - offset);
            continue;
        }

        const uint64_t take64 = std::min<uint64_t>(m_need, count - offset);
        const size_t take = static_cast<size_t>(take64);
        if (m_store && m_stored < m_capacity) {
            const size_t keep = std::min(take, m_capacity - m_stored);
            std::memcpy(m_store + m_stored, bytes + offset, keep);
            m_stored += keep;
        }
        m_need -= take;
        m_cursor += take;
        if (m_need == 0 && onFieldComplete())
            return true;
    }
    if (m_step == Step::ScanData && m_cursor < end)
        m_cursor = end;
    return m_done;
}

bool CZipFileAnalyser::onFieldComplete()
{
    switch (m_step) {
    case Step::Signature:
        m_recordStart = m_cursor - 4;
        return onSignature();

    case Step::LocalFixed:
        if (m_foundInData && !plausibleHeader(kLocalVersionNeeded, kLocalMethod))
            return resumeScan(kLocalFixed);
        m_foundInData = false;
        ++m_localCount;
        m_localDigest += offsetDigest(m_recordStart);
        m_flags = le::u16(m_header + kLocalFlags);
        m_compressed32 = le::u32(m_header + kLocalCompressed);
        m_uncompressed32 = le::u32(m_header + kLocalUncompressed);
        m_nameLength = le::u16(m_header + kLocalNameLength);
        m_extraLength = le::u16(m_header + kLocalExtraLength);
        collect(Step::LocalName, m_nameLength, m_name, sizeof m_name);
        return false;

    case Step::LocalName:
        checkName(m_name, m_nameLength);
        collect(Step::LocalExtra, m_extraLength, m_extra, sizeof m_extra);
        return false;

    case Step::LocalExtra:
        return onLocalHeaderDone();

    case Step::CentralFixed: {
        if (m_foundInData && !plausibleHeader(kCentralVersionNeeded, kCentralMethod))
            return resumeScan(kCentralFixed);
        m_foundInData = false;
        if (m_centralStart < 0)
            m_centralStart = static_cast<int64_t>(m_recordStart);
        ++m_centralCount;
        const uint32_t localOffset = le::u32(m_header + kCentralLocalOffset);
        if (localOffset == kSizeInZip64)
            m_centralOffsetsKnown = false; // in the ZIP64 extra field, not read
        else
            m_centralDigest += offsetDigest(localOffset);
        const uint16_t nameLength = le::u16(m_header + kCentralNameLength);
        m_centralTail = static_cast<uint32_t>(le::u16(m_header + kCentralExtraLength))
            + le::u16(m_header + kCentralCommentLength);
        m_nameLength = nameLength;
        collect(Step::CentralName, nameLength, m_name, sizeof m_name);
        return false;
    }

    case Step::CentralName:
        checkName(m_name, m_nameLength);
        return advanceTo(m_cursor + m_centralTail);

    case Step::EndFixed:
        return onEndRecord();

    case Step::Zip64EndFixed: {
        const uint64_t rest = le::u64(m_header + kZip64EndSize);
        if (rest > kMaxLength - m_recordStart - kZip64EndFixed)
            return giveUp();
        if (rest >= kZip64EndRead - kZip64EndFixed)
            m_zip64CentralOffset = static_cast<int64_t>(std::min<uint64_t>(le::u64(m_header + kZip64EndCentralOffset), kMaxLength));
        return advanceTo(m_recordStart + kZip64EndFixed + rest);
    }

    case Step::SkipRecordFixed: {
        // The digital signature and the archive extra data record: a length
        // field, then that many bytes.
        const uint32_t signature = le::u32(m_header);
        const uint64_t data = signature == kDigitalSignature ? le::u16(m_header + 4) : le::u32(m_header + 4);
        return advanceTo(m_cursor + data);
    }

    case Step::ApkSize: {
        const uint64_t size = le::u64(m_header);
        if (size < kApkTail || size > kMaxApkBlock)
            return finish(m_recordStart);
        m_apkSize = size;
        m_cursor = m_recordStart + kApkSizeField + size - kApkTail;
        collect(Step::ApkTail, kApkTail, m_header, kApkTail);
        return false;
    }

    case Step::ApkTail:
        if (le::u64(m_header) != m_apkSize || std::memcmp(m_header + 8, kApkMagic, kApkMagicLength) != 0)
            return finish(m_recordStart);
        return advanceTo(m_recordStart + kApkSizeField + m_apkSize);

    case Step::DescriptorCheck: {
        // A descriptor signature met in the data: it ends the member only
        // if the compressed size it holds is the distance walked.
        const uint64_t distance = m_recordStart - m_dataStart;
        const uint64_t recorded = m_zip64Member ? le::u64(m_header + kDescriptorCompressed)
                                                : le::u32(m_header + kDescriptorCompressed);
        if (recorded == distance)
            return advanceTo(m_recordStart + (m_zip64Member ? kDescriptor64 : kDescriptor32));
        // Not ours: go on scanning, the bytes just collected included.
        return resumeScan(4 + (m_zip64Member ? 12 : 8));
    }

    case Step::ScanData:
        break;
    }
    return false;
}

bool CZipFileAnalyser::onSignature()
{
    const uint32_t signature = le::u32(m_header);
    const bool descriptorExpected = m_descriptorExpected;
    m_descriptorExpected = false;
    switch (signature) {
    case kLocalHeader:
        collect(Step::LocalFixed, kLocalFixed - 4, m_header + 4, kLocalFixed - 4);
        return false;
    case kCentralHeader:
        collect(Step::CentralFixed, kCentralFixed - 4, m_header + 4, kCentralFixed - 4);
        return false;
    case kEndOfCentralDirectory:
        collect(Step::EndFixed, kEndFixed - 4, m_header + 4, kEndFixed - 4);
        return false;
    case kZip64End:
        collect(Step::Zip64EndFixed, kZip64EndRead - 4, m_header + 4, kZip64EndRead - 4);
        return false;
    case kDigitalSignature:
        collect(Step::SkipRecordFixed, kDigitalSignatureFixed - 4, m_header + 4, kDigitalSignatureFixed - 4);
        return false;
    case kArchiveExtraData:
        m_extraDataStart = static_cast<int64_t>(m_recordStart);
        collect(Step::SkipRecordFixed, kArchiveExtraDataFixed - 4, m_header + 4, kArchiveExtraDataFixed - 4);
        return false;
    case kZip64Locator:
        return advanceTo(m_recordStart + kZip64LocatorLength);
    case kDataDescriptor:
        if (descriptorExpected)
            return advanceTo(m_recordStart + (m_zip64Member ? kDescriptor64 : kDescriptor32));
        break;
    default:
        if (descriptorExpected) {
            // A descriptor written without its (optional) signature: these
            // four bytes were its CRC.
            return advanceTo(m_recordStart + (m_zip64Member ? kDescriptor64 : kDescriptor32) - 4);
        }
        if (m_localCount > 0 && m_centralStart < 0) {
            // Between the members and the central directory: perhaps an APK
            // Signing Block, whose first field is a u64 size.
            collect(Step::ApkSize, kApkSizeField - 4, m_header + 4, kApkSizeField - 4);
            return false;
        }
        break;
    }
    // No record here: the archive ends where this position is.
    return finish(m_recordStart);
}

bool CZipFileAnalyser::onEndRecord()
{
    // Where the end record says the central directory begins, counted from
    // the archive's first byte. A walk that began at a member inside a
    // larger archive (a local header that happens to lie on a sector
    // boundary) meets that directory at another place: it is a piece of the
    // other archive, not a document of its own.
    const uint32_t recorded32 = le::u32(m_header + kEndCentralOffset);
    const int64_t recorded = recorded32 == kSizeInZip64 ? m_zip64CentralOffset : static_cast<int64_t>(recorded32);
    const int64_t walked = m_centralStart >= 0 ? m_centralStart : static_cast<int64_t>(m_recordStart);
    if (recorded >= 0 && recorded != walked && recorded != m_extraDataStart)
        return giveUp();
    const uint16_t entries = le::u16(m_header + kEndEntries);
    m_complete = recorded >= 0 && m_centralOffsetsKnown && m_localCount > 0 && m_centralCount == m_localCount
        && m_centralDigest == m_localDigest && (entries == kUnknownCount16 || entries == m_centralCount);
    // The end record is the archive's last; the archive comment it
    // announces follows it and belongs to the archive.
    return finish(m_cursor + le::u16(m_header + kEndCommentLength));
}

bool CZipFileAnalyser::onLocalHeaderDone()
{
    uint64_t compressed = m_compressed32;
    m_zip64Member = false;
    if (m_compressed32 == kSizeInZip64 || m_uncompressed32 == kSizeInZip64) {
        // The real sizes are in the ZIP64 extra field: the uncompressed
        // size first, then the compressed size, each only when its 32-bit
        // field says so (a local header normally carries both).
        const size_t kept = std::min<size_t>(m_extraLength, sizeof m_extra);
        size_t at = 0;
        bool found = false;
        while (at + 4 <= kept) {
            const uint16_t tag = le::u16(m_extra + at);
            const uint16_t size = le::u16(m_extra + at + 2);
            if (tag == kZip64ExtraTag) {
                if (at + 4 + size > kept)
                    break;
                const uint8_t* field = m_extra + at + 4;
                size_t pos = 0;
                if (m_uncompressed32 == kSizeInZip64 || size >= 16)
                    pos += 8;
                if (m_compressed32 == kSizeInZip64) {
                    if (pos + 8 > size)
                        break;
                    compressed = le::u64(field + pos);
                }
                found = true;
                break;
            }
            at += 4 + static_cast<size_t>(size);
        }
        if (!found)
            return giveUp(); // a size we cannot read: never guess a short length
        m_zip64Member = true;
    }

    if (m_flags & kFlagDataDescriptor) {
        if (compressed == 0) {
            m_dataStart = m_cursor;
            m_recent = 0;
            m_step = Step::ScanData;
            return false;
        }
        m_descriptorExpected = true;
    }
    if (compressed > kMaxLength - m_cursor)
        return giveUp();
    return advanceTo(m_cursor + compressed);
}

// Scans member data whose length the local header did not give, for the
// record that follows it: a data descriptor whose compressed size is the
// distance walked, or the next local or central header (a descriptor
// without its optional signature is then part of the data).
void CZipFileAnalyser::scanData(const uint8_t* bytes, uint64_t base, size_t count)
{
    // Signatures that began in the previous piece and end in this one.
    const size_t straddle = std::min<size_t>(3, count);
    for (size_t i = 0; i < straddle; ++i) {
        m_recent = (m_recent >> 8) | (static_cast<uint32_t>(bytes[i]) << 24);
        if (isRecordSignature(m_recent) && base + i >= 3) {
            const uint64_t at = base + i - 3;
            if (at >= m_dataStart && foundSignatureInData(m_recent, at))
                return;
        }
    }
    // Signatures that lie wholly in this piece.
    size_t from = 0;
    while (count >= 4 && from + 4 <= count) {
        const void* hit = std::memchr(bytes + from, 'P', count - 3 - from);
        if (!hit)
            break;
        const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - bytes);
        const uint32_t v = le::u32(bytes + at);
        if (isRecordSignature(v) && foundSignatureInData(v, base + at))
            return;
        from = at + 1;
    }
    if (count >= 4) {
        m_recent = le::u32(bytes + count - 4);
    } else {
        for (size_t i = straddle; i < count; ++i)
            m_recent = (m_recent >> 8) | (static_cast<uint32_t>(bytes[i]) << 24);
    }
    m_cursor = base + count;
}

bool CZipFileAnalyser::foundSignatureInData(uint32_t signature, uint64_t at)
{
    m_recordStart = at;
    m_header[0] = static_cast<uint8_t>(signature);
    m_header[1] = static_cast<uint8_t>(signature >> 8);
    m_header[2] = static_cast<uint8_t>(signature >> 16);
    m_header[3] = static_cast<uint8_t>(signature >> 24);
    m_cursor = at + 4;
    if (signature == kDataDescriptor) {
        const size_t sizes = m_zip64Member ? 12 : 8; // CRC and compressed size
        collect(Step::DescriptorCheck, sizes, m_header + 4, sizes);
        return true;
    }
    m_descriptorExpected = false;
    m_foundInData = true;
    onSignature();
    return true;
}

// A header signature met inside member data is taken for the next record
// only if its version and method fields are ones a writer puts there: four
// bytes of compressed data match a signature now and then.
bool CZipFileAnalyser::plausibleHeader(size_t versionNeeded, size_t method) const
{
    const uint16_t m = le::u16(m_header + method);
    return (le::u16(m_header + versionNeeded) & 0xFF) <= kMaxVersionNeeded && (m <= kMaxMethod || m == kMethodPpmd);
}

// What looked like a record inside member data was not one: scan on, from
// just after its signature, over the `collected` bytes read since.
bool CZipFileAnalyser::resumeScan(size_t collected)
{
    uint8_t again[sizeof m_header];
    const size_t count = collected - 4;
    std::memcpy(again, m_header + 4, count);
    m_foundInData = false;
    m_step = Step::ScanData;
    m_recent = 0;
    const uint64_t from = m_recordStart + 4;
    m_cursor = from;
    return processBytes(again, from, count);
}

int CZipFileAnalyser::typeCodeOfMember(const char* name, size_t length)
{
    if (length == 0 || length > kNameCapacity)
        return 0;
    for (const MemberName& member : kMemberNames) {
        if (std::strlen(member.name) == length && std::memcmp(member.name, name, length) == 0)
            return member.typeCode;
    }
    return 0;
}

void CZipFileAnalyser::checkName(const uint8_t* name, size_t length)
{
    const int code = typeCodeOfMember(reinterpret_cast<const char*>(name), length);
    if (code != 0)
        m_typeCode = code;
}
