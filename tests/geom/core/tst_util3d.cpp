#include "geom/core/util3d.h"

#include "guardedfloats.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>

using geom::Sphere;
using geom::Vector3f;
using util2D::Intersection3f;

namespace {

// A double-precision point for the references.
struct P3
{
    double x, y, z;
    P3(double ax, double ay, double az)
        : x(ax)
        , y(ay)
        , z(az)
    {}
    explicit P3(const Vector3f &v)
        : x(v.x)
        , y(v.y)
        , z(v.z)
    {}
    P3 operator+(const P3 &o) const { return P3(x + o.x, y + o.y, z + o.z); }
    P3 operator-(const P3 &o) const { return P3(x - o.x, y - o.y, z - o.z); }
    P3 operator*(double s) const { return P3(x * s, y * s, z * s); }
    double dot(const P3 &o) const { return x * o.x + y * o.y + z * o.z; }
    P3 cross(const P3 &o) const { return P3(y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x); }
    double length() const { return std::sqrt(dot(*this)); }
};

bool near(const Vector3f &got, const P3 &expected, double tolerance)
{
    return std::fabs(got.x - expected.x) <= tolerance && std::fabs(got.y - expected.y) <= tolerance &&
           std::fabs(got.z - expected.z) <= tolerance;
}

QByteArray text(const Vector3f &v)
{
    return "(" + QByteArray::number(v.x, 'g', 9) + ", " + QByteArray::number(v.y, 'g', 9) + ", " +
           QByteArray::number(v.z, 'g', 9) + ")";
}

QByteArray text(const Intersection3f &r)
{
    return QByteArray::number(r.count) + " " + text(r.first) + " " + text(r.second);
}

// Parameters t of the points a + t (b - a) on the sphere, ascending; one for a tangent line.
QVector<double> referenceSphereParameters(const P3 &a, const P3 &b, double radius, const P3 &centre)
{
    const P3 d = b - a;
    const P3 f = a - centre;
    const double qa = d.dot(d), qb = 2 * f.dot(d), qc = f.dot(f) - radius * radius;
    const double disc = qb * qb - 4 * qa * qc;
    if (disc < 0)
        return {};
    if (disc <= 1e-9 * qb * qb)
        return {-qb / (2 * qa)};
    const double s = std::sqrt(disc);
    return {(-qb - s) / (2 * qa), (-qb + s) / (2 * qa)};
}

} // namespace

class TestUtil3D : public QObject
{
    Q_OBJECT

private slots:
    void lineTests_data();
    void lineTests();
    void projections_data();
    void projections();
    void planeProjection();
    void spheres_data();
    void spheres();
    void sphereBasics();
    void planes_data();
    void planes();
    void axisPlanes_data();
    void axisPlanes();
    void segmentZPlane_data();
    void segmentZPlane();
    void rayTriangle_data();
    void rayTriangle();
    void triangleMeasures_data();
    void triangleMeasures();
};

void TestUtil3D::lineTests_data()
{
    QTest::addColumn<Vector3f>("p");
    QTest::addColumn<Vector3f>("q");
    QTest::addColumn<Vector3f>("a");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("onLine");
    QTest::addColumn<bool>("sameDirection");
    QTest::addColumn<bool>("farther");
    QTest::newRow("q beyond p") << Vector3f(1, 2, 3) << Vector3f(2, 4, 6) << Vector3f() << 0 << true << true
                                << true;
    QTest::newRow("q nearer") << Vector3f(2, 4, 6) << Vector3f(1, 2, 3) << Vector3f() << 0 << true << true
                              << false;
    QTest::newRow("q behind a") << Vector3f(1, 2, 3) << Vector3f(-2, -4, -6) << Vector3f() << 0 << true
                                << false << false;
    QTest::newRow("distances only") << Vector3f(1, 2, 3) << Vector3f(-2, -4, -6) << Vector3f() << 2 << true
                                    << false << true;
    QTest::newRow("off the line") << Vector3f(1, 2, 3) << Vector3f(2, 4, 7) << Vector3f() << 0 << false
                                  << false << false;
    QTest::newRow("off the line, signs only")
        << Vector3f(1, 2, 3) << Vector3f(2, 4, 7) << Vector3f() << 1 << false << true << true;
    QTest::newRow("moved base") << Vector3f(11, 8, 13) << Vector3f(12, 6, 16) << Vector3f(10, 10, 10) << 0
                                << true << true << true;
}

void TestUtil3D::lineTests()
{
    QFETCH(Vector3f, p);
    QFETCH(Vector3f, q);
    QFETCH(Vector3f, a);
    QFETCH(int, flags);
    QFETCH(bool, onLine);
    QFETCH(bool, sameDirection);
    QFETCH(bool, farther);
    QCOMPARE(util2D::isOnLine(p, q, a), onLine);
    QCOMPARE(util2D::isSameDirection(p, q, a, flags), sameDirection);
    QCOMPARE(util2D::isFartherOnRay(p, q, a, flags), farther);
}

void TestUtil3D::projections_data()
{
    QTest::addColumn<Vector3f>("p");
    QTest::addColumn<Vector3f>("b");
    QTest::addColumn<Vector3f>("a");
    QTest::addColumn<int>("segmentCount");
    QTest::addColumn<int>("rayCount");
    QTest::newRow("inside") << Vector3f(1, 5, -2) << Vector3f(4, 0, 0) << Vector3f() << 1 << 1;
    QTest::newRow("at b") << Vector3f(4, 5, -2) << Vector3f(4, 0, 0) << Vector3f() << 1 << 1;
    QTest::newRow("beyond b") << Vector3f(9, 5, -2) << Vector3f(4, 0, 0) << Vector3f() << 0 << 1;
    QTest::newRow("behind a") << Vector3f(-1, 5, -2) << Vector3f(4, 0, 0) << Vector3f() << 0 << 0;
    QTest::newRow("oblique, moved") << Vector3f(3.5f, -1, 7) << Vector3f(4, 4, 4) << Vector3f(1, 2, 3) << 1
                                    << 1;
    // Squared length 1e-5 or less: the segment is its start point.
    QTest::newRow("short") << Vector3f(3, 4, 5) << Vector3f(1.003f, 1, 1) << Vector3f(1, 1, 1) << 0 << 0;
}

// The foot against the double reference, and kept when the count is 0.
void TestUtil3D::projections()
{
    QFETCH(Vector3f, p);
    QFETCH(Vector3f, b);
    QFETCH(Vector3f, a);
    QFETCH(int, segmentCount);
    QFETCH(int, rayCount);
    const P3 d = P3(b) - P3(a);
    const bool degenerate = float(d.dot(d)) <= 1e-5f;
    const P3 foot = degenerate ? P3(p) : P3(a) + d * ((P3(p) - P3(a)).dot(d) / d.dot(d));

    const Intersection3f s = util2D::projectOnSegment(p, b, a);
    QCOMPARE(s.count, segmentCount);
    QVERIFY2(near(s.first, foot, 1e-5) && s.first == s.second, text(s));
    const Intersection3f r = util2D::projectOnRay(p, b, a);
    QCOMPARE(r.count, rayCount);
    QVERIFY(r.first == s.first);
    QVERIFY(util2D::projectOnLine(p, b, a) == s.first);
}

void TestUtil3D::planeProjection()
{
    // The foot on the plane z = 2 with a normal of length 3.
    const Vector3f foot = util2D::projectOnPlane(Vector3f(1, 2, 7), Vector3f(0, 0, 3), Vector3f(5, 5, 2));
    QVERIFY(foot == Vector3f(1, 2, 2));
    QCOMPARE(util2D::normalParameter(Vector3f(1, 2, 7), Vector3f(0, 0, 3), Vector3f(5, 5, 2)), 5.0f / 3.0f);
    // An oblique plane: the foot lies in it and p - foot is along n.
    const Vector3f n(1, -2, 0.5f), o(0.5f, 1, -1), p(4, 3, 2);
    const Vector3f f = util2D::projectOnPlane(p, n, o);
    QVERIFY(std::fabs((P3(f) - P3(o)).dot(P3(n))) <= 1e-5);
    QVERIFY((P3(p) - P3(f)).cross(P3(n)).length() <= 1e-5);
    // A zero normal moves nothing.
    QCOMPARE(util2D::normalParameter(p, Vector3f(1e-6f, 0, -1e-6f)), 0.0f);
    QVERIFY(util2D::projectOnPlane(p, Vector3f(0, 0, 0), o) == p);
}

void TestUtil3D::spheres_data()
{
    QTest::addColumn<Vector3f>("a");
    QTest::addColumn<Vector3f>("b");
    QTest::addColumn<double>("radius");
    QTest::addColumn<Vector3f>("centre");
    QTest::newRow("x axis from outside") << Vector3f(-2, 0, 0) << Vector3f(-1, 0, 0) << 1.0 << Vector3f();
    QTest::newRow("x axis backwards") << Vector3f(2, 0, 0) << Vector3f(3, 0, 0) << 1.0 << Vector3f();
    QTest::newRow("oblique, moved") << Vector3f(3, -4, 2.5f) << Vector3f(-1, 2, 1) << 2.5
                                    << Vector3f(1, 0.5f, 1.5f);
    QTest::newRow("starting inside") << Vector3f(1.2f, 0.6f, 1.2f) << Vector3f(4.2f, 1.6f, 3.2f) << 2.5
                                     << Vector3f(1, 0.5f, 1.5f);
    QTest::newRow("both ends inside")
        << Vector3f(0.5f, 0, 1) << Vector3f(1.5f, 1, 2) << 2.5 << Vector3f(1, 0.5f, 1.5f);
    QTest::newRow("through to the far side")
        << Vector3f(-3, -3, -3) << Vector3f(3, 3.5f, 2) << 2.0 << Vector3f();
    QTest::newRow("touching") << Vector3f(-5, 1, 0) << Vector3f(5, 1, 0) << 1.0 << Vector3f();
    QTest::newRow("missing") << Vector3f(-5, 2, 0) << Vector3f(5, 2, 0) << 1.0 << Vector3f();
}

// Line, ray and segment against the quadratic solved in double: the line's first point is the root
// nearer to a, the ray keeps t >= 0, the segment 0 <= t < 1.
void TestUtil3D::spheres()
{
    QFETCH(Vector3f, a);
    QFETCH(Vector3f, b);
    QFETCH(double, radius);
    QFETCH(Vector3f, centre);
    QVector<double> ts = referenceSphereParameters(P3(a), P3(b), radius, P3(centre));
    std::sort(ts.begin(), ts.end(), [](double x, double y) { return std::fabs(x) < std::fabs(y); });
    const P3 d = P3(b) - P3(a);
    auto pointAt = [&](double t) { return P3(a) + d * t; };
    const double tolerance = 1e-5 * (1 + d.length());

    const Intersection3f line = util2D::intersectLineSphere(a, b, radius, centre);
    QVERIFY2(line.count == ts.size(), text(line));
    if (line.count > 0) {
        QVERIFY2(near(line.first, pointAt(ts[0]), tolerance), text(line));
        QVERIFY2(near(line.second, pointAt(ts.back()), tolerance), text(line));
    }

    QVector<double> ray, segment;
    for (double t : ts) {
        if (t >= 0)
            ray.append(t);
        if (t >= 0 && t < 1)
            segment.append(t);
    }
    const Intersection3f r = util2D::intersectRaySphere(a, b, radius, centre);
    QVERIFY2(r.count == ray.size(), text(r));
    if (r.count > 0)
        QVERIFY2(near(r.first, pointAt(ray[0]), tolerance), text(r));
    const Intersection3f s = util2D::intersectSegmentSphere(a, b, radius, centre);
    QVERIFY2(s.count == segment.size(), text(s));
    if (s.count > 0)
        QVERIFY2(near(s.first, pointAt(segment[0]), tolerance), text(s));

    const Sphere sphere(centre, float(radius));
    QVERIFY(util2D::intersectLineSphere(a, b, sphere).first == line.first);
    QCOMPARE(util2D::intersectRaySphere(a, b, sphere).count, r.count);
    QCOMPARE(util2D::intersectSegmentSphere(a, b, sphere).count, s.count);
}

void TestUtil3D::sphereBasics()
{
    const Vector3f c(1, 2, 3);
    QVERIFY(util2D::isOnSphere(Vector3f(1, 2, 5), 2, c));
    QVERIFY(!util2D::isOnSphere(Vector3f(1, 2, 5.001f), 2, c));
    QVERIFY(util2D::closestPointOnSphere(Vector3f(1, 2, 13), 2, c) == Vector3f(1, 2, 5));
    QVERIFY(util2D::closestPointOnSphere(c, 2, c) == c);
    // A line whose ends coincide is its start point: on the sphere or nothing.
    QCOMPARE(util2D::intersectLineSphere(Vector3f(1, 2, 5), Vector3f(1, 2, 5), 2, c).count, 1);
    QCOMPARE(util2D::intersectLineSphere(Vector3f(1, 2, 4), Vector3f(1, 2, 4), 2, c).count, 0);
}

void TestUtil3D::planes_data()
{
    QTest::addColumn<Vector3f>("a");
    QTest::addColumn<Vector3f>("b");
    QTest::addColumn<Vector3f>("n");
    QTest::addColumn<Vector3f>("o");
    QTest::addColumn<int>("rayCount");
    QTest::addColumn<int>("segmentCount");
    QTest::newRow("ahead of the segment")
        << Vector3f(0, 0, 5) << Vector3f(0, 0, 4) << Vector3f(0, 0, 1) << Vector3f() << 1 << 0;
    QTest::newRow("crossing") << Vector3f(1, 1, 1) << Vector3f(2, 3, -1) << Vector3f(0, 0, 2)
                              << Vector3f(0, 0, 0.5f) << 1 << 1;
    QTest::newRow("oblique, moved") << Vector3f(3, -2, 7) << Vector3f(1, 1, -2) << Vector3f(0.3f, -0.4f, 1.2f)
                                    << Vector3f(1, 1, 1) << 1 << 1;
    QTest::newRow("a 1e-6 from the plane")
        << Vector3f(0, 0, 1e-6f) << Vector3f(1, 0, 1) << Vector3f(0, 0, 1) << Vector3f() << 1 << 1;
    QTest::newRow("ending 5e-6 short")
        << Vector3f(0, 0, 1) << Vector3f(0, 0, 5e-6f) << Vector3f(0, 0, 1) << Vector3f() << 1 << 1;
    QTest::newRow("behind") << Vector3f(0, 0, 1) << Vector3f(0, 0, 2) << Vector3f(0, 0, 1) << Vector3f() << 0
                            << 0;
    QTest::newRow("parallel") << Vector3f(0, 0, 1) << Vector3f(1, 0, 1) << Vector3f(0, 0, 1) << Vector3f()
                              << 0 << 0;
    QTest::newRow("in the plane") << Vector3f(1, 2, 0) << Vector3f(3, 4, 0) << Vector3f(0, 0, 1) << Vector3f()
                                  << 2 << 2;
    QTest::newRow("zero normal") << Vector3f(1, 2, 0) << Vector3f(3, 4, 0) << Vector3f(0, 1e-6f, 0)
                                 << Vector3f() << 0 << 0;
}

void TestUtil3D::planes()
{
    QFETCH(Vector3f, a);
    QFETCH(Vector3f, b);
    QFETCH(Vector3f, n);
    QFETCH(Vector3f, o);
    QFETCH(int, rayCount);
    QFETCH(int, segmentCount);
    const P3 d = P3(b) - P3(a);
    const double t = (P3(o) - P3(a)).dot(P3(n)) / d.dot(P3(n));
    const P3 expected = P3(a) + d * std::clamp(t, 0.0, 1.0);

    const Intersection3f r = util2D::intersectRayPlane(a, b, n, o);
    QVERIFY2(r.count == rayCount, text(r));
    if (rayCount == 1)
        QVERIFY2(near(r.first, P3(a) + d * std::max(t, 0.0), 1e-5), text(r));
    const Intersection3f s = util2D::intersectSegmentPlane(a, b, n, o);
    QVERIFY2(s.count == segmentCount, text(s));
    if (segmentCount == 1)
        QVERIFY2(near(s.first, expected, 1e-5), text(s));
    if (segmentCount == 2)
        QVERIFY(s.first == a && s.second == b);
}

void TestUtil3D::axisPlanes_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<Vector3f>("a");
    QTest::addColumn<Vector3f>("b");
    QTest::addColumn<float>("value");
    QTest::addColumn<bool>("hit");
    QTest::newRow("z beyond b") << 2 << Vector3f(0, 0, 0) << Vector3f(0, 0, 1) << 5.0f << true;
    QTest::newRow("z moving away") << 2 << Vector3f(0, 0, 0) << Vector3f(0, 0, 1) << -5.0f << false;
    QTest::newRow("z parallel") << 2 << Vector3f(0, 0, 0) << Vector3f(1, 1, 5e-6f) << 1.0f << false;
    QTest::newRow("z oblique") << 2 << Vector3f(1, -2, 3) << Vector3f(2, 2, 1) << 0.5f << true;
    QTest::newRow("x oblique") << 0 << Vector3f(1, -2, 3) << Vector3f(2, 2, 1) << 7.25f << true;
    QTest::newRow("y at a") << 1 << Vector3f(1, -2, 3) << Vector3f(2, 2, 1) << -2.0f << true;
    QTest::newRow("y behind") << 1 << Vector3f(1, -2, 3) << Vector3f(2, 2, 1) << -3.0f << false;
}

void TestUtil3D::axisPlanes()
{
    QFETCH(int, axis);
    QFETCH(Vector3f, a);
    QFETCH(Vector3f, b);
    QFETCH(float, value);
    QFETCH(bool, hit);
    const Intersection3f r = axis == 0   ? util2D::intersectRayXPlane(a, b, value)
                             : axis == 1 ? util2D::intersectRayYPlane(a, b, value)
                                         : util2D::intersectRayZPlane(a, b, value);
    QCOMPARE(r.count, hit ? 1 : 0);
    if (hit) {
        const P3 pa(a), d = P3(b) - P3(a);
        const double ak = axis == 0 ? pa.x : axis == 1 ? pa.y : pa.z;
        const double dk = axis == 0 ? d.x : axis == 1 ? d.y : d.z;
        QVERIFY2(near(r.first, pa + d * ((value - ak) / dk), 1e-5), text(r));
    }
}

void TestUtil3D::segmentZPlane_data()
{
    QTest::addColumn<Vector3f>("a");
    QTest::addColumn<Vector3f>("b");
    QTest::addColumn<float>("z");
    QTest::addColumn<int>("count");
    QTest::addColumn<Vector3f>("exactPoint"); // the end returned as it is, else zero
    QTest::newRow("middle") << Vector3f(0, 0, 0) << Vector3f(0, 0, 2) << 1.0f << 1 << Vector3f();
    QTest::newRow("oblique") << Vector3f(1, 2, -1) << Vector3f(4, -3, 5) << 0.7f << 1 << Vector3f();
    QTest::newRow("downwards") << Vector3f(4, -3, 5) << Vector3f(1, 2, -1) << 0.7f << 1 << Vector3f();
    QTest::newRow("just past b") << Vector3f(0, 0, 0) << Vector3f(0, 0, 2) << 2.00001f << 1
                                 << Vector3f(0, 0, 2);
    QTest::newRow("just before a") << Vector3f(1, 1, 1) << Vector3f(1, 1, 3) << 0.99999f << 1
                                   << Vector3f(1, 1, 1);
    QTest::newRow("beyond b") << Vector3f(0, 0, 0) << Vector3f(0, 0, 2) << 3.0f << 0 << Vector3f();
    QTest::newRow("flat in the plane")
        << Vector3f(0, 0, 1) << Vector3f(5, 5, 1) << 1.0f << 1 << Vector3f(0, 0, 1);
    QTest::newRow("flat, b in the plane")
        << Vector3f(0, 0, 1) << Vector3f(5, 5, 1.000008f) << 1.000016f << 1 << Vector3f(5, 5, 1.000008f);
    QTest::newRow("flat, elsewhere") << Vector3f(0, 0, 1) << Vector3f(5, 5, 1) << 1.5f << 0 << Vector3f();
}

void TestUtil3D::segmentZPlane()
{
    QFETCH(Vector3f, a);
    QFETCH(Vector3f, b);
    QFETCH(float, z);
    QFETCH(int, count);
    QFETCH(Vector3f, exactPoint);
    const Intersection3f r = util2D::intersectSegmentZPlane(a, b, z);
    QVERIFY2(r.count == count, text(r));
    if (count == 0)
        return;
    QVERIFY(r.first == r.second);
    if (!(exactPoint == Vector3f())) {
        QVERIFY2(r.first == exactPoint, text(r));
    } else {
        const P3 d = P3(b) - P3(a);
        QVERIFY2(near(r.first, P3(a) + d * ((z - double(a.z)) / d.z), 1e-5), text(r));
    }
}

void TestUtil3D::rayTriangle_data()
{
    QTest::addColumn<Vector3f>("origin");
    QTest::addColumn<Vector3f>("direction");
    QTest::addColumn<Vector3f>("a");
    QTest::addColumn<Vector3f>("b");
    QTest::addColumn<Vector3f>("c");
    QTest::addColumn<bool>("hit");
    const Vector3f o(0, 0, 0), x(1, 0, 0), y(0, 1, 0);
    const Vector3f down(0, 0, -1);
    QTest::newRow("from the front") << Vector3f(0.25f, 0.25f, 1) << down << o << x << y << true;
    QTest::newRow("from behind") << Vector3f(0.25f, 0.25f, -1) << Vector3f(0, 0, 1) << o << x << y << false;
    QTest::newRow("corners swapped") << Vector3f(0.25f, 0.25f, 1) << down << o << y << x << false;
    QTest::newRow("through an edge") << Vector3f(0, 0.5f, 1) << down << o << x << y << true;
    QTest::newRow("through a corner") << Vector3f(1, 0, 1) << down << o << x << y << true;
    QTest::newRow("outside") << Vector3f(0.75f, 0.75f, 1) << down << o << x << y << false;
    QTest::newRow("behind the origin") << Vector3f(0.25f, 0.25f, -1) << down << o << x << y << false;
    QTest::newRow("origin on the facet") << Vector3f(0.25f, 0.25f, 0) << down << o << x << y << true;
    QTest::newRow("parallel") << Vector3f(-1, 0.25f, 0) << Vector3f(1, 0, 0) << o << x << y << false;
    QTest::newRow("grazing") << Vector3f(-1, 0.25f, 1e-7f) << Vector3f(1, 0, -1e-7f) << o << x << y << false;
    QTest::newRow("oblique") << Vector3f(3.36f, 4.2f, 4.88f) << Vector3f(-2.5f, -3.1f, -4.2f)
                             << Vector3f(0.3f, 0.2f, 0.1f) << Vector3f(1.2f, 0.4f, -0.3f)
                             << Vector3f(0.1f, 1.5f, 0.6f) << true;
    // Small facets are hit by their angle, not their size: a facet of 0.1 mm, a ray of length 1 or
    // of length 500.
    const Vector3f sx(1e-4f, 0, 0), sy(0, 1e-4f, 0);
    QTest::newRow("small facet") << Vector3f(2.5e-5f, 2.5e-5f, 1) << down << o << sx << sy << true;
    QTest::newRow("small facet, long ray")
        << Vector3f(2.5e-5f, 2.5e-5f, 200) << Vector3f(0, 0, -500) << o << sx << sy << true;
    // A hit 0.05 behind the origin is behind it, however small the facet.
    const Vector3f mx(1e-2f, 0, 0), my(0, 1e-2f, 0);
    QTest::newRow("facet behind the origin")
        << Vector3f(2.5e-3f, 2.5e-3f, -0.05f) << down << o << mx << my << false;
    QTest::newRow("small facet behind the origin")
        << Vector3f(2.5e-5f, 2.5e-5f, -1e-3f) << down << o << sx << sy << false;
}

// Hits against the double reference: the plane crossing o + t dir, t >= 0, inside the triangle.
void TestUtil3D::rayTriangle()
{
    QFETCH(Vector3f, origin);
    QFETCH(Vector3f, direction);
    QFETCH(Vector3f, a);
    QFETCH(Vector3f, b);
    QFETCH(Vector3f, c);
    QFETCH(bool, hit);
    const Intersection3f r = util2D::intersectRayTriangle(origin, direction, a, b, c);
    QVERIFY2(r.count == (hit ? 1 : 0), text(r));
    if (!hit)
        return;
    const P3 n = (P3(b) - P3(a)).cross(P3(c) - P3(a));
    const P3 dir(direction);
    QVERIFY(dir.dot(n) < 0);
    const double t = (P3(a) - P3(origin)).dot(n) / dir.dot(n);
    QVERIFY(t >= 0);
    const P3 expected = P3(origin) + dir * t;
    QVERIFY2(near(r.first, expected, 1e-5 * (1 + std::fabs(t) * dir.length())), text(r));
}

void TestUtil3D::triangleMeasures_data()
{
    QTest::addColumn<Vector3f>("a");
    QTest::addColumn<Vector3f>("b");
    QTest::addColumn<Vector3f>("c");
    QTest::addColumn<Vector3f>("origin");
    QTest::newRow("unit right triangle")
        << Vector3f(0, 0, 0) << Vector3f(1, 0, 0) << Vector3f(0, 1, 0) << Vector3f();
    QTest::newRow("lifted, origin below")
        << Vector3f(0, 0, 3) << Vector3f(1, 0, 3) << Vector3f(0, 1, 3) << Vector3f();
    QTest::newRow("facing the origin")
        << Vector3f(0, 0, 3) << Vector3f(0, 1, 3) << Vector3f(1, 0, 3) << Vector3f();
    QTest::newRow("oblique, moved origin")
        << Vector3f(1.5f, -2, 0.25f) << Vector3f(4, 1, -3) << Vector3f(-2, 3, 2) << Vector3f(0.5f, 0.5f, -7);
    QTest::newRow("degenerate") << Vector3f(1, 1, 1) << Vector3f(2, 2, 2) << Vector3f(3, 3, 3) << Vector3f();
    // The cross product 1e-30 has float squares that underflow; the normal keeps its direction.
    QTest::newRow("1e-15 across") << Vector3f(0, 0, 0) << Vector3f(1e-15f, 0, 0) << Vector3f(0, 1e-15f, 0)
                                  << Vector3f();
}

void TestUtil3D::triangleMeasures()
{
    QFETCH(Vector3f, a);
    QFETCH(Vector3f, b);
    QFETCH(Vector3f, c);
    QFETCH(Vector3f, origin);
    const P3 m = (P3(b) - P3(a)).cross(P3(c) - P3(a));
    const double area = 0.5 * m.length();
    const double volume = m.dot(P3(a) - P3(origin)) / 6.0;

    // The nine floats end at an inaccessible page: nothing beyond them is read.
    GuardedFloats abc(9);
    abc.fill({a.x, a.y, a.z, b.x, b.y, b.z, c.x, c.y, c.z});
    QVERIFY(std::fabs(util2D::triangleArea(abc.data()) - area) <= 1e-6 * (1 + area));
    float gotArea = -1, gotVolume = -1;
    util2D::triangleAreaVolume(gotArea, gotVolume, abc.data(), origin);
    QCOMPARE(gotArea, util2D::triangleArea(abc.data()));
    QVERIFY2(std::fabs(gotVolume - volume) <= 1e-5 * (1 + std::fabs(volume)), QByteArray::number(gotVolume));

    const Vector3f normal = util2D::triangleNormal(a, b, c);
    if (area == 0) {
        QVERIFY(!std::isfinite(normal.x));
        QCOMPARE(gotVolume, 0.0f);
    } else {
        QVERIFY2(near(normal, m * (1 / m.length()), 1e-6), text(normal));
    }
}

QTEST_GUILESS_MAIN(TestUtil3D)
#include "tst_util3d.moc"
