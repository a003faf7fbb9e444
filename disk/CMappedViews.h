#pragma once

#include <cstddef>
#include <cstdint>

// The read-only views of sources that passes read in place (see
// IVolume::mapView), and what keeps a damaged one from killing the program.
//
// A view's page that can no longer be read raises SIGBUS when it is
// touched: the source was cut short since the view was made, or the disk
// fails on a page that had left the cache. For an address inside a listed
// view the handler maps zeros over the rest of that view and counts them,
// so the read goes on as a read of unreadable bytes does (zeros, counted);
// any other SIGBUS goes to whatever handled it before.
class CMappedViews
{
public:
    // Lists a view; false when the list is full (the caller then reads
    // instead of viewing).
    static bool add(const uint8_t* view, size_t length);
    // Bytes of the view that read as zeros because they could not be read.
    static int64_t lost(const uint8_t* view);
    // Takes a view off the list, before it is unmapped; returns lost().
    static int64_t remove(const uint8_t* view);

    static constexpr int kSlots = 64;
};
