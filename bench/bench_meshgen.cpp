// Writes the input meshes of the end-to-end benchmark as binary STL files:
//
//     bench_meshgen torus TRIANGLES OUTPUT.stl           a generated torus in surface order
//     bench_meshgen shuffled TRIANGLES OUTPUT.stl        the same torus with its facets shuffled
//     bench_meshgen loop LEVELS INPUT.stl OUTPUT.stl     LEVELS Loop subdivisions of a binary STL mesh
//     bench_meshgen scale FACTOR INPUT.stl OUTPUT.stl    every coordinate times FACTOR, in float (a
//                                                        model in millimetres made one in metres)
//
// The subdivision welds corners with bit-identical coordinates, splits every facet into four
// (corner, edge, edge; ...; the three edge points last) and moves the points by Loop's weights;
// edges with one facet are boundary edges and keep their curve, edges with more than two facets
// are treated alike. The output is the same on every run.

#include "surfacegen.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct Point
{
    double x = 0, y = 0, z = 0;
};

Point operator+(Point p, Point q)
{
    return {p.x + q.x, p.y + q.y, p.z + q.z};
}

Point operator*(double s, Point p)
{
    return {s * p.x, s * p.y, s * p.z};
}

struct Mesh
{
    std::vector<Point> points;
    std::vector<std::array<std::uint32_t, 3>> facets;
};

bool readBinaryStl(const std::string &path, Mesh &mesh)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    unsigned char head[84];
    bool ok = std::fread(head, 1, sizeof head, file) == sizeof head;
    const std::uint32_t count = ok ? std::uint32_t(head[80]) | std::uint32_t(head[81]) << 8 |
                                         std::uint32_t(head[82]) << 16 | std::uint32_t(head[83]) << 24
                                   : 0;
    std::unordered_map<std::string, std::uint32_t> welded;
    unsigned char record[50];
    for (std::uint32_t f = 0; ok && f < count; ++f) {
        if (std::fread(record, 1, sizeof record, file) != sizeof record) {
            ok = false;
            break;
        }
        std::array<std::uint32_t, 3> facet;
        for (int k = 0; k < 3; ++k) {
            const std::string key(reinterpret_cast<const char *>(record + 12 + 12 * k), 12);
            auto found = welded.emplace(key, std::uint32_t(mesh.points.size()));
            if (found.second) {
                float c[3];
                std::memcpy(c, record + 12 + 12 * k, sizeof c);
                mesh.points.push_back({c[0], c[1], c[2]});
            }
            facet[k] = found.first->second;
        }
        mesh.facets.push_back(facet);
    }
    std::fclose(file);
    return ok;
}

std::uint64_t edgeKey(std::uint32_t p, std::uint32_t q)
{
    return p < q ? std::uint64_t(p) << 32 | q : std::uint64_t(q) << 32 | p;
}

// One Loop subdivision step.
Mesh subdivide(const Mesh &in)
{
    const std::size_t n = in.points.size();
    struct EdgeInfo
    {
        std::uint32_t point = 0;   // the new point on the edge
        std::uint32_t facets = 0;  // facets that hold the edge
        std::uint32_t opposite[2]; // the corners facing the edge in its first two facets
    };
    std::unordered_map<std::uint64_t, EdgeInfo> edges;
    edges.reserve(in.facets.size() * 2);
    for (const auto &f : in.facets) {
        for (int k = 0; k < 3; ++k) {
            EdgeInfo &e = edges[edgeKey(f[k], f[(k + 1) % 3])];
            if (e.facets < 2)
                e.opposite[e.facets] = f[(k + 2) % 3];
            ++e.facets;
        }
    }

    // Even points: the neighbour sum over interior edges, or over boundary edges when a point
    // lies on the boundary.
    std::vector<Point> interiorSum(n), boundarySum(n);
    std::vector<std::uint32_t> interiorCount(n, 0), boundaryCount(n, 0);
    for (const auto &entry : edges) {
        const std::uint32_t p = std::uint32_t(entry.first >> 32), q = std::uint32_t(entry.first);
        if (entry.second.facets == 2) {
            interiorSum[p] = interiorSum[p] + in.points[q];
            interiorSum[q] = interiorSum[q] + in.points[p];
            ++interiorCount[p];
            ++interiorCount[q];
        } else {
            boundarySum[p] = boundarySum[p] + in.points[q];
            boundarySum[q] = boundarySum[q] + in.points[p];
            ++boundaryCount[p];
            ++boundaryCount[q];
        }
    }
    Mesh out;
    out.points.resize(n);
    for (std::size_t v = 0; v < n; ++v) {
        if (boundaryCount[v] == 2) {
            out.points[v] = 0.75 * in.points[v] + 0.125 * boundarySum[v];
        } else if (boundaryCount[v] == 0 && interiorCount[v] >= 3) {
            const double k = interiorCount[v];
            const double w = 0.375 + 0.25 * std::cos(2.0 * M_PI / k);
            const double beta = (0.625 - w * w) / k;
            out.points[v] = (1.0 - k * beta) * in.points[v] + beta * interiorSum[v];
        } else {
            out.points[v] = in.points[v];
        }
    }

    // Odd points, numbered in the order the facets first reach their edges.
    auto edgePoint = [&](std::uint32_t p, std::uint32_t q) {
        EdgeInfo &e = edges[edgeKey(p, q)];
        if (e.point == 0) {
            e.point = std::uint32_t(out.points.size());
            if (e.facets == 2)
                out.points.push_back(0.375 * (in.points[p] + in.points[q]) +
                                     0.125 * (in.points[e.opposite[0]] + in.points[e.opposite[1]]));
            else
                out.points.push_back(0.5 * (in.points[p] + in.points[q]));
        }
        return e.point;
    };
    out.facets.reserve(4 * in.facets.size());
    for (const auto &f : in.facets) {
        const std::uint32_t ab = edgePoint(f[0], f[1]), bc = edgePoint(f[1], f[2]),
                            ca = edgePoint(f[2], f[0]);
        out.facets.push_back({f[0], ab, ca});
        out.facets.push_back({ab, f[1], bc});
        out.facets.push_back({ca, bc, f[2]});
        out.facets.push_back({ab, bc, ca});
    }
    return out;
}

bench::Surface toSurface(const Mesh &mesh)
{
    bench::Surface surface;
    surface.triangles.reserve(9 * mesh.facets.size());
    for (const auto &f : mesh.facets) {
        for (std::uint32_t v : f) {
            surface.triangles.push_back(float(mesh.points[v].x));
            surface.triangles.push_back(float(mesh.points[v].y));
            surface.triangles.push_back(float(mesh.points[v].z));
        }
    }
    surface.vertexCount = mesh.points.size();
    return surface;
}

int usage()
{
    std::fprintf(stderr, "usage: bench_meshgen torus|shuffled TRIANGLES OUTPUT.stl\n"
                         "       bench_meshgen loop LEVELS INPUT.stl OUTPUT.stl\n"
                         "       bench_meshgen scale FACTOR INPUT.stl OUTPUT.stl\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4)
        return usage();
    const std::string mode = argv[1];
    const long long number = std::atoll(argv[2]);
    bench::Surface surface;
    std::string output;
    if ((mode == "torus" || mode == "shuffled") && argc == 4 && number >= 18) {
        surface = bench::makeTorus(std::size_t(number));
        if (mode == "shuffled")
            bench::shuffleFacets(surface);
        output = argv[3];
    } else if ((mode == "loop" && argc == 5 && number >= 0 && number <= 6) ||
               (mode == "scale" && argc == 5)) {
        Mesh mesh;
        if (!readBinaryStl(argv[3], mesh)) {
            std::fprintf(stderr, "bench_meshgen: cannot read %s as binary STL\n", argv[3]);
            return 1;
        }
        if (mode == "scale") {
            const float factor = std::strtof(argv[2], nullptr);
            for (Point &p : mesh.points)
                p = {float(p.x) * factor, float(p.y) * factor, float(p.z) * factor};
        }
        for (long long level = 0; mode == "loop" && level < number; ++level)
            mesh = subdivide(mesh);
        surface = toSurface(mesh);
        output = argv[4];
    } else {
        return usage();
    }
    if (!bench::writeBinaryStl(output, surface)) {
        std::fprintf(stderr, "bench_meshgen: cannot write %s\n", output.c_str());
        return 1;
    }
    std::printf("%s: %zu triangles\n", output.c_str(), surface.facetCount());
    return 0;
}
