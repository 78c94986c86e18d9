#include "geom/mesh/stlmesh.h"
#include "geom/core/hugepages.h"
#include "geom/mesh/meshlog.h"

#include "geom/mesh/stlmesh_p.h"
#include "geom/mesh/stlmeshbuilder.h"
#include "geom/mesh/vertexorder.h"
#include "geom/mesh/vertexsort.h"
#include "platform/largeblock.h"

#include <QDebug>
#include <QReadLocker>
#include <QWriteLocker>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace geom {

namespace {

// A list of n vertices about to be written in full, its room offered for huge pages first.
QVector<Vector3f> vertexRoom(int n)
{
    QVector<Vector3f> vertices;
    vertices.reserve(n);
    adviseHugePages(vertices);
    vertices.resize(n);
    return vertices;
}

// note: below this size a bucket of facets sharing their first index is sorted by insertion.
constexpr int InsertionSortLimit = 24;
// note: gathers through large tables ask for the entries of the facet this far ahead, so that the
// memory round trips overlap; a measured choice.
constexpr int PrefetchAhead = 16;

inline bool tailLess(const IndexedFacet &f, const IndexedFacet &g)
{
    return f.b != g.b ? f.b < g.b : f.c < g.c;
}

// Stable sort of a run of facets with equal a by (b, c).
void sortBucket(IndexedFacet *begin, IndexedFacet *end)
{
    if (end - begin <= InsertionSortLimit) {
        for (IndexedFacet *i = begin + 1; i < end; ++i) {
            const IndexedFacet f = *i;
            IndexedFacet *j = i;
            for (; j > begin && tailLess(f, j[-1]); --j)
                *j = j[-1];
            *j = f;
        }
    } else {
        std::stable_sort(begin, end, tailLess);
    }
}

// Appends every facet of [facets, facets + count) whose first index lies in [from, to) to its
// bucket: at out[cursor[a]++ - base] for first index a. Keeps the order within a bucket.
void scatterByFirst(const IndexedFacet *facets, int count, qint32 from, qint32 to, int *cursor, int base,
                    IndexedFacet *out)
{
    for (int i = 0; i < count; ++i) {
        if (i + PrefetchAhead < count) {
            const qint32 next = facets[i + PrefetchAhead].a;
            if (next >= from && next < to)
                __builtin_prefetch(cursor + next);
        }
        const IndexedFacet &f = facets[i];
        if (f.a >= from && f.a < to)
            out[cursor[f.a]++ - base] = f;
    }
}

// True when the facet names three different vertices; cleanIndices drops all others.
inline bool distinctIndices(const IndexedFacet &f)
{
    return f.a != f.b && f.b != f.c && f.a != f.c;
}

// A table of one index per vertex; a large one is offered for huge pages before it is filled.
using IndexTable = std::vector<int, platform::LargeBlockAllocator<int>>;

// note: only facets that survive cleanIndices count as users, so that a vertex named only by a
// dropped facet goes with it and every vertex of the finished mesh stays used. The dropped facets
// then refer to -1 (unused) and are still dropped, and reported, by cleanIndices.
inline void markUsed(IndexTable &use, const IndexedFacet &f)
{
    if (distinctIndices(f))
        use[size_t(f.a)] = use[size_t(f.b)] = use[size_t(f.c)] = 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The private record

StlMeshPrivate::StlMeshPrivate(StlMesh *owner)
    : q(owner)
    , lock(new QReadWriteLock(QReadWriteLock::NonRecursive))
{
    clear();
}

StlMeshPrivate::StlMeshPrivate(StlMesh *owner, const StlMeshPrivate &other)
    : q(owner)
    , lock(new QReadWriteLock(QReadWriteLock::NonRecursive))
    , bounds(other.bounds)
    , vertices(other.vertices)
    , indices(other.indices)
    , indexOrder(other.indexOrder)
    , duplicateFacetCount(other.duplicateFacetCount)
    , radius(other.radius)
    , area(other.area)
    , volume(other.volume)
{
    std::memcpy(attributeMask, other.attributeMask, sizeof attributeMask);
}

StlMeshPrivate::~StlMeshPrivate()
{
    // A reader still holding the lock finishes before the lock goes.
    lock->lockForWrite();
    lock->unlock();
    delete lock;
}

StlMeshPrivate *StlMeshPrivate::get(StlMesh *mesh)
{
    return mesh->d;
}

const StlMeshPrivate *StlMeshPrivate::get(const StlMesh *mesh)
{
    return mesh->d;
}

void StlMeshPrivate::clear()
{
    resetAttributeMask();
    vertices = QVector<Vector3f>();
    indices = QVector<IndexedFacet>();
    bounds.reset();
    radius = 0;
    area = 0;
    volume = 0;
    duplicateFacetCount = 0;
}

void StlMeshPrivate::cleanIndices(const int *renumber)
{
    const int startCount = indices.size();
    const qint32 vertexCount = vertices.size();
    // Counting sort by a, then a stable sort of each bucket by (b, c): the stable order by (a, b, c).
    // note: the counting sort runs in two halves through a buffer of half the list, not through a
    // second list of the full size, which was the peak of memory when a mesh is built; the extra
    // copies run in order and cost little beside the scattered writes.
    IndexTable bucketEnd(size_t(vertexCount) + 1, 0);
    IndexedFacet *facets = indices.data();
    int validCount = 0;
    bool ordered = true;
    for (int i = 0; i < startCount; ++i) {
        IndexedFacet f = facets[i];
        if (renumber) {
            if (i + PrefetchAhead < startCount) {
                const IndexedFacet &next = facets[i + PrefetchAhead];
                __builtin_prefetch(renumber + next.a);
                __builtin_prefetch(renumber + next.b);
                __builtin_prefetch(renumber + next.c);
            }
            f.a = renumber[f.a];
            f.b = renumber[f.b];
            f.c = renumber[f.c];
        }
        f.attribute &= ~FacetPendingMark;
        bool valid = distinctIndices(f);
        if (valid) {
            rotateSmallestFirst(f.a, f.b, f.c);
            valid = f.a >= 0 && std::max(f.b, f.c) < vertexCount;
        }
        if (!valid)
            continue;
        ++bucketEnd[size_t(f.a) + 1];
        if (validCount > 0 && facetLess(f, facets[validCount - 1]))
            ordered = false;
        // Valid facets close up towards the front, in their order; the writes trail the reads.
        facets[validCount++] = f;
    }
    indices.resize(validCount);
    facets = indices.data();
    indexOrder = 2;
    if (validCount != startCount)
        qCWarning(lcMesh, "Clean indices dropped %d items.", startCount - validCount);
    // A list in order already is what the stable sort would give back.
    if (ordered)
        return;

    for (size_t i = 1; i < bucketEnd.size(); ++i)
        bucketEnd[i] += bucketEnd[i - 1];
    // The buckets below split make up the low part, about half of the facets; bucketEnd[a] is
    // where bucket a starts, and counts up to its end as the bucket fills.
    const auto half = std::lower_bound(bucketEnd.begin(), bucketEnd.end(), validCount / 2);
    const qint32 split = qint32(half - bucketEnd.begin());
    const int low = bucketEnd[size_t(split)];
    const int high = validCount - low;
    std::vector<IndexedFacet, platform::LargeBlockAllocator<IndexedFacet>> buffer(
        size_t(std::max(low, high)));
    // The high part goes sorted into the buffer, the low part closes up in the list, the high part
    // follows it; then the low part goes sorted through the buffer.
    scatterByFirst(facets, validCount, split, vertexCount, bucketEnd.data(), low, buffer.data());
    int kept = 0;
    for (int i = 0; i < validCount; ++i) {
        if (facets[i].a < split)
            facets[kept++] = facets[i];
    }
    std::copy(buffer.data(), buffer.data() + high, facets + low);
    scatterByFirst(facets, low, 0, split, bucketEnd.data(), 0, buffer.data());
    std::copy(buffer.data(), buffer.data() + low, facets);
    decltype(buffer)().swap(buffer);

    int begin = 0;
    for (qint32 a = 0; a < vertexCount; ++a) {
        const int end = bucketEnd[size_t(a)];
        if (end - begin > 1)
            sortBucket(facets + begin, facets + end);
        begin = end;
    }
}

void StlMeshPrivate::reindex(bool indicesChecked)
{
    const int vertexCount = vertices.size();
    IndexTable newPosition(size_t(vertexCount), -1);
    if (indicesChecked) {
        for (const IndexedFacet &f : qAsConst(indices)) {
            Q_ASSERT(f.a >= 0 && f.a < vertexCount && f.b >= 0 && f.b < vertexCount && f.c >= 0 &&
                     f.c < vertexCount);
            markUsed(newPosition, f);
        }
    } else {
        auto inRange = [vertexCount](qint32 i) { return i >= 0 && i < vertexCount; };
        int kept = 0;
        for (const IndexedFacet &f : qAsConst(indices))
            kept += inRange(f.a) && inRange(f.b) && inRange(f.c);
        if (kept != indices.size()) {
            QVector<IndexedFacet> inside;
            inside.reserve(kept);
            for (const IndexedFacet &f : qAsConst(indices)) {
                if (inRange(f.a) && inRange(f.b) && inRange(f.c))
                    inside.append(f);
            }
            indices = std::move(inside);
        }
        for (const IndexedFacet &f : qAsConst(indices))
            markUsed(newPosition, f);
    }

    std::vector<int> order;
    order.reserve(size_t(vertexCount));
    for (int i = 0; i < vertexCount; ++i) {
        if (newPosition[size_t(i)] == 0)
            order.push_back(i);
    }
    const Vector3f *source = vertices.constData();
    sortVertexPositions(source, order.data(), int(order.size()));

    const bool unchanged = int(order.size()) == vertexCount;
    bool identity = unchanged;
    for (size_t i = 0; identity && i < order.size(); ++i)
        identity = order[i] == int(i);
    if (identity) {
        // The tables go before the facets are sorted, which is when memory peaks.
        std::vector<int>().swap(order);
        IndexTable().swap(newPosition);
        cleanIndices();
        return;
    }
    QVector<Vector3f> sortedVertices = vertexRoom(int(order.size()));
    Vector3f *out = sortedVertices.data();
    for (size_t i = 0; i < order.size(); ++i) {
        out[i] = source[order[i]];
        newPosition[size_t(order[i])] = int(i);
    }
    vertices = std::move(sortedVertices);
    cleanIndices(newPosition.data());
}

void StlMeshPrivate::append(StlMeshBuilder &builder)
{
    const int baseSize = builder.m_baseSize;
    const bool ownBase = builder.m_baseVertices == &vertices && baseSize == vertices.size();
    if (indices.isEmpty()) {
        // Every vertex the builder merged that a valid facet uses, in the vertex order; facets renumbered
        // to match.
        IndexTable position(size_t(builder.vertexCount()), -1);
        for (const IndexedFacet &f : qAsConst(builder.m_facets))
            markUsed(position, f);
        // Every index a facet names was merged by the builder, so the used ones are the merged ones.
        std::vector<int> merged;
        merged.reserve(size_t(builder.m_mappedCount));
        for (size_t i = 0; i < position.size(); ++i) {
            if (position[i] == 0)
                merged.push_back(int(i));
        }
        // Without a base the merged vertices are exactly the new ones, and serve as the sort keys.
        const bool direct = baseSize == 0 && builder.m_mappedCount == builder.m_newVertices.size();
        StlMeshBuilder::SlotTable().swap(builder.m_table);

        QVector<Vector3f> keys;
        std::vector<int> order;
        if (direct) {
            keys = builder.m_newVertices;
            order.swap(merged);
        } else {
            keys.resize(int(merged.size()));
            for (size_t i = 0; i < merged.size(); ++i)
                keys[int(i)] = builder.vertexAt(merged[i]);
            order.resize(merged.size());
            for (size_t i = 0; i < order.size(); ++i)
                order[i] = int(i);
        }
        builder.m_newVertices = QVector<Vector3f>();
        const Vector3f *key = keys.constData();
        sortVertexPositions(key, order.data(), int(order.size()));

        QVector<Vector3f> sortedVertices = vertexRoom(int(order.size()));
        Vector3f *out = sortedVertices.data();
        for (size_t i = 0; i < order.size(); ++i) {
            out[i] = key[order[i]];
            position[size_t(direct ? order[i] : merged[size_t(order[i])])] = int(i);
        }
        keys = QVector<Vector3f>();
        std::vector<int>().swap(order);
        std::vector<int>().swap(merged);

        vertices = std::move(sortedVertices);
        indices = std::move(builder.m_facets);
        builder.m_facets = QVector<IndexedFacet>();
        cleanIndices(position.data());
    } else {
        // New vertices follow the mesh's; a builder over another list brings that list along too.
        const int offset = ownBase ? 0 : vertices.size();
        if (!ownBase && baseSize > 0)
            vertices += *builder.m_baseVertices;
        vertices += builder.m_newVertices;
        builder.m_newVertices = QVector<Vector3f>();
        StlMeshBuilder::SlotTable().swap(builder.m_table);
        const int start = indices.size();
        indices += builder.m_facets;
        builder.m_facets = QVector<IndexedFacet>();
        if (offset) {
            for (int i = start; i < indices.size(); ++i) {
                IndexedFacet &f = indices[i];
                f.a += offset;
                f.b += offset;
                f.c += offset;
            }
        }
        reindex(true);
    }
    builder.restart(&vertices);
    updateStatistics(Cuboid());
}

int StlMeshPrivate::lowerFacet(qint32 a, qint32 b, qint32 c) const
{
    IndexedFacet key;
    key.a = a;
    key.b = b;
    key.c = c;
    const IndexedFacet *begin = indices.constData();
    return int(std::lower_bound(begin, begin + indices.size(), key, facetLess) - begin);
}

int StlMeshPrivate::findFacetSorted(qint32 a, qint32 b, qint32 c) const
{
    const int pos = lowerFacet(a, b, c);
    if (pos == indices.size())
        return -1;
    const IndexedFacet &f = indices.at(pos);
    return (f.a == a && f.b == b && f.c == c) ? pos : -1;
}

// ---------------------------------------------------------------------------------------------
// Construction, accessors, queries

StlMesh::StlMesh(QObject *parent)
    : QObject(parent)
    , d(new StlMeshPrivate(this))
{}

StlMesh::StlMesh(const StlMesh &other)
    : QObject(other.parent())
    , d(new StlMeshPrivate(this, *other.d))
{}

StlMesh::~StlMesh()
{
    clear();
    delete d;
}

StlMesh *StlMesh::clone() const
{
    QReadLocker locker(d->lock);
    return new StlMesh(*this);
}

void StlMesh::clear()
{
    QWriteLocker locker(d->lock);
    d->clear();
}

const Cuboid &StlMesh::bounds() const
{
    return d->bounds;
}

QVector<Vector3f> &StlMesh::vertices()
{
    return d->vertices;
}

const QVector<Vector3f> &StlMesh::vertices() const
{
    return d->vertices;
}

QVector<IndexedFacet> &StlMesh::indices()
{
    return d->indices;
}

const QVector<IndexedFacet> &StlMesh::indices() const
{
    return d->indices;
}

double StlMesh::radius() const
{
    return d->radius;
}

double StlMesh::area() const
{
    return d->area;
}

double StlMesh::volume() const
{
    return d->volume;
}

int StlMesh::duplicateFacetCount() const
{
    return d->duplicateFacetCount;
}

int StlMesh::indexOrder() const
{
    return d->indexOrder;
}

const quint32 *StlMesh::attributeMask() const
{
    return d->attributeMask;
}

int StlMesh::indexOfVertex(const Vector3f &v) const
{
    const Vector3f *begin = d->vertices.constData();
    const Vector3f *end = begin + d->vertices.size();
    const Vector3f *found = findVertex(begin, end, v);
    return found == end ? -1 : int(found - begin);
}

int StlMesh::lowerVertexIndex(float z) const
{
    const Vector3f key(d->bounds.min().x, d->bounds.min().y, z);
    const Vector3f *begin = d->vertices.constData();
    return int(std::lower_bound(begin, begin + d->vertices.size(), key, vertexLess) - begin);
}

int StlMesh::upperVertexIndex(float z) const
{
    const Vector3f key(d->bounds.max().x, d->bounds.max().y, z);
    const Vector3f *begin = d->vertices.constData();
    return int(std::upper_bound(begin, begin + d->vertices.size(), key, vertexLess) - begin);
}

const IndexedFacet *StlMesh::findFacet(int a, int b, int c) const
{
    const int pos = indexOfFacet(a, b, c);
    return d->indices.constData() + (pos < 0 ? d->indices.size() : pos);
}

int StlMesh::indexOfFacet(int a, int b, int c) const
{
    rotateSmallestFirst(a, b, c);
    if (d->indexOrder == 2)
        return d->findFacetSorted(a, b, c);
    const IndexedFacet *begin = d->indices.constData();
    for (int i = 0; i < d->indices.size(); ++i) {
        if (begin[i].a == a && begin[i].b == b && begin[i].c == c)
            return i;
    }
    return -1;
}

const IndexedFacet *StlMesh::findFacet(const Facet &f) const
{
    return findFacet(indexOfVertex(f.vertex[0]), indexOfVertex(f.vertex[1]), indexOfVertex(f.vertex[2]));
}

int StlMesh::indexOfFacet(const Facet &f) const
{
    return indexOfFacet(indexOfVertex(f.vertex[0]), indexOfVertex(f.vertex[1]), indexOfVertex(f.vertex[2]));
}

int StlMesh::lowerBound(int a, int b, int c) const
{
    rotateSmallestFirst(a, b, c);
    return d->lowerFacet(a, b, c);
}

void StlMesh::sortIndices(int order)
{
    if (order == d->indexOrder || order < 0 || order > 2)
        return;
    IndexedFacet *begin = d->indices.data();
    IndexedFacet *end = begin + d->indices.size();
    switch (order) {
    case 0:
        std::stable_sort(begin, end, [](const IndexedFacet &f, const IndexedFacet &g) {
            return qint32(f.attribute) < qint32(g.attribute);
        });
        break;
    case 1:
        std::stable_sort(begin, end, [](const IndexedFacet &f, const IndexedFacet &g) {
            return std::max(f.b, f.c) < std::max(g.b, g.c);
        });
        break;
    default:
        std::stable_sort(begin, end, facetLess);
        break;
    }
    d->indexOrder = order;
}

// ---------------------------------------------------------------------------------------------
// Building

void StlMesh::append(StlMeshBuilder &builder)
{
    if (builder.facets().isEmpty())
        return;
    QWriteLocker locker(d->lock);
    d->append(builder);
}

void StlMesh::setData(const QVector<Vector3f> &vertices, const QVector<IndexedFacet> &indices)
{
    QWriteLocker locker(d->lock);
    d->clear();
    if (vertices.isEmpty() || indices.isEmpty())
        return;
    d->vertices = vertices;
    d->indices = indices;
    d->reindex(false);
    d->updateStatistics(Cuboid());
}

void StlMesh::setData(const Vector3f *vertices, int vertexCount, const IndexedFacet *indices, int indexCount)
{
    if (!vertices || !indices || vertexCount < 1 || indexCount < 1) {
        clear();
        return;
    }
    setData(QVector<Vector3f>(vertices, vertices + vertexCount),
            QVector<IndexedFacet>(indices, indices + indexCount));
}

void StlMesh::append(const StlMesh &other)
{
    QReadLocker otherLocker(other.d->lock);
    QWriteLocker locker(d->lock);
    const int offset = d->vertices.size();
    d->vertices += other.d->vertices;
    const int start = d->indices.size();
    d->indices += other.d->indices;
    for (int i = start; i < d->indices.size(); ++i) {
        IndexedFacet &f = d->indices[i];
        f.a += offset;
        f.b += offset;
        f.c += offset;
    }
    d->reindex(true);
    d->updateStatistics(d->bounds.united(other.d->bounds));
}

void StlMesh::addFacets(int count, const Facet *facets, const quint16 *attributes)
{
    if (!facets)
        count = 0;
    QWriteLocker locker(d->lock);
    StlMeshBuilder builder(&d->vertices);
    builder.reserve(count);
    for (int done = 0; done < count;) {
        done += builder.addFacets(facets + done, attributes ? attributes + done : nullptr, count - done);
        if (builder.isFull()) {
            d->append(builder);
            builder.reserve(count - done);
        }
    }
    d->append(builder);
}

void StlMesh::addFacets(const QVector<Facet> &facets, const QVector<quint16> &attributes)
{
    if (facets.isEmpty())
        return;
    if (attributes.isEmpty()) {
        addFacets(facets.size(), facets.constData(), nullptr);
    } else if (attributes.size() >= facets.size()) {
        addFacets(facets.size(), facets.constData(), attributes.constData());
    } else {
        QVector<quint16> padded(facets.size(), 0);
        std::copy(attributes.constBegin(), attributes.constEnd(), padded.begin());
        addFacets(facets, padded);
    }
}

} // namespace geom
