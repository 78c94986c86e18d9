#pragma once

#include "propertybrowser/qtpropertybrowser.h"

class QTreeWidget;

// The information panel's property tree. Its size hint is what its columns and its entries need,
// so the dock opens wide and tall enough to show every entry, collapsed, without scrolling.
class TreePropertyBrowser : public QtTreePropertyBrowser
{
    Q_OBJECT

public:
    explicit TreePropertyBrowser(QWidget *parent = nullptr);

    // Width: the header sections' total length plus the tree's frame on both sides. Height: the
    // header, one row per top-level entry, a horizontal scroll bar and the frame.
    QSize sizeHint() const override;

private:
    QTreeWidget *m_treeWidget;
};
