#pragma once

#include "geom/mesh/indexedfacet.h"

#include <QList>
#include <QVector>

namespace geom {

// One element of a triangle strip: a vertex index and the attribute word of the facet this
// element closes (0 for the first two elements of a strip).
struct StripVertex
{
    qint32 index = 0;
    quint32 attribute = 0;
};

// The stripped form of a mesh: strips of at least three elements, where element k (k >= 2)
// closes the facet (s[k-2], s[k-1], s[k]) for even k and (s[k-1], s[k-2], s[k]) for odd k, plus
// groups of loose facets in their canonical form with their attribute words.
struct StrippedFacets
{
    QList<QVector<StripVertex>> strips;
    QList<QVector<IndexedFacet>> triangles;
};

// Moves a strip's window past element k (k >= 2), which closed the facet (p, q, r): the older of
// p and q gives way to r, so that the next element closes the facet the order above gives it.
template <typename Index>
inline void advanceStrip(qint32 &p, qint32 &q, Index k, qint32 r)
{
    if (k % 2 == 0)
        p = r;
    else
        q = r;
}

} // namespace geom

Q_DECLARE_TYPEINFO(geom::StripVertex, Q_PRIMITIVE_TYPE);
