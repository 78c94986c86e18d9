#include "geom/formats/qrnreader.h"
#include "geom/formats/qrnwriter.h"
#include "geom/mesh/stlmesh.h"
#include "geom/mesh/strippedfacets.h"
#include "io/gzipfile.h"
#include "meshbuilders.h"
#include "meshcheck.h"
#include "qrntestsupport.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define QUARN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARN_ASAN 1
#endif
#endif

using geom::QrnReader;
using geom::Vector3f;
using qrntest::Content;

namespace {

const QVector<Vector3f> Tetra = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

// The tetrahedron as a version-7 content: one strip of two facets and one group of two.
QByteArray validContent()
{
    Content c;
    c.header(7).u16(0).vertexList(Tetra).u16(1);
    c.i32(1).strip({1, 2, 0, 3}, 0x40);
    c.i32(1).u32(6).i32(0).i32(1).i32(3).u16(7).i32(1).i32(2).i32(3).u16(8);
    return c.bytes();
}

long peakRssKb()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct ReadResult
{
    int status = -1;
    int version = 0;
    QByteArray comment;
};

ReadResult readDevice(QIODevice *device, geom::StlMesh *mesh, const QByteArray &key = QByteArray())
{
    QrnReader reader(device);
    reader.setKey(key);
    ReadResult r;
    r.status = reader.read(mesh);
    r.version = reader.version();
    r.comment = reader.comment();
    return r;
}

ReadResult readBytes(const QByteArray &bytes, geom::StlMesh *mesh, const QByteArray &key = QByteArray())
{
    QBuffer buffer;
    buffer.setData(bytes);
    return readDevice(&buffer, mesh, key);
}

} // namespace

class TestQrnReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fixtures_data();
    void fixtures();
    void enciphered_data();
    void enciphered();
    void layoutEdges();
    void damaged_data();
    void damaged();
    void everyPrefix();
    void gzipContainer();
    void endOfData_data();
    void endOfData();
    void damagedTrailerNeverDone();
    void facetsOutsideVertices();
    void sameMeshAsStrippedForm_data();
    void sameMeshAsStrippedForm();
    void outOfMemory();
    void stateAfterRead();

private:
    QTemporaryDir m_dir;
    QJsonArray m_fixtures;
};

void TestQrnReader::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString script = QStringLiteral(QUARN_TEST_SOURCE_DIR "/make_qrn_fixtures.py");
    QProcess python;
    python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    python.start(QStringLiteral(QUARN_PYTHON3),
                 {script, m_dir.path(), QStringLiteral("--openssl"), QStringLiteral(QUARN_OPENSSL)});
    QVERIFY2(python.waitForFinished(60000), "fixture script did not finish");
    QCOMPARE(python.exitStatus(), QProcess::NormalExit);
    QCOMPARE(python.exitCode(), 0);
    const QJsonDocument manifest =
        QJsonDocument::fromJson(qrntest::readFile(m_dir.filePath("manifest.json")));
    m_fixtures = manifest.object().value("fixtures").toArray();
    QVERIFY(m_fixtures.size() >= 14);
}

void TestQrnReader::fixtures_data()
{
    QTest::addColumn<QJsonObject>("fixture");
    for (const QJsonValue &v : m_fixtures)
        QTest::newRow(qPrintable(v.toObject().value("name").toString())) << v.toObject();
}

// Files of every version, written by the independent script, read with their key.
void TestQrnReader::fixtures()
{
    QFETCH(QJsonObject, fixture);
    const int expectedStatus = fixture.value("status").toInt();
    if (expectedStatus != QrnReader::Done)
        QTest::ignoreMessage(QtCriticalMsg, "QrnReader.readVertices invalid cipher");

    GZipFile file(m_dir.filePath(fixture.value("file").toString()));
    geom::StlMesh mesh;
    const ReadResult r = readDevice(&file, &mesh, fixture.value("key").toString().toLatin1());
    QCOMPARE(r.status, expectedStatus);
    QCOMPARE(r.version, fixture.value("version").toInt());
    QCOMPARE(r.comment.toHex(), fixture.value("text").toString().toLatin1());
    if (expectedStatus != QrnReader::Done) {
        QVERIFY(mesh.indices().isEmpty());
        return;
    }

    QStringList expected;
    for (const QJsonValue &row : fixture.value("facets").toArray()) {
        const QJsonArray a = row.toArray();
        auto at = [&](int i) {
            return Vector3f(float(a[i].toDouble()), float(a[i + 1].toDouble()), float(a[i + 2].toDouble()));
        };
        expected << qrntest::facetText(at(0), at(3), at(6), quint32(a[9].toDouble()));
    }
    expected.sort();
    QCOMPARE(qrntest::facetTexts(mesh), expected);
    QCOMPARE(mesh.vertices().size(), fixture.value("vertices").toInt());
    QUARN_CHECK_MESH(mesh, meshtest::AllowEqualVertices);
}

void TestQrnReader::enciphered_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("status");
    QTest::newRow("v5 no key") << "v5-cipher-odd" << QByteArray() << int(QrnReader::IncorrectFormat);
    QTest::newRow("v5 empty block needs no key") << "v5-cipher-none" << QByteArray() << int(QrnReader::Done);
    QTest::newRow("v6 no key") << "v6-cipher" << QByteArray() << int(QrnReader::CorruptedData);
    QTest::newRow("v6 wrong key") << "v6-cipher" << QByteArray("wrong key") << int(QrnReader::CorruptedData);
    QTest::newRow("v7 no key") << "v7-cipher" << QByteArray() << int(QrnReader::CorruptedData);
    QTest::newRow("v7 wrong key") << "v7-cipher" << QByteArray("fixture kez")
                                  << int(QrnReader::CorruptedData);
}

// Enciphered blocks without the right key fail with the status of their version and leave the
// mesh as it was.
void TestQrnReader::enciphered()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, key);
    QFETCH(int, status);
    if (status != QrnReader::Done)
        QTest::ignoreMessage(QtCriticalMsg, "QrnReader.readVertices invalid cipher");
    QScopedPointer<geom::StlMesh> mesh(meshtest::meshFrom(meshtest::tetrahedron()));
    GZipFile file(m_dir.filePath(name + ".qrn"));
    QCOMPARE(readDevice(&file, mesh.data(), key).status, status);
    QCOMPARE(mesh->indices().size(), status == QrnReader::Done ? 0 : 4);
}

// Short strips are read and dropped, empty groups kept, group counts that are not a multiple of
// three lose their remainder, and attributes follow the width code.
void TestQrnReader::layoutEdges()
{
    Content c;
    c.header(6).i32(3).vertexList(Tetra); // flags 3: 32-bit attributes
    c.i32(4);
    c.i32(2).i32(0).i32(1);                        // length 2: dropped
    c.i32(0).i32(2).i32(3);                        // length 0: two indices, dropped
    c.i32(3).i32(1).i32(2).i32(0).u32(0x7fff1234); // one facet
    c.i32(1).i32(3).i32(0);                        // length 1: dropped
    c.i32(3).u32(0).u32(7).i32(0).i32(2).i32(3).u32(5).i32(1).i32(3).i32(2).u32(6).u32(3);
    c.i32(0).i32(3).i32(1).u32(9);
    geom::StlMesh mesh;
    QCOMPARE(readBytes(c.bytes(), &mesh).status, int(QrnReader::Done));
    QCOMPARE(mesh.indices().size(), 4);
    QStringList expected = {qrntest::facetText(Tetra[0], Tetra[1], Tetra[2], 0x7fff1234),
                            qrntest::facetText(Tetra[0], Tetra[2], Tetra[3], 5),
                            qrntest::facetText(Tetra[1], Tetra[3], Tetra[2], 6),
                            qrntest::facetText(Tetra[0], Tetra[3], Tetra[1], 9)};
    expected.sort();
    QCOMPARE(qrntest::facetTexts(mesh), expected);
    QUARN_CHECK_MESH(mesh, meshtest::AllowEqualVertices);
}

void TestQrnReader::damaged_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("version");

    const int bad = QrnReader::IncorrectFormat;
    const QByteArray valid = validContent();
    QTest::newRow("valid") << valid << int(QrnReader::Done) << 7;
    QTest::newRow("empty") << QByteArray() << bad << 7;
    QTest::newRow("wrong magic") << QByteArray("QRNL").append(valid.mid(4)) << bad << 7;
    QTest::newRow("version 8") << Content().header(8).u16(0).vertexList(Tetra).bytes() << bad << 8;
    QTest::newRow("version -1") << Content().header(-1).bytes() << bad << -1;
    QTest::newRow("short text") << Content().header(7).bytes().left(60) << bad << 7;

    QTest::newRow("negative vertex count") << Content().header(7).u16(0).i32(-5).bytes() << bad << 7;
    QTest::newRow("huge vertex count")
        << Content().header(7).u16(0).i32(0x7fffffff).f32(1).f32(2).f32(3).bytes() << bad << 7;
    QTest::newRow("huge vertex count v2") << Content().header(2).i32(0x40000000).bytes() << bad << 2;
    QTest::newRow("huge strip count")
        << Content().header(7).u16(0).vertexList(Tetra).u16(1).i32(0x7fffffff).strip({0, 1, 2}).bytes() << bad
        << 7;
    QTest::newRow("negative strip count")
        << Content().header(7).u16(0).vertexList(Tetra).u16(1).i32(-1).i32(0).bytes() << bad << 7;
    QTest::newRow("huge strip length")
        << Content().header(7).u16(0).vertexList(Tetra).u16(1).i32(1).strip({0, 1, 2}, 0, 0x7fffffff).bytes()
        << bad << 7;
    QTest::newRow("negative strip length")
        << Content().header(7).u16(0).vertexList(Tetra).u16(1).i32(1).i32(-3).i32(0).i32(1).i32(0).bytes()
        << bad << 7;
    QTest::newRow("strip length 1") << Content()
                                           .header(7)
                                           .u16(0)
                                           .vertexList(Tetra)
                                           .u16(1)
                                           .i32(2)
                                           .strip({0, 1}, 0, 1)
                                           .strip({0, 1, 2})
                                           .i32(0)
                                           .bytes()
                                    << int(QrnReader::Done) << 7;
    QTest::newRow("huge group count")
        << Content().header(7).u16(0).vertexList(Tetra).u16(1).i32(0).i32(0x7fffffff).u32(0).bytes() << bad
        << 7;
    QTest::newRow("negative group count")
        << Content().header(7).u16(0).vertexList(Tetra).u16(1).i32(0).i32(-2).bytes() << bad << 7;
    QTest::newRow("huge group size") << Content()
                                            .header(7)
                                            .u16(0)
                                            .vertexList(Tetra)
                                            .u16(1)
                                            .i32(0)
                                            .i32(1)
                                            .u32(0xffffffff)
                                            .i32(0)
                                            .i32(1)
                                            .i32(2)
                                            .u16(0)
                                            .bytes()
                                     << bad << 7;
    QTest::newRow("v5 negative enciphered count") << Content().header(5).u8(0x11).i32(-1).bytes() << bad << 5;
    QTest::newRow("v5 huge enciphered count")
        << Content().header(5).u8(0x11).i32(0x7ffffff0).i64(42).raw(QByteArray(100, 'x')).bytes() << bad << 5;
    QTest::newRow("v6 huge enciphered block")
        << Content().header(6).i32(0x11).u32(0xfffffff0).raw(QByteArray(64, 'x')).bytes() << bad << 6;
    QTest::newRow("v7 huge enciphered block")
        << Content().header(7).u16(91).u16(0x13).u16(64).i64(7).u16(1365).u32(0x7ffffff0).raw("abc").bytes()
        << bad << 7;
}

// Damaged content ends with its status, leaves the mesh untouched and takes memory in
// proportion to the data, whatever the counts say.
void TestQrnReader::damaged()
{
    QFETCH(QByteArray, content);
    QFETCH(int, status);
    QFETCH(int, version);
    QScopedPointer<geom::StlMesh> mesh(meshtest::meshFrom(meshtest::unitCube()));
    const long before = peakRssKb();
    const ReadResult r = readBytes(content, mesh.data());
    QCOMPARE(r.status, status);
    QCOMPARE(r.version, version);
    QVERIFY2(peakRssKb() - before < 64 * 1024, "reading took more than 64 MiB");
    if (status == QrnReader::Done) {
        QUARN_CHECK_MESH(*mesh, meshtest::AllowEqualVertices);
    } else {
        QCOMPARE(mesh->indices().size(), 12);
    }
}

// Every proper prefix of a valid file, plain and gzip-wrapped, is an incorrect format.
void TestQrnReader::everyPrefix()
{
    const QByteArray valid = validContent();
    for (int n = 0; n < valid.size(); ++n) {
        geom::StlMesh mesh;
        QCOMPARE(readBytes(valid.left(n), &mesh).status, int(QrnReader::IncorrectFormat));
    }
    // A gzip file cut anywhere behind its two magic bytes is a damaged stream, whatever of the
    // content came out before the cut: corrupted data. Shorter, it is plain content.
    const QByteArray gz = qrntest::gzipMember(valid);
    const QString path = m_dir.filePath("prefix.qrn");
    for (int n = 0; n < gz.size(); n += n < gz.size() - 8 ? 3 : 1) {
        QVERIFY(qrntest::writeFile(path, gz.left(n)));
        GZipFile file(path);
        geom::StlMesh mesh;
        const int status = readDevice(&file, &mesh).status;
        const bool expected = n >= 2
                                  ? status == QrnReader::CorruptedData
                                  : status == QrnReader::IncorrectFormat || status == QrnReader::NotReadable;
        QVERIFY2(expected,
                 qPrintable(QString("prefix %1 of %2: status %3").arg(n).arg(gz.size()).arg(status)));
        QCOMPARE(mesh.indices().size(), 0);
    }
}

// Plain content, one gzip member and the content split over two members read alike.
void TestQrnReader::gzipContainer()
{
    const QByteArray valid = validContent();
    const QByteArray forms[] = {valid, qrntest::gzipMember(valid),
                                qrntest::gzipMember(valid.left(50)) + qrntest::gzipMember(valid.mid(50))};
    QStringList first;
    for (const QByteArray &form : forms) {
        const QString path = m_dir.filePath("container.qrn");
        QVERIFY(qrntest::writeFile(path, form));
        GZipFile file(path);
        geom::StlMesh mesh;
        QCOMPARE(readDevice(&file, &mesh).status, int(QrnReader::Done));
        QCOMPARE(mesh.indices().size(), 4);
        if (first.isEmpty())
            first = qrntest::facetTexts(mesh);
        QCOMPARE(qrntest::facetTexts(mesh), first);
    }
}

namespace {

// A file of a 144-facet sheet as the program writes it: QrnWriter through GZipFile.
QByteArray writtenFile(const QString &path)
{
    QScopedPointer<geom::StlMesh> mesh(meshtest::meshFrom(meshtest::sheet(8, 9)));
    {
        GZipFile file(path);
        geom::QrnWriter writer(&file);
        if (writer.write(mesh.data()) != geom::QrnWriter::Done)
            return QByteArray();
    }
    return qrntest::readFile(path);
}

} // namespace

void TestQrnReader::endOfData_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("status");

    const QByteArray written = writtenFile(m_dir.filePath("written.qrn"));
    QCOMPARE(qrntest::gunzip(written).isEmpty(), false);
    const QByteArray content = qrntest::gunzip(written);
    QTest::newRow("as written") << written << int(QrnReader::Done);
    QTest::newRow("plain content") << content << int(QrnReader::Done);
    QTest::newRow("gzip trailer missing")
        << written.left(written.size() - 8) << int(QrnReader::CorruptedData);
    QTest::newRow("gzip length missing") << written.left(written.size() - 4) << int(QrnReader::CorruptedData);
    QTest::newRow("two files joined") << written + written << int(QrnReader::CorruptedData);
    QTest::newRow("one byte more in the member")
        << qrntest::gzipMember(content + '\0') << int(QrnReader::CorruptedData);
    QTest::newRow("one byte more in plain content") << content + 'x' << int(QrnReader::CorruptedData);
    // Behind the last member only another whole member may follow.
    QTest::newRow("zeros and text behind the gzip data")
        << written + QByteArray("\0\0\0\0garbage", 11) << int(QrnReader::CorruptedData);
    QTest::newRow("one byte behind the gzip data") << written + 'x' << int(QrnReader::CorruptedData);
    QTest::newRow("gzip magic behind the gzip data") << written + "\x1f\x8b" << int(QrnReader::CorruptedData);
    QTest::newRow("a cut member behind the gzip data")
        << written + written.left(written.size() / 2) << int(QrnReader::CorruptedData);
    QTest::newRow("an empty member behind the gzip data")
        << written + qrntest::gzipMember(QByteArray()) << int(QrnReader::Done);
}

// The file ends where its last group ends, and a gzip stream only at its intact trailer.
void TestQrnReader::endOfData()
{
    QFETCH(QByteArray, file);
    QFETCH(int, status);
    const QString path = m_dir.filePath("end.qrn");
    QVERIFY(qrntest::writeFile(path, file));
    GZipFile device(path);
    geom::StlMesh mesh;
    QCOMPARE(readDevice(&device, &mesh).status, status);
    QCOMPARE(mesh.indices().size(), status == QrnReader::Done ? 144 : 0);
    if (status == QrnReader::Done)
        QUARN_CHECK_MESH(mesh);
}

// One flipped byte anywhere in the last part of a small written file, trailer included, never
// reads as a mesh, unless it only touched the unused padding bits of the last deflate byte: the
// damaged stream is corrupted data, though the whole content comes out in the first read.
void TestQrnReader::damagedTrailerNeverDone()
{
    const QByteArray written = writtenFile(m_dir.filePath("flip-source.qrn"));
    QVERIFY(!written.isEmpty());
    const QByteArray content = qrntest::gunzip(written);
    const QString path = m_dir.filePath("flipped.qrn");
    for (int at = written.size() - 24; at < written.size(); ++at) {
        for (const char mask : {char(0x01), char(0x80)}) {
            QByteArray damaged = written;
            damaged[at] = char(damaged[at] ^ mask);
            QVERIFY(qrntest::writeFile(path, damaged));
            GZipFile device(path);
            geom::StlMesh mesh;
            const int status = readDevice(&device, &mesh).status;
            if (qrntest::gunzip(damaged) == content)
                continue;
            QVERIFY2(
                status == QrnReader::CorruptedData,
                qPrintable(
                    QString("byte %1 of %2 flipped: status %3").arg(at).arg(written.size()).arg(status)));
            QCOMPARE(mesh.indices().size(), 0);
        }
    }
}

// Facets that name a missing vertex are left out of the mesh and counted.
void TestQrnReader::facetsOutsideVertices()
{
    Content c;
    c.header(7).u16(0).vertexList(Tetra).u16(1);
    c.i32(1).strip({1, 2, 0, 3, 9}); // the third triangle names vertex 9
    c.i32(1).u32(9).i32(0).i32(1).i32(3).u16(7).i32(1).i32(-2).i32(3).u16(8).i32(4).i32(1).i32(2).u16(9);
    QBuffer buffer;
    buffer.setData(c.bytes());
    QrnReader reader(&buffer);
    geom::StlMesh mesh;
    QCOMPARE(reader.read(&mesh), QrnReader::Done);
    QCOMPARE(reader.droppedFacetCount(), 3);
    QCOMPARE(mesh.indices().size(), 3);
    QUARN_CHECK_MESH(mesh, meshtest::AllowEqualVertices);

    buffer.close();
    buffer.setData(validContent());
    QCOMPARE(reader.read(&mesh), QrnReader::Done);
    QCOMPARE(reader.droppedFacetCount(), 0);
}

void TestQrnReader::sameMeshAsStrippedForm_data()
{
    QTest::addColumn<bool>("shuffled");
    QTest::newRow("vertices in vertex order") << false;
    QTest::newRow("vertices out of order") << true;
}

// The reader expands strips and groups straight into the facet list; the mesh it builds is the
// one the stripped form of the same data builds, vertex for vertex and facet for facet, attributes
// included, whether or not the stored vertex list needs sorting.
void TestQrnReader::sameMeshAsStrippedForm()
{
    QFETCH(bool, shuffled);
    const int n = 9;
    // A sheet of n x n points, x = k / n and y = k % n: listed by k, it is in vertex order.
    QVector<int> place(n * n);
    for (int k = 0; k < n * n; ++k)
        place[k] = shuffled ? (k * 31 + 7) % (n * n) : k;
    QVector<Vector3f> vertices(n * n);
    for (int k = 0; k < n * n; ++k)
        vertices[place[k]] = Vector3f(float(k / n), float(k % n), 0.5f * float((k * 5) % 3));
    const auto at = [&](int row, int column) { return qint32(place[row * n + column]); };

    Content c;
    c.header(7).u16(0).vertexList(vertices).u16(1); // 16-bit attributes
    geom::StrippedFacets stripped;
    QVector<QVector<qint32>> strips;
    for (int row = 0; row + 1 < n; row += 2) {
        // Even and odd lengths; the strip of row 4 names a missing vertex in its middle.
        const int length = row % 4 == 0 ? 2 * n : 2 * n - 1;
        QVector<qint32> strip;
        for (int k = 0; k < length; ++k)
            strip.append(row == 4 && k == 6 ? n * n + 3 : at(row + k % 2, k / 2));
        strips.append(strip);
    }
    c.i32(strips.size());
    for (int s = 0; s < strips.size(); ++s) {
        const quint16 attribute = quint16(0x100 * (s + 1));
        c.strip(strips[s], attribute);
        QVector<geom::StripVertex> elements;
        for (int k = 0; k < strips[s].size(); ++k) {
            geom::StripVertex v;
            v.index = strips[s][k];
            v.attribute = k >= 2 ? quint32(attribute + k) : 0;
            elements.append(v);
        }
        stripped.appendStrip(elements);
    }
    QVector<geom::IndexedFacet> group;
    for (int column = 0; column + 1 < n; ++column) {
        group.append(
            meshtest::indexedFacet(at(1, column + 1), at(1, column), at(2, column), quint32(column)));
        group.append(meshtest::indexedFacet(at(2, column), at(2, column + 1), at(1, column + 1), 0xffffu));
    }
    c.i32(1).u32(quint32(group.size() * 3));
    for (const geom::IndexedFacet &f : group)
        c.i32(f.a).i32(f.b).i32(f.c).u16(quint16(f.attribute));
    stripped.triangles.append(group);

    QBuffer buffer;
    buffer.setData(c.bytes());
    QrnReader reader(&buffer);
    geom::StlMesh read;
    QCOMPARE(reader.read(&read), QrnReader::Done);
    QCOMPARE(reader.droppedFacetCount(), 3);
    geom::StlMesh expected;
    expected.fromStrippedFacets(vertices, stripped);
    QCOMPARE(read.vertices(), expected.vertices());
    QCOMPARE(read.indices().size(), expected.indices().size());
    for (int i = 0; i < expected.indices().size(); ++i) {
        const geom::IndexedFacet &f = read.indices().at(i);
        const geom::IndexedFacet &g = expected.indices().at(i);
        QVERIFY2(geom::sameTriple(f, g) && f.attribute == g.attribute, qPrintable(QString::number(i)));
    }
    // Strips of 18, 17, 18 (three facets dropped) and 17 elements, and the group.
    QCOMPARE(read.indices().size(), 16 + 15 + (16 - 3) + 15 + group.size());
    QUARN_CHECK_MESH(read);
}

// A real allocation failure (a vertex list larger than the address space allows) ends as out of
// memory with the mesh cleared. Runs in a child process with a limited address space.
void TestQrnReader::outOfMemory()
{
#ifdef QUARN_ASAN
    QSKIP("the sanitizer's allocator does not honour an address-space limit");
#else
    const qint32 count = 24 * 1024 * 1024; // 288 MiB of vertex records, all zero
    QByteArray content = Content().header(3).i32(count).bytes();
    content.append(QByteArray(count * 12, '\0'));
    const QString path = m_dir.filePath("huge.qrn");
    QVERIFY(qrntest::writeFile(path, qrntest::gzipMember(content)));
    content.clear();
    content.squeeze();
    // Built before the fork: the child must not need the thread pool, whose threads stay behind.
    geom::StlMesh *mesh = meshtest::meshFrom(meshtest::tetrahedron());

    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        long pages = 0;
        if (FILE *f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(f);
        }
        const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (96u << 20);
        rlimit rl{limit, limit};
        setrlimit(RLIMIT_AS, &rl);
        QtMessageHandler quiet = [](QtMsgType, const QMessageLogContext &, const QString &) {};
        qInstallMessageHandler(quiet);
        GZipFile file(path);
        const int status = readDevice(&file, mesh).status;
        _exit(status == QrnReader::OutOfMemory && mesh->indices().isEmpty() ? 0 : 10 + status);
    }
    delete mesh;
    int wstatus = 0;
    QCOMPARE(waitpid(child, &wstatus, 0), child);
    QVERIFY(WIFEXITED(wstatus));
    QCOMPARE(WEXITSTATUS(wstatus), 0);
#endif
}

// After a read the stored status is idle again; the header of the last file stays readable and
// a second read of the same reader works.
void TestQrnReader::stateAfterRead()
{
    QBuffer buffer;
    buffer.setData(validContent());
    QrnReader reader(&buffer);
    QCOMPARE(reader.version(), 7);
    QCOMPARE(reader.comment(), QByteArray(80, '\0'));
    geom::StlMesh mesh;
    QCOMPARE(reader.read(&mesh), QrnReader::Done);
    QCOMPARE(reader.status(), QrnReader::Idle);
    QVERIFY(reader.comment().startsWith("qrn test\0"));
    QCOMPARE(reader.comment().size(), 80);

    QBuffer other;
    other.setData(QByteArray("nothing"));
    reader.setDevice(&other);
    QCOMPARE(reader.comment(), QByteArray(80, '\0'));
    QCOMPARE(reader.read(&mesh), QrnReader::IncorrectFormat);
    QCOMPARE(mesh.indices().size(), 4);
    reader.setDevice(nullptr);
    QCOMPARE(reader.read(&mesh), QrnReader::NotReadable);
}

QTEST_GUILESS_MAIN(TestQrnReader)
#include "tst_qrnreader.moc"
