#pragma once

#include <QGLBuffer>
#include <QMatrix4x4>
#include <QQuaternion>
#include <QStringList>
#include <QVector3D>
#include <QVector>
#include <qgl.h>

// Scope guards and matrix transfers over the fixed-function GL state. Everything here acts on the
// GL context that is current on the calling thread and must run on that thread. The guards are
// meant as locals: they cannot be copied.
namespace QGL {

// Binds a buffer for the lifetime of the guard. buffer() is null when nothing was bound: a null
// buffer, one that was never created, or a failed bind(). Releases only what it bound.
class BufferBinder
{
public:
    explicit BufferBinder(QGLBuffer *buffer);
    virtual ~BufferBinder();
    BufferBinder(const BufferBinder &) = delete;
    BufferBinder &operator=(const BufferBinder &) = delete;

    QGLBuffer *buffer() const { return m_buffer; }

protected:
    QGLBuffer *m_buffer = nullptr;
};

// Binds and maps a buffer read-only for the lifetime of the guard. address() is null when the
// bind or the map failed; a failed bind is not followed by a map.
class ReadOnlyBufferMapper : public BufferBinder
{
public:
    explicit ReadOnlyBufferMapper(QGLBuffer *buffer);
    ~ReadOnlyBufferMapper() override;

    const void *address() const { return m_address; }

private:
    void *m_address = nullptr;
};

// glPushMatrix on construction, glPopMatrix on destruction, on the current matrix mode.
class PushMatrix
{
public:
    PushMatrix();
    virtual ~PushMatrix();
    PushMatrix(const PushMatrix &) = delete;
    PushMatrix &operator=(const PushMatrix &) = delete;
};

// Pushes, then rotates by the unit quaternion q (angle 2 acos(scalar), axis its vector part).
class PushRotate : public PushMatrix
{
public:
    explicit PushRotate(const QQuaternion &q);
};

// Pushes, then scales by s.
class PushScale : public PushMatrix
{
public:
    explicit PushScale(const QVector3D &s);
};

// Pushes, then translates by t.
class PushTranslate : public PushMatrix
{
public:
    explicit PushTranslate(const QVector3D &t);
};

// Drains the GL error flags: the gluErrorString text of every pending code in the order GL
// reports them; empty when none was pending. The error state is clear afterwards.
QStringList glErrors();

// Multiplies the current GL matrix by m (glMultMatrixd, column-major).
void glMultMatrix(const QMatrix4x4 &m);
// Replaces the current GL matrix by m (glLoadMatrixd, column-major).
void glLoadMatrix(const QMatrix4x4 &m);
// The current GL_MODELVIEW_MATRIX and GL_PROJECTION_MATRIX as general matrices.
QMatrix4x4 modelViewMatrix();
QMatrix4x4 projectionMatrix();

// Enables GL_CLIP_PLANE0 with the first four plane coefficients, and GL_CLIP_PLANE1 with the
// next four when there are eight.
void glEnableClipPlanes(const QVector<double> &equations);

} // namespace QGL
