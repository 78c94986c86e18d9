#include "view/glwidget.h"

#include <QtTest>

// The driver facts that need no GL context: vendor classification, the seeded driver-string
// caches, and the rewrite of shader texts into the older dialect.
class TestGpuCaps : public QObject
{
    Q_OBJECT

private slots:
    void classifyGpuVendor_data();
    void classifyGpuVendor();
    void seededCachesClassifyOnce();
    void rewriteVertexSource_data();
    void rewriteVertexSource();
    void rewriteFragmentSource_data();
    void rewriteFragmentSource();
};

void TestGpuCaps::classifyGpuVendor_data()
{
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<QString>("renderer");
    QTest::addColumn<int>("expected");

    QTest::newRow("intel") << "Intel Open Source Technology Center"
                           << "Mesa DRI Intel(R) HD" << int(GLWidget::GpuIntel);
    QTest::newRow("tungsten") << "Tungsten Graphics, Inc"
                              << "Mesa DRI" << int(GLWidget::GpuIntel);
    QTest::newRow("ati") << "ATI Technologies Inc."
                         << "Radeon" << int(GLWidget::GpuAti);
    QTest::newRow("amd") << "Advanced Micro Devices, Inc."
                         << "AMD Radeon" << int(GLWidget::GpuAti);
    QTest::newRow("nvidia") << "NVIDIA Corporation"
                            << "GeForce" << int(GLWidget::GpuNvidia);
    QTest::newRow("nouveau") << "nouveau"
                             << "NVE7" << int(GLWidget::GpuNvidia);
    QTest::newRow("matrox") << "Matrox Graphics"
                            << "G200" << int(GLWidget::GpuMatrox);
    QTest::newRow("chromium renderer") << "Microsoft Corporation"
                                       << "Chromium" << int(GLWidget::GpuChromium);
    QTest::newRow("humper vendor") << "Humper"
                                   << "any" << int(GLWidget::GpuChromium);
    QTest::newRow("vmware") << "VMware, Inc."
                            << "SVGA3D" << int(GLWidget::GpuVmware);
    QTest::newRow("mesa project") << "Mesa project"
                                  << "llvmpipe (LLVM 15.0.6, 256 bits)" << int(GLWidget::GpuSoftware);
    QTest::newRow("software renderer, any case")
        << "Some Vendor"
        << "Generic SoftWare Rasterizer" << int(GLWidget::GpuSoftware);
    QTest::newRow("microsoft gdi") << "Microsoft Corporation"
                                   << "GDI Generic" << int(GLWidget::GpuOther);
    QTest::newRow("empty strings") << ""
                                   << "" << int(GLWidget::GpuOther);
    // Earlier rows win: an Intel vendor with a software renderer is still Intel.
    QTest::newRow("first match wins") << "INTEL"
                                      << "software" << int(GLWidget::GpuIntel);
    QTest::newRow("vendor only at the start") << "Not NVIDIA Corporation"
                                              << "x" << int(GLWidget::GpuOther);
}

void TestGpuCaps::classifyGpuVendor()
{
    QFETCH(QString, vendor);
    QFETCH(QString, renderer);
    QFETCH(int, expected);
    QCOMPARE(int(GLWidget::classifyGpuVendor(vendor, renderer)), expected);
}

void TestGpuCaps::seededCachesClassifyOnce()
{
    // Nothing in this process has asked the driver: the seeded strings are the driver's.
    GLWidget::seedDriverStrings("Intel Open Source Technology Center", "Mesa DRI Intel(R) HD Graphics");
    QCOMPARE(GLWidget::glVendorString(), QString("Intel Open Source Technology Center"));
    QCOMPARE(GLWidget::gpuVendor(), GLWidget::GpuIntel);

    // A filled cache is not replaced, and the class is computed once.
    GLWidget::seedDriverStrings("ATI Technologies Inc.", "Radeon");
    QCOMPARE(GLWidget::glVendorString(), QString("Intel Open Source Technology Center"));
    QCOMPARE(GLWidget::gpuVendor(), GLWidget::GpuIntel);
}

void TestGpuCaps::rewriteVertexSource_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");

    QTest::newRow("shipped header")
        << "#version 150 compatibility\n#define USE_CLIP_VERTEX 0\nout vec4 glBackColor;\n"
        << "#define USE_CLIP_VERTEX 1\n\n\nvarying vec4 glBackColor;\n";
    QTest::newRow("in at the very start") << "in vec3 a;"
                                          << "#define USE_CLIP_VERTEX 1\nvarying vec3 a;";
    QTest::newRow("crlf line ends")
        << "#version 150 compatibility\r\nin vec3 a;\r\nout float b;\r\n"
        << "#define USE_CLIP_VERTEX 1\n\r\nvarying vec3 a;\r\nvarying float b;\r\n";
    QTest::newRow("parameter qualifiers stay")
        << "\nvoid f(in vec3 a, out float b);\n"
        << "#define USE_CLIP_VERTEX 1\n\nvoid f(in vec3 a, out float b);\n";
    QTest::newRow("after a blank stays") << "\n out vec4 c;\n"
                                         << "#define USE_CLIP_VERTEX 1\n\n out vec4 c;\n";
    QTest::newRow("inout stays") << "\ninout vec4 d;\n"
                                 << "#define USE_CLIP_VERTEX 1\n\ninout vec4 d;\n";
    QTest::newRow("longer words stay") << "\nint i;\noutput x;\n"
                                       << "#define USE_CLIP_VERTEX 1\n\nint i;\noutput x;\n";
    QTest::newRow("other defines stay") << "#define USE_CLIP 2\n"
                                        << "#define USE_CLIP_VERTEX 1\n#define USE_CLIP 2\n";
}

void TestGpuCaps::rewriteVertexSource()
{
    QFETCH(QString, source);
    QFETCH(QString, expected);
    QCOMPARE(GLWidget::rewriteVertexSource(source), expected);
}

void TestGpuCaps::rewriteFragmentSource_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");

    QTest::newRow("shipped header") << "#version 150 compatibility\nin vec4 glBackColor;\n"
                                    << "\nvarying vec4 glBackColor;\n";
    QTest::newRow("clip define stays") << "#version 150 compatibility\n#define USE_CLIP_VERTEX 0\nout vec4 c;"
                                       << "\n#define USE_CLIP_VERTEX 0\nvarying vec4 c;";
    QTest::newRow("noperspective in stays") << "noperspective in vec3 h;\n"
                                            << "noperspective in vec3 h;\n";
}

void TestGpuCaps::rewriteFragmentSource()
{
    QFETCH(QString, source);
    QFETCH(QString, expected);
    QCOMPARE(GLWidget::rewriteFragmentSource(source), expected);
}

QTEST_MAIN(TestGpuCaps)
#include "tst_gpucaps.moc"
