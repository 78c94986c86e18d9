#include "app/preferencesdialog.h"

#include "ui_preferencesdialog.h"
#include "view/glwidget.h"

#include <QButtonGroup>
#include <QGLFormat>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

namespace {

const QString renderingPipelineKey = QStringLiteral("PreferencesDialog/RenderingPipeline");
const QString cachingKey = QStringLiteral("PreferencesDialog/Caching");
const char oldValueProperty[] = "OldValue";
const char oldCurrentColorProperty[] = "OldCurrentColor";

void clickButton(QButtonGroup *group, int id)
{
    QAbstractButton *button = group->button(id);
    if (button && button->isEnabled())
        button->click();
}

} // namespace

PreferencesDialog::PreferencesDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::PreferencesDialog)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_ui->setupUi(this);

    m_renderingPipelineGroup = new QButtonGroup(this);
    m_renderingPipelineGroup->addButton(m_ui->fixedRadioButton, 0);
    m_renderingPipelineGroup->addButton(m_ui->shadersRadioButton, 1);
    m_cachingGroup = new QButtonGroup(this);
    m_cachingGroup->addButton(m_ui->noneRadioButton, 0);
    m_cachingGroup->addButton(m_ui->vboRadioButton, 2);

    // The view does not animate its clip plane.
    m_ui->animateClipPlaneCheckBox->hide();
    m_ui->shadersRadioButton->setEnabled(GLWidget::hasOpenGL20());
    m_ui->vboRadioButton->setEnabled(GLWidget::hasOpenGL15());

    // The Reset buttons start in the state of their swatches.
    on_backgroundTopColor_currentColorChanged(m_ui->backgroundTopColor->currentColor());
    on_backgroundBottomColor_currentColorChanged(m_ui->backgroundBottomColor->currentColor());
    on_edgeColor_currentColorChanged(m_ui->edgeColor->currentColor());
    on_fillColor_currentColorChanged(m_ui->fillColor->currentColor());
    on_backFillColor_currentColorChanged(m_ui->backFillColor->currentColor());
    on_xRayBackgroundTopColor_currentColorChanged(m_ui->xRayBackgroundTopColor->currentColor());
    on_xRayBackgroundBottomColor_currentColorChanged(m_ui->xRayBackgroundBottomColor->currentColor());
    on_xRayFillColor_currentColorChanged(m_ui->xRayFillColor->currentColor());

    for (ColorWidget *swatch : {m_ui->backgroundTopColor, m_ui->backgroundBottomColor, m_ui->edgeColor,
                                m_ui->fillColor, m_ui->backFillColor})
        connect(swatch, &ColorWidget::currentColorChanged, this, &PreferencesDialog::colorChanged);
    connect(m_ui->xRayColorsGroupBox, &QGroupBox::toggled, this, &PreferencesDialog::colorChanged);
    for (ColorWidget *swatch :
         {m_ui->xRayBackgroundTopColor, m_ui->xRayBackgroundBottomColor, m_ui->xRayFillColor})
        connect(swatch, &ColorWidget::currentColorChanged, this, &PreferencesDialog::colorChanged);

    connect(m_renderingPipelineGroup, &QButtonGroup::idClicked, this,
            &PreferencesDialog::renderingPipeline_clicked);
    connect(m_cachingGroup, &QButtonGroup::idClicked, this, &PreferencesDialog::caching_clicked);
}

PreferencesDialog::~PreferencesDialog()
{
    delete m_ui;
}

void PreferencesDialog::setGLWidget(GLWidget *view)
{
    if (m_glWidget) {
        disconnect(m_glWidget, &GLWidget::useDisplayListsChanged, this,
                   &PreferencesDialog::glWidget_useDisplayListsChanged);
        disconnect(m_ui->animateClipPlaneCheckBox, &QCheckBox::toggled, m_glWidget,
                   &GLWidget::setAnimateClipPlane);
        disconnect(m_ui->animateZoomCheckBox, &QCheckBox::toggled, m_glWidget, &GLWidget::setAnimateZoom);
        disconnect(m_ui->animationGroupBox, &QGroupBox::toggled, m_glWidget, &GLWidget::setAnimationEnabled);
    }
    m_glWidget = view;
    if (!view)
        return;
    connect(view, &GLWidget::useDisplayListsChanged, this,
            &PreferencesDialog::glWidget_useDisplayListsChanged);
    connect(m_ui->animateClipPlaneCheckBox, &QCheckBox::toggled, view, &GLWidget::setAnimateClipPlane);
    connect(m_ui->animateZoomCheckBox, &QCheckBox::toggled, view, &GLWidget::setAnimateZoom);
    connect(m_ui->animationGroupBox, &QGroupBox::toggled, view, &GLWidget::setAnimationEnabled);

    QSettings settings;
    const GLWidget::GpuVendor vendor = GLWidget::gpuVendor();
    const bool shadersByDefault = (vendor == GLWidget::GpuAti || vendor == GLWidget::GpuNvidia) &&
                                  GLWidget::hasOpenGL20() &&
                                  (QGLFormat::openGLVersionFlags() & QGLFormat::OpenGL_Version_3_3);
    setRenderingPipeline(settings.value(renderingPipelineKey, shadersByDefault ? 1 : 0).toInt());

    const QString vendorString = GLWidget::glVendorString();
    const bool vboByDefault =
        (vendorString.contains(QLatin1String("ATI")) || vendorString.contains(QLatin1String("NVIDIA"))) &&
        GLWidget::hasOpenGL15();
    setCaching(settings.value(cachingKey, vboByDefault ? 2 : 0).toInt());

    view->setAnimateClipPlane(m_ui->animateClipPlaneCheckBox->isChecked());
    view->setAnimateZoom(m_ui->animateZoomCheckBox->isChecked());
    view->setAnimationEnabled(m_ui->animationGroupBox->isChecked());
    on_animationSpeedComboBox_currentIndexChanged(m_ui->animationSpeedComboBox->currentIndex());
}

int PreferencesDialog::renderingPipeline() const
{
    return m_renderingPipelineGroup->checkedId();
}

int PreferencesDialog::caching() const
{
    return m_cachingGroup->checkedId();
}

void PreferencesDialog::setRenderingPipeline(int id)
{
    clickButton(m_renderingPipelineGroup, id);
}

void PreferencesDialog::setCaching(int id)
{
    clickButton(m_cachingGroup, id);
}

void PreferencesDialog::warnIfNoCaching()
{
    if (!m_ui->animationGroupBox->isChecked() || !m_ui->noneRadioButton->isChecked())
        return;
    QMessageBox::warning(parentWidget(), tr("Animation"),
                         tr("No caching is selected, animation frame rates may suffer."), QMessageBox::Ok);
}

void PreferencesDialog::reject()
{
    const QList<ColorWidget *> swatches = findChildren<ColorWidget *>();
    for (ColorWidget *swatch : swatches)
        swatch->setCurrentColor(swatch->property(oldCurrentColorProperty).value<QColor>());
    setRenderingPipeline(m_ui->renderingPipelineGroupBox->property(oldValueProperty).toInt());
    setCaching(m_ui->cachingGroupBox->property(oldValueProperty).toInt());
    m_ui->animateClipPlaneCheckBox->setChecked(
        m_ui->animateClipPlaneCheckBox->property(oldValueProperty).toBool());
    m_ui->animateZoomCheckBox->setChecked(m_ui->animateZoomCheckBox->property(oldValueProperty).toBool());
    m_ui->animationGroupBox->setChecked(m_ui->animationGroupBox->property(oldValueProperty).toBool());
    m_ui->animationSpeedComboBox->setCurrentIndex(
        m_ui->animationSpeedComboBox->property(oldValueProperty).toInt());
    QDialog::reject();
}

void PreferencesDialog::showEvent(QShowEvent *event)
{
    adjustSize();
    m_ui->tabWidget->setCurrentIndex(0);
    QDialog::showEvent(event);

    const QList<ColorWidget *> swatches = findChildren<ColorWidget *>();
    for (ColorWidget *swatch : swatches)
        swatch->setProperty(oldCurrentColorProperty, swatch->currentColor());
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setFocus();

    if (!m_glWidget)
        return;
    m_ui->renderingPipelineGroupBox->setProperty(oldValueProperty, renderingPipeline());
    m_ui->cachingGroupBox->setProperty(oldValueProperty, caching());
    QSettings settings;
    setRenderingPipeline(settings.value(renderingPipelineKey).toInt());
    setCaching(settings.value(cachingKey, 0).toInt());
    m_ui->animateClipPlaneCheckBox->setProperty(oldValueProperty,
                                                m_ui->animateClipPlaneCheckBox->isChecked());
    m_ui->animateZoomCheckBox->setProperty(oldValueProperty, m_ui->animateZoomCheckBox->isChecked());
    m_ui->animationGroupBox->setProperty(oldValueProperty, m_ui->animationGroupBox->isChecked());
    m_ui->animationSpeedComboBox->setProperty(oldValueProperty, m_ui->animationSpeedComboBox->currentIndex());
}

void PreferencesDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        m_ui->retranslateUi(this);
}

void PreferencesDialog::on_resetBackgroundTopColor_clicked()
{
    m_ui->backgroundTopColor->setCurrentColor(GLWidget::defaultBackgroundTopColor);
}

void PreferencesDialog::on_resetBackgroundBottomColor_clicked()
{
    m_ui->backgroundBottomColor->setCurrentColor(GLWidget::defaultBackgroundBottomColor);
}

void PreferencesDialog::on_resetEdgeColor_clicked()
{
    m_ui->edgeColor->setCurrentColor(GLWidget::defaultEdgeColor);
}

void PreferencesDialog::on_resetFillColor_clicked()
{
    m_ui->fillColor->setCurrentColor(GLWidget::defaultFillColor);
}

void PreferencesDialog::on_resetBackFillColor_clicked()
{
    m_ui->backFillColor->setCurrentColor(GLWidget::defaultBackFillColor);
}

void PreferencesDialog::on_resetXRayBackgroundTopColor_clicked()
{
    m_ui->xRayBackgroundTopColor->setCurrentColor(GLWidget::defaultXRayBackgroundTopColor);
}

void PreferencesDialog::on_resetXRayBackgroundBottomColor_clicked()
{
    m_ui->xRayBackgroundBottomColor->setCurrentColor(GLWidget::defaultXRayBackgroundBottomColor);
}

void PreferencesDialog::on_resetXRayFillColor_clicked()
{
    m_ui->xRayFillColor->setCurrentColor(GLWidget::defaultXRayFillColor);
}

void PreferencesDialog::on_backgroundTopColor_currentColorChanged(const QColor &color)
{
    m_ui->resetBackgroundTopColor->setEnabled(color != GLWidget::defaultBackgroundTopColor);
}

void PreferencesDialog::on_backgroundBottomColor_currentColorChanged(const QColor &color)
{
    m_ui->resetBackgroundBottomColor->setEnabled(color != GLWidget::defaultBackgroundBottomColor);
}

void PreferencesDialog::on_edgeColor_currentColorChanged(const QColor &color)
{
    m_ui->resetEdgeColor->setEnabled(color != GLWidget::defaultEdgeColor);
}

void PreferencesDialog::on_fillColor_currentColorChanged(const QColor &color)
{
    m_ui->resetFillColor->setEnabled(color != GLWidget::defaultFillColor);
}

void PreferencesDialog::on_backFillColor_currentColorChanged(const QColor &color)
{
    m_ui->resetBackFillColor->setEnabled(color != GLWidget::defaultBackFillColor);
}

void PreferencesDialog::on_xRayBackgroundTopColor_currentColorChanged(const QColor &color)
{
    m_ui->resetXRayBackgroundTopColor->setEnabled(color != GLWidget::defaultXRayBackgroundTopColor);
}

void PreferencesDialog::on_xRayBackgroundBottomColor_currentColorChanged(const QColor &color)
{
    m_ui->resetXRayBackgroundBottomColor->setEnabled(color != GLWidget::defaultXRayBackgroundBottomColor);
}

void PreferencesDialog::on_xRayFillColor_currentColorChanged(const QColor &color)
{
    m_ui->resetXRayFillColor->setEnabled(color != GLWidget::defaultXRayFillColor);
}

void PreferencesDialog::on_animationSpeedComboBox_currentIndexChanged(int index)
{
    if (!m_glWidget)
        return;
    // "Slow" is the longest animation, "Fast" the shortest.
    static const int durations[] = {300, 200, 100};
    if (index >= 0 && index < 3)
        m_glWidget->setAnimationDuration(durations[index]);
}

void PreferencesDialog::renderingPipeline_clicked(int id)
{
    // The main window binds its view before the dialog can be shown; unbound, only the key is kept.
    if (m_glWidget)
        m_glWidget->setShaders(id == 1);
    QSettings().setValue(renderingPipelineKey, id);
}

void PreferencesDialog::caching_clicked(int id)
{
    QSettings settings;
    if (settings.value(cachingKey, 0).toInt() == id)
        return;
    settings.setValue(cachingKey, id);
    emit cachingChanged();
}

void PreferencesDialog::glWidget_useDisplayListsChanged()
{
    if (caching() == 1 && m_glWidget && !m_glWidget->useDisplayLists())
        setCaching(0);
}
