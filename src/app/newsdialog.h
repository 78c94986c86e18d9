#pragma once

#include <QDialog>
#include <QUrl>

class QNetworkAccessManager;
class QShortcut;
class QTimer;
class QWebView;

namespace Ui {
class NewsDialog;
}

// Shows the maker's announcements, a web page, in two web views that take turns: one is shown
// while the next page loads into the other. Owned by the main window. It checks at once when
// built and then periodically; it opens itself when a valid announcement page differs from the
// last one it opened for, and always when the user asked for the news.
class NewsDialog : public QDialog
{
    Q_OBJECT
    // For those that reach the dialog built by the news module through its meta-object.
    Q_PROPERTY(bool loading READ isLoading)

public:
    // The page lies at "/announcement/" under the base URL, which the environment variable
    // QUARN_NEWS_BASE_URL can replace.
    explicit NewsDialog(QWidget *parent = nullptr);
    ~NewsDialog() override;

    // The user asked for the news (the News action): failures are reported and a valid page is
    // shown even when unchanged. Dropped while a load is under way.
    Q_INVOKABLE void showNews();

    QUrl url() const { return m_url; }
    // Milliseconds between periodic checks; an armed check is re-armed with the new interval.
    int checkInterval() const { return m_checkInterval; }
    void setCheckInterval(int milliseconds);
    bool isLoading() const { return m_loading; }
    QWebView *currentWebView() const;
    QWebView *nextWebView() const;

    // The hexadecimal text that a page must hold in an HTML comment to count as an announcement.
    static constexpr char announcementMarker[] = "5c1e0a7f93d24b6880e1b7c4a29f0d63e8b51a7c";

protected:
    void changeEvent(QEvent *event) override;
    // A click on a view's link whose scheme the link handler refuses goes to the handler, and not
    // to the view, which drops links to local files without a word.
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void checkNews();
    void webView_loadFinished(bool ok);
    void webView_linkClicked(const QUrl &url);
    void on_copyShortcut_activated();

private:
    void startLoad();

    Ui::NewsDialog *m_ui;
    QNetworkAccessManager *m_networkAccessManager;
    QShortcut *m_copyShortcut;
    QTimer *m_checkTimer;
    QUrl m_url;
    // The refused link under the last press that a view did not see; empty otherwise.
    QUrl m_pressedLink;
    int m_checkInterval = 300000;
    bool m_showRequested = false;
    bool m_loading = false;
};
