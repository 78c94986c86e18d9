#include "app/colorsetting.h"
#include "app/colorwidget.h"
#include "app/mainwindow.h"
#include "app/preferencesdialog.h"
#include "batchfixtures.h"
#include "common/framegrab.h"
#include "mainwindowfixture.h"
#include "modaldialoganswerer.h"
#include "view/glwidget.h"
#include "view/meshdisplaycache.h"

#include <QAction>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <memory>

using widgettest::ModalDialogAnswerer;

// The preferences dialog inside a main window: live colours, caching, Cancel and OK.
class TestPreferences : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void swatchChangeShowsInView_data();
    void swatchChangeShowsInView();
    void resetButtonFollowsDefault();
    void pickerCancelRestoresColor();
    void cachingButtonsStoreAndMoveCache();
    void cachingButtonsKeepTheDrawnModel();
    void cancelRestoresEverything();
    void okWritesKeysThenWarns();
    void speedLabels_data();
    void speedLabels();

private:
    template <class T>
    T *child(const char *name)
    {
        T *found = m_prefs->findChild<T *>(QLatin1String(name));
        if (!found)
            qWarning("no child %s", name);
        return found;
    }

    std::unique_ptr<MainWindow> m_window;
    PreferencesDialog *m_prefs = nullptr;
    GLWidget *m_view = nullptr;
};

void TestPreferences::init()
{
    QSettings().clear();
    m_window.reset(new MainWindow);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_prefs = m_window->findChild<PreferencesDialog *>(QStringLiteral("preferencesDialog"));
    m_view = m_window->findChild<GLWidget *>();
    QVERIFY(m_prefs);
    QVERIFY(m_view);
    QCOMPARE(m_prefs->glWidget(), m_view);
}

void TestPreferences::cleanup()
{
    m_window.reset();
}

void TestPreferences::swatchChangeShowsInView_data()
{
    QTest::addColumn<QString>("swatch");
    QTest::addColumn<bool>("xRayShading");
    QTest::addColumn<QString>("viewColor");

    QTest::newRow("edge") << "edgeColor" << false << "edgeColor";
    QTest::newRow("back fill") << "backFillColor" << false << "backFillColor";
    QTest::newRow("fill") << "fillColor" << false << "fillColor";
    QTest::newRow("background top") << "backgroundTopColor" << false << "backgroundTopColor";
    QTest::newRow("x-ray fill under x-ray") << "xRayFillColor" << true << "fillColor";
    QTest::newRow("x-ray bottom under x-ray")
        << "xRayBackgroundBottomColor" << true << "backgroundBottomColor";
}

void TestPreferences::swatchChangeShowsInView()
{
    QFETCH(QString, swatch);
    QFETCH(bool, xRayShading);
    QFETCH(QString, viewColor);

    if (xRayShading) {
        if (!GLWidget::hasOpenGL20())
            QSKIP("x-ray shading needs OpenGL 2.0");
        auto *action = m_window->findChild<QAction *>(QStringLiteral("action_X_Ray_Shading"));
        QVERIFY(action);
        action->setChecked(true);
    }
    const QColor chosen(12, 34, 56);
    m_prefs->findChild<ColorWidget *>(swatch)->setCurrentColor(chosen);
    const QMap<QString, QColor> shown = {{"edgeColor", m_view->edgeColor()},
                                         {"backFillColor", m_view->backFillColor()},
                                         {"fillColor", m_view->fillColor()},
                                         {"backgroundTopColor", m_view->backgroundTopColor()},
                                         {"backgroundBottomColor", m_view->backgroundBottomColor()}};
    QCOMPARE(shown.value(viewColor), chosen);
}

void TestPreferences::resetButtonFollowsDefault()
{
    auto *edge = child<ColorWidget>("edgeColor");
    auto *reset = child<QToolButton>("resetEdgeColor");
    QCOMPARE(edge->currentColor(), GLWidget::defaultEdgeColor);
    QVERIFY(!reset->isEnabled());
    edge->setCurrentColor(Qt::cyan);
    QVERIFY(reset->isEnabled());
    reset->click();
    QCOMPARE(edge->currentColor(), GLWidget::defaultEdgeColor);
    QCOMPARE(m_view->edgeColor(), GLWidget::defaultEdgeColor);
    QVERIFY(!reset->isEnabled());
}

void TestPreferences::pickerCancelRestoresColor()
{
    auto *fill = child<ColorWidget>("fillColor");
    const QColor before = fill->currentColor();
    m_prefs->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_prefs));
    QTest::mouseClick(fill, Qt::LeftButton);
    auto *picker = fill->findChild<QColorDialog *>(QStringLiteral("colorDialog"));
    QVERIFY(picker);
    QTRY_VERIFY(picker->isVisible());
    picker->setCurrentColor(QColor(1, 2, 3));
    // The change is live while the picker is up.
    QCOMPARE(m_view->fillColor(), QColor(1, 2, 3));
    picker->reject();
    QCOMPARE(fill->currentColor(), before);
    QCOMPARE(m_view->fillColor(), before);
}

void TestPreferences::cachingButtonsStoreAndMoveCache()
{
    auto *vbo = child<QRadioButton>("vboRadioButton");
    auto *none = child<QRadioButton>("noneRadioButton");
    if (!vbo->isEnabled())
        QSKIP("vertex buffer objects need OpenGL 1.5");
    QSignalSpy changed(m_prefs, &PreferencesDialog::cachingChanged);
    MeshDisplayCache &cache = m_window->displayCache();

    QSettings().setValue(QStringLiteral("PreferencesDialog/Caching"), 0);
    none->click();
    QCOMPARE(changed.count(), 0);

    vbo->click();
    QCOMPARE(QSettings().value(QStringLiteral("PreferencesDialog/Caching")).toInt(), 2);
    QCOMPARE(changed.count(), 1);
    QVERIFY(cache.isCaching());

    // The stored choice again changes nothing.
    vbo->click();
    QCOMPARE(changed.count(), 1);

    none->click();
    QCOMPARE(QSettings().value(QStringLiteral("PreferencesDialog/Caching")).toInt(), 0);
    QCOMPARE(changed.count(), 2);
    QVERIFY(!cache.isCaching());
}

void TestPreferences::cachingButtonsKeepTheDrawnModel()
{
    auto *vbo = child<QRadioButton>("vboRadioButton");
    auto *none = child<QRadioButton>("noneRadioButton");
    if (!vbo->isEnabled())
        QSKIP("vertex buffer objects need OpenGL 1.5");
    // Pixels are compared exactly, so the frame is drawn without multisampling.
    m_window->findChild<QAction *>(QStringLiteral("action_Anti_Aliasing"))->setChecked(false);
    QVERIFY(!m_view->multiSampling());

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("model.stl"));
    QVERIFY(
        batchtest::writeStl(path, meshtest::box(geom::Vector3f(-1.5f, 0, 1), geom::Vector3f(2.5f, 2, 4))));
    {
        ModalDialogAnswerer answerer;
        m_window->openFile(path);
        QVERIFY(answerer.seen().isEmpty());
    }
    QVERIFY(m_window->hasCurrentFile());
    m_prefs->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_prefs));

    const QImage first = grabFrame(*m_view);
    QVERIFY(!first.isNull());
    saveArtefact(first, QStringLiteral("preferences-caching-start"));
    // The model is on the frame: its centre is not the background of the corners.
    QVERIFY(first.pixel(first.width() / 2, first.height() / 2) != first.pixel(0, first.height() / 2));

    const MeshDisplayCache &cache = m_window->displayCache();
    // Whatever the start, the first two clicks each move the cache.
    QRadioButton *const order[] = {m_prefs->caching() == 2 ? none : vbo, m_prefs->caching() == 2 ? vbo : none,
                                   m_prefs->caching() == 2 ? none : vbo};
    int turn = 0;
    for (QRadioButton *button : order) {
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(button->isChecked());
        QCOMPARE(cache.isCaching(), button == vbo);
        const QImage frame = grabFrame(*m_view);
        saveArtefact(frame, QStringLiteral("preferences-caching-%1-%2")
                                .arg(++turn)
                                .arg(QLatin1String(button == vbo ? "vbo" : "none")));
        QCOMPARE(frame, first);
    }
}

void TestPreferences::cancelRestoresEverything()
{
    m_prefs->setCaching(0);
    m_prefs->setRenderingPipeline(0);
    m_prefs->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_prefs));

    const QColor fillBefore = child<ColorWidget>("fillColor")->currentColor();
    const QColor xRayTopBefore = child<ColorWidget>("xRayBackgroundTopColor")->currentColor();
    child<ColorWidget>("fillColor")->setCurrentColor(Qt::magenta);
    child<ColorWidget>("xRayBackgroundTopColor")->setCurrentColor(Qt::yellow);
    child<QGroupBox>("xRayColorsGroupBox")->setChecked(false);
    child<QCheckBox>("animateZoomCheckBox")->setChecked(false);
    child<QGroupBox>("animationGroupBox")->setChecked(false);
    child<QComboBox>("animationSpeedComboBox")->setCurrentIndex(2);
    QCOMPARE(m_view->animationDuration(), 100);
    if (child<QRadioButton>("vboRadioButton")->isEnabled()) {
        child<QRadioButton>("vboRadioButton")->click();
        QCOMPARE(QSettings().value(QStringLiteral("PreferencesDialog/Caching")).toInt(), 2);
    }
    if (child<QRadioButton>("shadersRadioButton")->isEnabled()) {
        child<QRadioButton>("shadersRadioButton")->click();
        QCOMPARE(QSettings().value(QStringLiteral("PreferencesDialog/RenderingPipeline")).toInt(), 1);
    }
    QCOMPARE(m_view->fillColor(), QColor(Qt::magenta));

    QSignalSpy finished(m_prefs, &QDialog::finished);
    QTest::keyClick(m_prefs, Qt::Key_Escape);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), 0);
    QVERIFY(!m_prefs->isVisible());

    QCOMPARE(child<ColorWidget>("fillColor")->currentColor(), fillBefore);
    QCOMPARE(child<ColorWidget>("xRayBackgroundTopColor")->currentColor(), xRayTopBefore);
    QCOMPARE(m_view->fillColor(), fillBefore);
    QVERIFY(child<QCheckBox>("animateZoomCheckBox")->isChecked());
    QVERIFY(child<QGroupBox>("animationGroupBox")->isChecked());
    QCOMPARE(child<QComboBox>("animationSpeedComboBox")->currentIndex(), 1);
    QCOMPARE(m_view->animationDuration(), 200);
    QCOMPARE(m_prefs->caching(), 0);
    QCOMPARE(m_prefs->renderingPipeline(), 0);
    QCOMPARE(QSettings().value(QStringLiteral("PreferencesDialog/Caching")).toInt(), 0);
    QCOMPARE(QSettings().value(QStringLiteral("PreferencesDialog/RenderingPipeline")).toInt(), 0);
    QVERIFY(!m_window->displayCache().isCaching());
    // The x-ray colours switch is not part of what Cancel restores.
    QVERIFY(!child<QGroupBox>("xRayColorsGroupBox")->isChecked());
    // Cancel writes none of the colour keys.
    QVERIFY(!QSettings().contains(QStringLiteral("GLWidget/FillColor")));
}

void TestPreferences::okWritesKeysThenWarns()
{
    m_prefs->setCaching(0);
    m_prefs->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_prefs));
    child<ColorWidget>("edgeColor")->setCurrentColor(QColor(1, 2, 3));
    child<ColorWidget>("xRayFillColor")->setCurrentColor(QColor(4, 5, 6));
    child<QComboBox>("animationSpeedComboBox")->setCurrentIndex(0);

    QStringList keysWhileWarning;
    ModalDialogAnswerer answerer({[&keysWhileWarning](QWidget *dialog) {
        keysWhileWarning = QSettings().allKeys();
        qobject_cast<QMessageBox *>(dialog)->button(QMessageBox::Ok)->click();
    }});
    child<QDialogButtonBox>("buttonBox")->button(QDialogButtonBox::Ok)->click();

    QCOMPARE(answerer.seen().size(), 1);
    QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Animation"));
    QCOMPARE(answerer.seen().at(0).text,
             QStringLiteral("No caching is selected, animation frame rates may suffer."));
    const QStringList expected = {"GLWidget/EdgeColor",
                                  "GLWidget/BackFillColor",
                                  "GLWidget/BackgroundBottomColor",
                                  "GLWidget/BackgroundTopColor",
                                  "GLWidget/FillColor",
                                  "GLWidget/XRayColors",
                                  "GLWidget/XRayBackgroundTopColor",
                                  "GLWidget/XRayBackgroundBottomColor",
                                  "GLWidget/XRayFillColor",
                                  "GLWidget/AnimateClipPlane",
                                  "GLWidget/AnimateZoom",
                                  "GLWidget/Animation",
                                  "GLWidget/AnimationSpeed"};
    for (const QString &key : expected)
        QVERIFY2(keysWhileWarning.contains(key), qPrintable(key));
    QSettings settings;
    QCOMPARE(readColorSetting(settings, QStringLiteral("GLWidget/EdgeColor"), Qt::white), QColor(1, 2, 3));
    QCOMPARE(readColorSetting(settings, QStringLiteral("GLWidget/XRayFillColor"), Qt::white),
             QColor(4, 5, 6));
    QCOMPARE(settings.value(QStringLiteral("GLWidget/AnimationSpeed")).toInt(), 0);
    QCOMPARE(settings.value(QStringLiteral("GLWidget/Animation")).toBool(), true);

    // A new window reads what OK stored.
    m_window.reset(new MainWindow);
    auto *prefs = m_window->findChild<PreferencesDialog *>(QStringLiteral("preferencesDialog"));
    QCOMPARE(prefs->findChild<ColorWidget *>(QStringLiteral("edgeColor"))->currentColor(), QColor(1, 2, 3));
    QCOMPARE(prefs->findChild<QComboBox *>(QStringLiteral("animationSpeedComboBox"))->currentIndex(), 0);
}

void TestPreferences::speedLabels_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("duration");

    QTest::newRow("slow is longest") << 0 << "Slow" << 300;
    QTest::newRow("normal") << 1 << "Normal" << 200;
    QTest::newRow("fast is shortest") << 2 << "Fast" << 100;
}

void TestPreferences::speedLabels()
{
    QFETCH(int, index);
    QFETCH(QString, label);
    QFETCH(int, duration);

    auto *speed = child<QComboBox>("animationSpeedComboBox");
    speed->setCurrentIndex((index + 1) % 3);
    speed->setCurrentIndex(index);
    QCOMPARE(speed->currentText(), label);
    QCOMPARE(m_view->animationDuration(), duration);
}

int main(int argc, char *argv[])
{
    return widgettest::windowTestMain<TestPreferences>(argc, argv);
}

#include "tst_preferences.moc"
