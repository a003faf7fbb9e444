#pragma once

#include "scan/CFileNode.h"

#include <QObject>

#include <deque>
#include <mutex>

class CCreateTreeNode;
class CNotifyFileNode;

// Carries the relay's reports from the scan threads to the tree builder on
// the builder's own (interface) thread, in the order they were posted, a
// few milliseconds' worth at a time.
//
// Connected straight to the relay, every report would be one queued event,
// and the interface thread handles all the events queued when it looks: a
// scan that finds documents faster than they are listed (thousands a
// second on a volume full of them) would hold it for as long as the backlog
// takes, and the window would freeze. Here reports are collected under a
// lock on the posting thread, and the builder's thread takes them in turns
// of at most kTurnMs, going back to its event loop (clicks, timers,
// painting) between turns.
//
// Whoever acts on the end of a scan waits for drained() (or calls
// deliverAll(), which may take as long as the backlog): the reports of a
// scan that has ended may still be waiting here.
class CRelayInbox : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTurnMs = 8;

    // Lives on the calling thread, which must be the builder's.
    explicit CRelayInbox(CCreateTreeNode* builder, QObject* parent = nullptr);

    // Takes every report `relay` posts from now on. The relay must not post
    // while this object is being destroyed (its scan has ended first).
    void attach(CNotifyFileNode* relay);

    // Hands everything that has arrived to the builder now.
    void deliverAll();
    // Reports arrived and not handed over yet.
    int pending() const;

signals:
    // Everything that had arrived has been handed over.
    void drained();

private:
    struct Report
    {
        bool live = false;
        CFileNode node;
        long long sector = 0;
        int typeCode = 0;
    };

    void push(Report&& report);
    // One turn: at most kTurnMs of handing over, then another turn later if
    // anything is left.
    void deliverTurn();
    void handOver(const Report& report);

    CCreateTreeNode* m_builder;
    mutable std::mutex m_mutex;
    // Filled by the posting threads.
    std::deque<Report> m_arrived;
    // A turn is posted and has not run out of reports yet.
    bool m_turnPosted = false;
    // Taken from m_arrived, handed over by this object's thread only.
    std::deque<Report> m_taken;
};
