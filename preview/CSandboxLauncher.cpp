#include "preview/CSandboxLauncher.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <seccomp.h>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The seccomp program is handed to bubblewrap (or loaded by the child
// itself) on this descriptor.
constexpr int kFilterFd = 3;
constexpr int64_t kMaxErrors = 64 * 1024;
constexpr size_t kChunk = 64 * 1024;
// How often a run looks whether its caller gave up on it.
constexpr int64_t kCancelCheckMs = 20;

// An owned descriptor.
class Fd
{
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept
        : m_fd(other.release())
    {
    }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = other.release();
        }
        return *this;
    }
    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

struct ScmpContext
{
    scmp_filter_ctx ctx = nullptr;
    ~ScmpContext()
    {
        if (ctx)
            seccomp_release(ctx);
    }
};

// What the sandboxed program may not do, whatever the file system lets it:
// talk to anything, write or change files, reach into other processes or
// make namespaces of its own.
bool buildFilter(std::vector<char>* program)
{
    ScmpContext c;
    c.ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (!c.ctx)
        return false;
    const uint32_t refuse = SCMP_ACT_ERRNO(EACCES);
    bool ok = true;
    auto deny = [&](int sys) {
        if (sys >= 0)
            ok = ok && seccomp_rule_add(c.ctx, refuse, sys, 0) == 0;
    };
    for (int sys : {SCMP_SYS(socket), SCMP_SYS(connect), SCMP_SYS(bind), SCMP_SYS(listen), SCMP_SYS(accept),
                    SCMP_SYS(accept4), SCMP_SYS(creat), SCMP_SYS(mkdir), SCMP_SYS(mkdirat), SCMP_SYS(rmdir),
                    SCMP_SYS(unlink), SCMP_SYS(unlinkat), SCMP_SYS(rename), SCMP_SYS(renameat),
                    SCMP_SYS(renameat2), SCMP_SYS(link), SCMP_SYS(linkat), SCMP_SYS(symlink), SCMP_SYS(symlinkat),
                    SCMP_SYS(truncate), SCMP_SYS(mknod), SCMP_SYS(mknodat), SCMP_SYS(chmod), SCMP_SYS(fchmodat),
                    SCMP_SYS(chown), SCMP_SYS(lchown), SCMP_SYS(fchownat), SCMP_SYS(setxattr),
                    SCMP_SYS(lsetxattr), SCMP_SYS(removexattr), SCMP_SYS(lremovexattr), SCMP_SYS(utimensat),
                    SCMP_SYS(ptrace), SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev), SCMP_SYS(mount),
                    SCMP_SYS(umount2), SCMP_SYS(pivot_root), SCMP_SYS(chroot), SCMP_SYS(unshare), SCMP_SYS(setns),
                    SCMP_SYS(kexec_load), SCMP_SYS(init_module), SCMP_SYS(finit_module),
                    SCMP_SYS(delete_module), SCMP_SYS(bpf), SCMP_SYS(perf_event_open), SCMP_SYS(keyctl),
                    SCMP_SYS(add_key), SCMP_SYS(request_key), SCMP_SYS(userfaultfd), SCMP_SYS(personality),
                    SCMP_SYS(reboot), SCMP_SYS(swapon), SCMP_SYS(swapoff), SCMP_SYS(io_uring_setup),
                    SCMP_SYS(name_to_handle_at), SCMP_SYS(open_by_handle_at)})
        deny(sys);
    // Its flags are behind a pointer the filter cannot follow; without it
    // the C library falls back to openat, whose flags it can.
    ok = ok && seccomp_rule_add(c.ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2), 0) == 0;
    ok = ok && seccomp_rule_add(c.ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
    using Flag = unsigned long;
    for (Flag flag : {Flag(O_WRONLY), Flag(O_RDWR), Flag(O_CREAT), Flag(O_TRUNC)}) {
        ok = ok && seccomp_rule_add(c.ctx, refuse, SCMP_SYS(open), 1, SCMP_A1(SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
        ok = ok
            && seccomp_rule_add(c.ctx, refuse, SCMP_SYS(openat), 1, SCMP_A2(SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
    }
    for (Flag flag : {Flag(CLONE_NEWUSER), Flag(CLONE_NEWNS), Flag(CLONE_NEWNET), Flag(CLONE_NEWPID),
                      Flag(CLONE_NEWIPC), Flag(CLONE_NEWUTS), Flag(CLONE_NEWCGROUP)})
        ok = ok
            && seccomp_rule_add(c.ctx, refuse, SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
    Fd mem(static_cast<int>(syscall(SYS_memfd_create, "tamsel-filter", 0)));
    if (!ok || mem.get() < 0 || seccomp_export_bpf(c.ctx, mem.get()) != 0)
        return false;
    const off_t size = ::lseek(mem.get(), 0, SEEK_END);
    if (size <= 0 || size % static_cast<off_t>(sizeof(sock_filter)) != 0)
        return false;
    program->resize(static_cast<size_t>(size));
    return ::pread(mem.get(), program->data(), program->size(), 0) == size;
}

int64_t nowMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

QString bubblewrapProgram()
{
    for (const char* path : {"/usr/bin/bwrap", "/bin/bwrap"}) {
        if (::access(path, X_OK) == 0)
            return QString::fromLatin1(path);
    }
    return QString();
}

// bubblewrap's arguments: a root holding read-only /usr (and the top-level
// links into it), the font settings, a minimal /dev, and the program
// itself; nothing of the user's.
QStringList bubblewrapArguments(const QString& program, const QStringList& environment)
{
    QStringList a{QStringLiteral("--unshare-all"), QStringLiteral("--die-with-parent"), QStringLiteral("--new-session"),
                  QStringLiteral("--cap-drop"), QStringLiteral("ALL"), QStringLiteral("--clearenv"),
                  QStringLiteral("--setenv"), QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"),
                  QStringLiteral("--setenv"), QStringLiteral("LANG"), QStringLiteral("C.UTF-8")};
    for (const QString& variable : environment) {
        const int eq = variable.indexOf(QLatin1Char('='));
        if (eq > 0)
            a << QStringLiteral("--setenv") << variable.left(eq) << variable.mid(eq + 1);
    }
    a << QStringLiteral("--ro-bind") << QStringLiteral("/usr") << QStringLiteral("/usr");
    for (const char* top : {"/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"}) {
        const QFileInfo info(QString::fromLatin1(top));
        if (info.isSymLink())
            a << QStringLiteral("--symlink") << info.symLinkTarget() << info.filePath();
        else if (info.isDir())
            a << QStringLiteral("--ro-bind") << info.filePath() << info.filePath();
    }
    for (const char* path : {"/etc/ld.so.cache", "/etc/fonts", "/var/cache/fontconfig"})
        a << QStringLiteral("--ro-bind-try") << QString::fromLatin1(path) << QString::fromLatin1(path);
    // A /proc of the sandbox's own processes only (a new PID namespace):
    // AddressSanitizer builds read their own maps there.
    a << QStringLiteral("--dev") << QStringLiteral("/dev") << QStringLiteral("--proc") << QStringLiteral("/proc");
    if (!program.startsWith(QLatin1String("/usr/")))
        a << QStringLiteral("--ro-bind") << program << program;
    a << QStringLiteral("--chdir") << QStringLiteral("/") << QStringLiteral("--remount-ro") << QStringLiteral("/")
      << QStringLiteral("--seccomp") << QString::number(kFilterFd) << QStringLiteral("--") << program;
    return a;
}

// A null-terminated array of C strings that outlives the fork.
struct CStrings
{
    std::vector<std::string> strings;
    std::vector<char*> pointers;
    explicit CStrings(const QStringList& list)
    {
        strings.reserve(list.size());
        for (const QString& s : list)
            strings.push_back(s.toStdString());
        for (std::string& s : strings)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
};

void setLimit(int resource, rlim_t value)
{
    const rlimit r{value, value};
    ::setrlimit(resource, &r);
}

// Runs in the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void startChild(int in, int out, int err, int filter, const CSandboxLauncher::Limits& limits,
                             const sock_fprog* loadFilter, const char* path, char* const* argv, char* const* envp)
{
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 || ::dup2(filter, kFilterFd) < 0)
        ::_exit(126);
    ::syscall(SYS_close_range, kFilterFd + 1, ~0U, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    setLimit(RLIMIT_CPU, static_cast<rlim_t>(limits.cpuSeconds));
    if (limits.addressSpace > 0)
        setLimit(RLIMIT_AS, static_cast<rlim_t>(limits.addressSpace));
    setLimit(RLIMIT_NOFILE, static_cast<rlim_t>(limits.openFiles));
    setLimit(RLIMIT_FSIZE, 0);
    setLimit(RLIMIT_CORE, 0);
    if (loadFilter) {
        ::close(kFilterFd);
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0
            || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, loadFilter) != 0)
            ::_exit(126);
    }
    ::execve(path, argv, envp);
    ::_exit(127);
}

CSandboxLauncher::Result runProcess(const QString& program, const QStringList& arguments, const QByteArray& input,
                                    const CSandboxLauncher::Limits& limits, bool bubblewrap,
                                    const QStringList& environment, const std::function<bool()>& cancelled)
{
    CSandboxLauncher::Result result;
    result.reduced = !bubblewrap;
    // Bound into the sandbox by its real path (/bin may be a link into
    // /usr, which cannot be bound over).
    const QString real = QFileInfo(program).canonicalFilePath();
    if (!QFileInfo(program).isAbsolute() || real.isEmpty()) {
        result.error = QStringLiteral("%1 is not the absolute path of a program").arg(program);
        return result;
    }
    std::vector<char> filter;
    if (!buildFilter(&filter)) {
        result.error = QStringLiteral("the system call filter could not be made");
        return result;
    }
    Fd filterFd(static_cast<int>(syscall(SYS_memfd_create, "tamsel-filter", MFD_CLOEXEC)));
    if (filterFd.get() < 0
        || ::write(filterFd.get(), filter.data(), filter.size()) != static_cast<ssize_t>(filter.size())
        || ::lseek(filterFd.get(), 0, SEEK_SET) != 0) {
        result.error = QStringLiteral("the system call filter could not be handed over: %1").arg(strerror(errno));
        return result;
    }
    sock_fprog loaded{static_cast<unsigned short>(filter.size() / sizeof(sock_filter)),
                      reinterpret_cast<sock_filter*>(filter.data())};

    QStringList argv;
    QString path = program;
    QStringList env{QStringLiteral("PATH=/usr/bin:/bin"), QStringLiteral("LANG=C.UTF-8")};
    if (bubblewrap) {
        path = bubblewrapProgram();
        argv << path << bubblewrapArguments(real, environment) << arguments;
    } else {
        argv << program << arguments;
        env << environment;
    }
    const CStrings cArgv(argv);
    const CStrings cEnv(env);
    const std::string cPath = path.toStdString();

    // Standard input is a socket so that writing to a child that stopped
    // reading fails with EPIPE instead of a SIGPIPE.
    int inPair[2], outPipe[2], errPipe[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inPair) != 0) {
        result.error = QString::fromLocal8Bit(strerror(errno));
        return result;
    }
    Fd inParent(inPair[0]), inChild(inPair[1]);
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        result.error = QString::fromLocal8Bit(strerror(errno));
        return result;
    }
    Fd outParent(outPipe[0]), outChild(outPipe[1]);
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        result.error = QString::fromLocal8Bit(strerror(errno));
        return result;
    }
    Fd errParent(errPipe[0]), errChild(errPipe[1]);
    ::shutdown(inChild.get(), SHUT_WR);

    const pid_t pid = ::fork();
    if (pid < 0) {
        result.error = QString::fromLocal8Bit(strerror(errno));
        return result;
    }
    if (pid == 0)
        startChild(inChild.get(), outChild.get(), errChild.get(), filterFd.get(), limits,
                   bubblewrap ? nullptr : &loaded, cPath.c_str(), cArgv.pointers.data(), cEnv.pointers.data());
    inChild.reset();
    outChild.reset();
    errChild.reset();
    filterFd.reset();
    for (int fd : {inParent.get(), outParent.get(), errParent.get()})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (input.isEmpty())
        inParent.reset();

    const int64_t deadline = nowMs() + limits.timeoutMs;
    int64_t written = 0;
    bool killed = false;
    std::vector<char> chunk(kChunk);
    while (outParent.get() >= 0 || errParent.get() >= 0) {
        const int64_t left = deadline - nowMs();
        if (left <= 0) {
            result.outcome = CSandboxLauncher::Outcome::TimedOut;
            killed = true;
            break;
        }
        if (cancelled && cancelled()) {
            result.outcome = CSandboxLauncher::Outcome::Cancelled;
            killed = true;
            break;
        }
        pollfd fds[3];
        int n = 0;
        int inAt = -1, outAt = -1, errAt = -1;
        if (inParent.get() >= 0) {
            inAt = n;
            fds[n++] = pollfd{inParent.get(), POLLOUT, 0};
        }
        if (outParent.get() >= 0) {
            outAt = n;
            fds[n++] = pollfd{outParent.get(), POLLIN, 0};
        }
        if (errParent.get() >= 0) {
            errAt = n;
            fds[n++] = pollfd{errParent.get(), POLLIN, 0};
        }
        const int ready = ::poll(fds, static_cast<nfds_t>(n), static_cast<int>(std::min<int64_t>(left, kCancelCheckMs)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (inAt >= 0 && fds[inAt].revents) {
            const ssize_t w = ::send(inParent.get(), input.constData() + written,
                                     static_cast<size_t>(std::min<int64_t>(input.size() - written, kChunk)),
                                     MSG_NOSIGNAL);
            if (w > 0)
                written += w;
            // A child that stopped reading has had what it wanted.
            if ((w < 0 && errno != EAGAIN && errno != EINTR) || written >= input.size())
                inParent.reset();
        }
        if (outAt >= 0 && fds[outAt].revents) {
            const ssize_t r = ::read(outParent.get(), chunk.data(), chunk.size());
            if (r > 0) {
                if (result.output.size() + r > limits.maxOutput) {
                    result.outcome = CSandboxLauncher::Outcome::OutputTooLarge;
                    killed = true;
                    break;
                }
                result.output.append(chunk.data(), static_cast<int>(r));
            } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                outParent.reset();
            }
        }
        if (errAt >= 0 && fds[errAt].revents) {
            const ssize_t r = ::read(errParent.get(), chunk.data(), chunk.size());
            if (r > 0) {
                result.errors.append(chunk.data(), static_cast<int>(r));
                if (result.errors.size() > kMaxErrors)
                    result.errors.remove(0, result.errors.size() - static_cast<int>(kMaxErrors));
            } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                errParent.reset();
            }
        }
    }
    inParent.reset();
    outParent.reset();
    errParent.reset();

    // Its output is closed; it may still be running (or have handed the
    // descriptors on): the rest of the time is all it gets.
    int status = 0;
    while (!killed) {
        const pid_t w = ::waitpid(pid, &status, WNOHANG);
        if (w == pid)
            break;
        if (w < 0 && errno != EINTR) {
            killed = true;
            break;
        }
        if (nowMs() >= deadline) {
            result.outcome = CSandboxLauncher::Outcome::TimedOut;
            killed = true;
            break;
        }
        if (cancelled && cancelled()) {
            result.outcome = CSandboxLauncher::Outcome::Cancelled;
            killed = true;
            break;
        }
        ::usleep(2000);
    }
    if (killed) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (result.outcome == CSandboxLauncher::Outcome::StartFailed)
            result.outcome = CSandboxLauncher::Outcome::Signalled;
        return result;
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
        result.outcome = CSandboxLauncher::Outcome::Exited;
        // bubblewrap reports a sandboxed child killed by a signal as 128+N.
        if (bubblewrap && result.exitCode > 128 && result.exitCode < 128 + 65) {
            result.outcome = CSandboxLauncher::Outcome::Signalled;
            result.signal = result.exitCode - 128;
        }
    } else if (WIFSIGNALED(status)) {
        result.outcome = CSandboxLauncher::Outcome::Signalled;
        result.signal = WTERMSIG(status);
    }
    return result;
}

} // namespace

CSandboxLauncher::CSandboxLauncher() = default;

bool CSandboxLauncher::bubblewrapUsable() const
{
    if (!m_bubblewrapAllowed)
        return false;
    static std::once_flag once;
    static bool usable = false;
    std::call_once(once, [] {
        if (bubblewrapProgram().isEmpty())
            return;
        Limits probe;
        probe.timeoutMs = 5000;
        // Namespaces refused here (a container without user namespaces)
        // make bubblewrap fail at once.
        usable = runProcess(QStringLiteral("/bin/true"), {}, {}, probe, true, {}, {}).succeeded();
    });
    return usable;
}

CSandboxLauncher::Result CSandboxLauncher::run(const QString& program, const QStringList& arguments,
                                               const QByteArray& input, const std::function<bool()>& cancelled) const
{
    return runProcess(program, arguments, input, m_limits, bubblewrapUsable(), m_environment, cancelled);
}
