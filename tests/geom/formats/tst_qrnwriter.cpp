#include "geom/formats/qrnwriter.h"

#include "crypto/qryptocipher.h"
#include "geom/core/utiltx.h"
#include "geom/formats/qrnreader.h"
#include "geom/formats/stlreader.h"
#include "geom/mesh/stlmesh.h"
#include "io/gzipfile.h"
#include "meshbuilders.h"
#include "meshcheck.h"
#include "qrntestsupport.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <tuple>

using geom::IndexedFacet;
using geom::QrnReader;
using geom::QrnWriter;
using geom::StlMesh;
using geom::Vector3f;

// note: a test-only allocation limit, to fail the stripping as exhausted memory would. While it is
// set, every request of at least that many bytes through operator new fails; everything else goes
// to malloc as usual. Qt's containers allocate through malloc and are not affected; the
// stripping's index list is a std::vector.
static std::atomic<std::size_t> allocationLimit{0};

static void *allocate(std::size_t n)
{
    const std::size_t limit = allocationLimit.load(std::memory_order_relaxed);
    if (limit != 0 && n >= limit)
        throw std::bad_alloc();
    if (void *p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}

static void *allocateOrNull(std::size_t n) noexcept
{
    try {
        return allocate(n);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

void *operator new(std::size_t n)
{
    return allocate(n);
}
void *operator new[](std::size_t n)
{
    return allocate(n);
}
void *operator new(std::size_t n, const std::nothrow_t &) noexcept
{
    return allocateOrNull(n);
}
void *operator new[](std::size_t n, const std::nothrow_t &) noexcept
{
    return allocateOrNull(n);
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete[](void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept
{
    std::free(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept
{
    std::free(p);
}

namespace {

// Sets the allocation limit for one scope.
struct AllocationLimit
{
    explicit AllocationLimit(std::size_t bytes) { allocationLimit = bytes; }
    ~AllocationLimit() { allocationLimit = 0; }
};

// The environment variable that tells a child run which test function it serves.
const char ChildVariable[] = "QUARN_QRNWRITER_CHILD";

bool isChild(const char *function)
{
    return qgetenv(ChildVariable) == function;
}

// Runs one test function of this program again in a child process with the extra environment,
// so that a process-wide condition (a cipher provider that cannot load, a diagnostic that throws)
// stays there. Returns the child's output when it failed, else an empty string.
QString failureInChild(const char *function, const QStringList &environment)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(ChildVariable, function);
    for (const QString &entry : environment)
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(function)});
    if (!child.waitForFinished(120000))
        return QStringLiteral("the child run did not finish");
    if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
        return QString();
    return QString::fromLocal8Bit(child.readAll());
}

// The parts of a written file, taken apart by hand.
struct Parsed
{
    QByteArray magic;
    qint32 version = -1;
    QByteArray text;
    quint16 cipherNid = 0xffff;
    quint16 cipherFlags = 0;
    quint16 digestNid = 0;
    qint64 salt = 0;
    quint16 iterations = 0;
    QByteArray enciphered;
    QVector<Vector3f> vertices;
    QByteArray vertexBlock;  // bytes from the cipher NID to the end of the vertex block
    QByteArray stripSection; // bytes from the flags word to the end
    quint16 flags = 0;
    // Facets rebuilt from strips and groups: (a, b, c) rotated smallest-first, attribute.
    QVector<IndexedFacet> facets;
    int strips = 0;
    int groups = 0;
    bool complete = false;
};

IndexedFacet canonical(qint32 a, qint32 b, qint32 c, quint32 attribute)
{
    geom::rotateSmallestFirst(a, b, c);
    return meshtest::indexedFacet(a, b, c, attribute);
}

bool facetOrder(const IndexedFacet &f, const IndexedFacet &g)
{
    return std::tie(f.a, f.b, f.c, f.attribute) < std::tie(g.a, g.b, g.c, g.attribute);
}

bool sameFacets(QVector<IndexedFacet> a, QVector<IndexedFacet> b)
{
    std::sort(a.begin(), a.end(), facetOrder);
    std::sort(b.begin(), b.end(), facetOrder);
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](const auto &f, const auto &g) { return !facetOrder(f, g) && !facetOrder(g, f); });
}

Parsed parse(const QByteArray &bytes)
{
    Parsed p;
    QDataStream s(bytes);
    s.setByteOrder(QDataStream::LittleEndian);
    s.setFloatingPointPrecision(QDataStream::SinglePrecision);
    p.magic = bytes.left(4);
    s.skipRawData(4);
    s >> p.version;
    p.text = bytes.mid(8, 80);
    s.skipRawData(80);
    const int blockStart = 88;
    s >> p.cipherNid;
    if (p.cipherNid != 0) {
        s >> p.cipherFlags >> p.digestNid;
        if (p.cipherFlags & 1)
            s >> p.salt;
        if (p.cipherFlags & 2)
            s >> p.iterations;
        s >> p.enciphered;
    } else {
        qint32 n = 0;
        s >> n;
        for (int i = 0; i < n && s.status() == QDataStream::Ok; ++i) {
            Vector3f v;
            s >> v.x >> v.y >> v.z;
            p.vertices << v;
        }
    }
    const int stripStart = int(s.device()->pos());
    p.vertexBlock = bytes.mid(blockStart, stripStart - blockStart);
    p.stripSection = bytes.mid(stripStart);
    s >> p.flags;
    const bool wide = (p.flags & 7) == 3 || (p.flags & 7) > 4;
    auto attribute = [&]() {
        if (wide) {
            quint32 a;
            s >> a;
            return a;
        }
        quint16 a;
        s >> a;
        return quint32(a);
    };
    qint32 strips = 0;
    s >> strips;
    p.strips = strips;
    for (int i = 0; i < strips && s.status() == QDataStream::Ok; ++i) {
        qint32 length, x, y;
        s >> length >> x >> y;
        for (int k = 2; k < length; ++k) {
            qint32 z;
            s >> z;
            const quint32 attr = attribute();
            // (x, y) is the edge the next element closes: (s[k-2], s[k-1]) for even k and
            // (s[k-1], s[k-2]) for odd k.
            p.facets << canonical(x, y, z, attr);
            (k % 2 == 0 ? x : y) = z;
        }
    }
    qint32 groups = 0;
    s >> groups;
    p.groups = groups;
    for (int i = 0; i < groups && s.status() == QDataStream::Ok; ++i) {
        quint32 n;
        s >> n;
        for (quint32 j = 0; j < n / 3; ++j) {
            qint32 a, b, c;
            s >> a >> b >> c;
            p.facets << canonical(a, b, c, attribute());
        }
    }
    p.complete = s.status() == QDataStream::Ok && s.atEnd();
    return p;
}

QByteArray writeToBuffer(QrnWriter &writer, const StlMesh *mesh, int *result)
{
    *result = writer.write(mesh);
    return static_cast<QBuffer *>(writer.parent())->data();
}

StlMesh *cubeWithAttributes()
{
    QVector<quint16> attributes;
    for (int i = 0; i < 12; ++i)
        attributes << quint16(0x100 * i + 3);
    return meshtest::meshFrom(meshtest::unitCube(), attributes);
}

// A binary STL file of the facets with the given header text and attribute words.
QByteArray binaryStl(const QVector<geom::Facet> &facets, const QByteArray &header, quint16 attributeBase)
{
    QByteArray out = header.left(80);
    out.append(QByteArray(80 - out.size(), ' '));
    QDataStream s(&out, QIODevice::Append);
    s.setByteOrder(QDataStream::LittleEndian);
    s.setFloatingPointPrecision(QDataStream::SinglePrecision);
    s << quint32(facets.size());
    quint16 attribute = attributeBase;
    for (const geom::Facet &f : facets) {
        const float *v = reinterpret_cast<const float *>(&f);
        for (int i = 0; i < 12; ++i)
            s << v[i];
        s << attribute;
        attribute = quint16(attribute * 31 + 7);
    }
    return out;
}

} // namespace

Q_DECLARE_METATYPE(QVector<geom::Facet>)

class TestQrnWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layout();
    void emptyMesh();
    void comment_data();
    void comment();
    void notWritable();
    void writeFailed_data();
    void writeFailed();
    void wideAttributes();
    void plainTransform();
    void mirroring_data();
    void mirroring();
    void enciphered();
    void encipheringFails();
    void strippingFails();
    void strippingThrows();
    void stlRoundTrip();

private:
    QTemporaryDir m_dir;
};

void TestQrnWriter::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

// The file of a plain write: header, cipher NID 0, the mesh's vertices bit for bit, flags word 1,
// then strips and groups that together hold exactly the mesh's facets with their attributes.
void TestQrnWriter::layout()
{
    QScopedPointer<StlMesh> mesh(cubeWithAttributes());
    QBuffer buffer;
    QrnWriter writer(&buffer);
    writer.setComment("cube");
    int result = 0;
    const Parsed p = parse(writeToBuffer(writer, mesh.data(), &result));
    QCOMPARE(result, int(QrnWriter::Done));
    QCOMPARE(writer.status(), QrnWriter::Idle);
    QCOMPARE(writer.progress(), 1.0f);
    QVERIFY(p.complete);
    QCOMPARE(p.magic, QByteArray("QRNK"));
    QCOMPARE(p.version, 7);
    QCOMPARE(p.text, QByteArray("cube").append(QByteArray(76, '\0')));
    QCOMPARE(p.cipherNid, quint16(0));
    QCOMPARE(p.vertices.size(), mesh->vertices().size());
    QVERIFY(std::memcmp(p.vertices.constData(), mesh->vertices().constData(),
                        size_t(p.vertices.size()) * 12) == 0);
    QCOMPARE(p.flags, quint16(1));
    QVERIFY(sameFacets(p.facets, mesh->indices()));
}

// A mesh without facets gives the header, an empty vertex list and empty strip and group
// sections.
void TestQrnWriter::emptyMesh()
{
    StlMesh mesh;
    QBuffer buffer;
    QrnWriter writer(&buffer);
    int result = 0;
    const QByteArray bytes = writeToBuffer(writer, &mesh, &result);
    QCOMPARE(result, int(QrnWriter::Done));
    QCOMPARE(bytes.size(), 88 + 2 + 4 + 2 + 4 + 4);
    QCOMPARE(bytes.mid(88), qrntest::Content().u16(0).i32(0).u16(1).i32(0).i32(0).bytes());
    QCOMPARE(writer.progress(), 0.0f);
}

void TestQrnWriter::comment_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("stored");
    QByteArray longText;
    for (int i = 0; i < 100; ++i)
        longText.append(char('a' + i % 26));
    QTest::newRow("longer than 80") << longText << longText.left(80);
    QTest::newRow("shorter") << QByteArray("solid part")
                             << QByteArray("solid part").append(QByteArray(70, '\0'));
    QTest::newRow("empty") << QByteArray() << QByteArray(80, '\0');
    QTest::newRow("exactly 80") << QByteArray(80, 'x') << QByteArray(80, 'x');
}

void TestQrnWriter::comment()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, stored);
    QBuffer buffer;
    QrnWriter writer(&buffer);
    QCOMPARE(writer.comment(), QByteArray(80, '\0'));
    writer.setComment(QByteArray(80, 'z'));
    writer.setComment(text);
    QCOMPARE(writer.comment(), stored);
    StlMesh mesh;
    int result = 0;
    QCOMPARE(parse(writeToBuffer(writer, &mesh, &result)).text, stored);
}

// No device, or one that cannot be opened for writing: NotWritable and no bytes.
void TestQrnWriter::notWritable()
{
    QScopedPointer<StlMesh> mesh(cubeWithAttributes());
    const QString path = m_dir.filePath("missing/dir/out.qrn");
    GZipFile file(path);
    QrnWriter writer(&file);
    QCOMPARE(writer.write(mesh.data()), QrnWriter::NotWritable);
    QVERIFY(!QFile::exists(path));

    QrnWriter orphan(nullptr);
    QCOMPARE(orphan.write(mesh.data()), QrnWriter::NotWritable);
    QCOMPARE(orphan.write(nullptr), QrnWriter::Failed);
}

void TestQrnWriter::writeFailed_data()
{
    QTest::addColumn<int>("capacity");
    QTest::newRow("in the vertex block") << 100;
    QTest::newRow("in the strip section") << 88 + 2 + 4 + 8 * 12 + 10;
}

// A device that stops taking bytes: WriteFailed, and nothing beyond what it took.
void TestQrnWriter::writeFailed()
{
    QFETCH(int, capacity);
    QScopedPointer<StlMesh> mesh(cubeWithAttributes());
    qrntest::LimitedDevice device(capacity);
    QVERIFY(device.open(QIODevice::WriteOnly));
    QrnWriter writer(&device);
    QCOMPARE(writer.write(mesh.data()), QrnWriter::WriteFailed);
    QCOMPARE(writer.status(), QrnWriter::Idle);
    QVERIFY(device.data().size() <= capacity);
}

// Attribute words above 16 bits are stored by their low 16 bits.
void TestQrnWriter::wideAttributes()
{
    QScopedPointer<StlMesh> mesh(meshtest::meshFrom(meshtest::tetrahedron()));
    mesh->setAttribute(0x12345);
    QBuffer buffer;
    QrnWriter writer(&buffer);
    int result = 0;
    const Parsed p = parse(writeToBuffer(writer, mesh.data(), &result));
    QCOMPARE(result, int(QrnWriter::Done));
    QCOMPARE(p.facets.size(), 4);
    for (const IndexedFacet &f : p.facets)
        QCOMPARE(f.attribute, 0x2345u);
}

// A transform that keeps orientation changes the vertices only: they are the mesh's vertices
// mapped by map3Df, and the strip section is the one of the untransformed write.
void TestQrnWriter::plainTransform()
{
    QScopedPointer<StlMesh> mesh(meshtest::meshFrom(meshtest::sheet(5, 4)));
    QMatrix4x4 m;
    m.translate(3, -4, 0.5f);
    m.rotate(30, 1, 2, 3);
    m.scale(2);
    QVERIFY(!utilTX::isMirroring(m));

    QBuffer plainBuffer, mappedBuffer;
    QrnWriter plain(&plainBuffer), mapped(&mappedBuffer);
    mapped.setTransform(m);
    QCOMPARE(mapped.transform(), m);
    int r1 = 0, r2 = 0;
    const Parsed a = parse(writeToBuffer(plain, mesh.data(), &r1));
    const Parsed b = parse(writeToBuffer(mapped, mesh.data(), &r2));
    QCOMPARE(r1, int(QrnWriter::Done));
    QCOMPARE(r2, int(QrnWriter::Done));
    QVector<Vector3f> expected(mesh->vertices().size());
    utilTX::map3Df(&expected.data()->x, m, &mesh->vertices().constData()->x, expected.size());
    QCOMPARE(b.vertices.size(), expected.size());
    QVERIFY(std::memcmp(b.vertices.constData(), expected.constData(), size_t(expected.size()) * 12) == 0);
    QCOMPARE(b.stripSection, a.stripSection);
}

void TestQrnWriter::mirroring_data()
{
    QTest::addColumn<QVector<geom::Facet>>("facets");
    QTest::addColumn<QMatrix4x4>("matrix");
    QTest::addColumn<bool>("closed");
    QMatrix4x4 mirrorX;
    mirrorX.scale(-1, 1, 1);
    QMatrix4x4 mirrorAll;
    mirrorAll.translate(10, 0, -2);
    mirrorAll.scale(-2, -1, -0.5f);
    QMatrix4x4 twoAxes;
    twoAxes.scale(-1, -1, 1);
    // The meshes give strips of odd and even length and loose facets between them.
    const QVector<geom::Facet> torus = meshtest::Torus(200).facets();
    QTest::newRow("torus, mirror x") << torus << mirrorX << true;
    QTest::newRow("torus, three axes, moved") << torus << mirrorAll << true;
    QTest::newRow("torus, two axes: a rotation") << torus << twoAxes << true;
    QTest::newRow("repeated cube, mirror x") << meshtest::repeatedCube() << mirrorX << true;
    QTest::newRow("sheet, mirror x") << meshtest::sheet(5, 4) << mirrorX << false;
    QTest::newRow("fan, three axes") << meshtest::nonManifoldFan() << mirrorAll << false;
}

// A mirrored write reads back as the mirrored model with outward facets: the same facets as
// the mesh's own mirrored copy, and for a closed mesh a positive volume.
void TestQrnWriter::mirroring()
{
    QFETCH(QVector<geom::Facet>, facets);
    QFETCH(QMatrix4x4, matrix);
    QFETCH(bool, closed);
    QScopedPointer<StlMesh> mesh(meshtest::meshFrom(facets));
    QBuffer buffer;
    QrnWriter writer(&buffer);
    writer.setTransform(matrix);
    int result = 0;
    const Parsed p = parse(writeToBuffer(writer, mesh.data(), &result));
    QCOMPARE(result, int(QrnWriter::Done));
    QVERIFY(p.complete);
    QCOMPARE(p.facets.size(), mesh->indices().size());
    QCOMPARE(writer.progress(), 1.0f);

    QBuffer input;
    input.setData(buffer.data());
    StlMesh back;
    QCOMPARE(QrnReader(&input).read(&back), QrnReader::Done);
    QUARN_CHECK_MESH(back, meshtest::AllowEqualVertices);
    QScopedPointer<StlMesh> expected(mesh->transformed(matrix));
    QCOMPARE(back.indices().size(), mesh->indices().size());
    QCOMPARE(qrntest::facetTexts(back), qrntest::facetTexts(*expected));
    if (closed) {
        QVERIFY(back.volume() > 0);
        QVERIFY(qAbs(back.volume() - expected->volume()) <= 1e-6 * expected->volume());
    }
}

// With a key the vertex block holds the cipher's settings and the enciphered, compressed list,
// which the openssl command deciphers with the key and IV it derives from them; our reader
// reads it back with the key and refuses it without.
void TestQrnWriter::enciphered()
{
    QScopedPointer<StlMesh> mesh(cubeWithAttributes());
    const QByteArray key = "secret key";
    QBuffer buffer;
    QrnWriter writer(&buffer);
    writer.setKey(key);
    int result = 0;
    const Parsed p = parse(writeToBuffer(writer, mesh.data(), &result));
    QCOMPARE(result, int(QrnWriter::Done));
    QVERIFY(p.complete);
    QCOMPARE(int(p.cipherNid), QryptoCipher::nid(QryptoCipher::Blowfish, QryptoCipher::Cbc));
    QCOMPARE(p.cipherFlags, quint16(0x13));
    QCOMPARE(p.digestNid, quint16(64));
    QCOMPARE(p.iterations, quint16(1365));
    QVERIFY(p.salt != 0);
    QCOMPARE(p.flags, quint16(0x11));
    QVERIFY(p.vertices.isEmpty());
    QVERIFY(sameFacets(p.facets, mesh->indices()));

    QByteArray saltBytes(8, '\0');
    qToLittleEndian<qint64>(p.salt, saltBytes.data());
    QProcess openssl;
    openssl.start(QStringLiteral(QUARN_OPENSSL),
                  {"enc", "-d", "-bf-cbc", "-provider", "legacy", "-provider", "default", "-pbkdf2", "-iter",
                   "1365", "-md", "sha1", "-S", QString::fromLatin1(saltBytes.toHex()), "-pass",
                   "pass:" + QString::fromLatin1(key)});
    QVERIFY(openssl.waitForStarted());
    openssl.write(p.enciphered);
    openssl.closeWriteChannel();
    QVERIFY(openssl.waitForFinished());
    QCOMPARE(openssl.exitCode(), 0);
    const QByteArray listBytes = qUncompress(openssl.readAllStandardOutput());
    QCOMPARE(listBytes, qrntest::Content().vertexList(mesh->vertices()).bytes());

    QBuffer input;
    input.setData(buffer.data());
    StlMesh back;
    QrnReader reader(&input);
    reader.setKey(key);
    QCOMPARE(reader.read(&back), QrnReader::Done);
    QCOMPARE(back.vertices(), mesh->vertices());
    QVERIFY(sameFacets(back.indices(), mesh->indices()));

    QBuffer again;
    again.setData(buffer.data());
    QTest::ignoreMessage(QtCriticalMsg, "QrnReader.readVertices invalid cipher");
    QCOMPARE(QrnReader(&again).read(&back), QrnReader::CorruptedData);

    // The same writer without the key writes a plain block again: cipher NID 0, then the list.
    buffer.close();
    buffer.setData(QByteArray());
    writer.setKey(QByteArray());
    const Parsed plain = parse(writeToBuffer(writer, mesh.data(), &result));
    QCOMPARE(result, int(QrnWriter::Done));
    QVERIFY(plain.complete);
    QCOMPARE(plain.cipherNid, quint16(0));
    QCOMPARE(plain.vertices, mesh->vertices());
    QBuffer plainInput;
    plainInput.setData(buffer.data());
    QCOMPARE(QrnReader(&plainInput).read(&back), QrnReader::Done);
    QVERIFY(sameFacets(back.indices(), mesh->indices()));
}

// A cipher run that cannot start (here: OpenSSL without its legacy provider, so no Blowfish) is a
// failed write that holds only magic, version and text, never an empty enciphered block. Runs in
// a child process, whose OpenSSL is set up without the provider.
void TestQrnWriter::encipheringFails()
{
    if (!isChild("encipheringFails")) {
        QDir(m_dir.path()).mkpath("no-providers");
        const QString failure =
            failureInChild("encipheringFails", {"OPENSSL_MODULES=" + m_dir.filePath("no-providers")});
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        return;
    }
    QScopedPointer<StlMesh> mesh(cubeWithAttributes());
    QBuffer buffer;
    QrnWriter writer(&buffer);
    writer.setComment("no cipher");
    writer.setKey("secret key");
    QTest::ignoreMessage(QtCriticalMsg, "QrnWriter.writeVertices invalid cipher");
    int result = 0;
    const QByteArray bytes = writeToBuffer(writer, mesh.data(), &result);
    QCOMPARE(result, int(QrnWriter::WriteFailed));
    QCOMPARE(writer.status(), QrnWriter::Idle);
    QCOMPARE(bytes, qrntest::Content().header(7, "no cipher").bytes());
}

// A stripped form that does not cover the facets (the stripping ran out of memory and reports
// it) fails the write with status 5; the file ends after the vertex block.
void TestQrnWriter::strippingFails()
{
    QScopedPointer<StlMesh> mesh(meshtest::meshFrom(meshtest::Torus(20000).facets()));
    QBuffer buffer;
    QrnWriter writer(&buffer);
    QTest::ignoreMessage(QtCriticalMsg,
                         qPrintable(QString("StlMesh: toStrippedFacets VertexCount(%1) IndicesCount(%2)")
                                        .arg(mesh->vertices().size())
                                        .arg(mesh->indices().size())));
    int result = 0;
    QByteArray bytes;
    {
        // The stripping's index list alone takes 12 bytes per facet.
        AllocationLimit limit(64 * 1024);
        bytes = writeToBuffer(writer, mesh.data(), &result);
    }
    QCOMPARE(result, int(QrnWriter::Failed));
    QCOMPARE(writer.status(), QrnWriter::Idle);
    QCOMPARE(bytes.size(), 88 + 2 + 4 + 12 * mesh->vertices().size());
    QCOMPARE(parse(bytes).vertices, mesh->vertices());

    // The writer is fine afterwards.
    buffer.close();
    buffer.setData(QByteArray());
    QCOMPARE(writer.write(mesh.data()), QrnWriter::Done);
}

// The stripping task ending with an exception fails the write with status 5 and the diagnostic
// "QrnWriter: UnhandledException". Here the stripping's own report of its memory failure throws;
// this runs in a child process, as the throw leaves Qt's message handling of that pool thread
// behind.
void TestQrnWriter::strippingThrows()
{
    if (!isChild("strippingThrows")) {
        const QString failure = failureInChild("strippingThrows", {});
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        return;
    }
    static QStringList criticals;
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (message.startsWith("StlMesh: toStrippedFacets"))
            throw std::runtime_error("the stripping's report fails");
        if (type == QtCriticalMsg)
            criticals << message;
    });
    QScopedPointer<StlMesh> mesh(meshtest::meshFrom(meshtest::Torus(20000).facets()));
    QBuffer buffer;
    QrnWriter writer(&buffer);
    int result = 0;
    {
        AllocationLimit limit(64 * 1024);
        writeToBuffer(writer, mesh.data(), &result);
    }
    qInstallMessageHandler(nullptr);
    QCOMPARE(result, int(QrnWriter::Failed));
    QCOMPARE(writer.status(), QrnWriter::Idle);
    QCOMPARE(criticals, QStringList("QrnWriter: UnhandledException"));
}

// STL -> compressed file -> mesh gives the identical canonical mesh with its attributes and the
// STL header as the text. The file is valid gzip whose content starts with "QRNK" and version 7,
// and its content read plain or split over two gzip members gives the same mesh.
void TestQrnWriter::stlRoundTrip()
{
    const QByteArray header = "binary STL from the round trip test";
    // note: 15 000 vertices, so that the reader takes the vertex list in several pieces.
    const meshtest::Torus torus(30000);
    const QString stlPath = m_dir.filePath("torus.stl");
    QVERIFY(qrntest::writeFile(stlPath, binaryStl(torus.facets(), header, 17)));
    QFile stl(stlPath);
    geom::StlReader stlReader(&stl);
    QScopedPointer<StlMesh> mesh(stlReader.read());
    QVERIFY(mesh);
    QCOMPARE(mesh->indices().size(), int(torus.facetCount()));

    const QString path = m_dir.filePath("torus.qrn");
    {
        GZipFile file(path);
        QrnWriter writer(&file);
        writer.setComment(stlReader.header());
        QFuture<QrnWriter::Status> task = QtConcurrent::run(&writer, &QrnWriter::write, mesh.data());
        float last = 0;
        while (!task.isFinished()) {
            const float now = writer.progress();
            QVERIFY(now >= 0 && now <= 1);
            last = now;
        }
        Q_UNUSED(last);
        QCOMPARE(task.result(), QrnWriter::Done);
        QCOMPARE(writer.progress(), 1.0f);
    }

    QProcess gzip;
    gzip.start("gzip", {"-t", path});
    QVERIFY(gzip.waitForFinished());
    QCOMPARE(gzip.exitStatus(), QProcess::NormalExit);
    QCOMPARE(gzip.exitCode(), 0);
    const QByteArray content = qrntest::gunzip(qrntest::readFile(path));
    QVERIFY(content.startsWith(QByteArray("QRNK\x07\x00\x00\x00", 8)));

    const QString plainPath = m_dir.filePath("plain.qrn");
    const QString membersPath = m_dir.filePath("members.qrn");
    QVERIFY(qrntest::writeFile(plainPath, content));
    QVERIFY(qrntest::writeFile(membersPath, qrntest::gzipMember(content.left(content.size() / 3)) +
                                                qrntest::gzipMember(content.mid(content.size() / 3))));
    for (const QString &p : {path, plainPath, membersPath}) {
        GZipFile file(p);
        QrnReader reader(&file);
        StlMesh back;
        QCOMPARE(reader.read(&back), QrnReader::Done);
        QCOMPARE(reader.comment(), stlReader.header().left(80));
        QCOMPARE(back.vertices(), mesh->vertices());
        const QVector<IndexedFacet> &a = back.indices();
        const QVector<IndexedFacet> &b = mesh->indices();
        QCOMPARE(a.size(), b.size());
        for (int i = 0; i < a.size(); ++i) {
            if (a[i].a != b[i].a || a[i].b != b[i].b || a[i].c != b[i].c || a[i].attribute != b[i].attribute)
                QFAIL(qPrintable(QString("facet %1 differs").arg(i)));
        }
        QUARN_CHECK_MESH(back);
    }
}

QTEST_GUILESS_MAIN(TestQrnWriter)
#include "tst_qrnwriter.moc"
