#include "app/colorsetting.h"
#include "app/colorwidget.h"
#include "app/mainwindow.h"
#include "mainwindowfixture.h"
#include "modaldialoganswerer.h"
#include "view/glwidget.h"

#include <QDockWidget>
#include <QFileOpenEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QToolBar>
#include <QTreeWidget>
#include <QUndoStack>
#include <QWindow>
#include <QtTest>

#include <memory>

using widgettest::ModalDialogAnswerer;

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void freshActionStates_data();
    void freshActionStates();
    void freshWindow();
    void toolTips_data();
    void toolTips();
    void colorSettingsRead_data();
    void colorSettingsRead();
    void colorSettingsWritten();
    void closeWritesExactlyTheViewKeysAndLayout();
    void restartRestoresLayoutFlagsAndRecentFiles();
    void undoShortcutWinsInDockFields();
    void fileOpenEventFindsAWindow();
    void dragEnter_data();
    void dragEnter();
    void informationPanel_data();
    void informationPanel();
    void screenshotOfTheEmptyWindow();
    void firstStartShowsEveryRowAndTheDockSplitterMoves();
    void newsModuleFoundOrMissing();
};

namespace {

QList<MainWindow *> mainWindows()
{
    QList<MainWindow *> result;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<MainWindow *>(widget))
            result.append(window);
    }
    return result;
}

template <class T>
T *child(QObject *parent, const char *name)
{
    T *found = parent->findChild<T *>(QLatin1String(name));
    if (!found)
        qWarning("no child %s", name);
    return found;
}

QTreeWidget *informationTree(QWidget *window)
{
    auto *browser = window->findChild<QWidget *>(QStringLiteral("informationPropertyBrowser"));
    return browser ? browser->findChild<QTreeWidget *>() : nullptr;
}

QStringList menuTexts(const QList<QAction *> &actions)
{
    QStringList texts;
    for (const QAction *action : actions)
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

QString writeFile(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        qWarning("cannot write %s", qPrintable(path));
    return QFileInfo(path).absoluteFilePath();
}

// An undo step that only counts.
class CountingCommand : public QUndoCommand
{
public:
    explicit CountingCommand(int *count)
        : m_count(count)
    {}
    void undo() override { --*m_count; }
    void redo() override { ++*m_count; }

private:
    int *m_count;
};

QString toolTip(const QString &image, const QString &title, const QString &statusTip)
{
    QString tip = QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" "
                                 "\"http://www.w3.org/TR/REC-html40/strict.dtd\">\n"
                                 "<html><head><meta name=\"qrichtext\" content=\"1\" /></head><body>");
    if (!image.isNull())
        tip += QStringLiteral("<img src=\"%1\" /> ").arg(image);
    tip += QStringLiteral("<b>%1</b>").arg(title);
    if (!statusTip.isEmpty())
        tip += QStringLiteral("<br />") + statusTip;
    return tip + QStringLiteral("</body></html>");
}

} // namespace

void TestMainWindow::init()
{
    QSettings().clear();
}

void TestMainWindow::cleanup()
{
    // Windows that the file-open event created.
    qDeleteAll(mainWindows());
}

void TestMainWindow::freshActionStates_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("checked");

    const struct
    {
        const char *name;
        bool enabled, visible, checked;
    } rows[] = {
        {"action_Open", true, true, false},
        {"action_Close", false, true, false},
        {"action_Save_As", false, true, false},
        {"action_Export_Slices", false, true, false},
        {"action_Quarn", false, true, false},
        {"action_Unquarn", false, false, false}, // a hidden action counts as disabled
        {"action_Ruler", false, true, false},
        {"action_Line_Rendering", true, true, false},
        {"action_Hidden_Line_Rendering", false, true, false},
        {"action_Wireframe_Rendering", true, true, false},
        {"action_X_Ray_Shading", true, true, false},
        {"action_Perspective", true, true, false},
        {"action_Show_Flipped_Facets", true, true, true},
        {"action_Show_Origin", true, true, false},
        {"action_Mouse_Wrap_Around", true, true, false},
        {"action_Information", true, true, true},
        {"action_News", true, true, false},
        {"action_Reset", true, true, false},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.name) << row.enabled << row.visible << row.checked;
}

void TestMainWindow::freshActionStates()
{
    QFETCH(QString, name);
    QFETCH(bool, enabled);
    QFETCH(bool, visible);
    QFETCH(bool, checked);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto *action = window.findChild<QAction *>(name);
    QVERIFY(action);
    QCOMPARE(action->isEnabled(), enabled);
    QCOMPARE(action->isVisible(), visible);
    QCOMPARE(action->isChecked(), checked);
}

void TestMainWindow::freshWindow()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.windowTitle(), QStringLiteral("Orvan Quarn (STL Compressor/Viewer)"));
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QVERIFY(!window.hasCurrentFile());
    QVERIFY(!window.isBusy());
    QVERIFY(child<QProgressBar>(&window, "progressBar")->isHidden());

    auto *view = child<GLWidget>(&window, "widget");
    QVERIFY(view);
    QCOMPARE(view->standardViewIndex(view->cameraOrientation()), 7); // isometric

    QCOMPARE(menuTexts(window.menuBar()->actions()),
             (QStringList{"&File", "&Edit", "&Options", "&View", "&Help"}));
    QCOMPARE(menuTexts(child<QMenu>(&window, "menu_View")->actions()),
             (QStringList{"Information", "Transform Panel", "-", "File", "Camera", "Clip", "Tools", "News",
                          "-", "&Reset"}));
    const QList<QAction *> viewEntries = child<QMenu>(&window, "menu_View")->actions();
    QVERIFY(!viewEntries.at(7)->isVisible()); // the news toolbar's toggle
    QCOMPARE(viewEntries.at(0)->statusTip(), QStringLiteral("Toggle Information panel"));
    QCOMPARE(viewEntries.at(4)->statusTip(), QStringLiteral("Toggle Camera toolbar"));

    const QList<QAction *> edit = child<QMenu>(&window, "menu_Edit")->actions();
    QCOMPARE(edit.size(), 2);
    QCOMPARE(edit.at(0)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Z")));
    QCOMPARE(edit.at(1)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+Z")));

    // Five hidden recent-file entries and a separator before Exit.
    const QStringList file = menuTexts(child<QMenu>(&window, "menu_File")->actions());
    QCOMPARE(file.mid(file.size() - 7), (QStringList{"", "", "", "", "", "-", "E&xit"}));
    for (QAction *action : child<QMenu>(&window, "menu_File")->actions().mid(file.size() - 7, 5))
        QVERIFY(!action->isVisible());

    // The information panel: empty values, rows collapsed, the clip slider at the top.
    auto *tree = informationTree(&window);
    QVERIFY(tree);
    QCOMPARE(tree->topLevelItemCount(), 7);
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = tree->topLevelItem(i);
        QVERIFY(!item->isExpanded());
        const auto *editor = qobject_cast<QLineEdit *>(tree->itemWidget(item, 1));
        QVERIFY(editor);
        QVERIFY2(editor->text().isEmpty(), qPrintable(item->text(0)));
    }
    auto *slider = child<QSlider>(&window, "clipSlider");
    QCOMPARE(slider->value(), slider->maximum());
    QCOMPARE(slider->maximum(), 1000000000);
}

void TestMainWindow::toolTips_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ampersand and dots removed")
        << "action_Open" << toolTip(":/resources/images/open.png", "Open", "Open a model");
    QTest::newRow("shared icon finds its first file")
        << "action_Unquarn"
        << toolTip(":/resources/images/quarn.png", "Unquarn", "Decompress the model to a new file");
    QTest::newRow("wide picture gets no image")
        << "action_News" << toolTip(QString(), "News", "Show the latest news or announcements from Orvan");
}

void TestMainWindow::toolTips()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    MainWindow window;
    QCOMPARE(window.findChild<QAction *>(name)->toolTip(), expected);
}

void TestMainWindow::colorSettingsRead_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QColor>("expected");
    const QColor def(1, 1, 1);
    QTest::newRow("absent") << QVariant() << def;
    QTest::newRow("opaque text") << QVariant(QStringLiteral("#ff102030")) << QColor(0x10, 0x20, 0x30);
    QTest::newRow("alpha text") << QVariant(QStringLiteral("#80000000")) << QColor(0, 0, 0, 128);
    QTest::newRow("colour value") << QVariant(QColor(1, 2, 3, 4)) << QColor(1, 2, 3, 4);
    QTest::newRow("upper case") << QVariant(QStringLiteral("#FF102030")) << def;
    QTest::newRow("six digits") << QVariant(QStringLiteral("#102030")) << def;
    QTest::newRow("nine digits") << QVariant(QStringLiteral("#ff1020304")) << def;
    QTest::newRow("colour name") << QVariant(QStringLiteral("blue")) << def;
    QTest::newRow("blank around") << QVariant(QStringLiteral(" #ff102030")) << def;
}

void TestMainWindow::colorSettingsRead()
{
    QFETCH(QVariant, stored);
    QFETCH(QColor, expected);
    QSettings settings;
    if (stored.isValid())
        settings.setValue(QStringLiteral("GLWidget/FillColor"), stored);
    QCOMPARE(readColorSetting(settings, QStringLiteral("GLWidget/FillColor"), QColor(1, 1, 1)), expected);
}

void TestMainWindow::colorSettingsWritten()
{
    {
        QSettings settings;
        writeColorSetting(settings, QStringLiteral("GLWidget/FillColor"), QColor(255, 170, 0));
        writeColorSetting(settings, QStringLiteral("GLWidget/EdgeColor"), QColor(0, 0, 0, 128));
        QCOMPARE(settings.value(QStringLiteral("GLWidget/FillColor")).toString(),
                 QStringLiteral("#ffffaa00"));
        QCOMPARE(settings.value(QStringLiteral("GLWidget/EdgeColor")).toString(),
                 QStringLiteral("#80000000"));
        QCOMPARE(readColorSetting(settings, QStringLiteral("GLWidget/EdgeColor"), Qt::white),
                 QColor(0, 0, 0, 128));
        settings.setValue(QStringLiteral("GLWidget/BackFillColor"), QStringLiteral("#FFFFAA00"));
    }
    // The window hands the stored colours to the preferences' swatches; a bad text gives the
    // view's default.
    MainWindow window;
    const auto swatchColor = [&window](const char *name) {
        return window.findChild<ColorWidget *>(QLatin1String(name))->currentColor();
    };
    QCOMPARE(swatchColor("fillColor"), QColor(255, 170, 0));
    QCOMPARE(swatchColor("backFillColor"), GLWidget::defaultBackFillColor);
    QCOMPARE(swatchColor("xRayFillColor"), GLWidget::defaultXRayFillColor);
}

void TestMainWindow::closeWritesExactlyTheViewKeysAndLayout()
{
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSettings().clear(); // whatever building the window stored is not the close's
        window.close();
    }
    QSettings settings;
    QStringList keys = settings.allKeys();
    keys.sort();
    // The export dialog, destroyed with the window, keeps its options too.
    QCOMPARE(keys, (QStringList{"ExportSlicesDialog/MergeContours", "ExportSlicesDialog/SliceThickness",
                                "ExportSlicesDialog/Units", "ExportSlicesDialog/WindingRule",
                                "GLWidget/BackFaceCulling", "GLWidget/HiddenLines", "GLWidget/Lines",
                                "GLWidget/MouseWrapAround", "GLWidget/MultiSampling", "GLWidget/Perspective",
                                "GLWidget/ShowOrigin", "GLWidget/Wireframe", "GLWidget/XRayShading",
                                "MainWindow/WindowState"}));
    QCOMPARE(settings.value(QStringLiteral("GLWidget/Lines")).toBool(), false);
}

void TestMainWindow::restartRestoresLayoutFlagsAndRecentFiles()
{
    QTemporaryDir dir;
    const QString first = writeFile(dir.filePath(QStringLiteral("R&D.stl")), 10);
    const QString second = writeFile(dir.filePath(QStringLiteral("b.stl")), 10);
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        child<QToolBar>(&window, "toolsToolBar")->toggleViewAction()->trigger();
        child<GLWidget>(&window, "widget")->setPerspective(true);
        window.setCurrentFile(first);
        window.setCurrentFile(second);
        window.setCurrentFile(first);
        QCOMPARE(window.windowTitle(), QStringLiteral("R&D.stl - Orvan Quarn (STL Compressor/Viewer)"));
        window.close();
    }
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(child<QToolBar>(&window, "toolsToolBar")->isHidden());
    QVERIFY(!child<QToolBar>(&window, "cameraToolBar")->isHidden());
    QVERIFY(child<QAction>(&window, "action_Perspective")->isChecked());
    QCOMPARE(window.windowTitle(), QStringLiteral("Orvan Quarn (STL Compressor/Viewer)"));

    auto *menu = child<QMenu>(&window, "menu_File");
    emit menu->aboutToShow();
    const QList<QAction *> entries = menu->actions();
    const int exit = entries.indexOf(child<QAction>(&window, "action_Exit"));
    const QList<QAction *> recent = entries.mid(exit - 6, 5);
    QCOMPARE(recent.at(0)->text(), QStringLiteral("&1 R&&D.stl"));
    QCOMPARE(recent.at(0)->data().toString(), first);
    QCOMPARE(recent.at(0)->statusTip(), QDir::toNativeSeparators(first));
    QCOMPARE(recent.at(1)->text(), QStringLiteral("&2 b.stl"));
    QVERIFY(recent.at(0)->isVisible() && recent.at(1)->isVisible());
    QVERIFY(!recent.at(2)->isVisible());
}

void TestMainWindow::undoShortcutWinsInDockFields()
{
    MainWindow window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    int steps = 0;
    auto *stack = child<QUndoStack>(&window, "undoStack");
    stack->push(new CountingCommand(&steps));
    QCOMPARE(steps, 1);

    auto *edit = child<QLineEdit>(&window, "translateXLineEdit");
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    QTest::keyClicks(edit, QStringLiteral("5"));
    const QString typed = edit->text();
    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(steps, 0);
    QCOMPARE(stack->index(), 0);
    QCOMPARE(edit->text(), typed); // the field's own undo did not run
}

void TestMainWindow::fileOpenEventFindsAWindow()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.stl"));
    const QString present = writeFile(dir.filePath(QStringLiteral("present.stl")), 10);
    const auto sendOpen = [&missing] {
        QFileOpenEvent event(missing);
        QCoreApplication::sendEvent(qApp, &event);
    };

    auto *withFile = new MainWindow;
    withFile->setCurrentFile(present);
    auto *empty = new MainWindow;
    {
        // The first window without a file gets it, even while hidden, and comes back.
        ModalDialogAnswerer answerer;
        sendOpen();
        QCOMPARE(mainWindows().size(), 2);
        QCOMPARE(answerer.seen().size(), 1);
        QCOMPARE(answerer.seen().at(0).parent.data(), empty);
        QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Open"));
        QVERIFY(answerer.seen().at(0).text.contains(QDir::toNativeSeparators(missing)));
        QVERIFY(empty->isVisible());
        QVERIFY(!withFile->isVisible());
    }
    {
        // A window busy with a file operation is skipped: a new window takes the file.
        child<QProgressBar>(empty, "progressBar")->show();
        QVERIFY(empty->isBusy());
        ModalDialogAnswerer answerer;
        sendOpen();
        QCOMPARE(mainWindows().size(), 3);
        QCOMPARE(answerer.seen().size(), 1);
        MainWindow *created = qobject_cast<MainWindow *>(answerer.seen().at(0).parent.data());
        QVERIFY(created && created != empty && created != withFile);
        QVERIFY(created->isVisible());
    }
}

void TestMainWindow::dragEnter_data()
{
    QTest::addColumn<bool>("withUrls");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("file urls") << true << true;
    QTest::newRow("plain text only") << false << false;
}

void TestMainWindow::dragEnter()
{
    QFETCH(bool, withUrls);
    QFETCH(bool, accepted);
    MainWindow window;
    QMimeData data;
    if (withUrls)
        data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/part.stl"))});
    else
        data.setText(QStringLiteral("/tmp/part.stl"));
    QDragEnterEvent event(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &event);
    QCOMPARE(event.isAccepted(), accepted);
}

void TestMainWindow::informationPanel_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("sizeText");
    QTest::newRow("empty file") << qint64(0) << "0 bytes";
    QTest::newRow("below a kilobyte") << qint64(1023) << "1023 bytes";
    QTest::newRow("shift truncates") << qint64(1536) << "1 KB";
    QTest::newRow("megabytes") << qint64(3 * 1024 * 1024 + 5) << "3 MB";
}

void TestMainWindow::informationPanel()
{
    QFETCH(qint64, size);
    QFETCH(QString, sizeText);
    QTemporaryDir dir;
    const QString path = writeFile(dir.filePath(QStringLiteral("part.stl")), size);
    MainWindow window;
    window.setLocale(QLocale::c());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.setCurrentFile(path);

    auto *tree = informationTree(&window);
    QCOMPARE(tree->columnCount(), 2);
    // The dock asks for the width of the columns.
    const QSize hint = window.findChild<QWidget *>(QStringLiteral("informationPropertyBrowser"))->sizeHint();
    QCOMPARE(hint.width(), tree->header()->length() + 2 * tree->frameWidth());
    QStringList labels;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        labels << tree->topLevelItem(i)->text(0);
    QCOMPARE(labels, (QStringList{"X", "Y", "Z", "Triangles", "Surface Area", "Volume", "File"}));
    QTreeWidgetItem *x = tree->topLevelItem(0);
    QCOMPARE(x->childCount(), 3);
    QCOMPARE(x->child(0)->text(0), QStringLiteral("Delta"));
    QCOMPARE(x->child(2)->text(0), QStringLiteral("Max"));

    QTreeWidgetItem *file = tree->topLevelItem(6);
    QCOMPARE(file->childCount(), 2);
    QCOMPARE(file->child(0)->text(0), QStringLiteral("Size"));
    QCOMPARE(file->child(1)->text(0), QStringLiteral("Date Modified"));
    const auto editorOf = [tree](QTreeWidgetItem *item) {
        return qobject_cast<QLineEdit *>(tree->itemWidget(item, 1));
    };
    QLineEdit *fileEditor = editorOf(file);
    QVERIFY(fileEditor);
    QCOMPARE(fileEditor->text(), QDir::toNativeSeparators(path));
    QCOMPARE(editorOf(file->child(0))->text(), sizeText);
    QVERIFY(!editorOf(file->child(1))->text().isEmpty());
    QVERIFY(editorOf(x)->text().isEmpty()); // no mesh, no measures

    // Read-only, but the text can be selected for copying.
    QVERIFY(fileEditor->isReadOnly());
    fileEditor->setFocus();
    fileEditor->selectAll();
    QCOMPARE(fileEditor->selectedText(), fileEditor->text());
    QTest::keyClicks(fileEditor, QStringLiteral("x"));
    QCOMPARE(fileEditor->text(), QDir::toNativeSeparators(path));

    window.setCurrentFile(QString());
    QVERIFY(fileEditor->text().isEmpty());
    QVERIFY(editorOf(file->child(0))->text().isEmpty());
}

void TestMainWindow::screenshotOfTheEmptyWindow()
{
    MainWindow window;
    window.resize(800, 560);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(300); // a few frames of the view
    const QPixmap shot = window.screen()->grabWindow(window.winId());
    QVERIFY(!shot.isNull());
    const QString path = QStringLiteral(QUARN_ARTEFACT_DIR "/mainwindow-empty.png");
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QVERIFY(shot.save(path));
    qInfo("screenshot written to %s", qPrintable(path));
}

// At the first start (no settings; the test's display is a 1280x1024 screen without a window
// manager) the information panel shows every entry, and the separator between the two docks
// trades height between them when dragged.
void TestMainWindow::firstStartShowsEveryRowAndTheDockSplitterMoves()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.screen()->availableGeometry().contains(window.frameGeometry()));
    QTreeWidget *tree = informationTree(&window);
    QCOMPARE(tree->topLevelItemCount(), 7);
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = tree->topLevelItem(i);
        QVERIFY2(tree->viewport()->rect().contains(tree->visualItemRect(item)), qPrintable(item->text(0)));
    }
    QTRY_VERIFY(!tree->verticalScrollBar()->isVisible());
    QVERIFY(!tree->horizontalScrollBar()->isVisible());
    QTest::qWait(300); // a few frames of the view
    const QString path = QStringLiteral(QUARN_ARTEFACT_DIR "/mainwindow-first-start.png");
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QVERIFY(window.screen()->grabWindow(window.winId()).save(path));
    qInfo("screenshot written to %s", qPrintable(path));

    // Dragged through the window system, as a user drags: up gives the transform panel the
    // height, down takes it back.
    auto *information = child<QDockWidget>(&window, "informationDockWidget");
    auto *transform = child<QDockWidget>(&window, "transformDockWidget");
    const int informationHeight = information->height();
    const int transformHeight = transform->height();
    const auto dragSeparator = [&](int dy) {
        const QPoint from(information->geometry().center().x(),
                          (information->geometry().bottom() + transform->geometry().top()) / 2);
        QWindow *handle = window.windowHandle();
        QTest::mouseMove(handle, from);
        QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, from);
        constexpr int steps = 8;
        for (int step = 1; step <= steps; ++step)
            QTest::mouseMove(handle, from + QPoint(0, dy * step / steps));
        QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, from + QPoint(0, dy));
    };
    const int distance = 60;
    dragSeparator(-distance);
    QTRY_COMPARE(information->height(), informationHeight - distance);
    QCOMPARE(transform->height(), transformHeight + distance);
    dragSeparator(distance);
    QTRY_COMPARE(information->height(), informationHeight);
    QCOMPARE(transform->height(), transformHeight);
}

// The window builds its news dialog from the module beside the program; without the module it
// works on, with the News action disabled.
void TestMainWindow::newsModuleFoundOrMissing()
{
    {
        MainWindow window;
        QVERIFY(widgettest::newsDialogOf(window));
        QVERIFY(window.findChild<QAction *>(QStringLiteral("action_News"))->isEnabled());
    }
    const QStringList paths = QCoreApplication::libraryPaths();
    QCoreApplication::setLibraryPaths({});
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^MainWindow: the news cannot be shown: ")));
    MainWindow window;
    QCoreApplication::setLibraryPaths(paths);
    QVERIFY(!widgettest::newsDialogOf(window));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.findChild<QAction *>(QStringLiteral("action_News"))->isEnabled());
}

int main(int argc, char *argv[])
{
    return widgettest::windowTestMain<TestMainWindow>(argc, argv);
}

#include "tst_mainwindow.moc"
