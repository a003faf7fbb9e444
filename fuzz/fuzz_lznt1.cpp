// The LZNT1 decoder and the compressed-unit reader over arbitrary bytes.
//
// Input: one control byte, then the bytes.
//   bits 0-2  the unit: 4 KiB << (bits), so one chunk up to 512 KiB
//   bits 3-4  how the unit is laid out for the unit reader: 0 all stored,
//             1 stored then a sparse tail (the compressed form), 2 all
//             sparse, 3 a sparse run between two stored ones (never
//             written so: must be refused, not read)
// The bytes are decoded straight into an output of the unit's size, and
// then through CCompressedUnits as a two-unit file stored on a memory
// volume holding them.
#include "disk/CMemoryVolume.h"
#include "filesystems/CLznt1.h"
#include "scan/CCompressedUnits.h"

#include <QByteArray>
#include <QVector>

#include <algorithm>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    ++data;
    --size;
    const int64_t unit = int64_t(CLznt1::kChunkBytes) << (control & 7u);

    // Exactly `size` input bytes in a buffer of their own, so that the
    // sanitizer sees a read past them.
    std::vector<uint8_t> input(data, data + size);
    std::vector<uint8_t> output(static_cast<size_t>(unit));
    (void)CLznt1::decompress(input.data(), input.size(), output.data(), output.size());

    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const int64_t stored = std::min<int64_t>(static_cast<int64_t>(size), unit);
    CMemoryVolume volume(bytes);
    QVector<CFileNode::Extent> runs;
    const int64_t sparse = CFileNode::Extent::kSparse;
    switch ((control >> 3) & 3u) {
    case 0:
        if (stored > 0)
            runs.append({0, stored});
        break;
    case 1:
        if (stored > 0)
            runs.append({0, stored});
        runs.append({sparse, unit - stored + 1});
        break;
    case 2:
        runs.append({sparse, unit});
        break;
    default:
        runs.append({0, 1});
        runs.append({sparse, 1});
        if (stored > 1)
            runs.append({1, stored - 1});
        break;
    }
    runs.append({sparse, unit});
    CCompressedUnits units(&volume, runs, unit, unit + unit / 2);
    std::vector<uint8_t> out(static_cast<size_t>(unit));
    for (int64_t k = 0; k < units.unitCount(); ++k)
        (void)units.readUnit(k, out.data());
    // A read across the two units, through the cache.
    (void)units.read(unit / 2, out.data(), unit);
    return 0;
}
