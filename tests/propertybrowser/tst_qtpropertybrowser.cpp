#include "propertybrowser/qtpropertybrowser.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

class TestQtPropertyBrowser : public QObject
{
    Q_OBJECT

private slots:
    void treeShowsLabelsAndNestedValues();
    void editorsFollowValuesBothWays();
    void laterChangesReachShownItems();
    void managerGoingAwayRemovesItsRows();
    void cyclesAreRefused();
};

namespace {

QTreeWidget *treeOf(QtTreePropertyBrowser &browser)
{
    return browser.findChild<QTreeWidget *>();
}

// A browser with one manager: "Size" holding "Width" and "Height".
struct Fixture
{
    QtTreePropertyBrowser browser;
    QtStringPropertyManager *manager = new QtStringPropertyManager(&browser);
    QtProperty *size = manager->addProperty(QStringLiteral("Size"));
    QtProperty *width = manager->addProperty(QStringLiteral("Width"));
    QtProperty *height = manager->addProperty(QStringLiteral("Height"));

    Fixture()
    {
        size->addSubProperty(width);
        size->addSubProperty(height);
        manager->setValue(size, QStringLiteral("3 x 4"));
        manager->setValue(width, QStringLiteral("3"));
    }
};

} // namespace

void TestQtPropertyBrowser::treeShowsLabelsAndNestedValues()
{
    Fixture f;
    QtBrowserItem *item = f.browser.addProperty(f.size);
    QCOMPARE(f.browser.addProperty(f.size), item); // added once only

    QTreeWidget *tree = treeOf(f.browser);
    QVERIFY(tree);
    QCOMPARE(tree->columnCount(), 2);
    QCOMPARE(tree->topLevelItemCount(), 1);
    QTreeWidgetItem *top = tree->topLevelItem(0);
    QCOMPARE(top->text(0), QStringLiteral("Size"));
    QCOMPARE(top->text(1), QStringLiteral("3 x 4"));
    QCOMPARE(top->childCount(), 2);
    QCOMPARE(top->child(0)->text(0), QStringLiteral("Width"));
    QCOMPARE(top->child(0)->text(1), QStringLiteral("3"));
    QCOMPARE(top->child(1)->text(0), QStringLiteral("Height"));

    QCOMPARE(item->children().size(), 2);
    QCOMPARE(item->children().at(1)->property(), f.height);
    QCOMPARE(item->children().at(1)->parent(), item);
    QCOMPARE(f.browser.items(f.width).size(), 1);

    f.browser.setExpanded(item, false);
    QVERIFY(!top->isExpanded());
    QVERIFY(!f.browser.isExpanded(item));
    f.browser.setResizeMode(QtTreePropertyBrowser::ResizeToContents);
    QCOMPARE(tree->header()->sectionResizeMode(1), QHeaderView::ResizeToContents);
}

void TestQtPropertyBrowser::editorsFollowValuesBothWays()
{
    Fixture f;
    f.browser.addProperty(f.size);
    QtLineEditFactory factory;
    // Set after the rows exist: the shown rows get their editors at once.
    f.browser.setFactoryForManager(f.manager, &factory);

    QTreeWidget *tree = treeOf(f.browser);
    auto *editor = qobject_cast<QLineEdit *>(tree->itemWidget(tree->topLevelItem(0)->child(0), 1));
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("3"));
    QVERIFY(tree->topLevelItem(0)->child(0)->text(1).isEmpty()); // the editor shows the value

    f.manager->setValue(f.width, QStringLiteral("30"));
    QCOMPARE(editor->text(), QStringLiteral("30"));
    // A value wider than its cell shows its start, both as the editor is made and when it changes.
    QCOMPARE(editor->cursorPosition(), 0);
    f.manager->setValue(f.width, QStringLiteral("55.973 [-17.973, 38.000]"));
    QCOMPARE(editor->cursorPosition(), 0);

    QSignalSpy changed(f.manager, &QtStringPropertyManager::valueChanged);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("7"));
    QCOMPARE(f.manager->value(f.width), QStringLiteral("7"));
    QCOMPARE(changed.size(), 1);

    // Without a factory the value is text again.
    f.browser.setFactoryForManager(f.manager, static_cast<QtLineEditFactory *>(nullptr));
    QVERIFY(!tree->itemWidget(tree->topLevelItem(0)->child(0), 1));
    QCOMPARE(tree->topLevelItem(0)->child(0)->text(1), QStringLiteral("7"));
}

void TestQtPropertyBrowser::laterChangesReachShownItems()
{
    Fixture f;
    f.browser.addProperty(f.size);
    QtProperty *depth = f.manager->addProperty(QStringLiteral("Depth"));
    f.manager->setValue(depth, QStringLiteral("5"));
    f.size->addSubProperty(depth);
    f.size->addSubProperty(depth); // a second time changes nothing
    f.size->setPropertyName(QStringLiteral("Box"));

    QTreeWidgetItem *top = treeOf(f.browser)->topLevelItem(0);
    QCOMPARE(top->text(0), QStringLiteral("Box"));
    QCOMPARE(top->childCount(), 3);
    QCOMPARE(top->child(2)->text(0), QStringLiteral("Depth"));
    QCOMPARE(top->child(2)->text(1), QStringLiteral("5"));

    // A value of a property that another manager holds is not taken.
    QtStringPropertyManager other;
    other.setValue(f.width, QStringLiteral("99"));
    QCOMPARE(f.manager->value(f.width), QStringLiteral("3"));
    QCOMPARE(other.value(f.width), QString());
}

void TestQtPropertyBrowser::managerGoingAwayRemovesItsRows()
{
    QtTreePropertyBrowser browser;
    QtLineEditFactory factory;
    auto stays = std::make_unique<QtStringPropertyManager>();
    auto goes = std::make_unique<QtStringPropertyManager>();
    QtProperty *kept = stays->addProperty(QStringLiteral("Kept"));
    QtProperty *child = goes->addProperty(QStringLiteral("Child"));
    QtProperty *dropped = goes->addProperty(QStringLiteral("Dropped"));
    kept->addSubProperty(child);
    browser.addProperty(kept);
    browser.addProperty(dropped);
    browser.setFactoryForManager(goes.get(), &factory);

    goes.reset();
    QTreeWidget *tree = treeOf(browser);
    QCOMPARE(tree->topLevelItemCount(), 1);
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("Kept"));
    QCOMPARE(tree->topLevelItem(0)->childCount(), 0);
    QCOMPARE(browser.properties(), QList<QtProperty *>{kept});
    QVERIFY(browser.items(child).isEmpty());
}

void TestQtPropertyBrowser::cyclesAreRefused()
{
    QtStringPropertyManager manager;
    QtProperty *a = manager.addProperty(QStringLiteral("A"));
    QtProperty *b = manager.addProperty(QStringLiteral("B"));
    a->addSubProperty(b);
    b->addSubProperty(a);
    a->addSubProperty(a);
    a->addSubProperty(nullptr);
    QCOMPARE(a->subProperties(), QList<QtProperty *>{b});
    QVERIFY(b->subProperties().isEmpty());

    QtTreePropertyBrowser browser;
    browser.addProperty(a); // would recurse without end on a cycle
    QCOMPARE(treeOf(browser)->topLevelItem(0)->childCount(), 1);
}

QTEST_MAIN(TestQtPropertyBrowser)
#include "tst_qtpropertybrowser.moc"
