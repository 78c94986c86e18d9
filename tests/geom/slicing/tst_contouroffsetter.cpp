#include "geom/slicing/contouroffsetter.h"

#include "planarsupport.h"

#include <QtTest>

#include <cmath>

using geom::ContourOffsetter;
using geom::Vector2d;
using geom::Vector2f;
using planartest::widened;
using Points = QVector<Vector2f>;
using Expected = QVector<Vector2d>;
using Corners = QMap<int, Expected>;
Q_DECLARE_METATYPE(Corners)

namespace {

constexpr double Pi = 3.141592653589793;
constexpr double D = 0.25;
const double H = std::sqrt(0.5);
const double T = D * std::tan(Pi / 8);

enum Style
{
    Extend,
    Tangent,
    Mitre
};

template <typename P>
QMultiMap<int, P> build(ContourOffsetter<P> &offsetter, int style, const QVector<P> &points)
{
    switch (style) {
    case Extend:
        return offsetter.extendCorners(points);
    case Tangent:
        return offsetter.tangentCorners(points);
    default:
        return offsetter.mitreCorners(points);
    }
}

// The points of each key in walking order, against the expected points of that key.
template <typename P>
void checkMap(const QMultiMap<int, P> &map, const Corners &expected, double tolerance)
{
    QCOMPARE(map.uniqueKeys(), expected.keys());
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
        const QList<P> got = map.values(it.key());
        QCOMPARE(got.size(), it.value().size());
        for (int i = 0; i < got.size(); ++i) {
            const Vector2d g(double(got[i].x), double(got[i].y));
            const QByteArray at = "key " + QByteArray::number(it.key()) + " point " + QByteArray::number(i) +
                                  ": " + QByteArray::number(g.x) + ", " + QByteArray::number(g.y);
            QVERIFY2(std::fabs(g.x - it.value()[i].x) < tolerance &&
                         std::fabs(g.y - it.value()[i].y) < tolerance,
                     at.constData());
        }
    }
}

} // namespace

class TestContourOffsetter : public QObject
{
    Q_OBJECT

private slots:
    void cornerRecords();
    void builders_data();
    void builders();
    void inwards();
    void shortPolygonKeepsCorners();
    void setters();
};

void TestContourOffsetter::cornerRecords()
{
    for (const auto &records : {geom::cornerRecords(widened(planartest::square(0, 0, 1)))}) {
        const Expected edges{{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
        QCOMPARE(records.size(), 4);
        for (int k = 0; k < 4; ++k) {
            QCOMPARE(records[k].edge, edges[k]);
            QCOMPARE(records[k].angle, Pi / 2);
        }
        QVERIFY(std::fabs(records[0].bisector.x - H) < 1e-12 && std::fabs(records[0].bisector.y - H) < 1e-12);
    }
    const auto single = geom::cornerRecords(planartest::square(0, 0, 1));
    QCOMPARE(single[2].edge, Vector2f(-1, 0));
    QCOMPARE(single[2].angle, Pi / 2);

    // A spike turns straight back (angle 0), a straight vertex goes on (pi), a reflex corner is negative.
    const auto shaped = geom::cornerRecords(Points{{0, 0}, {2, 0}, {1, 0}, {1, 1}, {0, 2}, {-1, 1}});
    QCOMPARE(shaped[1].angle, 0.0);
    QCOMPARE(shaped[1].bisector, Vector2f(-1, 0));
    QCOMPARE(std::fabs(geom::cornerRecords(Points{{0, 0}, {1, 0}, {2, 0}, {1, 1}})[1].angle), Pi);
    QCOMPARE(geom::cornerRecords(Points{{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}})[3].angle, -Pi / 2);

    QCOMPARE(geom::cornerRecords(Points{}).size(), 0);
    const auto one = geom::cornerRecords(Points{{1, 1}});
    QCOMPARE(one.size(), 1);
    QCOMPARE(one[0].angle, 0.0);
    QCOMPARE(one[0].edge, Vector2f());
}

void TestContourOffsetter::builders_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<Points>("points");
    QTest::addColumn<double>("maxAngle");
    QTest::addColumn<Corners>("expected");

    const Points sq = planartest::square(0, 0, 1);
    // Vertex 0 is always opened: the point before it on its outgoing edge's line, the point after
    // it on its incoming edge's line.
    const Expected before{{-D, 0}};
    const Expected after{{0, -D}};
    QTest::newRow("extend, square") << int(Extend) << sq << 3.0
                                    << Corners{{0, before},
                                               {1, {{1 + D, 0}, {1 + D, -D}, {1, -D}}},
                                               {2, {{1, 1 + D}, {1 + D, 1 + D}, {1 + D, 1}}},
                                               {3, {{-D, 1}, {-D, 1 + D}, {0, 1 + D}}},
                                               {4, after}};
    QTest::newRow("extend, below midAngle") << int(Extend) << sq << 1.5 << Corners{{0, before}, {4, after}};
    QTest::newRow("mitre, square") << int(Mitre) << sq << 3.0
                                   << Corners{{0, before},
                                              {1, {{1 + D, 0}, {1 + D + D * H, -D - D * H}, {1, -D}}},
                                              {2, {{1, 1 + D}, {1 + D + D * H, 1 + D + D * H}, {1 + D, 1}}},
                                              {3, {{-D, 1}, {-D - D * H, 1 + D + D * H}, {0, 1 + D}}},
                                              {4, after}};
    QTest::newRow("tangent, square")
        << int(Tangent) << sq << 3.0
        << Corners{{0, before},
                   {1, {{1 + D, -T}, {1 + 2 * D * H, -2 * D * H}, {1 + T, -D}}},
                   {2, {{1 + T, 1 + D}, {1 + 2 * D * H, 1 + 2 * D * H}, {1 + D, 1 + T}}},
                   {3, {{-D, 1 + T}, {-2 * D * H, 1 + 2 * D * H}, {-T, 1 + D}}},
                   {4, after}};
    // A straight vertex (angle pi) is left alone while maxAngle is at most pi.
    const Points straight{{0, 0}, {1, 0}, {2, 0}, {2, 1}, {0, 1}};
    QTest::newRow("extend, straight vertex") << int(Extend) << straight << Pi
                                             << Corners{{0, before},
                                                        {2, {{2 + D, 0}, {2 + D, -D}, {2, -D}}},
                                                        {3, {{2, 1 + D}, {2 + D, 1 + D}, {2 + D, 1}}},
                                                        {4, {{-D, 1}, {-D, 1 + D}, {0, 1 + D}}},
                                                        {5, after}};
    // Vertex 1 turns straight back: every style puts one point twice the distance behind it.
    const Points spike{{0, 0}, {2, 0}, {1, 0}, {1, 1}};
    for (int style : {Extend, Tangent, Mitre}) {
        QTest::addRow("spike, style %d", style)
            << style << spike << 0.5 << Corners{{0, before}, {1, {{2 + 2 * D, 0}}}, {4, {{-H * D, -H * D}}}};
    }
}

void TestContourOffsetter::builders()
{
    QFETCH(int, style);
    QFETCH(Points, points);
    QFETCH(double, maxAngle);
    QFETCH(Corners, expected);

    ContourOffsetter<Vector2f> single(maxAngle, D);
    checkMap(build(single, style, points), expected, 1e-6);
    QCOMPARE(single.corners().size(), points.size());

    ContourOffsetter<Vector2d> twice(maxAngle, D);
    checkMap(build(twice, style, widened(points)), expected, 1e-12);
}

void TestContourOffsetter::inwards()
{
    // A negative distance puts the corner points inside the counter-clockwise square.
    const Corners expected{{0, {{D, 0}}},
                           {1, {{1 - D, 0}, {1 - D - D * H, D + D * H}, {1, D}}},
                           {2, {{1, 1 - D}, {1 - D - D * H, 1 - D - D * H}, {1 - D, 1}}},
                           {3, {{D, 1}, {D + D * H, 1 - D - D * H}, {0, 1 - D}}},
                           {4, {{0, D}}}};
    ContourOffsetter<Vector2f> single(3.0, -D);
    checkMap(single.mitreCorners(planartest::square(0, 0, 1)), expected, 1e-6);
    ContourOffsetter<Vector2d> twice(3.0, -D);
    checkMap(twice.mitreCorners(widened(planartest::square(0, 0, 1))), expected, 1e-12);
}

void TestContourOffsetter::shortPolygonKeepsCorners()
{
    ContourOffsetter<Vector2f> offsetter(3.0, 1.0);
    offsetter.extendCorners(planartest::square(0, 0, 1));
    QCOMPARE(offsetter.corners().size(), 4);
    QVERIFY(offsetter.mitreCorners(Points{{0, 0}, {1, 0}}).isEmpty());
    QVERIFY(offsetter.tangentCorners(Points{}).isEmpty());
    QCOMPARE(offsetter.corners().size(), 4);
}

void TestContourOffsetter::setters()
{
    ContourOffsetter<Vector2d> o(3.0, 1.0);
    QCOMPARE(o.maxAngle(), 3.0);
    QCOMPARE(o.midAngle(), Pi / 2);
    o.setMaxAngle(0.0);
    QCOMPARE(o.maxAngle(), 1e-12);
    o.setMaxAngle(-1.0);
    QCOMPARE(o.maxAngle(), 1e-12);
    o.setAngleLimit(4.0);
    QCOMPARE(o.maxAngle(), Pi);
    QCOMPARE(o.midAngle(), Pi / 2);
    o.setMidAngle(5.0);
    QCOMPARE(o.midAngle(), Pi);
    o.setMidAngle(std::nan(""));
    QCOMPARE(o.midAngle(), 0.0);
    o.setMidAngle(1.0);
    o.setAngleLimit(-1.0);
    QCOMPARE(o.maxAngle(), 0.0);
    QCOMPARE(o.midAngle(), 0.0);
    o.setAngleLimit(std::nan(""));
    QCOMPARE(o.maxAngle(), 0.0);
}

QTEST_GUILESS_MAIN(TestContourOffsetter)
#include "tst_contouroffsetter.moc"
