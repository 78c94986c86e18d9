#include "geom/slicing/slice.h"

#include "geom/core/boundary.h"
#include "messagecapture.h"
#include "planarsupport.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QImage>
#include <QMatrix4x4>
#include <QPainter>
#include <QSet>
#include <QTransform>
#include <QVector3D>
#include <QtTest>

#include <cmath>

using geom::Contour;
using geom::Rectangle;
using geom::Slice;
using geom::Vector2f;
using planartest::squareContour;

namespace {

Slice flatSlice(std::initializer_list<Contour> contours, float z = 1.0f, float thickness = 0.5f)
{
    Slice s(z, thickness);
    for (const Contour &c : contours)
        s.contours().append(c);
    return s;
}

// Outer A (10 x 10, two holes) and outer B (3 x 3, none), listed A, B, then the holes.
Slice twoGroups()
{
    return flatSlice({squareContour(0, 0, 10), squareContour(20, 0, 3), squareContour(1, 1, 2, true),
                      squareContour(5, 5, 1, true)});
}

QByteArray written(const Slice &s, QDataStream::FloatingPointPrecision precision)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(precision);
    out << s;
    return bytes;
}

QDataStream::Status readBack(const QByteArray &bytes, Slice *s)
{
    QDataStream in(bytes);
    in.setByteOrder(QDataStream::LittleEndian);
    in >> *s;
    return in.status();
}

QList<double> areas(const Slice &s)
{
    QList<double> out;
    for (int i = 0; i < s.contourCount(); ++i)
        out.append(s.contour(i)->area());
    return out;
}

// Where the drawings of the tests go, for a person to look at.
QString artefact(const QString &name)
{
    const QString dir =
        qEnvironmentVariable("QUARN_TEST_HOME", QDir::tempPath()) + QLatin1String("/artefacts");
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') + name;
}

} // namespace

class TestSlice : public QObject
{
    Q_OBJECT

private slots:
    void emptySlice();
    void enumeration();
    void formats();
    void groupedFollowsEdits();
    void hierarchy();
    void copies();
    void totals();
    void pointQueries();
    void translateAndMirror_data();
    void translateAndMirror();
    void sortByAreaIsStable();
    void changes();
    void pointSets();
    void streams();
    void streamDamage_data();
    void streamDamage();
    void painting();
};

void TestSlice::emptySlice()
{
    for (int f : {Slice::Flat, Slice::Hierarchy, Slice::Grouped}) {
        Slice s(2.0f, 0.1f);
        meshtest::MessageCapture quiet;
        s.setFormat(f);
        QCOMPARE(s.contourCount(), 0);
        QVERIFY(!s.contour(0));
        QCOMPARE(s.area(), 0.0);
        QCOMPARE(s.pointCount(), 0);
        QVERIFY(s.bounds().isNull());
        QVERIFY(!s.containsPoint(Vector2f(), nullptr, 1));
    }
}

void TestSlice::enumeration()
{
    Slice s = twoGroups();
    QCOMPARE(s.contourCount(), 4);
    // Flat: indices outside the list are clamped into it.
    QCOMPARE(s.contour(-5)->area(), 100.0);
    QCOMPARE(s.contour(7)->area(), -1.0);

    s.setFormat(Slice::Grouped);
    QCOMPARE(s.format(), int(Slice::Grouped));
    QCOMPARE(s.contours().size(), 2);
    QCOMPARE(s.contourCount(), 4);
    QCOMPARE(s.groupIndex(), (QMap<int, int>{{2, 0}, {3, 1}}));
    // A, A's holes in the order they joined it, then B.
    QCOMPARE(areas(s), QList<double>({100.0, -1.0, -4.0, 9.0}));
    QCOMPARE(s.contour(1), &s.contours()[0].children()[0]);
}

void TestSlice::formats()
{
    // A hole listed before every outer contour has no parent to join.
    Slice s = flatSlice({squareContour(1, 1, 2, true), squareContour(0, 0, 10)});
    s.toGroupedFormat();
    QCOMPARE(s.contours().size(), 2);
    QCOMPARE(s.contourCount(), 2);

    Slice grouped = twoGroups();
    grouped.setFormat(Slice::Grouped);
    const Slice before = grouped;
    grouped.setFormat(Slice::Grouped);
    QCOMPARE(grouped.groupIndex(), before.groupIndex());
    QCOMPARE(areas(grouped), areas(before));

    // Back to Flat: every hole at the top, largest first.
    grouped.setFormat(Slice::Flat);
    QCOMPARE(grouped.format(), int(Slice::Flat));
    QVERIFY(grouped.groupIndex().isEmpty());
    QCOMPARE(areas(grouped), QList<double>({100.0, 9.0, -4.0, -1.0}));
    QCOMPARE(grouped.area(), 104.0);

    grouped.setFormat(7);
    QCOMPARE(grouped.format(), int(Slice::Flat));
}

void TestSlice::groupedFollowsEdits()
{
    Slice s = twoGroups();
    s.setFormat(Slice::Grouped);
    QCOMPARE(s.contourCount(), 4);

    // Contours added to or taken from the list are enumerated at once.
    s.contours().append(squareContour(50, 0, 2));
    QCOMPARE(s.contourCount(), 5);
    QCOMPARE(s.contour(4)->area(), 4.0);
    s.contours().removeFirst();
    QCOMPARE(s.contourCount(), 2);
    QCOMPARE(s.groupIndex(), (QMap<int, int>{{0, 0}, {1, 1}}));
    QCOMPARE(s.area(), 13.0);

    // A hole added through a handed-out pointer joins its group after invalidate().
    Contour *b = s.contour(0);
    b->children().append(squareContour(21, 1, 1, true));
    b->children().append(squareContour(21, 2, 0.5f, true));
    QCOMPARE(s.contour(1)->area(), 4.0); // no crash on the old index
    s.invalidate();
    QCOMPARE(s.contourCount(), 4);
    QCOMPARE(s.contour(1)->area(), -1.0);
    QCOMPARE(s.area(), 13.0 - 1.0 - 0.25);
}

void TestSlice::hierarchy()
{
    Slice s = flatSlice({squareContour(0, 0, 10), squareContour(2, 2, 6, true), squareContour(4, 4, 2)});
    meshtest::MessageCapture capture;
    s.setFormat(Slice::Hierarchy);
    QCOMPARE(capture.messages(), QStringList("Slice.toHierarchyFormat : Not fully working"));
    QCOMPARE(s.contours().size(), 1);
    QCOMPARE(s.contourCount(), 1);
    QCOMPARE(s.contours()[0].flatten().size(), 3);
    QCOMPARE(s.contours()[0].containmentDepth(Vector2f(5, 5)), 3);
    // Only the top level is enumerated.
    QCOMPARE(s.area(), 100.0);
    QCOMPARE(s.allContours().size(), 3);

    // A copy of a Flat slice whose contours nest that deep detects it.
    Slice relabelled(0.0f);
    relabelled.contours() = s.contours();
    QCOMPARE(Slice(relabelled).format(), int(Slice::Hierarchy));
}

void TestSlice::copies()
{
    Slice s = twoGroups();
    s.setFormat(Slice::Grouped);
    Slice flat(s.z(), s.thickness());
    flat.contours() = s.contours();
    QCOMPARE(flat.format(), int(Slice::Flat));
    const Slice detected(flat);
    QCOMPARE(detected.format(), int(Slice::Grouped));
    QCOMPARE(detected.groupIndex(), s.groupIndex());

    Slice assigned;
    assigned = flat;
    QCOMPARE(assigned.format(), int(Slice::Flat));

    const Slice mapped(s, QTransform::fromTranslate(1, 2), true);
    QCOMPARE(mapped.format(), int(Slice::Grouped));
    QCOMPARE(mapped.contour(1)->points().first(), s.contour(1)->points().first() + Vector2f(1, 2));
    QCOMPARE(mapped.area(), s.area());

    QMatrix4x4 m;
    m.translate(0, 0, 3);
    m.scale(2, 2, 4);
    const Slice scaled(s, m, false);
    QCOMPARE(scaled.z(), 3.0f + 4.0f * s.z());
    QCOMPARE(scaled.thickness(), 4.0f * s.thickness());
    QCOMPARE(scaled.area(), 4.0 * s.area());

    const Slice subset(twoGroups(), QSet<int>{1, 9});
    QCOMPARE(subset.contourCount(), 1);
    QCOMPARE(subset.area(), 9.0);
    QCOMPARE(subset.z(), 1.0f);

    const Slice resampled(flatSlice({squareContour(0, 0, 1), squareContour(5, 5, 4)}), 4.5, 0);
    QCOMPARE(resampled.contourCount(), 1);
    QCOMPARE(resampled.contours()[0].points(), Contour(squareContour(5, 5, 4), 4.5, 0).points());
}

void TestSlice::totals()
{
    Slice s = twoGroups();
    QCOMPARE(s.area(), 104.0);
    QCOMPARE(s.perimeter(), 40.0 + 12.0 + 8.0 + 4.0);
    QCOMPARE(s.pointCount(), 16);
    QVERIFY(planartest::sameBox(s.bounds(), Rectangle({0, 0}, {23, 10})));
    QVERIFY(!s.needsUpdate());

    // A contour changed through the slice makes the totals stale.
    s.contour(1)->translate(0, 10);
    QVERIFY(s.needsUpdate());
    QVERIFY(planartest::sameBox(s.bounds(), Rectangle({0, 0}, {23, 13})));
    s.contours().append(squareContour(-5, 0, 1));
    QCOMPARE(s.pointCount(), 20);
    QCOMPARE(s.area(), 105.0);
}

void TestSlice::pointQueries()
{
    Slice s = twoGroups();
    for (int f : {Slice::Flat, Slice::Grouped}) {
        s.setFormat(f);
        int outer = -1;
        QVERIFY(s.containsPoint(Vector2f(0.5f, 0.5f), &outer, 1));
        QCOMPARE(s.contour(outer)->area(), 100.0);
        QVERIFY(!s.containsPoint(Vector2f(2, 2), nullptr, 1)); // in a hole
        QVERIFY(!s.containsPoint(Vector2f(2, 2), nullptr, 0));
        QVERIFY(!s.containsPoint(Vector2f(15, 1), nullptr, 1));
        QVERIFY(s.containsPoint(Vector2f(21, 1), nullptr, 0));

        QVERIFY(
            s.intersectsCircle(geom::Circle<float>(Vector2f(2, 2), 1.0f))); // in the hole, reaching its edge
        QVERIFY(!s.intersectsCircle(geom::Circle<float>(Vector2f(2, 2), 0.9f)));
        QVERIFY(s.intersectsCircle(geom::Circle<float>(Vector2f(15, 5), 5.0f))); // touches A's right edge
        QVERIFY(!s.intersectsCircle(geom::Circle<float>(Vector2f(15, 5), 4.0f)));

        QVERIFY(s.coversCorner(Rectangle({9, 9}, {11, 11})));
        QVERIFY(!s.coversCorner(Rectangle({11, 11}, {12, 12})));
        QVERIFY(!s.coversCorner(Rectangle({1.5f, 1.5f}, {2.5f, 2.5f}))); // inside the hole
    }
    // One corner of the probe lies in the hole: counted against it only where the hole is at the top.
    const Contour probe = squareContour(0.5f, 0.5f, 1);
    QCOMPARE(s.insideCount(probe, 0), 4);
    s.setFormat(Slice::Flat);
    QCOMPARE(s.insideCount(probe, 0), 4 - 1);
    QCOMPARE(s.insideCount(probe, 2), 2 - 1);
}

void TestSlice::translateAndMirror_data()
{
    QTest::addColumn<Contour>("contour");
    QTest::addColumn<int>("axes");
    QTest::addColumn<float>("z");

    QTest::newRow("square, x") << squareContour(1, 2, 3) << int(geom::MinX) << 1.0f;
    QTest::newRow("square, x and y") << squareContour(1, 2, 3) << int(geom::MaxX | geom::MaxY) << 1.0f;
    QTest::newRow("square, z") << squareContour(1, 2, 3) << int(geom::MinZ) << -1.0f;
    // A flat outline gives flat bounds: not valid, still the slice's bounds.
    QTest::newRow("flat outline, x") << Contour(QVector<Vector2f>{{1, 2}, {3, 2}, {4, 2}}) << int(geom::MinX)
                                     << 1.0f;
    QTest::newRow("flat outline, y") << Contour(QVector<Vector2f>{{1, 2}, {3, 2}, {4, 2}}) << int(geom::MinY)
                                     << 1.0f;
}

void TestSlice::translateAndMirror()
{
    QFETCH(Contour, contour);
    QFETCH(int, axes);
    QFETCH(float, z);

    Slice s = flatSlice({contour});
    QVERIFY(!s.bounds().isNull()); // a fresh cache
    s.mirror(axes);
    QCOMPARE(s.z(), z);
    Contour expected = contour;
    expected.mirror(axes);
    QVERIFY(planartest::sameBox(s.bounds(), Contour(expected.points()).bounds()));
    QCOMPARE(s.area(), contour.area());

    s.translate(0, 0, 0.5f);
    QCOMPARE(s.z(), z + 0.5f);
    QCOMPARE(s.contours()[0].points(), expected.points());
    s.translate(1e-6f, 0, 0);
    QCOMPARE(s.contours()[0].points(), expected.points());
    QCOMPARE(s.z(), z + 0.5f);
    s.translate(QVector3D(1, 2, 3));
    QCOMPARE(s.z(), z + 3.5f);
    QVERIFY(planartest::sameBox(s.bounds(), Contour(expected.points()).bounds().translated(Vector2f(1, 2))));
}

void TestSlice::sortByAreaIsStable()
{
    // Equal areas at different places: the sort must keep their order, so that written layers are
    // the same bytes every time.
    Slice s = flatSlice({squareContour(0, 0, 1), squareContour(10, 0, 2), squareContour(20, 0, 1, true),
                         squareContour(30, 0, 1), squareContour(40, 0, 2, true), squareContour(50, 0, 1)});
    const auto xs = [](const Slice &slice) {
        QList<float> out;
        for (const Contour &c : slice.contours())
            out.append(c.points().first().x);
        return out;
    };
    s.sortByArea(true);
    QCOMPARE(xs(s), QList<float>({0, 20, 30, 50, 10, 40}));
    s.sortByArea(false);
    QCOMPARE(xs(s), QList<float>({10, 40, 0, 20, 30, 50}));
}

void TestSlice::changes()
{
    Slice s = twoGroups();
    s.reverse();
    QCOMPARE(s.area(), -104.0);
    s.reverse();

    Slice withSmall = flatSlice({squareContour(0, 0, 4), squareContour(10, 10, 0.5f)});
    withSmall.resample(2.5, 0);
    QCOMPARE(withSmall.contourCount(), 1);
    QCOMPARE(withSmall.pointCount(), Contour(squareContour(0, 0, 4), 2.5, 0).pointCount());
    QCOMPARE(withSmall.pointCount(), 7);

    Slice fine = flatSlice({Contour(QVector<Vector2f>{{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}})});
    QCOMPARE(fine.simplifyAndClean(0.1), 1);
    QCOMPARE(fine.pointCount(), 4);
    QCOMPARE(fine.simplifyAndClean(0.1), 0);

    Slice snapped = flatSlice({Contour(QVector<Vector2f>{{0, 0}, {1.1f, 0}, {1.1f, 0.9f}})});
    snapped.snapToGrid(1.0);
    QCOMPARE(snapped.area(), 0.5);
    snapped.smooth(2, 0.0);
    QCOMPARE(snapped.pointCount(), 0);
}

void TestSlice::pointSets()
{
    Slice a = twoGroups();
    const Slice b = twoGroups();
    QCOMPARE(Slice::compare(a, b), 0);
    QCOMPARE(Slice::difference(a, b), Vector2f(0, 0));
    a.translate(1, 0, 0);
    QCOMPARE(Slice::difference(a, b), Vector2f(16, 0));
    QCOMPARE(Slice::compare(a, b), 2 * 16 - 2 * 2); // two points of the holes stay in place... see below
    QCOMPARE(a.allPoints().size(), size_t(16));

    const Slice fewer = flatSlice({squareContour(0, 0, 1)});
    QCOMPARE(Slice::difference(fewer, b), Vector2f(-3, 3));
    QCOMPARE(Slice::compare(fewer, b), -1);

    Slice grouped = twoGroups();
    grouped.setFormat(Slice::Grouped);
    QCOMPARE(grouped.allPoints().size(), size_t(16));
    QCOMPARE(grouped.allContours().size(), 4);
}

void TestSlice::streams()
{
    Slice s = twoGroups();
    s.setFormat(Slice::Grouped);
    s.contours()[1].children().append(squareContour(21, 1, 1, true));

    // The floats are 4 bytes whatever the stream's precision.
    const QByteArray bytes = written(s, QDataStream::DoublePrecision);
    QCOMPARE(bytes, written(s, QDataStream::SinglePrecision));
    QCOMPARE(bytes.size(), 4 + 5 * 8 + 20 * 8 + 8);
    QCOMPARE(bytes.right(8), QByteArray("\x00\x00\x80\x3f\x00\x00\x00\x3f", 8));

    Slice back(9.0f, 9.0f);
    QCOMPARE(readBack(bytes, &back), QDataStream::Ok);
    QCOMPARE(back.format(), int(Slice::Flat)); // the format is not stored
    QCOMPARE(back.z(), 1.0f);
    QCOMPARE(back.thickness(), 0.5f);
    QCOMPARE(back.contours().size(), 2);
    QCOMPARE(back.contours()[0].childCount(), 2);
    QCOMPARE(back.contours()[1].children()[0].points(), squareContour(21, 1, 1, true).points());
    QCOMPARE(Slice(back).format(), int(Slice::Grouped));

    // A Grouped slice that reads more contours enumerates them too.
    Slice grouped = twoGroups();
    grouped.setFormat(Slice::Grouped);
    const double area = grouped.area();
    QCOMPARE(readBack(written(flatSlice({squareContour(50, 50, 1)}), QDataStream::SinglePrecision), &grouped),
             QDataStream::Ok);
    QCOMPARE(grouped.contourCount(), 5);
    QCOMPARE(grouped.area(), area + 1.0);
}

void TestSlice::streamDamage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");

    const QByteArray good = written(twoGroups(), QDataStream::SinglePrecision);
    for (int n : {0, 2, 4, 12, 50, good.size() - 5, good.size() - 1})
        QTest::addRow("prefix of %d bytes", n) << good.left(n) << int(QDataStream::ReadPastEnd);
    QTest::newRow("negative count") << QByteArray("\xff\xff\xff\xff", 4) << int(QDataStream::ReadCorruptData);
    QTest::newRow("negative count in a contour")
        << QByteArray("\x01\0\0\0\0\0\0\0\xff\xff\xff\xff", 12) << int(QDataStream::ReadCorruptData);
    QTest::newRow("huge count, few bytes")
        << QByteArray("\xff\xff\xff\x7f", 4) + QByteArray(40, '\0') << int(QDataStream::ReadPastEnd);
}

void TestSlice::streamDamage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    Slice s(3.0f, 2.0f);
    QCOMPARE(int(readBack(bytes, &s)), status);
    QVERIFY(s.contours().size() <= bytes.size() / 4);
    QCOMPARE(s.z(), 3.0f); // nothing half read is taken
}

void TestSlice::painting()
{
    // A 60 x 60 ring with a 20 x 20 hole, in the middle of a 100 x 100 image.
    const Slice flat = flatSlice({squareContour(20, 20, 60), squareContour(40, 40, 20, true)});
    Slice grouped = flat;
    grouped.setFormat(Slice::Grouped);
    QCOMPARE(grouped.contours().size(), 1);

    const auto render = [](const QString &name, const std::function<void(QPainter &)> &draw) {
        QImage image(100, 100, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, false);
        draw(painter);
        painter.end();
        image.save(artefact(name));
        return image;
    };
    const QImage byPath = render(QStringLiteral("slice-path.png"),
                                 [&](QPainter &p) { p.fillPath(flat.toPainterPath(false), Qt::red); });
    const QImage byWindingPath = render(QStringLiteral("slice-winding-path.png"), [&](QPainter &p) {
        p.fillPath(grouped.toPainterPath(true), Qt::red);
    });
    const QImage painted = render(QStringLiteral("slice-paint-flat.png"), [&](QPainter &p) {
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::blue);
        flat.paint(&p);
    });
    const QImage paintedGrouped = render(QStringLiteral("slice-paint-grouped.png"), [&](QPainter &p) {
        p.setPen(Qt::NoPen);
        grouped.paint(&p); // no opaque brush: white, holes black
    });

    for (const QImage &image : {byPath, byWindingPath, painted}) {
        QCOMPARE(qAlpha(image.pixel(50, 50)), 0);   // the hole
        QCOMPARE(qAlpha(image.pixel(10, 10)), 0);   // outside
        QCOMPARE(qAlpha(image.pixel(30, 30)), 255); // the ring
        QCOMPARE(qAlpha(image.pixel(70, 50)), 255);
    }
    QCOMPARE(QColor(byPath.pixel(30, 30)), QColor(Qt::red));
    QCOMPARE(QColor(painted.pixel(30, 30)), QColor(Qt::blue));
    QCOMPARE(QColor(paintedGrouped.pixel(30, 30)), QColor(Qt::white));
    QCOMPARE(QColor(paintedGrouped.pixel(50, 50)), QColor(Qt::black));
    QCOMPARE(qAlpha(paintedGrouped.pixel(10, 10)), 0);
}

QTEST_GUILESS_MAIN(TestSlice)
#include "tst_slice.moc"
