#include "platform/processors.h"

#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace platform {

unsigned usableProcessors()
{
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return unsigned(CPU_COUNT(&set));
#endif
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : count;
}

} // namespace platform
