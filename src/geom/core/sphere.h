#pragma once

#include "geom/core/roundshape.h"
#include "geom/core/vector3f.h"

#include <QDebug>
#include <QMatrix4x4>
#include <QMetaType>

namespace geom {

// A bounding sphere in single precision: centre x, y, z and radius, four floats in that order; null
// when the radius is negative (the default: centre at the origin, radius -1). Tolerance 1e-5.
class Sphere : public RoundShape<Sphere, Vector3f, float>
{
public:
    using RoundShape::RoundShape;

    // (4 * pi) * radius * radius, in float, from the radius as stored.
    float surface() const;
    // (4/3 * pi) * radius * radius * radius, in float, from the radius as stored.
    float volume() const;

    // The centre moved by m's translation column, the radius scaled by the largest length of m's
    // first three columns (as 4-vectors). Bounds the image of a sphere centred at the origin.
    Sphere mapped(const QMatrix4x4 &m) const;
};

static_assert(sizeof(Sphere) == 16, "centre x, y, z, radius");

// Writes "Sphere(x, y, z : r)", or "Sphere(invalid)" for a negative radius, and one blank.
QDebug operator<<(QDebug dbg, const Sphere &s);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Sphere, Q_MOVABLE_TYPE);
Q_DECLARE_METATYPE(geom::Sphere)
