#pragma once

#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"

#include <QVector>

namespace geom {

template <typename P>
struct PointRingPrivate;

// Per-vertex tables of a closed polygon (its last point joins the first): the unit direction of
// the edge leaving each vertex, the unit bisector of each corner and the corner angle, the
// quantities offsetting works from. Instantiated for Vector2f and Vector2d points; angles are
// doubles in either. Not copyable.
template <typename P>
class PointRing
{
public:
    // An empty ring.
    PointRing();
    explicit PointRing(const QVector<P> &points);
    ~PointRing();
    PointRing(const PointRing &) = delete;
    PointRing &operator=(const PointRing &) = delete;

    // Rebuilds the tables for the ring of n points (none for n < 1 or a null array).
    void setPoints(const QVector<P> &points);
    void setPoints(const P *points, int n);

    // Per vertex k: the angle in [-pi, pi] from the outgoing edge to the reversed incoming edge
    // (pi/2 at the corners of a counter-clockwise square, negative at reflex corners, +-pi at a
    // straight vertex).
    const QVector<double> &angles() const;
    // Per vertex: unit(outgoing - incoming direction), pointing into a counter-clockwise ring at a
    // convex corner; zero at a straight or degenerate corner.
    const QVector<P> &bisectors() const;
    // Per vertex: the unit direction to the next vertex; zero for a degenerate edge.
    const QVector<P> &edges() const;

private:
    PointRingPrivate<P> *const d;
};

extern template class PointRing<Vector2f>;
extern template class PointRing<Vector2d>;

} // namespace geom
