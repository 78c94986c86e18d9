#pragma once

#include "geom/core/cuboid.h"
#include "geom/core/rectangle.h"
#include "geom/core/vector2f.h"
#include "geom/core/vector3f.h"

class QMatrix4x4;
class QTransform;

// Stateless transform helpers: tolerant classification of 3x3 and 4x4 matrices and batch mapping
// of packed single-precision point arrays. Every function is pure apart from writing its output
// array and the caller's box, so any thread may call them at once on different data.
//
// Matrices are first rounded to float element by element; all point arithmetic is single
// precision. Point arrays are packed (x, y per 2D point, x, y, z per 3D point), need no alignment,
// and n counts points. An array mapper may map in place (out == in); other overlaps are not allowed.
namespace utilTX {

// Flags of a classification; any combination, Identity when none holds.
enum TransformFlag
{
    Identity = 0,
    Translate = 1, // translation terms
    Scale = 2,     // diagonal terms other than one
    Rotate = 4,    // off-diagonal terms: rotation or shear
    Project = 8    // perspective terms
};

// Classifies the 3x3 float form (m11, m12, m13, m21, m22, m23, m31, m32, m33) with the tolerance
// 1e-5: an element is zero when |x| <= 1e-5, one when |x - 1| <= 1e-5 * min(|x|, 1); a NaN element
// sets the flag of its position.
int transformType(const float (&m)[9]);
// Classifies the 4x4 float form (column-major, as QMatrix4x4::constData) with the same tests.
int transformType(const float (&m)[16]);
// Identity when Qt calls the matrix the identity, else the classification of its float form.
int transformType(const QMatrix4x4 &m);
// Identity when Qt's type of the transform is none, else the classification of its float form.
int transformType(const QTransform &t);

// True when the upper-left 3x3 block reverses orientation: (c0 x c1) . c2 < 0 in float for its
// columns. A singular block (product exactly 0) does not mirror.
bool isMirroring(const QMatrix4x4 &m);

// True when m is degenerate relative to its own size: |det| <= 1e-5 s^3, det the determinant of m
// taken as a float and s the largest column length of its upper-left 3x3 block. A degenerate
// matrix flattens what it maps, so it is not applied; a uniform scale of any size is regular.
bool isDegenerate(const QMatrix4x4 &m);

// Fills out with the 3x3 float form of t and returns it.
float *toFloat3x3(float (&out)[9], const QTransform &t);
// Fills out with the 4x4 float form of m (column-major) and returns it.
float *toFloat4x4(float (&out)[16], const QMatrix4x4 &m);

// Maps one point by the formula of type: 0 returns p unchanged, a negative type classifies t
// first, a positive type picks the cheapest formula that the flags allow (terms within the
// tolerance of zero or one are not applied).
geom::Vector2f mapPoint2D(const geom::Vector2f &p, const QTransform &t, int type = -1);
// As mapPoint2D, for a 3D point and a 4x4 matrix; a projective matrix divides by w.
geom::Vector3f mapPoint3D(const geom::Vector3f &p, const QMatrix4x4 &m, int type = -1);

// Maps n 2D points one by one with the cheapest formula of t's classification (projective
// transforms divide by w). The identity copies the points, or does nothing in place. A null
// array or n <= 0 does nothing. Returns out.
float *map2DfScalar(float *out, const QTransform &t, const float *in, int n);
// Maps n 2D points by the full affine formula x' = (m11 x + m21 y) + dx, y' = (m12 x + m22 y) + dy
// on the vector unit. A projective t is not vectorised: it is reported with a warning and mapped by
// map2DfScalar. A null array or n <= 0 does nothing. Returns out.
float *map2Df(float *out, const QTransform &t, const float *in, int n);
// The bounds of n 2D points mapped by the full affine formula, nothing written back. The null
// rectangle for no points; a projective t is refused with a critical message and the null rectangle.
geom::Rectangle mapBounds2Df(const QTransform &t, const float *xy, int n);

// Maps n 3D points one by one with the cheapest formula of m's classification (projective matrices
// divide by w). The identity copies the points, or does nothing in place. When bounds is not null
// it is grown (never reset) by every mapped point. A null array or n <= 0 does nothing. Returns out.
float *map3DfScalar(float *out, const QMatrix4x4 &m, const float *in, int n, geom::Cuboid *bounds = nullptr);
// Maps n 3D points by the whole matrix, x' = ((a00 x + a01 y) + a02 z) + a03 and so on, divided by
// w when m is projective; several points at a time on the vector unit, with results identical bit
// for bit to mapping them one at a time. Reads and writes nothing outside the n points. When bounds
// is not null it is grown (never reset) by every mapped point. Returns out.
float *map3Df(float *out, const QMatrix4x4 &m, const float *in, int n, geom::Cuboid *bounds = nullptr);
// The bounds of n 3D points mapped as by map3Df, nothing written back; the null box for no points.
geom::Cuboid mapBounds3Df(const QMatrix4x4 &m, const float *xyz, int n);

} // namespace utilTX
