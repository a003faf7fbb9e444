#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <vector>

// One record of the NTFS master file table, parsed from bytes the caller has
// already read. It performs no I/O and never looks past the record it is
// given: every field, attribute, value and run is checked against the record
// before it is read, and a record that breaks those bounds simply stops
// yielding anything further.
//
// The record is copied before parsing, because the update sequence array has
// to be put back into the last two bytes of every 512-byte stride: until it
// is, those bytes hold the sequence number, and a run list or a name that
// crosses them reads wrong.
class CMFTRecord
{
public:
    static constexpr uint32_t kStatusOk = 0;
    // The platform's "invalid parameter", used for bad arguments and bad
    // records alike.
    static constexpr uint32_t kStatusInvalid = 87;

    // The size of a file name value's fixed part plus room for the longest
    // name NTFS allows (255 units, with margin to 512).
    static constexpr size_t kFileNameCopySize = 1090;
    static constexpr size_t kStandardInformationCopySize = 40;

    CMFTRecord();
    virtual ~CMFTRecord();

    CMFTRecord(const CMFTRecord&) = delete;
    CMFTRecord& operator=(const CMFTRecord&) = delete;

    // Record size and cluster size in bytes. 87 (and nothing changed) when
    // either is 0 or odd, or the record size is not a multiple of the
    // 512-byte update sequence stride.
    uint32_t setRecordGeometry(uint32_t recordSize, uint32_t bytesPerCluster);

    // Whether records that are not live files (deleted files, directories,
    // extension records) are read past their header too. Off by default:
    // the live-file pass only needs live files.
    void setReadUnused(bool on) { m_readUnused = on; }

    // Parses the record at `recordData`, of which `length` bytes are
    // available. 87 for no data, too few bytes, a signature other than
    // "FILE" (a record marked "BAAD" included) or an update sequence that
    // does not match; 0 otherwise, also when nothing could be extracted.
    // With `skipData` the data attributes are stepped over.
    uint32_t parseRecord(const uint8_t* recordData, uint32_t length, bool skipData);

    // The file's name as stored, whole. When a record carries both a long
    // name and its DOS alias, the long name wins whatever their order.
    QString name() const { return m_name; }
    // The name in the local 8-bit encoding (UTF-8 here), for the extension
    // tests.
    QByteArray nameBytes() const { return m_name.toLocal8Bit(); }

    // Logical cluster where the unnamed data stream begins (its first run,
    // VCN 0); 0 when no such run is known.
    int64_t firstCluster() const { return m_firstCluster; }
    // The unnamed data stream's runs: starting cluster -> length in bytes,
    // in ascending cluster order.
    const std::map<int64_t, int64_t>& runMap() const { return m_runMap; }

    bool inUse() const { return (m_flags & kFlagInUse) != 0; }
    bool isDirectory() const { return (m_flags & kFlagDirectory) != 0; }
    // A live file (in use and not a directory); only those are parsed past
    // the header.
    bool isLiveFile() const { return inUse() && !isDirectory(); }

    // Sum of the real sizes of the non-resident data attributes.
    uint64_t dataSize() const { return m_dataSize; }

    // Raw copies of the standard information value (first 40 bytes) and of
    // the file name value that gave the name.
    const uint8_t* standardInformation() const { return m_standardInformation; }
    const uint8_t* fileNameCopy() const { return m_fileNameCopy; }

    uint32_t recordSize() const { return m_recordSize; }

    // What a deleted file's record still tells (read for every record when
    // setReadUnused(true) was given).

    // One run of a data stream in file order: `clusters` clusters from
    // virtual cluster `vcn`, at logical cluster `lcn`, or nowhere on the
    // volume (lcn == kSparseRun) when the stream holds zeros there.
    static constexpr int64_t kSparseRun = -1;
    struct DataRun
    {
        uint64_t vcn = 0;
        int64_t lcn = 0;
        uint64_t clusters = 0;
    };
    // One non-resident piece of the unnamed data stream as stored in this
    // record: the run list covers virtual clusters firstVcn..lastVcn.
    // `whole` is false when the list could not be decoded to its end or
    // does not cover exactly what the header says.
    struct DataPiece
    {
        uint64_t firstVcn = 0;
        uint64_t lastVcn = 0;
        std::vector<DataRun> runs;
        bool whole = false;
    };
    // One entry of an attribute list that places a piece of the unnamed
    // data stream: the piece starting at `firstVcn` lives in the record
    // `reference` (record number in the low 48 bits, sequence above).
    struct ListEntry
    {
        uint64_t firstVcn = 0;
        uint64_t reference = 0;
    };

    // The record's sequence number (bumped each time the record is freed).
    uint16_t sequenceNumber() const { return m_sequence; }
    // The record's own number as its header states it, or -1 when the
    // header is of a format that did not keep it. What tells a record found
    // outside any table (a formatted volume's old one) its place.
    int64_t recordNumber() const { return m_recordNumber; }
    // The base record of an extension record (0 for a base record).
    uint64_t baseReference() const { return m_baseReference; }
    // The folder of the chosen name: record number and sequence.
    uint64_t parentReference() const { return m_parentReference; }
    // The standard information's modification time (Windows FILETIME, 0 when
    // not known).
    uint64_t modificationTime() const { return m_modificationTime; }
    // The record holds an index (a directory, live or not).
    bool hasIndex() const { return m_hasIndex; }

    // The unnamed data stream: resident bytes, or the sizes and the pieces
    // of its run list held in this record.
    bool hasResidentData() const { return m_hasResidentData; }
    const QByteArray& residentData() const { return m_residentData; }
    // Sizes from the piece that starts at virtual cluster 0 (only that piece
    // carries them).
    bool hasStreamSizes() const { return m_hasStreamSizes; }
    uint64_t streamRealSize() const { return m_streamRealSize; }
    uint64_t streamInitializedSize() const { return m_streamInitializedSize; }
    // Bytes per compression unit when the stream is stored compressed (from
    // the piece at virtual cluster 0); 0 otherwise.
    uint64_t compressionUnitBytes() const { return m_compressionUnitBytes; }
    const std::vector<DataPiece>& dataPieces() const { return m_pieces; }

    // The attribute list: present at all, held outside the record (not
    // followed), and its entries for the unnamed data stream.
    bool hasAttributeList() const { return m_hasAttributeList; }
    bool attributeListNonResident() const { return m_attributeListNonResident; }
    const std::vector<ListEntry>& attributeList() const { return m_listEntries; }

    // Builds a file name from its little-endian UTF-16 units, made safe as
    // CFileNameText makes every name (an unpaired surrogate, a NUL or a "/"
    // becomes U+FFFD).
    static QString nameFromUnits(const uint8_t* units, unsigned count);
    uint32_t bytesPerCluster() const { return m_bytesPerCluster; }

private:
    static constexpr uint16_t kFlagInUse = 0x0001;
    static constexpr uint16_t kFlagDirectory = 0x0002;

    bool applyUpdateSequence();
    void walkAttributes(bool skipData);
    // Returns false when the walk must stop (a damaged value).
    bool readFileName(const uint8_t* attribute, uint32_t attributeLength);
    void readStandardInformation(const uint8_t* attribute, uint32_t attributeLength);
    void readDataRuns(const uint8_t* attribute, uint32_t attributeLength);
    void readDataPiece(const uint8_t* attribute, uint32_t attributeLength);
    void readAttributeList(const uint8_t* attribute, uint32_t attributeLength);
    // Resident value of the attribute, bounded by the attribute; false when
    // the attribute is non-resident or its value does not fit in it.
    static bool readResidentValue(const uint8_t* attribute, uint32_t attributeLength, const uint8_t*& value,
                              uint32_t& valueLength);

    std::vector<uint8_t> m_record;
    uint32_t m_recordSize = 1024;
    uint32_t m_bytesPerCluster = 4096;
    uint8_t m_standardInformation[kStandardInformationCopySize] = {};
    uint8_t m_fileNameCopy[kFileNameCopySize] = {};
    uint64_t m_dataSize = 0;
    uint16_t m_flags = 0;
    int64_t m_firstCluster = 0;
    QString m_name;
    bool m_haveLongName = false;
    std::map<int64_t, int64_t> m_runMap;

    bool m_readUnused = false;
    uint16_t m_sequence = 0;
    uint64_t m_baseReference = 0;
    int64_t m_recordNumber = -1;
    uint64_t m_parentReference = 0;
    uint64_t m_modificationTime = 0;
    bool m_hasIndex = false;
    bool m_hasResidentData = false;
    QByteArray m_residentData;
    bool m_hasStreamSizes = false;
    uint64_t m_streamRealSize = 0;
    uint64_t m_streamInitializedSize = 0;
    uint64_t m_compressionUnitBytes = 0;
    std::vector<DataPiece> m_pieces;
    bool m_hasAttributeList = false;
    bool m_attributeListNonResident = false;
    std::vector<ListEntry> m_listEntries;
};
