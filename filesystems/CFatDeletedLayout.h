#pragma once

#include "filesystems/CFatGeometry.h"
#include "scan/CFileNode.h"

#include <QVector>

#include <atomic>
#include <cstdint>
#include <vector>

class CFatAllocationMap;
class IVolume;

// Where a deleted FAT file's data lies. FAT clears a deleted file's
// chain, so only its first cluster and size are left: the data is taken
// from the first cluster on, through the free clusters, since a file is
// written into the free clusters after its first.
//
// A file written around others skips what they held. When those are live,
// the FAT still marks their clusters in use and the walk skips them. When
// they were deleted afterwards, their clusters are free now, and a walk
// through them takes another file's bytes; but their entries often survive
// and still name their first cluster and size. Each such entry's claim
// (that many clusters from its first) can be walked around too. No walk is
// sure: a claim may be stale (a file deleted before ours was written over
// its clusters), so the caller tries walks around different claims and
// keeps the one whose bytes the document's structure proves.
//
// Every walk is paid for from the scan's budget of clusters looked at, so
// entries that all claim the whole volume cannot make the pass quadratic.
class CFatDeletedLayout
{
public:
    struct Layout
    {
        QVector<CFileNode::Extent> extents;
        int64_t found = 0;       // bytes the extents hold
        bool incomplete = false; // the walk ended before the size was reached
    };

    // `lastCluster`: the highest cluster lying wholly on the volume;
    // `budget`: clusters the walks may still look at, shared with the scan.
    CFatDeletedLayout(const CFatAllocationMap& fat, const CFatGeometry& geometry, uint64_t lastCluster,
                      uint64_t* budget);

    // A deleted file's entry claims `size` bytes from `first` on. Before
    // sealClaims().
    void addClaim(uint32_t first, int64_t size);
    // Sorts the claims for the walks around them.
    void sealClaims();

    // At most this many claims are walked around for one file.
    static constexpr size_t kMaxNearClaims = 64;
    // Every choice of this many nearest claims is tried (16 walks).
    static constexpr size_t kClaimChoices = 4;
    // Bytes of deleted documents read to check their layouts, in one scan.
    static constexpr int64_t kCheckBudget = int64_t(4) << 30;

    // The claims of other deleted entries that begin after `start`, nearest
    // first (indexes for walk()). One that begins at or before `start`
    // overlaps the file's own first cluster: of the two, one is stale, and
    // it is not this file's to say.
    std::vector<size_t> claimsAfter(uint32_t start) const;

    // The file's data from `start` on, skipping clusters in use and those
    // of the claims `around` (from claimsAfter(), in its order).
    Layout walk(uint32_t start, int64_t size, const std::vector<size_t>& around = {}) const;

    // Whether another deleted entry's claim begins inside `layout` (past
    // its first cluster `start`): then the walk through free clusters may
    // have taken that file's bytes.
    bool crossesClaim(uint32_t start, const Layout& layout) const;

    // After sealClaims(): `record` (a deleted document whose data was
    // walked from its free first cluster `start` for `size` bytes, by
    // walk() without claims) is given the layout its bytes prove. A walk
    // that went through another entry's first cluster, or found too few
    // free clusters, may have taken what another file held: walks around
    // the other entries' claims are tried too (each choice of the nearest
    // few, since a claim may be stale, then all of those near), and the
    // first the document's structure proves whole (CAssemblyCheck) is
    // kept. Without proof the record stays as it is. Bounded by the checks'
    // read budget for the scan.
    void settle(IVolume* volume, CFileNode& record, uint32_t start, int64_t size,
                const std::atomic<bool>* running);

private:
    struct Claim
    {
        uint64_t first = 0;
        uint64_t end = 0; // past the last cluster
        bool operator<(const Claim& o) const { return first < o.first || (first == o.first && end < o.end); }
    };
    uint64_t clusterOf(int64_t offset) const;

    const CFatAllocationMap& m_fat;
    CFatGeometry m_geometry;
    uint64_t m_last;
    uint64_t* m_budget;
    std::vector<Claim> m_claims;
    int64_t m_checkBudget = kCheckBudget;
};
