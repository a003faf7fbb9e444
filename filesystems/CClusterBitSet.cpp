#include "filesystems/CClusterBitSet.h"

CClusterBitSet::CClusterBitSet(uint64_t clusters)
{
    reset(clusters);
}

void CClusterBitSet::reset(uint64_t clusters)
{
    m_clusters = clusters;
    m_pages.clear();
    m_pages.resize(static_cast<size_t>((clusters + kBitsPerPage - 1) / kBitsPerPage));
}

bool CClusterBitSet::insert(uint64_t cluster)
{
    if (cluster >= m_clusters)
        return false;
    std::unique_ptr<uint64_t[]>& page = m_pages[static_cast<size_t>(cluster / kBitsPerPage)];
    if (!page)
        page.reset(new uint64_t[kBitsPerPage / 64]());
    const uint64_t bit = cluster % kBitsPerPage;
    uint64_t& word = page[bit / 64];
    const uint64_t mask = uint64_t(1) << (bit % 64);
    if (word & mask)
        return false;
    word |= mask;
    return true;
}

bool CClusterBitSet::contains(uint64_t cluster) const
{
    if (cluster >= m_clusters)
        return false;
    const std::unique_ptr<uint64_t[]>& page = m_pages[static_cast<size_t>(cluster / kBitsPerPage)];
    if (!page)
        return false;
    const uint64_t bit = cluster % kBitsPerPage;
    return (page[bit / 64] >> (bit % 64)) & 1u;
}
