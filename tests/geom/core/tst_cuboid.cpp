#include "geom/core/cuboid.h"

#include "valuesupport.h"

#include <QtTest>
#include <cfloat>
#include <cmath>
#include <limits>

using geom::Boundaries;
using geom::Cuboid;
using geom::Vector3f;

namespace {
const float NaN = std::numeric_limits<float>::quiet_NaN();
const float Inf = std::numeric_limits<float>::infinity();

Cuboid box(float x0, float y0, float z0, float x1, float y1, float z1)
{
    return Cuboid(Vector3f(x0, y0, z0), Vector3f(x1, y1, z1));
}

// The corners compared exactly, NaN matching NaN (operator== has a tolerance and treats all null
// boxes alike).
bool sameCorners(const Cuboid &a, const Cuboid &b)
{
    for (int i = 0; i < 6; ++i) {
        const float u = a.data()[i];
        const float v = b.data()[i];
        if (!(u == v || (std::isnan(u) && std::isnan(v))))
            return false;
    }
    return true;
}

QByteArray describe(const Cuboid &b)
{
    QByteArray text;
    for (int i = 0; i < 6; ++i)
        text += QByteArray::number(double(b.data()[i]), 'g', 9) + (i == 2 ? " - " : " ");
    return text;
}

#define COMPARE_CORNERS(actual, expected)                                                                    \
    QVERIFY2(sameCorners(actual, expected),                                                                  \
             QByteArray(describe(actual) + "instead of " + describe(expected)).constData())
} // namespace

class TestCuboid : public QObject
{
    Q_OBJECT

private slots:
    void nullState();
    void states_data();
    void states();
    void expand();
    void normalize_data();
    void normalize();
    void intersect_data();
    void intersect();
    void unite_data();
    void unite();
    void moveAndResize();
    void scale();
    void intersects_data();
    void intersects();
    void containsPoint_data();
    void containsPoint();
    void containsBox();
    void equality_data();
    void equality();
    void outcodeAndAlignedPoint();
    void clipSegment_data();
    void clipSegment();
    void debugText_data();
    void debugText();
};

void TestCuboid::nullState()
{
    const Cuboid b;
    QCOMPARE(b.min(), Vector3f(FLT_MAX, FLT_MAX, FLT_MAX));
    QCOMPARE(b.max(), Vector3f(-FLT_MAX, -FLT_MAX, -FLT_MAX));
    QCOMPARE(static_cast<const void *>(b.data()), static_cast<const void *>(&b));
    QCOMPARE(b.data()[3], -FLT_MAX);
    Cuboid c = box(1, 2, 3, 4, 5, 6);
    c.reset();
    COMPARE_CORNERS(c, b);
    Vector3f mn, mx;
    box(1, 2, 3, 4, 5, 6).getCorners(mn, mx);
    QCOMPARE(mn, Vector3f(1, 2, 3));
    QCOMPARE(mx, Vector3f(4, 5, 6));
}

void TestCuboid::states_data()
{
    QTest::addColumn<Cuboid>("b");
    QTest::addColumn<bool>("null");
    QTest::addColumn<bool>("valid");
    QTest::newRow("null") << Cuboid() << true << false;
    QTest::newRow("box") << box(0, 0, 0, 1, 2, 3) << false << true;
    QTest::newRow("single point") << box(1, 2, 3, 1, 2, 3) << false << false;
    QTest::newRow("flat on z") << box(0, 0, 5, 1, 1, 5) << false << false;
    QTest::newRow("inverted by a finite amount") << box(1, 1, 1, 0, 0, 0) << false << false;
    QTest::newRow("nan corner") << box(0, 0, NaN, 1, 1, 1) << true << false;
    QTest::newRow("infinite corner") << box(0, 0, 0, 1, Inf, 1) << true << false;
    // The extent overflows although both corners are finite.
    QTest::newRow("overflowing extent") << box(-FLT_MAX, 0, 0, FLT_MAX, 1, 1) << true << false;
    QTest::newRow("largest finite extent") << box(0, 0, 0, FLT_MAX, 1, 1) << false << true;
}

void TestCuboid::states()
{
    QFETCH(Cuboid, b);
    QFETCH(bool, null);
    QFETCH(bool, valid);
    QCOMPARE(b.isNull(), null);
    QCOMPARE(b.isValid(), valid);
    QCOMPARE(b.isEmpty(), !valid);
}

void TestCuboid::expand()
{
    Cuboid b;
    b.expand(Vector3f(1, 2, 3));
    COMPARE_CORNERS(b, box(1, 2, 3, 1, 2, 3));
    b.expand(Vector3f(0, 5, 3));
    COMPARE_CORNERS(b, box(0, 2, 3, 1, 5, 3));
    // A NaN coordinate changes nothing on its axis.
    b.expand(Vector3f(NaN, 7, NaN));
    COMPARE_CORNERS(b, box(0, 2, 3, 1, 7, 3));

    const float xyz[] = {-1, 0, 0, 2, 2, 9};
    Cuboid c = b;
    c.expand(nullptr, 5);
    c.expand(xyz, 0);
    c.expand(xyz, -2);
    COMPARE_CORNERS(c, b);
    c.expand(xyz, 2);
    COMPARE_CORNERS(c, box(-1, 0, 0, 2, 7, 9));

    Cuboid v;
    v.expand(QVector<Vector3f>{Vector3f(-1, 0, 0), Vector3f(2, 2, 9), Vector3f(0, 7, 3)});
    COMPARE_CORNERS(v, c);
    Cuboid none;
    none.expand(QVector<Vector3f>());
    QVERIFY(none.isNull());
}

void TestCuboid::normalize_data()
{
    QTest::addColumn<Cuboid>("b");
    QTest::addColumn<Cuboid>("expected");
    QTest::newRow("inverted") << box(1, 1, 1, 0, 0, 0) << box(0, 0, 0, 1, 1, 1);
    QTest::newRow("inverted on y only") << box(0, 5, 0, 1, 2, 1) << box(0, 2, 0, 1, 5, 1);
    QTest::newRow("null stays null") << Cuboid() << Cuboid();
    QTest::newRow("overflowing axis kept, finite axis swapped")
        << box(FLT_MAX, 3, 0, -FLT_MAX, 1, 1) << box(FLT_MAX, 1, 0, -FLT_MAX, 3, 1);
}

void TestCuboid::normalize()
{
    QFETCH(Cuboid, b);
    QFETCH(Cuboid, expected);
    const Cuboid copy = b.normalized();
    COMPARE_CORNERS(copy, expected);
    QCOMPARE(&b.normalize(), &b);
    COMPARE_CORNERS(b, expected);
}

void TestCuboid::intersect_data()
{
    QTest::addColumn<Cuboid>("a");
    QTest::addColumn<Cuboid>("b");
    QTest::addColumn<Cuboid>("expected");
    const Cuboid two = box(0, 0, 0, 2, 2, 2);
    QTest::newRow("overlap") << two << box(1, 1, 1, 3, 3, 3) << box(1, 1, 1, 2, 2, 2);
    QTest::newRow("touching gives flat") << two << box(2, 0, 0, 3, 2, 2) << box(2, 0, 0, 2, 2, 2);
    QTest::newRow("apart gives null") << two << box(3, 0, 0, 4, 2, 2) << Cuboid();
    QTest::newRow("null this stays null") << Cuboid() << two << Cuboid();
    QTest::newRow("null other nulls") << two << Cuboid() << Cuboid();
    QTest::newRow("both normalised first")
        << box(2, 2, 2, 0, 0, 0) << box(3, 3, 3, 1, 1, 1) << box(1, 1, 1, 2, 2, 2);
    QTest::newRow("contained") << two << box(0.5f, 0.5f, 0.5f, 1, 1, 1) << box(0.5f, 0.5f, 0.5f, 1, 1, 1);
}

void TestCuboid::intersect()
{
    QFETCH(Cuboid, a);
    QFETCH(Cuboid, b);
    QFETCH(Cuboid, expected);
    COMPARE_CORNERS(a.intersected(b), expected);
    COMPARE_CORNERS(a & b, expected);
    Cuboid c = a;
    QCOMPARE(&(c &= b), &c);
    COMPARE_CORNERS(c, expected);
    Cuboid d = a;
    COMPARE_CORNERS(d.intersect(b), expected);
}

void TestCuboid::unite_data()
{
    QTest::addColumn<Cuboid>("a");
    QTest::addColumn<Cuboid>("b");
    QTest::addColumn<Cuboid>("expected");
    QTest::newRow("disjoint") << box(0, 0, 0, 1, 1, 1) << box(2, -1, 0, 3, 0, 4) << box(0, -1, 0, 3, 1, 4);
    QTest::newRow("null this copies, not normalised")
        << Cuboid() << box(1, 1, 1, 0, 0, 0) << box(1, 1, 1, 0, 0, 0);
    QTest::newRow("null other changes nothing") << box(0, 0, 0, 1, 1, 1) << Cuboid() << box(0, 0, 0, 1, 1, 1);
    QTest::newRow("both normalised") << box(1, 1, 1, 0, 0, 0) << box(5, 0, 0, 4, 1, 1)
                                     << box(0, 0, 0, 5, 1, 1);
}

void TestCuboid::unite()
{
    QFETCH(Cuboid, a);
    QFETCH(Cuboid, b);
    QFETCH(Cuboid, expected);
    COMPARE_CORNERS(a.united(b), expected);
    COMPARE_CORNERS(a | b, expected);
    Cuboid c = a;
    QCOMPARE(&(c |= b), &c);
    COMPARE_CORNERS(c, expected);
}

void TestCuboid::moveAndResize()
{
    Cuboid b = box(1, 1, 1, 3, 3, 3);
    QCOMPARE(b.size(), Vector3f(2, 2, 2));
    QCOMPARE(b.center(), Vector3f(2, 2, 2));
    QCOMPARE(&b.moveCenter(Vector3f()), &b);
    COMPARE_CORNERS(b, box(-1, -1, -1, 1, 1, 1));
    b.moveMin(Vector3f(10, 0, 0));
    COMPARE_CORNERS(b, box(10, 0, 0, 12, 2, 2));
    b.moveMax(Vector3f(0, 0, 0));
    COMPARE_CORNERS(b, box(-2, -2, -2, 0, 0, 0));
    b.setSize(Vector3f(1, -1, 0));
    COMPARE_CORNERS(b, box(-2, -2, -2, -1, -3, -2));
    b.grow(Vector3f(1, 0, 0), Vector3f(0, 0, 2));
    COMPARE_CORNERS(b, box(-3, -2, -2, -1, -3, 0));
    b.grow(0.5f);
    COMPARE_CORNERS(b, box(-3.5f, -2.5f, -2.5f, -0.5f, -2.5f, 0.5f));
    COMPARE_CORNERS(b.grown(-0.5f), box(-3, -2, -2, -1, -3, 0));
    COMPARE_CORNERS(b.adjusted(Vector3f(1, 1, 1), Vector3f(2, 2, 2)),
                    box(-4.5f, -3.5f, -3.5f, 1.5f, -0.5f, 2.5f));

    Cuboid t = box(0, 0, 0, 1, 1, 1);
    QCOMPARE(&t.translate(Vector3f(1, 2, 3)), &t);
    COMPARE_CORNERS(t, box(1, 2, 3, 2, 3, 4));
    t += Vector3f(1, 1, 1);
    t -= Vector3f(0, 0, 4);
    COMPARE_CORNERS(t, box(2, 3, 0, 3, 4, 1));
    COMPARE_CORNERS(t.translated(Vector3f(-2, -3, 0)), box(0, 0, 0, 1, 1, 1));
    COMPARE_CORNERS(t + Vector3f(-2, -3, 0), box(0, 0, 0, 1, 1, 1));
    COMPARE_CORNERS(t - Vector3f(2, 3, 0), box(0, 0, 0, 1, 1, 1));
    // Moving the null box lets it overflow, which is still null.
    QVERIFY((Cuboid() + Vector3f(FLT_MAX, 0, 0)).isNull());
}

void TestCuboid::scale()
{
    Cuboid b = box(0, 0, 0, 1, 1, 1);
    b *= -1.0f;
    COMPARE_CORNERS(b, box(0, 0, 0, -1, -1, -1));
    QVERIFY(!b.isNull());
    QVERIFY(!b.isValid());
    b.normalize();
    COMPARE_CORNERS(b, box(-1, -1, -1, 0, 0, 0));
    b /= 4.0f;
    COMPARE_CORNERS(b, box(-0.25f, -0.25f, -0.25f, 0, 0, 0));
    COMPARE_CORNERS(b * -4.0f, box(1, 1, 1, -0.0f, -0.0f, -0.0f));
    COMPARE_CORNERS(b / 0.5f, box(-0.5f, -0.5f, -0.5f, 0, 0, 0));
}

void TestCuboid::intersects_data()
{
    QTest::addColumn<Cuboid>("a");
    QTest::addColumn<Cuboid>("b");
    QTest::addColumn<bool>("expected");
    const Cuboid unit = box(0, 0, 0, 1, 1, 1);
    QTest::newRow("overlap") << unit << box(0.5f, 0.5f, 0.5f, 2, 2, 2) << true;
    QTest::newRow("shared face") << unit << box(1, 0, 0, 2, 1, 1) << true;
    QTest::newRow("shared edge") << unit << box(1, 1, 0, 2, 2, 1) << true;
    QTest::newRow("1e-7 apart") << unit << box(1.0000001f, 0, 0, 2, 1, 1) << false;
    QTest::newRow("apart on z only") << unit << box(0, 0, -2, 1, 1, -0.5f) << false;
    QTest::newRow("point on the box") << unit << box(1, 0.5f, 0.5f, 1, 0.5f, 0.5f) << true;
    QTest::newRow("null") << unit << Cuboid() << false;
    QTest::newRow("null this") << Cuboid() << unit << false;
    // Not normalised first: an inverted box only meets boxes inside its own range.
    QTest::newRow("inverted") << box(1, 1, 1, 0, 0, 0) << box(0, 0, 0, 0.5f, 0.5f, 0.5f) << false;
}

void TestCuboid::intersects()
{
    QFETCH(Cuboid, a);
    QFETCH(Cuboid, b);
    QFETCH(bool, expected);
    QCOMPARE(a.intersects(b), expected);
    QCOMPARE(b.intersects(a), expected);
}

void TestCuboid::containsPoint_data()
{
    QTest::addColumn<Cuboid>("b");
    QTest::addColumn<Vector3f>("p");
    QTest::addColumn<bool>("expected");
    const Cuboid hundred = box(0, 0, 0, 100, 100, 100);
    QTest::newRow("inside") << hundred << Vector3f(50, 50, 50) << true;
    QTest::newRow("on the min corner") << hundred << Vector3f(0, 0, 0) << true;
    // The tolerance at 100 is 1e-3.
    QTest::newRow("5e-4 beyond 100") << hundred << Vector3f(100.0005f, 50, 50) << true;
    QTest::newRow("2e-3 beyond 100") << hundred << Vector3f(50, 100.002f, 50) << false;
    // At 0 the tolerance shrinks to nothing.
    QTest::newRow("1e-9 below 0") << hundred << Vector3f(50, 50, -1e-9f) << false;
    QTest::newRow("nan") << hundred << Vector3f(NaN, 50, 50) << false;
    QTest::newRow("flat box, its own point") << box(1, 1, 1, 1, 2, 2) << Vector3f(1, 1, 1) << false;
    QTest::newRow("null box") << Cuboid() << Vector3f(0, 0, 0) << false;
}

void TestCuboid::containsPoint()
{
    QFETCH(Cuboid, b);
    QFETCH(Vector3f, p);
    QFETCH(bool, expected);
    QCOMPARE(b.contains(p), expected);
}

void TestCuboid::containsBox()
{
    const Cuboid hundred = box(0, 0, 0, 100, 100, 100);
    QVERIFY(hundred.contains(box(10, 10, 10, 20, 20, 20)));
    QVERIFY(hundred.contains(hundred));
    QVERIFY(hundred.contains(box(0, 0, 0, 100.0005f, 100, 100)));
    QVERIFY(!hundred.contains(box(0, 0, 0, 100.002f, 100, 100)));
    QVERIFY(!hundred.contains(box(-1e-9f, 0, 0, 1, 1, 1)));
    QVERIFY(!box(10, 10, 10, 20, 20, 20).contains(hundred));
    // Both must be valid.
    QVERIFY(!hundred.contains(box(1, 1, 1, 1, 2, 2)));
    QVERIFY(!hundred.contains(Cuboid()));
    QVERIFY(!Cuboid().contains(hundred));
}

void TestCuboid::equality_data()
{
    QTest::addColumn<Cuboid>("a");
    QTest::addColumn<Cuboid>("b");
    QTest::addColumn<bool>("equal");
    QTest::newRow("same") << box(0, 1, 2, 3, 4, 5) << box(0, 1, 2, 3, 4, 5) << true;
    QTest::newRow("5e-6 apart") << box(0, 1, 2, 3, 4, 5) << box(0, 1, 2.000005f, 3, 4, 5) << true;
    QTest::newRow("2e-5 apart") << box(0, 1, 2, 3, 4, 5) << box(0, 1, 2, 3, 4.00002f, 5) << false;
    // An absolute tolerance, even for large coordinates.
    QTest::newRow("1e6 and one ulp") << box(1e6f, 0, 0, 2e6f, 1, 1)
                                     << box(std::nextafter(1e6f, 2e6f), 0, 0, 2e6f, 1, 1) << false;
    QTest::newRow("null boxes, other sentinels") << Cuboid() << box(0, 0, NaN, 1, 1, 1) << true;
    QTest::newRow("null and box") << Cuboid() << box(0, 0, 0, 1, 1, 1) << false;
    QTest::newRow("nan against itself is null") << box(NaN, 0, 0, 1, 1, 1) << box(NaN, 0, 0, 1, 1, 1) << true;
}

void TestCuboid::equality()
{
    QFETCH(Cuboid, a);
    QFETCH(Cuboid, b);
    QFETCH(bool, equal);
    QCOMPARE(a == b, equal);
    QCOMPARE(a != b, !equal);
    QCOMPARE(b == a, equal);
}

void TestCuboid::outcodeAndAlignedPoint()
{
    const Cuboid b = box(0, 0, 0, 2, 4, 6);
    QCOMPARE(b.outcode(Vector3f(1, 1, 1)), Boundaries());
    QCOMPARE(b.outcode(Vector3f(0, 4, 6)), Boundaries());
    QCOMPARE(b.outcode(Vector3f(-1, 5, 7)), geom::MinX | geom::MaxY | geom::MaxZ);
    QCOMPARE(b.outcode(Vector3f(3, -1, -1)), geom::MaxX | geom::MinY | geom::MinZ);
    QCOMPARE(b.outcode(Vector3f(NaN, NaN, NaN)), Boundaries());

    QCOMPARE(b.alignedPoint(Boundaries()), Vector3f(1, 2, 3));
    QCOMPARE(b.alignedPoint(geom::MinX | geom::MaxX), Vector3f(1, 2, 3));
    QCOMPARE(b.alignedPoint(geom::MinX | geom::MaxY | geom::MinZ), Vector3f(0, 4, 0));
    QCOMPARE(b.alignedPoint(geom::MaxX | geom::MaxZ | geom::MinZ), Vector3f(2, 2, 3));
}

void TestCuboid::clipSegment_data()
{
    QTest::addColumn<Vector3f>("p0");
    QTest::addColumn<Vector3f>("p1");
    QTest::addColumn<QList<Vector3f>>("expected");
    // against the box (0, 0, 0)-(10, 10, 10)
    QTest::newRow("both inside") << Vector3f(1, 2, 3) << Vector3f(9, 8, 7)
                                 << QList<Vector3f>{Vector3f(1, 2, 3), Vector3f(9, 8, 7)};
    QTest::newRow("both on the boundary") << Vector3f(0, 0, 0) << Vector3f(10, 10, 10)
                                          << QList<Vector3f>{Vector3f(0, 0, 0), Vector3f(10, 10, 10)};
    QTest::newRow("both below") << Vector3f(1, 1, -5) << Vector3f(9, 9, -1) << QList<Vector3f>();
    QTest::newRow("through z, bottom to top")
        << Vector3f(5, 5, -5) << Vector3f(5, 5, 15) << QList<Vector3f>{Vector3f(5, 5, 0), Vector3f(5, 5, 10)};
    QTest::newRow("through z, top to bottom")
        << Vector3f(5, 5, 15) << Vector3f(5, 5, -5) << QList<Vector3f>{Vector3f(5, 5, 10), Vector3f(5, 5, 0)};
    QTest::newRow("inside to outside")
        << Vector3f(5, 5, 5) << Vector3f(15, 5, 5) << QList<Vector3f>{Vector3f(10, 5, 5)};
    QTest::newRow("ends on the boundary") << Vector3f(-5, 5, 5) << Vector3f(0, 5, 5) << QList<Vector3f>();
    QTest::newRow("misses past an edge") << Vector3f(-5, 8, 5) << Vector3f(3, 16, 5) << QList<Vector3f>();
    QTest::newRow("in through x, out through y")
        << Vector3f(-2, 4, 5) << Vector3f(8, 14, 5) << QList<Vector3f>{Vector3f(0, 6, 5), Vector3f(4, 10, 5)};
}

void TestCuboid::clipSegment()
{
    QFETCH(Vector3f, p0);
    QFETCH(Vector3f, p1);
    QFETCH(QList<Vector3f>, expected);
    QCOMPARE(box(0, 0, 0, 10, 10, 10).clipSegment(p0, p1), expected);
}

void TestCuboid::debugText_data()
{
    QTest::addColumn<Cuboid>("b");
    QTest::addColumn<QString>("expected");
    QTest::newRow("null") << Cuboid() << QStringLiteral("Cuboid(invalid) ");
    QTest::newRow("box") << box(1, 2, 3, 5, 7, 9.5f) << QStringLiteral("Cuboid(1, 2, 3 : 4 x 5 x 6.5) ");
    QTest::newRow("flat") << box(1, 2, 3, 1, 4, 3) << QStringLiteral("Cuboid(1, 2, 3 : 0 x 2 x 0) ");
    QTest::newRow("inverted") << box(1, 1, 1, 0, 0, 0) << QStringLiteral("Cuboid(1, 1, 1 : -1 x -1 x -1) ");
    QTest::newRow("six digits") << box(1.0f / 3, 0, 1e7f, 1, 1, 2e7f)
                                << QStringLiteral("Cuboid(0.333333, 0, 1e+07 : 0.666667 x 1 x 1e+07) ");
}

void TestCuboid::debugText()
{
    QFETCH(Cuboid, b);
    QFETCH(QString, expected);
    QCOMPARE(valuetest::debugText(b), expected);
}

QTEST_GUILESS_MAIN(TestCuboid)
#include "tst_cuboid.moc"
