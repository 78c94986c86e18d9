#include "view/glwidget.h"

#include "geom/core/util3d.h"
#include "view/glscope.h"
#include "view/glwindow.h"

#include <QDataStream>
#include <QIODevice>
#include <QPropertyAnimation>

#include <GL/glu.h>

#include <cmath>
#include <limits>

// Camera, projection, window <-> world mapping, zoom, standard views and animation.

namespace {

const float MinZoom = 1e-5f;
const float MaxZoom = 100000.0f;
const float TinyRadius = 1e-5f;

bool fuzzyEqualF(double a, double b)
{
    return a == b || std::fabs(a - b) <= std::min(std::fabs(a), std::fabs(b)) * 1e-5;
}

bool fuzzyEqualD(double a, double b)
{
    return a == b || std::fabs(a - b) <= std::min(std::fabs(a), std::fabs(b)) * 1e-12;
}

bool sameOrientation(const QQuaternion &a, const QQuaternion &b)
{
    return fuzzyEqualD(a.x(), b.x()) && fuzzyEqualD(a.y(), b.y()) && fuzzyEqualD(a.z(), b.z()) &&
           fuzzyEqualD(a.scalar(), b.scalar());
}

// The camera's axes in world coordinates applied to a move given in camera coordinates.
QVector3D cameraMove(const QQuaternion &orientation, double x, double y)
{
    return orientation.rotatedVector(QVector3D(float(x), float(y), 0.0f));
}

void readViewport(GLint viewport[4], GLdouble projection[16])
{
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
}

void toDoubles(const QMatrix4x4 &m, GLdouble out[16])
{
    for (int i = 0; i < 16; ++i)
        out[i] = m.constData()[i];
}

bool isFinite(const QVector3D &v)
{
    return std::isfinite(v.x()) && std::isfinite(v.y()) && std::isfinite(v.z());
}

} // namespace

float GLWidget::aspectRatio() const
{
    return height() > 0 ? float(width()) / float(height()) : 1.0f;
}

float GLWidget::horizontalFieldOfView() const
{
    return float(2.0 * std::atan(aspectRatio() * std::tan(m_camera.fieldOfView / 2.0)));
}

QVector3D GLWidget::viewDirection() const
{
    return m_camera.orientation.rotatedVector(QVector3D(0, 0, -1));
}

float GLWidget::nearPlane() const
{
    const float depth = QVector3D::dotProduct(m_camera.sceneCenter - m_camera.position, viewDirection());
    const float radius = m_camera.sceneRadius * std::sqrt(3.0f);
    float nearest = depth - radius;
    if (m_camera.perspective)
        nearest = std::max(nearest, radius * 0.005f);
    return nearest;
}

float GLWidget::farPlane() const
{
    const float depth = QVector3D::dotProduct(m_camera.sceneCenter - m_camera.position, viewDirection());
    return depth + m_camera.sceneRadius * std::sqrt(3.0f);
}

QPointF GLWidget::orthoHalfSize() const
{
    const double size = double(m_camera.sceneRadius) / m_camera.zoom / m_camera.radiusScale;
    const double aspect = aspectRatio();
    if (aspect < 1.0)
        return QPointF(size, size / aspect);
    return QPointF(size * aspect, size);
}

QPointF GLWidget::pixelSize() const
{
    const QPointF half = orthoHalfSize();
    return QPointF(2.0 * half.x() / std::max(1, width()), 2.0 * half.y() / std::max(1, height()));
}

QPointF GLWidget::pixelSizeAt(const QVector3D &point) const
{
    if (!m_camera.perspective)
        return pixelSize();
    const double z = std::fabs(worldToCamera(point).z());
    const double w = std::max(1, width());
    const double h = std::max(1, height());
    const double horizontal = 2.0 * z * std::tan(horizontalFieldOfView() / 2.0);
    const double vertical = 2.0 * z * std::tan(m_camera.fieldOfView / 2.0);
    if (w - 1 >= h - 1)
        return QPointF(horizontal / w, vertical / h);
    const double aspect = aspectRatio();
    return QPointF(horizontal / (aspect * w), vertical / (aspect * h));
}

QVector3D GLWidget::worldToCamera(const QVector3D &point) const
{
    return m_camera.orientation.conjugated().rotatedVector(point - m_camera.position);
}

float GLWidget::cameraDistance(double radius) const
{
    if (radius < TinyRadius)
        radius = m_camera.sceneRadius;
    if (m_camera.perspective) {
        const double horizontal = radius / std::sin(horizontalFieldOfView() / 2.0);
        const double vertical = radius / std::sin(m_camera.fieldOfView / 2.0);
        if (width() - 1 < height() - 1)
            return float(std::min(horizontal, vertical));
        return float(std::max(vertical, horizontal));
    }
    return float(radius / std::tan(m_camera.fieldOfView / 2.0));
}

QMatrix4x4 GLWidget::modelViewMatrix() const
{
    return m_overlayMatrixActive ? QGL::modelViewMatrix() : m_modelViewMatrix;
}

ViewState GLWidget::toViewState() const
{
    return toViewState(m_camera.sceneCenter);
}

ViewState GLWidget::toViewState(const QVector3D &center) const
{
    ViewState state;
    state.center = center;
    state.offset = m_camera.position - center;
    state.orientation = m_camera.orientation;
    state.radiusScale = m_camera.radiusScale;
    state.zoom = m_camera.zoom;
    return state;
}

int GLWidget::compareViewStates(const ViewState &a, const ViewState &b)
{
    int differences = 0;
    if (!fuzzyEqualF(a.offset.x(), b.offset.x()) || !fuzzyEqualF(a.offset.y(), b.offset.y()) ||
        !fuzzyEqualF(a.offset.z(), b.offset.z()) || !fuzzyEqualF(a.zoom, b.zoom))
        differences |= 1;
    if (!sameOrientation(a.orientation, b.orientation))
        differences |= 2;
    return differences;
}

int GLWidget::standardViewIndex(const QQuaternion &q)
{
    const int index = m_standardViews.indexOf(q);
    if (index >= 0)
        return index;
    m_standardViews << q;
    return m_standardViews.size() - 1;
}

void GLWidget::setupProjection()
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const float aspect = aspectRatio();
    if (m_camera.perspective) {
        gluPerspective(m_camera.fieldOfView * 180.0 / M_PI, aspect, nearPlane(), farPlane());
        if (aspect < 1.0f)
            glScalef(aspect, aspect, 1.0f);
    } else {
        const QPointF half = orthoHalfSize();
        glOrtho(-half.x(), half.x(), -half.y(), half.y(), nearPlane(), farPlane());
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const GLfloat light[4] = {0.0f, 0.0f, 1.0f, m_camera.perspective ? 1.0f : 0.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, light);

    m_modelViewMatrix.setToIdentity();
    m_modelViewMatrix.rotate(m_camera.orientation.conjugated());
    m_modelViewMatrix.translate(-m_camera.position);
    QGL::glLoadMatrix(m_modelViewMatrix);
}

bool GLWidget::Camera::operator==(const Camera &other) const
{
    return sceneCenter == other.sceneCenter && sceneRadius == other.sceneRadius &&
           fieldOfView == other.fieldOfView && position == other.position &&
           orientation == other.orientation && radiusScale == other.radiusScale && zoom == other.zoom &&
           perspective == other.perspective;
}

GLWidget::FrameCamera GLWidget::frameCamera() const
{
    return {size(), m_camera};
}

bool GLWidget::isSettled() const
{
    return !isAnimating() && !m_drawnFrame.size.isEmpty() && m_drawnFrame == frameCamera();
}

void GLWidget::settleCamera(bool readsDepth)
{
    // Between frames the GL matrices are those of the last frame drawn, whose camera may be an
    // animation's step or a state that a slot has replaced since; the depth buffer is that
    // frame's too.
    animateFlush(true);
    if (!m_glWindow || !m_glInitialized || m_painting)
        return;
    if (readsDepth && !(m_drawnFrame == frameCamera()) && m_glWindow->isVisible())
        m_glWindow->repaint();
    makeCurrent();
    setupProjection();
}

// ---------------------------------------------------------------------------------------------
// Window <-> world

QVector3D GLWidget::unproject(const QPointF &point, float depth)
{
    if (!m_glWindow || !m_glInitialized)
        return QVector3D();
    makeCurrent();
    GLint viewport[4];
    GLdouble projection[16];
    GLdouble modelView[16];
    readViewport(viewport, projection);
    viewport[0] = 0;
    viewport[1] = 0;
    viewport[2] = width();
    viewport[3] = height();
    toDoubles(modelViewMatrix(), modelView);
    GLdouble x = 0, y = 0, z = 0;
    gluUnProject(point.x(), height() - point.y(), std::max(m_minDepth, depth), modelView, projection,
                 viewport, &x, &y, &z);
    return QVector3D(float(x), float(y), float(z));
}

QVector3D GLWidget::unprojectPixel(const QPointF &point, float *depth)
{
    if (!m_glWindow || !m_glInitialized)
        return QVector3D();
    makeCurrent();
    float value = 1.0f;
    glReadPixels(int(point.x()), height() - int(point.y()), 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &value);
    GLint viewport[4] = {0, 0, width(), height()};
    GLdouble projection[16];
    GLdouble modelView[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    toDoubles(modelViewMatrix(), modelView);
    GLdouble x = 0, y = 0, z = 0;
    gluUnProject(point.x(), height() - point.y(), value, modelView, projection, viewport, &x, &y, &z);
    if (depth)
        *depth = value < m_minDepth ? 0.0f : value;
    return QVector3D(float(x), float(y), float(z));
}

QVector3D GLWidget::unprojectCenter()
{
    return unproject(QPointF(width() / 2.0, height() / 2.0), 0.5f);
}

QPointF GLWidget::project(const QVector3D &point, bool frontOnly, double *depth)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QPointF result(nan, nan);
    if (!m_glWindow)
        return result;
    if (frontOnly && QVector3D::dotProduct(viewDirection(), point - m_camera.position) <= 0)
        return result;
    makeCurrent();
    GLint viewport[4] = {0, 0, width(), height()};
    GLdouble projection[16];
    GLdouble modelView[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    toDoubles(modelViewMatrix(), modelView);
    GLdouble x = 0, y = 0, z = 0;
    const bool projected =
        gluProject(point.x(), point.y(), point.z(), modelView, projection, viewport, &x, &y, &z) == GL_TRUE;
    if (frontOnly && (!projected || !(z > 0.0 && z < 1.0)))
        return result;
    result = QPointF(x, height() - y);
    if (depth)
        *depth = z;
    return result;
}

QPointF GLWidget::projectMirrored(const QVector3D &point)
{
    double depth = 0.0;
    const QPointF p = project(point, false, &depth);
    if (depth > 1.0 || fuzzyEqualD(depth, 1.0))
        return QPointF(width() - p.x(), height() - p.y());
    return p;
}

int GLWidget::colorIdAt(const QPointF &point)
{
    if (m_pickingActive || m_pickIds.isEmpty())
        return -1;
    makeCurrent();
    glFinish();
    GLubyte pixel[4] = {0, 0, 0, 0};
    const int x = int(point.x());
    const int y = height() - int(point.y());
    // note: GL_BGRA exists from OpenGL 1.2; every driver this runs on has it, but the RGBA road
    // stays for the rest.
    if (QGLFormat::openGLVersionFlags() & QGLFormat::OpenGL_Version_1_2) {
        glReadPixels(x, y, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, pixel);
    } else {
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
        std::swap(pixel[0], pixel[2]);
    }
    const GLuint value =
        GLuint(pixel[0]) | GLuint(pixel[1]) << 8 | GLuint(pixel[2]) << 16 | GLuint(pixel[3]) << 24;
    return m_pickIds.indexOf(value);
}

float GLWidget::depthAt(const QPointF &point)
{
    float value = 1.0f;
    glReadPixels(int(point.x()), height() - int(point.y()), 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &value);
    return value;
}

void GLWidget::beginOverlayMode(float nearPlane, float farPlane)
{
    if (m_overlayMatrixActive)
        return;
    glViewport(0, 0, width(), height());
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, width(), 0, height(), nearPlane, farPlane);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glRotatef(180.0f, 1.0f, 0.0f, 0.0f);
    glTranslatef(0.375f, 0.375f - height(), m_minDepth);
    m_overlayMatrixActive = true;
}

void GLWidget::endOverlayMode()
{
    if (!m_overlayMatrixActive)
        return;
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    m_overlayMatrixActive = false;
}

// ---------------------------------------------------------------------------------------------
// Zoom and fit

void GLWidget::zoomToAll(bool animate)
{
    zoomToAll(m_camera.sceneCenter, m_camera.sceneRadius, animate);
}

void GLWidget::zoomToAll(QVector3D center, float radius, bool animate)
{
    // The fit looks along the direction that a running animation is heading for.
    const ViewState start = toViewState();
    animateFlush(true);
    if (animate && m_animation && m_animateZoom) {
        zoomToAllImpl(center, radius, true);
        this->animate(start, toViewState());
    } else {
        zoomToAllImpl(center, radius, false);
    }
}

void GLWidget::zoomToAllImpl(QVector3D center, float radius, bool animate)
{
    const float distance = cameraDistance(radius);
    m_camera.position = center - viewDirection() * distance;
    m_camera.radiusScale = 1.0f;
    if (radius >= TinyRadius)
        m_camera.zoom = m_camera.sceneRadius / radius;
    else
        m_camera.zoom = 1.0f;
    if (!animate)
        refresh();
}

void GLWidget::zoomIn(bool animate)
{
    zoomToViewPoint(QPointF(width() / 2.0, height() / 2.0), 0.2f, animate && m_animation && m_animateZoom);
}

void GLWidget::zoomOut(bool animate)
{
    zoomToViewPoint(QPointF(width() / 2.0, height() / 2.0), -0.2f, animate && m_animation && m_animateZoom);
}

void GLWidget::zoomToViewPoint(QPointF point, float factor, bool animate)
{
    if (factor == 0.0f)
        return;
    // In parallel projection the depth under the point does not move it on screen.
    settleCamera(m_camera.perspective);
    const ViewState start = toViewState();
    if (m_camera.perspective) {
        float depth = 0.0f;
        QVector3D target = unprojectPixel(point, &depth);
        const QVector3D nearPoint = unproject(point, 0.0f);
        const QVector3D farPoint = unproject(point, 1.0f);
        if (depth >= 1.0f || std::fabs(depth) <= 1e-5f) {
            const auto hit =
                util2D::intersectRayZPlane(geom::Vector3f(nearPoint.x(), nearPoint.y(), nearPoint.z()),
                                           geom::Vector3f(farPoint.x(), farPoint.y(), farPoint.z()), 0.0f);
            if (hit.count > 0)
                target = QVector3D(hit.first.x, hit.first.y, hit.first.z);
        }
        const QVector3D direction = (farPoint - nearPoint).normalized();
        const float distance = (m_camera.position - target).length();
        const float newDistance = factor > 0.0f ? distance / (factor + 1.0f) : (1.0f - factor) * distance;
        float step = newDistance - distance;
        const float minimum = m_camera.sceneRadius * 0.001f;
        if (std::fabs(step) < minimum)
            step = step > 0.0f ? minimum : -minimum;
        if (std::isfinite(step) &&
            std::fabs(1.0f / ((m_camera.position - m_camera.sceneCenter).length() + step)) > 1e-5f)
            m_camera.position -= direction * step;
    } else {
        const QVector3D target = unprojectPixel(point);
        const float zoomed =
            factor >= 0.0f ? (factor + 1.0f) * m_camera.zoom : m_camera.zoom / (1.0f - factor);
        m_camera.zoom = qBound(MinZoom, zoomed, MaxZoom);
        setupProjection();
        const QPointF moved = project(target);
        const QPointF half = orthoHalfSize();
        if (std::isfinite(moved.x()) && std::isfinite(moved.y()))
            m_camera.position +=
                cameraMove(m_camera.orientation, -(point.x() - moved.x()) * 2.0 * half.x() / width(),
                           (point.y() - moved.y()) * 2.0 * half.y() / height());
        setupProjection();
    }
    if (animate)
        this->animate(start, toViewState());
    else
        refresh();
}

void GLWidget::zoomToBox(QRect box, bool animate)
{
    if (box.width() <= 0 || box.height() <= 0)
        return;
    const double scale = std::max(double(height()) / box.height(), double(width()) / box.width());
    animateFlush(true);
    const ViewState start = toViewState();
    const QPoint center((box.left() + box.right()) / 2, (box.top() + box.bottom()) / 2);
    if (m_camera.perspective) {
        zoomToViewPoint(center, float(scale - 1.0), false);
    } else {
        const QPointF half = orthoHalfSize();
        const int dx = center.x() - (width() - 1) / 2;
        const int dy = center.y() - (height() - 1) / 2;
        m_camera.position +=
            cameraMove(m_camera.orientation, dx * 2.0 * half.x() / width(), -dy * 2.0 * half.y() / height());
        m_camera.zoom = qBound(MinZoom, float(m_camera.zoom * scale), MaxZoom);
        setupProjection();
    }
    if (animate)
        this->animate(start, toViewState());
    else
        refresh();
}

// ---------------------------------------------------------------------------------------------
// Standard views, projection and rotation mode

void GLWidget::setViewingAngle(int viewAngle, bool animate)
{
    setViewingAngle(viewAngle, m_camera.sceneCenter, m_camera.sceneRadius, animate);
}

void GLWidget::setViewingAngle(int viewAngle, QVector3D center, float radius, bool animate)
{
    if (viewAngle < 0 || viewAngle >= m_standardViews.size())
        return;
    animate = animate && m_animation;
    const ViewState start = toViewState(center);
    // Asking for the view that a running animation is heading for gives its pair, as asking again
    // once it is there does.
    animateFlush(false);
    int index = viewAngle;
    if (viewAngle < 10 && sameOrientation(m_camera.orientation, m_standardViews[viewAngle]))
        index = viewAngle ^ 1;
    if (index >= m_standardViews.size())
        index = viewAngle;
    m_camera.orientation = m_standardViews[index];
    zoomToAllImpl(center, radius, animate);
    if (animate)
        this->animate(start, toViewState(center));
}

void GLWidget::setPerspective(bool enabled)
{
    if (property("IgnorePerspectiveCall").toBool()) {
        setProperty("IgnorePerspectiveCall", QVariant());
        m_camera.perspective = enabled;
        return;
    }
    if (enabled != m_camera.perspective) {
        // A running animation's states belong to the projection it started in.
        settleCamera(true);
        float depth = 0.0f;
        QVector3D pivot = unprojectPixel(QPointF(width() / 2.0, height() / 2.0), &depth);
        if (depth >= 1.0f || depth < m_minDepth)
            pivot = m_camera.sceneCenter;
        const double tangent = std::tan(m_camera.fieldOfView / 2.0);
        if (enabled) {
            double distance = (m_camera.sceneRadius / tangent) / m_camera.zoom;
            distance = std::max(distance, m_camera.sceneRadius * std::sqrt(3.0) * 0.01);
            const QPointF before = project(pivot);
            m_camera.position = pivot - viewDirection() * float(distance);
            m_camera.perspective = true;
            const QPointF size = pixelSizeAt(pivot);
            if (std::isfinite(before.x()) && std::isfinite(before.y()))
                m_camera.position += cameraMove(m_camera.orientation, (width() / 2.0 - before.x()) * size.x(),
                                                -(height() / 2.0 - before.y()) * size.y());
        } else {
            m_camera.radiusScale = 1.0f;
            const double z = std::fabs(worldToCamera(pivot).z());
            m_camera.perspective = false;
            if (z > 0.0)
                m_camera.zoom = qBound(MinZoom, float((m_camera.sceneRadius / tangent) / z), MaxZoom);
        }
    }
    refresh();
}

void GLWidget::setRotationMode(GLWidget::RotationMode rotationMode)
{
    if (rotationMode == RotateTurntable) {
        // The horizon that matters is the one of the view a running animation is heading for.
        const bool running = m_animation && m_animation->state() == QAbstractAnimation::Running;
        const QQuaternion heading = running ? m_animationEnd.orientation : m_camera.orientation;
        if (std::fabs(heading.rotatedVector(QVector3D(1, 0, 0)).z()) > 1e-5f) {
            const ViewState start = toViewState();
            animateFlush(false);
            const QVector3D x = m_camera.orientation.rotatedVector(QVector3D(1, 0, 0));
            const QVector3D level = QVector3D(x.x(), x.y(), 0).normalized();
            const float degrees =
                std::acos(qBound(-1.0f, QVector3D::dotProduct(level, x), 1.0f)) * 57.295776f;
            const QQuaternion r = QQuaternion::fromAxisAndAngle(QVector3D::crossProduct(x, level), degrees);
            m_camera.orientation = r * m_camera.orientation;
            if (m_animation) {
                animate(start, toViewState());
            } else {
                refresh();
            }
        }
    }
    m_rotationMode = rotationMode;
}

// ---------------------------------------------------------------------------------------------
// View states and animation

void GLWidget::setViewState(ViewState viewState, bool animate)
{
    if (animate && m_animation) {
        this->animate(toViewState(viewState.center), viewState);
    } else {
        // A running animation would carry the camera on to its own end.
        animateFlush(false);
        applyViewState(viewState);
    }
}

void GLWidget::applyViewState(const ViewState &state)
{
    m_camera.position = state.center + state.offset;
    m_camera.orientation = state.orientation;
    m_camera.radiusScale = float(state.radiusScale);
    m_camera.zoom = float(state.zoom);
}

ViewState GLWidget::interpolate(const ViewState &a, const ViewState &b, double t) const
{
    ViewState state;
    const float s = float(t);
    state.center = a.center + (b.center - a.center) * s;
    state.offset = a.offset + (b.offset - a.offset) * s;
    state.radiusScale = a.radiusScale + (b.radiusScale - a.radiusScale) * t;
    state.zoom = a.zoom + (b.zoom - a.zoom) * t;
    state.orientation = QQuaternion::nlerp(a.orientation, b.orientation, s);
    const int differences = compareViewStates(a, b);
    const bool offsetsDiffer = !(qFuzzyCompare(a.offset, b.offset));
    if (offsetsDiffer && (differences & 2)) {
        // Bend the straight path towards an orbit about the centre, exact at both ends.
        const float length = std::sqrt(std::max({a.offset.lengthSquared(), b.offset.lengthSquared(), 1.0f}));
        const float w = float(2.0 * (t - 0.5) * (t - 0.5) + 0.5);
        state.offset =
            state.orientation.rotatedVector(QVector3D(0, 0, length)) * (1.0f - w) + state.offset * w;
    }
    return state;
}

void GLWidget::animate(ViewState start, ViewState end)
{
    const int differences = compareViewStates(start, end);
    if (differences != 0 && m_animation) {
        animateFlush(false);
        applyViewState(start);
        m_animationStart = start;
        m_animationEnd = end;
        m_animation->setDuration((differences & 2) ? 5 * m_animationDuration : m_animationDuration);
        m_animation->start();
    } else {
        // The camera stays at end: a running animation must not carry it on to its own end.
        const bool stopped = m_animation && m_animation->state() == QAbstractAnimation::Running;
        if (stopped)
            m_animation->stop();
        applyViewState(end);
        if (stopped)
            refresh();
    }
}

void GLWidget::animateFlush(bool refresh)
{
    if (!m_animation || m_animation->state() != QAbstractAnimation::Running)
        return;
    m_animation->stop();
    applyViewState(m_animationEnd);
    if (refresh)
        this->refresh();
}

void GLWidget::animationRefresh()
{
    if (!m_animation)
        return;
    if (m_painting && m_animation->state() == QAbstractAnimation::Running)
        return;
    const double t = property("Animation").toDouble();
    if (t >= 1.0 && compareViewStates(toViewState(m_animationEnd.center), m_animationEnd) == 0)
        return;
    applyViewState(interpolate(m_animationStart, m_animationEnd, std::min(t, 1.0)));
    refresh();
}

// ---------------------------------------------------------------------------------------------
// Camera stream

QDataStream &operator<<(QDataStream &stream, const GLWidget &widget)
{
    stream << widget.m_camera.orientation << widget.m_camera.position << widget.m_camera.sceneCenter
           << widget.m_camera.sceneRadius << widget.m_camera.radiusScale << widget.m_camera.zoom;
    return stream;
}

QDataStream &operator>>(QDataStream &stream, GLWidget &widget)
{
    const QIODevice *device = stream.device();
    if (!device || device->property("Version").toUInt() <= 2)
        return stream;
    GLWidget::Camera camera = widget.m_camera;
    stream >> camera.orientation >> camera.position >> camera.sceneCenter >> camera.sceneRadius >>
        camera.radiusScale >> camera.zoom;
    // A damaged settings blob must not leave a camera that shows nothing.
    const bool sound = stream.status() == QDataStream::Ok && isFinite(camera.position) &&
                       isFinite(camera.sceneCenter) && std::isfinite(camera.orientation.scalar()) &&
                       isFinite(camera.orientation.vector()) && !camera.orientation.isNull() &&
                       std::isfinite(camera.sceneRadius) && camera.sceneRadius > 0.0f &&
                       std::isfinite(camera.radiusScale) && camera.radiusScale > 0.0f &&
                       std::isfinite(camera.zoom) && camera.zoom > 0.0f;
    if (!sound)
        return stream;
    widget.m_camera = camera;
    const bool blocked = widget.blockSignals(true);
    widget.setProperty("IgnorePerspectiveCall", true);
    widget.blockSignals(blocked);
    return stream;
}
