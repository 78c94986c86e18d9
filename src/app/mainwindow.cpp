#include "app/mainwindow.h"

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(tr("Orvan Quarn (STL Compressor/Viewer)"));
}

MainWindow::~MainWindow() = default;
