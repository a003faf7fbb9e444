// The NTFS scanner over a sparse in-memory volume (fuzz/FuzzVolumeImage.h
// gives the encoding): the boot sector, record 0 of the table and its run
// list, and every record the runs reach.
//
// Options byte:
//   bits 0-1  window of the table reader: 32 MiB (the default), 4 KiB,
//             64 KiB or 1 MiB, so that records cross window ends
//   bits 2-4  stop the scan after that many reads of the volume (0: never),
//             through the worker's running flag
// The volume is at most 64 MiB long whatever the header says.
//
// Every deleted document reported must keep its promises (see
// fuzzimage::checkPromises).
#include "FuzzVolumeImage.h"

#include "filesystems/CNtfsScanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzimage::Image image = fuzzimage::decode(data, size, 64 * 1024 * 1024);
    if (!image.volume)
        return 0;

    static const uint32_t kWindows[4] = {0, 4096, 64 * 1024, 1024 * 1024};
    const uint32_t window = kWindows[image.options & 3u];
    const unsigned stopAfter = (image.options >> 2) & 7u;

    fuzzimage::ReadLimit limit(*image.volume, stopAfter);
    CNotifyFileNode relay;
    fuzzimage::checkPromises(relay, image.volume->length());
    CNtfsScanner scanner(image.volume.get(), &relay, &limit.running);
    if (window != 0)
        scanner.setWindowSize(window);
    scanner.scan();
    return 0;
}
