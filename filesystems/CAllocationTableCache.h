#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class IVolume;

// Reads an allocation table (a FAT, an NTFS $Bitmap) that lies on a volume
// in one or more runs, through a small cache of fixed-size blocks of the
// table. The table is addressed by its own byte offsets, 0 at its start;
// the runs say where those bytes lie on the volume, in table order.
//
// Safe to use from several threads: every look-up holds the cache's lock
// while it reads. Blocks that cannot be read (an I/O error, past the volume)
// read as zeros, which both tables take to mean "free".
class CAllocationTableCache
{
public:
    struct Run
    {
        int64_t volumeOffset = 0;
        int64_t length = 0;
    };

    static constexpr int64_t kBlockSize = 64 * 1024;
    static constexpr int kBlocks = 8;

    CAllocationTableCache(std::shared_ptr<IVolume> volume, std::vector<Run> runs);
    ~CAllocationTableCache();

    CAllocationTableCache(const CAllocationTableCache&) = delete;
    CAllocationTableCache& operator=(const CAllocationTableCache&) = delete;

    // Bytes of the table that its runs describe.
    int64_t length() const { return m_length; }

    // Calls `visit(bytes, count)` with the cached bytes of the table from
    // `offset` on, to the end of their block (or of the table), under the
    // cache's lock. Returns false (and calls nothing) for an offset outside
    // the table. The bytes are valid only inside the call.
    template <typename Visit>
    bool withBytes(int64_t offset, Visit&& visit) const
    {
        if (offset < 0 || offset >= m_length)
            return false;
        std::lock_guard<std::mutex> lock(m_mutex);
        const Block& block = blockFor(offset / kBlockSize);
        const int64_t inBlock = offset % kBlockSize;
        visit(block.bytes.data() + inBlock, block.valid - inBlock);
        return true;
    }

private:
    struct Block
    {
        int64_t index = -1;
        uint64_t lastUse = 0;
        int64_t valid = 0;
        std::vector<uint8_t> bytes;
    };

    // The block of the table with that index, read if not cached. Called
    // under the lock.
    const Block& blockFor(int64_t index) const;
    void readBlock(Block& block) const;

    std::shared_ptr<IVolume> m_volume;
    std::vector<Run> m_runs;
    int64_t m_length = 0;
    mutable std::mutex m_mutex;
    mutable std::vector<Block> m_blocks;
    mutable uint64_t m_clock = 0;
};
