#include "geom/slicing/pointring.h"

#include "geom/core/angles.h"
#include "geom/slicing/pointring_p.h"

#include <cmath>

namespace geom {

namespace {

constexpr double Pi = 3.141592653589793;

} // namespace

template <typename P>
PointRing<P>::PointRing()
    : d(new PointRingPrivate<P>(0))
{}

template <typename P>
PointRing<P>::PointRing(const QVector<P> &points)
    : d(new PointRingPrivate<P>(points.size()))
{
    setPoints(points);
}

template <typename P>
PointRing<P>::~PointRing()
{
    delete d;
}

template <typename P>
void PointRing<P>::setPoints(const QVector<P> &points)
{
    setPoints(points.constData(), points.size());
}

template <typename P>
void PointRing<P>::setPoints(const P *points, int n)
{
    if (!points || n < 0)
        n = 0;
    d->angles.fill(0.0, n);
    d->bisectors.fill(P(), n);
    d->edges.fill(P(), n);
    // Each edge from vertex p to vertex i adds to both of its ends: the corner angle of a vertex is
    // its incoming direction minus pi minus its outgoing direction, its bisector the outgoing minus
    // the incoming direction.
    for (int i = 0; i < n; ++i) {
        const int p = i == 0 ? n - 1 : i - 1;
        P u = points[i] - points[p];
        u.setLength(1.0);
        d->edges[p] = u;
        const double phi = std::atan2(double(u.y), double(u.x));
        d->angles[p] -= phi;
        d->angles[i] += phi - Pi;
        d->bisectors[p] += u;
        d->bisectors[i] -= u;
    }
    for (int k = 0; k < n; ++k) {
        d->angles[k] = wrapAngle(d->angles[k]);
        d->bisectors[k].setLength(1.0);
    }
}

template <typename P>
const QVector<double> &PointRing<P>::angles() const
{
    return d->angles;
}

template <typename P>
const QVector<P> &PointRing<P>::bisectors() const
{
    return d->bisectors;
}

template <typename P>
const QVector<P> &PointRing<P>::edges() const
{
    return d->edges;
}

template class PointRing<Vector2f>;
template class PointRing<Vector2d>;

} // namespace geom
