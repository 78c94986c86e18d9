#include "fuzzsupport.h"

#include "geom/core/facet.h"
#include "geom/mesh/stlmesh.h"
#include "meshcheck.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quarnfuzz {

namespace {

void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "fatal: %s\n", qPrintable(message));
        std::abort();
    }
}

bool allFinite(const geom::StlMesh &mesh)
{
    for (const geom::Vector3f &v : mesh.vertices()) {
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
            return false;
    }
    return true;
}

// The mesh sums area and volume from float cross products; for a long, thin facet these cancel
// and carry an error of a few float units of |e1| |e2|, far beyond the checker's share of the
// facet's area, and past about 1e19 the float products overflow. So when the checker disputes
// only a figure, it is measured again against that rounding bound, over the facets the library's
// rule keeps (a sliver adds nothing); a facet whose products may overflow leaves the figure open.
bool figuresWithinRounding(const geom::StlMesh &mesh)
{
    const QVector<geom::Vector3f> &v = mesh.vertices();
    const QVector<geom::IndexedFacet> &facets = mesh.indices();
    const double floatUnits = 16 * std::ldexp(1.0, -24);
    const double floatRange = 1e37;
    double area = 0, volume = 0, areaSlack = 1e-9, volumeSlack = 1e-9;
    for (int i = 0; i < facets.size(); ++i) {
        const geom::IndexedFacet &f = facets[i];
        if (i > 0 && f.a == facets[i - 1].a && f.b == facets[i - 1].b && f.c == facets[i - 1].c)
            continue;
        const geom::Vector3f &p0 = v[f.a], &p1 = v[f.b], &p2 = v[f.c];
        if (geom::facetCross(p0, p1, p2).degenerate)
            continue;
        const double e1[3] = {double(p1.x) - p0.x, double(p1.y) - p0.y, double(p1.z) - p0.z};
        const double e2[3] = {double(p2.x) - p0.x, double(p2.y) - p0.y, double(p2.z) - p0.z};
        const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                             e1[0] * e2[1] - e1[1] * e2[0]};
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        const double d[3] = {double(p0.x) - v[0].x, double(p0.y) - v[0].y, double(p0.z) - v[0].z};
        const double reach = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        const double l1 = std::hypot(e1[0], e1[1], e1[2]);
        const double l2 = std::hypot(e2[0], e2[1], e2[2]);
        const double product = l1 * l2;
        if (std::max({l1, l2, reach, product, reach * product}) > floatRange)
            return true;
        const double slack = 0.5 * floatUnits * product;
        area += 0.5 * length;
        volume += (d[0] * n[0] + d[1] * n[1] + d[2] * n[2]) / 6;
        areaSlack += slack + floatUnits * 0.5 * length;
        volumeSlack += reach * (slack + floatUnits * 0.5 * length);
    }
    return std::fabs(mesh.area() - area) <= areaSlack &&
           std::fabs(mesh.volume() - std::fabs(volume)) <= volumeSlack;
}

} // namespace

void initialise(int *argc, char ***argv)
{
    qInstallMessageHandler(quietHandler);
    // note: the application object is never destroyed: libFuzzer leaves through exit(), while a
    // pool thread of the mesh statistics might still be running.
    static QCoreApplication *application = new QCoreApplication(*argc, *argv);
    Q_UNUSED(application);
}

QByteArray bytes(const std::uint8_t *data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

void require(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "broken contract: %s\n", what);
    std::abort();
}

void checkMesh(const geom::StlMesh &mesh, int options, const char *reader)
{
    if (!allFinite(mesh))
        options |= meshtest::ListsOnly;
    const QString problem = meshtest::checkMesh(mesh, options);
    if (problem.isEmpty())
        return;
    // The checker tests the figures last: a dispute about them means the rest holds.
    const bool figureOnly =
        problem.startsWith(QLatin1String("area ")) || problem.startsWith(QLatin1String("volume "));
    if (figureOnly && figuresWithinRounding(mesh))
        return;
    std::fprintf(stderr, "%s returned a broken mesh: %s\n", reader, qPrintable(problem));
    std::abort();
}

} // namespace quarnfuzz

// One start-up for every target: the static library's object is linked into each, as each uses
// its checks, so libFuzzer finds this in place of a definition per target.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    quarnfuzz::initialise(argc, argv);
    return 0;
}
