#pragma once

#include "batch/batchcommandline.h"
#include "batch/batchjob.h"

#include <QObject>
#include <QStringList>

class BatchProgressDialog;
class ProcessWorkQueue;
class QThread;

// The command-line road of the program: reads the arguments, prints the usage on request, and
// either leaves the road to the main window or starts a batch on a thread of its own, with a
// progress dialog or, with "--headless", without any window. When the batch ends it tells the
// user (unless headless) and ends the event loop with 1 when a file failed or an argument was
// skipped, else 0.
// Lives in the GUI thread.
class BatchProcessor : public QObject
{
    Q_OBJECT

public:
    BatchProcessor();
    // A batch still running is cancelled (a question still open answered Cancel) and waited
    // for; then the dialog and the work queue are deleted.
    ~BatchProcessor() override;

    // Decides on QCoreApplication::arguments(): -1 nothing is left to do (the usage was printed,
    // or "--headless" without a file), 0 the main window, 1 the batch has started and the event
    // loop is to run. Call once. When the system refuses the batch's thread, says so (on standard
    // error when headless, else in a message box) and returns -1.
    qint8 start();
    // As above on the given argument list (program path first); `bytes` holds the arguments as
    // the system passed them (see parseBatchCommandLine).
    qint8 start(const QStringList &arguments, const QVector<QByteArray> &bytes = QVector<QByteArray>());
    // The exit code when start() returned -1: 1 when a headless batch command line named files
    // that it skipped, or when the batch's thread could not be started, else 0.
    int exitCode() const;

    // Parses QCoreApplication::arguments() and returns the job list, which the caller owns
    // (never null); prints the usage on "--help" or "-h"; notes whether the run is headless.
    BatchJobList *parseArguments();
    BatchJobList *parseArguments(const QStringList &arguments);

private slots:
    void on_processWorkQueue_processingComplete();
    void on_processWorkQueue_processingCancelled();

private:
    // Parses the arguments, prints the usage on request and notes whether the run is headless;
    // headless, prints one line per skipped argument on standard error.
    BatchCommandLine readCommandLine(const QStringList &arguments,
                                     const QVector<QByteArray> &bytes = QVector<QByteArray>());
    // Tells the user why the batch cannot go on (on standard error when headless, else in a
    // message box) and ends the event loop with 1.
    void abort(const QString &text);
    // Shows the end of the batch (unless headless) and ends the event loop.
    void finish(const QString &title, const QString &text, bool cancelled);
    // The modal box at the end of a batch with windows: an information with `text` when every
    // file succeeded; otherwise a warning that counts the failed files and lists each with its
    // reason. Skipped arguments are listed too.
    void showEnd(const QString &title, const QString &text, bool cancelled);

    bool m_headless = false;
    QStringList m_skipped;
    ProcessWorkQueue *m_processWorkQueue = nullptr;
    BatchProgressDialog *m_progressDialog = nullptr;
    QThread *m_worker = nullptr;
    bool m_startFailed = false;
};
