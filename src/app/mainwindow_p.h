#pragma once

#include "geom/core/cuboid.h"
#include "geom/core/vector3f.h"
#include "view/meshdisplaycache.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMatrix4x4>
#include <QString>
#include <QVector>

#include <array>
#include <memory>

class ExportSlicesDialog;
class QDialog;
class PreferencesDialog;
class QAction;
class QFileSystemWatcher;
class QObject;
class QProgressBar;
class QProgressDialog;
class QSlider;
class QToolButton;
class QUndoStack;
class QtProperty;
class QtStringPropertyManager;

namespace geom {
class StlMesh;
}

// The main window's data. Pointers to QObjects are children of the window; the mesh is owned.
struct MainWindowPrivate
{
    static constexpr int recentFileCount = 5;

    QObject *shortcutFilter = nullptr;
    QSlider *clipSlider = nullptr;
    QToolButton *clipToggle = nullptr;
    ExportSlicesDialog *exportSlicesDialog = nullptr;
    PreferencesDialog *preferencesDialog = nullptr;
    QProgressBar *progressBar = nullptr;
    QProgressDialog *progressDialog = nullptr;
    // Since the slice export's progress dialog last changed.
    QElapsedTimer sliceProgressAge;
    QtStringPropertyManager *propertyManager = nullptr;
    // The information rows: per axis X, Y, Z the axis row and its Delta, Min and Max rows.
    std::array<QtProperty *, 3> axisProperties{};
    std::array<QtProperty *, 3> deltaProperties{};
    std::array<QtProperty *, 3> minProperties{};
    std::array<QtProperty *, 3> maxProperties{};
    QtProperty *trianglesProperty = nullptr;
    QtProperty *surfaceAreaProperty = nullptr;
    QtProperty *volumeProperty = nullptr;
    QtProperty *fileProperty = nullptr;
    QtProperty *fileSizeProperty = nullptr;
    QtProperty *fileDateProperty = nullptr;
    QByteArray defaultLayout;
    QString baseTitle;
    std::array<QAction *, recentFileCount> recentFileActions{};
    QFileSystemWatcher *fileSystemWatcher = nullptr;
    geom::Cuboid sceneBounds;
    double sceneRadius = 0;
    QByteArray headerBytes;
    // The open model, from a successful load until the file is closed or replaced.
    std::unique_ptr<geom::StlMesh> mesh;
    QMatrix4x4 modelMatrix;
    QUndoStack *undoStack = nullptr;
    QString currentFile;
    QDialog *newsDialog = nullptr;
    geom::Vector3f hoverPoint{0, 0, 0};
    QVector<geom::Vector3f> rulerPoints = QVector<geom::Vector3f>(3, geom::Vector3f(0, 0, 0));
    double rulerDistance = 0;

    // Scene.
    // The mesh's arrays as drawn; emptied whenever the mesh or the GL context is replaced. The
    // preferences switch its GPU buffers.
    MeshDisplayCache displayCache;
    // Whether hoverPoint and the first two ruler points hold a picked point: a surface point may
    // lie exactly at the origin.
    bool hoverPicked = false;
    std::array<bool, 2> rulerPicked{};

    // Files.
    // The busy filter of an operation that ends by a signal (fileOperationFinished).
    QObject *busyFilter = nullptr;
    // True while a load or save runs.
    bool fileOperationRunning = false;
};
