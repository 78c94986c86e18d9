#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QtAbstractPropertyManager;

// One row of a property tree: a label, an ordered list of sub-properties and the manager that
// holds its value. Created and owned by its manager; a property never owns its sub-properties.
class QtProperty
{
public:
    QString propertyName() const { return m_name; }
    void setPropertyName(const QString &name);
    QtAbstractPropertyManager *propertyManager() const { return m_manager; }
    QList<QtProperty *> subProperties() const { return m_subProperties; }
    // Appends property as the last child; a null property, the property itself or one already
    // below it is ignored. Browsers that show this property show the new child at once.
    void addSubProperty(QtProperty *property);
    // The value as text, as the manager renders it.
    QString valueText() const;

private:
    friend class QtAbstractPropertyManager;
    explicit QtProperty(QtAbstractPropertyManager *manager);

    QtAbstractPropertyManager *m_manager;
    QString m_name;
    QList<QtProperty *> m_subProperties;
};

// Creates, owns and deletes properties, and says how a value reads as text. Subclasses hold the
// values and emit propertyChanged whenever one changes.
class QtAbstractPropertyManager : public QObject
{
    Q_OBJECT

public:
    explicit QtAbstractPropertyManager(QObject *parent = nullptr);
    // Emits aboutToBeDestroyed, then deletes every property that this manager created.
    ~QtAbstractPropertyManager() override;

    // A new property with the given label; the manager keeps ownership.
    QtProperty *addProperty(const QString &name = QString());
    QList<QtProperty *> properties() const { return m_properties; }
    virtual QString valueText(const QtProperty *property) const = 0;

signals:
    // property was appended to parent's sub-properties.
    void propertyInserted(QtProperty *property, QtProperty *parent);
    // The label or the value of property changed.
    void propertyChanged(QtProperty *property);
    // The manager is going away; its properties still exist during this signal.
    void aboutToBeDestroyed(QtAbstractPropertyManager *manager);

protected:
    // Called for each new property, before addProperty returns it.
    virtual void initializeProperty(QtProperty *property) { Q_UNUSED(property) }

private:
    friend class QtProperty;
    QList<QtProperty *> m_properties;
};

// Properties whose value is a string (empty at first).
class QtStringPropertyManager : public QtAbstractPropertyManager
{
    Q_OBJECT

public:
    explicit QtStringPropertyManager(QObject *parent = nullptr);
    ~QtStringPropertyManager() override;

    // The value of property; empty for a property of another manager.
    QString value(const QtProperty *property) const;
    QString valueText(const QtProperty *property) const override;

public slots:
    // Stores value and emits valueChanged and propertyChanged when it differs from the old
    // one; a property of another manager is ignored.
    void setValue(QtProperty *property, const QString &value);

signals:
    void valueChanged(QtProperty *property, const QString &value);

protected:
    void initializeProperty(QtProperty *property) override;

private:
    QHash<const QtProperty *, QString> m_values;
};
