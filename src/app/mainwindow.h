#pragma once

#include <QMainWindow>

// The program's main window. For now an empty window with the program's title.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;
};
