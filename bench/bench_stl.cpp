// Reads and writes binary STL files of a generated closed surface (a finely tessellated torus),
// once with the facets in surface order and once shuffled, and compares reading with admesh.
//
//   bench_stl [N] [--runs R] [--warmup W] [--dir DIR] [--no-admesh] [--ascii]
//
// N is the number of facets (default 1000000). Each figure is the median of R runs (default 5)
// after W warm-up runs (default 1); every run is a forked child, so its peak memory is its own.
// With --ascii the files read are ASCII STL of the same facets (the writes stay binary).

#include "geom/formats/stlwriter.h"
#include "geom/mesh/stlmesh.h"
#include "measure.h"
#include "meshfile.h"
#include "surfacegen.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Options
{
    std::size_t facets = 1000000;
    int runs = 5;
    int warmup = 1;
    std::string dir;
    bool admesh = true;
    bool ascii = false;
};

struct Figures
{
    bool ok = true;
    double seconds = 0;
    double peakMiB = 0;
    double value = 0;
};

// Median time, peak and value of `runs` samples after `warmup` discarded ones.
template <typename Measure>
Figures repeat(const Options &options, Measure measure)
{
    std::vector<double> seconds, peaks, values;
    Figures figures;
    for (int i = 0; i < options.warmup + options.runs; ++i) {
        const bench::Sample sample = measure();
        if (!sample.ok) {
            figures.ok = false;
            return figures;
        }
        if (i < options.warmup)
            continue;
        seconds.push_back(sample.seconds);
        peaks.push_back(sample.peakMiB);
        values.push_back(sample.value);
    }
    figures.seconds = bench::median(seconds);
    figures.peakMiB = bench::median(peaks);
    figures.value = bench::median(values);
    return figures;
}

double meshMiB(const geom::StlMesh &mesh)
{
    return double(mesh.vertices().size() * sizeof(geom::Vector3f) +
                  mesh.indices().size() * sizeof(geom::IndexedFacet)) /
           (1024.0 * 1024.0);
}

bench::Sample measureRead(const std::string &path, std::size_t facets)
{
    return bench::measureInChild([&](bench::Meter &meter) {
        meter.start();
        std::unique_ptr<geom::StlMesh> mesh = bench::readStl(path);
        meter.stop();
        if (!mesh || std::size_t(mesh->indices().size()) != facets)
            return false;
        meter.value = meshMiB(*mesh);
        return true;
    });
}

// Forces the file's data to the disk (synced runs): the time then includes the disk, not just
// the page cache.
bool syncFile(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fdatasync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

bench::Sample measureWrite(const std::string &source, const std::string &target, std::size_t facets,
                           bool sync)
{
    return bench::measureInChild([&](bench::Meter &meter) {
        std::unique_ptr<geom::StlMesh> mesh = bench::readStl(source);
        if (!mesh)
            return false;
        std::remove(target.c_str());
        QFile file(QString::fromStdString(target));
        meter.start();
        geom::StlWriter writer(&file);
        const int written = writer.write(*mesh);
        const bool finished = writer.finish() && (!sync || syncFile(target));
        meter.stop();
        meter.value = double(file.size());
        return finished && std::size_t(written) == facets;
    });
}

// Writes `bytes` bytes in 1 MiB blocks: what the disk (or page cache) takes without any encoding.
bench::Sample measurePlainWrite(const std::string &target, double bytes, bool sync)
{
    return bench::measureInChild([&](bench::Meter &meter) {
        std::vector<char> block(1 << 20, 'x');
        std::remove(target.c_str());
        meter.start();
        std::FILE *file = std::fopen(target.c_str(), "wb");
        if (!file)
            return false;
        double left = bytes;
        bool ok = true;
        while (left > 0 && ok) {
            const std::size_t n = std::size_t(std::min<double>(left, double(block.size())));
            ok = std::fwrite(block.data(), 1, n, file) == n;
            left -= double(n);
        }
        ok = std::fclose(file) == 0 && ok && (!sync || syncFile(target));
        meter.stop();
        meter.value = bytes;
        return ok;
    });
}

void usage()
{
    std::fprintf(stderr,
                 "usage: bench_stl [N] [--runs R] [--warmup W] [--dir DIR] [--no-admesh] [--ascii]\n");
}

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--runs" && hasValue)
            options.runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--warmup" && hasValue)
            options.warmup = std::max(0, std::atoi(argv[++i]));
        else if (arg == "--dir" && hasValue)
            options.dir = argv[++i];
        else if (arg == "--no-admesh")
            options.admesh = false;
        else if (arg == "--ascii")
            options.ascii = true;
        else if (!arg.empty() && arg[0] != '-')
            options.facets = std::size_t(std::strtod(arg.c_str(), nullptr));
        else
            return false;
    }
    return options.facets > 0;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        usage();
        return 2;
    }
    QTemporaryDir temporary(options.dir.empty() ? QString()
                                                : QString::fromStdString(options.dir + "/bench_stl-XXXXXX"));
    if (!temporary.isValid()) {
        std::fprintf(stderr, "bench_stl: cannot create a working directory\n");
        return 1;
    }
    const std::string dir = temporary.path().toStdString();
    const std::string ordered = dir + "/surface-order.stl";
    const std::string shuffled = dir + "/shuffled.stl";
    const std::string output = dir + "/written.stl";

    std::size_t facets = 0, vertices = 0;
    {
        bench::Surface surface = bench::makeTorus(options.facets);
        facets = surface.facetCount();
        vertices = surface.vertexCount;
        const auto write = options.ascii ? bench::writeAsciiStl : bench::writeBinaryStl;
        if (!write(ordered, surface)) {
            std::fprintf(stderr, "bench_stl: cannot write %s\n", ordered.c_str());
            return 1;
        }
        bench::shuffleFacets(surface);
        if (!write(shuffled, surface)) {
            std::fprintf(stderr, "bench_stl: cannot write %s\n", shuffled.c_str());
            return 1;
        }
    }
    malloc_trim(0);
    const std::string admesh = options.admesh ? bench::findProgram("admesh") : std::string();
    const double fileMiB = (84.0 + 50.0 * double(facets)) / (1024.0 * 1024.0);

    std::printf(
        "bench_stl: %zu facets, %zu vertices (torus), file %.1f MiB; medians of %d runs after %d warm-up\n",
        facets, vertices, fileMiB, options.runs, options.warmup);
    if (options.ascii)
        std::printf("reading ASCII files of %.1f MiB\n",
                    double(QFile(QString::fromStdString(ordered)).size()) / (1024.0 * 1024.0));
    std::printf("%-14s %8s %8s %8s %6s | %8s %8s %6s %8s | %9s %8s %6s\n", "file", "read ms", "peak MiB",
                "mesh MiB", "peak/m", "write ms", "MiB/s", "peak", "synced", "admesh ms", "adm MiB", "ratio");

    int failures = 0;
    for (const std::string &path : {ordered, shuffled}) {
        const Figures read = repeat(options, [&] { return measureRead(path, facets); });
        const Figures write = repeat(options, [&] { return measureWrite(path, output, facets, false); });
        const Figures synced = repeat(options, [&] { return measureWrite(path, output, facets, true); });
        Figures peer;
        peer.ok = false;
        if (!admesh.empty())
            peer = repeat(options, [&] { return bench::runProgram({admesh, path}); });
        if (!read.ok || !write.ok || !synced.ok)
            ++failures;
        std::printf("%-14s %8.1f %8.1f %8.1f %6.2f | %8.1f %8.1f %6.1f %8.1f",
                    path == ordered ? "surface order" : "shuffled", 1e3 * read.seconds, read.peakMiB,
                    read.value, read.value > 0 ? read.peakMiB / read.value : 0.0, 1e3 * write.seconds,
                    write.seconds > 0 ? fileMiB / write.seconds : 0.0, write.peakMiB, 1e3 * synced.seconds);
        if (peer.ok)
            std::printf(" | %9.1f %8.1f %6.2f\n", 1e3 * peer.seconds, peer.peakMiB,
                        read.seconds / peer.seconds);
        else
            std::printf(" | %9s %8s %6s\n", "-", "-", "-");
        std::fflush(stdout);
    }
    const double bytes = 84.0 + 50.0 * double(facets);
    const Figures plain = repeat(options, [&] { return measurePlainWrite(output, bytes, false); });
    const Figures plainSynced = repeat(options, [&] { return measurePlainWrite(output, bytes, true); });
    std::printf(
        "plain write of the same size in 1 MiB blocks: %.1f ms (%.1f MiB/s), synced %.1f ms (%.1f MiB/s)\n",
        1e3 * plain.seconds, plain.seconds > 0 ? fileMiB / plain.seconds : 0.0, 1e3 * plainSynced.seconds,
        plainSynced.seconds > 0 ? fileMiB / plainSynced.seconds : 0.0);
    std::printf(
        "read: into the finished mesh with statistics; ratio: read / admesh FILE; peak: resident memory\n"
        "added during the step; mesh: its vertex and facet lists; synced: write ms with fdatasync\n");
    if (failures) {
        std::fprintf(stderr, "bench_stl: %d measurement(s) failed\n", failures);
        return 1;
    }
    return 0;
}
