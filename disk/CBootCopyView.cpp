#include "disk/CBootCopyView.h"

#include <algorithm>
#include <cstring>

namespace {
// A boot region is at most twelve 4 KiB sectors.
constexpr int64_t kMaxCopy = 12 * 4096;
} // namespace

CBootCopyView::CBootCopyView(std::shared_ptr<IVolume> base, int64_t copyOffset, int64_t copyLength)
    : m_base(std::move(base))
{
    if (!m_base || copyOffset <= 0 || copyLength <= 0 || copyLength > kMaxCopy || copyOffset > m_base->length()
        || m_base->length() - copyOffset < copyLength)
        return;
    QByteArray head(static_cast<int>(copyLength), '\0');
    const ReadResult r = m_base->read(copyOffset, head.data(), static_cast<size_t>(copyLength));
    if (r.bytes == copyLength)
        m_head = head;
}

IVolume::ReadResult CBootCopyView::read(int64_t offset, void* buffer, size_t length)
{
    return forward(offset, buffer, length, false);
}

IVolume::ReadResult CBootCopyView::readOnce(int64_t offset, void* buffer, size_t length)
{
    return forward(offset, buffer, length, true);
}

IVolume::ReadResult CBootCopyView::forward(int64_t offset, void* buffer, size_t length, bool once)
{
    if (!m_base)
        return ReadResult();
    ReadResult r = once ? m_base->readOnce(offset, buffer, length) : m_base->read(offset, buffer, length);
    // Whatever of the read falls on the head comes from the copy instead.
    const int64_t head = m_head.size();
    if (offset >= 0 && offset < head && r.bytes > 0) {
        const int64_t n = std::min<int64_t>(r.bytes, head - offset);
        std::memcpy(buffer, m_head.constData() + offset, static_cast<size_t>(n));
    }
    return r;
}
