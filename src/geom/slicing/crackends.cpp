// The nearest open end of a crack on one level, for the slicer's crack bridges.

#include "geom/slicing/crackends_p.h"

#include <algorithm>

namespace geom {

namespace {

// Ranges of at most this many nodes are leaves, searched end by end: below it the splits cost more
// than they save.
const quint32 leafSize = 16;

inline float coordinate(const Vector2f &p, int depth)
{
    return (depth & 1) ? p.y : p.x;
}

} // namespace

void CrackEnds::clear()
{
    m_nodes.clear();
    m_unused.clear();
    m_used.clear();
    m_positions.clear();
    m_nodeOf.clear();
    m_built = false;
}

void CrackEnds::build(const std::vector<End> &ends)
{
    clear();
    const quint32 n = quint32(ends.size());
    m_positions.reserve(n);
    m_nodes.reserve(n);
    for (quint32 i = 0; i < n; ++i) {
        m_positions.push_back(ends[i].position);
        m_nodes.push_back({ends[i].crack, i, ends[i].point});
    }
    m_unused.assign(n, 0u);
    m_used.assign(n, quint8(0));
    buildTree(0, n, 0);
    m_nodeOf.assign(n, 0u);
    for (quint32 node = 0; node < n; ++node)
        m_nodeOf[m_nodes[node].index] = node;
    m_built = true;
}

void CrackEnds::buildTree(quint32 begin, quint32 end, int depth)
{
    if (begin >= end)
        return;
    const quint32 middle = begin + (end - begin) / 2;
    m_unused[middle] = end - begin;
    if (end - begin <= leafSize)
        return;
    const auto first = m_nodes.begin() + begin, nth = m_nodes.begin() + middle, last = m_nodes.begin() + end;
    if (depth & 1)
        std::nth_element(first, nth, last,
                         [](const Node &a, const Node &b) { return a.point.y < b.point.y; });
    else
        std::nth_element(first, nth, last,
                         [](const Node &a, const Node &b) { return a.point.x < b.point.x; });
    buildTree(begin, middle, depth + 1);
    buildTree(middle + 1, end, depth + 1);
}

int CrackEnds::indexOf(quint32 position) const
{
    const auto it = std::lower_bound(m_positions.begin(), m_positions.end(), position);
    return it != m_positions.end() && *it == position ? int(it - m_positions.begin()) : none;
}

int CrackEnds::nearest(quint32 crack, const Vector2f &p) const
{
    Best best;
    search(0, quint32(m_nodes.size()), 0, crack, p, best);
    return best.found ? int(m_nodes[best.node].index) : none;
}

void CrackEnds::search(quint32 begin, quint32 end, int depth, quint32 crack, const Vector2f &p,
                       Best &best) const
{
    if (begin >= end)
        return;
    const quint32 middle = begin + (end - begin) / 2;
    if (m_unused[middle] == 0)
        return;
    const auto offer = [&](quint32 node) {
        const Node &candidate = m_nodes[node];
        if (m_used[node] || candidate.crack != crack)
            return;
        const double d = distance(candidate.point, p);
        if (!best.found || d < best.distance ||
            (d == best.distance && candidate.index < m_nodes[best.node].index)) {
            best.distance = d;
            best.node = node;
            best.found = true;
        }
    };
    if (end - begin <= leafSize) {
        for (quint32 node = begin; node < end; ++node)
            offer(node);
        return;
    }
    offer(middle);
    const Node &root = m_nodes[middle];
    // note: float subtraction is monotonic, so no node beyond the split is nearer on this axis than
    // the split itself; its squared gap is exact in double and a lower bound of the summed
    // distance. Equal bounds are searched, for the tie on position.
    const float gap = coordinate(root.point, depth) - coordinate(p, depth);
    const double bound = double(gap) * double(gap);
    const bool lowNear = !(gap < 0.0f);
    search(lowNear ? begin : middle + 1, lowNear ? middle : end, depth + 1, crack, p, best);
    if (!best.found || bound <= best.distance)
        search(lowNear ? middle + 1 : begin, lowNear ? end : middle, depth + 1, crack, p, best);
}

void CrackEnds::markUsed(int index)
{
    const quint32 node = m_nodeOf[size_t(index)];
    if (m_used[node])
        return;
    m_used[node] = 1;
    quint32 begin = 0, end = quint32(m_nodes.size());
    for (;;) {
        const quint32 middle = begin + (end - begin) / 2;
        --m_unused[middle];
        if (node == middle || end - begin <= leafSize)
            break;
        if (node < middle)
            end = middle;
        else
            begin = middle + 1;
    }
}

} // namespace geom
