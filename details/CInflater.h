#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>

class CDocumentBytes;

// zlib inflation of a stretch of a document, fed from positioned reads and
// bounded in what it produces.
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
};
