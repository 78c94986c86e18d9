#include "glscene.h"

#include <QDir>
#include <QtTest>

namespace viewtest {

GLScene::GLScene(int size)
    : m_size(size)
{
    m_window.reset(new GLWindow(QGLFormat(), nullptr));
    m_window->resize(32, 32);
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get()))
        return;
    m_window->makeCurrent();
    QGLFramebufferObjectFormat format;
    format.setAttachment(QGLFramebufferObject::Depth);
    format.setSamples(0);
    m_fbo.reset(new QGLFramebufferObject(m_size, m_size, format));
}

GLScene::~GLScene()
{
    if (m_window)
        m_window->makeCurrent();
    m_fbo.reset();
    m_window.reset();
}

QGLContext *GLScene::context()
{
    m_window->makeCurrent();
    return const_cast<QGLContext *>(m_window->context());
}

bool GLScene::isValid() const
{
    return m_window && m_window->isValid() && m_fbo && m_fbo->isValid();
}

void GLScene::begin(float extent, Shading shading)
{
    m_window->makeCurrent();
    m_fbo->bind();
    glViewport(0, 0, m_size, m_size);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-extent, extent, -extent, extent, -extent, extent);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_BLEND);
    glDisable(GL_MULTISAMPLE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    if (shading == LitFill) {
        glEnable(GL_LIGHTING);
        glEnable(GL_LIGHT0);
        glEnable(GL_NORMALIZE);
        const GLfloat direction[4] = {0.3f, 0.5f, 1.0f, 0.0f};
        glLightfv(GL_LIGHT0, GL_POSITION, direction);
        glEnable(GL_COLOR_MATERIAL);
        glColor4f(1.0f, 0.66f, 0.0f, 1.0f);
    } else {
        glDisable(GL_LIGHTING);
        glDisable(GL_NORMALIZE);
        glDisable(GL_COLOR_MATERIAL);
        glColor4f(1, 1, 1, 1);
    }
}

QImage GLScene::finish(const QString &name)
{
    QImage image(m_size, m_size, QImage::Format_RGBA8888);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, m_size, m_size, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
    end();
    image = image.mirrored();
    image.save(QDir(artefactDir()).filePath(name + ".png"));
    return image;
}

void GLScene::end()
{
    m_fbo->release();
}

QString GLScene::artefactDir()
{
    const QString dir = QStringLiteral(QUARN_ARTEFACT_DIR);
    QDir().mkpath(dir);
    return dir;
}

int litPixels(const QImage &image)
{
    int lit = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & 0xffffff) != 0)
                ++lit;
        }
    }
    return lit;
}

} // namespace viewtest
