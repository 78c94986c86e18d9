#include "app/application.h"
#include "app/mainwindow.h"

#include <QtTest>

class TestApplication : public QObject
{
    Q_OBJECT

private slots:
    void windowlessPlatform_data();
    void windowlessPlatform();
    void mainWindowTitle();
};

void TestApplication::windowlessPlatform_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("platformVariable");
    QTest::addColumn<bool>("offscreen");

    QTest::newRow("headless batch") << QStringList{"quarn", "--headless", "-compress", "a.stl"}
                                    << QByteArray() << true;
    QTest::newRow("usage") << QStringList{"quarn", "-h"} << QByteArray() << true;
    QTest::newRow("platform forced by the environment")
        << QStringList{"quarn", "--headless"} << QByteArray("xcb") << false;
    QTest::newRow("platform forced by an option")
        << QStringList{"quarn", "--headless", "-platform", "xcb"} << QByteArray() << false;
    QTest::newRow("platform option with two dashes")
        << QStringList{"quarn", "--platform", "xcb", "--help"} << QByteArray() << false;
    QTest::newRow("batch with its dialog")
        << QStringList{"quarn", "-compress", "a.stl"} << QByteArray() << false;
    QTest::newRow("main window") << QStringList{"quarn", "model.stl"} << QByteArray() << false;
}

void TestApplication::windowlessPlatform()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, platformVariable);
    QFETCH(bool, offscreen);
    QCOMPARE(Application::needsWindowlessPlatform(arguments, platformVariable), offscreen);
}

void TestApplication::mainWindowTitle()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Orvan Quarn (STL Compressor/Viewer)"));
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
}

QTEST_MAIN(TestApplication)
#include "tst_application.moc"
