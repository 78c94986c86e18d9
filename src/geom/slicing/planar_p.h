#pragma once

#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"

#include <cmath>

// What the planar contour operations share about their two point types: the scalar, the
// tolerance and the narrowing to single precision.
namespace geom {
namespace planar {

template <typename P>
struct PointTraits;

template <>
struct PointTraits<Vector2f>
{
    using Scalar = float;
    // The tolerance of float data.
    static constexpr float epsilon = 1e-5f;
    static Vector2f toFloat(const Vector2f &p) { return p; }
};

template <>
struct PointTraits<Vector2d>
{
    using Scalar = double;
    // The tolerance of double data.
    static constexpr double epsilon = 1e-12;
    static Vector2f toFloat(const Vector2d &p) { return Vector2f(p); }
};

// The single-precision 1e-5 widened to double (9.999999747378752e-06): the bound that both point
// types share where single-precision data is the norm.
constexpr double SingleTolerance = double(1e-5f);

// v * f with each product formed in double and stored in the point's precision.
template <typename P>
P scaled(const P &v, double f)
{
    using S = typename PointTraits<P>::Scalar;
    return P(S(double(v.x) * f), S(double(v.y) * f));
}

// The dot product in double.
template <typename P>
double dot(const P &a, const P &b)
{
    return double(a.x) * double(b.x) + double(a.y) * double(b.y);
}

// p + v * f with each product formed in double and stored in the point's precision, then added
// in that precision.
template <typename P>
P addScaled(const P &p, const P &v, double f)
{
    using S = typename PointTraits<P>::Scalar;
    return P(p.x + S(double(v.x) * f), p.y + S(double(v.y) * f));
}

// The squared length of v in double.
template <typename P>
double squaredLength(const P &v)
{
    return double(v.x) * double(v.x) + double(v.y) * double(v.y);
}

// The signed area of the closed ring of n points in double: positive when it runs
// counter-clockwise, 0 for fewer than 3 points.
template <typename P>
double signedArea(const P *points, int n)
{
    double twice = 0.0;
    for (int i = 0, j = n - 1; i < n; j = i++)
        twice += double(points[j].x) * double(points[i].y) - double(points[i].x) * double(points[j].y);
    return 0.5 * twice;
}

} // namespace planar
} // namespace geom
