#include "scan/CSignatureCarver.h"

#include "scan/CNotifyFileNode.h"

CSignatureCarver::CSignatureCarver() = default;

CSignatureCarver::~CSignatureCarver() = default;

void CSignatureCarver::carveWindow(CNotifyFileNode* relay, const uint8_t* window, int64_t windowLength, int blockSize)
{
    if (!relay || !window || blockSize <= 0)
        return;
    // The analysers arrive separately; until then the pass only counts blocks.
    m_blockCounter += static_cast<uint64_t>(windowLength / blockSize);
}

void CSignatureCarver::finishPass(CNotifyFileNode* relay)
{
    (void)relay;
}
