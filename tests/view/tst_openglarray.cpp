#include "view/openglarray.h"

#include "glscene.h"
#include "messagecapture.h"

#include <QBuffer>
#include <QDataStream>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <memory>

using geom::OpenGLArray;

Q_DECLARE_METATYPE(QVector<qint64>)

namespace {

// A triangle array of n triangles with a normal, stride 24, vertex i at (i, 2i, 3i).
void recordTriangles(OpenGLArray &array, int triangles, GLenum mode = GL_TRIANGLES)
{
    QVERIFY(array.glBegin(mode));
    const GLfloat normal[3] = {0, 0, 1};
    array.glNormal3fv(normal);
    for (int i = 0; i < 3 * triangles; ++i) {
        const GLfloat v[3] = {GLfloat(i), GLfloat(2 * i), GLfloat(3 * i)};
        QCOMPARE(array.glVertex3fv(v), 1);
    }
}

// The bytes of the array's record as save writes them.
QByteArray savedBytes(const OpenGLArray &array)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(QDataStream::SinglePrecision);
    array.save(out);
    return bytes;
}

// A record header (version, mode, attributes, count) followed by the given bytes.
QByteArray record(qint8 version, qint8 mode, qint16 attributes, qint32 count, const QByteArray &tail,
                  qint64 declared = -1)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << version << mode << attributes << count;
    if (version == 1)
        out << declared;
    bytes.append(tail);
    return bytes;
}

} // namespace

// Recording, chunking, drawing, moving between client memory and buffer objects, and the stream
// record of the vertex array, on a real context (Xvfb, llvmpipe).
class TestOpenGLArray : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void recordingStates();
    void chunking_data();
    void chunking();
    void attributeToggles();
    void interleavedLayout();
    void drawRangeAcrossChunks_data();
    void drawRangeAcrossChunks();
    void movesBetweenClientAndBuffers();
    void contextGoneBeforeArray();
    void saveLoadRoundTrip_data();
    void saveLoadRoundTrip();
    void damagedRecordsRefused_data();
    void damagedRecordsRefused();
    void everyPrefixFailsCleanly();

private:
    std::unique_ptr<viewtest::GLScene> m_scene;
};

void TestOpenGLArray::initTestCase()
{
    m_scene.reset(new viewtest::GLScene(64));
    QVERIFY(m_scene->isValid());
}

void TestOpenGLArray::cleanupTestCase()
{
    m_scene.reset();
}

void TestOpenGLArray::recordingStates()
{
    OpenGLArray array;
    const GLfloat v[3] = {1, 2, 3};
    QCOMPARE(array.glVertex3fv(v), -2);
    QVERIFY(!array.glEnd());
    QCOMPARE(array.count(), 0);

    QVERIFY(array.glBegin(GL_TRIANGLES));
    QVERIFY(!array.glBegin(GL_LINES));
    QCOMPARE(array.glVertex3fv(v, 0), 0);
    QCOMPARE(array.glVertex3fv(nullptr), 0);
    QCOMPARE(array.glVertex3fv(v), 1);
    QCOMPARE(array.mode(), GLenum(GL_TRIANGLES));
    QCOMPARE(array.count(), 1);
    {
        meshtest::MessageCapture capture;
        array.glDrawArrays(GL_TRIANGLES, 0, 1);
        QCOMPARE(capture.messages(), QStringList{"OpenGLArray.glDrawArrays called within glBegin and glEnd"});
    }
    QVERIFY(array.glEnd());
    QVERIFY(!array.glEnd());
    QCOMPARE(array.glVertex3fv(v), -2);

    QVERIFY(array.glBegin(GL_POLYGON));
    QCOMPARE(array.count(), 0);
    QVERIFY(array.glEnd());
    QCOMPARE(array.count(), 0);
    QVERIFY(!array.glEnd());
    QVERIFY(!array.glBegin(GL_POLYGON + 1));

    // Copies share the record.
    OpenGLArray copy = array;
    QVERIFY(copy.glBegin(GL_POINTS));
    QVERIFY(!array.glBegin(GL_POINTS));
    const GLdouble xy[4] = {1.5, 2.5, 3.5, 4.5};
    QCOMPARE(array.glVertex2dv(xy, 2), 2);
    QVERIFY(copy.glEnd());
    QCOMPARE(array.count(), 2);
    QCOMPARE(array.last(), QVector4D(3.5f, 4.5f, 0, 0));
    QCOMPARE(array.at(2), QVector4D());
    QCOMPARE(array.at(-1), QVector4D());
    array.clear();
    QCOMPARE(copy.count(), 0);
    QCOMPARE(copy.attributes(), 0);
}

void TestOpenGLArray::chunking_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("triangles");
    QTest::addColumn<int>("chunkSize");
    QTest::addColumn<QVector<qint64>>("expected");

    QTest::newRow("10 triangles in 100-byte chunks")
        << int(GL_TRIANGLES) << 10 << 100 << QVector<qint64>(10, 72);
    QTest::newRow("20 triangles in 1000-byte chunks")
        << int(GL_TRIANGLES) << 20 << 1000 << QVector<qint64>{936, 504};
    QTest::newRow("chunk size 0: one triangle each") << int(GL_TRIANGLES) << 3 << 0 << QVector<qint64>(3, 72);
    QTest::newRow("exact multiple") << int(GL_TRIANGLES) << 4 << 144 << QVector<qint64>{144, 144};
    QTest::newRow("default size: one chunk") << int(GL_TRIANGLES) << 20 << -1 << QVector<qint64>{1440};
    QTest::newRow("strip stays whole") << int(GL_TRIANGLE_STRIP) << 10 << 100 << QVector<qint64>{720};
    QTest::newRow("lines of 48 bytes") << int(GL_LINES) << 2 << 100 << QVector<qint64>{96, 48};
}

void TestOpenGLArray::chunking()
{
    QFETCH(int, mode);
    QFETCH(int, triangles);
    QFETCH(int, chunkSize);
    QFETCH(QVector<qint64>, expected);

    // Once in client memory and once in buffer objects: the same cut, the same vertices.
    for (QGLContext *context : {static_cast<QGLContext *>(nullptr), m_scene->context()}) {
        OpenGLArray array(context);
        array.setChunkSize(chunkSize);
        QCOMPARE(array.chunkSize(), chunkSize < 0 ? OpenGLArray::DefaultChunkSize : chunkSize);
        recordTriangles(array, triangles, GLenum(mode));
        QVERIFY(array.glEnd());
        QCOMPARE(array.stride(), 24);
        QCOMPARE(array.chunkByteSizes(), expected);
        QCOMPARE(array.byteSize(), qint64(72) * triangles);
        for (int i : {0, 3 * triangles / 2, 3 * triangles - 1})
            QCOMPARE(array.at(i), QVector4D(i, 2 * i, 3 * i, 0));
    }
}

void TestOpenGLArray::attributeToggles()
{
    const GLfloat n[3] = {0, 1, 0};
    const GLubyte c[4] = {1, 2, 3, 4};
    const GLfloat v[3] = {0, 0, 0};

    OpenGLArray array;
    QVERIFY(array.glBegin(GL_POINTS));
    // Before any vertex every switch is accepted.
    array.glNormal3fv(n);
    array.glNormal3fv(nullptr);
    array.glNormal3fv(n);
    array.glColor4ubv(c);
    array.glEdgeFlag(GL_TRUE);
    array.glEdgeFlag(2);
    QCOMPARE(array.attributes(), OpenGLArray::NormalOn | OpenGLArray::ColorOn);
    QCOMPARE(array.glVertex3fv(v), 1);

    meshtest::MessageCapture capture;
    array.glNormal3fv(nullptr);
    array.glColor4ubv(nullptr);
    array.glEdgeFlag(GL_FALSE);
    // Values of fields that stay on may change.
    const GLfloat other[3] = {1, 0, 0};
    array.glNormal3fv(other);
    array.glColor4ubv(c);
    QCOMPARE(capture.messages(),
             (QStringList{"OpenGLArray.glNormal3fv cannot toggle normal after a vertex is emitted",
                          "OpenGLArray.glColor4ubv cannot toggle colour after a vertex is emitted",
                          "OpenGLArray.glEdgeFlag cannot toggle edge flag after a vertex is emitted"}));
    QCOMPARE(array.attributes(), 3 | OpenGLArray::NormalOn | OpenGLArray::ColorOn);
    QVERIFY(array.glEnd());
    // Attribute bits carry over into the next recording, where they may switch again.
    QVERIFY(array.glBegin(GL_POINTS));
    QCOMPARE(array.attributes(), 3 | OpenGLArray::NormalOn | OpenGLArray::ColorOn);
    array.glColor4ubv(nullptr);
    QCOMPARE(array.attributes(), 3 | OpenGLArray::NormalOn);
    QCOMPARE(capture.messages().size(), 3);
}

void TestOpenGLArray::interleavedLayout()
{
    OpenGLArray array;
    QVERIFY(array.glBegin(GL_POINTS));
    const GLfloat n[3] = {0.5f, -1.0f, 2.0f};
    const GLubyte c[4] = {10, 20, 30, 40};
    array.glNormal3fv(n);
    array.glColor4ubv(c);
    array.glEdgeFlag(GL_FALSE);
    const GLfloat v[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    QCOMPARE(array.glVertex4fv(v, 2), 2);
    QVERIFY(array.glEnd());
    QCOMPARE(array.stride(), 4 * (4 + 3 + 1) + 1);
    QCOMPARE(array.byteSize(), qint64(2 * 33));
    QCOMPARE(array.at(1), QVector4D(5, 6, 7, 8));

    const QByteArray bytes = savedBytes(array);
    QCOMPARE(bytes.size(), 8 + 2 * 33);
    const char *second = bytes.constData() + 8 + 33;
    GLfloat normal[3];
    std::memcpy(normal, second + 16, sizeof normal);
    QCOMPARE(normal[2], 2.0f);
    QCOMPARE(QByteArray(second + 28, 5), QByteArray("\x0a\x14\x1e\x28\x00", 5));
}

void TestOpenGLArray::drawRangeAcrossChunks_data()
{
    QTest::addColumn<bool>("buffers");
    QTest::newRow("client memory") << false;
    QTest::newRow("buffer objects") << true;
}

void TestOpenGLArray::drawRangeAcrossChunks()
{
    QFETCH(bool, buffers);
    // Twelve points in a row, one pixel apart in a 64-pixel frame; chunks of six points.
    OpenGLArray array(buffers ? m_scene->context() : nullptr);
    array.setChunkSize(6 * 12);
    QVERIFY(array.glBegin(GL_POINTS));
    for (int i = 0; i < 12; ++i) {
        const GLfloat v[3] = {-1.0f + (2 * i + 1) / 64.0f, 1.0f / 64.0f, 0};
        array.glVertex3fv(v);
    }
    QVERIFY(array.glEnd());
    QCOMPARE(array.chunkByteSizes(), (QVector<qint64>{72, 72}));

    m_scene->begin();
    array.enableClientStates();
    array.glDrawArrays(GL_POINTS, 5, 4);
    array.disableClientStates();
    const QImage image = m_scene->finish(QString("openglarray-range-%1").arg(buffers ? "vbo" : "client"));
    QString row;
    for (int i = 0; i < 12; ++i)
        row += (image.pixel(i, 31) & 0xffffff) ? 'x' : '.';
    QCOMPARE(row, QString(".....xxxx..."));
    QCOMPARE(viewtest::litPixels(image), 4);
}

void TestOpenGLArray::movesBetweenClientAndBuffers()
{
    QGLContext *context = m_scene->context();
    OpenGLArray array;
    array.setChunkSize(100);
    QVERIFY(array.reserve(10 * 72));
    QVERIFY(array.reservedSize() >= 10 * 72);
    QVERIFY(!array.reserve(qint64(1) << 60));
    QVERIFY(array.reservedSize() < qint64(1) << 60);
    recordTriangles(array, 10);
    QVERIFY(array.glEnd());
    const QByteArray client = savedBytes(array);

    QVERIFY(array.setContext(context));
    QCOMPARE(array.context(), context);
    QVERIFY(array.setContext(context));
    QCOMPARE(array.at(29), QVector4D(29, 58, 87, 0));
    // Saved from mapped buffer objects, the record is the same.
    QCOMPARE(savedBytes(array), client);

    QVERIFY(array.setContext(nullptr));
    QCOMPARE(array.context(), static_cast<QGLContext *>(nullptr));
    QCOMPARE(savedBytes(array), client);
    QCOMPARE(array.chunkByteSizes(), QVector<qint64>(10, 72));

    // Recording again into an array with buffers releases them first.
    QVERIFY(array.setContext(context));
    recordTriangles(array, 1);
    QCOMPARE(array.chunkByteSizes(), QVector<qint64>());
    QVERIFY(array.glEnd());
    QCOMPARE(array.count(), 3);
    QCOMPARE(array.last(), QVector4D(2, 4, 6, 0));
}

void TestOpenGLArray::contextGoneBeforeArray()
{
    // A surface's context goes (as when the view is re-created) while arrays still hold its buffers.
    OpenGLArray array;
    {
        GLWindow window(QGLFormat(), nullptr);
        window.resize(16, 16);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.makeCurrent();
        QVERIFY(array.setContext(const_cast<QGLContext *>(window.context())));
        recordTriangles(array, 4);
        QVERIFY(array.glEnd());
        QCOMPARE(array.at(11), QVector4D(11, 22, 33, 0));
    }
    OpenGLArray copy = array;
    m_scene->context();
    meshtest::MessageCapture capture;
    // The data went with the context: moving out says so, and drawing skips the lost chunk.
    QVERIFY(!array.setContext(nullptr));
    QCOMPARE(array.count(), 12);
    m_scene->begin();
    array.enableClientStates();
    array.glDrawArrays(GL_TRIANGLES, 0, array.count());
    array.disableClientStates();
    QCOMPARE(viewtest::litPixels(m_scene->finish("openglarray-context-gone")), 0);
    const QStringList messages = capture.messages();
    QVERIFY2(std::any_of(messages.begin(), messages.end(),
                         [](const QString &m) {
                             return m.startsWith("OpenGLArray[ ") &&
                                    m.endsWith(" ].chunks[ 0 ].data is null");
                         }),
             qPrintable(messages.join('\n')));
    copy = OpenGLArray();
    array.clear();
    QCOMPARE(array.count(), 0);
}

void TestOpenGLArray::saveLoadRoundTrip_data()
{
    QTest::addColumn<bool>("buffers");
    QTest::addColumn<int>("mode");
    QTest::newRow("triangles, client memory") << false << int(GL_TRIANGLES);
    QTest::newRow("triangles, buffer objects") << true << int(GL_TRIANGLES);
    QTest::newRow("strip, buffer objects") << true << int(GL_TRIANGLE_STRIP);
}

void TestOpenGLArray::saveLoadRoundTrip()
{
    QFETCH(bool, buffers);
    QFETCH(int, mode);
    QGLContext *context = buffers ? m_scene->context() : nullptr;
    OpenGLArray array(context);
    array.setChunkSize(200);
    recordTriangles(array, 7, GLenum(mode));
    QVERIFY(array.glEnd());
    const QByteArray bytes = savedBytes(array);
    QCOMPARE(bytes.size(), 8 + 7 * 72);

    OpenGLArray loaded(context);
    QDataStream in(bytes);
    in.setByteOrder(QDataStream::LittleEndian);
    QVERIFY(loaded.load(in));
    QCOMPARE(loaded.mode(), GLenum(mode));
    QCOMPARE(loaded.attributes(), array.attributes());
    QCOMPARE(loaded.count(), 21);
    QCOMPARE(loaded.context(), context);
    QCOMPARE(loaded.chunkSize(), OpenGLArray::DefaultChunkSize);
    QCOMPARE(savedBytes(loaded), bytes);

    // The older record with its byte count reads the same.
    QByteArray v1 = record(1, qint8(mode), qint16(array.attributes()), 21, bytes.mid(8), 21 * 24);
    OpenGLArray old;
    QDataStream oldIn(v1);
    oldIn.setByteOrder(QDataStream::LittleEndian);
    QVERIFY(old.load(oldIn));
    QCOMPARE(savedBytes(old), bytes);

    // An idle array saves a header only and loads as nothing.
    OpenGLArray idle;
    const QByteArray idleBytes = savedBytes(idle);
    QCOMPARE(idleBytes.size(), 8);
    QDataStream idleIn(idleBytes);
    idleIn.setByteOrder(QDataStream::LittleEndian);
    QVERIFY(loaded.load(idleIn));
    QCOMPARE(loaded.count(), 21);
}

void TestOpenGLArray::damagedRecordsRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");

    const QByteArray oneVertex(24, '\x01');
    const qint16 positionNormal = 3 | OpenGLArray::NormalOn;
    const int corrupt = QDataStream::ReadCorruptData;
    const int pastEnd = QDataStream::ReadPastEnd;
    QTest::newRow("version 3") << record(3, GL_TRIANGLES, positionNormal, 1, oneVertex) << corrupt;
    QTest::newRow("version 0") << record(0, GL_TRIANGLES, positionNormal, 1, oneVertex) << corrupt;
    QTest::newRow("vertex size 1") << record(2, GL_POINTS, 1 | OpenGLArray::NormalOn, 1, oneVertex)
                                   << corrupt;
    QTest::newRow("vertex size 5") << record(2, GL_POINTS, 5, 1, oneVertex) << corrupt;
    QTest::newRow("vertices without position")
        << record(2, GL_POINTS, OpenGLArray::NormalOn, 2, oneVertex) << corrupt;
    QTest::newRow("count -2") << record(2, GL_TRIANGLES, positionNormal, -2, oneVertex) << corrupt;
    QTest::newRow("mode 10") << record(2, 10, positionNormal, 1, oneVertex) << corrupt;
    QTest::newRow("half a colour") << record(2, GL_POINTS, 3 | 0x10, 1, oneVertex) << corrupt;
    QTest::newRow("unknown attribute bit") << record(2, GL_POINTS, 3 | 0x80, 1, oneVertex) << corrupt;
    QTest::newRow("version 1 byte count off")
        << record(1, GL_POINTS, positionNormal, 1, oneVertex, 23) << corrupt;
    QTest::newRow("missing bytes") << record(2, GL_POINTS, positionNormal, 2, oneVertex) << pastEnd;
    // 100 million vertices of 24 bytes overflow a 32-bit size into a negative one, which would pass
    // for an empty record; the stream holds far fewer bytes.
    QTest::newRow("2.4 GB claimed") << record(2, GL_TRIANGLES, positionNormal, 100000000, oneVertex)
                                    << pastEnd;
    QTest::newRow("largest count claimed")
        << record(2, GL_TRIANGLES, positionNormal, INT_MAX, oneVertex) << pastEnd;
}

void TestOpenGLArray::damagedRecordsRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    for (QGLContext *context : {static_cast<QGLContext *>(nullptr), m_scene->context()}) {
        OpenGLArray array(context);
        recordTriangles(array, 2);
        QVERIFY(array.glEnd());
        const QByteArray before = savedBytes(array);

        QDataStream in(bytes);
        in.setByteOrder(QDataStream::LittleEndian);
        QVERIFY(!array.load(in));
        QCOMPARE(int(in.status()), status);
        QCOMPARE(savedBytes(array), before);
    }
}

void TestOpenGLArray::everyPrefixFailsCleanly()
{
    OpenGLArray source;
    recordTriangles(source, 2);
    QVERIFY(source.glEnd());
    const QByteArray bytes = savedBytes(source);
    for (int n = 0; n < bytes.size(); ++n) {
        OpenGLArray array;
        QDataStream in(bytes.left(n));
        in.setByteOrder(QDataStream::LittleEndian);
        QVERIFY2(!array.load(in), qPrintable(QString("prefix of %1 bytes").arg(n)));
        QCOMPARE(array.count(), 0);
    }
}

QTEST_MAIN(TestOpenGLArray)
#include "tst_openglarray.moc"
