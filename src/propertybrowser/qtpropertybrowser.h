#pragma once

#include "propertybrowser/qteditorfactory.h"
#include "propertybrowser/qtpropertymanager.h"

#include <QHash>
#include <QWidget>

class QTreeWidget;
class QTreeWidgetItem;

// One appearance of a property in a browser: the same property shown under two parents has two
// items. Owned by the browser.
class QtBrowserItem
{
public:
    QtProperty *property() const { return m_property; }
    QtBrowserItem *parent() const { return m_parent; }
    QList<QtBrowserItem *> children() const { return m_children; }

private:
    friend class QtAbstractPropertyBrowser;
    QtBrowserItem(QtProperty *property, QtBrowserItem *parent)
        : m_property(property)
        , m_parent(parent)
    {}

    QtProperty *m_property;
    QtBrowserItem *m_parent;
    QList<QtBrowserItem *> m_children;
};

// Shows properties as items, with their sub-properties below them, and an editor from the
// factory set for the property's manager. A property's items go away with its manager.
class QtAbstractPropertyBrowser : public QWidget
{
    Q_OBJECT

public:
    explicit QtAbstractPropertyBrowser(QWidget *parent = nullptr);
    ~QtAbstractPropertyBrowser() override;

    // Appends property as a top-level entry and returns its item; a property that is already a
    // top-level entry returns its existing item.
    QtBrowserItem *addProperty(QtProperty *property);
    QList<QtProperty *> properties() const;
    QList<QtBrowserItem *> topLevelItems() const { return m_topLevelItems; }
    // Every item that shows property, at any depth.
    QList<QtBrowserItem *> items(QtProperty *property) const { return m_itemsOfProperty.value(property); }

    // Values of manager's properties are edited through editors of factory from now on; the
    // shown items get their editors at once. A null factory leaves the values as plain text.
    template <class Manager>
    void setFactoryForManager(Manager *manager, QtAbstractEditorFactory<Manager> *factory)
    {
        setFactory(manager, factory);
    }

protected:
    // item was created, as the last child of its parent (or the last top-level item).
    virtual void itemInserted(QtBrowserItem *item) = 0;
    // item is about to be deleted; its children are gone already.
    virtual void itemRemoved(QtBrowserItem *item) = 0;
    // The label or the value of item's property changed.
    virtual void itemChanged(QtBrowserItem *item) = 0;
    // The factory of the property's manager changed: rebuild the editors of item.
    virtual void editorFactoryChanged(QtBrowserItem *item) = 0;
    // A new editor for item's property from the factory of its manager, or null without one.
    QWidget *createEditor(QtProperty *property, QWidget *parent) const;

private:
    void setFactory(QtAbstractPropertyManager *manager, QtAbstractEditorFactoryBase *factory);
    QtBrowserItem *insertItem(QtProperty *property, QtBrowserItem *parent);
    void removeItem(QtBrowserItem *item);
    void watchManager(QtAbstractPropertyManager *manager);
    void managerDestroyed(QtAbstractPropertyManager *manager);

    QList<QtBrowserItem *> m_topLevelItems;
    QHash<QtProperty *, QList<QtBrowserItem *>> m_itemsOfProperty;
    QHash<QtAbstractPropertyManager *, QtAbstractEditorFactoryBase *> m_factories;
    QHash<QtAbstractPropertyManager *, QList<QMetaObject::Connection>> m_watchedManagers;
};

// A two-column tree over an inner QTreeWidget: the label in the first column, the value's editor
// (or its text, without a factory) in the second, sub-properties as child rows.
class QtTreePropertyBrowser : public QtAbstractPropertyBrowser
{
    Q_OBJECT

public:
    enum ResizeMode
    {
        Interactive,
        Stretch,
        Fixed,
        ResizeToContents
    };
    Q_ENUM(ResizeMode)

    explicit QtTreePropertyBrowser(QWidget *parent = nullptr);
    ~QtTreePropertyBrowser() override;

    ResizeMode resizeMode() const { return m_resizeMode; }
    // How the two columns take their widths; applied to the header at once.
    void setResizeMode(ResizeMode mode);
    bool alternatingRowColors() const;
    void setAlternatingRowColors(bool enable);
    bool isExpanded(QtBrowserItem *item) const;
    void setExpanded(QtBrowserItem *item, bool expanded);

protected:
    void itemInserted(QtBrowserItem *item) override;
    void itemRemoved(QtBrowserItem *item) override;
    void itemChanged(QtBrowserItem *item) override;
    void editorFactoryChanged(QtBrowserItem *item) override;

private:
    void updateValueCell(QtBrowserItem *item);

    QTreeWidget *m_treeWidget;
    QHash<QtBrowserItem *, QTreeWidgetItem *> m_treeItems;
    ResizeMode m_resizeMode = Stretch;
};
