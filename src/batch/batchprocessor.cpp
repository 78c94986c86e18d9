#include "batch/batchprocessor.h"

#include "batch/batchcommandline.h"
#include "batch/batchprogressdialog.h"
#include "batch/processworkqueue.h"
#include "batch/stagedoutput.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QTextStream>
#include <QtConcurrent>

#include <cstdio>

BatchProcessor::BatchProcessor() = default;

BatchProcessor::~BatchProcessor()
{
    if (m_processWorkQueue) {
        // The event loop may have ended before the worker's last signal; the queue must not go
        // while the worker still uses it, and a worker waiting for an answer must be released.
        if (!m_future.isFinished()) {
            m_processWorkQueue->on_progressDialog_cancelProcess();
            m_processWorkQueue->on_progressDialog_fileExistResult(QMessageBox::Cancel);
        }
        m_future.waitForFinished();
    }
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
    m_future = QtConcurrent::run(m_processWorkQueue, &ProcessWorkQueue::run);
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
    return m_headless && !m_skipped.isEmpty() ? 1 : 0;
}

void BatchProcessor::on_processWorkQueue_processingComplete()
{
    finish(tr("Finished - %1"), tr("Batch processing complete."));
}

void BatchProcessor::on_processWorkQueue_processingCancelled()
{
    finish(tr("Cancelled - %1"), tr("Batch processing cancelled."));
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
