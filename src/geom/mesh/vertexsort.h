#pragma once

#include "geom/core/vector3f.h"

namespace geom {

// Sorts the n positions into the vertices by the vertex order (z, x, y; see vertexLess), stably:
// positions of equivalent vertices keep their relative order.
void sortVertexPositions(const Vector3f *vertices, int *positions, int n);

} // namespace geom
