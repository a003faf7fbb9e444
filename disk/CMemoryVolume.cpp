#include "disk/CMemoryVolume.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

CMemoryVolume::CMemoryVolume(QByteArray bytes, QString name)
    : m_bytes(std::move(bytes))
    , m_name(std::move(name))
{
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
    const int64_t size = m_bytes.size();
    int64_t end = offset >= size ? offset : std::min<int64_t>(size, offset + static_cast<int64_t>(length));

    // The first failing byte inside the requested range cuts the read there.
    for (const Failure& f : m_failures) {
        const int64_t fEnd = f.offset + f.length;
        if (f.offset < offset + static_cast<int64_t>(length) && fEnd > offset) {
            const int64_t cut = std::max(offset, f.offset);
            if (cut <= end) {
                end = cut;
                result.error = f.error;
            }
        }
    }
    if (end > offset)
        std::memcpy(buffer, m_bytes.constData() + offset, static_cast<size_t>(end - offset));
    result.bytes = end > offset ? end - offset : 0;
    return result;
}
