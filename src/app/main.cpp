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
    Application::quietenWindowlessRun(argc, argv);

    Application app(argc, argv);
    app.setProperty("FullApplicationName", app.organizationName() + QLatin1Char(' ') + app.applicationName());
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, &QCoreApplication::quit);

    int exitCode = 0;
    {
        BatchProcessor processor;
        // Qt has taken its own options out of argc and argv, which now match arguments().
        const qint8 decision = processor.start(QCoreApplication::arguments(), argumentBytes(argc, argv));
        if (decision < 0) {
            exitCode = processor.exitCode();
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
