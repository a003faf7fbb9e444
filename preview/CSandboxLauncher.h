#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// Runs one program on untrusted input and takes what it prints, kept away
// from everything else: a document parser that a hostile file leads astray
// must not reach the network, write anywhere, read the user's files, or
// hold the caller up.
//
// The program runs under bubblewrap (new namespaces of every kind, a root
// of read-only /usr and nothing of the user's, no capabilities, killed with
// its parent) when that works here, else as a plain child process (the
// sandbox is then reduced: the file system stays readable). Either way it
// runs under a seccomp filter (no sockets, no opening for writing, no
// creating, renaming or removing files, no debugging or mounting) and
// rlimits on CPU time, address space, open files, file size and core dumps,
// and is killed once its time is up or it prints more than allowed.
class CSandboxLauncher
{
public:
    struct Limits
    {
        // Wall-clock time from start to the end of its output.
        int timeoutMs = 5000;
        int cpuSeconds = 5;
        // 0: no limit on the address space (an AddressSanitizer build
        // reserves terabytes of it).
        int64_t addressSpace = int64_t(1) << 30;
        int openFiles = 64;
        int64_t maxOutput = int64_t(64) << 20;
    };

    enum class Outcome
    {
        Exited,       // `exitCode` says how
        Signalled,    // crashed, or killed by an rlimit (`signal`)
        TimedOut,
        OutputTooLarge,
        Cancelled,    // the caller gave up on it (`cancelled` said so)
        StartFailed,  // `error` says why
    };

    struct Result
    {
        Outcome outcome = Outcome::StartFailed;
        int exitCode = -1;
        int signal = 0;
        QByteArray output;
        // The end of what it wrote on stderr (at most 64 KiB).
        QByteArray errors;
        // Whether it ran without bubblewrap.
        bool reduced = false;
        QString error;

        bool succeeded() const { return outcome == Outcome::Exited && exitCode == 0; }
    };

    CSandboxLauncher();

    void setLimits(const Limits& limits) { m_limits = limits; }
    const Limits& limits() const { return m_limits; }
    // Never use bubblewrap (tests of the reduced sandbox).
    void setBubblewrapAllowed(bool allowed) { m_bubblewrapAllowed = allowed; }
    // Variables set for the program (its environment is otherwise only
    // PATH and LANG).
    void setEnvironment(const QStringList& variables) { m_environment = variables; }
    // Whether runs will go through bubblewrap: found, and able to make its
    // namespaces here (tried once per process).
    bool bubblewrapUsable() const;

    // Runs `program` (an absolute path) with `arguments`, `input` on its
    // standard input; blocks until it ends or is killed. `cancelled`, asked
    // every few milliseconds, kills it early.
    Result run(const QString& program, const QStringList& arguments, const QByteArray& input,
               const std::function<bool()>& cancelled = {}) const;

private:
    Limits m_limits;
    bool m_bubblewrapAllowed = true;
    QStringList m_environment;
};
