#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// The user a program run as root through sudo or pkexec works for.
//
// What the program keeps for that user (saved scans, recovered documents
// in folders it had to create) must end up theirs, yet nothing they could
// point elsewhere may change hands: a link they put where a folder was
// expected would otherwise hand them whatever it points to. So ownership is
// only ever given through a descriptor of something this program has just
// created, never through a path.
class CInvokingUser
{
public:
    CInvokingUser() = default;
    // A given user; `gid` (gid_t)-1 when the group is unknown.
    CInvokingUser(uid_t uid, gid_t gid);

    // The user behind sudo (SUDO_UID, SUDO_GID) or pkexec (PKEXEC_UID, the
    // group from the password database) while running as root. None when
    // not running as root, when root itself ran it, or when the variables
    // make no sense.
    static CInvokingUser find();

    bool valid() const { return m_valid; }
    uid_t uid() const { return m_uid; }
    // (gid_t)-1 when unknown.
    gid_t gid() const { return m_gid; }
    // The home folder from the password database; "" when unknown.
    QString home() const;

    // Creates the folder `path` (its parent must exist) and, for a valid
    // user, gives it to them. The new folder is opened relative to its
    // parent without following links and handed over only when it is still
    // the folder made here (a folder, owned by this process), so swapping
    // it for a link meanwhile hands over nothing. 0, or the errno of the
    // failed mkdir (EEXIST when something is there already).
    int makeFolder(const QByteArray& path) const;

private:
    bool m_valid = false;
    uid_t m_uid = 0;
    gid_t m_gid = static_cast<gid_t>(-1);
};
