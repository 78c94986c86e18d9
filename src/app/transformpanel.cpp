#include "app/transformpanel.h"

#include "app/translatetoorigindialog.h"
#include "ui_transformpanel.h"

#include <QDoubleValidator>

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
