#include "cubeowner.h"
#include "view/glwidget.h"
#include "view/glwindow.h"

#include <QtTest>

Q_DECLARE_METATYPE(QMouseEvent *)

// Navigation through synthetic mouse and wheel events on a view that shows a unit cube.
class TestGLInput : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void clickWithoutMotion();
    void rotation_data();
    void rotation();
    void shiftRotatesInPlace();
    void pan();
    void wheelZoom_data();
    void wheelZoom();
    void lockedView();
    void delayedPress();
    void wrapAround();
    void rectangleSelection();

private:
    void send(QEvent::Type type, const QPoint &position, Qt::MouseButton button, Qt::MouseButtons buttons,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void drag(const QPoint &from, const QPoint &to, Qt::MouseButton button,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    GLWidget *m_widget = nullptr;
};

void TestGLInput::init()
{
    qRegisterMetaType<QMouseEvent *>();
    m_widget = new GLWidget;
    m_widget->setMultiSampling(false);
    m_widget->setAnimationEnabled(false);
    new CubeOwner(m_widget);
    m_widget->resize(200, 200);
    m_widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_widget));
    QTRY_VERIFY(m_widget->isGLInitialized());
    m_widget->setSceneRadius(float(std::sqrt(3.0) / 2.0));
    m_widget->setViewingAngle(7);
    m_widget->refresh(true);
}

void TestGLInput::cleanup()
{
    delete m_widget;
    m_widget = nullptr;
}

void TestGLInput::send(QEvent::Type type, const QPoint &position, Qt::MouseButton button,
                       Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    QMouseEvent event(type, position, m_widget->mapToGlobal(position), button, buttons, modifiers);
    QApplication::sendEvent(m_widget, &event);
}

void TestGLInput::drag(const QPoint &from, const QPoint &to, Qt::MouseButton button,
                       Qt::KeyboardModifiers modifiers)
{
    send(QEvent::MouseButtonPress, from, button, button, modifiers);
    const QPoint middle = (from + to) / 2;
    send(QEvent::MouseMove, middle, Qt::NoButton, button, modifiers);
    send(QEvent::MouseMove, to, Qt::NoButton, button, modifiers);
    send(QEvent::MouseButtonRelease, to, button, Qt::NoButton, modifiers);
}

void TestGLInput::clickWithoutMotion()
{
    QSignalSpy clicked(m_widget, &GLWidget::mouseClicked);
    QSignalSpy rotated(m_widget, &GLWidget::rotationChanged);
    const ViewState before = m_widget->toViewState();
    send(QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, QPoint(100, 100), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(rotated.count(), 0);
    QCOMPARE(GLWidget::compareViewStates(m_widget->toViewState(), before), 0);
}

void TestGLInput::rotation_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<bool>("level");    // the horizon stays level
    QTest::addColumn<int>("aboutView"); // 1: the turn is mostly about the line of sight, -1: across it

    QTest::newRow("free") << int(GLWidget::RotateFree) << QPoint(100, 100) << QPoint(130, 120) << false << -1;
    QTest::newRow("turntable") << int(GLWidget::RotateTurntable) << QPoint(100, 100) << QPoint(130, 120)
                               << true << 0;
    QTest::newRow("trackball centre")
        << int(GLWidget::RotateTrackball) << QPoint(100, 100) << QPoint(130, 120) << false << -1;
    QTest::newRow("trackball rim") << int(GLWidget::RotateTrackball) << QPoint(190, 10) << QPoint(190, 60)
                                   << false << 1;
}

void TestGLInput::rotation()
{
    QFETCH(int, mode);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(bool, level);
    QFETCH(int, aboutView);
    m_widget->setRotationMode(GLWidget::RotationMode(mode));
    QSignalSpy clicked(m_widget, &GLWidget::mouseClicked);
    QSignalSpy rotated(m_widget, &GLWidget::rotationChanged);
    const QQuaternion before = m_widget->cameraOrientation();

    send(QEvent::MouseButtonPress, from, Qt::RightButton, Qt::RightButton);
    if (QByteArray(QTest::currentDataTag()) == "trackball rim")
        QCOMPARE(m_widget->cursor().pixmap().toImage(),
                 QPixmap(":/resources/cursors/cursor_tilt.png").toImage());
    const QVector3D pivot = m_widget->rotationCenter();
    const float distance = (m_widget->cameraPosition() - pivot).length();
    send(QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::RightButton);
    send(QEvent::MouseMove, to, Qt::NoButton, Qt::RightButton);
    send(QEvent::MouseButtonRelease, to, Qt::RightButton, Qt::NoButton);

    const QQuaternion after = m_widget->cameraOrientation();
    QVERIFY(!qFuzzyCompare(after, before));
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(rotated.count(), 1);
    QVERIFY(qFuzzyCompare(rotated.first().at(0).value<QQuaternion>(), after.conjugated()));
    // The camera orbits the pivot picked under the pointer at the press.
    QVERIFY(std::fabs((m_widget->cameraPosition() - pivot).length() - distance) < 1e-4f * distance);
    const QVector3D right = after.rotatedVector(QVector3D(1, 0, 0));
    if (level)
        QVERIFY2(std::fabs(right.z()) < 1e-4f, qPrintable(QString::number(right.z())));
    else
        QVERIFY(std::fabs(right.z()) > 1e-3f);
    // How much of the turn is about the line of sight: nearly all at the trackball's rim.
    const QQuaternion turn = after * before.conjugated();
    const float alongView = std::fabs(
        QVector3D::dotProduct(turn.vector().normalized(), before.rotatedVector(QVector3D(0, 0, -1))));
    if (aboutView > 0)
        QVERIFY2(alongView > 0.75f, qPrintable(QString::number(alongView)));
    else if (aboutView < 0)
        QVERIFY2(alongView < 0.5f, qPrintable(QString::number(alongView)));
}

void TestGLInput::shiftRotatesInPlace()
{
    const QVector3D position = m_widget->cameraPosition();
    const QQuaternion orientation = m_widget->cameraOrientation();
    drag(QPoint(100, 100), QPoint(140, 100), Qt::RightButton, Qt::ShiftModifier);
    QCOMPARE(m_widget->cameraPosition(), position);
    QVERIFY(!qFuzzyCompare(m_widget->cameraOrientation(), orientation));
}

void TestGLInput::pan()
{
    const QVector3D position = m_widget->cameraPosition();
    const QPointF pixel = m_widget->pixelSize();
    drag(QPoint(100, 100), QPoint(130, 90), Qt::LeftButton);
    // The scene follows the pointer: the camera moves against the drag in its own axes.
    const QVector3D moved =
        m_widget->cameraOrientation().conjugated().rotatedVector(m_widget->cameraPosition() - position);
    QVERIFY(std::fabs(moved.x() - float(-30 * pixel.x())) < 1e-4f);
    QVERIFY(std::fabs(moved.y() - float(-10 * pixel.y())) < 1e-4f);
    QVERIFY(std::fabs(moved.z()) < 1e-5f);
}

void TestGLInput::wheelZoom_data()
{
    QTest::addColumn<bool>("inverted");
    QTest::addColumn<bool>("zoomsIn");
    QTest::newRow("normal") << false << true;
    QTest::newRow("inverted") << true << false;
}

void TestGLInput::wheelZoom()
{
    QFETCH(bool, inverted);
    QFETCH(bool, zoomsIn);
    m_widget->setMouseZoomInverted(inverted);
    const float zoom = m_widget->zoom();
    QWheelEvent event(QPointF(100, 100), QPointF(m_widget->mapToGlobal(QPoint(100, 100))), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(m_widget, &event);
    if (zoomsIn)
        QCOMPARE(m_widget->zoom(), zoom * 1.2f);
    else
        QCOMPARE(m_widget->zoom(), zoom / 1.2f);
}

void TestGLInput::lockedView()
{
    m_widget->setLockedView(true);
    QSignalSpy pressed(m_widget, &GLWidget::lockedViewMousePress);
    QSignalSpy released(m_widget, &GLWidget::lockedViewMouseRelease);
    QSignalSpy clicked(m_widget, &GLWidget::mouseClicked);
    const ViewState before = m_widget->toViewState();
    drag(QPoint(100, 100), QPoint(150, 140), Qt::RightButton);
    drag(QPoint(100, 100), QPoint(150, 140), Qt::LeftButton);
    QWheelEvent wheel(QPointF(100, 100), QPointF(m_widget->mapToGlobal(QPoint(100, 100))), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(m_widget, &wheel);
    QCOMPARE(pressed.count(), 2);
    QCOMPARE(released.count(), 2);
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(GLWidget::compareViewStates(m_widget->toViewState(), before), 0);
    QCOMPARE(m_widget->cameraPosition(), before.center + before.offset);
}

void TestGLInput::delayedPress()
{
    QSignalSpy pressed(m_widget, &GLWidget::mousePress);
    m_widget->setDelayedMouseTimerInterval(100);

    // A press that stays emits the press signal once the interval has passed.
    send(QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(pressed.count(), 0);
    QTRY_COMPARE(pressed.count(), 1);
    send(QEvent::MouseButtonRelease, QPoint(100, 100), Qt::LeftButton, Qt::NoButton);

    // A press followed by a move is handled by the move itself and never signalled.
    const QVector3D position = m_widget->cameraPosition();
    send(QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(120, 100), Qt::NoButton, Qt::LeftButton);
    QTest::qWait(250);
    QCOMPARE(pressed.count(), 1);
    QVERIFY(m_widget->cameraPosition() != position); // the pending press started a pan
    send(QEvent::MouseButtonRelease, QPoint(120, 100), Qt::LeftButton, Qt::NoButton);

    // Without a delay the press is signalled at once.
    m_widget->setDelayedMouseTimerInterval(0);
    send(QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(pressed.count(), 2);
    send(QEvent::MouseButtonRelease, QPoint(100, 100), Qt::LeftButton, Qt::NoButton);
}

void TestGLInput::wrapAround()
{
    m_widget->setMouseWrapAround(true);
    send(QEvent::MouseButtonPress, QPoint(190, 100), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(199, 100), Qt::NoButton, Qt::LeftButton);
    QTRY_COMPARE(m_widget->mapFromGlobal(QCursor::pos()), QPoint(1, 100));
    send(QEvent::MouseMove, QPoint(0, 100), Qt::NoButton, Qt::LeftButton);
    QTRY_COMPARE(m_widget->mapFromGlobal(QCursor::pos()), QPoint(198, 100));
    send(QEvent::MouseButtonRelease, QPoint(198, 100), Qt::LeftButton, Qt::NoButton);

    // Without the flag the pointer stays where it went.
    m_widget->setMouseWrapAround(false);
    QCursor::setPos(m_widget->mapToGlobal(QPoint(50, 50)));
    send(QEvent::MouseButtonPress, QPoint(190, 100), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(205, 100), Qt::NoButton, Qt::LeftButton);
    QTest::qWait(50);
    QCOMPARE(m_widget->mapFromGlobal(QCursor::pos()), QPoint(50, 50));
    send(QEvent::MouseButtonRelease, QPoint(205, 100), Qt::LeftButton, Qt::NoButton);
}

void TestGLInput::rectangleSelection()
{
    QSignalSpy toggled(m_widget, &GLWidget::rectangularSelectToggled);
    QSignalSpy selected(m_widget, &GLWidget::rectangleSelected);
    QSignalSpy frames(m_widget, &GLWidget::frameBufferReady);
    m_widget->selectRectangle();
    QCOMPARE(toggled.count(), 1);
    QCOMPARE(toggled.first().at(0).toBool(), true);
    QCOMPARE(frames.count(), 1);
    QVERIFY(m_widget->isViewHidden());
    QCOMPARE(m_widget->frameImage().size(), QSize(200, 200));
    const QImage frozen = m_widget->grab().toImage();
    saveArtefact(frozen, "input_rectangle_backdrop");

    const ViewState before = m_widget->toViewState();
    send(QEvent::MouseButtonPress, QPoint(80, 60), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(40, 90), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, QPoint(20, 120), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.first().at(0).toBool(), true);
    QCOMPARE(selected.first().at(1).toRect(), QRect(QPoint(20, 60), QPoint(80, 120)));
    QCOMPARE(toggled.count(), 2);
    QCOMPARE(toggled.last().at(0).toBool(), false);
    QVERIFY(!m_widget->isViewHidden());
    QVERIFY(m_widget->frameImage().isNull());
    QCOMPARE(GLWidget::compareViewStates(m_widget->toViewState(), before), 0);

    // A resize ends a selection whose picture no longer fits.
    QTest::qWait(50); // the surface is back on screen
    m_widget->selectRectangle();
    QCOMPARE(frames.count(), 2);
    QVERIFY(m_widget->isViewHidden());
    m_widget->resize(150, 200);
    QTRY_VERIFY(!m_widget->isViewHidden());
    QCOMPARE(toggled.count(), 4);
}

QTEST_MAIN(TestGLInput)
#include "tst_glinput.moc"
