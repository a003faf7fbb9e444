#include "details/CDetailsReader.h"

#include "details/COleDetailsReader.h"
#include "details/CPdfDetailsReader.h"
#include "details/CZipDetailsReader.h"
#include "scan/CDocumentBytes.h"

#include <QCoreApplication>

CDocumentDetails CDetailsReader::read(CDocumentBytes& bytes, const QString& typeName, const CDetailsBudget& budget,
                                      bool* needsLargerBudget)
{
    CDocumentDetails d;
    d.examined = true;
    const QString type = typeName.toUpper();
    bool larger = false;
    if (type == QLatin1String("PDF"))
        larger = CPdfDetailsReader::read(bytes, budget, &d);
    else if (type == QLatin1String("DOC") || type == QLatin1String("XLS") || type == QLatin1String("PPT"))
        larger = COleDetailsReader::read(bytes, budget, &d);
    else if (type == QLatin1String("ZIP") || type == QLatin1String("DOCX") || type == QLatin1String("XLSX")
             || type == QLatin1String("PPTX"))
        larger = CZipDetailsReader::read(bytes, budget, &d);
    else
        d.integrityReason = tr("no check for this type");
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
