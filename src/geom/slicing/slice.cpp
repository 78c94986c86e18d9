#include "geom/slicing/slice.h"

#include "geom/core/boundary.h"
#include "geom/core/fuzzy.h"
#include "geom/core/utiltx.h"
#include "geom/core/vector3f.h"

#include <QDataStream>
#include <QMatrix4x4>
#include <QPainter>
#include <QTransform>
#include <QVector3D>
#include <QtDebug>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace geom {

namespace {

constexpr float Tolerance = 1e-5f;

// The top-level indices ordered by absolute area, largest first unless ascending; equal areas keep
// their list order.
std::vector<int> orderByArea(const QList<Contour> &contours, bool ascending)
{
    std::vector<double> keys(size_t(contours.size()));
    for (int i = 0; i < contours.size(); ++i)
        keys[size_t(i)] = std::fabs(contours[i].area());
    std::vector<int> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&keys, ascending](int a, int b) {
        return ascending ? keys[size_t(a)] < keys[size_t(b)] : keys[size_t(a)] > keys[size_t(b)];
    });
    return order;
}

// The polygon closed by its first point unless the last one equals it within 1e-12 on both axes.
QPolygonF closed(QPolygonF polygon)
{
    if (!polygon.isEmpty()) {
        const QPointF &first = polygon.first();
        const QPointF &last = polygon.last();
        if (std::fabs(last.x() - first.x()) > 1e-12 || std::fabs(last.y() - first.y()) > 1e-12)
            polygon.append(first);
    }
    return polygon;
}

// The bounds mirrored on the flagged axes; the null box stays null.
Rectangle mirrored(const Rectangle &r, bool x, bool y)
{
    if (r.isNull())
        return r;
    Vector2f mn = r.min();
    Vector2f mx = r.max();
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
    return Rectangle(mn, mx);
}

} // namespace

Slice::Slice(float z, float thickness)
    : m_z(z)
    , m_thickness(thickness)
{}

Slice::Slice(const Slice &other)
    : m_contours(other.m_contours)
    , m_z(other.m_z)
    , m_thickness(other.m_thickness)
    , m_groupIndex(other.m_groupIndex)
    , m_format(other.m_format)
    , m_area(other.m_area)
    , m_perimeter(other.m_perimeter)
    , m_bounds(other.m_bounds)
    , m_pointCount(other.m_pointCount)
{
    detectFormat();
}

Slice &Slice::operator=(const Slice &other) = default;

Slice::Slice(const Slice &s, double step, int mode)
    : Slice(s)
{
    resample(step, mode);
    m_pointCount = -1;
}

Slice::Slice(const Slice &s, const QTransform &t, bool fast)
    : m_z(s.m_z)
    , m_thickness(s.m_thickness)
    , m_format(s.m_format)
{
    for (const Contour &c : s.m_contours)
        m_contours.append(Contour(c, t, fast));
    detectFormat();
    m_pointCount = -1;
}

Slice::Slice(const Slice &s, const QMatrix4x4 &m, bool fast)
    : Slice(s, m.toTransform(), fast)
{
    m_z = utilTX::mapPoint3D(Vector3f(0.0f, 0.0f, s.m_z), m).z;
    const QVector4D column = m.column(2);
    m_thickness = s.m_thickness * column.toVector3D().length();
}

Slice::Slice(const Slice &s, const QSet<int> &indices)
    : m_z(s.m_z)
    , m_thickness(s.m_thickness)
    , m_format(s.m_format)
{
    for (int i : indices) {
        if (i >= 0 && i < s.m_contours.size())
            m_contours.append(s.m_contours[i]);
    }
    detectFormat();
}

int Slice::contourCount() const
{
    refreshGroups();
    if (m_contours.isEmpty())
        return 0;
    if (m_format == Grouped && !m_groupIndex.isEmpty())
        return m_groupIndex.lastKey() + 1;
    return m_contours.size();
}

const Contour *Slice::enumerated(int index) const
{
    if (m_contours.isEmpty())
        return nullptr;
    refreshGroups();
    if (m_format == Grouped) {
        const auto it = m_groupIndex.lowerBound(index);
        if (it != m_groupIndex.constEnd()) {
            const Contour &outer = m_contours[it.value()];
            const int position = index - (it.key() - outer.childCount());
            if (position <= 0)
                return &outer;
            // note: holes changed through a handed-out pointer since the index was built may leave
            // the position beyond the group; its last member answers then.
            return &outer.children()[std::min(position, outer.childCount()) - 1];
        }
    }
    const int clamped = std::max(0, std::min(index, m_contours.size() - 1));
    return &m_contours[clamped];
}

Contour *Slice::contour(int index)
{
    if (m_contours.isEmpty())
        return nullptr;
    // The caller may write through the pointer: the list and the groups' children become this
    // slice's own first. A contour changed through it goes stale, and so does the slice's cache.
    m_contours.detach();
    for (Contour &c : m_contours)
        c.children().detach();
    return const_cast<Contour *>(enumerated(index));
}

void Slice::refreshGroups() const
{
    if (!m_groupsStale)
        return;
    m_groupsStale = false;
    if (m_format == Grouped)
        rebuildGroupIndex();
}

const Contour *Slice::contour(int index) const
{
    return enumerated(index);
}

template <typename F>
void Slice::forEachEnumerated(F f) const
{
    const int n = contourCount();
    for (int i = 0; i < n; ++i)
        f(i, *enumerated(i));
}

bool Slice::needsUpdate() const
{
    if (m_pointCount == -1)
        return true;
    return std::any_of(m_contours.begin(), m_contours.end(),
                       [](const Contour &c) { return c.needsUpdate(); });
}

void Slice::update() const
{
    if (!needsUpdate())
        return;
    m_area = 0.0;
    m_perimeter = 0.0;
    m_bounds.reset();
    m_pointCount = 0;
    forEachEnumerated([this](int, const Contour &c) {
        m_area += c.area();
        m_bounds.unite(c.bounds());
        m_pointCount += c.pointCount();
        m_perimeter += c.perimeter();
    });
}

double Slice::area() const
{
    update();
    return m_area;
}

double Slice::perimeter() const
{
    update();
    return m_perimeter;
}

Rectangle Slice::bounds() const
{
    update();
    return m_bounds;
}

int Slice::pointCount() const
{
    update();
    return m_pointCount;
}

bool Slice::containsPoint(const Vector2f &p, int *outerIndex, int rule) const
{
    if (m_contours.isEmpty())
        return false;
    if (!bounds().contains(p))
        return false;
    int count = 0;
    forEachEnumerated([&](int i, const Contour &c) {
        if (!c.containsPoint(p, false))
            return;
        const double a = c.area();
        count += a >= 0 ? 1 : -1;
        if (outerIndex && a > 0)
            *outerIndex = i;
    });
    return rule == 1 ? count != 0 : (count % 2) != 0;
}

bool Slice::intersectsCircle(const Circle<float> &circle) const
{
    if (containsPoint(circle.center(), nullptr, 1))
        return true;
    const double r = circle.radius();
    const double limit = r * r;
    for (int i = contourCount() - 1; i >= 0; --i) {
        const double d = enumerated(i)->distanceSquared(circle.center());
        if (d <= limit || Fuzzy<double>(d) == limit)
            return true;
    }
    return false;
}

bool Slice::coversCorner(const Rectangle &r) const
{
    if (m_contours.isEmpty())
        return false;
    const Vector2f corners[4] = {
        r.alignedPoint(Boundaries(MinX) | MinY), r.alignedPoint(Boundaries(MaxX) | MinY),
        r.alignedPoint(Boundaries(MinX) | MaxY), r.alignedPoint(Boundaries(MaxX) | MaxY)};
    int counters[4] = {0, 0, 0, 0};
    forEachEnumerated([&](int, const Contour &c) {
        if (!c.bounds().intersects(r))
            return;
        for (int k = 0; k < 4; ++k) {
            if (c.containsPoint(corners[k], true))
                ++counters[k];
        }
    });
    return std::any_of(std::begin(counters), std::end(counters), [](int n) { return n % 2 != 0; });
}

int Slice::insideCount(const Contour &other, int limit) const
{
    int sum = 0;
    for (const Contour &c : m_contours) {
        const int n = c.countPointsInside(other, limit);
        sum += c.area() >= 0 ? n : -n;
        if (limit >= 1 && qint64(sum) * sum > qint64(limit) * limit)
            break;
    }
    return sum;
}

Vector2f Slice::difference(const Slice &a, const Slice &b)
{
    const int countA = a.contourCount();
    const int countB = b.contourCount();
    if (countA != countB)
        return Vector2f(float(countA - countB), float(countB - countA));

    const auto sequence = [](const Slice &s) {
        QVector<Vector2f> points;
        s.forEachEnumerated([&points](int, const Contour &c) { points += c.points(); });
        return points;
    };
    const QVector<Vector2f> pa = sequence(a);
    const QVector<Vector2f> pb = sequence(b);
    double x = 0.0;
    double y = 0.0;
    const int paired = std::min(pa.size(), pb.size());
    for (int i = 0; i < paired; ++i) {
        x += double(pa[i].x) - double(pb[i].x);
        y += double(pa[i].y) - double(pb[i].y);
    }
    for (int i = paired; i < pa.size(); ++i) {
        x += pa[i].x;
        y += pa[i].y;
    }
    for (int i = paired; i < pb.size(); ++i) {
        x -= pb[i].x;
        y -= pb[i].y;
    }
    return Vector2f(float(x), float(y));
}

std::set<Vector2f> Slice::allPoints() const
{
    std::set<Vector2f> all;
    for (const Contour &c : m_contours) {
        if (m_format == Flat) {
            all.insert(c.points().constBegin(), c.points().constEnd());
        } else {
            const std::set<Vector2f> tree = c.allPoints();
            all.insert(tree.begin(), tree.end());
        }
    }
    return all;
}

int Slice::compare(const Slice &a, const Slice &b)
{
    return comparePointSets(a.allPoints(), b.allPoints());
}

QList<Contour *> Slice::allContours()
{
    m_pointCount = -1;
    m_groupsStale = true;
    QList<Contour *> out;
    for (Contour &c : m_contours)
        out += c.flatten();
    return out;
}

QList<const Contour *> Slice::allContours() const
{
    QList<const Contour *> out;
    for (const Contour &c : m_contours)
        out += c.flatten();
    return out;
}

QPainterPath Slice::toPainterPath(bool windingFill) const
{
    QPainterPath path;
    if (windingFill)
        path.setFillRule(Qt::WindingFill);
    for (int i = contourCount() - 1; i >= 0; --i) {
        const Contour &c = *enumerated(i);
        if (c.pointCount() < 3)
            continue;
        QPolygonF polygon;
        polygon.reserve(c.pointCount() + 1);
        for (const Vector2f &p : c.points())
            polygon.append(QPointF(p.x, p.y));
        path.addPolygon(closed(polygon));
    }
    return path;
}

void Slice::paint(QPainter *painter) const
{
    const QBrush fill = painter->brush().isOpaque() ? painter->brush() : QBrush(Qt::white);
    const std::vector<int> order = orderByArea(m_contours, false);
    if (m_format == Grouped) {
        painter->setBrush(fill);
        for (int k : order) {
            const Contour &c = m_contours[k];
            c.paint(painter);
            if (c.childCount() > 0) {
                painter->setBrush(QBrush(Qt::black));
                for (const Contour &hole : c.children())
                    hole.paint(painter);
                painter->setBrush(fill);
            }
        }
        return;
    }
    QPainterPath path;
    for (int k : order)
        path.addPolygon(closed(m_contours[k].toPolygon()));
    painter->fillPath(path, fill);
}

void Slice::reverse()
{
    for (Contour &c : m_contours)
        c.reverse();
}

void Slice::translate(float dx, float dy, float dz)
{
    if (std::fabs(dx) <= Tolerance && std::fabs(dy) <= Tolerance) {
        if (std::fabs(dz) > Tolerance)
            m_z += dz;
        return;
    }
    for (Contour &c : m_contours)
        c.translate(dx, dy);
    if (!m_bounds.isNull())
        m_bounds.translate(Vector2f(dx, dy));
    m_z += dz;
}

void Slice::translate(const QVector3D &d)
{
    translate(d.x(), d.y(), d.z());
}

void Slice::mirror(int axes)
{
    for (Contour &c : m_contours)
        c.mirror(axes);
    if (axes & (MinZ | MaxZ))
        m_z = -m_z;
    m_bounds = mirrored(m_bounds, axes & (MinX | MaxX), axes & (MinY | MaxY));
}

void Slice::snapToGrid(double step)
{
    for (Contour &c : m_contours)
        c.snapToGrid(step);
    m_pointCount = -1;
}

void Slice::smooth(int radius, double decay)
{
    for (Contour &c : m_contours)
        c.smooth(radius, decay);
    m_pointCount = -1;
}

void Slice::simplify(double tolerance)
{
    for (Contour &c : m_contours)
        c.simplify(tolerance);
    m_pointCount = -1;
}

int Slice::simplifyAndClean(double tolerance)
{
    int removed = 0;
    for (Contour &c : m_contours)
        removed += c.simplifyAndClean(tolerance);
    if (removed != 0)
        m_pointCount = -1;
    return removed;
}

void Slice::resample(double step, int mode)
{
    for (int i = m_contours.size() - 1; i >= 0; --i) {
        if (mode == 0 && m_contours[i].perimeter() < step)
            m_contours.removeAt(i);
        else
            m_contours[i].resample(step, mode);
    }
    if (m_format == Grouped)
        rebuildGroupIndex();
    m_pointCount = -1;
}

void Slice::invalidate()
{
    m_pointCount = -1;
    m_groupsStale = true;
}

void Slice::sortByArea(bool ascending)
{
    const std::vector<int> order = orderByArea(m_contours, ascending);
    QList<Contour> sorted;
    sorted.reserve(m_contours.size());
    for (int k : order)
        sorted.append(m_contours[k]);
    m_contours.swap(sorted);
    if (m_format == Grouped)
        rebuildGroupIndex();
}

void Slice::setFormat(int f)
{
    if (f == m_format)
        return;
    toFlatFormat();
    if (f == Hierarchy)
        toHierarchyFormat();
    else if (f == Grouped)
        toGroupedFormat();
}

void Slice::toFlatFormat()
{
    for (int i = 0; i < m_contours.size(); ++i) {
        while (m_contours[i].childCount() > 0) {
            const Contour child = m_contours[i].children().takeFirst();
            m_contours.append(child);
        }
    }
    m_format = Flat;
    m_groupIndex.clear();
    m_pointCount = -1;
    sortByArea(false);
}

void Slice::toGroupedFormat()
{
    for (int k = m_contours.size() - 1; k >= 0; --k) {
        const Contour &hole = m_contours[k];
        if (hole.area() >= 0)
            continue;
        for (int j = k - 1; j >= 0; --j) {
            const Contour &outer = m_contours[j];
            if (outer.area() >= 0 && outer.boundsIntersect(hole) && outer.contains(hole)) {
                const Contour moved = hole;
                m_contours[j].children().append(moved);
                m_contours.removeAt(k);
                break;
            }
        }
    }
    m_format = Grouped;
    m_pointCount = -1;
    rebuildGroupIndex();
}

void Slice::toHierarchyFormat()
{
    qWarning("Slice.toHierarchyFormat : Not fully working");
    for (int k = m_contours.size() - 1; k >= 0; --k) {
        const Contour &inner = m_contours[k];
        const bool innerOuter = inner.area() >= 0;
        for (int j = k - 1; j >= 0; --j) {
            const Contour &parent = m_contours[j];
            if ((parent.area() >= 0) != innerOuter && parent.boundsIntersect(inner) &&
                parent.contains(inner)) {
                const Contour moved = inner;
                m_contours[j].children().append(moved);
                m_contours.removeAt(k);
                break;
            }
        }
    }
    m_format = Hierarchy;
    m_groupIndex.clear();
    m_pointCount = -1;
}

void Slice::detectFormat()
{
    for (const Contour &c : m_contours) {
        if (m_format == Flat && c.childCount() > 0)
            m_format = Grouped;
        if (m_format == Grouped) {
            for (const Contour &child : c.children()) {
                if (child.childCount() > 0) {
                    m_format = Hierarchy;
                    break;
                }
            }
        }
    }
    if (m_format == Grouped)
        rebuildGroupIndex();
    else
        m_groupIndex.clear();
}

void Slice::rebuildGroupIndex() const
{
    m_groupIndex.clear();
    int start = 0;
    for (int k = 0; k < m_contours.size(); ++k) {
        const int key = start + m_contours[k].childCount();
        m_groupIndex.insert(key, k);
        start = key + 1;
    }
}

namespace {

// Floats of the slice record are 4 bytes whatever precision the caller set on the stream.
class SinglePrecision
{
public:
    explicit SinglePrecision(QDataStream &s)
        : m_stream(s)
        , m_old(s.floatingPointPrecision())
    {
        s.setFloatingPointPrecision(QDataStream::SinglePrecision);
    }
    ~SinglePrecision() { m_stream.setFloatingPointPrecision(m_old); }
    SinglePrecision(const SinglePrecision &) = delete;
    SinglePrecision &operator=(const SinglePrecision &) = delete;

private:
    QDataStream &m_stream;
    QDataStream::FloatingPointPrecision m_old;
};

} // namespace

QDataStream &operator<<(QDataStream &s, const Slice &slice)
{
    SinglePrecision single(s);
    s << qint32(slice.contours().size());
    for (const Contour &c : slice.contours())
        s << c;
    s << slice.z() << slice.thickness();
    return s;
}

QDataStream &operator>>(QDataStream &s, Slice &slice)
{
    SinglePrecision single(s);
    qint32 count = 0;
    s >> count;
    if (s.status() != QDataStream::Ok)
        return s;
    if (count < 0) {
        s.setStatus(QDataStream::ReadCorruptData);
        return s;
    }
    slice.m_pointCount = -1;
    for (qint32 i = 0; i < count && s.status() == QDataStream::Ok; ++i) {
        slice.m_contours.append(Contour());
        s >> slice.m_contours.last();
    }
    if (slice.m_format == Slice::Grouped)
        slice.rebuildGroupIndex();
    if (s.status() != QDataStream::Ok)
        return s;
    float z = 0.0f;
    float thickness = 0.0f;
    s >> z >> thickness;
    if (s.status() == QDataStream::Ok) {
        slice.m_z = z;
        slice.m_thickness = thickness;
    }
    return s;
}

} // namespace geom
