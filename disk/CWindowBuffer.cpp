#include "disk/CWindowBuffer.h"

#include <new>
#include <sys/mman.h>
#include <utility>

namespace {
constexpr size_t kHugePage = 2 * 1024 * 1024;
}

CWindowBuffer::CWindowBuffer(size_t bytes)
{
    if (bytes == 0)
        return;
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    if (bytes >= kHugePage)
        ::madvise(p, bytes, MADV_HUGEPAGE); // a hint; ordinary pages serve too
    m_data = static_cast<uint8_t*>(p);
    m_size = bytes;
}

CWindowBuffer::~CWindowBuffer()
{
    release();
}

CWindowBuffer::CWindowBuffer(CWindowBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr))
    , m_size(std::exchange(other.m_size, 0))
{
}

CWindowBuffer& CWindowBuffer::operator=(CWindowBuffer&& other) noexcept
{
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

void CWindowBuffer::release()
{
    if (m_data)
        ::munmap(m_data, m_size);
    m_data = nullptr;
    m_size = 0;
}
