#include "details/CDetailsReader.h"

#include "details/COleDetailsReader.h"
#include "details/CPdfDetailsReader.h"
#include "details/CZipDetailsReader.h"
#include "scan/CDocumentBytes.h"

#include <algorithm>

namespace {

constexpr int64_t kCompoundPreloadLimit = 128 * 1024;

} // namespace

CDocumentDetails CDetailsReader::read(CDocumentBytes& bytes, const QString& typeName, const CDetailsBudget& budget,
                                      bool* needsLargerBudget)
{
    CDocumentDetails d;
    d.examined = true;
    const QString type = typeName.toUpper();
    bool larger = false;
    // A small document is read whole in one go: a ZIP's check reads every
    // byte and a PDF's a little at every object, so dozens of small reads
    // cost more than one of the whole. A compound document's check reads
    // only its tables, spread over it: whole only when it is small.
    const int64_t preloadLimit = std::min(budget.readBytes, budget.preloadBytes);
    if (type == QLatin1String("PDF")) {
        bytes.preload(preloadLimit);
        larger = CPdfDetailsReader::read(bytes, budget, &d);
    } else if (type == QLatin1String("DOC") || type == QLatin1String("XLS") || type == QLatin1String("PPT")) {
        bytes.preload(std::min(preloadLimit, kCompoundPreloadLimit));
        larger = COleDetailsReader::read(bytes, budget, &d);
    } else if (type == QLatin1String("ZIP") || type == QLatin1String("DOCX") || type == QLatin1String("XLSX")
               || type == QLatin1String("PPTX")) {
        bytes.preload(preloadLimit);
        larger = CZipDetailsReader::read(bytes, budget, &d);
    } else {
        d.integrityReason = tr("no check for this type");
    }
    if (needsLargerBudget)
        *needsLargerBudget = larger;
    return d;
}

QString CDetailsReader::integrityKey(int integrity)
{
    switch (integrity) {
    case CDocumentDetails::IntegrityWhole:
        return QStringLiteral("whole");
    case CDocumentDetails::IntegrityDamaged:
        return QStringLiteral("damaged");
    default:
        return QStringLiteral("unchecked");
    }
}
