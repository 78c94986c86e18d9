#pragma once

#include "geom/slicing/slice.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVector>

namespace geom {

class StlMesh;
class TolerantSlicerPrivate;

// Cuts a mesh into horizontal layers of closed contours, tolerant of damage: vertex heights are
// rounded to the tolerance grid and every cut lies off that grid, open edges (cracks) are bridged,
// and a layer left with open contours is completed by a union with the nearest complete layer.
// A facet that repeats an earlier one (the same three vertices in the same turn) counts once.
// Reads the mesh (which must not change meanwhile) and never changes it; the mesh is the QObject
// parent. Runs on the caller's thread; a recursive mutex guards the tables and a running extraction.
class TolerantSlicer : public QObject
{
    Q_OBJECT

public:
    // How the last extraction ended: Layers when it ran to its end and some layer holds a contour;
    // else Cancelled, Fault, or why no layer holds one.
    enum Outcome
    {
        Layers,
        Cancelled,
        Fault,            // a fault inside the tables stopped the run
        InvalidInput,     // thickness or range not finite, thickness not above 0, or an empty range
        TooManyLayers,    // more than 2^24 layers
        NoFacets,         // no facet that can be sliced (none, or none with valid vertices)
        Flat,             // every facet is horizontal
        OutOfRange,       // the range lies outside +-16384
        MissesModel,      // no level cuts the model (a layer's middle passes above it)
        ContoursTooSmall, // every closed contour vanished in simplification (walls too thin)
        OpenContours,     // levels cut the model but closed no contour (cracks or junctions in the way)
    };
    Q_ENUM(Outcome)

    // What the slicer's tolerances, which are lengths in the model's own unit, took from the layers
    // of an extraction: a model very small or very large for its unit loses shape, layers or heights.
    struct Losses
    {
        // Closed contours that the contour tolerance left with 2 points or fewer, so they vanished.
        int vanishedContours = 0;
        // Layers whose cut met the model but all of whose contours vanished.
        int emptyLayers = 0;
        // The height above the lowest cut through the model that no layer holds: where the first
        // layer is searched upward past levels whose contours all vanished.
        double uncutBottom = 0.0;
        // Layers of the model that lie outside the heights that can be sliced and were not cut.
        int droppedLayers = 0;
        // The share of the traced contours' area that simplifying and snapping them changed.
        double changedShare = 0.0;
        // The layers made, their thickness, and the slicer's height and contour tolerances.
        int layers = 0;
        float thickness = 0.0f;
        double tolerance = 0.0;
        double simplifyTolerance = 0.0;
    };

    // Builds the tables of the mesh (may be null) at the z quantum max(tolerance, 0.001).
    TolerantSlicer(StlMesh *mesh, double tolerance);
    // Waits for a holder of the mutex on another thread, then frees the tables.
    ~TolerantSlicer() override;

    // Added to a layer's z before the cut; only finite values are taken.
    void setSampleOffset(double offset);
    double sampleOffset() const;
    // Grid of the traced contour points; values not above 0 (and NaN) give 0, no snapping.
    void setGridStep(double step);
    double gridStep() const;
    // The height quantum, at least 0.001; a change rebuilds the tables (under the mutex).
    void setTolerance(double tolerance);
    double tolerance() const;
    // Douglas-Peucker tolerance of traced contours; values not above 0 (and NaN) give 0.
    void setSimplifyTolerance(double tolerance);
    double simplifyTolerance() const;
    // When set, each complete layer is re-outlined with the winding rule, merging overlaps.
    void setMergeContours(bool merge);
    bool mergeContours() const;
    // The rule of the merge: 0 odd, 1 non-zero, 2 positive (default), 3 negative, 4 |w| >= 2.
    void setWindingRule(int rule);
    int windingRule() const;
    // Replaces the mesh and rebuilds the tables (under the mutex); the QObject parent stays.
    void setMesh(StlMesh *mesh);
    StlMesh *mesh() const;
    // True when some edge is shared by an odd number (three or more) of facets.
    bool hasOddJunctions() const;
    // The number of cracks (groups of open edges); builds the crack traversal when needed.
    int crackCount();
    // (z, thickness) of every layer whose tracing left open contours, in ascending z.
    QVector<QPair<float, float>> incompleteLayers() const;
    // How the last extraction ended; NoFacets before the first.
    Outcome outcome() const;
    // The user's sentence for an outcome: why no layer was made (an empty string for Layers).
    static QString outcomeText(Outcome outcome);
    // What the tolerances took from the layers of the last extraction; all 0 before the first.
    Losses losses() const;
    // The user's text for losses that change the layers noticeably: what was lost and the likely
    // cause. An empty string when the losses are those of an ordinary model.
    static QString lossText(const Losses &losses);

    // Layers from the mesh's lowest z up to its highest z plus one thickness, bottom-up.
    QList<Slice> extractSlices(float thickness);
    // Layers from `from` to `to` (swapped when reversed, clamped to +-16384), bottom-up. Emits
    // sliceReady once per final slice and extractFinished once at the end, also when cancelled.
    // An empty list at once when the thickness is not finite and above 0, the range not finite, the
    // layers would exceed 2^24, or nothing can be cut. A fault inside the tables ends the run like
    // a cancel, with a warning.
    QList<Slice> extractSlices(float from, float to, float thickness);
    // The one layer at z, or a slice at z without contours.
    Slice extractSlice(float z);

signals:
    // Slice number id (from 1) of the expected `total` is final.
    void sliceReady(int id, int total);
    // The run ended with sliceCount slices.
    void extractFinished(int sliceCount);

public slots:
    // Stops a running extraction before its next layer.
    void cancelExtract();

private:
    friend class TolerantSlicerPrivate;
    TolerantSlicerPrivate *const d;
};

} // namespace geom
