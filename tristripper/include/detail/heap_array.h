#pragma once

#include "detail/check.h"
#include "detail/large_vector.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

namespace tristripper {
namespace detail {

// A min-heap in one array whose entries keep the identity they were pushed under, so the entry
// of an identity can be read, changed or removed later. Identities run 0, 1, 2, ... in push
// order. Unlocked, entries can only be pushed; locked, they can be popped, erased and updated.
// Equal keys are never moved past each other on the way up, so the order of ties is fixed.
template <class keytype>
class heap_array
{
public:
    using id_type = std::uint32_t;

    std::size_t size() const { return m_Heap.size(); }
    bool empty() const { return m_Heap.empty(); }
    // True when identity i has been pushed.
    bool valid(std::size_t i) const { return i < m_Position.size(); }
    // True when identity i is no longer in the heap.
    bool removed(std::size_t i) const
    {
        TRISTRIPPER_CHECK(valid(i), "valid(i)");
        return m_Position[i] >= m_Heap.size();
    }
    bool locked() const { return m_Locked; }

    // Room for n entries and n identities.
    void reserve(std::size_t n)
    {
        m_Heap.reserve(n);
        m_Position.reserve(n);
    }

    // Adds an entry; returns its identity. Throws std::length_error past 2^32 - 1 identities.
    id_type push(const keytype &Key)
    {
        TRISTRIPPER_CHECK(!locked(), "! locked()");
        if (m_Position.size() >= std::numeric_limits<id_type>::max())
            throw std::length_error("heap_array::push");
        const auto Id = static_cast<id_type>(size());
        m_Position.push_back(Id);
        m_Heap.push_back(heap_entry{Key, Id});
        sift(Id);
        return Id;
    }

    void lock()
    {
        TRISTRIPPER_CHECK(!locked(), "! locked()");
        m_Locked = true;
    }

    // The smallest key.
    const keytype &top() const
    {
        TRISTRIPPER_CHECK(!empty(), "! empty()");
        return m_Heap.front().m_Key;
    }

    // The identity of the entry at array index p (index 0 is the top).
    id_type id_at(std::size_t p) const
    {
        TRISTRIPPER_CHECK(valid(p), "valid(i)");
        TRISTRIPPER_CHECK(p < m_Heap.size(), "i < m_Heap.size()");
        return m_Heap[p].m_Id;
    }

    const keytype &key_of(std::size_t i) const
    {
        TRISTRIPPER_CHECK(valid(i), "valid(i)");
        TRISTRIPPER_CHECK(!removed(i), "! removed(i)");
        return m_Heap[m_Position[i]].m_Key;
    }

    // Removes the top entry.
    void pop()
    {
        TRISTRIPPER_CHECK(locked(), "locked()");
        TRISTRIPPER_CHECK(!empty(), "! empty()");
        remove_at(0);
    }

    // Removes the entry of identity i.
    void erase(std::size_t i)
    {
        TRISTRIPPER_CHECK(locked(), "locked()");
        TRISTRIPPER_CHECK(!removed(i), "! removed(i)");
        remove_at(m_Position[i]);
    }

    // Gives identity i a new key and restores the heap order.
    void update(std::size_t i, const keytype &Key)
    {
        TRISTRIPPER_CHECK(locked(), "locked()");
        TRISTRIPPER_CHECK(valid(i), "valid(i)");
        TRISTRIPPER_CHECK(!removed(i), "! removed(i)");
        const std::size_t p = m_Position[i];
        m_Heap[p].m_Key = Key;
        sift(p);
    }

    // Asks the processor to fetch what an erase or update of identity i reads first: its position,
    // once Stage 0; its entry with the parent and children, once Stage 1 (the position having
    // arrived meanwhile). A hint only: nothing changes, an identity out of range is ignored.
    void prefetch(std::size_t i, int Stage) const
    {
        if (i >= m_Position.size())
            return;
        if (Stage == 0) {
            __builtin_prefetch(m_Position.data() + i);
            return;
        }
        const std::size_t p = m_Position[i];
        if (p >= m_Heap.size())
            return;
        __builtin_prefetch(m_Heap.data() + p);
        if (p > 0)
            __builtin_prefetch(m_Heap.data() + (p - 1) / 2);
        if (2 * p + 1 < m_Heap.size())
            __builtin_prefetch(m_Heap.data() + 2 * p + 1);
    }

    // Back to the empty, unlocked state; identities start at 0 again.
    void clear()
    {
        m_Heap.clear();
        m_Position.clear();
        m_Locked = false;
    }

private:
    struct heap_entry
    {
        keytype m_Key;
        id_type m_Id;
    };

    // Exchanges the entry at p with the last one, drops the last place and restores the order at
    // p. The dropped identity keeps the last index as its position, which no longer counts.
    void remove_at(std::size_t p)
    {
        const std::size_t Last = m_Heap.size() - 1;
        std::swap(m_Heap[p], m_Heap[Last]);
        m_Position[m_Heap[p].m_Id] = static_cast<id_type>(p);
        m_Position[m_Heap[Last].m_Id] = static_cast<id_type>(Last);
        m_Heap.pop_back();
        if (p != m_Heap.size())
            sift(p);
    }

    // Moves the entry at p up past strictly greater parents, then down while it is not strictly
    // below its smaller child (the left one on a tie). Entries passed over shift into the hole the
    // moving entry leaves, which gives the arrangement of pairwise swaps with fewer writes.
    void sift(std::size_t p)
    {
        TRISTRIPPER_CHECK(p < m_Heap.size(), "i < m_Heap.size()");
        // note: locals, because stores into the position table may alias the members.
        heap_entry *const Heap = m_Heap.data();
        id_type *const Position = m_Position.data();
        const std::size_t Size = m_Heap.size();

        const heap_entry Moving = Heap[p];
        while (p > 0) {
            const std::size_t Parent = (p - 1) / 2;
            if (!(Moving.m_Key < Heap[Parent].m_Key))
                break;
            Heap[p] = Heap[Parent];
            Position[Heap[p].m_Id] = static_cast<id_type>(p);
            p = Parent;
        }
        for (std::size_t c = 2 * p + 1; c < Size; c = 2 * p + 1) {
            if (c + 1 < Size && Heap[c + 1].m_Key < Heap[c].m_Key)
                ++c;
            if (Moving.m_Key < Heap[c].m_Key)
                break;
            Heap[p] = Heap[c];
            Position[Heap[p].m_Id] = static_cast<id_type>(p);
            p = c;
        }
        Heap[p] = Moving;
        Position[Moving.m_Id] = static_cast<id_type>(p);
    }

    large_vector<heap_entry> m_Heap;
    large_vector<id_type> m_Position;
    bool m_Locked = false;
};

} // namespace detail
} // namespace tristripper
