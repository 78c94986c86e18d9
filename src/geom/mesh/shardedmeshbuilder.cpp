#include "geom/mesh/shardedmeshbuilder.h"

#include "geom/mesh/stlmeshbuilder.h"

#include <algorithm>
#include <cstring>

namespace geom {

namespace {

// The three vertices of a record in the order a single builder resolves them: last first.
inline void recordCorners(const uchar *record, Vector3f (&v)[3])
{
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "records hold little-endian floats");
    const uchar *vertices = record + sizeof(Vector3f);
    std::memcpy(&v[0], vertices + 2 * sizeof(Vector3f), sizeof(Vector3f));
    std::memcpy(&v[1], vertices + sizeof(Vector3f), sizeof(Vector3f));
    std::memcpy(&v[2], vertices, sizeof(Vector3f));
}

} // namespace

ShardedMeshBuilder::ShardedMeshBuilder(unsigned lanes, int facetCount)
    : m_team(std::max(1u, lanes))
    , m_ranges(m_team.lanes())
    , m_facets(std::max(facetCount, 0))
    , m_corners(size_t(m_ranges) * Shards)
    , m_firstCounts(size_t(m_ranges) * Shards, 0)
    , m_scratch(m_ranges)
{
    const qint64 perShard = qint64(std::max(facetCount, 0)) / Shards;
    for (std::unique_ptr<StlMeshBuilder> &shard : m_shards) {
        shard.reset(new StlMeshBuilder);
        shard->reserve(perShard);
    }
}

ShardedMeshBuilder::~ShardedMeshBuilder() = default;

bool ShardedMeshBuilder::addRecords(const uchar *records, int n)
{
    if (m_refused)
        return false;
    n = std::min({n, BatchRecords, m_facets.size() - m_added});
    if (n <= 0)
        return true;
    constexpr int Size = StlMeshBuilder::RecordSize;
    IndexedFacet *facets = m_facets.data() + m_added;
    const auto rangeBegin = [this, n](quint32 r) { return int(qint64(n) * r / m_ranges); };

    // Each range files its corners by shard, and takes the attributes.
    m_team.run(m_ranges, [&](quint32 r) {
        std::vector<Corner> *bins = &m_corners[size_t(r) * Shards];
        const int begin = rangeBegin(r), end = rangeBegin(r + 1);
        for (int s = 0; s < Shards; ++s) {
            bins[s].clear();
            bins[s].reserve(size_t(end - begin) * 3 / Shards * 5 / 4 + 16);
        }
        Vector3f v[3];
        for (int i = begin; i < end; ++i) {
            const uchar *record = records + size_t(i) * Size;
            recordCorners(record, v);
            for (quint32 k = 0; k < 3; ++k) {
                const size_t shard = StlMeshBuilder::mergeHash(v[k]) >> (sizeof(size_t) * 8 - ShardBits);
                bins[shard].push_back(Corner{3 * quint32(i) + k, 0});
            }
            facets[i].attribute = quint32(record[48]) | quint32(record[49]) << 8;
        }
    });

    // Each shard merges its corners, ranges in order and so in file order.
    m_team.run(Shards, [&](quint32 s) {
        StlMeshBuilder &shard = *m_shards[s];
        // note: as in the single builder, the table slots of some corners ahead are fetched early.
        constexpr size_t Ahead = 8;
        const auto vertexOf = [records](quint32 corner) {
            Vector3f v[3];
            recordCorners(records + size_t(corner / 3) * Size, v);
            return v[corner % 3];
        };
        for (quint32 r = 0; r < m_ranges; ++r) {
            std::vector<Corner> &bin = m_corners[size_t(r) * Shards + s];
            int firstSeen = 0;
            for (size_t i = 0; i < bin.size(); ++i) {
                if (i + Ahead < bin.size())
                    shard.prefetchSlot(vertexOf(bin[i + Ahead].corner));
                const int known = shard.vertexCount();
                const int index = shard.vertexIndex(vertexOf(bin[i].corner));
                const bool added = index == known;
                bin[i].local = quint32(index) | (added ? FirstSeen : 0u);
                firstSeen += added;
            }
            m_firstCounts[size_t(r) * Shards + s] = firstSeen;
        }
    });

    qint64 vertices = 0;
    for (const std::unique_ptr<StlMeshBuilder> &shard : m_shards)
        vertices += shard->vertexCount();
    if (vertices >= StlMeshBuilder::MaxMappedVertices) {
        m_refused = true;
        return false;
    }
    // The vertices first seen in a range follow those of the ranges before it.
    std::vector<int> rangeBase(m_ranges);
    int next = m_vertexCount;
    for (quint32 r = 0; r < m_ranges; ++r) {
        rangeBase[r] = next;
        for (int s = 0; s < Shards; ++s)
            next += m_firstCounts[size_t(r) * Shards + size_t(s)];
    }
    for (int s = 0; s < Shards; ++s)
        m_index[size_t(s)].resize(size_t(m_shards[size_t(s)]->vertexCount()));

    // Each range numbers the vertices first seen at its corners, in corner order.
    m_team.run(m_ranges, [&](quint32 r) {
        const quint32 cornerBegin = 3 * quint32(rangeBegin(r));
        std::vector<quint32> &firstSeen = m_scratch[r].firstSeen;
        firstSeen.assign(3 * size_t(rangeBegin(r + 1)) - cornerBegin, ~0u);
        for (quint32 s = 0; s < Shards; ++s) {
            for (const Corner &c : m_corners[size_t(r) * Shards + s]) {
                if (c.local & FirstSeen)
                    firstSeen[c.corner - cornerBegin] = s << (31 - ShardBits) | (c.local & ~FirstSeen);
            }
        }
        qint32 index = rangeBase[r];
        constexpr quint32 LocalMask = (1u << (31 - ShardBits)) - 1;
        for (const quint32 vertex : firstSeen) {
            if (vertex != ~0u)
                m_index[vertex >> (31 - ShardBits)][vertex & LocalMask] = index++;
        }
    });

    // Each range writes the indices of its own facets.
    m_team.run(m_ranges, [&](quint32 r) {
        for (quint32 s = 0; s < Shards; ++s) {
            const qint32 *index = m_index[s].data();
            for (const Corner &c : m_corners[size_t(r) * Shards + s]) {
                IndexedFacet &f = facets[c.corner / 3];
                const qint32 i = index[c.local & ~FirstSeen];
                switch (c.corner % 3) {
                case 0: f.c = i; break;
                case 1: f.b = i; break;
                default: f.a = i; break;
                }
            }
        }
    });
    m_vertexCount = next;
    m_added += n;
    return true;
}

void ShardedMeshBuilder::finish(StlMeshBuilder &builder)
{
    std::vector<std::vector<Corner>>().swap(m_corners);
    std::vector<RangeScratch>().swap(m_scratch);
    QVector<Vector3f> vertices(m_vertexCount);
    Vector3f *out = vertices.data();
    m_team.run(Shards, [&](quint32 s) {
        const QVector<Vector3f> &own = m_shards[s]->newVertices();
        const qint32 *index = m_index[s].data();
        for (int i = 0; i < own.size(); ++i)
            out[index[i]] = own[i];
    });
    for (int s = 0; s < Shards; ++s) {
        m_shards[size_t(s)].reset();
        std::vector<qint32>().swap(m_index[size_t(s)]);
    }

    m_facets.resize(m_added);
    builder.restart(nullptr);
    builder.m_newVertices = std::move(vertices);
    builder.m_facets = std::move(m_facets);
    builder.m_mappedCount = m_vertexCount;
    m_facets = QVector<IndexedFacet>();
    m_added = 0;
    m_vertexCount = 0;
}

} // namespace geom
