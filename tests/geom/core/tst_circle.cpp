#include "geom/core/circle.h"

#include "valuesupport.h"

#include <QtTest>
#include <cmath>
#include <limits>

using geom::Vector2d;
using geom::Vector2f;
using Circle = geom::Circle<float>;
using CircleD = geom::Circle<double>;

namespace {
const float NaN = std::numeric_limits<float>::quiet_NaN();

Circle circle(float x, float y, float r)
{
    return Circle(Vector2f(x, y), r);
}

// Centre and radius compared exactly.
bool same(const Circle &a, const Circle &b)
{
    return a.center() == b.center() && a.radius() == b.radius();
}

QByteArray describe(const Circle &c)
{
    return valuetest::debugText(c).toUtf8();
}

#define COMPARE_CIRCLE(actual, expected)                                                                     \
    QVERIFY2(same(actual, expected),                                                                         \
             QByteArray(describe(actual) + "instead of " + describe(expected)).constData())
} // namespace

class TestCircle : public QObject
{
    Q_OBJECT

private slots:
    void states_data();
    void states();
    void constructionAndSetters();
    void growth();
    void intersects_data();
    void intersects();
    void intersect_data();
    void intersect();
    void unite_data();
    void unite();
    void nearlyConcentricUnion();
    void containment();
    void arithmetic();
    void measures();
    void mapped();
    void doublePrecision();
};

void TestCircle::states_data()
{
    QTest::addColumn<Circle>("c");
    QTest::addColumn<bool>("null");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("text");
    QTest::newRow("default") << Circle() << true << false << QStringLiteral("Circle(invalid) ");
    QTest::newRow("single point") << circle(1, 2, 0) << false << false << QStringLiteral("Circle(1, 2 : 0) ");
    QTest::newRow("circle") << circle(1, -2, 3.5f) << false << true << QStringLiteral("Circle(1, -2 : 3.5) ");
    QTest::newRow("nan radius") << circle(0, 0, NaN) << false << false
                                << QStringLiteral("Circle(0, 0 : nan) ");
}

void TestCircle::states()
{
    QFETCH(Circle, c);
    QFETCH(bool, null);
    QFETCH(bool, valid);
    QFETCH(QString, text);
    QCOMPARE(c.isNull(), null);
    QCOMPARE(c.isValid(), valid);
    QCOMPARE(c.isEmpty(), !valid);
    QCOMPARE(valuetest::debugText(c), text);
}

void TestCircle::constructionAndSetters()
{
    COMPARE_CIRCLE(Circle(), circle(0, 0, -1));
    // From the ends of a diameter.
    COMPARE_CIRCLE(Circle(Vector2f(0, 0), Vector2f(2, 0)), circle(1, 0, 1));
    COMPARE_CIRCLE(Circle(Vector2f(1, 1), Vector2f(4, 5)), circle(2.5f, 3, 2.5f));

    Circle c;
    c.setCenter(Vector2f(3, 4));
    c.setDiameter(5);
    COMPARE_CIRCLE(c, circle(3, 4, 2.5f));
    QCOMPARE(c.diameter(), 5.0f);
    QCOMPARE(c.squaredRadius(), 6.25f);
    c.setRadius(1);
    QCOMPARE(c.radius(), 1.0f);
    c.reset();
    COMPARE_CIRCLE(c, Circle());
}

void TestCircle::growth()
{
    Circle c;
    c.expand(Vector2f(0, 0));
    COMPARE_CIRCLE(c, circle(0, 0, 0));
    QVERIFY(!c.isNull() && !c.isValid() && c.isEmpty());
    c.expand(Vector2f(2, 0));
    COMPARE_CIRCLE(c, circle(1, 0, 1));
    c.expand(Vector2f(1, 0.5f));
    COMPARE_CIRCLE(c, circle(1, 0, 1));
    // A point on the circle changes nothing either.
    c.expand(Vector2f(1, 1));
    COMPARE_CIRCLE(c, circle(1, 0, 1));
    // Beyond: the new circle spans from the far side of the old one to the point.
    c.expand(Vector2f(4, 0));
    COMPARE_CIRCLE(c, circle(2, 0, 2));

    const Vector2f pts[] = {Vector2f(0, 0), Vector2f(2, 0), Vector2f(1, 0.5f), Vector2f(4, 0)};
    Circle fromArray;
    fromArray.expand(pts, 4);
    COMPARE_CIRCLE(fromArray, c);
    Circle fromVector;
    fromVector.expand(QVector<Vector2f>(std::begin(pts), std::end(pts)));
    COMPARE_CIRCLE(fromVector, c);
    Circle untouched;
    untouched.expand(nullptr, 3);
    untouched.expand(pts, 0);
    untouched.expand(pts, -1);
    COMPARE_CIRCLE(untouched, Circle());

    // Every point grown over stays inside (with float rounding to spare).
    Circle all;
    QVector<Vector2f> cloud;
    for (int i = 0; i < 50; ++i)
        cloud.append(
            Vector2f(float(std::cos(i * 2.4)) * float(i % 7), float(std::sin(i * 1.7)) * float(i % 5)));
    all.expand(cloud);
    for (const Vector2f &p : cloud)
        QVERIFY((p - all.center()).length() <= double(all.radius()) * (1 + 1e-6));
}

void TestCircle::intersects_data()
{
    QTest::addColumn<Circle>("a");
    QTest::addColumn<Circle>("b");
    QTest::addColumn<bool>("expected");
    QTest::newRow("touching") << circle(0, 0, 1) << circle(2, 0, 1) << true;
    QTest::newRow("overlapping") << circle(0, 0, 1) << circle(1, 0, 1) << true;
    QTest::newRow("apart") << circle(0, 0, 1) << circle(3, 0, 1) << false;
    QTest::newRow("inside") << circle(0, 0, 5) << circle(1, 0, 1) << true;
    QTest::newRow("null") << circle(0, 0, 1) << Circle() << false;
    QTest::newRow("points") << circle(1, 1, 0) << circle(1, 1, 0) << true;
}

void TestCircle::intersects()
{
    QFETCH(Circle, a);
    QFETCH(Circle, b);
    QFETCH(bool, expected);
    QCOMPARE(a.intersects(b), expected);
    QCOMPARE(b.intersects(a), expected);
}

void TestCircle::intersect_data()
{
    QTest::addColumn<Circle>("a");
    QTest::addColumn<Circle>("b");
    QTest::addColumn<Circle>("expected");
    QTest::newRow("touching: the touching point") << circle(0, 0, 1) << circle(2, 0, 1) << circle(1, 0, 0);
    QTest::newRow("overlapping: the chord")
        << circle(0, 0, 1) << circle(1, 0, 1) << circle(0.5f, 0, float(std::sqrt(0.75f)));
    QTest::newRow("unequal: at r0 / (r0 + r1)")
        << circle(0, 0, 2) << circle(0, 3, 2) << circle(0, 1.5f, float(std::sqrt(4.0f - 2.25f)));
    QTest::newRow("apart: null") << circle(0, 0, 1) << circle(3, 0, 1) << Circle();
    QTest::newRow("null this stays") << Circle() << circle(0, 0, 1) << Circle();
    QTest::newRow("null other nulls") << circle(5, 5, 1) << Circle() << Circle();
    // One inside the other: the inner one, which lies within both.
    QTest::newRow("other inside") << circle(0, 0, 5) << circle(1, 0, 1) << circle(1, 0, 1);
    QTest::newRow("this inside") << circle(1, 0, 1) << circle(0, 0, 5) << circle(1, 0, 1);
    QTest::newRow("same circle") << circle(1, 2, 3) << circle(1, 2, 3) << circle(1, 2, 3);
    QTest::newRow("touching inside") << circle(0, 0, 2) << circle(1, 0, 1) << circle(1, 0, 1);
}

void TestCircle::intersect()
{
    QFETCH(Circle, a);
    QFETCH(Circle, b);
    QFETCH(Circle, expected);
    COMPARE_CIRCLE(a.intersected(b), expected);
    COMPARE_CIRCLE(a & b, expected);
    Circle c = a;
    QCOMPARE(&(c &= b), &c);
    COMPARE_CIRCLE(c, expected);
}

void TestCircle::unite_data()
{
    QTest::addColumn<Circle>("a");
    QTest::addColumn<Circle>("b");
    QTest::addColumn<Circle>("expected");
    QTest::newRow("null this copies") << Circle() << circle(1, 2, 3) << circle(1, 2, 3);
    QTest::newRow("null other") << circle(1, 2, 3) << Circle() << circle(1, 2, 3);
    QTest::newRow("same centre, larger radius") << circle(1, 1, 1) << circle(1, 1, 4) << circle(1, 1, 4);
    QTest::newRow("same centre, keeps larger") << circle(1, 1, 4) << circle(1, 1, 1) << circle(1, 1, 4);
    QTest::newRow("apart") << circle(0, 0, 1) << circle(4, 0, 1) << circle(2, 0, 3);
    QTest::newRow("unequal apart") << circle(0, 0, 1) << circle(0, 5, 2) << circle(0, 3, 4);
    // One inside the other: the outer one is the smallest circle holding both.
    QTest::newRow("other inside") << circle(0, 0, 5) << circle(1, 0, 1) << circle(0, 0, 5);
    QTest::newRow("this inside") << circle(1, 0, 1) << circle(0, 0, 5) << circle(0, 0, 5);
    QTest::newRow("touching inside") << circle(1, 0, 1) << circle(0, 0, 2) << circle(0, 0, 2);
}

void TestCircle::unite()
{
    QFETCH(Circle, a);
    QFETCH(Circle, b);
    QFETCH(Circle, expected);
    COMPARE_CIRCLE(a.united(b), expected);
    COMPARE_CIRCLE(a | b, expected);
    Circle c = a;
    QCOMPARE(&(c |= b), &c);
    COMPARE_CIRCLE(c, expected);
}

void TestCircle::nearlyConcentricUnion()
{
    // Centres 1e-7 apart: below the unit direction's cut-off, yet neither circle holds the other.
    const Circle a = circle(0, 0, 1);
    const Circle b = circle(1e-7f, 0, 1);
    const Circle u = a | b;
    QVERIFY(!u.isNull());
    QVERIFY(std::isfinite(u.center().x) && std::isfinite(u.radius()));
    QVERIFY(u.radius() >= 1.0f && u.radius() <= 1.000001f);
    QVERIFY(std::fabs(u.center().x - 5e-8f) <= 1e-7f);
}

void TestCircle::containment()
{
    const Circle c = circle(0, 0, 1);
    QVERIFY(c.contains(Vector2f(1, 0)));
    QVERIFY(c.contains(Vector2f(0, -1)));
    QVERIFY(c.contains(Vector2f(0.5f, 0.5f)));
    QVERIFY(!c.contains(Vector2f(1.0001f, 0)));
    QVERIFY(!c.contains(Vector2f(NaN, 0)));
    // The sign of the radius is not looked at.
    QVERIFY(circle(0, 0, -1).contains(Vector2f(0.5f, 0)));

    QVERIFY(circle(0, 0, 5).contains(circle(1, 0, 1)));
    QVERIFY(circle(0, 0, 2).contains(circle(1, 0, 1)));
    QVERIFY(c.contains(c));
    QVERIFY(!circle(1, 0, 1).contains(circle(0, 0, 5)));
    QVERIFY(!c.contains(circle(1, 0, 1)));
    QVERIFY(!c.contains(Circle()));
    QVERIFY(!Circle().contains(c));
}

void TestCircle::arithmetic()
{
    Circle c = circle(1, 2, 3);
    QCOMPARE(&(c *= -1.0f), &c);
    QVERIFY(c.isNull());
    COMPARE_CIRCLE(c, circle(-1, -2, -3));
    c = circle(2, 4, 6);
    c /= 2.0f;
    COMPARE_CIRCLE(c, circle(1, 2, 3));
    c += Vector2f(1, 1);
    c -= Vector2f(0, 2);
    COMPARE_CIRCLE(c, circle(2, 1, 3));
    COMPARE_CIRCLE(c + Vector2f(1, 1), circle(3, 2, 3));
    COMPARE_CIRCLE(c.translated(Vector2f(1, 1)), circle(3, 2, 3));
    COMPARE_CIRCLE(c - Vector2f(2, 1), circle(0, 0, 3));
    COMPARE_CIRCLE(c * 2.0f, circle(4, 2, 6));
    COMPARE_CIRCLE(c / 2.0f, circle(1, 0.5f, 1.5f));
}

void TestCircle::measures()
{
    const float pi = 3.1415927f;
    const Circle c = circle(0, 0, 2);
    QUARN_COMPARE_EXACT(c.area(), 2.0f * 2.0f * pi);
    QUARN_COMPARE_EXACT(c.circumference(), 4.0f * pi);
    // The radius as stored, null or not.
    QUARN_COMPARE_EXACT(Circle().area(), pi);
    QUARN_COMPARE_EXACT(CircleD(Vector2d(), 2).area(), 4 * M_PI);
    QUARN_COMPARE_EXACT(CircleD(Vector2d(), 2).circumference(), 4 * M_PI);
}

void TestCircle::mapped()
{
    const Circle c = circle(1, 1, 2);
    COMPARE_CIRCLE(c.mapped(QTransform()), c);
    COMPARE_CIRCLE(c.mapped(QTransform::fromTranslate(3, -1)), circle(4, 0, 2));
    COMPARE_CIRCLE(c.mapped(QTransform::fromScale(2, 3)), circle(1, 1, 6));
    QTransform rotation;
    rotation.rotate(30);
    const Circle r = c.mapped(rotation);
    QCOMPARE(r.center(), c.center());
    QVERIFY(std::fabs(r.radius() - 2.0f) < 1e-6f);
}

void TestCircle::doublePrecision()
{
    CircleD c;
    QVERIFY(c.isNull());
    c.expand(Vector2d(0, 0));
    c.expand(Vector2d(2, 0));
    QCOMPARE(c.center(), Vector2d(1, 0));
    QCOMPARE(c.radius(), 1.0);

    // The touching test uses the double tolerance 1e-12: a gap of 1e-9 is no longer touching.
    const CircleD touching = CircleD(Vector2d(0, 0), 1) & CircleD(Vector2d(2, 0), 1);
    QCOMPARE(touching.center(), Vector2d(1, 0));
    QCOMPARE(touching.radius(), 0.0);
    QVERIFY((CircleD(Vector2d(0, 0), 1) & CircleD(Vector2d(2 + 1e-9, 0), 1)).isNull());

    const CircleD chord = CircleD(Vector2d(0, 0), 1) & CircleD(Vector2d(1, 0), 1);
    QCOMPARE(chord.center(), Vector2d(0.5, 0));
    QCOMPARE(chord.radius(), std::sqrt(0.75));

    const CircleD u = CircleD(Vector2d(0, 0), 1) | CircleD(Vector2d(4, 0), 1);
    QCOMPARE(u.center(), Vector2d(2, 0));
    QCOMPARE(u.radius(), 3.0);
    QVERIFY(CircleD(Vector2d(0, 0), 1).contains(Vector2d(0.6, 0.8)));
}

QTEST_GUILESS_MAIN(TestCircle)
#include "tst_circle.moc"
