// Compresses a generated closed surface from binary STL into a .qrn file and back into a finished
// mesh, and in the same run compresses the STL with `gzip -6` and expands it with `gzip -d`.
// Prints times, peak memory, sizes in bytes per triangle and the ratios against gzip. Every step
// runs in a forked child (or is a program of its own), so its peak memory is its own.
//
//     bench_qrn [triangles]     (default 1000000; 20000000 for the large run)

#include "geom/formats/qrnreader.h"
#include "geom/formats/qrnwriter.h"
#include "geom/mesh/stlmesh.h"
#include "io/gzipfile.h"
#include "measure.h"
#include "meshfile.h"
#include "surfacegen.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// STL file -> mesh -> .qrn file; the figure is the time of reading the STL file alone.
bench::Sample compress(const QString &stlPath, const QString &qrnPath)
{
    return bench::measureInChild([&](bench::Meter &meter) {
        meter.start();
        QElapsedTimer timer;
        timer.start();
        const std::unique_ptr<geom::StlMesh> mesh = bench::readStl(stlPath.toStdString());
        if (!mesh)
            return false;
        meter.value = timer.nsecsElapsed() / 1e9;
        GZipFile file(qrnPath);
        geom::QrnWriter writer(&file);
        const bool written = writer.write(mesh.get()) == geom::QrnWriter::Done;
        file.close();
        meter.stop();
        return written;
    });
}

// .qrn file -> finished mesh, then (not timed) a check against the mesh read from the STL file.
bench::Sample decompress(const QString &qrnPath, const QString &stlPath)
{
    return bench::measureInChild([&](bench::Meter &meter) {
        geom::StlMesh mesh;
        meter.start();
        {
            GZipFile file(qrnPath);
            geom::QrnReader reader(&file);
            if (reader.read(&mesh) != geom::QrnReader::Done)
                return false;
        }
        meter.stop();
        const std::unique_ptr<geom::StlMesh> original = bench::readStl(stlPath.toStdString());
        meter.value = original && bench::sameMesh(*original, mesh) ? 1 : 0;
        return true;
    });
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const long long requested = argc > 1 ? std::atoll(argv[1]) : 1000000;
    if (requested < 18) {
        std::fprintf(stderr, "usage: bench_qrn [triangles >= 18]\n");
        return 2;
    }
    const std::string gzipProgram = bench::findProgram("gzip");
    if (gzipProgram.empty()) {
        std::fprintf(stderr, "gzip is not on the PATH\n");
        return 1;
    }

    QTemporaryDir dir;
    const QString stlPath = dir.filePath(QStringLiteral("surface.stl"));
    const QString qrnPath = dir.filePath(QStringLiteral("surface.qrn"));
    const QString gzPath = stlPath + QStringLiteral(".gz");
    std::size_t vertices = 0;
    {
        const bench::Surface surface = bench::makeTorus(std::size_t(requested));
        vertices = surface.vertexCount;
        if (!bench::writeBinaryStl(stlPath.toStdString(), surface)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(stlPath));
            return 1;
        }
    }
    const long long stlBytes = QFileInfo(stlPath).size();
    const long long triangles = (stlBytes - 84) / 50;

    const bench::Sample packed = compress(stlPath, qrnPath);
    if (!packed.ok) {
        std::fprintf(stderr, "cannot compress the STL file\n");
        return 1;
    }
    const long long qrnBytes = QFileInfo(qrnPath).size();
    const bench::Sample unpacked = decompress(qrnPath, stlPath);
    if (!unpacked.ok) {
        std::fprintf(stderr, "cannot read the .qrn file\n");
        return 1;
    }
    const bench::Sample gzip = bench::runProgram({gzipProgram, "-6", "-k", "-f", stlPath.toStdString()});
    const bench::Sample gunzip = bench::runProgram({gzipProgram, "-d", "-c", gzPath.toStdString()});
    if (!gzip.ok || !gunzip.ok) {
        std::fprintf(stderr, "gzip failed\n");
        return 1;
    }
    const long long gzBytes = QFileInfo(gzPath).size();
    const bool identical = unpacked.value == 1;

    std::printf("triangles            %lld (vertices %zu)\n", triangles, vertices);
    std::printf("STL                  %12lld bytes  %6.2f bytes/triangle\n", stlBytes,
                double(stlBytes) / triangles);
    std::printf("gzip -6              %12lld bytes  %6.2f bytes/triangle\n", gzBytes,
                double(gzBytes) / triangles);
    std::printf(".qrn                 %12lld bytes  %6.2f bytes/triangle\n", qrnBytes,
                double(qrnBytes) / triangles);
    std::printf("size  .qrn / gzip    %.3f   (target <= 0.3)\n", double(qrnBytes) / gzBytes);
    std::printf("compress   STL->.qrn %8.3f s (STL read %.3f s)  peak %8.1f MiB\n", packed.seconds,
                packed.value, packed.peakMiB);
    std::printf("           gzip -6   %8.3f s  peak %8.1f MiB\n", gzip.seconds, gzip.peakMiB);
    std::printf("time  compress/gzip  %.3f   (target <= 1)\n", packed.seconds / gzip.seconds);
    std::printf("decompress .qrn->mesh%8.3f s  peak %8.1f MiB\n", unpacked.seconds, unpacked.peakMiB);
    std::printf("           gzip -d   %8.3f s  peak %8.1f MiB\n", gunzip.seconds, gunzip.peakMiB);
    std::printf("time  decompress/gzip -d  %.3f   (target <= 1)\n", unpacked.seconds / gunzip.seconds);
    std::printf("round trip mesh      %s\n", identical ? "identical" : "DIFFERENT");
    return identical ? 0 : 1;
}
