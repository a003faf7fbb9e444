#include "disk/CKnownBadVolume.h"

#include "disk/CDdrescueMap.h"
#include "disk/CVolumeImager.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace {
// A map of a few million stretches is a few hundred MiB of text at most.
constexpr qint64 kMaxMapBytes = 64 * 1024 * 1024;
}

QString CKnownBadVolume::mapBeside(const QString& image)
{
    for (const QString& beside : {CVolumeImager::mapBeside(image), image + QStringLiteral(".map")}) {
        if (beside != image && QFileInfo(beside).isFile())
            return beside;
    }
    return QString();
}

std::shared_ptr<IVolume> CKnownBadVolume::withMap(std::shared_ptr<IVolume> image, const QString& mapPath,
                                                  QString* error, int64_t* unread)
{
    QFile file(mapPath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QCoreApplication::translate("CKnownBadVolume", "cannot read the map file %1: %2.")
                         .arg(mapPath, file.errorString());
        return nullptr;
    }
    CDdrescueMap map;
    QString why;
    if (!CDdrescueMap::parse(file.read(kMaxMapBytes), &map, &why)) {
        if (error)
            *error = QCoreApplication::translate("CKnownBadVolume", "%1 is not a ddrescue map file (%2).").arg(mapPath, why);
        return nullptr;
    }
    CUnreadableRanges bad = map.unread();
    if (unread)
        *unread = bad.totalBytes();
    // Past the map's end nothing was read either.
    if (map.extent() < image->length())
        bad.add(map.extent(), image->length() - map.extent());
    return std::make_shared<CKnownBadVolume>(std::move(image), std::move(bad));
}

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
