#pragma once

#include <QVector>
#include <cstddef>

namespace geom {

// The size of a huge page on the platforms that have them.
constexpr size_t HugePageSize = size_t(2) << 20;

// Offers the whole huge pages that lie in [data, data + bytes) to the kernel, so that the first
// touch of each brings in 2 MiB at once, not 512 pages of 4 KiB one fault at a time. A hint
// only, which changes no data, for arrays of several MiB that are about to be filled; nothing
// happens where the platform has no such pages or the range holds no whole one.
void adviseHugePages(const void *data, size_t bytes);

// The same for the room a vector holds, its unused capacity included: called after a reserve.
template <typename T>
void adviseHugePages(const QVector<T> &vector)
{
    adviseHugePages(vector.constData(), size_t(vector.capacity()) * sizeof(T));
}

} // namespace geom
