#pragma once

#include <QByteArray>
#include <QString>

// The eight document types this program looks for: codes, names, the
// extension words that select them in file names, descriptions, and the
// size text shown in the result table.
class CFileTypeCatalogue
{
public:
    enum TypeCode {
        Zip = 1,
        Doc = 2,
        Xls = 3,
        Ppt = 4,
        Pdf = 5,
        Docx = 6,
        Pptx = 7,
        Xlsx = 8,
        NotWanted = 100,
    };

    // Extension of a file name: after the last "." (dotted mode), or the
    // three characters before the last one (fixed-width mode, a FAT short
    // name followed by its attribute byte).
    static bool isWantedExtension(const QByteArray& fileName, bool fixedWidth);
    static int typeCodeByExtension(const QByteArray& fileName, bool fixedWidth);

    // Files of other names whose bytes are a ZIP, an Office Open XML or a
    // compound document (.odt, .epub, .jar, .docm, .dot, .msi, ...): the
    // carving pass finds them as one of our types, so a live one must not
    // be shown as lost.
    static bool isContainerExtension(const QByteArray& fileName, bool fixedWidth);

    // The family a type's bytes belong to: ZIP, DOCX, XLSX and PPTX are all
    // ZIP archives (Zip), DOC, XLS and PPT all compound documents (Doc), a
    // PDF is a PDF (Pdf). 0 for anything else.
    static int family(int typeCode);

    // "PDF", "pdf", "Pdf" -> 5; anything else -> 100.
    static int typeCodeByName(const QString& name);

    // Upper-case name of a code ("PDF"), empty for an unknown code.
    static QString typeName(int typeCode);

    // Long description of an exact upper-case type name; empty otherwise.
    static QString description(const QString& typeName);

    // "4.88 KB", "1.00 MB", "3.00 GB".
    static QString sizeText(qint64 bytes);
};
