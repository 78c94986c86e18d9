#include "geom/mesh/stlmeshbuilder.h"

#include "geom/core/facet.h"
#include "geom/core/hugepages.h"
#include "geom/mesh/vertexorder.h"

#include <algorithm>
#include <cstring>

namespace geom {

namespace {

// The bits of a coordinate with -0 folded onto +0: two coordinates are the same vertex coordinate
// exactly when these agree (a NaN keeps its own pattern and so equals only itself).
inline quint32 mergeBits(float f)
{
    if (f == 0.0f)
        return 0;
    quint32 bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

struct MergeKey
{
    quint32 x, y, z;
    explicit MergeKey(const Vector3f &v)
        : x(mergeBits(v.x))
        , y(mergeBits(v.y))
        , z(mergeBits(v.z))
    {}
};

inline size_t keyHash(quint32 x, quint32 y, quint32 z)
{
    quint64 h = (quint64(x) << 32 | y) * 0x9E3779B97F4A7C15ull;
    h ^= (h >> 29) ^ (quint64(z) * 0xC2B2AE3D27D4EB4Full);
    h *= 0xBF58476D1CE4E5B9ull;
    return size_t(h ^ (h >> 31));
}

constexpr size_t MinTableSize = 1024;

// note: linear probing over 16-byte slots keeps a probe chain within one or two cache lines; a load
// of 5/8 bounds the chains without making the table much larger than the vertex list.
inline bool overLoaded(size_t entries, size_t slotCount)
{
    return entries * 8 > slotCount * 5;
}

} // namespace

StlMeshBuilder::StlMeshBuilder(const QVector<Vector3f> *baseVertices)
{
    restart(baseVertices);
}

void StlMeshBuilder::restart(const QVector<Vector3f> *baseVertices)
{
    m_baseVertices = baseVertices;
    m_baseSize = baseVertices ? baseVertices->size() : 0;
    m_newVertices = QVector<Vector3f>();
    m_facets = QVector<IndexedFacet>();
    std::fill(m_table.begin(), m_table.end(), Slot{{0, 0, 0}, 0});
    m_mappedCount = 0;
}

void StlMeshBuilder::reserve(qint64 facetCount)
{
    const int n = int(std::min<qint64>(std::max<qint64>(facetCount, 0), MaxReservedFacets));
    m_facets.reserve(m_facets.size() + n);
    adviseHugePages(m_facets);
    // A closed surface has about half as many vertices as facets; the table is sized for the whole
    // count, so that it need not grow and rehash while a large file is read.
    const size_t expected = size_t(std::min<qint64>(std::max<qint64>(facetCount, 0) / 2, MaxMappedVertices));
    const size_t vertices = size_t(m_mappedCount) + expected;
    size_t slotCount = std::max(m_table.size(), MinTableSize);
    while (overLoaded(vertices, slotCount))
        slotCount *= 2;
    if (slotCount != m_table.size()) {
        // note: an open surface has some vertices more, its borders; a list that outgrew its room
        // would be copied whole, so the room has a sixteenth to spare, which costs no memory
        // until it is written.
        m_newVertices.reserve(m_newVertices.size() +
                              int(std::min<size_t>(expected + expected / 16, MaxMappedVertices)));
        adviseHugePages(m_newVertices);
        growTable(slotCount);
    }
}

const Vector3f &StlMeshBuilder::vertexAt(int index) const
{
    return index < m_baseSize ? m_baseVertices->at(index) : m_newVertices.at(index - m_baseSize);
}

void StlMeshBuilder::growTable(size_t slotCount)
{
    SlotTable table(slotCount, Slot{{0, 0, 0}, 0});
    const size_t mask = slotCount - 1;
    for (const Slot &slot : m_table) {
        if (!slot.indexPlusOne)
            continue;
        size_t pos = keyHash(slot.key[0], slot.key[1], slot.key[2]) & mask;
        while (table[pos].indexPlusOne)
            pos = (pos + 1) & mask;
        table[pos] = slot;
    }
    m_table.swap(table);
}

int StlMeshBuilder::vertexIndex(const Vector3f &v)
{
    if (overLoaded(size_t(m_mappedCount) + 1, m_table.size()))
        growTable(std::max(MinTableSize, m_table.size() * 2));
    const MergeKey key(v);
    const size_t mask = m_table.size() - 1;
    size_t pos = keyHash(key.x, key.y, key.z) & mask;
    for (;;) {
        const Slot &slot = m_table[pos];
        if (!slot.indexPlusOne)
            break;
        if (slot.key[0] == key.x && slot.key[1] == key.y && slot.key[2] == key.z)
            return slot.indexPlusOne - 1;
        pos = (pos + 1) & mask;
    }

    int index = -1;
    if (m_baseSize > 0) {
        const Vector3f *begin = m_baseVertices->constData();
        const Vector3f *found = findVertex(begin, begin + m_baseSize, v);
        if (found != begin + m_baseSize)
            index = int(found - begin);
    }
    if (index < 0) {
        index = m_baseSize + m_newVertices.size();
        m_newVertices.append(v);
    }
    m_table[pos] = Slot{{key.x, key.y, key.z}, index + 1};
    ++m_mappedCount;
    return index;
}

void StlMeshBuilder::addFacet(const Vector3f &v1, const Vector3f &v2, const Vector3f &v3, quint32 attribute)
{
    IndexedFacet f;
    f.c = vertexIndex(v3);
    f.b = vertexIndex(v2);
    f.a = vertexIndex(v1);
    f.attribute = attribute;
    m_facets.append(f);
}

void StlMeshBuilder::addFacet(const Facet &facet, quint32 attribute)
{
    addFacet(facet.vertex[0], facet.vertex[1], facet.vertex[2], attribute);
}

void StlMeshBuilder::prefetchSlot(const Vector3f &v) const
{
    if (m_table.empty())
        return;
    const MergeKey key(v);
    __builtin_prefetch(&m_table[keyHash(key.x, key.y, key.z) & (m_table.size() - 1)]);
}

template <typename Source>
int StlMeshBuilder::addMany(const Source &source, int n)
{
    // note: a table much larger than the caches costs a memory round trip per lookup; asking for the
    // slots of a few facets ahead overlaps those round trips. The distance is a measured choice.
    constexpr int Ahead = 8;
    Vector3f v[3];
    for (int i = 0; i < std::min(n, Ahead); ++i) {
        source.vertices(i, v);
        prefetchSlot(v[0]);
        prefetchSlot(v[1]);
        prefetchSlot(v[2]);
    }
    for (int i = 0; i < n; ++i) {
        if (i + Ahead < n) {
            source.vertices(i + Ahead, v);
            prefetchSlot(v[0]);
            prefetchSlot(v[1]);
            prefetchSlot(v[2]);
        }
        source.vertices(i, v);
        addFacet(v[0], v[1], v[2], source.attribute(i));
        if (isFull())
            return i + 1;
    }
    return n;
}

namespace {

struct FacetSource
{
    const Facet *facets;
    const quint16 *attributes;
    void vertices(int i, Vector3f *v) const
    {
        v[0] = facets[i].vertex[0];
        v[1] = facets[i].vertex[1];
        v[2] = facets[i].vertex[2];
    }
    quint32 attribute(int i) const { return attributes ? attributes[i] : 0u; }
};

struct RecordSource
{
    const uchar *records;
    void vertices(int i, Vector3f *v) const
    {
        static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "records hold little-endian floats");
        std::memcpy(v, records + size_t(i) * StlMeshBuilder::RecordSize + sizeof(Vector3f),
                    3 * sizeof(Vector3f));
    }
    quint32 attribute(int i) const
    {
        const uchar *p = records + size_t(i) * StlMeshBuilder::RecordSize + 4 * sizeof(Vector3f);
        return quint32(p[0]) | quint32(p[1]) << 8;
    }
};

} // namespace

int StlMeshBuilder::addFacets(const Facet *facets, const quint16 *attributes, int n)
{
    if (!facets || n <= 0)
        return 0;
    return addMany(FacetSource{facets, attributes}, n);
}

int StlMeshBuilder::addRecords(const uchar *records, int n)
{
    if (!records || n <= 0)
        return 0;
    return addMany(RecordSource{records}, n);
}

} // namespace geom
