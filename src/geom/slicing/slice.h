#pragma once

#include "geom/core/circle.h"
#include "geom/core/rectangle.h"
#include "geom/core/vector2f.h"
#include "geom/slicing/contour.h"

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QPainterPath>
#include <QSet>

#include <set>

class QDataStream;
class QMatrix4x4;
class QPainter;
class QTransform;
class QVector3D;

namespace geom {

// One layer of a sliced model: its height z, its thickness and its closed contours, held by value,
// with cached totals (signed area, perimeter, bounds, point count) over the enumerated contours.
//
// The contours are organised by format():
// - Flat: every contour at the top level, none with children (what the slicer produces);
// - Hierarchy: contours nested to any depth; only the top level is enumerated;
// - Grouped: outer contours (area >= 0) at the top with their holes as children, no deeper; the
//   enumeration runs through each outer contour followed by its holes, group after group.
// contourCount() and contour() enumerate; the totals and most queries work on the enumerated
// contours. A value type used on one thread at a time (const queries refresh the cache).
class Slice
{
public:
    enum Format
    {
        Flat = 0,
        Hierarchy = 1,
        Grouped = 2
    };

    // An empty Flat slice at height z; cache stale.
    explicit Slice(float z = 0.0f, float thickness = 0.0f);
    // Shares the contours (copy-on-write) and takes over every member, then detects the format from
    // the nesting: a Flat slice whose contours have children becomes Grouped, or Hierarchy when
    // some child has children itself.
    Slice(const Slice &other);
    // Takes over every member unchanged.
    Slice &operator=(const Slice &other);
    // A copy, then resample (step, mode).
    Slice(const Slice &s, double step, int mode);
    // Same z, thickness and format; every contour mapped through t (on the vector unit when fast);
    // the format is detected again and the cache is stale.
    Slice(const Slice &s, const QTransform &t, bool fast);
    // The QTransform copy with m's 2D part; z becomes the z of (0, 0, z) mapped by m and thickness
    // is scaled by the length of the first three entries of m's third column.
    Slice(const Slice &s, const QMatrix4x4 &m, bool fast);
    // Same z, thickness and format; copies of the listed top-level contours of s in the set's
    // iteration order (indices outside the list are left out); the format is detected again.
    Slice(const Slice &s, const QSet<int> &indices);
    ~Slice() = default;

    float z() const { return m_z; }
    void setZ(float z) { m_z = z; }
    float thickness() const { return m_thickness; }
    void setThickness(float thickness) { m_thickness = thickness; }
    int format() const { return m_format; }
    // In Grouped: for each top-level contour k, the enumeration index of the last member of k's
    // group mapped to k. Empty in the other formats.
    const QMap<int, int> &groupIndex() const
    {
        refreshGroups();
        return m_groupIndex;
    }

    // The top-level contours.
    const QList<Contour> &contours() const { return m_contours; }
    // The top-level contours for writing (producers append here); marks the cache stale. In Grouped
    // the enumeration follows the changed list (the holes of a contour are its children).
    QList<Contour> &contours()
    {
        m_pointCount = -1;
        m_groupsStale = true;
        return m_contours;
    }

    // The number of enumerated contours: 0 without contours; in Grouped the number of outer
    // contours and their holes; otherwise the size of the top-level list.
    int contourCount() const;
    // The enumerated contour at index, valid while the contour list is not changed. Outside the
    // Grouped enumeration the index is clamped into the top-level list (below 0 the first, beyond
    // the end the last). Null for a slice without contours. After changing the holes of a Grouped
    // slice through the pointer, call invalidate() before enumerating again.
    Contour *contour(int index);
    const Contour *contour(int index) const;

    // Totals over the enumerated contours, refreshed first when stale.
    double area() const;
    double perimeter() const;
    Rectangle bounds() const;
    int pointCount() const;
    // True when the cache is stale or some top-level contour needsUpdate.
    bool needsUpdate() const;
    // Refreshes the totals when needsUpdate.
    void update() const;

    // True when p lies inside under the winding rule (1 non-zero, anything else odd), counting each
    // enumerated contour that contains p as +1 (area >= 0) or -1 (hole). outerIndex, when given,
    // receives the last containing contour of positive area.
    bool containsPoint(const Vector2f &p, int *outerIndex, int rule) const;
    // True when the circle's centre lies inside (non-zero rule) or some enumerated contour comes
    // within its radius (within the double tolerance of the squares).
    bool intersectsCircle(const Circle<float> &circle) const;
    // True when some corner of r lies inside an odd number of the enumerated contours whose bounds
    // meet r.
    bool coversCorner(const Rectangle &r) const;
    // The points of other inside the top-level contours, counted positive for outer contours and
    // negative for holes; stops once limit >= 1 and the square of the sum exceeds limit squared.
    int insideCount(const Contour &other, int limit) const;
    // For equal contour counts the summed point differences a - b over the enumerated points in
    // order (unpaired points of a added, of b subtracted); else (countA - countB, countB - countA).
    static Vector2f difference(const Slice &a, const Slice &b);
    // Every point of the slice: the own points of the top-level contours in Flat, all points of
    // their trees otherwise.
    std::set<Vector2f> allPoints() const;
    // As Contour::compare on the two slices' allPoints.
    static int compare(const Slice &a, const Slice &b);
    // Every contour of every tree, pre-order, in list order.
    QList<Contour *> allContours();
    QList<const Contour *> allContours() const;
    // The enumerated contours of at least three points as closed polygons, last to first, with the
    // winding fill rule when windingFill, else odd-even.
    QPainterPath toPainterPath(bool windingFill) const;
    // Fills the slice on painter with its opaque brush (else white), largest contour first; in
    // Grouped the holes are drawn in black over their outer contour.
    void paint(QPainter *painter) const;

    // Applies the contour operation of the same name to every top-level contour.
    void reverse();
    // Moves every contour by (dx, dy) and z by dz. Offsets of at most 1e-5 in x and y move only z,
    // and a dz of at most 1e-5 then changes nothing.
    void translate(float dx, float dy, float dz);
    void translate(const QVector3D &d);
    // Mirrors every contour (x for MinX or MaxX, y for MinY or MaxY), negates z for MinZ or MaxZ;
    // the cached bounds are mirrored with them.
    void mirror(int axes);
    void snapToGrid(double step);
    void smooth(int radius, double decay);
    void simplify(double tolerance);
    // Returns the number of points removed from all contours.
    int simplifyAndClean(double tolerance);
    // Resamples every top-level contour; in mode 0 contours shorter than step are removed.
    void resample(double step, int mode);
    // Marks the cache stale (and the grouping of a Grouped slice, rebuilt on the next enumeration).
    void invalidate();
    // Sorts the top-level contours by absolute area, increasing when ascending; a stable sort, so
    // contours of equal absolute area keep their order.
    void sortByArea(bool ascending);
    // Reorganises the contours into format f (through Flat); nothing when f is the current format;
    // an unknown f leaves the slice Flat.
    void setFormat(int f);
    // Moves every nested contour to the top level and sorts by decreasing absolute area.
    void toFlatFormat();
    // Nests every hole into the nearest earlier outer contour that contains it; holes without one
    // stay at the top.
    void toGroupedFormat();
    // Nests every contour into the nearest earlier contour of opposite orientation that contains it;
    // warns that deep nesting is not reliable.
    void toHierarchyFormat();

private:
    friend QDataStream &operator>>(QDataStream &s, Slice &slice);

    template <typename F>
    void forEachEnumerated(F f) const;
    void detectFormat();
    void rebuildGroupIndex() const;
    // Rebuilds the group index of a Grouped slice after the contours were handed out for writing.
    void refreshGroups() const;
    const Contour *enumerated(int index) const;

    QList<Contour> m_contours;
    float m_z = 0.0f;
    float m_thickness = 0.0f;
    mutable QMap<int, int> m_groupIndex;
    int m_format = Flat;
    mutable double m_area = 0.0;
    mutable double m_perimeter = 0.0;
    mutable Rectangle m_bounds;
    mutable int m_pointCount = -1;
    mutable bool m_groupsStale = false;
};

// Writes qint32 top-level contour count, the contour records, float z and float thickness (4 bytes
// each, whatever the stream's floating-point precision).
QDataStream &operator<<(QDataStream &s, const Slice &slice);
// Appends the contours read to slice's and reads z and thickness; the format stays (a Grouped slice
// regroups its index) and the cache goes stale. Stops at the first read that leaves the stream not
// Ok; a negative count sets ReadCorruptData; memory follows the bytes that arrive.
QDataStream &operator>>(QDataStream &s, Slice &slice);

} // namespace geom

Q_DECLARE_METATYPE(geom::Slice)
