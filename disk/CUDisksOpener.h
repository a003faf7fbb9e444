#pragma once

#include "disk/CFileVolume.h"

#include <functional>
#include <memory>

// Asks udisks2, the system's disk service, for a read-only descriptor of a
// device that this user may not open: polkit asks the user for a password
// (the desktop's dialog, or pkttyagent in a terminal), exactly as the
// desktop's own disk tools do, so the program never has to run as root.
//
// The descriptor is trusted only after checking it: opened read-only, and
// the very object the path names (the same device number for a device).
//
// Only block devices are asked for: udisks2 opens nothing else, so for an
// image file the system bus is never reached.
//
// open() blocks the calling thread until udisks2 answers or the timeout
// passes, so the window calls it on the scan thread; `stopped` ends the
// wait early when the user gives up (the window's stop, the command line's
// Ctrl-C or SIGTERM), while connecting to the bus as well.
class CUDisksOpener
{
public:
    // Typing a password takes a person a while; a service that never
    // answers must still not keep the scan waiting for ever.
    static constexpr int kDefaultTimeoutMs = 180000;
    // A bus that is up answers its opening within milliseconds; one that
    // does not within this is taken for hung.
    static constexpr int kConnectTimeoutMs = 10000;

    explicit CUDisksOpener(int timeoutMs = kDefaultTimeoutMs);

    // Returns the volume, or null with `failure` filled: error EACCES, the
    // service's answer, and a reason in words. `failure` may come in holding
    // the refusal of our own open(); for an image file that udisks2 does not
    // know, that refusal is left as it was.
    std::unique_ptr<CFileVolume> open(const QString& path, CFileVolume::OpenError* failure,
                                      const std::function<bool()>& stopped = {}) const;

    // English words for an answer, for the command line's messages.
    static QString answerText(CFileVolume::ServiceAnswer answer, const QString& detail = QString());

private:
    int m_timeoutMs;
};
