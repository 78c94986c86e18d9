// The model's placement: translate, rotate, scale and mirror through undoable commands, and
// laying a picked facet flat on the platform.
#include "app/mainwindow.h"
#include "app/mainwindow_p.h"
#include "app/transformcommand.h"
#include "geom/core/facet.h"
#include "geom/core/fuzzy.h"
#include "geom/core/util3d.h"
#include "geom/mesh/stlmesh.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QUndoStack>
#include <QVector3D>

#include <algorithm>
#include <cmath>
#include <limits>

MainWindow::TransformCommand::TransformCommand(MainWindow *target, const QMatrix4x4 &matrix)
    : m_target(target)
    , m_matrix(matrix)
{}

void MainWindow::TransformCommand::redo()
{
    undo();
}

void MainWindow::TransformCommand::undo()
{
    std::swap(m_target->d->modelMatrix, m_matrix);
}

namespace {

// The model origin: where the mesh's local origin lies in world space.
QVector3D modelOrigin(const QMatrix4x4 &m)
{
    return m.column(3).toVector3D();
}

geom::Vector3f toVector3f(const QVector3D &v)
{
    return geom::Vector3f(v.x(), v.y(), v.z());
}

QVector3D toQVector3D(const geom::Vector3f &v)
{
    return QVector3D(v.x, v.y, v.z);
}

bool fuzzyEqual(float a, float b)
{
    return geom::Fuzzy<float>(a) == b;
}

// The squared distance from origin to where the ray along direction hits the triangle p1, p2, p3
// from its front, or a negative value for no hit. Used in world space when the model matrix
// cannot be inverted.
float worldHitDistance(const QVector3D &origin, const QVector3D &direction, const QVector3D &p1,
                       const QVector3D &p2, const QVector3D &p3)
{
    const QVector3D edge1 = p2 - p1;
    const QVector3D edge2 = p3 - p1;
    const QVector3D p = QVector3D::crossProduct(direction, edge2);
    const float det = QVector3D::dotProduct(edge1, p);
    if (!(det >= 1e-5f))
        return -1;
    const QVector3D s = origin - p1;
    const float u = QVector3D::dotProduct(s, p);
    if (u < 0 || u > det)
        return -1;
    const QVector3D q = QVector3D::crossProduct(s, edge1);
    const float v = QVector3D::dotProduct(direction, q);
    if (v < 0 || u + v > det)
        return -1;
    const float t = QVector3D::dotProduct(edge2, q);
    if (t < -1e-5f)
        return -1;
    return (direction * (t / det)).lengthSquared();
}

} // namespace

void MainWindow::pushTransform(const QMatrix4x4 &delta)
{
    if (!d->mesh)
        return;
    d->undoStack->push(new TransformCommand(this, delta * d->modelMatrix));
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void MainWindow::on_transformPanel_translate(qreal x, qreal y, qreal z)
{
    QMatrix4x4 delta;
    delta.translate(float(x), float(y), float(z));
    pushTransform(delta);
}

void MainWindow::on_transformPanel_rotate(qreal angle, qreal x, qreal y, qreal z)
{
    const QVector3D origin = modelOrigin(d->modelMatrix);
    QMatrix4x4 delta;
    delta.translate(origin);
    delta.rotate(float(angle), float(x), float(y), float(z));
    delta.translate(-origin);
    pushTransform(delta);
}

void MainWindow::on_transformPanel_scale(qreal x, qreal y, qreal z)
{
    const QVector3D origin = modelOrigin(d->modelMatrix);
    QMatrix4x4 scaling;
    scaling.scale(float(x), float(y), float(z));
    QMatrix4x4 delta;
    delta.translate(origin - scaling.map(origin));
    pushTransform(delta * scaling);
}

void MainWindow::on_undoStack_indexChanged(int)
{
    updateFileInformation();
    updateClipSliderRange();
    m_ui->widget->refresh(false);
}

void MainWindow::rotateFacetDownward(const QVector3D &nearPoint, const QVector3D &farPoint)
{
    if (!d->mesh)
        return;
    const QMatrix4x4 &model = d->modelMatrix;
    const QVector<geom::Vector3f> &vertices = d->mesh->vertices();
    const QVector<geom::IndexedFacet> &facets = d->mesh->indices();

    int hit = -1;
    float nearest = std::numeric_limits<float>::infinity();
    bool invertible = false;
    const QMatrix4x4 inverse = model.inverted(&invertible);
    if (invertible) {
        const geom::Vector3f origin = toVector3f(inverse.map(nearPoint));
        const geom::Vector3f direction = toVector3f(inverse.map(farPoint)) - origin;
        for (int i = 0; i < facets.size(); ++i) {
            const geom::IndexedFacet &f = facets.at(i);
            const util2D::Intersection3f crossing = util2D::intersectRayTriangle(
                origin, direction, vertices.at(f.a), vertices.at(f.b), vertices.at(f.c));
            if (crossing.count == 0)
                continue;
            const geom::Vector3f offset = crossing.first - origin;
            const float distance = offset.x * offset.x + offset.y * offset.y + offset.z * offset.z;
            if (distance < nearest) {
                nearest = distance;
                hit = i;
            }
        }
    } else {
        const QVector3D direction = farPoint - nearPoint;
        for (int i = 0; i < facets.size(); ++i) {
            const geom::IndexedFacet &f = facets.at(i);
            const float distance = worldHitDistance(
                nearPoint, direction, model.map(toQVector3D(vertices.at(f.a))),
                model.map(toQVector3D(vertices.at(f.b))), model.map(toQVector3D(vertices.at(f.c))));
            if (distance >= 0 && distance < nearest) {
                nearest = distance;
                hit = i;
            }
        }
    }
    if (hit < 0)
        return;

    const geom::IndexedFacet &f = facets.at(hit);
    const geom::FacetCross cross = geom::facetCross(toVector3f(model.map(toQVector3D(vertices.at(f.a)))),
                                                    toVector3f(model.map(toQVector3D(vertices.at(f.b)))),
                                                    toVector3f(model.map(toQVector3D(vertices.at(f.c)))));
    // A facet without a direction has no side to lay down.
    if (cross.degenerate)
        return;
    QVector3D normal = toQVector3D(cross.normal());
    // A mirroring matrix reverses the winding of every facet, so the corners' cross product
    // points into the model; the facet's outer side is the opposite one.
    if (model.determinant() < 0)
        normal = -normal;

    if (fuzzyEqual(normal.x(), 0) && fuzzyEqual(normal.y(), 0) && fuzzyEqual(normal.z(), -1))
        return;
    if (fuzzyEqual(normal.x(), 0) && fuzzyEqual(normal.y(), 0) && fuzzyEqual(normal.z(), 1)) {
        const geom::Vector3f low = d->sceneBounds.min();
        const geom::Vector3f high = d->sceneBounds.max();
        if (high.y - low.y <= high.x - low.x)
            on_transformPanel_rotate(180, 1, 0, 0);
        else
            on_transformPanel_rotate(180, 0, 1, 0);
        return;
    }
    const QVector3D down(0, 0, -1);
    const QVector3D axis = QVector3D::crossProduct(normal, down).normalized();
    const double cosine = std::max(-1.0, std::min(1.0, double(QVector3D::dotProduct(normal, down))));
    const double angle = std::acos(cosine) * double(57.295776f);
    on_transformPanel_rotate(angle, axis.x(), axis.y(), axis.z());
}
