#include "geom/formats/stlreader.h"
#include "geom/mesh/stlmesh.h"

#include "meshbuilders.h"
#include "meshcheck.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <algorithm>
#include <array>
#include <malloc.h>
#include <memory>
#include <sys/resource.h>

#if defined(__SANITIZE_ADDRESS__)
#define QUARN_HAS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARN_HAS_ASAN 1
#endif
#endif
#ifndef QUARN_HAS_ASAN
#define QUARN_HAS_ASAN 0
#endif

using geom::IndexedFacet;
using geom::StlMesh;
using geom::StrippedFacets;
using geom::StripVertex;
using geom::Vector3f;
using meshtest::indexedFacet;

namespace {

using Triple = std::array<qint32, 3>;

Triple rotated(qint32 a, qint32 b, qint32 c)
{
    geom::rotateSmallestFirst(a, b, c);
    return {a, b, c};
}

// The oriented triangles of the stripped form, read with the strip parity rule on its own.
std::vector<Triple> expanded(const StrippedFacets &s)
{
    std::vector<Triple> out;
    for (int i = 0; i < s.stripCount(); ++i) {
        const StripVertex *strip = s.strip(i);
        for (int k = 2; k < s.stripLength(i); ++k) {
            const qint32 x = strip[k - 2].index, y = strip[k - 1].index, z = strip[k].index;
            out.push_back(k % 2 == 0 ? rotated(x, y, z) : rotated(y, x, z));
        }
    }
    for (const QVector<IndexedFacet> &group : s.triangles) {
        for (const IndexedFacet &f : group)
            out.push_back(rotated(f.a, f.b, f.c));
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<Triple> triplesOf(const QVector<IndexedFacet> &facets)
{
    std::vector<Triple> out;
    for (const IndexedFacet &f : facets)
        out.push_back({f.a, f.b, f.c});
    std::sort(out.begin(), out.end());
    return out;
}

QString describe(const StrippedFacets &s)
{
    QStringList parts;
    for (int i = 0; i < s.stripCount(); ++i) {
        QStringList elements;
        for (int k = 0; k < s.stripLength(i); ++k)
            elements << QStringLiteral("%1/%2").arg(s.strip(i)[k].index).arg(s.strip(i)[k].attribute);
        parts << QStringLiteral("S[%1]").arg(elements.join(QLatin1Char(' ')));
    }
    for (const QVector<IndexedFacet> &group : s.triangles) {
        QStringList facets;
        for (const IndexedFacet &f : group)
            facets << QStringLiteral("%1 %2 %3/%4").arg(f.a).arg(f.b).arg(f.c).arg(f.attribute);
        parts << QStringLiteral("G[%1]").arg(facets.join(QLatin1String(", ")));
    }
    return parts.join(QLatin1Char(' '));
}

QString describe(const QVector<IndexedFacet> &facets)
{
    QStringList out;
    for (const IndexedFacet &f : facets)
        out << QStringLiteral("%1 %2 %3/%4").arg(f.a).arg(f.b).arg(f.c).arg(f.attribute);
    return out.join(QLatin1String(", "));
}

QVector<Vector3f> points(int count)
{
    QVector<Vector3f> out;
    for (int i = 0; i < count; ++i)
        out.append(Vector3f(float(i % 5), float(i / 5), float(i)));
    return out;
}

// A copy of the mesh whose facet i carries a varied attribute word, upper bits included.
std::unique_ptr<StlMesh> withAttributes(const StlMesh &mesh)
{
    QVector<IndexedFacet> facets = mesh.indices();
    for (int i = 0; i < facets.size(); ++i)
        facets[i].attribute = (quint32(i) * 2654435761u) & 0x7FFFFFFFu;
    auto out = std::make_unique<StlMesh>();
    out->setData(mesh.vertices(), facets);
    return out;
}

// The facet list a round trip must give: repeated triples all carry the first one's word.
QVector<IndexedFacet> firstAttributeOfRepeats(QVector<IndexedFacet> facets)
{
    for (int i = 1; i < facets.size(); ++i) {
        if (geom::sameTriple(facets[i], facets[i - 1]))
            facets[i].attribute = facets[i - 1].attribute;
    }
    return facets;
}

// Writes the facets as ASCII STL with every float written exactly.
bool writeAsciiStl(const QString &path, const QVector<geom::Facet> &facets)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream out(&file);
    out << "solid peer\n";
    const auto number = [](float v) { return QString::number(double(v), 'g', 9); };
    for (const geom::Facet &f : facets) {
        out << " facet normal " << number(f.normal.x) << ' ' << number(f.normal.y) << ' '
            << number(f.normal.z) << "\n  outer loop\n";
        for (const Vector3f &v : f.vertex)
            out << "   vertex " << number(v.x) << ' ' << number(v.y) << ' ' << number(v.z) << '\n';
        out << "  endloop\n endfacet\n";
    }
    out << "endsolid peer\n";
    return out.status() == QTextStream::Ok;
}

#if !QUARN_HAS_ASAN
// A figure of /proc/self/status in kilobytes, or -1.
qint64 statusKilobytes(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// note: large blocks always get mappings of their own, so that no room freed by earlier tests can
// serve the stripper when a test limits the data size.
const int largeBlocksMapped = mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif

} // namespace

class TestStlMeshStrip : public QObject
{
    Q_OBJECT

private slots:
    void twoFacets();
    void emptyMesh();
    void fromStrippedFacets_data();
    void fromStrippedFacets();
    void roundTrip_data();
    void roundTrip();
    void peerToolFile();
    void facetMissingFromList();
    void failureGivesEmptyResult();

private:
    void checkRoundTrip(const StlMesh &mesh);
};

void TestStlMeshStrip::twoFacets()
{
    StlMesh mesh;
    mesh.setData(points(4), {indexedFacet(0, 1, 2, 7), indexedFacet(1, 3, 2, 9)});
    const StrippedFacets s = mesh.toStrippedFacets();
    QCOMPARE(describe(s), QStringLiteral("S[0/0 1/0 2/7 3/9]"));

    StlMesh back;
    back.fromStrippedFacets(mesh.vertices(), s);
    QCOMPARE(describe(back.indices()), QStringLiteral("0 1 2/7, 1 3 2/9"));
    QUARN_CHECK_MESH(back);
}

void TestStlMeshStrip::emptyMesh()
{
    StlMesh mesh;
    const StrippedFacets s = mesh.toStrippedFacets();
    QCOMPARE(s.stripCount(), 0);
    QVERIFY(s.triangles.isEmpty());

    StlMesh back;
    back.fromStrippedFacets(points(3), s);
    QVERIFY(back.vertices().isEmpty());
    QVERIFY(back.indices().isEmpty());
    QUARN_CHECK_MESH(back);
}

Q_DECLARE_METATYPE(StrippedFacets)
Q_DECLARE_METATYPE(QVector<geom::Facet>)

void TestStlMeshStrip::fromStrippedFacets_data()
{
    QTest::addColumn<int>("vertexCount");
    QTest::addColumn<StrippedFacets>("stripped");
    QTest::addColumn<QString>("facets");

    const auto strip = [](std::initializer_list<std::pair<qint32, quint32>> elements) {
        QVector<StripVertex> out;
        for (const auto &e : elements) {
            StripVertex v;
            v.index = e.first;
            v.attribute = e.second;
            out.append(v);
        }
        return out;
    };

    StrippedFacets three;
    three.appendStrip(strip({{0, 0}, {1, 0}, {2, 5}}));
    QTest::newRow("strip of three") << 3 << three << "0 1 2/5";

    StrippedFacets shortStrips;
    shortStrips.appendStrip(strip({{0, 1}, {1, 1}}));
    shortStrips.appendStrip(strip({}));
    shortStrips.appendStrip(strip({{2, 0}, {0, 0}, {1, 4}}));
    QTest::newRow("strips under three add nothing") << 3 << shortStrips << "0 1 2/4";

    StrippedFacets unused;
    unused.appendStrip(strip({{4, 0}, {2, 0}, {6, 3}, {5, 8}}));
    // Vertices 0, 1 and 3 go; 2, 4, 5, 6 become 0, 1, 2, 3: facets (4, 2, 6) and (6, 2, 5).
    QTest::newRow("unused vertices dropped") << 7 << unused << "0 2 3/8, 0 3 1/3";

    StrippedFacets outside;
    outside.appendStrip(strip({{0, 0}, {1, 0}, {2, 1}, {9, 2}}));
    outside.triangles = {{indexedFacet(0, 2, 1, 6), indexedFacet(-1, 0, 1, 6), indexedFacet(1, 2, 3, 7)}};
    QTest::newRow("indices outside dropped") << 3 << outside << "0 1 2/1, 0 2 1/6";

    StrippedFacets repeated;
    repeated.appendStrip(strip({{0, 0}, {1, 0}, {2, 1}, {0, 2}, {1, 3}}));
    repeated.triangles = {{indexedFacet(1, 2, 0, 4)}, {indexedFacet(2, 1, 3, 5)}};
    // The strip gives (0, 1, 2), (2, 1, 0) and (2, 0, 1), the first and the last the same triple.
    QTest::newRow("repeats and groups kept")
        << 4 << repeated << "0 1 2/1, 0 1 2/3, 0 1 2/4, 0 2 1/2, 1 3 2/5";
}

void TestStlMeshStrip::fromStrippedFacets()
{
    QFETCH(int, vertexCount);
    QFETCH(StrippedFacets, stripped);
    QFETCH(QString, facets);

    StlMesh mesh;
    mesh.fromStrippedFacets(points(vertexCount), stripped);
    QCOMPARE(describe(mesh.indices()), facets);
    QUARN_CHECK_MESH(mesh);
}

void TestStlMeshStrip::roundTrip_data()
{
    QTest::addColumn<QVector<geom::Facet>>("facets");
    QTest::addColumn<int>("invalidFacets");

    QTest::newRow("tetrahedron") << meshtest::tetrahedron() << 0;
    QTest::newRow("cube") << meshtest::unitCube() << 0;
    QTest::newRow("open strip") << meshtest::openStrip(11) << 0;
    QTest::newRow("open sheet") << meshtest::sheet(13, 7) << 0;
    QTest::newRow("reversed sheet") << meshtest::reversed(meshtest::sheet(5, 9)) << 0;
    QTest::newRow("torus") << meshtest::Torus(20000).facets() << 0;
    QTest::newRow("degenerate facets") << meshtest::degenerateFacets() + meshtest::sheet(3, 3) << 1;
    QTest::newRow("repeated cube") << meshtest::repeatedCube() << 0;
    QTest::newRow("non-manifold fan") << meshtest::nonManifoldFan() + meshtest::unitCube() << 0;
    QTest::newRow("cube and its reverse")
        << meshtest::unitCube() + meshtest::reversed(meshtest::unitCube()) << 0;
}

void TestStlMeshStrip::roundTrip()
{
    QFETCH(QVector<geom::Facet>, facets);
    QFETCH(int, invalidFacets);
    if (invalidFacets > 0)
        QTest::ignoreMessage(
            QtWarningMsg, qPrintable(QStringLiteral("Clean indices dropped %1 items.").arg(invalidFacets)));
    std::unique_ptr<StlMesh> soup(meshtest::meshFrom(facets));
    QVERIFY(!soup->indices().isEmpty());
    checkRoundTrip(*withAttributes(*soup));
}

void TestStlMeshStrip::checkRoundTrip(const StlMesh &mesh)
{
    const StrippedFacets s = mesh.toStrippedFacets();
    QVERIFY(expanded(s) == triplesOf(mesh.indices()));
    for (int i = 0; i < s.stripCount(); ++i) {
        QVERIFY(s.stripLength(i) >= 4 && s.stripLength(i) <= 10);
        QCOMPARE(s.strip(i)[0].attribute, 0u);
        QCOMPARE(s.strip(i)[1].attribute, 0u);
    }
    QCOMPARE(describe(mesh.toStrippedFacets()), describe(s));

    StlMesh back;
    back.fromStrippedFacets(mesh.vertices(), s);
    QCOMPARE(back.vertices(), mesh.vertices());
    QCOMPARE(describe(back.indices()), describe(firstAttributeOfRepeats(mesh.indices())));
    QUARN_CHECK_MESH(back);
}

void TestStlMeshStrip::peerToolFile()
{
    const QString admesh = QStandardPaths::findExecutable(QStringLiteral("admesh"));
    if (admesh.isEmpty())
        QSKIP("admesh is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("source.stl"));
    const QString written = dir.filePath(QStringLiteral("peer.stl"));
    QVERIFY(writeAsciiStl(source, meshtest::Torus(3000).facets() + meshtest::sheet(4, 3)));

    QProcess peer;
    peer.start(admesh, {QStringLiteral("--write-binary-stl=") + written, source});
    QVERIFY(peer.waitForFinished(60000));
    QCOMPARE(peer.exitCode(), 0);

    QFile file(written);
    geom::StlReader reader(&file);
    std::unique_ptr<StlMesh> mesh(reader.read());
    QVERIFY(mesh);
    QCOMPARE(reader.format(), 1);
    QVERIFY(mesh->indices().size() >= 3000);
    checkRoundTrip(*mesh);
    checkRoundTrip(*withAttributes(*mesh));
}

void TestStlMeshStrip::facetMissingFromList()
{
    // In attribute order the facet list no longer suits the search by triple: emitted triangles
    // go unfound, take attribute 0 and are never looked up past the end of the list.
    StlMesh strip;
    strip.setData(points(4), {indexedFacet(0, 1, 2, 9), indexedFacet(1, 3, 2, 7)});
    strip.sortIndices(0);
    QCOMPARE(describe(strip.toStrippedFacets()), QStringLiteral("S[3/0 2/0 1/0 0/0]"));

    StlMesh group;
    group.setData(points(6), {indexedFacet(0, 1, 2, 9), indexedFacet(3, 4, 5, 7)});
    group.sortIndices(0);
    QCOMPARE(describe(group.toStrippedFacets()), QStringLiteral("G[3 4 5/0, 0 1 2/0]"));
}

void TestStlMeshStrip::failureGivesEmptyResult()
{
#if QUARN_HAS_ASAN
    QSKIP("a data-size limit cannot be combined with AddressSanitizer");
#else
    std::unique_ptr<StlMesh> mesh(meshtest::meshFrom(meshtest::Torus(400000).facets()));
    const int vertexCount = mesh->vertices().size();
    const int facetCount = mesh->indices().size();
    QTest::ignoreMessage(QtCriticalMsg, qPrintable(QStringLiteral("StlMesh: toStrippedFacets VertexCount(%1) "
                                                                  "IndicesCount(%2)")
                                                       .arg(vertexCount)
                                                       .arg(facetCount)));

    // note: the stripper's tables need tens of megabytes for this mesh; a data-size limit a few
    // megabytes above what the process holds now makes one of its allocations fail.
    const qint64 dataBytes = statusKilobytes("VmData:") * 1024;
    QVERIFY(dataBytes > 0);
    rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_DATA, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = rlim_t(dataBytes + 8 * 1024 * 1024);
    QCOMPARE(setrlimit(RLIMIT_DATA, &limited), 0);
    const StrippedFacets s = mesh->toStrippedFacets();
    QCOMPARE(setrlimit(RLIMIT_DATA, &saved), 0);

    QCOMPARE(s.stripCount(), 0);
    QVERIFY(s.triangles.isEmpty());
    // The read lock was released: a writer gets through.
    mesh->clear();
    QVERIFY(mesh->indices().isEmpty());
#endif
}

QTEST_GUILESS_MAIN(TestStlMeshStrip)
#include "tst_stlmesh_strip.moc"
