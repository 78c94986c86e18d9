#pragma once

#include <QFlags>

namespace geom {

// The six sides of a box, as used by outcodes and aligned points. Bits 0-1 speak of x, bits 2-3 of
// y, bits 4-5 of z (the z bits apply to cuboids only).
enum Boundary
{
    MinX = 1,
    MaxX = 2,
    MinY = 4,
    MaxY = 8,
    MinZ = 16,
    MaxZ = 32
};
Q_DECLARE_FLAGS(Boundaries, Boundary)

} // namespace geom

Q_DECLARE_OPERATORS_FOR_FLAGS(geom::Boundaries)
