#pragma once

#include "geom/core/cuboid.h"
#include "geom/core/facet.h"
#include "geom/core/vector3f.h"
#include "geom/mesh/indexedfacet.h"
#include "geom/mesh/strippedfacets.h"

#include <QMatrix4x4>
#include <QObject>
#include <QSet>
#include <QVector>

namespace geom {

class StlMeshBuilder;
class StlMeshPrivate;

// The indexed triangle mesh: vertices sorted by z, x, y; facets rotated smallest index first and
// sorted by (a, b, c); bounds, radius, area and volume kept up to date by every building operation.
// One QReadWriteLock per mesh: copies and derived lists take it for reading, fills and edits for
// writing; accessors and queries take none and must not run beside a writer of the same mesh.
class StlMesh : public QObject
{
    Q_OBJECT

public:
    // An empty mesh.
    explicit StlMesh(QObject *parent = nullptr);
    // A copy with other's parent, lists (implicitly shared) and figures, and a lock of its own. Takes
    // no lock on other; clone() does.
    StlMesh(const StlMesh &other);
    // Clears the mesh and waits for any holder of its lock before the lock goes.
    ~StlMesh() override;
    StlMesh &operator=(const StlMesh &) = delete;

    // A copy made under the read lock; the caller owns it.
    StlMesh *clone() const;
    // Empties the mesh (write lock); the facet list's order flag stays.
    void clear();

    // Accessors: no lock; references into the live mesh.
    const Cuboid &bounds() const;
    QVector<Vector3f> &vertices();
    const QVector<Vector3f> &vertices() const;
    QVector<IndexedFacet> &indices();
    const QVector<IndexedFacet> &indices() const;
    double radius() const;
    // Surface area and enclosed volume of the last statistics run; degenerate facets (FacetCross)
    // add nothing to either.
    double area() const;
    double volume() const;
    // Facets equal to the facet before them, as counted by the last statistics run.
    int duplicateFacetCount() const;
    // The facet list's order: 2 ascending by (a, b, c), 0 by attribute word, 1 by max(b, c).
    int indexOrder() const;
    // 2048 words, one bit per 16-bit attribute value, CLEAR where some facet has that value.
    const quint32 *attributeMask() const;

    // Queries: no lock.
    // The position of the vertex equivalent to v, or -1.
    int indexOfVertex(const Vector3f &v) const;
    // The first vertex whose z is not below z.
    int lowerVertexIndex(float z) const;
    // The first vertex whose z is above z.
    int upperVertexIndex(float z) const;
    // The facet with the triple (rotated smallest-first), or the end of the facet list. Binary
    // search while the list is in (a, b, c) order, else a scan from the front.
    const IndexedFacet *findFacet(int a, int b, int c) const;
    // The position of that facet, or -1.
    int indexOfFacet(int a, int b, int c) const;
    // As above for the facet over f's three vertices (each found with indexOfVertex).
    const IndexedFacet *findFacet(const Facet &f) const;
    int indexOfFacet(const Facet &f) const;
    // The lower-bound position of the triple (rotated smallest-first) in (a, b, c) order.
    int lowerBound(int a, int b, int c) const;
    // Stable-sorts the facet list into order 0, 1 or 2 (see indexOrder) unless it is already in it;
    // other values do nothing. No lock.
    void sortIndices(int order);

    // Building: each takes the write lock and leaves a finished mesh with fresh statistics.
    // Merges the builder's facets and new vertices into the mesh and restarts the builder with this
    // mesh's vertex list as its base. Nothing happens when the builder holds no facets.
    void append(StlMeshBuilder &builder);
    // Replaces the content with copies of the lists; facets indexing outside the vertices are
    // dropped silently, invalid ones with a warning, unused vertices removed. Equal vertices stay.
    void setData(const QVector<Vector3f> &vertices, const QVector<IndexedFacet> &indices);
    // As above from arrays; a null pointer or a count below 1 leaves the mesh empty.
    void setData(const Vector3f *vertices, int vertexCount, const IndexedFacet *indices, int indexCount);
    // Appends other's vertices and facets (other's read lock first, then this mesh's write lock).
    // Appending a mesh to itself is not allowed.
    void append(const StlMesh &other);
    // Adds facets given by coordinates, merging equal vertices with the existing ones; attributes
    // may be null (all 0).
    void addFacets(int count, const Facet *facets, const quint16 *attributes);
    // As above; missing attribute words are 0.
    void addFacets(const QVector<Facet> &facets, const QVector<quint16> &attributes = QVector<quint16>());

    // Transforms and derived lists.
    // A new mesh (caller owns it) mapped by m under the read lock: re-wound when m mirrors, sorted
    // again, statistics recomputed. statisticsOnly drops the vertices and keeps this facet list. A
    // matrix degenerate relative to its size (|det| <= 1e-5 s^3, s its largest column length) gives
    // an unchanged copy.
    StlMesh *transformed(const QMatrix4x4 &m, bool statisticsOnly = false) const;
    // The box of the vertices mapped by m. No lock.
    Cuboid mappedBounds(const QMatrix4x4 &m) const;
    // Moves vertices and bounds by d (write lock); the lists are not sorted again.
    void translate(const Vector3f &d);
    // Scales vertices, bounds, radius, area and volume by s > 0 (write lock).
    void scale(float s);
    // One facet record per facet in list order; unit normals when withNormals, else zero (read lock).
    QVector<Facet> facets(bool withNormals = true) const;
    // As above with the vertices mapped by m and unit normals (read lock).
    QVector<Facet> facets(const QMatrix4x4 &m) const;
    // Per facet the cross product, scaled to length unless |length| <= 1e-12; a degenerate facet
    // (FacetCross) then gets the zero vector (read lock).
    QVector<Vector3f> facetNormals(double length) const;
    // Per facet its 32-bit attribute word (read lock).
    QVector<quint32> attributes() const;
    // Per facet the low (upper false) or high 16 bits of its attribute word (read lock).
    QVector<quint16> attributeWords(bool upper) const;
    // Per vertex the positions of the facets that use it. No lock.
    QVector<QSet<int>> vertexAdjacency() const;
    // Removes repeated facets (a run keeps its last attribute word); returns how many went.
    int removeDuplicateFacets();
    // Gives every facet the attribute word. No lock.
    void setAttribute(quint32 attribute);

    // The stripped form of the facet list under the read lock; empty lists (and a critical message)
    // when stripping fails.
    StrippedFacets toStrippedFacets() const;
    // Replaces the content by the vertices and the facets of the stripped form (write lock), then
    // canonicalises it as setData does.
    void fromStrippedFacets(const QVector<Vector3f> &vertices, const StrippedFacets &stripped);
    // The same for the facets the stripped form expands to, strips first (element k of a strip
    // closing its facet), then the groups; takes both lists, so a caller that moves them in
    // spares a copy.
    void fromStrippedFacets(QVector<Vector3f> vertices, QVector<IndexedFacet> facets);

private:
    friend class StlMeshPrivate;
    StlMeshPrivate *const d;
};

} // namespace geom
