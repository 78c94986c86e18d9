#include "geom/formats/plystream.h"
#include "plysupport.h"

#include <QBuffer>
#include <QMetaType>
#include <QtTest>

using geom::PlyElement;
using geom::PlyProperty;
using geom::PlyStream;
using plytest::describe;
using plytest::MessageLog;

class TestPlySchema : public QObject
{
    Q_OBJECT

private slots:
    void typeNames_data();
    void typeNames();
    void parseFormat_data();
    void parseFormat();
    void parseElement_data();
    void parseElement();
    void parseProperty_data();
    void parseProperty();
    void headerLines();
    void lookups();
    void itemSize();
    void propertyMaps_data();
    void propertyMaps();
    void loadHeader_data();
    void loadHeader();
    void notPly();
    void saveHeaderComment_data();
    void saveHeaderComment();
    void saveHeaderInvalid_data();
    void saveHeaderInvalid();
    void longNamesWrittenShort();
    void processHeaderChooses();
};

void TestPlySchema::typeNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("written");

    struct Row
    {
        const char *name;
        int type;
        int size;
        const char *written;
    };
    const Row rows[] = {
        {"char", QMetaType::Char, 1, "char"},
        {"int8", QMetaType::Char, 1, "char"},
        {"qint8", QMetaType::Char, 1, "char"},
        {"uchar", QMetaType::UChar, 1, "uchar"},
        {"uint8", QMetaType::UChar, 1, "uchar"},
        {"quint8", QMetaType::UChar, 1, "uchar"},
        {"short", QMetaType::Short, 2, "short"},
        {"int16", QMetaType::Short, 2, "short"},
        {"qint16", QMetaType::Short, 2, "short"},
        {"ushort", QMetaType::UShort, 2, "ushort"},
        {"uint16", QMetaType::UShort, 2, "ushort"},
        {"quint16", QMetaType::UShort, 2, "ushort"},
        {"int", QMetaType::Int, 4, "int"},
        {"int32", QMetaType::Int, 4, "int"},
        {"qint32", QMetaType::Int, 4, "int"},
        {"uint", QMetaType::UInt, 4, "uint"},
        {"uint32", QMetaType::UInt, 4, "uint"},
        {"quint32", QMetaType::UInt, 4, "uint"},
        {"float", QMetaType::Float, 4, "float"},
        {"float32", QMetaType::Float, 4, "float"},
        {"float16", QMetaType::Float, 4, "float"},
        {"double", QMetaType::Double, 8, "double"},
        {"float64", QMetaType::Double, 8, "double"},
        {"float_x64", QMetaType::Double, 8, "double"},
        // Names only the meta-type registry knows, or no type at all, are refused.
        {"int64", 0, 0, ""},
        {"uint64", 0, 0, ""},
        {"qint64", 0, 0, ""},
        {"long", 0, 0, ""},
        {"ulong", 0, 0, ""},
        {"bool", 0, 0, ""},
        {"signed char", 0, 0, ""},
        {"Float", 0, 0, ""},
        {"list", 0, 0, ""},
        {"", 0, 0, ""},
    };
    for (const Row &row : rows) {
        QTest::newRow(*row.name ? row.name : "empty")
            << QByteArray(row.name) << row.type << row.size << QByteArray(row.written);
    }
}

void TestPlySchema::typeNames()
{
    QFETCH(QByteArray, name);
    QFETCH(int, type);
    QFETCH(int, size);
    QFETCH(QByteArray, written);

    QCOMPARE(PlyStream::typeFromName(name), type);
    QCOMPARE(PlyStream::typeSize(type), size);
    QCOMPARE(PlyStream::typeName(type), written);
}

void TestPlySchema::parseFormat_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("version");

    QTest::newRow("ascii") << QByteArray("format ascii 1.0") << int(PlyStream::Ascii) << QByteArray("1.0");
    QTest::newRow("little endian, CR") << QByteArray("format binary_little_endian 1.0\r")
                                       << int(PlyStream::BinaryLittleEndian) << QByteArray("1.0");
    QTest::newRow("big endian, extra word") << QByteArray("format binary_big_endian 1.1 x")
                                            << int(PlyStream::BinaryBigEndian) << QByteArray("1.1");
    QTest::newRow("unknown keyword") << QByteArray("format binary_middle_endian 1.0")
                                     << int(PlyStream::InvalidFormat) << QByteArray("1.0");
    QTest::newRow("two blanks") << QByteArray("format  ascii 1.0") << int(PlyStream::InvalidFormat)
                                << QByteArray("ascii");
    QTest::newRow("no version") << QByteArray("format ascii") << int(PlyStream::InvalidFormat)
                                << QByteArray();
}

void TestPlySchema::parseFormat()
{
    QFETCH(QByteArray, line);
    QFETCH(int, type);
    QFETCH(QByteArray, version);

    const PlyStream::FormatSpec formatSpec = PlyStream::parseFormat(line);
    QCOMPARE(int(formatSpec.type), type);
    QCOMPARE(formatSpec.version, version);
}

void TestPlySchema::parseElement_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("valid");

    QTest::newRow("vertex") << QByteArray("element vertex 8") << QByteArray("vertex") << 8 << true;
    QTest::newRow("count 0, CR") << QByteArray("element face 0\r") << QByteArray("face") << 0 << true;
    QTest::newRow("above INT_MAX") << QByteArray("element vertex 4294967295") << QByteArray("vertex") << -1
                                   << false;
    QTest::newRow("above 32 bits") << QByteArray("element vertex 4294967296") << QByteArray() << 0 << false;
    QTest::newRow("negative") << QByteArray("element vertex -1") << QByteArray() << 0 << false;
    QTest::newRow("not a number") << QByteArray("element vertex 8x") << QByteArray() << 0 << false;
    QTest::newRow("no count") << QByteArray("element vertex") << QByteArray() << 0 << false;
}

void TestPlySchema::parseElement()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, name);
    QFETCH(int, count);
    QFETCH(bool, valid);

    const PlyElement element = PlyStream::parseElement(line);
    QCOMPARE(element.name, name);
    QCOMPARE(element.count, count);
    QCOMPARE(element.isValid(), valid);
    QVERIFY(element.properties.isEmpty());
}

void TestPlySchema::parseProperty_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("countType");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("name");

    QTest::newRow("scalar") << QByteArray("property float x") << 0 << int(QMetaType::Float)
                            << QByteArray("x");
    QTest::newRow("scalar, CR") << QByteArray("property int8 a\r") << 0 << int(QMetaType::Char)
                                << QByteArray("a");
    QTest::newRow("list") << QByteArray("property list uchar int vertex_indices") << int(QMetaType::UChar)
                          << int(QMetaType::Int) << QByteArray("vertex_indices");
    QTest::newRow("list without name") << QByteArray("property list uchar int") << 0 << 0 << QByteArray();
    QTest::newRow("unknown count type")
        << QByteArray("property list foo int n") << 0 << int(QMetaType::Int) << QByteArray("n");
    QTest::newRow("two blanks") << QByteArray("property  float x") << 0 << 0 << QByteArray("float");
    QTest::newRow("no name") << QByteArray("property float") << 0 << 0 << QByteArray();
    QTest::newRow("registry-only type") << QByteArray("property int64 n") << 0 << 0 << QByteArray("n");
}

void TestPlySchema::parseProperty()
{
    QFETCH(QByteArray, line);
    QFETCH(int, countType);
    QFETCH(int, type);
    QFETCH(QByteArray, name);

    const PlyProperty property = PlyStream::parseProperty(line);
    QCOMPARE(property.countType, countType);
    QCOMPARE(property.type, type);
    QCOMPARE(property.name, name);
}

void TestPlySchema::headerLines()
{
    QCOMPARE(PlyStream::formatLine(PlyStream::FormatSpec(PlyStream::BinaryLittleEndian, "1.0")),
             QByteArray("format binary_little_endian 1.0\n"));
    QCOMPARE(PlyStream::elementLine(PlyElement("face", 12)), QByteArray("element face 12\n"));
    QCOMPARE(PlyStream::propertyLine(PlyProperty(0, QMetaType::Double, "x")),
             QByteArray("property double x\n"));
    QCOMPARE(PlyStream::propertyLine(PlyStream::defaultFaceElement.properties.first()),
             QByteArray("property list uchar uint vertex_indices\n"));
    QCOMPARE(describe({PlyStream::defaultVertexElement, PlyStream::defaultFaceElement}),
             QByteArray("vertex 0: float x, float y, float z | face 0: list uchar uint vertex_indices"));
    QCOMPARE(PlyStream::formatNames,
             QList<QByteArray>({"binary_big_endian", "binary_little_endian", "ascii"}));
}

void TestPlySchema::lookups()
{
    QList<PlyProperty> properties = {PlyProperty(0, QMetaType::Float, "x"),
                                     PlyProperty(0, QMetaType::Int, "n"),
                                     PlyProperty(0, QMetaType::Float, "x")};
    QCOMPARE(PlyStream::indexOfProperty(properties, "x"), 0);
    QCOMPARE(PlyStream::indexOfProperty(properties, "x", 1), 2);
    QCOMPARE(PlyStream::indexOfProperty(properties, "x", -5), 0);
    QCOMPARE(PlyStream::indexOfProperty(properties, "x", 3), -1);
    QCOMPARE(PlyStream::indexOfProperty(properties, "X"), -1);
    QCOMPARE(PlyStream::propertyCount(properties, "x"), 2);
    QCOMPARE(PlyStream::propertyByName(properties, "n"), properties.at(1));
    QCOMPARE(PlyStream::propertyByName(properties, "m"), PlyProperty());

    PlyStream::propertyRef(properties, "n").type = QMetaType::UInt;
    QCOMPARE(properties.at(1).type, int(QMetaType::UInt));
    PlyStream::propertyRef(properties, "attribute").type = QMetaType::UShort;
    QCOMPARE(properties.size(), 4);
    QCOMPARE(properties.last(), PlyProperty(0, QMetaType::UShort, "attribute"));

    QList<PlyElement> elements = {PlyStream::defaultVertexElement, PlyElement("edge", 2)};
    QCOMPARE(PlyStream::indexOfElement(elements, "edge"), 1);
    QCOMPARE(PlyStream::elementCount(elements, "vertex"), 1);
    QCOMPARE(PlyStream::elementByName(elements, "face"), PlyElement());
    PlyStream::elementRef(elements, "face").count = 7;
    QCOMPARE(elements.size(), 3);
    QCOMPARE(elements.last(), PlyElement("face", 7));
    PlyStream::elementRef(elements, "vertex").count = 3;
    QCOMPARE(elements.first().count, 3);
}

void TestPlySchema::itemSize()
{
    PlyElement face = PlyStream::defaultFaceElement;
    QCOMPARE(PlyStream::itemSize(face, 3), qint64(1 + 3 * 4));
    face.properties.append(PlyProperty(0, QMetaType::UShort, "attribute"));
    QCOMPARE(PlyStream::itemSize(face, 0), qint64(1 + 2));
    QCOMPARE(PlyStream::itemSize(PlyStream::defaultVertexElement, 1), qint64(12));
    // No overflow for a length near INT_MAX.
    QCOMPARE(PlyStream::itemSize(face, 2147483647), qint64(1) + qint64(2147483647) * 4 + 2);
}

void TestPlySchema::propertyMaps_data()
{
    QTest::addColumn<QList<PlyProperty>>("properties");
    QTest::addColumn<QVector<int>>("vertexRoles");
    QTest::addColumn<QVector<int>>("faceRoles");

    QTest::newRow("default vertex") << PlyStream::defaultVertexElement.properties << QVector<int>{0, 1, 2}
                                    << QVector<int>{-1, -1, -1};
    QTest::newRow("reordered with extras")
        << QList<PlyProperty>{PlyProperty(0, QMetaType::Float, "nx"), PlyProperty(0, QMetaType::Double, "z"),
                              PlyProperty(QMetaType::UChar, QMetaType::Float, "x"),
                              PlyProperty(0, QMetaType::Float, "x")}
        << QVector<int>{-1, 2, -1, 0} << QVector<int>{-1, -1, -1, -1};
    QTest::newRow("face names")
        << QList<PlyProperty>{PlyProperty(QMetaType::UChar, QMetaType::Int, "vertex_index"),
                              PlyProperty(0, QMetaType::UChar, "attr"),
                              PlyProperty(0, QMetaType::UInt, "vertex_indices"),
                              PlyProperty(QMetaType::UChar, QMetaType::UInt, "attribute"),
                              PlyProperty(QMetaType::UChar, QMetaType::UInt, "vertex_in")}
        << QVector<int>{-1, -1, -1, -1, -1} << QVector<int>{0, 1, -1, -1, -1};
}

void TestPlySchema::propertyMaps()
{
    QFETCH(QList<PlyProperty>, properties);
    QFETCH(QVector<int>, vertexRoles);
    QFETCH(QVector<int>, faceRoles);

    QCOMPARE(PlyStream::vertexPropertyMap(properties), vertexRoles);
    QCOMPARE(PlyStream::facePropertyMap(properties), faceRoles);
}

void TestPlySchema::loadHeader_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QByteArray>("schema");
    QTest::addColumn<QByteArray>("comment");
    QTest::addColumn<QStringList>("messages");

    const QByteArray mesh = "element vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
                            "element face 1\nproperty list uchar int vertex_indices\n";
    const QByteArray meshSchema =
        "vertex 3: float x, float y, float z | face 1: list uchar int vertex_indices";

    QTest::newRow("mesh") << "ply\nformat binary_little_endian 1.0\ncomment made by hand\n" + mesh +
                                 "end_header\n\x01\x02"
                          << true << int(PlyStream::BinaryLittleEndian) << QByteArray("1.0") << meshSchema
                          << QByteArray("made by hand") << QStringList();
    QTest::newRow("CR LF lines")
        << QByteArray("ply\nformat ascii 1.0\r\ncomment a\r\nelement vertex 3\r\nproperty float x\r\n"
                      "end_header\r\n")
        << true << int(PlyStream::Ascii) << QByteArray("1.0") << QByteArray("vertex 3: float x")
        << QByteArray("a\r") << QStringList();
    QTest::newRow("comments joined, empty one kept")
        << QByteArray("ply\ncomment one\ncomment \ncomment three\nformat ascii 1.0\nend_header\n") << true
        << int(PlyStream::Ascii) << QByteArray("1.0") << QByteArray() << QByteArray("one\n\nthree")
        << QStringList();
    QTest::newRow("element without properties dropped")
        << QByteArray("ply\nformat ascii 1.0\nelement vertex 8\nelement face 12\n"
                      "property list uchar int vertex_indices\nend_header\n")
        << true << int(PlyStream::Ascii) << QByteArray("1.0")
        << QByteArray("face 12: list uchar int vertex_indices") << QByteArray() << QStringList();
    QTest::newRow("count 0 is valid")
        << QByteArray("ply\nformat ascii 1.0\nelement vertex 0\nproperty float x\nend_header\n") << true
        << int(PlyStream::Ascii) << QByteArray("1.0") << QByteArray("vertex 0: float x") << QByteArray()
        << QStringList();
    QTest::newRow("redefined element")
        << QByteArray("ply\nformat ascii 1.0\nelement a 1\nproperty int v\nelement a 2\nproperty int w\n"
                      "element b 1\nproperty int u\nend_header\n")
        << true << int(PlyStream::Ascii) << QByteArray("1.0")
        << QByteArray("a 1: int v | a 2: int w | b 1: int u") << QByteArray()
        << QStringList{"warning: PlyStream.loadHeader redefined element line 7: element b 1"};
    QTest::newRow("unknown lines")
        << QByteArray("ply\nformat ascii 1.0\nproperty float x\nobj_info made by hand\ncomment\n"
                      "element v 1\nproperty float x\nend_header\n")
        << true << int(PlyStream::Ascii) << QByteArray("1.0") << QByteArray("v 1: float x") << QByteArray()
        << QStringList{"warning: PlyStream.loadHeader unknown element line 3: property float x",
                       "warning: PlyStream.loadHeader unknown line 4: obj_info made by hand",
                       "warning: PlyStream.loadHeader unknown line 5: comment"};
    QTest::newRow("version 1.1")
        << QByteArray("ply\nformat ascii 1.1\nelement v 1\nproperty float x\nend_header\n") << true
        << int(PlyStream::Ascii) << QByteArray("1.1") << QByteArray("v 1: float x") << QByteArray()
        << QStringList{"warning: PlyStream.loadHeader unknown version line 2: format ascii 1.1"};
    QTest::newRow("ends without end_header")
        << QByteArray("ply\nformat binary_big_endian 1.0\nelement v 1\nproperty float x") << true
        << int(PlyStream::BinaryBigEndian) << QByteArray("1.0") << QByteArray("v 1: float x") << QByteArray()
        << QStringList();
    QTest::newRow("too short without end_header")
        << QByteArray("ply\nformat ascii 1.0\n") << false << int(PlyStream::Ascii) << QByteArray("1.0")
        << QByteArray() << QByteArray() << QStringList();
    QTest::newRow("wrong format line")
        << QByteArray("ply\nformat binary_middle_endian 1.0\n" + mesh + "end_header\n") << false
        << int(PlyStream::Ascii) << QByteArray("1.0") << QByteArray() << QByteArray()
        << QStringList{"critical: PlyStream.loadHeader invalid line 2: format binary_middle_endian 1.0"};
    QTest::newRow("format without version")
        << QByteArray("ply\nformat ascii\nend_header\n") << false << int(PlyStream::Ascii)
        << QByteArray("1.0") << QByteArray() << QByteArray()
        << QStringList{"critical: PlyStream.loadHeader invalid line 2: format ascii"};
    QTest::newRow("registry-only type")
        << QByteArray("ply\nformat ascii 1.0\nelement v 1\nproperty float x\nelement w 1\nproperty int64 n\n"
                      "end_header\n")
        << false << int(PlyStream::Ascii) << QByteArray("1.0") << QByteArray("v 1: float x") << QByteArray()
        << QStringList{"critical: PlyStream.loadHeader invalid line 6: property int64 n"};
    QTest::newRow("list line without name")
        << QByteArray("ply\nformat ascii 1.0\nelement face 1\nproperty list uchar int\nend_header\n") << false
        << int(PlyStream::Ascii) << QByteArray("1.0") << QByteArray() << QByteArray()
        << QStringList{"critical: PlyStream.loadHeader invalid line 4: property list uchar int"};
    QTest::newRow("negative count")
        << QByteArray("ply\nformat ascii 1.0\nelement vertex -3\nproperty float x\nend_header\n") << false
        << int(PlyStream::Ascii) << QByteArray("1.0") << QByteArray() << QByteArray()
        << QStringList{"critical: PlyStream.loadHeader invalid line 3: element vertex -3"};
    QTest::newRow("count above INT_MAX")
        << QByteArray("ply\nformat ascii 1.0\nelement vertex 3000000000\nproperty float x\nend_header\n")
        << false << int(PlyStream::Ascii) << QByteArray("1.0") << QByteArray() << QByteArray()
        << QStringList{"critical: PlyStream.loadHeader invalid line 3: element vertex 3000000000"};

    // A line longer than 4095 bytes is cut; its rest is read as the next line.
    const QByteArray longComment = "comment " + QByteArray(4087, 'c');
    QTest::newRow("long line") << QByteArray("ply\nformat ascii 1.0\n" + longComment + "tail\nend_header\n")
                               << true << int(PlyStream::Ascii) << QByteArray("1.0") << QByteArray()
                               << QByteArray(4087, 'c')
                               << QStringList{"warning: PlyStream.loadHeader unknown line 4: tail"};
}

void TestPlySchema::loadHeader()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, ok);
    QFETCH(int, format);
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, schema);
    QFETCH(QByteArray, comment);
    QFETCH(QStringList, messages);

    QBuffer buffer(&file);
    PlyStream stream(&buffer);
    MessageLog log;
    QCOMPARE(stream.loadHeader(), ok);
    QCOMPARE(log.messages(), messages);
    QCOMPARE(int(stream.format().type), format);
    QCOMPARE(stream.format().version, version);
    QCOMPARE(describe(stream.elements()), schema);
    QCOMPARE(stream.comment(), comment);
    QVERIFY(buffer.isOpen());
    if (ok) {
        // Later calls only answer.
        const qint64 pos = buffer.pos();
        QVERIFY(stream.loadHeader());
        QCOMPARE(buffer.pos(), pos);
    }
}

void TestPlySchema::notPly()
{
    for (const QByteArray &bytes : {QByteArray("ply\r\nformat ascii 1.0\r\nend_header\r\n"), QByteArray("pl"),
                                    QByteArray(), QByteArray("solid cube\n")}) {
        QByteArray file = bytes;
        QBuffer buffer(&file);
        PlyStream stream(&buffer);
        MessageLog log;
        QVERIFY(!stream.loadHeader());
        QVERIFY(log.messages().isEmpty());
        QCOMPARE(buffer.pos(), qint64(0));
        // The stream is untouched and can take another device.
        QByteArray good = "ply\nformat ascii 1.0\nelement v 1\nproperty float x\nend_header\n";
        QBuffer other(&good);
        stream.setDevice(&other);
        QVERIFY(stream.loadHeader());
    }
}

void TestPlySchema::saveHeaderComment_data()
{
    QTest::addColumn<QByteArray>("comment");
    QTest::addColumn<QByteArray>("lines");

    QTest::newRow("none") << QByteArray() << QByteArray();
    QTest::newRow("one line") << QByteArray("a") << QByteArray("comment a\n");
    QTest::newRow("final LF") << QByteArray("a\n") << QByteArray("comment a\n");
    QTest::newRow("empty line kept") << QByteArray("a\n\nb")
                                     << QByteArray("comment a\ncomment \ncomment b\n");
}

void TestPlySchema::saveHeaderComment()
{
    QFETCH(QByteArray, comment);
    QFETCH(QByteArray, lines);

    QByteArray file;
    QBuffer buffer(&file);
    PlyStream stream(&buffer);
    stream.setFormat(PlyStream::FormatSpec(PlyStream::BinaryBigEndian, "1.0"));
    stream.setComment(comment);
    stream.setElements({PlyElement("vertex", 0, PlyStream::defaultVertexElement.properties)});
    QVERIFY(stream.saveHeader());
    QVERIFY(buffer.isOpen() && buffer.isWritable());
    QCOMPARE(file,
             "ply\nformat binary_big_endian 1.0\n" + lines +
                 "element vertex 0\nproperty float x\nproperty float y\nproperty float z\nend_header\n");

    // Read back: the same schema (count 0 valid), format and comment without its final LF.
    buffer.close();
    PlyStream reader(&buffer);
    QVERIFY(reader.loadHeader());
    QCOMPARE(reader.elements(), stream.elements());
    QCOMPARE(reader.format(), stream.format());
    QCOMPARE(reader.comment(), comment.endsWith('\n') ? comment.chopped(1) : comment);
}

void TestPlySchema::saveHeaderInvalid_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QList<PlyElement>>("elements");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("message");

    const QList<PlyElement> good = {PlyStream::defaultVertexElement};
    QTest::newRow("format out of range") << 5 << QByteArray("1.0") << good << QByteArray()
                                         << "critical: PlyStream.saveHeader invalid line 0: format 5 1.0\n";
    QTest::newRow("no version") << int(PlyStream::Ascii) << QByteArray() << good << QByteArray()
                                << "critical: PlyStream.saveHeader invalid line 0: format ascii \n";
    QTest::newRow("negative count") << int(PlyStream::Ascii) << QByteArray("1.0")
                                    << QList<PlyElement>{PlyElement("vertex", -1)}
                                    << QByteArray("ply\nformat ascii 1.0\n")
                                    << "critical: PlyStream.saveHeader invalid line 2: element vertex -1\n";
    QTest::newRow("undefined property") << int(PlyStream::Ascii) << QByteArray("1.0")
                                        << QList<PlyElement>{PlyElement("v", 1, {PlyProperty(0, 0, "x")})}
                                        << QByteArray("ply\nformat ascii 1.0\nelement v 1\n")
                                        << "critical: PlyStream.saveHeader invalid line 3: property  x\n";
    QTest::newRow("type without coding")
        << int(PlyStream::Ascii) << QByteArray("1.0")
        << QList<PlyElement>{PlyElement("v", 1, {PlyProperty(0, QMetaType::LongLong, "x")})}
        << QByteArray("ply\nformat ascii 1.0\nelement v 1\n")
        << "critical: PlyStream.saveHeader invalid line 3: property  x\n";
}

void TestPlySchema::saveHeaderInvalid()
{
    QFETCH(int, format);
    QFETCH(QByteArray, version);
    QFETCH(QList<PlyElement>, elements);
    QFETCH(QByteArray, written);
    QFETCH(QString, message);

    QByteArray file;
    QBuffer buffer(&file);
    PlyStream stream(&buffer);
    stream.setFormat(PlyStream::FormatSpec(PlyStream::Format(format), version));
    stream.setElements(elements);
    MessageLog log;
    QVERIFY(!stream.saveHeader());
    QCOMPARE(log.messages(), QStringList{message});
    QCOMPARE(file, written);
}

void TestPlySchema::longNamesWrittenShort()
{
    QByteArray in =
        "ply\nformat ascii 1.0\nelement e 1\nproperty int8 a\nproperty uint8 b\nproperty int16 c\n"
        "property uint16 d\nproperty int32 e\nproperty uint32 f\nproperty float32 g\n"
        "property float64 h\nproperty list uint8 int32 i\nend_header\n";
    QBuffer inBuffer(&in);
    PlyStream reader(&inBuffer);
    QVERIFY(reader.processHeader());

    QByteArray out;
    QBuffer outBuffer(&out);
    PlyStream writer(&outBuffer);
    writer.setElements(reader.elements());
    QVERIFY(writer.processHeader());
    QCOMPARE(out, QByteArray("ply\nformat ascii 1.0\nelement e 1\nproperty char a\nproperty uchar b\n"
                             "property short c\nproperty ushort d\nproperty int e\nproperty uint f\n"
                             "property float g\nproperty double h\nproperty list uchar int i\nend_header\n"));
}

void TestPlySchema::processHeaderChooses()
{
    // Without elements it reads; with elements it writes; afterwards it only answers.
    QByteArray file = "ply\nformat ascii 1.0\nelement v 1\nproperty float x\nend_header\n1\n";
    QBuffer buffer(&file);
    PlyStream reader(&buffer);
    QVERIFY(reader.processHeader());
    QCOMPARE(reader.elements().size(), 1);
    QVERIFY(reader.processHeader());

    QBuffer empty;
    PlyStream noHeader(&empty);
    QVERIFY(!noHeader.processHeader()); // reading an empty device

    PlyStream noDevice;
    QVERIFY(!noDevice.processHeader());
}

QTEST_GUILESS_MAIN(TestPlySchema)
#include "tst_plyschema.moc"
