#include "geom/core/rectangle.h"

#include "valuesupport.h"

#include <QtTest>
#include <cfloat>
#include <cmath>
#include <limits>

using geom::Boundaries;
using geom::Rectangle;
using geom::Vector2f;

namespace {
const float NaN = std::numeric_limits<float>::quiet_NaN();

Rectangle rect(float x0, float y0, float x1, float y1)
{
    return Rectangle(Vector2f(x0, y0), Vector2f(x1, y1));
}

QList<Vector2f> points(std::initializer_list<Vector2f> list)
{
    return QList<Vector2f>(list);
}
} // namespace

class TestRectangle : public QObject
{
    Q_OBJECT

private slots:
    void statesAndAccess();
    void buildAndMerge();
    void queries();
    void rectF_data();
    void rectF();
    void alignedCorners();
    void clipSegment_data();
    void clipSegment();
    void clipTolerance();
    void debugText_data();
    void debugText();
};

void TestRectangle::statesAndAccess()
{
    const Rectangle null;
    QCOMPARE(null.min(), Vector2f(FLT_MAX, FLT_MAX));
    QCOMPARE(null.max(), Vector2f(-FLT_MAX, -FLT_MAX));
    QVERIFY(null.isNull() && !null.isValid() && null.isEmpty());

    const Rectangle r = rect(1, 2, 4, 6);
    QVERIFY(!r.isNull() && r.isValid() && !r.isEmpty());
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    r.getCoords(&x0, &y0, &x1, &y1);
    QCOMPARE(QVector<float>({x0, y0, x1, y1}), QVector<float>({1, 2, 4, 6}));
    QCOMPARE(QVector<float>(r.data(), r.data() + 4), QVector<float>({1, 2, 4, 6}));
    QCOMPARE(r.size(), Vector2f(3, 4));
    QCOMPARE(r.center(), Vector2f(2.5f, 4));

    QVERIFY(!rect(1, 1, 1, 5).isNull());
    QVERIFY(!rect(1, 1, 1, 5).isValid());
    QVERIFY(!rect(2, 2, 1, 1).isNull());
    QVERIFY(rect(-FLT_MAX, 0, FLT_MAX, 1).isNull());
    QVERIFY(rect(0, NaN, 1, 1).isNull());
}

void TestRectangle::buildAndMerge()
{
    Rectangle r;
    const float xy[] = {3, 1, -1, 4, NaN, 0};
    r.expand(xy, 3);
    QCOMPARE(r.min(), Vector2f(-1, 0));
    QCOMPARE(r.max(), Vector2f(3, 4));
    r.expand(nullptr, 2);
    r.expand(QVector<Vector2f>{Vector2f(5, 5)});
    QCOMPARE(r.max(), Vector2f(5, 5));
    r.reset();
    QVERIFY(r.isNull());

    // Touching rectangles intersect in a flat rectangle; apart ones in the null rectangle.
    const Rectangle a = rect(0, 0, 2, 2);
    const Rectangle flat = a & rect(2, 0, 3, 1);
    QCOMPARE(flat.min(), Vector2f(2, 0));
    QCOMPARE(flat.max(), Vector2f(2, 1));
    QVERIFY((a & rect(3, 0, 4, 1)).isNull());
    QVERIFY((Rectangle() & a).isNull());
    // Union normalises both unless this one is null.
    const Rectangle u = rect(1, 1, 0, 0) | rect(4, 0, 3, -1);
    QCOMPARE(u.min(), Vector2f(0, -1));
    QCOMPARE(u.max(), Vector2f(4, 1));
    const Rectangle copy = Rectangle() | rect(1, 1, 0, 0);
    QCOMPARE(copy.min(), Vector2f(1, 1));
    QCOMPARE(copy.max(), Vector2f(0, 0));

    Rectangle m = rect(1, 1, 3, 3);
    m.moveCenter(Vector2f());
    QCOMPARE(m.min(), Vector2f(-1, -1));
    m *= -1.0f;
    QCOMPARE(m.min(), Vector2f(1, 1));
    QVERIFY(!m.isNull());
    m.normalize();
    QCOMPARE(m.min(), Vector2f(-1, -1));
    QCOMPARE(m.grown(1).max(), Vector2f(2, 2));
}

void TestRectangle::queries()
{
    const Rectangle r = rect(0, 0, 100, 100);
    QVERIFY(r.contains(Vector2f(100.0005f, 0)));
    QVERIFY(!r.contains(Vector2f(100.002f, 0)));
    QVERIFY(!r.contains(Vector2f(-1e-9f, 0)));
    QVERIFY(r.contains(rect(10, 10, 100, 100)));
    QVERIFY(!rect(1, 1, 1, 1).contains(Vector2f(1, 1)));
    QVERIFY(r.intersects(rect(100, 100, 200, 200)));
    QVERIFY(!r.intersects(rect(100.00001f, 0, 200, 1)));
    QVERIFY(rect(1, 1, 1, 1).intersects(rect(0, 0, 1, 1)));
    QVERIFY(Rectangle() == rect(NaN, 0, 1, 1));
    QVERIFY(r == rect(0, 0, 100.000005f, 100));
    QVERIFY(r != rect(0, 0, 100, 100.00002f));
    QCOMPARE(r.outcode(Vector2f(-1, 101)), geom::MinX | geom::MaxY);
}

void TestRectangle::rectF_data()
{
    QTest::addColumn<QRectF>("in");
    QTest::addColumn<Rectangle>("expected");
    QTest::addColumn<QRectF>("out");
    QTest::newRow("plain") << QRectF(1, 2, 3, 4) << rect(1, 2, 4, 6) << QRectF(1, 2, 3, 4);
    // The corner sum is formed in double, then rounded once.
    QTest::newRow("rounded corners") << QRectF(0.1, 0.2, 0.3, 0.4)
                                     << rect(0.1f, 0.2f, float(0.1 + 0.3), float(0.2 + 0.4))
                                     << QRectF(double(0.1f), double(0.2f),
                                               double(float(0.1 + 0.3)) - double(0.1f),
                                               double(float(0.2 + 0.4)) - double(0.2f));
    QTest::newRow("flat gives null") << QRectF(1, 2, 0, 4) << rect(1, 2, 1, 6) << QRectF(0, 0, 0, 0);
    QTest::newRow("negative size gives null")
        << QRectF(1, 2, -1, 4) << rect(1, 2, 0, 6) << QRectF(0, 0, 0, 0);
}

void TestRectangle::rectF()
{
    QFETCH(QRectF, in);
    QFETCH(Rectangle, expected);
    QFETCH(QRectF, out);
    const Rectangle r(in);
    QCOMPARE(r.min(), expected.min());
    QCOMPARE(r.max(), expected.max());
    const QRectF back = r.toRectF();
    QCOMPARE(back.x(), out.x());
    QCOMPARE(back.y(), out.y());
    QCOMPARE(back.width(), out.width());
    QCOMPARE(back.height(), out.height());
    QCOMPARE(Rectangle().toRectF(), QRectF(0, 0, 0, 0));
}

void TestRectangle::alignedCorners()
{
    const Rectangle r = rect(0, 0, 4, 2);
    QCOMPARE(r.alignedPoint(Boundaries(5)), Vector2f(0, 0));
    QCOMPARE(r.alignedPoint(Boundaries(6)), Vector2f(4, 0));
    QCOMPARE(r.alignedPoint(Boundaries(9)), Vector2f(0, 2));
    QCOMPARE(r.alignedPoint(Boundaries(10)), Vector2f(4, 2));
    QCOMPARE(r.alignedPoint(Boundaries()), Vector2f(2, 1));
    QCOMPARE(r.alignedPoint(geom::MinX | geom::MaxX | geom::MaxY), Vector2f(2, 2));
    // z flags do not exist for a rectangle and change nothing.
    QCOMPARE(r.alignedPoint(geom::MinX | geom::MinZ), Vector2f(0, 1));
}

void TestRectangle::clipSegment_data()
{
    QTest::addColumn<Vector2f>("p0");
    QTest::addColumn<Vector2f>("p1");
    QTest::addColumn<QList<Vector2f>>("expected");
    // against the rectangle (0, 0)-(10, 10)
    QTest::newRow("both inside") << Vector2f(1, 2) << Vector2f(3, 4)
                                 << points({Vector2f(1, 2), Vector2f(3, 4)});
    QTest::newRow("both left") << Vector2f(-5, 1) << Vector2f(-1, 9) << points({});
    QTest::newRow("through left to right")
        << Vector2f(-5, 5) << Vector2f(15, 5) << points({Vector2f(0, 5), Vector2f(10, 5)});
    QTest::newRow("through right to left")
        << Vector2f(15, 5) << Vector2f(-5, 5) << points({Vector2f(10, 5), Vector2f(0, 5)});
    QTest::newRow("inside to outside") << Vector2f(5, 5) << Vector2f(5, -5) << points({Vector2f(5, 0)});
    QTest::newRow("outside, ending on the boundary") << Vector2f(-5, 5) << Vector2f(0, 5) << points({});
    // A crossing at the start (t = 0) counts, one at the end (t = 1) does not.
    QTest::newRow("starting on the boundary, going out")
        << Vector2f(10, 5) << Vector2f(15, 5) << points({Vector2f(10, 5)});
    // |dx| <= 1e-5: the x sides are skipped, although the ends lie on both sides of x = 0.
    QTest::newRow("nearly vertical across x = 0")
        << Vector2f(-4e-6f, 5) << Vector2f(4e-6f, 15) << points({Vector2f(0, 10)});
    // One point at the exact corner, where the y side replaces the x side.
    QTest::newRow("through the corner") << Vector2f(-5, -5) << Vector2f(5, 5) << points({Vector2f(0, 0)});
    QTest::newRow("both above, crossing x sides")
        << Vector2f(-5, 10.00001f) << Vector2f(15, 10.00001f) << points({});
}

void TestRectangle::clipSegment()
{
    QFETCH(Vector2f, p0);
    QFETCH(Vector2f, p1);
    QFETCH(QList<Vector2f>, expected);
    QCOMPARE(rect(0, 0, 10, 10).clipSegment(p0, p1), expected);
}

void TestRectangle::clipTolerance()
{
    const Rectangle r = rect(0, 0, 10, 10);
    // The left side is met 4e-5 above the top corner: inside the clipping tolerance at 10 (1e-4), so
    // the segment enters there and leaves through the top at x = 4.
    const QList<Vector2f> near = r.clipSegment(Vector2f(-1, 10.00005f), Vector2f(9, 9.99995f));
    QCOMPARE(near.size(), 2);
    QCOMPARE(near[0].x, 0.0f);
    QVERIFY(near[0].y > 10.0f && near[0].y < 10.0001f);
    QVERIFY(std::fabs(near[1].x - 4.0f) < 1e-3f);
    QCOMPARE(near[1].y, 10.0f);
    // 4e-4 above the corner is beyond it: only the top crossing remains.
    const QList<Vector2f> far = r.clipSegment(Vector2f(-1, 10.0005f), Vector2f(9, 9.9995f));
    QCOMPARE(far.size(), 1);
    QCOMPARE(far[0].y, 10.0f);
    // Near zero the tolerance keeps its floor of 1e-5: the left side met 5e-6 below the bottom
    // corner is a crossing (the bottom side itself is skipped, the segment rises only 1e-5) ...
    const QList<Vector2f> low = r.clipSegment(Vector2f(-1, -6e-6f), Vector2f(9, 4e-6f));
    QCOMPARE(low.size(), 1);
    QCOMPARE(low[0].x, 0.0f);
    QVERIFY(low[0].y < 0.0f);
    // ... met 5e-5 below it is not, and the segment enters through the bottom instead.
    const QList<Vector2f> lower = r.clipSegment(Vector2f(-1, -6e-5f), Vector2f(9, 4e-5f));
    QCOMPARE(lower.size(), 1);
    QCOMPARE(lower[0].y, 0.0f);
    QVERIFY(std::fabs(lower[0].x - 5.0f) < 1e-3f);
}

void TestRectangle::debugText_data()
{
    QTest::addColumn<Rectangle>("r");
    QTest::addColumn<QString>("expected");
    QTest::newRow("null") << Rectangle() << QStringLiteral("Rectangle(invalid) ");
    QTest::newRow("plain") << rect(0, 0, 10, 20) << QStringLiteral("Rectangle(0, 0 : 10 x 20) ");
    QTest::newRow("inverted") << rect(1, 2, 0, 2) << QStringLiteral("Rectangle(1, 2 : -1 x 0) ");
}

void TestRectangle::debugText()
{
    QFETCH(Rectangle, r);
    QFETCH(QString, expected);
    QCOMPARE(valuetest::debugText(r), expected);
}

QTEST_GUILESS_MAIN(TestRectangle)
#include "tst_rectangle.moc"
