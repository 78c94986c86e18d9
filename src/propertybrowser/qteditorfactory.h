#pragma once

#include "propertybrowser/qtpropertymanager.h"

#include <QHash>
#include <QObject>
#include <QSet>

class QLineEdit;

// Makes the value editor of a property for a browser's value cell.
class QtAbstractEditorFactoryBase : public QObject
{
    Q_OBJECT

public:
    explicit QtAbstractEditorFactoryBase(QObject *parent = nullptr)
        : QObject(parent)
    {}

    // A new editor for property with the given parent (the caller owns it), or null when this
    // factory does not serve the property's manager.
    virtual QWidget *createEditor(QtProperty *property, QWidget *parent) = 0;
};

// A factory for the properties of one kind of manager.
template <class Manager>
class QtAbstractEditorFactory : public QtAbstractEditorFactoryBase
{
public:
    explicit QtAbstractEditorFactory(QObject *parent = nullptr)
        : QtAbstractEditorFactoryBase(parent)
    {}

    QWidget *createEditor(QtProperty *property, QWidget *parent) override
    {
        auto *manager = qobject_cast<Manager *>(property->propertyManager());
        return manager ? createEditor(manager, property, parent) : nullptr;
    }

protected:
    virtual QWidget *createEditor(Manager *manager, QtProperty *property, QWidget *parent) = 0;
};

// Line edits for string properties: an editor shows the value and follows its changes; text the
// user types becomes the value.
class QtLineEditFactory : public QtAbstractEditorFactory<QtStringPropertyManager>
{
    Q_OBJECT

public:
    explicit QtLineEditFactory(QObject *parent = nullptr);
    ~QtLineEditFactory() override;

    using QtAbstractEditorFactory<QtStringPropertyManager>::createEditor;

protected:
    // A frameless QLineEdit holding the property's value.
    QWidget *createEditor(QtStringPropertyManager *manager, QtProperty *property, QWidget *parent) override;

private slots:
    void managerValueChanged(QtProperty *property, const QString &value);
    void editorTextEdited(const QString &text);
    void editorDestroyed(QObject *editor);

private:
    static void showValue(QLineEdit *editor, const QString &value);

    QHash<QtProperty *, QList<QLineEdit *>> m_editorsOfProperty;
    QHash<QObject *, QtProperty *> m_propertyOfEditor;
    QSet<QtStringPropertyManager *> m_managers;
};
