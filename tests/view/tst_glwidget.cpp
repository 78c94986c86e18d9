#include "view/glscope.h"
#include "view/glwidget.h"
#include "view/glwindow.h"

#include <QtTest>

// GLWidget's state, defaults, setters, GPU facts and shader programs on a real context (Xvfb,
// llvmpipe).
class TestGLWidget : public QObject
{
    Q_OBJECT

private slots:
    void defaults();
    void firstFrameWithoutGLError();
};

void TestGLWidget::defaults()
{
    GLWidget widget;
    QCOMPARE(widget.sizeHint(), QSize(320, 320));
    QCOMPARE(widget.minimumSizeHint(), QSize(50, 50));
    QCOMPARE(widget.rotationMode(), GLWidget::RotateFree);
    QVERIFY(widget.lightingEnabled());
    QCOMPARE(widget.fieldOfView(), 0.7853982f);
    QCOMPARE(widget.sceneRadius(), 1.0f);
    QCOMPARE(widget.clipHighlight(), 0.01f);
    QCOMPARE(widget.clipDirection(), Clip::NoClip);
}

void TestGLWidget::firstFrameWithoutGLError()
{
    GLWidget widget;
    QStringList errors;
    int frames = 0;
    connect(&widget, &GLWidget::postRenderScene, [&] {
        ++frames;
        errors << QGL::glErrors();
    });
    widget.resize(200, 150);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QTRY_VERIFY(frames > 0);
    QVERIFY(widget.isGLInitialized());
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(", ")));
}

QTEST_MAIN(TestGLWidget)
#include "tst_glwidget.moc"
