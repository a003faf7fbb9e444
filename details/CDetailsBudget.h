#pragma once

#include <cstdint>

// What reading one document's details and checking it may cost at most.
// A document that needs more is left with what was read by then: no
// details, or an integrity it could not judge.
struct CDetailsBudget
{
    // Bytes fetched from the volume.
    int64_t readBytes = int64_t(1) << 20;
    // Bytes produced by inflating (metadata members, object and xref streams,
    // the members whose CRC-32 is checked).
    int64_t inflatedBytes = int64_t(16) << 20;
    // Parsed items of any kind (dictionary keys, cross-reference entries,
    // directory entries, archive members, chain steps).
    int64_t items = 200000;
    // A document up to this size is read whole at once and parsed in place
    // (not charged; its reads still are). 0: always read piece by piece.
    int64_t preloadBytes = int64_t(1) << 20;

    // The budget of the later pass that checks documents too large for the
    // first: enough for an archive or a PDF of a few hundred MiB.
    static CDetailsBudget large()
    {
        CDetailsBudget b;
        b.readBytes = int64_t(512) << 20;
        b.inflatedBytes = int64_t(2) << 30;
        b.items = 4000000;
        return b;
    }
};
