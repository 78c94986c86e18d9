#include "geom/formats/plystream.h"
#include "geom/formats/stlreader.h"
#include "geom/mesh/stlmesh.h"
#include "meshbuilders.h"
#include "meshcheck.h"
#include "plysupport.h"
#include "stltestdata.h"

#include <QBuffer>
#include <QFile>
#include <QMetaType>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtEndian>
#include <QtTest>

#include <memory>
#include <stdexcept>
#include <sys/resource.h>

using geom::IndexedFacet;
using geom::PlyElement;
using geom::PlyProperty;
using geom::PlyStream;
using geom::StlMesh;
using geom::Vector3f;
using plytest::MessageLog;
using stltest::asciiStl;
using stltest::binaryStl;

namespace {

const PlyStream::Format formats[] = {PlyStream::Ascii, PlyStream::BinaryLittleEndian,
                                     PlyStream::BinaryBigEndian};

const char *formatName(PlyStream::Format format)
{
    return PlyStream::formatNames.at(format).constData();
}

std::unique_ptr<StlMesh> readStl(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    geom::StlReader reader(&buffer);
    return std::unique_ptr<StlMesh>(reader.read());
}

// A copy of mesh whose facets carry the given 32-bit attribute words.
std::unique_ptr<StlMesh> withAttributes(const StlMesh &mesh, const QVector<quint32> &attributes)
{
    QVector<IndexedFacet> facets = mesh.indices();
    for (int i = 0; i < facets.size(); ++i)
        facets[i].attribute = attributes.value(i % attributes.size());
    auto result = std::make_unique<StlMesh>();
    result->setData(mesh.vertices(), facets);
    return result;
}

QByteArray saveToBytes(const StlMesh &mesh, PlyStream::Format format,
                       const QByteArray &comment = QByteArray())
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    PlyStream stream(&buffer);
    stream.setFormat(PlyStream::FormatSpec(format, "1.0"));
    stream.setComment(comment, true);
    if (!stream.saveMesh(&mesh))
        return QByteArray();
    return bytes;
}

bool loadFromBytes(QByteArray bytes, StlMesh &mesh, QByteArray *comment = nullptr)
{
    QBuffer buffer(&bytes);
    PlyStream stream(&buffer);
    const bool ok = stream.loadMesh(&mesh);
    if (comment)
        *comment = stream.comment(true);
    return ok;
}

QVector<QVector<int>> triples(const StlMesh &mesh)
{
    QVector<QVector<int>> result;
    for (const IndexedFacet &f : mesh.indices())
        result.append({f.a, f.b, f.c, int(f.attribute)});
    return result;
}

bool sameVertices(const QVector<Vector3f> &a, const QVector<Vector3f> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].z != b[i].z)
            return false;
    }
    return true;
}

bool sameFacets(const QVector<IndexedFacet> &a, const QVector<IndexedFacet> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].a != b[i].a || a[i].b != b[i].b || a[i].c != b[i].c || a[i].attribute != b[i].attribute)
            return false;
    }
    return true;
}

// A file of the given schema whose values are written by PlyStream's own value API, so that the
// same content can be had in every encoding.
QByteArray buildFile(PlyStream::Format format, const QList<PlyElement> &elements,
                     const QVector<double> &values)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    PlyStream stream(&buffer);
    stream.setFormat(PlyStream::FormatSpec(format, "1.0"));
    stream.setElements(elements);
    for (double v : values)
        stream.save(v);
    return stream.status() == QDataStream::Ok ? bytes : QByteArray();
}

// The values one after another in little-endian byte order.
template <typename T>
QByteArray littleEndian(std::initializer_list<T> values)
{
    QByteArray bytes;
    for (T v : values) {
        char raw[sizeof(T)];
        qToLittleEndian(v, raw);
        bytes.append(raw, int(sizeof(T)));
    }
    return bytes;
}

// Fails reads or writes past `limit` bytes by throwing, as a broken driver or allocator might.
class ExplodingDevice : public QIODevice
{
public:
    ExplodingDevice(const QByteArray &data, qint64 limit)
        : m_data(data)
        , m_limit(limit)
    {}
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_data.size(); }

protected:
    qint64 readData(char *out, qint64 max) override
    {
        const qint64 n = qMin(max, qint64(m_data.size()) - pos());
        if (pos() + n > m_limit)
            throw std::runtime_error("device exploded");
        memcpy(out, m_data.constData() + pos(), size_t(qMax<qint64>(n, 0)));
        return qMax<qint64>(n, 0);
    }
    qint64 writeData(const char *, qint64 n) override
    {
        m_written += n;
        if (m_written > m_limit)
            throw std::runtime_error("device exploded");
        return n;
    }

private:
    QByteArray m_data;
    qint64 m_limit;
    qint64 m_written = 0;
};

// Caps the address space for its lifetime, so that an allocation sized by a damaged count fails
// instead of passing unnoticed on an overcommitting system. Not under AddressSanitizer, which
// reserves far more address space for its shadow memory.
class AddressSpaceCap
{
public:
    explicit AddressSpaceCap(qint64 extraBytes)
    {
#if !defined(__SANITIZE_ADDRESS__)
        QFile status("/proc/self/status");
        if (!status.open(QIODevice::ReadOnly) || getrlimit(RLIMIT_AS, &m_old) != 0)
            return;
        const QRegularExpression vmSize("VmSize:\\s+(\\d+) kB");
        const QRegularExpressionMatch match = vmSize.match(QString::fromLatin1(status.readAll()));
        if (!match.hasMatch())
            return;
        rlimit capped = m_old;
        capped.rlim_cur = rlim_t(match.captured(1).toLongLong() * 1024 + extraBytes);
        if (m_old.rlim_cur != RLIM_INFINITY && m_old.rlim_cur < capped.rlim_cur)
            return;
        m_active = setrlimit(RLIMIT_AS, &capped) == 0;
#else
        Q_UNUSED(extraBytes);
#endif
    }
    ~AddressSpaceCap()
    {
        if (m_active)
            setrlimit(RLIMIT_AS, &m_old);
    }

private:
    rlimit m_old{};
    bool m_active = false;
};

QString assimpProgram()
{
    return QStandardPaths::findExecutable("assimp");
}

// Runs assimp with the arguments; its standard output, or a null string when it failed.
QString runAssimp(const QStringList &arguments)
{
    QProcess process;
    process.start(assimpProgram(), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QString();
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

int assimpFigure(const QString &info, const char *label)
{
    const QRegularExpression re(QLatin1String("\\n") + QLatin1String(label) + QLatin1String(":\\s+(\\d+)"));
    const QRegularExpressionMatch match = re.match(info);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// The unit cube as an OBJ file of six quads, outward winding.
QByteArray cubeObj()
{
    return "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
           "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n";
}

} // namespace

class TestPlyMesh : public QObject
{
    Q_OBJECT

private slots:
    void saveSmallMesh();
    void schemaTypes_data();
    void schemaTypes();
    void wideIndices();
    void roundTrip_data();
    void roundTrip();
    void triangulation_data();
    void triangulation();
    void foreignProperties_data();
    void foreignProperties();
    void damagedFiles_data();
    void damagedFiles();
    void binaryPrefixesFail_data();
    void binaryPrefixesFail();
    void unreadableHeaderClearsMesh();
    void secondCall();
    void exceptionInTask();
    void progressWhileSaving();
    void assimpReadsOurFiles();
    void weReadAssimpFiles_data();
    void weReadAssimpFiles();
};

void TestPlyMesh::saveSmallMesh()
{
    StlMesh mesh;
    mesh.setData({Vector3f(0, 0, 0), Vector3f(0, 1, 0), Vector3f(1, 0, 0)}, {IndexedFacet{0, 1, 2, 0}});
    QCOMPARE(saveToBytes(mesh, PlyStream::Ascii),
             QByteArray("ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                        "property float z\nelement face 1\nproperty list uchar ushort vertex_indices\n"
                        "end_header\n0 0 0\n0 1 0\n1 0 0\n3 0 1 2\n"));
    QVERIFY(!PlyStream(nullptr).saveMesh(nullptr));
    QVERIFY(!PlyStream(nullptr).loadMesh(nullptr));
}

void TestPlyMesh::schemaTypes_data()
{
    QTest::addColumn<QVector<quint32>>("attributes");
    QTest::addColumn<QByteArray>("faceSchema");

    QTest::newRow("no attributes") << QVector<quint32>{0} << QByteArray("list uchar ushort vertex_indices");
    QTest::newRow("16-bit attributes")
        << QVector<quint32>{0, 5, 0} << QByteArray("list uchar ushort vertex_indices, ushort attribute");
    QTest::newRow("wider attribute") << QVector<quint32>{0, 5, 70000}
                                     << QByteArray("list uchar ushort vertex_indices, uint attribute");
}

void TestPlyMesh::schemaTypes()
{
    QFETCH(QVector<quint32>, attributes);
    QFETCH(QByteArray, faceSchema);

    std::unique_ptr<StlMesh> cube(meshtest::meshFrom(meshtest::unitCube()));
    std::unique_ptr<StlMesh> mesh = withAttributes(*cube, attributes);
    QBuffer buffer;
    PlyStream stream(&buffer);
    QVERIFY(stream.saveMesh(mesh.get()));
    QCOMPARE(plytest::describe(stream.elements()),
             "vertex 8: float x, float y, float z | face 12: " + faceSchema);
}

void TestPlyMesh::wideIndices()
{
    std::unique_ptr<StlMesh> mesh(meshtest::meshFrom(meshtest::sheet(256, 256)));
    QCOMPARE(mesh->vertices().size(), 257 * 257);
    const QByteArray bytes = saveToBytes(*mesh, PlyStream::BinaryLittleEndian);
    QVERIFY(bytes.contains("\nproperty list uchar uint vertex_indices\n"));
    StlMesh loaded;
    QVERIFY(loadFromBytes(bytes, loaded));
    QVERIFY(sameVertices(loaded.vertices(), mesh->vertices()));
    QVERIFY(sameFacets(loaded.indices(), mesh->indices()));
}

void TestPlyMesh::roundTrip_data()
{
    QTest::addColumn<QByteArray>("stl");
    QTest::addColumn<QVector<quint32>>("attributes");
    QTest::addColumn<int>("format");

    const QVector<quint16> words = {0, 1, 2, 3, 0, 0xFFFF, 7, 8, 9, 10, 11, 12};
    const QByteArray binary = binaryStl(meshtest::unitCube(), words);
    const QByteArray ascii = asciiStl(meshtest::Torus(200).facets());
    const QByteArray empty; // stands for a mesh without facets
    for (PlyStream::Format format : formats) {
        QTest::addRow("binary STL with attribute words, %s", formatName(format))
            << binary << QVector<quint32>() << int(format);
        QTest::addRow("ASCII STL torus, %s", formatName(format))
            << ascii << QVector<quint32>() << int(format);
        QTest::addRow("attributes above 16 bits, %s", formatName(format))
            << binary << QVector<quint32>{0x12345, 0, 0x7FFFFFFF} << int(format);
        QTest::addRow("empty mesh, %s", formatName(format)) << empty << QVector<quint32>() << int(format);
    }
}

void TestPlyMesh::roundTrip()
{
    QFETCH(QByteArray, stl);
    QFETCH(QVector<quint32>, attributes);
    QFETCH(int, format);

    std::unique_ptr<StlMesh> source = stl.isEmpty() ? std::make_unique<StlMesh>() : readStl(stl);
    QVERIFY(source);
    if (!attributes.isEmpty())
        source = withAttributes(*source, attributes);
    QUARN_CHECK_MESH(*source);

    const QByteArray comment = "from part.stl\nquality 100% \xe9t\xe9";
    const QByteArray bytes = saveToBytes(*source, PlyStream::Format(format), comment);
    QVERIFY(!bytes.isEmpty());
    StlMesh loaded;
    QByteArray loadedComment;
    MessageLog log;
    QVERIFY(loadFromBytes(bytes, loaded, &loadedComment));
    QVERIFY2(log.messages().isEmpty(), qPrintable(log.messages().join('\n')));
    QUARN_CHECK_MESH(loaded);
    QVERIFY(sameVertices(loaded.vertices(), source->vertices()));
    QVERIFY(sameFacets(loaded.indices(), source->indices()));
    QCOMPARE(loaded.area(), source->area());
    QCOMPARE(loaded.volume(), source->volume());
    QCOMPARE(loadedComment, comment);
}

void TestPlyMesh::triangulation_data()
{
    QTest::addColumn<QByteArray>("faces");
    QTest::addColumn<QVector<QVector<int>>>("expected");
    QTest::addColumn<int>("warnings");

    QTest::newRow("quad") << QByteArray("4 0 1 2 3\n") << QVector<QVector<int>>{{0, 1, 3, 0}, {1, 2, 3, 0}}
                          << 1;
    QTest::newRow("pentagon") << QByteArray("5 0 1 2 3 4\n")
                              << QVector<QVector<int>>{{0, 1, 4, 0}, {1, 2, 3, 0}, {1, 3, 4, 0}} << 1;
    QTest::newRow("hexagon") << QByteArray("6 0 1 2 3 4 5\n")
                             << QVector<QVector<int>>{{0, 1, 5, 0}, {1, 2, 4, 0}, {1, 4, 5, 0}, {2, 3, 4, 0}}
                             << 1;
    QTest::newRow("two pentagons warn once")
        << QByteArray("5 0 1 2 3 4\n5 5 4 3 2 1\n")
        << QVector<QVector<int>>{{0, 1, 4, 0}, {1, 2, 3, 0}, {1, 3, 4, 0},
                                 {1, 4, 2, 0}, {1, 5, 4, 0}, {2, 4, 3, 0}}
        << 1;
    QTest::newRow("too few corners") << QByteArray("2 0 1\n0\n3 0 1 2\n")
                                     << QVector<QVector<int>>{{0, 1, 2, 0}} << 0;
}

void TestPlyMesh::triangulation()
{
    QFETCH(QByteArray, faces);
    QFETCH(QVector<QVector<int>>, expected);
    QFETCH(int, warnings);

    // Vertices ascending in z, so that their positions survive the mesh's ordering.
    QByteArray file = plytest::header("ascii", "element vertex 6\nproperty float x\nproperty float y\n"
                                               "property float z\nelement face " +
                                                   QByteArray::number(faces.count('\n')) +
                                                   "\nproperty list uchar int vertex_indices\n") +
                      "0 0 0\n1 0 1\n1 1 2\n0 1 3\n-1 1 4\n-1 0 5\n" + faces;
    StlMesh mesh;
    MessageLog log;
    QVERIFY(loadFromBytes(file, mesh));
    QCOMPARE(triples(mesh), expected);
    QCOMPARE(log.messages().count(
                 "warning: PlyStream.loadMesh faces with more than 3 vertices are assumed to be convex"),
             warnings);
    QCOMPARE(log.messages().size(), warnings);
}

void TestPlyMesh::foreignProperties_data()
{
    QTest::addColumn<int>("format");
    for (PlyStream::Format format : formats)
        QTest::newRow(formatName(format)) << int(format);
}

void TestPlyMesh::foreignProperties()
{
    QFETCH(int, format);

    // Extra vertex scalars and lists, a corner list under another "vertex_ind" name, a uchar
    // attribute, extra face values and a trailing element of lists are all read over.
    const QList<PlyElement> elements = {
        PlyElement("vertex", 3,
                   {PlyProperty(0, QMetaType::Double, "z"), PlyProperty(0, QMetaType::Float, "nx"),
                    PlyProperty(QMetaType::UChar, QMetaType::Float, "tex"),
                    PlyProperty(0, QMetaType::Float, "x"), PlyProperty(0, QMetaType::Short, "y")}),
        PlyElement("face", 1,
                   {PlyProperty(0, QMetaType::Float, "quality"),
                    PlyProperty(QMetaType::Int, QMetaType::Int, "vertex_index"),
                    PlyProperty(0, QMetaType::UChar, "attribute"),
                    PlyProperty(QMetaType::UShort, QMetaType::Char, "rgb")}),
        PlyElement(
            "edge", 2,
            {PlyProperty(QMetaType::UChar, QMetaType::Int, "ends"), PlyProperty(0, QMetaType::Int, "w")}),
    };
    const QVector<double> values = {
        0.5,  9, 2, 1, 2, 1, 2, // vertex 0: z, nx, tex [1 2], x, y
        1.5,  9, 0, 4, 5,       // vertex 1
        2.5,  9, 1, 7, 6, 7,    // vertex 2
        0.25, 3, 0, 1, 2, 7, 3, 1, 2, 3, 2, 0, 1, 5, 0, 6,
    };
    const QByteArray bytes = buildFile(PlyStream::Format(format), elements, values);
    QVERIFY(!bytes.isEmpty());
    StlMesh mesh;
    QVERIFY(loadFromBytes(bytes, mesh));
    QUARN_CHECK_MESH(mesh);
    QVERIFY(
        sameVertices(mesh.vertices(), {Vector3f(1, 2, 0.5f), Vector3f(4, 5, 1.5f), Vector3f(6, 7, 2.5f)}));
    QCOMPARE(triples(mesh), QVector<QVector<int>>({{0, 1, 2, 7}}));

    // A scalar named vertex_indices is not a corner list: no facets.
    QByteArray scalar =
        plytest::header("ascii", "element vertex 3\nproperty float x\nproperty float y\n"
                                 "property float z\nelement face 1\nproperty int vertex_indices\n") +
        "0 0 0\n1 0 0\n0 1 0\n3\n";
    StlMesh none;
    QVERIFY(loadFromBytes(scalar, none));
    QCOMPARE(none.indices().size(), 0);

    // A further face element without a corner list gives no facets, not the last face again.
    QByteArray twoFaceElements =
        plytest::header("ascii", "element vertex 3\nproperty float x\nproperty float y\n"
                                 "property float z\nelement face 1\nproperty list uchar int vertex_indices\n"
                                 "element face 2\nproperty uchar attribute\n") +
        "0 0 0\n1 0 1\n0 1 2\n3 0 1 2\n5\n6\n"; // z ascending: indices stay
    StlMesh one;
    QVERIFY(loadFromBytes(twoFaceElements, one));
    QCOMPARE(triples(one), QVector<QVector<int>>({{0, 1, 2, 0}}));
}

void TestPlyMesh::damagedFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("facets");
    QTest::addColumn<QString>("message");

    const QByteArray vertexSchema =
        "element vertex 3\nproperty float x\nproperty float y\nproperty float z\n";
    const QByteArray le = "binary_little_endian";
    const auto leFloats = littleEndian<float>;
    const auto leUints = littleEndian<quint32>;
    const QByteArray leVertices = leFloats({0, 0, 0, 1, 0, 0, 0, 1, 0});
    const QByteArray asciiVertices = "0 0 0\n1 0 0\n0 1 0\n";
    const QByteArray uintFaces = "property list uint uint vertex_indices\n";

    QTest::newRow("huge list length, binary")
        << plytest::header(le, vertexSchema + "element face 2\n" + uintFaces) + leVertices +
               leUints({3, 0, 1, 2, 0x7FFFFFFF, 0, 1, 2})
        << false << 1 << "PlyStream.load list length 2147483647 exceeds the data left";
    QTest::newRow("huge list length, ascii")
        << plytest::header("ascii", vertexSchema + "element face 2\n" + uintFaces) + asciiVertices +
               "3 0 1 2\n4000000000 0 1 2\n"
        << false << 1 << "PlyStream.load invalid list length -294967296";
    QTest::newRow("huge vertex count")
        << plytest::header(le,
                           "element vertex 2000000000\nproperty float x\nproperty float y\nproperty float z\n"
                           "element face 1\n" +
                               uintFaces) +
               leVertices
        << false << 0 << QString();
    QTest::newRow("huge face count, binary")
        << plytest::header(le, vertexSchema + "element face 2000000000\n" + uintFaces) + leVertices +
               leUints({3, 0, 1, 2})
        << false << 1 << QString();
    QTest::newRow("huge face count, ascii")
        << plytest::header("ascii", vertexSchema + "element face 2000000000\n" + uintFaces) + asciiVertices +
               "3 0 1 2\n"
        << false << 1 << QString();
    QTest::newRow("count-0 elements")
        << plytest::header(le, "element vertex 0\nproperty float x\nelement face 0\n" + uintFaces) << true
        << 0 << QString();
    QTest::newRow("count-0 elements, ascii")
        << plytest::header("ascii", "element edge 0\nproperty int w\nelement vertex 0\nproperty float x\n"
                                    "element face 0\n" +
                                        uintFaces)
        << true << 0 << QString();
    QTest::newRow("count-0 element between")
        << plytest::header("ascii", vertexSchema +
                                        "element edge 0\nproperty list uchar int e\nelement face 1\n" +
                                        uintFaces) +
               asciiVertices + "3 0 1 2\n"
        << true << 1 << QString();
    QTest::newRow("cut inside face data, binary")
        << plytest::header(le, vertexSchema + "element face 2\n" + uintFaces) + leVertices +
               leUints({3, 0, 1, 2, 3, 2}).chopped(2)
        << false << 1 << QString();
    QTest::newRow("cut inside face data, ascii")
        << plytest::header("ascii", vertexSchema + "element face 2\n" + uintFaces) + asciiVertices +
               "3 0 1 2\n3 2 1"
        << false << 1 << QString();
    QTest::newRow("cut inside vertex data")
        << plytest::header(le, vertexSchema + "element face 1\n" + uintFaces) + leVertices.left(17) << false
        << 0 << QString();
    QByteArray junk;
    for (int i = 0; i < 65536; ++i)
        junk += char((i * 131 + 7) % 251);
    QTest::newRow("header that never ends")
        << "ply\nformat binary_little_endian 1.0\n" + vertexSchema + "element face 1\n" + uintFaces + junk
        << false << 0 << QString();
    QTest::newRow("header of one line") << QByteArray("ply\n") << false << 0 << QString();
    QTest::newRow("wrong format line")
        << "ply\nformat binary_little 1.0\n" + vertexSchema + "end_header\n" + leVertices << false << 0
        << "PlyStream.loadHeader invalid line 2: format binary_little 1.0";
    QTest::newRow("corrupt ascii number")
        << plytest::header("ascii", vertexSchema + "element face 1\n" + uintFaces) +
               "0 0 0\n1 0 0\n0 1 zero\n3 0 1 2\n"
        << false << 0 << QString();
}

void TestPlyMesh::damagedFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(int, facets);
    QFETCH(QString, message);

    StlMesh mesh;
    MessageLog log;
    {
        AddressSpaceCap cap(qint64(1) << 30);
        QCOMPARE(loadFromBytes(bytes, mesh), ok);
    }
    QCOMPARE(mesh.indices().size(), facets);
    QUARN_CHECK_MESH(mesh);
    QVERIFY2(!log.contains("PlyStream: "), qPrintable(log.messages().join('\n')));
    if (!message.isEmpty())
        QVERIFY2(log.contains(message), qPrintable(log.messages().join('\n')));
}

void TestPlyMesh::binaryPrefixesFail_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("facets");

    const std::unique_ptr<StlMesh> tetrahedron(meshtest::meshFrom(meshtest::tetrahedron()));
    const std::unique_ptr<StlMesh> withWords = withAttributes(*tetrahedron, {1, 0, 70000, 2});
    // The faces are followed by an element that the mesh reads over, so that a cut behind the
    // last facet still falls inside the file's data.
    const QList<PlyElement> trailing = {
        PlyElement("vertex", 3,
                   {PlyProperty(0, QMetaType::Float, "x"), PlyProperty(0, QMetaType::Float, "y"),
                    PlyProperty(0, QMetaType::Float, "z")}),
        PlyElement("face", 1, {PlyProperty(QMetaType::UChar, QMetaType::Int, "vertex_indices")}),
        PlyElement("edge", 2, {PlyProperty(QMetaType::UChar, QMetaType::Int, "ends")}),
    };
    const QVector<double> values = {0, 0, 0, 1, 0, 0, 0, 1, 0, 3, 0, 1, 2, 2, 0, 1, 2, 1, 2};
    for (PlyStream::Format format : {PlyStream::BinaryLittleEndian, PlyStream::BinaryBigEndian}) {
        QTest::addRow("mesh with attributes, %s", formatName(format)) << saveToBytes(*withWords, format) << 4;
        QTest::addRow("element behind the faces, %s", formatName(format))
            << buildFile(format, trailing, values) << 1;
    }
}

// A binary file holds exactly the bytes its header counts, so every proper prefix is damaged: the
// load must fail, whatever of the mesh it read before the cut, and leave a sound mesh. Both roads
// are taken: the mesh load alone, and the header first, as the window reads a file.
void TestPlyMesh::binaryPrefixesFail()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, facets);

    QVERIFY(!bytes.isEmpty());
    StlMesh whole;
    QVERIFY(loadFromBytes(bytes, whole));
    QCOMPARE(whole.indices().size(), facets);

    MessageLog log;
    for (int n = 0; n < bytes.size(); ++n) {
        QByteArray prefix = bytes.left(n);
        const QString where = QString("prefix of %1 bytes").arg(n);
        StlMesh mesh;
        QVERIFY2(!loadFromBytes(prefix, mesh), qPrintable(where));
        QVERIFY(mesh.indices().size() <= facets);
        QUARN_CHECK_MESH(mesh);

        QBuffer buffer(&prefix);
        PlyStream stream(&buffer);
        StlMesh headerFirst;
        QVERIFY2(!(stream.processHeader() && stream.loadMesh(&headerFirst)), qPrintable(where));
        QUARN_CHECK_MESH(headerFirst);
    }
    QVERIFY2(!log.contains("PlyStream: "), qPrintable(log.messages().join('\n')));
}

void TestPlyMesh::unreadableHeaderClearsMesh()
{
    std::unique_ptr<StlMesh> mesh(meshtest::meshFrom(meshtest::unitCube()));
    QVERIFY(!loadFromBytes("solid cube\nendsolid cube\n", *mesh));
    QCOMPARE(mesh->vertices().size(), 0);
    QCOMPARE(mesh->indices().size(), 0);
}

void TestPlyMesh::secondCall()
{
    std::unique_ptr<StlMesh> cube(meshtest::meshFrom(meshtest::unitCube()));
    const QByteArray once = saveToBytes(*cube, PlyStream::BinaryBigEndian);

    // Saving twice, or after a header written by hand, leaves one complete file.
    QByteArray twice;
    QBuffer buffer(&twice);
    PlyStream writer(&buffer);
    writer.setFormat(PlyStream::FormatSpec(PlyStream::BinaryBigEndian, "1.0"));
    writer.setElements({PlyStream::defaultVertexElement, PlyStream::defaultFaceElement});
    QVERIFY(writer.processHeader());
    QVERIFY(writer.saveMesh(cube.get()));
    QVERIFY(writer.saveMesh(cube.get()));
    QCOMPARE(twice, once);

    // Loading twice reads the file again from its start; the comment is not doubled.
    QByteArray bytes = saveToBytes(*cube, PlyStream::Ascii, "note");
    QBuffer in(&bytes);
    PlyStream reader(&in);
    QVERIFY(reader.processHeader());
    StlMesh first, second;
    QVERIFY(reader.loadMesh(&first));
    QVERIFY(reader.loadMesh(&second));
    QVERIFY(sameFacets(first.indices(), cube->indices()));
    QVERIFY(sameFacets(second.indices(), cube->indices()));
    QCOMPARE(reader.comment(), QByteArray("note"));
}

void TestPlyMesh::exceptionInTask()
{
    std::unique_ptr<StlMesh> cube(meshtest::meshFrom(meshtest::unitCube()));
    const QByteArray bytes = saveToBytes(*cube, PlyStream::Ascii);

    MessageLog log;
    ExplodingDevice input(bytes, bytes.indexOf("end_header") + 20);
    QVERIFY(input.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    PlyStream reader(&input);
    StlMesh mesh;
    QFuture<bool> loading = QtConcurrent::run(&reader, &PlyStream::loadMesh, &mesh);
    QCOMPARE(loading.result(), false);
    QCOMPARE(log.messages(), QStringList{"critical: PlyStream: device exploded"});
    QVERIFY(reader.status() != QDataStream::Ok);

    log.clear();
    ExplodingDevice output(QByteArray(), 200);
    QVERIFY(output.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    PlyStream writer(&output);
    QFuture<bool> saving =
        QtConcurrent::run(&writer, &PlyStream::saveMesh, static_cast<const StlMesh *>(cube.get()));
    QCOMPARE(saving.result(), false);
    QCOMPARE(log.messages(), QStringList{"critical: PlyStream: device exploded"});
}

void TestPlyMesh::progressWhileSaving()
{
    std::unique_ptr<StlMesh> mesh(meshtest::meshFrom(meshtest::Torus(20000).facets()));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    PlyStream writer(&buffer);
    writer.setFormat(PlyStream::FormatSpec(PlyStream::Ascii, "1.0"));
    QFuture<bool> saving =
        QtConcurrent::run(&writer, &PlyStream::saveMesh, static_cast<const StlMesh *>(mesh.get()));
    QVERIFY(plytest::progressRisesSteadily(writer, [&saving] { return saving.isFinished(); }));
    QVERIFY(saving.result());
    QCOMPARE(writer.progress(), 1.0f);
}

void TestPlyMesh::assimpReadsOurFiles()
{
    if (assimpProgram().isEmpty())
        QSKIP("assimp is not installed (Debian package assimp-utils)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    std::unique_ptr<StlMesh> torus(meshtest::meshFrom(meshtest::Torus(400).facets()));
    std::unique_ptr<StlMesh> mesh = withAttributes(*torus, {0, 3, 70000});
    for (PlyStream::Format format : formats) {
        const QString path = dir.filePath(QStringLiteral("torus-%1.ply").arg(formatName(format)));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        PlyStream stream(&file);
        stream.setFormat(PlyStream::FormatSpec(format, "1.0"));
        QVERIFY(stream.saveMesh(mesh.get()));
        file.close();

        const QString info = runAssimp({"info", path});
        QVERIFY2(!info.isEmpty(), formatName(format));
        QCOMPARE(assimpFigure(info, "Vertices"), mesh->vertices().size());
        QCOMPARE(assimpFigure(info, "Faces"), mesh->indices().size());
    }
}

void TestPlyMesh::weReadAssimpFiles_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("exporter");
    QTest::addColumn<int>("warnings");

    for (const char *exporter : {"ply", "plyb"}) {
        QTest::addRow("STL, %s", exporter) << "cube.stl" << asciiStl(meshtest::unitCube()) << exporter << 0;
        QTest::addRow("OBJ quads, %s", exporter) << "cube.obj" << cubeObj() << exporter << 1;
    }
}

void TestPlyMesh::weReadAssimpFiles()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, content);
    QFETCH(QString, exporter);
    QFETCH(int, warnings);

    if (assimpProgram().isEmpty())
        QSKIP("assimp is not installed (Debian package assimp-utils)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile in(dir.filePath(source));
    QVERIFY(in.open(QIODevice::WriteOnly));
    in.write(content);
    in.close();
    const QString target = dir.filePath("out.ply");
    QVERIFY(!runAssimp({"export", in.fileName(), target, "-f" + exporter}).isNull());

    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    PlyStream stream(&file);
    QVERIFY(stream.processHeader());
    const int fileVertices = PlyStream::elementByName(stream.elements(), "vertex").count;
    StlMesh mesh;
    MessageLog log;
    QVERIFY(stream.loadMesh(&mesh));
    QCOMPARE(log.messages().size(), warnings);
    QUARN_CHECK_MESH(mesh, meshtest::AllowEqualVertices);
    QCOMPARE(mesh.indices().size(), 12);
    QCOMPARE(mesh.vertices().size(), fileVertices);
    QCOMPARE(mesh.bounds().min().x, 0.0f);
    QCOMPARE(mesh.bounds().min().y, 0.0f);
    QCOMPARE(mesh.bounds().min().z, 0.0f);
    QCOMPARE(mesh.bounds().max().x, 1.0f);
    QCOMPARE(mesh.bounds().max().y, 1.0f);
    QCOMPARE(mesh.bounds().max().z, 1.0f);
    QVERIFY(qAbs(mesh.area() - 6.0) < 1e-5);
    QVERIFY(qAbs(mesh.volume() - 1.0) < 1e-5);
}

QTEST_GUILESS_MAIN(TestPlyMesh)
#include "tst_plymesh.moc"
