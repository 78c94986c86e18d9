#include "geom/core/workerthreads.h"
#include "threadlessrun.h"

#include <QtTest>

#include <atomic>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

using geom::BackgroundWork;
using geom::WorkerTeam;

namespace {

// The environment variable that makes this program the child of withoutThreads().
const char ChildVariable[] = "QUARN_WORKERTHREADS_CHILD";

// Counts how often each item was done.
struct Tally
{
    explicit Tally(quint32 count)
        : hits(new std::atomic<int>[count])
        , size(count)
    {
        for (quint32 i = 0; i < count; ++i)
            hits[i] = 0;
    }
    QString check() const
    {
        for (quint32 i = 0; i < size; ++i) {
            if (hits[i] != 1)
                return QStringLiteral("item %1 done %2 times").arg(i).arg(hits[i].load());
        }
        return QString();
    }
    std::unique_ptr<std::atomic<int>[]> hits;
    quint32 size;
};

} // namespace

class TestWorkerThreads : public QObject
{
    Q_OBJECT

private slots:
    void teamDoesEveryItemOnce_data();
    void teamDoesEveryItemOnce();
    void teamRethrowsAfterTheRest();
    void backgroundWork();
    void withoutThreads();
};

void TestWorkerThreads::teamDoesEveryItemOnce_data()
{
    QTest::addColumn<unsigned>("lanes");
    QTest::addColumn<quint32>("count");
    QTest::newRow("one lane") << 1u << quint32(50);
    QTest::newRow("no items") << 4u << quint32(0);
    QTest::newRow("one item, many lanes") << 8u << quint32(1);
    QTest::newRow("fewer items than lanes") << 8u << quint32(3);
    QTest::newRow("many items") << 4u << quint32(5000);
}

// Every item exactly once, in each of several runs of one team, with more than one thread at
// work when the team has helpers.
void TestWorkerThreads::teamDoesEveryItemOnce()
{
    QFETCH(unsigned, lanes);
    QFETCH(quint32, count);
    WorkerTeam team(lanes);
    QCOMPARE(team.lanes(), lanes);
    for (int round = 0; round < 3; ++round) {
        Tally tally(count);
        team.run(count, [&tally](quint32 i) { ++tally.hits[i]; });
        QCOMPARE(tally.check(), QString());
    }
}

void TestWorkerThreads::teamRethrowsAfterTheRest()
{
    WorkerTeam team(4);
    const quint32 count = 200;
    Tally tally(count);
    bool thrown = false;
    try {
        team.run(count, [&tally](quint32 i) {
            ++tally.hits[i];
            if (i % 50 == 7)
                throw std::runtime_error("item failed");
        });
    } catch (const std::runtime_error &e) {
        thrown = true;
        QCOMPARE(QByteArray(e.what()), QByteArray("item failed"));
    }
    QVERIFY(thrown);
    QCOMPARE(tally.check(), QString());

    // The team goes on working.
    Tally again(count);
    team.run(count, [&again](quint32 i) { ++again.hits[i]; });
    QCOMPARE(again.check(), QString());
}

void TestWorkerThreads::backgroundWork()
{
    int done = 0;
    {
        BackgroundWork work([&done] { ++done; });
        work.wait();
        QCOMPARE(done, 1);
        work.wait();
        QCOMPARE(done, 1);
    }
    {
        BackgroundWork work([&done] { ++done; });
    }
    QCOMPARE(done, 2);

    BackgroundWork failing([] { throw std::runtime_error("work failed"); });
    QVERIFY_EXCEPTION_THROWN(failing.wait(), std::runtime_error);
    // Thrown once.
    failing.wait();
}

// Where the system refuses every new thread, the team is the caller alone and background work is
// done by the thread that waits for it: everything completes. The child runs without Qt Test,
// whose watchdog thread would not start there.
void TestWorkerThreads::withoutThreads()
{
    THREADTEST_VERIFY_CHILD(ChildVariable, QStringLiteral("1"));
}

namespace {

// The child of withoutThreads(): 0 when all went well, ChildSkipped when a thread still started,
// else 1 with the failure on standard error.
int runWithoutThreads()
{
    if (threadtest::threadCanStart())
        return threadtest::ChildSkipped;
    WorkerTeam team(8);
    if (team.lanes() != 1) {
        std::fprintf(stderr, "the team has %u lanes\n", team.lanes());
        return 1;
    }
    const quint32 count = 100;
    Tally tally(count);
    team.run(count, [&tally](quint32 i) { ++tally.hits[i]; });
    const QString itemFailure = tally.check();
    if (!itemFailure.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(itemFailure));
        return 1;
    }
    int done = 0;
    BackgroundWork work([&done] { ++done; });
    if (done != 0) {
        std::fprintf(stderr, "background work done without a thread before wait()\n");
        return 1;
    }
    work.wait();
    if (done != 1) {
        std::fprintf(stderr, "background work done %d times\n", done);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(ChildVariable))
        return runWithoutThreads();
    QCoreApplication app(argc, argv);
    TestWorkerThreads test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_workerthreads.moc"
