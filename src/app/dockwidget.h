#pragma once

#include <QDockWidget>

// A dock that does not dock while it floats and Control is held: the user can then move it over
// the window's edges freely.
class DockWidget : public QDockWidget
{
    Q_OBJECT

public:
    explicit DockWidget(QWidget *parent = nullptr);

protected:
    void moveEvent(QMoveEvent *event) override;

private:
    Qt::DockWidgetAreas m_savedAllowedAreas = Qt::NoDockWidgetArea;
    bool m_controlHeld = false;
};
