#include "filesystems/CFatNameSeam.h"

#include "filesystems/CFatDirectoryEntry.h"

namespace {

using Entry = CFatDirectoryEntry;

// The order number's bits, and the flag of a name's last (first stored) piece.
constexpr uint8_t kOrdinalMask = 0x1F;
constexpr uint8_t kLastPieceFlag = 0x40;

bool livePiece(const uint8_t* e)
{
    const uint8_t ordinal = e[Entry::kLongOrdinalField];
    return Entry::isLongNamePiece(e) && ordinal != Entry::kDeleted && ordinal != Entry::kEnd
        && (ordinal & kOrdinalMask) != 0 && (ordinal & kOrdinalMask) <= Entry::kLongMaxOrdinal;
}

} // namespace

CFatNameSeam::Key CFatNameSeam::tail(const uint8_t* cluster, size_t bytes)
{
    Key key;
    const size_t count = bytes / Entry::kSize;
    if (count == 0)
        return key;
    const uint8_t* last = cluster + (count - 1) * Entry::kSize;
    if (!livePiece(last))
        return key;
    // The pieces stand in falling order, the last stored one numbered 1
    // when the name ends here; its short entry is then on the other side.
    const int ordinal = last[Entry::kLongOrdinalField] & kOrdinalMask;
    key.valid = true;
    key.checksum = last[Entry::kLongChecksumField];
    key.ordinal = ordinal - 1;
    return key;
}

CFatNameSeam::Key CFatNameSeam::head(const uint8_t* cluster, size_t bytes)
{
    Key key;
    if (bytes < Entry::kSize || !Entry::plausible(cluster))
        return key;
    if (Entry::isLongNamePiece(cluster)) {
        // A name that starts here is no seam.
        if (!livePiece(cluster) || (cluster[Entry::kLongOrdinalField] & kLastPieceFlag))
            return key;
        key.valid = true;
        key.checksum = cluster[Entry::kLongChecksumField];
        key.ordinal = cluster[Entry::kLongOrdinalField] & kOrdinalMask;
        return key;
    }
    if (cluster[0] == Entry::kEnd || cluster[0] == Entry::kDeleted)
        return key;
    key.valid = true;
    key.checksum = Entry::shortNameChecksum(cluster);
    key.ordinal = 0;
    return key;
}
