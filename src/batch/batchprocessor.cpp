#include "batch/batchprocessor.h"

#include "batch/batchcommandline.h"
#include "batch/batchprogressdialog.h"
#include "batch/processworkqueue.h"
#include "batch/stagedoutput.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QTextStream>
#include <QThread>

#include <cstdio>
#include <new>

namespace {

// Failed and skipped files named in the final box itself; the rest are under its details.
constexpr int MaximumListedLines = 12;

} // namespace

BatchProcessor::BatchProcessor() = default;

BatchProcessor::~BatchProcessor()
{
    if (m_processWorkQueue) {
        // The event loop may have ended before the worker's last signal; the queue must not go
        // while the worker still uses it, and a worker waiting for an answer must be released.
        if (m_worker && !m_worker->isFinished()) {
            m_processWorkQueue->on_progressDialog_cancelProcess();
            m_processWorkQueue->on_progressDialog_fileExistResult(QMessageBox::Cancel);
        }
        if (m_worker)
            m_worker->wait();
    }
    delete m_worker;
    delete m_progressDialog;
    delete m_processWorkQueue;
}

qint8 BatchProcessor::start()
{
    return start(QCoreApplication::arguments());
}

qint8 BatchProcessor::start(const QStringList &arguments, const QVector<QByteArray> &bytes)
{
    BatchCommandLine line = readCommandLine(arguments, bytes);
    const qint8 decision = line.startDecision();
    if (decision != 1)
        return decision;

    // An interrupted batch leaves no half-written file behind.
    StagedOutput::removeTemporaryFilesOnSignals();
    if (!line.headless)
        m_progressDialog = new BatchProgressDialog;
    m_processWorkQueue = new ProcessWorkQueue(new BatchJobList(std::move(line.jobs)), m_progressDialog);
    m_processWorkQueue->setObjectName(QStringLiteral("processWorkQueue"));
    connect(m_processWorkQueue, &ProcessWorkQueue::processingComplete, this,
            &BatchProcessor::on_processWorkQueue_processingComplete);
    connect(m_processWorkQueue, &ProcessWorkQueue::processingCancelled, this,
            &BatchProcessor::on_processWorkQueue_processingCancelled);
    // A thread of its own rather than one of the global pool: the pool loses a task whose thread
    // it cannot create, and the event loop would then wait for the end of the batch forever.
    ProcessWorkQueue *const queue = m_processWorkQueue;
    m_worker = QThread::create([this, queue] {
        try {
            queue->run();
        } catch (const std::bad_alloc &) {
            // note: without this the batch would end without a word and the event loop would
            // wait for it forever.
            QMetaObject::invokeMethod(
                this, [this] { abort(tr("The batch stopped: out of memory.")); }, Qt::QueuedConnection);
        }
    });
    m_worker->setObjectName(QStringLiteral("batchWorker"));
    m_worker->start();
    // note: a failed start leaves the thread neither running nor finished; a started one is at
    // least one of them from the moment start() returns.
    if (!m_worker->isRunning() && !m_worker->isFinished()) {
        const QString text = tr("The batch could not start: the system refused a new thread "
                                "(too little memory or too many threads). No file was changed.");
        delete m_worker;
        m_worker = nullptr;
        delete m_processWorkQueue;
        m_processWorkQueue = nullptr;
        delete m_progressDialog;
        m_progressDialog = nullptr;
        m_startFailed = true;
        abort(text);
        return -1;
    }
    if (m_progressDialog)
        m_progressDialog->show();
    return 1;
}

BatchJobList *BatchProcessor::parseArguments()
{
    return parseArguments(QCoreApplication::arguments());
}

BatchJobList *BatchProcessor::parseArguments(const QStringList &arguments)
{
    return new BatchJobList(readCommandLine(arguments).jobs);
}

BatchCommandLine BatchProcessor::readCommandLine(const QStringList &arguments,
                                                 const QVector<QByteArray> &bytes)
{
    BatchCommandLine line = parseBatchCommandLine(arguments, bytes);
    m_headless = line.headless;
    m_skipped = line.skipped;
    // Without a window, standard error is for failed and skipped files alone; QT_LOGGING_RULES
    // still turns the libraries' diagnostics back on, as its rules come after these.
    if (m_headless)
        QLoggingCategory::setFilterRules(QStringLiteral("quarn.*=false"));
    if (line.helpShown) {
        QTextStream out(stdout);
        out << batchUsage(arguments.value(0));
        out.flush();
    }
    if (m_headless) {
        for (const QString &skipped : qAsConst(m_skipped))
            std::fprintf(stderr, "%s\n", skipped.toLocal8Bit().constData());
        std::fflush(stderr);
    }
    return line;
}

int BatchProcessor::exitCode() const
{
    return m_startFailed || (m_headless && !m_skipped.isEmpty()) ? 1 : 0;
}

void BatchProcessor::on_processWorkQueue_processingComplete()
{
    finish(tr("Finished - %1"), tr("Batch processing complete."), false);
}

void BatchProcessor::on_processWorkQueue_processingCancelled()
{
    finish(tr("Cancelled - %1"), tr("Batch processing cancelled."), true);
}

void BatchProcessor::abort(const QString &text)
{
    if (m_headless) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
    } else {
        const QString fullName = qApp->property("FullApplicationName").toString();
        QMessageBox::critical(nullptr, tr("Failed - %1").arg(fullName), text);
    }
    QCoreApplication::exit(1);
}

void BatchProcessor::finish(const QString &title, const QString &text, bool cancelled)
{
    if (!m_headless)
        showEnd(title, text, cancelled);
    QCoreApplication::exit(m_processWorkQueue->failedCount() > 0 || !m_skipped.isEmpty() ? 1 : 0);
}

void BatchProcessor::showEnd(const QString &title, const QString &text, bool cancelled)
{
    // The file explorer's road never sees the exit code: a failure must be seen here, with the
    // same lines that standard error carries without a window.
    const BatchJobList jobs = m_processWorkQueue->jobs();
    QStringList failures;
    for (const BatchJob &job : jobs) {
        if (!job.message.isEmpty())
            failures << job.message;
    }
    QString summary = text;
    if (!failures.isEmpty()) {
        const QString count = tr("%1 of %2 files failed.").arg(failures.size()).arg(jobs.size());
        summary = cancelled ? text + QLatin1Char(' ') + count : count;
    }
    const QString fullName = qApp->property("FullApplicationName").toString();
    QMessageBox box(failures.isEmpty() ? QMessageBox::Information : QMessageBox::Warning, title.arg(fullName),
                    summary, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("batchEndBox"));
    QStringList lines = failures + m_skipped;
    // note: a message box does not scroll; past this many lines the list is cut and given whole
    // under the details button.
    if (lines.size() > MaximumListedLines) {
        box.setDetailedText(lines.join(QLatin1Char('\n')));
        const int more = lines.size() - MaximumListedLines;
        lines = lines.mid(0, MaximumListedLines);
        lines << tr("... and %1 more (see the details).").arg(more);
    }
    if (!lines.isEmpty()) {
        box.setInformativeText(lines.join(QLatin1Char('\n')));
        // One line per file reads best; a wrapped path is hard to follow.
        if (auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
            label->setWordWrap(false);
    }
    box.exec();
}
