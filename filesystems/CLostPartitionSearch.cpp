#include "filesystems/CLostPartitionSearch.h"

#include "disk/CBootSectorProbe.h"
#include "disk/IVolume.h"
#include "disk/LittleEndian.h"
#include "filesystems/CExfatScanner.h"
#include "filesystems/CExt4Scanner.h"
#include "filesystems/CFat32Scanner.h"
#include "filesystems/CFatGeometry.h"
#include "filesystems/CMFTRecord.h"
#include "filesystems/CNtfsScanner.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// NTFS boot sector: the volume's sectors, less the one that holds the
// backup copy at its end.
constexpr size_t kNtfsTotalSectorsField = 0x28;
// FAT boot sector: the media descriptor that FAT[0] repeats.
constexpr size_t kFatMediaField = 0x15;
constexpr uint32_t kFat32EntryMask = 0x0FFFFFFF;
// exFAT: FAT[0] is the media byte 0xF8 padded with ones.
constexpr uint32_t kExfatMediaEntry = 0xFFFFFFF8;
// ext superblock fields (from the superblock's start).
constexpr size_t kExtBlocksCountLo = 4;
constexpr size_t kExtFirstDataBlock = 20;
constexpr size_t kExtLogBlockSize = 24;
constexpr size_t kExtBlocksPerGroup = 32;
constexpr size_t kExtFeatureIncompat = 0x60;
constexpr size_t kExtDescSize = 0xFE;
constexpr size_t kExtBlocksCountHi = 0x150;
constexpr uint32_t kExtIncompat64Bit = 0x80;
// Group descriptor: block bitmap, inode bitmap, inode table (low halves).
constexpr size_t kGdBlockBitmapLo = 0;
constexpr size_t kGdInodeBitmapLo = 4;
constexpr size_t kGdInodeTableLo = 8;
constexpr size_t kGdBlockBitmapHi = 0x20;
constexpr size_t kGdInodeBitmapHi = 0x24;
constexpr size_t kGdInodeTableHi = 0x28;
constexpr uint32_t kGdMinSize64 = 64;

// The probe starts one sector before the aligned place, so that the last
// sector of a volume that ends there (NTFS's backup boot sector) is read too.
constexpr int64_t kProbeLead = CLostPartitionSearch::kSectorBytes;

bool readExactly(IVolume& volume, int64_t offset, void* buffer, size_t length)
{
    if (offset < 0 || offset > volume.length() || volume.length() - offset < static_cast<int64_t>(length))
        return false;
    const IVolume::ReadResult r = volume.read(offset, buffer, length);
    return r.bytes == static_cast<int64_t>(length);
}

// `offset` + `count` * `unit`, or -1 when that overflows.
int64_t addScaled(int64_t offset, uint64_t count, uint64_t unit)
{
    if (unit == 0)
        return offset;
    if (count > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) / unit)
        return -1;
    const int64_t span = static_cast<int64_t>(count * unit);
    if (span > std::numeric_limits<int64_t>::max() - offset)
        return -1;
    return offset + span;
}

// Whether [offset, offset + length) reaches into a live stretch.
bool overlapsLive(const std::vector<CLostPartitionSearch::Range>& live, int64_t offset, int64_t length)
{
    for (const CLostPartitionSearch::Range& r : live) {
        if (offset < r.offset + r.length && r.offset < offset + length)
            return true;
    }
    return false;
}

// The volume's extent from its claimed size, cut at the end of the disk; a
// volume whose claimed start lies past the end is none.
bool place(IVolume& volume, int64_t offset, int64_t claimed, CLostPartitionSearch::Found& found)
{
    if (offset < 0 || claimed <= 0 || offset >= volume.length())
        return false;
    found.offset = offset;
    found.length = std::min(claimed, volume.length() - offset);
    return true;
}

} // namespace

bool CLostPartitionSearch::checkNtfs(IVolume& volume, int64_t offset, const uint8_t* boot, size_t length, Found& found)
{
    CNtfsScanner::Geometry g;
    if (!CNtfsScanner::decodeBootSector(boot, length, g))
        return false;
    uint64_t totalSectors = 0;
    if (!le::u64(boot, length, kNtfsTotalSectorsField, totalSectors) || totalSectors == 0)
        return false;
    const int64_t mft = addScaled(offset, g.mftCluster, g.bytesPerCluster);
    const int64_t end = addScaled(offset, totalSectors, g.bytesPerSector);
    if (mft < 0 || end < 0 || mft >= end || g.recordSize == 0 || g.recordSize > 65536)
        return false;
    std::vector<uint8_t> record(g.recordSize);
    if (!readExactly(volume, mft, record.data(), record.size()))
        return false;
    CMFTRecord parsed;
    if (parsed.setRecordGeometry(g.recordSize, g.bytesPerCluster) != CMFTRecord::kStatusOk
        || parsed.parseRecord(record.data(), g.recordSize, true) != CMFTRecord::kStatusOk)
        return false;
    found.fileSystem = QStringLiteral("NTFS");
    // The backup boot sector follows the counted sectors.
    return place(volume, offset, end - offset + g.bytesPerSector, found);
}

bool CLostPartitionSearch::checkFat32(IVolume& volume, int64_t offset, const uint8_t* boot, size_t length, Found& found)
{
    if (length < 512 || std::memcmp(boot + CBootSectorProbe::kFat32TypeOffset, "FAT32   ", 8) != 0)
        return false;
    CFat32Scanner::Geometry g;
    if (!CFat32Scanner::decodeBootSector(boot, length, g))
        return false;
    // The FAT must hold an entry for every cluster the volume has.
    const uint64_t entries = static_cast<uint64_t>(g.sectorsPerFat) * g.bytesPerSector / 4;
    const uint64_t clusters = (g.totalSectors - g.dataStartSector) / g.sectorsPerCluster;
    if (entries < clusters + 2)
        return false;
    const int64_t fat = addScaled(offset, g.reservedSectors, g.bytesPerSector);
    const int64_t end = addScaled(offset, g.totalSectors, g.bytesPerSector);
    if (fat < 0 || end < 0 || fat >= end)
        return false;
    uint8_t first[8];
    if (!readExactly(volume, fat, first, sizeof first))
        return false;
    // FAT[0] repeats the media byte; FAT[1] is an end-of-chain mark.
    if (first[0] != boot[kFatMediaField] || (le::u32(first) & kFat32EntryMask) != (0x0FFFFF00u | boot[kFatMediaField])
        || (le::u32(first + 4) & kFat32EntryMask) < 0x0FFFFFF8u)
        return false;
    found.fileSystem = QStringLiteral("FAT32");
    return place(volume, offset, end - offset, found);
}

bool CLostPartitionSearch::checkFixedRootFat(IVolume& volume, int64_t offset, const uint8_t* boot, size_t length,
                                             Found& found)
{
    CFatGeometry g;
    if (!CFatGeometry::decode(boot, length, g) || !g.hasRootRegion())
        return false;
    const uint64_t clusters = (g.totalSectors - g.dataStartSector) / g.sectorsPerCluster;
    if (g.width().entries(g.fatBytes()) < clusters + 2)
        return false;
    const int64_t fat = addScaled(offset, g.reservedSectors, g.bytesPerSector);
    const int64_t data = addScaled(offset, g.dataStartSector, g.bytesPerSector);
    const int64_t end = addScaled(offset, g.totalSectors, g.bytesPerSector);
    if (fat < 0 || data < 0 || end < 0 || fat >= end || data > volume.length())
        return false;
    uint8_t first[4];
    if (!readExactly(volume, fat, first, sizeof first) || !g.tableStartFits(first, sizeof first))
        return false;
    found.fileSystem = g.typeName();
    return place(volume, offset, end - offset, found);
}

bool CLostPartitionSearch::checkExfat(IVolume& volume, int64_t offset, const uint8_t* boot, size_t length,
                                      int64_t regionOffset, Found& found)
{
    CExfatScanner::Geometry g;
    if (!CExfatScanner::decodeBootSector(boot, length, g))
        return false;
    const size_t sectorBytes = g.sectorBytes();
    std::vector<uint8_t> region(sectorBytes * CExfatScanner::kBootRegionSectors);
    const int64_t at = addScaled(offset, static_cast<uint64_t>(regionOffset), 1);
    if (at < 0 || !readExactly(volume, at, region.data(), region.size()))
        return false;
    // Sector 11 repeats the checksum of sectors 0 to 10.
    const uint32_t sum = CExfatScanner::bootChecksum(region.data(), sectorBytes);
    if (le::u32(region.data() + 11 * sectorBytes) != sum)
        return false;
    const int64_t fat = addScaled(offset, g.fatOffset, sectorBytes);
    uint8_t first[4];
    if (fat < 0 || !readExactly(volume, fat, first, sizeof first) || le::u32(first) != kExfatMediaEntry)
        return false;
    const int64_t end = addScaled(offset, g.volumeSectors, sectorBytes);
    if (end < 0)
        return false;
    found.fileSystem = QStringLiteral("exFAT");
    return place(volume, offset, end - offset, found);
}

bool CLostPartitionSearch::checkExt(IVolume& volume, int64_t offset, const uint8_t* probe, size_t length, Found& found)
{
    const size_t at = static_cast<size_t>(CExt4Scanner::kSuperblockOffset);
    if (length < at + CExt4Scanner::kSuperblockSize)
        return false;
    const uint8_t* sb = probe + at;
    if (le::u16(sb + CExt4Scanner::kMagicField) != CExt4Scanner::kMagic)
        return false;
    if (!CExt4Scanner::checkSuperblock(sb, CExt4Scanner::kSuperblockSize, volume.length() - offset, nullptr))
        return false;
    const uint32_t logBlock = le::u32(sb + kExtLogBlockSize);
    if (logBlock > 6)
        return false;
    const uint64_t blockSize = uint64_t(1024) << logBlock;
    const bool wide = (le::u32(sb + kExtFeatureIncompat) & kExtIncompat64Bit) != 0;
    uint64_t blocks = le::u32(sb + kExtBlocksCountLo);
    if (wide)
        blocks |= static_cast<uint64_t>(le::u32(sb + kExtBlocksCountHi)) << 32;
    const uint64_t firstData = le::u32(sb + kExtFirstDataBlock);
    if (blocks == 0 || le::u32(sb + kExtBlocksPerGroup) == 0 || firstData >= blocks)
        return false;
    const int64_t end = addScaled(offset, blocks, blockSize);
    // The group descriptors follow the superblock's block; the first one
    // must place its bitmaps and inode table inside the volume.
    const int64_t table = addScaled(offset, firstData + 1, blockSize);
    if (end < 0 || table < 0)
        return false;
    const uint32_t descSize = wide ? std::max<uint32_t>(le::u16(sb + kExtDescSize), kGdMinSize64) : 32;
    if (descSize > 1024)
        return false;
    std::vector<uint8_t> gd(descSize);
    if (!readExactly(volume, table, gd.data(), gd.size()))
        return false;
    const auto where = [&](size_t lo, size_t hi) {
        uint64_t v = le::u32(gd.data() + lo);
        if (wide)
            v |= static_cast<uint64_t>(le::u32(gd.data() + hi)) << 32;
        return v;
    };
    for (uint64_t block : {where(kGdBlockBitmapLo, kGdBlockBitmapHi), where(kGdInodeBitmapLo, kGdInodeBitmapHi),
                           where(kGdInodeTableLo, kGdInodeTableHi)}) {
        if (block <= firstData || block >= blocks)
            return false;
    }
    found.fileSystem = QStringLiteral("EXT4");
    return place(volume, offset, end - offset, found);
}

bool CLostPartitionSearch::check(IVolume& volume, int64_t offset, const uint8_t* probe, size_t length, Found& found)
{
    found = Found();
    if (!probe || length < static_cast<size_t>(kSectorBytes) || offset < 0)
        return false;
    const QString name = CBootSectorProbe::detect(probe, static_cast<int>(std::min<size_t>(length, 1 << 20)));
    if (name == QLatin1String("NTFS"))
        return checkNtfs(volume, offset, probe, length, found);
    if (name == QLatin1String("FAT32"))
        return checkFat32(volume, offset, probe, length, found);
    if (name == QLatin1String("FAT16") || name == QLatin1String("FAT12"))
        return checkFixedRootFat(volume, offset, probe, length, found);
    if (name == QLatin1String("exFAT"))
        return checkExfat(volume, offset, probe, length, 0, found);
    if (checkExt(volume, offset, probe, length, found))
        return true;
    // The main sector is damaged: FAT32's copy at sector 6, or exFAT's
    // region from sector 12, still tells the volume's geometry.
    const size_t copy = static_cast<size_t>(kFat32BackupSector * kSectorBytes);
    if (length >= copy + kSectorBytes) {
        const QString copied = CBootSectorProbe::detect(probe + copy, static_cast<int>(kSectorBytes));
        if (copied == QLatin1String("FAT32") && checkFat32(volume, offset, probe + copy, kSectorBytes, found)) {
            found.bootCopyOffset = static_cast<int64_t>(copy);
            found.bootCopyLength = kSectorBytes;
            return true;
        }
    }
    const size_t exfatAt = static_cast<size_t>(kExfatBackupSector * kSectorBytes);
    if (length >= exfatAt + kSectorBytes
        && CBootSectorProbe::detect(probe + exfatAt, static_cast<int>(kSectorBytes)) == QLatin1String("exFAT")
        && checkExfat(volume, offset, probe + exfatAt, kSectorBytes, static_cast<int64_t>(exfatAt), found)) {
        found.bootCopyOffset = static_cast<int64_t>(exfatAt);
        found.bootCopyLength = static_cast<int64_t>(exfatAt);
        return true;
    }
    found = Found();
    return false;
}

std::vector<CLostPartitionSearch::Found> CLostPartitionSearch::search(IVolume& volume, const std::vector<Range>& live,
                                                                     const std::atomic<bool>* running)
{
    std::vector<Found> found;
    const int64_t diskLength = volume.length();
    if (diskLength < kSectorBytes)
        return found;

    // The uncovered stretches, ascending.
    std::vector<Range> covered;
    for (const Range& r : live) {
        if (r.length > 0 && r.offset >= 0 && r.offset < diskLength)
            covered.push_back({r.offset, std::min(r.length, diskLength - r.offset)});
    }
    std::sort(covered.begin(), covered.end(), [](const Range& a, const Range& b) { return a.offset < b.offset; });
    std::vector<Range> gaps;
    int64_t reach = 0;
    for (const Range& r : covered) {
        if (r.offset > reach)
            gaps.push_back({reach, r.offset - reach});
        reach = std::max(reach, r.offset + r.length);
    }
    if (reach < diskLength)
        gaps.push_back({reach, diskLength - reach});

    std::vector<uint8_t> probe(static_cast<size_t>(kProbeBytes));
    const int64_t cylinder = kCylinderSectors * kSectorBytes;
    const int64_t track = kTrackSectors * kSectorBytes;
    for (const Range& gap : gaps) {
        const int64_t gapEnd = gap.offset + gap.length;
        int64_t at = gap.offset;
        while (at < gapEnd) {
            if (running && !running->load())
                return found;
            // The next place a partition may start, on either grid: the
            // next MiB boundary, the next cylinder boundary, or 63 sectors
            // past one.
            const int64_t mib = (at + kAlignment - 1) / kAlignment * kAlignment;
            const int64_t cyl = (at + cylinder - 1) / cylinder * cylinder;
            const int64_t cylTrack = at <= track ? track : (at - track + cylinder - 1) / cylinder * cylinder + track;
            const int64_t next = std::min({mib, cyl, cylTrack});
            if (next >= gapEnd)
                break;
            at = next + 1;
            // Sector 0 is the table itself; a volume there was seen already.
            if (next == 0)
                continue;
            const int64_t readFrom = next - kProbeLead;
            const int64_t readable = std::min<int64_t>(kProbeBytes, diskLength - readFrom);
            if (readable <= kProbeLead)
                continue;
            std::fill(probe.begin(), probe.end(), 0);
            const IVolume::ReadResult r = volume.read(readFrom, probe.data(), static_cast<size_t>(readable));
            if (r.bytes <= kProbeLead)
                continue;
            const size_t have = static_cast<size_t>(r.bytes - kProbeLead);
            // The sector before: the backup boot sector at the end of an
            // NTFS volume whose own first sector is damaged (or that did not
            // start on either grid), whatever starts here.
            Found f;
            CNtfsScanner::Geometry g;
            uint64_t total = 0;
            if (CNtfsScanner::decodeBootSector(probe.data(), kSectorBytes, g) && g.bytesPerSector == kSectorBytes
                && le::u64(probe.data(), kSectorBytes, kNtfsTotalSectorsField, total)
                && total < static_cast<uint64_t>(readFrom / kSectorBytes)) {
                const int64_t start = readFrom - static_cast<int64_t>(total) * kSectorBytes;
                const bool seen = std::any_of(found.begin(), found.end(), [&](const Found& o) {
                    return start < o.offset + o.length && o.offset < next;
                });
                if (start >= gap.offset && !seen && checkNtfs(volume, start, probe.data(), kSectorBytes, f)) {
                    uint8_t own[kSectorBytes];
                    Found same;
                    const bool intact
                        = readExactly(volume, start, own, sizeof own) && checkNtfs(volume, start, own, sizeof own, same);
                    if (!intact) {
                        f.bootCopyOffset = readFrom - start;
                        f.bootCopyLength = kSectorBytes;
                    }
                    if (!overlapsLive(covered, f.offset, f.length))
                        found.push_back(f);
                }
            }
            if (!check(volume, next, probe.data() + kProbeLead, have, f))
                continue;
            if (overlapsLive(covered, f.offset, f.length))
                continue;
            found.push_back(f);
            // Step over the volume found.
            at = std::max(at, f.offset + f.length);
        }
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.offset < b.offset; });
    return found;
}
