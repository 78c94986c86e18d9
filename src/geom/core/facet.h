#pragma once

#include "geom/core/vector2f.h"
#include "geom/core/vector3f.h"

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

    // (b - a) x (c - a) scaled to unit length in float; a degenerate facet gives non-finite values.
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

static_assert(sizeof(Facet) == 48, "a facet is the 48-byte head of a binary STL record");

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Facet, Q_PRIMITIVE_TYPE);
