// The built program's window ends the process at once, by Exit and by the close button of its
// title bar, while its news check still waits for a server that never answers or for a name that
// never resolves. The name is held by a stand-in resolver preloaded into the program.
#include "pageserver.h"
#include "x11windows.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <X11/keysym.h>

using widgettest::PageServer;

namespace {

const QString windowTitle = QStringLiteral("Orvan Quarn (STL Compressor/Viewer)");
// Generous: the program ends in well under a tenth of this here. What it catches took two
// seconds and more: a stopped news load waited for, a name lookup joined.
constexpr int promptExitMs = 1500;

} // namespace

class TestWindowExit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void endsWhileNewsIsPending_data();
    void endsWhileNewsIsPending();

private:
    PageServer m_server;
};

void TestWindowExit::initTestCase()
{
    m_server.stalled = true;
    QVERIFY(m_server.listen(QHostAddress::LocalHost));
}

void TestWindowExit::endsWhileNewsIsPending_data()
{
    QTest::addColumn<bool>("byMenu");
    QTest::addColumn<bool>("nameLookup");
    QTest::newRow("Exit, name never resolves") << true << true;
    QTest::newRow("Exit, server never answers") << true << false;
    QTest::newRow("close button, name never resolves") << false << true;
}

void TestWindowExit::endsWhileNewsIsPending()
{
    QFETCH(bool, byMenu);
    QFETCH(bool, nameLookup);
    QTemporaryDir home;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(QUARN_STALLED_RESOLVER));
    environment.insert(QStringLiteral("QUARN_NEWS_BASE_URL"),
                       nameLookup ? QStringLiteral("http://news.stalled.test")
                                  : QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QUARN_EXECUTABLE), QStringList());
    QVERIFY(program.waitForStarted());
    QByteArray errors;
    const auto ended = [&program, &errors](int milliseconds) {
        const bool finished = program.waitForFinished(milliseconds);
        if (!finished) {
            program.kill();
            program.waitForFinished();
        }
        errors += program.readAllStandardError();
        return finished;
    };

    unsigned long window = 0;
    const auto findWindow = [&] {
        for (const x11test::TopLevel &shown : x11test::windowsOf(program.processId())) {
            if (shown.title == windowTitle)
                window = shown.id;
        }
        return window != 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(findWindow() || program.state() == QProcess::NotRunning, 30000);
    if (window == 0) {
        ended(0);
        QFAIL(errors.constData());
    }
    // The news request is under way and stays so.
    if (nameLookup)
        QTRY_VERIFY_WITH_TIMEOUT(
            (errors += program.readAllStandardError()).contains("stalledresolver: holding news.stalled.test"),
            10000);
    else
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requests, 1, 10000);

    QElapsedTimer timer;
    if (byMenu) {
        // Alt+F opens the File menu, X its Exit entry. A key that comes before the window has
        // taken the focus is lost: asked again while no menu shows.
        const auto menuShown = [&program] { return x11test::windowsOf(program.processId()).size() > 1; };
        bool shown = false;
        for (int attempt = 0; attempt < 5 && !shown; ++attempt) {
            QVERIFY(x11test::focus(window));
            QVERIFY(x11test::typeKey(window, XK_f, true));
            shown = QTest::qWaitFor(menuShown, 2000);
        }
        QVERIFY(shown);
        timer.start();
        QVERIFY(x11test::typeKey(window, XK_x));
    } else {
        timer.start();
        QVERIFY(x11test::requestClose(window));
    }
    QVERIFY2(ended(10000), "the program did not end");
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY2(elapsed < promptExitMs, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    // The window's settings were written first.
    const QSettings saved(home.filePath(QStringLiteral("config/Orvan/Quarn.conf")), QSettings::IniFormat);
    QVERIFY(saved.contains(QStringLiteral("MainWindow/WindowState")));
    // A start without a news server is no error worth a line.
    QVERIFY2(!errors.contains("News page"), errors.constData());
}

QTEST_GUILESS_MAIN(TestWindowExit)

#include "tst_windowexit.moc"
