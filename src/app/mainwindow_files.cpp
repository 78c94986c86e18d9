// The main window's files: opening, closing, saving, the wait for a task, the busy filter, the
// reload question and drops.

#include "app/mainwindow.h"
#include "app/mainwindow_p.h"
#include "app/servingevents.h"
#include "batch/failuretext.h"
#include "batch/stagedoutput.h"
#include "geom/formats/plystream.h"
#include "geom/formats/qrnreader.h"
#include "geom/formats/qrnwriter.h"
#include "geom/formats/stlreader.h"
#include "geom/formats/stlwriter.h"
#include "geom/mesh/stlmesh.h"
#include "io/gzipfile.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QInputDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QUndoStack>

#include <functional>
#include <memory>
#include <new>

namespace {

const QString lastDirectoryKey = QStringLiteral("MainWindow/LastDirectory");
// The progress bar runs from 0 to this during every file operation.
constexpr int progressMaximum = 1000;
// The progress bar is updated this often while a task runs.
constexpr int progressIntervalMs = 200;

// The formats of the models that the window opens and saves, in the order of the Save As
// filters. A file's format is the one its name's suffix says: the program opens a file by it.
enum ModelFormat
{
    StlFormat,
    QrnFormat,
    PlyFormat
};
const char *const formatSuffixes[] = {".stl", ".qrn", ".ply"};

// The format whose suffix ends `fileName` (in any case); -1 for none.
int formatOfName(const QString &fileName)
{
    for (int format = StlFormat; format <= PlyFormat; ++format) {
        if (fileName.endsWith(QLatin1String(formatSuffixes[format]), Qt::CaseInsensitive))
            return format;
    }
    return -1;
}

QString trMain(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

bool insideDialog(const QObject *object)
{
    for (; object; object = object->parent()) {
        if (qobject_cast<const QDialog *>(object))
            return true;
    }
    return false;
}

// Stands on the application for one file operation: wait cursor, progress bar, and no user
// input outside dialogs, so that nothing changes the mesh a task is reading or filling.
class BusyAppFilter : public QObject
{
public:
    explicit BusyAppFilter(QProgressBar *progressBar)
        : m_progressBar(progressBar)
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        qApp->installEventFilter(this);
        m_progressBar->setRange(0, progressMaximum);
        m_progressBar->setValue(0);
        m_progressBar->show();
    }

    ~BusyAppFilter() override
    {
        m_progressBar->hide();
        m_progressBar->setMaximum(0);
        qApp->removeEventFilter(this);
        QApplication::restoreOverrideCursor();
    }

    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Shortcut:
            // A shortcut goes to its action, not to a widget; the window's own (Ctrl+W, Ctrl+Z)
            // would otherwise change the mesh under the running task.
            return !insideDialog(receiver);
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::DragLeave:
        case QEvent::Drop:
        case QEvent::HoverEnter:
        case QEvent::HoverLeave:
        case QEvent::HoverMove:
            // Input reaches the QWindow before the widget; the test applies at the widget, so a
            // dialog's window is not stopped on its way there.
            if (!receiver->isWidgetType())
                return false;
            return !insideDialog(receiver);
        default:
            return QObject::eventFilter(receiver, event);
        }
    }

private:
    QProgressBar *m_progressBar;
};

// One load or save: the busy filter and the window's flag that refuses other file operations.
class FileOperation
{
public:
    FileOperation(bool &running, QProgressBar *progressBar)
        : m_running(running)
        , m_filter(new BusyAppFilter(progressBar))
    {
        m_running = true;
    }
    ~FileOperation() { m_running = false; }
    FileOperation(const FileOperation &) = delete;
    FileOperation &operator=(const FileOperation &) = delete;

private:
    bool &m_running;
    std::unique_ptr<BusyAppFilter> m_filter;
};

// Runs the task on a thread of its own while the GUI thread serves its events and sets the
// progress bar from progress() (0 to progressMaximum) every interval; when the system refuses the
// thread, the task runs here. A task that throws gives `failed`.
template <typename T>
T runServingEvents(const std::function<T()> &task, QProgressBar *progressBar,
                   const std::function<double()> &progress, T failed)
{
    T result = failed;
    try {
        ::runServingEvents(
            [&result, &task] { result = task(); }, progressIntervalMs,
            [&] { progressBar->setValue(int(qBound(0.0, progress(), double(progressMaximum)))); });
    } catch (...) {
        return failed;
    }
    return result;
}

// What a load gives: the mesh, or a reason; the text it carries; facets it had to leave out.
struct Loaded
{
    std::unique_ptr<geom::StlMesh> mesh;
    QByteArray header;
    QString failure;
    int droppedFacets = 0;
};

// The readers' progress: the device's position over the file's size on disk.
std::function<double()> positionProgress(const QIODevice &device, qint64 fileSize)
{
    const double size = double(qMax<qint64>(fileSize, 1));
    return [&device, size] { return double(device.pos()) / size * progressMaximum; };
}

Loaded loadQrn(const QString &fileName, qint64 fileSize, QProgressBar *progressBar, QStatusBar *statusBar)
{
    Loaded loaded;
    GZipFile file(fileName);
    geom::QrnReader reader(&file);
    auto mesh = std::make_unique<geom::StlMesh>();
    statusBar->showMessage(trMain("Decompressing from Quarn file..."));
    geom::StlMesh *target = mesh.get();
    const std::function<geom::QrnReader::Status()> task = [&reader, target] {
        try {
            return reader.read(target);
        } catch (const std::bad_alloc &) {
            return geom::QrnReader::OutOfMemory;
        } catch (const std::exception &) {
            return geom::QrnReader::NotReadable;
        }
    };
    // The compressed position, since the uncompressed size is not known before the end.
    const double size = double(qMax<qint64>(fileSize, 1));
    const auto progress = [&file, size] { return double(file.compressedPos()) / size * progressMaximum; };
    const geom::QrnReader::Status status =
        runServingEvents(task, progressBar, progress, geom::QrnReader::NotReadable);
    if (status != geom::QrnReader::Done) {
        loaded.failure = trMain(readFailureText(reader, status).toUtf8().constData());
        return loaded;
    }
    loaded.mesh = std::move(mesh);
    loaded.header = reader.comment();
    loaded.droppedFacets = reader.droppedFacetCount();
    return loaded;
}

Loaded loadStl(const QString &fileName, qint64 fileSize, QProgressBar *progressBar, QStatusBar *statusBar)
{
    Loaded loaded;
    QFile file(fileName);
    geom::StlReader reader(&file);
    statusBar->showMessage(trMain("Loading from Stereolithography file..."));
    bool outOfMemory = false;
    const std::function<geom::StlMesh *()> task = [&reader, &outOfMemory]() -> geom::StlMesh * {
        try {
            return reader.read();
        } catch (const std::bad_alloc &) {
            outOfMemory = true;
            return nullptr;
        } catch (const std::exception &) {
            return nullptr;
        }
    };
    loaded.mesh.reset(
        runServingEvents<geom::StlMesh *>(task, progressBar, positionProgress(file, fileSize), nullptr));
    if (!loaded.mesh) {
        const geom::StlReader::Statuses status =
            outOfMemory ? geom::StlReader::Statuses(geom::StlReader::OutOfMemory) : reader.status();
        loaded.failure = trMain(readFailureText(status).toUtf8().constData());
        return loaded;
    }
    loaded.header = reader.header();
    return loaded;
}

Loaded loadPly(const QString &fileName, qint64 fileSize, QProgressBar *progressBar, QStatusBar *statusBar)
{
    Loaded loaded;
    const QString incorrectFormat = trMain("Incorrect format");
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        loaded.failure = trMain("Not readable");
        return loaded;
    }
    geom::PlyStream stream(&file);
    try {
        if (!stream.processHeader()) {
            loaded.failure = incorrectFormat;
            return loaded;
        }
    } catch (const std::exception &e) {
        loaded.failure = QString::fromLocal8Bit(e.what());
        return loaded;
    }
    statusBar->showMessage(trMain("Loading from Polygon file..."));
    auto mesh = std::make_unique<geom::StlMesh>();
    geom::StlMesh *target = mesh.get();
    // Null: the mesh was read.
    const std::function<QString()> task = [&stream, target, incorrectFormat] {
        try {
            return stream.loadMesh(target) ? QString() : incorrectFormat;
        } catch (const std::bad_alloc &) {
            return trMain("Not enough memory");
        } catch (const std::exception &e) {
            return QString::fromLocal8Bit(e.what());
        }
    };
    loaded.failure = runServingEvents(task, progressBar, positionProgress(file, fileSize), incorrectFormat);
    if (!loaded.failure.isNull())
        return loaded;
    loaded.mesh = std::move(mesh);
    loaded.header = stream.comment(false);
    if (!loaded.header.isEmpty()) {
        const QByteArray decoded = QByteArray::fromPercentEncoding(loaded.header, '%');
        if (!decoded.isEmpty())
            loaded.header = decoded;
    }
    return loaded;
}

} // namespace

void MainWindow::openFile(const QString &fileName)
{
    // A running load or save owns the window's mesh until it ends.
    if (d->fileOperationRunning)
        return;
    const QFileInfo info(fileName);
    // Told before anything is closed; a pipe or device is never opened, as it could block the
    // window for ever.
    const QString refused = sourceFailureText(fileName);
    if (!refused.isNull()) {
        QMessageBox::critical(
            this, tr("Open"),
            tr("Unable to open \"%1\". %2.")
                .arg(QDir::toNativeSeparators(info.absoluteFilePath()), trMain(refused.toUtf8().constData())),
            QMessageBox::Ok);
        // A file that only lacks permission may be readable again later.
        if (!info.isFile())
            removeRecentFile(fileName);
        return;
    }
    using Reader = Loaded (*)(const QString &, qint64, QProgressBar *, QStatusBar *);
    const Reader readers[] = {loadStl, loadQrn, loadPly};
    const int format = formatOfName(fileName);
    // Checked before anything is closed: a name that cannot be read costs the user nothing.
    if (format < 0) {
        QMessageBox::critical(this, tr("Open - Error"),
                              tr("Cannot open file with unsupported file extension."), QMessageBox::Ok);
        return;
    }
    const Reader reader = readers[format];

    Loaded loaded;
    {
        FileOperation operation(d->fileOperationRunning, d->progressBar);
        loaded = reader(fileName, info.size(), d->progressBar, statusBar());
        // The open model is replaced only by one that was read: a failed load keeps it.
        if (loaded.mesh) {
            discardFile();
            d->mesh = std::move(loaded.mesh);
            d->headerBytes = loaded.header;
            const geom::Cuboid bounds = d->mesh->bounds();
            const geom::Vector3f centre((bounds.min().x + bounds.max().x) / 2,
                                        (bounds.min().y + bounds.max().y) / 2,
                                        (bounds.min().z + bounds.max().z) / 2);
            d->mesh->translate(geom::Vector3f(-centre.x, -centre.y, -centre.z));
            d->modelMatrix.translate(centre.x, centre.y, centre.z);
            setCurrentFile(info.absoluteFilePath());
            updateClipSliderRange();
            d->clipSlider->setValue(d->clipSlider->maximum());
            GLWidget *view = m_ui->widget;
            view->makeCurrent();
            // The standard views below are framed on the new scene's centre and radius.
            on_widget_configureScene(view);
            view->setViewingAngle(0, false);
            view->setViewingAngle(7, false);
            QSettings().setValue(lastDirectoryKey, info.dir().path());
            statusBar()->clearMessage();
            view->refresh();
            activateWindow();
        } else {
            statusBar()->clearMessage();
        }
    }
    if (!loaded.failure.isNull()) {
        QMessageBox::critical(this, tr("Open - Error"),
                              tr("Unable to open \"%1\" (%2).").arg(info.fileName(), loaded.failure),
                              QMessageBox::Ok);
    } else if (loaded.droppedFacets > 0) {
        QMessageBox::warning(this, tr("Open"),
                             tr("\"%1\" was opened without %2 facets that refer to missing vertices.")
                                 .arg(info.fileName())
                                 .arg(loaded.droppedFacets),
                             QMessageBox::Ok);
    }
}

void MainWindow::closeFile()
{
    // A running save is reading the mesh.
    if (d->fileOperationRunning)
        return;
    discardFile();
}

void MainWindow::discardFile()
{
    d->mesh.reset();
    // The arrays' buffer objects live in the view's context.
    m_ui->widget->makeCurrent();
    d->displayCache.clear();
    d->modelMatrix.setToIdentity();
    d->undoStack->clear();
    setCurrentFile(QString());
    updateClipSliderRange();
    d->clipSlider->setSingleStep(0);
    d->clipSlider->setPageStep(0);
    d->clipSlider->setValue(d->clipSlider->maximum());
    GLWidget *view = m_ui->widget;
    view->makeCurrent();
    view->setViewingAngle(0, false);
    view->setViewingAngle(7, false);
    statusBar()->clearMessage();
}

void MainWindow::on_action_Open_triggered()
{
    const QStringList filters = {tr("All Supported Files (*.qrn *.stl *.ply)"), tr("STL Files (*.stl)"),
                                 tr("Quarn Files (*.qrn)"), tr("Polygon Files (*.ply)")};
    const QString fileName = QFileDialog::getOpenFileName(
        this, tr("Open"), QSettings().value(lastDirectoryKey).toString(), filters.join(QLatin1String(";;")));
    if (!fileName.isEmpty())
        openFile(fileName);
}

void MainWindow::on_action_Close_triggered()
{
    closeFile();
}

void MainWindow::on_action_Quarn_triggered()
{
    const QFileInfo info(d->currentFile);
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("Save As"), info.path() + QLatin1Char('/') + info.baseName() + ".qrn",
        tr("Quarn Files (*.qrn)"));
    // The action names the format, so the name follows it: the program opens a file by its
    // suffix, and compressed data under ".stl" would be a file it cannot read back.
    saveInFormat(withSuffix(fileName, QLatin1String(formatSuffixes[QrnFormat])), QrnFormat);
}

void MainWindow::on_action_Unquarn_triggered()
{
    const QFileInfo info(d->currentFile);
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("Save As"), info.path() + QLatin1Char('/') + info.baseName() + ".stl",
        tr("Binary STL Files (*.stl)"));
    saveInFormat(withSuffix(fileName, QLatin1String(formatSuffixes[StlFormat])), StlFormat);
}

QString MainWindow::withSuffix(const QString &typed, const QString &suffix)
{
    if (typed.isNull() || typed.endsWith(suffix, Qt::CaseInsensitive))
        return typed;
    const QString fileName = typed + suffix;
    // The dialog asked about replacing the name as typed, not this one. A file that may not be
    // replaced is not offered: the save tells why it fails.
    if (QFileInfo::exists(fileName) && StagedOutput::refusal(fileName).isNull() &&
        QMessageBox::warning(
            this, tr("Save As"),
            tr("%1 already exists.\nDo you want to replace it?").arg(QFileInfo(fileName).fileName()),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return QString();
    return fileName;
}

void MainWindow::on_action_Save_As_triggered()
{
    const QStringList filters = {tr("STL Files (*.stl)"), tr("Quarn Files (*.qrn)"),
                                 tr("Polygon Files (*.ply)")};
    const QString pattern =
        QStringLiteral("*.") + d->currentFile.mid(d->currentFile.lastIndexOf(QLatin1Char('.')) + 1);
    QString selected = pattern;
    for (const QString &filter : filters) {
        if (filter.contains(pattern, Qt::CaseInsensitive)) {
            selected = filter;
            break;
        }
    }
    QString fileName = QFileDialog::getSaveFileName(this, tr("Save As"), d->currentFile,
                                                    filters.join(QLatin1String(";;")), &selected);
    if (fileName.isNull())
        return;
    // A typed suffix of ours decides the format, not the filter, which may be left from the
    // current file: other data under the suffix would be a file the program cannot read back.
    int format = formatOfName(fileName);
    if (format < 0) {
        format = filters.indexOf(selected);
        if (format < 0)
            return;
        fileName = withSuffix(fileName, QLatin1String(formatSuffixes[format]));
    }
    saveInFormat(fileName, format);
}

void MainWindow::saveInFormat(const QString &fileName, int format)
{
    if (fileName.isNull())
        return;
    switch (format) {
    case StlFormat:
        save(fileName, tr("Saving to Stereolithography file..."),
             [this](const QString &name) { return writeStlFile(name); });
        break;
    case QrnFormat:
        save(fileName, tr("Compressing to Quarn file..."),
             [this](const QString &name) { return writeQrnFile(name); });
        break;
    case PlyFormat: {
        const QStringList formats = {tr("Binary Big Endian"), tr("Binary Little Endian"), tr("Text Ascii")};
        bool accepted = false;
        const QString encoding =
            QInputDialog::getItem(this, tr("Save As"), tr("Polygon format"), formats, 1, false, &accepted);
        if (!accepted)
            return;
        const int index = formats.indexOf(encoding);
        save(fileName, tr("Saving to Polygon file..."),
             [this, index](const QString &name) { return writePlyFile(name, index); });
        break;
    }
    default:
        break;
    }
}

void MainWindow::save(const QString &fileName, const QString &status,
                      const std::function<QString(const QString &)> &write)
{
    if (fileName.isNull() || !d->mesh || d->fileOperationRunning)
        return;
    QString failure;
    {
        FileOperation operation(d->fileOperationRunning, d->progressBar);
        statusBar()->showMessage(status);
        failure = write(fileName);
        if (failure.isNull())
            setCurrentFile(QFileInfo(fileName).absoluteFilePath());
        statusBar()->showMessage(failure, 5000);
    }
    if (!failure.isNull()) {
        QMessageBox::critical(this, tr("Save As"),
                              tr("Unable to save \"%1\" (%2).").arg(QFileInfo(fileName).fileName(), failure),
                              QMessageBox::Ok);
    }
}

QString MainWindow::writeQrnFile(const QString &fileName)
{
    return StagedOutput::write<GZipFile>(fileName, [this](GZipFile &file) {
        // The writer is a child of the device and goes first.
        geom::QrnWriter writer(&file);
        writer.setComment(d->headerBytes);
        writer.setTransform(d->modelMatrix);
        const geom::StlMesh *mesh = d->mesh.get();
        const std::function<geom::QrnWriter::Status()> task = [&writer, mesh] {
            try {
                return writer.write(mesh);
            } catch (const std::exception &) {
                return geom::QrnWriter::Failed;
            }
        };
        const geom::QrnWriter::Status status = runServingEvents(
            task, d->progressBar, [&writer] { return double(progressMaximum) * writer.progress(); },
            geom::QrnWriter::Failed);
        return status == geom::QrnWriter::Done ? QString()
                                               : tr(writeFailureText(status).toUtf8().constData());
    });
}

QString MainWindow::writeStlFile(const QString &fileName)
{
    return StagedOutput::write<QFile>(fileName, [this](QFile &file) {
        geom::StlWriter writer(&file);
        writer.setHeader(d->headerBytes);
        writer.setTransform(d->modelMatrix);
        geom::StlMesh *mesh = d->mesh.get();
        const std::function<int()> task = [&writer, mesh] {
            try {
                return writer.write(mesh);
            } catch (const std::exception &) {
                return -1;
            }
        };
        const int written = runServingEvents(
            task, d->progressBar, [&writer] { return double(progressMaximum) * writer.progress(); }, -1);
        // finish() writes the count and closes the device; a failed write leaves that to the
        // writer's destructor and the temporary file is dropped.
        const bool complete = written == mesh->indices().size() && writer.finish();
        return complete ? QString() : tr(writeFailureText(writer).toUtf8().constData());
    });
}

QString MainWindow::writePlyFile(const QString &fileName, int format)
{
    return StagedOutput::write<QFile>(fileName, [this, format](QFile &file) {
        geom::PlyStream stream(&file);
        if (format >= 0)
            stream.setFormat(geom::PlyStream::FormatSpec(geom::PlyStream::Format(format), "1.0"));
        if (!d->headerBytes.isEmpty()) {
            stream.setComment(d->headerBytes, false);
            if (stream.comment(false).isEmpty())
                stream.setComment(d->headerBytes, true);
        }
        const geom::StlMesh *mesh = d->mesh.get();
        const QMatrix4x4 matrix = d->modelMatrix;
        // The transformed copy is built in the task too: it is a pass over the whole mesh.
        const std::function<QString()> task = [&stream, mesh, matrix] {
            try {
                const std::unique_ptr<geom::StlMesh> copy(mesh->transformed(matrix, false));
                return stream.saveMesh(copy.get()) ? QString() : trMain("Write failed");
            } catch (const std::bad_alloc &) {
                return trMain("Not enough memory");
            } catch (const std::exception &e) {
                return QString::fromLocal8Bit(e.what());
            }
        };
        return runServingEvents(
            task, d->progressBar, [&stream] { return double(progressMaximum) * stream.progress(); },
            tr("Write failed"));
    });
}

void MainWindow::on_fileSystemWatcher_fileChanged(const QString &path)
{
    // One question at a time for the whole program.
    static bool questionOpen = false;
    if (!QFile::exists(path) || d->fileOperationRunning || isBusy() || questionOpen)
        return;
    questionOpen = true;
    const QMessageBox::StandardButton answer =
        QMessageBox::information(this, tr("Reload File?"),
                                 tr("File %1 has been modified.\nDo you want to reload it?")
                                     .arg(QDir::toNativeSeparators(d->currentFile)),
                                 QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes)
        openFile(QString(d->currentFile));
    questionOpen = false;
    // A file replaced by a rename drops out of the watcher; keep watching the name.
    if (hasCurrentFile() && !d->fileSystemWatcher->files().contains(d->currentFile) &&
        QFile::exists(d->currentFile))
        d->fileSystemWatcher->addPath(d->currentFile);
}

void MainWindow::fileOperationFinished()
{
    if (QObject *operation = sender())
        operation->deleteLater();
    statusBar()->clearMessage();
    d->progressBar->hide();
    delete d->busyFilter;
    d->busyFilter = nullptr;
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QMimeData *mime = event->mimeData();
    if (mime->hasUrls() && !mime->urls().isEmpty()) {
        // Queued: the drag's source waits for the drop to be handled, not for the file to load.
        const QString fileName = mime->urls().first().toLocalFile();
        QMetaObject::invokeMethod(
            this, [this, fileName] { openFile(fileName); }, Qt::QueuedConnection);
    }
    event->acceptProposedAction();
}
