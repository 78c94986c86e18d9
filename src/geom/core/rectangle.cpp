#include "geom/core/rectangle.h"

namespace geom {

QRectF Rectangle::toRectF() const
{
    if (!isValid())
        return QRectF(0.0, 0.0, 0.0, 0.0);
    return QRectF(m_min.x, m_min.y, double(m_max.x) - double(m_min.x), double(m_max.y) - double(m_min.y));
}

QList<Vector2f> Rectangle::clipSegment(const Vector2f &p0, const Vector2f &p1) const
{
    return axisbox::clipSegment(m_min, m_max, p0, p1);
}

QDebug operator<<(QDebug dbg, const Rectangle &r)
{
    dbg.nospace() << "Rectangle(";
    if (r.isNull()) {
        dbg << "invalid";
    } else {
        const Vector2f s = r.size();
        dbg << r.min().x << ", " << r.min().y << " : " << s.x << " x " << s.y;
    }
    dbg << ')';
    return dbg.space();
}

} // namespace geom
