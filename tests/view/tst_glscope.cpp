#include "view/glscope.h"
#include "view/glwindow.h"

#include <QtTest>

#include <GL/glu.h>

#include <memory>

// The scope guards and matrix transfers on a real context (Xvfb, llvmpipe), and the surface's
// callback signals.
class TestGLScope : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void surfaceSignalsInitializeFirst();
    void nestedGuardsRestoreStack();
    void pushRotate_data();
    void pushRotate();
    void scaleAndTranslate();
    void matrixTransfersRoundTrip();
    void bufferGuards();
    void glErrorsDrains();

private:
    std::unique_ptr<GLWindow> m_window;
};

void TestGLScope::initTestCase()
{
    m_window.reset(new GLWindow(QGLFormat(), nullptr));
    m_window->resize(64, 64);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QVERIFY(m_window->isValid());
}

void TestGLScope::cleanupTestCase()
{
    m_window.reset();
}

void TestGLScope::init()
{
    m_window->makeCurrent();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    QGL::glErrors();
}

void TestGLScope::surfaceSignalsInitializeFirst()
{
    for (int round = 0; round < 2; ++round) {
        QStringList events;
        GLWindow window(QGLFormat(), nullptr);
        connect(&window, &GLWindow::initializeGLEvent, [&] { events << "init"; });
        connect(&window, &GLWindow::paintGLEvent, [&] { events << "paint"; });
        connect(&window, &GLWindow::resizeGLEvent, [&](int w, int h) {
            QVERIFY(w > 0 && h > 0);
            events << "resize";
        });
        QVERIFY(!window.autoFillBackground());
        QVERIFY(window.hasMouseTracking());
        window.resize(40, 30);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.repaint();
        QTRY_VERIFY(events.contains("paint"));
        QCOMPARE(events.count("init"), 1);
        QCOMPARE(events.first(), QString("init"));
        QVERIFY(events.indexOf("init") < events.indexOf("paint"));
    }
}

void TestGLScope::nestedGuardsRestoreStack()
{
    GLint depthBefore = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthBefore);
    glTranslatef(1, 2, 3);
    const QMatrix4x4 before = QGL::modelViewMatrix();
    {
        QGL::PushTranslate translate(QVector3D(5, 0, 0));
        QGL::PushRotate rotate(QQuaternion::fromAxisAndAngle(0, 1, 0, 30));
        {
            QGL::PushScale scale(QVector3D(2, 2, 2));
            QGL::PushMatrix plain;
            glLoadIdentity();
            GLint depth = 0;
            glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
            QCOMPARE(depth, depthBefore + 4);
        }
        QVERIFY(!qFuzzyCompare(QGL::modelViewMatrix(), before));
    }
    GLint depthAfter = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthAfter);
    QCOMPARE(depthAfter, depthBefore);
    QCOMPARE(QGL::modelViewMatrix(), before);
    QVERIFY(QGL::glErrors().isEmpty());
}

void TestGLScope::pushRotate_data()
{
    QTest::addColumn<QQuaternion>("rotation");
    QTest::addColumn<QMatrix4x4>("expected");

    QTest::newRow("identity") << QQuaternion(1, 0, 0, 0) << QMatrix4x4();
    QTest::newRow("half turn about z")
        << QQuaternion(0, 0, 0, 1) << QMatrix4x4(-1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    const float h = float(std::sqrt(0.5));
    QTest::newRow("quarter turn about x")
        << QQuaternion(h, h, 0, 0) << QMatrix4x4(1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1);
}

void TestGLScope::pushRotate()
{
    QFETCH(QQuaternion, rotation);
    QFETCH(QMatrix4x4, expected);
    QGL::PushRotate rotate(rotation);
    const QMatrix4x4 actual = QGL::modelViewMatrix();
    for (int i = 0; i < 16; ++i)
        QVERIFY2(std::fabs(actual.constData()[i] - expected.constData()[i]) < 1e-6f,
                 qPrintable(QString("element %1: %2").arg(i).arg(actual.constData()[i])));
}

void TestGLScope::scaleAndTranslate()
{
    QGL::PushTranslate translate(QVector3D(1, 2, 3));
    QGL::PushScale scale(QVector3D(2, 3, 4));
    QMatrix4x4 expected;
    expected.translate(1, 2, 3);
    expected.scale(2, 3, 4);
    QCOMPARE(QGL::modelViewMatrix(), expected);
}

void TestGLScope::matrixTransfersRoundTrip()
{
    QMatrix4x4 m;
    m.translate(1, -2, 3);
    m.rotate(35, 1, 1, 0);
    m.scale(0.5f);
    QGL::glLoadMatrix(m);
    QCOMPARE(QGL::modelViewMatrix(), m);
    QGL::glMultMatrix(m);
    QCOMPARE(QGL::modelViewMatrix(), m * m);

    QMatrix4x4 projection;
    projection.perspective(45, 1.5f, 0.1f, 100);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    QGL::glLoadMatrix(projection);
    QCOMPARE(QGL::projectionMatrix(), projection);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

void TestGLScope::bufferGuards()
{
    {
        QGL::BufferBinder binder(nullptr);
        QVERIFY(!binder.buffer());
        QGL::ReadOnlyBufferMapper mapper(nullptr);
        QVERIFY(!mapper.buffer());
        QVERIFY(!mapper.address());
    }
    QGLBuffer uncreated(QGLBuffer::VertexBuffer);
    {
        QGL::BufferBinder binder(&uncreated);
        QVERIFY(!binder.buffer());
        QGL::ReadOnlyBufferMapper mapper(&uncreated);
        QVERIFY(!mapper.address());
    }

    QGLBuffer buffer(QGLBuffer::VertexBuffer);
    QVERIFY(buffer.create());
    const float values[4] = {1.5f, 2.5f, -3.0f, 4.0f};
    {
        QGL::BufferBinder binder(&buffer);
        QCOMPARE(binder.buffer(), &buffer);
        buffer.allocate(values, sizeof values);
    }
    GLint bound = -1;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
    QCOMPARE(bound, 0);
    {
        QGL::ReadOnlyBufferMapper mapper(&buffer);
        QVERIFY(mapper.address());
        QCOMPARE(static_cast<const float *>(mapper.address())[2], -3.0f);
    }
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
    QCOMPARE(bound, 0);
    // Mapping a second time proves the first mapper unmapped.
    {
        QGL::ReadOnlyBufferMapper mapper(&buffer);
        QVERIFY(mapper.address());
    }
    buffer.destroy();
    QVERIFY(QGL::glErrors().isEmpty());
}

void TestGLScope::glErrorsDrains()
{
    QVERIFY(QGL::glErrors().isEmpty());
    glEnable(0x7fff); // invalid enumerant
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix(); // stack underflow
    const QStringList errors = QGL::glErrors();
    QVERIFY2(errors.size() >= 1 && errors.size() <= 2, qPrintable(errors.join(", ")));
    QCOMPARE(errors.first(),
             QString::fromLatin1(reinterpret_cast<const char *>(gluErrorString(GL_INVALID_ENUM))));
    QVERIFY(QGL::glErrors().isEmpty());
}

QTEST_MAIN(TestGLScope)
#include "tst_glscope.moc"
