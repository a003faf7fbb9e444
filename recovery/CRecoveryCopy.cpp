#include "recovery/CRecoveryCopy.h"

#include "disk/CDiskMappingPointer.h"
#include "disk/IVolume.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int64_t kSector = 512;

bool deviceGone(int error)
{
    return error == ENODEV || error == ENXIO;
}

} // namespace

CRecoveryCopy::CRecoveryCopy(IVolume* volume, uint32_t windowSize, const std::atomic<bool>& running)
    : m_volume(volume)
    , m_windowSize(std::max<uint32_t>(windowSize - windowSize % kSector, kSector))
    , m_running(running)
{
}

CRecoveryCopy::Outcome CRecoveryCopy::copy(const CFileNode& node, const QVector<CFileNode::Extent>& runs, int fd)
{
    m_failedAt = -1;
    m_error = 0;
    m_fileLost.clear();
    m_volumeLost.clear();
    if (!m_fill && m_known) {
        // Bytes the scan could not read are not tried again only to leave
        // the document out after another slow failure.
        for (const CFileNode::Extent& run : runs) {
            if (run.offset == CFileNode::Extent::kSparse)
                continue;
            const QVector<CUnreadableRanges::Range> bad = m_known->within(run.offset, run.length);
            if (!bad.isEmpty())
                return unreadableAt(bad.first().offset, EIO);
        }
    }
    bool retry = false;
    const Outcome first = copyOnce(node, runs, fd, false, &retry);
    if (!retry)
        return first;
    // A view lost bytes under the write: start the file again, reading.
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) < 0) {
        m_error = errno;
        return Outcome::WriteFailed;
    }
    return copyOnce(node, runs, fd, true, &retry);
}

CRecoveryCopy::Outcome CRecoveryCopy::copyOnce(const CFileNode& node, const QVector<CFileNode::Extent>& runs, int fd,
                                               bool careful, bool* retry)
{
    m_hash.reset();
    m_fileLost.clear();
    m_volumeLost.clear();
    *retry = false;
    int64_t fileOffset = 0;
    if (node.hasResidentData) {
        fileOffset = std::min<int64_t>(node.size, node.residentData.size());
        const Outcome written =
            write(fd, reinterpret_cast<const uint8_t*>(node.residentData.constData()), fileOffset);
        if (written != Outcome::Copied)
            return written;
    }
    for (const CFileNode::Extent& run : runs) {
        if (run.offset != CFileNode::Extent::kSparse) {
            const Outcome copied = copyStretch(run.offset, run.length, fileOffset, fd, careful, retry);
            if (copied != Outcome::Copied || *retry)
                return copied;
        } else {
            // Never written to the disk: zeros, a window at a time.
            if (!m_buffer.data())
                m_buffer = CWindowBuffer(m_windowSize);
            std::memset(m_buffer.data(), 0, m_buffer.size());
            for (int64_t done = 0; done < run.length;) {
                if (!m_running)
                    return Outcome::Stopped;
                const int64_t piece = std::min<int64_t>(run.length - done, static_cast<int64_t>(m_buffer.size()));
                const Outcome written = write(fd, m_buffer.data(), piece);
                if (written != Outcome::Copied)
                    return written;
                done += piece;
            }
        }
        fileOffset += run.length;
    }
    return Outcome::Copied;
}

CRecoveryCopy::Outcome CRecoveryCopy::copyStretch(int64_t offset, int64_t length, int64_t fileOffset, int fd,
                                                  bool careful, bool* retry)
{
    // One window per piece, never larger than what is left to copy, so that
    // small documents cost small reads.
    for (int64_t done = 0; done < length;) {
        // A stop takes effect between windows, not at the end of a file
        // that may take minutes.
        if (!m_running)
            return Outcome::Stopped;
        const int64_t piece = std::min<int64_t>(length - done, m_windowSize);
        const int64_t at = offset + done;
        if (!careful) {
            const uint32_t window = static_cast<uint32_t>((piece + kSector - 1) / kSector * kSector);
            CDiskMappingPointer reader(m_volume, at, window);
            if (reader.unreadableBytes() == 0 && !reader.deviceLost()) {
                const Outcome written = write(fd, reader.pointer(), piece);
                // Looked at after the write: a page of a view that failed
                // while it was hashed or written now reads as zeros, and a
                // write the kernel could not copy from it fails with EFAULT.
                if (reader.unreadableBytes() > 0 || (written == Outcome::WriteFailed && m_error == EFAULT)) {
                    m_error = 0;
                    *retry = true;
                    return Outcome::Copied;
                }
                if (written != Outcome::Copied)
                    return written;
                done += piece;
                continue;
            }
            // The window reaches a little before and after the piece: the
            // piece itself is read again to see whether its bytes fail.
        }
        const Outcome read = readPiece(at, piece, fileOffset + done, fd);
        if (read != Outcome::Copied)
            return read;
        done += piece;
    }
    return Outcome::Copied;
}

CRecoveryCopy::Outcome CRecoveryCopy::readPiece(int64_t offset, int64_t length, int64_t fileOffset, int fd)
{
    if (!m_buffer.data())
        m_buffer = CWindowBuffer(m_windowSize);
    uint8_t* data = m_buffer.data();
    int64_t pos = 0;
    int failures = 0;
    // Every round either reads bytes or passes at least the rest of a
    // sector, so it ends within length / 512 + 1 rounds.
    while (pos < length) {
        if (!m_running)
            return Outcome::Stopped;
        const IVolume::ReadResult r =
            m_volume->read(offset + pos, data + pos, static_cast<size_t>(length - pos));
        if (r.bytes > 0) {
            pos += r.bytes;
            failures = 0;
        }
        if (pos >= length)
            break;
        if (deviceGone(r.error)) {
            m_failedAt = offset + pos;
            m_error = r.error;
            return Outcome::SourceLost;
        }
        if (!m_fill)
            return unreadableAt(offset + pos, r.error);
        int64_t gone = length - pos; // no error: the source ends here now
        if (r.error != 0) {
            // The failing sector; past a few failed sectors in a row, a
            // stretch twice as long as the last (ddrescue skips ahead
            // likewise), so that a wide bad band costs few slow reads.
            const int64_t sectorEnd = ((offset + pos) / kSector + 1) * kSector - offset;
            const int64_t skip = failures < kExactSectors
                                     ? 0
                                     : std::min<int64_t>(kSector << std::min(failures - kExactSectors + 1, 7), kMaxSkip);
            gone = std::min(length - pos, std::max(sectorEnd - pos, skip));
            ++failures;
        }
        std::memset(data + pos, 0, static_cast<size_t>(gone));
        m_fileLost.add(fileOffset + pos, gone);
        m_volumeLost.add(offset + pos, gone);
        pos += gone;
    }
    return write(fd, data, length);
}

CRecoveryCopy::Outcome CRecoveryCopy::unreadableAt(int64_t offset, int error)
{
    m_failedAt = offset;
    m_error = error;
    // For the volume's list: the sector that failed, or everything from
    // where a source that was cut short ends now.
    const int64_t end = error != 0 ? (offset / kSector + 1) * kSector : std::max(offset, m_volume->length());
    m_volumeLost.add(offset, end - offset);
    return Outcome::Unreadable;
}

CRecoveryCopy::Outcome CRecoveryCopy::write(int fd, const uint8_t* data, int64_t length)
{
    int64_t done = 0;
    while (done < length) {
        const size_t chunk = static_cast<size_t>(std::min<int64_t>(length - done, INT_MAX));
        m_hash.addData(reinterpret_cast<const char*>(data + done), static_cast<int>(chunk));
        size_t written = 0;
        while (written < chunk) {
            const ssize_t n = ::write(fd, data + done + written, chunk - written);
            if (n > 0) {
                written += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            // write() returning 0 for a non-empty request means no progress
            // can be made; report it as a full disk rather than loop.
            m_error = n < 0 ? errno : ENOSPC;
            return Outcome::WriteFailed;
        }
        done += static_cast<int64_t>(chunk);
    }
    return Outcome::Copied;
}
