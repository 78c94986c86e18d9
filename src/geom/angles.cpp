#include "geom/angles.h"

#include <QVector3D>
#include <cmath>

namespace geom {

namespace {

// Whole-turn steps taken before falling back to fmod. Callers pass differences of arc tangents,
// which need at most one step; the bound keeps huge angles, for which adding a turn changes
// nothing, from looping.
constexpr int MaxTurnSteps = 4;

template <typename T>
T wrapByTurns(T a, T half, T full)
{
    if (!std::isfinite(a))
        return a;
    int steps = 0;
    if (a < -half) {
        while (a < -half && steps++ < MaxTurnSteps)
            a += full;
    } else {
        while (a > half && steps++ < MaxTurnSteps)
            a -= full;
    }
    if (a < -half || a > half) {
        a = std::fmod(a, full);
        if (a < -half)
            a += full;
        else if (a > half)
            a -= full;
    }
    return a;
}

template <typename V>
V bisectorAtOrigin(const V &a, const V &b)
{
    V ub = b;
    ub.setLength(1.0);
    V ua = a;
    ua.setLength(1.0);
    V r = ub + ua;
    r.setLength(1.0);
    return r;
}

template <typename V, typename T>
bool nearZero(const V &c, T tolerance)
{
    return std::fabs(c.x) <= tolerance && std::fabs(c.y) <= tolerance;
}

} // namespace

float wrapAngleDegrees(float degrees)
{
    return wrapByTurns(degrees, 180.0f, 360.0f);
}

float wrapAngle(float radians)
{
    return wrapByTurns(radians, 3.1415927f, 6.2831855f);
}

double wrapAngle(double radians)
{
    return wrapByTurns(radians, 3.141592653589793, 6.283185307179586);
}

Vector2f bisector(const Vector2f &a, const Vector2f &b, const Vector2f &centre)
{
    if (nearZero(centre, 1e-5f))
        return bisectorAtOrigin(a, b);
    return bisectorAtOrigin(a - centre, b - centre);
}

Vector2f bisector(const Vector2f &a, const Vector2f &b, float cx, float cy)
{
    return bisector(a, b, Vector2f(cx, cy));
}

Vector2d bisector(const Vector2d &a, const Vector2d &b, const Vector2d &centre)
{
    if (nearZero(centre, 1e-12))
        return bisectorAtOrigin(a, b);
    return bisectorAtOrigin(a - centre, b - centre);
}

Vector2d bisector(const Vector2d &a, const Vector2d &b, double cx, double cy)
{
    return bisector(a, b, Vector2d(cx, cy));
}

float signedAngle(const Vector2f &a, const Vector2f &b, const Vector2f &centre)
{
    if (!nearZero(centre, 1e-5f))
        return signedAngle(a - centre, b - centre, Vector2f::Zero);
    Vector2f ua = a;
    ua.setLength(1.0);
    Vector2f ub = b;
    ub.setLength(1.0);
    return wrapAngle(std::atan2(ua.y, ua.x) - std::atan2(ub.y, ub.x));
}

float signedAngle(const Vector2f &a, const Vector2f &b, float cx, float cy)
{
    return signedAngle(a, b, Vector2f(cx, cy));
}

double signedAngle(const Vector2d &a, const Vector2d &b, const Vector2d &centre)
{
    if (!nearZero(centre, 1e-12))
        return signedAngle(a - centre, b - centre, Vector2d::Zero);
    Vector2d ua = a;
    ua.setLength(1.0);
    Vector2d ub = b;
    ub.setLength(1.0);
    // note: the difference is wrapped in single precision, so this form carries float accuracy.
    const float difference = float(std::atan2(ua.y, ua.x) - std::atan2(ub.y, ub.x));
    return double(wrapAngle(difference));
}

double signedAngle(const Vector2d &a, const Vector2d &b, double cx, double cy)
{
    return signedAngle(a, b, Vector2d(cx, cy));
}

QVector4D toAxisAngle(const QQuaternion &q)
{
    const QVector3D axis = q.vector().normalized();
    const float radians = float(2.0 * std::acos(double(q.scalar())));
    const float degrees = float(double(radians) * 57.29577951308232);
    return QVector4D(axis, degrees);
}

} // namespace geom
