#include "disk/CReadScheduler.h"

#include "disk/IVolume.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

namespace {

bool isDeviceGone(int error)
{
    return error == ENODEV || error == ENXIO;
}

using Clock = std::chrono::steady_clock;

int64_t nanosecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

// A read this many times slower per byte than the pace so far, and at least
// this long, lies in a slow region.
constexpr int64_t kSlowFactor = 8;
constexpr int64_t kSlowAtLeastNs = 200 * 1000 * 1000;
// Near the edges of a skipped stretch the bad sector most likely lies
// close: sector by sector there, larger reads beyond.
constexpr int64_t kSectorZone = 128 * 1024;
constexpr int64_t kTrimChunk = 64 * 1024;

} // namespace

CReadScheduler::CReadScheduler(IVolume* volume, int streams, bool ascending, uint32_t pieceSize)
    : m_volume(volume)
    , m_streams(ascending ? 1 : std::clamp(streams, 1, kMaxStreams))
    , m_ascending(ascending)
    , m_pieceSize(std::max<uint32_t>(kRetryPiece, pieceSize - pieceSize % kRetryPiece))
{
    if (m_volume) {
        const int sector = m_volume->sectorSize();
        if (sector >= 512 && sector <= static_cast<int>(kRetryPiece) && (sector & (sector - 1)) == 0)
            m_sector = sector;
        m_volumeLength = m_volume->length();
    }
    startWorkers();
}

CReadScheduler::~CReadScheduler()
{
    stopWorkers();
}

void CReadScheduler::startWorkers()
{
    m_quit = false;
    // The caller reads too, so one thread fewer than streams. Reading in
    // order, the helpers copy only windows the cache holds.
    const int streams = m_ascending ? kDefaultStreams : m_streams;
    for (int i = 1; i < streams; ++i)
        m_workers.emplace_back([this]() { workerLoop(); });
}

void CReadScheduler::stopWorkers()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_workers)
        t.join();
    m_workers.clear();
}

void CReadScheduler::configure(int streams, bool ascending)
{
    const int wanted = ascending ? 1 : std::clamp(streams, 1, kMaxStreams);
    if (wanted == m_streams && ascending == m_ascending)
        return;
    stopWorkers();
    m_streams = wanted;
    m_ascending = ascending;
    startWorkers();
}

void CReadScheduler::hintAhead(int64_t offset, int64_t length)
{
    if (!m_volume || m_deviceLost.load() || length <= 0 || offset < 0)
        return;
    // One hint per piece: the kernel reads at most its readahead size per
    // hint and drops the rest.
    for (int64_t at = offset; at < offset + length; at += m_pieceSize)
        m_volume->adviseWillNeed(at, std::min<int64_t>(m_pieceSize, offset + length - at));
}

void CReadScheduler::read(uint8_t* destination, int64_t offset, int64_t length)
{
    if (length <= 0)
        return;
    // Once reads fail, more of them in flight: a failing read takes the
    // disk's retries, and the good pieces of the window need not queue
    // behind it.
    if (!m_ascending && m_streams > 1 && m_streams < kFailingStreams && m_failedReads.load() > 0)
        configure(kFailingStreams, false);
    Job job;
    job.destination = destination;
    job.offset = offset;
    job.length = length;
    // Pieces lie on the volume's grid, not the stretch's, so that every read
    // but the first and last is aligned whatever the stretch.
    const int64_t firstEnd = (offset / m_pieceSize + 1) * m_pieceSize;
    job.pieces = 1 + (offset + length > firstEnd ? (offset + length - firstEnd + m_pieceSize - 1) / m_pieceSize : 0);

    // A stretch the page cache holds is copied from memory: several copies
    // at once, whatever the disk under it.
    const bool parallel = job.pieces > 1 && !m_workers.empty()
        && (!m_ascending || (m_volume && m_volume->cached(offset, length)));
    if (!parallel) {
        if (m_ascending) {
            // The whole stretch in one read: the kernel cuts it into requests
            // that are all in flight at once, in ascending order. Read piece
            // by piece, the device waited between pieces (a cold 4 GiB scan
            // went from 2.5 to 2.75 GB/s with the window read whole).
            readPiece(destination, offset, length);
            return;
        }
        drain(job);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_job = &job;
        ++m_generation;
    }
    m_wake.notify_all();
    drain(job);
    std::unique_lock<std::mutex> lock(m_mutex);
    // The job lives on this stack: no worker may still hold it on return.
    m_finished.wait(lock, [&]() { return job.done.load() == job.pieces && m_busyWorkers == 0; });
    m_job = nullptr;
}

void CReadScheduler::workerLoop()
{
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&]() { return m_quit || m_generation != seen; });
        if (m_quit)
            return;
        seen = m_generation;
        Job* job = m_job;
        if (!job)
            continue;
        ++m_busyWorkers;
        lock.unlock();
        drain(*job);
        lock.lock();
        --m_busyWorkers;
        m_finished.notify_all();
    }
}

void CReadScheduler::drain(Job& job)
{
    for (;;) {
        const int64_t index = job.next.fetch_add(1);
        if (index >= job.pieces)
            return;
        const int64_t pieceStart = index == 0 ? job.offset : (job.offset / m_pieceSize + index) * m_pieceSize;
        const int64_t pieceEnd = std::min(job.offset + job.length, (job.offset / m_pieceSize + index + 1) * m_pieceSize);
        readPiece(job.destination + (pieceStart - job.offset), pieceStart, pieceEnd - pieceStart);
        if (job.done.fetch_add(1) + 1 == job.pieces) {
            // Wake the caller under the lock, so the wake-up cannot slip in
            // between its test and its wait.
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished.notify_all();
        }
    }
}

void CReadScheduler::noteError(int error)
{
    m_lastError = error;
    if (isDeviceGone(error))
        m_deviceLost = true;
}

void CReadScheduler::noteGood(int64_t sectorOffset)
{
    m_lastGood = sectorOffset;
    m_failuresInRow = 0;
}

void CReadScheduler::notePace(int64_t bytes, int64_t nanoseconds, int64_t offset)
{
    if (bytes <= 0)
        return;
    const int64_t perMiB = static_cast<int64_t>(static_cast<double>(nanoseconds) * (1024.0 * 1024.0)
                                                / static_cast<double>(bytes));
    const int64_t pace = m_pace.load();
    if (pace > 0 && nanoseconds >= kSlowAtLeastNs && perMiB > pace * kSlowFactor) {
        // Noted, not mixed into the pace: one slow region must not make the
        // rest of the disk look fast.
        m_slow += bytes;
        (void)offset;
        return;
    }
    m_pace = pace == 0 ? perMiB : (pace * 7 + perMiB) / 8;
}

void CReadScheduler::noteFailedRead()
{
    ++m_failedReads;
    const int inRow = ++m_failuresInRow;
    if (inRow % kProbeAfterFailures != 0 || m_deviceLost.load())
        return;
    // A disk with a bad band still reads what it read before; one that was
    // unplugged or died reads nothing. With nothing read yet, a long run
    // of failures says the same.
    const int64_t good = m_lastGood.load();
    if (good < 0) {
        if (inRow >= 4 * kProbeAfterFailures)
            m_deviceLost = true;
        return;
    }
    std::unique_ptr<uint8_t[]> sector(new uint8_t[static_cast<size_t>(m_sector)]);
    if (!readSector(good, sector.get()))
        m_deviceLost = true;
}

bool CReadScheduler::readSector(int64_t offset, uint8_t* out)
{
    const IVolume::ReadResult r = m_volume->readExact(offset, out, static_cast<size_t>(m_sector));
    if (r.error != 0)
        noteError(r.error);
    return r.bytes >= m_sector;
}

void CReadScheduler::addBad(int64_t offset, int64_t length)
{
    std::lock_guard<std::mutex> lock(m_rangesMutex);
    m_unreadable.add(offset, length);
}

void CReadScheduler::addSkipped(int64_t offset, int64_t length)
{
    std::lock_guard<std::mutex> lock(m_rangesMutex);
    m_unreadable.add(offset, length);
    m_skipped.add(offset, length);
}

void CReadScheduler::markPending(int64_t offset, int64_t length)
{
    if (m_volumeLength > 0)
        length = std::min(length, m_volumeLength - offset);
    addSkipped(offset, length);
}

int64_t CReadScheduler::unreadableBytes() const
{
    std::lock_guard<std::mutex> lock(m_rangesMutex);
    return m_unreadable.totalBytes();
}

CUnreadableRanges CReadScheduler::unreadableRanges() const
{
    std::lock_guard<std::mutex> lock(m_rangesMutex);
    return m_unreadable;
}

std::vector<std::pair<CUnreadableRanges::Range, CReadScheduler::State>> CReadScheduler::states() const
{
    std::lock_guard<std::mutex> lock(m_rangesMutex);
    std::vector<std::pair<CUnreadableRanges::Range, State>> out;
    for (const CUnreadableRanges::Range& r : m_unreadable.ranges()) {
        // Each byte of the stretch is in at most one of the two lists; what
        // neither holds is bad.
        CUnreadableRanges rest;
        rest.add(r.offset, r.length);
        std::vector<std::pair<CUnreadableRanges::Range, State>> parts;
        for (const auto& s : m_skipped.within(r.offset, r.length)) {
            parts.push_back({s, State::Skipped});
            rest.remove(s.offset, s.length);
        }
        for (const auto& u : m_untried.within(r.offset, r.length)) {
            parts.push_back({u, State::Untried});
            rest.remove(u.offset, u.length);
        }
        for (const auto& b : rest.ranges())
            parts.push_back({b, State::Bad});
        std::sort(parts.begin(), parts.end(),
                  [](const auto& a, const auto& b) { return a.first.offset < b.first.offset; });
        out.insert(out.end(), parts.begin(), parts.end());
    }
    return out;
}

void CReadScheduler::readPiece(uint8_t* destination, int64_t offset, int64_t length)
{
    if (m_deviceLost.load()) {
        std::memset(destination, 0, static_cast<size_t>(length));
        addBad(offset, length);
        return;
    }
    const Clock::time_point start = Clock::now();
    const IVolume::ReadResult r = m_volume->readOnce(offset, destination, static_cast<size_t>(length));
    if (r.bytes >= length) {
        notePace(length, nanosecondsSince(start), offset);
        noteGood(offset + length - m_sector);
        return;
    }

    if (r.error == 0) {
        // The volume ends before the length it had when it was opened (an
        // image cut since): those bytes are gone, which is not the same as
        // zeros. They count as unreadable, so that nobody takes the zeros
        // for the document.
        std::memset(destination + r.bytes, 0, static_cast<size_t>(length - r.bytes));
        addBad(offset + r.bytes, length - r.bytes);
        return;
    }
    noteError(r.error);
    // What the read gave before it failed is kept, to the last whole sector.
    const int64_t got = std::max<int64_t>(0, r.bytes);
    const int64_t at = std::max(offset, (offset + got) / m_sector * m_sector);
    // A piece that fails at once right behind a bad stretch goes on with
    // that stretch's run, as if it were one read.
    bool continuing = false;
    if (at == offset && offset >= m_sector) {
        std::lock_guard<std::mutex> lock(m_rangesMutex);
        continuing = m_unreadable.touches(offset - m_sector, m_sector);
    }
    readAround(destination, offset, length, at, continuing);
}

void CReadScheduler::readAround(uint8_t* destination, int64_t offset, int64_t length, int64_t at, bool inRun)
{
    const int64_t end = offset + length;
    if (at > offset)
        noteGood(at - m_sector);
    auto zero = [&](int64_t from, int64_t to) {
        std::memset(destination + (from - offset), 0, static_cast<size_t>(to - from));
    };
    // Each turn moves `at` forward by at least a sector: bounded by the piece.
    while (at < end) {
        noteFailedRead();
        if (m_deviceLost.load()) {
            zero(at, end);
            addBad(at, end - at);
            return;
        }
        // A fresh failure skips to the end of its stretch of the read grid;
        // in a run of failures (a read right behind a skipped stretch fails
        // at once) the skip grows each time.
        int64_t skipEnd;
        if (inRun) {
            const int64_t skip = m_skip.load();
            m_skip = std::min(kMaxSkip, skip * 2);
            skipEnd = at + skip;
        } else {
            m_skip = kFirstSkip;
            skipEnd = (at / kDefaultPiece + 1) * kDefaultPiece;
        }
        skipEnd = std::min(end, (skipEnd + m_sector - 1) / m_sector * m_sector);
        zero(at, skipEnd);
        addSkipped(at, skipEnd - at);
        at = skipEnd;
        if (at >= end)
            return;
        const IVolume::ReadResult r = m_volume->readOnce(at, destination + (at - offset), static_cast<size_t>(end - at));
        if (r.bytes >= end - at) {
            noteGood(end - m_sector);
            m_skip = kFirstSkip; // the run is over
            return;
        }
        if (r.error == 0) {
            zero(at + r.bytes, end);
            addBad(at + r.bytes, end - at - r.bytes);
            return;
        }
        noteError(r.error);
        const int64_t good = std::max<int64_t>(0, r.bytes) / m_sector * m_sector;
        inRun = good == 0;
        if (good > 0) {
            noteGood(at + good - m_sector);
            at += good;
        }
    }
}

int64_t CReadScheduler::lastPass(int64_t budgetMs, const std::function<bool()>& keepGoing, const SectorSink& onRead)
{
    if (!m_volume)
        return 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max<int64_t>(0, budgetMs));
    std::mutex sinkMutex; // keepGoing and onRead are called on one thread at a time
    auto goOn = [&]() {
        if (Clock::now() >= deadline || m_deviceLost.load())
            return false;
        if (!keepGoing)
            return true;
        std::lock_guard<std::mutex> lock(sinkMutex);
        return keepGoing();
    };
    const int64_t chunkCapacity = std::max<int64_t>(kTrimChunk, m_sector);
    std::atomic<int64_t> recovered{0};

    // [offset, offset + length) of `buffer` read: off the lists, to the sink.
    auto readable = [&](int64_t offset, int64_t length, const uint8_t* buffer) {
        {
            std::lock_guard<std::mutex> lock(m_rangesMutex);
            m_unreadable.remove(offset, length);
            m_skipped.remove(offset, length);
            m_untried.remove(offset, length);
        }
        recovered += length;
        if (onRead) {
            std::lock_guard<std::mutex> lock(sinkMutex);
            onRead(offset, buffer, length);
        }
    };
    auto settle = [&](int64_t offset, int64_t length, bool untried) {
        std::lock_guard<std::mutex> lock(m_rangesMutex);
        m_skipped.remove(offset, length);
        if (untried)
            m_untried.add(offset, length);
        else
            m_untried.remove(offset, length);
    };
    // One read of [offset, offset + length) (at most a chunk), whole or not.
    // Failures in a row make it read a sector that read before, as in the
    // first reads: a disk that has gone ends the pass at once.
    auto tryRead = [&](int64_t offset, int64_t length, uint8_t* buffer) {
        const IVolume::ReadResult r = m_volume->readExact(offset, buffer, static_cast<size_t>(length));
        if (r.bytes >= length) {
            noteGood(offset + length - m_sector);
            return true;
        }
        if (r.error != 0)
            noteError(r.error);
        noteFailedRead();
        return false;
    };
    // Reads from `from` towards `limit` (forward or back), sectors first and
    // larger reads further away, a failed larger read again sector by
    // sector; returns where the first failing sector lies, kNone when none
    // failed, kOutOfTime when it had to stop.
    constexpr int64_t kNone = -1;
    constexpr int64_t kOutOfTime = -2;
    auto trim = [&](int64_t from, int64_t limit, bool forward, uint8_t* buffer) {
        int64_t pos = from; // forward: next byte to read; back: end of the next read
        bool sectorsOnly = false;
        while (forward ? pos < limit : pos > limit) {
            if (!goOn())
                return kOutOfTime;
            const int64_t done = forward ? pos - from : from - pos;
            const int64_t room = forward ? limit - pos : pos - limit;
            const int64_t want = (sectorsOnly || done < kSectorZone) ? m_sector : std::min(chunkCapacity, room);
            const int64_t start = forward ? pos : pos - want;
            if (tryRead(start, want, buffer)) {
                readable(start, want, buffer);
                pos = forward ? pos + want : pos - want;
                continue;
            }
            if (want == m_sector)
                return start;
            sectorsOnly = true;
        }
        return kNone;
    };
    // Runs `task(index, buffer)` for every index below `count`, several at
    // once (a failing read takes the disk's retries; the others need not
    // wait), each thread with a buffer of its own, until `task` says stop.
    auto inParallel = [&](size_t count, const std::function<bool(size_t, uint8_t*)>& task) {
        std::atomic<size_t> next{0};
        std::atomic<bool> stop{false};
        auto work = [&]() {
            std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(chunkCapacity)]);
            for (size_t i = next++; i < count && !stop.load(); i = next++)
                if (!task(i, buffer.get()))
                    stop = true;
        };
        const int helpers = static_cast<int>(std::min<size_t>(count, m_streams > 1 ? kLastPassStreams : 1)) - 1;
        std::vector<std::thread> threads;
        struct Joiner
        {
            std::vector<std::thread>& threads;
            ~Joiner()
            {
                for (std::thread& t : threads)
                    t.join();
            }
        } joiner{threads};
        for (int h = 0; h < helpers; ++h)
            threads.emplace_back(work);
        work();
    };

    // First the skipped stretches in chunks, several in flight: most of
    // what the first reads skipped is good and comes back at the pace of
    // the disk. A chunk that fails stays skipped, to be narrowed; in a run
    // of failed chunks the rest of the stretch is left to the narrowing.
    struct Chunk
    {
        int64_t offset;
        int64_t length;
        size_t stretch;
    };
    std::vector<Chunk> chunks;
    {
        std::lock_guard<std::mutex> lock(m_rangesMutex);
        size_t index = 0;
        for (const CUnreadableRanges::Range& r : m_skipped.ranges()) {
            for (int64_t at = r.offset; at < r.end(); at = std::min(r.end(), (at / chunkCapacity + 1) * chunkCapacity))
                chunks.push_back({at, std::min(r.end(), (at / chunkCapacity + 1) * chunkCapacity) - at, index});
            ++index;
        }
    }
    constexpr uint8_t kChunkRead = 1;
    constexpr uint8_t kChunkFailed = 2;
    constexpr size_t kRun = 4;
    std::unique_ptr<std::atomic<uint8_t>[]> chunkState(new std::atomic<uint8_t>[chunks.size()]);
    // A stretch was skipped because a read from its first byte failed: its
    // first chunk most likely holds the bad sector, and goes straight to
    // the narrowing, which costs one failed read there and not two.
    for (size_t i = 0; i < chunks.size(); ++i)
        chunkState[i] = i == 0 || chunks[i - 1].stretch != chunks[i].stretch ? kChunkFailed : 0;
    inParallel(chunks.size(), [&](size_t i, uint8_t* buffer) {
        if (!goOn())
            return false;
        const Chunk& c = chunks[i];
        if (chunkState[i].load() == kChunkFailed)
            return true;
        bool run = i >= kRun;
        for (size_t k = i - std::min(i, kRun); run && k < i; ++k)
            run = chunks[k].stretch == c.stretch && chunkState[k].load() == kChunkFailed;
        if (run) {
            chunkState[i] = kChunkFailed;
            return true;
        }
        if (tryRead(c.offset, c.length, buffer)) {
            readable(c.offset, c.length, buffer);
            chunkState[i] = kChunkRead;
        } else {
            chunkState[i] = kChunkFailed;
        }
        return true;
    });

    // Then narrowing, for every stretch still skipped: it costs about one
    // failed read for a lone bad sector and settles most of the list.
    std::vector<CUnreadableRanges::Range> skipped;
    {
        std::lock_guard<std::mutex> lock(m_rangesMutex);
        for (const CUnreadableRanges::Range& r : m_skipped.ranges())
            skipped.push_back(r);
    }
    inParallel(skipped.size(), [&](size_t i, uint8_t* buffer) {
        const CUnreadableRanges::Range& r = skipped[i];
        const int64_t first = trim(r.offset, r.end(), true, buffer);
        if (first == kOutOfTime)
            return false;
        if (first == kNone)
            return true;
        const int64_t last = trim(r.end(), first + m_sector, false, buffer);
        if (last == kOutOfTime) {
            // Out of time: the front is narrowed, the rest stays skipped.
            settle(first, m_sector, false);
            return false;
        }
        const int64_t lastEnd = last == kNone ? first + m_sector : last + m_sector;
        settle(first, lastEnd - first, false);
        if (lastEnd - first > 2 * m_sector)
            settle(first + m_sector, lastEnd - first - 2 * m_sector, true);
        return true;
    });
    // Then each sector between the narrowed ends, as long as time allows,
    // in pieces of a few sectors handed out in order.
    constexpr int64_t kScrapePiece = 64;
    std::vector<CUnreadableRanges::Range> pieces;
    {
        std::lock_guard<std::mutex> lock(m_rangesMutex);
        for (const CUnreadableRanges::Range& r : m_untried.ranges())
            for (int64_t at = r.offset; at < r.end(); at += kScrapePiece * m_sector)
                pieces.push_back({at, std::min(kScrapePiece * m_sector, r.end() - at)});
    }
    inParallel(pieces.size(), [&](size_t i, uint8_t* buffer) {
        for (int64_t at = pieces[i].offset; at < pieces[i].end(); at += m_sector) {
            if (!goOn())
                return false;
            if (tryRead(at, m_sector, buffer))
                readable(at, m_sector, buffer);
            else
                settle(at, m_sector, false);
        }
        return true;
    });
    return recovered.load();
}
