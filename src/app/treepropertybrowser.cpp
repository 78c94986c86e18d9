#include "app/treepropertybrowser.h"

#include <QHeaderView>
#include <QTreeWidget>

TreePropertyBrowser::TreePropertyBrowser(QWidget *parent)
    : QtTreePropertyBrowser(parent)
    , m_treeWidget(findChild<QTreeWidget *>())
{}

QSize TreePropertyBrowser::sizeHint() const
{
    if (!m_treeWidget)
        return QtTreePropertyBrowser::sizeHint();
    return QSize(m_treeWidget->header()->length() + 2 * m_treeWidget->frameWidth(), 0);
}
