#include "app/servingevents.h"
#include "threadlessrun.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace {

// The environment variable that makes this program the child of withoutThreads().
const char ChildVariable[] = "QUARN_SERVINGEVENTS_CHILD";

} // namespace

class TestServingEvents : public QObject
{
    Q_OBJECT

private slots:
    void servingEvents();
    void withoutThreads();
};

// The calling thread serves its events and ticks while the work runs: a work that waits for an
// event of the caller finishes; a work that throws ends the serving and its exception arrives.
void TestServingEvents::servingEvents()
{
    std::atomic<bool> served{false};
    QTimer::singleShot(0, [&served] { served = true; });
    int ticks = 0;
    bool sawEvent = false;
    runServingEvents(
        [&] {
            for (int i = 0; i < 5000 && !served; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            sawEvent = served;
            // Long enough for a few ticks.
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        },
        1, [&ticks] { ++ticks; });
    QVERIFY(sawEvent);
    QVERIFY(ticks > 0);

    // note: a loop left waiting for a quit that never comes would hang here until the test's
    // time-out.
    QVERIFY_EXCEPTION_THROWN(runServingEvents([] { throw std::runtime_error("work failed"); }, 1, [] {}),
                             std::runtime_error);
    QVERIFY_EXCEPTION_THROWN(runServingEvents([] { throw 1; }, 1, [] {}), int);
}

// Where the system refuses every new thread, the work is done by the thread that waits for it.
// The child runs without Qt Test, whose watchdog thread would not start there.
void TestServingEvents::withoutThreads()
{
    THREADTEST_VERIFY_CHILD(ChildVariable, QStringLiteral("1"));
}

namespace {

// The child of withoutThreads(): 0 when all went well, ChildSkipped when a thread still started,
// else 1 with the failure on standard error.
int runWithoutThreads(int argc, char **argv)
{
    if (threadtest::threadCanStart())
        return threadtest::ChildSkipped;
    QCoreApplication app(argc, argv);
    int done = 0;
    runServingEvents([&done] { ++done; }, 1, [] {});
    if (done != 1) {
        std::fprintf(stderr, "work that serves events done %d times\n", done);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(ChildVariable))
        return runWithoutThreads(argc, argv);
    QCoreApplication app(argc, argv);
    TestServingEvents test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_servingevents.moc"
