#include "geom/core/fuzzy.h"

#include "valuesupport.h"

#include <QtTest>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

using geom::Fuzzy;

namespace {
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

template <typename T, typename Bits>
Bits bitsOf(T v)
{
    Bits b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// The six comparisons of a against b, in the order ==, !=, <, <=, >, >=.
template <typename T>
QVector<bool> compareAll(T a, T b)
{
    const Fuzzy<T> f(a);
    return {f == b, f != b, f<b, f <= b, f> b, f >= b};
}
} // namespace

class TestFuzzy : public QObject
{
    Q_OBJECT

private slots:
    void constants();
    void comparisons_data();
    void comparisons();
    void mixedOperands();
    void classification_data();
    void classification();
    void tolerance();
    void arithmetic();
    void integerPower_data();
    void integerPower();
    void roundToMultiple_data();
    void roundToMultiple();
};

void TestFuzzy::constants()
{
    QCOMPARE((bitsOf<double, quint64>(Fuzzy<double>::epsilon)), Q_UINT64_C(0x3CB0000000000000));
    QCOMPARE((bitsOf<double, quint64>(Fuzzy<double>::largest)), Q_UINT64_C(0x7FEFFFFFFFFFFFFF));
    QCOMPARE(Fuzzy<double>::factor, 1e-12);
    QCOMPARE((bitsOf<float, quint32>(Fuzzy<float>::epsilon)), 0x34000000u);
    QCOMPARE((bitsOf<float, quint32>(Fuzzy<float>::largest)), 0x7F7FFFFFu);
    QUARN_COMPARE_EXACT(Fuzzy<float>::factor, 9.99999975e-06f);
    QCOMPARE(Fuzzy<double>().value(), 0.0);
}

void TestFuzzy::comparisons_data()
{
    // Each row gives ==, !=, <, <=, >, >= of a against b; "f" rows compare in float.
    QTest::addColumn<bool>("single");
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::addColumn<QVector<bool>>("expected");
    const QVector<bool> equal{true, false, false, true, false, true};
    const QVector<bool> less{false, true, true, true, false, false};
    const QVector<bool> greater{false, true, false, false, true, true};
    const QVector<bool> none{false, true, false, false, false, false};

    QTest::newRow("1 vs 1 + 1e-13") << false << 1.0 << 1.0 + 1e-13 << equal;
    QTest::newRow("1 vs 1 + 1e-11") << false << 1.0 << 1.0 + 1e-11 << less;
    QTest::newRow("1 + 1e-11 vs 1") << false << 1.0 + 1e-11 << 1.0 << greater;
    QTest::newRow("1e6 vs 1e6 + 1e-7") << false << 1e6 << 1e6 + 1e-7 << equal;
    QTest::newRow("just inside the tolerance") << false << 1e3 << 1e3 * (1 + 0.9e-12) << equal;
    QTest::newRow("just outside the tolerance") << false << 1e3 << 1e3 * (1 + 1.1e-12) << less;
    // The tolerance follows the smaller magnitude, so a comparison with 0 is exact.
    QTest::newRow("0 vs 1e-300") << false << 0.0 << 1e-300 << less;
    QTest::newRow("-1e-300 vs 0") << false << -1e-300 << 0.0 << less;
    QTest::newRow("-0 vs 0") << false << -0.0 << 0.0 << equal;
    QTest::newRow("infinities") << false << Inf << Inf << equal;
    QTest::newRow("nan vs 1") << false << NaN << 1.0 << none;
    QTest::newRow("1 vs nan") << false << 1.0 << NaN << none;
    QTest::newRow("nan vs nan") << false << NaN << NaN << none;

    QTest::newRow("f 1 vs 1.000009") << true << 1.0 << double(1.000009f) << equal;
    QTest::newRow("f 1 vs 1.00002") << true << 1.0 << double(1.00002f) << less;
    QTest::newRow("f 100 vs 100.0005") << true << 100.0 << double(100.0005f) << equal;
    QTest::newRow("f 0 vs 1e-30") << true << 0.0 << 1e-30 << less;
    QTest::newRow("f nan vs 0") << true << NaN << 0.0 << none;
}

void TestFuzzy::comparisons()
{
    QFETCH(bool, single);
    QFETCH(double, a);
    QFETCH(double, b);
    QFETCH(QVector<bool>, expected);
    if (single)
        QCOMPARE(compareAll<float>(float(a), float(b)), expected);
    else
        QCOMPARE(compareAll<double>(a, b), expected);
    // A wrapper on both sides compares the same way.
    if (!single)
        QCOMPARE(Fuzzy<double>(a) == Fuzzy<double>(b), expected[0]);
}

void TestFuzzy::mixedOperands()
{
    // An int or the other precision is converted, never compared exactly by the built-in rule.
    QVERIFY(Fuzzy<double>(0.0) == 0);
    QVERIFY(Fuzzy<double>(2.0 + 1e-13) == 2);
    QVERIFY(Fuzzy<float>(1.000009f) == 1.0);
    // The plain value on the left is compared with tolerance as well.
    QVERIFY(1.0 + 1e-13 == Fuzzy<double>(1.0));
    QVERIFY(!(1.0 + 1e-13 != Fuzzy<double>(1.0)));
    QVERIFY(1.0 < Fuzzy<double>(1.0 + 1e-11));
    QVERIFY(!(1.0 < Fuzzy<double>(1.0 + 1e-13)));
    QVERIFY(2 >= Fuzzy<double>(2.0 + 1e-13));
    QVERIFY(2 > Fuzzy<double>(1.0));
    QVERIFY(3 <= Fuzzy<double>(3.0));
}

void TestFuzzy::classification_data()
{
    QTest::addColumn<bool>("single");
    QTest::addColumn<double>("v");
    QTest::addColumn<bool>("zero");
    QTest::addColumn<bool>("finite");
    QTest::addColumn<bool>("nan");
    QTest::newRow("1e-16 is zero") << false << 1e-16 << true << true << false;
    QTest::newRow("1e-15 is not") << false << 1e-15 << false << true << false;
    QTest::newRow("epsilon is zero") << false << DBL_EPSILON << true << true << false;
    QTest::newRow("-epsilon is zero") << false << -DBL_EPSILON << true << true << false;
    QTest::newRow("past epsilon") << false << std::nextafter(DBL_EPSILON, 1.0) << false << true << false;
    QTest::newRow("largest is finite") << false << -DBL_MAX << false << true << false;
    QTest::newRow("infinity") << false << Inf << false << false << false;
    QTest::newRow("nan") << false << NaN << false << false << true;
    QTest::newRow("f epsilon is zero") << true << double(FLT_EPSILON) << true << true << false;
    QTest::newRow("f 1e-6 is not") << true << 1e-6 << false << true << false;
    QTest::newRow("f largest is finite") << true << double(FLT_MAX) << false << true << false;
    QTest::newRow("f infinity") << true << Inf << false << false << false;
    QTest::newRow("f nan") << true << NaN << false << false << true;
}

void TestFuzzy::classification()
{
    QFETCH(bool, single);
    QFETCH(double, v);
    QFETCH(bool, zero);
    QFETCH(bool, finite);
    QFETCH(bool, nan);
    if (single) {
        const Fuzzy<float> f{float(v)};
        QCOMPARE(f.isZero(), zero);
        QCOMPARE(!f, zero);
        QCOMPARE(f.isNonZero(), !zero);
        QCOMPARE(f.isFinite(), finite);
        QCOMPARE(f.isNaN(), nan);
    } else {
        const Fuzzy<double> f(v);
        QCOMPARE(f.isZero(), zero);
        QCOMPARE(!f, zero);
        QCOMPARE(f.isNonZero(), !zero);
        QCOMPARE(f.isFinite(), finite);
        QCOMPARE(f.isNaN(), nan);
    }
}

void TestFuzzy::tolerance()
{
    QCOMPARE(Fuzzy<double>(-2e6).tolerance(), 2e6 * 1e-12);
    QCOMPARE(Fuzzy<double>(5.0).tolerance(0.0), 0.0);
    QCOMPARE(Fuzzy<double>(0.0).tolerance(5.0), 0.0);
    QCOMPARE(Fuzzy<double>(-3.0).tolerance(7.0), 3.0 * 1e-12);
    QUARN_COMPARE_EXACT(Fuzzy<float>(100.0f).tolerance(-200.0f), 100.0f * 1e-5f);
}

void TestFuzzy::arithmetic()
{
    const Fuzzy<double> f(-7.5);
    QCOMPARE(f + 1, -6.5);
    QCOMPARE(f - 0.5, -8.0);
    QCOMPARE(f * 2, -15.0);
    QCOMPARE(f / 2, -3.75);
    // The remainder keeps the sign of the wrapped value.
    QCOMPARE(f % 2.0, -1.5);
    QCOMPARE(Fuzzy<double>(2.0) ^ 0.5, std::sqrt(2.0));
    QVERIFY(std::isnan(Fuzzy<double>(1.0) % 0.0));

    Fuzzy<double> g(3.0);
    QCOMPARE(&(g += 1.0), &g);
    QCOMPARE(g.value(), 4.0);
    g -= 1.0;
    g *= 4.0;
    g /= 3.0;
    QCOMPARE(g.value(), 4.0);
    g %= 3.0;
    QCOMPARE(g.value(), 1.0);
    g = 3.0;
    g ^= 2;
    QCOMPARE(g.value(), 9.0);
    g ^= 0.5;
    QCOMPARE(double(g), 3.0);
}

void TestFuzzy::integerPower_data()
{
    QTest::addColumn<double>("v");
    QTest::addColumn<int>("n");
    QTest::addColumn<double>("expected");
    QTest::newRow("2^10") << 2.0 << 10 << 1024.0;
    QTest::newRow("(-2)^3") << -2.0 << 3 << -8.0;
    QTest::newRow("2^-2") << 2.0 << -2 << 0.25;
    QTest::newRow("x^0") << 123.0 << 0 << 1.0;
    QTest::newRow("0^-1") << 0.0 << -1 << Inf;
    // Large exponents end early once the result can only change its sign.
    QTest::newRow("(-1)^INT_MAX") << -1.0 << INT_MAX << -1.0;
    QTest::newRow("(-1)^(INT_MAX - 1)") << -1.0 << INT_MAX - 1 << 1.0;
    QTest::newRow("(-3)^INT_MAX") << -3.0 << INT_MAX << -Inf;
    QTest::newRow("0.5^INT_MIN") << 0.5 << INT_MIN << Inf;
    QTest::newRow("(-0.5)^(INT_MAX)") << -0.5 << INT_MAX << -0.0;
}

void TestFuzzy::integerPower()
{
    QFETCH(double, v);
    QFETCH(int, n);
    QFETCH(double, expected);
    const double r = Fuzzy<double>(v) ^ n;
    QVERIFY2(valuetest::sameBits(r, expected), qPrintable(QString::number(r)));
}

void TestFuzzy::roundToMultiple_data()
{
    QTest::addColumn<double>("v");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("expected");
    QTest::newRow("half up") << 0.375 << 0.25 << 0.5;
    QTest::newRow("half away from zero") << -0.375 << 0.25 << -0.5;
    QTest::newRow("down") << 0.3 << 0.25 << 0.25;
    QTest::newRow("integer step") << 2.5 << 1.0 << 3.0;
    QTest::newRow("zero step") << 1.0 << 0.0 << NaN;
}

void TestFuzzy::roundToMultiple()
{
    QFETCH(double, v);
    QFETCH(double, step);
    QFETCH(double, expected);
    Fuzzy<double> d(v);
    QCOMPARE(&d.roundToMultiple(step), &d);
    QUARN_COMPARE_EXACT(d.value(), expected);
    Fuzzy<float> f{float(v)};
    f.roundToMultiple(float(step));
    QUARN_COMPARE_EXACT(f.value(), float(expected));
}

QTEST_GUILESS_MAIN(TestFuzzy)
#include "tst_fuzzy.moc"
