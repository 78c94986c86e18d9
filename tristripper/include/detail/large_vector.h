#pragma once

#include "platform/hugepages.h"
#include "platform/largeblock.h"

#include <vector>

namespace tristripper {
namespace detail {

// A vector of the stripper's large arrays, whose nodes, arcs and heap entries are reached in an
// order spread over the whole mesh.
// note: a block below four huge pages is too small to round up to whole huge pages without
// waste, but the whole huge pages inside it can still be had.
template <class T>
using large_vector = std::vector<T, platform::LargeBlockAllocator<T, 4 * platform::HugePageSize>>;

} // namespace detail
} // namespace tristripper
