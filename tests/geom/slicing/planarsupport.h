#pragma once

// Helpers of the planar tests: readable QCOMPARE output for points (pointstrings.h) and boxes,
// and small rings.

#include "geom/core/rectangle.h"
#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"
#include "geom/slicing/contour.h"
#include "pointstrings.h"

#include <QByteArray>
#include <QVector>
#include <QtTest>

#include <initializer_list>

namespace geom {

inline char *toString(const Rectangle &r)
{
    return qstrdup(QByteArray("R(" + QByteArray::number(double(r.min().x), 'g', 9) + ", " +
                              QByteArray::number(double(r.min().y), 'g', 9) + " .. " +
                              QByteArray::number(double(r.max().x), 'g', 9) + ", " +
                              QByteArray::number(double(r.max().y), 'g', 9) + ")")
                       .constData());
}

} // namespace geom

namespace planartest {

// The axis-aligned square with its min corner at (x, y): counter-clockwise from the min corner, or
// clockwise from it when clockwise.
inline QVector<geom::Vector2f> square(float x, float y, float size, bool clockwise = false)
{
    if (clockwise)
        return {{x, y}, {x, y + size}, {x + size, y + size}, {x + size, y}};
    return {{x, y}, {x + size, y}, {x + size, y + size}, {x, y + size}};
}

inline geom::Contour squareContour(float x, float y, float size, bool clockwise = false)
{
    return geom::Contour(square(x, y, size, clockwise));
}

// The same points in double precision.
inline QVector<geom::Vector2d> widened(const QVector<geom::Vector2f> &points)
{
    QVector<geom::Vector2d> out;
    for (const geom::Vector2f &p : points)
        out.append(geom::Vector2d(p));
    return out;
}

// Exact comparison of every coordinate of two rectangles (the == of Rectangle is tolerant).
inline bool sameBox(const geom::Rectangle &a, const geom::Rectangle &b)
{
    return a.min() == b.min() && a.max() == b.max();
}

} // namespace planartest

Q_DECLARE_METATYPE(QVector<geom::Vector2f>)
Q_DECLARE_METATYPE(QVector<geom::Vector2d>)
