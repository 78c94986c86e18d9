#include "view/glwidget.h"

// Picking, the axis overlay and text labels.

void GLWidget::beginPicking(int, const QRectF &) {}
void GLWidget::beginPickItem(int) {}
void GLWidget::endPickItem() {}
QVector<GLuint> GLWidget::pickedItems()
{
    return {};
}
void GLWidget::endPicking() {}
void GLWidget::setOcclusionQueryAvailable(bool available)
{
    m_occlusionQueryAvailable = available;
}
GLWidget::TextLabel *GLWidget::renderText(TextLabel &)
{
    return nullptr;
}
QVariant GLWidget::textLabelDataAt(const QPoint &) const
{
    return QVariant();
}
void GLWidget::clearTextLabels()
{
    qDeleteAll(m_textLabels);
    m_textLabels.clear();
}
void GLWidget::renderFrame() {}
void GLWidget::paintOverlay() {}
void GLWidget::drawCone(float, float, int, int) {}
void GLWidget::drawCylinder(float, float, int, int) {}
void GLWidget::drawSphere(float, int, int) {}
void GLWidget::drawCube(float) {}
