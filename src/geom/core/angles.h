#pragma once

#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"

#include <QQuaternion>
#include <QVector4D>

namespace geom {

// Brings an angle in degrees into [-180, 180] by whole turns; both ends stay as they are. A
// non-finite angle comes back unchanged; one many turns out is reduced with fmod.
float wrapAngleDegrees(float degrees);
// The same in radians with the single-precision pi and 2 pi.
float wrapAngle(float radians);
// The same in radians in double precision.
double wrapAngle(double radians);

// The unit direction halving the angle between a and b seen from centre; the zero vector when they
// point in opposite directions. A zero a or b contributes nothing. Tolerance 1e-5 (float) or 1e-12
// (double) for the zero-centre test.
Vector2f bisector(const Vector2f &a, const Vector2f &b, const Vector2f &centre = Vector2f::Zero);
Vector2f bisector(const Vector2f &a, const Vector2f &b, float cx, float cy);
Vector2d bisector(const Vector2d &a, const Vector2d &b, const Vector2d &centre = Vector2d::Zero);
Vector2d bisector(const Vector2d &a, const Vector2d &b, double cx, double cy);

// The angle in radians that turns the direction of b (from centre) into that of a, counter-clockwise
// positive, in [-pi, pi]. The double form carries single precision: its arc tangents are taken in
// double, their difference is wrapped in float.
float signedAngle(const Vector2f &a, const Vector2f &b, const Vector2f &centre = Vector2f::Zero);
float signedAngle(const Vector2f &a, const Vector2f &b, float cx, float cy);
double signedAngle(const Vector2d &a, const Vector2d &b, const Vector2d &centre = Vector2d::Zero);
double signedAngle(const Vector2d &a, const Vector2d &b, double cx, double cy);

// The rotation of q as axis and angle: x, y, z the normalised vector part, w the angle in degrees
// (2 acos of the scalar part).
QVector4D toAxisAngle(const QQuaternion &q);

} // namespace geom
