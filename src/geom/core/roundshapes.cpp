#include "geom/core/circle.h"
#include "geom/core/sphere.h"

#include <QVector4D>
#include <cmath>

namespace geom {

namespace {
constexpr float Pi = 3.1415927f;
constexpr float FourThirds = 1.3333334f;
} // namespace

float Sphere::surface() const
{
    return (4.0f * Pi) * m_radius * m_radius;
}

float Sphere::volume() const
{
    return (FourThirds * Pi) * m_radius * m_radius * m_radius;
}

Sphere Sphere::mapped(const QMatrix4x4 &m) const
{
    // note: Qt 5's QVector4D::lengthSquared sums in float; the squared column lengths are summed
    // in double here, so the scale is the double root rounded once.
    double largest = 0.0;
    for (int c = 0; c < 3; ++c) {
        const QVector4D column = m.column(c);
        const double s = double(column.x()) * column.x() + double(column.y()) * column.y() +
                         double(column.z()) * column.z() + double(column.w()) * column.w();
        if (c == 0 || s > largest)
            largest = s;
    }
    const float scale = float(std::sqrt(largest));
    const QVector4D shift = m.column(3);
    return Sphere(m_center + Vector3f(shift.x(), shift.y(), shift.z()), m_radius * scale);
}

QDebug operator<<(QDebug dbg, const Circle<float> &c)
{
    dbg.nospace() << "Circle(";
    if (c.radius() < 0.0f)
        dbg << "invalid";
    else
        dbg << c.center().x << ", " << c.center().y << " : " << c.radius();
    dbg << ')';
    return dbg.space();
}

QDebug operator<<(QDebug dbg, const Sphere &s)
{
    dbg.nospace() << "Sphere(";
    if (s.radius() < 0.0f)
        dbg << "invalid";
    else
        dbg << s.center().x << ", " << s.center().y << ", " << s.center().z << " : " << s.radius();
    dbg << ')';
    return dbg.space();
}

// The instantiations the system uses.
template class Circle<float>;
template class Circle<double>;

} // namespace geom
