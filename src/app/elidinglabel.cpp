#include "app/elidinglabel.h"

#include <QPainter>
#include <QPicture>
#include <QTextOption>

ElidingLabel::ElidingLabel(QWidget *parent, Qt::WindowFlags flags)
    : QLabel(parent, flags)
{}

ElidingLabel::ElidingLabel(const QString &text, QWidget *parent, Qt::WindowFlags flags)
    : QLabel(text, parent, flags)
{}

void ElidingLabel::paintEvent(QPaintEvent *event)
{
    if (movie() || !picture(Qt::ReturnByValue).isNull() || !pixmap(Qt::ReturnByValue).isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    const int m = margin();
    const QRect r = contentsRect().adjusted(m, m, -m, -m);
    const QString elided = QFontMetrics(font()).elidedText(text(), m_elideMode, r.width());
    QPainter painter(this);
    painter.drawText(QRectF(r), elided, QTextOption(alignment()));
}
