// The scene in the window: framing, drawing the model through the display cache, the origin
// marker, the ruler, the hover read-out, the lay-flat pick, the clip controls and the actions that
// change the view.
#include "app/mainwindow.h"
#include "app/mainwindow_p.h"
#include "app/newsmodule.h"
#include "app/preferencesdialog.h"
#include "app/transformpanel.h"
#include "geom/mesh/stlmesh.h"
#include "ui_mainwindow.h"
#include "view/glwidget.h"

#include <QMessageBox>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QToolButton>

#include <cmath>

namespace {

const QColor rulerPointColor(255, 192, 64, 255);
const QColor rulerHoverColor(192, 192, 64, 255);
const QColor rulerLineColor(255, 32, 32, 255);
const QColor rulerLabelBackground(128, 128, 128, 64);
constexpr double clipSliderUnit = 1e9;

void vertex(const geom::Vector3f &p)
{
    glVertex3f(p.x, p.y, p.z);
}

void stippledLine(const geom::Vector3f &from, const geom::Vector3f &to)
{
    glEnable(GL_LINE_STIPPLE);
    glLineStipple(3, 0xAAAA);
    glBegin(GL_LINES);
    vertex(from);
    vertex(to);
    glEnd();
}

} // namespace

void MainWindow::on_widget_configureScene(GLWidget *widget)
{
    if (!d->mesh)
        return;
    const geom::Vector3f &low = d->sceneBounds.min();
    const geom::Vector3f &high = d->sceneBounds.max();
    widget->setSceneCenter(
        QVector3D((low.x + high.x) * 0.5f, (low.y + high.y) * 0.5f, (low.z + high.z) * 0.5f));
    widget->setSceneRadius(float(d->sceneRadius));
}

void MainWindow::on_widget_preRenderScene(GLWidget *widget)
{
    if (!d->mesh || !widget->property("ShowOrigin").toBool())
        return;
    glPushAttrib(GL_CURRENT_BIT | GL_LIGHTING_BIT | GL_ENABLE_BIT);
    glDisable(GL_LIGHTING);
    const float r = float(d->sceneRadius);
    const struct
    {
        QColor color;
        float x, y, z;
    } axes[] = {{Qt::red, r, 0, 0}, {Qt::green, 0, r, 0}, {Qt::blue, 0, 0, r}};
    for (const auto &axis : axes) {
        widget->setGLColor(axis.color, GL_FRONT_AND_BACK, false);
        glBegin(GL_LINES);
        glVertex3f(0, 0, 0);
        glVertex3f(axis.x, axis.y, axis.z);
        glEnd();
    }
    glPopAttrib();
}

void MainWindow::on_widget_renderScene(GLWidget *widget)
{
    Q_UNUSED(widget)
    if (!d->mesh)
        return;
    const int caching = QSettings().value(QStringLiteral("PreferencesDialog/Caching"), 0).toInt();
    d->displayCache.setCaching(caching == 2);
    if (d->displayCache.isEmpty())
        d->displayCache.update(d->mesh.get(), 0);
    // A mirroring matrix turns every facet's winding: its front faces are the clockwise ones, or
    // the whole model would be drawn as flipped facets (or culled away).
    const bool mirrored = d->modelMatrix.determinant() < 0;
    if (mirrored)
        glFrontFace(GL_CW);
    d->displayCache.draw({d->modelMatrix});
    if (mirrored)
        glFrontFace(GL_CCW);
}

void MainWindow::on_widget_renderOverlay(GLWidget *widget)
{
    if (!m_ui->action_Ruler->isChecked())
        return;
    GLfloat pointSize = 1;
    GLfloat lineWidth = 1;
    glGetFloatv(GL_POINT_SIZE, &pointSize);
    glGetFloatv(GL_LINE_WIDTH, &lineWidth);
    glPointSize(6.0f);
    glLineWidth(1.0f);
    glPushAttrib(GL_ENABLE_BIT);
    glEnable(GL_POINT_SMOOTH);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);

    const QVector<geom::Vector3f> &points = d->rulerPoints;
    if (d->rulerPicked[0] && !d->rulerPicked[1]) {
        glBegin(GL_POINTS);
        widget->setGLColor(rulerPointColor, GL_FRONT_AND_BACK, false);
        vertex(points[0]);
        if (d->hoverPicked) {
            widget->setGLColor(rulerHoverColor, GL_FRONT_AND_BACK, false);
            vertex(d->hoverPoint);
        }
        glEnd();
        if (d->hoverPicked) {
            widget->setGLColor(rulerLineColor, GL_FRONT_AND_BACK, false);
            stippledLine(points[0], d->hoverPoint);
        }
    } else if (d->rulerPicked[0] && d->rulerPicked[1]) {
        widget->setGLColor(rulerPointColor, GL_FRONT_AND_BACK, false);
        glBegin(GL_POINTS);
        vertex(points[0]);
        vertex(points[1]);
        glEnd();
        widget->setGLColor(rulerLineColor, GL_FRONT_AND_BACK, false);
        stippledLine(points[0], points[1]);

        GLWidget::TextLabel label;
        label.text = tr("%1").arg(d->rulerDistance, 0, 'g');
        label.position = widget->project(QVector3D(points[2].x, points[2].y, points[2].z), true);
        label.alignment = Qt::AlignHCenter | Qt::AlignVCenter;
        label.color = Qt::white;
        label.background = QBrush(rulerLabelBackground, Qt::SolidPattern);
        widget->renderText(label);
    }

    glPopAttrib();
    glLineWidth(lineWidth);
    glPointSize(pointSize);
}

void MainWindow::on_widget_mouseMove(QMouseEvent *event)
{
    auto *view = qobject_cast<GLWidget *>(sender());
    if (view)
        view->handleMouseMove(event);
    if (!d->mesh || event->buttons() != Qt::NoButton) {
        statusBar()->clearMessage();
        return;
    }
    view = m_ui->widget;
    float depth = std::numeric_limits<float>::quiet_NaN();
    const QVector3D point = view->unprojectPixel(QPointF(event->pos()), &depth);
    if (std::fabs(depth) > 1e-5f && std::fabs(depth) < 1.0f) {
        d->hoverPoint = geom::Vector3f(point.x(), point.y(), point.z());
        d->hoverPicked = true;
        statusBar()->showMessage(tr("X: %1  Y: %2  Z: %3")
                                     .arg(double(point.x()), 0, 'f', 3)
                                     .arg(double(point.y()), 0, 'f', 3)
                                     .arg(double(point.z()), 0, 'f', 3));
    } else {
        statusBar()->clearMessage();
        d->hoverPoint = geom::Vector3f(0, 0, 0);
        d->hoverPicked = false;
    }
    // While a point is still to be picked the rubber band follows the cursor.
    if (m_ui->action_Ruler->isChecked() && !(d->rulerPicked[0] && d->rulerPicked[1]))
        view->refresh(false);
}

void MainWindow::on_widget_mouseRelease(QMouseEvent *event)
{
    if (auto *view = qobject_cast<GLWidget *>(sender()))
        view->handleMouseRelease(event);
    on_widget_mouseMove(event);
}

void MainWindow::on_widget_mouseClicked(QMouseEvent *event)
{
    GLWidget *view = m_ui->widget;
    const bool ruler = m_ui->action_Ruler->isChecked();
    QVector<geom::Vector3f> &points = d->rulerPoints;
    if (event->button() == Qt::LeftButton) {
        QToolButton *layFlat = m_ui->transformPanel->rotateFacetDownwardToolButton();
        if (layFlat->isChecked()) {
            const QPointF position(event->pos());
            const QVector3D nearPoint = view->unproject(position, 0.0f);
            const QVector3D farPoint = view->unproject(position, 1.0f);
            rotateFacetDownward(nearPoint, farPoint);
            layFlat->setChecked(false);
            return;
        }
        if (!ruler)
            return;
        if (!d->hoverPicked) {
            view->refresh(false);
            return;
        }
        if (!d->rulerPicked[0]) {
            points[0] = d->hoverPoint;
            d->rulerPicked[0] = true;
        } else if (!d->rulerPicked[1]) {
            points[1] = d->hoverPoint;
            d->rulerPicked[1] = true;
            d->rulerDistance = (points[1] - points[0]).length();
            points[2] = (points[0] + points[1]) * 0.5f;
        } else {
            d->rulerDistance = 0;
            points[0] = d->hoverPoint;
            points[1] = geom::Vector3f(0, 0, 0);
            d->rulerPicked[1] = false;
        }
        view->refresh(false);
    } else if (event->button() == Qt::RightButton && ruler) {
        d->rulerDistance = 0;
        if (!d->rulerPicked[0]) {
            m_ui->action_Ruler->toggle();
        } else if (!d->rulerPicked[1]) {
            points[0] = geom::Vector3f(0, 0, 0);
            d->rulerPicked[0] = false;
        } else {
            points[1] = geom::Vector3f(0, 0, 0);
            d->rulerPicked[1] = false;
        }
        view->refresh(false);
    }
}

void MainWindow::on_action_Ruler_toggled(bool checked)
{
    Q_UNUSED(checked)
    d->rulerPoints = QVector<geom::Vector3f>(3, geom::Vector3f(0, 0, 0));
    d->rulerPicked = {false, false};
    d->rulerDistance = 0;
    m_ui->widget->refresh(false);
}

void MainWindow::on_clipSlider_valueChanged(int value)
{
    QSlider *slider = d->clipSlider;
    double offset = 0;
    if (d->mesh) {
        const double zc = (double(d->sceneBounds.min().z) + double(d->sceneBounds.max().z)) * 0.5;
        const double radius = d->sceneRadius;
        if (value == slider->minimum())
            offset = zc - radius;
        else if (value == slider->maximum())
            offset = zc + radius;
        else
            offset = zc + value / clipSliderUnit * radius;
    } else {
        if (value == slider->minimum())
            offset = -1.0;
        else if (value == slider->maximum())
            offset = 1.0;
        else
            offset = value / clipSliderUnit;
    }
    m_ui->widget->setClipOffset(offset);
    if (d->mesh)
        statusBar()->showMessage(tr("Clip Z: %3").arg(offset, 0, 'f', 3));
    else
        statusBar()->clearMessage();
}

void MainWindow::on_clipToggle_clicked()
{
    const QString clip = d->clipToggle->property("Clip").toString();
    QString next;
    QString icon;
    Clip::Direction direction = Clip::NoClip;
    if (clip == QLatin1String("None")) {
        next = QStringLiteral("Top");
        icon = QStringLiteral(":/resources/images/clip_top.png");
        direction = Clip::FromTop;
    } else if (clip == QLatin1String("Top")) {
        next = QStringLiteral("Bottom");
        icon = QStringLiteral(":/resources/images/clip_bottom.png");
        direction = Clip::FromBottom;
    } else if (clip == QLatin1String("Bottom")) {
        next = QStringLiteral("None");
        icon = QStringLiteral(":/resources/images/clip_none.png");
        direction = Clip::NoClip;
    } else {
        return;
    }
    d->clipToggle->setProperty("Clip", next);
    d->clipToggle->setIcon(QIcon(icon));
    m_ui->widget->setClipDirection(direction);
}

void MainWindow::on_action_Isometric_View_triggered()
{
    m_ui->widget->setViewingAngle(7, true);
}

void MainWindow::on_action_Top_down_View_triggered()
{
    m_ui->widget->setViewingAngle(0, true);
}

void MainWindow::on_action_Front_View_triggered()
{
    m_ui->widget->setViewingAngle(3, true);
}

void MainWindow::on_action_Side_View_triggered()
{
    m_ui->widget->setViewingAngle(4, true);
}

void MainWindow::on_action_Perspective_toggled(bool checked)
{
    m_ui->widget->setPerspective(checked);
}

void MainWindow::on_action_Zoom_In_triggered()
{
    m_ui->widget->zoomIn(true);
}

void MainWindow::on_action_Zoom_Out_triggered()
{
    m_ui->widget->zoomOut(true);
}

void MainWindow::on_action_Zoom_To_All_triggered()
{
    m_ui->widget->zoomToAll(true);
}

void MainWindow::on_action_Line_Rendering_toggled(bool checked)
{
    GLWidget *view = m_ui->widget;
    QAction *hiddenLines = m_ui->action_Hidden_Line_Rendering;
    if (checked) {
        view->setLines(true);
        hiddenLines->setEnabled(true);
        return;
    }
    if (hiddenLines->isChecked()) {
        view->setHiddenLines(false);
        hiddenLines->toggle();
    }
    view->setLines(false);
    hiddenLines->setEnabled(false);
}

void MainWindow::on_action_Hidden_Line_Rendering_toggled(bool checked)
{
    m_ui->widget->setHiddenLines(checked);
}

void MainWindow::on_action_Wireframe_Rendering_toggled(bool checked)
{
    GLWidget *view = m_ui->widget;
    if (checked) {
        m_ui->action_Hidden_Line_Rendering->setEnabled(false);
        m_ui->action_Line_Rendering->setEnabled(false);
        view->setLines(true);
    } else {
        m_ui->action_Line_Rendering->setEnabled(true);
        if (m_ui->action_Line_Rendering->isChecked())
            m_ui->action_Hidden_Line_Rendering->setEnabled(true);
        else
            view->setLines(false);
    }
    view->setWireframe(checked);
}

void MainWindow::on_action_X_Ray_Shading_toggled(bool checked)
{
    if (checked && !GLWidget::hasOpenGL20()) {
        if (isVisible())
            QMessageBox::warning(this, tr("Unsupported Option"),
                                 tr("Your graphics hardware does not support OpenGL shaders."),
                                 QMessageBox::Ok);
        m_ui->action_X_Ray_Shading->setChecked(false);
        return;
    }
    m_ui->widget->setXRayShading(checked);
    on_preferencesDialog_colorChanged();
}

void MainWindow::on_action_Show_Origin_toggled(bool checked)
{
    m_ui->widget->setProperty("ShowOrigin", checked);
    m_ui->widget->refresh(false);
}

void MainWindow::on_action_Show_Flipped_Facets_triggered(bool checked)
{
    m_ui->widget->setBackFaceCulling(!checked);
}

void MainWindow::on_action_Mouse_Wrap_Around_toggled(bool checked)
{
    m_ui->widget->setMouseWrapAround(checked);
}

void MainWindow::on_action_Anti_Aliasing_toggled(bool checked)
{
    GLWidget *view = m_ui->widget;
    if (!checked) {
        view->makeCurrent();
        d->displayCache.clear();
        view->setMultiSampling(false);
        return;
    }
    if (GLWidget::isMultiSamplingSupported()) {
        // The arrays' buffer objects belong to the context that the new surface replaces.
        view->makeCurrent();
        d->displayCache.clear();
        view->setMultiSampling(true);
        if (view->multiSampling())
            return;
    }
    if (isVisible())
        QMessageBox::warning(this, tr("Unsupported Option"),
                             tr("Your graphics hardware does not support anti-aliasing."), QMessageBox::Ok);
    m_ui->action_Anti_Aliasing->setChecked(false);
}

void MainWindow::on_action_Preferences_triggered()
{
    d->preferencesDialog->setVisible(true);
}

void MainWindow::on_action_News_triggered()
{
    showNews(d->newsDialog);
}

void MainWindow::on_action_Reset_triggered()
{
    restoreState(d->defaultLayout, 0);
}
