#pragma once

#include "analysers/IAnalyser.h"

#include <cstddef>

// Walks a ZIP archive record by record, from its first local header through
// the central directory to the end-of-central-directory record, and so
// learns where it ends. Member data is stepped over by the sizes in the
// local headers; a member written with a data descriptor (sizes not known
// when the header was written) is followed through its data to the
// descriptor, or to the next header, that ends it. Six member names mark an
// Office Open XML document (DOCX, XLSX, PPTX); otherwise it is a plain ZIP.
//
// Records a signed archive puts between the last member's data and the
// central directory (an APK Signing Block, a digital signature, an archive
// extra data record) are stepped over. An archive is complete when its end
// record is reached and its central directory names exactly the local
// headers walked; one whose end record places the central directory
// elsewhere than where the walk met it began inside a larger archive and
// is given up.
//
// The walk is fed the archive's bytes block by block and keeps every
// partial record header it needs between calls, so records may straddle
// block and window edges; it never reads outside the block it is handed.
class CZipFileAnalyser : public IAnalyser
{
public:
    CZipFileAnalyser();

    int identify(const uint8_t* firstBlock) override;
    // The end record was reached and the central directory names exactly
    // the local headers walked.
    bool structureComplete() const override { return m_complete && m_length > 0; }
    bool consume(const uint8_t* block, int blockSize, int64_t blockIndex, int trailingZeroBytes, int64_t blocksAfter,
                 int64_t offsetInBuffer) override;

    // Longest member name that can decide the type.
    static constexpr size_t kNameCapacity = 32;
    // The type a member of this name makes its archive (DOCX, XLSX, PPTX),
    // or 0 when the name says nothing.
    static int typeCodeOfMember(const char* name, size_t length);
    // How much of a local header's extra field is kept (enough for the
    // ZIP64 sizes, which come first in what writers produce).
    static constexpr size_t kExtraCapacity = 256;

private:
    enum class Step {
        Signature,      // the four bytes that say which record comes next
        LocalFixed,     // rest of a local file header
        LocalName,
        LocalExtra,
        CentralFixed,   // rest of a central directory header
        CentralName,
        EndFixed,       // rest of the end-of-central-directory record
        Zip64EndFixed,  // size field of the ZIP64 end record
        DescriptorCheck,// the sizes after a data descriptor signature met while scanning data
        ScanData,       // data of a member whose size is in a descriptor after it
        SkipRecordFixed,// length field of a digital signature or archive extra data record
        ApkSize,        // high half of an APK Signing Block's size
        ApkTail,        // its closing size and magic
    };

    bool processBytes(const uint8_t* bytes, uint64_t base, size_t count);
    void collect(Step step, size_t bytes, uint8_t* store, size_t capacity);
    bool onFieldComplete();
    bool onSignature();
    bool onLocalHeaderDone();
    bool onEndRecord();
    void scanData(const uint8_t* bytes, uint64_t base, size_t count);
    bool foundSignatureInData(uint32_t signature, uint64_t at);
    bool advanceTo(uint64_t offset);
    bool finish(uint64_t length);
    bool giveUp();
    void checkName(const uint8_t* name, size_t length);
    bool plausibleHeader(size_t versionNeeded, size_t method) const;
    bool resumeScan(size_t collected);

    Step m_step = Step::Signature;
    bool m_done = false;
    // Offset, from the archive's first byte, of the next byte to look at.
    uint64_t m_cursor = 0;
    // Start of the record being read.
    uint64_t m_recordStart = 0;

    // The field being collected: bytes still to come, where they go and
    // how many of them are kept.
    uint64_t m_need = 0;
    uint8_t* m_store = nullptr;
    size_t m_capacity = 0;
    size_t m_stored = 0;

    uint8_t m_header[64] = {};
    uint8_t m_name[kNameCapacity] = {};
    uint8_t m_extra[kExtraCapacity] = {};

    // The local header whose name and extra field are being read.
    uint16_t m_flags = 0;
    uint32_t m_compressed32 = 0;
    uint32_t m_uncompressed32 = 0;
    uint16_t m_nameLength = 0;
    uint16_t m_extraLength = 0;
    // Lengths skipped after a central header's name.
    uint32_t m_centralTail = 0;

    // A member with a data descriptor: where its data began, whether its
    // sizes are 64-bit, the last four bytes scanned.
    uint64_t m_dataStart = 0;
    bool m_zip64Member = false;
    uint32_t m_recent = 0;
    // The member just stepped over has a data descriptor after its data.
    bool m_descriptorExpected = false;
    // The header being read was found by scanning member data.
    bool m_foundInData = false;

    // What the central directory is checked against: the local headers
    // walked (count and digest of their offsets), the directory's entries,
    // where the directory and an archive extra data record before it began.
    uint32_t m_localCount = 0;
    uint64_t m_localDigest = 0;
    uint32_t m_centralCount = 0;
    uint64_t m_centralDigest = 0;
    bool m_centralOffsetsKnown = true;
    int64_t m_centralStart = -1;
    int64_t m_extraDataStart = -1;
    int64_t m_zip64CentralOffset = -1;
    uint64_t m_apkSize = 0;
    bool m_complete = false;
};
