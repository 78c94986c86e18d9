#include "propertybrowser/qteditorfactory.h"

#include <QLineEdit>

#include <algorithm>

QtLineEditFactory::QtLineEditFactory(QObject *parent)
    : QtAbstractEditorFactory<QtStringPropertyManager>(parent)
{}

QtLineEditFactory::~QtLineEditFactory()
{
    // Editors that outlive the factory must not call back into it.
    for (auto it = m_propertyOfEditor.cbegin(); it != m_propertyOfEditor.cend(); ++it)
        it.key()->disconnect(this);
}

QWidget *QtLineEditFactory::createEditor(QtStringPropertyManager *manager, QtProperty *property,
                                         QWidget *parent)
{
    if (!m_managers.contains(manager)) {
        m_managers.insert(manager);
        connect(manager, &QtStringPropertyManager::valueChanged, this,
                &QtLineEditFactory::managerValueChanged);
        connect(manager, &QObject::destroyed, this, [this, manager] { m_managers.remove(manager); });
    }
    auto *editor = new QLineEdit(parent);
    editor->setFrame(false);
    showValue(editor, manager->value(property));
    m_editorsOfProperty[property].append(editor);
    m_propertyOfEditor.insert(editor, property);
    connect(editor, &QLineEdit::textEdited, this, &QtLineEditFactory::editorTextEdited);
    connect(editor, &QObject::destroyed, this, &QtLineEditFactory::editorDestroyed);
    return editor;
}

// A value longer than its column reads from its start, as a label would, and not from the end
// where setText() leaves the cursor.
void QtLineEditFactory::showValue(QLineEdit *editor, const QString &value)
{
    editor->setText(value);
    editor->setCursorPosition(0);
}

void QtLineEditFactory::managerValueChanged(QtProperty *property, const QString &value)
{
    for (QLineEdit *editor : m_editorsOfProperty.value(property)) {
        if (editor->text() != value)
            showValue(editor, value);
    }
}

void QtLineEditFactory::editorTextEdited(const QString &text)
{
    QtProperty *property = m_propertyOfEditor.value(sender());
    if (!property)
        return;
    if (auto *manager = qobject_cast<QtStringPropertyManager *>(property->propertyManager()))
        manager->setValue(property, text);
}

void QtLineEditFactory::editorDestroyed(QObject *editor)
{
    QtProperty *property = m_propertyOfEditor.take(editor);
    if (!property)
        return;
    // The object is no longer a QLineEdit here; compare addresses only.
    QList<QLineEdit *> &editors = m_editorsOfProperty[property];
    editors.erase(std::remove_if(editors.begin(), editors.end(),
                                 [editor](QLineEdit *e) { return static_cast<QObject *>(e) == editor; }),
                  editors.end());
    if (editors.isEmpty())
        m_editorsOfProperty.remove(property);
}
