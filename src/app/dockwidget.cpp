#include "app/dockwidget.h"

#include <QApplication>

DockWidget::DockWidget(QWidget *parent)
    : QDockWidget(parent)
{}

void DockWidget::moveEvent(QMoveEvent *event)
{
    if (isWindow()) {
        // The modifiers of the moment, not of the last event: a drag delivers no key events.
        const bool controlHeld = QApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
        if (controlHeld != m_controlHeld) {
            if (controlHeld) {
                m_savedAllowedAreas = allowedAreas();
                setAllowedAreas(Qt::NoDockWidgetArea);
            } else {
                setAllowedAreas(m_savedAllowedAreas);
            }
            m_controlHeld = controlHeld;
        }
    }
    QDockWidget::moveEvent(event);
}
