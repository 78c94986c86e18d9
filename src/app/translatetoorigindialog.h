#pragma once

#include "geom/core/vector3f.h"

#include <QDialog>

class QAbstractButton;

namespace Ui {
class TranslateToOriginDialog;
}

// Asks which point of the model's bounding box moves onto the origin, per axis: the minimum, the
// centre, the maximum or none. It only collects the choice; the transform panel acts on it.
class TranslateToOriginDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TranslateToOriginDialog(QWidget *parent = nullptr);
    ~TranslateToOriginDialog() override;

    // The choice of the X, Y and Z axes: -2 none, -1 minimum, 0 centre (also when nothing is
    // checked), 1 maximum.
    geom::Vector3f selection() const;

signals:
    // The user pressed Apply; the dialog stays open.
    void apply();

private slots:
    // Keeps one choice per axis: a checked button unchecks the others of its axis, and the
    // axis's choice cannot be unchecked, only changed.
    void radioButton_clicked(bool checked);
    // A column header makes its column the choice of all three axes.
    void on_minLabel_linkActivated(const QString &link);
    void on_centerLabel_linkActivated(const QString &link);
    void on_maxLabel_linkActivated(const QString &link);
    void on_noneLabel_linkActivated(const QString &link);
    void on_buttonBox_clicked(QAbstractButton *button);

private:
    Ui::TranslateToOriginDialog *m_ui;
};
