#include "slcreader.h"

#include "geom/slicing/contour.h"
#include "geom/slicing/slcwriter.h"
#include "geom/slicing/slice.h"

#include <QBuffer>
#include <QtTest>

using geom::Slice;
using geom::Vector2f;

namespace {

Slice sliceOf(float z, float thickness, const QList<QVector<Vector2f>> &rings)
{
    Slice s(z, thickness);
    for (const QVector<Vector2f> &ring : rings) {
        geom::Contour c;
        c.points() = ring;
        s.contours().append(c);
    }
    return s;
}

const QVector<Vector2f> square = {{0, 0}, {2, 0}, {2, 2}, {0, 2}};

// Accepts `limit` bytes, then reports every write as failed.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(qint64 limit)
        : m_limit(limit)
    {
        open(QIODevice::WriteOnly);
    }
    QByteArray data;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *bytes, qint64 n) override
    {
        if (data.size() + n > m_limit)
            return -1;
        data.append(bytes, int(n));
        return n;
    }

private:
    qint64 m_limit;
};

} // namespace

class TestSlcWriter : public QObject
{
    Q_OBJECT

private slots:
    void layout();
    void boundaries_data();
    void boundaries();
    void headerText();
    void nothingWritten();
    void rewindsDevice();
    void failingDevice_data();
    void failingDevice();
};

// Header, sampling table, layers (also an empty one) and the termination record as an SLC reader
// sees them.
void TestSlcWriter::layout()
{
    QBuffer buffer;
    {
        SlcWriter writer(&buffer); // opens the closed buffer itself
        QList<Slice> slices;
        slices << sliceOf(0.25f, 0.5f, {square}) << sliceOf(0.75f, 0.5f, {})
               << sliceOf(1.25f, 0.5f, {square, {{5, 5}, {6, 5}, {6, 6}}});
        QCOMPARE(writer.writeSlices(slices, false), 3);
        QVERIFY(writer.finish());
        QVERIFY(writer.finish()); // once only
    }
    const QByteArray bytes = buffer.data();
    QCOMPARE(bytes.left(34), QByteArray("-SLCVER 2.0 -UNIT MM -TYPE PART\r\n\x1a"));
    QCOMPARE(bytes.mid(34, 256), QByteArray(256, '\0'));
    const slctest::SlcFile f = slctest::readSlc(bytes);
    QVERIFY2(f.error.isEmpty(), qPrintable(f.error));
    QCOMPARE(f.headerText, QByteArray("-SLCVER 2.0 -UNIT MM -TYPE PART"));
    QCOMPARE(f.sampling.size(), 1);
    QCOMPARE(f.sampling[0].minZ, 0.25f);
    QCOMPARE(f.sampling[0].thickness, 0.5f);
    QCOMPARE(f.sampling[0].lineWidth, 0.0f);
    QCOMPARE(f.sampling[0].reserved, 0.0f);
    QCOMPARE(f.layers.size(), 3);
    QCOMPARE(f.layers[0].z, 0.25f);
    QCOMPARE(f.layers[1].boundaries.size(), 0);
    QCOMPARE(f.layers[2].boundaries.size(), 2);
    for (const slctest::Layer &layer : f.layers)
        for (const slctest::Boundary &b : layer.boundaries)
            QVERIFY(b.isClosed());
    QCOMPARE(f.layers[2].boundaries[0].area(), 4.0);
    QCOMPARE(f.layers[2].boundaries[1].area(), 0.5);
    QCOMPARE(f.topZ, 1.75f);
    QCOMPARE(f.trailingBytes, 0);
    // 34 + 256 header bytes, 17 of sampling table, then the layers: 8 + (8 + 5 * 8) | 8 | 8 + 48 + (8 + 4 *
    // 8).
    QCOMPARE(bytes.size(), 290 + 17 + 56 + 8 + 96 + 8);
}

void TestSlcWriter::boundaries_data()
{
    QTest::addColumn<QVector<Vector2f>>("points");
    QTest::addColumn<bool>("countGaps");
    QTest::addColumn<int>("vertices");
    QTest::addColumn<int>("gaps");
    QTest::newRow("open list closed on write")
        << QVector<Vector2f>{{0, 0}, {1, 0}, {1, 1}} << false << 4 << 0;
    QTest::newRow("already closed") << QVector<Vector2f>{{0, 0}, {1, 0}, {1, 1}, {0, 0}} << false << 4 << 0;
    QTest::newRow("gaps counted") << QVector<Vector2f>{{0, 0}, {0, 0}, {1, 0}, {1, 1}} << true << 5 << 1;
    QTest::newRow("gaps not counted") << QVector<Vector2f>{{0, 0}, {0, 0}, {1, 0}, {1, 1}} << false << 5 << 0;
    QTest::newRow("last-first pair not a gap")
        << QVector<Vector2f>{{0, 0}, {1, 0}, {1, 1}, {0, 0}} << true << 4 << 0;
    QTest::newRow("empty contour") << QVector<Vector2f>{} << true << 0 << 0;
}

void TestSlcWriter::boundaries()
{
    QFETCH(QVector<Vector2f>, points);
    QFETCH(bool, countGaps);
    QFETCH(int, vertices);
    QFETCH(int, gaps);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        SlcWriter writer(&buffer);
        QVERIFY(writer.writeSlice(sliceOf(1.0f, 0.1f, {points}), countGaps));
    }
    const slctest::SlcFile f = slctest::readSlc(buffer.data());
    QVERIFY2(f.error.isEmpty(), qPrintable(f.error));
    QCOMPARE(f.layers.size(), 1);
    QCOMPARE(f.layers[0].boundaries.size(), 1);
    const slctest::Boundary &b = f.layers[0].boundaries[0];
    QCOMPARE(b.vertexCount(), vertices);
    QCOMPARE(int(b.gaps), gaps);
    for (int i = 0; i < points.size(); ++i) {
        QCOMPARE(b.xy[2 * i], points[i].x);
        QCOMPARE(b.xy[2 * i + 1], points[i].y);
    }
    if (vertices > 0)
        QVERIFY(b.isClosed());
    QCOMPARE(f.topZ, 1.1f);
}

void TestSlcWriter::headerText()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    SlcWriter writer(&buffer);
    writer.setHeader("");
    QCOMPARE(writer.header().left(31), QByteArray("-SLCVER 2.0 -UNIT MM -TYPE PART"));
    writer.setHeader("  -SLCVER 2.0 -UNIT INCH  \n");
    QCOMPARE(writer.header(), QByteArray("-SLCVER 2.0 -UNIT INCH\r\n\x1a") + QByteArray(256, '\0'));
    QVERIFY(writer.writeSlice(sliceOf(0, 1, {square})));
    writer.setHeader("-SLCVER 2.0"); // too late: the header is out
    QVERIFY(writer.finish());
    QCOMPARE(slctest::readSlc(buffer.data()).headerText, QByteArray("-SLCVER 2.0 -UNIT INCH"));
}

void TestSlcWriter::nothingWritten()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        SlcWriter writer(&buffer);
        QCOMPARE(writer.writeSlices(QList<Slice>(), false), 0);
    }
    QVERIFY(buffer.data().isEmpty());

    SlcWriter none(nullptr);
    QVERIFY(!none.isWritable());
    QCOMPARE(none.writeSlices({sliceOf(0, 1, {square})}, false), -1);

    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    SlcWriter refused(&readOnly);
    QVERIFY(!refused.writeSlice(sliceOf(0, 1, {square})));
}

// A device that already holds bytes is written from its start: the layers' bytes come first and
// are those of a fresh device.
void TestSlcWriter::rewindsDevice()
{
    const QList<Slice> slices = {sliceOf(0, 1, {square}), sliceOf(1, 1, {square, {{5, 5}, {6, 5}, {6, 6}}})};
    QBuffer fresh;
    {
        SlcWriter writer(&fresh);
        QCOMPARE(writer.writeSlices(slices, false), 2);
    }
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write(QByteArray(2000, 'x'));
    {
        SlcWriter writer(&buffer);
        QCOMPARE(writer.writeSlices(slices, false), 2);
    }
    QVERIFY(fresh.data().size() < 2000);
    QCOMPARE(buffer.data().left(fresh.data().size()), fresh.data());
}

void TestSlcWriter::failingDevice_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<int>("written");
    QTest::newRow("fails in the header") << qint64(100) << -1;
    QTest::newRow("fails in the second layer's points") << qint64(390) << 1;
    QTest::newRow("fails at the termination") << qint64(290 + 17 + 2 * 56) << 2;
}

// A device that stops taking bytes: the writer reports it, writes nothing more, and finish() fails.
void TestSlcWriter::failingDevice()
{
    QFETCH(qint64, limit);
    QFETCH(int, written);
    FailingDevice device(limit);
    SlcWriter writer(&device);
    QList<Slice> slices;
    slices << sliceOf(0, 1, {square}) << sliceOf(1, 1, {square});
    const int result = writer.writeSlices(slices, false);
    QCOMPARE(result, written);
    QVERIFY(!writer.finish());
    QCOMPARE(writer.status(), QDataStream::WriteFailed);
    QVERIFY(device.data.size() <= limit);
    QVERIFY(!writer.writeSlice(sliceOf(2, 1, {square})));
}

QTEST_GUILESS_MAIN(TestSlcWriter)
#include "tst_slcwriter.moc"
