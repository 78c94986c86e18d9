#pragma once

#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"

#include <QMultiMap>
#include <QVector>

namespace geom {

// The corner of one vertex of a closed polygon: its angle in radians (pi/2 at a square's corner,
// positive at the convex corners of a counter-clockwise ring, negative at its reflex corners, 0 at
// a spike that turns straight back, pi at a straight vertex), the unit direction of the edge
// leaving it and the unit bisector of the turn (into a counter-clockwise ring at a convex corner).
template <typename P>
struct CornerRecord
{
    double angle = 0.0;
    P edge;
    P bisector;

    CornerRecord() = default;
    // The record of a direction u: angle -atan2(u.y, u.x), edge u, no bisector.
    explicit CornerRecord(const P &u);
};

// One corner record per point of the closed polygon; one zero record for a single point, none for
// no points. Degenerate edges get the direction (0, 0).
template <typename P>
QVector<CornerRecord<P>> cornerRecords(const QVector<P> &points);

template <typename P>
struct ContourOffsetterPrivate;

// Works out the extra points that belong around the sharp corners of a closed polygon offset by a
// distance: prolonged edges (extendCorners), mitre points (mitreCorners) or points on the edge lines
// moved sideways (tangentCorners). It does not rebuild the contour: each builder returns, per vertex
// index, the points of that vertex in path order (QMultiMap walks the values of a key newest first,
// and they are inserted from the outgoing to the incoming side). Vertex 0 is always opened up: the
// point before it on its outgoing edge's line goes under key 0, the point after it on its incoming
// edge's line under key n. Other vertices are treated when their absolute angle is below maxAngle;
// those of at least midAngle get a middle point. Instantiated for Vector2f and Vector2d; not
// copyable.
template <typename P>
class ContourOffsetter
{
public:
    // maxAngle and distance as given (nothing clamped); midAngle pi/2.
    ContourOffsetter(double maxAngle, double distance);
    ~ContourOffsetter();
    ContourOffsetter(const ContourOffsetter &) = delete;
    ContourOffsetter &operator=(const ContourOffsetter &) = delete;

    // maxAngle = the larger of 1e-12 and value.
    void setMaxAngle(double value);
    // maxAngle = value clamped into [0, pi] (NaN gives 0); midAngle lowered to it when above.
    void setAngleLimit(double value);
    // midAngle = value clamped into [0, maxAngle] (NaN gives 0).
    void setMidAngle(double value);
    double maxAngle() const;
    double midAngle() const;
    // The corner records of the polygon last given to a builder.
    const QVector<CornerRecord<P>> &corners() const;

    // Each takes a closed polygon without a repeated closing point. Fewer than three points give an
    // empty map and leave corners() as they were.
    // Prolonged edges: at a corner below midAngle the two edge points, else those joined by the
    // corner of a square; a spike gets the one point twice the distance back along the bisector.
    QMultiMap<int, P> extendCorners(const QVector<P> &points);
    // Points on the two edge lines moved sideways by the distance and pushed along them by the
    // distance times tan((pi - |angle|) / 4), with the spike's point between them from midAngle on.
    QMultiMap<int, P> tangentCorners(const QVector<P> &points);
    // The feet of the mitre point on both edge lines, with the point beyond the mitre between them
    // from midAngle on; a corner whose half-angle sine is below 1e-5 gets the spike's point.
    QMultiMap<int, P> mitreCorners(const QVector<P> &points);

private:
    template <typename Corner>
    QMultiMap<int, P> build(const QVector<P> &points, Corner corner);

    ContourOffsetterPrivate<P> *const d;
};

extern template struct CornerRecord<Vector2f>;
extern template struct CornerRecord<Vector2d>;
extern template QVector<CornerRecord<Vector2f>> cornerRecords<Vector2f>(const QVector<Vector2f> &);
extern template QVector<CornerRecord<Vector2d>> cornerRecords<Vector2d>(const QVector<Vector2d> &);
extern template class ContourOffsetter<Vector2f>;
extern template class ContourOffsetter<Vector2d>;

} // namespace geom
