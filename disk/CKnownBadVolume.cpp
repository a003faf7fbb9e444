#include "disk/CKnownBadVolume.h"

#include <cerrno>

CKnownBadVolume::CKnownBadVolume(std::shared_ptr<IVolume> base, CUnreadableRanges bad)
    : m_base(std::move(base))
    , m_bad(std::move(bad))
{
}

IVolume::ReadResult CKnownBadVolume::read(int64_t offset, void* buffer, size_t length)
{
    return forward(offset, buffer, length, Way::Read);
}

IVolume::ReadResult CKnownBadVolume::readOnce(int64_t offset, void* buffer, size_t length)
{
    return forward(offset, buffer, length, Way::Once);
}

IVolume::ReadResult CKnownBadVolume::readExact(int64_t offset, void* buffer, size_t length)
{
    return forward(offset, buffer, length, Way::Exact);
}

IVolume::ReadResult CKnownBadVolume::forward(int64_t offset, void* buffer, size_t length, Way way)
{
    ReadResult result;
    if (offset < 0) {
        result.error = EINVAL;
        return result;
    }
    // A read that touches a bad stretch fails whole, giving nothing, as a
    // disk fails the request that holds a bad sector: the same reads fail
    // the same way as on the disk the image was made from.
    if (m_bad.touches(offset, static_cast<int64_t>(length))) {
        result.error = EIO;
        return result;
    }
    const size_t wanted = length;
    if (wanted > 0) {
        switch (way) {
        case Way::Once:
            result = m_base->readOnce(offset, buffer, wanted);
            break;
        case Way::Exact:
            result = m_base->readExact(offset, buffer, wanted);
            break;
        case Way::Read:
            result = m_base->read(offset, buffer, wanted);
            break;
        }
    }
    return result;
}
