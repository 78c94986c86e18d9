#include "detail/connectivity_graph.h"

#include "detail/chunks.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace tristripper {
namespace detail {
namespace {

// Edge table positions are 32-bit: three directed edges per triangle must fit.
constexpr std::size_t max_triangles = std::numeric_limits<std::uint32_t>::max() / 3;
// How far the largest index may exceed the number of indices before the corners are stored as
// ranks: the edge table keeps one 32-bit position per possible vertex number.
constexpr std::uint64_t sparse_slack = 4096;
// Buckets up to this size stay in input order and are searched from end to end; larger ones (the
// vertices of big fans) are sorted by second vertex and searched by halving.
constexpr std::size_t linear_search_limit = 16;
// A directed edge of the table, as 3 * triangle + k for the edge that leaves corner k of the
// triangle (ab, bc, ca); its first vertex is the bucket it lies in.
// note: the second vertex is read from the triangle instead of being stored beside it, which halves
// the table, the largest block of memory while the graph is built; the triangles of one bucket are
// those around one vertex, and those of the buckets that a run of triangles asks for lie close
// together, so the reads mostly hit the cache.
using edge_entry = std::uint32_t;

// The directed edges grouped by first vertex, in input order within each bucket; large buckets
// sorted stably by second vertex. Either way the edges of one key come in the order a stable sort
// of all edges by (first, second) gives them. Bucket v ends at End[v] and starts where bucket
// v - 1 ends.
struct edge_table
{
    const triangle_graph &Triangles;
    large_vector<std::uint32_t> End;
    large_vector<edge_entry> Edges;

    edge_table(const triangle_graph &Triangles, std::uint32_t VertexCount, unsigned Chunks);

    std::uint32_t second(edge_entry e) const
    {
        const strip_triangle &t = *Triangles.begin()[e / 3];
        const std::uint32_t k = e % 3;
        return k == 0 ? t.b : (k == 1 ? t.c : t.a);
    }

    // Calls Visit(triangle) for every edge from First to Second, in input order.
    template <class VisitT>
    void for_each(std::uint32_t First, std::uint32_t Second, VisitT Visit) const
    {
        const edge_entry *Begin = Edges.data() + (First == 0 ? 0 : End[First - 1]);
        const edge_entry *Last = Edges.data() + End[First];
        if (std::size_t(Last - Begin) <= linear_search_limit) {
            for (const edge_entry *e = Begin; e != Last; ++e) {
                if (second(*e) == Second)
                    Visit(*e / 3);
            }
            return;
        }
        const auto BySecond = [this](edge_entry e, std::uint32_t s) { return second(e) < s; };
        for (const edge_entry *e = std::lower_bound(Begin, Last, Second, BySecond);
             e != Last && second(*e) == Second; ++e)
            Visit(*e / 3);
    }
};

// Each chunk owns a range of vertices: it reads every triangle, and counts and files only the
// edges that start at its own vertices, in input order. No bucket is shared, so no chunk needs
// counters of its own per vertex.
edge_table::edge_table(const triangle_graph &Graph, std::uint32_t VertexCount, unsigned Chunks)
    : Triangles(Graph)
    , End(VertexCount, 0)
{
    const std::size_t n = Graph.size();
    const std::size_t V = VertexCount;
    // Visit(first, entry) for every edge of the chunk's vertices, in input order.
    const auto ForOwnEdges = [&Graph, n, V, Chunks](unsigned Chunk, auto Visit) {
        const std::size_t From = chunk_begin(Chunk, Chunks, V);
        const std::size_t To = chunk_begin(Chunk + 1, Chunks, V);
        for (std::size_t i = 0; i < n; ++i) {
            const strip_triangle &t = *Graph[i];
            const auto Entry = static_cast<edge_entry>(3 * i);
            if (t.a >= From && t.a < To)
                Visit(t.a, Entry);
            if (t.b >= From && t.b < To)
                Visit(t.b, Entry + 1);
            if (t.c >= From && t.c < To)
                Visit(t.c, Entry + 2);
        }
    };
    run_chunks(Chunks, [&](unsigned Chunk) {
        ForOwnEdges(Chunk, [this](std::uint32_t First, edge_entry) { ++End[First]; });
    });
    // End[v] becomes where bucket v starts, then counts up to its end as the bucket fills.
    std::uint64_t Total = 0;
    for (std::uint32_t &Count : End) {
        const std::uint32_t Start = static_cast<std::uint32_t>(Total);
        Total += Count;
        Count = Start;
    }
    Edges.resize(Total);
    run_chunks(Chunks, [&](unsigned Chunk) {
        ForOwnEdges(Chunk, [this](std::uint32_t First, edge_entry Entry) { Edges[End[First]++] = Entry; });
    });

    run_chunks(Chunks, [&](unsigned Chunk) {
        const auto BySecond = [this](edge_entry x, edge_entry y) { return second(x) < second(y); };
        for (std::size_t v = chunk_begin(Chunk, Chunks, V); v < chunk_begin(Chunk + 1, Chunks, V); ++v) {
            edge_entry *Begin = Edges.data() + (v == 0 ? 0 : End[v - 1]);
            edge_entry *Last = Edges.data() + End[v];
            if (std::size_t(Last - Begin) > linear_search_limit)
                std::stable_sort(Begin, Last, BySecond);
        }
    });
}

// Corner k of triangle i of a flat list, three indices per triangle.
template <class IndexT>
struct list_corners
{
    const std::vector<IndexT> &Indices;
    std::uint64_t operator()(std::size_t i, unsigned k) const { return Indices[3 * i + k]; }
};

// Corner k of triangle i as the k-th 32-bit value of record i of an array of records.
struct record_corners
{
    const unsigned char *Records;
    std::size_t Stride;
    std::uint64_t operator()(std::size_t i, unsigned k) const
    {
        std::uint32_t Value;
        std::memcpy(&Value, Records + i * Stride + k * sizeof Value, sizeof Value);
        return Value;
    }
};

// Stores the corners of every triangle and returns the number of vertex numbers used.
template <class CornersT>
std::uint32_t set_corners(triangle_graph &Triangles, CornersT Corner,
                          std::vector<std::uint64_t> &VertexValues, unsigned Chunks)
{
    VertexValues.clear();
    const std::size_t n = Triangles.size();
    std::vector<std::uint64_t> ChunkLargest(Chunks, 0);
    run_chunks(Chunks, [&](unsigned Chunk) {
        std::uint64_t Largest = 0;
        for (std::size_t i = chunk_begin(Chunk, Chunks, n); i < chunk_begin(Chunk + 1, Chunks, n); ++i)
            Largest = std::max({Largest, Corner(i, 0), Corner(i, 1), Corner(i, 2)});
        ChunkLargest[Chunk] = Largest;
    });
    const std::uint64_t Largest = *std::max_element(ChunkLargest.begin(), ChunkLargest.end());

    if (n == 0 || (Largest < std::numeric_limits<std::uint32_t>::max() && Largest <= 3 * n + sparse_slack)) {
        run_chunks(Chunks, [&](unsigned Chunk) {
            for (std::size_t i = chunk_begin(Chunk, Chunks, n); i < chunk_begin(Chunk + 1, Chunks, n); ++i) {
                strip_triangle &t = *Triangles[i];
                t.a = static_cast<std::uint32_t>(Corner(i, 0));
                t.b = static_cast<std::uint32_t>(Corner(i, 1));
                t.c = static_cast<std::uint32_t>(Corner(i, 2));
                t.strip_id = 0;
            }
        });
        return n == 0 ? 0 : static_cast<std::uint32_t>(Largest + 1);
    }

    // Ranks keep the order of the indices, so the edge order and the result stay the same.
    VertexValues.reserve(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        for (unsigned k = 0; k < 3; ++k)
            VertexValues.push_back(Corner(i, k));
    }
    std::sort(VertexValues.begin(), VertexValues.end());
    VertexValues.erase(std::unique(VertexValues.begin(), VertexValues.end()), VertexValues.end());
    VertexValues.shrink_to_fit();
    const auto Rank = [&VertexValues](std::uint64_t v) {
        return static_cast<std::uint32_t>(std::lower_bound(VertexValues.begin(), VertexValues.end(), v) -
                                          VertexValues.begin());
    };
    for (std::size_t i = 0; i < n; ++i) {
        strip_triangle &t = *Triangles[i];
        t.a = Rank(Corner(i, 0));
        t.b = Rank(Corner(i, 1));
        t.c = Rank(Corner(i, 2));
        t.strip_id = 0;
    }
    return static_cast<std::uint32_t>(VertexValues.size());
}

// Calls Visit(j) for every triangle j that runs one of triangle t's edges backwards, in the order
// of t's edges ab, bc, ca and within one edge in input order.
template <class VisitT>
void for_each_neighbour(const edge_table &Table, const strip_triangle &t, VisitT Visit)
{
    Table.for_each(t.b, t.a, Visit);
    Table.for_each(t.c, t.b, Visit);
    Table.for_each(t.a, t.c, Visit);
}

template <class CornersT>
void build(triangle_graph &Triangles, CornersT Corners, std::vector<std::uint64_t> &VertexValues,
           unsigned Chunks)
{
    if (Triangles.size() > max_triangles)
        throw std::length_error("build_connectivity_graph: too many triangles");
    const std::size_t n = Triangles.size();
    Chunks = chunk_count(n, Chunks);

    const std::uint32_t VertexCount = set_corners(Triangles, Corners, VertexValues, Chunks);
    const edge_table Table(Triangles, VertexCount, Chunks);

    // The arcs are counted first, so that every node gets its room at once and the chunks can
    // fill their nodes side by side.
    run_chunks(Chunks, [&](unsigned Chunk) {
        for (std::size_t i = chunk_begin(Chunk, Chunks, n); i < chunk_begin(Chunk + 1, Chunks, n); ++i) {
            std::uint32_t Count = 0;
            for_each_neighbour(Table, *Triangles[i], [&Count](std::uint32_t) { ++Count; });
            Triangles.set_count(i, Count);
        }
    });
    Triangles.place_arcs();
    run_chunks(Chunks, [&](unsigned Chunk) {
        for (std::size_t i = chunk_begin(Chunk, Chunks, n); i < chunk_begin(Chunk + 1, Chunks, n); ++i) {
            std::uint32_t k = 0;
            for_each_neighbour(Table, *Triangles[i],
                               [&Triangles, i, &k](std::uint32_t j) { Triangles.set_target(i, k++, j); });
        }
    });
}

} // namespace

void build_connectivity_graph(triangle_graph &Triangles, const std::vector<std::uint64_t> &Indices,
                              std::vector<std::uint64_t> &VertexValues, unsigned Chunks)
{
    TRISTRIPPER_CHECK(Triangles.size() == (Indices.size() / 3), "Triangles.size() == (Indices.size() / 3)");
    build(Triangles, list_corners<std::uint64_t>{Indices}, VertexValues, Chunks);
}

void build_connectivity_graph(triangle_graph &Triangles, const std::vector<std::uint32_t> &Indices,
                              std::vector<std::uint64_t> &VertexValues, unsigned Chunks)
{
    TRISTRIPPER_CHECK(Triangles.size() == (Indices.size() / 3), "Triangles.size() == (Indices.size() / 3)");
    build(Triangles, list_corners<std::uint32_t>{Indices}, VertexValues, Chunks);
}

void build_connectivity_graph(triangle_graph &Triangles, const void *Records, std::size_t Stride,
                              std::vector<std::uint64_t> &VertexValues, unsigned Chunks)
{
    TRISTRIPPER_CHECK(Triangles.size() == 0 || Records, "Records");
    TRISTRIPPER_CHECK(Stride >= 3 * sizeof(std::uint32_t), "Stride >= 3 * sizeof(std::uint32_t)");
    build(Triangles, record_corners{static_cast<const unsigned char *>(Records), Stride}, VertexValues,
          Chunks);
}

} // namespace detail
} // namespace tristripper
