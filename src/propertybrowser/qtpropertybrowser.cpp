#include "propertybrowser/qtpropertybrowser.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QTreeWidget>

#include <functional>

QtAbstractPropertyBrowser::QtAbstractPropertyBrowser(QWidget *parent)
    : QWidget(parent)
{}

QtAbstractPropertyBrowser::~QtAbstractPropertyBrowser()
{
    for (const QList<QMetaObject::Connection> &connections : qAsConst(m_watchedManagers)) {
        for (const QMetaObject::Connection &connection : connections)
            disconnect(connection);
    }
    for (const QList<QtBrowserItem *> &items : qAsConst(m_itemsOfProperty))
        qDeleteAll(items);
}

QtBrowserItem *QtAbstractPropertyBrowser::addProperty(QtProperty *property)
{
    if (!property)
        return nullptr;
    for (QtBrowserItem *item : qAsConst(m_topLevelItems)) {
        if (item->property() == property)
            return item;
    }
    return insertItem(property, nullptr);
}

QList<QtProperty *> QtAbstractPropertyBrowser::properties() const
{
    QList<QtProperty *> result;
    for (QtBrowserItem *item : m_topLevelItems)
        result.append(item->property());
    return result;
}

QWidget *QtAbstractPropertyBrowser::createEditor(QtProperty *property, QWidget *parent) const
{
    QtAbstractEditorFactoryBase *factory = m_factories.value(property->propertyManager());
    return factory ? factory->createEditor(property, parent) : nullptr;
}

void QtAbstractPropertyBrowser::setFactory(QtAbstractPropertyManager *manager,
                                           QtAbstractEditorFactoryBase *factory)
{
    if (!manager || m_factories.value(manager) == factory)
        return;
    if (QtAbstractEditorFactoryBase *old = m_factories.value(manager))
        old->disconnect(this);
    if (factory) {
        m_factories.insert(manager, factory);
        // A factory that goes away leaves the values shown as text.
        connect(factory, &QObject::destroyed, this, [this, manager, factory] {
            if (m_factories.value(manager) == factory)
                setFactory(manager, nullptr);
        });
    } else {
        m_factories.remove(manager);
    }
    for (const QList<QtBrowserItem *> &items : qAsConst(m_itemsOfProperty)) {
        for (QtBrowserItem *item : items) {
            if (item->property()->propertyManager() == manager)
                editorFactoryChanged(item);
        }
    }
}

QtBrowserItem *QtAbstractPropertyBrowser::insertItem(QtProperty *property, QtBrowserItem *parent)
{
    watchManager(property->propertyManager());
    auto *item = new QtBrowserItem(property, parent);
    if (parent)
        parent->m_children.append(item);
    else
        m_topLevelItems.append(item);
    m_itemsOfProperty[property].append(item);
    itemInserted(item);
    const QList<QtProperty *> subProperties = property->subProperties();
    for (QtProperty *subProperty : subProperties)
        insertItem(subProperty, item);
    return item;
}

void QtAbstractPropertyBrowser::removeItem(QtBrowserItem *item)
{
    while (!item->m_children.isEmpty())
        removeItem(item->m_children.last());
    itemRemoved(item);
    if (item->m_parent)
        item->m_parent->m_children.removeOne(item);
    else
        m_topLevelItems.removeOne(item);
    QList<QtBrowserItem *> &items = m_itemsOfProperty[item->property()];
    items.removeOne(item);
    if (items.isEmpty())
        m_itemsOfProperty.remove(item->property());
    delete item;
}

void QtAbstractPropertyBrowser::watchManager(QtAbstractPropertyManager *manager)
{
    if (m_watchedManagers.contains(manager))
        return;
    QList<QMetaObject::Connection> connections;
    connections << connect(manager, &QtAbstractPropertyManager::propertyInserted, this,
                           [this](QtProperty *property, QtProperty *parent) {
                               const QList<QtBrowserItem *> parents = items(parent);
                               for (QtBrowserItem *parentItem : parents)
                                   insertItem(property, parentItem);
                           });
    connections << connect(manager, &QtAbstractPropertyManager::propertyChanged, this,
                           [this](QtProperty *property) {
                               const QList<QtBrowserItem *> shown = items(property);
                               for (QtBrowserItem *item : shown)
                                   itemChanged(item);
                           });
    connections << connect(manager, &QtAbstractPropertyManager::aboutToBeDestroyed, this,
                           &QtAbstractPropertyBrowser::managerDestroyed);
    m_watchedManagers.insert(manager, connections);
}

void QtAbstractPropertyBrowser::managerDestroyed(QtAbstractPropertyManager *manager)
{
    m_watchedManagers.remove(manager);
    m_factories.remove(manager);
    std::function<bool(QtBrowserItem *)> owned = [&](QtBrowserItem *item) {
        return item->property()->propertyManager() == manager;
    };
    // An item of the dead manager takes its whole subtree with it.
    std::function<void(QtBrowserItem *)> prune = [&](QtBrowserItem *item) {
        const QList<QtBrowserItem *> children = item->m_children;
        for (QtBrowserItem *child : children) {
            if (owned(child))
                removeItem(child);
            else
                prune(child);
        }
    };
    const QList<QtBrowserItem *> topLevel = m_topLevelItems;
    for (QtBrowserItem *item : topLevel) {
        if (owned(item))
            removeItem(item);
        else
            prune(item);
    }
}

QtTreePropertyBrowser::QtTreePropertyBrowser(QWidget *parent)
    : QtAbstractPropertyBrowser(parent)
    , m_treeWidget(new QTreeWidget(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_treeWidget);
    m_treeWidget->setColumnCount(2);
    m_treeWidget->setHeaderLabels({tr("Property"), tr("Value")});
    m_treeWidget->setRootIsDecorated(true);
    m_treeWidget->setSelectionMode(QAbstractItemView::SingleSelection);
    m_treeWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_treeWidget->setAlternatingRowColors(true);
    setResizeMode(m_resizeMode);
    setFocusProxy(m_treeWidget);
}

QtTreePropertyBrowser::~QtTreePropertyBrowser() = default;

void QtTreePropertyBrowser::setResizeMode(ResizeMode mode)
{
    m_resizeMode = mode;
    QHeaderView::ResizeMode sectionMode = QHeaderView::Stretch;
    switch (mode) {
    case Interactive:
        sectionMode = QHeaderView::Interactive;
        break;
    case Stretch:
        sectionMode = QHeaderView::Stretch;
        break;
    case Fixed:
        sectionMode = QHeaderView::Fixed;
        break;
    case ResizeToContents:
        sectionMode = QHeaderView::ResizeToContents;
        break;
    }
    m_treeWidget->header()->setSectionResizeMode(sectionMode);
    // The header sizes its sections lazily, at the next layout; a switch to another mode before
    // that would keep the old widths.
    if (mode == ResizeToContents) {
        for (int column = 0; column < m_treeWidget->columnCount(); ++column)
            m_treeWidget->resizeColumnToContents(column);
    }
}

bool QtTreePropertyBrowser::alternatingRowColors() const
{
    return m_treeWidget->alternatingRowColors();
}

void QtTreePropertyBrowser::setAlternatingRowColors(bool enable)
{
    m_treeWidget->setAlternatingRowColors(enable);
}

bool QtTreePropertyBrowser::isExpanded(QtBrowserItem *item) const
{
    QTreeWidgetItem *treeItem = m_treeItems.value(item);
    return treeItem && treeItem->isExpanded();
}

void QtTreePropertyBrowser::setExpanded(QtBrowserItem *item, bool expanded)
{
    if (QTreeWidgetItem *treeItem = m_treeItems.value(item))
        treeItem->setExpanded(expanded);
}

void QtTreePropertyBrowser::itemInserted(QtBrowserItem *item)
{
    QTreeWidgetItem *parentItem = item->parent() ? m_treeItems.value(item->parent()) : nullptr;
    auto *treeItem = parentItem ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(m_treeWidget);
    treeItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    treeItem->setText(0, item->property()->propertyName());
    m_treeItems.insert(item, treeItem);
    // New items show their children, as a tree widget's items do; callers collapse them.
    treeItem->setExpanded(true);
    updateValueCell(item);
}

void QtTreePropertyBrowser::itemRemoved(QtBrowserItem *item)
{
    // Deleting the row also releases its editor.
    delete m_treeItems.take(item);
}

void QtTreePropertyBrowser::itemChanged(QtBrowserItem *item)
{
    QTreeWidgetItem *treeItem = m_treeItems.value(item);
    if (!treeItem)
        return;
    treeItem->setText(0, item->property()->propertyName());
    if (!m_treeWidget->itemWidget(treeItem, 1))
        treeItem->setText(1, item->property()->valueText());
}

void QtTreePropertyBrowser::editorFactoryChanged(QtBrowserItem *item)
{
    updateValueCell(item);
}

void QtTreePropertyBrowser::updateValueCell(QtBrowserItem *item)
{
    QTreeWidgetItem *treeItem = m_treeItems.value(item);
    if (!treeItem)
        return;
    if (QWidget *old = m_treeWidget->itemWidget(treeItem, 1)) {
        m_treeWidget->removeItemWidget(treeItem, 1);
        old->deleteLater();
    }
    if (QWidget *editor = createEditor(item->property(), m_treeWidget->viewport())) {
        // The editor draws the value; the cell's own text would show through behind it.
        treeItem->setText(1, QString());
        m_treeWidget->setItemWidget(treeItem, 1, editor);
    } else {
        treeItem->setText(1, item->property()->valueText());
    }
}
