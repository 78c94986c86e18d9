#pragma once

#include "geom/core/cuboid.h"
#include "geom/core/vector2f.h"
#include "geom/slicing/contour.h"
#include "geom/slicing/slice.h"

#include <QList>
#include <QMultiMap>

#include <set>

class QDataStream;
class QMatrix4x4;

namespace geom {

// The layers of a sliced model as one collection: slices ordered by increasing z (a z that is not a
// number after all others), at most one per height (heights within min(|a|, |b|) * 1e-5 of each
// other are one height), with totals that
// parallel those of a mesh. After every change that is not deferred, the thickness of each slice
// but the last is the gap to the next one and the totals match the slices; a caller that defers
// calls update() when done. Used on one thread at a time.
class SliceStack
{
public:
    // No slices; the bounds the null box.
    SliceStack();
    // Every slice of t mapped through m (Slice's QMatrix4x4 copy) and reversed when m mirrors, then
    // reordered by height (a height that m maps onto another keeps the later slice) and updated.
    SliceStack(const SliceStack &t, const QMatrix4x4 &m);

    const QList<Slice> &slices() const { return m_slices; }
    int size() const { return m_slices.size(); }
    bool isEmpty() const { return m_slices.isEmpty(); }
    // The union of the slices' 2D bounds from the first slice's z to the last slice's z.
    const Cuboid &bounds() const { return m_bounds; }
    // The sums of the slices' contourCount and pointCount.
    int contourCount() const { return m_contourCount; }
    qint64 pointCount() const { return m_pointCount; }
    // The sums of thickness * perimeter and thickness * area.
    double sideArea() const { return m_sideArea; }
    double volume() const { return m_volume; }
    // The bounding radius of the contour points about the centre of the bounds.
    double radius() const { return m_radius; }

    // Sets the thickness of every slice but the last to the gap to the next and recomputes the totals.
    void update();
    // No slices, null bounds, zero totals.
    void clear();
    // Inserts a copy of s at its height, or replaces the slice of that height (above or below s's z
    // within the tolerance); the slice is sorted by decreasing absolute contour area. Returns its
    // index.
    int insert(const Slice &s, bool defer = false);
    // Inserts a slice at z (thickness 0) holding c's children followed, when c has points, by a
    // contour of c's own points.
    int insertContour(float z, const Contour &c, bool defer = false);
    // Adds the slices of list (each sorted by decreasing absolute contour area); of slices of one
    // height the last added survives.
    void append(const QList<Slice> &list, bool defer = false);
    // Removes the slice at index (a negative index counts from the end); an index outside the stack
    // removes nothing. Updates unless defer, even when nothing was removed.
    void removeAt(int index, bool defer = false);
    // Removes the slice at height z; false when there is none.
    bool removeAtZ(float z, bool defer = false);
    // The index of the slice at height z (within the tolerance, above or below), -1 when there is
    // none.
    int find(float z) const;
    // The index of the first slice of the ordered list with a z of at least z, -1 when there is none.
    static int indexAtOrAbove(const QList<Slice> &list, float z);
    // The largest thickness, at least 0 (0 for an empty stack).
    float maxThickness() const;
    // The smallest thickness, at most the height of the bounds and at least 0.
    float minThickness() const;
    // Mirrors every slice with axes (Boundaries bits); mirroring z reverses the order of the slices,
    // which keep their gaps. The bounds are mirrored with them.
    void mirror(int axes);

    // The bounds of the list's contour points mapped by m, from the first slice's mapped z to the
    // last slice's; the null box for an empty list.
    static Cuboid mappedBounds(const QList<Slice> &list, const QMatrix4x4 &m);
    // For each top-level contour of a, in order: the top-level contours of b that share at least one
    // point with it, keyed by the squared distance between the two contours' centres.
    static QList<QMultiMap<double, int>> matchContours(const Slice &a, const Slice &b);
    // The points the two slices have in common.
    static std::set<Vector2f> sharedPoints(const Slice &a, const Slice &b);

private:
    friend QDataStream &operator>>(QDataStream &s, SliceStack &stack);

    // Orders the slices by increasing z (stable) and keeps the last of each height.
    void normalize();
    // The index of the slice of height z or -1; position receives the lower bound of z.
    int heightIndex(float z, int *position) const;

    Cuboid m_bounds;
    int m_contourCount = 0;
    qint64 m_pointCount = 0;
    double m_sideArea = 0.0;
    double m_radius = 0.0;
    QList<Slice> m_slices;
    double m_volume = 0.0;
};

// Writes qint32 slice count and the slice records in order.
QDataStream &operator<<(QDataStream &s, const SliceStack &stack);
// Adds the slices read to the stack as append does, then updates. Stops at the first read that
// leaves the stream not Ok (a slice read only in part is not added); a negative count sets
// ReadCorruptData.
QDataStream &operator>>(QDataStream &s, SliceStack &stack);

} // namespace geom
