#pragma once

#include "app/application.h"
#include "app/mainwindow.h"

#include <QString>
#include <QTemporaryDir>

#include <string>

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

} // namespace bench
