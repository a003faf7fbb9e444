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

    fill(m_half, m_windowBase, m_windowSize + m_offsetInWindow);
}

CDiskMappingPointer::~CDiskMappingPointer() = default;

uint8_t* CDiskMappingPointer::halfAt(int index) const
{
    return m_halfBuffers[index].data();
}

void CDiskMappingPointer::beginSequential()
{
    if (!m_halfBuffers[1].data())
        m_halfBuffers[1] = CWindowBuffer(m_halfCapacity);
    m_nextHalf = 1;
}

void CDiskMappingPointer::nextWindow()
{
    if (!m_halfBuffers[1].data())
        beginSequential();
    m_half = halfAt(m_nextHalf);
    m_windowBase += m_windowSize;
    fill(m_half + m_offsetInWindow, position(), m_windowSize);
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
    // Whatever lies past the end of the volume reads as zeros.
    int64_t inside = 0;
    if (m_volume && !m_deviceLost && offset < m_length)
        inside = std::min(length, m_length - offset);
    if (inside < length)
        std::memset(destination + inside, 0, static_cast<size_t>(length - inside));
    if (inside <= 0)
        return;

    IVolume::ReadResult r = m_volume->read(offset, destination, static_cast<size_t>(inside));
    if (r.bytes >= inside)
        return;

    if (r.error == 0) {
        // The volume ends before the length it had when it was opened (an
        // image cut since): those bytes are gone, which is not the same as
        // zeros. They count as unreadable, so that nobody takes the zeros
        // for the document.
        std::memset(destination + r.bytes, 0, static_cast<size_t>(inside - r.bytes));
        m_unreadable += inside - r.bytes;
        return;
    }

    // Re-read the failed stretch in small pieces so that readable sectors
    // are kept and only unreadable ones turn to zeros.
    m_lastError = r.error;
    int64_t done = r.bytes;
    while (done < inside) {
        const int64_t piece = std::min<int64_t>(kRetryPiece - ((offset + done) % kRetryPiece), inside - done);
        uint8_t* out = destination + done;
        if (m_deviceLost) {
            std::memset(out, 0, static_cast<size_t>(inside - done));
            m_unreadable += inside - done;
            return;
        }
        IVolume::ReadResult p = m_volume->read(offset + done, out, static_cast<size_t>(piece));
        if (p.bytes < piece) {
            std::memset(out + p.bytes, 0, static_cast<size_t>(piece - p.bytes));
            if (p.error != 0) {
                m_lastError = p.error;
                m_unreadable += piece - p.bytes;
                if (p.error == ENODEV || p.error == ENXIO)
                    m_deviceLost = true;
            }
        }
        done += piece;
    }
    if (r.error == ENODEV || r.error == ENXIO)
        m_deviceLost = true;
}
