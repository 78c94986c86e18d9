#include "view/meshdisplaycache.h"

#include "geom/mesh/stlmesh.h"
#include "glscene.h"
#include "meshbuilders.h"
#include "meshcheck.h"
#include "messagecapture.h"
#include "view/glscope.h"
#include "view/openglarray.h"

#include <QBuffer>
#include <QDataStream>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QtTest>

#include <cstring>
#include <memory>

using geom::Vector3f;

Q_DECLARE_METATYPE(geom::IndexedFacet)

namespace {

// One vertex of a cache array as saved: position and normal.
struct SavedVertex
{
    Vector3f position;
    Vector3f normal;
};

QByteArray savedCache(const MeshDisplayCache &cache)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QDataStream out(&buffer);
    if (!cache.save(out))
        qWarning("save refused");
    return bytes;
}

// The vertices of the first array of a saved cache (version 3: version, radius, count, key, then the
// array record with an 8-byte header).
QVector<SavedVertex> savedVertices(const MeshDisplayCache &cache)
{
    const QByteArray bytes = savedCache(cache);
    constexpr int head = 4 + 4 + 4 + 4 + 8;
    QVector<SavedVertex> vertices((bytes.size() - head) / 24);
    if (!vertices.isEmpty())
        std::memcpy(vertices.data(), bytes.constData() + head, size_t(vertices.size()) * 24);
    return vertices;
}

bool loadCache(MeshDisplayCache &cache, const QByteArray &bytes)
{
    QBuffer buffer(const_cast<QByteArray *>(&bytes));
    buffer.open(QIODevice::ReadOnly);
    QDataStream in(&buffer);
    return cache.load(in);
}

std::unique_ptr<geom::StlMesh> meshOf(const QVector<geom::Facet> &facets)
{
    return std::unique_ptr<geom::StlMesh>(meshtest::meshFrom(facets));
}

QMatrix4x4 moved(float x, float y, float scale = 1.0f)
{
    QMatrix4x4 m;
    m.translate(x, y, 0);
    m.scale(scale);
    return m;
}

// Lit pixels left and right of the middle column.
QPair<int, int> litHalves(const QImage &image)
{
    const int half = image.width() / 2;
    return {viewtest::litPixels(image.copy(0, 0, half, image.height())),
            viewtest::litPixels(image.copy(half, 0, image.width() - half, image.height()))};
}

} // namespace

// The display cache: building arrays from meshes and facet records, drawing them under model
// matrices with caching on and off, moving them between GPU buffers and client memory, the cache
// stream, and the GL error list, on a real context (Xvfb, llvmpipe).
class TestMeshDisplayCache : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void normals_data();
    void normals();
    void centring_data();
    void centring();
    void facetRecords();
    void buildAndReplace();
    void layerLines();
    void identicalImagesWithAndWithoutCaching_data();
    void identicalImagesWithAndWithoutCaching();
    void drawsUnderMatrices();
    void lostBuffersAreDropped();
    void saveAndLoad();
    void damagedStreamsLeaveCacheEmpty_data();
    void damagedStreamsLeaveCacheEmpty();
    void olderStreamVersion();
    void glErrorsKeepNewest();

private:
    // Lit, single-sided scene: a light from the viewer so that the normals shape the picture.
    QImage drawScene(MeshDisplayCache &cache, const QList<QMatrix4x4> &matrices, float extent,
                     const QString &name);

    std::unique_ptr<viewtest::GLScene> m_scene;
};

void TestMeshDisplayCache::initTestCase()
{
    m_scene.reset(new viewtest::GLScene(160));
    QVERIFY(m_scene->isValid());
}

void TestMeshDisplayCache::cleanupTestCase()
{
    m_scene.reset();
}

QImage TestMeshDisplayCache::drawScene(MeshDisplayCache &cache, const QList<QMatrix4x4> &matrices,
                                       float extent, const QString &name)
{
    m_scene->begin(extent, viewtest::GLScene::LitFill);
    cache.draw(matrices);
    return m_scene->finish(name);
}

void TestMeshDisplayCache::normals_data()
{
    QTest::addColumn<QVector<Vector3f>>("vertices");
    QTest::addColumn<QVector<geom::IndexedFacet>>("facets");
    QTest::addColumn<QVector<Vector3f>>("expected");

    const QVector<Vector3f> corner{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    QTest::newRow("single facet") << corner << QVector<geom::IndexedFacet>{meshtest::indexedFacet(0, 1, 2)}
                                  << QVector<Vector3f>{{0, 0, 1}};
    QTest::newRow("repeated facet negated")
        << corner
        << QVector<geom::IndexedFacet>{meshtest::indexedFacet(0, 1, 2), meshtest::indexedFacet(0, 1, 2),
                                       meshtest::indexedFacet(0, 1, 3)}
        << QVector<Vector3f>{{0, 0, 1}, {0, 0, -1}, {0, -1, 0}};
    QTest::newRow("degenerate facet")
        << QVector<Vector3f>{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}
        << QVector<geom::IndexedFacet>{meshtest::indexedFacet(0, 1, 2)} << QVector<Vector3f>{{0, 0, 0}};
    // Small is not degenerate: a facet of a model in metres is lit as in millimetres.
    QTest::newRow("facet 1e-4 across")
        << QVector<Vector3f>{{0, 0, 0}, {1e-4f, 0, 0}, {0, 1e-4f, 0}}
        << QVector<geom::IndexedFacet>{meshtest::indexedFacet(0, 1, 2)} << QVector<Vector3f>{{0, 0, 1}};
    QTest::newRow("sliver 1 by 8") << QVector<Vector3f>{{0, 0, 0}, {4, 0, 0}, {8, 2e-6f, 0}}
                                   << QVector<geom::IndexedFacet>{meshtest::indexedFacet(0, 1, 2)}
                                   << QVector<Vector3f>{{0, 0, 0}};
}

void TestMeshDisplayCache::normals()
{
    QFETCH(QVector<Vector3f>, vertices);
    QFETCH(QVector<geom::IndexedFacet>, facets);
    QFETCH(QVector<Vector3f>, expected);

    geom::StlMesh mesh;
    mesh.setData(vertices, facets);
    QUARN_CHECK_MESH(mesh, meshtest::AllowEqualVertices);
    QCOMPARE(mesh.indices().size(), expected.size());

    MeshDisplayCache cache;
    cache.setCaching(false);
    QCOMPARE(cache.update(&mesh, 0), qint64(72) * expected.size());
    const QVector<SavedVertex> saved = savedVertices(cache);
    QCOMPARE(saved.size(), 3 * expected.size());
    for (int i = 0; i < saved.size(); ++i)
        QCOMPARE(saved[i].normal, expected[i / 3]);
}

void TestMeshDisplayCache::centring_data()
{
    QTest::addColumn<Vector3f>("centre");
    QTest::addColumn<bool>("moves");
    QTest::newRow("centred") << Vector3f(0, 0, 0) << false;
    QTest::newRow("z 0.00002") << Vector3f(0, 0, 0.00002f) << true;
    QTest::newRow("x 0.000009") << Vector3f(0.000009f, 0, 0) << false;
    QTest::newRow("far off") << Vector3f(5, -3, 2) << true;
}

void TestMeshDisplayCache::centring()
{
    QFETCH(Vector3f, centre);
    QFETCH(bool, moves);
    auto mesh = meshOf(meshtest::box(Vector3f(-1, -2, -3), Vector3f(1, 2, 3)));
    mesh->translate(centre);
    QUARN_CHECK_MESH(*mesh, meshtest::ListsOnly);

    MeshDisplayCache cache;
    cache.setCaching(false);
    QCOMPARE(cache.update(mesh.get(), 0), qint64(12 * 72));
    QCOMPARE(cache.maxValue(), float(mesh->radius()));
    geom::Cuboid box;
    for (const SavedVertex &v : savedVertices(cache))
        box.expand(v.position);
    const Vector3f expectedMin = moves ? Vector3f(-1, -2, -3) : mesh->bounds().min();
    QVERIFY2(std::fabs(box.min().x - expectedMin.x) < 1e-6f &&
                 std::fabs(box.min().y - expectedMin.y) < 1e-6f &&
                 std::fabs(box.min().z - expectedMin.z) < 1e-6f,
             qPrintable(QString("%1 %2 %3").arg(box.min().x).arg(box.min().y).arg(box.min().z)));
    // The mesh itself is untouched.
    QCOMPARE(mesh->bounds().center().x, centre.x);
}

void TestMeshDisplayCache::facetRecords()
{
    // Stored normals are taken as they are; the vertices are centred and the radius measured.
    QVector<geom::Facet> facets = meshtest::box(Vector3f(10, 10, 10), Vector3f(12, 12, 12));
    facets[0].normal = Vector3f(7, 8, 9);
    MeshDisplayCache cache;
    cache.setCaching(false);
    QCOMPARE(cache.update(facets, 4), qint64(12 * 72));
    const QVector<SavedVertex> saved = savedVertices(cache);
    QCOMPARE(saved.first().normal, Vector3f(7, 8, 9));
    QCOMPARE(saved.first().position, facets[0].vertex[0] - Vector3f(11, 11, 11));
    QCOMPARE(cache.maxValue(), float(std::sqrt(3.0)));
    QCOMPARE(cache.update(QVector<geom::Facet>(), 5), qint64(0));
}

void TestMeshDisplayCache::buildAndReplace()
{
    MeshDisplayCache cache;
    QVERIFY(cache.isEmpty());
    QVERIFY(cache.isCaching());
    QVERIFY(cache.checkErrors());
    QCOMPARE(cache.update(static_cast<const geom::StlMesh *>(nullptr), 0), qint64(-1));
    QVERIFY(cache.isEmpty());

    // An empty mesh stores an empty array: the cache is no longer empty and draws nothing.
    geom::StlMesh empty;
    QCOMPARE(cache.update(&empty, 0), qint64(0));
    QVERIFY(!cache.isEmpty());
    QCOMPARE(viewtest::litPixels(drawScene(cache, {}, 2, "cache-empty-mesh")), 0);

    // With caching on the first build picks the current context.
    QGLContext *context = m_scene->context();
    auto small = meshOf(meshtest::unitCube());
    auto large = meshOf(meshtest::box(Vector3f(-4, -4, -4), Vector3f(4, 4, 4)));
    QVERIFY(cache.update(large.get(), 0) > 0);
    QCOMPARE(cache.context(), context);
    QCOMPARE(cache.update(small.get(), 0), qint64(12 * 72));
    QCOMPARE(cache.byteSize(), qint64(12 * 72));
    QCOMPARE(cache.maxValue(), float(large->radius()));

    // Caching off keeps the context; on again reuses it; clear forgets it and the radius.
    cache.setCaching(false);
    QCOMPARE(cache.context(), context);
    cache.setCaching(false);
    cache.setCaching(true);
    QCOMPARE(cache.byteSize(), qint64(12 * 72));
    cache.clear();
    QVERIFY(cache.isEmpty());
    QCOMPARE(cache.context(), static_cast<QGLContext *>(nullptr));
    QCOMPARE(cache.maxValue(), 0.0f);
    QVERIFY(cache.isCaching());

    // Swapping exchanges contents and flags.
    MeshDisplayCache other;
    other.setCaching(false);
    QVERIFY(other.update(small.get(), 3) > 0);
    cache.swap(other);
    QVERIFY(!cache.isEmpty());
    QVERIFY(!cache.isCaching());
    QVERIFY(other.isEmpty());
    QVERIFY(other.isCaching());
    cache.swap(cache);
    QVERIFY(!cache.isEmpty());
}

void TestMeshDisplayCache::layerLines()
{
    // A counter-clockwise square and a one-point contour at z 3 of a model boxed in (0,0,0)-(2,2,4):
    // the square is moved by the box centre (1, 1, 2), the lone point is skipped.
    MeshDisplayCache::LayerSet layers;
    layers.bounds = geom::Cuboid(Vector3f(0, 0, 0), Vector3f(2, 2, 4));
    layers.radius = 0.5;
    geom::Slice slice(3.0f);
    slice.contours() << geom::Contour(QVector<geom::Vector2f>{{0, 0}, {2, 0}, {2, 2}, {0, 2}})
                     << geom::Contour(QVector<geom::Vector2f>{{5, 5}});
    layers.slices << slice;
    layers.edgeCount = 4;

    auto large = meshOf(meshtest::box(Vector3f(-4, -4, -4), Vector3f(4, 4, 4)));
    MeshDisplayCache cache;
    cache.setCaching(false);
    QVERIFY(cache.update(large.get(), 0) > 0);
    QCOMPARE(cache.update(layers, 0), qint64(8 * 24));
    QCOMPARE(cache.maxValue(), 0.5f);
    const QVector<SavedVertex> saved = savedVertices(cache);
    QCOMPARE(saved.size(), 8);
    QCOMPARE(saved[0].position, Vector3f(-1, 1, 1));
    QCOMPARE(saved[1].position, Vector3f(-1, -1, 1));
    QCOMPARE(saved[0].normal, Vector3f(-1, 0, 0));
    QCOMPARE(saved[1].normal, Vector3f(-1, 0, 0));
    QCOMPARE(saved[3].position, Vector3f(1, -1, 1));
    QCOMPARE(saved[3].normal, Vector3f(0, -1, 0));

    // Staging that cannot be had fails the build and keeps the stored array.
    for (int shift : {50, 58, 62}) {
        MeshDisplayCache::LayerSet absurd = layers;
        absurd.edgeCount = qint64(1) << shift;
        meshtest::MessageCapture capture;
        QCOMPARE(cache.update(absurd, 0), qint64(-1));
        QCOMPARE(capture.messages().size(), 1);
    }
    QCOMPARE(cache.byteSize(), qint64(8 * 24));

    // Drawn from buffer objects they outline the square.
    cache.setCaching(true);
    const QImage image = drawScene(cache, {}, 2, "cache-layer-lines");
    QVERIFY(viewtest::litPixels(image) > 100);
    QCOMPARE(image.pixel(80, 80) & 0xffffff, 0u);
}

void TestMeshDisplayCache::identicalImagesWithAndWithoutCaching_data()
{
    QTest::addColumn<qint64>("triangles");
    QTest::newRow("unit cube") << qint64(12);
    QTest::newRow("200k triangles") << qint64(200000);
}

void TestMeshDisplayCache::identicalImagesWithAndWithoutCaching()
{
    QFETCH(qint64, triangles);
    std::unique_ptr<geom::StlMesh> mesh;
    float extent = 1.5f;
    if (triangles == 12) {
        mesh = meshOf(meshtest::box(Vector3f(-0.5f, -0.5f, -0.5f), Vector3f(0.5f, 0.5f, 0.5f)));
    } else {
        mesh = meshOf(meshtest::Torus(triangles).facets());
        extent = 60.0f;
    }
    QUARN_CHECK_MESH(*mesh);
    QMatrix4x4 model;
    model.rotate(35, 1, 0, 0);
    model.rotate(-25, 0, 1, 0);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-');

    MeshDisplayCache cache;
    cache.setCaching(false);
    QVERIFY(cache.update(mesh.get(), 0) > 0);
    QCOMPARE(cache.context(), static_cast<QGLContext *>(nullptr));
    const QImage off = drawScene(cache, {model}, extent, "cache-" + tag + "-off");
    QVERIFY(viewtest::litPixels(off) > 100);

    cache.setCaching(true);
    QVERIFY(cache.context());
    const QImage on = drawScene(cache, {model}, extent, "cache-" + tag + "-on");
    cache.setCaching(false);
    const QImage offAgain = drawScene(cache, {model}, extent, "cache-" + tag + "-off-again");
    QCOMPARE(on, off);
    QCOMPARE(offAgain, off);
    QVERIFY(cache.takeGLErrors().isEmpty());

    // The same vertices cut into 1 MiB chunks, from buffer objects, draw the same picture.
    if (triangles > 12) {
        const QByteArray bytes = savedCache(cache);
        geom::OpenGLArray array(m_scene->context());
        array.setChunkSize(1 << 20);
        QVERIFY(array.glBegin(GL_TRIANGLES));
        const char *p = bytes.constData() + 24;
        for (qint64 i = 0; i < 3 * triangles; ++i, p += 24) {
            GLfloat v[6];
            std::memcpy(v, p, sizeof v);
            array.glNormal3fv(v + 3);
            array.glVertex3fv(v);
        }
        QVERIFY(array.glEnd());
        QVERIFY(array.chunkByteSizes().size() > 10);
        m_scene->begin(extent, viewtest::GLScene::LitFill);
        QGL::glMultMatrix(model);
        array.enableClientStates();
        array.glDrawArrays(GL_TRIANGLES, 0, array.count());
        array.disableClientStates();
        QCOMPARE(m_scene->finish("cache-" + tag + "-chunked"), off);
    }
}

void TestMeshDisplayCache::drawsUnderMatrices()
{
    auto cube = meshOf(meshtest::box(Vector3f(-0.25f, -0.25f, -0.25f), Vector3f(0.25f, 0.25f, 0.25f)));
    MeshDisplayCache cache;
    QVERIFY(cache.update(cube.get(), 0) > 0);
    QVERIFY(cache.update(cube.get(), 1) > 0);

    const QPair<int, int> twice =
        litHalves(drawScene(cache, {moved(-0.5f, 0), moved(0.5f, 0)}, 1, "cache-twice"));
    QVERIFY(twice.first > 500);
    QCOMPARE(twice.second, twice.first);

    // A flat matrix hides its array only; the next array keeps its own matrix.
    const QPair<int, int> hidden =
        litHalves(drawScene(cache, {moved(-0.5f, 0, 0), moved(0.5f, 0)}, 1, "cache-first-hidden"));
    QCOMPARE(hidden.first, 0);
    QCOMPARE(hidden.second, twice.second);

    // A small uniform scale is not degenerate: a model of 40 units scaled by 0.02 stays visible.
    auto large = meshOf(meshtest::box(Vector3f(-20, -20, -20), Vector3f(20, 20, 20)));
    MeshDisplayCache scaled;
    QVERIFY(scaled.update(large.get(), 0) > 0);
    QVERIFY(scaled.update(large.get(), 1) > 0);
    const QPair<int, int> small =
        litHalves(drawScene(scaled, {moved(-0.5f, 0, 0.02f), moved(0.5f, 0, 0.02f)}, 1, "cache-scaled-0.02"));
    QVERIFY(small.first > 1000);
    QCOMPARE(small.second, small.first);

    // Without matrices both arrays are drawn in place.
    const QImage untransformed = drawScene(cache, {}, 1, "cache-untransformed");
    const QPair<int, int> centre = litHalves(untransformed);
    QVERIFY(centre.first > 0 && centre.second > 0);
    QCOMPARE(centre.first + centre.second, twice.first);
}

void TestMeshDisplayCache::lostBuffersAreDropped()
{
    auto cube = meshOf(meshtest::unitCube());
    MeshDisplayCache cache;
    m_scene->context();
    QVERIFY(cache.update(cube.get(), 0) > 0);
    QVERIFY(cache.context());

    // Pull the buffer objects away behind the cache's back: reading them back fails.
    QOpenGLFunctions *gl = QOpenGLContext::currentContext()->functions();
    for (GLuint name = 1; name < 4096; ++name) {
        if (gl->glIsBuffer(name))
            gl->glDeleteBuffers(1, &name);
    }
    meshtest::MessageCapture capture;
    cache.setCaching(false);
    QVERIFY(cache.isEmpty());
    QVERIFY(capture.messages().contains("MeshDisplayCache.setCaching dropped array 0: its buffers could not "
                                        "be read back"));
    // The next frame rebuilds from the mesh.
    QVERIFY(cache.update(cube.get(), 0) > 0);
    QVERIFY(viewtest::litPixels(drawScene(cache, {moved(-0.5f, -0.5f)}, 2, "cache-rebuilt")) > 0);
    QGL::glErrors();
}

void TestMeshDisplayCache::saveAndLoad()
{
    auto cube = meshOf(meshtest::box(Vector3f(-0.5f, -0.5f, -0.5f), Vector3f(0.5f, 0.5f, 0.5f)));
    auto tetra = meshOf(meshtest::tetrahedron());
    QMatrix4x4 model;
    model.rotate(30, 1, 1, 0);
    for (bool caching : {false, true}) {
        MeshDisplayCache cache;
        cache.setCaching(caching);
        QVERIFY(cache.update(cube.get(), 2) > 0);
        QVERIFY(cache.update(tetra.get(), 7) > 0);
        const QImage before = drawScene(cache, {model, moved(0.5f, 0.5f)}, 1.5f, "cache-before-save");

        QByteArray bytes;
        {
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            QDataStream out(&buffer);
            out.setFloatingPointPrecision(QDataStream::DoublePrecision);
            QVERIFY(cache.save(out));
            QCOMPARE(out.byteOrder(), QDataStream::BigEndian);
            QCOMPARE(out.floatingPointPrecision(), QDataStream::DoublePrecision);
        }
        QCOMPARE(bytes.left(4), QByteArray("\x03\x00\x00\x00", 4));

        MeshDisplayCache loaded;
        loaded.setCaching(caching);
        QVERIFY(loadCache(loaded, bytes));
        QCOMPARE(loaded.maxValue(), cache.maxValue());
        QCOMPARE(loaded.byteSize(), cache.byteSize());
        QCOMPARE(savedCache(loaded), bytes);
        QCOMPARE(drawScene(loaded, {model, moved(0.5f, 0.5f)}, 1.5f, "cache-after-load"), before);
    }

    // A write-only device cannot be loaded from, a read-only one not saved to.
    MeshDisplayCache cache;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QDataStream stream(&buffer);
    QVERIFY(!cache.save(stream));
    QByteArray written;
    QBuffer sink(&written);
    sink.open(QIODevice::WriteOnly);
    QDataStream writeOnly(&sink);
    QVERIFY(!cache.load(writeOnly));
}

void TestMeshDisplayCache::damagedStreamsLeaveCacheEmpty_data()
{
    QTest::addColumn<QByteArray>("bytes");

    auto cube = meshOf(meshtest::unitCube());
    MeshDisplayCache cache;
    cache.setCaching(false);
    cache.update(cube.get(), 0);
    const QByteArray good = savedCache(cache);

    QByteArray version4 = good;
    version4[0] = 4;
    QTest::newRow("version 4") << version4;
    QByteArray version0 = good;
    version0[0] = 0;
    QTest::newRow("version 0") << version0;
    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("truncated in the vertices") << good.left(good.size() - 5);
    QTest::newRow("truncated in the array header") << good.left(18);
    QByteArray negative = good;
    negative[8] = '\xff';
    negative[9] = '\xff';
    negative[10] = '\xff';
    negative[11] = '\xff';
    QTest::newRow("negative array count") << negative;
    QByteArray more = good;
    more[8] = 2;
    QTest::newRow("one array more than stored") << more;
    QByteArray badRecord = good;
    badRecord[16] = 9;
    QTest::newRow("bad array record version") << badRecord;
}

void TestMeshDisplayCache::damagedStreamsLeaveCacheEmpty()
{
    QFETCH(QByteArray, bytes);
    auto tetra = meshOf(meshtest::tetrahedron());
    MeshDisplayCache cache;
    QVERIFY(cache.update(tetra.get(), 1) > 0);
    QVERIFY(!loadCache(cache, bytes));
    QVERIFY(cache.isEmpty());
    QCOMPARE(cache.maxValue(), 0.0f);
}

void TestMeshDisplayCache::olderStreamVersion()
{
    // Version 2: radius as float, entry count, then per entry key, mode, float groups and the
    // vertices as position and normal. Two entries under key 5 continue one recording; an entry
    // without vertices under key 6 leaves nothing.
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        out.setFloatingPointPrecision(QDataStream::SinglePrecision);
        out << qint32(2) << 1.5f << qint32(3);
        const float triangle[3][6] = {{0, 0, 0, 0, 0, 1}, {1, 0, 0, 0, 0, 1}, {0, 1, 0, 0, 0, 1}};
        for (int entry = 0; entry < 2; ++entry) {
            out << qint32(5) << qint32(GL_TRIANGLES) << qint32(6);
            for (int k = 0; k < 3; ++k) {
                for (float f : triangle[k])
                    out << f;
            }
        }
        out << qint32(6) << qint32(GL_TRIANGLES) << qint32(0);
    }
    MeshDisplayCache cache;
    cache.setCaching(false);
    QVERIFY(loadCache(cache, bytes));
    QCOMPARE(cache.maxValue(), 1.5f);
    QCOMPARE(cache.byteSize(), qint64(2 * 72));
    const QVector<SavedVertex> saved = savedVertices(cache);
    QCOMPARE(saved.size(), 6);
    QCOMPARE(saved[4].position, Vector3f(1, 0, 0));
    QCOMPARE(saved[4].normal, Vector3f(0, 0, 1));
    QCOMPARE(savedCache(cache).mid(12, 4), QByteArray("\x05\x00\x00\x00", 4));

    // An odd float-group count is damage.
    bytes[20] = 7;
    QVERIFY(!loadCache(cache, bytes));
    QVERIFY(cache.isEmpty());
}

void TestMeshDisplayCache::glErrorsKeepNewest()
{
    m_scene->context();
    MeshDisplayCache cache;
    QGL::glErrors();
    for (int i = 0; i < 150; ++i) {
        glEnable(0x7fff); // invalid enumerant
        QCOMPARE(cache.collectGLErrors(), 1);
    }
    glLineWidth(-1.0f); // invalid value
    QCOMPARE(cache.collectGLErrors(), 1);
    cache.setCheckErrors(false);
    glEnable(0x7fff);
    QCOMPARE(cache.collectGLErrors(), 0);
    QGL::glErrors();
    const QStringList errors = cache.takeGLErrors();
    QCOMPARE(errors.size(), MeshDisplayCache::MaxGLErrors);
    QCOMPARE(errors.last(), QString("invalid value"));
    QCOMPARE(errors.first(), QString("invalid enumerant"));
    QVERIFY(cache.takeGLErrors().isEmpty());
}

QTEST_MAIN(TestMeshDisplayCache)
#include "tst_meshdisplaycache.moc"
