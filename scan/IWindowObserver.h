#pragma once

#include <cstdint>

// Something that looks at the bytes the carving pass reads, window by
// window, so that a search through the unused space needs no reading of
// its own. Windows come in ascending order, one call at a time, while the
// carving pass carves them (on another thread), each valid only during the
// call; `offset` is in bytes from the start of the
// source. Only the unused space is shown unless the whole source is read,
// and stretches that could not be read show as zeros.
class IWindowObserver
{
public:
    virtual ~IWindowObserver() = default;
    virtual void observeWindow(int64_t offset, const uint8_t* bytes, int64_t length) = 0;
};
