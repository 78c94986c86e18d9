#include "app/mainwindow.h"
#include "app/transformpanel.h"
#include "batchfixtures.h"
#include "framegrab.h"
#include "geom/formats/plystream.h"
#include "geom/formats/qrntestsupport.h"
#include "mainwindowfixture.h"
#include "meshbuilders.h"
#include "meshcheck.h"
#include "modaldialoganswerer.h"
#include "scratchmount.h"
#include "stltestdata.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTreeWidget>
#include <QtTest>

#include <csignal>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using widgettest::chooseFile;
using widgettest::chooseItem;
using widgettest::informationTree;
using widgettest::ModalDialogAnswerer;
using widgettest::panelTexts;

class TestMainWindowFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void openEachFormat_data();
    void openEachFormat();
    void panelFiguresAtEveryScale_data();
    void panelFiguresAtEveryScale();
    void recentFilesMenu();
    void refusedOpensKeepTheModel_data();
    void refusedOpensKeepTheModel();
    void damagedQrn_data();
    void damagedQrn();
    void saveEachFormatAndReopen_data();
    void saveEachFormatAndReopen();
    void quarnMakesTheQrnCurrent();
    void quarnAndUnquarnKeepTheirFormat_data();
    void quarnAndUnquarnKeepTheirFormat();
    void cancelledPlyFormatWritesNothing();
    void appendedSuffixAsksBeforeReplacing_data();
    void appendedSuffixAsksBeforeReplacing();
    void failedSaveKeepsTheTarget_data();
    void failedSaveKeepsTheTarget();
    void killedSaveLeavesNoTemporaryFile_data();
    void killedSaveLeavesNoTemporaryFile();
    void saveThroughLink();
    void closeClearsEverything();
    void clipSliderRange_data();
    void clipSliderRange();
    void flatPartKeepsItsBoundsForTheTransformPanel();
    void changedFileAsksToReload();
    void savingOverTheOpenFileAsksNothing();
    void dropOpensTheFirstFile();
    void longSaveStaysResponsiveAndIgnoresCtrlW();
};

namespace {

// A box from (-1.5, 0, 1) to (2.5, 2, 4): 12 triangles, area 52, volume 24.
QVector<geom::Facet> fixtureBox()
{
    return meshtest::box(geom::Vector3f(-1.5f, 0, 1), geom::Vector3f(2.5f, 2, 4));
}

bool writePly(const QString &path, const QVector<geom::Facet> &facets, geom::PlyStream::Format format)
{
    const std::unique_ptr<geom::StlMesh> mesh(meshtest::meshFrom(facets));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    geom::PlyStream stream(&file);
    stream.setFormat(geom::PlyStream::FormatSpec(format, "1.0"));
    return stream.saveMesh(mesh.get());
}

// Writes the fixture box in the format the row names; returns the file's path.
QString writeFixture(const QString &folder, const QString &kind)
{
    const QVector<geom::Facet> facets = fixtureBox();
    bool written = false;
    QString path;
    if (kind == QLatin1String("binary stl")) {
        path = folder + QStringLiteral("/part.stl");
        written = batchtest::writeStl(path, facets);
    } else if (kind == QLatin1String("ascii stl")) {
        path = folder + QStringLiteral("/part ascii.STL");
        written = batchtest::writeAll(path, stltest::asciiStl(facets));
    } else if (kind == QLatin1String("ascii ply")) {
        path = folder + QStringLiteral("/part.ply");
        written = writePly(path, facets, geom::PlyStream::Ascii);
    } else if (kind == QLatin1String("little-endian ply")) {
        path = folder + QStringLiteral("/part.ply");
        written = writePly(path, facets, geom::PlyStream::BinaryLittleEndian);
    } else if (kind == QLatin1String("big-endian ply")) {
        path = folder + QStringLiteral("/part.ply");
        written = writePly(path, facets, geom::PlyStream::BinaryBigEndian);
    } else if (kind == QLatin1String("qrn")) {
        path = folder + QStringLiteral("/part.qrn");
        written = batchtest::writeQrn(path, facets);
    }
    if (!written)
        qWarning("fixture %s not written", qPrintable(kind));
    return QFileInfo(path).absoluteFilePath();
}

QAction *action(QWidget *window, const char *name)
{
    return window->findChild<QAction *>(QLatin1String(name));
}

// The measures of a file read back with the project's readers, for round trips.
struct Measures
{
    int facets = 0;
    geom::Cuboid bounds;
    double volume = 0;
};

Measures measuresOf(const QString &path)
{
    Measures m;
    const std::unique_ptr<geom::StlMesh> mesh = batchtest::readMesh(path);
    if (!mesh) {
        qWarning("cannot read %s", qPrintable(path));
        return m;
    }
    const QString problem = meshtest::checkMesh(*mesh);
    if (!problem.isEmpty())
        qWarning("%s: %s", qPrintable(path), qPrintable(problem));
    m.facets = mesh->indices().size();
    m.bounds = mesh->bounds();
    m.volume = mesh->volume();
    return m;
}

} // namespace

void TestMainWindowFiles::init()
{
    QSettings().clear();
}

void TestMainWindowFiles::openEachFormat_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("compressed");
    for (const char *kind : {"binary stl", "ascii stl", "ascii ply", "little-endian ply", "big-endian ply"})
        QTest::newRow(kind) << QString::fromLatin1(kind) << false;
    QTest::newRow("qrn") << QStringLiteral("qrn") << true;
}

void TestMainWindowFiles::openEachFormat()
{
    QFETCH(QString, kind);
    QFETCH(bool, compressed);
    QTemporaryDir dir;
    const QString path = writeFixture(dir.path(), kind);
    const auto window = widgettest::shownMainWindow();
    const QString baseTitle = window->windowTitle();

    ModalDialogAnswerer answerer;
    window->openFile(path);
    QVERIFY2(answerer.seen().isEmpty(), qPrintable(answerer.seen().value(0).text));
    QVERIFY(window->hasCurrentFile());
    QVERIFY(!window->isBusy());
    QCOMPARE(window->windowTitle(), QFileInfo(path).fileName() + QStringLiteral(" - ") + baseTitle);

    const QMap<QString, QString> texts = panelTexts(window.get());
    QCOMPARE(texts.value("X"), QStringLiteral("4.000 [-1.500, 2.500]"));
    QCOMPARE(texts.value("X.Delta"), QStringLiteral("4.000"));
    QCOMPARE(texts.value("X.Min"), QStringLiteral("-1.500"));
    QCOMPARE(texts.value("X.Max"), QStringLiteral("2.500"));
    QCOMPARE(texts.value("Y"), QStringLiteral("2.000 [0.000, 2.000]"));
    QCOMPARE(texts.value("Z"), QStringLiteral("3.000 [1.000, 4.000]"));
    QCOMPARE(texts.value("Triangles"), QStringLiteral("12"));
    QCOMPARE(texts.value("Surface Area"), QStringLiteral("52.000"));
    QCOMPARE(texts.value("Volume"), QStringLiteral("24.000"));
    QCOMPARE(texts.value("File"), QDir::toNativeSeparators(path));
    const qint64 size = QFileInfo(path).size();
    QCOMPARE(texts.value("File.Size"),
             size < 1024 ? QStringLiteral("%1 bytes").arg(size) : QStringLiteral("%1 KB").arg(size >> 10));
    QCOMPARE(texts.value("File.Date Modified"),
             QLocale::c().toString(QFileInfo(path).lastModified(), QLocale::ShortFormat));

    QCOMPARE(action(window.get(), "action_Quarn")->isVisible(), !compressed);
    QCOMPARE(action(window.get(), "action_Quarn")->isEnabled(), !compressed);
    QCOMPARE(action(window.get(), "action_Unquarn")->isVisible(), compressed);
    QCOMPARE(action(window.get(), "action_Unquarn")->isEnabled(), compressed);
    QVERIFY(action(window.get(), "action_Close")->isEnabled());
    QVERIFY(action(window.get(), "action_Save_As")->isEnabled());
    QCOMPARE(QSettings().value("MainWindow/LastDirectory").toString(), QFileInfo(path).dir().path());
    QCOMPARE(QSettings().value("MainWindow/RecentFiles").toStringList(), QStringList{path});

    if (compressed) {
        // The window with a file open and its panel expanded, for a person to look at.
        auto *tree = informationTree(window.get());
        tree->expandAll();
        QTest::qWait(100); // the toolbars lay out their changed actions on later events
        QVERIFY(QDir().mkpath(QStringLiteral(QUARN_ARTEFACT_DIR)));
        const QString shot = QStringLiteral(QUARN_ARTEFACT_DIR "/mainwindow-open-qrn.png");
        auto *view = window->findChild<GLWidget *>();
        QVERIFY(view);
        QVERIFY(windowShot(*window, *view).save(shot));
        qInfo("screenshot written to %s", qPrintable(shot));
    }
}

// The panel gives a model in metres its figures as it gives one in millimetres.
void TestMainWindowFiles::panelFiguresAtEveryScale_data()
{
    QTest::addColumn<float>("scale");
    QTest::addColumn<QStringList>("texts"); // X, Y, Z, Surface Area, Volume
    QTest::newRow("millimetres") << 1.0f
                                 << QStringList{"4.000 [-1.500, 2.500]", "2.000 [0.000, 2.000]",
                                                "3.000 [1.000, 4.000]", "52.000", "24.000"};
    QTest::newRow("centimetres") << 0.1f
                                 << QStringList{"0.4000 [-0.1500, 0.2500]", "0.2000 [0.000, 0.2000]",
                                                "0.3000 [0.1000, 0.4000]", "0.5200", "0.02400"};
    QTest::newRow("metres") << 1e-3f
                            << QStringList{"0.004000 [-0.001500, 0.002500]", "0.002000 [0.000, 0.002000]",
                                           "0.003000 [0.001000, 0.004000]", "5.200e-05", "2.400e-08"};
    QTest::newRow("kilometres") << 1e-6f
                                << QStringList{"4.000e-06 [-1.500e-06, 2.500e-06]",
                                               "2.000e-06 [0.000, 2.000e-06]",
                                               "3.000e-06 [1.000e-06, 4.000e-06]", "5.200e-11", "2.400e-17"};
}

void TestMainWindowFiles::panelFiguresAtEveryScale()
{
    QFETCH(float, scale);
    QFETCH(QStringList, texts);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("part.stl"));
    QVERIFY(batchtest::writeStl(path, meshtest::scaled(fixtureBox(), scale)));
    const auto window = widgettest::mainWindowWith(path);
    QVERIFY(window->hasCurrentFile());
    const QMap<QString, QString> panel = panelTexts(window.get());
    const QStringList got{panel.value("X"), panel.value("Y"), panel.value("Z"), panel.value("Surface Area"),
                          panel.value("Volume")};
    QCOMPARE(got, texts);
    QCOMPARE(panel.value("X.Delta"), texts[0].section(' ', 0, 0));
    QCOMPARE(panel.value("X.Min"), texts[0].section('[', 1).section(',', 0, 0));
}

void TestMainWindowFiles::recentFilesMenu()
{
    QTemporaryDir dir;
    const auto window = widgettest::shownMainWindow();
    QStringList paths;
    for (const char *name : {"a.stl", "b.stl", "R&D.stl", "c.stl", "d.stl", "e.stl"}) {
        const QString path = dir.filePath(QLatin1String(name));
        QVERIFY(batchtest::writeStl(path, meshtest::tetrahedron()));
        paths << QFileInfo(path).absoluteFilePath();
    }
    // Six files: the oldest drops out; opening R&D.stl again moves it to the top.
    for (const QString &path : paths)
        window->openFile(path);
    window->openFile(paths.at(2));

    auto *menu = window->findChild<QMenu *>(QStringLiteral("menu_File"));
    QVERIFY(menu);
    QMetaObject::invokeMethod(menu, "aboutToShow");
    QCOMPARE(widgettest::recentEntries(menu),
             (QStringList{"&1 R&&D.stl", "&2 e.stl", "&3 d.stl", "&4 c.stl", "&5 b.stl"}));

    // A recent entry whose file went away is reported and leaves the menu at its next opening.
    QVERIFY(QFile::remove(paths.at(4)));
    QAction *gone = widgettest::visibleEntry(menu, QStringLiteral("&3 d.stl"));
    QVERIFY(gone);
    QCOMPARE(widgettest::dialogTitlesOnTrigger(gone), QStringList{QStringLiteral("Open")});
    QCOMPARE(QFileInfo(panelTexts(window.get()).value("File")).fileName(), QStringLiteral("R&D.stl"));
    QMetaObject::invokeMethod(menu, "aboutToShow");
    QCOMPARE(widgettest::recentEntries(menu),
             (QStringList{"&1 R&&D.stl", "&2 e.stl", "&3 c.stl", "&4 b.stl"}));
}

void TestMainWindowFiles::refusedOpensKeepTheModel_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("missing file") << QStringLiteral("missing.stl") << QStringLiteral("Open")
                                  << QStringLiteral("Unable to open \"%1\". File does not exist.");
    QTest::newRow("folder") << QStringLiteral("folder.stl") << QStringLiteral("Open")
                            << QStringLiteral("Unable to open \"%1\". It is a folder.");
    QTest::newRow("pipe") << QStringLiteral("pipe.stl") << QStringLiteral("Open")
                          << QStringLiteral(
                                 "Unable to open \"%1\". Not a regular file (a pipe, socket or device).");
    QTest::newRow("device") << QStringLiteral("zero.qrn") << QStringLiteral("Open")
                            << QStringLiteral(
                                   "Unable to open \"%1\". Not a regular file (a pipe, socket or device).");
    QTest::newRow("unreadable") << QStringLiteral("locked.stl") << QStringLiteral("Open")
                                << QStringLiteral("Unable to open \"%1\". Permission denied.");
    QTest::newRow("enciphered qrn")
        << QStringLiteral("sealed.qrn") << QStringLiteral("Open - Error")
        << QStringLiteral("Unable to open \"%1\" (Enciphered, cannot be read without its key).");
    QTest::newRow("ascii stl cut in a facet") << QStringLiteral("cut.stl") << QStringLiteral("Open - Error")
                                              << QStringLiteral("Unable to open \"%1\" (Incorrect format).");
    QTest::newRow("ascii stl with a misspelt line")
        << QStringLiteral("misspelt.stl") << QStringLiteral("Open - Error")
        << QStringLiteral("Unable to open \"%1\" (Incorrect format).");
    QTest::newRow("unsupported suffix")
        << QStringLiteral("part.stl.bak") << QStringLiteral("Open - Error")
        << QStringLiteral("Cannot open file with unsupported file extension.");
    QTest::newRow("not an stl") << QStringLiteral("short.stl") << QStringLiteral("Open - Error")
                                << QStringLiteral("Unable to open \"%1\" (Incorrect format).");
    QTest::newRow("not a ply") << QStringLiteral("text.ply") << QStringLiteral("Open - Error")
                               << QStringLiteral("Unable to open \"%1\" (Incorrect format).");
    QTest::newRow("not a qrn") << QStringLiteral("plain.qrn") << QStringLiteral("Open - Error")
                               << QStringLiteral("Unable to open \"%1\" (Incorrect format).");
}

void TestMainWindowFiles::refusedOpensKeepTheModel()
{
    QFETCH(QString, name);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QTemporaryDir dir;
    const QString model = writeFixture(dir.path(), QStringLiteral("binary stl"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.stl")));
    QVERIFY(
        batchtest::writeAll(dir.filePath(QStringLiteral("part.stl.bak")), stltest::asciiStl(fixtureBox())));
    QVERIFY(batchtest::writeAll(dir.filePath(QStringLiteral("short.stl")), QByteArray(40, 'x')));
    QVERIFY(batchtest::writeAll(dir.filePath(QStringLiteral("text.ply")), "not a polygon file\n"));
    QVERIFY(batchtest::writeAll(dir.filePath(QStringLiteral("plain.qrn")), "QRNX and nothing else"));
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe.stl"))).constData(), 0600), 0);
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), dir.filePath(QStringLiteral("zero.qrn"))));
    QVERIFY(batchtest::makeUnreadable(dir.filePath(QStringLiteral("locked.stl"))));
    QVERIFY(batchtest::writeEncipheredQrn(dir.filePath(QStringLiteral("sealed.qrn")), meshtest::unitCube(),
                                          "key"));
    const QByteArray cube = stltest::asciiStl(fixtureBox());
    QVERIFY(
        batchtest::writeAll(dir.filePath(QStringLiteral("cut.stl")), cube.left(cube.lastIndexOf("endloop"))));
    QVERIFY(batchtest::writeAll(dir.filePath(QStringLiteral("misspelt.stl")),
                                QByteArray(cube).replace(cube.lastIndexOf("vertex"), 6, "vertx ")));
    const auto window = widgettest::shownMainWindow();
    window->openFile(model);
    const QString title0 = window->windowTitle();
    const QMap<QString, QString> before = panelTexts(window.get());

    const QString path = dir.filePath(name);
    QImage box;
    ModalDialogAnswerer answerer({[&box](QWidget *dialog) {
        box = dialog->grab().toImage();
        ModalDialogAnswerer::click(QMessageBox::Ok)(dialog);
    }});
    window->openFile(path);
    QCOMPARE(answerer.seen().size(), 1);
    QCOMPARE(answerer.seen().at(0).title, title);
    // Refused before reading, with the whole path; a reader's failure names the file.
    const QString shownName = title == QLatin1String("Open") ? QDir::toNativeSeparators(path) : name;
    QCOMPARE(answerer.seen().at(0).text, text.contains(QLatin1String("%1")) ? text.arg(shownName) : text);
    QVERIFY(saveArtefact(box, rowPicture(QStringLiteral("open-refused-"))));
    QCOMPARE(window->windowTitle(), title0);
    QCOMPARE(panelTexts(window.get()), before);
    QVERIFY(!window->isBusy());
    QVERIFY(window->statusBar()->currentMessage().isEmpty());
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void TestMainWindowFiles::damagedQrn_data()
{
    QTest::addColumn<bool>("corrupted");
    QTest::newRow("facets naming missing vertices") << false;
    QTest::newRow("data after the end") << true;
}

void TestMainWindowFiles::damagedQrn()
{
    QFETCH(bool, corrupted);
    QTemporaryDir dir;
    const QString model = writeFixture(dir.path(), QStringLiteral("binary stl"));
    const QString path = dir.filePath(QStringLiteral("damaged.qrn"));
    int lost = 0;
    if (corrupted) {
        // Content after the file's last group is no clean end of the stream.
        QVERIFY(batchtest::writeQrn(path, meshtest::unitCube()));
        QVERIFY(batchtest::writeGzip(path, batchtest::readGzip(path) + QByteArray(16, '\x7f')));
    } else {
        // A tetrahedron whose strip's third triangle and two loose facets name vertex 9 of 4.
        const QVector<geom::Vector3f> tetra = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        qrntest::Content c;
        c.header(7).u16(0).vertexList(tetra).u16(1);
        c.i32(1).strip({1, 2, 0, 3, 9});
        c.i32(1).u32(9).i32(0).i32(1).i32(3).u16(7).i32(1).i32(-2).i32(3).u16(8).i32(4).i32(1).i32(2).u16(9);
        QVERIFY(batchtest::writeAll(path, qrntest::gzipMember(c.bytes())));
        lost = 3;
    }
    const auto window = widgettest::shownMainWindow();
    window->openFile(model);
    ModalDialogAnswerer answerer;
    window->openFile(path);
    QCOMPARE(answerer.seen().size(), 1);
    if (corrupted) {
        QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Open - Error"));
        QCOMPARE(answerer.seen().at(0).text,
                 QStringLiteral("Unable to open \"damaged.qrn\" (Corrupted data)."));
        QCOMPARE(panelTexts(window.get()).value("File"), QDir::toNativeSeparators(model));
    } else {
        QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Open"));
        QVERIFY2(answerer.seen().at(0).text.contains(QStringLiteral(" %1 facets").arg(lost)),
                 qPrintable(answerer.seen().at(0).text));
        QCOMPARE(panelTexts(window.get()).value("File"),
                 QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
        QCOMPARE(panelTexts(window.get()).value("Triangles"), QStringLiteral("3"));
    }
}

void TestMainWindowFiles::saveEachFormatAndReopen_data()
{
    // The name typed, the filter selected, the PLY format chosen when one is asked for, and the
    // file written.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("plyFormat");
    QTest::addColumn<QString>("saved");
    QTest::newRow("stl") << "saved.stl"
                         << "STL Files (*.stl)" << QString() << "saved.stl";
    QTest::newRow("qrn") << "saved.qrn"
                         << "Quarn Files (*.qrn)" << QString() << "saved.qrn";
    QTest::newRow("ply big-endian") << "saved.ply"
                                    << "Polygon Files (*.ply)"
                                    << "Binary Big Endian"
                                    << "saved.ply";
    QTest::newRow("ply little-endian") << "saved.ply"
                                       << "Polygon Files (*.ply)"
                                       << "Binary Little Endian"
                                       << "saved.ply";
    QTest::newRow("ply ascii") << "saved.ply"
                               << "Polygon Files (*.ply)"
                               << "Text Ascii"
                               << "saved.ply";
    // A suffix of ours decides the format, whatever filter is selected; without one the filter
    // decides and its suffix is added.
    QTest::newRow("qrn name, ply filter") << "typed.qrn"
                                          << "Polygon Files (*.ply)" << QString() << "typed.qrn";
    QTest::newRow("ply name, stl filter") << "typed.ply"
                                          << "STL Files (*.stl)"
                                          << "Text Ascii"
                                          << "typed.ply";
    QTest::newRow("capital STL name, qrn filter") << "TYPED.STL"
                                                  << "Quarn Files (*.qrn)" << QString() << "TYPED.STL";
    QTest::newRow("no suffix, qrn filter") << "typed"
                                           << "Quarn Files (*.qrn)" << QString() << "typed.qrn";
    QTest::newRow("other suffix, stl filter") << "typed.bak"
                                              << "STL Files (*.stl)" << QString() << "typed.bak.stl";
}

void TestMainWindowFiles::saveEachFormatAndReopen()
{
    QFETCH(QString, name);
    QFETCH(QString, filter);
    QFETCH(QString, plyFormat);
    QFETCH(QString, saved);
    QTemporaryDir dir;
    const QString source = writeFixture(dir.path(), QStringLiteral("ascii ply"));
    const QString typed = QFileInfo(dir.filePath(name)).absoluteFilePath();
    const QString path = QFileInfo(dir.filePath(saved)).absoluteFilePath();
    const auto window = widgettest::shownMainWindow();
    window->openFile(source);
    const QMap<QString, QString> before = panelTexts(window.get());
    const QString baseTitle = window->windowTitle().section(QStringLiteral(" - "), 1);
    {
        ModalDialogAnswerer answerer({chooseFile(typed, filter), chooseItem(plyFormat)});
        action(window.get(), "action_Save_As")->trigger();
        const QList<ModalDialogAnswerer::Seen> seen = answerer.seen();
        QCOMPARE(seen.size(), plyFormat.isEmpty() ? 1 : 2);
        if (!plyFormat.isEmpty()) {
            QCOMPARE(seen.at(1).className, QStringLiteral("QInputDialog"));
            QCOMPARE(seen.at(1).title, QStringLiteral("Save As"));
        }
    }
    QVERIFY(!window->isBusy());
    QVERIFY(window->statusBar()->currentMessage().isEmpty());
    QCOMPARE(window->windowTitle(), saved + QStringLiteral(" - ") + baseTitle);
    QCOMPARE(panelTexts(window.get()).value("File"), QDir::toNativeSeparators(path));
    QCOMPARE(QSettings().value("MainWindow/RecentFiles").toStringList(), (QStringList{path, source}));
    QVERIFY(batchtest::temporaryFiles(dir.path()).isEmpty());
    if (typed != path)
        QVERIFY(!QFileInfo::exists(typed));

    // The file holds the loaded coordinates, not the centred mesh.
    const Measures measures = measuresOf(path);
    QCOMPARE(measures.facets, 12);
    QCOMPARE(measures.bounds.min(), geom::Vector3f(-1.5f, 0, 1));
    QCOMPARE(measures.bounds.max(), geom::Vector3f(2.5f, 2, 4));
    QCOMPARE(measures.volume, 24.0);
    if (saved.endsWith(QLatin1String(".stl"), Qt::CaseInsensitive))
        QCOMPARE(stltest::records(batchtest::readAll(path)).size(), 12);

    // The program reads back what it wrote.
    window->openFile(path);
    QMap<QString, QString> after = panelTexts(window.get());
    for (const char *key : {"File", "File.Size", "File.Date Modified"}) {
        after.remove(key);
        QVERIFY(before.contains(key));
    }
    QMap<QString, QString> expected = before;
    for (const char *key : {"File", "File.Size", "File.Date Modified"})
        expected.remove(key);
    QCOMPARE(after, expected);
}

void TestMainWindowFiles::quarnMakesTheQrnCurrent()
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("part.final.stl"));
    QVERIFY(batchtest::writeStl(source, fixtureBox(), "carried header"));
    const QString target = QFileInfo(dir.filePath(QStringLiteral("part.qrn"))).absoluteFilePath();
    const auto window = widgettest::shownMainWindow();
    window->openFile(source);
    QString suggested;
    {
        ModalDialogAnswerer answerer({[&suggested, target](QWidget *dialog) {
            auto *files = qobject_cast<QFileDialog *>(dialog);
            QVERIFY(files);
            suggested = files->selectedFiles().value(0);
            chooseFile(target)(dialog);
        }});
        QVERIFY(action(window.get(), "action_Quarn")->isVisible());
        action(window.get(), "action_Quarn")->trigger();
    }
    QCOMPARE(suggested, target);
    QVERIFY(!action(window.get(), "action_Quarn")->isVisible());
    QVERIFY(action(window.get(), "action_Unquarn")->isVisible());
    QVERIFY(action(window.get(), "action_Unquarn")->isEnabled());
    QVERIFY(window->windowTitle().startsWith(QStringLiteral("part.qrn - ")));
    QCOMPARE(panelTexts(window.get()).value("File"), QDir::toNativeSeparators(target));
    QByteArray comment;
    const std::unique_ptr<geom::StlMesh> mesh = batchtest::readQrn(target, &comment);
    QVERIFY(mesh);
    QVERIFY(comment.startsWith("carried header"));
    QCOMPARE(mesh->indices().size(), 12);

    // And back: Unquarn writes binary STL under the suggested name.
    QVERIFY(QFile::remove(source));
    const QString back = QFileInfo(dir.filePath(QStringLiteral("part.stl"))).absoluteFilePath();
    {
        ModalDialogAnswerer answerer({chooseFile(back)});
        action(window.get(), "action_Unquarn")->trigger();
    }
    QCOMPARE(measuresOf(back).facets, 12);
    QVERIFY(action(window.get(), "action_Quarn")->isEnabled());
}

void TestMainWindowFiles::quarnAndUnquarnKeepTheirFormat_data()
{
    // The action, the name typed in its dialog and the file written.
    QTest::addColumn<QString>("actionName");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("saved");
    QTest::newRow("compress, stl name") << "action_Quarn"
                                        << "typed.stl"
                                        << "typed.stl.qrn";
    QTest::newRow("compress, ply name") << "action_Quarn"
                                        << "typed.ply"
                                        << "typed.ply.qrn";
    QTest::newRow("compress, no suffix") << "action_Quarn"
                                         << "typed"
                                         << "typed.qrn";
    QTest::newRow("compress, capital QRN") << "action_Quarn"
                                           << "TYPED.QRN"
                                           << "TYPED.QRN";
    QTest::newRow("decompress, qrn name") << "action_Unquarn"
                                          << "typed.qrn"
                                          << "typed.qrn.stl";
    QTest::newRow("decompress, no suffix") << "action_Unquarn"
                                           << "typed"
                                           << "typed.stl";
}

// Compress always writes compressed data and Decompress binary STL, each under a name with its
// own suffix, so that the program opens what it wrote; the name as typed is not written.
void TestMainWindowFiles::quarnAndUnquarnKeepTheirFormat()
{
    QFETCH(QString, actionName);
    QFETCH(QString, name);
    QFETCH(QString, saved);
    const bool compress = actionName == QLatin1String("action_Quarn");
    QTemporaryDir dir;
    const QString source =
        writeFixture(dir.path(), compress ? QStringLiteral("binary stl") : QStringLiteral("qrn"));
    const QString typed = QFileInfo(dir.filePath(name)).absoluteFilePath();
    const QString path = QFileInfo(dir.filePath(saved)).absoluteFilePath();
    const auto window = widgettest::shownMainWindow();
    window->openFile(source);
    {
        ModalDialogAnswerer answerer({chooseFile(typed)});
        action(window.get(), qPrintable(actionName))->trigger();
        QCOMPARE(answerer.seen().size(), 1);
    }
    if (typed != path)
        QVERIFY(!QFileInfo::exists(typed));
    QCOMPARE(panelTexts(window.get()).value("File"), QDir::toNativeSeparators(path));
    const std::unique_ptr<geom::StlMesh> mesh =
        compress ? batchtest::readQrn(path) : batchtest::readStl(path);
    QVERIFY(mesh);
    QCOMPARE(mesh->indices().size(), 12);
    {
        ModalDialogAnswerer answerer;
        window->openFile(path);
        QCOMPARE(answerer.seen().size(), 0);
    }
    QCOMPARE(panelTexts(window.get()).value("Triangles"), QStringLiteral("12"));
    QVERIFY(batchtest::temporaryFiles(dir.path()).isEmpty());
}

void TestMainWindowFiles::cancelledPlyFormatWritesNothing()
{
    QTemporaryDir dir;
    const QString source = writeFixture(dir.path(), QStringLiteral("binary stl"));
    const auto window = widgettest::shownMainWindow();
    window->openFile(source);
    const QString path = dir.filePath(QStringLiteral("never.ply"));
    {
        ModalDialogAnswerer answerer(
            {chooseFile(path, QStringLiteral("Polygon Files (*.ply)")), ModalDialogAnswerer::reject()});
        action(window.get(), "action_Save_As")->trigger();
        QCOMPARE(answerer.seen().size(), 2);
    }
    QVERIFY(!QFile::exists(path));
    QVERIFY(batchtest::temporaryFiles(dir.path()).isEmpty());
    QCOMPARE(panelTexts(window.get()).value("File"), QDir::toNativeSeparators(source));
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void TestMainWindowFiles::appendedSuffixAsksBeforeReplacing_data()
{
    // The save's action, the existing file that the typed name "other" gets as suffix, whether it
    // is read-only, the answer to the question, and what the box after the question says.
    QTest::addColumn<QString>("actionName");
    QTest::addColumn<QString>("existingName");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("failure");
    QTest::newRow("save as, no keeps the file") << "action_Save_As"
                                                << "other.stl" << false << int(QMessageBox::No) << QString();
    QTest::newRow("save as, yes replaces it") << "action_Save_As"
                                              << "other.stl" << false << int(QMessageBox::Yes) << QString();
    QTest::newRow("compress, no keeps the file") << "action_Quarn"
                                                 << "other.qrn" << false << int(QMessageBox::No) << QString();
    QTest::newRow("compress, yes replaces it") << "action_Quarn"
                                               << "other.qrn" << false << int(QMessageBox::Yes) << QString();
    // A file that will not be replaced is not offered: only the failure is told.
    QTest::newRow("read-only, not asked")
        << "action_Save_As"
        << "other.stl" << true << 0 << "Unable to save \"other.stl\" (Permission denied).";
}

// The file dialog asked about the name as typed; the name with the filter's or the action's
// suffix added is another file, and it is not replaced unasked.
void TestMainWindowFiles::appendedSuffixAsksBeforeReplacing()
{
    QFETCH(QString, actionName);
    QFETCH(QString, existingName);
    QFETCH(bool, readOnly);
    QFETCH(int, answer);
    QFETCH(QString, failure);
    QTemporaryDir dir;
    const QString source = writeFixture(dir.path(), QStringLiteral("binary stl"));
    const QString existing = dir.filePath(existingName);
    QVERIFY(batchtest::writeAll(existing, "keep me"));
    if (readOnly)
        QVERIFY(QFile::setPermissions(existing, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const auto window = widgettest::shownMainWindow();
    window->openFile(source);
    {
        const QString filter =
            actionName == QLatin1String("action_Save_As") ? QStringLiteral("STL Files (*.stl)") : QString();
        ModalDialogAnswerer answerer(
            {chooseFile(dir.filePath(QStringLiteral("other")), filter),
             ModalDialogAnswerer::click(answer ? QMessageBox::StandardButton(answer) : QMessageBox::Ok)});
        action(window.get(), qPrintable(actionName))->trigger();
        QCOMPARE(answerer.seen().size(), 2);
        QCOMPARE(answerer.seen().at(1).title, QStringLiteral("Save As"));
        QCOMPARE(answerer.seen().at(1).text,
                 failure.isNull()
                     ? QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(existingName)
                     : failure);
    }
    if (answer == QMessageBox::Yes) {
        QCOMPARE(measuresOf(existing).facets, 12);
        QCOMPARE(panelTexts(window.get()).value("File"),
                 QDir::toNativeSeparators(QFileInfo(existing).absoluteFilePath()));
    } else {
        QCOMPARE(batchtest::readAll(existing), QByteArray("keep me"));
        QCOMPARE(panelTexts(window.get()).value("File"), QDir::toNativeSeparators(source));
    }
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("other"))));
    QVERIFY(batchtest::temporaryFiles(dir.path()).isEmpty());
}

void TestMainWindowFiles::failedSaveKeepsTheTarget_data()
{
    // Where the target lies, its name, the filter and PLY format of the save, and the reason the
    // box and the status bar give.
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("plyFormat");
    QTest::addColumn<QString>("reason");
    const QString stl = QStringLiteral("STL Files (*.stl)");
    const QString qrn = QStringLiteral("Quarn Files (*.qrn)");
    const QString ply = QStringLiteral("Polygon Files (*.ply)");
    const QString readOnly = QStringLiteral("Permission denied");
    const QString full = QStringLiteral("No space left on device");
    QTest::newRow("read-only file, stl") << "read-only file"
                                         << "locked.stl" << stl << QString() << readOnly;
    QTest::newRow("read-only file, qrn") << "read-only file"
                                         << "locked.qrn" << qrn << QString() << readOnly;
    QTest::newRow("read-only file system") << "read-only file system"
                                           << "old.stl" << stl << QString() << "Read-only file system";
    QTest::newRow("full disk, stl") << "full disk"
                                    << "old.stl" << stl << QString() << full;
    QTest::newRow("full disk, qrn") << "full disk"
                                    << "old.qrn" << qrn << QString() << full;
    QTest::newRow("full disk, ply") << "full disk"
                                    << "old.ply" << ply << "Binary Little Endian" << full;
}

// A save that fails says why, in its box and on the status bar, and leaves the old file and the
// window's file as they were. The boxes are saved as pictures.
void TestMainWindowFiles::failedSaveKeepsTheTarget()
{
    QFETCH(QString, where);
    QFETCH(QString, name);
    QFETCH(QString, filter);
    QFETCH(QString, plyFormat);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("torus.stl"));
    QVERIFY(batchtest::writeStl(source, meshtest::Torus(20000).facets()));
    const QString folder = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("out")));
    // The old file and three pages to spare: far less than any format of the model takes.
    std::unique_ptr<mounttest::SmallFileSystem> disk;
    if (where != QLatin1String("read-only file")) {
        disk = std::make_unique<mounttest::SmallFileSystem>(folder, 4 * ::sysconf(_SC_PAGESIZE));
        if (!disk->isMounted())
            QSKIP(mounttest::NoMountSkip);
    }
    const QString target = QFileInfo(folder + QLatin1Char('/') + name).absoluteFilePath();
    QVERIFY(batchtest::writeAll(target, "keep me"));
    if (where == QLatin1String("read-only file"))
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    else if (where == QLatin1String("read-only file system"))
        QVERIFY(disk->makeReadOnly());
    const auto window = widgettest::shownMainWindow();
    window->openFile(source);
    const QString title = window->windowTitle();
    {
        QList<ModalDialogAnswerer::Answer> answers{chooseFile(target, filter)};
        if (!plyFormat.isEmpty())
            answers << chooseItem(plyFormat);
        const QString picture = rowPicture(QStringLiteral("save-failure-"));
        answers << [picture](QWidget *box) {
            if (!saveArtefact(box->grab().toImage(), picture))
                qWarning("picture %s not saved", qPrintable(picture));
            ModalDialogAnswerer::click(QMessageBox::Ok)(box);
        };
        ModalDialogAnswerer answerer(answers);
        action(window.get(), "action_Save_As")->trigger();
        const QList<ModalDialogAnswerer::Seen> seen = answerer.seen();
        QCOMPARE(seen.size(), answers.size());
        QCOMPARE(seen.last().title, QStringLiteral("Save As"));
        QCOMPARE(seen.last().text, QStringLiteral("Unable to save \"%1\" (%2).").arg(name, reason));
    }
    QCOMPARE(window->statusBar()->currentMessage(), reason);
    QCOMPARE(batchtest::readAll(target), QByteArray("keep me"));
    QVERIFY(batchtest::temporaryFiles(folder).isEmpty());
    QCOMPARE(window->windowTitle(), title);
    QCOMPARE(QSettings().value("MainWindow/RecentFiles").toStringList(), QStringList{source});
    QVERIFY(!window->isBusy());
}

namespace {

// Set in the child that killedSaveLeavesNoTemporaryFile starts: the folder of its files.
const char SaveChildVariable[] = "QUARN_MAINWINDOWFILES_SAVE_CHILD";

// The child's work: opens big.stl of the folder in a window and saves it as big.qrn, until the
// test kills it.
int saveInChild(const QString &folder)
{
    const auto window = widgettest::shownMainWindow();
    {
        ModalDialogAnswerer answerer;
        window->openFile(folder + QStringLiteral("/big.stl"));
    }
    ModalDialogAnswerer answerer(
        {chooseFile(folder + QStringLiteral("/big.qrn"), QStringLiteral("Quarn Files (*.qrn)"))});
    action(window.get(), "action_Save_As")->trigger();
    return 0;
}

} // namespace

void TestMainWindowFiles::killedSaveLeavesNoTemporaryFile_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

// A window process ended by a signal while it writes a save removes its temporary file; the old
// file stays. The window is this test program run again as a child.
void TestMainWindowFiles::killedSaveLeavesNoTemporaryFile()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    QVERIFY(batchtest::writeStl(dir.filePath(QStringLiteral("big.stl")), meshtest::Torus(400000).facets()));
    QVERIFY(batchtest::writeAll(dir.filePath(QStringLiteral("big.qrn")), "old"));
    const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(SaveChildVariable), dir.path());
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(child.waitForStarted());
    const bool writing = QTest::qWaitFor(
        [&] {
            return !batchtest::temporaryFiles(dir.path()).isEmpty() || child.state() == QProcess::NotRunning;
        },
        60000);
    QVERIFY2(writing && child.state() == QProcess::Running,
             qPrintable(QStringLiteral("the save was never under way: ") +
                        QString::fromLocal8Bit(child.readAll())));
    QCOMPARE(::kill(pid_t(child.processId()), signalNumber), 0);
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);
    QCOMPARE(batchtest::readAll(dir.filePath(QStringLiteral("big.qrn"))), QByteArray("old"));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 128 + signalNumber);
}

// Saving onto a symbolic link writes the file it leads to; the link stays and stays the current
// file.
void TestMainWindowFiles::saveThroughLink()
{
    QTemporaryDir dir;
    const QString source = writeFixture(dir.path(), QStringLiteral("binary stl"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("store")));
    const QString stored = dir.filePath(QStringLiteral("store/kept.qrn"));
    QVERIFY(batchtest::writeAll(stored, "old"));
    const QString link = QFileInfo(dir.filePath(QStringLiteral("linked.qrn"))).absoluteFilePath();
    QVERIFY(QFile::link(QStringLiteral("store/kept.qrn"), link));
    const auto window = widgettest::shownMainWindow();
    window->openFile(source);
    {
        ModalDialogAnswerer answerer({chooseFile(link, QStringLiteral("Quarn Files (*.qrn)"))});
        action(window.get(), "action_Save_As")->trigger();
        QCOMPARE(answerer.seen().size(), 1);
    }
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), QFileInfo(stored).absoluteFilePath());
    QCOMPARE(measuresOf(stored).facets, 12);
    QCOMPARE(panelTexts(window.get()).value("File"), QDir::toNativeSeparators(link));
    QVERIFY(batchtest::temporaryFiles(dir.path()).isEmpty());
    QVERIFY(batchtest::temporaryFiles(dir.filePath(QStringLiteral("store"))).isEmpty());
}

void TestMainWindowFiles::closeClearsEverything()
{
    QTemporaryDir dir;
    const auto window = widgettest::shownMainWindow();
    const QString baseTitle = window->windowTitle();
    window->openFile(writeFixture(dir.path(), QStringLiteral("qrn")));
    action(window.get(), "action_Close")->trigger();
    QVERIFY(!window->hasCurrentFile());
    QCOMPARE(window->windowTitle(), baseTitle);
    const QMap<QString, QString> texts = panelTexts(window.get());
    for (auto it = texts.begin(); it != texts.end(); ++it)
        QVERIFY2(it.value().isEmpty(), qPrintable(it.key()));
    QVERIFY(!action(window.get(), "action_Close")->isEnabled());
    QVERIFY(!action(window.get(), "action_Save_As")->isEnabled());
    QVERIFY(action(window.get(), "action_Quarn")->isVisible());
    QVERIFY(!action(window.get(), "action_Quarn")->isEnabled());
    QVERIFY(!action(window.get(), "action_Unquarn")->isVisible());
}

void TestMainWindowFiles::clipSliderRange_data()
{
    QTest::addColumn<double>("size");
    QTest::newRow("box") << 1.0;
    QTest::newRow("tiny part") << 1e-7;
    QTest::newRow("all in one point") << 0.0;
}

void TestMainWindowFiles::clipSliderRange()
{
    QFETCH(double, size);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("part.stl"));
    const float s = float(size);
    QVERIFY(
        batchtest::writeStl(path, meshtest::box(geom::Vector3f(0, 0, 0), geom::Vector3f(s, 2 * s, 3 * s))));
    const auto window = widgettest::shownMainWindow();
    auto *slider = window->findChild<QSlider *>(QStringLiteral("clipSlider"));
    QVERIFY(slider);
    const auto checkEmptyRange = [slider] {
        QCOMPARE(slider->minimum(), -1000000000);
        QCOMPARE(slider->maximum(), 1000000000);
        QCOMPARE(slider->value(), slider->maximum());
        QCOMPARE(slider->singleStep(), 0);
        QCOMPARE(slider->pageStep(), 0);
    };
    checkEmptyRange();
    {
        ModalDialogAnswerer answerer;
        window->openFile(path);
    }
    if (size == 0) {
        checkEmptyRange();
        return;
    }
    QVERIFY(window->hasCurrentFile());
    QCOMPARE(slider->value(), slider->maximum());
    QVERIFY(slider->maximum() > 0 && slider->maximum() <= 1000000000);
    QVERIFY(qAbs(slider->minimum() + slider->maximum()) <= 1);
    const qint64 range = qint64(slider->maximum()) - slider->minimum();
    QVERIFY(slider->singleStep() > 0 && slider->singleStep() <= range);
    QVERIFY(slider->pageStep() >= slider->singleStep() && slider->pageStep() <= range);
    if (size == 1.0) {
        // The z extent is 3 of a diameter of sqrt(14): one single step is 0.01 units.
        const double diameter = std::sqrt(14.0);
        QCOMPARE(slider->maximum(), int(std::trunc(3 / diameter * 1e9)));
        QCOMPARE(slider->singleStep(), int(std::trunc(0.02 / diameter * 1e9)));
    }
    action(window.get(), "action_Close")->trigger();
    checkEmptyRange();
}

void TestMainWindowFiles::flatPartKeepsItsBoundsForTheTransformPanel()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sheet.stl"));
    QVERIFY(batchtest::writeStl(path, meshtest::sheet(3, 2)));
    const std::unique_ptr<geom::StlMesh> mesh = batchtest::readStl(path);
    QVERIFY(mesh);
    const auto window = widgettest::shownMainWindow();
    window->openFile(path);
    const QMap<QString, QString> texts = panelTexts(window.get());
    QVERIFY(texts.value("X").isEmpty());
    QVERIFY(texts.value("Z.Max").isEmpty());
    QCOMPARE(texts.value("Triangles"), QString::number(mesh->indices().size()));
    auto *panel = window->findChild<TransformPanel *>();
    QVERIFY(panel);
    QCOMPARE(panel->boundsMinimum(), mesh->bounds().min());
    QCOMPARE(panel->boundsMaximum(), mesh->bounds().max());
    action(window.get(), "action_Close")->trigger();
    QCOMPARE(panel->boundsMinimum(), geom::Vector3f(0, 0, 0));
    QCOMPARE(panel->boundsMaximum(), geom::Vector3f(0, 0, 0));
}

void TestMainWindowFiles::changedFileAsksToReload()
{
    QTemporaryDir dir;
    const QString path = writeFixture(dir.path(), QStringLiteral("binary stl"));
    const auto window = widgettest::shownMainWindow();
    window->openFile(path);
    ModalDialogAnswerer answerer({ModalDialogAnswerer::click(QMessageBox::Yes)});
    QVERIFY(batchtest::writeStl(path, meshtest::tetrahedron()));
    QTRY_COMPARE(answerer.seen().size(), 1);
    QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Reload File?"));
    QCOMPARE(answerer.seen().at(0).text,
             QStringLiteral("File %1 has been modified.\nDo you want to reload it?")
                 .arg(QDir::toNativeSeparators(path)));
    QTRY_COMPARE(panelTexts(window.get()).value("Triangles"), QStringLiteral("4"));
    // Still watched after the reload.
    QVERIFY(batchtest::writeStl(path, fixtureBox()));
    QTRY_COMPARE(answerer.seen().size(), 2);
}

void TestMainWindowFiles::savingOverTheOpenFileAsksNothing()
{
    QTemporaryDir dir;
    const QString path = writeFixture(dir.path(), QStringLiteral("binary stl"));
    const auto window = widgettest::shownMainWindow();
    window->openFile(path);
    ModalDialogAnswerer answerer({chooseFile(path, QStringLiteral("STL Files (*.stl)"))});
    action(window.get(), "action_Save_As")->trigger();
    QTest::qWait(500);
    QCOMPARE(answerer.seen().size(), 1);
    QCOMPARE(measuresOf(path).facets, 12);
}

void TestMainWindowFiles::dropOpensTheFirstFile()
{
    QTemporaryDir dir;
    QList<QUrl> urls;
    for (const char *name : {"first.stl", "second.stl", "third.stl"}) {
        const QString path = dir.filePath(QLatin1String(name));
        QVERIFY(batchtest::writeStl(path, meshtest::tetrahedron()));
        urls << QUrl::fromLocalFile(path);
    }
    const auto window = widgettest::shownMainWindow();
    const auto drop = [&window](const QList<QUrl> &dropped) {
        QMimeData mime;
        mime.setUrls(dropped);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &event);
        QVERIFY(event.isAccepted());
    };
    ModalDialogAnswerer answerer;
    drop(urls);
    QTRY_VERIFY(window->hasCurrentFile());
    QCOMPARE(panelTexts(window.get()).value("File"), QDir::toNativeSeparators(urls.at(0).toLocalFile()));
    QCOMPARE(QSettings().value("MainWindow/RecentFiles").toStringList().size(), 1);

    // A URL that is no local file is an empty name, which does not exist.
    drop({QUrl(QStringLiteral("https://example.invalid/part.stl"))});
    QTRY_COMPARE(answerer.seen().size(), 1);
    QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Open"));
    QVERIFY(window->hasCurrentFile());
}

void TestMainWindowFiles::longSaveStaysResponsiveAndIgnoresCtrlW()
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("big.stl"));
    QVERIFY(batchtest::writeStl(source, meshtest::sheet(400, 400)));
    const auto window = widgettest::shownMainWindow();
    window->openFile(source);
    QVERIFY(window->hasCurrentFile());
    const QString target = QFileInfo(dir.filePath(QStringLiteral("big.ply"))).absoluteFilePath();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));

    // During the save: the bar shows, timers keep running, Ctrl+W does not close the model.
    int ticks = 0;
    bool sawBusy = false;
    bool closedWhileBusy = false;
    int activePresses = 0;
    QTimer ticker;
    ticker.setInterval(20);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        if (!window->isBusy())
            return;
        auto *bar = window->findChild<QProgressBar *>(QStringLiteral("progressBar"));
        sawBusy = sawBusy || (bar && bar->isVisible() && bar->maximum() == 1000);
        if (!window->isActiveWindow()) {
            // Without a window manager the closed dialogs hand nothing back.
            window->activateWindow();
            return;
        }
        ++activePresses;
        QTest::keyClick(window.get(), Qt::Key_W, Qt::ControlModifier);
        closedWhileBusy = closedWhileBusy || !window->hasCurrentFile();
    });
    ticker.start();
    {
        ModalDialogAnswerer answerer({chooseFile(target, QStringLiteral("Polygon Files (*.ply)")),
                                      chooseItem(QStringLiteral("Text Ascii"))});
        action(window.get(), "action_Save_As")->trigger();
    }
    ticker.stop();
    QVERIFY(sawBusy);
    QVERIFY(ticks > 2);
    QVERIFY(activePresses > 0);
    QVERIFY(!closedWhileBusy);
    QCOMPARE(panelTexts(window.get()).value("File"), QDir::toNativeSeparators(target));
    QCOMPARE(measuresOf(target).facets, 2 * 400 * 400);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    // Idle again: Ctrl+W closes.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_W, Qt::ControlModifier);
    QTRY_VERIFY(!window->hasCurrentFile());
}

int main(int argc, char *argv[])
{
    // Before any thread: the small file systems of the tests are mounted where only this process
    // sees them.
    mounttest::enterPrivateMounts();
    return widgettest::windowTestMain<TestMainWindowFiles>(argc, argv, []() -> std::optional<int> {
        if (!qEnvironmentVariableIsSet(SaveChildVariable))
            return std::nullopt;
        return saveInChild(qEnvironmentVariable(SaveChildVariable));
    });
}

#include "tst_mainwindowfiles.moc"
