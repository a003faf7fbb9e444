#include "results/CResultIcons.h"

#include "app/CAppResources.h"
#include "scan/CFileTypeCatalogue.h"

#include <QCoreApplication>
#include <QFile>

QIcon CResultIcons::load(const QString& fileName)
{
    if (fileName.isEmpty())
        return QIcon();
    const QString path = CAppResources::path(fileName);
    if (!QFile::exists(path))
        return QIcon();
    return QIcon(path);
}

QIcon CResultIcons::folder()
{
    return load(QStringLiteral("folder.png"));
}

QString CResultIcons::fileNameForType(int typeCode)
{
    switch (typeCode) {
    case CFileTypeCatalogue::Zip:
        return QStringLiteral("zip.png");
    case CFileTypeCatalogue::Doc:
    case CFileTypeCatalogue::Docx:
        return QStringLiteral("docx.ico");
    case CFileTypeCatalogue::Xls:
    case CFileTypeCatalogue::Xlsx:
        return QStringLiteral("xlsx.png");
    case CFileTypeCatalogue::Ppt:
    case CFileTypeCatalogue::Pptx:
        return QStringLiteral("pptx.ico");
    case CFileTypeCatalogue::Pdf:
        return QStringLiteral("pdf.png");
    default:
        return QString();
    }
}

QIcon CResultIcons::forType(int typeCode)
{
    return load(fileNameForType(typeCode));
}
