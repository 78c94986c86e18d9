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
// note: the strips share one list of elements, not one list each: a mesh of millions of facets
// has hundreds of thousands of strips, and a list each cost as much time to make as the writer
// took to write them.
struct StrippedFacets
{
    // The elements of every strip, one strip after the other: strip k runs from stripBegin(k) up
    // to stripEnds[k].
    QVector<StripVertex> elements;
    QVector<int> stripEnds;
    QList<QVector<IndexedFacet>> triangles;

    int stripCount() const { return stripEnds.size(); }
    int stripBegin(int k) const { return k == 0 ? 0 : stripEnds.at(k - 1); }
    int stripLength(int k) const { return stripEnds.at(k) - stripBegin(k); }
    const StripVertex *strip(int k) const { return elements.constData() + stripBegin(k); }
    void appendStrip(const QVector<StripVertex> &strip)
    {
        elements += strip;
        stripEnds.append(elements.size());
    }
    // The facets the form stands for: n - 2 for a strip of n elements (none below three), one for
    // each facet of a group.
    qint64 facetCount() const
    {
        qint64 n = 0;
        for (int k = 0; k < stripCount(); ++k)
            n += qMax(stripLength(k) - 2, 0);
        for (const QVector<IndexedFacet> &group : triangles)
            n += group.size();
        return n;
    }
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
