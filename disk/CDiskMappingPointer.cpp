#include "disk/CDiskMappingPointer.h"

#include "disk/IVolume.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
constexpr int64_t kBoundary = 4096;
}

CDiskMappingPointer::CDiskMappingPointer(IVolume* volume, int64_t offset, uint32_t windowSize)
    : m_volume(volume)
    , m_windowSize(windowSize < 512 ? 512 : windowSize - windowSize % 512)
{
    if (offset < 0)
        offset = 0;
    m_windowBase = offset & ~(kBoundary - 1);
    m_offsetInWindow = offset - m_windowBase;
    m_halfCapacity = m_windowSize + static_cast<uint32_t>(kBoundary);

    // One half for a single window; the second is added when sequential
    // mode begins. Deliberately not zero-initialised: the read fills it.
    m_halfBuffers[0] = CWindowBuffer(m_halfCapacity);
    m_half = halfAt(0);
    m_length = m_volume ? m_volume->length() : 0;
    m_reader.reset(new CReadScheduler(m_volume, 1));

    m_half = show(0, m_windowBase, m_windowSize + m_offsetInWindow);
}

CDiskMappingPointer::~CDiskMappingPointer()
{
    releaseView(0);
    releaseView(1);
}

const uint8_t* CDiskMappingPointer::show(int slot, int64_t from, int64_t length)
{
    releaseView(slot);
    const int64_t span = from - m_windowBase + length;
    if (m_volume && length > 0 && !m_reader->deviceLost()) {
        if (const uint8_t* view = m_volume->mapView(m_windowBase, span)) {
            m_views[slot] = {view, span, m_windowBase};
            return view;
        }
    }
    uint8_t* half = halfAt(slot);
    fill(half + (from - m_windowBase), from, length);
    return half;
}

void CDiskMappingPointer::releaseView(int slot)
{
    View& v = m_views[slot];
    if (v.data && m_volume) {
        const int64_t lost = m_volume->releaseView(v.data, v.length);
        // The zeros stand for the tail of the view's part on the volume, from
        // the page that failed on: to be read again at the end.
        const int64_t inside = std::max<int64_t>(0, std::min(v.length, m_length - v.offset));
        if (lost > 0 && lost <= inside)
            m_reader->markPending(v.offset + inside - lost, lost);
    }
    v = View();
}

CUnreadableRanges CDiskMappingPointer::unreadableRanges() const
{
    return m_reader->unreadableRanges();
}

int64_t CDiskMappingPointer::lastPass(int64_t budgetMs, const std::function<bool()>& keepGoing,
                                      const CReadScheduler::SectorSink& onRead)
{
    releaseView(0);
    releaseView(1);
    m_half = halfAt(0); // no view is left to show
    return m_reader->lastPass(budgetMs, keepGoing, onRead);
}

int64_t CDiskMappingPointer::unreadableBytes() const
{
    int64_t lost = m_reader->unreadableBytes();
    for (const View& v : m_views) {
        if (v.data && m_volume)
            lost += m_volume->viewLostBytes(v.data);
    }
    return lost;
}

uint8_t* CDiskMappingPointer::halfAt(int index) const
{
    return m_halfBuffers[index].data();
}

void CDiskMappingPointer::beginSequential(int streams)
{
    if (!m_halfBuffers[1].data())
        m_halfBuffers[1] = CWindowBuffer(m_halfCapacity);
    m_nextHalf = 1;
    if (!m_volume)
        return;
    const bool ascending = m_volume->rotational();
    if (streams <= 0)
        streams = CReadScheduler::kDefaultStreams;
    m_reader->configure(streams, ascending);
    // No POSIX_FADV_SEQUENTIAL either: on a warm cache it measured slower.
}

void CDiskMappingPointer::nextWindow()
{
    if (!m_halfBuffers[1].data())
        beginSequential();
    m_windowBase += m_windowSize;
    m_half = show(m_nextHalf, position(), m_windowSize);
    m_nextHalf ^= 1;
    // No WILLNEED hint for the window after this one: measured on a warm
    // page cache it costs a fifth of the scan's speed (the kernel walks every
    // cached page of the hint), more than it gains cold.
}

void CDiskMappingPointer::nextWindowAt(int64_t offset, int64_t length)
{
    if (!m_halfBuffers[1].data())
        beginSequential();
    // The same alignment as a window opened there.
    m_windowBase = std::max<int64_t>(offset, 0) & ~(kBoundary - 1);
    m_offsetInWindow = std::max<int64_t>(offset, 0) - m_windowBase;
    m_half = show(m_nextHalf, position(), std::max<int64_t>(0, std::min<int64_t>(length, m_windowSize)));
    m_nextHalf ^= 1;
}

void CDiskMappingPointer::endSequential()
{
    m_half = halfAt(0);
    m_nextHalf = 1;
}

int64_t CDiskMappingPointer::progress() const
{
    if (m_length <= 0)
        return 0;
    return static_cast<int64_t>(static_cast<float>(position()) * 1000.0f / static_cast<float>(m_length));
}

void CDiskMappingPointer::fill(uint8_t* destination, int64_t offset, int64_t length)
{
    // Whatever lies past the end of the volume reads as zeros, and so does
    // everything once the device has gone.
    int64_t inside = 0;
    if (m_volume && !m_reader->deviceLost() && offset < m_length)
        inside = std::min(length, m_length - offset);
    if (inside < length)
        std::memset(destination + inside, 0, static_cast<size_t>(length - inside));
    if (inside > 0)
        m_reader->read(destination, offset, inside);
}
