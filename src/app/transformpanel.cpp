#include "app/transformpanel.h"

#include "app/translatetoorigindialog.h"
#include "ui_transformpanel.h"

#include <QApplication>
#include <QDoubleValidator>

#include <cmath>

namespace {

bool shiftHeld()
{
    return QApplication::keyboardModifiers() & Qt::ShiftModifier;
}

bool altHeld()
{
    return QApplication::keyboardModifiers() & Qt::AltModifier;
}

// A field's number; text that is not one gives 0.
qreal valueOf(const QLineEdit *edit)
{
    return edit->text().toDouble();
}

} // namespace

TransformPanel::TransformPanel(QWidget *parent)
    : QWidget(parent)
    , m_ui(new Ui::TransformPanel)
    , m_boundsMinimum(0, 0, 0)
    , m_boundsMaximum(0, 0, 0)
{
    // Named before the form connects slots by name, so that the dialog's signals reach them.
    m_translateToOriginDialog = new TranslateToOriginDialog(this);
    m_translateToOriginDialog->setObjectName(QStringLiteral("translateToOriginDialog"));
    m_ui->setupUi(this);

    const QList<QLineEdit *> edits = findChildren<QLineEdit *>();
    for (QLineEdit *edit : edits) {
        auto *validator = new QDoubleValidator(edit);
        // The fields are read in the C locale, so they accept what it reads: under a
        // comma-decimal locale "1,5" would pass the check and then read as 0.
        QLocale locale = QLocale::c();
        locale.setNumberOptions(QLocale::RejectGroupSeparator);
        validator->setLocale(locale);
        // Scale factors are never negative: mirroring has its own buttons.
        if (edit->objectName().startsWith(QLatin1String("scale")))
            validator->setBottom(0.0);
        edit->setValidator(validator);
    }
}

TransformPanel::~TransformPanel()
{
    delete m_ui;
}

QToolButton *TransformPanel::rotateFacetDownwardToolButton() const
{
    return m_ui->rotateFacetDownwardToolButton;
}

QSize TransformPanel::sizeHint() const
{
    return minimumSizeHint();
}

void TransformPanel::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        m_ui->retranslateUi(this);
}

void TransformPanel::checkOnly(QToolButton *clicked, QToolButton *x, QToolButton *y, QToolButton *z)
{
    for (QToolButton *button : {x, y, z})
        button->setChecked(button == clicked);
}

void TransformPanel::on_rotateXToolButton_clicked()
{
    checkOnly(m_ui->rotateXToolButton, m_ui->rotateXToolButton, m_ui->rotateYToolButton,
              m_ui->rotateZToolButton);
}

void TransformPanel::on_rotateYToolButton_clicked()
{
    checkOnly(m_ui->rotateYToolButton, m_ui->rotateXToolButton, m_ui->rotateYToolButton,
              m_ui->rotateZToolButton);
}

void TransformPanel::on_rotateZToolButton_clicked()
{
    checkOnly(m_ui->rotateZToolButton, m_ui->rotateXToolButton, m_ui->rotateYToolButton,
              m_ui->rotateZToolButton);
}

void TransformPanel::on_mirrorXToolButton_clicked()
{
    checkOnly(m_ui->mirrorXToolButton, m_ui->mirrorXToolButton, m_ui->mirrorYToolButton,
              m_ui->mirrorZToolButton);
}

void TransformPanel::on_mirrorYToolButton_clicked()
{
    checkOnly(m_ui->mirrorYToolButton, m_ui->mirrorXToolButton, m_ui->mirrorYToolButton,
              m_ui->mirrorZToolButton);
}

void TransformPanel::on_mirrorZToolButton_clicked()
{
    checkOnly(m_ui->mirrorZToolButton, m_ui->mirrorXToolButton, m_ui->mirrorYToolButton,
              m_ui->mirrorZToolButton);
}

void TransformPanel::emitTranslate(qreal sign)
{
    emit translate(sign * valueOf(m_ui->translateXLineEdit), sign * valueOf(m_ui->translateYLineEdit),
                   sign * valueOf(m_ui->translateZLineEdit));
}

void TransformPanel::on_translateXLineEdit_returnPressed()
{
    emitTranslate(shiftHeld() ? -1 : 1);
}

void TransformPanel::on_translateYLineEdit_returnPressed()
{
    emitTranslate(shiftHeld() ? -1 : 1);
}

void TransformPanel::on_translateZLineEdit_returnPressed()
{
    emitTranslate(shiftHeld() ? -1 : 1);
}

void TransformPanel::on_translateUpToolButton_clicked()
{
    emitTranslate(1);
}

void TransformPanel::on_translateDownToolButton_clicked()
{
    emitTranslate(-1);
}

void TransformPanel::emitRotate(qreal angle)
{
    if (m_ui->rotateXToolButton->isChecked())
        emit rotate(angle, 1, 0, 0);
    if (m_ui->rotateYToolButton->isChecked())
        emit rotate(angle, 0, 1, 0);
    if (m_ui->rotateZToolButton->isChecked())
        emit rotate(angle, 0, 0, 1);
}

void TransformPanel::on_rotateLineEdit_returnPressed()
{
    const qreal angle = valueOf(m_ui->rotateLineEdit);
    emitRotate(shiftHeld() ? -angle : angle);
}

void TransformPanel::on_rotateUpToolButton_clicked()
{
    emitRotate(valueOf(m_ui->rotateLineEdit));
}

void TransformPanel::on_rotateDownToolButton_clicked()
{
    emitRotate(-valueOf(m_ui->rotateLineEdit));
}

void TransformPanel::updateApplyScale()
{
    const qreal x = valueOf(m_ui->scaleXLineEdit);
    const qreal y = valueOf(m_ui->scaleYLineEdit);
    const qreal z = valueOf(m_ui->scaleZLineEdit);
    bool enabled;
    if (x == 1 && y == 1)
        enabled = z != 1;
    else
        enabled = !(std::fabs(x) <= 1e-12 && std::fabs(y) <= 1e-12 && std::fabs(z) <= 1e-12);
    m_ui->applyScaleToolButton->setEnabled(enabled);
}

void TransformPanel::on_scaleXLineEdit_textChanged(const QString &text)
{
    if (m_ui->uniformScaleCheckBox->isChecked()) {
        m_ui->scaleYLineEdit->setText(text);
        m_ui->scaleZLineEdit->setText(text);
    }
    updateApplyScale();
}

void TransformPanel::on_scaleYLineEdit_textChanged(const QString &)
{
    updateApplyScale();
}

void TransformPanel::on_scaleZLineEdit_textChanged(const QString &)
{
    updateApplyScale();
}

void TransformPanel::on_uniformScaleCheckBox_toggled(bool checked)
{
    m_ui->scaleYLineEdit->setEnabled(!checked);
    m_ui->scaleZLineEdit->setEnabled(!checked);
    if (checked) {
        m_ui->scaleYLineEdit->setText(m_ui->scaleXLineEdit->text());
        m_ui->scaleZLineEdit->setText(m_ui->scaleXLineEdit->text());
    }
}

void TransformPanel::on_scaleXLineEdit_returnPressed()
{
    m_ui->applyScaleToolButton->click();
}

void TransformPanel::on_scaleYLineEdit_returnPressed()
{
    m_ui->applyScaleToolButton->click();
}

void TransformPanel::on_scaleZLineEdit_returnPressed()
{
    m_ui->applyScaleToolButton->click();
}

void TransformPanel::on_applyScaleToolButton_clicked()
{
    // A factor of 0 would flatten the model for good; it counts as no scaling on its axis.
    const auto factor = [](const QLineEdit *edit) {
        const qreal f = valueOf(edit);
        return std::fabs(f) <= 1e-12 ? 1.0 : f;
    };
    const qreal x = factor(m_ui->scaleXLineEdit);
    const qreal y = factor(m_ui->scaleYLineEdit);
    const qreal z = factor(m_ui->scaleZLineEdit);
    if (shiftHeld())
        emit scale(1 / x, 1 / y, 1 / z);
    else
        emit scale(x, y, z);

    if (!altHeld()) {
        for (QLineEdit *edit : {m_ui->scaleXLineEdit, m_ui->scaleYLineEdit, m_ui->scaleZLineEdit})
            edit->setText(QStringLiteral("1.0000"));
        m_ui->applyScaleToolButton->setEnabled(false);
    }
    m_ui->scaleXLineEdit->setFocus(Qt::OtherFocusReason);
    m_ui->scaleXLineEdit->selectAll();
}

void TransformPanel::on_applyMirrorToolButton_clicked()
{
    if (m_ui->mirrorXToolButton->isChecked())
        emit scale(-1, 1, 1);
    else if (m_ui->mirrorYToolButton->isChecked())
        emit scale(1, -1, 1);
    else if (m_ui->mirrorZToolButton->isChecked())
        emit scale(1, 1, -1);
}

void TransformPanel::on_translateToOriginToolButton_clicked()
{
    m_translateToOriginDialog->setVisible(true);
}

void TransformPanel::on_translateToOriginDialog_apply()
{
    const geom::Vector3f choice = m_translateToOriginDialog->selection();
    const auto offset = [](float code, float minimum, float maximum) -> qreal {
        if (code == -1)
            return -qreal(minimum);
        if (code == 0)
            return -(qreal(minimum) + qreal(maximum)) * 0.5;
        if (code == 1)
            return -qreal(maximum);
        return 0;
    };
    emit translate(offset(choice.x, m_boundsMinimum.x, m_boundsMaximum.x),
                   offset(choice.y, m_boundsMinimum.y, m_boundsMaximum.y),
                   offset(choice.z, m_boundsMinimum.z, m_boundsMaximum.z));
}

void TransformPanel::on_translateToOriginDialog_finished(int result)
{
    if (result == QDialog::Accepted)
        on_translateToOriginDialog_apply();
}
