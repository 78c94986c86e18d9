// The whole program as a user meets it: one road from a fresh start to a second start, through
// the window's menus, toolbars, panels and dialogs and through the batch program, on a model
// generated here. Every stage saves screenshots under the artefact folder and checks the files it
// wrote. The stages run in order and share the window.
#include "app/application.h"
#include "app/changelogdialog.h"
#include "app/colorwidget.h"
#include "app/exportslicesdialog.h"
#include "app/licensedialog.h"
#include "app/mainwindow.h"
#include "app/newsdialog.h"
#include "app/preferencesdialog.h"
#include "app/transformpanel.h"
#include "app/translatetoorigindialog.h"
#include "batchfixtures.h"
#include "common/framegrab.h"
#include "mainwindowfixture.h"
#include "meshbuilders.h"
#include "meshcheck.h"
#include "modaldialoganswerer.h"
#include "pageserver.h"
#include "slcreader.h"
#include "stltestdata.h"
#include "view/glwidget.h"
#include "x11windows.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <cmath>
#include <memory>

using widgettest::chooseFile;
using widgettest::chooseItem;
using widgettest::clickAt;
using widgettest::ModalDialogAnswerer;
using widgettest::PageServer;
using widgettest::panelTexts;
using widgettest::retype;
using widgettest::sendMouse;

namespace {

// The model: a torus of 3976 facets around (10, -5, 8), major radius 20, minor radius 8, so that
// it rests on z = 0 with its top ridge at z = 16.
const geom::Vector3f modelShift(10, -5, 8);
constexpr double majorRadius = 20;
constexpr double minorRadius = 8;

QVector<geom::Facet> modelFacets()
{
    QVector<geom::Facet> facets = meshtest::Torus(4000, majorRadius, minorRadius).facets();
    for (geom::Facet &f : facets) {
        for (geom::Vector3f &v : f.vertex)
            v = v + modelShift;
    }
    return facets;
}

// How long a subprocess or a window of one may take, in milliseconds.
constexpr int processTimeoutMs = 60000;

// The numbers of a panel text such as "56.000 [-18.000, 38.000]".
QVector<double> numbersOf(const QString &text)
{
    QVector<double> numbers;
    static const QRegularExpression number(QStringLiteral("-?\\d+(\\.\\d+)?"));
    QRegularExpressionMatchIterator it = number.globalMatch(QString(text).remove(QLatin1Char(',')));
    while (it.hasNext())
        numbers << it.next().captured(0).toDouble();
    return numbers;
}

// Empty when the figures of both panels agree within tolerance (file rows left out), else the
// first row that differs.
QString compareFigures(const QMap<QString, QString> &actual, const QMap<QString, QString> &expected,
                       double tolerance)
{
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (it.key().startsWith(QLatin1String("File")))
            continue;
        const QVector<double> a = numbersOf(actual.value(it.key()));
        const QVector<double> e = numbersOf(it.value());
        bool same = a.size() == e.size();
        for (int i = 0; same && i < a.size(); ++i)
            same = std::fabs(a[i] - e[i]) <= tolerance * qMax(1.0, std::fabs(e[i]));
        if (!same)
            return QStringLiteral("%1: \"%2\", expected \"%3\"")
                .arg(it.key(), actual.value(it.key()), it.value());
    }
    return QString();
}

// The extent of an axis ("X", "Y", "Z") as the panel shows it.
double extentOf(const QMap<QString, QString> &texts, const QString &axis)
{
    return numbersOf(texts.value(axis + QStringLiteral(".Delta"))).value(0, -1);
}

// Differing pixels of two images of one size, in per cent.
double differingPercent(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 100;
    qint64 differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            differing +=
                qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q)) > 30;
        }
    }
    return 100.0 * differing / (qint64(a.width()) * a.height());
}

// A run of the built program; the environment keeps it off the test's settings and news server.
struct ProgramRun
{
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    QTemporaryDir home;

    void start(const QString &folder, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
        environment.insert(QStringLiteral("QUARN_NEWS_BASE_URL"), QStringLiteral("http://127.0.0.1:9"));
        process->setProcessEnvironment(environment);
        process->setWorkingDirectory(folder);
        process->start(QStringLiteral(QUARN_EXECUTABLE), arguments);
    }

    // The program's viewable window whose title is title, or 0 when none shows within the time.
    unsigned long waitForWindow(const QString &title)
    {
        QDeadlineTimer deadline(processTimeoutMs);
        while (!deadline.hasExpired() && process->state() != QProcess::NotRunning) {
            for (const x11test::TopLevel &window : x11test::windowsOf(process->processId())) {
                if (window.title == title)
                    return window.id;
            }
            QTest::qWait(50);
        }
        return 0;
    }

    // Screenshots of the program's viewable windows, bottom to top.
    QList<QImage> grabWindows() const
    {
        QList<QImage> shots;
        for (const x11test::TopLevel &window : x11test::windowsOf(process->processId()))
            shots << QGuiApplication::primaryScreen()->grabWindow(WId(window.id)).toImage();
        return shots;
    }

    // The exit code, or -1 when the program crashed or did not end within the time.
    int finish()
    {
        if (!process->waitForFinished(processTimeoutMs)) {
            process->kill();
            process->waitForFinished();
            return -1;
        }
        return process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    }
};

// All screenshots of the program's windows side by side on one image.
QImage sideBySide(const QList<QImage> &images)
{
    int width = 0;
    int height = 0;
    for (const QImage &image : images) {
        width += image.width() + 8;
        height = qMax(height, image.height());
    }
    QImage sheet(qMax(width, 1), qMax(height, 1), QImage::Format_RGB32);
    sheet.fill(Qt::darkGray);
    QPainter painter(&sheet);
    int x = 0;
    for (const QImage &image : images) {
        painter.drawImage(x, 0, image);
        x += image.width() + 8;
    }
    return sheet;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void startsEmptyWithFreshSettings();
    void commandLineOpensTheFile();
    void openThroughTheFileDialog();
    void viewModesCameraClipRulerAndHover();
    void transformsThroughThePanelWithUndo();
    void saveInEachFormatAndReopen();
    void quarnUnquarnAndTheBatch();
    void exportSlicesAndCancel();
    void preferencesAboutChangeLogAndNews();
    void closeAndStartAgain();

private:
    GLWidget *view() const { return m_window->findChild<GLWidget *>(QStringLiteral("widget")); }
    QAction *action(const char *name) const { return m_window->findChild<QAction *>(QLatin1String(name)); }
    template <typename T>
    T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    // Clicks the button that shows the action on the named toolbar, as a user does.
    void clickToolButton(const char *toolBar, const char *actionName);
    // Waits until the view's camera has come to rest and the window shows it; false when it does
    // not within the time.
    bool settled();
    // The view's frame once the camera has settled; null when it does not.
    QImage frame();
    // The window as on the screen once the camera has settled: its widgets with the view's own
    // frame painted over the view; null when it does not settle.
    QImage windowShot();
    void saveShot(const QImage &image, const QString &name);
    void click(const QPoint &position, Qt::MouseButton button = Qt::LeftButton);
    // Opens the file through File > Open, the dialog answered with its name.
    void openThroughDialog(const QString &path);
    // Saves through File > Save As with the filter (and the PLY format when given).
    void saveAs(const QString &path, const QString &filter, const QString &plyFormat = QString());

    QTemporaryDir m_dir;
    std::unique_ptr<MainWindow> m_window;
    PageServer m_newsServer;
    QString m_baseTitle;
    QString m_modelPath;
    // The panel as the transformed model showed it, and the files the road wrote.
    QMap<QString, QString> m_shownFigures;
    QString m_savedStl;
};

void TestEndToEnd::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings().clear();
    // The news server: its first page is no announcement, so the check at start-up stays silent.
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    QVERIFY(m_newsServer.listen(QHostAddress::LocalHost));
    m_newsServer.page = "<html><body><p>Nothing new.</p></body></html>";
    qputenv("QUARN_NEWS_BASE_URL",
            QByteArray("http://127.0.0.1:") + QByteArray::number(m_newsServer.serverPort()));
    m_modelPath = m_dir.filePath(QStringLiteral("torus.stl"));
    QVERIFY(batchtest::writeStl(m_modelPath, modelFacets(), "end-to-end torus"));
}

void TestEndToEnd::cleanupTestCase()
{
    m_window.reset();
}

void TestEndToEnd::clickToolButton(const char *toolBar, const char *actionName)
{
    auto *bar = child<QToolBar>(toolBar);
    QVERIFY2(bar, toolBar);
    QAction *a = action(actionName);
    QVERIFY2(bar->actions().contains(a), actionName);
    // A toolbar lays out an action made visible on a later event.
    QTRY_VERIFY2(bar->widgetForAction(a) && bar->widgetForAction(a)->isVisible(), actionName);
    auto *button = qobject_cast<QToolButton *>(bar->widgetForAction(a));
    QVERIFY2(button && button->isEnabled(), actionName);
    QTest::mouseClick(button, Qt::LeftButton);
}

bool TestEndToEnd::settled()
{
    return QTest::qWaitFor([this] { return view()->isSettled(); }, processTimeoutMs);
}

QImage TestEndToEnd::frame()
{
    if (!settled())
        return QImage();
    return grabFrame(*view()).convertToFormat(QImage::Format_RGB32);
}

QImage TestEndToEnd::windowShot()
{
    QTest::qWait(50); // the toolbars and the panel lay out their changes on later events
    if (!settled())
        return QImage();
    return ::windowShot(*m_window, *view());
}

void TestEndToEnd::saveShot(const QImage &image, const QString &name)
{
    QVERIFY2(!image.isNull(), qPrintable(name));
    QVERIFY2(saveArtefact(image, name), qPrintable(name));
}

void TestEndToEnd::click(const QPoint &position, Qt::MouseButton button)
{
    // At a person's pace: the point under the pointer is read from the depth of the frame on the
    // screen, which is drawn a moment after each change.
    QTest::qWait(100);
    clickAt(view(), position, button);
}

void TestEndToEnd::openThroughDialog(const QString &path)
{
    // The toolbar's Open is the File menu's.
    QVERIFY(child<QMenu>("menu_File")->actions().contains(action("action_Open")));
    ModalDialogAnswerer answerer({chooseFile(path)});
    clickToolButton("fileToolBar", "action_Open");
    QCOMPARE(answerer.seen().size(), 1);
    QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Open"));
    QVERIFY(!m_window->isBusy());
}

void TestEndToEnd::saveAs(const QString &path, const QString &filter, const QString &plyFormat)
{
    ModalDialogAnswerer answerer({chooseFile(path, filter), chooseItem(plyFormat)});
    action("action_Save_As")->trigger();
    QCOMPARE(answerer.seen().size(), plyFormat.isEmpty() ? 1 : 2);
    QVERIFY(!m_window->isBusy());
    QCOMPARE(m_window->windowTitle(), QFileInfo(path).fileName() + QStringLiteral(" - ") + m_baseTitle);
    QVERIFY(batchtest::temporaryFiles(m_dir.path()).isEmpty());
}

// 1. A first start: the empty window, its title, the empty view and panel, what cannot be done
// yet.
void TestEndToEnd::startsEmptyWithFreshSettings()
{
    m_window = widgettest::shownMainWindow(QSize(1100, 760));
    m_baseTitle = m_window->windowTitle();
    QCOMPARE(m_baseTitle, QStringLiteral("Orvan Quarn (STL Compressor/Viewer)"));
    QVERIFY(!m_window->hasCurrentFile());

    const QMap<QString, QString> texts = panelTexts(m_window.get());
    QVERIFY(texts.contains(QStringLiteral("Triangles")));
    for (auto it = texts.begin(); it != texts.end(); ++it)
        QVERIFY2(it.value().isEmpty(), qPrintable(it.key()));
    for (const char *name :
         {"action_Close", "action_Save_As", "action_Export_Slices", "action_Quarn", "action_Ruler"})
        QVERIFY2(!action(name)->isEnabled(), name);
    QVERIFY(action("action_Quarn")->isVisible());
    QVERIFY(!action("action_Unquarn")->isVisible());
    QVERIFY(action("action_Open")->isEnabled());
    QVERIFY(!child<QMenu>("menu_Edit")->actions().at(0)->isEnabled());

    // The empty view is the background alone: a vertical gradient, so every row is one colour.
    const QImage empty = frame();
    QVERIFY(!empty.isNull());
    for (int y : {empty.height() / 4, empty.height() / 2, 3 * empty.height() / 4}) {
        const QRgb left = empty.pixel(1, y);
        for (int x = 0; x < empty.width(); x += 7)
            QVERIFY2(qAbs(qGray(empty.pixel(x, y)) - qGray(left)) <= 2,
                     qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
    }
    saveShot(windowShot(), QStringLiteral("01-empty-window"));
}

// 1. "quarn FILE" opens the file once its window shows.
void TestEndToEnd::commandLineOpensTheFile()
{
    ProgramRun run;
    run.start(m_dir.path(), {QFileInfo(m_modelPath).fileName()});
    const QString title = QFileInfo(m_modelPath).fileName() + QStringLiteral(" - ") + m_baseTitle;
    const unsigned long window = run.waitForWindow(title);
    QVERIFY2(window != 0, qPrintable(QString::fromLocal8Bit(run.process->readAllStandardError())));
    QTest::qWait(500); // the first frames
    saveShot(sideBySide(run.grabWindows()), QStringLiteral("01-command-line"));
    QVERIFY(x11test::requestClose(window));
    QCOMPARE(run.finish(), 0);
}

// 2. File > Open: progress, the model on screen, the title and the panel's figures; a file that
// does not read keeps the model.
void TestEndToEnd::openThroughTheFileDialog()
{
    const QImage empty = frame();
    // The progress bar shows during the load (it is shown synchronously by the busy filter).
    auto *bar = child<QProgressBar>("progressBar");
    int progressShown = 0;
    struct ShowCounter : QObject
    {
        int *count;
        explicit ShowCounter(int *c)
            : count(c)
        {}
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::Show)
                ++*count;
            return QObject::eventFilter(watched, event);
        }
    } counter(&progressShown);
    bar->installEventFilter(&counter);
    QSignalSpy statusMessages(m_window->statusBar(), &QStatusBar::messageChanged);
    openThroughDialog(m_modelPath);
    bar->removeEventFilter(&counter);

    QCOMPARE(progressShown, 1);
    QVERIFY(bar->isHidden());
    QStringList messages;
    for (const QList<QVariant> &message : statusMessages)
        messages << message.at(0).toString();
    QVERIFY2(messages.contains(QStringLiteral("Loading from Stereolithography file...")),
             qPrintable(messages.join('|')));
    QVERIFY(m_window->statusBar()->currentMessage().isEmpty());
    QVERIFY(QApplication::overrideCursor() == nullptr);

    QCOMPARE(m_window->windowTitle(), QStringLiteral("torus.stl - ") + m_baseTitle);
    const std::unique_ptr<geom::StlMesh> mesh(meshtest::meshFrom(modelFacets()));
    QUARN_CHECK_MESH(*mesh);
    const QMap<QString, QString> texts = panelTexts(m_window.get());
    QMap<QString, QString> expected;
    const geom::Vector3f low = mesh->bounds().min();
    const geom::Vector3f high = mesh->bounds().max();
    const float lows[] = {low.x, low.y, low.z};
    const float highs[] = {high.x, high.y, high.z};
    const char *axes[] = {"X", "Y", "Z"};
    for (int a = 0; a < 3; ++a) {
        expected.insert(QLatin1String(axes[a]), QStringLiteral("%1 [%2, %3]")
                                                    .arg(highs[a] - lows[a], 0, 'f', 3)
                                                    .arg(lows[a], 0, 'f', 3)
                                                    .arg(highs[a], 0, 'f', 3));
    }
    expected.insert(QStringLiteral("Triangles"), QStringLiteral("3976"));
    expected.insert(QStringLiteral("Volume"), QString::number(mesh->volume(), 'f', 3));
    expected.insert(QStringLiteral("Surface Area"), QString::number(mesh->area(), 'f', 3));
    QCOMPARE(compareFigures(texts, expected, 1e-5), QString());
    QCOMPARE(texts.value("Z"), QStringLiteral("16.000 [0.000, 16.000]"));
    QCOMPARE(texts.value("Triangles"), QStringLiteral("3976"));
    QCOMPARE(texts.value("File"), QDir::toNativeSeparators(QFileInfo(m_modelPath).absoluteFilePath()));
    for (const char *name :
         {"action_Close", "action_Save_As", "action_Export_Slices", "action_Quarn", "action_Ruler"})
        QVERIFY2(action(name)->isEnabled(), name);

    const QImage shown = frame();
    QVERIFY2(differingPercent(shown, empty) > 5, "the model is not on screen");
    widgettest::informationTree(m_window.get())->expandAll();
    saveShot(windowShot(), QStringLiteral("02-opened"));

    // A damaged file is refused and the open model stays.
    const QString damaged = m_dir.filePath(QStringLiteral("damaged.stl"));
    QVERIFY(batchtest::writeAll(damaged, QByteArray(50, 'x')));
    {
        ModalDialogAnswerer answerer({chooseFile(damaged)});
        action("action_Open")->trigger();
        QCOMPARE(answerer.seen().size(), 2);
        QCOMPARE(answerer.seen().at(1).title, QStringLiteral("Open - Error"));
        QCOMPARE(answerer.seen().at(1).text,
                 QStringLiteral("Unable to open \"damaged.stl\" (Incorrect format)."));
    }
    QCOMPARE(panelTexts(m_window.get()), texts);
    QCOMPARE(m_window->windowTitle(), QStringLiteral("torus.stl - ") + m_baseTitle);
    QVERIFY(differingPercent(frame(), shown) < 0.5);
}

// 3. The rendering modes of the Options menu, the camera toolbar, the clip controls, the ruler
// through two clicks and the hover read-out.
void TestEndToEnd::viewModesCameraClipRulerAndHover()
{
    QVERIFY(m_window->hasCurrentFile());
    auto *options = child<QMenu>("menu_Options");
    const QImage plain = frame();
    QList<QImage> seen{plain};
    for (const widgettest::RenderingMode &mode : widgettest::renderingModes()) {
        if (qstrcmp(mode.name, "x-ray") == 0 && !GLWidget::hasOpenGL20())
            continue;
        const QString shot = QStringLiteral("03-mode-") + QLatin1String(mode.name);
        for (const char *name : mode.actions) {
            QVERIFY2(options->actions().contains(action(name)), name);
            action(name)->trigger();
            QVERIFY2(action(name)->isChecked(), name);
        }
        const QImage image = frame();
        saveShot(windowShot(), shot);
        for (const QImage &earlier : seen)
            QVERIFY2(differingPercent(image, earlier) > 0.2, qPrintable(shot));
        seen << image;
        for (auto it = mode.actions.rbegin(); it != mode.actions.rend(); ++it)
            action(*it)->trigger();
    }
    QVERIFY(differingPercent(frame(), plain) < 0.5);

    // Anti-aliasing rebuilds the view's surface; the model stays on screen.
    for (int turn = 0; turn < 2; ++turn) {
        ModalDialogAnswerer answerer;
        action("action_Anti_Aliasing")->trigger();
        QVERIFY(differingPercent(frame(), plain) < 5);
    }

    // The camera toolbar, clicked as a user does: some actions follow one another at once, while
    // the animation of the one before still runs, and each ends where the camera comes to rest.
    clickToolButton("cameraToolBar", "action_Top_down_View");
    QVERIFY(settled());
    QVERIFY(view()->viewDirection().z() < -0.99f);
    saveShot(windowShot(), QStringLiteral("03-camera-top"));
    clickToolButton("cameraToolBar", "action_Front_View");
    QVERIFY(settled());
    QVERIFY(std::fabs(view()->viewDirection().y()) > 0.99f);
    clickToolButton("cameraToolBar", "action_Side_View");
    QVERIFY(settled());
    QVERIFY(std::fabs(view()->viewDirection().x()) > 0.99f);
    const float pixel = float(view()->pixelSize().x()); // the fitted view's
    const QPointF centre(view()->width() / 2.0, view()->height() / 2.0);
    const QVector3D sceneCentre = view()->sceneCenter();
    clickToolButton("cameraToolBar", "action_Isometric_View");
    clickToolButton("cameraToolBar", "action_Zoom_In");
    QVERIFY(settled());
    const QVector3D isometric = view()->viewDirection();
    QVERIFY(std::fabs(isometric.x()) > 0.3f && std::fabs(isometric.y()) > 0.3f &&
            std::fabs(isometric.z()) > 0.3f);
    QVERIFY(view()->pixelSize().x() < pixel);
    // The zoom keeps the model where the isometric view put it, in the middle.
    view()->makeCurrent();
    view()->setupProjection();
    const QPointF shownCentre = view()->project(sceneCentre);
    QVERIFY2(std::hypot(shownCentre.x() - centre.x(), shownCentre.y() - centre.y()) < 1.0,
             qPrintable(QStringLiteral("%1, %2").arg(shownCentre.x()).arg(shownCentre.y())));
    clickToolButton("cameraToolBar", "action_Zoom_Out");
    clickToolButton("cameraToolBar", "action_Zoom_Out");
    QVERIFY(settled());
    QVERIFY(view()->pixelSize().x() > pixel);
    clickToolButton("cameraToolBar", "action_Zoom_Out");
    clickToolButton("cameraToolBar", "action_Zoom_To_All");
    QVERIFY(settled());
    QVERIFY(std::fabs(view()->pixelSize().x() - pixel) < 0.01f * pixel);
    clickToolButton("cameraToolBar", "action_Perspective");
    QVERIFY(view()->perspective());
    saveShot(windowShot(), QStringLiteral("03-camera-perspective"));
    clickToolButton("cameraToolBar", "action_Perspective");
    QVERIFY(!view()->perspective());

    // Clip from the top at the model's middle, z = 8.
    auto *toggle = child<QToolButton>("clipToggle");
    auto *slider = child<QSlider>("clipSlider");
    const QImage unclipped = frame();
    toggle->click();
    QCOMPARE(toggle->property("Clip").toString(), QStringLiteral("Top"));
    QCOMPARE(view()->clipDirection(), Clip::FromTop);
    slider->setValue(0);
    QVERIFY(std::fabs(view()->clipOffset() - 8.0) < 1e-4);
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Clip Z: 8.000"));
    QVERIFY(differingPercent(frame(), unclipped) > 0.5);
    saveShot(windowShot(), QStringLiteral("03-clipped"));
    toggle->click();
    toggle->click();
    QCOMPARE(view()->clipDirection(), Clip::NoClip);
    slider->setValue(slider->maximum());
    QVERIFY(differingPercent(frame(), unclipped) < 0.5);

    // The ruler from the top: two vertices of the top ridge, z = 16, on opposite sides.
    clickToolButton("cameraToolBar", "action_Top_down_View");
    frame();
    const QVector3D a =
        QVector3D(float(majorRadius), 0, 8) + QVector3D(modelShift.x, modelShift.y, modelShift.z);
    const QVector3D b =
        QVector3D(float(-majorRadius * std::cos(M_PI / 71)), float(majorRadius * std::sin(M_PI / 71)), 8) +
        QVector3D(modelShift.x, modelShift.y, modelShift.z);
    const QPoint pa = view()->project(a).toPoint();
    const QPoint pb = view()->project(b).toPoint();
    const double tolerance = 3 * double(view()->pixelSize().x()) + 0.05;
    clickToolButton("toolsToolBar", "action_Ruler");
    QVERIFY(action("action_Ruler")->isChecked());
    click(pa);
    sendMouse(view(), QEvent::MouseMove, pb, Qt::NoButton, Qt::NoButton);
    saveShot(windowShot(), QStringLiteral("03-ruler-measuring"));
    click(pb);
    const QImage measured = windowShot();
    saveShot(measured, QStringLiteral("03-ruler"));
    QCOMPARE(numberLabels(view()).size(), 1);
    const double shown = numberLabels(view()).first()->text.toDouble();
    QVERIFY2(std::fabs(shown - double((b - a).length())) < tolerance,
             qPrintable(QStringLiteral("%1 against %2").arg(shown).arg((b - a).length())));
    for (int i = 0; i < 3; ++i)
        click(pb, Qt::RightButton);
    QVERIFY(!action("action_Ruler")->isChecked());

    // The hover read-out over the top ridge.
    QTest::qWait(100);
    sendMouse(view(), QEvent::MouseMove, pa, Qt::NoButton, Qt::NoButton);
    const QString message = m_window->statusBar()->currentMessage();
    static const QRegularExpression format(
        QStringLiteral("^X: (-?\\d+\\.\\d{3})  Y: (-?\\d+\\.\\d{3})  Z: (-?\\d+\\.\\d{3})$"));
    const QRegularExpressionMatch match = format.match(message);
    QVERIFY2(match.hasMatch(), qPrintable(message));
    QVERIFY2(std::fabs(match.captured(1).toDouble() - double(a.x())) < tolerance, qPrintable(message));
    QVERIFY2(std::fabs(match.captured(2).toDouble() - double(a.y())) < tolerance, qPrintable(message));
    QVERIFY2(std::fabs(match.captured(3).toDouble() - 16.0) < 0.05, qPrintable(message));
    saveShot(windowShot(), QStringLiteral("03-hover"));
    sendMouse(view(), QEvent::MouseMove, QPoint(3, 3), Qt::NoButton, Qt::NoButton);
    clickToolButton("cameraToolBar", "action_Isometric_View");
}

// 4. Translate, rotate, scale, mirror, move onto the platform origin and lay a clicked facet
// flat, all through the transform panel; then undo everything and redo it.
void TestEndToEnd::transformsThroughThePanelWithUndo()
{
    auto *panel = child<TransformPanel>("transformPanel");
    QVERIFY(panel && panel->isVisible());
    const auto field = [panel](const char *name) {
        return panel->findChild<QLineEdit *>(QLatin1String(name));
    };
    const auto button = [panel](const char *name) {
        return panel->findChild<QToolButton *>(QLatin1String(name));
    };
    const QMap<QString, QString> start = panelTexts(m_window.get());
    const double volume = numbersOf(start.value("Volume")).value(0);
    QVERIFY(volume > 0);
    QList<QMap<QString, QString>> steps{start};

    // Translate by (5, 0, 0).
    retype(field("translateXLineEdit"), QStringLiteral("5"));
    retype(field("translateYLineEdit"), QStringLiteral("0"));
    retype(field("translateZLineEdit"), QStringLiteral("0"));
    QTest::mouseClick(button("translateUpToolButton"), Qt::LeftButton);
    steps << panelTexts(m_window.get());
    QCOMPARE(numbersOf(steps.last().value("X.Min")).value(0), numbersOf(start.value("X.Min")).value(0) + 5);

    // Turn 90 degrees about Z: X and Y trade their extents.
    QVERIFY(button("rotateZToolButton")->isChecked());
    retype(field("rotateLineEdit"), QStringLiteral("90"));
    QTest::mouseClick(button("rotateUpToolButton"), Qt::LeftButton);
    steps << panelTexts(m_window.get());
    QVERIFY(std::fabs(extentOf(steps.last(), "X") - extentOf(start, "Y")) < 0.002);
    QVERIFY(std::fabs(extentOf(steps.last(), "Y") - extentOf(start, "X")) < 0.002);

    // Uniform scale by 2: every extent doubles, the volume grows eightfold.
    QVERIFY(panel->findChild<QCheckBox *>(QStringLiteral("uniformScaleCheckBox"))->isChecked());
    retype(field("scaleXLineEdit"), QStringLiteral("2"));
    QTest::mouseClick(button("applyScaleToolButton"), Qt::LeftButton);
    steps << panelTexts(m_window.get());
    QVERIFY(std::fabs(extentOf(steps.last(), "Z") - 32) < 0.002);
    QVERIFY(std::fabs(numbersOf(steps.last().value("Volume")).value(0) - 8 * volume) < 1e-4 * volume);

    // Mirror in Y: the same extents, and the volume stays positive.
    QTest::mouseClick(button("mirrorYToolButton"), Qt::LeftButton);
    QTest::mouseClick(button("applyMirrorToolButton"), Qt::LeftButton);
    steps << panelTexts(m_window.get());
    QCOMPARE(compareFigures(steps.last(), steps.at(steps.size() - 2), 1e-5), QString());

    // Onto the platform origin: centred in X and Y, resting on z = 0.
    QTest::mouseClick(button("translateToOriginToolButton"), Qt::LeftButton);
    auto *origin = panel->findChild<TranslateToOriginDialog *>(QStringLiteral("translateToOriginDialog"));
    QVERIFY(origin);
    QVERIFY(QTest::qWaitForWindowExposed(origin));
    for (const char *name : {"xCenterRadioButton", "yCenterRadioButton", "zMinRadioButton"}) {
        auto *radio = origin->findChild<QRadioButton *>(QLatin1String(name));
        QTest::mouseClick(radio, Qt::LeftButton, Qt::NoModifier, radio->rect().center());
        QVERIFY2(radio->isChecked(), name);
    }
    saveShot(sideBySide({windowShot(), origin->grab().toImage()}), QStringLiteral("04-translate-to-origin"));
    QTest::mouseClick(origin->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    QVERIFY(!origin->isVisible());
    steps << panelTexts(m_window.get());
    const QVector<double> x = numbersOf(steps.last().value("X"));
    QVERIFY2(std::fabs(x.value(1) + x.value(2)) < 0.002, qPrintable(steps.last().value("X")));
    QCOMPARE(steps.last().value("Z.Min"), QStringLiteral("0.000"));

    // Lay flat the facet in front of the camera at the middle of the front view: the torus then
    // stands on its rim, as tall as it was wide.
    clickToolButton("cameraToolBar", "action_Front_View");
    frame();
    const QPoint pixel = view()->project(QVector3D(0, 0, 16)).toPoint();
    QVERIFY(view()->rect().contains(pixel));
    QToolButton *layFlat = button("rotateFacetDownwardToolButton");
    QTest::mouseClick(layFlat, Qt::LeftButton);
    QVERIFY(layFlat->isChecked());
    QTest::mouseMove(view(), pixel);
    QTest::mouseClick(view(), Qt::LeftButton, Qt::NoModifier, pixel);
    QVERIFY(!layFlat->isChecked());
    steps << panelTexts(m_window.get());
    const double width = extentOf(steps.at(steps.size() - 2), "X");
    QVERIFY2(extentOf(steps.last(), "Z") > 0.95 * width, qPrintable(steps.last().value("Z")));
    QVERIFY2(extentOf(steps.last(), "Y") < 0.5 * width, qPrintable(steps.last().value("Y")));
    QVERIFY(std::fabs(numbersOf(steps.last().value("Volume")).value(0) - 8 * volume) < 1e-4 * volume);
    clickToolButton("cameraToolBar", "action_Zoom_To_All");
    const QImage transformed = frame();
    saveShot(windowShot(), QStringLiteral("04-transformed"));

    // Undo through the Edit menu back to the start, then redo every step.
    QList<QAction *> edit = child<QMenu>("menu_Edit")->actions();
    QVERIFY(edit.size() >= 2);
    QAction *undo = edit.at(0);
    QAction *redo = edit.at(1);
    QVERIFY(undo->isEnabled());
    QVERIFY(!redo->isEnabled());
    for (int i = steps.size() - 2; i >= 0; --i) {
        undo->trigger();
        QCOMPARE(compareFigures(panelTexts(m_window.get()), steps.at(i), 1e-5), QString());
    }
    QVERIFY(!undo->isEnabled());
    QVERIFY(redo->isEnabled());
    for (int i = 1; i < steps.size(); ++i) {
        redo->trigger();
        QCOMPARE(compareFigures(panelTexts(m_window.get()), steps.at(i), 1e-5), QString());
    }
    QVERIFY(!redo->isEnabled());
    QVERIFY(differingPercent(frame(), transformed) < 0.5);
    m_shownFigures = steps.last();
}

// 5. Save As STL, PLY in each byte order and .qrn; each file holds the shown model with outward
// facets, and reopens as shown. A read-only target is refused and kept.
void TestEndToEnd::saveInEachFormatAndReopen()
{
    QVERIFY(!m_shownFigures.isEmpty());
    const double volume = numbersOf(m_shownFigures.value("Volume")).value(0);
    const struct
    {
        const char *name;
        const char *filter;
        const char *plyFormat;
    } saves[] = {
        {"shown.stl", "STL Files (*.stl)", ""},
        {"shown-big-endian.ply", "Polygon Files (*.ply)", "Binary Big Endian"},
        {"shown-little-endian.ply", "Polygon Files (*.ply)", "Binary Little Endian"},
        {"shown.qrn", "Quarn Files (*.qrn)", ""},
    };
    QStringList written;
    for (const auto &save : saves) {
        const QString path = QFileInfo(m_dir.filePath(QLatin1String(save.name))).absoluteFilePath();
        saveAs(path, QLatin1String(save.filter), QLatin1String(save.plyFormat));
        written << path;
        const std::unique_ptr<geom::StlMesh> mesh = batchtest::readMesh(path);
        QVERIFY2(mesh, save.name);
        QUARN_CHECK_MESH(*mesh);
        QCOMPARE(mesh->indices().size(), 3976);
        QVERIFY2(std::fabs(stltest::signedVolume(*mesh) - volume) < 1e-3 * volume, save.name);
        // The laid-flat facet faces straight down at the bottom of the part.
        bool facetDown = false;
        for (const geom::IndexedFacet &f : mesh->indices()) {
            const geom::Facet facet(mesh->vertices().at(f.a), mesh->vertices().at(f.b),
                                    mesh->vertices().at(f.c));
            const geom::Vector3f n = facet.computedNormal();
            facetDown = facetDown ||
                        (n.z < -0.99999f && std::fabs(facet.vertex[0].z - mesh->bounds().min().z) < 1e-3f);
        }
        QVERIFY2(facetDown, save.name);
    }
    // The STL's stored normals point out of the part, as its windings do.
    for (const stltest::Record &record : stltest::records(batchtest::readAll(written.at(0)))) {
        const geom::Vector3f computed = record.facet.computedNormal();
        const float dot = computed.x * record.facet.normal.x + computed.y * record.facet.normal.y +
                          computed.z * record.facet.normal.z;
        QVERIFY(dot > 0.99f);
    }
    m_savedStl = written.at(0);

    for (const QString &path : written) {
        openThroughDialog(path);
        QCOMPARE(m_window->windowTitle(), QFileInfo(path).fileName() + QStringLiteral(" - ") + m_baseTitle);
        QCOMPARE(compareFigures(panelTexts(m_window.get()), m_shownFigures, 1e-5), QString());
        QVERIFY(!child<QMenu>("menu_Edit")->actions().at(0)->isEnabled());
    }
    saveShot(windowShot(), QStringLiteral("05-reopened-qrn"));

    // A read-only target: refused with the reason, the file kept, the current file unchanged.
    const QString locked = m_dir.filePath(QStringLiteral("locked.stl"));
    QVERIFY(batchtest::writeAll(locked, "keep me"));
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    {
        ModalDialogAnswerer answerer(
            {chooseFile(locked, QStringLiteral("STL Files (*.stl)")), [this](QWidget *box) {
                 saveShot(sideBySide({windowShot(), box->grab().toImage()}),
                          QStringLiteral("05-save-refused"));
                 ModalDialogAnswerer::click(QMessageBox::Ok)(box);
             }});
        action("action_Save_As")->trigger();
        QCOMPARE(answerer.seen().size(), 2);
        QCOMPARE(answerer.seen().at(1).text,
                 QStringLiteral("Unable to save \"locked.stl\" (Permission denied)."));
    }
    QCOMPARE(batchtest::readAll(locked), QByteArray("keep me"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("shown.qrn - ") + m_baseTitle);
}

// 6. Quarn and Unquarn from the toolbar; then the batch program: "quarn -compress" with its
// progress dialog and "quarn --headless -decompress", whose round trip gives the source back.
void TestEndToEnd::quarnUnquarnAndTheBatch()
{
    QVERIFY(!m_savedStl.isEmpty());
    openThroughDialog(m_savedStl);
    QVERIFY(action("action_Quarn")->isVisible());
    const QString quarned = QFileInfo(m_dir.filePath(QStringLiteral("quarned.qrn"))).absoluteFilePath();
    QString suggested;
    {
        ModalDialogAnswerer answerer({[&suggested, quarned](QWidget *dialog) {
            if (auto *files = qobject_cast<QFileDialog *>(dialog))
                suggested = files->selectedFiles().value(0);
            chooseFile(quarned)(dialog);
        }});
        clickToolButton("fileToolBar", "action_Quarn");
    }
    QCOMPARE(QFileInfo(suggested).fileName(), QStringLiteral("shown.qrn"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("quarned.qrn - ") + m_baseTitle);
    QVERIFY(!action("action_Quarn")->isVisible());
    saveShot(windowShot(), QStringLiteral("06-quarned"));
    const QString unquarned = QFileInfo(m_dir.filePath(QStringLiteral("unquarned.stl"))).absoluteFilePath();
    {
        ModalDialogAnswerer answerer({chooseFile(unquarned)});
        clickToolButton("fileToolBar", "action_Unquarn");
    }
    QCOMPARE(m_window->windowTitle(), QStringLiteral("unquarned.stl - ") + m_baseTitle);
    const std::unique_ptr<geom::StlMesh> source = batchtest::readStl(m_savedStl);
    for (const QString &path : {quarned, unquarned}) {
        const std::unique_ptr<geom::StlMesh> mesh = batchtest::readMesh(path);
        QVERIFY(mesh && source);
        QCOMPARE(mesh->indices().size(), source->indices().size());
        for (const geom::Vector3f &d :
             {mesh->bounds().min() - source->bounds().min(), mesh->bounds().max() - source->bounds().max()})
            QVERIFY2(std::fabs(d.x) < 1e-3f && std::fabs(d.y) < 1e-3f && std::fabs(d.z) < 1e-3f,
                     qPrintable(path));
    }

    // The batch with windows, in a folder of its own.
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("batch/back")));
    const QString batch = m_dir.filePath(QStringLiteral("batch"));
    QVERIFY(QFile::copy(m_savedStl, batch + QStringLiteral("/part.stl")));
    {
        ProgramRun run;
        run.start(batch, {QStringLiteral("-compress"), QStringLiteral("part.stl")});
        const unsigned long finished = run.waitForWindow(QStringLiteral("Finished - Orvan Quarn"));
        QVERIFY2(finished != 0, qPrintable(QString::fromLocal8Bit(run.process->readAllStandardError())));
        QTest::qWait(300);
        saveShot(sideBySide(run.grabWindows()), QStringLiteral("06-batch-compress"));
        QVERIFY(x11test::requestClose(finished));
        QCOMPARE(run.finish(), 0);
    }
    QVERIFY(QFile::rename(batch + QStringLiteral("/part.qrn"), batch + QStringLiteral("/back/part.qrn")));
    {
        ProgramRun run;
        run.start(batch, {QStringLiteral("--headless"), QStringLiteral("-decompress"),
                          QStringLiteral("back/part.qrn")});
        QCOMPARE(run.finish(), 0);
        QCOMPARE(run.process->readAllStandardError(), QByteArray());
    }
    const std::unique_ptr<geom::StlMesh> original = batchtest::readStl(batch + QStringLiteral("/part.stl"));
    const std::unique_ptr<geom::StlMesh> roundTrip =
        batchtest::readStl(batch + QStringLiteral("/back/part.stl"));
    QCOMPARE(batchtest::compareMeshes(roundTrip.get(), original.get()), QString());
}

// 7. Export Slices: the file and options dialogs, the progress, the SLC file; a cancelled export
// leaves no file.
void TestEndToEnd::exportSlicesAndCancel()
{
    QVERIFY(m_window->hasCurrentFile());
    const double volume = numbersOf(panelTexts(m_window.get()).value("Volume")).value(0);
    const double height = extentOf(panelTexts(m_window.get()), "Z");
    auto *dialog = child<ExportSlicesDialog>("exportSlicesDialog");
    // A message box is acknowledged; the progress dialog is left alone.
    const ModalDialogAnswerer::Answer acknowledge = [](QWidget *box) {
        if (qobject_cast<QMessageBox *>(box))
            ModalDialogAnswerer::click(QMessageBox::Ok)(box);
    };
    // The dialog is shown once, as the first export fills it in.
    bool dialogShot = false;
    const auto runExport = [&](const QString &target, const QString &thickness, bool cancel,
                               QStringList *labels, QList<ModalDialogAnswerer::Seen> *messages) {
        {
            ModalDialogAnswerer answerer({chooseFile(target)});
            action("action_Export_Slices")->trigger();
            QCOMPARE(answerer.seen().size(), 1);
        }
        QTRY_VERIFY(dialog->isVisible());
        dialog->findChild<QComboBox *>(QStringLiteral("unitsComboBox"))->setCurrentIndex(0);
        dialog->findChild<QComboBox *>(QStringLiteral("thicknessComboBox"))->setEditText(thickness);
        if (!dialogShot) {
            dialogShot = true;
            saveShot(sideBySide({windowShot(), dialog->grab().toImage()}),
                     QStringLiteral("07-export-dialog"));
        }
        // The progress dialog is looked at on each pass of its event processing.
        QTimer watcher;
        bool grabbed = false;
        connect(&watcher, &QTimer::timeout, [&] {
            auto *progress = m_window->findChild<QProgressDialog *>();
            if (!progress || !progress->isVisible() ||
                !progress->labelText().startsWith(QLatin1String("Exporting slice")))
                return;
            *labels << progress->labelText();
            if (!grabbed) {
                grabbed = true;
                saveArtefact(progress->grab().toImage(), cancel ? QStringLiteral("07-export-cancelling")
                                                                : QStringLiteral("07-export-progress"));
            }
            if (cancel)
                progress->findChild<QPushButton *>()->click();
        });
        watcher.start(0);
        ModalDialogAnswerer answerer({acknowledge, acknowledge, acknowledge});
        QTest::mouseClick(dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok),
                          Qt::LeftButton);
        watcher.stop();
        for (const ModalDialogAnswerer::Seen &seen : answerer.seen()) {
            if (seen.className == QLatin1String("QMessageBox"))
                messages->append(seen);
        }
    };

    const QString target = m_dir.filePath(QStringLiteral("slices.slc"));
    QStringList labels;
    QList<ModalDialogAnswerer::Seen> messages;
    runExport(target, QStringLiteral("0.5"), false, &labels, &messages);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.value(0).text));
    QVERIFY2(!labels.isEmpty(), "no progress seen");
    QVERIFY2(labels.first().endsWith(QLatin1String(" to slices.slc...")), qPrintable(labels.first()));

    const slctest::SlcFile slc = slctest::readSlc(batchtest::readAll(target));
    QCOMPARE(slc.error, QString());
    QCOMPARE(slc.headerText, QByteArray("-SLCVER 2.0 -UNIT MM -TYPE PART"));
    QVERIFY2(std::abs(slc.layers.size() - int(std::lround(height / 0.5))) <= 2,
             qPrintable(QString::number(slc.layers.size())));
    // Standing on its rim, the torus is cut into one outline near its ends and two in between;
    // the layers add up to its volume.
    int mostOutlines = 0;
    double layered = 0;
    for (const slctest::Layer &layer : slc.layers) {
        mostOutlines = qMax(mostOutlines, layer.boundaries.size());
        for (const slctest::Boundary &boundary : layer.boundaries) {
            QVERIFY(boundary.isClosed());
            layered += boundary.area() * 0.5;
        }
    }
    QCOMPARE(mostOutlines, 2);
    QVERIFY2(std::fabs(layered - volume) < 0.03 * volume,
             qPrintable(QStringLiteral("%1 against %2").arg(layered).arg(volume)));

    const QString cancelled = m_dir.filePath(QStringLiteral("cancelled.slc"));
    labels.clear();
    QList<ModalDialogAnswerer::Seen> cancelMessages;
    runExport(cancelled, QStringLiteral("0.5"), true, &labels, &cancelMessages);
    QCOMPARE(cancelMessages.size(), 1);
    QCOMPARE(cancelMessages.at(0).text, QStringLiteral("The operation has been cancelled."));
    QVERIFY(!QFile::exists(cancelled));

    // A thickness of 0 would never reach the top: refused before any slicing.
    labels.clear();
    QList<ModalDialogAnswerer::Seen> refused;
    runExport(cancelled, QStringLiteral("0"), false, &labels, &refused);
    QCOMPARE(refused.size(), 1);
    QCOMPARE(refused.at(0).text, QStringLiteral("The slice thickness must be a number above 0."));
    QVERIFY(labels.isEmpty());
    QVERIFY(!QFile::exists(cancelled));
    QVERIFY(batchtest::temporaryFiles(m_dir.path()).isEmpty());
}

// 8. Preferences (a colour changed live, then Cancel), the about box and its licence link, the
// change log, and the news from the loopback server.
void TestEndToEnd::preferencesAboutChangeLogAndNews()
{
    auto *prefs = child<PreferencesDialog>("preferencesDialog");
    const QImage before = frame();
    const QColor fill = view()->fillColor();
    action("action_Preferences")->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(prefs));
    auto *swatch = prefs->findChild<ColorWidget *>(QStringLiteral("fillColor"));
    swatch->setCurrentColor(QColor(200, 40, 40));
    QCOMPARE(view()->fillColor(), QColor(200, 40, 40));
    QVERIFY(differingPercent(frame(), before) > 2);
    saveShot(sideBySide({windowShot(), prefs->grab().toImage()}), QStringLiteral("08-preferences"));
    // Moving the drawn arrays into GPU buffers and back keeps the frame.
    auto *vbo = prefs->findChild<QRadioButton *>(QStringLiteral("vboRadioButton"));
    auto *noCaching = prefs->findChild<QRadioButton *>(QStringLiteral("noneRadioButton"));
    if (vbo->isEnabled()) {
        const QImage coloured = frame();
        for (QRadioButton *caching : {vbo, noCaching}) {
            caching->click(); // on a page of the dialog that is not shown
            QVERIFY(caching->isChecked());
            QVERIFY(differingPercent(frame(), coloured) < 0.5);
        }
    }
    QTest::mouseClick(prefs->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel),
                      Qt::LeftButton);
    QVERIFY(!prefs->isVisible());
    QCOMPARE(view()->fillColor(), fill);
    QCOMPARE(swatch->currentColor(), fill);
    QVERIFY(!QSettings().contains(QStringLiteral("GLWidget/FillColor")));
    QVERIFY(differingPercent(frame(), before) < 0.5);

    // The about box; its licence link opens the licence terms over it.
    QPointer<QMessageBox> about;
    QString informative;
    QString licenseTitle;
    {
        ModalDialogAnswerer answerer(
            {[&](QWidget *dialog) {
                 about = qobject_cast<QMessageBox *>(dialog);
                 QVERIFY(about);
                 informative = about->informativeText();
                 saveArtefact(about->grab().toImage(), QStringLiteral("08-about"));
                 QVERIFY(QDesktopServices::openUrl(QUrl(QStringLiteral("license:"))));
             },
             [&](QWidget *dialog) {
                 licenseTitle = dialog->windowTitle();
                 QCOMPARE(dialog->parentWidget(), about.data());
                 saveArtefact(dialog->grab().toImage(), QStringLiteral("08-license"));
                 static_cast<QDialog *>(dialog)->reject();
                 about->button(QMessageBox::Ok)->click();
             }});
        action("action_About")->trigger();
        QCOMPARE(answerer.seen().size(), 2);
        QCOMPARE(answerer.seen().at(0).title, QStringLiteral("About Orvan Quarn"));
        QCOMPARE(answerer.seen().at(1).className, QStringLiteral("LicenseDialog"));
    }
    QVERIFY(informative.contains(QLatin1String("<a href=\"license:\">View License Terms</a>")));
    QCOMPARE(licenseTitle, QStringLiteral("Orvan Quarn - License Terms"));

    // The change log, window-modal over the window.
    action("action_Changelog")->trigger();
    QPointer<ChangelogDialog> changelog = m_window->findChild<ChangelogDialog *>();
    QVERIFY(changelog);
    QVERIFY(QTest::qWaitForWindowExposed(changelog));
    QVERIFY(!changelog->findChild<QTextEdit *>()->toPlainText().trimmed().isEmpty());
    saveShot(changelog->grab().toImage(), QStringLiteral("08-changelog"));
    changelog->reject();
    QTRY_VERIFY(changelog.isNull());

    // News on request: the server now has an announcement.
    m_newsServer.page = "<html><head><!-- " + QByteArray(NewsDialog::announcementMarker) +
                        " --></head><body><h2>Quarn news</h2><p>An announcement from the loopback "
                        "server.</p></body></html>";
    QDialog *news = widgettest::newsDialogOf(*m_window);
    QVERIFY(news);
    QVERIFY(!news->isVisible());
    clickToolButton("newsToolBar", "action_News");
    QTRY_VERIFY_WITH_TIMEOUT(news->isVisible() && !news->property("loading").toBool(), 20000);
    QTest::qWait(200);
    saveShot(news->grab().toImage(), QStringLiteral("08-news"));
    news->close();
    m_newsServer.page = "<html><body><p>Nothing new.</p></body></html>";
}

// 9. Close the window and start again: the same rendering modes, layout and recent files.
void TestEndToEnd::closeAndStartAgain()
{
    action("action_Line_Rendering")->trigger();
    action("action_Hidden_Line_Rendering")->trigger();
    action("action_Show_Origin")->trigger();
    child<QDockWidget>("transformDockWidget")->toggleViewAction()->trigger();
    QVERIFY(!child<QDockWidget>("transformDockWidget")->isVisible());
    const QStringList checkable = {"action_Line_Rendering",      "action_Hidden_Line_Rendering",
                                   "action_Wireframe_Rendering", "action_X_Ray_Shading",
                                   "action_Perspective",         "action_Show_Flipped_Facets",
                                   "action_Show_Origin",         "action_Anti_Aliasing"};
    QMap<QString, bool> states;
    for (const QString &name : checkable)
        states.insert(name, action(qPrintable(name))->isChecked());
    const QStringList recent = QSettings().value(QStringLiteral("MainWindow/RecentFiles")).toStringList();
    QCOMPARE(recent.size(), 5);
    QCOMPARE(QFileInfo(recent.first()).fileName(), QStringLiteral("unquarned.stl"));

    QVERIFY(m_window->close());
    m_window.reset();
    m_window = widgettest::shownMainWindow(QSize(1100, 760));
    QVERIFY(!m_window->hasCurrentFile());
    for (const QString &name : checkable)
        QVERIFY2(action(qPrintable(name))->isChecked() == states.value(name), qPrintable(name));
    QVERIFY(view()->lines() && view()->hiddenLines());
    QVERIFY(!child<QDockWidget>("transformDockWidget")->isVisible());
    QVERIFY(child<QDockWidget>("informationDockWidget")->isVisible());

    auto *menu = child<QMenu>("menu_File");
    QMetaObject::invokeMethod(menu, "aboutToShow");
    QStringList expected;
    for (int i = 0; i < recent.size(); ++i)
        expected << QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(recent.at(i)).fileName());
    QCOMPARE(widgettest::recentEntries(menu), expected);
    widgettest::visibleEntry(menu, expected.first())->trigger();
    QCOMPARE(m_window->windowTitle(), QStringLiteral("unquarned.stl - ") + m_baseTitle);

    // A recent file that went away is reported, the open model stays, and the entry leaves.
    QVERIFY(QFile::remove(recent.at(1)));
    QMetaObject::invokeMethod(menu, "aboutToShow");
    QAction *gone = widgettest::visibleEntry(menu, expected.at(1));
    QVERIFY(gone);
    QCOMPARE(widgettest::dialogTitlesOnTrigger(gone), QStringList{QStringLiteral("Open")});
    QCOMPARE(m_window->windowTitle(), QStringLiteral("unquarned.stl - ") + m_baseTitle);
    QStringList left = recent;
    left.removeAt(1);
    QCOMPARE(QSettings().value(QStringLiteral("MainWindow/RecentFiles")).toStringList(), left);
    saveShot(windowShot(), QStringLiteral("09-started-again"));
}

int main(int argc, char *argv[])
{
    // As the program's main, with the dialogs of the toolkit instead of the system's, so that the
    // test can answer them.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvan"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvan.example"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarn"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARN_VERSION));
    Application app(argc, argv);
    app.setProperty("FullApplicationName", app.organizationName() + QLatin1Char(' ') + app.applicationName());
    MainWindow::dropCommandLineFile();
    // The panel's figures are compared as text.
    QLocale::setDefault(QLocale::c());
    TestEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_endtoend.moc"
