#include "recovery/CRecoveryDataFiles.h"

#include "details/CDetailsReader.h"
#include "disk/CErrnoText.h"
#include "disk/CInvokingUser.h"
#include "disk/IVolume.h"
#include "recovery/CRecoveryCopy.h"
#include "recovery/CRecoveryFileName.h"
#include "recovery/CRecoveryFolderPath.h"
#include "recovery/CRecoveryReport.h"
#include "scan/CCompressedUnits.h"
#include "scan/CDocumentBytes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

QString errnoText(int error)
{
    return CErrnoText::text(error);
}

// The reason for a failed write or creation, with what the user can do.
QString writeFailureReason(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QCoreApplication::translate("CRecoveryDataFiles", "%1: the disk holding the output folder is full. Free some space there or "
                              "choose a folder on another disk.")
            .arg(errnoText(error));
    case EFBIG:
        return QCoreApplication::translate("CRecoveryDataFiles", "%1: the output folder's file system (or a file size limit) does not allow a "
                              "file this large. Choose a folder on another file system.")
            .arg(errnoText(error));
    case EACCES:
    case EPERM:
        return QCoreApplication::translate("CRecoveryDataFiles", "%1: no permission to write there. Choose a folder you can write to.")
            .arg(errnoText(error));
    case EROFS:
        return QCoreApplication::translate("CRecoveryDataFiles", "%1: the output folder is on a read-only file system. Choose another folder.")
            .arg(errnoText(error));
    case ENAMETOOLONG:
        return QCoreApplication::translate("CRecoveryDataFiles", "%1: choose an output folder with a shorter path.").arg(errnoText(error));
    default:
        return QCoreApplication::translate("CRecoveryDataFiles", "%1. Check the output disk and choose another folder if the problem stays.")
            .arg(errnoText(error));
    }
}

// Why a document's bytes are not the document, or "" when nothing says so.
QString damageReason(const CFileNode& node)
{
    if (node.overwritten > 0.0)
        return QCoreApplication::translate("CRecoveryDataFiles", "partly overwritten: other files now use %1% of it")
            .arg(std::max(1, static_cast<int>(node.overwritten * 100.0)));
    if (node.incomplete)
        return QCoreApplication::translate("CRecoveryDataFiles", "its file-system entry is cut short");
    if (node.undecodable)
        return QCoreApplication::translate("CRecoveryDataFiles", "its compressed bytes cannot be decompressed");
    if (node.details.integrity == CDocumentDetails::IntegrityDamaged)
        return QCoreApplication::translate("CRecoveryDataFiles", "damaged: %1").arg(node.details.integrityReason);
    return QString();
}

// The file being written, under its temporary name: closed on every path,
// and removed unless it was given its final name, so that nothing
// half-written is ever left looking recovered.
class PartialFile
{
public:
    PartialFile() = default;
    ~PartialFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_committed && !m_path.isEmpty())
            ::unlink(m_path.constData());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    void adopt(int fd, const QByteArray& path)
    {
        m_fd = fd;
        m_path = path;
    }
    int fd() const { return m_fd; }
    const QByteArray& path() const { return m_path; }

    // Closes the file; 0 or the errno of a failed close (which on some file
    // systems is where a full disk shows).
    int close()
    {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0 && errno != EINTR)
            return errno;
        return 0;
    }
    // The file now lives under its final name.
    void committed() { m_committed = true; }

private:
    int m_fd = -1;
    QByteArray m_path;
    bool m_committed = false;
};

// File systems that cannot rename without replacing say so with one of these.
bool unsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP || error == EPERM;
}

// Gives `from` the name `to` unless `to` exists: 0, EEXIST, or the errno of
// a failure. renameat2(RENAME_NOREPLACE) where the file system has it; a
// hard link and an unlink otherwise (same guarantee, e.g. FUSE file
// systems); where neither works (no hard links), the name is first taken
// with O_EXCL and then replaced by the whole file, which replaces nothing
// but our own empty placeholder.
int renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    int error = errno;
    if (!unsupported(error))
        return error;
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    error = errno;
    if (!unsupported(error) && error != EMLINK)
        return error;
    const int fd = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return errno;
    ::close(fd);
    if (::rename(from.constData(), to.constData()) != 0) {
        error = errno;
        ::unlink(to.constData());
        return error;
    }
    return 0;
}

// The longest name, in bytes, that the folder's file system takes.
int nameLimit(const QString& folder)
{
    const long limit = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    return limit > 0 && limit < CRecoveryFileName::kDefaultNameLimit ? static_cast<int>(limit)
                                                                    : CRecoveryFileName::kDefaultNameLimit;
}

// Sets the file's modification time (the access time is left alone).
void setModified(int fd, const QDateTime& time)
{
    const qint64 ms = time.toMSecsSinceEpoch();
    qint64 seconds = ms / 1000;
    qint64 millis = ms % 1000;
    if (millis < 0) { // before 1970: the remainder is negative
        seconds -= 1;
        millis += 1000;
    }
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(millis) * 1000000L;
    if (::futimens(fd, times) != 0) {
        // A target that keeps no such time still has the file; the time is
        // a courtesy.
    }
}

} // namespace

CRecoveryDataFiles::CRecoveryDataFiles(QObject* parent, uint32_t windowSize)
    : QThread(parent)
    , m_windowSize(windowSize < kSectorSize ? kSectorSize : windowSize - windowSize % kSectorSize)
{
    registerFileNodeMetaType();
    // A start that came while a stopped run was ending goes now.
    connect(
        this, &QThread::finished, this,
        [this]() {
            if (m_startQueued && !isRunning())
                launch();
        },
        Qt::QueuedConnection);
}

CRecoveryDataFiles::~CRecoveryDataFiles()
{
    m_startQueued = false;
    stopRecovery();
    wait();
}

void CRecoveryDataFiles::setSavePath(const QString& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.savePath = path;
}

void CRecoveryDataFiles::setDiskHandle(std::shared_ptr<IVolume> volume)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.volume = std::move(volume);
}

bool CRecoveryDataFiles::setRecoveryFiles(const QList<CFileNode>& files, const QVector<bool>& writeDamaged)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.files = files;
    m_pending.writeDamaged = writeDamaged;
    return true;
}

void CRecoveryDataFiles::setKeepFolders(bool keep)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.keepFolders = keep;
}

void CRecoveryDataFiles::setKnownUnreadable(const CUnreadableRanges& ranges)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.knownUnreadable = ranges;
}

void CRecoveryDataFiles::stopRecovery()
{
    m_startQueued = false;
    m_running = false;
}

void CRecoveryDataFiles::stopAfterCurrentFile()
{
    // A start waiting for this run would otherwise undo the stop.
    m_startQueued = false;
    m_stopAfterFile = true;
}

void CRecoveryDataFiles::start(QThread::Priority priority)
{
    m_priority = priority;
    // From here on nothing the old run posts reaches a receiver.
    ++m_generation;
    if (isRunning()) {
        // Its thread ends at its next window; launch() follows from the
        // finished() connection. Waiting here would block the interface.
        m_startQueued = true;
        return;
    }
    launch();
}

void CRecoveryDataFiles::launch()
{
    m_startQueued = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_job = m_pending;
        m_job.generation = m_generation.load();
        m_failedFile.clear();
        m_failureReason.clear();
    }
    m_written = 0;
    m_leftOut = 0;
    m_stopAfterFile = false;
    m_running = true;
    QThread::start(m_priority);
}

QString CRecoveryDataFiles::failedFile() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failedFile;
}

QString CRecoveryDataFiles::failureReason() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failureReason;
}

void CRecoveryDataFiles::post(uint64_t generation, std::function<void()> emitter)
{
    // Emitted on this object's own thread, and dropped there if a newer run
    // has started since: a stale progress value must never be taken for the
    // completion of the next run.
    QMetaObject::invokeMethod(
        this,
        [this, generation, emitter]() {
            if (generation == m_generation.load())
                emitter();
        },
        Qt::QueuedConnection);
}

void CRecoveryDataFiles::fail(uint64_t generation, const QString& path, const QString& reason,
                              bool sourceUnreadable)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failedFile = path;
        m_failureReason = reason;
    }
    post(generation,
         [this, path, reason, sourceUnreadable]() { emit sigRecoveryFailed(path, reason, sourceUnreadable); });
}

CRecoveryDataFiles::Owner CRecoveryDataFiles::invokingUser()
{
    Owner owner;
    const CInvokingUser user = CInvokingUser::find();
    if (!user.valid())
        return owner;
    owner.valid = true;
    owner.uid = static_cast<unsigned int>(user.uid());
    owner.gid = static_cast<unsigned int>(user.gid());
    return owner;
}

bool CRecoveryDataFiles::makeFolder(const QString& folder, const Owner& owner, QString* failedPath,
                                    QString* reason) const
{
    if (folder.trimmed().isEmpty()) {
        *failedPath = folder;
        *reason = QCoreApplication::translate("CRecoveryDataFiles", "no output folder was given. Choose a folder to write the documents into.");
        return false;
    }
    const QString absolute = QDir::cleanPath(QDir(folder).absolutePath());
    const QStringList parts = absolute.split(QLatin1Char('/'));
    QString prefix;
    for (const QString& part : parts) {
        if (part.isEmpty())
            continue;
        prefix += QLatin1Char('/') + part;
        const QByteArray encoded = QFile::encodeName(prefix);
        struct stat st;
        if (::stat(encoded.constData(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                continue;
            *failedPath = prefix;
            *reason = QCoreApplication::translate("CRecoveryDataFiles", "it exists and is not a folder. Choose another output folder.");
            return false;
        }
        // Only folders made here change hands, through their descriptor; an
        // existing one, or a link put in place of a new one, keeps its owner.
        const CInvokingUser user = owner.valid ? CInvokingUser(owner.uid, owner.gid) : CInvokingUser();
        const int error = user.makeFolder(encoded);
        if (error != 0) {
            if (error == EEXIST && ::stat(encoded.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                continue;
            *failedPath = prefix;
            *reason = QCoreApplication::translate("CRecoveryDataFiles", "the folder cannot be created: %1").arg(writeFailureReason(error));
            return false;
        }
    }
    return true;
}

bool CRecoveryDataFiles::makeSubfolders(const QString& base, const QStringList& names, const Owner& owner,
                                        QString* folder, QString* reason) const
{
    const CInvokingUser user = owner.valid ? CInvokingUser(owner.uid, owner.gid) : CInvokingUser();
    QString at = base;
    for (const QString& name : names) {
        bool made = false;
        for (int k = 0; k <= kMaxNameSuffix && !made; ++k) {
            const QString candidate = at + QLatin1Char('/') + (k == 0 ? name : name + QStringLiteral(" (%1)").arg(k));
            const QByteArray encoded = QFile::encodeName(candidate);
            struct stat st;
            // lstat: a link is taken, never followed, so nothing is written
            // where a link in the output folder points.
            if (::lstat(encoded.constData(), &st) == 0) {
                if (S_ISDIR(st.st_mode)) {
                    at = candidate;
                    made = true;
                }
                continue;
            }
            const int error = user.makeFolder(encoded);
            if (error == 0 || (error == EEXIST && ::lstat(encoded.constData(), &st) == 0 && S_ISDIR(st.st_mode))) {
                at = candidate;
                made = true;
                continue;
            }
            if (error == EEXIST)
                continue;
            *folder = candidate;
            *reason = QCoreApplication::translate("CRecoveryDataFiles", "the folder cannot be created: %1")
                          .arg(writeFailureReason(error));
            return false;
        }
        if (!made) {
            *folder = at + QLatin1Char('/') + name;
            *reason = QCoreApplication::translate("CRecoveryDataFiles", "the output folder already holds %1 files of this name. Choose an empty folder.")
                          .arg(kMaxNameSuffix + 1);
            return false;
        }
    }
    *folder = at;
    return true;
}

bool CRecoveryDataFiles::planCopy(const CFileNode& node, IVolume* volume, QVector<CFileNode::Extent>* runs,
                                  QString* reason) const
{
    runs->clear();
    if (node.size < 0) {
        *reason = QCoreApplication::translate("CRecoveryDataFiles", "the found document's record is invalid (size %1). Scan the volume again.")
                      .arg(node.size);
        return false;
    }
    if (node.hasResidentData)
        return true; // the bytes are in the record itself

    if (node.extents.isEmpty()) {
        constexpr int64_t maxSector = std::numeric_limits<int64_t>::max() / kSectorSize;
        if (node.startSector > static_cast<quint64>(maxSector)) {
            *reason = QCoreApplication::translate("CRecoveryDataFiles", "the found document's record is invalid (start sector %1, size %2). "
                                     "Scan the volume again.")
                          .arg(node.startSector)
                          .arg(node.size);
            return false;
        }
        if (node.size > 0)
            runs->append({static_cast<int64_t>(node.startSector) * kSectorSize, node.size});
    } else {
        // The entry's runs, in file order, up to the file's size: the last
        // cluster's slack is not the document. A compressed file's stored
        // units are taken whole.
        int64_t left = node.compressionUnit > 0 ? std::numeric_limits<int64_t>::max() : node.size;
        for (const CFileNode::Extent& e : node.extents) {
            if (left == 0)
                break;
            if (e.length < 0 || (e.offset < 0 && e.offset != CFileNode::Extent::kSparse)) {
                *reason = QCoreApplication::translate("CRecoveryDataFiles", "the found document's record is invalid (a run of %1 bytes at %2). "
                                         "Scan the volume again.")
                              .arg(e.length)
                              .arg(e.offset);
                return false;
            }
            const int64_t length = std::min(e.length, left);
            if (length > 0)
                runs->append({e.offset, length});
            left -= length;
        }
    }

    for (const CFileNode::Extent& run : *runs) {
        if (run.offset == CFileNode::Extent::kSparse)
            continue;
        if (!volume) {
            *reason = QCoreApplication::translate("CRecoveryDataFiles", "no volume to read from. Scan the volume again, then recover.");
            return false;
        }
        const int64_t length = volume->length();
        if (run.offset > length || run.length > length - run.offset) {
            *reason = QCoreApplication::translate("CRecoveryDataFiles", "the document (bytes %1 to %2) runs past the end of the volume %3 (%4 bytes). "
                                     "Scan the volume again.")
                          .arg(run.offset)
                          .arg(static_cast<qulonglong>(run.offset) + static_cast<qulonglong>(run.length))
                          .arg(volume->name())
                          .arg(length);
            return false;
        }
    }
    return true;
}

CRecoveryDataFiles::Outcome CRecoveryDataFiles::copyCompressed(const CFileNode& node, IVolume* volume,
                                                               const QVector<CFileNode::Extent>& runs, int fd,
                                                               bool writeDamaged, CRecoveryCopy* copy,
                                                               QString* reason) const
{
    CCompressedUnits units(volume, runs, node.compressionUnit, node.size);
    if (units.unitBytes() == 0) {
        *reason = QCoreApplication::translate("CRecoveryDataFiles", "the found document's record is invalid (compression unit of %1 bytes). "
                                 "Scan the volume again.")
                      .arg(node.compressionUnit);
        return Outcome::Failed;
    }
    std::vector<uint8_t> unit(static_cast<size_t>(units.unitBytes()));
    for (int64_t k = 0; k < units.unitCount(); ++k) {
        if (!m_running)
            return Outcome::Stopped;
        const CCompressedUnits::Status s = units.readUnit(k, unit.data());
        if (s == CCompressedUnits::Status::Unreadable) {
            *reason = QCoreApplication::translate("CRecoveryDataFiles", "unreadable sectors in its compressed bytes %1 to %2 on %3")
                          .arg(k * units.unitBytes())
                          .arg((k + 1) * units.unitBytes())
                          .arg(volume ? volume->name() : QString());
            return Outcome::LeftOutUnreadable;
        }
        if (s != CCompressedUnits::Status::Ok && (node.undecodable || writeDamaged)) {
            // Asked for although damaged: the unit's bytes are lost, and
            // zeros stand for them, as for any hole.
            std::memset(unit.data(), 0, unit.size());
        } else if (s != CCompressedUnits::Status::Ok) {
            // Not so when it was scanned: the volume changed since.
            *reason = QCoreApplication::translate("CRecoveryDataFiles", "damaged: %1")
                          .arg(CCompressedUnits::undecodableReason(k, units.unitBytes()));
            return Outcome::LeftOut;
        }
        const int64_t piece = std::min<int64_t>(units.unitBytes(), node.size - k * units.unitBytes());
        if (copy->append(fd, unit.data(), piece) != CRecoveryCopy::Outcome::Copied) {
            *reason = writeFailureReason(copy->error());
            return Outcome::Failed;
        }
    }
    return Outcome::Written;
}

CRecoveryDataFiles::Outcome CRecoveryDataFiles::recoverOne(const Job& job, int number, const Owner& owner,
                                                            Written* written, QString* path, QString* reason)
{
    written->node = job.files.at(number - 1);
    CFileNode& node = written->node;
    const bool writeDamaged = job.writeDamaged.value(number - 1, false);
    const QString base = QDir::cleanPath(QDir(job.savePath).absolutePath());
    const int limit = nameLimit(base);
    const QStringList subfolders = job.keepFolders ? CRecoveryFolderPath::components(node, limit) : QStringList();
    // Made only once the document is known to be written, so that one left
    // out leaves no empty folder behind.
    QString folder = subfolders.isEmpty() ? base : base + QLatin1Char('/') + subfolders.join(QLatin1Char('/'));
    const CRecoveryFileName naming(node, limit);
    *path = folder + QLatin1Char('/') + naming.candidate(CRecoveryFileName::AsFound);

    // Check the record against the volume before anything is created.
    IVolume* volume = job.volume.get();
    QVector<CFileNode::Extent> runs;
    if (!planCopy(node, volume, &runs, reason))
        return Outcome::Failed;

    // Over sectors the scan could not read: not read again only to fail
    // slowly, and said as what it is.
    if (!writeDamaged && volume) {
        for (const CFileNode::Extent& run : runs) {
            if (run.offset == CFileNode::Extent::kSparse)
                continue;
            const QVector<CUnreadableRanges::Range> bad = job.knownUnreadable.within(run.offset, run.length);
            if (!bad.isEmpty()) {
                *reason = QCoreApplication::translate("CRecoveryDataFiles", "unreadable sectors at byte %1 of %2 (%3)")
                              .arg(bad.first().offset)
                              .arg(volume->name(), errnoText(EIO));
                return Outcome::LeftOutUnreadable;
            }
        }
    }
    // A document the details pass has not judged (not come to yet, or its
    // first budget was too small) is checked now: recovering early must not
    // take it for whole. A verdict found here replaces the earlier one.
    if (!node.details.examined || node.details.integrity == CDocumentDetails::IntegrityUnchecked) {
        const CDetailsBudget budget = CDetailsBudget::large();
        CDocumentBytes bytes(volume, node, budget.readBytes);
        const CDocumentDetails checked = CDetailsReader::read(bytes, node.typeName, budget);
        if (!node.details.examined || checked.integrity != CDocumentDetails::IntegrityUnchecked)
            node.details = checked;
    }
    if (!writeDamaged) {
        const QString damage = damageReason(node);
        if (!damage.isEmpty()) {
            *reason = damage;
            return Outcome::LeftOut;
        }
    }

    // The spellings of the name to try, in order: a name the output file
    // system refuses is tried in its portable spelling, then as the sector
    // name.
    QVector<CRecoveryFileName::Form> forms{CRecoveryFileName::AsFound};
    for (const auto form : {CRecoveryFileName::Portable, CRecoveryFileName::SectorName}) {
        if (naming.differs(form))
            forms.append(form);
    }

    if (!subfolders.isEmpty() && !makeSubfolders(base, subfolders, owner, &folder, reason)) {
        *path = folder;
        return Outcome::Failed;
    }

    // A new hidden file that says it is partial; a leftover of an earlier
    // run keeps its name and this one takes the next.
    PartialFile out;
    int refusal = 0;
    int formIndex = 0;
    for (; formIndex < forms.size() && out.fd() < 0; ++formIndex) {
        refusal = 0;
        for (int k = 0; k <= kMaxNameSuffix; ++k) {
            const QString candidate =
                folder + QLatin1Char('/') + naming.partial(forms[formIndex], k, QLatin1String(kPartialSuffix));
            const QByteArray encoded = QFile::encodeName(candidate);
            const int fd = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd >= 0) {
                out.adopt(fd, encoded);
                break;
            }
            const int error = errno;
            if (error == EEXIST)
                continue;
            if (CRecoveryFileName::isNameRefusal(error)) {
                refusal = error;
                break;
            }
            *reason = QCoreApplication::translate("CRecoveryDataFiles", "the file cannot be created: %1").arg(writeFailureReason(error));
            return Outcome::Failed;
        }
        if (out.fd() < 0 && refusal == 0) {
            *reason = QCoreApplication::translate("CRecoveryDataFiles", "the output folder already holds %1 files of this name. Choose an empty folder.")
                          .arg(kMaxNameSuffix + 1);
            return Outcome::Failed;
        }
    }
    if (out.fd() < 0) {
        *reason = QCoreApplication::translate("CRecoveryDataFiles", "the file cannot be created: %1").arg(writeFailureReason(refusal));
        return Outcome::Failed;
    }
    // The spelling the partial file took is the first one tried for the
    // final name.
    forms.remove(0, formIndex - 1);
    if (owner.valid && ::fchown(out.fd(), owner.uid, owner.gid) != 0) {
        // File systems without owners refuse; the file is still written.
    }
    const QString finalName = naming.candidate(forms.first());
    *path = folder + QLatin1Char('/') + finalName;
    const QString partialPath = QFile::decodeName(out.path());
    post(job.generation,
         [this, number, partialPath, finalName]() { emit sigFileStarted(number, partialPath, finalName); });

    CRecoveryCopy copy(volume, m_windowSize, m_running);
    copy.setFillUnreadable(writeDamaged);
    copy.setKnownUnreadable(&job.knownUnreadable);
    CRecoveryCopy::Outcome copied = CRecoveryCopy::Outcome::Copied;
    if (node.compressionUnit > 0 && !node.hasResidentData) {
        const Outcome decompressed = copyCompressed(node, volume, runs, out.fd(), writeDamaged, &copy, reason);
        if (decompressed != Outcome::Written)
            return decompressed;
    } else {
        copied = copy.copy(node, runs, out.fd());
    }
    written->volumeUnreadable = copy.volumeUnreadable();
    switch (copied) {
    case CRecoveryCopy::Outcome::Copied:
        break;
    case CRecoveryCopy::Outcome::Stopped:
        return Outcome::Stopped;
    case CRecoveryCopy::Outcome::WriteFailed:
        *reason = writeFailureReason(copy.error());
        return Outcome::Failed;
    case CRecoveryCopy::Outcome::Unreadable:
        *reason = copy.error() != 0
                      ? QCoreApplication::translate("CRecoveryDataFiles", "unreadable sectors at byte %1 of %2 (%3)")
                            .arg(copy.failedAt())
                            .arg(volume->name(), errnoText(copy.error()))
                      : QCoreApplication::translate("CRecoveryDataFiles",
                                                    "%1 ends at byte %2 now: it was shortened after the scan")
                            .arg(volume->name())
                            .arg(copy.failedAt());
        return Outcome::LeftOutUnreadable;
    case CRecoveryCopy::Outcome::SourceLost:
        *reason = QCoreApplication::translate("CRecoveryDataFiles",
                                              "the source %1 is gone (%2 at byte %3), so %4 and the documents "
                                              "after it were not written. The output folder is fine. Connect "
                                              "the disk again and recover what is left.")
                      .arg(volume->name(), errnoText(copy.error()))
                      .arg(copy.failedAt())
                      .arg(finalName);
        return Outcome::SourceUnreadable;
    }
    written->sha256Hex = copy.sha256Hex();
    written->fileUnreadable = copy.fileUnreadable();
    if (!written->fileUnreadable.isEmpty()) {
        // Written on request with zeros for what the source did not give:
        // whatever its check said, it is not whole now.
        node.details.integrity = CDocumentDetails::IntegrityDamaged;
        node.details.integrityReason = QCoreApplication::translate("CRecoveryDataFiles", "unreadable sectors at bytes %1 of the file")
                                           .arg(written->fileUnreadable.text());
    }

    // The time the file last had on its own volume, after the last write
    // (the rename below keeps it).
    // (the file system's time, else the one the document states)
    if (node.bestModified().isValid())
        setModified(out.fd(), node.bestModified());

    int error = out.close();
    if (error != 0) {
        *reason = writeFailureReason(error);
        return Outcome::Failed;
    }
    // Whole: give it its name, never replacing anything.
    for (const CRecoveryFileName::Form form : forms) {
        for (int k = 0; k <= kMaxNameSuffix; ++k) {
            const QString candidate = folder + QLatin1Char('/') + naming.candidate(form, k);
            error = renameNoReplace(out.path(), QFile::encodeName(candidate));
            if (error == 0) {
                out.committed();
                *path = candidate;
                return Outcome::Written;
            }
            if (error == EEXIST)
                continue;
            *path = candidate;
            if (CRecoveryFileName::isNameRefusal(error))
                break; // the next spelling
            *reason = QCoreApplication::translate("CRecoveryDataFiles", "the finished file cannot be given its name: %1").arg(writeFailureReason(error));
            return Outcome::Failed;
        }
        if (error == EEXIST) {
            *reason = QCoreApplication::translate("CRecoveryDataFiles", "the output folder already holds %1 files of this name. Choose an empty folder.")
                          .arg(kMaxNameSuffix + 1);
            return Outcome::Failed;
        }
    }
    *reason = QCoreApplication::translate("CRecoveryDataFiles", "the finished file cannot be given its name: %1").arg(writeFailureReason(error));
    return Outcome::Failed;
}

void CRecoveryDataFiles::run()
{
    const Job& job = m_job;
    const uint64_t generation = job.generation;
    const int count = job.files.size();
    const Owner owner = invokingUser();

    QString failedPath;
    QString reason;
    if (!makeFolder(job.savePath, owner, &failedPath, &reason)) {
        fail(generation, failedPath, reason, false);
        return;
    }

    // What was written and left out, for report.xml; written however the
    // run ends once anything was, so the files in the folder are always
    // accounted for.
    CRecoveryReport report;
    if (job.volume)
        report.setSource(job.volume->name(), job.volume->length());
    CUnreadableRanges volumeUnreadable = job.knownUnreadable;
    const QString folder = QDir::cleanPath(QDir(job.savePath).absolutePath());
    const auto writeReport = [&](QString* path, QString* why) {
        report.setSourceUnreadable(volumeUnreadable);
        return (report.fileCount() == 0 && report.leftOutCount() == 0) || report.write(folder, path, why);
    };

    for (int i = 0; i < count; ++i) {
        if (!m_running || m_stopAfterFile) {
            writeReport(&failedPath, &reason);
            return;
        }
        QString path;
        Written written;
        const Outcome outcome = recoverOne(job, i + 1, owner, &written, &path, &reason);
        volumeUnreadable.add(written.volumeUnreadable);
        if (outcome == Outcome::Stopped) {
            writeReport(&failedPath, &reason);
            return;
        }
        if (outcome == Outcome::LeftOut || outcome == Outcome::LeftOutUnreadable) {
            const QString name = QFileInfo(path).fileName();
            const bool unreadable = outcome == Outcome::LeftOutUnreadable;
            report.addLeftOut(QDir(folder).relativeFilePath(path), written.node, reason);
            ++m_leftOut;
            const int number = i + 1;
            post(generation, [this, number, name, reason, unreadable]() {
                emit sigFileLeftOut(number, name, reason, unreadable);
            });
        } else if (outcome != Outcome::Written) {
            QString reportPath;
            QString reportReason;
            writeReport(&reportPath, &reportReason);
            fail(generation, path, reason, outcome == Outcome::SourceUnreadable);
            return;
        } else {
            const QFileInfo file(path);
            report.addFile(QDir(folder).relativeFilePath(path), written.node, file.size(), written.sha256Hex,
                           written.fileUnreadable);
            ++m_written;
            const int number = i + 1;
            post(generation, [this, number, path]() { emit sigFileRecovered(number, path); });
        }
        // N is kept for the end: it means "complete" to whoever listens.
        const int done = i + 1;
        if (done < count)
            post(generation, [this, done]() { emit sigRecoveryFinished(done); });
    }
    QString reportPath;
    if (!writeReport(&reportPath, &reason)) {
        fail(generation, reportPath, reason, false);
        return;
    }
    post(generation, [this, count]() { emit sigRecoveryFinished(count); });
}
