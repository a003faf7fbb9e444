// The FAT32 scanner over an arbitrary volume held in memory.
#include "disk/CMemoryVolume.h"
#include "filesystems/CFat32Scanner.h"
#include "scan/CNotifyFileNode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CMemoryVolume volume(QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size)));
    CNotifyFileNode relay;
    CFat32Scanner scanner(&volume, &relay);
    scanner.scan();
    return 0;
}
