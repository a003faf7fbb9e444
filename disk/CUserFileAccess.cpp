#include "disk/CUserFileAccess.h"

#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// setfsuid and setfsgid answer the previous id even when they fail; asking
// with an invalid id changes nothing and answers the current one.
constexpr uid_t kAskUid = static_cast<uid_t>(-1);
constexpr gid_t kAskGid = static_cast<gid_t>(-1);

// The kernel's call, for this thread alone: the C library's setgroups()
// changes every thread of the process, and the other threads keep root's.
int setThreadGroups(size_t count, const gid_t* groups)
{
    return static_cast<int>(::syscall(SYS_setgroups, count, groups));
}

} // namespace

CUserFileAccess::CUserFileAccess(const CInvokingUser& user)
{
    if (!user.valid())
        return;
    m_switched = true;
    m_oldGid = static_cast<gid_t>(::setfsgid(kAskGid));
    m_oldUid = static_cast<uid_t>(::setfsuid(kAskUid));
    // Root's supplementary groups would still open folders of the root
    // group to a link; the user's own group is all this thread keeps.
    const int count = ::getgroups(0, nullptr);
    if (count >= 0) {
        m_oldGroups.resize(static_cast<size_t>(count));
        if (count > 0 && ::getgroups(count, m_oldGroups.data()) != count)
            m_oldGroups.clear();
        const gid_t own = user.gid();
        m_groupsChanged = setThreadGroups(own != kAskGid ? 1 : 0, &own) == 0;
    }
    m_ok = m_groupsChanged;
    // The group first, while the thread still has every right.
    if (user.gid() != kAskGid) {
        ::setfsgid(user.gid());
        m_ok = m_ok && static_cast<gid_t>(::setfsgid(kAskGid)) == user.gid();
    }
    ::setfsuid(user.uid());
    m_ok = m_ok && static_cast<uid_t>(::setfsuid(kAskUid)) == user.uid();
}

CUserFileAccess::~CUserFileAccess()
{
    if (!m_switched)
        return;
    ::setfsuid(m_oldUid);
    ::setfsgid(m_oldGid);
    if (m_groupsChanged)
        (void)setThreadGroups(m_oldGroups.size(), m_oldGroups.data());
}
