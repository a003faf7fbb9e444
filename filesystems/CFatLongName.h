#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

// The long name that the pieces in front of a short entry spell, as a
// directory is read entry by entry. Live pieces carry their order numbers
// and are gathered by them; a deleted entry has lost its first byte (0xE5
// replaces it) and so have its pieces (their order number): those in front
// of it count when their checksums agree with the short name whose first
// byte is restored from the long name.
//
// A name may begin at the end of one directory cluster and end in the next
// one of the chain: pieces are copied, never pointed at.
class CFatLongName
{
public:
    // What one short entry is named.
    struct Name
    {
        QString text;      // the long name, or the short one as "NAME.EXT"
        bool fromLongName = false;
    };

    void reset();
    void resetLive();
    void resetDeleted() { m_deleted.clear(); }

    // A live long-name piece, in the order it lies.
    void addLive(const uint8_t* piece);
    // A deleted long-name piece, in the order it lies. At most a long
    // name's worth are kept: older ones belong to an entry deleted before.
    void addDeleted(const uint8_t* piece);

    // Whether the live pieces gathered spell a whole name that belongs to
    // the short entry `entry`.
    bool liveNameFits(const uint8_t* entry) const;
    // That name's text (made safe), when liveNameFits().
    QString liveText() const;

    // The name of a live short entry: the long name when it fits, the
    // short one otherwise.
    Name liveName(const uint8_t* entry) const;
    // The name of a deleted short entry, from the deleted pieces in front
    // of it; the short name with "_" for its lost first byte otherwise.
    Name deletedName(const uint8_t* entry) const;

private:
    std::vector<char16_t> m_units;
    int m_nextOrdinal = 0; // the ordinal the next live piece must carry; 0: none pending
    uint8_t m_checksum = 0;
    std::vector<std::array<uint8_t, 32>> m_deleted;
};
