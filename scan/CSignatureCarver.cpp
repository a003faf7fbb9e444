#include "scan/CSignatureCarver.h"

#include "analysers/CFileOleAnalyser.h"
#include "analysers/CPdfAnalyser.h"
#include "analysers/CZipFileAnalyser.h"
#include "disk/LittleEndian.h"
#include "scan/CFileNode.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <algorithm>

namespace {

constexpr uint32_t kPdfSignature = 0x46445025;  // "%PDF"
constexpr uint32_t kZipSignature = 0x04034B50;  // "PK" 3 4
constexpr uint32_t kOleSignature = 0xE011CFD0;  // D0 CF 11 E0
constexpr int kRecordKind = 2;
constexpr int kTailBytes = 4;

} // namespace

CSignatureCarver::CSignatureCarver()
{
    m_open.reserve(kMaxOpenAnalysers + 1);
    for (int code = CFileTypeCatalogue::Zip; code <= CFileTypeCatalogue::Xlsx; ++code)
        m_typeNames[code] = CFileTypeCatalogue::typeName(code);
}

// Analysers still open are dropped unreported.
CSignatureCarver::~CSignatureCarver() = default;

void CSignatureCarver::carveWindow(CNotifyFileNode* relay, const uint8_t* window, int64_t windowLength, int blockSize)
{
    if (!relay || !window || blockSize < kTailBytes || windowLength <= 0)
        return;
    m_blockSize = blockSize;
    const int64_t blocks = windowLength / blockSize;
    IAnalyser* snapshot[kMaxOpenAnalysers + 1];

    int64_t i = 0;
    while (i < blocks) {
        const int64_t o = i * blockSize;
        const uint8_t* block = window + o;
        if ((m_blockCounter % kBlocksPerBoundary) == 0)
            detectSignature(block, o, m_blockCounter);

        if (m_open.empty()) {
            // Nothing to follow: go straight to the next boundary.
            const int64_t step = std::min<int64_t>(kBlocksPerBoundary - (m_blockCounter % kBlocksPerBoundary), blocks - i);
            i += step;
            m_blockCounter += static_cast<uint64_t>(step);
            continue;
        }

        const uint8_t* tail = block + blockSize - kTailBytes;
        const int tailMarker = (tail[0] | tail[1] | tail[2] | tail[3]) == 0 ? kTailBytes : 0;
        const int64_t blocksAfter = blocks - i - 1;
        const int64_t index = static_cast<int64_t>(m_blockCounter);

        // A snapshot, so that analysers leaving the list do not disturb the
        // walk; one opened just now receives its own first block.
        const size_t count = m_open.size();
        for (size_t k = 0; k < count; ++k)
            snapshot[k] = m_open[k].get();
        for (size_t k = 0; k < count; ++k) {
            IAnalyser* analyser = snapshot[k];
            if (analyser->consume(block, blockSize, index, tailMarker, blocksAfter, o))
                settle(relay, analyser);
        }
        ++i;
        ++m_blockCounter;
    }
}

void CSignatureCarver::finishPass(CNotifyFileNode* relay)
{
    (void)relay;
}

int CSignatureCarver::detectSignature(const uint8_t* block, int64_t offsetInWindow, uint64_t blockIndex)
{
    (void)offsetInWindow;
    if (!block || (blockIndex % kBlocksPerBoundary) != 0)
        return CFileTypeCatalogue::NotWanted;
    const uint32_t signature = le::u32(block);
    std::unique_ptr<IAnalyser> analyser;
    switch (signature) {
    case kPdfSignature:
        analyser.reset(new CPdfAnalyser);
        break;
    case kZipSignature:
        analyser.reset(new CZipFileAnalyser);
        break;
    case kOleSignature:
        analyser.reset(new CFileOleAnalyser);
        break;
    default:
        return CFileTypeCatalogue::NotWanted;
    }
    if (analyser->identify(block) == CFileTypeCatalogue::NotWanted)
        return CFileTypeCatalogue::NotWanted;
    const int opened = signature == kPdfSignature ? CFileTypeCatalogue::Pdf
        : signature == kZipSignature             ? CFileTypeCatalogue::Zip
                                                 : CFileTypeCatalogue::Doc;
    open(std::move(analyser), blockIndex);
    return opened;
}

void CSignatureCarver::open(std::unique_ptr<IAnalyser> analyser, uint64_t blockIndex)
{
    analyser->setStartBlock(static_cast<int64_t>(blockIndex));
    if (m_open.size() >= static_cast<size_t>(kMaxOpenAnalysers))
        m_open.erase(m_open.begin()); // the oldest, unfinished and unreported
    m_open.push_back(std::move(analyser));
}

bool CSignatureCarver::settle(CNotifyFileNode* relay, IAnalyser* analyser)
{
    const int code = analyser->typeCode();
    if (code < CFileTypeCatalogue::Zip || code > CFileTypeCatalogue::Xlsx)
        return false;
    const int64_t length = analyser->length();
    const uint64_t start = static_cast<uint64_t>(analyser->startBlock());
    const uint64_t startByte = start * static_cast<uint64_t>(m_blockSize);
    // A document cut by the end of the volume: what the reader padded it
    // with is not the document.
    const bool insideVolume = m_volumeLength <= 0
        || (startByte <= static_cast<uint64_t>(m_volumeLength)
            && static_cast<uint64_t>(length) <= static_cast<uint64_t>(m_volumeLength) - startByte);
    if (length >= kMinimumLength && insideVolume) {
        const QString& name = m_typeNames[code];
        relay->postItem(CFileNode(name, length, start, QString(), QString::number(start), QString(), code, kRecordKind,
                                  CFileTypeCatalogue::sizeText(length), CFileTypeCatalogue::description(name)));
    }
    remove(analyser);
    return true;
}

void CSignatureCarver::remove(IAnalyser* analyser)
{
    auto it = std::find_if(m_open.begin(), m_open.end(),
                           [analyser](const std::unique_ptr<IAnalyser>& a) { return a.get() == analyser; });
    if (it != m_open.end())
        m_open.erase(it);
}
