#include "disk/CEwfVolume.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <libewf.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every segment file of the set starts with these eight bytes ("EVF" and a
// fixed tail); Logical (L01) and EWF2 (Ex01) sets start otherwise.
constexpr char kSignature[] = "EVF\x09\x0D\x0A\xFF\x00";
constexpr int kSignatureLength = 8;
constexpr int64_t kDefaultChunkBytes = 32768;
// A chunk size an acquisition can have; larger is a damaged header, and
// our reads go chunk by chunk.
constexpr int64_t kLargestChunk = int64_t(1) << 26;
constexpr size_t kMd5Bytes = 16;
constexpr size_t kSha1Bytes = 20;
// The verification reads this much at a time.
constexpr int64_t kVerifyPiece = int64_t(1) << 20;

QString errorText(libewf_error_t* error)
{
    if (!error)
        return QString();
    char text[512] = {};
    libewf_error_sprint(error, text, sizeof(text));
    libewf_error_free(&error);
    // libewf's messages run over several lines, most detailed last.
    QString message = QString::fromLocal8Bit(text).trimmed();
    return message.section(QLatin1Char('\n'), -1).trimmed();
}

} // namespace

struct CEwfVolume::Handle
{
    libewf_handle_t* handle = nullptr;
    bool opened = false;
    ~Handle()
    {
        if (opened)
            libewf_handle_close(handle, nullptr);
        if (handle)
            libewf_handle_free(&handle, nullptr);
    }
};

CEwfVolume::CEwfVolume() = default;
CEwfVolume::~CEwfVolume() = default;

bool CEwfVolume::isEwfImage(const QString& path)
{
    // Only a regular file can be a segment. Asked of a FIFO, an open would
    // wait for a writer (and a read for its data) for ever, and a device is
    // read as a disk; so the descriptor is opened without waiting and looked
    // at before anything is read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st {};
    char head[kSignatureLength] = {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool matches = regular && ::pread(fd, head, sizeof head, 0) == kSignatureLength
        && std::memcmp(head, kSignature, kSignatureLength) == 0;
    ::close(fd);
    return matches;
}

std::unique_ptr<CEwfVolume> CEwfVolume::open(const QString& path, QString* reason)
{
    auto fail = [&](const QString& text) {
        if (reason)
            *reason = text;
        return nullptr;
    };
    const QByteArray encoded = QFile::encodeName(path);
    libewf_error_t* error = nullptr;
    char** names = nullptr;
    int count = 0;
    // The set's other segments, by the naming scheme of the one given.
    if (libewf_glob(encoded.constData(), static_cast<size_t>(encoded.size()), LIBEWF_FORMAT_UNKNOWN, &names, &count,
                    &error)
            != 1
        || count <= 0) {
        return fail(QCoreApplication::translate("CEwfVolume", "the E01 image %1 cannot be opened (%2). Check that the file "
                                                              "exists and is readable.")
                        .arg(path, errorText(error)));
    }
    std::unique_ptr<CEwfVolume> volume(new CEwfVolume);
    volume->m_path = QFileInfo(path).absoluteFilePath();
    volume->m_segments = count;
    volume->m_handle = std::make_unique<Handle>();
    Handle& h = *volume->m_handle;
    bool ok = libewf_handle_initialize(&h.handle, &error) == 1;
    // Read-only: the acquired image is evidence and is never written.
    ok = ok && libewf_handle_open(h.handle, names, count, LIBEWF_OPEN_READ, &error) == 1;
    libewf_glob_free(names, count, nullptr);
    if (!ok) {
        return fail(QCoreApplication::translate("CEwfVolume", "the E01 image %1 cannot be read (%2). Keep all its segment "
                                                              "files (.E01, .E02, ...) together in one folder.")
                        .arg(path, errorText(error)));
    }
    h.opened = true;
    size64_t mediaSize = 0;
    uint32_t bytesPerSector = 0;
    size32_t chunkSize = 0;
    if (libewf_handle_get_media_size(h.handle, &mediaSize, &error) != 1 || mediaSize > size64_t(INT64_MAX)) {
        return fail(QCoreApplication::translate("CEwfVolume", "the E01 image %1 does not say how large the disk is (%2). "
                                                              "The image is damaged.")
                        .arg(path, errorText(error)));
    }
    volume->m_length = static_cast<int64_t>(mediaSize);
    if (libewf_handle_get_bytes_per_sector(h.handle, &bytesPerSector, nullptr) == 1 && bytesPerSector > 0)
        volume->m_sectorBytes = bytesPerSector;
    volume->m_chunkBytes = kDefaultChunkBytes;
    if (libewf_handle_get_chunk_size(h.handle, &chunkSize, nullptr) == 1 && chunkSize > 0
        && int64_t(chunkSize) <= kLargestChunk)
        volume->m_chunkBytes = chunkSize;

    uint8_t digest[kSha1Bytes] = {};
    if (libewf_handle_get_md5_hash(h.handle, digest, kMd5Bytes, nullptr) == 1)
        volume->m_storedMd5 =
            QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(kMd5Bytes)).toHex());
    if (libewf_handle_get_sha1_hash(h.handle, digest, kSha1Bytes, nullptr) == 1)
        volume->m_storedSha1 =
            QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(kSha1Bytes)).toHex());
    return volume;
}

void CEwfVolume::collectChecksumErrorsLocked()
{
    uint32_t count = 0;
    if (libewf_handle_get_number_of_checksum_errors(m_handle->handle, &count, nullptr) != 1)
        return;
    for (; m_errorsSeen < count; ++m_errorsSeen) {
        uint64_t start = 0;
        uint64_t sectors = 0;
        if (libewf_handle_get_checksum_error(m_handle->handle, m_errorsSeen, &start, &sectors, nullptr) != 1)
            continue;
        const uint64_t limit = static_cast<uint64_t>(m_length / m_sectorBytes) + 1;
        if (start >= limit || sectors == 0)
            continue;
        sectors = std::min(sectors, limit - start);
        m_corrupt.add(static_cast<int64_t>(start) * m_sectorBytes, static_cast<int64_t>(sectors) * m_sectorBytes);
    }
}

IVolume::ReadResult CEwfVolume::readLocked(int64_t offset, uint8_t* out, int64_t length)
{
    ReadResult result;
    // One chunk at a time, so that a corrupt chunk costs only itself: the
    // bytes before it are handed out, the read stops at its first byte.
    while (result.bytes < length) {
        const int64_t at = offset + result.bytes;
        const int64_t piece = std::min(length - result.bytes, m_chunkBytes - at % m_chunkBytes);
        if (m_corrupt.touches(at, piece)) {
            result.error = EIO;
            return result;
        }
        libewf_error_t* error = nullptr;
        const ssize_t got = libewf_handle_read_random(m_handle->handle, out + result.bytes, static_cast<size_t>(piece),
                                                      static_cast<off64_t>(at), &error);
        if (error)
            libewf_error_free(&error);
        collectChecksumErrorsLocked();
        if (got < 0) {
            // A chunk that does not inflate: unreadable, as a whole chunk.
            m_corrupt.add(at - at % m_chunkBytes, m_chunkBytes);
            result.error = EIO;
            return result;
        }
        if (m_corrupt.touches(at, piece)) {
            result.error = EIO;
            return result;
        }
        if (got < piece) {
            result.bytes += got;
            return result;
        }
        result.bytes += piece;
    }
    return result;
}

IVolume::ReadResult CEwfVolume::read(int64_t offset, void* buffer, size_t length)
{
    ReadResult result;
    if (offset < 0 || offset >= m_length || length == 0)
        return result;
    const int64_t wanted = std::min<int64_t>(static_cast<int64_t>(std::min<size_t>(length, INT64_MAX)), m_length - offset);
    std::lock_guard<std::mutex> lock(m_mutex);
    return readLocked(offset, static_cast<uint8_t*>(buffer), wanted);
}

CEwfVolume::Verification CEwfVolume::verify(const std::function<void(int64_t done)>& progress,
                                            const std::atomic<bool>* stop)
{
    Verification v;
    QCryptographicHash md5(QCryptographicHash::Md5);
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    std::vector<uint8_t> buffer(static_cast<size_t>(kVerifyPiece));
    // Each pass moves on by a piece, or to the end of a corrupt chunk.
    for (int64_t done = 0; done < m_length;) {
        if (stop && stop->load()) {
            v.stopped = true;
            return v;
        }
        const int64_t piece = std::min(kVerifyPiece, m_length - done);
        ReadResult r = read(done, buffer.data(), static_cast<size_t>(piece));
        if (r.bytes < piece && r.error != 0) {
            // What the chunk would have held is unknown: hash the bytes
            // libewf gives for it (as other tools do), note it as corrupt.
            const int64_t bad = done + r.bytes;
            const int64_t chunkEnd = std::min(bad - bad % m_chunkBytes + m_chunkBytes, done + piece);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                const ssize_t got = libewf_handle_read_random(m_handle->handle, buffer.data() + r.bytes,
                                                              static_cast<size_t>(chunkEnd - bad),
                                                              static_cast<off64_t>(bad), nullptr);
                if (got != chunkEnd - bad)
                    std::memset(buffer.data() + r.bytes, 0, static_cast<size_t>(chunkEnd - bad));
            }
            v.corrupt.add(bad, chunkEnd - bad);
            r.bytes = chunkEnd - done;
        } else if (r.bytes < piece) {
            break; // the image ends before the size it states
        }
        md5.addData(reinterpret_cast<const char*>(buffer.data()), static_cast<int>(r.bytes));
        sha1.addData(reinterpret_cast<const char*>(buffer.data()), static_cast<int>(r.bytes));
        done += r.bytes;
        if (progress)
            progress(done);
    }
    v.computedMd5 = QString::fromLatin1(md5.result().toHex());
    v.computedSha1 = QString::fromLatin1(sha1.result().toHex());
    return v;
}
