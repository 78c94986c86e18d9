#pragma once

#include <QMainWindow>

class MeshDisplayCache;
struct MainWindowPrivate;
class QSettings;
class QUrl;

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
    // Builds the window completely; it is not shown.
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

protected:
    // Writes the view flags and the window layout; the window always closes.
    void closeEvent(QCloseEvent *event) override;
    // Accepts drags that carry file URLs.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

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

private:
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

    Ui::MainWindow *m_ui;
    MainWindowPrivate *d;
};
