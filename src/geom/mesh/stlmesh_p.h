#pragma once

#include "geom/core/cuboid.h"
#include "geom/core/vector3f.h"
#include "geom/mesh/indexedfacet.h"

#include <QReadWriteLock>
#include <QVector>
#include <algorithm>

namespace geom {

class StlMesh;
class StlMeshBuilder;

// The private record of StlMesh. Members below are called with the mesh's write lock held, or on a
// mesh no other thread can see yet.
class StlMeshPrivate
{
public:
    static constexpr int AttributeMaskWords = 2048;

    explicit StlMeshPrivate(StlMesh *owner);
    // Copies every field of other except the owner and the lock.
    StlMeshPrivate(StlMesh *owner, const StlMeshPrivate &other);
    // Waits for a holder of the lock, then deletes it.
    ~StlMeshPrivate();
    StlMeshPrivate(const StlMeshPrivate &) = delete;
    StlMeshPrivate &operator=(const StlMeshPrivate &) = delete;

    // The record of a mesh, for code of the mesh core that lives outside the class.
    static StlMeshPrivate *get(StlMesh *mesh);
    static const StlMeshPrivate *get(const StlMesh *mesh);

    // The empty state; indexOrder stays.
    void clear();
    // Drops unused vertices, sorts the rest by the vertex order and renumbers the facets, then
    // cleanIndices. Unchecked: facets with an index outside the vertex list are dropped first.
    void reindex(bool indicesChecked);
    // Rotates every facet smallest index first, drops invalid ones (warning "Clean indices dropped %d
    // items."), and stable-sorts the list by (a, b, c); indexOrder becomes 2. With renumber, every
    // index i is first replaced by renumber[i] (all indices must lie within that table).
    void cleanIndices(const int *renumber = nullptr);
    // Merges the builder (taking its content), runs the statistics and restarts the builder with
    // this vertex list as its base.
    void append(StlMeshBuilder &builder);
    // Sets bounds and recomputes the figures; a bounds that is not valid is grown over the vertices.
    void updateStatistics(const Cuboid &startBounds);
    // Sets every bit of the attribute mask: no attribute value in use.
    void resetAttributeMask() { std::fill(attributeMask, attributeMask + AttributeMaskWords, 0xFFFFFFFFu); }
    // Clears the mask bit of the attribute word's low 16 bits.
    void markAttribute(quint32 attribute)
    {
        const quint32 value = attribute & 0xFFFFu;
        attributeMask[value >> 5] &= ~(1u << (value & 31u));
    }
    // The lower-bound position of the canonical triple in the facet list ((a, b, c) order).
    int lowerFacet(qint32 a, qint32 b, qint32 c) const;
    // The position of the canonical triple by binary search, or -1.
    int findFacetSorted(qint32 a, qint32 b, qint32 c) const;

    StlMesh *q;
    QReadWriteLock *lock;
    quint32 attributeMask[AttributeMaskWords];
    Cuboid bounds;
    QVector<Vector3f> vertices;
    QVector<IndexedFacet> indices;
    int indexOrder = 2;
    int duplicateFacetCount = 0;
    double radius = 0;
    double area = 0;
    double volume = 0;
};

} // namespace geom
