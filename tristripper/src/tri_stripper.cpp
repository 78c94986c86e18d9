#include "tri_stripper.h"

#include "platform/hugepages.h"
#include "platform/processors.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <thread>

namespace tristripper {

namespace detail {

void fail_check(const char *text)
{
    throw check_failure(text);
}

} // namespace detail

namespace {

std::size_t checked_triangles(std::size_t Triangles)
{
    constexpr std::size_t max_triangles = std::numeric_limits<std::uint32_t>::max() / 3;
    if (Triangles > max_triangles)
        throw std::length_error("tri_stripper: too many triangles");
    return Triangles;
}

} // namespace

tri_stripper::tri_stripper(const index_list &TriIndices, unsigned Threads)
    : m_Triangles(checked_triangles(TriIndices.size() / 3),
                  detail::chunk_count(TriIndices.size() / 3, Threads))
    , m_Threads(Threads)
{
    detail::build_connectivity_graph(m_Triangles, TriIndices, m_VertexValues, Threads);
}

tri_stripper::tri_stripper(const std::vector<std::uint32_t> &TriIndices, unsigned Threads)
    : m_Triangles(checked_triangles(TriIndices.size() / 3),
                  detail::chunk_count(TriIndices.size() / 3, Threads))
    , m_Threads(Threads)
{
    detail::build_connectivity_graph(m_Triangles, TriIndices, m_VertexValues, Threads);
}

tri_stripper::tri_stripper(const void *Records, std::size_t TriangleCount, std::size_t Stride,
                           unsigned Threads)
    : m_Triangles(checked_triangles(TriangleCount), detail::chunk_count(TriangleCount, Threads))
    , m_Threads(Threads)
{
    detail::build_connectivity_graph(m_Triangles, Records, Stride, m_VertexValues, Threads);
}

void tri_stripper::strip(primitive_vector *out_pPrimitivesVector)
{
    TRISTRIPPER_CHECK(out_pPrimitivesVector, "out_pPrimitivesVector");
    out_pPrimitivesVector->clear();
    run();
    primitive_vector Primitives;
    Primitives.reserve(m_Result.strip_ends.size() + 1);
    std::size_t Begin = 0;
    for (std::uint32_t End : m_Result.strip_ends) {
        Primitives.push_back(primitive{{}, triangle_strip});
        index_list &Indices = Primitives.back().indices;
        Indices.reserve(End - Begin);
        for (; Begin < End; ++Begin)
            Indices.push_back(vertex_value(m_Result.strip_indices[Begin]));
    }
    if (!m_Result.list_indices.empty()) {
        Primitives.push_back(primitive{{}, triangle_list});
        index_list &Indices = Primitives.back().indices;
        Indices.reserve(m_Result.list_indices.size());
        for (std::uint32_t v : m_Result.list_indices)
            Indices.push_back(vertex_value(v));
    }
    m_Result = flat_primitives();
    Primitives.swap(*out_pPrimitivesVector);
}

void tri_stripper::strip(flat_primitives *out)
{
    TRISTRIPPER_CHECK(out, "out");
    // The distinct indices are known since the graph was built: refuse before any work is done.
    if (!m_VertexValues.empty() && m_VertexValues.back() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("tri_stripper: an index beyond 32 bits");
    run();
    if (!m_VertexValues.empty()) {
        for (std::uint32_t &v : m_Result.strip_indices)
            v = static_cast<std::uint32_t>(m_VertexValues[v]);
        for (std::uint32_t &v : m_Result.list_indices)
            v = static_cast<std::uint32_t>(m_VertexValues[v]);
    }
    *out = std::move(m_Result);
    m_Result = flat_primitives();
}

void tri_stripper::run()
{
    if (!m_FirstRun)
        reset();
    m_Result = flat_primitives();
    // note: every strip holds at least min_strip_length triangles, so its indices are at most
    // twice its triangles; with this room the lists never move while they grow, and pages of the
    // room left unused are never touched.
    m_Result.strip_indices.reserve(2 * m_Triangles.size());
    platform::adviseHugePages(m_Result.strip_indices.data(),
                              m_Result.strip_indices.capacity() * sizeof(std::uint32_t));
    m_Result.strip_ends.reserve(m_Triangles.size() / min_strip_length + 1);

    build_heap();
    {
        // Ends the worker also when an exception leaves the strip run.
        struct worker_guard
        {
            detail::deferred_heap &Heap;
            ~worker_guard() { Heap.clear(); }
        } Guard{m_TriHeap};
        if (use_worker())
            m_TriHeap.start_worker();
        strip_all();
        m_TriHeap.stop_worker();
    }
    collect_leftovers();
    m_FirstRun = false;
}

void tri_stripper::reset()
{
    m_Triangles.unmark_all();
    reset_strip_ids();
    m_Cache.reset();
    m_TriHeap.clear();
    m_Candidates.clear();
    m_StripId = 0;
}

void tri_stripper::reset_strip_ids()
{
    for (auto &Node : m_Triangles)
        Node->strip_id = 0;
}

void tri_stripper::build_heap()
{
    m_TriHeap.reserve(m_Triangles.size());
    for (auto &Node : m_Triangles) {
        Node.set_degree(Node.out_count());
        Node.set_queued(true);
        m_TriHeap.push(Node.out_count());
    }
    m_TriHeap.lock();
}

bool tri_stripper::use_worker() const
{
    // note: a switch for the benchmarks, which time the same program with and without the worker.
    const char *Setting = std::getenv("QUARN_STRIP_HEAP_WORKER");
    if (Setting && std::strcmp(Setting, "0") == 0)
        return false;
    // note: below this size a second thread costs more than the heap work it takes over.
    constexpr std::size_t worker_threshold = 1 << 14;
    if (m_Threads == 0)
        return m_Triangles.size() >= worker_threshold && platform::usableProcessors() > 1;
    return m_Threads > 1;
}

void tri_stripper::strip_all()
{
    for (;;) {
        m_TriHeap.sync();
        while (!m_TriHeap.empty() && m_TriHeap.top() == 0) {
            m_Triangles[m_TriHeap.id_at(0)].set_queued(false);
            m_TriHeap.pop();
        }
        if (m_TriHeap.empty())
            break;
        const node_id Start = m_TriHeap.id_at(0);
        m_Candidates.push_back(Start);

        while (!m_Candidates.empty()) {
            const strip_run Run = best_strip();
            if (Run.m_Length >= min_strip_length)
                emit_strip(Run);
        }

        dequeue(Start);
    }
}

tri_stripper::strip_run tri_stripper::best_strip()
{
    const vertex_cache Saved = m_Cache;
    strip_choice Choice;

    // Every candidate on the stack is consumed, chosen or not.
    while (!m_Candidates.empty()) {
        const node_id Candidate = m_Candidates.back();
        m_Candidates.pop_back();
        const auto &Node = m_Triangles[Candidate];
        if (Node.marked() || Node.degree() == 0)
            continue;

        for (std::uint32_t Rotation = 0; Rotation < 3; ++Rotation) {
            const strip_run Run = grow_forward(Candidate, Rotation);
            Choice.offer(Run, Node.degree(), m_Cache.m_Hits);
            m_Cache = Saved;
        }
    }
    return Choice.m_Best;
}

void tri_stripper::strip_choice::offer(const strip_run &Run, key_type Degree, std::uint32_t Hits)
{
    if (Run.m_Length < min_strip_length)
        return;
    if (Hits > m_Hits) {
        m_Best = Run;
        m_Degree = Degree;
        m_Hits = Hits;
    } else if (Hits == m_Hits) {
        if (m_Best.m_Length != 0 && Degree < m_Degree) {
            m_Best = Run;
            m_Degree = Degree;
        } else if (Run.m_Length > m_Best.m_Length) {
            m_Best = Run;
            m_Degree = Degree;
        }
    }
}

// The corners of a triangle in a rotation: the first two form its entering edge, the last two its
// leaving edge.
static inline void rotated_corners(const detail::strip_triangle &t, std::uint32_t Rotation,
                                   std::uint32_t (&v)[3])
{
    switch (Rotation) {
    case 0:
        v[0] = t.a, v[1] = t.b, v[2] = t.c;
        return;
    case 1:
        v[0] = t.b, v[1] = t.c, v[2] = t.a;
        return;
    case 2:
        v[0] = t.c, v[1] = t.a, v[2] = t.b;
        return;
    default:
        TRISTRIPPER_CHECK(false, "false");
    }
}

// Finds the first free neighbour of Current, in arc order, that runs Edge backwards, and moves Edge
// on to that triangle's leaving edge. The corner order of the new triangle follows from the parity:
// an even triangle's successor is left through (new corner, Edge.m_Second), an odd one's through
// (Edge.m_First, new corner).
template <bool Trial>
inline tri_stripper::node_id tri_stripper::next_neighbour(node_id Current, leaving_edge &Edge, bool Odd,
                                                          std::uint32_t &Vertex) const
{
    const auto &Node = m_Triangles[Current];
    const std::uint32_t p = Edge.m_Second;
    const std::uint32_t q = Edge.m_First;
    // note: Edge is always an edge of Current, and a neighbour runs it backwards exactly when the
    // arc's mask holds that edge, so the neighbours across the other edges are passed over without
    // a read of their (scattered) nodes.
    const std::uint32_t Leaving = detail::triangle_graph::edges_between(*Node, q, p);
    std::uint32_t k = 0;
    for (auto Link = m_Triangles.out_begin(Node); Link != m_Triangles.out_end(Node); ++Link, ++k) {
        if ((m_Triangles.shared_edges(Node, k) & Leaving) == 0)
            continue;
        const auto &Target = m_Triangles[Link->target()];
        if (Target.marked())
            continue;
        if (Trial && Target->strip_id == m_StripId)
            continue;
        // The corner pairs ab, bc, ca are tested in this order; a degenerate triangle may hold
        // the edge twice, and the first pair wins.
        const detail::strip_triangle &t = *Target;
        const bool AtAB = (t.a == p) & (t.b == q);
        const bool AtBC = (t.b == p) & (t.c == q);
        Vertex = AtAB ? t.c : (AtBC ? t.a : t.b);
        Edge = Odd ? leaving_edge{q, Vertex} : leaving_edge{Vertex, p};
        return Link->target();
    }
    return no_node;
}

void tri_stripper::next_strip_counter()
{
    // note: trial numbers only need to differ from those still stored; after a wrap, clearing
    // every stored number keeps that true.
    if (m_StripId == std::numeric_limits<std::uint32_t>::max()) {
        reset_strip_ids();
        m_StripId = 0;
    }
    ++m_StripId;
}

void tri_stripper::prefetch_neighbours(const detail::triangle_graph::node &Node) const
{
    // note: a trial strip goes on to one of these next; asking for them all now overlaps that
    // scattered read with the rest of this step.
    for (auto Link = m_Triangles.out_begin(Node); Link != m_Triangles.out_end(Node); ++Link)
        __builtin_prefetch(&m_Triangles[Link->target()]);
}

tri_stripper::strip_run tri_stripper::grow_forward(node_id Start, std::uint32_t Rotation)
{
    next_strip_counter();
    auto &StartNode = m_Triangles[Start];
    StartNode->strip_id = m_StripId;

    std::uint32_t v[3];
    rotated_corners(*StartNode, Rotation, v);
    simulate_emit(v[0]);
    simulate_emit(v[1]);
    simulate_emit(v[2]);

    std::uint32_t Length = 1;
    bool Odd = false;
    node_id Current = Start;
    leaving_edge Edge{v[1], v[2]};
    std::uint32_t Vertex = 0;
    while (Length + 2 < cache_size) {
        Current = next_neighbour<true>(Current, Edge, Odd, Vertex);
        if (Current == no_node)
            break;
        prefetch_neighbours(m_Triangles[Current]);
        m_Triangles[Current]->strip_id = m_StripId;
        simulate_emit(Vertex);
        Odd = !Odd;
        ++Length;
    }
    return {Start, Rotation, Length};
}

void tri_stripper::emit_strip(const strip_run &Run)
{
    std::uint32_t v[3];
    rotated_corners(*m_Triangles[Run.m_Start], Run.m_Rotation, v);
    emit_vertex(v[0]);
    emit_vertex(v[1]);
    emit_vertex(v[2]);
    take_triangle(Run.m_Start);

    bool Odd = false;
    node_id Current = Run.m_Start;
    leaving_edge Edge{v[1], v[2]};
    std::uint32_t Vertex = 0;
    for (std::uint32_t k = 1; k < Run.m_Length; ++k) {
        Current = next_neighbour<false>(Current, Edge, Odd, Vertex);
        TRISTRIPPER_CHECK(Current != no_node, "Link != Node->out_end()");
        emit_vertex(Vertex);
        take_triangle(Current);
        Odd = !Odd;
    }
    m_Result.strip_ends.push_back(static_cast<std::uint32_t>(m_Result.strip_indices.size()));
}

void tri_stripper::dequeue(node_id i)
{
    auto &Node = m_Triangles[i];
    if (!Node.queued())
        return;
    Node.set_queued(false);
    m_TriHeap.erase(i);
}

void tri_stripper::take_triangle(node_id i)
{
    auto &Node = m_Triangles[i];
    Node.mark();
    dequeue(i);

    for (auto Link = m_Triangles.out_begin(Node); Link != m_Triangles.out_end(Node); ++Link) {
        const node_id j = Link->target();
        auto &Neighbour = m_Triangles[j];
        if (Neighbour.marked() || !Neighbour.queued())
            continue;
        const key_type Degree = Neighbour.degree() - 1;
        Neighbour.set_degree(Degree);
        m_TriHeap.update(j, Degree);
        if (Degree > 0)
            m_Candidates.push_back(j);
    }
}

void tri_stripper::collect_leftovers()
{
    std::size_t Count = 0;
    for (const auto &Node : m_Triangles)
        Count += Node.marked() ? 0 : 1;
    if (Count == 0)
        return;

    std::vector<std::uint32_t> &Indices = m_Result.list_indices;
    Indices.reserve(3 * Count);
    for (const auto &Node : m_Triangles) {
        if (Node.marked())
            continue;
        Indices.push_back(Node->a);
        Indices.push_back(Node->b);
        Indices.push_back(Node->c);
    }
}

void tri_stripper::emit_vertex(std::uint32_t v)
{
    m_Cache.push_front(v);
    m_Result.strip_indices.push_back(v);
}

void tri_stripper::vertex_cache::reset()
{
    m_Slots.fill(no_vertex);
    m_Front = 0;
    m_Hits = 0;
}

} // namespace tristripper
