#include "app/application.h"
#include "app/mainwindow.h"
#include "batch/batchprocessor.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

int main(int argc, char *argv[])
{
#if defined(__GLIBC__)
    // note: each time a block that came straight from the system is freed, glibc raises the size
    // from which on it does so, up to 32 MiB; blocks below it come from the heap and stay with the
    // process when freed. A mesh passes through stages whose arrays are freed before the next,
    // larger stage: with a fixed threshold they go back to the system at once (10 M triangle
    // compression: peak 766 -> 751 MB, same time).
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
    QCoreApplication::setOrganizationName(QStringLiteral("Orvan"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvan.example"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarn"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARN_VERSION));
    Application::selectWindowlessPlatform(argc, argv);
    Application::quietenWindowlessRun(argc, argv);

    // Declared before the application object, which may read it while it is destroyed.
    int exitCode = 0;
    Application app(argc, argv);
    app.setProperty("FullApplicationName", app.organizationName() + QLatin1Char(' ') + app.applicationName());
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, &QCoreApplication::quit);

    {
        BatchProcessor processor;
        // Qt has taken its own options out of argc and argv, which now match arguments().
        const qint8 decision = processor.start(QCoreApplication::arguments(), argumentBytes(argc, argv));
        if (decision < 0) {
            exitCode = processor.exitCode();
            app.quit();
        } else if (decision == 0) {
            // The window's settings are written when it closes; its news check may leave a
            // host lookup behind that nothing can stop.
            app.endProcessAfterTeardown(&exitCode);
            MainWindow window;
            window.show();
            exitCode = app.exec();
        } else {
            exitCode = app.exec();
        }
    }
    return exitCode;
}
