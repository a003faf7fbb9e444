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

bool isSignature(uint32_t head)
{
    return head == kPdfSignature || head == kZipSignature || head == kOleSignature;
}

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
    if (!relay || !window || blockSize < 16 || windowLength <= 0)
        return;
    m_relay = relay;
    m_blockSize = blockSize;
    const int64_t blocks = windowLength / blockSize;
    IAnalyser* snapshot[kMaxOpenAnalysers + 1];

    int64_t i = 0;
    while (i < blocks) {
        if (m_open.empty()) {
            // Nothing to follow: only the first four bytes of each block
            // matter until one of them is a signature.
            while (i < blocks && !isSignature(le::u32(window + i * blockSize))) {
                ++i;
                ++m_blockCounter;
            }
            if (i == blocks)
                break;
        }
        const int64_t o = i * blockSize;
        const uint8_t* block = window + o;
        if (isSignature(le::u32(block)))
            detectSignature(block, o, m_blockCounter);
        if (m_open.empty()) {
            ++i;
            ++m_blockCounter;
            continue;
        }

        const uint8_t* tail = block + blockSize - kTailBytes;
        const int tailMarker = (tail[0] | tail[1] | tail[2] | tail[3]) == 0 ? kTailBytes : 0;
        const int64_t blocksAfter = blocks - i - 1;
        const int64_t index = static_cast<int64_t>(m_blockCounter);
        if (m_openPdfs > 0)
            m_markers.scan(block, blockSize, index);

        // A snapshot, so that analysers leaving the list do not disturb the
        // walk; one opened just now receives its own first block.
        const size_t count = m_open.size();
        for (size_t k = 0; k < count; ++k)
            snapshot[k] = m_open[k].analyser.get();
        for (size_t k = 0; k < count; ++k) {
            IAnalyser* analyser = snapshot[k];
            if (analyser->consume(block, blockSize, index, tailMarker, blocksAfter, o))
                settle(analyser);
        }
        ++i;
        ++m_blockCounter;
    }
}

uint64_t CSignatureCarver::earliestOpenBlock() const
{
    uint64_t earliest = m_blockCounter;
    for (const Open& o : m_open)
        earliest = std::min(earliest, static_cast<uint64_t>(std::max<int64_t>(0, o.analyser->startBlock())));
    return earliest;
}

void CSignatureCarver::finishPass(CNotifyFileNode* relay)
{
    if (!relay)
        return;
    m_relay = relay;
    // The volume has ended, and with it every PDF still open.
    finishPdfsAtCandidates();
}

bool CSignatureCarver::isCut(const CFileNode& node)
{
    return node.origin == CFileNode::OriginCarved && node.incomplete && node.extents.size() == 1;
}

void CSignatureCarver::postCut(int code, uint64_t startBlock, int64_t readEnd, CFileNode* fallback)
{
    const int64_t startByte = static_cast<int64_t>(startBlock) * m_blockSize;
    if (!m_relay || readEnd <= startByte)
        return;
    CFileNode cut;
    if (fallback) {
        cut = *fallback;
    } else {
        const bool known = code >= CFileTypeCatalogue::Zip && code <= CFileTypeCatalogue::Xlsx;
        cut = CFileNode(known ? m_typeNames[code] : QString(), 0, startBlock, QString(), QString::number(startBlock),
                        QString(), known ? code : 0, kRecordKind, QString(), QString());
    }
    cut.incomplete = true;
    cut.extents = {CFileNode::Extent{startByte, readEnd - startByte}};
    m_relay->postItem(cut);
}

void CSignatureCarver::endRun(CNotifyFileNode* relay)
{
    if (m_reportCuts && relay && !m_open.empty()) {
        m_relay = relay;
        m_cutAt = static_cast<int64_t>(m_blockCounter) * m_blockSize;
        // A PDF that has seen its end marker is posted as cut with the
        // record it would be there; the others as cut alone.
        finishPdfsAtCandidates();
        for (const Open& o : m_open)
            postCut(o.analyser->typeCode(), static_cast<uint64_t>(std::max<int64_t>(0, o.analyser->startBlock())),
                    m_cutAt, nullptr);
        m_cutAt = -1;
        m_open.clear();
        m_openPdfs = 0;
        return;
    }
    finishPass(relay);
    // What is still open runs into bytes that are not read: a document cut
    // there is not whole, and is dropped as at the end of the volume.
    m_open.clear();
    m_openPdfs = 0;
}

int CSignatureCarver::detectSignature(const uint8_t* block, int64_t offsetInWindow, uint64_t blockIndex)
{
    (void)offsetInWindow;
    if (!block)
        return CFileTypeCatalogue::NotWanted;
    const uint32_t signature = le::u32(block);
    std::unique_ptr<IAnalyser> analyser;
    CPdfAnalyser* pdf = nullptr;
    int opened = CFileTypeCatalogue::NotWanted;
    switch (signature) {
    case kPdfSignature:
        pdf = new CPdfAnalyser(&m_markers);
        analyser.reset(pdf);
        opened = CFileTypeCatalogue::Pdf;
        break;
    case kZipSignature:
        analyser.reset(new CZipFileAnalyser);
        opened = CFileTypeCatalogue::Zip;
        break;
    case kOleSignature:
        analyser.reset(new CFileOleAnalyser);
        opened = CFileTypeCatalogue::Doc;
        break;
    default:
        return CFileTypeCatalogue::NotWanted;
    }
    if (analyser->identify(block) == CFileTypeCatalogue::NotWanted)
        return CFileTypeCatalogue::NotWanted;
    // The next document begins: a PDF that has seen its end marker is over,
    // unless what begins is embedded in one of its updates. (A signature
    // before any marker is a file embedded in the PDF.)
    if (m_openPdfs > 0)
        fencePdfs(static_cast<int64_t>(blockIndex) * m_blockSize);
    open(std::move(analyser), pdf, blockIndex);
    return opened;
}

void CSignatureCarver::open(std::unique_ptr<IAnalyser> analyser, CPdfAnalyser* pdf, uint64_t blockIndex)
{
    analyser->setStartBlock(static_cast<int64_t>(blockIndex));
    if (m_open.size() >= static_cast<size_t>(kMaxOpenAnalysers)) {
        // The oldest is dropped unfinished and unreported; a PDF with a
        // candidate end ends there rather than being lost (in practice
        // finishPdfsAtCandidates() has already done so).
        Open& oldest = m_open.front();
        if (oldest.pdf && oldest.pdf->finishAtCandidate())
            settle(oldest.analyser.get());
        else
            remove(oldest.analyser.get());
    }
    m_open.push_back(Open{std::move(analyser), pdf});
    if (pdf)
        ++m_openPdfs;
}

void CSignatureCarver::fencePdfs(int64_t at)
{
    IAnalyser* ending[kMaxOpenAnalysers + 1];
    size_t count = 0;
    for (const Open& o : m_open) {
        if (!o.pdf || o.pdf->candidateEnd() < 0)
            continue;
        if (o.pdf->fenced()) {
            // A second document after the one that fenced the PDF: that
            // one was not embedded. (One that begins while the other is
            // still open lies inside it, and tells nothing.)
            if (o.pdf->fencingDocumentHasEnded())
                ending[count++] = o.analyser.get();
        } else
            o.pdf->fence(at);
    }
    for (size_t k = 0; k < count; ++k) {
        auto* pdf = static_cast<CPdfAnalyser*>(ending[k]);
        if (pdf->finishAtCandidate())
            settle(pdf);
    }
}

void CSignatureCarver::finishPdfsAtCandidates()
{
    IAnalyser* ending[kMaxOpenAnalysers + 1];
    size_t count = 0;
    for (const Open& o : m_open) {
        if (o.pdf && o.pdf->candidateEnd() >= 0)
            ending[count++] = o.analyser.get();
    }
    for (size_t k = 0; k < count; ++k) {
        auto* pdf = static_cast<CPdfAnalyser*>(ending[k]);
        if (pdf->finishAtCandidate())
            settle(pdf);
    }
}

bool CSignatureCarver::endsOnANewerPdfsMarker(const IAnalyser* pdf) const
{
    const int64_t markerStart = pdf->startBlock() * m_blockSize + pdf->length() - CPdfEndMarkers::kMarkerLength;
    bool newer = false;
    for (const Open& o : m_open) {
        if (o.analyser.get() == pdf) {
            newer = true;
            continue;
        }
        if (newer && o.pdf && o.analyser->startBlock() * m_blockSize <= markerStart)
            return true;
    }
    return false;
}

bool CSignatureCarver::settle(IAnalyser* analyser)
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
    const bool swallows = code == CFileTypeCatalogue::Pdf && endsOnANewerPdfsMarker(analyser);
    const bool longEnough = length >= kMinimumLength || (length > 0 && analyser->structureComplete());
    if (longEnough && insideVolume && !swallows && m_relay) {
        const QString& name = m_typeNames[code];
        CFileNode node(name, length, start, QString(), QString::number(start), QString(), code, kRecordKind,
                       CFileTypeCatalogue::sizeText(length), CFileTypeCatalogue::description(name));
        if (m_cutAt >= 0)
            postCut(code, start, m_cutAt, &node);
        else
            m_relay->postItem(node);
    } else if (m_cutAt >= 0) {
        postCut(code, start, m_cutAt, nullptr);
    } else if (m_reportCuts && !insideVolume && static_cast<uint64_t>(m_volumeLength) > startByte) {
        // Longer than the stretch it lies in: the rest may lie past the
        // bytes in use after it.
        postCut(code, start, m_volumeLength, nullptr);
    }
    // A PDF fenced by this document learns where it ended (where it gave
    // up, when it did: nothing of it lies beyond).
    const int64_t startAt = static_cast<int64_t>(startByte);
    for (const Open& o : m_open) {
        if (o.pdf && o.pdf != analyser && o.pdf->fenced() && o.pdf->fenceStart() == startAt)
            o.pdf->fencingDocumentEnded(length > 0 ? startAt + length
                                                    : static_cast<int64_t>(m_blockCounter + 1) * m_blockSize);
    }
    remove(analyser);
    return true;
}

void CSignatureCarver::remove(IAnalyser* analyser)
{
    auto it = std::find_if(m_open.begin(), m_open.end(), [analyser](const Open& o) { return o.analyser.get() == analyser; });
    if (it == m_open.end())
        return;
    if (it->pdf)
        --m_openPdfs;
    m_open.erase(it);
}
