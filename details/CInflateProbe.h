#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A raw deflate stream inflated up to a point and kept there, so that what
// may follow can be tried many times over: each try inflates on a copy of
// the kept state and says whether the bytes tried continue the stream
// without an error (the search for a piece that holds nothing but the
// middle of one archive member tries every cluster in reach this way).
class CInflateProbe
{
public:
    CInflateProbe();
    ~CInflateProbe();
    CInflateProbe(const CInflateProbe&) = delete;
    CInflateProbe& operator=(const CInflateProbe&) = delete;

    // Starts the stream (raw deflate, or with the zlib wrapper when
    // `zlibWrapped`) and feeds it `prefix`: false when that is already not
    // deflate data, or ends the stream.
    bool start(const uint8_t* prefix, size_t length, bool zlibWrapped = false);
    // Whether `more` continues what was fed: it inflates without an error
    // (ending the stream within it counts as continuing). The kept state is
    // not changed.
    bool accepts(const uint8_t* more, size_t length);

private:
    struct State;
    std::unique_ptr<State> m_kept;
    std::unique_ptr<State> m_try;
};
