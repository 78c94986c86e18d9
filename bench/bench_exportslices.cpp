// Exporting slices from the main window against the library's slicing of the same file, in one
// process: what the window adds (the transformed copy of the placed model, the progress dialog
// and its event processing, the staged write) shows as the ratio of the two times.
//
//   bench_exportslices [N | --file IN.stl] [--thickness T] [--runs R] [--dir DIR]
//
// N is the facet count of a generated torus (default 1000000); --file slices a given STL file
// instead. The library road is bench_slice's: a copy of the mesh, the slicer with merging, the
// SLC writer. The window road is File > Export Slices after the options dialog, merging on, the
// thickness T in millimetres (default 0.05). Each time is the median of R runs (default 3), the
// two roads taking turns at going first, after one warm-up run of each; the two SLC files must be identical.
// Needs a display (scripts/with-display.sh).

#include "app/exportslicesdialog.h"
#include "app/mainwindow.h"
#include "meshfile.h"
#include "surfacegen.h"
#include "windowbench.h"

#include "geom/mesh/stlmesh.h"
#include "geom/slicing/slcwriter.h"
#include "geom/slicing/slice.h"
#include "geom/slicing/tolerantslicer.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QMatrix4x4>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The library road: the mesh sliced and written as bench_slice does it.
bool sliceWithLibrary(const geom::StlMesh &mesh, float thickness, const QString &target)
{
    const std::unique_ptr<geom::StlMesh> copy(mesh.transformed(QMatrix4x4()));
    QList<geom::Slice> slices;
    {
        geom::TolerantSlicer slicer(copy.get(), 0.001);
        slicer.setSampleOffset(thickness * 0.5f);
        slicer.setMergeContours(true);
        slicer.setWindingRule(2);
        slices = slicer.extractSlices(thickness);
        slicer.setParent(nullptr);
    }
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    SlcWriter writer(&file);
    writer.setHeader(QByteArrayLiteral("-SLCVER 2.0 -UNIT MM -TYPE PART"));
    return writer.writeSlices(slices, false) == slices.size() && writer.finish();
}

// The window road: the options dialog accepted as the user would after choosing the target.
void exportFromWindow(MainWindow *window, const QString &thickness, const QString &target)
{
    auto *dialog = window->findChild<ExportSlicesDialog *>(QStringLiteral("exportSlicesDialog"));
    dialog->setProperty("SaveFileName", target);
    dialog->open();
    dialog->findChild<QComboBox *>(QStringLiteral("unitsComboBox"))->setCurrentIndex(0);
    dialog->findChild<QComboBox *>(QStringLiteral("thicknessComboBox"))->setEditText(thickness);
    dialog->findChild<QGroupBox *>(QStringLiteral("mergeContoursGroupBox"))->setChecked(true);
    dialog->findChild<QComboBox *>(QStringLiteral("windingRuleComboBox"))->setCurrentIndex(2);
    dialog->accept();
}

int usage()
{
    std::fprintf(stderr,
                 "usage: bench_exportslices [N | --file IN.stl] [--thickness T] [--runs R] [--dir DIR]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::size_t facets = 1000000;
    int runs = 3;
    std::string dir, input;
    QString thickness = QStringLiteral("0.05");
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--dir") && i + 1 < argc)
            dir = argv[++i];
        else if (!std::strcmp(argv[i], "--file") && i + 1 < argc)
            input = argv[++i];
        else if (!std::strcmp(argv[i], "--thickness") && i + 1 < argc)
            thickness = QString::fromLocal8Bit(argv[++i]);
        else if (argv[i][0] != '-')
            facets = std::size_t(std::strtoull(argv[i], nullptr, 10));
        else
            return usage();
    }
    bool numeric = false;
    const float layer = thickness.toFloat(&numeric);
    if (!numeric || !(layer > 0.0f))
        return usage();

    bench::WindowBench setup(argv, dir, "bench_exportslices");
    if (!setup.isValid()) {
        std::fprintf(stderr, "bench_exportslices: cannot create a working directory\n");
        return 1;
    }
    if (input.empty()) {
        input = setup.folder().toStdString() + "/surface.stl";
        const bench::Surface surface = bench::makeTorus(facets);
        if (!bench::writeBinaryStl(input, surface)) {
            std::fprintf(stderr, "bench_exportslices: cannot write %s\n", input.c_str());
            return 1;
        }
    }
    const std::unique_ptr<geom::StlMesh> mesh = bench::readStl(input);
    if (!mesh) {
        std::fprintf(stderr, "bench_exportslices: cannot read %s\n", input.c_str());
        return 1;
    }
    facets = std::size_t(mesh->indices().size());

    MainWindow window;
    window.show();
    window.openFile(QString::fromStdString(input));
    QCoreApplication::processEvents();
    if (!window.hasCurrentFile()) {
        std::fprintf(stderr, "bench_exportslices: the window cannot open %s\n", input.c_str());
        return 1;
    }

    const QString libraryTarget = setup.folder() + QStringLiteral("/library.slc");
    const QString windowTarget = setup.folder() + QStringLiteral("/window.slc");
    std::vector<double> library, windowed;
    QElapsedTimer timer;
    for (int i = 0; i <= runs; ++i) {
        QFile::remove(libraryTarget);
        QFile::remove(windowTarget);
        bool sliced = false;
        double libraryTime = 0, windowTime = 0;
        const auto timeLibrary = [&] {
            timer.start();
            sliced = sliceWithLibrary(*mesh, layer, libraryTarget);
            libraryTime = timer.nsecsElapsed() / 1e9;
        };
        const auto timeWindow = [&] {
            timer.start();
            exportFromWindow(&window, thickness, windowTarget);
            windowTime = timer.nsecsElapsed() / 1e9;
        };
        bench::timeInTurns(i, timeLibrary, timeWindow);
        if (!sliced || !QFile::exists(windowTarget)) {
            std::fprintf(stderr, "bench_exportslices: an export failed\n");
            return 1;
        }
        if (contents(libraryTarget) != contents(windowTarget)) {
            std::fprintf(stderr, "bench_exportslices: the two SLC files differ\n");
            return 1;
        }
        if (i == 0)
            continue; // warm-up
        library.push_back(libraryTime);
        windowed.push_back(windowTime);
    }
    return bench::reportWindowRatio(facets, "library slicing", library, "window export", windowed);
}
