#include "geom/mesh/stlmesh.h"
#include "geom/mesh/stlmesh_p.h"
#include "geom/mesh/stlmeshbuilder.h"
#include "geom/mesh/vertexorder.h"

#include "meshbuilders.h"
#include "meshcheck.h"
#include "messagecapture.h"

#include <QRandomGenerator>
#include <QReadWriteLock>
#include <QtTest>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>

using geom::Facet;
using geom::IndexedFacet;
using geom::StlMesh;
using geom::Vector3f;
using meshtest::floatBits;
using meshtest::floatFromBits;
using meshtest::indexedFacet;

Q_DECLARE_METATYPE(QVector<geom::Facet>)
Q_DECLARE_METATYPE(QVector<geom::Vector3f>)
Q_DECLARE_METATYPE(QVector<geom::IndexedFacet>)

namespace {

using MeshPtr = std::unique_ptr<StlMesh>;

const float Inf = std::numeric_limits<float>::infinity();

bool sameVertexBits(const Vector3f &p, const Vector3f &q)
{
    return floatBits(p.x) == floatBits(q.x) && floatBits(p.y) == floatBits(q.y) &&
           floatBits(p.z) == floatBits(q.z);
}

// The signed volume of the facets in double: positive for a closed surface wound outward.
double signedVolume(const StlMesh &mesh)
{
    double sum = 0;
    const QVector<Vector3f> &v = mesh.vertices();
    for (const IndexedFacet &f : mesh.indices()) {
        const Vector3f &p = v[f.a], &q = v[f.b], &r = v[f.c];
        sum += (double(p.x) * (double(q.y) * r.z - double(q.z) * r.y) -
                double(p.y) * (double(q.x) * r.z - double(q.z) * r.x) +
                double(p.z) * (double(q.x) * r.y - double(q.y) * r.x)) /
               6;
    }
    return sum;
}

// The merge the builder stands for, written the plain way: an ordered map from coordinates to the
// index first given, then the map's keys (those a valid facet uses) as the vertex list and the
// facets renumbered, rotated, stripped of invalid facets and stably sorted.
void referenceBuild(const QVector<Facet> &facets, const QVector<quint16> &attributes,
                    QVector<Vector3f> &vertices, QVector<IndexedFacet> &indices)
{
    std::map<Vector3f, int, bool (*)(const Vector3f &, const Vector3f &)> map(geom::vertexLess);
    QVector<IndexedFacet> raw;
    auto indexOf = [&map](const Vector3f &v) {
        const auto inserted = map.emplace(v, int(map.size()));
        return inserted.first->second;
    };
    for (int i = 0; i < facets.size(); ++i) {
        IndexedFacet f;
        f.c = indexOf(facets[i].vertex[2]);
        f.b = indexOf(facets[i].vertex[1]);
        f.a = indexOf(facets[i].vertex[0]);
        f.attribute = attributes.isEmpty() ? 0 : attributes[i];
        raw.append(f);
    }
    // Vertices named only by facets with a repeated index go with those facets.
    QVector<bool> used(int(map.size()), false);
    for (const IndexedFacet &f : qAsConst(raw)) {
        if (f.a != f.b && f.b != f.c && f.a != f.c)
            used[f.a] = used[f.b] = used[f.c] = true;
    }
    QVector<int> position(int(map.size()), -1);
    vertices.clear();
    for (const auto &entry : map) {
        if (!used[entry.second])
            continue;
        position[entry.second] = vertices.size();
        vertices.append(entry.first);
    }
    indices.clear();
    for (IndexedFacet f : raw) {
        f.a = position[f.a];
        f.b = position[f.b];
        f.c = position[f.c];
        if (f.a == f.b || f.b == f.c || f.a == f.c)
            continue;
        geom::rotateSmallestFirst(f.a, f.b, f.c);
        indices.append(f);
    }
    std::stable_sort(indices.begin(), indices.end(), geom::facetLess);
}

} // namespace

class TestStlMesh : public QObject
{
    Q_OBJECT

private slots:
    void facetRecord();
    void degenerateOrSmall_data();
    void degenerateOrSmall();
    void emptyMesh();
    void buildFromFacets_data();
    void buildFromFacets();
    void mergeMatchesOrderedMap_data();
    void mergeMatchesOrderedMap();
    void appendingInStepsEqualsOneBuild();
    void builderWithBase();
    void signedZeroKeepsFirstSeen_data();
    void signedZeroKeepsFirstSeen();
    void nanVertices();
    void setData_data();
    void setData();
    void setDataRefusesMissingData();
    void appendMesh();
    void addFacetsPadsAttributes();
    void vertexQueries();
    void facetQueries();
    void copyHasOwnLock();
    void attributeMask();
    void flatSquareStatistics();
    void transformed_data();
    void transformed();
    void transformedStatisticsOnly();
    void scaleAndTranslate();
    void derivedLists();
    void facetsMappedByMatrix();
    void removeDuplicateFacets();
    void torusIsClosed();
};

// The STL facet record: normal from the winding, area, flip, and no guard for degenerate facets.
void TestStlMesh::facetRecord()
{
    Facet f(Vector3f(0, 0, 0), Vector3f(1, 0, 0), Vector3f(0, 1, 0));
    QCOMPARE(f.normal, Vector3f(0, 0, 1));
    QCOMPARE(f.area(), 0.5);
    QCOMPARE(f.crossProduct(), Vector3f(0, 0, 1));
    f.flip();
    QCOMPARE(f.vertex[1], Vector3f(0, 1, 0));
    QCOMPARE(f.vertex[2], Vector3f(1, 0, 0));
    QCOMPARE(f.normal, Vector3f(0, 0, -1));
    QCOMPARE(f.computedNormal(), Vector3f(0, 0, -1));

    const Facet lifted(geom::Vector2f(0, 0), geom::Vector2f(2, 0), geom::Vector2f(0, 2), 3);
    QCOMPARE(lifted.vertex[2], Vector3f(0, 2, 3));
    QCOMPARE(lifted.normal, Vector3f(0, 0, 1));
    QCOMPARE(lifted.area(), 2.0);
    const Facet given(Vector3f(0, 0, 0), Vector3f(1, 0, 0), Vector3f(0, 1, 0), Vector3f(7, 8, 9));
    QCOMPARE(given.normal, Vector3f(7, 8, 9));

    const Facet degenerate(Vector3f(1, 1, 1), Vector3f(1, 1, 1), Vector3f(0, 1, 0));
    QVERIFY(!std::isfinite(degenerate.normal.x));
    QCOMPARE(degenerate.area(), 0.0);
}

// A facet lacks a direction by its own shape, never by its size: the same facet in any unit gets
// the same verdict.
void TestStlMesh::degenerateOrSmall_data()
{
    QTest::addColumn<QVector<Vector3f>>("corners");
    QTest::addColumn<bool>("degenerate");
    QTest::addColumn<Vector3f>("normal");

    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Vector3f up(0, 0, 1);
    for (const float s : {1e-15f, 1e-4f, 1.0f, 1e4f}) {
        const QByteArray at = " at " + QByteArray::number(double(s));
        QTest::newRow("right triangle" + at)
            << QVector<Vector3f>{Vector3f(0, 0, 0), Vector3f(s, 0, 0), Vector3f(0, s, 0)} << false << up;
        // sine 2.5e-7 at the first corner
        QTest::newRow("sliver 1 by 8" + at)
            << QVector<Vector3f>{Vector3f(0, 0, 0), Vector3f(4 * s, 0, 0), Vector3f(8 * s, 2e-6f * s, 0)}
            << true << Vector3f();
        // sine 2.5e-5: thin, but its direction is sound
        QTest::newRow("thin 1 by 8" + at)
            << QVector<Vector3f>{Vector3f(0, 0, 0), Vector3f(4 * s, 0, 0), Vector3f(8 * s, 2e-4f * s, 0)}
            << false << up;
    }
    QTest::newRow("needle, short edge at the first corner")
        << QVector<Vector3f>{Vector3f(0, 0, 0), Vector3f(1e-6f, 0, 0), Vector3f(0, 1, 0)} << false << up;
    QTest::newRow("collinear") << QVector<Vector3f>{Vector3f(1, 1, 1), Vector3f(2, 2, 2), Vector3f(3, 3, 3)}
                               << true << Vector3f();
    QTest::newRow("two equal corners")
        << QVector<Vector3f>{Vector3f(1, 2, 3), Vector3f(1, 2, 3), Vector3f(0, 1, 0)} << true << Vector3f();
    QTest::newRow("nan corner") << QVector<Vector3f>{Vector3f(0, 0, 0), Vector3f(nan, 0, 0),
                                                     Vector3f(0, 1, 0)}
                                << true << Vector3f();
    QTest::newRow("infinite corner") << QVector<Vector3f>{Vector3f(0, 0, 0), Vector3f(inf, 0, 0),
                                                          Vector3f(0, 1, 0)}
                                     << true << Vector3f();
}

void TestStlMesh::degenerateOrSmall()
{
    QFETCH(QVector<Vector3f>, corners);
    QFETCH(bool, degenerate);
    QFETCH(Vector3f, normal);
    const geom::FacetCross cross = geom::facetCross(corners[0], corners[1], corners[2]);
    QCOMPARE(cross.degenerate, degenerate);
    QCOMPARE(cross.normal(), normal);
}

void TestStlMesh::emptyMesh()
{
    StlMesh mesh;
    QVERIFY(mesh.vertices().isEmpty());
    QVERIFY(mesh.indices().isEmpty());
    QVERIFY(mesh.bounds().isNull());
    QCOMPARE(mesh.bounds().min().x, std::numeric_limits<float>::max());
    QCOMPARE(mesh.bounds().max().z, -std::numeric_limits<float>::max());
    for (int w = 0; w < geom::StlMeshPrivate::AttributeMaskWords; ++w)
        QCOMPARE(mesh.attributeMask()[w], 0xFFFFFFFFu);
    QCOMPARE(mesh.radius(), 0.0);
    QCOMPARE(mesh.area(), 0.0);
    QCOMPARE(mesh.volume(), 0.0);
    QCOMPARE(mesh.indexOrder(), 2);
    QUARN_CHECK_MESH(mesh);

    // Building and clearing return to the same state.
    mesh.addFacets(meshtest::unitCube());
    mesh.clear();
    QVERIFY(mesh.vertices().isEmpty() && mesh.indices().isEmpty() && mesh.bounds().isNull());
    QCOMPARE(mesh.area(), 0.0);
    QUARN_CHECK_MESH(mesh);
}

void TestStlMesh::buildFromFacets_data()
{
    QTest::addColumn<QVector<Facet>>("facets");
    QTest::addColumn<int>("facetCount");
    QTest::addColumn<int>("vertexCount");
    QTest::addColumn<int>("duplicates");
    QTest::addColumn<double>("area");
    QTest::addColumn<double>("volume");
    QTest::addColumn<QString>("warning");

    const double tetraArea = 1.5 + std::sqrt(3.0) / 2;
    QTest::newRow("tetrahedron") << meshtest::tetrahedron() << 4 << 4 << 0 << tetraArea << 1.0 / 6
                                 << QString();
    QTest::newRow("unit cube") << meshtest::unitCube() << 12 << 8 << 0 << 6.0 << 1.0 << QString();
    QTest::newRow("cube wound inward")
        << meshtest::reversed(meshtest::unitCube()) << 12 << 8 << 0 << 6.0 << 1.0 << QString();
    QTest::newRow("cube, every facet twice")
        << meshtest::repeatedCube() << 24 << 8 << 12 << 6.0 << 1.0 << QString();
    QTest::newRow("box 2x3x4 off origin") << meshtest::box(Vector3f(-1, 5, 10), Vector3f(1, 8, 14)) << 12 << 8
                                          << 0 << 52.0 << 24.0 << QString();
    QTest::newRow("open strip") << meshtest::openStrip(5) << 5 << 7 << 0 << 2.5 << 0.0 << QString();
    QTest::newRow("sheet 3x2") << meshtest::sheet(3, 2) << 12 << 12 << 0 << 6.0 << 0.0 << QString();
    // Open surfaces: the volume is that of the cones from the first vertex, (0, -1, 0) for the fan.
    QTest::newRow("non-manifold fan")
        << meshtest::nonManifoldFan() << 4 << 5 << 0 << 2.0 << 1.0 / 6 << QString();
    QTest::newRow("degenerate and sliver") << meshtest::degenerateFacets() << 2 << 4 << 0 << 0.5 << 0.0
                                           << QStringLiteral("Clean indices dropped 1 items.");
}

void TestStlMesh::buildFromFacets()
{
    QFETCH(QVector<Facet>, facets);
    QFETCH(int, facetCount);
    QFETCH(int, vertexCount);
    QFETCH(int, duplicates);
    QFETCH(double, area);
    QFETCH(double, volume);
    QFETCH(QString, warning);

    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    MeshPtr mesh(meshtest::meshFrom(facets));
    QUARN_CHECK_MESH(*mesh);
    QCOMPARE(mesh->indices().size(), facetCount);
    QCOMPARE(mesh->vertices().size(), vertexCount);
    QCOMPARE(mesh->duplicateFacetCount(), duplicates);
    QVERIFY2(qAbs(mesh->area() - area) <= 1e-5 * area, qPrintable(QString::number(mesh->area(), 'g', 10)));
    QVERIFY2(qAbs(mesh->volume() - volume) <= 1e-5 * qMax(volume, 1.0),
             qPrintable(QString::number(mesh->volume(), 'g', 10)));
}

void TestStlMesh::mergeMatchesOrderedMap_data()
{
    QTest::addColumn<int>("facetCount");
    QTest::addColumn<int>("grid");
    QTest::addColumn<bool>("withNaN");

    // Small grids force many repeats; the larger ones take the radix path of the vertex sort.
    QTest::newRow("few vertices") << 40 << 3 << false;
    QTest::newRow("many vertices") << 6000 << 30 << false;
    QTest::newRow("many vertices, NaN") << 6000 << 30 << true;
    QTest::newRow("few vertices, NaN") << 60 << 4 << true;
    // Over 2^18 vertices the sort's passes are shared out in slices.
    QTest::newRow("sliced sort") << 150000 << 200 << false;
    QTest::newRow("sliced sort, NaN") << 150000 << 200 << true;
}

void TestStlMesh::mergeMatchesOrderedMap()
{
    QFETCH(int, facetCount);
    QFETCH(int, grid);
    QFETCH(bool, withNaN);

    QRandomGenerator random(1234 + facetCount);
    const float nanA = floatFromBits(0x7FC00001u), nanB = floatFromBits(0xFFC00000u);
    auto coordinate = [&]() -> float {
        const int k = int(random.bounded(grid + 4));
        if (k == grid)
            return -0.0f;
        if (k == grid + 1)
            return withNaN ? nanA : 1.0f / 3;
        if (k == grid + 2)
            return withNaN ? nanB : -1e-30f;
        return float(k - grid / 2) * 0.25f;
    };
    QVector<Facet> facets;
    QVector<quint16> attributes;
    for (int i = 0; i < facetCount; ++i) {
        Facet f;
        for (Vector3f &v : f.vertex)
            v = Vector3f(coordinate(), coordinate(), coordinate());
        facets.append(f);
        attributes.append(quint16(random.bounded(4)));
    }
    QVector<Vector3f> vertices;
    QVector<IndexedFacet> indices;
    referenceBuild(facets, attributes, vertices, indices);

    MeshPtr mesh(new StlMesh);
    {
        meshtest::MessageCapture catcher;
        mesh->addFacets(facets, attributes);
    }
    QCOMPARE(mesh->vertices().size(), vertices.size());
    for (int i = 0; i < vertices.size(); ++i)
        QVERIFY2(sameVertexBits(mesh->vertices()[i], vertices[i]), qPrintable(QString::number(i)));
    QCOMPARE(mesh->indices().size(), indices.size());
    for (int i = 0; i < indices.size(); ++i) {
        const IndexedFacet &f = mesh->indices()[i], &g = indices[i];
        QVERIFY2(geom::sameTriple(f, g) && f.attribute == g.attribute, qPrintable(QString::number(i)));
    }
    if (!withNaN)
        QUARN_CHECK_MESH(*mesh);
}

void TestStlMesh::appendingInStepsEqualsOneBuild()
{
    // The second call merges into the finished first mesh through the base path.
    meshtest::Torus torus(2000);
    const QVector<Facet> all = torus.facets();
    const QVector<Facet> first = all.mid(0, all.size() / 3);
    const QVector<Facet> rest = all.mid(all.size() / 3);
    MeshPtr whole(meshtest::meshFrom(all));
    MeshPtr steps(meshtest::meshFrom(first));
    QUARN_CHECK_MESH(*steps);
    steps->addFacets(rest);
    QUARN_CHECK_MESH(*steps);
    QCOMPARE(steps->vertices().size(), whole->vertices().size());
    QCOMPARE(steps->vertices(), whole->vertices());
    QCOMPARE(steps->indices().size(), whole->indices().size());
    QVERIFY(std::equal(steps->indices().begin(), steps->indices().end(), whole->indices().begin(),
                       geom::sameTriple));
    QCOMPARE(steps->area(), whole->area());
}

void TestStlMesh::builderWithBase()
{
    MeshPtr mesh(meshtest::meshFrom(meshtest::unitCube()));
    geom::StlMeshBuilder builder(&mesh->vertices());
    QCOMPARE(builder.vertexCount(), 8);
    // A base vertex keeps its position; a new one gets the next index.
    QCOMPARE(builder.vertexIndex(Vector3f(1, 1, 1)), mesh->indexOfVertex(Vector3f(1, 1, 1)));
    QCOMPARE(builder.vertexIndex(Vector3f(2, 0, 0)), 8);
    QCOMPARE(builder.vertexIndex(Vector3f(2, 0, 0)), 8);
    QCOMPARE(builder.mappedVertexCount(), 2);
    // A tent over the cube's +x face: two new vertices, one shared edge.
    builder.addFacet(Vector3f(1, 0, 0), Vector3f(2, 0, 0), Vector3f(1, 0, 1), 5);
    builder.addFacet(Vector3f(1, 0, 1), Vector3f(2, 0, 0), Vector3f(2, 0, 1), 6);
    QCOMPARE(builder.vertexCount(), 10);
    mesh->append(builder);
    QUARN_CHECK_MESH(*mesh);
    QCOMPARE(mesh->vertices().size(), 10);
    QCOMPARE(mesh->indices().size(), 14);
    // The builder is restarted over the grown mesh.
    QVERIFY(builder.facets().isEmpty());
    QCOMPARE(builder.vertexCount(), 10);
    QCOMPARE(builder.baseVertices(), &mesh->vertices());

    // An empty builder changes nothing.
    const double area = mesh->area();
    mesh->append(builder);
    QCOMPARE(mesh->area(), area);
    QCOMPARE(mesh->indices().size(), 14);
}

void TestStlMesh::signedZeroKeepsFirstSeen_data()
{
    QTest::addColumn<float>("firstSeen");
    QTest::addColumn<float>("later");
    QTest::newRow("-0 first") << -0.0f << 0.0f;
    QTest::newRow("+0 first") << 0.0f << -0.0f;
}

void TestStlMesh::signedZeroKeepsFirstSeen()
{
    QFETCH(float, firstSeen);
    QFETCH(float, later);
    // The third vertex of a facet is resolved first.
    const QVector<Facet> facets = {
        Facet(Vector3f(1, 0, 0), Vector3f(0, 1, 0), Vector3f(firstSeen, firstSeen, firstSeen)),
        Facet(Vector3f(later, later, later), Vector3f(0, 1, 0), Vector3f(0, 0, 1)),
    };
    MeshPtr mesh(meshtest::meshFrom(facets));
    QUARN_CHECK_MESH(*mesh);
    QCOMPARE(mesh->vertices().size(), 4);
    const int origin = mesh->indexOfVertex(Vector3f(later, later, later));
    QVERIFY(origin >= 0);
    QCOMPARE(floatBits(mesh->vertices()[origin].x), floatBits(firstSeen));
    QCOMPARE(floatBits(mesh->vertices()[origin].z), floatBits(firstSeen));
}

void TestStlMesh::nanVertices()
{
    const float nanA = floatFromBits(0x7FC00000u), nanB = floatFromBits(0x7FC00001u);
    const QVector<Facet> facets = {
        Facet(Vector3f(0, 0, 0), Vector3f(1, 0, 0), Vector3f(nanA, 0, 0)),
        Facet(Vector3f(1, 0, 0), Vector3f(0, 0, 0), Vector3f(nanA, 0, 0)), // the same NaN vertex
        Facet(Vector3f(0, 0, 0), Vector3f(1, 0, 0), Vector3f(nanB, 0, 0)), // another NaN
        Facet(Vector3f(0, 0, 0), Vector3f(0, 0, Inf), Vector3f(0, 1, 0)),
        Facet(Vector3f(0, 0, 0), Vector3f(0, 1, 0), Vector3f(0, 0, nanA)),
    };
    MeshPtr mesh(meshtest::meshFrom(facets));
    // (0,0,0), (1,0,0), (0,1,0), two x-NaN vertices, then z = inf, then z = NaN.
    const QVector<Vector3f> &v = mesh->vertices();
    QCOMPARE(v.size(), 7);
    QCOMPARE(mesh->indices().size(), 5);
    QCOMPARE(floatBits(v[3].x), floatBits(nanA));
    QCOMPARE(floatBits(v[4].x), floatBits(nanB));
    QCOMPARE(v[5].z, Inf);
    QCOMPARE(floatBits(v[6].z), floatBits(nanA));
    QCOMPARE(mesh->indexOfVertex(Vector3f(nanB, 0, 0)), 4);
    QCOMPARE(mesh->indexOfVertex(Vector3f(floatFromBits(0x7FC00002u), 0, 0)), -1);
    // NaN facets add no area; the box ignores NaN coordinates.
    QCOMPARE(mesh->bounds().min().z, 0.0f);
    QCOMPARE(mesh->bounds().max().z, Inf);
    QUARN_CHECK_MESH(*mesh);
}

void TestStlMesh::setData_data()
{
    QTest::addColumn<QVector<Vector3f>>("vertices");
    QTest::addColumn<QVector<IndexedFacet>>("indices");
    QTest::addColumn<QVector<Vector3f>>("expectedVertices");
    QTest::addColumn<QVector<IndexedFacet>>("expectedIndices");
    QTest::addColumn<QString>("warning");

    const Vector3f p0(0, 0, 0), p1(1, 0, 0), p2(1, 1, 0), p3(0, 0, 1), high(5, 5, 5); // in vertex order
    QTest::newRow("rotated smallest first, bit 31 cleared")
        << QVector<Vector3f>{p0, p1, p2} << QVector<IndexedFacet>{indexedFacet(2, 0, 1, 0x80000007u)}
        << QVector<Vector3f>{p0, p1, p2} << QVector<IndexedFacet>{indexedFacet(0, 1, 2, 7)} << QString();
    QTest::newRow("both windings kept, sorted")
        << QVector<Vector3f>{p0, p1, p2}
        << QVector<IndexedFacet>{indexedFacet(2, 1, 0, 1), indexedFacet(1, 2, 0, 2)}
        << QVector<Vector3f>{p0, p1, p2}
        << QVector<IndexedFacet>{indexedFacet(0, 1, 2, 2), indexedFacet(0, 2, 1, 1)} << QString();
    QTest::newRow("vertices sorted by z, x, y")
        << QVector<Vector3f>{p3, p2, p1, p0}
        << QVector<IndexedFacet>{indexedFacet(0, 1, 2), indexedFacet(1, 2, 3)}
        << QVector<Vector3f>{p0, p1, p2, p3}
        << QVector<IndexedFacet>{indexedFacet(0, 2, 1), indexedFacet(1, 3, 2)} << QString();
    QTest::newRow("out of range dropped silently")
        << QVector<Vector3f>{p0, p1, p2}
        << QVector<IndexedFacet>{indexedFacet(0, 1, 2), indexedFacet(0, 1, 9), indexedFacet(-1, 0, 1)}
        << QVector<Vector3f>{p0, p1, p2} << QVector<IndexedFacet>{indexedFacet(0, 1, 2)} << QString();
    QTest::newRow("repeated index dropped with warning")
        << QVector<Vector3f>{p0, p1, p2, p3, high, high, high, p3}
        << QVector<IndexedFacet>{indexedFacet(0, 1, 2), indexedFacet(4, 4, 7)}
        << QVector<Vector3f>{p0, p1, p2} << QVector<IndexedFacet>{indexedFacet(0, 1, 2)}
        << QStringLiteral("Clean indices dropped 1 items.");
    QTest::newRow("unused vertex removed")
        << QVector<Vector3f>{high, p0, p1, p2} << QVector<IndexedFacet>{indexedFacet(1, 2, 3)}
        << QVector<Vector3f>{p0, p1, p2} << QVector<IndexedFacet>{indexedFacet(0, 1, 2)} << QString();
    QTest::newRow("equal vertices both kept")
        << QVector<Vector3f>{p0, p1, p2, p1}
        << QVector<IndexedFacet>{indexedFacet(0, 1, 2), indexedFacet(0, 2, 3)}
        << QVector<Vector3f>{p0, p1, p1, p2}
        << QVector<IndexedFacet>{indexedFacet(0, 1, 3), indexedFacet(0, 3, 2)} << QString();
    QTest::newRow("every facet dropped")
        << QVector<Vector3f>{p0, p1, p2} << QVector<IndexedFacet>{indexedFacet(1, 1, 2)}
        << QVector<Vector3f>{} << QVector<IndexedFacet>{} << QStringLiteral("Clean indices dropped 1 items.");
    QTest::newRow("repeats adjacent, stable")
        << QVector<Vector3f>{p0, p1, p2, p3}
        << QVector<IndexedFacet>{indexedFacet(1, 2, 0, 1), indexedFacet(0, 1, 3, 2), indexedFacet(2, 0, 1, 3),
                                 indexedFacet(0, 1, 2, 4)}
        << QVector<Vector3f>{p0, p1, p2, p3}
        << QVector<IndexedFacet>{indexedFacet(0, 1, 2, 1), indexedFacet(0, 1, 2, 3), indexedFacet(0, 1, 2, 4),
                                 indexedFacet(0, 1, 3, 2)}
        << QString();
}

void TestStlMesh::setData()
{
    QFETCH(QVector<Vector3f>, vertices);
    QFETCH(QVector<IndexedFacet>, indices);
    QFETCH(QVector<Vector3f>, expectedVertices);
    QFETCH(QVector<IndexedFacet>, expectedIndices);
    QFETCH(QString, warning);

    StlMesh mesh;
    meshtest::MessageCapture catcher;
    mesh.setData(vertices, indices);
    QCOMPARE(catcher.messages(), warning.isEmpty() ? QStringList() : QStringList(warning));
    QUARN_CHECK_MESH(mesh, meshtest::AllowEqualVertices);
    QCOMPARE(mesh.vertices(), expectedVertices);
    QCOMPARE(mesh.indices().size(), expectedIndices.size());
    for (int i = 0; i < expectedIndices.size(); ++i) {
        QVERIFY2(geom::sameTriple(mesh.indices()[i], expectedIndices[i]) &&
                     mesh.indices()[i].attribute == expectedIndices[i].attribute,
                 qPrintable(QString::number(i)));
    }
}

void TestStlMesh::setDataRefusesMissingData()
{
    MeshPtr mesh(meshtest::meshFrom(meshtest::unitCube()));
    const Vector3f v[3] = {Vector3f(0, 0, 0), Vector3f(1, 0, 0), Vector3f(0, 1, 0)};
    const IndexedFacet f[1] = {indexedFacet(0, 1, 2)};
    mesh->setData(nullptr, 3, f, 1);
    QVERIFY(mesh->indices().isEmpty() && mesh->vertices().isEmpty());
    QUARN_CHECK_MESH(*mesh);
    mesh->setData(v, 3, f, 0);
    QVERIFY(mesh->indices().isEmpty());
    mesh->setData(v, 3, f, 1);
    QCOMPARE(mesh->indices().size(), 1);
    QCOMPARE(mesh->area(), 0.5);
    QUARN_CHECK_MESH(*mesh);
}

void TestStlMesh::appendMesh()
{
    MeshPtr mesh(meshtest::meshFrom(meshtest::unitCube()));
    MeshPtr other(meshtest::meshFrom(meshtest::box(Vector3f(3, 0, 0), Vector3f(4, 2, 1))));
    mesh->append(*other);
    QUARN_CHECK_MESH(*mesh);
    QCOMPARE(mesh->indices().size(), 24);
    QCOMPARE(mesh->vertices().size(), 16);
    QVERIFY(qAbs(mesh->volume() - 3.0) < 1e-5);
    QCOMPARE(mesh->bounds().max(), Vector3f(4, 2, 1));

    // Touching boxes: equal coordinates from both meshes stay as separate vertices.
    MeshPtr touching(meshtest::meshFrom(meshtest::box(Vector3f(1, 0, 0), Vector3f(2, 1, 1))));
    MeshPtr cube(meshtest::meshFrom(meshtest::unitCube()));
    cube->append(*touching);
    QUARN_CHECK_MESH(*cube, meshtest::AllowEqualVertices);
    QCOMPARE(cube->vertices().size(), 16);
    QVERIFY(qAbs(cube->volume() - 2.0) < 1e-5);

    // Into an empty mesh.
    StlMesh empty;
    empty.append(*other);
    QUARN_CHECK_MESH(empty);
    QCOMPARE(empty.vertices(), other->vertices());
}

void TestStlMesh::addFacetsPadsAttributes()
{
    MeshPtr mesh(meshtest::meshFrom(meshtest::openStrip(3), {9}));
    QUARN_CHECK_MESH(*mesh);
    // openStrip's first facet holds the vertex (0, 0, 0).
    const IndexedFacet *first = mesh->findFacet(meshtest::openStrip(3)[0]);
    QVERIFY(first != mesh->indices().constEnd());
    QCOMPARE(first->attribute, 9u);
    int zeros = 0;
    for (const IndexedFacet &f : mesh->indices())
        zeros += f.attribute == 0;
    QCOMPARE(zeros, 2);

    // An empty facet list changes nothing.
    const double area = mesh->area();
    mesh->addFacets(QVector<Facet>());
    QCOMPARE(mesh->area(), area);
}

void TestStlMesh::vertexQueries()
{
    MeshPtr mesh(meshtest::meshFrom(meshtest::box(Vector3f(0, 0, 1), Vector3f(2, 2, 3))));
    QCOMPARE(mesh->indexOfVertex(Vector3f(0, 0, 1)), 0);
    QCOMPARE(mesh->indexOfVertex(Vector3f(2, 2, 3)), 7);
    QCOMPARE(mesh->indexOfVertex(Vector3f(1, 1, 1)), -1);
    QCOMPARE(mesh->lowerVertexIndex(0.0f), 0);
    QCOMPARE(mesh->lowerVertexIndex(1.0f), 0);
    QCOMPARE(mesh->lowerVertexIndex(2.0f), 4);
    QCOMPARE(mesh->lowerVertexIndex(4.0f), 8);
    QCOMPARE(mesh->upperVertexIndex(1.0f), 4);
    QCOMPARE(mesh->upperVertexIndex(3.0f), 8);
    QCOMPARE(mesh->upperVertexIndex(0.5f), 0);
    StlMesh empty;
    QCOMPARE(empty.upperVertexIndex(1.0f), 0);
    QCOMPARE(empty.lowerVertexIndex(1.0f), 0);
}

void TestStlMesh::facetQueries()
{
    QVector<Vector3f> v;
    for (int i = 0; i < 10; ++i)
        v.append(Vector3f(float(i), float(i * i % 7), 0));
    StlMesh mesh;
    mesh.setData(v, {indexedFacet(2, 9, 5, 1), indexedFacet(0, 1, 2, 2), indexedFacet(3, 4, 5, 3),
                     indexedFacet(6, 7, 8, 4)});
    const IndexedFacet *end = mesh.indices().constEnd();
    QVERIFY(mesh.findFacet(5, 2, 9) != end);
    QCOMPARE(mesh.findFacet(5, 2, 9)->attribute, 1u);
    QCOMPARE(mesh.findFacet(9, 5, 2), mesh.findFacet(2, 9, 5));
    QVERIFY(mesh.findFacet(5, 9, 2) == end); // the opposite winding is not stored
    QCOMPARE(mesh.indexOfFacet(1, 2, 0), 0);
    QCOMPARE(mesh.indexOfFacet(3, 5, 4), -1);
    QCOMPARE(mesh.lowerBound(5, 9, 2), 1); // (2, 5, 9) comes before (2, 9, 5)
    QCOMPARE(mesh.lowerBound(0, 0, 0), 0);
    QCOMPARE(mesh.lowerBound(8, 9, 7), 4);
    QCOMPARE(mesh.indexOfFacet(Facet(v[5], v[2], v[9])), 1);
    QCOMPARE(mesh.indexOfFacet(Facet(v[5], Vector3f(7, 7, 7), v[9])), -1);

    // Another order: lookups scan, and sorting back restores the canonical list.
    const QVector<IndexedFacet> canonical = mesh.indices();
    mesh.sortIndices(0);
    QCOMPARE(mesh.indexOrder(), 0);
    QCOMPARE(mesh.indices()[0].attribute, 1u);
    QCOMPARE(mesh.findFacet(9, 5, 2)->attribute, 1u);
    QCOMPARE(mesh.indexOfFacet(4, 5, 3), 2);
    mesh.sortIndices(1);
    QCOMPARE(mesh.indexOrder(), 1);
    QCOMPARE(mesh.indices()[0].attribute, 2u);
    mesh.sortIndices(7);
    QCOMPARE(mesh.indexOrder(), 1);
    mesh.sortIndices(2);
    QCOMPARE(mesh.indexOrder(), 2);
    QVERIFY(std::equal(canonical.begin(), canonical.end(), mesh.indices().begin(), geom::sameTriple));
}

void TestStlMesh::copyHasOwnLock()
{
    QObject parent;
    auto *mesh = new StlMesh(&parent);
    mesh->addFacets(meshtest::tetrahedron(), {3, 3, 4, 5});
    StlMesh copy(*mesh);
    QCOMPARE(copy.parent(), &parent);
    QCOMPARE(copy.vertices(), mesh->vertices());
    QCOMPARE(copy.volume(), mesh->volume());
    QCOMPARE(copy.radius(), mesh->radius());
    QVERIFY(std::equal(copy.attributeMask(), copy.attributeMask() + 2048, mesh->attributeMask()));
    QUARN_CHECK_MESH(copy);

    // Holding the copy's lock does not block the original.
    QReadWriteLock *copyLock = geom::StlMeshPrivate::get(&copy)->lock;
    QReadWriteLock *meshLock = geom::StlMeshPrivate::get(mesh)->lock;
    QVERIFY(copyLock != meshLock);
    QWriteLocker locker(copyLock);
    QVERIFY(meshLock->tryLockForWrite());
    meshLock->unlock();
    std::unique_ptr<StlMesh> clone(mesh->clone());
    QCOMPARE(clone->indices().size(), 4);
    QCOMPARE(clone->parent(), &parent);
}

void TestStlMesh::attributeMask()
{
    MeshPtr mesh(meshtest::meshFrom(meshtest::tetrahedron(), {0, 33, 33, 0xFFFF}));
    const quint32 *mask = mesh->attributeMask();
    QCOMPARE(mask[0], 0xFFFFFFFEu);
    QCOMPARE(mask[1], 0xFFFFFFFDu);
    QCOMPARE(mask[2047], 0x7FFFFFFFu);
    for (int w = 2; w < 2047; ++w)
        QCOMPARE(mask[w], 0xFFFFFFFFu);

    // A sliver marks its attribute but adds no area.
    QVector<Facet> sliver = {Facet(Vector3f(0, 0, 0), Vector3f(1, 0, 0), Vector3f(2, 1e-6f, 0))};
    MeshPtr thin(meshtest::meshFrom(sliver, {40}));
    QCOMPARE(thin->attributeMask()[1], ~(1u << 8));
    QCOMPARE(thin->area(), 0.0);
    QUARN_CHECK_MESH(*thin);
}

void TestStlMesh::flatSquareStatistics()
{
    MeshPtr mesh(meshtest::meshFrom(meshtest::sheet(2, 2)));
    QCOMPARE(mesh->bounds().min(), Vector3f(0, 0, 0));
    QCOMPARE(mesh->bounds().max(), Vector3f(2, 2, 0));
    QCOMPARE(mesh->radius(), std::sqrt(2.0));
    QCOMPARE(mesh->volume(), 0.0);
    QUARN_CHECK_MESH(*mesh);
}

void TestStlMesh::transformed_data()
{
    QTest::addColumn<QMatrix4x4>("matrix");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<double>("volumeFactor");

    QMatrix4x4 identity;
    QTest::newRow("identity") << identity << false << 1.0;
    QMatrix4x4 translation;
    translation.translate(10, -20, 30);
    QTest::newRow("translation") << translation << true << 1.0;
    QMatrix4x4 rotation;
    rotation.rotate(90, 0, 0, 1);
    QTest::newRow("rotation about z") << rotation << true << 1.0;
    QMatrix4x4 mirrorX;
    mirrorX.scale(-1, 1, 1);
    QTest::newRow("mirror x") << mirrorX << true << 1.0;
    QMatrix4x4 mirrorAll;
    mirrorAll.scale(-2, -2, -2);
    QTest::newRow("mirror all axes, scale 2") << mirrorAll << true << 8.0;
    QMatrix4x4 small;
    small.scale(0.01f);
    QTest::newRow("uniform scale 0.01 is applied") << small << true << 1e-6;
    QMatrix4x4 flat;
    flat.scale(1, 1, 1e-6f);
    QTest::newRow("near-flat scale is refused") << flat << false << 1.0;
    QMatrix4x4 singular;
    singular.scale(1, 0, 1);
    QTest::newRow("singular matrix is refused") << singular << false << 1.0;
}

void TestStlMesh::transformed()
{
    QFETCH(QMatrix4x4, matrix);
    QFETCH(bool, applied);
    QFETCH(double, volumeFactor);

    // An asymmetric closed body, so that mapping shows in the vertex order.
    QVector<Facet> body = meshtest::box(Vector3f(0, 0, 0), Vector3f(1, 2, 3)) + meshtest::tetrahedron();
    for (int i = 12; i < body.size(); ++i) {
        for (Vector3f &p : body[i].vertex)
            p += Vector3f(5, 0, 0);
    }
    MeshPtr mesh(meshtest::meshFrom(body, QVector<quint16>(body.size(), 3)));
    const double volume = mesh->volume();
    QVERIFY(signedVolume(*mesh) > 0);

    MeshPtr result(mesh->transformed(matrix));
    QVERIFY(result);
    QUARN_CHECK_MESH(*result);
    if (matrix.isIdentity() || applied) {
        // The box of the mapped vertices, without a copy of the mesh.
        const geom::Cuboid box = mesh->mappedBounds(matrix);
        QCOMPARE(box.min(), result->bounds().min());
        QCOMPARE(box.max(), result->bounds().max());
    }
    if (!applied) {
        QCOMPARE(result->vertices(), mesh->vertices());
        QCOMPARE(result->volume(), volume);
        return;
    }
    QCOMPARE(result->indices().size(), mesh->indices().size());
    QVERIFY2(qAbs(result->volume() - volume * volumeFactor) <= 1e-5 * volume * volumeFactor,
             qPrintable(QString::number(result->volume(), 'g', 10)));
    // Outward winding survives mirrors: the signed volume stays positive.
    QVERIFY(signedVolume(*result) > 0);
    // Every mapped vertex is present.
    for (const Vector3f &p : mesh->vertices()) {
        const QVector3D q = matrix.map(QVector3D(p.x, p.y, p.z));
        const Vector3f mapped(q.x(), q.y(), q.z());
        bool found = false;
        for (const Vector3f &r : result->vertices())
            found = found || (qAbs(r.x - mapped.x) < 1e-5f && qAbs(r.y - mapped.y) < 1e-5f &&
                              qAbs(r.z - mapped.z) < 1e-5f);
        QVERIFY(found);
    }
    // The source is untouched.
    QUARN_CHECK_MESH(*mesh);
    QCOMPARE(mesh->volume(), volume);
}

void TestStlMesh::transformedStatisticsOnly()
{
    MeshPtr mesh(meshtest::meshFrom(meshtest::unitCube()));
    QMatrix4x4 m;
    m.scale(-2, 3, 4);
    MeshPtr stats(mesh->transformed(m, true));
    QUARN_CHECK_MESH(*stats, meshtest::StatisticsOnly);
    QCOMPARE(stats->bounds().min(), Vector3f(-2, 0, 0));
    QCOMPARE(stats->bounds().max(), Vector3f(0, 3, 4));
    QVERIFY(qAbs(stats->volume() - 24.0) < 1e-4);
    QVERIFY(qAbs(stats->area() - 2 * (12 + 8 + 6.0)) < 1e-4);
    QCOMPARE(stats->radius(), std::sqrt(4.0 + 9 + 16) / 2);
    QVERIFY(std::equal(stats->indices().begin(), stats->indices().end(), mesh->indices().begin(),
                       geom::sameTriple));

    // A refused matrix keeps the vertices even here.
    QMatrix4x4 flat;
    flat.scale(1, 1e-7f, 1);
    MeshPtr refused(mesh->transformed(flat, true));
    QCOMPARE(refused->vertices(), mesh->vertices());
}

void TestStlMesh::scaleAndTranslate()
{
    MeshPtr mesh(meshtest::meshFrom(meshtest::tetrahedron()));
    const double area = mesh->area(), volume = mesh->volume(), radius = mesh->radius();
    mesh->scale(2);
    QUARN_CHECK_MESH(*mesh);
    QCOMPARE(mesh->area(), area * 4);
    QCOMPARE(mesh->volume(), volume * 8);
    QCOMPARE(mesh->radius(), radius * 2);
    QCOMPARE(mesh->bounds().max(), Vector3f(2, 2, 2));

    mesh->translate(Vector3f(1, -1, 0.5f));
    QUARN_CHECK_MESH(*mesh);
    QCOMPARE(mesh->bounds().min(), Vector3f(1, -1, 0.5f));
    QCOMPARE(mesh->vertices()[0], Vector3f(1, -1, 0.5f));
    QCOMPARE(mesh->volume(), volume * 8);
}

void TestStlMesh::derivedLists()
{
    const QVector<Facet> facets = meshtest::degenerateFacets();
    MeshPtr mesh(meshtest::meshFrom({facets[0], facets[2]}, {0x1234, 0xFFFF}));
    mesh->indices()[1].attribute |= 0x00050000u;

    const QVector<Vector3f> raw = mesh->facetNormals(0);
    QCOMPARE(raw.size(), 2);
    const QVector<Vector3f> unit = mesh->facetNormals(1);
    // The regular facet (0,0,0), (1,0,0), (0,1,0) and the sliver.
    const int regular = mesh->indexOfFacet(facets[0]);
    QVERIFY(regular >= 0);
    QCOMPARE(raw[regular], Vector3f(0, 0, 1)); // twice the area 0.5
    QCOMPARE(unit[regular], Vector3f(0, 0, 1));
    QCOMPARE(unit[1 - regular], Vector3f(0, 0, 0)); // the sliver has no direction
    QCOMPARE(mesh->facetNormals(2.5)[regular], Vector3f(0, 0, 2.5f));

    const QVector<quint32> attributes = mesh->attributes();
    QCOMPARE(attributes.size(), 2);
    QCOMPARE(mesh->attributeWords(false)[regular], quint16(0x1234));
    QCOMPARE(mesh->attributeWords(true)[regular], quint16(0));
    QCOMPARE(mesh->attributeWords(true)[1], quint16(5));
    QCOMPARE(attributes[1] >> 16, 5u);

    const QVector<Facet> plain = mesh->facets(false);
    QCOMPARE(plain[regular].normal, Vector3f(0, 0, 0));
    const QVector<Facet> withNormals = mesh->facets(true);
    QCOMPARE(withNormals[regular].normal, Vector3f(0, 0, 1));
    for (int k = 0; k < 3; ++k)
        QCOMPARE(withNormals[regular].vertex[k], mesh->vertices()[k == 0   ? mesh->indices()[regular].a
                                                                  : k == 1 ? mesh->indices()[regular].b
                                                                           : mesh->indices()[regular].c]);

    mesh->setAttribute(0x10021);
    for (const IndexedFacet &f : mesh->indices())
        QCOMPARE(f.attribute, 0x10021u);
    QCOMPARE(mesh->attributeMask()[1], ~2u);
    QCOMPARE(mesh->attributeMask()[0], 0xFFFFFFFFu);

    MeshPtr tetra(meshtest::meshFrom(meshtest::tetrahedron()));
    const QVector<QSet<int>> adjacency = tetra->vertexAdjacency();
    QCOMPARE(adjacency.size(), 4);
    for (const QSet<int> &facetsOfVertex : adjacency)
        QCOMPARE(facetsOfVertex.size(), 3);
}

void TestStlMesh::facetsMappedByMatrix()
{
    MeshPtr mesh(meshtest::meshFrom(meshtest::tetrahedron()));
    QMatrix4x4 mirror;
    mirror.scale(-1, 1, 1);
    const QVector<Facet> mapped = mesh->facets(mirror);
    const QVector<Facet> plain = mesh->facets(true);
    QCOMPARE(mapped.size(), plain.size());
    for (int i = 0; i < mapped.size(); ++i) {
        // Same vertex order, so the normal follows the mirrored vertices.
        for (int k = 0; k < 3; ++k)
            QCOMPARE(mapped[i].vertex[k],
                     Vector3f(-plain[i].vertex[k].x, plain[i].vertex[k].y, plain[i].vertex[k].z));
        QCOMPARE(mapped[i].normal, mapped[i].computedNormal());
    }
    const QVector<Facet> same = mesh->facets(QMatrix4x4());
    QCOMPARE(same.size(), plain.size());
    QCOMPARE(same[0].vertex[2], plain[0].vertex[2]);
}

void TestStlMesh::removeDuplicateFacets()
{
    const QVector<Vector3f> v = {Vector3f(0, 0, 0), Vector3f(1, 0, 0), Vector3f(0, 1, 0), Vector3f(0, 0, 1)};
    StlMesh mesh;
    mesh.setData(v, {indexedFacet(0, 1, 2, 1), indexedFacet(1, 2, 0, 2), indexedFacet(2, 0, 1, 3),
                     indexedFacet(0, 1, 3, 4)});
    QCOMPARE(mesh.duplicateFacetCount(), 2);
    QCOMPARE(mesh.removeDuplicateFacets(), 2);
    QCOMPARE(mesh.indices().size(), 2);
    QCOMPARE(mesh.indices()[0].attribute, 3u);
    QCOMPARE(mesh.indices()[1].attribute, 4u);
    QCOMPARE(mesh.duplicateFacetCount(), 0);
    QCOMPARE(mesh.removeDuplicateFacets(), 0);
    // The attribute set is not recomputed (the kept facets took the last attribute of their runs), so
    // only the lists are checked here.
    QUARN_CHECK_MESH(mesh, meshtest::ListsOnly);
    QVERIFY(mesh.indices()[0].a == 0 && mesh.indices()[1].c == 3);

    MeshPtr cube(meshtest::meshFrom(meshtest::unitCube()));
    QCOMPARE(cube->removeDuplicateFacets(), 0);
    QCOMPARE(cube->indices().size(), 12);
}

void TestStlMesh::torusIsClosed()
{
    meshtest::Torus torus(20000);
    QVERIFY(qAbs(torus.facetCount() - 20000) < 400);
    MeshPtr mesh(meshtest::meshFrom(torus.facets()));
    QUARN_CHECK_MESH(*mesh);
    QCOMPARE(mesh->indices().size(), int(torus.facetCount()));
    QCOMPARE(mesh->vertices().size(), int(torus.vertexCount()));
    QVERIFY(signedVolume(*mesh) > 0);
    QVERIFY(qAbs(mesh->volume() / torus.idealVolume() - 1) < 0.01);
    QVERIFY(qAbs(mesh->area() / torus.idealArea() - 1) < 0.01);
}

QTEST_GUILESS_MAIN(TestStlMesh)
#include "tst_stlmesh.moc"
