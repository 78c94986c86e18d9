#include "platform/hugepages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace platform {

void adviseHugePages(const void *data, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (!data || bytes < HugePageSize)
        return;
    // note: only the whole huge pages inside the block are advised, none that it shares with
    // the blocks around it. The advice stays with the addresses when the block is freed, which
    // only changes how a later block there is brought in.
    const std::uintptr_t begin =
        (std::uintptr_t(data) + HugePageSize - 1) & ~std::uintptr_t(HugePageSize - 1);
    const std::uintptr_t end = (std::uintptr_t(data) + bytes) & ~std::uintptr_t(HugePageSize - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

} // namespace platform
