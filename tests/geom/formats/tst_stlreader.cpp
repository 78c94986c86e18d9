#include "geom/formats/stlreader.h"
#include "geom/formats/stlwriter.h"
#include "geom/mesh/stlmesh.h"

#include "meshbuilders.h"
#include "meshcheck.h"
#include "messagecapture.h"
#include "stltestdata.h"

#include <QBuffer>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

using geom::Facet;
using geom::StlMesh;
using geom::StlReader;
using geom::Vector3f;
using meshtest::floatBits;

Q_DECLARE_METATYPE(StlReader::Statuses)

namespace {

struct ReadResult
{
    std::unique_ptr<StlMesh> mesh;
    StlReader::Statuses status;
    int format = 0;
    QByteArray header;
};

ReadResult readDevice(QIODevice *device)
{
    StlReader reader(device);
    ReadResult result;
    result.mesh.reset(reader.read());
    result.status = reader.status();
    result.format = reader.format();
    result.header = reader.header();
    return result;
}

ReadResult readBytes(const QByteArray &bytes)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    return readDevice(&buffer);
}

ReadResult readFile(const QString &path)
{
    QFile file(path);
    return readDevice(&file);
}

const StlReader::Statuses truncated = StlReader::Truncated | StlReader::NotReadable;
const StlReader::Statuses tooShort = StlReader::InvalidFormat | StlReader::NotReadable;

Vector3f v(float x, float y, float z)
{
    return Vector3f(x, y, z);
}

float nanWithPayload(quint32 payload)
{
    return meshtest::floatFromBits(0x7FC00000u | payload);
}

// Whole facets around vertex lines, three per facet, inside "solid NAME" and "endsolid NAME".
QByteArray solidOf(const QList<QByteArray> &vertexLines, const QByteArray &name = "s")
{
    QByteArray text = "solid " + name + "\n";
    for (int i = 0; i + 2 < vertexLines.size(); i += 3)
        text += "facet normal 0 0 0\nouter loop\n" + vertexLines[i] + "\n" + vertexLines[i + 1] + "\n" +
                vertexLines[i + 2] + "\nendloop\nendfacet\n";
    return text + "endsolid " + name + "\n";
}

QByteArray cubeText(const QByteArray &eol = "\n")
{
    return stltest::asciiStl(meshtest::unitCube(), "cube", eol);
}

// A comma-decimal C locale for LC_NUMERIC: an installed one, else one built with localedef into
// `dir`. Empty when none can be had.
QByteArray commaLocale(const QString &dir)
{
    const char *const candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8",
                                      "nl_NL.UTF-8"};
    for (const char *name : candidates) {
        if (std::setlocale(LC_NUMERIC, name)) {
            std::setlocale(LC_NUMERIC, "C");
            return name;
        }
    }
    const QString localedef = QStandardPaths::findExecutable(QStringLiteral("localedef"));
    if (localedef.isEmpty())
        return QByteArray();
    QProcess process;
    process.start(localedef, {"-i", "de_DE", "-f", "UTF-8", dir + "/de_DE.UTF-8"});
    if (!process.waitForFinished(60000))
        return QByteArray();
    qputenv("LOCPATH", dir.toLocal8Bit());
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        return QByteArray();
    std::setlocale(LC_NUMERIC, "C");
    return "de_DE.UTF-8";
}

} // namespace

class TestStlReader : public QObject
{
    Q_OBJECT

private slots:
    void binaryFiles_data();
    void binaryFiles();
    void asciiFiles_data();
    void asciiFiles();
    void unitCube_data();
    void unitCube();
    void signedZeroAndNaN();
    void asciiSpecialNumbers();
    void numbersIgnoreLocale();
    void failedAsciiAttemptLeavesNoSolid();
    void sameMeshWhateverTheOrder();
    void writeThenRead();
    void prefixesFailCleanly();
    void damagedFilesDoNotCrash();
    void readsOnce();
    void deviceProblems();
    void peerFiles();
};

void TestStlReader::binaryFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<StlReader::Statuses>("status");
    QTest::addColumn<int>("facets");
    QTest::addColumn<QStringList>("warnings");

    const QString alignment = QStringLiteral("Invalid STL data alignment");
    const QString small = QStringLiteral("STL smaller than minimum file size");
    const QVector<Facet> cube = meshtest::unitCube();
    const QVector<Facet> four = cube.mid(0, 4);

    QTest::newRow("empty device") << QByteArray() << tooShort << -1 << QStringList{alignment, small};
    QTest::newRow("half a header") << QByteArray(40, 'x') << tooShort << -1 << QStringList{alignment, small};
    QTest::newRow("no count") << QByteArray(80, 'x') << truncated << -1 << QStringList{alignment, small};
    QTest::newRow("count 0") << stltest::binaryStl({}) << StlReader::Statuses() << 0 << QStringList{small};
    QTest::newRow("one facet") << stltest::binaryStl(cube.mid(0, 1)) << StlReader::Statuses() << 1
                               << QStringList{small};
    QTest::newRow("four facets") << stltest::binaryStl(four) << StlReader::Statuses() << 4 << QStringList();
    QTest::newRow("count one above the records")
        << stltest::binaryStl(four, {}, {}, 5) << truncated << -1 << QStringList();
    QTest::newRow("stray bytes after the records")
        << stltest::binaryStl(four) + "stray" << StlReader::Statuses() << 4 << QStringList{alignment};
    QTest::newRow("count above a billion")
        << stltest::binaryStl(four, {}, {}, 0x40000000) << truncated << -1
        << QStringList{QStringLiteral("Will not attempt to read past 1 billion facets")};
    QTest::newRow("facet with a repeated corner")
        << stltest::binaryStl(cube + QVector<Facet>{Facet(v(5, 5, 5), v(5, 5, 5), v(6, 6, 6))})
        << StlReader::Statuses() << 12 << QStringList{QStringLiteral("Clean indices dropped 1 items.")};
    QTest::newRow("solid header on a binary file")
        << stltest::binaryStl(cube, {}, "solid cube") << StlReader::Statuses() << 12 << QStringList();
    QTest::newRow("solid header and a line end")
        << stltest::binaryStl(cube, {}, "solid cube\nfacet normal 0 0 1\n") << StlReader::Statuses() << 12
        << QStringList();
}

void TestStlReader::binaryFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(StlReader::Statuses, status);
    QFETCH(int, facets);
    QFETCH(QStringList, warnings);

    meshtest::MessageCapture capture({QtWarningMsg});
    const ReadResult result = readBytes(bytes);
    QCOMPARE(capture.messages(), warnings);
    QCOMPARE(result.status, status);
    QCOMPARE(bool(result.mesh), facets >= 0);
    if (facets < 0)
        return;
    QCOMPARE(result.format, 1);
    QCOMPARE(result.header, bytes.left(80));
    QCOMPARE(result.mesh->indices().size(), facets);
    QUARN_CHECK_MESH(*result.mesh);
}

void TestStlReader::asciiFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("facets"); // -1: not ASCII, the binary attempt fails
    QTest::addColumn<int>("vertices");

    const QVector<Facet> cube = meshtest::unitCube();
    const QByteArray lf = cubeText();
    const QByteArray crlf = cubeText("\r\n");

    QTest::newRow("LF") << lf << 12 << 8;
    QTest::newRow("CR LF") << crlf << 12 << 8;
    QTest::newRow("no final line end") << lf.chopped(1) << 12 << 8;
    QTest::newRow("end line without name") << stltest::asciiStl(cube, "cube", "\n", "endsolid") << 12 << 8;
    QTest::newRow("no end line") << stltest::asciiStl(cube, "cube", "\n", "") << 12 << 8;
    QTest::newRow("no name") << stltest::asciiStl(cube, "", "\n") << 12 << 8;
    QTest::newRow("empty lines after the end") << lf + "\n\n" << 12 << 8;
    QTest::newRow("white space after the end") << crlf + "  \r\n\t\r\n   " << 12 << 8;
    QTest::newRow("two solids, shared vertices")
        << stltest::asciiStl(cube.mid(0, 6), "a") + stltest::asciiStl(cube.mid(6), "b") << 12 << 8;
    QTest::newRow("two solids, blank line between")
        << stltest::asciiStl(cube.mid(0, 6), "a", "\r\n") + "\r\n" +
               stltest::asciiStl(cube.mid(6), "b", "\r\n")
        << 12 << 8;
    QTest::newRow("tabs and long lines")
        << QByteArray("solid " + QByteArray(700, 'c') + "\n\tfacet normal 0 0 1" + QByteArray(600, ' ') +
                      "1\n\t outer \tloop\n\t vertex\t0 0 0\nvertex 1 0 0\nvertex 0 1e0 0\n endloop \n"
                      "endfacet\nendsolid t\n")
        << 1 << 3;
    QTest::newRow("blank lines inside a facet")
        << QByteArray("solid t\nfacet normal 0 0 1\n\nouter loop\nvertex 0 0 0\n \nvertex 1 0 0\n"
                      "vertex 0 1 0\nendloop\n\t\nendfacet\n\nendsolid t\n")
        << 1 << 3;
    QTest::newRow("end line with another name")
        << QByteArray("solid a\nfacet\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\n"
                      "endfacet\n  endsolid b\n")
        << 1 << 3;
    QTest::newRow("empty solid") << QByteArray("solid\nendsolid\n") << 0 << 0;

    // Not ASCII: the binary attempt reads these and finds them too short.
    QTest::newRow("upper-case SOLID") << lf.toUpper() << -1 << 0;
    QTest::newRow("text after the end") << lf + "extra\n" << -1 << 0;
    QTest::newRow("byte above 0x7F") << stltest::asciiStl(cube, "caf\xc3\xa9") << -1 << 0;
    QTest::newRow("control byte") << QByteArray("solid t\nvertex 0 0 0\x01\nendsolid t\n") << -1 << 0;
    QTest::newRow("CR only") << cubeText("\r") << -1 << 0;
    QTest::newRow("blank line first") << "\n" + lf << -1 << 0;

    const int secondFacet = lf.indexOf("facet normal", lf.indexOf("endfacet"));
    const int endLine = lf.indexOf("endsolid");
    // Damaged ASCII fails whole, and the binary attempt finds no binary file either. Cut inside a
    // facet: the read fails rather than give the facets before it.
    QTest::newRow("cut in the first facet's normal") << lf.left(lf.indexOf("normal") + 3) << -1 << 0;
    QTest::newRow("cut after outer loop") << lf.left(lf.indexOf("loop") + 5) << -1 << 0;
    QTest::newRow("cut inside a vertex line") << lf.left(lf.indexOf("vertex", secondFacet) + 9) << -1 << 0;
    QTest::newRow("cut after the third vertex") << lf.left(lf.indexOf("endloop", secondFacet)) << -1 << 0;
    QTest::newRow("cut inside endloop") << lf.left(lf.indexOf("endloop", secondFacet) + 4) << -1 << 0;
    QTest::newRow("cut inside endfacet") << lf.left(lf.indexOf("endfacet", secondFacet) + 5) << -1 << 0;
    QTest::newRow("cut one byte short") << lf.left(endLine - 2) << -1 << 0;
    // Cut before the first facet: nothing says that the solid was meant to be empty.
    QTest::newRow("cut inside the solid line") << lf.left(8) << -1 << 0;
    QTest::newRow("cut after the solid line") << lf.left(lf.indexOf("facet")) << -1 << 0;
    QTest::newRow("second solid cut before its first facet") << lf + "solid b\n" << -1 << 0;
    // Cut between whole facets, or inside the end line: the facets are all there.
    QTest::newRow("cut after the first facet") << lf.left(secondFacet) << 1 << 3;
    QTest::newRow("cut inside the end line") << lf.left(endLine + 5) << 12 << 8;
    QTest::newRow("cut before the last line end") << lf.chopped(1) << 12 << 8;
    // Lines that a facet cannot hold.
    QByteArray misspelt = lf;
    misspelt.replace(misspelt.indexOf("vertex", secondFacet), 6, "vertx ");
    QTest::newRow("misspelt vertex keyword") << misspelt << -1 << 0;
    QTest::newRow("vertex line with two numbers")
        << QByteArray("solid t\nfacet\nouter loop\nvertex 0 0\nvertex 0 0 0\nvertex 1 0 0\nendloop\n"
                      "endfacet\n")
        << -1 << 0;
    QTest::newRow("four vertices") << solidOf({"vertex 0 0 0", "vertex 1 0 0", "vertex 0 1 0"})
                                          .replace("endloop", "vertex 1 1 0\nendloop")
                                   << -1 << 0;
    QTest::newRow("no outer loop")
        << solidOf({"vertex 0 0 0", "vertex 1 0 0", "vertex 0 1 0"}).replace("outer loop\n", "") << -1 << 0;
    QTest::newRow("upper-case VERTEX")
        << solidOf({"VERTEX 0 0 0", "VERTEX 1 0 0", "VERTEX 0 1 0"}) << -1 << 0;
    QTest::newRow("vertex outside a facet")
        << QByteArray("solid t\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendsolid t\n") << -1 << 0;
    QTest::newRow("end line inside a facet")
        << QByteArray("solid t\nfacet\nouter loop\nvertex 0 0 0\nendsolid t\n") << -1 << 0;
    QTest::newRow("text between facets")
        << lf.left(secondFacet) + "colour red\n" + lf.mid(secondFacet) << -1 << 0;
}

void TestStlReader::asciiFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, facets);
    QFETCH(int, vertices);

    meshtest::MessageCapture capture({QtWarningMsg});
    const ReadResult result = readBytes(bytes);
    if (facets < 0) {
        QVERIFY(!result.mesh);
        QVERIFY(result.status & StlReader::NotReadable);
        QCOMPARE(result.format, 0);
        return;
    }
    QCOMPARE(capture.messages(), QStringList());
    QCOMPARE(result.status, StlReader::Statuses());
    QVERIFY(result.mesh);
    QCOMPARE(result.format, 2);
    QCOMPARE(result.header, QByteArray(80, ' '));
    QCOMPARE(result.mesh->indices().size(), facets);
    QCOMPARE(result.mesh->vertices().size(), vertices);
    QUARN_CHECK_MESH(*result.mesh);
}

void TestStlReader::unitCube_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("binary") << stltest::binaryStl(meshtest::unitCube());
    QTest::newRow("ASCII") << cubeText();
    QTest::newRow("binary, inside out") << stltest::binaryStl(meshtest::reversed(meshtest::unitCube()));
}

void TestStlReader::unitCube()
{
    QFETCH(QByteArray, bytes);
    const ReadResult result = readBytes(bytes);
    QVERIFY(result.mesh);
    QUARN_CHECK_MESH(*result.mesh);
    QCOMPARE(result.mesh->vertices().size(), 8);
    QCOMPARE(result.mesh->indices().size(), 12);
    QVERIFY(qAbs(result.mesh->area() - 6) < 1e-5);
    QVERIFY(qAbs(result.mesh->volume() - 1) < 1e-5);
}

void TestStlReader::signedZeroAndNaN()
{
    const float nanA = nanWithPayload(1);
    const float nanB = nanWithPayload(2);
    // Facet corners are taken third first: the first origin seen is the -0 one of facet 0.
    const QVector<Facet> facets{
        Facet(v(-0.0f, 0, 0), v(1, 0, 0), v(0, 1, 0)), Facet(v(0, 0, 0), v(0, 1, 0), v(0, 0, 1)),
        Facet(v(nanA, 5, 5), v(6, 5, 5), v(5, 6, 5)),  Facet(v(nanA, 5, 5), v(5, 6, 5), v(6, 5, 6)),
        Facet(v(nanB, 5, 5), v(6, 5, 5), v(5, 6, 6)),
    };
    const ReadResult result = readBytes(stltest::binaryStl(facets));
    QVERIFY(result.mesh);
    QCOMPARE(result.mesh->indices().size(), 5);
    const QVector<Vector3f> &vertices = result.mesh->vertices();
    // origin, (1,0,0), (0,1,0), (0,0,1), two NaN vertices, (6,5,5), (5,6,5), (6,5,6), (5,6,6)
    QCOMPARE(vertices.size(), 10);
    int origins = 0, nans = 0;
    for (const Vector3f &p : vertices) {
        if (p.x == 0 && p.y == 0 && p.z == 0) {
            ++origins;
            QVERIFY(std::signbit(p.x));
        }
        if (std::isnan(p.x)) {
            ++nans;
            QVERIFY(floatBits(p.x) == floatBits(nanA) || floatBits(p.x) == floatBits(nanB));
        }
    }
    QCOMPARE(origins, 1);
    QCOMPARE(nans, 2);
    // NaN sorts after every number: the NaN vertices (z = 5) come after the other z = 5 vertices.
    QVERIFY(std::isnan(vertices[6].x));
    QVERIFY(std::isnan(vertices[7].x));
    QCOMPARE(vertices[5].x, 6.0f);
    QCOMPARE(vertices[8].z, 6.0f);
}

void TestStlReader::asciiSpecialNumbers()
{
    const QByteArray text =
        solidOf({"vertex -0 0 0", "vertex 1e0 0 0", "vertex 0 +1 0", "vertex 0.0 0 0", "vertex 0 0 1.",
                 "vertex .0 1 0", "vertex nan 7 7", "vertex 8 7 7", "vertex 7 8 7", "vertex 1e39 9 9",
                 "vertex 1e-50 9 9", "vertex 0x1.8p1 9 9"});
    const ReadResult result = readBytes(text);
    QVERIFY(result.mesh);
    const QVector<Vector3f> &vertices = result.mesh->vertices();
    QCOMPARE(result.mesh->indices().size(), 4);
    QCOMPARE(vertices.size(), 4 + 3 + 3);
    int index = result.mesh->indexOfVertex(v(0, 0, 0));
    QVERIFY(index >= 0);
    QVERIFY(std::signbit(vertices[index].x));
    QVERIFY(result.mesh->indexOfVertex(v(0, 1, 0)) >= 0);
    QVERIFY(result.mesh->indexOfVertex(v(std::numeric_limits<float>::infinity(), 9, 9)) >= 0);
    QVERIFY(result.mesh->indexOfVertex(v(3, 9, 9)) >= 0);
    QVERIFY(result.mesh->indexOfVertex(v(0, 9, 9)) >= 0);
    bool nanSeen = false;
    for (const Vector3f &p : vertices)
        nanSeen = nanSeen || (std::isnan(p.x) && p.y == 7);
    QVERIFY(nanSeen);
}

void TestStlReader::numbersIgnoreLocale()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray locale = commaLocale(dir.path());
    if (locale.isEmpty())
        QSKIP("no comma-decimal locale available");
    const QByteArray text = solidOf({"vertex 1.5 0.25 0", "vertex 2.5 0.25 0", "vertex 1.5 1.75 -0.5e1"});
    QVERIFY(std::setlocale(LC_NUMERIC, locale.constData()));
    float probe = 0;
    std::sscanf("1.5", "%g", &probe);
    const ReadResult result = readBytes(text);
    std::setlocale(LC_NUMERIC, "C");
    QCOMPARE(probe, 1.0f); // the locale is in force: the C library stops at the point
    QVERIFY(result.mesh);
    QCOMPARE(result.mesh->indices().size(), 1);
    QVERIFY(result.mesh->indexOfVertex(v(1.5f, 0.25f, 0)) >= 0);
    QVERIFY(result.mesh->indexOfVertex(v(1.5f, 1.75f, -5)) >= 0);
}

void TestStlReader::failedAsciiAttemptLeavesNoSolid()
{
    // A binary file whose header holds a whole ASCII facet; the count field then fails the ASCII
    // attempt, and the binary attempt must start from an empty mesh.
    const QByteArray head =
        "solid\nfacet\nouter loop\nvertex 7 7 7\nvertex 8 7 7\nvertex 7 8 7\nendloop\nendfacet\n";
    QVERIFY(head.size() < 80);
    const QVector<Facet> cube = meshtest::unitCube();
    const ReadResult result = readBytes(stltest::binaryStl(cube, {}, head));
    QCOMPARE(result.status, StlReader::Statuses());
    QVERIFY(result.mesh);
    QCOMPARE(result.format, 1);
    QCOMPARE(result.mesh->indices().size(), 12);
    QCOMPARE(result.mesh->vertices().size(), 8);
    QCOMPARE(result.mesh->indexOfVertex(v(7, 7, 7)), -1);
    QUARN_CHECK_MESH(*result.mesh);
}

void TestStlReader::sameMeshWhateverTheOrder()
{
    // A closed surface in surface order, shuffled, and as ASCII: one and the same finished mesh.
    const meshtest::Torus torus(3000);
    QVector<Facet> facets = torus.facets();
    const std::unique_ptr<StlMesh> built(meshtest::meshFrom(facets));
    const ReadResult ordered = readBytes(stltest::binaryStl(facets));
    QRandomGenerator random(42);
    std::shuffle(facets.begin(), facets.end(), random);
    const ReadResult shuffled = readBytes(stltest::binaryStl(facets));
    const ReadResult text = readBytes(stltest::asciiStl(facets, "torus", "\r\n"));
    for (const ReadResult *r : {&ordered, &shuffled, &text}) {
        QVERIFY(r->mesh);
        QUARN_CHECK_MESH(*r->mesh);
        QCOMPARE(r->mesh->vertices(), built->vertices());
        QCOMPARE(r->mesh->indices().size(), built->indices().size());
        QVERIFY(std::equal(r->mesh->indices().begin(), r->mesh->indices().end(), built->indices().begin(),
                           geom::sameTriple));
        QCOMPARE(r->mesh->volume(), built->volume());
        QCOMPARE(r->mesh->area(), built->area());
    }
    QCOMPARE(ordered.mesh->vertices().size(), int(torus.vertexCount()));
    QVERIFY(qAbs(ordered.mesh->volume() - torus.idealVolume()) < 0.05 * torus.idealVolume());
}

void TestStlReader::writeThenRead()
{
    const std::unique_ptr<StlMesh> mesh(meshtest::meshFrom(meshtest::Torus(2000).facets()));
    for (int i = 0; i < mesh->indices().size(); ++i)
        mesh->indices()[i].attribute = quint32(i * 37) & 0xFFFF;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("torus.stl");
    {
        QFile file(path);
        geom::StlWriter writer(&file);
        writer.setHeader("round trip");
        QCOMPARE(writer.write(*mesh), mesh->indices().size());
    }
    const ReadResult result = readFile(path);
    QVERIFY(result.mesh);
    QCOMPARE(result.header, QByteArray("round trip").leftJustified(80, ' '));
    QCOMPARE(result.mesh->vertices(), mesh->vertices());
    QCOMPARE(result.mesh->indices().size(), mesh->indices().size());
    for (int i = 0; i < mesh->indices().size(); ++i) {
        const geom::IndexedFacet &a = result.mesh->indices()[i];
        const geom::IndexedFacet &b = mesh->indices()[i];
        QVERIFY(geom::sameTriple(a, b));
        QCOMPARE(a.attribute, b.attribute);
    }
    QCOMPARE(result.mesh->volume(), mesh->volume());
}

void TestStlReader::prefixesFailCleanly()
{
    const QByteArray binary = stltest::binaryStl(meshtest::tetrahedron());
    const QByteArray text = stltest::asciiStl(meshtest::tetrahedron());
    meshtest::MessageCapture quiet;
    for (int n = 0; n < binary.size(); ++n) {
        const ReadResult result = readBytes(binary.left(n));
        QVERIFY2(!result.mesh, qPrintable(QString::number(n)));
        QVERIFY(result.status & (StlReader::Truncated | StlReader::InvalidFormat));
    }
    // An ASCII prefix reads only when it ends between whole facets, after the first one (or
    // inside the end line): then it holds every facet whose "endfacet" line it holds whole.
    const int endLine = text.indexOf("endsolid");
    for (int n = 0; n <= text.size(); ++n) {
        const QByteArray prefix = text.left(n);
        // The last line needs no line end.
        const QByteArray lines = prefix.endsWith("endfacet") ? prefix + '\n' : prefix;
        const int lastFacetEnd = lines.lastIndexOf("endfacet\n");
        const int wholeFacets = lines.count("endfacet\n");
        const bool reads =
            (lastFacetEnd >= 0 && lines.mid(lastFacetEnd + 9).trimmed().isEmpty()) || n > endLine;
        const ReadResult result = readBytes(prefix);
        QVERIFY2(bool(result.mesh) == reads, qPrintable(QString::number(n)));
        if (reads) {
            QCOMPARE(result.format, 2);
            QCOMPARE(result.mesh->indices().size(), wholeFacets);
            QUARN_CHECK_MESH(*result.mesh);
        }
    }
}

void TestStlReader::damagedFilesDoNotCrash()
{
    QRandomGenerator random(7);
    const QByteArray files[] = {stltest::binaryStl(meshtest::unitCube()), cubeText("\r\n")};
    meshtest::MessageCapture quiet;
    for (const QByteArray &original : files) {
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes = original;
            const int flips = 1 + random.bounded(4);
            for (int k = 0; k < flips; ++k)
                bytes[random.bounded(bytes.size())] = char(random.bounded(256));
            if (random.bounded(4) == 0)
                bytes.truncate(random.bounded(bytes.size()));
            const ReadResult result = readBytes(bytes);
            if (!result.mesh)
                continue;
            // note: a flipped exponent byte can give coordinates near the float limit, where the
            // mesh's single-precision statistics overflow and the checker's double sums do not;
            // the lists must still be sound.
            const QString problem = meshtest::checkMesh(*result.mesh);
            const geom::Cuboid &box = result.mesh->bounds();
            const bool extreme = !(std::fabs(box.min().x) < 1e15f && std::fabs(box.min().y) < 1e15f &&
                                   std::fabs(box.min().z) < 1e15f && std::fabs(box.max().x) < 1e15f &&
                                   std::fabs(box.max().y) < 1e15f && std::fabs(box.max().z) < 1e15f);
            const bool statistic =
                problem.startsWith("area") || problem.startsWith("volume") || problem.startsWith("radius");
            QVERIFY2(problem.isEmpty() || (extreme && statistic), qPrintable(problem));
        }
    }
}

void TestStlReader::readsOnce()
{
    QByteArray bytes = stltest::binaryStl(meshtest::unitCube());
    QBuffer buffer(&bytes);
    StlReader reader(&buffer);
    QCOMPARE(reader.device(), &buffer);
    QCOMPARE(reader.format(), 0);
    std::unique_ptr<StlMesh> first(reader.read());
    QVERIFY(first);
    QCOMPARE(first->indices().size(), 12);
    const qint64 position = buffer.pos();
    std::unique_ptr<StlMesh> second(reader.read());
    QVERIFY(second);
    QCOMPARE(second->indices().size(), 0);
    QCOMPARE(buffer.pos(), position);

    QByteArray broken("xyz");
    QBuffer brokenBuffer(&broken);
    StlReader failing(&brokenBuffer);
    meshtest::MessageCapture quiet;
    QVERIFY(!failing.read());
    QVERIFY(!failing.read());
    QCOMPARE(failing.status(), tooShort);
}

void TestStlReader::deviceProblems()
{
    QTemporaryDir dir;
    QFile missing(dir.filePath("missing.stl"));
    StlReader reader(&missing);
    QVERIFY(!reader.read());
    QCOMPARE(reader.status(), StlReader::Statuses(StlReader::NotReadable));

    // A device that is already read from: warned about, then read from where it stands for the
    // ASCII attempt and from the start for the binary one.
    QByteArray bytes = stltest::binaryStl(meshtest::unitCube());
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    buffer.read(10);
    QTest::ignoreMessage(QtWarningMsg, "StlReader is given a used QIODevice, position 10");
    StlReader used(&buffer);
    std::unique_ptr<StlMesh> mesh(used.read());
    QVERIFY(mesh);
    QCOMPARE(mesh->indices().size(), 12);
}

void TestStlReader::peerFiles()
{
    if (stltest::admeshPath().isEmpty())
        QSKIP("admesh is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const meshtest::Torus torus(4000);
    const QString source = dir.filePath("source.stl");
    {
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(stltest::binaryStl(torus.facets()));
    }
    const QString ascii = dir.filePath("admesh-ascii.stl");
    const QString binary = dir.filePath("admesh-binary.stl");
    const stltest::AdmeshReport report =
        stltest::runAdmesh({QStringLiteral("--write-ascii-stl=") + ascii,
                            QStringLiteral("--write-binary-stl=") + binary, source});
    QVERIFY(report.valid);
    QCOMPARE(report.facets, torus.facetCount());

    for (const QString &path : {ascii, binary}) {
        const ReadResult result = readFile(path);
        QVERIFY2(result.mesh, qPrintable(path));
        QCOMPARE(result.format, path == ascii ? 2 : 1);
        QUARN_CHECK_MESH(*result.mesh);
        QCOMPARE(qint64(result.mesh->indices().size()), report.facets);
        QCOMPARE(qint64(result.mesh->vertices().size()), torus.vertexCount());
        QVERIFY2(qAbs(result.mesh->volume() - report.volume) < 1e-4 * report.volume,
                 qPrintable(QStringLiteral("%1 %2").arg(result.mesh->volume()).arg(report.volume)));
        const geom::Cuboid &bounds = result.mesh->bounds();
        const float min[3] = {bounds.min().x, bounds.min().y, bounds.min().z};
        const float max[3] = {bounds.max().x, bounds.max().y, bounds.max().z};
        for (int axis = 0; axis < 3; ++axis) {
            // admesh prints six decimals.
            QVERIFY(qAbs(min[axis] - report.min[axis]) < 1e-5f);
            QVERIFY(qAbs(max[axis] - report.max[axis]) < 1e-5f);
        }
    }
}

QTEST_GUILESS_MAIN(TestStlReader)
#include "tst_stlreader.moc"
