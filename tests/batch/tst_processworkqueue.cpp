#include "batch/batchprocessor.h"
#include "batch/batchprogressdialog.h"
#include "batch/processworkqueue.h"

#include "batchfixtures.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace batchtest;

namespace {

BatchJobList *jobList(const QVector<QPair<int, QString>> &entries)
{
    auto *jobs = new BatchJobList;
    for (const auto &entry : entries) {
        BatchJob job;
        job.kind = entry.first;
        job.source = QFileInfo(entry.second);
        jobs->append(job);
    }
    return jobs;
}

// Lowers the limit on the size of files this process writes while it exists, so that writes
// beyond it fail (SIGXFSZ is ignored by the test).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_applied = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
    bool applied() const { return m_applied; }

private:
    rlimit m_old;
    bool m_applied = false;
};

// The folder's files with their contents, to see whether anything changed.
QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        files.insert(name, readAll(QDir(folder).filePath(name)));
    return files;
}

} // namespace

class TestProcessWorkQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip();
    void failures_data();
    void failures();
    void existingOutputReplacedWithoutDialog();
    void damagedSourceKeepsOutput_data();
    void damagedSourceKeepsOutput();
    void failureAtCompletionKeepsOutput_data();
    void failureAtCompletionKeepsOutput();
    void cancelBeforeFirstJob();
    void answerBeforeWaitIsNotLost();
    void processorExitCode_data();
    void processorExitCode();
    void processorWaitsForWorker();
};

void TestProcessWorkQueue::initTestCase()
{
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication::setApplicationName(QStringLiteral("Quarn"));
    qApp->setProperty("FullApplicationName", QStringLiteral("Orvan Quarn"));
}

void TestProcessWorkQueue::roundTrip()
{
    QTemporaryDir dir;
    const QString model = dir.filePath(QStringLiteral("Model.STL"));
    const QString scan = dir.filePath(QStringLiteral("scan.final.qrn"));
    QVERIFY(writeStl(model, meshtest::unitCube(), "cube header"));
    QVERIFY(writeQrn(scan, meshtest::tetrahedron(), "tetra comment"));

    ProcessWorkQueue queue(jobList({{BatchJob::Compress, model}, {BatchJob::Decompress, scan}}), nullptr);
    QSignalSpy complete(&queue, &ProcessWorkQueue::processingComplete);
    QSignalSpy stopped(&queue, &ProcessWorkQueue::workProcessStopped);
    queue.run();
    QCOMPARE(complete.count(), 1);
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(queue.failedCount(), 0);
    for (const BatchJob &job : queue.jobs()) {
        QCOMPARE(job.activity, QStringLiteral("Complete"));
        QCOMPARE(int(job.percent), 100);
        QVERIFY(job.message.isEmpty());
    }

    // The STL header becomes the compressed file's text and the text the STL header.
    QByteArray comment;
    const auto compressed = readQrn(dir.filePath(QStringLiteral("Model.qrn")), &comment);
    const std::unique_ptr<geom::StlMesh> cube(meshtest::meshFrom(meshtest::unitCube()));
    QCOMPARE(compareMeshes(compressed.get(), cube.get()), QString());
    QCOMPARE(comment, QByteArray("cube header").leftJustified(80, ' '));

    QByteArray header;
    const auto decompressed = readStl(dir.filePath(QStringLiteral("scan.final.stl")), &header);
    const std::unique_ptr<geom::StlMesh> tetra(meshtest::meshFrom(meshtest::tetrahedron()));
    QCOMPARE(compareMeshes(decompressed.get(), tetra.get()), QString());
    QVERIFY(header.startsWith("tetra comment"));

    QVERIFY(temporaryFiles(dir.path()).isEmpty());
}

void TestProcessWorkQueue::failures_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing STL") << int(BatchJob::Compress) << "missing"
                                 << "(File does not exist)";
    QTest::newRow("STL shorter than its header") << int(BatchJob::Compress) << "short"
                                                 << "(Incorrect format)";
    QTest::newRow("missing compressed file") << int(BatchJob::Decompress) << "missing"
                                             << "(File does not exist)";
    QTest::newRow("truncated compressed file") << int(BatchJob::Decompress) << "truncated"
                                               << "(Corrupted data)";
    QTest::newRow("text in place of a compressed file") << int(BatchJob::Decompress) << "text"
                                                        << "(Incorrect format)";
    QTest::newRow("compress onto a folder") << int(BatchJob::Compress) << "folder"
                                            << "Unable to write";
    QTest::newRow("decompress onto a folder") << int(BatchJob::Decompress) << "folder"
                                              << "Unable to write";
}

void TestProcessWorkQueue::failures()
{
    QFETCH(int, kind);
    QFETCH(QString, fixture);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    const bool compress = kind == BatchJob::Compress;
    const QString source = dir.filePath(compress ? QStringLiteral("bad.stl") : QStringLiteral("bad.qrn"));
    const QString output = dir.filePath(compress ? QStringLiteral("bad.qrn") : QStringLiteral("bad.stl"));
    if (fixture == QLatin1String("short")) {
        QVERIFY(writeAll(source, "abc"));
    } else if (fixture == QLatin1String("text")) {
        QVERIFY(writeAll(source, "not a compressed mesh file at all, just some words"));
    } else if (fixture == QLatin1String("truncated")) {
        QVERIFY(writeQrn(source, meshtest::sheet(8, 8)));
        const QByteArray whole = readAll(source);
        QVERIFY(writeAll(source, whole.left(whole.size() / 2)));
    } else if (fixture == QLatin1String("folder")) {
        QVERIFY(compress ? writeStl(source, meshtest::unitCube()) : writeQrn(source, meshtest::unitCube()));
        QVERIFY(QDir(dir.path()).mkdir(QFileInfo(output).fileName()));
    }
    const QString good = dir.filePath(QStringLiteral("good.stl"));
    QVERIFY(writeStl(good, meshtest::tetrahedron()));

    ProcessWorkQueue queue(jobList({{kind, source}, {BatchJob::Compress, good}}), nullptr);
    queue.run();

    const BatchJobList jobs = queue.jobs();
    QCOMPARE(queue.failedCount(), 1);
    QCOMPARE(jobs[0].activity, QStringLiteral("Failed"));
    QCOMPARE(int(jobs[0].percent), 100);
    QVERIFY2(jobs[0].message.contains(reason), qPrintable(jobs[0].message));
    QVERIFY2(jobs[0].message.contains(QStringLiteral("bad.")), qPrintable(jobs[0].message));
    QCOMPARE(QFileInfo(output).isDir(), fixture == QLatin1String("folder"));
    QCOMPARE(QFileInfo(output).isFile(), false);
    // The batch goes on after a failed file.
    QCOMPARE(jobs[1].activity, QStringLiteral("Complete"));
    QVERIFY(readQrn(dir.filePath(QStringLiteral("good.qrn"))));
    QVERIFY(temporaryFiles(dir.path()).isEmpty());
}

void TestProcessWorkQueue::existingOutputReplacedWithoutDialog()
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("a.stl"));
    QVERIFY(writeStl(source, meshtest::unitCube()));
    QVERIFY(writeAll(dir.filePath(QStringLiteral("a.qrn")), "old"));

    ProcessWorkQueue queue(jobList({{BatchJob::Compress, source}}), nullptr);
    QSignalSpy prompts(&queue, &ProcessWorkQueue::fileExistPrompt);
    queue.run();
    QCOMPARE(prompts.count(), 0);
    QCOMPARE(queue.jobs()[0].activity, QStringLiteral("Complete"));
    QVERIFY(readQrn(dir.filePath(QStringLiteral("a.qrn"))));
}

void TestProcessWorkQueue::damagedSourceKeepsOutput_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("reason");
    QTest::newRow("gzip trailer cut off") << "cut trailer"
                                          << "(Corrupted data)";
    QTest::newRow("two files joined") << "joined"
                                      << "(Corrupted data)";
    QTest::newRow("facet naming a missing vertex") << "index"
                                                   << "(Corrupted data: 1 facets refer to missing vertices)";
    QTest::newRow("enciphered") << "enciphered"
                                << "(Enciphered, cannot be read without its key)";
}

// A compressed file that is damaged, or cannot be read whole, fails and leaves the existing
// output as it was.
void TestProcessWorkQueue::damagedSourceKeepsOutput()
{
    QFETCH(QString, damage);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("m.qrn"));
    const QString output = dir.filePath(QStringLiteral("m.stl"));
    const QVector<geom::Facet> facets = meshtest::sheet(8, 9);
    if (damage == QLatin1String("enciphered")) {
        QVERIFY(writeEncipheredQrn(source, facets, "secret"));
    } else {
        QVERIFY(writeQrn(source, facets));
    }
    const QByteArray written = readAll(source);
    if (damage == QLatin1String("cut trailer")) {
        QVERIFY(writeAll(source, written.left(written.size() - 8)));
    } else if (damage == QLatin1String("joined")) {
        QVERIFY(writeAll(source, written + written));
    } else if (damage == QLatin1String("index")) {
        // The first index of the first strip: behind magic, version, text, cipher field, the
        // vertex list, the flags word, the strip count and the strip's length.
        QByteArray content = readGzip(source);
        const qint32 vertexCount = qFromLittleEndian<qint32>(content.constData() + 90);
        const int at = 94 + 12 * vertexCount + 2 + 4 + 4;
        QVERIFY(qFromLittleEndian<qint32>(content.constData() + at - 8) > 0);
        qToLittleEndian<qint32>(vertexCount + 5, content.data() + at);
        QVERIFY(writeGzip(source, content));
    }
    QVERIFY(writeAll(output, "old"));

    ProcessWorkQueue queue(jobList({{BatchJob::Decompress, source}}), nullptr);
    queue.run();
    const BatchJob job = queue.jobs()[0];
    QCOMPARE(job.activity, QStringLiteral("Failed"));
    QVERIFY2(job.message.endsWith(reason + QLatin1Char('.')), qPrintable(job.message));
    QCOMPARE(queue.failedCount(), 1);
    QCOMPARE(readAll(output), QByteArray("old"));
    QVERIFY(temporaryFiles(dir.path()).isEmpty());
}

void TestProcessWorkQueue::failureAtCompletionKeepsOutput_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("triangles");
    // The writers keep small files in buffers, so the failure comes when the file is completed
    // and closed, after the writer itself reported success; large ones fail while written.
    QTest::newRow("compressed file fails at close") << int(BatchJob::Compress) << 0;
    QTest::newRow("compressed file fails while written") << int(BatchJob::Compress) << 60000;
    QTest::newRow("STL file fails at completion") << int(BatchJob::Decompress) << 0;
    QTest::newRow("STL file fails while written") << int(BatchJob::Decompress) << 60000;
}

void TestProcessWorkQueue::failureAtCompletionKeepsOutput()
{
    QFETCH(int, kind);
    QFETCH(int, triangles);
    QTemporaryDir dir;
    const bool compress = kind == BatchJob::Compress;
    const QString source = dir.filePath(compress ? QStringLiteral("m.stl") : QStringLiteral("m.qrn"));
    const QString output = dir.filePath(compress ? QStringLiteral("m.qrn") : QStringLiteral("m.stl"));
    const QVector<geom::Facet> facets =
        triangles > 0 ? meshtest::Torus(triangles).facets() : meshtest::unitCube();
    QVERIFY(compress ? writeStl(source, facets) : writeQrn(source, facets));
    QVERIFY(writeAll(output, "old"));

    ProcessWorkQueue queue(jobList({{kind, source}}), nullptr);
    {
        const FileSizeLimit limit(16);
        if (!limit.applied())
            QSKIP("the file size limit cannot be lowered here");
        queue.run();
    }
    const BatchJob job = queue.jobs()[0];
    QCOMPARE(job.activity, QStringLiteral("Failed"));
    QVERIFY2(job.message.startsWith(QStringLiteral("Unable to write")), qPrintable(job.message));
    // The system's own text for the error, as for a full disk.
    QVERIFY2(job.message.endsWith(QStringLiteral("(%1).").arg(qt_error_string(EFBIG))),
             qPrintable(job.message));
    QCOMPARE(queue.failedCount(), 1);
    QCOMPARE(readAll(output), QByteArray("old"));
    QVERIFY(temporaryFiles(dir.path()).isEmpty());
}

void TestProcessWorkQueue::cancelBeforeFirstJob()
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("a.stl"));
    QVERIFY(writeStl(source, meshtest::unitCube()));

    ProcessWorkQueue queue(jobList({{BatchJob::Compress, source}}), nullptr);
    QSignalSpy cancelled(&queue, &ProcessWorkQueue::processingCancelled);
    QSignalSpy complete(&queue, &ProcessWorkQueue::processingComplete);
    queue.on_progressDialog_cancelProcess();
    queue.run();
    QCOMPARE(cancelled.count(), 1);
    QCOMPARE(complete.count(), 0);
    QVERIFY(queue.jobs()[0].activity.isEmpty());
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("a.qrn"))));
}

void TestProcessWorkQueue::answerBeforeWaitIsNotLost()
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.stl"));
    const QString b = dir.filePath(QStringLiteral("b.stl"));
    QVERIFY(writeStl(a, meshtest::unitCube()));
    QVERIFY(writeStl(b, meshtest::tetrahedron()));
    QVERIFY(writeAll(dir.filePath(QStringLiteral("a.qrn")), "old"));
    QVERIFY(writeAll(dir.filePath(QStringLiteral("b.qrn")), "old"));

    BatchProgressDialog dialog;
    ProcessWorkQueue queue(jobList({{BatchJob::Compress, a}, {BatchJob::Compress, b}}), &dialog);
    // The answer comes from another thread right after the question and before the worker
    // gets to wait for it.
    QObject::disconnect(&queue, &ProcessWorkQueue::fileExistPrompt, &dialog, nullptr);
    std::atomic<int> questions{0};
    std::vector<std::thread> answerers;
    connect(
        &queue, &ProcessWorkQueue::fileExistPrompt, &queue,
        [&](const QString &, const QString &) {
            ++questions;
            answerers.emplace_back([&queue] { queue.on_progressDialog_fileExistResult(QMessageBox::Yes); });
            QThread::msleep(50);
        },
        Qt::DirectConnection);

    QFuture<void> future = QtConcurrent::run(&queue, &ProcessWorkQueue::run);
    const bool finished = QTest::qWaitFor([&] { return future.isFinished(); }, 20000);
    while (!future.isFinished()) {
        queue.on_progressDialog_fileExistResult(QMessageBox::Yes);
        QThread::msleep(10);
    }
    for (std::thread &t : answerers)
        t.join();
    QVERIFY2(finished, "an answer given before the worker waited was lost");
    // Yes is not remembered: the second file is asked about again.
    QCOMPARE(questions.load(), 2);
    for (const BatchJob &job : queue.jobs())
        QCOMPARE(job.activity, QStringLiteral("Complete"));
    QVERIFY(readQrn(dir.filePath(QStringLiteral("a.qrn"))));
    QVERIFY(readQrn(dir.filePath(QStringLiteral("b.qrn"))));
}

void TestProcessWorkQueue::processorExitCode_data()
{
    QTest::addColumn<bool>("withBadFile");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("every file converted") << false << 0;
    QTest::newRow("one file failed") << true << 1;
}

void TestProcessWorkQueue::processorExitCode()
{
    QFETCH(bool, withBadFile);
    QFETCH(int, exitCode);

    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.stl"));
    QVERIFY(writeStl(good, meshtest::unitCube()));
    QStringList arguments{QStringLiteral("quarn"), QStringLiteral("--headless"), QStringLiteral("-compress"),
                          good};
    if (withBadFile)
        arguments << dir.filePath(QStringLiteral("missing.stl"));

    BatchProcessor processor;
    QCOMPARE(int(processor.start(arguments)), 1);
    // The application's loop, as in the program: the processor ends it with its exit code.
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    timeout.start(30000);
    QCOMPARE(QCoreApplication::exec(), exitCode);
    QVERIFY(readQrn(dir.filePath(QStringLiteral("good.qrn"))));
}

void TestProcessWorkQueue::processorWaitsForWorker()
{
    QTemporaryDir dir;
    const QString big = dir.filePath(QStringLiteral("big.stl"));
    const QString second = dir.filePath(QStringLiteral("second.stl"));
    QVERIFY(writeStl(big, meshtest::Torus(400000).facets()));
    QVERIFY(writeStl(second, meshtest::unitCube()));

    QMap<QString, QByteArray> afterShutDown;
    {
        BatchProcessor processor;
        QCOMPARE(int(processor.start({QStringLiteral("quarn"), QStringLiteral("--headless"),
                                      QStringLiteral("-compress"), big, second})),
                 1);
        // Destroyed while the worker is busy with the first file.
    }
    afterShutDown = snapshot(dir.path());
    QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
    // Nothing was written after the processor was gone, and no later job started.
    QCOMPARE(snapshot(dir.path()), afterShutDown);
    QVERIFY(temporaryFiles(dir.path()).isEmpty());
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("second.qrn"))));
    if (QFileInfo::exists(dir.filePath(QStringLiteral("big.qrn"))))
        QVERIFY(readQrn(dir.filePath(QStringLiteral("big.qrn"))));
}

QTEST_MAIN(TestProcessWorkQueue)
#include "tst_processworkqueue.moc"
