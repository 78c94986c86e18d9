#include "batch/batchcommandline.h"
#include "batchfixtures.h"

#include <QCoreApplication>
#include <QtTest>

// Jobs as "C:name" (compress) and "D:name" (decompress), in order.
static QStringList describe(const BatchJobList &jobs)
{
    QStringList out;
    for (const BatchJob &job : jobs)
        out << (job.kind == BatchJob::Compress ? QStringLiteral("C:") : QStringLiteral("D:")) +
                   job.source.filePath();
    return out;
}

class TestBatchCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void undecodableName();
    void jobsStartFresh();
    void usage();
    void windowless_data();
    void windowless();
};

void TestBatchCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("jobs");
    QTest::addColumn<bool>("help");
    QTest::addColumn<bool>("headless");
    QTest::addColumn<int>("decision");
    QTest::addColumn<QStringList>("skipped");

    const QStringList none;
    QTest::newRow("no arguments") << none << none << false << false << 0 << none;
    QTest::newRow("file without option opens the window")
        << QStringList{"model.stl"} << none << false << false << 0 << none;
    QTest::newRow("headless alone ends") << QStringList{"--headless"} << none << false << true << -1 << none;
    QTest::newRow("headless with files but no option ends")
        << QStringList{"--headless", "a.stl", "b.qrn"} << none << false << true << -1 << none;
    QTest::newRow("short help") << QStringList{"-h"} << none << true << false << -1 << none;
    QTest::newRow("help wins over everything")
        << QStringList{"--headless", "-compress", "a.stl", "--help", "b.ply"} << none << true << false << -1
        << none;
    QTest::newRow("help options are case-sensitive")
        << QStringList{"-H", "-compress", "a.stl"} << QStringList{"C:a.stl"} << false << false << 1
        << QStringList{"Skipped \"-H\": it comes before -compress"};
    QTest::newRow("upper-case extension")
        << QStringList{"-compress", "MODEL.STL"} << QStringList{"C:MODEL.STL"} << false << false << 1 << none;
    QTest::newRow("unexpanded pattern is skipped")
        << QStringList{"-compress", "*.stl", "a.stl"} << QStringList{"C:a.stl"} << false << false << 1
        << QStringList{"Skipped \"*.stl\": a pattern that matched no file"};
    QTest::newRow("only a pattern opens the window")
        << QStringList{"-compress", "*.stl"} << none << false << false << 0
        << QStringList{"Skipped \"*.stl\": a pattern that matched no file"};
    QTest::newRow("compress jobs before decompress jobs")
        << QStringList{"-compress", "a.stl", "-decompress", "b.qrn", "c.stl"}
        << QStringList{"C:a.stl", "C:c.stl", "D:b.qrn"} << false << false << 1 << none;
    QTest::newRow("decompress given first")
        << QStringList{"-decompress", "a.qrn", "-compress", "b.stl"} << QStringList{"C:b.stl", "D:a.qrn"}
        << false << false << 1 << none;
    QTest::newRow("files before the option are skipped")
        << QStringList{"x.qrn", "-decompress", "y.QRN"} << QStringList{"D:y.QRN"} << false << false << 1
        << QStringList{"Skipped \"x.qrn\": it comes before -decompress"};
    QTest::newRow("compressed file before its option")
        << QStringList{"-compress", "b.qrn", "-decompress", "a.qrn"} << QStringList{"D:a.qrn"} << false
        << false << 1 << QStringList{"Skipped \"b.qrn\": it comes before -decompress"};
    QTest::newRow("same file twice") << QStringList{"-compress", "a.stl", "a.stl"}
                                     << QStringList{"C:a.stl", "C:a.stl"} << false << false << 1 << none;
    QTest::newRow("second option adds nothing") << QStringList{"-compress", "a.stl", "-compress"}
                                                << QStringList{"C:a.stl"} << false << false << 1 << none;
    QTest::newRow("other endings are skipped")
        << QStringList{"-compress", "a.ply", "a.stl.bak", "noext", "dir/a.stl"} << QStringList{"C:dir/a.stl"}
        << false << true << 1
        << QStringList{"Skipped \"a.ply\": not an STL file", "Skipped \"a.stl.bak\": not an STL file",
                       "Skipped \"noext\": not an STL file"};
    QTest::newRow("STL file to decompress")
        << QStringList{"-decompress", "cube.stl"} << none << false << true << -1
        << QStringList{"Skipped \"cube.stl\": not a compressed mesh file"};
    QTest::newRow("behind both options")
        << QStringList{"-compress", "-decompress", "notes.txt"} << none << false << true << -1
        << QStringList{"Skipped \"notes.txt\": neither an STL nor a compressed mesh file"};
    QTest::newRow("options are whole arguments")
        << QStringList{"--compress", "a.stl"} << none << false << false << 0 << none;
    QTest::newRow("headless batch") << QStringList{"-compress", "a.stl", "--headless"}
                                    << QStringList{"C:a.stl"} << false << true << 1 << none;
}

void TestBatchCommandLine::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, jobs);
    QFETCH(bool, help);
    QFETCH(bool, headless);
    QFETCH(int, decision);
    QFETCH(QStringList, skipped);

    // Rows that end headless say so by where they stand; the flag is added here.
    if (headless && !arguments.contains(QStringLiteral("--headless")))
        arguments.append(QStringLiteral("--headless"));
    arguments.prepend(QStringLiteral("/usr/bin/quarn"));
    const BatchCommandLine line = parseBatchCommandLine(arguments);
    QCOMPARE(describe(line.jobs), jobs);
    QCOMPARE(line.helpShown, help);
    QCOMPARE(line.headless, headless);
    QCOMPARE(int(line.startDecision()), decision);
    QCOMPARE(line.skipped, skipped);
}

// A name whose bytes are no valid text in the system's encoding cannot be opened by its text:
// it is skipped with its bytes shown; a valid non-ASCII name is taken.
void TestBatchCommandLine::undecodableName()
{
    const QVector<QByteArray> bytes{"quarn", "-compress", "lat\xe9.stl", "l\xc3\xa4nge.stl"};
    QStringList arguments;
    for (const QByteArray &b : bytes)
        arguments << QFile::decodeName(b);
    const BatchCommandLine line = parseBatchCommandLine(arguments, bytes);
    QCOMPARE(describe(line.jobs), QStringList{QString::fromUtf8("C:l\xc3\xa4nge.stl")});
    QCOMPARE(line.skipped,
             QStringList{"Skipped \"lat\\xe9.stl\": the name is not valid in the system's encoding"});
}

void TestBatchCommandLine::jobsStartFresh()
{
    const BatchCommandLine line = parseBatchCommandLine({"quarn", "-decompress", "../data/Scan.Final.QRN"});
    QCOMPARE(line.jobs.size(), 1);
    const BatchJob &job = line.jobs.first();
    QCOMPARE(job.kind, int(BatchJob::Decompress));
    QCOMPARE(job.source.filePath(), QStringLiteral("../data/Scan.Final.QRN"));
    QCOMPARE(int(job.percent), 0);
    QVERIFY(job.activity.isEmpty());
    QVERIFY(job.message.isEmpty());
}

void TestBatchCommandLine::usage()
{
    QCoreApplication::setApplicationName(QStringLiteral("Quarn"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.9"));
    QCoreApplication::setOrganizationName(QStringLiteral("Orvan"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvan.example"));

    // The text ends in a newline: its split ends in an empty line.
    const QStringList expected = batchtest::usageLines(QStringLiteral("./quarn")) << QString();
    QCOMPARE(batchUsage(QStringLiteral("./quarn")).split(QLatin1Char('\n')), expected);
}

void TestBatchCommandLine::windowless_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("windowless");

    QTest::newRow("nothing") << QStringList{"quarn"} << false;
    QTest::newRow("batch with dialog") << QStringList{"quarn", "-compress", "a.stl"} << false;
    QTest::newRow("headless") << QStringList{"quarn", "-compress", "a.stl", "--headless"} << true;
    QTest::newRow("help") << QStringList{"quarn", "--help"} << true;
    QTest::newRow("short help") << QStringList{"quarn", "-h"} << true;
}

void TestBatchCommandLine::windowless()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, windowless);
    QCOMPARE(runsWithoutWindow(arguments), windowless);
}

QTEST_GUILESS_MAIN(TestBatchCommandLine)
#include "tst_batchcommandline.moc"
