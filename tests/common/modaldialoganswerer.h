#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

namespace widgettest {

// Answers modal dialogs while it lives. Every 20 ms, also from inside a dialog's own event loop,
// it looks at the application's active modal widget; each new one is recorded and handed to the
// next planned answer, or, when none is left, closed: a message box through its escape button
// (or Ok), any other dialog rejected. Tests run with Qt::AA_DontUseNativeDialogs, so every
// dialog is a widget it can see.
class ModalDialogAnswerer : public QObject
{
public:
    using Answer = std::function<void(QWidget *dialog)>;

    // What the answerer saw of one dialog.
    struct Seen
    {
        QString className;
        QString title;
        QString text; // a message box's text, empty for other dialogs
        QPointer<QWidget> parent;
    };

    explicit ModalDialogAnswerer(QList<Answer> answers = {});

    QList<Seen> seen() const { return m_seen; }
    // Clicks the message box's button of that kind.
    static Answer click(QMessageBox::StandardButton button);
    // Closes any dialog as its Cancel would.
    static Answer reject();

private:
    void poll();

    QList<Answer> m_answers;
    QList<Seen> m_seen;
    QTimer m_timer;
};

} // namespace widgettest
