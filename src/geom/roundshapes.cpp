#include "geom/circle.h"
#include "geom/sphere.h"

#include <QVector4D>

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
    const QVector4D shift = m.column(3);
    float largest = m.column(0).lengthSquared();
    for (int c = 1; c < 3; ++c) {
        const float s = m.column(c).lengthSquared();
        if (s > largest)
            largest = s;
    }
    const float scale = float(std::sqrt(double(largest)));
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
