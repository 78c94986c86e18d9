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

} // namespace geom

Q_DECLARE_TYPEINFO(geom::StripVertex, Q_PRIMITIVE_TYPE);
