#include "detail/connectivity_graph.h"
#include "detail/deferred_heap.h"
#include "detail/heap_array.h"
#include "detail/triangle_graph.h"
#include "tri_stripper.h"

#include <QtTest>

#include <algorithm>
#include <map>
#include <random>

using tristripper::check_failure;
using tristripper::index_list;
using tristripper::primitive;
using tristripper::primitive_vector;
using tristripper::tri_stripper;

using Index = tristripper::index;

Q_DECLARE_METATYPE(index_list)

namespace {

// One triangle as a key: rotated to its lexicographically smallest rotation, winding kept.
struct Tri
{
    Index v[3];
    bool operator<(const Tri &o) const { return std::lexicographical_compare(v, v + 3, o.v, o.v + 3); }
    bool operator==(const Tri &o) const { return std::equal(v, v + 3, o.v); }
};

Tri canonical(Index a, Index b, Index c)
{
    Tri r{{a, b, c}};
    const Tri r1{{b, c, a}};
    const Tri r2{{c, a, b}};
    if (r1 < r)
        r = r1;
    if (r2 < r)
        r = r2;
    return r;
}

std::vector<Tri> trianglesOf(const index_list &indices)
{
    std::vector<Tri> out;
    for (size_t k = 0; k + 2 < indices.size(); k += 3)
        out.push_back(canonical(indices[k], indices[k + 1], indices[k + 2]));
    std::sort(out.begin(), out.end());
    return out;
}

// Reads the primitives back with the strip parity rule, independently of the stripper's walk.
std::vector<Tri> expand(const primitive_vector &primitives)
{
    std::vector<Tri> out;
    for (const primitive &p : primitives) {
        const index_list &v = p.indices;
        if (p.type == tristripper::triangle_strip) {
            for (size_t k = 0; k + 2 < v.size(); ++k)
                out.push_back(k % 2 == 0 ? canonical(v[k], v[k + 1], v[k + 2])
                                         : canonical(v[k + 1], v[k], v[k + 2]));
        } else {
            for (size_t k = 0; k + 2 < v.size(); k += 3)
                out.push_back(canonical(v[k], v[k + 1], v[k + 2]));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

QString describe(const primitive_vector &primitives)
{
    QStringList chunks;
    for (const primitive &p : primitives) {
        QStringList values;
        for (Index v : p.indices)
            values << QString::number(v);
        chunks << QStringLiteral("%1[%2]")
                      .arg(p.type == tristripper::triangle_strip ? QLatin1Char('S') : QLatin1Char('L'))
                      .arg(values.join(QLatin1Char(' ')));
    }
    return chunks.join(QLatin1Char(' '));
}

primitive_vector stripped(const index_list &indices)
{
    tri_stripper stripper(indices);
    primitive_vector out;
    stripper.strip(&out);
    return out;
}

// Triangle k is (k, k+1, k+2) for even k and (k+1, k, k+2) for odd k.
index_list ribbon(int count)
{
    index_list out;
    for (Index k = 0; k < Index(count); ++k) {
        if (k % 2 == 0)
            out.insert(out.end(), {k, k + 1, k + 2});
        else
            out.insert(out.end(), {k + 1, k, k + 2});
    }
    return out;
}

// A w x h grid of quads, two consistently wound triangles each; with wrap, the grid closes into
// a torus (w, h >= 3).
index_list grid(int w, int h, bool wrap)
{
    const int cols = wrap ? w : w + 1;
    const int rows = wrap ? h : h + 1;
    const auto at = [&](int x, int y) { return Index((y % rows) * cols + (x % cols)); };
    index_list out;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            out.insert(out.end(), {at(x, y), at(x + 1, y), at(x + 1, y + 1)});
            out.insert(out.end(), {at(x, y), at(x + 1, y + 1), at(x, y + 1)});
        }
    }
    return out;
}

// Shuffles the triangle order and rotates each triangle's corners, keeping every winding.
index_list shuffled(const index_list &in, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::array<Index, 3>> tris;
    for (size_t k = 0; k + 2 < in.size(); k += 3)
        tris.push_back({in[k], in[k + 1], in[k + 2]});
    std::shuffle(tris.begin(), tris.end(), random);
    index_list out;
    for (auto t : tris) {
        std::rotate(t.begin(), t.begin() + random() % 3, t.end());
        out.insert(out.end(), t.begin(), t.end());
    }
    return out;
}

// A torus plus what real files hold: repeated facets, a facet repeated with the opposite winding,
// degenerate facets, a fin of three facets on one edge and a loose facet.
index_list awkward()
{
    index_list out = grid(6, 5, true);
    const index_list extra = {0,  1,  7,  // repeat of a torus facet
                              0,  7,  1,  // the same facet reversed
                              3,  3,  4,  // degenerate: two equal corners
                              5,  5,  5,  // degenerate: one point
                              1,  0,  90, // fin: the torus edge 0->1 run backwards twice more
                              1,  0,  91, //
                              0,  1,  92, // and once forwards
                              95, 96, 97};
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

QString arcsOf(const tristripper::detail::triangle_graph &graph)
{
    QStringList nodes;
    for (const auto &node : graph) {
        QStringList targets;
        for (auto arc = graph.out_begin(node); arc != graph.out_end(node); ++arc)
            targets << QString::number(arc->target());
        nodes << targets.join(QLatin1Char(','));
    }
    return nodes.join(QLatin1Char(' '));
}

// Limits under which the heap worker never pays: it is ended at the end of every window of the
// given number of operations, whatever the timing.
tristripper::detail::deferred_heap::worker_limits limitsNeverPaying(std::uint64_t window)
{
    tristripper::detail::deferred_heap::worker_limits limits;
    limits.m_Window = window;
    limits.m_WaitingShare = -1;
    limits.m_WakesPerOperation = -1;
    return limits;
}

} // namespace

class TestTriStripper : public QObject
{
    Q_OBJECT

private slots:
    void graphArcs();
    void graphChecksThrow();
    void heapTies();
    void heapEraseAndUpdate();
    void heapAgainstModel();
    void heapChecksThrow();
    void deferredHeapMatchesHeap_data();
    void deferredHeapMatchesHeap();
    void brokenDeferredHeapStaysBroken_data();
    void brokenDeferredHeapStaysBroken();
    void connectivity_data();
    void connectivity();
    void connectivitySameForEverySplit();
    void examples_data();
    void examples();
    void stripsHoldTheInput_data();
    void stripsHoldTheInput();
    void largeIndicesKeepTheResult();
    void repeatedCallSameResult();
    void threadsGiveTheSameResult();
    void goldenStrips_data();
    void goldenStrips();
    void flatFormMatches_data();
    void flatFormMatches();
    void flatFormRefusesWideIndices();
    void nullResultPointerThrows();
};

void TestTriStripper::graphArcs()
{
    tristripper::detail::triangle_graph empty(0);
    QCOMPARE(empty.size(), size_t(0));
    QCOMPARE(empty.arc_count(), size_t(0));

    // Nodes 1 and 3 keep their arcs apart from the node, the others inside it; a run that overlaps
    // another would lose targets.
    tristripper::detail::triangle_graph graph(5);
    const std::vector<unsigned> counts{3, 5, 0, 4, 1};
    for (size_t i = 0; i < counts.size(); ++i)
        graph.set_count(i, counts[i]);
    graph.place_arcs();
    QCOMPARE(graph.arc_count(), size_t(13));
    const std::vector<std::vector<unsigned>> targets{{0, 2, 2}, {3, 1, 0, 2, 3}, {}, {4, 4, 1, 0}, {1}};
    for (size_t i = 0; i < targets.size(); ++i) {
        for (size_t k = 0; k < targets[i].size(); ++k)
            graph.set_target(i, unsigned(k), targets[i][k]);
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        QCOMPARE(graph[i].out_count(), unsigned(targets[i].size()));
        std::vector<unsigned> got;
        for (auto arc = graph.out_begin(graph[i]); arc != graph.out_end(graph[i]); ++arc)
            got.push_back(arc->target());
        QCOMPARE(got, targets[i]);
    }

    // Mark, queue flag and degree share the node's room with the arcs and leave them alone.
    graph[1].mark();
    QVERIFY(graph[1].marked());
    QVERIFY(!graph[0].marked());
    for (size_t i = 0; i < counts.size(); ++i) {
        graph[i].set_degree(counts[i]);
        graph[i].set_queued(i % 2 == 0);
    }
    graph[0].set_degree(2);
    graph[3].set_degree(1);
    QVERIFY_EXCEPTION_THROWN(graph[4].set_degree(2), check_failure);
    graph.unmark_all();
    QVERIFY(!graph[1].marked());
    const std::vector<unsigned> degrees{2, 5, 0, 1, 1};
    for (size_t i = 0; i < targets.size(); ++i) {
        QCOMPARE(graph[i].degree(), degrees[i]);
        QCOMPARE(graph[i].queued(), i % 2 == 0);
        QCOMPARE(graph[i].out_count(), unsigned(targets[i].size()));
        std::vector<unsigned> got;
        for (auto arc = graph.out_begin(graph[i]); arc != graph.out_end(graph[i]); ++arc)
            got.push_back(arc->target());
        QCOMPARE(got, targets[i]);
    }
}

void TestTriStripper::graphChecksThrow()
{
    tristripper::detail::triangle_graph graph(3);
    QVERIFY_EXCEPTION_THROWN(graph.set_count(graph.size(), 1), check_failure);
    graph.set_count(0, 1);
    graph.set_count(1, 4);
    // No arc has room before place_arcs, and no count changes after it.
    QVERIFY_EXCEPTION_THROWN(graph.set_target(0, 0, 0), check_failure);
    graph.place_arcs();
    QVERIFY_EXCEPTION_THROWN(graph.set_count(2, 1), check_failure);
    QVERIFY_EXCEPTION_THROWN(graph.place_arcs(), check_failure);
    QVERIFY_EXCEPTION_THROWN(graph.set_target(0, 1, 0), check_failure);
    QVERIFY_EXCEPTION_THROWN(graph.set_target(1, 4, 0), check_failure);
    QVERIFY_EXCEPTION_THROWN(graph.set_target(2, 0, 0), check_failure);
    QVERIFY_EXCEPTION_THROWN(graph.set_target(3, 0, 0), check_failure);
    QVERIFY_EXCEPTION_THROWN(graph.set_target(0, 0, 3), check_failure);
    QVERIFY_EXCEPTION_THROWN(graph[3], check_failure);
    try {
        graph.set_target(1, 4, 0);
    } catch (const check_failure &failure) {
        QCOMPARE(QByteArray(failure.what()), QByteArray("k < out_count()"));
    }
}

void TestTriStripper::heapTies()
{
    tristripper::detail::heap_array<quint32> heap;
    QCOMPARE(heap.push(2), 0u);
    QCOMPARE(heap.push(1), 1u);
    QCOMPARE(heap.push(1), 2u);
    heap.lock();
    QCOMPARE(heap.top(), 1u);
    QCOMPARE(heap.id_at(0), 1u);
    heap.pop();
    QCOMPARE(heap.id_at(0), 2u);
    QVERIFY(heap.removed(1));
}

void TestTriStripper::heapEraseAndUpdate()
{
    tristripper::detail::heap_array<quint32> heap;
    for (quint32 key : {1, 3, 2, 5})
        heap.push(key);
    heap.lock();
    // Identity 3 stands at the last index: erasing it moves nothing else.
    heap.erase(3);
    QVERIFY(heap.removed(3));
    QCOMPARE(heap.size(), size_t(3));
    QCOMPARE(heap.id_at(0), 0u);
    QCOMPARE(heap.id_at(1), 1u);
    QCOMPARE(heap.id_at(2), 2u);

    // Lowered to the key of its parent, identity 1 stays below it; lowered further, it rises.
    heap.update(1, 1);
    QCOMPARE(heap.id_at(0), 0u);
    heap.update(1, 0);
    QCOMPARE(heap.id_at(0), 1u);
    QCOMPARE(heap.key_of(0), 1u);

    heap.erase(1);
    heap.erase(0);
    QCOMPARE(heap.size(), size_t(1));
    heap.pop();
    QVERIFY(heap.empty());
    QVERIFY(heap.removed(2));

    heap.clear();
    QVERIFY(!heap.locked());
    QVERIFY(!heap.valid(0));
    QCOMPARE(heap.push(4), 0u);
}

void TestTriStripper::heapAgainstModel()
{
    std::mt19937 random(7);
    tristripper::detail::heap_array<quint32> heap;
    std::map<quint32, quint32> model; // identity -> key of the live entries
    for (quint32 i = 0; i < 1000; ++i) {
        const quint32 key = random() % 50;
        QCOMPARE(heap.push(key), i);
        model[i] = key;
    }
    heap.lock();

    while (!model.empty()) {
        const quint32 choice = random() % 3;
        auto it = model.begin();
        std::advance(it, random() % model.size());
        if (choice == 0) {
            const quint32 key = random() % 60;
            heap.update(it->first, key);
            it->second = key;
        } else if (choice == 1) {
            heap.erase(it->first);
            model.erase(it);
        } else {
            quint32 smallest = model.begin()->second;
            for (const auto &entry : model)
                smallest = std::min(smallest, entry.second);
            QCOMPARE(heap.top(), smallest);
            const quint32 id = heap.id_at(0);
            QCOMPARE(model.at(id), smallest);
            heap.pop();
            model.erase(id);
            QVERIFY(heap.removed(id));
        }
        QCOMPARE(heap.size(), model.size());
        for (const auto &entry : model)
            QCOMPARE(heap.key_of(entry.first), entry.second);
    }
}

void TestTriStripper::heapChecksThrow()
{
    tristripper::detail::heap_array<quint32> heap;
    heap.push(1);
    QVERIFY_EXCEPTION_THROWN(heap.pop(), check_failure);
    QVERIFY_EXCEPTION_THROWN(heap.erase(0), check_failure);
    QVERIFY_EXCEPTION_THROWN(heap.update(0, 2), check_failure);
    QVERIFY_EXCEPTION_THROWN(heap.key_of(1), check_failure);
    heap.lock();
    QVERIFY_EXCEPTION_THROWN(heap.push(1), check_failure);
    QVERIFY_EXCEPTION_THROWN(heap.lock(), check_failure);
    heap.pop();
    QVERIFY_EXCEPTION_THROWN(heap.pop(), check_failure);
    QVERIFY_EXCEPTION_THROWN(heap.top(), check_failure);
    QVERIFY_EXCEPTION_THROWN(heap.key_of(0), check_failure);
    QVERIFY_EXCEPTION_THROWN(heap.erase(0), check_failure);
    QVERIFY_EXCEPTION_THROWN(heap.id_at(0), check_failure);
}

void TestTriStripper::deferredHeapMatchesHeap_data()
{
    QTest::addColumn<bool>("worker");
    QTest::addColumn<int>("syncEvery");
    QTest::addColumn<bool>("neverPays");
    QTest::newRow("calling thread") << false << 0 << false;
    QTest::newRow("worker thread") << true << 0 << false;
    // Judged after every few hundred operations as not paying, the worker is ended and started
    // again many times, between syncs and at them, the queue going from one thread to the other.
    QTest::newRow("worker set aside and resumed") << true << 16 << true;
    QTest::newRow("worker set aside and resumed without syncs") << true << 0 << true;
}

void TestTriStripper::deferredHeapMatchesHeap()
{
    // The same operations, applied directly and through the queue (over more than one ring's
    // worth between two syncs, or with a sync every few operations), must leave the same
    // arrangement.
    QFETCH(bool, worker);
    QFETCH(int, syncEvery);
    QFETCH(bool, neverPays);
    std::mt19937 random(11);
    const quint32 count = 40000;
    tristripper::detail::heap_array<quint32> direct;
    tristripper::detail::deferred_heap deferred;
    deferred.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        const quint32 key = random() % 6;
        direct.push(key);
        deferred.push(key);
    }
    direct.lock();
    deferred.lock();
    if (neverPays) {
        tristripper::detail::deferred_heap::worker_limits limits = limitsNeverPaying(256);
        limits.m_FirstPause = 512;
        limits.m_LongestPause = 2048;
        deferred.set_worker_limits(limits);
    }
    if (worker) {
        deferred.start_worker();
        if (deferred.workers_started() == 0)
            QSKIP("no thread could be started");
    }

    std::vector<quint32> live(count);
    for (quint32 i = 0; i < count; ++i)
        live[i] = i;
    for (int round = 0; round < 6 && !live.empty(); ++round) {
        for (int k = 0; k < 30000 && !live.empty(); ++k) {
            const size_t at = random() % live.size();
            const quint32 id = live[at];
            if (random() % 3 == 0) {
                direct.erase(id);
                deferred.erase(id);
                live[at] = live.back();
                live.pop_back();
            } else {
                const quint32 key = direct.key_of(id) == 0 ? 3 : direct.key_of(id) - 1;
                direct.update(id, key);
                deferred.update(id, key);
            }
            if (syncEvery && k % syncEvery == 0)
                deferred.sync();
        }
        deferred.sync();
        QCOMPARE(deferred.empty(), direct.empty());
        for (quint32 id = 0; id < count; ++id) {
            QCOMPARE(deferred.removed(id), direct.removed(id));
            if (!direct.removed(id))
                QCOMPARE(deferred.key_of(id), direct.key_of(id));
        }
        for (int pops = 0; pops < 100 && !direct.empty(); ++pops) {
            QCOMPARE(deferred.id_at(0), direct.id_at(0));
            QCOMPARE(deferred.top(), direct.top());
            const quint32 id = direct.id_at(0);
            direct.pop();
            deferred.pop();
            QVERIFY(deferred.removed(id));
            live.erase(std::find(live.begin(), live.end(), id));
        }
    }
    if (neverPays)
        // More starts than the first one and one per round's sync: some came at a full ring.
        QVERIFY(deferred.workers_started() > 7);
    deferred.stop_worker();
    QVERIFY_EXCEPTION_THROWN(deferred.erase(count), check_failure);
}

void TestTriStripper::brokenDeferredHeapStaysBroken_data()
{
    QTest::addColumn<bool>("worker");
    QTest::addColumn<bool>("judged");
    QTest::newRow("calling thread") << false << false;
    QTest::newRow("worker thread") << true << false;
    // Set aside after 64 operations, the worker applies the failing one as it leaves: the
    // failure comes out of the update that queued the 64th.
    QTest::newRow("worker judged while queueing") << true << true;
}

void TestTriStripper::brokenDeferredHeapStaysBroken()
{
    // An identity erased twice passes the checks made when it is queued and fails where it is
    // applied; the heap may not be used again before it is cleared.
    QFETCH(bool, worker);
    QFETCH(bool, judged);
    tristripper::detail::deferred_heap deferred;
    if (judged)
        deferred.set_worker_limits(limitsNeverPaying(64));
    for (quint32 key = 0; key < 10; ++key)
        deferred.push(key);
    deferred.lock();
    if (worker)
        deferred.start_worker();
    deferred.erase(3);
    deferred.erase(3);
    if (judged) {
        int queued = 2;
        try {
            for (; queued < 64; ++queued)
                deferred.update(4, quint32(queued % 5));
        } catch (const check_failure &) {
        }
        QCOMPARE(queued, 63);
    }
    QVERIFY_EXCEPTION_THROWN(deferred.sync(), check_failure);
    QVERIFY_EXCEPTION_THROWN(deferred.sync(), check_failure);
    QVERIFY_EXCEPTION_THROWN(deferred.update(4, 0), check_failure);
    QVERIFY_EXCEPTION_THROWN(deferred.stop_worker(), check_failure);

    deferred.clear();
    deferred.push(7);
    deferred.push(5);
    deferred.lock();
    if (worker)
        deferred.start_worker();
    deferred.update(0, 1);
    deferred.sync();
    QCOMPARE(deferred.top(), 1u);
    QCOMPARE(deferred.id_at(0), 0u);
    deferred.stop_worker();
}

void TestTriStripper::connectivity_data()
{
    QTest::addColumn<index_list>("indices");
    QTest::addColumn<QString>("arcs");

    QTest::newRow("empty") << index_list{} << QString();
    QTest::newRow("seventh index ignored") << index_list{0, 1, 2, 2, 1, 3, 9} << "1 0";
    QTest::newRow("opposite directions") << index_list{0, 1, 2, 2, 1, 3} << "1 0";
    QTest::newRow("same direction") << index_list{0, 1, 2, 1, 2, 3} << " ";
    QTest::newRow("three against one") << index_list{0, 1, 2, 2, 1, 3, 2, 1, 4, 5, 2, 1} << "1,2,3 0 0 0";
    QTest::newRow("degenerate") << index_list{4, 4, 5} << "0,0,0";
    QTest::newRow("listed twice reversed") << index_list{0, 1, 2, 2, 1, 0} << "1,1,1 0,0,0";
    // Arcs follow the edges ab, bc, ca; within one edge, input order.
    QTest::newRow("edge order") << index_list{0, 1, 2, 1, 0, 5, 2, 1, 6, 0, 2, 7, 2, 1, 8}
                                << "1,2,4,3 0 0 0 0";
    QTest::newRow("large sparse indices") << index_list{1ull << 40, 7, 1ull << 63, 1ull << 63, 7, 3} << "1 0";
}

void TestTriStripper::connectivity()
{
    QFETCH(index_list, indices);
    QFETCH(QString, arcs);
    tristripper::detail::triangle_graph graph(indices.size() / 3);
    std::vector<Index> values;
    tristripper::detail::build_connectivity_graph(graph, indices, values);
    QCOMPARE(arcsOf(graph), arcs);
    for (const auto &node : graph)
        QCOMPARE(node->strip_id, 0u);
}

void TestTriStripper::connectivitySameForEverySplit()
{
    // Large buckets (a fan of 40 triangles around vertex 0) take the sorted path.
    index_list indices = shuffled(awkward(), 5);
    const index_list torus = shuffled(grid(40, 30, true), 6);
    indices.insert(indices.end(), torus.begin(), torus.end());
    for (Index k = 0; k < 40; ++k)
        indices.insert(indices.end(), {0, 200 + k, 201 + k});

    QString expected;
    for (unsigned chunks = 1; chunks <= 5; ++chunks) {
        tristripper::detail::triangle_graph graph(indices.size() / 3);
        std::vector<Index> values;
        tristripper::detail::build_connectivity_graph(graph, indices, values, chunks);
        const QString arcs = arcsOf(graph);
        if (chunks == 1)
            expected = arcs;
        QCOMPARE(arcs, expected);
    }
}

void TestTriStripper::examples_data()
{
    QTest::addColumn<index_list>("indices");
    QTest::addColumn<QString>("result");

    QTest::newRow("empty") << index_list{} << QString();
    QTest::newRow("one triangle") << index_list{0, 1, 2} << "L[0 1 2]";
    QTest::newRow("opposite directions") << index_list{0, 1, 2, 2, 1, 3} << "S[0 1 2 3]";
    QTest::newRow("same direction") << index_list{0, 1, 2, 1, 2, 3} << "L[0 1 2 1 2 3]";
    QTest::newRow("ribbon of 20")
        << ribbon(20) << "S[0 1 2 3 4 5 6 7 8 9] S[8 9 10 11 12 13 14 15 16 17] S[16 17 18 19 20 21]";
    QTest::newRow("ribbon with a loose triangle") << [] {
        index_list in = ribbon(3);
        in.insert(in.begin(), {7, 8, 9});
        return in;
    }() << "S[0 1 2 3 4] L[7 8 9]";
    // The degenerate triangle's arcs to itself raise its degree; it joins no strip.
    QTest::newRow("degenerate with neighbour")
        << index_list{4, 4, 5, 0, 1, 2, 2, 1, 3} << "S[0 1 2 3] L[4 4 5]";
}

void TestTriStripper::examples()
{
    QFETCH(index_list, indices);
    QFETCH(QString, result);
    const primitive_vector out = stripped(indices);
    QCOMPARE(describe(out), result);

    std::vector<quint32> narrow(indices.begin(), indices.end());
    tri_stripper stripper(narrow);
    primitive_vector fromNarrow;
    stripper.strip(&fromNarrow);
    QCOMPARE(describe(fromNarrow), result);

    // Records with the corners first and other data after them.
    struct Record
    {
        quint32 corners[3];
        quint32 other;
    };
    std::vector<Record> records;
    for (size_t k = 0; k + 2 < narrow.size(); k += 3)
        records.push_back(Record{{narrow[k], narrow[k + 1], narrow[k + 2]}, 0xDEADBEEFu});
    tri_stripper fromRecords(records.data(), records.size(), sizeof(Record));
    primitive_vector recordResult;
    fromRecords.strip(&recordResult);
    QCOMPARE(describe(recordResult), result);
}

void TestTriStripper::stripsHoldTheInput_data()
{
    QTest::addColumn<index_list>("indices");
    QTest::addColumn<double>("minStripShare");
    QTest::addColumn<double>("minShareInEights");

    // A regular grid goes entirely into strips of the longest length.
    QTest::newRow("open grid") << grid(24, 17, false) << 1.0 << 1.0;
    QTest::newRow("torus") << grid(20, 12, true) << 1.0 << 1.0;
    QTest::newRow("shuffled torus") << shuffled(grid(20, 12, true), 1) << 0.9 << 0.5;
    QTest::newRow("ribbon of 1001") << ribbon(1001) << 0.99 << 0.99;
    QTest::newRow("repeated, degenerate, non-manifold") << awkward() << 0.8 << 0.5;
    QTest::newRow("shuffled awkward") << shuffled(awkward(), 2) << 0.8 << 0.5;
}

void TestTriStripper::stripsHoldTheInput()
{
    QFETCH(index_list, indices);
    QFETCH(double, minStripShare);
    QFETCH(double, minShareInEights);

    const primitive_vector out = stripped(indices);
    QVERIFY(expand(out) == trianglesOf(indices));

    size_t inStrips = 0;
    size_t inEights = 0;
    for (size_t k = 0; k < out.size(); ++k) {
        const primitive &p = out[k];
        if (p.type == tristripper::triangle_strip) {
            QVERIFY2(p.indices.size() >= 4 && p.indices.size() <= 10, qPrintable(QString::number(k)));
            inStrips += p.indices.size() - 2;
            inEights += p.indices.size() == 10 ? 8 : 0;
        } else {
            QCOMPARE(p.type, tristripper::triangle_list);
            QCOMPARE(k, out.size() - 1);
            QVERIFY(!p.indices.empty());
            QCOMPARE(p.indices.size() % 3, size_t(0));
        }
    }
    const double triangles = double(indices.size() / 3);
    QVERIFY2(inStrips >= minStripShare * triangles, qPrintable(QString::number(inStrips)));
    QVERIFY2(inEights >= minShareInEights * triangles, qPrintable(QString::number(inEights)));
}

void TestTriStripper::largeIndicesKeepTheResult()
{
    // Indices beyond 32 bits, or far apart, are ranked internally; the result must not change.
    const index_list small = shuffled(awkward(), 3);
    index_list large = small;
    for (Index &v : large)
        v = v * (1ull << 35) + 11;
    primitive_vector expected = stripped(small);
    for (primitive &p : expected) {
        for (Index &v : p.indices)
            v = v * (1ull << 35) + 11;
    }
    QCOMPARE(describe(stripped(large)), describe(expected));
}

void TestTriStripper::repeatedCallSameResult()
{
    const index_list indices = shuffled(awkward(), 4);
    tri_stripper stripper(indices);
    primitive_vector first;
    primitive_vector second = {primitive{{1, 2, 3}, tristripper::triangle_list}};
    stripper.strip(&first);
    stripper.strip(&second);
    QVERIFY(!first.empty());
    QCOMPARE(describe(second), describe(first));
    QCOMPARE(describe(stripped(indices)), describe(first));
}

void TestTriStripper::threadsGiveTheSameResult()
{
    // Several seeds: the non-manifold chunks leave triangles that restart the search from the heap.
    index_list indices = shuffled(grid(70, 50, false), 7);
    for (unsigned seed = 8; seed < 12; ++seed) {
        const index_list more = shuffled(awkward(), seed);
        for (Index v : more)
            indices.push_back(v + 5000 * (seed - 7));
    }
    const std::vector<quint32> narrow(indices.begin(), indices.end());

    QString expected;
    for (unsigned threads : {1u, 2u, 3u, 5u}) {
        tri_stripper stripper(narrow, threads);
        primitive_vector out;
        stripper.strip(&out);
        const QString first = describe(out);
        stripper.strip(&out);
        QCOMPARE(describe(out), first);
        if (threads == 1)
            expected = first;
        QCOMPARE(first, expected);
    }
    QVERIFY(expand(stripped(indices)) == trianglesOf(indices));
}

// A large, irregular input: a grid with random holes, its triangles in a shuffled order with rotated
// corners, and the awkward pieces appended. The permutation is spelled out here, so the input is the
// same with every standard library.
index_list irregular(int w, int h, unsigned seed, bool holes = true)
{
    std::mt19937 random(seed);
    const index_list full = grid(w, h, false);
    std::vector<std::array<Index, 3>> tris;
    for (size_t k = 0; k + 2 < full.size(); k += 3) {
        if (!holes || random() % 16 != 0)
            tris.push_back({full[k], full[k + 1], full[k + 2]});
    }
    for (size_t i = tris.size(); i > 1; --i)
        std::swap(tris[i - 1], tris[random() % i]);
    index_list out;
    for (auto t : tris) {
        std::rotate(t.begin(), t.begin() + random() % 3, t.end());
        out.insert(out.end(), t.begin(), t.end());
    }
    const Index base = Index((w + 1) * (h + 1));
    for (Index v : awkward())
        out.push_back(v + base);
    return out;
}

// FNV-1a over every primitive's type, length and indices.
quint64 fingerprint(const primitive_vector &primitives)
{
    quint64 hash = 14695981039346656037ull;
    const auto mix = [&hash](quint64 value) {
        for (int byte = 0; byte < 8; ++byte) {
            hash ^= (value >> (8 * byte)) & 0xFF;
            hash *= 1099511628211ull;
        }
    };
    for (const primitive &p : primitives) {
        mix(p.type);
        mix(p.indices.size());
        for (Index v : p.indices)
            mix(v);
    }
    return hash;
}

void TestTriStripper::goldenStrips_data()
{
    QTest::addColumn<index_list>("indices");
    QTest::addColumn<quint64>("expected");

    // Large enough for the threaded graph build (the first) and the heap worker (both); the
    // fingerprints are those of the stripper's fixed output, which faster code must keep.
    QTest::newRow("irregular 140 x 130") << irregular(140, 130, 21) << quint64(5326821448297915410ull);
    QTest::newRow("shuffled grid 100 x 90")
        << irregular(100, 90, 22, false) << quint64(17634897276385823478ull);
}

void TestTriStripper::goldenStrips()
{
    QFETCH(index_list, indices);
    QFETCH(quint64, expected);
    const std::vector<quint32> narrow(indices.begin(), indices.end());
    for (unsigned threads : {0u, 1u, 2u}) {
        tri_stripper stripper(narrow, threads);
        primitive_vector out;
        stripper.strip(&out);
        QCOMPARE(fingerprint(out), expected);
        if (threads == 1)
            QVERIFY(expand(out) == trianglesOf(indices));
    }
}

// The flat form as primitives, so that the two results compare as a whole.
primitive_vector unflattened(const tristripper::flat_primitives &flat)
{
    primitive_vector out;
    size_t begin = 0;
    for (const quint32 end : flat.strip_ends) {
        out.push_back(
            primitive{index_list(flat.strip_indices.begin() + begin, flat.strip_indices.begin() + end),
                      tristripper::triangle_strip});
        begin = end;
    }
    if (begin != flat.strip_indices.size())
        out.push_back(primitive{{}, tristripper::triangle_strip});
    if (!flat.list_indices.empty())
        out.push_back(primitive{index_list(flat.list_indices.begin(), flat.list_indices.end()),
                                tristripper::triangle_list});
    return out;
}

void TestTriStripper::flatFormMatches_data()
{
    QTest::addColumn<index_list>("indices");
    QTest::newRow("awkward") << shuffled(awkward(), 4);
    // Far apart, so that the graph works on ranks and the flat form must give the indices back.
    index_list sparse = shuffled(awkward(), 5);
    for (Index &v : sparse)
        v = v * 40000000 + 7;
    QTest::newRow("sparse 32-bit") << sparse;
    QTest::newRow("irregular 140 x 130") << irregular(140, 130, 21);
}

void TestTriStripper::flatFormMatches()
{
    QFETCH(index_list, indices);
    for (unsigned threads : {1u, 2u}) {
        tri_stripper stripper(indices, threads);
        tristripper::flat_primitives flat;
        stripper.strip(&flat);
        primitive_vector out;
        stripper.strip(&out);
        QCOMPARE(describe(unflattened(flat)), describe(out));
        // A second flat result replaces the first.
        stripper.strip(&flat);
        QCOMPARE(describe(unflattened(flat)), describe(out));
    }
}

void TestTriStripper::flatFormRefusesWideIndices()
{
    index_list wide = awkward();
    wide.front() = 1ull << 32;
    tri_stripper stripper(wide);
    tristripper::flat_primitives flat;
    QVERIFY_EXCEPTION_THROWN(stripper.strip(&flat), std::length_error);
    primitive_vector out;
    stripper.strip(&out);
    QVERIFY(expand(out) == trianglesOf(wide));
}

void TestTriStripper::nullResultPointerThrows()
{
    tri_stripper stripper(index_list{0, 1, 2});
    try {
        stripper.strip(static_cast<primitive_vector *>(nullptr));
        QFAIL("no exception");
    } catch (const check_failure &failure) {
        QCOMPARE(QByteArray(failure.what()), QByteArray("out_pPrimitivesVector"));
    }
    try {
        stripper.strip(static_cast<tristripper::flat_primitives *>(nullptr));
        QFAIL("no exception");
    } catch (const check_failure &failure) {
        QCOMPARE(QByteArray(failure.what()), QByteArray("out"));
    }
}

QTEST_GUILESS_MAIN(TestTriStripper)
#include "tst_tristripper.moc"
