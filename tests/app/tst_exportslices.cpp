#include "app/exportslicesdialog.h"
#include "app/mainwindow.h"
#include "app/mainwindow_p.h"
#include "batchfixtures.h"
#include "framegrab.h"
#include "geom/slicing/tolerantslicer.h"
#include "mainwindowfixture.h"
#include "meshbuilders.h"
#include "meshcheck.h"
#include "modaldialoganswerer.h"
#include "scratchmount.h"
#include "slcreader.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QUndoStack>
#include <QtTest>

#include <algorithm>
#include <memory>

#include <unistd.h>

Q_DECLARE_METATYPE(QVector<geom::Facet>)

using widgettest::ModalDialogAnswerer;

class TestExportSlices : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void unitChangeConvertsTheThickness_data();
    void unitChangeConvertsTheThickness();
    void settings();
    void exportAskForTheTarget_data();
    void exportAskForTheTarget();
    void exportWritesLayers_data();
    void exportWritesLayers();
    void cancelWritesNothing();
    void refusedExports_data();
    void refusedExports();
    void noLayerKeepsTheFile_data();
    void noLayerKeepsTheFile();
    void failedWriteSaysWhy_data();
    void failedWriteSaysWhy();
    void lossesAreToldAfterWriting_data();
    void lossesAreToldAfterWriting();
};

namespace {

template <typename T>
T *child(QObject *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

QStringList items(QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

const QStringList metricPresets = {"0.0127", "0.01905", "0.0254", "0.0381", "0.05",
                                   "0.0508", "0.0762",  "0.1",    "0.127",  "0.5"};
const QStringList inchPresets = {"0.0005", "0.00075", "0.001", "0.0015", "0.002", "0.003", "0.01", "0.05"};

// A message box is closed by OK; any other dialog (the progress dialog) is left alone.
ModalDialogAnswerer::Answer acknowledge()
{
    return [](QWidget *dialog) {
        if (qobject_cast<QMessageBox *>(dialog))
            ModalDialogAnswerer::click(QMessageBox::Ok)(dialog);
    };
}

struct Options
{
    QString thickness = QStringLiteral("0.1");
    int units = 0;
    bool merge = true;
    int windingRule = 2;
};

// The message boxes of one export: their title and text.
using Messages = QList<QPair<QString, QString>>;

// Runs one export of the window's model to target with the options, as a user would after the
// file dialog; during the run, onProgress sees the progress dialog, and each message box goes to
// answer.
Messages exportTo(MainWindow *window, const QString &target, const Options &options,
                  const std::function<void(QProgressDialog *)> &onProgress = {},
                  const ModalDialogAnswerer::Answer &answer = acknowledge())
{
    auto *dialog = child<ExportSlicesDialog>(window, "exportSlicesDialog");
    dialog->setProperty("SaveFileName", target);
    dialog->open();
    child<QComboBox>(dialog, "unitsComboBox")->setCurrentIndex(options.units);
    child<QComboBox>(dialog, "thicknessComboBox")->setEditText(options.thickness);
    child<QGroupBox>(dialog, "mergeContoursGroupBox")->setChecked(options.merge);
    child<QComboBox>(dialog, "windingRuleComboBox")->setCurrentIndex(options.windingRule);
    if (onProgress)
        onProgress(window->findChild<QProgressDialog *>());

    ModalDialogAnswerer answerer({answer, answer, answer, answer});
    QTest::mouseClick(dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    Messages messages;
    for (const ModalDialogAnswerer::Seen &seen : answerer.seen()) {
        if (seen.className == QLatin1String("QMessageBox"))
            messages.append({seen.title, seen.text});
    }
    return messages;
}

slctest::SlcFile readSlcFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        slctest::SlcFile unread;
        unread.error = QStringLiteral("not readable");
        return unread;
    }
    return slctest::readSlc(file.readAll());
}

QVector<geom::Facet> cube10()
{
    return meshtest::box(geom::Vector3f(0, 0, 0), geom::Vector3f(10, 10, 10));
}

// A window with the facets opened from model.stl in dir; null when the file cannot be written.
std::unique_ptr<MainWindow> windowWithModel(const QTemporaryDir &dir, const QVector<geom::Facet> &facets)
{
    const QString model = dir.filePath(QStringLiteral("model.stl"));
    return batchtest::writeStl(model, facets) ? widgettest::mainWindowWith(model) : nullptr;
}

} // namespace

void TestExportSlices::init()
{
    QSettings().clear();
}

void TestExportSlices::unitChangeConvertsTheThickness_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("converted");

    QTest::newRow("mm to inch") << 0 << "0.0254"
                                << "0.001";
    QTest::newRow("inch to mm") << 1 << "0.001"
                                << "0.0254";
    QTest::newRow("inch to mm, 0.002") << 1 << "0.002"
                                       << "0.0508";
    QTest::newRow("whole number keeps its point") << 1 << "10"
                                                  << "254.";
    QTest::newRow("trailing zeros dropped") << 0 << "2.54000"
                                            << "0.1";
    QTest::newRow("not a number kept") << 0 << "thin"
                                       << "thin";
    QTest::newRow("empty kept") << 1 << ""
                                << "";
}

void TestExportSlices::unitChangeConvertsTheThickness()
{
    QFETCH(int, from);
    QFETCH(QString, text);
    QFETCH(QString, converted);
    ExportSlicesDialog dialog;
    auto *units = child<QComboBox>(&dialog, "unitsComboBox");
    auto *thickness = child<QComboBox>(&dialog, "thicknessComboBox");
    units->setCurrentIndex(from);
    thickness->setEditText(text);

    units->setCurrentIndex(1 - from);
    QCOMPARE(thickness->currentText(), converted);
    QCOMPARE(items(thickness), from == 0 ? inchPresets : metricPresets);
    QCOMPARE(dialog.isMetric(), from == 1);

    units->setCurrentIndex(from);
    QCOMPARE(items(thickness), from == 0 ? metricPresets : inchPresets);
}

void TestExportSlices::settings()
{
    {
        // First start: the form's defaults, and a neutral name for the non-zero rule.
        ExportSlicesDialog dialog;
        auto *winding = child<QComboBox>(&dialog, "windingRuleComboBox");
        QCOMPARE(child<QComboBox>(&dialog, "unitsComboBox")->currentText(), QStringLiteral("mm"));
        QCOMPARE(child<QComboBox>(&dialog, "thicknessComboBox")->currentText(), QStringLiteral("0.0127"));
        QCOMPARE(items(child<QComboBox>(&dialog, "thicknessComboBox")), metricPresets);
        QVERIFY(dialog.mergeContours());
        QCOMPARE(winding->currentText(), QStringLiteral("Positive (Default)"));
        QCOMPARE(winding->itemText(1), QStringLiteral("Non-Zero"));
        QCOMPARE(dialog.sliceThickness(), 0.0127f);
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    }

    QSettings().clear();
    ExportSlicesDialog dialog;
    dialog.open();
    child<QComboBox>(&dialog, "unitsComboBox")->setCurrentIndex(1);
    child<QComboBox>(&dialog, "thicknessComboBox")->setEditText(QStringLiteral("0.0033"));
    child<QGroupBox>(&dialog, "mergeContoursGroupBox")->setChecked(false);
    child<QComboBox>(&dialog, "windingRuleComboBox")->setCurrentIndex(4);
    // Written on acceptance, while the dialog lives on.
    dialog.accept();
    {
        QSettings settings;
        QCOMPARE(settings.value("ExportSlicesDialog/Units").toInt(), 1);
        QCOMPARE(settings.value("ExportSlicesDialog/SliceThickness").toString(), QStringLiteral("0.0033"));
        QCOMPARE(settings.value("ExportSlicesDialog/MergeContours").toBool(), false);
        QCOMPARE(settings.value("ExportSlicesDialog/WindingRule").toInt(), 4);
    }

    // A new dialog shows the stored choice: inch presets and exactly the stored text.
    ExportSlicesDialog restored;
    QVERIFY(!restored.isMetric());
    QCOMPARE(items(child<QComboBox>(&restored, "thicknessComboBox")), inchPresets);
    QCOMPARE(child<QComboBox>(&restored, "thicknessComboBox")->currentText(), QStringLiteral("0.0033"));
    QVERIFY(!restored.mergeContours());
    QCOMPARE(restored.windingRule(), 4);

    // Foreign stored values leave the getters in range.
    QSettings().setValue("ExportSlicesDialog/Units", 7);
    QSettings().setValue("ExportSlicesDialog/WindingRule", -3);
    ExportSlicesDialog foreign;
    QVERIFY(foreign.isMetric());
    QCOMPARE(foreign.windingRule(), 2);
}

void TestExportSlices::exportAskForTheTarget_data()
{
    QTest::addColumn<bool>("answer");
    QTest::newRow("cancelled file dialog") << false;
    QTest::newRow("chosen file") << true;
}

void TestExportSlices::exportAskForTheTarget()
{
    QFETCH(bool, answer);
    QTemporaryDir dir;
    const QString model = dir.filePath(QStringLiteral("bracket.rev.stl"));
    QVERIFY(batchtest::writeStl(model, cube10()));
    const auto window = widgettest::mainWindowWith(model);
    const QString chosen = dir.filePath(QStringLiteral("chosen.slc"));

    QString proposed;
    ModalDialogAnswerer answerer({[&](QWidget *dialog) {
        auto *files = qobject_cast<QFileDialog *>(dialog);
        QVERIFY(files);
        proposed = files->selectedFiles().value(0);
        if (!answer) {
            files->reject();
            return;
        }
        files->setOption(QFileDialog::DontConfirmOverwrite);
        files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("chosen.slc"));
        static_cast<QDialog *>(files)->accept();
    }});
    window->findChild<QAction *>(QStringLiteral("action_Export_Slices"))->trigger();
    QCOMPARE(answerer.seen().value(0).title, QStringLiteral("Save As"));
    QCOMPARE(QFileInfo(proposed), QFileInfo(dir.filePath(QStringLiteral("bracket.slc"))));

    auto *dialog = child<ExportSlicesDialog>(window.get(), "exportSlicesDialog");
    QCOMPARE(dialog->isVisible(), answer);
    if (answer) {
        QCOMPARE(QFileInfo(dialog->property("SaveFileName").toString()), QFileInfo(chosen));
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        // Rejecting the options exports nothing.
        dialog->reject();
    }
    QVERIFY(!QFile::exists(chosen));
}

void TestExportSlices::exportWritesLayers_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<int>("units");
    QTest::addColumn<bool>("mirrored");
    QTest::addColumn<QByteArray>("header");

    const QByteArray mm("-SLCVER 2.0 -UNIT MM -TYPE PART");
    const QByteArray inch("-SLCVER 2.0 -UNIT INCH -TYPE PART");
    QTest::newRow("cube, mm") << "cube" << 0 << false << mm;
    QTest::newRow("cube, inch") << "cube" << 1 << false << inch;
    QTest::newRow("cube, mirrored") << "cube" << 0 << true << mm;
    QTest::newRow("torus") << "torus" << 0 << false << mm;
    QTest::newRow("torus, mirrored") << "torus" << 0 << true << mm;
}

void TestExportSlices::exportWritesLayers()
{
    QFETCH(QString, shape);
    QFETCH(int, units);
    QFETCH(bool, mirrored);
    QFETCH(QByteArray, header);
    QTemporaryDir dir;
    const QString model = dir.filePath(QStringLiteral("model.stl"));
    const bool cube = shape == QLatin1String("cube");
    // The torus lies around the z axis, 24 high; its middle layers are rings with a hole.
    const QVector<geom::Facet> facets = cube ? cube10() : meshtest::Torus(2000, 40.0, 12.0).facets();
    // One layer per thickness, each cut half a thickness above its bottom, up to the top.
    int layers = 0;
    {
        const std::unique_ptr<geom::StlMesh> mesh(meshtest::meshFrom(facets));
        QCOMPARE(meshtest::checkMesh(*mesh), QString());
        const double height = mesh->bounds().max().z - mesh->bounds().min().z;
        layers = int(std::ceil(height / 0.1 - 0.5 - 1e-6));
    }
    QVERIFY(batchtest::writeStl(model, facets));
    const auto window = widgettest::mainWindowWith(model);
    if (mirrored)
        window->d->modelMatrix.scale(-1, 1, 1);
    const QMatrix4x4 matrix = window->d->modelMatrix;
    const int undoCount = window->d->undoStack->count();

    const QString target = dir.filePath(QStringLiteral("model.slc"));
    Options options;
    options.units = units;
    QCOMPARE(exportTo(window.get(), target, options), Messages());

    const slctest::SlcFile slc = readSlcFile(target);
    QCOMPARE(slc.error, QString());
    QCOMPARE(slc.headerText, header);
    QCOMPARE(slc.trailingBytes, 0);
    QCOMPARE(slc.layers.size(), layers);
    for (int i = 0; i < slc.layers.size(); ++i) {
        const slctest::Layer &layer = slc.layers[i];
        QVERIFY2(qAbs(layer.z - (slc.layers[0].z + 0.1f * i)) < 1e-3f, qPrintable(QString::number(i)));
        if (cube) {
            QCOMPARE(layer.boundaries.size(), 1);
            const slctest::Boundary &square = layer.boundaries[0];
            QVERIFY(square.isClosed());
            // Counter-clockwise, mirrored or not.
            QVERIFY2(qAbs(square.area() - 100.0) < 1e-3, qPrintable(QString::number(square.area())));
            for (int v = 0; v < square.vertexCount(); ++v) {
                const float x = qAbs(square.xy[2 * v]);
                const float y = square.xy[2 * v + 1];
                const auto onEdge = [](float c) { return qAbs(c) < 1e-4f || qAbs(c - 10) < 1e-4f; };
                QVERIFY(x > -1e-4f && x < 10 + 1e-4f && y > -1e-4f && y < 10 + 1e-4f);
                QVERIFY2(onEdge(x) || onEdge(y), qPrintable(QStringLiteral("%1 %2").arg(x).arg(y)));
            }
        }
    }
    if (!cube) {
        // The middle layer: an outer ring counter-clockwise and its hole clockwise.
        const slctest::Layer &middle = slc.layers[layers / 2];
        QCOMPARE(middle.boundaries.size(), 2);
        const double a0 = middle.boundaries[0].area();
        const double a1 = middle.boundaries[1].area();
        QVERIFY2(qMax(a0, a1) > 0 && qMin(a0, a1) < 0, qPrintable(QStringLiteral("%1 %2").arg(a0).arg(a1)));
        QVERIFY(qMax(a0, a1) > -qMin(a0, a1));
    }
    // The model is left as it was.
    QCOMPARE(window->d->modelMatrix, matrix);
    QCOMPARE(window->d->undoStack->count(), undoCount);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

void TestExportSlices::cancelWritesNothing()
{
    QTemporaryDir dir;
    const QString model = dir.filePath(QStringLiteral("cube.stl"));
    QVERIFY(batchtest::writeStl(model, cube10()));
    const auto window = widgettest::mainWindowWith(model);
    const QString target = dir.filePath(QStringLiteral("cube.slc"));

    QStringList labels;
    int cancelledAt = 0;
    int highest = 0;
    const Messages messages = exportTo(window.get(), target, Options(), [&](QProgressDialog *progress) {
        auto *bar = progress->findChild<QProgressBar *>();
        auto *label = progress->findChild<QLabel *>();
        connect(bar, &QProgressBar::valueChanged, progress, [=, &labels, &cancelledAt, &highest](int value) {
            labels << label->text();
            highest = std::max(highest, value);
            // A click on Cancel once the first layer shows, delivered by the event processing
            // that follows a later layer: layers that do not change the dialog must process
            // events too, or the click would wait for the last layer.
            if (value >= 1 && cancelledAt == 0) {
                cancelledAt = value;
                QTimer::singleShot(0, progress, [progress] {
                    QTest::mouseClick(progress->findChild<QPushButton *>(), Qt::LeftButton);
                });
            }
        });
    });
    QCOMPARE(cancelledAt, 1);
    QVERIFY2(highest < 100, qPrintable(QString::number(highest)));
    QCOMPARE(messages, Messages({{QStringLiteral("Export Slices"),
                                  QStringLiteral("The operation has been cancelled.")}}));
    // The totals are the slicer's own count.
    QVERIFY2(labels.value(0).startsWith(QStringLiteral("Exporting slice 1 of 10")),
             qPrintable(labels.join('|')));
    QVERIFY(labels.value(0).endsWith(QStringLiteral(" to cube.slc...")));
    QVERIFY(!window->findChild<QProgressDialog *>()->isVisible());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("cube.stl")});

    // The next export is not taken for cancelled.
    QCOMPARE(exportTo(window.get(), target, Options()), Messages());
    QCOMPARE(readSlcFile(target).layers.size(), 100);
}

void TestExportSlices::refusedExports_data()
{
    QTest::addColumn<QString>("thickness");
    QTest::addColumn<QString>("text");

    const QString thickness = QStringLiteral("The slice thickness must be a number above 0.");
    QTest::newRow("zero thickness") << "0" << thickness;
    QTest::newRow("negative thickness") << "-0.1" << thickness;
    QTest::newRow("thickness not a number") << "thin" << thickness;
    QTest::newRow("infinite thickness") << "inf" << thickness;
    QTest::newRow("too many layers") << "1e-9"
                                     << "Model is too large to slice.";
}

void TestExportSlices::refusedExports()
{
    QFETCH(QString, thickness);
    QFETCH(QString, text);
    QTemporaryDir dir;
    const QString model = dir.filePath(QStringLiteral("cube.stl"));
    QVERIFY(batchtest::writeStl(model, cube10()));
    const QByteArray kept("kept as it was");
    const QString readOnly = dir.filePath(QStringLiteral("readonly.slc"));
    QVERIFY(batchtest::writeAll(readOnly, kept));
    QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const auto window = widgettest::mainWindowWith(model);

    Options options;
    options.thickness = thickness;
    const Messages messages = exportTo(window.get(), dir.filePath(QStringLiteral("cube.slc")), options);
    QCOMPARE(messages, Messages({{QStringLiteral("Export Slices"), text}}));
    QStringList files = QDir(dir.path()).entryList(QDir::Files);
    files.sort();
    QCOMPARE(files, QStringList({QStringLiteral("cube.stl"), QStringLiteral("readonly.slc")}));
    QFile file(readOnly);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), kept);
}

void TestExportSlices::noLayerKeepsTheFile_data()
{
    QTest::addColumn<QVector<geom::Facet>>("facets");
    QTest::addColumn<float>("lift"); // added to z by the model matrix
    QTest::addColumn<QString>("thickness");
    QTest::addColumn<int>("outcome");

    QTest::newRow("layer thicker than twice the model")
        << cube10() << 0.0f << "25" << int(geom::TolerantSlicer::MissesModel);
    QTest::newRow("model above the heights that can be sliced")
        << cube10() << 20000.0f << "0.1" << int(geom::TolerantSlicer::OutOfRange);
    QTest::newRow("walls thinner than the contour tolerance")
        << meshtest::box(geom::Vector3f(0, 0, 0), geom::Vector3f(10, 0.005f, 10)) << 0.0f << "0.1"
        << int(geom::TolerantSlicer::ContoursTooSmall);
}

// An export that makes no layer says why and leaves the file of that name as it was: no empty
// file, no staged file.
void TestExportSlices::noLayerKeepsTheFile()
{
    QFETCH(QVector<geom::Facet>, facets);
    QFETCH(float, lift);
    QFETCH(QString, thickness);
    QFETCH(int, outcome);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("model.slc"));
    const QByteArray kept("an earlier export");
    QVERIFY(batchtest::writeAll(target, kept));
    const auto window = windowWithModel(dir, facets);
    QVERIFY(window);
    window->d->modelMatrix.translate(0, 0, lift);

    Options options;
    options.thickness = thickness;
    const Messages messages = exportTo(window.get(), target, options, {}, [](QWidget *dialog) {
        if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
            QVERIFY(saveArtefact(box->grab().toImage(), rowPicture(QStringLiteral("exportslices-nolayer-"))));
            ModalDialogAnswerer::click(QMessageBox::Ok)(box);
        }
    });
    const QString reason = geom::TolerantSlicer::outcomeText(geom::TolerantSlicer::Outcome(outcome));
    QVERIFY(reason.startsWith(QStringLiteral("No layer was made: ")));
    QCOMPARE(messages, Messages({{QStringLiteral("Export Slices"), reason}}));
    QVERIFY(!window->findChild<QProgressDialog *>()->isVisible());
    QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    files.sort();
    QCOMPARE(files, QStringList({QStringLiteral("model.slc"), QStringLiteral("model.stl")}));
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), kept);
}

void TestExportSlices::failedWriteSaysWhy_data()
{
    // Where the target lies, and the reason the box gives.
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing folder") << "missing folder"
                                    << "No such file or directory";
    QTest::newRow("read-only file") << "read-only file"
                                    << "Permission denied";
    QTest::newRow("read-only file system") << "read-only file system"
                                           << "Read-only file system";
    QTest::newRow("full disk") << "full disk"
                               << "No space left on device";
}

// An export that cannot write its file says why in its box, as the window's saves do, and leaves
// the file of that name as it was, with no temporary file beside it. The boxes are saved as
// pictures.
void TestExportSlices::failedWriteSaysWhy()
{
    QFETCH(QString, where);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString model = dir.filePath(QStringLiteral("cube.stl"));
    QVERIFY(batchtest::writeStl(model, cube10()));
    QString folder = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("out")));
    // The old file and three pages to spare; the layers of 0.01 take about 60 kB.
    std::unique_ptr<mounttest::SmallFileSystem> disk;
    if (where.endsWith(QLatin1String("file system")) || where == QLatin1String("full disk")) {
        disk = std::make_unique<mounttest::SmallFileSystem>(folder, 4 * ::sysconf(_SC_PAGESIZE));
        if (!disk->isMounted())
            QSKIP(mounttest::NoMountSkip);
    }
    const QByteArray kept("an earlier export");
    if (where == QLatin1String("missing folder"))
        folder = dir.filePath(QStringLiteral("missing"));
    else
        QVERIFY(batchtest::writeAll(folder + QStringLiteral("/cube.slc"), kept));
    const QString target = folder + QStringLiteral("/cube.slc");
    if (where == QLatin1String("read-only file"))
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    else if (where == QLatin1String("read-only file system"))
        QVERIFY(disk->makeReadOnly());
    const auto window = widgettest::mainWindowWith(model);

    Options options;
    options.thickness = QStringLiteral("0.01");
    const Messages messages = exportTo(window.get(), target, options, {}, [](QWidget *dialog) {
        if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
            QVERIFY(saveArtefact(box->grab().toImage(), rowPicture(QStringLiteral("exportslices-failure-"))));
            QCOMPARE(box->icon(), QMessageBox::Critical);
            ModalDialogAnswerer::click(QMessageBox::Ok)(box);
        }
    });
    QCOMPARE(messages, Messages({{QStringLiteral("Export Slices"),
                                  QStringLiteral("Unable to write \"cube.slc\" (%1).").arg(reason)}}));
    QCOMPARE(batchtest::readAll(target), where == QLatin1String("missing folder") ? QByteArray() : kept);
    QVERIFY(batchtest::temporaryFiles(folder).isEmpty());
    QVERIFY(!window->findChild<QProgressDialog *>()->isVisible());
}

void TestExportSlices::lossesAreToldAfterWriting_data()
{
    QTest::addColumn<QVector<geom::Facet>>("facets");
    QTest::addColumn<float>("lift"); // added to z by the model matrix
    QTest::addColumn<QString>("thickness");
    QTest::addColumn<QString>("advice");

    // A torus of 104 mm stored in metres, sliced at 1 mm: its tube is 24 layers high.
    QTest::newRow("model in metres") << meshtest::scaled(meshtest::Torus(2000, 40.0, 12.0).facets(), 0.001f)
                                     << 0.0f << "0.001"
                                     << "Scale it up in the transform panel.";
    QTest::newRow("model partly above the heights that can be sliced")
        << cube10() << 16380.0f << "0.1"
        << "Scale it down in the transform panel.";
}

// An export whose layers lost shape, layers or heights to the slicer's tolerances writes its file
// and then says what was lost and what to do; the box is saved as a picture.
void TestExportSlices::lossesAreToldAfterWriting()
{
    QFETCH(QVector<geom::Facet>, facets);
    QFETCH(float, lift);
    QFETCH(QString, thickness);
    QFETCH(QString, advice);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("model.slc"));
    const auto window = windowWithModel(dir, facets);
    QVERIFY(window);
    window->d->modelMatrix.translate(0, 0, lift);

    Options options;
    options.thickness = thickness;
    slctest::SlcFile written;
    const Messages messages = exportTo(window.get(), target, options, {}, [&](QWidget *dialog) {
        if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
            // Told once the file is in place.
            written = readSlcFile(target);
            QCOMPARE(box->icon(), QMessageBox::Warning);
            QVERIFY(saveArtefact(box->grab().toImage(), rowPicture(QStringLiteral("exportslices-losses-"))));
            ModalDialogAnswerer::click(QMessageBox::Ok)(box);
        }
    });
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().first, QStringLiteral("Export Slices"));
    const QString &text = messages.first().second;
    QVERIFY2(text.startsWith(QStringLiteral("The layers were written, but they are not true to the model: ")),
             qPrintable(text));
    QVERIFY2(text.endsWith(advice), qPrintable(text));
    QCOMPARE(written.error, QString());
    QVERIFY(!written.layers.isEmpty());
    QCOMPARE(readSlcFile(target).layers.size(), written.layers.size());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

int main(int argc, char *argv[])
{
    // Before any thread starts: the full and read-only file systems are mounted in a namespace of
    // the test's own.
    mounttest::enterPrivateMounts();
    return widgettest::windowTestMain<TestExportSlices>(argc, argv);
}

#include "tst_exportslices.moc"
