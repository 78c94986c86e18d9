#include "app/application.h"

#include "batch/batchcommandline.h"

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{}

Application::~Application() = default;

bool Application::needsWindowlessPlatform(const QStringList &arguments, const QByteArray &platformVariable)
{
    if (!platformVariable.isEmpty())
        return false;
    // Qt takes its own options with one or two dashes.
    if (arguments.contains(QStringLiteral("-platform")) || arguments.contains(QStringLiteral("--platform")))
        return false;
    return runsWithoutWindow(arguments);
}

void Application::selectWindowlessPlatform(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (needsWindowlessPlatform(arguments, qgetenv("QT_QPA_PLATFORM")))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}
