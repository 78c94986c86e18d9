#pragma once

#include "geom/core/vector2f.h"
#include "geom/slicing/planar_p.h"

#include <QtGlobal>

#include <vector>

namespace geom {

// The open ends of one level: the crack records whose edge the level cuts, each with its crack and
// its cut point. Answers the nearest unused end of a crack to a point in logarithmic time on
// average, from a 2-d tree over all the ends of the level.
//
// note: the distance is the one the bridging has always used, coordinate differences in float and
// their squares summed in double, and of equally distant ends the one at the lower record position
// wins; so the answer is the end a scan of the level's ends in table order would pick, and the
// tree prunes only by bounds that hold for that rounded distance.
class CrackEnds
{
public:
    struct End
    {
        quint32 position;
        quint32 crack;
        Vector2f point;
    };
    // Ends are named by their index in the list given to build.
    static constexpr int none = -1;

    // Takes the ends, in ascending record position, and builds the tree.
    void build(const std::vector<End> &ends);
    // Forgets every end; isBuilt() is false until the next build.
    void clear();
    bool isBuilt() const { return m_built; }
    int count() const { return int(m_nodes.size()); }

    // The end at the record position, or none.
    int indexOf(quint32 position) const;
    quint32 position(int index) const { return m_positions[size_t(index)]; }
    quint32 crack(int index) const { return m_nodes[m_nodeOf[size_t(index)]].crack; }
    Vector2f point(int index) const { return m_nodes[m_nodeOf[size_t(index)]].point; }
    // The nearest unused end of the crack to p, or none.
    int nearest(quint32 crack, const Vector2f &p) const;
    // Leaves the end out of later answers; an end already used changes nothing.
    void markUsed(int index);

    // The rounded squared distance of the bridging.
    static double distance(const Vector2f &a, const Vector2f &b) { return planar::squaredLength(a - b); }

private:
    struct Node
    {
        quint32 crack;
        quint32 index; // the end's index: its rank in position order
        Vector2f point;
    };
    struct Best
    {
        double distance = 0.0;
        quint32 node = 0;
        bool found = false;
    };

    void buildTree(quint32 begin, quint32 end, int depth);
    void search(quint32 begin, quint32 end, int depth, quint32 crack, const Vector2f &p, Best &best) const;

    // The tree is implicit: the middle node of a range is its root, splitting x at even depths and y
    // at odd ones; the nodes before it lie at or below the split, the nodes after it at or above.
    std::vector<Node> m_nodes;
    // Per root node the unused ends of its subtree; per node whether its end is used.
    std::vector<quint32> m_unused;
    std::vector<quint8> m_used;
    // Per end index its record position (ascending) and its node.
    std::vector<quint32> m_positions;
    std::vector<quint32> m_nodeOf;
    bool m_built = false;
};

} // namespace geom
