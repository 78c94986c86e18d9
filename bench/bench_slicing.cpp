// Simplifies a noisy circle of many points (and one of a tenth as many, to show how the time grows)
// and measures the signed area and bounds of many small contours from cold caches, in float and
// double where both exist.
//
//     bench_slicing [points [contours [runs]]]   (default 1000000 points, 100000 contours, best of 3)

#include "geom/slicing/contour.h"
#include "geom/slicing/contoursimplify.h"
#include "geom/slicing/slice.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

// A circle of radius 100 whose points wander radially by up to +-0.01, like a traced outline.
template <typename P>
QVector<P> noisyCircle(int n)
{
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> noise(-0.01, 0.01);
    QVector<P> points;
    points.reserve(n);
    for (int i = 0; i < n; ++i) {
        const double a = 2.0 * M_PI * i / n;
        const double r = 100.0 + noise(random);
        points.append(P(r * std::cos(a), r * std::sin(a)));
    }
    return points;
}

// The best time of runs simplifications of a fresh copy of points, and the count left.
template <typename P>
double simplifySeconds(const QVector<P> &points, double tolerance, int runs, int *left)
{
    QElapsedTimer timer;
    double best = 0;
    for (int run = 0; run < runs; ++run) {
        QVector<P> copy = points;
        copy.detach();
        timer.start();
        geom::simplifyContour(copy, tolerance);
        const double seconds = timer.nsecsElapsed() * 1e-9;
        best = run == 0 ? seconds : std::min(best, seconds);
        *left = copy.size();
    }
    return best;
}

template <typename P>
void simplifyFigures(const char *name, int n, int runs)
{
    const double tolerance = 0.05;
    int left = 0, leftSmall = 0;
    const double large = simplifySeconds(noisyCircle<P>(n), tolerance, runs, &left);
    const double small = simplifySeconds(noisyCircle<P>(n / 10), tolerance, runs, &leftSmall);
    std::printf("simplify %-6s %9d points -> %6d in %8.3f ms; %8d points -> %6d in %8.3f ms; ratio %.1f "
                "(linear 10, n log n about %.1f)\n",
                name, n, left, large * 1e3, n / 10, leftSmall, small * 1e3, large / small,
                10.0 * std::log(double(n)) / std::log(double(n / 10)));
}

} // namespace

int main(int argc, char **argv)
{
    const int points = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int contours = argc > 2 ? std::atoi(argv[2]) : 100000;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    if (points < 100 || contours < 1 || runs < 1) {
        std::fprintf(stderr, "usage: bench_slicing [points >= 100 [contours >= 1 [runs >= 1]]]\n");
        return 2;
    }

    simplifyFigures<geom::Vector2f>("float", points, runs);
    simplifyFigures<geom::Vector2d>("double", points, runs);

    // Contours of 32 points each, spread over a plate, one slice holding them all.
    geom::Slice slice(0.0f, 0.1f);
    const QVector<geom::Vector2f> ring = noisyCircle<geom::Vector2f>(32);
    for (int i = 0; i < contours; ++i) {
        geom::Contour c(ring);
        c.translate(float(i % 1000) * 250.0f, float(i / 1000) * 250.0f);
        slice.contours().append(c);
    }
    QElapsedTimer timer;
    double best = 0;
    double area = 0;
    geom::Rectangle bounds;
    for (int run = 0; run < runs; ++run) {
        for (geom::Contour &c : slice.contours())
            c.invalidate();
        slice.invalidate();
        timer.start();
        area = slice.area();
        bounds = slice.bounds();
        const double seconds = timer.nsecsElapsed() * 1e-9;
        best = run == 0 ? seconds : std::min(best, seconds);
    }
    std::printf("area and bounds of %d contours of %d points: %.3f ms (%.1f ns a contour); area %.6g, "
                "bounds %g x %g\n",
                contours, ring.size(), best * 1e3, best * 1e9 / contours, area, double(bounds.size().x),
                double(bounds.size().y));
    return 0;
}
