#include "view/meshdisplaycache.h"

#include "geom/core/cuboid.h"
#include "geom/core/facet.h"
#include "geom/core/utiltx.h"
#include "geom/mesh/stlmesh.h"
#include "view/glscope.h"
#include "view/openglarray.h"

#include <QDataStream>
#include <QIODevice>
#include <QMap>
#include <QReadLocker>
#include <QReadWriteLock>
#include <QWriteLocker>
#include <QtDebug>
#include <climits>
#include <cmath>

namespace {

// Version of the cache stream that save writes; load reads 1 to 3.
constexpr qint32 StreamVersion = 3;
// A vertex of the cache's arrays: position and normal, three floats each.
constexpr int VertexBytes = 24;
constexpr int TriangleBytes = 3 * VertexBytes;
// note: a centre closer to the origin than this on every axis is left in place, so that a mesh the
// caller already centred is not copied for a rounding residue.
constexpr float CentreTolerance = 1e-5f;

bool offOrigin(const geom::Vector3f &c)
{
    return std::fabs(c.x) > CentreTolerance || std::fabs(c.y) > CentreTolerance ||
           std::fabs(c.z) > CentreTolerance;
}

// Sets the stream to the cache's byte order and precision and restores the caller's on leaving.
class StreamSettings
{
public:
    explicit StreamSettings(QDataStream &stream)
        : m_stream(stream)
        , m_order(stream.byteOrder())
        , m_precision(stream.floatingPointPrecision())
    {
        stream.setByteOrder(QDataStream::LittleEndian);
        stream.setFloatingPointPrecision(QDataStream::SinglePrecision);
    }
    ~StreamSettings()
    {
        m_stream.setByteOrder(m_order);
        m_stream.setFloatingPointPrecision(m_precision);
    }
    StreamSettings(const StreamSettings &) = delete;
    StreamSettings &operator=(const StreamSettings &) = delete;

private:
    QDataStream &m_stream;
    QDataStream::ByteOrder m_order;
    QDataStream::FloatingPointPrecision m_precision;
};

} // namespace

class MeshDisplayCachePrivate
{
public:
    // The context an array gets: the cache's when caching is on, taking the current valid context
    // the first time; none when caching is off.
    QGLContext *arrayContext();
    // Moves every array into target; arrays that cannot be read back from their buffers are
    // dropped (write lock).
    void moveArrays(QGLContext *target, const char *caller);
    // A recording of mode with bytes of staging reserved and its own error checking off; false when
    // the recording or the memory is refused.
    bool start(geom::OpenGLArray &array, GLenum mode, qint64 bytes);
    // Ends the array and stores it under key; value is the geometry's radius, kept when larger than
    // maxValue or, with replace, always. Returns the stored bytes or -1.
    qint64 finish(MeshDisplayCache *q, geom::OpenGLArray &array, int key, float value, bool replace = false);
    // Empties the map and forgets the context and the radius; the caller holds the write lock.
    void clearLocked();

    QReadWriteLock lock{QReadWriteLock::NonRecursive};
    QStringList glErrors;
    QGLContext *context = nullptr;
    QMap<int, geom::OpenGLArray> arrays;
    float maxValue = 0.0f;
    bool caching = true;
    bool checkErrors = true;
};

QGLContext *MeshDisplayCachePrivate::arrayContext()
{
    if (!caching)
        return nullptr;
    if (!context) {
        QGLContext *current = const_cast<QGLContext *>(QGLContext::currentContext());
        if (current && current->isValid())
            context = current;
    }
    return context;
}

void MeshDisplayCachePrivate::moveArrays(QGLContext *target, const char *caller)
{
    QWriteLocker locker(&lock);
    for (auto it = arrays.begin(); it != arrays.end();) {
        if (it.value().setContext(target)) {
            ++it;
        } else {
            qWarning("MeshDisplayCache.%s dropped array %d: its buffers could not be read back", caller,
                     it.key());
            it = arrays.erase(it);
        }
    }
}

bool MeshDisplayCachePrivate::start(geom::OpenGLArray &array, GLenum mode, qint64 bytes)
{
    if (!array.glBegin(mode))
        return false;
    array.setCheckErrors(false);
    if (bytes < 0 || !array.reserve(bytes)) {
        qCritical("MeshDisplayCache.update cannot reserve %lld bytes", bytes);
        array.clear();
        return false;
    }
    return true;
}

qint64 MeshDisplayCachePrivate::finish(MeshDisplayCache *q, geom::OpenGLArray &array, int key, float value,
                                       bool replace)
{
    if (!array.glEnd()) {
        q->collectGLErrors();
        return -1;
    }
    QWriteLocker locker(&lock);
    maxValue = replace ? value : std::max(value, maxValue);
    arrays.insert(key, array);
    return array.byteSize();
}

void MeshDisplayCachePrivate::clearLocked()
{
    arrays.clear();
    context = nullptr;
    maxValue = 0.0f;
}

MeshDisplayCache::MeshDisplayCache()
    : d(new MeshDisplayCachePrivate)
{}

MeshDisplayCache::~MeshDisplayCache()
{
    clear();
    delete d;
}

bool MeshDisplayCache::isCaching() const
{
    return d->caching;
}

void MeshDisplayCache::setCaching(bool on)
{
    if (d->caching == on)
        return;
    d->caching = on;
    d->moveArrays(d->arrayContext(), "setCaching");
}

bool MeshDisplayCache::checkErrors() const
{
    return d->checkErrors;
}

void MeshDisplayCache::setCheckErrors(bool on)
{
    d->checkErrors = on;
}

QGLContext *MeshDisplayCache::context() const
{
    return d->context;
}

void MeshDisplayCache::setContext(QGLContext *ctx)
{
    if (ctx == d->context)
        return;
    d->context = ctx;
    d->moveArrays(d->arrayContext(), "setContext");
}

float MeshDisplayCache::maxValue() const
{
    return d->maxValue;
}

bool MeshDisplayCache::isEmpty() const
{
    return d->arrays.isEmpty();
}

qint64 MeshDisplayCache::byteSize() const
{
    QReadLocker locker(&d->lock);
    qint64 bytes = 0;
    for (const geom::OpenGLArray &array : qAsConst(d->arrays))
        bytes += array.byteSize();
    return bytes;
}

void MeshDisplayCache::clear()
{
    QWriteLocker locker(&d->lock);
    d->clearLocked();
}

qint64 MeshDisplayCache::update(const geom::StlMesh *mesh, int key)
{
    if (!mesh)
        return -1;
    const geom::Vector3f c = mesh->bounds().center();
    const QVector<geom::Vector3f> &own = mesh->vertices();
    QVector<geom::Vector3f> moved;
    if (offOrigin(c)) {
        moved = own;
        QMatrix4x4 shift;
        shift.translate(-c.x, -c.y, -c.z);
        utilTX::map3Df(&moved.data()->x, shift, &moved.constData()->x, moved.size());
    }
    const QVector<geom::Vector3f> &vertices = moved.isEmpty() ? own : moved;
    const QVector<geom::IndexedFacet> &facets = mesh->indices();
    const quint32 vertexCount = quint32(vertices.size());

    geom::OpenGLArray array(d->arrayContext());
    if (!d->start(array, GL_TRIANGLES, qint64(facets.size()) * TriangleBytes))
        return -1;
    geom::IndexedFacet previous;
    previous.a = previous.b = previous.c = -1;
    for (int i = 0; i < facets.size(); ++i) {
        const geom::IndexedFacet &f = facets.at(i);
        if (quint32(f.a) >= vertexCount || quint32(f.b) >= vertexCount || quint32(f.c) >= vertexCount) {
            qCritical("MeshDisplayCache.update facet %d refers to a missing vertex", i);
            return -1;
        }
        const geom::Vector3f &p = vertices.at(f.a);
        const geom::Vector3f &q = vertices.at(f.b);
        const geom::Vector3f &r = vertices.at(f.c);
        geom::Vector3f n = geom::facetCross(p, q, r).normal();
        // note: a facet repeated with the same winding is drawn with the opposite normal, so that
        // a doubled (two-sided) wall is lit from both sides.
        if (geom::sameTriple(f, previous))
            n = -n;
        array.glNormal3fv(&n.x);
        const GLfloat corners[9] = {p.x, p.y, p.z, q.x, q.y, q.z, r.x, r.y, r.z};
        if (array.glVertex3fv(corners, 3) != 3) {
            qCritical("MeshDisplayCache.update no memory for facet %d", i);
            return -1;
        }
        previous = f;
    }
    return d->finish(this, array, key, float(mesh->radius()));
}

qint64 MeshDisplayCache::update(const QVector<geom::Facet> &facets, int key)
{
    geom::Cuboid box;
    for (const geom::Facet &f : facets) {
        for (const geom::Vector3f &v : f.vertex)
            box.expand(v);
    }
    const geom::Vector3f c = box.center();
    const geom::Vector3f shift = facets.isEmpty() || !offOrigin(c) ? geom::Vector3f() : c;

    geom::OpenGLArray array(d->arrayContext());
    if (!d->start(array, GL_TRIANGLES, qint64(facets.size()) * TriangleBytes))
        return -1;
    double r2 = 0.0;
    for (const geom::Facet &f : facets) {
        GLfloat corners[9];
        for (int k = 0; k < 3; ++k) {
            const geom::Vector3f v = f.vertex[k] - shift;
            corners[3 * k] = v.x;
            corners[3 * k + 1] = v.y;
            corners[3 * k + 2] = v.z;
            r2 = std::max(r2, double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
        }
        array.glNormal3fv(&f.normal.x);
        if (array.glVertex3fv(corners, 3) != 3) {
            qCritical("MeshDisplayCache.update no memory for %d facets", int(facets.size()));
            return -1;
        }
    }
    return d->finish(this, array, key, float(std::sqrt(r2)));
}

qint64 MeshDisplayCache::update(const LayerSet &layers, int key)
{
    const geom::Vector3f c = layers.bounds.center();
    const bool movePlane = std::fabs(c.x) > CentreTolerance || std::fabs(c.y) > CentreTolerance;
    const geom::Vector2f shift = movePlane ? geom::Vector2f(c.x, c.y) : geom::Vector2f();

    geom::OpenGLArray array(d->arrayContext());
    // A count beyond what 64 bits can size is refused like memory that cannot be had.
    const qint64 edges = qMax<qint64>(layers.edgeCount, 0);
    const qint64 bytes = edges > LLONG_MAX / (2 * VertexBytes) ? -1 : edges * 2 * VertexBytes;
    if (!d->start(array, GL_LINES, bytes))
        return -1;
    for (const geom::Slice &slice : layers.slices) {
        const float z = slice.z() - c.z;
        for (int i = slice.contourCount() - 1; i >= 0; --i) {
            const geom::Contour *contour = slice.contour(i);
            if (!contour || contour->pointCount() < 2)
                continue;
            const QVector<geom::Vector2f> &points = contour->points();
            geom::Vector2f prev = points.last() - shift;
            for (const geom::Vector2f &point : points) {
                const geom::Vector2f cur = point - shift;
                const geom::Vector3f n =
                    geom::withLength(geom::Vector3f(cur.y - prev.y, prev.x - cur.x, 0.0f), 1.0);
                array.glNormal3fv(&n.x);
                const GLfloat ends[6] = {prev.x, prev.y, z, cur.x, cur.y, z};
                if (array.glVertex3fv(ends, 2) != 2) {
                    qCritical("MeshDisplayCache.update no memory for the contours of key %d", key);
                    return -1;
                }
                prev = cur;
            }
        }
    }
    return d->finish(this, array, key, float(layers.radius), true);
}

void MeshDisplayCache::draw(const QList<QMatrix4x4> &matrices)
{
    QReadLocker locker(&d->lock);
    if (d->arrays.isEmpty())
        return;
    ::glEnableClientState(GL_VERTEX_ARRAY);
    ::glEnableClientState(GL_NORMAL_ARRAY);
    int i = 0;
    for (const geom::OpenGLArray &array : qAsConst(d->arrays)) {
        if (i < matrices.size()) {
            const QMatrix4x4 &m = matrices.at(i++);
            if (utilTX::isDegenerate(m))
                continue;
            QGL::PushMatrix push;
            QGL::glMultMatrix(m);
            array.glDrawArrays(array.mode(), 0, array.count());
        } else {
            array.glDrawArrays(array.mode(), 0, array.count());
        }
    }
    ::glDisableClientState(GL_NORMAL_ARRAY);
    ::glDisableClientState(GL_VERTEX_ARRAY);
    collectGLErrors();
}

void MeshDisplayCache::draw()
{
    draw(QList<QMatrix4x4>());
}

int MeshDisplayCache::collectGLErrors()
{
    if (!d->checkErrors)
        return 0;
    const QStringList errors = QGL::glErrors();
    d->glErrors.append(errors);
    if (d->glErrors.size() > MaxGLErrors)
        d->glErrors.erase(d->glErrors.begin(), d->glErrors.end() - MaxGLErrors);
    return errors.size();
}

QStringList MeshDisplayCache::takeGLErrors()
{
    QStringList errors;
    errors.swap(d->glErrors);
    return errors;
}

void MeshDisplayCache::swap(MeshDisplayCache &other)
{
    if (&other == this)
        return;
    QWriteLocker mine(&d->lock);
    QWriteLocker theirs(&other.d->lock);
    d->glErrors.swap(other.d->glErrors);
    std::swap(d->context, other.d->context);
    d->arrays.swap(other.d->arrays);
    std::swap(d->maxValue, other.d->maxValue);
    std::swap(d->caching, other.d->caching);
    std::swap(d->checkErrors, other.d->checkErrors);
}

bool MeshDisplayCache::save(QDataStream &stream) const
{
    QReadLocker locker(&d->lock);
    if (stream.status() != QDataStream::Ok || !stream.device() || !stream.device()->isWritable())
        return false;
    StreamSettings settings(stream);
    stream << StreamVersion << d->maxValue << qint32(d->arrays.size());
    for (auto it = d->arrays.constBegin(); it != d->arrays.constEnd() && stream.status() == QDataStream::Ok;
         ++it) {
        stream << qint32(it.key());
        it.value().save(stream);
    }
    return true;
}

namespace {

// Reads the entries of the older layouts (version 1: all under key 0, one recording; version 2: a
// key per entry) into arrays, recording each through the array's vertex calls.
bool readOlderEntries(QDataStream &stream, qint32 version, qint32 entries,
                      QMap<int, geom::OpenGLArray> &arrays)
{
    for (qint32 e = 0; e < entries && stream.status() == QDataStream::Ok; ++e) {
        qint32 key = 0;
        if (version == 2)
            stream >> key;
        qint32 mode = 0;
        qint32 groups = 0;
        stream >> mode >> groups;
        if (stream.status() != QDataStream::Ok)
            return false;
        if (mode < 0 || mode > GL_POLYGON || groups < 0 || groups % 2 != 0) {
            stream.setStatus(QDataStream::ReadCorruptData);
            return false;
        }
        geom::OpenGLArray &array = arrays[key];
        // A recording already open continues; its mode stays the first entry's.
        if (array.glBegin(GLenum(mode)))
            array.setCheckErrors(false);
        for (qint32 g = 0; g < groups / 2; ++g) {
            GLfloat position[3];
            GLfloat normal[3];
            stream >> position[0] >> position[1] >> position[2] >> normal[0] >> normal[1] >> normal[2];
            if (stream.status() != QDataStream::Ok)
                return false;
            array.glNormal3fv(normal);
            if (array.glVertex3fv(position) != 1) {
                stream.setStatus(QDataStream::ReadCorruptData);
                return false;
            }
        }
    }
    return stream.status() == QDataStream::Ok;
}

} // namespace

bool MeshDisplayCache::load(QDataStream &stream)
{
    QWriteLocker locker(&d->lock);
    d->clearLocked();
    if (stream.status() != QDataStream::Ok || !stream.device() || !stream.device()->isReadable())
        return false;
    StreamSettings settings(stream);
    qint32 version = 0;
    stream >> version;
    if (stream.status() != QDataStream::Ok || version < 1 || version > StreamVersion)
        return false;
    float maxValue = 0.0f;
    if (version == 1) {
        double wide = 0.0;
        stream >> wide;
        maxValue = float(wide);
    } else {
        stream >> maxValue;
    }
    qint32 entries = 0;
    stream >> entries;
    if (stream.status() == QDataStream::Ok && entries < 0)
        stream.setStatus(QDataStream::ReadCorruptData);

    bool ok = true;
    if (version == StreamVersion) {
        for (qint32 e = 0; e < entries && stream.status() == QDataStream::Ok; ++e) {
            qint32 key = 0;
            stream >> key;
            if (stream.status() != QDataStream::Ok)
                break;
            geom::OpenGLArray &array = d->arrays[key];
            array.setContext(d->arrayContext());
            array.load(stream);
        }
        ok = stream.status() == QDataStream::Ok;
    } else {
        ok = readOlderEntries(stream, version, entries, d->arrays);
        QGLContext *target = d->arrayContext();
        for (auto it = d->arrays.begin(); ok && it != d->arrays.end();) {
            if (it.value().count() == 0) {
                it = d->arrays.erase(it);
                continue;
            }
            it.value().setContext(target);
            ok = it.value().glEnd();
            ++it;
        }
    }
    if (!ok) {
        d->clearLocked();
        return false;
    }
    d->maxValue = maxValue;
    return true;
}
