#pragma once

#include <atomic>
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
// Each piece is read as the single reader always did: a read error is
// retried in 64 KiB pieces, readable pieces are kept and unreadable ones
// become counted zeros; bytes a source no longer has (it became shorter
// since it was opened) are counted zeros too; a device that has gone
// (ENODEV, ENXIO) is remembered, and every later piece is zeros at once.
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

    int64_t unreadableBytes() const { return m_unreadable.load(); }
    bool deviceLost() const { return m_deviceLost.load(); }
    int lastError() const { return m_lastError.load(); }

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
    void noteError(int error);

    IVolume* m_volume;
    int m_streams;
    bool m_ascending;
    uint32_t m_pieceSize;

    std::atomic<int64_t> m_unreadable{0};
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
