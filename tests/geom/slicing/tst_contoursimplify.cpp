#include "geom/slicing/contoursimplify.h"

#include "planarsupport.h"

#include <QtTest>

#include <cfloat>
#include <cmath>

using geom::Vector2d;
using geom::Vector2f;
using planartest::square;
using planartest::widened;
using Points = QVector<Vector2f>;

class TestContourSimplify : public QObject
{
    Q_OBJECT

private slots:
    void simplifyContour_data();
    void simplifyContour();
    void simplifyNoisyCircle();
    void snapToGrid_data();
    void snapToGrid();
    void removeCollinearPoints_data();
    void removeCollinearPoints();
    void collinearInSinglePrecision();
    void removeClosePoints();
};

void TestContourSimplify::simplifyContour_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<double>("tolerance");
    QTest::addColumn<Points>("expected");
    QTest::addColumn<int>("removed");

    const Points sq = square(0, 0, 1);
    QTest::newRow("no points") << Points{} << 0.5 << Points{} << 0;
    QTest::newRow("one point") << Points{{1, 1}} << 0.5 << Points{} << 1;
    QTest::newRow("two points apart") << Points{{0, 0}, {1, 0}} << 0.5 << Points{{0, 0}, {1, 0}} << 0;
    QTest::newRow("two points close") << Points{{0, 0}, {0.1f, 0}} << 0.5 << Points{} << 2;
    QTest::newRow("open square") << sq << 0.5 << sq << 0;
    QTest::newRow("closed square") << sq + Points{{0, 0}} << 0.5 << sq << 1;
    QTest::newRow("square within more than half its diagonal") << sq << 0.8 << Points{{0, 0}, {1, 1}} << 2;
    // The middle point lies exactly at the tolerance from its chord: not beyond it.
    QTest::newRow("at the tolerance")
        << Points{{0, 0}, {1, 0.5f}, {2, 0}} << 0.5 << Points{{0, 0}, {2, 0}} << 1;
    QTest::newRow("below the tolerance")
        << Points{{0, 0}, {1, 0.5f}, {2, 0}} << 0.49 << Points{{0, 0}, {1, 0.5f}, {2, 0}} << 0;
    QTest::newRow("collinear run") << Points{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {3, 3}, {0, 3}} << 0.01
                                   << Points{{0, 0}, {3, 0}, {3, 3}, {0, 3}} << 2;
    QTest::newRow("close points") << Points{{0, 0}, {1, 0}, {1, 0.001f}, {1, 1}, {0, 1}} << 0.01 << sq << 1;
    QTest::newRow("spike") << Points{{0, 0}, {1, 0}, {1, 1}, {0.5f, 1}, {0.5f, 1.005f}, {0.5f, 1}, {0, 1}}
                           << 0.01 << sq << 3;
    // Two points at the same largest distance from the first: the lower index splits.
    QTest::newRow("tie: lower index")
        << Points{{0, 0}, {2, 1}, {2, -1}} << 2.0 << Points{{0, 0}, {2, 1}} << 1;
    QTest::newRow("all within the tolerance of the first")
        << Points{{0, 0}, {0.1f, 0}, {0.1f, 0.1f}} << 0.5 << Points{} << 3;
    QTest::newRow("NaN tolerance") << sq << double(NAN) << Points{} << 4;
}

void TestContourSimplify::simplifyContour()
{
    QFETCH(Points, points);
    QFETCH(double, tolerance);
    QFETCH(Points, expected);
    QFETCH(int, removed);

    Points single = points;
    QCOMPARE(geom::simplifyContour(single, tolerance), removed);
    QCOMPARE(single, expected);

    QVector<Vector2d> twice = widened(points);
    QCOMPARE(geom::simplifyContour(twice, tolerance), removed);
    QCOMPARE(twice, widened(expected));
}

void TestContourSimplify::simplifyNoisyCircle()
{
    // A circle of radius 10 with a wobble of 0.001: simplified with 0.01 it keeps a polygon whose
    // vertices all lie near the circle and whose edges stay within the tolerance of it.
    Points circle;
    const int n = 10000;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * M_PI * i / n;
        const double r = 10.0 + 0.001 * ((i * 7919) % 13 - 6) / 6.0;
        circle.append(Vector2f(float(r * std::cos(a)), float(r * std::sin(a))));
    }
    Points simplified = circle;
    const int removed = geom::simplifyContour(simplified, 0.01);
    QCOMPARE(removed, n - simplified.size());
    QVERIFY2(simplified.size() > 20 && simplified.size() < 200,
             qPrintable(QString::number(simplified.size())));
    QCOMPARE(simplified.first(), circle.first());
    for (int i = 0; i < simplified.size(); ++i) {
        const Vector2f &a = simplified[i];
        const Vector2f &b = simplified[(i + 1) % simplified.size()];
        const Vector2f mid = (a + b) * 0.5f;
        QVERIFY(std::fabs(Vector2f(a).length() - 10.0) < 0.002);
        QVERIFY(10.0 - mid.length() < 0.0101 + 0.002);
    }
}

void TestContourSimplify::snapToGrid_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<double>("step");
    QTest::addColumn<Points>("expected");
    QTest::addColumn<bool>("changed");

    QTest::newRow("the third point snaps onto the second")
        << Points{{0.2f, 0.2f}, {0.7f, 0.3f}, {0.74f, 0.26f}} << 0.5 << Points{{0.2f, 0.2f}, {0.5f, 0.5f}}
        << true;
    QTest::newRow("halves away from zero") << Points{{0, 0}, {0.25f, -0.25f}, {-0.75f, 0.75f}} << 0.5
                                           << Points{{0, 0}, {0.5f, -0.5f}, {-1, 1}} << true;
    QTest::newRow("on the grid already")
        << Points{{0.1f, 0}, {1, 0}, {1, 2}} << 0.5 << Points{{0.1f, 0}, {1, 0}, {1, 2}} << false;
    QTest::newRow("last point equal to the first stays")
        << Points{{0, 0}, {1, 0}, {0.1f, 0.1f}} << 1.0 << Points{{0, 0}, {1, 0}, {0, 0}} << true;
    // Coordinates of about 3e9 on a grid of 0.001: ratios far beyond the range of int.
    QTest::newRow("ratio beyond 2^31") << Points{{0, 0}, {3e9f, -3e9f}, {-2.5e9f, 4e9f}} << 0.001
                                       << Points{{0, 0}, {3e9f, -3e9f}, {-2.5e9f, 4e9f}} << false;
    QTest::newRow("step below 1e-5") << Points{{0.3f, 0}, {0.7f, 0.3f}} << 9.9e-6
                                     << Points{{0.3f, 0}, {0.7f, 0.3f}} << false;
    QTest::newRow("step of single-precision 1e-5 is used")
        << Points{{0, 0}, {0.7f, 0.3f}} << double(1e-5f) << Points{{0, 0}, {0.7f, 0.3f}} << false;
    QTest::newRow("empty") << Points{} << 1.0 << Points{} << false;
}

void TestContourSimplify::snapToGrid()
{
    QFETCH(Points, points);
    QFETCH(double, step);
    QFETCH(Points, expected);
    QFETCH(bool, changed);

    bool moved = !changed;
    const Points single = geom::snapToGrid(points, step, &moved);
    QCOMPARE(moved, changed);
    QCOMPARE(single.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QVERIFY(std::fabs(single[i].x - expected[i].x) <= 1e-5f * std::max(1.0f, std::fabs(expected[i].x)));
        QVERIFY(std::fabs(single[i].y - expected[i].y) <= 1e-5f * std::max(1.0f, std::fabs(expected[i].y)));
    }
    QCOMPARE(geom::snapToGrid(points, step).size(), expected.size()); // no flag asked for

    moved = !changed;
    const QVector<Vector2d> twice = geom::snapToGrid(widened(points), step, &moved);
    QCOMPARE(twice.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QVERIFY(std::fabs(twice[i].x - expected[i].x) <=
                1e-6 * std::max(1.0, std::fabs(double(expected[i].x))));
        QVERIFY(std::fabs(twice[i].y - expected[i].y) <=
                1e-6 * std::max(1.0, std::fabs(double(expected[i].y))));
    }
}

void TestContourSimplify::removeCollinearPoints_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<Points>("expected");

    QTest::newRow("point in the middle of an edge")
        << Points{{0, 0}, {0.5f, 0}, {1, 0}, {1, 1}, {0, 1}} << Points{{0, 1}, {0, 0}, {1, 0}, {1, 1}};
    QTest::newRow("nothing to remove: rotated by one")
        << square(0, 0, 1) << Points{{0, 1}, {0, 0}, {1, 0}, {1, 1}};
    QTest::newRow("middle point of the closing edge")
        << Points{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0.5f}} << Points{{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    QTest::newRow("spike along an edge")
        << Points{{0, 0}, {2, 0}, {1, 0}, {1, 1}} << Points{{1, 1}, {0, 0}, {1, 0}};
    QTest::newRow("two points") << Points{{0, 0}, {1, 1}} << Points{{0, 0}, {1, 1}};
    QTest::newRow("all on one line") << Points{{0, 0}, {1, 1}, {2, 2}, {3, 3}} << Points{};
}

void TestContourSimplify::removeCollinearPoints()
{
    QFETCH(Points, points);
    QFETCH(Points, expected);
    QCOMPARE(geom::removeCollinearPoints(points), expected);
    QCOMPARE(geom::removeCollinearPoints(widened(points)), widened(expected));
}

void TestContourSimplify::collinearInSinglePrecision()
{
    // The middle point leaves the line by 1e-9: invisible in single precision, so it goes.
    const QVector<Vector2d> points{{0, 0}, {1, 1e-9}, {2, 0}, {2, 2}, {0, 2}};
    QCOMPARE(geom::removeCollinearPoints(points).size(), 4);
    // A point 1e-3 off the line stays.
    const QVector<Vector2d> bent{{0, 0}, {1, 1e-3}, {2, 0}, {2, 2}, {0, 2}};
    QCOMPARE(geom::removeCollinearPoints(bent).size(), 5);
}

void TestContourSimplify::removeClosePoints()
{
    const Points points{{0, 0}, {0.05f, 0}, {0.2f, 0}, {0.2f, 0.09f}, {1, 1}};
    QCOMPARE(geom::removeClosePoints(points, 0.1), (Points{{0, 0}, {0.2f, 0}, {1, 1}}));
    QCOMPARE(geom::removeClosePoints(widened(points), 0.1), widened(Points{{0, 0}, {0.2f, 0}, {1, 1}}));
    QCOMPARE(geom::removeClosePoints(Points{}, 0.1), Points{});
}

QTEST_GUILESS_MAIN(TestContourSimplify)
#include "tst_contoursimplify.moc"
