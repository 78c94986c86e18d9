#include "geom/mesh/vertexsort.h"

#include "geom/mesh/largeblock.h"
#include "geom/mesh/vertexorder.h"

#include <algorithm>
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
    std::vector<SortEntry, LargeBlockAllocator<SortEntry>> entries(static_cast<size_t>(n));
    std::vector<int> histogram(size_t(PassCount) * DigitCount, 0);
    for (int i = 0; i < n; ++i) {
        const Vector3f &v = vertices[positions[i]];
        if (v.x != v.x || v.y != v.y || v.z != v.z) {
            comparisonSort();
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
    std::vector<SortEntry, LargeBlockAllocator<SortEntry>> buffer(static_cast<size_t>(n));
    for (int pass = 0; pass < PassCount; ++pass) {
        int *counts = &histogram[size_t(pass) * DigitCount];
        if (counts[digit(entries[0], pass)] == n)
            continue; // every entry has the same digit: the pass would not move anything
        int sum = 0;
        for (int b = 0; b < DigitCount; ++b) {
            const int c = counts[b];
            counts[b] = sum;
            sum += c;
        }
        for (const SortEntry &e : entries)
            buffer[size_t(counts[digit(e, pass)]++)] = e;
        entries.swap(buffer);
    }
    for (int i = 0; i < n; ++i)
        positions[i] = entries[size_t(i)].position;
}

} // namespace geom
