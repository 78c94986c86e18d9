#pragma once

#include "geom/core/axisbox.h"
#include "geom/core/boundary.h"
#include "geom/core/vector2f.h"

#include <QDebug>
#include <QList>
#include <QMetaType>
#include <QRectF>
#include <QVector>

namespace geom {

// An axis-aligned 2D box in single precision: a min corner and a max corner, four floats (min x,
// min y, max x, max y). The default box is null: every min at FLT_MAX, every max at -FLT_MAX; a box is
// null when some extent max - min overflows or is NaN. No operation keeps the box normalised by
// itself. Comparisons use the float tolerance 1e-5.
class Rectangle
{
public:
    // The null box.
    Rectangle() { reset(); }
    // The two corners taken over unchanged, not normalised.
    Rectangle(const Vector2f &min, const Vector2f &max)
        : m_min(min)
        , m_max(max)
    {}
    // min = (r.x, r.y), max = (r.x + r.width, r.y + r.height), summed in double, then narrowed.
    explicit Rectangle(const QRectF &r)
        : m_min(Vector2d(r.x(), r.y()))
        , m_max(Vector2d(r.x() + r.width(), r.y() + r.height()))
    {}

    // Becomes the null box.
    void reset() { axisbox::reset(m_min, m_max); }

    // The minimum and the maximum corner.
    const Vector2f &min() const { return m_min; }
    const Vector2f &max() const { return m_max; }
    // The coordinates in field order, min x first (writable through the non-const form).
    const float *data() const { return &m_min.x; }
    float *data() { return &m_min.x; }
    // Writes min x, min y, max x, max y.
    void getCoords(float *minX, float *minY, float *maxX, float *maxY) const
    {
        *minX = m_min.x;
        *minY = m_min.y;
        *maxX = m_max.x;
        *maxY = m_max.y;
    }
    // A valid rectangle as QRectF(min x, min y, width, height), coordinates widened before the
    // subtraction; any other gives the null QRectF (0, 0, 0, 0).
    QRectF toRectF() const;

    // max - min per axis.
    Vector2f size() const { return m_max - m_min; }
    // (min + max) * 0.5 per axis.
    Vector2f center() const { return (m_min + m_max) * 0.5f; }

    // True when some extent is not finite (infinite or NaN); the null box is null.
    bool isNull() const { return axisbox::isNull(m_min, m_max); }
    // True when every extent is finite and strictly positive.
    bool isValid() const { return axisbox::isValid(m_min, m_max); }
    // Not valid.
    bool isEmpty() const { return !isValid(); }

    // Grows the box to hold p (a NaN coordinate changes nothing on its axis); the first point
    // expanded into a null box makes the box that point.
    void expand(const Vector2f &p) { axisbox::expand(m_min, m_max, p); }
    // Expands by n points of two packed floats; nothing for a null pointer or n <= 0.
    void expand(const float *xy, int n) { axisbox::expand(m_min, m_max, xy, n); }
    // Expands by every point in order.
    void expand(const QVector<Vector2f> &points)
    {
        for (const Vector2f &p : points)
            expand(p);
    }

    // Moves the box so that its centre is p.
    Rectangle &moveCenter(const Vector2f &p)
    {
        const Vector2f d = p - (m_min + m_max) * 0.5f;
        m_min += d;
        m_max += d;
        return *this;
    }
    // Moves the min corner to p, keeping the size.
    Rectangle &moveMin(const Vector2f &p)
    {
        m_max += p - m_min;
        m_min = p;
        return *this;
    }
    // Moves the max corner to p, keeping the size.
    Rectangle &moveMax(const Vector2f &p)
    {
        m_min += p - m_max;
        m_max = p;
        return *this;
    }
    // max = min + s.
    void setSize(const Vector2f &s) { m_max = m_min + s; }
    // min -= dMin, max += dMax.
    Rectangle &grow(const Vector2f &dMin, const Vector2f &dMax)
    {
        m_min -= dMin;
        m_max += dMax;
        return *this;
    }
    // min -= s and max += s on every axis.
    Rectangle &grow(float s) { return grow(Vector2f(s, s), Vector2f(s, s)); }
    // Swaps min and max on every axis whose extent is finite and negative; a null box stays null.
    Rectangle &normalize()
    {
        axisbox::normalize(m_min, m_max);
        return *this;
    }
    Rectangle &translate(const Vector2f &d) { return *this += d; }
    Rectangle &operator+=(const Vector2f &d)
    {
        m_min += d;
        m_max += d;
        return *this;
    }
    Rectangle &operator-=(const Vector2f &d)
    {
        m_min -= d;
        m_max -= d;
        return *this;
    }
    // Scales every coordinate; a negative factor leaves min above max.
    Rectangle &operator*=(float s)
    {
        m_min *= s;
        m_max *= s;
        return *this;
    }
    Rectangle &operator/=(float s)
    {
        m_min /= s;
        m_max /= s;
        return *this;
    }
    // The common part of both boxes, both normalised first. A null box stays null; a null other or
    // disjoint boxes give the null box; touching boxes give a flat (not null) result.
    Rectangle &intersect(const Rectangle &o)
    {
        axisbox::intersect(m_min, m_max, o.m_min, o.m_max);
        return *this;
    }
    Rectangle &operator&=(const Rectangle &o) { return intersect(o); }
    // The bounds of both boxes, both normalised first. A null other changes nothing; a null box
    // becomes an unchanged copy of the other.
    Rectangle &unite(const Rectangle &o)
    {
        axisbox::unite(m_min, m_max, o.m_min, o.m_max);
        return *this;
    }
    Rectangle &operator|=(const Rectangle &o) { return unite(o); }

    // True unless either box is null or some axis separates them strictly; sharing an edge counts.
    bool intersects(const Rectangle &o) const { return axisbox::intersects(m_min, m_max, o.m_min, o.m_max); }
    // True when both boxes are valid and o lies within this one, bounds equal by the Fuzzy rule.
    bool contains(const Rectangle &o) const { return axisbox::containsBox(m_min, m_max, o.m_min, o.m_max); }
    // True when the box is valid and p lies within it, bounds equal by the Fuzzy rule; NaN fails.
    bool contains(const Vector2f &p) const { return axisbox::containsPoint(m_min, m_max, p); }

    Rectangle translated(const Vector2f &d) const { return Rectangle(m_min + d, m_max + d); }
    // min - dMin, max + dMax.
    Rectangle adjusted(const Vector2f &dMin, const Vector2f &dMax) const
    {
        return Rectangle(m_min - dMin, m_max + dMax);
    }
    // min - margin, max + margin on every axis.
    Rectangle grown(float margin) const { return Rectangle(*this).grow(margin); }
    Rectangle normalized() const { return Rectangle(*this).normalize(); }
    Rectangle intersected(const Rectangle &o) const { return Rectangle(*this).intersect(o); }
    Rectangle united(const Rectangle &o) const { return Rectangle(*this).unite(o); }

    // The sides p lies strictly beyond; a NaN coordinate gets no flag.
    Boundaries outcode(const Vector2f &p) const { return axisbox::outcode(m_min, m_max, p); }
    // Per axis: the min coordinate for exactly its Min flag, the max for exactly its Max flag, else
    // the centre.
    Vector2f alignedPoint(Boundaries sides) const { return axisbox::alignedPoint(m_min, m_max, sides); }
    // The points of the segment p0-p1 on the box: both ends when neither lies beyond a side, else the
    // crossings with the sides in order from p0 (a crossing exactly at p1 is not reported).
    QList<Vector2f> clipSegment(const Vector2f &p0, const Vector2f &p1) const;

private:
    Vector2f m_min;
    Vector2f m_max;
};

static_assert(sizeof(Rectangle) == 16, "four packed floats");

// Both null, or every coordinate within 1e-5 (absolute).
inline bool operator==(const Rectangle &a, const Rectangle &b)
{
    return axisbox::equal(a.min(), a.max(), b.min(), b.max());
}
inline bool operator!=(const Rectangle &a, const Rectangle &b)
{
    return !(a == b);
}
inline Rectangle operator+(const Rectangle &b, const Vector2f &d)
{
    return b.translated(d);
}
inline Rectangle operator-(const Rectangle &b, const Vector2f &d)
{
    return Rectangle(b.min() - d, b.max() - d);
}
// Every coordinate scaled; nothing is reordered.
inline Rectangle operator*(const Rectangle &b, float s)
{
    return Rectangle(b.min() * s, b.max() * s);
}
inline Rectangle operator/(const Rectangle &b, float s)
{
    return Rectangle(b.min() / s, b.max() / s);
}
inline Rectangle operator&(const Rectangle &a, const Rectangle &b)
{
    return a.intersected(b);
}
inline Rectangle operator|(const Rectangle &a, const Rectangle &b)
{
    return a.united(b);
}

// Writes "Rectangle(x, y : w x h)", or "Rectangle(invalid)" for a null box, and one blank.
QDebug operator<<(QDebug dbg, const Rectangle &b);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Rectangle, Q_MOVABLE_TYPE);
Q_DECLARE_METATYPE(geom::Rectangle)
