#pragma once

#include <QDialog>

class QComboBox;
class QDialogButtonBox;
class QStackedWidget;
class QUrl;

// The program's licence terms and those of the libraries it links, one text at a time, chosen
// from a list that starts with the program's own terms, which are shown first. Mentions of
// another licence file become "license:" links that switch the page; web addresses become links
// opened in the system's browser.
class LicenseDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LicenseDialog(QWidget *parent = nullptr);

    // The text of a licence file as rich text: web addresses first, then the names of the
    // licence files (longest first, in any letter case) become links. Exposed for the tests.
    static QString linkify(const QString &text, const QStringList &licenseNames);

public slots:
    void anchorClicked(const QUrl &url);

protected:
    void changeEvent(QEvent *event) override;

private:
    void retranslate();

    QComboBox *m_comboBox;
    QStackedWidget *m_stackedWidget;
    QDialogButtonBox *m_buttonBox;
};

// True when a has more characters than b.
bool longerStringFirst(const QString &a, const QString &b);
