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
// Saves a frame as the PNG artefact name for a person to look at, in the folder that the
// environment variable QUARN_ARTEFACT_DIR names (scripts/demo.sh) or else in the test's own;
// false when it was not written.
inline bool saveArtefact(const QImage &image, const QString &name)
{
    const QString folder = qEnvironmentVariable("QUARN_ARTEFACT_DIR", QStringLiteral(QUARN_ARTEFACT_DIR));
    return QDir().mkpath(folder) && image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}
#endif
