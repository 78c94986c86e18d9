#pragma once

#include "app/application.h"
#include "app/mainwindow.h"
#include "measure.h"

#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

// What a benchmark of the main window runs in: the program's application object under settings of
// its own (never the user's), no file taken from the command line, and a working folder that goes
// with it (in `dir` when given). Needs a display.
class WindowBench
{
public:
    WindowBench(char **argv, const std::string &dir, const char *name)
        : m_argc(benchSettings())
        , m_app(m_argc, argv)
        , m_folder(dir.empty() ? QString()
                               : QString::fromStdString(dir) + QLatin1Char('/') + QLatin1String(name) +
                                     QStringLiteral("-XXXXXX"))
    {
        MainWindow::dropCommandLineFile();
    }

    bool isValid() const { return m_folder.isValid(); }
    QString folder() const { return m_folder.path(); }

private:
    // note: the names must be set before the application object reads its settings.
    static int benchSettings()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Orvan"));
        QCoreApplication::setApplicationName(QStringLiteral("QuarnBench"));
        return 1;
    }

    int m_argc;
    Application m_app;
    QTemporaryDir m_folder;
};

// Times both roads of run `run`; they take turns at going first, since the first runs slower on a
// busy machine.
template <typename Library, typename Window>
void timeInTurns(int run, const Library &timeLibrary, const Window &timeWindow)
{
    if (run % 2) {
        timeWindow();
        timeLibrary();
    } else {
        timeLibrary();
        timeWindow();
    }
}

// Prints the medians of the library's and the window's times and their ratio; the exit code of
// the benchmark: 0 within the limit of 1.2, else 3.
inline int reportWindowRatio(std::size_t facets, const char *libraryRoad, const std::vector<double> &library,
                             const char *windowRoad, const std::vector<double> &windowed)
{
    const double libraryTime = median(library);
    const double windowTime = median(windowed);
    std::printf("facets            %zu\n", facets);
    std::printf("%-17s %.3f s\n", libraryRoad, libraryTime);
    std::printf("%-17s %.3f s\n", windowRoad, windowTime);
    std::printf("ratio             %.3f (limit 1.2)\n", libraryTime > 0 ? windowTime / libraryTime : 0.0);
    return windowTime <= 1.2 * libraryTime ? 0 : 3;
}

} // namespace bench
