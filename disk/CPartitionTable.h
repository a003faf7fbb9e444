#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <vector>

class IVolume;

// The partition table at the start of a whole disk (or of its image): an
// MBR with its primary partitions and the logical ones chained from an
// extended partition, or a GPT (protective MBR, header at LBA 1, its
// entries, both CRCs checked, the backup copy at the end of the disk used
// when the primary one is damaged).
//
// Reading never fails: what cannot be trusted is left out and said in
// problems(), so the caller can still scan the whole source. Entries that
// reach past the end of the source are cut there. Entries that start on
// the same sector are one volume, listed once (over the longest of them);
// entries that overlap from different starts are kept, since each has a
// boot sector of its own that decides whether a file system is there (one
// inside another's file, say), and reported.
class CPartitionTable
{
public:
    enum class Scheme { None, Mbr, Gpt };

    struct Partition
    {
        int64_t offset = 0; // bytes from the start of the source
        int64_t length = 0; // bytes, cut at the end of the source
        // 1-4 for primaries and 5 on for logical partitions (as Linux
        // numbers them); the entry's index plus one in a GPT.
        int number = 0;
        uint8_t mbrType = 0; // 0 in a GPT
    };

    static constexpr int kMbrSectorSize = 512;
    static constexpr int kMbrEntriesOffset = 446;
    static constexpr int kMbrEntrySize = 16;
    static constexpr int kMbrEntryCount = 4;
    static constexpr int kMbrSignatureOffset = 510;
    static constexpr int kMbrStatusField = 0;
    static constexpr int kMbrTypeField = 4;
    static constexpr int kMbrStartField = 8;
    static constexpr int kMbrCountField = 12;
    static constexpr uint8_t kTypeProtectiveGpt = 0xEE;
    // Logical partitions a chain may hold before it counts as a loop.
    static constexpr int kMaxLogicalPartitions = 256;

    static constexpr int kGptSignatureField = 0;
    static constexpr int kGptHeaderSizeField = 12;
    static constexpr int kGptHeaderCrcField = 16;
    static constexpr int kGptMyLbaField = 24;
    static constexpr int kGptAlternateLbaField = 32;
    static constexpr int kGptEntriesLbaField = 72;
    static constexpr int kGptEntryCountField = 80;
    static constexpr int kGptEntrySizeField = 84;
    static constexpr int kGptEntriesCrcField = 88;
    static constexpr uint32_t kGptMinHeaderSize = 92;
    static constexpr uint32_t kGptMinEntrySize = 128;
    static constexpr int kGptEntryTypeField = 0;
    static constexpr int kGptEntryTypeSize = 16;
    static constexpr int kGptEntryFirstLbaField = 32;
    static constexpr int kGptEntryLastLbaField = 40;
    // The standard array is 16 KiB; anything past 1 MiB is not a table.
    static constexpr uint32_t kGptMaxEntryBytes = 1024 * 1024;

    // Reads the table of `volume`. Call it only on a source whose first
    // sector is not itself a file system's boot sector: a FAT boot sector
    // carries the same 0x55AA mark as an MBR.
    static CPartitionTable read(IVolume& volume);

    Scheme scheme() const { return m_scheme; }
    // In table order: primaries (or GPT entries), then logical partitions.
    const std::vector<Partition>& partitions() const { return m_partitions; }
    // What was wrong with the table, one readable English sentence each.
    const QStringList& problems() const { return m_problems; }
    // "MBR", "GPT" or "".
    QString schemeName() const;

    // The CRC-32 of a GPT (the zlib one: reflected 0xEDB88320, inverted).
    static uint32_t crc32(const uint8_t* data, size_t length);

private:
    void readMbr(IVolume& volume, const uint8_t* sector);
    void readExtendedChain(IVolume& volume, int64_t firstSector, int64_t sectors);
    // `announced`: the MBR's protective entry says a GPT is there, so not
    // finding one is a problem to report.
    bool readGpt(IVolume& volume, bool announced);
    bool readGptCopy(IVolume& volume, int sectorSize, int64_t lba, QString* why);
    void addPartition(int64_t firstSector, int64_t sectors, int sectorSize, int number, uint8_t type);
    void mergeSameStarts();
    void checkOverlaps();

    Scheme m_scheme = Scheme::None;
    std::vector<Partition> m_partitions;
    QStringList m_problems;
    int64_t m_sourceLength = 0;
};
