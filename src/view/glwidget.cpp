#include "view/glwidget.h"

#include "view/glscope.h"
#include "view/glwindow.h"
#include "view/viewlog.h"

#include <QDataStream>
#include <QFile>
#include <QGLFramebufferObject>
#include <QGLPixelBuffer>
#include <QGLShaderProgram>
#include <QGridLayout>
#include <QHash>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPropertyAnimation>
#include <QRegExp>
#include <QTimer>

#include <GL/glu.h>

#include <cmath>

static void initViewResources()
{
    // The resources live in a static library: nothing would pull their registration in.
    Q_INIT_RESOURCE(view);
}

const QColor GLWidget::defaultBackgroundTopColor(255, 255, 255, 255);
const QColor GLWidget::defaultBackgroundBottomColor(216, 216, 216, 255);
const QColor GLWidget::defaultEdgeColor(0, 0, 0, 255);
const QColor GLWidget::defaultFillColor(255, 170, 0, 255);
const QColor GLWidget::defaultBackFillColor(255, 0, 0, 255);
const QColor GLWidget::defaultOffsideFillColor(255, 0, 191, 255);
const QColor GLWidget::defaultXRayBackgroundTopColor(0, 0, 0, 255);
const QColor GLWidget::defaultXRayBackgroundBottomColor(0, 0, 0, 255);
const QColor GLWidget::defaultXRayFillColor(85, 170, 255, 255);
const QColor GLWidget::defaultLabelColor(255, 255, 255, 255);
const QBrush GLWidget::defaultLabelBrush(QColor(64, 64, 64, 64), Qt::SolidPattern);

namespace {

// Process-wide driver facts, written once by the GUI thread.
QString &vendorCache()
{
    static QString vendor;
    return vendor;
}

QString &rendererCache()
{
    static QString renderer;
    return renderer;
}

int &vendorClassCache()
{
    static int vendorClass = 0;
    return vendorClass;
}

QHash<QString, bool> &extensionCache()
{
    static QHash<QString, bool> extensions;
    return extensions;
}

// Occlusion-query entry points, resolved at run time by name.
using GenQueries = void (*)(GLsizei, GLuint *);
using DeleteQueries = void (*)(GLsizei, const GLuint *);
using BeginQuery = void (*)(GLenum, GLuint);
using EndQuery = void (*)(GLenum);
using GetQueryiv = void (*)(GLenum, GLenum, GLint *);
using GetQueryObjectiv = void (*)(GLuint, GLenum, GLint *);
using GetQueryObjectuiv = void (*)(GLuint, GLenum, GLuint *);

struct QueryFunctions
{
    GenQueries genQueries = nullptr;
    DeleteQueries deleteQueries = nullptr;
    BeginQuery beginQuery = nullptr;
    EndQuery endQuery = nullptr;
    GetQueryiv getQueryiv = nullptr;
    GetQueryObjectiv getQueryObjectiv = nullptr;
    GetQueryObjectuiv getQueryObjectuiv = nullptr;

    bool complete() const
    {
        return genQueries && deleteQueries && beginQuery && endQuery && getQueryiv && getQueryObjectiv &&
               getQueryObjectuiv;
    }
};

QueryFunctions &queries()
{
    static QueryFunctions functions;
    return functions;
}

QString readDriverString(GLenum name)
{
    const GLubyte *text = glGetString(name);
    return text ? QString::fromLatin1(reinterpret_cast<const char *>(text)) : QString();
}

// Reads a driver string through a temporary context when the cache is still empty.
QString cachedDriverString(QString &cache, GLenum name)
{
    if (cache.isEmpty()) {
        QGLWidget probe;
        probe.makeCurrent();
        if (probe.isValid())
            cache = readDriverString(name);
        probe.doneCurrent();
    }
    return cache;
}

// Whether this platform can make a GL context current at all (it cannot on offscreen); asked
// once, through a throw-away context on an offscreen surface.
bool canMakeContext()
{
    static const bool can = [] {
        QOpenGLContext context;
        if (!context.create())
            return false;
        QOffscreenSurface surface;
        surface.create();
        if (!surface.isValid() || !context.makeCurrent(&surface))
            return false;
        context.doneCurrent();
        return true;
    }();
    return can;
}

// The driver's version flags. Without a current context QGLFormat reads GL_VERSION through a
// temporary one, and reads through a null context when that cannot be made: there the answer is
// no version at all.
QGLFormat::OpenGLVersionFlags versionFlags()
{
    if (!QOpenGLContext::currentContext() && !canMakeContext())
        return QGLFormat::OpenGL_Version_None;
    return QGLFormat::openGLVersionFlags();
}

// The samples of a surface's own framebuffer, read in its context (made current); 0 without
// sample buffers or without a context. QGLWidget::format() answers what was asked for.
int grantedSamples(QGLWidget *surface)
{
    if (!surface->isValid())
        return 0;
    surface->makeCurrent();
    if (!QOpenGLContext::currentContext())
        return 0;
    GLint buffers = 0;
    GLint samples = 0;
    glGetIntegerv(GL_SAMPLE_BUFFERS, &buffers);
    glGetIntegerv(GL_SAMPLES, &samples);
    return buffers > 0 ? samples : 0;
}

void silentMessageHandler(QtMsgType, const QMessageLogContext &, const QString &) {}

// Installs a handler that drops every message while it lives, so that compiler output of shader
// builds does not reach the log; the previous handler comes back at its end.
class SilentMessages
{
public:
    SilentMessages()
        : m_previous(qInstallMessageHandler(silentMessageHandler))
    {}
    ~SilentMessages() { qInstallMessageHandler(m_previous); }
    SilentMessages(const SilentMessages &) = delete;
    SilentMessages &operator=(const SilentMessages &) = delete;

private:
    QtMessageHandler m_previous;
};

QString readResourceText(const QString &name)
{
    QFile file(QStringLiteral(":/resources/shaders/") + name);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}

QString replaceAll(QString text, const QString &pattern, const QString &replacement)
{
    QRegExp expression(pattern, Qt::CaseSensitive, QRegExp::RegExp2);
    return text.replace(expression, replacement);
}

const QString LineLeadingInOut = QStringLiteral("(^|[\r\n])(in|out)\\b");

} // namespace

// ---------------------------------------------------------------------------------------------
// Driver facts

QString GLWidget::glVendorString()
{
    return cachedDriverString(vendorCache(), GL_VENDOR);
}

QString GLWidget::glRendererString()
{
    return cachedDriverString(rendererCache(), GL_RENDERER);
}

void GLWidget::seedDriverStrings(const QString &vendor, const QString &renderer)
{
    if (vendorCache().isEmpty())
        vendorCache() = vendor;
    if (rendererCache().isEmpty())
        rendererCache() = renderer;
}

GLWidget::GpuVendor GLWidget::classifyGpuVendor(const QString &vendor, const QString &renderer)
{
    const auto starts = [](const QString &text, const char *prefix) {
        return text.startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
    };
    if (starts(vendor, "intel") || starts(vendor, "tungsten graphics"))
        return GpuIntel;
    if (starts(vendor, "ati technologies") || starts(vendor, "advanced micro devices"))
        return GpuAti;
    if (starts(vendor, "nvidia corporation") || starts(vendor, "nouveau"))
        return GpuNvidia;
    if (starts(vendor, "matrox"))
        return GpuMatrox;
    if (starts(renderer, "chromium") || starts(vendor, "humper"))
        return GpuChromium;
    if (starts(vendor, "vmware"))
        return GpuVmware;
    if (renderer.indexOf(QLatin1String("software"), 0, Qt::CaseInsensitive) >= 0 || starts(vendor, "mesa"))
        return GpuSoftware;
    return GpuOther;
}

GLWidget::GpuVendor GLWidget::gpuVendor()
{
    int &cached = vendorClassCache();
    if (cached == 0)
        cached = classifyGpuVendor(glVendorString(), glRendererString());
    return GpuVendor(cached);
}

bool GLWidget::hasOpenGL15()
{
    return versionFlags() & QGLFormat::OpenGL_Version_1_5;
}

bool GLWidget::hasOpenGL20()
{
    return versionFlags() & QGLFormat::OpenGL_Version_2_0;
}

bool GLWidget::hasOpenGL32()
{
    return versionFlags() & QGLFormat::OpenGL_Version_3_2;
}

bool GLWidget::hasGLExtension(const QString &name)
{
    return extensionCache().contains(name);
}

QGLFormat GLWidget::glFormat(bool sampleBuffers)
{
    QGLFormat format(QGL::AlphaChannel | QGL::NoStencilBuffer);
    format.setSampleBuffers(sampleBuffers);
    if (hasOpenGL32()) {
        format.setVersion(3, 2);
        format.setProfile(QGLFormat::CompatibilityProfile);
    }
    return format;
}

QGLFormat GLWidget::defaultFormat()
{
    return glFormat(gpuVendor() != GpuAti);
}

bool GLWidget::isMultiSamplingSupported()
{
    if (!QOpenGLContext::currentContext() && !canMakeContext())
        return false; // the probe would get no context to ask
    const QGLFormat wanted(QGL::SampleBuffers);
    QGLWidget probe(wanted);
    const bool granted = grantedSamples(&probe) > 1;
    probe.doneCurrent();
    return granted;
}

bool GLWidget::isMultiSamplingUsable()
{
    return gpuVendor() != GpuAti && isMultiSamplingSupported();
}

void GLWidget::resolveQueryFunctions(const QGLContext *context)
{
    if (!context || !hasOpenGL15())
        return;
    QueryFunctions &q = queries();
    const auto resolve = [context](const char *name) { return context->getProcAddress(QLatin1String(name)); };
    q.genQueries = reinterpret_cast<GenQueries>(resolve("glGenQueries"));
    q.deleteQueries = reinterpret_cast<DeleteQueries>(resolve("glDeleteQueries"));
    q.beginQuery = reinterpret_cast<BeginQuery>(resolve("glBeginQuery"));
    q.endQuery = reinterpret_cast<EndQuery>(resolve("glEndQuery"));
    q.getQueryiv = reinterpret_cast<GetQueryiv>(resolve("glGetQueryiv"));
    q.getQueryObjectiv = reinterpret_cast<GetQueryObjectiv>(resolve("glGetQueryObjectiv"));
    q.getQueryObjectuiv = reinterpret_cast<GetQueryObjectuiv>(resolve("glGetQueryObjectuiv"));
}

bool GLWidget::testOcclusionQuery()
{
    if (!hasOpenGL15() || !queries().complete())
        return false;
    QGLWidget probe;
    probe.makeCurrent();
    if (!probe.isValid())
        return false;
    resolveQueryFunctions(probe.context());
    const QueryFunctions &q = queries();
    if (!q.complete())
        return false;
    GLint counterBits = 0;
    q.getQueryiv(GL_SAMPLES_PASSED, GL_QUERY_COUNTER_BITS, &counterBits);
    bool counted = false;
    if (counterBits != 0) {
        GLuint query = 0;
        q.genQueries(1, &query);
        q.beginQuery(GL_SAMPLES_PASSED, query);
        glBegin(GL_TRIANGLES);
        glNormal3f(0, 0, 1);
        glVertex3f(0, 1, 0);
        glVertex3f(-1, -1, 0);
        glVertex3f(1, -1, 0);
        glEnd();
        q.endQuery(GL_SAMPLES_PASSED);
        GLint available = 0;
        while (!available)
            q.getQueryObjectiv(query, GL_QUERY_RESULT_AVAILABLE, &available);
        GLuint samples = 0;
        q.getQueryObjectuiv(query, GL_QUERY_RESULT, &samples);
        q.deleteQueries(1, &query);
        counted = samples != 0;
    }
    probe.doneCurrent();
    return counted;
}

QString GLWidget::rewriteVertexSource(const QString &source)
{
    QString text = replaceAll(source, QStringLiteral("(^|[\r\n])(#define USE_CLIP_VERTEX|#version)[^\r\n]*"),
                              QStringLiteral("\\1"));
    text.prepend(QStringLiteral("#define USE_CLIP_VERTEX 1\n"));
    return replaceAll(text, LineLeadingInOut, QStringLiteral("\\1varying"));
}

QString GLWidget::rewriteFragmentSource(const QString &source)
{
    const QString text =
        replaceAll(source, QStringLiteral("(^|[\r\n])#version[^\r\n]*"), QStringLiteral("\\1"));
    return replaceAll(text, LineLeadingInOut, QStringLiteral("\\1varying"));
}

// ---------------------------------------------------------------------------------------------
// Construction

GLWidget::GLWidget(QWidget *parent)
    : QWidget(parent)
    , m_axisViewRect(0, 0, 128, 128)
    , m_axisBufferRect(0, 0, 128, 128)
    , m_backgroundBottomColor(defaultBackgroundBottomColor)
    , m_backgroundTopColor(defaultBackgroundTopColor)
    , m_edgeColor(defaultEdgeColor)
    , m_fillColor(defaultFillColor)
    , m_offsideFillColor(defaultOffsideFillColor)
    , m_backFillColor(defaultBackFillColor)
    , m_pendingPress(QEvent::None, QPointF(), Qt::NoButton, Qt::NoButton, Qt::NoModifier)
{
    initViewResources();
    const QString cursors = QStringLiteral(":/resources/cursors/");
    const auto cursor = [&cursors](const char *name, int x = 0, int y = 0) {
        return QCursor(QPixmap(cursors + QLatin1String(name)), x, y);
    };
    m_defaultCursor = cursor("cursor.png");
    m_rotateCursor = cursor("cursor_rotate.png");
    m_rotateModelCursor = cursor("cursor_rotate_model.png");
    m_tiltCursor = cursor("cursor_tilt.png");
    m_panCursor = cursor("cursor_pan.png");
    m_panModelCursor = cursor("cursor_pan_model.png");
    m_zoomCursor = cursor("cursor_zoom.png");
    m_zoomModelCursor = cursor("cursor_zoom_model.png");
    m_crosshairCursor = cursor("cursor_crosshair.png", 8, 8);
    QFont widgetFont = font();
    widgetFont.setFamily(QStringLiteral("MS Shell Dlg 2"));
    setFont(widgetFont);

    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    createGLWindow(defaultFormat());
    setAutoFillBackground(false);
    setMouseTracking(true);

    m_currentCursor = &m_defaultCursor;
    updateCursor();

    m_delayedMouseTimer = new QTimer(this);
    m_delayedMouseTimer->setObjectName(QStringLiteral("delayedMouseTimer"));
    m_delayedMouseTimer->setInterval(1000);
    m_delayedMouseTimer->setSingleShot(true);

    setProperty("Animation", 0.0);
    setAnimationEnabled(true);

    const auto q = [](float x, float y, float z, float degrees) {
        return QQuaternion::fromAxisAndAngle(x, y, z, degrees);
    };
    const float isometric = 54.7356f;
    m_standardViews = {QQuaternion(),
                       q(1, 0, 0, 180),
                       q(0, 0, 1, 180) * q(1, 0, 0, 90),
                       q(1, 0, 0, 90),
                       q(1, 0, 0, 90) * q(0, 1, 0, 90),
                       q(1, 0, 0, 90) * q(0, 1, 0, -90),
                       q(0, 0, 1, -45) * q(1, 0, 0, isometric),
                       q(0, 0, 1, 45) * q(1, 0, 0, isometric),
                       q(0, 0, 1, 135) * q(1, 0, 0, isometric),
                       q(0, 0, 1, -135) * q(1, 0, 0, isometric)};
    m_camera.orientation = m_standardViews.first();

    makeCurrent();
    cacheDriverFacts();
    m_occlusionQueryAvailable = testOcclusionQuery();
    // The test ran in a context of its own.
    makeCurrent();
    if (!QGLFramebufferObject::hasOpenGLFramebufferBlit())
        qWarning("Frame buffer blitting is unsupported, performance will be affected");

    // The disc behind the axis arrows: (64, 0) turned in 15 degree steps, closed.
    for (int step = 0; step <= 24; ++step) {
        const double angle = (step % 24) * 15.0 * M_PI / 180.0;
        m_axisCircle << QPointF(64.0 * std::cos(angle), 64.0 * std::sin(angle));
    }
    m_axisViewRect.moveBottom(height() - 1);
    QMetaObject::connectSlotsByName(this);
}

GLWidget::~GLWidget()
{
    if (m_glWindow && m_glWindow->isValid())
        m_glWindow->makeCurrent();
    freeDisplayList();
    delete m_wireframeShaderProgram;
    delete m_fixedShaderProgram;
    delete m_fixedColorShaderProgram;
    delete m_xRayShaderProgram;
    delete m_offscreenFramebuffer;
    delete m_offscreenPixelBuffer;
    delete m_axisDepthBuffer;
    qDeleteAll(m_textLabels);
}

void GLWidget::createGLWindow(QGLFormat format)
{
    const bool multisampled = format.sampleBuffers();
    const auto build = [this](const QGLFormat &chosen) {
        delete m_glWindow;
        m_glWindow = new GLWindow(chosen, this);
        m_surfaceSamples = grantedSamples(m_glWindow);
    };
    build(format);
    // note: a display may offer multisampled visuals only without alpha (Xvfb's GLX does), and Qt's
    // choice of visual gives the samples up before the alpha; the view never reads the
    // destination alpha, so anti-aliasing wins.
    if (multisampled && m_surfaceSamples <= 1 && format.alpha() && m_glWindow->isValid()) {
        format.setAlpha(false);
        build(format);
    }
    if (multisampled && m_surfaceSamples <= 1 && m_glWindow->isValid()) {
        static bool reported = false;
        if (!reported) {
            reported = true;
            qCWarning(lcView,
                      "GLWidget: the display grants no multisampled surface (%d samples); the view is drawn "
                      "without anti-aliasing.",
                      m_surfaceSamples);
        }
        // A surface whose format says what it has: the grab then matches the window.
        build(glFormat(false));
    }
    m_glWindow->move(0, 0);
    connect(m_glWindow, &GLWindow::initializeGLEvent, this, &GLWidget::initializeGL);
    connect(m_glWindow, &GLWindow::paintGLEvent, this, &GLWidget::paintGL);
    connect(m_glWindow, &GLWindow::resizeGLEvent, this, &GLWidget::resizeGL);
    m_glWindow->makeCurrent();
    m_glWindow->setAutoBufferSwap(false);
    static_cast<QGridLayout *>(layout())->addWidget(m_glWindow, 0, 0);
}

void GLWidget::cacheDriverFacts()
{
    resolveQueryFunctions(m_glWindow->context());
    if (vendorCache().isEmpty())
        vendorCache() = readDriverString(GL_VENDOR);
    if (rendererCache().isEmpty())
        rendererCache() = readDriverString(GL_RENDERER);
    QHash<QString, bool> &extensions = extensionCache();
    if (extensions.isEmpty()) {
        const QStringList names = readDriverString(GL_EXTENSIONS).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &name : names)
            extensions.insert(name, true);
    }
}

QSize GLWidget::sizeHint() const
{
    return QSize(320, 320);
}

QSize GLWidget::minimumSizeHint() const
{
    return QSize(50, 50);
}

// ---------------------------------------------------------------------------------------------
// Plain state

int GLWidget::delayedMouseTimerInterval() const
{
    return m_delayedMouseTimer->interval();
}

bool GLWidget::animationEnabled() const
{
    return m_animation != nullptr;
}

bool GLWidget::animateClipPlane() const
{
    return m_animation && m_animateClipPlane;
}

bool GLWidget::animateZoom() const
{
    return m_animation && m_animateZoom;
}

bool GLWidget::isAnimating() const
{
    if (m_animation && m_animation->state() != QAbstractAnimation::Stopped)
        return true;
    return m_dragging;
}

bool GLWidget::multiSampling() const
{
    return m_surfaceSamples > 1;
}

bool GLWidget::isViewHidden() const
{
    return m_glWindow && m_glWindow->isHidden();
}

bool GLWidget::isWireframeProgramBound() const
{
    return m_boundProgramId > 0 && m_wireframeShaderProgram &&
           m_boundProgramId == m_wireframeShaderProgram->programId();
}

void GLWidget::refresh(bool immediate)
{
    if (!m_glWindow)
        return;
    if (immediate)
        m_glWindow->repaint();
    else
        m_glWindow->update();
}

void GLWidget::setUpdatesEnabledInvokable(bool enable)
{
    QWidget::setUpdatesEnabled(enable);
}

void GLWidget::setAnimateClipPlane(bool enabled)
{
    m_animateClipPlane = enabled;
}

void GLWidget::setAnimateZoom(bool enabled)
{
    m_animateZoom = enabled;
}

void GLWidget::setAnimationDuration(int duration)
{
    m_animationDuration = duration;
}

void GLWidget::setAnimationEnabled(bool enabled)
{
    if (enabled == (m_animation != nullptr))
        return;
    if (enabled) {
        m_animation = new QPropertyAnimation(this, "Animation", this);
        m_animation->setDuration(m_animationDuration);
        m_animation->setStartValue(0.0);
        m_animation->setEndValue(1.0);
        m_animation->setEasingCurve(QEasingCurve::OutCubic);
        connect(m_animation, &QPropertyAnimation::valueChanged, this, &GLWidget::animationRefresh);
        connect(m_animation, &QPropertyAnimation::finished, this, &GLWidget::animationRefresh);
    } else {
        animateFlush(false);
        m_animation->disconnect(this);
        m_animation->deleteLater();
        m_animation = nullptr;
    }
}

void GLWidget::setAxis3DEnabled(bool enabled)
{
    m_axis3DEnabled = enabled;
}

void GLWidget::setMultiSampling(bool enabled)
{
    if (multiSampling() == enabled)
        return;
    layout()->removeWidget(m_glWindow);
    m_glWindow->makeCurrent();
    freeDisplayList();
    // The grab's framebuffer object would outlive its context and then pass for bound in the next
    // one (both name framebuffer 0).
    delete m_offscreenFramebuffer;
    m_offscreenFramebuffer = nullptr;
    // GL objects of the old context die with it; the next initializeGL builds new ones.
    delete m_glWindow;
    m_glWindow = nullptr;
    m_glInitialized = false;
    m_drawnFrame = FrameCamera();
    createGLWindow(glFormat(enabled));
    m_boundProgramId = 0;
    makeCurrent();
    resolveQueryFunctions(m_glWindow->context());
    refresh();
}

void GLWidget::setSceneCenter(QVector3D center)
{
    m_camera.sceneCenter = center;
}

void GLWidget::setSceneRadius(float radius)
{
    const float tiny = 1e-5f;
    if (std::fabs(m_camera.sceneRadius) > tiny && std::fabs(radius) > tiny)
        m_camera.radiusScale *= radius / m_camera.sceneRadius;
    m_camera.sceneRadius = radius;
}

void GLWidget::setFieldOfView(float fieldOfView)
{
    m_camera.fieldOfView = fieldOfView;
    refresh();
}

void GLWidget::setFieldOfViewD(int degrees)
{
    m_camera.fieldOfView = float(degrees * 0.017453292f);
    refresh();
}

void GLWidget::setHorizontalFieldOfView(float fieldOfView)
{
    m_camera.fieldOfView = float(2.0 * std::atan(std::tan(fieldOfView / 2.0) / aspectRatio()));
    refresh();
}

void GLWidget::setCameraPosition(QVector3D position)
{
    m_camera.position = position;
}

void GLWidget::setCameraOrientation(QQuaternion orientation)
{
    m_camera.orientation = orientation;
}

void GLWidget::setViewState(ViewState viewState)
{
    setViewState(viewState, false);
}

void GLWidget::setRotationCenter(QVector3D center)
{
    m_rotationCenter = center;
}

void GLWidget::setLines(bool enabled)
{
    m_lines = enabled;
    refresh();
}

void GLWidget::setHiddenLines(bool enabled)
{
    m_hiddenLines = enabled;
    refresh();
}

void GLWidget::setWireframe(bool enabled)
{
    m_wireframe = enabled;
    refresh();
}

void GLWidget::setShaders(bool enabled)
{
    m_shaders = enabled;
    refresh();
}

void GLWidget::setXRayShading(bool enabled)
{
    m_xRayShading = enabled;
    refresh();
}

void GLWidget::setLightingEnabled(bool enabled)
{
    m_lightingEnabled = enabled;
    refresh();
}

void GLWidget::setBackFaceCulling(bool enabled)
{
    m_backFaceCulling = enabled;
    refresh();
}

void GLWidget::setUseDisplayLists(bool)
{
    // Scene passes are always drawn directly.
}

void GLWidget::setLockedView(bool enabled)
{
    m_lockedView = enabled;
}

void GLWidget::setMouseWrapAround(bool enabled)
{
    m_mouseWrapAround = enabled;
}

void GLWidget::setMouseZoomInverted(bool enabled)
{
    m_mouseZoomInverted = enabled;
}

void GLWidget::setClipHighlight(float z)
{
    m_clipHighlight = z;
    refresh();
}

void GLWidget::setClipDirection(Clip::Direction type)
{
    m_clipDirection = type;
    refresh();
}

void GLWidget::setClipOffset(double z)
{
    m_clipOffset = z;
    refresh();
}

void GLWidget::setDelayedMouseTimerInterval(int msec)
{
    m_delayedMouseTimer->setInterval(msec);
}

void GLWidget::setMouseSelect(bool enabled)
{
    m_mouseSelect = enabled;
    if (m_currentCursor == &m_defaultCursor)
        setCursor(enabled ? m_crosshairCursor : m_defaultCursor);
}

void GLWidget::setModelCursors(bool enabled)
{
    if (m_modelCursors == enabled)
        return;
    m_modelCursors = enabled;
    QMetaObject::invokeMethod(this, "updateCursor", Qt::QueuedConnection);
}

void GLWidget::setBackgroundBottomColor(QColor color)
{
    m_backgroundBottomColor = color;
}

void GLWidget::setBackgroundTopColor(QColor color)
{
    m_backgroundTopColor = color;
}

void GLWidget::setEdgeColor(QColor color)
{
    m_edgeColor = color;
}

void GLWidget::setAltFillColor(QColor color)
{
    m_altFillColor = color;
}

void GLWidget::setFillColor(QColor color)
{
    m_fillColor = color;
}

void GLWidget::setBackFillColor(QColor color)
{
    m_backFillColor = color;
}

void GLWidget::setOffsideFillColor(QColor color)
{
    m_offsideFillColor = color;
}

void GLWidget::freeDisplayList()
{
    if (m_displayList != 0) {
        glDeleteLists(m_displayList, 1);
        m_displayList = 0;
    }
}

void GLWidget::setGLColor(const QColor &color, GLenum face, bool material)
{
    const GLfloat values[4] = {GLfloat(color.redF()), GLfloat(color.greenF()), GLfloat(color.blueF()),
                               GLfloat(color.alphaF())};
    if (face != GL_BACK)
        glColor4fv(values);
    if (material)
        glMaterialfv(face, GL_AMBIENT_AND_DIFFUSE, values);
}

void GLWidget::qglColor(const QColor &color)
{
    m_glWindow->qglColor(color);
}

void GLWidget::makeCurrent()
{
    if (m_offscreenPixelBuffer)
        m_offscreenPixelBuffer->makeCurrent();
    else if (m_glWindow)
        m_glWindow->makeCurrent();
}

void GLWidget::swapBuffers()
{
    m_glWindow->swapBuffers();
}

void GLWidget::setAutoBufferSwap(bool enabled)
{
    m_glWindow->setAutoBufferSwap(enabled);
}

// ---------------------------------------------------------------------------------------------
// Shader programs and GL set-up

void GLWidget::initializeGL()
{
    const GLfloat specular[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 32.0f);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_NORMALIZE);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 1);

    buildShaderPrograms();

    delete m_axisDepthBuffer;
    m_axisDepthBuffer = nullptr;
    if (QGLFramebufferObject::hasOpenGLFramebufferBlit()) {
        const auto attachment =
            gpuVendor() == GpuAti ? QGLFramebufferObject::CombinedDepthStencil : QGLFramebufferObject::Depth;
        m_axisDepthBuffer =
            new QGLFramebufferObject(m_axisBufferRect.size(), attachment, GL_TEXTURE_2D, GL_RGBA8);
    } else {
        m_axisDepthPixels.resize(m_axisBufferRect.width() * m_axisBufferRect.height() * 4);
    }
    // Building programs can leave errors pending (Qt's geometry-shader set-up on Mesa); they are
    // not the frame's.
    QGL::glErrors();
    m_glInitialized = true;
    m_drawnFrame = FrameCamera();
    setProperty("FirstPaint", true);
}

namespace {

// Adds the shaders (stopping at the first that fails) and links when all were added.
bool buildProgram(QGLShaderProgram *program, const QList<QPair<QGLShader::ShaderType, QString>> &sources)
{
    SilentMessages silence;
    for (const auto &source : sources) {
        if (!program->addShaderFromSourceCode(source.first, source.second))
            return false;
    }
    return program->link();
}

void reportLinkFailure(const QGLShaderProgram *program)
{
    if (!program->isLinked())
        qWarning() << "QGLShader::link:[" << program->objectName() << "]:" << program->log();
}

} // namespace

void GLWidget::buildShaderPrograms()
{
    const auto create = [this](QGLShaderProgram *&program, const char *name) {
        delete program;
        program = new QGLShaderProgram(m_glWindow->context(), this);
        program->setObjectName(QLatin1String(name));
    };

    create(m_wireframeShaderProgram, "wireframeShaderProgram");
    if (hasOpenGL32() && gpuVendor() != GpuIntel) {
        {
            SilentMessages silence;
            const QPair<QGLShader::ShaderType, const char *> files[] = {
                {QGLShader::Vertex, "wireframe.vert"},
                {QGLShader::Fragment, "wireframe.frag"},
                {QGLShader::Geometry, "wireframe.geom"}};
            bool added = true;
            for (const auto &file : files) {
                added = m_wireframeShaderProgram->addShaderFromSourceFile(
                    file.first, QStringLiteral(":/resources/shaders/") + QLatin1String(file.second));
                if (!added)
                    break;
            }
            if (added) {
                m_wireframeShaderProgram->setGeometryInputType(GL_TRIANGLES);
                m_wireframeShaderProgram->setGeometryOutputType(GL_TRIANGLE_STRIP);
                m_wireframeShaderProgram->link();
            }
        }
        reportLinkFailure(m_wireframeShaderProgram);
    }

    struct TwoStage
    {
        QGLShaderProgram *&program;
        const char *name;
        const char *vertex;
        const char *fragment;
    };
    const TwoStage programs[] = {
        {m_fixedShaderProgram, "fixedShaderProgram", "fixed.vert", "fixed.frag"},
        {m_fixedColorShaderProgram, "fixedColorShaderProgram", "fixed_color.vert", "fixed_color.frag"},
        {m_xRayShaderProgram, "xRayShaderProgram", "xray.vert", "xray.frag"}};
    for (const TwoStage &entry : programs) {
        create(entry.program, entry.name);
        if (!hasOpenGL20())
            continue;
        const QString vertex = readResourceText(QLatin1String(entry.vertex));
        const QString fragment = readResourceText(QLatin1String(entry.fragment));
        const auto rewritten = [&] {
            return QList<QPair<QGLShader::ShaderType, QString>>{
                {QGLShader::Vertex, rewriteVertexSource(vertex)},
                {QGLShader::Fragment, rewriteFragmentSource(fragment)}};
        };
        if (hasOpenGL32()) {
            if (!buildProgram(entry.program,
                              {{QGLShader::Vertex, vertex}, {QGLShader::Fragment, fragment}})) {
                entry.program->removeAllShaders();
                buildProgram(entry.program, rewritten());
            }
        } else {
            buildProgram(entry.program, rewritten());
        }
        reportLinkFailure(entry.program);
    }
}

// ---------------------------------------------------------------------------------------------
// Picking

void GLWidget::setOcclusionQueryAvailable(bool available)
{
    m_occlusionQueryAvailable = available && queries().complete();
}

void GLWidget::beginPicking(int count, const QRectF &rect)
{
    if (count <= 0)
        return;
    setProperty("Picking", true);
    // The picking pass draws into the window's buffers.
    m_drawnFrame = FrameCamera();
    const auto enableClipPlanes = [this] {
        if (m_clipDirection != Clip::NoClip)
            QGL::glEnableClipPlanes(clipPlaneEquations());
    };
    const auto identity = [] {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    };

    if (rect.width() == 0 && rect.height() == 0) {
        // Colour mode: item i is drawn in the opaque colour 0xFFFFFF - i.
        const int existing = m_pickIds.size();
        if (existing < count) {
            m_pickIds.resize(count);
            for (int i = existing; i < count; ++i)
                m_pickIds[i] = 0xFFFFFFFFu - GLuint(i);
        }
        makeCurrent();
        glPushAttrib(GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT);
        identity();
        setupProjection();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glDisable(GL_LIGHTING);
        if (m_shaders && m_fixedColorShaderProgram && m_fixedColorShaderProgram->isLinked() &&
            m_fixedColorShaderProgram->bind())
            m_boundProgramId = m_fixedColorShaderProgram->programId();
        enableClipPlanes();
        setShaderUniforms();
        m_pickingActive = false;
        return;
    }

    makeCurrent();
    glPushAttrib(GL_ENABLE_BIT | GL_VIEWPORT_BIT);
    glDisable(GL_DEPTH_TEST);
    identity();
    setupProjection();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    enableClipPlanes();
    const auto applyPickMatrix = [this, &rect] {
        glMatrixMode(GL_PROJECTION);
        GLint viewport[4];
        GLdouble projection[16];
        glGetIntegerv(GL_VIEWPORT, viewport);
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        glLoadIdentity();
        gluPickMatrix(rect.x() + rect.width() / 2.0, height() - (rect.y() + rect.height() / 2.0),
                      rect.width(), rect.height(), viewport);
        glMultMatrixd(projection);
        glMatrixMode(GL_MODELVIEW);
    };
    if (m_occlusionQueryAvailable) {
        applyPickMatrix();
        m_pickIds.resize(count);
        queries().genQueries(count, m_pickIds.data());
    } else {
        m_pickIds.resize(4 * count);
        glDisable(GL_LIGHTING);
        glSelectBuffer(m_pickIds.size(), m_pickIds.data());
        glRenderMode(GL_SELECT);
        glInitNames();
        applyPickMatrix();
    }
    m_pickingActive = true;
}

void GLWidget::beginPickItem(int index)
{
    if (index < 0 || index >= m_pickIds.size())
        return;
    if (!m_pickingActive) {
        glPushAttrib(GL_CURRENT_BIT);
        const QColor color = QColor::fromRgb(QRgb(m_pickIds[index] | 0xFF000000u));
        if (m_fixedColorShaderProgram && m_boundProgramId != 0 &&
            m_boundProgramId == m_fixedColorShaderProgram->programId())
            m_fixedColorShaderProgram->setUniformValue("color", color);
        else
            setGLColor(color, GL_FRONT_AND_BACK, false);
    } else if (m_occlusionQueryAvailable) {
        queries().beginQuery(GL_SAMPLES_PASSED, m_pickIds[index]);
    } else {
        glPushName(GLuint(index));
    }
}

void GLWidget::endPickItem()
{
    if (m_pickIds.isEmpty())
        return;
    if (!m_pickingActive)
        glPopAttrib();
    else if (m_occlusionQueryAvailable)
        queries().endQuery(GL_SAMPLES_PASSED);
    else
        glPopName();
}

QVector<GLuint> GLWidget::pickedItems()
{
    QVector<GLuint> hits;
    if (!m_pickingActive || m_pickIds.isEmpty())
        return hits;
    if (m_occlusionQueryAvailable) {
        makeCurrent();
        glFinish();
        GLint available = 0;
        while (!available)
            queries().getQueryObjectiv(m_pickIds.last(), GL_QUERY_RESULT_AVAILABLE, &available);
        for (int i = 0; i < m_pickIds.size(); ++i) {
            GLuint samples = 0;
            queries().getQueryObjectuiv(m_pickIds[i], GL_QUERY_RESULT, &samples);
            if (samples != 0)
                hits << GLuint(i);
        }
        return hits;
    }
    const GLint records = glRenderMode(GL_RENDER);
    // Selection mode ends here; a zero or negative count (overflow) gives nothing.
    int at = 0;
    for (GLint r = 0; r < records && at < m_pickIds.size(); ++r) {
        const GLuint names = m_pickIds[at];
        at += 3;
        for (GLuint n = 0; n < names && at < m_pickIds.size(); ++n)
            hits << m_pickIds[at++];
    }
    m_selectionEnded = true;
    return hits;
}

void GLWidget::endPicking()
{
    if (m_pickIds.isEmpty())
        return;
    makeCurrent();
    if (m_pickingActive && m_occlusionQueryAvailable) {
        queries().deleteQueries(m_pickIds.size(), m_pickIds.constData());
    } else if (m_pickingActive && !m_selectionEnded) {
        // GL still writes hit records into the buffer while selection mode lasts: leave it before
        // the buffer goes, or later frames draw nothing and GL writes into freed memory.
        glRenderMode(GL_RENDER);
    }
    glPopAttrib();
    if (m_fixedColorShaderProgram && m_boundProgramId != 0 &&
        m_boundProgramId == m_fixedColorShaderProgram->programId()) {
        m_fixedColorShaderProgram->release();
        m_boundProgramId = 0;
    }
    setShaderUniforms();
    m_pickIds.clear();
    m_pickIds.squeeze();
    m_pickingActive = false;
    m_selectionEnded = false;
    setProperty("Picking", false);
    refresh(false);
}
