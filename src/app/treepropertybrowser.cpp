#include "app/treepropertybrowser.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTreeWidget>

TreePropertyBrowser::TreePropertyBrowser(QWidget *parent)
    : QtTreePropertyBrowser(parent)
    , m_treeWidget(findChild<QTreeWidget *>())
{}

QSize TreePropertyBrowser::sizeHint() const
{
    if (!m_treeWidget)
        return QtTreePropertyBrowser::sizeHint();
    const int frame = 2 * m_treeWidget->frameWidth();
    const QHeaderView *header = m_treeWidget->header();
    const int headerHeight = header->isHidden() ? 0 : header->sizeHint().height();
    // note: every row holds one line of text and a line edit, so the first row's height serves
    // for all.
    const int rows = m_treeWidget->topLevelItemCount();
    const int rowHeight = rows > 0 ? qMax(0, m_treeWidget->sizeHintForRow(0)) : 0;
    // note: room for a horizontal scroll bar too. A tree that was once smaller than this keeps
    // both bars when each is needed only because of the other; with that room the rows fit
    // beside a horizontal bar, so the vertical one goes, and the horizontal one after it.
    const int scrollBar = m_treeWidget->horizontalScrollBar()->sizeHint().height();
    return QSize(header->length() + frame, headerHeight + rows * rowHeight + scrollBar + frame);
}
