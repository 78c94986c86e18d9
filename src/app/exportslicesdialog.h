#pragma once

#include <QDialog>

namespace Ui {
class ExportSlicesDialog;
}

// The options of a slice export: thickness, units, contour merging and its winding rule. Every
// option lives in its widget; the export reads the getters after the dialog has finished.
class ExportSlicesDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ExportSlicesDialog(QWidget *parent = nullptr);
    ~ExportSlicesDialog() override;

    // The thickness text as a number in the chosen unit; 0 when it is not a number.
    float sliceThickness() const;
    // True for millimetres, false for inches.
    bool isMetric() const;
    bool mergeContours() const;
    // The winding rule of the merged contours, 0 to 4 (odd, non-zero, positive, negative,
    // absolute value of at least two).
    int windingRule() const;

private:
    Ui::ExportSlicesDialog *m_ui;
};
