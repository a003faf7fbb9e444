#pragma once

#include "disk/IVolume.h"

#include <QByteArray>

#include <memory>

// A volume whose first bytes are read from a copy further into it: a file
// system whose own boot sector is damaged is read through its backup copy
// (FAT32's sector 6, exFAT's region at sector 12, NTFS's last sector),
// everything else as it lies. The copy is read once, when made; like every
// volume it only reads.
class CBootCopyView : public IVolume
{
public:
    // Bytes [0, copyLength) read as [copyOffset, copyOffset + copyLength) of
    // `base`; when that copy cannot be read whole, `base` is read unchanged.
    CBootCopyView(std::shared_ptr<IVolume> base, int64_t copyOffset, int64_t copyLength);

    ReadResult read(int64_t offset, void* buffer, size_t length) override;
    ReadResult readOnce(int64_t offset, void* buffer, size_t length) override;
    int64_t length() const override { return m_base ? m_base->length() : 0; }
    bool rotational() const override { return m_base && m_base->rotational(); }
    QString name() const override { return m_base ? m_base->name() : QString(); }

private:
    ReadResult forward(int64_t offset, void* buffer, size_t length, bool once);

    std::shared_ptr<IVolume> m_base;
    QByteArray m_head;
};
