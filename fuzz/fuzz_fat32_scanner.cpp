// The FAT scanner (FAT12, FAT16 and FAT32; the seeds hold all three) over
// a sparse in-memory volume (fuzz/FuzzVolumeImage.h gives the encoding):
// the boot sector, the first FAT, and the directory
// clusters the tree walk reaches through it.
// Every deleted document it reports must keep its promises (see
// fuzzimage::checkPromises).
//
// Options byte:
//   bits 0-2  stop the scan after that many reads of the volume (0: never),
//             through the worker's running flag
// The volume is at most 512 MiB long whatever the header says (only the
// chunks are held in memory; the rest reads as zeros).
#include "FuzzVolumeImage.h"

#include "filesystems/CFat32Scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzzimage::scanImage<CFat32Scanner>(data, size);
}
