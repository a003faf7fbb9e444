#pragma once

#include "disk/CUnreadableRanges.h"
#include "disk/IVolume.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

// An Expert Witness (E01) image, the format forensic examiners acquire
// disks into: the disk's bytes in checksummed, mostly compressed chunks,
// spread over a set of segment files (.E01, .E02, ...). Read through
// libewf, opened read-only; the volume is the acquired disk.
//
// A chunk whose checksum fails or that does not inflate reads as an error
// (EIO) at its first byte, as a bad sector of a disk does, so that the scan
// counts it as unreadable and goes on; its bytes are never handed out.
class CEwfVolume : public IVolume
{
public:
    ~CEwfVolume() override;
    CEwfVolume(const CEwfVolume&) = delete;
    CEwfVolume& operator=(const CEwfVolume&) = delete;

    // Whether the file at `path` starts as an E01 segment does (looked at
    // by its first bytes, whatever its name).
    static bool isEwfImage(const QString& path);
    // Opens the set that the segment `path` belongs to (any of its
    // segments). Null and `reason` (a sentence that says what to do) when
    // it cannot be read.
    static std::unique_ptr<CEwfVolume> open(const QString& path, QString* reason);

    ReadResult read(int64_t offset, void* buffer, size_t length) override;
    int64_t length() const override { return m_length; }
    QString name() const override { return m_path; }
    // The acquired disk's sector, as the acquisition recorded it.
    int sectorSize() const override { return static_cast<int>(m_sectorBytes); }

    // Segment files of the set.
    int segmentCount() const { return m_segments; }

    // The hashes the acquisition stored (lower-case hex; empty when not).
    QString storedMd5() const { return m_storedMd5; }
    QString storedSha1() const { return m_storedSha1; }

    struct Verification
    {
        QString computedMd5;
        QString computedSha1;
        // Stretches whose chunks failed their checksums or did not inflate.
        CUnreadableRanges corrupt;
        // The read was stopped before the end.
        bool stopped = false;
    };
    // Reads the whole image and hashes it, calling `progress` with the bytes
    // done now and then; `stop` ends it early.
    Verification verify(const std::function<void(int64_t done)>& progress, const std::atomic<bool>* stop);

private:
    struct Handle;
    CEwfVolume();

    // Reads [offset, offset + length) chunk by chunk, under the lock.
    ReadResult readLocked(int64_t offset, uint8_t* out, int64_t length);
    // Takes the checksum errors libewf noted since last time into m_corrupt.
    void collectChecksumErrorsLocked();

    std::unique_ptr<Handle> m_handle;
    // libewf's handle keeps a chunk cache and a position: one reader at a
    // time.
    mutable std::mutex m_mutex;
    QString m_path;
    int64_t m_length = 0;
    int64_t m_chunkBytes = 0;
    int64_t m_sectorBytes = 512;
    int m_segments = 0;
    QString m_storedMd5;
    QString m_storedSha1;
    uint32_t m_errorsSeen = 0;
    CUnreadableRanges m_corrupt;
};
