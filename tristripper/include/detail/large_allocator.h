#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tristripper {
namespace detail {

// The size of a huge page.
constexpr std::size_t huge_page_size = std::size_t(1) << 21;

// Asks the system to back the whole huge pages inside [Block, Block + Bytes) with huge pages, for
// an array about to be filled. A refusal only costs speed.
inline void advise_huge_pages(const void *Block, std::size_t Bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t Page = huge_page_size;
    const std::uintptr_t Begin = (reinterpret_cast<std::uintptr_t>(Block) + Page - 1) & ~(Page - 1);
    const std::uintptr_t End = (reinterpret_cast<std::uintptr_t>(Block) + Bytes) & ~(Page - 1);
    if (Block && End > Begin)
        ::madvise(reinterpret_cast<void *>(Begin), End - Begin, MADV_HUGEPAGE);
#else
    (void)Block;
    (void)Bytes;
#endif
}

// The allocator of the stripper's large arrays. Blocks of at least huge_block bytes are aligned to
// and rounded up to whole huge pages, and the system is asked to back them with huge pages; smaller
// blocks come from operator new, with the whole huge pages inside them advised the same way.
// Stateless: every instance frees what any other allocated.
template <class T>
struct large_allocator
{
    using value_type = T;

    // note: the stripper reaches its nodes, arcs and heap entries in an order that is spread over
    // the whole mesh. With small pages, every access of a mesh of millions of triangles misses the
    // address translation cache, and the share of such misses grows with the mesh; huge pages keep
    // the translations of the whole working set in that cache.
    static constexpr std::size_t huge_block = 4 * huge_page_size;

    large_allocator() = default;
    template <class U>
    large_allocator(const large_allocator<U> &) noexcept
    {}

    // note: an element made without a value is left as its default constructor leaves it, not
    // zeroed, so an array that is filled right after (most of all in parallel) is not written
    // twice.
    template <class U>
    void construct(U *p)
    {
        ::new (static_cast<void *>(p)) U;
    }
    template <class U, class... Args>
    void construct(U *p, Args &&...args)
    {
        ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }

    T *allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / 2 / sizeof(T))
            throw std::bad_array_new_length();
        const std::size_t Bytes = n * sizeof(T);
        if (Bytes < huge_block) {
            // note: too small to round up to whole huge pages without waste, but the whole
            // huge pages inside it can still be had.
            void *Block = ::operator new(Bytes);
            advise_huge_pages(Block, Bytes);
            return static_cast<T *>(Block);
        }
        const std::size_t Rounded = (Bytes + huge_page_size - 1) & ~(huge_page_size - 1);
        void *Block = std::aligned_alloc(huge_page_size, Rounded);
        if (!Block)
            throw std::bad_alloc();
        advise_huge_pages(Block, Rounded);
        return static_cast<T *>(Block);
    }

    void deallocate(T *Block, std::size_t n) noexcept
    {
        if (n * sizeof(T) < huge_block)
            ::operator delete(Block);
        else
            std::free(Block);
    }

    template <class U>
    bool operator==(const large_allocator<U> &) const noexcept
    {
        return true;
    }
    template <class U>
    bool operator!=(const large_allocator<U> &) const noexcept
    {
        return false;
    }
};

// A vector in large_allocator's blocks.
template <class T>
using large_vector = std::vector<T, large_allocator<T>>;

} // namespace detail
} // namespace tristripper
