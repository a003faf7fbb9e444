#include "scan/CWindowCarver.h"

#include "scan/CNotifyFileNode.h"

#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr int64_t kBlock = 512;

} // namespace

CWindowCarver::CWindowCarver()
    : m_carver(new CSignatureCarver)
{
}

void CWindowCarver::carve(CNotifyFileNode* relay, int64_t from, int64_t to, const CarveRange& carveRange)
{
    if (to - from < m_minimumSplit || m_minimumSplit <= 0) {
        carveRange(*m_carver, relay, from, to);
        return;
    }
    const int64_t middle = from + (to - from) / 2 / kBlock * kBlock;
    const uint64_t middleBlock = static_cast<uint64_t>(middle / kBlock);

    auto fresh = std::make_unique<CSignatureCarver>();
    fresh->setVolumeLength(m_carver->volumeLength());
    fresh->setReportCuts(m_carver->reportsCuts());
    fresh->startAtBlock(middleBlock);
    // What the fresh carver finds waits here until it is known to count.
    std::vector<CFileNode> found;
    CNotifyFileNode held;
    QObject::connect(
        &held, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &held,
        [&found](const CFileNode& node) { found.push_back(node); }, Qt::DirectConnection);

    std::exception_ptr secondError;
    std::exception_ptr firstError;
    {
        std::thread second;
        try {
            second = std::thread([&]() {
                try {
                    carveRange(*fresh, &held, middle, to);
                } catch (...) {
                    secondError = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: the window is carved on this one.
            carveRange(*m_carver, relay, from, to);
            return;
        }
        try {
            carveRange(*m_carver, relay, from, middle);
        } catch (...) {
            firstError = std::current_exception();
        }
        second.join();
    }
    if (firstError)
        std::rethrow_exception(firstError);
    ++m_split;
    if (!secondError && m_carver->idleAt(middleBlock)) {
        ++m_takenOver;
        for (const CFileNode& node : found)
            relay->postItem(node);
        m_carver = std::move(fresh);
        return;
    }
    // A document crosses the middle (or the second half failed, and fails
    // again here if it must): the running carver goes on as usual.
    carveRange(*m_carver, relay, middle, to);
}
