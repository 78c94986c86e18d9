#pragma once

namespace geom {

class StlMeshPrivate;

// The vertex half of a mesh's statistics, run on a thread of its own beside the facet half: grows
// the bounds over the vertices when they are not valid and computes the radius from the bounds'
// centre. Writes only bounds and radius of the record; the caller waits for it while holding the
// mesh's write lock.
class VertexStatistic
{
public:
    explicit VertexStatistic(StlMeshPrivate *record)
        : m_record(record)
    {}
    void run();

private:
    StlMeshPrivate *m_record;
};

} // namespace geom
