#include "geom/slicing/pointring.h"

#include "planarsupport.h"

#include <QtTest>

#include <cmath>

using geom::PointRing;
using geom::Vector2d;
using geom::Vector2f;
using planartest::square;
using planartest::widened;
using Points = QVector<Vector2f>;

namespace {

constexpr double Pi = 3.141592653589793;
const double H = std::sqrt(0.5);

bool near(const Vector2d &a, const Vector2d &b)
{
    return std::fabs(a.x - b.x) < 1e-6 && std::fabs(a.y - b.y) < 1e-6;
}

// The tables of both instantiations against the expected ones, the float tables widened.
void checkRing(const Points &points, const QVector<Vector2d> &edges, const QVector<Vector2d> &bisectors,
               const QVector<double> &angles)
{
    const PointRing<Vector2f> single(points);
    const PointRing<Vector2d> twice(widened(points));
    QCOMPARE(single.edges().size(), points.size());
    QCOMPARE(single.bisectors().size(), points.size());
    QCOMPARE(single.angles().size(), points.size());
    for (int k = 0; k < points.size(); ++k) {
        const QByteArray at = "vertex " + QByteArray::number(k);
        QVERIFY2(near(Vector2d(single.edges()[k]), edges[k]), at);
        QVERIFY2(near(twice.edges()[k], edges[k]), at);
        QVERIFY2(near(Vector2d(single.bisectors()[k]), bisectors[k]), at);
        QVERIFY2(near(twice.bisectors()[k], bisectors[k]), at);
        QVERIFY2(std::fabs(single.angles()[k] - angles[k]) < 1e-6, at);
        QVERIFY2(std::fabs(twice.angles()[k] - angles[k]) < 1e-12, at);
    }
}

} // namespace

class TestPointRing : public QObject
{
    Q_OBJECT

private slots:
    void square();
    void straightVertex();
    void reflexCorner();
    void degenerate();
    void rebuild();
};

void TestPointRing::square()
{
    checkRing(planartest::square(0, 0, 1), {{1, 0}, {0, 1}, {-1, 0}, {0, -1}},
              {{H, H}, {-H, H}, {-H, -H}, {H, -H}}, {Pi / 2, Pi / 2, Pi / 2, Pi / 2});
    // Clockwise: the turns go the other way; the bisectors still halve the corners.
    checkRing(planartest::square(0, 0, 1, true), {{0, 1}, {1, 0}, {0, -1}, {-1, 0}},
              {{H, H}, {H, -H}, {-H, -H}, {-H, H}}, {-Pi / 2, -Pi / 2, -Pi / 2, -Pi / 2});
}

void TestPointRing::straightVertex()
{
    // Vertex 1 lies in the middle of the bottom edge: no bisector, the angle -pi.
    const PointRing<Vector2f> ring(Points{{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}});
    QCOMPARE(ring.bisectors()[1], Vector2f(0, 0));
    QCOMPARE(ring.angles()[1], -Pi);
    QCOMPARE(ring.edges()[1], Vector2f(1, 0));
    QCOMPARE(ring.angles()[2], Pi / 2);
}

void TestPointRing::reflexCorner()
{
    // An L shape, counter-clockwise; vertex 3 is the reflex corner, its bisector points out of the
    // ring.
    const Points l{{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}};
    const PointRing<Vector2d> ring(widened(l));
    QCOMPARE(ring.angles()[3], -Pi / 2);
    QVERIFY(near(ring.bisectors()[3], Vector2d(H, H)));
    QCOMPARE(ring.angles()[0], Pi / 2);
}

void TestPointRing::degenerate()
{
    const PointRing<Vector2f> one(Points{{3, 4}});
    QCOMPARE(one.edges(), Points(1, Vector2f()));
    QCOMPARE(one.bisectors(), Points(1, Vector2f()));
    QCOMPARE(one.angles(), QVector<double>{-Pi});

    // Two equal points: the edge between them has no direction, wherever it lies in the ring.
    for (int at = 0; at < 4; ++at) {
        Points points = planartest::square(0, 0, 1);
        points.insert(at + 1, points[at]);
        const PointRing<Vector2f> ring(points);
        QCOMPARE(ring.edges()[at], Vector2f(0, 0));
    }

    const PointRing<Vector2d> empty;
    QVERIFY(empty.angles().isEmpty() && empty.edges().isEmpty() && empty.bisectors().isEmpty());
}

void TestPointRing::rebuild()
{
    const Points first = planartest::square(0, 0, 1);
    const Points second{{0, 0}, {3, 0}, {3, 1}, {1, 2}};
    PointRing<Vector2f> ring(first);
    ring.setPoints(second);
    const PointRing<Vector2f> fresh(second);
    QCOMPARE(ring.edges(), fresh.edges());
    QCOMPARE(ring.bisectors(), fresh.bisectors());
    QCOMPARE(ring.angles(), fresh.angles());
    ring.setPoints(second.constData(), 0);
    QVERIFY(ring.angles().isEmpty());
}

QTEST_GUILESS_MAIN(TestPointRing)
#include "tst_pointring.moc"
