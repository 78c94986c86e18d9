#include "geom/core/vector3f.h"

#include <cmath>

namespace geom {

namespace {
// Squared lengths at or below this count as zero.
constexpr double ZeroSquaredLength = 1e-12;

double squaredLength(const Vector3f &v)
{
    const double x = v.x;
    const double y = v.y;
    const double z = v.z;
    return x * x + y * y + z * z;
}

// Each component times f in double, rounded to float.
Vector3f scaled(const Vector3f &v, double f)
{
    return Vector3f(float(double(v.x) * f), float(double(v.y) * f), float(double(v.z) * f));
}
} // namespace

double Vector3f::length() const
{
    const double s = squaredLength(*this);
    return s <= ZeroSquaredLength ? 0.0 : std::sqrt(s);
}

Vector3f &Vector3f::setLength(double l)
{
    const double s = squaredLength(*this);
    *this = s > ZeroSquaredLength ? scaled(*this, l / std::sqrt(s)) : Vector3f();
    return *this;
}

Vector3f &Vector3f::minimize(const Vector3f &v)
{
    if (x > v.x)
        x = v.x;
    if (y > v.y)
        y = v.y;
    if (z > v.z)
        z = v.z;
    return *this;
}

Vector3f &Vector3f::maximize(const Vector3f &v)
{
    if (x < v.x)
        x = v.x;
    if (y < v.y)
        y = v.y;
    if (z < v.z)
        z = v.z;
    return *this;
}

Vector3f lerp(const Vector3f &a, const Vector3f &b, float t)
{
    return a + (b - a) * t;
}

Vector3f projected(const Vector3f &a, const Vector3f &onto)
{
    const float la = float(a.length());
    const float lb = float(onto.length());
    if (la == 0.0f || lb == 0.0f)
        return Vector3f();
    const Vector3f u = onto / lb;
    const float d = ((a.x / la) * u.x + (a.y / la) * u.y + (a.z / la) * u.z) * la;
    return u * d;
}

Vector3f withLength(const Vector3f &v, double l)
{
    const double s = squaredLength(v);
    if (!(s > 0.0) || !std::isfinite(s))
        return Vector3f();
    return scaled(v, l / std::sqrt(s));
}

} // namespace geom
