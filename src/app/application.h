#pragma once

#include <QApplication>

// The program's application object. It hands files that the system asks to open to a main
// window.
class Application : public QApplication
{
    Q_OBJECT

public:
    // argc by reference, as the toolkit requires.
    Application(int &argc, char **argv);
    ~Application() override;

    // Chooses Qt's offscreen platform when the command line runs without any window ("--help",
    // "-h", "--headless") and no platform was forced by QT_QPA_PLATFORM or "-platform", so such
    // runs need no display. Call before the application object exists.
    static void selectWindowlessPlatform(int argc, char **argv);
    // Keeps Qt's warnings about the runtime folder (XDG_RUNTIME_DIR missing or unsafe) off
    // standard error when the command line runs without any window, whose standard error is
    // for the batch's own lines. Call before the application object exists.
    static void quietenWindowlessRun(int argc, char **argv);
    // The decision above as a pure function of the arguments and the value of QT_QPA_PLATFORM.
    static bool needsWindowlessPlatform(const QStringList &arguments, const QByteArray &platformVariable);

    // Ends the process with *exitCode once this object's own teardown is done (its windows and
    // its display connection are gone), skipping the libraries' teardown that would follow: Qt
    // joins its host-lookup threads there, and a lookup that the system's resolver holds cannot
    // be cancelled. Call before anything starts a network request; exitCode must outlive this
    // object, and everything the program keeps must be written before it goes.
    void endProcessAfterTeardown(const int *exitCode);

protected:
    // Consumes QEvent::FileOpen and opens its file (openFile); everything else goes to the base.
    bool event(QEvent *event) override;

private:
    // Opens name in the first main window that has no file and is not busy with a file
    // operation, or else in a new window; the window is shown and raised.
    void openFile(const QString &name);
};
