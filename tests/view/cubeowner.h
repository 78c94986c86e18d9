#pragma once

#include "../common/framegrab.h"
#include "view/glwidget.h"

#include <QImage>
#include <QObject>

// A stand-in for the main window: frames a unit cube centred at the origin through the view's
// frame signals and draws it in immediate mode with outward normals.
class CubeOwner : public QObject
{
    Q_OBJECT

public:
    explicit CubeOwner(GLWidget *widget);

    int scenePasses = 0;     // renderScene emissions since the last reset
    int lineScenePasses = 0; // of which with "RenderingLines" set

public slots:
    void configure(GLWidget *widget);
    void render(GLWidget *widget);
};
