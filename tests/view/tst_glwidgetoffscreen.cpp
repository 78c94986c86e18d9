#include "view/glwidget.h"

#include <QtTest>

// The view on a platform that cannot make a GL context (offscreen): building it and asking for
// the driver's capabilities answers "nothing" instead of reading a context that is not there.
class TestGLWidgetOffscreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void capabilitiesWithoutContext();
    void buildsWithoutContext();
};

void TestGLWidgetOffscreen::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
}

void TestGLWidgetOffscreen::capabilitiesWithoutContext()
{
    QVERIFY(!GLWidget::hasOpenGL15());
    QVERIFY(!GLWidget::hasOpenGL20());
    QVERIFY(!GLWidget::hasOpenGL32());
    QVERIFY(!GLWidget::hasGLExtension(QStringLiteral("GL_ARB_vertex_buffer_object")));
    QVERIFY(GLWidget::glVendorString().isEmpty());
    QVERIFY(GLWidget::glRendererString().isEmpty());
    QCOMPARE(GLWidget::gpuVendor(), GLWidget::GpuOther);
    QVERIFY(!GLWidget::testOcclusionQuery());
    QVERIFY(!GLWidget::isMultiSamplingUsable());
    const QGLFormat format = GLWidget::defaultFormat();
    QVERIFY(format.majorVersion() < 3);
}

void TestGLWidgetOffscreen::buildsWithoutContext()
{
    GLWidget widget;
    widget.resize(64, 64);
    QVERIFY(!GLWidget::hasOpenGL20());
    QVERIFY(!GLWidget::hasOpenGL32());
}

QTEST_MAIN(TestGLWidgetOffscreen)
#include "tst_glwidgetoffscreen.moc"
