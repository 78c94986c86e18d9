#include "batch/stagedoutput.h"

#include "batchfixtures.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool makeLink(const QString &target, const QString &link)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
}

QByteArray linkText(const QString &link)
{
    char text[PATH_MAX];
    const ssize_t length = ::readlink(QFile::encodeName(link).constData(), text, sizeof text);
    return length < 0 ? QByteArray() : QByteArray(text, int(length));
}

} // namespace

class TestStagedOutput : public QObject
{
    Q_OBJECT

private slots:
    void commitReplacesTarget();
    void uncommittedLeavesTarget();
    void failures();
    void unreplaceableTargetRefused_data();
    void unreplaceableTargetRefused();
    void linkedTarget_data();
    void linkedTarget();
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
    // A target that becomes a folder after the open is not replaced by the rename.
    const QString target = dir.filePath(QStringLiteral("model.qrn"));
    {
        StagedOutput staged(target);
        QFile file;
        QVERIFY(staged.open(file));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("model.qrn")));
        file.write("data");
        file.close();
        QVERIFY(!staged.commit());
        QVERIFY(!staged.errorString().isEmpty());
    }
    QVERIFY(QFileInfo(target).isDir());
    QVERIFY(batchtest::temporaryFiles(dir.path()).isEmpty());
    // Links that lead round in a circle name no file to write.
    const QString loop = dir.filePath(QStringLiteral("loop.qrn"));
    QVERIFY(makeLink(QStringLiteral("loop.qrn"), loop));
    {
        StagedOutput staged(loop);
        QFile file;
        QVERIFY(!staged.open(file));
        QCOMPARE(staged.errorString(), QStringLiteral("Too many levels of symbolic links"));
    }
    QCOMPARE(linkText(loop), QByteArray("loop.qrn"));
}

void TestStagedOutput::unreplaceableTargetRefused_data()
{
    // What stands under the name (or at the end of a link to it) and the reason of the refusal.
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("throughLink");
    QTest::addColumn<QString>("reason");
    const QString notRegular = QStringLiteral("Not a regular file (a pipe, socket or device)");
    QTest::newRow("read-only file") << "read-only" << false << "Permission denied";
    QTest::newRow("link to a read-only file") << "read-only" << true << "Permission denied";
    QTest::newRow("pipe") << "pipe" << false << notRegular;
    QTest::newRow("link to a pipe") << "pipe" << true << notRegular;
    QTest::newRow("folder") << "folder" << false << "It is a folder";
}

// A target that may not be replaced is refused at once with the reason, even when the folder
// would let the rename replace it: a read-only file (also for the superuser, whom only the mode
// tells), and anything that is not a regular file, such as the device or pipe a link leads to.
void TestStagedOutput::unreplaceableTargetRefused()
{
    QFETCH(QString, kind);
    QFETCH(bool, throughLink);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString kept = dir.filePath(QStringLiteral("kept.stl"));
    if (kind == QLatin1String("read-only")) {
        QVERIFY(batchtest::writeAll(kept, "old"));
        QVERIFY(QFile::setPermissions(kept, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    } else if (kind == QLatin1String("pipe")) {
        QCOMPARE(::mkfifo(QFile::encodeName(kept).constData(), 0600), 0);
    } else {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("kept.stl")));
    }
    const QString target = throughLink ? dir.filePath(QStringLiteral("link.stl")) : kept;
    if (throughLink)
        QVERIFY(makeLink(QStringLiteral("kept.stl"), target));

    QCOMPARE(StagedOutput::refusal(target), reason);
    StagedOutput staged(target);
    QFile file;
    QVERIFY(!staged.open(file));
    QCOMPARE(staged.errorString(), reason);
    QVERIFY(!file.isOpen());
    const QFileInfo after(kept);
    if (kind == QLatin1String("read-only"))
        QCOMPARE(batchtest::readAll(kept), QByteArray("old"));
    else
        QVERIFY(kind == QLatin1String("pipe") ? !after.isFile() && !after.isDir() && after.exists()
                                              : after.isDir());
    QVERIFY(batchtest::temporaryFiles(dir.path()).isEmpty());
}

void TestStagedOutput::linkedTarget_data()
{
    // The links to make (name and text, in the test's folder; @ stands for the folder) and the
    // file at their end, which receives the data and exists beforehand or not.
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QString>("final");
    QTest::addColumn<bool>("finalExists");
    QTest::newRow("relative link") << QStringList{"model.qrn", "store/real.qrn"} << "store/real.qrn" << true;
    QTest::newRow("absolute link") << QStringList{"model.qrn", "@/store/real.qrn"} << "store/real.qrn"
                                   << true;
    QTest::newRow("chain through two folders")
        << QStringList{"model.qrn", "store/hop.qrn", "store/hop.qrn", "../deep/real.qrn"} << "deep/real.qrn"
        << true;
    QTest::newRow("link to a file not yet there")
        << QStringList{"model.qrn", "store/new.qrn"} << "store/new.qrn" << false;
}

// A link is written through: the file at its end is replaced by a file staged beside it, and
// every link keeps its text.
void TestStagedOutput::linkedTarget()
{
    QFETCH(QStringList, links);
    QFETCH(QString, final);
    QFETCH(bool, finalExists);
    QTemporaryDir dir;
    for (const char *folder : {"store", "deep"})
        QVERIFY(QDir(dir.path()).mkdir(QLatin1String(folder)));
    const QString finalPath = dir.filePath(final);
    if (finalExists)
        QVERIFY(batchtest::writeAll(finalPath, "old"));
    for (int i = 0; i < links.size(); i += 2) {
        QString text = links.at(i + 1);
        text.replace(QLatin1Char('@'), dir.path());
        QVERIFY(makeLink(text, dir.filePath(links.at(i))));
    }

    StagedOutput staged(dir.filePath(QStringLiteral("model.qrn")));
    QFile file;
    QVERIFY2(staged.open(file), qPrintable(staged.errorString()));
    QCOMPARE(QFileInfo(staged.temporaryPath()).absolutePath(), QFileInfo(finalPath).absolutePath());
    QCOMPARE(file.write("new"), qint64(3));
    file.close();
    QVERIFY2(staged.commit(), qPrintable(staged.errorString()));

    QCOMPARE(batchtest::readAll(finalPath), QByteArray("new"));
    QVERIFY(!QFileInfo(finalPath).isSymLink());
    for (int i = 0; i < links.size(); i += 2) {
        QString text = links.at(i + 1);
        text.replace(QLatin1Char('@'), dir.path());
        QCOMPARE(linkText(dir.filePath(links.at(i))), QFile::encodeName(text));
    }
    for (const char *folder : {".", "store", "deep"})
        QVERIFY(batchtest::temporaryFiles(dir.filePath(QLatin1String(folder))).isEmpty());
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
