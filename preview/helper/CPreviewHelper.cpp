#include "preview/helper/CPreviewHelper.h"

#include "preview/CPackageText.h"
#include "preview/CPreviewText.h"
#include "scan/CDocumentBytes.h"

#include <poppler-qt5.h>

#include <QBuffer>
#include <QImage>

#include <algorithm>
#include <memory>

namespace {

// No page is rendered larger than this many pixels, however large it says
// it is.
constexpr int64_t kMaxPixels = int64_t(CPreviewHelper::kMaxSide) * CPreviewHelper::kMaxSide;
constexpr double kPointsPerInch = 72.0;
constexpr double kMinDpi = 1.0;
constexpr double kMaxDpi = 300.0;

// Poppler reports every fault of a damaged or hostile document; printed, a
// million of them would cost more than the rendering.
void quiet(const QString&, const QVariant&)
{
}

} // namespace

bool CPreviewHelper::imageReply(const QImage& image, CPreviewReply* reply)
{
    if (image.isNull())
        return false;
    QImage shown = image;
    if (shown.width() > kMaxSide || shown.height() > kMaxSide)
        shown = shown.scaled(kMaxSide, kMaxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QBuffer buffer(&reply->png);
    buffer.open(QIODevice::WriteOnly);
    if (!shown.save(&buffer, "PNG"))
        return false;
    reply->kind = CPreviewReply::Kind::Image;
    return true;
}

bool CPreviewHelper::renderPdf(const QByteArray& document, CPreviewReply* reply, QString* why)
{
    Poppler::setDebugErrorFunction(quiet, QVariant());
    std::unique_ptr<Poppler::Document> pdf(Poppler::Document::loadFromData(document));
    if (!pdf) {
        *why = QStringLiteral("the PDF could not be opened");
        return false;
    }
    if (pdf->isLocked()) {
        *why = QStringLiteral("the PDF is encrypted");
        return false;
    }
    reply->pages = pdf->numPages();
    reply->title = pdf->info(QStringLiteral("Title")).trimmed();
    if (pdf->numPages() < 1) {
        *why = QStringLiteral("the PDF has no page that can be read");
        return false;
    }
    pdf->setRenderHint(Poppler::Document::Antialiasing);
    pdf->setRenderHint(Poppler::Document::TextAntialiasing);
    std::unique_ptr<Poppler::Page> page(pdf->page(0));
    if (!page) {
        *why = QStringLiteral("the PDF's first page could not be read");
        return false;
    }
    // A resolution that fits the page in kMaxSide pixels whatever size its
    // box claims.
    const QSizeF points = page->pageSizeF();
    const double longest = std::max(points.width(), points.height());
    if (!(longest > 0)) {
        *why = QStringLiteral("the PDF's first page has no size");
        return false;
    }
    double dpi = std::clamp(kPointsPerInch * kMaxSide / longest, kMinDpi, kMaxDpi);
    const double pixels = (points.width() * dpi / kPointsPerInch) * (points.height() * dpi / kPointsPerInch);
    if (pixels > double(kMaxPixels)) {
        *why = QStringLiteral("the PDF's first page is too large to render");
        return false;
    }
    const QImage image = page->renderToImage(dpi, dpi);
    if (!imageReply(image, reply)) {
        *why = QStringLiteral("the PDF's first page could not be rendered");
        return false;
    }
    return true;
}

bool CPreviewHelper::make(const QString& typeName, const QByteArray& document, CPreviewReply* reply, QString* why)
{
    const QString type = typeName.toUpper();
    if (type == QLatin1String("PDF"))
        return renderPdf(document, reply, why);
    CDocumentBytes bytes(document);
    if (type == QLatin1String("DOCX") || type == QLatin1String("XLSX") || type == QLatin1String("PPTX")) {
        const QByteArray thumbnail = CPackageText::thumbnail(bytes);
        if (!thumbnail.isEmpty() && imageReply(QImage::fromData(thumbnail), reply))
            return true;
    }
    reply->text = CPreviewText::of(type, bytes);
    if (reply->text.trimmed().isEmpty()) {
        *why = QStringLiteral("no text could be read from the document");
        return false;
    }
    reply->kind = CPreviewReply::Kind::Text;
    return true;
}
