#pragma once

#include "filesystems/IAllocationMap.h"

#include <cstdint>
#include <memory>
#include <vector>

// The allocation maps of the file systems on one source, each placed at
// its volume's byte offset on the source (a partition's start; 0 for a
// source that is one volume). A question in source offsets goes to the map
// whose volume holds them, in that volume's own offsets; bytes no volume
// holds are not in use.
//
// Filled by the scan worker before the raw pass starts, then only asked:
// add() is not safe against concurrent questions, the questions are safe
// among themselves (see IAllocationMap).
class CAllocationMapSet : public IAllocationMap
{
public:
    // Places `map` for the volume [offset, offset + length) of the source.
    // Volumes that overlap one already placed are refused (false): one
    // byte has one owner.
    bool add(int64_t offset, int64_t length, std::shared_ptr<const IAllocationMap> map);
    bool empty() const { return m_parts.empty(); }
    void clear() { m_parts.clear(); }

    bool inUse(int64_t offset) const override;
    int64_t bytesInUse(int64_t offset, int64_t length) const override;
    bool orphaned(int64_t offset) const override;

private:
    struct Part
    {
        int64_t offset;
        int64_t length;
        std::shared_ptr<const IAllocationMap> map;
    };
    std::vector<Part> m_parts; // in ascending offset order
};
