#pragma once

#include <QElapsedTimer>

#include <cstdint>
#include <cstdio>

// Progress of a scan on stderr: a live bar with percent, throughput and time
// left while stderr is a terminal; nothing until the summary otherwise.
class CProgressPrinter
{
public:
    explicit CProgressPrinter(FILE* stream = stderr);

    void start(int64_t volumeLength);
    // The bytes the scan reads, once it knows (unused space only: fewer).
    void setTotal(int64_t bytes) { m_length = bytes; }
    // `permille` on the 0..1000 scale of the scan worker; `unreadable` and
    // `slow` bytes so far (a failing disk), shown when not 0.
    void update(long long permille, int64_t unreadable = 0, int64_t slow = 0);
    // Clears the bar (if one was drawn).
    void finish();

    double elapsedSeconds() const;
    // Megabytes (10^6 bytes) per second over `bytes`.
    double megabytesPerSecond(int64_t bytes) const;
    bool interactive() const { return m_interactive; }

private:
    FILE* m_stream;
    bool m_interactive;
    bool m_drawn = false;
    int64_t m_length = 0;
    qint64 m_lastDrawMs = -1;
    QElapsedTimer m_timer;
};
