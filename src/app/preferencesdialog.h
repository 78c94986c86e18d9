#pragma once

#include <QDialog>

class GLWidget;
class QButtonGroup;
class QColor;

namespace Ui {
class PreferencesDialog;
}

// The preferences of the 3D view: colours, rendering pipeline, GPU caching and camera animation.
// Modeless, owned by the main window, which fills its controls from the settings and binds it to
// the view. Every change is live; Cancel restores the state the controls had when shown.
class PreferencesDialog : public QDialog
{
    Q_OBJECT

public:
    // Pipeline ids: 0 fixed-function, 1 GLSL shaders. Caching ids: 0 none, 1 display lists
    // (no button), 2 vertex buffer objects.
    explicit PreferencesDialog(QWidget *parent = nullptr);
    ~PreferencesDialog() override;

    // Binds the dialog to view (not owned); null unbinds it.
    void setGLWidget(GLWidget *view);
    GLWidget *glWidget() const { return m_glWidget; }
    // The id of the selected button of each group, -1 when none is selected.
    int renderingPipeline() const;
    int caching() const;
    // Click the button of that id; nothing when there is none or it is disabled.
    void setRenderingPipeline(int id);
    void setCaching(int id);
    // With animation on and no caching, warns that frame rates may suffer (modal).
    void warnIfNoCaching();

signals:
    void cachingChanged();
    // A swatch or the X-ray colours switch changed.
    void colorChanged();

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private slots:
    void on_resetBackgroundTopColor_clicked();
    void on_resetBackgroundBottomColor_clicked();
    void on_resetEdgeColor_clicked();
    void on_resetFillColor_clicked();
    void on_resetBackFillColor_clicked();
    void on_resetXRayBackgroundTopColor_clicked();
    void on_resetXRayBackgroundBottomColor_clicked();
    void on_resetXRayFillColor_clicked();
    void on_backgroundTopColor_currentColorChanged(const QColor &color);
    void on_backgroundBottomColor_currentColorChanged(const QColor &color);
    void on_edgeColor_currentColorChanged(const QColor &color);
    void on_fillColor_currentColorChanged(const QColor &color);
    void on_backFillColor_currentColorChanged(const QColor &color);
    void on_xRayBackgroundTopColor_currentColorChanged(const QColor &color);
    void on_xRayBackgroundBottomColor_currentColorChanged(const QColor &color);
    void on_xRayFillColor_currentColorChanged(const QColor &color);
    void on_animationSpeedComboBox_currentIndexChanged(int index);
    void renderingPipeline_clicked(int id);
    void caching_clicked(int id);
    void glWidget_useDisplayListsChanged();

private:
    Ui::PreferencesDialog *m_ui;
    QButtonGroup *m_renderingPipelineGroup;
    QButtonGroup *m_cachingGroup;
    GLWidget *m_glWidget = nullptr;
};
