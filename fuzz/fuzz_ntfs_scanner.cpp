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
// Every deleted document reported must keep its promises: extents inside
// the volume and summing to its size, resident bytes of its size, an
// overwritten share between 0 and 1. A broken promise aborts.
#include "FuzzVolumeImage.h"

#include "filesystems/CNtfsScanner.h"
#include "scan/CNotifyFileNode.h"

#include <atomic>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzimage::Image image = fuzzimage::decode(data, size, 64 * 1024 * 1024);
    if (!image.volume)
        return 0;

    static const uint32_t kWindows[4] = {0, 4096, 64 * 1024, 1024 * 1024};
    const uint32_t window = kWindows[image.options & 3u];
    const unsigned stopAfter = (image.options >> 2) & 7u;

    std::atomic<bool> running{true};
    unsigned reads = 0;
    if (stopAfter != 0) {
        image.volume->setReadHook([&](int64_t, size_t) {
            if (++reads >= stopAfter)
                running = false;
        });
    }

    CNotifyFileNode relay;
    const int64_t volumeLength = image.volume->length();
    QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), [volumeLength](const CFileNode& node) {
        int64_t sum = 0;
        for (const CFileNode::Extent& e : node.extents) {
            if (e.length <= 0)
                std::abort();
            if (e.offset != CFileNode::Extent::kSparse && (e.offset < 0 || e.offset > volumeLength - e.length))
                std::abort();
            sum += e.length;
        }
        if (node.hasResidentData ? node.residentData.size() != node.size : sum != node.size)
            std::abort();
        if (!(node.overwritten >= 0.0 && node.overwritten <= 1.0))
            std::abort();
        if (node.originalName.toUtf8().contains('\0') || node.originalName.contains(QLatin1Char('/')))
            std::abort();
    });
    CNtfsScanner scanner(image.volume.get(), &relay, &running);
    if (window != 0)
        scanner.setWindowSize(window);
    scanner.scan();
    return 0;
}
