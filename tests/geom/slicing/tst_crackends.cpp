#include "geom/slicing/crackends_p.h"

#include <QtTest>

#include <random>
#include <vector>

using geom::CrackEnds;
using geom::Vector2f;

namespace {

// The end the bridging has always taken: of the unused ends of the crack, scanned in ascending
// position, the first one strictly nearest.
int scanned(const std::vector<CrackEnds::End> &ends, const std::vector<bool> &used, quint32 crack,
            const Vector2f &p)
{
    int best = CrackEnds::none;
    double bestDistance = 0.0;
    for (int i = 0; i < int(ends.size()); ++i) {
        if (used[size_t(i)] || ends[size_t(i)].crack != crack)
            continue;
        const double d = CrackEnds::distance(ends[size_t(i)].point, p);
        if (best == CrackEnds::none || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

} // namespace

class TestCrackEnds : public QObject
{
    Q_OBJECT

private slots:
    void nearestIsTheScannedEnd_data();
    void nearestIsTheScannedEnd();
    void positions();
};

void TestCrackEnds::nearestIsTheScannedEnd_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("cracks");
    QTest::addColumn<float>("xStep"); // 0: every end on one vertical line
    QTest::addColumn<float>("yStep");
    QTest::addColumn<int>("grid"); // coordinates are whole multiples of the steps below this

    QTest::newRow("ties on a coarse grid") << 400 << 3 << 1.0f << 1.0f << 6;
    QTest::newRow("scattered, one crack") << 1000 << 1 << 0.013f << 0.007f << 5000;
    QTest::newRow("scattered, many cracks") << 1000 << 40 << 0.013f << 0.007f << 5000;
    QTest::newRow("one vertical line") << 300 << 2 << 0.0f << 0.1f << 50;
    QTest::newRow("large coordinates, rounding in the differences") << 500 << 2 << 1024.0f << 0.25f << 40;
    QTest::newRow("one end") << 1 << 1 << 1.0f << 1.0f << 3;
}

// Query by query, with ends used as a walk uses them, the tree answers what a scan of all ends
// answers, ties on distance included.
void TestCrackEnds::nearestIsTheScannedEnd()
{
    QFETCH(int, count);
    QFETCH(int, cracks);
    QFETCH(float, xStep);
    QFETCH(float, yStep);
    QFETCH(int, grid);
    std::mt19937 random(7);
    const auto coordinate = [&](float step) { return step * float(int(random() % unsigned(grid))); };
    std::vector<CrackEnds::End> ends;
    quint32 position = 0;
    for (int i = 0; i < count; ++i) {
        position += 1 + random() % 5;
        ends.push_back(
            {position, quint32(random() % unsigned(cracks)), Vector2f(coordinate(xStep), coordinate(yStep))});
    }
    CrackEnds tree;
    QVERIFY(!tree.isBuilt());
    tree.build(ends);
    QVERIFY(tree.isBuilt());
    QCOMPARE(tree.count(), count);

    std::vector<bool> used(ends.size(), false);
    for (int query = 0; query < 3 * count; ++query) {
        const quint32 crack = quint32(random() % unsigned(cracks + 1)); // one crack without ends
        const Vector2f p(coordinate(xStep) + (query % 3 ? 0.0f : 0.5f * xStep), coordinate(yStep));
        const int expected = scanned(ends, used, crack, p);
        const int found = tree.nearest(crack, p);
        QCOMPARE(found, expected);
        if (found == CrackEnds::none)
            continue;
        QCOMPARE(tree.position(found), ends[size_t(found)].position);
        QCOMPARE(tree.crack(found), ends[size_t(found)].crack);
        QCOMPARE(tree.point(found), ends[size_t(found)].point);
        tree.markUsed(found);
        used[size_t(found)] = true;
        // Now and then an end is used from elsewhere, or one used again.
        const int other = int(random() % unsigned(count));
        if (query % 4 == 0) {
            tree.markUsed(other);
            used[size_t(other)] = true;
        }
    }
}

void TestCrackEnds::positions()
{
    CrackEnds tree;
    tree.build({{3, 0, Vector2f(0, 0)}, {8, 1, Vector2f(1, 0)}, {20, 0, Vector2f(2, 0)}});
    QCOMPARE(tree.indexOf(3), 0);
    QCOMPARE(tree.indexOf(20), 2);
    QCOMPARE(tree.indexOf(4), CrackEnds::none);
    QCOMPARE(tree.indexOf(21), CrackEnds::none);
    QCOMPARE(tree.nearest(0, Vector2f(1.5f, 0)), 2);
    tree.markUsed(2);
    tree.markUsed(2);
    QCOMPARE(tree.nearest(0, Vector2f(1.5f, 0)), 0);
    tree.markUsed(0);
    QCOMPARE(tree.nearest(0, Vector2f(1.5f, 0)), CrackEnds::none);
    QCOMPARE(tree.nearest(1, Vector2f(1.5f, 0)), 1);

    tree.clear();
    QVERIFY(!tree.isBuilt());
    tree.build({});
    QCOMPARE(tree.nearest(0, Vector2f(0, 0)), CrackEnds::none);
}

QTEST_GUILESS_MAIN(TestCrackEnds)
#include "tst_crackends.moc"
