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

using geom::Slice;
using geom::StlMesh;
using geom::TolerantSlicer;
using geom::Vector3f;

namespace {

// Slices like the export: tolerance 0.001, the cut in the middle of each layer.
QList<Slice> sliceLikeExport(StlMesh *mesh, float thickness, bool merge = false, int rule = 2)
{
    TolerantSlicer slicer(mesh, 0.001);
    slicer.setSampleOffset(thickness / 2.0);
    slicer.setMergeContours(merge);
    slicer.setWindingRule(rule);
    QList<Slice> slices = slicer.extractSlices(thickness);
    slicer.setParent(nullptr);
    return slices;
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
    void mirroredCopy();
    void mergeUnitesOverlaps();
    void cancelFromSliceReady();
    void refusedInput_data();
    void refusedInput();
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
    QVector<geom::Facet> facets = meshtest::box(Vector3f(0, 0, 0), Vector3f(10, 10, 10));
    // Take out a facet of a side wall (one whose normal is horizontal).
    for (int i = 0; i < facets.size(); ++i) {
        if (facets[i].normal.z == 0.0f) {
            facets.removeAt(i);
            break;
        }
    }
    auto mesh = meshOf(facets);
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
    const float thickness = 1.0f;
    const QList<Slice> slices = sliceLikeExport(mesh.get(), thickness);
    QVERIFY(capture.messages().isEmpty());
    QCOMPARE(slices.size(), 24);
    double volume = 0.0;
    for (const Slice &s : slices) {
        QCOMPARE(s.contourCount(), 2);
        const double a0 = s.contour(0)->area(), a1 = s.contour(1)->area();
        QVERIFY(qMin(a0, a1) < 0.0); // the hole, clockwise
        QVERIFY(qMax(a0, a1) > 0.0); // the outer ring, counter-clockwise
        QVERIFY(qMax(a0, a1) > -qMin(a0, a1));
        volume += (a0 + a1) * thickness;
    }
    QVERIFY(qAbs(volume - mesh->volume()) / mesh->volume() < 0.02);
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
    // The next run starts afresh.
    QCOMPARE(slicer.extractSlices(2.0f, 4.0f, 1.0f).size(), 2);
}

void TestTolerantSlicer::refusedInput_data()
{
    QTest::addColumn<float>("from");
    QTest::addColumn<float>("to");
    QTest::addColumn<float>("thickness");
    QTest::addColumn<bool>("facets");
    QTest::addColumn<int>("warnings");
    const float nan = std::nanf("");
    QTest::newRow("zero thickness") << 0.0f << 10.0f << 0.0f << true << 1;
    QTest::newRow("negative thickness") << 0.0f << 10.0f << -1.0f << true << 1;
    QTest::newRow("NaN thickness") << 0.0f << 10.0f << nan << true << 1;
    QTest::newRow("infinite thickness") << 0.0f << 10.0f << float(INFINITY) << true << 1;
    QTest::newRow("NaN range") << nan << 10.0f << 1.0f << true << 1;
    QTest::newRow("infinite range") << 0.0f << float(INFINITY) << 1.0f << true << 1;
    QTest::newRow("too many layers") << -16384.0f << 16384.0f << 1e-6f << true << 1;
    QTest::newRow("no facets") << 0.0f << 10.0f << 1.0f << false << 0;
}

// Input that cannot be sliced ends at once with an empty list and one extractFinished(0).
void TestTolerantSlicer::refusedInput()
{
    QFETCH(float, from);
    QFETCH(float, to);
    QFETCH(float, thickness);
    QFETCH(bool, facets);
    QFETCH(int, warnings);
    auto mesh = meshOf(facets ? meshtest::unitCube() : QVector<geom::Facet>());
    meshtest::MessageCapture capture;
    TolerantSlicer slicer(mesh.get(), 0.001);
    QSignalSpy finished(&slicer, &TolerantSlicer::extractFinished);
    QVERIFY(slicer.extractSlices(from, to, thickness).isEmpty());
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).toInt(), 0);
    QCOMPARE(capture.messages().size(), warnings);

    TolerantSlicer none(nullptr, 0.001);
    QVERIFY(none.extractSlices(1.0f).isEmpty());
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
