#pragma once

#include "scan/CFileNode.h"

#include <QDateTime>
#include <QString>
#include <QVector>

#include <cstddef>
#include <cstdint>

// One 32-byte entry of a FAT directory (FAT12, FAT16 and FAT32 alike): its
// fields, its short name, and the record of a file known by it. Everything
// here reads the entry's own 32 bytes and nothing else.
class CFatDirectoryEntry
{
public:
    static constexpr size_t kSize = 32;
    static constexpr size_t kShortNameLength = 11;
    static constexpr size_t kAttributeField = 11;
    static constexpr uint8_t kEnd = 0x00;
    static constexpr uint8_t kDeleted = 0xE5;
    static constexpr uint8_t kAttrVolumeLabel = 0x08;
    static constexpr uint8_t kAttrDirectory = 0x10;

    // Long-name pieces.
    static constexpr size_t kLongOrdinalField = 0;
    static constexpr size_t kLongTypeField = 12;
    static constexpr size_t kLongChecksumField = 13;
    static constexpr size_t kLongClusterField = 26;
    static constexpr int kLongMaxOrdinal = 20;
    static constexpr int kLongUnitsPerEntry = 13;
    // Where a piece's 13 UTF-16 units lie.
    static const size_t kLongUnitOffsets[kLongUnitsPerEntry];

    static uint8_t attribute(const uint8_t* entry) { return entry[kAttributeField]; }
    static bool isLongNamePiece(const uint8_t* entry);
    // The first cluster, both halves (CFatGeometry::startCluster() knows
    // whether the high one counts).
    static uint32_t startCluster(const uint8_t* entry);
    static int64_t size(const uint8_t* entry);
    // The modification time (local time); invalid when the fields are no
    // date.
    static QDateTime modified(const uint8_t* entry);

    // The short-name checksum that long-name pieces carry.
    static uint8_t shortNameChecksum(const uint8_t* shortName);
    // The short name as "NAME.EXT", with the lower-case flags applied; the
    // first byte, when given (>= 0), replaces the stored one.
    static QString shortNameText(const uint8_t* entry, int firstByte);
    // Whether the entry is one a directory could hold: a long-name piece as
    // the format writes it, or a short entry whose name and attributes are
    // possible. Tells a deleted directory's clusters from other data.
    static bool plausible(const uint8_t* entry);
    // First bytes that end the reading of a root directory cluster: the end
    // marker, control bytes and characters no short name may hold.
    static bool endsRootCluster(uint8_t first);
    // Whether a directory cluster after a directory's first could hold
    // these bytes: entries that are all plausible() up to the end marker,
    // and not the end marker first.
    static bool holdsEntries(const uint8_t* entries, size_t length);
    // Whether the bytes hold a short entry with a long-name piece in front
    // of it whose checksum names it: what tells a directory's cluster from
    // text that happens to look like entries (any bytes from 0x20 do).
    static bool holdsCheckedLongName(const uint8_t* entries, size_t length);
    // Whether a cluster's first two entries are "." (naming `cluster`) and
    // "..": the start of a directory.
    static bool startsDirectory(const uint8_t* entries, size_t length, uint32_t cluster);

    // The record of a file known by its directory entry: the name it is
    // shown under (a name whose extension says another of our types is
    // given the one its bytes say, so that the document is recovered as
    // what it is), its folder, time and data. `byName` is the type its
    // extension says; `found` the bytes `extents` hold.
    static CFileNode record(const uint8_t* entry, const QString& nameText, const QString& folder, int byName,
                            int typeCode, int64_t found, const QVector<CFileNode::Extent>& extents);
};
