#pragma once

#include "disk/IVolume.h"

#include <memory>

// A stretch of another volume seen as a volume of its own: byte 0 of the
// view is byte `offset` of the volume beneath. A partition of a whole-disk
// image is scanned through one, so the file-system scanners read it exactly
// as they read a partition device. Like every volume it only reads; reads
// never reach outside the stretch.
class CVolumeView : public IVolume
{
public:
    // The stretch is cut at the end of `base` (a table entry may claim more
    // than an image holds); a negative offset or length gives an empty view.
    CVolumeView(std::shared_ptr<IVolume> base, int64_t offset, int64_t length);

    ReadResult read(int64_t offset, void* buffer, size_t length) override;
    ReadResult readOnce(int64_t offset, void* buffer, size_t length) override;
    ReadResult readExact(int64_t offset, void* buffer, size_t length) override;
    int sectorSize() const override { return m_base ? m_base->sectorSize() : 512; }
    int64_t length() const override { return m_length; }
    bool rotational() const override { return m_base && m_base->rotational(); }
    bool cached(int64_t offset, int64_t length) const override;
    QString name() const override;

    int64_t offset() const { return m_offset; }

private:
    enum class Way { Read, Once, Exact };
    ReadResult forward(int64_t offset, void* buffer, size_t length, Way way);

    std::shared_ptr<IVolume> m_base;
    int64_t m_offset = 0;
    int64_t m_length = 0;
};
