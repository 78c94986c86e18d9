// Opening a binary STL file from the main window against reading the same file with the
// library's reader, in one process: what the window adds (centring, the information panel, the
// clip slider, the view's framing) shows as the ratio of the two times.
//
//   bench_open [N] [--runs R] [--dir DIR]
//
// N is the number of facets (default 10000000). Each time is the median of R runs (default 3),
// library and window taking turns at going first, after one warm-up run of each. Needs a display
// (scripts/with-display.sh).

#include "app/mainwindow.h"
#include "meshfile.h"
#include "surfacegen.h"
#include "windowbench.h"

#include "geom/mesh/stlmesh.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    std::size_t facets = 10000000;
    int runs = 3;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--dir") && i + 1 < argc)
            dir = argv[++i];
        else if (argv[i][0] != '-')
            facets = std::size_t(std::strtoull(argv[i], nullptr, 10));
        else {
            std::fprintf(stderr, "usage: bench_open [N] [--runs R] [--dir DIR]\n");
            return 2;
        }
    }

    bench::WindowBench setup(argv, dir, "bench_open");
    if (!setup.isValid()) {
        std::fprintf(stderr, "bench_open: cannot create a working directory\n");
        return 1;
    }
    const std::string path = setup.folder().toStdString() + "/surface.stl";
    {
        const bench::Surface surface = bench::makeTorus(facets);
        facets = surface.facetCount();
        if (!bench::writeBinaryStl(path, surface)) {
            std::fprintf(stderr, "bench_open: cannot write %s\n", path.c_str());
            return 1;
        }
    }

    MainWindow window;
    window.show();
    QCoreApplication::processEvents();
    std::vector<double> library, windowed;
    QElapsedTimer timer;
    for (int i = 0; i <= runs; ++i) {
        bool read = false, opened = false;
        double readTime = 0, openTime = 0;
        const auto timeLibrary = [&] {
            timer.start();
            std::unique_ptr<geom::StlMesh> mesh = bench::readStl(path);
            readTime = timer.nsecsElapsed() / 1e9;
            read = mesh != nullptr;
            mesh.reset(); // outside the time, as the window's close is
        };
        const auto timeWindow = [&] {
            window.closeFile();
            timer.start();
            window.openFile(QString::fromStdString(path));
            openTime = timer.nsecsElapsed() / 1e9;
            opened = window.hasCurrentFile();
            window.closeFile();
        };
        bench::timeInTurns(i, timeLibrary, timeWindow);
        const bool ok = read && opened;
        if (!ok) {
            std::fprintf(stderr, "bench_open: reading %s failed\n", path.c_str());
            return 1;
        }
        if (i == 0)
            continue; // warm-up: the file into the page cache, the pool's threads started
        library.push_back(readTime);
        windowed.push_back(openTime);
    }
    return bench::reportWindowRatio(facets, "library read", library, "window open", windowed);
}
