#include "app/application.h"
#include "app/mainwindow.h"
#include "batchfixtures.h"
#include "geom/formats/plystream.h"
#include "geom/formats/qrntestsupport.h"
#include "meshbuilders.h"
#include "meshcheck.h"
#include "modaldialoganswerer.h"
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

#include <memory>

using widgettest::ModalDialogAnswerer;

class TestMainWindowFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void openEachFormat_data();
    void openEachFormat();
    void recentFilesMenu();
    void refusedOpensKeepTheModel_data();
    void refusedOpensKeepTheModel();
    void damagedQrn_data();
    void damagedQrn();
};

namespace {

// A box from (-1.5, 0, 1) to (2.5, 2, 4): 12 triangles, area 52, volume 24.
QVector<geom::Facet> fixtureBox()
{
    return meshtest::box(geom::Vector3f(-1.5f, 0, 1), geom::Vector3f(2.5f, 2, 4));
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
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
        written = writeBytes(path, stltest::asciiStl(facets));
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

QTreeWidget *informationTree(QWidget *window)
{
    auto *browser = window->findChild<QWidget *>(QStringLiteral("informationPropertyBrowser"));
    return browser ? browser->findChild<QTreeWidget *>() : nullptr;
}

// The information panel as "label=value" lines, children indented by their parent's label.
QMap<QString, QString> panelTexts(QWidget *window)
{
    QMap<QString, QString> texts;
    QTreeWidget *tree = informationTree(window);
    const auto valueOf = [tree](QTreeWidgetItem *item) {
        auto *editor = qobject_cast<QLineEdit *>(tree->itemWidget(item, 1));
        return editor ? editor->text() : item->text(1);
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = tree->topLevelItem(i);
        texts.insert(item->text(0), valueOf(item));
        for (int c = 0; c < item->childCount(); ++c)
            texts.insert(item->text(0) + QLatin1Char('.') + item->child(c)->text(0), valueOf(item->child(c)));
    }
    return texts;
}

QAction *action(QWidget *window, const char *name)
{
    return window->findChild<QAction *>(QLatin1String(name));
}

// Answers a file dialog with a name and, when given, a name filter.
[[maybe_unused]] ModalDialogAnswerer::Answer chooseFile(const QString &path,
                                                        const QString &filter = QString())
{
    return [path, filter](QWidget *dialog) {
        auto *files = qobject_cast<QFileDialog *>(dialog);
        if (!files) {
            qWarning("expected a file dialog, got %s", dialog->metaObject()->className());
            dialog->close();
            return;
        }
        files->setOption(QFileDialog::DontConfirmOverwrite);
        if (!filter.isEmpty())
            files->selectNameFilter(filter);
        files->selectFile(path);
        static_cast<QDialog *>(files)->accept();
    };
}

[[maybe_unused]] ModalDialogAnswerer::Answer chooseItem(const QString &item)
{
    return [item](QWidget *dialog) {
        auto *input = qobject_cast<QInputDialog *>(dialog);
        if (!input) {
            dialog->close();
            return;
        }
        input->setTextValue(item);
        static_cast<QDialog *>(input)->accept();
    };
}

std::unique_ptr<MainWindow> shownWindow()
{
    auto window = std::make_unique<MainWindow>();
    window->setLocale(QLocale::c());
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qWarning("window not exposed");
    return window;
}

// The measures of a file read back with the project's readers, for round trips.
struct Measures
{
    int facets = 0;
    geom::Cuboid bounds;
    double volume = 0;
};

[[maybe_unused]] Measures measuresOf(const QString &path)
{
    Measures m;
    std::unique_ptr<geom::StlMesh> mesh;
    if (path.endsWith(QLatin1String(".qrn"))) {
        mesh = batchtest::readQrn(path);
    } else if (path.endsWith(QLatin1String(".ply"))) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            geom::PlyStream stream(&file);
            mesh = std::make_unique<geom::StlMesh>();
            if (!stream.processHeader() || !stream.loadMesh(mesh.get()))
                mesh.reset();
        }
    } else {
        mesh = batchtest::readStl(path);
    }
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
    const auto window = shownWindow();
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
}

void TestMainWindowFiles::recentFilesMenu()
{
    QTemporaryDir dir;
    const auto window = shownWindow();
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

    const QRegularExpression recentEntry(QStringLiteral("^&[1-5] "));
    auto *menu = window->findChild<QMenu *>(QStringLiteral("menu_File"));
    QVERIFY(menu);
    QMetaObject::invokeMethod(menu, "aboutToShow");
    QStringList texts;
    for (QAction *entry : menu->actions()) {
        if (entry->isVisible() && recentEntry.match(entry->text()).hasMatch())
            texts << entry->text();
    }
    QCOMPARE(texts, (QStringList{"&1 R&&D.stl", "&2 e.stl", "&3 d.stl", "&4 c.stl", "&5 b.stl"}));

    // A recent entry whose file went away is reported and leaves the menu at its next opening.
    QVERIFY(QFile::remove(paths.at(4)));
    QAction *gone = nullptr;
    for (QAction *entry : menu->actions()) {
        if (entry->text() == QLatin1String("&3 d.stl"))
            gone = entry;
    }
    QVERIFY(gone);
    {
        ModalDialogAnswerer answerer;
        gone->trigger();
        QCOMPARE(answerer.seen().size(), 1);
        QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Open"));
    }
    QCOMPARE(QFileInfo(panelTexts(window.get()).value("File")).fileName(), QStringLiteral("R&D.stl"));
    QMetaObject::invokeMethod(menu, "aboutToShow");
    texts.clear();
    for (QAction *entry : menu->actions()) {
        if (entry->isVisible() && recentEntry.match(entry->text()).hasMatch())
            texts << entry->text();
    }
    QCOMPARE(texts, (QStringList{"&1 R&&D.stl", "&2 e.stl", "&3 c.stl", "&4 b.stl"}));
}

void TestMainWindowFiles::refusedOpensKeepTheModel_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("missing file") << QStringLiteral("missing.stl") << QStringLiteral("Open")
                                  << QStringLiteral("Unable to open \"%1\". File does not exist.");
    QTest::newRow("folder") << QStringLiteral("folder.stl") << QStringLiteral("Open")
                            << QStringLiteral("Unable to open \"%1\". File does not exist.");
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
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("part.stl.bak")), stltest::asciiStl(fixtureBox())));
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("short.stl")), QByteArray(40, 'x')));
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("text.ply")), "not a polygon file\n"));
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("plain.qrn")), "QRNX and nothing else"));
    const auto window = shownWindow();
    window->openFile(model);
    const QString title0 = window->windowTitle();
    const QMap<QString, QString> before = panelTexts(window.get());

    const QString path = dir.filePath(name);
    ModalDialogAnswerer answerer;
    window->openFile(path);
    QCOMPARE(answerer.seen().size(), 1);
    QCOMPARE(answerer.seen().at(0).title, title);
    const QString shownName = text.contains(QLatin1String("exist")) ? QDir::toNativeSeparators(path) : name;
    QCOMPARE(answerer.seen().at(0).text, text.contains(QLatin1String("%1")) ? text.arg(shownName) : text);
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
        QVERIFY(writeBytes(path, qrntest::gzipMember(c.bytes())));
        lost = 3;
    }
    const auto window = shownWindow();
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

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvan"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarn"));
    Application app(argc, argv);
    MainWindow::dropCommandLineFile();
    TestMainWindowFiles test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindowfiles.moc"
