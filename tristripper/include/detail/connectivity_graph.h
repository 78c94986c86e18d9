#pragma once

#include "detail/triangle_graph.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tristripper {
namespace detail {

// Fills the graph, which must hold one node per whole triangle of Indices (three indices per
// triangle, extra indices ignored) and no arcs: node i gets triangle i and an arc to every
// triangle that runs one of its edges in the opposite direction, in the order of its edges ab,
// bc, ca and, within one edge, in input order of the other triangles. The corners are stored as
// the indices themselves when they are small enough for a compact table; otherwise as their ranks
// among the distinct indices, and VertexValues receives the distinct indices in ascending order
// (it is left empty in the first case). Chunks is the number of threads that share the work, 0 for
// a choice by size and machine; the graph is the same for every value. Throws std::bad_alloc or
// std::length_error; check_failure when the node count does not match.
void build_connectivity_graph(triangle_graph &Triangles, const std::vector<std::uint64_t> &Indices,
                              std::vector<std::uint64_t> &VertexValues, unsigned Chunks = 0);
void build_connectivity_graph(triangle_graph &Triangles, const std::vector<std::uint32_t> &Indices,
                              std::vector<std::uint64_t> &VertexValues, unsigned Chunks = 0);
// The same for triangle i's corners read as the first three 32-bit unsigned values of record i in
// an array of records Stride bytes apart, one record per node of the graph.
void build_connectivity_graph(triangle_graph &Triangles, const void *Records, std::size_t Stride,
                              std::vector<std::uint64_t> &VertexValues, unsigned Chunks = 0);

} // namespace detail
} // namespace tristripper
