#include "geom/slicing/tolerantslicer.h"
#include "geom/slicing/tolerantslicer_p.h"

#include "geom/mesh/stlmesh.h"
#include "geom/slicing/tessellator.h"

#include <QMutexLocker>
#include <QtDebug>

#include <algorithm>
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
    QList<Slice> result;
    // How the run ends when no layer holds a contour, and also when it was stopped.
    Outcome why = MissesModel;
    auto finish = [&]() {
        const bool stopped = why == Cancelled || why == Fault;
        const bool layers =
            std::any_of(result.cbegin(), result.cend(), [](const Slice &s) { return s.contourCount() > 0; });
        d->outcome = layers && !stopped ? Layers : why;
        emit extractFinished(result.size());
        d->running.storeRelaxed(0);
        return result;
    };

    if (!(std::isfinite(thickness) && thickness > 0.0f && std::isfinite(from) && std::isfinite(to))) {
        qWarning("TolerantSlicer.extractSlices invalid thickness or range (%g, %g, %g)", double(thickness),
                 double(from), double(to));
        why = InvalidInput;
        return finish();
    }
    // Nothing can be cut: no facets, or no edge that is not horizontal.
    if (d->facetCount == 0 || d->highestCut < d->lowestCut) {
        why = d->facetCount > d->badFacets ? Flat : NoFacets;
        return finish();
    }

    if (to < from)
        std::swap(from, to);
    const bool outOfRange = from < -rangeLimit || to > rangeLimit;
    if (outOfRange)
        qWarning("TolerantSlicer.extractSlices ignoring out of range values (%.1f, %.1f)", double(from),
                 double(to));
    const double tol = d->tolerance;
    float first = float(std::round(double(from) / tol) * tol);
    if (first <= -rangeLimit)
        first = -rangeLimit;
    float last = float(std::round(double(to) / tol) * tol);
    if (last > rangeLimit)
        last = rangeLimit;
    const double layers = std::round(double(last - first) / double(thickness));
    if (layers > maxLayers) {
        qWarning("TolerantSlicer.extractSlices too many layers (%.0f) of thickness %g", layers,
                 double(thickness));
        why = TooManyLayers;
        return finish();
    }
    const int expected = layers <= 1.0 ? 1 : int(layers);

    Tessellator merger(d->windingRule);
    Tessellator uniter(Tessellator::Positive);
    if (!(first < last)) {
        why = outOfRange ? OutOfRange : InvalidInput;
        return finish();
    }
    if (d->running.fetchAndAddRelaxed(1) == 0) {
        why = Cancelled;
        return finish();
    }

    float base = first;
    quint32 savedCursor = 0;
    int lastComplete = -1;
    int lastLeadingIncomplete = -1;
    // What the levels met, for the outcome of a run that makes no layer.
    TolerantSlicerPrivate::LevelCounts met;
    try {
        float z = base;
        for (;;) {
            const float level = d->levelAt(z);
            if (result.isEmpty()) {
                // Nothing cut yet: above every edge nothing ever will be; below the lowest edge the
                // level is empty, and the climb by the tolerance needs no tracing there.
                if (level > d->highestCut)
                    break;
                if (level < d->lowestCut) {
                    base = float(double(base) + tol);
                    z = base;
                    if (z >= last)
                        break;
                    if (d->running.fetchAndAddRelaxed(1) == 0) {
                        why = Cancelled;
                        break;
                    }
                    continue;
                }
            }
            const bool searching = result.isEmpty();
            Slice slice(z, thickness);
            quint32 cursor = savedCursor;
            const TolerantSlicerPrivate::LevelCounts counts = d->traceLevel(slice, &cursor);
            met.walks += counts.walks;
            met.vanished += counts.vanished;
            met.incomplete += counts.incomplete;

            bool tail = true;
            if (counts.incomplete != 0) {
                if (!d->incompleteLayers.contains(z))
                    d->incompleteLayers.insert(z, thickness);
                if (lastComplete >= 0) {
                    result.append(uniter.unite(slice, result.at(lastComplete)));
                } else {
                    result.append(slice);
                    lastLeadingIncomplete = result.size() - 1;
                    tail = false;
                }
            } else if (searching && slice.contourCount() == 0) {
                base = float(double(base) + tol);
                tail = false;
            } else {
                for (int j = 0; j <= lastLeadingIncomplete; ++j) {
                    result[j] = uniter.unite(result.at(j), slice);
                    emit sliceReady(j + 1, expected);
                }
                lastComplete = result.size();
                savedCursor = cursor;
                result.append(d->mergeContours ? merger.outline(slice) : slice);
                lastLeadingIncomplete = -1;
            }
            if (tail) {
                if (expected > 1 && result.size() >= expected && result.last().contourCount() == 0) {
                    result.removeLast();
                    break;
                }
                emit sliceReady(result.size(), expected);
            }

            z = float(result.size()) * thickness + base;
            if (z >= last)
                break;
            if (d->running.fetchAndAddRelaxed(1) == 0) {
                why = Cancelled;
                break;
            }
        }
    } catch (const std::exception &e) {
        qWarning("TolerantSlicer.extractSlices stopped after %d slices: %s", int(result.size()), e.what());
        why = Fault;
    }
    if (why == MissesModel && met.walks > 0)
        why = met.vanished > 0 && met.incomplete == 0 ? ContoursTooSmall : OpenContours;
    return finish();
}

Slice TolerantSlicer::extractSlice(float z)
{
    const QList<Slice> slices = extractSlices(z, float(double(z) + d->tolerance), float(d->tolerance));
    if (!slices.isEmpty())
        return slices.first();
    return Slice(z, 0.0f);
}

} // namespace geom
