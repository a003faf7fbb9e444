#pragma once

// Helpers shared by the analyser and carving tests: the real documents of
// tests/data with the length each must be found with, a way to feed an
// analyser block by block through separately allocated windows (so that a
// read outside a window is caught by AddressSanitizer), and images built in
// memory with documents at 4096-byte boundaries.

#include "analysers/CPdfEndMarkers.h"
#include "analysers/IAnalyser.h"
#include "scan/CFileNode.h"
#include "scan/CNotifyFileNode.h"
#include "scan/CSignatureCarver.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace fixtures {

constexpr int kBlock = 512;
constexpr int kBoundary = 4096;

struct Golden
{
    const char* file;
    int typeCode;
    int64_t length; // where the document ends
};

// Lengths: a PDF ends just past the line end of its last "%%EOF" (these
// files end there), an archive just past its
// end-of-central-directory record and the archive comment after it, a
// compound document at its last sector in use by the FAT (all these files
// end there).
inline const std::vector<Golden>& goldenDocuments()
{
    static const std::vector<Golden> docs = {
        {"doc_short.doc", 2, 12800},
        {"doc_tables.doc", 2, 57344},
        {"docx_lo_short.docx", 6, 5477},
        {"docx_python-docx.docx", 6, 37252},
        {"pdf_ghostscript.pdf", 5, 12903},
        {"pdf_lo_writer_text.pdf", 5, 28112},
        {"pdf_pdfunite.pdf", 5, 42316},
        {"pdf_qpdf_linearized.pdf", 5, 28528},
        {"ppt_2slides.ppt", 4, 462848},
        {"pptx_lo_3slides.pptx", 7, 27220},
        {"pptx_pptxgenjs.pptx", 7, 62342},
        {"xls_3sheets.xls", 3, 87040},
        {"xls_small.xls", 3, 6144},
        {"xlsx_lo_small.xlsx", 8, 5367},
        {"xlsx_xlsxwriter.xlsx", 8, 16630},
        {"zip_comment.zip", 1, 1322},
        {"zip_deflated.zip", 1, 4297},
        {"zip_stored.zip", 1, 6661},
        {"zip_streamed.zip", 1, 1877},
    };
    return docs;
}

inline QByteArray readData(const QString& name)
{
    QFile f(QStringLiteral(TAMSEL_TEST_DATA "/") + name);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

inline QByteArray randomBytes(int n, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = static_cast<char>(rng.bounded(256));
    return b;
}

inline int64_t roundUp(int64_t v, int64_t to)
{
    return (v + to - 1) / to * to;
}

// The outcome of feeding one analyser.
struct Fed
{
    bool finished = false;
    int64_t length = 0;
    int typeCode = -1;
    int64_t finishedAtBlock = -1;
};

// Offers `stream` (the document and whatever follows it, padded with zeros
// to whole blocks) to `analyser` block by block, as the carving pass would,
// in windows of `windowBlocks` blocks, each copied into its own allocation.
// The stream's first block is volume block `startBlock`; `windowPhase`
// blocks of the first window lie before it (so the document need not start
// at a window's start).
// When `markers` is given it is scanned over each block first, as the
// carving pass does while PDFs are open.
inline Fed feed(IAnalyser& analyser, const QByteArray& stream, int64_t startBlock = 0, int windowBlocks = 16,
                int windowPhase = 0, CPdfEndMarkers* markers = nullptr)
{
    Fed out;
    QByteArray padded = stream;
    padded.append(QByteArray(static_cast<int>(roundUp(padded.size(), kBlock) - padded.size()), '\0'));
    const int64_t blocks = padded.size() / kBlock;
    analyser.setStartBlock(startBlock);
    int64_t b = 0;
    int phase = windowPhase % windowBlocks;
    while (b < blocks) {
        const int64_t inWindow = std::min<int64_t>(windowBlocks - phase, blocks - b);
        const size_t bytes = static_cast<size_t>(windowBlocks) * kBlock;
        std::unique_ptr<uint8_t[]> window(new uint8_t[bytes]);
        std::memset(window.get(), 0xEE, bytes);
        std::memcpy(window.get() + phase * kBlock, padded.constData() + b * kBlock, static_cast<size_t>(inWindow) * kBlock);
        for (int64_t k = 0; k < inWindow; ++k) {
            const int64_t slot = phase + k;
            const uint8_t* block = window.get() + slot * kBlock;
            const uint8_t* tail = block + kBlock - 4;
            const int zeros = (tail[0] | tail[1] | tail[2] | tail[3]) == 0 ? 4 : 0;
            if (markers)
                markers->scan(block, kBlock, startBlock + b + k);
            if (analyser.consume(block, kBlock, startBlock + b + k, zeros, windowBlocks - slot - 1, slot * kBlock)) {
                out.finished = true;
                out.length = analyser.length();
                out.typeCode = analyser.typeCode();
                out.finishedAtBlock = b + k;
                return out;
            }
        }
        b += inWindow;
        phase = 0;
    }
    out.typeCode = analyser.typeCode();
    return out;
}

// An image built in memory: documents placed at chosen byte offsets, the
// rest zeros unless filled otherwise.
class Image
{
public:
    // Places `bytes` at the next 4096-byte boundary at or after `minimum`
    // (default: the current end) and returns its offset.
    int64_t place(const QByteArray& bytes, int64_t minimum = -1)
    {
        const int64_t at = roundUp(std::max<int64_t>(minimum, m_bytes.size()), kBoundary);
        putAt(bytes, at);
        return at;
    }
    void putAt(const QByteArray& bytes, int64_t at)
    {
        if (m_bytes.size() < at + bytes.size())
            m_bytes.append(QByteArray(static_cast<int>(at + bytes.size() - m_bytes.size()), '\0'));
        std::memcpy(m_bytes.data() + at, bytes.constData(), static_cast<size_t>(bytes.size()));
    }
    // Grows the image to a whole number of `multiple` bytes (zeros).
    void padTo(int64_t multiple)
    {
        const int64_t n = roundUp(m_bytes.size(), multiple);
        m_bytes.append(QByteArray(static_cast<int>(n - m_bytes.size()), '\0'));
    }
    QByteArray& bytes() { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Runs a whole carving pass over `image` in windows of `windowLength` bytes
// (each its own allocation; the last one padded with zeros as the reader
// pads), and returns what was reported.
inline QList<CFileNode> carve(const QByteArray& image, int64_t windowLength, bool completePass = true,
                              int64_t volumeLength = -1)
{
    registerFileNodeMetaType();
    CNotifyFileNode relay;
    QList<CFileNode> found;
    QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem),
                     [&found](const CFileNode& n) { found.append(n); });
    CSignatureCarver carver;
    carver.setVolumeLength(volumeLength < 0 ? image.size() : volumeLength);
    int64_t at = 0;
    // The reader also presents the window that starts exactly at the end.
    while (at <= image.size()) {
        std::unique_ptr<uint8_t[]> window(new uint8_t[static_cast<size_t>(windowLength)]);
        const int64_t n = std::min<int64_t>(windowLength, image.size() - at);
        std::memset(window.get(), 0, static_cast<size_t>(windowLength));
        if (n > 0)
            std::memcpy(window.get(), image.constData() + at, static_cast<size_t>(n));
        carver.carveWindow(&relay, window.get(), windowLength, kBlock);
        at += windowLength;
    }
    if (completePass)
        carver.finishPass(&relay);
    return found;
}

inline const CFileNode* findAt(const QList<CFileNode>& found, quint64 sector)
{
    for (const CFileNode& n : found) {
        if (n.startSector == sector)
            return &n;
    }
    return nullptr;
}

} // namespace fixtures
