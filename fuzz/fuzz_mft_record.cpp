// The MFT record parser over arbitrary records.
//
// Input: one control byte, then the record.
//   bits 0-1  record size: 512, 1024, 2048 or 4096 bytes
//   bits 2-3  cluster size: 512, 4096, 65536 or 2 MiB bytes
//   bit  4    step over the data attributes
//   bit  5    protect the record with its update sequence before parsing,
//             as NTFS does when it writes one: the last two bytes of every
//             512-byte stride go into the array and the sequence number
//             takes their place. Without this almost every mutation of a
//             real record would fail the sequence check and the fuzzer
//             would never get past the header.
//   bit  6    hand the parser fewer bytes than the record size (the tail
//             of the input only), to exercise the length check
//   bit  7    read records that are not live files too (deleted files,
//             folders, extension records), as the deleted-file pass does
// The record is the rest of the input, cut or zero-padded to the record
// size. The parser is run twice on one object, as the scanner does with
// its records, so that state carried from one record to the next is
// exercised too.
#include "disk/LittleEndian.h"
#include "filesystems/CMFTRecord.h"
#include "scan/CFileTypeCatalogue.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kRecordSizes[4] = {512, 1024, 2048, 4096};
constexpr uint32_t kClusterSizes[4] = {512, 4096, 65536, 2u * 1024 * 1024};
constexpr size_t kStride = 512;

void protect(std::vector<uint8_t>& record)
{
    if (record.size() < 8)
        return;
    const uint16_t arrayOffset = le::u16(record.data() + 4);
    const uint16_t count = le::u16(record.data() + 6);
    const size_t strides = record.size() / kStride;
    if (count != strides + 1 || !le::fits(record.size(), arrayOffset, size_t(count) * 2))
        return;
    uint8_t* array = record.data() + arrayOffset;
    for (size_t i = 1; i < count; ++i) {
        uint8_t* end = record.data() + i * kStride - 2;
        // The array itself may overlap a stride end in a hostile record;
        // copy through a temporary so the order does not matter.
        const uint8_t saved[2] = {end[0], end[1]};
        end[0] = array[0];
        end[1] = array[1];
        array[2 * i] = saved[0];
        array[2 * i + 1] = saved[1];
    }
}

void parseOnce(CMFTRecord& record, const uint8_t* data, uint32_t length, bool skipData)
{
    if (record.parseRecord(data, length, skipData) != CMFTRecord::kStatusOk)
        return;
    const QByteArray name = record.nameBytes();
    (void)CFileTypeCatalogue::typeCodeByExtension(name, false);
    (void)CFileTypeCatalogue::isContainerExtension(name, false);
    int64_t total = record.firstCluster();
    for (const auto& run : record.runMap())
        total ^= run.first ^ run.second;
    (void)total;
    (void)record.dataSize();
    (void)record.isLiveFile();
    // What the deleted-file pass reads.
    uint64_t sum = record.parentReference() ^ record.modificationTime() ^ record.baseReference();
    sum ^= record.streamRealSize() ^ record.streamInitializedSize() ^ record.sequenceNumber();
    for (const CMFTRecord::DataPiece& piece : record.dataPieces())
        for (const CMFTRecord::DataRun& run : piece.runs)
            sum ^= run.vcn ^ static_cast<uint64_t>(run.lcn) ^ run.clusters;
    for (const CMFTRecord::ListEntry& entry : record.attributeList())
        sum ^= entry.firstVcn ^ entry.reference;
    sum ^= static_cast<uint64_t>(record.residentData().size()) ^ static_cast<uint64_t>(record.name().toUtf8().size());
    (void)sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    ++data;
    --size;

    const uint32_t recordSize = kRecordSizes[control & 3u];
    const uint32_t clusterSize = kClusterSizes[(control >> 2) & 3u];
    const bool skipData = (control & 0x10u) != 0;

    std::vector<uint8_t> bytes(recordSize, 0);
    std::memcpy(bytes.data(), data, std::min<size_t>(size, recordSize));
    if (control & 0x20u)
        protect(bytes);

    uint32_t length = recordSize;
    if (control & 0x40u)
        length = static_cast<uint32_t>(std::min<size_t>(size, recordSize - 1));

    CMFTRecord record;
    record.setReadUnused((control & 0x80u) != 0);
    if (record.setRecordGeometry(recordSize, clusterSize) != CMFTRecord::kStatusOk)
        return 0;
    // Exactly `length` bytes are handed over, in a buffer of its own, so
    // that the sanitizer sees any read past them.
    std::vector<uint8_t> exact(bytes.begin(), bytes.begin() + length);
    parseOnce(record, exact.data(), length, skipData);
    parseOnce(record, exact.data(), length, !skipData);
    return 0;
}
