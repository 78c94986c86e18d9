#pragma once

// The view's own frame grab and the PNG artefacts of the tests that draw. Header only: the
// including test defines QUARN_ARTEFACT_DIR and links the view.

#include "view/glwidget.h"

#include <QDir>
#include <QImage>
#include <QSignalSpy>

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

#ifdef QUARN_ARTEFACT_DIR
// Saves a frame as the PNG artefact name for a person to look at; false when it was not written.
inline bool saveArtefact(const QImage &image, const QString &name)
{
    return QDir().mkpath(QStringLiteral(QUARN_ARTEFACT_DIR)) &&
           image.save(QStringLiteral(QUARN_ARTEFACT_DIR "/") + name + QStringLiteral(".png"));
}
#endif
