#include "app/newsdialog.h"
#include "messagecapture.h"
#include "modaldialoganswerer.h"
#include "pageserver.h"

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMainWindow>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QSettings>
#include <QTcpServer>
#include <QWebElement>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>
#include <QtTest>

#include <memory>

using widgettest::ModalDialogAnswerer;
using widgettest::PageServer;

namespace {

QByteArray announcement(const QByteArray &body)
{
    QByteArray links;
    for (const char *href : {"file:///etc/passwd", "qrc:/resources/images/icon.png", "ftp://127.0.0.1/a",
                             "http://127.0.0.1:9/more"})
        links += QByteArray("<p><a href=\"") + href + "\">" + href + "</a></p>";
    return "<html><head><!-- " + QByteArray(NewsDialog::announcementMarker) + " --></head><body><p>" + body +
           "</p>" + links + "</body></html>";
}

// Records the web addresses that the program hands to the system's browser.
class BrowserStandIn : public QObject
{
    Q_OBJECT

public:
    BrowserStandIn() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open"); }
    ~BrowserStandIn() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }

    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

// Points the news at a port of this machine where nothing listens; false when none was found.
bool useClosedPort()
{
    QTcpServer closed;
    if (!closed.listen(QHostAddress::LocalHost))
        return false;
    const quint16 port = closed.serverPort();
    closed.close();
    qputenv("QUARN_NEWS_BASE_URL", QByteArray("http://127.0.0.1:") + QByteArray::number(port));
    return true;
}

QByteArray storedDigest()
{
    return QSettings().value(QStringLiteral("NewsDialog/LastChecksum")).toByteArray();
}

} // namespace

// The news dialog against a local server: when it opens, what it stores, what it reports.
class TestNewsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void firstRunShowsAndStoresDigest();
    void samePageIsNotShownAgainButChangedPageIs();
    void showNewsShowsUnchangedPage();
    void pageWithoutMarker_data();
    void pageWithoutMarker();
    void closedPortReportsOnRequestOnly_data();
    void closedPortReportsOnRequestOnly();
    void failedLoadIsLoggedInItsCategory_data();
    void failedLoadIsLoggedInItsCategory();
    void destroyDuringStalledLoadReturns();
    void periodicCheckSurvivesShowNews();
    void linkClickedInThePage_data();
    void linkClickedInThePage();

private:
    void useServer() { qputenv("QUARN_NEWS_BASE_URL", m_baseUrl.toUtf8()); }
    std::unique_ptr<NewsDialog> makeDialog();

    PageServer m_server;
    QString m_baseUrl;
    std::unique_ptr<QMainWindow> m_owner;
};

void TestNewsDialog::initTestCase()
{
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    QVERIFY(m_server.listen(QHostAddress::LocalHost));
    m_baseUrl = QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

void TestNewsDialog::init()
{
    QSettings().clear();
    m_server.page = announcement("first");
    m_server.stalled = false;
    m_server.requests = 0;
    useServer();
    m_owner.reset(new QMainWindow);
    m_owner->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_owner.get()));
}

void TestNewsDialog::cleanup()
{
    m_owner.reset();
}

std::unique_ptr<NewsDialog> TestNewsDialog::makeDialog()
{
    std::unique_ptr<NewsDialog> dialog(new NewsDialog(m_owner.get()));
    return dialog;
}

void TestNewsDialog::firstRunShowsAndStoresDigest()
{
    auto dialog = makeDialog();
    QCOMPARE(dialog->url(), QUrl(m_baseUrl + "/announcement/"));
    QTRY_VERIFY(!dialog->isLoading());
    QVERIFY(dialog->isVisible());
    const QByteArray digest = storedDigest();
    QCOMPARE(digest.size(), 20);
    const QString html = dialog->currentWebView()->page()->mainFrame()->toHtml();
    QVERIFY(html.contains(QLatin1String("first")));
    QCOMPARE(digest, QCryptographicHash::hash(html.toUtf8(), QCryptographicHash::Sha1));
}

void TestNewsDialog::samePageIsNotShownAgainButChangedPageIs()
{
    {
        auto first = makeDialog();
        QTRY_VERIFY(!first->isLoading());
        QVERIFY(first->isVisible());
    }
    const QByteArray digest = storedDigest();
    {
        ModalDialogAnswerer answerer;
        auto again = makeDialog();
        QTRY_VERIFY(!again->isLoading());
        QVERIFY(!again->isVisible());
        QCOMPARE(storedDigest(), digest);
        QVERIFY(answerer.seen().isEmpty());
    }
    m_server.page = announcement("second");
    auto changed = makeDialog();
    QTRY_VERIFY(!changed->isLoading());
    QVERIFY(changed->isVisible());
    QVERIFY(storedDigest() != digest);
}

void TestNewsDialog::showNewsShowsUnchangedPage()
{
    auto dialog = makeDialog();
    QTRY_VERIFY(!dialog->isLoading());
    dialog->hide();
    const QByteArray digest = storedDigest();
    dialog->showNews();
    QVERIFY(dialog->isLoading());
    // A second request while loading is dropped.
    dialog->showNews();
    QTRY_VERIFY(!dialog->isLoading());
    QVERIFY(dialog->isVisible());
    QCOMPARE(storedDigest(), digest);
    QCOMPARE(m_server.requests, 2);
}

void TestNewsDialog::pageWithoutMarker_data()
{
    QTest::addColumn<bool>("requested");
    QTest::newRow("periodic check is silent") << false;
    QTest::newRow("request reports") << true;
}

void TestNewsDialog::pageWithoutMarker()
{
    QFETCH(bool, requested);
    // Only the exact comment counts: the marker in the text or without blanks does not.
    m_server.page = "<html><body><!--" + QByteArray(NewsDialog::announcementMarker) + "--><p>" +
                    NewsDialog::announcementMarker + "</p></body></html>";
    ModalDialogAnswerer answerer;
    auto dialog = makeDialog();
    QTRY_VERIFY(!dialog->isLoading());
    if (requested) {
        dialog->showNews();
        QTRY_VERIFY(!dialog->isLoading());
        QTRY_COMPARE(answerer.seen().size(), 1);
        QCOMPARE(answerer.seen().at(0).title, QStringLiteral("News - Unavailable"));
        QCOMPARE(answerer.seen().at(0).text, QStringLiteral("News is unavailable."));
        QCOMPARE(answerer.seen().at(0).parent.data(), m_owner.get());
    } else {
        QTest::qWait(100);
        QVERIFY(answerer.seen().isEmpty());
    }
    QVERIFY(!dialog->isVisible());
    QVERIFY(!QSettings().contains(QStringLiteral("NewsDialog/LastChecksum")));
}

void TestNewsDialog::closedPortReportsOnRequestOnly_data()
{
    QTest::addColumn<bool>("requested");
    QTest::newRow("periodic check is silent") << false;
    QTest::newRow("request reports") << true;
}

void TestNewsDialog::closedPortReportsOnRequestOnly()
{
    QFETCH(bool, requested);
    QVERIFY(useClosedPort());

    ModalDialogAnswerer answerer;
    auto dialog = makeDialog();
    QTRY_VERIFY(!dialog->isLoading());
    if (requested) {
        dialog->showNews();
        QTRY_VERIFY(!dialog->isLoading());
        QTRY_COMPARE(answerer.seen().size(), 1);
        QCOMPARE(answerer.seen().at(0).title, QStringLiteral("News - Connection Error"));
    } else {
        QTest::qWait(100);
        QVERIFY(answerer.seen().isEmpty());
    }
    QVERIFY(!dialog->isVisible());
}

void TestNewsDialog::failedLoadIsLoggedInItsCategory_data()
{
    QTest::addColumn<QString>("rules");
    QTest::addColumn<QStringList>("messages");
    const QStringList failed = {"quarn.news: News page failed to load."};
    QTest::newRow("quiet by default") << "" << QStringList();
    QTest::newRow("news switched on") << "quarn.news.debug=true" << failed;
    QTest::newRow("all of ours switched on") << "quarn.*=true" << failed;
}

// Every start without a news server fails to load the page: the message is there for those who
// ask for it, not on every start's standard error.
void TestNewsDialog::failedLoadIsLoggedInItsCategory()
{
    QFETCH(QString, rules);
    QFETCH(QStringList, messages);
    QVERIFY(useClosedPort());

    QLoggingCategory::setFilterRules(rules);
    QStringList printed;
    {
        meshtest::MessageCapture capture({QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg});
        {
            auto dialog = makeDialog();
            QTRY_VERIFY(!dialog->isLoading());
        }
        printed = capture.categorisedMessages();
    }
    QLoggingCategory::setFilterRules(QString());
    QCOMPARE(printed, messages);
}

void TestNewsDialog::destroyDuringStalledLoadReturns()
{
    m_server.stalled = true;
    auto dialog = makeDialog();
    QTRY_COMPARE(m_server.requests, 1);
    QVERIFY(dialog->isLoading());
    QElapsedTimer timer;
    timer.start();
    dialog.reset();
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
}

void TestNewsDialog::periodicCheckSurvivesShowNews()
{
    m_server.page = "<html><body>no announcement</body></html>";
    auto dialog = makeDialog();
    dialog->setCheckInterval(300);
    QTRY_VERIFY(!dialog->isLoading());

    // The user's request hangs while periodic checks come due.
    m_server.stalled = true;
    const int before = m_server.requests;
    dialog->showNews();
    QTest::qWait(800);
    QCOMPARE(m_server.requests, before + 1);
    ModalDialogAnswerer answerer;
    dialog->currentWebView()->stop();
    dialog->nextWebView()->stop();
    QTRY_VERIFY(!dialog->isLoading());
    QTRY_COMPARE(answerer.seen().size(), 1);
    QCOMPARE(answerer.seen().at(0).title, QStringLiteral("News - Connection Error"));

    // The checks go on by themselves.
    m_server.stalled = false;
    const int after = m_server.requests;
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requests >= after + 2, 5000);
}

void TestNewsDialog::linkClickedInThePage_data()
{
    QTest::addColumn<QString>("href");
    QTest::addColumn<bool>("opened");
    // WebKit itself refuses to follow links to local files from a web page.
    QTest::newRow("local file") << "file:///etc/passwd" << false;
    QTest::newRow("resource") << "qrc:/resources/images/icon.png" << false;
    QTest::newRow("other scheme") << "ftp://127.0.0.1/a" << false;
    QTest::newRow("web address") << "http://127.0.0.1:9/more" << true;
}

// A click on a link of the shown page: web addresses go to the browser, every other scheme is
// refused with a message, once.
void TestNewsDialog::linkClickedInThePage()
{
    QFETCH(QString, href);
    QFETCH(bool, opened);
    auto dialog = makeDialog();
    QTRY_VERIFY(!dialog->isLoading());
    QVERIFY(dialog->isVisible());
    // Shown again without modality: the answerer below is for the message box alone.
    dialog->hide();
    dialog->setWindowModality(Qt::NonModal);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QWebView *view = dialog->currentWebView();
    QVERIFY(!view->page()->settings()->testAttribute(QWebSettings::PluginsEnabled));
    const QWebElement link =
        view->page()->mainFrame()->findFirstElement(QStringLiteral("a[href=\"%1\"]").arg(href));
    QVERIFY(!link.isNull());
    QVERIFY(view->rect().contains(link.geometry().center()));

    BrowserStandIn browser;
    ModalDialogAnswerer answerer;
    QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, link.geometry().center());
    QTest::qWait(200);
    if (opened) {
        QCOMPARE(browser.opened, QList<QUrl>{QUrl(href)});
        QVERIFY(answerer.seen().isEmpty());
        return;
    }
    QVERIFY(browser.opened.isEmpty());
    QCOMPARE(answerer.seen().size(), 1);
    QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Open Link - Error"));
    QCOMPARE(answerer.seen().at(0).text, QStringLiteral("Can't open link using web browser: ") + href);
    QCOMPARE(answerer.seen().at(0).parent.data(), dialog.get());
}

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvan"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarn news test"));
    QApplication app(argc, argv);
    TestNewsDialog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_newsdialog.moc"
