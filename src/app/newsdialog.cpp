#include "app/newsdialog.h"
#include "app/newsmodule.h"

#include "ui_newsdialog.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QShortcut>
#include <QTimer>
#include <QWebFrame>
#include <QWebHitTestResult>
#include <QWebPage>
#include <QWebSettings>
#include <QWebView>
#include <type_traits>

// The outcome of every check. Debug messages are off by default: without a news server (as on
// any machine that cannot reach it) each start would report a failed load.
Q_LOGGING_CATEGORY(lcNews, "quarn.news", QtInfoMsg)

namespace {

const QString lastChecksumKey = QStringLiteral("NewsDialog/LastChecksum");
const char defaultBaseUrl[] = "https://news.orvan.example";
// How long the destructor waits for a stopped load to report. A stopped load reports within the
// stop itself; the wait is for a report that comes through the event loop, and it is part of the
// time that Exit takes.
constexpr int destructionWaitMs = 100;

// The schemes whose links are handed to the system; every other link is refused.
bool opensInBrowser(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("mailto");
}

// Opens the news dialog the next time the watched window is activated, then removes itself.
class ShowEventFilter : public QObject
{
public:
    explicit ShowEventFilter(QDialog *dialog)
        : QObject(dialog)
        , m_dialog(dialog)
    {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::WindowActivate) {
            m_dialog->open();
            watched->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

private:
    QDialog *m_dialog;
};

} // namespace

NewsDialog::NewsDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::NewsDialog)
    , m_networkAccessManager(new QNetworkAccessManager(this))
    , m_copyShortcut(new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_C), this))
    , m_checkTimer(new QTimer(this))
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_copyShortcut->setObjectName(QStringLiteral("copyShortcut"));
    m_copyShortcut->setContext(Qt::WindowShortcut);
    m_ui->setupUi(this);
    m_ui->buttonBox->hide();

    QString base = qEnvironmentVariable("QUARN_NEWS_BASE_URL");
    if (base.isEmpty())
        base = QLatin1String(defaultBaseUrl);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    m_url = QUrl(base + QStringLiteral("/announcement/"));

    for (QWebView *view : {m_ui->webView, m_ui->webView_2}) {
        QWebPage *page = view->page();
        page->setNetworkAccessManager(m_networkAccessManager);
        page->settings()->setAttribute(QWebSettings::PluginsEnabled, false);
        QPalette palette = page->palette();
        palette.setBrush(QPalette::Base, Qt::transparent);
        page->setPalette(palette);
        view->setAttribute(Qt::WA_OpaquePaintEvent, false);
        view->setContextMenuPolicy(Qt::NoContextMenu);
        page->setLinkDelegationPolicy(QWebPage::DelegateAllLinks);
        connect(view, &QWebView::linkClicked, this, &NewsDialog::webView_linkClicked);
        connect(view, &QWebView::loadFinished, this, &NewsDialog::webView_loadFinished);
        view->installEventFilter(this);
    }

    m_checkTimer->setSingleShot(true);
    connect(m_checkTimer, &QTimer::timeout, this, &NewsDialog::checkNews);
    checkNews();
}

NewsDialog::~NewsDialog()
{
    // A stopped load reports at once; a server that never answers must not hold the exit up.
    m_showRequested = false;
    m_checkTimer->stop();
    if (m_loading) {
        m_ui->webView->stop();
        m_ui->webView_2->stop();
        QElapsedTimer waited;
        waited.start();
        while (m_loading && waited.elapsed() < destructionWaitMs)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 100);
    }
    m_ui->webView->disconnect(this);
    m_ui->webView_2->disconnect(this);
    delete m_ui;
}

void NewsDialog::setCheckInterval(int milliseconds)
{
    m_checkInterval = milliseconds;
    if (m_checkTimer->isActive())
        m_checkTimer->start(m_checkInterval);
}

QWebView *NewsDialog::currentWebView() const
{
    return qobject_cast<QWebView *>(m_ui->stackedWidget->currentWidget());
}

QWebView *NewsDialog::nextWebView() const
{
    const int next = (m_ui->stackedWidget->currentIndex() + 1) % m_ui->stackedWidget->count();
    return qobject_cast<QWebView *>(m_ui->stackedWidget->widget(next));
}

void NewsDialog::startLoad()
{
    m_loading = true;
    nextWebView()->load(m_url);
}

void NewsDialog::checkNews()
{
    // The next check is armed even when a load (for instance one the user asked for) is under
    // way, so that the periodic checks never stop.
    m_checkTimer->start(m_checkInterval);
    if (!m_loading)
        startLoad();
}

void NewsDialog::showNews()
{
    if (m_loading)
        return;
    QSettings().remove(lastChecksumKey);
    m_showRequested = true;
    startLoad();
}

void NewsDialog::webView_loadFinished(bool ok)
{
    auto *view = qobject_cast<QWebView *>(sender());
    const bool requested = m_showRequested;
    m_showRequested = false;
    // Parent of the message boxes: the main window.
    QWidget *owner = parentWidget();

    if (!view || !ok) {
        qCDebug(lcNews, "News page failed to load.");
        if (requested)
            QMessageBox::warning(owner, tr("News - Connection Error"),
                                 tr("Unable to connect to news server. Please check your internet "
                                    "connection and firewall settings."),
                                 QMessageBox::Ok);
        m_loading = false;
        return;
    }

    const QString html = view->page()->mainFrame()->toHtml();
    const QString marker = QStringLiteral("<!-- %1 -->").arg(QLatin1String(announcementMarker));
    if (!html.contains(marker, Qt::CaseSensitive)) {
        qCDebug(lcNews, "News page does not contain announcement.");
        if (requested)
            QMessageBox::information(owner, tr("News - Unavailable"), tr("News is unavailable."),
                                     QMessageBox::Ok);
        m_loading = false;
        return;
    }

    const QByteArray digest = QCryptographicHash::hash(html.toUtf8(), QCryptographicHash::Sha1);
    QSettings settings;
    if (digest == settings.value(lastChecksumKey).toByteArray()) {
        m_loading = false;
        return;
    }
    settings.setValue(lastChecksumKey, digest);
    m_ui->stackedWidget->setCurrentWidget(view);
    m_loading = false;

    QWidget *mainWindow = owner ? owner->window() : nullptr;
    if (mainWindow && mainWindow->isMinimized()) {
        mainWindow->installEventFilter(new ShowEventFilter(this));
        QApplication::alert(mainWindow);
        mainWindow->activateWindow();
    } else {
        open();
        activateWindow();
    }
}

void NewsDialog::webView_linkClicked(const QUrl &url)
{
    if (opensInBrowser(url) && QDesktopServices::openUrl(url))
        return;
    QMessageBox::critical(this, tr("Open Link - Error"),
                          tr("Can't open link using web browser: %1").arg(url.toString()), QMessageBox::Ok);
}

bool NewsDialog::eventFilter(QObject *watched, QEvent *event)
{
    // note: WebKit does not follow a link from a web page to a local file (file:, qrc:), and it
    // does not hand such a link to the delegate either: the click did nothing visible. So a
    // click on any link that the handler refuses is taken here and never reaches the view; a
    // script link stays the page's own.
    const QEvent::Type type = event->type();
    auto *view = qobject_cast<QWebView *>(watched);
    if (!view || (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
                  type != QEvent::MouseButtonRelease))
        return QDialog::eventFilter(watched, event);
    const auto *mouse = static_cast<QMouseEvent *>(event);
    if (mouse->button() != Qt::LeftButton)
        return QDialog::eventFilter(watched, event);
    const QUrl link = view->page()->mainFrame()->hitTestContent(mouse->pos()).linkUrl();
    const bool refused = !link.isEmpty() && !opensInBrowser(link) &&
                         link.scheme().compare(QLatin1String("javascript"), Qt::CaseInsensitive) != 0;
    if (type != QEvent::MouseButtonRelease) {
        m_pressedLink = refused ? link : QUrl();
        return refused;
    }
    const QUrl pressed = m_pressedLink;
    m_pressedLink.clear();
    if (!refused)
        return QDialog::eventFilter(watched, event);
    // A click is a press and a release on the same link.
    if (pressed == link)
        webView_linkClicked(link);
    return true;
}

void NewsDialog::on_copyShortcut_activated()
{
    if (QWebView *view = currentWebView())
        view->page()->triggerAction(QWebPage::Copy);
}

void NewsDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        m_ui->retranslateUi(this);
}

extern "C" Q_DECL_EXPORT QDialog *quarnCreateNewsDialog(QWidget *parent)
{
    return new NewsDialog(parent);
}

static_assert(std::is_same<decltype(&quarnCreateNewsDialog), NewsDialogFactory>::value,
              "the module's entry has the type the main window calls it by");
