#pragma once

#include "geom/core/vector3f.h"
#include "geom/mesh/indexedfacet.h"
#include "platform/largeblock.h"

#include <QVector>
#include <vector>

namespace geom {

struct Facet;

// Collects facets given by coordinates and merges equal vertices (the vertex order's equivalence:
// -0 equals +0, a NaN only the same bit pattern; the first-seen coordinates are kept). Indices below
// the size of the base list name base vertices; new vertices get the following indices in the order
// they are first seen. StlMesh::append takes the content over. Not thread-safe; the base list must
// stay unchanged while the builder refers to it.
class StlMeshBuilder
{
public:
    // Merged vertices above which a producer appends the builder to its mesh and restarts it, so the
    // memory of one pass stays bounded.
    static constexpr int MaxMappedVertices = 0xFFFFFF;
    // The most facets reserved at once.
    static constexpr int MaxReservedFacets = 0x3FFFFF;

    // An empty builder over a sorted base vertex list (null: none).
    explicit StlMeshBuilder(const QVector<Vector3f> *baseVertices = nullptr);

    // Empties the builder and sets a new base list (null: none); the next new index is its size.
    void restart(const QVector<Vector3f> *baseVertices);
    // Reserves room for min(facetCount, MaxReservedFacets) further facets and sizes the merge table
    // for facetCount / 2 further vertices (at most MaxMappedVertices), a closed surface's share;
    // the vertex list gets a sixteenth more room, for the borders of an open surface.
    void reserve(qint64 facetCount);

    // The index of v: the one it already has in the builder, else the position of an equivalent
    // base vertex, else the next new index.
    int vertexIndex(const Vector3f &v);
    // Adds the facet (v1, v2, v3) with the attribute word; the vertices are resolved third first.
    void addFacet(const Vector3f &v1, const Vector3f &v2, const Vector3f &v3, quint32 attribute);
    // Adds the facet of the record's three vertices; its normal is ignored.
    void addFacet(const Facet &facet, quint32 attribute);
    // Adds up to n facets in order, with attributes[i] as the attribute of facet i (0 without the
    // array), as addFacet would, but stops after the facet that makes the builder full. Returns the
    // number of facets added. Faster than single calls on large inputs: lookups are prefetched.
    int addFacets(const Facet *facets, const quint16 *attributes, int n);
    // As above from n packed binary STL records of RecordSize bytes: 48 bytes of normal and vertices
    // (little-endian floats), then the little-endian 16-bit attribute word.
    int addRecords(const uchar *records, int n);
    static constexpr int RecordSize = 50;

    // True when the builder holds at least MaxMappedVertices merged vertices: time to append.
    bool isFull() const { return m_mappedCount >= MaxMappedVertices; }
    // Number of distinct vertices seen since the last restart (base vertices included).
    int mappedVertexCount() const { return m_mappedCount; }
    // The facets collected since the last restart.
    const QVector<IndexedFacet> &facets() const { return m_facets; }
    // The base list, or null.
    const QVector<Vector3f> *baseVertices() const { return m_baseVertices; }
    // The next free index: base size plus the new vertices.
    int vertexCount() const { return m_baseSize + m_newVertices.size(); }
    // The new vertices, at index - base size.
    const QVector<Vector3f> &newVertices() const { return m_newVertices; }

private:
    friend class StlMeshPrivate;

    void growTable(size_t slotCount);
    void prefetchSlot(const Vector3f &v) const;
    template <typename Source>
    int addMany(const Source &source, int n);
    const Vector3f &vertexAt(int index) const;

    // One slot of the merge table: the vertex's coordinate bits (-0 folded onto +0) and its index + 1,
    // 0 for a free slot. The key in the slot spares a fetch of the vertex on every probe.
    struct Slot
    {
        quint32 key[3];
        qint32 indexPlusOne;
    };
    using SlotTable = std::vector<Slot, platform::LargeBlockAllocator<Slot>>;

    QVector<Vector3f> m_newVertices;
    QVector<IndexedFacet> m_facets;
    // Open-addressed table of the merged vertices (linear probing); no per-vertex nodes, unlike a
    // tree map.
    SlotTable m_table;
    const QVector<Vector3f> *m_baseVertices = nullptr;
    int m_baseSize = 0;
    int m_mappedCount = 0;
};

} // namespace geom
