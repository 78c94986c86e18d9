#include "geom/core/cuboid.h"

namespace geom {

QList<Vector3f> Cuboid::clipSegment(const Vector3f &p0, const Vector3f &p1) const
{
    return axisbox::clipSegment(m_min, m_max, p0, p1);
}

QDebug operator<<(QDebug dbg, const Cuboid &b)
{
    dbg.nospace() << "Cuboid(";
    if (b.isNull()) {
        dbg << "invalid";
    } else {
        const Vector3f s = b.size();
        dbg << b.min().x << ", " << b.min().y << ", " << b.min().z << " : " << s.x << " x " << s.y << " x "
            << s.z;
    }
    dbg << ')';
    return dbg.space();
}

} // namespace geom
