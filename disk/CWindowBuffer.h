#pragma once

#include <cstddef>
#include <cstdint>

// Page-aligned anonymous memory for reader windows. Windows are tens of
// megabytes and are filled by the kernel on every read, so they are asked
// for transparent huge pages: far fewer page faults and TLB misses than
// ordinary heap memory at this size. Not zero-initialised by contract.
class CWindowBuffer
{
public:
    CWindowBuffer() = default;
    explicit CWindowBuffer(size_t bytes);
    ~CWindowBuffer();

    CWindowBuffer(const CWindowBuffer&) = delete;
    CWindowBuffer& operator=(const CWindowBuffer&) = delete;
    CWindowBuffer(CWindowBuffer&& other) noexcept;
    CWindowBuffer& operator=(CWindowBuffer&& other) noexcept;

    uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }

private:
    void release();

    uint8_t* m_data = nullptr;
    size_t m_size = 0;
};
