#pragma once

#include "geom/slicing/contouroffsetter.h"

#include <QVector>

namespace geom {

template <typename P>
struct ContourOffsetterPrivate
{
    ContourOffsetterPrivate(double maximum, double offset)
        : maxAngle(maximum)
        , distance(offset)
        , width(2.0 * offset)
    {}

    double maxAngle;
    double midAngle = 1.5707963267948966;
    double distance;
    double width;
    QVector<CornerRecord<P>> corners;
};

} // namespace geom
