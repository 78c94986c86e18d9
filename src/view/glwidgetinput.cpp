#include "view/glwidget.h"

#include "view/glwindow.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QPainter>
#include <QPropertyAnimation>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>

// Navigation input: event routing, the delayed press, rotation, pan, zoom, pointer wrap-around,
// rectangle selection and cursors.

namespace {

const float MouseSensitivity = 2.0f;
const double RadiansToDegrees = 57.29577951308232;
const float TrackballRadiusSquared = 0.9604f;
const float TrackballHalfRadiusSquared = 0.4802f;

} // namespace

// ---------------------------------------------------------------------------------------------
// Event routing

template <typename Signal>
bool GLWidget::isConnected(Signal signal) const
{
    return isSignalConnected(QMetaMethod::fromSignal(signal));
}

void GLWidget::mousePressEvent(QMouseEvent *event)
{
    if (!isConnected(&GLWidget::mousePress) || isViewHidden()) {
        handleMousePress(event, nullptr);
        return;
    }
    m_dragging = true;
    if (m_delayedMouseTimer->interval() < 1) {
        emit mousePress(event);
        return;
    }
    if (m_delayedMouseTimer->isActive()) {
        m_delayedMouseTimer->stop();
        m_moved = event->pos() != m_pendingPress.pos();
    } else {
        m_moved = false;
    }
    m_pendingPress = QMouseEvent(event->type(), event->localPos(), event->windowPos(), event->screenPos(),
                                 event->button(), event->buttons(), event->modifiers());
    m_pendingPress.setAccepted(false);
    m_delayedMouseTimer->start();
}

void GLWidget::on_delayedMouseTimer_timeout()
{
    if (!m_pendingPress.isAccepted() && m_pendingPress.type() == QEvent::MouseButtonPress) {
        emit mousePress(&m_pendingPress);
        m_pendingPress.setAccepted(true);
    }
}

void GLWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() != Qt::NoButton)
        m_dragging = true;
    m_delayedMouseTimer->stop();
    if (isConnected(&GLWidget::mouseMove) && !isViewHidden())
        emit mouseMove(event);
    else
        handleMouseMove(event);
}

void GLWidget::mouseReleaseEvent(QMouseEvent *event)
{
    m_pendingPress.setAccepted(true);
    m_dragging = false;
    m_delayedMouseTimer->stop();
    if (isConnected(&GLWidget::mouseRelease) && !isViewHidden())
        emit mouseRelease(event);
    else
        handleMouseRelease(event);
}

void GLWidget::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (isConnected(&GLWidget::mouseDoubleClicked))
        emit mouseDoubleClicked(event);
}

void GLWidget::wheelEvent(QWheelEvent *event)
{
    if (isConnected(&GLWidget::mouseWheel) && !isViewHidden())
        emit mouseWheel(event);
    else
        handleWheel(event);
}

void GLWidget::keyPressEvent(QKeyEvent *event)
{
    if (isConnected(&GLWidget::keyPress))
        emit keyPress(event);
    else
        QWidget::keyPressEvent(event);
}

void GLWidget::keyReleaseEvent(QKeyEvent *event)
{
    if (isConnected(&GLWidget::keyRelease))
        emit keyRelease(event);
    else
        QWidget::keyReleaseEvent(event);
}

void GLWidget::contextMenuEvent(QContextMenuEvent *event)
{
    if (event->reason() != QContextMenuEvent::Mouse && isConnected(&GLWidget::contextMenu)) {
        const QPoint position = mapFromGlobal(QCursor::pos());
        if (rect().contains(position)) {
            emit contextMenu(position);
            return;
        }
    }
    QWidget::contextMenuEvent(event);
}

void GLWidget::paintEvent(QPaintEvent *)
{
    if (!isViewHidden())
        return;
    QPainter painter(this);
    painter.drawImage(0, 0, m_backdropImage);
    if (property("ShowRectangle").toBool()) {
        const QRect selection = QRect(m_pressPosition, mapFromGlobal(QCursor::pos())).normalized();
        painter.drawImage(selection, m_frameImage, selection);
        painter.setPen(QColor(255, 255, 255, 96));
        painter.drawRect(selection.left(), selection.top(), selection.width() - 1, selection.height() - 1);
    }
}

void GLWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The frozen picture of a rectangle selection no longer fits the view.
    if (!m_frameImage.isNull() && m_frameImage.size() != event->size())
        setRectangularSelect(false);
}

// ---------------------------------------------------------------------------------------------
// Default navigation

QVector3D GLWidget::trackballPoint(const QPointF &point, bool clamp) const
{
    const float x = float((2.0 * point.x() - width()) / std::max(1, width()));
    const float y = float((height() - 2.0 * point.y()) / std::max(1, height()));
    const float d2 = x * x + y * y;
    float z = 0.0f;
    if (d2 <= TrackballHalfRadiusSquared)
        z = std::sqrt(std::max(0.0f, TrackballRadiusSquared - d2));
    else if (clamp && d2 > 0.0f)
        z = TrackballHalfRadiusSquared / std::sqrt(d2);
    return QVector3D(x, y, z).normalized();
}

void GLWidget::handleMousePress(QMouseEvent *event, float *depth)
{
    if (isViewHidden()) {
        if (!property("ShowRectangle").toBool()) {
            m_pressPosition = event->pos();
            setProperty("ShowRectangle", true);
        }
        return;
    }
    if (m_lockedView) {
        emit lockedViewMousePress(event);
        refresh();
        m_lastPointerPosition = event->pos();
        return;
    }
    m_moved = false;
    m_lastPointerPosition = event->pos();
    const QPointF position = event->localPos();
    const Qt::MouseButtons buttons = event->buttons();
    // A drag goes on from where a running animation was heading; the pivot and the pan anchor
    // are read from a frame of that camera.
    settleCamera(!depth && (buttons & (Qt::RightButton | Qt::LeftButton)));
    if (buttons & Qt::RightButton) {
        float d = 0.0f;
        if (depth) {
            d = *depth;
            m_rotationCenter = unproject(position, d);
        } else {
            m_rotationCenter = unprojectPixel(position, &d);
        }
        if (d >= 1.0f || std::fabs(d) <= 1e-5f)
            m_rotationCenter = m_camera.sceneCenter;
        refresh();
        const bool rim = m_rotationMode == RotateTrackball && trackballPoint(position, false).z() == 0.0f &&
                         !(event->modifiers() & Qt::ShiftModifier);
        setCursorShape(rim ? &m_tiltCursor : &m_rotateCursor);
    } else if (buttons & Qt::MiddleButton) {
        setCursorShape(&m_zoomCursor);
    } else if (buttons & Qt::LeftButton) {
        m_panAnchor = depth ? unproject(position, *depth) : unprojectPixel(position);
        if (!m_mouseSelect)
            setCursorShape(&m_panCursor);
    }
}

void GLWidget::handleMouseMove(QMouseEvent *event)
{
    if (isViewHidden()) {
        update();
        return;
    }
    if (m_lockedView)
        return;
    if (!m_pendingPress.isAccepted()) {
        m_pendingPress.setAccepted(true);
        handleMousePress(&m_pendingPress, nullptr);
    }
    // An animation started during the drag would take the camera back on its next step.
    animateFlush(true);
    m_moved = true;
    const QPoint position = event->pos();
    const Qt::MouseButtons buttons = event->buttons();
    if (buttons & Qt::RightButton) {
        const auto device = [this](const QPoint &p) {
            return QPointF((2.0 * p.x() - width()) / std::max(1, width()),
                           (height() - 2.0 * p.y()) / std::max(1, height()));
        };
        const QPointF a = device(position);
        const QPointF b = device(m_lastPointerPosition);
        const bool shift = event->modifiers() & Qt::ShiftModifier;
        const bool trackball = m_rotationMode == RotateTrackball && !shift &&
                               QRect(0, 0, width() - 1, height() - 1).contains(position) &&
                               m_currentCursor != &m_rotateCursor;
        if (m_rotationMode != RotateTrackball)
            setCursorShape(&m_rotateCursor);
        QQuaternion r;
        if (m_rotationMode == RotateTurntable) {
            const QVector3D right = m_camera.orientation.rotatedVector(QVector3D(1, 0, 0));
            const QVector3D up = m_camera.orientation.rotatedVector(QVector3D(0, 1, 0));
            const QVector3D z = up.z() < 0.0f ? QVector3D(0, 0, -1) : QVector3D(0, 0, 1);
            const float degreesPerUnit = MouseSensitivity * 180.0f / 3.1415927f;
            r = QQuaternion::fromAxisAndAngle(z, -degreesPerUnit * float(a.x() - b.x())) *
                QQuaternion::fromAxisAndAngle(right, degreesPerUnit * float(a.y() - b.y()));
        } else if (trackball) {
            const QVector3D p0 = trackballPoint(m_lastPointerPosition, true);
            const QVector3D p1 = trackballPoint(position, true);
            const QVector3D axis = m_camera.orientation.rotatedVector(QVector3D::crossProduct(p0, p1));
            const double angle = std::asin(std::min(1.0, double(axis.length())));
            r = QQuaternion::fromAxisAndAngle(axis.normalized(),
                                              float(-MouseSensitivity * angle * RadiansToDegrees));
        } else {
            const QVector3D axis = m_camera.orientation.rotatedVector(
                QVector3D(float(-(a.y() - b.y())), float(a.x() - b.x()), 0.0f));
            const double angle = std::hypot(a.x() - b.x(), a.y() - b.y());
            r = QQuaternion::fromAxisAndAngle(axis.normalized(),
                                              float(-MouseSensitivity * angle * RadiansToDegrees));
        }
        if (event->modifiers() & Qt::ControlModifier)
            m_rotationCenter = m_camera.sceneCenter;
        m_camera.orientation = (r * m_camera.orientation).normalized();
        if (!shift)
            m_camera.position = r.rotatedVector(m_camera.position - m_rotationCenter) + m_rotationCenter;
        refresh();
    } else if (buttons & Qt::MiddleButton) {
        setCursorShape(&m_zoomCursor);
        const int dy = m_mouseZoomInverted ? position.y() - m_lastPointerPosition.y()
                                           : m_lastPointerPosition.y() - position.y();
        zoomToViewPoint(QPointF(width() / 2.0, height() / 2.0), dy * 0.01f, false);
        refresh();
    } else if (buttons & Qt::LeftButton) {
        const QPointF size = pixelSizeAt(m_panAnchor);
        const QVector3D move(float(-(position.x() - m_lastPointerPosition.x()) * size.x()),
                             float((position.y() - m_lastPointerPosition.y()) * size.y()), 0.0f);
        m_camera.position += m_camera.orientation.rotatedVector(move);
        setCursorShape(&m_panCursor);
        refresh();
    }

    // Wrap-around: the inner rectangle shrinks by a pixel on an axis that moved, so a pointer
    // placed on the opposite edge does not wrap straight back.
    int left = 0;
    int right = width() - 1;
    int top = 0;
    int bottom = height() - 1;
    if (width() - 1 > 1 && position.x() != m_lastPointerPosition.x()) {
        left = 1;
        right = width() - 2;
    }
    if (height() - 1 > 1 && position.y() != m_lastPointerPosition.y()) {
        top = 1;
        bottom = height() - 2;
    }
    const QRect inner(QPoint(left, top), QPoint(right, bottom));
    if (m_mouseWrapAround && buttons != Qt::NoButton && !inner.contains(position)) {
        const auto wrap = [](int value, int low, int high) {
            const int span = high - low + 1;
            return ((value - low) % span + span) % span + low;
        };
        const QPoint wrapped(wrap(position.x(), left, right), wrap(position.y(), top, bottom));
        m_lastPointerPosition = wrapped;
        QCursor::setPos(mapToGlobal(wrapped));
    } else {
        m_lastPointerPosition = position;
    }
}

void GLWidget::handleMouseRelease(QMouseEvent *event)
{
    if (isViewHidden()) {
        QRect selection = QRect(m_pressPosition, event->pos()).normalized();
        if (event->button() == Qt::MiddleButton) {
            zoomToBox(selection, true);
            selection = QRect();
        }
        emit rectangleSelected(event->button() == Qt::LeftButton, selection);
        setRectangularSelect(false);
        return;
    }
    if (m_lockedView) {
        emit lockedViewMouseRelease(event);
        refresh();
        m_lastPointerPosition = event->pos();
        return;
    }
    if (!m_moved)
        emit mouseClicked(event);
    else if (event->button() == Qt::RightButton)
        emit rotationChanged(m_camera.orientation.conjugated());
    m_lastPointerPosition = event->pos();
    setCursorShape(&m_defaultCursor);
    refresh(true);
}

void GLWidget::handleWheel(QWheelEvent *event)
{
    if (m_lockedView)
        return;
    setCursorShape(&m_defaultCursor);
    int delta = event->angleDelta().y();
    if (m_mouseZoomInverted)
        delta = -delta;
    const float factor = delta > 0 ? 0.2f : -0.2f;
    const bool animate = m_camera.perspective && m_animation && m_animateZoom;
    zoomToViewPoint(event->position(), factor, animate);
}

// ---------------------------------------------------------------------------------------------
// Rectangle selection and cursors

void GLWidget::selectRectangle()
{
    setRectangularSelect(true);
}

void GLWidget::setRectangularSelect(bool enabled)
{
    if (isViewHidden() == enabled)
        return;
    if (enabled) {
        setProperty("GrabFrameBuffer", true);
        refresh(true);
        m_backdropImage = m_frameImage.copy();
        // The frozen picture is shown darkened behind the selection.
        const bool alpha = m_backdropImage.hasAlphaChannel();
        for (int y = 0; y < m_backdropImage.height(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(m_backdropImage.scanLine(y));
            for (int x = 0; x < m_backdropImage.width(); ++x) {
                const QRgb p = line[x];
                line[x] = alpha ? qRgba(qRed(p) >> 1, qGreen(p) >> 1, qBlue(p) >> 1, 255)
                                : ((p >> 1) & 0x7f7f7f7fu);
            }
        }
        m_glWindow->swapBuffers();
        m_glWindow->swapBuffers();
        setMouseSelect(true);
        m_glWindow->hide();
        repaint();
    } else {
        m_frameImage = QImage();
        m_backdropImage = QImage();
        setMouseSelect(false);
        m_glWindow->show();
        setProperty("ShowRectangle", false);
    }
    emit rectangularSelectToggled(enabled);
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
