#include "meshbuilders.h"

#include <algorithm>
#include <cmath>

using geom::Facet;
using geom::Vector3f;

namespace meshtest {

namespace {

// Two facets (p0, p1, p2) and (p0, p2, p3) of a quad whose corners run counter-clockwise as seen
// from the side its normal points to.
void appendQuad(QVector<Facet> &out, const Vector3f &p0, const Vector3f &p1, const Vector3f &p2,
                const Vector3f &p3)
{
    out.append(Facet(p0, p1, p2));
    out.append(Facet(p0, p2, p3));
}

} // namespace

QVector<Facet> tetrahedron()
{
    const Vector3f o(0, 0, 0), x(1, 0, 0), y(0, 1, 0), z(0, 0, 1);
    return {Facet(o, y, x), Facet(o, x, z), Facet(o, z, y), Facet(x, y, z)};
}

QVector<Facet> box(const Vector3f &mn, const Vector3f &mx)
{
    auto corner = [&](int ix, int iy, int iz) {
        return Vector3f(ix ? mx.x : mn.x, iy ? mx.y : mn.y, iz ? mx.z : mn.z);
    };
    QVector<Facet> out;
    appendQuad(out, corner(0, 0, 0), corner(0, 1, 0), corner(1, 1, 0), corner(1, 0, 0)); // -z
    appendQuad(out, corner(0, 0, 1), corner(1, 0, 1), corner(1, 1, 1), corner(0, 1, 1)); // +z
    appendQuad(out, corner(0, 0, 0), corner(1, 0, 0), corner(1, 0, 1), corner(0, 0, 1)); // -y
    appendQuad(out, corner(0, 1, 0), corner(0, 1, 1), corner(1, 1, 1), corner(1, 1, 0)); // +y
    appendQuad(out, corner(0, 0, 0), corner(0, 0, 1), corner(0, 1, 1), corner(0, 1, 0)); // -x
    appendQuad(out, corner(1, 0, 0), corner(1, 1, 0), corner(1, 1, 1), corner(1, 0, 1)); // +x
    return out;
}

QVector<Facet> unitCube()
{
    return box(Vector3f(0, 0, 0), Vector3f(1, 1, 1));
}

QVector<Facet> openStrip(int n)
{
    QVector<Facet> out;
    for (int k = 0; k < n; ++k) {
        const float i = float(k / 2);
        if (k % 2 == 0)
            out.append(Facet(Vector3f(i, 0, 0), Vector3f(i + 1, 0, 0), Vector3f(i, 1, 0)));
        else
            out.append(Facet(Vector3f(i + 1, 0, 0), Vector3f(i + 1, 1, 0), Vector3f(i, 1, 0)));
    }
    return out;
}

QVector<Facet> sheet(int nx, int ny)
{
    QVector<Facet> out;
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            const float x = float(i), y = float(j);
            appendQuad(out, Vector3f(x, y, 0), Vector3f(x + 1, y, 0), Vector3f(x + 1, y + 1, 0),
                       Vector3f(x, y + 1, 0));
        }
    }
    return out;
}

QVector<Facet> degenerateFacets()
{
    const Vector3f o(0, 0, 0), x(1, 0, 0), y(0, 1, 0);
    return {Facet(o, x, y), Facet(o, x, x, Vector3f()), Facet(o, x, Vector3f(2, 1e-6f, 0))};
}

QVector<Facet> repeatedCube()
{
    return unitCube() + unitCube();
}

QVector<Facet> nonManifoldFan()
{
    const Vector3f o(0, 0, 0), x(1, 0, 0);
    return {Facet(o, x, Vector3f(0, 1, 0)), Facet(o, x, Vector3f(0, 0, 1)), Facet(o, x, Vector3f(0, -1, 0)),
            Facet(o, Vector3f(0, 1, 0), x)};
}

QVector<Facet> reversed(QVector<Facet> facets)
{
    for (Facet &f : facets)
        f.flip();
    return facets;
}

QVector<Facet> scaled(QVector<Facet> facets, float s)
{
    for (Facet &f : facets) {
        for (Vector3f &v : f.vertex)
            v *= s;
    }
    return facets;
}

Torus::Torus(qint64 triangleCount, double majorRadius, double minorRadius)
    : m_major(majorRadius)
    , m_minor(minorRadius)
{
    // Square-ish cells: the rings follow the major circle, the sides the minor one.
    const double cells = std::max<double>(9, double(triangleCount) / 2);
    m_sides = std::max(3, int(std::lround(std::sqrt(cells * minorRadius / majorRadius))));
    m_rings = std::max(3, int(std::lround(cells / m_sides)));
}

Vector3f Torus::vertex(int ring, int side) const
{
    ring %= m_rings;
    side %= m_sides;
    const double u = 2 * M_PI * ring / m_rings;
    const double v = 2 * M_PI * side / m_sides;
    const double w = m_major + m_minor * std::cos(v);
    return Vector3f(float(w * std::cos(u)), float(w * std::sin(u)), float(m_minor * std::sin(v)));
}

Facet Torus::facet(qint64 i) const
{
    const qint64 cell = i / 2;
    const int ring = int(cell / m_sides);
    const int side = int(cell % m_sides);
    const Vector3f p00 = vertex(ring, side);
    const Vector3f p11 = vertex(ring + 1, side + 1);
    if (i % 2 == 0)
        return Facet(p00, vertex(ring + 1, side), p11);
    return Facet(p00, p11, vertex(ring, side + 1));
}

QVector<Facet> Torus::facets() const
{
    QVector<Facet> out;
    out.reserve(int(facetCount()));
    for (qint64 i = 0; i < facetCount(); ++i)
        out.append(facet(i));
    return out;
}

double Torus::idealVolume() const
{
    return 2 * M_PI * M_PI * m_major * m_minor * m_minor;
}

double Torus::idealArea() const
{
    return 4 * M_PI * M_PI * m_major * m_minor;
}

geom::IndexedFacet indexedFacet(qint32 a, qint32 b, qint32 c, quint32 attribute)
{
    geom::IndexedFacet f;
    f.a = a;
    f.b = b;
    f.c = c;
    f.attribute = attribute;
    return f;
}

geom::StlMesh *meshFrom(const QVector<Facet> &facets, const QVector<quint16> &attributes)
{
    auto *mesh = new geom::StlMesh;
    mesh->addFacets(facets, attributes);
    return mesh;
}

} // namespace meshtest
