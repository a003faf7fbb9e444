#include "filesystems/CLznt1.h"

#include "disk/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kChunkHeaderSize = 2;
constexpr uint16_t kChunkSizeMask = 0x0FFF;
// Bits 12-14 of every chunk header hold 3; anything else is not a chunk
// (an overwritten unit fails here more often than anywhere else).
constexpr uint16_t kSignatureMask = 0x7000;
constexpr uint16_t kSignature = 0x3000;
constexpr uint16_t kCompressedFlag = 0x8000;
constexpr unsigned kTokensPerFlagByte = 8;
constexpr unsigned kMinimumMatch = 3;

} // namespace

int64_t CLznt1::decodeChunk(const uint8_t* in, size_t inLength, uint8_t* out, size_t outRoom)
{
    const size_t room = std::min(outRoom, kChunkBytes);
    size_t at = 0;
    size_t written = 0;
    // Every pass consumes at least the flag byte.
    while (at < inLength) {
        const uint8_t flags = in[at++];
        for (unsigned bit = 0; bit < kTokensPerFlagByte && at < inLength; ++bit) {
            if (((flags >> bit) & 1u) == 0) {
                if (written >= room)
                    return -1;
                out[written++] = in[at++];
                continue;
            }
            if (!le::fits(inLength, at, 2))
                return -1;
            const uint16_t token = le::u16(in + at);
            at += 2;
            // The offset field takes as many bits as the longest back
            // reference the chunk's position needs (at least 4), the length
            // field the rest of the 16.
            unsigned offsetBits = 4;
            for (size_t span = written > 0 ? written - 1 : 0; span >= 0x10 && offsetBits < 12; span >>= 1)
                ++offsetBits;
            const unsigned lengthBits = 16 - offsetBits;
            const size_t length = (token & ((1u << lengthBits) - 1u)) + kMinimumMatch;
            const size_t offset = (static_cast<size_t>(token) >> lengthBits) + 1;
            if (written == 0 || offset > written || length > room - written)
                return -1;
            // Byte by byte: a match may overlap the bytes it produces.
            const uint8_t* from = out + written - offset;
            for (size_t i = 0; i < length; ++i)
                out[written + i] = from[i];
            written += length;
        }
    }
    return static_cast<int64_t>(written);
}

int64_t CLznt1::decompress(const uint8_t* input, size_t inputLength, uint8_t* output, size_t outputLength)
{
    if (!output)
        return -1;
    std::memset(output, 0, outputLength);
    if (!input)
        return 0;
    size_t at = 0;
    size_t chunkStart = 0;
    int64_t produced = 0;
    // Each chunk consumes its header at least and fills the next 4 KiB of
    // the output: bounded by both lengths.
    while (le::fits(inputLength, at, kChunkHeaderSize) && chunkStart < outputLength) {
        const uint16_t header = le::u16(input + at);
        if (header == 0)
            break;
        if ((header & kSignatureMask) != kSignature)
            return -1;
        const size_t dataLength = static_cast<size_t>(header & kChunkSizeMask) + 1;
        at += kChunkHeaderSize;
        if (dataLength > inputLength - at)
            return -1;
        const size_t room = std::min(kChunkBytes, outputLength - chunkStart);
        int64_t got = 0;
        if (header & kCompressedFlag) {
            got = decodeChunk(input + at, dataLength, output + chunkStart, room);
            if (got < 0)
                return -1;
        } else {
            if (dataLength > room)
                return -1;
            std::memcpy(output + chunkStart, input + at, dataLength);
            got = static_cast<int64_t>(dataLength);
        }
        at += dataLength;
        produced = static_cast<int64_t>(chunkStart) + got;
        chunkStart += kChunkBytes;
    }
    return produced;
}
