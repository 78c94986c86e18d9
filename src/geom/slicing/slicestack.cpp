#include "geom/slicing/slicestack.h"

#include "geom/core/boundary.h"
#include "geom/core/fuzzy.h"
#include "geom/core/rectangle.h"
#include "geom/core/utiltx.h"
#include "geom/core/vector3f.h"

#include <QDataStream>
#include <QMatrix4x4>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace geom {

namespace {

bool sameHeight(float a, float b)
{
    return Fuzzy<float>(a) == b;
}

// The order of heights: increasing, a height that is not a number after all others.
bool zBefore(float a, float b)
{
    return a < b || (std::isnan(b) && !std::isnan(a));
}

bool lowerZ(const Slice &s, float z)
{
    return zBefore(s.z(), z);
}

// The z of (0, 0, z) mapped by m.
float mappedZ(float z, const QMatrix4x4 &m)
{
    return utilTX::mapPoint3D(Vector3f(0.0f, 0.0f, z), m).z;
}

} // namespace

SliceStack::SliceStack() = default;

SliceStack::SliceStack(const SliceStack &t, const QMatrix4x4 &m)
{
    const bool mirroring = utilTX::isMirroring(m);
    for (const Slice &s : t.m_slices) {
        m_slices.append(Slice(s, m, false));
        if (mirroring)
            m_slices.last().reverse();
    }
    // note: a transform that turns z over would leave the layers upside down.
    normalize();
    update();
}

void SliceStack::update()
{
    m_bounds.reset();
    Rectangle area;
    m_contourCount = 0;
    m_pointCount = 0;
    m_sideArea = 0.0;
    m_volume = 0.0;
    m_radius = 0.0;
    for (int i = 0; i + 1 < m_slices.size(); ++i)
        m_slices[i].setThickness(m_slices[i + 1].z() - m_slices[i].z());
    for (const Slice &s : qAsConst(m_slices)) {
        m_contourCount += s.contourCount();
        m_pointCount += s.pointCount();
        m_sideArea += double(s.thickness()) * s.perimeter();
        m_volume += double(s.thickness()) * s.area();
        area.unite(s.bounds());
    }
    if (m_slices.isEmpty())
        return;
    m_bounds.expand(Vector3f(area.min().x, area.min().y, m_slices.first().z()));
    m_bounds.expand(Vector3f(area.max().x, area.max().y, m_slices.last().z()));

    const Vector2f centre = area.center();
    const double cz = (double(m_bounds.min().z) + double(m_bounds.max().z)) * 0.5;
    double radius = 0.0;
    for (const Slice &s : qAsConst(m_slices)) {
        double farthest = 0.0;
        for (int i = 0; i < s.contourCount(); ++i) {
            for (const Vector2f &p : s.contour(i)->points()) {
                const double dx = double(p.x) - double(centre.x);
                const double dy = double(p.y) - double(centre.y);
                farthest = std::max(farthest, dx * dx + dy * dy);
            }
        }
        if (farthest != 0.0) {
            const double dz = double(s.z()) - cz;
            radius = std::max(radius, dz * dz + farthest);
        }
    }
    m_radius = std::sqrt(radius);
}

void SliceStack::clear()
{
    m_slices.clear();
    m_bounds.reset();
    m_contourCount = 0;
    m_pointCount = 0;
    m_sideArea = 0.0;
    m_radius = 0.0;
    m_volume = 0.0;
}

int SliceStack::heightIndex(float z, int *position) const
{
    const int p = int(std::lower_bound(m_slices.begin(), m_slices.end(), z, lowerZ) - m_slices.begin());
    if (position)
        *position = p;
    // note: a slice a hair below z is the same height too, though the bisection passes it.
    if (p < m_slices.size() && sameHeight(m_slices[p].z(), z))
        return p;
    if (p > 0 && sameHeight(m_slices[p - 1].z(), z))
        return p - 1;
    return -1;
}

int SliceStack::insert(const Slice &s, bool defer)
{
    int p = 0;
    const int same = heightIndex(s.z(), &p);
    if (same < 0) {
        m_slices.insert(p, s);
    } else {
        p = same;
        m_slices[p] = s;
    }
    m_slices[p].sortByArea(false);
    if (!defer)
        update();
    return p;
}

int SliceStack::insertContour(float z, const Contour &c, bool defer)
{
    Slice s(z, 0.0f);
    s.contours() = c.children();
    if (c.pointCount() > 0)
        s.contours().append(Contour(c.points()));
    return insert(s, defer);
}

void SliceStack::append(const QList<Slice> &list, bool defer)
{
    const int first = m_slices.size();
    m_slices += list;
    for (int i = first; i < m_slices.size(); ++i)
        m_slices[i].sortByArea(false);
    normalize();
    if (!defer)
        update();
}

void SliceStack::normalize()
{
    std::vector<int> order(size_t(m_slices.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [this](int a, int b) { return zBefore(m_slices[a].z(), m_slices[b].z()); });
    QList<Slice> sorted;
    sorted.reserve(m_slices.size());
    for (int i : order)
        sorted.append(m_slices[i]);
    for (int i = sorted.size() - 1; i > 0; --i) {
        if (sameHeight(sorted[i - 1].z(), sorted[i].z()))
            sorted.removeAt(i - 1);
    }
    m_slices.swap(sorted);
}

void SliceStack::removeAt(int index, bool defer)
{
    if (index < 0)
        index += m_slices.size();
    if (index >= 0 && index < m_slices.size())
        m_slices.removeAt(index);
    if (!defer)
        update();
}

bool SliceStack::removeAtZ(float z, bool defer)
{
    const int index = find(z);
    if (index < 0)
        return false;
    removeAt(index, defer);
    return true;
}

int SliceStack::find(float z) const
{
    return heightIndex(z, nullptr);
}

int SliceStack::indexAtOrAbove(const QList<Slice> &list, float z)
{
    const auto it = std::lower_bound(list.begin(), list.end(), z, lowerZ);
    return it == list.end() ? -1 : int(it - list.begin());
}

float SliceStack::maxThickness() const
{
    float thickest = 0.0f;
    for (const Slice &s : m_slices)
        thickest = std::max(thickest, s.thickness());
    return thickest;
}

float SliceStack::minThickness() const
{
    float thinnest = std::max(0.0f, m_bounds.max().z - m_bounds.min().z);
    for (const Slice &s : m_slices)
        thinnest = std::min(thinnest, s.thickness());
    return std::max(0.0f, thinnest);
}

void SliceStack::mirror(int axes)
{
    const bool x = axes & (MinX | MaxX);
    const bool y = axes & (MinY | MaxY);
    const bool z = axes & (MinZ | MaxZ);
    if (z) {
        std::reverse(m_slices.begin(), m_slices.end());
        for (int i = 0; i + 1 < m_slices.size(); ++i)
            m_slices[i].setThickness(m_slices[i + 1].thickness());
    }
    for (Slice &s : m_slices)
        s.mirror(axes);
    // Flat bounds (a single layer, or contours on one line) are mirrored as well.
    if (!m_bounds.isNull()) {
        Vector3f mn = m_bounds.min();
        Vector3f mx = m_bounds.max();
        const auto flip = [](float &lo, float &hi) {
            const float oldLo = lo;
            lo = -hi;
            hi = -oldLo;
        };
        if (x)
            flip(mn.x, mx.x);
        if (y)
            flip(mn.y, mx.y);
        if (z)
            flip(mn.z, mx.z);
        m_bounds = Cuboid(mn, mx);
    }
}

Cuboid SliceStack::mappedBounds(const QList<Slice> &list, const QMatrix4x4 &m)
{
    Cuboid box;
    if (list.isEmpty())
        return box;
    const QTransform t = m.toTransform();
    Rectangle area;
    for (const Slice &s : list) {
        for (int i = 0; i < s.contourCount(); ++i) {
            const QVector<Vector2f> &points = s.contour(i)->points();
            if (!points.isEmpty())
                area.unite(utilTX::mapBounds2Df(t, &points.constData()->x, points.size()));
        }
    }
    box.expand(Vector3f(area.min().x, area.min().y, mappedZ(list.first().z(), m)));
    box.expand(Vector3f(area.max().x, area.max().y, mappedZ(list.last().z(), m)));
    return box;
}

QList<QMultiMap<double, int>> SliceStack::matchContours(const Slice &a, const Slice &b)
{
    QList<std::set<Vector2f>> pointsOfB;
    for (const Contour &c : b.contours())
        pointsOfB.append(c.allPoints());
    QList<QMultiMap<double, int>> out;
    for (const Contour &c : a.contours()) {
        const std::set<Vector2f> own = c.allPoints();
        const Vector2f centre = c.center();
        QMultiMap<double, int> matches;
        for (int k = 0; k < b.contours().size(); ++k) {
            const std::set<Vector2f> &other = pointsOfB[k];
            const bool shared = std::any_of(own.begin(), own.end(),
                                            [&other](const Vector2f &p) { return other.count(p) != 0; });
            if (!shared)
                continue;
            const Vector2f o = b.contours()[k].center();
            const double dx = double(centre.x) - double(o.x);
            const double dy = double(centre.y) - double(o.y);
            matches.insert(dx * dx + dy * dy, k);
        }
        out.append(matches);
    }
    return out;
}

std::set<Vector2f> SliceStack::sharedPoints(const Slice &a, const Slice &b)
{
    const std::set<Vector2f> x = a.allPoints();
    const std::set<Vector2f> y = b.allPoints();
    std::set<Vector2f> common;
    std::set_intersection(x.begin(), x.end(), y.begin(), y.end(), std::inserter(common, common.end()));
    return common;
}

QDataStream &operator<<(QDataStream &s, const SliceStack &stack)
{
    s << qint32(stack.slices().size());
    for (const Slice &slice : stack.slices())
        s << slice;
    return s;
}

QDataStream &operator>>(QDataStream &s, SliceStack &stack)
{
    qint32 count = 0;
    s >> count;
    if (s.status() != QDataStream::Ok)
        return s;
    if (count < 0) {
        s.setStatus(QDataStream::ReadCorruptData);
        return s;
    }
    QList<Slice> read;
    for (qint32 i = 0; i < count; ++i) {
        Slice slice;
        s >> slice;
        if (s.status() != QDataStream::Ok)
            break;
        read.append(slice);
    }
    stack.append(read);
    return s;
}

} // namespace geom
