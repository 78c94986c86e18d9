#pragma once

#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"

#include <QVector>

#include <vector>

// Thinning of closed planar contours. A contour is a QVector of points whose last point joins the
// first; the closing point is not repeated at the end. Every function is a template instantiated
// for geom::Vector2f (tolerance 1e-5, float arithmetic) and geom::Vector2d (tolerance 1e-12,
// double arithmetic). None reports an error or prints anything: degenerate input gives short or
// empty results. All are pure apart from their in-out argument, so any thread may call them on
// different data.
namespace geom {

// One Douglas-Peucker run over a caller's point array, read in place (the vector must not change
// while the simplifier lives). Index 0 is kept from the start.
template <typename P>
class ContourSimplifier
{
public:
    ContourSimplifier(const QVector<P> &points, double tolerance);

    // Splits the range first..last at the point farthest from its chord while that distance is
    // above the tolerance, depth first on an explicit stack (the call stack does not grow); every
    // split point is kept. Among equal distances the lowest index wins; distance 0 never splits.
    void simplifyRange(int first, int last);
    // The kept points in index order; empty when fewer than two are kept.
    QVector<P> keptPoints() const;

private:
    const P *m_points;
    int m_count;
    double m_squaredTolerance;
    std::vector<bool> m_kept;
    int m_keptCount = 0;
};

// Simplifies the ring in place with the distance tolerance and returns the number of points
// removed (0 exactly when the vector is unchanged). Fewer than two points empty the vector; a ring
// whose points all lie within the tolerance of its first point simplifies to empty; a closing
// point equal to the first is dropped and counted.
template <typename P>
int simplifyContour(QVector<P> &points, double tolerance);

// Every point but the first snapped to the nearest grid node of the step (halves away from zero);
// a point that lands within the precision's tolerance of the previous result point is dropped.
// changed (may be null) is set when a point moved. A step below 1e-5 (single precision) or an
// empty input returns the input and clears changed.
template <typename P>
QVector<P> snapToGrid(const QVector<P> &points, double step, bool *changed = nullptr);

// Drops every point whose successor lies within 1e-5 of the line of the current run (the line of
// the run's first edge), spikes included; collinearity is decided in single precision for both
// point types. Returns fewer points exactly when it removed some; a ring that lost nothing comes
// back rotated by one (its last point first); a ring on one line gives an empty result; fewer than
// three points come back unchanged.
template <typename P>
QVector<P> removeCollinearPoints(const QVector<P> &points);

// Keeps the first point and every point farther than the tolerance from the last kept one.
template <typename P>
QVector<P> removeClosePoints(const QVector<P> &points, double tolerance);

extern template class ContourSimplifier<Vector2f>;
extern template class ContourSimplifier<Vector2d>;
extern template int simplifyContour<Vector2f>(QVector<Vector2f> &, double);
extern template int simplifyContour<Vector2d>(QVector<Vector2d> &, double);
extern template QVector<Vector2f> snapToGrid<Vector2f>(const QVector<Vector2f> &, double, bool *);
extern template QVector<Vector2d> snapToGrid<Vector2d>(const QVector<Vector2d> &, double, bool *);
extern template QVector<Vector2f> removeCollinearPoints<Vector2f>(const QVector<Vector2f> &);
extern template QVector<Vector2d> removeCollinearPoints<Vector2d>(const QVector<Vector2d> &);
extern template QVector<Vector2f> removeClosePoints<Vector2f>(const QVector<Vector2f> &, double);
extern template QVector<Vector2d> removeClosePoints<Vector2d>(const QVector<Vector2d> &, double);

} // namespace geom
