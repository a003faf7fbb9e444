#pragma once

#include <sys/types.h>

// polkit's text agent (pkttyagent) for this process, while udisks2 is asked
// for a device: in a terminal without a desktop session nobody else would
// ask for the password. Started only when stdin is a terminal and the agent
// is installed; --fallback leaves the desktop's own agent in charge where
// there is one. The agent ends with this object.
class CTextAuthAgent
{
public:
    CTextAuthAgent();
    ~CTextAuthAgent();
    CTextAuthAgent(const CTextAuthAgent&) = delete;
    CTextAuthAgent& operator=(const CTextAuthAgent&) = delete;

    bool running() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};
