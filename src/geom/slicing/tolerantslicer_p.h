#pragma once

#include "geom/core/vector2f.h"
#include "geom/core/vector3f.h"
#include "geom/slicing/tolerantslicer.h"

#include <QAtomicInt>
#include <QList>
#include <QMap>
#include <QRecursiveMutex>
#include <QVector>

#include <vector>

namespace geom {

class Slice;
class StlMesh;

// The tables of a slicer and the tracing of one level.
//
// Half-edge ids are 4f + c (facet f, corner c): the edge from corner c to the next corner. The
// table holds three records per facet, sorted by undirected edge (smaller vertex index, then larger),
// so the half-edges of one edge lie side by side and, as vertex indices follow height, records come
// in non-decreasing order of their lower end.
class TolerantSlicerPrivate
{
public:
    struct HalfEdge
    {
        quint32 id;
        quint32 link;     // partner position, junction index (Junction), or own position (open)
        quint32 slot;     // at position 3f + c: the sorted position of half-edge (f, c)
        quint16 levelKey; // running maximum of the quantised upper height
        quint16 flags;
    };
    enum Flag : quint16
    {
        GroupParity = 1,
        Descending = 2,
        Ascending = 4,
        Junction = 8,
        Crack = 16,
        SkipFacet = 32,
    };

    explicit TolerantSlicerPrivate(TolerantSlicer *owner, const StlMesh *m, double t);

    void prepareMesh();
    void buildVertexTable();
    void buildHalfEdges();
    void linkHalfEdges();
    void buildCrackTraversal();
    // Appends the closed contours of the slice's level; returns the contours given up as incomplete.
    int traceLevel(Slice &slice, quint32 *cursor);
    quint32 firstRecordAt(float z, quint32 from) const;

    TolerantSlicer *q;
    const StlMesh *mesh;
    const quint32 *facetCorners = nullptr;
    QRecursiveMutex mutex;
    QAtomicInt running;
    QMap<float, float> incompleteLayers;
    quint32 facetCount = 0;
    int edgeGroupCounter = 0;
    int crackCount = -1;
    double sampleOffset = 0.0;
    double gridStep = 0.001;
    double tolerance;
    double simplifyTolerance = 0.01;
    // Per facet the generation of the level that visited it: a new level needs no clearing.
    std::vector<quint32> visited;
    quint32 generation = 0;
    bool hasOddJunctions = false;
    bool mergeContours = false;
    int windingRule = 2;
    std::vector<Vector3f> vertexTable;
    std::vector<HalfEdge> halfEdges;
    QList<QVector<quint32>> junctions;
    // Lowest lower end and highest upper end of the records that can cross a level (at build).
    float lowestCut = 0.0f;
    float highestCut = -1.0f;

private:
    // Corner words and record helpers.
    quint32 corner(quint32 id) const { return facetCorners[id]; }
    static quint32 nextId(quint32 id) { return (id & 2) ? id - 2 : id + 1; }
    static quint32 prevId(quint32 id) { return (id & 3) == 0 ? id + 2 : id - 1; }
    const Vector3f &vertex(quint32 index) const { return vertexTable.at(index); }
    const HalfEdge &record(quint32 pos) const { return halfEdges.at(pos); }
    quint32 positionOf(quint32 id) const { return record(3 * (id >> 2) + (id & 3)).slot; }
    bool isVisited(quint32 id) const { return visited.at(id >> 2) == generation; }
    void markVisited(quint32 id) { visited.at(id >> 2) = generation; }
    bool sameEdge(quint32 a, quint32 b) const;
    quint32 exitEdge(quint32 pos, float level) const;
    // The cut of the record's edge with the level: true with the point when there is exactly one.
    bool cut(const HalfEdge &r, float level, Vector2f *point) const;
    void skipFacet(quint32 facet);
};

} // namespace geom
