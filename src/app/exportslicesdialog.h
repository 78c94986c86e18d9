#pragma once

#include <QDialog>

namespace Ui {
class ExportSlicesDialog;
}

// The options of a slice export: thickness, units, contour merging and its winding rule. Every
// option lives in its widget; the export reads the getters after the dialog has finished. The
// options are read from the settings when built and after a language change, and written when
// the dialog is accepted and when it is destroyed.
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

public slots:
    // Writes the settings, then accepts (the export starts from the finished signal).
    void accept() override;

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private slots:
    // Converts the thickness text to the new unit (index 0 millimetres, else inches) and shows
    // that unit's presets; a text that is not a number is kept as it is.
    void on_unitsComboBox_currentIndexChanged(int index);

private:
    void fillMetricPresets();
    void fillInchPresets();
    void readSettings();
    void writeSettings() const;

    Ui::ExportSlicesDialog *m_ui;
};
