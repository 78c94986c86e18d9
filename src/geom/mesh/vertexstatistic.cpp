#include "geom/mesh/vertexstatistic.h"

#include "geom/core/facet.h"
#include "geom/core/workerthreads.h"
#include "geom/mesh/stlmesh_p.h"

#include <algorithm>
#include <cmath>

namespace geom {

namespace {

// note: the single-precision value nearest one third, as the volume sum is formed in float.
constexpr float OneThird = 0.33333334f;

} // namespace

void VertexStatistic::run()
{
    StlMeshPrivate &r = *m_record;
    if (!r.bounds.isValid())
        r.bounds.expand(r.vertices);
    r.radius = 0;
    const Vector3f &mn = r.bounds.min();
    const Vector3f &mx = r.bounds.max();
    const float cx = (mn.x + mx.x) * 0.5f;
    const float cy = (mn.y + mx.y) * 0.5f;
    const float cz = (mn.z + mx.z) * 0.5f;
    double largest = 0;
    for (const Vector3f &v : qAsConst(r.vertices)) {
        const double dx = v.x - cx;
        const double dy = v.y - cy;
        const double dz = v.z - cz;
        largest = std::max(largest, dx * dx + dy * dy + dz * dz);
    }
    r.radius = std::sqrt(largest);
}

void StlMeshPrivate::updateStatistics(const Cuboid &startBounds)
{
    bounds = startBounds;
    VertexStatistic statistic(this);
    BackgroundWork vertexPass([&statistic] { statistic.run(); });

    resetAttributeMask();
    duplicateFacetCount = 0;
    double areaSum = 0;
    double volumeSum = 0;
    const Vector3f *v = vertices.constData();
    qint32 pa = -1, pb = -1, pc = -1;
    for (const IndexedFacet &f : qAsConst(indices)) {
        if (f.a == pa && f.b == pb && f.c == pc) {
            ++duplicateFacetCount;
            continue;
        }
        markAttribute(f.attribute);

        // A degenerate facet (a sliver) adds neither area nor volume.
        const Vector3f &p0 = v[f.a];
        const FacetCross cross = facetCross(p0, v[f.b], v[f.c]);
        if (!cross.degenerate) {
            const float length = float(std::sqrt(cross.squaredLength));
            const Vector3f u = cross.n / length;
            const Vector3f d = p0 - v[0];
            const float halfLength = 0.5f * length;
            areaSum += halfLength;
            volumeSum += ((d.x * u.x + d.y * u.y) + d.z * u.z) * halfLength * OneThird;
        }
        pa = f.a;
        pb = f.b;
        pc = f.c;
    }
    volume = std::fabs(volumeSum);
    area = std::fabs(areaSum);
    vertexPass.wait();
}

} // namespace geom
