#pragma once

#include "batch/batchjob.h"

#include <QMessageBox>
#include <QMutex>
#include <QObject>
#include <QWaitCondition>

class BatchProgressDialog;
class QFileInfo;

// Works off a batch's job list on one worker thread: compresses STL files into compressed mesh
// files and decompresses compressed mesh files into binary STL files, each output beside its
// source. An output replaces an existing file only when it was written completely. With a
// progress dialog the queue publishes its status when the dialog asks and asks the dialog before
// it replaces a file; without one it publishes nothing, replaces without asking and writes one
// line per failed file on standard error. Lives in the GUI thread; run() is the worker's task.
class ProcessWorkQueue : public QObject
{
    Q_OBJECT

public:
    // What changed since the last publication.
    enum UpdateFlag
    {
        FileNameChanged = 1,
        ActivityChanged = 2,        // the activity text and the progress numbers
        CompressionStateChanged = 4 // the byte totals
    };

    // Takes ownership of `jobs` (not null). A non-null dialog (not owned) is connected both ways.
    ProcessWorkQueue(BatchJobList *jobs, BatchProgressDialog *progressDialog);
    // Deletes the job list. The task running run() must have ended.
    ~ProcessWorkQueue() override;

    // The worker body, run once on the worker thread: every job in order, then the final
    // publication, workProcessStopped() and processingComplete() or processingCancelled().
    void run();

    // Publishes what changed under the status mutex (only with a dialog), then commits.
    void publishStatus();
    // Emits updateCommit() and clears the change flags (only with a dialog).
    void commitUpdate();

    // Copies of the job records, taken under the status mutex.
    BatchJobList jobs() const;
    // Jobs that failed to read or to write so far (skipped and abandoned files are not counted).
    int failedCount() const;

public slots:
    void on_progressDialog_requestUpdate();
    // Marks the batch as cancelled: no further job starts; a read or write under way finishes.
    void on_progressDialog_cancelProcess();
    // Hands the answer to a replace-file question to the waiting worker.
    void on_progressDialog_fileExistResult(QMessageBox::StandardButton response);

signals:
    void workProcessRunning();
    // Asks whether the existing output may be replaced; the worker then waits for
    // on_progressDialog_fileExistResult(). Emitted with the prompt mutex held: connect queued.
    void fileExistPrompt(QString fileName, QString absolutePath);
    void updateCompressionState(qint64 compressed, qint64 decompressed);
    void updateActivity(QString activity);
    void updateProgresses(qint8 currentFilePercent, int currentFileId, int totalNumFiles);
    void updateFileName(QString fileName);
    void updateCommit();
    void workProcessStopped();
    void processingCancelled();
    void processingComplete();

private:
    enum Replacement
    {
        Write,
        Skip,
        Abandon,
        Refused // the job failed: the output may not be replaced
    };

    void compressFile(BatchJob *job);
    void decompressFile(BatchJob *job);

    // Writes `output` under a staged name through `write` (File &) and puts it in place. `write`
    // returns a null string when the data is complete, else the reason to give when the file
    // names none. False when the job failed.
    template <typename File, typename Writing>
    bool writeOutput(BatchJob *job, const QFileInfo &output, Writing write);
    // The source path of the job, read under the status mutex.
    QString sourcePath(const BatchJob *job) const;
    // False (the job is skipped) when the output exists and No to All was answered; otherwise
    // the job enters its reading stage.
    bool beginJob(BatchJob *job, const QFileInfo &output);
    // False (the job failed) when the source is missing, a folder, not a regular file or not
    // readable; such a source is never opened.
    bool sourceReadable(BatchJob *job, const QFileInfo &source);
    // False (the job failed) when the output leads to the source through links: writing it
    // would replace the source with data of the other format under the source's name.
    bool outputApart(BatchJob *job, const QFileInfo &source, const QFileInfo &output);
    // After a successful read: false when the batch was cancelled meanwhile; otherwise the job
    // enters its converting stage with `activity`.
    bool beginConversion(BatchJob *job, const QString &activity);
    // Whether an existing output may be replaced; asks through the dialog when needed. An output
    // that may not be replaced at all (read-only) fails the job before any question.
    Replacement replacement(BatchJob *job, const QFileInfo &output);
    // The hand-shake with the GUI thread; returns a complete answer.
    int askFileExist(const QFileInfo &output);
    int storedAnswer();
    // Sets percent (when not negative), activity (when not null) and change flags under the
    // status mutex.
    void setStage(BatchJob *job, int percent, const QString &activity, quint8 flags);
    void failed(BatchJob *job, const QString &message);
    void completed(BatchJob *job, qint64 compressed, qint64 decompressed);
    // The publication proper; the caller holds the status mutex.
    void publishLocked();
    void commitLocked();

    BatchJobList *m_jobs;
    BatchProgressDialog *m_progressDialog;
    int m_current = 0;
    bool m_cancelled = false;
    quint8 m_dirty = 0;
    qint64 m_compressedBytes = 0;
    qint64 m_decompressedBytes = 0;
    int m_failed = 0;
    mutable QMutex m_statusMutex;
    QMutex m_promptMutex;
    QWaitCondition m_promptCondition;
    int m_fileExistAnswer = 0;
};
