#include "surfacegen.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

namespace bench {

namespace {

void putFloat(unsigned char *out, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(bits >> (8 * i));
}

} // namespace

Surface makeTorus(std::size_t facetCount)
{
    const double pi = 3.14159265358979323846;
    const double majorRadius = 40.0, minorRadius = 15.0;
    std::size_t quads = facetCount / 2 > 0 ? facetCount / 2 : 1;
    // note: keeps the quads near-square: segments around the tube ~ rings * r / R.
    std::size_t rings = static_cast<std::size_t>(std::sqrt(double(quads) * majorRadius / minorRadius));
    if (rings < 3)
        rings = 3;
    std::size_t segments = quads / rings;
    if (segments < 3)
        segments = 3;

    std::vector<float> grid(rings * segments * 3);
    for (std::size_t i = 0; i < rings; ++i) {
        const double u = 2.0 * pi * double(i) / double(rings);
        for (std::size_t j = 0; j < segments; ++j) {
            const double v = 2.0 * pi * double(j) / double(segments);
            const double w = majorRadius + minorRadius * std::cos(v);
            float *p = &grid[(i * segments + j) * 3];
            p[0] = float(w * std::cos(u));
            p[1] = float(w * std::sin(u));
            p[2] = float(minorRadius * std::sin(v));
        }
    }

    Surface surface;
    surface.vertexCount = rings * segments;
    surface.smoothVolume = 2.0 * pi * pi * majorRadius * minorRadius * minorRadius;
    surface.triangles.reserve(rings * segments * 2 * 9);
    auto corner = [&](std::size_t i, std::size_t j) {
        return &grid[((i % rings) * segments + j % segments) * 3];
    };
    auto emit = [&](const float *a, const float *b, const float *c) {
        surface.triangles.insert(surface.triangles.end(), a, a + 3);
        surface.triangles.insert(surface.triangles.end(), b, b + 3);
        surface.triangles.insert(surface.triangles.end(), c, c + 3);
    };
    for (std::size_t i = 0; i < rings; ++i) {
        for (std::size_t j = 0; j < segments; ++j) {
            const float *p00 = corner(i, j), *p10 = corner(i + 1, j);
            const float *p01 = corner(i, j + 1), *p11 = corner(i + 1, j + 1);
            emit(p00, p10, p11);
            emit(p00, p11, p01);
        }
    }
    return surface;
}

void shuffleFacets(Surface &surface, std::uint64_t seed)
{
    std::mt19937_64 random(seed);
    const std::size_t n = surface.facetCount();
    float *t = surface.triangles.data();
    for (std::size_t i = n; i > 1; --i) {
        const std::size_t k = std::uniform_int_distribution<std::size_t>(0, i - 1)(random);
        if (k != i - 1)
            std::swap_ranges(t + 9 * k, t + 9 * k + 9, t + 9 * (i - 1));
    }
}

bool writeBinaryStl(const std::string &path, const Surface &surface)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file)
        return false;
    unsigned char head[84];
    std::memset(head, ' ', 80);
    std::memcpy(head, "torus", 5);
    const std::uint32_t count = static_cast<std::uint32_t>(surface.facetCount());
    for (int i = 0; i < 4; ++i)
        head[80 + i] = static_cast<unsigned char>(count >> (8 * i));
    if (std::fwrite(head, 1, sizeof head, file.get()) != sizeof head)
        return false;

    const std::size_t perBlock = 65536;
    std::vector<unsigned char> block(perBlock * 50);
    const float *t = surface.triangles.data();
    for (std::size_t first = 0; first < count; first += perBlock) {
        const std::size_t n = std::min<std::size_t>(perBlock, count - first);
        for (std::size_t f = 0; f < n; ++f) {
            const float *c = t + 9 * (first + f);
            const float ux = c[3] - c[0], uy = c[4] - c[1], uz = c[5] - c[2];
            const float vx = c[6] - c[0], vy = c[7] - c[1], vz = c[8] - c[2];
            float nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
            const float len = std::sqrt(nx * nx + ny * ny + nz * nz);
            if (len > 0) {
                nx /= len;
                ny /= len;
                nz /= len;
            }
            unsigned char *r = &block[f * 50];
            putFloat(r, nx);
            putFloat(r + 4, ny);
            putFloat(r + 8, nz);
            for (int k = 0; k < 9; ++k)
                putFloat(r + 12 + 4 * k, c[k]);
            r[48] = r[49] = 0;
        }
        if (std::fwrite(block.data(), 50, n, file.get()) != n)
            return false;
    }
    return std::fflush(file.get()) == 0;
}

bool writeAsciiStl(const std::string &path, const Surface &surface)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "w"), &std::fclose);
    if (!file || std::fputs("solid torus\n", file.get()) < 0)
        return false;
    const float *t = surface.triangles.data();
    for (std::size_t f = 0; f < surface.facetCount(); ++f) {
        const float *c = t + 9 * f;
        std::fprintf(file.get(), "  facet normal 0 0 0\n    outer loop\n");
        for (int k = 0; k < 3; ++k)
            std::fprintf(file.get(), "      vertex %.9g %.9g %.9g\n", double(c[3 * k]), double(c[3 * k + 1]),
                         double(c[3 * k + 2]));
        std::fprintf(file.get(), "    endloop\n  endfacet\n");
    }
    return std::fputs("endsolid torus\n", file.get()) >= 0 && std::fflush(file.get()) == 0;
}

} // namespace bench
