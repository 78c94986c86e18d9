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

private slots:
    // Each group of axis buttons keeps exactly one checked.
    void on_rotateXToolButton_clicked();
    void on_rotateYToolButton_clicked();
    void on_rotateZToolButton_clicked();
    void on_mirrorXToolButton_clicked();
    void on_mirrorYToolButton_clicked();
    void on_mirrorZToolButton_clicked();

    // Return in a translate field moves by the three fields, backwards with Shift held.
    void on_translateXLineEdit_returnPressed();
    void on_translateYLineEdit_returnPressed();
    void on_translateZLineEdit_returnPressed();
    void on_translateUpToolButton_clicked();
    void on_translateDownToolButton_clicked();

    // Return in the angle field turns by it about the checked axis, backwards with Shift held.
    void on_rotateLineEdit_returnPressed();
    void on_rotateUpToolButton_clicked();
    void on_rotateDownToolButton_clicked();

    void on_scaleXLineEdit_textChanged(const QString &text);
    void on_scaleYLineEdit_textChanged(const QString &text);
    void on_scaleZLineEdit_textChanged(const QString &text);
    void on_uniformScaleCheckBox_toggled(bool checked);
    void on_scaleXLineEdit_returnPressed();
    void on_scaleYLineEdit_returnPressed();
    void on_scaleZLineEdit_returnPressed();
    // Scales by the three fields (their inverse with Shift held); the fields go back to 1
    // unless Alt is held.
    void on_applyScaleToolButton_clicked();
    void on_applyMirrorToolButton_clicked();

    void on_translateToOriginToolButton_clicked();
    // Moves the point of the bounds chosen in the dialog onto the origin.
    void on_translateToOriginDialog_apply();
    void on_translateToOriginDialog_finished(int result);

private:
    void checkOnly(QToolButton *clicked, QToolButton *x, QToolButton *y, QToolButton *z);
    void emitTranslate(qreal sign);
    void emitRotate(qreal angle);
    void updateApplyScale();

    Ui::TransformPanel *m_ui;
    TranslateToOriginDialog *m_translateToOriginDialog;
    geom::Vector3f m_boundsMinimum;
    geom::Vector3f m_boundsMaximum;
};
