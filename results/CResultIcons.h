#pragma once

#include <QIcon>
#include <QString>

// The icons of the result views, read from the "Resources" folder beside the
// program. A missing file gives an empty icon. Each call reads the file, so
// the models load their icons once, when they are built.
class CResultIcons
{
public:
    // The icon of every tree row.
    static QIcon folder();
    // The icon of a file of the type in the table; empty for codes outside
    // 1 to 8. The legacy and Open XML variants of a type share one icon.
    static QIcon forType(int typeCode);
    // The file name under Resources/ for a type code, or "" for none.
    static QString fileNameForType(int typeCode);

private:
    static QIcon load(const QString& fileName);
};
