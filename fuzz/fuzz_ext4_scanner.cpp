// The ext4 scanner (libext2fs through the read-only io_manager) over a sparse
// in-memory volume (fuzz/FuzzVolumeImage.h gives the encoding): the
// superblock, group descriptors, bitmaps, inode tables, directory and
// extent blocks.
//
// Options byte:
//   bits 0-2  stop the scan after that many reads of the volume (0: never),
//             through the worker's running flag
// The volume is at most 512 MiB long whatever the header says.
#include "FuzzVolumeImage.h"

#include "filesystems/CExt4Scanner.h"
#include "scan/CNotifyFileNode.h"

#include <atomic>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzimage::Image image = fuzzimage::decode(data, size, 512 * 1024 * 1024);
    if (!image.volume)
        return 0;

    const unsigned stopAfter = image.options & 7u;
    std::atomic<bool> running{true};
    unsigned reads = 0;
    if (stopAfter != 0) {
        image.volume->setReadHook([&](int64_t, size_t) {
            if (++reads >= stopAfter)
                running = false;
        });
    }

    CNotifyFileNode relay;
    CExt4Scanner scanner(image.volume.get(), &relay, &running);
    scanner.scan();
    return 0;
}
