#include "details/CInflater.h"

#include "scan/CDocumentBytes.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kChunk = 64 * 1024;

// RAII for a z_stream set up for inflation.
class Stream
{
public:
    explicit Stream(CInflater::Format format)
    {
        m_ok = inflateInit2(&m_z, format == CInflater::Format::Raw ? -MAX_WBITS : MAX_WBITS) == Z_OK;
    }
    ~Stream()
    {
        if (m_ok)
            inflateEnd(&m_z);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    bool ok() const { return m_ok; }
    z_stream* z() { return &m_z; }

private:
    z_stream m_z{};
    bool m_ok = false;
};

// Runs the stream over input pieces handed by `next` (empty: no more).
CInflater::Result run(CInflater::Format format, const std::function<bool(const uint8_t**, int*)>& next,
                      int64_t maxOutput, const std::function<bool(const uint8_t*, int)>& sink, int64_t* produced)
{
    *produced = 0;
    Stream stream(format);
    if (!stream.ok())
        return CInflater::Result::Corrupt;
    std::vector<uint8_t> out(kChunk);
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
        z->next_out = out.data();
        z->avail_out = static_cast<uInt>(out.size());
        const int status = ::inflate(z, Z_NO_FLUSH);
        const int made = static_cast<int>(out.size() - z->avail_out);
        if (made > 0) {
            if (made > maxOutput - *produced) {
                *produced = maxOutput + 1;
                return CInflater::Result::OverBudget;
            }
            *produced += made;
            if (!sink(out.data(), made))
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
    std::vector<uint8_t> in(kChunk);
    int64_t done = 0;
    const auto next = [&](const uint8_t** piece, int* length) {
        const int64_t n = std::min<int64_t>(kChunk, inputLength - done);
        if (n <= 0) {
            *length = 0;
            return true;
        }
        if (!bytes.read(position + done, in.data(), n))
            return false;
        done += n;
        *piece = in.data();
        *length = static_cast<int>(n);
        return true;
    };
    return run(format, next, maxOutput, sink, produced);
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
    return run(format, next, maxOutput,
               [out](const uint8_t* data, int length) {
                   out->append(reinterpret_cast<const char*>(data), length);
                   return true;
               },
               &produced);
}
