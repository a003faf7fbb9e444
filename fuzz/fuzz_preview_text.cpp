// The preview's text extractors over arbitrary bytes: the first input byte
// picks the document type (or one stream parser alone), the rest is the
// document. Every extractor must end, within its bounds, on any input.
#include "preview/COfficeText.h"
#include "preview/CPackageText.h"
#include "preview/CPreviewText.h"
#include "scan/CDocumentBytes.h"

#include <QByteArray>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const char* const types[] = {"DOC", "XLS", "PPT", "DOCX", "XLSX", "PPTX", "ZIP"};
    constexpr int kTypes = sizeof(types) / sizeof(types[0]);
    const int mode = data[0] % (kTypes + 4);
    const QByteArray input(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
    QString text;
    if (mode < kTypes) {
        CDocumentBytes bytes(input, 4 << 20);
        text = CPreviewText::of(QString::fromLatin1(types[mode]), bytes);
        if (text.size() > CPreviewText::kMaxChars + 64 * 1024)
            std::abort();
        return 0;
    }
    switch (mode - kTypes) {
    case 0: {
        // Word's streams: the document, then a table stream, split at the
        // input's middle.
        const int half = input.size() / 2;
        text = COfficeText::wordText(input.left(half), input.mid(half), input.mid(half));
        break;
    }
    case 1:
        text = COfficeText::workbookText(input);
        break;
    case 2:
        text = COfficeText::presentationText(input);
        break;
    default:
        text = CPackageText::xmlText(input, 1000);
        if (text.size() > 1000)
            std::abort();
        break;
    }
    CPreviewText::tidy(text);
    return 0;
}
