// The ddrescue map file reader: any text either is refused or gives blocks
// that tile [0, extent) in order, and the map written from them reads back
// the same. Setting a stretch keeps the tiling.
#include "disk/CDdrescueMap.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1024 * 1024)
        return 0;
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<int>(size));
    CDdrescueMap map;
    QString error;
    if (!CDdrescueMap::parse(text, &map, &error)) {
        if (error.isEmpty())
            __builtin_trap(); // a refusal always says why
        return 0;
    }
    auto tiles = [](const CDdrescueMap& m) {
        int64_t at = 0;
        for (const CDdrescueMap::Block& b : m.blocks()) {
            if (b.offset != at || b.length <= 0)
                return false;
            at += b.length;
        }
        return at == m.extent();
    };
    if (!tiles(map))
        __builtin_trap();
    CDdrescueMap again;
    if (!CDdrescueMap::parse(map.text(QStringLiteral("fuzz")), &again, &error) || !(again.blocks() == map.blocks()))
        __builtin_trap();
    // A stretch from the input's own numbers set in the middle of it.
    const int64_t extent = map.extent();
    if (extent > 0) {
        const int64_t from = static_cast<int64_t>(size) * 7919 % extent;
        map.set(from, extent - from, CDdrescueMap::BadSector);
        if (!tiles(map) || map.extent() != extent || map.bytesWith(CDdrescueMap::BadSector) < extent - from)
            __builtin_trap();
    }
    return 0;
}
