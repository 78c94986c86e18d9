#pragma once

#include "batch/batchjob.h"

#include <QByteArray>
#include <QLatin1String>
#include <QString>
#include <QStringList>
#include <QVector>

// The options of the program's command line, compared as whole, case-sensitive arguments.
namespace BatchOption {
// The length comes from the literal's type: QLatin1String's one-argument constructor counts
// with strlen, which only some compilers evaluate in a constant expression.
template <int N>
constexpr QLatin1String literal(const char (&text)[N])
{
    return QLatin1String(text, N - 1);
}

constexpr QLatin1String Compress = literal("-compress");
constexpr QLatin1String Decompress = literal("-decompress");
constexpr QLatin1String Headless = literal("--headless");
constexpr QLatin1String Help = literal("--help");
constexpr QLatin1String ShortHelp = literal("-h");
} // namespace BatchOption

// What a command line asks for: the usage, a run without windows, and the files of a batch in the
// order they are worked off (every compress job before every decompress job).
struct BatchCommandLine
{
    bool helpShown = false;
    bool headless = false;
    BatchJobList jobs;
    // When "-compress" or "-decompress" is given: one line per other argument that became no job,
    // "Skipped "NAME": REASON", in argument order.
    QStringList skipped;

    // -1: nothing is left to do (the usage, or headless without a file); 0: the main window;
    // 1: a batch of the jobs.
    qint8 startDecision() const;
};

// Parses an argument list whose first entry is the program path. "--help" or "-h" anywhere
// wins over everything else. Behind the first "-compress" every argument ending in ".stl", and
// behind the first "-decompress" every one ending in ".qrn", becomes a job (endings compared
// without regard to case; an argument holding "*" is skipped unless a file bears that name).
// `bytes`, when given, holds each argument as the system passed it: a file name whose text does
// not give back those bytes (not valid in the system's encoding) cannot be opened and is
// skipped. Prints nothing.
BatchCommandLine parseBatchCommandLine(const QStringList &arguments,
                                       const QVector<QByteArray> &bytes = QVector<QByteArray>());

// The arguments as the system passed them, for parseBatchCommandLine.
QVector<QByteArray> argumentBytes(int argc, const char *const *argv);

// The usage text for `program`, one line per line ending, with the application name, version,
// organisation and domain of QCoreApplication.
QString batchUsage(const QString &program);

// True when the command line makes the program run without any window (the usage or
// "--headless"), so that it must not need a display.
bool runsWithoutWindow(const QStringList &arguments);
