#pragma once

#include <QDialog>

class GLWidget;
class QButtonGroup;

namespace Ui {
class PreferencesDialog;
}

// The preferences of the 3D view: colours, rendering pipeline, GPU caching and camera animation.
// Modeless, owned by the main window, which fills its controls from the settings and binds it to
// the view.
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

signals:
    void cachingChanged();
    // A swatch or the X-ray colours switch changed.
    void colorChanged();

private:
    Ui::PreferencesDialog *m_ui;
    QButtonGroup *m_renderingPipelineGroup;
    QButtonGroup *m_cachingGroup;
    GLWidget *m_glWidget = nullptr;
};
