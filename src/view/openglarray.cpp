#include "view/openglarray.h"

#include "view/glscope.h"
#include "view/openglarray_p.h"

#include <QDataStream>
#include <QIODevice>
#include <QtDebug>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace geom {

namespace {

// Version of the array record that save writes; load also reads version 1.
constexpr qint8 RecordVersion = 2;
// note: a record's vertex bytes are read in pieces of this size, so that the staging grows only
// as far as bytes actually arrive and no count from the stream sizes an allocation by itself.
constexpr qint64 LoadPiece = 16 * 1024 * 1024;

constexpr int ColorBytes = 4;
constexpr int EdgeFlagBytes = 1;
constexpr int NormalFloats = 3;

// Vertices per primitive of mode for the chunk cut; 0 when the whole array is one primitive.
int verticesPerPrimitive(GLenum mode)
{
    switch (mode) {
    case GL_POINTS:
        return 1;
    case GL_LINES:
        return 2;
    case GL_TRIANGLES:
        return 3;
    case GL_QUADS:
        return 4;
    default:
        return 0;
    }
}

const GLvoid *bufferOffset(qint64 offset)
{
    return reinterpret_cast<const GLvoid *>(static_cast<quintptr>(offset));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The staging buffer

VertexStaging::~VertexStaging()
{
    std::free(m_data);
}

bool VertexStaging::reserve(qint64 bytes)
{
    if (bytes <= m_capacity)
        return true;
    if (bytes < 0 || quint64(bytes) > quint64(SIZE_MAX))
        return false;
    void *grown = std::realloc(m_data, size_t(bytes));
    if (!grown)
        return false;
    m_data = static_cast<char *>(grown);
    m_capacity = bytes;
    return true;
}

bool VertexStaging::grow(qint64 bytes)
{
    if (bytes < 0)
        return false;
    if (bytes > m_capacity) {
        // note: doubling keeps appends amortised constant; when the doubled block cannot be had the
        // exact size may still fit.
        const qint64 doubled = m_capacity > LLONG_MAX / 2 ? LLONG_MAX : m_capacity * 2;
        if (!reserve(std::max(bytes, doubled)) && !reserve(bytes))
            return false;
    }
    m_size = bytes;
    return true;
}

bool VertexStaging::resize(qint64 bytes)
{
    const qint64 old = m_size;
    if (!grow(bytes))
        return false;
    if (bytes > old)
        std::memset(m_data + old, 0, size_t(bytes - old));
    return true;
}

// ---------------------------------------------------------------------------------------------
// The private record

OpenGLArrayPrivate::OpenGLArrayPrivate(QGLContext *ctx)
    : context(ctx)
{}

OpenGLArrayPrivate::~OpenGLArrayPrivate()
{
    releaseChunks();
}

int OpenGLArrayPrivate::stride() const
{
    int bytes = int(sizeof(GLfloat)) * vertexSize();
    if (attributes & OpenGLArray::NormalOn)
        bytes += int(sizeof(GLfloat)) * NormalFloats;
    if (attributes & OpenGLArray::ColorOn)
        bytes += ColorBytes;
    if (attributes & OpenGLArray::EdgeFlagOn)
        bytes += EdgeFlagBytes;
    return bytes;
}

bool OpenGLArrayPrivate::anyBuffer() const
{
    for (const OpenGLArrayChunk &chunk : chunks) {
        if (chunk.buffer.isCreated())
            return true;
    }
    return false;
}

void OpenGLArrayPrivate::makeOwnContextCurrent() const
{
    // note: a buffer object is only created while its context lives (the context group invalidates
    // it when the context goes), so testing the buffers first keeps a stale context pointer from
    // being touched.
    if (!context || !anyBuffer())
        return;
    const QGLContext *current = QGLContext::currentContext();
    if (current != context && (!current || !QGLContext::areSharing(current, context)))
        context->makeCurrent();
}

void OpenGLArrayPrivate::releaseChunks()
{
    makeOwnContextCurrent();
    for (OpenGLArrayChunk &chunk : chunks)
        chunk.buffer.destroy();
    chunks.clear();
}

void OpenGLArrayPrivate::cutChunks()
{
    const qint64 bytes = byteSize();
    const int perPrimitive = verticesPerPrimitive(mode);
    const qint64 unit = qint64(stride()) * (perPrimitive > 0 ? perPrimitive : count);
    const qint64 piece = unit > 0 ? std::max(unit, qint64(chunkSize)) / unit * unit : bytes;
    for (qint64 offset = 0; offset < bytes; offset += piece) {
        OpenGLArrayChunk chunk;
        chunk.offset = offset;
        chunk.bytes = std::min(piece, bytes - offset);
        chunk.buffer.setUsagePattern(QGLBuffer::StaticCopy);
        chunks.append(chunk);
    }
}

void OpenGLArrayPrivate::drainErrors() const
{
    if (checkErrors)
        QGL::glErrors();
}

void OpenGLArrayPrivate::reportErrors(const char *what, int chunk) const
{
    if (!checkErrors)
        return;
    const QStringList errors = QGL::glErrors();
    for (const QString &error : errors)
        qCritical("OpenGLArray[ %p ].chunks[ %d ].%s error %s", static_cast<const void *>(this), chunk, what,
                  qPrintable(error));
}

bool OpenGLArrayPrivate::download()
{
    const bool readBack = staging.size() < byteSize();
    if (readBack && !staging.resize(byteSize())) {
        // Nothing is touched: the data stay in their buffer objects.
        qCritical("OpenGLArray[ %p ].setContext no memory for %lld bytes", static_cast<const void *>(this),
                  byteSize());
        return false;
    }
    makeOwnContextCurrent();
    bool ok = true;
    for (int i = 0; i < chunks.size(); ++i) {
        OpenGLArrayChunk &chunk = chunks[i];
        if (!chunk.buffer.isCreated()) {
            // A buffer gone with its context took the only copy of the chunk.
            if (!chunk.inClient)
                ok = false;
            continue;
        }
        if (!chunk.inClient) {
            drainErrors();
            QGL::BufferBinder binder(&chunk.buffer);
            if (binder.buffer() && chunk.buffer.read(0, staging.data() + chunk.offset, int(chunk.bytes)))
                chunk.inClient = true;
            else
                ok = false;
        }
        chunk.buffer.destroy();
        reportErrors("destroy()", i);
    }
    return ok;
}

void OpenGLArrayPrivate::upload()
{
    const QGLContext *current = QGLContext::currentContext();
    if (current != context && (!current || !QGLContext::areSharing(current, context)))
        context->makeCurrent();
    drainErrors();
    bool all = true;
    for (int i = 0; i < chunks.size(); ++i) {
        OpenGLArrayChunk &chunk = chunks[i];
        bool ok = chunk.inClient && chunk.bytes <= INT_MAX && chunk.buffer.create();
        if (ok) {
            QGL::BufferBinder binder(&chunk.buffer);
            ok = binder.buffer() != nullptr;
            if (ok) {
                chunk.buffer.allocate(staging.data() + chunk.offset, int(chunk.bytes));
                if (checkErrors && glGetError() != GL_NO_ERROR)
                    ok = false;
                if (chunk.buffer.size() < chunk.bytes)
                    ok = false;
            }
        }
        if (!ok) {
            chunk.buffer.destroy();
            reportErrors("create()", i);
            all = false;
        }
    }
    if (!all)
        return;
    staging.empty();
    for (OpenGLArrayChunk &chunk : chunks)
        chunk.inClient = false;
}

// ---------------------------------------------------------------------------------------------
// The handle

OpenGLArray::OpenGLArray(QGLContext *context)
    : d(new OpenGLArrayPrivate(context))
{}

OpenGLArray::OpenGLArray(const OpenGLArray &other) = default;
OpenGLArray &OpenGLArray::operator=(const OpenGLArray &other) = default;
OpenGLArray::~OpenGLArray() = default;

bool OpenGLArray::glBegin(GLenum mode)
{
    if ((d->count >= 0 && d->chunks.isEmpty()) || mode > GL_POLYGON)
        return false;
    d->releaseChunks();
    d->staging.empty();
    d->mode = quint8(mode);
    d->count = 0;
    return true;
}

namespace {

// True when a setter may switch a field: no vertex of an open recording was emitted yet.
bool maySwitch(const OpenGLArrayPrivate &d)
{
    return !(d.chunks.isEmpty() && d.count > 0);
}

} // namespace

void OpenGLArray::glNormal3fv(const GLfloat *n)
{
    const bool on = d->attributes & NormalOn;
    if (on != (n != nullptr) && !maySwitch(*d)) {
        qCritical("OpenGLArray.glNormal3fv cannot toggle normal after a vertex is emitted");
        return;
    }
    if (n) {
        std::memcpy(d->normal, n, sizeof d->normal);
        d->attributes |= NormalOn;
    } else {
        d->attributes &= ~NormalOn;
    }
}

void OpenGLArray::glColor4ubv(const GLubyte *c)
{
    const bool on = d->attributes & ColorOn;
    if (on != (c != nullptr) && !maySwitch(*d)) {
        qCritical("OpenGLArray.glColor4ubv cannot toggle colour after a vertex is emitted");
        return;
    }
    if (c) {
        std::memcpy(d->color, c, sizeof d->color);
        d->attributes |= ColorOn;
    } else {
        d->attributes &= ~ColorOn;
    }
}

void OpenGLArray::glEdgeFlag(GLboolean flag)
{
    const bool on = d->attributes & EdgeFlagOn;
    const bool valid = flag == GL_FALSE || flag == GL_TRUE;
    if (on != valid && !maySwitch(*d)) {
        qCritical("OpenGLArray.glEdgeFlag cannot toggle edge flag after a vertex is emitted");
        return;
    }
    if (valid) {
        d->edgeFlag = flag;
        d->attributes |= EdgeFlagOn;
    } else {
        d->attributes &= ~EdgeFlagOn;
    }
}

int OpenGLArray::appendVertices(const GLfloat *v, int n, int size)
{
    if (d->count < 0 || !d->chunks.isEmpty())
        return -2;
    if (n < 1 || !v)
        return 0;
    if (d->vertexSize() == 0)
        d->attributes = quint16((d->attributes & ~VertexSizeMask) | size);
    // note: the size is fixed per array; a call of another arity writes its first floats and leaves
    // the rest of the position zero, so the layout never changes under the recorded vertices.
    const int vertexFloats = d->vertexSize();
    const int stride = d->stride();
    if (qint64(d->count) + n > INT_MAX)
        return -1;
    const qint64 start = qint64(d->count) * stride;
    // Every byte of the new records is written below, so the staging grows without zero-filling.
    if (!d->staging.grow(start + qint64(n) * stride))
        return -1;
    const int given = std::min(size, vertexFloats);
    const bool normal = d->attributes & NormalOn;
    const bool color = d->attributes & ColorOn;
    const bool edgeFlag = d->attributes & EdgeFlagOn;
    char *out = d->staging.data() + start;
    for (int i = 0; i < n; ++i, v += size) {
        GLfloat position[4] = {0, 0, 0, 0};
        std::memcpy(position, v, sizeof(GLfloat) * size_t(given));
        std::memcpy(out, position, sizeof(GLfloat) * size_t(vertexFloats));
        out += sizeof(GLfloat) * vertexFloats;
        if (normal) {
            std::memcpy(out, d->normal, sizeof d->normal);
            out += sizeof d->normal;
        }
        if (color) {
            std::memcpy(out, d->color, sizeof d->color);
            out += sizeof d->color;
        }
        if (edgeFlag)
            *out++ = char(d->edgeFlag);
    }
    d->count += n;
    return n;
}

int OpenGLArray::glVertex2fv(const GLfloat *v, int n)
{
    return appendVertices(v, n, 2);
}

int OpenGLArray::glVertex3fv(const GLfloat *v, int n)
{
    return appendVertices(v, n, 3);
}

int OpenGLArray::glVertex4fv(const GLfloat *v, int n)
{
    return appendVertices(v, n, 4);
}

int OpenGLArray::glVertex2dv(const GLdouble *v, int n)
{
    if (n < 1 || !v)
        return d->count < 0 || !d->chunks.isEmpty() ? -2 : 0;
    QVector<GLfloat> floats;
    try {
        floats.resize(2 * n);
    } catch (const std::bad_alloc &) {
        return -1;
    }
    for (int i = 0; i < 2 * n; ++i)
        floats[i] = GLfloat(v[i]);
    return appendVertices(floats.constData(), n, 2);
}

bool OpenGLArray::glEnd()
{
    if (d->count < 0 || !d->chunks.isEmpty())
        return false;
    if (d->count == 0) {
        d->count = -1;
        return true;
    }
    d->cutChunks();
    if (!d->context)
        return true;
    QGLContext *ctx = d->context;
    d->context = nullptr;
    return setContext(ctx);
}

void OpenGLArray::glDrawArrays(GLenum mode, int first, int count) const
{
    if (d->count >= 0 && d->chunks.isEmpty()) {
        qCritical("OpenGLArray.glDrawArrays called within glBegin and glEnd");
        return;
    }
    if (count < 1 || d->chunks.isEmpty())
        return;
    d->makeOwnContextCurrent();
    const qint64 stride = d->stride();
    const qint64 end = qint64(first) + count;
    const void *self = d.data();
    for (int i = 0; i < d->chunks.size(); ++i) {
        OpenGLArrayChunk &chunk = d->chunks[i];
        const qint64 s = chunk.offset / stride;
        const qint64 n = chunk.bytes / stride;
        if (s + n <= first || s >= end)
            continue;
        const char *base = nullptr;
        bool bound = false;
        if (chunk.buffer.isCreated()) {
            bound = chunk.buffer.bind();
            if (!bound) {
                if (chunk.inClient) {
                    base = d->staging.data() + chunk.offset;
                    qWarning("OpenGLArray[ %p ].chunks[ %d ].bind() failed, using data %p", self, i,
                             static_cast<const void *>(base));
                } else {
                    qCritical("OpenGLArray[ %p ].chunks[ %d ].bind() failed, skipping", self, i);
                    continue;
                }
            }
        } else if (chunk.inClient) {
            base = d->staging.data() + chunk.offset;
        } else {
            qCritical("OpenGLArray[ %p ].chunks[ %d ].data is null", self, i);
            continue;
        }
        const char *p = bound ? static_cast<const char *>(bufferOffset(0)) : base;
        const int vertexSize = d->vertexSize();
        ::glVertexPointer(vertexSize, GL_FLOAT, GLsizei(stride), p);
        p += sizeof(GLfloat) * vertexSize;
        if (d->attributes & NormalOn) {
            ::glNormalPointer(GL_FLOAT, GLsizei(stride), p);
            p += sizeof(GLfloat) * NormalFloats;
        }
        if (d->attributes & ColorOn) {
            ::glColorPointer(ColorBytes, GL_UNSIGNED_BYTE, GLsizei(stride), p);
            p += ColorBytes;
        }
        if (d->attributes & EdgeFlagOn)
            ::glEdgeFlagPointer(GLsizei(stride), p);
        const qint64 from = std::max(qint64(first), s);
        const qint64 to = std::min(end, s + n);
        ::glDrawArrays(mode, GLint(from - s), GLsizei(to - from));
        if (bound)
            chunk.buffer.release();
    }
}

void OpenGLArray::enableClientStates() const
{
    ::glEnableClientState(GL_VERTEX_ARRAY);
    if (d->attributes & NormalOn)
        ::glEnableClientState(GL_NORMAL_ARRAY);
    if (d->attributes & ColorOn)
        ::glEnableClientState(GL_COLOR_ARRAY);
    if (d->attributes & EdgeFlagOn)
        ::glEnableClientState(GL_EDGE_FLAG_ARRAY);
}

void OpenGLArray::disableClientStates() const
{
    ::glDisableClientState(GL_VERTEX_ARRAY);
    if (d->attributes & NormalOn)
        ::glDisableClientState(GL_NORMAL_ARRAY);
    if (d->attributes & ColorOn)
        ::glDisableClientState(GL_COLOR_ARRAY);
    if (d->attributes & EdgeFlagOn)
        ::glDisableClientState(GL_EDGE_FLAG_ARRAY);
}

bool OpenGLArray::setContext(QGLContext *ctx)
{
    if (ctx == d->context)
        return true;
    if (d->chunks.isEmpty()) {
        d->context = ctx;
        return true;
    }
    const bool ok = d->download();
    if (!ok && d->staging.size() < d->byteSize())
        return false;
    d->context = ctx;
    if (ctx)
        d->upload();
    return ok;
}

QGLContext *OpenGLArray::context() const
{
    return d->context;
}

int OpenGLArray::count() const
{
    return qMax(d->count, 0);
}

GLenum OpenGLArray::mode() const
{
    return d->mode;
}

int OpenGLArray::stride() const
{
    return d->stride();
}

qint64 OpenGLArray::byteSize() const
{
    return d->byteSize();
}

int OpenGLArray::attributes() const
{
    return d->attributes;
}

int OpenGLArray::chunkSize() const
{
    return d->chunkSize;
}

void OpenGLArray::setChunkSize(int bytes)
{
    d->chunkSize = bytes < 0 ? DefaultChunkSize : bytes;
}

bool OpenGLArray::checkErrors() const
{
    return d->checkErrors;
}

void OpenGLArray::setCheckErrors(bool on)
{
    d->checkErrors = on;
}

QVector<qint64> OpenGLArray::chunkByteSizes() const
{
    QVector<qint64> sizes;
    for (const OpenGLArrayChunk &chunk : d->chunks)
        sizes.append(chunk.bytes);
    return sizes;
}

bool OpenGLArray::reserve(qint64 bytes)
{
    return d->staging.reserve(bytes);
}

qint64 OpenGLArray::reservedSize() const
{
    return d->staging.capacity();
}

QVector4D OpenGLArray::at(int index) const
{
    float xyzw[4] = {0, 0, 0, 0};
    if (index < 0 || index >= d->count)
        return QVector4D();
    const int stride = d->stride();
    const qint64 offset = qint64(index) * stride;
    const size_t bytes = sizeof(GLfloat) * size_t(d->vertexSize());
    int chunkIndex = -1;
    for (int i = 0; i < d->chunks.size(); ++i) {
        const OpenGLArrayChunk &chunk = d->chunks.at(i);
        if (offset >= chunk.offset && offset < chunk.offset + chunk.bytes) {
            chunkIndex = i;
            break;
        }
    }
    if (chunkIndex < 0 || d->chunks.at(chunkIndex).inClient) {
        if (offset + qint64(bytes) <= d->staging.size())
            std::memcpy(xyzw, d->staging.data() + offset, bytes);
        return QVector4D(xyzw[0], xyzw[1], xyzw[2], xyzw[3]);
    }
    OpenGLArrayChunk &chunk = d->chunks[chunkIndex];
    const qint64 within = offset - chunk.offset;
    if (d->context && chunk.buffer.isCreated()) {
        const QGLContext *current = QGLContext::currentContext();
        if (current != d->context && (!current || !QGLContext::areSharing(current, d->context)))
            d->context->makeCurrent();
    }
    QGL::BufferBinder binder(&chunk.buffer);
    if (!binder.buffer() || !chunk.buffer.read(int(within), xyzw, int(bytes)))
        qCritical("OpenGLArray[ %p ].at( %d ) failed QGLBuffer.read", static_cast<const void *>(d.data()),
                  int(within / stride));
    return QVector4D(xyzw[0], xyzw[1], xyzw[2], xyzw[3]);
}

QVector4D OpenGLArray::first() const
{
    return at(0);
}

QVector4D OpenGLArray::last() const
{
    return at(count() - 1);
}

void OpenGLArray::clear()
{
    d->releaseChunks();
    d->staging.empty();
    d->count = -1;
    d->attributes = 0;
}

bool OpenGLArray::save(QDataStream &stream) const
{
    if (stream.status() != QDataStream::Ok)
        return false;
    stream << qint8(RecordVersion) << qint8(d->mode) << qint16(d->attributes) << qint32(d->count);
    QIODevice *device = stream.device();
    if (stream.status() != QDataStream::Ok || !device)
        return stream.status() == QDataStream::Ok;
    if (d->staging.size() >= d->byteSize()) {
        const qint64 bytes = d->byteSize();
        if (bytes > 0 && device->write(d->staging.data(), bytes) != bytes)
            stream.setStatus(QDataStream::WriteFailed);
        return stream.status() == QDataStream::Ok;
    }
    d->makeOwnContextCurrent();
    for (int i = 0; i < d->chunks.size() && stream.status() == QDataStream::Ok; ++i) {
        OpenGLArrayChunk &chunk = d->chunks[i];
        d->drainErrors();
        QGL::ReadOnlyBufferMapper mapper(&chunk.buffer);
        const char *data = static_cast<const char *>(mapper.address());
        if (!data || device->write(data, chunk.bytes) != chunk.bytes) {
            stream.setStatus(QDataStream::WriteFailed);
            if (d->checkErrors) {
                const QStringList errors = QGL::glErrors();
                for (const QString &error : errors)
                    qCritical("OpenGLArray[ %p ].save( %p ).chunks[ %d ] OpenGL error %s",
                              static_cast<const void *>(d.data()), static_cast<const void *>(&stream), i,
                              qPrintable(error));
            }
        }
    }
    return stream.status() == QDataStream::Ok;
}

bool OpenGLArray::load(QDataStream &stream)
{
    if (stream.status() != QDataStream::Ok)
        return false;
    qint8 version = 0;
    qint8 mode = 0;
    qint16 attributes = 0;
    qint32 count = 0;
    stream >> version;
    if (stream.status() != QDataStream::Ok)
        return false;
    if (version != 1 && version != RecordVersion) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return false;
    }
    stream >> mode >> attributes >> count;
    qint64 declared = -1;
    if (version == 1)
        stream >> declared;
    if (stream.status() != QDataStream::Ok)
        return false;

    QExplicitlySharedDataPointer<OpenGLArrayPrivate> record(new OpenGLArrayPrivate(d->context));
    record->attributes = quint16(attributes);
    record->mode = quint8(mode);
    record->count = count;
    const int vertexSize = record->vertexSize();
    const int colorBits = attributes & ColorOn;
    const bool wellFormed = quint8(mode) <= GL_POLYGON &&
                            (attributes & ~(VertexSizeMask | NormalOn | ColorOn | EdgeFlagOn)) == 0 &&
                            (colorBits == 0 || colorBits == ColorOn) &&
                            (vertexSize == 0 || (vertexSize >= 2 && vertexSize <= 4)) && count >= -1 &&
                            !(count > 0 && vertexSize == 0);
    const qint64 bytes = record->byteSize();
    if (!wellFormed || (version == 1 && declared != bytes)) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return false;
    }
    if (bytes <= 0)
        return true;
    QIODevice *device = stream.device();
    while (record->staging.size() < bytes) {
        const qint64 at = record->staging.size();
        const qint64 piece = std::min(LoadPiece, bytes - at);
        if (!record->staging.resize(at + piece)) {
            qCritical("OpenGLArray.load no memory for %lld bytes", bytes);
            stream.setStatus(QDataStream::ReadCorruptData);
            return false;
        }
        if (!device || device->read(record->staging.data() + at, piece) != piece) {
            stream.setStatus(QDataStream::ReadPastEnd);
            return false;
        }
    }
    d = record;
    QGLContext *ctx = d->context;
    d->context = nullptr;
    d->cutChunks();
    if (ctx)
        setContext(ctx);
    return stream.status() == QDataStream::Ok;
}

} // namespace geom
