#include "geom/mesh/vertexsort.h"

#include "geom/core/workerthreads.h"
#include "geom/mesh/vertexorder.h"
#include "platform/largeblock.h"
#include "platform/processors.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

namespace geom {

namespace {

// An unsigned key whose order is the float order, with -0 folded onto +0. Not for NaN.
inline quint32 orderKey(float f)
{
    if (f == 0.0f)
        return 0x80000000u;
    quint32 bits;
    std::memcpy(&bits, &f, sizeof bits);
    return (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);
}

struct SortEntry
{
    quint32 key[3]; // y, x, z: the least significant key first
    int position;
};

constexpr int DigitBits = 11;
constexpr int DigitCount = 1 << DigitBits;
constexpr int PassesPerKey = 3; // 11 + 11 + 10 bits
constexpr int PassCount = 3 * PassesPerKey;
// note: below this size a comparison sort beats the fixed cost of the digit histograms.
constexpr int RadixThreshold = 512;
// note: the passes read and scatter the whole list, which outgrows the caches of one processor
// with a few hundred thousand vertices; from there each pass is shared out in slices, whose own
// counts keep the sort stable. Slices per thread, for threads that start late or get less time.
constexpr int SliceThreshold = 1 << 18;
constexpr unsigned SlicesPerLane = 4;
constexpr unsigned MaxLanes = 8;

inline int digit(const SortEntry &e, int pass)
{
    return int(e.key[pass / PassesPerKey] >> (DigitBits * (pass % PassesPerKey))) & (DigitCount - 1);
}

} // namespace

void sortVertexPositions(const Vector3f *vertices, int *positions, int n)
{
    if (n < 2)
        return;
    // note: a list that is in vertex order already (every file this program writes) would come out
    // of the stable sort unchanged; one pass finds that out, at a fraction of the sort's cost, and
    // on a list out of order it stops at the first step down.
    bool sorted = true;
    for (int i = 1; sorted && i < n; ++i)
        sorted = !vertexLess(vertices[positions[i]], vertices[positions[i - 1]]);
    if (sorted)
        return;
    auto comparisonSort = [vertices, positions, n] {
        std::stable_sort(positions, positions + n,
                         [vertices](int p, int q) { return vertexLess(vertices[p], vertices[q]); });
    };
    if (n < RadixThreshold) {
        comparisonSort();
        return;
    }

    // Least significant digit first: every pass is stable, so equal vertices keep their order. The
    // keys have no place for a NaN; a vertex holding one sends the whole list to the comparison sort.
    WorkerTeam team(n >= SliceThreshold ? std::min(platform::usableProcessors(), MaxLanes) : 1u);
    const quint32 slices = n >= SliceThreshold ? team.lanes() * SlicesPerLane : 1u;
    auto sliceBegin = [n, slices](quint32 slice) { return int(qint64(n) * slice / slices); };

    std::vector<SortEntry, platform::LargeBlockAllocator<SortEntry>> entries(static_cast<size_t>(n));
    // One table of digit counts per slice; the first pass's from the keys, a later pass's from the
    // slice as the pass before left it.
    std::vector<int> counts(size_t(slices) * DigitCount);
    std::vector<int> totals(size_t(PassCount) * DigitCount, 0);
    std::vector<int> sliceTotals(size_t(slices) * PassCount * DigitCount, 0);
    std::atomic<bool> hasNaN{false};
    team.run(slices, [&](quint32 slice) {
        int *histogram = &sliceTotals[size_t(slice) * PassCount * DigitCount];
        for (int i = sliceBegin(slice), end = sliceBegin(slice + 1); i < end; ++i) {
            const Vector3f &v = vertices[positions[i]];
            if (v.x != v.x || v.y != v.y || v.z != v.z) {
                hasNaN = true;
                return;
            }
            SortEntry &e = entries[size_t(i)];
            e.key[0] = orderKey(v.y);
            e.key[1] = orderKey(v.x);
            e.key[2] = orderKey(v.z);
            e.position = positions[i];
            for (int pass = 0; pass < PassCount; ++pass)
                ++histogram[size_t(pass) * DigitCount + size_t(digit(e, pass))];
        }
    });
    if (hasNaN) {
        comparisonSort();
        return;
    }
    for (quint32 slice = 0; slice < slices; ++slice) {
        for (size_t k = 0; k < totals.size(); ++k)
            totals[k] += sliceTotals[size_t(slice) * PassCount * DigitCount + k];
    }

    std::vector<SortEntry, platform::LargeBlockAllocator<SortEntry>> buffer(static_cast<size_t>(n));
    bool firstPass = true;
    for (int pass = 0; pass < PassCount; ++pass) {
        const int *total = &totals[size_t(pass) * DigitCount];
        if (total[digit(entries[0], pass)] == n)
            continue; // every entry has the same digit: the pass would not move anything
        if (firstPass) {
            for (quint32 slice = 0; slice < slices; ++slice)
                std::copy_n(&sliceTotals[(size_t(slice) * PassCount + size_t(pass)) * DigitCount], DigitCount,
                            &counts[size_t(slice) * DigitCount]);
        } else {
            team.run(slices, [&](quint32 slice) {
                int *count = &counts[size_t(slice) * DigitCount];
                std::fill_n(count, DigitCount, 0);
                for (int i = sliceBegin(slice), end = sliceBegin(slice + 1); i < end; ++i)
                    ++count[digit(entries[size_t(i)], pass)];
            });
        }
        firstPass = false;
        // Each slice's entries of a digit go after those of every smaller digit and after those of
        // the same digit in the slices before it.
        int sum = 0;
        for (int b = 0; b < DigitCount; ++b) {
            for (quint32 slice = 0; slice < slices; ++slice) {
                int &c = counts[size_t(slice) * DigitCount + size_t(b)];
                const int here = c;
                c = sum;
                sum += here;
            }
        }
        team.run(slices, [&](quint32 slice) {
            int *next = &counts[size_t(slice) * DigitCount];
            for (int i = sliceBegin(slice), end = sliceBegin(slice + 1); i < end; ++i) {
                const SortEntry &e = entries[size_t(i)];
                buffer[size_t(next[digit(e, pass)]++)] = e;
            }
        });
        entries.swap(buffer);
    }
    team.run(slices, [&](quint32 slice) {
        for (int i = sliceBegin(slice), end = sliceBegin(slice + 1); i < end; ++i)
            positions[i] = entries[size_t(i)].position;
    });
}

} // namespace geom
