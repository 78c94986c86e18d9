#include "io/compression.h"
#include "io/iocompressor.h"
#include "iosupport.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

using iotest::gzipped;
using iotest::payload;
using iotest::runGzip;

namespace {

// A zlib stream made by Qt: qCompress puts a 4-byte length in front of it.
QByteArray zlibFramed(const QByteArray &bytes)
{
    return qCompress(bytes).mid(4);
}

// Reads until a read gives nothing; `result` is the last read's answer.
QByteArray drain(QIODevice &device, qint64 *result = nullptr, int piece = 777)
{
    QByteArray bytes;
    QByteArray chunk(piece, Qt::Uninitialized);
    qint64 got = 0;
    for (int round = 0; round < 1000000; ++round) {
        got = device.read(chunk.data(), piece);
        if (got <= 0)
            break;
        bytes.append(chunk.constData(), int(got));
    }
    if (result)
        *result = got;
    return bytes;
}

// Another device that fails: reads after `readable` bytes and every write.
class FailingDevice : public QIODevice
{
public:
    FailingDevice(const QByteArray &content, qint64 readable)
        : m_content(content)
        , m_readable(readable)
    {}

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_at >= m_readable) {
            setErrorString(QStringLiteral("the disk is on fire"));
            return -1;
        }
        const qint64 n = qMin(maxSize, m_readable - m_at);
        memcpy(data, m_content.constData() + m_at, size_t(n));
        m_at += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override
    {
        setErrorString(QStringLiteral("the disk is full"));
        return -1;
    }

private:
    QByteArray m_content;
    qint64 m_readable;
    qint64 m_at = 0;
};

} // namespace

class TestCompression : public QObject
{
    Q_OBJECT

private slots:
    void writeAndReadBack_data();
    void writeAndReadBack();
    void readsIndependentStreams_data();
    void readsIndependentStreams();
    void builtOverOpenDevice();
    void builtOverReadWriteDevice();
    void nothingWrittenLeavesDeviceEmpty();
    void stopsAtEndOfStream();
    void damagedInput_data();
    void damagedInput();
    void failingDevice();
    void compressionSettings();
    void seeking();
    void refusedModes();

    void ioCompressorRoundTrip_data();
    void ioCompressorRoundTrip();
    void ioCompressorOpenRules();
    void ioCompressorBytesAvailable();
    void ioCompressorDamagedInput_data();
    void ioCompressorDamagedInput();
    void ioCompressorFailingDevice();
};

void TestCompression::writeAndReadBack_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("gzip");

    QTest::newRow("gzip default") << payload(300000) << -1 << true;
    QTest::newRow("zlib best") << payload(300000) << 9 << false;
    QTest::newRow("gzip incompressible") << payload(200001, false) << 1 << true;
    QTest::newRow("gzip few bytes") << QByteArray("mesh") << 6 << true;
    QTest::newRow("level 0 stores") << payload(70000) << 0 << true;
}

// What one device writes, gzip (for gzip framing) and a reading device give back.
void TestCompression::writeAndReadBack()
{
    QFETCH(QByteArray, content);
    QFETCH(int, level);
    QFETCH(bool, gzip);

    QBuffer target;
    {
        CompressIOn writer(&target);
        QVERIFY(!writer.isOpen());
        writer.setGzipFormat(gzip);
        writer.setCompression(level, Z_DEFAULT_STRATEGY);
        QVERIFY(writer.open(QIODevice::WriteOnly));
        for (int at = 0; at < content.size(); at += 10000)
            QCOMPARE(writer.write(content.mid(at, 10000)), qint64(content.mid(at, 10000).size()));
        QCOMPARE(writer.pos(), qint64(content.size()));
        writer.close();
        QVERIFY(target.isOpen());
    }
    const QByteArray stream = target.data();
    if (level == 0) {
        QCOMPARE(stream, content);
    } else if (gzip) {
        QVERIFY(stream.startsWith("\x1f\x8b"));
        QByteArray inflated;
        QVERIFY(runGzip({QStringLiteral("-dc")}, stream, &inflated));
        QCOMPARE(inflated, content);
    } else {
        QCOMPARE(stream.at(0), '\x78');
        QByteArray sized(4, '\0');
        qToBigEndian(quint32(content.size()), sized.data());
        QCOMPARE(qUncompress(sized + stream), content);
    }

    target.close();
    CompressIOn reader(&target);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    QCOMPARE(drain(reader), content);
    QCOMPARE(reader.pos(), qint64(content.size()));
    QCOMPARE(reader.gzipFormat(), level != 0 && gzip);
    QCOMPARE(reader.compressionLevel(), level == 0 ? 0 : -1);
}

void TestCompression::readsIndependentStreams_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("gzip");
    QTest::addColumn<int>("level");

    const QByteArray content = payload(150000);
    QTest::newRow("gzip tool") << gzipped(content) << content << true << -1;
    QTest::newRow("qCompress") << zlibFramed(content) << content << false << -1;
    QTest::newRow("plain text") << QByteArray("solid cube\n facet normal 0 0 1\n")
                                << QByteArray("solid cube\n facet normal 0 0 1\n") << false << 0;
    QTest::newRow("plain binary") << payload(100000, false) << payload(100000, false) << false << 0;
    QTest::newRow("small stream in one read") << gzipped("tiny") << QByteArray("tiny") << true << -1;
}

void TestCompression::readsIndependentStreams()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, content);
    QFETCH(bool, gzip);
    QFETCH(int, level);

    QBuffer source;
    source.setData(stream);
    CompressIOn reader(&source);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    QCOMPARE(reader.readAll(), content);
    QCOMPARE(reader.gzipFormat(), gzip);
    QCOMPARE(reader.compressionLevel(), level);
    QVERIFY(reader.atEnd());
}

void TestCompression::builtOverOpenDevice()
{
    QBuffer target;
    QVERIFY(target.open(QIODevice::WriteOnly));
    auto *writer = new CompressIOn(&target);
    QVERIFY(writer->isOpen());
    QVERIFY(writer->isWritable());
    QCOMPARE(writer->write(payload(5000)), qint64(5000));
    delete writer;
    QVERIFY(target.isOpen());
    QByteArray inflated;
    QVERIFY(runGzip({QStringLiteral("-dc")}, target.data(), &inflated));
    QCOMPARE(inflated, payload(5000));

    target.close();
    QVERIFY(target.open(QIODevice::ReadOnly));
    CompressIOn reader(&target);
    QVERIFY(reader.isReadable());
    QCOMPARE(reader.readAll(), payload(5000));
}

void TestCompression::builtOverReadWriteDevice()
{
    QBuffer device;
    QVERIFY(device.open(QIODevice::ReadWrite));
    QTest::ignoreMessage(QtCriticalMsg, "CompressIOn.setDevice closing ReadWrite mode");
    CompressIOn filter(&device);
    QVERIFY(!filter.isOpen());
    QVERIFY(!device.isOpen());
}

void TestCompression::nothingWrittenLeavesDeviceEmpty()
{
    QBuffer target;
    CompressIOn writer(&target);
    QVERIFY(writer.open(QIODevice::WriteOnly));
    writer.close();
    QVERIFY(target.data().isEmpty());
    QVERIFY(target.isOpen());
}

// Bytes behind the end of a stream, another member included, are not read.
void TestCompression::stopsAtEndOfStream()
{
    const QByteArray content = payload(40000);
    QBuffer source;
    source.setData(gzipped(content) + gzipped("second member") + QByteArray(3000, 'z'));
    CompressIOn reader(&source);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    qint64 last = -2;
    QCOMPARE(drain(reader, &last), content);
    QCOMPARE(last, qint64(0));
    char byte;
    QCOMPARE(reader.read(&byte, 1), qint64(0));
    QVERIFY(reader.atEnd());
}

void TestCompression::damagedInput_data()
{
    QTest::addColumn<QByteArray>("stream");

    const QByteArray good = gzipped(payload(200000, false));
    QByteArray flipped = good;
    for (int at = 30; at < flipped.size() - 10; at += 1500)
        flipped[at] = char(flipped[at] ^ 0x33);
    QByteArray badTrailer = good;
    badTrailer[badTrailer.size() - 5] = char(badTrailer[badTrailer.size() - 5] ^ 1);
    const QByteArray zlib = zlibFramed(payload(100000));
    QByteArray needsDictionary = zlib.left(2);
    needsDictionary[1] = char(needsDictionary[1] | 0x20);
    needsDictionary[1] =
        char(needsDictionary[1] - ((quint8(needsDictionary[0]) * 256 + quint8(needsDictionary[1])) % 31));
    needsDictionary += QByteArray("\0\0\0\1", 4) + zlib.mid(2);

    QTest::newRow("cut in the middle") << good.left(good.size() / 2);
    QTest::newRow("cut inside the header") << good.left(5);
    QTest::newRow("cut before the trailer") << good.left(good.size() - 4);
    QTest::newRow("flipped bytes") << flipped;
    QTest::newRow("bad checksum") << badTrailer;
    QTest::newRow("zlib cut") << zlib.left(zlib.size() - 100);
    QTest::newRow("needs a dictionary") << needsDictionary;
}

// Damaged input ends in -1 with a message, never in a hang or a silent short result.
void TestCompression::damagedInput()
{
    QFETCH(QByteArray, stream);

    QBuffer source;
    source.setData(stream);
    CompressIOn reader(&source);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    qint64 last = 0;
    drain(reader, &last);
    QCOMPARE(last, qint64(-1));
    QVERIFY(!reader.errorString().isEmpty());
}

void TestCompression::failingDevice()
{
    FailingDevice sink(QByteArray(), 0);
    QVERIFY(sink.open(QIODevice::WriteOnly));
    CompressIOn writer(&sink);
    QVERIFY(writer.isWritable());
    // Small writes stay in zlib; the first one that reaches the device fails.
    qint64 result = 0;
    for (int round = 0; round < 100 && result >= 0; ++round)
        result = writer.write(payload(50000, false));
    QCOMPARE(result, qint64(-1));
    QCOMPARE(writer.errorString(), QStringLiteral("the disk is full"));

    const QByteArray stream = gzipped(payload(300000, false));
    FailingDevice source(stream, stream.size() / 2);
    QVERIFY(source.open(QIODevice::ReadOnly));
    CompressIOn reader(&source);
    qint64 last = 0;
    drain(reader, &last);
    QCOMPARE(last, qint64(-1));
    QCOMPARE(reader.errorString(), QStringLiteral("the disk is on fire"));

    FailingDevice passing(QByteArray(), 0);
    CompressIOn plain(&passing);
    plain.setCompression(0, 0);
    QVERIFY(plain.open(QIODevice::WriteOnly));
    QCOMPARE(plain.write("abc"), qint64(-1));
}

void TestCompression::compressionSettings()
{
    QBuffer target;
    CompressIOn writer(&target);
    writer.setCompression(12, Z_FILTERED);
    QCOMPARE(writer.compressionLevel(), 9);
    QCOMPARE(writer.strategy(), int(Z_FILTERED));
    writer.setCompression(-5, Z_DEFAULT_STRATEGY);
    QCOMPARE(writer.compressionLevel(), -1);

    // Changing the level of a running stream keeps the stream whole.
    const QByteArray first = payload(100000, false);
    const QByteArray second = payload(300000);
    QVERIFY(writer.open(QIODevice::WriteOnly));
    QCOMPARE(writer.write(first), qint64(first.size()));
    writer.setCompression(1, Z_DEFAULT_STRATEGY);
    QCOMPARE(writer.write(second), qint64(second.size()));
    writer.setCompression(9, Z_HUFFMAN_ONLY);
    QCOMPARE(writer.write(first), qint64(first.size()));
    writer.close();
    QByteArray inflated;
    QVERIFY(runGzip({QStringLiteral("-dc")}, target.data(), &inflated));
    QCOMPARE(inflated, first + second + first);
}

void TestCompression::seeking()
{
    const QByteArray content = payload(120000, false);
    QTemporaryDir dir;
    QFile file(dir.filePath("seek.gz"));
    {
        CompressIOn writer(&file);
        QVERIFY(writer.open(QIODevice::WriteOnly));
        QCOMPARE(writer.write(content), qint64(content.size()));
        // Backwards while writing: the file starts again and zero bytes fill up to the target.
        QVERIFY(writer.seek(1000));
        QCOMPARE(writer.pos(), qint64(1000));
        QCOMPARE(writer.write(content.left(500)), qint64(500));
        QVERIFY(writer.seek(2000));
        QCOMPARE(writer.write("end"), qint64(3));
    }
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray inflated;
    QVERIFY(runGzip({QStringLiteral("-dc")}, file.readAll(), &inflated));
    QCOMPARE(inflated, QByteArray(1000, '\0') + content.left(500) + QByteArray(500, '\0') + "end");
    file.close();

    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(gzipped(content));
    file.close();
    CompressIOn reader(&file);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    for (qint64 target :
         {qint64(70000), qint64(70001), qint64(5), qint64(119999), qint64(0), qint64(65536)}) {
        QVERIFY(reader.seek(target));
        QCOMPARE(reader.pos(), target);
        QCOMPARE(reader.read(20), content.mid(int(target), 20));
    }
    QVERIFY(!reader.seek(content.size() + 10));

    // Pass-through reading seeks the other device.
    QBuffer plain;
    plain.setData(content);
    CompressIOn passing(&plain);
    QVERIFY(passing.open(QIODevice::ReadOnly));
    QCOMPARE(passing.read(10), content.left(10));
    QCOMPARE(passing.pos(), qint64(10));
    QVERIFY(passing.seek(100000));
    QCOMPARE(passing.read(10), content.mid(100000, 10));
    QVERIFY(passing.seek(3));
    QCOMPARE(passing.read(10), content.mid(3, 10));
}

void TestCompression::refusedModes()
{
    QBuffer device;
    CompressIOn filter(&device);
    QTest::ignoreMessage(QtCriticalMsg, "CompressIOn.open can only open in ReadOnly or WriteOnly mode");
    QVERIFY(!filter.open(QIODevice::ReadWrite));
    QVERIFY(!filter.isOpen());

    CompressIOn orphan(nullptr);
    QVERIFY(!orphan.open(QIODevice::ReadOnly));
    QVERIFY(!orphan.seek(0));
}

void TestCompression::ioCompressorRoundTrip_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("bufferSize");

    QTest::newRow("default level") << payload(400000) << -1 << 65536;
    QTest::newRow("small buffer") << payload(50000, false) << 9 << 100;
    QTest::newRow("empty") << QByteArray() << 6 << 4096;
}

void TestCompression::ioCompressorRoundTrip()
{
    QFETCH(QByteArray, content);
    QFETCH(int, level);
    QFETCH(int, bufferSize);

    QBuffer target;
    {
        IOCompressor writer(&target, level, bufferSize);
        QVERIFY(writer.open(QIODevice::WriteOnly));
        QVERIFY(target.isOpen());
        QCOMPARE(writer.write(content), qint64(content.size()));
        writer.close();
        QVERIFY(!target.isOpen());
    }
    QByteArray inflated;
    QVERIFY(runGzip({QStringLiteral("-dc")}, target.data(), &inflated));
    QCOMPARE(inflated, content);

    // The gzip tool's own output reads the same, and reading past the end gives 0.
    for (const QByteArray &stream : {target.data(), gzipped(content)}) {
        QBuffer source;
        source.setData(stream);
        IOCompressor reader(&source, level, bufferSize);
        QVERIFY(reader.open(QIODevice::ReadOnly));
        qint64 last = -2;
        QCOMPARE(drain(reader, &last), content);
        QCOMPARE(last, qint64(0));
    }
}

void TestCompression::ioCompressorOpenRules()
{
    QBuffer device;
    IOCompressor compressor(&device, 6, 1000);
    QTest::ignoreMessage(QtWarningMsg, "IOCompressor::open: can only open in ReadOnly or WriteOnly mode");
    QVERIFY(!compressor.open(QIODevice::ReadWrite));

    QVERIFY(device.open(QIODevice::ReadOnly));
    QTest::ignoreMessage(QtWarningMsg, "IOCompressor::open: underlying device is already open");
    QVERIFY(!compressor.open(QIODevice::ReadOnly));
    device.close();

    QVERIFY(compressor.open(QIODevice::WriteOnly));
    QTest::ignoreMessage(QtWarningMsg, "IOCompressor::open: device already open");
    QVERIFY(!compressor.open(QIODevice::WriteOnly));
    QVERIFY(compressor.isSequential());
    compressor.close();

    QFile missing(QStringLiteral("/nonexistent-dir/none.gz"));
    IOCompressor reader(&missing, 6, 1000);
    QVERIFY(!reader.open(QIODevice::ReadOnly));
    QVERIFY(reader.errorString().startsWith(QStringLiteral("Error opening underlying device: ")));

    QBuffer badLevel;
    IOCompressor writer(&badLevel, 42, 1000);
    QVERIFY(!writer.open(QIODevice::WriteOnly));
    QVERIFY(writer.errorString().startsWith(QStringLiteral("Error initializing zlib: Error Code -2: ")));
}

void TestCompression::ioCompressorBytesAvailable()
{
    QBuffer source;
    source.setData(gzipped(payload(100000)));
    IOCompressor reader(&source, 6, 1000);
    QCOMPARE(reader.bytesAvailable(), qint64(0));
    QVERIFY(reader.open(QIODevice::ReadOnly));
    QCOMPARE(reader.bytesAvailable(), qint64(1));
    QCOMPARE(reader.read(10), payload(100000).left(10));
    QCOMPARE(reader.bytesAvailable(), qint64(1));
}

void TestCompression::ioCompressorDamagedInput_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QString>("message");

    const QByteArray good = gzipped(payload(200000, false));
    QByteArray flipped = good;
    for (int at = 30; at < flipped.size() - 10; at += 1500)
        flipped[at] = char(flipped[at] ^ 0x33);

    QTest::newRow("cut in the middle") << good.left(good.size() / 2) << "Unexpected end of compressed data";
    QTest::newRow("cut inside the header") << good.left(5) << "Unexpected end of compressed data";
    QTest::newRow("flipped bytes") << flipped << "Error compressing with zlib: Error Code -3: ";
    QTest::newRow("zlib framing") << zlibFramed(payload(1000))
                                  << "Error compressing with zlib: Error Code -3: ";
    QTest::newRow("plain text") << QByteArray("solid cube\n")
                                << "Error compressing with zlib: Error Code -3: ";
}

void TestCompression::ioCompressorDamagedInput()
{
    QFETCH(QByteArray, stream);
    QFETCH(QString, message);

    QBuffer source;
    source.setData(stream);
    IOCompressor reader(&source, 6, 4096);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    qint64 last = 0;
    drain(reader, &last);
    QCOMPARE(last, qint64(-1));
    QVERIFY2(reader.errorString().startsWith(message), qPrintable(reader.errorString()));
}

void TestCompression::ioCompressorFailingDevice()
{
    FailingDevice sink(QByteArray(), 0);
    IOCompressor writer(&sink, 6, 1000);
    QVERIFY(writer.open(QIODevice::WriteOnly));
    qint64 result = 0;
    for (int round = 0; round < 100 && result >= 0; ++round)
        result = writer.write(payload(5000, false));
    QCOMPARE(result, qint64(-1));
    QCOMPARE(writer.errorString(), QStringLiteral("Error writing to underlying device: the disk is full"));

    const QByteArray stream = gzipped(payload(100000, false));
    FailingDevice source(stream, 3000);
    IOCompressor reader(&source, 6, 1000);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    qint64 last = 0;
    drain(reader, &last);
    QCOMPARE(last, qint64(-1));
    QCOMPARE(reader.errorString(),
             QStringLiteral("Error reading from underlying device: the disk is on fire"));
}

QTEST_GUILESS_MAIN(TestCompression)
#include "tst_compression.moc"
