#pragma once

#include "geom/core/facet.h"
#include "geom/core/vector2f.h"
#include "geom/core/vector3f.h"

#include <QList>
#include <QVector>

namespace geom {

class Contour;
class Slice;
class TessellatorPrivate;
template <typename T, int N>
struct TessellatorTraits;

// One GLU polygon tessellator: callers describe a polygon as contours of points (two or three
// coordinates of double, float or int), and GLU computes under the winding rule either the boundary
// of the selected region (boundary-only: closed loops) or its triangles. Needs no GL context. Calls
// that do not fit the state are ignored silently; contours holding a coordinate that is not finite
// (or beyond GLU's limit of 1e150) are skipped, so that only internal faults reach GLU's error
// callback, which ends the program with "Tessellation error %d". One thread at a time; no locks.
class Tessellator
{
public:
    // Coordinate type and dimension: even kinds are planar, odd kinds spatial.
    enum Kind
    {
        Double2D = 0,
        Double3D = 1,
        Float2D = 2,
        Float3D = 3,
        Int2D = 4,
        Int3D = 5,
    };
    // GLU's winding rules in GLU's order.
    enum WindingRule
    {
        Odd = 0,
        NonZero = 1,
        Positive = 2,
        Negative = 3,
        AbsGeqTwo = 4,
    };
    enum State
    {
        Idle = 0,
        InPolygon = 1,
        InContour = 2,
    };

    // A new GLU object, Idle, kind Float2D, boundary-only off, tolerance 0, z 0. A rule outside 0-4
    // is taken as Positive.
    explicit Tessellator(int windingRule = Positive);
    // Clears, then deletes the GLU object.
    ~Tessellator();
    Tessellator(const Tessellator &) = delete;
    Tessellator &operator=(const Tessellator &) = delete;

    // Properties: the setters apply only while Idle; GLU keeps them from polygon to polygon.
    // A rule outside 0-4 is ignored.
    void setWindingRule(int rule);
    int windingRule() const;
    // Clears the output first.
    void setBoundaryOnly(bool on);
    bool boundaryOnly() const;
    // GLU's merge tolerance, brought into [0, 1] (NaN gives 0).
    void setTolerance(double t);
    double tolerance() const;
    // The third coordinate given to GLU for planar kinds, and the z of what is made from the output.
    void setZ(double z);
    double z() const;
    // When on, a combine answers with one of GLU's four input vertices (the heaviest) instead of a
    // new vertex. Clears the output first.
    void setReuseVertices(bool on);
    bool reuseVertices() const;
    int state() const;
    int kind() const;

    // Building a polygon. beginPolygon works in every state: an open polygon is tessellated and
    // discarded first. normal: three doubles, or null for (0, 0, 1) (planar kinds) or GLU's own
    // choice (spatial kinds).
    void beginPolygon(int kind, const double *normal = nullptr);
    void beginContour();
    void endContour();
    // Runs GLU on the open polygon; every output callback runs inside this call.
    void endPolygon();
    // Feeds count points in the current kind's layout (N packed values of its type); a negative
    // count feeds -count points last to first. In InPolygon the contour is opened and closed here,
    // in InContour the points join the open contour. Ignored when Idle, for a null pointer or fewer
    // than three points. The points are not copied and must stay valid until the polygon ends.
    void addContour(const void *points, int count);
    // Converts one vertex to the kind's type, keeps it, and feeds it. Only in InContour.
    void addVertex(double x, double y, double z = 0.0);

    // Ends the polygon and returns the output: one vector of the kind's type per primitive GLU
    // reported (N values per vertex), owned by the tessellator until the next clear().
    const QList<void *> &result();
    // Ends the polygon, then drops all output and kept vertices.
    void clear();

    // Operations. Each GLU operation begins with clear() and ends Idle with its output held; the
    // properties it sets stay set.
    // Feeds the slice's contours as Float2D (reversed: last point first). When Idle it sets z to the
    // slice's z and opens and ends its own polygon; in an open Float2D polygon it feeds into it; in
    // a polygon of another kind it feeds nothing.
    void addSlice(const Slice &slice, bool reversed = false);
    // A flat slice at z with the thickness, one contour per output vector (z of spatial kinds
    // dropped); without contours unless Idle with output.
    Slice collect(float thickness) const;
    // The triangulation output as facets (first output vector; degenerate triangles skipped).
    QVector<Facet> facets() const;
    // Boundary of one contour under the winding rule, at the current z, thickness 0.
    Slice outlineContour(const QVector<Vector2f> &points);
    // Boundary of the slice's contours under the winding rule: overlapping contours merged.
    Slice outline(const Slice &slice);
    // Union (rule Positive), intersection (AbsGeqTwo) and difference (Positive, b reversed); the
    // result has a's z and thickness. The contour forms work at z 0, thickness 0.
    Slice unite(const Slice &a, const Slice &b);
    Slice intersect(const Slice &a, const Slice &b);
    Slice intersect(const Contour &a, const Contour &b);
    Slice subtract(const Slice &a, const Slice &b);
    Slice subtract(const Contour &a, const Contour &b);
    // Triangles as contours of three points at a time; contours whose area magnitude is at most
    // minArea are dropped, the rest ordered by decreasing area magnitude.
    Slice triangulate(const Slice &slice, double minArea);
    Slice triangulate(const Contour &contour, double minArea);
    // Facets at the slice's z facing up, or down when flip; degenerate triangles are kept.
    QList<Facet> triangulate(const Slice &slice, bool flip);
    QList<Facet> triangulate(const Contour &contour);
    // Facets of spatial contours, each its own GLU contour, with the given normal.
    QList<Facet> triangulate(const QList<QVector<Vector3f>> &contours, const Vector3f &normal);
    QList<Facet> triangulate(const QVector<Vector3f> &contour, const Vector3f &normal);

    // Triangles of a convex ring without GLU, 3(count - 2) points keeping the ring's orientation;
    // empty for fewer than three points or when memory runs out ("Tessellator:processConvexV Out of
    // memory").
    static QVector<Vector3f> processConvexV(const Vector3f *points, int count);
    static QVector<Vector3f> processConvexV(const QVector<Vector3f> &points);
    // The same triangles as facets with computed normals.
    static QList<Facet> processConvex(const QVector<Vector3f> &points);
    // The band of 2 count triangles between two rings of count corresponding points; a fan when one
    // ring collapses (its first two points within 1e-5), the cap of b when a is null. Empty for
    // fewer than three points or when memory runs out ("Tessellator:stitchConvexV Out of memory").
    static QVector<Vector3f> stitchConvexV(const Vector3f *a, const Vector3f *b, int count);

private:
    template <typename T, int N>
    friend struct TessellatorTraits;
    friend class TessellatorPrivate;
    TessellatorPrivate *const d;
};

} // namespace geom
