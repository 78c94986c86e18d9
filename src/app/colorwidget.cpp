#include "app/colorwidget.h"

#include <QColorDialog>
#include <QPaintEvent>
#include <QPainter>

ColorWidget::ColorWidget(QWidget *parent, Qt::WindowFlags f)
    : QFrame(parent, f)
    , m_colorDialog(new QColorDialog(this))
{
    m_colorDialog->setObjectName(QStringLiteral("colorDialog"));
    m_colorDialog->setOption(QColorDialog::DontUseNativeDialog, true);
    QMetaObject::connectSlotsByName(this);
    connect(m_colorDialog, &QColorDialog::currentColorChanged, this, &ColorWidget::currentColorChanged);
}

ColorWidget::~ColorWidget()
{
    delete m_colorDialog;
}

QColor ColorWidget::currentColor() const
{
    return m_colorDialog->currentColor();
}

void ColorWidget::setCurrentColor(const QColor &color)
{
    m_colorDialog->setCurrentColor(color);
    update();
}

QSize ColorWidget::sizeHint() const
{
    return QSize(64, 16);
}

QSize ColorWidget::minimumSizeHint() const
{
    return QSize(16, 16);
}

void ColorWidget::mousePressEvent(QMouseEvent *event)
{
    Q_UNUSED(event)
    m_oldColor = m_colorDialog->currentColor();
    m_colorDialog->open();
}

void ColorWidget::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setClipRegion(event->region() & contentsRect());
    painter.fillRect(contentsRect(), currentColor());
}

void ColorWidget::on_colorDialog_currentColorChanged(const QColor &color)
{
    Q_UNUSED(color)
    update();
}

void ColorWidget::on_colorDialog_finished(int result)
{
    if (result == QDialog::Rejected)
        m_colorDialog->setCurrentColor(m_oldColor);
}
