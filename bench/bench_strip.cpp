// Strips a generated closed surface and prints time, peak memory and the shape of the strips,
// beside the time of reading the same surface from a binary STL file into a finished mesh.
//
//     bench_strip [triangles [runs]]     (default 1000000 triangles, best of 3 runs)

#include "geom/stlmesh.h"
#include "geom/stlreader.h"
#include "surfacegen.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <string>

namespace {

// A figure of /proc/self/status in bytes (VmRSS, VmHWM), or -1.
long long statusBytes(const char *key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::atoll(line.c_str() + prefix.size()) * 1024;
    }
    return -1;
}

// Returns freed heap to the system and restarts the peak-RSS count at the current RSS, so the next
// peak belongs to what runs next.
void resetPeak()
{
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

bool sameForm(const geom::StrippedFacets &x, const geom::StrippedFacets &y)
{
    if (x.strips.size() != y.strips.size() || x.triangles.size() != y.triangles.size())
        return false;
    for (int i = 0; i < x.strips.size(); ++i) {
        const QVector<geom::StripVertex> &s = x.strips[i], &t = y.strips[i];
        if (s.size() != t.size())
            return false;
        for (int k = 0; k < s.size(); ++k) {
            if (s[k].index != t[k].index || s[k].attribute != t[k].attribute)
                return false;
        }
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
    const long long requested = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    if (requested < 18 || runs < 1) {
        std::fprintf(stderr, "usage: bench_strip [triangles >= 18 [runs >= 1]]\n");
        return 2;
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("surface.stl"));
    {
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
        QFile file(path);
        geom::StlReader reader(&file);
        mesh.reset(reader.read());
        const double seconds = timer.nsecsElapsed() * 1e-9;
        if (!mesh) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 1;
        }
        readSeconds = run == 0 ? seconds : std::min(readSeconds, seconds);
    }
    const int facetCount = mesh->indices().size();

    // The first run, from a trimmed heap, gives the peak memory; the timed runs must repeat it.
    resetPeak();
    const long long before = statusBytes("VmRSS");
    const geom::StrippedFacets first = mesh->toStrippedFacets();
    const long long peak = statusBytes("VmHWM");

    double stripSeconds = 0;
    geom::StrippedFacets stripped;
    for (int run = 0; run < runs; ++run) {
        stripped = geom::StrippedFacets();
        timer.restart();
        stripped = mesh->toStrippedFacets();
        const double seconds = timer.nsecsElapsed() * 1e-9;
        stripSeconds = run == 0 ? seconds : std::min(stripSeconds, seconds);
    }
    const bool repeatable = sameForm(stripped, first);

    long long inStrips = 0, inStripsOf8 = 0, inGroups = 0;
    for (const QVector<geom::StripVertex> &strip : stripped.strips) {
        inStrips += strip.size() - 2;
        if (strip.size() == 10)
            inStripsOf8 += 8;
    }
    for (const QVector<geom::IndexedFacet> &group : stripped.triangles)
        inGroups += group.size();

    timer.restart();
    geom::StlMesh back;
    back.fromStrippedFacets(mesh->vertices(), stripped);
    const double rebuildSeconds = timer.nsecsElapsed() * 1e-9;
    const bool identical = back.vertices() == mesh->vertices() && back.indices().size() == facetCount &&
                           std::equal(back.indices().begin(), back.indices().end(), mesh->indices().begin(),
                                      [](const geom::IndexedFacet &f, const geom::IndexedFacet &g) {
                                          return geom::sameTriple(f, g) && f.attribute == g.attribute;
                                      });

    const double n = facetCount;
    std::printf("triangles                 %d (vertices %d)\n", facetCount, mesh->vertices().size());
    std::printf("read binary STL           %.3f s  (best of %d)\n", readSeconds, runs);
    std::printf("toStrippedFacets          %.3f s  (best of %d; %.2f x read, target <= 2)\n", stripSeconds,
                runs, stripSeconds / readSeconds);
    std::printf("peak memory beyond mesh   %.1f bytes per triangle (target <= 100)\n",
                before > 0 && peak > 0 ? double(peak - before) / n : -1.0);
    std::printf("strips                    %d, %.2f triangles per strip\n", stripped.strips.size(),
                stripped.strips.isEmpty() ? 0.0 : double(inStrips) / stripped.strips.size());
    std::printf("in strips of 8            %.2f %%\n", 100.0 * double(inStripsOf8) / n);
    std::printf("left in groups            %.3f %%\n", 100.0 * double(inGroups) / n);
    std::printf("fromStrippedFacets        %.3f s\n", rebuildSeconds);
    std::printf("round trip identical      %s\n", identical ? "yes" : "NO");
    std::printf("second run identical      %s\n", repeatable ? "yes" : "NO");
    return identical && repeatable ? 0 : 1;
}
