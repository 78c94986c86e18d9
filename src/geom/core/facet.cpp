#include "geom/core/facet.h"

#include "geom/core/util3d.h"

namespace geom {

Facet::Facet(const Vector3f &a, const Vector3f &b, const Vector3f &c)
    : vertex{a, b, c}
{
    normal = computedNormal();
}

Facet::Facet(const Vector3f &a, const Vector3f &b, const Vector3f &c, const Vector3f &n)
    : normal(n)
    , vertex{a, b, c}
{}

Facet::Facet(const Vector2f &a, const Vector2f &b, const Vector2f &c, float z)
    : vertex{Vector3f(a, z), Vector3f(b, z), Vector3f(c, z)}
{
    normal = computedNormal();
}

Vector3f Facet::computedNormal() const
{
    return util2D::triangleNormal(vertex[0], vertex[1], vertex[2]);
}

Vector3f Facet::crossProduct() const
{
    return triangleCross(vertex[0], vertex[1], vertex[2]);
}

double Facet::area() const
{
    // The three vertices are nine consecutive floats.
    return double(util2D::triangleArea(&vertex[0].x));
}

void Facet::flip()
{
    const Vector3f t = vertex[1];
    vertex[1] = vertex[2];
    vertex[2] = t;
    normal = -normal;
}

} // namespace geom
