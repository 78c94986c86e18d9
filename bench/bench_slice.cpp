// Slices an STL file like the program's slice export and writes the SLC file: a transformed copy
// of the mesh, tolerance 0.001, each layer cut at its middle. Prints the time of table building,
// tracing and merging, the layer count, the volume the layers add up to and the peak memory, of
// the whole run and of the slicing alone. When no layer can be made, prints why (the export's
// message) and exits with 1 without writing the SLC file; when the slicer's tolerances changed the
// layers noticeably, prints the export's warning after writing it.
//
//   bench_slice IN.stl THICKNESS OUT.slc [--merge] [--rule N]

#include "measure.h"
#include "meshfile.h"

#include "geom/mesh/stlmesh.h"
#include "geom/slicing/slcwriter.h"
#include "geom/slicing/slice.h"
#include "geom/slicing/tolerantslicer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMatrix4x4>
#include <QtDebug>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

double peakMiB()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// Has Qt's message output set itself up now: its first message touches about 0.8 MiB of library
// pages, which the slicer's first debug line (on a mesh with cracks) would otherwise add to the
// slicing's peak.
void startMessages(const char *in, float thickness)
{
    qInfo("bench_slice: slicing %s at %g", in, double(thickness));
}

int usage()
{
    std::fprintf(stderr, "usage: bench_slice IN.stl THICKNESS OUT.slc [--merge] [--rule N]\n");
    return 2;
}

// One run of the export's extraction; the seconds it took, how it ended and what the slicer's
// tolerances took.
QList<geom::Slice> extract(geom::StlMesh *mesh, float thickness, bool merge, int rule, double *tables,
                           double *seconds, geom::TolerantSlicer::Outcome *outcome = nullptr,
                           geom::TolerantSlicer::Losses *losses = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    geom::TolerantSlicer slicer(mesh, 0.001);
    *tables = double(clock.nsecsElapsed()) * 1e-9;
    slicer.setSampleOffset(double(thickness) / 2.0);
    slicer.setMergeContours(merge);
    slicer.setWindingRule(rule);
    clock.restart();
    QList<geom::Slice> slices = slicer.extractSlices(thickness);
    *seconds = double(clock.nsecsElapsed()) * 1e-9;
    if (outcome)
        *outcome = slicer.outcome();
    if (losses)
        *losses = slicer.losses();
    slicer.setParent(nullptr);
    return slices;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4)
        return usage();
    const char *in = argv[1];
    const float thickness = std::strtof(argv[2], nullptr);
    const char *out = argv[3];
    bool merge = false;
    int rule = 2;
    for (int i = 4; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--merge"))
            merge = true;
        else if (!std::strcmp(argv[i], "--rule") && i + 1 < argc)
            rule = std::atoi(argv[++i]);
        else
            return usage();
    }
    if (!(thickness > 0.0f))
        return usage();

    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<geom::StlMesh> mesh = bench::readStl(in);
    if (!mesh) {
        std::fprintf(stderr, "bench_slice: cannot read %s\n", in);
        return 1;
    }
    const double readSeconds = double(clock.nsecsElapsed()) * 1e-9;
    const double meshMiB = (double(mesh->vertices().size()) * sizeof(geom::Vector3f) +
                            double(mesh->indices().size()) * sizeof(geom::IndexedFacet)) /
                           (1024.0 * 1024.0);
    const double beforeMiB = peakMiB();

    clock.restart();
    std::unique_ptr<geom::StlMesh> copy(mesh->transformed(QMatrix4x4()));
    const double copySeconds = double(clock.nsecsElapsed()) * 1e-9;
    mesh.reset();
    const double copiedMiB = peakMiB();
    startMessages(in, thickness);
    // Measured from here with the memory freed by reading given back, so that the slicer's tables
    // cannot hide in what reading the file left.
    bench::Meter meter;
    meter.start();

    double tables = 0.0, total = 0.0;
    geom::TolerantSlicer::Outcome outcome = geom::TolerantSlicer::Layers;
    geom::TolerantSlicer::Losses losses;
    const QList<geom::Slice> slices =
        extract(copy.get(), thickness, merge, rule, &tables, &total, &outcome, &losses);
    // The meter's start reset the process's peak, so reading's peak is kept from before it.
    const double slicedPeakMiB = std::max(peakMiB(), copiedMiB);
    meter.stop();
    const double slicingPeakMiB = meter.peakMiB();
    if (outcome != geom::TolerantSlicer::Layers) {
        std::fprintf(stderr, "bench_slice: %s\n", qPrintable(geom::TolerantSlicer::outcomeText(outcome)));
        return 1;
    }
    double tracing = total;
    if (merge) {
        // Merging is the difference to the same run without it.
        double ignored = 0.0;
        extract(copy.get(), thickness, false, rule, &ignored, &tracing);
    }

    clock.restart();
    QFile file(out);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "bench_slice: cannot write %s\n", out);
        return 1;
    }
    bool written = false;
    {
        SlcWriter writer(&file);
        written = writer.writeSlices(slices, false) == slices.size() && writer.finish();
    }
    file.close();
    const double writeSeconds = double(clock.nsecsElapsed()) * 1e-9;

    double volume = 0.0;
    for (const geom::Slice &s : slices) {
        double area = 0.0;
        for (int i = 0; i < s.contourCount(); ++i)
            area += s.contour(i)->area();
        volume += area * double(s.thickness());
    }
    std::printf("facets              %d\n", int(copy->indices().size()));
    std::printf("read STL            %8.3f s\n", readSeconds);
    std::printf("transformed copy    %8.3f s\n", copySeconds);
    std::printf("tables              %8.3f s\n", tables);
    std::printf("tracing             %8.3f s\n", tracing);
    std::printf("merging             %8.3f s\n", merge ? std::max(0.0, total - tracing) : 0.0);
    std::printf("slicing total       %8.3f s   (tables + extraction)\n", tables + total);
    std::printf("write SLC           %8.3f s\n", writeSeconds);
    std::printf("layers              %d\n", int(slices.size()));
    // note: significant digits, not decimals: a model in metres has a volume of 1e-4 or less.
    std::printf("layer volume        %.7g   mesh volume %.7g   relative difference %.2e\n", volume,
                copy->volume(), std::abs(volume - copy->volume()) / std::abs(copy->volume()));
    std::printf("mesh                %8.1f MiB\n", meshMiB);
    std::printf(
        "peak memory         %8.1f MiB   (after reading %.1f MiB, after the copy %.1f MiB; peak / mesh "
        "%.2f)\n",
        slicedPeakMiB, beforeMiB, copiedMiB, slicedPeakMiB / meshMiB);
    if (meter.peakKnown())
        std::printf("slicing peak        %8.1f MiB   (above the %.1f MiB before slicing; / mesh %.2f)\n",
                    slicingPeakMiB, meter.startMiB(), slicingPeakMiB / meshMiB);
    if (!written) {
        std::fprintf(stderr, "bench_slice: cannot write %s\n", out);
        return 1;
    }
    // The file holds layers, but the export would warn that the slicer's tolerances changed them.
    const QString lossText = geom::TolerantSlicer::lossText(losses);
    if (!lossText.isEmpty())
        std::fprintf(stderr, "bench_slice: %s\n", qPrintable(lossText));
    return 0;
}
