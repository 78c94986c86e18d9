#include "geom/slicing/contour.h"
#include "geom/slicing/slice.h"
#include "geom/slicing/tessellator.h"

#include <QtTest>

#include <algorithm>
#include <cmath>

using geom::Tessellator;
using geom::Vector2f;
using geom::Vector3f;

namespace {

// Signed area of a loop given as interleaved x, y values (stride values per vertex).
template <typename T>
double loopArea(const QVector<T> &v, int stride)
{
    const int n = v.size() / stride;
    double a = 0.0;
    for (int i = 0; i < n; ++i) {
        const int j = (i + n - 1) % n;
        a += double(v[j * stride]) * double(v[i * stride + 1]) -
             double(v[i * stride]) * double(v[j * stride + 1]);
    }
    return 0.5 * a;
}

// Sum of the signed areas of the triangles of a triangulation output.
template <typename T>
double trianglesArea(const QVector<T> &v, int stride)
{
    double a = 0.0;
    for (int t = 0; t + 3 * stride <= v.size(); t += 3 * stride)
        a += loopArea(v.mid(t, 3 * stride), stride);
    return a;
}

geom::Contour squareContour(float x0, float y0, float x1, float y1, bool clockwise = false)
{
    QVector<Vector2f> p = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    if (clockwise)
        std::reverse(p.begin(), p.end());
    return geom::Contour(p);
}

geom::Slice sliceOf(float z, float thickness, const QList<geom::Contour> &contours)
{
    geom::Slice s(z, thickness);
    for (const geom::Contour &c : contours)
        s.contours().append(c);
    return s;
}

// The signed areas of the slice's contours, largest first.
QVector<double> areas(const geom::Slice &s)
{
    QVector<double> out;
    for (int i = 0; i < s.contourCount(); ++i)
        out << s.contour(i)->area();
    std::sort(out.begin(), out.end(), [](double a, double b) { return a > b; });
    return out;
}

template <typename T>
const QVector<T> &output(Tessellator &t, int i)
{
    return *static_cast<const QVector<T> *>(t.result().at(i));
}

} // namespace

class TestTessellator : public QObject
{
    Q_OBJECT

private slots:
    void propertiesAndIgnoredCalls();
    void contourFeeding();
    void kinds_data();
    void kinds();
    void addVertexConverts();
    void combine_data();
    void combine();
    void nonFiniteContoursAreSkipped();
    void spatialTriangulation();
    void convexFan();
    void convexBand();
    void outline_data();
    void outline();
    void booleans_data();
    void booleans();
    void triangulateIntoSlice();
    void triangulateIntoFacets();
};

void TestTessellator::propertiesAndIgnoredCalls()
{
    Tessellator t(Tessellator::NonZero);
    QCOMPARE(t.state(), int(Tessellator::Idle));
    QCOMPARE(t.windingRule(), int(Tessellator::NonZero));
    QCOMPARE(t.boundaryOnly(), false);
    QCOMPARE(t.tolerance(), 0.0);
    QCOMPARE(t.kind(), int(Tessellator::Float2D));

    t.setTolerance(-0.5);
    QCOMPARE(t.tolerance(), 0.0);
    t.setTolerance(2.0); // GLU would reject it fatally
    QCOMPARE(t.tolerance(), 1.0);
    t.setTolerance(std::nan(""));
    QCOMPARE(t.tolerance(), 0.0);
    t.setWindingRule(7); // GLU would reject it fatally
    QCOMPARE(t.windingRule(), int(Tessellator::NonZero));
    QCOMPARE(Tessellator(-1).windingRule(), int(Tessellator::Positive));

    // Calls that do not fit Idle do nothing.
    t.endPolygon();
    t.endContour();
    t.beginContour();
    t.addVertex(1, 2, 3);
    t.clear();
    QCOMPARE(t.state(), int(Tessellator::Idle));
    QVERIFY(t.result().isEmpty());

    // Setters are ignored while a polygon is open; the polygon is tessellated with the old rule.
    const Vector2f outer[] = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    const Vector2f inner[] = {{1, 1}, {3, 1}, {3, 3}, {1, 3}};
    t.setBoundaryOnly(true);
    t.beginPolygon(Tessellator::Float2D);
    t.setWindingRule(Tessellator::Odd);
    t.setZ(9.0);
    t.setBoundaryOnly(false);
    QCOMPARE(t.windingRule(), int(Tessellator::NonZero));
    QCOMPARE(t.z(), 0.0);
    QCOMPARE(t.boundaryOnly(), true);
    t.addContour(outer, 4);
    t.addContour(inner, 4);
    QCOMPARE(t.state(), int(Tessellator::InPolygon));
    QCOMPARE(t.result().size(), 1); // non-zero: the inner square is swallowed
    QCOMPARE(t.state(), int(Tessellator::Idle));
    QCOMPARE(loopArea(output<float>(t, 0), 2), 16.0);

    // setWindingRule, setTolerance and setZ keep the output; setBoundaryOnly and setReuseVertices
    // drop it.
    t.setWindingRule(Tessellator::Odd);
    t.setZ(2.0);
    QCOMPARE(t.result().size(), 1);
    t.setReuseVertices(false);
    QVERIFY(t.result().isEmpty());

    // beginPolygon while a polygon is open tessellates and discards it.
    t.beginPolygon(Tessellator::Float2D);
    t.addContour(outer, 4);
    t.addContour(inner, 4);
    t.beginPolygon(Tessellator::Float2D);
    QCOMPARE(t.state(), int(Tessellator::InPolygon));
    t.endPolygon();
    QVERIFY(t.result().isEmpty());
}

void TestTessellator::contourFeeding()
{
    const Vector2f square[] = {{0, 0}, {2, 0}, {2, 2}, {0, 2}};
    Tessellator t(Tessellator::Positive);
    t.setBoundaryOnly(true);

    // Too few points or a null pointer feed nothing.
    t.beginPolygon(Tessellator::Float2D);
    t.addContour(square, 2);
    t.addContour(nullptr, 4);
    QVERIFY(t.result().isEmpty());

    // A negative count feeds last to first: clockwise, which Positive does not select; the loop
    // GLU reports for the region is counter-clockwise whatever the rule.
    t.beginPolygon(Tessellator::Float2D);
    t.addContour(square, -4);
    QVERIFY(t.result().isEmpty());
    t.beginPolygon(Tessellator::Float2D);
    t.addContour(square, -3); // (2,2), (2,0), (0,0): clockwise
    QVERIFY(t.result().isEmpty());
    t.setWindingRule(Tessellator::Negative);
    t.beginPolygon(Tessellator::Float2D);
    t.addContour(square, -3);
    QCOMPARE(t.result().size(), 1);
    QCOMPARE(loopArea(output<float>(t, 0), 2), 2.0);

    // In InContour the points join the open contour, which stays open.
    t.setWindingRule(Tessellator::Positive);
    t.beginPolygon(Tessellator::Float2D);
    t.beginContour();
    t.addContour(square, 3);
    QCOMPARE(t.state(), int(Tessellator::InContour));
    t.addVertex(0, 2);
    t.endPolygon();
    QCOMPARE(t.result().size(), 1);
    QCOMPARE(loopArea(output<float>(t, 0), 2), 4.0);
}

void TestTessellator::kinds_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("Double2D") << int(Tessellator::Double2D);
    QTest::newRow("Double3D") << int(Tessellator::Double3D);
    QTest::newRow("Float2D") << int(Tessellator::Float2D);
    QTest::newRow("Float3D") << int(Tessellator::Float3D);
    QTest::newRow("Int2D") << int(Tessellator::Int2D);
    QTest::newRow("Int3D") << int(Tessellator::Int3D);
}

// A 4 by 3 rectangle at height 5 through each coordinate kind: one loop in boundary-only mode, two
// triangles in one primitive otherwise, in the kind's own type and dimension.
void TestTessellator::kinds()
{
    QFETCH(int, kind);
    const int n = (kind & 1) ? 3 : 2;
    const double corners[4][3] = {{0, 0, 5}, {4, 0, 5}, {4, 3, 5}, {0, 3, 5}};
    QVector<double> d;
    QVector<float> f;
    QVector<int> i;
    for (const auto &c : corners)
        for (int k = 0; k < n; ++k) {
            d << c[k];
            f << float(c[k]);
            i << int(c[k]);
        }
    const void *points = kind < 2   ? static_cast<const void *>(d.constData())
                         : kind < 4 ? static_cast<const void *>(f.constData())
                                    : i.constData();

    auto area = [&](Tessellator &t, bool loop) {
        const void *r = t.result().at(0);
        if (kind < 2) {
            const auto &v = *static_cast<const QVector<double> *>(r);
            return loop ? loopArea(v, n) : trianglesArea(v, n);
        }
        if (kind < 4) {
            const auto &v = *static_cast<const QVector<float> *>(r);
            return loop ? loopArea(v, n) : trianglesArea(v, n);
        }
        const auto &v = *static_cast<const QVector<int> *>(r);
        return loop ? loopArea(v, n) : trianglesArea(v, n);
    };
    auto size = [&](Tessellator &t) {
        const void *r = t.result().at(0);
        return kind < 2   ? static_cast<const QVector<double> *>(r)->size()
               : kind < 4 ? static_cast<const QVector<float> *>(r)->size()
                          : static_cast<const QVector<int> *>(r)->size();
    };

    Tessellator t(Tessellator::Positive);
    t.setZ(5.0);
    t.setBoundaryOnly(true);
    t.beginPolygon(kind);
    t.addContour(points, 4);
    QCOMPARE(t.result().size(), 1);
    QCOMPARE(size(t), 4 * n);
    QCOMPARE(area(t, true), 12.0);

    t.setBoundaryOnly(false);
    t.beginPolygon(kind);
    t.addContour(points, 4);
    QCOMPARE(t.result().size(), 1);
    QCOMPARE(size(t), 6 * n);
    QCOMPARE(area(t, false), 12.0);
    const QVector<geom::Facet> facets = t.facets();
    QCOMPARE(facets.size(), 2);
    for (const geom::Facet &facet : facets) {
        for (const Vector3f &v : facet.vertex)
            QCOMPARE(v.z, 5.0f);
        QCOMPARE(facet.normal.z, 1.0f);
    }

    // A kind outside 0-5 feeds nothing and reports nothing.
    t.beginPolygon(17);
    t.addContour(points, 4);
    QVERIFY(t.result().isEmpty());
    QVERIFY(t.facets().isEmpty());
}

void TestTessellator::addVertexConverts()
{
    Tessellator t(Tessellator::NonZero);
    t.beginPolygon(Tessellator::Int2D);
    t.addVertex(2.7, -2.7, 9.0); // ignored: no contour open
    t.beginContour();
    t.addVertex(2.7, -2.7, 9.0);
    t.addVertex(10.0, -2.0);
    t.addVertex(10.0, 10.0);
    t.addVertex(std::nan(""), 1.0); // not convertible: left out
    t.addVertex(1e12, 1.0);
    t.endPolygon();
    QCOMPARE(t.result().size(), 1);
    const QVector<int> &v = output<int>(t, 0);
    QCOMPARE(v.size(), 6);
    QVERIFY(v.contains(2));
    QVERIFY(v.contains(-2));
    for (int k = 0; k < 6; k += 2)
        QVERIFY((v[k] == 2 && v[k + 1] == -2) || v[k] == 10);
}

void TestTessellator::combine_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("reuse");
    QTest::addColumn<double>("expected");
    QTest::newRow("Float2D new vertex") << int(Tessellator::Float2D) << false << 2.5;
    QTest::newRow("Int2D rounded away from zero") << int(Tessellator::Int2D) << false << 3.0;
    QTest::newRow("Float2D reused input vertex") << int(Tessellator::Float2D) << true << -1.0;
}

// A bow tie whose two edges cross at (2.5, 2.5): the combine callback makes the crossing vertex,
// or answers with an input vertex when reuse is on.
void TestTessellator::combine()
{
    QFETCH(int, kind);
    QFETCH(bool, reuse);
    QFETCH(double, expected);
    const int ib[] = {0, 0, 5, 5, 5, 0, 0, 5};
    const float fb[] = {0, 0, 5, 5, 5, 0, 0, 5};
    Tessellator t(Tessellator::Odd);
    t.setBoundaryOnly(true);
    t.setReuseVertices(reuse);
    t.beginPolygon(kind);
    t.addContour(kind == Tessellator::Int2D ? static_cast<const void *>(ib) : fb, 4);
    const QList<void *> &r = t.result();
    QCOMPARE(r.size(), 2);
    QVector<double> values;
    for (void *loop : r) {
        if (kind == Tessellator::Int2D)
            for (int v : *static_cast<QVector<int> *>(loop))
                values << v;
        else
            for (float v : *static_cast<QVector<float> *>(loop))
                values << v;
    }
    QCOMPARE(values.size(), 12);
    if (expected >= 0) {
        QCOMPARE(values.count(expected), 4); // the crossing, once in each loop
    } else {
        for (double v : values)
            QVERIFY(v == 0.0 || v == 5.0);
    }
}

void TestTessellator::nonFiniteContoursAreSkipped()
{
    const float nan = std::nanf("");
    const Vector2f good[] = {{0, 0}, {1, 0}, {1, 1}};
    const Vector2f bad[] = {{5, 5}, {nan, 6}, {5, 7}};
    const Vector2f huge[] = {{5, 5}, {INFINITY, 6}, {5, 7}};
    Tessellator t(Tessellator::Positive);
    t.setBoundaryOnly(true);
    t.beginPolygon(Tessellator::Float2D);
    t.addContour(bad, 3);
    t.addContour(good, 3);
    t.addContour(huge, 3);
    QCOMPARE(t.result().size(), 1);
    QCOMPARE(loopArea(output<float>(t, 0), 2), 0.5);

    const double far[] = {0, 0, 1e200, 0, 0, 1};
    t.beginPolygon(Tessellator::Double2D);
    t.addContour(far, 3);
    QVERIFY(t.result().isEmpty());

    // A non-finite elevation makes every planar contour unusable.
    t.setZ(std::nan(""));
    t.beginPolygon(Tessellator::Float2D);
    t.addContour(good, 3);
    QVERIFY(t.result().isEmpty());
}

void TestTessellator::spatialTriangulation()
{
    // A square with a square hole, standing in the plane x = 1: the triangles cover 16 - 4.
    const QVector<Vector3f> outer = {{1, 0, 0}, {1, 4, 0}, {1, 4, 4}, {1, 0, 4}};
    const QVector<Vector3f> hole = {{1, 1, 1}, {1, 1, 3}, {1, 3, 3}, {1, 3, 1}};
    Tessellator t(Tessellator::Odd);
    const QList<geom::Facet> facets = t.triangulate(QList<QVector<Vector3f>>{outer, hole}, Vector3f(1, 0, 0));
    QVERIFY(facets.size() >= 8);
    double area = 0.0;
    for (const geom::Facet &f : facets) {
        QCOMPARE(f.normal.x, 1.0f);
        const Vector3f c = f.crossProduct();
        QVERIFY(c.x > 0); // counter-clockwise about the normal
        area += 0.5 * c.x;
        for (const Vector3f &v : f.vertex)
            QCOMPARE(v.x, 1.0f);
    }
    QCOMPARE(area, 12.0);
    QCOMPARE(t.boundaryOnly(), false);
    QCOMPARE(t.state(), int(Tessellator::Idle));

    QCOMPARE(t.triangulate(QVector<Vector3f>{{0, 0, 0}, {1, 0, 0}}, Vector3f(0, 0, 1)).size(), 0);
}

void TestTessellator::convexFan()
{
    QVector<Vector3f> ring;
    for (int i = 0; i < 5; ++i)
        ring << Vector3f(float(i), float(i * i), 0);
    QVERIFY(Tessellator::processConvexV(ring.constData(), 2).isEmpty());
    QVERIFY(Tessellator::processConvex(ring.mid(0, 2)).isEmpty());

    auto indices = [&](const QVector<Vector3f> &v) {
        QVector<int> out;
        for (const Vector3f &p : v)
            out << int(p.x);
        return out;
    };
    QCOMPARE(indices(Tessellator::processConvexV(ring.constData(), 3)), QVector<int>({0, 1, 2}));
    QCOMPARE(indices(Tessellator::processConvexV(ring.constData(), 4)), QVector<int>({0, 1, 3, 3, 1, 2}));
    QCOMPARE(indices(Tessellator::processConvexV(ring)), QVector<int>({0, 1, 4, 4, 1, 2, 4, 2, 3}));

    const QList<geom::Facet> facets = Tessellator::processConvex(ring);
    QCOMPARE(facets.size(), 3);
    QCOMPARE(facets[1].vertex[0].x, 4.0f);
    QCOMPARE(facets[1].vertex[2].x, 2.0f);
    QCOMPARE(facets[0].normal.z, 1.0f); // computed from the counter-clockwise triangle
}

void TestTessellator::convexBand()
{
    const QVector<Vector3f> a = {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    const QVector<Vector3f> b = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    const QVector<Vector3f> apex = {{0.5f, 0.5f, 2}, {0.5f, 0.5f, 2}, {0.5f, 0.5f, 2}, {0.5f, 0.5f, 2}};
    QCOMPARE(Tessellator::stitchConvexV(a.constData(), b.constData(), 4).size(), 24);
    const QVector<Vector3f> fan = Tessellator::stitchConvexV(apex.constData(), a.constData(), 4);
    QCOMPARE(fan.size(), 12);
    for (int i = 1; i < fan.size(); i += 3)
        QCOMPARE(fan[i].z, 2.0f);
    QCOMPARE(Tessellator::stitchConvexV(a.constData(), apex.constData(), 4).size(), 12);
    QCOMPARE(Tessellator::stitchConvexV(nullptr, b.constData(), 4), Tessellator::processConvexV(b));
    QVERIFY(Tessellator::stitchConvexV(a.constData(), b.constData(), 2).isEmpty());

    // The band keeps the sides' orientation: every side triangle faces outward from the axis.
    const QVector<Vector3f> band = Tessellator::stitchConvexV(a.constData(), b.constData(), 4);
    for (int i = 0; i < band.size(); i += 3) {
        const Vector3f n = geom::Facet(band[i], band[i + 1], band[i + 2]).crossProduct();
        const Vector3f c = (band[i] + band[i + 1] + band[i + 2]) / 3.0f;
        QVERIFY(n.x * (c.x - 0.5f) + n.y * (c.y - 0.5f) != 0.0f);
    }
}

void TestTessellator::outline_data()
{
    QTest::addColumn<int>("rule");
    QTest::addColumn<QVector<double>>("expected");
    QTest::newRow("positive: the outer square alone") << int(Tessellator::Positive) << QVector<double>{16.0};
    QTest::newRow("odd: the inner square becomes a hole")
        << int(Tessellator::Odd) << QVector<double>{16.0, -4.0};
}

// Nested counter-clockwise squares outlined under a rule; the result keeps z and thickness.
void TestTessellator::outline()
{
    QFETCH(int, rule);
    QFETCH(QVector<double>, expected);
    Tessellator t(rule);
    const geom::Slice nested = sliceOf(3.5f, 0.25f, {squareContour(1, 1, 3, 3), squareContour(0, 0, 4, 4)});
    const geom::Slice out = t.outline(nested);
    QCOMPARE(out.z(), 3.5f);
    QCOMPARE(out.thickness(), 0.25f);
    QCOMPARE(areas(out), expected);
    QCOMPARE(t.boundaryOnly(), true);
    QCOMPARE(t.windingRule(), rule);

    const geom::Slice empty = t.outline(geom::Slice(2.0f, 0.5f));
    QCOMPARE(empty.contourCount(), 0);
    QCOMPARE(empty.z(), 2.0f);
    QCOMPARE(empty.thickness(), 0.5f);

    // outlineContour works at the tessellator's z, which addSlice left at the last slice's z.
    QCOMPARE(t.outlineContour(squareContour(0, 0, 1, 1).points()).z(), 2.0f);
    QCOMPARE(Tessellator(rule).outlineContour(squareContour(0, 0, 1, 1).points()).z(), 0.0f);
    // A contour of two points is skipped; one with a NaN point too, instead of reaching GLU.
    const geom::Slice thin = sliceOf(0, 0,
                                     {geom::Contour(QVector<Vector2f>{{0, 0}, {1, 1}}),
                                      geom::Contour(QVector<Vector2f>{{0, 0}, {std::nanf(""), 0}, {1, 1}})});
    QCOMPARE(t.outline(thin).contourCount(), 0);
}

void TestTessellator::booleans_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<QVector<double>>("expected");
    // Squares [0,4]^2 and [2,6]^2 overlap in [2,4]^2.
    QTest::newRow("union") << 0 << QVector<double>{28.0};
    QTest::newRow("intersection") << 1 << QVector<double>{4.0};
    QTest::newRow("difference") << 2 << QVector<double>{12.0};
    QTest::newRow("difference of an inner square") << 3 << QVector<double>{16.0, -4.0};
    QTest::newRow("difference with itself") << 4 << QVector<double>{};
    QTest::newRow("intersection of disjoint squares") << 5 << QVector<double>{};
    QTest::newRow("union with an empty slice") << 6 << QVector<double>{16.0};
}

void TestTessellator::booleans()
{
    QFETCH(int, operation);
    QFETCH(QVector<double>, expected);
    const geom::Slice a = sliceOf(5.0f, 0.5f, {squareContour(0, 0, 4, 4)});
    const geom::Slice b = sliceOf(7.0f, 1.0f, {squareContour(2, 2, 6, 6)});
    const geom::Slice inner = sliceOf(7.0f, 1.0f, {squareContour(1, 1, 3, 3)});
    const geom::Slice far = sliceOf(7.0f, 1.0f, {squareContour(10, 10, 11, 11)});
    Tessellator t(Tessellator::Odd);
    geom::Slice out;
    switch (operation) {
    case 0:
        out = t.unite(a, b);
        QCOMPARE(t.windingRule(), int(Tessellator::Positive));
        break;
    case 1:
        out = t.intersect(a, b);
        QCOMPARE(t.windingRule(), int(Tessellator::AbsGeqTwo));
        break;
    case 2:
        out = t.subtract(a, b);
        break;
    case 3:
        out = t.subtract(a, inner);
        break;
    case 4:
        out = t.subtract(a, a);
        break;
    case 5:
        out = t.intersect(a, far);
        break;
    case 6:
        out = t.unite(a, geom::Slice(1.0f, 1.0f));
        break;
    }
    QCOMPARE(out.z(), 5.0f);
    QCOMPARE(out.thickness(), 0.5f);
    QCOMPARE(areas(out), expected);

    // The contour forms work at z 0.
    const geom::Slice c = t.intersect(squareContour(0, 0, 4, 4), squareContour(2, 2, 6, 6));
    QCOMPARE(c.z(), 0.0f);
    QCOMPARE(areas(c), QVector<double>{4.0});
    QCOMPARE(areas(t.subtract(squareContour(0, 0, 4, 4), squareContour(2, 2, 6, 6))), QVector<double>{12.0});
}

// A square with a square hole: the triangles sum to the ring's area; small ones can be dropped.
void TestTessellator::triangulateIntoSlice()
{
    const geom::Slice ring =
        sliceOf(1.0f, 0.1f, {squareContour(0, 0, 4, 4), squareContour(1, 1, 3, 3, true)});
    Tessellator t(Tessellator::Odd);
    const geom::Slice out = t.triangulate(ring, 0.0);
    QCOMPARE(t.boundaryOnly(), false);
    QVERIFY(out.contourCount() >= 1);
    double area = 0.0;
    int triangles = 0;
    for (int i = 0; i < out.contourCount(); ++i) {
        const QVector<Vector2f> &p = out.contour(i)->points();
        QCOMPARE(p.size() % 3, 0);
        for (int k = 0; k < p.size(); k += 3) {
            const double a = 0.5 * (double(p[k + 1].x - p[k].x) * double(p[k + 2].y - p[k].y) -
                                    double(p[k + 2].x - p[k].x) * double(p[k + 1].y - p[k].y));
            QVERIFY(a > 0.0);
            area += a;
            ++triangles;
        }
    }
    QCOMPARE(area, 12.0);
    QCOMPARE(triangles, 8);
    QCOMPARE(t.triangulate(ring, 1000.0).contourCount(), 0);
    QCOMPARE(t.triangulate(squareContour(0, 0, 2, 2), 0.0).z(), 0.0f);
}

void TestTessellator::triangulateIntoFacets()
{
    const geom::Slice square = sliceOf(2.0f, 0.1f, {squareContour(0, 0, 1, 1)});
    Tessellator t(Tessellator::NonZero);
    for (bool flip : {false, true}) {
        const QList<geom::Facet> facets = t.triangulate(square, flip);
        QCOMPARE(facets.size(), 2);
        for (const geom::Facet &f : facets) {
            QCOMPARE(f.normal.z, flip ? -1.0f : 1.0f);
            for (const Vector3f &v : f.vertex)
                QCOMPARE(v.z, 2.0f);
            QCOMPARE(f.crossProduct().z > 0.0f, !flip); // counter-clockwise from above unless flipped
        }
    }
    // Under Positive the flipped square winds -1 about the flipped normal: nothing is inside.
    Tessellator positive(Tessellator::Positive);
    QCOMPARE(positive.triangulate(square, true).size(), 0);
    QCOMPARE(positive.triangulate(geom::Slice(1.0f, 1.0f), false).size(), 0);
    QCOMPARE(positive.triangulate(squareContour(0, 0, 3, 3)).size(), 2);
}

QTEST_GUILESS_MAIN(TestTessellator)
#include "tst_tessellator.moc"
