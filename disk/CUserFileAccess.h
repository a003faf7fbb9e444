#pragma once

#include "disk/CInvokingUser.h"

#include <sys/types.h>

#include <vector>

// While it lives, the calling thread's file accesses are checked as those
// of `user` and what it creates belongs to them (the thread's file-system
// ids, setfsuid/setfsgid, and its supplementary groups cut to the user's
// group; other threads keep root's rights, so a scan reads its source
// meanwhile).
//
// For the files a root process keeps in a user's home: the user decides
// what the folders there are, links included, so the program goes there
// with no more rights than the user has. A link to a place the user may
// not write then fails as it would for them, and nothing changes hands.
class CUserFileAccess
{
public:
    // Nothing changes for a user that is not valid.
    explicit CUserFileAccess(const CInvokingUser& user);
    ~CUserFileAccess();
    CUserFileAccess(const CUserFileAccess&) = delete;
    CUserFileAccess& operator=(const CUserFileAccess&) = delete;

    // False when the switch failed: nothing may then be done for the user.
    bool ok() const { return m_ok; }

private:
    bool m_switched = false;
    bool m_ok = true;
    bool m_groupsChanged = false;
    std::vector<gid_t> m_oldGroups;
    uid_t m_oldUid = 0;
    gid_t m_oldGid = 0;
};
