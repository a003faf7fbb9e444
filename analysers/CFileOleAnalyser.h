#pragma once

#include "analysers/IAnalyser.h"

#include <vector>

// Compound documents (DOC, XLS, PPT). The length comes from the file
// allocation table: the last sector in use according to the last FAT
// sector, plus the header. The type comes from the stream names of the
// directory. Only the header, the DIFAT sectors, the last FAT sector and
// the directory sectors are looked at, each as its blocks pass by, so a
// sector that spans several blocks (4096-byte sectors) may also span a
// window edge. The document's sectors are taken to lie contiguously after
// its header.
class CFileOleAnalyser : public IAnalyser
{
public:
    int identify(const uint8_t* firstBlock) override;
    bool consume(const uint8_t* block, int blockSize, int64_t blockIndex, int trailingZeroBytes, int64_t blocksAfter,
                 int64_t offsetInBuffer) override;

    static constexpr int kDirectoryEntrySize = 128;
    // Memory bound of the DIFAT case: blocks remembered at most (a byte
    // each, 2 MiB), the first 1 GiB of a document.
    static constexpr uint64_t kMaxRememberedBlocks = 2u << 20;

private:
    bool readHeader(const uint8_t* block, int blockSize);
    void readDifat(const uint8_t* block, uint64_t offset, int blockSize);
    void readFat(const uint8_t* block, uint64_t offset, int blockSize);
    void rememberBlock(const uint8_t* block, uint64_t offset, int blockSize);
    bool recallPassedFat(uint64_t offset);
    void completeSize();
    void readFirstDirectoryEntries(const uint8_t* block, int blockSize);
    void searchDirectory(const uint8_t* block, int blockSize);
    bool giveUp();
    uint64_t sectorOffset(uint32_t sector) const;

    uint32_t m_sectorSize = 512;
    // Where, from the document's first byte, the sectors we wait for begin.
    uint64_t m_nextDifat = 0;     // 0: no DIFAT sector to read
    uint64_t m_lastFat = 0;
    uint64_t m_directory = 0;
    uint64_t m_fatSectorCount = 0;
    // Highest index in the last FAT sector whose entry is in use, + 1.
    uint64_t m_usedInLastFat = 0;
    uint64_t m_documentLength = 0;
    bool m_noDifat = false;
    bool m_difatDone = false;
    bool m_sizeKnown = false;
    bool m_typeKnown = false;
    // The first four directory entries named no known stream: the type is
    // looked for further along the directory.
    bool m_searching = false;
    bool m_givenUp = false;

    // While the DIFAT is read, the last FAT sector may pass before the DIFAT
    // sector that names it. So each block keeps, until the DIFAT has ended,
    // the index + 1 of its last entry that is not free (0 if none), read as
    // if it were a FAT sector: a byte per block.
    std::vector<uint8_t> m_usedInBlock;
    // Past this offset the header's FAT count allows no document: the
    // analyser gives up rather than remember blocks without end.
    uint64_t m_rememberLimit = 0;
    bool m_recalled = false;
};
