#include "app/application.h"
#include "app/mainwindow.h"
#include "batch/batchprocessor.h"

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orvan"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvan.example"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarn"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARN_VERSION));
    Application::selectWindowlessPlatform(argc, argv);

    Application app(argc, argv);
    app.setProperty("FullApplicationName", app.organizationName() + QLatin1Char(' ') + app.applicationName());
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, &QCoreApplication::quit);

    int exitCode = 0;
    {
        BatchProcessor processor;
        const qint8 decision = processor.start();
        if (decision < 0) {
            app.quit();
        } else if (decision == 0) {
            MainWindow window;
            window.show();
            exitCode = app.exec();
        } else {
            exitCode = app.exec();
        }
    }
    return exitCode;
}
