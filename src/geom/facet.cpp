#include "geom/facet.h"

#include <cmath>

namespace geom {

namespace {

Vector3f cross(const Vector3f &a, const Vector3f &b, const Vector3f &c)
{
    const Vector3f e1 = b - a;
    const Vector3f e2 = c - a;
    return Vector3f(e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x);
}

} // namespace

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
    const Vector3f n = crossProduct();
    const float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    return Vector3f(n.x / length, n.y / length, n.z / length);
}

Vector3f Facet::crossProduct() const
{
    return cross(vertex[0], vertex[1], vertex[2]);
}

double Facet::area() const
{
    const Vector3f n = crossProduct();
    return double(0.5f * std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z));
}

void Facet::flip()
{
    const Vector3f t = vertex[1];
    vertex[1] = vertex[2];
    vertex[2] = t;
    normal = -normal;
}

} // namespace geom
