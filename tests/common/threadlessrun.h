#pragma once

// A program, or this test program again as a child, run where no thread can start, for the
// tests of what our code does when the system refuses threads. Header only, Qt Core alone (its
// macro uses Qt Test's where it is expanded), so that the tests of geom/core can use it without
// the rest of the shared helpers.

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <system_error>
#include <thread>

namespace threadtest {

// Exit code of the child when a thread started despite the limit.
constexpr int ChildSkipped = 3;

// True in a build with AddressSanitizer, which needs more address space than the child's limit
// leaves.
inline bool sanitized()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

// Whether this process can start a thread now.
inline bool threadCanStart()
{
    try {
        std::thread([] {}).join();
        return true;
    } catch (const std::system_error &) {
        return false;
    }
}

// How the child of runWithoutThreads ended.
struct ChildRun
{
    bool finished = false; // false when it did not end within a minute
    bool skipped = false;  // it exited with ChildSkipped
    bool passed = false;   // it exited normally with 0
    QByteArray output;     // its standard output and error
};

// The shell and its options that run the program given after them, with its arguments, where the
// system refuses every new thread.
// note: threads take their stack size from the stack limit at start-up, so a stack limit far
// above the address-space limit refuses every new thread while the program itself runs as usual.
inline QStringList threadlessShell()
{
    return {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
            QStringLiteral("ulimit -s 4000000 && ulimit -v 3000000 && exec \"$0\" \"$@\"")};
}

// Runs this program again with the environment variable set to value (the child's main checks it
// and runs without Qt Test, whose watchdog thread would not start there).
inline ChildRun runWithoutThreads(const char *variable, const QString &value)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(variable), value);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList shell = threadlessShell();
    child.start(shell.first(), shell.mid(1) << QCoreApplication::applicationFilePath());
    ChildRun run;
    run.finished = child.waitForFinished(60000);
    run.output = child.readAll();
    const bool exited = run.finished && child.exitStatus() == QProcess::NormalExit;
    run.skipped = exited && child.exitCode() == ChildSkipped;
    run.passed = exited && child.exitCode() == 0;
    return run;
}

} // namespace threadtest

// In a Qt Test function: runs the child of runWithoutThreads with the value and goes on when it
// passed. Skips the function under AddressSanitizer and where a thread still starts; fails it when
// the child did not end or did not pass, with the child's output.
#define THREADTEST_VERIFY_CHILD(variable, value)                                                             \
    do {                                                                                                     \
        if (threadtest::sanitized())                                                                         \
            QSKIP("AddressSanitizer needs more address space than the limit leaves");                        \
        const threadtest::ChildRun child = threadtest::runWithoutThreads(variable, value);                   \
        QVERIFY2(child.finished, "the child run did not finish");                                            \
        if (child.skipped)                                                                                   \
            QSKIP("this system starts threads under the limit");                                             \
        QVERIFY2(child.passed, child.output.constData());                                                    \
    } while (false)
