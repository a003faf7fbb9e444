#pragma once

#include "disk/CUnreadableRanges.h"
#include "disk/CWindowBuffer.h"
#include "scan/CFileNode.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QVector>

#include <atomic>
#include <cstdint>

class IVolume;

// Copies one document's bytes from the volume into a file opened for it:
// its resident bytes, or its runs in file order (a sparse run is zeros),
// a window at a time, and hashes what it writes (SHA-256).
//
// A window the page cache holds is written straight from a view of the
// volume. A view can lose pages after it was made (the source cut short, a
// disk error on a page the cache had dropped): they then read as zeros and
// are counted, so after each piece is written the count is looked at again,
// and a piece that lost bytes makes the copy start over from the top of the
// file with plain reads, which say exactly where the source stops giving
// bytes. Nothing written from a view is kept unless the view held to the end
// of the write.
//
// Where the source gives no bytes, the copy stops (Unreadable), unless it
// was told to fill: then the failing stretch is narrowed down a sector at a
// time, written as zeros, and listed; the copy goes on after it. Past
// kExactSectors failed sectors in a row the stretches taken as unreadable
// without reading double (up to kMaxSkip), so that a wide bad band costs
// few slow reads; up to kMaxSkip good bytes after its end may then be
// zeros too.
class CRecoveryCopy
{
public:
    enum class Outcome
    {
        Copied,      // every byte is in the file (zeros where listed unreadable)
        Unreadable,  // the source gave no bytes at failedAt(); nothing more was written
        SourceLost,  // the device is gone (ENODEV, ENXIO)
        WriteFailed, // writing the file failed with error()
        Stopped,     // `running` went false
    };

    // `running` is looked at between windows.
    CRecoveryCopy(IVolume* volume, uint32_t windowSize, const std::atomic<bool>& running);

    // Write zeros where the source gives nothing and go on.
    void setFillUnreadable(bool fill) { m_fill = fill; }
    // Stretches of the volume already known to be unreadable: a copy that
    // does not fill stops before reading any of them.
    void setKnownUnreadable(const CUnreadableRanges* known) { m_known = known; }

    // `runs` as CDocumentBytes::runsOf gives them (empty for resident bytes).
    Outcome copy(const CFileNode& node, const QVector<CFileNode::Extent>& runs, int fd);
    // Writes bytes made elsewhere (a compressed file's decompressed units)
    // at the end of the file, hashed with the rest: Copied or WriteFailed.
    Outcome append(int fd, const uint8_t* data, int64_t length) { return write(fd, data, length); }

    // The file's bytes that hold zeros because the source gave none, in
    // the file's own offsets; the same stretches in volume offsets.
    const CUnreadableRanges& fileUnreadable() const { return m_fileLost; }
    const CUnreadableRanges& volumeUnreadable() const { return m_volumeLost; }
    QByteArray sha256Hex() const { return m_hash.result().toHex(); }
    // After Unreadable or SourceLost: the first byte of the volume that
    // failed, and the errno of that read (0: the source ends there now).
    int64_t failedAt() const { return m_failedAt; }
    // After WriteFailed, Unreadable or SourceLost.
    int error() const { return m_error; }

    // Failed sectors in a row that are each tried on their own, and the
    // largest stretch taken as unreadable without reading it after them.
    static constexpr int kExactSectors = 8;
    static constexpr int64_t kMaxSkip = 64 * 1024;

private:
    Outcome copyOnce(const CFileNode& node, const QVector<CFileNode::Extent>& runs, int fd, bool careful, bool* retry);
    Outcome copyStretch(int64_t offset, int64_t length, int64_t fileOffset, int fd, bool careful, bool* retry);
    Outcome readPiece(int64_t offset, int64_t length, int64_t fileOffset, int fd);
    Outcome write(int fd, const uint8_t* data, int64_t length);
    Outcome unreadableAt(int64_t offset, int error);

    IVolume* m_volume;
    uint32_t m_windowSize;
    const std::atomic<bool>& m_running;
    bool m_fill = false;
    const CUnreadableRanges* m_known = nullptr;
    CWindowBuffer m_buffer;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    CUnreadableRanges m_fileLost;
    CUnreadableRanges m_volumeLost;
    int64_t m_failedAt = -1;
    int m_error = 0;
};
