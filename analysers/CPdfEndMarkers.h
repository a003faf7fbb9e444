#pragma once

#include <cstdint>
#include <vector>

// Scans each block once for every open PDF analyser at once, and finds what
// they need to tell where a PDF ends:
// - every "%%EOF" followed by a line end ("\n", "\r\n", "\r") or by a zero
//   byte (the end of a deleted file), with the volume offset just past its
//   line end and the number after the "startxref" just before it;
// - where "xref" keywords (at a line start) and object headers ("N G obj")
//   begin: a startxref value counted from a PDF's first byte that lands on
//   one of them confirms that PDF's marker.
// The last bytes of each block are carried into the next, so a keyword or
// a marker cut by a block or window edge is found from the block that
// holds its last byte (for a marker, the byte that decides its line end).
class CPdfEndMarkers
{
public:
    static constexpr int kMarkerLength = 5; // "%%EOF"
    // Bytes of the previous block kept for look-back: room for the longest
    // "startxref" line before a marker and the longest object header.
    static constexpr int kCarry = 64;

    struct Marker
    {
        int64_t start;     // volume offset of the first "%"
        int64_t end;       // just past the marker's line end
        int64_t startxref; // the number before it, or -1
    };

    // Scans one block (of at least kCarry bytes). Blocks are scanned in
    // volume order; a block not scanned breaks the carry-over.
    void scan(const uint8_t* block, int blockSize, int64_t blockIndex);

    // The block last scanned, and what it held (ascending offsets).
    int64_t blockIndex() const { return m_blockIndex; }
    const std::vector<Marker>& markers() const { return m_markers; }
    const std::vector<int64_t>& xrefs() const { return m_xrefs; }
    const std::vector<int64_t>& objects() const { return m_objects; }

private:
    std::vector<uint8_t> m_joined; // carry, then the block
    std::vector<Marker> m_markers;
    std::vector<int64_t> m_xrefs;
    std::vector<int64_t> m_objects;
    int64_t m_blockIndex = -1;
    int m_blockSize = 0;
};
