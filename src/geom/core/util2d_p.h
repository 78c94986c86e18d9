#pragma once

// Helpers shared by the plane and the space utilities (util2d.cpp, util3d.cpp); not part of the
// interface. The precision of every formula follows from the point type: float for Vector2f and
// Vector3f, double for Vector2d; squared lengths are always summed in double.

#include "geom/core/util2d.h"
#include "geom/core/util3d.h"

namespace util2D {
namespace detail {

inline double sqLength(const geom::Vector2f &v)
{
    return double(v.x) * double(v.x) + double(v.y) * double(v.y);
}
inline double sqLength(const geom::Vector2d &v)
{
    return v.x * v.x + v.y * v.y;
}
inline double sqLength(const geom::Vector3f &v)
{
    return (double(v.x) * double(v.x) + double(v.y) * double(v.y)) + double(v.z) * double(v.z);
}

inline float dot(const geom::Vector2f &u, const geom::Vector2f &v)
{
    return u.x * v.x + u.y * v.y;
}
inline double dot(const geom::Vector2d &u, const geom::Vector2d &v)
{
    return u.x * v.x + u.y * v.y;
}
inline float dot(const geom::Vector3f &u, const geom::Vector3f &v)
{
    return (u.x * v.x + u.y * v.y) + u.z * v.z;
}

// True when p is exactly the zero vector (-0 included): the frame of such a base point is the
// given one.
template <typename P>
bool isOrigin(const P &p)
{
    return p == P::Zero;
}

// p in the frame whose origin is base.
template <typename P>
P relative(const P &p, const P &base)
{
    return isOrigin(base) ? p : p - base;
}

template <typename P>
Intersection<P> single(const P &p)
{
    return Intersection<P>(p, p, 1);
}

// r with base added back to both of its points.
template <typename P>
Intersection<P> translated(Intersection<P> r, const P &base)
{
    if (!isOrigin(base)) {
        r.first += base;
        r.second += base;
    }
    return r;
}

// The points of candidates for which keep holds, added in order to a fresh result by the adding
// rule; a result without points is returned as it is.
template <typename P, typename Keep>
Intersection<P> filtered(const Intersection<P> &candidates, Keep keep)
{
    if (candidates.count == 0)
        return candidates;
    Intersection<P> r;
    const P points[2] = {candidates.first, candidates.second};
    for (int i = 0; i < candidates.count && i < 2; ++i) {
        if (keep(points[i]))
            r.add(points[i]);
    }
    return r;
}

// The foot of a point on the line from a through b, and its parameter t along b - a.
template <typename P, typename S>
struct Foot
{
    P point;
    S t = S(0);
    bool degenerate = false;
};

// The foot of p on the line from a through b, computed in a's frame: t = (p . b) / |b|^2 with
// |b|^2 summed in double and rounded to the scalar S. A line whose squared length is at most
// tolerance is degenerate, and its foot is p itself.
template <typename S, typename P>
Foot<P, S> footOnLine(const P &p, const P &b, const P &a, S tolerance)
{
    const P pp = relative(p, a);
    const P bb = relative(b, a);
    Foot<P, S> f;
    const S l = S(sqLength(bb));
    if (l <= tolerance) {
        f.point = p;
        f.degenerate = true;
        return f;
    }
    f.t = dot(pp, bb) / l;
    f.point = bb * f.t;
    if (!isOrigin(a))
        f.point += a;
    return f;
}

// The projection onto the segment: the foot in both points, count 1 when 0 <= t <= 1.
template <typename P, typename S>
Intersection<P> segmentProjection(const Foot<P, S> &f)
{
    return Intersection<P>(f.point, f.point, !f.degenerate && f.t >= S(0) && f.t <= S(1) ? 1 : 0);
}

// The projection onto the ray from a through b: as on the segment, and count 1 also for any foot
// in the direction of b. A degenerate ray gives p itself with count 0, as a degenerate segment.
template <typename P, typename S>
Intersection<P> rayProjection(const Foot<P, S> &f, const P &b, const P &a)
{
    Intersection<P> r = segmentProjection(f);
    if (!f.degenerate && r.count == 0 && isSameDirection(f.point, b, a, 1))
        r.count = 1;
    return r;
}

} // namespace detail
} // namespace util2D
