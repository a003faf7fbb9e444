#include "filesystems/CFatDeletedLayout.h"

#include "details/CAssemblyCheck.h"
#include "filesystems/CFatAllocationMap.h"
#include "scan/CFileTypeCatalogue.h"

#include <algorithm>

namespace {

constexpr uint64_t kFirstDataCluster = 2;

} // namespace

CFatDeletedLayout::CFatDeletedLayout(const CFatAllocationMap& fat, const CFatGeometry& geometry,
                                     uint64_t lastCluster, uint64_t* budget)
    : m_fat(fat)
    , m_geometry(geometry)
    , m_last(lastCluster)
    , m_budget(budget)
{
}

void CFatDeletedLayout::addClaim(uint32_t first, int64_t size)
{
    const int64_t clusterBytes = m_geometry.clusterBytes();
    if (size <= 0 || clusterBytes <= 0 || first < kFirstDataCluster || first > m_last)
        return;
    const uint64_t clusters = static_cast<uint64_t>((size + clusterBytes - 1) / clusterBytes);
    m_claims.push_back({first, std::min<uint64_t>(first + clusters, m_last + 1)});
}

void CFatDeletedLayout::sealClaims()
{
    std::sort(m_claims.begin(), m_claims.end());
}

uint64_t CFatDeletedLayout::clusterOf(int64_t offset) const
{
    const int64_t dataStart = m_geometry.clusterOffset(kFirstDataCluster);
    return kFirstDataCluster + static_cast<uint64_t>((offset - dataStart) / m_geometry.clusterBytes());
}

std::vector<size_t> CFatDeletedLayout::claimsAfter(uint32_t start) const
{
    std::vector<size_t> out;
    auto it = std::upper_bound(m_claims.begin(), m_claims.end(), Claim{start, UINT64_MAX});
    for (; it != m_claims.end() && out.size() < kMaxNearClaims; ++it)
        out.push_back(static_cast<size_t>(it - m_claims.begin()));
    return out;
}

CFatDeletedLayout::Layout CFatDeletedLayout::walk(uint32_t start, int64_t size, const std::vector<size_t>& around) const
{
    Layout out;
    const int64_t clusterBytes = m_geometry.clusterBytes();
    uint64_t& budget = *m_budget;
    int64_t remaining = size;
    uint64_t cluster = start;
    // The claims are met in order of their first cluster as the walk moves
    // on; `reach` is the furthest end of those met so far.
    size_t next = 0;
    uint64_t reach = 0;
    // Every turn moves on or pays from the budget: bounded by both.
    while (remaining > 0 && cluster <= m_last && budget > 0) {
        const uint64_t skipped = m_fat.runLength(cluster, std::min(m_last - cluster + 1, budget), true);
        cluster += skipped;
        budget -= skipped;
        if (cluster > m_last || budget == 0)
            break;
        uint64_t limit = std::min(m_last - cluster + 1, budget);
        while (next < around.size() && m_claims[around[next]].first <= cluster) {
            reach = std::max(reach, m_claims[around[next]].end);
            ++next;
        }
        if (reach > cluster) {
            cluster = reach;
            --budget;
            continue;
        }
        if (next < around.size())
            limit = std::min(limit, m_claims[around[next]].first - cluster);
        const uint64_t wanted = static_cast<uint64_t>((remaining + clusterBytes - 1) / clusterBytes);
        const uint64_t free = m_fat.runLength(cluster, std::min(wanted, limit), false);
        if (free == 0)
            break; // unreadable or out of budget
        budget -= std::min(budget, free);
        const int64_t take = std::min(remaining, static_cast<int64_t>(free) * clusterBytes);
        const int64_t offset = m_geometry.clusterOffset(static_cast<uint32_t>(cluster));
        if (!out.extents.isEmpty() && out.extents.back().offset + out.extents.back().length == offset)
            out.extents.back().length += take; // cut only at a claim's start
        else
            out.extents.append({offset, take});
        remaining -= take;
        out.found += take;
        cluster += free;
    }
    out.incomplete = remaining > 0;
    return out;
}

bool CFatDeletedLayout::crossesClaim(uint32_t start, const Layout& layout) const
{
    const int64_t clusterBytes = m_geometry.clusterBytes();
    for (const CFileNode::Extent& e : layout.extents) {
        const uint64_t first = clusterOf(e.offset);
        const uint64_t end = first + static_cast<uint64_t>((e.length + clusterBytes - 1) / clusterBytes);
        // Claims that begin at the file's own first cluster are its own
        // entry's, or stale ones.
        auto it = std::lower_bound(m_claims.begin(), m_claims.end(), Claim{std::max<uint64_t>(first, uint64_t(start) + 1), 0});
        if (it != m_claims.end() && it->first < end)
            return true;
    }
    return false;
}

void CFatDeletedLayout::settle(IVolume* volume, CFileNode& record, uint32_t start, int64_t size,
                               const std::atomic<bool>* running)
{
    auto stopped = [running]() { return running && !running->load(); };
    Layout first;
    first.extents = record.extents;
    first.found = record.size;
    first.incomplete = record.incomplete;
    if (m_checkBudget <= 0 || (!first.incomplete && !crossesClaim(start, first)))
        return;
    const std::vector<size_t> near = claimsAfter(start);
    const size_t choices = std::min(near.size(), kClaimChoices);
    std::vector<QVector<CFileNode::Extent>> tried;
    // Mask 0 is the first walk; the one past the choices, every claim near.
    const uint32_t masks = (uint32_t(1) << choices) + 1;
    for (uint32_t mask = 0; mask < masks && m_checkBudget > 0 && !stopped(); ++mask) {
        std::vector<size_t> around;
        if (mask + 1 == masks) {
            around = near;
        } else {
            for (size_t k = 0; k < choices; ++k) {
                if (mask & (uint32_t(1) << k))
                    around.push_back(near[k]);
            }
        }
        const Layout candidate = mask == 0 ? first : walk(start, size, around);
        if (candidate.incomplete || candidate.extents.isEmpty()
            || std::find(tried.begin(), tried.end(), candidate.extents) != tried.end())
            continue;
        tried.push_back(candidate.extents);
        CFileNode assembled = record;
        assembled.extents = candidate.extents;
        assembled.size = candidate.found;
        assembled.sizeText = CFileTypeCatalogue::sizeText(candidate.found);
        assembled.incomplete = false;
        m_checkBudget -= candidate.found;
        if (CAssemblyCheck::isWhole(volume, assembled.typeName, assembled.extents) && !stopped()) {
            record = assembled;
            return;
        }
    }
}
