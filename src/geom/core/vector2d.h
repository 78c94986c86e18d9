#pragma once

#include <QDataStream>
#include <QDebug>
#include <QMetaType>
#include <QTextStream>
#include <QVector>
#include <QtGlobal>

namespace geom {

struct Vector2f;

// A 2D point or vector in double precision, the twin of Vector2f; 16 bytes, the layout of QPointF;
// zero by default.
struct Vector2d
{
    double x = 0.0;
    double y = 0.0;

    // The zero vector, with static storage.
    static const Vector2d Zero;

    constexpr Vector2d() = default;
    constexpr Vector2d(double ax, double ay)
        : x(ax)
        , y(ay)
    {}
    // Widens both floats.
    explicit Vector2d(const Vector2f &v);

    // Narrows both components to float into out.
    void copyTo(Vector2f &out) const;

    // Euclidean length; 0 when the squared length is at most 1e-12.
    double length() const;
    // Scales the vector to length l; a vector whose squared length is not above 1e-12 (or NaN)
    // becomes the zero vector.
    Vector2d &setLength(double l);

    // Per component: a component greater (minimize) or smaller (maximize) than v's becomes v's; a NaN
    // component stays.
    Vector2d &minimize(const Vector2d &v);
    Vector2d &maximize(const Vector2d &v);

    // Raises each component to the power n.
    Vector2d &powAssign(int n);

    Vector2d &operator+=(const Vector2d &v)
    {
        x += v.x;
        y += v.y;
        return *this;
    }
    Vector2d &operator-=(const Vector2d &v)
    {
        x -= v.x;
        y -= v.y;
        return *this;
    }
    Vector2d &operator*=(double s)
    {
        x *= s;
        y *= s;
        return *this;
    }
    Vector2d &operator/=(double s)
    {
        x /= s;
        y /= s;
        return *this;
    }
};

inline constexpr Vector2d Vector2d::Zero{};

static_assert(sizeof(Vector2d) == 16, "two packed doubles");

inline Vector2d operator+(const Vector2d &a, const Vector2d &b)
{
    return Vector2d(a.x + b.x, a.y + b.y);
}
inline Vector2d operator-(const Vector2d &a, const Vector2d &b)
{
    return Vector2d(a.x - b.x, a.y - b.y);
}
inline Vector2d operator-(const Vector2d &a)
{
    return Vector2d(-a.x, -a.y);
}
inline Vector2d operator*(const Vector2d &a, double s)
{
    return Vector2d(a.x * s, a.y * s);
}
inline Vector2d operator*(double s, const Vector2d &a)
{
    return Vector2d(a.x * s, a.y * s);
}
inline Vector2d operator/(const Vector2d &a, double s)
{
    return Vector2d(a.x / s, a.y / s);
}
// Exact comparison; a NaN component makes the vectors unequal.
inline bool operator==(const Vector2d &a, const Vector2d &b)
{
    return a.x == b.x && a.y == b.y;
}
inline bool operator!=(const Vector2d &a, const Vector2d &b)
{
    return !(a == b);
}

// Each component raised to the power n.
Vector2d pow(const Vector2d &v, int n);

// Writes "P(x, y)" and one blank.
QDebug operator<<(QDebug dbg, const Vector2d &v);
// Writes x and y with the locale's group separator between them (the pad character when that
// separator is a no-break space).
QTextStream &operator<<(QTextStream &s, const Vector2d &v);
// Reads a double, skips one character, reads a double.
QTextStream &operator>>(QTextStream &s, Vector2d &v);

// As writeVector3fArray, with raw 16-byte elements.
int writeVector2dArray(QDataStream &s, const Vector2d *data, int n);
// As readVector3fArray, with raw 16-byte elements.
int readVector2dArray(QDataStream &s, QVector<Vector2d> &v);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Vector2d, Q_PRIMITIVE_TYPE);
Q_DECLARE_METATYPE(geom::Vector2d)

// Vector2f's conversions refer to this type; one include gives both.
#include "geom/core/vector2f.h"
