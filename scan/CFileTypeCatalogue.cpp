#include "scan/CFileTypeCatalogue.h"

namespace {

struct TypeRow
{
    int code;
    const char* name;
    const char* extension;
    const char* description;
};

// Extension matching walks this order; the first equal word decides.
const TypeRow kRows[] = {
    {CFileTypeCatalogue::Pdf, "PDF", "pdf", "Portable Document Format"},
    {CFileTypeCatalogue::Zip, "ZIP", "zip", "Deflate"},
    {CFileTypeCatalogue::Doc, "DOC", "doc", "DOCument"},
    {CFileTypeCatalogue::Docx, "DOCX", "docx", "DOCument"},
    {CFileTypeCatalogue::Xls, "XLS", "xls", "Microsoft Excel"},
    {CFileTypeCatalogue::Xlsx, "XLSX", "xlsx", "Microsoft Excel"},
    {CFileTypeCatalogue::Ppt, "PPT", "ppt", "Microsoft Office PowerPoint"},
    {CFileTypeCatalogue::Pptx, "PPTX", "pptx", "Microsoft Office PowerPoint"},
};

QByteArray extensionOf(const QByteArray& fileName, bool fixedWidth)
{
    if (fixedWidth) {
        const int n = fileName.size();
        if (n < 4)
            return QByteArray();
        return fileName.mid(n - 4, 3);
    }
    const int dot = fileName.lastIndexOf('.');
    if (dot < 0)
        return QByteArray();
    return fileName.mid(dot + 1);
}

int codeOfExtension(const QByteArray& extension)
{
    if (extension.isEmpty())
        return CFileTypeCatalogue::NotWanted;
    const QByteArray lower = extension.toLower();
    for (const TypeRow& row : kRows) {
        if (lower == row.extension)
            return row.code;
    }
    return CFileTypeCatalogue::NotWanted;
}

// Extensions whose files are ZIP archives or compound documents under
// another name.
const char* const kContainerExtensions[] = {
    // OpenDocument and other ZIP-based formats
    "odt", "ods", "odp", "odg", "ott", "ots", "otp", "epub", "jar", "war", "ear", "apk", "xps", "oxps", "vsdx",
    // Office Open XML variants (macros, templates, shows)
    "docm", "dotx", "dotm", "xlsm", "xltx", "xltm", "xlsb", "pptm", "potx", "potm", "ppsx", "ppsm",
    // compound documents
    "dot", "xlt", "pot", "pps", "msi", "msg",
};

} // namespace

bool CFileTypeCatalogue::isContainerExtension(const QByteArray& fileName, bool fixedWidth)
{
    const QByteArray extension = extensionOf(fileName, fixedWidth).toLower();
    if (extension.isEmpty())
        return false;
    for (const char* word : kContainerExtensions) {
        if (extension == word)
            return true;
    }
    return false;
}

int CFileTypeCatalogue::family(int typeCode)
{
    switch (typeCode) {
    case Zip:
    case Docx:
    case Xlsx:
    case Pptx:
        return Zip;
    case Doc:
    case Xls:
    case Ppt:
        return Doc;
    case Pdf:
        return Pdf;
    default:
        return 0;
    }
}

bool CFileTypeCatalogue::isWantedExtension(const QByteArray& fileName, bool fixedWidth)
{
    return typeCodeByExtension(fileName, fixedWidth) != NotWanted;
}

int CFileTypeCatalogue::typeCodeByExtension(const QByteArray& fileName, bool fixedWidth)
{
    return codeOfExtension(extensionOf(fileName, fixedWidth));
}

int CFileTypeCatalogue::typeCodeByName(const QString& name)
{
    return codeOfExtension(name.toUtf8());
}

QString CFileTypeCatalogue::typeName(int typeCode)
{
    for (const TypeRow& row : kRows) {
        if (row.code == typeCode)
            return QString::fromLatin1(row.name);
    }
    return QString();
}

QString CFileTypeCatalogue::description(const QString& typeName)
{
    for (const TypeRow& row : kRows) {
        if (typeName == QLatin1String(row.name))
            return QString::fromLatin1(row.description);
    }
    return QString();
}

QString CFileTypeCatalogue::sizeText(qint64 bytes)
{
    constexpr qint64 kMiB = 1048576;
    constexpr qint64 kGiB = 1073741824;
    const double s = static_cast<double>(bytes);
    if (bytes > kMiB && bytes <= kGiB)
        return QString::number(s / 1024.0 / 1024.0, 'f', 2) + QStringLiteral(" MB");
    if (bytes <= kGiB)
        return QString::number(s / 1024.0, 'f', 2) + QStringLiteral(" KB");
    return QString::number(s / 1024.0 / 1024.0 / 1024.0, 'f', 2) + QStringLiteral(" GB");
}
