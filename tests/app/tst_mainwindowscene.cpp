#include "app/mainwindow.h"
#include "app/mainwindow_p.h"
#include "app/transformpanel.h"
#include "batchfixtures.h"
#include "common/framegrab.h"
#include "geom/mesh/stlmesh.h"
#include "mainwindowfixture.h"
#include "meshbuilders.h"
#include "meshcheck.h"
#include "modaldialoganswerer.h"
#include "view/glwidget.h"

#include <QAction>
#include <QScreen>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QToolButton>
#include <QUndoStack>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>

using widgettest::clickAt;
using widgettest::ModalDialogAnswerer;
using widgettest::sendMouse;

// The model on screen: drawing in every mode, mirrored models, the view actions, the ruler through
// mouse clicks on the view, the hover read-out and the clip controls. Writes screenshots of each
// mode under the artefact folder.
class TestMainWindowScene : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void modelIsDrawnInEveryMode();
    void modelLooksTheSameInAnyUnit();
    void originMarkerOnlyWithAModel();
    void mirroredModelLooksLikeTheModel_data();
    void mirroredModelLooksLikeTheModel();
    void renderingActionRules_data();
    void renderingActionRules();
    void standardViewsToggleTheirPair_data();
    void standardViewsToggleTheirPair();
    void antiAliasingKeepsTheModel();
    void rulerThroughClicks();
    void rulerPicksThePointAtTheOrigin();
    void hoverShowsTheSurfacePoint();
    void layFlatByClickingAFacet_data();
    void layFlatByClickingAFacet();
    void clipToggleCycles();
    void clipSliderEnds_data();
    void clipSliderEnds();

private:
    void open(const QVector<geom::Facet> &facets);
    GLWidget *view() const;
    QAction *action(const char *name) const;
    QImage grabView();

    QTemporaryDir m_dir;
    std::unique_ptr<MainWindow> m_window;
};

namespace {

// A box from (-1.5, 0, 1) to (2.5, 2, 4): centre (0.5, 1, 2.5), top face at z = 4.
QVector<geom::Facet> fixtureBox()
{
    return meshtest::box(geom::Vector3f(-1.5f, 0, 1), geom::Vector3f(2.5f, 2, 4));
}

int colourDistance(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b));
}

QRgb centrePixel(const QImage &image)
{
    return image.pixel(image.width() / 2, image.height() / 2);
}

// A 60 x 60 square of the image about a slanted stretch of the model's outline: 30 rows below its
// highest point, where the row first leaves the background colour of its left end; empty when no
// row does.
QRect outlineCrop(const QImage &image)
{
    const auto firstModelPixel = [&image](int y) {
        const QRgb background = image.pixel(0, y);
        for (int x = 1; x < image.width(); ++x) {
            if (colourDistance(image.pixel(x, y), background) > 30)
                return x;
        }
        return -1;
    };
    for (int top = 0; top + 30 < image.height(); ++top) {
        if (firstModelPixel(top) < 0)
            continue;
        const int y = top + 30;
        const int x = firstModelPixel(y);
        return x < 0 ? QRect() : QRect(x - 30, y - 30, 60, 60).intersected(image.rect());
    }
    return QRect();
}

// The pixels of the crop that are neither the background (the colour of their row's left end in
// the whole image: the background is a vertical gradient) nor the model's colour at the crop's
// lower left: the blends of a smoothed outline.
int blendedPixels(const QImage &image, const QRect &crop)
{
    const QRgb model = image.pixel(crop.left(), crop.bottom());
    int blended = 0;
    for (int y = crop.top(); y <= crop.bottom(); ++y) {
        const QRgb background = image.pixel(0, y);
        for (int x = crop.left(); x <= crop.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            blended += colourDistance(p, background) > 6 && colourDistance(p, model) > 6;
        }
    }
    return blended;
}

// Reads "X: a  Y: b  Z: c" back; empty for another text.
QVector<double> coordinatesOf(const QString &message)
{
    static const QRegularExpression format(
        QStringLiteral("^X: (-?\\d+\\.\\d{3})  Y: (-?\\d+\\.\\d{3})  Z: (-?\\d+\\.\\d{3})$"));
    const QRegularExpressionMatch match = format.match(message);
    if (!match.hasMatch())
        return {};
    return {match.captured(1).toDouble(), match.captured(2).toDouble(), match.captured(3).toDouble()};
}

// The outward unit normal of every facet in world space, whatever the matrix's handedness.
QVector<QVector3D> worldNormals(const geom::StlMesh *mesh, const QMatrix4x4 &model)
{
    QVector<QVector3D> normals;
    const float side = model.determinant() < 0 ? -1.0f : 1.0f;
    for (const geom::IndexedFacet &f : mesh->indices()) {
        const auto corner = [&](int i) {
            const geom::Vector3f &v = mesh->vertices().at(i);
            return model.map(QVector3D(v.x, v.y, v.z));
        };
        const QVector3D a = corner(f.a);
        const QVector3D n = QVector3D::crossProduct(corner(f.b) - a, corner(f.c) - a);
        // In double: QVector3D::normalized gives the zero vector for a small facet.
        const double length =
            std::sqrt(double(n.x()) * n.x() + double(n.y()) * n.y() + double(n.z()) * n.z());
        normals << side * QVector3D(float(n.x() / length), float(n.y() / length), float(n.z() / length));
    }
    return normals;
}

} // namespace

void TestMainWindowScene::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestMainWindowScene::init()
{
    QSettings().clear();
    // Pixels are probed on exact colours: no multisampled blends along the lines (the
    // anti-aliasing test switches it on itself).
    QSettings().setValue(QStringLiteral("GLWidget/MultiSampling"), false);
    m_window = widgettest::shownMainWindow(QSize(800, 600));
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    // Camera moves and clip changes are immediate, so that every frame shows its final state.
    view()->setAnimationEnabled(false);
}

void TestMainWindowScene::cleanup()
{
    m_window.reset();
}

void TestMainWindowScene::open(const QVector<geom::Facet> &facets)
{
    const std::unique_ptr<geom::StlMesh> mesh(meshtest::meshFrom(facets));
    const QString problem = meshtest::checkMesh(*mesh);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const QString path = m_dir.filePath(QStringLiteral("model.stl"));
    QVERIFY(batchtest::writeStl(path, facets));
    ModalDialogAnswerer answerer;
    m_window->openFile(path);
    QVERIFY(answerer.seen().isEmpty());
    QVERIFY(m_window->hasCurrentFile());
}

GLWidget *TestMainWindowScene::view() const
{
    return m_window->findChild<GLWidget *>(QStringLiteral("widget"));
}

QAction *TestMainWindowScene::action(const char *name) const
{
    return m_window->findChild<QAction *>(QLatin1String(name));
}

// The view as it is on the screen, after the pending frames.
QImage TestMainWindowScene::grabView()
{
    view()->refresh(true);
    QTest::qWait(50);
    GLWidget *v = view();
    const QPoint origin = v->mapTo(m_window.get(), QPoint(0, 0));
    return m_window->screen()
        ->grabWindow(m_window->winId(), origin.x(), origin.y(), v->width(), v->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

void TestMainWindowScene::modelIsDrawnInEveryMode()
{
    const QImage empty = grabView();
    open(fixtureBox());
    const QImage filled = grabView();
    QVERIFY(saveArtefact(filled, QStringLiteral("scene-fill")));
    QVERIFY(colourDistance(centrePixel(filled), centrePixel(empty)) > 30);

    QVector<QImage> images;
    const QStringList all = {
        QStringLiteral("action_Hidden_Line_Rendering"), QStringLiteral("action_Line_Rendering"),
        QStringLiteral("action_Wireframe_Rendering"), QStringLiteral("action_X_Ray_Shading")};
    for (const widgettest::RenderingMode &mode : widgettest::renderingModes()) {
        for (const QString &name : all)
            action(qPrintable(name))->setChecked(false);
        for (const char *name : mode.actions)
            action(name)->setChecked(true);
        const QImage image = grabView();
        QVERIFY(saveArtefact(image, QStringLiteral("scene-") + QLatin1String(mode.name)));
        QVERIFY2(image != filled, mode.name);
        for (const QImage &earlier : images)
            QVERIFY2(image != earlier, mode.name);
        images.append(image);
    }
}

// A torus of 100k facets in millimetres and the same torus in metres (every coordinate times
// 0.001, facets of about 4e-7 square units): the view fits its camera to each and draws the two
// alike, lit, with no facet left black.
void TestMainWindowScene::modelLooksTheSameInAnyUnit()
{
    const QImage empty = grabView();
    QVector<QImage> frames;
    for (const float scale : {1.0f, 1e-3f}) {
        const QVector<geom::Facet> facets = meshtest::scaled(meshtest::Torus(100000).facets(), scale);
        const QString name = scale == 1.0f ? QStringLiteral("millimetres") : QStringLiteral("metres");
        const QString path = m_dir.filePath(QStringLiteral("torus-%1.stl").arg(name));
        QVERIFY(batchtest::writeStl(path, facets));
        ModalDialogAnswerer answerer;
        m_window->openFile(path);
        QVERIFY(answerer.seen().isEmpty());
        QVERIFY(m_window->hasCurrentFile());
        frames << grabView();
        QVERIFY(saveArtefact(frames.last(), QStringLiteral("scene-torus-") + name));
    }

    // The model covers the pixels where the frame in millimetres differs from the empty view; a
    // border of two pixels is left out, where edges blend with the background.
    const QImage &millimetres = frames[0];
    const QImage &metres = frames[1];
    const auto covered = [&](int x, int y) {
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx)
                if (colourDistance(millimetres.pixel(x + dx, y + dy), empty.pixel(x + dx, y + dy)) <= 30)
                    return false;
        return true;
    };
    int inside = 0, black = 0, differing = 0;
    for (int y = 2; y < millimetres.height() - 2; ++y) {
        for (int x = 2; x < millimetres.width() - 2; ++x) {
            if (!covered(x, y))
                continue;
            ++inside;
            black += (metres.pixel(x, y) & 0xFFFFFF) == 0 || (millimetres.pixel(x, y) & 0xFFFFFF) == 0;
            differing += colourDistance(millimetres.pixel(x, y), metres.pixel(x, y)) > 24;
        }
    }
    QVERIFY2(inside > millimetres.width() * millimetres.height() / 10, qPrintable(QString::number(inside)));
    QCOMPARE(black, 0);
    QVERIFY2(differing < inside / 100, qPrintable(QStringLiteral("%1 of %2").arg(differing).arg(inside)));
    // Probes across the ring: lit (not the flat colour of facets without a normal) and alike.
    const int w = millimetres.width(), h = millimetres.height();
    const QVector<QPoint> probes = {QPoint(w / 2, h * 27 / 100), QPoint(w * 89 / 100, h / 2),
                                    QPoint(w / 2, h * 72 / 100), QPoint(w * 11 / 100, h / 2)};
    QSet<QRgb> shades;
    for (const QPoint &p : probes) {
        QVERIFY2(covered(p.x(), p.y()), qPrintable(QStringLiteral("%1, %2").arg(p.x()).arg(p.y())));
        QVERIFY2(colourDistance(millimetres.pixel(p), metres.pixel(p)) <= 24,
                 qPrintable(QStringLiteral("%1 against %2")
                                .arg(metres.pixel(p), 0, 16)
                                .arg(millimetres.pixel(p), 0, 16)));
        shades << metres.pixel(p);
    }
    QVERIFY(shades.size() > 1);
}

void TestMainWindowScene::originMarkerOnlyWithAModel()
{
    QAction *origin = action("action_Show_Origin");
    const QImage emptyWithout = grabView();
    origin->setChecked(true);
    QVERIFY(view()->property("ShowOrigin").toBool());
    QCOMPARE(grabView(), emptyWithout);
    origin->setChecked(false);

    // From below, the axes at the scene origin lie in front of the box, whose bottom is at z = 1.
    open(fixtureBox());
    action("action_Top_down_View")->trigger();
    action("action_Top_down_View")->trigger();
    const QImage without = grabView();
    origin->setChecked(true);
    const QImage with = grabView();
    QVERIFY(saveArtefact(with, QStringLiteral("scene-origin")));
    QVERIFY(with != without);
    // Half way along the x and y axes the marker is red and green (within a pixel of the line).
    const float half = float(m_window->d->sceneRadius) / 2;
    const auto near = [&with](const QPoint &centre, const std::function<bool(QRgb)> &test) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (test(with.pixel(centre + QPoint(dx, dy))))
                    return true;
        return false;
    };
    QVERIFY(near(view()->project(QVector3D(half, 0, 0)).toPoint(),
                 [](QRgb c) { return qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80; }));
    QVERIFY(near(view()->project(QVector3D(0, half, 0)).toPoint(),
                 [](QRgb c) { return qGreen(c) > 200 && qRed(c) < 80 && qBlue(c) < 80; }));
}

void TestMainWindowScene::mirroredModelLooksLikeTheModel_data()
{
    QTest::addColumn<bool>("culling");
    QTest::newRow("flipped facets shown") << false;
    QTest::newRow("back faces culled") << true;
}

void TestMainWindowScene::mirroredModelLooksLikeTheModel()
{
    QFETCH(bool, culling);
    open(fixtureBox());
    action("action_Show_Flipped_Facets")->trigger();
    if (!culling)
        action("action_Show_Flipped_Facets")->trigger();
    QCOMPARE(view()->backFaceCulling(), culling);
    const QImage plain = grabView();

    // Mirrored through the plane x = 0.5, the box's centre: the same box, each facet's winding
    // turned.
    MainWindowPrivate *d = m_window->d;
    d->modelMatrix.setToIdentity();
    d->modelMatrix.translate(0.5f, 1, 2.5f);
    d->modelMatrix.scale(-1, 1, 1);
    m_window->updateFileInformation();
    const QImage mirrored = grabView();
    QVERIFY(saveArtefact(mirrored,
                         QStringLiteral("scene-mirrored-") + QLatin1String(culling ? "culled" : "shown")));

    const QRgb centre = centrePixel(mirrored);
    QVERIFY2(colourDistance(centre, centrePixel(plain)) < 24,
             qPrintable(QStringLiteral("%1 against %2").arg(centre, 0, 16).arg(centrePixel(plain), 0, 16)));
    QVERIFY(colourDistance(centre, view()->backFillColor().rgb()) > 60);
    // The whole picture matches too, up to the rounding of the normals.
    int differing = 0;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
            differing += colourDistance(plain.pixel(x, y), mirrored.pixel(x, y)) > 24;
    QVERIFY2(differing < plain.width() * plain.height() / 100, qPrintable(QString::number(differing)));
}

void TestMainWindowScene::renderingActionRules_data()
{
    // Actions toggled in order (prefix '-' unchecks), then the expected states.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("lineEnabled");
    QTest::addColumn<bool>("hiddenEnabled");
    QTest::addColumn<bool>("hiddenChecked");
    QTest::addColumn<bool>("viewLines");
    QTest::addColumn<bool>("viewHiddenLines");

    const QString line = QStringLiteral("action_Line_Rendering");
    const QString hidden = QStringLiteral("action_Hidden_Line_Rendering");
    const QString wire = QStringLiteral("action_Wireframe_Rendering");
    const auto off = [](const QString &name) { return QLatin1Char('-') + name; };
    QTest::newRow("start") << QStringList() << true << false << false << false << false;
    QTest::newRow("lines") << QStringList{line} << true << true << false << true << false;
    QTest::newRow("hidden lines") << QStringList{line, hidden} << true << true << true << true << true;
    QTest::newRow("lines off takes hidden lines")
        << QStringList{line, hidden, off(line)} << true << false << false << false << false;
    QTest::newRow("lines again leave hidden off")
        << QStringList{line, hidden, off(line), line} << true << true << false << true << false;
    QTest::newRow("wireframe disables both")
        << QStringList{line, wire} << false << false << false << true << false;
    QTest::newRow("wireframe forces lines") << QStringList{wire} << false << false << false << true << false;
    QTest::newRow("wireframe off without lines")
        << QStringList{wire, off(wire)} << true << false << false << false << false;
    QTest::newRow("wireframe off back to hidden lines")
        << QStringList{line, hidden, wire, off(wire)} << true << true << true << true << true;
}

void TestMainWindowScene::renderingActionRules()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, lineEnabled);
    QFETCH(bool, hiddenEnabled);
    QFETCH(bool, hiddenChecked);
    QFETCH(bool, viewLines);
    QFETCH(bool, viewHiddenLines);
    for (const QString &step : steps) {
        const bool checked = !step.startsWith(QLatin1Char('-'));
        QAction *a = action(qPrintable(checked ? step : step.mid(1)));
        QVERIFY(a);
        a->setChecked(checked);
    }
    QCOMPARE(action("action_Line_Rendering")->isEnabled(), lineEnabled);
    QCOMPARE(action("action_Hidden_Line_Rendering")->isEnabled(), hiddenEnabled);
    QCOMPARE(action("action_Hidden_Line_Rendering")->isChecked(), hiddenChecked);
    QCOMPARE(view()->lines(), viewLines);
    QCOMPARE(view()->hiddenLines(), viewHiddenLines);
    QCOMPARE(view()->wireframe(), action("action_Wireframe_Rendering")->isChecked());

    // X-ray only where the driver has shader programs; refused silently while hidden, loudly here.
    ModalDialogAnswerer answerer;
    action("action_X_Ray_Shading")->setChecked(true);
    QCOMPARE(view()->xRayShading(), GLWidget::hasOpenGL20());
    QCOMPARE(action("action_X_Ray_Shading")->isChecked(), GLWidget::hasOpenGL20());
    QCOMPARE(answerer.seen().size(), GLWidget::hasOpenGL20() ? 0 : 1);
}

void TestMainWindowScene::standardViewsToggleTheirPair_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("top/bottom") << QStringLiteral("action_Top_down_View");
    QTest::newRow("front/back") << QStringLiteral("action_Front_View");
    QTest::newRow("left/right") << QStringLiteral("action_Side_View");
    QTest::newRow("isometric") << QStringLiteral("action_Isometric_View");
}

void TestMainWindowScene::standardViewsToggleTheirPair()
{
    QFETCH(QString, name);
    open(fixtureBox());
    QAction *a = action(qPrintable(name));
    a->trigger();
    const QVector3D first = view()->viewDirection();
    a->trigger();
    const QVector3D second = view()->viewDirection();
    a->trigger();
    const QVector3D third = view()->viewDirection();
    // The pair looks the other way along the same axis (the isometric pair differs otherwise).
    QVERIFY((first - second).length() > 0.5f);
    QVERIFY((first - third).length() < 1e-4f);
    if (name == QLatin1String("action_Top_down_View")) {
        QVERIFY(first.z() < -0.99f);
        QVERIFY(second.z() > 0.99f);
    }
}

void TestMainWindowScene::antiAliasingKeepsTheModel()
{
    open(fixtureBox());
    const QImage before = grabView();
    const QRect crop = outlineCrop(before);
    QVERIFY(!crop.isEmpty());
    QAction *antiAliasing = action("action_Anti_Aliasing");
    // The action starts as the surface is; each change re-creates the surface, and the display
    // cache's arrays of the old context are rebuilt in the new one.
    QCOMPARE(antiAliasing->isChecked(), view()->multiSampling());
    // Blended pixels of a crop of the outline, by multisampling: on the screen (as the X server
    // has the window) and in the view's grabbed frame.
    QHash<bool, int> onScreen;
    QHash<bool, int> grabbed;
    for (int turn = 0; turn < 2; ++turn) {
        const bool wanted = !antiAliasing->isChecked();
        ModalDialogAnswerer answerer;
        antiAliasing->setChecked(wanted);
        if (wanted && !view()->multiSampling()) {
            // Refused: one warning, the action unchecked again.
            QVERIFY(!antiAliasing->isChecked());
            QCOMPARE(answerer.seen().size(), 1);
            QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Unsupported Option"));
        } else {
            QCOMPARE(view()->multiSampling(), wanted);
            QVERIFY(answerer.seen().isEmpty());
        }
        const QString state = QLatin1String(wanted ? "on" : "off");
        const QImage screen = grabView();
        const QImage frame = grabFrame(*view()).convertToFormat(QImage::Format_RGB32);
        QVERIFY(saveArtefact(screen, QStringLiteral("scene-anti-aliasing-") + state));
        QVERIFY(saveArtefact(screen.copy(crop).scaled(crop.size() * 4),
                             QStringLiteral("scene-anti-aliasing-edge-") + state));
        QVERIFY(colourDistance(centrePixel(screen), centrePixel(before)) < 24);
        onScreen.insert(view()->multiSampling(), blendedPixels(screen, crop));
        grabbed.insert(view()->multiSampling(), blendedPixels(frame, crop));
    }
    if (!onScreen.contains(true))
        QSKIP("the display grants no multisampled surface");
    // A stair-stepped outline has no blends; a smoothed one blends most pixels it crosses (it runs
    // through all 60 rows of the crop).
    const auto counts = [&] {
        return QStringLiteral("screen %1 on, %2 off; grab %3 on, %4 off")
            .arg(onScreen.value(true))
            .arg(onScreen.value(false))
            .arg(grabbed.value(true))
            .arg(grabbed.value(false));
    };
    QVERIFY2(onScreen.value(true) >= 20 && onScreen.value(false) <= 2, qPrintable(counts()));
    QVERIFY2(grabbed.value(true) >= 20 && grabbed.value(false) <= 2, qPrintable(counts()));
}

void TestMainWindowScene::rulerThroughClicks()
{
    open(fixtureBox());
    action("action_Top_down_View")->trigger();
    QAction *ruler = action("action_Ruler");
    QVERIFY(ruler->isEnabled());
    ruler->setChecked(true);
    grabView();

    // Two points of the top face, 3 apart in x and 1 in y.
    const QVector3D a(-1.0f, 0.5f, 4.0f);
    const QVector3D b(2.0f, 1.5f, 4.0f);
    const QPoint pa = view()->project(a).toPoint();
    const QPoint pb = view()->project(b).toPoint();
    const double expected = double((b - a).length());
    // A pixel's worth of the view's scale.
    const double tolerance = 2.5 * double(view()->pixelSize().x());

    // A click on the background picks nothing.
    clickAt(view(), QPoint(3, 3));
    grabView();
    QVERIFY(numberLabels(view()).isEmpty());

    clickAt(view(), pa);
    sendMouse(view(), QEvent::MouseMove, pb, Qt::NoButton, Qt::NoButton);
    const QImage measuring = grabView();
    QVERIFY(saveArtefact(measuring, QStringLiteral("scene-ruler-measuring")));
    QVERIFY(numberLabels(view()).isEmpty());
    clickAt(view(), pb);
    const QImage measured = grabView();
    QVERIFY(saveArtefact(measured, QStringLiteral("scene-ruler-measured")));

    QCOMPARE(numberLabels(view()).size(), 1);
    const GLWidget::TextLabel *label = numberLabels(view()).first();
    bool ok = false;
    const double shown = label->text.toDouble(&ok);
    QVERIFY2(ok, qPrintable(label->text));
    QVERIFY2(std::fabs(shown - expected) < tolerance, qPrintable(label->text));
    QCOMPARE(label->background.color(), QColor(128, 128, 128, 64));
    QCOMPARE(label->background.style(), Qt::SolidPattern);
    const QPointF middle = (QPointF(pa) + QPointF(pb)) / 2;
    QVERIFY((label->position - middle).manhattanLength() < 3);

    // The dashed red line: some pixels on the way from a to b are the line's colour, not all.
    int red = 0;
    const int samples = 60;
    for (int i = 5; i < samples - 5; ++i) {
        const QPointF p = QPointF(pa) + (QPointF(pb) - QPointF(pa)) * (double(i) / samples);
        const QRgb c = measured.pixel(p.toPoint());
        red += qRed(c) > 200 && qGreen(c) < 90 && qBlue(c) < 90;
    }
    QVERIFY2(red > 3 && red < samples - 10, qPrintable(QString::number(red)));

    // Right clicks step back: the second point, the first point, then the ruler itself.
    clickAt(view(), pb, Qt::RightButton);
    grabView();
    QVERIFY(numberLabels(view()).isEmpty());
    QVERIFY(ruler->isChecked());
    clickAt(view(), pb, Qt::RightButton);
    QVERIFY(ruler->isChecked());
    clickAt(view(), pb, Qt::RightButton);
    QVERIFY(!ruler->isChecked());
}

void TestMainWindowScene::rulerPicksThePointAtTheOrigin()
{
    open(fixtureBox());
    action("action_Ruler")->setChecked(true);
    MainWindowPrivate *d = m_window->d;
    // Hover points as the read-out sets them: the origin is a point like any other.
    const auto pickAt = [this, d](const geom::Vector3f &point) {
        d->hoverPoint = point;
        d->hoverPicked = true;
        QMouseEvent event(QEvent::MouseButtonRelease, QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                          Qt::NoModifier);
        m_window->on_widget_mouseClicked(&event);
    };
    pickAt(geom::Vector3f(0, 0, 0));
    pickAt(geom::Vector3f(3, 4, 0));
    QCOMPARE(d->rulerDistance, 5.0);
    QCOMPARE(d->rulerPoints.at(2), geom::Vector3f(1.5f, 2, 0));
}

void TestMainWindowScene::hoverShowsTheSurfacePoint()
{
    open(fixtureBox());
    action("action_Top_down_View")->trigger();
    grabView();
    const QVector3D onTop(1.0f, 0.5f, 4.0f);
    const QPoint pixel = view()->project(onTop).toPoint();
    sendMouse(view(), QEvent::MouseMove, pixel, Qt::NoButton, Qt::NoButton);
    const QString message = m_window->statusBar()->currentMessage();
    const QVector<double> shown = coordinatesOf(message);
    QVERIFY2(shown.size() == 3, qPrintable(message));
    const double tolerance = 1.5 * double(view()->pixelSize().x());
    QVERIFY2(std::fabs(shown[0] - 1.0) < tolerance && std::fabs(shown[1] - 0.5) < tolerance,
             qPrintable(message));
    QVERIFY2(std::fabs(shown[2] - 4.0) < 0.01, qPrintable(message));

    // Off the model, and while a button is held, nothing is shown.
    sendMouse(view(), QEvent::MouseMove, QPoint(3, 3), Qt::NoButton, Qt::NoButton);
    QVERIFY(m_window->statusBar()->currentMessage().isEmpty());
    sendMouse(view(), QEvent::MouseMove, pixel, Qt::NoButton, Qt::NoButton);
    QVERIFY(!m_window->statusBar()->currentMessage().isEmpty());
    sendMouse(view(), QEvent::MouseButtonPress, pixel, Qt::MiddleButton, Qt::MiddleButton);
    sendMouse(view(), QEvent::MouseMove, pixel + QPoint(1, 0), Qt::NoButton, Qt::MiddleButton);
    QVERIFY(m_window->statusBar()->currentMessage().isEmpty());
    sendMouse(view(), QEvent::MouseButtonRelease, pixel + QPoint(1, 0), Qt::MiddleButton, Qt::NoButton);
}

void TestMainWindowScene::layFlatByClickingAFacet_data()
{
    QTest::addColumn<bool>("mirrored");
    QTest::addColumn<float>("scale");
    QTest::newRow("box") << false << 1.0f;
    QTest::newRow("box mirrored in Y") << true << 1.0f;
    // Facets of about 1e-8 square units
    QTest::newRow("box scaled by 1e-4") << false << 1e-4f;
}

void TestMainWindowScene::layFlatByClickingAFacet()
{
    QFETCH(bool, mirrored);
    QFETCH(float, scale);
    open(meshtest::scaled(fixtureBox(), scale));
    auto *panel = m_window->findChild<TransformPanel *>(QStringLiteral("transformPanel"));
    QVERIFY(panel);
    if (mirrored) {
        QTest::mouseClick(panel->findChild<QToolButton *>(QStringLiteral("mirrorYToolButton")),
                          Qt::LeftButton);
        QTest::mouseClick(panel->findChild<QToolButton *>(QStringLiteral("applyMirrorToolButton")),
                          Qt::LeftButton);
    }
    MainWindowPrivate *d = m_window->d;
    QCOMPARE(d->modelMatrix.determinant() < 0, mirrored);
    action("action_Isometric_View")->trigger();
    grabView();

    // The side facing the camera most squarely, other than top and bottom: its facets and the
    // middle of their corners in world space.
    const QMatrix4x4 start = d->modelMatrix;
    const QVector<QVector3D> normals = worldNormals(d->mesh.get(), start);
    const QVector3D towards = -view()->viewDirection();
    QVector3D side;
    for (const QVector3D &n : normals) {
        if (std::fabs(n.z()) < 1e-5f &&
            QVector3D::dotProduct(n, towards) > QVector3D::dotProduct(side, towards))
            side = n;
    }
    QVERIFY2(QVector3D::dotProduct(side, towards) > 0.1f, "no side faces the camera");
    QVector<int> facets;
    QVector3D centre;
    for (int i = 0; i < normals.size(); ++i) {
        if ((normals.at(i) - side).length() > 1e-5f)
            continue;
        facets << i;
        const geom::IndexedFacet &f = d->mesh->indices().at(i);
        for (int corner : {f.a, f.b, f.c}) {
            const geom::Vector3f &v = d->mesh->vertices().at(corner);
            centre += start.map(QVector3D(v.x, v.y, v.z));
        }
    }
    QCOMPARE(facets.size(), 2);
    centre /= 6.0f;
    const QPoint pixel = view()->project(centre, true).toPoint();
    QVERIFY(view()->rect().contains(pixel));

    QToolButton *layFlat = panel->findChild<QToolButton *>(QStringLiteral("rotateFacetDownwardToolButton"));
    QVERIFY(layFlat && layFlat->isEnabled());
    QTest::mouseClick(layFlat, Qt::LeftButton);
    QVERIFY(layFlat->isChecked());
    QUndoStack *stack = d->undoStack;
    const int before = stack->count();
    QTest::mouseMove(view(), pixel);
    QTest::mouseClick(view(), Qt::LeftButton, Qt::NoModifier, pixel);
    const char *variant = mirrored ? "-mirrored" : scale != 1 ? "-scaled" : "";
    QVERIFY(saveArtefact(grabView(), QStringLiteral("scene-lay-flat") + QLatin1String(variant)));

    QVERIFY(!layFlat->isChecked());
    QCOMPARE(stack->count(), before + 1);
    const QVector<QVector3D> turned = worldNormals(d->mesh.get(), d->modelMatrix);
    for (int i : facets)
        QVERIFY2((turned.at(i) - QVector3D(0, 0, -1)).length() < 1e-5f,
                 qPrintable(QStringLiteral("facet %1 faces (%2, %3, %4)")
                                .arg(i)
                                .arg(turned.at(i).x())
                                .arg(turned.at(i).y())
                                .arg(turned.at(i).z())));
    QCOMPARE(d->modelMatrix.determinant() < 0, mirrored);
}

void TestMainWindowScene::clipToggleCycles()
{
    auto *toggle = m_window->findChild<QToolButton *>(QStringLiteral("clipToggle"));
    QVERIFY(toggle);
    const struct
    {
        const char *clip;
        Clip::Direction direction;
    } cycle[] = {{"Top", Clip::FromTop}, {"Bottom", Clip::FromBottom}, {"None", Clip::NoClip}};
    QCOMPARE(toggle->property("Clip").toString(), QStringLiteral("None"));
    for (const auto &step : cycle) {
        toggle->click();
        QCOMPARE(toggle->property("Clip").toString(), QLatin1String(step.clip));
        QCOMPARE(view()->clipDirection(), step.direction);
    }
    // An unknown state is left alone.
    toggle->setProperty("Clip", QStringLiteral("Slab"));
    toggle->click();
    QCOMPARE(toggle->property("Clip").toString(), QStringLiteral("Slab"));
    QCOMPARE(view()->clipDirection(), Clip::NoClip);
}

void TestMainWindowScene::clipSliderEnds_data()
{
    QTest::addColumn<bool>("withModel");
    QTest::newRow("model") << true;
    QTest::newRow("no model") << false;
}

void TestMainWindowScene::clipSliderEnds()
{
    QFETCH(bool, withModel);
    if (withModel)
        open(fixtureBox());
    auto *slider = m_window->findChild<QSlider *>(QStringLiteral("clipSlider"));
    QVERIFY(slider);
    // The box's centre is (0.5, 1, 2.5); no corner is farther from it than the half diagonal.
    const double radius = withModel ? std::sqrt(2.0 * 2.0 + 1.0 * 1.0 + 1.5 * 1.5) : 1.0;
    const double zc = withModel ? 2.5 : 0.0;
    if (withModel)
        QVERIFY(std::fabs(m_window->d->sceneRadius - radius) < 1e-5);

    slider->setValue(slider->minimum());
    QVERIFY(std::fabs(view()->clipOffset() - (zc - radius)) < 1e-5);
    const QString low = m_window->statusBar()->currentMessage();
    slider->setValue(slider->maximum());
    QVERIFY(std::fabs(view()->clipOffset() - (zc + radius)) < 1e-5);
    const QString high = m_window->statusBar()->currentMessage();
    if (withModel) {
        QCOMPARE(low, QStringLiteral("Clip Z: %1").arg(zc - radius, 0, 'f', 3));
        QCOMPARE(high, QStringLiteral("Clip Z: %1").arg(zc + radius, 0, 'f', 3));
    } else {
        QVERIFY(low.isEmpty());
        QVERIFY(high.isEmpty());
    }

    // Between the ends the plane moves in units of the radius; from the top the model is cut.
    slider->setValue(0);
    QVERIFY(std::fabs(view()->clipOffset() - zc) < 1e-5);
    if (withModel) {
        m_window->findChild<QToolButton *>(QStringLiteral("clipToggle"))->click();
        QVERIFY(saveArtefact(grabView(), QStringLiteral("scene-clipped-top")));
    }
}

int main(int argc, char *argv[])
{
    return widgettest::windowTestMain<TestMainWindowScene>(argc, argv);
}

#include "tst_mainwindowscene.moc"
