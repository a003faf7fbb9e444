#pragma once

#include "disk/CUnreadableRanges.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

// A map of what an imaging run read, in GNU ddrescue's mapfile format, so
// that ddrescue can go on from a map this program wrote and this program
// can use one that ddrescue wrote.
//
// The text: comment lines start with '#'; the first other line is the
// status line "POS STATUS [PASS]"; every line after it is a block
// "POS SIZE STATUS". Numbers are written in hexadecimal (0x...), read in
// any base C's strtoll takes (decimal, 0x hex, leading-0 octal). A block's
// status is one of:
//   '?' not tried yet, '*' skipped after an error (not yet narrowed),
//   '/' narrowed at both ends but not tried inside, '-' bad sector,
//   '+' read.
// The blocks are in ascending order and neither overlap nor leave gaps.
class CDdrescueMap
{
public:
    enum Status : char
    {
        NonTried = '?',
        NonTrimmed = '*',
        NonScraped = '/',
        BadSector = '-',
        Finished = '+',
    };

    struct Block
    {
        int64_t offset = 0;
        int64_t length = 0;
        char status = NonTried;
        bool operator==(const Block& o) const
        {
            return offset == o.offset && length == o.length && status == o.status;
        }
    };

    // Refused: more blocks than this (a map of a whole disk in bad shape has
    // thousands; a line is at least ~30 bytes).
    static constexpr size_t kMaxBlocks = 4 * 1024 * 1024;

    // Reads a mapfile's text. False, with a reason naming the line, when it
    // is not one.
    static bool parse(const QByteArray& text, CDdrescueMap* map, QString* error);

    // A map of `length` bytes, none tried.
    static CDdrescueMap untried(int64_t length);

    // Sets [offset, offset + length) to `status`, cutting the blocks it
    // overlaps and joining neighbours of the same status. Outside the
    // blocks so far, the map grows (the gap before reads as not tried).
    void set(int64_t offset, int64_t length, char status);

    const std::vector<Block>& blocks() const { return m_blocks; }
    // The end of the last block.
    int64_t extent() const;
    // Bytes with `status`.
    int64_t bytesWith(char status) const;
    // The stretches with `status`.
    CUnreadableRanges stretchesWith(char status) const;
    // Every byte not read (anything but '+'): what an image made under
    // this map holds zeros for.
    CUnreadableRanges unread() const;

    int64_t currentPosition() const { return m_position; }
    char currentStatus() const { return m_currentStatus; }
    void setCurrent(int64_t position, char status)
    {
        m_position = position;
        m_currentStatus = status;
    }

    // The mapfile's text, with `commandLine` in its header.
    QByteArray text(const QString& commandLine) const;

private:
    std::vector<Block> m_blocks;
    int64_t m_position = 0;
    char m_currentStatus = '?';
    int m_pass = 1;
};
