#include "modaldialoganswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>

namespace widgettest {

namespace {

void closeDialog(QWidget *dialog)
{
    if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
        QAbstractButton *button = box->escapeButton();
        if (!button)
            button = box->button(QMessageBox::Ok);
        if (button) {
            button->click();
            return;
        }
    }
    if (auto *plain = qobject_cast<QDialog *>(dialog))
        plain->reject();
    else
        dialog->close();
}

} // namespace

ModalDialogAnswerer::ModalDialogAnswerer(QList<Answer> answers)
    : m_answers(std::move(answers))
{
    connect(&m_timer, &QTimer::timeout, this, &ModalDialogAnswerer::poll);
    m_timer.start(20);
}

ModalDialogAnswerer::Answer ModalDialogAnswerer::click(QMessageBox::StandardButton button)
{
    return [button](QWidget *dialog) {
        auto *box = qobject_cast<QMessageBox *>(dialog);
        if (box && box->button(button))
            box->button(button)->click();
        else
            closeDialog(dialog);
    };
}

ModalDialogAnswerer::Answer ModalDialogAnswerer::reject()
{
    return [](QWidget *dialog) {
        if (auto *plain = qobject_cast<QDialog *>(dialog))
            plain->reject();
        else
            dialog->close();
    };
}

void ModalDialogAnswerer::poll()
{
    QWidget *dialog = QApplication::activeModalWidget();
    // A dialog that is still closing stays the active modal widget for a moment.
    if (!dialog || dialog->property("modalDialogAnswered").toBool())
        return;
    dialog->setProperty("modalDialogAnswered", true);
    const auto *box = qobject_cast<QMessageBox *>(dialog);
    m_seen.append({QString::fromLatin1(dialog->metaObject()->className()), dialog->windowTitle(),
                   box ? box->text() : QString(), dialog->parentWidget()});
    const Answer answer = m_answers.isEmpty() ? Answer(closeDialog) : m_answers.takeFirst();
    answer(dialog);
}

} // namespace widgettest
