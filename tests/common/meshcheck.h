#pragma once

#include "geom/mesh/stlmesh.h"

#include <QString>
#include <QtTest>

namespace meshtest {

enum CheckOption
{
    CheckAll = 0,
    // Equal coordinates at two positions are allowed (setData, append of a mesh, stripped form).
    AllowEqualVertices = 1,
    // The mesh carries statistics but no vertices (transformed with statisticsOnly).
    StatisticsOnly = 2,
    // Only the lists are checked, not the figures (after edits that keep the old figures).
    ListsOnly = 4,
};

// Checks every invariant of a finished mesh and returns an empty string when all hold, else a
// description of the first one broken: vertices sorted by z, x, y (and unique unless allowed), every
// vertex used, facets with three distinct in-range indices, smallest first, sorted by (a, b, c), bit
// 31 clear, index order 2; bounds, radius, area, volume, attribute mask and repeat count consistent
// with the lists.
QString checkMesh(const geom::StlMesh &mesh, int options = CheckAll);

} // namespace meshtest

// Fails the current test with the broken invariant when the mesh is not a finished mesh.
#define QUARN_CHECK_MESH(mesh, ...)                                                                          \
    do {                                                                                                     \
        const QString quarnMeshProblem = meshtest::checkMesh((mesh), ##__VA_ARGS__);                         \
        QVERIFY2(quarnMeshProblem.isEmpty(), qPrintable(quarnMeshProblem));                                  \
    } while (false)
