#pragma once

#include "geom/core/axisbox.h"
#include "geom/core/boundary.h"
#include "geom/core/vector3f.h"

#include <QDebug>
#include <QList>
#include <QMetaType>
#include <QVector>

namespace geom {

// An axis-aligned 3D box in single precision: a min corner and a max corner, six floats (min x, y,
// z, max x, y, z). The default box is null: every min at FLT_MAX, every max at -FLT_MAX; a box is
// null when some extent max - min overflows or is NaN. No operation keeps the box normalised by
// itself. Comparisons use the float tolerance 1e-5.
class Cuboid
{
public:
    // The null box.
    Cuboid() { reset(); }
    // The two corners taken over unchanged, not normalised.
    Cuboid(const Vector3f &min, const Vector3f &max)
        : m_min(min)
        , m_max(max)
    {}

    // Becomes the null box.
    void reset() { axisbox::reset(m_min, m_max); }

    // The minimum and the maximum corner.
    const Vector3f &min() const { return m_min; }
    const Vector3f &max() const { return m_max; }
    // The coordinates in field order, min x first (writable through the non-const form).
    const float *data() const { return &m_min.x; }
    float *data() { return &m_min.x; }
    // Copies both corners out.
    void getCorners(Vector3f &min, Vector3f &max) const
    {
        min = m_min;
        max = m_max;
    }

    // max - min per axis.
    Vector3f size() const { return m_max - m_min; }
    // (min + max) * 0.5 per axis.
    Vector3f center() const { return (m_min + m_max) * 0.5f; }

    // True when some extent is not finite (infinite or NaN); the null box is null.
    bool isNull() const { return axisbox::isNull(m_min, m_max); }
    // True when every extent is finite and strictly positive.
    bool isValid() const { return axisbox::isValid(m_min, m_max); }
    // Not valid.
    bool isEmpty() const { return !isValid(); }

    // Grows the box to hold p (a NaN coordinate changes nothing on its axis); the first point
    // expanded into a null box makes the box that point.
    void expand(const Vector3f &p) { axisbox::expand(m_min, m_max, p); }
    // Expands by n points of three packed floats; nothing for a null pointer or n <= 0.
    void expand(const float *xyz, int n) { axisbox::expand(m_min, m_max, xyz, n); }
    // Expands by every point in order.
    void expand(const QVector<Vector3f> &points)
    {
        for (const Vector3f &p : points)
            expand(p);
    }

    // Moves the box so that its centre is p.
    Cuboid &moveCenter(const Vector3f &p)
    {
        const Vector3f d = p - (m_min + m_max) * 0.5f;
        m_min += d;
        m_max += d;
        return *this;
    }
    // Moves the min corner to p, keeping the size.
    Cuboid &moveMin(const Vector3f &p)
    {
        m_max += p - m_min;
        m_min = p;
        return *this;
    }
    // Moves the max corner to p, keeping the size.
    Cuboid &moveMax(const Vector3f &p)
    {
        m_min += p - m_max;
        m_max = p;
        return *this;
    }
    // max = min + s.
    void setSize(const Vector3f &s) { m_max = m_min + s; }
    // min -= dMin, max += dMax.
    Cuboid &grow(const Vector3f &dMin, const Vector3f &dMax)
    {
        m_min -= dMin;
        m_max += dMax;
        return *this;
    }
    // min -= s and max += s on every axis.
    Cuboid &grow(float s) { return grow(Vector3f(s, s, s), Vector3f(s, s, s)); }
    // Swaps min and max on every axis whose extent is finite and negative; a null box stays null.
    Cuboid &normalize()
    {
        axisbox::normalize(m_min, m_max);
        return *this;
    }
    Cuboid &translate(const Vector3f &d) { return *this += d; }
    Cuboid &operator+=(const Vector3f &d)
    {
        m_min += d;
        m_max += d;
        return *this;
    }
    Cuboid &operator-=(const Vector3f &d)
    {
        m_min -= d;
        m_max -= d;
        return *this;
    }
    // Scales every coordinate; a negative factor leaves min above max.
    Cuboid &operator*=(float s)
    {
        m_min *= s;
        m_max *= s;
        return *this;
    }
    Cuboid &operator/=(float s)
    {
        m_min /= s;
        m_max /= s;
        return *this;
    }
    // The common part of both boxes, both normalised first. A null box stays null; a null other or
    // disjoint boxes give the null box; touching boxes give a flat (not null) result.
    Cuboid &intersect(const Cuboid &o)
    {
        axisbox::intersect(m_min, m_max, o.m_min, o.m_max);
        return *this;
    }
    Cuboid &operator&=(const Cuboid &o) { return intersect(o); }
    // The bounds of both boxes, both normalised first. A null other changes nothing; a null box
    // becomes an unchanged copy of the other.
    Cuboid &unite(const Cuboid &o)
    {
        axisbox::unite(m_min, m_max, o.m_min, o.m_max);
        return *this;
    }
    Cuboid &operator|=(const Cuboid &o) { return unite(o); }

    // True unless either box is null or some axis separates them strictly; sharing a face counts.
    bool intersects(const Cuboid &o) const { return axisbox::intersects(m_min, m_max, o.m_min, o.m_max); }
    // True when both boxes are valid and o lies within this one, bounds equal by the Fuzzy rule.
    bool contains(const Cuboid &o) const { return axisbox::containsBox(m_min, m_max, o.m_min, o.m_max); }
    // True when the box is valid and p lies within it, bounds equal by the Fuzzy rule; NaN fails.
    bool contains(const Vector3f &p) const { return axisbox::containsPoint(m_min, m_max, p); }

    Cuboid translated(const Vector3f &d) const { return Cuboid(m_min + d, m_max + d); }
    // min - dMin, max + dMax.
    Cuboid adjusted(const Vector3f &dMin, const Vector3f &dMax) const
    {
        return Cuboid(m_min - dMin, m_max + dMax);
    }
    // min - margin, max + margin on every axis.
    Cuboid grown(float margin) const { return Cuboid(*this).grow(margin); }
    Cuboid normalized() const { return Cuboid(*this).normalize(); }
    Cuboid intersected(const Cuboid &o) const { return Cuboid(*this).intersect(o); }
    Cuboid united(const Cuboid &o) const { return Cuboid(*this).unite(o); }

    // The sides p lies strictly beyond; a NaN coordinate gets no flag.
    Boundaries outcode(const Vector3f &p) const { return axisbox::outcode(m_min, m_max, p); }
    // Per axis: the min coordinate for exactly its Min flag, the max for exactly its Max flag, else
    // the centre.
    Vector3f alignedPoint(Boundaries sides) const { return axisbox::alignedPoint(m_min, m_max, sides); }
    // The points of the segment p0-p1 on the box: both ends when neither lies beyond a side, else the
    // crossings with the sides in order from p0 (a crossing exactly at p1 is not reported).
    QList<Vector3f> clipSegment(const Vector3f &p0, const Vector3f &p1) const;

private:
    Vector3f m_min;
    Vector3f m_max;
};

static_assert(sizeof(Cuboid) == 24, "six packed floats");

// Both null, or every coordinate within 1e-5 (absolute).
inline bool operator==(const Cuboid &a, const Cuboid &b)
{
    return axisbox::equal(a.min(), a.max(), b.min(), b.max());
}
inline bool operator!=(const Cuboid &a, const Cuboid &b)
{
    return !(a == b);
}
inline Cuboid operator+(const Cuboid &b, const Vector3f &d)
{
    return b.translated(d);
}
inline Cuboid operator-(const Cuboid &b, const Vector3f &d)
{
    return Cuboid(b.min() - d, b.max() - d);
}
// Every coordinate scaled; nothing is reordered.
inline Cuboid operator*(const Cuboid &b, float s)
{
    return Cuboid(b.min() * s, b.max() * s);
}
inline Cuboid operator/(const Cuboid &b, float s)
{
    return Cuboid(b.min() / s, b.max() / s);
}
inline Cuboid operator&(const Cuboid &a, const Cuboid &b)
{
    return a.intersected(b);
}
inline Cuboid operator|(const Cuboid &a, const Cuboid &b)
{
    return a.united(b);
}

// Writes "Cuboid(x, y, z : w x h x d)", or "Cuboid(invalid)" for a null box, and one blank.
QDebug operator<<(QDebug dbg, const Cuboid &b);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Cuboid, Q_MOVABLE_TYPE);
Q_DECLARE_METATYPE(geom::Cuboid)
