#include "geom/core/vector2d.h"

#include <cmath>

namespace geom {

namespace {
// Squared lengths at or below this count as zero.
constexpr double ZeroSquaredLength = 1e-12;
} // namespace

double Vector2d::length() const
{
    const double s = x * x + y * y;
    return s <= ZeroSquaredLength ? 0.0 : std::sqrt(s);
}

Vector2d &Vector2d::setLength(double l)
{
    const double s = x * x + y * y;
    if (!(s > ZeroSquaredLength)) {
        *this = Vector2d();
        return *this;
    }
    const double f = l / std::sqrt(s);
    x *= f;
    y *= f;
    return *this;
}

Vector2d &Vector2d::minimize(const Vector2d &v)
{
    if (x > v.x)
        x = v.x;
    if (y > v.y)
        y = v.y;
    return *this;
}

Vector2d &Vector2d::maximize(const Vector2d &v)
{
    if (x < v.x)
        x = v.x;
    if (y < v.y)
        y = v.y;
    return *this;
}

Vector2d &Vector2d::powAssign(int n)
{
    x = std::pow(x, n);
    y = std::pow(y, n);
    return *this;
}

Vector2d pow(const Vector2d &v, int n)
{
    return Vector2d(v).powAssign(n);
}

} // namespace geom
