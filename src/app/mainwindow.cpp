#include "app/mainwindow.h"

#include "app/colorsetting.h"
#include "app/colorwidget.h"
#include "app/exportslicesdialog.h"
#include "app/mainwindow_p.h"
#include "app/newsmodule.h"
#include "app/preferencesdialog.h"
#include "app/transformpanel.h"
#include "batch/stagedoutput.h"
#include "geom/mesh/stlmesh.h"
#include "propertybrowser/qtpropertybrowser.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFileSystemWatcher>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QSettings>
#include <QSlider>
#include <QToolButton>
#include <QUndoStack>

#include <cmath>
#include <memory>

// Resources of a static library are registered by hand, outside any namespace.
static void initQuarnResources()
{
    Q_INIT_RESOURCE(quarn);
}

namespace {

// The key combinations of the window's actions win over the text fields of the docks: a field
// would otherwise take Ctrl+Z for its own undo.
class ShortcutFilter : public QObject
{
public:
    using QObject::QObject;
    ~ShortcutFilter() override = default;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ShortcutOverride)
            return true;
        return QObject::eventFilter(watched, event);
    }
};

// The information panel's editors: line edits whose text can be selected and copied, not changed.
class ReadOnlyLineEditFactory : public QtLineEditFactory
{
public:
    using QtLineEditFactory::QtLineEditFactory;

protected:
    QWidget *createEditor(QtStringPropertyManager *manager, QtProperty *property, QWidget *parent) override
    {
        auto *editor = qobject_cast<QLineEdit *>(QtLineEditFactory::createEditor(manager, property, parent));
        if (editor)
            editor->setReadOnly(true);
        return editor;
    }
};

const QString lastWindowStateKey = QStringLiteral("MainWindow/WindowState");
const QString recentFilesKey = QStringLiteral("MainWindow/RecentFiles");
const QString imagesDirectory = QStringLiteral(":/resources/images");
// The clip slider's resolution: its range spans the scene's height in this many steps each way.
constexpr int clipSliderScale = 1000000000;

bool commandLineFilePending = true;

// The panel's text of a measure, "%L1" in the default locale: three decimals for 0 and from 1 up;
// below 1 four significant digits, which three decimals would not show (a model in metres), and
// in exponent form where the leading zeros would outnumber them (below 1e-4).
QString measureText(double value)
{
    const double magnitude = std::fabs(value);
    if (value == 0 || magnitude >= 1 || !std::isfinite(value))
        return QStringLiteral("%L1").arg(value, 0, 'f', 3);
    int exponent = int(std::floor(std::log10(magnitude)));
    // Four digits of 0.099999994 are 0.1000, of the next power of ten.
    if (std::round(magnitude * std::pow(10.0, 3 - exponent)) >= 10000)
        ++exponent;
    if (exponent < -4)
        return QStringLiteral("%L1").arg(value, 0, 'e', 3);
    return QStringLiteral("%L1").arg(value, 0, 'f', 3 - exponent);
}

// The image file under imagesDirectory whose pictures equal icon's, or an empty text.
QString imageFileOf(const QIcon &icon, const QVector<std::pair<QString, QIcon>> &candidates)
{
    const QList<QSize> sizes = icon.availableSizes();
    for (const auto &candidate : candidates) {
        if (candidate.second.availableSizes() != sizes)
            continue;
        bool equal = true;
        for (const QSize &size : sizes) {
            if (icon.pixmap(size).toImage() != candidate.second.pixmap(size).toImage()) {
                equal = false;
                break;
            }
        }
        if (equal)
            return candidate.first;
    }
    return QString();
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_ui(new Ui::MainWindow)
    , d(new MainWindowPrivate)
{
    initQuarnResources();
    // A save or export cut short by SIGINT, SIGTERM or SIGHUP leaves no temporary file behind.
    StagedOutput::removeTemporaryFilesOnSignals();
    QSettings settings;

    // These objects are named before the form is built: its connection by name wires the
    // window's slots to them.
    d->fileSystemWatcher = new QFileSystemWatcher(this);
    d->fileSystemWatcher->setObjectName(QStringLiteral("fileSystemWatcher"));
    d->undoStack = new QUndoStack(this);
    d->undoStack->setObjectName(QStringLiteral("undoStack"));
    d->clipSlider = new QSlider(Qt::Vertical, this);
    d->clipSlider->setObjectName(QStringLiteral("clipSlider"));
    d->clipSlider->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Expanding);
    updateClipSliderRange();
    d->clipToggle = new QToolButton(this);
    d->clipToggle->setObjectName(QStringLiteral("clipToggle"));
    d->clipToggle->setIcon(QIcon(QStringLiteral(":/resources/images/clip_none.png")));
    d->clipToggle->setProperty("Clip", QStringLiteral("None"));
    d->exportSlicesDialog = new ExportSlicesDialog(this);
    d->exportSlicesDialog->setObjectName(QStringLiteral("exportSlicesDialog"));
    d->preferencesDialog = new PreferencesDialog(this);
    d->preferencesDialog->setObjectName(QStringLiteral("preferencesDialog"));
    readPreferences(settings);

    d->progressBar = new QProgressBar(this);
    d->progressBar->setObjectName(QStringLiteral("progressBar"));
    d->progressBar->setTextVisible(false);
    d->progressBar->setRange(0, 0);
    d->progressBar->setValue(-1);
    d->progressDialog = new QProgressDialog(this);
    d->progressDialog->reset();

    m_ui->setupUi(this);

    d->shortcutFilter = new ShortcutFilter(this);
    QAction *undoAction = d->undoStack->createUndoAction(this, QString());
    undoAction->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_Z));
    m_ui->menu_Edit->addAction(undoAction);
    QAction *redoAction = d->undoStack->createRedoAction(this, QString());
    redoAction->setShortcut(QKeySequence(Qt::CTRL + Qt::SHIFT + Qt::Key_Z));
    m_ui->menu_Edit->addAction(redoAction);
    m_ui->clipToolBar->addWidget(d->clipSlider);
    m_ui->clipToolBar->addWidget(d->clipToggle);
    m_ui->statusBar->addPermanentWidget(d->progressBar, 0);
    d->progressBar->hide();
    QDesktopServices::setUrlHandler(QStringLiteral("license"), this, "viewLicense");

    connect(m_ui->action_Exit, &QAction::triggered, qApp, &QApplication::closeAllWindows);
    connect(m_ui->action_About_Qt, &QAction::triggered, qApp, &QApplication::aboutQt);
    connect(m_ui->clipToolBar, &QToolBar::orientationChanged, this,
            &MainWindow::on_clipToolBar_orientationChanged);

    applyViewSettings(settings);
    completeViewMenu();
    buildInformationPanel();
    d->baseTitle = windowTitle();

    for (QAction *&action : d->recentFileActions) {
        action = new QAction(m_ui->menu_File);
        action->setVisible(false);
        connect(action, &QAction::triggered, this, &MainWindow::openRecentFile);
        m_ui->menu_File->insertAction(m_ui->action_Exit, action);
    }
    m_ui->menu_File->insertSeparator(m_ui->action_Exit);

    retranslate();
    on_preferencesDialog_colorChanged();
    resize(size().expandedTo(sizeHint()));
    d->defaultLayout = saveState(0);
    restoreState(settings.value(lastWindowStateKey).toByteArray(), 0);

    const QList<QDockWidget *> docks = findChildren<QDockWidget *>();
    for (QDockWidget *dock : docks) {
        const QList<QWidget *> widgets = dock->findChildren<QWidget *>();
        for (QWidget *widget : widgets)
            widget->installEventFilter(d->shortcutFilter);
    }

    d->newsDialog = createNewsDialog(this);
    m_ui->action_News->setEnabled(d->newsDialog != nullptr);
}

MainWindow::~MainWindow()
{
    delete d->newsDialog;
    delete d;
    delete m_ui;
}

bool MainWindow::hasCurrentFile() const
{
    return !d->currentFile.isEmpty();
}

bool MainWindow::isBusy() const
{
    return !d->progressBar->isHidden();
}

void MainWindow::dropCommandLineFile()
{
    commandLineFilePending = false;
}

void MainWindow::readPreferences(QSettings &settings)
{
    PreferencesDialog *prefs = d->preferencesDialog;
    // Each colour key names the swatch of the same name.
    const auto readColor = [&settings, prefs](const char *swatchName, const QColor &def) {
        QString key = QLatin1String(swatchName);
        key[0] = key[0].toUpper();
        prefs->findChild<ColorWidget *>(QLatin1String(swatchName))
            ->setCurrentColor(readColorSetting(settings, QStringLiteral("GLWidget/") + key, def));
    };
    const auto readFlag = [&settings](QAbstractButton *button, const char *key) {
        button->setChecked(settings.value(QLatin1String(key), button->isChecked()).toBool());
    };
    readColor("backgroundTopColor", GLWidget::defaultBackgroundTopColor);
    readColor("backgroundBottomColor", GLWidget::defaultBackgroundBottomColor);
    readColor("edgeColor", GLWidget::defaultEdgeColor);
    readColor("fillColor", GLWidget::defaultFillColor);
    readColor("backFillColor", GLWidget::defaultBackFillColor);
    auto *xRayColors = prefs->findChild<QGroupBox *>(QStringLiteral("xRayColorsGroupBox"));
    xRayColors->setChecked(settings.value(QStringLiteral("GLWidget/XRayColors"), true).toBool());
    readColor("xRayBackgroundTopColor", GLWidget::defaultXRayBackgroundTopColor);
    readColor("xRayBackgroundBottomColor", GLWidget::defaultXRayBackgroundBottomColor);
    readColor("xRayFillColor", GLWidget::defaultXRayFillColor);
    readFlag(prefs->findChild<QCheckBox *>(QStringLiteral("animateClipPlaneCheckBox")),
             "GLWidget/AnimateClipPlane");
    readFlag(prefs->findChild<QCheckBox *>(QStringLiteral("animateZoomCheckBox")), "GLWidget/AnimateZoom");
    auto *animation = prefs->findChild<QGroupBox *>(QStringLiteral("animationGroupBox"));
    animation->setChecked(
        settings.value(QStringLiteral("GLWidget/Animation"), animation->isChecked()).toBool());
    auto *speed = prefs->findChild<QComboBox *>(QStringLiteral("animationSpeedComboBox"));
    speed->setCurrentIndex(
        settings.value(QStringLiteral("GLWidget/AnimationSpeed"), speed->currentIndex()).toInt());
}

void MainWindow::applyViewSettings(QSettings &settings)
{
    GLWidget *view = m_ui->widget;
    const auto flag = [&settings](const char *key) {
        return settings.value(QLatin1String(key), false).toBool();
    };
    view->setLines(flag("GLWidget/Lines"));
    view->setHiddenLines(flag("GLWidget/HiddenLines"));
    view->setWireframe(flag("GLWidget/Wireframe"));
    // X-ray shading needs shader programs: a stored choice is ignored on older drivers.
    view->setXRayShading(GLWidget::hasOpenGL20() && flag("GLWidget/XRayShading"));
    view->setPerspective(flag("GLWidget/Perspective"));
    view->setBackFaceCulling(flag("GLWidget/BackFaceCulling"));
    view->setProperty("ShowOrigin", flag("GLWidget/ShowOrigin"));
    view->setMouseWrapAround(flag("GLWidget/MouseWrapAround"));
    const QVariant multiSampling = settings.value(QStringLiteral("GLWidget/MultiSampling"));
    if (!multiSampling.isNull())
        view->setMultiSampling(multiSampling.toBool());
    view->setClipOffset(1.0);
    view->setViewingAngle(0, false);
    view->setViewingAngle(7, false);
    d->preferencesDialog->setGLWidget(view);

    // Setting a checked state runs the action's toggled slot with the view's own state.
    m_ui->action_Line_Rendering->setChecked(view->lines());
    m_ui->action_Hidden_Line_Rendering->setChecked(view->hiddenLines());
    m_ui->action_Hidden_Line_Rendering->setEnabled(view->lines());
    m_ui->action_Wireframe_Rendering->setChecked(view->wireframe());
    m_ui->action_X_Ray_Shading->setChecked(view->xRayShading());
    m_ui->action_Perspective->setChecked(view->perspective());
    m_ui->action_Show_Flipped_Facets->setChecked(!view->backFaceCulling());
    m_ui->action_Show_Origin->setChecked(view->property("ShowOrigin").toBool());
    m_ui->action_Mouse_Wrap_Around->setChecked(view->mouseWrapAround());
    m_ui->action_Anti_Aliasing->setChecked(view->multiSampling());
}

void MainWindow::completeViewMenu()
{
    m_ui->newsToolBar->toggleViewAction()->setVisible(false);
    QMenu *menu = m_ui->menu_View;
    const QList<QDockWidget *> docks = findChildren<QDockWidget *>();
    for (QDockWidget *dock : docks) {
        QAction *toggle = dock->toggleViewAction();
        toggle->setStatusTip(tr("Toggle %1 panel").arg(dock->windowTitle()));
        menu->insertAction(m_ui->action_Reset, toggle);
    }
    menu->insertSeparator(m_ui->action_Reset);
    const QList<QToolBar *> toolBars = findChildren<QToolBar *>();
    for (QToolBar *toolBar : toolBars) {
        QAction *toggle = toolBar->toggleViewAction();
        toggle->setStatusTip(tr("Toggle %1 toolbar").arg(toolBar->windowTitle()));
        menu->insertAction(m_ui->action_Reset, toggle);
    }
    menu->insertSeparator(m_ui->action_Reset);

    QAction *informationToggle = m_ui->informationDockWidget->toggleViewAction();
    connect(informationToggle, &QAction::toggled, m_ui->action_Information, &QAction::setChecked);
    connect(m_ui->action_Information, &QAction::triggered, informationToggle, &QAction::trigger);
}

void MainWindow::buildInformationPanel()
{
    d->propertyManager = new QtStringPropertyManager(this);
    auto *factory = new ReadOnlyLineEditFactory(this);
    QtStringPropertyManager *manager = d->propertyManager;
    const QString axisNames[] = {tr("X"), tr("Y"), tr("Z")};
    for (int a = 0; a < 3; ++a) {
        d->axisProperties[a] = manager->addProperty(axisNames[a]);
        d->deltaProperties[a] = manager->addProperty(tr("Delta"));
        d->minProperties[a] = manager->addProperty(tr("Min"));
        d->maxProperties[a] = manager->addProperty(tr("Max"));
        d->axisProperties[a]->addSubProperty(d->deltaProperties[a]);
        d->axisProperties[a]->addSubProperty(d->minProperties[a]);
        d->axisProperties[a]->addSubProperty(d->maxProperties[a]);
    }
    d->trianglesProperty = manager->addProperty(tr("Triangles"));
    d->surfaceAreaProperty = manager->addProperty(tr("Surface Area"));
    d->volumeProperty = manager->addProperty(tr("Volume"));
    d->fileProperty = manager->addProperty(tr("File"));
    {
        // The toolkit's own, translated words for a file's size and date.
        QFileSystemModel model;
        d->fileSizeProperty = manager->addProperty(model.headerData(1, Qt::Horizontal).toString());
        d->fileDateProperty = manager->addProperty(model.headerData(3, Qt::Horizontal).toString());
    }
    d->fileProperty->addSubProperty(d->fileSizeProperty);
    d->fileProperty->addSubProperty(d->fileDateProperty);

    TreePropertyBrowser *browser = m_ui->informationPropertyBrowser;
    browser->setAlternatingRowColors(false);
    const QList<QtProperty *> topLevel = {d->axisProperties[0], d->axisProperties[1],   d->axisProperties[2],
                                          d->trianglesProperty, d->surfaceAreaProperty, d->volumeProperty,
                                          d->fileProperty};
    for (QtProperty *property : topLevel)
        browser->addProperty(property);
    browser->setFactoryForManager(manager,
                                  static_cast<QtAbstractEditorFactory<QtStringPropertyManager> *>(factory));
    browser->setResizeMode(QtTreePropertyBrowser::ResizeToContents);
    for (QtProperty *property : topLevel) {
        const QList<QtBrowserItem *> items = browser->items(property);
        for (QtBrowserItem *item : items)
            browser->setExpanded(item, false);
    }
    updateFileInformation();
    // Sized to the contents once; the user resizes the columns from here on.
    browser->setResizeMode(QtTreePropertyBrowser::Interactive);
    // The entries made the panel taller than the form's layouts have it; the window takes its
    // size from them before it is first shown.
    browser->updateGeometry();
}

void MainWindow::retranslate()
{
    m_ui->retranslateUi(this);

    QVector<std::pair<QString, QIcon>> images;
    const QStringList entries = QDir(imagesDirectory).entryList(QDir::Files);
    for (const QString &entry : entries) {
        const QString path = imagesDirectory + QLatin1Char('/') + entry;
        images.append({path, QIcon(path)});
    }
    static const QRegularExpression trailingDots(QStringLiteral("\\.\\.\\.$"));
    const QList<QToolBar *> toolBars = findChildren<QToolBar *>();
    for (QToolBar *toolBar : toolBars) {
        const QList<QAction *> actions = toolBar->actions();
        for (QAction *action : actions) {
            if (action->text().isEmpty())
                continue;
            QString tip =
                QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" "
                               "\"http://www.w3.org/TR/REC-html40/strict.dtd\">\n"
                               "<html><head><meta name=\"qrichtext\" content=\"1\" /></head><body>");
            const QIcon icon = action->icon();
            const QSize size = icon.actualSize(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
            if (size.width() >= 1 && size.width() == size.height())
                tip += QStringLiteral("<img src=\"%1\" /> ").arg(imageFileOf(icon, images));
            QString title = action->text();
            title.remove(QLatin1Char('&'));
            title.remove(trailingDots);
            tip += QStringLiteral("<b>") + title.toHtmlEscaped() + QStringLiteral("</b>");
            if (!action->statusTip().isEmpty())
                tip += QStringLiteral("<br />") + action->statusTip().toHtmlEscaped();
            tip += QStringLiteral("</body></html>");
            action->setToolTip(tip);
        }
    }
}

void MainWindow::updateFileInformation()
{
    QtStringPropertyManager *manager = d->propertyManager;
    if (d->mesh) {
        // A model matrix that only moves the part (as after every load) changes neither radius,
        // area nor volume, and moves the bounds by the same amount: no copy of the mesh.
        const QMatrix4x4 &m = d->modelMatrix;
        bool translationOnly = m(3, 3) == 1;
        for (int row = 0; row < 4; ++row) {
            for (int column = 0; column < 3; ++column)
                translationOnly = translationOnly && m(row, column) == (row == column ? 1.0f : 0.0f);
        }
        std::unique_ptr<geom::StlMesh> copy;
        const geom::StlMesh *measured = d->mesh.get();
        if (translationOnly) {
            d->sceneBounds = d->mesh->bounds();
            d->sceneBounds.translate(geom::Vector3f(m(0, 3), m(1, 3), m(2, 3)));
        } else {
            copy.reset(d->mesh->transformed(m, true));
            measured = copy.get();
            d->sceneBounds = copy->bounds();
        }
        d->sceneRadius = measured->radius();
        manager->setValue(d->trianglesProperty, QStringLiteral("%L1").arg(measured->indices().size()));
        manager->setValue(d->surfaceAreaProperty, measureText(measured->area()));
        manager->setValue(d->volumeProperty, measureText(measured->volume()));
    } else {
        d->sceneBounds.reset();
        d->sceneRadius = 0;
        manager->setValue(d->trianglesProperty, QString());
        manager->setValue(d->surfaceAreaProperty, QString());
        manager->setValue(d->volumeProperty, QString());
    }

    TransformPanel *panel = m_ui->transformPanel;
    if (d->sceneBounds.isValid()) {
        const geom::Vector3f minimum = d->sceneBounds.min();
        const geom::Vector3f maximum = d->sceneBounds.max();
        for (int a = 0; a < 3; ++a) {
            const float low = a == 0 ? minimum.x : a == 1 ? minimum.y : minimum.z;
            const float high = a == 0 ? maximum.x : a == 1 ? maximum.y : maximum.z;
            const QString delta = measureText(high - low);
            manager->setValue(d->axisProperties[a],
                              QStringLiteral("%1 [%2, %3]").arg(delta, measureText(low), measureText(high)));
            manager->setValue(d->deltaProperties[a], delta);
            manager->setValue(d->minProperties[a], measureText(low));
            manager->setValue(d->maxProperties[a], measureText(high));
        }
        panel->setBoundsMinimum(minimum);
        panel->setBoundsMaximum(maximum);
    } else {
        for (int a = 0; a < 3; ++a) {
            for (QtProperty *property :
                 {d->axisProperties[a], d->deltaProperties[a], d->minProperties[a], d->maxProperties[a]})
                manager->setValue(property, QString());
        }
        // A flat part (zero extent on an axis) still has real bounds, and the transform panel
        // places it by them; only a window without points gets zero corners.
        const geom::Vector3f &low = d->sceneBounds.min();
        const geom::Vector3f &high = d->sceneBounds.max();
        const bool holdsPoints = d->mesh && std::isfinite(low.x) && std::isfinite(low.y) &&
                                 std::isfinite(low.z) && std::isfinite(high.x) && std::isfinite(high.y) &&
                                 std::isfinite(high.z) && low.x <= high.x && low.y <= high.y &&
                                 low.z <= high.z;
        panel->setBoundsMinimum(holdsPoints ? low : geom::Vector3f(0, 0, 0));
        panel->setBoundsMaximum(holdsPoints ? high : geom::Vector3f(0, 0, 0));
    }

    if (hasCurrentFile()) {
        const QFileInfo info(d->currentFile);
        qint64 size = info.size();
        QString unit = QStringLiteral("TB");
        const QStringList units = QStringLiteral("bytes KB MB GB").split(QLatin1Char(' '));
        for (const QString &word : units) {
            if (size < 1024) {
                unit = word;
                break;
            }
            size >>= 10;
        }
        const QByteArray sizeText = QByteArrayLiteral("%1 ") + unit.toLatin1();
        manager->setValue(d->fileProperty, QDir::toNativeSeparators(d->currentFile));
        manager->setValue(d->fileSizeProperty,
                          QCoreApplication::translate("QFileSystemModel", sizeText.constData())
                              .arg(locale().toString(size)));
        manager->setValue(d->fileDateProperty, locale().toString(info.lastModified(), QLocale::ShortFormat));
    } else {
        manager->setValue(d->fileProperty, QString());
        manager->setValue(d->fileSizeProperty, QString());
        manager->setValue(d->fileDateProperty, QString());
    }
}

void MainWindow::updateWindowTitle()
{
    if (hasCurrentFile())
        setWindowTitle(QStringLiteral("%1 - %2").arg(QFileInfo(d->currentFile).fileName(), d->baseTitle));
    else
        setWindowTitle(d->baseTitle);
}

void MainWindow::updateClipSliderRange()
{
    QSlider *slider = d->clipSlider;
    const double diameter = 2 * d->sceneRadius;
    // A mesh without extent has no height to clip; it gets the empty window's range instead of
    // a division by zero.
    if (!d->mesh || !std::isfinite(diameter) || !(diameter > 0)) {
        slider->setMinimum(-clipSliderScale);
        slider->setMaximum(clipSliderScale);
        slider->setValue(slider->maximum());
        slider->setSingleStep(0);
        slider->setPageStep(0);
        return;
    }
    const double scale = clipSliderScale;
    const double height = double(d->sceneBounds.max().z - d->sceneBounds.min().z);
    const double span = double(slider->maximum()) - slider->minimum();
    const double fraction =
        span > 0 ? (slider->value() - slider->minimum()) / span : double(slider->value()) - slider->minimum();
    // A tiny part would give steps, or rounding a range, beyond what an int holds.
    const auto clamped = [](double value, double low, double high) {
        return int(std::trunc(qBound(low, value, high)));
    };
    slider->setMaximum(clamped(height / diameter * scale, 0, scale));
    slider->setMinimum(clamped(-height / diameter * scale, -scale, 0));
    const double range = double(slider->maximum()) - slider->minimum();
    slider->setValue(clamped(slider->minimum() + range * fraction, slider->minimum(), slider->maximum()));
    slider->setSingleStep(clamped(0.02 / diameter * scale, 0, range));
    slider->setPageStep(clamped(0.2 / diameter * scale, 0, range));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    Q_UNUSED(event)
    const GLWidget *view = m_ui->widget;
    QSettings settings;
    settings.setValue(QStringLiteral("GLWidget/Lines"), view->lines());
    settings.setValue(QStringLiteral("GLWidget/HiddenLines"), view->hiddenLines());
    settings.setValue(QStringLiteral("GLWidget/Wireframe"), view->wireframe());
    settings.setValue(QStringLiteral("GLWidget/XRayShading"), view->xRayShading());
    settings.setValue(QStringLiteral("GLWidget/Perspective"), view->perspective());
    settings.setValue(QStringLiteral("GLWidget/BackFaceCulling"), view->backFaceCulling());
    settings.setValue(QStringLiteral("GLWidget/ShowOrigin"), view->property("ShowOrigin").toBool());
    settings.setValue(QStringLiteral("GLWidget/MouseWrapAround"), view->mouseWrapAround());
    settings.setValue(QStringLiteral("GLWidget/MultiSampling"), view->multiSampling());
    settings.setValue(lastWindowStateKey, saveState(0));
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasFormat(QStringLiteral("text/uri-list")))
        event->acceptProposedAction();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Once per process: a later show, or another window, would replace the user's file and
    // drop its undo history.
    if (event->spontaneous() || !commandLineFilePending)
        return;
    commandLineFilePending = false;
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1) {
        const QString fileName = arguments.at(1);
        QMetaObject::invokeMethod(
            this, [this, fileName] { openFile(fileName); }, Qt::QueuedConnection);
    }
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        retranslate();
}

void MainWindow::setCurrentFile(const QString &fileName)
{
    d->currentFile = fileName;
    if (!fileName.isEmpty()) {
        QSettings settings;
        QStringList files = settings.value(recentFilesKey).toStringList();
        files.removeAll(fileName);
        files.prepend(fileName);
        while (files.size() > MainWindowPrivate::recentFileCount)
            files.removeLast();
        settings.setValue(recentFilesKey, files);
    }
    updateFileInformation();
    updateWindowTitle();

    const QStringList watched = d->fileSystemWatcher->files();
    if (!watched.isEmpty())
        d->fileSystemWatcher->removePaths(watched);
    if (!fileName.isEmpty())
        d->fileSystemWatcher->addPath(fileName);

    const bool open = hasCurrentFile();
    const bool compressed = d->currentFile.endsWith(QLatin1String(".qrn"), Qt::CaseInsensitive);
    m_ui->action_Quarn->setEnabled(!compressed && d->mesh);
    m_ui->action_Quarn->setVisible(!compressed);
    m_ui->action_Unquarn->setEnabled(compressed);
    m_ui->action_Unquarn->setVisible(compressed);
    m_ui->action_Close->setEnabled(open);
    m_ui->action_Save_As->setEnabled(open);
    m_ui->action_Export_Slices->setEnabled(open);
    m_ui->action_Ruler->setChecked(false);
    m_ui->action_Ruler->setEnabled(open);
}

void MainWindow::openRecentFile()
{
    if (auto *action = qobject_cast<QAction *>(sender()))
        openFile(action->data().toString());
}

void MainWindow::removeRecentFile(const QString &fileName)
{
    if (fileName.isEmpty())
        return;
    QSettings settings;
    QStringList files = settings.value(recentFilesKey).toStringList();
    files.removeAll(fileName);
    settings.setValue(recentFilesKey, files);
}

void MainWindow::on_menu_File_aboutToShow()
{
    const QStringList files = QSettings().value(recentFilesKey).toStringList();
    const int shown = qMin(files.size(), int(MainWindowPrivate::recentFileCount));
    for (int i = 0; i < MainWindowPrivate::recentFileCount; ++i) {
        QAction *action = d->recentFileActions[i];
        if (i >= shown) {
            action->setVisible(false);
            continue;
        }
        const QString &file = files.at(i);
        QString name = QFileInfo(file).fileName();
        name.replace(QLatin1Char('&'), QLatin1String("&&"));
        action->setData(file);
        action->setStatusTip(QDir::toNativeSeparators(file));
        action->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(name));
        action->setVisible(true);
    }
}

void MainWindow::on_clipToolBar_orientationChanged(Qt::Orientation orientation)
{
    d->clipSlider->setOrientation(orientation);
    if (orientation == Qt::Vertical)
        d->clipSlider->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Expanding);
    else
        d->clipSlider->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::MinimumExpanding);
}
