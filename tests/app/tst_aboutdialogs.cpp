#include "app/application.h"
#include "app/changelogdialog.h"
#include "app/licensedialog.h"
#include "app/mainwindow.h"
#include "modaldialoganswerer.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QStackedWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextEdit>
#include <QtTest>

#include <memory>

using widgettest::ModalDialogAnswerer;

// The about box, the change log and its colours, the licence dialog and its links.
class TestAboutDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void aboutBox();
    void licenseLinkOpensLicenseDialog();
    void licenseNamesBecomeLinks();
    void linkify_data();
    void linkify();
    void highlighter_data();
    void highlighter();
    void twoChangelogsDeleteThemselves();

private:
    std::unique_ptr<MainWindow> m_window;
};

void TestAboutDialogs::init()
{
    m_window.reset(new MainWindow);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestAboutDialogs::cleanup()
{
    m_window.reset();
}

void TestAboutDialogs::aboutBox()
{
    QString title;
    QString text;
    QString informative;
    ModalDialogAnswerer answerer({[&](QWidget *dialog) {
        auto *box = qobject_cast<QMessageBox *>(dialog);
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        informative = box->informativeText();
        box->button(QMessageBox::Ok)->click();
    }});
    m_window->findChild<QAction *>(QStringLiteral("action_About"))->trigger();
    QCOMPARE(answerer.seen().size(), 1);
    QCOMPARE(title, QStringLiteral("About Orvan Quarn"));
    QCOMPARE(text, QStringLiteral(
                       "<h3>Quarn 1.0.9</h3><p>A compressor/viewer for Stereo Lithography (STL) files.</p>"));
    QVERIFY(informative.contains(QStringLiteral("(%1-bit)").arg(QT_POINTER_SIZE * 8)));
    QVERIFY(informative.contains(QLatin1String("<a href=\"https://orvan.example/\">orvan.example</a>")));
    QVERIFY(informative.contains(QLatin1String("<a href=\"license:\">View License Terms</a>")));
}

void TestAboutDialogs::licenseLinkOpensLicenseDialog()
{
    QVERIFY(QDesktopServices::openUrl(QUrl(QStringLiteral("license:"))));
    QVERIFY(QDesktopServices::openUrl(QUrl(QStringLiteral("license:"))));
    const QList<LicenseDialog *> dialogs = m_window->findChildren<LicenseDialog *>();
    QCOMPARE(dialogs.size(), 2);
    QPointer<LicenseDialog> first = dialogs.at(0);
    QCOMPARE(first->windowTitle(), QStringLiteral("Orvan Quarn - License Terms"));
    auto *combo = first->findChild<QComboBox *>(QStringLiteral("comboBox"));
    QStringList names;
    for (int i = 0; i < combo->count(); ++i)
        names << combo->itemText(i);
    for (const char *name : {"License.txt", "LICENSE.LGPL", "LICENSE.OpenSSL", "LICENSE.SGI-B",
                             "LICENSE.zlib", "LICENSE.Qt5", "LICENSE.QtWebKit"})
        QVERIFY2(names.contains(QLatin1String(name)), name);
    // The second opened over the first, window-modal, and so belongs to it.
    QPointer<LicenseDialog> second = dialogs.at(1);
    QCOMPARE(second->parentWidget(), first.data());
    second->reject();
    QTRY_VERIFY(second.isNull());
    QVERIFY(!first.isNull());
    first->reject();
    QTRY_VERIFY(first.isNull());
}

void TestAboutDialogs::licenseNamesBecomeLinks()
{
    LicenseDialog dialog(m_window.get());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *combo = dialog.findChild<QComboBox *>(QStringLiteral("comboBox"));
    auto *stack = dialog.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    // It opens on the program's own terms, by itself.
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(combo->currentText(), QStringLiteral("License.txt"));
    QCOMPARE(stack->currentIndex(), 0);
    auto *page = qobject_cast<QTextBrowser *>(stack->currentWidget());
    QVERIFY(page);
    QFile file(QStringLiteral(":/resources/licenses/License.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(page->toPlainText().trimmed(), QString::fromUtf8(file.readAll()).trimmed());

    // A click on the first mention of LICENSE.LGPL switches the page.
    const QString lgpl = QStringLiteral("license:///LICENSE.LGPL");
    QTextCursor link;
    for (QTextBlock block = page->document()->begin(); block.isValid() && link.isNull();
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd() && link.isNull(); ++it) {
            if (it.fragment().charFormat().anchorHref() == lgpl) {
                link = QTextCursor(page->document());
                link.setPosition(it.fragment().position() + 1);
            }
        }
    }
    QVERIFY(!link.isNull());
    page->setTextCursor(link);
    page->ensureCursorVisible();
    QTest::mouseClick(page->viewport(), Qt::LeftButton, Qt::NoModifier, page->cursorRect(link).center());
    QTRY_COMPARE(combo->currentText(), QStringLiteral("LICENSE.LGPL"));
    QCOMPARE(stack->currentIndex(), combo->currentIndex());
    dialog.anchorClicked(QUrl(QStringLiteral("license:///NoSuchFile")));
    QCOMPARE(combo->currentText(), QStringLiteral("LICENSE.LGPL"));
}

void TestAboutDialogs::linkify_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("hrefs");
    QTest::addColumn<QStringList>("linkTexts");

    const QString lgpl = QStringLiteral("license:///LICENSE.LGPL");
    QTest::newRow("full stop after address")
        << "See http://example.org/a." << QStringList{"http://example.org/a"}
        << QStringList{"http://example.org/a"};
    QTest::newRow("comma after address")
        << "At http://example.org/b, or" << QStringList{"http://example.org/b"}
        << QStringList{"http://example.org/b"};
    QTest::newRow("quote ends address")
        << "\"http://example.org/c\" here" << QStringList{"http://example.org/c"}
        << QStringList{"http://example.org/c"};
    QTest::newRow("other case takes file spelling")
        << "see license.lgpl and LICENSE.LGPL" << QStringList{lgpl, lgpl}
        << QStringList{"LICENSE.LGPL", "LICENSE.LGPL"};
    QTest::newRow("longer name first") << "LICENSE.LGPL_EXTRA" << QStringList{"license:///LICENSE.LGPL_EXTRA"}
                                       << QStringList{"LICENSE.LGPL_EXTRA"};
    QTest::newRow("name inside address stays plain")
        << "http://example.org/LICENSE.LGPL" << QStringList{"http://example.org/LICENSE.LGPL"}
        << QStringList{"http://example.org/LICENSE.LGPL"};
    QTest::newRow("markup is escaped")
        << "a <b> & LICENSE.LGPL" << QStringList{lgpl} << QStringList{"LICENSE.LGPL"};
}

void TestAboutDialogs::linkify()
{
    QFETCH(QString, text);
    QFETCH(QStringList, hrefs);
    QFETCH(QStringList, linkTexts);

    QStringList names = {"LICENSE.LGPL", "LICENSE.LGPL_EXTRA"};
    std::stable_sort(names.begin(), names.end(), longerStringFirst);
    QTextDocument document;
    document.setHtml(LicenseDialog::linkify(text, names));
    // Only the letter case of linked names may change.
    QCOMPARE(document.toPlainText().toLower(), text.toLower());
    QStringList foundHrefs;
    QStringList foundTexts;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isAnchor()) {
                foundHrefs << fragment.charFormat().anchorHref();
                foundTexts << fragment.text();
            }
        }
    }
    QCOMPARE(foundHrefs, hrefs);
    QCOMPARE(foundTexts, linkTexts);
}

void TestAboutDialogs::highlighter_data()
{
    QTest::addColumn<QString>("line");
    // Colour of each character, one letter per character: v dark red, b blue, g dark green,
    // r red, k black, - none.
    QTest::addColumn<QString>("colours");

    QTest::newRow("version") << "1.0.9:"
                             << "vvvvvv";
    QTest::newRow("two-digit version") << "1.0.10:"
                                       << "vvvvvvv";
    QTest::newRow("blank after version colon") << "1.0.9: "
                                               << "-------";
    QTest::newRow("change") << "  * ab"
                            << "ggggbb";
    QTest::newRow("three blanks") << "   * ab"
                                  << "-------";
    QTest::newRow("date") << " -- Thu"
                          << "kkkkrrr";
    QTest::newRow("date without blank") << " --"
                                        << "---";
    QTest::newRow("plain") << "text"
                           << "----";
}

void TestAboutDialogs::highlighter()
{
    QFETCH(QString, line);
    QFETCH(QString, colours);

    QTextEdit edit;
    new ChangelogSyntaxHighlighter(&edit);
    edit.setPlainText(line);
    const QTextBlock block = edit.document()->firstBlock();
    QString found(line.size(), QLatin1Char('-'));
    const QMap<QRgb, QChar> letters = {{qRgb(128, 0, 0), 'v'},
                                       {qRgb(0, 0, 255), 'b'},
                                       {qRgb(0, 128, 0), 'g'},
                                       {qRgb(255, 0, 0), 'r'},
                                       {qRgb(0, 0, 0), 'k'}};
    for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
        QVERIFY(range.format.foreground().style() == Qt::SolidPattern);
        QVERIFY(!range.format.hasProperty(QTextFormat::FontWeight));
        for (int i = range.start; i < range.start + range.length; ++i)
            found[i] = letters.value(range.format.foreground().color().rgb(), '?');
    }
    QCOMPARE(found, colours);
}

void TestAboutDialogs::twoChangelogsDeleteThemselves()
{
    QAction *action = m_window->findChild<QAction *>(QStringLiteral("action_Changelog"));
    action->trigger();
    QList<ChangelogDialog *> dialogs = m_window->findChildren<ChangelogDialog *>();
    QCOMPARE(dialogs.size(), 1);
    QPointer<ChangelogDialog> first = dialogs.at(0);
    action->trigger();
    dialogs = m_window->findChildren<ChangelogDialog *>();
    QCOMPARE(dialogs.size(), 2);
    QPointer<ChangelogDialog> second = dialogs.at(0) == first ? dialogs.at(1) : dialogs.at(0);

    QCOMPARE(first->windowTitle(), QStringLiteral("Changelog - Orvan Quarn"));
    auto *edit = first->findChild<QTextEdit *>();
    QVERIFY(edit->isReadOnly());
    QVERIFY(edit->toPlainText().startsWith(QLatin1String("1.0.9:")));

    second->reject();
    QTRY_VERIFY(second.isNull());
    QVERIFY(!first.isNull());
    first->reject();
    QTRY_VERIFY(first.isNull());
}

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvan"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvan.example"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarn"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.9"));
    Application app(argc, argv);
    app.setProperty("FullApplicationName", QStringLiteral("Orvan Quarn"));
    MainWindow::dropCommandLineFile();
    TestAboutDialogs test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_aboutdialogs.moc"
