#pragma once

#include "geom/core/hugepages.h"

#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

namespace geom {

// An allocator for large scratch arrays that are touched in random order (hash tables, sort
// buffers): blocks of 2 MiB and more are aligned to 2 MiB and offered to the kernel for huge pages,
// which spares a translation miss on most random accesses. Small blocks come from the heap as usual.
// Elements made without a value are not zeroed.
template <typename T>
struct LargeBlockAllocator
{
    using value_type = T;

    LargeBlockAllocator() = default;
    template <typename U>
    LargeBlockAllocator(const LargeBlockAllocator<U> &)
    {}

    // note: an element made without a value is left as its default constructor leaves it, not
    // zeroed: the sort's arrays are first written by the threads that fill them, which then share
    // the cost of bringing their pages in, rather than by one thread clearing them beforehand.
    template <typename U>
    void construct(U *p)
    {
        ::new (static_cast<void *>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U *p, Args &&...args)
    {
        ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }

    T *allocate(size_t n)
    {
        const size_t bytes = n * sizeof(T);
        if (bytes < HugePageSize) {
            if (void *p = std::malloc(bytes))
                return static_cast<T *>(p);
            throw std::bad_alloc();
        }
        const size_t rounded = (bytes + HugePageSize - 1) / HugePageSize * HugePageSize;
        void *p = std::aligned_alloc(HugePageSize, rounded);
        if (!p)
            throw std::bad_alloc();
        adviseHugePages(p, rounded);
        return static_cast<T *>(p);
    }
    void deallocate(T *p, size_t)
    {
        std::free(p);
    }

    template <typename U>
    bool operator==(const LargeBlockAllocator<U> &) const
    {
        return true;
    }
    template <typename U>
    bool operator!=(const LargeBlockAllocator<U> &) const
    {
        return false;
    }
};

} // namespace geom
