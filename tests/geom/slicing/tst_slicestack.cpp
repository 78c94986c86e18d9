#include "geom/slicing/slicestack.h"

#include "geom/core/boundary.h"
#include "planarsupport.h"

#include <QDataStream>
#include <QMatrix4x4>
#include <QtTest>

#include <cmath>

using geom::Contour;
using geom::Cuboid;
using geom::Slice;
using geom::SliceStack;
using geom::Vector2f;
using geom::Vector3f;
using planartest::squareContour;

namespace {

// A layer at z holding one counter-clockwise square of the given side, its min corner at the origin.
Slice layer(float z, float side, float thickness = 0.0f)
{
    Slice s(z, thickness);
    s.contours().append(squareContour(0, 0, side));
    return s;
}

QList<float> heights(const SliceStack &stack)
{
    QList<float> out;
    for (const Slice &s : stack.slices())
        out.append(s.z());
    return out;
}

QList<float> thicknesses(const SliceStack &stack)
{
    QList<float> out;
    for (const Slice &s : stack.slices())
        out.append(s.thickness());
    return out;
}

// Three layers at 0, 1 and 3 of sides 2, 2 and 4, the last 0.5 thick.
SliceStack threeLayers()
{
    SliceStack stack;
    stack.insert(layer(3, 4, 0.5f));
    stack.insert(layer(0, 2));
    stack.insert(layer(1, 2));
    return stack;
}

} // namespace

class TestSliceStack : public QObject
{
    Q_OBJECT

private slots:
    void insertAndTotals();
    void replaceAndAppend();
    void removeAndFind();
    void thickness();
    void mirror();
    void transformed();
    void contourMatches();
    void streams();
    void streamDamage_data();
    void streamDamage();
};

void TestSliceStack::insertAndTotals()
{
    const SliceStack stack = threeLayers();
    QCOMPARE(heights(stack), QList<float>({0, 1, 3}));
    // Every slice but the last is as thick as the gap to the next; the last keeps its own.
    QCOMPARE(thicknesses(stack), QList<float>({1, 2, 0.5f}));
    QCOMPARE(stack.contourCount(), 3);
    QCOMPARE(stack.pointCount(), qint64(12));
    QCOMPARE(stack.volume(), 1 * 4.0 + 2 * 4.0 + 0.5 * 16.0);
    QCOMPARE(stack.sideArea(), 1 * 8.0 + 2 * 8.0 + 0.5 * 16.0);
    QCOMPARE(stack.bounds(), Cuboid(Vector3f(0, 0, 0), Vector3f(4, 4, 3)));
    // Centre (2, 2, 1.5): the farthest point is a corner of the top layer.
    QCOMPARE(stack.radius(), std::sqrt(1.5 * 1.5 + 8.0));

    SliceStack empty;
    QCOMPARE(empty.radius(), 0.0);
    QVERIFY(empty.bounds().isNull());
    empty.insert(Slice(2.0f));
    QCOMPARE(empty.radius(), 0.0); // no points, no radius
    QCOMPARE(empty.contourCount(), 0);

    // A contour given as a tree becomes a slice of its children and its own ring.
    Contour outer = squareContour(0, 0, 10);
    outer.children().append(squareContour(2, 2, 2, true));
    SliceStack fromContour;
    QCOMPARE(fromContour.insertContour(5.0f, outer), 0);
    QCOMPARE(fromContour.slices()[0].contourCount(), 2);
    QCOMPARE(fromContour.slices()[0].contours()[0].area(), 100.0); // sorted by decreasing area
    QCOMPARE(fromContour.slices()[0].contours()[0].childCount(), 0);
    QCOMPARE(fromContour.slices()[0].thickness(), 0.0f);
}

void TestSliceStack::replaceAndAppend()
{
    SliceStack stack = threeLayers();
    // A height within the relative tolerance replaces that slice, from above as from below.
    QCOMPARE(stack.insert(layer(1.000001f, 5)), 1);
    QCOMPARE(stack.size(), 3);
    QCOMPARE(stack.insert(layer(0.999999f, 5)), 1);
    QCOMPARE(stack.size(), 3);
    QCOMPARE(stack.slices()[1].area(), 25.0);
    QCOMPARE(stack.insert(layer(2, 1)), 2);
    QCOMPARE(heights(stack), QList<float>({0, 0.999999f, 2, 3}));

    // Appended slices of an existing height replace the older one; among themselves the last wins.
    stack.append({layer(3, 7), layer(-1, 1), layer(0.5f, 1), layer(0.5f, 3)});
    QCOMPARE(heights(stack), QList<float>({-1, 0, 0.5f, 0.999999f, 2, 3}));
    QCOMPARE(stack.slices()[2].area(), 9.0);
    QCOMPARE(stack.slices()[5].area(), 49.0);

    // Deferred changes leave the totals until update.
    const qint64 points = stack.pointCount();
    stack.insert(layer(10, 1), true);
    QCOMPARE(stack.pointCount(), points);
    stack.update();
    QCOMPARE(stack.pointCount(), points + 4);
}

void TestSliceStack::removeAndFind()
{
    SliceStack stack = threeLayers();
    QCOMPARE(stack.find(1.0f), 1);
    QCOMPARE(stack.find(1.000001f), 1);
    QCOMPARE(stack.find(0.999999f), 1);
    QCOMPARE(stack.find(2.0f), -1); // between two slices
    QCOMPARE(stack.find(5.0f), -1);
    QCOMPARE(SliceStack::indexAtOrAbove(stack.slices(), 2.0f), 2);
    QCOMPARE(SliceStack::indexAtOrAbove(stack.slices(), 3.5f), -1);

    stack.removeAt(-1);
    QCOMPARE(heights(stack), QList<float>({0, 1}));
    QCOMPARE(stack.bounds().max().z, 1.0f);
    stack.removeAt(stack.size());
    stack.removeAt(-3);
    QCOMPARE(stack.size(), 2);
    QVERIFY(!stack.removeAtZ(0.5f));
    QVERIFY(stack.removeAtZ(0.0f));
    QCOMPARE(heights(stack), QList<float>({1}));
    stack.clear();
    QVERIFY(stack.isEmpty());
    QVERIFY(stack.bounds().isNull());
    QCOMPARE(stack.volume(), 0.0);
}

void TestSliceStack::thickness()
{
    const SliceStack stack = threeLayers();
    QCOMPARE(stack.maxThickness(), 2.0f);
    QCOMPARE(stack.minThickness(), 0.5f);
    QCOMPARE(SliceStack().maxThickness(), 0.0f);
    QCOMPARE(SliceStack().minThickness(), 0.0f);
}

void TestSliceStack::mirror()
{
    SliceStack stack = threeLayers();
    stack.mirror(geom::MinZ);
    QCOMPARE(heights(stack), QList<float>({-3, -1, 0}));
    QCOMPARE(thicknesses(stack), QList<float>({2, 1, 1}));
    QCOMPARE(stack.bounds(), Cuboid(Vector3f(0, 0, -3), Vector3f(4, 4, 0)));

    stack.mirror(geom::MaxX);
    QCOMPARE(stack.bounds(), Cuboid(Vector3f(-4, 0, -3), Vector3f(0, 4, 0)));
    QCOMPARE(stack.slices()[0].bounds().min(), Vector2f(-4, 0));
    QCOMPARE(stack.slices()[0].area(), 16.0);

    // A single layer has flat bounds, mirrored all the same.
    SliceStack single;
    single.insert(layer(2, 1));
    single.mirror(geom::MinX | geom::MinZ);
    QCOMPARE(single.bounds().min(), Vector3f(-1, 0, -2));
    QCOMPARE(single.bounds().max(), Vector3f(0, 1, -2));
}

void TestSliceStack::transformed()
{
    const SliceStack stack = threeLayers();
    QMatrix4x4 m;
    m.translate(10, 0, 1);
    m.scale(-1, 1, 2);
    const SliceStack copy(stack, m);
    QCOMPARE(heights(copy), QList<float>({1, 3, 7}));
    // The mirror turned the contours clockwise; the copy reversed them back.
    QCOMPARE(copy.slices()[2].area(), 16.0);
    QCOMPARE(copy.volume(), 2 * 4.0 + 4 * 4.0 + 1.0 * 16.0);
    QCOMPARE(copy.bounds(), Cuboid(Vector3f(6, 0, 1), Vector3f(10, 4, 7)));
    QCOMPARE(SliceStack::mappedBounds(stack.slices(), m), copy.bounds());
    QVERIFY(SliceStack::mappedBounds({}, m).isNull());

    // Turned upside down, the layers are put back in order.
    QMatrix4x4 flip;
    flip.scale(1, -1, -1);
    QCOMPARE(heights(SliceStack(stack, flip)), QList<float>({-3, -1, 0}));
}

void TestSliceStack::contourMatches()
{
    Slice a(0.0f);
    a.contours() << squareContour(0, 0, 2) << squareContour(10, 0, 1);
    Slice b(1.0f);
    // Shares the corner (2, 2) with a's first contour; the second shares (0, 0) and (2, 0).
    b.contours() << squareContour(2, 2, 1) << Contour(QVector<Vector2f>{{0, 0}, {2, 0}, {1, -1}})
                 << squareContour(20, 20, 1);
    const QList<QMultiMap<double, int>> matches = SliceStack::matchContours(a, b);
    QCOMPARE(matches.size(), 2);
    QCOMPARE(matches[0].values(), QList<int>({1, 0}));
    QCOMPARE(matches[0].keys(), QList<double>({2.25, 4.5}));
    QVERIFY(matches[1].isEmpty());

    const std::set<Vector2f> shared = SliceStack::sharedPoints(a, b);
    QCOMPARE(shared, (std::set<Vector2f>{{0, 0}, {2, 0}, {2, 2}}));
}

void TestSliceStack::streams()
{
    SliceStack stack = threeLayers();
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << stack;
    }
    SliceStack back;
    QDataStream in(bytes);
    in >> back;
    QCOMPARE(in.status(), QDataStream::Ok);
    QCOMPARE(heights(back), heights(stack));
    QCOMPARE(thicknesses(back), thicknesses(stack));
    QCOMPARE(back.volume(), stack.volume());
    QCOMPARE(back.slices()[2].contours()[0].points(), stack.slices()[2].contours()[0].points());
}

void TestSliceStack::streamDamage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("slices");

    QByteArray good;
    {
        QDataStream out(&good, QIODevice::WriteOnly);
        out << threeLayers();
    }
    QTest::newRow("whole") << good << int(QDataStream::Ok) << 3;
    QTest::newRow("last byte missing") << good.left(good.size() - 1) << int(QDataStream::ReadPastEnd) << 2;
    QTest::newRow("count only") << good.left(4) << int(QDataStream::ReadPastEnd) << 0;
    QTest::newRow("negative count") << QByteArray("\x80\0\0\0", 4) << int(QDataStream::ReadCorruptData) << 0;
    QTest::newRow("huge count") << QByteArray("\x7f\xff\xff\xff", 4) + good.mid(4)
                                << int(QDataStream::ReadPastEnd) << 3;
}

void TestSliceStack::streamDamage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QFETCH(int, slices);
    SliceStack stack;
    QDataStream in(bytes);
    in >> stack;
    QCOMPARE(int(in.status()), status);
    QCOMPARE(stack.size(), slices);
}

QTEST_GUILESS_MAIN(TestSliceStack)
#include "tst_slicestack.moc"
