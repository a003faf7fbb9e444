#include "disk/CVolumeImager.h"

#include "disk/CFileVolume.h"
#include "disk/CReadScheduler.h"
#include "disk/CWindowBuffer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether `path` names the very file or device `source` does.
bool sameObject(const struct stat& source, const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    if (S_ISBLK(source.st_mode) && S_ISBLK(st.st_mode))
        return source.st_rdev == st.st_rdev;
    return source.st_dev == st.st_dev && source.st_ino == st.st_ino;
}

// An open descriptor, closed however the copy ends.
struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool writeFully(int fd, const uint8_t* data, int64_t length, int64_t offset)
{
    int64_t done = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(fd, data + done, static_cast<size_t>(length - done), static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

CVolumeImager::CVolumeImager(QString source, QString image, QString map)
    : m_source(std::move(source))
    , m_image(std::move(image))
    , m_mapPath(map.isEmpty() ? mapBeside(m_image) : std::move(map))
{
}

QString CVolumeImager::mapBeside(const QString& image)
{
    const QFileInfo info(image);
    const QString suffix = info.suffix();
    if (suffix.isEmpty() || info.completeBaseName().isEmpty())
        return image + QStringLiteral(".map");
    return image.left(image.size() - suffix.size()) + QStringLiteral("map");
}

bool CVolumeImager::saveMap(QString* error)
{
    QSaveFile file(m_mapPath);
    const QByteArray text = m_map.text(QStringLiteral("tamsel-cli image %1 %2 --map %3").arg(m_source, m_image, m_mapPath));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write the map file %1: %2.").arg(m_mapPath, file.errorString());
        return false;
    }
    return true;
}

bool CVolumeImager::run(const ProgressSink& progress, const std::function<bool()>& keepGoing, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    CFileVolume::OpenError openError;
    std::unique_ptr<CFileVolume> volume = CFileVolume::open(m_source, &openError);
    if (!volume)
        return fail(openError.reason);
    struct stat source;
    if (::fstat(volume->descriptor(), &source) != 0)
        return fail(QStringLiteral("cannot examine %1: %2.").arg(m_source, QString::fromLocal8Bit(std::strerror(errno))));
    if (sameObject(source, m_image) || sameObject(source, m_mapPath))
        return fail(QStringLiteral("the image and the map must not be the source %1 itself: write them elsewhere.")
                        .arg(m_source));
    if (QFileInfo(m_image).absoluteFilePath() == QFileInfo(m_mapPath).absoluteFilePath())
        return fail(QStringLiteral("the image and the map must be two files."));
    m_length = volume->length();
    if (m_length <= 0)
        return fail(QStringLiteral("%1 is empty, or its size cannot be known: nothing to copy.").arg(m_source));

    // Go on from an existing map: its '+' bytes are in the image already.
    const bool imageExists = QFileInfo::exists(m_image);
    m_resumed = false;
    if (QFileInfo::exists(m_mapPath)) {
        QFile file(m_mapPath);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read the map file %1: %2.").arg(m_mapPath, file.errorString()));
        QString why;
        if (!CDdrescueMap::parse(file.read(64 * 1024 * 1024), &m_map, &why))
            return fail(QStringLiteral("%1 is not a ddrescue map file (%2): give another map path, or remove it to "
                                       "start over.")
                            .arg(m_mapPath, why));
        if (m_map.extent() > m_length)
            return fail(QStringLiteral("the map file %1 describes %2 bytes, but %3 has %4: it belongs to another "
                                       "source.")
                            .arg(m_mapPath)
                            .arg(m_map.extent())
                            .arg(m_source)
                            .arg(m_length));
        if (m_map.bytesWith(CDdrescueMap::Finished) > 0 && !imageExists)
            return fail(QStringLiteral("the map file %1 says part of %2 was copied, but the image %3 is missing: "
                                       "give the image it belongs to, or remove the map to start over.")
                            .arg(m_mapPath, m_source, m_image));
        if (m_map.extent() < m_length)
            m_map.set(m_map.extent(), m_length - m_map.extent(), CDdrescueMap::NonTried);
        m_resumed = true;
    } else {
        m_map = CDdrescueMap::untried(m_length);
    }

    Descriptor out;
    out.fd = ::open(QFile::encodeName(m_image).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (out.fd < 0)
        return fail(QStringLiteral("cannot write the image %1: %2.").arg(m_image, QString::fromLocal8Bit(std::strerror(errno))));
    struct stat imageStat;
    if (::fstat(out.fd, &imageStat) != 0 || !S_ISREG(imageStat.st_mode))
        return fail(QStringLiteral("the image %1 must be a file.").arg(m_image));
    if (imageStat.st_size < m_length && ::ftruncate(out.fd, static_cast<off_t>(m_length)) != 0)
        return fail(QStringLiteral("cannot make the image %1 %2 bytes long: %3.")
                        .arg(m_image)
                        .arg(m_length)
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));

    CReadScheduler reader(volume.get(), CReadScheduler::kDefaultStreams, volume->rotational());
    // What an earlier run could not read is read again at the end; its bad
    // sectors are left as they are.
    for (const char status : {CDdrescueMap::NonTrimmed, CDdrescueMap::NonScraped, CDdrescueMap::BadSector}) {
        const CUnreadableRanges stretches = m_map.stretchesWith(status);
        for (const CUnreadableRanges::Range& r : stretches.ranges()) {
            if (status == CDdrescueMap::BadSector)
                reader.markBad(r.offset, r.length);
            else
                reader.markPending(r.offset, r.length);
        }
    }

    // The map's word for each stretch of the reader's list in [from, to).
    auto noteStates = [&](int64_t from, int64_t to) {
        for (const auto& s : reader.states()) {
            const int64_t a = std::max(from, s.first.offset);
            const int64_t b = std::min(to, s.first.end());
            if (b <= a)
                continue;
            const char status = s.second == CReadScheduler::State::Bad       ? CDdrescueMap::BadSector
                                : s.second == CReadScheduler::State::Skipped ? CDdrescueMap::NonTrimmed
                                                                             : CDdrescueMap::NonScraped;
            m_map.set(a, b - a, status);
        }
    };
    Progress state;
    state.total = m_length;
    state.done = m_length - m_map.bytesWith(CDdrescueMap::NonTried);
    auto tell = [&]() {
        state.unreadable = m_length - m_map.bytesWith(CDdrescueMap::Finished) - m_map.bytesWith(CDdrescueMap::NonTried);
        if (progress)
            progress(state);
    };
    QElapsedTimer sinceSave;
    sinceSave.start();
    auto goOn = [&]() { return (!keepGoing || keepGoing()) && !reader.deviceLost(); };

    CWindowBuffer buffer(static_cast<size_t>(kChunk));
    if (!buffer.data())
        return fail(QStringLiteral("not enough memory for the copy."));
    m_map.setCurrent(0, CDdrescueMap::NonTried);
    tell();
    // Good parts first: every untried stretch, chunk by chunk, in order.
    const CUnreadableRanges untried = m_map.stretchesWith(CDdrescueMap::NonTried);
    for (const CUnreadableRanges::Range& todo : untried.ranges()) {
        for (int64_t at = todo.offset; at < todo.end() && goOn(); at += kChunk) {
            const int64_t length = std::min(kChunk, todo.end() - at);
            reader.read(buffer.data(), at, length);
            if (!writeFully(out.fd, buffer.data(), length, at))
                return fail(QStringLiteral("cannot write the image %1: %2.")
                                .arg(m_image, QString::fromLocal8Bit(std::strerror(errno))));
            m_map.set(at, length, CDdrescueMap::Finished);
            noteStates(at, at + length);
            m_map.setCurrent(at + length, CDdrescueMap::NonTried);
            state.done += length;
            tell();
            if (sinceSave.elapsed() >= m_saveIntervalMs) {
                if (::fdatasync(out.fd) != 0 || !saveMap(error))
                    return false;
                sinceSave.restart();
            }
        }
    }
    // Then what was skipped, sector by sector, written as it comes.
    bool writeFailed = false;
    if (goOn() && m_map.bytesWith(CDdrescueMap::NonTried) == 0) {
        state.lastPass = true;
        m_map.setCurrent(0, CDdrescueMap::NonTrimmed);
        tell();
        reader.lastPass(m_lastPassBudgetMs, keepGoing, [&](int64_t offset, const uint8_t* data, int64_t length) {
            if (!writeFully(out.fd, data, length, offset)) {
                writeFailed = true;
                return;
            }
            m_map.set(offset, length, CDdrescueMap::Finished);
        });
        if (writeFailed)
            return fail(QStringLiteral("cannot write the image %1: %2.")
                            .arg(m_image, QString::fromLocal8Bit(std::strerror(errno))));
        // Narrowing turned skipped stretches into bad sectors and untried
        // middles: the map says which.
        noteStates(0, m_length);
    }
    const bool finished = m_map.bytesWith(CDdrescueMap::NonTried) == 0 && m_map.bytesWith(CDdrescueMap::NonTrimmed) == 0
        && m_map.bytesWith(CDdrescueMap::NonScraped) == 0;
    m_map.setCurrent(finished ? m_length : m_map.currentPosition(),
                     finished ? static_cast<char>(CDdrescueMap::Finished) : m_map.currentStatus());
    tell();
    if (::fsync(out.fd) != 0)
        return fail(QStringLiteral("cannot write the image %1: %2.").arg(m_image, QString::fromLocal8Bit(std::strerror(errno))));
    if (!saveMap(error))
        return false;
    if (reader.deviceLost())
        return fail(QStringLiteral("%1 can no longer be read: the device was removed or has failed. What was read is "
                                   "in %2 and the map %3; reconnect it and run the same command to go on.")
                        .arg(m_source, m_image, m_mapPath));
    return true;
}
