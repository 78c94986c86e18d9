#pragma once

#include "geom/core/facet.h"
#include "geom/mesh/stlmesh.h"

#include <QVector>

#include <cstring>

// Tiny meshes for tests, as facet soups (the form STL files and StlMesh::addFacets take).
namespace meshtest {

// The corner tetrahedron (0,0,0), (1,0,0), (0,1,0), (0,0,1), outward winding: volume 1/6.
QVector<geom::Facet> tetrahedron();
// The unit cube [0,1]^3 as 12 facets, outward winding: area 6, volume 1.
QVector<geom::Facet> unitCube();
// An axis-aligned box from min to max as 12 facets, outward winding.
QVector<geom::Facet> box(const geom::Vector3f &min, const geom::Vector3f &max);
// An open strip of n facets in the plane z = 0 along x (n + 2 vertices), normals up.
QVector<geom::Facet> openStrip(int n);
// An open nx by ny grid of unit squares in the plane z = 0, two facets each, normals up.
QVector<geom::Facet> sheet(int nx, int ny);
// A regular facet, then a facet with two equal vertices (dropped when a mesh is built from it) and a
// sliver, degenerate by the sine 5e-7 at its first corner (kept, but without area or normal).
QVector<geom::Facet> degenerateFacets();
// The unit cube with every facet present twice.
QVector<geom::Facet> repeatedCube();
// Three facets sharing one edge (a non-manifold fan) plus one facet of opposite winding.
QVector<geom::Facet> nonManifoldFan();
// Every facet with its winding reversed (second and third vertex exchanged, normal negated).
QVector<geom::Facet> reversed(QVector<geom::Facet> facets);
// Every vertex coordinate times s in float, as a model in millimetres becomes one in metres; the
// normals are kept.
QVector<geom::Facet> scaled(QVector<geom::Facet> facets, float s);

// A closed torus tessellated into about `triangleCount` triangles (an even count, at least 18): a
// surface that readers, writers and benchmarks can generate facet by facet without holding it. Every
// vertex is computed from its grid position alone, so shared vertices are bit-identical.
class Torus
{
public:
    explicit Torus(qint64 triangleCount, double majorRadius = 40.0, double minorRadius = 12.0);
    qint64 facetCount() const { return 2 * qint64(m_rings) * m_sides; }
    qint64 vertexCount() const { return qint64(m_rings) * m_sides; }
    // Facet i in surface order, outward winding, with its computed unit normal.
    geom::Facet facet(qint64 i) const;
    // All facets in surface order.
    QVector<geom::Facet> facets() const;
    // Volume and area of the ideal torus; the tessellation is slightly smaller.
    double idealVolume() const;
    double idealArea() const;

private:
    geom::Vector3f vertex(int ring, int side) const;

    int m_rings;
    int m_sides;
    double m_major;
    double m_minor;
};

// The bit pattern of a float and the float of a bit pattern, NaN payloads and the sign of zero kept.
inline quint32 floatBits(float f)
{
    quint32 b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}
inline float floatFromBits(quint32 b)
{
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

// The facet list entry (a, b, c) with the attribute word, as given (not rotated).
geom::IndexedFacet indexedFacet(qint32 a, qint32 b, qint32 c, quint32 attribute = 0);

// A new mesh (caller owns it) built from the facets with StlMesh::addFacets.
geom::StlMesh *meshFrom(const QVector<geom::Facet> &facets,
                        const QVector<quint16> &attributes = QVector<quint16>());

} // namespace meshtest
