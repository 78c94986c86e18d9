#include "app/exportslicesdialog.h"

#include "ui_exportslicesdialog.h"

ExportSlicesDialog::ExportSlicesDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::ExportSlicesDialog)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_ui->setupUi(this);
}

ExportSlicesDialog::~ExportSlicesDialog()
{
    delete m_ui;
}

float ExportSlicesDialog::sliceThickness() const
{
    return m_ui->thicknessComboBox->currentText().toFloat();
}

bool ExportSlicesDialog::isMetric() const
{
    return m_ui->unitsComboBox->currentIndex() == 0;
}

bool ExportSlicesDialog::mergeContours() const
{
    return m_ui->mergeContoursGroupBox->isChecked();
}

int ExportSlicesDialog::windingRule() const
{
    return m_ui->windingRuleComboBox->currentIndex();
}
