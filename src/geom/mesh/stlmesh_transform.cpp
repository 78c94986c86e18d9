#include "geom/mesh/stlmesh.h"

#include "geom/core/utiltx.h"
#include "geom/mesh/stlmesh_p.h"

#include <QReadLocker>
#include <QWriteLocker>
#include <algorithm>
#include <cmath>

namespace geom {

namespace {

Facet facetAt(const Vector3f *v, const IndexedFacet &f)
{
    return Facet(v[f.a], v[f.b], v[f.c]);
}

} // namespace

StlMesh *StlMesh::transformed(const QMatrix4x4 &m, bool statisticsOnly) const
{
    QReadLocker locker(d->lock);
    StlMesh *copy = new StlMesh(*this);
    if (m.isIdentity() || utilTX::isDegenerate(m))
        return copy;

    StlMeshPrivate *c = copy->d;
    c->bounds.reset();
    QVector<Vector3f> mapped(d->vertices.size());
    utilTX::map3Df(reinterpret_cast<float *>(mapped.data()), m,
                   reinterpret_cast<const float *>(d->vertices.constData()), d->vertices.size(), &c->bounds);
    c->vertices = std::move(mapped);
    if (!statisticsOnly) {
        if (utilTX::isMirroring(m)) {
            for (IndexedFacet &f : c->indices)
                std::swap(f.b, f.c);
        }
        c->reindex(true);
    }
    c->updateStatistics(c->bounds);
    if (statisticsOnly)
        c->vertices = QVector<Vector3f>();
    return copy;
}

Cuboid StlMesh::mappedBounds(const QMatrix4x4 &m) const
{
    if (m.isIdentity())
        return d->bounds;
    return utilTX::mapBounds3Df(m, reinterpret_cast<const float *>(d->vertices.constData()),
                                d->vertices.size());
}

void StlMesh::translate(const Vector3f &delta)
{
    QWriteLocker locker(d->lock);
    for (Vector3f &v : d->vertices)
        v += delta;
    d->bounds.translate(delta);
}

void StlMesh::scale(float s)
{
    QWriteLocker locker(d->lock);
    for (Vector3f &v : d->vertices)
        v *= s;
    d->bounds *= s;
    d->radius *= s;
    d->area *= double(s * s);
    d->volume *= std::pow(double(s), 3.0);
}

QVector<Facet> StlMesh::facets(bool withNormals) const
{
    QReadLocker locker(d->lock);
    QVector<Facet> result;
    result.reserve(d->indices.size());
    const Vector3f *v = d->vertices.constData();
    for (const IndexedFacet &f : qAsConst(d->indices)) {
        if (withNormals)
            result.append(facetAt(v, f));
        else
            result.append(Facet(v[f.a], v[f.b], v[f.c], Vector3f::Zero));
    }
    return result;
}

QVector<Facet> StlMesh::facets(const QMatrix4x4 &m) const
{
    if (m.isIdentity())
        return facets(true);
    QReadLocker locker(d->lock);
    QVector<Vector3f> mapped(d->vertices.size());
    utilTX::map3Df(reinterpret_cast<float *>(mapped.data()), m,
                   reinterpret_cast<const float *>(d->vertices.constData()), d->vertices.size());
    QVector<Facet> result;
    result.reserve(d->indices.size());
    for (const IndexedFacet &f : qAsConst(d->indices))
        result.append(facetAt(mapped.constData(), f));
    return result;
}

QVector<Vector3f> StlMesh::facetNormals(double length) const
{
    QReadLocker locker(d->lock);
    QVector<Vector3f> result;
    result.reserve(d->indices.size());
    const Vector3f *v = d->vertices.constData();
    const bool raw = std::fabs(length) <= 1e-12;
    for (const IndexedFacet &f : qAsConst(d->indices)) {
        const FacetCross cross = facetCross(v[f.a], v[f.b], v[f.c]);
        result.append(raw ? cross.n : cross.normal(length));
    }
    return result;
}

QVector<quint32> StlMesh::attributes() const
{
    QReadLocker locker(d->lock);
    QVector<quint32> result;
    result.reserve(d->indices.size());
    for (const IndexedFacet &f : qAsConst(d->indices))
        result.append(f.attribute);
    return result;
}

QVector<quint16> StlMesh::attributeWords(bool upper) const
{
    QReadLocker locker(d->lock);
    QVector<quint16> result;
    result.reserve(d->indices.size());
    for (const IndexedFacet &f : qAsConst(d->indices))
        result.append(quint16(upper ? f.attribute >> 16 : f.attribute & 0xFFFFu));
    return result;
}

QVector<QSet<int>> StlMesh::vertexAdjacency() const
{
    QVector<QSet<int>> result(d->vertices.size());
    const IndexedFacet *f = d->indices.constData();
    for (int i = 0; i < d->indices.size(); ++i) {
        result[f[i].a].insert(i);
        result[f[i].b].insert(i);
        result[f[i].c].insert(i);
    }
    return result;
}

int StlMesh::removeDuplicateFacets()
{
    QVector<IndexedFacet> kept;
    int oldCount = 0;
    {
        QReadLocker locker(d->lock);
        oldCount = d->indices.size();
        if (oldCount == 0 || d->duplicateFacetCount == 0)
            return 0;
        kept.reserve(oldCount - d->duplicateFacetCount);
        for (const IndexedFacet &f : qAsConst(d->indices)) {
            if (!kept.isEmpty() && sameTriple(kept.last(), f))
                kept.last().attribute = f.attribute;
            else
                kept.append(f);
        }
    }
    QWriteLocker locker(d->lock);
    d->indices = std::move(kept);
    d->duplicateFacetCount = 0;
    return oldCount - d->indices.size();
}

void StlMesh::setAttribute(quint32 attribute)
{
    for (IndexedFacet &f : d->indices)
        f.attribute = attribute;
    d->resetAttributeMask();
    d->markAttribute(attribute);
}

} // namespace geom
