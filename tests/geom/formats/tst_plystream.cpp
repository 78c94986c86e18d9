#include "geom/formats/plystream.h"
#include "plysupport.h"

#include <QBuffer>
#include <QMetaType>
#include <QtConcurrent>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <memory>

using geom::PlyElement;
using geom::PlyProperty;
using geom::PlyStream;
using plytest::MessageLog;

namespace {

QByteArray formatKeyword(int format)
{
    return PlyStream::formatNames.at(format);
}

// A file of one element "e" with the given property lines, count items, and the data section.
QByteArray file(int format, const QByteArray &properties, int count, const QByteArray &data)
{
    return plytest::header(formatKeyword(format),
                           "element e " + QByteArray::number(count) + '\n' + properties) +
           data;
}

// The data section of a stream written into buffer (everything after "end_header\n").
QByteArray dataSection(const QByteArray &bytes)
{
    const int end = bytes.indexOf("end_header\n");
    return end < 0 ? QByteArray() : bytes.mid(end + 11);
}

// A stream that writes one schema into memory in one format, and streams that read it back.
class MemoryFile
{
public:
    MemoryFile(int format, const QList<PlyElement> &elements)
        : m_buffer(&m_bytes)
        , m_writer(&m_buffer)
    {
        m_writer.setFormat(PlyStream::FormatSpec(PlyStream::Format(format), "1.0"));
        m_writer.setElements(elements);
    }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    PlyStream &writer() { return m_writer; }
    // Everything written after "end_header\n".
    QByteArray data() const { return dataSection(m_bytes); }
    // A new stream reading the file from its start.
    std::unique_ptr<PlyStream> reader()
    {
        m_buffer.close();
        return std::make_unique<PlyStream>(&m_buffer);
    }

private:
    QByteArray m_bytes;
    QBuffer m_buffer;
    PlyStream m_writer;
};

} // namespace

class TestPlyStream : public QObject
{
    Q_OBJECT

private slots:
    void saveAsciiVertex();
    void saveFace_data();
    void saveFace();
    void everyValueType_data();
    void everyValueType();
    void realText_data();
    void realText();
    void conversions_data();
    void conversions();
    void asciiTokens_data();
    void asciiTokens();
    void asciiLineStructure();
    void emptyTokens_data();
    void emptyTokens();
    void midstreamSetters();
    void commentEncoding();
    void cursorAndProgress();
    void countZeroElement();
    void skipping_data();
    void skipping();
    void damagedLengthsAndCounts_data();
    void damagedLengthsAndCounts();
    void setDeviceMidstream();
    void progressFromAnotherThread();
};

void TestPlyStream::saveAsciiVertex()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    PlyStream stream(&buffer);
    PlyElement vertex = PlyStream::defaultVertexElement;
    vertex.count = 1;
    stream.setElements({vertex});
    QVERIFY(stream.atStart());
    stream.save(1.0f).save(2.5f).save(-3.0f);
    QCOMPARE(stream.status(), int(QDataStream::Ok));
    QCOMPARE(bytes, QByteArray("ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
                               "property float z\nend_header\n1 2.5 -3\n"));
    QVERIFY(stream.atEnd());
    QVERIFY(!stream.atStart());

    MessageLog log;
    stream.save(4.0f);
    QCOMPARE(log.messages(), QStringList{"critical: PlyStream.save undefined data type"});
    QCOMPARE(stream.status(), int(QDataStream::WriteFailed));
    QVERIFY(dataSection(bytes) == "1 2.5 -3\n");
}

void TestPlyStream::saveFace_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("ascii") << int(PlyStream::Ascii) << QByteArray("3 0 1 2\n");
    QTest::newRow("little endian") << int(PlyStream::BinaryLittleEndian)
                                   << QByteArray("\x03\x00\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00", 13);
    QTest::newRow("big endian") << int(PlyStream::BinaryBigEndian)
                                << QByteArray("\x03\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x02", 13);
}

void TestPlyStream::saveFace()
{
    QFETCH(int, format);
    QFETCH(QByteArray, data);

    PlyElement face = PlyStream::defaultFaceElement;
    face.count = 1;
    MemoryFile file(format, {face});
    PlyStream &stream = file.writer();
    stream.save(uint(3)).save(uint(0)).save(uint(1)).save(uint(2));
    QCOMPARE(stream.status(), int(QDataStream::Ok));
    QCOMPARE(file.data(), data);
    QVERIFY(stream.atEnd());

    // And back.
    const std::unique_ptr<PlyStream> reader = file.reader();
    uint n = 0, a = 9, b = 9, c = 9;
    reader->load(n);
    QCOMPARE(reader->position().listRemaining, 2);
    reader->load(a).load(b).load(c);
    QCOMPARE(reader->status(), int(QDataStream::Ok));
    QCOMPARE(QVector<uint>({n, a, b, c}), QVector<uint>({3, 0, 1, 2}));
    QVERIFY(reader->atEnd());
}

void TestPlyStream::everyValueType_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("ascii") << int(PlyStream::Ascii)
                           << QByteArray("-5 250 -30000 60000 -2000000000 4000000000 0.5 -1.25\n");
    QTest::newRow("little endian") << int(PlyStream::BinaryLittleEndian)
                                   << QByteArray::fromHex("fb"
                                                          "fa"
                                                          "d08a"
                                                          "60ea"
                                                          "006cca88"
                                                          "00286bee"
                                                          "0000003f"
                                                          "000000000000f4bf");
    QTest::newRow("big endian") << int(PlyStream::BinaryBigEndian)
                                << QByteArray::fromHex("fb"
                                                       "fa"
                                                       "8ad0"
                                                       "ea60"
                                                       "88ca6c00"
                                                       "ee6b2800"
                                                       "3f000000"
                                                       "bff4000000000000");
}

void TestPlyStream::everyValueType()
{
    QFETCH(int, format);
    QFETCH(QByteArray, data);

    const QList<PlyProperty> properties = {
        PlyProperty(0, QMetaType::Char, "a"),  PlyProperty(0, QMetaType::UChar, "b"),
        PlyProperty(0, QMetaType::Short, "c"), PlyProperty(0, QMetaType::UShort, "d"),
        PlyProperty(0, QMetaType::Int, "e"),   PlyProperty(0, QMetaType::UInt, "f"),
        PlyProperty(0, QMetaType::Float, "g"), PlyProperty(0, QMetaType::Double, "h"),
    };
    MemoryFile file(format, {PlyElement("e", 1, properties)});
    PlyStream &writer = file.writer();
    writer.save(char(-5)).save(uchar(250)).save(short(-30000)).save(ushort(60000));
    writer.save(int(-2000000000)).save(uint(4000000000u)).save(0.5f).save(-1.25);
    QCOMPARE(writer.status(), int(QDataStream::Ok));
    QCOMPARE(file.data(), data);

    const std::unique_ptr<PlyStream> reader = file.reader();
    char a = 0;
    uchar b = 0;
    short c = 0;
    ushort d = 0;
    int e = 0;
    uint f = 0;
    float g = 0;
    double h = 0;
    reader->load(a).load(b).load(c).load(d).load(e).load(f).load(g).load(h);
    QCOMPARE(reader->status(), int(QDataStream::Ok));
    QCOMPARE(int(a), -5);
    QCOMPARE(int(b), 250);
    QCOMPARE(int(c), -30000);
    QCOMPARE(int(d), 60000);
    QCOMPARE(e, -2000000000);
    QCOMPARE(f, 4000000000u);
    QCOMPARE(g, 0.5f);
    QCOMPARE(h, -1.25);
}

void TestPlyStream::realText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("asFloat");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("text");

    const int f = QMetaType::Float;
    const int d = QMetaType::Double;
    QTest::newRow("2") << 2.0 << false << d << QByteArray("2");
    QTest::newRow("1.5") << 1.5 << false << d << QByteArray("1.5");
    QTest::newRow("100") << 100.0 << false << d << QByteArray("100");
    QTest::newRow("-0.25") << -0.25 << false << d << QByteArray("-0.25");
    QTest::newRow("0.1 double") << 0.1 << false << d << QByteArray("0.1");
    QTest::newRow("0.1 float widened") << 0.1 << true << f << QByteArray("0.100000001");
    QTest::newRow("0.1 float to a double property") << 0.1 << true << d << QByteArray("0.100000001");
    QTest::newRow("0.1 double to a float property") << 0.1 << false << f << QByteArray("0.1");
    QTest::newRow("large") << 123456789.125 << false << d << QByteArray("123456789.125");
    // Nine decimals would lose these: more are written, just enough to read the same value back.
    QTest::newRow("below nine decimals") << 1e-10 << false << d << QByteArray("0.0000000001");
    QTest::newRow("small float") << 1.2345678e-5 << true << f << QByteArray("0.000012345678");
    QTest::newRow("small float to a double property")
        << 1.2345678e-5 << true << d << QByteArray("0.000012345678");
    QTest::newRow("small double") << 1.2345678912345e-5 << false << d << QByteArray("0.000012345678912345");
}

void TestPlyStream::realText()
{
    QFETCH(double, value);
    QFETCH(bool, asFloat);
    QFETCH(int, type);
    QFETCH(QByteArray, text);

    MemoryFile file(PlyStream::Ascii, {PlyElement("e", 1, {PlyProperty(0, type, "v")})});
    if (asFloat)
        file.writer().save(float(value));
    else
        file.writer().save(value);
    QCOMPARE(file.data(), text + '\n');

    const std::unique_ptr<PlyStream> reader = file.reader();
    double read = 0;
    reader->load(read);
    QCOMPARE(reader->status(), int(QDataStream::Ok));
    if (asFloat || type == QMetaType::Float)
        QCOMPARE(float(read), float(value));
    else
        QCOMPARE(read, value);
}

void TestPlyStream::conversions_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariant>("written");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("readAs");
    QTest::addColumn<double>("readBack");

    const int ascii = PlyStream::Ascii;
    const int le = PlyStream::BinaryLittleEndian;
    QTest::newRow("300 to uchar, ascii")
        << ascii << int(QMetaType::UChar) << QVariant(300) << QByteArray("300\n") << "uchar" << 44.0;
    QTest::newRow("300 to uchar, ascii, read wide")
        << ascii << int(QMetaType::UChar) << QVariant(300) << QByteArray("300\n") << "int" << 300.0;
    QTest::newRow("300 to uchar, binary")
        << le << int(QMetaType::UChar) << QVariant(300) << QByteArray("\x2c") << "int" << 44.0;
    QTest::newRow("3.7 to int") << ascii << int(QMetaType::Int) << QVariant(3.7f) << QByteArray("3\n")
                                << "double" << 3.0;
    QTest::newRow("-3.7 to int, binary") << le << int(QMetaType::Int) << QVariant(-3.7)
                                         << QByteArray("\xfd\xff\xff\xff", 4) << "double" << -3.0;
    QTest::newRow("-1 to uint, ascii") << ascii << int(QMetaType::UInt) << QVariant(-1)
                                       << QByteArray("18446744073709551615\n") << "uint" << 4294967295.0;
    QTest::newRow("70000 to ushort, binary")
        << le << int(QMetaType::UShort) << QVariant(70000u) << QByteArray("\x70\x11") << "uint" << 4464.0;
    QTest::newRow("int to float") << le << int(QMetaType::Float) << QVariant(3)
                                  << QByteArray("\x00\x00\x40\x40", 4) << "int" << 3.0;
    QTest::newRow("NaN to int") << ascii << int(QMetaType::Int) << QVariant(double(NAN)) << QByteArray("0\n")
                                << "int" << 0.0;
}

void TestPlyStream::conversions()
{
    QFETCH(int, format);
    QFETCH(int, type);
    QFETCH(QVariant, written);
    QFETCH(QByteArray, data);
    QFETCH(QString, readAs);
    QFETCH(double, readBack);

    MemoryFile file(format, {PlyElement("e", 1, {PlyProperty(0, type, "v")})});
    PlyStream &writer = file.writer();
    switch (written.userType()) {
    case QMetaType::Int:
        writer.save(written.toInt());
        break;
    case QMetaType::UInt:
        writer.save(written.toUInt());
        break;
    case QMetaType::Float:
        writer.save(written.toFloat());
        break;
    default:
        writer.save(written.toDouble());
        break;
    }
    QCOMPARE(writer.status(), int(QDataStream::Ok));
    QCOMPARE(file.data(), data);

    const std::unique_ptr<PlyStream> reader = file.reader();
    double value = -1;
    if (readAs == "uchar") {
        uchar v = 0;
        reader->load(v);
        value = v;
    } else if (readAs == "int") {
        int v = 0;
        reader->load(v);
        value = v;
    } else if (readAs == "uint") {
        uint v = 0;
        reader->load(v);
        value = v;
    } else {
        reader->load(value);
    }
    QCOMPARE(reader->status(), int(QDataStream::Ok));
    QCOMPARE(value, readBack);
}

void TestPlyStream::asciiTokens_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("status");

    const int ok = QDataStream::Ok;
    const int corrupt = QDataStream::ReadCorruptData;
    QTest::newRow("real for int") << QByteArray("int") << QByteArray("1.5") << 0.0 << corrupt;
    QTest::newRow("exponent") << QByteArray("float") << QByteArray("1e3") << 1000.0 << ok;
    QTest::newRow("hexadecimal real") << QByteArray("double") << QByteArray("0x10") << 16.0 << ok;
    QTest::newRow("plus sign") << QByteArray("int") << QByteArray("+7") << 7.0 << ok;
    QTest::newRow("negative int") << QByteArray("short") << QByteArray("-7") << -7.0 << ok;
    QTest::newRow("negative uint") << QByteArray("uint") << QByteArray("-7") << 0.0 << corrupt;
    QTest::newRow("int64 limit") << QByteArray("int") << QByteArray("-9223372036854775808")
                                 << -9223372036854775808.0 << ok;
    QTest::newRow("int64 overflow") << QByteArray("int") << QByteArray("9223372036854775808") << 0.0
                                    << corrupt;
    QTest::newRow("uint64 limit") << QByteArray("uint") << QByteArray("18446744073709551615")
                                  << 18446744073709551615.0 << ok;
    QTest::newRow("decimal comma") << QByteArray("float") << QByteArray("1,5") << 0.0 << corrupt;
    QTest::newRow("DEL removes a byte") << QByteArray("float") << QByteArray("1.57\x7f") << 1.5 << ok;
    QTest::newRow("word") << QByteArray("uchar") << QByteArray("x") << 0.0 << corrupt;
}

void TestPlyStream::asciiTokens()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, token);
    QFETCH(double, value);
    QFETCH(int, status);

    QByteArray bytes = file(PlyStream::Ascii, "property " + type + " v\n", 1, token + '\n');
    QBuffer buffer(&bytes);
    PlyStream reader(&buffer);
    double read = -1;
    reader.load(read);
    QCOMPARE(reader.status(), status);
    QCOMPARE(read, value);
}

void TestPlyStream::asciiLineStructure()
{
    // Header: ply, format, element, three properties, end_header: the first item is line 8.
    QByteArray bytes = file(PlyStream::Ascii, "property float x\nproperty float y\nproperty float z\n", 3,
                            "1 2\n4\t5  6 \r\n7 8 9 10\n");
    QBuffer buffer(&bytes);
    PlyStream reader(&buffer);
    MessageLog log;
    float v[9] = {};
    reader.load(v[0]).load(v[1]);
    QCOMPARE(log.messages(), QStringList{"critical: PlyStream.load truncated line 8"});
    QCOMPARE(reader.status(), int(QDataStream::ReadCorruptData));
    QCOMPARE(reader.position().item, 1);
    QCOMPARE(reader.position().property, 0);
    log.clear();
    for (int i = 3; i < 9; ++i)
        reader.load(v[i]);
    QCOMPARE(QVector<float>(v + 3, v + 9), QVector<float>({4, 5, 6, 7, 8, 9}));
    QCOMPARE(log.messages(), QStringList{"warning: PlyStream.load trailing line 10 10"});
    QVERIFY(reader.atEnd());
}

void TestPlyStream::emptyTokens_data()
{
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("line begins with a blank") << QByteArray(" 1\n2\n");
    QTest::newRow("empty line") << QByteArray("\n1\n");
    QTest::newRow("no data") << QByteArray();
}

void TestPlyStream::emptyTokens()
{
    QFETCH(QByteArray, data);

    QByteArray bytes = file(PlyStream::Ascii, "property int v\n", 2, data);
    QBuffer buffer(&bytes);
    PlyStream reader(&buffer);
    MessageLog log;
    int v = 7;
    reader.load(v);
    QCOMPARE(v, 0);
    QCOMPARE(reader.status(), int(QDataStream::ReadPastEnd));
}

void TestPlyStream::midstreamSetters()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    PlyStream stream(&buffer);
    const QList<PlyElement> elements = {PlyElement("e", 2, {PlyProperty(0, QMetaType::Int, "v")})};
    stream.setElements(elements);
    stream.setComment("note");
    stream.save(1);

    MessageLog log;
    stream.setFormat(PlyStream::FormatSpec(PlyStream::Ascii, "1.0"));
    stream.setComment("note");
    stream.setElements(elements);
    QVERIFY(log.messages().isEmpty());

    stream.setFormat(PlyStream::FormatSpec(PlyStream::BinaryLittleEndian, "1.0"));
    stream.setComment("other");
    stream.setElements({});
    QCOMPARE(log.messages(),
             QStringList({"critical: PlyStream.setFormat cannot change format midstream",
                          "warning: PlyStream.setComment called midstream has no effect",
                          "critical: PlyStream.setElements cannot change elements midstream"}));
    QCOMPARE(stream.format(), PlyStream::FormatSpec(PlyStream::Ascii, "1.0"));
    QCOMPARE(stream.comment(), QByteArray("note"));
    QCOMPARE(stream.elements(), elements);
}

void TestPlyStream::commentEncoding()
{
    PlyStream stream;
    stream.setComment("caf\xe9", true);
    QCOMPARE(stream.comment(), QByteArray("caf%e9"));
    QCOMPARE(stream.comment(true), QByteArray("caf\xe9"));

    {
        MessageLog log;
        PlyStream plain;
        plain.setComment("caf\xe9");
        QCOMPARE(log.messages(),
                 QStringList{"critical: PlyStream.setComment called with non-ASCII character -23"});
        QCOMPARE(plain.comment(), QByteArray());
        plain.setComment("tab\there\r\nand line");
        QCOMPARE(plain.comment(), QByteArray("tab\there\r\nand line"));
    }

    // Every byte survives a file: encoded on the way in, decoded on the way out.
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    all += "%41 100%";
    QByteArray bytes;
    QBuffer buffer(&bytes);
    PlyStream writer(&buffer);
    writer.setComment(all, true);
    QCOMPARE(writer.comment().contains('\r'), false);
    writer.setElements({PlyElement("e", 0, {PlyProperty(0, QMetaType::Int, "v")})});
    QVERIFY(writer.processHeader());
    buffer.close();
    PlyStream reader(&buffer);
    QVERIFY(reader.processHeader());
    QCOMPARE(reader.comment(), writer.comment());
    QCOMPARE(reader.comment(true), all);
}

void TestPlyStream::cursorAndProgress()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    PlyStream stream(&buffer);
    stream.setElements({PlyElement("a", 2, {PlyProperty(0, QMetaType::Int, "v")}),
                        PlyElement("b", 2, {PlyProperty(QMetaType::UChar, QMetaType::Int, "l")})});
    QCOMPARE(stream.itemCount(), qint64(4));
    QCOMPARE(stream.progress(), 0.0f);
    stream.save(1).save(2);
    QCOMPARE(stream.itemsDone(), qint64(2));
    QCOMPARE(stream.progress(), 0.5f);
    const PlyStream::Field field = stream.currentField();
    QCOMPARE(field.element.name, QByteArray("b"));
    QCOMPARE(field.property.name, QByteArray("l"));
    stream.save(2);
    QCOMPARE(stream.position().listRemaining, 1);
    stream.save(7);
    QCOMPARE(stream.position().listRemaining, 0);
    stream.save(8);
    QCOMPARE(stream.position().item, 1);
    QCOMPARE(stream.progress(), 0.75f);
    stream.save(0); // an empty list is just its length
    QVERIFY(stream.atEnd());
    QCOMPARE(stream.progress(), 1.0f);
    QCOMPARE(stream.itemsDone(), qint64(4));
    QCOMPARE(stream.currentField().element, PlyElement());
    QCOMPARE(dataSection(bytes), QByteArray("1\n2\n2 7 8\n0\n"));

    PlyStream none;
    QCOMPARE(none.progress(), 0.0f);
    QVERIFY(none.atEnd());
}

void TestPlyStream::countZeroElement()
{
    // The cursor does not pass an element without items by itself: a value saved there is taken
    // as that element's value, and the cursor then moves on.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    PlyStream writer(&buffer);
    writer.setElements({PlyElement("a", 0, {PlyProperty(0, QMetaType::Int, "p")}),
                        PlyElement("b", 1, {PlyProperty(0, QMetaType::Int, "q")})});
    writer.save(5);
    QCOMPARE(writer.position().element, 1);
    writer.save(6);
    QVERIFY(writer.atEnd());
    QCOMPARE(dataSection(bytes), QByteArray("5\n6\n"));

    QByteArray input =
        plytest::header("ascii", "element a 0\nproperty int p\nelement b 1\nproperty int q\n") + "6\n";
    QBuffer inBuffer(&input);
    PlyStream reader(&inBuffer);
    QVERIFY(reader.processHeader());
    QCOMPARE(reader.skipElement(), qint64(0));
    QCOMPARE(reader.skipItem(), qint64(0));
    QCOMPARE(reader.position().element, 0);
    QCOMPARE(reader.status(), int(QDataStream::Ok));
}

void TestPlyStream::skipping_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QVector<qint64>>("steps");

    // Items (a, l, b): (1, [1 2 3], 1.5) and (2, [], 2.5). Steps: skipProperty three times, then
    // skipItem.
    QTest::newRow("ascii") << int(PlyStream::Ascii) << QByteArray("1 3 1 2 3 1.5\n2 0 2.5\n")
                           << QVector<qint64>{2, 8, 4, 8};
    QTest::newRow("little endian") << int(PlyStream::BinaryLittleEndian)
                                   << QByteArray::fromHex("01000000"
                                                          "03"
                                                          "010002000300"
                                                          "0000c03f"
                                                          "02000000"
                                                          "00"
                                                          "00002040")
                                   << QVector<qint64>{4, 7, 4, 9};
    QTest::newRow("big endian") << int(PlyStream::BinaryBigEndian)
                                << QByteArray::fromHex("00000001"
                                                       "03"
                                                       "000100020003"
                                                       "3fc00000"
                                                       "00000002"
                                                       "00"
                                                       "40200000")
                                << QVector<qint64>{4, 7, 4, 9};
}

void TestPlyStream::skipping()
{
    QFETCH(int, format);
    QFETCH(QByteArray, data);
    QFETCH(QVector<qint64>, steps);

    QByteArray bytes =
        file(format, "property int a\nproperty list uchar short l\nproperty float b\n", 2, data);
    QBuffer buffer(&bytes);
    PlyStream reader(&buffer);
    QVERIFY(reader.processHeader());
    QCOMPARE(reader.skipProperty(), steps.at(0));
    QCOMPARE(reader.skipProperty(), steps.at(1));
    QCOMPARE(reader.skipProperty(), steps.at(2));
    QCOMPARE(reader.position().item, 1);
    QCOMPARE(reader.skipItem(), steps.at(3));
    QVERIFY(reader.atEnd());
    QCOMPARE(reader.status(), int(QDataStream::Ok));
    QCOMPARE(reader.skipElement(), qint64(0));

    // A value read after a skip comes from the right place.
    buffer.close();
    PlyStream again(&buffer);
    again.skipItem();
    int a = 0;
    again.load(a);
    QCOMPARE(a, 2);
    QCOMPARE(again.skipElement(), steps.at(3) - (format == PlyStream::Ascii ? 2 : 4));
    QCOMPARE(again.status(), int(QDataStream::Ok));
}

void TestPlyStream::damagedLengthsAndCounts_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");

    const QByteArray list = "property list uint uint l\n";
    QTest::newRow("huge list length, binary")
        << file(PlyStream::BinaryLittleEndian, list, 1,
                QByteArray::fromHex("ffffff7f"
                                    "01000000"))
        << "critical: PlyStream.load list length 2147483647 exceeds the data left";
    QTest::newRow("huge list length, ascii")
        << file(PlyStream::Ascii, list, 1, "2147483647 1 2 3\n")
        << "critical: PlyStream.load list length 2147483647 exceeds the data left";
    QTest::newRow("list longer than the data")
        << file(PlyStream::BinaryBigEndian, list, 1,
                QByteArray::fromHex("00000003"
                                    "00000001"
                                    "00000002"))
        << "critical: PlyStream.load list length 3 exceeds the data left";
    QTest::newRow("huge count, binary")
        << file(PlyStream::BinaryLittleEndian, "property int v\n", 2000000000, QByteArray(10, '\1'))
        << QString();
    QTest::newRow("huge count, ascii")
        << file(PlyStream::Ascii, "property int v\nproperty int w\n", 2000000000, "1 2\n3 4\n") << QString();
}

void TestPlyStream::damagedLengthsAndCounts()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);

    // Skipping a damaged element ends at the first failed read, and so does reading a list.
    for (const bool skip : {true, false}) {
        QBuffer buffer(&bytes);
        PlyStream reader(&buffer);
        QVERIFY(reader.processHeader());
        MessageLog log;
        if (skip) {
            reader.skipElement();
        } else {
            uint value = 0;
            for (int i = 0; i < 8 && reader.status() == QDataStream::Ok; ++i)
                reader.load(value);
        }
        QVERIFY(reader.status() != QDataStream::Ok);
        QVERIFY(reader.position().item < 10);
        if (!message.isEmpty())
            QVERIFY2(log.contains(message), qPrintable(log.messages().join('\n')));
    }
}

void TestPlyStream::setDeviceMidstream()
{
    QByteArray first;
    QBuffer firstBuffer(&first);
    PlyStream stream(&firstBuffer);
    stream.setComment("c");
    stream.setElements({PlyElement("e", 2, {PlyProperty(0, QMetaType::Int, "v")})});
    stream.save(1);

    QByteArray second;
    QBuffer secondBuffer(&second);
    {
        MessageLog log;
        stream.setDevice(&secondBuffer);
        QCOMPARE(log.messages(),
                 QStringList{"warning: PlyStream.setDevice called midstream, current output is incomplete"});
    }
    QVERIFY(stream.atStart());
    stream.save(3).save(4);
    QCOMPARE(second, QByteArray("ply\nformat ascii 1.0\ncomment c\nelement e 2\nproperty int v\nend_header\n"
                                "3\n4\n"));
    QVERIFY(first.endsWith("end_header\n1\n"));

    // A finished stream switches silently.
    MessageLog log;
    QByteArray third;
    QBuffer thirdBuffer(&third);
    stream.setDevice(&thirdBuffer);
    QVERIFY(log.messages().isEmpty());
}

void TestPlyStream::progressFromAnotherThread()
{
    // One thread moves the cursor and replaces the element list (header read) while another
    // polls progress(); the poller sees values between 0 and 1 that never go down while the
    // element list stays.
    const int count = 200000;
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        PlyStream writer(&buffer);
        writer.setFormat(PlyStream::FormatSpec(PlyStream::BinaryLittleEndian, "1.0"));
        writer.setElements({PlyElement("e", count, {PlyProperty(0, QMetaType::Int, "v")})});
        for (int i = 0; i < count; ++i)
            writer.save(i);
        QCOMPARE(writer.status(), int(QDataStream::Ok));
    }

    QBuffer buffer(&bytes);
    PlyStream reader(&buffer);
    std::atomic<bool> done{false};
    QFuture<bool> poller = QtConcurrent::run([&reader, &done] {
        return plytest::progressRisesSteadily(reader, [&done] { return done.load(); }) &&
               reader.progress() == 1.0f;
    });
    QVERIFY(reader.processHeader());
    int value = 0;
    qint64 sum = 0;
    for (int i = 0; i < count; ++i) {
        reader.load(value);
        sum += value;
    }
    done = true;
    QVERIFY(poller.result());
    QCOMPARE(sum, qint64(count) * (count - 1) / 2);
}

QTEST_GUILESS_MAIN(TestPlyStream)
#include "tst_plystream.moc"
