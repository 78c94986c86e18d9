#pragma once

// The rules shared by Circle and Sphere: a centre and a radius, null when the radius is negative,
// grown by points, united and intersected. Shape is the derived type the operations return.

#include "geom/core/fuzzy.h"
#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"
#include "geom/core/vector3f.h"

#include <QVector>
#include <cmath>

namespace geom {

// Sum of the squared components, each widened to double first.
inline double squaredSum(const Vector2f &v)
{
    return double(v.x) * double(v.x) + double(v.y) * double(v.y);
}
inline double squaredSum(const Vector2d &v)
{
    return v.x * v.x + v.y * v.y;
}
inline double squaredSum(const Vector3f &v)
{
    return double(v.x) * double(v.x) + double(v.y) * double(v.y) + double(v.z) * double(v.z);
}

template <typename Shape, typename Point, typename T>
class RoundShape
{
public:
    using Scalar = T;
    using PointType = Point;

    // Null: centre at the origin, radius -1.
    constexpr RoundShape() = default;
    constexpr RoundShape(const Point &center, T radius)
        : m_center(center)
        , m_radius(radius)
    {}
    // The shape with a and b as the ends of a diameter.
    RoundShape(const Point &a, const Point &b)
        : m_center((a + b) * T(0.5))
        , m_radius(T((b - m_center).length()))
    {}

    // Becomes null (centre at the origin, radius -1).
    void reset()
    {
        m_center = Point();
        m_radius = T(-1);
    }
    void setCenter(const Point &c) { m_center = c; }
    void setRadius(T r) { m_radius = r; }
    // radius = d * 0.5.
    void setDiameter(T d) { m_radius = d * T(0.5); }

    const Point &center() const { return m_center; }
    T radius() const { return m_radius; }
    T squaredRadius() const { return m_radius * m_radius; }
    T diameter() const { return m_radius + m_radius; }
    // radius < 0.
    bool isNull() const { return m_radius < T(0); }
    // radius > 0.
    bool isValid() const { return m_radius > T(0); }
    // Not valid: a single point (radius 0), a null shape and a NaN radius are empty.
    bool isEmpty() const { return !(m_radius > T(0)); }

    Shape &operator+=(const Point &v)
    {
        m_center += v;
        return self();
    }
    Shape &operator-=(const Point &v)
    {
        m_center -= v;
        return self();
    }
    // Scales centre and radius; a negative factor makes the shape null.
    Shape &operator*=(T s)
    {
        m_center *= s;
        m_radius *= s;
        return self();
    }
    Shape &operator/=(T s)
    {
        m_center /= s;
        m_radius /= s;
        return self();
    }

    // Grows the shape to hold p: a null shape becomes the point p with radius 0; a point outside
    // moves the centre to the middle between p and the far side of the shape. The result depends
    // on the order of the points.
    void expand(const Point &p)
    {
        if (m_radius < T(0)) {
            m_center = p;
            m_radius = T(0);
            return;
        }
        const Point v = p - m_center;
        const T d = T(v.length());
        if (d > m_radius) {
            const T k = m_radius / d;
            m_center = (m_center - v * k + p) * T(0.5);
            m_radius = T((p - m_center).length());
        }
    }
    // Grows by n consecutive points; nothing for a null pointer or n <= 0.
    void expand(const Point *points, int n)
    {
        if (!points || n <= 0)
            return;
        for (int i = 0; i < n; ++i)
            expand(points[i]);
    }
    void expand(const QVector<Point> &points)
    {
        for (const Point &p : points)
            expand(p);
    }

    // True when the point lies within the shape or on it; the sign of the radius is not looked at.
    bool contains(const Point &p) const
    {
        const Point v = p - m_center;
        return double(m_radius * m_radius) >= geom::squaredSum(v);
    }
    // True when every point of o lies within this shape; false when either is null.
    bool contains(const Shape &o) const
    {
        if (isNull() || o.isNull())
            return false;
        return exactDistance(o.m_center - m_center) + double(o.m_radius) <= double(m_radius);
    }
    // False when either is null; else true when the centres are no farther apart than the sum of
    // the radii (touching shapes intersect).
    bool intersects(const Shape &o) const
    {
        if (m_radius < T(0) || o.m_radius < T(0))
            return false;
        return (o.m_center - m_center).length() <= double(m_radius + o.m_radius);
    }

    // Becomes the common part of both shapes: null when either was null or they are apart, a point
    // of radius 0 where they touch, else the circle through the crossing points (the chord's half
    // length as radius) on the line of centres. When one shape holds the other, the smaller one.
    Shape &intersect(const Shape &o)
    {
        if (isNull())
            return self();
        if (o.isNull()) {
            reset();
            return self();
        }
        const T eps = Fuzzy<T>::factor;
        const T r0 = m_radius;
        const T s = o.m_radius + r0;
        const Point v = o.m_center - m_center;
        const T d = T(v.length());
        if (std::fabs(d - s) <= std::fmin(std::fabs(d), std::fabs(s)) * eps) {
            if (std::fabs(d) > eps)
                m_center += v * (r0 / d);
            m_radius = T(0);
        } else if (contains(o)) {
            m_center = o.m_center;
            m_radius = o.m_radius;
        } else if (o.contains(self())) {
            // this shape is the common part already
        } else if (s > d) {
            const T k = r0 / s;
            m_center += v * k;
            const T dk = d * k;
            const T q = r0 * r0 - dk * dk;
            m_radius = std::fabs(q) > eps ? T(std::sqrt(q)) : q;
        } else {
            reset();
        }
        return self();
    }
    Shape &operator&=(const Shape &o) { return intersect(o); }

    // Becomes the smallest shape holding both: a null other changes nothing, a null shape becomes a
    // copy of the other, equal centres keep the larger radius.
    Shape &unite(const Shape &o)
    {
        if (o.isNull())
            return self();
        if (isNull() || (m_center == o.m_center && o.m_radius > m_radius)) {
            m_center = o.m_center;
            m_radius = o.m_radius;
            return self();
        }
        if (m_center == o.m_center || contains(o))
            return self();
        if (o.contains(self())) {
            m_center = o.m_center;
            m_radius = o.m_radius;
            return self();
        }
        const Point v = o.m_center - m_center;
        Point u = v;
        u.setLength(1.0);
        if (u == Point()) {
            // note: centres closer than the unit direction's 1e-6 cut-off; divide by the exact
            // distance instead, which is not zero since the centres differ.
            u = v / T(exactDistance(v));
        }
        const Point q = o.m_center + u * o.m_radius;
        m_center = (m_center - u * m_radius + q) * T(0.5);
        m_radius = T((q - m_center).length());
        return self();
    }
    Shape &operator|=(const Shape &o) { return unite(o); }

    Shape translated(const Point &v) const { return Shape(m_center + v, m_radius); }
    Shape intersected(const Shape &o) const { return Shape(self()).intersect(o); }
    Shape united(const Shape &o) const { return Shape(self()).unite(o); }

    friend Shape operator+(const Shape &a, const Point &v) { return a.translated(v); }
    friend Shape operator-(const Shape &a, const Point &v) { return Shape(a.center() - v, a.radius()); }
    friend Shape operator*(const Shape &a, T s) { return Shape(a.center() * s, a.radius() * s); }
    friend Shape operator/(const Shape &a, T s) { return Shape(a.center() / s, a.radius() / s); }
    friend Shape operator&(const Shape &a, const Shape &b) { return a.intersected(b); }
    friend Shape operator|(const Shape &a, const Shape &b) { return a.united(b); }

protected:
    Shape &self() { return static_cast<Shape &>(*this); }
    const Shape &self() const { return static_cast<const Shape &>(*this); }

    // The distance without the 1e-12 cut-off of length().
    static double exactDistance(const Point &v) { return std::sqrt(geom::squaredSum(v)); }

    Point m_center;
    T m_radius = T(-1);
};

} // namespace geom
