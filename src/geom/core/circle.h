#pragma once

#include "geom/core/roundshape.h"
#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"

#include <QDebug>
#include <QMetaType>
#include <QTransform>
#include <type_traits>

namespace geom {

// A bounding circle: centre and radius, null when the radius is negative (the default: centre at
// the origin, radius -1). Circle<float> has a Vector2f centre and the tolerance 1e-5,
// Circle<double> a Vector2d centre and the tolerance 1e-12.
template <typename T>
class Circle
    : public RoundShape<Circle<T>, std::conditional_t<std::is_same<T, float>::value, Vector2f, Vector2d>, T>
{
    using Base =
        RoundShape<Circle<T>, std::conditional_t<std::is_same<T, float>::value, Vector2f, Vector2d>, T>;

public:
    using Base::Base;
    using typename Base::PointType;

    // radius * radius * pi, from the radius as stored.
    T area() const { return this->m_radius * this->m_radius * pi(); }
    // (radius + radius) * pi, from the radius as stored.
    T circumference() const { return (this->m_radius + this->m_radius) * pi(); }

    // The centre moved by the transform's translation, the radius scaled by the largest length of
    // the images of the unit axes (projective terms included).
    Circle mapped(const QTransform &m) const
    {
        const double sx = m.m11() * m.m11() + m.m12() * m.m12() + m.m13() * m.m13();
        const double sy = m.m21() * m.m21() + m.m22() * m.m22() + m.m23() * m.m23();
        const T scale = T(std::sqrt(sx > sy ? sx : sy));
        const PointType shift(T(m.dx()), T(m.dy()));
        return Circle(this->m_center + shift, this->m_radius * scale);
    }

private:
    static constexpr T pi() { return T(3.141592653589793); }
};

static_assert(sizeof(Circle<float>) == 12, "centre x, y, radius");
static_assert(sizeof(Circle<double>) == 24, "centre x, y, radius");

// Writes "Circle(x, y : r)", or "Circle(invalid)" for a negative radius, and one blank.
QDebug operator<<(QDebug dbg, const Circle<float> &c);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Circle<float>, Q_MOVABLE_TYPE);
Q_DECLARE_TYPEINFO(geom::Circle<double>, Q_MOVABLE_TYPE);
Q_DECLARE_METATYPE(geom::Circle<float>)
Q_DECLARE_METATYPE(geom::Circle<double>)
