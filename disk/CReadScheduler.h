#pragma once

#include "disk/CUnreadableRanges.h"

#include <atomic>
#include <functional>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class IVolume;

// Fills a stretch of memory from a volume with several positioned reads in
// flight, so that a device with a deep queue (an SSD, a virtual disk, a
// RAID) is kept busy instead of waiting on one read at a time.
//
// The stretch is cut into pieces on a fixed grid of the volume; a few
// threads (the caller among them) take the pieces in ascending order until
// none is left. On a rotational disk the reads must never step back, or the
// head seeks to and fro: there one thread reads the whole stretch with one
// read, which the kernel cuts into requests that are in flight together and
// move only forward. A stretch the page cache already holds involves no
// disk at all: it is copied in pieces by several threads whatever the disk.
//
// A failing disk is read good parts first, as careful imagers do: a read
// that fails keeps what it gave and is never narrowed on the spot; the rest
// of its stretch of the read grid (kDefaultPiece) is skipped, and where the
// read after a skip fails at once (a bad band) the skip grows (64 KiB,
// doubled for each failure in a row, back to 64 KiB after a good read), so
// that a band costs a few failed reads instead of thousands (a failing read
// on a dying disk takes up to seconds). The stretches skipped read as zeros
// and are listed as unreadable, to be read again by lastPass() once
// everything else is done, several reads in flight: first in chunks, then
// each chunk that failed narrowed from both ends sector by sector down to
// the sectors that fail, and what is left between tried sector by sector,
// for as long as time allows.
//
// Bytes a source no longer has (it became shorter since it was opened) are
// unreadable zeros too. A device that has gone (ENODEV, ENXIO), or one
// whose every read fails and which no longer reads a sector it read before
// (unplugged, or dead), is remembered as lost, and every later piece is
// zeros at once.
class CReadScheduler
{
public:
    static constexpr uint32_t kRetryPiece = 64 * 1024;
    static constexpr uint32_t kDefaultPiece = 4 * 1024 * 1024;
    static constexpr int kDefaultStreams = 4;
    static constexpr int kMaxStreams = 16;

    // `streams` reads at most in flight (1 to kMaxStreams; forced to 1 when
    // `ascending`); `pieceSize` a multiple of kRetryPiece.
    CReadScheduler(IVolume* volume, int streams = kDefaultStreams, bool ascending = false,
                   uint32_t pieceSize = kDefaultPiece);
    ~CReadScheduler();

    CReadScheduler(const CReadScheduler&) = delete;
    CReadScheduler& operator=(const CReadScheduler&) = delete;

    // Changes the number of reads in flight and their order; what was
    // counted so far stays. Not while a read() runs.
    void configure(int streams, bool ascending);

    // Reads `length` bytes at `offset` of the volume into `destination`,
    // all of them inside the volume (the caller zero-fills past its end).
    // Returns when every piece is in place.
    void read(uint8_t* destination, int64_t offset, int64_t length);

    // Tells the volume that [offset, offset + length) will be read next, so
    // that the device works on it while the caller does something else.
    void hintAhead(int64_t offset, int64_t length);

    int streams() const { return m_streams; }
    bool ascending() const { return m_ascending; }
    uint32_t pieceSize() const { return m_pieceSize; }

    // Bytes that could not be read (so far), and where they lie.
    int64_t unreadableBytes() const;
    CUnreadableRanges unreadableRanges() const;
    // Bytes read far below the pace of the rest (a slow region of the disk).
    int64_t slowBytes() const { return m_slow.load(); }
    // Failed reads so far.
    int64_t failedReads() const { return m_failedReads.load(); }
    bool deviceLost() const { return m_deviceLost.load(); }
    int lastError() const { return m_lastError.load(); }

    // Lists [offset, offset + length) as unreadable for now, to be read
    // again by lastPass() (a stretch that turned to zeros elsewhere, or one
    // a map file says was never read).
    void markPending(int64_t offset, int64_t length);
    // Lists [offset, offset + length) as bad sectors: never read again.
    void markBad(int64_t offset, int64_t length) { addBad(offset, length); }

    // Reads again what the first reads skipped, as described above, until
    // nothing is left, `budgetMs` has passed, `keepGoing` says no or the
    // device is lost; the sectors it reads are taken off the unreadable
    // list and handed to `onRead` (on this thread) where one is given.
    // Returns the bytes it recovered.
    using SectorSink = std::function<void(int64_t offset, const uint8_t* data, int64_t length)>;
    int64_t lastPass(int64_t budgetMs, const std::function<bool()>& keepGoing = {}, const SectorSink& onRead = {});

    // Which stretches of the unreadable list are settled: bad (a sector
    // that failed on its own), not yet narrowed (skipped), or narrowed at
    // both ends but not tried inside.
    enum class State { Bad, Skipped, Untried };
    std::vector<std::pair<CUnreadableRanges::Range, State>> states() const;

    static constexpr int64_t kFirstSkip = 64 * 1024;
    static constexpr int64_t kMaxSkip = 64 * 1024 * 1024;
    // Failed reads in a row after which a sector read before is read again
    // to tell a bad band from a disk that has gone.
    static constexpr int kProbeAfterFailures = 8;
    // Reads in flight in the last pass (one when the scheduler reads one at
    // a time): a failing read takes the disk's retries, and the reads beside
    // it need not wait for them.
    static constexpr int kLastPassStreams = 32;
    // Reads in flight once reads have failed (where more than one is).
    static constexpr int kFailingStreams = 8;

private:
    struct Job
    {
        uint8_t* destination = nullptr;
        int64_t offset = 0;
        int64_t length = 0;
        int64_t pieces = 0;
        std::atomic<int64_t> next{0};
        std::atomic<int64_t> done{0};
    };

    void startWorkers();
    void stopWorkers();
    void workerLoop();
    // Takes pieces of the current job until none is left.
    void drain(Job& job);
    void readPiece(uint8_t* destination, int64_t offset, int64_t length);
    // The rest of a piece whose read failed at `at`.
    // `inRun`: the failure continues a run of bad sectors just before.
    void readAround(uint8_t* destination, int64_t offset, int64_t length, int64_t at, bool inRun);
    void noteError(int error);
    void noteGood(int64_t sectorOffset);
    void notePace(int64_t bytes, int64_t nanoseconds, int64_t offset);
    // Counts a failed read; after kProbeAfterFailures in a row, reads a
    // sector that read before and takes the device as lost if it fails.
    void noteFailedRead();
    void addBad(int64_t offset, int64_t length);
    void addSkipped(int64_t offset, int64_t length);
    // Reads one sector past every cache; false when it fails.
    bool readSector(int64_t offset, uint8_t* out);

    IVolume* m_volume;
    int m_streams;
    bool m_ascending;
    uint32_t m_pieceSize;

    int64_t m_sector = 512;
    int64_t m_volumeLength = 0;
    // The unreadable list, and which of its parts are not yet narrowed
    // (skipped) or narrowed only at their ends (untried); the rest of it is
    // bad sectors.
    mutable std::mutex m_rangesMutex;
    CUnreadableRanges m_unreadable;
    CUnreadableRanges m_skipped;
    CUnreadableRanges m_untried;
    std::atomic<int64_t> m_skip{kFirstSkip};
    std::atomic<int> m_failuresInRow{0};
    std::atomic<int64_t> m_failedReads{0};
    std::atomic<int64_t> m_lastGood{-1};
    std::atomic<int64_t> m_slow{0};
    // Nanoseconds per MiB of the reads so far (a running mean), 0 unknown.
    std::atomic<int64_t> m_pace{0};
    std::atomic<bool> m_deviceLost{false};
    std::atomic<int> m_lastError{0};

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_finished;
    Job* m_job = nullptr;
    uint64_t m_generation = 0;
    int m_busyWorkers = 0;
    bool m_quit = false;
    std::vector<std::thread> m_workers;
};
