#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <cstddef>
#include <cstdint>
#include <vector>

class CNotifyFileNode;
class IAllocationMap;
class IVolume;

// The file-system pass of an ext2/3/4 volume, read through libext2fs (the
// file system's own library, which knows every layout: flex_bg, 64-bit
// descriptors, extent trees of any depth, inline data) over the read-only
// volume (CExt2fsVolumeIo).
//
// It walks the directory tree from the root, breadth first, and posts
// (start sector, type code) for every live regular file whose name makes it
// one of our documents, or a container of one (code 100): the sector of the
// file's first data block, in 512-byte units from the start of the volume.
// Deleted files are not reported: ext4 clears a deleted file's extents, so
// only carving finds its bytes.
//
// The superblock is checked for sound counts before the library sees it (a
// superblock that claims absurd counts would have it allocate or read far
// past the volume); a volume it cannot open ends the pass with failure().
// Damage met on the walk (a directory that cannot be read, an extent tree
// that is broken, loops or points outside the volume) skips what is
// damaged and is told in problems().
//
// After scan(), layout() says where the block bitmaps are, for the
// allocation look-up.
class CExt4Scanner
{
public:
    static constexpr int64_t kSuperblockOffset = 1024;
    static constexpr size_t kSuperblockSize = 1024;
    static constexpr size_t kMagicField = 56;
    static constexpr uint16_t kMagic = 0xEF53;

    // Where the block allocation lies, for CExt4AllocationMap.
    struct Layout
    {
        uint32_t blockSize = 0;
        uint64_t firstDataBlock = 0;
        uint32_t blocksPerGroup = 0;
        uint64_t blocksCount = 0;
        // A bit of a block bitmap stands for a cluster of this many blocks
        // (more than one with bigalloc); a group has this many clusters.
        uint32_t blocksPerCluster = 1;
        uint32_t clustersPerGroup = 0;
        // The block holding each group's block bitmap; 0 for a group
        // whose bitmap was never written (BLOCK_UNINIT: nothing in use but
        // its own metadata).
        std::vector<uint64_t> bitmapBlocks;
    };

    CExt4Scanner(IVolume* volume, CNotifyFileNode* notifier, const std::atomic<bool>* running = nullptr);
    ~CExt4Scanner();

    CExt4Scanner(const CExt4Scanner&) = delete;
    CExt4Scanner& operator=(const CExt4Scanner&) = delete;

    void scan();
    void stop() { m_stop = true; }

    // Whether the superblock at its place in `sb` (kSuperblockSize bytes)
    // has sound counts for a volume of `volumeLength` bytes; `why` says
    // what is wrong when not.
    static bool checkSuperblock(const uint8_t* sb, size_t length, int64_t volumeLength, QString* why);

    int findings() const { return m_findings; }
    QString failure() const { return m_failure; }
    QStringList problems() const;
    const Layout& layout() const { return m_layout; }
    // After scan(): the block bitmaps as an allocation map read from
    // `volume` (this scanner's volume, shared); null when the volume could
    // not be opened.
    std::unique_ptr<IAllocationMap> allocationMap(std::shared_ptr<IVolume> volume) const;

    // Used by the directory walk's callback.
    struct WalkState;

private:
    bool stopRequested() const;

    IVolume* m_volume;
    CNotifyFileNode* m_notifier;
    const std::atomic<bool>* m_running;
    std::atomic<bool> m_stop{false};
    int m_findings = 0;
    QString m_failure;
    int m_badDirectories = 0;
    int m_badExtents = 0;
    int m_outside = 0;
    Layout m_layout;
};
