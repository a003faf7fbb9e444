#include "details/CDetailsWorker.h"

#include "details/CDetailsReader.h"
#include "disk/IVolume.h"
#include "scan/CDocumentBytes.h"

#include <QMetaObject>

#include <algorithm>

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int kBatchSize = 256;
constexpr int kBatchMilliseconds = 100;

// While the scan runs it comes first: this thread gets the CPU and the disk
// only when nothing else wants them. Once the scan has ended the user waits
// for what is left, and then the thread takes its ordinary turn (at idle
// class it would wait for every other program on the machine).
void setIdle(bool idle)
{
    sched_param param{};
    param.sched_priority = 0;
    pthread_setschedparam(pthread_self(), idle ? SCHED_IDLE : SCHED_OTHER, &param);
#ifdef SYS_ioprio_set
    constexpr int kWhoProcess = 1; // with id 0: the calling thread
    constexpr int kClassBestEffort = 2;
    constexpr int kClassIdle = 3;
    constexpr int kClassShift = 13;
    constexpr int kBestEffortDefault = 4;
    syscall(SYS_ioprio_set, kWhoProcess, 0,
            idle ? kClassIdle << kClassShift : (kClassBestEffort << kClassShift) | kBestEffortDefault);
#endif
}

} // namespace

CDetailsWorker::CDetailsWorker(QObject* parent)
    : QObject(parent)
{
    m_sincePost.start();
}

CDetailsWorker::~CDetailsWorker()
{
    stop();
}

void CDetailsWorker::setVolume(std::shared_ptr<IVolume> volume)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_volume = std::move(volume);
}

void CDetailsWorker::setPieceSearch(const CPieceSearch::Settings& settings, bool enabled)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pieceSettings = settings;
    m_piecesEnabled = enabled;
}

void CDetailsWorker::setBudgets(const CDetailsBudget& first, const CDetailsBudget& large)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_budget = first;
    m_largeBudget = large;
}

int CDetailsWorker::pending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_queue.size() + m_large.size()) + m_busy;
}

int CDetailsWorker::done() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_done;
}

bool CDetailsWorker::isDrained() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inputFinished && m_queue.empty() && m_large.empty() && m_busy == 0
        && (m_piecesTurn == PiecesTurn::Done || m_threads.empty());
}

void CDetailsWorker::enqueue(quint64 ticket, const CFileNode& node)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping)
        return;
    m_queue.push_back({ticket, node});
    m_drainedPosted = false;
    if (m_piecesTurn == PiecesTurn::Done)
        m_piecesTurn = PiecesTurn::Pending;
    if (m_threads.empty()) {
        const int threads = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxThreads);
        for (int i = 0; i < threads; ++i)
            m_threads.emplace_back([this]() { run(); });
    }
    m_wake.notify_one();
}

void CDetailsWorker::finishInput()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inputFinished = true;
    // Everything may be done already (or nothing was ever queued).
    postDrainedIfDoneLocked();
    m_wake.notify_all();
}

void CDetailsWorker::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_cancel = true;
        m_queue.clear();
        m_large.clear();
        m_wake.notify_all();
    }
    for (std::thread& t : m_threads) {
        if (t.joinable())
            t.join();
    }
}

void CDetailsWorker::postLocked()
{
    m_sincePost.restart();
    if (m_batch.isEmpty())
        return;
    const QVector<Result> out = std::move(m_batch);
    m_batch.clear();
    QMetaObject::invokeMethod(this, [this, out]() { emit detailsReady(out); }, Qt::QueuedConnection);
}

void CDetailsWorker::postDrainedIfDoneLocked()
{
    if (!m_inputFinished || m_stopping || m_drainedPosted || !m_queue.empty() || !m_large.empty() || m_busy > 0)
        return;
    // The search for pieces comes last (no thread was ever started when no
    // document came).
    if (m_piecesTurn != PiecesTurn::Done && !m_threads.empty())
        return;
    postLocked();
    m_drainedPosted = true;
    QMetaObject::invokeMethod(this, [this]() { emit drained(); }, Qt::QueuedConnection);
}

QVector<CDetailsWorker::Result> CDetailsWorker::searchPieces()
{
    QVector<Result> out;
    CPiecesPass pass;
    std::shared_ptr<IVolume> volume;
    CPieceSearch::Settings settings;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_piecesEnabled || !m_pieces.hasBroken())
            return out;
        pass = m_pieces;
        volume = m_volume;
        settings = m_pieceSettings;
    }
    for (const CPiecesPass::Found& f : pass.run(volume.get(), settings, &m_cancel)) {
        Result r;
        r.ticket = f.ticket;
        r.details = f.outcome.details;
        r.pieces = f.outcome.pieces;
        if (f.newDocument) {
            r.newDocument = true;
            r.node = f.node;
        }
        out.append(r);
    }
    return out;
}

void CDetailsWorker::run()
{
    setIdle(true);
    bool idle = true;
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto piecesDue = [this]() {
        return m_inputFinished && m_piecesTurn == PiecesTurn::Pending && m_queue.empty() && m_large.empty()
            && m_busy == 0;
    };
    for (;;) {
        if (m_stopping)
            return;
        if (piecesDue()) {
            m_piecesTurn = PiecesTurn::Running;
            ++m_busy;
            if (idle) {
                setIdle(false);
                idle = false;
            }
            lock.unlock();
            QVector<Result> found = searchPieces();
            lock.lock();
            --m_busy;
            if (m_cancel)
                return;
            m_piecesTurn = PiecesTurn::Done;
            m_done += found.size();
            m_batch += found;
            // A document that came meanwhile has its turn, then the search again.
            if (!m_queue.empty())
                m_piecesTurn = PiecesTurn::Pending;
            postLocked();
            postDrainedIfDoneLocked();
            continue;
        }
        if (m_queue.empty() && m_large.empty()) {
            // Nothing to read now: what was read goes out at once.
            postLocked();
            m_wake.wait(lock, [this, &piecesDue]() {
                return m_stopping || !m_queue.empty() || !m_large.empty() || piecesDue();
            });
            continue;
        }
        if (idle && m_inputFinished) {
            setIdle(false);
            idle = false;
        }
        const bool largeTurn = m_queue.empty();
        Job job = std::move(largeTurn ? m_large.front() : m_queue.front());
        (largeTurn ? m_large : m_queue).pop_front();
        const CDetailsBudget budget = largeTurn ? m_largeBudget : m_budget;
        std::shared_ptr<IVolume> volume = m_volume;
        ++m_busy;
        lock.unlock();

        CDocumentBytes bytes(volume.get(), job.node, budget.readBytes);
        bytes.setCancelFlag(&m_cancel);
        bool larger = false;
        Result result;
        result.ticket = job.ticket;
        result.details = CDetailsReader::read(bytes, job.node.typeName, budget, &larger);
        // A compressed file is whole only when every unit decompresses,
        // whatever the format's own checks read of it.
        if (job.node.compressionUnit > 0 && !bytes.checkCompressedUnits() && !bytes.damage().isEmpty()) {
            result.details.integrity = CDocumentDetails::IntegrityDamaged;
            result.details.integrityReason = bytes.damage();
        }

        lock.lock();
        --m_busy;
        if (m_cancel)
            return; // what a cancelled read left is not a result
        ++m_done;
        m_pieces.note(job.ticket, job.node, result.details);
        m_batch.append(std::move(result));
        if (larger && !largeTurn) {
            m_large.push_back(std::move(job));
            m_wake.notify_one();
        }
        if (m_batch.size() >= kBatchSize || m_sincePost.elapsed() >= kBatchMilliseconds)
            postLocked();
        if (piecesDue())
            m_wake.notify_all();
        postDrainedIfDoneLocked();
    }
}
