#include "geom/slicing/contouroffsetter.h"

#include "geom/core/angles.h"
#include "geom/slicing/contouroffsetter_p.h"
#include "geom/slicing/planar_p.h"

#include <algorithm>
#include <cmath>

namespace geom {

namespace {

constexpr double Pi = 3.141592653589793;

using planar::dot;
using planar::scaled;

template <typename P>
P unit(P v)
{
    v.setLength(1.0);
    return v;
}

// A corner that turns straight back: its angle, narrowed to float, within 1e-5 of 0.
bool isSpike(double angle)
{
    return std::fabs(float(angle)) <= 1e-5f;
}

} // namespace

template <typename P>
CornerRecord<P>::CornerRecord(const P &u)
    : angle(-std::atan2(double(u.y), double(u.x)))
    , edge(u)
{}

template <typename P>
QVector<CornerRecord<P>> cornerRecords(const QVector<P> &points)
{
    const int n = points.size();
    QVector<CornerRecord<P>> records;
    if (n == 0)
        return records;
    if (n == 1) {
        records.append(CornerRecord<P>());
        return records;
    }
    records.reserve(n);
    for (int k = 1; k < n; ++k)
        records.append(CornerRecord<P>(unit(points[k] - points[k - 1])));
    records.append(CornerRecord<P>(unit(points[0] - points[n - 1])));

    // The second pass reads the first pass's angles, not the corner angles it writes.
    QVector<double> directions(n);
    for (int j = 0; j < n; ++j)
        directions[j] = records[j].angle;
    for (int j = 0; j < n; ++j) {
        const int p = j == 0 ? n - 1 : j - 1;
        records[j].angle = wrapAngle(directions[j] + Pi - directions[p]);
        records[j].bisector = unit(records[j].edge - records[p].edge);
    }
    return records;
}

template <typename P>
ContourOffsetter<P>::ContourOffsetter(double maxAngle, double distance)
    : d(new ContourOffsetterPrivate<P>(maxAngle, distance))
{}

template <typename P>
ContourOffsetter<P>::~ContourOffsetter()
{
    delete d;
}

template <typename P>
void ContourOffsetter<P>::setMaxAngle(double value)
{
    d->maxAngle = std::max(1e-12, value);
}

template <typename P>
void ContourOffsetter<P>::setAngleLimit(double value)
{
    d->maxAngle = std::isnan(value) ? 0.0 : std::clamp(value, 0.0, Pi);
    d->midAngle = std::min(d->midAngle, d->maxAngle);
}

template <typename P>
void ContourOffsetter<P>::setMidAngle(double value)
{
    d->midAngle = std::isnan(value) ? 0.0 : std::max(0.0, std::min(value, d->maxAngle));
}

template <typename P>
double ContourOffsetter<P>::maxAngle() const
{
    return d->maxAngle;
}

template <typename P>
double ContourOffsetter<P>::midAngle() const
{
    return d->midAngle;
}

template <typename P>
const QVector<CornerRecord<P>> &ContourOffsetter<P>::corners() const
{
    return d->corners;
}

template <typename P>
template <typename Corner>
QMultiMap<int, P> ContourOffsetter<P>::build(const QVector<P> &points, Corner corner)
{
    QMultiMap<int, P> out;
    const int n = points.size();
    if (n < 3)
        return out;
    d->corners = cornerRecords(points);
    const QVector<CornerRecord<P>> &c = d->corners;
    out.insert(n, points[0] + scaled(c[n - 1].edge, d->distance));
    out.insert(0, points[0] - scaled(c[0].edge, d->distance));
    for (int k = 1; k < n; ++k) {
        if (std::fabs(c[k].angle) < d->maxAngle)
            corner(out, k, points[k], c[k], c[k - 1].edge);
    }
    return out;
}

template <typename P>
QMultiMap<int, P> ContourOffsetter<P>::extendCorners(const QVector<P> &points)
{
    const ContourOffsetterPrivate<P> &r = *d;
    return build(points,
                 [&r](QMultiMap<int, P> &out, int k, const P &p, const CornerRecord<P> &c, const P &in) {
                     if (isSpike(c.angle)) {
                         out.insert(k, p - scaled(c.bisector, r.width));
                         return;
                     }
                     const P back = p - scaled(c.edge, r.distance);
                     const P ahead = p + scaled(in, r.distance);
                     out.insert(k, back);
                     if (std::fabs(c.angle) >= r.midAngle)
                         out.insert(k, back + scaled(in, r.distance));
                     out.insert(k, ahead);
                 });
}

template <typename P>
QMultiMap<int, P> ContourOffsetter<P>::mitreCorners(const QVector<P> &points)
{
    const ContourOffsetterPrivate<P> &r = *d;
    return build(points,
                 [&r](QMultiMap<int, P> &out, int k, const P &p, const CornerRecord<P> &c, const P &in) {
                     const double s = std::fabs(std::sin(c.angle / 2.0));
                     if (s < planar::SingleTolerance) {
                         out.insert(k, p - scaled(c.bisector, r.width));
                         return;
                     }
                     const P mitre = scaled(c.bisector, r.distance / s);
                     out.insert(k, p - scaled(c.edge, dot(mitre, c.edge)));
                     if (std::fabs(c.angle) >= r.midAngle)
                         out.insert(k, p - scaled(c.bisector, r.distance) - mitre);
                     out.insert(k, p - scaled(in, dot(mitre, in)));
                 });
}

template <typename P>
QMultiMap<int, P> ContourOffsetter<P>::tangentCorners(const QVector<P> &points)
{
    const ContourOffsetterPrivate<P> &r = *d;
    return build(
        points, [&r](QMultiMap<int, P> &out, int k, const P &p, const CornerRecord<P> &c, const P &in) {
            if (isSpike(c.angle)) {
                out.insert(k, p - scaled(c.bisector, r.width));
                return;
            }
            const bool convex = c.angle >= 0.0;
            const double t = convex ? std::tan((Pi - c.angle) * 0.25) : std::tan((c.angle + Pi) * 0.25);
            // note: the sideways offset is the distance and the push along the edge the distance times
            // t, the lengths the other corner styles use.
            const double normal = convex ? r.distance : -r.distance;
            const double along = r.distance * t;
            const P normalIn(in.y, -in.x);
            const P normalOut(c.edge.y, -c.edge.x);
            out.insert(k, p + scaled(normalIn, normal) + scaled(in, along));
            if (std::fabs(c.angle) >= r.midAngle)
                out.insert(k, p - scaled(c.bisector, r.width));
            out.insert(k, p + scaled(normalOut, normal) - scaled(c.edge, along));
        });
}

template struct CornerRecord<Vector2f>;
template struct CornerRecord<Vector2d>;
template QVector<CornerRecord<Vector2f>> cornerRecords<Vector2f>(const QVector<Vector2f> &);
template QVector<CornerRecord<Vector2d>> cornerRecords<Vector2d>(const QVector<Vector2d> &);
template class ContourOffsetter<Vector2f>;
template class ContourOffsetter<Vector2d>;

} // namespace geom
