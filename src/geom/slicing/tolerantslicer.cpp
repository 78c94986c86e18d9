#include "geom/slicing/tolerantslicer.h"
#include "geom/slicing/tolerantslicer_p.h"

#include "geom/mesh/stlmesh.h"
#include "geom/slicing/tessellator.h"

#include <QMutexLocker>
#include <QStringList>
#include <QtDebug>

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <memory>

namespace geom {

namespace {

const double minimumTolerance = 0.001;
const float rangeLimit = 16384.0f;
// note: record ids 4f + c name facets uniquely only below 2^30.
const quint32 maxFacets = 1u << 30;
// More layers than this cannot be meant; the list alone would not fit in memory.
const double maxLayers = double(1 << 24);
// note: simplifying and snapping the contours change the area of an ordinary model's layers by less
// than 0.02 % (a torus of 100 k facets in millimetres, also with half of its facets missing); the
// scanned bunny in metres loses 8 %, a torus a thousandth of its size 17 %. A change or a number
// of emptied layers above this share is told.
const double noticeableShare = 0.01;

} // namespace

TolerantSlicerPrivate::TolerantSlicerPrivate(TolerantSlicer *owner, const StlMesh *m, double t)
    : q(owner)
    , mesh(m)
    , tolerance(std::max(t, minimumTolerance))
{}

void TolerantSlicerPrivate::prepareMesh()
{
    crackCount = -1;
    junctions.clear();
    std::vector<std::pair<quint32, quint32>>().swap(junctionOf);
    std::vector<quint32>().swap(crackOf);
    std::vector<quint32>().swap(crackPositions);
    // Freed, not only emptied: a rebuild must not hold two sets of tables at once.
    std::vector<quint32>().swap(edgeIds);
    std::vector<quint32>().swap(positions);
    std::vector<quint8>().swap(edgeFlags);
    std::vector<quint8>().swap(visited);
    std::vector<float>().swap(vertexHeights);
    facets = QVector<IndexedFacet>();
    vertices = QVector<Vector3f>();
    incompleteLayers.clear();
    facetCount = 0;
    badFacets = 0;
    edgeGroupCounter = 0;
    hasOddJunctions = false;
    facetCorners = nullptr;
    generation = 0;
    lowestCut = 0.0f;
    highestCut = -1.0f;
    if (!mesh)
        return;
    facets = mesh->indices();
    vertices = mesh->vertices();
    facetCorners = reinterpret_cast<const quint32 *>(facets.constData());
    facetCount = quint32(facets.size());
    if (facetCount > maxFacets) {
        facetCount = maxFacets;
        qWarning("Stl model too large to process at once, will ignore partial");
    }
    if (facetCount == 0)
        return;
    buildVertexTable();
    buildHalfEdges();
    linkHalfEdges();
    visited.assign(facetCount, quint8(0));
}

TolerantSlicer::TolerantSlicer(StlMesh *mesh, double tolerance)
    : QObject(mesh)
    , d(new TolerantSlicerPrivate(this, mesh, std::isnan(tolerance) ? minimumTolerance : tolerance))
{
    d->prepareMesh();
}

TolerantSlicer::~TolerantSlicer()
{
    d->mutex.lock();
    d->mutex.unlock();
    delete d;
}

void TolerantSlicer::setSampleOffset(double offset)
{
    if (std::isfinite(offset))
        d->sampleOffset = offset;
}

double TolerantSlicer::sampleOffset() const
{
    return d->sampleOffset;
}

void TolerantSlicer::setGridStep(double step)
{
    d->gridStep = step > 0.0 ? step : 0.0;
}

double TolerantSlicer::gridStep() const
{
    return d->gridStep;
}

void TolerantSlicer::setTolerance(double tolerance)
{
    if (!(tolerance >= minimumTolerance))
        tolerance = minimumTolerance;
    if (tolerance == d->tolerance)
        return;
    QMutexLocker lock(&d->mutex);
    const int oldCracks = d->crackCount;
    d->tolerance = tolerance;
    d->prepareMesh();
    if (oldCracks >= 0 && d->facetCount > 0)
        d->buildCrackTraversal();
}

double TolerantSlicer::tolerance() const
{
    return d->tolerance;
}

void TolerantSlicer::setSimplifyTolerance(double tolerance)
{
    d->simplifyTolerance = tolerance > 0.0 ? tolerance : 0.0;
}

double TolerantSlicer::simplifyTolerance() const
{
    return d->simplifyTolerance;
}

void TolerantSlicer::setMergeContours(bool merge)
{
    d->mergeContours = merge;
}

bool TolerantSlicer::mergeContours() const
{
    return d->mergeContours;
}

void TolerantSlicer::setWindingRule(int rule)
{
    d->windingRule = rule;
}

int TolerantSlicer::windingRule() const
{
    return d->windingRule;
}

void TolerantSlicer::setMesh(StlMesh *mesh)
{
    if (mesh == d->mesh)
        return;
    QMutexLocker lock(&d->mutex);
    const int oldCracks = d->crackCount;
    d->mesh = mesh;
    d->prepareMesh();
    if (oldCracks >= 0 && d->facetCount > 0)
        d->buildCrackTraversal();
}

StlMesh *TolerantSlicer::mesh() const
{
    return const_cast<StlMesh *>(d->mesh);
}

bool TolerantSlicer::hasOddJunctions() const
{
    return d->hasOddJunctions;
}

int TolerantSlicer::crackCount()
{
    if (d->crackCount >= 0)
        return d->crackCount;
    QMutexLocker lock(&d->mutex);
    d->buildCrackTraversal();
    return d->crackCount;
}

QVector<QPair<float, float>> TolerantSlicer::incompleteLayers() const
{
    QVector<QPair<float, float>> out;
    out.reserve(d->incompleteLayers.size());
    for (auto it = d->incompleteLayers.cbegin(); it != d->incompleteLayers.cend(); ++it)
        out.append(qMakePair(it.key(), it.value()));
    return out;
}

TolerantSlicer::Losses TolerantSlicer::losses() const
{
    return d->losses;
}

TolerantSlicer::Outcome TolerantSlicer::outcome() const
{
    return d->outcome;
}

QString TolerantSlicer::outcomeText(Outcome outcome)
{
    switch (outcome) {
    case Layers:
        break;
    case Cancelled:
        return tr("No layer was made: the slicing was cancelled.");
    case Fault:
        return tr("The slicing stopped at a fault in the tables of the model, so its layers are incomplete.");
    case InvalidInput:
        return tr("No layer was made: the slice thickness must be a number above 0, and the range of heights "
                  "finite and not empty.");
    case TooManyLayers:
        return tr("No layer was made: the model would need more than 16777216 layers of this thickness.");
    case NoFacets:
        return tr("No layer was made: the model has no facets that can be sliced.");
    case Flat:
        return tr("No layer was made: the model has no height, all its facets are horizontal.");
    case OutOfRange:
        return tr(
            "No layer was made: the model lies outside the heights that can be sliced (-16384 to 16384).");
    case MissesModel:
        return tr("No layer was made: no layer's cut meets the model. Each layer is cut at its middle, so a "
                  "slice thickness of more than twice the model's height passes above it.");
    case ContoursTooSmall:
        return tr("No layer was made: every contour of the cuts was narrower than the slicer's contour "
                  "tolerance and vanished; the model's walls are too thin.");
    case OpenContours:
        return tr("No layer was made: no contour of the cuts through the model could be closed; it has holes "
                  "or branching edges that could not be bridged.");
    }
    return QString();
}

QString TolerantSlicer::lossText(const Losses &losses)
{
    const Losses &l = losses;
    const auto length = [](double v) { return QString::number(v, 'g', 4); };
    const bool reshaped = l.changedShare > noticeableShare;
    // The layers' worth of the model that no layer holds.
    const double emptied = l.emptyLayers + (l.thickness > 0.0f ? l.uncutBottom / double(l.thickness) : 0.0);
    const bool hollowed = emptied >= std::max(1.0, std::ceil(noticeableShare * l.layers));
    // note: levels and vertex heights are rounded to the tolerance, so a cut may lie up to one and a
    // half tolerances from its layer's middle. Thicker layers are told apart all the same (the inch
    // presets of 0.001 to 0.002 among them), and a shift that changes the contours shows in their
    // area; thinner ones may share one cut.
    const bool shifted = double(l.thickness) < l.tolerance;
    const bool large = l.droppedLayers > 0;
    if (!reshaped && !hollowed && !shifted && !large)
        return QString();

    QStringList lost;
    if (reshaped)
        lost << tr("simplifying the contours changed their area by %1 %")
                    .arg(100.0 * l.changedShare, 0, 'f', 1);
    if (l.vanishedContours > 0)
        lost
            << (l.vanishedContours == 1
                    ? tr("1 contour narrower than the contour tolerance vanished")
                    : tr("%1 contours narrower than the contour tolerance vanished").arg(l.vanishedContours));
    if (l.emptyLayers > 0)
        lost << (l.emptyLayers == 1 ? tr("1 layer that cuts the model holds no contour")
                                    : tr("%1 layers that cut the model hold no contour").arg(l.emptyLayers));
    if (l.uncutBottom > 0.0)
        lost << tr("the lowest %1 of the model's height is in no layer").arg(length(l.uncutBottom));
    if (shifted)
        lost << tr("the layers are thinner than the %1 to which heights are rounded, so neighbouring "
                   "layers may be cut at the same height")
                    .arg(length(l.tolerance));
    if (large)
        lost
            << (l.droppedLayers == 1
                    ? tr("1 layer of the model lies outside the heights that can be sliced and was not cut")
                    : tr("%1 layers of the model lie outside the heights that can be sliced and were not cut")
                          .arg(l.droppedLayers));

    QStringList text;
    text << tr("The layers were written, but they are not true to the model: %1.")
                .arg(lost.join(QStringLiteral("; ")));
    if (reshaped || hollowed)
        text << tr("The slicer's tolerances are lengths in the model's unit (%1 for contours, %2 for "
                   "heights): the model is very small for its unit (a model in metres, for instance). "
                   "Scale it up in the transform panel.")
                    .arg(length(l.simplifyTolerance), length(l.tolerance));
    else if (shifted)
        text << tr("The slicer rounds heights to %1 of the model's unit: the layers are very thin for its "
                   "unit. Choose thicker layers, or scale the model up in the transform panel.")
                    .arg(length(l.tolerance));
    if (large)
        text << tr("The slicer cuts only between %1 and %2 in the model's unit: the model is very large "
                   "for its unit. Scale it down in the transform panel.")
                    .arg(-rangeLimit)
                    .arg(rangeLimit);
    return text.join(QLatin1Char(' '));
}

QList<Slice> TolerantSlicer::extractSlices(float thickness)
{
    const Cuboid box = d->mesh ? d->mesh->bounds() : Cuboid();
    return extractSlices(box.min().z, box.max().z + thickness, thickness);
}

void TolerantSlicer::cancelExtract()
{
    d->running.storeRelaxed(0);
}

QList<Slice> TolerantSlicer::extractSlices(float from, float to, float thickness)
{
    QMutexLocker lock(&d->mutex);
    d->running.storeRelaxed(1);
    TolerantSlicerPrivate::Extraction run(thickness, d->windingRule);
    if (d->beginExtraction(from, to, run))
        d->cutLayers(run);
    return d->endExtraction(run);
}

bool TolerantSlicerPrivate::beginExtraction(float from, float to, Extraction &run)
{
    const float thickness = run.thickness;
    if (!(std::isfinite(thickness) && thickness > 0.0f && std::isfinite(from) && std::isfinite(to))) {
        qWarning("TolerantSlicer.extractSlices invalid thickness or range (%g, %g, %g)", double(thickness),
                 double(from), double(to));
        run.why = TolerantSlicer::InvalidInput;
        return false;
    }
    // Nothing can be cut: no facets, or no edge that is not horizontal.
    if (facetCount == 0 || highestCut < lowestCut) {
        run.why = facetCount > badFacets ? TolerantSlicer::Flat : TolerantSlicer::NoFacets;
        return false;
    }

    if (to < from)
        std::swap(from, to);
    const bool outOfRange = from < -rangeLimit || to > rangeLimit;
    if (outOfRange) {
        qWarning("TolerantSlicer.extractSlices ignoring out of range values (%.1f, %.1f)", double(from),
                 double(to));
        run.losses.droppedLayers = layersOutOfRange(from, to, thickness);
    }
    float first = float(std::round(double(from) / tolerance) * tolerance);
    if (first <= -rangeLimit)
        first = -rangeLimit;
    float last = float(std::round(double(to) / tolerance) * tolerance);
    if (last > rangeLimit)
        last = rangeLimit;
    const double layers = std::round(double(last - first) / double(thickness));
    if (layers > maxLayers) {
        qWarning("TolerantSlicer.extractSlices too many layers (%.0f) of thickness %g", layers,
                 double(thickness));
        run.why = TolerantSlicer::TooManyLayers;
        return false;
    }
    run.expected = layers <= 1.0 ? 1 : int(layers);
    if (!(first < last)) {
        run.why = outOfRange ? TolerantSlicer::OutOfRange : TolerantSlicer::InvalidInput;
        return false;
    }
    run.base = first;
    run.last = last;
    return goOn(run);
}

void TolerantSlicerPrivate::cutLayers(Extraction &run)
{
    try {
        float z = run.base;
        for (;;) {
            if (run.result.isEmpty()) {
                // Nothing cut yet: above every edge nothing ever will be; below the lowest edge the
                // level is empty, and the climb by the tolerance needs no tracing there.
                const float level = levelAt(z);
                if (level > highestCut)
                    return;
                if (level < lowestCut) {
                    run.base = float(double(run.base) + tolerance);
                    z = run.base;
                    if (z >= run.last || !goOn(run))
                        return;
                    continue;
                }
            }
            if (!addLayer(run, z))
                return;
            z = float(run.result.size()) * run.thickness + run.base;
            if (z >= run.last || !goOn(run))
                return;
        }
    } catch (const std::exception &e) {
        qWarning("TolerantSlicer.extractSlices stopped after %d slices: %s", int(run.result.size()),
                 e.what());
        run.why = TolerantSlicer::Fault;
    }
}

bool TolerantSlicerPrivate::addLayer(Extraction &run, float z)
{
    const bool searching = run.result.isEmpty();
    Slice slice(z, run.thickness);
    quint32 cursor = run.savedCursor;
    const LevelCounts counts = traceLevel(slice, &cursor);
    run.met += counts;
    if (searching && !std::isnan(run.firstEmptied) && (counts.incomplete != 0 || slice.contourCount() > 0))
        run.losses.uncutBottom = double(z) - double(run.firstEmptied);

    if (counts.incomplete != 0)
        return !addIncompleteLayer(run, slice) || announceLayer(run);
    if (searching && slice.contourCount() == 0) {
        // The first layer is searched upward in steps of the tolerance until something is cut.
        if (counts.vanished > 0 && std::isnan(run.firstEmptied))
            run.firstEmptied = z;
        run.base = float(double(run.base) + tolerance);
        return true;
    }
    if (counts.vanished > 0 && slice.contourCount() == 0)
        ++run.losses.emptyLayers;
    addCompleteLayer(run, slice, cursor);
    return announceLayer(run);
}

bool TolerantSlicerPrivate::addIncompleteLayer(Extraction &run, const Slice &slice)
{
    if (!incompleteLayers.contains(slice.z()))
        incompleteLayers.insert(slice.z(), run.thickness);
    if (run.lastComplete >= 0) {
        run.result.append(run.uniter.unite(slice, run.result.at(run.lastComplete)));
        return true;
    }
    run.result.append(slice);
    run.lastLeadingIncomplete = run.result.size() - 1;
    return false;
}

void TolerantSlicerPrivate::addCompleteLayer(Extraction &run, const Slice &slice, quint32 cursor)
{
    for (int j = 0; j <= run.lastLeadingIncomplete; ++j) {
        run.result[j] = run.uniter.unite(run.result.at(j), slice);
        emit q->sliceReady(j + 1, run.expected);
    }
    run.lastComplete = run.result.size();
    run.savedCursor = cursor;
    run.result.append(mergeContours ? run.merger.outline(slice) : slice);
    run.lastLeadingIncomplete = -1;
}

bool TolerantSlicerPrivate::announceLayer(Extraction &run)
{
    if (run.expected > 1 && run.result.size() >= run.expected && run.result.last().contourCount() == 0) {
        run.result.removeLast();
        return false;
    }
    emit q->sliceReady(run.result.size(), run.expected);
    return true;
}

int TolerantSlicerPrivate::layersOutOfRange(float from, float to, float thickness) const
{
    const double low = std::max(double(from), double(lowestCut));
    const double high = std::min(double(to), double(highestCut));
    if (!(low < high))
        return 0;
    const double limit = rangeLimit;
    double outside = 0.0;
    if (low < -limit)
        outside += std::min(high, -limit) - low;
    if (high > limit)
        outside += high - std::max(low, limit);
    return int(std::min(std::max(1.0, std::round(outside / double(thickness))), double(INT_MAX)));
}

bool TolerantSlicerPrivate::goOn(Extraction &run)
{
    if (running.fetchAndAddRelaxed(1) != 0)
        return true;
    run.why = TolerantSlicer::Cancelled;
    return false;
}

QList<Slice> TolerantSlicerPrivate::endExtraction(Extraction &run)
{
    if (run.why == TolerantSlicer::MissesModel && run.met.walks > 0)
        run.why = run.met.vanished > 0 && run.met.incomplete == 0 ? TolerantSlicer::ContoursTooSmall
                                                                  : TolerantSlicer::OpenContours;
    const bool stopped = run.why == TolerantSlicer::Cancelled || run.why == TolerantSlicer::Fault;
    const bool layers = std::any_of(run.result.cbegin(), run.result.cend(),
                                    [](const Slice &s) { return s.contourCount() > 0; });
    outcome = layers && !stopped ? TolerantSlicer::Layers : run.why;
    TolerantSlicer::Losses &lost = run.losses;
    lost.vanishedContours = run.met.vanished;
    lost.changedShare = run.met.tracedArea > 0.0 ? run.met.changedArea / run.met.tracedArea : 0.0;
    lost.layers = run.result.size();
    lost.thickness = run.thickness;
    lost.tolerance = tolerance;
    lost.simplifyTolerance = simplifyTolerance;
    losses = lost;
    emit q->extractFinished(run.result.size());
    running.storeRelaxed(0);
    return run.result;
}

Slice TolerantSlicer::extractSlice(float z)
{
    const QList<Slice> slices = extractSlices(z, float(double(z) + d->tolerance), float(d->tolerance));
    if (!slices.isEmpty())
        return slices.first();
    return Slice(z, 0.0f);
}

} // namespace geom
