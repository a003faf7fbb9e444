// The NTFS scanner over an arbitrary volume held in memory.
//
// The first input byte picks the reader's window (1 to 16 KiB) so that
// table runs cross window ends; the rest is the volume.
#include "disk/CMemoryVolume.h"
#include "filesystems/CNtfsScanner.h"
#include "scan/CNotifyFileNode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint32_t window = 1024u * (1 + (data[0] & 15));
    CMemoryVolume volume(QByteArray(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1)));
    CNotifyFileNode relay;
    CNtfsScanner scanner(&volume, &relay);
    scanner.setWindowSize(window);
    scanner.scan();
    return 0;
}
