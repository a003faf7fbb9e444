#include "filesystems/CFatLongName.h"

#include "disk/LittleEndian.h"
#include "filesystems/CFatDirectoryEntry.h"
#include "filesystems/CFileNameText.h"

#include <cstring>

namespace {

using Entry = CFatDirectoryEntry;

constexpr uint8_t kLongLastFlag = 0x40;
constexpr uint8_t kLongOrdinalMask = 0x1F;

// The units of a long name up to its end (a NUL or the 0xFFFF padding),
// made safe (CFileNameText).
QString unitsText(const std::vector<char16_t>& units)
{
    size_t length = 0;
    while (length < units.size() && units[length] != 0 && units[length] != 0xFFFF)
        ++length;
    return CFileNameText::fromUnits(units.data(), length);
}

// Characters a short name may hold besides letters and digits.
bool isShortNameSymbol(char16_t c)
{
    switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '(': case ')': case '-': case '@':
    case '^': case '_': case '`': case '{': case '}': case '~':
        return true;
    default:
        return false;
    }
}

} // namespace

void CFatLongName::reset()
{
    resetLive();
    resetDeleted();
}

void CFatLongName::resetLive()
{
    m_units.clear();
    m_nextOrdinal = 0;
}

void CFatLongName::addLive(const uint8_t* entry)
{
    const uint8_t ordinalByte = entry[Entry::kLongOrdinalField];
    const int ordinal = ordinalByte & kLongOrdinalMask;
    const bool wellFormed = entry[Entry::kLongTypeField] == 0 && le::u16(entry + Entry::kLongClusterField) == 0
        && ordinal >= 1 && ordinal <= Entry::kLongMaxOrdinal;
    if (!wellFormed) {
        resetLive();
        return;
    }
    if (ordinalByte & kLongLastFlag) {
        // The physically first entry holds the last piece of the name.
        resetLive();
        m_units.assign(static_cast<size_t>(ordinal) * Entry::kLongUnitsPerEntry, 0);
        m_checksum = entry[Entry::kLongChecksumField];
    } else if (m_nextOrdinal != ordinal || entry[Entry::kLongChecksumField] != m_checksum) {
        resetLive();
        return;
    }
    const size_t base = static_cast<size_t>(ordinal - 1) * Entry::kLongUnitsPerEntry;
    for (int i = 0; i < Entry::kLongUnitsPerEntry; ++i)
        m_units[base + i] = static_cast<char16_t>(le::u16(entry + Entry::kLongUnitOffsets[i]));
    m_nextOrdinal = ordinal - 1;
}

void CFatLongName::addDeleted(const uint8_t* piece)
{
    if (m_deleted.size() >= static_cast<size_t>(Entry::kLongMaxOrdinal))
        m_deleted.erase(m_deleted.begin());
    std::array<uint8_t, Entry::kSize> copy;
    std::memcpy(copy.data(), piece, Entry::kSize);
    m_deleted.push_back(copy);
}

bool CFatLongName::liveNameFits(const uint8_t* entry) const
{
    return !m_units.empty() && m_nextOrdinal == 0 && m_checksum == Entry::shortNameChecksum(entry);
}

QString CFatLongName::liveText() const
{
    return unitsText(m_units);
}

CFatLongName::Name CFatLongName::liveName(const uint8_t* entry) const
{
    Name name;
    if (liveNameFits(entry)) {
        name.text = liveText();
        name.fromLongName = !name.text.isEmpty();
    }
    if (!name.fromLongName)
        name.text = Entry::shortNameText(entry, -1);
    return name;
}

CFatLongName::Name CFatLongName::deletedName(const uint8_t* entry) const
{
    Name name;
    // The name is the run of pieces next to the short entry that carry the
    // checksum of the one beside it (0xE5 took their order numbers, so
    // nothing else tells where the name starts). The piece holding the
    // name's end (its NUL) is the name's last piece and lies first; pieces
    // before it, or of another checksum, or malformed, are what is left of
    // a name deleted before.
    size_t count = 0;
    uint8_t checksum = 0;
    if (!m_deleted.empty())
        checksum = m_deleted.back()[Entry::kLongChecksumField];
    while (count < m_deleted.size()) {
        const uint8_t* piece = m_deleted[m_deleted.size() - 1 - count].data();
        if (piece[Entry::kLongTypeField] != 0 || le::u16(piece + Entry::kLongClusterField) != 0
            || piece[Entry::kLongChecksumField] != checksum)
            break;
        ++count;
        bool ends = false;
        for (size_t offset : Entry::kLongUnitOffsets)
            ends = ends || le::u16(piece + offset) == 0;
        if (ends)
            break;
    }
    if (count > 0) {
        const size_t skipped = m_deleted.size() - count;
        std::vector<char16_t> units(count * Entry::kLongUnitsPerEntry, 0);
        for (size_t j = 0; j < count; ++j) {
            const uint8_t* piece = m_deleted[skipped + j].data();
            // The pieces lie last first: the one next to the short entry
            // holds the name's start.
            const size_t base = (count - 1 - j) * Entry::kLongUnitsPerEntry;
            for (int i = 0; i < Entry::kLongUnitsPerEntry; ++i)
                units[base + i] = static_cast<char16_t>(le::u16(piece + Entry::kLongUnitOffsets[i]));
        }
        const QString text = unitsText(units);
        if (!text.isEmpty()) {
            // The short name's first byte, as a formatter derives it from
            // the long name: its first character (leading dots and spaces
            // dropped) in upper case, "_" for one a short name cannot hold,
            // or a code-page byte for a character past ASCII.
            int at = 0;
            while (at < text.size() && (text[at] == '.' || text[at] == ' '))
                ++at;
            const char16_t c = at < text.size() ? text[at].unicode() : u'_';
            uint8_t shortName[Entry::kShortNameLength];
            std::memcpy(shortName, entry, Entry::kShortNameLength);
            auto matches = [&](int byte) {
                shortName[0] = static_cast<uint8_t>(byte);
                return Entry::shortNameChecksum(shortName) == checksum;
            };
            bool accepted = matches('_');
            if (!accepted && c < 0x80) {
                const char16_t upper = (c >= 'a' && c <= 'z') ? static_cast<char16_t>(c - 'a' + 'A') : c;
                if ((upper >= 'A' && upper <= 'Z') || (upper >= '0' && upper <= '9') || isShortNameSymbol(upper))
                    accepted = matches(upper);
            } else if (!accepted) {
                for (int byte = 0x80; byte <= 0xFF && !accepted; ++byte)
                    accepted = matches(byte);
            }
            if (accepted) {
                name.text = text;
                name.fromLongName = true;
                return name;
            }
        }
    }
    // The first character is lost: "_" stands for it, as other tools show.
    name.text = Entry::shortNameText(entry, '_');
    return name;
}
