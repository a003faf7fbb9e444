#include "filesystems/CAllocationTableCache.h"

#include "disk/IVolume.h"

#include <algorithm>
#include <cstring>
#include <limits>

CAllocationTableCache::CAllocationTableCache(std::shared_ptr<IVolume> volume, std::vector<Run> runs)
    : m_volume(std::move(volume))
    , m_blocks(kBlocks)
{
    // Runs that make no sense end the table there: what follows them would
    // be read at the wrong table offsets.
    for (const Run& run : runs) {
        if (run.volumeOffset < 0 || run.length <= 0 || run.length > std::numeric_limits<int64_t>::max() - m_length)
            break;
        m_runs.push_back(run);
        m_length += run.length;
    }
    for (Block& block : m_blocks)
        block.bytes.assign(static_cast<size_t>(kBlockSize), 0);
}

CAllocationTableCache::~CAllocationTableCache() = default;

const CAllocationTableCache::Block& CAllocationTableCache::blockFor(int64_t index) const
{
    ++m_clock;
    Block* victim = &m_blocks.front();
    for (Block& block : m_blocks) {
        if (block.index == index) {
            block.lastUse = m_clock;
            return block;
        }
        if (block.lastUse < victim->lastUse)
            victim = &block;
    }
    victim->index = index;
    victim->lastUse = m_clock;
    readBlock(*victim);
    return *victim;
}

void CAllocationTableCache::readBlock(Block& block) const
{
    const int64_t start = block.index * kBlockSize;
    block.valid = std::min(kBlockSize, m_length - start);
    std::fill(block.bytes.begin(), block.bytes.end(), 0);
    if (!m_volume)
        return;

    // The block's bytes, run by run.
    int64_t runStart = 0; // table offset of the current run
    int64_t filled = 0;
    for (const Run& run : m_runs) {
        if (filled >= block.valid)
            break;
        const int64_t want = start + filled;
        const int64_t runEnd = runStart + run.length;
        if (want < runEnd) {
            const int64_t inRun = want - runStart;
            const int64_t n = std::min(block.valid - filled, runEnd - want);
            if (run.volumeOffset <= std::numeric_limits<int64_t>::max() - inRun) {
                // What a short read did not deliver stays zero: unknown
                // entries read as free.
                const IVolume::ReadResult r =
                    m_volume->read(run.volumeOffset + inRun, block.bytes.data() + filled, static_cast<size_t>(n));
                const int64_t got = std::max<int64_t>(0, std::min(r.bytes, n));
                std::memset(block.bytes.data() + filled + got, 0, static_cast<size_t>(n - got));
            }
            filled += n;
        }
        runStart = runEnd;
    }
}
