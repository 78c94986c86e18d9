#include "batch/batchprocessor.h"

#include "batch/batchcommandline.h"
#include "batch/batchprogressdialog.h"
#include "batch/processworkqueue.h"
#include "batch/stagedoutput.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QTextStream>
#include <QThread>

#include <cstdio>
#include <new>

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
    finish(tr("Finished - %1"), tr("Batch processing complete."));
}

void BatchProcessor::on_processWorkQueue_processingCancelled()
{
    finish(tr("Cancelled - %1"), tr("Batch processing cancelled."));
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

void BatchProcessor::finish(const QString &title, const QString &text)
{
    if (!m_headless) {
        const QString fullName = qApp->property("FullApplicationName").toString();
        QString message = text;
        if (!m_skipped.isEmpty())
            message += QStringLiteral("\n\n") + m_skipped.join(QLatin1Char('\n'));
        QMessageBox::information(nullptr, title.arg(fullName), message, QMessageBox::Ok,
                                 QMessageBox::NoButton);
    }
    QCoreApplication::exit(m_processWorkQueue->failedCount() > 0 || !m_skipped.isEmpty() ? 1 : 0);
}
