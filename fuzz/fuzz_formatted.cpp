// The searches for a formatted volume's old folders (NTFS, exFAT, FAT32)
// over a sparse in-memory volume (fuzz/FuzzVolumeImage.h gives the
// encoding): the live file system's boot sector, table and allocation
// map, and free space holding records, entry sets and directory clusters of
// the one before. The scanner runs whole,
// as the scan runs it; every deleted document it reports must keep its
// promises (see fuzzimage::checkPromises).
//
// Options byte:
//   bits 0-2  stop the scan after that many reads of the volume (0: never)
//   bit  3    exFAT (the old folders' entry sets)
//   bit  4    FAT32 (the old folders' clusters); with neither, NTFS (the
//             old table's records)
//   bit  5    exFAT and FAT32: the free clusters are shown to the search in
//             the windows a carving pass would read (of odd lengths, so
//             that their edges cut clusters), as a whole scan runs it,
//             instead of swept by the pass itself
// The volume is at most 512 MiB long whatever the header says.
#include "FuzzVolumeImage.h"

#include "filesystems/CExfatScanner.h"
#include "filesystems/CFat32Scanner.h"
#include "filesystems/CNtfsScanner.h"
#include "scan/IWindowObserver.h"

#include <algorithm>
#include <vector>

namespace {

constexpr uint8_t kExfatOption = 1u << 3;
constexpr uint8_t kFat32Option = 1u << 4;
constexpr uint8_t kWindowsOption = 1u << 5;
// Short windows, of a length no cluster size divides.
constexpr int64_t kWindowBytes = 3 * 65536 + 1536;

template <class Scanner>
void scan(fuzzimage::Image& image)
{
    fuzzimage::ReadLimit limit(*image.volume, image.options & 7u);
    CNotifyFileNode relay;
    fuzzimage::checkPromises(relay, image.volume->length());
    Scanner scanner(image.volume.get(), &relay, &limit.running);
    scanner.scan();
}

template <class Scanner>
void scanInWindows(fuzzimage::Image& image)
{
    fuzzimage::ReadLimit limit(*image.volume, image.options & 7u);
    CNotifyFileNode relay;
    fuzzimage::checkPromises(relay, image.volume->length());
    Scanner scanner(image.volume.get(), &relay, &limit.running);
    scanner.setFormerFromWindows(true);
    scanner.scan();
    if (IWindowObserver* observer = scanner.formerObserver()) {
        std::vector<uint8_t> window(static_cast<size_t>(kWindowBytes));
        const int64_t length = image.volume->length();
        for (int64_t at = 0; at < length && limit.running.load(); at += kWindowBytes) {
            const IVolume::ReadResult r = image.volume->read(at, window.data(), window.size());
            observer->observeWindow(at, window.data(), std::max<int64_t>(r.bytes, 0));
        }
    }
    scanner.finishFormer();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzimage::Image image = fuzzimage::decode(data, size, 512 * 1024 * 1024);
    if (!image.volume)
        return 0;
    const bool windows = (image.options & kWindowsOption) != 0;
    if (image.options & kExfatOption)
        windows ? scanInWindows<CExfatScanner>(image) : scan<CExfatScanner>(image);
    else if (image.options & kFat32Option)
        windows ? scanInWindows<CFat32Scanner>(image) : scan<CFat32Scanner>(image);
    else
        scan<CNtfsScanner>(image);
    return 0;
}
