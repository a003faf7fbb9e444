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
// The volume is at most 512 MiB long whatever the header says.
#include "FuzzVolumeImage.h"

#include "filesystems/CExfatScanner.h"
#include "filesystems/CFat32Scanner.h"
#include "filesystems/CNtfsScanner.h"

namespace {

constexpr uint8_t kExfatOption = 1u << 3;
constexpr uint8_t kFat32Option = 1u << 4;

template <class Scanner>
void scan(fuzzimage::Image& image)
{
    fuzzimage::ReadLimit limit(*image.volume, image.options & 7u);
    CNotifyFileNode relay;
    fuzzimage::checkPromises(relay, image.volume->length());
    Scanner scanner(image.volume.get(), &relay, &limit.running);
    scanner.scan();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzimage::Image image = fuzzimage::decode(data, size, 512 * 1024 * 1024);
    if (!image.volume)
        return 0;
    if (image.options & kExfatOption)
        scan<CExfatScanner>(image);
    else if (image.options & kFat32Option)
        scan<CFat32Scanner>(image);
    else
        scan<CNtfsScanner>(image);
    return 0;
}
