#include "app/preferencesdialog.h"

#include "ui_preferencesdialog.h"
#include "view/glwidget.h"

#include <QButtonGroup>

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

    for (ColorWidget *swatch : {m_ui->backgroundTopColor, m_ui->backgroundBottomColor, m_ui->edgeColor,
                                m_ui->fillColor, m_ui->backFillColor})
        connect(swatch, &ColorWidget::currentColorChanged, this, &PreferencesDialog::colorChanged);
    connect(m_ui->xRayColorsGroupBox, &QGroupBox::toggled, this, &PreferencesDialog::colorChanged);
    for (ColorWidget *swatch :
         {m_ui->xRayBackgroundTopColor, m_ui->xRayBackgroundBottomColor, m_ui->xRayFillColor})
        connect(swatch, &ColorWidget::currentColorChanged, this, &PreferencesDialog::colorChanged);
}

PreferencesDialog::~PreferencesDialog()
{
    delete m_ui;
}

void PreferencesDialog::setGLWidget(GLWidget *view)
{
    m_glWidget = view;
}

int PreferencesDialog::renderingPipeline() const
{
    return m_renderingPipelineGroup->checkedId();
}

int PreferencesDialog::caching() const
{
    return m_cachingGroup->checkedId();
}
