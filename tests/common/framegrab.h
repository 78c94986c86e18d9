#pragma once

// The view's own frame grab, the labels it draws and the PNG artefacts of the tests that draw.
// Header only: the including test defines QUARN_ARTEFACT_DIR and links the view.

#include "view/glwidget.h"

#include <QDir>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

// Requests a grabbed frame and returns it; a null image when frameBufferReady did not come.
inline QImage grabFrame(GLWidget &widget)
{
    QSignalSpy spy(&widget, &GLWidget::frameBufferReady);
    widget.setProperty("GrabFrameBuffer", true);
    widget.refresh(true);
    if (spy.isEmpty() && !spy.wait(2000))
        return QImage();
    return spy.takeFirst().at(0).value<QImage>();
}

// The window as a person sees it: a grab of its widgets leaves the view black, so the view's own
// grabbed frame is drawn in over it.
inline QImage windowShot(QWidget &window, GLWidget &view)
{
    QImage shot = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage viewFrame = grabFrame(view).convertToFormat(QImage::Format_RGB32);
    QPainter painter(&shot);
    painter.drawImage(QRect(view.mapTo(&window, QPoint(0, 0)), view.size()), viewFrame);
    return shot;
}

// The labels of the view's frame that show a number: the ruler's (the view adds its own axis
// letters).
inline QList<const GLWidget::TextLabel *> numberLabels(const GLWidget *view)
{
    QList<const GLWidget::TextLabel *> labels;
    for (const GLWidget::TextLabel *label : view->textLabels()) {
        bool ok = false;
        label->text.toDouble(&ok);
        if (ok)
            labels.append(label);
    }
    return labels;
}

// The artefact name of a picture of the current data row: prefix, then the row's tag with its
// spaces and commas made dashes.
inline QString rowPicture(const QString &prefix)
{
    return prefix + QString::fromLatin1(QTest::currentDataTag()).replace(QRegularExpression("[ ,]+"), "-");
}

#ifdef QUARN_ARTEFACT_DIR
// Saves a frame as the PNG artefact name for a person to look at, in the folder that the
// environment variable QUARN_ARTEFACT_DIR names (scripts/demo.sh) or else in the test's own;
// false when it was not written.
inline bool saveArtefact(const QImage &image, const QString &name)
{
    const QString folder = qEnvironmentVariable("QUARN_ARTEFACT_DIR", QStringLiteral(QUARN_ARTEFACT_DIR));
    return QDir().mkpath(folder) && image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}
#endif
