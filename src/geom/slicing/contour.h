#pragma once

#include "geom/core/rectangle.h"
#include "geom/core/vector2f.h"

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QPolygonF>
#include <QVector>

#include <memory>
#include <set>

class QDataStream;
class QPainter;
class QPainterPath;
class QTransform;

namespace geom {

// One closed planar outline of a layer: a ring of single-precision points (closed implicitly from
// the last point back to the first) with the contours nested in it held by value (holes in an
// outer contour, islands in a hole). Counter-clockwise rings (x right, y up) have a positive signed
// area; the slice treats a contour of non-negative area as outer and one of negative area as a
// hole.
//
// A value type: copies share points and children until written (copy-on-write) and take over the
// cached measures, but not the point set. The signed area, perimeter and bounds are cached and
// refreshed by the first query after a change, so even the const queries write the cache: a
// contour, and every copy sharing its storage, is used on one thread at a time.
class Contour
{
public:
    // No points, no children, cache stale, bounds the null rectangle.
    Contour();
    // The count points from the array (none for a null array or count <= 0); cache stale.
    Contour(const Vector2f *points, int count);
    explicit Contour(const QVector<Vector2f> &points);
    // The four corners of r: clockwise from the min corner over (min x, max y), or counter-clockwise
    // from the min corner over (max x, min y).
    Contour(const Rectangle &r, bool clockwise);
    // The triangle a, b, c in that order.
    Contour(const Vector2f &a, const Vector2f &b, const Vector2f &c);
    // A copy of c translated by offset.
    Contour(const Contour &c, const Vector2f &offset);
    // A copy of c resampled with step and mode (see resample).
    Contour(const Contour &c, double step, int mode);
    // The points of c and of all its descendants mapped through t: on the vector unit when fast is
    // true, point by point otherwise; the copy is stale.
    Contour(const Contour &c, const QTransform &t, bool fast);

    Contour(const Contour &other);
    Contour &operator=(const Contour &other);
    Contour(Contour &&other) noexcept = default;
    Contour &operator=(Contour &&other) noexcept = default;
    ~Contour() = default;

    // The ring's points in order.
    const QVector<Vector2f> &points() const { return m_points; }
    // The points for writing; marks the cache stale and empties the point set.
    QVector<Vector2f> &points()
    {
        invalidate();
        return m_points;
    }
    // The number of own points (children not counted).
    int pointCount() const { return m_points.size(); }
    // The nested contours, in order.
    const QList<Contour> &children() const { return m_children; }
    QList<Contour> &children() { return m_children; }
    int childCount() const { return m_children.size(); }

    // Signed area: positive for counter-clockwise rings, 0 below three points.
    double area() const;
    // Length of the closed outline; 2 |last - first| for one or two points.
    double perimeter() const;
    // Bounding rectangle of the own points; the null rectangle below three points.
    Rectangle bounds() const;
    // Centre of a valid bounds, else (0, 0).
    Vector2f center() const;
    // Own area plus the total area of every child (signed: holes subtract).
    double totalArea() const;
    // Own perimeter plus the total perimeter of every child.
    double totalPerimeter() const;
    // Own point count plus that of every descendant.
    int totalPointCount() const;
    // True when this contour and every descendant have no points.
    bool isEmpty() const;
    // True when the cache of this contour or of some descendant is stale.
    bool needsUpdate() const;
    // Refreshes the own cache when needsUpdate; every query that reads the cache calls it.
    void update() const;

    // Squared distance from p to the closed outline; +infinity without points.
    double distanceSquared(const Vector2f &p) const;
    // Distance from p to the outline; 0 when the squared distance is at most 1e-12.
    double distance(const Vector2f &p) const;
    // Non-zero winding test of p against the own ring, in float; fewer than three points contain
    // nothing. Rings of more than nine points first reject points outside the bounds unless
    // skipBoundsTest. Horizontal edges (within 1e-5 relative) are skipped; a point at the lower end
    // of an edge crosses it, one at the upper end does not.
    bool containsPoint(const Vector2f &p, bool skipBoundsTest = false) const;
    // 0 when p is outside, else 1 plus the containment depth of p in every child.
    int containmentDepth(const Vector2f &p) const;
    // How many points of other lie inside this ring (containsPoint), stopping once the count reaches
    // limit (limit <= 0 never stops early); 0 below three own points.
    int countPointsInside(const Contour &other, int limit) const;
    // True when other lies wholly inside this ring: a direct child of opposite orientation is, an
    // other that holds a point of this ring is not, else every point of other must be inside. An
    // empty other is contained.
    bool contains(const Contour &other) const;
    // True when the two refreshed bounding rectangles meet (an edge shared counts).
    bool boundsIntersect(const Contour &other) const;
    // True when p lies on an edge of the ring (two points at least); the start index of that edge
    // goes to edgeIndex when given.
    bool isOnEdge(const Vector2f &p, int *edgeIndex = nullptr) const;
    // The own points and those of every descendant, as a set ordered by x, then y. Builds the own
    // point set on first use.
    std::set<Vector2f> allPoints() const;
    // -1 or +1 when a has fewer or more distinct points (allPoints) than b, else the size of the
    // symmetric difference of the two point sets (0: the same points).
    static int compare(const Contour &a, const Contour &b);
    // This contour and every descendant, pre-order. The pointers stay valid while no list of the
    // tree is changed.
    QList<Contour *> flatten();
    QList<const Contour *> flatten() const;
    // The own points keyed by a measure relative to r, by flags & 15: 2 distance |p - r|, 3 the
    // projection on r, 4 the cross product p x r, anything else the squared distance; bit 16 negates
    // the keys 3 and 4; bit 32 merges the children's maps first (own points win equal keys). A later
    // point with an equal key replaces the earlier one.
    QMap<double, Vector2f> keyedPoints(int flags, const Vector2f &r) const;

    // Marks the cache stale and empties the point set.
    void invalidate();
    // Empties the point set; the cache stays as it is.
    void clearPointSet();
    // Appends a point (recorded in a built point set); marks the cache stale.
    void appendPoint(float x, float y);
    // Reverses the point order (the signed area changes sign); marks the cache stale.
    void reverse();
    // Moves this contour and every descendant by (dx, dy).
    void translate(float dx, float dy);
    // Mirrors this contour and every descendant: x when axes has MinX or MaxX, y when it has MinY or
    // MaxY. The orientation is kept (one mirrored axis reverses the point order), so the cache stays
    // valid; cached bounds are mirrored too.
    void mirror(int axes);
    // Snaps the points to the grid of step (geom::snapToGrid; the first point stays).
    void snapToGrid(double step);
    // Douglas-Peucker simplification with the tolerance (geom::simplifyContour); below 1e-5 only
    // collinear points are removed.
    void simplify(double tolerance);
    // simplify, then the removal of collinear points (fewer than two points left: all go); returns
    // the number of points removed.
    int simplifyAndClean(double tolerance);
    // Resamples the ring. Every mode drops points closer than 1e-5 to their predecessor. Mode 0 puts
    // points at step spacing along the closed outline, keeping vertices that fall on the spacing, and
    // empties a contour whose perimeter is below step; mode 1 only drops the close points; a mode of 2
    // or more splits each edge longer than step into k equal parts, k the first power of two with
    // length / k <= step, at most mode.
    void resample(double step, int mode);
    // Closed-ring convolution over radius neighbours on each side with weights exp(-j decay /
    // radius); radius < 1 does nothing, a ring of at most radius + 1 points is emptied.
    void smooth(int radius, double decay);
    // Empties the points of this contour and of every descendant; the children stay in the list.
    void clear();

    // Adds the own ring (moveTo, lineTo, not closed) and then every child's to path; returns path.
    QPainterPath &addToPath(QPainterPath &path) const;
    // The own points followed by every child's toPolygon, one flat polygon.
    QPolygonF toPolygon() const;
    // Draws the own ring as a polygon with the odd-even rule.
    void paint(QPainter *painter) const;

private:
    friend QDataStream &readContour(QDataStream &s, Contour &c, int depth);

    void ensurePointSet() const;

    // note: a sliced layer may hold tens of thousands of small contours, so the point set, which
    // few contours ever need, is built on first use behind a pointer (null until then), and the flag
    // goes last, where it packs.
    QVector<Vector2f> m_points;
    QList<Contour> m_children;
    mutable double m_area = 0.0;
    mutable double m_perimeter = 0.0;
    mutable Rectangle m_bounds;
    mutable std::unique_ptr<std::set<Vector2f>> m_pointSet;
    mutable bool m_dirty = true;
};

// -1 or +1 when x holds fewer or more points than y, else the size of their symmetric difference
// (0: the same points). What Contour::compare and Slice::compare answer for their point sets.
int comparePointSets(const std::set<Vector2f> &x, const std::set<Vector2f> &y);

// The deepest nesting a contour read from a stream may have; deeper records are corrupt data.
constexpr int MaxContourDepth = 1000;

// Writes the contour record: qint32 child count, the child records (pre-order), then the points as
// writeVector2fArray writes them. Counts follow the stream's byte order.
QDataStream &operator<<(QDataStream &s, const Contour &c);
// Reads a contour record, appending the children to c's and replacing its points; c is marked
// stale. Stops at the first read that leaves the stream not Ok; a negative count or nesting deeper
// than MaxContourDepth sets ReadCorruptData. Memory follows the bytes that arrive, whatever the
// counts claim.
QDataStream &operator>>(QDataStream &s, Contour &c);

} // namespace geom

Q_DECLARE_METATYPE(geom::Contour)
