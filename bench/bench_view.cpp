// Frames per second of a large triangle mesh drawn through the 3D view, against the same draw
// call in a bare GL surface, in fill and in line mode; the difference is the view's own per-frame
// overhead (background, passes, overlays, buffer swap bookkeeping).
//
//   bench_view [N] [--frames F]
//
// N is the number of triangles (default 1000000), F the number of frames timed per case
// (default 30). Frames of the two surfaces alternate and the median frame of each is taken. Needs a display:
// run it as scripts/with-display.sh build/bench/bench_view.

#include "view/glwidget.h"
#include "view/glwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGLBuffer>
#include <QGLWidget>

#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// A grid of n triangles on a wavy sheet, interleaved as position and normal.
std::vector<float> makeSheet(long triangles)
{
    const long cells = std::max(1L, triangles / 2);
    const long side = long(std::ceil(std::sqrt(double(cells))));
    std::vector<float> data;
    data.reserve(size_t(triangles) * 18);
    const auto vertex = [&](long i, long j) {
        const float x = float(i) / side - 0.5f;
        const float y = float(j) / side - 0.5f;
        const float z = 0.05f * std::sin(20.0f * x) * std::cos(20.0f * y);
        data.insert(data.end(), {x, y, z, 0.0f, 0.0f, 1.0f});
    };
    long made = 0;
    for (long j = 0; j < side && made < triangles; ++j)
        for (long i = 0; i < side && made < triangles; ++i) {
            vertex(i, j), vertex(i + 1, j), vertex(i + 1, j + 1);
            if (++made < triangles)
                vertex(i, j), vertex(i + 1, j + 1), vertex(i, j + 1), ++made;
        }
    return data;
}

// Draws the sheet from one vertex buffer of the current context.
class SheetDrawer
{
public:
    explicit SheetDrawer(const std::vector<float> &data)
        : m_data(data)
    {}

    void draw()
    {
        if (!m_buffer.isCreated()) {
            m_buffer.create();
            m_buffer.bind();
            m_buffer.allocate(m_data.data(), int(m_data.size() * sizeof(float)));
            m_buffer.release();
        }
        m_buffer.bind();
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
        glVertexPointer(3, GL_FLOAT, 6 * sizeof(float), nullptr);
        glNormalPointer(GL_FLOAT, 6 * sizeof(float), reinterpret_cast<void *>(3 * sizeof(float)));
        glDrawArrays(GL_TRIANGLES, 0, GLsizei(m_data.size() / 6));
        glDisableClientState(GL_NORMAL_ARRAY);
        glDisableClientState(GL_VERTEX_ARRAY);
        m_buffer.release();
    }

private:
    const std::vector<float> &m_data;
    QGLBuffer m_buffer{QGLBuffer::VertexBuffer};
};

// The same draw calls in a plain GL surface: projection, one light, the draws, swap and finish.
class BareSurface : public QGLWidget
{
public:
    BareSurface(const QGLFormat &format, const std::vector<float> &data)
        : QGLWidget(format)
        , m_drawer(data)
    {
        setAutoBufferSwap(false);
    }
    bool lines = false;

protected:
    void initializeGL() override
    {
        glEnable(GL_DEPTH_TEST);
        glEnable(GL_LIGHTING);
        glEnable(GL_LIGHT0);
    }
    void paintGL() override
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-1, 1, -1, 1, -10, 10);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        // The view's line mode is a filled pass and a line pass over it: the same two draws here.
        m_drawer.draw();
        if (lines) {
            glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
            m_drawer.draw();
            glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        }
        swapBuffers();
        glFinish();
    }

private:
    SheetDrawer m_drawer;
};

// Seconds per frame of two surfaces, timed in alternation so that both see the same load of a
// shared machine; the median frame of each.
template <typename RepaintA, typename RepaintB>
std::pair<double, double> medianFrames(int frames, RepaintA a, RepaintB b)
{
    a(), a(), b(), b(); // upload the buffers and warm the driver
    std::vector<double> timesA, timesB;
    QElapsedTimer timer;
    for (int i = 0; i < frames; ++i) {
        timer.start();
        a();
        timesA.push_back(timer.nsecsElapsed() * 1e-9);
        timer.start();
        b();
        timesB.push_back(timer.nsecsElapsed() * 1e-9);
    }
    std::sort(timesA.begin(), timesA.end());
    std::sort(timesB.begin(), timesB.end());
    return {timesA[timesA.size() / 2], timesB[timesB.size() / 2]};
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    long triangles = 1000000;
    int frames = 30;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--frames") && i + 1 < argc)
            frames = std::atoi(argv[++i]);
        else
            triangles = std::atol(argv[i]);
    }
    const std::vector<float> sheet = makeSheet(triangles);
    const QSize size(800, 600);
    std::printf("bench_view: %ld triangles, %d frames per case, %dx%d, renderer %s\n", triangles, frames,
                size.width(), size.height(), qPrintable(GLWidget::glRendererString()));

    GLWidget view;
    view.setMultiSampling(false);
    view.setAnimationEnabled(false);
    SheetDrawer viewDrawer(sheet);
    QObject::connect(&view, &GLWidget::configureScene, [](GLWidget *w) {
        w->setSceneCenter(QVector3D());
        w->setSceneRadius(0.75f);
    });
    QObject::connect(&view, &GLWidget::renderScene, [&viewDrawer](GLWidget *) { viewDrawer.draw(); });
    view.resize(size);
    view.show();
    view.zoomToAll();
    QApplication::processEvents();

    BareSurface bare(GLWidget::glFormat(false), sheet);
    bare.resize(size);
    bare.show();
    QApplication::processEvents();

    for (bool lines : {false, true}) {
        view.setLines(lines);
        bare.lines = lines;
        const auto [viewFrame, bareFrame] = medianFrames(
            frames, [&view] { view.refresh(true); }, [&bare] { bare.repaint(); });
        const double overhead = 100.0 * (viewFrame - bareFrame) / viewFrame;
        std::printf("%-5s view %7.2f fps   bare %7.2f fps   view overhead %5.1f %% of the frame\n",
                    lines ? "lines" : "fill", 1.0 / viewFrame, 1.0 / bareFrame, overhead);
    }
    return 0;
}
