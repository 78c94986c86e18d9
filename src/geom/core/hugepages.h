#pragma once

#include "platform/hugepages.h"

#include <QVector>
#include <cstddef>

namespace geom {

using platform::adviseHugePages;

// The same for the room a vector holds, its unused capacity included: called after a reserve.
template <typename T>
void adviseHugePages(const QVector<T> &vector)
{
    adviseHugePages(vector.constData(), size_t(vector.capacity()) * sizeof(T));
}

} // namespace geom
