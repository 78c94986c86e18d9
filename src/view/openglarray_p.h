#pragma once

#include "view/openglarray.h"

#include <QGLBuffer>
#include <QList>
#include <QSharedData>

namespace geom {

// The growable byte buffer that holds the recorded vertex records. Sizes are 64-bit; growth fails
// cleanly (false, contents kept) when the memory cannot be had.
class VertexStaging
{
public:
    VertexStaging() = default;
    ~VertexStaging();
    VertexStaging(const VertexStaging &) = delete;
    VertexStaging &operator=(const VertexStaging &) = delete;

    char *data() const { return m_data; }
    qint64 size() const { return m_size; }
    qint64 capacity() const { return m_capacity; }
    // Capacity at least bytes; contents kept.
    bool reserve(qint64 bytes);
    // Size bytes; new bytes are zero. Grows the capacity geometrically when needed.
    bool resize(qint64 bytes);
    // As resize, leaving new bytes for the caller to write.
    bool grow(qint64 bytes);
    // Size 0, capacity kept.
    void empty() { m_size = 0; }

private:
    char *m_data = nullptr;
    qint64 m_size = 0;
    qint64 m_capacity = 0;
};

// One piece of an ended array: whole primitives, at offset in the staging. inClient says whether the
// staging holds its bytes (the buffer object may hold them too while an upload is under way).
struct OpenGLArrayChunk
{
    qint64 offset = 0;
    qint64 bytes = 0;
    bool inClient = true;
    QGLBuffer buffer{QGLBuffer::VertexBuffer};
};

class OpenGLArrayPrivate : public QSharedData
{
public:
    explicit OpenGLArrayPrivate(QGLContext *ctx);
    ~OpenGLArrayPrivate();

    int vertexSize() const { return attributes & OpenGLArray::VertexSizeMask; }
    int stride() const;
    qint64 byteSize() const { return qint64(qMax(count, 0)) * stride(); }
    bool anyBuffer() const;
    // Makes context current when some chunk has a buffer object and the current context does not
    // share with it.
    void makeOwnContextCurrent() const;
    // Destroys every chunk's buffer (in its own context) and drops the chunks.
    void releaseChunks();
    // Cuts the staging into chunks of whole primitives.
    void cutChunks();
    // Brings every chunk into client memory and destroys the buffers; false when a read-back failed.
    bool download();
    // Fills a buffer object of context for every chunk; the staging is emptied when all succeeded.
    void upload();
    // Drains pending GL errors when checkErrors is on.
    void drainErrors() const;
    // Reports every pending GL error (when checkErrors is on) as "OpenGLArray[ %p ]<what> %s".
    void reportErrors(const char *what, int chunk) const;

    QGLContext *context;
    int chunkSize = OpenGLArray::DefaultChunkSize;
    bool checkErrors = true;
    quint16 attributes = 0;
    int count = -1;
    GLfloat normal[3] = {0, 0, 0};
    GLubyte color[4] = {0, 0, 0, 0};
    GLubyte edgeFlag = 1;
    quint8 mode = 0;
    VertexStaging staging;
    QList<OpenGLArrayChunk> chunks;
};

} // namespace geom
