#include "disk/CInvokingUser.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A decimal id as the environment gives it; no sign, no room for -1.
bool parseId(const QByteArray& text, unsigned int* value)
{
    if (text.isEmpty())
        return false;
    bool ok = false;
    const qulonglong v = text.toULongLong(&ok, 10);
    if (!ok || v > std::numeric_limits<unsigned int>::max() - 1u)
        return false;
    *value = static_cast<unsigned int>(v);
    return true;
}

// The password database entry of `uid`, through the reentrant call: other
// threads may look users up too.
bool lookUp(uid_t uid, gid_t* gid, QString* home)
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0 || size > (1 << 20))
        size = 16384;
    std::vector<char> buffer(static_cast<size_t>(size));
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    if (gid)
        *gid = found->pw_gid;
    if (home && found->pw_dir)
        *home = QString::fromLocal8Bit(found->pw_dir);
    return true;
}

// Closes a descriptor however the function ends.
struct Descriptor
{
    int fd = -1;
    explicit Descriptor(int f) : fd(f) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

} // namespace

CInvokingUser::CInvokingUser(uid_t uid, gid_t gid)
    : m_valid(true)
    , m_uid(uid)
    , m_gid(gid)
{
}

CInvokingUser CInvokingUser::find()
{
    if (::geteuid() != 0)
        return CInvokingUser();
    unsigned int uid = 0;
    unsigned int gid = 0;
    gid_t group = static_cast<gid_t>(-1);
    if (parseId(qgetenv("SUDO_UID"), &uid)) {
        if (parseId(qgetenv("SUDO_GID"), &gid))
            group = static_cast<gid_t>(gid);
        else
            lookUp(static_cast<uid_t>(uid), &group, nullptr);
    } else if (parseId(qgetenv("PKEXEC_UID"), &uid)) {
        lookUp(static_cast<uid_t>(uid), &group, nullptr);
    } else {
        return CInvokingUser();
    }
    if (uid == 0)
        return CInvokingUser(); // root asked for it: root keeps it
    return CInvokingUser(static_cast<uid_t>(uid), group);
}

QString CInvokingUser::home() const
{
    QString home;
    if (m_valid)
        lookUp(m_uid, nullptr, &home);
    return home;
}

int CInvokingUser::makeFolder(const QByteArray& path) const
{
    // The parent is reached by its path (links in it are the user's own
    // choice of place); the new folder only through the parent's descriptor.
    const int slash = path.lastIndexOf('/');
    const QByteArray parent = slash > 0 ? path.left(slash) : (slash == 0 ? QByteArray("/") : QByteArray("."));
    const QByteArray name = path.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return EINVAL;
    // O_PATH: making a folder needs no right to list the parent.
    const Descriptor parentFd(::open(parent.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (parentFd.fd < 0)
        return errno;
    if (::mkdirat(parentFd.fd, name.constData(), 0777) != 0)
        return errno;
    if (!m_valid)
        return 0;
    const Descriptor made(::openat(parentFd.fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (made.fd < 0 || ::fstat(made.fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return 0; // not ours any more: it keeps its owner, and is used as it is
    // A file system without owners (FAT) refuses; the folder is still usable.
    (void)::fchown(made.fd, m_uid, m_gid);
    return 0;
}
