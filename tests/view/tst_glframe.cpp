#include "cubeowner.h"
#include "view/glscope.h"
#include "view/glwidget.h"
#include "view/glwindow.h"

#include <QtTest>

#include <QGLFramebufferObject>
#include <QGLShaderProgram>

// Frames of a unit cube in every render mode, the offscreen grab, and the camera. Pixels are
// probed with multisampling off; every frame is also saved as a PNG artefact.
class TestGLFrame : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void renderModes();
    void shaderRoadMatchesFixed();
    void clipping_data();
    void clipping();
    void grabIsOpaqueAndStable();
    void grabReusesFramebuffer();
    void zeroSizedGrabKeepsAttributeStack();
    void resizeKeepsAxisSquareInWindow();

    void projectUnprojectRoundTrip();
    void parallelZoomKeepsPointUnderCursor();
    void standardViewsToggle();
    void projectionSwitchKeepsCentre();
    void animationDuration();
    void settledWhenTheWindowShowsTheCamera();
    void actionDuringAnimation_data();
    void actionDuringAnimation();
    void cameraStream();
    void damagedCameraStreamIgnored_data();
    void damagedCameraStreamIgnored();

private:
    void perform(int action);
    bool fallbackRoad() const { return qEnvironmentVariableIsSet("MESA_EXTENSION_OVERRIDE"); }
    GLWidget *m_widget = nullptr;
    CubeOwner *m_owner = nullptr;
};

namespace {

const QColor Background(128, 128, 128);

bool near(const QColor &a, const QColor &b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// The camera actions of a user: the window's toolbar (standard views, zoom, fit), the camera reset
// of opening a file, and the mouse.
enum CameraAction
{
    TopView,
    FrontView,
    SideView,
    IsometricView,
    ZoomIn,
    ZoomOut,
    ZoomToAll,
    ResetCamera,
    WheelStep,
    RotateDrag,
    PanDrag
};

void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &at, Qt::MouseButton button,
               Qt::MouseButtons held)
{
    QMouseEvent event(type, at, widget->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

int countColor(const QImage &image, const QColor &color, int tolerance)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += near(QColor(image.pixel(x, y)), color, tolerance);
    return count;
}

} // namespace

void TestGLFrame::init()
{
    m_widget = new GLWidget;
    m_widget->setMultiSampling(false);
    m_widget->setAnimationEnabled(false);
    m_widget->setBackgroundTopColor(Background);
    m_widget->setBackgroundBottomColor(Background);
    m_widget->setEdgeColor(Qt::blue);
    m_widget->setAxis3DEnabled(false); // its corner would cover the probes
    m_owner = new CubeOwner(m_widget);
    m_widget->resize(200, 200);
    m_widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_widget));
    QTRY_VERIFY(m_widget->isGLInitialized());
    m_widget->setSceneRadius(float(std::sqrt(3.0) / 2.0));
    m_widget->setViewingAngle(7); // isometric: three faces in view
}

void TestGLFrame::cleanup()
{
    delete m_widget;
    m_widget = nullptr;
}

void TestGLFrame::renderModes()
{
    struct Mode
    {
        const char *name;
        bool lighting, lines, hiddenLines, wireframe, xRay;
    };
    const Mode modes[] = {
        {"fill", true, false, false, false, false},    {"unlit", false, false, false, false, false},
        {"lines", true, true, false, false, false},    {"hidden_lines", true, true, true, false, false},
        {"wireframe", true, true, false, true, false}, {"xray", true, false, false, false, true}};
    QHash<QString, QImage> images;
    for (const Mode &mode : modes) {
        m_widget->setLightingEnabled(mode.lighting);
        m_widget->setLines(mode.lines);
        m_widget->setHiddenLines(mode.hiddenLines);
        m_widget->setWireframe(mode.wireframe);
        m_widget->setXRayShading(mode.xRay);
        m_owner->scenePasses = 0;
        const QImage image = grabFrame(*m_widget);
        QVERIFY2(!image.isNull(), mode.name);
        saveArtefact(image, QStringLiteral("frame_") + mode.name);
        images.insert(mode.name, image);
    }

    // A face of the cube away from every edge, and a corner of the window.
    const QPoint face(100, 130);
    const QPoint corner(5, 5);
    const QColor fill(images["fill"].pixel(face));
    QVERIFY2(fill.red() > 100 && fill.blue() < 60 && fill.red() > fill.blue(), qPrintable(fill.name()));
    QVERIFY(near(QColor(images["fill"].pixel(corner)), Background, 1));
    QCOMPARE(QColor(images["unlit"].pixel(face)), QColor(Qt::blue));

    // Lines lie over the fill: the face keeps its colour, edges appear in the edge colour; with
    // hidden lines the edges at the back show through as well.
    QVERIFY(near(QColor(images["lines"].pixel(face)), fill, 2));
    const int visibleEdges = countColor(images["lines"], Qt::blue, 40);
    const int allEdges = countColor(images["hidden_lines"], Qt::blue, 40);
    QVERIFY2(visibleEdges > 100, qPrintable(QString::number(visibleEdges)));
    QVERIFY2(allEdges > visibleEdges + 50, qPrintable(QString("%1 %2").arg(allEdges).arg(visibleEdges)));
    // Wireframe only: no fill, the background shows inside the faces.
    QVERIFY(near(QColor(images["wireframe"].pixel(face)), Background, 1));
    QVERIFY(countColor(images["wireframe"], Qt::blue, 60) > 100);

    // X-ray: a translucent shell, neither the lit fill nor the background.
    const QColor xray(images["xray"].pixel(face));
    QVERIFY2(!near(xray, fill, 20) && !near(xray, Background, 2), qPrintable(xray.name()));
}

void TestGLFrame::shaderRoadMatchesFixed()
{
    const QImage fixed = grabFrame(*m_widget);
    m_widget->setShaders(true);
    const QImage glsl = grabFrame(*m_widget);
    saveArtefact(glsl, "frame_glsl");
    QVERIFY(!fixed.isNull() && !glsl.isNull());
    // The programs emulate the fixed pipeline: each visible face has about the same colour.
    for (const QPoint &p : {QPoint(100, 130), QPoint(70, 85), QPoint(130, 85)}) {
        const QColor a(fixed.pixel(p));
        const QColor b(glsl.pixel(p));
        QVERIFY2(near(a, b, 12),
                 qPrintable(QString("(%1,%2): %3 %4").arg(p.x()).arg(p.y()).arg(a.name(), b.name())));
    }

    // The one-pass wireframe program draws fill and edges together (on an OpenGL 2.1 driver the
    // fixed line pass does).
    m_widget->setLines(true);
    const QImage wire = grabFrame(*m_widget);
    saveArtefact(wire, "frame_glsl_wireframe");
    QVERIFY(countColor(wire, Qt::blue, 60) > 100);
    QVERIFY(near(QColor(wire.pixel(40, 110)), QColor(fixed.pixel(40, 110)), 12));
}

void TestGLFrame::clipping_data()
{
    QTest::addColumn<bool>("shaders");
    QTest::newRow("fixed") << false;
    QTest::newRow("glsl") << true;
}

void TestGLFrame::clipping()
{
    QFETCH(bool, shaders);
    m_widget->setShaders(shaders);
    m_widget->setViewingAngle(3); // front view: z is up on the screen
    m_widget->setClipOffset(0.0);
    m_widget->setClipHighlight(0.2f);
    const QPoint above(100, 70);
    const QPoint bandTop(100, 96);
    const QPoint bandBottom(100, 104);
    const QPoint below(100, 130);

    struct Case
    {
        Clip::Direction direction;
        bool above, bandTop, bandBottom, below; // whether the cube shows there
    };
    const Case cases[] = {{Clip::NoClip, true, true, true, true},
                          {Clip::FromTop, false, false, true, true},
                          {Clip::FromBottom, true, true, false, false},
                          {Clip::Slab, false, true, true, false}};
    for (const Case &c : cases) {
        m_widget->setClipDirection(c.direction);
        const QImage image = grabFrame(*m_widget);
        saveArtefact(image,
                     QString("frame_clip_%1_%2").arg(int(c.direction)).arg(shaders ? "glsl" : "fixed"));
        const auto shows = [&image](const QPoint &p) { return !near(QColor(image.pixel(p)), Background, 2); };
        QCOMPARE(shows(above), c.above);
        QCOMPARE(shows(bandTop), c.bandTop);
        QCOMPARE(shows(bandBottom), c.bandBottom);
        QCOMPARE(shows(below), c.below);
    }
}

void TestGLFrame::grabIsOpaqueAndStable()
{
    QSignalSpy ready(m_widget, &GLWidget::frameBufferReady);
    const QImage first = grabFrame(*m_widget);
    const QImage second = grabFrame(*m_widget);
    const QImage third = grabFrame(*m_widget);
    QCOMPARE(ready.count(), 3); // once per grab
    QCOMPARE(first.size(), QSize(200, 200));
    for (int y = 0; y < first.height(); ++y)
        for (int x = 0; x < first.width(); ++x)
            QCOMPARE(qAlpha(first.pixel(x, y)), 255);
    // Nothing a frame changes leaks into the next: the frames agree bit for bit.
    QCOMPARE(third, first);
    QCOMPARE(second, first);
    QVERIFY(!m_widget->property("GrabFrameBuffer").isValid());
    QCOMPARE(m_widget->frameImage(), third);
}

void TestGLFrame::grabReusesFramebuffer()
{
    QSignalSpy ready(m_widget, &GLWidget::frameBufferReady);
    m_widget->setProperty("GrabFrameBuffer", true);
    m_widget->refresh(true);
    QCOMPARE(ready.count(), 1);
    if (fallbackRoad()) {
        // Without framebuffer objects the window's own picture is handed out, once.
        QVERIFY(!m_widget->offscreenFramebuffer());
        QCOMPARE(ready.first().at(0).value<QImage>().size(), QSize(200, 200));
        QTest::qWait(50);
        QCOMPARE(ready.count(), 1);
        return;
    }
    QGLFramebufferObject *first = m_widget->offscreenFramebuffer();
    QVERIFY(first);
    grabFrame(*m_widget);
    QCOMPARE(m_widget->offscreenFramebuffer(), first);
    QCOMPARE(first->size(), QSize(200, 200));

    m_widget->resize(160, 120);
    QTRY_COMPARE(m_widget->glWindow()->size(), QSize(160, 120));
    const QImage resized = grabFrame(*m_widget);
    QCOMPARE(resized.size(), QSize(160, 120));
    QCOMPARE(m_widget->offscreenFramebuffer()->size(), QSize(160, 120));
}

void TestGLFrame::zeroSizedGrabKeepsAttributeStack()
{
    m_widget->glWindow()->makeCurrent();
    GLint before = 0;
    glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &before);
    m_widget->beginOffscreenBuffer(0, 10, false);
    m_widget->endOffscreenBuffer();
    GLint after = -1;
    glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &after);
    QCOMPARE(after, before);
    QVERIFY(QGL::glErrors().isEmpty());
}

void TestGLFrame::resizeKeepsAxisSquareInWindow()
{
    // The depth store of the corner square must never reach below the window's last row.
    QSignalSpy resized(m_widget, &GLWidget::viewResized);
    m_widget->resize(180, 150);
    QTRY_VERIFY(!resized.isEmpty());
    QCOMPARE(resized.last().at(1).toInt(), 150);
    const QImage image = grabFrame(*m_widget);
    QCOMPARE(image.size(), QSize(180, 150));
}

void TestGLFrame::projectUnprojectRoundTrip()
{
    grabFrame(*m_widget);
    m_widget->makeCurrent();
    m_widget->setupProjection();
    for (bool perspective : {false, true}) {
        m_widget->setPerspective(perspective);
        m_widget->zoomToAll();
        m_widget->setupProjection();
        const QVector3D point(0.3f, -0.2f, 0.1f);
        double depth = 0.0;
        const QPointF window = m_widget->project(point, true, &depth);
        QVERIFY(depth > 0.0 && depth < 1.0);
        const QVector3D back = m_widget->unproject(window, float(depth));
        QVERIFY2((back - point).length() < 1e-3f,
                 qPrintable(QString("%1 %2 %3").arg(back.x()).arg(back.y()).arg(back.z())));
        // A point behind the camera has no front projection.
        const QPointF behind =
            m_widget->project(m_widget->cameraPosition() - m_widget->viewDirection(), true);
        QVERIFY(std::isnan(behind.x()) && std::isnan(behind.y()));
    }
}

void TestGLFrame::parallelZoomKeepsPointUnderCursor()
{
    grabFrame(*m_widget);
    const QPointF cursor(110, 120);
    float depth = 0.0f;
    const QVector3D point = m_widget->unprojectPixel(cursor, &depth);
    QVERIFY(depth > 0.0f && depth < 1.0f);
    const float zoom = m_widget->zoom();
    m_widget->zoomToViewPoint(cursor, 0.5f, false);
    QCOMPARE(m_widget->zoom(), zoom * 1.5f);
    m_widget->makeCurrent();
    m_widget->setupProjection();
    const QPointF after = m_widget->project(point);
    QVERIFY2(std::hypot(after.x() - cursor.x(), after.y() - cursor.y()) < 1.0,
             qPrintable(QString("%1 %2").arg(after.x()).arg(after.y())));

    // A factor of 0 changes nothing.
    const QVector3D position = m_widget->cameraPosition();
    m_widget->zoomToViewPoint(cursor, 0.0f, false);
    QCOMPARE(m_widget->cameraPosition(), position);
    QCOMPARE(m_widget->zoom(), zoom * 1.5f);
}

void TestGLFrame::standardViewsToggle()
{
    const auto view = [](float ax, float ay, float az, float angle) {
        return QQuaternion::fromAxisAndAngle(ax, ay, az, angle);
    };
    m_widget->setViewingAngle(0);
    QCOMPARE(m_widget->cameraOrientation(), QQuaternion());
    m_widget->setViewingAngle(0);
    QCOMPARE(m_widget->cameraOrientation(), view(1, 0, 0, 180));
    m_widget->setViewingAngle(0);
    QCOMPARE(m_widget->cameraOrientation(), QQuaternion());
    m_widget->setViewingAngle(3);
    QCOMPARE(m_widget->cameraOrientation(), view(1, 0, 0, 90));
    m_widget->setViewingAngle(3);
    QCOMPARE(m_widget->cameraOrientation(), view(0, 0, 1, 180) * view(1, 0, 0, 90));
    // The camera frames the scene centre along the view direction.
    const QVector3D aim = m_widget->cameraPosition() + m_widget->viewDirection() * m_widget->cameraDistance();
    QVERIFY(aim.length() < 1e-4f);

    // Indices outside the table are ignored.
    const QQuaternion before = m_widget->cameraOrientation();
    const QVector3D position = m_widget->cameraPosition();
    for (int index : {-1, 10, 1000}) {
        m_widget->setViewingAngle(index);
        QCOMPARE(m_widget->cameraOrientation(), before);
        QCOMPARE(m_widget->cameraPosition(), position);
    }
}

void TestGLFrame::projectionSwitchKeepsCentre()
{
    grabFrame(*m_widget);
    const QPointF centre(100, 100);
    for (bool perspective : {true, false, true}) {
        m_widget->setPerspective(perspective);
        QCOMPARE(m_widget->perspective(), perspective);
        m_widget->makeCurrent();
        m_widget->setupProjection();
        const QPointF projected = m_widget->project(QVector3D(0, 0, 0));
        QVERIFY2(std::hypot(projected.x() - centre.x(), projected.y() - centre.y()) < 1.5,
                 qPrintable(QString("%1 %2").arg(projected.x()).arg(projected.y())));
        const QImage image = grabFrame(*m_widget);
        saveArtefact(image, QString("frame_projection_%1").arg(perspective ? "perspective" : "parallel"));
        QVERIFY(!near(QColor(image.pixel(100, 100)), Background, 2));
    }
}

void TestGLFrame::animationDuration()
{
    m_widget->setAnimationEnabled(true);
    m_widget->setAnimationDuration(40);
    auto *animation = m_widget->findChild<QPropertyAnimation *>();
    QVERIFY(animation);

    ViewState start = m_widget->toViewState();
    ViewState moved = start;
    moved.offset += QVector3D(0.5f, 0, 0);
    m_widget->animate(start, moved);
    QCOMPARE(animation->duration(), 40);
    QCOMPARE(animation->state(), QAbstractAnimation::Running);
    QVERIFY(m_widget->isAnimating());
    QTRY_VERIFY(!m_widget->isAnimating());
    QCOMPARE(GLWidget::compareViewStates(m_widget->toViewState(), moved), 0);

    ViewState turned = moved;
    turned.orientation = QQuaternion::fromAxisAndAngle(0, 0, 1, 90) * moved.orientation;
    m_widget->animate(moved, turned);
    QCOMPARE(animation->duration(), 200);
    m_widget->animateFlush(false);
    QVERIFY(!m_widget->isAnimating());
    QCOMPARE(GLWidget::compareViewStates(m_widget->toViewState(), turned), 0);

    // Equal states apply at once.
    m_widget->animate(turned, turned);
    QCOMPARE(animation->state(), QAbstractAnimation::Stopped);
}

void TestGLFrame::settledWhenTheWindowShowsTheCamera()
{
    QTRY_VERIFY(m_widget->isSettled());
    // A camera set without a frame is not what the window shows.
    m_widget->setCameraPosition(m_widget->cameraPosition() + QVector3D(0.1f, 0, 0));
    QVERIFY(!m_widget->isSettled());
    m_widget->refresh();
    QTRY_VERIFY(m_widget->isSettled());

    // A grab into a framebuffer object leaves the window's frame as it was.
    m_widget->setCameraPosition(m_widget->cameraPosition() + QVector3D(0.1f, 0, 0));
    QVERIFY(!grabFrame(*m_widget).isNull());
    QCOMPARE(m_widget->isSettled(), fallbackRoad());
    QTRY_VERIFY(m_widget->isSettled());

    // Not while an animation runs, nor while a drag lasts.
    m_widget->setAnimationEnabled(true);
    m_widget->zoomIn(true);
    QVERIFY(!m_widget->isSettled());
    QTRY_VERIFY(m_widget->isSettled());
    sendMouse(m_widget, QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton, Qt::LeftButton);
    sendMouse(m_widget, QEvent::MouseMove, QPoint(105, 100), Qt::NoButton, Qt::LeftButton);
    QTest::qWait(50);
    QVERIFY(!m_widget->isSettled());
    sendMouse(m_widget, QEvent::MouseButtonRelease, QPoint(105, 100), Qt::LeftButton, Qt::NoButton);
    QTRY_VERIFY(m_widget->isSettled());
}

void TestGLFrame::perform(int action)
{
    const auto drag = [this](Qt::MouseButton button) {
        sendMouse(m_widget, QEvent::MouseButtonPress, QPoint(90, 110), button, button);
        sendMouse(m_widget, QEvent::MouseMove, QPoint(105, 100), Qt::NoButton, button);
        sendMouse(m_widget, QEvent::MouseMove, QPoint(125, 85), Qt::NoButton, button);
        sendMouse(m_widget, QEvent::MouseButtonRelease, QPoint(125, 85), button, Qt::NoButton);
    };
    switch (action) {
    case TopView:
        m_widget->setViewingAngle(0, true);
        break;
    case FrontView:
        m_widget->setViewingAngle(3, true);
        break;
    case SideView:
        m_widget->setViewingAngle(4, true);
        break;
    case IsometricView:
        m_widget->setViewingAngle(7, true);
        break;
    case ZoomIn:
        m_widget->zoomIn(true);
        break;
    case ZoomOut:
        m_widget->zoomOut(true);
        break;
    case ZoomToAll:
        m_widget->zoomToAll(true);
        break;
    case ResetCamera:
        m_widget->setViewingAngle(0, false);
        m_widget->setViewingAngle(7, false);
        break;
    case WheelStep: {
        const QPoint at(130, 80);
        QWheelEvent event(QPointF(at), QPointF(m_widget->mapToGlobal(at)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_widget, &event);
        break;
    }
    case RotateDrag:
        drag(Qt::RightButton);
        break;
    case PanDrag:
        drag(Qt::LeftButton);
        break;
    }
}

void TestGLFrame::actionDuringAnimation_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<bool>("perspective");
    QTest::addColumn<int>("percent"); // how far the first animation has come; 0: not a step yet
    QTest::addColumn<bool>("fitted"); // the camera starts fitted to the scene, else off-centre

    QTest::newRow("isometric, zoom in at once") << int(IsometricView) << int(ZoomIn) << false << 0 << false;
    QTest::newRow("isometric, zoom in") << int(IsometricView) << int(ZoomIn) << false << 40 << false;
    QTest::newRow("isometric, zoom in, perspective")
        << int(IsometricView) << int(ZoomIn) << true << 40 << false;
    QTest::newRow("zoom out, zoom to all at once") << int(ZoomOut) << int(ZoomToAll) << false << 0 << true;
    QTest::newRow("zoom out, zoom to all") << int(ZoomOut) << int(ZoomToAll) << false << 40 << true;
    QTest::newRow("top, top") << int(TopView) << int(TopView) << false << 40 << false;
    QTest::newRow("front, side") << int(FrontView) << int(SideView) << false << 40 << false;
    QTest::newRow("side, isometric, perspective")
        << int(SideView) << int(IsometricView) << true << 40 << false;
    QTest::newRow("top, zoom to all") << int(TopView) << int(ZoomToAll) << false << 40 << false;
    QTest::newRow("zoom in, zoom out") << int(ZoomIn) << int(ZoomOut) << false << 40 << false;
    QTest::newRow("zoom to all, top") << int(ZoomToAll) << int(TopView) << false << 40 << false;
    QTest::newRow("top, reset") << int(TopView) << int(ResetCamera) << false << 40 << false;
    QTest::newRow("zoom in, reset") << int(ZoomIn) << int(ResetCamera) << false << 40 << false;
    QTest::newRow("front, wheel") << int(FrontView) << int(WheelStep) << false << 40 << false;
    QTest::newRow("isometric, wheel, perspective")
        << int(IsometricView) << int(WheelStep) << true << 40 << false;
    QTest::newRow("side, rotating drag") << int(SideView) << int(RotateDrag) << false << 40 << false;
    QTest::newRow("zoom out, panning drag") << int(ZoomOut) << int(PanDrag) << false << 40 << false;
    QTest::newRow("zoom in, panning drag, perspective") << int(ZoomIn) << int(PanDrag) << true << 40 << false;
}

void TestGLFrame::actionDuringAnimation()
{
    // An action taken while another's animation runs ends where it ends once that animation has
    // settled. Time is driven through the animation itself: the run waits for frames, not clocks.
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(bool, perspective);
    QFETCH(int, percent);
    QFETCH(bool, fitted);
    m_widget->setAnimationEnabled(true);
    m_widget->setAnimationDuration(4000); // long: the test moves the time itself
    auto *animation = m_widget->findChild<QPropertyAnimation *>();
    QVERIFY(animation);
    QSignalSpy frames(m_widget, &GLWidget::postRenderScene);
    const auto nextFrame = [&] {
        const int before = frames.count();
        return QTest::qWaitFor([&] { return frames.count() > before; });
    };
    const auto settle = [&] {
        if (animation->state() == QAbstractAnimation::Running)
            animation->setCurrentTime(animation->duration());
        m_widget->refresh();
        return nextFrame();
    };

    // The start: the front view, or off-centre and zoomed so that every action moves the camera.
    m_widget->setViewingAngle(3);
    QVERIFY(settle());
    m_widget->setPerspective(perspective);
    QVERIFY(settle());
    if (!fitted) {
        m_widget->zoomToViewPoint(QPointF(60, 140), 0.5f, false);
        QVERIFY(settle());
    }
    const ViewState start = m_widget->toViewState();

    ViewState ends[2];
    for (bool midway : {false, true}) {
        m_widget->setViewState(start);
        QVERIFY(settle());
        perform(first);
        QVERIFY2(animation->state() == QAbstractAnimation::Running, "the first action does not animate");
        if (midway && percent > 0) {
            animation->setCurrentTime(animation->duration() * percent / 100);
            QVERIFY(nextFrame());
            QVERIFY(animation->state() == QAbstractAnimation::Running);
        } else if (!midway) {
            QVERIFY(settle());
        }
        perform(second);
        QVERIFY(settle());
        QVERIFY(!m_widget->isAnimating());
        ends[midway] = m_widget->toViewState();
    }
    saveArtefact(grabFrame(*m_widget), QStringLiteral("frame_action_during_animation"));

    const ViewState &settled = ends[0];
    const ViewState &midway = ends[1];
    const QVector3D position = settled.center + settled.offset;
    const QVector3D reached = midway.center + midway.offset;
    const float reach = (position - m_widget->sceneCenter()).length();
    QVERIFY2((reached - position).length() < 1e-3f * reach,
             qPrintable(QString("camera at (%1, %2, %3), settled (%4, %5, %6)")
                            .arg(reached.x())
                            .arg(reached.y())
                            .arg(reached.z())
                            .arg(position.x())
                            .arg(position.y())
                            .arg(position.z())));
    QVERIFY2(std::fabs(QQuaternion::dotProduct(midway.orientation, settled.orientation)) > 1.0f - 1e-5f,
             "the orientation differs");
    QVERIFY2(std::fabs(midway.zoom - settled.zoom) < 1e-4 * settled.zoom,
             qPrintable(QString("zoom %1, settled %2").arg(midway.zoom).arg(settled.zoom)));
    QVERIFY(std::fabs(midway.radiusScale - settled.radiusScale) < 1e-4 * settled.radiusScale);
}

void TestGLFrame::cameraStream()
{
    m_widget->setCameraPosition(QVector3D(1, 2, 3));
    m_widget->setCameraOrientation(QQuaternion::fromAxisAndAngle(1, 1, 0, 30));
    m_widget->setSceneCenter(QVector3D(0.5f, 0, 0));
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << *m_widget;
    }
    GLWidget other;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    buffer.setProperty("Version", 3);
    QDataStream in(&buffer);
    in >> other;
    QCOMPARE(other.cameraPosition(), QVector3D(1, 2, 3));
    QCOMPARE(other.cameraOrientation(), m_widget->cameraOrientation());
    QCOMPARE(other.sceneCenter(), QVector3D(0.5f, 0, 0));
    QCOMPARE(other.sceneRadius(), m_widget->sceneRadius());
    QCOMPARE(other.zoom(), m_widget->zoom());
    // The owner's next projection call only restores the flag, it does not move the camera.
    QVERIFY(other.property("IgnorePerspectiveCall").toBool());
    other.setPerspective(true);
    QVERIFY(other.perspective());
    QCOMPARE(other.cameraPosition(), QVector3D(1, 2, 3));
    QVERIFY(!other.property("IgnorePerspectiveCall").isValid());

    // An old settings version is not read at all.
    GLWidget old;
    QBuffer oldBuffer(&bytes);
    oldBuffer.open(QIODevice::ReadOnly);
    oldBuffer.setProperty("Version", 2);
    QDataStream oldIn(&oldBuffer);
    oldIn >> old;
    QCOMPARE(old.cameraPosition(), QVector3D());
    QCOMPARE(oldBuffer.pos(), qint64(0));
}

void TestGLFrame::damagedCameraStreamIgnored_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const auto stream = [](QQuaternion q, QVector3D position, float radius, float zoom) {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << q << position << QVector3D() << radius << 1.0f << zoom;
        return bytes;
    };
    const QQuaternion q = QQuaternion::fromAxisAndAngle(0, 0, 1, 45);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    QTest::newRow("truncated") << stream(q, QVector3D(4, 5, 6), 2.0f, 1.0f).left(30);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("nan position") << stream(q, QVector3D(nan, 5, 6), 2.0f, 1.0f);
    QTest::newRow("infinite zoom") << stream(q, QVector3D(4, 5, 6), 2.0f, inf);
    QTest::newRow("zero radius") << stream(q, QVector3D(4, 5, 6), 0.0f, 1.0f);
    QTest::newRow("negative zoom") << stream(q, QVector3D(4, 5, 6), 2.0f, -1.0f);
    QTest::newRow("zero quaternion") << stream(QQuaternion(0, 0, 0, 0), QVector3D(4, 5, 6), 2.0f, 1.0f);
}

void TestGLFrame::damagedCameraStreamIgnored()
{
    QFETCH(QByteArray, bytes);
    const ViewState before = m_widget->toViewState();
    const float radius = m_widget->sceneRadius();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    buffer.setProperty("Version", 3);
    QDataStream in(&buffer);
    in >> *m_widget;
    QCOMPARE(GLWidget::compareViewStates(m_widget->toViewState(), before), 0);
    QCOMPARE(m_widget->cameraPosition(), before.center + before.offset);
    QCOMPARE(m_widget->sceneRadius(), radius);
    QVERIFY(!m_widget->property("IgnorePerspectiveCall").isValid());
}

QTEST_MAIN(TestGLFrame)
#include "tst_glframe.moc"
