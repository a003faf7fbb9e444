#include "recovery/CRecoveryFolderPath.h"

#include "recovery/CRecoveryFileName.h"
#include "scan/CFileNode.h"

#include <QFile>

QStringList CRecoveryFolderPath::components(const CFileNode& node, int byteLimit)
{
    QStringList out;
    if (node.origin == CFileNode::OriginCarved) {
        out << QLatin1String(kLostFolder);
        return out;
    }
    QStringList names = node.folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    // "?" is where the entry's chain of parents broke: the rest hangs under
    // "lost", as does an entry that named no folder at all.
    if (node.folder.isEmpty() || node.folder.startsWith(QLatin1Char('?'))) {
        if (!names.isEmpty() && names.first() == QLatin1String("?"))
            names.removeFirst();
        names.prepend(QLatin1String(kLostFolder));
    }
    int bytes = 0;
    for (const QString& name : names) {
        if (name == QLatin1String("."))
            continue; // names this very folder
        if (out.size() >= kMaxDepth)
            break;
        const QString safe = CRecoveryFileName::folderName(name, byteLimit);
        const int length = QFile::encodeName(safe).size() + 1;
        if (bytes + length > kMaxBytes)
            break;
        bytes += length;
        out << safe;
    }
    return out;
}

QString CRecoveryFolderPath::originalPath(const CFileNode& node)
{
    if (node.origin == CFileNode::OriginCarved || node.originalName.isEmpty())
        return QString();
    QString folder = node.folder.isEmpty() ? QStringLiteral("?") : node.folder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + node.originalName;
}
