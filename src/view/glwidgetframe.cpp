#include "view/glwidget.h"

#include "view/glscope.h"
#include "view/glwindow.h"

#include <QGLFramebufferObject>
#include <QGLPixelBuffer>
#include <QGLShaderProgram>

#include <GL/glu.h>

// Frame rendering: background, passes, shader uniforms, clip planes, and the offscreen grab.

namespace {

// Pushes attribute groups for the lifetime of the guard.
class PushAttrib
{
public:
    explicit PushAttrib(GLbitfield mask) { glPushAttrib(mask); }
    ~PushAttrib() { glPopAttrib(); }
    PushAttrib(const PushAttrib &) = delete;
    PushAttrib &operator=(const PushAttrib &) = delete;
};

QString errorText(GLenum code)
{
    return QString::fromLatin1(reinterpret_cast<const char *>(gluErrorString(code)));
}

void setColorMask(bool enabled)
{
    const GLboolean value = enabled ? GL_TRUE : GL_FALSE;
    glColorMask(value, value, value, value);
}

} // namespace

void GLWidget::paintGL()
{
    clearTextLabels();
    const bool grab = property("GrabFrameBuffer").toBool();
    if (grab)
        beginOffscreenBuffer(-1, -1, false);

    // Background: a gradient quad that covers the whole colour buffer, so only depth is cleared.
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
    glVertex2f(-1.0f, -1.0f);
    glVertex2f(1.0f, -1.0f);
    setGLColor(m_backgroundTopColor, GL_FRONT_AND_BACK, false);
    glVertex2f(1.0f, 1.0f);
    glVertex2f(-1.0f, 1.0f);
    glEnd();
    glDepthMask(GL_TRUE);

    emit configureScene(this);
    setupProjection();
    // A grab that got an offscreen buffer leaves the window's depth buffer as it was.
    const bool toWindow = !grab || !drawsOffscreen();

    m_painting = true;
    glPushAttrib(GL_ENABLE_BIT | GL_VIEWPORT_BIT | GL_DEPTH_BUFFER_BIT | GL_LIGHTING_BIT);
    if (multiSampling())
        glEnable(GL_MULTISAMPLE);
    glDepthRange(m_minDepth, 1.0);
    emit preRenderScene(this);
    renderPasses();
    emit postRenderScene(this);
    glPopAttrib();

    // Overlays lie in front of the scene through their own depth range, without a depth clear.
    glPushAttrib(GL_VIEWPORT_BIT | GL_DEPTH_BUFFER_BIT);
    glDepthRange(0.0, m_minDepth);
    glDepthMask(GL_FALSE);
    glPushAttrib(GL_CURRENT_BIT | GL_LINE_BIT | GL_POLYGON_STIPPLE_BIT | GL_LIGHTING_BIT |
                 GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT | GL_VIEWPORT_BIT | GL_ENABLE_BIT);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    renderFrame();
    glDisable(GL_LIGHTING);
    emit renderOverlay(this);
    glPopAttrib();
    m_painting = false;
    paintOverlay();
    glPopAttrib();

    if (grab)
        grabFrame();
    swapBuffers();
    glFinish();
    if (toWindow)
        m_drawnFrame = frameCamera();

    if (property("FirstPaint").toBool()) {
        setProperty("FirstPaint", QVariant());
        if (gpuVendor() == GpuChromium)
            resizeGL(width(), height());
    }
}

void GLWidget::renderPasses()
{
    if (!m_lightingEnabled) {
        setGLColor(m_edgeColor, GL_FRONT_AND_BACK, false);
        renderScenePass();
        return;
    }
    if (m_xRayShading) {
        renderXRayPasses();
        return;
    }
    if (m_lines && m_shaders && m_wireframeShaderProgram && m_wireframeShaderProgram->isLinked()) {
        renderWireframeProgramPasses();
    } else {
        renderLitFillPass();
        if (m_lines)
            renderEdgePass();
    }
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}

void GLWidget::renderXRayPasses()
{
    glEnable(GL_LIGHTING);
    setGLColor(m_fillColor, GL_FRONT_AND_BACK, true);
    if (m_lines) {
        setProperty("RenderingLines", true);
        {
            PushAttrib attributes(GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_POLYGON_BIT);
            glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
            glDisable(GL_LIGHTING);
            glDisable(GL_DEPTH_TEST);
            if (m_wireframe)
                glBlendFunc(GL_SRC_ALPHA, GL_SRC_ALPHA);
            renderScenePass();
        }
        setProperty("RenderingLines", false);
    }
    if (!m_wireframe)
        renderScenePass();
}

void GLWidget::renderWireframeProgramPasses()
{
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    setGLColor(m_fillColor, GL_FRONT_AND_BACK, true);
    PushAttrib attributes(GL_ENABLE_BIT);
    const bool cull = m_backFaceCulling && !m_wireframe;
    if (cull) {
        glCullFace(GL_BACK);
        glEnable(GL_CULL_FACE);
    }
    setGLColor(m_backFillColor, GL_BACK, true);
    // The program draws fill and edges together in one pass.
    if (!m_hiddenLines && !m_wireframe)
        renderScenePass();
    else
        renderLinesOverFill(cull);
}

void GLWidget::renderLinesOverFill(bool culled)
{
    const bool lines = m_lines;
    const bool wireframe = m_wireframe;
    m_lines = false;
    renderFillScenePass();
    if (culled)
        glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    m_lines = true;
    m_wireframe = true;
    renderScenePass();
    m_lines = lines;
    m_wireframe = wireframe;
}

void GLWidget::renderLitFillPass()
{
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    setGLColor(m_fillColor, GL_FRONT_AND_BACK, true);
    PushAttrib attributes(GL_ENABLE_BIT);
    if (m_lines) {
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(0.5f, 1.0f);
    }
    if (m_backFaceCulling && !m_wireframe) {
        glCullFace(GL_BACK);
        glEnable(GL_CULL_FACE);
    }
    setGLColor(m_backFillColor, GL_BACK, true);
    renderFillScenePass();
}

void GLWidget::renderEdgePass()
{
    setProperty("RenderingLines", true);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    setGLColor(m_edgeColor, GL_FRONT_AND_BACK, true);
    {
        PushAttrib attributes(GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT);
        glDisable(GL_LIGHTING);
        if (m_wireframe) {
            glDisable(GL_DEPTH_TEST);
            glBlendFunc(GL_SRC_ALPHA, GL_SRC_ALPHA);
        } else if (m_hiddenLines) {
            glDisable(GL_DEPTH_TEST);
        }
        renderScenePass();
    }
    setProperty("RenderingLines", false);
}

void GLWidget::renderFillScenePass()
{
    if (m_wireframe) {
        PushAttrib colors(GL_COLOR_BUFFER_BIT);
        setColorMask(false);
        renderScenePass();
    } else {
        renderScenePass();
    }
}

void GLWidget::renderScenePass()
{
    QGL::glErrors();
    glDisable(GL_CLIP_PLANE0);
    glDisable(GL_CLIP_PLANE1);

    const auto enableClipPlanes = [this] { QGL::glEnableClipPlanes(clipPlaneEquations()); };

    if (m_xRayShading && m_xRayShaderProgram && m_xRayShaderProgram->isLinked()) {
        PushAttrib attributes(GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_DEPTH_BUFFER_BIT);
        glDisable(GL_CULL_FACE);
        glDisable(GL_BLEND);
        setColorMask(false);
        if (m_xRayShaderProgram->bind())
            m_boundProgramId = m_xRayShaderProgram->programId();
        setShaderUniforms();
        const bool clipped = m_clipDirection != Clip::NoClip;
        if (clipped) {
            glPushAttrib(GL_ENABLE_BIT);
            enableClipPlanes();
        }
        {
            // Depth first, so that only the nearest layer of the shell blends in.
            QGL::PushMatrix matrix;
            emit renderScene(this);
        }
        glDisable(GL_DEPTH_TEST);
        setColorMask(true);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE);
        glEnable(GL_BLEND);
        {
            QGL::PushMatrix matrix;
            emit renderScene(this);
        }
        if (clipped)
            glPopAttrib();
        m_xRayShaderProgram->release();
        m_boundProgramId = 0;
        return;
    }

    PushAttrib attributes(GL_ENABLE_BIT);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    QGL::PushMatrix matrix;
    bool programBound = false;
    if (m_shaders && m_fixedShaderProgram && m_fixedShaderProgram->isLinked() && m_fixedColorShaderProgram &&
        m_fixedColorShaderProgram->isLinked()) {
        QGLShaderProgram *program = m_fixedShaderProgram;
        if (m_lines && m_wireframeShaderProgram && m_wireframeShaderProgram->isLinked())
            program = m_wireframeShaderProgram;
        else if (property("RenderingLines").toBool())
            program = m_fixedColorShaderProgram;
        if (program->bind()) {
            m_boundProgramId = program->programId();
            programBound = true;
        }
        setShaderUniforms();
    }
    const bool clipped = m_clipDirection != Clip::NoClip;
    if (clipped) {
        glPushAttrib(GL_ENABLE_BIT);
        enableClipPlanes();
    }
    emit renderScene(this);
    if (clipped)
        glPopAttrib();
    if (programBound && m_boundProgramId != 0) {
        for (QGLShaderProgram *program :
             {m_fixedShaderProgram, m_fixedColorShaderProgram, m_wireframeShaderProgram}) {
            if (program && program->programId() == m_boundProgramId) {
                program->release();
                break;
            }
        }
        m_boundProgramId = 0;
    }
}

QVector<double> GLWidget::clipPlaneEquations() const
{
    const double o = m_clipOffset;
    const double h = m_clipHighlight;
    switch (m_clipDirection) {
    case Clip::FromTop:
        return {0.0, 0.0, -1.0, o};
    case Clip::FromBottom:
        return {0.0, 0.0, 1.0, -o};
    case Clip::Slab:
        return {0.0, 0.0, -1.0, o + h / 2.0, 0.0, 0.0, 1.0, h / 2.0 - o};
    default:
        return {0.0, 0.0, 0.0, 0.0};
    }
}

QVector<QVector4D> GLWidget::clipPlanes() const
{
    const QVector3D n = m_modelViewMatrix.column(2).toVector3D();
    const float o = float(m_clipOffset);
    const float h = m_clipHighlight;
    const float s = m_camera.position.z();
    QVector<QVector4D> planes(2);
    switch (m_clipDirection) {
    case Clip::FromTop:
        planes[0] = QVector4D(-n, o - s);
        break;
    case Clip::FromBottom:
        planes[0] = QVector4D(n, s - o);
        break;
    case Clip::Slab:
        planes[0] = QVector4D(-n, h / 2 + o - s);
        planes[1] = QVector4D(n, h / 2 + s - o);
        break;
    default:
        break;
    }
    return planes;
}

void GLWidget::setShaderUniforms()
{
    if (m_boundProgramId == 0)
        return;
    const QVector<QVector4D> planes = clipPlanes();
    const auto isBound = [this](const QGLShaderProgram *program) {
        return program && program->programId() == m_boundProgramId;
    };
    const GLfloat lineWidth = 1.3f;
    if (isBound(m_fixedShaderProgram)) {
        m_fixedShaderProgram->setUniformValue("lighting", bool(glIsEnabled(GL_LIGHTING)));
        m_fixedShaderProgram->setUniformValueArray("clipPlane", planes.constData(), planes.size());
    }
    if (isBound(m_fixedColorShaderProgram)) {
        m_fixedColorShaderProgram->setUniformValue("color", m_edgeColor);
        m_fixedColorShaderProgram->setUniformValueArray("clipPlane", planes.constData(), planes.size());
    }
    if (isBound(m_wireframeShaderProgram)) {
        m_wireframeShaderProgram->setUniformValue("backFillColor", m_backFillColor);
        m_wireframeShaderProgram->setUniformValue("lighting", bool(glIsEnabled(GL_LIGHTING)));
        m_wireframeShaderProgram->setUniformValue("wireColor", m_edgeColor);
        m_wireframeShaderProgram->setUniformValue("wireframe", m_lines);
        m_wireframeShaderProgram->setUniformValue("fill", !m_wireframe);
        m_wireframeShaderProgram->setUniformValue("lineWidth", lineWidth);
        m_wireframeShaderProgram->setUniformValueArray("clipPlane", planes.constData(), planes.size());
    }
    if (isBound(m_xRayShaderProgram)) {
        m_xRayShaderProgram->setUniformValue("backFillColor", m_backFillColor);
        m_xRayShaderProgram->setUniformValue("edgeFalloff", GLfloat(1.0f));
        m_xRayShaderProgram->setUniformValueArray("clipPlane", planes.constData(), planes.size());
        m_xRayShaderProgram->setUniformValue("clipHighlight", GLfloat(m_clipHighlight));
    }
}

void GLWidget::switchToFixedProgram()
{
    if (!isWireframeProgramBound())
        return;
    m_wireframeShaderProgram->release();
    if (m_fixedShaderProgram && m_fixedShaderProgram->bind()) {
        m_boundProgramId = m_fixedShaderProgram->programId();
        setShaderUniforms();
    } else {
        m_boundProgramId = 0;
    }
}

void GLWidget::resizeGL(int width, int height)
{
    m_axisViewRect.moveBottom(height - 1);
    glViewport(0, 0, width, height);
    refresh(false);
    emit viewResized(width, height);
}

// ---------------------------------------------------------------------------------------------
// Offscreen grab

void GLWidget::beginOffscreenBuffer(int width, int height, bool allowPixelBuffer)
{
    if (width < 0)
        width = this->width();
    if (height < 0)
        height = this->height();
    m_offscreenPushed = false;
    if (width == 0 || height == 0)
        return;
    GLenum pending = GL_NO_ERROR;
    const GLbitfield mask = GL_TRANSFORM_BIT | GL_VIEWPORT_BIT | GL_DEPTH_BUFFER_BIT;
    if (hasGLExtension(QStringLiteral("GL_ARB_framebuffer_object"))) {
        QGL::glErrors();
        // The grab is drawn as the window is: with its samples, or none.
        const int samples = multiSampling() ? m_surfaceSamples : 0;
        const QSize size(width, height);
        if (!m_offscreenFramebuffer || !m_offscreenFramebuffer->isValid() ||
            m_offscreenFramebuffer->format().samples() != samples || m_offscreenFramebuffer->size() != size) {
            QGLFramebufferObjectFormat format;
            format.setAttachment(QGLFramebufferObject::CombinedDepthStencil);
            format.setInternalTextureFormat(m_glWindow->format().testOption(QGL::AlphaChannel) ? GL_RGBA
                                                                                               : GL_RGB8);
            format.setTextureTarget(GL_TEXTURE_2D);
            format.setSamples(samples);
            delete m_offscreenFramebuffer;
            m_offscreenFramebuffer = new QGLFramebufferObject(size, format);
        }
        if (m_offscreenFramebuffer->isValid() && m_offscreenFramebuffer->bind() &&
            (pending = glGetError()) == GL_NO_ERROR) {
            glPushAttrib(mask);
            m_offscreenPushed = true;
            return;
        }
        m_offscreenFramebuffer->release();
        delete m_offscreenFramebuffer;
        m_offscreenFramebuffer = nullptr;
    }
    if (allowPixelBuffer && QGLPixelBuffer::hasOpenGLPbuffers()) {
        QGL::glErrors();
        delete m_offscreenPixelBuffer;
        m_offscreenPixelBuffer = new QGLPixelBuffer(width, height, m_glWindow->format(), m_glWindow);
        if (m_offscreenPixelBuffer->isValid() && m_offscreenPixelBuffer->makeCurrent() &&
            (pending = glGetError()) == GL_NO_ERROR) {
            glPushAttrib(mask);
            m_offscreenPushed = true;
            return;
        }
        m_offscreenPixelBuffer->doneCurrent();
        delete m_offscreenPixelBuffer;
        m_offscreenPixelBuffer = nullptr;
        m_glWindow->makeCurrent();
    }
    glPushAttrib(mask);
    m_offscreenPushed = true;
    if (pending != GL_NO_ERROR)
        qWarning() << "Begin Offscreen Buffer generated an error:" << errorText(pending);
}

QImage GLWidget::grabOffscreenImage()
{
    QImage source;
    if (m_offscreenFramebuffer && m_offscreenFramebuffer->isValid())
        source = m_offscreenFramebuffer->toImage();
    else if (m_offscreenPixelBuffer && m_offscreenPixelBuffer->isValid())
        source = m_offscreenPixelBuffer->toImage();
    else
        return QImage();
    // The read-back bits are the buffer's colours whatever format Qt labels them with; only the
    // alpha is replaced, so no conversion may run on them.
    if (source.depth() != 32)
        source = source.convertToFormat(QImage::Format_ARGB32);
    QImage image(source.size(), QImage::Format_RGB32);
    const quint32 opaque = 0xff000000u;
    for (int y = 0; y < source.height(); ++y) {
        const quint32 *from = reinterpret_cast<const quint32 *>(source.constScanLine(y));
        quint32 *to = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < source.width(); ++x)
            to[x] = opaque | from[x];
    }
    return image;
}

void GLWidget::endOffscreenBuffer()
{
    // A zero-sized widget got no buffer and pushed nothing: popping would underflow the stack.
    if (m_offscreenPushed)
        glPopAttrib();
    m_offscreenPushed = false;
    if (m_offscreenFramebuffer)
        m_offscreenFramebuffer->release();
    if (m_offscreenPixelBuffer) {
        m_offscreenPixelBuffer->doneCurrent();
        delete m_offscreenPixelBuffer;
        m_offscreenPixelBuffer = nullptr;
        m_glWindow->makeCurrent();
    }
    const GLenum code = glGetError();
    if (code != GL_NO_ERROR)
        qWarning() << "End Offscreen Buffer generated an error:" << errorText(code);
}

bool GLWidget::drawsOffscreen() const
{
    return (m_offscreenFramebuffer && m_offscreenFramebuffer->isBound()) || m_offscreenPixelBuffer;
}

void GLWidget::grabFrame()
{
    const bool wasShown = drawsOffscreen() && m_glWindow->isVisible();
    m_frameImage = grabOffscreenImage();
    endOffscreenBuffer();
    if (m_frameImage.isNull())
        m_frameImage = m_glWindow->grabFrameBuffer(false);
    setProperty("GrabFrameBuffer", QVariant());
    emit frameBufferReady(m_frameImage);
    if (wasShown)
        refresh(false);
}
