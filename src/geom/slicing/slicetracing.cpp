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
#include <stdexcept>

namespace geom {

namespace {

// Grid heights never lie on a level: levels are offset from the grid by this much.
const double levelOffset = 0.0005;

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
    vertexHeights.clear();
    vertexHeights.reserve(size_t(vertices.size()));
    for (const Vector3f &v : qAsConst(vertices))
        vertexHeights.push_back(float(roundHalfAway(double(v.z) / tolerance) * tolerance));
}

void TolerantSlicerPrivate::skipFacet(quint32 facet)
{
    for (quint32 c = 0; c < 3; ++c)
        edgeFlags[positions[3 * facet + c]] |= SkipFacet;
}

void TolerantSlicerPrivate::buildHalfEdges()
{
    const quint32 vertexCount = quint32(vertexHeights.size());
    const size_t n = size_t(facetCount) * 3;
    edgeIds.assign(n, 0u);
    positions.assign(n, 0u);
    edgeFlags.assign(n, quint8(0));

    // Facets with an index outside the vertex list or a vertex that is not finite are left out of
    // tracing; their records get keys past every real edge, one of their own each, so they neither
    // link to real edges nor to each other.
    std::vector<bool> bad(facetCount, false);
    quint32 badCount = 0;
    for (quint32 f = 0; f < facetCount; ++f) {
        for (quint32 c = 0; c < 3 && !bad[f]; ++c) {
            const quint32 v = corner(4 * f + c);
            if (v >= vertexCount || !finite(vertices.at(int(v))) || !std::isfinite(vertexHeights[v]))
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
    // every real edge, in id order. The larger index rides in positions while the buckets are
    // sorted; the inverse overwrites it afterwards.
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
            const size_t pos = start[bad[f] ? size_t(vertexCount) : size_t(std::min(a, b))]++;
            edgeIds[pos] = id;
            positions[pos] = bad[f] ? id : std::max(a, b);
        }
    }
    // start[v] is now the end of bucket v.
    size_t bucketBegin = 0;
    for (size_t v = 0; v < size_t(vertexCount); ++v) {
        const size_t bucketEnd = start[v];
        for (size_t i = bucketBegin + 1; i < bucketEnd; ++i) {
            const quint32 id = edgeIds[i], key = positions[i];
            size_t j = i;
            while (j > bucketBegin && positions[j - 1] > key) {
                edgeIds[j] = edgeIds[j - 1];
                positions[j] = positions[j - 1];
                --j;
            }
            edgeIds[j] = id;
            positions[j] = key;
        }
        bucketBegin = bucketEnd;
    }
    std::vector<quint32>().swap(start);

    quint32 prevA = 0, prevB = 0;
    lowestCut = 0.0f;
    highestCut = -1.0f;
    bool anyCut = false;
    for (size_t pos = 0; pos < n; ++pos) {
        const quint32 id = edgeIds[pos];
        // The key again from the corners: positions are overwritten below as the inverse fills.
        const bool skipped = bad[id >> 2];
        const quint32 a = skipped ? 0xFFFFFFFFu : std::min(corner(id), corner(nextId(id)));
        const quint32 b = skipped ? id : std::max(corner(id), corner(nextId(id)));
        if (pos == 0 || a != prevA || b != prevB)
            ++edgeGroupCounter;
        prevA = a;
        prevB = b;
        quint8 flags = (edgeGroupCounter & 1) ? quint8(GroupParity) : quint8(0);
        if (skipped) {
            flags |= SkipFacet;
        } else {
            const float za = vertexHeights[corner(id)];
            const float zb = vertexHeights[corner(nextId(id))];
            if (za < zb)
                flags |= Ascending;
            else if (za > zb)
                flags |= Descending;
            if (za != zb) {
                const float lo = std::min(za, zb), hi = std::max(za, zb);
                if (!anyCut || lo < lowestCut)
                    lowestCut = lo;
                if (!anyCut || hi > highestCut)
                    highestCut = hi;
                anyCut = true;
            }
        }
        edgeFlags[pos] = flags;
        positions[3 * (id >> 2) + (id & 3)] = quint32(pos);
    }
}

void TolerantSlicerPrivate::linkHalfEdges()
{
    const quint32 n = quint32(edgeIds.size());
    if (n < 2)
        return;
    quint32 g = 0;
    for (quint32 pos = 1; pos < n; ++pos) {
        if ((edgeFlags[pos] & GroupParity) != (edgeFlags[g] & GroupParity)) {
            g = pos;
            continue;
        }
        const quint32 k = pos - g;
        if (k == 1) {
            edgeFlags[g] |= PartnerAfter;
            edgeFlags[pos] |= PartnerBefore;
        } else if (k == 2) {
            QVector<quint32> members;
            members.reserve(8);
            members << g << g + 1 << g + 2;
            const quint32 index = quint32(junctions.size());
            junctions.append(members);
            for (quint32 m = g; m <= pos; ++m) {
                edgeFlags[m] = quint8((edgeFlags[m] & ~(PartnerAfter | PartnerBefore)) | Junction);
                junctionOf.emplace_back(m, index);
            }
        } else {
            edgeFlags[pos] |= Junction;
            // The previous record is on the same edge, so its entry is the last one.
            const quint32 index = junctionOf.back().second;
            junctionOf.emplace_back(pos, index);
            QVector<quint32> &members = junctions[int(index)];
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

quint32 TolerantSlicerPrivate::link(quint32 pos) const
{
    const quint8 flags = flagsAt(pos);
    if (flags & PartnerAfter)
        return pos + 1;
    if (flags & PartnerBefore)
        return pos - 1;
    if (flags & Junction) {
        const auto it = std::lower_bound(junctionOf.begin(), junctionOf.end(), std::make_pair(pos, quint32(0)));
        if (it == junctionOf.end() || it->first != pos)
            throw std::out_of_range("TolerantSlicer: junction record without a junction");
        return it->second;
    }
    return pos;
}

void TolerantSlicerPrivate::buildCrackTraversal()
{
    const quint32 n = quint32(edgeIds.size());
    std::vector<quint32> open;
    for (quint32 pos = 0; pos < n; ++pos) {
        if (!(edgeFlags[pos] & (Junction | SkipFacet | PartnerAfter | PartnerBefore)))
            open.push_back(pos);
    }
    QMultiHash<quint32, quint32> byVertex;
    byVertex.reserve(int(2 * open.size()));
    for (quint32 i = 0; i < quint32(open.size()); ++i) {
        const quint32 id = edgeIds[open[i]];
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
            const quint32 id = edgeIds[open[group[k]]];
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
            skipFacet(edgeIds[open[i]] >> 2);
        } else {
            QVector<quint32> members;
            members.reserve(int(group.size()));
            for (const quint32 ordinal : group)
                members.append(open[ordinal]);
            std::sort(members.begin(), members.end());
            const quint32 index = quint32(junctions.size());
            for (const quint32 pos : qAsConst(members)) {
                edgeFlags[pos] |= Junction | Crack;
                junctionOf.emplace_back(pos, index);
            }
            junctions.append(members);
        }
        ++crackCount;
    }
    // Crack members are open records, never members of an edge's junction: positions stay unique.
    std::sort(junctionOf.begin(), junctionOf.end());
}

bool TolerantSlicerPrivate::sameEdge(quint32 a, quint32 b) const
{
    const quint32 ia = idAt(a), ib = idAt(b);
    const quint32 a0 = corner(ia), a1 = corner(nextId(ia));
    const quint32 b0 = corner(ib), b1 = corner(nextId(ib));
    return (a0 == b0 && a1 == b1) || (a0 == b1 && a1 == b0);
}

bool TolerantSlicerPrivate::cut(quint32 id, float level, Vector2f *point) const
{
    const util2D::Intersection3f hit =
        util2D::intersectSegmentZPlane(vertex(corner(id)), vertex(corner(nextId(id))), level);
    if (hit.count != 1)
        return false;
    *point = Vector2f(hit.first.x, hit.first.y);
    return true;
}

quint32 TolerantSlicerPrivate::exitEdge(quint32 pos, float level) const
{
    const quint32 id = idAt(pos);
    const quint32 third = prevId(id);
    const bool below = height(corner(third)) < level;
    const bool ascending = (flagsAt(pos) & Ascending) != 0;
    const quint32 exitId = (ascending && !below) || (!ascending && below) ? third : nextId(id);
    return positionOf(exitId);
}

int TolerantSlicerPrivate::traceLevel(Slice &slice, quint32 *cursor)
{
    const float level =
        float(roundHalfAway((double(slice.z()) + sampleOffset) / tolerance) * tolerance + levelOffset);
    QSet<quint32> usedCracks;
    if (++generation == 0) {
        std::fill(visited.begin(), visited.end(), quint8(0));
        generation = 1;
    }
    int incomplete = 0;
    const quint32 n = quint32(edgeIds.size());
    if (*cursor >= n || running.loadRelaxed() == 0)
        return 0;

    QVector<Vector2f> points;
    bool held = true;
    for (quint32 pos = *cursor; pos < n; ++pos) {
        if (pos != *cursor && running.loadRelaxed() == 0)
            break;
        const quint32 id = idAt(pos);
        const quint8 flags = flagsAt(pos);
        if (!(flags & (Ascending | Descending)) || (flags & SkipFacet) || isVisited(id))
            continue;
        const float za = height(corner(id));
        const float zb = height(corner(nextId(id)));
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
            const quint32 currentId = idAt(current);
            quint8 currentFlags = flagsAt(current);
            Vector2f p;
            if (!cut(currentId, level, &p))
                break;
            vote += (currentFlags & Ascending) ? 1 : -1;
            markVisited(currentId);
            points.append(p);
            if (points.size() > 2 && p == points.first()) {
                closed = true;
                break;
            }

            if (!(currentFlags & (Junction | PartnerAfter | PartnerBefore))) {
                if (crackCount == -1) {
                    buildCrackTraversal();
                    qDebug("Automatic crack traversal count: %d", crackCount);
                }
                currentFlags = flagsAt(current);
                if ((currentFlags & SkipFacet) || !(currentFlags & Junction))
                    break;
            }

            if (currentFlags & Crack) {
                usedCracks.insert(current);
                const QVector<quint32> &members = junctions.at(int(link(current)));
                const Vector2f last = points.last();
                quint32 best = n;
                double bestDistance = 0.0;
                Vector2f bestPoint;
                for (const quint32 m : members) {
                    if (!(flagsAt(m) & (Ascending | Descending)) || usedCracks.contains(m))
                        continue;
                    Vector2f mp;
                    if (!cut(idAt(m), level, &mp))
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
            const quint32 partner = link(current);
            if (currentFlags & Junction) {
                const QVector<quint32> &members = junctions.at(int(partner));
                neighbours = members.constData();
                neighbourCount = members.size();
            } else {
                neighbours = &partner;
                neighbourCount = 1;
            }
            const quint32 currentFacet = currentId >> 2;
            const quint32 currentThird = corner(prevId(currentId));
            const bool currentAscending = (currentFlags & Ascending) != 0;
            int counted = neighbourCount;
            quint32 taken = n;
            quint32 remembered = n;
            for (int k = 0; k < neighbourCount && !closed; ++k) {
                const quint32 np = neighbours[k];
                const quint32 nid = idAt(np);
                const quint8 nflags = flagsAt(np);
                if ((nid >> 2) == currentFacet)
                    continue;
                const float na = height(corner(nid));
                const float nb = height(corner(nextId(nid)));
                const bool crosses = std::min(na, nb) <= level && std::max(na, nb) >= level &&
                                     (nflags & (Ascending | Descending));
                const quint32 candidate = crosses ? exitEdge(np, level) : np;
                if (points.size() > 2 && sameEdge(candidate, pos)) {
                    markVisited(idAt(candidate));
                    closed = true;
                    break;
                }
                if (isVisited(idAt(candidate)))
                    continue;
                const bool passes = currentAscending ? (nflags & Descending) != 0 : !(nflags & Descending);
                if (corner(prevId(nid)) == currentThird) {
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

} // namespace geom
