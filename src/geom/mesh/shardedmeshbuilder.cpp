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
            for (size_t i = 0; i < bin.size(); ++i) {
                if (i + Ahead < bin.size())
                    shard.prefetchSlot(vertexOf(bin[i + Ahead].corner));
                bin[i].local = quint32(shard.vertexIndex(vertexOf(bin[i].corner)));
            }
        }
    });

    qint64 vertices = 0;
    for (const std::unique_ptr<StlMeshBuilder> &shard : m_shards)
        vertices += shard->vertexCount();
    if (vertices >= StlMeshBuilder::MaxMappedVertices) {
        m_refused = true;
        return false;
    }

    // Each range writes the indices of its own facets.
    m_team.run(m_ranges, [&](quint32 r) {
        for (quint32 s = 0; s < Shards; ++s) {
            for (const Corner &c : m_corners[size_t(r) * Shards + s]) {
                IndexedFacet &f = facets[c.corner / 3];
                const qint32 index = qint32(s << LocalBits | c.local);
                switch (c.corner % 3) {
                case 0: f.c = index; break;
                case 1: f.b = index; break;
                default: f.a = index; break;
                }
            }
        }
    });
    m_added += n;
    return true;
}

void ShardedMeshBuilder::finish(StlMeshBuilder &builder)
{
    std::array<qint32, Shards + 1> base{};
    for (int s = 0; s < Shards; ++s)
        base[size_t(s) + 1] = base[size_t(s)] + m_shards[size_t(s)]->vertexCount();
    QVector<Vector3f> vertices(base[Shards]);
    for (int s = 0; s < Shards; ++s) {
        const QVector<Vector3f> &own = m_shards[size_t(s)]->newVertices();
        std::copy(own.cbegin(), own.cend(), vertices.begin() + base[size_t(s)]);
        m_shards[size_t(s)].reset();
    }
    std::vector<std::vector<Corner>>().swap(m_corners);

    m_facets.resize(m_added);
    IndexedFacet *facets = m_facets.data();
    const int count = m_added;
    constexpr qint32 LocalMask = (qint32(1) << LocalBits) - 1;
    const auto global = [&base](qint32 index) { return base[size_t(index >> LocalBits)] + (index & LocalMask); };
    m_team.run(m_ranges, [&](quint32 r) {
        const int end = int(qint64(count) * (r + 1) / m_ranges);
        for (int i = int(qint64(count) * r / m_ranges); i < end; ++i) {
            facets[i].a = global(facets[i].a);
            facets[i].b = global(facets[i].b);
            facets[i].c = global(facets[i].c);
        }
    });

    builder.restart(nullptr);
    builder.m_newVertices = std::move(vertices);
    builder.m_facets = std::move(m_facets);
    builder.m_mappedCount = base[Shards];
    m_facets = QVector<IndexedFacet>();
    m_added = 0;
}

} // namespace geom
