#include "geom/slicing/tessellator.h"
#include "geom/slicing/tessellator_p.h"

#include <QtDebug>

#include <cmath>
#include <limits>
#include <new>
#include <type_traits>

namespace geom {

namespace {

const GLdouble windingBase = GLU_TESS_WINDING_ODD;

// Casts a typed callback to GLU's untyped callback pointer.
template <typename F>
_GLUfuncptr callback(F f)
{
    return reinterpret_cast<_GLUfuncptr>(f);
}

void GLAPIENTRY noOpEnd(void *) {}
void GLAPIENTRY noOpEdgeFlag(GLboolean, void *) {}
void GLAPIENTRY fatalError(GLenum error, void *)
{
    qFatal("Tessellation error %d", int(error));
}

// A coordinate GLU accepts without an error: finite and within its limit.
inline bool usableCoordinate(double v)
{
    return std::isfinite(v) && std::fabs(v) <= GLU_TESS_MAX_COORD;
}

// A double that converts to T without overflow (truncation for int kinds).
template <typename T>
inline bool convertible(double v)
{
    if (!usableCoordinate(v))
        return false;
    if (std::is_integral<T>::value)
        return v > double(std::numeric_limits<int>::min()) - 1.0 &&
               v < double(std::numeric_limits<int>::max()) + 1.0;
    return std::is_same<T, double>::value || std::fabs(v) <= double(std::numeric_limits<float>::max());
}

// The nearest whole number with halves away from zero (std::round's rule), for int kinds; other
// kinds keep the value in their own type.
template <typename T>
inline T fromCombine(double v)
{
    if (std::is_integral<T>::value)
        return T(std::round(v));
    return T(v);
}

// Runs f with the traits of the kind; false for a kind outside 0-5.
template <typename F>
bool withKind(int kind, F &&f)
{
    switch (kind) {
    case Tessellator::Double2D:
        f(TessellatorTraits<double, 2>());
        return true;
    case Tessellator::Double3D:
        f(TessellatorTraits<double, 3>());
        return true;
    case Tessellator::Float2D:
        f(TessellatorTraits<float, 2>());
        return true;
    case Tessellator::Float3D:
        f(TessellatorTraits<float, 3>());
        return true;
    case Tessellator::Int2D:
        f(TessellatorTraits<int, 2>());
        return true;
    case Tessellator::Int3D:
        f(TessellatorTraits<int, 3>());
        return true;
    default:
        return false;
    }
}

} // namespace

// ---- traits ----

template <typename T, int N>
void TessellatorTraits<T, N>::install(Tessellator &t)
{
    GLUtesselator *tess = TessellatorPrivate::of(t)->tess;
    gluTessCallback(tess, GLU_TESS_BEGIN_DATA, callback(&beginCallback));
    gluTessCallback(tess, GLU_TESS_COMBINE_DATA, callback(&combineCallback));
    gluTessCallback(tess, GLU_TESS_VERTEX_DATA, callback(&vertexCallback));
}

template <typename T, int N>
bool TessellatorTraits<T, N>::usable(const Tessellator &t, const void *points, int count)
{
    if (N == 2 && !usableCoordinate(TessellatorPrivate::of(t)->z))
        return false;
    if (std::is_integral<T>::value)
        return true;
    const Vertex *p = static_cast<const Vertex *>(points);
    for (int i = 0; i < count; ++i)
        for (int k = 0; k < N; ++k)
            if (!usableCoordinate(double(p[i].v[k])))
                return false;
    return true;
}

template <typename T, int N>
void TessellatorTraits<T, N>::feed(Tessellator &t, const void *points, int count)
{
    if (count < 1) {
        feedReversed(t, points, -count);
        return;
    }
    TessellatorPrivate *d = TessellatorPrivate::of(t);
    const Vertex *p = static_cast<const Vertex *>(points);
    GLdouble xyz[3] = {0.0, 0.0, d->z};
    for (int i = 0; i < count; ++i) {
        for (int k = 0; k < N; ++k)
            xyz[k] = double(p[i].v[k]);
        gluTessVertex(d->tess, xyz, const_cast<Vertex *>(p + i));
    }
}

template <typename T, int N>
void TessellatorTraits<T, N>::feedReversed(Tessellator &t, const void *points, int count)
{
    TessellatorPrivate *d = TessellatorPrivate::of(t);
    const Vertex *p = static_cast<const Vertex *>(points);
    GLdouble xyz[3] = {0.0, 0.0, d->z};
    for (int i = count - 1; i >= 0; --i) {
        for (int k = 0; k < N; ++k)
            xyz[k] = double(p[i].v[k]);
        gluTessVertex(d->tess, xyz, const_cast<Vertex *>(p + i));
    }
}

template <typename T, int N>
void TessellatorTraits<T, N>::addVertex(Tessellator &t, const T *values)
{
    TessellatorPrivate *d = TessellatorPrivate::of(t);
    Vertex *stored = storeVertex(t, values);
    GLdouble xyz[3] = {0.0, 0.0, d->z};
    for (int k = 0; k < N; ++k)
        xyz[k] = double(stored->v[k]);
    gluTessVertex(d->tess, xyz, stored);
}

template <typename T, int N>
typename TessellatorTraits<T, N>::Vertex *TessellatorTraits<T, N>::storeVertex(Tessellator &t,
                                                                               const T *values)
{
    TessellatorPrivate *d = TessellatorPrivate::of(t);
    if (!d->vertexStore)
        d->vertexStore = new Store;
    Store *store = static_cast<Store *>(d->vertexStore);
    Vertex v;
    for (int k = 0; k < N; ++k)
        v.v[k] = values[k];
    store->push_back(v);
    return &store->back();
}

template <typename T, int N>
typename TessellatorTraits<T, N>::Vertex *TessellatorTraits<T, N>::combineVertex(Tessellator &t,
                                                                                 const double *coords)
{
    T values[N];
    for (int k = 0; k < N; ++k)
        values[k] = fromCombine<T>(coords[k]);
    return storeVertex(t, values);
}

template <typename T, int N>
void GLAPIENTRY TessellatorTraits<T, N>::beginCallback(GLenum type, void *polygonData)
{
    if (type != GL_TRIANGLES && type != GL_LINE_LOOP)
        qFatal("Unhandled OpenGL element %d", int(type));
    TessellatorPrivate::of(polygonData)->results.append(new Output);
}

template <typename T, int N>
void GLAPIENTRY TessellatorTraits<T, N>::vertexCallback(void *vertexData, void *polygonData)
{
    TessellatorPrivate *d = TessellatorPrivate::of(polygonData);
    if (d->results.isEmpty())
        d->results.append(new Output);
    Output *out = static_cast<Output *>(d->results.last());
    const Vertex *v = static_cast<const Vertex *>(vertexData);
    for (int k = 0; k < N; ++k)
        out->append(v->v[k]);
}

template <typename T, int N>
void GLAPIENTRY TessellatorTraits<T, N>::combineCallback(GLdouble coords[3], void *vertexData[4],
                                                         GLfloat weight[4], void **outData, void *polygonData)
{
    Tessellator *t = static_cast<Tessellator *>(polygonData);
    if (!TessellatorPrivate::of(polygonData)->reuseVertices) {
        *outData = combineVertex(*t, coords);
        return;
    }
    // note: GLU passes null for missing neighbours with weight 0, so the heaviest is never null
    // unless all weights are 0; ties go to the earlier candidate, the fourth first.
    int pick = weight[0] > weight[3] ? 0 : 3;
    if (weight[1] > weight[pick])
        pick = 1;
    if (weight[2] > weight[pick])
        pick = 2;
    void *chosen = vertexData[pick];
    if (!chosen) {
        for (int i = 0; i < 4 && !chosen; ++i)
            chosen = vertexData[i];
    }
    *outData = chosen ? chosen : combineVertex(*t, coords);
}

template <typename T, int N>
void TessellatorTraits<T, N>::clear(Tessellator &t)
{
    TessellatorPrivate *d = TessellatorPrivate::of(t);
    while (!d->results.isEmpty())
        delete static_cast<Output *>(d->results.takeFirst());
    delete static_cast<Store *>(d->vertexStore);
    d->vertexStore = nullptr;
}

template <typename T, int N>
QVector<const typename TessellatorTraits<T, N>::Output *>
TessellatorTraits<T, N>::results(const Tessellator &t)
{
    const TessellatorPrivate *d = TessellatorPrivate::of(t);
    QVector<const Output *> out;
    out.reserve(d->results.size());
    for (void *r : d->results)
        out.append(static_cast<const Output *>(r));
    return out;
}

template <typename T, int N>
QVector<typename TessellatorTraits<T, N>::Output *> TessellatorTraits<T, N>::results(Tessellator &t)
{
    const TessellatorPrivate *d = TessellatorPrivate::of(t);
    QVector<Output *> out;
    out.reserve(d->results.size());
    for (void *r : d->results)
        out.append(static_cast<Output *>(r));
    return out;
}

template <typename T, int N>
QVector<Facet> TessellatorTraits<T, N>::facets(const Tessellator &t)
{
    const TessellatorPrivate *d = TessellatorPrivate::of(t);
    QVector<Facet> out;
    if (d->state != Tessellator::Idle || t.boundaryOnly() || d->results.isEmpty())
        return out;
    const Output &values = *static_cast<const Output *>(d->results.first());
    const int triangles = values.size() / (3 * N);
    out.reserve(triangles);
    Vector3f normal(d->normal[0], d->normal[1], d->normal[2]);
    const float z = float(d->z);
    for (int i = 0; i < triangles; ++i) {
        Vector3f corner[3];
        for (int c = 0; c < 3; ++c) {
            const T *v = values.constData() + (3 * i + c) * N;
            corner[c] = Vector3f(float(v[0]), float(v[1]), N == 3 ? float(v[N - 1]) : z);
        }
        auto same = [](const Vector3f &a, const Vector3f &b) {
            return a.x == b.x && a.y == b.y && a.z == b.z;
        };
        if (same(corner[0], corner[1]) || same(corner[1], corner[2]) || same(corner[0], corner[2]))
            continue;
        const float flat = 1e-5f;
        if (std::fabs(normal.x) <= flat && std::fabs(normal.y) <= flat && std::fabs(normal.z) <= flat)
            normal = Facet(corner[0], corner[1], corner[2]).computedNormal();
        out.append(Facet(corner[0], corner[1], corner[2], normal));
    }
    return out;
}

template struct TessellatorTraits<double, 2>;
template struct TessellatorTraits<double, 3>;
template struct TessellatorTraits<float, 2>;
template struct TessellatorTraits<float, 3>;
template struct TessellatorTraits<int, 2>;
template struct TessellatorTraits<int, 3>;

// ---- the wrapper ----

Tessellator::Tessellator(int windingRule)
    : d(new TessellatorPrivate)
{
    d->tess = gluNewTess();
    if (!d->tess)
        throw std::bad_alloc();
    gluTessCallback(d->tess, GLU_TESS_END_DATA, callback(&noOpEnd));
    gluTessCallback(d->tess, GLU_TESS_ERROR_DATA, callback(&fatalError));
    setBoundaryOnly(false);
    setTolerance(0.0);
    setWindingRule(windingRule >= Odd && windingRule <= AbsGeqTwo ? windingRule : int(Positive));
}

Tessellator::~Tessellator()
{
    clear();
    gluDeleteTess(d->tess);
    delete d;
}

void Tessellator::setWindingRule(int rule)
{
    if (d->state != Idle || rule < Odd || rule > AbsGeqTwo)
        return;
    gluTessProperty(d->tess, GLU_TESS_WINDING_RULE, windingBase + rule);
}

int Tessellator::windingRule() const
{
    GLdouble value = 0.0;
    gluGetTessProperty(d->tess, GLU_TESS_WINDING_RULE, &value);
    return int(value) - int(windingBase);
}

void Tessellator::setBoundaryOnly(bool on)
{
    if (d->state != Idle)
        return;
    clear();
    gluTessProperty(d->tess, GLU_TESS_BOUNDARY_ONLY, on ? 1.0 : 0.0);
}

bool Tessellator::boundaryOnly() const
{
    GLdouble value = 0.0;
    gluGetTessProperty(d->tess, GLU_TESS_BOUNDARY_ONLY, &value);
    return value != 0.0;
}

void Tessellator::setTolerance(double t)
{
    if (d->state != Idle)
        return;
    // GLU rejects values outside [0, 1] through the (fatal) error callback.
    if (!(t > 0.0))
        t = 0.0;
    else if (t > 1.0)
        t = 1.0;
    gluTessProperty(d->tess, GLU_TESS_TOLERANCE, t);
}

double Tessellator::tolerance() const
{
    GLdouble value = 0.0;
    gluGetTessProperty(d->tess, GLU_TESS_TOLERANCE, &value);
    return value;
}

void Tessellator::setZ(double z)
{
    if (d->state == Idle)
        d->z = z;
}

double Tessellator::z() const
{
    return d->z;
}

void Tessellator::setReuseVertices(bool on)
{
    if (d->state != Idle)
        return;
    clear();
    d->reuseVertices = on;
}

bool Tessellator::reuseVertices() const
{
    return d->reuseVertices;
}

int Tessellator::state() const
{
    return d->state;
}

int Tessellator::kind() const
{
    return d->kind;
}

void Tessellator::beginPolygon(int kind, const double *normal)
{
    clear();
    withKind(kind, [this](auto traits) { traits.install(*this); });
    gluTessCallback(d->tess, GLU_TESS_EDGE_FLAG_DATA, boundaryOnly() ? nullptr : callback(&noOpEdgeFlag));
    if (normal) {
        for (int k = 0; k < 3; ++k)
            d->normal[k] = float(normal[k]);
        gluTessNormal(d->tess, normal[0], normal[1], normal[2]);
    } else {
        const bool spatial = (kind & 1) != 0;
        d->normal[0] = 0.0f;
        d->normal[1] = 0.0f;
        d->normal[2] = spatial ? 0.0f : 1.0f;
        gluTessNormal(d->tess, d->normal[0], d->normal[1], d->normal[2]);
    }
    gluTessBeginPolygon(d->tess, this);
    d->kind = kind;
    d->state = InPolygon;
}

void Tessellator::beginContour()
{
    if (d->state == Idle)
        return;
    if (d->state == InContour)
        endContour();
    gluTessBeginContour(d->tess);
    d->state = InContour;
}

void Tessellator::endContour()
{
    if (d->state != InContour)
        return;
    gluTessEndContour(d->tess);
    d->state = InPolygon;
}

void Tessellator::endPolygon()
{
    if (d->state == InContour)
        endContour();
    if (d->state != InPolygon)
        return;
    // Idle first: the callbacks run inside and may read the state.
    d->state = Idle;
    gluTessEndPolygon(d->tess);
}

void Tessellator::addContour(const void *points, int count)
{
    if (!points || d->state == Idle || std::abs(qint64(count)) < 3)
        return;
    const int n = count < 0 ? -count : count;
    bool ok = true;
    withKind(d->kind, [&](auto traits) { ok = traits.usable(*this, points, n); });
    if (!ok)
        return;
    const bool own = d->state == InPolygon;
    if (own)
        beginContour();
    withKind(d->kind, [&](auto traits) { traits.feed(*this, points, count); });
    if (own)
        endContour();
}

void Tessellator::addVertex(double x, double y, double z)
{
    if (d->state != InContour)
        return;
    const double in[3] = {x, y, z};
    withKind(d->kind, [&](auto traits) {
        using Traits = decltype(traits);
        using T = typename std::remove_reference<decltype(typename Traits::Vertex().v[0])>::type;
        constexpr int N = sizeof(typename Traits::Vertex) / sizeof(T);
        if (N == 2 && !usableCoordinate(d->z))
            return;
        T values[N];
        for (int k = 0; k < N; ++k) {
            if (!convertible<T>(in[k]))
                return;
            values[k] = T(in[k]);
        }
        traits.addVertex(*this, values);
    });
}

const QList<void *> &Tessellator::result()
{
    endPolygon();
    return d->results;
}

void Tessellator::clear()
{
    endPolygon();
    withKind(d->kind, [this](auto traits) { traits.clear(*this); });
}

QVector<Facet> Tessellator::facets() const
{
    QVector<Facet> out;
    withKind(d->kind, [&](auto traits) { out = traits.facets(*this); });
    return out;
}

// ---- operations without slices ----

QList<Facet> Tessellator::triangulate(const QList<QVector<Vector3f>> &contours, const Vector3f &normal)
{
    clear();
    setBoundaryOnly(false);
    const double n[3] = {normal.x, normal.y, normal.z};
    beginPolygon(Float3D, n);
    for (const QVector<Vector3f> &c : contours)
        addContour(c.constData(), c.size());
    endPolygon();
    QList<Facet> out;
    const auto views = TessellatorTraits<float, 3>::results(static_cast<const Tessellator &>(*this));
    if (views.isEmpty())
        return out;
    const QVector<float> &v = *views.first();
    const int triangles = v.size() / 9;
    out.reserve(triangles);
    for (int i = 0; i < triangles; ++i) {
        const float *p = v.constData() + 9 * i;
        out.append(Facet(Vector3f(p[0], p[1], p[2]), Vector3f(p[3], p[4], p[5]), Vector3f(p[6], p[7], p[8]),
                         normal));
    }
    return out;
}

QList<Facet> Tessellator::triangulate(const QVector<Vector3f> &contour, const Vector3f &normal)
{
    return triangulate(QList<QVector<Vector3f>>{contour}, normal);
}

namespace {

// The zig-zag over a convex ring: calls emit(apex, b, c) with point indices, count - 2 times.
template <typename F>
void convexZigZag(int count, F visit)
{
    int hi = count - 1;
    int lo = 2;
    bool alternate = false;
    while (lo <= hi) {
        const int apex = hi == count - 1 ? 0 : hi + 1;
        if (!alternate) {
            visit(apex, lo - 1, hi);
            --hi;
        } else {
            visit(apex, lo - 1, lo);
            ++lo;
        }
        alternate = !alternate;
    }
}

} // namespace

QVector<Vector3f> Tessellator::processConvexV(const Vector3f *points, int count)
{
    QVector<Vector3f> out;
    if (!points || count < 3)
        return out;
    try {
        out.resize(3 * (count - 2));
        Vector3f *w = out.data();
        convexZigZag(count, [&](int a, int b, int c) {
            *w++ = points[a];
            *w++ = points[b];
            *w++ = points[c];
        });
    } catch (const std::bad_alloc &) {
        qCritical("Tessellator:processConvexV Out of memory");
        out.clear();
    }
    return out;
}

QVector<Vector3f> Tessellator::processConvexV(const QVector<Vector3f> &points)
{
    return processConvexV(points.constData(), points.size());
}

QList<Facet> Tessellator::processConvex(const QVector<Vector3f> &points)
{
    QList<Facet> out;
    if (points.size() < 3)
        return out;
    out.reserve(points.size() - 2);
    convexZigZag(points.size(),
                 [&](int a, int b, int c) { out.append(Facet(points.at(a), points.at(b), points.at(c))); });
    return out;
}

QVector<Vector3f> Tessellator::stitchConvexV(const Vector3f *a, const Vector3f *b, int count)
{
    if (count < 3 || !b)
        return QVector<Vector3f>();
    if (!a)
        return processConvexV(b, count);
    auto collapses = [](const Vector3f *r) {
        const float e = 1e-5f;
        return std::fabs(r[0].x - r[1].x) <= e && std::fabs(r[0].y - r[1].y) <= e &&
               std::fabs(r[0].z - r[1].z) <= e;
    };
    QVector<Vector3f> out;
    try {
        if (collapses(a)) {
            out.reserve(3 * count);
            for (int i = 0; i < count; ++i)
                out << b[i] << a[0] << b[i == 0 ? count - 1 : i - 1];
        } else if (collapses(b)) {
            out.reserve(3 * count);
            for (int i = 0; i < count; ++i)
                out << a[i == 0 ? count - 1 : i - 1] << b[0] << a[i];
        } else {
            out.reserve(6 * count);
            for (int i = 0; i < count; ++i) {
                const int p = i == 0 ? count - 1 : i - 1;
                out << b[p] << b[i] << a[p];
                out << a[p] << b[i] << a[i];
            }
        }
    } catch (const std::bad_alloc &) {
        qCritical("Tessellator:stitchConvexV Out of memory");
        out.clear();
    }
    return out;
}

} // namespace geom
