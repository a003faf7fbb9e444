#include "details/CInflater.h"

#include "scan/CDocumentBytes.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kChunk = 64 * 1024;

// A z_stream and its buffers, kept per thread from one stream to the next:
// setting zlib up (its state and 32 KiB window) and zeroing two 64 KiB
// buffers for every archive member and PDF stream cost more than inflating
// the small ones. A stream begun while another runs on the same thread (a
// sink that inflates) gets one of its own.
class Stream
{
public:
    explicit Stream(CInflater::Format format)
    {
        const int bits = format == CInflater::Format::Raw ? -MAX_WBITS : MAX_WBITS;
        State*& spare = spareState();
        if (spare) {
            m_state.reset(spare);
            spare = nullptr;
            m_ok = inflateReset2(&m_state->z, bits) == Z_OK;
        } else {
            m_state = std::make_unique<State>();
            m_state->ready = inflateInit2(&m_state->z, bits) == Z_OK;
            m_ok = m_state->ready;
        }
        // A reset leaves the input where the last stream stopped (a stream
        // that ended before its input did, or failed): none of it is this
        // stream's.
        m_state->z.next_in = nullptr;
        m_state->z.avail_in = 0;
    }
    ~Stream()
    {
        State*& spare = spareState();
        if (!spare && m_state->ready)
            spare = m_state.release();
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    bool ok() const { return m_ok; }
    z_stream* z() { return &m_state->z; }
    uint8_t* out() { return m_state->out.get(); }
    uint8_t* in() { return m_state->in.get(); }

private:
    struct State
    {
        z_stream z{};
        bool ready = false;
        std::unique_ptr<uint8_t[]> out{new uint8_t[kChunk]};
        std::unique_ptr<uint8_t[]> in{new uint8_t[kChunk]};
        State() = default;
        State(const State&) = delete;
        State& operator=(const State&) = delete;
        ~State()
        {
            if (ready)
                inflateEnd(&z);
        }
    };
    // This thread's idle state, owned by the holder below.
    static State*& spareState()
    {
        struct Holder
        {
            State* state = nullptr;
            ~Holder() { delete state; }
        };
        thread_local Holder holder;
        return holder.state;
    }

    std::unique_ptr<State> m_state;
    bool m_ok = false;
};

// Runs the stream over input pieces handed by `next` (empty: no more).
CInflater::Result run(Stream& stream, const std::function<bool(const uint8_t**, int*)>& next, int64_t maxOutput,
                      const std::function<bool(const uint8_t*, int)>& sink, int64_t* produced)
{
    *produced = 0;
    if (!stream.ok())
        return CInflater::Result::Corrupt;
    uint8_t* const out = stream.out();
    z_stream* z = stream.z();
    bool inputLeft = true;
    // Each turn either consumes input or produces output; zlib never makes
    // neither without reporting Z_BUF_ERROR, which ends the loop.
    for (;;) {
        if (z->avail_in == 0 && inputLeft) {
            const uint8_t* piece = nullptr;
            int length = 0;
            if (!next(&piece, &length))
                return CInflater::Result::Unreadable;
            if (length == 0) {
                inputLeft = false;
            } else {
                z->next_in = const_cast<Bytef*>(piece);
                z->avail_in = static_cast<uInt>(length);
            }
        }
        z->next_out = out;
        z->avail_out = static_cast<uInt>(kChunk);
        const int status = ::inflate(z, Z_NO_FLUSH);
        const int made = static_cast<int>(kChunk - z->avail_out);
        if (made > 0) {
            if (made > maxOutput - *produced) {
                *produced = maxOutput + 1;
                return CInflater::Result::OverBudget;
            }
            *produced += made;
            if (!sink(out, made))
                return CInflater::Result::OverBudget;
        }
        if (status == Z_STREAM_END)
            return CInflater::Result::Ok;
        if (status == Z_BUF_ERROR) {
            if (!inputLeft && z->avail_in == 0)
                return CInflater::Result::Truncated;
            if (made == 0 && z->avail_in == 0)
                continue; // needs the next piece
            if (made == 0)
                return CInflater::Result::Corrupt;
            continue;
        }
        if (status != Z_OK)
            return CInflater::Result::Corrupt;
        if (made == 0 && z->avail_in == 0 && !inputLeft)
            return CInflater::Result::Truncated;
    }
}

} // namespace

CInflater::Result CInflater::inflate(CDocumentBytes& bytes, int64_t position, int64_t inputLength, Format format,
                                     int64_t maxOutput, const std::function<bool(const uint8_t*, int)>& sink,
                                     int64_t* produced)
{
    if (position < 0 || inputLength < 0 || position > bytes.size() || inputLength > bytes.size() - position)
        return Result::Truncated;
    Stream stream(format);
    int64_t done = 0;
    // Piece by piece, each charged as it is taken, as zlib asks for more;
    // a document in memory is read in place.
    const auto next = [&](const uint8_t** piece, int* length) {
        const int64_t n = std::min<int64_t>(kChunk, inputLength - done);
        if (n <= 0) {
            *length = 0;
            return true;
        }
        *piece = bytes.viewOrRead(position + done, n, stream.in());
        if (!*piece)
            return false;
        done += n;
        *length = static_cast<int>(n);
        return true;
    };
    return run(stream, next, maxOutput, sink, produced);
}

CInflater::Result CInflater::inflateToArray(CDocumentBytes& bytes, int64_t position, int64_t inputLength,
                                            Format format, int64_t maxOutput, QByteArray* out)
{
    out->clear();
    int64_t produced = 0;
    return inflate(bytes, position, inputLength, format, maxOutput,
                   [out](const uint8_t* data, int length) {
                       out->append(reinterpret_cast<const char*>(data), length);
                       return true;
                   },
                   &produced);
}

CInflater::Result CInflater::inflateArray(const QByteArray& input, Format format, int64_t maxOutput, QByteArray* out)
{
    out->clear();
    bool given = false;
    const auto next = [&](const uint8_t** piece, int* length) {
        *length = given ? 0 : input.size();
        *piece = reinterpret_cast<const uint8_t*>(input.constData());
        given = true;
        return true;
    };
    int64_t produced = 0;
    Stream stream(format);
    return run(stream, next, maxOutput,
               [out](const uint8_t* data, int length) {
                   out->append(reinterpret_cast<const char*>(data), length);
                   return true;
               },
               &produced);
}

CInflater::Result CInflater::inflateWhole(const uint8_t* input, int64_t inputLength, int64_t outCapacity,
                                          const uint8_t** out, int64_t* produced)
{
    *produced = 0;
    *out = nullptr;
    if (!input || inputLength < 0 || inputLength > kMaxWhole * 64 || outCapacity < 0 || outCapacity > kMaxWhole)
        return Result::Corrupt;
    // This thread's stream (see Stream), and an output buffer kept (grown,
    // never past kMaxWhole) from one member to the next.
    Stream stream(Format::Raw);
    if (!stream.ok())
        return Result::Corrupt;
    thread_local std::vector<uint8_t> buffer;
    const size_t capacity = static_cast<size_t>(outCapacity);
    if (buffer.size() < capacity + 1)
        buffer.resize(capacity + 1);
    // One byte of room past the capacity tells a stream that makes more
    // than it from one that fills it exactly.
    z_stream* z = stream.z();
    z->next_in = const_cast<Bytef*>(input);
    z->avail_in = static_cast<uInt>(inputLength);
    z->next_out = buffer.data();
    z->avail_out = static_cast<uInt>(capacity + 1);
    const int r = ::inflate(z, Z_FINISH);
    const size_t made = capacity + 1 - z->avail_out;
    if (made > capacity) {
        *produced = outCapacity + 1;
        return Result::OverBudget;
    }
    if (r != Z_STREAM_END)
        return Result::Corrupt;
    *out = buffer.data();
    *produced = static_cast<int64_t>(made);
    return Result::Ok;
}

uint32_t CInflater::crc32(uint32_t crc, const uint8_t* data, size_t length)
{
    return static_cast<uint32_t>(crc32_z(crc, data, length));
}
