#include "propertybrowser/qtpropertymanager.h"

QtProperty::QtProperty(QtAbstractPropertyManager *manager)
    : m_manager(manager)
{}

void QtProperty::setPropertyName(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    emit m_manager->propertyChanged(this);
}

void QtProperty::addSubProperty(QtProperty *property)
{
    if (!property || property == this || m_subProperties.contains(property))
        return;
    // A cycle would make every browser recurse without end.
    QList<QtProperty *> pending{property};
    while (!pending.isEmpty()) {
        QtProperty *next = pending.takeLast();
        if (next == this)
            return;
        pending += next->m_subProperties;
    }
    m_subProperties.append(property);
    emit m_manager->propertyInserted(property, this);
}

QString QtProperty::valueText() const
{
    return m_manager->valueText(this);
}

QtAbstractPropertyManager::QtAbstractPropertyManager(QObject *parent)
    : QObject(parent)
{}

QtAbstractPropertyManager::~QtAbstractPropertyManager()
{
    // QObject's destroyed() would come after the properties are gone.
    emit aboutToBeDestroyed(this);
    qDeleteAll(m_properties);
}

QtProperty *QtAbstractPropertyManager::addProperty(const QString &name)
{
    auto *property = new QtProperty(this);
    property->m_name = name;
    m_properties.append(property);
    initializeProperty(property);
    return property;
}

QtStringPropertyManager::QtStringPropertyManager(QObject *parent)
    : QtAbstractPropertyManager(parent)
{}

QtStringPropertyManager::~QtStringPropertyManager() = default;

QString QtStringPropertyManager::value(const QtProperty *property) const
{
    return m_values.value(property);
}

QString QtStringPropertyManager::valueText(const QtProperty *property) const
{
    return value(property);
}

void QtStringPropertyManager::setValue(QtProperty *property, const QString &value)
{
    const auto it = m_values.find(property);
    if (it == m_values.end() || *it == value)
        return;
    *it = value;
    emit valueChanged(property, value);
    emit propertyChanged(property);
}

void QtStringPropertyManager::initializeProperty(QtProperty *property)
{
    m_values.insert(property, QString());
}
