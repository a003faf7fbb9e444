#pragma once

#include <cstdint>

// Which bytes of a volume the file system marks in use: the clusters that
// its allocation table (the FAT, the NTFS $Bitmap) says belong to a file or
// to the file system itself.
//
// Offsets are bytes from the start of the volume the map was made for (a
// partition's own view when the source holds several; CAllocationMapSet puts
// such maps at their partitions' offsets on the source). Bytes the table
// does not describe (reserved sectors, the FATs, a tail past the last
// cluster, anything past the volume) are not in use, and neither are
// clusters whose table entry could not be read: the answer is "in use" only
// when the file system says so, so that nothing is hidden on a guess.
//
// Answers come from reads of the table as questions arrive (a small cache
// of table blocks), never from a copy of the whole table, so that an
// 8 TiB volume costs no more memory than a small one.
//
// Thread rules: the maps are safe to ask from any number of threads at once
// (the carving thread, a recovery, the interface thread). They read the
// volume through IVolume's positioned reads, which allow that, and guard
// their cache with their own lock. The volume must outlive the map; the
// implementations here hold a shared pointer to it.
class IAllocationMap
{
public:
    virtual ~IAllocationMap() = default;

    // Whether the byte at `offset` lies in a cluster marked in use.
    virtual bool inUse(int64_t offset) const = 0;

    // How many bytes of [offset, offset + length) lie in clusters marked in
    // use (0 for an empty or negative range).
    virtual int64_t bytesInUse(int64_t offset, int64_t length) const = 0;

    // Whether the byte at `offset` lies in a cluster that the table marks
    // in use but that no live file reaches (a lost chain after a crash).
    // Such clusters are not in use for the questions above: what lies there
    // is lost to its owner. False where the map cannot tell.
    virtual bool orphaned(int64_t offset) const
    {
        (void)offset;
        return false;
    }
};
