#include "geom/core/vector2d.h"

#include "valuesupport.h"

#include <QtTest>
#include <cmath>
#include <limits>

using geom::Vector2d;
using geom::Vector2f;

namespace {
const double NaN = std::numeric_limits<double>::quiet_NaN();
} // namespace

class TestVector2d : public QObject
{
    Q_OBJECT

private slots:
    void conversions();
    void lengthAndSetLength_data();
    void lengthAndSetLength();
    void minimizeMaximizeAndPower();
    void textForms();
    void binaryArrays();
};

void TestVector2d::conversions()
{
    QCOMPARE(Vector2d(), Vector2d(0, 0));
    QCOMPARE(Vector2d::Zero, Vector2d(0, 0));
    // Widening keeps the float's exact value.
    QCOMPARE(Vector2d(Vector2f(0.1f, -2)), Vector2d(double(0.1f), -2));
    // The narrowing copy into an out-parameter rounds to the nearest float.
    Vector2f out(9, 9);
    Vector2d(0.1, 1.0 + 1e-12).copyTo(out);
    QCOMPARE(out, Vector2f(0.1f, 1.0f));
    QVERIFY(Vector2d(NaN, 0) != Vector2d(NaN, 0));
}

void TestVector2d::lengthAndSetLength_data()
{
    QTest::addColumn<Vector2d>("v");
    QTest::addColumn<double>("length");
    QTest::addColumn<Vector2d>("unit");
    QTest::newRow("3-4") << Vector2d(3, 4) << 5.0 << Vector2d(0.6, 0.8);
    QTest::newRow("squared 1e-12 is zero") << Vector2d(1e-6, 0) << 0.0 << Vector2d();
    QTest::newRow("just above the bound") << Vector2d(0, 1.001e-6) << 1.001e-6 << Vector2d(0, 1);
    QTest::newRow("nan") << Vector2d(0, NaN) << NaN << Vector2d();
}

void TestVector2d::lengthAndSetLength()
{
    QFETCH(Vector2d, v);
    QFETCH(double, length);
    QFETCH(Vector2d, unit);
    QUARN_COMPARE_EXACT(v.length(), length);
    Vector2d u = v;
    QCOMPARE(&u.setLength(1.0), &u);
    QCOMPARE(u.x, unit.x);
    QCOMPARE(u.y, unit.y);
}

void TestVector2d::minimizeMaximizeAndPower()
{
    Vector2d lo(1, NaN);
    lo.minimize(Vector2d(0, 0));
    QCOMPARE(lo.x, 0.0);
    QVERIFY(std::isnan(lo.y));
    Vector2d hi(1, 5);
    hi.maximize(Vector2d(3, 4));
    QCOMPARE(hi, Vector2d(3, 5));

    QCOMPARE(geom::pow(Vector2d(2, -3), 2), Vector2d(4, 9));
    QCOMPARE(geom::pow(Vector2d(4, -2), -1), Vector2d(0.25, -0.5));
    Vector2d p(-2, 10);
    QCOMPARE(&p.powAssign(3), &p);
    QCOMPARE(p, Vector2d(-8, 1000));
}

void TestVector2d::textForms()
{
    QCOMPARE(valuetest::debugText(Vector2d(0.5, -1)), QStringLiteral("P(0.5, -1) "));

    QString text;
    QTextStream out(&text);
    out.setRealNumberPrecision(17);
    out << Vector2d(0.1, -2);
    out.flush();
    QCOMPARE(text, QStringLiteral("0.10000000000000001,-2"));

    // Read back in double: no rounding through float.
    QTextStream in(&text);
    Vector2d v;
    in >> v;
    QCOMPARE(v, Vector2d(0.1, -2));
    QCOMPARE(in.status(), QTextStream::Ok);
}

void TestVector2d::binaryArrays()
{
    valuetest::checkArrayForms<Vector2d>(geom::writeVector2dArray, geom::readVector2dArray,
                                         {Vector2d(1, 2), Vector2d(0.1, -1e300), Vector2d(5e-324, -0.0)});
}

QTEST_GUILESS_MAIN(TestVector2d)
#include "tst_vector2d.moc"
