#include "details/CInflateProbe.h"

#include <zlib.h>

#include <vector>

namespace {

// What is inflated goes nowhere: only whether it inflates matters.
constexpr size_t kDiscard = 64 * 1024;
// Feeding ends on an error, the stream's end, or after this many rounds
// without progress (bounded whatever the input).
constexpr int kMaxIdleRounds = 4;

} // namespace

struct CInflateProbe::State
{
    z_stream z{};
    bool ready = false;
    ~State()
    {
        if (ready)
            inflateEnd(&z);
    }
};

CInflateProbe::CInflateProbe() = default;
CInflateProbe::~CInflateProbe() = default;

namespace {

// Z_OK: all of `length` went in; Z_STREAM_END; or the error.
int feed(z_stream* z, const uint8_t* data, size_t length)
{
    static thread_local std::vector<uint8_t> sink(kDiscard);
    z->next_in = const_cast<Bytef*>(data);
    z->avail_in = static_cast<uInt>(length);
    int idle = 0;
    while (z->avail_in > 0) {
        z->next_out = sink.data();
        z->avail_out = static_cast<uInt>(sink.size());
        const uInt before = z->avail_in;
        const int r = inflate(z, Z_NO_FLUSH);
        if (r == Z_STREAM_END)
            return Z_STREAM_END;
        if (r != Z_OK && r != Z_BUF_ERROR)
            return r;
        if (z->avail_in == before && z->avail_out == sink.size()) {
            if (++idle >= kMaxIdleRounds)
                return Z_DATA_ERROR;
        } else {
            idle = 0;
        }
    }
    return Z_OK;
}

} // namespace

bool CInflateProbe::start(const uint8_t* prefix, size_t length, bool zlibWrapped)
{
    m_kept = std::make_unique<State>();
    m_kept->ready = inflateInit2(&m_kept->z, zlibWrapped ? MAX_WBITS : -MAX_WBITS) == Z_OK;
    return m_kept->ready && length <= UINT32_MAX && feed(&m_kept->z, prefix, length) == Z_OK;
}

bool CInflateProbe::accepts(const uint8_t* more, size_t length)
{
    if (!m_kept || !m_kept->ready || length > UINT32_MAX)
        return false;
    if (m_try && m_try->ready) {
        inflateEnd(&m_try->z);
        m_try->ready = false;
    }
    if (!m_try)
        m_try = std::make_unique<State>();
    m_try->ready = inflateCopy(&m_try->z, &m_kept->z) == Z_OK;
    if (!m_try->ready)
        return false;
    const int r = feed(&m_try->z, more, length);
    return r == Z_OK || r == Z_STREAM_END;
}
