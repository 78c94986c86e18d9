#pragma once

#include "platform/hugepages.h"

#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

namespace platform {

// The allocator of large arrays that are reached in an order spread over the whole array (hash
// tables, sort buffers, the stripper's graph and heap). Blocks of at least RoundUpFrom bytes are
// aligned to and rounded up to whole huge pages and offered to the kernel for them; smaller blocks
// come from operator new, with the whole huge pages inside them offered the same way. A count whose
// size in bytes does not fit throws std::bad_array_new_length, no memory std::bad_alloc. Elements
// made without a value are not zeroed. Stateless: every instance frees what any other allocated.
//
// note: with small pages every access to such an array misses the address translation cache once
// it holds millions of elements; huge pages keep the translations of the whole array in that cache.
// Rounding up wastes up to a huge page per block, which a block of several huge pages bears.
template <typename T, std::size_t RoundUpFrom = HugePageSize>
struct LargeBlockAllocator
{
    static_assert(RoundUpFrom >= HugePageSize, "a block below a huge page is never rounded up to one");

    using value_type = T;
    template <typename U>
    struct rebind
    {
        using other = LargeBlockAllocator<U, RoundUpFrom>;
    };

    LargeBlockAllocator() = default;
    template <typename U>
    LargeBlockAllocator(const LargeBlockAllocator<U, RoundUpFrom> &) noexcept
    {}

    // note: an element made without a value is left as its default constructor leaves it, not
    // zeroed, so an array that is filled right after (most of all by several threads, which then
    // share the cost of bringing its pages in) is not written twice.
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

    T *allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / 2 / sizeof(T))
            throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < RoundUpFrom) {
            void *block = ::operator new(bytes);
            adviseHugePages(block, bytes);
            return static_cast<T *>(block);
        }
        const std::size_t rounded = (bytes + HugePageSize - 1) & ~(HugePageSize - 1);
        void *block = std::aligned_alloc(HugePageSize, rounded);
        if (!block)
            throw std::bad_alloc();
        adviseHugePages(block, rounded);
        return static_cast<T *>(block);
    }

    void deallocate(T *block, std::size_t n) noexcept
    {
        if (n * sizeof(T) < RoundUpFrom)
            ::operator delete(block);
        else
            std::free(block);
    }

    template <typename U>
    bool operator==(const LargeBlockAllocator<U, RoundUpFrom> &) const noexcept
    {
        return true;
    }
    template <typename U>
    bool operator!=(const LargeBlockAllocator<U, RoundUpFrom> &) const noexcept
    {
        return false;
    }
};

} // namespace platform
