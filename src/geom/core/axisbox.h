#pragma once

// The per-axis rules shared by Rectangle and Cuboid. A box is a min corner and a max corner of a
// point type with float axes; every rule here works axis by axis, so one template serves both.

#include "geom/core/boundary.h"
#include "geom/core/fuzzy.h"
#include "geom/core/vector2f.h"
#include "geom/core/vector3f.h"

#include <QList>
#include <QMap>
#include <cfloat>
#include <cmath>

namespace geom {
namespace axisbox {

template <typename P>
struct Axes;

template <>
struct Axes<Vector2f>
{
    static constexpr int count = 2;
    static float &at(Vector2f &p, int i) { return i == 0 ? p.x : p.y; }
    static float at(const Vector2f &p, int i) { return i == 0 ? p.x : p.y; }
};

template <>
struct Axes<Vector3f>
{
    static constexpr int count = 3;
    static float &at(Vector3f &p, int i) { return i == 0 ? p.x : (i == 1 ? p.y : p.z); }
    static float at(const Vector3f &p, int i) { return i == 0 ? p.x : (i == 1 ? p.y : p.z); }
};

// The tolerance of the containment and clipping rules.
constexpr float tolerance = 1e-5f;

inline Boundary minFlag(int axis)
{
    return Boundary(1 << (2 * axis));
}
inline Boundary maxFlag(int axis)
{
    return Boundary(2 << (2 * axis));
}

// An extent is finite when its magnitude is at most FLT_MAX; infinities and NaN fail.
inline bool isFiniteExtent(float e)
{
    return std::fabs(e) <= FLT_MAX;
}

template <typename P>
void reset(P &mn, P &mx)
{
    for (int i = 0; i < Axes<P>::count; ++i) {
        Axes<P>::at(mn, i) = FLT_MAX;
        Axes<P>::at(mx, i) = -FLT_MAX;
    }
}

template <typename P>
bool isNull(const P &mn, const P &mx)
{
    for (int i = 0; i < Axes<P>::count; ++i) {
        if (!isFiniteExtent(Axes<P>::at(mx, i) - Axes<P>::at(mn, i)))
            return true;
    }
    return false;
}

template <typename P>
bool isValid(const P &mn, const P &mx)
{
    for (int i = 0; i < Axes<P>::count; ++i) {
        const float e = Axes<P>::at(mx, i) - Axes<P>::at(mn, i);
        if (!isFiniteExtent(e) || !(e > 0.0f))
            return false;
    }
    return true;
}

template <typename P>
void expand(P &mn, P &mx, const float *p)
{
    for (int i = Axes<P>::count - 1; i >= 0; --i) {
        if (Axes<P>::at(mn, i) > p[i])
            Axes<P>::at(mn, i) = p[i];
        if (p[i] > Axes<P>::at(mx, i))
            Axes<P>::at(mx, i) = p[i];
    }
}

template <typename P>
void expand(P &mn, P &mx, const float *points, int n)
{
    if (!points || n <= 0)
        return;
    for (int k = 0; k < n; ++k)
        expand(mn, mx, points + k * Axes<P>::count);
}

template <typename P>
void expand(P &mn, P &mx, const P &p)
{
    float c[Axes<P>::count];
    for (int i = 0; i < Axes<P>::count; ++i)
        c[i] = Axes<P>::at(p, i);
    expand(mn, mx, c);
}

template <typename P>
void normalize(P &mn, P &mx)
{
    for (int i = Axes<P>::count - 1; i >= 0; --i) {
        float &a = Axes<P>::at(mn, i);
        float &b = Axes<P>::at(mx, i);
        const float e = b - a;
        if (isFiniteExtent(e) && e < 0.0f) {
            const float t = a;
            a = b;
            b = t;
        }
    }
}

template <typename P>
void intersect(P &mn, P &mx, P omn, P omx)
{
    if (isNull(mn, mx))
        return;
    if (isNull(omn, omx)) {
        reset(mn, mx);
        return;
    }
    normalize(omn, omx);
    normalize(mn, mx);
    for (int i = Axes<P>::count - 1; i >= 0; --i) {
        float &a = Axes<P>::at(mn, i);
        float &b = Axes<P>::at(mx, i);
        if (Axes<P>::at(omn, i) > a)
            a = Axes<P>::at(omn, i);
        if (Axes<P>::at(omx, i) < b)
            b = Axes<P>::at(omx, i);
        if (a > b) {
            reset(mn, mx);
            return;
        }
    }
}

template <typename P>
void unite(P &mn, P &mx, P omn, P omx)
{
    if (isNull(omn, omx))
        return;
    if (isNull(mn, mx)) {
        mn = omn;
        mx = omx;
        return;
    }
    normalize(omn, omx);
    normalize(mn, mx);
    for (int i = 0; i < Axes<P>::count; ++i) {
        if (Axes<P>::at(omn, i) < Axes<P>::at(mn, i))
            Axes<P>::at(mn, i) = Axes<P>::at(omn, i);
        if (Axes<P>::at(omx, i) > Axes<P>::at(mx, i))
            Axes<P>::at(mx, i) = Axes<P>::at(omx, i);
    }
}

// u > v, or u and v equal by the float rule of Fuzzy.
inline bool aboveOrNear(float u, float v)
{
    return u > v || Fuzzy<float>(u) == v;
}

template <typename P>
bool containsPoint(const P &mn, const P &mx, const P &p)
{
    if (!isValid(mn, mx))
        return false;
    for (int i = 0; i < Axes<P>::count; ++i) {
        const float c = Axes<P>::at(p, i);
        if (!aboveOrNear(c, Axes<P>::at(mn, i)) || !aboveOrNear(Axes<P>::at(mx, i), c))
            return false;
    }
    return true;
}

template <typename P>
bool containsBox(const P &mn, const P &mx, const P &omn, const P &omx)
{
    if (!isValid(mn, mx) || !isValid(omn, omx))
        return false;
    for (int i = 0; i < Axes<P>::count; ++i) {
        if (!aboveOrNear(Axes<P>::at(omn, i), Axes<P>::at(mn, i)) ||
            !aboveOrNear(Axes<P>::at(mx, i), Axes<P>::at(omx, i)))
            return false;
    }
    return true;
}

template <typename P>
bool intersects(const P &mn, const P &mx, const P &omn, const P &omx)
{
    if (isNull(mn, mx) || isNull(omn, omx))
        return false;
    for (int i = 0; i < Axes<P>::count; ++i) {
        if (Axes<P>::at(mn, i) > Axes<P>::at(omx, i) || Axes<P>::at(omn, i) > Axes<P>::at(mx, i))
            return false;
    }
    return true;
}

// Both null, or every coordinate within 1e-5 (absolute).
template <typename P>
bool equal(const P &mn, const P &mx, const P &omn, const P &omx)
{
    if (isNull(mn, mx) && isNull(omn, omx))
        return true;
    for (int i = 0; i < Axes<P>::count; ++i) {
        if (!(std::fabs(Axes<P>::at(mn, i) - Axes<P>::at(omn, i)) <= tolerance) ||
            !(std::fabs(Axes<P>::at(mx, i) - Axes<P>::at(omx, i)) <= tolerance))
            return false;
    }
    return true;
}

template <typename P>
Boundaries outcode(const P &mn, const P &mx, const P &p)
{
    Boundaries code;
    for (int i = 0; i < Axes<P>::count; ++i) {
        const float c = Axes<P>::at(p, i);
        if (c < Axes<P>::at(mn, i))
            code |= minFlag(i);
        if (c > Axes<P>::at(mx, i))
            code |= maxFlag(i);
    }
    return code;
}

template <typename P>
P alignedPoint(const P &mn, const P &mx, Boundaries sides)
{
    P p;
    for (int i = 0; i < Axes<P>::count; ++i) {
        const bool lo = sides.testFlag(minFlag(i));
        const bool hi = sides.testFlag(maxFlag(i));
        if (lo && !hi)
            Axes<P>::at(p, i) = Axes<P>::at(mn, i);
        else if (hi && !lo)
            Axes<P>::at(p, i) = Axes<P>::at(mx, i);
        else
            Axes<P>::at(p, i) = (Axes<P>::at(mn, i) + Axes<P>::at(mx, i)) * 0.5f;
    }
    return p;
}

// The clipping tolerance: the larger magnitude times 1e-5, at least 1e-5.
inline float clipTolerance(float u, float v)
{
    const float m = std::fmax(std::fabs(u), std::fabs(v)) * tolerance;
    return m > tolerance ? m : tolerance;
}

template <typename P>
QList<P> clipSegment(const P &mn, const P &mx, const P &p0, const P &p1)
{
    constexpr int n = Axes<P>::count;
    const Boundaries c0 = outcode(mn, mx, p0);
    const Boundaries c1 = outcode(mn, mx, p1);
    const Boundaries either = c0 | c1;
    if (!either)
        return QList<P>{p0, p1};
    if (c0 & c1)
        return QList<P>();

    const P d = p1 - p0;
    // note: keyed by the segment parameter so the hits come out ordered from p0 to p1; a later side
    // hit at the same parameter (an exact corner) replaces the earlier one.
    QMap<float, P> hits;
    for (int a = 0; a < n; ++a) {
        const float da = Axes<P>::at(d, a);
        if (std::fabs(da) <= tolerance)
            continue;
        for (int side = 0; side < 2; ++side) {
            if (!(either & (side == 0 ? minFlag(a) : maxFlag(a))))
                continue;
            const float bound = side == 0 ? Axes<P>::at(mn, a) : Axes<P>::at(mx, a);
            const float t = (bound - Axes<P>::at(p0, a)) / da;
            if (!(t >= 0.0f && t < 1.0f))
                continue;
            P q;
            bool inside = true;
            for (int b = 0; b < n && inside; ++b) {
                if (b == a) {
                    Axes<P>::at(q, b) = bound;
                    continue;
                }
                const float qb = t * Axes<P>::at(d, b) + Axes<P>::at(p0, b);
                const float lo = Axes<P>::at(mn, b);
                const float hi = Axes<P>::at(mx, b);
                if (qb <= lo && std::fabs(lo - qb) > clipTolerance(qb, lo))
                    inside = false;
                else if (qb >= hi && std::fabs(qb - hi) > clipTolerance(qb, hi))
                    inside = false;
                Axes<P>::at(q, b) = qb;
            }
            if (inside)
                hits.insert(t, q);
        }
    }
    return hits.values();
}

} // namespace axisbox
} // namespace geom
