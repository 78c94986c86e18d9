#include "app/application.h"
#include "app/mainwindow.h"
#include "modaldialoganswerer.h"

#include <QtTest>

#include <vector>

using widgettest::ModalDialogAnswerer;

// Runs with a file name after the program name in the application's arguments, as "quarn FILE"
// would: the name does not exist, so each attempt to open it shows one "Open" message box.
class TestCommandLineFile : public QObject
{
    Q_OBJECT

private slots:
    void openedOnceOnTheFirstShow();
};

namespace {
const char missingFile[] = "no-such-model.stl";
}

void TestCommandLineFile::openedOnceOnTheFirstShow()
{
    ModalDialogAnswerer answerer;
    MainWindow window;
    QCOMPARE(answerer.seen().size(), 0); // building the window opens nothing

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(answerer.seen().size(), 1);
    QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Open"));
    QVERIFY(answerer.seen().at(0).text.contains(QLatin1String(missingFile)));
    QCOMPARE(answerer.seen().at(0).parent.data(), &window);

    // Neither showing the window again nor a second window opens the file over the user's.
    window.hide();
    window.show();
    MainWindow second;
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    QTest::qWait(300);
    QCOMPARE(answerer.seen().size(), 1);
}

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvan"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarn"));
    std::vector<char *> arguments{argv[0], const_cast<char *>(missingFile)};
    int count = int(arguments.size());
    arguments.push_back(nullptr);
    Application app(count, arguments.data());
    TestCommandLineFile test;
    // The test's own options stay with the test runner, not with the application.
    return QTest::qExec(&test, argc, argv);
}

#include "tst_commandlinefile.moc"
