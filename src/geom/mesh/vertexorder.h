#pragma once

#include "geom/core/vector3f.h"

#include <QtGlobal>
#include <cstring>

namespace geom {

// The order of vertices in a mesh: by z, then x, then y, by plain float comparison, so -0 and +0
// are equal. A NaN coordinate sorts after +infinity and equals only a NaN of the same bit pattern
// (NaNs among themselves by their bit patterns), so a vertex holding a NaN never merges with
// another vertex and the order stays a strict weak order.
inline bool coordinateLess(float p, float q)
{
    if (p < q)
        return true;
    if (p >= q)
        return false;
    // note: at least one is NaN here; the rare path keeps the common comparisons branch-light.
    const bool pNaN = p != p;
    const bool qNaN = q != q;
    if (pNaN != qNaN)
        return qNaN;
    quint32 pb, qb;
    std::memcpy(&pb, &p, sizeof pb);
    std::memcpy(&qb, &q, sizeof qb);
    return pb < qb;
}

// True when p sorts before q in the vertex order (z, then x, then y).
inline bool vertexLess(const Vector3f &p, const Vector3f &q)
{
    if (coordinateLess(p.z, q.z))
        return true;
    if (coordinateLess(q.z, p.z))
        return false;
    if (coordinateLess(p.x, q.x))
        return true;
    if (coordinateLess(q.x, p.x))
        return false;
    return coordinateLess(p.y, q.y);
}

// True when neither vertex sorts before the other: the same vertex for every lookup and merge.
inline bool vertexEquivalent(const Vector3f &p, const Vector3f &q)
{
    return !vertexLess(p, q) && !vertexLess(q, p);
}

// The first vertex of the sorted range [begin, end) that does not sort before v.
const Vector3f *lowerVertex(const Vector3f *begin, const Vector3f *end, const Vector3f &v);

// The vertex of the sorted range [begin, end) equivalent to v (the first such one), or end.
const Vector3f *findVertex(const Vector3f *begin, const Vector3f *end, const Vector3f &v);

} // namespace geom
