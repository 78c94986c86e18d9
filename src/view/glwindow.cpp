#include "view/glwindow.h"

GLWindow::GLWindow(const QGLFormat &format, QWidget *parent)
    : QGLWidget(format, parent)
{
    setAutoBufferSwap(false);
    // QGLWidget fills its background by default; a QPainter on the surface would then clear the
    // frame that the view drew.
    setAutoFillBackground(false);
    setMouseTracking(true);
}

void GLWindow::initializeGL()
{
    emit initializeGLEvent();
}

void GLWindow::resizeGL(int width, int height)
{
    emit resizeGLEvent(width, height);
}

void GLWindow::paintGL()
{
    emit paintGLEvent();
}
