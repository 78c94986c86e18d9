#pragma once

#include "detail/check.h"
#include "detail/connectivity_graph.h"
#include "detail/deferred_heap.h"
#include "detail/heap_array.h"
#include "detail/triangle_graph.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tristripper {

using index = std::uint64_t;
using index_list = std::vector<index>;

// The primitive codes of OpenGL.
enum primitive_type : std::uint32_t
{
    triangle_list = 4,
    triangle_strip = 5,
};

// One output group. A strip: triangle k is (v[k], v[k+1], v[k+2]) for even k and
// (v[k+1], v[k], v[k+2]) for odd k. A list: three indices per triangle.
struct primitive
{
    index_list indices;
    primitive_type type = triangle_strip;
};

using primitive_vector = std::vector<primitive>;

// The same groups in a flat form, for indices that fit in 32 bits: the strips' indices one strip
// after the other, where each strip ends among them, and the list's indices (empty when every
// triangle joined a strip).
struct flat_primitives
{
    std::vector<std::uint32_t> strip_indices;
    // Strip k runs from the end of strip k - 1 (or 0) to strip_ends[k].
    std::vector<std::uint32_t> strip_ends;
    std::vector<std::uint32_t> list_indices;
};

// Turns triangles into strips of 2 to 8 triangles, grown greedily from the triangle with the
// fewest free neighbours and chosen by reuse of a simulated 10-entry vertex cache, plus one list
// of the triangles that joined no strip. Every emitted triangle is an input triangle with its
// winding; only triangles that run a shared edge in opposite directions are joined. The result
// depends on nothing but the input. One thread at a time.
class tri_stripper
{
public:
    // Builds the connectivity of the triangles (i0, i1, i2), (i3, i4, i5), ...; indices past the
    // last whole triangle are ignored. Threads: 1 keeps all work on the calling thread, 0 lets a
    // large input use a few more threads, larger values always use them; the result is the same in
    // every case. QUARN_STRIP_HEAP_WORKER=0 in the environment keeps the degree heap's work on the
    // calling thread whatever Threads says (for benchmarks). Throws std::bad_alloc, or
    // std::length_error beyond 1431655765 triangles.
    explicit tri_stripper(const index_list &TriIndices, unsigned Threads = 0);
    // The same for a list of 32-bit indices, which needs half the memory.
    explicit tri_stripper(const std::vector<std::uint32_t> &TriIndices, unsigned Threads = 0);
    // The same for TriangleCount triangles whose corners are the first three 32-bit unsigned values
    // of records Stride bytes apart from Records on (such as the facets of a mesh), so that no
    // separate index list is needed.
    tri_stripper(const void *Records, std::size_t TriangleCount, std::size_t Stride, unsigned Threads = 0);

    // Replaces the contents of *out_pPrimitivesVector with the strips in the order they were
    // written, then at most one list of the remaining triangles in input order with their corners
    // in input order. Every call gives the same result. Throws check_failure for a null pointer
    // or a broken internal invariant, std::bad_alloc when memory runs out.
    void strip(primitive_vector *out_pPrimitivesVector);
    // The same result in the flat form, which needs about a third of the memory. Throws as above,
    // and std::length_error for an index beyond 32 bits (only possible with 64-bit indices).
    void strip(flat_primitives *out);

private:
    using node_id = detail::triangle_graph::node_id;
    using key_type = detail::deferred_heap::key_type;

    static constexpr std::size_t cache_size = 10;
    static constexpr std::uint32_t min_strip_length = 2;
    static constexpr std::uint32_t no_vertex = 0xFFFFFFFFu;
    static constexpr node_id no_node = 0xFFFFFFFFu;

    // A simulated first-in-first-out vertex cache. Only membership and the eviction order
    // matter, so a ring buffer stands for the queue with the newest entry at the front.
    struct vertex_cache
    {
        std::array<std::uint32_t, cache_size> m_Slots;
        std::uint32_t m_Front = 0;
        std::uint32_t m_Hits = 0;

        vertex_cache() { reset(); }
        void reset();
        bool contains(std::uint32_t v) const
        {
            bool Found = false;
            for (std::uint32_t Slot : m_Slots)
                Found |= Slot == v;
            return Found;
        }
        void push_front(std::uint32_t v)
        {
            // The slot before the front holds the oldest entry, which the new one replaces.
            m_Front = m_Front == 0 ? std::uint32_t(cache_size - 1) : m_Front - 1;
            m_Slots[m_Front] = v;
        }
    };

    struct strip_run
    {
        node_id m_Start = 0;
        std::uint32_t m_Rotation = 0;
        std::uint32_t m_Length = 0;
    };

    struct strip_choice
    {
        strip_run m_Best;
        key_type m_Degree = 0;
        std::uint32_t m_Hits = 0;

        void offer(const strip_run &Run, key_type Degree, std::uint32_t Hits);
    };

    // The last two corners of a strip's last triangle in strip order: the triangle that continues
    // the strip runs this edge from m_Second to m_First.
    struct leaving_edge
    {
        std::uint32_t m_First;
        std::uint32_t m_Second;
    };

    // Strips everything into m_Result, in compact vertex numbers.
    void run();
    void reset();
    void reset_strip_ids();
    void build_heap();
    bool use_worker() const;
    void strip_all();
    strip_run best_strip();
    // Asks the processor for the nodes of Node's neighbours; a hint only.
    void prefetch_neighbours(const detail::triangle_graph::node &Node) const;
    strip_run grow_forward(node_id Start, std::uint32_t Rotation);
    void emit_strip(const strip_run &Run);
    // Takes triangle i out of the heap unless it has left already.
    void dequeue(node_id i);
    void take_triangle(node_id i);
    void collect_leftovers();
    template <bool Trial>
    node_id next_neighbour(node_id Current, leaving_edge &Edge, bool Odd, std::uint32_t &Vertex) const;
    void simulate_emit(std::uint32_t v)
    {
        if (m_Cache.contains(v))
            ++m_Cache.m_Hits;
        m_Cache.push_front(v);
    }
    void emit_vertex(std::uint32_t v);
    void next_strip_counter();
    index vertex_value(std::uint32_t v) const
    {
        return m_VertexValues.empty() ? index(v) : m_VertexValues[v];
    }

    flat_primitives m_Result;
    detail::triangle_graph m_Triangles;
    detail::deferred_heap m_TriHeap;
    std::vector<node_id> m_Candidates;
    vertex_cache m_Cache;
    std::uint32_t m_StripId = 0;
    bool m_FirstRun = true;
    unsigned m_Threads;
    // The original index of every compact vertex number, when the graph needed ranks.
    std::vector<index> m_VertexValues;
};

} // namespace tristripper
