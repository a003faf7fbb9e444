#include "disk/CUserFileAccess.h"

#include <sys/fsuid.h>

namespace {

// setfsuid and setfsgid answer the previous id even when they fail; asking
// with an invalid id changes nothing and answers the current one.
constexpr uid_t kAskUid = static_cast<uid_t>(-1);
constexpr gid_t kAskGid = static_cast<gid_t>(-1);

} // namespace

CUserFileAccess::CUserFileAccess(const CInvokingUser& user)
{
    if (!user.valid())
        return;
    m_switched = true;
    m_oldGid = static_cast<gid_t>(::setfsgid(kAskGid));
    m_oldUid = static_cast<uid_t>(::setfsuid(kAskUid));
    // The group first, while the thread still has every right.
    if (user.gid() != kAskGid) {
        ::setfsgid(user.gid());
        m_ok = static_cast<gid_t>(::setfsgid(kAskGid)) == user.gid();
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
}
