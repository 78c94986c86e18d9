// Inputs the fuzz targets (fuzz/) found to break a reader, each kept as a small fixture and named
// after what it shows.

#include "geom/formats/qrnreader.h"
#include "geom/formats/stlreader.h"
#include "geom/mesh/stlmesh.h"
#include "io/gzipfile.h"

#include "meshbuilders.h"
#include "meshcheck.h"
#include "stltestdata.h"

#include <QBuffer>
#include <QTemporaryDir>
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
    void damagedSecondMemberKeepsPositionWithinSize();
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

// A gzip file of a compressed mesh followed by a damaged second member (fuzz_qrn_gzip). zlib drops
// the bytes of a read call that runs into the damage, so the reader's reads got further than the
// size measured at open, and the position passed the size that a progress bar divides it by.
void TestFuzzRegressions::damagedSecondMemberKeepsPositionWithinSize()
{
    const QByteArray bytes = QByteArray::fromHex(
        "1f8b08000000000000030b0cf2f36667a00560c12ada608f4a8381c35ef336531083910146b241a598e0a2301e339805"
        "001073ab40b80000001f8b08000000000080bf0000b0400000a0c0000070400300000006000000000000280100000002"
        "0000ffffffff000400000005000000020000000600000001000000030000000100000006000000000002000200000003"
        "0000000000030b0cf2f36667a00560c12ada608f4a8381c35ef336531083");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("damaged.qrn"));
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QCOMPARE(out.write(bytes), qint64(bytes.size()));
    }
    GZipFile file(path);
    geom::QrnReader reader(&file);
    geom::StlMesh mesh;
    reader.read(&mesh);
    QVERIFY(file.isOpen());
    QVERIFY(file.pos() >= 0);
    QVERIFY2(file.pos() <= file.size(),
             qPrintable(QStringLiteral("position %1, size %2").arg(file.pos()).arg(file.size())));
}

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
