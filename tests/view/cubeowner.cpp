#include "cubeowner.h"

#include <QDir>
#include <QSignalSpy>

#include <cmath>

CubeOwner::CubeOwner(GLWidget *widget)
    : QObject(widget)
{
    connect(widget, &GLWidget::configureScene, this, &CubeOwner::configure);
    connect(widget, &GLWidget::renderScene, this, &CubeOwner::render);
}

void CubeOwner::configure(GLWidget *widget)
{
    widget->setSceneCenter(QVector3D(0, 0, 0));
    widget->setSceneRadius(float(std::sqrt(3.0) / 2.0));
}

void CubeOwner::render(GLWidget *widget)
{
    ++scenePasses;
    if (widget->property("RenderingLines").toBool())
        ++lineScenePasses;
    static const float faces[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    // Triangles, as a mesh is drawn: the geometry stage of the wireframe program takes only those.
    glBegin(GL_TRIANGLES);
    for (const auto &n : faces) {
        // Two axes spanning the face, ordered so that the corners run counter-clockwise seen from
        // outside.
        const QVector3D normal(n[0], n[1], n[2]);
        const QVector3D u = std::fabs(n[0]) > 0 ? QVector3D(0, 1, 0) : QVector3D(1, 0, 0);
        const QVector3D v = QVector3D::crossProduct(normal, u);
        const QVector3D c = normal * 0.5f;
        glNormal3f(normal.x(), normal.y(), normal.z());
        for (const auto &corner : {-u - v, u - v, u + v, -u - v, u + v, -u + v}) {
            const QVector3D p = c + corner * 0.5f;
            glVertex3f(p.x(), p.y(), p.z());
        }
    }
    glEnd();
}
