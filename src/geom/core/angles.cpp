#include "geom/core/angles.h"

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

// The zero-centre tests of the two precisions.
constexpr float centreTolerance(const Vector2f &)
{
    return 1e-5f;
}
constexpr double centreTolerance(const Vector2d &)
{
    return 1e-12;
}

// v about centre: v itself when the centre is within the tolerance of zero on both axes, else
// v - centre.
template <typename V>
V aboutCentre(const V &v, const V &centre)
{
    const auto tolerance = centreTolerance(centre);
    if (std::fabs(centre.x) <= tolerance && std::fabs(centre.y) <= tolerance)
        return v;
    return v - centre;
}

template <typename V>
V unit(V v)
{
    v.setLength(1.0);
    return v;
}

template <typename V>
V bisectorAbout(const V &a, const V &b, const V &centre)
{
    const V ub = unit(aboutCentre(b, centre));
    const V ua = unit(aboutCentre(a, centre));
    return unit(ub + ua);
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
    return bisectorAbout(a, b, centre);
}

Vector2f bisector(const Vector2f &a, const Vector2f &b, float cx, float cy)
{
    return bisector(a, b, Vector2f(cx, cy));
}

Vector2d bisector(const Vector2d &a, const Vector2d &b, const Vector2d &centre)
{
    return bisectorAbout(a, b, centre);
}

Vector2d bisector(const Vector2d &a, const Vector2d &b, double cx, double cy)
{
    return bisector(a, b, Vector2d(cx, cy));
}

float signedAngle(const Vector2f &a, const Vector2f &b, const Vector2f &centre)
{
    const Vector2f ua = unit(aboutCentre(a, centre));
    const Vector2f ub = unit(aboutCentre(b, centre));
    return wrapAngle(std::atan2(ua.y, ua.x) - std::atan2(ub.y, ub.x));
}

float signedAngle(const Vector2f &a, const Vector2f &b, float cx, float cy)
{
    return signedAngle(a, b, Vector2f(cx, cy));
}

double signedAngle(const Vector2d &a, const Vector2d &b, const Vector2d &centre)
{
    const Vector2d ua = unit(aboutCentre(a, centre));
    const Vector2d ub = unit(aboutCentre(b, centre));
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
