#include "slcreader.h"

#include "meshbuilders.h"
#include "meshcheck.h"
#include "messagecapture.h"

#include "geom/mesh/stlmesh.h"
#include "geom/slicing/contour.h"
#include "geom/slicing/slcwriter.h"
#include "geom/slicing/slice.h"
#include "geom/slicing/tolerantslicer.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

Q_DECLARE_METATYPE(QVector<geom::Facet>)

using geom::Slice;
using geom::StlMesh;
using geom::TolerantSlicer;
using geom::Vector3f;

namespace {

// The layers of a run and how it ended.
struct Run
{
    QList<Slice> slices;
    TolerantSlicer::Outcome outcome = TolerantSlicer::Layers;
    TolerantSlicer::Losses losses;
};

// Slices like the export: tolerance 0.001, the cut in the middle of each layer.
Run exportRun(StlMesh *mesh, float thickness, bool merge = false, int rule = 2)
{
    TolerantSlicer slicer(mesh, 0.001);
    slicer.setSampleOffset(thickness / 2.0);
    slicer.setMergeContours(merge);
    slicer.setWindingRule(rule);
    Run run;
    run.slices = slicer.extractSlices(thickness);
    run.outcome = slicer.outcome();
    run.losses = slicer.losses();
    slicer.setParent(nullptr);
    return run;
}

QList<Slice> sliceLikeExport(StlMesh *mesh, float thickness, bool merge = false, int rule = 2)
{
    return exportRun(mesh, thickness, merge, rule).slices;
}

std::unique_ptr<StlMesh> meshOf(const QVector<geom::Facet> &facets)
{
    std::unique_ptr<StlMesh> mesh(meshtest::meshFrom(facets));
    return mesh;
}

double netArea(const Slice &s)
{
    double a = 0.0;
    for (int i = 0; i < s.contourCount(); ++i)
        a += s.contour(i)->area();
    return a;
}

int countMatching(const QStringList &messages, const QString &start)
{
    int n = 0;
    for (const QString &m : messages)
        n += m.startsWith(start) ? 1 : 0;
    return n;
}

double volumeOf(const QList<Slice> &slices)
{
    double volume = 0.0;
    for (const Slice &s : slices)
        volume += netArea(s) * double(s.thickness());
    return volume;
}

QByteArray slcBytes(const QList<Slice> &slices)
{
    QBuffer buffer;
    SlcWriter writer(&buffer);
    writer.writeSlices(slices, false);
    writer.finish();
    return buffer.data();
}

// The facets less `removed` per mille of them taken at random, and then `repeats` of the rest,
// chosen at random, written a second time at the end. The same on every platform.
QVector<geom::Facet> damaged(const QVector<geom::Facet> &facets, int removed, int repeats, unsigned seed)
{
    std::mt19937 random(seed);
    QVector<geom::Facet> out;
    for (const geom::Facet &f : facets) {
        if (int(random() % 1000) >= removed)
            out.append(f);
    }
    const int kept = out.size();
    for (int i = 0; i < repeats; ++i)
        out.append(out.at(int(random() % unsigned(kept))));
    return out;
}

// The box less its first side facet (one whose normal is horizontal): one crack.
QVector<geom::Facet> crackedBox(const Vector3f &min, const Vector3f &max)
{
    QVector<geom::Facet> facets = meshtest::box(min, max);
    for (int i = 0; i < facets.size(); ++i) {
        if (facets[i].normal.z == 0.0f) {
            facets.removeAt(i);
            break;
        }
    }
    return facets;
}

// The 10 mm cube less its first side facet, whose neighbour across the diagonal is there twice.
QVector<geom::Facet> cubeWithTwinOverHole()
{
    QVector<geom::Facet> facets = meshtest::box(Vector3f(0, 0, 0), Vector3f(10, 10, 10));
    const geom::Facet hole = facets.at(4), twin = facets.at(5);
    Q_ASSERT(hole.normal.y < 0 && twin.normal.y < 0); // the -y side, split along one diagonal
    facets.removeAt(4);
    facets.append(twin);
    return facets;
}

// A box with a facet inside it over three of its corners, two of whose edges are edges of the
// box's facets: the three facets on each of those edges leave no consistent way on, and no contour
// of the box closes.
QVector<geom::Facet> boxCutByInnerFacet(const Vector3f &min, const Vector3f &max)
{
    QVector<geom::Facet> facets = meshtest::box(min, max);
    facets.append(geom::Facet(min, Vector3f(min.x, max.y, min.z), Vector3f(max.x, min.y, max.z)));
    return facets;
}

} // namespace

class TestTolerantSlicer : public QObject
{
    Q_OBJECT

private slots:
    void cube();
    void gapBetweenCubes();
    void crackIsBridged();
    void sharedEdgeJunction();
    void torusRingsAndHoles();
    void damagedMeshes_data();
    void damagedMeshes();
    void repeatsInAnyOrder();
    void incompleteLayersAreCompleted();
    void rebuildKeepsCrackTraversal_data();
    void rebuildKeepsCrackTraversal();
    void mirroredCopy();
    void mergeUnitesOverlaps();
    void cancelFromSliceReady();
    void refusedInput_data();
    void refusedInput();
    void lossesAreCounted_data();
    void lossesAreCounted();
    void badFacetsAreSkipped();
    void settings();
    void fixtureBytes();
};

void TestTolerantSlicer::cube()
{
    auto mesh = meshOf(meshtest::box(Vector3f(0, 0, 0), Vector3f(10, 10, 10)));
    QUARN_CHECK_MESH(*mesh);
    meshtest::MessageCapture capture;
    TolerantSlicer slicer(mesh.get(), 0.001);
    slicer.setSampleOffset(0.5);
    QSignalSpy ready(&slicer, &TolerantSlicer::sliceReady);
    QSignalSpy finished(&slicer, &TolerantSlicer::extractFinished);
    const QList<Slice> slices = slicer.extractSlices(1.0f);
    QCOMPARE(slices.size(), 10);
    for (int i = 0; i < slices.size(); ++i) {
        QCOMPARE(slices[i].z(), float(i));
        QCOMPARE(slices[i].thickness(), 1.0f);
        QCOMPARE(slices[i].contourCount(), 1);
        QCOMPARE(slices[i].contour(0)->points().size(), 4);
        QCOMPARE(slices[i].contour(0)->area(), 100.0); // counter-clockwise
    }
    QCOMPARE(ready.size(), 10);
    QCOMPARE(ready.last().at(0).toInt(), 10);
    QCOMPARE(ready.last().at(1).toInt(), 11);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).toInt(), 10);
    QVERIFY(capture.messages().isEmpty());
    QCOMPARE(slicer.crackCount(), 0);
    QVERIFY(!slicer.hasOddJunctions());
    QVERIFY(slicer.incompleteLayers().isEmpty());

    const Slice one = slicer.extractSlice(4.2f);
    QCOMPARE(one.contourCount(), 1);
    QCOMPARE(slicer.extractSlice(20.0f).contourCount(), 0);

    // More levels than the visit stamps count before they start again: no facet looks visited
    // from an earlier level.
    slicer.setSampleOffset(0.01);
    const QList<Slice> thin = slicer.extractSlices(0.02f);
    QCOMPARE(thin.size(), 500);
    for (const Slice &s : thin) {
        QCOMPARE(s.contourCount(), 1);
        QCOMPARE(s.contour(0)->area(), 100.0);
    }
}

void TestTolerantSlicer::gapBetweenCubes()
{
    QVector<geom::Facet> facets = meshtest::box(Vector3f(0, 0, 0), Vector3f(4, 4, 2));
    facets += meshtest::box(Vector3f(0, 0, 5), Vector3f(4, 4, 8));
    auto mesh = meshOf(facets);
    const QList<Slice> slices = sliceLikeExport(mesh.get(), 1.0f);
    QCOMPARE(slices.size(), 8);
    for (int i = 0; i < slices.size(); ++i) {
        const bool inGap = i >= 2 && i < 5;
        QCOMPARE(slices[i].contourCount(), inGap ? 0 : 1);
        QCOMPARE(netArea(slices[i]), inGap ? 0.0 : 16.0);
    }
}

void TestTolerantSlicer::crackIsBridged()
{
    auto mesh = meshOf(crackedBox(Vector3f(0, 0, 0), Vector3f(10, 10, 10)));
    QUARN_CHECK_MESH(*mesh);
    meshtest::MessageCapture capture({QtDebugMsg, QtWarningMsg});
    TolerantSlicer slicer(mesh.get(), 0.001);
    slicer.setSampleOffset(0.5);
    const QList<Slice> slices = slicer.extractSlices(1.0f);
    QCOMPARE(slices.size(), 10);
    for (const Slice &s : slices) {
        QCOMPARE(s.contourCount(), 1);
        QVERIFY(qAbs(s.contour(0)->area() - 100.0) < 1e-3);
    }
    QCOMPARE(countMatching(capture.messages(), "Automatic crack traversal count: 1"), 1);
    QCOMPARE(countMatching(capture.messages(), "Incomplete contour"), 0);
    QCOMPARE(slicer.crackCount(), 1);
}

void TestTolerantSlicer::sharedEdgeJunction()
{
    QVector<geom::Facet> facets = meshtest::box(Vector3f(0, 0, 0), Vector3f(1, 1, 1));
    facets += meshtest::box(Vector3f(1, 1, 0), Vector3f(2, 2, 1));
    auto mesh = meshOf(facets);
    QUARN_CHECK_MESH(*mesh);
    meshtest::MessageCapture capture;
    TolerantSlicer slicer(mesh.get(), 0.001);
    slicer.setSampleOffset(0.05);
    slicer.setSimplifyTolerance(0.0);
    const QList<Slice> slices = slicer.extractSlices(0.1f);
    QCOMPARE(slices.size(), 10);
    for (const Slice &s : slices) {
        QVERIFY(s.contourCount() >= 1);
        QVERIFY(qAbs(netArea(s) - 2.0) < 1e-4);
    }
    QVERIFY(!slicer.hasOddJunctions());
    QVERIFY(capture.messages().isEmpty());

    // Three facets on one edge make an odd junction.
    auto fan = meshOf(meshtest::nonManifoldFan().mid(0, 3));
    TolerantSlicer fanSlicer(fan.get(), 0.001);
    QVERIFY(fanSlicer.hasOddJunctions());
    fanSlicer.setParent(nullptr);
}

void TestTolerantSlicer::torusRingsAndHoles()
{
    const meshtest::Torus torus(4000, 40.0, 12.0);
    auto mesh = meshOf(torus.facets());
    QUARN_CHECK_MESH(*mesh);
    meshtest::MessageCapture capture;
    const float thickness = 0.1f;
    const QList<Slice> slices = sliceLikeExport(mesh.get(), thickness);
    QVERIFY(capture.messages().isEmpty());
    QCOMPARE(slices.size(), 240);
    double volume = 0.0;
    for (const Slice &s : slices) {
        QCOMPARE(s.contourCount(), 2);
        const double a0 = s.contour(0)->area(), a1 = s.contour(1)->area();
        QVERIFY(qMin(a0, a1) < 0.0); // the hole, clockwise
        QVERIFY(qMax(a0, a1) > 0.0); // the outer ring, counter-clockwise
        QVERIFY(qMax(a0, a1) > -qMin(a0, a1));
        volume += (a0 + a1) * thickness;
    }
    // The layers of 0.1 add up to the mesh's volume to about 1e-5: a fault of 0.1 % shows.
    QVERIFY2(qAbs(volume - mesh->volume()) / mesh->volume() < 1e-3, qPrintable(QString::number(volume)));
}

void TestTolerantSlicer::damagedMeshes_data()
{
    QTest::addColumn<QVector<geom::Facet>>("facets");
    QTest::addColumn<float>("thickness");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("layers");
    QTest::addColumn<int>("contours");  // per layer, or -1
    QTest::addColumn<double>("volume"); // of the layers, to 1e-3, or NaN
    // When given: the same SLC bytes as this mesh (the damaged one without its repeats).
    QTest::addColumn<QVector<geom::Facet>>("reference");
    // When given: the SHA-256 of the SLC bytes, as the bridges have always been chosen.
    QTest::addColumn<QByteArray>("digest");

    const double nan = std::nan("");
    const QVector<geom::Facet> none;
    const int layers = TolerantSlicer::Layers;

    // Repeated facets over missing ones hid the cracks.
    QVector<geom::Facet> cube = cubeWithTwinOverHole();
    QVector<geom::Facet> cubeReference = cube.mid(0, cube.size() - 1);
    QTest::newRow("cube less a side facet, its twin twice (was 0 layers)")
        << cube << 1.0f << layers << 10 << 1 << 1000.0 << cubeReference << QByteArray();
    const meshtest::Torus torus(4000, 30.0, 10.0);
    const double torusVolume = volumeOf(sliceLikeExport(meshOf(torus.facets()).get(), 0.5f, true));
    const QVector<geom::Facet> holed = damaged(torus.facets(), 50, 0, 1);
    QTest::newRow("torus less 5 %, 5 % of the rest twice (was 171 open contours, 23 % more volume)")
        << damaged(holed, 0, holed.size() / 20, 2) << 0.5f << layers << 40 << 2 << torusVolume << holed
        << QByteArray();
    QTest::newRow("torus less 5 %, 95 facets twice (was 68 open contours, holes lost)")
        << damaged(holed, 0, 95, 3) << 0.5f << layers << 40 << 2 << torusVolume << holed << QByteArray();

    // Heavy damage: one crack spans the mesh; the bridges stay where they were.
    QTest::newRow("torus less 30 % (was nearly quadratic)")
        << damaged(torus.facets(), 300, 0, 4) << 0.5f << layers << 40 << -1 << nan << none
        << QByteArray("3686315f0cc12858b4b0629e8c3f3216a7626f0dda3650f036eef9b53bd64e1f");
    QTest::newRow("torus less 50 % (was nearly quadratic)")
        << damaged(torus.facets(), 500, 0, 5) << 0.5f << layers << 40 << -1 << nan << none
        << QByteArray("664192d2f12a59010f2293d903f11ca8b09c2da48f16376454fdff3df983f831");

    // No layer: the outcome says why (each was an empty list, or empty layers, without a word).
    QTest::newRow("layer thicker than twice the model")
        << meshtest::box(Vector3f(0, 0, 0), Vector3f(10, 10, 10)) << 25.0f << int(TolerantSlicer::MissesModel)
        << 0 << -1 << nan << none << QByteArray();
    QTest::newRow("model above the range")
        << meshtest::box(Vector3f(0, 0, 20000), Vector3f(10, 10, 20010)) << 1.0f
        << int(TolerantSlicer::OutOfRange) << 0 << -1 << nan << none << QByteArray();
    QTest::newRow("model below the range")
        << meshtest::box(Vector3f(0, 0, -20010), Vector3f(10, 10, -20000)) << 1.0f
        << int(TolerantSlicer::OutOfRange) << 0 << -1 << nan << none << QByteArray();
    QTest::newRow("wall of 0.005, below the simplification")
        << meshtest::box(Vector3f(0, 0, 0), Vector3f(10, 0.005f, 10)) << 1.0f
        << int(TolerantSlicer::ContoursTooSmall) << 0 << -1 << nan << none << QByteArray();
    QTest::newRow("wall of 0.02, exact") << meshtest::box(Vector3f(0, 0, 0), Vector3f(10, 0.02f, 10)) << 1.0f
                                         << layers << 10 << 1 << 2.0 << none << QByteArray();
    QTest::newRow("lone standing facet, a wall without thickness")
        << QVector<geom::Facet>{geom::Facet(Vector3f(0, 0, 0), Vector3f(10, 0, 0), Vector3f(5, 0, 10))}
        << 1.0f << int(TolerantSlicer::ContoursTooSmall) << 0 << -1 << nan << none << QByteArray();
    QTest::newRow("box cut by an inner facet (was 10 empty layers)")
        << boxCutByInnerFacet(Vector3f(0, 0, 0), Vector3f(10, 10, 10)) << 1.0f
        << int(TolerantSlicer::OpenContours) << 10 << 0 << 0.0 << none << QByteArray();
}

void TestTolerantSlicer::damagedMeshes()
{
    QFETCH(QVector<geom::Facet>, facets);
    QFETCH(float, thickness);
    QFETCH(int, outcome);
    QFETCH(int, layers);
    QFETCH(int, contours);
    QFETCH(double, volume);
    QFETCH(QVector<geom::Facet>, reference);
    QFETCH(QByteArray, digest);
    auto mesh = meshOf(facets);
    QUARN_CHECK_MESH(*mesh);
    meshtest::MessageCapture capture({QtDebugMsg, QtWarningMsg});
    const Run run = exportRun(mesh.get(), thickness, true);
    const QList<Slice> &slices = run.slices;

    QCOMPARE(int(run.outcome), outcome);
    QCOMPARE(TolerantSlicer::outcomeText(run.outcome).isEmpty(), outcome == TolerantSlicer::Layers);
    QCOMPARE(slices.size(), layers);
    if (outcome == TolerantSlicer::Layers)
        QCOMPARE(countMatching(capture.messages(), "Incomplete contour"), 0);
    for (const Slice &s : slices) {
        if (contours >= 0)
            QCOMPARE(s.contourCount(), contours);
    }
    if (!std::isnan(volume))
        QVERIFY2(qAbs(volumeOf(slices) - volume) <= 1e-3 * qMax(1.0, volume),
                 qPrintable(QString::number(volumeOf(slices), 'g', 9)));
    const QByteArray bytes = slcBytes(slices);
    if (!reference.isEmpty()) {
        auto plain = meshOf(reference);
        QCOMPARE(bytes, slcBytes(sliceLikeExport(plain.get(), thickness, true)));
    }
    if (!digest.isEmpty())
        QCOMPARE(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(), digest);
}

// A facet list out of the mesh's order: a repeat is found wherever it lies and however its corners
// are turned.
void TestTolerantSlicer::repeatsInAnyOrder()
{
    auto sorted = meshOf(cubeWithTwinOverHole());
    StlMesh raw;
    raw.vertices() = sorted->vertices();
    QVector<geom::IndexedFacet> indices = sorted->indices();
    std::reverse(indices.begin(), indices.end());
    for (int i = 0; i < indices.size(); i += 2)
        indices[i] = meshtest::indexedFacet(indices[i].b, indices[i].c, indices[i].a);
    raw.indices() = indices;
    meshtest::MessageCapture capture;
    TolerantSlicer slicer(&raw, 0.001);
    slicer.setParent(nullptr);
    slicer.setSampleOffset(0.5);
    // The lists were set by hand: the mesh has no bounds to slice between.
    const QList<Slice> slices = slicer.extractSlices(0.0f, 10.0f, 1.0f);
    QVERIFY2(capture.messages().isEmpty(), qPrintable(capture.messages().join('|')));
    QCOMPARE(slices.size(), 10);
    for (const Slice &s : slices) {
        QCOMPARE(s.contourCount(), 1);
        QVERIFY(qAbs(netArea(s) - 100.0) < 1e-3);
    }
}

// A layer that leaves a contour open is completed by a union with the nearest complete layer: the
// one below, or for the layers before the first complete one, that layer; those are announced
// only once it is traced. Beside a closed box, two boxes whose contours never close.
void TestTolerantSlicer::incompleteLayersAreCompleted()
{
    QVector<geom::Facet> facets = meshtest::box(Vector3f(0, 0, 0), Vector3f(10, 10, 10));
    facets += boxCutByInnerFacet(Vector3f(20, 0, 0), Vector3f(24, 4, 4));
    facets += boxCutByInnerFacet(Vector3f(20, 0, 6), Vector3f(24, 4, 8));
    auto mesh = meshOf(facets);
    QUARN_CHECK_MESH(*mesh);
    meshtest::MessageCapture capture;
    TolerantSlicer slicer(mesh.get(), 0.001);
    slicer.setSampleOffset(0.5);
    // Each announcement with the number of incomplete layers traced by then.
    QVector<QPair<int, int>> announced;
    connect(&slicer, &TolerantSlicer::sliceReady, &slicer, [&](int id, int total) {
        QCOMPARE(total, 11);
        announced.append({id, slicer.incompleteLayers().size()});
    });
    const QList<Slice> slices = slicer.extractSlices(1.0f);

    QCOMPARE(slicer.outcome(), TolerantSlicer::Layers);
    QVector<QPair<float, float>> incomplete;
    for (const float z : {0.0f, 1.0f, 2.0f, 3.0f, 6.0f, 7.0f})
        incomplete.append({z, 1.0f});
    QCOMPARE(slicer.incompleteLayers(), incomplete);
    QCOMPARE(countMatching(capture.messages(), "Incomplete contour"), 6);
    QCOMPARE(slices.size(), 10);
    for (int i = 0; i < slices.size(); ++i) {
        QCOMPARE(slices[i].z(), float(i));
        QCOMPARE(slices[i].thickness(), 1.0f);
        QCOMPARE(slices[i].contourCount(), 1);
        QCOMPARE(netArea(slices[i]), 100.0);
    }
    const QVector<QPair<int, int>> expected = {{1, 4}, {2, 4}, {3, 4}, {4, 4}, {5, 4},
                                               {6, 4}, {7, 5}, {8, 6}, {9, 6}, {10, 6}};
    QCOMPARE(announced, expected);
}

void TestTolerantSlicer::rebuildKeepsCrackTraversal_data()
{
    QTest::addColumn<bool>("replaceMesh");
    QTest::addColumn<bool>("builtBefore");
    QTest::newRow("setMesh after the traversal") << true << true;
    QTest::newRow("setMesh before any traversal") << true << false;
    QTest::newRow("setTolerance after the traversal") << false << true;
    QTest::newRow("setTolerance before any traversal") << false << false;
}

// A new mesh or tolerance rebuilds the tables, and the crack traversal at once when there was one;
// otherwise the first crack met builds it.
void TestTolerantSlicer::rebuildKeepsCrackTraversal()
{
    QFETCH(bool, replaceMesh);
    QFETCH(bool, builtBefore);
    const Vector3f min(0, 0, 0), max(6, 6, 6);
    auto first =
        meshOf(replaceMesh ? meshtest::box(Vector3f(0, 0, 0), Vector3f(10, 10, 10)) : crackedBox(min, max));
    auto cracked = meshOf(crackedBox(min, max));
    TolerantSlicer slicer(first.get(), 0.001);
    slicer.setSampleOffset(0.5);
    if (builtBefore)
        QCOMPARE(slicer.crackCount(), replaceMesh ? 0 : 1);
    if (replaceMesh)
        slicer.setMesh(cracked.get());
    else
        slicer.setTolerance(0.01);

    meshtest::MessageCapture capture({QtDebugMsg, QtWarningMsg});
    const QList<Slice> slices = slicer.extractSlices(1.0f);
    QCOMPARE(countMatching(capture.messages(), "Automatic crack traversal count: 1"), builtBefore ? 0 : 1);
    QCOMPARE(countMatching(capture.messages(), "Incomplete contour"), 0);
    QCOMPARE(slicer.crackCount(), 1);
    QCOMPARE(slices.size(), 6);
    for (const Slice &s : slices) {
        QCOMPARE(s.contourCount(), 1);
        QVERIFY(qAbs(netArea(s) - 36.0) < 1e-3);
    }
    QCOMPARE(slicer.mesh(), replaceMesh ? cracked.get() : first.get());
    QCOMPARE(slicer.parent(), first.get());
    QCOMPARE(slicer.tolerance(), replaceMesh ? 0.001 : 0.01);
}

void TestTolerantSlicer::mirroredCopy()
{
    const meshtest::Torus torus(2000, 20.0, 6.0);
    QVector<geom::Facet> facets = torus.facets();
    facets += meshtest::box(Vector3f(30, -3, -5), Vector3f(36, 3, 5));
    auto mesh = meshOf(facets);
    QMatrix4x4 mirror;
    mirror.scale(-1.0f, 1.0f, 1.0f);
    std::unique_ptr<StlMesh> mirrored(mesh->transformed(mirror));
    QUARN_CHECK_MESH(*mirrored);
    const QList<Slice> a = sliceLikeExport(mesh.get(), 0.5f);
    const QList<Slice> b = sliceLikeExport(mirrored.get(), 0.5f);
    QCOMPARE(a.size(), b.size());
    for (int i = 0; i < a.size(); ++i) {
        QCOMPARE(a[i].z(), b[i].z());
        QCOMPARE(a[i].contourCount(), b[i].contourCount());
        QVERIFY(qAbs(netArea(a[i]) - netArea(b[i])) < 1e-3 * qMax(1.0, netArea(a[i])));
        // The outlines cover the mirrored region: the bounds are the mirrored bounds.
        const geom::Rectangle ra = a[i].bounds(), rb = b[i].bounds();
        const float snap = 0.0011f;
        QVERIFY(qAbs(ra.min().x + rb.max().x) <= snap && qAbs(ra.max().x + rb.min().x) <= snap);
        QVERIFY(qAbs(ra.min().y - rb.min().y) <= snap && qAbs(ra.max().y - rb.max().y) <= snap);
        // The same contours with the same orientations: outer rings positive, holes negative.
        QVector<double> areasA, areasB;
        for (int k = 0; k < a[i].contourCount(); ++k) {
            areasA << a[i].contour(k)->area();
            areasB << b[i].contour(k)->area();
        }
        std::sort(areasA.begin(), areasA.end());
        std::sort(areasB.begin(), areasB.end());
        for (int k = 0; k < areasA.size(); ++k)
            QVERIFY(qAbs(areasA[k] - areasB[k]) < 1e-3 * qMax(1.0, qAbs(areasA[k])));
    }
}

void TestTolerantSlicer::mergeUnitesOverlaps()
{
    QVector<geom::Facet> facets = meshtest::box(Vector3f(0, 0, 0), Vector3f(4, 4, 2));
    facets += meshtest::box(Vector3f(2, 2, 0), Vector3f(6, 6, 2));
    auto mesh = meshOf(facets);
    const QList<Slice> plain = sliceLikeExport(mesh.get(), 1.0f, false);
    QCOMPARE(plain.size(), 2);
    QCOMPARE(plain[0].contourCount(), 2);
    QCOMPARE(netArea(plain[0]), 32.0);
    const QList<Slice> merged = sliceLikeExport(mesh.get(), 1.0f, true, 2);
    QCOMPARE(merged.size(), 2);
    QCOMPARE(merged[0].contourCount(), 1);
    QCOMPARE(netArea(merged[0]), 28.0);
    const QList<Slice> odd = sliceLikeExport(mesh.get(), 1.0f, true, 0);
    QCOMPARE(odd[0].contourCount(), 2); // the overlap drops out: two L shapes
    QCOMPARE(netArea(odd[0]), 24.0);
}

void TestTolerantSlicer::cancelFromSliceReady()
{
    auto mesh = meshOf(meshtest::box(Vector3f(0, 0, 0), Vector3f(10, 10, 10)));
    TolerantSlicer slicer(mesh.get(), 0.001);
    slicer.setSampleOffset(0.5);
    QSignalSpy finished(&slicer, &TolerantSlicer::extractFinished);
    connect(&slicer, &TolerantSlicer::sliceReady, &slicer, [&](int id, int) {
        if (id == 3)
            slicer.cancelExtract();
    });
    const QList<Slice> slices = slicer.extractSlices(1.0f);
    QCOMPARE(slices.size(), 3);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).toInt(), 3);
    // Layers were made, but not all: the run counts as cancelled.
    QCOMPARE(slicer.outcome(), TolerantSlicer::Cancelled);
    // The next run starts afresh.
    QCOMPARE(slicer.extractSlices(2.0f, 4.0f, 1.0f).size(), 2);
    QCOMPARE(slicer.outcome(), TolerantSlicer::Layers);
}

void TestTolerantSlicer::refusedInput_data()
{
    QTest::addColumn<float>("from");
    QTest::addColumn<float>("to");
    QTest::addColumn<float>("thickness");
    QTest::addColumn<QString>("shape");
    QTest::addColumn<int>("warnings");
    QTest::addColumn<int>("outcome");
    const float nan = std::nanf("");
    const int invalid = TolerantSlicer::InvalidInput;
    QTest::newRow("zero thickness") << 0.0f << 10.0f << 0.0f << "cube" << 1 << invalid;
    QTest::newRow("negative thickness") << 0.0f << 10.0f << -1.0f << "cube" << 1 << invalid;
    QTest::newRow("NaN thickness") << 0.0f << 10.0f << nan << "cube" << 1 << invalid;
    QTest::newRow("infinite thickness") << 0.0f << 10.0f << float(INFINITY) << "cube" << 1 << invalid;
    QTest::newRow("NaN range") << nan << 10.0f << 1.0f << "cube" << 1 << invalid;
    QTest::newRow("infinite range") << 0.0f << float(INFINITY) << 1.0f << "cube" << 1 << invalid;
    QTest::newRow("empty range") << 0.5f << 0.5f << 1.0f << "cube" << 0 << invalid;
    QTest::newRow("too many layers") << -16384.0f << 16384.0f << 1e-6f << "cube" << 1
                                     << int(TolerantSlicer::TooManyLayers);
    QTest::newRow("no facets") << 0.0f << 10.0f << 1.0f << "none" << 0 << int(TolerantSlicer::NoFacets);
    QTest::newRow("flat") << 0.0f << 10.0f << 1.0f << "flat" << 0 << int(TolerantSlicer::Flat);
}

// Input that cannot be sliced ends at once with an empty list, one extractFinished(0) and the
// reason.
void TestTolerantSlicer::refusedInput()
{
    QFETCH(float, from);
    QFETCH(float, to);
    QFETCH(float, thickness);
    QFETCH(QString, shape);
    QFETCH(int, warnings);
    QFETCH(int, outcome);
    auto mesh = meshOf(shape == QLatin1String("cube")   ? meshtest::unitCube()
                       : shape == QLatin1String("flat") ? meshtest::sheet(3, 2)
                                                        : QVector<geom::Facet>());
    meshtest::MessageCapture capture;
    TolerantSlicer slicer(mesh.get(), 0.001);
    QSignalSpy finished(&slicer, &TolerantSlicer::extractFinished);
    QVERIFY(slicer.extractSlices(from, to, thickness).isEmpty());
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).toInt(), 0);
    QCOMPARE(capture.messages().size(), warnings);
    QCOMPARE(int(slicer.outcome()), outcome);
    QVERIFY(!TolerantSlicer::outcomeText(slicer.outcome()).isEmpty());

    TolerantSlicer none(nullptr, 0.001);
    QVERIFY(none.extractSlices(1.0f).isEmpty());
    QCOMPARE(none.outcome(), TolerantSlicer::NoFacets);
}

void TestTolerantSlicer::lossesAreCounted_data()
{
    QTest::addColumn<QVector<geom::Facet>>("facets");
    QTest::addColumn<float>("thickness");
    QTest::addColumn<int>("vanished"); // or -1: any number
    QTest::addColumn<int>("emptyLayers");
    QTest::addColumn<double>("uncutBottom");
    QTest::addColumn<int>("droppedLayers");
    // A phrase of the text, or empty where the losses are those of an ordinary model and untold.
    QTest::addColumn<QString>("told");

    const QVector<geom::Facet> cube = meshtest::box(Vector3f(0, 0, 0), Vector3f(10, 10, 10));
    const meshtest::Torus torus(4000, 40.0, 12.0);
    QTest::newRow("cube of 10 mm") << cube << 0.1f << 0 << 0 << 0.0 << 0 << QString();
    QTest::newRow("torus in millimetres") << torus.facets() << 0.1f << 0 << 0 << 0.0 << 0 << QString();
    QTest::newRow("torus less 5 %") << damaged(torus.facets(), 50, 0, 1) << 0.1f << -1 << 0 << 0.0 << 0
                                    << QString();
    QTest::newRow("torus less 25 %") << damaged(torus.facets(), 250, 0, 6) << 0.1f << -1 << 0 << 0.0 << 0
                                     << QString();
    // One wall of 0.005 vanishes in every layer beside a cube that keeps its own: a small share.
    QTest::newRow("thin wall beside a cube")
        << cube + meshtest::box(Vector3f(20, 0, 0), Vector3f(30, 0.005f, 10)) << 1.0f << 10 << 0 << 0.0 << 0
        << QString();
    QTest::newRow("needle on a cube")
        << cube + meshtest::box(Vector3f(5, 5, 10), Vector3f(5.005f, 5.005f, 15)) << 1.0f << 5 << 5 << 0.0
        << 0 << "5 layers that cut the model hold no contour";
    // The first layer is searched upward past the needle; its bottom lies 4.5 above the model's.
    QTest::newRow("needle under a cube")
        << meshtest::box(Vector3f(5, 5, 0), Vector3f(5.005f, 5.005f, 5)) +
               meshtest::box(Vector3f(0, 0, 5), Vector3f(10, 10, 15))
        << 1.0f << -1 << 0 << 4.5 << 0 << "the lowest 4.5 of the model's height is in no layer";
    QTest::newRow("torus of a hundredth") << meshtest::scaled(torus.facets(), 0.01f) << 0.01f << 0 << 0 << 0.0
                                          << 0 << "simplifying the contours changed their area by";
    const QVector<geom::Facet> smallCube = meshtest::box(Vector3f(0, 0, 0), Vector3f(1, 1, 1));
    QTest::newRow("layers twice the height rounding")
        << smallCube << 0.002f << 0 << 0 << 0.0 << 0 << QString();
    QTest::newRow("layers thinner than the height rounding")
        << smallCube << 0.0005f << 0 << 0 << 0.0 << 0 << "neighbouring layers may be cut at the same height";
    // Cut up to 16384: 4 of the 8 layers of 100.
    QTest::newRow("model partly above the heights that can be sliced")
        << meshtest::box(Vector3f(0, 0, 16000), Vector3f(10, 10, 16800)) << 100.0f << 0 << 0 << 0.0 << 4
        << "4 layers of the model lie outside the heights that can be sliced";
}

// A run that makes layers counts what the tolerances took from them; the text tells it with the
// likely cause only where the layers noticeably differ from the model.
void TestTolerantSlicer::lossesAreCounted()
{
    QFETCH(QVector<geom::Facet>, facets);
    QFETCH(float, thickness);
    QFETCH(int, vanished);
    QFETCH(int, emptyLayers);
    QFETCH(double, uncutBottom);
    QFETCH(int, droppedLayers);
    QFETCH(QString, told);
    auto mesh = meshOf(facets);
    QUARN_CHECK_MESH(*mesh);
    meshtest::MessageCapture capture({QtDebugMsg, QtWarningMsg});
    const Run run = exportRun(mesh.get(), thickness, true);
    QCOMPARE(run.outcome, TolerantSlicer::Layers);

    const TolerantSlicer::Losses &losses = run.losses;
    if (vanished >= 0)
        QCOMPARE(losses.vanishedContours, vanished);
    QCOMPARE(losses.emptyLayers, emptyLayers);
    QVERIFY2(qAbs(losses.uncutBottom - uncutBottom) < 1e-3, qPrintable(QString::number(losses.uncutBottom)));
    QCOMPARE(losses.droppedLayers, droppedLayers);
    QCOMPARE(losses.layers, run.slices.size());

    const QString text = TolerantSlicer::lossText(losses);
    if (told.isEmpty()) {
        QVERIFY2(text.isEmpty(), qPrintable(text));
        QVERIFY2(losses.changedShare < 1e-3, qPrintable(QString::number(losses.changedShare)));
        return;
    }
    QVERIFY2(text.startsWith(QStringLiteral("The layers were written, but they are not true to the model: ")),
             qPrintable(text));
    QVERIFY2(text.contains(told), qPrintable(text));
    const bool large = droppedLayers > 0;
    QCOMPARE(text.contains(QStringLiteral("Scale it down in the transform panel.")), large);
    QCOMPARE(text.contains(QStringLiteral("scale the model up in the transform panel.")) ||
                 text.contains(QStringLiteral("Scale it up in the transform panel.")),
             !large);
}

// Facets with a non-finite vertex or an index outside the vertex list are left out with one
// warning; the rest of the mesh still slices, its crack bridged.
void TestTolerantSlicer::badFacetsAreSkipped()
{
    auto mesh = meshOf(meshtest::box(Vector3f(0, 0, 0), Vector3f(10, 10, 10)));
    QVector<Vector3f> vertices = mesh->vertices();
    QVector<geom::IndexedFacet> indices = mesh->indices();
    const int bad = vertices.size();
    vertices << Vector3f(std::nanf(""), 1, 1) << Vector3f(1, 2, 1) << Vector3f(2, 2, 1);
    // Side wall facets keep the cube closed; the extra facet over the NaN vertex is left out.
    indices << meshtest::indexedFacet(bad, bad + 1, bad + 2);
    StlMesh raw;
    raw.vertices() = vertices;
    raw.indices() = indices;
    // An out-of-range index in a real facet as well.
    raw.indices()[0].c = 1 << 30;
    meshtest::MessageCapture capture({QtDebugMsg, QtWarningMsg});
    TolerantSlicer slicer(&raw, 0.001);
    slicer.setParent(nullptr);
    slicer.setSampleOffset(0.5);
    const QList<Slice> slices = slicer.extractSlices(0.0f, 10.0f, 1.0f);
    QCOMPARE(slices.size(), 10);
    QCOMPARE(countMatching(capture.messages(), "TolerantSlicer.prepareMesh skipping 2 facets"), 1);
    for (const Slice &s : slices)
        for (int i = 0; i < s.contourCount(); ++i)
            for (const geom::Vector2f &p : s.contour(i)->points())
                QVERIFY(std::isfinite(p.x) && std::isfinite(p.y));
}

void TestTolerantSlicer::settings()
{
    auto mesh = meshOf(meshtest::unitCube());
    TolerantSlicer slicer(mesh.get(), 0.0001);
    QCOMPARE(slicer.tolerance(), 0.001);
    slicer.setTolerance(0.0005);
    QCOMPARE(slicer.tolerance(), 0.001);
    slicer.setTolerance(0.01);
    QCOMPARE(slicer.tolerance(), 0.01);
    slicer.setGridStep(-1);
    QCOMPARE(slicer.gridStep(), 0.0);
    slicer.setSimplifyTolerance(std::nan(""));
    QCOMPARE(slicer.simplifyTolerance(), 0.0);
    slicer.setSampleOffset(0.25);
    slicer.setSampleOffset(std::nan(""));
    slicer.setSampleOffset(INFINITY);
    QCOMPARE(slicer.sampleOffset(), 0.25);
    QCOMPARE(slicer.mesh(), mesh.get());
    QCOMPARE(slicer.parent(), mesh.get());
    // The range is swapped when given downwards.
    slicer.setSampleOffset(0.0);
    QCOMPARE(slicer.extractSlices(1.0f, 0.0f, 0.25f).size(), 4);
}

// The SLC bytes of a fixture mesh are fixed: a change of the slicer's speed must not change them.
void TestTolerantSlicer::fixtureBytes()
{
    const meshtest::Torus torus(3000, 30.0, 10.0);
    QVector<geom::Facet> facets = torus.facets();
    facets += meshtest::box(Vector3f(-5, -5, -8), Vector3f(5, 5, 8));
    // A crack: the last facet of the torus is missing.
    facets.removeAt(torus.facets().size() - 1);
    auto mesh = meshOf(facets);
    QBuffer buffer;
    {
        meshtest::MessageCapture capture({QtDebugMsg, QtWarningMsg});
        const QList<Slice> slices = sliceLikeExport(mesh.get(), 0.4f, true, 2);
        SlcWriter writer(&buffer);
        QCOMPARE(writer.writeSlices(slices, false), slices.size());
        QVERIFY(writer.finish());
    }
    const slctest::SlcFile f = slctest::readSlc(buffer.data());
    QVERIFY2(f.error.isEmpty(), qPrintable(f.error));
    QCOMPARE(f.layers.size(), 49);
    double volume = 0.0;
    for (const slctest::Layer &layer : f.layers)
        for (const slctest::Boundary &b : layer.boundaries)
            volume += b.area() * 0.4;
    QVERIFY(qAbs(volume - mesh->volume()) / mesh->volume() < 0.01);
    for (const slctest::Layer &layer : f.layers)
        for (const slctest::Boundary &b : layer.boundaries)
            QVERIFY(b.isClosed());
    const QByteArray digest = QCryptographicHash::hash(buffer.data(), QCryptographicHash::Sha256).toHex();
    QCOMPARE(digest, QByteArray("f9bcba0b5b3594d6e1014279166b5544f187eb083b7f32ae59f17574ef29681d"));
}

QTEST_GUILESS_MAIN(TestTolerantSlicer)
#include "tst_tolerantslicer.moc"
