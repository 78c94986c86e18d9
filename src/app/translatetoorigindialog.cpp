#include "app/translatetoorigindialog.h"

#include "ui_translatetoorigindialog.h"

#include <QPushButton>

TranslateToOriginDialog::TranslateToOriginDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::TranslateToOriginDialog)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_ui->setupUi(this);
    const QList<QRadioButton *> buttons = findChildren<QRadioButton *>();
    for (QRadioButton *button : buttons)
        connect(button, &QRadioButton::clicked, this, &TranslateToOriginDialog::radioButton_clicked);
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

void TranslateToOriginDialog::radioButton_clicked(bool checked)
{
    auto *sender = qobject_cast<QRadioButton *>(QObject::sender());
    if (!sender)
        return;
    if (!checked) {
        sender->setChecked(true);
        return;
    }
    const QChar axis = sender->objectName().at(0);
    const QList<QRadioButton *> buttons = findChildren<QRadioButton *>();
    for (QRadioButton *button : buttons) {
        if (button != sender && button->objectName().startsWith(axis))
            button->setChecked(false);
    }
}

void TranslateToOriginDialog::on_minLabel_linkActivated(const QString &)
{
    m_ui->xMinRadioButton->click();
    m_ui->yMinRadioButton->click();
    m_ui->zMinRadioButton->click();
}

void TranslateToOriginDialog::on_centerLabel_linkActivated(const QString &)
{
    m_ui->xCenterRadioButton->click();
    m_ui->yCenterRadioButton->click();
    m_ui->zCenterRadioButton->click();
}

void TranslateToOriginDialog::on_maxLabel_linkActivated(const QString &)
{
    m_ui->xMaxRadioButton->click();
    m_ui->yMaxRadioButton->click();
    m_ui->zMaxRadioButton->click();
}

void TranslateToOriginDialog::on_noneLabel_linkActivated(const QString &)
{
    m_ui->xNoneRadioButton->click();
    m_ui->yNoneRadioButton->click();
    m_ui->zNoneRadioButton->click();
}

void TranslateToOriginDialog::on_buttonBox_clicked(QAbstractButton *button)
{
    if (button == m_ui->buttonBox->button(QDialogButtonBox::Apply))
        emit apply();
}
