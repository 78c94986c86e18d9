#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>

namespace Ui {
class BatchProgressDialog;
}

// The window of a batch run with windows: elapsed time, file number out of all files, the
// current file's activity, the byte totals and their ratio, the current file name and an
// overall progress bar, with a single Cancel button. Polls the work queue once per second while
// the work process runs and asks the user before the queue replaces a file. It cannot be closed:
// every attempt is a cancel request. GUI thread only.
class BatchProgressDialog : public QDialog
{
    Q_OBJECT

public:
    explicit BatchProgressDialog(QWidget *parent = nullptr);
    // Waits, processing events, for the commit of a publication that was requested and not yet
    // answered.
    ~BatchProgressDialog() override;

signals:
    void requestUpdate();
    void cancelProcess();
    void fileExistResult(QMessageBox::StandardButton response);

public slots:
    // Asks whether the existing file absolutePath/fileName may be replaced (Yes, Yes to All,
    // No, No to All, Cancel; Escape is Cancel) and emits the answer; Cancel first cancels.
    void batch_fileExistPrompt(QString fileName, QString absolutePath);
    void batch_updateActivity(QString activity);
    void batch_updateCommit();
    void batch_updateCompressionState(qint64 compressed, qint64 decompressed);
    void batch_updateFileName(QString fileName);
    void batch_updateProgresses(qint8 currentFilePercent, int currentFileId, int totalNumFiles);
    void batch_workProcessRunning();
    void batch_workProcessStopped();
    // The cancel request: shows "Cancelling", disables the buttons and emits cancelProcess().
    // The dialog stays open.
    void reject() override;

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void poll();

private:
    void updateElapsedTime();
    // Bytes as text with two decimals in the default locale: "1,024.00 B", "1.50 KB", ... "EB".
    QString formatSize(qint64 bytes) const;

    Ui::BatchProgressDialog *m_ui;
    QElapsedTimer m_elapsedTime;
    int m_pollInterval = 1000;
    bool m_updatePending = false;
    bool m_polling = true;
    bool m_cancelRequested = false;
};
