#include "scan/CSkippedStretchCarver.h"

#include "disk/CWindowBuffer.h"
#include "disk/IVolume.h"
#include "scan/CFreeSpaceRuns.h"
#include "scan/CNotifyFileNode.h"
#include "scan/CSignatureCarver.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int64_t kSector = 512;
}

CSkippedStretchCarver::CSkippedStretchCarver(IVolume* volume, const CFreeSpaceRuns* freeRuns,
                                             const CUnreadableRanges& unreadable)
    : m_volume(volume)
    , m_freeRuns(freeRuns)
    , m_unreadable(unreadable)
{
}

void CSkippedStretchCarver::fill(uint8_t* out, int64_t offset, int64_t length)
{
    std::memset(out, 0, static_cast<size_t>(length));
    const int64_t volumeLength = m_volume->length();
    const int64_t end = std::min(offset + length, volumeLength);
    // Each turn reads the readable stretch from `at` and moves past the
    // unreadable one after it: bounded by `end`.
    int64_t at = offset;
    while (at < end) {
        const QVector<CUnreadableRanges::Range> bad = m_unreadable.within(at, end - at);
        const int64_t goodEnd = bad.isEmpty() ? end : bad.front().offset;
        if (goodEnd > at) {
            const IVolume::ReadResult r = m_volume->read(at, out + (at - offset), static_cast<size_t>(goodEnd - at));
            m_bytesRead += std::max<int64_t>(0, r.bytes);
            if (r.bytes < goodEnd - at) // worse than the last pass found it: zeros
                std::memset(out + (at - offset) + std::max<int64_t>(0, r.bytes), 0,
                            static_cast<size_t>(goodEnd - at - std::max<int64_t>(0, r.bytes)));
        }
        at = bad.isEmpty() ? end : std::max(goodEnd + 1, bad.front().end());
    }
}

void CSkippedStretchCarver::carve(const CUnreadableRanges& readLate, CNotifyFileNode* relay,
                                  const std::atomic<bool>* running)
{
    if (!m_volume || !relay)
        return;
    const int64_t volumeLength = m_volume->length();
    CWindowBuffer buffer(static_cast<size_t>(kWindow));
    for (const CUnreadableRanges::Range& stretch : readLate.ranges()) {
        if (running && !running->load())
            return;
        const int64_t from = stretch.offset / kSector * kSector;
        const int64_t stretchEnd = std::min(volumeLength, (stretch.end() + kSector - 1) / kSector * kSector);
        if (from >= stretchEnd)
            continue;
        // Only what begins inside the stretch: the raw pass saw the rest.
        CNotifyFileNode inside;
        QObject::connect(
            &inside, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &inside,
            [&](const CFileNode& node) {
                const int64_t at = static_cast<int64_t>(node.byteOffset());
                if (at >= from && at < stretchEnd)
                    relay->postItem(node);
            },
            Qt::DirectConnection);
        CSignatureCarver carver;
        carver.setReportCuts(m_freeRuns != nullptr);
        carver.setVolumeLength(volumeLength);
        carver.startAtBlock(static_cast<uint64_t>(from / kSector));
        const int64_t reachEnd = std::min(volumeLength, stretchEnd + kMaxReach);
        // The stretch itself first, then on in windows while a document of
        // its own is open. Each turn moves `at` forward: bounded by reachEnd.
        int64_t at = from;
        bool atVolumeEnd = false;
        while (at < reachEnd) {
            if (running && !running->load())
                return;
            const int64_t want = at < stretchEnd ? std::min(kWindow, stretchEnd - at) : std::min(kWindow, reachEnd - at);
            const int64_t length = (want + kSector - 1) / kSector * kSector;
            fill(buffer.data(), at, length);
            if (!m_freeRuns) {
                carver.carveWindow(&inside, buffer.data(), length, static_cast<int>(kSector));
            } else {
                CFreeSpaceRuns::Run part;
                // Each turn carves a stretch no live file holds and moves past it.
                for (int64_t p = at; p < at + length && m_freeRuns->nextUnused(p, part) && part.offset < at + length;
                     p = part.end()) {
                    const int64_t partStart = std::max(part.offset, p);
                    const uint64_t block = static_cast<uint64_t>(partStart / kSector);
                    if (block != carver.blockCounter()) {
                        // Bytes in use lay between: what is open ends before them.
                        carver.endRun(&inside);
                        carver.startAtBlock(block);
                    }
                    carver.setVolumeLength(part.end());
                    const int64_t partLength = std::min(part.end(), at + length) - partStart;
                    carver.carveWindow(&inside, buffer.data() + (partStart - at),
                                       (partLength + kSector - 1) / kSector * kSector, static_cast<int>(kSector));
                }
            }
            at += length;
            atVolumeEnd = at >= volumeLength;
            if (at >= stretchEnd && carver.earliestOpenBlock() >= static_cast<uint64_t>(stretchEnd / kSector))
                break;
        }
        if (atVolumeEnd)
            carver.finishPass(&inside);
        else
            carver.endRun(&inside);
    }
}
