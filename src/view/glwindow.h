#pragma once

#include <QGLWidget>

// The GL surface of the 3D view. It owns the GL context and renders nothing itself: its three
// QGLWidget callbacks become signals, so that the owning view does all GL work and can replace
// the surface when the GL format must change. Buffers are never swapped automatically, the
// background is never filled and mouse moves arrive without a pressed button.
class GLWindow : public QGLWidget
{
    Q_OBJECT

public:
    GLWindow(const QGLFormat &format, QWidget *parent);

    // The owning view swaps the buffers itself after each frame.
    using QGLWidget::autoBufferSwap;
    using QGLWidget::setAutoBufferSwap;

signals:
    // Emitted with this surface's context current, once before its first resize or paint.
    void initializeGLEvent();
    // Emitted with the context current for every repaint.
    void paintGLEvent();
    // Emitted with the context current on every size change, in device-independent pixels.
    void resizeGLEvent(int width, int height);

protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
};
