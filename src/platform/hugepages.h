#pragma once

#include <cstddef>

namespace platform {

// The size of a huge page on the platforms that have them.
constexpr std::size_t HugePageSize = std::size_t(2) << 20;

// Offers the whole huge pages that lie in [data, data + bytes) to the kernel, so that the first
// touch of each brings in 2 MiB at once, not 512 pages of 4 KiB one fault at a time. A hint
// only, which changes no data, for arrays of several MiB that are about to be filled; nothing
// happens where the platform has no such pages or the range holds no whole one. A refusal only
// costs speed.
void adviseHugePages(const void *data, std::size_t bytes);

} // namespace platform
