#pragma once

#include <QVector>

namespace geom {

// The three tables of a PointRing, always of the same length: entry k describes vertex k.
template <typename P>
struct PointRingPrivate
{
    // n zero entries in each table.
    explicit PointRingPrivate(int n)
        : angles(n, 0.0)
        , bisectors(n, P())
        , edges(n, P())
    {}

    QVector<double> angles;
    QVector<P> bisectors;
    QVector<P> edges;
};

} // namespace geom
