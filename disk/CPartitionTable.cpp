#include "disk/CPartitionTable.h"

#include "disk/IVolume.h"
#include "disk/LittleEndian.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <set>

namespace {

constexpr uint8_t kSignature0 = 0x55;
constexpr uint8_t kSignature1 = 0xAA;
constexpr uint8_t kStatusActive = 0x80;
constexpr int kGptSectorSizes[] = {512, 4096};
constexpr char kGptSignature[] = "EFI PART";

bool isExtendedType(uint8_t type)
{
    return type == 0x05 || type == 0x0F || type == 0x85;
}

bool hasBootSignature(const uint8_t* sector)
{
    return sector[CPartitionTable::kMbrSignatureOffset] == kSignature0
        && sector[CPartitionTable::kMbrSignatureOffset + 1] == kSignature1;
}

// The sector at `lba` (of `sectorSize` bytes), or false when it is not
// wholly on the source.
bool readSector(IVolume& volume, int64_t lba, int sectorSize, std::vector<uint8_t>& out)
{
    if (lba < 0 || lba > std::numeric_limits<int64_t>::max() / sectorSize)
        return false;
    out.assign(static_cast<size_t>(sectorSize), 0);
    const IVolume::ReadResult r = volume.read(lba * sectorSize, out.data(), out.size());
    return r.bytes == sectorSize;
}

} // namespace

uint32_t CPartitionTable::crc32(const uint8_t* data, size_t length)
{
    static const std::vector<uint32_t> table = []() {
        std::vector<uint32_t> t(256);
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i)
        crc = table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

QString CPartitionTable::schemeName() const
{
    switch (m_scheme) {
    case Scheme::Mbr:
        return QStringLiteral("MBR");
    case Scheme::Gpt:
        return QStringLiteral("GPT");
    case Scheme::None:
        break;
    }
    return QString();
}

CPartitionTable CPartitionTable::read(IVolume& volume)
{
    CPartitionTable table;
    table.m_sourceLength = volume.length();
    std::vector<uint8_t> sector;
    if (!readSector(volume, 0, kMbrSectorSize, sector) || !hasBootSignature(sector.data())) {
        // No MBR; a GPT written without its protective MBR is still a GPT.
        table.readGpt(volume, false);
    } else {
        table.readMbr(volume, sector.data());
    }
    table.mergeSameStarts();
    table.checkOverlaps();
    return table;
}

void CPartitionTable::readMbr(IVolume& volume, const uint8_t* sector)
{
    // Boot code of a lone boot sector carries the same mark: entries whose
    // status is neither 0 nor 0x80 mean this is no table.
    bool protective = false;
    bool any = false;
    for (int i = 0; i < kMbrEntryCount; ++i) {
        const uint8_t* e = sector + kMbrEntriesOffset + i * kMbrEntrySize;
        const uint8_t status = e[kMbrStatusField];
        if (status != 0 && status != kStatusActive)
            return;
        if (e[kMbrTypeField] == kTypeProtectiveGpt)
            protective = true;
        if (e[kMbrTypeField] != 0)
            any = true;
    }
    if (!any)
        return;

    if (protective) {
        if (!readGpt(volume, true))
            m_scheme = Scheme::Gpt; // claimed, but unreadable: the problems say why
        return;
    }

    m_scheme = Scheme::Mbr;
    bool extendedSeen = false;
    for (int i = 0; i < kMbrEntryCount; ++i) {
        const uint8_t* e = sector + kMbrEntriesOffset + i * kMbrEntrySize;
        const uint8_t type = e[kMbrTypeField];
        const int64_t first = le::u32(e + kMbrStartField);
        const int64_t count = le::u32(e + kMbrCountField);
        if (type == 0 || count == 0)
            continue;
        if (first == 0) {
            m_problems << QStringLiteral("MBR partition %1 starts on the table itself; it was left out.").arg(i + 1);
            continue;
        }
        if (isExtendedType(type)) {
            if (extendedSeen) {
                m_problems << QStringLiteral("MBR partition %1 is a second extended partition; it was left out.")
                                  .arg(i + 1);
                continue;
            }
            extendedSeen = true;
            readExtendedChain(volume, first, count);
            continue;
        }
        addPartition(first, count, kMbrSectorSize, i + 1, type);
    }
}

void CPartitionTable::readExtendedChain(IVolume& volume, int64_t firstSector, int64_t sectors)
{
    // Each link holds a logical partition (relative to the link) and the
    // next link (relative to the extended partition's start).
    std::set<int64_t> visited;
    int64_t link = firstSector;
    std::vector<uint8_t> sector;
    int number = 5;
    for (int step = 0;; ++step) {
        if (step >= kMaxLogicalPartitions) {
            m_problems << QStringLiteral("the chain of logical partitions goes on past %1 links; the rest was left out.")
                              .arg(kMaxLogicalPartitions);
            return;
        }
        if (!visited.insert(link).second) {
            m_problems << QStringLiteral("the chain of logical partitions loops back to sector %1; it ends there.")
                              .arg(link);
            return;
        }
        if (!readSector(volume, link, kMbrSectorSize, sector)) {
            m_problems << QStringLiteral("the link of logical partitions at sector %1 lies past the end of the source.")
                              .arg(link);
            return;
        }
        if (!hasBootSignature(sector.data())) {
            m_problems << QStringLiteral("the link of logical partitions at sector %1 is damaged (no 55AA mark).")
                              .arg(link);
            return;
        }
        const uint8_t* logical = sector.data() + kMbrEntriesOffset;
        const uint8_t* next = logical + kMbrEntrySize;
        const uint8_t type = logical[kMbrTypeField];
        const int64_t start = le::u32(logical + kMbrStartField);
        const int64_t count = le::u32(logical + kMbrCountField);
        if (type != 0 && count != 0) {
            if (start == 0)
                m_problems << QStringLiteral("logical partition %1 starts on its own link; it was left out.").arg(number);
            else
                addPartition(link + start, count, kMbrSectorSize, number, type);
            ++number;
        }
        const int64_t nextStart = le::u32(next + kMbrStartField);
        if (next[kMbrTypeField] == 0 || nextStart == 0)
            return;
        if (nextStart >= sectors) {
            m_problems << QStringLiteral("a link of logical partitions points outside the extended partition; "
                                         "the chain ends there.");
            return;
        }
        link = firstSector + nextStart;
    }
}

bool CPartitionTable::readGpt(IVolume& volume, bool announced)
{
    QStringList why;
    // The primary header sits at LBA 1 of 512- or 4096-byte sectors; its
    // signature tells which.
    std::vector<uint8_t> sector;
    int64_t alternate = -1;
    for (int size : kGptSectorSizes) {
        if (!readSector(volume, 1, size, sector))
            continue;
        if (std::memcmp(sector.data() + kGptSignatureField, kGptSignature, 8) != 0)
            continue;
        QString reason;
        if (readGptCopy(volume, size, 1, &reason))
            return true;
        why << QStringLiteral("the primary GPT %1").arg(reason);
        alternate = static_cast<int64_t>(le::u64(sector.data() + kGptAlternateLbaField));
        // The backup is at the last sector, or where the primary said.
        const int64_t last = m_sourceLength / size - 1;
        if (last > 1 && readGptCopy(volume, size, last, &reason)) {
            m_problems << why.last() + QStringLiteral("; the backup copy at the end of the disk was used.");
            return true;
        }
        if (last > 1)
            why << QStringLiteral("the backup GPT %1").arg(reason);
        if (alternate > 1 && alternate != last && readGptCopy(volume, size, alternate, &reason)) {
            m_problems << why.first() + QStringLiteral("; the backup copy at sector %1 was used.").arg(alternate);
            return true;
        }
        m_problems << QStringLiteral("both copies of the GPT are damaged (%1); no partition was read from it.")
                          .arg(why.join(QStringLiteral("; ")));
        return false;
    }
    // No primary header: look for a backup at the end alone.
    for (int size : kGptSectorSizes) {
        const int64_t last = m_sourceLength / size - 1;
        if (last <= 1 || !readSector(volume, last, size, sector))
            continue;
        if (std::memcmp(sector.data() + kGptSignatureField, kGptSignature, 8) != 0)
            continue;
        QString reason;
        if (readGptCopy(volume, size, last, &reason)) {
            m_problems << QStringLiteral("the primary GPT header is missing; the backup copy at the end of the disk was used.");
            return true;
        }
        m_problems << QStringLiteral("the primary GPT header is missing and the backup GPT %1; no partition was read from it.")
                          .arg(reason);
        return false;
    }
    if (announced)
        m_problems << QStringLiteral("the MBR announces a GPT, but neither copy of its header was found.");
    return false;
}

bool CPartitionTable::readGptCopy(IVolume& volume, int sectorSize, int64_t lba, QString* why)
{
    std::vector<uint8_t> header;
    if (!readSector(volume, lba, sectorSize, header)) {
        *why = QStringLiteral("header at sector %1 cannot be read").arg(lba);
        return false;
    }
    const uint8_t* h = header.data();
    if (std::memcmp(h + kGptSignatureField, kGptSignature, 8) != 0) {
        *why = QStringLiteral("header at sector %1 has no signature").arg(lba);
        return false;
    }
    const uint32_t headerSize = le::u32(h + kGptHeaderSizeField);
    if (headerSize < kGptMinHeaderSize || headerSize > static_cast<uint32_t>(sectorSize)) {
        *why = QStringLiteral("header at sector %1 gives an impossible size").arg(lba);
        return false;
    }
    const uint32_t storedCrc = le::u32(h + kGptHeaderCrcField);
    std::vector<uint8_t> copy(h, h + headerSize);
    std::memset(copy.data() + kGptHeaderCrcField, 0, 4);
    if (crc32(copy.data(), copy.size()) != storedCrc) {
        *why = QStringLiteral("header at sector %1 fails its CRC").arg(lba);
        return false;
    }
    if (static_cast<int64_t>(le::u64(h + kGptMyLbaField)) != lba) {
        *why = QStringLiteral("header at sector %1 names another place as its own").arg(lba);
        return false;
    }
    const uint64_t entriesLba = le::u64(h + kGptEntriesLbaField);
    const uint32_t count = le::u32(h + kGptEntryCountField);
    const uint32_t entrySize = le::u32(h + kGptEntrySizeField);
    if (entrySize < kGptMinEntrySize || entrySize % 8 != 0 || entrySize > kGptMaxEntryBytes
        || count > kGptMaxEntryBytes / entrySize) {
        *why = QStringLiteral("header at sector %1 describes an impossible entry array").arg(lba);
        return false;
    }
    const size_t arrayBytes = static_cast<size_t>(count) * entrySize;
    if (entriesLba > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / sectorSize)
        || static_cast<int64_t>(entriesLba) * sectorSize > m_sourceLength
        || m_sourceLength - static_cast<int64_t>(entriesLba) * sectorSize < static_cast<int64_t>(arrayBytes)) {
        *why = QStringLiteral("entries (from sector %1) lie past the end of the source").arg(entriesLba);
        return false;
    }
    std::vector<uint8_t> entries(arrayBytes);
    if (arrayBytes > 0) {
        const IVolume::ReadResult r
            = volume.read(static_cast<int64_t>(entriesLba) * sectorSize, entries.data(), entries.size());
        if (r.bytes != static_cast<int64_t>(arrayBytes)) {
            *why = QStringLiteral("entries (from sector %1) cannot be read").arg(entriesLba);
            return false;
        }
    }
    if (crc32(entries.data(), entries.size()) != le::u32(h + kGptEntriesCrcField)) {
        *why = QStringLiteral("entries (from sector %1) fail their CRC").arg(entriesLba);
        return false;
    }

    m_scheme = Scheme::Gpt;
    m_partitions.clear();
    static const uint8_t unused[kGptEntryTypeSize] = {};
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = entries.data() + static_cast<size_t>(i) * entrySize;
        if (std::memcmp(e + kGptEntryTypeField, unused, kGptEntryTypeSize) == 0)
            continue;
        const uint64_t first = le::u64(e + kGptEntryFirstLbaField);
        const uint64_t last = le::u64(e + kGptEntryLastLbaField);
        if (last < first || first == 0 || last - first >= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
            || first > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            m_problems << QStringLiteral("GPT entry %1 gives an impossible range; it was left out.").arg(i + 1);
            continue;
        }
        addPartition(static_cast<int64_t>(first), static_cast<int64_t>(last - first + 1), sectorSize,
                     static_cast<int>(i + 1), 0);
    }
    return true;
}

void CPartitionTable::addPartition(int64_t firstSector, int64_t sectors, int sectorSize, int number, uint8_t type)
{
    const int64_t limit = std::numeric_limits<int64_t>::max() / sectorSize;
    if (firstSector < 0 || sectors <= 0 || firstSector > limit || firstSector * sectorSize >= m_sourceLength) {
        m_problems << QStringLiteral("partition %1 starts past the end of the source; it was left out.").arg(number);
        return;
    }
    Partition p;
    p.offset = firstSector * sectorSize;
    p.number = number;
    p.mbrType = type;
    const int64_t room = m_sourceLength - p.offset;
    if (sectors > limit || sectors * sectorSize > room) {
        m_problems << QStringLiteral("partition %1 reaches past the end of the source; only its first %2 bytes are there.")
                          .arg(number)
                          .arg(room);
        p.length = room;
    } else {
        p.length = sectors * sectorSize;
    }
    m_partitions.push_back(p);
}

void CPartitionTable::mergeSameStarts()
{
    // Two entries that start on the same sector name the same boot sector,
    // hence the same file system: read twice, every deleted file of it would
    // be listed twice. The first entry in table order stands for both, as
    // long as the longest of them, so that a file system reaching past the
    // shorter entry is still read whole.
    std::vector<Partition> kept;
    std::map<int64_t, size_t> byStart; // into kept
    for (const Partition& p : m_partitions) {
        const auto found = byStart.emplace(p.offset, kept.size());
        if (found.second) {
            kept.push_back(p);
            continue;
        }
        Partition* same = &kept[found.first->second];
        if (p.length == same->length) {
            m_problems << QStringLiteral("partition %1 repeats partition %2; it is read once.").arg(p.number).arg(same->number);
        } else {
            m_problems << QStringLiteral("partitions %1 and %2 start on the same sector with different lengths; they are "
                                         "one volume, read once over the longer (%3 bytes).")
                              .arg(same->number)
                              .arg(p.number)
                              .arg(std::max(p.length, same->length));
            same->length = std::max(p.length, same->length);
        }
    }
    m_partitions.swap(kept);
}

void CPartitionTable::checkOverlaps()
{
    std::vector<const Partition*> sorted;
    for (const Partition& p : m_partitions)
        sorted.push_back(&p);
    std::sort(sorted.begin(), sorted.end(),
              [](const Partition* a, const Partition* b) { return a->offset < b->offset; });
    int64_t reach = 0;
    const Partition* reacher = nullptr;
    for (const Partition* p : sorted) {
        if (reacher && p->offset < reach)
            m_problems << QStringLiteral("partitions %1 and %2 overlap.").arg(reacher->number).arg(p->number);
        if (p->offset + p->length > reach) {
            reach = p->offset + p->length;
            reacher = p;
        }
    }
}
