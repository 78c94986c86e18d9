#pragma once

#include "fuzzsupport.h"

#include "geom/formats/stlreader.h"
#include "geom/mesh/stlmesh.h"
#include "meshcheck.h"

#include <QBuffer>

#include <memory>

// The reading of an STL file that both STL targets share: StlReader on a buffer, as the program
// reads a file, with the reader's contract and the mesh's invariants checked.
namespace quarnfuzz {

inline void readStl(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    geom::StlReader reader(&buffer);
    const std::unique_ptr<geom::StlMesh> mesh(reader.read());
    if (!mesh) {
        require(reader.status() != 0, "StlReader returned no mesh without a status");
        return;
    }
    require(reader.status() == 0, "StlReader returned a mesh with a status");
    require(reader.format() == 1 || reader.format() == 2, "StlReader read a mesh of no format");
    require(reader.header().size() == 80, "StlReader header is not 80 bytes");
    checkMesh(*mesh, meshtest::CheckAll, "StlReader");
}

} // namespace quarnfuzz
