#include "geom/core/vector2f.h"

#include "valuesupport.h"

#include <QtTest>
#include <cmath>
#include <limits>

using geom::Vector2d;
using geom::Vector2f;

namespace {
const float NaN = std::numeric_limits<float>::quiet_NaN();
} // namespace

class TestVector2f : public QObject
{
    Q_OBJECT

private slots:
    void conversionsAndOrder();
    void mixedArithmetic();
    void fuzzyCompare_data();
    void fuzzyCompare();
    void lengthAndSetLength_data();
    void lengthAndSetLength();
    void minimizeMaximize();
    void power_data();
    void power();
    void textForms();
    void binaryArrays();
};

void TestVector2f::conversionsAndOrder()
{
    QCOMPARE(Vector2f(), Vector2f(0, 0));
    QCOMPARE(Vector2f::Zero, Vector2f(0, 0));
    // Narrowing rounds to the nearest float.
    QCOMPARE(Vector2f(Vector2d(0.1, 1.0 + 1e-12)), Vector2f(0.1f, 1.0f));
    QVERIFY(Vector2f(NaN, 0) != Vector2f(NaN, 0));
    QVERIFY(!(Vector2f(1, 2) != Vector2f(1, 2)));
    QVERIFY(Vector2f(-0.0f, 0) == Vector2f(0, 0));
    // Ordered by x, then y.
    QVERIFY(Vector2f(1, 9) < Vector2f(2, 0));
    QVERIFY(Vector2f(1, 1) < Vector2f(1, 2));
    QVERIFY(!(Vector2f(1, 2) < Vector2f(1, 2)));
    QVERIFY(!(Vector2f(2, 0) < Vector2f(1, 9)));
}

void TestVector2f::mixedArithmetic()
{
    // The sum is formed in double and rounded once: 2^24 + (1 + 2^-25) lies above the midpoint and
    // rounds up to 2^24 + 2, where the float sum of the rounded operands (1 + 2^-25 is the float 1)
    // would be a tie and stay at 2^24.
    const float big = 16777216.0f;
    const double justOverOne = 1.0 + std::ldexp(1.0, -25);
    QCOMPARE(float(justOverOne), 1.0f);
    QCOMPARE(Vector2f(big, 1) + Vector2d(justOverOne, 0.25), Vector2f(big + 2.0f, 1.25f));
    QCOMPARE(Vector2f(big, 1) - Vector2d(-justOverOne, 0.25), Vector2f(big + 2.0f, 0.75f));
    Vector2f v(1, 2);
    v += Vector2f(0.5f, 0.5f);
    QCOMPARE(v, Vector2f(1.5f, 2.5f));
    v -= Vector2f(1.5f, 2.5f);
    QCOMPARE(v, Vector2f());
}

void TestVector2f::fuzzyCompare_data()
{
    QTest::addColumn<Vector2f>("a");
    QTest::addColumn<Vector2d>("b");
    QTest::addColumn<bool>("equal");
    QTest::newRow("identical") << Vector2f(1, 2) << Vector2d(1, 2) << true;
    QTest::newRow("within on x") << Vector2f(1, 2) << Vector2d(1 + 9e-6, 2) << true;
    QTest::newRow("beyond on x") << Vector2f(1, 2) << Vector2d(1 + 2e-5, 2) << false;
    QTest::newRow("beyond on y") << Vector2f(1, 2) << Vector2d(1, 2 - 2e-5) << false;
    // An absolute tolerance: large coordinates get no more room than small ones.
    QTest::newRow("absolute at 1e6") << Vector2f(1e6f, 0) << Vector2d(1e6 + 0.5, 0) << false;
    QTest::newRow("at the tolerance") << Vector2f(0, 0) << Vector2d(double(1e-5f), 0) << true;
    QTest::newRow("just past the tolerance")
        << Vector2f(0, 0) << Vector2d(0, double(std::nextafter(1e-5f, 1.0f))) << false;
    QTest::newRow("nan") << Vector2f(NaN, 0) << Vector2d(0, 0) << false;
}

void TestVector2f::fuzzyCompare()
{
    QFETCH(Vector2f, a);
    QFETCH(Vector2d, b);
    QFETCH(bool, equal);
    QCOMPARE(geom::fuzzyCompare(a, b), equal);
}

void TestVector2f::lengthAndSetLength_data()
{
    QTest::addColumn<Vector2f>("v");
    QTest::addColumn<double>("length");
    QTest::addColumn<Vector2f>("unit");
    QTest::newRow("3-4") << Vector2f(3, 4) << 5.0 << Vector2f(0.6f, 0.8f);
    QTest::newRow("1e-6 is zero") << Vector2f(0, 1e-6f) << 0.0 << Vector2f();
    QTest::newRow("1e-5") << Vector2f(1e-5f, 0) << double(1e-5f) << Vector2f(1, 0);
    QTest::newRow("zero") << Vector2f() << 0.0 << Vector2f();
    QTest::newRow("nan") << Vector2f(NaN, 0) << double(NaN) << Vector2f();
}

void TestVector2f::lengthAndSetLength()
{
    QFETCH(Vector2f, v);
    QFETCH(double, length);
    QFETCH(Vector2f, unit);
    QUARN_COMPARE_EXACT(v.length(), length);
    Vector2f u = v;
    QCOMPARE(&u.setLength(1.0), &u);
    QCOMPARE(u, unit);
    Vector2f w(3, 4);
    QCOMPARE(w.setLength(5.0), Vector2f(3, 4));
}

void TestVector2f::minimizeMaximize()
{
    Vector2f lo(1, NaN);
    lo.minimize(Vector2f(0, 0));
    QCOMPARE(lo.x, 0.0f);
    QVERIFY(std::isnan(lo.y));
    Vector2f hi(1, 5);
    hi.maximize(Vector2f(3, NaN));
    QCOMPARE(hi, Vector2f(3, 5));
}

void TestVector2f::power_data()
{
    QTest::addColumn<Vector2f>("v");
    QTest::addColumn<int>("n");
    QTest::addColumn<Vector2f>("expected");
    QTest::newRow("square") << Vector2f(2, -3) << 2 << Vector2f(4, 9);
    QTest::newRow("cube keeps sign") << Vector2f(-2, 0.5f) << 3 << Vector2f(-8, 0.125f);
    QTest::newRow("reciprocal") << Vector2f(4, -3) << -1 << Vector2f(0.25f, float(-1.0 / 3.0));
    QTest::newRow("zeroth") << Vector2f(7, 0) << 0 << Vector2f(1, 1);
    QTest::newRow("overflow") << Vector2f(1e20f, 2) << 2
                              << Vector2f(std::numeric_limits<float>::infinity(), 4);
}

void TestVector2f::power()
{
    QFETCH(Vector2f, v);
    QFETCH(int, n);
    QFETCH(Vector2f, expected);
    QCOMPARE(geom::pow(v, n), expected);
    Vector2f w = v;
    QCOMPARE(&w.powAssign(n), &w);
    QCOMPARE(w, expected);
}

void TestVector2f::textForms()
{
    QCOMPARE(valuetest::debugText(Vector2f(0.5f, -1)), QStringLiteral("P(0.5, -1) "));

    QString text;
    QTextStream out(&text);
    out << Vector2f(1.5f, -2);
    out.flush();
    QCOMPARE(text, QStringLiteral("1.5,-2"));

    const QLocale nbsp = valuetest::noBreakSpaceLocale();
    if (nbsp != QLocale::c()) {
        QString spaced;
        QTextStream s(&spaced);
        s.setLocale(nbsp);
        s << Vector2f(1, 2);
        s.flush();
        QCOMPARE(spaced, QStringLiteral("1 2"));
    }

    QString input = QStringLiteral("1.5,-2 3;4");
    QTextStream in(&input);
    Vector2f a, b;
    in >> a >> b;
    QCOMPARE(a, Vector2f(1.5f, -2));
    QCOMPARE(b, Vector2f(3, 4));
    QCOMPARE(in.status(), QTextStream::Ok);
}

void TestVector2f::binaryArrays()
{
    valuetest::checkArrayForms<Vector2f>(
        geom::writeVector2fArray, geom::readVector2fArray,
        {Vector2f(1, 2), Vector2f(-0.5f, 3e38f), Vector2f(1e-42f, -0.0f), Vector2f(7, 8)});
}

QTEST_GUILESS_MAIN(TestVector2f)
#include "tst_vector2f.moc"
