// Inputs the fuzz targets (fuzz/) found to break a reader, each kept as a small fixture and named
// after what it shows.

#include "geom/stlmesh.h"
#include "geom/stlreader.h"

#include "meshbuilders.h"
#include "meshcheck.h"
#include "stltestdata.h"

#include <QBuffer>
#include <QtTest>

#include <algorithm>
#include <memory>

using geom::Facet;
using geom::StlMesh;
using geom::StlReader;

namespace {

std::unique_ptr<StlMesh> readStl(const QByteArray &bytes, StlReader::Statuses *status = nullptr)
{
    QBuffer buffer;
    buffer.setData(bytes);
    StlReader reader(&buffer);
    std::unique_ptr<StlMesh> mesh(reader.read());
    if (status)
        *status = reader.status();
    return mesh;
}

bool sameFacets(const QVector<geom::IndexedFacet> &a, const QVector<geom::IndexedFacet> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto &p, const auto &q) {
        return p.a == q.a && p.b == q.b && p.c == q.c && p.attribute == q.attribute;
    });
}

} // namespace

class TestFuzzRegressions : public QObject
{
    Q_OBJECT

private slots:
    void manySolidsReadAsOneMesh();
};

// An ASCII file of many small solids (fuzz_stl_large: the seeds repeated). Each solid was merged
// into the whole mesh on its own, re-sorting everything read so far once per solid: minutes for a
// few megabytes. The solids must give the mesh that one solid of the same facets gives.
void TestFuzzRegressions::manySolidsReadAsOneMesh()
{
    // note: at 20000 solids the merge per solid takes minutes in the sanitizer build and seconds
    // in a release build; one merge for the whole file takes a fraction of a second in either.
    const int count = 20000;
    const QVector<Facet> facets = meshtest::openStrip(count);
    QByteArray manySolids;
    for (int i = 0; i < count; ++i)
        manySolids += stltest::asciiStl({facets[i]}, "part" + QByteArray::number(i));

    StlReader::Statuses status;
    const std::unique_ptr<StlMesh> mesh = readStl(manySolids, &status);
    QCOMPARE(status, StlReader::Statuses());
    QVERIFY(mesh);
    QCOMPARE(mesh->indices().size(), count);
    QCOMPARE(mesh->vertices().size(), count + 2);
    QUARN_CHECK_MESH(*mesh);

    const std::unique_ptr<StlMesh> oneSolid = readStl(stltest::asciiStl(facets, "whole"));
    QVERIFY(oneSolid);
    QCOMPARE(mesh->vertices(), oneSolid->vertices());
    QVERIFY(sameFacets(mesh->indices(), oneSolid->indices()));
}

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
