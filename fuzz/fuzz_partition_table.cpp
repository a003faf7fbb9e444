// The partition-table reader over a sparse in-memory disk (fuzz/FuzzVolumeImage.h
// gives the encoding): the MBR and the links of its extended chain, or the
// protective MBR, both GPT headers and their entry arrays; then each
// partition's boot sector read through a view, as the scan worker does.
//
// The options byte is unused. The disk is at most 64 GiB long whatever the
// header says (only the chunks are held in memory; the rest reads as zeros).
#include "FuzzVolumeImage.h"

#include "disk/CBootSectorProbe.h"
#include "disk/CPartitionTable.h"
#include "disk/CVolumeView.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzimage::Image image = fuzzimage::decode(data, size, int64_t(64) * 1024 * 1024 * 1024);
    if (!image.volume)
        return 0;
    std::shared_ptr<IVolume> disk(std::move(image.volume));
    const CPartitionTable table = CPartitionTable::read(*disk);
    for (const CPartitionTable::Partition& p : table.partitions()) {
        if (p.offset < 0 || p.length <= 0 || p.offset + p.length > disk->length())
            __builtin_trap(); // every partition lies on the disk
        CVolumeView view(disk, p.offset, p.length);
        CBootSectorProbe::detect(view);
    }
    return 0;
}
