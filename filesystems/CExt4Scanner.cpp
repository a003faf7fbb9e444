#include "filesystems/CExt4Scanner.h"

#include "disk/IVolume.h"
#include "disk/LittleEndian.h"
#include "filesystems/CBitmapAllocationMap.h"
#include "filesystems/CExt2fsVolumeIo.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <ext2fs/ext2fs.h>

#include <QByteArray>

#include <deque>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>

namespace {

// Superblock fields, from its own start.
constexpr size_t kInodesCountField = 0;
constexpr size_t kBlocksCountLoField = 4;
constexpr size_t kFirstDataBlockField = 20;
constexpr size_t kLogBlockSizeField = 24;
constexpr size_t kLogClusterSizeField = 28;
constexpr size_t kBlocksPerGroupField = 32;
constexpr size_t kClustersPerGroupField = 36;
constexpr size_t kInodesPerGroupField = 40;
constexpr size_t kIncompatField = 96;
constexpr size_t kRoCompatField = 100;
constexpr size_t kBlocksCountHiField = 0x150;
constexpr uint32_t kIncompat64Bit = 0x80;
constexpr uint32_t kRoCompatBigalloc = 0x200;
constexpr uint32_t kMaxLogBlockSize = 6; // 64 KiB blocks
constexpr uint32_t kMaxLogClusterSize = 20; // 1 GiB clusters, the format's limit
constexpr uint64_t kMaxGroups = uint64_t(1) << 24;

constexpr int64_t kReportSectorSize = 512;

std::once_flag g_errorTable;

QString errorText(errcode_t code)
{
    std::call_once(g_errorTable, []() { initialize_ext2_error_table(); });
    return QString::fromLocal8Bit(error_message(code));
}

struct Entry
{
    ext2_ino_t inode = 0;
    int fileType = 0;
    QByteArray name;
};

// Closes the library's handle on every path out.
struct FsCloser
{
    void operator()(struct_ext2_filsys* fs) const
    {
        if (fs) {
            ext2_filsys handle = fs;
            ext2fs_close_free(&handle);
        }
    }
};

} // namespace

struct CExt4Scanner::WalkState
{
    CExt4Scanner* scanner = nullptr;
    std::vector<Entry> entries;
    size_t budget = 0; // entries the whole walk may still gather
};

namespace {

int gatherEntry(ext2_ino_t, int, struct ext2_dir_entry* dirent, int, int, char*, void* priv)
{
    auto* state = static_cast<CExt4Scanner::WalkState*>(priv);
    if (state->budget == 0)
        return DIRENT_ABORT;
    --state->budget;
    const int length = ext2fs_dirent_name_len(dirent);
    if (dirent->inode == 0 || length <= 0)
        return 0;
    if ((length == 1 && dirent->name[0] == '.') || (length == 2 && dirent->name[0] == '.' && dirent->name[1] == '.'))
        return 0;
    Entry e;
    e.inode = dirent->inode;
    e.fileType = ext2fs_dirent_file_type(dirent);
    e.name = QByteArray(dirent->name, length);
    state->entries.push_back(std::move(e));
    return 0;
}

} // namespace

CExt4Scanner::CExt4Scanner(IVolume* volume, CNotifyFileNode* notifier, const std::atomic<bool>* running)
    : m_volume(volume)
    , m_notifier(notifier)
    , m_running(running)
{
}

CExt4Scanner::~CExt4Scanner() = default;

bool CExt4Scanner::stopRequested() const
{
    return m_stop.load() || (m_running && !m_running->load());
}

QStringList CExt4Scanner::problems() const
{
    QStringList out;
    if (m_badDirectories > 0)
        out << QStringLiteral("%1 directory(ies) could not be read whole.").arg(m_badDirectories);
    if (m_badExtents > 0)
        out << QStringLiteral("%1 file(s) have a damaged extent tree (or start with a hole) and were skipped.").arg(m_badExtents);
    if (m_outside > 0)
        out << QStringLiteral("%1 file(s) point outside the volume and were skipped.").arg(m_outside);
    return out;
}

bool CExt4Scanner::checkSuperblock(const uint8_t* sb, size_t length, int64_t volumeLength, QString* why)
{
    auto fail = [why](const char* text) {
        if (why)
            *why = QString::fromLatin1(text);
        return false;
    };
    if (!sb || length < kSuperblockSize || le::u16(sb + kMagicField) != kMagic)
        return fail("no ext2/3/4 superblock.");
    const uint32_t logBlockSize = le::u32(sb + kLogBlockSizeField);
    if (logBlockSize > kMaxLogBlockSize)
        return fail("the superblock's block size is absurd.");
    const uint64_t blockSize = uint64_t(1024) << logBlockSize;
    uint64_t blocks = le::u32(sb + kBlocksCountLoField);
    if (le::u32(sb + kIncompatField) & kIncompat64Bit)
        blocks |= uint64_t(le::u32(sb + kBlocksCountHiField)) << 32;
    const uint64_t firstData = le::u32(sb + kFirstDataBlockField);
    const uint64_t perGroup = le::u32(sb + kBlocksPerGroupField);
    const uint64_t inodesPerGroup = le::u32(sb + kInodesPerGroupField);
    // With bigalloc the block bitmap has a bit per cluster of 2^n blocks:
    // it is the clusters of a group that one bitmap block bounds.
    uint64_t clustersPerGroup = perGroup;
    if (le::u32(sb + kRoCompatField) & kRoCompatBigalloc) {
        const uint32_t logClusterSize = le::u32(sb + kLogClusterSizeField);
        if (logClusterSize < logBlockSize || logClusterSize > kMaxLogClusterSize)
            return fail("the superblock's cluster size is absurd.");
        clustersPerGroup = le::u32(sb + kClustersPerGroupField);
        if (clustersPerGroup << (logClusterSize - logBlockSize) != perGroup)
            return fail("the superblock's counts per group are absurd.");
    }
    if (clustersPerGroup < 8 || clustersPerGroup > blockSize * 8 || inodesPerGroup == 0 || inodesPerGroup > blockSize * 8)
        return fail("the superblock's counts per group are absurd.");
    if (blocks <= firstData || firstData > 1)
        return fail("the superblock's block count is absurd.");
    const uint64_t groups = (blocks - firstData + perGroup - 1) / perGroup;
    if (groups > kMaxGroups || groups * inodesPerGroup != le::u32(sb + kInodesCountField))
        return fail("the superblock's group or inode count is absurd.");
    // A volume may have been cut short (an image of a failing disk), but
    // not to a fraction of what its superblock claims.
    if (blocks > (uint64_t(1) << 48) || (volumeLength > 0 && blocks * blockSize / 2 > uint64_t(volumeLength)))
        return fail("the superblock claims far more blocks than the volume holds.");
    return true;
}

void CExt4Scanner::scan()
{
    m_findings = 0;
    m_failure.clear();
    m_badDirectories = m_badExtents = m_outside = 0;
    m_layout = Layout();
    if (!m_volume || stopRequested())
        return;

    uint8_t sb[kSuperblockSize];
    const IVolume::ReadResult r = m_volume->read(kSuperblockOffset, sb, sizeof sb);
    QString why;
    if (r.bytes < static_cast<int64_t>(sizeof sb) || !checkSuperblock(sb, sizeof sb, m_volume->length(), &why)) {
        m_failure = why.isEmpty() ? QStringLiteral("the superblock cannot be read.") : why;
        return;
    }

    CExt2fsVolumeIo io(m_volume);
    ext2_filsys raw = nullptr;
    // Read-only; checksums are not a reason to stop reading a damaged
    // volume: the walk skips what it cannot follow.
    const errcode_t opened = ext2fs_open2(io.name(), nullptr, EXT2_FLAG_64BITS | EXT2_FLAG_IGNORE_CSUM_ERRORS, 0, 0,
                                          CExt2fsVolumeIo::manager(), &raw);
    if (opened) {
        if (raw) {
            ext2fs_free(raw);
        }
        m_failure = QStringLiteral("libext2fs cannot open it: %1.").arg(errorText(opened));
        return;
    }
    std::unique_ptr<struct_ext2_filsys, FsCloser> fs(raw);

    m_layout.blockSize = fs->blocksize;
    m_layout.firstDataBlock = fs->super->s_first_data_block;
    m_layout.blocksPerGroup = fs->super->s_blocks_per_group;
    m_layout.blocksCount = ext2fs_blocks_count(fs->super);
    const bool bigalloc = ext2fs_has_feature_bigalloc(fs->super);
    m_layout.blocksPerCluster = bigalloc ? EXT2FS_CLUSTER_RATIO(fs.get()) : 1;
    m_layout.clustersPerGroup = bigalloc ? fs->super->s_clusters_per_group : fs->super->s_blocks_per_group;
    m_layout.bitmapBlocks.reserve(fs->group_desc_count);
    for (dgrp_t g = 0; g < fs->group_desc_count; ++g) {
        const bool uninit = ext2fs_has_group_desc_csum(fs.get()) && ext2fs_bg_flags_test(fs.get(), g, EXT2_BG_BLOCK_UNINIT);
        const blk64_t at = ext2fs_block_bitmap_loc(fs.get(), g);
        m_layout.bitmapBlocks.push_back(uninit || at >= m_layout.blocksCount ? 0 : at);
    }

    WalkState state;
    state.scanner = this;
    // Every entry of every directory is gathered once; a directory's blocks
    // can hold at most blocksize / 8 entries each, so this bounds the walk
    // by the volume whatever its directories claim.
    state.budget = static_cast<size_t>(std::min<uint64_t>(m_layout.blocksCount * (fs->blocksize / 8), uint64_t(1) << 32));
    std::deque<std::pair<ext2_ino_t, int>> queue{{EXT2_ROOT_INO, 0}};
    std::unordered_set<ext2_ino_t> directories{EXT2_ROOT_INO};
    const uint32_t inodes = fs->super->s_inodes_count;
    while (!queue.empty()) {
        if (stopRequested())
            return;
        const ext2_ino_t dir = queue.front().first;
        queue.pop_front();
        state.entries.clear();
        const errcode_t walked = ext2fs_dir_iterate2(fs.get(), dir, 0, nullptr, gatherEntry, &state);
        if (walked && walked != EXT2_ET_DIR_NO_SPACE_FOR_CSUM)
            ++m_badDirectories;
        for (const Entry& e : state.entries) {
            if (stopRequested())
                return;
            if (e.inode > inodes)
                continue;
            int type = e.fileType;
            if (type == EXT2_FT_UNKNOWN) {
                // Volumes without the file-type feature: the inode says.
                struct ext2_inode inode;
                if (ext2fs_read_inode(fs.get(), e.inode, &inode) != 0)
                    continue;
                type = LINUX_S_ISDIR(inode.i_mode) ? EXT2_FT_DIR : LINUX_S_ISREG(inode.i_mode) ? EXT2_FT_REG_FILE : 0;
            }
            if (type == EXT2_FT_DIR) {
                if (directories.insert(e.inode).second)
                    queue.push_back({e.inode, 0});
                continue;
            }
            if (type != EXT2_FT_REG_FILE)
                continue;
            const int typeCode = CFileTypeCatalogue::typeCodeByExtension(e.name, false);
            if (typeCode == CFileTypeCatalogue::NotWanted && !CFileTypeCatalogue::isContainerExtension(e.name, false))
                continue;
            blk64_t physical = 0;
            const errcode_t mapped = ext2fs_bmap2(fs.get(), e.inode, nullptr, nullptr, 0, 0, nullptr, &physical);
            if (mapped) {
                ++m_badExtents;
                continue;
            }
            if (physical == 0) {
                // Empty, inline data, a hole at the start, or an extent
                // tree the library gave up on (a loop it cut): a file that
                // holds blocks but maps none at its start is told.
                struct ext2_inode inode;
                if (ext2fs_read_inode(fs.get(), e.inode, &inode) == 0 && inode.i_blocks != 0
                    && !(inode.i_flags & EXT4_INLINE_DATA_FL))
                    ++m_badExtents;
                continue;
            }
            if (physical >= m_layout.blocksCount) {
                ++m_outside;
                continue;
            }
            ++m_findings;
            if (m_notifier)
                m_notifier->postItem(
                    static_cast<long long>(physical * m_layout.blockSize / static_cast<uint64_t>(kReportSectorSize)),
                    typeCode);
        }
        if (state.budget == 0)
            break;
    }
}

std::unique_ptr<IAllocationMap> CExt4Scanner::allocationMap(std::shared_ptr<IVolume> volume) const
{
    if (m_layout.bitmapBlocks.empty() || m_layout.blockSize == 0 || m_layout.blocksPerCluster == 0
        || m_layout.clustersPerGroup % 8 != 0 || m_layout.blocksCount <= m_layout.firstDataBlock)
        return nullptr;
    // Each group's bits, one after the other: the cluster of blocksPerCluster
    // blocks from block firstDataBlock + n * blocksPerCluster is bit n of the
    // whole (a cluster is a block unless the volume has bigalloc).
    const int64_t groupBytes = m_layout.clustersPerGroup / 8;
    std::vector<CAllocationTableCache::Run> runs;
    runs.reserve(m_layout.bitmapBlocks.size());
    for (uint64_t at : m_layout.bitmapBlocks) {
        const int64_t offset = at == 0 ? CBitmapAllocationMap::kNowhere : static_cast<int64_t>(at * m_layout.blockSize);
        runs.push_back({offset, groupBytes});
    }
    CClusterAllocationMap::Layout layout;
    const uint64_t dataBlocks = m_layout.blocksCount - m_layout.firstDataBlock;
    layout.dataStart = static_cast<int64_t>(m_layout.firstDataBlock * m_layout.blockSize);
    layout.clusterBytes = static_cast<int64_t>(m_layout.blockSize) * m_layout.blocksPerCluster;
    layout.firstCluster = 0;
    layout.lastCluster = (dataBlocks + m_layout.blocksPerCluster - 1) / m_layout.blocksPerCluster - 1;
    return std::unique_ptr<IAllocationMap>(new CBitmapAllocationMap(std::move(volume), std::move(runs), layout));
}
