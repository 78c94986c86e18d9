#include "view/glscope.h"
#include "view/glwidget.h"
#include "view/glwindow.h"

#include <QtTest>

#include <QGLShaderProgram>

// GLWidget's state, setters, GPU facts and shader programs on a real context (Xvfb, llvmpipe).
// The same executable also runs with Mesa told to offer only OpenGL 2.1 and GLSL 1.20 (see
// CMakeLists.txt): the programs are then built from rewritten text.
class TestGLWidget : public QObject
{
    Q_OBJECT

private slots:
    void animationFlags();
    void sameModelCursorsQueuesNothing();
    void settersDoNotRepaint();
    void multiSamplingRebuildsSurface();
    void multiSamplingIsTheSurfaces();
    void driverFactsOnLlvmpipe();
    void shaderPrograms();
    void firstFrameWithoutGLError();

private:
    static bool oldDialect() { return qgetenv("MESA_GL_VERSION_OVERRIDE") == "2.1"; }
    // Shows the widget and waits for its first frame; counts frames in *frames.
    static bool showAndPaint(GLWidget &widget, int *frames);
};

bool TestGLWidget::showAndPaint(GLWidget &widget, int *frames)
{
    QObject::connect(&widget, &GLWidget::postRenderScene, [frames] { ++*frames; });
    widget.resize(200, 150);
    widget.show();
    if (!QTest::qWaitForWindowExposed(&widget))
        return false;
    return QTest::qWaitFor([frames] { return *frames > 0; });
}

void TestGLWidget::animationFlags()
{
    GLWidget widget;
    QVERIFY(widget.animationEnabled());
    QVERIFY(widget.animateZoom());
    QVERIFY(widget.animateClipPlane());
    QCOMPARE(widget.property("Animation"), QVariant(0.0));

    widget.setAnimationEnabled(false);
    widget.setAnimateZoom(true);
    QVERIFY(!widget.animationEnabled());
    QVERIFY(!widget.animateZoom());
    QVERIFY(!widget.animateClipPlane());
    QVERIFY(!widget.isAnimating());

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(widget.findChildren<QPropertyAnimation *>().isEmpty());
    widget.setAnimationEnabled(true);
    widget.setAnimationEnabled(true);
    QVERIFY(widget.animateZoom());
    QCOMPARE(widget.findChildren<QPropertyAnimation *>().size(), 1);
}

namespace {

// Counts queued slot calls that reach one object.
class MetaCallCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MetaCall)
            ++count;
        return false;
    }
};

} // namespace

void TestGLWidget::sameModelCursorsQueuesNothing()
{
    GLWidget widget;
    QCoreApplication::processEvents();
    MetaCallCounter counter;
    widget.installEventFilter(&counter);

    widget.setModelCursors(false);
    QCoreApplication::processEvents();
    QCOMPARE(counter.count, 0);

    widget.setModelCursors(true);
    QVERIFY(widget.modelCursors());
    QCoreApplication::processEvents();
    QCOMPARE(counter.count, 1);
    widget.setModelCursors(true);
    QCoreApplication::processEvents();
    QCOMPARE(counter.count, 1);
}

void TestGLWidget::settersDoNotRepaint()
{
    GLWidget widget;
    int frames = 0;
    QVERIFY(showAndPaint(widget, &frames));
    QTest::qWait(100);
    const int settled = frames;

    widget.setEdgeColor(Qt::blue);
    widget.setFillColor(Qt::green);
    widget.setBackFillColor(Qt::cyan);
    widget.setBackgroundTopColor(Qt::black);
    widget.setBackgroundBottomColor(Qt::gray);
    widget.setCameraPosition(QVector3D(1, 2, 3));
    widget.setCameraOrientation(QQuaternion::fromAxisAndAngle(0, 0, 1, 30));
    widget.setSceneCenter(QVector3D(1, 1, 1));
    QTest::qWait(150);
    QCOMPARE(frames, settled);
    QCOMPARE(widget.edgeColor(), QColor(Qt::blue));
    QCOMPARE(widget.cameraPosition(), QVector3D(1, 2, 3));

    // The render switches do schedule a frame.
    widget.setLines(true);
    QTRY_VERIFY(frames > settled);
}

void TestGLWidget::multiSamplingRebuildsSurface()
{
    GLWidget widget;
    int initialized = 0;
    int frames = 0;
    QVERIFY(showAndPaint(widget, &frames));
    GLWindow *first = widget.glWindow();
    QVERIFY(widget.isGLInitialized());

    const bool current = widget.multiSampling();
    widget.setMultiSampling(current);
    QCOMPARE(widget.glWindow(), first);
    QVERIFY(widget.isGLInitialized());

    QPointer<GLWindow> old(first);
    widget.setMultiSampling(!current);
    QVERIFY(old.isNull());
    GLWindow *second = widget.glWindow();
    QVERIFY(second);
    QCOMPARE(second->parentWidget(), &widget);
    QVERIFY(!widget.isGLInitialized());
    connect(second, &GLWindow::initializeGLEvent, [&] { ++initialized; });
    const int before = frames;
    QTRY_VERIFY(frames > before);
    QVERIFY(widget.isGLInitialized());
    QVERIFY(widget.fixedShaderProgram() && widget.fixedShaderProgram()->isLinked());
    QCOMPARE(initialized, 1);
}

void TestGLWidget::multiSamplingIsTheSurfaces()
{
    // The surface's format answers what was asked for; the view answers what its framebuffer has,
    // and has it wherever the display grants a multisampled surface.
    GLWidget widget;
    int frames = 0;
    QVERIFY(showAndPaint(widget, &frames));
    const bool supported = GLWidget::isMultiSamplingSupported();
    for (bool wanted : {false, true, false}) {
        widget.setMultiSampling(wanted);
        QTRY_VERIFY(widget.isGLInitialized());
        widget.glWindow()->makeCurrent();
        GLint buffers = -1;
        GLint samples = -1;
        glGetIntegerv(GL_SAMPLE_BUFFERS, &buffers);
        glGetIntegerv(GL_SAMPLES, &samples);
        QCOMPARE(widget.multiSampling(), buffers > 0 && samples > 1);
        QCOMPARE(widget.multiSampling(), wanted && supported);
    }
}

void TestGLWidget::driverFactsOnLlvmpipe()
{
    GLWidget widget;
    QVERIFY(GLWidget::hasOpenGL15());
    QVERIFY(GLWidget::hasOpenGL20());
    QCOMPARE(GLWidget::hasOpenGL32(), !oldDialect());
    QCOMPARE(GLWidget::gpuVendor(), GLWidget::GpuSoftware);
    QVERIFY2(GLWidget::glRendererString().contains("llvmpipe"), qPrintable(GLWidget::glRendererString()));
    QVERIFY(GLWidget::testOcclusionQuery());
    QVERIFY(widget.occlusionQueryAvailable());
    QVERIFY(GLWidget::hasGLExtension("GL_ARB_framebuffer_object"));
    QVERIFY(!GLWidget::hasGLExtension("GL_ARB_framebuffer"));
    QVERIFY(!GLWidget::hasGLExtension(""));

    const QGLFormat format = GLWidget::glFormat(true);
    QVERIFY(format.alpha());
    QVERIFY(!format.stencil());
    QVERIFY(format.sampleBuffers());
    if (!oldDialect()) {
        QCOMPARE(format.majorVersion(), 3);
        QCOMPARE(format.minorVersion(), 2);
        QCOMPARE(format.profile(), QGLFormat::CompatibilityProfile);
    }
    QVERIFY(!GLWidget::glFormat(false).sampleBuffers());
    QVERIFY(GLWidget::defaultFormat().sampleBuffers());
}

void TestGLWidget::shaderPrograms()
{
    GLWidget widget;
    int frames = 0;
    QVERIFY(showAndPaint(widget, &frames));

    QGLShaderProgram *programs[] = {widget.fixedShaderProgram(), widget.fixedColorShaderProgram(),
                                    widget.xRayShaderProgram()};
    for (QGLShaderProgram *program : programs) {
        QVERIFY(program);
        QVERIFY2(program->isLinked(), qPrintable(program->objectName() + ": " + program->log()));
    }
    QCOMPARE(widget.fixedShaderProgram()->objectName(), QString("fixedShaderProgram"));
    QCOMPARE(widget.xRayShaderProgram()->objectName(), QString("xRayShaderProgram"));
    QVERIFY(widget.wireframeShaderProgram());
    QCOMPARE(widget.wireframeShaderProgram()->objectName(), QString("wireframeShaderProgram"));
    if (oldDialect()) {
        // Without OpenGL 3.2 the geometry-shader program is not built at all.
        QVERIFY(!widget.wireframeShaderProgram()->isLinked());
        QVERIFY(widget.wireframeShaderProgram()->shaders().isEmpty());
    } else {
        QVERIFY2(widget.wireframeShaderProgram()->isLinked(),
                 qPrintable(widget.wireframeShaderProgram()->log()));
    }
    QVERIFY(!widget.isWireframeProgramBound());
}

void TestGLWidget::firstFrameWithoutGLError()
{
    GLWidget widget;
    QStringList errors;
    int frames = 0;
    connect(&widget, &GLWidget::renderOverlay, [&] { errors << QGL::glErrors(); });
    QVERIFY(showAndPaint(widget, &frames));
    QVERIFY(widget.isGLInitialized());
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(", ")));
    QVERIFY(!widget.property("FirstPaint").isValid());
    widget.glWindow()->makeCurrent();
    QVERIFY(QGL::glErrors().isEmpty());

    // With nothing drawn by an owner the frame is the background gradient, white at the top.
    const QImage image = widget.glWindow()->grabFrameBuffer(false);
    QDir().mkpath(QUARN_ARTEFACT_DIR);
    image.save(QUARN_ARTEFACT_DIR "/glwidget_first_frame.png");
    QCOMPARE(image.size(), QSize(200, 150));
    QCOMPARE(QColor(image.pixel(100, 0)), QColor(255, 255, 255));
    QCOMPARE(QColor(image.pixel(180, 149)), QColor(216, 216, 216));
    const QColor middle(image.pixel(180, 75)); // right of the axis overlay
    QVERIFY2(middle.red() > 216 && middle.red() < 255, qPrintable(middle.name()));
}

QTEST_MAIN(TestGLWidget)
#include "tst_glwidget.moc"
