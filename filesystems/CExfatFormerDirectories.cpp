#include "filesystems/CExfatFormerDirectories.h"

#include <QSet>
#include <QStringList>

#include <algorithm>

void CExfatFormerDirectories::addFolder(uint32_t in, const QString& name, uint32_t first, uint64_t clusters)
{
    clusters = std::min<uint64_t>(std::max<uint64_t>(clusters, 1), uint64_t(UINT32_MAX) - first);
    for (uint64_t k = 0; k < clusters && m_folders.size() < kMaxFolders; ++k) {
        const uint32_t cluster = static_cast<uint32_t>(first + k);
        // A folder's own cluster is no folder of its own entry's.
        if (cluster == in || m_folders.contains(cluster))
            continue;
        m_folders.insert(cluster, Folder{in, name});
    }
}

QString CExfatFormerDirectories::folderOf(uint32_t cluster) const
{
    QStringList names;
    QSet<uint32_t> seen;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        const auto it = m_folders.constFind(cluster);
        if (it == m_folders.constEnd() || seen.contains(cluster))
            break;
        seen.insert(cluster);
        names.prepend(it->name);
        cluster = it->parentCluster;
    }
    if (names.isEmpty())
        return QStringLiteral("?");
    return QStringLiteral("?/") + names.join(QLatin1Char('/'));
}
