#pragma once

#include "app/mainwindow.h"

#include <QMatrix4x4>
#include <QObject>
#include <QUndoCommand>

// One step of the model's placement. It holds the model matrix that its window does not hold:
// the matrix after the step while it is undone, the one before it while it is done. Undo and
// redo swap the two whole values; the command repaints nothing itself.
class MainWindow::TransformCommand : public QObject, public QUndoCommand
{
public:
    TransformCommand(MainWindow *target, const QMatrix4x4 &matrix);

    void redo() override;
    void undo() override;

private:
    MainWindow *m_target;
    QMatrix4x4 m_matrix;
};
