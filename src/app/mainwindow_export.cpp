// The main window's slice export: the file and options dialogs, the slicer behind a progress
// dialog and the SLC writer.

#include "app/exportslicesdialog.h"
#include "app/mainwindow.h"
#include "app/mainwindow_p.h"
#include "batch/stagedoutput.h"
#include "geom/mesh/stlmesh.h"
#include "geom/slicing/slcwriter.h"
#include "geom/slicing/slice.h"
#include "geom/slicing/tolerantslicer.h"

#include <QApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>

#include <climits>
#include <cmath>
#include <memory>

namespace {

// Points closer than this are merged by the slicer.
constexpr double slicerTolerance = 0.001;
// Beyond 2^32 layers the estimate no longer fits its counter.
constexpr float maximumLayers = 4294967296.0f;
// The least milliseconds between two changes of the progress dialog.
constexpr qint64 progressInterval = 40;

// The number of layers the slicer will cut, for the progress range: the height over the
// thickness, plus the layers the grid of multiples of the thickness needs to reach the top.
qint64 layerEstimate(float zmin, float zmax, float thickness)
{
    const float quotient = (zmax - zmin) / thickness;
    qint64 n = qint64(quotient);
    const float base = float(std::ceil(double(zmin) / thickness) * thickness);
    // note: counted in double: in single precision a step of n beyond 2^24 may not move z.
    for (;;) {
        const double z = double(n) * thickness + base;
        const double slack = std::min(std::abs(z), std::abs(double(zmax))) * 1e-5;
        if (std::abs(z - zmax) <= slack || z >= zmax)
            return n;
        ++n;
    }
}

} // namespace

void MainWindow::on_action_Export_Slices_triggered()
{
    if (!d->mesh)
        return;
    const QFileInfo current(d->currentFile);
    const QString proposed = current.path() + QLatin1Char('/') + current.baseName() + QStringLiteral(".slc");
    const QString fileName =
        QFileDialog::getSaveFileName(this, tr("Save As"), proposed, tr("Slice files (*.slc)"));
    if (fileName.isNull())
        return;
    d->exportSlicesDialog->setProperty("SaveFileName", fileName);
    d->exportSlicesDialog->open();
}

void MainWindow::on_exportSlicesDialog_finished(int result)
{
    // The file may have been closed while the dialog was open.
    if (result == 0 || !d->mesh)
        return;
    QElapsedTimer timer;
    timer.start();
    const QString target = d->exportSlicesDialog->property("SaveFileName").toString();
    const QString fileName = QFileInfo(target).fileName();
    const bool metric = d->exportSlicesDialog->isMetric();
    const float thickness = d->exportSlicesDialog->sliceThickness();
    // The slicer steps by the thickness: any other value would never reach the top.
    if (!std::isfinite(thickness) || thickness <= 0) {
        QMessageBox::critical(this, tr("Export Slices"), tr("The slice thickness must be a number above 0."),
                              QMessageBox::Ok);
        return;
    }

    const std::unique_ptr<geom::StlMesh> copy(d->mesh->transformed(d->modelMatrix, false));
    const float zmin = copy->bounds().min().z;
    const float zmax = copy->bounds().max().z;
    if (!((zmax - zmin) / thickness <= maximumLayers)) {
        QMessageBox::critical(this, tr("Export Slices"), tr("Model is too large to slice."), QMessageBox::Ok);
        return;
    }
    const int estimate = int(std::min<qint64>(layerEstimate(zmin, zmax, thickness), INT_MAX));

    QProgressDialog *progress = d->progressDialog;
    progress->setWindowModality(Qt::WindowModal);
    progress->setProperty("fileName", fileName);
    progress->setLabelText(tr("Exporting slice %1 of %2 to %3...").arg(estimate).arg(estimate).arg(fileName));
    progress->setRange(0, estimate);
    progress->setWindowTitle(tr("Export Slices"));
    // Sized for the longest label of the export, so that the per-layer labels never resize it.
    progress->setMinimumSize(progress->sizeHint());
    progress->setMinimumDuration(0);
    progress->setLabelText(tr("Initializing..."));
    // Recorded from the start: Cancel may be clicked while the slicer's tables are built, and the
    // reset at the end of the extraction clears the dialog's own cancelled flag.
    bool cancelled = false;
    const QMetaObject::Connection recordCancel =
        connect(progress, &QProgressDialog::canceled, this, [&cancelled] { cancelled = true; });
    progress->show();
    QApplication::processEvents();

    QList<geom::Slice> slices;
    geom::TolerantSlicer::Outcome outcome = geom::TolerantSlicer::Cancelled;
    geom::TolerantSlicer::Losses losses;
    {
        // A child of the copy, so it must go first.
        geom::TolerantSlicer slicer(copy.get(), slicerTolerance);
        slicer.setSampleOffset(thickness * 0.5f);
        slicer.setMergeContours(d->exportSlicesDialog->mergeContours());
        slicer.setWindingRule(d->exportSlicesDialog->windingRule());
        connect(progress, &QProgressDialog::canceled, &slicer, &geom::TolerantSlicer::cancelExtract);
        connect(&slicer, &geom::TolerantSlicer::sliceReady, this, &MainWindow::sliceReady);
        connect(&slicer, &geom::TolerantSlicer::extractFinished, progress, &QProgressDialog::reset);
        QApplication::processEvents();
        if (!cancelled) {
            slices = slicer.extractSlices(thickness);
            outcome = slicer.outcome();
            losses = slicer.losses();
        }
    }
    disconnect(recordCancel);
    // The slicer's end resets the dialog; an early return of the slicer must not leave it up.
    progress->reset();
    if (cancelled) {
        QMessageBox::information(this, tr("Export Slices"), tr("The operation has been cancelled."),
                                 QMessageBox::Ok);
        return;
    }
    // A file without layers would replace the old one for nothing: the old file stays, and the user
    // learns why no layer was made.
    if (outcome != geom::TolerantSlicer::Layers) {
        QMessageBox::warning(this, tr("Export Slices"), geom::TolerantSlicer::outcomeText(outcome),
                             QMessageBox::Ok);
        return;
    }

    const QString failure = writeSlcFile(target, slices, metric);
    qDebug() << "Slicing completed in" << timer.elapsed() << "ms";
    if (!failure.isEmpty()) {
        qWarning("Unable to write %s: %s", qPrintable(target), qPrintable(failure));
        QMessageBox::critical(this, tr("Export Slices"),
                              tr("Unable to write \"%1\" (%2).").arg(fileName, failure), QMessageBox::Ok);
        return;
    }
    // The file is there, but a model very small or very large for its unit lost shape, layers or
    // heights to the slicer's tolerances: the user learns it before printing the layers.
    const QString lost = geom::TolerantSlicer::lossText(losses);
    if (!lost.isEmpty())
        QMessageBox::warning(this, tr("Export Slices"), lost, QMessageBox::Ok);
}

void MainWindow::sliceReady(int id, int total)
{
    QProgressDialog *progress = d->progressDialog;
    // note: a new label text or bar position repaints the dialog, which on a large model costs
    // about as much as slicing the layer; a few dozen changes a second are all the eye follows.
    // The first and the last layer always show, and events are processed after every layer, so
    // that Cancel gets through at once.
    if (id > 1 && id < total && d->sliceProgressAge.isValid() &&
        d->sliceProgressAge.elapsed() < progressInterval) {
        QCoreApplication::processEvents();
        return;
    }
    d->sliceProgressAge.start();
    progress->setLabelText(tr("Exporting slice %1 of %2 to %3...")
                               .arg(id)
                               .arg(total)
                               .arg(progress->property("fileName").toString()));
    progress->setRange(0, total);
    // A window-modal progress dialog processes events here.
    progress->setValue(id);
}

QString MainWindow::writeSlcFile(const QString &fileName, const QList<geom::Slice> &slices, bool metric)
{
    return StagedOutput::write<QFile>(fileName, [&](QFile &file) {
        // note: a mirroring model matrix needs no reversal here: the transformed copy was re-wound,
        // so its outer contours already run counter-clockwise.
        SlcWriter writer(&file);
        writer.setHeader(metric ? QByteArrayLiteral("-SLCVER 2.0 -UNIT MM -TYPE PART")
                                : QByteArrayLiteral("-SLCVER 2.0 -UNIT INCH -TYPE PART"));
        const bool complete = writer.writeSlices(slices, false) == slices.size();
        return writer.finish() && complete ? QString() : tr("Write failed");
    });
}
