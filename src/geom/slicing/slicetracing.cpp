// The tables of the tolerant slicer and the tracing of one level into closed contours.

#include "geom/slicing/tolerantslicer_p.h"

#include "geom/core/util3d.h"
#include "geom/mesh/stlmesh.h"
#include "geom/slicing/contour.h"
#include "geom/slicing/contoursimplify.h"
#include "geom/slicing/planar_p.h"
#include "geom/slicing/slice.h"

#include <QtDebug>

#include <algorithm>
#include <array>
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

void TolerantSlicerPrivate::markRepeatedFacets(std::vector<bool> &leftOut) const
{
    // A facet's key: its corners turned so that the smallest index comes first.
    const auto key = [this](quint32 f) {
        const quint32 a = corner(4 * f), b = corner(4 * f + 1), c = corner(4 * f + 2);
        if (a <= b && a <= c)
            return std::array<quint32, 3>{a, b, c};
        if (b <= c)
            return std::array<quint32, 3>{b, c, a};
        return std::array<quint32, 3>{c, a, b};
    };
    // The mesh keeps its facets turned and sorted that way, so a repeat follows the facet it
    // repeats; only a list out of that order needs sorting.
    bool ordered = true;
    std::array<quint32, 3> previous{};
    bool havePrevious = false;
    for (quint32 f = 0; f < facetCount && ordered; ++f) {
        if (leftOut[f])
            continue;
        const std::array<quint32, 3> k = key(f);
        if (havePrevious && k == previous)
            leftOut[f] = true;
        ordered = !havePrevious || !(k < previous);
        previous = k;
        havePrevious = true;
    }
    if (ordered)
        return;

    // Out of order: the rest is sorted by key and facet, so the first of equal facets stays. The
    // repeats marked so far stay marked; each follows a facet with its key, which is sorted here.
    std::vector<quint32> order;
    for (quint32 f = 0; f < facetCount; ++f) {
        if (!leftOut[f])
            order.push_back(f);
    }
    std::sort(order.begin(), order.end(), [&key](quint32 f, quint32 g) {
        const auto kf = key(f), kg = key(g);
        return kf < kg || (kf == kg && f < g);
    });
    for (size_t i = 1; i < order.size(); ++i) {
        if (key(order[i]) == key(order[i - 1]))
            leftOut[order[i]] = true;
    }
}

void TolerantSlicerPrivate::buildHalfEdges()
{
    const quint32 vertexCount = quint32(vertexHeights.size());
    const size_t n = size_t(facetCount) * 3;
    edgeIds.assign(n, 0u);
    positions.assign(n, 0u);
    edgeFlags.assign(n, quint8(0));

    // Facets with an index outside the vertex list or a vertex that is not finite, and repeats of
    // an earlier facet, are left out of tracing; their records get keys past every real edge, one of
    // their own each, so they neither link to real edges nor to each other. A repeat would pair up
    // with its original on an edge whose other facet is missing and hide that crack.
    std::vector<bool> leftOut(facetCount, false);
    for (quint32 f = 0; f < facetCount; ++f) {
        for (quint32 c = 0; c < 3 && !leftOut[f]; ++c) {
            const quint32 v = corner(4 * f + c);
            if (v >= vertexCount || !finite(vertices.at(int(v))) || !std::isfinite(vertexHeights[v]))
                leftOut[f] = true;
        }
        if (leftOut[f])
            ++badFacets;
    }
    if (badFacets > 0)
        qWarning("TolerantSlicer.prepareMesh skipping %u facets with a vertex index out of range or a vertex "
                 "that is not finite",
                 badFacets);
    markRepeatedFacets(leftOut);

    // note: the stable sort by (smaller, larger vertex index) is a counting sort by the smaller
    // index (ids visited in ascending order keep their order), then an insertion sort by the larger
    // index inside each bucket, which holds the few edges of one vertex. Left-out facets' records follow
    // every real edge, in id order. The larger index rides in positions while the buckets are
    // sorted; the inverse overwrites it afterwards.
    std::vector<quint32> start(size_t(vertexCount) + 2, 0u);
    for (quint32 f = 0; f < facetCount; ++f) {
        for (quint32 c = 0; c < 3; ++c) {
            const quint32 id = 4 * f + c;
            ++start[leftOut[f] ? size_t(vertexCount) + 1
                               : size_t(std::min(corner(id), corner(nextId(id)))) + 1];
        }
    }
    for (size_t v = 1; v < start.size(); ++v)
        start[v] += start[v - 1];
    for (quint32 f = 0; f < facetCount; ++f) {
        for (quint32 c = 0; c < 3; ++c) {
            const quint32 id = 4 * f + c;
            const quint32 a = corner(id), b = corner(nextId(id));
            const size_t pos = start[leftOut[f] ? size_t(vertexCount) : size_t(std::min(a, b))]++;
            edgeIds[pos] = id;
            positions[pos] = leftOut[f] ? id : std::max(a, b);
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
        const bool skipped = leftOut[id >> 2];
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
    if (flags & Crack)
        return crackOf.at(corner(idAt(pos)));
    if (flags & Junction) {
        const auto it =
            std::lower_bound(junctionOf.begin(), junctionOf.end(), std::make_pair(pos, quint32(0)));
        if (it == junctionOf.end() || it->first != pos)
            throw std::out_of_range("TolerantSlicer: junction record without a junction");
        return it->second;
    }
    return pos;
}

void TolerantSlicerPrivate::buildCrackTraversal()
{
    const quint32 n = quint32(edgeIds.size());
    const auto isOpen = [this](quint32 pos) {
        return !(edgeFlags[pos] & (Junction | SkipFacet | PartnerAfter | PartnerBefore));
    };
    // A crack is a set of open records joined by shared vertices: each open record unites its two
    // vertices, and a crack is named by the root of its vertices, which crackOf keeps per vertex.
    // note: flat arrays over the vertices, since on a mesh that lost many facets nearly half of its
    // records are open; per record lists or a hash of them outweighed the mesh.
    std::vector<quint32> root(vertexHeights.size());
    for (quint32 v = 0; v < quint32(root.size()); ++v)
        root[v] = v;
    const auto find = [&root](quint32 v) {
        while (root[v] != v) {
            root[v] = root[root[v]];
            v = root[v];
        }
        return v;
    };
    for (quint32 pos = 0; pos < n; ++pos) {
        if (!isOpen(pos))
            continue;
        const quint32 id = edgeIds[pos];
        const quint32 a = find(corner(id)), b = find(corner(nextId(id)));
        if (a != b)
            root[std::max(a, b)] = std::min(a, b);
    }
    // A lone open edge, touching no other, leaves its facet out of tracing; the records of a larger
    // crack are marked.
    std::vector<quint32> size(root.size(), 0u);
    for (quint32 pos = 0; pos < n; ++pos) {
        if (isOpen(pos))
            ++size[find(corner(edgeIds[pos]))];
    }
    crackCount = 0;
    for (const quint32 count : size)
        crackCount += count > 0 ? 1 : 0;
    crackPositions.clear();
    for (quint32 pos = 0; pos < n; ++pos) {
        if (!isOpen(pos))
            continue;
        const quint32 id = edgeIds[pos];
        if (size[find(corner(id))] == 1) {
            skipFacet(id >> 2);
        } else {
            edgeFlags[pos] |= Junction | Crack;
            crackPositions.push_back(pos);
        }
    }
    std::vector<quint32>().swap(size);
    for (quint32 v = 0; v < quint32(root.size()); ++v)
        root[v] = find(v);
    crackOf.swap(root);
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

float TolerantSlicerPrivate::levelAt(float z) const
{
    return float(roundHalfAway((double(z) + sampleOffset) / tolerance) * tolerance + levelOffset);
}

TolerantSlicerPrivate::LevelCounts TolerantSlicerPrivate::traceLevel(Slice &slice, quint32 *cursor)
{
    LevelCounts counts;
    LevelTrace trace;
    trace.level = levelAt(slice.z());
    trace.scanStart = *cursor;
    if (++generation == 0) {
        std::fill(visited.begin(), visited.end(), quint8(0));
        generation = 1;
    }
    const quint32 n = quint32(edgeIds.size());
    if (*cursor >= n || running.loadRelaxed() == 0)
        return counts;

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
        if (std::min(za, zb) > trace.level)
            break;
        if (trace.level > std::max(za, zb))
            continue;
        if (held) {
            *cursor = pos;
            held = false;
        }

        ++counts.walks;
        const bool closed = walkContour(pos, trace);
        if (trace.points.size() <= 2)
            continue;
        if (!closed) {
            qWarning("Incomplete contour stopped at %.3f, %.3f, %.3f.", double(trace.points.last().x),
                     double(trace.points.last().y), double(trace.level));
            ++counts.incomplete;
            continue;
        }
        finishContour(trace.points, trace.vote, slice, counts);
    }
    return counts;
}

bool TolerantSlicerPrivate::walkContour(quint32 start, LevelTrace &trace)
{
    QVector<Vector2f> &points = trace.points;
    points.clear();
    trace.vote = 0;
    quint32 current = start;
    for (;;) {
        const quint32 currentId = idAt(current);
        quint8 currentFlags = flagsAt(current);
        Vector2f p;
        if (!cut(currentId, trace.level, &p))
            return false;
        trace.vote += (currentFlags & Ascending) ? 1 : -1;
        markVisited(currentId);
        points.append(p);
        if (points.size() > 2 && p == points.first())
            return true;

        if (!(currentFlags & (Junction | PartnerAfter | PartnerBefore))) {
            if (crackCount == -1) {
                buildCrackTraversal();
                qDebug("Automatic crack traversal count: %d", crackCount);
            }
            currentFlags = flagsAt(current);
            if ((currentFlags & SkipFacet) || !(currentFlags & Junction))
                return false;
        }

        const Step step = (currentFlags & Crack)
                              ? crackHop(current, trace)
                              : nextNeighbour(current, currentId, currentFlags, start, trace);
        if (step.kind != Step::Next)
            return step.kind == Step::Closed;
        current = step.next;
    }
}

TolerantSlicerPrivate::Step TolerantSlicerPrivate::crackHop(quint32 current, LevelTrace &trace)
{
    CrackEnds &ends = trace.ends;
    if (!ends.isBuilt())
        collectCrackEnds(trace);
    const int here = ends.indexOf(current);
    if (here != CrackEnds::none)
        ends.markUsed(here);
    const int best = ends.nearest(link(current), trace.points.last());
    if (best == CrackEnds::none)
        return {Step::Stop, 0};
    // A straight bridge across the crack, then on through the facet of the end reached.
    trace.points.append(ends.point(best));
    ends.markUsed(best);
    return {Step::Next, exitEdge(ends.position(best), trace.level)};
}

void TolerantSlicerPrivate::collectCrackEnds(LevelTrace &trace) const
{
    // note: the cut takes parameters up to 1e-5 outside an edge, so an edge whose lower end lies
    // that fraction of its height above the level still yields a point; the scan goes on past the
    // level by twice that fraction of the model's height.
    // Only the crack records are visited: the lower ends ascend with the position (left-out facets
    // last), so the first one past the reach ends the scan as it would among all records.
    const float reach = trace.level + 2e-5f * std::max(0.0f, highestCut - lowestCut);
    std::vector<CrackEnds::End> ends;
    const auto first = std::lower_bound(crackPositions.cbegin(), crackPositions.cend(), trace.scanStart);
    for (auto it = first; it != crackPositions.cend(); ++it) {
        const quint32 pos = *it;
        const quint8 flags = flagsAt(pos);
        if (flags & SkipFacet)
            continue;
        const quint32 id = idAt(pos);
        if (std::min(height(corner(id)), height(corner(nextId(id)))) > reach)
            break;
        Vector2f p;
        if (!(flags & (Ascending | Descending)) || !cut(id, trace.level, &p))
            continue;
        ends.push_back({pos, crackOf.at(corner(id)), p});
    }
    trace.ends.build(ends);
}

// note: inlined into the walk, which takes this step at every facet; as a call it cost 4 % of the
// tracing of an intact mesh.
Q_ALWAYS_INLINE TolerantSlicerPrivate::Step
TolerantSlicerPrivate::nextNeighbour(quint32 current, quint32 currentId, quint8 currentFlags, quint32 start,
                                     LevelTrace &trace)
{
    const quint32 n = quint32(edgeIds.size());
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
    for (int k = 0; k < neighbourCount && taken == n; ++k) {
        const quint32 np = neighbours[k];
        const quint32 nid = idAt(np);
        const quint8 nflags = flagsAt(np);
        if ((nid >> 2) == currentFacet)
            continue;
        const float na = height(corner(nid));
        const float nb = height(corner(nextId(nid)));
        const bool crosses = std::min(na, nb) <= trace.level && std::max(na, nb) >= trace.level &&
                             (nflags & (Ascending | Descending));
        const quint32 candidate = crosses ? exitEdge(np, trace.level) : np;
        if (trace.points.size() > 2 && sameEdge(candidate, start)) {
            markVisited(idAt(candidate));
            return {Step::Closed, 0};
        }
        if (isVisited(idAt(candidate)))
            continue;
        // Opposite directions on the edge, as on a consistently oriented surface.
        const bool passes = currentAscending ? (nflags & Descending) != 0 : !(nflags & Descending);
        if (corner(prevId(nid)) == currentThird) {
            // The same three vertices the other way round: the test alone decides, and a facet
            // taken replaces the point of the current one.
            if (passes) {
                trace.points.removeLast();
                taken = candidate;
            } else {
                --counted;
            }
            continue;
        }
        if (passes)
            taken = candidate;
        else if (remembered == n)
            remembered = candidate;
    }
    // A plain edge is followed even against the direction test; a junction is not.
    if (taken == n && counted < 2)
        taken = remembered;
    if (taken == n || taken == current)
        return {Step::Stop, 0};
    return {Step::Next, taken};
}

void TolerantSlicerPrivate::finishContour(QVector<Vector2f> &points, int vote, Slice &slice,
                                          LevelCounts &counts) const
{
    if (vote < 0)
        std::reverse(points.begin(), points.end());
    const double traced = planar::signedArea(points.constData(), points.size());
    if (simplifyTolerance > double(1e-5f)) {
        simplifyContour(points, simplifyTolerance);
        points = snapToGrid(points, gridStep, nullptr);
        simplifyContour(points, simplifyTolerance);
    } else {
        points = snapToGrid(points, gridStep, nullptr);
    }
    counts.tracedArea += std::abs(traced);
    if (points.size() <= 2) {
        ++counts.vanished;
        counts.changedArea += std::abs(traced);
        return;
    }
    counts.changedArea += std::abs(traced - planar::signedArea(points.constData(), points.size()));
    Contour contour;
    contour.points() = points;
    slice.contours().append(contour);
}

} // namespace geom
