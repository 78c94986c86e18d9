// Builds the display cache of a generated closed surface and draws it in fill mode, from buffer
// objects and from client memory, beside a bare glDrawArrays of one buffer object holding the same
// vertices, each frame in the view tests' lit fill. Needs an X display with OpenGL; run it on a
// private Xvfb with Mesa's llvmpipe:
//
//     scripts/with-display.sh build/bench/bench_displaycache [triangles [frames]]
//
// (default 1000000 triangles, 20 frames per road; the figures that count are the ratios.)

#include "geom/core/facet.h"
#include "geom/mesh/stlmesh.h"
#include "glscene.h"
#include "measure.h"
#include "surfacegen.h"
#include "view/glscope.h"
#include "view/meshdisplaycache.h"
#include "view/openglarray.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGLBuffer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <memory>

namespace {

constexpr int FrameSize = 512;

std::unique_ptr<geom::StlMesh> torusMesh(std::size_t triangles)
{
    const bench::Surface surface = bench::makeTorus(triangles);
    QVector<geom::Facet> facets(int(surface.facetCount()));
    for (int i = 0; i < facets.size(); ++i) {
        const float *t = surface.triangles.data() + 9 * std::size_t(i);
        facets[i] = geom::Facet(geom::Vector3f(t[0], t[1], t[2]), geom::Vector3f(t[3], t[4], t[5]),
                                geom::Vector3f(t[6], t[7], t[8]));
    }
    std::unique_ptr<geom::StlMesh> mesh(new geom::StlMesh);
    mesh->addFacets(facets);
    return mesh;
}

// Seconds per frame, the best of frames, each ended by glFinish.
template <typename Draw>
double secondsPerFrame(viewtest::GLScene &scene, int frames, float radius, Draw draw)
{
    QElapsedTimer timer;
    double best = 0;
    for (int i = 0; i <= frames; ++i) {
        timer.start();
        scene.begin(radius, viewtest::GLScene::LitFill);
        draw();
        glFinish();
        scene.end();
        const double seconds = timer.nsecsElapsed() * 1e-9;
        // The first frame warms caches and is not counted.
        if (i == 1 || (i > 1 && seconds < best))
            best = seconds;
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const long long requested = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const int frames = argc > 2 ? std::atoi(argv[2]) : 20;
    if (requested < 18 || frames < 1) {
        std::fprintf(stderr, "usage: bench_displaycache [triangles >= 18 [frames >= 1]]\n");
        return 2;
    }

    // Frames are drawn into the framebuffer object of the view tests' scene, in its lit fill.
    viewtest::GLScene scene(FrameSize);
    if (!scene.isValid()) {
        std::fprintf(stderr, "no GL context\n");
        return 1;
    }
    std::printf("renderer                  %s\n", reinterpret_cast<const char *>(glGetString(GL_RENDERER)));

    std::unique_ptr<geom::StlMesh> mesh = torusMesh(std::size_t(requested));
    const float radius = float(mesh->radius()) * 1.1f;
    const qint64 triangles = mesh->indices().size();

    // The staging alone: a build with caching off records the interleaved vertices and stops.
    QElapsedTimer timer;
    double stagingSeconds = 0;
    qint64 bytes = 0;
    for (int run = 0; run < 3; ++run) {
        MeshDisplayCache client;
        client.setCaching(false);
        timer.start();
        bytes = client.update(mesh.get(), 0);
        const double seconds = timer.nsecsElapsed() * 1e-9;
        stagingSeconds = run == 0 ? seconds : std::min(stagingSeconds, seconds);
    }

    // The staging and its upload, best of 3; the first run, from a trimmed heap, gives the memory.
    malloc_trim(0);
    bench::Meter meter;
    MeshDisplayCache cache;
    double uploadSeconds = 0;
    for (int run = 0; run < 3; ++run) {
        cache.clear();
        if (run == 0)
            meter.start();
        timer.start();
        const qint64 uploaded = cache.update(mesh.get(), 0);
        glFinish();
        const double seconds = timer.nsecsElapsed() * 1e-9;
        if (run == 0)
            meter.stop();
        uploadSeconds = run == 0 ? seconds : std::min(uploadSeconds, seconds);
        if (uploaded != bytes || bytes < 0) {
            std::fprintf(stderr, "build failed\n");
            return 1;
        }
    }

    const double cacheVbo = secondsPerFrame(scene, frames, radius, [&] { cache.draw(); });

    // The bare road: the same vertex bytes in one buffer object, one glDrawArrays.
    QByteArray stream;
    {
        QDataStream out(&stream, QIODevice::WriteOnly);
        cache.save(out);
    }
    const char *vertices = stream.constData() + 24;
    QGLBuffer bare(QGLBuffer::VertexBuffer);
    bare.setUsagePattern(QGLBuffer::StaticCopy);
    double bareVbo = 0;
    if (bytes <= INT_MAX && bare.create() && bare.bind()) {
        bare.allocate(vertices, int(bytes));
        bare.release();
        bareVbo = secondsPerFrame(scene, frames, radius, [&] {
            glEnableClientState(GL_VERTEX_ARRAY);
            glEnableClientState(GL_NORMAL_ARRAY);
            bare.bind();
            glVertexPointer(3, GL_FLOAT, 24, nullptr);
            glNormalPointer(GL_FLOAT, 24, reinterpret_cast<const GLvoid *>(12));
            glDrawArrays(GL_TRIANGLES, 0, GLsizei(3 * triangles));
            bare.release();
            glDisableClientState(GL_NORMAL_ARRAY);
            glDisableClientState(GL_VERTEX_ARRAY);
        });
        bare.destroy();
    }
    const double bareClient = secondsPerFrame(scene, frames, radius, [&] {
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
        glVertexPointer(3, GL_FLOAT, 24, vertices);
        glNormalPointer(GL_FLOAT, 24, vertices + 12);
        glDrawArrays(GL_TRIANGLES, 0, GLsizei(3 * triangles));
        glDisableClientState(GL_NORMAL_ARRAY);
        glDisableClientState(GL_VERTEX_ARRAY);
    });
    stream.clear();
    stream.squeeze();

    cache.setCaching(false);
    const double cacheClient = secondsPerFrame(scene, frames, radius, [&] { cache.draw(); });
    const QStringList errors = cache.takeGLErrors();

    const double chunkMiB = std::min<double>(double(bytes), geom::OpenGLArray::DefaultChunkSize) / 1048576.0;
    const double stagingMiB = double(bytes) / 1048576.0;
    std::printf("triangles                 %lld (%.1f MiB of vertex records)\n", triangles, stagingMiB);
    std::printf("build staging             %.3f s  (caching off, best of 3)\n", stagingSeconds);
    std::printf("build and upload          %.3f s  (best of 3; %.2f x staging, target <= 2)\n", uploadSeconds,
                uploadSeconds / stagingSeconds);
    // note: a software driver keeps the buffer objects' bytes in this process, so the peak holds the
    // staging and that copy; the overhead of the upload is what the peak holds beyond both.
    std::printf("peak memory of upload     %.1f MiB: staging %.1f, driver's copy %.1f, beyond both %.1f\n"
                "                          (target: beyond the staging at most one chunk, %.1f)\n",
                meter.peakMiB(), stagingMiB, stagingMiB, meter.peakMiB() - 2 * stagingMiB, chunkMiB);
    if (bareVbo > 0)
        std::printf(
            "frame, buffer objects     cache %.4f s (%.1f fps), bare %.4f s: %.2f x (target <= 1.1)\n",
            cacheVbo, 1.0 / cacheVbo, bareVbo, cacheVbo / bareVbo);
    else
        std::printf("frame, buffer objects     cache %.4f s (%.1f fps), bare: over 2 GiB, not drawn\n",
                    cacheVbo, 1.0 / cacheVbo);
    std::printf("frame, client memory      cache %.4f s (%.1f fps), bare %.4f s: %.2f x (target <= 1.1)\n",
                cacheClient, 1.0 / cacheClient, bareClient, cacheClient / bareClient);
    std::printf("GL errors                 %d\n", int(errors.size()));
    return errors.isEmpty() ? 0 : 1;
}
