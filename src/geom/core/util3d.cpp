#include "geom/core/util3d.h"

#include "geom/core/util2d_p.h"

#include <cmath>
#include <limits>

namespace util2D {

using geom::Vector3f;

namespace {

using detail::dot;
using detail::filtered;
using detail::isOrigin;
using detail::relative;
using detail::single;
using detail::sqLength;
using detail::translated;

constexpr float kTolF = 1e-5f;
constexpr double kTolD = 1e-12;

Vector3f cross(const Vector3f &u, const Vector3f &v)
{
    return Vector3f(u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x);
}

bool isNullNormal(const Vector3f &n)
{
    return std::fabs(n.x) <= kTolF && std::fabs(n.y) <= kTolF && std::fabs(n.z) <= kTolF;
}

// a + t (b - a) with each coordinate formed as (b - a) t + a.
Vector3f along(const Vector3f &a, const Vector3f &b, float t)
{
    return Vector3f((b.x - a.x) * t + a.x, (b.y - a.y) * t + a.y, (b.z - a.z) * t + a.z);
}

// (b - a) x (c - a) of the triangle given as nine floats a, b, c: twice its area as a vector.
Vector3f areaVector(const float *abc)
{
    const Vector3f a(abc[0], abc[1], abc[2]);
    return cross(Vector3f(abc[3], abc[4], abc[5]) - a, Vector3f(abc[6], abc[7], abc[8]) - a);
}

// Half the length of m, its squares summed from z to x.
float halfLength(const Vector3f &m)
{
    return 0.5f * std::sqrt((m.z * m.z + m.y * m.y) + m.x * m.x);
}

float component(const Vector3f &v, int axis)
{
    return axis == 0 ? v.x : (axis == 1 ? v.y : v.z);
}

Intersection3f rayAxisPlane(const Vector3f &a, const Vector3f &b, float value, int axis)
{
    const float d = component(b, axis) - component(a, axis);
    if (std::fabs(d) <= kTolF)
        return {};
    const float t = (value - component(a, axis)) / d;
    if (!(t >= 0.0f))
        return {};
    return single(along(a, b, t));
}

detail::Foot<Vector3f, float> footOnLine(const Vector3f &p, const Vector3f &b, const Vector3f &a)
{
    return detail::footOnLine(p, b, a, kTolF);
}

// A ray or segment from a through b against the plane through o with normal n, in o's frame:
// the start aa, the direction d = b - a, den = d . n and num = -(aa . n), so that the crossing
// lies at the parameter num / den.
struct PlaneCut
{
    Vector3f aa;
    Vector3f d;
    float den;
    float num;

    PlaneCut(const Vector3f &a, const Vector3f &b, const Vector3f &n, const Vector3f &o)
        : aa(relative(a, o))
        , d(relative(b, o) - aa)
        , den(dot(d, n))
        , num(-dot(aa, n))
    {}

    // Parallel within the tolerance: no crossing at one parameter.
    bool parallel() const { return !(std::fabs(den) > kTolF); }
    // For a parallel cut: both ends when a-b lies in the plane exactly, else nothing.
    Intersection3f lyingIn(const Vector3f &a, const Vector3f &b) const
    {
        return num == 0.0f ? Intersection3f(a, b, 2) : Intersection3f();
    }
};

// The point at parameter t of segment a-b: nothing outside it (within the tolerance), an end when
// t reaches it or beyond, else inner(), the point inside.
template <typename Inner>
Intersection3f onSegment(float t, const Vector3f &a, const Vector3f &b, Inner inner)
{
    if (!(t >= -kTolF && t <= 1.0f + kTolF))
        return {};
    if (t <= 0.0f)
        return single(a);
    if (t >= 1.0f)
        return single(b);
    return inner();
}

// The cut of line a-b by the plane through o with normal n: nothing for a zero normal (it defines
// no plane; without this test every line would lie "in" it), the parallel answer, or else
// pick(cut, t) for the crossing at parameter t.
template <typename Pick>
Intersection3f cutByPlane(const Vector3f &a, const Vector3f &b, const Vector3f &n, const Vector3f &o,
                          Pick pick)
{
    if (isNullNormal(n))
        return {};
    const PlaneCut cut(a, b, n, o);
    if (cut.parallel())
        return cut.lyingIn(a, b);
    return pick(cut, cut.num / cut.den);
}

} // namespace

bool isOnLine(const Vector3f &p, const Vector3f &q, const Vector3f &a)
{
    return sqLength(cross(relative(p, a), relative(q, a))) <= kTolD;
}

bool isSameDirection(const Vector3f &p, const Vector3f &q, const Vector3f &a, int flags)
{
    if (!(flags & 1) && !isOnLine(p, q, a))
        return false;
    const Vector3f pp = relative(p, a);
    const Vector3f qq = relative(q, a);
    return pp.x * qq.x >= 0.0f && pp.y * qq.y >= 0.0f && pp.z * qq.z >= 0.0f;
}

bool isFartherOnRay(const Vector3f &p, const Vector3f &q, const Vector3f &a, int flags)
{
    if (!(flags & 2) && !isSameDirection(p, q, a, flags))
        return false;
    return sqLength(relative(q, a)) > sqLength(relative(p, a));
}

float normalParameter(const Vector3f &p, const Vector3f &n, const Vector3f &a)
{
    if (isNullNormal(n))
        return 0.0f;
    return float(double(dot(relative(p, a), n)) / sqLength(n));
}

Vector3f projectOnPlane(const Vector3f &p, const Vector3f &n, const Vector3f &a)
{
    const Vector3f q = relative(p, a);
    const float t = normalParameter(q, n);
    Vector3f r = q - n * t;
    if (!isOrigin(a))
        r += a;
    return r;
}

Intersection3f projectOnSegment(const Vector3f &p, const Vector3f &b, const Vector3f &a)
{
    return detail::segmentProjection(footOnLine(p, b, a));
}

Vector3f projectOnLine(const Vector3f &p, const Vector3f &b, const Vector3f &a)
{
    return footOnLine(p, b, a).point;
}

Intersection3f projectOnRay(const Vector3f &p, const Vector3f &b, const Vector3f &a)
{
    return detail::rayProjection(footOnLine(p, b, a), b, a);
}

bool isOnSphere(const Vector3f &p, double radius, const Vector3f &centre)
{
    const float s = float(sqLength(relative(p, centre)) - radius * radius);
    return std::fabs(s) <= kTolF;
}

Vector3f closestPointOnSphere(const Vector3f &p, double radius, const Vector3f &centre)
{
    Vector3f v = p - centre;
    v.setLength(radius);
    return centre + v;
}

Intersection3f intersectLineSphere(const Vector3f &a, const Vector3f &b, double radius,
                                   const Vector3f &centre)
{
    const Vector3f aa = relative(a, centre);
    const Vector3f d = relative(b, centre) - aa;
    const double qa = sqLength(d);
    if (qa <= kTolD) {
        // A line whose ends coincide has no direction: it is its start point.
        return isOnSphere(a, radius, centre) ? single(a) : Intersection3f();
    }
    const float qb = dot(aa, d);
    const double qc = sqLength(aa) - radius * radius;
    const double disc = double(qb * qb) - qc * qa;
    if (std::fabs(float(disc)) <= kTolF)
        return translated(single(aa + d * float(-double(qb) / qa)), centre);
    if (!(disc > 0.0))
        return {};
    const double s = std::sqrt(disc);
    const float tMinus = float((-double(qb) - s) / qa);
    const float tPlus = float((-double(qb) + s) / qa);
    // The root of smaller magnitude first: the crossing nearer to a.
    const float t1 = qb < 0.0f ? tMinus : tPlus;
    const float t2 = qb < 0.0f ? tPlus : tMinus;
    return translated(Intersection3f(aa + d * t1, aa + d * t2, 2), centre);
}

Intersection3f intersectLineSphere(const Vector3f &a, const Vector3f &b, const geom::Sphere &s)
{
    return intersectLineSphere(a, b, double(s.radius()), s.center());
}

Intersection3f intersectRaySphere(const Vector3f &a, const Vector3f &b, double radius, const Vector3f &centre)
{
    return filtered(intersectLineSphere(a, b, radius, centre),
                    [&](const Vector3f &p) { return isSameDirection(p, b, a, 1); });
}

Intersection3f intersectRaySphere(const Vector3f &a, const Vector3f &b, const geom::Sphere &s)
{
    return intersectRaySphere(a, b, double(s.radius()), s.center());
}

Intersection3f intersectSegmentSphere(const Vector3f &a, const Vector3f &b, double radius,
                                      const Vector3f &centre)
{
    return filtered(intersectLineSphere(a, b, radius, centre),
                    [&](const Vector3f &p) { return isFartherOnRay(p, b, a, 1); });
}

Intersection3f intersectSegmentSphere(const Vector3f &a, const Vector3f &b, const geom::Sphere &s)
{
    return intersectSegmentSphere(a, b, double(s.radius()), s.center());
}

Intersection3f intersectRayPlane(const Vector3f &a, const Vector3f &b, const Vector3f &n, const Vector3f &o)
{
    return cutByPlane(a, b, n, o, [&](const PlaneCut &cut, float t) -> Intersection3f {
        if (t > kTolF)
            return translated(single(cut.aa + cut.d * t), o);
        if (t >= -kTolF)
            return single(a);
        return {};
    });
}

Intersection3f intersectSegmentPlane(const Vector3f &a, const Vector3f &b, const Vector3f &n,
                                     const Vector3f &o)
{
    return cutByPlane(a, b, n, o, [&](const PlaneCut &cut, float t) {
        return onSegment(t, a, b, [&] { return translated(single(cut.aa + cut.d * t), o); });
    });
}

Intersection3f intersectRayXPlane(const Vector3f &a, const Vector3f &b, float value)
{
    return rayAxisPlane(a, b, value, 0);
}

Intersection3f intersectRayYPlane(const Vector3f &a, const Vector3f &b, float value)
{
    return rayAxisPlane(a, b, value, 1);
}

Intersection3f intersectRayZPlane(const Vector3f &a, const Vector3f &b, float value)
{
    return rayAxisPlane(a, b, value, 2);
}

Intersection3f intersectSegmentZPlane(const Vector3f &a, const Vector3f &b, float z)
{
    const float dz = b.z - a.z;
    if (std::fabs(dz) <= kTolF) {
        if (fuzzyEqual(a.z, z))
            return single(a);
        if (fuzzyEqual(b.z, z))
            return single(b);
        return {};
    }
    const float t = (z - a.z) / dz;
    return onSegment(t, a, b, [&] { return single(along(a, b, t)); });
}

Intersection3f intersectRayTriangle(const Vector3f &origin, const Vector3f &direction, const Vector3f &a,
                                    const Vector3f &b, const Vector3f &c)
{
    const Vector3f e1 = b - a;
    const Vector3f e2 = c - a;
    const Vector3f p = cross(direction, e2);
    const float det = dot(e1, p);
    // note: det is the determinant of (direction, e1, e2); its limit scales with the three lengths,
    // so small facets and long picking rays are judged by their angle, not by their size.
    const double scale = std::sqrt(sqLength(direction) * sqLength(e1) * sqLength(e2));
    if (!(double(det) > double(kTolF) * scale))
        return {};
    const Vector3f s = origin - a;
    const float u = dot(s, p);
    if (u < 0.0f || u > det)
        return {};
    const Vector3f q = cross(s, e1);
    const float w = dot(direction, q);
    if (w < 0.0f || u + w > det)
        return {};
    // t is the ray parameter scaled by det; the limit behind the origin is scaled alike.
    const float t = dot(e2, q);
    if (t < -kTolF * det)
        return {};
    return single(Vector3f((direction.x * t) / det + origin.x, (direction.y * t) / det + origin.y,
                           (direction.z * t) / det + origin.z));
}

float triangleArea(const float *abc)
{
    return halfLength(areaVector(abc));
}

namespace {

// triangleNormal of a triangle whose cross product has a float square that underflows or
// overflows: scaled in double, so that a real facet keeps its direction; a zero or non-finite
// cross product keeps the non-finite quotient. The cross product is formed again, so that the
// common case keeps nothing for this one.
Vector3f extremeTriangleNormal(const Vector3f &a, const Vector3f &b, const Vector3f &c)
{
    const Vector3f m = cross(b - a, c - a);
    const Vector3f u = geom::withLength(m, 1.0);
    return u == Vector3f::Zero ? m / std::sqrt(dot(m, m)) : u;
}

} // namespace

Vector3f triangleNormal(const Vector3f &a, const Vector3f &b, const Vector3f &c)
{
    const Vector3f m = cross(b - a, c - a);
    const float q = dot(m, m);
    // note: the float squares of a cross product below about 1e-19 underflow and those above about
    // 1e19 overflow.
    if (q >= std::numeric_limits<float>::min() && q <= std::numeric_limits<float>::max())
        return m / std::sqrt(q);
    return extremeTriangleNormal(a, b, c);
}

void triangleAreaVolume(float &area, float &volume, const float *abc, const Vector3f &origin)
{
    const Vector3f m = areaVector(abc);
    area = halfLength(m);
    const float length = std::sqrt(dot(m, m));
    // A degenerate triangle has no direction; it adds no volume rather than a NaN.
    if (length == 0.0f) {
        volume = 0.0f;
        return;
    }
    const Vector3f u = m / length;
    const Vector3f w = Vector3f(abc[0], abc[1], abc[2]) - origin;
    volume = (((u.z * w.z + u.y * w.y) + u.x * w.x) * area) / 3.0f;
}

} // namespace util2D
