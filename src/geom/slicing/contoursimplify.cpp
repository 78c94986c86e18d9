#include "geom/slicing/contoursimplify.h"

#include "geom/core/util2d.h"
#include "geom/slicing/planar_p.h"

#include <cmath>

namespace geom {

using planar::PointTraits;

template <typename P>
ContourSimplifier<P>::ContourSimplifier(const QVector<P> &points, double tolerance)
    : m_points(points.constData())
    , m_count(points.size())
    , m_squaredTolerance(tolerance * tolerance)
    , m_kept(size_t(points.size()), false)
{
    if (m_count != 0) {
        m_kept[0] = true;
        m_keptCount = 1;
    }
}

template <typename P>
void ContourSimplifier<P>::simplifyRange(int first, int last)
{
    if (first < 0 || last >= m_count)
        return;
    std::vector<int> stack;
    stack.push_back(first);
    stack.push_back(last);
    while (!stack.empty()) {
        const int b = stack.back();
        stack.pop_back();
        const int a = stack.back();
        stack.pop_back();
        if (b - a <= 0)
            continue;
        const P origin = m_points[a];
        const P s = m_points[b] - origin;
        double largest = 0.0;
        int split = -1;
        for (int i = a + 1; i < b; ++i) {
            const double d = util2D::distanceToSegmentSquared(m_points[i] - origin, s, P::Zero);
            if (d > largest) {
                largest = d;
                split = i;
            }
        }
        if (split >= 0 && largest > m_squaredTolerance) {
            if (!m_kept[size_t(split)]) {
                m_kept[size_t(split)] = true;
                ++m_keptCount;
            }
            // The lower part is popped first: depth first, in index order.
            stack.push_back(split);
            stack.push_back(b);
            stack.push_back(a);
            stack.push_back(split);
        }
    }
}

template <typename P>
QVector<P> ContourSimplifier<P>::keptPoints() const
{
    QVector<P> out;
    if (m_keptCount < 2)
        return out;
    out.reserve(m_keptCount);
    for (int i = 0; i < m_count; ++i) {
        if (m_kept[size_t(i)])
            out.append(m_points[i]);
    }
    return out;
}

template <typename P>
int simplifyContour(QVector<P> &points, double tolerance)
{
    const int n = points.size();
    if (n < 2) {
        points.clear();
        return n;
    }
    if (points.last() != points.first())
        points.append(points.first());
    const int m = points.size();
    QVector<P> kept;
    {
        ContourSimplifier<P> simplifier(points, tolerance);
        simplifier.simplifyRange(0, m - 1);
        kept = simplifier.keptPoints();
    }
    points.swap(kept);
    return n - points.size();
}

template <typename P>
QVector<P> snapToGrid(const QVector<P> &points, double step, bool *changed)
{
    using S = typename PointTraits<P>::Scalar;
    if (changed)
        *changed = false;
    if (points.isEmpty() || step < planar::SingleTolerance)
        return points;

    // note: std::round rounds halves away from zero on the double itself, so ratios of coordinate to
    // step beyond the range of int still snap correctly.
    const auto snap = [step](S v) { return S(std::round(double(v) / step) * step); };
    // A NaN difference counts as exceeding.
    const auto beyond = [](S a, S b) { return !(std::fabs(S(a - b)) <= PointTraits<P>::epsilon); };

    bool moved = false;
    QVector<P> out;
    out.reserve(points.size());
    out.append(points.first());
    for (int i = 1; i < points.size(); ++i) {
        const P &p = points[i];
        const P q(snap(p.x), snap(p.y));
        if (beyond(q.x, p.x) || beyond(q.y, p.y))
            moved = true;
        const P &last = out.last();
        if (beyond(last.x, q.x) || beyond(last.y, q.y))
            out.append(q);
    }
    if (changed)
        *changed = moved;
    return out;
}

template <typename P>
QVector<P> removeCollinearPoints(const QVector<P> &points)
{
    const int n = points.size();
    if (n < 3)
        return points;
    QVector<P> out;
    out.reserve(n);
    int anchor = n - 2;
    P direction = points[n - 1] - points[n - 2];
    int candidate = n - 1;
    int next = 0;
    int budget = n;
    int earlyDrops = 0;
    for (;;) {
        const Vector2f offset = PointTraits<P>::toFloat(points[next] - points[anchor]);
        if (util2D::isOnLine(offset, PointTraits<P>::toFloat(direction), Vector2f::Zero)) {
            // note: a point dropped before anything was kept was judged against an anchor that may
            // itself go; it is visited once more at the end of the walk.
            if (out.isEmpty()) {
                if (++earlyDrops >= n)
                    return out;
                ++budget;
            }
        } else {
            out.append(points[candidate]);
            anchor = candidate;
            direction = points[next] - points[candidate];
        }
        if (--budget <= 0)
            break;
        candidate = next;
        next = next + 1 == n ? 0 : next + 1;
    }
    return out;
}

template <typename P>
QVector<P> removeClosePoints(const QVector<P> &points, double tolerance)
{
    QVector<P> out;
    if (points.isEmpty())
        return out;
    const double limit = tolerance * tolerance;
    out.reserve(points.size());
    out.append(points.first());
    for (int i = 1; i < points.size(); ++i) {
        if (planar::squaredLength(points[i] - out.last()) > limit)
            out.append(points[i]);
    }
    return out;
}

template class ContourSimplifier<Vector2f>;
template class ContourSimplifier<Vector2d>;
template int simplifyContour<Vector2f>(QVector<Vector2f> &, double);
template int simplifyContour<Vector2d>(QVector<Vector2d> &, double);
template QVector<Vector2f> snapToGrid<Vector2f>(const QVector<Vector2f> &, double, bool *);
template QVector<Vector2d> snapToGrid<Vector2d>(const QVector<Vector2d> &, double, bool *);
template QVector<Vector2f> removeCollinearPoints<Vector2f>(const QVector<Vector2f> &);
template QVector<Vector2d> removeCollinearPoints<Vector2d>(const QVector<Vector2d> &);
template QVector<Vector2f> removeClosePoints<Vector2f>(const QVector<Vector2f> &, double);
template QVector<Vector2d> removeClosePoints<Vector2d>(const QVector<Vector2d> &, double);

} // namespace geom
