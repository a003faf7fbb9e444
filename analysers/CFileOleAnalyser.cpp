#include "analysers/CFileOleAnalyser.h"

#include "disk/LittleEndian.h"
#include "scan/CFileTypeCatalogue.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kSignatureLow = 0xE011CFD0;  // D0 CF 11 E0
constexpr uint32_t kSignatureHigh = 0xE11AB1A1; // A1 B1 1A E1

constexpr size_t kHeaderSize = 512;
constexpr size_t kMajorVersion = 0x1A;
constexpr size_t kSectorShift = 0x1E;
constexpr size_t kFatSectorCount = 0x2C;
constexpr size_t kFirstDirectorySector = 0x30;
constexpr size_t kFirstDifatSector = 0x44;
constexpr size_t kHeaderFatSlots = 0x4C;
constexpr int kHeaderFatSlotCount = 109;

constexpr uint16_t kVersion4 = 4;
constexpr uint16_t kShift4096 = 12;

constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
// Sector numbers above this are markers, never sectors.
constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;

// Directory entry
constexpr size_t kEntryNameLength = 0x40;
constexpr size_t kEntryObjectType = 0x42;
constexpr int kEntryNameUnits = 32;
constexpr uint8_t kObjectStorage = 1;
constexpr uint8_t kObjectStream = 2;

// Compares the zero-terminated UTF-16 name at the start of a directory
// entry with `name`, whole (or only its first units when `prefix`).
bool nameIs(const uint8_t* entry, const char16_t* name, bool prefix = false)
{
    int i = 0;
    for (; name[i] != 0; ++i) {
        if (i >= kEntryNameUnits)
            return false;
        if (static_cast<char16_t>(le::u16(entry + 2 * i)) != name[i])
            return false;
    }
    if (prefix)
        return true;
    return i < kEntryNameUnits && le::u16(entry + 2 * i) == 0;
}

} // namespace

int CFileOleAnalyser::identify(const uint8_t* firstBlock)
{
    if (!firstBlock || le::u32(firstBlock) != kSignatureLow || le::u32(firstBlock + 4) != kSignatureHigh)
        return CFileTypeCatalogue::NotWanted;
    m_typeCode = CFileTypeCatalogue::Doc;
    return m_typeCode;
}

uint64_t CFileOleAnalyser::sectorOffset(uint32_t sector) const
{
    // The header occupies the sector before sector 0.
    return (static_cast<uint64_t>(sector) + 1) * m_sectorSize;
}

bool CFileOleAnalyser::giveUp()
{
    m_givenUp = true;
    m_length = 0;
    return true;
}

bool CFileOleAnalyser::consume(const uint8_t* block, int blockSize, int64_t blockIndex, int, int64_t, int64_t)
{
    if (m_givenUp)
        return true;
    if (!block || blockSize <= 0 || blockIndex < m_startBlock)
        return false;
    const uint64_t offset = static_cast<uint64_t>(blockIndex - m_startBlock) * static_cast<uint64_t>(blockSize);

    if (offset == 0) {
        if (!readHeader(block, blockSize))
            return giveUp();
        return false;
    }

    if (!m_noDifat && !m_difatDone) {
        if (offset >= m_rememberLimit || blockSize != 512)
            return giveUp();
        rememberBlock(block, offset, blockSize);
    }

    if (m_nextDifat != 0 && offset + blockSize > m_nextDifat && offset < m_nextDifat + m_sectorSize)
        readDifat(block, offset, blockSize);
    if (m_givenUp)
        return true;

    if (!m_sizeKnown && (m_noDifat || m_difatDone)) {
        if (m_fatSectorCount == 0)
            return giveUp();
        if (m_difatDone && !m_recalled) {
            // The DIFAT has just ended: its last FAT sector may have passed.
            m_recalled = true;
            if (m_lastFat < offset && !recallPassedFat(offset))
                return giveUp();
            std::vector<uint8_t>().swap(m_usedInBlock);
        }
        if (!m_sizeKnown && offset + blockSize > m_lastFat && offset < m_lastFat + m_sectorSize)
            readFat(block, offset, blockSize);
    }

    if (!m_typeKnown) {
        if (offset == m_directory)
            readFirstDirectoryEntries(block, blockSize);
        else if (m_searching && offset > m_directory)
            searchDirectory(block, blockSize);
        // No directory sector can still come within the document: the
        // type stays DOC.
        if (m_searching && !m_typeKnown && m_sizeKnown && offset + blockSize >= m_documentLength)
            m_typeKnown = true;
    }

    if (m_sizeKnown && m_typeKnown) {
        m_length = static_cast<int64_t>(m_documentLength);
        return true;
    }
    return false;
}

bool CFileOleAnalyser::readHeader(const uint8_t* block, int blockSize)
{
    if (static_cast<size_t>(blockSize) < kHeaderSize)
        return false;
    if (le::u16(block + kMajorVersion) == kVersion4 && le::u16(block + kSectorShift) == kShift4096)
        m_sectorSize = 4096;

    for (int i = 0; i < kHeaderFatSlotCount; ++i) {
        const uint32_t sector = le::u32(block + kHeaderFatSlots + 4 * i);
        if (sector == kFreeSector)
            break;
        if (sector > kMaxRegularSector)
            return false;
        m_lastFat = sectorOffset(sector);
        ++m_fatSectorCount;
    }

    const uint32_t difat = le::u32(block + kFirstDifatSector);
    if (difat == kEndOfChain || difat == kFreeSector) {
        m_noDifat = true;
        if (m_fatSectorCount == 0)
            return false;
    } else if (difat > kMaxRegularSector) {
        return false;
    } else {
        m_nextDifat = sectorOffset(difat);
    }

    if (!m_noDifat) {
        // The largest document the header's FAT count allows: the blocks
        // remembered for the DIFAT case are bounded by it.
        const uint64_t fatSectors = le::u32(block + kFatSectorCount);
        const uint64_t sectors = fatSectors * (m_sectorSize / 4) + 1;
        m_rememberLimit = sectors * m_sectorSize;
        m_usedInBlock.reserve(64 * 1024);
        m_usedInBlock.push_back(0); // the header block
    }

    const uint32_t directory = le::u32(block + kFirstDirectorySector);
    if (directory > kMaxRegularSector)
        return false;
    m_directory = sectorOffset(directory);
    return true;
}

void CFileOleAnalyser::readDifat(const uint8_t* block, uint64_t offset, int blockSize)
{
    // A DIFAT sector holds sectorSize / 4 - 1 FAT sector numbers and then
    // the number of the next DIFAT sector. Read the part of it in this block.
    const uint64_t sectorStart = m_nextDifat;
    const uint64_t lastEntry = m_sectorSize / 4 - 1;
    const uint64_t from = std::max(offset, sectorStart);
    const uint64_t to = std::min<uint64_t>(offset + blockSize, sectorStart + m_sectorSize);
    for (uint64_t at = from; at + 4 <= to; at += 4) {
        const uint64_t index = (at - sectorStart) / 4;
        const uint32_t value = le::u32(block + (at - offset));
        if (index < lastEntry) {
            if (value == kFreeSector || value == kEndOfChain || value > kMaxRegularSector)
                continue;
            m_lastFat = sectorOffset(value);
            ++m_fatSectorCount;
            continue;
        }
        // The next DIFAT sector.
        if (value > kMaxRegularSector) {
            m_nextDifat = 0;
            m_difatDone = true;
        } else {
            const uint64_t next = sectorOffset(value);
            if (next <= offset) {
                m_givenUp = true; // a chain that points back: its sector has passed
                return;
            }
            m_nextDifat = next;
        }
    }
}

void CFileOleAnalyser::rememberBlock(const uint8_t* block, uint64_t offset, int blockSize)
{
    // Blocks come one after the other. Past the memory bound nothing more
    // is kept: a last FAT sector there that passes before its DIFAT sector
    // is then not found, one that comes after it still is.
    if (m_usedInBlock.size() != offset / 512 || m_usedInBlock.size() >= kMaxRememberedBlocks)
        return;
    uint8_t used = 0;
    for (int at = blockSize; at >= 4; at -= 4) {
        if (le::u32(block + at - 4) != kFreeSector) {
            used = static_cast<uint8_t>(at / 4);
            break;
        }
    }
    m_usedInBlock.push_back(used);
}

// The DIFAT has ended and named a last FAT sector that began before this
// block: take what the remembered blocks say of it. False when they cannot
// tell (the blocks were not remembered).
bool CFileOleAnalyser::recallPassedFat(uint64_t offset)
{
    const uint64_t firstBlock = m_lastFat / 512;
    const uint64_t end = std::min<uint64_t>(offset, m_lastFat + m_sectorSize);
    for (uint64_t at = m_lastFat; at < end; at += 512) {
        const uint64_t blockIndex = at / 512;
        if (blockIndex >= m_usedInBlock.size())
            return false;
        const uint8_t used = m_usedInBlock[blockIndex];
        if (used > 0)
            m_usedInLastFat = std::max<uint64_t>(m_usedInLastFat, (blockIndex - firstBlock) * 128 + used);
    }
    if (end == m_lastFat + m_sectorSize)
        completeSize();
    return true;
}

void CFileOleAnalyser::readFat(const uint8_t* block, uint64_t offset, int blockSize)
{
    const uint64_t sectorStart = m_lastFat;
    const uint64_t from = std::max(offset, sectorStart);
    const uint64_t to = std::min<uint64_t>(offset + blockSize, sectorStart + m_sectorSize);
    // The highest entry in use in this block, searched from the end.
    for (uint64_t at = to; at >= from + 4; at -= 4) {
        if (le::u32(block + (at - 4 - offset)) != kFreeSector) {
            const uint64_t index = (at - 4 - sectorStart) / 4;
            m_usedInLastFat = std::max(m_usedInLastFat, index + 1);
            break;
        }
    }
    if (to < sectorStart + m_sectorSize)
        return; // the rest of the sector comes with the next blocks
    completeSize();
}

void CFileOleAnalyser::completeSize()
{
    const uint64_t entriesPerSector = m_sectorSize / 4;
    // Sectors in use, plus one for the header.
    const uint64_t sectors = (m_fatSectorCount - 1) * entriesPerSector + m_usedInLastFat + 1;
    m_documentLength = sectors * m_sectorSize;
    m_sizeKnown = true;
}

void CFileOleAnalyser::readFirstDirectoryEntries(const uint8_t* block, int blockSize)
{
    if (blockSize < 4 * kDirectoryEntrySize) {
        m_typeKnown = true;
        return;
    }
    const uint8_t* e0 = block;
    const uint8_t* e1 = block + kDirectoryEntrySize;
    const uint8_t* e2 = block + 2 * kDirectoryEntrySize;
    const uint8_t* e3 = block + 3 * kDirectoryEntrySize;
    int type = 0;
    for (const uint8_t* e : {e0, e1, e2, e3}) {
        if (nameIs(e, u"WordDocument") || nameIs(e, u"ObjectPool"))
            type = CFileTypeCatalogue::Doc;
    }
    if (nameIs(e1, u"Workbook") || nameIs(e1, u"Book") || nameIs(e2, u"Workbook") || nameIs(e2, u"Book"))
        type = CFileTypeCatalogue::Xls;
    if (nameIs(e1, u"PowerPoint Document") || nameIs(e2, u"PowerPoint Document")
        || nameIs(e3, u"PowerPoint Document"))
        type = CFileTypeCatalogue::Ppt;
    if (nameIs(e1, u"Pictures", true))
        type = CFileTypeCatalogue::Ppt;
    if (nameIs(e1, u"PP40") || nameIs(e1, u"Scene") || nameIs(e1, u"VisioDocument"))
        type = CFileTypeCatalogue::Ppt;
    if (nameIs(e1, u"Objects") || nameIs(e2, u"Quill") || nameIs(e3, u"Escher"))
        type = CFileTypeCatalogue::Ppt;

    if (type != 0) {
        m_typeCode = type;
        m_typeKnown = true;
        return;
    }
    // LibreOffice lists its main stream after these four entries: read on.
    m_searching = true;
    searchDirectory(block + 4 * kDirectoryEntrySize, blockSize - 4 * kDirectoryEntrySize);
}

void CFileOleAnalyser::searchDirectory(const uint8_t* block, int blockSize)
{
    for (int at = 0; at + kDirectoryEntrySize <= blockSize; at += kDirectoryEntrySize) {
        const uint8_t* e = block + at;
        // Only what looks like a directory entry: a stream or a storage
        // whose name length matches a name of ours.
        const uint8_t object = e[kEntryObjectType];
        if (object != kObjectStream && object != kObjectStorage)
            continue;
        const uint16_t nameBytes = le::u16(e + kEntryNameLength);
        if (nameBytes < 2 || nameBytes > 2 * kEntryNameUnits)
            continue;
        int type = 0;
        if (nameIs(e, u"PowerPoint Document"))
            type = CFileTypeCatalogue::Ppt;
        else if (nameIs(e, u"Workbook") || nameIs(e, u"Book"))
            type = CFileTypeCatalogue::Xls;
        else if (nameIs(e, u"WordDocument"))
            type = CFileTypeCatalogue::Doc;
        if (type != 0) {
            m_typeCode = type;
            m_typeKnown = true;
            m_searching = false;
            return;
        }
    }
}
