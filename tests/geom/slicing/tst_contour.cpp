#include "geom/slicing/contour.h"

#include "geom/core/boundary.h"
#include "planarsupport.h"

#include <QBuffer>
#include <QDataStream>
#include <QTransform>
#include <QtTest>

#include <cmath>
#include <limits>

using geom::Contour;
using geom::Rectangle;
using geom::Vector2f;
using planartest::square;
using planartest::squareContour;

namespace {

QByteArray written(const Contour &c)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << c;
    return bytes;
}

// Reads one contour record from bytes; the stream's status and the contour read.
QDataStream::Status readBack(const QByteArray &bytes, Contour *c)
{
    QDataStream in(bytes);
    in.setByteOrder(QDataStream::LittleEndian);
    in >> *c;
    return in.status();
}

// An outer square of side 10 at the origin holding a clockwise hole, which holds an island.
Contour nested()
{
    Contour outer = squareContour(0, 0, 10);
    Contour hole = squareContour(2, 2, 6, true);
    hole.children().append(squareContour(4, 4, 2));
    outer.children().append(hole);
    return outer;
}

bool sameTree(const Contour &a, const Contour &b)
{
    if (a.points() != b.points() || a.childCount() != b.childCount())
        return false;
    for (int i = 0; i < a.childCount(); ++i) {
        if (!sameTree(a.children()[i], b.children()[i]))
            return false;
    }
    return true;
}

} // namespace

class TestContour : public QObject
{
    Q_OBJECT

private slots:
    void measures_data();
    void measures();
    void constructors();
    void cacheFollowsChanges();
    void containsPoint_data();
    void containsPoint();
    void distanceAndEdges();
    void nesting();
    void mirror_data();
    void mirror();
    void resample_data();
    void resample();
    void smooth();
    void hugeArguments();
    void simplifyAndSnap();
    void pointSets();
    void keyedPoints();
    void streamRoundTrip();
    void streamDamage_data();
    void streamDamage();
};

void TestContour::measures_data()
{
    QTest::addColumn<QVector<Vector2f>>("points");
    QTest::addColumn<double>("area");
    QTest::addColumn<double>("perimeter");
    QTest::addColumn<Rectangle>("bounds");

    QTest::newRow("counter-clockwise unit square")
        << square(0, 0, 1) << 1.0 << 4.0 << Rectangle({0, 0}, {1, 1});
    QTest::newRow("clockwise unit square")
        << square(0, 0, 1, true) << -1.0 << 4.0 << Rectangle({0, 0}, {1, 1});
    QTest::newRow("triangle") << QVector<Vector2f>{{0, 0}, {4, 0}, {0, 3}} << 6.0 << 12.0
                              << Rectangle({0, 0}, {4, 3});
    QTest::newRow("empty") << QVector<Vector2f>{} << 0.0 << 0.0 << Rectangle();
    QTest::newRow("one point") << QVector<Vector2f>{{2, 3}} << 0.0 << 0.0 << Rectangle();
    QTest::newRow("two points: there and back")
        << QVector<Vector2f>{{0, 0}, {3, 4}} << 0.0 << 10.0 << Rectangle();
}

void TestContour::measures()
{
    QFETCH(QVector<Vector2f>, points);
    QFETCH(double, area);
    QFETCH(double, perimeter);
    QFETCH(Rectangle, bounds);

    const Contour c(points);
    QVERIFY(c.needsUpdate());
    QCOMPARE(c.area(), area);
    QCOMPARE(c.perimeter(), perimeter);
    QVERIFY(planartest::sameBox(c.bounds(), bounds));
    QVERIFY(!c.needsUpdate());
    QCOMPARE(c.center(), bounds.isValid() ? bounds.center() : Vector2f());

    Contour reversed = c;
    reversed.reverse();
    QCOMPARE(reversed.area(), -area);
    QCOMPARE(reversed.perimeter(), perimeter);
}

void TestContour::constructors()
{
    const Rectangle r({1, 2}, {4, 6});
    QCOMPARE(Contour(r, false).points(), QVector<Vector2f>({{1, 2}, {4, 2}, {4, 6}, {1, 6}}));
    QCOMPARE(Contour(r, true).points(), QVector<Vector2f>({{1, 2}, {1, 6}, {4, 6}, {4, 2}}));
    QCOMPARE(Contour(r, false).area(), 12.0);
    QCOMPARE(Contour(r, true).area(), -12.0);

    const Vector2f tri[] = {{0, 0}, {1, 0}, {0, 1}};
    QCOMPARE(Contour(tri, 3).points(), Contour(tri[0], tri[1], tri[2]).points());
    QCOMPARE(Contour(nullptr, 5).pointCount(), 0);

    // Offset and transformed copies carry the whole tree.
    const Contour tree = nested();
    const Contour moved(tree, Vector2f(10, 20));
    QCOMPARE(moved.children()[0].children()[0].points().first(), Vector2f(14, 24));
    QCOMPARE(moved.area(), tree.area());
    for (bool fast : {false, true}) {
        const Contour mapped(tree, QTransform::fromScale(2, 3), fast);
        QVERIFY(mapped.needsUpdate());
        QCOMPARE(mapped.area(), 600.0);
        QCOMPARE(mapped.totalPointCount(), 12);
        QCOMPARE(mapped.children()[0].children()[0].points()[2], Vector2f(12, 18));
    }

    QCOMPARE(tree.totalPointCount(), 12);
    QCOMPARE(tree.totalArea(), 100.0 - 36.0 + 4.0);
    QCOMPARE(tree.totalPerimeter(), 40.0 + 24.0 + 8.0);
    QCOMPARE(tree.flatten().size(), 3);
    QCOMPARE(tree.flatten()[2]->area(), 4.0);
    QVERIFY(!tree.isEmpty());
    Contour cleared = tree;
    cleared.clear();
    QVERIFY(cleared.isEmpty());
    QCOMPARE(cleared.childCount(), 1);
    QCOMPARE(tree.totalPointCount(), 12); // the copy was not touched
}

void TestContour::cacheFollowsChanges()
{
    Contour c = squareContour(0, 0, 1);
    QCOMPARE(c.area(), 1.0);
    // Every road that changes the points refreshes the measures.
    c.appendPoint(-1.0f, 0.5f);
    QCOMPARE(c.area(), 1.5);
    c.points()[4] = Vector2f(-2.0f, 0.5f);
    QCOMPARE(c.area(), 2.0);
    c.translate(1, 1);
    QVERIFY(planartest::sameBox(c.bounds(), Rectangle({-1, 1}, {2, 2})));

    // A stale child makes the tree stale; the parent's own figures do not depend on it.
    Contour parent = squareContour(0, 0, 4);
    parent.children().append(squareContour(1, 1, 1, true));
    QCOMPARE(parent.totalArea(), 15.0);
    QVERIFY(!parent.needsUpdate());
    parent.children()[0].invalidate();
    QVERIFY(parent.needsUpdate());
}

void TestContour::containsPoint_data()
{
    QTest::addColumn<QVector<Vector2f>>("points");
    QTest::addColumn<Vector2f>("p");
    QTest::addColumn<bool>("inside");

    const QVector<Vector2f> sq = square(0, 0, 1);
    QTest::newRow("centre") << sq << Vector2f(0.5f, 0.5f) << true;
    QTest::newRow("outside") << sq << Vector2f(1.5f, 0.5f) << false;
    QTest::newRow("lower edge counts") << sq << Vector2f(0.5f, 0.0f) << true;
    QTest::newRow("upper edge does not") << sq << Vector2f(0.5f, 1.0f) << false;
    QTest::newRow("clockwise ring contains too") << square(0, 0, 1, true) << Vector2f(0.5f, 0.5f) << true;
    QTest::newRow("two points contain nothing")
        << QVector<Vector2f>{{0, 0}, {1, 1}} << Vector2f(0.5f, 0.5f) << false;

    // A ring that winds twice around its centre: the non-zero rule holds it inside.
    QTest::newRow("double winding") << QVector<Vector2f>{{0, 0}, {2, 0}, {2, 2}, {0, 2},
                                                         {0, 0}, {2, 0}, {2, 2}, {0, 2}}
                                    << Vector2f(1, 1) << true;

    // Ten points: the bounds reject; the edges would accept a point a hair outside the right edge.
    QVector<Vector2f> ten;
    for (int i = 0; i <= 5; ++i)
        ten.append(Vector2f(float(i), 0.0f));
    ten << Vector2f(5, 1) << Vector2f(3, 1) << Vector2f(2, 1) << Vector2f(0, 1);
    QTest::newRow("ten points, inside") << ten << Vector2f(2.5f, 0.5f) << true;
    QTest::newRow("ten points, outside the bounds") << ten << Vector2f(-0.5f, 0.5f) << false;
}

void TestContour::containsPoint()
{
    QFETCH(QVector<Vector2f>, points);
    QFETCH(Vector2f, p);
    QFETCH(bool, inside);
    const Contour c(points);
    QCOMPARE(c.containsPoint(p), inside);
    QCOMPARE(c.containsPoint(p, true), inside);
}

void TestContour::distanceAndEdges()
{
    const Contour c = squareContour(0, 0, 2);
    QCOMPARE(Contour().distanceSquared(Vector2f(1, 1)), std::numeric_limits<double>::infinity());
    QCOMPARE(c.distance(Vector2f(1, 0)), 0.0);
    QCOMPARE(c.distance(Vector2f(3, 1)), 1.0);
    QCOMPARE(c.distanceSquared(Vector2f(1, 1)), 1.0);
    QCOMPARE(c.distance(Vector2f(3, 3)), std::sqrt(2.0));
    QCOMPARE(Contour(QVector<Vector2f>{{1, 1}}).distanceSquared(Vector2f(4, 5)), 25.0);

    int edge = -1;
    QVERIFY(c.isOnEdge(Vector2f(2, 1), &edge));
    QCOMPARE(edge, 1);
    QVERIFY(c.isOnEdge(Vector2f(0, 1), &edge));
    QCOMPARE(edge, 3); // the closing edge from the last point to the first
    QVERIFY(!c.isOnEdge(Vector2f(1, 1)));
    QVERIFY(!Contour(QVector<Vector2f>{{1, 1}}).isOnEdge(Vector2f(1, 1)));
}

void TestContour::nesting()
{
    const Contour outer = squareContour(0, 0, 10);
    const Contour hole = squareContour(2, 2, 6, true);
    const Contour across = squareContour(8, 8, 4);
    const Contour apart = squareContour(20, 0, 1);

    QVERIFY(outer.contains(hole));
    QVERIFY(!hole.contains(outer));
    QVERIFY(!outer.contains(across));
    QVERIFY(!outer.contains(apart));
    QVERIFY(outer.contains(Contour()));
    QVERIFY(outer.boundsIntersect(across));
    QVERIFY(!outer.boundsIntersect(apart));
    QCOMPARE(outer.countPointsInside(across, 0), 1);
    QCOMPARE(outer.countPointsInside(squareContour(1, 1, 1), 2), 2);

    // A direct child of the opposite orientation counts as contained, whatever its points say.
    const Contour tree = nested();
    QVERIFY(tree.contains(tree.children()[0]));
    QVERIFY(!tree.contains(Contour(tree.children()[0], Vector2f(100, 0))));

    QCOMPARE(tree.containmentDepth(Vector2f(1, 1)), 1);
    QCOMPARE(tree.containmentDepth(Vector2f(3, 3)), 2);
    QCOMPARE(tree.containmentDepth(Vector2f(5, 5)), 3);
    QCOMPARE(tree.containmentDepth(Vector2f(-1, 5)), 0);
}

void TestContour::mirror_data()
{
    QTest::addColumn<QVector<Vector2f>>("points");
    QTest::addColumn<int>("axes");
    QTest::addColumn<QVector<Vector2f>>("expected");

    const QVector<Vector2f> sq = square(1, 2, 1);
    QTest::newRow("x: order reversed")
        << sq << int(geom::MinX) << QVector<Vector2f>{{-1, 3}, {-2, 3}, {-2, 2}, {-1, 2}};
    QTest::newRow("y: order reversed")
        << sq << int(geom::MaxY) << QVector<Vector2f>{{1, -3}, {2, -3}, {2, -2}, {1, -2}};
    QTest::newRow("x and y: order kept")
        << sq << int(geom::MinX | geom::MinY) << QVector<Vector2f>{{-1, -2}, {-2, -2}, {-2, -3}, {-1, -3}};
    QTest::newRow("z only: nothing") << sq << int(geom::MinZ) << sq;
    // Three points on one line: flat bounds, which must follow the points as well.
    QTest::newRow("flat ring, x") << QVector<Vector2f>{{1, 5}, {2, 5}, {4, 5}} << int(geom::MaxX)
                                  << QVector<Vector2f>{{-4, 5}, {-2, 5}, {-1, 5}};
    QTest::newRow("flat ring, y") << QVector<Vector2f>{{1, 5}, {2, 5}, {4, 5}} << int(geom::MaxY)
                                  << QVector<Vector2f>{{4, -5}, {2, -5}, {1, -5}};
}

void TestContour::mirror()
{
    QFETCH(QVector<Vector2f>, points);
    QFETCH(int, axes);
    QFETCH(QVector<Vector2f>, expected);

    Contour c(points);
    c.children().append(Contour(points));
    const double area = c.area();
    QVERIFY(!c.bounds().isNull()); // a fresh cache, which the mirror must keep right
    c.mirror(axes);
    QCOMPARE(c.points(), expected);
    QCOMPARE(c.children()[0].points(), expected);
    QCOMPARE(c.area(), area);

    Contour fresh(expected);
    QVERIFY(planartest::sameBox(c.bounds(), fresh.bounds()));
}

void TestContour::resample_data()
{
    QTest::addColumn<QVector<Vector2f>>("points");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QVector<Vector2f>>("expected");

    const QVector<Vector2f> sq = square(0, 0, 1);
    QTest::newRow("mode 0: half steps")
        << sq << 0.5 << 0
        << QVector<Vector2f>{{0, 0.5f}, {0, 0}, {0.5f, 0}, {1, 0}, {1, 0.5f}, {1, 1}, {0.5f, 1}, {0, 1}};
    // The spacing carries over from edge to edge; the vertices off the spacing go.
    QTest::newRow("mode 0: spacing runs across corners")
        << QVector<Vector2f>{{0, 0}, {1.5f, 0}, {1.5f, 1.5f}} << 1.0 << 0
        << QVector<Vector2f>{{1.5f, 1.5f},      {0.792893231f, 0.792893231f}, {0.0857864618f, 0.0857864618f},
                             {0.878679633f, 0}, {1.5f, 0.378679633f},         {1.5f, 1.37867963f}};
    QTest::newRow("mode 0: step above the perimeter") << sq << 4.5 << 0 << QVector<Vector2f>{};
    QTest::newRow("mode 0: step of zero") << sq << 0.0 << 0 << sq;
    QTest::newRow("mode 1: close points go") << QVector<Vector2f>{{0, 0}, {1, 0}, {1, 0.000001f}, {1, 1}}
                                             << 1.0 << 1 << QVector<Vector2f>{{0, 0}, {1, 0}, {1, 1}};
    QTest::newRow("mode 4: edges in quarters")
        << QVector<Vector2f>{{0, 0}, {1, 0}, {0, 0.25f}} << 0.3 << 4
        << QVector<Vector2f>{{0, 0},           {0.25f, 0},     {0.5f, 0},        {0.75f, 0}, {1, 0},
                             {0.75f, 0.0625f}, {0.5f, 0.125f}, {0.25f, 0.1875f}, {0, 0.25f}};
    QTest::newRow("mode 2: at most halves")
        << QVector<Vector2f>{{0, 0}, {1, 0}, {1, 0.25f}} << 0.3 << 2
        << QVector<Vector2f>{{0.5f, 0.125f}, {0, 0}, {0.5f, 0}, {1, 0}, {1, 0.25f}};
}

void TestContour::resample()
{
    QFETCH(QVector<Vector2f>, points);
    QFETCH(double, step);
    QFETCH(int, mode);
    QFETCH(QVector<Vector2f>, expected);

    const Contour c(points);
    const Contour r(c, step, mode);
    QCOMPARE(r.pointCount(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const Vector2f &p = r.points()[i];
        QVERIFY2(std::fabs(p.x - expected[i].x) <= 1e-6f && std::fabs(p.y - expected[i].y) <= 1e-6f,
                 qPrintable(QStringLiteral("%1: (%2, %3)")
                                .arg(i)
                                .arg(double(p.x), 0, 'g', 9)
                                .arg(double(p.y), 0, 'g', 9)));
    }
    QCOMPARE(c.points(), points); // the source keeps its points
}

void TestContour::smooth()
{
    Contour c = squareContour(0, 0, 1);
    // Decay 0: every neighbour weighs as much as the point itself would alone, halved on each side.
    c.smooth(1, 0.0);
    QCOMPARE(c.points(), QVector<Vector2f>({{0.25f, 0.25f}, {0.75f, 0.25f}, {0.75f, 0.75f}, {0.25f, 0.75f}}));
    QCOMPARE(c.area(), 0.25);

    Contour small = squareContour(0, 0, 1);
    small.smooth(0, 1.0);
    QCOMPARE(small.pointCount(), 4);
    small.smooth(3, 1.0);
    QCOMPARE(small.pointCount(), 0);
}

void TestContour::hugeArguments()
{
    // Arguments far beyond the ring neither overflow nor run away.
    Contour c = squareContour(0, 0, 1);
    c.smooth(std::numeric_limits<int>::max(), 1.0);
    QCOMPARE(c.pointCount(), 0);

    const float inf = std::numeric_limits<float>::infinity();
    Contour endless(QVector<Vector2f>{{0, 0}, {inf, 0}, {0, 1}});
    endless.resample(1.0, std::numeric_limits<int>::max());
    QCOMPARE(endless.pointCount(), 3);
    endless.resample(1e-30, 0);
    QCOMPARE(endless.pointCount(), 3);

    Contour tiny = squareContour(0, 0, 1000);
    tiny.resample(1e-30, 0); // the step vanishes against the edge lengths
    QVERIFY(tiny.pointCount() > 0);
    tiny = squareContour(0, 0, 1);
    tiny.resample(-1.0, 0);
    QCOMPARE(tiny.points(), square(0, 0, 1));
}

void TestContour::simplifyAndSnap()
{
    // A point in the middle of an edge and a spike: the collinear pass takes both.
    Contour c(QVector<Vector2f>{{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}});
    c.simplify(0.0);
    QCOMPARE(c.pointCount(), 4);
    QCOMPARE(c.area(), 4.0);

    Contour wobbly(QVector<Vector2f>{{0, 0}, {1, 0.01f}, {2, 0}, {2, 2}, {0, 2}});
    QCOMPARE(wobbly.simplifyAndClean(0.1), 1);
    QCOMPARE(wobbly.area(), 4.0);

    Contour tiny(QVector<Vector2f>{{0, 0}, {0.01f, 0}, {0, 0.01f}});
    QCOMPARE(tiny.simplifyAndClean(0.1), 3);
    QVERIFY(tiny.isEmpty());

    Contour grid(QVector<Vector2f>{{0.2f, 0.2f}, {0.7f, 0.3f}, {1.26f, 0.3f}, {1.2f, 1.4f}});
    grid.snapToGrid(0.5);
    QCOMPARE(grid.points(), QVector<Vector2f>({{0.2f, 0.2f}, {0.5f, 0.5f}, {1.5f, 0.5f}, {1, 1.5f}}));
    QCOMPARE(grid.area(), Contour(grid.points()).area());
}

void TestContour::pointSets()
{
    const Contour a(QVector<Vector2f>{{0, 0}, {1, 0}, {1, 1}});
    const Contour b(QVector<Vector2f>{{1, 1}, {0, 0}, {1, 0}});
    QCOMPARE(Contour::compare(a, b), 0);
    QCOMPARE(Contour::compare(a, squareContour(0, 0, 1)), -1);
    QCOMPARE(Contour::compare(squareContour(0, 0, 1), a), 1);
    QCOMPARE(Contour::compare(a, Contour(QVector<Vector2f>{{0, 0}, {1, 0}, {2, 2}})), 2);

    // The point set follows appended points and the children.
    Contour c(QVector<Vector2f>{{0, 0}});
    QCOMPARE(c.allPoints().size(), size_t(1));
    c.appendPoint(1, 0);
    c.appendPoint(1, 0);
    QCOMPARE(c.allPoints().size(), size_t(2));
    c.children().append(a);
    QCOMPARE(c.allPoints().size(), size_t(3));
    const Contour copy = c;
    QCOMPARE(copy.allPoints(), c.allPoints());
}

void TestContour::keyedPoints()
{
    Contour c(QVector<Vector2f>{{1, 0}, {0, 2}, {3, 0}});
    c.children().append(Contour(QVector<Vector2f>{{-1, 0}, {5, 5}}));
    const Vector2f r(1, 0);

    QCOMPARE(c.keyedPoints(0, Vector2f()).keys(), QList<double>({1.0, 4.0, 9.0}));
    QCOMPARE(c.keyedPoints(2, Vector2f()).keys(), QList<double>({1.0, 2.0, 3.0}));
    QCOMPARE(c.keyedPoints(3, r).keys(), QList<double>({0.0, 1.0, 3.0}));
    QCOMPARE(c.keyedPoints(3 | 16, r).keys(), QList<double>({-3.0, -1.0, -0.0}));
    QCOMPARE(c.keyedPoints(4, r).keys(), QList<double>({-2.0, 0.0}));
    QCOMPARE(c.keyedPoints(4, r).value(0.0), Vector2f(3, 0)); // the later point wins the key
    // With the children: (-1, 0) joins under key 1 but the own (1, 0) wins it.
    const QMap<double, Vector2f> all = c.keyedPoints(2 | 32, Vector2f());
    QCOMPARE(all.size(), 4);
    QCOMPARE(all.value(1.0), Vector2f(1, 0));
}

void TestContour::streamRoundTrip()
{
    const Contour tree = nested();
    const QByteArray bytes = written(tree);
    // 3 records of child count and point count, 12 points of 8 bytes.
    QCOMPARE(bytes.size(), 3 * 8 + 12 * 8);
    QCOMPARE(bytes.left(4), QByteArray("\x01\x00\x00\x00", 4));

    Contour back;
    QCOMPARE(readBack(bytes, &back), QDataStream::Ok);
    QVERIFY(sameTree(back, tree));
    QCOMPARE(back.totalArea(), tree.totalArea());

    // Reading into a contour with a fresh cache replaces its points and refreshes the figures.
    Contour used = squareContour(0, 0, 1);
    QCOMPARE(used.area(), 1.0);
    QCOMPARE(readBack(written(squareContour(0, 0, 3)), &used), QDataStream::Ok);
    QCOMPARE(used.area(), 9.0);
}

void TestContour::streamDamage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");

    const QByteArray good = written(nested());
    for (int n : {0, 3, 4, 8, 20, good.size() - 1})
        QTest::addRow("prefix of %d bytes", n) << good.left(n) << int(QDataStream::ReadPastEnd);

    QTest::newRow("negative child count")
        << QByteArray("\xff\xff\xff\xff", 4) << int(QDataStream::ReadCorruptData);
    QTest::newRow("negative point count")
        << QByteArray("\0\0\0\0\xfe\xff\xff\xff", 8) << int(QDataStream::ReadCorruptData);
    QTest::newRow("huge child count")
        << QByteArray("\xff\xff\xff\x7f\0\0\0\0\0\0\0\0", 12) << int(QDataStream::ReadPastEnd);
    QTest::newRow("huge point count")
        << QByteArray("\0\0\0\0\xff\xff\xff\x7f\0\0\0\0\0\0\0\0", 16) << int(QDataStream::ReadPastEnd);

    // One child in each record: a chain of 1000 levels is still a contour, 1001 are not.
    const QByteArray one("\x01\0\0\0", 4);
    const QByteArray leaf("\0\0\0\0\0\0\0\0", 8);
    const QByteArray empty("\0\0\0\0", 4);
    QTest::newRow("1000 levels") << one.repeated(999) + leaf + empty.repeated(999) << int(QDataStream::Ok);
    QTest::newRow("1001 levels") << one.repeated(1000) + leaf + empty.repeated(1000)
                                 << int(QDataStream::ReadCorruptData);
    QTest::newRow("a million levels claimed") << one.repeated(1000000) << int(QDataStream::ReadCorruptData);
}

void TestContour::streamDamage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    Contour c;
    QCOMPARE(int(readBack(bytes, &c)), status);
    QVERIFY(c.totalPointCount() <= bytes.size() / 8);
}

QTEST_GUILESS_MAIN(TestContour)
#include "tst_contour.moc"
