#pragma once

#include <QDialog>

namespace Ui {
class NewsDialog;
}

// Shows the maker's announcements, a web page, in two web views that take turns: one is shown
// while the next page loads into the other. Owned by the main window.
class NewsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit NewsDialog(QWidget *parent = nullptr);
    ~NewsDialog() override;

    // The user asked for the news (the News action).
    void showNews();

protected:
    void changeEvent(QEvent *event) override;

private:
    Ui::NewsDialog *m_ui;
};
