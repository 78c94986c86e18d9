#pragma once

#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace tristripper {
namespace detail {

// The processors this process may run on (at least 1): fewer than the machine has when the
// process is pinned to some of them.
inline unsigned usable_processors()
{
#if defined(__linux__)
    cpu_set_t Set;
    CPU_ZERO(&Set);
    if (sched_getaffinity(0, sizeof Set, &Set) == 0 && CPU_COUNT(&Set) > 0)
        return unsigned(CPU_COUNT(&Set));
#endif
    const unsigned Count = std::thread::hardware_concurrency();
    return Count == 0 ? 1 : Count;
}

} // namespace detail
} // namespace tristripper
