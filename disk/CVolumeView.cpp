#include "disk/CVolumeView.h"

#include <algorithm>
#include <cerrno>

CVolumeView::CVolumeView(std::shared_ptr<IVolume> base, int64_t offset, int64_t length)
    : m_base(std::move(base))
{
    const int64_t baseLength = m_base ? m_base->length() : 0;
    if (offset < 0 || length < 0 || offset >= baseLength)
        return;
    m_offset = offset;
    m_length = std::min(length, baseLength - offset);
}

IVolume::ReadResult CVolumeView::read(int64_t offset, void* buffer, size_t length)
{
    return forward(offset, buffer, length, Way::Read);
}

IVolume::ReadResult CVolumeView::readOnce(int64_t offset, void* buffer, size_t length)
{
    return forward(offset, buffer, length, Way::Once);
}

IVolume::ReadResult CVolumeView::readExact(int64_t offset, void* buffer, size_t length)
{
    return forward(offset, buffer, length, Way::Exact);
}

IVolume::ReadResult CVolumeView::forward(int64_t offset, void* buffer, size_t length, Way way)
{
    ReadResult result;
    if (offset < 0) {
        result.error = EINVAL;
        return result;
    }
    if (!m_base || offset >= m_length || length == 0)
        return result;
    const int64_t room = m_length - offset;
    const size_t wanted = static_cast<uint64_t>(room) < length ? static_cast<size_t>(room) : length;
    switch (way) {
    case Way::Once:
        return m_base->readOnce(m_offset + offset, buffer, wanted);
    case Way::Exact:
        return m_base->readExact(m_offset + offset, buffer, wanted);
    case Way::Read:
        break;
    }
    return m_base->read(m_offset + offset, buffer, wanted);
}

bool CVolumeView::cached(int64_t offset, int64_t length) const
{
    if (!m_base || offset < 0 || length <= 0 || offset >= m_length)
        return false;
    return m_base->cached(m_offset + offset, std::min(length, m_length - offset));
}

QString CVolumeView::name() const
{
    const QString base = m_base ? m_base->name() : QString();
    return QStringLiteral("%1 (bytes from %2)").arg(base).arg(m_offset);
}
