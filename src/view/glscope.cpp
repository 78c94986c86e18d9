#include "view/glscope.h"

#include <GL/glu.h>

#include <cmath>

namespace QGL {

BufferBinder::BufferBinder(QGLBuffer *buffer)
{
    if (buffer && buffer->isCreated() && buffer->bind())
        m_buffer = buffer;
}

BufferBinder::~BufferBinder()
{
    // The buffer may have been destroyed by its owner while the guard lived.
    if (m_buffer && m_buffer->isCreated())
        m_buffer->release();
}

ReadOnlyBufferMapper::ReadOnlyBufferMapper(QGLBuffer *buffer)
    : BufferBinder(buffer)
{
    if (m_buffer)
        m_address = m_buffer->map(QGLBuffer::ReadOnly);
}

ReadOnlyBufferMapper::~ReadOnlyBufferMapper()
{
    if (m_address)
        m_buffer->unmap();
}

PushMatrix::PushMatrix()
{
    glPushMatrix();
}

PushMatrix::~PushMatrix()
{
    glPopMatrix();
}

PushRotate::PushRotate(const QQuaternion &q)
{
    const double degrees = 2.0 * std::acos(double(q.scalar())) * 180.0 / M_PI;
    glRotatef(float(degrees), q.x(), q.y(), q.z());
}

PushScale::PushScale(const QVector3D &s)
{
    glScalef(s.x(), s.y(), s.z());
}

PushTranslate::PushTranslate(const QVector3D &t)
{
    glTranslatef(t.x(), t.y(), t.z());
}

QStringList glErrors()
{
    QStringList errors;
    // note: without a current context glGetError answers GL_INVALID_OPERATION forever on some
    // drivers; the bound keeps a broken caller from hanging.
    for (int i = 0; i < 64; ++i) {
        const GLenum code = glGetError();
        if (code == GL_NO_ERROR)
            break;
        errors << QString::fromLatin1(reinterpret_cast<const char *>(gluErrorString(code)));
    }
    return errors;
}

namespace {

void toDoubles(const QMatrix4x4 &m, GLdouble *out)
{
    const float *values = m.constData();
    for (int i = 0; i < 16; ++i)
        out[i] = values[i];
}

QMatrix4x4 readMatrix(GLenum which)
{
    GLdouble values[16];
    glGetDoublev(which, values);
    // The row-major constructor marks the matrix as general; GL stores columns.
    float rows[16];
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            rows[row * 4 + column] = float(values[column * 4 + row]);
    return QMatrix4x4(rows);
}

} // namespace

void glMultMatrix(const QMatrix4x4 &m)
{
    GLdouble values[16];
    toDoubles(m, values);
    glMultMatrixd(values);
}

void glLoadMatrix(const QMatrix4x4 &m)
{
    GLdouble values[16];
    toDoubles(m, values);
    glLoadMatrixd(values);
}

QMatrix4x4 modelViewMatrix()
{
    return readMatrix(GL_MODELVIEW_MATRIX);
}

QMatrix4x4 projectionMatrix()
{
    return readMatrix(GL_PROJECTION_MATRIX);
}

void glEnableClipPlanes(const QVector<double> &equations)
{
    glEnable(GL_CLIP_PLANE0);
    glClipPlane(GL_CLIP_PLANE0, equations.constData());
    if (equations.size() == 8) {
        glEnable(GL_CLIP_PLANE1);
        glClipPlane(GL_CLIP_PLANE1, equations.constData() + 4);
    }
}

} // namespace QGL
