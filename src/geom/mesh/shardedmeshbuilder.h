#pragma once

#include "geom/mesh/indexedfacet.h"
#include "geom/core/vector3f.h"
#include "geom/core/workerthreads.h"

#include <QVector>
#include <array>
#include <memory>
#include <vector>

namespace geom {

class StlMeshBuilder;

// Merges the vertices of packed binary STL records on several threads, for a large file read at
// once into an empty mesh. Every vertex goes by the hash of its coordinates to one of a few
// shards, each merged by one thread in file order with a StlMeshBuilder of its own, so equal
// vertices meet in one table and keep their first-seen coordinates. The vertices are then
// numbered in the order they were first seen, as by a single builder: the builder handed over
// holds exactly what one StlMeshBuilder fed the same records would. A file with more vertices
// than one builder takes is refused: a single builder would have been appended part by part.
class ShardedMeshBuilder
{
public:
    // Records handed over at a time, at most.
    static constexpr int BatchRecords = 1 << 18;

    // Room for facetCount facets, merged by the calling thread and up to lanes - 1 helpers.
    ShardedMeshBuilder(unsigned lanes, int facetCount);
    ~ShardedMeshBuilder();
    ShardedMeshBuilder(const ShardedMeshBuilder &) = delete;
    ShardedMeshBuilder &operator=(const ShardedMeshBuilder &) = delete;

    // Adds the next n records (at most BatchRecords, within the facet count given); false when the
    // file is refused (see above), after which nothing more may be added.
    bool addRecords(const uchar *records, int n);
    // Hands the facets added and their vertices to an empty builder without base list, as a single
    // builder fed the same records would hold them but for the numbering.
    void finish(StlMeshBuilder &builder);

private:
    static constexpr int ShardBits = 3;
    static constexpr int Shards = 1 << ShardBits;
    // Marks the local index of a corner that saw its vertex first.
    static constexpr quint32 FirstSeen = 0x80000000u;

    // A corner of the batch (3 * record + place, place 0 for the record's last vertex, which a
    // single builder resolves first) and, once merged, its vertex's index in the shard, with
    // FirstSeen when the corner added the vertex.
    struct Corner
    {
        quint32 corner;
        quint32 local;
    };
    // What a range of records needs while its new vertices are numbered: per corner of the range,
    // the shard and local index of a vertex seen first there, else ~0u.
    struct RangeScratch
    {
        std::vector<quint32> firstSeen;
    };

    WorkerTeam m_team;
    const unsigned m_ranges;
    QVector<IndexedFacet> m_facets;
    int m_added = 0;
    std::array<std::unique_ptr<StlMeshBuilder>, Shards> m_shards;
    // The mesh index of every vertex of a shard, by local index.
    std::array<std::vector<qint32>, Shards> m_index;
    // The corners of range r bound for shard s, in rising order: m_corners[r * Shards + s].
    std::vector<std::vector<Corner>> m_corners;
    // Vertices first seen in range r of the batch, by shard: m_firstCounts[r * Shards + s].
    std::vector<int> m_firstCounts;
    std::vector<RangeScratch> m_scratch;
    int m_vertexCount = 0;
    bool m_refused = false;
};

} // namespace geom
