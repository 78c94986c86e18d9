#pragma once

#include <QExplicitlySharedDataPointer>
#include <QVector4D>
#include <QVector>
#include <QtOpenGL/qgl.h>

class QDataStream;

namespace geom {

class OpenGLArrayPrivate;

// A vertex array recorded through calls shaped like OpenGL's immediate mode into one interleaved
// staging buffer, cut into chunks of whole primitives and kept either in buffer objects of one GL
// context or in client memory. A handle: copies share one record (reference semantics), and the last
// handle releases the record and its buffer objects (in their own context). No lock inside: use it
// on the thread whose GL context is current. Failed buffer operations are reported through the
// message handler ("OpenGLArray[ %p ]...") and leave the data in client memory.
class OpenGLArray
{
public:
    // Bits of attributes(): the vertex size (0 until the first vertex, else 2, 3 or 4 floats), then
    // one flag per optional field of a vertex record.
    enum Attribute
    {
        VertexSizeMask = 0x07,
        NormalOn = 0x08,
        ColorOn = 0x30,
        EdgeFlagOn = 0x40
    };
    // The target bytes of one chunk unless setChunkSize says otherwise: 64 MiB.
    static constexpr int DefaultChunkSize = 64 * 1024 * 1024;

    // An idle array whose buffer objects will live in context (null: client memory only).
    explicit OpenGLArray(QGLContext *context = nullptr);
    OpenGLArray(const OpenGLArray &other);
    OpenGLArray &operator=(const OpenGLArray &other);
    ~OpenGLArray();

    // Starts a recording of primitives of mode (GL_POINTS up to GL_POLYGON); releases the chunks of
    // an earlier recording. False while a recording is open or for a mode above GL_POLYGON. Attribute
    // bits and current values carry over, as GL state does.
    bool glBegin(GLenum mode);
    // Sets the current normal and switches the normal on; null switches it off.
    void glNormal3fv(const GLfloat *n);
    // Sets the current colour (R, G, B, A) and switches the colour on; null switches it off.
    void glColor4ubv(const GLubyte *c);
    // 0 or 1 sets the current edge flag and switches it on; any other value switches it off.
    void glEdgeFlag(GLboolean flag);
    // The setters above refuse, with a critical message, to switch a field on or off once a vertex of
    // the open recording was emitted; changing the value of a field that stays on is always allowed.

    // Append n vertices of 2, 3 or 4 floats (v holds n of them), each with the current values of the
    // fields that are on. The first vertex call fixes the vertex size; later calls must have the same
    // arity. Returns n; 0 for n < 1 or a null v; -2 when no recording is open; -1 when the staging
    // cannot grow (nothing appended).
    int glVertex2fv(const GLfloat *v, int n = 1);
    int glVertex3fv(const GLfloat *v, int n = 1);
    int glVertex4fv(const GLfloat *v, int n = 1);
    // As glVertex2fv after converting the 2n doubles to floats.
    int glVertex2dv(const GLdouble *v, int n = 1);
    // Ends the recording: cuts it into chunks and uploads them when the array has a context. A
    // recording without vertices goes back to idle and returns true. False when no recording is open.
    bool glEnd();

    // Draws vertices [first, first + count) with mode chunk by chunk (buffer objects where they are,
    // client memory elsewhere). The caller enables the client states. Refused with a critical message
    // while a recording is open.
    void glDrawArrays(GLenum mode, int first, int count) const;
    // Enable or disable GL_VERTEX_ARRAY and the client arrays of the fields that are on.
    void enableClientStates() const;
    void disableClientStates() const;

    // Moves the data into buffer objects of ctx, or into client memory for null. The old context is
    // made current first when the current one does not share with it. False only when data could not
    // be read back from a buffer object (that chunk is then lost and skipped when drawn); a failed
    // upload keeps the data in client memory and still returns true.
    bool setContext(QGLContext *ctx);
    QGLContext *context() const;

    // Vertices recorded (0 while idle), the mode of the recording, bytes per vertex record, all
    // vertex bytes (count * stride), the attribute bits.
    int count() const;
    GLenum mode() const;
    int stride() const;
    qint64 byteSize() const;
    int attributes() const;

    // Target bytes per chunk for the next glEnd; a negative value restores DefaultChunkSize. A chunk
    // holds whole primitives and is larger only when one primitive is (strips, fans and polygons
    // are one primitive).
    int chunkSize() const;
    void setChunkSize(int bytes);
    // Whether GL errors are drained and reported around buffer operations (default true).
    bool checkErrors() const;
    void setCheckErrors(bool on);
    // Byte sizes of the chunks in vertex order; empty unless ended.
    QVector<qint64> chunkByteSizes() const;

    // Grows the staging capacity to at least bytes, keeping its contents. False when the memory
    // cannot be had (the staging is unchanged).
    bool reserve(qint64 bytes);
    qint64 reservedSize() const;

    // The position of vertex index (x, y, z, w; zero beyond the vertex size), read back from its
    // buffer object when the data live on the GPU. All zero outside [0, count).
    QVector4D at(int index) const;
    QVector4D first() const;
    QVector4D last() const;

    // Back to idle: chunks and their buffers released, staging emptied, attribute bits cleared.
    void clear();

    // Writes the array record (version 2) to the stream: the header in the stream's byte order, the
    // vertex records raw in the machine's. Returns whether the stream is still Ok; an unreadable
    // buffer object sets WriteFailed.
    bool save(QDataStream &stream) const;
    // Reads an array record of version 1 or 2 into a new record of this handle (other copies keep
    // the old one) and ends it as glEnd does. A record that is not well formed sets ReadCorruptData,
    // missing bytes set ReadPastEnd; the array is then unchanged. An idle record leaves the array
    // unchanged. Returns whether the stream is Ok.
    bool load(QDataStream &stream);

private:
    int appendVertices(const GLfloat *v, int n, int size);

    QExplicitlySharedDataPointer<OpenGLArrayPrivate> d;
};

} // namespace geom
