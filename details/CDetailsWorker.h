#pragma once

#include "details/CDetailsBudget.h"
#include "details/CPiecesPass.h"
#include "scan/CFileNode.h"

#include <QElapsedTimer>
#include <QObject>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class IVolume;

// The details pass: reads what each found document says about itself and
// judges its integrity, on threads of its own (one per core, at most
// kMaxThreads) at idle CPU and I/O priority, so that the scan's carving pass
// never waits for it and the interface thread never blocks on it.
//
// Documents are queued by ticket as they are listed; results come back in
// batches (at most every 100 ms, or 256 at once) through detailsReady on the
// thread that made the worker. A document whose integrity could not be
// judged within the budget comes back at once with what was read, and is
// looked at again with the large budget once every document has had its
// first turn (its ticket then comes back a second time).
//
// Once every document had its turns and no more will come, the carved
// documents whose structure broke are searched for their other pieces
// (CPieceSearch): one that is found whole comes back a last time, with its
// pieces; whole documents' stretches are never taken for another's piece.
//
// finishInput() says no more documents will come (the scan has ended): the
// threads leave the idle class for what is left, which the user now waits
// for; drained() follows once everything queued is done, after the last
// batch. The destructor stops the threads and waits for them (a document in
// progress costs at most its budget).
class CDetailsWorker : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        quint64 ticket = 0;
        CDocumentDetails details;
        // Not empty: the document was found to lie in these pieces of the
        // source, in order (its size is their sum), and `details` are the
        // assembly's.
        QVector<CFileNode::Extent> pieces;
        // A document that was not listed (ticket 0): the whole record, found
        // in pieces by the search.
        bool newDocument = false;
        CFileNode node;
    };

    static constexpr int kMaxThreads = 4;

    explicit CDetailsWorker(QObject* parent = nullptr);
    ~CDetailsWorker() override;

    // Before the first document is queued.
    void setVolume(std::shared_ptr<IVolume> volume);
    void setBudgets(const CDetailsBudget& first, const CDetailsBudget& large);
    // How carved documents that break are searched for their other pieces
    // once every document was read (the cluster grid, the reach); off with
    // `enabled` false.
    void setPieceSearch(const CPieceSearch::Settings& settings, bool enabled = true);

    // Documents still to be read (both turns), and documents read so far.
    int pending() const;
    int done() const;
    bool isDrained() const;

public slots:
    void enqueue(quint64 ticket, const CFileNode& node);
    void finishInput();
    // Drops everything queued and ends the thread.
    void stop();

signals:
    void detailsReady(const QVector<CDetailsWorker::Result>& batch);
    void drained();

private:
    struct Job
    {
        quint64 ticket = 0;
        CFileNode node;
    };

    void run();
    // The search for broken documents' pieces, on one thread, unlocked.
    QVector<Result> searchPieces();
    // Under m_mutex: the batch goes out, and then drained() if all is done
    // (so that it comes after every result).
    void postLocked();
    void postDrainedIfDoneLocked();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    std::deque<Job> m_large;
    std::shared_ptr<IVolume> m_volume;
    CDetailsBudget m_budget;
    CDetailsBudget m_largeBudget = CDetailsBudget::large();
    bool m_inputFinished = false;
    bool m_stopping = false;
    // Raised by stop(): the document being read fails its next read.
    std::atomic<bool> m_cancel{false};
    bool m_drainedPosted = false;
    CPieceSearch::Settings m_pieceSettings;
    bool m_piecesEnabled = true;
    // Pending, running, or done once the input finished.
    enum class PiecesTurn
    {
        Pending,
        Running,
        Done,
    };
    PiecesTurn m_piecesTurn = PiecesTurn::Pending;
    // What the search for pieces needs of every document read.
    CPiecesPass m_pieces;
    int m_busy = 0;
    int m_done = 0;
    // Results not yet posted, from every thread.
    QVector<Result> m_batch;
    QElapsedTimer m_sincePost;
    std::vector<std::thread> m_threads;
};
