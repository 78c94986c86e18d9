#include "app/application.h"

#include "app/mainwindow.h"
#include "batch/batchcommandline.h"

#include <QFileOpenEvent>

#include <cstdio>
#include <cstdlib>

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{}

Application::~Application() = default;

bool Application::event(QEvent *event)
{
    if (event->type() == QEvent::FileOpen) {
        openFile(static_cast<QFileOpenEvent *>(event)->file());
        return true;
    }
    return QApplication::event(event);
}

void Application::openFile(const QString &name)
{
    // The file from the system wins over the command line's: a window shown for it must not
    // replace it with the command-line argument.
    MainWindow::dropCommandLineFile();
    MainWindow *target = nullptr;
    const QWidgetList widgets = topLevelWidgets();
    for (QWidget *widget : widgets) {
        auto *window = qobject_cast<MainWindow *>(widget);
        if (window && !window->hasCurrentFile() && !window->isBusy()) {
            target = window;
            break;
        }
    }
    if (target) {
        // A closed window that receives a file comes back, so the file is not opened unseen.
        target->show();
        target->raise();
        target->activateWindow();
        target->openFile(name);
        return;
    }
    // Lives until the process ends, like every window the user has not closed.
    auto *window = new MainWindow;
    window->openFile(name);
    window->show();
    window->raise();
    window->activateWindow();
}

void Application::endProcessAfterTeardown(const int *exitCode)
{
    // note: a news check that was still resolving its server's name held Exit for seconds. Qt's
    // lookups connect their join to this same signal when the first one starts; this connection
    // comes first, so it runs first.
    connect(this, &QObject::destroyed, [exitCode] {
        std::fflush(nullptr);
        std::_Exit(*exitCode);
    });
}

bool Application::needsWindowlessPlatform(const QStringList &arguments, const QByteArray &platformVariable)
{
    if (!platformVariable.isEmpty())
        return false;
    // Qt takes its own options with one or two dashes.
    if (arguments.contains(QStringLiteral("-platform")) || arguments.contains(QStringLiteral("--platform")))
        return false;
    return runsWithoutWindow(arguments);
}

namespace {

QtMessageHandler previousHandler = nullptr;

QStringList argumentList(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

void dropRuntimeFolderWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    // Qt's own texts: "QStandardPaths: XDG_RUNTIME_DIR not set, ...", "QStandardPaths: runtime
    // directory '...' is not owned by UID ...", "QStandardPaths: wrong permissions on runtime
    // directory ...".
    const bool runtimeFolder = text.startsWith(QLatin1String("QStandardPaths: ")) &&
                               (text.contains(QLatin1String("XDG_RUNTIME_DIR")) ||
                                text.contains(QLatin1String("runtime directory")));
    if (!runtimeFolder)
        previousHandler(type, context, text);
}

} // namespace

void Application::selectWindowlessPlatform(int argc, char **argv)
{
    if (needsWindowlessPlatform(argumentList(argc, argv), qgetenv("QT_QPA_PLATFORM")))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void Application::quietenWindowlessRun(int argc, char **argv)
{
    if (runsWithoutWindow(argumentList(argc, argv)) && !previousHandler)
        previousHandler = qInstallMessageHandler(dropRuntimeFolderWarnings);
}
