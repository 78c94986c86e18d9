#pragma once

#include "propertybrowser/qtpropertybrowser.h"

class QTreeWidget;

// The information panel's property tree. Its width hint is what its columns need, so the dock
// opens wide enough for every text; it asks for no height.
class TreePropertyBrowser : public QtTreePropertyBrowser
{
    Q_OBJECT

public:
    explicit TreePropertyBrowser(QWidget *parent = nullptr);

    // Width: the header sections' total length plus the tree's frame on both sides; height 0.
    QSize sizeHint() const override;

private:
    QTreeWidget *m_treeWidget;
};
