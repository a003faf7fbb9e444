#include "filesystems/CMFTRecord.h"

#include "disk/LittleEndian.h"
#include "filesystems/CFileNameText.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Record header.
constexpr char kSignature[4] = {'F', 'I', 'L', 'E'};
constexpr size_t kUpdateSequenceOffsetField = 0x04;
constexpr size_t kUpdateSequenceCountField = 0x06;
constexpr size_t kFirstAttributeField = 0x14;
constexpr size_t kFlagsField = 0x16;
constexpr size_t kSequenceField = 0x10;
constexpr size_t kBaseReferenceField = 0x20;
constexpr size_t kRecordHeaderSize = 0x30;
// Since NTFS 3.1 the header keeps the record's own number; its update
// sequence array then starts past it.
constexpr size_t kRecordNumberField = 0x2C;
// The update sequence protects the last two bytes of every 512-byte stride,
// whatever the sector size of the volume.
constexpr uint32_t kUpdateStride = 512;

// Attribute header.
constexpr size_t kAttrTypeField = 0x00;
constexpr size_t kAttrLengthField = 0x04;
constexpr size_t kAttrNonResidentField = 0x08;
constexpr size_t kAttrNameLengthField = 0x09;
constexpr size_t kAttrValueLengthField = 0x10;   // resident
constexpr size_t kAttrValueOffsetField = 0x14;   // resident
constexpr size_t kAttrResidentHeaderSize = 0x18;
constexpr size_t kAttrStartVcnField = 0x10;      // non-resident
constexpr size_t kAttrRunListOffsetField = 0x20; // non-resident
constexpr size_t kAttrLastVcnField = 0x18;       // non-resident
constexpr size_t kAttrRealSizeField = 0x30;      // non-resident
constexpr size_t kAttrInitializedSizeField = 0x38; // non-resident
constexpr size_t kAttrNonResidentHeaderSize = 0x40;
constexpr size_t kAttrFlagsField = 0x0C;
constexpr size_t kAttrCompressionUnitField = 0x22; // non-resident: log2 of clusters per unit
constexpr uint16_t kAttrFlagCompressed = 0x0001;
// Units past 2^8 clusters are not written by any NTFS; a larger exponent is
// a damaged header.
constexpr uint16_t kMaxCompressionUnitShift = 8;
// Smallest header that still holds the type, the length and the flags.
constexpr uint32_t kAttrMinimumLength = 0x10;

constexpr uint32_t kTypeStandardInformation = 0x10;
constexpr uint32_t kTypeAttributeList = 0x20;
constexpr uint32_t kTypeFileName = 0x30;
constexpr uint32_t kTypeData = 0x80;
constexpr uint32_t kTypeIndexRoot = 0x90;
constexpr uint32_t kTypeIndexAllocation = 0xA0;
constexpr uint32_t kTypeEnd = 0xFFFFFFFFu;

// Standard information value.
constexpr size_t kModificationTimeField = 0x08;

// Attribute list entry.
constexpr size_t kListTypeField = 0x00;
constexpr size_t kListLengthField = 0x04;
constexpr size_t kListNameLengthField = 0x06;
constexpr size_t kListStartVcnField = 0x08;
constexpr size_t kListReferenceField = 0x10;
constexpr size_t kListMinimumLength = 0x1A;

// File name value.
constexpr size_t kParentReferenceField = 0x00;
constexpr size_t kNameLengthField = 0x40;
constexpr size_t kNamespaceField = 0x41;
constexpr size_t kNameField = 0x42;
constexpr uint8_t kNamespaceDos = 2;

// Run lists: one header byte, then up to 8 bytes of length and 8 of offset.
constexpr unsigned kMaxRunFieldWidth = 8;

} // namespace

CMFTRecord::CMFTRecord() = default;

CMFTRecord::~CMFTRecord() = default;

uint32_t CMFTRecord::setRecordGeometry(uint32_t recordSize, uint32_t bytesPerCluster)
{
    if (recordSize == 0 || bytesPerCluster == 0 || (recordSize & 1u) || (bytesPerCluster & 1u))
        return kStatusInvalid;
    if (recordSize % kUpdateStride != 0)
        return kStatusInvalid;
    m_recordSize = recordSize;
    m_bytesPerCluster = bytesPerCluster;
    return kStatusOk;
}

uint32_t CMFTRecord::parseRecord(const uint8_t* recordData, uint32_t length, bool skipData)
{
    m_dataSize = 0;
    m_flags = 0;
    m_firstCluster = 0;
    m_name.clear();
    m_haveLongName = false;
    m_runMap.clear();
    m_sequence = 0;
    m_baseReference = 0;
    m_recordNumber = -1;
    m_parentReference = 0;
    m_modificationTime = 0;
    m_hasIndex = false;
    m_hasResidentData = false;
    m_residentData.clear();
    m_hasStreamSizes = false;
    m_streamRealSize = 0;
    m_compressionUnitBytes = 0;
    m_streamInitializedSize = 0;
    m_pieces.clear();
    m_hasAttributeList = false;
    m_attributeListNonResident = false;
    m_listEntries.clear();

    if (!recordData || length < m_recordSize || m_recordSize < kRecordHeaderSize)
        return kStatusInvalid;
    if (std::memcmp(recordData, kSignature, sizeof kSignature) != 0)
        return kStatusInvalid;

    m_record.assign(recordData, recordData + m_recordSize);
    if (!applyUpdateSequence()) {
        m_record.clear();
        return kStatusInvalid;
    }

    m_flags = le::u16(m_record.data() + kFlagsField);
    m_sequence = le::u16(m_record.data() + kSequenceField);
    m_baseReference = le::u64(m_record.data() + kBaseReferenceField);
    if (le::u16(m_record.data() + kUpdateSequenceOffsetField) >= kRecordNumberField + 4)
        m_recordNumber = le::u32(m_record.data() + kRecordNumberField);
    // Unless asked, deleted files, directories (live or not) and records of
    // other kinds that are not in use own nothing we report.
    if (isLiveFile() || m_readUnused)
        walkAttributes(skipData);
    m_record.clear();
    return kStatusOk;
}

bool CMFTRecord::applyUpdateSequence()
{
    const size_t size = m_record.size();
    uint8_t* r = m_record.data();
    const uint16_t arrayOffset = le::u16(r + kUpdateSequenceOffsetField);
    const uint16_t count = le::u16(r + kUpdateSequenceCountField);
    const size_t strides = size / kUpdateStride;

    // The array holds the sequence number itself, then one saved pair of
    // bytes per stride; it must cover every stride and lie in the header.
    if (count != strides + 1 || (arrayOffset & 1u))
        return false;
    if (!le::fits(size, arrayOffset, static_cast<size_t>(count) * 2))
        return false;
    if (arrayOffset + static_cast<size_t>(count) * 2 > kUpdateStride - 2)
        return false;

    const uint16_t sequence = le::u16(r + arrayOffset);
    for (size_t i = 1; i < count; ++i) {
        uint8_t* end = r + i * kUpdateStride - 2;
        if (le::u16(end) != sequence)
            return false; // a torn write: the record cannot be trusted
        const uint8_t* saved = r + arrayOffset + i * 2;
        end[0] = saved[0];
        end[1] = saved[1];
    }
    return true;
}

void CMFTRecord::walkAttributes(bool skipData)
{
    const uint8_t* r = m_record.data();
    const size_t size = m_record.size();
    size_t cursor = le::u16(r + kFirstAttributeField);

    // Every attribute moves the cursor forward by at least the minimum
    // length, so the walk ends within the record.
    for (;;) {
        uint32_t type = 0;
        if (!le::u32(r, size, cursor + kAttrTypeField, type) || type == kTypeEnd)
            return;
        uint32_t attributeLength = 0;
        if (!le::u32(r, size, cursor + kAttrLengthField, attributeLength))
            return;
        // A length of 0 would never move on; one that runs past the record
        // (2000 in a 1024-byte record, say) belongs to a damaged record.
        if (attributeLength < kAttrMinimumLength || attributeLength > size - cursor)
            return;

        const uint8_t* attribute = r + cursor;
        switch (type) {
        case kTypeStandardInformation:
            readStandardInformation(attribute, attributeLength);
            break;
        case kTypeFileName:
            if (!readFileName(attribute, attributeLength))
                return;
            break;
        case kTypeData:
            if (!skipData) {
                readDataRuns(attribute, attributeLength);
                if (m_readUnused)
                    readDataPiece(attribute, attributeLength);
            }
            break;
        case kTypeAttributeList:
            if (m_readUnused)
                readAttributeList(attribute, attributeLength);
            break;
        case kTypeIndexRoot:
        case kTypeIndexAllocation:
            // An index: the record describes a directory-like object.
            m_hasIndex = true;
            return;
        default:
            break;
        }
        cursor += attributeLength;
    }
}

bool CMFTRecord::readResidentValue(const uint8_t* attribute, uint32_t attributeLength, const uint8_t*& value,
                               uint32_t& valueLength)
{
    if (attributeLength < kAttrResidentHeaderSize || attribute[kAttrNonResidentField] != 0)
        return false;
    const uint32_t length = le::u32(attribute + kAttrValueLengthField);
    const uint16_t offset = le::u16(attribute + kAttrValueOffsetField);
    if (!le::fits(attributeLength, offset, length))
        return false;
    value = attribute + offset;
    valueLength = length;
    return true;
}

void CMFTRecord::readStandardInformation(const uint8_t* attribute, uint32_t attributeLength)
{
    const uint8_t* value = nullptr;
    uint32_t valueLength = 0;
    if (!readResidentValue(attribute, attributeLength, value, valueLength))
        return;
    std::memset(m_standardInformation, 0, sizeof m_standardInformation);
    std::memcpy(m_standardInformation, value, std::min<size_t>(valueLength, sizeof m_standardInformation));
    if (le::fits(valueLength, kModificationTimeField, 8))
        m_modificationTime = le::u64(value + kModificationTimeField);
}

bool CMFTRecord::readFileName(const uint8_t* attribute, uint32_t attributeLength)
{
    const uint8_t* value = nullptr;
    uint32_t valueLength = 0;
    if (!readResidentValue(attribute, attributeLength, value, valueLength))
        return attribute[kAttrNonResidentField] != 0; // non-resident: step over; damaged: stop
    if (valueLength < kNameField)
        return false;

    // The name is exactly as long as its length byte says; it carries no
    // terminator, and whatever follows it belongs to something else.
    const unsigned units = value[kNameLengthField];
    if (!le::fits(valueLength, kNameField, static_cast<size_t>(units) * 2))
        return false;

    const bool dosAlias = value[kNamespaceField] == kNamespaceDos;
    // The 8.3 alias never replaces the long name, in whichever order the two
    // attributes come.
    if (dosAlias && m_haveLongName)
        return true;

    m_name = nameFromUnits(value + kNameField, units);
    m_haveLongName = !dosAlias;
    m_parentReference = le::u64(value + kParentReferenceField);

    std::memset(m_fileNameCopy, 0, sizeof m_fileNameCopy);
    std::memcpy(m_fileNameCopy, value, std::min<size_t>(valueLength, sizeof m_fileNameCopy));
    return true;
}

void CMFTRecord::readDataRuns(const uint8_t* attribute, uint32_t attributeLength)
{
    // A resident data value has no clusters on the volume.
    if (attribute[kAttrNonResidentField] == 0 || attributeLength < kAttrNonResidentHeaderSize)
        return;

    const uint64_t realSize = le::u64(attribute + kAttrRealSizeField);
    m_dataSize = realSize > std::numeric_limits<uint64_t>::max() - m_dataSize ? std::numeric_limits<uint64_t>::max()
                                                                              : m_dataSize + realSize;

    // Named streams (alternate data, $Bitmap-like ones) do not hold the
    // file's contents.
    if (attribute[kAttrNameLengthField] != 0)
        return;

    const uint64_t startVcn = le::u64(attribute + kAttrStartVcnField);
    size_t position = le::u16(attribute + kAttrRunListOffsetField);
    if (position < kAttrNonResidentHeaderSize)
        return;

    const int64_t clusterBytes = static_cast<int64_t>(m_bytesPerCluster);
    int64_t cluster = 0;
    bool firstRun = true;
    while (position < attributeLength) {
        const uint8_t header = attribute[position++];
        if (header == 0)
            break;
        const unsigned lengthWidth = header & 0x0Fu;
        const unsigned offsetWidth = header >> 4;
        if (lengthWidth == 0 || lengthWidth > kMaxRunFieldWidth || offsetWidth > kMaxRunFieldWidth)
            break;
        if (!le::fits(attributeLength, position, lengthWidth + offsetWidth))
            break;
        const uint64_t runClusters = le::uN(attribute + position, lengthWidth);
        position += lengthWidth;
        // A sparse run has no offset: it has no clusters on the volume, and
        // the list is not followed past it.
        if (offsetWidth == 0)
            break;
        uint64_t rawOffset = le::uN(attribute + position, offsetWidth);
        position += offsetWidth;
        if (runClusters == 0 || rawOffset == 0)
            break;
        // The offset is signed, relative to the previous run's start.
        if (offsetWidth < 8 && (rawOffset >> (8 * offsetWidth - 1)) & 1u)
            rawOffset |= ~uint64_t(0) << (8 * offsetWidth);
        const int64_t delta = static_cast<int64_t>(rawOffset);
        int64_t next = 0;
        if (__builtin_add_overflow(cluster, delta, &next) || next < 0)
            break;
        cluster = next;
        if (runClusters > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / clusterBytes))
            break;
        const int64_t runBytes = static_cast<int64_t>(runClusters) * clusterBytes;

        if (firstRun && startVcn == 0)
            m_firstCluster = cluster;
        firstRun = false;
        m_runMap.emplace(cluster, runBytes);
    }
}

QString CMFTRecord::nameFromUnits(const uint8_t* units, unsigned count)
{
    std::vector<char16_t> text(count);
    for (unsigned i = 0; i < count; ++i)
        text[i] = static_cast<char16_t>(le::u16(units + 2 * i));
    return CFileNameText::fromUnits(text.data(), text.size());
}

void CMFTRecord::readDataPiece(const uint8_t* attribute, uint32_t attributeLength)
{
    if (attribute[kAttrNameLengthField] != 0)
        return; // a named stream is not the file's contents

    if (attribute[kAttrNonResidentField] == 0) {
        const uint8_t* value = nullptr;
        uint32_t valueLength = 0;
        if (!readResidentValue(attribute, attributeLength, value, valueLength))
            return;
        m_hasResidentData = true;
        m_residentData = QByteArray(reinterpret_cast<const char*>(value), static_cast<int>(valueLength));
        return;
    }
    if (attributeLength < kAttrNonResidentHeaderSize)
        return;

    DataPiece piece;
    piece.firstVcn = le::u64(attribute + kAttrStartVcnField);
    piece.lastVcn = le::u64(attribute + kAttrLastVcnField);
    if (piece.firstVcn == 0 && !m_hasStreamSizes) {
        m_hasStreamSizes = true;
        m_streamRealSize = le::u64(attribute + kAttrRealSizeField);
        m_streamInitializedSize = le::u64(attribute + kAttrInitializedSizeField);
        const uint16_t shift = le::u16(attribute + kAttrCompressionUnitField);
        if ((le::u16(attribute + kAttrFlagsField) & kAttrFlagCompressed) != 0 && shift > 0
            && shift <= kMaxCompressionUnitShift)
            m_compressionUnitBytes = uint64_t(m_bytesPerCluster) << shift;
    }

    size_t position = le::u16(attribute + kAttrRunListOffsetField);
    if (position < kAttrNonResidentHeaderSize)
        return;
    // Virtual clusters stay below 2^62, so sums of two never overflow.
    constexpr uint64_t kVcnLimit = uint64_t(1) << 62;
    if (piece.firstVcn >= kVcnLimit || piece.lastVcn >= kVcnLimit)
        return;
    uint64_t vcn = piece.firstVcn;
    int64_t lcn = 0;
    bool terminated = false;
    while (position < attributeLength) {
        const uint8_t header = attribute[position++];
        if (header == 0) {
            terminated = true;
            break;
        }
        const unsigned lengthWidth = header & 0x0Fu;
        const unsigned offsetWidth = header >> 4;
        if (lengthWidth == 0 || lengthWidth > kMaxRunFieldWidth || offsetWidth > kMaxRunFieldWidth)
            break;
        if (!le::fits(attributeLength, position, lengthWidth + offsetWidth))
            break;
        const uint64_t clusters = le::uN(attribute + position, lengthWidth);
        position += lengthWidth;
        if (clusters == 0 || clusters >= kVcnLimit - vcn)
            break;
        DataRun run;
        run.vcn = vcn;
        run.clusters = clusters;
        if (offsetWidth == 0) {
            run.lcn = kSparseRun;
        } else {
            uint64_t rawOffset = le::uN(attribute + position, offsetWidth);
            position += offsetWidth;
            if (offsetWidth < 8 && (rawOffset >> (8 * offsetWidth - 1)) & 1u)
                rawOffset |= ~uint64_t(0) << (8 * offsetWidth);
            int64_t next = 0;
            if (__builtin_add_overflow(lcn, static_cast<int64_t>(rawOffset), &next) || next < 0)
                break;
            lcn = next;
            run.lcn = lcn;
        }
        piece.runs.push_back(run);
        vcn += clusters;
    }
    piece.whole = terminated && vcn == piece.lastVcn + 1;
    m_pieces.push_back(std::move(piece));
}

void CMFTRecord::readAttributeList(const uint8_t* attribute, uint32_t attributeLength)
{
    m_hasAttributeList = true;
    if (attribute[kAttrNonResidentField] != 0) {
        m_attributeListNonResident = true;
        return;
    }
    const uint8_t* value = nullptr;
    uint32_t valueLength = 0;
    if (!readResidentValue(attribute, attributeLength, value, valueLength))
        return;
    // Every entry moves the cursor forward by at least the minimum length.
    size_t cursor = 0;
    while (le::fits(valueLength, cursor, kListMinimumLength)) {
        const uint16_t entryLength = le::u16(value + cursor + kListLengthField);
        if (entryLength < kListMinimumLength || entryLength > valueLength - cursor)
            break;
        const uint8_t* entry = value + cursor;
        if (le::u32(entry + kListTypeField) == kTypeData && entry[kListNameLengthField] == 0) {
            ListEntry e;
            e.firstVcn = le::u64(entry + kListStartVcnField);
            e.reference = le::u64(entry + kListReferenceField);
            m_listEntries.push_back(e);
        }
        cursor += entryLength;
    }
}
