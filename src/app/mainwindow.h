#pragma once

#include <QMainWindow>

#include <functional>

class MeshDisplayCache;

class GLWidget;
struct MainWindowPrivate;
class QMouseEvent;
class QDropEvent;
class QMatrix4x4;
class QVector3D;
class QSettings;
class QUrl;

namespace geom {
class Slice;
}

namespace Ui {
class MainWindow;
}

// The program's one window: menus, toolbars, the 3D view, the information and transform docks.
// It reads its settings when built and writes the view flags and its layout when closed; closing
// hides it. GUI thread only.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Builds the window completely; it is not shown. From then on SIGINT, SIGTERM and SIGHUP
    // remove the temporary file of a save under way and end the program with 128 plus the
    // signal's number.
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // True while a file is open (the current file name is not empty).
    bool hasCurrentFile() const;
    // True while a file operation runs, that is while its progress bar is shown.
    bool isBusy() const;

    // The file named on the command line is opened by the first program-caused show of the first
    // window that is shown, once per process. A window that receives a file from the system
    // calls this first, so that the command line never replaces that file.
    static void dropCommandLineFile();

    // The arrays through which the mesh is drawn.
    MeshDisplayCache &displayCache();

public slots:
    // Opens the named mesh file in this window; a name that is not an existing file is reported
    // and removed from the recent files, and the open file stays open.
    void openFile(const QString &fileName);
    // Records name as the current file: recent files (most recent first, at most five), the
    // information panel, the title, the watched file and the states of the file actions. An
    // empty name records that no file is open.
    void setCurrentFile(const QString &fileName);
    // Shows the licence that a "license:" link names.
    void viewLicense(const QUrl &url);

    // Files. Each load or save runs on a thread of its own (on the GUI thread when the system
    // refuses one) while this window waits behind a busy filter; while one runs, openFile and
    // closeFile do nothing.
    // Drops the mesh, the model matrix and the undo history; the window shows nothing.
    void closeFile();

protected:
    // Writes the view flags and the window layout; the window always closes.
    void closeEvent(QCloseEvent *event) override;
    // Accepts drags that carry file URLs.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    // Opens the first local file of a drop.
    void dropEvent(QDropEvent *event) override;

private slots:
    void openRecentFile();
    void removeRecentFile(const QString &fileName);
    void on_menu_File_aboutToShow();
    void on_clipToolBar_orientationChanged(Qt::Orientation orientation);

    // Preferences, about box, change log (mainwindow_preferences.cpp).
    void on_preferencesDialog_colorChanged();
    void on_preferencesDialog_cachingChanged();
    void on_preferencesDialog_finished(int result);
    void on_action_About_triggered();
    void on_action_Changelog_triggered();

    // Files.
    void on_action_Open_triggered();
    void on_action_Close_triggered();
    void on_action_Save_As_triggered();
    void on_action_Quarn_triggered();
    void on_action_Unquarn_triggered();
    void on_fileSystemWatcher_fileChanged(const QString &path);
    // Ends an operation that reports its end by a signal: deletes the sender later, clears the
    // status bar and removes the window's busy filter.
    void fileOperationFinished();

    // Slice export.
    // Asks for the SLC file and opens the export dialog; the export runs when it is accepted.
    void on_action_Export_Slices_triggered();
    // Slices the model under the model matrix and writes the SLC file; nothing for result 0.
    // Refuses a thickness that is not a positive number and reports a failed write.
    void on_exportSlicesDialog_finished(int result);
    // The progress of an export, after each layer.
    void sliceReady(int id, int total);

    // Scene: the view's frame and mouse signals, the ruler and the clip controls.
    void on_widget_configureScene(GLWidget *widget);
    void on_widget_preRenderScene(GLWidget *widget);
    void on_widget_renderScene(GLWidget *widget);
    void on_widget_renderOverlay(GLWidget *widget);
    void on_widget_mouseMove(QMouseEvent *event);
    void on_widget_mouseRelease(QMouseEvent *event);
    void on_widget_mouseClicked(QMouseEvent *event);
    void on_action_Ruler_toggled(bool checked);
    void on_clipSlider_valueChanged(int value);
    void on_clipToggle_clicked();

    // View actions.
    void on_action_Isometric_View_triggered();
    void on_action_Top_down_View_triggered();
    void on_action_Front_View_triggered();
    void on_action_Side_View_triggered();
    void on_action_Perspective_toggled(bool checked);
    void on_action_Zoom_In_triggered();
    void on_action_Zoom_Out_triggered();
    void on_action_Zoom_To_All_triggered();
    void on_action_Line_Rendering_toggled(bool checked);
    void on_action_Hidden_Line_Rendering_toggled(bool checked);
    void on_action_Wireframe_Rendering_toggled(bool checked);
    void on_action_X_Ray_Shading_toggled(bool checked);
    void on_action_Show_Origin_toggled(bool checked);
    void on_action_Show_Flipped_Facets_triggered(bool checked);
    void on_action_Mouse_Wrap_Around_toggled(bool checked);
    void on_action_Anti_Aliasing_toggled(bool checked);
    void on_action_Preferences_triggered();
    void on_action_News_triggered();
    void on_action_Reset_triggered();

private:
    // Places models under mirroring matrices that the window's own controls do not make yet.
    friend class TestMainWindowScene;

    // Files. Each writer saves the mesh under the model matrix to name, replacing a file there
    // (or the file a link there leads to) only once the new one is complete. They return a null
    // text on success, else the reason of the failure, the system's own when it gave one.
    QString writeQrnFile(const QString &fileName);
    QString writeStlFile(const QString &fileName);
    // format: 0 binary big-endian, 1 binary little-endian, 2 ASCII; negative: the default.
    QString writePlyFile(const QString &fileName, int format);
    // Runs one save: shows status, calls write under a busy filter; on success name becomes the
    // current file, on failure a box gives the reason. Nothing for a null name (a cancelled
    // dialog).
    void save(const QString &fileName, const QString &status,
              const std::function<QString(const QString &)> &write);
    // The name that a save in the format of `suffix` (".stl", ".qrn", ".ply") writes for
    // `typed`, a name from a file dialog: as typed when it ends in the suffix (in any case), else
    // with the suffix added. The file dialog asked only about the typed name, so an existing file
    // under the longer one is replaced only when the user says so; null when not (and for a null
    // `typed`). A file that may not be replaced is not asked about: its save fails with the reason.
    QString withSuffix(const QString &typed, const QString &suffix);
    // Saves to fileName through save() in `format`: 0 STL, 1 Quarn, 2 PLY (the order of the Save
    // As filters), a PLY file in the encoding that the user picks first. Nothing for a null name.
    void saveInFormat(const QString &fileName, int format);
    // Drops the mesh and resets the window to its empty state.
    void discardFile();

    void readPreferences(QSettings &settings);
    void applyViewSettings(QSettings &settings);
    void completeViewMenu();
    void buildInformationPanel();
    // Re-translates the form and rebuilds the rich tooltips of the toolbar actions.
    void retranslate();
    // Refills the information panel and the scene bounds and radius from the mesh under the
    // model matrix and from the current file.
    void updateFileInformation();
    void updateWindowTitle();
    void updateClipSliderRange();

    // Slice export.
    // Writes the slices to fileName, replacing a file there only once the new one is complete.
    // Returns an empty text on success, else the reason of the failure.
    QString writeSlcFile(const QString &fileName, const QList<geom::Slice> &slices, bool metric);

    // Transforms. Each one pushes a command that swaps the model matrix; the mesh's vertices
    // never change. Rotation and scaling act about the model origin, translations along the
    // world axes. Without a mesh they do nothing.
    class TransformCommand;
    friend class TestMainWindowTransform;

private slots:
    void on_transformPanel_translate(qreal x, qreal y, qreal z);
    void on_transformPanel_rotate(qreal angle, qreal x, qreal y, qreal z);
    void on_transformPanel_scale(qreal x, qreal y, qreal z);
    // Brings the information panel, the clip slider and the view up to date after a push, undo,
    // redo or the clearing of a stack that held commands.
    void on_undoStack_indexChanged(int index);

private:
    // Pushes the change delta, applied in world coordinates after the current model matrix.
    void pushTransform(const QMatrix4x4 &delta);
    // Turns the model about its origin so that the front-facing facet nearest to nearPoint on
    // the ray towards farPoint (world coordinates) faces -Z. Nothing when no facet is hit or the
    // facet already faces down.
    void rotateFacetDownward(const QVector3D &nearPoint, const QVector3D &farPoint);

    Ui::MainWindow *m_ui;
    MainWindowPrivate *d;

    // Tests reach the model matrix, which only the transforms change.
    friend class TestExportSlices;
};
