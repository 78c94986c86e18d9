#pragma once

#include "view/glwindow.h"

#include <QGLFramebufferObject>
#include <QImage>
#include <QMatrix4x4>

#include <memory>

namespace viewtest {

// A shown GL surface (Xvfb, llvmpipe) and a single-sampled framebuffer object of size x size pixels
// with a depth buffer, for tests that draw and read pixels back.
class GLScene
{
public:
    explicit GLScene(int size = 128);
    ~GLScene();

    // The surface's context, made current.
    QGLContext *context();
    bool isValid() const;
    enum Shading
    {
        Unlit,
        LitFill
    };
    // Binds the framebuffer, clears it to black, sets the viewport, the projection (an orthographic
    // box of half-size extent around the origin, depth -extent to extent) and an identity modelview,
    // depth test on. Unlit: lighting off, white colour. LitFill: one light from above and in front
    // and the fill colour (1, 0.66, 0) taken as the material, normals renormalised.
    void begin(float extent = 1.0f, Shading shading = Unlit);
    // Reads the framebuffer back with glReadPixels (top row first), releases it, and saves the image
    // as name.png in the view tests' artefact folder.
    QImage finish(const QString &name);
    // Releases the framebuffer without reading it (for frames that are only timed).
    void end();
    // The folder in the build tree where drawn frames are kept.
    static QString artefactDir();

private:
    std::unique_ptr<GLWindow> m_window;
    std::unique_ptr<QGLFramebufferObject> m_fbo;
    int m_size;
};

// The number of pixels that differ from black.
int litPixels(const QImage &image);

} // namespace viewtest
