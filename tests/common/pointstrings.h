#pragma once

// Readable QCOMPARE output for the plane point types: single precision with 9 significant digits,
// double precision with 17, so that every value reads back exactly.

#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"

#include <QByteArray>
#include <QtTest>

namespace geom {

inline char *toString(const Vector2f &v)
{
    return qstrdup(QByteArray("P(" + QByteArray::number(double(v.x), 'g', 9) + ", " +
                              QByteArray::number(double(v.y), 'g', 9) + ")")
                       .constData());
}

inline char *toString(const Vector2d &v)
{
    return qstrdup(
        QByteArray("P(" + QByteArray::number(v.x, 'g', 17) + ", " + QByteArray::number(v.y, 'g', 17) + ")")
            .constData());
}

} // namespace geom
