#include "meshcheck.h"

#include "meshbuilders.h"

#include "geom/mesh/vertexorder.h"

#include <cmath>
#include <cstring>
#include <vector>

using geom::IndexedFacet;
using geom::Vector3f;

namespace meshtest {

namespace {

QString text(const Vector3f &v)
{
    return QStringLiteral("(%1, %2, %3)").arg(double(v.x)).arg(double(v.y)).arg(double(v.z));
}

QString facetText(const IndexedFacet &f)
{
    return QStringLiteral("(%1, %2, %3; %4)").arg(f.a).arg(f.b).arg(f.c).arg(f.attribute, 0, 16);
}

bool sameBits(float p, float q)
{
    return floatBits(p) == floatBits(q);
}

bool near(double value, double reference, double tolerance)
{
    return value == reference || std::fabs(value - reference) <= tolerance;
}

QString checkVertices(const geom::StlMesh &mesh, int options)
{
    const QVector<Vector3f> &v = mesh.vertices();
    for (int i = 1; i < v.size(); ++i) {
        if (geom::vertexLess(v[i], v[i - 1]))
            return QStringLiteral("vertex %1 %2 sorts before vertex %3 %4")
                .arg(i)
                .arg(text(v[i]))
                .arg(i - 1)
                .arg(text(v[i - 1]));
        if (!(options & AllowEqualVertices) && !geom::vertexLess(v[i - 1], v[i]))
            return QStringLiteral("vertices %1 and %2 are equal %3").arg(i - 1).arg(i).arg(text(v[i]));
    }
    return QString();
}

QString checkFacets(const geom::StlMesh &mesh)
{
    const QVector<IndexedFacet> &facets = mesh.indices();
    const int vertexCount = mesh.vertices().size();
    if (mesh.indexOrder() != 2)
        return QStringLiteral("index order is %1, not 2").arg(mesh.indexOrder());
    std::vector<bool> used(size_t(vertexCount), false);
    for (int i = 0; i < facets.size(); ++i) {
        const IndexedFacet &f = facets[i];
        if (f.a < 0 || f.b >= vertexCount || f.c >= vertexCount)
            return QStringLiteral("facet %1 %2 indexes outside %3 vertices")
                .arg(i)
                .arg(facetText(f))
                .arg(vertexCount);
        if (!(f.a < f.b && f.a < f.c) || f.b == f.c)
            return QStringLiteral("facet %1 %2 is not canonical").arg(i).arg(facetText(f));
        if (f.attribute & geom::FacetPendingMark)
            return QStringLiteral("facet %1 %2 keeps bit 31").arg(i).arg(facetText(f));
        if (i > 0 && geom::facetLess(f, facets[i - 1]))
            return QStringLiteral("facet %1 %2 sorts before facet %3 %4")
                .arg(i)
                .arg(facetText(f))
                .arg(i - 1)
                .arg(facetText(facets[i - 1]));
        used[size_t(f.a)] = used[size_t(f.b)] = used[size_t(f.c)] = true;
    }
    for (int i = 0; i < vertexCount; ++i) {
        if (!used[size_t(i)])
            return QStringLiteral("vertex %1 %2 is used by no facet").arg(i).arg(text(mesh.vertices()[i]));
    }
    return QString();
}

QString checkStatistics(const geom::StlMesh &mesh)
{
    const QVector<Vector3f> &v = mesh.vertices();
    const QVector<IndexedFacet> &facets = mesh.indices();

    geom::Cuboid box;
    box.expand(v);
    for (int i = 0; i < 3; ++i) {
        if (!sameBits(box.data()[i], mesh.bounds().data()[i]) ||
            !sameBits(box.data()[i + 3], mesh.bounds().data()[i + 3]))
            return QStringLiteral("bounds %1-%2 differ from the vertices' box %3-%4")
                .arg(text(mesh.bounds().min()))
                .arg(text(mesh.bounds().max()))
                .arg(text(box.min()))
                .arg(text(box.max()));
    }

    double radius = 0;
    if (!v.isEmpty()) {
        const Vector3f c = box.center();
        for (const Vector3f &p : v) {
            const double dx = double(p.x) - c.x, dy = double(p.y) - c.y, dz = double(p.z) - c.z;
            radius = std::max(radius, std::sqrt(dx * dx + dy * dy + dz * dz));
        }
    }
    if (!near(mesh.radius(), radius, 1e-6 * radius + 1e-12))
        return QStringLiteral("radius %1, expected %2")
            .arg(mesh.radius(), 0, 'g', 10)
            .arg(radius, 0, 'g', 10);

    quint32 mask[2048];
    std::fill(mask, mask + 2048, 0xFFFFFFFFu);
    int repeats = 0;
    double area = 0, volume = 0, areaScale = 0, volumeScale = 0;
    for (int i = 0; i < facets.size(); ++i) {
        const IndexedFacet &f = facets[i];
        if (i > 0 && geom::sameTriple(f, facets[i - 1])) {
            ++repeats;
            continue;
        }
        mask[(f.attribute & 0xFFFFu) >> 5] &= ~(1u << (f.attribute & 31u));
        const Vector3f &p0 = v[f.a], &p1 = v[f.b], &p2 = v[f.c];
        // The library's rule says which facets are degenerate; the sums are formed here in double.
        if (geom::facetCross(p0, p1, p2).degenerate)
            continue;
        const double e1[3] = {double(p1.x) - p0.x, double(p1.y) - p0.y, double(p1.z) - p0.z};
        const double e2[3] = {double(p2.x) - p0.x, double(p2.y) - p0.y, double(p2.z) - p0.z};
        const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                             e1[0] * e2[1] - e1[1] * e2[0]};
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        const double d[3] = {double(p0.x) - v[0].x, double(p0.y) - v[0].y, double(p0.z) - v[0].z};
        const double contribution = (d[0] * n[0] + d[1] * n[1] + d[2] * n[2]) / 6;
        area += 0.5 * length;
        volume += contribution;
        areaScale += 0.5 * length;
        volumeScale +=
            std::fabs(contribution) + 0.5 * length * std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    }
    if (repeats != mesh.duplicateFacetCount())
        return QStringLiteral("duplicate facet count %1, expected %2")
            .arg(mesh.duplicateFacetCount())
            .arg(repeats);
    for (int w = 0; w < 2048; ++w) {
        if (mask[w] != mesh.attributeMask()[w])
            return QStringLiteral("attribute mask word %1 is %2, expected %3")
                .arg(w)
                .arg(mesh.attributeMask()[w], 8, 16, QLatin1Char('0'))
                .arg(mask[w], 8, 16, QLatin1Char('0'));
    }
    // Float facet sums against double ones: a few units of float rounding per facet.
    if (!near(mesh.area(), area, 1e-5 * areaScale))
        return QStringLiteral("area %1, expected %2").arg(mesh.area(), 0, 'g', 12).arg(area, 0, 'g', 12);
    if (!near(mesh.volume(), std::fabs(volume), 1e-5 * volumeScale))
        return QStringLiteral("volume %1, expected %2")
            .arg(mesh.volume(), 0, 'g', 12)
            .arg(std::fabs(volume), 0, 'g', 12);
    return QString();
}

} // namespace

QString checkMesh(const geom::StlMesh &mesh, int options)
{
    if (options & StatisticsOnly) {
        if (!mesh.vertices().isEmpty())
            return QStringLiteral("a statistics-only mesh holds %1 vertices").arg(mesh.vertices().size());
        return QString();
    }
    QString problem = checkVertices(mesh, options);
    if (problem.isEmpty())
        problem = checkFacets(mesh);
    if (problem.isEmpty() && !(options & ListsOnly))
        problem = checkStatistics(mesh);
    return problem;
}

} // namespace meshtest
