// One master file table record from arbitrary bytes.
//
// The first input byte picks the record size (512 to 4096 bytes) and, with
// its top bit, whether the harness writes a matching update sequence over
// the sector ends first, so that most inputs get past the fixup check and
// into the attribute walk. The rest is the record, padded with zeros.
#include "filesystems/CMFTRecord.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint32_t recordSize = 512u << (data[0] & 3);
    const bool protect = (data[0] & 0x80) != 0;
    ++data;
    --size;

    std::vector<uint8_t> record(recordSize, 0);
    std::memcpy(record.data(), data, std::min<size_t>(size, recordSize));
    if (protect && recordSize >= 64) {
        const size_t strides = recordSize / 512;
        const size_t arrayOffset = 0x30;
        record[4] = uint8_t(arrayOffset);
        record[5] = 0;
        record[6] = uint8_t(strides + 1);
        record[7] = 0;
        for (size_t i = 1; i <= strides; ++i) {
            record[arrayOffset + 2 * i] = record[i * 512 - 2];
            record[arrayOffset + 2 * i + 1] = record[i * 512 - 1];
            record[i * 512 - 2] = record[arrayOffset];
            record[i * 512 - 1] = record[arrayOffset + 1];
        }
    }

    for (bool skipData : {false, true}) {
        CMFTRecord r;
        r.setRecordGeometry(recordSize, 4096);
        r.parseRecord(record.data(), recordSize, skipData);
        (void)r.name();
        (void)r.nameBytes();
        (void)r.firstCluster();
    }
    return 0;
}
