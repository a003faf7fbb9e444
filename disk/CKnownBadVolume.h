#pragma once

#include "disk/CUnreadableRanges.h"
#include "disk/IVolume.h"

#include <memory>

// An image read with the map of the run that made it: the stretches the
// map says were never read (zeros in the image, not the disk's bytes) fail
// as the disk failed there (EIO), so that the scan
// lists them as unreadable and marks the documents over them, exactly as a
// scan of the failing disk itself would.
//
// Offers no views of the page cache: every byte goes through the check.
class CKnownBadVolume : public IVolume
{
public:
    CKnownBadVolume(std::shared_ptr<IVolume> base, CUnreadableRanges bad);

    // The map of an image where a copy left it: IMAGE with its suffix
    // replaced by .map (as tamsel-cli image names it), else IMAGE.map;
    // empty when neither is a file.
    static QString mapBeside(const QString& image);
    // `image` read as the map at `mapPath` says: what the map does not
    // mark read, and everything past its end, fails. Null, with a reason
    // for the user in `error`, when the map cannot be read; `unread` gets
    // the bytes the map says were not read.
    static std::shared_ptr<IVolume> withMap(std::shared_ptr<IVolume> image, const QString& mapPath, QString* error,
                                            int64_t* unread = nullptr);

    ReadResult read(int64_t offset, void* buffer, size_t length) override;
    ReadResult readOnce(int64_t offset, void* buffer, size_t length) override;
    ReadResult readExact(int64_t offset, void* buffer, size_t length) override;
    int sectorSize() const override { return m_base->sectorSize(); }
    int64_t length() const override { return m_base->length(); }
    QString name() const override { return m_base->name(); }
    bool rotational() const override { return m_base->rotational(); }
    bool cached(int64_t offset, int64_t length) const override { return m_base->cached(offset, length); }

    const CUnreadableRanges& bad() const { return m_bad; }

private:
    enum class Way { Read, Once, Exact };
    ReadResult forward(int64_t offset, void* buffer, size_t length, Way way);

    std::shared_ptr<IVolume> m_base;
    CUnreadableRanges m_bad;
};
