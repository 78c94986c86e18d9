// The main window's side of the preferences, the about box, the change log and the licences.
#include "app/changelogdialog.h"
#include "app/colorsetting.h"
#include "app/colorwidget.h"
#include "app/licensedialog.h"
#include "app/mainwindow.h"
#include "app/mainwindow_p.h"
#include "app/preferencesdialog.h"
#include "ui_mainwindow.h"
#include "view/glwidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QMessageBox>
#include <QSettings>
#include <QUrl>

MeshDisplayCache &MainWindow::displayCache()
{
    return d->displayCache;
}

void MainWindow::on_preferencesDialog_colorChanged()
{
    PreferencesDialog *prefs = d->preferencesDialog;
    const auto color = [prefs](const char *name) {
        return prefs->findChild<ColorWidget *>(QLatin1String(name))->currentColor();
    };
    GLWidget *view = m_ui->widget;
    view->setEdgeColor(color("edgeColor"));
    view->setBackFillColor(color("backFillColor"));
    const bool xRayColors = prefs->findChild<QGroupBox *>(QStringLiteral("xRayColorsGroupBox"))->isChecked();
    if (m_ui->action_X_Ray_Shading->isChecked() && xRayColors) {
        view->setBackgroundTopColor(color("xRayBackgroundTopColor"));
        view->setBackgroundBottomColor(color("xRayBackgroundBottomColor"));
        view->setFillColor(color("xRayFillColor"));
    } else {
        view->setBackgroundTopColor(color("backgroundTopColor"));
        view->setBackgroundBottomColor(color("backgroundBottomColor"));
        view->setFillColor(color("fillColor"));
    }
    view->refresh(false);
}

void MainWindow::on_preferencesDialog_cachingChanged()
{
    const int caching = QSettings().value(QStringLiteral("PreferencesDialog/Caching"), 0).toInt();
    // The cache moves its arrays in the view's context.
    m_ui->widget->makeCurrent();
    d->displayCache.setCaching(caching == 2);
    m_ui->widget->refresh(false);
}

void MainWindow::on_preferencesDialog_finished(int result)
{
    if (result == 0)
        return;
    PreferencesDialog *prefs = d->preferencesDialog;
    QSettings settings;
    const auto writeColor = [&settings, prefs](const char *key, const char *swatchName) {
        writeColorSetting(settings, QStringLiteral("GLWidget/") + QLatin1String(key),
                          prefs->findChild<ColorWidget *>(QLatin1String(swatchName))->currentColor());
    };
    const auto checked = [prefs](const char *name) {
        auto *box = prefs->findChild<QGroupBox *>(QLatin1String(name));
        if (box)
            return box->isChecked();
        return prefs->findChild<QCheckBox *>(QLatin1String(name))->isChecked();
    };
    writeColor("EdgeColor", "edgeColor");
    writeColor("BackFillColor", "backFillColor");
    writeColor("BackgroundBottomColor", "backgroundBottomColor");
    writeColor("BackgroundTopColor", "backgroundTopColor");
    writeColor("FillColor", "fillColor");
    settings.setValue(QStringLiteral("GLWidget/XRayColors"), checked("xRayColorsGroupBox"));
    writeColor("XRayBackgroundTopColor", "xRayBackgroundTopColor");
    writeColor("XRayBackgroundBottomColor", "xRayBackgroundBottomColor");
    writeColor("XRayFillColor", "xRayFillColor");
    settings.setValue(QStringLiteral("GLWidget/AnimateClipPlane"), checked("animateClipPlaneCheckBox"));
    settings.setValue(QStringLiteral("GLWidget/AnimateZoom"), checked("animateZoomCheckBox"));
    settings.setValue(QStringLiteral("GLWidget/Animation"), checked("animationGroupBox"));
    settings.setValue(
        QStringLiteral("GLWidget/AnimationSpeed"),
        prefs->findChild<QComboBox *>(QStringLiteral("animationSpeedComboBox"))->currentIndex());
    settings.sync();
    prefs->warnIfNoCaching();
}

void MainWindow::on_action_About_triggered()
{
    const QString fullName = qApp->property("FullApplicationName").toString();
    auto *box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(tr("About %1").arg(fullName));
    box->setText(tr("<h3>%1 %2</h3><p>A compressor/viewer for Stereo Lithography (STL) files.</p>")
                     .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion()));
    box->setInformativeText(
        tr("<p>Built on %1 at %2 (%5-bit).</p>"
           "<p>Copyright &copy; %3. All rights reserved.<br>Visit us at "
           "<a href=\"https://%4/\">%4</a></p>"
           "<p><a href=\"license:\">View License Terms</a></p>")
            .arg(QStringLiteral(__DATE__), QStringLiteral(__TIME__), QCoreApplication::organizationName(),
                 QCoreApplication::organizationDomain(), QString::number(QT_POINTER_SIZE * 8)));
    box->setIcon(QMessageBox::Information);
    const QIcon icon = box->windowIcon();
    box->setIconPixmap(icon.pixmap(icon.actualSize(QSize(64, 64))));
    box->exec();
}

void MainWindow::on_action_Changelog_triggered()
{
    auto *dialog = new ChangelogDialog(this);
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    dialog->open();
}

void MainWindow::viewLicense(const QUrl &url)
{
    Q_UNUSED(url)
    QWidget *parent = QApplication::activeModalWidget();
    if (!parent)
        parent = this;
    auto *dialog = new LicenseDialog(parent);
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    dialog->open();
}
