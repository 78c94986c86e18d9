#include "app/exportslicesdialog.h"

#include "ui_exportslicesdialog.h"

#include <QDoubleValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

#include <limits>

namespace {

const char unitsKey[] = "ExportSlicesDialog/Units";
const char thicknessKey[] = "ExportSlicesDialog/SliceThickness";
const char mergeContoursKey[] = "ExportSlicesDialog/MergeContours";
const char windingRuleKey[] = "ExportSlicesDialog/WindingRule";

constexpr double millimetresPerInch = 25.4;
// The thinnest layer the thickness field accepts while typing, in either unit.
constexpr double minimumThickness = 0.00075;
constexpr int thicknessDecimals = 8;
constexpr int thicknessLength = 10;

// Formats a converted thickness with its decimals, dropping trailing zeros but never the point.
QString thicknessText(double value)
{
    QString text = QString::number(value, 'f', thicknessDecimals);
    while (text.size() >= 2 && text.endsWith(QLatin1Char('0')))
        text.chop(1);
    return text;
}

// Makes a stored index current; an absent or foreign value leaves the current item, so that the
// getters never see an index outside the list.
void setStoredIndex(QComboBox *box, const QVariant &stored)
{
    bool ok = false;
    const int index = stored.toInt(&ok);
    if (ok && index >= 0 && index < box->count())
        box->setCurrentIndex(index);
}

} // namespace

ExportSlicesDialog::ExportSlicesDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::ExportSlicesDialog)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_ui->setupUi(this);

    m_ui->thicknessComboBox->lineEdit()->setMaxLength(thicknessLength);
    auto *validator = new QDoubleValidator(minimumThickness, std::numeric_limits<double>::infinity(),
                                           thicknessDecimals, m_ui->thicknessComboBox);
    // The text is read back in the C locale, so it is judged in the same locale.
    validator->setLocale(QLocale::c());
    m_ui->thicknessComboBox->setValidator(validator);

    // The widest thickness the field takes sizes the dialog once; the presets then replace it.
    m_ui->thicknessComboBox->addItem(QStringLiteral("0.12345678"));
    setFixedSize(sizeHint());
    fillMetricPresets();
    readSettings();
}

ExportSlicesDialog::~ExportSlicesDialog()
{
    writeSettings();
    delete m_ui;
}

float ExportSlicesDialog::sliceThickness() const
{
    bool ok = false;
    const float thickness = QLocale::c().toFloat(m_ui->thicknessComboBox->currentText(), &ok);
    return ok ? thickness : 0.0f;
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

void ExportSlicesDialog::accept()
{
    // A window kept open for the life of the program is never destroyed, so the choice is kept
    // as soon as it is made.
    writeSettings();
    QDialog::accept();
}

void ExportSlicesDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QPushButton *ok = m_ui->buttonBox->button(QDialogButtonBox::Ok))
        ok->setFocus(Qt::OtherFocusReason);
}

void ExportSlicesDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        m_ui->retranslateUi(this);
        readSettings();
    }
}

void ExportSlicesDialog::on_unitsComboBox_currentIndexChanged(int index)
{
    QString text = m_ui->thicknessComboBox->currentText();
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (ok)
        text = thicknessText(index == 0 ? value * millimetresPerInch : value / millimetresPerInch);
    if (index == 0)
        fillMetricPresets();
    else
        fillInchPresets();
    m_ui->thicknessComboBox->setEditText(text);
}

void ExportSlicesDialog::fillMetricPresets()
{
    m_ui->thicknessComboBox->clear();
    m_ui->thicknessComboBox->addItems(
        {QStringLiteral("0.0127"), QStringLiteral("0.01905"), QStringLiteral("0.0254"),
         QStringLiteral("0.0381"), QStringLiteral("0.05"), QStringLiteral("0.0508"), QStringLiteral("0.0762"),
         QStringLiteral("0.1"), QStringLiteral("0.127"), QStringLiteral("0.5")});
}

void ExportSlicesDialog::fillInchPresets()
{
    m_ui->thicknessComboBox->clear();
    m_ui->thicknessComboBox->addItems({QStringLiteral("0.0005"), QStringLiteral("0.00075"),
                                       QStringLiteral("0.001"), QStringLiteral("0.0015"),
                                       QStringLiteral("0.002"), QStringLiteral("0.003"),
                                       QStringLiteral("0.01"), QStringLiteral("0.05")});
}

void ExportSlicesDialog::readSettings()
{
    QSettings settings;
    // The units go first: their change swaps the presets, which would clear a thickness set before.
    setStoredIndex(m_ui->unitsComboBox, settings.value(QLatin1String(unitsKey)));
    m_ui->thicknessComboBox->setEditText(
        settings.value(QLatin1String(thicknessKey), m_ui->thicknessComboBox->currentText()).toString());
    m_ui->mergeContoursGroupBox->setChecked(
        settings.value(QLatin1String(mergeContoursKey), m_ui->mergeContoursGroupBox->isChecked()).toBool());
    setStoredIndex(m_ui->windingRuleComboBox, settings.value(QLatin1String(windingRuleKey)));
}

void ExportSlicesDialog::writeSettings() const
{
    QSettings settings;
    settings.setValue(QLatin1String(windingRuleKey), m_ui->windingRuleComboBox->currentIndex());
    settings.setValue(QLatin1String(mergeContoursKey), m_ui->mergeContoursGroupBox->isChecked());
    settings.setValue(QLatin1String(thicknessKey), m_ui->thicknessComboBox->currentText());
    settings.setValue(QLatin1String(unitsKey), m_ui->unitsComboBox->currentIndex());
}
