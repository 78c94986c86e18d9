#include "geom/slicing/contour.h"

#include "geom/core/boundary.h"
#include "geom/core/util2d.h"
#include "geom/core/utiltx.h"
#include "geom/slicing/contoursimplify.h"
#include "geom/slicing/planar_p.h"

#include <QDataStream>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <limits>

namespace geom {

namespace {

constexpr float Tolerance = 1e-5f;

// The largest factor by which resampling splits one edge; keeps the doubling from overflowing.
constexpr int MaxEdgeSplit = 1 << 30;

bool mirrorsX(int axes)
{
    return axes & (MinX | MaxX);
}

bool mirrorsY(int axes)
{
    return axes & (MinY | MaxY);
}

// The winding test of p against the ring, in float.
bool windingContains(const QVector<Vector2f> &pts, const Vector2f &p)
{
    const int n = pts.size();
    int winding = 0;
    for (int i = 0, j = n - 1; i < n; j = i++) {
        const Vector2f &pi = pts[i];
        const Vector2f &pj = pts[j];
        if (std::fabs(pj.y - pi.y) <= Tolerance * std::min(std::fabs(pi.y), std::fabs(pj.y)))
            continue;
        if (pi.y > pj.y) {
            if (pj.y <= p.y && p.y < pi.y) {
                const float x = pj.x + (pi.x - pj.x) / (pi.y - pj.y) * (p.y - pj.y);
                if (p.x >= x)
                    ++winding;
            }
        } else if (pi.y < pj.y) {
            if (pi.y <= p.y && p.y < pj.y) {
                const float x = pi.x + (pj.x - pi.x) / (pj.y - pi.y) * (p.y - pi.y);
                if (p.x >= x)
                    --winding;
            }
        }
    }
    return winding != 0;
}

// The pointer of every contour of the subtree, pre-order.
template <typename C, typename Out>
void collect(C &c, Out &out)
{
    out.append(&c);
    for (auto &child : c.children())
        collect(child, out);
}

} // namespace

Contour::Contour() = default;

Contour::Contour(const Vector2f *points, int count)
{
    if (points && count > 0)
        m_points = QVector<Vector2f>(points, points + count);
}

Contour::Contour(const QVector<Vector2f> &points)
    : m_points(points)
{}

Contour::Contour(const Rectangle &r, bool clockwise)
{
    if (clockwise) {
        m_points = {r.alignedPoint(Boundaries(MinX) | MinY), r.alignedPoint(Boundaries(MinX) | MaxY),
                    r.alignedPoint(Boundaries(MaxX) | MaxY), r.alignedPoint(Boundaries(MaxX) | MinY)};
    } else {
        m_points = {r.alignedPoint(Boundaries(MinX) | MinY), r.alignedPoint(Boundaries(MaxX) | MinY),
                    r.alignedPoint(Boundaries(MaxX) | MaxY), r.alignedPoint(Boundaries(MinX) | MaxY)};
    }
}

Contour::Contour(const Vector2f &a, const Vector2f &b, const Vector2f &c)
    : m_points({a, b, c})
{}

Contour::Contour(const Contour &c, const Vector2f &offset)
    : Contour(c)
{
    translate(offset.x, offset.y);
}

Contour::Contour(const Contour &c, double step, int mode)
    : Contour(c)
{
    resample(step, mode);
}

Contour::Contour(const Contour &c, const QTransform &t, bool fast)
{
    const int n = c.m_points.size();
    if (n > 0) {
        m_points.resize(n);
        float *out = &m_points.data()->x;
        const float *in = &c.m_points.constData()->x;
        if (fast)
            utilTX::map2Df(out, t, in, n);
        else
            utilTX::map2DfScalar(out, t, in, n);
    }
    for (const Contour &child : c.m_children)
        m_children.append(Contour(child, t, fast));
}

Contour::Contour(const Contour &other)
    : m_points(other.m_points)
    , m_children(other.m_children)
    , m_area(other.m_area)
    , m_perimeter(other.m_perimeter)
    , m_bounds(other.m_bounds)
    , m_dirty(other.m_dirty)
{}

Contour &Contour::operator=(const Contour &other)
{
    if (this != &other) {
        m_points = other.m_points;
        m_children = other.m_children;
        m_dirty = other.m_dirty;
        m_area = other.m_area;
        m_perimeter = other.m_perimeter;
        m_bounds = other.m_bounds;
        m_pointSet.reset();
    }
    return *this;
}

void Contour::update() const
{
    // The own cache depends on the own points only; a stale child refreshes itself when read.
    if (!m_dirty)
        return;
    m_area = 0.0;
    m_perimeter = 0.0;
    m_bounds.reset();
    const int n = m_points.size();
    if (n > 0 && n < 3) {
        m_perimeter = 2.0 * (m_points.first() - m_points.last()).length();
    } else if (n >= 3) {
        const Vector2f *p = m_points.constData();
        m_area = planar::signedArea(p, n);
        for (int i = 0, j = n - 1; i < n; j = i++)
            m_perimeter += (p[i] - p[j]).length();
        m_bounds.expand(&p->x, n);
    }
    m_dirty = false;
}

double Contour::area() const
{
    update();
    return m_area;
}

double Contour::perimeter() const
{
    update();
    return m_perimeter;
}

Rectangle Contour::bounds() const
{
    update();
    return m_bounds;
}

Vector2f Contour::center() const
{
    update();
    return m_bounds.isValid() ? m_bounds.center() : Vector2f();
}

double Contour::totalArea() const
{
    double sum = area();
    for (const Contour &child : m_children)
        sum += child.totalArea();
    return sum;
}

double Contour::totalPerimeter() const
{
    double sum = perimeter();
    for (const Contour &child : m_children)
        sum += child.totalPerimeter();
    return sum;
}

int Contour::totalPointCount() const
{
    int sum = m_points.size();
    for (const Contour &child : m_children)
        sum += child.totalPointCount();
    return sum;
}

bool Contour::isEmpty() const
{
    if (!m_points.isEmpty())
        return false;
    return std::all_of(m_children.begin(), m_children.end(), [](const Contour &c) { return c.isEmpty(); });
}

bool Contour::needsUpdate() const
{
    if (m_dirty)
        return true;
    return std::any_of(m_children.begin(), m_children.end(),
                       [](const Contour &c) { return c.needsUpdate(); });
}

double Contour::distanceSquared(const Vector2f &p) const
{
    const int n = m_points.size();
    if (n == 0)
        return std::numeric_limits<double>::infinity();
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0, j = n - 1; i < n; j = i++)
        best = std::min(best, util2D::distanceToSegmentSquared(p, m_points[i], m_points[j]));
    return best;
}

double Contour::distance(const Vector2f &p) const
{
    const double d = distanceSquared(p);
    return d <= 1e-12 ? 0.0 : std::sqrt(d);
}

bool Contour::containsPoint(const Vector2f &p, bool skipBoundsTest) const
{
    if (m_points.size() < 3)
        return false;
    // note: below ten points the edges are as cheap as the bounds, so the refresh is not worth it.
    if (m_points.size() > 9 && !skipBoundsTest && !bounds().contains(p))
        return false;
    return windingContains(m_points, p);
}

int Contour::containmentDepth(const Vector2f &p) const
{
    if (!containsPoint(p, false))
        return 0;
    int depth = 1;
    for (const Contour &child : m_children)
        depth += child.containmentDepth(p);
    return depth;
}

int Contour::countPointsInside(const Contour &other, int limit) const
{
    if (m_points.size() < 3 || other.m_points.isEmpty())
        return 0;
    int count = 0;
    for (const Vector2f &p : other.m_points) {
        if (containsPoint(p, false) && ++count == limit)
            break;
    }
    return count;
}

bool Contour::contains(const Contour &other) const
{
    if (!m_children.isEmpty() && (other.area() >= 0) != (area() >= 0)) {
        for (const Contour &child : m_children) {
            if (&child == &other)
                return true;
        }
    }
    if (other.countPointsInside(*this, 1) > 0)
        return false;
    return countPointsInside(other, 0) == other.m_points.size();
}

bool Contour::boundsIntersect(const Contour &other) const
{
    return bounds().intersects(other.bounds());
}

bool Contour::isOnEdge(const Vector2f &p, int *edgeIndex) const
{
    const int n = m_points.size();
    if (n < 2)
        return false;
    if (n > 9 && !bounds().contains(p))
        return false;
    for (int i = 0, j = n - 1; i < n; j = i++) {
        if (util2D::isFartherOnRay(p, m_points[i], m_points[j], 0)) {
            if (edgeIndex)
                *edgeIndex = j;
            return true;
        }
    }
    return false;
}

void Contour::ensurePointSet() const
{
    if (!m_pointSet)
        m_pointSet = std::make_unique<std::set<Vector2f>>(m_points.constBegin(), m_points.constEnd());
}

std::set<Vector2f> Contour::allPoints() const
{
    ensurePointSet();
    std::set<Vector2f> all = *m_pointSet;
    for (const Contour &child : m_children) {
        const std::set<Vector2f> below = child.allPoints();
        all.insert(below.begin(), below.end());
    }
    return all;
}

int comparePointSets(const std::set<Vector2f> &x, const std::set<Vector2f> &y)
{
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    std::vector<Vector2f> difference;
    std::set_symmetric_difference(x.begin(), x.end(), y.begin(), y.end(), std::back_inserter(difference));
    return int(difference.size());
}

int Contour::compare(const Contour &a, const Contour &b)
{
    return comparePointSets(a.allPoints(), b.allPoints());
}

QList<Contour *> Contour::flatten()
{
    QList<Contour *> out;
    collect(*this, out);
    return out;
}

QList<const Contour *> Contour::flatten() const
{
    QList<const Contour *> out;
    collect(*this, out);
    return out;
}

QMap<double, Vector2f> Contour::keyedPoints(int flags, const Vector2f &r) const
{
    QMap<double, Vector2f> out;
    if (flags & 32) {
        for (const Contour &child : m_children) {
            const QMap<double, Vector2f> below = child.keyedPoints(flags, r);
            for (auto it = below.constBegin(); it != below.constEnd(); ++it)
                out.insert(it.key(), it.value());
        }
    }
    const int kind = flags & 15;
    const double sign = (flags & 16) && (kind == 3 || kind == 4) ? -1.0 : 1.0;
    const double rLength = r.length();
    for (const Vector2f &p : m_points) {
        double key;
        switch (kind) {
        case 2:
            key = (p - r).length();
            break;
        case 3:
            key = double(p.x * r.x + p.y * r.y) / rLength;
            break;
        case 4:
            key = double(p.x * r.y - p.y * r.x);
            break;
        default: {
            const double dx = double(p.x) - double(r.x);
            const double dy = double(p.y) - double(r.y);
            key = dx * dx + dy * dy;
            break;
        }
        }
        out.insert(sign * key, p);
    }
    return out;
}

void Contour::invalidate()
{
    m_dirty = true;
    clearPointSet();
}

void Contour::clearPointSet()
{
    m_pointSet.reset();
}

void Contour::appendPoint(float x, float y)
{
    const Vector2f p(x, y);
    m_points.append(p);
    if (m_pointSet)
        m_pointSet->insert(p);
    // note: the measures change with every point, so a fresh cache goes stale here too.
    m_dirty = true;
}

void Contour::reverse()
{
    std::reverse(m_points.begin(), m_points.end());
    invalidate();
}

void Contour::translate(float dx, float dy)
{
    const Vector2f d(dx, dy);
    for (Vector2f &p : m_points)
        p += d;
    invalidate();
    if (!m_bounds.isNull())
        m_bounds.translate(d);
    for (Contour &child : m_children)
        child.translate(dx, dy);
}

void Contour::mirror(int axes)
{
    const bool x = mirrorsX(axes);
    const bool y = mirrorsY(axes);
    if (x || y) {
        for (Vector2f &p : m_points) {
            if (x)
                p.x = -p.x;
            if (y)
                p.y = -p.y;
        }
        // Flat bounds are mirrored as well: only the null box has nothing to mirror.
        if (!m_bounds.isNull()) {
            Vector2f mn = m_bounds.min();
            Vector2f mx = m_bounds.max();
            if (x) {
                const float minX = mn.x;
                mn.x = -mx.x;
                mx.x = -minX;
            }
            if (y) {
                const float minY = mn.y;
                mn.y = -mx.y;
                mx.y = -minY;
            }
            m_bounds = Rectangle(mn, mx);
        }
        if (x != y)
            std::reverse(m_points.begin(), m_points.end());
    }
    for (Contour &child : m_children)
        child.mirror(axes);
    clearPointSet();
}

void Contour::snapToGrid(double step)
{
    bool changed = false;
    QVector<Vector2f> snapped = geom::snapToGrid(m_points, step, &changed);
    // A point that merely repeated its predecessor may go without anything moving.
    changed = changed || snapped.size() != m_points.size();
    m_points.swap(snapped);
    if (changed)
        invalidate();
}

void Contour::simplify(double tolerance)
{
    if (tolerance < planar::SingleTolerance) {
        QVector<Vector2f> reduced = removeCollinearPoints(m_points);
        if (reduced.size() < m_points.size()) {
            m_points.swap(reduced);
            invalidate();
        }
    } else if (simplifyContour(m_points, tolerance) != 0) {
        invalidate();
    }
}

int Contour::simplifyAndClean(double tolerance)
{
    const int before = m_points.size();
    simplify(tolerance);
    if (m_points.size() < 2)
        m_points.clear();
    else
        m_points = removeCollinearPoints(m_points);
    invalidate();
    return before - m_points.size();
}

void Contour::resample(double step, int mode)
{
    const int n = m_points.size();
    if (n == 0)
        return;
    if (mode == 0) {
        if (step > perimeter()) {
            m_points.clear();
            invalidate();
            return;
        }
        // note: a step that is not a positive number would never advance along an edge.
        if (!(step > 0.0) || !std::isfinite(step))
            return;
    }

    const float stepF = float(step);
    QVector<Vector2f> out;
    out.reserve(n);
    out.append(m_points.last());
    float remaining = stepF;
    for (int i = 0; i < n; ++i) {
        const Vector2f &q = m_points[i == 0 ? n - 1 : i - 1];
        const Vector2f &p = m_points[i];
        const Vector2f d = p - q;
        float length = float(d.length());
        if (length < Tolerance)
            continue;
        const Vector2f u = d / length;
        if (mode == 0) {
            Vector2f cursor = q;
            if (stepF > remaining) {
                if (length > remaining) {
                    cursor = q + u * remaining;
                    out.append(cursor);
                    length -= remaining;
                    remaining = stepF;
                } else {
                    remaining -= length;
                    continue;
                }
            }
            while (length > stepF) {
                const float left = length - stepF;
                // note: a step below the float spacing of the edge length would not shorten it.
                if (left == length)
                    break;
                cursor += u * stepF;
                out.append(cursor);
                length = left;
            }
            if (std::fabs(length - stepF) <= Tolerance)
                out.append(p);
            else
                remaining = stepF - length;
        } else if (mode == 1) {
            out.append(p);
        } else {
            // note: an edge of no finite length has nothing to split into.
            if (double(length) > step && std::isfinite(length)) {
                int k = 1;
                while (!(double(length) / k <= step) && k < mode && k < MaxEdgeSplit)
                    k *= 2;
                const float part = length / float(k);
                for (int j = 1; j < k; ++j)
                    out.append(q + u * (float(j) * part));
            }
            out.append(p);
        }
    }
    if (out.size() > 1 && std::fabs(out.first().x - out.last().x) <= Tolerance &&
        std::fabs(out.first().y - out.last().y) <= Tolerance)
        out.removeFirst();
    m_points.swap(out);
    invalidate();
}

void Contour::smooth(int radius, double decay)
{
    if (radius < 1)
        return;
    invalidate();
    const int n = m_points.size();
    if (qint64(n) <= qint64(radius) + 1) {
        m_points.clear();
        return;
    }
    QVector<double> weights(radius + 1);
    weights[0] = 1.0;
    double sum = 1.0;
    for (int j = 1; j <= radius; ++j) {
        const double e = std::exp(-double(j) * decay / double(radius));
        weights[j] = e / 2.0;
        sum += e;
    }
    QVector<float> w(radius + 1);
    for (int j = 0; j <= radius; ++j)
        w[j] = float(weights[j] / sum);

    const QVector<Vector2f> old = m_points;
    for (int i = 0; i < n; ++i) {
        Vector2f s = old[i] * w[0];
        for (int j = 1; j <= radius; ++j) {
            const Vector2f &before = old[((i - j) % n + n) % n];
            const Vector2f &after = old[(i + j) % n];
            s += (before + after) * w[j];
        }
        m_points[i] = s;
    }
}

void Contour::clear()
{
    for (Contour &child : m_children)
        child.clear();
    invalidate();
    m_points.clear();
}

QPainterPath &Contour::addToPath(QPainterPath &path) const
{
    if (!m_points.isEmpty()) {
        path.moveTo(m_points.first().x, m_points.first().y);
        for (int i = 1; i < m_points.size(); ++i)
            path.lineTo(m_points[i].x, m_points[i].y);
    }
    for (const Contour &child : m_children)
        child.addToPath(path);
    return path;
}

QPolygonF Contour::toPolygon() const
{
    QPolygonF polygon;
    polygon.reserve(totalPointCount());
    for (const Vector2f &p : m_points)
        polygon.append(QPointF(p.x, p.y));
    for (const Contour &child : m_children)
        polygon += child.toPolygon();
    return polygon;
}

void Contour::paint(QPainter *painter) const
{
    QPolygonF polygon;
    polygon.reserve(m_points.size());
    for (const Vector2f &p : m_points)
        polygon.append(QPointF(p.x, p.y));
    painter->drawPolygon(polygon, Qt::OddEvenFill);
}

QDataStream &operator<<(QDataStream &s, const Contour &c)
{
    s << qint32(c.children().size());
    for (const Contour &child : c.children())
        s << child;
    writeVector2fArray(s, c.points().constData(), c.points().size());
    return s;
}

QDataStream &readContour(QDataStream &s, Contour &c, int depth)
{
    if (depth > MaxContourDepth) {
        s.setStatus(QDataStream::ReadCorruptData);
        return s;
    }
    qint32 children = 0;
    s >> children;
    if (s.status() != QDataStream::Ok)
        return s;
    if (children < 0) {
        s.setStatus(QDataStream::ReadCorruptData);
        return s;
    }
    // note: children are appended one by one as their records arrive, so a count that the bytes
    // do not back ends at the first failed read instead of a huge allocation.
    for (qint32 i = 0; i < children && s.status() == QDataStream::Ok; ++i) {
        c.m_children.append(Contour());
        readContour(s, c.m_children.last(), depth + 1);
    }
    if (s.status() == QDataStream::Ok)
        readVector2fArray(s, c.m_points);
    c.invalidate();
    return s;
}

QDataStream &operator>>(QDataStream &s, Contour &c)
{
    return readContour(s, c, 1);
}

} // namespace geom
