#include "disk/CMemoryVolume.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

CMemoryVolume::CMemoryVolume(QByteArray bytes, QString name)
    : m_bytes(std::move(bytes))
    , m_length(m_bytes.size())
    , m_name(std::move(name))
{
}

CMemoryVolume::CMemoryVolume(QByteArray bytes, int64_t length, QString name)
    : m_bytes(std::move(bytes))
    , m_length(std::max<int64_t>(0, length))
    , m_name(std::move(name))
{
    if (m_bytes.size() > m_length)
        m_bytes.truncate(static_cast<int>(m_length));
}

void CMemoryVolume::failRange(int64_t offset, int64_t length, int error)
{
    m_failures.push_back({offset, length, error});
}

void CMemoryVolume::setReadHook(std::function<void(int64_t, size_t)> hook)
{
    m_hook = std::move(hook);
}

IVolume::ReadResult CMemoryVolume::read(int64_t offset, void* buffer, size_t length)
{
    if (m_hook)
        m_hook(offset, length);

    ReadResult result;
    if (offset < 0) {
        result.error = EINVAL;
        return result;
    }
    const int64_t size = m_length;
    // offset + length must not overflow, whatever a caller asks for.
    const int64_t room = std::numeric_limits<int64_t>::max() - offset;
    const int64_t wanted = length > static_cast<uint64_t>(room) ? room : static_cast<int64_t>(length);
    const int64_t readable = m_cutAt >= 0 ? std::min(m_cutAt, size) : size;
    int64_t end = offset >= readable ? offset : std::min<int64_t>(readable, offset + wanted);

    // The first failing byte inside the requested range cuts the read there.
    for (const Failure& f : m_failures) {
        const int64_t fEnd = f.offset + f.length;
        if (f.offset < offset + wanted && fEnd > offset) {
            const int64_t cut = std::max(offset, f.offset);
            if (cut <= end) {
                end = cut;
                result.error = f.error;
            }
        }
    }
    // Held bytes first, then the zeros of the tail.
    const int64_t held = std::min<int64_t>(end, m_bytes.size());
    auto* out = static_cast<uint8_t*>(buffer);
    if (held > offset)
        std::memcpy(out, m_bytes.constData() + offset, static_cast<size_t>(held - offset));
    const int64_t zeroFrom = std::max(offset, held);
    if (end > zeroFrom)
        std::memset(out + (zeroFrom - offset), 0, static_cast<size_t>(end - zeroFrom));
    result.bytes = end > offset ? end - offset : 0;
    return result;
}
