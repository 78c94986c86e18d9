#include "app/newsdialog.h"

#include "ui_newsdialog.h"

NewsDialog::NewsDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::NewsDialog)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_ui->setupUi(this);
    m_ui->buttonBox->hide();
}

NewsDialog::~NewsDialog()
{
    delete m_ui;
}

void NewsDialog::showNews()
{
    // Fetching and showing the announcement page is not built yet.
}

void NewsDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        m_ui->retranslateUi(this);
}
