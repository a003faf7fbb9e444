#include "cli/CTextAuthAgent.h"

#include <QByteArray>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The agent closes this descriptor once it has registered with polkit.
constexpr int kNotifyFd = 3;
// How long to wait for it to register; after that udisks2 is asked anyway.
constexpr int kRegisterWaitMs = 3000;

} // namespace

CTextAuthAgent::CTextAuthAgent()
{
    if (!::isatty(STDIN_FILENO))
        return;
    const QString program = QStandardPaths::findExecutable(QStringLiteral("pkttyagent"));
    if (program.isEmpty())
        return;
    // Everything the child needs is made before fork(): after it, only
    // calls that are safe in a copy of a threaded process.
    const QByteArray path = QFile::encodeName(program);
    const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid()));
    const QByteArray notify = QByteArray::number(kNotifyFd);
    const char* argv[] = {"pkttyagent", "--process", pid.constData(), "--fallback",
                          "--notify-fd", notify.constData(), nullptr};
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return;

    const pid_t child = ::fork();
    if (child == 0) {
        if (pipeFds[1] == kNotifyFd)
            ::fcntl(kNotifyFd, F_SETFD, 0);
        else if (::dup2(pipeFds[1], kNotifyFd) < 0)
            ::_exit(127);
        ::execv(path.constData(), const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    if (child < 0) {
        ::close(pipeFds[0]);
        return;
    }
    m_pid = child;
    // Wait for the registration (the pipe closes) or the agent's end.
    struct pollfd p = {pipeFds[0], POLLIN, 0};
    char byte;
    while (::poll(&p, 1, kRegisterWaitMs) > 0) {
        const ssize_t n = ::read(pipeFds[0], &byte, 1);
        if (n == 0 || (n < 0 && errno != EINTR))
            break;
    }
    ::close(pipeFds[0]);
}

CTextAuthAgent::~CTextAuthAgent()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
}
