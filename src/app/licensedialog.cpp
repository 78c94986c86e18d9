#include "app/licensedialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGridLayout>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QUrl>

#include <algorithm>

namespace {

const QString licenseFolder = QStringLiteral(":/resources/licenses");
// The program's own terms, which name the others: listed first, so the dialog opens on them.
const QString ownTermsFile = QStringLiteral("License.txt");

struct Link
{
    int start;
    int length;
    QString href;
    QString text;
};

} // namespace

bool longerStringFirst(const QString &a, const QString &b)
{
    return a.size() > b.size();
}

QString LicenseDialog::linkify(const QString &text, const QStringList &licenseNames)
{
    QList<Link> links;
    static const QRegularExpression webAddress(QStringLiteral("http://[^\\s,\"]*[^.,\\s\"]"));
    QRegularExpressionMatchIterator it = webAddress.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        links.append(
            {int(match.capturedStart()), int(match.capturedLength()), match.captured(), match.captured()});
    }
    const auto insideLink = [&links](int start, int length) {
        for (const Link &link : qAsConst(links)) {
            if (start < link.start + link.length && link.start < start + length)
                return true;
        }
        return false;
    };
    for (const QString &name : licenseNames) {
        if (name.isEmpty())
            continue;
        int from = 0;
        for (;;) {
            const int found = text.indexOf(name, from, Qt::CaseInsensitive);
            if (found < 0)
                break;
            if (!insideLink(found, name.size()))
                links.append({found, int(name.size()), QStringLiteral("license:///") + name, name});
            from = found + name.size();
        }
    }
    std::sort(links.begin(), links.end(), [](const Link &a, const Link &b) { return a.start < b.start; });

    QString html;
    html.reserve(text.size() + text.size() / 8);
    html += QLatin1String("<pre>");
    int at = 0;
    for (const Link &link : qAsConst(links)) {
        html += text.mid(at, link.start - at).toHtmlEscaped();
        html +=
            QStringLiteral("<a href=\"%1\">%2</a>").arg(link.href.toHtmlEscaped(), link.text.toHtmlEscaped());
        at = link.start + link.length;
    }
    html += text.mid(at).toHtmlEscaped();
    html += QLatin1String("</pre>");
    return html;
}

LicenseDialog::LicenseDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("LicenseDialog"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    resize(400, 300);
    auto *layout = new QGridLayout(this);
    layout->setObjectName(QStringLiteral("gridLayout"));
    layout->setVerticalSpacing(12);
    m_comboBox = new QComboBox(this);
    m_comboBox->setObjectName(QStringLiteral("comboBox"));
    m_stackedWidget = new QStackedWidget(this);
    m_stackedWidget->setObjectName(QStringLiteral("stackedWidget"));
    m_buttonBox = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_buttonBox->setObjectName(QStringLiteral("buttonBox"));
    layout->addWidget(m_comboBox, 0, 0);
    layout->addWidget(m_stackedWidget, 1, 0);
    layout->addWidget(m_buttonBox, 2, 0);
    connect(m_comboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), m_stackedWidget,
            &QStackedWidget::setCurrentIndex);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);

    const QFont font(QStringLiteral("Courier"), 8);
    // note: a plain name sort puts capitals first, and with them "LICENSE.LGPL" before the
    // program's own terms.
    QStringList files = QDir(licenseFolder).entryList(QDir::Files, QDir::Name);
    if (files.removeOne(ownTermsFile))
        files.prepend(ownTermsFile);
    QStringList names = files;
    std::stable_sort(names.begin(), names.end(), longerStringFirst);

    for (const QString &fileName : files) {
        m_comboBox->addItem(fileName);
        auto *browser = new QTextBrowser(this);
        QFile file(licenseFolder + QLatin1Char('/') + fileName);
        QString text;
        if (file.open(QIODevice::ReadOnly))
            text = QString::fromUtf8(file.readAll());
        browser->document()->setDefaultFont(font);
        browser->setHtml(linkify(text, names));
        browser->moveCursor(QTextCursor::Start);
        browser->setFont(font);
        browser->setReadOnly(true);
        browser->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        browser->setLineWrapMode(QTextEdit::NoWrap);
        browser->setOpenLinks(false);
        connect(browser, &QTextBrowser::anchorClicked, this, &LicenseDialog::anchorClicked);
        m_stackedWidget->addWidget(browser);
    }

    m_buttonBox->hide();
    retranslate();
    setMinimumSize(640, 500);
}

void LicenseDialog::anchorClicked(const QUrl &url)
{
    if (url.scheme() == QLatin1String("license")) {
        for (int i = 0; i < m_comboBox->count(); ++i) {
            if (QLatin1Char('/') + m_comboBox->itemText(i) == url.path()) {
                m_comboBox->setCurrentIndex(i);
                return;
            }
        }
        return;
    }
    QDesktopServices::openUrl(url);
}

void LicenseDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        retranslate();
}

void LicenseDialog::retranslate()
{
    setWindowTitle(tr("%1 - License Terms").arg(qApp->property("FullApplicationName").toString()));
}
