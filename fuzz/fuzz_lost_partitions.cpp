// The search for file systems no partition entry names, over a sparse
// in-memory disk (fuzz/FuzzVolumeImage.h gives the encoding): the table is
// read as the scan worker reads it, the space it leaves is searched, and
// every volume found is checked against the disk and the live entries.
//
// The options byte is unused. The disk is at most 1 GiB long whatever the
// header says, so that one input probes at most a few thousand places.
#include "FuzzVolumeImage.h"

#include "disk/CPartitionTable.h"
#include "filesystems/CLostPartitionSearch.h"

#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzimage::Image image = fuzzimage::decode(data, size, int64_t(1024) * 1024 * 1024);
    if (!image.volume)
        return 0;
    std::shared_ptr<IVolume> disk(std::move(image.volume));
    const CPartitionTable table = CPartitionTable::read(*disk);
    std::vector<CLostPartitionSearch::Range> live;
    for (const CPartitionTable::Partition& p : table.partitions())
        live.push_back({p.offset, p.length});
    for (const CLostPartitionSearch::Found& f : CLostPartitionSearch::search(*disk, live)) {
        if (f.offset <= 0 || f.length <= 0 || f.offset + f.length > disk->length())
            __builtin_trap(); // every volume found lies on the disk
        for (const CLostPartitionSearch::Range& r : live) {
            if (f.offset < r.offset + r.length && r.offset < f.offset + f.length)
                __builtin_trap(); // and never on a live partition
        }
        if (f.bootCopyOffset < 0 || f.bootCopyLength < 0 || f.bootCopyOffset + f.bootCopyLength > f.length)
            __builtin_trap();
    }
    return 0;
}
