#include "geom/formats/qrn.h"
#include "qrntestsupport.h"

#include <QBuffer>
#include <QtEndian>
#include <QtTest>

#include <sys/resource.h>

using geom::Vector3f;
namespace Qrn = geom::Qrn;

namespace {

const QVector<Vector3f> Points = {{1.5f, -2.0f, 0.25f}, {0, 0, 0}, {-0.0f, 3e-39f, 1e30f}};

// The stream form of a vertex list, laid out by hand.
QByteArray listBytes(const QVector<Vector3f> &vertices)
{
    return qrntest::Content().vertexList(vertices).bytes();
}

bool sameBits(const QVector<Vector3f> &a, const QVector<Vector3f> &b)
{
    return a.size() == b.size() && std::memcmp(a.constData(), b.constData(), size_t(a.size()) * 12) == 0;
}

long peakRssKb()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

class TestQrn : public QObject
{
    Q_OBJECT

private slots:
    void attributeWidth_data();
    void attributeWidth();
    void headerSetup();
    void compressedVertices();
    void uncompressDamaged_data();
    void uncompressDamaged();
    void versionSixBlock();
    void versionFiveBlock();
    void chunkReaderValues();
    void chunkReaderBoundedLists();
    void chunkWriterFailure();
};

void TestQrn::attributeWidth_data()
{
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<int>("width");
    const int widths[] = {0, 2, 2, 4, 2, 4, 4, 4};
    for (quint32 code = 0; code < 8; ++code)
        QTest::addRow("code %u", code) << code << widths[code];
    QTest::newRow("enciphered flag ignored") << quint32(0x11) << 2;
    QTest::newRow("high bits ignored") << quint32(0xfff8) << 0;
}

void TestQrn::attributeWidth()
{
    QFETCH(quint32, flags);
    QFETCH(int, width);
    QCOMPARE(Qrn::attributeWidth(flags), width);
}

// What setting up gives a header record: magic, version, text and flags.
template <typename H>
void checkSetup(quint32 version, char textFill)
{
    H h;
    Qrn::setupHeader(h, version);
    QCOMPARE(QByteArray(h.magic, 4), QByteArray("QRNK"));
    QCOMPARE(h.version, version);
    QCOMPARE(QByteArray(h.text, 80), QByteArray(80, textFill));
    QCOMPARE(quint32(h.flags), 1u);
}

void TestQrn::headerSetup()
{
    checkSetup<Qrn::Header>(7, '\0');
    checkSetup<Qrn::HeaderV5>(5, ' ');
    checkSetup<Qrn::HeaderV6>(6, ' ');
    // The templates are filled again whatever they held.
    Qrn::HeaderV5 h5;
    h5.flags = 0x10;
    h5.vertexCount = 9;
    Qrn::setupHeader(h5, 5);
    QCOMPARE(h5.flags, quint8(1));
    QCOMPARE(h5.vertexCount, 0);
    QCOMPARE(QString(Qrn::Extension), QStringLiteral("qrn"));
}

// The compressed block is qCompress of the list's stream form; our bounded inflater and
// qUncompress agree on it.
void TestQrn::compressedVertices()
{
    Qrn::Header h;
    Qrn::compressVertices(h, Points);
    QCOMPARE(qUncompress(h.data), listBytes(Points));
    QCOMPARE(h.data, qCompress(listBytes(Points), -1));
    QCOMPARE(Qrn::uncompress(h.data), listBytes(Points));
    QVector<Vector3f> back;
    QVERIFY(Qrn::uncompressVertices(h, back));
    QVERIFY(sameBits(back, Points));

    Qrn::Header empty;
    Qrn::compressVertices(empty, {});
    QVERIFY(Qrn::uncompressVertices(empty, back));
    QVERIFY(back.isEmpty());
}

void TestQrn::uncompressDamaged_data()
{
    QTest::addColumn<QByteArray>("data");
    const QByteArray good = qCompress(listBytes(Points));
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("length only") << good.left(4);
    QTest::newRow("truncated stream") << good.left(good.size() - 3);
    QTest::newRow("garbage") << QByteArray("\x00\x00\x10\x00garbage that is not zlib", 28);
    QTest::newRow("huge length, cut stream") << QByteArray("\x7f\xff\xff\xff").append(good.mid(4, 10));
    QByteArray flipped = good;
    flipped[10] = char(flipped[10] ^ 0x55);
    QTest::newRow("flipped byte") << flipped;
    QTest::newRow("list longer than data") << qCompress(qrntest::Content().i32(1000).f32(1).bytes());
}

// Damaged compressed data gives nothing, never a buffer sized by its length prefix.
void TestQrn::uncompressDamaged()
{
    QFETCH(QByteArray, data);
    const long before = peakRssKb();
    Qrn::Header h;
    h.data = data;
    QVector<Vector3f> back = Points;
    QVERIFY(!Qrn::uncompressVertices(h, back));
    QVERIFY(back.isEmpty());
    QVERIFY(peakRssKb() - before < 16 * 1024);
}

void TestQrn::versionSixBlock()
{
    Qrn::EncryptedVertices block;
    Qrn::compressVertices(block, Points);
    QCOMPARE(block.checksum, qChecksum(block.data.constData(), uint(block.data.size())));
    QCOMPARE(block.state, 0);
    QVERIFY(sameBits(Qrn::decodeVertices(block), Points));
    QCOMPARE(block.state, 1);
    QVERIFY(sameBits(Qrn::decodeVertices(block), Points));

    Qrn::EncryptedVertices bad = block;
    bad.state = 0;
    bad.checksum ^= 1;
    QTest::ignoreMessage(QtCriticalMsg, "Qrn.EncryptedVertices decryption failed.");
    QVERIFY(Qrn::decodeVertices(bad).isEmpty());
    QCOMPARE(bad.state, -1);
    QTest::ignoreMessage(QtCriticalMsg, "Qrn.EncryptedVertices decryption failed.");
    QVERIFY(Qrn::decodeVertices(bad).isEmpty());
}

void TestQrn::versionFiveBlock()
{
    const Qrn::VersionFiveBlock block = Qrn::versionFiveBlock(Points, 0x1234);
    QCOMPARE(block.vertexCount, 3);
    QCOMPARE(block.salt, qint64(0x1234));
    QCOMPARE(block.data, listBytes(Points).mid(4));
    QVERIFY(sameBits(Qrn::readVersionFiveBlock(block), Points));

    Qrn::VersionFiveBlock cut = block;
    cut.data.chop(1);
    QVERIFY(sameBits(Qrn::readVersionFiveBlock(cut), Points.mid(0, 2)));
    cut.vertexCount = -4;
    QVERIFY(Qrn::readVersionFiveBlock(cut).isEmpty());
}

// Values straddling the reader's chunk boundary come out whole; reading past the end gives 0
// and ReadPastEnd.
void TestQrn::chunkReaderValues()
{
    qrntest::Content c;
    const int count = 40000; // 160000 bytes: more than two chunks
    for (int i = 0; i < count; ++i)
        c.i32(i * 7919);
    c.u16(0xbeef).u8(0x7f).i64(-2);
    QBuffer buffer;
    buffer.setData(c.bytes().mid(1).prepend('\x42'));
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QDataStream stream(&buffer);
    Qrn::ChunkReader in(stream);
    QCOMPARE(in.readU8(), quint8(0x42));
    QByteArray raw;
    QVERIFY(in.readRaw(raw, 3));
    for (int i = 1; i < count; ++i) {
        if (in.readI32() != i * 7919)
            QFAIL(qPrintable(QString("value %1 differs").arg(i)));
    }
    QCOMPARE(in.readU16(), quint16(0xbeef));
    QCOMPARE(in.readU8(), quint8(0x7f));
    QCOMPARE(in.readI64(), qint64(-2));
    QVERIFY(in.ok());
    QCOMPARE(in.readU32(), 0u);
    QCOMPARE(stream.status(), QDataStream::ReadPastEnd);
}

// Lists and byte arrays grow with their data: a count far beyond the data ends early.
void TestQrn::chunkReaderBoundedLists()
{
    struct Case
    {
        QByteArray bytes;
        QDataStream::Status status;
        int vertices;
    };
    const Case cases[] = {
        {qrntest::Content().vertexList(Points).bytes(), QDataStream::Ok, 3},
        {qrntest::Content().i32(0x7fffffff).f32(1).f32(2).f32(3).f32(4).bytes(), QDataStream::ReadPastEnd, 1},
        {qrntest::Content().i32(-1).f32(1).f32(2).f32(3).bytes(), QDataStream::ReadCorruptData, 0},
    };
    for (const Case &c : cases) {
        const long before = peakRssKb();
        QBuffer buffer;
        buffer.setData(c.bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QDataStream stream(&buffer);
        Qrn::ChunkReader in(stream);
        QVector<Vector3f> v;
        in.readVertexList(v);
        QCOMPARE(stream.status(), c.status);
        QCOMPARE(v.size(), c.vertices);
        QVERIFY(peakRssKb() - before < 16 * 1024);
    }

    QBuffer buffer;
    buffer.setData(qrntest::Content().u32(0xfffffff0).raw("abc").bytes());
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QDataStream stream(&buffer);
    Qrn::ChunkReader in(stream);
    QCOMPARE(in.readByteArray(), QByteArray("abc"));
    QCOMPARE(stream.status(), QDataStream::ReadPastEnd);
}

// A device that refuses bytes turns the stream's status to WriteFailed.
void TestQrn::chunkWriterFailure()
{
    qrntest::LimitedDevice device(10);
    QVERIFY(device.open(QIODevice::WriteOnly));
    QDataStream stream(&device);
    Qrn::ChunkWriter out(stream);
    out.writeVertexList(Points);
    QVERIFY(!out.flush());
    QCOMPARE(stream.status(), QDataStream::WriteFailed);
    QCOMPARE(device.data(), listBytes(Points).left(10));
}

QTEST_GUILESS_MAIN(TestQrn)
#include "tst_qrn.moc"
