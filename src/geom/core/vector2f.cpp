#include "geom/core/vector2f.h"

#include <cmath>

namespace geom {

namespace {
// Squared lengths at or below this count as zero.
constexpr double ZeroSquaredLength = 1e-12;
// The absolute tolerance of fuzzyCompare.
constexpr float PointTolerance = 1e-5f;
} // namespace

double Vector2f::length() const
{
    const double s = double(x) * double(x) + double(y) * double(y);
    return s <= ZeroSquaredLength ? 0.0 : std::sqrt(s);
}

Vector2f &Vector2f::setLength(double l)
{
    const double s = double(x) * double(x) + double(y) * double(y);
    if (!(s > ZeroSquaredLength)) {
        *this = Vector2f();
        return *this;
    }
    const double f = l / std::sqrt(s);
    x = float(double(x) * f);
    y = float(double(y) * f);
    return *this;
}

Vector2f &Vector2f::minimize(const Vector2f &v)
{
    if (x > v.x)
        x = v.x;
    if (y > v.y)
        y = v.y;
    return *this;
}

Vector2f &Vector2f::maximize(const Vector2f &v)
{
    if (x < v.x)
        x = v.x;
    if (y < v.y)
        y = v.y;
    return *this;
}

Vector2f &Vector2f::powAssign(int n)
{
    x = float(std::pow(double(x), double(n)));
    y = float(std::pow(double(y), double(n)));
    return *this;
}

Vector2f pow(const Vector2f &v, int n)
{
    return Vector2f(v).powAssign(n);
}

bool fuzzyCompare(const Vector2f &a, const Vector2d &b)
{
    const float dx = float(double(a.x) - b.x);
    if (!(std::fabs(dx) <= PointTolerance))
        return false;
    const float dy = float(double(a.y) - b.y);
    return std::fabs(dy) <= PointTolerance;
}

} // namespace geom
