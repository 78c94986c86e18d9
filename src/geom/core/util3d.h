#pragma once

#include "geom/core/sphere.h"
#include "geom/core/util2d.h"
#include "geom/core/vector3f.h"

// Stateless tests and constructions of space on geom::Vector3f points: lines, rays, segments,
// planes, spheres and triangles. The conventions of util2d.h hold: the last point argument is the
// base point of the construction (origin of a line or ray, point of a plane, centre of a sphere),
// arithmetic is single precision unless a function says double, tolerances are 1e-5 (float) and
// 1e-12 (double). A ray "a, b" starts at a and passes through b; a segment "a, b" runs from a to b.
namespace util2D {

using Intersection3f = Intersection<geom::Vector3f>;

// True when |(p - a) x (q - a)|^2 <= 1e-12, the cross product in float, its square in double. The
// limit is absolute, so it tightens as the vectors grow.
bool isOnLine(const geom::Vector3f &p, const geom::Vector3f &q,
              const geom::Vector3f &a = geom::Vector3f::Zero);
// True when p - a and q - a have the same sign on every axis (zero counts as either). Unless flags
// has bit 1, isOnLine (p, q, a) must hold too.
bool isSameDirection(const geom::Vector3f &p, const geom::Vector3f &q,
                     const geom::Vector3f &a = geom::Vector3f::Zero, int flags = 0);
// True when q lies strictly farther from a than p (in double). Unless flags has bit 2,
// isSameDirection (p, q, a, flags) must hold too.
bool isFartherOnRay(const geom::Vector3f &p, const geom::Vector3f &q,
                    const geom::Vector3f &a = geom::Vector3f::Zero, int flags = 0);

// The t for which a + t n is the foot of p on the line through a along n; 0 when every component
// of n is within 1e-5 of zero.
float normalParameter(const geom::Vector3f &p, const geom::Vector3f &n,
                      const geom::Vector3f &a = geom::Vector3f::Zero);
// The foot of p on the plane through a with normal n (p itself for a zero normal).
geom::Vector3f projectOnPlane(const geom::Vector3f &p, const geom::Vector3f &n,
                              const geom::Vector3f &a = geom::Vector3f::Zero);
// The foot of p on the line through a and b, in both points; count 1 when it lies within the
// segment. A segment of squared length at most 1e-5 gives p itself with count 0.
Intersection3f projectOnSegment(const geom::Vector3f &p, const geom::Vector3f &b,
                                const geom::Vector3f &a = geom::Vector3f::Zero);
// The foot of p on the line through a and b (p itself for a degenerate line).
geom::Vector3f projectOnLine(const geom::Vector3f &p, const geom::Vector3f &b,
                             const geom::Vector3f &a = geom::Vector3f::Zero);
// As projectOnSegment, with count 1 for any foot on the ray from a through b.
Intersection3f projectOnRay(const geom::Vector3f &p, const geom::Vector3f &b,
                            const geom::Vector3f &a = geom::Vector3f::Zero);

// True when |x^2 + y^2 + z^2 - radius^2| of p - centre (formed in double, rounded to float) is at
// most 1e-5.
bool isOnSphere(const geom::Vector3f &p, double radius, const geom::Vector3f &centre = geom::Vector3f::Zero);
// The point of the sphere nearest to p; the centre when p is the centre (within 1e-6).
geom::Vector3f closestPointOnSphere(const geom::Vector3f &p, double radius,
                                    const geom::Vector3f &centre = geom::Vector3f::Zero);

// Where the infinite line through a and b meets the sphere: two points, first the one nearer to a
// along the line; one when it touches (discriminant within 1e-5); none when it misses. A line whose
// ends coincide is its start point, returned when it lies on the sphere.
Intersection3f intersectLineSphere(const geom::Vector3f &a, const geom::Vector3f &b, double radius,
                                   const geom::Vector3f &centre = geom::Vector3f::Zero);
Intersection3f intersectLineSphere(const geom::Vector3f &a, const geom::Vector3f &b, const geom::Sphere &s);
// The points of intersectLineSphere on the ray from a through b (same direction on every axis).
Intersection3f intersectRaySphere(const geom::Vector3f &a, const geom::Vector3f &b, double radius,
                                  const geom::Vector3f &centre = geom::Vector3f::Zero);
Intersection3f intersectRaySphere(const geom::Vector3f &a, const geom::Vector3f &b, const geom::Sphere &s);
// The points of intersectLineSphere on the segment a-b, b itself excluded.
Intersection3f intersectSegmentSphere(const geom::Vector3f &a, const geom::Vector3f &b, double radius,
                                      const geom::Vector3f &centre = geom::Vector3f::Zero);
Intersection3f intersectSegmentSphere(const geom::Vector3f &a, const geom::Vector3f &b,
                                      const geom::Sphere &s);

// Where the ray from a through b meets the plane through o with normal n: a itself when a lies in
// the plane (parameter within 1e-5), a and b (count 2) when the ray lies in it, none for a zero
// normal, a parallel ray or a plane behind a.
Intersection3f intersectRayPlane(const geom::Vector3f &a, const geom::Vector3f &b, const geom::Vector3f &n,
                                 const geom::Vector3f &o = geom::Vector3f::Zero);
// Where the segment a-b meets the plane: a or b when the crossing is within 1e-5 of or beyond an
// end, a and b (count 2) when the segment lies in the plane, none when it stays on one side or the
// normal is zero.
Intersection3f intersectSegmentPlane(const geom::Vector3f &a, const geom::Vector3f &b,
                                     const geom::Vector3f &n, const geom::Vector3f &o = geom::Vector3f::Zero);
// Where the ray from a through b reaches the plane x = value (y = value, z = value): none when the
// ray runs within 1e-5 of parallel to it or away from it. No upper limit on the parameter.
Intersection3f intersectRayXPlane(const geom::Vector3f &a, const geom::Vector3f &b, float value);
Intersection3f intersectRayYPlane(const geom::Vector3f &a, const geom::Vector3f &b, float value);
Intersection3f intersectRayZPlane(const geom::Vector3f &a, const geom::Vector3f &b, float value);
// Where the segment a-b crosses the plane at height z: a or b when the crossing is within 1e-5 of an
// end; for a flat segment (|dz| <= 1e-5) the end that lies at z by fuzzyEqual, a first, never both.
Intersection3f intersectSegmentZPlane(const geom::Vector3f &a, const geom::Vector3f &b, float z);

// Where the ray from origin along direction hits the triangle a, b, c from its front (the side its
// normal (b - a) x (c - a) faces). Triangles seen from behind, rays parallel to the plane (sine of
// the angle within about 1e-5) and hits behind the origin give none; edges count as hits.
Intersection3f intersectRayTriangle(const geom::Vector3f &origin, const geom::Vector3f &direction,
                                    const geom::Vector3f &a, const geom::Vector3f &b,
                                    const geom::Vector3f &c);

// Area of the triangle given as nine floats (corners a, b, c); reads exactly those nine.
float triangleArea(const float *abc);
// Unit normal of the triangle a, b, c in float; a cross product that is zero or not finite gives
// non-finite components. A cross product whose float squares underflow or overflow is scaled in
// double, so a tiny or huge triangle keeps its normal.
geom::Vector3f triangleNormal(const geom::Vector3f &a, const geom::Vector3f &b, const geom::Vector3f &c);
// Area of the triangle (nine floats) and the signed volume of the tetrahedron from origin to it,
// positive when the triangle faces away from origin; a degenerate triangle gives 0 for both.
void triangleAreaVolume(float &area, float &volume, const float *abc,
                        const geom::Vector3f &origin = geom::Vector3f::Zero);

} // namespace util2D
