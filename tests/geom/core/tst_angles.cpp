#include "geom/core/angles.h"

#include "valuesupport.h"

#include <QtTest>
#include <cfloat>
#include <cmath>
#include <limits>

using geom::Vector2d;
using geom::Vector2f;

namespace {
const float Inf = std::numeric_limits<float>::infinity();
const float NaN = std::numeric_limits<float>::quiet_NaN();
const float HalfPi = 1.5707964f;
} // namespace

class TestAngles : public QObject
{
    Q_OBJECT

private slots:
    void wrapDegrees_data();
    void wrapDegrees();
    void wrapRadians_data();
    void wrapRadians();
    void wrapFarOutReturns_data();
    void wrapFarOutReturns();
    void bisector_data();
    void bisector();
    void signedAngle_data();
    void signedAngle();
    void axisAngle();
};

void TestAngles::wrapDegrees_data()
{
    QTest::addColumn<float>("angle");
    QTest::addColumn<float>("expected");
    QTest::newRow("-180 stays") << -180.0f << -180.0f;
    QTest::newRow("180 stays") << 180.0f << 180.0f;
    QTest::newRow("540 to 180") << 540.0f << 180.0f;
    QTest::newRow("-540 to -180") << -540.0f << -180.0f;
    QTest::newRow("-190 to 170") << -190.0f << 170.0f;
    QTest::newRow("190 to -170") << 190.0f << -170.0f;
    QTest::newRow("three turns up") << 1090.0f << 10.0f;
    QTest::newRow("inside") << 45.5f << 45.5f;
    QTest::newRow("nan as is") << NaN << NaN;
    QTest::newRow("infinity as is") << Inf << Inf;
    QTest::newRow("-infinity as is") << -Inf << -Inf;
}

void TestAngles::wrapDegrees()
{
    QFETCH(float, angle);
    QFETCH(float, expected);
    QUARN_COMPARE_EXACT(geom::wrapAngleDegrees(angle), expected);
}

void TestAngles::wrapRadians_data()
{
    QTest::addColumn<double>("angle");
    QTest::addColumn<float>("expectedFloat");
    QTest::addColumn<double>("expectedDouble");
    QTest::newRow("pi stays") << M_PI << 3.1415927f << M_PI;
    QTest::newRow("-pi stays") << -M_PI << -3.1415927f << -M_PI;
    // one turn of the precision's own 2 pi
    QTest::newRow("7 less a turn") << 7.0 << 7.0f - 6.2831855f << 7.0 - 6.283185307179586;
    QTest::newRow("-4 plus a turn") << -4.0 << -4.0f + 6.2831855f << -4.0 + 6.283185307179586;
    QTest::newRow("two turns down") << 13.0 << (13.0f - 6.2831855f) - 6.2831855f
                                    << (13.0 - 6.283185307179586) - 6.283185307179586;
    QTest::newRow("nan as is") << double(NaN) << NaN << double(NaN);
    QTest::newRow("infinity as is") << double(-Inf) << -Inf << double(-Inf);
}

void TestAngles::wrapRadians()
{
    QFETCH(double, angle);
    QFETCH(float, expectedFloat);
    QFETCH(double, expectedDouble);
    QUARN_COMPARE_EXACT(geom::wrapAngle(float(angle)), expectedFloat);
    QUARN_COMPARE_EXACT(geom::wrapAngle(angle), expectedDouble);
}

void TestAngles::wrapFarOutReturns_data()
{
    QTest::addColumn<double>("angle");
    QTest::newRow("1000") << 1000.0;
    QTest::newRow("-123456") << -123456.0;
    // Adding a turn no longer changes these values: stepping alone would never end.
    QTest::newRow("1e30") << 1e30;
    QTest::newRow("largest float") << double(FLT_MAX);
    QTest::newRow("-largest double") << -DBL_MAX;
}

void TestAngles::wrapFarOutReturns()
{
    QFETCH(double, angle);
    const double d = geom::wrapAngle(angle);
    QVERIFY2(d >= -M_PI && d <= M_PI, qPrintable(QString::number(d)));
    QVERIFY(std::fabs(std::remainder(angle, 6.283185307179586) - d) <
            1e-9 * std::fmax(1.0, std::fabs(angle)));
    if (std::fabs(angle) <= FLT_MAX) {
        const float f = geom::wrapAngle(float(angle));
        QVERIFY2(f >= -3.1415927f && f <= 3.1415927f, qPrintable(QString::number(f)));
        const float deg = geom::wrapAngleDegrees(float(angle));
        QVERIFY2(deg >= -180.0f && deg <= 180.0f, qPrintable(QString::number(deg)));
    }
}

void TestAngles::bisector_data()
{
    QTest::addColumn<Vector2d>("a");
    QTest::addColumn<Vector2d>("b");
    QTest::addColumn<Vector2d>("centre");
    QTest::addColumn<Vector2d>("expected");
    const double h = std::sqrt(0.5);
    QTest::newRow("quarter about origin") << Vector2d(1, 0) << Vector2d(0, 1) << Vector2d() << Vector2d(h, h);
    QTest::newRow("quarter about (1, 1)")
        << Vector2d(2, 1) << Vector2d(1, 2) << Vector2d(1, 1) << Vector2d(h, h);
    QTest::newRow("lengths do not matter")
        << Vector2d(5, 0) << Vector2d(0, 0.25) << Vector2d() << Vector2d(h, h);
    QTest::newRow("opposite gives zero") << Vector2d(1, 0) << Vector2d(-1, 0) << Vector2d() << Vector2d();
    QTest::newRow("zero a contributes nothing")
        << Vector2d(0, 0) << Vector2d(0, -3) << Vector2d() << Vector2d(0, -1);
    QTest::newRow("same direction") << Vector2d(-2, 0) << Vector2d(-1, 0) << Vector2d() << Vector2d(-1, 0);
}

void TestAngles::bisector()
{
    QFETCH(Vector2d, a);
    QFETCH(Vector2d, b);
    QFETCH(Vector2d, centre);
    QFETCH(Vector2d, expected);

    const Vector2d d = geom::bisector(a, b, centre);
    QVERIFY2(std::fabs(d.x - expected.x) <= 1e-15 && std::fabs(d.y - expected.y) <= 1e-15,
             qPrintable(QStringLiteral("(%1, %2)").arg(d.x, 0, 'g', 17).arg(d.y, 0, 'g', 17)));
    QCOMPARE(geom::bisector(a, b, centre.x, centre.y), d);

    const Vector2f expectedF(expected);
    const Vector2f f = geom::bisector(Vector2f(a), Vector2f(b), Vector2f(centre));
    QCOMPARE(f, expectedF);
    QCOMPARE(geom::bisector(Vector2f(a), Vector2f(b), float(centre.x), float(centre.y)), f);
}

void TestAngles::signedAngle_data()
{
    QTest::addColumn<Vector2d>("a");
    QTest::addColumn<Vector2d>("b");
    QTest::addColumn<Vector2d>("centre");
    QTest::addColumn<float>("expected");
    QTest::newRow("b to a counter-clockwise") << Vector2d(0, 1) << Vector2d(1, 0) << Vector2d() << HalfPi;
    QTest::newRow("b to a clockwise") << Vector2d(1, 0) << Vector2d(0, 1) << Vector2d() << -HalfPi;
    QTest::newRow("about (1, 1)") << Vector2d(1, 2) << Vector2d(2, 1) << Vector2d(1, 1) << HalfPi;
    QTest::newRow("same direction") << Vector2d(3, 3) << Vector2d(1, 1) << Vector2d() << 0.0f;
    // 170 and -170 degrees: the raw difference of 340 degrees wraps to -20.
    const double r170 = 170.0 * M_PI / 180.0;
    QTest::newRow("across the cut") << Vector2d(std::cos(r170), std::sin(r170))
                                    << Vector2d(std::cos(-r170), std::sin(-r170)) << Vector2d()
                                    << float(-20.0 * M_PI / 180.0);
}

void TestAngles::signedAngle()
{
    QFETCH(Vector2d, a);
    QFETCH(Vector2d, b);
    QFETCH(Vector2d, centre);
    QFETCH(float, expected);

    const float f = geom::signedAngle(Vector2f(a), Vector2f(b), Vector2f(centre));
    QVERIFY2(std::fabs(f - expected) <= 1e-6f, qPrintable(QString::number(double(f), 'g', 9)));
    QCOMPARE(geom::signedAngle(Vector2f(a), Vector2f(b), float(centre.x), float(centre.y)), f);

    // The double form wraps in float: its result is always a widened float.
    const double d = geom::signedAngle(a, b, centre);
    QUARN_COMPARE_EXACT(d, double(float(d)));
    QVERIFY(std::fabs(d - double(expected)) <= 1e-6);
    QCOMPARE(geom::signedAngle(a, b, centre.x, centre.y), d);
}

void TestAngles::axisAngle()
{
    const QVector4D quarter = geom::toAxisAngle(QQuaternion::fromAxisAndAngle(0, 0, 2, 90));
    QCOMPARE(quarter.toVector3D(), QVector3D(0, 0, 1));
    QVERIFY(std::fabs(quarter.w() - 90.0f) < 1e-4f);

    const QVector4D tilted = geom::toAxisAngle(QQuaternion::fromAxisAndAngle(1, 1, 0, 30));
    QVERIFY(std::fabs(tilted.x() - float(std::sqrt(0.5))) < 1e-6f);
    QVERIFY(std::fabs(tilted.y() - float(std::sqrt(0.5))) < 1e-6f);
    QCOMPARE(tilted.z(), 0.0f);
    QVERIFY(std::fabs(tilted.w() - 30.0f) < 1e-4f);

    // No rotation: a zero axis and the angle 0.
    const QVector4D none = geom::toAxisAngle(QQuaternion());
    QCOMPARE(none, QVector4D(0, 0, 0, 0));
}

QTEST_GUILESS_MAIN(TestAngles)
#include "tst_angles.moc"
