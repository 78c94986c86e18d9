// Frames per second of a large triangle mesh drawn through the 3D view, against the same draw calls
// in a bare GL surface, in fill and in line mode, and the view's own cost per frame.
//
//   bench_view [N] [--runs R] [--frames F] [--size WxH] [--system-malloc]
//              [--plain blend,normalize,offset,twoside] [--axis]
//
// N is the number of triangles (default 1000000). Each case is timed in R runs (default 5) of F
// rounds (default 10) that draw one frame of every road, the order turning from round to round so
// that all roads see the same load of a shared machine. A run gives the median frame of each road,
// and the figure is the median of the runs (their range and the median page faults of a frame
// beside it). Three roads in fill and in line mode:
//   view   the view, its owner drawing the mesh from a vertex buffer in every scene pass;
//   bare   a plain GL surface that draws the same in the same passes, with the GL state that the
//          view had set up for each draw: read back with glGet at the view's draw, put in place
//          before the bare draw and read back there too (no figures when the two differ);
//   plain  the bare road without what the view's passes add to a lit draw (those named by
//          --plain, all four by default), to show what that state costs the driver.
// The view's own cost is an empty frame of the view (nothing drawn in answer to its frame signals)
// against an empty bare frame (clear, swap, finish), in milliseconds and as a share of the frames.
// The view's axis overlay is off unless --axis is given; with it, every view frame draws the
// overlay too, and the view's own cost includes it.
//
// Needs a display: scripts/with-display.sh build/bench/bench_view. The two windows lie side by
// side (their default 640x480 fits twice on the script's 1280x1024 screen): an overlapped window
// would swap fewer pixels. Run it alone (flock /tmp/quarn-bench.lock) and note the machine's load,
// which the program prints.

#include "measure.h"
#include "view/glwidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGLBuffer>
#include <QGLWidget>
#include <QOpenGLContext>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <malloc.h>
#include <string>
#include <vector>

#include <sys/resource.h>

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

// ---------------------------------------------------------------------------------------------
// The GL state that decides what a draw costs, read with glGet and put back with the setters.

using Values = std::vector<double>;

struct StateItem
{
    std::string name;
    std::function<Values()> get;
    std::function<void(const Values &)> set; // empty: compared, never set (fixed by the context)
};

Values integers(GLenum name, int count)
{
    GLint v[16] = {};
    glGetIntegerv(name, v);
    return Values(v, v + count);
}

Values doubles(GLenum name, int count)
{
    GLdouble v[16] = {};
    glGetDoublev(name, v);
    return Values(v, v + count);
}

std::vector<GLfloat> floats(const Values &values)
{
    return std::vector<GLfloat>(values.begin(), values.end());
}

// Runs set with the model-view matrix at identity, so that light positions and directions are
// taken as the eye coordinates that glGetLight returned.
void inEyeSpace(const std::function<void()> &set)
{
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    set();
    glPopMatrix();
    glMatrixMode(GLenum(mode));
}

const std::vector<StateItem> &stateItems()
{
    static const std::vector<StateItem> items = [] {
        std::vector<StateItem> list;
        const std::pair<GLenum, const char *> caps[] = {
            {GL_LIGHTING, "GL_LIGHTING"},
            {GL_LIGHT0, "GL_LIGHT0"},
            {GL_LIGHT1, "GL_LIGHT1"},
            {GL_LIGHT2, "GL_LIGHT2"},
            {GL_LIGHT3, "GL_LIGHT3"},
            {GL_BLEND, "GL_BLEND"},
            {GL_DEPTH_TEST, "GL_DEPTH_TEST"},
            {GL_CULL_FACE, "GL_CULL_FACE"},
            {GL_POLYGON_OFFSET_FILL, "GL_POLYGON_OFFSET_FILL"},
            {GL_POLYGON_OFFSET_LINE, "GL_POLYGON_OFFSET_LINE"},
            {GL_LINE_SMOOTH, "GL_LINE_SMOOTH"},
            {GL_POLYGON_SMOOTH, "GL_POLYGON_SMOOTH"},
            {GL_LINE_STIPPLE, "GL_LINE_STIPPLE"},
            {GL_POLYGON_STIPPLE, "GL_POLYGON_STIPPLE"},
            {GL_MULTISAMPLE, "GL_MULTISAMPLE"},
            {GL_SAMPLE_ALPHA_TO_COVERAGE, "GL_SAMPLE_ALPHA_TO_COVERAGE"},
            {GL_NORMALIZE, "GL_NORMALIZE"},
            {GL_RESCALE_NORMAL, "GL_RESCALE_NORMAL"},
            {GL_COLOR_MATERIAL, "GL_COLOR_MATERIAL"},
            {GL_CLIP_PLANE0, "GL_CLIP_PLANE0"},
            {GL_CLIP_PLANE1, "GL_CLIP_PLANE1"},
            {GL_CLIP_PLANE2, "GL_CLIP_PLANE2"},
            {GL_POLYGON_OFFSET_POINT, "GL_POLYGON_OFFSET_POINT"},
            {GL_COLOR_SUM, "GL_COLOR_SUM"},
            {GL_VERTEX_PROGRAM_TWO_SIDE, "GL_VERTEX_PROGRAM_TWO_SIDE"},
            {GL_VERTEX_PROGRAM_POINT_SIZE, "GL_VERTEX_PROGRAM_POINT_SIZE"},
            {GL_TEXTURE_GEN_S, "GL_TEXTURE_GEN_S"},
            {GL_TEXTURE_1D, "GL_TEXTURE_1D"},
            {GL_TEXTURE_3D, "GL_TEXTURE_3D"},
            {GL_TEXTURE_CUBE_MAP, "GL_TEXTURE_CUBE_MAP"},
            {GL_ALPHA_TEST, "GL_ALPHA_TEST"},
            {GL_STENCIL_TEST, "GL_STENCIL_TEST"},
            {GL_SCISSOR_TEST, "GL_SCISSOR_TEST"},
            {GL_DITHER, "GL_DITHER"},
            {GL_FOG, "GL_FOG"},
            {GL_TEXTURE_2D, "GL_TEXTURE_2D"},
            {GL_COLOR_LOGIC_OP, "GL_COLOR_LOGIC_OP"},
        };
        for (const auto &cap : caps) {
            const GLenum id = cap.first;
            list.push_back({cap.second, [id] { return Values{double(glIsEnabled(id))}; },
                            [id](const Values &v) { v[0] != 0 ? glEnable(id) : glDisable(id); }});
        }
        // Client arrays other than the two the drawer enables would be fetched by the draw.
        for (const auto &array : {std::make_pair(GL_COLOR_ARRAY, "GL_COLOR_ARRAY"),
                                  std::make_pair(GL_TEXTURE_COORD_ARRAY, "GL_TEXTURE_COORD_ARRAY"),
                                  std::make_pair(GL_SECONDARY_COLOR_ARRAY, "GL_SECONDARY_COLOR_ARRAY"),
                                  std::make_pair(GL_FOG_COORD_ARRAY, "GL_FOG_COORD_ARRAY"),
                                  std::make_pair(GL_EDGE_FLAG_ARRAY, "GL_EDGE_FLAG_ARRAY"),
                                  std::make_pair(GL_INDEX_ARRAY, "GL_INDEX_ARRAY")}) {
            const GLenum id = array.first;
            list.push_back({array.second, [id] { return Values{double(glIsEnabled(id))}; }, {}});
        }
        list.push_back({"generic vertex arrays enabled (0..7)",
                        [] {
                            const auto query = reinterpret_cast<void (*)(GLuint, GLenum, GLint *)>(
                                QOpenGLContext::currentContext()->getProcAddress("glGetVertexAttribiv"));
                            Values v;
                            for (GLuint i = 0; i < 8; ++i) {
                                GLint on = 0;
                                query(i, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &on);
                                v.push_back(on);
                            }
                            return v;
                        },
                        {}});

        const auto intItem = [&list](const char *name, GLenum id, int count,
                                     std::function<void(const Values &)> set) {
            list.push_back({name, [id, count] { return integers(id, count); }, std::move(set)});
        };
        const auto doubleItem = [&list](const char *name, GLenum id, int count,
                                        std::function<void(const Values &)> set) {
            list.push_back({name, [id, count] { return doubles(id, count); }, std::move(set)});
        };
        intItem("GL_POLYGON_MODE", GL_POLYGON_MODE, 2, [](const Values &v) {
            glPolygonMode(GL_FRONT, GLenum(v[0]));
            glPolygonMode(GL_BACK, GLenum(v[1]));
        });
        list.push_back({"blend function (src, dst, src alpha, dst alpha)",
                        [] {
                            Values v = integers(GL_BLEND_SRC_RGB, 1);
                            for (GLenum id : {GL_BLEND_DST_RGB, GL_BLEND_SRC_ALPHA, GL_BLEND_DST_ALPHA})
                                v.push_back(integers(id, 1)[0]);
                            return v;
                        },
                        [](const Values &v) { glBlendFunc(GLenum(v[0]), GLenum(v[1])); }});
        intItem("GL_BLEND_EQUATION_RGB", GL_BLEND_EQUATION_RGB, 1, {});
        intItem("GL_DEPTH_FUNC", GL_DEPTH_FUNC, 1, [](const Values &v) { glDepthFunc(GLenum(v[0])); });
        intItem("GL_DEPTH_WRITEMASK", GL_DEPTH_WRITEMASK, 1,
                [](const Values &v) { glDepthMask(v[0] != 0 ? GL_TRUE : GL_FALSE); });
        intItem("GL_COLOR_WRITEMASK", GL_COLOR_WRITEMASK, 4,
                [](const Values &v) { glColorMask(v[0] != 0, v[1] != 0, v[2] != 0, v[3] != 0); });
        intItem("GL_CULL_FACE_MODE", GL_CULL_FACE_MODE, 1, [](const Values &v) { glCullFace(GLenum(v[0])); });
        intItem("GL_FRONT_FACE", GL_FRONT_FACE, 1, [](const Values &v) { glFrontFace(GLenum(v[0])); });
        intItem("GL_SHADE_MODEL", GL_SHADE_MODEL, 1, [](const Values &v) { glShadeModel(GLenum(v[0])); });
        intItem("GL_LIGHT_MODEL_TWO_SIDE", GL_LIGHT_MODEL_TWO_SIDE, 1,
                [](const Values &v) { glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GLint(v[0])); });
        intItem("GL_LIGHT_MODEL_LOCAL_VIEWER", GL_LIGHT_MODEL_LOCAL_VIEWER, 1,
                [](const Values &v) { glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GLint(v[0])); });
        intItem("GL_LIGHT_MODEL_COLOR_CONTROL", GL_LIGHT_MODEL_COLOR_CONTROL, 1,
                [](const Values &v) { glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GLint(v[0])); });
        doubleItem("GL_LIGHT_MODEL_AMBIENT", GL_LIGHT_MODEL_AMBIENT, 4,
                   [](const Values &v) { glLightModelfv(GL_LIGHT_MODEL_AMBIENT, floats(v).data()); });
        intItem("GL_COLOR_MATERIAL face and parameter", GL_COLOR_MATERIAL_FACE, 1, {});
        list.back().get = [] {
            return Values{integers(GL_COLOR_MATERIAL_FACE, 1)[0],
                          integers(GL_COLOR_MATERIAL_PARAMETER, 1)[0]};
        };
        list.back().set = [](const Values &v) { glColorMaterial(GLenum(v[0]), GLenum(v[1])); };
        intItem("GL_LINE_SMOOTH_HINT", GL_LINE_SMOOTH_HINT, 1,
                [](const Values &v) { glHint(GL_LINE_SMOOTH_HINT, GLenum(v[0])); });
        intItem("GL_PERSPECTIVE_CORRECTION_HINT", GL_PERSPECTIVE_CORRECTION_HINT, 1,
                [](const Values &v) { glHint(GL_PERSPECTIVE_CORRECTION_HINT, GLenum(v[0])); });
        doubleItem("GL_LINE_WIDTH", GL_LINE_WIDTH, 1, [](const Values &v) { glLineWidth(GLfloat(v[0])); });
        doubleItem("GL_POINT_SIZE", GL_POINT_SIZE, 1, [](const Values &v) { glPointSize(GLfloat(v[0])); });
        list.push_back({"polygon offset (factor, units)",
                        [] {
                            return Values{doubles(GL_POLYGON_OFFSET_FACTOR, 1)[0],
                                          doubles(GL_POLYGON_OFFSET_UNITS, 1)[0]};
                        },
                        [](const Values &v) { glPolygonOffset(GLfloat(v[0]), GLfloat(v[1])); }});
        doubleItem("GL_DEPTH_RANGE", GL_DEPTH_RANGE, 2, [](const Values &v) { glDepthRange(v[0], v[1]); });
        intItem("GL_VIEWPORT", GL_VIEWPORT, 4,
                [](const Values &v) { glViewport(GLint(v[0]), GLint(v[1]), GLsizei(v[2]), GLsizei(v[3])); });
        for (const auto &matrix : {std::make_pair(GL_PROJECTION, GL_PROJECTION_MATRIX),
                                   std::make_pair(GL_MODELVIEW, GL_MODELVIEW_MATRIX)}) {
            const GLenum mode = matrix.first;
            doubleItem(mode == GL_PROJECTION ? "GL_PROJECTION_MATRIX" : "GL_MODELVIEW_MATRIX", matrix.second,
                       16, [mode](const Values &v) {
                           glMatrixMode(mode);
                           glLoadMatrixd(v.data());
                           glMatrixMode(GL_MODELVIEW);
                       });
        }
        intItem("GL_MATRIX_MODE", GL_MATRIX_MODE, 1, [](const Values &v) { glMatrixMode(GLenum(v[0])); });
        doubleItem("GL_CURRENT_COLOR", GL_CURRENT_COLOR, 4, [](const Values &v) { glColor4dv(v.data()); });

        const std::pair<GLenum, const char *> faces[] = {{GL_FRONT, "front"}, {GL_BACK, "back"}};
        const std::pair<GLenum, const char *> materials[] = {{GL_AMBIENT, "ambient"},
                                                             {GL_DIFFUSE, "diffuse"},
                                                             {GL_SPECULAR, "specular"},
                                                             {GL_EMISSION, "emission"},
                                                             {GL_SHININESS, "shininess"}};
        for (const auto &face : faces) {
            for (const auto &material : materials) {
                const GLenum f = face.first;
                const GLenum m = material.first;
                const int count = m == GL_SHININESS ? 1 : 4;
                list.push_back({std::string("material ") + face.second + " " + material.second,
                                [f, m, count] {
                                    GLfloat v[4] = {};
                                    glGetMaterialfv(f, m, v);
                                    return Values(v, v + count);
                                },
                                [f, m](const Values &v) { glMaterialfv(f, m, floats(v).data()); }});
            }
        }
        const std::pair<GLenum, const char *> lightParameters[] = {
            {GL_AMBIENT, "ambient"},
            {GL_DIFFUSE, "diffuse"},
            {GL_SPECULAR, "specular"},
            {GL_POSITION, "position (eye)"},
            {GL_SPOT_DIRECTION, "spot direction (eye)"},
            {GL_SPOT_CUTOFF, "spot cut-off"},
            {GL_CONSTANT_ATTENUATION, "attenuation c"},
            {GL_LINEAR_ATTENUATION, "attenuation l"},
            {GL_QUADRATIC_ATTENUATION, "attenuation q"}};
        for (const auto &parameter : lightParameters) {
            const GLenum p = parameter.first;
            const int count = p == GL_SPOT_DIRECTION                                ? 3
                              : p == GL_SPOT_CUTOFF || p >= GL_CONSTANT_ATTENUATION ? 1
                                                                                    : 4;
            list.push_back({std::string("GL_LIGHT0 ") + parameter.second,
                            [p, count] {
                                GLfloat v[4] = {};
                                glGetLightfv(GL_LIGHT0, p, v);
                                return Values(v, v + count);
                            },
                            [p](const Values &v) {
                                const std::vector<GLfloat> f = floats(v);
                                inEyeSpace([&] { glLightfv(GL_LIGHT0, p, f.data()); });
                            }});
        }
        intItem("GL_CURRENT_PROGRAM", GL_CURRENT_PROGRAM, 1, {});
        intItem("GL_DRAW_FRAMEBUFFER_BINDING", GL_DRAW_FRAMEBUFFER_BINDING, 1, {});
        intItem("GL_SAMPLE_BUFFERS", GL_SAMPLE_BUFFERS, 1, {});
        intItem("GL_SAMPLES", GL_SAMPLES, 1, {});
        intItem("GL_ACTIVE_TEXTURE", GL_ACTIVE_TEXTURE, 1, {});
        doubleItem("GL_DEPTH_CLEAR_VALUE", GL_DEPTH_CLEAR_VALUE, 1, {});
        list.push_back({"bits (red, green, blue, alpha, depth, stencil)",
                        [] {
                            Values v;
                            for (GLenum id : {GL_RED_BITS, GL_GREEN_BITS, GL_BLUE_BITS, GL_ALPHA_BITS,
                                              GL_DEPTH_BITS, GL_STENCIL_BITS})
                                v.push_back(integers(id, 1)[0]);
                            return v;
                        },
                        {}});
        return list;
    }();
    return items;
}

using State = std::vector<Values>;

State captureState()
{
    State state;
    for (const StateItem &item : stateItems())
        state.push_back(item.get());
    return state;
}

void applyState(const State &state)
{
    const std::vector<StateItem> &items = stateItems();
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].set)
            items[i].set(state[i]);
    }
}

// The names of the items that differ, with both values.
std::vector<std::string> stateDifferences(const State &a, const State &b)
{
    std::vector<std::string> differences;
    const std::vector<StateItem> &items = stateItems();
    const auto text = [](const Values &values) {
        std::string s;
        for (double v : values) {
            char number[32];
            std::snprintf(number, sizeof number, "%s%g", s.empty() ? "" : " ", v);
            s += number;
        }
        return s;
    };
    for (size_t i = 0; i < items.size(); ++i) {
        bool same = a[i].size() == b[i].size();
        for (size_t k = 0; same && k < a[i].size(); ++k)
            same = std::fabs(a[i][k] - b[i][k]) <= 1e-5 * std::max(1.0, std::fabs(a[i][k]));
        if (!same)
            differences.push_back(items[i].name + ": view " + text(a[i]) + ", bare " + text(b[i]));
    }
    return differences;
}

// ---------------------------------------------------------------------------------------------
// The two roads

// What the view's passes add to a plain draw: blending, renormalised normals, the polygon offset of
// the fill under the lines and two-sided lighting. The plain road leaves out those named in
// plainOff; its frame shows what they cost (the picture differs only where blending or the back
// side would show).
std::vector<std::string> plainOff = {"blend", "normalize", "offset", "twoside"};

void plainDraw()
{
    for (const std::string &what : plainOff) {
        if (what == "blend")
            glDisable(GL_BLEND);
        else if (what == "normalize")
            glDisable(GL_NORMALIZE);
        else if (what == "offset")
            glDisable(GL_POLYGON_OFFSET_FILL);
        else if (what == "twoside")
            glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 0);
    }
}

// A plain GL surface: clear, one draw of the sheet per pass with that pass's state put in place,
// swap and finish, as the view ends its frame.
class BareSurface : public QGLWidget
{
public:
    BareSurface(const QGLFormat &format, const std::vector<float> &vertices)
        : QGLWidget(format)
        , m_drawer(vertices)
    {
        setAutoBufferSwap(false);
    }

    std::vector<State> passes; // the state of each draw; none: an empty frame
    bool plain = false;        // without what the view adds to a plain lit draw (see plainDraw)
    bool capture = false;      // read the state back at each draw into captured
    std::vector<State> captured;

protected:
    void paintGL() override
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        for (const State &state : passes) {
            applyState(state);
            if (plain)
                plainDraw();
            if (capture)
                captured.push_back(captureState());
            m_drawer.draw();
        }
        swapBuffers();
        glFinish();
    }

private:
    SheetDrawer m_drawer;
};

// The view with an owner that draws the sheet in each scene pass, or nothing.
struct ViewRoad
{
    explicit ViewRoad(const std::vector<float> &sheet)
        : drawer(sheet)
    {
        QObject::connect(&view, &GLWidget::configureScene, [](GLWidget *w) {
            w->setSceneCenter(QVector3D());
            w->setSceneRadius(0.75f);
        });
        QObject::connect(&view, &GLWidget::renderScene, [this](GLWidget *) {
            if (capture)
                captured.push_back(captureState());
            if (draw)
                drawer.draw();
        });
    }

    GLWidget view;
    SheetDrawer drawer;
    bool draw = true;
    bool capture = false;
    std::vector<State> captured;
};

double loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().split(' ').value(0).toDouble();
}

void waitExposed(QWidget &widget)
{
    QElapsedTimer timer;
    timer.start();
    while (!(widget.windowHandle() && widget.windowHandle()->isExposed()) && timer.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    QApplication::processEvents();
}

long minorPageFaults()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Frame times in seconds of several roads: runs of rounds of one frame per road, the order of
// the roads turning by one from round to round so that each sees the same load of a shared
// machine; the median of each run, and of those the median, least and greatest; and the median
// number of page faults of a frame.
struct Timing
{
    double median, least, greatest;
    double faults;
};

std::vector<Timing> timeAlternating(int runs, int frames, const std::vector<std::function<void()>> &roads)
{
    const size_t n = roads.size();
    for (int i = 0; i < 3; ++i) {
        for (const auto &frame : roads)
            frame(); // warm up: buffers uploaded, shaders of the state compiled, caches filled
    }
    std::vector<std::vector<double>> runMedians(n), faults(n);
    QElapsedTimer timer;
    for (int run = 0; run < runs; ++run) {
        std::vector<std::vector<double>> times(n);
        for (int round = 0; round < frames; ++round) {
            for (size_t k = 0; k < n; ++k) {
                const size_t road = (k + size_t(round)) % n;
                const long before = minorPageFaults();
                timer.start();
                roads[road]();
                times[road].push_back(timer.nsecsElapsed() * 1e-9);
                faults[road].push_back(double(minorPageFaults() - before));
            }
        }
        for (size_t road = 0; road < n; ++road)
            runMedians[road].push_back(bench::median(times[road]));
    }
    std::vector<Timing> timings;
    for (size_t road = 0; road < n; ++road) {
        const std::vector<double> &v = runMedians[road];
        timings.push_back(Timing{bench::median(v), *std::min_element(v.begin(), v.end()),
                                 *std::max_element(v.begin(), v.end()), bench::median(faults[road])});
    }
    return timings;
}

} // namespace

int main(int argc, char **argv)
{
    long triangles = 1000000;
    int runs = 5;
    int frames = 10;
    QSize size(640, 480);
    bool systemMalloc = false;
    bool axis = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--frames") && i + 1 < argc)
            frames = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--size") && i + 1 < argc)
            std::sscanf(argv[++i], "%dx%d", &size.rwidth(), &size.rheight());
        else if (!std::strcmp(argv[i], "--system-malloc"))
            systemMalloc = true;
        else if (!std::strcmp(argv[i], "--axis"))
            axis = true;
        else if (!std::strcmp(argv[i], "--plain") && i + 1 < argc) {
            plainOff.clear();
            for (const QString &name :
                 QString::fromLatin1(argv[++i]).split(QLatin1Char(','), Qt::SkipEmptyParts))
                plainOff.push_back(name.toStdString());
        } else
            triangles = std::atol(argv[i]);
    }
    if (triangles < 1 || runs < 1 || frames < 1 || size.isEmpty()) {
        std::fprintf(stderr, "usage: bench_view [N] [--runs R] [--frames F] [--size WxH] [--system-malloc]\n"
                             "                  [--plain blend,normalize,offset,twoside] [--axis]\n");
        return 2;
    }
    // note: glibc moves its trim and mmap thresholds with what the process frees, so whether freed
    // memory goes back to the system (to be faulted in again by the next frame) depends on the
    // history of both roads. On llvmpipe a 1 M triangle frame paid from none to 26000 page faults
    // that way, the same draws in one road none and in the other thousands, doubling its time.
    // Fixed thresholds keep the memory in the heap for every road; --system-malloc keeps glibc's
    // own behaviour, the one the program meets.
    if (!systemMalloc) {
        mallopt(M_MMAP_THRESHOLD, 32 << 20); // the largest glibc allows; also stops the moving thresholds
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
    }
    QApplication app(argc, argv);
    const double loadBefore = loadAverage();
    const std::vector<float> sheet = makeSheet(triangles);

    ViewRoad road(sheet);
    road.view.setMultiSampling(false);
    road.view.setAnimationEnabled(false);
    road.view.setAxis3DEnabled(axis);
    road.view.resize(size);
    road.view.move(0, 0);
    road.view.show();
    waitExposed(road.view);
    road.view.zoomToAll();

    BareSurface bare(GLWidget::glFormat(false), sheet);
    bare.resize(size);
    bare.move(size.width(), 0);
    bare.show();
    waitExposed(bare);

    const char *threads = std::getenv("LP_NUM_THREADS");
    std::printf("bench_view: %ld triangles, %dx%d, %d runs of %d frames per road, renderer %s, "
                "LP_NUM_THREADS %s, %s\n",
                triangles, size.width(), size.height(), runs, frames,
                qPrintable(GLWidget::glRendererString()), threads ? threads : "unset",
                systemMalloc ? "glibc's own malloc thresholds"
                             : "malloc thresholds fixed (trim 1 GiB, mmap 32 MiB)");

    std::string off;
    for (const std::string &name : plainOff)
        off += (off.empty() ? "" : ", ") + name;
    std::printf("plain: the bare draws without %s\n", off.empty() ? "nothing" : off.c_str());
    std::printf("axis overlay of the view: %s\n", axis ? "on" : "off");

    const auto viewFrame = [&road] { road.view.refresh(true); };
    const auto bareFrame = [&bare] {
        bare.plain = false;
        bare.repaint();
    };
    const auto plainFrame = [&bare] {
        bare.plain = true;
        bare.repaint();
    };

    double viewSeconds[2] = {}; // the view's frame in fill and in line mode
    for (bool lines : {false, true}) {
        road.view.setLines(lines);
        road.captured.clear();
        road.capture = true;
        viewFrame();
        road.capture = false;
        if (road.captured.empty()) {
            std::fprintf(stderr, "the view drew nothing\n");
            return 1;
        }
        bare.passes = road.captured;
        bare.captured.clear();
        bare.capture = true;
        bareFrame();
        bare.capture = false;
        bool same = bare.captured.size() == road.captured.size();
        for (size_t pass = 0; same && pass < road.captured.size(); ++pass) {
            const std::vector<std::string> differences =
                stateDifferences(road.captured[pass], bare.captured[pass]);
            for (const std::string &difference : differences)
                std::fprintf(stderr, "%s, pass %zu: %s\n", lines ? "lines" : "fill", pass + 1,
                             difference.c_str());
            same = differences.empty();
        }
        if (!same) {
            std::fprintf(stderr, "the bare draws would not have the view's state: no figures\n");
            return 1;
        }
        std::printf("%-5s %zu draw%s per frame, GL state at each draw the same in both roads (%zu items)\n",
                    lines ? "lines" : "fill", road.captured.size(), road.captured.size() > 1 ? "s" : "",
                    stateItems().size());

        const std::vector<Timing> t = timeAlternating(runs, frames, {viewFrame, bareFrame, plainFrame});
        viewSeconds[lines] = t[0].median;
        const auto text = [](const Timing &timing) {
            char s[160];
            std::snprintf(s, sizeof s, "%6.2f fps (%7.1f ms, runs %.1f..%.1f, %.0f page faults)",
                          1.0 / timing.median, 1e3 * timing.median, 1e3 * timing.least, 1e3 * timing.greatest,
                          timing.faults);
            return std::string(s);
        };
        std::printf("%-5s view  %s\n      bare  %s\n      plain %s\n", lines ? "lines" : "fill",
                    text(t[0]).c_str(), text(t[1]).c_str(), text(t[2]).c_str());
    }

    // The view's own cost: a frame in which its owner draws nothing, against an empty bare frame.
    road.view.setLines(false);
    road.draw = false;
    bare.passes.clear();
    const int emptyFrames = std::max(frames, 50);
    const std::vector<Timing> empty = timeAlternating(runs, emptyFrames, {viewFrame, bareFrame});
    const Timing &emptyView = empty[0];
    const Timing &emptyBare = empty[1];
    const double overhead = emptyView.median - emptyBare.median;
    std::printf(
        "empty view %.2f ms (runs %.2f..%.2f, %.0f page faults), empty bare %.2f ms (runs %.2f..%.2f, "
        "%.0f page faults): the view's own cost %.2f ms per frame\n",
        1e3 * emptyView.median, 1e3 * emptyView.least, 1e3 * emptyView.greatest, emptyView.faults,
        1e3 * emptyBare.median, 1e3 * emptyBare.least, 1e3 * emptyBare.greatest, emptyBare.faults,
        1e3 * overhead);
    std::printf("view's own cost: %.1f %% of the fill frame, %.1f %% of the line frame (target < 10 %%)\n",
                100.0 * overhead / viewSeconds[0], 100.0 * overhead / viewSeconds[1]);
    std::printf("load average (1 min): %.2f before, %.2f after\n", loadBefore, loadAverage());
    return 0;
}
