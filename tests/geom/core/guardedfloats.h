#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

// A float array that ends exactly where an inaccessible page begins. The bytes before it on its
// pages hold a canary, so a stray read or write past the end faults and one before the start shows.
class GuardedFloats
{
public:
    explicit GuardedFloats(int count)
        : m_count(count)
    {
        m_page = size_t(sysconf(_SC_PAGESIZE));
        m_dataBytes = ((size_t(count) * sizeof(float) + m_page - 1) / m_page + 1) * m_page;
        void *p =
            mmap(nullptr, m_dataBytes + m_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            qFatal("mmap failed");
        m_base = static_cast<unsigned char *>(p);
        if (mprotect(m_base + m_dataBytes, m_page, PROT_NONE) != 0)
            qFatal("mprotect failed");
        std::memset(m_base, kCanary, m_dataBytes);
        m_data = reinterpret_cast<float *>(m_base + m_dataBytes) - count;
    }
    ~GuardedFloats() { munmap(m_base, m_dataBytes + m_page); }
    GuardedFloats(const GuardedFloats &) = delete;
    GuardedFloats &operator=(const GuardedFloats &) = delete;

    float *data() { return m_data; }
    void fill(const std::vector<float> &v) { std::copy(v.begin(), v.begin() + m_count, m_data); }
    std::vector<float> values() const { return std::vector<float>(m_data, m_data + m_count); }
    // From now on any write to the array or its canary faults.
    void makeReadOnly()
    {
        if (mprotect(m_base, m_dataBytes, PROT_READ) != 0)
            qFatal("mprotect failed");
    }
    bool canaryIntact() const
    {
        for (const unsigned char *p = m_base; p < reinterpret_cast<const unsigned char *>(m_data); ++p) {
            if (*p != kCanary)
                return false;
        }
        return true;
    }

private:
    static constexpr unsigned char kCanary = 0xA5;
    int m_count;
    size_t m_page = 0;
    size_t m_dataBytes = 0;
    unsigned char *m_base = nullptr;
    float *m_data = nullptr;
};
