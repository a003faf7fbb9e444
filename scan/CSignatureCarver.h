#pragma once

#include <cstdint>

class CNotifyFileNode;

// Finds documents in the raw byte stream of a volume, window by window.
// Windows are handed in volume order; state (the block counter and the
// documents still being followed) carries over from one window to the next.
class CSignatureCarver
{
public:
    CSignatureCarver();
    ~CSignatureCarver();

    CSignatureCarver(const CSignatureCarver&) = delete;
    CSignatureCarver& operator=(const CSignatureCarver&) = delete;

    // Length of the volume in bytes: a document that would end past it is
    // cut by the end of the device and is not reported.
    void setVolumeLength(int64_t length) { m_volumeLength = length; }

    // Analyses one window of `windowLength` bytes in blocks of `blockSize`.
    void carveWindow(CNotifyFileNode* relay, const uint8_t* window, int64_t windowLength, int blockSize);

    // Called once after the last window of a pass that ran to the end of the
    // volume (never after a stop).
    void finishPass(CNotifyFileNode* relay);

    uint64_t blockCounter() const { return m_blockCounter; }

private:
    uint64_t m_blockCounter = 0;
    int64_t m_volumeLength = 0;
};
