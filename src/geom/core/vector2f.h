#pragma once

#include "geom/core/vector2d.h"

#include <QDataStream>
#include <QDebug>
#include <QMetaType>
#include <QTextStream>
#include <QVector>
#include <QtGlobal>

namespace geom {

// A 2D point or vector in single precision: the point type of contours. 8 bytes, x then y, so an
// array of points is an array of x, y float pairs; zero by default; ordered by x, then y.
struct Vector2f
{
    float x = 0.0f;
    float y = 0.0f;

    // The zero vector, with static storage.
    static const Vector2f Zero;

    constexpr Vector2f() = default;
    constexpr Vector2f(float ax, float ay)
        : x(ax)
        , y(ay)
    {}
    // Rounds both doubles to float.
    explicit constexpr Vector2f(const Vector2d &v)
        : x(float(v.x))
        , y(float(v.y))
    {}

    // Euclidean length in double from the widened components; 0 when the squared length is at
    // most 1e-12.
    double length() const;
    // Scales the vector in double to length l and rounds back to float; a vector whose squared
    // length is not above 1e-12 (or NaN) becomes the zero vector.
    Vector2f &setLength(double l);

    // Per component: a component greater (minimize) or smaller (maximize) than v's becomes v's; a NaN
    // component stays.
    Vector2f &minimize(const Vector2f &v);
    Vector2f &maximize(const Vector2f &v);

    // Raises each component to the power n through the double power function.
    Vector2f &powAssign(int n);

    Vector2f &operator+=(const Vector2f &v)
    {
        x += v.x;
        y += v.y;
        return *this;
    }
    Vector2f &operator-=(const Vector2f &v)
    {
        x -= v.x;
        y -= v.y;
        return *this;
    }
    Vector2f &operator*=(float s)
    {
        x *= s;
        y *= s;
        return *this;
    }
    Vector2f &operator/=(float s)
    {
        x /= s;
        y /= s;
        return *this;
    }
};

inline constexpr Vector2f Vector2f::Zero{};

static_assert(sizeof(Vector2f) == 8, "two packed floats");

inline Vector2d::Vector2d(const Vector2f &v)
    : x(v.x)
    , y(v.y)
{}

inline void Vector2d::copyTo(Vector2f &out) const
{
    out.x = float(x);
    out.y = float(y);
}

// Component-wise arithmetic in float.
inline Vector2f operator+(const Vector2f &a, const Vector2f &b)
{
    return Vector2f(a.x + b.x, a.y + b.y);
}
inline Vector2f operator-(const Vector2f &a, const Vector2f &b)
{
    return Vector2f(a.x - b.x, a.y - b.y);
}
inline Vector2f operator-(const Vector2f &a)
{
    return Vector2f(-a.x, -a.y);
}
inline Vector2f operator*(const Vector2f &a, float s)
{
    return Vector2f(a.x * s, a.y * s);
}
inline Vector2f operator*(float s, const Vector2f &a)
{
    return Vector2f(a.x * s, a.y * s);
}
inline Vector2f operator/(const Vector2f &a, float s)
{
    return Vector2f(a.x / s, a.y / s);
}
// Per component float(double(a) + b) and float(double(a) - b).
inline Vector2f operator+(const Vector2f &a, const Vector2d &b)
{
    return Vector2f(float(double(a.x) + b.x), float(double(a.y) + b.y));
}
inline Vector2f operator-(const Vector2f &a, const Vector2d &b)
{
    return Vector2f(float(double(a.x) - b.x), float(double(a.y) - b.y));
}
// Exact float comparison; a NaN component makes the points unequal.
inline bool operator==(const Vector2f &a, const Vector2f &b)
{
    return a.x == b.x && a.y == b.y;
}
inline bool operator!=(const Vector2f &a, const Vector2f &b)
{
    return !(a == b);
}
// By x, then y.
inline bool operator<(const Vector2f &a, const Vector2f &b)
{
    return a.x < b.x || (a.x == b.x && a.y < b.y);
}

// True when float(double(a) - b) is within 1e-5 on both axes (absolute tolerance).
bool fuzzyCompare(const Vector2f &a, const Vector2d &b);

// Each component raised to the power n: float(pow(double(c), double(n))).
Vector2f pow(const Vector2f &v, int n);

// Writes "P(x, y)" and one blank.
QDebug operator<<(QDebug dbg, const Vector2f &v);
// Writes x and y with the locale's group separator between them (the pad character when that
// separator is a no-break space).
QTextStream &operator<<(QTextStream &s, const Vector2f &v);
// Reads a float, skips one character, reads a float.
QTextStream &operator>>(QTextStream &s, Vector2f &v);

// As writeVector3fArray, with raw 8-byte elements.
int writeVector2fArray(QDataStream &s, const Vector2f *data, int n);
// As readVector3fArray, with raw 8-byte elements.
int readVector2fArray(QDataStream &s, QVector<Vector2f> &v);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Vector2f, Q_PRIMITIVE_TYPE);
Q_DECLARE_METATYPE(geom::Vector2f)
