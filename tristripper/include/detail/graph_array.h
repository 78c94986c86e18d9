#pragma once

#include "detail/check.h"
#include "detail/large_allocator.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

namespace tristripper {
namespace detail {

// A directed graph over a fixed number of nodes. Each node carries one element, a mark and a
// contiguous run of outgoing arcs in the arc vector shared by the whole graph, so all arcs of a
// node must be added one after the other, before any arc of a later node. Node numbers and arc
// positions are 32-bit; exceeding them throws std::length_error.
template <class nodetype>
class graph_array
{
public:
    using node_id = std::uint32_t;

    // An outgoing arc; it knows only its terminal node.
    class arc
    {
    public:
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
        std::uint32_t out_count() const { return m_End - m_Begin; }
        void mark() { m_Mark = true; }
        void unmark() { m_Mark = false; }
        bool marked() const { return m_Mark; }
        nodetype &operator*() { return m_Elem; }
        const nodetype &operator*() const { return m_Elem; }
        nodetype *operator->() { return &m_Elem; }
        const nodetype *operator->() const { return &m_Elem; }

    private:
        friend class graph_array;
        // note: a node without arcs has m_Begin == m_End; both 0 keeps its (empty) arc range
        // inside the arc vector.
        std::uint32_t m_Begin = 0;
        std::uint32_t m_End = 0;
        nodetype m_Elem{};
        bool m_Mark = false;
    };

    using out_arc_iterator = const arc *;

    // A graph of nb_nodes nodes with default elements, unmarked, without arcs.
    explicit graph_array(std::size_t nb_nodes)
        : m_Nodes(checked_node_count(nb_nodes))
    {}

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

    std::size_t arc_count() const { return m_Arcs.size(); }

    // Appends an arc from node Initial to node Terminal; Initial must be the node that received
    // the last arc or a node without arcs yet.
    const arc &add_arc(std::size_t Initial, std::size_t Terminal)
    {
        TRISTRIPPER_CHECK(Initial < size(), "Initial < size()");
        TRISTRIPPER_CHECK(Terminal < size(), "Terminal < size()");
        if (m_Arcs.size() >= std::numeric_limits<std::uint32_t>::max())
            throw std::length_error("graph_array::add_arc");
        node &Node = m_Nodes[Initial];
        const auto Position = static_cast<std::uint32_t>(m_Arcs.size());
        if (Node.m_Begin == Node.m_End) {
            Node.m_Begin = Position;
            Node.m_End = Position + 1;
        } else {
            TRISTRIPPER_CHECK(Node.m_End == m_Arcs.size(), "Node.m_End == m_Arcs.size()");
            ++Node.m_End;
        }
        m_Arcs.emplace_back(static_cast<node_id>(Terminal));
        return m_Arcs.back();
    }

    // Gives every node of a graph without arcs its run at once: node i gets the arcs from
    // Offsets[i] to Offsets[i + 1], which must not decrease, all to node 0 until set_target.
    void set_runs(const std::vector<std::uint32_t> &Offsets)
    {
        TRISTRIPPER_CHECK(Offsets.size() == size() + 1, "Offsets.size() == size() + 1");
        TRISTRIPPER_CHECK(m_Arcs.empty(), "m_Arcs.empty()");
        for (std::size_t i = 0; i < size(); ++i) {
            TRISTRIPPER_CHECK(Offsets[i] <= Offsets[i + 1], "Offsets[i] <= Offsets[i + 1]");
            m_Nodes[i].m_Begin = Offsets[i];
            m_Nodes[i].m_End = Offsets[i + 1];
        }
        m_Arcs.assign(Offsets.back(), arc(0));
    }

    // Points the arc at Position of the arc vector to node Terminal. Different positions may be
    // set from different threads.
    void set_target(std::size_t Position, std::size_t Terminal)
    {
        TRISTRIPPER_CHECK(Position < m_Arcs.size(), "Position < m_Arcs.size()");
        TRISTRIPPER_CHECK(Terminal < size(), "Terminal < size()");
        m_Arcs[Position] = arc(static_cast<node_id>(Terminal));
    }

    out_arc_iterator out_begin(const node &Node) const { return m_Arcs.data() + Node.m_Begin; }
    out_arc_iterator out_end(const node &Node) const { return m_Arcs.data() + Node.m_End; }

    void unmark_all()
    {
        for (node &Node : m_Nodes)
            Node.unmark();
    }

private:
    static std::size_t checked_node_count(std::size_t nb_nodes)
    {
        if (nb_nodes > std::numeric_limits<node_id>::max())
            throw std::length_error("graph_array: too many nodes");
        return nb_nodes;
    }

    large_vector<node> m_Nodes;
    large_vector<arc> m_Arcs;
};

} // namespace detail
} // namespace tristripper
