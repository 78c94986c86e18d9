#pragma once

#include "geom/core/vector2f.h"

#include <QDataStream>
#include <QDebug>
#include <QMetaType>
#include <QTextStream>
#include <QVector>
#include <QtGlobal>

namespace geom {

// A 3D point or vector in single precision: a vertex, a normal or a displacement. Plain value,
// 12 bytes, x then y then z; zero by default.
struct Vector3f
{
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    // The zero vector, with static storage.
    static const Vector3f Zero;

    constexpr Vector3f() = default;
    constexpr Vector3f(float ax, float ay, float az)
        : x(ax)
        , y(ay)
        , z(az)
    {}
    // The point (xy.x, xy.y, z).
    constexpr Vector3f(const Vector2f &xy, float az)
        : x(xy.x)
        , y(xy.y)
        , z(az)
    {}

    // Euclidean length in double from the widened components; 0 when the squared length is at
    // most 1e-12.
    double length() const;
    // Scales the vector in double to length l and stores it back in float; a vector whose squared
    // length is not above 1e-12 (or NaN) becomes the zero vector.
    Vector3f &setLength(double l);

    // Per component: a component greater than v's becomes v's; a NaN component stays.
    Vector3f &minimize(const Vector3f &v);
    // Per component: a component smaller than v's becomes v's; a NaN component stays.
    Vector3f &maximize(const Vector3f &v);

    Vector3f &operator+=(const Vector3f &v)
    {
        x += v.x;
        y += v.y;
        z += v.z;
        return *this;
    }
    Vector3f &operator-=(const Vector3f &v)
    {
        x -= v.x;
        y -= v.y;
        z -= v.z;
        return *this;
    }
    Vector3f &operator*=(float s)
    {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    Vector3f &operator/=(float s)
    {
        x /= s;
        y /= s;
        z /= s;
        return *this;
    }
};

inline constexpr Vector3f Vector3f::Zero{};

static_assert(sizeof(Vector3f) == 12, "three packed floats");

// Component-wise arithmetic in float.
inline Vector3f operator+(const Vector3f &a, const Vector3f &b)
{
    return Vector3f(a.x + b.x, a.y + b.y, a.z + b.z);
}
inline Vector3f operator-(const Vector3f &a, const Vector3f &b)
{
    return Vector3f(a.x - b.x, a.y - b.y, a.z - b.z);
}
inline Vector3f operator-(const Vector3f &a)
{
    return Vector3f(-a.x, -a.y, -a.z);
}
inline Vector3f operator*(const Vector3f &a, float s)
{
    return Vector3f(a.x * s, a.y * s, a.z * s);
}
inline Vector3f operator*(float s, const Vector3f &a)
{
    return Vector3f(a.x * s, a.y * s, a.z * s);
}
inline Vector3f operator/(const Vector3f &a, float s)
{
    return Vector3f(a.x / s, a.y / s, a.z / s);
}
// Exact float comparison; a NaN component makes the vectors unequal.
inline bool operator==(const Vector3f &a, const Vector3f &b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}
inline bool operator!=(const Vector3f &a, const Vector3f &b)
{
    return !(a == b);
}

// a + (b - a) * t per component, in float.
Vector3f lerp(const Vector3f &a, const Vector3f &b, float t);
// The component of a along onto, in float; the zero vector when either has length 0.
Vector3f projected(const Vector3f &a, const Vector3f &onto);
// v scaled in double to length l and stored in float, as setLength does but without its floor:
// squares of floats neither underflow nor overflow in double, so every finite non-zero v keeps its
// direction at any scale. The zero vector for a zero or non-finite v.
Vector3f withLength(const Vector3f &v, double l);

// Writes "V(x, y, z)" and one blank.
QDebug operator<<(QDebug dbg, const Vector3f &v);
// Writes x, y and z with the locale's group separator between them (the pad character when that
// separator is a no-break space), in the stream's number settings.
QTextStream &operator<<(QTextStream &s, const Vector3f &v);
// Reads a float, skips one character, reads a float, skips one, reads a float. A failing stream
// leaves the components read so far changed.
QTextStream &operator>>(QTextStream &s, Vector3f &v);

// Writes the count n as qint32, then n raw 12-byte elements on the stream's device. Returns the
// number of whole elements the device took, -1 on a device error, 0 (nothing written) when the
// stream is not Ok or the arguments are unusable.
int writeVector3fArray(QDataStream &s, const Vector3f *data, int n);
// Reads a qint32 count and as many raw elements into v. Returns the number read; 0 with v untouched
// when the count is missing or negative; -1 on a device error. A short read keeps the whole
// elements read and sets the stream's status to ReadPastEnd.
int readVector3fArray(QDataStream &s, QVector<Vector3f> &v);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Vector3f, Q_PRIMITIVE_TYPE);
Q_DECLARE_METATYPE(geom::Vector3f)
