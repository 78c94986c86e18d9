#pragma once

#include "geom/vector2f.h"
#include "geom/vector3f.h"

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

static_assert(sizeof(Facet) == 48, "a facet is the 48-byte head of a binary STL record");

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Facet, Q_PRIMITIVE_TYPE);
