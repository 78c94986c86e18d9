// A model in any unit: scaling every coordinate by s, as a file in metres does against one in
// millimetres, changes what the mesh computes only by that scale. Normals keep their direction,
// area scales by s^2, volume by s^3, bounds by s; the facets without a direction and the attribute
// mask stay the same; the layers cut at a thickness of T s are the layers cut at T, scaled, or the
// slice export says why they are not (the slicer's tolerances are lengths in the file's unit).

#include "geom/core/cuboid.h"
#include "geom/formats/stlreader.h"
#include "geom/mesh/stlmesh.h"
#include "geom/slicing/slcwriter.h"
#include "geom/slicing/slice.h"
#include "geom/slicing/tolerantslicer.h"
#include "meshbuilders.h"
#include "meshcheck.h"
#include "messagecapture.h"
#include "slcreader.h"

#include <QBuffer>
#include <QFile>
#include <QMap>
#include <QtTest>

#include <cfloat>
#include <cmath>
#include <memory>

using geom::Facet;
using geom::StlMesh;
using geom::Vector3f;

namespace {

using MeshPtr = std::unique_ptr<StlMesh>;

// The slice export's tolerance, in the units of the file.
constexpr double SlicerTolerance = 0.001;

struct Model
{
    QVector<Facet> facets;
    QVector<quint16> attributes;
    // Layer thickness T in the model's own units.
    float thickness = 1.0f;
    // The scale at which the slicer's tolerances are small against the model: its layers there
    // are the reference for the layers at every other scale.
    float layerReference = 1.0f;
};

// A torus of about 100k facets in millimetres (ring radius 40, tube radius 12) with two facets laid
// flat in its hole, where no layer cuts them: a sliver (1 by 8, 2e-6 off its line, attribute 7)
// that has no direction at any scale, and a regular facet of 1e-4 (attribute 9) that has one at
// every scale.
Model torusModel()
{
    Model m;
    m.facets = meshtest::Torus(100000).facets();
    m.attributes.fill(0, m.facets.size());
    m.facets << Facet(Vector3f(0, 0, 0), Vector3f(4, 0, 0), Vector3f(8, 2e-6f, 0));
    m.attributes << 7;
    m.facets << Facet(Vector3f(0, 0, 1), Vector3f(1e-4f, 0, 1), Vector3f(0, 1e-4f, 1));
    m.attributes << 9;
    return m;
}

// The scanned bunny of the npm package stl-models (metres, 0.15 across), where the benchmarks
// install it; QUARN_BUNNY_STL names another copy. No facets when it cannot be found.
Model bunnyModel()
{
    Model m;
    m.thickness = 0.002f;
    m.layerReference = 1000.0f;
    QString path = qEnvironmentVariable("QUARN_BUNNY_STL");
    if (path.isEmpty())
        path = QStringLiteral(QUARN_BUNNY_STL);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return m;
    meshtest::MessageCapture quiet;
    geom::StlReader reader(&file);
    const MeshPtr mesh(reader.read());
    if (!mesh)
        return m;
    m.facets = mesh->facets(false);
    for (const geom::IndexedFacet &f : mesh->indices())
        m.attributes << quint16(f.attribute);
    return m;
}

// What the program computes of the model with every coordinate multiplied by s in float.
struct Figures
{
    // The invariant checker's finding, empty for a sound mesh.
    QString meshProblem;
    int facetCount = 0;
    int vertexCount = 0;
    geom::Cuboid bounds;
    double area = 0;
    double volume = 0;
    QVector<Vector3f> normals;
    // Per facet, how far its unit normal may move when its corners are rounded to float again:
    // a few roundings of its largest coordinate against its cross product.
    QVector<float> normalSlack;
    QVector<quint32> attributeMask;
    slctest::SlcFile layers;
    // What the export tells of the layers: why none was made, or what the slicer's tolerances
    // took from them; empty when it tells nothing.
    QString message;
};

Figures figuresOf(const Model &model, float s)
{
    meshtest::MessageCapture quiet;
    const MeshPtr mesh(meshtest::meshFrom(meshtest::scaled(model.facets, s), model.attributes));
    Figures r;
    r.meshProblem = meshtest::checkMesh(*mesh);
    r.facetCount = mesh->indices().size();
    r.vertexCount = mesh->vertices().size();
    r.bounds = mesh->bounds();
    r.area = mesh->area();
    r.volume = mesh->volume();
    r.normals = mesh->facetNormals(1.0);
    const QVector<Vector3f> &v = mesh->vertices();
    for (const geom::IndexedFacet &f : mesh->indices()) {
        const Vector3f &p0 = v[f.a], &p1 = v[f.b], &p2 = v[f.c];
        double largest = 0;
        for (const Vector3f &p : {p0, p1, p2})
            largest =
                std::max({largest, double(std::fabs(p.x)), double(std::fabs(p.y)), double(std::fabs(p.z))});
        // In double throughout: Vector3f::length would call short vectors 0.
        const auto length = [](const Vector3f &e) {
            return std::sqrt(double(e.x) * e.x + double(e.y) * e.y + double(e.z) * e.z);
        };
        const double edges = length(p1 - p0) + length(p2 - p0);
        const double cross = std::sqrt(geom::facetCross(p0, p1, p2).squaredLength);
        r.normalSlack << float(1e-6 + 8 * double(FLT_EPSILON) * largest * edges / cross);
    }
    r.attributeMask = QVector<quint32>(mesh->attributeMask(), mesh->attributeMask() + 2048);

    // Sliced as the export slices, written as an SLC file and read back.
    const float thickness = model.thickness * s;
    QBuffer buffer;
    {
        geom::TolerantSlicer slicer(mesh.get(), SlicerTolerance);
        slicer.setSampleOffset(thickness / 2.0);
        const QList<geom::Slice> slices = slicer.extractSlices(thickness);
        slicer.setParent(nullptr);
        r.message = slicer.outcome() == geom::TolerantSlicer::Layers
                        ? geom::TolerantSlicer::lossText(slicer.losses())
                        : geom::TolerantSlicer::outcomeText(slicer.outcome());
        SlcWriter writer(&buffer);
        writer.writeSlices(slices, false);
        writer.finish();
    }
    r.layers = slctest::readSlc(buffer.data());
    return r;
}

// Where the layers at scale s differ from the reference layers scaled by k = s / reference (z
// within a thousandth of a layer, the area of each layer within 0.1 % of the largest layer's);
// empty when they agree.
QString layerMismatch(const slctest::SlcFile &got, const slctest::SlcFile &reference, double k,
                      double thickness)
{
    if (!got.error.isEmpty())
        return QStringLiteral("unreadable SLC: ") + got.error;
    if (got.layers.size() != reference.layers.size())
        return QStringLiteral("%1 layers, expected %2").arg(got.layers.size()).arg(reference.layers.size());
    const auto areaOf = [](const slctest::Layer &layer) {
        double a = 0;
        for (const slctest::Boundary &b : layer.boundaries)
            a += b.area();
        return a;
    };
    double largest = 0;
    for (const slctest::Layer &layer : reference.layers)
        largest = std::max(largest, std::fabs(areaOf(layer)));
    for (int i = 0; i < got.layers.size(); ++i) {
        const slctest::Layer &g = got.layers[i];
        const slctest::Layer &e = reference.layers[i];
        if (std::fabs(double(g.z) - k * e.z) > 1e-3 * thickness)
            return QStringLiteral("layer %1 at z %2, expected %3").arg(i).arg(double(g.z)).arg(k * e.z);
        const double a = areaOf(g) / (k * k);
        if (std::fabs(a - areaOf(e)) > 1e-3 * largest)
            return QStringLiteral("layer %1 of area %2 (scaled back), expected %3")
                .arg(i)
                .arg(a)
                .arg(areaOf(e));
    }
    return QString();
}

} // namespace

class TestModelScale : public QObject
{
    Q_OBJECT

private slots:
    void sameFiguresAtEveryScale_data();
    void sameFiguresAtEveryScale();

private:
    const Model &model(const QString &name);
    const Figures &figures(const QString &name, float s);

    QMap<QString, Model> m_models;
    QMap<QString, Figures> m_figures;
};

const Model &TestModelScale::model(const QString &name)
{
    if (!m_models.contains(name))
        m_models.insert(name, name == QLatin1String("torus") ? torusModel() : bunnyModel());
    return m_models[name];
}

const Figures &TestModelScale::figures(const QString &name, float s)
{
    const QString key = name + QString::number(double(s));
    if (!m_figures.contains(key))
        m_figures.insert(key, figuresOf(model(name), s));
    return m_figures[key];
}

void TestModelScale::sameFiguresAtEveryScale_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<float>("scale");
    // Where the layers at this scale cannot follow the model, as the slicer's tolerances are lengths
    // in the file's units, what the export tells instead; empty where the layers must be right and
    // nothing is told.
    QTest::addColumn<QString>("told");

    const QString noLayer = QStringLiteral("No layer was made: ");
    const QString notTrue = QStringLiteral("The layers were written, but they are not true to the model: ");
    // Every contour is smaller than the simplification of 0.01 and vanishes.
    QTest::newRow("torus s=1e-4") << "torus" << 1e-4f << noLayer;
    // Heights are rounded to 0.001, a whole layer here, and contours simplified to 0.01: layer areas
    // are off by up to 40 %.
    QTest::newRow("torus s=1e-3") << "torus" << 1e-3f << notTrue;
    QTest::newRow("torus s=1") << "torus" << 1.0f << QString();
    QTest::newRow("torus s=1e3") << "torus" << 1e3f << QString();
    // The slicer cuts only within z of +-16384: 4 of 24 layers.
    QTest::newRow("torus s=1e4") << "torus" << 1e4f << notTrue;
    QTest::newRow("bunny s=1e-4") << "bunny" << 1e-4f << noLayer;
    QTest::newRow("bunny s=1e-3") << "bunny" << 1e-3f << noLayer;
    // Contours narrower than the simplification of 0.01 vanish: the lowest 14 of 120 mm are not cut,
    // 2 layers above them and the top 3 are empty, 55 of 60 layers.
    QTest::newRow("bunny s=1") << "bunny" << 1.0f << notTrue;
    QTest::newRow("bunny s=1e3") << "bunny" << 1e3f << QString();
    QTest::newRow("bunny s=1e4") << "bunny" << 1e4f << QString();
}

void TestModelScale::sameFiguresAtEveryScale()
{
    QFETCH(QString, model);
    QFETCH(float, scale);
    QFETCH(QString, told);
    if (this->model(model).facets.isEmpty())
        QSKIP("the bunny of the npm package stl-models is not installed (bench/bench_real.sh installs it)");
    const Figures &at1 = figures(model, 1.0f);
    const Figures &got = figures(model, scale);
    const double s = scale;
    QVERIFY2(got.meshProblem.isEmpty(), qPrintable(got.meshProblem));

    QCOMPARE(got.facetCount, at1.facetCount);
    QCOMPARE(got.vertexCount, at1.vertexCount);
    const Vector3f extent = at1.bounds.max() - at1.bounds.min();
    const double size = s * std::max({extent.x, extent.y, extent.z});
    for (const auto &corner : {std::make_pair(got.bounds.min(), at1.bounds.min()),
                               std::make_pair(got.bounds.max(), at1.bounds.max())}) {
        const Vector3f expected = corner.second * scale;
        QVERIFY2(std::fabs(corner.first.x - expected.x) <= 1e-6 * size &&
                     std::fabs(corner.first.y - expected.y) <= 1e-6 * size &&
                     std::fabs(corner.first.z - expected.z) <= 1e-6 * size,
                 qPrintable(QStringLiteral("bounds corner (%1, %2, %3)")
                                .arg(double(corner.first.x))
                                .arg(double(corner.first.y))
                                .arg(double(corner.first.z))));
    }
    QVERIFY2(std::fabs(got.area / (s * s) - at1.area) <= 1e-6 * at1.area,
             qPrintable(QStringLiteral("area %1 scaled back, %2 at s = 1")
                            .arg(got.area / (s * s), 0, 'g', 10)
                            .arg(at1.area, 0, 'g', 10)));
    QVERIFY2(std::fabs(got.volume / (s * s * s) - at1.volume) <= 1e-6 * at1.volume,
             qPrintable(QStringLiteral("volume %1 scaled back, %2 at s = 1")
                            .arg(got.volume / (s * s * s), 0, 'g', 10)
                            .arg(at1.volume, 0, 'g', 10)));
    QCOMPARE(got.attributeMask, at1.attributeMask);

    // The same facets lack a direction; every other facet keeps its unit normal.
    int directionless = 0;
    for (int i = 0; i < got.normals.size(); ++i) {
        const Vector3f &n = got.normals[i];
        const Vector3f &e = at1.normals[i];
        if (e == Vector3f::Zero) {
            ++directionless;
            QVERIFY2(n == Vector3f::Zero, qPrintable(QStringLiteral("facet %1 has a direction").arg(i)));
            continue;
        }
        const Vector3f d = n - e;
        const float slack = at1.normalSlack[i];
        QVERIFY2(std::fabs(d.x) <= slack && std::fabs(d.y) <= slack && std::fabs(d.z) <= slack,
                 qPrintable(QStringLiteral("facet %1: normal (%2, %3, %4), (%5, %6, %7) at s = 1")
                                .arg(i)
                                .arg(double(n.x))
                                .arg(double(n.y))
                                .arg(double(n.z))
                                .arg(double(e.x))
                                .arg(double(e.y))
                                .arg(double(e.z))));
    }
    if (model == QLatin1String("torus"))
        QCOMPARE(directionless, 1); // the sliver

    const Model &m = this->model(model);
    const Figures &reference = figures(model, m.layerReference);
    QVERIFY(!reference.layers.layers.isEmpty());
    // Right layers, or the message; never layers that are silently wrong.
    const QString mismatch =
        layerMismatch(got.layers, reference.layers, s / m.layerReference, double(m.thickness) * s);
    if (told.isEmpty()) {
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        QVERIFY2(got.message.isEmpty(), qPrintable(got.message));
    } else {
        qInfo("layers: %s", qPrintable(mismatch));
        QVERIFY2(got.message.startsWith(told), qPrintable(got.message));
        // Not told of layers that are right.
        QVERIFY(!mismatch.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestModelScale)
#include "tst_modelscale.moc"
