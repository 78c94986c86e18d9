#pragma once

#include "geom/core/vector2f.h"
#include "geom/core/vector3f.h"

#include <cmath>

namespace geom {

// An STL facet exactly as the first 48 bytes of a binary STL record: the normal, then the three
// vertices. The 16-bit attribute word of the record is not part of it.
struct Facet
{
    Vector3f normal;
    Vector3f vertex[3];

    // Leaves the components as the vector type's default constructor does.
    Facet() = default;
    // The three vertices; the normal is computedNormal().
    Facet(const Vector3f &a, const Vector3f &b, const Vector3f &c);
    // The three vertices and the given normal, taken over unchanged.
    Facet(const Vector3f &a, const Vector3f &b, const Vector3f &c, const Vector3f &normal);
    // The three 2D points at height z; the normal is computedNormal().
    Facet(const Vector2f &a, const Vector2f &b, const Vector2f &c, float z);

    // (b - a) x (c - a) scaled to unit length in float (util2D::triangleNormal); a zero cross
    // product gives non-finite values.
    Vector3f computedNormal() const;
    // (b - a) x (c - a) unscaled: twice the area vector.
    Vector3f crossProduct() const;
    // Half the length of the cross product, computed in float.
    double area() const;
    // Swaps the second and the third vertex and negates the normal.
    void flip();
};

// (p1 - p0) x (p2 - p0) in float, unscaled: twice the area vector of the triangle.
inline Vector3f triangleCross(const Vector3f &p0, const Vector3f &p1, const Vector3f &p2)
{
    const Vector3f e1 = p1 - p0;
    const Vector3f e2 = p2 - p0;
    return Vector3f(e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x);
}

// The cross product of a facet and whether it has a direction: the one rule by which normals,
// areas and volumes tell a degenerate facet from a small one. It looks at the facet alone, so a
// model gives the same answer in any unit.
struct FacetCross
{
    // note: 1e-5 is the sine of the angle at p0, about two seconds of arc. Below it the cross
    // product is within some 80 float epsilons of |p1 - p0| |p2 - p0|, a few times its own rounding
    // error, so its direction is mostly noise. For unit edges the rule is an absolute limit of 1e-5
    // on the cross product, so the slivers of a model in millimetres stay what they were.
    static constexpr double DegenerateSine = 1e-5;

    // (p1 - p0) x (p2 - p0) in float, as triangleCross: twice the area vector.
    Vector3f n;
    // n . n from the components widened to double, which no float n underflows.
    double squaredLength = 0.0;
    // True when n is not finite or |n| <= DegenerateSine |p1 - p0| |p2 - p0|.
    bool degenerate = true;

    // n scaled to length l in double, the same bits as withLength; the zero vector for a
    // degenerate facet.
    Vector3f normal(double l = 1.0) const
    {
        if (degenerate)
            return Vector3f();
        const double f = l / std::sqrt(squaredLength);
        return Vector3f(float(n.x * f), float(n.y * f), float(n.z * f));
    }
};

// The cross product of the facet p0, p1, p2 with its verdict.
inline FacetCross facetCross(const Vector3f &p0, const Vector3f &p1, const Vector3f &p2)
{
    FacetCross c;
    c.n = triangleCross(p0, p1, p2);
    const auto square = [](const Vector3f &v) {
        return (double(v.x) * v.x + double(v.y) * v.y) + double(v.z) * v.z;
    };
    c.squaredLength = square(c.n);
    const double limit =
        FacetCross::DegenerateSine * FacetCross::DegenerateSine * square(p1 - p0) * square(p2 - p0);
    // note: written so that NaN and infinity, on either side, count as degenerate.
    c.degenerate = !(c.squaredLength > limit && c.squaredLength < HUGE_VAL);
    return c;
}

static_assert(sizeof(Facet) == 48, "a facet is the 48-byte head of a binary STL record");

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Facet, Q_PRIMITIVE_TYPE);
