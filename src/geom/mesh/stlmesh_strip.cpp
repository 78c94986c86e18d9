#include "geom/core/hugepages.h"
#include "geom/mesh/meshlog.h"
#include "geom/mesh/stlmesh.h"

#include "geom/mesh/stlmesh_p.h"

#include "tri_stripper.h"

#include <QReadLocker>
#include <QWriteLocker>
#include <QtGlobal>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace geom {

namespace {

// Finds the facet of a triple the stripper emitted. The facet list is sorted by (a, b, c), so a
// table of where each first index starts narrows every binary search to the few facets that share
// that index; the result is that of a binary search over the whole list.
class FacetLookup
{
public:
    FacetLookup(const QVector<IndexedFacet> &facets, int vertexCount)
        : m_facets(facets.constData())
        , m_start(size_t(vertexCount) + 1, 0)
    {
        for (const IndexedFacet &f : facets) {
            if (f.a >= 0 && f.a < vertexCount)
                ++m_start[size_t(f.a) + 1];
        }
        for (size_t v = 1; v < m_start.size(); ++v)
            m_start[v] += m_start[v - 1];
    }

    // The first facet with the triple rotated smallest-first, or null.
    const IndexedFacet *find(qint32 a, qint32 b, qint32 c) const
    {
        rotateSmallestFirst(a, b, c);
        if (a < 0 || size_t(a) + 1 >= m_start.size())
            return nullptr;
        IndexedFacet key;
        key.a = a;
        key.b = b;
        key.c = c;
        const IndexedFacet *end = m_facets + m_start[size_t(a) + 1];
        const IndexedFacet *found = std::lower_bound(m_facets + m_start[size_t(a)], end, key, facetLess);
        return found != end && sameTriple(*found, key) ? found : nullptr;
    }

private:
    const IndexedFacet *m_facets;
    std::vector<quint32> m_start;
};

// True when some facet carries an attribute.
bool anyAttribute(const QVector<IndexedFacet> &facets)
{
    quint32 any = 0;
    for (const IndexedFacet &f : facets)
        any |= f.attribute;
    return any != 0;
}

// The stripper's output in the form of the file writers. Without a lookup (no facet carries an
// attribute) every attribute is 0 and a leftover triple is taken as the stripper gave it, rotated
// smallest index first: what the lookup would give for every triple of the list.
StrippedFacets toStripped(const tristripper::flat_primitives &primitives, const FacetLookup *lookup)
{
    StrippedFacets result;
    result.elements.reserve(int(primitives.strip_indices.size()));
    adviseHugePages(result.elements);
    result.stripEnds.reserve(int(primitives.strip_ends.size()));
    size_t begin = 0;
    for (const std::uint32_t end : primitives.strip_ends) {
        const std::uint32_t *indices = primitives.strip_indices.data() + begin;
        const size_t n = end - begin;
        begin = end;
        if (n <= 2)
            continue;
        const int first = result.elements.size();
        result.elements.resize(first + int(n));
        StripVertex *element = result.elements.data() + first;
        for (size_t i = 0; i < n; ++i)
            element[i].index = qint32(indices[i]);
        if (lookup) {
            qint32 p = element[0].index;
            qint32 q = element[1].index;
            for (size_t k = 2; k < n; ++k) {
                const qint32 r = element[k].index;
                // A triple missing from the list (a stripper fault) gets attribute 0.
                const IndexedFacet *facet = lookup->find(p, q, r);
                element[k].attribute = facet ? facet->attribute : 0;
                advanceStrip(p, q, k, r);
            }
        }
        result.stripEnds.append(result.elements.size());
    }
    const std::vector<std::uint32_t> &indices = primitives.list_indices;
    const size_t n = indices.size();
    if (n > 0 && n % 3 == 0) {
        QVector<IndexedFacet> group;
        group.reserve(int(n / 3));
        for (size_t k = 0; k < n; k += 3) {
            IndexedFacet emitted;
            emitted.a = qint32(indices[k]);
            emitted.b = qint32(indices[k + 1]);
            emitted.c = qint32(indices[k + 2]);
            const IndexedFacet *facet = lookup ? lookup->find(emitted.a, emitted.b, emitted.c) : nullptr;
            if (facet) {
                group.append(*facet);
            } else {
                rotateSmallestFirst(emitted.a, emitted.b, emitted.c);
                group.append(emitted);
            }
        }
        result.triangles.append(group);
    }
    return result;
}

} // namespace

StrippedFacets StlMesh::toStrippedFacets() const
{
    QReadLocker locker(d->lock);
    try {
        // note: the flat form keeps the strips in a third of the memory of one list per strip,
        // and they are all held at once with the stripper's graph, the peak of a compression.
        tristripper::flat_primitives primitives;
        {
            // The stripper reads the corners straight from the facet records.
            static_assert(offsetof(IndexedFacet, a) == 0 && offsetof(IndexedFacet, b) == sizeof(qint32) &&
                              offsetof(IndexedFacet, c) == 2 * sizeof(qint32),
                          "a facet record starts with its three indices");
            tristripper::tri_stripper stripper(d->indices.constData(), size_t(d->indices.size()),
                                               sizeof(IndexedFacet));
            stripper.strip(&primitives);
        }
        if (!anyAttribute(d->indices))
            return toStripped(primitives, nullptr);
        const FacetLookup lookup(d->indices, d->vertices.size());
        return toStripped(primitives, &lookup);
    } catch (...) {
        qCCritical(lcMesh, "StlMesh: toStrippedFacets VertexCount(%d) IndicesCount(%d)", d->vertices.size(),
                   d->indices.size());
    }
    return StrippedFacets();
}

void StlMesh::fromStrippedFacets(const QVector<Vector3f> &vertices, const StrippedFacets &stripped)
{
    const qint64 count = stripped.facetCount();
    QVector<IndexedFacet> facets;
    facets.reserve(int(qMin<qint64>(count, std::numeric_limits<int>::max())));

    for (int s = 0; s < stripped.stripCount(); ++s) {
        const int n = stripped.stripLength(s);
        if (n < 3)
            continue;
        const StripVertex *strip = stripped.strip(s);
        qint32 p = strip[0].index;
        qint32 q = strip[1].index;
        for (int k = 2; k < n; ++k) {
            IndexedFacet f;
            f.a = p;
            f.b = q;
            f.c = strip[k].index;
            f.attribute = strip[k].attribute;
            facets.append(f);
            advanceStrip(p, q, k, f.c);
        }
    }
    for (const QVector<IndexedFacet> &group : stripped.triangles)
        facets += group;
    fromStrippedFacets(vertices, std::move(facets));
}

void StlMesh::fromStrippedFacets(QVector<Vector3f> vertices, QVector<IndexedFacet> facets)
{
    QWriteLocker locker(d->lock);
    d->clear();
    d->vertices = std::move(vertices);
    d->indices = std::move(facets);
    d->reindex(false);
    d->bounds.reset();
    d->updateStatistics(Cuboid());
}

} // namespace geom
