#pragma once

#include "geom/core/vector3f.h"

#include <QWidget>

class QToolButton;
class TranslateToOriginDialog;

namespace Ui {
class TransformPanel;
}

// The panel of the transform dock: translation, rotation, scale and mirror of the model. It holds
// no model state: every request leaves as one of the three signals, in millimetres, degrees or
// plain factors, and the main window turns it into an undoable change.
class TransformPanel : public QWidget
{
    Q_OBJECT

public:
    explicit TransformPanel(QWidget *parent = nullptr);
    ~TransformPanel() override;

    // The corners of the transformed model's bounds, (0, 0, 0) each without a model.
    void setBoundsMinimum(const geom::Vector3f &minimum) { m_boundsMinimum = minimum; }
    void setBoundsMaximum(const geom::Vector3f &maximum) { m_boundsMaximum = maximum; }
    geom::Vector3f boundsMinimum() const { return m_boundsMinimum; }
    geom::Vector3f boundsMaximum() const { return m_boundsMaximum; }
    // The checkable lay-flat button that the main window's click handling reads and unchecks.
    QToolButton *rotateFacetDownwardToolButton() const;

    // The smallest size that shows every field: the dock does not grow the panel.
    QSize sizeHint() const override;

signals:
    void translate(qreal x, qreal y, qreal z);
    void rotate(qreal angle, qreal x, qreal y, qreal z);
    void scale(qreal x, qreal y, qreal z);

protected:
    void changeEvent(QEvent *event) override;

private:
    Ui::TransformPanel *m_ui;
    TranslateToOriginDialog *m_translateToOriginDialog;
    geom::Vector3f m_boundsMinimum;
    geom::Vector3f m_boundsMaximum;
};
