#include "view/glwidget.h"

#include "view/glwindow.h"

#include <QTimer>

// Navigation input: event routing, the delayed press, rotation, pan, zoom, rectangle selection
// and cursors.

void GLWidget::mousePressEvent(QMouseEvent *event)
{
    handleMousePress(event);
}
void GLWidget::mouseMoveEvent(QMouseEvent *event)
{
    handleMouseMove(event);
}
void GLWidget::mouseReleaseEvent(QMouseEvent *event)
{
    handleMouseRelease(event);
}
void GLWidget::mouseDoubleClickEvent(QMouseEvent *) {}
void GLWidget::wheelEvent(QWheelEvent *event)
{
    handleWheel(event);
}
void GLWidget::keyPressEvent(QKeyEvent *event)
{
    QWidget::keyPressEvent(event);
}
void GLWidget::keyReleaseEvent(QKeyEvent *event)
{
    QWidget::keyReleaseEvent(event);
}
void GLWidget::contextMenuEvent(QContextMenuEvent *event)
{
    QWidget::contextMenuEvent(event);
}
void GLWidget::paintEvent(QPaintEvent *) {}
void GLWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
}
void GLWidget::handleMousePress(QMouseEvent *, float *) {}
void GLWidget::handleMouseMove(QMouseEvent *) {}
void GLWidget::handleMouseRelease(QMouseEvent *) {}
void GLWidget::handleWheel(QWheelEvent *) {}
QVector3D GLWidget::trackballPoint(const QPointF &, bool) const
{
    return QVector3D(0, 0, 1);
}
void GLWidget::setRectangularSelect(bool) {}
void GLWidget::selectRectangle()
{
    setRectangularSelect(true);
}
void GLWidget::setCursorShape(QCursor *cursor)
{
    if (m_currentCursor == cursor)
        return;
    m_currentCursor = cursor;
    updateCursor();
}
void GLWidget::updateCursor()
{
    if (m_currentCursor == &m_defaultCursor) {
        setCursor(m_mouseSelect ? m_crosshairCursor : m_defaultCursor);
        return;
    }
    if (m_modelCursors) {
        if (m_currentCursor == &m_rotateCursor)
            setCursor(m_rotateModelCursor);
        else if (m_currentCursor == &m_panCursor)
            setCursor(m_panModelCursor);
        else if (m_currentCursor == &m_zoomCursor)
            setCursor(m_zoomModelCursor);
        else
            setCursor(*m_currentCursor);
    } else {
        setCursor(*m_currentCursor);
    }
}
void GLWidget::resetCursor()
{
    setCursorShape(&m_defaultCursor);
}
void GLWidget::on_delayedMouseTimer_timeout() {}
