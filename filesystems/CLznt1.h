#pragma once

#include <cstddef>
#include <cstdint>

// The LZNT1 decoder NTFS uses for compressed data streams. A compression
// unit (16 clusters as a rule) is stored as a row of chunks, each holding
// at most 4 KiB of the unit's bytes, either copied as they are or as
// LZ77 tokens whose offset and length fields share 16 bits in a split that
// widens the offset as the chunk grows.
//
// A pure function over bytes already read: every token is checked against
// both buffers, every loop advances through the input, and a chunk that
// breaks a rule (bad signature, a reference before the chunk's start, a
// chunk cut short) makes the whole call fail, since what follows it could
// not be placed.
class CLznt1
{
public:
    static constexpr size_t kChunkBytes = 4096;

    // Decodes `input` into `output`, which has room for `outputLength`
    // bytes: the chunks in order until a zero header, the end of the input
    // or a full output. Each chunk's bytes start on a 4 KiB boundary of the
    // output; a chunk that gives fewer than 4 KiB leaves zeros after it,
    // as does the end of the data. Returns the number of bytes the chunks
    // gave (the rest of `output` is zeroed), or -1 when the data do not
    // decode.
    static int64_t decompress(const uint8_t* input, size_t inputLength, uint8_t* output, size_t outputLength);

private:
    // One compressed chunk into at most kChunkBytes of `out`; the bytes
    // written, or -1.
    static int64_t decodeChunk(const uint8_t* in, size_t inLength, uint8_t* out, size_t outRoom);
};
