#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// A closed, outward-wound torus tessellated into about `facetCount` triangles (rounded to
// an even count on a grid of rings by segments); every shared vertex is computed once, so
// equal corners are bit-identical. `volume` is the exact volume of the polyhedron's smooth
// counterpart, for a plausibility check only.
struct Surface
{
    std::vector<float> triangles; // 9 floats per facet: three corners, outward winding
    std::size_t facetCount() const { return triangles.size() / 9; }
    double smoothVolume = 0.0;
    std::size_t vertexCount = 0;
};

Surface makeTorus(std::size_t facetCount);

// Shuffles the facet order (not the corner order within a facet) with a fixed seed, so two
// runs produce the same file.
void shuffleFacets(Surface &surface, std::uint64_t seed = 0x5eed);

// Writes `surface` as a binary STL file (normals from the corners, attribute word 0).
// Returns false when the file cannot be written completely.
bool writeBinaryStl(const std::string &path, const Surface &surface);
// The same facets as ASCII STL, as most exporters lay it out (indented, numbers with 9 digits).
bool writeAsciiStl(const std::string &path, const Surface &surface);

} // namespace bench
