#pragma once

#include "detail/check.h"
#include "detail/chunks.h"
#include "detail/large_vector.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

namespace tristripper {
namespace detail {

// The element of every node of the stripper's graph: one triangle.
struct strip_triangle
{
    // Corners in input order, as compact vertex numbers (see build_connectivity_graph).
    std::uint32_t a;
    std::uint32_t b;
    std::uint32_t c;
    // The number of the last trial strip that reached the triangle; 0 after building.
    std::uint32_t strip_id;
};

// The stripper's directed graph over a fixed number of triangles: each node carries its triangle,
// a mark and its outgoing arcs in a fixed order, and each arc knows which edges of its initial
// triangle the terminal one runs backwards. Node numbers and the arcs of the whole graph are
// 32-bit; beyond that std::length_error.
class triangle_graph
{
    static constexpr std::uint32_t inline_arcs = 3;
    // The flags word of a node: the mark, whether its arcs live in the overflow vectors, whether it
    // is queued in the stripper's heap, and for a node whose arcs live inside it their count, their
    // edge masks and its degree.
    static constexpr std::uint32_t mark_bit = 0x80000000u;
    static constexpr std::uint32_t spilled_bit = 0x40000000u;
    static constexpr std::uint32_t count_bits = 0x3u;
    static constexpr unsigned mask_shift = 2;
    static constexpr unsigned mask_width = 3;
    static constexpr unsigned degree_shift = mask_shift + 3 * mask_width;
    static constexpr std::uint32_t degree_bits = 0x3u << degree_shift;
    static constexpr std::uint32_t queued_bit = 0x20000000u;

public:
    using node_id = std::uint32_t;

    // An outgoing arc; it knows only its terminal node.
    class arc
    {
    public:
        arc() = default;
        explicit arc(node_id Terminal)
            : m_Target(Terminal)
        {}
        node_id target() const { return m_Target; }

    private:
        node_id m_Target;
    };

    class node
    {
    public:
        std::uint32_t out_count() const { return spilled() ? m_Arcs[1].target() : m_Flags & count_bits; }
        void mark() { m_Flags |= mark_bit; }
        void unmark() { m_Flags &= ~mark_bit; }
        bool marked() const { return (m_Flags & mark_bit) != 0; }
        // The stripper's count of free neighbours, at most out_count(), and whether the node is
        // in its heap; kept here so that a look at a neighbour reads one place.
        std::uint32_t degree() const
        {
            return spilled() ? m_Arcs[2].target() : (m_Flags & degree_bits) >> degree_shift;
        }
        void set_degree(std::uint32_t Degree)
        {
            TRISTRIPPER_CHECK(Degree <= out_count(), "Degree <= out_count()");
            if (spilled())
                m_Arcs[2] = arc(Degree);
            else
                m_Flags = (m_Flags & ~degree_bits) | Degree << degree_shift;
        }
        bool queued() const { return (m_Flags & queued_bit) != 0; }
        void set_queued(bool Queued) { m_Flags = Queued ? m_Flags | queued_bit : m_Flags & ~queued_bit; }
        strip_triangle &operator*() { return m_Elem; }
        const strip_triangle &operator*() const { return m_Elem; }
        strip_triangle *operator->() { return &m_Elem; }
        const strip_triangle *operator->() const { return &m_Elem; }

    private:
        friend class triangle_graph;
        bool spilled() const { return (m_Flags & spilled_bit) != 0; }

        strip_triangle m_Elem;
        // The arcs themselves, or for a node with more than inline_arcs arcs the position of its
        // run in the overflow vectors, its arc count and its degree (as the three targets).
        arc m_Arcs[inline_arcs];
        std::uint32_t m_Flags;
    };

    using out_arc_iterator = const arc *;

    // A graph of nb_nodes nodes with zero elements, unmarked, without arcs; set_count and
    // place_arcs give them room for arcs, set_target fills it. The nodes are set in Chunks parts
    // on threads of their own.
    explicit triangle_graph(std::size_t nb_nodes, unsigned Chunks = 1)
        : m_Nodes(checked_node_count(nb_nodes))
    {
        // note: the node array is the largest block of the stripper; its pages are first
        // written (and so handed out and cleared by the system) on several threads at once.
        run_chunks(Chunks, [this, Chunks](unsigned Chunk) {
            const std::size_t n = m_Nodes.size();
            for (std::size_t i = chunk_begin(Chunk, Chunks, n); i < chunk_begin(Chunk + 1, Chunks, n); ++i)
                m_Nodes[i] = node();
        });
    }

    std::size_t size() const { return m_Nodes.size(); }
    node *begin() { return m_Nodes.data(); }
    node *end() { return m_Nodes.data() + m_Nodes.size(); }
    const node *begin() const { return m_Nodes.data(); }
    const node *end() const { return m_Nodes.data() + m_Nodes.size(); }

    node &operator[](std::size_t i)
    {
        TRISTRIPPER_CHECK(i < size(), "i < size()");
        return m_Nodes[i];
    }
    const node &operator[](std::size_t i) const
    {
        TRISTRIPPER_CHECK(i < size(), "i < size()");
        return m_Nodes[i];
    }

    std::size_t arc_count() const { return m_ArcCount; }

    // Gives node i of a graph without arcs room for Count arcs; place_arcs must follow once every
    // node has its count. Different nodes may be set from different threads.
    void set_count(std::size_t i, std::uint32_t Count)
    {
        TRISTRIPPER_CHECK(i < size(), "i < size()");
        TRISTRIPPER_CHECK(!m_Placed, "! m_Placed");
        node &Node = m_Nodes[i];
        for (arc &Arc : Node.m_Arcs)
            Arc = arc(0);
        Node.m_Flags &= mark_bit;
        if (Count > inline_arcs) {
            Node.m_Flags |= spilled_bit;
            Node.m_Arcs[1] = arc(Count);
        } else {
            Node.m_Flags |= Count;
        }
    }

    // Finds room for the arcs of every node with more than fit inside it, all to node 0 until
    // set_target. Throws std::length_error when the graph would hold 2^32 arcs or more.
    void place_arcs()
    {
        TRISTRIPPER_CHECK(!m_Placed, "! m_Placed");
        std::uint64_t Total = 0;
        std::uint64_t Spilled = 0;
        for (const node &Node : m_Nodes) {
            Total += Node.out_count();
            if (Node.spilled())
                Spilled += Node.out_count();
        }
        if (Total > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error("triangle_graph: too many arcs");
        m_Overflow.assign(Spilled, arc(0));
        m_OverflowMasks.assign(Spilled, 0);
        std::uint32_t Position = 0;
        for (node &Node : m_Nodes) {
            if (Node.spilled()) {
                Node.m_Arcs[0] = arc(Position);
                Position += Node.out_count();
            }
        }
        m_ArcCount = Total;
        m_Placed = true;
    }

    // Points arc k of node Initial to node Terminal, whose corners must be set, as must those of
    // Initial. Different nodes may be set from different threads.
    void set_target(std::size_t Initial, std::uint32_t k, std::size_t Terminal)
    {
        TRISTRIPPER_CHECK(Initial < size(), "Initial < size()");
        TRISTRIPPER_CHECK(Terminal < size(), "Terminal < size()");
        TRISTRIPPER_CHECK(m_Placed, "m_Placed");
        node &Node = m_Nodes[Initial];
        TRISTRIPPER_CHECK(k < Node.out_count(), "k < out_count()");
        const std::uint32_t Mask = reversed_edges(*Node, *m_Nodes[Terminal]);
        if (Node.spilled()) {
            const std::size_t Position = std::size_t(Node.m_Arcs[0].target()) + k;
            m_Overflow[Position] = arc(static_cast<node_id>(Terminal));
            m_OverflowMasks[Position] = static_cast<unsigned char>(Mask);
        } else {
            Node.m_Arcs[k] = arc(static_cast<node_id>(Terminal));
            const unsigned Shift = mask_shift + mask_width * k;
            Node.m_Flags = (Node.m_Flags & ~(edge_mask_bits << Shift)) | (Mask << Shift);
        }
    }

    // note: a closed surface gives every node exactly three arcs; keeping them inside the node
    // means that following an arc during stripping touches one cache line, not two.
    out_arc_iterator out_begin(const node &Node) const
    {
        return Node.spilled() ? m_Overflow.data() + Node.m_Arcs[0].target() : Node.m_Arcs;
    }
    out_arc_iterator out_end(const node &Node) const { return out_begin(Node) + Node.out_count(); }

    // The edges of Node's triangle, as bits 1 (ab), 2 (bc) and 4 (ca), that the terminal triangle
    // of arc k runs backwards. Tells without a look at that triangle whether it lies across a
    // given edge.
    std::uint32_t shared_edges(const node &Node, std::uint32_t k) const
    {
        if (Node.spilled())
            return m_OverflowMasks[std::size_t(Node.m_Arcs[0].target()) + k];
        return (Node.m_Flags >> (mask_shift + mask_width * k)) & edge_mask_bits;
    }

    // The edges of t, as bits 1 (ab), 2 (bc) and 4 (ca), that run from First to Second.
    static std::uint32_t edges_between(const strip_triangle &t, std::uint32_t First, std::uint32_t Second)
    {
        return std::uint32_t((t.a == First) & (t.b == Second)) |
               std::uint32_t((t.b == First) & (t.c == Second)) << 1 |
               std::uint32_t((t.c == First) & (t.a == Second)) << 2;
    }

    void unmark_all()
    {
        for (node &Node : m_Nodes)
            Node.unmark();
    }

private:
    static constexpr std::uint32_t edge_mask_bits = (1u << mask_width) - 1;

    // The edges of t that u runs backwards.
    static std::uint32_t reversed_edges(const strip_triangle &t, const strip_triangle &u)
    {
        const auto Runs = [&u](std::uint32_t First, std::uint32_t Second) {
            return edges_between(u, First, Second) != 0;
        };
        return std::uint32_t(Runs(t.b, t.a)) | std::uint32_t(Runs(t.c, t.b)) << 1 |
               std::uint32_t(Runs(t.a, t.c)) << 2;
    }

    static std::size_t checked_node_count(std::size_t nb_nodes)
    {
        if (nb_nodes > std::numeric_limits<node_id>::max())
            throw std::length_error("triangle_graph: too many nodes");
        return nb_nodes;
    }

    large_vector<node> m_Nodes;
    large_vector<arc> m_Overflow;
    large_vector<unsigned char> m_OverflowMasks;
    std::size_t m_ArcCount = 0;
    bool m_Placed = false;
};

} // namespace detail
} // namespace tristripper
