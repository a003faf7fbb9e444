#include "results/CRelayInbox.h"

#include "results/CCreateTreeNode.h"
#include "scan/CNotifyFileNode.h"

#include <QElapsedTimer>

CRelayInbox::CRelayInbox(CCreateTreeNode* builder, QObject* parent)
    : QObject(parent)
    , m_builder(builder)
{
}

void CRelayInbox::attach(CNotifyFileNode* relay)
{
    // Direct: the report is queued here on the posting thread, not as an
    // event of its own.
    connect(
        relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), this,
        [this](const CFileNode& node) {
            Report r;
            r.node = node;
            push(std::move(r));
        },
        Qt::DirectConnection);
    connect(
        relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem), this,
        [this](long long sector, int typeCode) {
            Report r;
            r.live = true;
            r.sector = sector;
            r.typeCode = typeCode;
            push(std::move(r));
        },
        Qt::DirectConnection);
}

void CRelayInbox::push(Report&& report)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_arrived.push_back(std::move(report));
        if (m_turnPosted)
            return;
        m_turnPosted = true;
    }
    QMetaObject::invokeMethod(this, [this]() { deliverTurn(); }, Qt::QueuedConnection);
}

int CRelayInbox::pending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_arrived.size() + m_taken.size());
}

void CRelayInbox::handOver(const Report& report)
{
    if (report.live)
        m_builder->reciveFileItem(report.sector, report.typeCode);
    else
        m_builder->reciveFileItem(report.node);
}

void CRelayInbox::deliverTurn()
{
    QElapsedTimer turn;
    turn.start();
    constexpr qint64 budgetNs = static_cast<qint64>(kTurnMs) * 1000000;
    for (;;) {
        if (m_taken.empty()) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_arrived.empty()) {
                m_turnPosted = false;
                break;
            }
            m_taken.swap(m_arrived);
        }
        while (!m_taken.empty()) {
            handOver(m_taken.front());
            m_taken.pop_front();
            if (turn.nsecsElapsed() >= budgetNs) {
                // The rest in a later turn, after the events waiting now.
                QMetaObject::invokeMethod(this, [this]() { deliverTurn(); }, Qt::QueuedConnection);
                return;
            }
        }
    }
    emit drained();
}

void CRelayInbox::deliverAll()
{
    for (;;) {
        while (!m_taken.empty()) {
            handOver(m_taken.front());
            m_taken.pop_front();
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_arrived.empty()) {
                m_taken.swap(m_arrived);
                continue;
            }
        }
        emit drained();
        return;
    }
}
