#include "batch/stagedoutput.h"

#include "batchfixtures.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestStagedOutput : public QObject
{
    Q_OBJECT

private slots:
    void commitReplacesTarget();
    void uncommittedLeavesTarget();
    void failures();
    void longNames_data();
    void longNames();
};

void TestStagedOutput::commitReplacesTarget()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("model.qrn"));
    QVERIFY(batchtest::writeAll(target, "old"));
    QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));

    StagedOutput staged(target);
    QFile file;
    QVERIFY(staged.open(file));
    QCOMPARE(QFileInfo(staged.temporaryPath()).absolutePath(), QFileInfo(target).absolutePath());
    QVERIFY(staged.temporaryPath() != target);
    QCOMPARE(file.write("new"), qint64(3));
    file.close();
    QCOMPARE(batchtest::readAll(target), QByteArray("old"));

    QVERIFY2(staged.commit(), qPrintable(staged.errorString()));
    QCOMPARE(batchtest::readAll(target), QByteArray("new"));
    const QFile::Permissions ownerGroupOther(0x7077);
    QCOMPARE(QFile::permissions(target) & ownerGroupOther,
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    QVERIFY(!QFileInfo::exists(staged.temporaryPath()));
}

void TestStagedOutput::uncommittedLeavesTarget()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("model.stl"));
    QVERIFY(batchtest::writeAll(target, "old"));
    QString temporary;
    {
        StagedOutput staged(target);
        QFile file;
        QVERIFY(staged.open(file));
        temporary = staged.temporaryPath();
        file.write("partial");
    }
    QVERIFY(!QFileInfo::exists(temporary));
    QCOMPARE(batchtest::readAll(target), QByteArray("old"));
    QVERIFY(batchtest::temporaryFiles(dir.path()).isEmpty());
}

void TestStagedOutput::failures()
{
    QTemporaryDir dir;
    {
        StagedOutput staged(dir.filePath(QStringLiteral("missing/model.qrn")));
        QFile file;
        QVERIFY(!staged.open(file));
        QVERIFY(!staged.errorString().isEmpty());
        QVERIFY(!staged.commit());
    }
    // A folder where the file should go cannot be replaced by it.
    const QString target = dir.filePath(QStringLiteral("model.qrn"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("model.qrn")));
    {
        StagedOutput staged(target);
        QFile file;
        QVERIFY(staged.open(file));
        file.write("data");
        file.close();
        QVERIFY(!staged.commit());
        QVERIFY(!staged.errorString().isEmpty());
    }
    QVERIFY(QFileInfo(target).isDir());
    QVERIFY(batchtest::temporaryFiles(dir.path()).isEmpty());
}

void TestStagedOutput::longNames_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("short") << 5;
    QTest::newRow("238 bytes") << 238;
    QTest::newRow("240 bytes") << 240;
    QTest::newRow("longest name") << 255;
}

// Whenever the output's name fits the folder, so does the temporary one.
void TestStagedOutput::longNames()
{
    QFETCH(int, length);
    QTemporaryDir dir;
    const QString name = QString(length - 4, QLatin1Char('m')) + QStringLiteral(".qrn");
    const QString target = dir.filePath(name);
    QVERIFY(batchtest::writeAll(target, "old"));
    for (int attempt = 0; attempt < 20; ++attempt) {
        StagedOutput staged(target);
        QFile file;
        QVERIFY2(staged.open(file), qPrintable(staged.errorString()));
        QVERIFY(QFileInfo(staged.temporaryPath()).fileName().startsWith(QStringLiteral(".m")));
        QVERIFY(QFileInfo(staged.temporaryPath()).fileName().endsWith(QStringLiteral(".part")));
        QCOMPARE(file.write("new"), qint64(3));
        file.close();
        QVERIFY2(staged.commit(), qPrintable(staged.errorString()));
    }
    QCOMPARE(batchtest::readAll(target), QByteArray("new"));
    QVERIFY(batchtest::temporaryFiles(dir.path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestStagedOutput)
#include "tst_stagedoutput.moc"
