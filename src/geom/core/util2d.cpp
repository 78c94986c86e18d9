#include "geom/core/util2d.h"
#include "geom/core/corelog.h"

#include "geom/core/util2d_p.h"

#include "geom/core/angles.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

namespace util2D {

using geom::Vector2d;
using geom::Vector2f;

namespace {

using detail::dot;
using detail::filtered;
using detail::relative;
using detail::single;
using detail::sqLength;
using detail::translated;

constexpr float kTolF = 1e-5f;
constexpr double kTolD = 1e-12;
// note: the squared on-line distance limit is the double product, one unit in the last place
// above 1e-10.
constexpr double kOnLineLimit = 1e-5 * 1e-5;
constexpr float kTwoPiF = 6.2831855f;

// The tolerance of a precision: 1e-5 for float, 1e-12 for double.
constexpr float toleranceOf(float)
{
    return kTolF;
}
constexpr double toleranceOf(double)
{
    return kTolD;
}

detail::Foot<Vector2d, double> footOnLine(const Vector2d &p, const Vector2d &b, const Vector2d &a)
{
    return detail::footOnLine(p, b, a, kTolD);
}

// The squared distance from p to the segment from a to b, in the precision S of the points.
template <typename P, typename S>
double squaredDistanceToSegment(const P &p, const P &b, const P &a)
{
    const P pp = relative(p, a);
    const P bb = relative(b, a);
    const S l = S(sqLength(bb));
    if (l <= toleranceOf(S()))
        return sqLength(pp);
    const S s = dot(bb, pp);
    if (s < S(0))
        return sqLength(pp);
    if (s > l)
        return sqLength(pp - bb);
    const S r = s / l;
    return sqLength(P(pp.x - r * bb.x, pp.y - r * bb.y));
}

// p - a and q - a have the same sign on each axis, zero counting as either sign.
template <typename P>
bool sameSigns(const P &p, const P &q, const P &a)
{
    const P pp = relative(p, a);
    const P qq = relative(q, a);
    return pp.x * qq.x >= 0 && pp.y * qq.y >= 0;
}

// 0 for a squared distance of at most 1e-12, else its root.
double rootOfSquared(double s)
{
    return s <= kTolD ? 0.0 : std::sqrt(s);
}

template <typename P, typename S>
Intersection<P> crossSegments(const P &a, const P &b, const P &c, const P &d)
{
    // Each segment runs from its end with the smaller x (the second end when both x are equal).
    const P l1 = a.x < b.x ? a : b;
    const P e1 = a.x < b.x ? b : a;
    const P l2 = c.x < d.x ? c : d;
    const P e2 = c.x < d.x ? d : c;
    if (e1.x < l2.x || e2.x < l1.x)
        return {};
    if (std::max(l1.y, e1.y) < std::min(l2.y, e2.y) || std::max(l2.y, e2.y) < std::min(l1.y, e1.y))
        return {};
    const P u = e1 - l1;
    const P v = e2 - l2;
    const S k = v.y * u.x - v.x * u.y;
    // note: the parallel limit is relative to the two lengths (a bound on the sine of the angle),
    // so short segments that cross at a clear angle are not taken for parallel ones.
    if (double(std::fabs(k)) <= double(toleranceOf(S())) * std::sqrt(sqLength(u) * sqLength(v)))
        return {};
    const S t = (v.x * (l1.y - l2.y) - v.y * (l1.x - l2.x)) / k;
    const S s = (u.x * (l1.y - l2.y) - (l1.x - l2.x) * u.y) / k;
    if (!(t >= 0 && t <= 1 && s >= 0 && s <= 1))
        return {};
    return single(P(l1.x + t * u.x, l1.y + t * u.y));
}

} // namespace

bool fuzzyEqual(float x, float y)
{
    return std::fabs(x - y) <= kTolF * std::min(std::fabs(x), std::fabs(y));
}

double distanceToLineSquared(const Vector2f &p, const Vector2f &a, const Vector2f &b)
{
    if (std::fabs(a.x - b.x) <= kTolF && std::fabs(a.y - b.y) <= kTolF)
        return sqLength(p - a);
    const Vector2f d = b - a;
    const Vector2f q = p - a;
    const float t = float(double(q.x * d.x + q.y * d.y) / sqLength(d));
    return sqLength(p - Vector2f(a.x + t * d.x, a.y + t * d.y));
}

double distanceToLine(const Vector2f &p, const Vector2f &a, const Vector2f &b)
{
    return std::sqrt(distanceToLineSquared(p, a, b));
}

double distanceToSegmentSquared(const Vector2f &p, const Vector2f &b, const Vector2f &a)
{
    return squaredDistanceToSegment<Vector2f, float>(p, b, a);
}

double distanceToSegmentSquared(const Vector2d &p, const Vector2d &b, const Vector2d &a)
{
    return squaredDistanceToSegment<Vector2d, double>(p, b, a);
}

double distanceToSegment(const Vector2f &p, const Vector2f &b, const Vector2f &a)
{
    return rootOfSquared(distanceToSegmentSquared(p, b, a));
}

double distanceToSegment(const Vector2d &p, const Vector2d &b, const Vector2d &a)
{
    return rootOfSquared(distanceToSegmentSquared(p, b, a));
}

double segmentDistanceSquared(const Vector2d &p0, const Vector2d &p1, const Vector2d &q0, const Vector2d &q1)
{
    const bool pPoint = p0 == p1;
    const bool qPoint = q0 == q1;
    if (pPoint && qPoint)
        return sqLength(p0 - q0);
    if (pPoint)
        return distanceToSegmentSquared(p0, q1, q0);
    if (qPoint)
        return distanceToSegmentSquared(q0, p1, p0);

    const Vector2d u = p1 - p0;
    const Vector2d v = q1 - q0;
    const Vector2d w = p0 - q0;
    const double uu = dot(u, u);
    const double uv = dot(u, v);
    const double vv = dot(v, v);
    const double uw = dot(u, w);
    const double vw = dot(v, w);
    const double k = uu * vv - uv * uv;
    double sN, sD = k, tN, tD = k;
    // note: k is uu * vv * sin^2 of the angle; comparing it with uu * vv keeps the parallel test
    // independent of the segments' size.
    if (k <= kTolD * uu * vv) {
        sN = 0.0;
        sD = 1.0;
        tN = vw;
        tD = vv;
    } else {
        sN = uv * vw - vv * uw;
        tN = uu * vw - uv * uw;
        if (sN < 0.0) {
            sN = 0.0;
            tN = vw;
            tD = vv;
        } else if (sN > sD) {
            sN = sD;
            tN = vw + uv;
            tD = vv;
        }
    }
    auto clampFirst = [&](double num) {
        if (num < 0.0) {
            sN = 0.0;
        } else if (num > uu) {
            sN = sD;
        } else {
            sN = num;
            sD = uu;
        }
    };
    if (tN < 0.0) {
        tN = 0.0;
        clampFirst(-uw);
    } else if (tN > tD) {
        tN = tD;
        clampFirst(uv - uw);
    }
    // Snap parameters that are zero up to rounding, relative to their denominators.
    const double sc = std::fabs(sN) <= kTolD * std::fabs(sD) ? 0.0 : sN / sD;
    const double tc = std::fabs(tN) <= kTolD * std::fabs(tD) ? 0.0 : tN / tD;
    return sqLength(Vector2d(w.x + sc * u.x - tc * v.x, w.y + sc * u.y - tc * v.y));
}

double segmentDistance(const Vector2d &p0, const Vector2d &p1, const Vector2d &q0, const Vector2d &q1)
{
    const double s = segmentDistanceSquared(p0, p1, q0, q1);
    return s <= double(kTolF) ? 0.0 : std::sqrt(s);
}

bool isOnLine(const Vector2f &p, const Vector2f &b, const Vector2f &a)
{
    // The differences are taken in float, as every translation into the base point's frame, and
    // widened afterwards.
    const Vector2f d = relative(b, a);
    const Vector2f q = relative(p, a);
    const double dx = d.x;
    const double dy = d.y;
    const double qx = q.x;
    const double qy = q.y;
    const double l = dx * dx + dy * dy;
    if (l > kTolD) {
        const double c = dx * qy - dy * qx;
        return c * c / l <= kOnLineLimit;
    }
    return qx * qx + qy * qy <= kOnLineLimit;
}

bool isSameDirection(const Vector2f &p, const Vector2f &q, const Vector2f &a, int flags)
{
    if (!(flags & 1) && !isOnLine(p, q, a))
        return false;
    return sameSigns(p, q, a);
}

bool isSameDirection(const Vector2d &p, const Vector2d &q, const Vector2d &a, int flags)
{
    if (!(flags & 1) && !isOnLine(Vector2f(p), Vector2f(q), Vector2f(a)))
        return false;
    return sameSigns(p, q, a);
}

bool isFartherOnRay(const Vector2f &p, const Vector2f &q, const Vector2f &a, int flags)
{
    if (!(flags & 2) && !isSameDirection(p, q, a, flags))
        return false;
    return sqLength(relative(q, a)) > sqLength(relative(p, a));
}

double segmentParameter(const Vector2d &point, const Vector2d &a, const Vector2d &b)
{
    if (std::fabs(point.x - a.x) <= kTolD && std::fabs(point.y - a.y) <= kTolD)
        return 0.0;
    if (std::fabs(point.x - b.x) <= kTolD && std::fabs(point.y - b.y) <= kTolD)
        return 1.0;
    if (std::fabs(b.x - a.x) > std::fabs(b.y - a.y))
        return (point.x - a.x) / (b.x - a.x);
    return (point.y - a.y) / (b.y - a.y);
}

bool isOnSegment(const Vector2d &p, const Vector2d &b, const Vector2d &a)
{
    if (!isOnLine(Vector2f(p), Vector2f(b), Vector2f(a)))
        return false;
    const double t = segmentParameter(p, a, b);
    return t >= 0.0 && t <= 1.0;
}

Vector2d closestPointOnSegment(const Vector2d &p, const Vector2d &a, const Vector2d &b)
{
    if (a == b)
        return a;
    const Vector2d d = b - a;
    const double t = dot(p - a, d) / sqLength(d);
    if (t < 0.0)
        return a;
    if (t > 1.0)
        return b;
    return Vector2d(a.x + t * d.x, a.y + t * d.y);
}

Intersection2d projectOnSegment(const Vector2d &p, const Vector2d &b, const Vector2d &a)
{
    return detail::segmentProjection(footOnLine(p, b, a));
}

Vector2d projectOnLine(const Vector2d &p, const Vector2d &b, const Vector2d &a)
{
    return footOnLine(p, b, a).point;
}

Intersection2d projectOnRay(const Vector2d &p, const Vector2d &b, const Vector2d &a)
{
    return detail::rayProjection(footOnLine(p, b, a), b, a);
}

Intersection2f intersectLines(const Vector2f &a, const Vector2f &b, const Vector2f &c, const Vector2f &d)
{
    const Vector2f u = b - a;
    const Vector2f v = d - c;
    const float num = (a.y - c.y) * v.x - (a.x - c.x) * v.y;
    const float den = u.x * v.y - u.y * v.x;
    const float t = float(double(num) / double(den));
    const Vector2f p(a.x + t * u.x, a.y + t * u.y);
    if (!std::isfinite(p.x) || !std::isfinite(p.y))
        return {};
    return single(p);
}

Intersection2d intersectLines(const Vector2d &a, const Vector2d &b, const Vector2d &c, const Vector2d &d)
{
    const Vector2d u = b - a;
    const Vector2d v = d - c;
    const double t = ((a.y - c.y) * v.x - (a.x - c.x) * v.y) / (u.x * v.y - u.y * v.x);
    const Vector2d p(a.x + t * u.x, a.y + t * u.y);
    if (!std::isfinite(p.x) || !std::isfinite(p.y))
        return {};
    return single(p);
}

Intersection2f intersectRaySegment(const Vector2f &a, const Vector2f &b, const Vector2f &c, const Vector2f &d)
{
    const Vector2f u = b - a;
    const Vector2f v = d - c;
    const float k = v.y * u.x - v.x * u.y;
    if (k == 0.0f)
        return {};
    const float t = (v.x * (a.y - c.y) - v.y * (a.x - c.x)) / k;
    const float s = (u.x * (a.y - c.y) - (a.x - c.x) * u.y) / k;
    if (!(t >= 0.0f) || !(s >= 0.0f && s <= 1.0f))
        return {};
    const Vector2f p(a.x + t * u.x, a.y + t * u.y);
    if (!std::isfinite(p.x) || !std::isfinite(p.y))
        return {};
    return single(p);
}

Intersection2f intersectSegmentLine(const Vector2f &a, const Vector2f &b, const Vector2f &c,
                                    const Vector2f &d)
{
    const Intersection2f r = intersectLines(a, b, c, d);
    if (r.count == 0 || !isFartherOnRay(r.first, b, a, 0))
        return {};
    return r;
}

Intersection2d intersectSegmentLine(const Vector2d &a, const Vector2d &b, const Vector2d &c,
                                    const Vector2d &d)
{
    const Intersection2d r = intersectLines(a, b, c, d);
    if (r.count == 0 || !isOnSegment(r.first, b, a))
        return {};
    return r;
}

Intersection2f intersectSegments(const Vector2f &a, const Vector2f &b, const Vector2f &c, const Vector2f &d)
{
    return crossSegments<Vector2f, float>(a, b, c, d);
}

Intersection2d intersectSegments(const Vector2d &a, const Vector2d &b, const Vector2d &c, const Vector2d &d)
{
    return crossSegments<Vector2d, double>(a, b, c, d);
}

Intersection2f intersectSegmentRectangle(const Vector2f &a, const Vector2f &b, const geom::Rectangle &r)
{
    const Vector2f lo = r.min();
    const Vector2f hi = r.max();
    const Vector2f corners[5] = {lo, Vector2f(hi.x, lo.y), hi, Vector2f(lo.x, hi.y), lo};
    for (int i = 0; i < 4; ++i) {
        const Intersection2f s = intersectSegments(a, b, corners[i], corners[i + 1]);
        if (s.count > 0)
            return s;
    }
    return {};
}

bool isOnCircle(const Vector2d &p, double radius, const Vector2d &centre)
{
    const Vector2d q = p - centre;
    return std::fabs(sqLength(q) - radius * radius) <= kTolD;
}

Vector2d closestPointOnCircle(const Vector2d &p, double radius, const Vector2d &centre)
{
    Vector2d u = p - centre;
    u.setLength(1.0);
    return Vector2d(centre.x + radius * u.x, centre.y + radius * u.y);
}

double arcParameter(const Vector2d &p, const Vector2d &centre, double start, double sweep)
{
    const float angle = std::atan2(float(p.y - centre.y), float(p.x - centre.x));
    float v = geom::wrapAngle(float(double(angle) - start));
    if (std::fabs(v) <= kTolF)
        return 0.0;
    if (std::fabs(v - float(sweep)) <= kTolF)
        return 1.0;
    if (sweep > 0.0) {
        if (v < 0.0f)
            v += kTwoPiF;
    } else if (v > 0.0f) {
        v -= kTwoPiF;
    }
    return double(v) / sweep;
}

bool isOnArc(const Vector2d &p, double start, double sweep, double radius, const Vector2d &centre, int flags)
{
    if (!(flags & 4) && !isOnCircle(p, radius, centre))
        return false;
    const double t = arcParameter(p, centre, start, sweep);
    return t > -double(kTolF) && t < 1.0 + double(kTolF);
}

Intersection2d circleIntersectCircle(double r1, const Vector2d &c1, double r2, const Vector2d &c2)
{
    const Vector2d c = c1 - c2;
    const double d = std::sqrt(sqLength(c));
    // An empty result holds c2 in both points: every point, zero or not, is translated back.
    const Intersection2d none(c2, c2, 0);
    if (d > r1 + r2)
        return none;
    if (std::fabs(r1 - r2) > d)
        return none;
    if (d <= kTolD && std::fabs(r1 - r2) <= kTolD)
        return none;
    if (std::fabs(d - r1 - r2) <= kTolD)
        return single(closestPointOnCircle(c, r2) + c2);
    const double a = (r2 * r2 - r1 * r1 + d * d) / (2.0 * d);
    if (!(a * a < r2 * r2)) {
        qCWarning(lcGeomCore) << "util2D::circleIntersectCircle() imaginary square root, no result";
        return none;
    }
    const double h = std::sqrt(r2 * r2 - a * a);
    const double ad = a / d;
    const double hd = h / d;
    const Vector2d first(ad * c.x + hd * c.y, ad * c.y + hd * -c.x);
    const Vector2d second(ad * c.x + hd * -c.y, ad * c.y + hd * c.x);
    return Intersection2d(first + c2, second + c2, 2);
}

Intersection2d intersectArcs(double start1, double sweep1, double r1, const Vector2d &c1, double start2,
                             double sweep2, double r2, const Vector2d &c2)
{
    return filtered(circleIntersectCircle(r1, c1, r2, c2), [&](const Vector2d &p) {
        return isOnArc(p, start1, sweep1, r1, c1, 4) && isOnArc(p, start2, sweep2, r2, c2, 4);
    });
}

Intersection2d intersectLineCircle(const Vector2d &a, const Vector2d &b, double radius,
                                   const Vector2d &centre)
{
    const Vector2d aa = a - centre;
    const Vector2d bb = b - centre;
    const Vector2d along = bb - aa;
    const double touch = double(kTolF);
    if (sqLength(along) <= kTolD) {
        // A line shorter than the tolerance is its start point: on the circle or not.
        if (std::fabs(std::sqrt(sqLength(aa)) - radius) <= touch)
            return single(a);
        return {};
    }
    Vector2d f = footOnLine(Vector2d(), bb, aa).point;
    const double e = std::sqrt(sqLength(f));
    if (std::fabs(e - radius) <= touch)
        return translated(single(f.setLength(radius)), centre);
    const double q = radius * radius - e * e;
    if (!(q >= 0.0))
        return {};
    Vector2d u = along;
    u.setLength(std::sqrt(q));
    return translated(Intersection2d(f - u, f + u, 2), centre);
}

Intersection2d intersectSegmentCircle(const Vector2d &a, const Vector2d &b, double radius,
                                      const Vector2d &centre)
{
    return filtered(intersectLineCircle(a, b, radius, centre),
                    [&](const Vector2d &p) { return isOnSegment(p, b, a); });
}

Intersection2d intersectSegmentArc(const Vector2d &a, const Vector2d &b, double start, double sweep,
                                   double radius, const Vector2d &centre)
{
    const Intersection2d r =
        filtered(intersectSegmentCircle(a - centre, b - centre, radius),
                 [&](const Vector2d &p) { return isOnArc(p, start, sweep, radius, Vector2d(), 4); });
    return r.count > 0 ? translated(r, centre) : r;
}

} // namespace util2D
