#include "geom/core/utiltx.h"
#include "geom/core/corelog.h"

#include <QMatrix4x4>
#include <QTransform>
#include <QVector3D>
#include <QtGlobal>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUARN_UTILTX_SSE 1
#endif

namespace utilTX {

namespace {

constexpr float kTolerance = 1e-5f;
// note: the determinant is judged against the matrix's own size, so that a uniform scale of 0.01
// (determinant 1e-6) counts as regular while a matrix that flattens an axis is degenerate.
constexpr double DegenerateFactor = 1e-5;

bool isZero(float x)
{
    return std::fabs(x) <= kTolerance;
}

// note: the tolerance shrinks with |x| below one, so 0.5 is not one although it is near it in
// absolute terms; a NaN is never one.
bool isOne(float x)
{
    return std::fabs(x - 1.0f) <= kTolerance * std::min(std::fabs(x), 1.0f);
}

// Indices of the 3x3 float form.
enum
{
    M11,
    M12,
    M13,
    M21,
    M22,
    M23,
    DX,
    DY,
    M33
};

// One 2D point by the formula of the flags; the point is read whole before anything is written.
inline void mapPoint2(const float *m, int type, const float *p, float *o)
{
    const float x = p[0];
    const float y = p[1];
    if (type & Project) {
        const float w = (m[M13] * x + m[M23] * y) + m[M33];
        o[0] = ((m[M11] * x + m[M21] * y) + m[DX]) / w;
        o[1] = ((m[M12] * x + m[M22] * y) + m[DY]) / w;
    } else if (type & Rotate) {
        o[0] = (m[M11] * x + m[M21] * y) + m[DX];
        o[1] = (m[M12] * x + m[M22] * y) + m[DY];
    } else if (type & Scale) {
        o[0] = m[M11] * x + m[DX];
        o[1] = m[M22] * y + m[DY];
    } else if (type & Translate) {
        o[0] = x + m[DX];
        o[1] = y + m[DY];
    } else {
        o[0] = x;
        o[1] = y;
    }
}

// One 2D point by the full affine formula, the per-point twin of the vector path.
inline void mapAffine2(const float *m, const float *p, float *o)
{
    const float x = p[0];
    const float y = p[1];
    o[0] = (m[M11] * x + m[M21] * y) + m[DX];
    o[1] = (m[M12] * x + m[M22] * y) + m[DY];
}

// One 3D point by the whole matrix (column-major a), divided by w when project is set. The same
// operations in the same order as every lane of the vector path.
inline void mapFull3(const float *a, bool project, const float *p, float *o)
{
    const float x = p[0];
    const float y = p[1];
    const float z = p[2];
    float rx = ((a[0] * x + a[4] * y) + a[8] * z) + a[12];
    float ry = ((a[1] * x + a[5] * y) + a[9] * z) + a[13];
    float rz = ((a[2] * x + a[6] * y) + a[10] * z) + a[14];
    if (project) {
        const float w = ((a[3] * x + a[7] * y) + a[11] * z) + a[15];
        rx /= w;
        ry /= w;
        rz /= w;
    }
    o[0] = rx;
    o[1] = ry;
    o[2] = rz;
}

// One 3D point by the formula of the flags.
inline void mapPoint3(const float *a, int type, const float *p, float *o)
{
    if (type & (Project | Rotate)) {
        mapFull3(a, type & Project, p, o);
        return;
    }
    const float x = p[0];
    const float y = p[1];
    const float z = p[2];
    if (type & Scale) {
        o[0] = a[0] * x + a[12];
        o[1] = a[5] * y + a[13];
        o[2] = a[10] * z + a[14];
    } else if (type & Translate) {
        o[0] = x + a[12];
        o[1] = y + a[13];
        o[2] = z + a[14];
    } else {
        o[0] = x;
        o[1] = y;
        o[2] = z;
    }
}

// Grows box by the per-axis extremes of a batch. An axis on which the batch held no comparable
// value still has the start sentinels (lo above hi); expanding by them would stretch the box to
// +-FLT_MAX, so they become NaN, which expand ignores.
void growByExtremes(geom::Cuboid &box, float lo[3], float hi[3])
{
    for (int k = 0; k < 3; ++k) {
        if (lo[k] > hi[k])
            lo[k] = hi[k] = std::numeric_limits<float>::quiet_NaN();
    }
    box.expand(geom::Vector3f(lo[0], lo[1], lo[2]));
    box.expand(geom::Vector3f(hi[0], hi[1], hi[2]));
}

#ifdef QUARN_UTILTX_SSE

// Lanes of the running minimum and maximum: the new value is the first operand, so a NaN (which
// compares false) keeps the running value, as Cuboid::expand ignores NaN coordinates.
inline __m128 runMin(__m128 v, __m128 run)
{
    return _mm_min_ps(v, run);
}
inline __m128 runMax(__m128 v, __m128 run)
{
    return _mm_max_ps(v, run);
}
inline float foldMin(__m128 v)
{
    const __m128 h = _mm_min_ps(v, _mm_movehl_ps(v, v));
    return _mm_cvtss_f32(_mm_min_ss(h, _mm_shuffle_ps(h, h, _MM_SHUFFLE(1, 1, 1, 1))));
}
inline float foldMax(__m128 v)
{
    const __m128 h = _mm_max_ps(v, _mm_movehl_ps(v, v));
    return _mm_cvtss_f32(_mm_max_ss(h, _mm_shuffle_ps(h, h, _MM_SHUFFLE(1, 1, 1, 1))));
}

// The 2D vector path: two points per register, (x0, x0, x1, x1) * (m11, m12, m11, m12) plus
// (y0, y0, y1, y1) * (m21, m22, m21, m22), then the translation. Maps the first count points
// (count even) and, when lo/hi are given, keeps their running extremes as (x, y, x, y) lanes.
struct Affine2Sse
{
    __m128 cx, cy, t;

    explicit Affine2Sse(const float *m)
        : cx(_mm_setr_ps(m[M11], m[M12], m[M11], m[M12]))
        , cy(_mm_setr_ps(m[M21], m[M22], m[M21], m[M22]))
        , t(_mm_setr_ps(m[DX], m[DY], m[DX], m[DY]))
    {}

    __m128 map(__m128 r) const
    {
        const __m128 xx = _mm_shuffle_ps(r, r, _MM_SHUFFLE(2, 2, 0, 0));
        const __m128 yy = _mm_shuffle_ps(r, r, _MM_SHUFFLE(3, 3, 1, 1));
        return _mm_add_ps(_mm_add_ps(_mm_mul_ps(xx, cx), _mm_mul_ps(yy, cy)), t);
    }
};

void mapAffine2Sse(const float *m, const float *in, float *out, int count)
{
    const Affine2Sse f(m);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128 r0 = f.map(_mm_loadu_ps(in + 2 * i));
        const __m128 r1 = f.map(_mm_loadu_ps(in + 2 * i + 4));
        const __m128 r2 = f.map(_mm_loadu_ps(in + 2 * i + 8));
        const __m128 r3 = f.map(_mm_loadu_ps(in + 2 * i + 12));
        _mm_storeu_ps(out + 2 * i, r0);
        _mm_storeu_ps(out + 2 * i + 4, r1);
        _mm_storeu_ps(out + 2 * i + 8, r2);
        _mm_storeu_ps(out + 2 * i + 12, r3);
    }
    for (; i + 2 <= count; i += 2)
        _mm_storeu_ps(out + 2 * i, f.map(_mm_loadu_ps(in + 2 * i)));
}

void boundsAffine2Sse(const float *m, const float *in, int count, float lo[2], float hi[2])
{
    const Affine2Sse f(m);
    __m128 vlo = _mm_set1_ps(FLT_MAX);
    __m128 vhi = _mm_set1_ps(-FLT_MAX);
    for (int i = 0; i + 2 <= count; i += 2) {
        const __m128 r = f.map(_mm_loadu_ps(in + 2 * i));
        vlo = runMin(r, vlo);
        vhi = runMax(r, vhi);
    }
    const __m128 flo = _mm_min_ps(vlo, _mm_movehl_ps(vlo, vlo));
    const __m128 fhi = _mm_max_ps(vhi, _mm_movehl_ps(vhi, vhi));
    lo[0] = _mm_cvtss_f32(flo);
    lo[1] = _mm_cvtss_f32(_mm_shuffle_ps(flo, flo, _MM_SHUFFLE(1, 1, 1, 1)));
    hi[0] = _mm_cvtss_f32(fhi);
    hi[1] = _mm_cvtss_f32(_mm_shuffle_ps(fhi, fhi, _MM_SHUFFLE(1, 1, 1, 1)));
}

// The 3D vector path works on four points at a time in structure-of-arrays form: the twelve floats
// are loaded as three registers, transposed to x, y and z of the four points, mapped lane by lane
// with the operations of mapFull3, transposed back and stored as three registers. Nothing outside
// the four points is read or written, and all twelve floats are read before any is written, so
// mapping in place is exact.
struct Matrix4Sse
{
    __m128 a[16];

    explicit Matrix4Sse(const float *m)
    {
        for (int i = 0; i < 16; ++i)
            a[i] = _mm_set1_ps(m[i]);
    }

    __m128 row(int r, __m128 x, __m128 y, __m128 z) const
    {
        return _mm_add_ps(
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(a[r], x), _mm_mul_ps(a[4 + r], y)), _mm_mul_ps(a[8 + r], z)),
            a[12 + r]);
    }
};

inline void load4(const float *p, __m128 &x, __m128 &y, __m128 &z)
{
    const __m128 r0 = _mm_loadu_ps(p);     // x0 y0 z0 x1
    const __m128 r1 = _mm_loadu_ps(p + 4); // y1 z1 x2 y2
    const __m128 r2 = _mm_loadu_ps(p + 8); // z2 x3 y3 z3
    const __m128 x23 = _mm_shuffle_ps(r1, r2, _MM_SHUFFLE(1, 1, 2, 2));
    x = _mm_shuffle_ps(r0, x23, _MM_SHUFFLE(2, 0, 3, 0));
    const __m128 y01 = _mm_shuffle_ps(r0, r1, _MM_SHUFFLE(0, 0, 1, 1));
    const __m128 y23 = _mm_shuffle_ps(r1, r2, _MM_SHUFFLE(2, 2, 3, 3));
    y = _mm_shuffle_ps(y01, y23, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 z01 = _mm_shuffle_ps(r0, r1, _MM_SHUFFLE(1, 1, 2, 2));
    z = _mm_shuffle_ps(z01, r2, _MM_SHUFFLE(3, 0, 2, 0));
}

inline void store4(float *p, __m128 x, __m128 y, __m128 z)
{
    const __m128 xy01 = _mm_shuffle_ps(x, y, _MM_SHUFFLE(1, 0, 1, 0));
    const __m128 zx01 = _mm_shuffle_ps(z, x, _MM_SHUFFLE(1, 1, 0, 0));
    const __m128 yz1 = _mm_shuffle_ps(y, z, _MM_SHUFFLE(1, 1, 1, 1));
    const __m128 xy2 = _mm_shuffle_ps(x, y, _MM_SHUFFLE(2, 2, 2, 2));
    const __m128 zx23 = _mm_shuffle_ps(z, x, _MM_SHUFFLE(3, 3, 2, 2));
    const __m128 yz3 = _mm_shuffle_ps(y, z, _MM_SHUFFLE(3, 3, 3, 3));
    _mm_storeu_ps(p, _mm_shuffle_ps(xy01, zx01, _MM_SHUFFLE(2, 0, 2, 0)));
    _mm_storeu_ps(p + 4, _mm_shuffle_ps(yz1, xy2, _MM_SHUFFLE(2, 0, 2, 0)));
    _mm_storeu_ps(p + 8, _mm_shuffle_ps(zx23, yz3, _MM_SHUFFLE(2, 0, 2, 0)));
}

// Maps the first count points (count a multiple of four); out may be null to compute bounds only.
// lo and hi, when given, receive the extremes of the mapped points (the start sentinels on an axis
// without a comparable value).
template <bool project, bool bounds>
void map3Sse(const float *m, const float *in, float *out, int count, float *lo, float *hi)
{
    const Matrix4Sse f(m);
    __m128 lx = _mm_set1_ps(FLT_MAX), ly = lx, lz = lx;
    __m128 hx = _mm_set1_ps(-FLT_MAX), hy = hx, hz = hx;
    for (int i = 0; i < count; i += 4) {
        __m128 x, y, z;
        load4(in + 3 * i, x, y, z);
        __m128 rx = f.row(0, x, y, z);
        __m128 ry = f.row(1, x, y, z);
        __m128 rz = f.row(2, x, y, z);
        if (project) {
            const __m128 w = f.row(3, x, y, z);
            rx = _mm_div_ps(rx, w);
            ry = _mm_div_ps(ry, w);
            rz = _mm_div_ps(rz, w);
        }
        if (out)
            store4(out + 3 * i, rx, ry, rz);
        if (bounds) {
            lx = runMin(rx, lx);
            ly = runMin(ry, ly);
            lz = runMin(rz, lz);
            hx = runMax(rx, hx);
            hy = runMax(ry, hy);
            hz = runMax(rz, hz);
        }
    }
    if (bounds) {
        lo[0] = foldMin(lx);
        lo[1] = foldMin(ly);
        lo[2] = foldMin(lz);
        hi[0] = foldMax(hx);
        hi[1] = foldMax(hy);
        hi[2] = foldMax(hz);
    }
}

// Points the 3D vector path takes: whole groups of four.
inline int vectorCount3(int n)
{
    return n & ~3;
}
// Points the 2D vector paths take: whole registers of two.
inline int vectorCount2(int n)
{
    return n & ~1;
}

void map3Vector(const float *m, bool project, const float *in, float *out, int count, float *lo, float *hi)
{
    const bool bounds = lo != nullptr;
    if (project)
        bounds ? map3Sse<true, true>(m, in, out, count, lo, hi)
               : map3Sse<true, false>(m, in, out, count, lo, hi);
    else
        bounds ? map3Sse<false, true>(m, in, out, count, lo, hi)
               : map3Sse<false, false>(m, in, out, count, lo, hi);
}

#else // no vector unit: everything takes the per-point paths

inline int vectorCount3(int)
{
    return 0;
}
inline int vectorCount2(int)
{
    return 0;
}
void map3Vector(const float *, bool, const float *, float *, int, float *, float *) {}
void mapAffine2Sse(const float *, const float *, float *, int) {}
void boundsAffine2Sse(const float *, const float *, int, float *, float *) {}

#endif

} // namespace

int transformType(const float (&m)[9])
{
    int type = Identity;
    if (!isZero(m[DX]) || !isZero(m[DY]))
        type |= Translate;
    if (!isOne(m[M11]) || !isOne(m[M22]))
        type |= Scale;
    if (!isZero(m[M12]) || !isZero(m[M21]))
        type |= Rotate;
    if (!isZero(m[M13]) || !isZero(m[M23]) || !isOne(m[M33]))
        type |= Project;
    return type;
}

int transformType(const float (&m)[16])
{
    int type = Identity;
    if (!isZero(m[12]) || !isZero(m[13]) || !isZero(m[14]))
        type |= Translate;
    if (!isOne(m[0]) || !isOne(m[5]) || !isOne(m[10]))
        type |= Scale;
    if (!isZero(m[1]) || !isZero(m[2]) || !isZero(m[4]) || !isZero(m[6]) || !isZero(m[8]) || !isZero(m[9]))
        type |= Rotate;
    if (!isZero(m[3]) || !isZero(m[7]) || !isZero(m[11]) || !isOne(m[15]))
        type |= Project;
    return type;
}

namespace {

// The float form of either matrix type, chosen by the size of out.
float *toFloat(float (&out)[9], const QTransform &t)
{
    return toFloat3x3(out, t);
}
float *toFloat(float (&out)[16], const QMatrix4x4 &m)
{
    return toFloat4x4(out, m);
}

// Identity when Qt already knows the matrix is the identity, else the classification of its N
// elements rounded to float.
template <int N, typename Matrix>
int classify(const Matrix &m)
{
    if (m.isIdentity())
        return Identity;
    float f[N];
    toFloat(f, m);
    return transformType(f);
}

// Grows the box by one mapped point of its dimension.
void grow(geom::Rectangle &box, const float *p)
{
    box.expand(geom::Vector2f(p[0], p[1]));
}
void grow(geom::Cuboid &box, const float *p)
{
    box.expand(geom::Vector3f(p[0], p[1], p[2]));
}

// Maps n points of D floats by the formula of the flags; out may be in.
template <int D, typename MapPoint>
void mapByType(const float *m, int type, const float *in, float *out, int n, MapPoint mapPoint)
{
    if (type == Identity) {
        if (out != in)
            std::memmove(out, in, size_t(n) * D * sizeof(float));
        return;
    }
    for (int i = 0; i < n; ++i)
        mapPoint(m, type, in + D * i, out + D * i);
}

// Maps points from..n-1 one at a time with mapOne(in, out): into out when given, and growing box
// (when given) by each; the per-point tail of the vector paths.
template <int D, typename Box, typename MapOne>
void mapEach(MapOne mapOne, const float *in, float *out, int from, int n, Box *box)
{
    for (int i = from; i < n; ++i) {
        float p[D];
        float *o = out ? out + D * i : p;
        mapOne(in + D * i, o);
        if (box)
            grow(*box, o);
    }
}

} // namespace

int transformType(const QMatrix4x4 &m)
{
    return classify<16>(m);
}

int transformType(const QTransform &t)
{
    return classify<9>(t);
}

bool isMirroring(const QMatrix4x4 &m)
{
    const float *a = m.constData();
    const QVector3D c0(a[0], a[1], a[2]);
    const QVector3D c1(a[4], a[5], a[6]);
    const QVector3D c2(a[8], a[9], a[10]);
    return QVector3D::dotProduct(QVector3D::crossProduct(c0, c1), c2) < 0.0f;
}

bool isDegenerate(const QMatrix4x4 &m)
{
    double largest = 0.0;
    for (int column = 0; column < 3; ++column) {
        const double x = m(0, column);
        const double y = m(1, column);
        const double z = m(2, column);
        largest = std::max(largest, std::sqrt(x * x + y * y + z * z));
    }
    const double det = float(m.determinant());
    return std::fabs(det) <= DegenerateFactor * largest * largest * largest;
}

float *toFloat3x3(float (&out)[9], const QTransform &t)
{
    out[M11] = float(t.m11());
    out[M12] = float(t.m12());
    out[M13] = float(t.m13());
    out[M21] = float(t.m21());
    out[M22] = float(t.m22());
    out[M23] = float(t.m23());
    out[DX] = float(t.m31());
    out[DY] = float(t.m32());
    out[M33] = float(t.m33());
    return out;
}

float *toFloat4x4(float (&out)[16], const QMatrix4x4 &m)
{
    std::memcpy(out, m.constData(), sizeof out);
    return out;
}

geom::Vector2f mapPoint2D(const geom::Vector2f &p, const QTransform &t, int type)
{
    if (type < 0)
        type = transformType(t);
    if (type == Identity)
        return p;
    float m[9];
    toFloat3x3(m, t);
    const float in[2] = {p.x, p.y};
    float out[2];
    mapPoint2(m, type, in, out);
    return geom::Vector2f(out[0], out[1]);
}

geom::Vector3f mapPoint3D(const geom::Vector3f &p, const QMatrix4x4 &m, int type)
{
    if (type < 0)
        type = transformType(m);
    if (type == Identity)
        return p;
    float a[16];
    toFloat4x4(a, m);
    const float in[3] = {p.x, p.y, p.z};
    float out[3];
    mapPoint3(a, type, in, out);
    return geom::Vector3f(out[0], out[1], out[2]);
}

float *map2DfScalar(float *out, const QTransform &t, const float *in, int n)
{
    if (!out || !in || n <= 0)
        return out;
    float m[9];
    toFloat3x3(m, t);
    mapByType<2>(m, transformType(m), in, out, n, mapPoint2);
    return out;
}

float *map2Df(float *out, const QTransform &t, const float *in, int n)
{
    if (!out || !in || n <= 0)
        return out;
    float m[9];
    toFloat3x3(m, t);
    if (transformType(m) & Project) {
        qCWarning(lcGeomCore, "utilTX:map2Df SSE Shear transform not implemented");
        return map2DfScalar(out, t, in, n);
    }
    const int k = vectorCount2(n);
    mapAffine2Sse(m, in, out, k);
    mapEach<2, geom::Rectangle>([&m](const float *p, float *o) { mapAffine2(m, p, o); }, in, out, k, n,
                                nullptr);
    return out;
}

geom::Rectangle mapBounds2Df(const QTransform &t, const float *xy, int n)
{
    geom::Rectangle r;
    if (!xy || n <= 0)
        return r;
    float m[9];
    toFloat3x3(m, t);
    if (transformType(m) & Project) {
        qCCritical(lcGeomCore, "utilTX:mapBounds2Df SSE Shear transform not implemented");
        return r;
    }
    const int k = vectorCount2(n);
    if (k > 0) {
        float lo[2], hi[2];
        boundsAffine2Sse(m, xy, k, lo, hi);
        r = geom::Rectangle(geom::Vector2f(lo[0], lo[1]), geom::Vector2f(hi[0], hi[1]));
    }
    mapEach<2>([&m](const float *p, float *o) { mapAffine2(m, p, o); }, xy, nullptr, k, n, &r);
    return r;
}

float *map3DfScalar(float *out, const QMatrix4x4 &m, const float *in, int n, geom::Cuboid *bounds)
{
    if (!out || !in || n <= 0)
        return out;
    float a[16];
    toFloat4x4(a, m);
    mapByType<3>(a, transformType(a), in, out, n, mapPoint3);
    if (bounds) {
        for (int i = 0; i < n; ++i)
            grow(*bounds, out + 3 * i);
    }
    return out;
}

float *map3Df(float *out, const QMatrix4x4 &m, const float *in, int n, geom::Cuboid *bounds)
{
    if (!out || !in || n <= 0)
        return out;
    float a[16];
    toFloat4x4(a, m);
    const bool project = transformType(a) & Project;
    const int k = vectorCount3(n);
    if (k > 0) {
        float lo[3], hi[3];
        map3Vector(a, project, in, out, k, bounds ? lo : nullptr, hi);
        if (bounds)
            growByExtremes(*bounds, lo, hi);
    }
    mapEach<3>([&a, project](const float *p, float *o) { mapFull3(a, project, p, o); }, in, out, k, n,
               bounds);
    return out;
}

geom::Cuboid mapBounds3Df(const QMatrix4x4 &m, const float *xyz, int n)
{
    geom::Cuboid box;
    if (!xyz || n <= 0)
        return box;
    float a[16];
    toFloat4x4(a, m);
    const bool project = transformType(a) & Project;
    const int k = vectorCount3(n);
    if (k > 0) {
        float lo[3], hi[3];
        map3Vector(a, project, xyz, nullptr, k, lo, hi);
        box = geom::Cuboid(geom::Vector3f(lo[0], lo[1], lo[2]), geom::Vector3f(hi[0], hi[1], hi[2]));
    }
    mapEach<3>([&a, project](const float *p, float *o) { mapFull3(a, project, p, o); }, xyz, nullptr, k, n,
               &box);
    return box;
}

} // namespace utilTX
