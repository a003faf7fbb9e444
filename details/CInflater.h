#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>

class CDocumentBytes;

// zlib inflation of a stretch of a document, fed from positioned reads and
// bounded in what it produces, or of a whole member already in memory.
class CInflater
{
public:
    enum class Format { Raw, Zlib };
    enum class Result { Ok, Corrupt, Truncated, OverBudget, Unreadable };

    // Inflates the `inputLength` bytes at `position`; each produced piece
    // goes to `sink` (return false to stop: OverBudget). At most `maxOutput`
    // bytes are produced; one more means OverBudget. `produced` receives the
    // count. Truncated: the input ended before the stream did.
    static Result inflate(CDocumentBytes& bytes, int64_t position, int64_t inputLength, Format format,
                          int64_t maxOutput, const std::function<bool(const uint8_t*, int)>& sink,
                          int64_t* produced);
    // The same into memory.
    static Result inflateToArray(CDocumentBytes& bytes, int64_t position, int64_t inputLength, Format format,
                                 int64_t maxOutput, QByteArray* out);
    // Inflates bytes already in memory.
    static Result inflateArray(const QByteArray& input, Format format, int64_t maxOutput, QByteArray* out);
    // Inflates a whole raw deflate stream already in memory at once (faster
    // than streaming) into this thread's buffer of `outCapacity` bytes
    // (at most kMaxWhole); `*out` points at what was produced, valid until
    // the next call on this thread. OverBudget: it makes more than
    // `outCapacity`; Corrupt covers a stream cut short as well.
    static constexpr int64_t kMaxWhole = int64_t(16) << 20;
    static Result inflateWhole(const uint8_t* input, int64_t inputLength, int64_t outCapacity, const uint8_t** out,
                               int64_t* produced);
    // CRC-32 (ZIP's), going on from `crc` (0 to start).
    static uint32_t crc32(uint32_t crc, const uint8_t* data, size_t length);
};
