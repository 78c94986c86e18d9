#pragma once

#include "geom/core/rectangle.h"
#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"

// Stateless geometric tests and constructions of the plane on geom::Vector2f (single precision)
// and geom::Vector2d (double precision) points; the space counterparts are in util3d.h. All are
// pure; any thread may call them.
//
// Conventions: the last point argument of most functions is a base point (the start a of a
// segment "p, b, a", a centre); when it is not exactly zero the function works in the frame where
// it is the origin and adds it back to the points it returns. Tolerances are absolute unless a
// function says otherwise: 1e-5 for float, 1e-12 for double.
namespace util2D {

// The result of an intersection or projection: count 0 (no point; both points zero unless a
// function says otherwise), 1 (one point, stored in first and second) or 2 (two points).
template <typename P>
struct Intersection
{
    P first;
    P second;
    int count = 0;

    Intersection() = default;
    Intersection(const P &a, const P &b, int n)
        : first(a)
        , second(b)
        , count(n)
    {}

    // Adds a candidate point: the first becomes first and second; a later one equal to first in
    // every coordinate is ignored, any other becomes second. A third point is ignored.
    void add(const P &p)
    {
        if (count == 0) {
            first = second = p;
            count = 1;
        } else if (count == 1 && !(p == first)) {
            second = p;
            count = 2;
        }
    }
};

using Intersection2f = Intersection<geom::Vector2f>;
using Intersection2d = Intersection<geom::Vector2d>;

// |x - y| <= 1e-5 * min(|x|, |y|) in float, without an exact-equality shortcut: two equal
// infinities are not equal, and only an exact zero equals zero.
bool fuzzyEqual(float x, float y);

// Squared distance from p to the infinite line through a and b, in double; a line whose ends lie
// within 1e-5 on both axes is taken as the point a.
double distanceToLineSquared(const geom::Vector2f &p, const geom::Vector2f &a, const geom::Vector2f &b);
// Square root of distanceToLineSquared.
double distanceToLine(const geom::Vector2f &p, const geom::Vector2f &a, const geom::Vector2f &b);

// Squared distance from p to the segment from a to b, in double; a segment whose squared length is
// at most 1e-5 (float) or 1e-12 (double) is taken as the point a.
double distanceToSegmentSquared(const geom::Vector2f &p, const geom::Vector2f &b,
                                const geom::Vector2f &a = geom::Vector2f::Zero);
double distanceToSegmentSquared(const geom::Vector2d &p, const geom::Vector2d &b,
                                const geom::Vector2d &a = geom::Vector2d::Zero);
// Distance from p to the segment a-b; 0 when the squared distance is at most 1e-12.
double distanceToSegment(const geom::Vector2f &p, const geom::Vector2f &b,
                         const geom::Vector2f &a = geom::Vector2f::Zero);
double distanceToSegment(const geom::Vector2d &p, const geom::Vector2d &b,
                         const geom::Vector2d &a = geom::Vector2d::Zero);

// Squared distance between the closest points of the segments p0-p1 and q0-q1, in double. Segments
// are taken as parallel when the sine of their angle is below 1e-6, whatever their length.
double segmentDistanceSquared(const geom::Vector2d &p0, const geom::Vector2d &p1, const geom::Vector2d &q0,
                              const geom::Vector2d &q1);
// Distance between the segments; 0 when the squared distance is at most 1e-5.
double segmentDistance(const geom::Vector2d &p0, const geom::Vector2d &p1, const geom::Vector2d &q0,
                       const geom::Vector2d &q1);

// True when p lies on the line through a and b: squared distance at most 1e-10 (absolute), from
// the float offsets b - a and p - a widened to double; when a and b coincide (squared length at
// most 1e-12), when p is that close to a.
bool isOnLine(const geom::Vector2f &p, const geom::Vector2f &b,
              const geom::Vector2f &a = geom::Vector2f::Zero);

// True when p - a and q - a point the same way componentwise (zero counts as either sign). Unless
// flags has bit 1, p must also lie on the line through a and q (isOnLine, on float copies).
bool isSameDirection(const geom::Vector2f &p, const geom::Vector2f &q,
                     const geom::Vector2f &a = geom::Vector2f::Zero, int flags = 0);
bool isSameDirection(const geom::Vector2d &p, const geom::Vector2d &q,
                     const geom::Vector2d &a = geom::Vector2d::Zero, int flags = 0);

// True when q lies strictly farther from a than p (squared distances in double). Unless flags has
// bit 2, isSameDirection (p, q, a, flags) must hold too.
bool isFartherOnRay(const geom::Vector2f &p, const geom::Vector2f &q,
                    const geom::Vector2f &a = geom::Vector2f::Zero, int flags = 0);

// The parameter of point along a-b by the axis on which b - a is longer: 0 within 1e-12 of a, 1
// within 1e-12 of b. Not guarded against a == b.
double segmentParameter(const geom::Vector2d &point, const geom::Vector2d &a, const geom::Vector2d &b);
// True when p lies on the line through a and b (isOnLine on float copies) with segmentParameter
// in [0, 1].
bool isOnSegment(const geom::Vector2d &p, const geom::Vector2d &b,
                 const geom::Vector2d &a = geom::Vector2d::Zero);
// The point of the segment a-b closest to p; a when a equals b exactly.
geom::Vector2d closestPointOnSegment(const geom::Vector2d &p, const geom::Vector2d &a,
                                     const geom::Vector2d &b);

// The foot of p on the line through a and b, in both points; count 1 when it lies within the
// segment a-b, else 0. A segment of squared length at most 1e-12 gives p itself with count 0.
Intersection2d projectOnSegment(const geom::Vector2d &p, const geom::Vector2d &b,
                                const geom::Vector2d &a = geom::Vector2d::Zero);
// The foot of p on the line through a and b (p itself for a degenerate line).
geom::Vector2d projectOnLine(const geom::Vector2d &p, const geom::Vector2d &b,
                             const geom::Vector2d &a = geom::Vector2d::Zero);
// As projectOnSegment, with count 1 for any foot on the ray from a through b.
Intersection2d projectOnRay(const geom::Vector2d &p, const geom::Vector2d &b,
                            const geom::Vector2d &a = geom::Vector2d::Zero);

// The crossing of the infinite lines a-b and c-d; empty for parallel lines (a non-finite point).
Intersection2f intersectLines(const geom::Vector2f &a, const geom::Vector2f &b, const geom::Vector2f &c,
                              const geom::Vector2f &d);
Intersection2d intersectLines(const geom::Vector2d &a, const geom::Vector2d &b, const geom::Vector2d &c,
                              const geom::Vector2d &d);
// The crossing of the ray from a through b with the segment c-d; empty when they are exactly
// parallel or the point is not finite.
Intersection2f intersectRaySegment(const geom::Vector2f &a, const geom::Vector2f &b, const geom::Vector2f &c,
                                   const geom::Vector2f &d);
// The crossing of the segment a-b with the infinite line c-d, kept only when it lies on the segment
// (float: on the way from a to b, b strictly farther).
Intersection2f intersectSegmentLine(const geom::Vector2f &a, const geom::Vector2f &b, const geom::Vector2f &c,
                                    const geom::Vector2f &d);
Intersection2d intersectSegmentLine(const geom::Vector2d &a, const geom::Vector2d &b, const geom::Vector2d &c,
                                    const geom::Vector2d &d);
// The crossing of the segments a-b and c-d (touching counts). Parallel and collinear segments give
// no point: those whose angle has a sine of at most 1e-5 (float) or 1e-12 (double), at any length.
Intersection2f intersectSegments(const geom::Vector2f &a, const geom::Vector2f &b, const geom::Vector2f &c,
                                 const geom::Vector2f &d);
Intersection2d intersectSegments(const geom::Vector2d &a, const geom::Vector2d &b, const geom::Vector2d &c,
                                 const geom::Vector2d &d);
// The first crossing of the segment a-b with the edges of r, tried bottom, right, top, left; the
// first edge that is crossed decides (not the crossing nearest to a). count 0 when none is crossed.
Intersection2f intersectSegmentRectangle(const geom::Vector2f &a, const geom::Vector2f &b,
                                         const geom::Rectangle &r);

// True when |x^2 + y^2 - radius^2| <= 1e-12 for p - centre (absolute on the squares).
bool isOnCircle(const geom::Vector2d &p, double radius, const geom::Vector2d &centre = geom::Vector2d::Zero);
// The point of the circle nearest to p; the centre when p is the centre (within 1e-6).
geom::Vector2d closestPointOnCircle(const geom::Vector2d &p, double radius,
                                    const geom::Vector2d &centre = geom::Vector2d::Zero);
// The position of p's angle about centre on the arc from start over sweep (radians, counter-
// clockwise positive): 0 at the start, 1 at the end (each within 1e-5 rad). A sweep of 0 is not
// guarded; a non-finite angle gives NaN.
double arcParameter(const geom::Vector2d &p, const geom::Vector2d &centre, double start, double sweep);
// True when p lies on the arc: on the circle (skipped when flags has bit 4) and with an
// arcParameter strictly within (-1e-5, 1 + 1e-5).
bool isOnArc(const geom::Vector2d &p, double start, double sweep, double radius, const geom::Vector2d &centre,
             int flags = 0);
// The points common to two circles: none when apart, nested or identical, one when touching from
// outside, else two. A chord that comes out imaginary (circles touching from inside) is reported
// with a warning and gives none. An empty result holds c2 in both points.
Intersection2d circleIntersectCircle(double r1, const geom::Vector2d &c1, double r2,
                                     const geom::Vector2d &c2);
// The points of circleIntersectCircle that lie on both arcs.
Intersection2d intersectArcs(double start1, double sweep1, double r1, const geom::Vector2d &c1, double start2,
                             double sweep2, double r2, const geom::Vector2d &c2);
// The points where the infinite line a-b meets the circle: one when it touches (within 1e-5), two
// ordered along a-b, or none. A line whose ends coincide (within 1e-6) is its start point, returned
// when it lies on the circle within 1e-5.
Intersection2d intersectLineCircle(const geom::Vector2d &a, const geom::Vector2d &b, double radius,
                                   const geom::Vector2d &centre = geom::Vector2d::Zero);
// The points of intersectLineCircle that lie on the segment a-b.
Intersection2d intersectSegmentCircle(const geom::Vector2d &a, const geom::Vector2d &b, double radius,
                                      const geom::Vector2d &centre = geom::Vector2d::Zero);
// The points of intersectSegmentCircle that lie on the arc from start over sweep.
Intersection2d intersectSegmentArc(const geom::Vector2d &a, const geom::Vector2d &b, double start,
                                   double sweep, double radius,
                                   const geom::Vector2d &centre = geom::Vector2d::Zero);

} // namespace util2D
