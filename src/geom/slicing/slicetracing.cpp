// The tables of the tolerant slicer and the tracing of one level into closed contours.

#include "geom/slicing/tolerantslicer_p.h"

#include "geom/core/util3d.h"
#include "geom/mesh/stlmesh.h"
#include "geom/slicing/contour.h"
#include "geom/slicing/contoursimplify.h"
#include "geom/slicing/slice.h"

#include <QHash>
#include <QSet>
#include <QtDebug>

#include <algorithm>
#include <cmath>

namespace geom {

namespace {

// Grid heights never lie on a level: levels are offset from the grid by this much.
const double levelOffset = 0.0005;
const quint16 maxLevelKey = 65535;

inline double roundHalfAway(double v)
{
    return std::round(v);
}

inline bool finite(const Vector3f &v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

} // namespace

void TolerantSlicerPrivate::buildVertexTable()
{
    const QVector<Vector3f> &vertices = mesh->vertices();
    vertexTable.clear();
    vertexTable.reserve(size_t(vertices.size()));
    for (const Vector3f &v : vertices)
        vertexTable.push_back(Vector3f(v.x, v.y, float(roundHalfAway(double(v.z) / tolerance) * tolerance)));
}

void TolerantSlicerPrivate::skipFacet(quint32 facet)
{
    for (quint32 c = 0; c < 3; ++c)
        halfEdges[halfEdges[3 * facet + c].slot].flags |= SkipFacet;
}

void TolerantSlicerPrivate::buildHalfEdges()
{
    const quint32 vertexCount = quint32(vertexTable.size());
    const size_t n = size_t(facetCount) * 3;
    halfEdges.clear();
    halfEdges.resize(n);

    // Facets with an index outside the vertex list or a vertex that is not finite are left out of
    // tracing; their records get keys past every real edge, one of their own each, so they neither
    // link to real edges nor to each other.
    std::vector<bool> bad(facetCount, false);
    quint32 badCount = 0;
    for (quint32 f = 0; f < facetCount; ++f) {
        for (quint32 c = 0; c < 3 && !bad[f]; ++c) {
            const quint32 v = corner(4 * f + c);
            if (v >= vertexCount || !finite(vertexTable[v]))
                bad[f] = true;
        }
        if (bad[f])
            ++badCount;
    }
    if (badCount > 0)
        qWarning("TolerantSlicer.prepareMesh skipping %u facets with a vertex index out of range or a vertex "
                 "that is not finite",
                 badCount);

    // note: the stable sort by (smaller, larger vertex index) is a counting sort by the smaller
    // index (ids visited in ascending order keep their order), then an insertion sort by the larger
    // index inside each bucket, which holds the few edges of one vertex. Bad facets' records follow
    // every real edge, in id order. The larger index rides in slot while the buckets are sorted.
    std::vector<quint32> start(size_t(vertexCount) + 2, 0u);
    for (quint32 f = 0; f < facetCount; ++f) {
        for (quint32 c = 0; c < 3; ++c) {
            const quint32 id = 4 * f + c;
            ++start[bad[f] ? size_t(vertexCount) + 1 : size_t(std::min(corner(id), corner(nextId(id)))) + 1];
        }
    }
    for (size_t v = 1; v < start.size(); ++v)
        start[v] += start[v - 1];
    for (quint32 f = 0; f < facetCount; ++f) {
        for (quint32 c = 0; c < 3; ++c) {
            const quint32 id = 4 * f + c;
            const quint32 a = corner(id), b = corner(nextId(id));
            HalfEdge &r = halfEdges[start[bad[f] ? size_t(vertexCount) : size_t(std::min(a, b))]++];
            r.id = id;
            r.link = bad[f] ? 0xFFFFFFFFu : std::min(a, b);
            r.slot = bad[f] ? id : std::max(a, b);
            r.levelKey = 0;
            r.flags = 0;
        }
    }
    // start[v] is now the end of bucket v.
    size_t bucketBegin = 0;
    for (size_t v = 0; v < size_t(vertexCount); ++v) {
        const size_t bucketEnd = start[v];
        for (size_t i = bucketBegin + 1; i < bucketEnd; ++i) {
            const HalfEdge r = halfEdges[i];
            size_t j = i;
            while (j > bucketBegin && halfEdges[j - 1].slot > r.slot) {
                halfEdges[j] = halfEdges[j - 1];
                --j;
            }
            halfEdges[j] = r;
        }
        bucketBegin = bucketEnd;
    }
    std::vector<quint32>().swap(start);

    const Cuboid &box = mesh->bounds();
    const float zmin = box.min().z;
    const float range = box.max().z - zmin;
    quint32 prevA = 0, prevB = 0;
    quint16 key = 0;
    lowestCut = 0.0f;
    highestCut = -1.0f;
    bool anyCut = false;
    for (size_t pos = 0; pos < n; ++pos) {
        HalfEdge &r = halfEdges[pos];
        // The key again from the corners: slot fields are overwritten below as the inverse fills.
        const bool skipped = bad[r.id >> 2];
        const quint32 a = skipped ? 0xFFFFFFFFu : std::min(corner(r.id), corner(nextId(r.id)));
        const quint32 b = skipped ? r.id : std::max(corner(r.id), corner(nextId(r.id)));
        if (pos == 0 || a != prevA || b != prevB) {
            ++edgeGroupCounter;
            quint16 q = maxLevelKey;
            if (!skipped) {
                const float za = vertexTable[corner(r.id)].z;
                const float zb = vertexTable[corner(nextId(r.id))].z;
                const float t = (std::max(za, zb) - zmin) / range * float(maxLevelKey);
                if (t > float(maxLevelKey))
                    q = maxLevelKey;
                else if (!(t > 0.0f))
                    q = 0;
                else
                    q = quint16(t);
            }
            key = pos == 0 ? q : std::max(q, key);
        }
        prevA = a;
        prevB = b;
        r.levelKey = key;
        r.flags = (edgeGroupCounter & 1) ? quint16(GroupParity) : quint16(0);
        if (skipped) {
            r.flags |= SkipFacet;
        } else {
            const float za = vertexTable[corner(r.id)].z;
            const float zb = vertexTable[corner(nextId(r.id))].z;
            if (za < zb)
                r.flags |= Ascending;
            else if (za > zb)
                r.flags |= Descending;
            if (za != zb) {
                const float lo = std::min(za, zb), hi = std::max(za, zb);
                if (!anyCut || lo < lowestCut)
                    lowestCut = lo;
                if (!anyCut || hi > highestCut)
                    highestCut = hi;
                anyCut = true;
            }
        }
        r.link = quint32(pos);
        halfEdges[3 * (r.id >> 2) + (r.id & 3)].slot = quint32(pos);
    }
}

void TolerantSlicerPrivate::linkHalfEdges()
{
    const quint32 n = quint32(halfEdges.size());
    if (n < 2)
        return;
    quint32 g = 0;
    for (quint32 pos = 1; pos < n; ++pos) {
        HalfEdge &r = halfEdges[pos];
        if ((r.flags & GroupParity) != (halfEdges[g].flags & GroupParity)) {
            g = pos;
            continue;
        }
        const quint32 k = pos - g;
        if (k == 1) {
            halfEdges[g].link = pos;
            r.link = g;
        } else if (k == 2) {
            QVector<quint32> members;
            members.reserve(8);
            members << g << g + 1 << g + 2;
            const quint32 index = quint32(junctions.size());
            junctions.append(members);
            for (quint32 m = g; m <= pos; ++m) {
                halfEdges[m].flags |= Junction;
                halfEdges[m].link = index;
            }
        } else {
            r.flags |= Junction;
            r.link = halfEdges[g].link;
            QVector<quint32> &members = junctions[int(r.link)];
            members.insert(std::lower_bound(members.begin(), members.end(), pos), pos);
        }
    }
    for (const QVector<quint32> &j : qAsConst(junctions)) {
        if (j.size() & 1) {
            hasOddJunctions = true;
            break;
        }
    }
}

void TolerantSlicerPrivate::buildCrackTraversal()
{
    const quint32 n = quint32(halfEdges.size());
    std::vector<quint32> open;
    for (quint32 pos = 0; pos < n; ++pos) {
        const HalfEdge &r = halfEdges[pos];
        if (!(r.flags & (Junction | SkipFacet)) && halfEdges[r.link].id == r.id)
            open.push_back(pos);
    }
    QMultiHash<quint32, quint32> byVertex;
    byVertex.reserve(int(2 * open.size()));
    for (quint32 i = 0; i < quint32(open.size()); ++i) {
        const quint32 id = halfEdges[open[i]].id;
        byVertex.insert(corner(id), i);
        byVertex.insert(corner(nextId(id)), i);
    }

    crackCount = 0;
    std::vector<bool> reached(open.size(), false);
    std::vector<quint32> group;
    for (quint32 i = 0; i < quint32(open.size()); ++i) {
        if (reached[i])
            continue;
        reached[i] = true;
        group.assign(1, i);
        for (size_t k = 0; k < group.size(); ++k) {
            const quint32 id = halfEdges[open[group[k]]].id;
            for (const quint32 vertexIndex : {corner(id), corner(nextId(id))}) {
                // QMultiHash yields the values of a key newest first; the group order follows the
                // order of the records in the table.
                QVector<quint32> sharing;
                for (auto it = byVertex.find(vertexIndex); it != byVertex.end() && it.key() == vertexIndex;
                     ++it)
                    sharing.append(it.value());
                std::sort(sharing.begin(), sharing.end());
                for (const quint32 other : qAsConst(sharing)) {
                    if (!reached[other]) {
                        reached[other] = true;
                        group.push_back(other);
                    }
                }
            }
        }
        if (group.size() == 1) {
            skipFacet(halfEdges[open[i]].id >> 2);
        } else {
            QVector<quint32> members;
            members.reserve(int(group.size()));
            for (const quint32 ordinal : group)
                members.append(open[ordinal]);
            std::sort(members.begin(), members.end());
            const quint32 index = quint32(junctions.size());
            for (const quint32 pos : qAsConst(members)) {
                halfEdges[pos].flags |= Junction | Crack;
                halfEdges[pos].link = index;
            }
            junctions.append(members);
        }
        ++crackCount;
    }
}

bool TolerantSlicerPrivate::sameEdge(quint32 a, quint32 b) const
{
    const quint32 ia = record(a).id, ib = record(b).id;
    const quint32 a0 = corner(ia), a1 = corner(nextId(ia));
    const quint32 b0 = corner(ib), b1 = corner(nextId(ib));
    return (a0 == b0 && a1 == b1) || (a0 == b1 && a1 == b0);
}

bool TolerantSlicerPrivate::cut(const HalfEdge &r, float level, Vector2f *point) const
{
    const util2D::Intersection3f hit =
        util2D::intersectSegmentZPlane(vertex(corner(r.id)), vertex(corner(nextId(r.id))), level);
    if (hit.count != 1)
        return false;
    *point = Vector2f(hit.first.x, hit.first.y);
    return true;
}

quint32 TolerantSlicerPrivate::exitEdge(quint32 pos, float level) const
{
    const HalfEdge &r = record(pos);
    const quint32 third = prevId(r.id);
    const bool below = vertex(corner(third)).z < level;
    const bool ascending = (r.flags & Ascending) != 0;
    const quint32 exitId = (ascending && !below) || (!ascending && below) ? third : nextId(r.id);
    return positionOf(exitId);
}

int TolerantSlicerPrivate::traceLevel(Slice &slice, quint32 *cursor)
{
    const float level =
        float(roundHalfAway((double(slice.z()) + sampleOffset) / tolerance) * tolerance + levelOffset);
    QSet<quint32> usedCracks;
    if (++generation == 0) {
        std::fill(visited.begin(), visited.end(), 0u);
        generation = 1;
    }
    int incomplete = 0;
    const quint32 n = quint32(halfEdges.size());
    if (*cursor >= n || running.loadRelaxed() == 0)
        return 0;

    QVector<Vector2f> points;
    bool held = true;
    for (quint32 pos = *cursor; pos < n; ++pos) {
        if (pos != *cursor && running.loadRelaxed() == 0)
            break;
        const HalfEdge &r = record(pos);
        if (!(r.flags & (Ascending | Descending)) || (r.flags & SkipFacet) || isVisited(r.id))
            continue;
        const float za = vertex(corner(r.id)).z;
        const float zb = vertex(corner(nextId(r.id))).z;
        // Records come in order of their lower end: past the first one above the level, none crosses.
        if (std::min(za, zb) > level)
            break;
        if (level > std::max(za, zb))
            continue;
        if (held) {
            *cursor = pos;
            held = false;
        }

        // Walk one contour from this record.
        points.clear();
        int vote = 0;
        quint32 current = pos;
        bool closed = false;
        for (;;) {
            const HalfEdge &cr = record(current);
            Vector2f p;
            if (!cut(cr, level, &p))
                break;
            vote += (cr.flags & Ascending) ? 1 : -1;
            markVisited(cr.id);
            points.append(p);
            if (points.size() > 2 && p == points.first()) {
                closed = true;
                break;
            }

            if (!(cr.flags & Junction) && cr.link == current) {
                if (crackCount == -1) {
                    buildCrackTraversal();
                    qDebug("Automatic crack traversal count: %d", crackCount);
                }
                if ((record(current).flags & SkipFacet) || !(record(current).flags & Junction))
                    break;
            }
            const HalfEdge &now = record(current);

            if (now.flags & Crack) {
                usedCracks.insert(current);
                const QVector<quint32> &members = junctions.at(int(now.link));
                const Vector2f last = points.last();
                quint32 best = n;
                double bestDistance = 0.0;
                Vector2f bestPoint;
                for (const quint32 m : members) {
                    const HalfEdge &mr = record(m);
                    if (!(mr.flags & (Ascending | Descending)) || usedCracks.contains(m))
                        continue;
                    Vector2f mp;
                    if (!cut(mr, level, &mp))
                        continue;
                    const double dx = double(mp.x - last.x), dy = double(mp.y - last.y);
                    const double distance = dx * dx + dy * dy;
                    if (best == n || distance < bestDistance) {
                        best = m;
                        bestDistance = distance;
                        bestPoint = mp;
                    }
                }
                if (best == n)
                    break;
                points.append(bestPoint);
                usedCracks.insert(best);
                current = exitEdge(best, level);
                continue;
            }

            // Neighbours across the edge: the junction's members or the partner.
            const quint32 *neighbours = nullptr;
            int neighbourCount = 0;
            if (now.flags & Junction) {
                const QVector<quint32> &members = junctions.at(int(now.link));
                neighbours = members.constData();
                neighbourCount = members.size();
            } else {
                neighbours = &now.link;
                neighbourCount = 1;
            }
            const quint32 currentFacet = now.id >> 2;
            const quint32 currentThird = corner(prevId(now.id));
            const bool currentAscending = (now.flags & Ascending) != 0;
            int counted = neighbourCount;
            quint32 taken = n;
            quint32 remembered = n;
            for (int k = 0; k < neighbourCount && !closed; ++k) {
                const quint32 np = neighbours[k];
                const HalfEdge &nr = record(np);
                if ((nr.id >> 2) == currentFacet)
                    continue;
                const float na = vertex(corner(nr.id)).z;
                const float nb = vertex(corner(nextId(nr.id))).z;
                const bool crosses = std::min(na, nb) <= level && std::max(na, nb) >= level &&
                                     (nr.flags & (Ascending | Descending));
                const quint32 candidate = crosses ? exitEdge(np, level) : np;
                if (points.size() > 2 && sameEdge(candidate, pos)) {
                    markVisited(record(candidate).id);
                    closed = true;
                    break;
                }
                if (isVisited(record(candidate).id))
                    continue;
                const bool passes =
                    currentAscending ? (nr.flags & Descending) != 0 : !(nr.flags & Descending);
                if (corner(prevId(nr.id)) == currentThird) {
                    if (passes) {
                        points.removeLast();
                        taken = candidate;
                        break;
                    }
                    --counted;
                    continue;
                }
                if (passes) {
                    taken = candidate;
                    break;
                }
                if (remembered == n)
                    remembered = candidate;
            }
            if (closed)
                break;
            if (taken == n) {
                if (counted < 2 && remembered != n)
                    taken = remembered;
                else
                    break;
            }
            if (taken == current)
                break;
            current = taken;
        }

        if (points.size() <= 2)
            continue;
        if (!closed) {
            qWarning("Incomplete contour stopped at %.3f, %.3f, %.3f.", double(points.last().x),
                     double(points.last().y), double(level));
            ++incomplete;
            continue;
        }
        if (vote < 0)
            std::reverse(points.begin(), points.end());
        if (simplifyTolerance > double(1e-5f)) {
            simplifyContour(points, simplifyTolerance);
            points = snapToGrid(points, gridStep, nullptr);
            simplifyContour(points, simplifyTolerance);
        } else {
            points = snapToGrid(points, gridStep, nullptr);
        }
        if (points.size() <= 2)
            continue;
        Contour contour;
        contour.points() = points;
        slice.contours().append(contour);
    }
    return incomplete;
}

quint32 TolerantSlicerPrivate::firstRecordAt(float z, quint32 from) const
{
    const quint32 n = quint32(halfEdges.size());
    if (!mesh || from >= n)
        return std::min(from, n);
    const quint32 firstVertex = quint32(std::max(0, mesh->lowerVertexIndex(float(double(z) + tolerance))));
    // The first facet at or after from / 3 whose first vertex index reaches that vertex.
    quint32 lo = from / 3, hi = facetCount;
    while (lo < hi) {
        const quint32 mid = lo + (hi - lo) / 2;
        if (corner(4 * mid) < firstVertex)
            lo = mid + 1;
        else
            hi = mid;
    }
    const Cuboid &box = mesh->bounds();
    const float range = box.max().z - box.min().z;
    const float t = (z - box.min().z) / range * float(maxLevelKey);
    const quint16 key = t > float(maxLevelKey) ? maxLevelKey : !(t > 0.0f) ? quint16(0) : quint16(t);
    quint32 a = std::max(quint32(std::min<quint64>(quint64(3) * lo, n)), from), b = n;
    while (a < b) {
        const quint32 mid = a + (b - a) / 2;
        if (halfEdges[mid].levelKey < key)
            a = mid + 1;
        else
            b = mid;
    }
    return a;
}

} // namespace geom
