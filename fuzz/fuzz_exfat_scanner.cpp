// The exFAT scanner over a sparse in-memory volume (fuzz/FuzzVolumeImage.h gives the
// encoding): the boot regions, the FAT, the allocation bitmap and the
// directory clusters the tree walk reaches.
// Every deleted document it reports must keep its promises (see
// fuzzimage::checkPromises).
//
// Options byte:
//   bits 0-2  stop the scan after that many reads of the volume (0: never),
//             through the worker's running flag
// The volume is at most 512 MiB long whatever the header says.
#include "FuzzVolumeImage.h"

#include "filesystems/CExfatScanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzzimage::scanImage<CExfatScanner>(data, size);
}
