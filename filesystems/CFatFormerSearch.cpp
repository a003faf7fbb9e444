#include "filesystems/CFatFormerSearch.h"

#include "filesystems/CFatDirectoryEntry.h"
#include "filesystems/CFatNameSeam.h"

#include <algorithm>

using Entry = CFatDirectoryEntry;

void CFatFormerSearch::visit(uint32_t cluster, const uint8_t* bytes, size_t length)
{
    if (m_former.size() + m_continued.size() >= kMaxFolders)
        return;
    const size_t own = std::min<size_t>(length, m_geometry.clusterBytes());
    if (Entry::startsDirectory(bytes, length, cluster)) {
        m_former.push_back({cluster, m_geometry.startCluster(bytes + Entry::kSize)});
    } else if (Entry::holdsEntries(bytes, own) && Entry::holdsCheckedLongName(bytes, own)) {
        m_continued.push_back(cluster);
        const CFatNameSeam::Key head = CFatNameSeam::head(bytes, own);
        if (head.valid)
            m_heads[CFatNameSeam::hash(head)].push_back(cluster);
    } else {
        return;
    }
    const CFatNameSeam::Key tail = CFatNameSeam::tail(bytes, own);
    if (tail.valid)
        m_tails[CFatNameSeam::hash(tail)].push_back(cluster);
}

std::vector<CFatDirectoryWalk::Former> CFatFormerSearch::take(std::vector<uint32_t>& continued,
                                                             std::unordered_map<uint32_t, uint32_t>& next)
{
    for (const auto& t : m_tails) {
        const auto h = m_heads.find(t.first);
        if (t.second.size() == 1 && h != m_heads.end() && h->second.size() == 1 && h->second.front() != t.second.front())
            next.emplace(t.second.front(), h->second.front());
    }
    m_tails.clear();
    m_heads.clear();
    continued = std::move(m_continued);
    m_continued.clear();
    std::vector<CFatDirectoryWalk::Former> former = std::move(m_former);
    m_former.clear();
    return former;
}
