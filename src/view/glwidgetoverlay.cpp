// glWindowPos2i (OpenGL 1.4) places the raster position in window coordinates.
#define GL_GLEXT_PROTOTYPES 1

#include "view/glwidget.h"

#include "geom/core/angles.h"
#include "geom/core/rectangle.h"
#include "geom/core/util2d.h"
#include "view/glscope.h"
#include "view/glwindow.h"

#include <QDebug>
#include <QFontMetrics>
#include <QGLFramebufferObject>
#include <QGLPixelBuffer>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>

#include <GL/glu.h>

#include <cmath>

// The axis overlay in the bottom-left corner, the text labels of a frame, and the small solids
// that the overlay and the owner's slots draw.

namespace {

// Depth copies between the window and the axis depth store go through framebuffer blits until one
// fails (Mesa refuses depth blits between the window and an FBO); from then on, for the rest of the
// process, through client memory.
bool &depthBlitsWork()
{
    static bool work = true;
    return work;
}

// A GLU quadric for one drawing call, filled with smooth normals.
class Quadric
{
public:
    Quadric()
        : m_quadric(gluNewQuadric())
    {
        gluQuadricDrawStyle(m_quadric, GLU_FILL);
        gluQuadricNormals(m_quadric, GLU_SMOOTH);
    }
    ~Quadric() { gluDeleteQuadric(m_quadric); }
    Quadric(const Quadric &) = delete;
    Quadric &operator=(const Quadric &) = delete;
    GLUquadric *get() const { return m_quadric; }

private:
    GLUquadric *m_quadric;
};

bool isFinite(const QPointF &p)
{
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Solids

void GLWidget::drawCone(float radius, float height, int slices, int stacks)
{
    Quadric quadric;
    gluCylinder(quadric.get(), radius, 0.0, height, slices, stacks);
    // The base disc faces inward, away from the cone's inside, closing it.
    gluQuadricOrientation(quadric.get(), GLU_INSIDE);
    gluDisk(quadric.get(), 0.0, radius, slices, 1);
}

void GLWidget::drawCylinder(float radius, float height, int slices, int stacks)
{
    Quadric quadric;
    gluCylinder(quadric.get(), radius, radius, height, slices, stacks);
}

void GLWidget::drawSphere(float radius, int slices, int stacks)
{
    Quadric quadric;
    gluSphere(quadric.get(), radius, slices, stacks);
}

// ---------------------------------------------------------------------------------------------
// Axis overlay

void GLWidget::renderFrame()
{
    if (!m_glWindow || !isVisible())
        return;
    if (!m_axis3DEnabled)
        return;
    const int windowHeight = height();
    // The overlay's square in GL window coordinates, rows from the bottom.
    const QRect windowRect(QPoint(m_axisViewRect.x(), windowHeight - 1 - m_axisViewRect.bottom()),
                           m_axisViewRect.size());

    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT);
    beginOverlayMode(-255.0f, 255.0f);
    glEnable(GL_CULL_FACE);
    if (multiSampling())
        glEnable(GL_MULTISAMPLE);
    glPushAttrib(GL_DEPTH_BUFFER_BIT);
    glPushMatrix();
    glTranslatef(float(m_axisBufferRect.width() / 2), float(windowHeight - m_axisBufferRect.height() / 2),
                 0.0f);
    drawAxisDisc();
    const AxisDepthCopy kept = saveAxisDepth(windowRect);
    drawAxisArrows();
    labelAxes();
    glPopMatrix();
    restoreAxisDepth(kept, windowRect);
    glPopAttrib();
    endOverlayMode();
    glPopAttrib();
}

void GLWidget::drawAxisDisc()
{
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    setGLColor(defaultLabelBrush.color(), GL_FRONT_AND_BACK, false);
    glBegin(GL_TRIANGLE_FAN);
    glVertex2f(0.0f, 0.0f);
    for (int i = m_axisCircle.size() - 1; i >= 0; --i)
        glVertex2d(m_axisCircle[i].x(), m_axisCircle[i].y());
    glEnd();
    glDisable(GL_BLEND);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
}

GLWidget::AxisDepthCopy GLWidget::saveAxisDepth(const QRect &windowRect)
{
    // While a grab draws into its framebuffer object the scene's depth is there, not in the window.
    const bool grabbing = m_offscreenFramebuffer && m_offscreenFramebuffer->isBound();
    // The arrows write depth in the corner; the scene's depth there is saved first and put back
    // afterwards so that depth reads in the corner still hit the scene. A multisampled grab
    // buffer refuses pixel reads, and its depth goes with the grabbed frame: nothing to keep.
    if (isAnimating() || (grabbing && m_offscreenFramebuffer->format().samples() > 0))
        return AxisDepthCopy::None;
    if (m_axisDepthBuffer && depthBlitsWork() && !grabbing && blitAxisDepth(true, windowRect))
        return AxisDepthCopy::InBuffer;
    m_axisDepthPixels.resize(m_axisBufferRect.width() * m_axisBufferRect.height() * 4);
    glReadPixels(windowRect.x(), windowRect.y(), m_axisBufferRect.width(), m_axisBufferRect.height(),
                 GL_DEPTH_COMPONENT, GL_FLOAT, m_axisDepthPixels.data());
    return AxisDepthCopy::InMemory;
}

bool GLWidget::blitAxisDepth(bool save, const QRect &windowRect)
{
    QGL::glErrors();
    if (save)
        QGLFramebufferObject::blitFramebuffer(m_axisDepthBuffer, m_axisBufferRect, nullptr, windowRect,
                                              GL_DEPTH_BUFFER_BIT, GL_NEAREST);
    else
        QGLFramebufferObject::blitFramebuffer(nullptr, windowRect, m_axisDepthBuffer, m_axisBufferRect,
                                              GL_DEPTH_BUFFER_BIT, GL_NEAREST);
    if (!QGL::glErrors().isEmpty()) {
        depthBlitsWork() = false;
        return false;
    }
    return true;
}

void GLWidget::drawAxisArrows()
{
    glDepthMask(GL_TRUE);
    const GLfloat emission[4] = {0.1f, 0.1f, 0.1f, 1.0f};
    const GLfloat noEmission[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    const GLfloat lightPosition[4] = {0.0f, 0.0f, -255.0f, 1.0f};
    const GLfloat white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    glMaterialfv(GL_FRONT, GL_EMISSION, emission);
    glLightfv(GL_LIGHT0, GL_POSITION, lightPosition);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);

    const QVector4D turn =
        geom::toAxisAngle(QQuaternion::fromAxisAndAngle(1, 0, 0, -180) * m_camera.orientation.conjugated());
    glRotatef(turn.w(), turn.x(), turn.y(), turn.z());
    struct Arrow
    {
        QColor color;
        float angle, x, y, z;
    };
    const Arrow arrows[] = {{Qt::red, 90, 0, 1, 0}, {Qt::green, 90, -1, 0, 0}, {Qt::blue, 0, 0, 0, 1}};
    for (const Arrow &arrow : arrows) {
        QGL::PushMatrix matrix;
        if (arrow.angle != 0.0f)
            glRotatef(arrow.angle, arrow.x, arrow.y, arrow.z);
        setGLColor(arrow.color, GL_FRONT_AND_BACK, true);
        drawCylinder(2.0f, 32.0f, 7, 2);
        glTranslatef(0.0f, 0.0f, 32.0f);
        drawCone(6.0f, 16.0f, 11, 2);
    }
    glMaterialfv(GL_FRONT, GL_EMISSION, noEmission);
    setGLColor(Qt::white, GL_FRONT_AND_BACK, true);
    drawSphere(7.9998f, 10, 10);
    glDisable(GL_LIGHTING);
}

void GLWidget::labelAxes()
{
    const struct
    {
        const char *text;
        QVector3D point;
        QColor color;
    } labels[] = {{"X", QVector3D(54, -6, -6), Qt::red},
                  {"Y", QVector3D(-6, 54, -6), Qt::green},
                  {"Z", QVector3D(-6, -6, 54), Qt::blue}};
    for (const auto &entry : labels) {
        TextLabel label;
        label.text = QString::fromLatin1(entry.text);
        label.position = project(entry.point);
        label.alignment = Qt::AlignLeft | Qt::AlignTop;
        label.keepInView = true;
        label.color = entry.color;
        label.background = QBrush(Qt::NoBrush);
        renderText(label);
    }
}

void GLWidget::restoreAxisDepth(AxisDepthCopy kept, const QRect &windowRect)
{
    // A restore blit that fails after a good save reads nothing back rather than garbage.
    if (kept == AxisDepthCopy::InBuffer)
        blitAxisDepth(false, windowRect);
    if (kept != AxisDepthCopy::InMemory)
        return;
    glPushAttrib(GL_COLOR_BUFFER_BIT);
    glDepthRange(m_minDepth, 1.0);
    glDepthFunc(GL_GREATER);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glWindowPos2i(windowRect.x(), windowRect.y());
    glDrawPixels(m_axisBufferRect.width(), m_axisBufferRect.height(), GL_DEPTH_COMPONENT, GL_FLOAT,
                 m_axisDepthPixels.constData());
    glPopAttrib();
}

// ---------------------------------------------------------------------------------------------
// Text labels

GLWidget::TextLabel *GLWidget::renderText(TextLabel &label)
{
    if (label.text.isEmpty() || (label.color.isValid() && label.color.alpha() < 1))
        return nullptr;
    // A label at a point that did not project (behind the camera) has nowhere to go.
    if (!isFinite(label.position))
        return nullptr;
    const QFontMetrics metrics(m_glWindow ? m_glWindow->font() : font());
    label.rect = QRectF(metrics.boundingRect(QRect(0, 0, 4096, 4096), 0, label.text));
    label.anchor = label.position;
    switch (label.alignment & 0xE0) {
    case Qt::AlignBottom:
        label.anchor.setY(label.position.y() - label.rect.height());
        break;
    case Qt::AlignVCenter:
        label.anchor.setY(label.position.y() - label.rect.height() / 2.0);
        break;
    default:
        break;
    }
    switch (label.alignment & 0x1F) {
    case Qt::AlignRight:
        label.anchor.setX(label.position.x() - label.rect.width());
        break;
    case Qt::AlignHCenter:
        label.anchor.setX(label.position.x() - label.rect.width() / 2.0);
        break;
    default:
        break;
    }

    const QRectF box(label.anchor.x() + label.rect.x(), label.anchor.y() + label.rect.y(), label.rect.width(),
                     label.rect.height());
    const QRectF view(0, 0, width(), height());
    bool visible = view.contains(box);
    if (!visible && !label.keepInView) {
        visible = view.intersects(box);
    } else if (!visible) {
        const double w = box.width();
        const double h = box.height();
        const geom::Rectangle allowed(geom::Vector2f(float((w + 1) / 2), float((h + 1) / 2)),
                                      geom::Vector2f(float((w + 1) / 2 + view.width() - (w + 1)),
                                                     float((h + 1) / 2 + view.height() - (h + 1))));
        const QPointF centre = box.center();
        const auto hit = util2D::intersectSegmentRectangle(
            geom::Vector2f(float(centre.x()), float(centre.y())),
            geom::Vector2f(float(view.center().x()), float(view.center().y())), allowed);
        if (hit.count > 0) {
            label.anchor += QPointF(hit.first.x - centre.x(), hit.first.y - centre.y());
            visible = true;
        } else {
            qWarning() << "Failed attempt to render text outside of View:" << view << "Point:" << centre;
        }
    }
    if (!visible)
        return nullptr;
    label.rect.translate(label.anchor);
    auto *stored = new TextLabel(label);
    if (stored->background.style() == Qt::NoBrush)
        m_textLabels.append(stored);
    else
        m_textLabels.prepend(stored); // boxes are painted before plain labels
    return stored;
}

void GLWidget::paintOverlay()
{
    if (m_textLabels.isEmpty())
        return;
    QPaintDevice *device = m_glWindow;
    if (m_offscreenFramebuffer && m_offscreenFramebuffer->isValid() && m_offscreenFramebuffer->isBound())
        device = m_offscreenFramebuffer;
    else if (m_offscreenPixelBuffer && m_offscreenPixelBuffer->isValid())
        device = m_offscreenPixelBuffer;
    // The paint engine leaves its own GL state behind (depth test off, depth function, program);
    // the next frame relies on the state of before.
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    QPainter painter(device);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    painter.setPen(Qt::NoPen);
    painter.setFont(m_glWindow->font());
    for (TextLabel *label : qAsConst(m_textLabels)) {
        if (label->drawn || label->background == QBrush(Qt::NoBrush))
            continue;
        QRectF &r = label->rect;
        r.adjust(-3, -3, 4, 3); // (x - 3, y - 3, width + 7, height + 6)
        painter.setBrush(label->background);
        painter.drawRoundedRect(r, 5.0, 5.0, Qt::AbsoluteSize);
        r.adjust(3, 3, -3, -3);
    }
    painter.setBrush(Qt::NoBrush);
    // A soft shadow one pixel below and to the right, then one pixel below, then the text.
    painter.setPen(QColor(96, 96, 96, 192));
    painter.translate(1, 1);
    for (const TextLabel *label : qAsConst(m_textLabels))
        if (!label->drawn)
            painter.drawText(label->rect, label->alignment, label->text);
    painter.setPen(QColor(96, 96, 96, 96));
    painter.translate(-1, 0);
    for (const TextLabel *label : qAsConst(m_textLabels))
        if (!label->drawn)
            painter.drawText(label->rect, label->alignment, label->text);
    painter.translate(0, -1);
    for (TextLabel *label : qAsConst(m_textLabels)) {
        if (label->drawn)
            continue;
        label->drawn = true;
        painter.setPen(label->color.isValid() ? label->color : defaultLabelColor);
        painter.drawText(label->rect, label->alignment, label->text);
    }
    painter.end();
    // Neither the current program nor the generic attribute arrays are attribute state.
    QOpenGLFunctions *functions = QOpenGLContext::currentContext()->functions();
    functions->glUseProgram(0);
    for (GLuint attribute = 0; attribute < 3; ++attribute)
        functions->glDisableVertexAttribArray(attribute);
    functions->glBindBuffer(GL_ARRAY_BUFFER, 0);
    functions->glActiveTexture(GL_TEXTURE0);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
}

QVariant GLWidget::textLabelDataAt(const QPoint &point) const
{
    for (const TextLabel *label : m_textLabels)
        if (label->data.isValid() && label->drawn && label->rect.contains(point))
            return label->data;
    return QVariant();
}

void GLWidget::clearTextLabels()
{
    qDeleteAll(m_textLabels);
    m_textLabels.clear();
}
