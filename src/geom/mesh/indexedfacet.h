#pragma once

#include <QtGlobal>

namespace geom {

// One facet of a mesh's facet list: three vertex indices whose order is the facet's winding
// (normal along (b - a) x (c - a)) and the attribute word. In a finished mesh a is the smallest
// index and bit 31 of the attribute is clear; the low 16 bits hold the STL attribute word.
struct IndexedFacet
{
    qint32 a = 0;
    qint32 b = 0;
    qint32 c = 0;
    quint32 attribute = 0;
};

// The bit that marks a facet as not yet canonical while a facet list is being ordered.
constexpr quint32 FacetPendingMark = 0x80000000u;

// Rotates the triple so that its single smallest index comes first; keeps it when a tie leaves
// no single smallest. The winding is kept.
inline void rotateSmallestFirst(qint32 &i0, qint32 &i1, qint32 &i2)
{
    if (i1 < i0 && i1 < i2) {
        const qint32 t = i0;
        i0 = i1;
        i1 = i2;
        i2 = t;
    } else if (i2 < i0 && i2 < i1) {
        const qint32 t = i0;
        i0 = i2;
        i2 = i1;
        i1 = t;
    }
}

// The facet order: (a, b, c) lexicographically as signed integers; the attribute is not compared.
inline bool facetLess(const IndexedFacet &f, const IndexedFacet &g)
{
    if (f.a != g.a)
        return f.a < g.a;
    if (f.b != g.b)
        return f.b < g.b;
    return f.c < g.c;
}

// True when both facets have the same triple (same order, so the same winding).
inline bool sameTriple(const IndexedFacet &f, const IndexedFacet &g)
{
    return f.a == g.a && f.b == g.b && f.c == g.c;
}

} // namespace geom

Q_DECLARE_TYPEINFO(geom::IndexedFacet, Q_PRIMITIVE_TYPE);
