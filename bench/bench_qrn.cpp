// Compresses a generated closed surface from binary STL into a .qrn file and back into a finished
// mesh, and in the same run compresses the STL with `gzip -6` and expands it with `gzip -d`.
// Prints times, peak memory (-1 when unknown), sizes in bytes per triangle and the ratios against
// gzip.
//
//     bench_qrn [triangles]     (default 1000000; 20000000 for the large run)

#include "geom/qrnreader.h"
#include "geom/qrnwriter.h"
#include "geom/stlmesh.h"
#include "geom/stlreader.h"
#include "io/gzipfile.h"
#include "surfacegen.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

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

// Returns freed heap to the system and restarts the peak-RSS count at the current RSS.
void resetPeak()
{
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

double mib(long long bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

struct Step
{
    double seconds = 0;
    long long peak = 0; // bytes
};

// Runs a shell command and returns its wall time and, when /usr/bin/time is there to report it,
// the peak RSS of the command itself (a figure taken from our own process would include the
// memory it shares with the fork before exec).
Step runCommand(const QString &command, const QString &peakFile)
{
    const bool measured = QFile::exists(QStringLiteral("/usr/bin/time"));
    const QString line =
        measured ? QStringLiteral("/usr/bin/time -f %M -o '%1' %2").arg(peakFile, command) : command;
    QElapsedTimer timer;
    timer.start();
    const int rc = std::system(line.toLocal8Bit().constData());
    Step s;
    s.seconds = timer.nsecsElapsed() / 1e9;
    s.peak = -1;
    if (measured) {
        QFile f(peakFile);
        if (f.open(QIODevice::ReadOnly))
            s.peak = f.readAll().trimmed().toLongLong() * 1024;
    }
    if (rc != 0) {
        std::fprintf(stderr, "command failed: %s\n", line.toLocal8Bit().constData());
        std::exit(1);
    }
    return s;
}

bool sameMesh(const geom::StlMesh &a, const geom::StlMesh &b)
{
    if (a.vertices() != b.vertices() || a.indices().size() != b.indices().size())
        return false;
    for (int i = 0; i < a.indices().size(); ++i) {
        const geom::IndexedFacet &f = a.indices()[i], &g = b.indices()[i];
        if (!geom::sameTriple(f, g) || f.attribute != g.attribute)
            return false;
    }
    return true;
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

    QTemporaryDir dir;
    const QString stlPath = dir.filePath(QStringLiteral("surface.stl"));
    const QString qrnPath = dir.filePath(QStringLiteral("surface.qrn"));
    const QString gzPath = stlPath + QStringLiteral(".gz");
    {
        const bench::Surface surface = bench::makeTorus(std::size_t(requested));
        if (!bench::writeBinaryStl(stlPath.toStdString(), surface)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(stlPath));
            return 1;
        }
    }
    const long long stlBytes = QFileInfo(stlPath).size();
    const long long triangles = (stlBytes - 84) / 50;

    // Compress: STL file -> mesh -> .qrn file.
    resetPeak();
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<geom::StlMesh> mesh;
    {
        QFile stl(stlPath);
        geom::StlReader reader(&stl);
        mesh.reset(reader.read());
        if (!mesh) {
            std::fprintf(stderr, "cannot read the STL file\n");
            return 1;
        }
    }
    const double stlReadSeconds = timer.nsecsElapsed() / 1e9;
    {
        GZipFile file(qrnPath);
        geom::QrnWriter writer(&file);
        if (writer.write(mesh.get()) != geom::QrnWriter::Done) {
            std::fprintf(stderr, "cannot write the .qrn file\n");
            return 1;
        }
    }
    Step compress;
    compress.seconds = timer.nsecsElapsed() / 1e9;
    compress.peak = statusBytes("VmHWM");
    const long long qrnBytes = QFileInfo(qrnPath).size();

    // Decompress: .qrn file -> finished mesh.
    std::unique_ptr<geom::StlMesh> back(new geom::StlMesh);
    const std::unique_ptr<geom::StlMesh> original = std::move(mesh);
    resetPeak();
    const long long baseline = statusBytes("VmRSS");
    timer.restart();
    {
        GZipFile file(qrnPath);
        geom::QrnReader reader(&file);
        if (reader.read(back.get()) != geom::QrnReader::Done) {
            std::fprintf(stderr, "cannot read the .qrn file\n");
            return 1;
        }
    }
    Step decompress;
    decompress.seconds = timer.nsecsElapsed() / 1e9;
    decompress.peak = statusBytes("VmHWM") - baseline;
    const bool identical = sameMesh(*original, *back);

    const QString peakFile = dir.filePath(QStringLiteral("peak.txt"));
    const Step gzip = runCommand(QStringLiteral("gzip -6 -c '%1' > '%2'").arg(stlPath, gzPath), peakFile);
    const long long gzBytes = QFileInfo(gzPath).size();
    const Step gunzip = runCommand(QStringLiteral("gzip -d -c '%1' > /dev/null").arg(gzPath), peakFile);

    std::printf("triangles            %lld (vertices %d)\n", triangles, original->vertices().size());
    std::printf("STL                  %12lld bytes  %6.2f bytes/triangle\n", stlBytes,
                double(stlBytes) / triangles);
    std::printf("gzip -6              %12lld bytes  %6.2f bytes/triangle\n", gzBytes,
                double(gzBytes) / triangles);
    std::printf(".qrn                 %12lld bytes  %6.2f bytes/triangle\n", qrnBytes,
                double(qrnBytes) / triangles);
    std::printf("size  .qrn / gzip    %.3f   (target <= 0.3)\n", double(qrnBytes) / gzBytes);
    std::printf("compress   STL->.qrn %8.3f s (STL read %.3f s)  peak %8.1f MiB\n", compress.seconds,
                stlReadSeconds, mib(compress.peak));
    std::printf("           gzip -6   %8.3f s  peak %8.1f MiB\n", gzip.seconds, mib(gzip.peak));
    std::printf("time  compress/gzip  %.3f   (target <= 1)\n", compress.seconds / gzip.seconds);
    std::printf("decompress .qrn->mesh%8.3f s  peak %8.1f MiB above the loaded original\n",
                decompress.seconds, mib(decompress.peak));
    std::printf("           gzip -d   %8.3f s  peak %8.1f MiB\n", gunzip.seconds, mib(gunzip.peak));
    std::printf("time  decompress/gzip -d  %.3f   (target <= 1)\n", decompress.seconds / gunzip.seconds);
    std::printf("round trip mesh      %s\n", identical ? "identical" : "DIFFERENT");
    return identical ? 0 : 1;
}
