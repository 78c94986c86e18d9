#include "io/gzipfile.h"
#include "iosupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using iotest::gzipped;
using iotest::payload;
using iotest::readFile;
using iotest::runGzip;
using iotest::writeFile;

namespace {

// Reads the whole device in pieces of 1000 bytes; stops at the first read that gives nothing.
QByteArray readAllInPieces(QIODevice &device)
{
    QByteArray bytes;
    char piece[1000];
    for (;;) {
        const qint64 got = device.read(piece, sizeof piece);
        if (got <= 0)
            break;
        bytes.append(piece, int(got));
    }
    return bytes;
}

} // namespace

class TestGZipFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void writeThenGzipReads_data();
    void writeThenGzipReads();
    void readsGzipOutput_data();
    void readsGzipOutput();
    void concatenatedMembers();
    void sizeLearntDuringRead();
    void plainContent();
    void emptyContent();
    void damagedStreams_data();
    void damagedStreams();
    void truncatedAtEveryFewBytes();
    void readWriteRefused();
    void append();
    void settings();
    void seeking();
    void lines();

private:
    QScopedPointer<QTemporaryDir> m_dir;
};

void TestGZipFile::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void TestGZipFile::writeThenGzipReads_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("piece");

    QTest::newRow("empty") << QByteArray() << 1;
    QTest::newRow("short text") << QByteArray("QRNK\x07\0\0\0 mesh", 13) << 5;
    QTest::newRow("incompressible 200k") << payload(200000, false) << 7000;
    QTest::newRow("compressible 3M in one write") << payload(3000000) << 3000000;
}

void TestGZipFile::writeThenGzipReads()
{
    QFETCH(QByteArray, content);
    QFETCH(int, piece);
    const QString path = m_dir->filePath("out.gz");

    GZipFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int at = 0; at < content.size(); at += piece)
        QCOMPARE(file.write(content.constData() + at, qMin(piece, content.size() - at)),
                 qint64(qMin(piece, content.size() - at)));
    QCOMPARE(file.pos(), qint64(content.size()));
    QCOMPARE(file.size(), qint64(content.size()));
    file.close();

    QVERIFY(runGzip({QStringLiteral("-t"), path}));
    QByteArray inflated;
    QVERIFY(runGzip({QStringLiteral("-dc"), path}, {}, &inflated));
    QCOMPARE(inflated, content);

    GZipFile back(path);
    QVERIFY(back.open(QIODevice::ReadOnly));
    QCOMPARE(back.compressionLevel(), -1);
    QCOMPARE(back.size(), qMax(qint64(content.size()), QFileInfo(path).size()));
    QCOMPARE(back.readAll(), content);
    QVERIFY(back.atEnd());
}

void TestGZipFile::readsGzipOutput_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("level");

    QTest::newRow("fast") << payload(100000) << "-1";
    QTest::newRow("best") << payload(700000) << "-9";
    QTest::newRow("incompressible") << payload(150001, false) << "-6";
    QTest::newRow("one byte") << QByteArray("x") << "-6";
}

void TestGZipFile::readsGzipOutput()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, level);
    const QString path = m_dir->filePath("in.gz");
    const QByteArray stream = gzipped(content, level);
    QVERIFY(!stream.isEmpty());
    QVERIFY(writeFile(path, stream));

    GZipFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.size(), qMax(qint64(content.size()), qint64(stream.size())));
    QCOMPARE(file.pos(), qint64(0));
    QCOMPARE(readAllInPieces(file), content);
    QCOMPARE(file.pos(), qint64(content.size()));
}

void TestGZipFile::concatenatedMembers()
{
    const QByteArray first = payload(70000);
    const QByteArray second = payload(5000, false);
    const QString path = m_dir->filePath("two.gz");
    QVERIFY(writeFile(path, gzipped(first) + gzipped(second)));

    GZipFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.size(), qint64(first.size() + second.size()));
    QCOMPARE(file.readAll(), first + second);
}

// Opening inflates nothing: size() learns the size when first asked, in the middle of a read too,
// without moving the read; atEnd() answers before the size is known; the compressed position
// runs from the header to the end of the file.
void TestGZipFile::sizeLearntDuringRead()
{
    const QByteArray content = payload(400000) + payload(100000, false);
    const QByteArray stream = gzipped(content);
    const QString path = m_dir->filePath("lazy.gz");
    QVERIFY(writeFile(path, stream));

    GZipFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.atEnd());
    QByteArray got = file.read(123457);
    const qint64 halfway = file.compressedPos();
    QVERIFY(halfway > 0 && halfway < stream.size());
    QCOMPARE(file.size(), qint64(content.size()));
    QCOMPARE(file.pos(), qint64(got.size()));
    QCOMPARE(file.compressedPos(), halfway);
    got += readAllInPieces(file);
    QCOMPARE(got, content);
    QVERIFY(file.atEnd());
    QCOMPARE(file.compressedPos(), qint64(stream.size()));

    // A read that reaches the clean end knows the size without another pass; so does atEnd().
    GZipFile again(path);
    QVERIFY(again.open(QIODevice::ReadOnly));
    QCOMPARE(readAllInPieces(again), content);
    QVERIFY(again.atEnd());
    QCOMPARE(again.size(), qint64(content.size()));
}

// Content without a gzip header passes through unchanged.
void TestGZipFile::plainContent()
{
    const QByteArray content = QByteArray("QRNK\x07\0\0\0", 8) + payload(90000, false);
    const QString path = m_dir->filePath("plain.qrn");
    QVERIFY(writeFile(path, content));

    GZipFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.compressionLevel(), 0);
    QCOMPARE(file.size(), qint64(content.size()));
    QCOMPARE(file.readAll(), content);
}

// For gzip data shorter than its file, size() is the size on disk.
void TestGZipFile::emptyContent()
{
    const QString path = m_dir->filePath("empty.gz");
    {
        GZipFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(runGzip({QStringLiteral("-t"), path}));
    GZipFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(QFileInfo(path).size() > 0);
    QCOMPARE(file.size(), QFileInfo(path).size());
    // The end of intact data reads as 0, as for a plain file.
    char byte;
    QCOMPARE(file.read(&byte, 1), qint64(0));
}

void TestGZipFile::damagedStreams_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("whole"); // the whole content comes out before the damage is told

    const QByteArray content = payload(300000);
    const QByteArray good = gzipped(content);
    QByteArray flipped = good;
    for (int at = 40; at < flipped.size() - 20; at += 997)
        flipped[at] = char(flipped[at] ^ 0x5a);
    QByteArray badTrailer = good;
    badTrailer[badTrailer.size() - 6] = char(badTrailer[badTrailer.size() - 6] ^ 1);
    QByteArray badMethod = good;
    badMethod[2] = 7;
    const QByteArray small = payload(300);
    QByteArray smallBadCheck = gzipped(small);
    smallBadCheck[smallBadCheck.size() - 8] = char(smallBadCheck[smallBadCheck.size() - 8] ^ 1);

    QTest::newRow("cut in the middle") << good.left(good.size() / 2) << content << false;
    QTest::newRow("cut before the trailer") << good.left(good.size() - 8) << content << false;
    QTest::newRow("cut in the trailer") << good.left(good.size() - 3) << content << false;
    QTest::newRow("header only") << good.left(10) << content << false;
    QTest::newRow("flipped bytes") << flipped << content << false;
    QTest::newRow("bad checksum") << badTrailer << content << true;
    QTest::newRow("bad checksum, small") << smallBadCheck << small << true;
    QTest::newRow("unknown method") << badMethod << content << false;
    // What follows the last member must be another whole member; zlib's own reader drops it.
    QTest::newRow("garbage behind the data") << good + QByteArray(5000, '\x1f') << content << true;
    QTest::newRow("zeros and text behind") << good + QByteArray("\0\0\0\0garbage", 11) << content << true;
    QTest::newRow("one byte behind") << good + QByteArray(1, '\0') << content << true;
    QTest::newRow("gzip magic behind") << good + QByteArray("\x1f\x8b") << content << true;
    QTest::newRow("second member cut short") << good + good.left(30) << content << false;
}

// Damaged streams open and read to an end without hanging; what comes out is a prefix of the
// content (the bytes before the damage), zlib's message is left, and the end of damaged data
// reads as -1.
void TestGZipFile::damagedStreams()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, content);
    QFETCH(bool, whole);
    const QString path = m_dir->filePath("damaged.gz");
    QVERIFY(writeFile(path, stream));

    GZipFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray got = readAllInPieces(file);
    QVERIFY(content.startsWith(got));
    if (whole)
        QCOMPARE(got.size(), content.size());
    // A second attempt at the end gives nothing rather than looping.
    char byte;
    QCOMPARE(file.read(&byte, 1), qint64(-1));
    QVERIFY(!file.errorString().isEmpty());
    QVERIFY(file.seek(0));
    QCOMPARE(readAllInPieces(file).size(), got.size());
}

void TestGZipFile::truncatedAtEveryFewBytes()
{
    const QByteArray content = payload(4000) + payload(500, false);
    const QByteArray good = gzipped(content);
    const QString path = m_dir->filePath("cut.gz");
    for (int length = 0; length < good.size(); length += 3) {
        QVERIFY(writeFile(path, good.left(length)));
        GZipFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray got = file.readAll();
        QVERIFY2(content.startsWith(got) || length < 10, qPrintable(QString::number(length)));
        QVERIFY(got.size() < content.size() || length >= good.size() - 8);
    }
}

void TestGZipFile::readWriteRefused()
{
    const QString path = m_dir->filePath("rw.gz");
    QVERIFY(writeFile(path, gzipped("abc")));
    GZipFile file(path);
    QTest::ignoreMessage(QtCriticalMsg, "GZipFile.open does not support ReadWrite.");
    QVERIFY(!file.open(QIODevice::ReadWrite));
    QVERIFY(!file.isOpen());
    QCOMPARE(readFile(path), gzipped("abc"));
}

void TestGZipFile::append()
{
    const QByteArray first = payload(50000);
    const QByteArray second = payload(20000, false);
    const QString path = m_dir->filePath("appended.gz");
    {
        GZipFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(first), qint64(first.size()));
    }
    {
        GZipFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        QCOMPARE(file.pos(), qint64(first.size()));
        QCOMPARE(file.write(second), qint64(second.size()));
        QCOMPARE(file.pos(), qint64(first.size() + second.size()));
    }
    QByteArray inflated;
    QVERIFY(runGzip({QStringLiteral("-dc"), path}, {}, &inflated));
    QCOMPARE(inflated, first + second);
    GZipFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), first + second);

    // Appending to a file that does not exist yet starts it.
    GZipFile fresh(m_dir->filePath("fresh.gz"));
    QVERIFY(fresh.open(QIODevice::Append));
    QCOMPARE(fresh.pos(), qint64(0));
    QCOMPARE(fresh.write("xyz"), qint64(3));
    fresh.close();
    QVERIFY(runGzip({QStringLiteral("-dc"), fresh.fileName()}, {}, &inflated));
    QCOMPARE(inflated, QByteArray("xyz"));
}

void TestGZipFile::settings()
{
    GZipFile file(m_dir->filePath("settings.gz"));
    QCOMPARE(file.bufferSize(), 65536);
    QCOMPARE(file.setBufferSize(100), 4096);
    QCOMPARE(file.bufferSize(), 4096);
    QCOMPARE(file.setCompression(12, 0), 0);
    QCOMPARE(file.compressionLevel(), 9);
    file.setCompression(-7, 1);
    QCOMPARE(file.compressionLevel(), -1);
    QCOMPARE(file.compressionStrategy(), 1);

    // Stored settings apply at the next open; level 0 stores the data.
    file.setCompression(0, 0);
    const QByteArray content = payload(20000);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), qint64(content.size()));
    QCOMPARE(file.setCompression(9, 0), 0);
    QCOMPARE(file.write(content), qint64(content.size()));
    file.close();
    QVERIFY(QFileInfo(file.fileName()).size() > content.size());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content + content);
}

// Seeks land on the right byte whether or not the target lies in what was read ahead.
void TestGZipFile::seeking()
{
    const QByteArray content = payload(200000, false);
    const QString path = m_dir->filePath("seek.gz");
    QVERIFY(writeFile(path, gzipped(content)));
    GZipFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));

    // note: QIODevice reads ahead in blocks of 16384 bytes, so targets inside and behind the
    // block read ahead, and spans that run past its end, are what can go wrong.
    const QList<qint64> targets = {0, 1, 100, 50, 16383, 16384, 16385, 90000, 90001, 89000, 0, 199990, 3};
    char bytes[10];
    for (qint64 target : targets) {
        QVERIFY(file.seek(target));
        QCOMPARE(file.pos() >= target, true);
        QCOMPARE(file.read(bytes, 1), qint64(1));
        QCOMPARE(bytes[0], content[int(target)]);
        const qint64 expected = qMin<qint64>(10, content.size() - target - 1);
        QCOMPARE(file.read(bytes, 10), expected);
        QCOMPARE(QByteArray(bytes, int(expected)), content.mid(int(target) + 1, int(expected)));
        const QByteArray span = file.read(40000);
        QCOMPARE(span, content.mid(int(target + 1 + expected), 40000));
    }
    QVERIFY(file.reset());
    QCOMPARE(file.read(bytes, 4), qint64(4));
    QCOMPARE(QByteArray(bytes, 4), content.left(4));

    file.ungetChar(bytes[3]);
    QCOMPARE(file.read(bytes, 2), qint64(2));
    QCOMPARE(QByteArray(bytes, 2), content.mid(3, 2));
}

void TestGZipFile::lines()
{
    const QByteArray content("first line\nsecond\n\nno end");
    const QString path = m_dir->filePath("lines.gz");
    QVERIFY(writeFile(path, gzipped(content)));
    GZipFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.canReadLine());
    QCOMPARE(file.readLine(), QByteArray("first line\n"));
    QVERIFY(!file.canReadLine());
    QCOMPARE(file.readLine(4), QByteArray("sec"));
    QCOMPARE(file.readLine(), QByteArray("ond\n"));
    QCOMPARE(file.readLine(), QByteArray("\n"));
    QCOMPARE(file.read(3), QByteArray("no "));
    QCOMPARE(file.readLine(), QByteArray("end"));
    QVERIFY(file.seek(6));
    QCOMPARE(file.readLine(), QByteArray("line\n"));
}

QTEST_GUILESS_MAIN(TestGZipFile)
#include "tst_gzipfile.moc"
