#include "view/glwidget.h"

// Camera, projection and animation.

float GLWidget::aspectRatio() const
{
    return height() > 0 ? float(width()) / float(height()) : 1.0f;
}
float GLWidget::horizontalFieldOfView() const
{
    return m_fieldOfView;
}
QVector3D GLWidget::viewDirection() const
{
    return m_cameraOrientation.rotatedVector(QVector3D(0, 0, -1));
}
float GLWidget::nearPlane() const
{
    return 0.1f;
}
float GLWidget::farPlane() const
{
    return 100.0f;
}
QPointF GLWidget::orthoHalfSize() const
{
    return QPointF(1, 1);
}
QPointF GLWidget::pixelSize() const
{
    return QPointF(1, 1);
}
QPointF GLWidget::pixelSizeAt(const QVector3D &) const
{
    return pixelSize();
}
QVector3D GLWidget::worldToCamera(const QVector3D &point) const
{
    return m_cameraOrientation.conjugated().rotatedVector(point - m_cameraPosition);
}
float GLWidget::cameraDistance(double) const
{
    return m_sceneRadius;
}
QMatrix4x4 GLWidget::modelViewMatrix() const
{
    return m_modelViewMatrix;
}
ViewState GLWidget::toViewState() const
{
    return toViewState(m_sceneCenter);
}
ViewState GLWidget::toViewState(const QVector3D &center) const
{
    ViewState state;
    state.center = center;
    state.offset = m_cameraPosition - center;
    state.orientation = m_cameraOrientation;
    state.radiusScale = m_radiusScale;
    state.zoom = m_zoom;
    return state;
}
int GLWidget::compareViewStates(const ViewState &, const ViewState &)
{
    return 0;
}
int GLWidget::standardViewIndex(const QQuaternion &q)
{
    const int index = m_standardViews.indexOf(q);
    if (index >= 0)
        return index;
    m_standardViews << q;
    return m_standardViews.size() - 1;
}
void GLWidget::setupProjection() {}
QVector3D GLWidget::unproject(const QPointF &, float)
{
    return QVector3D();
}
QVector3D GLWidget::unprojectPixel(const QPointF &, float *)
{
    return QVector3D();
}
QVector3D GLWidget::unprojectCenter()
{
    return QVector3D();
}
QPointF GLWidget::project(const QVector3D &, bool, double *)
{
    return QPointF();
}
QPointF GLWidget::projectMirrored(const QVector3D &)
{
    return QPointF();
}
int GLWidget::colorIdAt(const QPointF &)
{
    return -1;
}
float GLWidget::depthAt(const QPointF &)
{
    return 1.0f;
}
void GLWidget::beginOverlayMode(float, float) {}
void GLWidget::endOverlayMode() {}
void GLWidget::setViewState(ViewState viewState, bool)
{
    applyViewState(viewState);
}
void GLWidget::applyViewState(const ViewState &state)
{
    m_cameraPosition = state.center + state.offset;
    m_cameraOrientation = state.orientation;
    m_radiusScale = float(state.radiusScale);
    m_zoom = float(state.zoom);
}
ViewState GLWidget::interpolate(const ViewState &, const ViewState &b, double) const
{
    return b;
}
void GLWidget::setPerspective(bool enabled)
{
    m_perspective = enabled;
    refresh();
}
void GLWidget::setRotationMode(GLWidget::RotationMode rotationMode)
{
    m_rotationMode = rotationMode;
}
void GLWidget::setViewingAngle(int, bool) {}
void GLWidget::setViewingAngle(int, QVector3D, float, bool) {}
void GLWidget::zoomIn(bool) {}
void GLWidget::zoomOut(bool) {}
void GLWidget::zoomToAll(bool) {}
void GLWidget::zoomToAll(QVector3D, float, bool) {}
void GLWidget::zoomToAllImpl(QVector3D, float, bool) {}
void GLWidget::zoomToBox(QRect, bool) {}
void GLWidget::zoomToViewPoint(QPointF, float, bool) {}
void GLWidget::animate(ViewState, ViewState end)
{
    applyViewState(end);
}
void GLWidget::animateFlush(bool) {}
void GLWidget::animationRefresh() {}
QDataStream &operator<<(QDataStream &stream, const GLWidget &)
{
    return stream;
}
QDataStream &operator>>(QDataStream &stream, GLWidget &)
{
    return stream;
}
