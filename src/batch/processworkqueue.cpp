#include "batch/processworkqueue.h"

#include "batch/batchprogressdialog.h"
#include "batch/failuretext.h"
#include "batch/stagedoutput.h"
#include "geom/formats/qrn.h"
#include "geom/formats/qrnreader.h"
#include "geom/formats/qrnwriter.h"
#include "geom/formats/stlreader.h"
#include "geom/formats/stlwriter.h"
#include "geom/mesh/stlmesh.h"
#include "io/gzipfile.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

#include <cstdio>
#include <memory>

namespace {

// Every button of the replace-file question; an answer without one of them is not an answer.
constexpr int CompleteAnswer =
    QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::NoToAll | QMessageBox::Cancel;

constexpr int Unchanged = -1;
constexpr qint8 ConvertingPercent = 50;
constexpr qint8 FinishedPercent = 100;

QFileInfo outputFor(const QFileInfo &source, const QString &extension)
{
    return QFileInfo(
        QStringLiteral("%1/%2.%3").arg(source.absolutePath(), source.completeBaseName(), extension));
}

QString readFailure(const QFileInfo &source, const QString &reason)
{
    return ProcessWorkQueue::tr("Unable to open \"%1\" (%2).")
        .arg(QDir::toNativeSeparators(source.filePath()), reason);
}

QString writeFailure(const QFileInfo &output, const QString &reason)
{
    return ProcessWorkQueue::tr("Unable to write \"%1\" (%2).")
        .arg(QDir::toNativeSeparators(output.absoluteFilePath()), reason);
}

} // namespace

ProcessWorkQueue::ProcessWorkQueue(BatchJobList *jobs, BatchProgressDialog *progressDialog)
    : m_jobs(jobs)
    , m_progressDialog(progressDialog)
{
    // The worker's signals reach the dialog queued, so their argument types must be known by name.
    qRegisterMetaType<qint8>("qint8");
    qRegisterMetaType<QMessageBox::StandardButton>("QMessageBox::StandardButton");
    if (!progressDialog)
        return;
    connect(progressDialog, &BatchProgressDialog::requestUpdate, this,
            &ProcessWorkQueue::on_progressDialog_requestUpdate);
    connect(progressDialog, &BatchProgressDialog::cancelProcess, this,
            &ProcessWorkQueue::on_progressDialog_cancelProcess);
    connect(progressDialog, &BatchProgressDialog::fileExistResult, this,
            &ProcessWorkQueue::on_progressDialog_fileExistResult);
    connect(this, &ProcessWorkQueue::fileExistPrompt, progressDialog,
            &BatchProgressDialog::batch_fileExistPrompt);
    connect(this, &ProcessWorkQueue::updateActivity, progressDialog,
            &BatchProgressDialog::batch_updateActivity);
    connect(this, &ProcessWorkQueue::updateCommit, progressDialog, &BatchProgressDialog::batch_updateCommit);
    connect(this, &ProcessWorkQueue::updateCompressionState, progressDialog,
            &BatchProgressDialog::batch_updateCompressionState);
    connect(this, &ProcessWorkQueue::updateFileName, progressDialog,
            &BatchProgressDialog::batch_updateFileName);
    connect(this, &ProcessWorkQueue::updateProgresses, progressDialog,
            &BatchProgressDialog::batch_updateProgresses);
    connect(this, &ProcessWorkQueue::workProcessRunning, progressDialog,
            &BatchProgressDialog::batch_workProcessRunning);
    connect(this, &ProcessWorkQueue::workProcessStopped, progressDialog,
            &BatchProgressDialog::batch_workProcessStopped);
}

ProcessWorkQueue::~ProcessWorkQueue()
{
    delete m_jobs;
}

void ProcessWorkQueue::run()
{
    emit workProcessRunning();
    // Taken once: the list is never shared or resized while the batch runs, so the records
    // keep their addresses.
    BatchJob *const jobs = m_jobs->data();
    const int count = m_jobs->size();
    for (int i = 0; i < count; ++i) {
        {
            QMutexLocker locker(&m_statusMutex);
            ++m_current;
            m_dirty |= ActivityChanged;
            if (m_cancelled)
                break;
        }
        if (jobs[i].kind == BatchJob::Compress)
            compressFile(&jobs[i]);
        else if (jobs[i].kind == BatchJob::Decompress)
            decompressFile(&jobs[i]);
    }
    publishStatus();
    emit workProcessStopped();
    bool cancelled;
    {
        QMutexLocker locker(&m_statusMutex);
        cancelled = m_cancelled;
    }
    if (cancelled)
        emit processingCancelled();
    else
        emit processingComplete();
}

void ProcessWorkQueue::decompressFile(BatchJob *job)
{
    const QFileInfo source(sourcePath(job));
    const QFileInfo output = outputFor(source, QStringLiteral("stl"));
    if (!beginJob(job, output) || !sourceReadable(job, source) || !outputApart(job, source, output))
        return;

    GZipFile file(source.absoluteFilePath());
    geom::QrnReader reader(&file);
    const std::unique_ptr<geom::StlMesh> mesh(new geom::StlMesh);
    const geom::QrnReader::Status status = reader.read(mesh.get());
    if (status != geom::QrnReader::Done) {
        failed(job, readFailure(source, readFailureText(reader, status)));
        return;
    }
    // A mesh that lost facets is not the one that was stored: it must not replace a good file.
    if (reader.droppedFacetCount() > 0) {
        failed(job, readFailure(source, droppedFacetsText(reader.droppedFacetCount())));
        return;
    }
    if (!beginConversion(job, QStringLiteral("Decompressing")) || replacement(job, output) != Write)
        return;

    const bool written = writeOutput<QFile>(job, output, [&](QFile &target) {
        geom::StlWriter writer(&target);
        writer.setHeader(reader.comment());
        const bool complete = writer.write(mesh.get()) == mesh->indices().size();
        // A count patch or close that fails leaves a damaged file: the job fails.
        return writer.finish() && complete ? QString() : writeFailureText(writer);
    });
    if (!written)
        return;
    completed(job, source.size(), QFileInfo(output.absoluteFilePath()).size());
}

void ProcessWorkQueue::compressFile(BatchJob *job)
{
    const QFileInfo source(sourcePath(job));
    const QFileInfo output = outputFor(source, QLatin1String(geom::Qrn::Extension));
    if (!beginJob(job, output) || !sourceReadable(job, source) || !outputApart(job, source, output))
        return;

    QFile file(source.absoluteFilePath());
    geom::StlReader reader(&file);
    const std::unique_ptr<geom::StlMesh> mesh(reader.read());
    if (!mesh) {
        failed(job, readFailure(source, readFailureText(reader.status())));
        return;
    }
    if (!beginConversion(job, QStringLiteral("Compressing")) || replacement(job, output) != Write)
        return;

    const bool written = writeOutput<GZipFile>(job, output, [&](GZipFile &target) {
        geom::QrnWriter writer(&target);
        writer.setComment(reader.header());
        const geom::QrnWriter::Status status = writer.write(mesh.get());
        return status == geom::QrnWriter::Done ? QString() : writeFailureText(status);
    });
    if (!written)
        return;
    completed(job, QFileInfo(output.absoluteFilePath()).size(), source.size());
}

template <typename File, typename Writing>
bool ProcessWorkQueue::writeOutput(BatchJob *job, const QFileInfo &output, Writing write)
{
    const QString failure = StagedOutput::write<File>(output.absoluteFilePath(), write);
    if (failure.isNull())
        return true;
    failed(job, writeFailure(output, failure));
    return false;
}

QString ProcessWorkQueue::sourcePath(const BatchJob *job) const
{
    // The GUI thread reads the same QFileInfo while it publishes, and QFileInfo fills caches
    // even in its const functions; so it is read under the mutex and the worker uses its own.
    QMutexLocker locker(&m_statusMutex);
    return job->source.filePath();
}

bool ProcessWorkQueue::beginJob(BatchJob *job, const QFileInfo &output)
{
    if (m_progressDialog && storedAnswer() == QMessageBox::NoToAll &&
        QFileInfo::exists(output.absoluteFilePath())) {
        setStage(job, Unchanged, QStringLiteral("Skipped"), 0);
        return false;
    }
    setStage(job, 0, QStringLiteral("Reading"), FileNameChanged | ActivityChanged);
    return true;
}

bool ProcessWorkQueue::sourceReadable(BatchJob *job, const QFileInfo &source)
{
    const QString refused = sourceFailureText(source.absoluteFilePath());
    if (refused.isNull())
        return true;
    failed(job, readFailure(source, refused));
    return false;
}

bool ProcessWorkQueue::outputApart(BatchJob *job, const QFileInfo &source, const QFileInfo &output)
{
    // The canonical paths resolve links; a second hard link is no danger, since the rename
    // replaces the output's name alone.
    const QString sourcePath = QFileInfo(source.absoluteFilePath()).canonicalFilePath();
    if (sourcePath.isEmpty() || QFileInfo(output.absoluteFilePath()).canonicalFilePath() != sourcePath)
        return true;
    failed(job, writeFailure(output, QStringLiteral("It is a link to the source file")));
    return false;
}

bool ProcessWorkQueue::beginConversion(BatchJob *job, const QString &activity)
{
    QMutexLocker locker(&m_statusMutex);
    m_dirty |= ActivityChanged;
    if (m_cancelled)
        return false;
    job->percent = ConvertingPercent;
    job->activity = activity;
    return true;
}

ProcessWorkQueue::Replacement ProcessWorkQueue::replacement(BatchJob *job, const QFileInfo &output)
{
    if (!m_progressDialog || !QFileInfo::exists(output.absoluteFilePath()))
        return Write;
    // A file that will not be replaced is not offered for replacing: a Yes would only be
    // answered by a failure.
    const QString refused = StagedOutput::refusal(output.absoluteFilePath());
    if (!refused.isNull()) {
        failed(job, writeFailure(output, refused));
        return Refused;
    }
    if (storedAnswer() == QMessageBox::YesToAll)
        return Write;
    const int answer = askFileExist(output);
    if (answer & QMessageBox::Cancel)
        return Abandon;
    if (answer & (QMessageBox::No | QMessageBox::NoToAll)) {
        setStage(job, Unchanged, QStringLiteral("Skipped"), 0);
        return Skip;
    }
    return Write;
}

int ProcessWorkQueue::askFileExist(const QFileInfo &output)
{
    // The answer is stored under this mutex, which the worker holds from before the question
    // until the wait releases it: an answer cannot slip in between and be missed. An answer
    // that is already complete (Cancel, No to All) needs no question.
    QMutexLocker locker(&m_promptMutex);
    while (!(m_fileExistAnswer & CompleteAnswer)) {
        emit fileExistPrompt(output.fileName(), output.absolutePath());
        m_promptCondition.wait(&m_promptMutex);
    }
    const int answer = m_fileExistAnswer;
    if (answer == QMessageBox::Yes || answer == QMessageBox::No)
        m_fileExistAnswer = 0;
    return answer;
}

int ProcessWorkQueue::storedAnswer()
{
    QMutexLocker locker(&m_promptMutex);
    return m_fileExistAnswer;
}

void ProcessWorkQueue::setStage(BatchJob *job, int percent, const QString &activity, quint8 flags)
{
    QMutexLocker locker(&m_statusMutex);
    if (percent != Unchanged)
        job->percent = qint8(percent);
    if (!activity.isNull())
        job->activity = activity;
    m_dirty |= flags;
}

void ProcessWorkQueue::failed(BatchJob *job, const QString &message)
{
    {
        QMutexLocker locker(&m_statusMutex);
        job->percent = FinishedPercent;
        job->activity = QStringLiteral("Failed");
        job->message = message;
        m_dirty |= ActivityChanged;
        ++m_failed;
    }
    // Without a window the standard error is the only place where a failure can be told.
    if (!m_progressDialog) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        std::fflush(stderr);
    }
}

void ProcessWorkQueue::completed(BatchJob *job, qint64 compressed, qint64 decompressed)
{
    QMutexLocker locker(&m_statusMutex);
    job->percent = FinishedPercent;
    job->activity = QStringLiteral("Complete");
    m_compressedBytes += compressed;
    m_decompressedBytes += decompressed;
    m_dirty |= ActivityChanged | CompressionStateChanged;
}

void ProcessWorkQueue::publishStatus()
{
    // The commit runs in the same hold of the mutex, so a change the worker makes after the
    // figures went out is not cleared unpublished.
    QMutexLocker locker(&m_statusMutex);
    publishLocked();
    commitLocked();
}

void ProcessWorkQueue::commitUpdate()
{
    QMutexLocker locker(&m_statusMutex);
    commitLocked();
}

void ProcessWorkQueue::publishLocked()
{
    if (!m_progressDialog)
        return;
    const int total = m_jobs->size();
    if (m_dirty & CompressionStateChanged)
        emit updateCompressionState(m_compressedBytes, m_decompressedBytes);
    if (m_current == 0) {
        if (m_dirty & ActivityChanged) {
            if (!m_cancelled)
                emit updateActivity(QStringLiteral("Ready"));
            emit updateProgresses(0, 0, total);
        }
        if (m_dirty & FileNameChanged)
            emit updateFileName(QString());
        return;
    }
    const BatchJob &job = m_jobs->at(m_current - 1);
    if (m_dirty & ActivityChanged) {
        if (!m_cancelled)
            emit updateActivity(job.activity);
        emit updateProgresses(job.percent, m_current, total);
    }
    if (m_dirty & FileNameChanged)
        emit updateFileName(job.source.fileName());
}

void ProcessWorkQueue::commitLocked()
{
    if (!m_progressDialog)
        return;
    emit updateCommit();
    m_dirty = 0;
}

BatchJobList ProcessWorkQueue::jobs() const
{
    QMutexLocker locker(&m_statusMutex);
    // Element by element, so that the queue's own list is never shared and never detaches.
    BatchJobList copy;
    copy.reserve(m_jobs->size());
    for (const BatchJob &job : *m_jobs)
        copy.append(job);
    return copy;
}

int ProcessWorkQueue::failedCount() const
{
    QMutexLocker locker(&m_statusMutex);
    return m_failed;
}

void ProcessWorkQueue::on_progressDialog_requestUpdate()
{
    publishStatus();
}

void ProcessWorkQueue::on_progressDialog_cancelProcess()
{
    QMutexLocker locker(&m_statusMutex);
    m_cancelled = true;
}

void ProcessWorkQueue::on_progressDialog_fileExistResult(QMessageBox::StandardButton response)
{
    QMutexLocker locker(&m_promptMutex);
    m_fileExistAnswer = response;
    m_promptCondition.wakeOne();
}
