#include "batch/batchprogressdialog.h"

#include "ui_batchprogressdialog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMetaMethod>
#include <QThread>
#include <QTimer>

Q_LOGGING_CATEGORY(lcBatch, "quarn.batch")

namespace {

constexpr int SecondsPerHour = 3600;
constexpr int SecondsPerMinute = 60;
constexpr double BytesPerUnit = 1024.0;
constexpr int DestructorWaitMs = 100;

} // namespace

BatchProgressDialog::BatchProgressDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::BatchProgressDialog)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_ui->setupUi(this);
}

BatchProgressDialog::~BatchProgressDialog()
{
    m_polling = false;
    if (m_updatePending) {
        qCDebug(lcBatch, "doing wait");
        while (m_updatePending) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            QThread::msleep(DestructorWaitMs);
        }
    }
    delete m_ui;
}

void BatchProgressDialog::batch_workProcessRunning()
{
    m_elapsedTime.start();
    poll();
}

void BatchProgressDialog::poll()
{
    if (!m_polling)
        return;
    updateElapsedTime();
    // A request nobody answers would leave the destructor waiting for ever.
    if (isSignalConnected(QMetaMethod::fromSignal(&BatchProgressDialog::requestUpdate))) {
        m_updatePending = true;
        emit requestUpdate();
    }
    QTimer::singleShot(m_pollInterval, this, &BatchProgressDialog::poll);
}

void BatchProgressDialog::updateElapsedTime()
{
    const qint64 s = m_elapsedTime.isValid() ? m_elapsedTime.elapsed() / 1000 : 0;
    const qint64 h = s / SecondsPerHour;
    const qint64 m = (s - SecondsPerHour * h) / SecondsPerMinute;
    const qint64 r = s - SecondsPerHour * h - SecondsPerMinute * m;
    const QChar zero(QLatin1Char('0'));
    m_ui->elapsedTimeLabel->setText(
        QStringLiteral("%1:%2:%3").arg(h, 2, 10, zero).arg(m, 2, 10, zero).arg(r, 2, 10, zero));
    repaint();
}

void BatchProgressDialog::batch_updateActivity(QString activity)
{
    m_ui->activityLabel->setText(activity);
}

void BatchProgressDialog::batch_updateProgresses(qint8 currentFilePercent, int currentFileId,
                                                 int totalNumFiles)
{
    m_ui->filesLabel->setText(QStringLiteral("%1 / %2").arg(currentFileId).arg(totalNumFiles));
    if (totalNumFiles < 1)
        return;
    const double fraction = (currentFilePercent + (currentFileId - 1) * 100.0) / (totalNumFiles * 100.0);
    // A negative fraction (before the first file) is outside the bar's range and ignored by it;
    // the bar reaches 100 when the work process stops.
    if (fraction < 1.0)
        m_ui->progressBar->setValue(int(100 * fraction));
}

void BatchProgressDialog::batch_updateFileName(QString fileName)
{
    const QString fullName = qApp->property("FullApplicationName").toString();
    setWindowTitle(QStringLiteral("%1 - %2").arg(QFileInfo(fileName).fileName(), fullName));
    m_ui->fileLabel->setText(fileName);
}

void BatchProgressDialog::batch_updateCompressionState(qint64 compressed, qint64 decompressed)
{
    m_ui->compressedSizeLabel->setText(formatSize(compressed));
    m_ui->decompressedSizeLabel->setText(formatSize(decompressed));
    if (decompressed < 1)
        m_ui->compressionRatioLabel->setText(QStringLiteral("N/A"));
    else
        m_ui->compressionRatioLabel->setText(QStringLiteral("%1 %").arg(
            QString::number(double(compressed) / double(decompressed) * 100.0, 'f', 2)));
}

void BatchProgressDialog::batch_updateCommit()
{
    m_updatePending = false;
}

void BatchProgressDialog::batch_workProcessStopped()
{
    m_ui->progressBar->setValue(100);
    m_polling = false;
    m_ui->activityLabel->setText(m_cancelRequested ? QStringLiteral("Cancelled")
                                                   : QStringLiteral("Completed"));
    m_ui->buttonBox->setEnabled(false);
}

void BatchProgressDialog::batch_fileExistPrompt(QString fileName, QString absolutePath)
{
    const QFileInfo existing(absolutePath + QLatin1Char('/') + fileName);
    const QString title =
        QStringLiteral("%1 - Confirm File Replace - %2").arg(fileName, QCoreApplication::applicationName());
    const QString text =
        QStringLiteral("The destination file already exists.\n\nDirectory: %1\nFile name: %2\nSize: "
                       "%3\nDate modified: %4\n\nWould you like to replace the existing file?")
            .arg(QDir::toNativeSeparators(absolutePath), fileName, formatSize(existing.size()),
                 existing.lastModified().toString(Qt::TextDate));
    const QMessageBox::StandardButton answer =
        QMessageBox::question(nullptr, title, text,
                              QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No |
                                  QMessageBox::NoToAll | QMessageBox::Cancel,
                              QMessageBox::No);
    if (answer & QMessageBox::Cancel)
        reject();
    emit fileExistResult(answer);
}

void BatchProgressDialog::reject()
{
    setResult(QDialog::Rejected);
    m_cancelRequested = true;
    m_ui->activityLabel->setText(QStringLiteral("Cancelling"));
    m_ui->buttonBox->setEnabled(false);
    emit cancelProcess();
}

void BatchProgressDialog::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        m_ui->retranslateUi(this);
    QDialog::changeEvent(event);
}

QString BatchProgressDialog::formatSize(qint64 bytes) const
{
    const char *const units[] = {
        QT_TR_NOOP("%L1 B"),  QT_TR_NOOP("%L1 KB"), QT_TR_NOOP("%L1 MB"), QT_TR_NOOP("%L1 GB"),
        QT_TR_NOOP("%L1 TB"), QT_TR_NOOP("%L1 PB"), QT_TR_NOOP("%L1 EB"),
    };
    constexpr int lastUnit = int(sizeof units / sizeof units[0]) - 1;
    double v = double(bytes);
    int unit = 0;
    while (v > BytesPerUnit && unit < lastUnit) {
        v *= 1.0 / BytesPerUnit;
        ++unit;
    }
    return tr(units[unit]).arg(v, 0, 'f', 2);
}
