#pragma once

#include "scan/CFileNode.h"

#include <QString>
#include <QVector>

#include <cstdint>
#include <vector>

class IVolume;

// The bytes of a compressed NTFS data stream, unit by unit. The stream is
// stored as compression units of a fixed size (in file order, as the
// entry's extents give them): a unit whose clusters are all on the volume
// holds its bytes as they are, a unit that is all sparse holds zeros, and
// a unit with a sparse tail holds LZNT1 chunks in its leading clusters.
//
// Every reader of such a file's bytes (the details pass, the integrity
// check, the recovery) goes through this one class, so that they all see
// the same decompressed bytes and agree on which unit is damaged.
class CCompressedUnits
{
public:
    enum class Status
    {
        Ok,
        Unreadable,  // the volume failed to give the unit's clusters
        Undecodable, // the clusters do not decompress: overwritten, or damaged
    };

    // `stored`: the stream's runs in file order (kSparse where nothing is
    // stored), covering whole units; `size`: the file's length.
    CCompressedUnits(IVolume* volume, const QVector<CFileNode::Extent>& stored, int64_t unitBytes, int64_t size);

    int64_t unitBytes() const { return m_unitBytes; }
    int64_t size() const { return m_size; }
    // Units the file spans.
    int64_t unitCount() const;

    // The decoded bytes of unit `index`, unitBytes() of them, into `out`.
    Status readUnit(int64_t index, uint8_t* out);
    // `length` bytes at `position` of the file (through a one-unit cache);
    // `failedUnit` receives the unit that failed.
    Status read(int64_t position, uint8_t* out, int64_t length, int64_t* failedUnit = nullptr);

    // Why unit `index` is not the file's bytes, in words for a user.
    static QString undecodableReason(int64_t index, int64_t unitBytes);

    // A reasonable unit size: a power of two from one 4 KiB chunk to 1 MiB.
    static bool validUnitBytes(int64_t unitBytes);

private:
    IVolume* m_volume = nullptr;
    QVector<CFileNode::Extent> m_stored;
    // Stream position at which each stored run starts.
    std::vector<int64_t> m_starts;
    int64_t m_storedLength = 0;
    int64_t m_unitBytes = 0;
    int64_t m_size = 0;
    std::vector<uint8_t> m_input;
    std::vector<uint8_t> m_cached;
    int64_t m_cachedUnit = -1;
};
