#pragma once

#include "geom/core/vector2f.h"
#include "geom/core/vector3f.h"
#include "geom/mesh/indexedfacet.h"
#include "geom/slicing/crackends_p.h"
#include "geom/slicing/slice.h"
#include "geom/slicing/tessellator.h"
#include "geom/slicing/tolerantslicer.h"

#include <QAtomicInt>
#include <QList>
#include <QMap>
#include <QRecursiveMutex>
#include <QVector>

#include <limits>
#include <utility>
#include <vector>

namespace geom {

class StlMesh;

// The tables of a slicer and the tracing of one level.
//
// Half-edge ids are 4f + c (facet f, corner c): the edge from corner c to the next corner. The
// table holds three records per facet, sorted by undirected edge (smaller vertex index, then larger),
// so the half-edges of one edge lie side by side and, as vertex indices follow height, records come
// in non-decreasing order of their lower end.
//
// note: a record is spread over three flat arrays, 9 bytes per half-edge, because on large meshes the
// tables outweigh the mesh: the id at its sorted position, the inverse (sorted position of each
// half-edge) and a flag byte. A partner always lies next to its record in the sorted order, so two
// flag bits name it; the rare junction members find their junction in a sorted list.
class TolerantSlicerPrivate
{
public:
    enum Flag : quint8
    {
        Descending = 1,
        Ascending = 2,
        Junction = 4,
        Crack = 8,
        SkipFacet = 16,
        PartnerAfter = 32,  // the partner is the next record
        PartnerBefore = 64, // the partner is the previous record
        GroupParity = 128,  // the undirected edge's serial number is odd (while linking)
    };

    // What the tracing of one level met.
    struct LevelCounts
    {
        int incomplete = 0; // contours given up as open
        int walks = 0;      // walks started on an edge the level cuts
        int vanished = 0;   // closed contours left with 2 points or fewer by simplification
        // The area of the closed contours as traced, and how much simplifying and snapping them
        // changed it (the whole area of those that vanished), each contour taken by its size.
        double tracedArea = 0.0;
        double changedArea = 0.0;

        LevelCounts &operator+=(const LevelCounts &other)
        {
            incomplete += other.incomplete;
            walks += other.walks;
            vanished += other.vanished;
            tracedArea += other.tracedArea;
            changedArea += other.changedArea;
            return *this;
        }
    };

    // One run of extractSlices: its range and thickness, the layers made so far, where the next
    // level's scan starts, what the levels met and, once it ends, why.
    struct Extraction
    {
        Extraction(float layerThickness, int windingRule)
            : thickness(layerThickness)
            , merger(windingRule)
            , uniter(Tessellator::Positive)
        {}

        float thickness;
        // The range's top rounded to the tolerance: no layer starts at or above it.
        float last = 0.0f;
        // The z of layer 0: the range's rounded bottom, raised by the tolerance while nothing is cut.
        float base = 0.0f;
        // The layer count each announcement gives as the total.
        int expected = 1;
        // The first record that the last complete level crossed: the next level scans from there.
        quint32 savedCursor = 0;
        int lastComplete = -1;
        // The last of the incomplete layers that no complete layer precedes yet.
        int lastLeadingIncomplete = -1;
        LevelCounts met;
        TolerantSlicer::Losses losses;
        // The z of the first layer searched whose contours all vanished, while no layer is made.
        float firstEmptied = std::numeric_limits<float>::quiet_NaN();
        // How the run ends when no layer holds a contour, and also when it was stopped.
        TolerantSlicer::Outcome why = TolerantSlicer::MissesModel;
        QList<Slice> result;
        // Outlines a complete layer by the slicer's winding rule (when merging).
        Tessellator merger;
        // Completes an incomplete layer by a union with a complete one.
        Tessellator uniter;
    };

    explicit TolerantSlicerPrivate(TolerantSlicer *owner, const StlMesh *m, double t);

    void prepareMesh();
    void buildVertexTable();
    void buildHalfEdges();
    void linkHalfEdges();
    void buildCrackTraversal();
    // The cutting height of the layer at z: the sample offset added, rounded to the tolerance grid
    // and set off from it.
    float levelAt(float z) const;
    // Appends the closed contours of the slice's level; the contours given up as incomplete are in
    // the counts.
    LevelCounts traceLevel(Slice &slice, quint32 *cursor);

    // The steps of extractSlices, under the mutex. beginExtraction checks and rounds the range
    // into run; false, with run.why, when no level can be cut. cutLayers makes the layers bottom-up
    // and leaves run.why as it is unless cancelled or stopped by a fault. endExtraction decides the
    // outcome, announces the end and hands out the layers.
    bool beginExtraction(float from, float to, Extraction &run);
    void cutLayers(Extraction &run);
    QList<Slice> endExtraction(Extraction &run);

    TolerantSlicer *q;
    const StlMesh *mesh;
    // Shared with the mesh (no copy): a later change of the mesh detaches it and leaves these intact.
    QVector<IndexedFacet> facets;
    QVector<Vector3f> vertices;
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
    // Per facet the generation of the level that visited it: a new level needs no clearing but
    // once in 255 levels.
    std::vector<quint8> visited;
    quint8 generation = 0;
    bool hasOddJunctions = false;
    bool mergeContours = false;
    int windingRule = 2;
    // Per vertex its height rounded to the tolerance; x and y are the mesh's.
    std::vector<float> vertexHeights;
    // The half-edge table: the id at each sorted position, the sorted position of half-edge (f, c)
    // at 3f + c, and the flags at each sorted position.
    std::vector<quint32> edgeIds;
    std::vector<quint32> positions;
    std::vector<quint8> edgeFlags;
    // The records of each edge with three or more half-edges, in ascending position.
    QList<QVector<quint32>> junctions;
    // (position, junction index) of every record with flag Junction but not Crack, in ascending
    // position.
    std::vector<std::pair<quint32, quint32>> junctionOf;
    // Per vertex the vertex that names its crack, once the crack traversal is built.
    std::vector<quint32> crackOf;
    // The positions of the records with flag Crack, ascending, once the crack traversal is built.
    std::vector<quint32> crackPositions;
    // Lowest lower end and highest upper end of the records that can cross a level (at build).
    float lowestCut = 0.0f;
    float highestCut = -1.0f;
    // Facets left out of tracing for a vertex index out of range or a vertex that is not finite.
    quint32 badFacets = 0;
    TolerantSlicer::Outcome outcome = TolerantSlicer::NoFacets;
    TolerantSlicer::Losses losses;

private:
    // One level being traced: its height, the scan's first record, the crack ends once a hop needs
    // them, and the contour being walked with its orientation vote.
    struct LevelTrace
    {
        float level = 0.0f;
        quint32 scanStart = 0;
        CrackEnds ends;
        QVector<Vector2f> points;
        int vote = 0;
    };
    // Where a walk goes from the current record: on to `next`, closed, or to an end (not closed).
    struct Step
    {
        enum Kind
        {
            Next,
            Closed,
            Stop
        } kind;
        quint32 next;
    };

    // Traces the layer at z and places it in run.result; false when it ended the run.
    bool addLayer(Extraction &run, float z);
    // A layer with open contours: united with the last complete layer, or kept until a complete
    // one follows when there is none yet. True when it is final (and announced next).
    bool addIncompleteLayer(Extraction &run, const Slice &slice);
    // A complete layer: the leading incomplete layers are united with it and announced, the scan's
    // start moves to its cursor, and it is appended, outlined when merging.
    void addCompleteLayer(Extraction &run, const Slice &slice, quint32 cursor);
    // Announces the last layer, or drops it and returns false when it is an empty layer past the
    // expected count.
    bool announceLayer(Extraction &run);
    // The layers of thickness that the model has between from and to beyond the heights that can be
    // sliced.
    int layersOutOfRange(float from, float to, float thickness) const;
    // Counts the running flag up before the next level; false, with run.why Cancelled, when a
    // cancel cleared it.
    bool goOn(Extraction &run);

    // Marks in leftOut the facets that repeat an earlier one (the same three vertices in the same
    // turn); facets marked already are passed over.
    void markRepeatedFacets(std::vector<bool> &leftOut) const;
    // Walks one contour from the start record into trace.points; true when it closed.
    bool walkContour(quint32 start, LevelTrace &trace);
    // Across the crack at the current record, to the nearest unused end of the same crack.
    Step crackHop(quint32 current, LevelTrace &trace);
    // Across the edge at the current record (its id and flags given), to the neighbour facet that
    // continues the surface.
    Step nextNeighbour(quint32 current, quint32 currentId, quint8 currentFlags, quint32 start,
                       LevelTrace &trace);
    // The crack records from the scan's start that the level cuts, into trace.ends.
    void collectCrackEnds(LevelTrace &trace) const;
    // Orients, simplifies and snaps the walked points and appends them to the slice as a contour,
    // unless too few points are left; counts the contour's area and what the tolerances took.
    void finishContour(QVector<Vector2f> &points, int vote, Slice &slice, LevelCounts &counts) const;

    // Corner words and record helpers; record access is bounds-checked (std::out_of_range).
    quint32 corner(quint32 id) const { return facetCorners[id]; }
    static quint32 nextId(quint32 id) { return (id & 2) ? id - 2 : id + 1; }
    static quint32 prevId(quint32 id) { return (id & 3) == 0 ? id + 2 : id - 1; }
    float height(quint32 index) const { return vertexHeights.at(index); }
    Vector3f vertex(quint32 index) const
    {
        const float z = height(index);
        return Vector3f(vertices[int(index)].x, vertices[int(index)].y, z);
    }
    quint32 idAt(quint32 pos) const { return edgeIds.at(pos); }
    quint8 flagsAt(quint32 pos) const { return edgeFlags.at(pos); }
    // The partner's position, the crack's name (Crack), the junction index (Junction) or the
    // record's own position (open).
    quint32 link(quint32 pos) const;
    quint32 positionOf(quint32 id) const { return positions.at(3 * (id >> 2) + (id & 3)); }
    bool isVisited(quint32 id) const { return visited.at(id >> 2) == generation; }
    void markVisited(quint32 id) { visited.at(id >> 2) = generation; }
    bool sameEdge(quint32 a, quint32 b) const;
    quint32 exitEdge(quint32 pos, float level) const;
    // The cut of half-edge id's edge with the level: true with the point when there is exactly one.
    bool cut(quint32 id, float level, Vector2f *point) const;
    void skipFacet(quint32 facet);
};

} // namespace geom
