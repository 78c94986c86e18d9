// Strips a generated closed surface and prints time, peak memory and the shape of the strips,
// beside the time of reading the same surface from a binary STL file into a finished mesh, and
// beside stripping with the degree heap kept on the calling thread (its worker thread off).
//
//     bench_strip [triangles [runs]]     (default 1000000 triangles, best of 3 runs)
//     bench_strip FILE.stl [runs]        the same for the surface of a binary STL file
//
// The worker is only started where more than one processor is usable: pin the program with
// taskset to compare on fewer cores.

#include "geom/mesh/stlmesh.h"
#include "measure.h"
#include "meshfile.h"
#include "platform/processors.h"
#include "surfacegen.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <memory>
#include <string>

namespace {

// The stripper's switch that keeps its degree heap on the calling thread.
const char workerSwitch[] = "QUARN_STRIP_HEAP_WORKER";

bool sameForm(const geom::StrippedFacets &x, const geom::StrippedFacets &y)
{
    if (x.stripEnds != y.stripEnds || x.triangles.size() != y.triangles.size())
        return false;
    for (int k = 0; k < x.elements.size(); ++k) {
        if (x.elements[k].index != y.elements[k].index || x.elements[k].attribute != y.elements[k].attribute)
            return false;
    }
    for (int i = 0; i < x.triangles.size(); ++i) {
        const QVector<geom::IndexedFacet> &g = x.triangles[i], &h = y.triangles[i];
        if (g.size() != h.size())
            return false;
        for (int k = 0; k < g.size(); ++k) {
            if (!geom::sameTriple(g[k], h[k]) || g[k].attribute != h[k].attribute)
                return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const QString given = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const bool fromFile = given.endsWith(QStringLiteral(".stl"), Qt::CaseInsensitive);
    const long long requested = argc > 1 && !fromFile ? std::atoll(argv[1]) : 1000000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    if (requested < 18 || runs < 1) {
        std::fprintf(stderr, "usage: bench_strip [triangles >= 18 | FILE.stl [runs >= 1]]\n");
        return 2;
    }

    QTemporaryDir dir;
    const QString path = fromFile ? given : dir.filePath(QStringLiteral("surface.stl"));
    if (!fromFile) {
        const bench::Surface surface = bench::makeTorus(std::size_t(requested));
        if (!bench::writeBinaryStl(path.toStdString(), surface)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }

    // Best of several runs for both figures, so that a busy machine disturbs the ratio less.
    QElapsedTimer timer;
    double readSeconds = 0;
    std::unique_ptr<geom::StlMesh> mesh;
    for (int run = 0; run < runs; ++run) {
        mesh.reset();
        timer.start();
        mesh = bench::readStl(path.toStdString());
        const double seconds = timer.nsecsElapsed() * 1e-9;
        if (!mesh) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 1;
        }
        readSeconds = run == 0 ? seconds : std::min(readSeconds, seconds);
    }
    const int facetCount = mesh->indices().size();

    // The first run, from a trimmed heap, gives the peak memory; the timed runs must repeat it.
    malloc_trim(0);
    bench::Meter meter;
    meter.start();
    const geom::StrippedFacets first = mesh->toStrippedFacets();
    meter.stop();

    // Best of the runs; the last run's strips stay in stripped.
    geom::StrippedFacets stripped;
    const auto bestStripSeconds = [&] {
        double best = 0;
        for (int run = 0; run < runs; ++run) {
            stripped = geom::StrippedFacets();
            timer.restart();
            stripped = mesh->toStrippedFacets();
            const double seconds = timer.nsecsElapsed() * 1e-9;
            best = run == 0 ? seconds : std::min(best, seconds);
        }
        return best;
    };
    // The two ways take turns, so that a change in the machine's load meets both alike.
    double stripSeconds = 0, aloneSeconds = 0;
    bool aloneIdentical = true;
    for (int round = 0; round < 2; ++round) {
        setenv(workerSwitch, "0", 1);
        const double alone = bestStripSeconds();
        aloneIdentical = aloneIdentical && sameForm(stripped, first);
        unsetenv(workerSwitch);
        const double withWorker = bestStripSeconds();
        aloneSeconds = round == 0 ? alone : std::min(aloneSeconds, alone);
        stripSeconds = round == 0 ? withWorker : std::min(stripSeconds, withWorker);
    }
    const bool repeatable = sameForm(stripped, first);

    long long inStrips = 0, inStripsOf8 = 0, inGroups = 0;
    for (int k = 0; k < stripped.stripCount(); ++k) {
        inStrips += stripped.stripLength(k) - 2;
        if (stripped.stripLength(k) == 10)
            inStripsOf8 += 8;
    }
    for (const QVector<geom::IndexedFacet> &group : stripped.triangles)
        inGroups += group.size();

    timer.restart();
    geom::StlMesh back;
    back.fromStrippedFacets(mesh->vertices(), stripped);
    const double rebuildSeconds = timer.nsecsElapsed() * 1e-9;
    const bool identical = bench::sameMesh(back, *mesh);

    const double n = facetCount;
    std::printf("triangles                 %d (vertices %d)\n", facetCount, mesh->vertices().size());
    std::printf("read binary STL           %.3f s  (best of %d)\n", readSeconds, runs);
    std::printf("toStrippedFacets          %.3f s  (best of %d; %.2f x read, target <= 2)\n", stripSeconds,
                2 * runs, stripSeconds / readSeconds);
    std::printf("  heap worker off         %.3f s  (best of %d; %.2f x with the worker, %u cores usable)\n",
                aloneSeconds, 2 * runs, aloneSeconds / stripSeconds, platform::usableProcessors());
    std::printf("peak memory beyond mesh   %.1f bytes per triangle (target <= 100)\n",
                meter.peakMiB() * 1024.0 * 1024.0 / n);
    std::printf("strips                    %d, %.2f triangles per strip\n", stripped.stripCount(),
                stripped.stripCount() == 0 ? 0.0 : double(inStrips) / stripped.stripCount());
    std::printf("in strips of 8            %.2f %%\n", 100.0 * double(inStripsOf8) / n);
    std::printf("left in groups            %.3f %%\n", 100.0 * double(inGroups) / n);
    std::printf("stripping per triangle    %.0f ns\n", 1e9 * stripSeconds / n);
    std::printf("fromStrippedFacets        %.3f s\n", rebuildSeconds);
    std::printf("round trip identical      %s\n", identical ? "yes" : "NO");
    std::printf("second run identical      %s\n", repeatable ? "yes" : "NO");
    std::printf("worker off identical      %s\n", aloneIdentical ? "yes" : "NO");
    return identical && repeatable && aloneIdentical ? 0 : 1;
}
