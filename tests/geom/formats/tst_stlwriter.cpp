#include "geom/formats/stlreader.h"
#include "geom/formats/stlwriter.h"
#include "geom/mesh/stlmesh.h"

#include "meshbuilders.h"
#include "meshcheck.h"
#include "stltestdata.h"
#include "threadlessrun.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QThread>
#include <QtConcurrent>
#include <QtTest>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/resource.h>

using geom::Facet;
using geom::IndexedFacet;
using geom::StlMesh;
using geom::StlWriter;
using geom::Vector3f;

namespace {

// A buffer that takes at most `limit` bytes in all, like a full disk.
class LimitedBuffer : public QBuffer
{
public:
    explicit LimitedBuffer(qint64 limit)
        : m_limit(limit)
    {}

protected:
    qint64 writeData(const char *data, qint64 length) override
    {
        const qint64 room = std::max<qint64>(0, m_limit - pos());
        if (room == 0)
            return -1;
        return QBuffer::writeData(data, std::min(room, length));
    }

private:
    qint64 m_limit;
};

class SequentialBuffer : public QBuffer
{
public:
    bool isSequential() const override { return true; }
};

std::unique_ptr<StlMesh> unitCube()
{
    return std::unique_ptr<StlMesh>(meshtest::meshFrom(meshtest::unitCube()));
}

Vector3f centroid(const Facet &f)
{
    return Vector3f((f.vertex[0].x + f.vertex[1].x + f.vertex[2].x) / 3,
                    (f.vertex[0].y + f.vertex[1].y + f.vertex[2].y) / 3,
                    (f.vertex[0].z + f.vertex[1].z + f.vertex[2].z) / 3);
}

float dot(const Vector3f &a, const Vector3f &b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

std::unique_ptr<StlMesh> readBack(const QByteArray &bytes)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    geom::StlReader reader(&buffer);
    std::unique_ptr<StlMesh> mesh(reader.read());
    return mesh;
}

// A mesh of the one facet (0, 1, 2) over the three corners, with the given attribute word.
void setOneFacet(StlMesh &mesh, const QVector<Vector3f> &corners, quint32 attribute = 0)
{
    mesh.setData(corners, {meshtest::indexedFacet(0, 1, 2, attribute)});
}

// The bytes StlWriter writes for mesh, once it is gone; written receives what write returned.
QByteArray writtenBytes(const StlMesh &mesh, int *written)
{
    QBuffer buffer;
    {
        StlWriter writer(&buffer);
        *written = writer.write(mesh);
    }
    return buffer.data();
}

// The environment variable that makes this program the child of writesWithoutThreads(): it
// writes the mesh of threadlessBytes() to the file it names.
const char ChildVariable[] = "QUARN_STLWRITER_CHILD";

// A mirrored torus of several record blocks, so that writing it shares blocks between threads.
QByteArray threadlessBytes()
{
    std::unique_ptr<StlMesh> mesh(meshtest::meshFrom(meshtest::Torus(40000).facets()));
    QMatrix4x4 mirror;
    mirror.scale(-1, 1, 2);
    QBuffer buffer;
    int written = 0;
    {
        StlWriter writer(&buffer);
        writer.setTransform(mirror);
        written = writer.write(*mesh);
    }
    return written == mesh->indices().size() ? buffer.data() : QByteArray();
}

int runWithoutThreads(const QString &path)
{
    if (threadtest::threadCanStart())
        return threadtest::ChildSkipped;
    const QByteArray bytes = threadlessBytes();
    QFile file(path);
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "the mesh was not written\n");
        return 1;
    }
    return 0;
}

} // namespace

class TestStlWriter : public QObject
{
    Q_OBJECT

private slots:
    void writesMesh();
    void recordBytes();
    void header_data();
    void header();
    void transform_data();
    void transform();
    void translationKeepsNormals();
    void degenerateFacetNormal_data();
    void degenerateFacetNormal();
    void usedDevice();
    void appendingWrites();
    void noRecordsLeavesDeviceOpen();
    void finishReports();
    void progressOfTask();
    void deviceFailures();
    void refusedFileKeepsTheReason();
    void looseFacets();
    void looseFacetsTransformed();
    void admeshReadsOutput_data();
    void admeshReadsOutput();
    void writesWithoutThreads();
};

void TestStlWriter::writesMesh()
{
    const auto mesh = unitCube();
    QBuffer buffer;
    {
        StlWriter writer(&buffer);
        QCOMPARE(writer.progress(), 0.0f);
        QCOMPARE(writer.write(mesh.get()), 12);
        QCOMPARE(writer.progress(), 1.0f);
        QCOMPARE(writer.header(), QByteArray(80, ' '));
    }
    QVERIFY(!buffer.isOpen());
    const QByteArray bytes = buffer.data();
    QCOMPARE(bytes.size(), 84 + 50 * 12);
    quint32 count = 0;
    const QVector<stltest::Record> records = stltest::records(bytes, &count);
    QCOMPARE(count, 12u);
    for (int i = 0; i < records.size(); ++i) {
        const IndexedFacet &f = mesh->indices()[i];
        const Facet &r = records[i].facet;
        QCOMPARE(r.vertex[0].x, mesh->vertices()[f.a].x);
        QCOMPARE(r.vertex[1].y, mesh->vertices()[f.b].y);
        QCOMPARE(r.vertex[2].z, mesh->vertices()[f.c].z);
        // Outward unit normals of the cube.
        QCOMPARE(dot(r.normal, r.normal), 1.0f);
        QVERIFY(dot(r.normal, centroid(r) - Vector3f(0.5f, 0.5f, 0.5f)) > 0);
    }

    const auto back = readBack(bytes);
    QVERIFY(back);
    QCOMPARE(back->vertices(), mesh->vertices());
    QCOMPARE(back->indices().size(), mesh->indices().size());
    QCOMPARE(back->volume(), mesh->volume());

    QCOMPARE(StlWriter(&buffer).write(static_cast<StlMesh *>(nullptr)), -1);
}

void TestStlWriter::recordBytes()
{
    // One facet whose attribute has bit 16 and bits 0 to 15 set.
    StlMesh mesh;
    setOneFacet(mesh, {Vector3f(0, 0, 0), Vector3f(2, 0, 0), Vector3f(0, 0.5f, 0)}, 0x1FFFF);
    QCOMPARE(mesh.indices().size(), 1);
    int written = 0;
    const QByteArray bytes = writtenBytes(mesh, &written);
    QCOMPARE(written, 1);
    const QByteArray expected = QByteArray(80, ' ') + QByteArray("\x01\0\0\0", 4) +
                                QByteArray("\0\0\0\0"
                                           "\0\0\0\0"
                                           "\0\0\x80\x3f" // normal (0, 0, 1)
                                           "\0\0\0\0"
                                           "\0\0\0\0"
                                           "\0\0\0\0" // (0, 0, 0)
                                           "\0\0\0\x40"
                                           "\0\0\0\0"
                                           "\0\0\0\0" // (2, 0, 0)
                                           "\0\0\0\0"
                                           "\0\0\0\x3f"
                                           "\0\0\0\0" // (0, 0.5, 0)
                                           "\xff\xff",
                                           50);
    QCOMPARE(bytes, expected);
}

void TestStlWriter::header_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("short") << QByteArray("hello") << QByteArray("hello").leftJustified(80, ' ');
    QTest::newRow("long") << QByteArray(100, 'x') << QByteArray(80, 'x');
    QTest::newRow("binary") << QByteArray("\0\x01\x02", 3)
                            << QByteArray("\0\x01\x02", 3).leftJustified(80, ' ');
}

void TestStlWriter::header()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    const auto mesh = unitCube();
    QBuffer buffer;
    {
        StlWriter writer(&buffer);
        writer.setHeader(text);
        QCOMPARE(writer.header(), expected);
        QCOMPARE(writer.write(*mesh), 12);
    }
    QCOMPARE(buffer.data().left(80), expected);
}

void TestStlWriter::transform_data()
{
    QTest::addColumn<QMatrix4x4>("matrix");
    QMatrix4x4 translation;
    translation.translate(1, 2, 3);
    QMatrix4x4 mirrorX;
    mirrorX.scale(-1, 1, 1);
    QMatrix4x4 mirrorXYZ;
    mirrorXYZ.translate(5, 0, 0);
    mirrorXYZ.scale(-2, -1, -0.5f);
    QMatrix4x4 rotation;
    rotation.rotate(90, 0, 0, 1);
    QTest::newRow("translation") << translation;
    QTest::newRow("rotation") << rotation;
    QTest::newRow("mirror x") << mirrorX;
    QTest::newRow("mirror xyz, scaled") << mirrorXYZ;
}

void TestStlWriter::transform()
{
    QFETCH(QMatrix4x4, matrix);
    const auto mesh = std::unique_ptr<StlMesh>(meshtest::meshFrom(meshtest::Torus(400).facets()));
    QBuffer plain, mapped;
    {
        StlWriter writer(&plain);
        QCOMPARE(writer.write(*mesh), mesh->indices().size());
    }
    {
        StlWriter writer(&mapped);
        writer.setTransform(matrix);
        QCOMPARE(writer.transform(), matrix);
        QCOMPARE(writer.write(*mesh), mesh->indices().size());
    }
    const QVector<stltest::Record> before = stltest::records(plain.data());
    const QVector<stltest::Record> after = stltest::records(mapped.data());
    QCOMPARE(after.size(), before.size());
    const bool mirror = matrix.determinant() < 0;
    for (int i = 0; i < before.size(); ++i) {
        const Facet &b = before[i].facet;
        const Facet &a = after[i].facet;
        // Mirrored output exchanges the second and third vertex; the rest stays in place.
        const int order[3] = {0, mirror ? 2 : 1, mirror ? 1 : 2};
        for (int k = 0; k < 3; ++k) {
            const QVector3D expected =
                matrix.map(QVector3D(b.vertex[order[k]].x, b.vertex[order[k]].y, b.vertex[order[k]].z));
            QVERIFY(qAbs(a.vertex[k].x - expected.x()) < 1e-4f);
            QVERIFY(qAbs(a.vertex[k].y - expected.y()) < 1e-4f);
            QVERIFY(qAbs(a.vertex[k].z - expected.z()) < 1e-4f);
        }
        QCOMPARE(a.normal.x, a.computedNormal().x);
        QCOMPARE(a.normal.y, a.computedNormal().y);
        QCOMPARE(a.normal.z, a.computedNormal().z);
    }
    // Read back, the mapped model is still wound outwards: positive signed volume.
    const auto back = readBack(mapped.data());
    QVERIFY(back);
    QUARN_CHECK_MESH(*back);
    QVERIFY(stltest::signedVolume(*back) > 0);
    const double scale = std::abs(double(matrix.determinant()));
    QVERIFY(qAbs(back->volume() - mesh->volume() * scale) < 1e-4 * mesh->volume() * scale);
}

void TestStlWriter::translationKeepsNormals()
{
    const auto mesh = unitCube();
    QMatrix4x4 translation;
    translation.translate(1, 2, 3);
    QBuffer plain, moved;
    QCOMPARE(StlWriter(&plain).write(*mesh), 12);
    {
        StlWriter writer(&moved);
        writer.setTransform(translation);
        QCOMPARE(writer.write(*mesh), 12);
    }
    const QVector<stltest::Record> before = stltest::records(plain.data());
    const QVector<stltest::Record> after = stltest::records(moved.data());
    QCOMPARE(after.size(), 12);
    for (int i = 0; i < 12; ++i) {
        QCOMPARE(std::memcmp(&after[i].facet.normal, &before[i].facet.normal, sizeof(Vector3f)), 0);
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(after[i].facet.vertex[k].x, before[i].facet.vertex[k].x + 1);
            QCOMPARE(after[i].facet.vertex[k].y, before[i].facet.vertex[k].y + 2);
            QCOMPARE(after[i].facet.vertex[k].z, before[i].facet.vertex[k].z + 3);
        }
    }
}

void TestStlWriter::degenerateFacetNormal_data()
{
    QTest::addColumn<QVector<Vector3f>>("corners");
    QTest::addColumn<Vector3f>("normal");
    // Three collinear points have no area: the normal is written as zero.
    QTest::newRow("collinear") << QVector<Vector3f>{Vector3f(0, 0, 0), Vector3f(1, 0, 0), Vector3f(2, 0, 0)}
                               << Vector3f(0, 0, 0);
    // Tiny, but a facet: its float squares underflow, its normal does not.
    QTest::newRow("1e-15 across") << QVector<Vector3f>{Vector3f(0, 0, 0), Vector3f(1e-15f, 0, 0),
                                                       Vector3f(0, 1e-15f, 0)}
                                  << Vector3f(0, 0, 1);
}

void TestStlWriter::degenerateFacetNormal()
{
    QFETCH(QVector<Vector3f>, corners);
    QFETCH(Vector3f, normal);
    StlMesh mesh;
    setOneFacet(mesh, corners);
    QCOMPARE(mesh.indices().size(), 1);
    int written = 0;
    const QByteArray bytes = writtenBytes(mesh, &written);
    QCOMPARE(written, 1);
    const QVector<stltest::Record> records = stltest::records(bytes);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].facet.normal.x, normal.x);
    QCOMPARE(records[0].facet.normal.y, normal.y);
    QCOMPARE(records[0].facet.normal.z, normal.z);
    QVERIFY(!std::signbit(records[0].facet.normal.x));
}

void TestStlWriter::usedDevice()
{
    const auto mesh = unitCube();
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    buffer.write("0123456789");
    QTest::ignoreMessage(QtWarningMsg, "StlWriter is given a used QIODevice, position 10");
    {
        StlWriter writer(&buffer);
        QCOMPARE(writer.write(*mesh), 12);
    }
    QCOMPARE(buffer.data().size(), 84 + 50 * 12);
    QCOMPARE(buffer.data().left(80), QByteArray(80, ' '));
    QVERIFY(readBack(buffer.data()));
}

void TestStlWriter::appendingWrites()
{
    const auto three = std::unique_ptr<StlMesh>(meshtest::meshFrom(meshtest::unitCube().mid(0, 3)));
    const auto four = std::unique_ptr<StlMesh>(meshtest::meshFrom(meshtest::unitCube().mid(4, 4)));
    QCOMPARE(three->indices().size(), 3);
    QCOMPARE(four->indices().size(), 4);
    QBuffer buffer;
    {
        StlWriter writer(&buffer);
        QCOMPARE(writer.write(*three), 3);
        QCOMPARE(writer.write(*four), 4);
        QCOMPARE(writer.progress(), 1.0f);
    }
    quint32 count = 0;
    QCOMPARE(stltest::records(buffer.data(), &count).size(), 7);
    QCOMPARE(count, 7u);
    QCOMPARE(buffer.data().size(), 84 + 50 * 7);
}

void TestStlWriter::noRecordsLeavesDeviceOpen()
{
    StlMesh empty;
    QBuffer buffer;
    {
        StlWriter writer(&buffer);
        QCOMPARE(writer.write(empty), 0);
    }
    QVERIFY(buffer.isOpen());
    QCOMPARE(buffer.data(), QByteArray(80, ' ') + QByteArray(4, '\0'));
}

void TestStlWriter::finishReports()
{
    const auto mesh = unitCube();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath("cube.stl"));
    StlWriter writer(&file);
    QCOMPARE(writer.write(*mesh), 12);
    QVERIFY(file.isOpen());
    QVERIFY(writer.finish());
    QVERIFY(!file.isOpen());
    QVERIFY(writer.errorString().isEmpty());
    QCOMPARE(file.size(), qint64(84 + 50 * 12));
    QVERIFY(file.open(QIODevice::ReadOnly));
    quint32 count = 0;
    stltest::records(file.readAll(), &count);
    QCOMPARE(count, 12u);
    file.close();

    // Nothing open to patch: reported, not pretended.
    QVERIFY(!writer.finish());

    // A device that took only part of the data still gets the count of the records it holds.
    LimitedBuffer full(84 + 50 * 5 + 20);
    StlWriter limited(&full);
    QCOMPARE(limited.write(*mesh), 5);
    QVERIFY(limited.finish());
    quint32 written = 0;
    QCOMPARE(stltest::records(full.data(), &written).size(), 5);
    QCOMPARE(written, 5u);
}

void TestStlWriter::progressOfTask()
{
    // The main window's road: the mesh form runs on the pool while this thread polls progress().
    const std::unique_ptr<StlMesh> mesh(meshtest::meshFrom(meshtest::Torus(100000).facets()));
    QBuffer buffer;
    StlWriter writer(&buffer);
    QFuture<int> task =
        QtConcurrent::run(&writer, static_cast<int (StlWriter::*)(StlMesh *)>(&StlWriter::write), mesh.get());
    float last = 0;
    while (!task.isFinished()) {
        const float progress = writer.progress();
        QVERIFY(progress >= last && progress <= 1);
        last = progress;
        QThread::yieldCurrentThread();
    }
    QCOMPARE(task.result(), mesh->indices().size());
    QCOMPARE(writer.progress(), 1.0f);
    QVERIFY(writer.finish());
    QCOMPARE(buffer.data().size(), 84 + 50 * mesh->indices().size());
}

void TestStlWriter::deviceFailures()
{
    const auto mesh = unitCube();

    SequentialBuffer sequential;
    QCOMPARE(StlWriter(&sequential).write(*mesh), -1);
    QCOMPARE(sequential.data().size(), 0);

    QTemporaryDir dir;
    QFile readOnly(dir.filePath("ro.stl"));
    QVERIFY(readOnly.open(QIODevice::WriteOnly));
    readOnly.close();
    QVERIFY(readOnly.open(QIODevice::ReadOnly));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("already open"));
    QCOMPARE(StlWriter(&readOnly).write(*mesh), -1);

    QFile missing(dir.filePath("no/such/dir/x.stl"));
    QCOMPARE(StlWriter(&missing).write(*mesh), -1);
    QVERIFY(!StlWriter(&missing).write(meshtest::unitCube().first()));

    // A device that stops taking data: the records before the failure count, later calls fail.
    LimitedBuffer full(84 + 50 * 3 + 10);
    {
        StlWriter writer(&full);
        QCOMPARE(writer.write(*mesh), 3);
        QVERIFY(writer.progress() < 1.0f);
        QCOMPARE(writer.write(*mesh), -1);
    }
    quint32 count = 0;
    stltest::records(full.data(), &count);
    QCOMPARE(count, 3u);
}

// A file the system stops partway through a block (here at a limit of the file's size; a full
// disk is the same road): the records before count, and the writer keeps the system's reason,
// which the file itself forgets when finish() seeks and closes it.
void TestStlWriter::refusedFileKeepsTheReason()
{
    const std::unique_ptr<StlMesh> mesh(meshtest::meshFrom(meshtest::Torus(20000).facets()));
    QTemporaryDir dir;
    QFile file(dir.filePath("limited.stl"));
    StlWriter writer(&file);
    const rlim_t limit = 84 + 50 * 1000 + 20;
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < limit)
        QSKIP("the file size limit is below the test's");
    rlimit limited = saved;
    limited.rlim_cur = limit;
    // Ignored, a write past the limit fails with EFBIG instead of ending the process.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int written = writer.write(*mesh);
    writer.finish();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    QCOMPARE(written, 1000);
    QCOMPARE(writer.errorString(), qt_error_string(EFBIG));
    QVERIFY(!file.isOpen());
    quint32 count = 0;
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(stltest::records(file.readAll(), &count).size(), 1000);
    QCOMPARE(count, 1000u);
}

void TestStlWriter::looseFacets()
{
    const QVector<Facet> cube = meshtest::unitCube();
    QBuffer buffer;
    {
        StlWriter writer(&buffer);
        writer.setAttribute(7);
        QCOMPARE(writer.attribute(), quint16(7));
        QCOMPARE(writer.write(QList<Facet>(cube.begin(), cube.end())), 12);
        const quint16 words[2] = {1, 2};
        QCOMPARE(writer.write(2, cube.constData(), words), 2);
        QCOMPARE(writer.write(2, nullptr, words), 0);
        QCOMPARE(writer.write(cube.mid(0, 3)), 3);
        QVERIFY(writer.write(cube[0], 0x12345));
        QVERIFY(writer.write(cube[1]));
        QCOMPARE(writer.progress(), 0.0f); // a single record announces no total
    }
    quint32 count = 0;
    const QVector<stltest::Record> records = stltest::records(buffer.data(), &count);
    QCOMPARE(count, 19u);
    QCOMPARE(records.size(), 19);
    QVector<quint16> words;
    for (const stltest::Record &r : records)
        words << r.attribute;
    QCOMPARE(words, (QVector<quint16>{7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 1, 2, 7, 7, 7, 0x2345, 7}));
    // With the identity, each record is the facet as given, its own normal included.
    QCOMPARE(std::memcmp(&records[12].facet, &cube[0], sizeof(Facet)), 0);
    QCOMPARE(std::memcmp(&records[18].facet, &cube[1], sizeof(Facet)), 0);
}

void TestStlWriter::looseFacetsTransformed()
{
    const QVector<Facet> cube = meshtest::unitCube();
    QMatrix4x4 mirror;
    mirror.translate(10, 0, 0);
    mirror.scale(-1, 2, 1);
    QBuffer buffer;
    {
        StlWriter writer(&buffer);
        writer.setTransform(mirror);
        QCOMPARE(writer.write(cube), 12);
    }
    const QVector<stltest::Record> records = stltest::records(buffer.data());
    QCOMPARE(records.size(), 12);
    const Vector3f centre(9.5f, 1, 0.5f);
    for (const stltest::Record &r : records) {
        const Facet &f = r.facet;
        QVERIFY(qAbs(dot(f.normal, f.normal) - 1) < 1e-6f);
        // Normals still point out of the mapped box, and the winding agrees with them.
        QVERIFY(dot(f.normal, centroid(f) - centre) > 0);
        QVERIFY(dot(f.crossProduct(), f.normal) > 0);
    }
}

void TestStlWriter::admeshReadsOutput_data()
{
    QTest::addColumn<QMatrix4x4>("matrix");
    QMatrix4x4 mirror;
    mirror.scale(1, -1, 1);
    QTest::newRow("identity") << QMatrix4x4();
    QTest::newRow("mirrored") << mirror;
}

void TestStlWriter::admeshReadsOutput()
{
    if (stltest::admeshPath().isEmpty())
        QSKIP("admesh is not installed");
    QFETCH(QMatrix4x4, matrix);
    const meshtest::Torus torus(5000);
    const auto mesh = std::unique_ptr<StlMesh>(meshtest::meshFrom(torus.facets()));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("torus.stl");
    {
        QFile file(path);
        StlWriter writer(&file);
        writer.setTransform(matrix);
        QCOMPARE(writer.write(*mesh), mesh->indices().size());
        QVERIFY(writer.finish());
    }
    const stltest::AdmeshReport report = stltest::runAdmesh({path});
    QVERIFY(report.valid);
    QCOMPARE(report.facets, qint64(mesh->indices().size()));
    QCOMPARE(report.facetsReversed, qint64(0));
    QCOMPARE(report.backwardsEdges, qint64(0));
    QCOMPARE(report.normalsFixed, qint64(0));
    QVERIFY2(qAbs(report.volume - mesh->volume()) < 1e-4 * mesh->volume(),
             qPrintable(QStringLiteral("%1 %2").arg(report.volume).arg(mesh->volume())));
}

// Where the system refuses every new thread, the writer forms all records itself and writes the
// same bytes.
void TestStlWriter::writesWithoutThreads()
{
    const QByteArray expected = threadlessBytes();
    QVERIFY(!expected.isEmpty());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("threadless.stl"));
    THREADTEST_VERIFY_CHILD(ChildVariable, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == expected);
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(ChildVariable))
        return runWithoutThreads(qEnvironmentVariable(ChildVariable));
    QCoreApplication app(argc, argv);
    TestStlWriter test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_stlwriter.moc"
