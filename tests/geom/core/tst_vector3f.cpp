#include "geom/core/vector3f.h"

#include "valuesupport.h"

#include <QLocale>
#include <QtTest>
#include <cmath>
#include <limits>

using geom::Vector2f;
using geom::Vector3f;

namespace {
const float NaN = std::numeric_limits<float>::quiet_NaN();
} // namespace

class TestVector3f : public QObject
{
    Q_OBJECT

private slots:
    void construction();
    void length_data();
    void length();
    void setLength_data();
    void setLength();
    void withLength_data();
    void withLength();
    void minimizeMaximize_data();
    void minimizeMaximize();
    void lerpAndProjection_data();
    void lerpAndProjection();
    void debugText();
    void textOut_data();
    void textOut();
    void textIn_data();
    void textIn();
    void binaryArrays();
};

void TestVector3f::construction()
{
    QCOMPARE(Vector3f(), Vector3f(0, 0, 0));
    QCOMPARE(Vector3f::Zero, Vector3f(0, 0, 0));
    QCOMPARE(Vector3f(Vector2f(1.5f, -2), 7), Vector3f(1.5f, -2, 7));
    Vector3f v(1, 2, 3);
    v += Vector3f(0.5f, 0.5f, 0.5f);
    QCOMPARE(v, Vector3f(1.5f, 2.5f, 3.5f));
    v -= Vector3f(1.5f, 2.5f, 3.5f);
    QCOMPARE(v, Vector3f::Zero);
    QVERIFY(Vector3f(NaN, 0, 0) != Vector3f(NaN, 0, 0));
}

void TestVector3f::length_data()
{
    QTest::addColumn<Vector3f>("v");
    QTest::addColumn<double>("expected");
    QTest::newRow("3-4-12") << Vector3f(3, 4, 12) << 13.0;
    QTest::newRow("squared 1e-14 is zero") << Vector3f(1e-7f, 0, 0) << 0.0;
    // the float 1e-6 squared lies just under 1e-12
    QTest::newRow("1e-6 is zero") << Vector3f(1e-6f, 0, 0) << 0.0;
    QTest::newRow("1e-5 widened") << Vector3f(0, 0, 1e-5f) << double(1e-5f);
    QTest::newRow("widened before squaring")
        << Vector3f(3e30f, 4e30f, 0) << std::hypot(double(3e30f), double(4e30f));
    QTest::newRow("nan") << Vector3f(NaN, 1, 1) << double(NaN);
}

void TestVector3f::length()
{
    QFETCH(Vector3f, v);
    QFETCH(double, expected);
    QUARN_COMPARE_EXACT(v.length(), expected);
}

void TestVector3f::setLength_data()
{
    QTest::addColumn<Vector3f>("v");
    QTest::addColumn<double>("length");
    QTest::addColumn<Vector3f>("expected");
    QTest::newRow("3-4 to 5") << Vector3f(3, 4, 0) << 5.0 << Vector3f(3, 4, 0);
    QTest::newRow("zero stays zero") << Vector3f() << 5.0 << Vector3f();
    QTest::newRow("tiny becomes zero") << Vector3f(1e-7f, 1e-7f, 0) << 1.0 << Vector3f();
    QTest::newRow("nan becomes zero") << Vector3f(NaN, 1, 2) << 1.0 << Vector3f();
    QTest::newRow("negative length flips") << Vector3f(0, 0, 2) << -1.0 << Vector3f(0, 0, -1);
    const double f = 1.0 / std::sqrt(3.0);
    QTest::newRow("unit diagonal, scaled in double")
        << Vector3f(1, 1, 1) << 1.0 << Vector3f(float(f), float(f), float(f));
}

void TestVector3f::setLength()
{
    QFETCH(Vector3f, v);
    QFETCH(double, length);
    QFETCH(Vector3f, expected);
    Vector3f &r = v.setLength(length);
    QCOMPARE(&r, &v);
    QCOMPARE(v, expected);
}

// Scaled in double without a floor: the direction of any finite non-zero vector survives.
void TestVector3f::withLength_data()
{
    QTest::addColumn<Vector3f>("v");
    QTest::addColumn<double>("length");
    QTest::addColumn<Vector3f>("expected");
    const float h = float(1 / std::sqrt(2.0));
    const double third = 1 / std::sqrt(3.0);
    QTest::newRow("as setLength above its floor")
        << Vector3f(1, 1, 1) << 1.0 << Vector3f(float(third), float(third), float(third));
    QTest::newRow("3-4 to 5") << Vector3f(3, 4, 0) << 5.0 << Vector3f(3, 4, 0);
    QTest::newRow("below setLength's floor") << Vector3f(1e-7f, 1e-7f, 0) << 1.0 << Vector3f(h, h, 0);
    QTest::newRow("subnormal float") << Vector3f(0, -1e-40f, 0) << 2.0 << Vector3f(0, -2, 0);
    QTest::newRow("squares beyond float") << Vector3f(3e38f, 0, 3e38f) << 1.0 << Vector3f(h, 0, h);
    QTest::newRow("zero") << Vector3f() << 1.0 << Vector3f();
    QTest::newRow("nan") << Vector3f(1, NaN, 0) << 1.0 << Vector3f();
    QTest::newRow("infinite") << Vector3f(1, 0, std::numeric_limits<float>::infinity()) << 1.0 << Vector3f();
}

void TestVector3f::withLength()
{
    QFETCH(Vector3f, v);
    QFETCH(double, length);
    QFETCH(Vector3f, expected);
    QCOMPARE(geom::withLength(v, length), expected);
    if (v.length() > 0 && std::isfinite(v.length()))
        QCOMPARE(geom::withLength(v, length), Vector3f(v).setLength(length));
}

void TestVector3f::minimizeMaximize_data()
{
    QTest::addColumn<Vector3f>("v");
    QTest::addColumn<Vector3f>("other");
    QTest::addColumn<Vector3f>("minimized");
    QTest::addColumn<Vector3f>("maximized");
    QTest::newRow("mixed") << Vector3f(1, 5, -2) << Vector3f(3, 2, -2) << Vector3f(1, 2, -2)
                           << Vector3f(3, 5, -2);
    QTest::newRow("nan in this stays")
        << Vector3f(NaN, 1, 1) << Vector3f(0, 0, 2) << Vector3f(NaN, 0, 1) << Vector3f(NaN, 1, 2);
    QTest::newRow("nan in other ignored")
        << Vector3f(1, 1, 1) << Vector3f(NaN, NaN, 0) << Vector3f(1, 1, 0) << Vector3f(1, 1, 1);
}

void TestVector3f::minimizeMaximize()
{
    QFETCH(Vector3f, v);
    QFETCH(Vector3f, other);
    QFETCH(Vector3f, minimized);
    QFETCH(Vector3f, maximized);
    Vector3f lo = v;
    lo.minimize(other);
    Vector3f hi = v;
    hi.maximize(other);
    for (int i = 0; i < 3; ++i) {
        QUARN_COMPARE_EXACT((&lo.x)[i], (&minimized.x)[i]);
        QUARN_COMPARE_EXACT((&hi.x)[i], (&maximized.x)[i]);
    }
}

void TestVector3f::lerpAndProjection_data()
{
    QTest::addColumn<Vector3f>("a");
    QTest::addColumn<Vector3f>("b");
    QTest::addColumn<float>("t");
    QTest::addColumn<Vector3f>("lerped");
    QTest::addColumn<Vector3f>("projection");
    // note: the normalise-then-rescale in float lands one unit in the last place below 1.
    QTest::newRow("diagonal onto x") << Vector3f(1, 1, 0) << Vector3f(2, 0, 0) << 0.5f
                                     << Vector3f(1.5f, 0.5f, 0) << Vector3f(std::nextafter(1.0f, 0.0f), 0, 0);
    QTest::newRow("along onto") << Vector3f(0, 2, 0) << Vector3f(0, 8, 0) << 0.5f << Vector3f(0, 5, 0)
                                << Vector3f(0, 2, 0);
    QTest::newRow("perpendicular") << Vector3f(0, 3, 0) << Vector3f(0, 0, 4) << 0.25f << Vector3f(0, 2.25f, 1)
                                   << Vector3f(0, 0, 0);
    QTest::newRow("opposite") << Vector3f(0, 0, -2) << Vector3f(0, 0, 5) << 1.0f << Vector3f(0, 0, 5)
                              << Vector3f(0, 0, -2);
    QTest::newRow("zero a") << Vector3f() << Vector3f(1, 2, 3) << 0.0f << Vector3f() << Vector3f();
    QTest::newRow("zero onto") << Vector3f(1, 2, 3) << Vector3f() << 2.0f << Vector3f(-1, -2, -3)
                               << Vector3f();
}

void TestVector3f::lerpAndProjection()
{
    QFETCH(Vector3f, a);
    QFETCH(Vector3f, b);
    QFETCH(float, t);
    QFETCH(Vector3f, lerped);
    QFETCH(Vector3f, projection);
    QCOMPARE(geom::lerp(a, b, t), lerped);
    QCOMPARE(geom::projected(a, b), projection);
}

void TestVector3f::debugText()
{
    QCOMPARE(valuetest::debugText(Vector3f(1, 2, 3)), QStringLiteral("V(1, 2, 3) "));
    QCOMPARE(valuetest::debugText(Vector3f(0.5f, -1, 1e-7f)), QStringLiteral("V(0.5, -1, 1e-07) "));
    // Spacing is on again afterwards: the next item follows the blank.
    QString text;
    QDebug(&text) << Vector3f(1, 2, 3) << "end";
    QCOMPARE(text, QStringLiteral("V(1, 2, 3) end "));
}

void TestVector3f::textOut_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QChar>("pad");
    QTest::addColumn<Vector3f>("v");
    QTest::addColumn<QString>("expected");
    QTest::newRow("C locale: comma") << QLocale::c() << QChar(' ') << Vector3f(1, 2, 3)
                                     << QStringLiteral("1,2,3");
    QTest::newRow("German: group dot, decimal comma")
        << QLocale(QLocale::German, QLocale::Germany) << QChar(' ') << Vector3f(1.5f, 2.5f, 3)
        << QStringLiteral("1,5.2,5.3");
    const QLocale nbsp = valuetest::noBreakSpaceLocale();
    if (nbsp != QLocale::c()) {
        QTest::newRow("no-break space: pad character")
            << nbsp << QChar(' ') << Vector3f(1, 2, 3) << QStringLiteral("1 2 3");
        QTest::newRow("no-break space: other pad")
            << nbsp << QChar('_') << Vector3f(1, 2, 3) << QStringLiteral("1_2_3");
    }
}

void TestVector3f::textOut()
{
    QFETCH(QLocale, locale);
    QFETCH(QChar, pad);
    QFETCH(Vector3f, v);
    QFETCH(QString, expected);
    QString text;
    QTextStream s(&text);
    s.setLocale(locale);
    s.setPadChar(pad);
    s << v;
    s.flush();
    QCOMPARE(text, expected);
}

void TestVector3f::textIn_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Vector3f>("expected");
    QTest::addColumn<bool>("ok");
    QTest::newRow("commas") << QStringLiteral("1,2,3") << Vector3f(1, 2, 3) << true;
    QTest::newRow("blanks") << QStringLiteral("1 2.5 -3") << Vector3f(1, 2.5f, -3) << true;
    QTest::newRow("any separator, unchecked") << QStringLiteral("4x5;6") << Vector3f(4, 5, 6) << true;
    QTest::newRow("separator then blank") << QStringLiteral("1, 2, 3") << Vector3f(1, 2, 3) << true;
    // note: QTextStream stores 0 in the number it failed to read; the ones before it stay read.
    QTest::newRow("fails part-way") << QStringLiteral("7,8,") << Vector3f(7, 8, 0) << false;
}

void TestVector3f::textIn()
{
    QFETCH(QString, text);
    QFETCH(Vector3f, expected);
    QFETCH(bool, ok);
    QTextStream s(&text);
    Vector3f v(-1, -1, -1);
    s >> v;
    QCOMPARE(v, expected);
    QCOMPARE(s.status() == QTextStream::Ok, ok);
}

void TestVector3f::binaryArrays()
{
    valuetest::checkArrayForms<Vector3f>(
        geom::writeVector3fArray, geom::readVector3fArray,
        {Vector3f(1, 2, 3), Vector3f(-0.5f, 1e-30f, 3e38f), Vector3f(1e-42f, 0, -0.0f)});
}

QTEST_GUILESS_MAIN(TestVector3f)
#include "tst_vector3f.moc"
