#include "results/CFileClassfy.h"

CFileClassfy::CFileClassfy(const QString& label, int typeCode, int fileCount, CFileClassfy* parentNode)
    : label(label)
    , parentNode(parentNode)
    , typeCode(typeCode)
    , fileCount(fileCount)
{
}
