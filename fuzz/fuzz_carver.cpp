// The carving pass with every analyser over arbitrary bytes, cut into
// several windows in a row so that documents cross window edges.
//
// The first input byte picks the window size (1 to 16 blocks of 512 bytes)
// and, in its high bit, a pass over unused space: every window is a run of
// its own, whose open documents are posted as cut; the rest is the volume. The last window is padded with zeros like the
// reader pads a window that runs past the end of a volume.
#include "scan/CNotifyFileNode.h"
#include "scan/CSignatureCarver.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t blocks = 1 + (data[0] % 16);
    const bool runs = (data[0] & 0x80) != 0;
    const size_t windowLength = blocks * 512;
    ++data;
    --size;

    CNotifyFileNode relay;
    CSignatureCarver carver;
    carver.setVolumeLength(static_cast<int64_t>(size));
    carver.setReportCuts(runs);
    std::vector<uint8_t> window(windowLength);
    for (size_t at = 0; at < size || at == 0; at += windowLength) {
        const size_t n = std::min(windowLength, size - std::min(size, at));
        std::fill(window.begin(), window.end(), 0);
        if (n > 0)
            std::memcpy(window.data(), data + at, n);
        carver.carveWindow(&relay, window.data(), static_cast<int64_t>(windowLength), 512);
        if (runs)
            carver.endRun(&relay);
        if (size == 0)
            break;
    }
    carver.finishPass(&relay);
    return 0;
}
