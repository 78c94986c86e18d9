#include "app/translatetoorigindialog.h"

#include "ui_translatetoorigindialog.h"

TranslateToOriginDialog::TranslateToOriginDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::TranslateToOriginDialog)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_ui->setupUi(this);
}

TranslateToOriginDialog::~TranslateToOriginDialog()
{
    delete m_ui;
}

geom::Vector3f TranslateToOriginDialog::selection() const
{
    const auto code = [](const QRadioButton *none, const QRadioButton *minimum, const QRadioButton *centre,
                         const QRadioButton *maximum) {
        if (none->isChecked())
            return -2.0f;
        if (minimum->isChecked())
            return -1.0f;
        if (centre->isChecked())
            return 0.0f;
        return maximum->isChecked() ? 1.0f : 0.0f;
    };
    return geom::Vector3f(
        code(m_ui->xNoneRadioButton, m_ui->xMinRadioButton, m_ui->xCenterRadioButton, m_ui->xMaxRadioButton),
        code(m_ui->yNoneRadioButton, m_ui->yMinRadioButton, m_ui->yCenterRadioButton, m_ui->yMaxRadioButton),
        code(m_ui->zNoneRadioButton, m_ui->zMinRadioButton, m_ui->zCenterRadioButton, m_ui->zMaxRadioButton));
}
