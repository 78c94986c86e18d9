// The tessellator's operations on slices and contours: outline, union, intersection, difference
// and triangulation.

#include "geom/slicing/contour.h"
#include "geom/slicing/slice.h"
#include "geom/slicing/tessellator.h"
#include "geom/slicing/tessellator_p.h"

#include <cmath>

namespace geom {

namespace {

// A slice at z 0 with thickness 0 holding a copy of the contour alone.
Slice aloneInSlice(const Contour &contour)
{
    Slice s(0.0f, 0.0f);
    s.contours().append(contour);
    return s;
}

} // namespace

void Tessellator::addSlice(const Slice &slice, bool reversed)
{
    const bool own = d->state == Idle;
    if (own) {
        d->z = double(slice.z());
        beginPolygon(Float2D);
    } else if (d->kind != Float2D) {
        return;
    }
    const int n = slice.contourCount();
    for (int i = 0; i < n; ++i) {
        const QVector<Vector2f> &points = slice.contour(i)->points();
        if (points.size() < 3)
            continue;
        // Contours holding a point GLU cannot take are left out as a whole.
        if (!TessellatorTraits<float, 2>::usable(*this, points.constData(), points.size()))
            continue;
        beginContour();
        if (reversed)
            TessellatorTraits<float, 2>::feedReversed(*this, points.constData(), points.size());
        else
            TessellatorTraits<float, 2>::feed(*this, points.constData(), points.size());
        endContour();
    }
    if (own)
        endPolygon();
}

Slice Tessellator::collect(float thickness) const
{
    Slice out(float(d->z), thickness);
    if (d->state != Idle || d->results.isEmpty())
        return out;
    auto gather = [&](auto traits) {
        using Traits = decltype(traits);
        const int n = (d->kind & 1) ? 3 : 2;
        for (const auto *values : Traits::results(*this)) {
            Contour contour;
            QVector<Vector2f> &points = contour.points();
            points.reserve(values->size() / n);
            for (int i = 0; i + 1 < values->size(); i += n)
                points.append(Vector2f(float(values->at(i)), float(values->at(i + 1))));
            out.contours().append(contour);
        }
    };
    switch (d->kind) {
    case Double2D:
        gather(TessellatorTraits<double, 2>());
        break;
    case Double3D:
        gather(TessellatorTraits<double, 3>());
        break;
    case Float2D:
        gather(TessellatorTraits<float, 2>());
        break;
    case Float3D:
        gather(TessellatorTraits<float, 3>());
        break;
    case Int2D:
        gather(TessellatorTraits<int, 2>());
        break;
    case Int3D:
        gather(TessellatorTraits<int, 3>());
        break;
    default:
        break;
    }
    return out;
}

Slice Tessellator::outlineContour(const QVector<Vector2f> &points)
{
    clear();
    setBoundaryOnly(true);
    beginPolygon(Float2D);
    addContour(points.constData(), points.size());
    endPolygon();
    return collect(0.0f);
}

Slice Tessellator::outline(const Slice &slice)
{
    clear();
    setBoundaryOnly(true);
    addSlice(slice, false);
    return collect(slice.thickness());
}

namespace {

enum class Combination
{
    Union,
    Intersection,
    Difference,
};

} // namespace

static Slice combine(Tessellator &t, const Slice &a, const Slice &b, Combination how)
{
    t.clear();
    t.setZ(double(a.z()));
    t.setBoundaryOnly(true);
    t.setWindingRule(how == Combination::Intersection ? Tessellator::AbsGeqTwo : Tessellator::Positive);
    t.beginPolygon(Tessellator::Float2D);
    t.addSlice(a, false);
    t.addSlice(b, how == Combination::Difference);
    t.endPolygon();
    return t.collect(a.thickness());
}

Slice Tessellator::unite(const Slice &a, const Slice &b)
{
    return combine(*this, a, b, Combination::Union);
}

Slice Tessellator::intersect(const Slice &a, const Slice &b)
{
    return combine(*this, a, b, Combination::Intersection);
}

Slice Tessellator::intersect(const Contour &a, const Contour &b)
{
    return intersect(aloneInSlice(a), aloneInSlice(b));
}

Slice Tessellator::subtract(const Slice &a, const Slice &b)
{
    return combine(*this, a, b, Combination::Difference);
}

Slice Tessellator::subtract(const Contour &a, const Contour &b)
{
    return subtract(aloneInSlice(a), aloneInSlice(b));
}

Slice Tessellator::triangulate(const Slice &slice, double minArea)
{
    clear();
    setBoundaryOnly(false);
    addSlice(slice, false);
    Slice out = collect(slice.thickness());
    out.sortByArea(false);
    while (!out.contours().isEmpty() && std::fabs(out.contours().last().area()) <= minArea)
        out.contours().removeLast();
    return out;
}

Slice Tessellator::triangulate(const Contour &contour, double minArea)
{
    return triangulate(aloneInSlice(contour), minArea);
}

QList<Facet> Tessellator::triangulate(const Slice &slice, bool flip)
{
    const double normal[3] = {0.0, 0.0, flip ? -1.0 : 1.0};
    clear();
    d->z = double(slice.z());
    setBoundaryOnly(false);
    beginPolygon(Float2D, normal);
    addSlice(slice, false);
    endPolygon();
    QList<Facet> out;
    const auto views = TessellatorTraits<float, 2>::results(static_cast<const Tessellator &>(*this));
    if (views.isEmpty())
        return out;
    const QVector<float> &v = *views.first();
    const int triangles = v.size() / 6;
    const float z = slice.z();
    const Vector3f n(0.0f, 0.0f, flip ? -1.0f : 1.0f);
    out.reserve(triangles);
    for (int i = 0; i < triangles; ++i) {
        const float *p = v.constData() + 6 * i;
        out.append(Facet(Vector3f(p[0], p[1], z), Vector3f(p[2], p[3], z), Vector3f(p[4], p[5], z), n));
    }
    return out;
}

QList<Facet> Tessellator::triangulate(const Contour &contour)
{
    return triangulate(aloneInSlice(contour), false);
}

} // namespace geom
