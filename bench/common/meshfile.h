#pragma once

#include <memory>
#include <string>

namespace geom {
class StlMesh;
}

namespace bench {

// The finished mesh of an STL file read with StlReader, or null when it cannot be read.
std::unique_ptr<geom::StlMesh> readStl(const std::string &path);

// True when both meshes have the same vertex list and the same facets (corner triples, rotation
// allowed, and attribute words) in the same order.
bool sameMesh(const geom::StlMesh &a, const geom::StlMesh &b);

} // namespace bench
