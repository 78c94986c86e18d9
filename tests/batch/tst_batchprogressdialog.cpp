#include "batch/batchprocessor.h"
#include "batch/batchprogressdialog.h"
#include "batch/processworkqueue.h"

#include "batchfixtures.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtConcurrent>
#include <QtTest>

using namespace batchtest;

namespace {

// Answer that presses Escape instead of a button.
constexpr int Escape = -1;

// Answers every message box that comes up, with the planned answers in turn (then Ok), and
// records titles and texts.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QList<int> answers)
        : m_answers(std::move(answers))
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::answer);
        m_timer.start(20);
    }

    QStringList titles;
    QStringList texts;
    QStringList details;
    QStringList hidden; // the texts under the details button
    QList<QMessageBox::Icon> icons;
    // The last box as it was drawn.
    QImage shot;

private:
    void answer()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->property("answered").toBool())
            return;
        box->setProperty("answered", true);
        titles << box->windowTitle();
        texts << box->text();
        details << box->informativeText();
        hidden << box->detailedText();
        icons << box->icon();
        shot = box->grab().toImage();
        const int planned = m_answers.isEmpty() ? int(QMessageBox::Ok) : m_answers.takeFirst();
        // A box that was not planned for has not the planned button: it is escaped, and the test
        // sees it among the titles.
        QAbstractButton *button =
            planned == Escape ? nullptr : box->button(QMessageBox::StandardButton(planned));
        if (button)
            button->click();
        else
            QTest::keyClick(box, Qt::Key_Escape);
    }

    QList<int> m_answers;
    QTimer m_timer;
};

BatchProgressDialog *findDialog()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<BatchProgressDialog *>(widget))
            return dialog;
    }
    return nullptr;
}

QString labelText(QWidget *dialog, const char *name)
{
    const auto *label = dialog->findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<no label %1>").arg(QLatin1String(name));
}

int barValue(QWidget *dialog)
{
    return dialog->findChild<QProgressBar *>(QStringLiteral("progressBar"))->value();
}

bool buttonsEnabled(QWidget *dialog)
{
    return dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->isEnabled();
}

// Runs the application's event loop, as the program does, until the processor ends it with its
// exit code; 99 when it does not within the time.
int runLoop()
{
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    timeout.start(60000);
    return QCoreApplication::exec();
}

// Paths of a.stl and b.stl in folder, written from first and second; empty when a write fails.
QStringList writeTwoModels(const QTemporaryDir &folder, const QVector<geom::Facet> &first,
                           const QVector<geom::Facet> &second)
{
    const QString a = folder.filePath(QStringLiteral("a.stl"));
    const QString b = folder.filePath(QStringLiteral("b.stl"));
    if (!writeStl(a, first) || !writeStl(b, second))
        return {};
    return {a, b};
}

// Starts the compression of files as the program's command line does; what start returns.
int startCompress(BatchProcessor &processor, const QStringList &files)
{
    return int(processor.start(QStringList{QStringLiteral("quarn"), QStringLiteral("-compress")} + files));
}

QString bytesText(qint64 bytes)
{
    return QLocale().toString(double(bytes), 'f', 2) + QStringLiteral(" B");
}

} // namespace

class TestBatchProgressDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void initialState();
    void sizes_data();
    void sizes();
    void progress_data();
    void progress();
    void fileName();
    void stopped_data();
    void stopped();
    void closedTwice();
    void replaceQuestion_data();
    void replaceQuestion();
    void progressAndTotalsShow();
    void cancelEndsWithMessage();
    void failuresEndWithWarning();
    void manyFailuresGoUnderDetails();
    void readOnlyOutputFailsUnasked();
    void closedTwiceDuringBatch();
};

void TestBatchProgressDialog::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCoreApplication::setApplicationName(QStringLiteral("Quarn"));
    QCoreApplication::setOrganizationName(QStringLiteral("Orvan"));
    qApp->setProperty("FullApplicationName", QStringLiteral("Orvan Quarn"));
}

void TestBatchProgressDialog::initialState()
{
    BatchProgressDialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("BatchProgressDialog"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("1%  Compressing sample.qrn"));
    QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
    QVERIFY(!dialog.windowIcon().isNull());
    QCOMPARE(labelText(&dialog, "elapsedTimeLabel"), QStringLiteral("00:00:00"));
    QCOMPARE(labelText(&dialog, "filesLabel"), QStringLiteral("0 / 0"));
    QCOMPARE(labelText(&dialog, "activityLabel"), QStringLiteral("Ready"));
    QCOMPARE(labelText(&dialog, "decompressedSizeLabel"), QStringLiteral("0 B"));
    QCOMPARE(labelText(&dialog, "compressionRatioLabel"), QStringLiteral("0 %"));
    QCOMPARE(labelText(&dialog, "compressedSizeLabel"), QStringLiteral("0 B"));
    QCOMPARE(labelText(&dialog, "fileLabel"), QString());
    QCOMPARE(barValue(&dialog), 0);
    const auto *buttons = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::StandardButtons(QDialogButtonBox::Cancel));
}

void TestBatchProgressDialog::sizes_data()
{
    QTest::addColumn<qint64>("compressed");
    QTest::addColumn<qint64>("decompressed");
    QTest::addColumn<QString>("compressedText");
    QTest::addColumn<QString>("decompressedText");
    QTest::addColumn<QString>("ratio");

    QTest::newRow("nothing yet") << qint64(0) << qint64(0) << "0.00 B"
                                 << "0.00 B"
                                 << "N/A";
    QTest::newRow("1024 bytes stay in B") << qint64(512) << qint64(1024) << "512.00 B"
                                          << "1,024.00 B"
                                          << "50.00 %";
    QTest::newRow("kilobytes and megabytes") << qint64(1536) << qint64(3 * 1048576) << "1.50 KB"
                                             << "3.00 MB"
                                             << "0.05 %";
    QTest::newRow("gigabytes") << qint64(5) * 536870912 << qint64(5) * 536870912 << "2.50 GB"
                               << "2.50 GB"
                               << "100.00 %";
    QTest::newRow("largest count") << std::numeric_limits<qint64>::max() << qint64(1) << "8.00 EB"
                                   << "1.00 B"
                                   << QString::number(double(std::numeric_limits<qint64>::max()) * 100.0, 'f',
                                                      2) +
                                          " %";
}

void TestBatchProgressDialog::sizes()
{
    QFETCH(qint64, compressed);
    QFETCH(qint64, decompressed);
    QFETCH(QString, compressedText);
    QFETCH(QString, decompressedText);
    QFETCH(QString, ratio);

    BatchProgressDialog dialog;
    dialog.batch_updateCompressionState(compressed, decompressed);
    QCOMPARE(labelText(&dialog, "compressedSizeLabel"), compressedText);
    QCOMPARE(labelText(&dialog, "decompressedSizeLabel"), decompressedText);
    QCOMPARE(labelText(&dialog, "compressionRatioLabel"), ratio);
}

void TestBatchProgressDialog::progress_data()
{
    QTest::addColumn<QList<QList<int>>>("updates");
    QTest::addColumn<int>("bar");
    QTest::addColumn<QString>("files");

    QTest::newRow("before the first file") << QList<QList<int>>{{0, 0, 3}} << 0 << "0 / 3";
    QTest::newRow("second of three at half") << QList<QList<int>>{{0, 0, 3}, {50, 2, 3}} << 50 << "2 / 3";
    QTest::newRow("third starting") << QList<QList<int>>{{0, 3, 3}} << 66 << "3 / 3";
    QTest::newRow("last finished keeps the bar")
        << QList<QList<int>>{{50, 2, 3}, {100, 3, 3}} << 50 << "3 / 3";
    QTest::newRow("no files") << QList<QList<int>>{{0, 0, 0}} << 0 << "0 / 0";
}

void TestBatchProgressDialog::progress()
{
    QFETCH(QList<QList<int>>, updates);
    QFETCH(int, bar);
    QFETCH(QString, files);

    BatchProgressDialog dialog;
    for (const QList<int> &u : updates)
        dialog.batch_updateProgresses(qint8(u[0]), u[1], u[2]);
    QCOMPARE(barValue(&dialog), bar);
    QCOMPARE(labelText(&dialog, "filesLabel"), files);
}

void TestBatchProgressDialog::fileName()
{
    BatchProgressDialog dialog;
    dialog.batch_updateFileName(QStringLiteral("model.stl"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("model.stl - Orvan Quarn"));
    QCOMPARE(labelText(&dialog, "fileLabel"), QStringLiteral("model.stl"));
    dialog.batch_updateActivity(QStringLiteral("Compressing"));
    QCOMPARE(labelText(&dialog, "activityLabel"), QStringLiteral("Compressing"));
}

void TestBatchProgressDialog::stopped_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("activity");
    QTest::newRow("completed") << false << "Completed";
    QTest::newRow("cancelled") << true << "Cancelled";
}

void TestBatchProgressDialog::stopped()
{
    QFETCH(bool, cancel);
    QFETCH(QString, activity);

    BatchProgressDialog dialog;
    dialog.batch_workProcessRunning();
    dialog.batch_updateProgresses(50, 1, 2);
    if (cancel)
        dialog.reject();
    dialog.batch_workProcessStopped();
    QCOMPARE(labelText(&dialog, "activityLabel"), activity);
    QCOMPARE(barValue(&dialog), 100);
    QVERIFY(!buttonsEnabled(&dialog));
    // Later publications do not move the finished bar back.
    dialog.batch_updateProgresses(100, 2, 2);
    QCOMPARE(barValue(&dialog), 100);
}

void TestBatchProgressDialog::closedTwice()
{
    BatchProgressDialog dialog;
    QSignalSpy cancels(&dialog, &BatchProgressDialog::cancelProcess);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.close();
    QCOMPARE(labelText(&dialog, "activityLabel"), QStringLiteral("Cancelling"));
    QVERIFY(!buttonsEnabled(&dialog));
    dialog.close();
    QCOMPARE(cancels.count(), 2);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void TestBatchProgressDialog::replaceQuestion_data()
{
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<int>("questions");
    QTest::addColumn<QStringList>("activities");
    QTest::addColumn<bool>("cancelled");

    // Three jobs with existing outputs: a.stl, b.stl, and c.stl, which cannot be read.
    QTest::newRow("Yes asks again") << QList<int>{QMessageBox::Yes, QMessageBox::Yes} << 2
                                    << QStringList{"Complete", "Complete", "Failed"} << false;
    QTest::newRow("Yes to All") << QList<int>{QMessageBox::YesToAll} << 1
                                << QStringList{"Complete", "Complete", "Failed"} << false;
    QTest::newRow("No asks again") << QList<int>{QMessageBox::No, QMessageBox::No} << 2
                                   << QStringList{"Skipped", "Skipped", "Failed"} << false;
    // c.stl is not even read: it would fail otherwise.
    QTest::newRow("No to All") << QList<int>{QMessageBox::NoToAll} << 1
                               << QStringList{"Skipped", "Skipped", "Skipped"} << false;
    QTest::newRow("Yes, then No to All") << QList<int>{QMessageBox::Yes, QMessageBox::NoToAll} << 2
                                         << QStringList{"Complete", "Skipped", "Skipped"} << false;
    QTest::newRow("Cancel") << QList<int>{QMessageBox::Cancel} << 1 << QStringList{"Compressing", "", ""}
                            << true;
    QTest::newRow("Escape is Cancel")
        << QList<int>{Escape} << 1 << QStringList{"Compressing", "", ""} << true;
}

void TestBatchProgressDialog::replaceQuestion()
{
    QFETCH(QList<int>, answers);
    QFETCH(int, questions);
    QFETCH(QStringList, activities);
    QFETCH(bool, cancelled);

    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.stl"));
    const QString b = dir.filePath(QStringLiteral("b.stl"));
    const QString c = dir.filePath(QStringLiteral("c.stl"));
    QVERIFY(writeStl(a, meshtest::unitCube()));
    QVERIFY(writeStl(b, meshtest::tetrahedron()));
    QVERIFY(writeAll(c, "not an STL file"));
    for (const char *name : {"a.qrn", "b.qrn", "c.qrn"})
        QVERIFY(writeAll(dir.filePath(QLatin1String(name)), "old"));

    BatchProgressDialog dialog;
    auto *jobs = new BatchJobList;
    for (const QString &source : {a, b, c}) {
        BatchJob job;
        job.kind = BatchJob::Compress;
        job.source = QFileInfo(source);
        jobs->append(job);
    }
    ProcessWorkQueue queue(jobs, &dialog);
    QSignalSpy ended(&queue, cancelled ? &ProcessWorkQueue::processingCancelled
                                       : &ProcessWorkQueue::processingComplete);
    dialog.show();
    BoxAnswerer answerer(answers);
    QFuture<void> future = QtConcurrent::run(&queue, &ProcessWorkQueue::run);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 30000);
    future.waitForFinished();

    QCOMPARE(answerer.titles.size(), questions);
    QCOMPARE(answerer.titles.first(), QStringLiteral("a.qrn - Confirm File Replace - Quarn"));
    QVERIFY(answerer.texts.first().startsWith(QStringLiteral("The destination file already exists.")));
    QVERIFY(answerer.texts.first().contains(QStringLiteral("File name: a.qrn")));
    QVERIFY(answerer.texts.first().contains(QStringLiteral("Size: 3.00 B")));

    const BatchJobList done = queue.jobs();
    QStringList actual;
    for (const BatchJob &job : done)
        actual << job.activity;
    QCOMPARE(actual, activities);
    const QStringList outputs{dir.filePath(QStringLiteral("a.qrn")), dir.filePath(QStringLiteral("b.qrn")),
                              dir.filePath(QStringLiteral("c.qrn"))};
    for (int i = 0; i < outputs.size(); ++i) {
        const bool replaced = activities[i] == QLatin1String("Complete");
        QCOMPARE(readAll(outputs[i]) != "old", replaced);
        if (replaced)
            QVERIFY(readQrn(outputs[i]));
    }
    QCOMPARE(queue.failedCount(), activities.count(QStringLiteral("Failed")));
    QTRY_COMPARE(labelText(&dialog, "activityLabel"),
                 cancelled ? QStringLiteral("Cancelled") : QStringLiteral("Completed"));
    QVERIFY(!buttonsEnabled(&dialog));
    QVERIFY(temporaryFiles(dir.path()).isEmpty());
}

void TestBatchProgressDialog::progressAndTotalsShow()
{
    QTemporaryDir dir;
    const QStringList files = writeTwoModels(dir, meshtest::unitCube(), meshtest::tetrahedron());
    QCOMPARE(files.size(), 2);
    const QString &a = files[0];
    const QString &b = files[1];

    BoxAnswerer answerer({});
    int exitCode = -1;
    {
        BatchProcessor processor;
        QCOMPARE(startCompress(processor, files), 1);
        BatchProgressDialog *dialog = findDialog();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        exitCode = runLoop();

        const qint64 stlBytes = QFileInfo(a).size() + QFileInfo(b).size();
        const qint64 qrnBytes = QFileInfo(dir.filePath(QStringLiteral("a.qrn"))).size() +
                                QFileInfo(dir.filePath(QStringLiteral("b.qrn"))).size();
        QVERIFY(stlBytes < 1024 && qrnBytes < 1024);
        QCOMPARE(labelText(dialog, "filesLabel"), QStringLiteral("2 / 2"));
        QCOMPARE(labelText(dialog, "activityLabel"), QStringLiteral("Completed"));
        QCOMPARE(labelText(dialog, "decompressedSizeLabel"), bytesText(stlBytes));
        QCOMPARE(labelText(dialog, "compressedSizeLabel"), bytesText(qrnBytes));
        QCOMPARE(labelText(dialog, "compressionRatioLabel"),
                 QString::number(double(qrnBytes) / double(stlBytes) * 100.0, 'f', 2) + QStringLiteral(" %"));
        QCOMPARE(labelText(dialog, "fileLabel"), QStringLiteral("b.stl"));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("b.stl - Orvan Quarn"));
        QCOMPARE(barValue(dialog), 100);
        QVERIFY(!buttonsEnabled(dialog));
    }
    QCOMPARE(exitCode, 0);
    QCOMPARE(answerer.titles, QStringList{QStringLiteral("Finished - Orvan Quarn")});
    QCOMPARE(answerer.texts, QStringList{QStringLiteral("Batch processing complete.")});
    QCOMPARE(answerer.icons, QList<QMessageBox::Icon>{QMessageBox::Information});
    QCOMPARE(answerer.details, QStringList{QString()});
    QVERIFY(!findDialog());
}

void TestBatchProgressDialog::cancelEndsWithMessage()
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.stl"));
    QVERIFY(writeStl(a, meshtest::unitCube()));
    QVERIFY(writeAll(dir.filePath(QStringLiteral("a.qrn")), "old"));

    BoxAnswerer answerer({QMessageBox::Cancel});
    int exitCode = -1;
    {
        BatchProcessor processor;
        QCOMPARE(startCompress(processor, {a}), 1);
        exitCode = runLoop();
        BatchProgressDialog *dialog = findDialog();
        QVERIFY(dialog);
        QCOMPARE(labelText(dialog, "activityLabel"), QStringLiteral("Cancelled"));
    }
    QCOMPARE(exitCode, 0);
    QCOMPARE(answerer.titles, (QStringList{QStringLiteral("a.qrn - Confirm File Replace - Quarn"),
                                           QStringLiteral("Cancelled - Orvan Quarn")}));
    QCOMPARE(answerer.texts.last(), QStringLiteral("Batch processing cancelled."));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("a.qrn"))), QByteArray("old"));
    QVERIFY(temporaryFiles(dir.path()).isEmpty());
}

// A batch with failed files ends in a warning that counts them and names each with its reason,
// as standard error does without a window: the file explorer's road shows nothing else.
void TestBatchProgressDialog::failuresEndWithWarning()
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.qrn"));
    const QString joined = dir.filePath(QStringLiteral("joined.qrn"));
    const QString missing = dir.filePath(QStringLiteral("missing.qrn"));
    QVERIFY(writeQrn(good, meshtest::unitCube()));
    QVERIFY(writeAll(joined, readAll(good) + readAll(good)));

    BoxAnswerer answerer({});
    int exitCode = -1;
    {
        BatchProcessor processor;
        QCOMPARE(processor.start({QStringLiteral("quarn"), QStringLiteral("-decompress"), good, joined,
                                  missing, QStringLiteral("notes.txt")}),
                 qint8(1));
        exitCode = runLoop();
    }
    QCOMPARE(exitCode, 1);
    QCOMPARE(answerer.titles, QStringList{QStringLiteral("Finished - Orvan Quarn")});
    QCOMPARE(answerer.icons, QList<QMessageBox::Icon>{QMessageBox::Warning});
    QCOMPARE(answerer.texts, QStringList{QStringLiteral("2 of 3 files failed.")});
    QCOMPARE(answerer.details.value(0).split(QLatin1Char('\n')),
             (QStringList{QStringLiteral("Unable to open \"%1\" (Corrupted data).").arg(joined),
                          QStringLiteral("Unable to open \"%1\" (File does not exist).").arg(missing),
                          QStringLiteral("Skipped \"notes.txt\": not a compressed mesh file")}));
    QVERIFY(answerer.hidden.value(0).isEmpty());
    QVERIFY(readStl(dir.filePath(QStringLiteral("good.stl"))));
    QVERIFY(QDir().mkpath(QStringLiteral(QUARN_ARTEFACT_DIR)));
    QVERIFY(answerer.shot.save(QStringLiteral(QUARN_ARTEFACT_DIR "/batch-failures.png")));
}

// A box does not scroll: past a dozen lines the list is cut and given whole under the details.
void TestBatchProgressDialog::manyFailuresGoUnderDetails()
{
    QTemporaryDir dir;
    QStringList arguments{QStringLiteral("quarn"), QStringLiteral("-compress")};
    QStringList reasons;
    for (int i = 0; i < 15; ++i) {
        arguments << dir.filePath(QStringLiteral("gone%1.stl").arg(i));
        reasons << QStringLiteral("Unable to open \"%1\" (File does not exist).").arg(arguments.last());
    }
    BoxAnswerer answerer({});
    int exitCode = -1;
    {
        BatchProcessor processor;
        QCOMPARE(processor.start(arguments), qint8(1));
        exitCode = runLoop();
    }
    QCOMPARE(exitCode, 1);
    QCOMPARE(answerer.texts, QStringList{QStringLiteral("15 of 15 files failed.")});
    QCOMPARE(answerer.details.value(0).split(QLatin1Char('\n')),
             reasons.mid(0, 12) + QStringList{QStringLiteral("... and 3 more (see the details).")});
    QCOMPARE(answerer.hidden.value(0).split(QLatin1Char('\n')), reasons);
}

// An output that may not be replaced is not offered for replacing: its file fails at once with
// the reason, the old file stays, and the question comes only for the file that can be replaced.
void TestBatchProgressDialog::readOnlyOutputFailsUnasked()
{
    QTemporaryDir dir;
    const QStringList files = writeTwoModels(dir, meshtest::unitCube(), meshtest::tetrahedron());
    QCOMPARE(files.size(), 2);
    const QString locked = QFileInfo(dir.filePath(QStringLiteral("a.qrn"))).absoluteFilePath();
    const QString replaced = dir.filePath(QStringLiteral("b.qrn"));
    QVERIFY(writeAll(locked, "old"));
    QVERIFY(writeAll(replaced, "old"));
    const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    QVERIFY(QFile::setPermissions(locked, readOnly));

    BoxAnswerer answerer({QMessageBox::Yes});
    int exitCode = -1;
    {
        BatchProcessor processor;
        QCOMPARE(startCompress(processor, files), 1);
        exitCode = runLoop();
    }
    QCOMPARE(exitCode, 1);
    QCOMPARE(answerer.titles, (QStringList{QStringLiteral("b.qrn - Confirm File Replace - Quarn"),
                                           QStringLiteral("Finished - Orvan Quarn")}));
    QCOMPARE(answerer.icons.last(), QMessageBox::Warning);
    QCOMPARE(answerer.texts.last(), QStringLiteral("1 of 2 files failed."));
    QCOMPARE(answerer.details.last(),
             QStringLiteral("Unable to write \"%1\" (Permission denied).").arg(locked));
    QCOMPARE(readAll(locked), QByteArray("old"));
    QCOMPARE(QFile::permissions(locked) & QFile::Permissions(0x7077), readOnly);
    QVERIFY(readQrn(replaced));
    QVERIFY(temporaryFiles(dir.path()).isEmpty());
}

void TestBatchProgressDialog::closedTwiceDuringBatch()
{
    QTemporaryDir dir;
    const QStringList files = writeTwoModels(dir, meshtest::Torus(100000).facets(), meshtest::unitCube());
    QCOMPARE(files.size(), 2);

    BoxAnswerer answerer({});
    int exitCode = -1;
    {
        BatchProcessor processor;
        QCOMPARE(startCompress(processor, files), 1);
        BatchProgressDialog *dialog = findDialog();
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        dialog->close();
        dialog->close();
        QVERIFY(dialog->isVisible());
        exitCode = runLoop();
        QCOMPARE(labelText(dialog, "activityLabel"), QStringLiteral("Cancelled"));
        QVERIFY(dialog->isVisible());
    }
    QCOMPARE(exitCode, 0);
    QCOMPARE(answerer.titles, QStringList{QStringLiteral("Cancelled - Orvan Quarn")});
    // The file under way when the batch was cancelled is either finished or not written at all.
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("b.qrn"))));
    QVERIFY(temporaryFiles(dir.path()).isEmpty());
}

QTEST_MAIN(TestBatchProgressDialog)
#include "tst_batchprogressdialog.moc"
