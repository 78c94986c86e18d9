#include "geom/core/util2d.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>

using geom::Rectangle;
using geom::Vector2d;
using geom::Vector2f;
using util2D::Intersection2d;
using util2D::Intersection2f;

namespace {

const double kPi = 3.141592653589793;
const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

bool near(const Vector2d &a, const Vector2d &b, double tolerance)
{
    return std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance;
}

QByteArray text(const Vector2d &p)
{
    return "(" + QByteArray::number(p.x, 'g', 12) + ", " + QByteArray::number(p.y, 'g', 12) + ")";
}

QByteArray text(const Intersection2d &r)
{
    return QByteArray::number(r.count) + " " + text(r.first) + " " + text(r.second);
}

// Plain double-precision references, written independently of the code under test.

// The crossing of two segments by solving a + t u = c + s v; count 0 for parallel ones.
Intersection2d referenceSegments(const Vector2d &a, const Vector2d &b, const Vector2d &c, const Vector2d &d)
{
    const double ux = b.x - a.x, uy = b.y - a.y, vx = d.x - c.x, vy = d.y - c.y;
    const double den = ux * vy - uy * vx;
    if (den == 0.0)
        return {};
    const double t = ((c.x - a.x) * vy - (c.y - a.y) * vx) / den;
    const double s = ((c.x - a.x) * uy - (c.y - a.y) * ux) / den;
    if (t < 0 || t > 1 || s < 0 || s > 1)
        return {};
    const Vector2d p(a.x + t * ux, a.y + t * uy);
    return Intersection2d(p, p, 1);
}

double referencePointSegment(const Vector2d &p, const Vector2d &a, const Vector2d &b)
{
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double l = dx * dx + dy * dy;
    const double t = l == 0 ? 0 : std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / l, 0.0, 1.0);
    const double ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
    return ex * ex + ey * ey;
}

// The squared distance of two segments: zero when they cross, else the least end-to-segment one.
double referenceSegmentDistance(const Vector2d &p0, const Vector2d &p1, const Vector2d &q0,
                                const Vector2d &q1)
{
    if (referenceSegments(p0, p1, q0, q1).count > 0)
        return 0.0;
    return std::min({referencePointSegment(p0, q0, q1), referencePointSegment(p1, q0, q1),
                     referencePointSegment(q0, p0, p1), referencePointSegment(q1, p0, p1)});
}

// The points of the line a + t (b - a) on the circle, by the quadratic in t, ordered by t.
QVector<std::pair<double, Vector2d>> referenceLineCircle(const Vector2d &a, const Vector2d &b, double r,
                                                         const Vector2d &c)
{
    const double dx = b.x - a.x, dy = b.y - a.y, fx = a.x - c.x, fy = a.y - c.y;
    const double qa = dx * dx + dy * dy, qb = 2 * (fx * dx + fy * dy), qc = fx * fx + fy * fy - r * r;
    const double disc = qb * qb - 4 * qa * qc;
    QVector<std::pair<double, Vector2d>> points;
    if (disc < 0)
        return points;
    for (double sign : {-1.0, 1.0}) {
        const double t = (-qb + sign * std::sqrt(disc)) / (2 * qa);
        points.append({t, Vector2d(a.x + t * dx, a.y + t * dy)});
    }
    return points;
}

} // namespace

class TestUtil2D : public QObject
{
    Q_OBJECT

private slots:
    void fuzzyEqual_data();
    void fuzzyEqual();
    void distanceToSegment_data();
    void distanceToSegment();
    void distanceToLine();
    void segmentDistance_data();
    void segmentDistance();
    void isOnLine_data();
    void isOnLine();
    void rayTests_data();
    void rayTests();
    void onSegment_data();
    void onSegment();
    void projections_data();
    void projections();

    void intersectSegments_data();
    void intersectSegments();
    void intersectLines_data();
    void intersectLines();
    void intersectSegmentRectangle_data();
    void intersectSegmentRectangle();

    void arcParameter_data();
    void arcParameter();
    void circles();
    void circleIntersectCircle_data();
    void circleIntersectCircle();
    void intersectArcs();
    void lineCircle_data();
    void lineCircle();
};

void TestUtil2D::fuzzyEqual_data()
{
    QTest::addColumn<float>("x");
    QTest::addColumn<float>("y");
    QTest::addColumn<bool>("expected");
    QTest::newRow("within 1e-5 of one") << 1.0f << 1.000009f << true;
    QTest::newRow("beyond 1e-5 of one") << 1.0f << 1.00002f << false;
    QTest::newRow("relative to the smaller") << -1000.0f << -1000.009f << true;
    QTest::newRow("zero against zero") << 0.0f << -0.0f << true;
    QTest::newRow("zero against tiny") << 0.0f << 1e-30f << false;
    QTest::newRow("infinities") << kInf << kInf << false;
    QTest::newRow("NaN") << kNaN << kNaN << false;
}

void TestUtil2D::fuzzyEqual()
{
    QFETCH(float, x);
    QFETCH(float, y);
    QFETCH(bool, expected);
    QCOMPARE(util2D::fuzzyEqual(x, y), expected);
    QCOMPARE(util2D::fuzzyEqual(y, x), expected);
}

void TestUtil2D::distanceToSegment_data()
{
    QTest::addColumn<Vector2d>("p");
    QTest::addColumn<Vector2d>("a");
    QTest::addColumn<Vector2d>("b");
    QTest::addColumn<double>("floatSquared");
    QTest::addColumn<double>("doubleSquared");
    QTest::newRow("foot inside") << Vector2d(1, 2) << Vector2d(0, 0) << Vector2d(4, 0) << 4.0 << 4.0;
    QTest::newRow("before a") << Vector2d(-3, 4) << Vector2d(0, 0) << Vector2d(4, 0) << 25.0 << 25.0;
    QTest::newRow("beyond b") << Vector2d(7, -4) << Vector2d(0, 0) << Vector2d(4, 0) << 25.0 << 25.0;
    QTest::newRow("base point moved")
        << Vector2d(11, 12) << Vector2d(10, 10) << Vector2d(14, 10) << 4.0 << 4.0;
    QTest::newRow("on the segment") << Vector2d(2, 0) << Vector2d(0, 0) << Vector2d(4, 0) << 0.0 << 0.0;
    // A segment of length 0.003 is a point for float (squared length under 1e-5), not for double.
    QTest::newRow("short segment") << Vector2d(0.003, 1) << Vector2d(0, 0) << Vector2d(0.003, 0)
                                   << double(0.003f) * double(0.003f) + 1.0 << 1.0;
}

void TestUtil2D::distanceToSegment()
{
    QFETCH(Vector2d, p);
    QFETCH(Vector2d, a);
    QFETCH(Vector2d, b);
    QFETCH(double, floatSquared);
    QFETCH(double, doubleSquared);
    QCOMPARE(util2D::distanceToSegmentSquared(Vector2f(p), Vector2f(b), Vector2f(a)), floatSquared);
    QCOMPARE(util2D::distanceToSegmentSquared(p, b, a), doubleSquared);
    QCOMPARE(util2D::distanceToSegment(p, b, a), std::sqrt(doubleSquared));
    QCOMPARE(util2D::distanceToSegment(Vector2f(p), Vector2f(b), Vector2f(a)), std::sqrt(floatSquared));
}

void TestUtil2D::distanceToLine()
{
    QCOMPARE(util2D::distanceToLineSquared(Vector2f(7, -4), Vector2f(0, 0), Vector2f(4, 0)), 16.0);
    QCOMPARE(util2D::distanceToLine(Vector2f(3, 3), Vector2f(0, 0), Vector2f(1, 1)), 0.0);
    // Ends within 1e-5 on both axes: the distance to a.
    QCOMPARE(util2D::distanceToLineSquared(Vector2f(3, 4), Vector2f(0, 0), Vector2f(1e-6f, 0)), 25.0);
    // Near 1e-12 the reported distance is 0.
    QCOMPARE(util2D::distanceToSegment(Vector2f(1, 1e-7f), Vector2f(2, 0)), 0.0);
}

void TestUtil2D::segmentDistance_data()
{
    QTest::addColumn<Vector2d>("p0");
    QTest::addColumn<Vector2d>("p1");
    QTest::addColumn<Vector2d>("q0");
    QTest::addColumn<Vector2d>("q1");
    QTest::newRow("crossing") << Vector2d(-1, 0) << Vector2d(1, 0) << Vector2d(0, -1) << Vector2d(0, 1);
    QTest::newRow("parallel apart") << Vector2d(0, 0) << Vector2d(4, 0) << Vector2d(1, 3) << Vector2d(5, 3);
    QTest::newRow("parallel shifted") << Vector2d(0, 0) << Vector2d(1, 0) << Vector2d(3, 1) << Vector2d(5, 1);
    QTest::newRow("collinear overlapping")
        << Vector2d(0, 0) << Vector2d(2, 0) << Vector2d(1, 0) << Vector2d(3, 0);
    QTest::newRow("skew apart") << Vector2d(0, 0) << Vector2d(1, 1) << Vector2d(3, 0) << Vector2d(5, -2);
    QTest::newRow("end near middle") << Vector2d(0, 0) << Vector2d(4, 0) << Vector2d(2, 1) << Vector2d(2, 3);
    QTest::newRow("first is a point") << Vector2d(2, 2) << Vector2d(2, 2) << Vector2d(0, 0) << Vector2d(4, 0);
    QTest::newRow("second is a point")
        << Vector2d(0, 0) << Vector2d(4, 0) << Vector2d(5, 3) << Vector2d(5, 3);
    QTest::newRow("both points") << Vector2d(1, 1) << Vector2d(1, 1) << Vector2d(4, 5) << Vector2d(4, 5);
    // Millimetre-sized features must not be taken for parallel segments because they are small.
    QTest::newRow("small crossing") << Vector2d(-5e-4, 0) << Vector2d(5e-4, 0) << Vector2d(0, -5e-4)
                                    << Vector2d(0, 5e-4);
    QTest::newRow("small apart") << Vector2d(0, 0) << Vector2d(1e-3, 1e-3) << Vector2d(3e-3, 0)
                                 << Vector2d(5e-3, -2e-3);
}

void TestUtil2D::segmentDistance()
{
    QFETCH(Vector2d, p0);
    QFETCH(Vector2d, p1);
    QFETCH(Vector2d, q0);
    QFETCH(Vector2d, q1);
    const double expected = referenceSegmentDistance(p0, p1, q0, q1);
    const double got = util2D::segmentDistanceSquared(p0, p1, q0, q1);
    QVERIFY2(std::fabs(got - expected) <= 1e-12 * std::max(1.0, expected),
             QByteArray::number(got, 'g', 17) + " vs " + QByteArray::number(expected, 'g', 17));
    const double swapped = util2D::segmentDistanceSquared(q1, q0, p1, p0);
    QVERIFY(std::fabs(swapped - got) <= 1e-12 * std::max(1.0, got));
    const double distance = util2D::segmentDistance(p0, p1, q0, q1);
    QCOMPARE(distance, got <= 1e-5 ? 0.0 : std::sqrt(got));
}

void TestUtil2D::isOnLine_data()
{
    QTest::addColumn<Vector2f>("p");
    QTest::addColumn<Vector2f>("b");
    QTest::addColumn<Vector2f>("a");
    QTest::addColumn<bool>("expected");
    QTest::newRow("on the line") << Vector2f(5, 5) << Vector2f(1, 1) << Vector2f(0, 0) << true;
    QTest::newRow("beyond the ends") << Vector2f(-7, -7) << Vector2f(2, 2) << Vector2f(1, 1) << true;
    QTest::newRow("1e-5 off") << Vector2f(0.5f, 1e-5f) << Vector2f(1, 0) << Vector2f(0, 0) << true;
    QTest::newRow("1.1e-5 off") << Vector2f(0.5f, 1.1e-5f) << Vector2f(1, 0) << Vector2f(0, 0) << false;
    QTest::newRow("moved base") << Vector2f(10.5f, 20.00001f) << Vector2f(11, 20) << Vector2f(10, 20) << true;
    // The offsets from the base point are float differences: 1.1e-5 - 1e-6 rounds to within 1e-5
    // of the line, where the exact difference lies beyond.
    QTest::newRow("offsets in float")
        << Vector2f(0.5f, 1.1e-5f) << Vector2f(1, 1e-6f) << Vector2f(0, 1e-6f) << true;
    QTest::newRow("degenerate, near a") << Vector2f(3, 3.000005f) << Vector2f(3, 3) << Vector2f(3, 3) << true;
    QTest::newRow("degenerate, away") << Vector2f(3, 3.1f) << Vector2f(3, 3) << Vector2f(3, 3) << false;
}

void TestUtil2D::isOnLine()
{
    QFETCH(Vector2f, p);
    QFETCH(Vector2f, b);
    QFETCH(Vector2f, a);
    QFETCH(bool, expected);
    QCOMPARE(util2D::isOnLine(p, b, a), expected);
}

void TestUtil2D::rayTests_data()
{
    QTest::addColumn<Vector2f>("p");
    QTest::addColumn<Vector2f>("q");
    QTest::addColumn<Vector2f>("a");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("sameDirection");
    QTest::addColumn<bool>("farther");
    QTest::newRow("q beyond p") << Vector2f(1, 1) << Vector2f(3, 3) << Vector2f(0, 0) << 0 << true << true;
    QTest::newRow("q nearer than p") << Vector2f(3, 3) << Vector2f(1, 1) << Vector2f(0, 0) << 0 << true
                                     << false;
    QTest::newRow("q behind a") << Vector2f(1, 1) << Vector2f(-3, -3) << Vector2f(0, 0) << 0 << false
                                << false;
    QTest::newRow("q behind a, distances only")
        << Vector2f(1, 1) << Vector2f(-3, -3) << Vector2f(0, 0) << 2 << false << true;
    QTest::newRow("off the line") << Vector2f(1, 2) << Vector2f(3, 3) << Vector2f(0, 0) << 0 << false
                                  << false;
    QTest::newRow("off the line, signs only")
        << Vector2f(1, 2) << Vector2f(3, 3) << Vector2f(0, 0) << 1 << true << true;
    QTest::newRow("moved base") << Vector2f(11, 9) << Vector2f(13, 7) << Vector2f(10, 10) << 0 << true
                                << true;
    QTest::newRow("zero counts as either sign")
        << Vector2f(0, 1) << Vector2f(0, 4) << Vector2f(0, 0) << 0 << true << true;
}

void TestUtil2D::rayTests()
{
    QFETCH(Vector2f, p);
    QFETCH(Vector2f, q);
    QFETCH(Vector2f, a);
    QFETCH(int, flags);
    QFETCH(bool, sameDirection);
    QFETCH(bool, farther);
    QCOMPARE(util2D::isSameDirection(p, q, a, flags), sameDirection);
    QCOMPARE(util2D::isSameDirection(Vector2d(p), Vector2d(q), Vector2d(a), flags), sameDirection);
    QCOMPARE(util2D::isFartherOnRay(p, q, a, flags), farther);
}

void TestUtil2D::onSegment_data()
{
    QTest::addColumn<Vector2d>("p");
    QTest::addColumn<Vector2d>("a");
    QTest::addColumn<Vector2d>("b");
    QTest::addColumn<double>("parameter");
    QTest::addColumn<bool>("onSegment");
    QTest::addColumn<Vector2d>("closest");
    QTest::newRow("middle") << Vector2d(2, 1) << Vector2d(0, 0) << Vector2d(4, 2) << 0.5 << true
                            << Vector2d(2, 1);
    QTest::newRow("at a") << Vector2d(0, 0) << Vector2d(0, 0) << Vector2d(4, 2) << 0.0 << true
                          << Vector2d(0, 0);
    QTest::newRow("at b") << Vector2d(4, 2) << Vector2d(0, 0) << Vector2d(4, 2) << 1.0 << true
                          << Vector2d(4, 2);
    QTest::newRow("beyond b") << Vector2d(6, 3) << Vector2d(0, 0) << Vector2d(4, 2) << 1.5 << false
                              << Vector2d(4, 2);
    QTest::newRow("before a, steep") << Vector2d(0, -1) << Vector2d(0, 0) << Vector2d(1, 4) << -0.25 << false
                                     << Vector2d(0, 0);
    QTest::newRow("off the line") << Vector2d(2, 3) << Vector2d(0, 0) << Vector2d(4, 2) << 0.5 << false
                                  << Vector2d(2.8, 1.4);
}

void TestUtil2D::onSegment()
{
    QFETCH(Vector2d, p);
    QFETCH(Vector2d, a);
    QFETCH(Vector2d, b);
    QFETCH(double, parameter);
    QFETCH(bool, onSegment);
    QFETCH(Vector2d, closest);
    QCOMPARE(util2D::segmentParameter(p, a, b), parameter);
    QCOMPARE(util2D::isOnSegment(p, b, a), onSegment);
    QVERIFY(near(util2D::closestPointOnSegment(p, a, b), closest, 1e-12));
}

void TestUtil2D::projections_data()
{
    QTest::addColumn<Vector2d>("p");
    QTest::addColumn<Vector2d>("b");
    QTest::addColumn<Vector2d>("a");
    QTest::addColumn<Vector2d>("foot");
    QTest::addColumn<int>("segmentCount");
    QTest::addColumn<int>("rayCount");
    QTest::newRow("inside") << Vector2d(2, 5) << Vector2d(4, 0) << Vector2d(0, 0) << Vector2d(2, 0) << 1 << 1;
    QTest::newRow("foot at a") << Vector2d(0, 5) << Vector2d(4, 0) << Vector2d(0, 0) << Vector2d(0, 0) << 1
                               << 1;
    QTest::newRow("foot at b") << Vector2d(4, -5) << Vector2d(4, 0) << Vector2d(0, 0) << Vector2d(4, 0) << 1
                               << 1;
    QTest::newRow("beyond b") << Vector2d(9, 1) << Vector2d(4, 0) << Vector2d(0, 0) << Vector2d(9, 0) << 0
                              << 1;
    QTest::newRow("behind a") << Vector2d(-1, 1) << Vector2d(4, 0) << Vector2d(0, 0) << Vector2d(-1, 0) << 0
                              << 0;
    QTest::newRow("moved base") << Vector2d(12, 15) << Vector2d(14, 10) << Vector2d(10, 10)
                                << Vector2d(12, 10) << 1 << 1;
    QTest::newRow("degenerate") << Vector2d(3, 4) << Vector2d(1, 1) << Vector2d(1, 1) << Vector2d(3, 4) << 0
                                << 0;
}

void TestUtil2D::projections()
{
    QFETCH(Vector2d, p);
    QFETCH(Vector2d, b);
    QFETCH(Vector2d, a);
    QFETCH(Vector2d, foot);
    QFETCH(int, segmentCount);
    QFETCH(int, rayCount);
    const Intersection2d s = util2D::projectOnSegment(p, b, a);
    QCOMPARE(s.count, segmentCount);
    QCOMPARE(s.first, foot);
    QCOMPARE(s.second, foot);
    const Intersection2d r = util2D::projectOnRay(p, b, a);
    QCOMPARE(r.count, rayCount);
    QCOMPARE(r.first, foot);
    QCOMPARE(util2D::projectOnLine(p, b, a), foot);
}

void TestUtil2D::intersectSegments_data()
{
    QTest::addColumn<Vector2d>("a");
    QTest::addColumn<Vector2d>("b");
    QTest::addColumn<Vector2d>("c");
    QTest::addColumn<Vector2d>("d");
    QTest::addColumn<bool>("hit");
    QTest::addColumn<bool>("floatHit");
    QTest::newRow("crossing") << Vector2d(0, 0) << Vector2d(4, 4) << Vector2d(0, 4) << Vector2d(4, 0) << true
                              << true;
    QTest::newRow("crossing, odd values") << Vector2d(0.1, -3.7) << Vector2d(7.3, 2.9) << Vector2d(-1.3, 5.5)
                                          << Vector2d(6.6, -4.1) << true << true;
    QTest::newRow("reversed ends") << Vector2d(4, 4) << Vector2d(0, 0) << Vector2d(4, 0) << Vector2d(0, 4)
                                   << true << true;
    QTest::newRow("vertical") << Vector2d(2, -1) << Vector2d(2, 5) << Vector2d(0, 1) << Vector2d(5, 1) << true
                              << true;
    QTest::newRow("touching at an end")
        << Vector2d(0, 0) << Vector2d(2, 2) << Vector2d(2, 2) << Vector2d(4, 0) << true << true;
    QTest::newRow("end on the other")
        << Vector2d(0, 0) << Vector2d(4, 0) << Vector2d(2, 0) << Vector2d(2, 3) << true << true;
    QTest::newRow("would cross beyond b")
        << Vector2d(0, 0) << Vector2d(1, 1) << Vector2d(0, 4) << Vector2d(4, 0) << false << false;
    QTest::newRow("disjoint ranges") << Vector2d(0, 0) << Vector2d(1, 1) << Vector2d(5, 0) << Vector2d(6, 1)
                                     << false << false;
    QTest::newRow("parallel") << Vector2d(0, 0) << Vector2d(4, 0) << Vector2d(0, 1e-3) << Vector2d(4, 1e-3)
                              << false << false;
    QTest::newRow("collinear overlapping")
        << Vector2d(0, 0) << Vector2d(4, 0) << Vector2d(2, 0) << Vector2d(6, 0) << false << false;
    // The angle has a sine of 3e-6: parallel for float, not for double.
    QTest::newRow("nearly parallel") << Vector2d(0, 0) << Vector2d(1000, 0) << Vector2d(0, -1e-3)
                                     << Vector2d(1000, 2e-3) << true << false;
    // Short segments crossing at a right angle are not parallel, however short they are.
    QTest::newRow("small crossing") << Vector2d(-5e-4, 0) << Vector2d(5e-4, 0) << Vector2d(0, -5e-4)
                                    << Vector2d(0, 5e-4) << true << true;
    QTest::newRow("tiny crossing") << Vector2d(0.5, 0.25) << Vector2d(0.500001, 0.250001)
                                   << Vector2d(0.500001, 0.25) << Vector2d(0.5, 0.250001) << true << true;
}

// The float and double crossings against the double reference.
void TestUtil2D::intersectSegments()
{
    QFETCH(Vector2d, a);
    QFETCH(Vector2d, b);
    QFETCH(Vector2d, c);
    QFETCH(Vector2d, d);
    QFETCH(bool, hit);
    QFETCH(bool, floatHit);
    const Intersection2d expected = referenceSegments(a, b, c, d);
    QCOMPARE(expected.count, hit ? 1 : 0);

    const Intersection2d r = util2D::intersectSegments(a, b, c, d);
    QVERIFY2(r.count == expected.count, text(r));
    QVERIFY2(!hit || near(r.first, expected.first, 1e-12 * (1 + std::fabs(a.x) + std::fabs(b.x))), text(r));

    const Intersection2f f = util2D::intersectSegments(Vector2f(a), Vector2f(b), Vector2f(c), Vector2f(d));
    QCOMPARE(f.count, floatHit ? 1 : 0);
    if (floatHit) {
        QVERIFY2(near(Vector2d(f.first), expected.first, 1e-5 * (1 + std::fabs(a.x) + std::fabs(b.x))),
                 text(Vector2d(f.first)));
        QVERIFY(f.first == f.second);
    }
}

void TestUtil2D::intersectLines_data()
{
    QTest::addColumn<Vector2d>("a");
    QTest::addColumn<Vector2d>("b");
    QTest::addColumn<Vector2d>("c");
    QTest::addColumn<Vector2d>("d");
    QTest::addColumn<bool>("linesMeet");
    QTest::addColumn<bool>("rayHitsSegment");
    QTest::addColumn<bool>("segmentHitsLine");
    QTest::newRow("crossing inside") << Vector2d(0, 0) << Vector2d(4, 4) << Vector2d(0, 4) << Vector2d(4, 0)
                                     << true << true << true;
    QTest::newRow("beyond b") << Vector2d(0, 0) << Vector2d(1, 1) << Vector2d(0, 4) << Vector2d(4, 0) << true
                              << true << false;
    QTest::newRow("behind a") << Vector2d(3, 3) << Vector2d(4, 4) << Vector2d(0, 4) << Vector2d(4, 0) << true
                              << false << false;
    QTest::newRow("beyond the segment c-d")
        << Vector2d(0, 0) << Vector2d(4, 4) << Vector2d(0, 4) << Vector2d(1, 3) << true << false << true;
    QTest::newRow("odd values") << Vector2d(-2.3, 0.7) << Vector2d(5.9, 3.1) << Vector2d(1.7, -4.4)
                                << Vector2d(2.9, 8.6) << true << true << true;
    QTest::newRow("parallel") << Vector2d(0, 0) << Vector2d(4, 0) << Vector2d(0, 1) << Vector2d(4, 1) << false
                              << false << false;
}

void TestUtil2D::intersectLines()
{
    QFETCH(Vector2d, a);
    QFETCH(Vector2d, b);
    QFETCH(Vector2d, c);
    QFETCH(Vector2d, d);
    QFETCH(bool, linesMeet);
    QFETCH(bool, rayHitsSegment);
    QFETCH(bool, segmentHitsLine);

    // Reference: the crossing of the infinite lines, solved in double.
    const double ux = b.x - a.x, uy = b.y - a.y, vx = d.x - c.x, vy = d.y - c.y;
    const double t = ((c.x - a.x) * vy - (c.y - a.y) * vx) / (ux * vy - uy * vx);
    const Vector2d expected(a.x + t * ux, a.y + t * uy);

    const Intersection2d lines = util2D::intersectLines(a, b, c, d);
    const Intersection2f linesF = util2D::intersectLines(Vector2f(a), Vector2f(b), Vector2f(c), Vector2f(d));
    QCOMPARE(lines.count, linesMeet ? 1 : 0);
    QCOMPARE(linesF.count, lines.count);
    if (linesMeet) {
        QVERIFY2(near(lines.first, expected, 1e-12), text(lines));
        QVERIFY2(near(Vector2d(linesF.first), expected, 1e-5), text(Vector2d(linesF.first)));
    }

    const Intersection2f ray =
        util2D::intersectRaySegment(Vector2f(a), Vector2f(b), Vector2f(c), Vector2f(d));
    QCOMPARE(ray.count, rayHitsSegment ? 1 : 0);
    if (rayHitsSegment)
        QVERIFY(near(Vector2d(ray.first), expected, 1e-5));

    const Intersection2d segment = util2D::intersectSegmentLine(a, b, c, d);
    const Intersection2f segmentF =
        util2D::intersectSegmentLine(Vector2f(a), Vector2f(b), Vector2f(c), Vector2f(d));
    QCOMPARE(segment.count, segmentHitsLine ? 1 : 0);
    QCOMPARE(segmentF.count, segment.count);
    if (segmentHitsLine)
        QVERIFY(near(segment.first, expected, 1e-12));
}

void TestUtil2D::intersectSegmentRectangle_data()
{
    QTest::addColumn<Vector2f>("a");
    QTest::addColumn<Vector2f>("b");
    QTest::addColumn<int>("count");
    QTest::addColumn<Vector2f>("point");
    QTest::newRow("up through bottom and top") << Vector2f(5, -5) << Vector2f(5, 15) << 1 << Vector2f(5, 0);
    QTest::newRow("down through top and bottom") << Vector2f(5, 15) << Vector2f(5, -5) << 1 << Vector2f(5, 0);
    QTest::newRow("out through the right") << Vector2f(5, 5) << Vector2f(15, 7) << 1 << Vector2f(10, 6);
    QTest::newRow("in through the left") << Vector2f(-10, 2) << Vector2f(5, 8) << 1 << Vector2f(0, 6);
    QTest::newRow("inside") << Vector2f(2, 2) << Vector2f(8, 8) << 0 << Vector2f();
    QTest::newRow("outside") << Vector2f(-5, -5) << Vector2f(-1, 20) << 0 << Vector2f();
}

void TestUtil2D::intersectSegmentRectangle()
{
    QFETCH(Vector2f, a);
    QFETCH(Vector2f, b);
    QFETCH(int, count);
    QFETCH(Vector2f, point);
    const Intersection2f r =
        util2D::intersectSegmentRectangle(a, b, Rectangle(Vector2f(0, 0), Vector2f(10, 10)));
    QCOMPARE(r.count, count);
    QVERIFY2(near(Vector2d(r.first), Vector2d(point), 1e-5), text(Vector2d(r.first)));
}

void TestUtil2D::arcParameter_data()
{
    QTest::addColumn<double>("angle");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("sweep");
    QTest::addColumn<double>("expected");
    QTest::addColumn<bool>("onArc");
    QTest::newRow("start") << 0.3 << 0.3 << 1.0 << 0.0 << true;
    QTest::newRow("end") << 1.3 << 0.3 << 1.0 << 1.0 << true;
    QTest::newRow("middle") << 0.8 << 0.3 << 1.0 << 0.5 << true;
    QTest::newRow("negative sweep") << -kPi / 4 << 0.0 << -kPi / 2 << 0.5 << true;
    QTest::newRow("across pi") << kPi << 3 * kPi / 4 << kPi / 2 << 0.5 << true;
    QTest::newRow("across pi, backwards") << kPi << -3 * kPi / 4 << -kPi / 2 << 0.5 << true;
    QTest::newRow("beyond the end") << 2.0 << 0.5 << 1.0 << 1.5 << false;
    QTest::newRow("start two turns out") << 0.5 << 0.5 + 4 * kPi << 1.0 << 0.0 << true;
}

void TestUtil2D::arcParameter()
{
    QFETCH(double, angle);
    QFETCH(double, start);
    QFETCH(double, sweep);
    QFETCH(double, expected);
    QFETCH(bool, onArc);
    const Vector2d centre(3, -2);
    const double radius = 2.5;
    const Vector2d p(centre.x + radius * std::cos(angle), centre.y + radius * std::sin(angle));
    const double t = util2D::arcParameter(p, centre, start, sweep);
    QVERIFY2(std::fabs(t - expected) <= 1e-6, QByteArray::number(t, 'g', 12));
    QCOMPARE(util2D::isOnArc(p, start, sweep, radius, centre, 4), onArc);
}

void TestUtil2D::circles()
{
    const Vector2d centre(1, 2);
    QVERIFY(util2D::isOnCircle(Vector2d(4, 6), 5, centre));
    QVERIFY(!util2D::isOnCircle(Vector2d(4, 6.001), 5, centre));
    QVERIFY(!util2D::isOnArc(Vector2d(4, 6.001), 0, kPi, 5, centre));
    QVERIFY(util2D::isOnArc(Vector2d(4, 6), 0, kPi, 5, centre));
    QVERIFY(!util2D::isOnArc(Vector2d(4, -2), 0, kPi, 5, centre));
    QVERIFY(near(util2D::closestPointOnCircle(Vector2d(7, 10), 2.5, centre), Vector2d(2.5, 4), 1e-12));
    QCOMPARE(util2D::closestPointOnCircle(centre, 2.5, centre), centre);
    // A line whose ends coincide is its start point, not the circle's centre twice.
    const Intersection2d point = util2D::intersectLineCircle(Vector2d(4, 6), Vector2d(4, 6), 5, centre);
    QCOMPARE(point.count, 1);
    QCOMPARE(point.first, Vector2d(4, 6));
    QCOMPARE(util2D::intersectLineCircle(Vector2d(2, 2), Vector2d(2, 2), 5, centre).count, 0);
}

void TestUtil2D::circleIntersectCircle_data()
{
    QTest::addColumn<double>("r1");
    QTest::addColumn<Vector2d>("c1");
    QTest::addColumn<double>("r2");
    QTest::addColumn<Vector2d>("c2");
    QTest::addColumn<int>("count");
    QTest::newRow("touching outside") << 1.0 << Vector2d(0, 0) << 1.0 << Vector2d(2, 0) << 1;
    QTest::newRow("two points") << 1.0 << Vector2d(0, 0) << 1.0 << Vector2d(1, 0) << 2;
    QTest::newRow("two points, moved") << 3.0 << Vector2d(10, -4) << 2.0 << Vector2d(12.5, -2.5) << 2;
    QTest::newRow("apart") << 1.0 << Vector2d(0, 0) << 1.0 << Vector2d(3, 0) << 0;
    QTest::newRow("nested") << 3.0 << Vector2d(0, 0) << 1.0 << Vector2d(0.5, 0) << 0;
    QTest::newRow("same circle") << 2.0 << Vector2d(1, 1) << 2.0 << Vector2d(1, 1) << 0;
}

// Every point lies on both circles (double reference), and two points are the mirror images of
// each other across the line of centres.
void TestUtil2D::circleIntersectCircle()
{
    QFETCH(double, r1);
    QFETCH(Vector2d, c1);
    QFETCH(double, r2);
    QFETCH(Vector2d, c2);
    QFETCH(int, count);
    const Intersection2d r = util2D::circleIntersectCircle(r1, c1, r2, c2);
    QCOMPARE(r.count, count);
    if (count == 0) {
        QCOMPARE(r.first, c2);
        QCOMPARE(r.second, c2);
        return;
    }
    for (const Vector2d &p : {r.first, r.second}) {
        QVERIFY2(std::fabs(std::hypot(p.x - c1.x, p.y - c1.y) - r1) <= 1e-12, text(p));
        QVERIFY2(std::fabs(std::hypot(p.x - c2.x, p.y - c2.y) - r2) <= 1e-12, text(p));
    }
    if (count == 2) {
        // The chord's midpoint lies on the line of centres.
        const Vector2d m((r.first.x + r.second.x) / 2, (r.first.y + r.second.y) / 2);
        QVERIFY(std::fabs((m.x - c2.x) * (c1.y - c2.y) - (m.y - c2.y) * (c1.x - c2.x)) <= 1e-12);
        QVERIFY(!near(r.first, r.second, 1e-6));
    }
}

void TestUtil2D::intersectArcs()
{
    // Unit circles at (0, 0) and (1, 0) meet at (0.5, +-0.866).
    const Intersection2d both =
        util2D::intersectArcs(0, kPi, 1, Vector2d(0, 0), 0, 2 * kPi - 0.1, 1, Vector2d(1, 0));
    QCOMPARE(both.count, 1);
    QVERIFY(near(both.first, Vector2d(0.5, std::sqrt(0.75)), 1e-12));
    const Intersection2d none =
        util2D::intersectArcs(-kPi / 2, -kPi / 4, 1, Vector2d(0, 0), 0, kPi, 1, Vector2d(1, 0));
    QCOMPARE(none.count, 0);

    QTest::ignoreMessage(QtWarningMsg, "util2D::circleIntersectCircle() imaginary square root, no result");
    const Intersection2d inside = util2D::circleIntersectCircle(2, Vector2d(0, 0), 1, Vector2d(1, 0));
    QCOMPARE(inside.count, 0);
}

void TestUtil2D::lineCircle_data()
{
    QTest::addColumn<Vector2d>("a");
    QTest::addColumn<Vector2d>("b");
    QTest::addColumn<double>("radius");
    QTest::addColumn<Vector2d>("centre");
    QTest::newRow("through the centre") << Vector2d(-5, 0) << Vector2d(-4, 0) << 2.0 << Vector2d(0, 0);
    QTest::newRow("oblique, moved") << Vector2d(1.3, -7.1) << Vector2d(4.4, 2.2) << 3.5 << Vector2d(2, 1);
    QTest::newRow("segment starts inside") << Vector2d(2, 1) << Vector2d(9, 3) << 3.5 << Vector2d(2, 1);
    QTest::newRow("segment ends inside") << Vector2d(-9, 1) << Vector2d(0, 1.5) << 3.5 << Vector2d(2, 1);
    QTest::newRow("touching") << Vector2d(-5, 2) << Vector2d(5, 2) << 2.0 << Vector2d(0, 0);
    QTest::newRow("missing") << Vector2d(-5, 3) << Vector2d(5, 3) << 2.0 << Vector2d(0, 0);
    QTest::newRow("short segment") << Vector2d(-1, 0.5) << Vector2d(1, 0.5) << 2.0 << Vector2d(0, 0);
}

// Line, segment and arc against the quadratic solved in double.
void TestUtil2D::lineCircle()
{
    QFETCH(Vector2d, a);
    QFETCH(Vector2d, b);
    QFETCH(double, radius);
    QFETCH(Vector2d, centre);
    const auto expected = referenceLineCircle(a, b, radius, centre);
    const bool touching = expected.size() == 2 && near(expected[0].second, expected[1].second, 1e-6);

    const Intersection2d line = util2D::intersectLineCircle(a, b, radius, centre);
    QCOMPARE(line.count, touching ? 1 : int(expected.size()));
    if (line.count == 2) {
        QVERIFY2(near(line.first, expected[0].second, 1e-9), text(line));
        QVERIFY2(near(line.second, expected[1].second, 1e-9), text(line));
    } else if (line.count == 1) {
        QVERIFY2(near(line.first, expected[0].second, 1e-6), text(line));
    }

    Intersection2d onSegment;
    for (const auto &p : expected) {
        if (p.first >= 0 && p.first <= 1)
            onSegment.add(p.second);
    }
    if (touching)
        onSegment.count = std::min(onSegment.count, 1);
    const Intersection2d segment = util2D::intersectSegmentCircle(a, b, radius, centre);
    QVERIFY2(segment.count == onSegment.count, text(segment));
    if (segment.count > 0)
        QVERIFY2(near(segment.first, onSegment.first, 1e-6), text(segment));

    // The upper half circle keeps the crossings with y >= centre.y.
    Intersection2d onArc;
    for (const Vector2d &p : {segment.first, segment.second}) {
        if (segment.count > 0 && p.y >= centre.y - 1e-9)
            onArc.add(p);
    }
    if (segment.count < 2)
        onArc.count = std::min(onArc.count, segment.count);
    const Intersection2d arc = util2D::intersectSegmentArc(a, b, 0, kPi, radius, centre);
    QVERIFY2(arc.count == onArc.count, text(arc));
}

QTEST_GUILESS_MAIN(TestUtil2D)
#include "tst_util2d.moc"
