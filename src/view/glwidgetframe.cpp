#include "view/glwidget.h"

#include "view/glscope.h"
#include "view/glwindow.h"

// Frame rendering and the offscreen grab.

void GLWidget::paintGL()
{
    qDeleteAll(m_textLabels);
    m_textLabels.clear();
    glClear(GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glDepthMask(GL_FALSE);
    glBegin(GL_QUADS);
    setGLColor(m_backgroundBottomColor, GL_FRONT_AND_BACK, false);
    glVertex2f(-1, -1);
    glVertex2f(1, -1);
    setGLColor(m_backgroundTopColor, GL_FRONT_AND_BACK, false);
    glVertex2f(1, 1);
    glVertex2f(-1, 1);
    glEnd();
    glDepthMask(GL_TRUE);
    emit configureScene(this);
    emit preRenderScene(this);
    emit renderScene(this);
    emit postRenderScene(this);
    emit renderOverlay(this);
    swapBuffers();
    glFinish();
    if (property("FirstPaint").toBool())
        setProperty("FirstPaint", QVariant());
}
void GLWidget::resizeGL(int width, int height)
{
    m_axisViewRect.moveBottom(height - 1);
    glViewport(0, 0, width, height);
    refresh(false);
    emit viewResized(width, height);
}
QVector<double> GLWidget::clipPlaneEquations() const
{
    return QVector<double>(4, 0.0);
}
QVector<QVector4D> GLWidget::clipPlanes() const
{
    return QVector<QVector4D>(2);
}
void GLWidget::setShaderUniforms() {}
void GLWidget::switchToFixedProgram() {}
void GLWidget::renderScenePass() {}
void GLWidget::beginOffscreenBuffer(int, int, bool) {}
QImage GLWidget::grabOffscreenImage()
{
    return QImage();
}
void GLWidget::endOffscreenBuffer() {}
void GLWidget::grabFrame() {}
